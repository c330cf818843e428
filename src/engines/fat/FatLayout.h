#pragma once
// The geometry of a FAT12/16/32 volume as a boot sector (or a found-volume
// record) claims it, and the checks it must pass before anything is read or
// sized from it.

#include <cstdint>

namespace corvan {

struct FatLayout {
  std::uint8_t kind = 0;               // kFat12, kFat16 or kFat32
  std::uint8_t sectorsPerCluster = 0;
  std::uint32_t reservedSectors = 0;
  std::uint32_t rootDirSectors = 0;    // 0 on FAT32
  std::uint32_t fatSize = 0;           // sectors of one FAT
  std::uint32_t rootCluster = 0;       // FAT32 only
  std::uint64_t sectorCount = 0;       // sectors of the volume

  // Sectors before the first data cluster: reserved, two FATs, root folder.
  std::uint64_t DataStart() const {
    return static_cast<std::uint64_t>(reservedSectors) + 2ull * fatSize + rootDirSectors;
  }
  // Clusters that fit in the data area (0 when the layout leaves none).
  std::uint64_t DataClusters() const {
    const std::uint64_t start = DataStart();
    if (sectorsPerCluster == 0 || sectorCount <= start) return 0;
    return (sectorCount - start) / sectorsPerCluster;
  }
};

// Entries one sector of the FAT holds, as the engine counts them.
std::uint32_t FatEntriesPerSector(std::uint8_t kind);

// Clusters a FAT of `fatSize` sectors can address (its first two entries
// are no cluster's), within what its kind allows.
std::uint64_t FatClusterCapacity(std::uint8_t kind, std::uint64_t fatSize);

// The sectors a volume of this layout spans when its FAT's entries are all
// clusters: its size where nothing else tells it. The layout's own sector
// count is not read.
std::uint64_t FatReachSectors(const FatLayout& layout);

// The boot-sector plausibility rules of the scan entry: a cluster size that
// is not a power of two up to 128, a FAT32 FAT of 266 sectors or fewer, a
// FAT32 root cluster below 2, a FAT16 FAT of 266 sectors or more, or a FAT
// of a tenth of the volume or more.
bool IsBootGeometrySuspect(const FatLayout& layout);

// Whether buffers may be sized and sectors computed from the layout: a
// known kind, a power-of-two cluster size up to 128, a FAT neither empty nor
// larger than its kind can address, and reserved sectors, both FATs and the
// root folder inside the volume with room for at least one cluster.
bool IsFatLayoutSound(const FatLayout& layout);

}  // namespace corvan
