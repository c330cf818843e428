// The directory walkers of the tree pass: the root of each FAT kind, and
// one directory cluster at a time beneath it.

#include <algorithm>

#include "app/CORVANApp.h"
#include "app/Prompt.h"
#include "app/ProgressSink.h"
#include "app/StringTable.h"
#include "engines/fat/FatEngine.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"

namespace corvan {

namespace {

constexpr unsigned kIdsCreatingTree = 286;
constexpr unsigned kIdsMayTakeMinutes = 358;
constexpr std::uint32_t kModeAdvance = 506;
constexpr std::uint8_t kSourceFoundVolume = 3;

// Every folder reaches the results window as 0x10 and every file as 0x20,
// whatever else the entry's attribute byte says (hidden, system, read-only,
// no archive bit), so the window files each under the right heading.
void NormaliseAttribute(FoundItemInfo& record) {
  record.attribute = (record.attribute & kItemFolder) ? kItemFolder : kItemFile;
}

}  // namespace

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
  LogPhaseStart(LoadString(kIdsCreatingTree));
  WalkRoot();

  const bool nothingDeferred = std::none_of(m_visitedFolders.begin(), m_visitedFolders.end(),
                                            [](const VisitedFolderNode& n) { return !n.removed; });
  if (Aborted()) {
    // Stop unwinds without a message or a follow-up pass.
  } else if (m_nEntriesFound == 0 && nothingDeferred) {
    m_app.GetPrompt().MessageBoxId(kIdsMayTakeMinutes, kPicInformation, kMbOk);
    if (m_app.m_nRecoveryMode != kModeAdvance && m_nSourceKind != kSourceFoundVolume) {
      BuildClusterMap();
      RunFolderSearch();
    }
  } else {
    AddDeferredFolders(1);
  }
  m_visitedFolders.clear();
  LogPhaseEnd();
}

void FatEngine::WalkFat16Root() {
  std::vector<std::uint8_t> region;
  if (!ReadRootRegion(region)) return;
  for (std::uint32_t at = 0; at + 32 <= region.size(); at += 32) {
    if (Aborted() || region[at] == 0) break;
    if (ValidateDirEntry(region.data() + at, m_nHighestCluster, nullptr) != kDirEntryValid) continue;
    FoundItemInfo record;
    record.parentId = kFatRootId;
    std::u16string name;
    if (!DecodeDirEntry(at, name, region, record, kNoCluster, 0, false)) continue;
    NormaliseAttribute(record);
    HandleEntry(record, name, at, 0, kNoCluster, true, false, 0);
  }
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
      if (!DecodeDirEntry(at, name, buffer, record, previous, 0, false)) continue;
      if ((record.attribute & kItemFolder) && found > 2) record.location = found;
      if (m_bMarkFlag && m_nFatSource != kFatSourceContiguous) MarkItemClusters(c, nullptr, false);
      NormaliseAttribute(record);
      HandleEntry(record, name, at, c, previous, true, false, 0);
    }
    Progress().StepIt();
    if (end) break;
    previous = c;
  }
}

bool FatEngine::WalkDirectoryCluster(std::span<const std::uint8_t> cluster, FoundItemInfo& record,
                                     std::uint32_t previousCluster, std::uint32_t thisCluster,
                                     std::uint8_t walkFlag, std::uint32_t startOffset) {
  const bool walkedDeleted = record.IsDeleted();
  std::u16string name;
  for (std::uint64_t at = startOffset; at + 32 <= cluster.size(); at += 32) {
    if (Aborted()) return false;
    if (cluster[at] == 0) return false;
    record.flags = walkedDeleted ? kItemDeleted : 0;
    name.clear();
    if (!DecodeDirEntry(static_cast<std::uint32_t>(at), name, cluster, record, previousCluster, thisCluster,
                        false)) {
      continue;
    }
    const auto first = static_cast<std::uint32_t>(record.location);
    if (record.attribute == 0) {
      std::uint8_t sector[kSectorSize];
      record.attribute = ReadClusters(first, 0, sector, 1) && sector[0] == '.' ? kItemFolder : kItemFile;
    }
    NormaliseAttribute(record);
    if (walkFlag == 0) {
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
  if (!record.IsFolder()) {
    Post(record, name);
    return;
  }
  const std::uint64_t cluster = record.location;
  if (record.IsDeleted() && m_bLostFolderFlag == 0) {
    // Deleted folders wait until the live tree is listed.
    if (FindPair(cluster) || FindDeferredPair(cluster)) return;
    VisitedFolderNode node;
    node.cluster = cluster;
    node.parent = record.parentId;
    node.entryOffset = entryOffset;
    node.entryCluster = entryCluster;
    node.previousCluster = previousCluster;
    m_visitedFolders.push_back(node);
    return;
  }
  if (!fromRoot && FindPair(cluster)) return;
  AddFoundFolder(cluster, record.itemId);
  RemovePair(cluster);
  Post(record, name);
  WalkFolderChain(record.itemId, static_cast<std::uint32_t>(cluster), walkedDeleted, walkFlag);
}

}  // namespace corvan
