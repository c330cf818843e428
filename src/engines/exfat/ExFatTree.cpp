// exFAT directories turned into found items: the hand-over to the results
// window with its counters, the queue of live folders that wait for a
// deleted item beneath them, the two folder lists, and the walks of the live
// tree and of the deleted folders it meets.

#include <algorithm>

#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "core/FoundItemSink.h"
#include "engines/exfat/ExFatEngine.h"
#include "sources/SectorSource.h"
#include "sources/SourceRecords.h"

namespace corvan {

namespace {

constexpr std::int64_t kProgressRange = 100000;
// The root stands in at this cluster when the boot sector names none.
constexpr std::uint32_t kDefaultRootCluster = 4;

}  // namespace

// ---- hand-over ----

void ExFatEngine::OpenResultsTree() { m_poster.OpenRoot(kProgressRange); }

void ExFatEngine::Send(const FoundItemInfo& record, std::u16string_view name, bool addFolderSize) {
  if (!m_poster.Opened()) OpenResultsTree();
  FoundItemPoster::PostStyle style;
  style.counter = FoundItemPoster::Counter::EntriesFound;
  style.step = false;
  style.folderBytes = addFolderSize;
  m_poster.Post(record, name, style);
}

void ExFatEngine::QueuePendingItem(const FoundItemInfo& record, std::u16string_view name) {
  m_poster.Queue(record, name);
}

void ExFatEngine::DropLastPendingItem() { m_poster.DropLastQueued(); }

void ExFatEngine::FlushPendingItems() {
  if (!m_poster.HasQueued()) return;
  // The root goes first: the queued folders are the first items of a
  // deleted-file pass.
  if (!m_poster.Opened()) OpenResultsTree();
  m_poster.FlushQueue(FoundItemPoster::Counter::Number, [this](const FoundItemInfo& record) {
    if (m_bMarkFlag) MarkClustersUsed(record);
  });
}

// ---- folder lists ----

void ExFatEngine::AddDeletedFolder(const FoundItemInfo& record, std::u16string_view name, std::uint32_t entryOffset,
                                   std::uint32_t entryCluster) {
  ExFatDeletedFolder node;
  node.cluster = record.Location32();
  node.parentId = record.parentId;
  node.itemId = record.itemId;
  node.entryOffset = entryOffset;
  node.entryCluster = entryCluster;
  node.size = record.size;
  node.fatChain = (record.flags & kExFatItemFatChain) != 0;
  node.record = record;
  node.name = std::u16string(name);
  m_deletedFolders.push_back(std::move(node));
  ++m_deletedCount[m_deletedFolders.back().cluster];
}

bool ExFatEngine::IsKnownDeletedFolder(std::uint64_t cluster) const {
  const auto it = m_deletedCount.find(cluster);
  return it != m_deletedCount.end() && it->second > 0;
}

bool ExFatEngine::RemoveDeletedFolder(std::uint64_t cluster) {
  if (!IsKnownDeletedFolder(cluster)) return false;
  for (ExFatDeletedFolder& node : m_deletedFolders) {
    if (node.removed || node.cluster != cluster) continue;
    node.removed = true;
    --m_deletedCount[cluster];
    return true;
  }
  return false;
}

void ExFatEngine::FreeDeletedFolders() {
  m_deletedFolders.clear();
  m_deletedCount.clear();
}

bool ExFatEngine::EnterFolder(std::uint64_t cluster) {
  if (m_nDepth >= kExFatMaxWalkDepth || !m_descended.insert(cluster).second) return false;
  ++m_nDepth;
  return true;
}

void ExFatEngine::LeaveFolder() {
  if (m_nDepth > 0) --m_nDepth;
}

// ---- entry sets ----

FoundItemInfo ExFatEngine::RecordOf(const exfat::EntrySet& set, std::uint32_t parentId, std::uint32_t itemId,
                                    bool deleted) const {
  FoundItemInfo r;
  r.flags = static_cast<std::uint8_t>((deleted ? kItemDeleted : 0) | (set.UsesFatChain() ? kExFatItemFatChain : 0));
  // The size is the ValidDataLength, which the format keeps within the
  // DataLength; a damaged entry can name any size, so it is also cut to
  // what the file's clusters can hold, as its data will be read.
  r.size = BackedSize(std::min(set.validDataLength, set.dataLength), set.firstCluster, ReadsAsRun(r.flags));
  r.location = set.firstCluster;
  r.parentId = parentId;
  r.itemId = itemId;
  // The results window tells folders by the exact value 0x10.
  r.attribute = set.IsFolder() ? kItemFolder : kItemFile;
  r.modifiedTime = std::uint64_t{set.modifiedTime} << 32;
  r.creationTime = std::uint64_t{set.createTime} << 32;
  return r;
}

void ExFatEngine::AppendLookahead(const std::vector<std::uint32_t>& clusters, std::size_t index,
                                  std::vector<std::uint8_t>& window) const {
  std::uint32_t more = exfat::kMaxSetBytes;
  for (std::size_t next = index + 1; next < clusters.size() && more > 0; ++next) {
    const std::uint32_t sectors = std::min(m_nSectorsPerCluster, more / kSectorSize);
    const std::size_t at = window.size();
    window.resize(at + std::size_t{sectors} * kSectorSize);
    ReadClusters(sectors, clusters[next], 0, window.data() + at);
    more -= sectors * kSectorSize;
  }
}

void ExFatEngine::ForEachSet(const std::vector<std::uint32_t>& clusters,
                             const std::function<void(const exfat::EntrySet&, std::uint32_t)>& handle) {
  const std::size_t cb = ClusterBytes();
  std::vector<std::uint8_t> window;
  std::size_t carry = 0;  // where a set that ran into this cluster ended
  for (std::size_t i = 0; i < clusters.size(); ++i) {
    if (Aborted()) return;
    window.assign(cb, 0);
    // A cluster that cannot be read comes back as zeros and yields nothing.
    ReadClusters(m_nSectorsPerCluster, clusters[i], 0, window.data());
    m_readClusters.insert(clusters[i]);
    std::size_t end = 0;
    std::vector<exfat::EntrySet> sets = exfat::ScanDirectoryBuffer(window, carry, cb, &end);
    if (!sets.empty() && sets.back().cut && i + 1 < clusters.size()) {
      // The last set runs on into the folder's next cluster: read it whole.
      const std::size_t from = sets.back().offset;
      sets.pop_back();
      AppendLookahead(clusters, i, window);
      std::vector<exfat::EntrySet> rest = exfat::ScanDirectoryBuffer(window, from, cb, &end);
      sets.insert(sets.end(), std::make_move_iterator(rest.begin()), std::make_move_iterator(rest.end()));
    }
    carry = end > cb ? end - cb : 0;
    for (const exfat::EntrySet& set : sets) handle(set, clusters[i]);
    Progress().StepIt();
  }
}

std::vector<std::uint32_t> ExFatEngine::FolderClusters(std::uint32_t firstCluster, std::uint64_t size, bool fatChain,
                                                       bool firstOnly) const {
  if (!IsHeapCluster(firstCluster)) return {};
  if (!fatChain) {
    // A contiguous folder is read as far as its size reaches, not only its
    // first cluster: the entries of its later clusters are no less live.
    const std::uint64_t bytes = std::clamp<std::uint64_t>(size, 1, kExFatMaxDirectoryBytes);
    return GetClusterChain(firstCluster, bytes, true);
  }
  if (firstOnly) return {firstCluster};
  return FollowFatChain(firstCluster);
}

// ---- walks ----

void ExFatEngine::WalkClusters(const std::vector<std::uint32_t>& clusters, std::uint32_t parentId,
                               bool insideDeleted) {
  ForEachSet(clusters, [&](const exfat::EntrySet& set, std::uint32_t cluster) {
    const std::uint32_t id = TakeItemId();
    if (!set.usable) return;
    FoundItemInfo record = RecordOf(set, parentId, id, insideDeleted || set.Deleted());
    HandleItem(set, record, cluster);
  });
}

void ExFatEngine::HandleItem(const exfat::EntrySet& set, FoundItemInfo& record, std::uint32_t cluster) {
  const bool folder = record.IsFolder();
  const bool deleted = record.IsDeleted();
  const std::uint32_t first = record.Location32();
  const bool contiguous = (record.flags & kExFatItemFatChain) == 0;
  if (m_nPass == 0) {
    if (!folder) {
      Send(record, set.name);
    } else if (!deleted) {
      AddWalkedFolder(first);
      RemoveDeletedFolder(first);
      Send(record, set.name);
      WalkSubdirectory(contiguous, record.itemId, first, false, record.size);
    } else if (!IsWalkedFolder(first) && !IsKnownDeletedFolder(first)) {
      // Deleted folders wait until the live tree is listed.
      AddDeletedFolder(record, set.name, set.offset, cluster);
    }
    return;
  }
  // The deleted-file pass: live items only lead the way to deleted ones.
  if (!folder) {
    if (!deleted) return;
    FlushPendingItems();
    Send(record, set.name);
  } else if (!deleted) {
    AddWalkedFolder(first);
    QueuePendingItem(record, set.name);
    WalkSubdirectory(contiguous, record.itemId, first, false, record.size);
    DropLastPendingItem();
  } else {
    FlushPendingItems();
    Send(record, set.name, true);
    if (m_bMarkFlag) MarkClustersUsed(record);
    if (!IsWalkedFolder(first) && !IsKnownDeletedFolder(first)) AddDeletedFolder(record, set.name, set.offset, cluster);
  }
}

void ExFatEngine::WalkDirectory(std::uint32_t rootCluster) {
  if (!EnterFolder(rootCluster)) return;
  WalkClusters(FollowFatChain(rootCluster), kFatRootId, false);
  LeaveFolder();
}

void ExFatEngine::WalkSubdirectory(bool contiguous, std::uint32_t parentId, std::uint32_t firstCluster,
                                   bool insideDeleted, std::uint64_t size) {
  if (!EnterFolder(firstCluster)) return;
  WalkClusters(FolderClusters(firstCluster, size, !contiguous, insideDeleted), parentId, insideDeleted);
  LeaveFolder();
}

void ExFatEngine::AddDeletedItems() {
  m_host.AppendLog(LoadString(kIdsAddingDeleted), false);
  // The walks below append the deleted folders they meet, so the list is
  // walked by index and grows while it is walked (breadth first).
  for (std::size_t i = 0; i < m_deletedFolders.size() && !Aborted(); ++i) {
    const ExFatDeletedFolder node = m_deletedFolders[i];
    if (node.removed) continue;
    if (node.entryCluster == 0) break;
    // Sent under a new item id, as a second reading of its set would give it.
    FoundItemInfo record = node.record;
    record.itemId = TakeItemId();
    record.parentId = node.parentId;
    record.flags |= kItemDeleted;
    AddWalkedFolder(record.location);
    Send(record, node.name);
    Progress().StepIt();
    WalkSubdirectory((record.flags & kExFatItemFatChain) == 0, record.itemId, record.Location32(), true,
                     record.size);
  }
  if (Aborted()) m_host.AppendLog(LoadString(kIdsProcessAborted), false);
}

void ExFatEngine::WalkDeletedFolders() {
  m_host.AppendLog(LoadString(kIdsAddingDeleted), false);
  for (std::size_t i = 0; i < m_deletedFolders.size() && !Aborted(); ++i) {
    const ExFatDeletedFolder node = m_deletedFolders[i];
    if (node.removed || IsWalkedFolder(node.cluster)) continue;
    AddWalkedFolder(node.cluster);
    WalkSubdirectory(!node.fatChain, node.itemId, static_cast<std::uint32_t>(node.cluster), true, node.size);
  }
  if (Aborted()) m_host.AppendLog(LoadString(kIdsProcessAborted), false);
}

void ExFatEngine::WalkTreeFromRoot() {
  m_host.LogPhaseStart(LoadString(kIdsCreatingTree));
  m_descended.clear();
  m_readClusters.clear();
  m_nDepth = 0;
  if (m_nFileSystemKind != kFsExFat) return;
  WalkDirectory(WalkedRootCluster());
}

std::uint32_t ExFatEngine::WalkedRootCluster() const {
  const std::uint32_t root = m_nRootCluster;
  return root < kDefaultRootCluster || !IsHeapCluster(root) ? kDefaultRootCluster : root;
}

void ExFatEngine::BuildLiveTree() {
  WalkTreeFromRoot();
  if (!Aborted()) {
    if (m_nPass == 0) AddDeletedItems();
    else WalkDeletedFolders();
  }
  FreeDeletedFolders();
  m_host.LogPhaseEnd();
}

}  // namespace corvan
