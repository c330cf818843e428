// The exFAT scan entries the scan worker runs (Quick, Deleted, Advance), and
// the two searches that find folders without a parent: every cluster of the
// heap (Advance), or the free clusters only (Deleted), each cluster tested
// for looking like a directory and handed over under "Lost folder(s)".

#include <algorithm>

#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "core/FoundItemSink.h"
#include "engines/exfat/ExFatEngine.h"
#include "platform/TextConv.h"
#include "sources/SectorSource.h"
#include "sources/SourceRecords.h"

namespace corvan {

namespace {

constexpr std::int64_t kProgressDone = 100000;
constexpr std::uint32_t kSearchReadSectors = 2048;
constexpr std::uint32_t kLostSearchFirstCluster = 5;

// Moves the second progress bar without a call per cluster: only when the
// shown position would change.
class SecondBar {
 public:
  SecondBar(ProgressSink& progress, std::uint64_t range) : progress_(progress), range_(std::max<std::uint64_t>(range, 1)) {
    progress_.SetSecondRange(0, static_cast<std::int64_t>(range));
    progress_.SetSecondPos(0);
  }
  void Step(std::uint64_t n = 1) {
    pos_ += n;
    const std::uint64_t shown = std::min(pos_, range_) * 1000 / range_;
    if (shown != shown_) {
      shown_ = shown;
      progress_.SetSecondPos(static_cast<std::int64_t>(std::min(pos_, range_)));
    }
  }

 private:
  ProgressSink& progress_;
  std::uint64_t range_;
  std::uint64_t pos_ = 0;
  std::uint64_t shown_ = 0;
};

}  // namespace

std::uint32_t ExFatEngine::ClustersPerRead() const {
  const std::uint32_t spc = m_nSectorsPerCluster;
  return spc != 0 && kSearchReadSectors % spc == 0 ? kSearchReadSectors / spc : 1;
}

ExFatScanResult ExFatEngine::ScanVolume(std::uint32_t pass) {
  m_bMarkFlag = 0;
  m_nPass = pass;
  if (!BootCheck()) return ExFatScanResult::InvalidVolume;
  if (!TablesOnDisk()) return RefuseVolume();
  if (!CheckFat()) return ExFatScanResult::WorkFileFailed;
  // A volume the lost-volume search found has no tree to trust.
  if (m_nSourceKind == kSourceDeepLostVolume) {
    const ExFatScanResult searched = BuildDirectoryTree();
    if (searched == ExFatScanResult::WorkFileFailed || searched == ExFatScanResult::InvalidVolume) return searched;
  } else {
    // The tree starts at the root; without a FAT either, nothing is there
    // to list.
    if (!FatOrRootReadable()) return RefuseVolume();
    BuildLiveTree();
  }
  Progress().SetPos(kProgressDone);
  return Aborted() ? ExFatScanResult::Aborted : ExFatScanResult::Completed;
}

ExFatScanResult ExFatEngine::DeepScan(std::uint32_t pass) {
  m_nPass = pass;
  m_bMarkFlag = 1;
  if (pass != 0) return SearchLostFolders();
  Progress().SetSectorText("");
  if (!BootCheck()) return ExFatScanResult::InvalidVolume;
  if (!TablesOnDisk()) return RefuseVolume();
  if (!CheckFat()) return ExFatScanResult::WorkFileFailed;
  return BuildDirectoryTree();
}

ExFatScanResult ExFatEngine::BuildDirectoryTree() {
  m_host.LogPhaseStart(LoadString(kIdsCreatingTree));
  if (!BuildClusterMap()) {
    m_host.LogPhaseEnd();
    return ExFatScanResult::WorkFileFailed;
  }
  const bool found = SearchDirectoryClusters();
  m_host.LogPhaseEnd();
  if (Aborted()) return ExFatScanResult::Aborted;
  // The search trusts the folders before the FAT and the root: only when
  // it found none either is nothing of the volume left to read.
  return found || FatOrRootReadable() ? ExFatScanResult::Completed : RefuseVolume();
}

bool ExFatEngine::SearchDirectoryClusters() {
  m_descended.clear();
  m_readClusters.clear();
  m_nDepth = 0;
  FreeDeletedFolders();
  m_poster.ResetCounters();
  RaiseNextItemId(2);
  const std::uint32_t n = ClustersPerRead();
  const std::uint64_t last = std::uint64_t{m_nClusterCount} + 1;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(n) * ClusterBytes());
  SecondBar bar(Progress(), m_nClusterCount / n);
  const std::string of = " " + LoadString(kIdsOf) + " " + std::to_string(m_nClusterCount);
  for (std::uint64_t c = exfat::kFirstCluster; c <= last && !Aborted(); c += n) {
    bar.Step();
    Progress().SetSectorText(LoadString(kIdsReadingCluster) + std::to_string(c) + of);
    Console().UpdateStatusText(0);
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, last + 1 - c));
    ReadClusters(count * m_nSectorsPerCluster, static_cast<std::uint32_t>(c), 0, buffer.data());
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::span<const std::uint8_t> cluster(buffer.data() + std::size_t{i} * ClusterBytes(), ClusterBytes());
      if (exfat::IsDirectoryCluster(cluster)) AddCandidate(c + i, cluster);
    }
  }
  const bool found = !m_deletedFolders.empty();
  AddLostFolders(true);
  FreeDeletedFolders();
  return found;
}

void ExFatEngine::BuildDeletedTree() {
  WalkTreeFromRoot();
  if (!Aborted()) WalkDeletedFolders();
  FreeDeletedFolders();
}

ExFatScanResult ExFatEngine::SearchLostFolders() {
  m_poster.ResetBytes();
  if (!BootCheck()) return ExFatScanResult::InvalidVolume;
  if (!TablesOnDisk()) return RefuseVolume();
  if (!CheckFat() || !BuildClusterMap()) return ExFatScanResult::WorkFileFailed;
  BuildDeletedTree();

  // Lost folders are numbered above every cluster, and above every id the
  // tree walk has given.
  RaiseNextItemId(std::uint64_t{m_nClusterCount} + 1);
  const std::uint32_t n = ClustersPerRead();
  const std::uint64_t last = std::uint64_t{m_nClusterCount} + 1;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(n) * ClusterBytes());
  SecondBar bar(Progress(), m_nClusterCount);
  const std::string of = " " + LoadString(kIdsOf) + " " + std::to_string(m_nClusterCount);
  for (std::uint64_t c = kLostSearchFirstCluster; c <= last && !Aborted();) {
    std::uint8_t used = 0;
    ClusterMapByte(static_cast<std::uint32_t>(c), used);
    if (used != 0) {
      bar.Step();
      ++c;
      continue;
    }
    Progress().SetSectorText(LoadString(kIdsReadingCluster) + std::to_string(c) + of);
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, last + 1 - c));
    ReadClusters(count * m_nSectorsPerCluster, static_cast<std::uint32_t>(c), 0, buffer.data());
    for (std::uint32_t i = 0; i < count; ++i) {
      bar.Step();
      const auto cluster = static_cast<std::uint32_t>(c + i);
      used = 0;
      ClusterMapByte(cluster, used);
      const std::span<const std::uint8_t> data(buffer.data() + std::size_t{i} * ClusterBytes(), ClusterBytes());
      if (used == 0 && exfat::IsDirectoryCluster(data)) AddCandidate(cluster, data);
    }
    c += n;
  }
  const bool found = !m_deletedFolders.empty();
  if (!Aborted()) AddLostFolders(false);
  FreeDeletedFolders();
  m_host.LogPhaseEnd();
  if (Aborted()) return ExFatScanResult::Aborted;
  // As Advance Recovery's search: refused only when it found no folder
  // and neither the FAT nor the root can be read.
  return found || FatOrRootReadable() ? ExFatScanResult::Completed : RefuseVolume();
}

void ExFatEngine::AddCandidate(std::uint64_t cluster, std::span<const std::uint8_t> data) {
  ExFatDeletedFolder node;
  node.cluster = cluster;
  node.itemId = TakeItemId();
  node.fatChain = true;
  if (data.size() >= exfat::kEntrySize) {
    node.full = data[data.size() - exfat::kEntrySize] != exfat::kEntryUnused;
    const std::uint8_t first = data[0];
    node.continues = first == exfat::kEntryStream || first == exfat::kEntryDeletedStream ||
                     first == exfat::kEntryName || first == exfat::kEntryDeletedName;
  }
  m_deletedFolders.push_back(node);
  ++m_deletedCount[cluster];
}

bool ExFatEngine::RunsOn(std::size_t index) const {
  if (index + 1 >= m_deletedFolders.size()) return false;
  const ExFatDeletedFolder& here = m_deletedFolders[index];
  const ExFatDeletedFolder& next = m_deletedFolders[index + 1];
  // A folder's entries end at its first unused one: a cluster with room
  // left is the last of its folder.
  if (next.cluster != here.cluster + 1 || !here.full) return false;
  if (m_nFatSource == kExFatSourceContiguous) return true;
  // The clusters of a folder kept as one run are not linked in the FAT; a
  // cluster with an entry of its own belongs to a chain.
  std::uint32_t a = 1, b = 1;
  return FatEntry(static_cast<std::uint32_t>(here.cluster), a) && a == 0 &&
         FatEntry(static_cast<std::uint32_t>(next.cluster), b) && b == 0;
}

std::vector<bool> ExFatEngine::ReachedCandidates() const {
  // The candidates were found in cluster order.
  const auto& list = m_deletedFolders;
  std::vector<bool> reached(list.size(), false);
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (RunsOn(i)) reached[i + 1] = true;
    std::uint32_t next = 0;
    if (m_nFatSource == kExFatSourceContiguous || !FatEntry(static_cast<std::uint32_t>(list[i].cluster), next) ||
        next == list[i].cluster) {
      continue;
    }
    const auto it = std::lower_bound(list.begin(), list.end(), std::uint64_t{next},
                                     [](const ExFatDeletedFolder& n, std::uint64_t c) { return n.cluster < c; });
    if (it != list.end() && it->cluster == next) reached[static_cast<std::size_t>(it - list.begin())] = true;
  }
  return reached;
}

std::vector<std::uint32_t> ExFatEngine::LostFolderClusters(std::size_t index, bool followChains) const {
  const auto head = static_cast<std::uint32_t>(m_deletedFolders[index].cluster);
  if (!followChains) return {head};
  std::vector<std::uint32_t> clusters = FollowFatChain(head);
  if (clusters.size() == 1) {
    // A folder kept as one run: the directory clusters that go on from it.
    const std::uint64_t most = std::max<std::uint64_t>(1, kExFatMaxDirectoryBytes / ClusterBytes());
    for (std::size_t i = index; clusters.size() < most && RunsOn(i); ++i)
      clusters.push_back(static_cast<std::uint32_t>(m_deletedFolders[i + 1].cluster));
  }
  return clusters;
}

void ExFatEngine::SendLostFolder(std::uint32_t itemId, std::uint32_t cluster, std::u16string_view name) {
  FoundItemInfo record;
  record.parentId = itemId == kExFatLostFolderId ? kFatRootId : kExFatLostFolderId;
  record.itemId = itemId;
  record.location = cluster;
  record.attribute = kItemFolder;
  Send(record, name);
  Progress().StepIt();
  AddWalkedFolder(cluster);
  if (itemId != kExFatLostFolderId && m_bMarkFlag) MarkClustersUsed(record);
}

void ExFatEngine::AddLostFolders(bool followChains) {
  m_host.AppendLog(LoadString(kIdsAddingLost), false);
  bool topSent = false;
  // A candidate that another one leads to (the later clusters of a folder)
  // is read with that folder, not listed again as a folder of its own. Such
  // candidates come in later rounds only when no walk has read them (a chain
  // that loops back to its start, a folder cut short), those that begin
  // inside a set last: a loop is best read from where its sets begin.
  const std::vector<bool> reached =
      followChains ? ReachedCandidates() : std::vector<bool>(m_deletedFolders.size(), false);
  // The root the boot sector names (its backup's, when the main one was
  // unusable) is listed as the root, where Quick Recovery shows its items,
  // when its cluster looks like a directory.
  if (followChains) {
    const auto root = std::lower_bound(m_deletedFolders.begin(), m_deletedFolders.end(), std::uint64_t{m_nRootCluster},
                                       [](const ExFatDeletedFolder& n, std::uint64_t c) { return n.cluster < c; });
    if (root != m_deletedFolders.end() && root->cluster == m_nRootCluster && !Aborted()) {
      AddWalkedFolder(root->cluster);
      const auto index = static_cast<std::size_t>(root - m_deletedFolders.begin());
      WalkLostClusters(kFatRootId, LostFolderClusters(index, true), false);
    }
  }
  for (const int round : {0, 1, 2}) {
    // Walks of earlier candidates take the folders they meet off the list.
    for (std::size_t i = 0; i < m_deletedFolders.size() && !Aborted(); ++i) {
      const ExFatDeletedFolder& candidate = m_deletedFolders[i];
      const int its = !reached[i] ? 0 : candidate.continues ? 2 : 1;
      if (its != round) continue;
      const ExFatDeletedFolder node = candidate;
      const auto cluster = static_cast<std::uint32_t>(node.cluster);
      if (node.removed || IsWalkedFolder(node.cluster) || m_readClusters.count(cluster) != 0) continue;
      if (!topSent) {
        SendLostFolder(kExFatLostFolderId, 1, Utf8ToUtf16(LoadString(kIdsLostFolders)));
        topSent = true;
      }
      SendLostFolder(node.itemId, cluster, Utf8ToUtf16(LoadString(kIdsFolder) + " " + std::to_string(cluster)));
      WalkLostClusters(node.itemId, LostFolderClusters(i, followChains), !followChains);
    }
  }
  if (Aborted()) m_host.AppendLog(LoadString(kIdsProcessAborted), false);
}

void ExFatEngine::WalkLostFolder(std::uint32_t parentId, std::uint32_t firstCluster, bool forced, std::uint64_t size,
                                 bool fatChain) {
  WalkLostClusters(parentId, FolderClusters(firstCluster, size, fatChain, forced), forced);
}

void ExFatEngine::WalkLostClusters(std::uint32_t parentId, std::vector<std::uint32_t> clusters, bool forced) {
  // A cluster already read belongs to the folder it was read for, and so
  // does the rest of the chain behind it: each entry set is listed once.
  clusters.erase(std::find_if(clusters.begin(), clusters.end(),
                              [this](std::uint32_t c) { return m_readClusters.count(c) != 0; }),
                 clusters.end());
  if (clusters.empty() || !EnterFolder(clusters.front())) return;
  const std::uint64_t volumeBytes = m_nVolumeLength * kSectorSize;
  ForEachSet(clusters, [&](const exfat::EntrySet& set, std::uint32_t) {
    const std::uint32_t id = TakeItemId();
    if (!set.usable || set.validDataLength >= volumeBytes || set.firstCluster >= m_nVolumeLength) return;
    const FoundItemInfo record = RecordOf(set, parentId, id, forced || set.Deleted());
    if (!record.IsFolder()) {
      Send(record, set.name);
      return;
    }
    AddWalkedFolder(set.firstCluster);
    RemoveDeletedFolder(set.firstCluster);
    Send(record, set.name);
    WalkLostFolder(id, set.firstCluster, forced, record.size, set.UsesFatChain());
  });
  LeaveFolder();
}

}  // namespace corvan
