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

Sector ReadSector(FatSectorIndex& index, std::uint64_t sector) {
  Sector s{};
  index.Read(sector, s.data(), 1);
  return s;
}

std::uint8_t KindsOf(const std::uint8_t* s) {
  std::uint8_t kinds = 0;
  if (IsFatFirstSector(s)) {
    kinds |= FatSectorIndex::kFatStart;
    if (IsFat32FirstSector(s)) kinds |= FatSectorIndex::kFat32Start;
    // FAT16's entry 1: its high byte FF, or 7F, BF or 3F with the volume's
    // dirty and error bits clear.
    if ((s[3] | 0xC0) == 0xFF) kinds |= FatSectorIndex::kFat16Entry1;
  }
  if (IsFsInfoSector(s)) kinds |= FatSectorIndex::kFsInfo;
  return kinds;
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
// least) and by entry 1 (see KindsOf).
std::uint8_t SmallFatKind(std::uint64_t fatSize, std::uint8_t firstKinds) {
  if (fatSize < kMinFat16Size) return kFat12;
  return (firstKinds & FatSectorIndex::kFat16Entry1) != 0 ? kFat16 : kFat12;
}

// The FAT copies in front of data area `d`: the second is looked for down
// to `lowest`, and neither may lie below `floor`.
std::optional<FatCopies> FindFatCopies(FatSectorIndex& index, std::uint64_t d, std::uint64_t lowest,
                                       std::uint64_t floor, const FatRebuildBounds& bounds, bool& seen) {
  std::optional<FatCopies> single;
  std::uint64_t below = d;
  for (int n = 0; n < kMaxFatCandidates; ++n) {
    const auto b = index.FindBelow(below, lowest, FatSectorIndex::kFatStart);
    if (!b) break;
    below = *b;
    const std::uint8_t second = index.KindOf(*b);
    // Seen only where a copy of this data area's FAT may lie: a FAT12/16
    // copy within two FATs and a root folder of it. One further down
    // belongs to something else (an exFAT's FAT, say).
    if ((second & FatSectorIndex::kFat32Start) != 0 || d - *b <= 2 * kMaxSmallFat + kMaxRootSectors) seen = true;
    if ((second & FatSectorIndex::kFat32Start) != 0) {
      // The second copy ends where the data area begins.
      const std::uint64_t f = d - *b;
      if (*b >= floor + f && (index.KindOf(*b - f) & FatSectorIndex::kFat32Start) != 0) {
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
    const auto a = index.FindBelow(*b, reach, FatSectorIndex::kFatStart);
    if (a && (index.KindOf(*a) & FatSectorIndex::kFat32Start) == 0) {
      const std::uint64_t f = *b - *a;
      const std::uint64_t gap = d - *b;
      if (gap > f && gap - f <= kMaxRootSectors) {
        return FatCopies{SmallFatKind(f, second), *a, f, gap - f, *a, true};
      }
    }
    // One copy, the second: with the usual root folder behind it.
    const std::uint64_t gap = d - *b;
    if (!single && gap > kUsualRootSectors && gap - kUsualRootSectors <= kMaxSmallFat) {
      const std::uint64_t f = gap - kUsualRootSectors;
      if (*b >= floor + f) single = FatCopies{SmallFatKind(f, second), *b - f, f, kUsualRootSectors, *b, false};
    }
  }
  return single;
}

// The volume's first sector from the FSInfo sector in front of the FATs,
// looked for no further down than `floor`, nor past another FAT (what lies
// below it is another volume's).
std::optional<std::uint64_t> StartFromFsInfo(FatSectorIndex& index, std::uint64_t firstFat, std::uint64_t floor,
                                             FatStartEvidence& from) {
  const std::uint64_t lowest = std::max(floor, firstFat > kMaxReserved ? firstFat - kMaxReserved : 0);
  const auto s = index.FindBelow(firstFat, lowest, FatSectorIndex::kFsInfo | FatSectorIndex::kFatStart);
  if (!s || (index.KindOf(*s) & FatSectorIndex::kFsInfo) == 0 || *s < floor + 1) return std::nullopt;
  // Both copies: the one found first, going down, is the backup.
  const std::uint64_t asBackup = kBackupFsInfoDistance + 1;
  if (*s >= floor + asBackup && (index.KindOf(*s - kBackupFsInfoDistance) & FatSectorIndex::kFsInfo) != 0) {
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

// What a FAT32 FAT holds: its clusters 2 .. capacity + 1 whose entries
// are not free, and the highest of them.
struct Allocated {
  std::uint64_t used = 0;
  std::uint64_t highest = 0;
};

// Nothing when the FAT cannot be read.
std::optional<Allocated> CountAllocated(FatSectorIndex& index, std::uint64_t fat, std::uint64_t fatSize,
                                        std::uint64_t capacity) {
  constexpr std::uint64_t kPerSector = kSectorSize / 4;
  std::vector<std::uint8_t> block(kBlockSectors * kSectorSize);
  Allocated out;
  const std::uint64_t entries = std::min(capacity + 2, fatSize * kPerSector);
  for (std::uint64_t at = 0; at * kPerSector < entries; at += kBlockSectors) {
    const std::uint64_t count = std::min(kBlockSectors, fatSize - at);
    if (!index.Read(fat + at, block.data(), static_cast<std::size_t>(count))) return std::nullopt;
    for (std::uint64_t n = std::max<std::uint64_t>(2, at * kPerSector); n < std::min(entries, (at + count) * kPerSector);
         ++n) {
      if ((GetLE32(block.data() + (n - at * kPerSector) * 4) & 0x0FFFFFFFu) == 0) continue;
      ++out.used;
      out.highest = n;
    }
  }
  return out;
}

// The cluster count of a FAT32 volume that an FSInfo free count gives, where
// it agrees with the FAT. The counts are hints: a driver may leave the
// FSInfo stale (a free count of 0, or the backup as the formatter wrote it).
// A count agrees when the FAT's length was sized for it (formatters leave
// at most one entry a FAT sector spare, and a cluster's worth of FAT
// sectors for rounding and for aligning the data area) and no allocated
// entry lies past it. Tried in turn: the FSInfo and then its backup kept
// current (free plus the allocated entries), then each as formatted (free
// plus the root folder's cluster).
std::optional<std::uint64_t> ClustersFromFsInfo(FatSectorIndex& index, std::uint64_t start, const FatCopies& c,
                                                std::uint8_t spc, std::uint64_t capacity) {
  std::array<std::optional<std::uint32_t>, 2> free;
  for (std::size_t k = 0; k < free.size(); ++k) {
    const Sector info = ReadSector(index, start + 1 + k * kBackupFsInfoDistance);
    const std::uint32_t count = GetLE32(info.data() + 488);
    if (IsFsInfoSector(info.data()) && count != kFsInfoUnknown && count <= capacity) free[k] = count;
  }
  if (!free[0] && !free[1]) return std::nullopt;
  const auto allocated = CountAllocated(index, c.readable, c.fatSize, capacity);
  if (!allocated) return std::nullopt;
  const std::uint64_t spare = c.fatSize + std::uint64_t{kSectorSize / 4} * spc;
  const auto agrees = [&](std::uint64_t count) {
    return count >= 1 && count <= capacity && capacity - count <= spare && allocated->highest <= count + 1;
  };
  for (const std::uint64_t inUse : {allocated->used, std::uint64_t{1}})
    for (const auto& f : free)
      if (f && agrees(*f + inUse)) return *f + inUse;
  return std::nullopt;
}

}  // namespace

bool IsFatFirstSector(const std::uint8_t* s) { return (s[0] == 0xF8 || s[0] == 0xF0) && s[1] == 0xFF && s[2] == 0xFF; }

bool IsFat32FirstSector(const std::uint8_t* s) {
  return IsFatFirstSector(s) && s[3] == 0x0F && s[4] == 0xFF && s[5] == 0xFF && s[6] == 0xFF;
}

bool IsFsInfoSector(const std::uint8_t* s) {
  return std::memcmp(s, "RRaA", 4) == 0 && std::memcmp(s + 484, "rrAa", 4) == 0 && s[510] == 0x55 && s[511] == 0xAA;
}

FatSectorIndex::FatSectorIndex(DiskSectorReader read, std::uint64_t budget, std::function<bool()> stop)
    : read_(std::move(read)), budget_(budget), stop_(std::move(stop)) {}

bool FatSectorIndex::MayRead(std::uint64_t count) {
  if (!ended_ && stop_ && stop_()) ended_ = stopped_ = true;
  if (!ended_ && (count > budget_ || sectorsRead_ > budget_ - count)) ended_ = true;
  if (ended_) return false;
  sectorsRead_ += count;
  return true;
}

bool FatSectorIndex::Read(std::uint64_t sector, std::uint8_t* buffer, std::size_t count) {
  if (!MayRead(count)) {
    std::memset(buffer, 0, count * kSectorSize);
    return false;
  }
  if (read_(sector, buffer, count)) return true;
  std::memset(buffer, 0, count * kSectorSize);
  return false;
}

bool FatSectorIndex::Cover(std::uint64_t first, std::uint64_t end) {
  std::vector<std::uint8_t> block((end - first) * kSectorSize);
  if (!MayRead(end - first)) return false;
  // A failed read leaves zeros: nothing there begins like a FAT.
  if (!read_(first, block.data(), block.size() / kSectorSize)) std::fill(block.begin(), block.end(), 0);
  for (std::uint64_t s = first; s < end; ++s) {
    const std::uint8_t kinds = KindsOf(block.data() + (s - first) * kSectorSize);
    if ((kinds & kFatStart) != 0) fats_.emplace(s, kinds);
    if ((kinds & kFsInfo) != 0) fsInfos_.insert(s);
  }
  if (fats_.size() + fsInfos_.size() > kMaxMarks) {
    ended_ = true;
    return false;
  }
  // Joined with the runs it touches, so a walk passes them in one step.
  auto next = covered_.lower_bound(first);
  if (next != covered_.end() && next->first == end) {
    end = next->second;
    next = covered_.erase(next);
  }
  if (next != covered_.begin()) {
    const auto before = std::prev(next);
    if (before->second == first) {
      before->second = end;
      return true;
    }
  }
  covered_.emplace(first, end);
  return true;
}

std::optional<std::uint64_t> FatSectorIndex::FindBelow(std::uint64_t below, std::uint64_t lowest, std::uint8_t kinds) {
  for (std::uint64_t s = below; s > lowest;) {
    // The run read that holds sector s - 1, if any.
    auto run = covered_.upper_bound(s - 1);
    if (run != covered_.begin() && std::prev(run)->second >= s) {
      const std::uint64_t first = std::max(std::prev(run)->first, lowest);
      // The highest of each kind asked for below s, within the run.
      std::optional<std::uint64_t> found;
      if ((kinds & kFatStart) != 0) {
        if (auto m = fats_.lower_bound(s); m != fats_.begin() && std::prev(m)->first >= first) found = std::prev(m)->first;
      }
      if ((kinds & kFsInfo) != 0) {
        if (auto m = fsInfos_.lower_bound(s); m != fsInfos_.begin() && *std::prev(m) >= first)
          found = std::max(found.value_or(0), *std::prev(m));
      }
      if (found) return found;
      s = first;
      continue;
    }
    // Not read yet: the block below s, down to the run read before it.
    std::uint64_t first = std::max(lowest, s > kBlockSectors ? s - kBlockSectors : 0);
    if (run != covered_.begin()) first = std::max(first, std::prev(run)->second);
    if (!Cover(first, s)) return std::nullopt;
  }
  return std::nullopt;
}

std::uint8_t FatSectorIndex::KindOf(std::uint64_t sector) {
  auto run = covered_.upper_bound(sector);
  const bool read = run != covered_.begin() && std::prev(run)->second > sector;
  if (!read && !Cover(sector, sector + 1)) return 0;
  const auto m = fats_.find(sector);
  return static_cast<std::uint8_t>((m == fats_.end() ? 0 : m->second) | (fsInfos_.count(sector) ? kFsInfo : 0));
}

RebuiltFatLayout RebuildFatLayout(FatSectorIndex& index, std::uint64_t dataStart, std::uint8_t spc,
                                  const FatRebuildBounds& bounds) {
  RebuiltFatLayout out;
  if (spc == 0 || spc > 128 || (spc & (spc - 1)) != 0) return out;
  // A given start holds the boot sector at least.
  const std::uint64_t floor = bounds.start ? std::max(bounds.floor, *bounds.start + 1) : bounds.floor;
  if (dataStart <= floor) return out;
  const std::uint64_t lowest = dataStart - std::min(dataStart - floor, bounds.fatSearch + kMaxRootSectors);

  const std::optional<FatCopies> copies = FindFatCopies(index, dataStart, lowest, floor, bounds, out.fatSeen);
  if (!copies || copies->fatSize == 0) return out;
  const FatCopies& c = *copies;

  std::uint64_t start = 0;
  if (bounds.start) {
    start = *bounds.start;
    out.startFrom = FatStartEvidence::Given;
  } else if (const auto pinned = c.kind == kFat32 ? StartFromFsInfo(index, c.firstFat, bounds.floor, out.startFrom)
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

  // Read from the copy that was found: the other may be gone.
  const Sector fatFirst = ReadSector(index, c.readable);
  if (c.kind == kFat32) {
    // Formatters put the root folder in cluster 2: taken when its entry is
    // allocated and the cluster is no subfolder's.
    const Sector cluster2 = ReadSector(index, dataStart);
    if ((GetLE32(fatFirst.data() + 8) & 0x0FFFFFFFu) != 0 && !IsFolderStartSector(cluster2.data())) l.rootCluster = 2;
  }

  const std::uint64_t capacity = FatClusterCapacity(c.kind, c.fatSize);
  if (bounds.sectorCount) {
    l.sectorCount = *bounds.sectorCount;
    out.sizeFrom = FatSizeEvidence::Given;
  } else {
    std::uint64_t clusters = capacity;
    out.sizeFrom = FatSizeEvidence::FatLength;
    if (const auto counted = c.kind == kFat32 ? ClustersFromFsInfo(index, start, c, spc, capacity) : std::nullopt) {
      clusters = *counted;
      out.sizeFrom = FatSizeEvidence::FsInfoCount;
    }
    l.sectorCount = l.DataStart() + clusters * spc;
    if (bounds.ceiling != 0 && start + l.sectorCount > bounds.ceiling) {
      if (bounds.ceiling <= start) return out;
      l.sectorCount = bounds.ceiling - start;
    }
  }
  out.start = start;
  out.bothCopies = c.both;
  // What the index could not read any more is not known to be absent.
  out.rebuilt = !index.Ended() && IsFatLayoutSound(l);
  return out;
}

RebuiltFatLayout RebuildFatLayout(const DiskSectorReader& read, std::uint64_t dataStart, std::uint8_t spc,
                                  const FatRebuildBounds& bounds) {
  FatSectorIndex index(read);
  return RebuildFatLayout(index, dataStart, spc, bounds);
}

}  // namespace corvan
