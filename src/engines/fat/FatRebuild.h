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
//   and its backup in sector 7 pin a FAT32 volume's start.
// - The FAT's length gives the cluster count: a formatter sizes the FAT for
//   the volume's clusters. The FSInfo free counts are hints the file system
//   does not keep exact; one makes the count exact only where it agrees
//   with the FAT.
//
// The lost-volume search and the FAT engine both rebuild through this; they
// differ only in what they know beforehand (a partition table's start).
// Rebuilds that try many data areas on one disk share one FatSectorIndex, so
// the sectors in front of them are read once.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <set>

#include "engines/fat/FatLayout.h"

namespace corvan {

// Reads `count` sectors at absolute sector `sector` of the disk; false (with
// zeros where nothing was read) when it could not.
using DiskSectorReader = std::function<bool(std::uint64_t sector, std::uint8_t* buffer, std::size_t count)>;

// How far in front of a data area the second FAT copy is looked for: the
// largest FAT a FAT32 volume can need (2^28 clusters, four bytes each, and
// room for alignment).
inline constexpr std::uint64_t kMaxFatSearchSectors = (1u << 28) / 128u + 8192u;

// The sectors the backward searches for FAT copies have read, shared by the
// rebuilds over one disk: each sector is read once, in blocks, and those
// that begin like a FAT copy or are FSInfo sectors are remembered, however
// many data areas are tried above them. Its reads end once `stop` says so
// or `budget` sectors were read; the rebuilds then find nothing more.
class FatSectorIndex {
 public:
  static constexpr std::uint64_t kNoBudget = std::numeric_limits<std::uint64_t>::max();
  // What a sector is, for the rebuild's tests.
  static constexpr std::uint8_t kFatStart = 1;     // IsFatFirstSector
  static constexpr std::uint8_t kFat32Start = 2;   // IsFat32FirstSector
  static constexpr std::uint8_t kFat16Entry1 = 4;  // a FAT16 copy's entry 1 (its high byte FF, 7F, BF or 3F)
  static constexpr std::uint8_t kFsInfo = 8;       // IsFsInfoSector
  // Sectors of this kind remembered at most; past them nothing more is read.
  static constexpr std::size_t kMaxMarks = std::size_t{1} << 20;

  explicit FatSectorIndex(DiskSectorReader read, std::uint64_t budget = kNoBudget, std::function<bool()> stop = {});

  // Reads for the rebuild, counted: zeros and false once the reads ended.
  bool Read(std::uint64_t sector, std::uint8_t* buffer, std::size_t count);
  // The highest sector in [lowest, below) that begins like a FAT copy
  // (`kinds` with kFatStart) or is an FSInfo sector (with kFsInfo).
  std::optional<std::uint64_t> FindBelow(std::uint64_t below, std::uint64_t lowest, std::uint8_t kinds);
  // What the sector is (0 for any other, and once the reads ended).
  std::uint8_t KindOf(std::uint64_t sector);

  // Stop was asked, the budget is spent or too many sectors are remembered:
  // what was not read yet stays unread.
  bool Ended() const { return ended_; }
  bool Stopped() const { return stopped_; }
  std::uint64_t SectorsRead() const { return sectorsRead_; }

 private:
  bool MayRead(std::uint64_t count);
  // Reads [first, end) (at most a block), remembers its marked sectors and
  // joins it to the sectors read.
  bool Cover(std::uint64_t first, std::uint64_t end);

  DiskSectorReader read_;
  std::uint64_t budget_;
  std::function<bool()> stop_;
  std::map<std::uint64_t, std::uint64_t> covered_;  // first -> end of each run of sectors read
  // Within the runs read: the sectors that begin like a FAT copy (with what
  // else they are) and the FSInfo sectors.
  std::map<std::uint64_t, std::uint8_t> fats_;
  std::set<std::uint64_t> fsInfos_;
  std::uint64_t sectorsRead_ = 0;
  bool ended_ = false;
  bool stopped_ = false;
};

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
  // Some sector in front of the data area, where a copy of its FAT may lie,
  // begins like a FAT copy, even when no layout could be made of it.
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
// in front of it hold no pair of FAT copies, nor one copy that fits, and
// when the index's reads ended before it could tell (see Ended()).
RebuiltFatLayout RebuildFatLayout(FatSectorIndex& index, std::uint64_t dataStart, std::uint8_t spc,
                                  const FatRebuildBounds& bounds);
// The same over an index of its own.
RebuiltFatLayout RebuildFatLayout(const DiskSectorReader& read, std::uint64_t dataStart, std::uint8_t spc,
                                  const FatRebuildBounds& bounds);

}  // namespace corvan
