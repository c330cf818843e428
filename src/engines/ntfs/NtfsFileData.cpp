// A found file's data for previewing and saving: the layout the run walker
// reads it by, from its record (through its attribute list), from runs the
// journal gave back, or, for raw hits, from its start cluster.

#include <algorithm>

#include "core/EngineHost.h"
#include "engines/ntfs/NtfsEngine.h"

namespace corvan {

namespace {

// The clusters a run list maps, holes included: one past its last VCN.
std::uint64_t MappedClusters(const std::vector<DataExtent>& extents) {
  std::uint64_t end = 0;
  for (const DataExtent& e : extents) {
    std::uint64_t last = 0;
    if (__builtin_add_overflow(e.vcn, e.length, &last)) return ~0ull;
    end = std::max(end, last);
  }
  return end;
}

std::uint64_t TimesSaturated(std::uint64_t a, std::uint64_t b) {
  std::uint64_t r = 0;
  return __builtin_mul_overflow(a, b, &r) ? ~0ull : r;
}

}  // namespace

// A size field alone never decides how much is listed and read: the runs
// must map that much. Bytes past the last mapped cluster could only read as
// zeros, so a size beyond the runs is cut to them.
std::uint64_t NtfsEngine::MappedSize(const ntfs::AttributeData& data) const {
  if (!data.present) return 0;
  if (data.resident) return data.size;
  return std::min(data.size, TimesSaturated(MappedClusters(data.extents), ClusterBytes()));
}

// The bytes of the clusters the data really holds (its holes left out).
std::uint64_t NtfsEngine::HeldBytes(const ntfs::AttributeData& data) const {
  std::uint64_t clusters = 0;
  for (const DataExtent& e : data.extents)
    if (!e.sparse && __builtin_add_overflow(clusters, e.length, &clusters)) return ~0ull;
  return TimesSaturated(clusters, ClusterBytes());
}

// A size past the volume's is a sparse (or compressed) file's only when
// three things agree: the runs are whole from the first cluster on, the
// allocated size is exactly what they map and the size lies within it; and
// every cluster the file holds lies inside the volume, fewer than the volume
// has. One damaged field cannot make a size the rest does not back.
bool NtfsEngine::SparseBeyondVolume(const ntfs::AttributeData& data) const {
  const std::uint64_t cb = ClusterBytes();
  if (!data.present || data.resident || !data.runsComplete || !data.haveFirstExtent || data.extents.empty() ||
      cb == 0)
    return false;
  const std::uint64_t volumeClusters = m_nVolumeSectorCount / m_nSectorsPerCluster;
  std::uint64_t held = 0;
  for (const DataExtent& e : data.extents) {
    if (e.sparse) continue;
    if (e.lcn > volumeClusters || e.length > volumeClusters - e.lcn) return false;
    held += e.length;
    if (held >= volumeClusters) return false;
  }
  const std::uint64_t mapped = TimesSaturated(MappedClusters(data.extents), cb);
  return mapped != ~0ull && data.allocatedSize == mapped && data.size <= mapped;
}

std::vector<std::uint8_t> NtfsEngine::ReadAttributeData(const ntfs::AttributeData& data, std::uint64_t limit) {
  FileDataLayout layout = ntfs::LayoutOf(data, ClusterBytes());
  layout.size = std::min(layout.size, limit);
  return ReadFileData(layout, MakeClusterReader());
}

FileDataLayout NtfsEngine::GetContiguousClusters(std::uint64_t startCluster, std::uint64_t size) const {
  FileDataLayout layout;
  layout.clusterBytes = ClusterBytes();
  layout.size = size;
  if (size == 0 || layout.clusterBytes == 0) return layout;
  const std::uint64_t needed = (size + layout.clusterBytes - 1) / layout.clusterBytes;
  const std::uint64_t volumeClusters = m_nVolumeSectorCount / m_nSectorsPerCluster;
  if (!m_bFreeExtentsValid) {
    layout.extents.push_back({0, startCluster, needed, false});
    return layout;
  }
  // Data assumed to fill the free clusters from its start on.
  std::uint64_t vcn = 0;
  for (const FreeExtentNode& e : m_freeExtents) {
    if (vcn == needed) break;
    const std::uint64_t end = std::min(e.first + e.count, volumeClusters);
    const std::uint64_t from = std::max(e.first, startCluster);
    if (from >= end) continue;
    const std::uint64_t take = std::min(end - from, needed - vcn);
    layout.extents.push_back({vcn, from, take, false});
    vcn += take;
  }
  // Fewer free clusters left than the size asks for: the data ends there.
  layout.size = std::min(size, vcn * layout.clusterBytes);
  return layout;
}

bool NtfsEngine::GetFileLayout(const FoundItemInfo& item, FileDataLayout& layout) {
  layout = FileDataLayout{};
  layout.clusterBytes = ClusterBytes();
  if (layout.clusterBytes == 0) return false;
  if (item.flags & kItemContiguous) {
    layout = GetContiguousClusters(item.location, item.size);
    return true;
  }
  if (item.IsFolder()) return false;
  // Runs the journal gave back for a file whose record had lost them.
  for (const KeptRunNode& node : m_keptRuns) {
    if (node.recordNumber != item.itemId || !node.runsValid) continue;
    layout.extents = node.runs;
    // The journal's runs bound what is read, whatever size the item carries.
    layout.size = std::min(item.size ? item.size : node.size,
                           TimesSaturated(MappedClusters(node.runs), layout.clusterBytes));
    if (node.compressed) {
      ntfs::AttributeData d;
      d.present = true;
      d.flags = 1;
      d.compressionUnit = 4;
      d.size = layout.size;
      d.validSize = layout.size;
      d.extents = node.runs;
      layout = ntfs::LayoutOf(d, layout.clusterBytes);
    }
    return true;
  }
  ntfs::FileView view;
  if (m_bAdvanceRecords) {
    // Advance Recovery's items carry their record's sector; the found
    // records, in id order, know its second half and its number.
    std::uint64_t secondHalf = 0;
    std::uint32_t number = 0;
    bool numberKnown = false;
    const auto it = std::lower_bound(m_foundRecords.begin(), m_foundRecords.end(), item.itemId,
                                     [](const AdvanceRecordEntry& e, std::uint32_t id) { return e.itemId < id; });
    if (it != m_foundRecords.end() && it->itemId == item.itemId && it->sector == item.location) {
      secondHalf = it->secondHalf;
      number = it->recordNumber;
      numberKnown = it->numberKnown;
    }
    if (!LoadFoundFileView(item.location, secondHalf, number, numberKnown, view)) return false;
  } else if (!LoadFileView(item.location, view)) {
    return false;
  }
  if (!view.data.present || view.IsDirectory()) return false;
  layout = ntfs::LayoutOf(view.data, layout.clusterBytes);
  if (layout.resident) return true;
  const bool sizeTrusted = view.data.size <= VolumeBytes() || SparseBeyondVolume(view.data);
  layout.size = sizeTrusted ? MappedSize(view.data) : 0;
  // A record whose size fields were cleared, or hold what nothing backs,
  // was given the size its runs cover: read that much.
  if (layout.size == 0 && item.size > 0) {
    layout.size = std::min(item.size, HeldBytes(view.data));
    layout.validSize = layout.size;
  }
  return true;
}

WalkResult NtfsEngine::ReadFoundItem(const FoundItemInfo& item, const BlockSink& sink, std::uint64_t begin,
                                     std::uint64_t end) {
  FileDataLayout layout;
  if (!GetFileLayout(item, layout)) return {};
  return WalkFileData(layout, MakeClusterReader(), sink, begin, end);
}

}  // namespace corvan
