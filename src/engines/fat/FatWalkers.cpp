// The directory walkers of the tree pass: the root of each FAT kind, and
// one directory cluster at a time beneath it.

#include <algorithm>

#include "core/EngineHost.h"
#include "core/RecoveryMode.h"
#include "core/Prompt.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/fat/FatEngine.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"

namespace corvan {

void FatEngine::WalkRoot() {
  if (m_nFatKind == kFat32) {
    // A root cluster outside the data area is taken to be the first one.
    std::uint32_t root = m_nRootCluster;
    if (root < 2 || root > Layout().DataClusters() + 2) root = 2;
    WalkFat32Root(root);
  } else {
    WalkFat16Root();
  }
}

void FatEngine::BuildDirectoryTree() {
  m_host.LogPhaseStart(LoadString(kIdsCreatingTree));
  WalkRoot();

  const bool nothingDeferred = std::none_of(m_visitedFolders.begin(), m_visitedFolders.end(),
                                            [](const VisitedFolderNode& n) { return !n.removed; });
  if (Aborted()) {
    // Stop unwinds without a message or a follow-up pass.
  } else if (m_nPass != 0) {
    WalkDeferredFolders();
  } else if (!m_poster.Opened() && nothingDeferred) {
    m_host.GetPrompt().MessageBoxId(kIdsMayTakeMinutes, kPicInformation, kMbOk);
    if (m_host.RecoveryMode() != kModeAdvance && !IsDeepFind()) {
      BuildClusterMap();
      RunFolderSearch();
    }
  } else {
    AddDeferredFolders(1);
  }
  m_visitedFolders.clear();
  m_host.LogPhaseEnd();
}

void FatEngine::ForEachRootEntry(
    const std::function<void(const FoundItemInfo& record, const std::u16string& name, std::uint32_t at)>& visit,
    bool listEmptyFiles) {
  std::vector<std::uint8_t> region;
  if (!ReadRootRegion(region)) {
    if (!region.empty()) ReportReadFailure("sector", m_nVolumeStart + m_nReservedSectors + 2ull * m_nFatSize);
    return;
  }
  for (std::uint32_t at = 0; at + 32 <= region.size(); at += 32) {
    if (Aborted() || region[at] == 0) break;
    const std::uint8_t verdict = ValidateDirEntry(region.data() + at, m_nHighestCluster, nullptr);
    // The check calls an entry without a first cluster "skip"; an empty
    // file is one.
    const bool emptyFile = listEmptyFiles && verdict == kDirEntrySkip && IsLiveEmptyFileEntry(region.data() + at);
    if (verdict != kDirEntryValid && !emptyFile) continue;
    FoundItemInfo record;
    record.parentId = kFatRootId;
    std::u16string name;
    if (!DecodeDirEntry(at, name, region, record, kNoCluster, 0, false, listEmptyFiles)) continue;
    NormaliseItemAttribute(record);
    visit(record, name, at);
  }
}

void FatEngine::WalkFat16Root() {
  ForEachRootEntry(
      [this](const FoundItemInfo& record, const std::u16string& name, std::uint32_t at) {
        HandleEntry(record, name, at, 0, kNoCluster, true, false, 0);
      },
      true);
}

void FatEngine::WalkFat32Root(std::uint32_t rootCluster) {
  const std::vector<std::uint32_t> chain = FollowFatChain(rootCluster);
  std::vector<std::uint8_t> buffer(std::size_t{m_nSectorsPerCluster} * kSectorSize);
  std::uint32_t previous = kNoCluster;
  // Every cluster of the root is walked: a first cluster that holds only
  // folders says nothing about the ones after it.
  for (const std::uint32_t c : chain) {
    if (Aborted()) break;
    if (!ReadClusters(c, 0, buffer.data(), m_nSectorsPerCluster)) break;
    if (buffer[0] == '.') break;  // a folder's own first cluster, not the root
    bool end = false;
    for (std::uint32_t at = 0; at + 32 <= buffer.size(); at += 32) {
      const std::uint8_t* e = buffer.data() + at;
      if (e[0] == 0) {
        end = true;
        break;
      }
      std::uint32_t found = 0;
      if (ValidateDirEntry(e, m_nHighestCluster, &found) == kDirEntryInvalid) continue;
      FoundItemInfo record;
      record.parentId = kFatRootId;
      std::u16string name;
      if (!DecodeDirEntry(at, name, buffer, record, previous, 0, false, true)) continue;
      if ((record.attribute & kItemFolder) && found > 2) record.location = found;
      if (m_bMarkFlag && m_nFatSource != kFatSourceContiguous) MarkItemClusters(c, nullptr, false);
      NormaliseItemAttribute(record);
      HandleEntry(record, name, at, c, previous, true, false, 0);
    }
    Progress().StepIt();
    if (end) break;
    previous = c;
  }
}

bool FatEngine::WalkDirectoryCluster(std::span<const std::uint8_t> cluster, const FoundItemInfo& folder,
                                     std::uint32_t previousCluster, std::uint32_t thisCluster,
                                     std::uint8_t walkFlag, std::uint32_t startOffset, bool listEmptyFiles) {
  const bool walkedDeleted = folder.IsDeleted();
  std::u16string name;
  for (std::uint64_t at = startOffset; at + 32 <= cluster.size(); at += 32) {
    if (Aborted()) return false;
    if (cluster[at] == 0) return false;
    // Each entry starts from the folder's own state: a deleted entry before
    // it, in this cluster or the one before, says nothing about it.
    FoundItemInfo record;
    record.parentId = folder.parentId;
    record.flags = walkedDeleted ? kItemDeleted : 0;
    name.clear();
    if (!DecodeDirEntry(static_cast<std::uint32_t>(at), name, cluster, record, previousCluster, thisCluster,
                        false, listEmptyFiles)) {
      continue;
    }
    const auto first = static_cast<std::uint32_t>(record.location);
    if (record.attribute == 0) {
      // No cluster to look at: an empty file.
      std::uint8_t sector[kSectorSize];
      const bool folder = first >= 2 && ReadClusters(first, 0, sector, 1) && sector[0] == '.';
      record.attribute = folder ? kItemFolder : kItemFile;
    }
    NormaliseItemAttribute(record);
    if (walkFlag == 0 && first >= 2) {
      MarkItemClusters(first, &record, false);
      if (record.IsFolder()) RemovePendingFolder(first);
    }
    HandleEntry(record, name, static_cast<std::uint32_t>(at), thisCluster, previousCluster, false, walkedDeleted,
                walkFlag);
  }
  return true;
}

void FatEngine::HandleEntry(const FoundItemInfo& record, const std::u16string& name, std::uint32_t entryOffset,
                            std::uint32_t entryCluster, std::uint32_t previousCluster, bool fromRoot,
                            bool walkedDeleted, std::uint8_t walkFlag) {
  if (m_nPass != 0) {
    HandleDeletedPassEntry(record, name, entryOffset, entryCluster, previousCluster);
    return;
  }
  if (!record.IsFolder()) {
    Post(record, name);
    return;
  }
  const std::uint64_t cluster = record.location;
  if (record.IsDeleted() && m_bLostFolderFlag == 0) {
    // Deleted folders wait until the live tree is listed.
    if (FindPair(cluster) || FindDeferredPair(cluster)) return;
    DeferFolder(record, entryOffset, entryCluster, previousCluster, 0);
    return;
  }
  if (!fromRoot && FindPair(cluster)) return;
  AddFoundFolder(cluster, record.itemId);
  RemovePair(cluster);
  Post(record, name);
  WalkFolderChain(record.itemId, static_cast<std::uint32_t>(cluster), walkedDeleted, walkFlag, true);
}

void FatEngine::DeferFolder(const FoundItemInfo& record, std::uint32_t entryOffset, std::uint32_t entryCluster,
                            std::uint32_t previousCluster, std::uint32_t itemId) {
  VisitedFolderNode node;
  node.cluster = record.location;
  node.parent = record.parentId;
  node.entryOffset = entryOffset;
  node.entryCluster = entryCluster;
  node.previousCluster = previousCluster;
  node.itemId = itemId;
  m_visitedFolders.push_back(node);
}

void FatEngine::HandleDeletedPassEntry(const FoundItemInfo& record, const std::u16string& name,
                                       std::uint32_t entryOffset, std::uint32_t entryCluster,
                                       std::uint32_t previousCluster) {
  // Only deleted items are shown; the live folders on the path to one are
  // sent just before it, outermost first.
  const auto sendDeleted = [&] {
    if (!m_poster.Opened()) OpenResultsTree();
    if (m_poster.HasQueued()) FlushPendingItems();
    Post(record, name);
  };
  const std::uint64_t cluster = record.location;
  if (!record.IsFolder()) {
    if (record.IsDeleted()) sendDeleted();
    return;
  }
  if (record.IsDeleted()) {
    sendDeleted();
    if (FindPair(cluster) || FindDeferredPair(cluster)) return;
    DeferFolder(record, entryOffset, entryCluster, previousCluster, record.itemId);
    return;
  }
  if (FindPair(cluster)) return;
  AddFoundFolder(cluster, record.itemId);
  QueueItem(record, name);
  WalkFolderChain(record.itemId, static_cast<std::uint32_t>(cluster), false, 0);
  DropLastQueuedItem();
}

}  // namespace corvan
