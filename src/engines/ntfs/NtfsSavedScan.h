#pragma once
// What a saved scan keeps of the NTFS engine and gives back to a fresh one
// (NtfsEngine::SavedScan, NtfsEngine::RestoreSavedScan), with the records
// it is made of.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/FoundItemSink.h"
#include "core/RunWalker.h"
#include "sources/SectorSource.h"

namespace corvan {

// Where the volume lies and what the partition scan already knew of it.
struct NtfsVolumeBinding {
  std::uint64_t firstSector = 0;  // absolute sector of the boot sector
  std::uint64_t sectorCount = 0;
  std::uint64_t endSector = 0;    // first sector + sector count, as the partition record gives it
  std::uint8_t partitionType = 0;
  std::uint8_t diskNumber = 0;
  std::uint16_t sectorsPerCluster = 0;  // 0 when not known
  std::uint64_t mftSector = 0;          // volume-relative; 0 when not known
  std::uint64_t mftMirrorSector = 0;
  // What the partition scan named the file system; Raw Recovery carves only
  // volumes it named "NTFS".
  std::u16string fileSystemText = u"NTFS";
  std::shared_ptr<SectorSource> disk;   // what every read of the volume goes through
};

// A deleted file whose record lost its runs, kept for the journal pass, and
// the runs the journal gave back.
struct KeptRunNode {
  std::uint32_t recordNumber = 0;
  std::uint64_t recordLcn = 0;
  std::uint64_t recordVcn = 0;
  std::uint16_t blockInCluster = 0;
  std::uint16_t dataAttributeOffset = 0;
  std::uint16_t pairsOffset = 0;
  bool compressed = false;
  std::vector<DataExtent> runs;
  std::uint64_t allocatedSize = 0;
  std::uint64_t size = 0;  // what the item was given
  bool runsValid = false;
  FoundItemHandle item = kNoFoundItem;
};

// A FILE record that Advance Recovery's searches found on the disk.
struct AdvanceRecordEntry {
  std::uint64_t sector = 0;      // of the record's first half, relative to the volume start
  std::uint64_t secondHalf = 0;  // of its second half when that is not sector + 1 (split over two $MFT runs)
  std::uint32_t itemId = 0;      // the running id it was found with
  std::uint32_t parentRecord = 0;  // 0 when it has no $FILE_NAME
  std::uint32_t recordNumber = 0;
  bool numberKnown = false;  // records with their update sequence at 0x2A found outside the $MFT have none
  bool isFile = false;
  bool done = false;  // posted, or never to be posted
  std::uint32_t baseRecord = 0;  // an extension record: the base record it belongs to
  bool hasAttributeList = false;
  bool insideMft = false;  // found by the search of the $MFT's own runs
};

// What a saved scan gives back to a fresh engine: where the volume lies and
// its geometry, the $MFT's runs, Advance Recovery's found records and the
// runs the journal gave back; enough to read every item the scan found.
struct NtfsSavedScan {
  NtfsVolumeBinding binding;  // the place and the disk, with the settled geometry
  bool mftRunsKept = false;   // `mftRuns` are those the scan read by
  std::vector<DataExtent> mftRuns;
  bool mftRunsUsed = false;   // the scan had $MFT runs, kept or not
  // Found records: sector, ids, parent, number, kind and done. The second
  // half and whether the number is known are found again on the volume.
  std::vector<AdvanceRecordEntry> foundRecords;
  std::vector<KeptRunNode> keptRuns;  // item handles are not kept
  bool freeClusters = false;  // raw hits are read through the free clusters
};

}  // namespace corvan
