#include "engines/fat/FatRebuild.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "engines/fat/FatVote.h"
#include "platform/ByteCodec.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"

namespace corvan {

namespace {

constexpr std::uint64_t kBlockSectors = 2048;  // 1 MiB a read
// A FAT12/16 FAT is at most this long (the engine's bound for those kinds),
// and its root folder at most 65535 entries of 32 bytes.
constexpr std::uint64_t kMaxSmallFat = 265;
constexpr std::uint64_t kMaxRootSectors = 4096;
// A FAT16 FAT of fewer sectors cannot address the 4085 clusters below which
// a volume is FAT12.
constexpr std::uint64_t kMinFat16Size = 16;
// What formatters put in front of the FATs and in the root folder when
// nothing on the volume tells: FAT32's 32 reserved sectors, FAT12/16's one
// (the boot sector) and 512 root entries.
constexpr std::uint64_t kUsualFat32Reserved = 32;
constexpr std::uint64_t kUsualSmallReserved = 1;
constexpr std::uint64_t kUsualRootSectors = 32;
// The reserved-sector count is a 16-bit word.
constexpr std::uint64_t kMaxReserved = 65535;
// The backup FSInfo lies six sectors after the FSInfo (sectors 1 and 7).
constexpr std::uint64_t kBackupFsInfoDistance = 6;
// Sectors that begin like a FAT but fit no layout are passed over, this many.
constexpr int kMaxFatCandidates = 16;
constexpr std::uint32_t kFsInfoUnknown = 0xFFFFFFFFu;

using Sector = std::array<std::uint8_t, kSectorSize>;

// Reads sectors going down the disk a block at a time.
class BackwardReader {
 public:
  explicit BackwardReader(const DiskSectorReader& read) : read_(read), block_(kBlockSectors * kSectorSize) {}

  const std::uint8_t* At(std::uint64_t sector) {
    if (!valid_ || sector < first_ || sector >= first_ + count_) {
      first_ = sector >= kBlockSectors - 1 ? sector - (kBlockSectors - 1) : 0;
      count_ = sector - first_ + 1;
      read_(first_, block_.data(), static_cast<std::size_t>(count_));
      valid_ = true;
    }
    return block_.data() + (sector - first_) * kSectorSize;
  }

  // The highest sector in [lowest, below) that `test` accepts.
  template <typename Test>
  std::optional<std::uint64_t> FindBelow(std::uint64_t below, std::uint64_t lowest, const Test& test) {
    for (std::uint64_t s = below; s > lowest;) {
      --s;
      if (test(At(s))) return s;
    }
    return std::nullopt;
  }

 private:
  const DiskSectorReader& read_;
  std::vector<std::uint8_t> block_;
  std::uint64_t first_ = 0, count_ = 0;
  bool valid_ = false;
};

Sector ReadSector(const DiskSectorReader& read, std::uint64_t sector) {
  Sector s{};
  if (!read(sector, s.data(), 1)) s.fill(0);
  return s;
}

// Where the FATs lie: the first copy at `firstFat`, `fatSize` long, the
// root folder's sectors after the second.
struct FatCopies {
  std::uint8_t kind = kFat32;
  std::uint64_t firstFat = 0;
  std::uint64_t fatSize = 0;
  std::uint64_t rootSectors = 0;
  std::uint64_t readable = 0;  // a copy that was found
  bool both = false;
};

// FAT12 and FAT16 tell apart by their length (a FAT16 needs 16 sectors at
// least) and by entry 1: FAT16's high byte is FF, or 7F or BF or 3F with the
// volume's dirty and error bits clear.
std::uint8_t SmallFatKind(std::uint64_t fatSize, const std::uint8_t* first) {
  if (fatSize < kMinFat16Size) return kFat12;
  return (first[3] | 0xC0) == 0xFF ? kFat16 : kFat12;
}

// The FAT copies in front of data area `d`: the second is looked for down
// to `lowest`, and neither may lie below `floor`.
std::optional<FatCopies> FindFatCopies(BackwardReader& back, std::uint64_t d, std::uint64_t lowest,
                                       std::uint64_t floor, const FatRebuildBounds& bounds, bool& seen) {
  std::optional<FatCopies> single;
  std::uint64_t below = d;
  for (int n = 0; n < kMaxFatCandidates; ++n) {
    const auto b = back.FindBelow(below, lowest, IsFatFirstSector);
    if (!b) break;
    seen = true;
    below = *b;
    Sector second;
    std::memcpy(second.data(), back.At(*b), kSectorSize);
    if (IsFat32FirstSector(second.data())) {
      // The second copy ends where the data area begins.
      const std::uint64_t f = d - *b;
      if (*b >= floor + f && IsFat32FirstSector(back.At(*b - f))) {
        return FatCopies{kFat32, *b - f, f, 0, *b - f, true};
      }
      if (single) continue;
      // One copy: the second, its first gone; or the first, the second gone,
      // when a given start leaves no room for a first copy in front of it.
      if (*b >= floor + f) {
        single = FatCopies{kFat32, *b - f, f, 0, *b, false};
      } else if (bounds.start && (d - *b) % 2 == 0) {
        single = FatCopies{kFat32, *b, (d - *b) / 2, 0, *b, false};
      }
      continue;
    }
    // FAT12/16: the first copy within a FAT's length below the second; the
    // root folder fills what is left up to the data area.
    const std::uint64_t reach = std::max(floor, *b > kMaxSmallFat ? *b - kMaxSmallFat : 0);
    const auto a = back.FindBelow(*b, reach, IsFatFirstSector);
    if (a && !IsFat32FirstSector(back.At(*a))) {
      const std::uint64_t f = *b - *a;
      const std::uint64_t gap = d - *b;
      if (gap > f && gap - f <= kMaxRootSectors) {
        return FatCopies{SmallFatKind(f, second.data()), *a, f, gap - f, *a, true};
      }
    }
    // One copy, the second: with the usual root folder behind it.
    const std::uint64_t gap = d - *b;
    if (!single && gap > kUsualRootSectors && gap - kUsualRootSectors <= kMaxSmallFat) {
      const std::uint64_t f = gap - kUsualRootSectors;
      if (*b >= floor + f) single = FatCopies{SmallFatKind(f, second.data()), *b - f, f, kUsualRootSectors, *b, false};
    }
  }
  return single;
}

// The volume's first sector from the FSInfo sector in front of the FATs,
// looked for no further down than `floor`, nor past another FAT (what lies
// below it is another volume's).
std::optional<std::uint64_t> StartFromFsInfo(BackwardReader& back, std::uint64_t firstFat, std::uint64_t floor,
                                             FatStartEvidence& from) {
  const std::uint64_t lowest = std::max(floor, firstFat > kMaxReserved ? firstFat - kMaxReserved : 0);
  const auto s = back.FindBelow(firstFat, lowest,
                                [](const std::uint8_t* p) { return IsFsInfoSector(p) || IsFatFirstSector(p); });
  if (!s || !IsFsInfoSector(back.At(*s)) || *s < floor + 1) return std::nullopt;
  // Both copies: the one found first, going down, is the backup.
  const std::uint64_t asBackup = kBackupFsInfoDistance + 1;
  if (*s >= floor + asBackup && IsFsInfoSector(back.At(*s - kBackupFsInfoDistance))) {
    from = FatStartEvidence::FsInfo;
    return *s - asBackup;
  }
  // One copy: the FSInfo, unless taking it for the backup gives the usual
  // 32 reserved sectors and taking it for the FSInfo does not.
  if (*s >= floor + asBackup && firstFat - (*s - asBackup) == kUsualFat32Reserved &&
      firstFat - (*s - 1) != kUsualFat32Reserved) {
    from = FatStartEvidence::BackupFsInfo;
    return *s - asBackup;
  }
  from = FatStartEvidence::FsInfo;
  return *s - 1;
}

// Clusters 2 .. capacity + 1 whose entries are not free; nothing when the
// FAT cannot be read.
std::optional<std::uint64_t> CountAllocated(const DiskSectorReader& read, std::uint64_t fat, std::uint64_t fatSize,
                                            std::uint64_t capacity) {
  constexpr std::uint64_t kPerSector = kSectorSize / 4;
  std::vector<std::uint8_t> block(kBlockSectors * kSectorSize);
  std::uint64_t used = 0;
  const std::uint64_t entries = std::min(capacity + 2, fatSize * kPerSector);
  for (std::uint64_t at = 0; at * kPerSector < entries; at += kBlockSectors) {
    const std::uint64_t count = std::min(kBlockSectors, fatSize - at);
    if (!read(fat + at, block.data(), static_cast<std::size_t>(count))) return std::nullopt;
    for (std::uint64_t n = std::max<std::uint64_t>(2, at * kPerSector); n < std::min(entries, (at + count) * kPerSector);
         ++n)
      used += (GetLE32(block.data() + (n - at * kPerSector) * 4) & 0x0FFFFFFFu) != 0;
  }
  return used;
}

// Clusters the FAT can address, within what its kind allows.
std::uint64_t FatCapacity(std::uint8_t kind, std::uint64_t fatSize) {
  switch (kind) {
    case kFat12: return std::min<std::uint64_t>(fatSize * kSectorSize * 2 / 3, 4086) - 2;
    case kFat16: return std::min<std::uint64_t>(fatSize * 256, 65526) - 2;
    default: return std::min<std::uint64_t>(fatSize * 128, 0x0FFFFFF7u) - 2;
  }
}

}  // namespace

bool IsFatFirstSector(const std::uint8_t* s) { return (s[0] == 0xF8 || s[0] == 0xF0) && s[1] == 0xFF && s[2] == 0xFF; }

bool IsFat32FirstSector(const std::uint8_t* s) {
  return IsFatFirstSector(s) && s[3] == 0x0F && s[4] == 0xFF && s[5] == 0xFF && s[6] == 0xFF;
}

bool IsFsInfoSector(const std::uint8_t* s) {
  return std::memcmp(s, "RRaA", 4) == 0 && std::memcmp(s + 484, "rrAa", 4) == 0 && s[510] == 0x55 && s[511] == 0xAA;
}

RebuiltFatLayout RebuildFatLayout(const DiskSectorReader& read, std::uint64_t dataStart, std::uint8_t spc,
                                  const FatRebuildBounds& bounds) {
  RebuiltFatLayout out;
  if (spc == 0 || spc > 128 || (spc & (spc - 1)) != 0) return out;
  // A given start holds the boot sector at least.
  const std::uint64_t floor = bounds.start ? std::max(bounds.floor, *bounds.start + 1) : bounds.floor;
  if (dataStart <= floor) return out;
  const std::uint64_t lowest = dataStart - std::min(dataStart - floor, bounds.fatSearch + kMaxRootSectors);

  BackwardReader back(read);
  const std::optional<FatCopies> copies = FindFatCopies(back, dataStart, lowest, floor, bounds, out.fatSeen);
  if (!copies || copies->fatSize == 0) return out;
  const FatCopies& c = *copies;

  std::uint64_t start = 0;
  if (bounds.start) {
    start = *bounds.start;
    out.startFrom = FatStartEvidence::Given;
  } else if (const auto pinned = c.kind == kFat32 ? StartFromFsInfo(back, c.firstFat, bounds.floor, out.startFrom)
                                                  : std::nullopt) {
    start = *pinned;
  } else {
    const std::uint64_t usual = c.kind == kFat32 ? kUsualFat32Reserved : kUsualSmallReserved;
    start = c.firstFat >= bounds.floor + usual ? c.firstFat - usual : bounds.floor;
    out.startFrom = FatStartEvidence::UsualReserved;
  }
  if (c.firstFat <= start || c.firstFat - start > kMaxReserved) return out;

  FatLayout& l = out.layout;
  l.kind = c.kind;
  l.sectorsPerCluster = spc;
  l.reservedSectors = static_cast<std::uint32_t>(c.firstFat - start);
  l.fatSize = static_cast<std::uint32_t>(c.fatSize);
  l.rootDirSectors = static_cast<std::uint32_t>(c.rootSectors);

  const Sector fatFirst = ReadSector(read, c.readable);
  if (c.kind == kFat32) {
    // Formatters put the root folder in cluster 2: taken when its entry is
    // allocated and the cluster is no subfolder's.
    const Sector cluster2 = ReadSector(read, dataStart);
    if ((GetLE32(fatFirst.data() + 8) & 0x0FFFFFFFu) != 0 && !IsFolderStartSector(cluster2.data())) l.rootCluster = 2;
  }

  const std::uint64_t capacity = FatCapacity(c.kind, c.fatSize);
  if (bounds.sectorCount) {
    l.sectorCount = *bounds.sectorCount;
    out.sizeFrom = FatSizeEvidence::Given;
  } else {
    std::uint64_t clusters = capacity;
    out.sizeFrom = FatSizeEvidence::FatLength;
    if (c.kind == kFat32) {
      // The free count of a current FSInfo and the allocated entries are
      // the volume's clusters.
      const Sector info = ReadSector(read, start + 1);
      const std::uint32_t free = GetLE32(info.data() + 488);
      if (IsFsInfoSector(info.data()) && free != kFsInfoUnknown && free <= capacity) {
        const auto used = CountAllocated(read, c.readable, c.fatSize, capacity);
        if (used && free + *used >= 1 && free + *used <= capacity) {
          clusters = free + *used;
          out.sizeFrom = FatSizeEvidence::FsInfoCount;
        }
      }
    }
    l.sectorCount = l.DataStart() + clusters * spc;
    if (bounds.ceiling != 0 && start + l.sectorCount > bounds.ceiling) {
      if (bounds.ceiling <= start) return out;
      l.sectorCount = bounds.ceiling - start;
    }
  }
  out.start = start;
  out.bothCopies = c.both;
  out.rebuilt = IsFatLayoutSound(l);
  return out;
}

}  // namespace corvan
