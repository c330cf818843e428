// What a saved scan keeps of the exFAT engine (ExFatSavedScan): its layout,
// place and counters in the header, its FAT copy and cluster map as the
// engine tables; and back.

#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/exfat/ExFatSavedScan.h"
#include "scan/ScanInfoEngines.h"

namespace corvan {

void CaptureScanInfo(const ScanEngine& engine, const ExFatSavedScan& saved, ScanImageFileHeader& header,
                     ScanEngineTables& tables) {
  // Byte 16 stays clear: it would make the file a FAT scan.
  SetCommonScanFields(header, engine, saved.volumeStart, saved.volumeEnd, saved.volumeLength);
  header.driveByte = saved.driveByte;
  header.engineByte = saved.matchedDrive;
  header.fatSize = saved.fatLength;
  header.rootCluster = saved.rootCluster;
  header.fatKind = saved.fileSystemKind;
  header.fatSource = saved.fatSource;
  header.reservedSectors = saved.fatOffset;
  header.clusterSectors = saved.clusterSectors;
  header.sectorFlag = saved.relative ? 1 : 0;
  header.clusterCount = saved.clusterCount;

  tables = ScanEngineTables{};
  if (saved.fatSource != kExFatSourceContiguous) tables.fat = saved.fat;
  tables.clusterMap = saved.clusterMap;
  header.clusterMapSize = saved.mapEntries;
}

ScanRestoreResult SavedScanOf(const VolumeScanInfo& scan, ExFatSavedScan& saved) {
  const ScanImageFileHeader& h = scan.header;
  saved.driveByte = h.driveByte;
  saved.matchedDrive = 0;
  if (const SavedDriveLookup drive = LookUpSavedDrive(h); drive.named) {
    if (!drive.drive) return {false, LoadString(kIdsSourceDriveNotFound)};
    saved.matchedDrive = *drive.drive;
  }
  saved.fileSystemKind = h.fatKind;
  saved.volumeStart = h.firstSector;
  saved.volumeEnd = h.endSector;
  saved.volumeLength = h.sectorCount;
  saved.fatOffset = h.reservedSectors;
  saved.fatLength = h.fatSize;
  saved.clusterCount = h.clusterCount;
  saved.rootCluster = h.rootCluster;
  saved.clusterSectors = h.clusterSectors;
  saved.fatSource = h.fatSource;
  saved.relative = h.sectorFlag != 0;
  if (h.fatSource != kExFatSourceContiguous) saved.fat = scan.tables.fat;
  saved.mapEntries = h.clusterMapSize;
  saved.clusterMap = scan.tables.clusterMap;
  return {true, {}};
}

}  // namespace corvan
