#pragma once
// A volume as an engine reads it: the disk it lies on (a mounted image, or
// the image file itself for sources read through their path), where it
// starts and how long it is, and what the partition scan or a lost-volume
// search recorded of it. Every read of a volume goes through its disk, so
// two volumes, of one image or of two, can be scanned at the same time.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "sources/SectorSource.h"
#include "sources/SourceRecords.h"

namespace corvan {

struct Volume {
  std::shared_ptr<SectorSource> disk;
  std::uint8_t sourceKind = 0;
  std::u16string path;                       // the source record's path
  std::optional<PartitionRecord> partition;  // none for whole disks
  bool readThroughPath = false;              // `disk` is the file at `path`

  // Sources that stand for a whole drive or disk carry no volume.
  bool IsWholeDisk() const;
  // Absolute sector of the volume's first sector on `disk`.
  std::uint64_t FirstSector() const;
  std::uint64_t SectorCount() const { return partition ? partition->sectorCount : 0; }

  // Reads `bytes` (a multiple of 512) at absolute sector `sector` of the
  // disk. False when there is no disk, the count is 0 or the read failed or
  // came short; the buffer then holds zeros where nothing was read.
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) const;
};

// The volume of a source record: read through `mountedDisk`, or through the
// file the record names when `readThroughPath` is set.
Volume MakeVolume(const SourceRecord& source, std::shared_ptr<SectorSource> mountedDisk, bool readThroughPath);

}  // namespace corvan
