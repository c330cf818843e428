// A file's clusters: its chain in the loaded FAT, or a contiguous run; and
// the marking of an item's clusters as found in the cluster map.

#include <algorithm>
#include <vector>

#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/fat/FatEngine.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"

namespace corvan {

namespace {

constexpr std::uint64_t kLargeItemBytes = 20971520;  // 20 MiB

std::uint32_t ChainEnd(std::uint8_t kind) {
  return kind == kFat12 ? 0xFF8u : kind == kFat16 ? 0xFFF8u : 0x0FFFFFFFu;
}

// One bit per cluster number, so a loop in a chain is found in constant time
// per cluster. The bits live per thread and are cleared again by the
// clusters set, so a walk costs only the clusters it visits.
class SeenClusters {
 public:
  explicit SeenClusters(std::uint32_t lastCluster) : bits_(Bits()) {
    const std::size_t words = std::size_t{lastCluster} / 64 + 1;
    if (bits_.size() < words) bits_.resize(words, 0);
  }
  ~SeenClusters() {
    for (const std::uint32_t c : set_) bits_[c / 64] = 0;
  }
  SeenClusters(const SeenClusters&) = delete;
  SeenClusters& operator=(const SeenClusters&) = delete;

  // True when `cluster` was seen before; marks it seen otherwise.
  bool TestAndSet(std::uint32_t cluster) {
    std::uint64_t& word = bits_[cluster / 64];
    const std::uint64_t bit = std::uint64_t{1} << (cluster % 64);
    if (word & bit) return true;
    word |= bit;
    set_.push_back(cluster);
    return false;
  }

 private:
  static std::vector<std::uint64_t>& Bits() {
    thread_local std::vector<std::uint64_t> bits;
    return bits;
  }
  std::vector<std::uint64_t>& bits_;
  std::vector<std::uint32_t> set_;
};

}  // namespace

std::vector<std::uint32_t> FatEngine::FollowFatChain(std::uint32_t firstCluster) const {
  const std::uint32_t last = LastDataCluster();
  if (firstCluster < 2 || firstCluster > last) return {};
  if (m_nFatSource == kFatSourceContiguous || m_fat.empty()) return {firstCluster};

  const std::uint32_t end = ChainEnd(m_nFatKind);
  std::vector<std::uint32_t> chain;
  SeenClusters seen(last);
  std::uint32_t c = firstCluster;
  while (c < end && c >= 2 && c <= last) {
    if (seen.TestAndSet(c)) break;  // a loop: keep what came before the repeat
    chain.push_back(c);
    const auto next = FatEntry(c);
    if (!next) break;
    c = *next;
  }
  return chain;
}

std::vector<std::uint32_t> FatEngine::GetClusterChain(std::uint32_t firstCluster, std::uint64_t size,
                                                      bool deleted) const {
  if (!deleted && m_nFatSource != kFatSourceContiguous) return FollowFatChain(firstCluster);
  const std::uint32_t last = LastDataCluster();
  if (firstCluster < 2 || firstCluster > last || m_nSectorsPerCluster == 0 || size == 0) return {};
  const std::uint64_t clusterBytes = std::uint64_t{m_nSectorsPerCluster} * kSectorSize;
  std::uint64_t count = (size + clusterBytes - 1) / clusterBytes;
  // The run cannot go on past the data area.
  count = std::min<std::uint64_t>(count, std::uint64_t{last} - firstCluster + 1);
  std::vector<std::uint32_t> run(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < run.size(); ++i) run[i] = firstCluster + static_cast<std::uint32_t>(i);
  return run;
}

void FatEngine::MarkClusterFound(std::uint64_t cluster) {
  if (!m_clusterMap.empty() && cluster <= m_nHighestCluster && cluster < m_clusterMap.size()) {
    m_clusterMap[static_cast<std::size_t>(cluster)] = kClusterFound;
  }
}

void FatEngine::MarkItemClusters(std::uint32_t firstCluster, const FoundItemInfo* record, bool firstOnly) {
  if (m_clusterMap.empty()) return;
  if (firstOnly || firstCluster == 2 || m_nFatSource == kFatSourceContiguous || m_fat.empty()) {
    MarkClusterFound(firstCluster);
    return;
  }
  const std::uint64_t clusterBytes = std::uint64_t{m_nSectorsPerCluster} * kSectorSize;
  std::uint64_t limit = 0;  // 0: the whole chain
  bool large = false;
  if (record) {
    const bool folder = (record->attribute & kItemFolder) != 0;
    if (!folder && (record->attribute & kItemFile) &&
        (record->size == 0 || record->size > m_nSectorCount * kSectorSize)) {
      return;
    }
    if (folder && record->size != 0) return;
    if (record->IsDeleted()) {
      MarkClusterFound(firstCluster);
      return;
    }
    limit = (record->size + clusterBytes - 1) / clusterBytes;
    large = record->size >= kLargeItemBytes;
  }

  ProgressSink& progress = Progress();
  if (large) {
    progress.SetStatusText(LoadString(kIdsUpdatingLargeFiles));
    progress.SetSecondRange(0, static_cast<std::int64_t>(limit));
    progress.SetSecondPos(0);
  }
  const std::uint32_t end = ChainEnd(m_nFatKind);
  const std::uint32_t last = LastDataCluster();
  SeenClusters seen(std::max(last, m_nHighestCluster));
  std::uint64_t marked = 0;
  std::uint32_t c = firstCluster;
  while (c >= 2 && c < end && c <= last) {
    if (seen.TestAndSet(c)) break;
    MarkClusterFound(c);
    ++marked;
    if (large) progress.SetSecondPos(static_cast<std::int64_t>(marked));
    if (limit != 0 && marked >= limit) break;
    const auto next = FatEntry(c);
    if (!next) break;
    c = *next;
  }
}

}  // namespace corvan
