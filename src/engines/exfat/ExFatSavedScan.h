#pragma once
// What a saved scan keeps of the exFAT engine and gives back to a fresh one:
// its layout and place, and its two work files (the FAT copy and the
// cluster map) as bytes.

#include <cstdint>
#include <vector>

namespace corvan {

// Where the engine takes a file's clusters from.
inline constexpr std::uint8_t kExFatSourceFat1 = 0;
inline constexpr std::uint8_t kExFatSourceFat2 = 1;
inline constexpr std::uint8_t kExFatSourceContiguous = 2;  // no usable FAT: every file is one run

// The saved cluster size is a u16 of sectors, which cannot hold 65536 (32
// MiB clusters). It keeps this instead: not zero, so the header check still
// takes the file, and odd, so no cluster size a scan can use is ever stored
// as it. The restore takes the real size from the boot sector.
inline constexpr std::uint16_t kExFatClusterTooLargeForField = 0xFFFF;
inline std::uint16_t StoredExFatClusterSectors(std::uint32_t sectorsPerCluster) {
  return sectorsPerCluster > 0xFFFF ? kExFatClusterTooLargeForField : static_cast<std::uint16_t>(sectorsPerCluster);
}

struct ExFatSavedScan {
  std::uint8_t driveByte = 0;
  std::uint8_t matchedDrive = 0;     // the host drive the saved one was found as
  std::uint8_t fileSystemKind = 0;
  std::uint64_t volumeStart = 0;     // absolute sectors of the disk
  std::uint64_t volumeEnd = 0;
  std::uint64_t volumeLength = 0;
  std::uint32_t fatOffset = 0;
  std::uint32_t fatLength = 0;
  std::uint32_t clusterCount = 0;
  std::uint32_t rootCluster = 0;
  std::uint16_t clusterSectors = 0;  // StoredExFatClusterSectors of the cluster size
  std::uint8_t fatSource = kExFatSourceFat1;
  bool relative = false;
  // The FAT the engine follows chains through (whole sectors); empty for a
  // contiguous source.
  std::vector<std::uint8_t> fat;
  // The cluster map in whole sectors, of `mapEntries` entries; empty, with
  // `mapEntries` 0, when the work file no longer held every entry.
  std::uint32_t mapEntries = 0;
  std::vector<std::uint8_t> clusterMap;
};

}  // namespace corvan
