// A found file's data for the previews and the savers, through the shared
// run walker: its FAT chain (or contiguous run) as extents, and a reader of
// the volume's clusters.

#include <algorithm>
#include <cstring>

#include "engines/fat/FatEngine.h"
#include "sources/SectorSource.h"

namespace corvan {

std::vector<std::uint32_t> FatEngine::ItemClusters(const FoundItemInfo& item) const {
  // Deleted and carved items have no chain left: their data is taken as
  // one run from the first cluster.
  const bool run = (item.flags & (kItemDeleted | kItemContiguous)) != 0;
  return GetClusterChain(item.Location32(), item.size, run);
}

FileDataLayout FatEngine::ItemDataLayout(const FoundItemInfo& item) const {
  FileDataLayout layout;
  if (item.IsFolder()) return layout;
  std::uint64_t backed = 0;  // clusters (or sectors) that hold the file
  if (m_bSectorItems) {
    // A sector-wise search places its files by absolute sector, within the
    // region it searched.
    layout.clusterBytes = kSectorSize;
    const std::uint64_t wanted = item.size / kSectorSize + (item.size % kSectorSize ? 1 : 0);
    backed = item.location <= m_nVolumeEnd ? std::min(wanted, m_nVolumeEnd - item.location + 1) : 0;
    if (backed != 0) layout.extents.push_back({0, item.location, backed, false});
  } else {
    layout.clusterBytes = std::uint32_t{m_nSectorsPerCluster} * kSectorSize;
    layout.extents = ExtentsFromClusterList(ItemClusters(item));
    for (const DataExtent& e : layout.extents) backed += e.length;
  }
  // The size comes from a directory entry or a saved scan and may promise
  // more than the chain holds: only what the chain holds is handed out, so
  // the savers see the file short instead of padded with zeros.
  layout.size = std::min(item.size, backed * layout.clusterBytes);
  return layout;
}

ClusterReader FatEngine::DataClusterReader() const {
  if (m_bSectorItems) {
    return [this](std::uint64_t sector, std::uint64_t count, std::uint8_t* buffer) {
      return ReadSourceOrImage(sector, buffer, static_cast<std::uint32_t>(count));
    };
  }
  return [this](std::uint64_t cluster, std::uint64_t count, std::uint8_t* buffer) {
    const std::size_t bytes = static_cast<std::size_t>(count * m_nSectorsPerCluster * kSectorSize);
    if (cluster < 2 || count == 0 || cluster + count - 1 > LastDataCluster()) {
      std::memset(buffer, 0, bytes);
      return false;
    }
    const std::uint64_t sector = (m_bAbsoluteSectors ? 0 : m_nVolumeStart) + Layout().DataStart() +
                                 (cluster - 2) * m_nSectorsPerCluster;
    return ReadSourceOrImage(sector, buffer, static_cast<std::uint32_t>(count * m_nSectorsPerCluster));
  };
}

WalkResult FatEngine::WalkItemData(const FoundItemInfo& item, const BlockSink& sink, bool* chainCoversSize) const {
  const FileDataLayout layout = ItemDataLayout(item);
  if (chainCoversSize) *chainCoversSize = layout.size >= item.size;
  return WalkFileData(layout, DataClusterReader(), sink);
}

}  // namespace corvan
