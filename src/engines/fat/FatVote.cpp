#include "engines/fat/FatVote.h"

#include <array>
#include <cstring>
#include <utility>

#include "sources/FatBootSector.h"

namespace corvan {

namespace {

// Only data-area starts below this are believed; past 555 sectors only a
// cluster size of 8 or more votes, since small clusters give too many
// chance agreements there.
constexpr std::int64_t kMaxDataStart = 100000;
constexpr std::int64_t kSmallDataStart = 555;
constexpr std::uint8_t kLargeClusterVote = 8;

// FAT sizes that decide the kind: above kFat16MaxFat and below
// kFat32MinFat no kind fits; below kFat12MaxFat it is FAT12.
constexpr std::int64_t kFat16MaxFat = 266;
constexpr std::int64_t kFat32MinFat = 1024;
constexpr std::int64_t kFat12MaxFat = 19;

// Where the FAT signature is looked for, in sectors from the volume start.
constexpr std::uint64_t kFat32MinReserved = 32;
constexpr std::uint64_t kFat32LastFat1Sector = 62;
constexpr std::uint64_t kFat16DefaultReserved = 13;
constexpr std::uint64_t kFat16MaxReserved = 20;
constexpr std::uint32_t kFixedRootSectors = 32;

// Index 0..7 of a power of two 1..128, or -1.
int PowerIndex(std::uint32_t q) {
  for (int i = 0; i < 8; ++i) {
    if (q == (1u << i)) return i;
  }
  return -1;
}

// The index counted most often, the smaller one on a tie; -1 when none.
int MostCounted(const std::array<std::uint32_t, 8>& counts) {
  int best = -1;
  for (int i = 0; i < 8; ++i) {
    if (counts[i] != 0 && (best < 0 || counts[i] > counts[best])) best = i;
  }
  return best;
}

}  // namespace

bool IsFolderStartSector(const std::uint8_t* sector) {
  return std::memcmp(sector, ".       ", 8) == 0 && std::memcmp(sector + 32, "..      ", 8) == 0;
}

void VoteTableAdd(std::vector<VoteRecord>& table, std::uint32_t start, std::uint32_t spc) {
  for (VoteRecord& r : table) {
    if (r.start == start && r.sectorsPerCluster == spc) {
      ++r.votes;
      return;
    }
  }
  table.push_back({start, 1, spc});
}

void VoteTableSort(std::vector<VoteRecord>& table) {
  const auto before = [](const VoteRecord& a, const VoteRecord& b) {
    const auto av = static_cast<std::int32_t>(a.votes);
    const auto bv = static_cast<std::int32_t>(b.votes);
    if (av != bv) return av > bv;
    return static_cast<std::int32_t>(a.sectorsPerCluster) > static_cast<std::int32_t>(b.sectorsPerCluster);
  };
  for (std::size_t i = 0; i < table.size(); ++i) {
    for (std::size_t j = i + 1; j < table.size(); ++j) {
      if (before(table[j], table[i])) std::swap(table[i], table[j]);
    }
  }
}

std::uint8_t EstimateClusterSizes(std::vector<DirectoryClusterRecord>& records) {
  std::vector<std::array<std::uint32_t, 8>> noted(records.size());
  std::array<std::uint32_t, 8> overall{};
  for (std::size_t i = 0; i < records.size(); ++i) {
    for (std::size_t j = i + 1; j < records.size(); ++j) {
      const DirectoryClusterRecord& a = records[i];
      const DirectoryClusterRecord& b = records[j];
      if (b.cluster <= a.cluster || b.sector <= a.sector) continue;
      const int k = PowerIndex((b.sector - a.sector) / (b.cluster - a.cluster));
      if (k < 0) continue;
      ++noted[i][k];
      ++noted[j][k];
      ++overall[k];
    }
  }
  for (std::size_t i = 0; i < records.size(); ++i) {
    const int k = MostCounted(noted[i]);
    records[i].estimate = k < 0 ? 0 : static_cast<std::uint8_t>(1u << k);
  }
  const int k = MostCounted(overall);
  return k < 0 ? 0 : static_cast<std::uint8_t>(1u << k);
}

std::vector<VoteRecord> CollectVotes(const std::vector<DirectoryClusterRecord>& records, VoteReach reach) {
  std::vector<VoteRecord> table;
  table.reserve(records.size());
  for (const DirectoryClusterRecord& r : records) {
    if (r.estimate < 1) continue;
    // 64-bit: a cluster number far beyond the sector must not wrap into range.
    const std::int64_t d = std::int64_t{r.sector} - (std::int64_t{r.cluster} - 2) * r.estimate;
    const bool near = d < kMaxDataStart && (d <= kSmallDataStart || r.estimate >= kLargeClusterVote);
    if (d > 0 && (near || reach == VoteReach::Any)) VoteTableAdd(table, static_cast<std::uint32_t>(d), r.estimate);
  }
  VoteTableSort(table);
  return table;
}

VotedLayout VoteLayout(std::vector<DirectoryClusterRecord>& records, std::uint64_t sectorCount,
                       const FatSignatureProbe& probe) {
  VotedLayout v;
  v.sectorCount = sectorCount;
  v.sectorsPerCluster = EstimateClusterSizes(records);

  const std::vector<VoteRecord> table = CollectVotes(records);

  // Each candidate starts from what the one before it left.
  v.kind = kFat16;
  v.reservedSectors = 1;
  v.rootDirSectors = kFixedRootSectors;
  v.fatSize = 0;
  bool fat1Found = false;
  for (const VoteRecord& c : table) {
    if (c.votes != table.front().votes) break;
    const std::int64_t d = c.start;
    const std::uint32_t spc = c.sectorsPerCluster;
    std::int64_t reserved = v.reservedSectors;
    std::int64_t root = v.rootDirSectors;
    // A start too small for what lies in front of it is no layout (it
    // would wrap into a huge FAT).
    if (d - reserved - root < 0) continue;
    std::int64_t f = (d - reserved - root) / 2;
    v.fatSize = static_cast<std::uint32_t>(f);
    if (f > kFat16MaxFat && f < kFat32MinFat) continue;

    if (f >= kFat32MinFat) {
      reserved = kFat32MinReserved;
      v.kind = kFat32;
      for (std::uint64_t r = kFat32MinReserved; r <= kFat32LastFat1Sector; ++r) {
        if (probe(r)) {
          reserved = static_cast<std::int64_t>(r);
          fat1Found = true;
          break;
        }
      }
      if (!fat1Found && d >= 63) {
        // The second FAT lies at reserved + F, so from its distance and D
        // the reserved sectors follow.
        for (std::int64_t at = kFat32MinReserved + (d - 63) / 2; at <= d - 1; ++at) {
          if (!probe(static_cast<std::uint64_t>(at))) continue;
          const std::int64_t r = 2 * at - d;
          if (r >= static_cast<std::int64_t>(kFat32MinReserved)) {
            reserved = r;
            break;
          }
        }
      }
      root = 0;
      f = (d - reserved) / 2;
    } else if (f < kFat12MaxFat) {
      v.kind = kFat12;
    } else {
      reserved = kFat16DefaultReserved;
      v.kind = kFat16;
      for (std::uint64_t r = 0; r <= kFat16DefaultReserved; ++r) {
        if (probe(r)) {
          reserved = static_cast<std::int64_t>(r);
          fat1Found = true;
          break;
        }
      }
      root = kFixedRootSectors;
      f = (d - reserved - root) / 2;
    }
    if (f < 0) f = 0;
    v.fatSize = static_cast<std::uint32_t>(f);
    v.reservedSectors = static_cast<std::uint32_t>(reserved);
    v.rootDirSectors = static_cast<std::uint32_t>(root);
    const std::uint64_t perSector = v.kind == kFat32 ? 128 : v.kind == kFat16 ? 256 : 768;
    const std::uint64_t capacity = static_cast<std::uint64_t>(f) * perSector;
    if (v.sectorCount == 0) v.sectorCount = std::uint64_t{spc} * capacity;
    const std::uint64_t sectors = v.sectorCount;
    const bool fits = sectors >= static_cast<std::uint64_t>(d) && (sectors - d) / spc < capacity;
    bool accepted = false;
    if (fits) {
      if (v.kind == kFat32) accepted = reserved >= static_cast<std::int64_t>(kFat32MinReserved) && f > kFat16MaxFat;
      if (v.kind == kFat16) accepted = reserved <= static_cast<std::int64_t>(kFat16MaxReserved) && f <= kFat16MaxFat;
      if (v.kind == kFat12) accepted = reserved == 1 && f <= kFat12MaxFat;
    }
    // An odd remainder means one more reserved sector in front of the FATs.
    if ((d - reserved - root) & 1) v.reservedSectors = static_cast<std::uint32_t>(reserved + 1);
    if (accepted) {
      v.sectorsPerCluster = static_cast<std::uint8_t>(spc);
      v.accepted = true;
      break;
    }
  }
  return v;
}

}  // namespace corvan
