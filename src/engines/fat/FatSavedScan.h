#pragma once
// What a saved scan keeps of the FAT12/16/32 engine and gives back to a
// fresh one: where the volume lies, its layout, where files are linked
// from, the FAT as the engine loaded it and its cluster map.

#include <cstdint>
#include <vector>

#include "engines/fat/FatLayout.h"

namespace corvan {

// Where the engine takes a file's clusters from.
inline constexpr std::uint8_t kFatSourceFat1 = 0;
inline constexpr std::uint8_t kFatSourceFat2 = 1;
inline constexpr std::uint8_t kFatSourceContiguous = 2;  // no FAT: files are contiguous runs

struct FatSavedScan {
  std::uint64_t volumeStart = 0;  // absolute sectors of the disk
  std::uint64_t volumeEnd = 0;
  std::uint8_t mediaByte = 0;     // the partition record's drive byte
  FatLayout layout;               // its sector count is the volume's
  // Items placed by absolute sector of the disk (a sector-wise search):
  // nothing of the layout is read for them.
  bool sectorItems = false;
  std::uint8_t fatSource = 0;  // kFatSource*
  std::vector<std::uint8_t> fat;
  std::vector<std::uint8_t> clusterMap;
};

}  // namespace corvan
