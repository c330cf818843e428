// Deleted Recovery without a volume search: the deleted items of the live
// tree, then the folders whose first cluster is still in free space, put
// back under their parents or under "Lost folder(s)".

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/fat/FatEngine.h"
#include "platform/ByteCodec.h"
#include "platform/TextConv.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"

namespace corvan {

namespace {

constexpr std::uint64_t kBackupBootSector = 6;
// Volumes up to this size are searched one sector (a cluster's first) at a
// time, larger ones 2048 sectors a read; one rule for the read and for the
// clusters taken from it.
constexpr std::uint64_t kSmallVolumeSectors = 3000;
constexpr std::uint32_t kSearchReadSectors = 2048;
// The deferred folders' buffer holds at least this much.
constexpr std::size_t kMinFolderBuffer = 32 * kSectorSize;

std::uint32_t EntryFirstCluster(const std::uint8_t* e) {
  return (std::uint32_t{GetLE16(e + 20)} << 16) | GetLE16(e + 26);
}

std::u16string NumberedFolderName(std::uint64_t cluster) {
  return Utf8ToUtf16(LoadString(kIdsFolder) + " " + std::to_string(cluster));
}

}  // namespace

bool FatEngine::CheckVolumeForDeepScan() {
  if (IsDeepFind()) {
    if (!UseRecordedLayout()) return false;
  } else if (!LoadBootGeometry(m_nVolumeStart) && !LoadBootGeometry(m_nVolumeStart + kBackupBootSector)) {
    return false;
  }
  SelectFatCopy();
  if (m_nFatSource != kFatSourceContiguous) {
    const std::uint64_t capacity = std::uint64_t{m_nFatSize} * FatEntriesPerSector(m_nFatKind);
    m_nHighestCluster = static_cast<std::uint32_t>(std::min(capacity, Layout().DataClusters() + 2));
  }
  return true;
}

FatScanResult FatEngine::ScanDeletedTree() {
  m_poster.ResetBytes();
  if (!CheckVolumeForDeepScan()) {
    // Ending silently would show an empty result as if the volume held no
    // deleted item: say why nothing is listed.
    return RefuseVolume();
  }
  BuildClusterMap();
  RunDeletedRootPass();

  const FatLayout layout = Layout();
  if (layout.DataClusters() == 0) return Aborted() ? FatScanResult::Aborted : FatScanResult::Completed;
  const std::uint64_t highest = layout.DataClusters() + 2;
  // Found folders number on from above every cluster, and never below an
  // id the root pass has already given.
  m_poster.SetNextId(static_cast<std::uint32_t>(
      std::min<std::uint64_t>(std::max<std::uint64_t>(m_poster.NextId(), highest + 1), 0xFFFFFFF0u)));

  const bool small = m_nSectorCount <= kSmallVolumeSectors;
  const std::uint16_t readSectors = small ? 1 : static_cast<std::uint16_t>(kSearchReadSectors);
  const std::uint32_t perRead = small ? 1 : kSearchReadSectors / m_nSectorsPerCluster;
  const std::size_t clusterBytes = std::size_t{m_nSectorsPerCluster} * kSectorSize;
  std::vector<std::uint8_t> buffer(std::size_t{readSectors} * kSectorSize);

  ProgressSink& progress = Progress();
  progress.SetSecondPos(0);
  progress.SetSecondRange(0, static_cast<std::int64_t>(highest));
  const std::string of = " " + LoadString(kIdsOf) + " ";
  const std::uint64_t limit = std::min<std::uint64_t>(highest, m_clusterMap.size());
  std::uint64_t c = 2;
  while (c < limit && !Aborted()) {
    if (m_clusterMap[c] != kClusterFree) {
      // Clusters a live file owns are passed over without a read.
      if (c % 4096 == 0) progress.SetSecondPos(static_cast<std::int64_t>(c));
      ++c;
      continue;
    }
    progress.SetSectorText(LoadString(kIdsReadingCluster) + std::to_string(c) + of + std::to_string(highest));
    if (!ReadClusters(c, 0, buffer.data(), readSectors)) ReportReadFailure("cluster", c);
    for (std::uint32_t k = 0; k < perRead; ++k) {
      const std::uint64_t cluster = c + k;
      if (cluster >= limit) break;
      const std::uint8_t* first = buffer.data() + (small ? 0 : k * clusterBytes);
      if (m_clusterMap[cluster] != kClusterFree || !IsFolderStartSector(first)) continue;
      VisitedFolderNode node;
      node.cluster = cluster;
      node.parent = EntryFirstCluster(first + 32);
      node.previousCluster = 0;
      node.itemId = m_poster.TakeId();
      m_visitedFolders.push_back(node);
      m_clusterMap[cluster] = kClusterAllocated;
    }
    c += perRead;
    progress.SetSecondPos(static_cast<std::int64_t>(std::min(c, highest)));
  }
  buffer = {};
  if (!Aborted()) BuildLostTrees();
  if (!Aborted()) ApplyFolderNames();
  m_folderNames.clear();
  m_visitedFolders.clear();
  m_foundFolders.clear();
  m_foundFolderIndex.clear();
  m_host.LogPhaseEnd();
  return Aborted() ? FatScanResult::Aborted : FatScanResult::Completed;
}

void FatEngine::RunDeletedRootPass() {
  m_host.LogPhaseStart(LoadString(kIdsCreatingTree));
  WalkRoot();
  if (!Aborted()) WalkDeferredFolders();
  m_visitedFolders.clear();
  m_foundFolders.clear();
  m_foundFolderIndex.clear();
}

void FatEngine::WalkDeferredFolders() {
  m_host.AppendLog(LoadString(kIdsAddingDeleted), false);
  std::vector<std::uint8_t> buffer(std::max<std::size_t>(std::size_t{m_nSectorsPerCluster} * kSectorSize,
                                                         kMinFolderBuffer));
  // The walks append the deleted folders they meet; those are walked in turn.
  for (std::size_t i = 0; i < m_visitedFolders.size() && !Aborted(); ++i) {
    const VisitedFolderNode node = m_visitedFolders[i];
    if (node.removed || FindPair(node.cluster)) continue;
    AddFoundFolder(node.cluster, node.itemId);
    const auto cluster = static_cast<std::uint32_t>(node.cluster);
    std::fill(buffer.begin(), buffer.end(), 0);
    if (!ReadClusters(cluster, 0, buffer.data(), m_nSectorsPerCluster)) ReportReadFailure("cluster", cluster);
    if (buffer[0] == '.' && buffer[32] == '.') {
      WalkFolderChain(node.itemId, cluster, true, 0);
    } else {
      // The folder's first sector was overwritten: walk the rest of it.
      WalkFolderFromValidSector(node.itemId, cluster, 0);
    }
  }
  if (Aborted()) m_host.AppendLog(LoadString(kIdsProcessAborted), false);
}

void FatEngine::PlaceLostFolder(VisitedFolderNode& node, std::uint32_t parentId, bool mark,
                                std::vector<std::uint8_t>& buffer) {
  node.placed = 1;
  FoundItemInfo folder;
  folder.attribute = kItemFolder;
  folder.location = node.cluster;
  folder.itemId = node.itemId;
  folder.parentId = parentId;
  PostNamedByCluster(folder, NumberedFolderName(node.cluster));
  if (mark && m_bMarkFlag) MarkClusterFound(node.cluster);
  AddFoundFolder(node.cluster, node.itemId);

  const auto cluster = static_cast<std::uint32_t>(node.cluster);
  if (!ReadClusters(cluster, 0, buffer.data(), m_nSectorsPerCluster)) ReportReadFailure("cluster", cluster);
  FoundItemInfo record;
  record.flags = kItemDeleted;
  record.parentId = node.itemId;
  AddLostFolderEntries(buffer, record);
}

void FatEngine::BuildLostTrees() {
  m_host.AppendLog(LoadString(kIdsAddingLost), false);
  std::vector<std::uint8_t> buffer(std::size_t{m_nSectorsPerCluster} * kSectorSize);
  std::unordered_set<std::uint64_t> foundClusters;
  for (const VisitedFolderNode& n : m_visitedFolders) foundClusters.insert(n.cluster);

  bool lostMade = false;
  const auto underLost = [&](VisitedFolderNode& node) {
    if (!lostMade) {
      FoundItemInfo lost;
      lost.attribute = kItemFolder;
      lost.location = kFatLostFolderId;
      lost.itemId = kFatLostFolderId;
      lost.parentId = kFatRootId;
      Post(lost, Utf8ToUtf16(LoadString(kIdsLostFolders)));
      AddFoundFolder(kFatLostFolderId, kFatLostFolderId);
      lostMade = true;
    }
    PlaceLostFolder(node, kFatLostFolderId, false, buffer);
  };

  for (;;) {
    bool placedAny = true;
    while (placedAny && !Aborted()) {
      placedAny = false;
      for (std::size_t i = 0; i < m_visitedFolders.size() && !Aborted(); ++i) {
        VisitedFolderNode& node = m_visitedFolders[i];
        if (node.placed) continue;
        if (const auto parentId = FoundFolderId(node.parent)) {
          PlaceLostFolder(node, *parentId, true, buffer);
        } else if (foundClusters.count(node.parent) != 0) {
          continue;  // its parent is a found folder still to be placed
        } else {
          underLost(node);
        }
        placedAny = true;
      }
    }
    if (Aborted()) break;
    // What is left names, through its ".." entries, only folders that are
    // left too: a circle, or a folder naming itself. The first of them goes
    // under "Lost folder(s)" and the sweeps take the rest from there.
    const auto left = std::find_if(m_visitedFolders.begin(), m_visitedFolders.end(),
                                   [](const VisitedFolderNode& n) { return n.placed == 0; });
    if (left == m_visitedFolders.end()) break;
    underLost(*left);
  }
  if (Aborted()) m_host.AppendLog(LoadString(kIdsProcessAborted), false);
}

bool FatEngine::AddLostFolderEntries(std::span<const std::uint8_t> folder, FoundItemInfo& record) {
  const std::uint32_t parentId = record.parentId;
  std::u16string name;
  for (std::size_t at = 0; at + 32 <= folder.size(); at += 32) {
    if (Aborted()) return true;
    if (folder[at] == 0) return false;
    // Everything in a found folder is deleted, whatever its entry says.
    record.flags = kItemDeleted;
    record.parentId = parentId;
    name.clear();
    if (!DecodeDirEntry(static_cast<std::uint32_t>(at), name, folder, record, kNoCluster, 0, false)) continue;
    NormaliseItemAttribute(record);
    if (record.IsFolder()) {
      AddFolderNameNode(name, record.location);
      continue;
    }
    if (!record.IsDeleted()) continue;
    if (!m_poster.Opened()) OpenResultsTree();
    if (m_poster.HasQueued()) FlushPendingItems();
    SendFoundItem(record, name, false);
  }
  return true;
}

}  // namespace corvan
