// A found exFAT file's clusters (its FAT chain through the FAT copy, or one
// contiguous run) and its data through the shared run walker, for the
// previews and the savers.

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

#include "engines/fat/ExFatEngine.h"
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
  const std::uint64_t fatBytes = std::uint64_t{m_nFatLength} * kSectorSize;
  std::uint32_t c = firstCluster;
  // Values past the heap (the end mark, the bad-cluster mark) end the chain
  // without being part of it; a free entry ends it after its cluster.
  while (c >= exfat::kFirstCluster && c != kEndOfChain && IsHeapCluster(c) && seen.Insert(c)) {
    chain.push_back(c);
    const std::uint64_t at = std::uint64_t{c} * 4;
    if (at + 4 > fatBytes) break;
    std::uint8_t entry[4];
    if (!m_fatCopy.Read(at, entry, sizeof entry)) break;
    c = GetLE32(entry);
  }
  return chain;
}

std::vector<std::uint32_t> ExFatEngine::GetClusterChain(std::uint32_t firstCluster, std::uint64_t size,
                                                        bool contiguous) const {
  if (!contiguous && m_nFatSource != kExFatSourceContiguous) return FollowFatChain(firstCluster);
  if (!IsHeapCluster(firstCluster) || m_nSectorsPerCluster == 0 || size == 0) return {};
  const std::uint64_t sectors = size / kSectorSize + (size % kSectorSize ? 1 : 0);
  std::uint64_t n = (sectors + m_nSectorsPerCluster - 1) / m_nSectorsPerCluster;
  // The size comes from the disk: the run never leaves the heap.
  n = std::min<std::uint64_t>(n, std::uint64_t{m_nClusterCount} + 2 - firstCluster);
  std::vector<std::uint32_t> run(static_cast<std::size_t>(n));
  for (std::uint64_t i = 0; i < n; ++i) run[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(firstCluster + i);
  return run;
}

FileDataLayout ExFatEngine::ItemDataLayout(const FoundItemInfo& item) const {
  FileDataLayout layout;
  layout.size = item.size;
  // The record's size is the ValidDataLength: nothing past it is read.
  layout.validSize = item.size;
  layout.clusterBytes = ClusterBytes();
  if (item.IsFolder()) return layout;
  const bool contiguous = (item.flags & kExFatItemFatChain) == 0;
  layout.extents = ExtentsFromClusterList(GetClusterChain(item.Location32(), item.size, contiguous));
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
