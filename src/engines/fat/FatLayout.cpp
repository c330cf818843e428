#include "engines/fat/FatLayout.h"

#include <algorithm>

#include "sources/FatBootSector.h"

namespace corvan {

namespace {

// FAT sizes at or beyond which a FAT16 boot sector is suspect, and at or
// below which a FAT32 one is.
constexpr std::uint32_t kSuspectFatSize = 266;

// Largest FAT each kind can need. FAT12 and FAT16 get the suspect bound, so
// a formatter's rounding never turns a good volume away; FAT32 addresses at
// most 2^28 clusters, four bytes each, plus room for alignment.
constexpr std::uint32_t kMaxSmallFatSize = kSuspectFatSize - 1;
constexpr std::uint32_t kMaxFat32Size = (1u << 28) / 128u + 8192u;

bool IsClusterSizeValid(std::uint8_t spc) { return spc != 0 && spc <= 128 && (spc & (spc - 1)) == 0; }

}  // namespace

std::uint32_t FatEntriesPerSector(std::uint8_t kind) {
  switch (kind) {
    case kFat12: return 341;
    case kFat16: return 256;
    default: return 128;
  }
}

std::uint64_t FatClusterCapacity(std::uint8_t kind, std::uint64_t fatSize) {
  std::uint64_t entries = 0;
  switch (kind) {
    // 1.5 bytes an entry.
    case kFat12: entries = std::min<std::uint64_t>(fatSize * 512 * 2 / 3, 4086); break;
    case kFat16: entries = std::min<std::uint64_t>(fatSize * 256, 65526); break;
    default: entries = std::min<std::uint64_t>(fatSize * 128, 0x0FFFFFF7u); break;
  }
  return entries > 2 ? entries - 2 : 0;
}

std::uint64_t FatReachSectors(const FatLayout& l) {
  return l.DataStart() + FatClusterCapacity(l.kind, l.fatSize) * l.sectorsPerCluster;
}

bool IsBootGeometrySuspect(const FatLayout& l) {
  if (!IsClusterSizeValid(l.sectorsPerCluster)) return true;
  if (l.kind == kFat32 && (l.fatSize <= kSuspectFatSize || l.rootCluster < 2)) return true;
  if (l.kind == kFat16 && l.fatSize >= kSuspectFatSize) return true;
  return l.fatSize >= l.sectorCount / 10;
}

bool IsFatLayoutSound(const FatLayout& l) {
  if (l.kind > kFat32 || !IsClusterSizeValid(l.sectorsPerCluster)) return false;
  if (l.fatSize == 0) return false;
  if (l.fatSize > (l.kind == kFat32 ? kMaxFat32Size : kMaxSmallFatSize)) return false;
  if (l.kind == kFat32 && l.rootDirSectors != 0) return false;
  // Every value is at most 32 bits wide, so the 64-bit sum cannot wrap.
  return l.DataClusters() >= 1;
}

}  // namespace corvan
