#include "sources/FatBootSector.h"

#include "platform/ByteCodec.h"

namespace corvan {

namespace {

// FAT's own limit: up to this many clusters a volume is FAT12
// whatever it calls itself.
constexpr std::uint64_t kMaxFat12Clusters = 4084;
// FAT sizes at or beyond which a kind cannot be real (a FAT16 of 65524
// clusters needs 256 sectors; a FAT32 of 65525 clusters needs 512).
constexpr std::uint32_t kFatSizeBound = 266;

bool IsClusterSizeValid(std::uint8_t spc) {
  return spc != 0 && spc <= 128 && (spc & (spc - 1)) == 0;
}

// FAT12 or FAT16 for a volume with a 16-bit FAT size, by its cluster count.
std::uint8_t SmallFatKind(const std::uint8_t* b, std::uint32_t reserved, std::uint16_t rootSectors,
                          std::uint32_t fatSize, std::uint8_t spc) {
  const std::uint16_t total16 = GetLE16(b + 19);
  const std::uint64_t total = total16 != 0 ? total16 : GetLE32(b + 32);
  const std::uint8_t fats = b[16];
  const std::uint64_t overhead =
      static_cast<std::uint64_t>(reserved) + static_cast<std::uint64_t>(fats) * fatSize + rootSectors;
  if (fats == 0 || total <= overhead || fatSize >= total / 10) {
    // A damaged BPB gives no cluster count (nor does a total the FAT would
    // take a tenth of, as no formatter makes one): judge by the FAT's size
    // alone, as a 12-bit FAT of a few sectors is the only thing that tells.
    return fatSize <= 12 ? kFat12 : kFat16;
  }
  const std::uint64_t clusters = (total - overhead) / spc;
  return clusters <= kMaxFat12Clusters ? kFat12 : kFat16;
}

}  // namespace

bool ParseFatBootSector(FatBootInfo& info, const std::uint8_t* b) {
  info.kind = kFat16;
  info.sectorsPerCluster = b[13];
  if (!IsClusterSizeValid(info.sectorsPerCluster)) return false;

  const std::uint16_t fatSize16 = GetLE16(b + 22);
  info.fatSize = fatSize16;
  info.reservedSectors = GetLE16(b + 14);
  info.media = b[21];
  // 32-byte entries in 512-byte sectors, the last one partly used.
  info.rootDirSectors = static_cast<std::uint16_t>((GetLE16(b + 17) * 32u + 511u) / 512u);
  info.rootCluster = 0;
  info.endOfChain = 0xFFF8;

  if (fatSize16 == 0) {
    info.kind = kFat32;
  } else {
    info.kind = SmallFatKind(b, info.reservedSectors, info.rootDirSectors, info.fatSize,
                             info.sectorsPerCluster);
  }

  if (info.kind == kFat12) {
    info.endOfChain = 0xFF8;
  } else if (info.kind == kFat32) {
    info.rootDirSectors = 0;
    info.fatSize = GetLE32(b + 36);
    info.rootCluster = GetLE32(b + 44);
    info.endOfChain = 0x0FFFFFF8;
  }

  if (info.kind == kFat32 && (info.fatSize <= kFatSizeBound || info.rootCluster < 2)) return false;
  if (info.kind == kFat16 && info.fatSize >= kFatSizeBound) return false;
  return true;
}

}  // namespace corvan
