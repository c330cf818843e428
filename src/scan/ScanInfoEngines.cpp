#include "scan/ScanInfoEngines.h"

#include "core/StringIds.h"
#include "core/StringTable.h"
#include "sources/DriveIdentity.h"

namespace corvan {

void SetCommonScanFields(ScanImageFileHeader& header, const ScanEngine& engine, std::uint64_t firstSector,
                         std::uint64_t endSector, std::uint64_t sectorCount) {
  header.driveByte = 0;
  header.engineByte = 0;
  header.fatSize = 0;
  header.rootCluster = 0;
  header.clusterMapSize = 0;
  header.sectorsPerCluster = 0;
  header.fatKind = 0;
  header.fatSource = 0;
  header.reservedSectors = 0;
  header.rootDirSectors = 0;
  header.mftSector = 0;
  header.mftMirrorSector = 0;
  header.mftRunCount = 0;
  header.mftRunBytes = 0;
  header.advanceCount = 0;
  header.advanceFirstRecord = 0;
  header.clusterSectors = 0;
  header.hasMftRuns = 0;
  header.sectorFlag = 0;
  header.clusterCount = 0;
  header.runListNodes = 0;
  header.engineMark = 1;
  header.placeMode = kScanPlaceFromHeader;
  header.firstSector = firstSector;
  header.endSector = endSector;
  header.sectorCount = sectorCount;
  header.totalBytes = engine.FoundBytes();
  header.postedItems = engine.FoundItemCount();
}

SavedDriveLookup LookUpSavedDrive(const ScanImageFileHeader& header) {
  SavedDriveLookup lookup;
  lookup.named = SavedHeaderNamesDrive(header.placeMode, header.placeFromHeader);
  if (!lookup.named) return lookup;
  const SavedSourceDisk saved{header.diskIdentity, header.diskIdentity2, header.diskIdentity3, header.diskSizeLow};
  if (const std::shared_ptr<const DriveIdentityReader> reader = CurrentDriveIdentityReader())
    lookup.drive = FindSourceDrive(saved, true, ListSourceDriveCandidates(), *reader);
  return lookup;
}

ScanRestoreResult CheckSavedDrive(const ScanImageFileHeader& header) {
  if (const SavedDriveLookup drive = LookUpSavedDrive(header); drive.named && !drive.drive)
    return {false, LoadString(kIdsSourceDriveNotFound)};
  return {true, {}};
}

}  // namespace corvan
