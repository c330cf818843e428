#pragma once
// Classification of a FAT boot sector into the geometry the FAT engines and
// the source list read from it.

#include <cstdint>

namespace corvan {

inline constexpr std::uint8_t kFat12 = 0;
inline constexpr std::uint8_t kFat16 = 1;
inline constexpr std::uint8_t kFat32 = 2;

// The FAT engines read these fields by position: keep their order.
struct FatBootInfo {
  std::uint8_t kind = 0;               // kFat12, kFat16 or kFat32
  std::uint8_t sectorsPerCluster = 0;  // boot-sector byte 13
  std::uint32_t reservedSectors = 0;   // word at 14
  std::uint16_t rootDirSectors = 0;    // sectors of the FAT12/16 root folder; 0 for FAT32
  std::uint32_t fatSize = 0;           // sectors of one FAT
  std::uint32_t rootCluster = 0;       // FAT32 only
  std::uint8_t media = 0;              // boot-sector byte 21
  std::uint32_t endOfChain = 0;        // 0xFF8, 0xFFF8 or 0x0FFFFFF8
};

// Fills `info` from the 512 bytes of a volume's first sector. False when the
// sector cannot be a usable FAT boot sector; after an early rejection (a bad
// sectors-per-cluster byte) only `kind` and `sectorsPerCluster` are written.
bool ParseFatBootSector(FatBootInfo& info, const std::uint8_t* bootSector);

}  // namespace corvan
