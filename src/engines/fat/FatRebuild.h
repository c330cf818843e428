#pragma once
// A FAT volume's layout rebuilt from what the volume still holds once both
// boot sectors are gone, given where its data area starts and its cluster
// size (which the folders' "." entries give):
//
// - The FAT copies. Each begins with the media byte and two end-of-chain
//   marks, and FAT32's first entries differ from FAT12/16's. The distance
//   between the two copies is the FAT size; what lies between the second
//   copy and the data area is the FAT12/16 root folder.
// - The FSInfo sector in the volume's sector 1 ("RRaA" at 0, "rrAa" at 484)
//   and its backup in sector 7 pin a FAT32 volume's start; its free count
//   with the FAT's allocated entries gives the cluster count, so the size.
// - The FAT's length bounds the cluster count where nothing else tells it.
//
// The lost-volume search and the FAT engine both rebuild through this; they
// differ only in what they know beforehand (a partition table's start).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "engines/fat/FatLayout.h"

namespace corvan {

// Reads `count` sectors at absolute sector `sector` of the disk; false (with
// zeros where nothing was read) when it could not.
using DiskSectorReader = std::function<bool(std::uint64_t sector, std::uint8_t* buffer, std::size_t count)>;

// How far in front of a data area the second FAT copy is looked for: the
// largest FAT a FAT32 volume can need (2^28 clusters, four bytes each, and
// room for alignment).
inline constexpr std::uint64_t kMaxFatSearchSectors = (1u << 28) / 128u + 8192u;

// What is known of the volume before its layout is rebuilt.
struct FatRebuildBounds {
  std::uint64_t floor = 0;                   // nothing of the volume lies before this sector
  std::uint64_t ceiling = 0;                 // nor from this one on (0: no bound)
  std::optional<std::uint64_t> start;        // its first sector, when a partition table gives it
  std::optional<std::uint64_t> sectorCount;  // its size, when a partition table gives it
  std::uint64_t fatSearch = kMaxFatSearchSectors;
};

// What told the rebuild where the volume starts and how long it is.
enum class FatStartEvidence : std::uint8_t { Given, FsInfo, BackupFsInfo, UsualReserved };
enum class FatSizeEvidence : std::uint8_t { Given, FsInfoCount, FatLength };

struct RebuiltFatLayout {
  bool rebuilt = false;
  // Some sector in front of the data area begins like a FAT copy, even when
  // no layout could be made of it.
  bool fatSeen = false;
  std::uint64_t start = 0;  // absolute
  FatLayout layout;         // sectorCount: the volume's, from start
  bool bothCopies = false;  // false: one copy was found and the other's place inferred
  FatStartEvidence startFrom = FatStartEvidence::UsualReserved;
  FatSizeEvidence sizeFrom = FatSizeEvidence::FatLength;

  std::uint64_t FirstFat() const { return start + layout.reservedSectors; }
  std::uint64_t DataStart() const { return start + layout.DataStart(); }
};

// Whether the sector begins like a FAT copy: the media byte (F8, or F0 on
// diskettes) in entry 0, then FF FF.
bool IsFatFirstSector(const std::uint8_t* sector);
// Whether a FAT copy's first sector holds FAT32 entries: entry 0 is
// 0x0FFFFFxx and entry 1 an end-of-chain mark.
bool IsFat32FirstSector(const std::uint8_t* sector);
// Whether the sector is an FSInfo sector by its three signatures.
bool IsFsInfoSector(const std::uint8_t* sector);

// The layout of the volume whose data area begins at absolute sector
// `dataStart` with `spc` sectors a cluster; `rebuilt` false when the sectors
// in front of it hold no pair of FAT copies, nor one copy that fits.
RebuiltFatLayout RebuildFatLayout(const DiskSectorReader& read, std::uint64_t dataStart, std::uint8_t spc,
                                  const FatRebuildBounds& bounds);

}  // namespace corvan
