// A found exFAT file's clusters (its FAT chain through the FAT copy, or one
// contiguous run) and its data through the shared run walker, for the
// previews and the savers.

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

#include "engines/exfat/ExFatEngine.h"
#include "platform/ByteCodec.h"
#include "sources/SectorSource.h"

namespace corvan {

namespace {

// Clusters met so far on a chain, a bit each, kept in pages so a chain
// costs memory by where it runs, not by the size of the volume.
class ClusterSet {
 public:
  // True when `cluster` was not in the set yet.
  bool Insert(std::uint32_t cluster) {
    auto& page = pages_[cluster >> kPageShift];
    const std::uint32_t bit = cluster & ((1u << kPageShift) - 1);
    std::uint64_t& word = page[bit / 64];
    const std::uint64_t mask = 1ull << (bit % 64);
    if (word & mask) return false;
    word |= mask;
    return true;
  }

 private:
  static constexpr unsigned kPageShift = 12;
  std::unordered_map<std::uint32_t, std::array<std::uint64_t, (1u << kPageShift) / 64>> pages_;
};

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFFu;

}  // namespace

std::vector<std::uint32_t> ExFatEngine::FollowFatChain(std::uint32_t firstCluster) const {
  if (!IsHeapCluster(firstCluster)) return {};
  if (m_nFatSource == kExFatSourceContiguous) return {firstCluster};
  std::vector<std::uint32_t> chain;
  ClusterSet seen;
  std::uint32_t c = firstCluster;
  // Values past the heap (the end mark, the bad-cluster mark) end the chain
  // without being part of it; a free entry ends it after its cluster.
  while (c >= exfat::kFirstCluster && c != kEndOfChain && IsHeapCluster(c) && seen.Insert(c)) {
    chain.push_back(c);
    if (!FatEntry(c, c)) break;
  }
  return chain;
}

bool ExFatEngine::FatEntry(std::uint32_t cluster, std::uint32_t& value) const {
  const std::uint64_t at = std::uint64_t{cluster} * 4;
  if (at + 4 > std::uint64_t{m_nFatLength} * kSectorSize) return false;
  std::uint8_t entry[4];
  if (!m_fatCopy.Read(at, entry, sizeof entry)) return false;
  value = GetLE32(entry);
  return true;
}

std::uint64_t ExFatEngine::BackedSize(std::uint64_t size, std::uint32_t firstCluster, bool asRun) const {
  if (!IsHeapCluster(firstCluster)) return 0;
  const std::uint64_t clusters =
      asRun ? std::uint64_t{m_nClusterCount} + 2 - firstCluster : std::uint64_t{m_nClusterCount};
  return std::min(size, clusters * ClusterBytes());
}

std::vector<std::uint32_t> ExFatEngine::GetClusterChain(std::uint32_t firstCluster, std::uint64_t size,
                                                        bool contiguous) const {
  if (!contiguous && m_nFatSource != kExFatSourceContiguous) return FollowFatChain(firstCluster);
  const std::uint64_t n = RunLength(firstCluster, size);
  std::vector<std::uint32_t> run(static_cast<std::size_t>(n));
  for (std::uint64_t i = 0; i < n; ++i) run[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(firstCluster + i);
  return run;
}

std::uint64_t ExFatEngine::RunLength(std::uint32_t firstCluster, std::uint64_t size) const {
  if (!IsHeapCluster(firstCluster) || m_nSectorsPerCluster == 0 || size == 0) return 0;
  const std::uint64_t sectors = size / kSectorSize + (size % kSectorSize ? 1 : 0);
  const std::uint64_t n = (sectors + m_nSectorsPerCluster - 1) / m_nSectorsPerCluster;
  // The size comes from the disk: the run never leaves the heap.
  return std::min<std::uint64_t>(n, std::uint64_t{m_nClusterCount} + 2 - firstCluster);
}

bool ExFatEngine::ReadsAsRun(std::uint8_t flags) const {
  // A deleted file's chain went with it (drivers free, and often zero, its
  // FAT entries), so only a live file linked in the FAT is followed through
  // the FAT copy. A file in a deleted folder reaches here marked deleted.
  return (flags & (kItemDeleted | kItemContiguous)) != 0 || (flags & kExFatItemFatChain) == 0 ||
         m_nFatSource == kExFatSourceContiguous;
}

FileDataLayout ExFatEngine::ItemDataLayout(const FoundItemInfo& item) const {
  FileDataLayout layout;
  layout.size = item.size;
  // The record's size is the ValidDataLength: nothing past it is read.
  layout.validSize = item.size;
  layout.clusterBytes = ClusterBytes();
  if (item.IsFolder()) return layout;
  const std::uint32_t first = item.Location32();
  std::uint64_t clusters = 0;
  if (ReadsAsRun(item.flags)) {
    // One run: one extent, however long, without spelling it out.
    clusters = RunLength(first, item.size);
    if (clusters != 0) layout.extents.push_back(DataExtent{0, first, clusters, false});
  } else {
    const std::vector<std::uint32_t> chain = FollowFatChain(first);
    clusters = chain.size();
    layout.extents = ExtentsFromClusterList(chain);
  }
  // A size from a damaged entry (or a record from elsewhere) may promise
  // more than its clusters hold: only what they hold is handed out.
  layout.size = std::min<std::uint64_t>(item.size, clusters * ClusterBytes());
  layout.validSize = layout.size;
  return layout;
}

ClusterReader ExFatEngine::DataClusterReader() const {
  return [this](std::uint64_t cluster, std::uint64_t count, std::uint8_t* buffer) {
    const std::uint64_t sectors = count * m_nSectorsPerCluster;
    if (count == 0 || !IsHeapCluster(cluster) || !IsHeapCluster(cluster + count - 1) || sectors > 0xFFFFFFFFull) {
      std::memset(buffer, 0, static_cast<std::size_t>(count * ClusterBytes()));
      return false;
    }
    return ReadClusters(static_cast<std::uint32_t>(sectors), static_cast<std::uint32_t>(cluster), 0, buffer);
  };
}

WalkResult ExFatEngine::ReadFoundItem(const FoundItemInfo& item, const BlockSink& sink, std::uint64_t begin,
                                      std::uint64_t end) const {
  return WalkFileData(ItemDataLayout(item), DataClusterReader(), sink, begin, end);
}

}  // namespace corvan
