// Directory clusters that nothing points to any more: the fixed root of a
// FAT12/16 volume, root-like chains of FAT32, and directory clusters left in
// free space. Their files are listed under "$Root%d" or "$Broken%d", and the
// folder names they hold name the folders found elsewhere.

#include <algorithm>
#include <cstring>

#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "core/FoundItemSink.h"
#include "engines/fat/FatEngine.h"
#include "platform/ByteCodec.h"
#include "platform/TextConv.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"

namespace corvan {

namespace {

// Files of 1 to 9 bytes say too little to make a cluster a directory.
constexpr std::uint32_t kMinCountedSize = 10;
constexpr std::uint32_t kStatusEvery = 32;
constexpr std::uint32_t kBlockSectors = 2048;

std::u16string SyntheticName(const char* prefix, std::uint32_t cluster) {
  return Utf8ToUtf16(prefix + std::to_string(cluster));
}

// How many entries of a candidate cluster look like a directory's.
struct EntryCount {
  std::uint32_t counted = 0;
  std::vector<std::uint32_t> offsets;  // of the counted entries
  bool endMarker = false;              // the count ended at an all-zero entry
  bool rejectedEarly = false;          // a rejected entry before the last sector
};

// Reads clusters for a pass that visits them in order, a block at a time,
// so that one cluster costs no read of its own.
class ClusterBlocks {
 public:
  explicit ClusterBlocks(FatEngine& engine)
      : engine_(engine),
        perBlock_(std::max<std::uint32_t>(1, kBlockSectors / std::max<std::uint32_t>(1, engine.SectorsPerCluster()))),
        clusterBytes_(std::size_t{engine.SectorsPerCluster()} * kSectorSize),
        block_(perBlock_ * clusterBytes_) {}

  std::span<const std::uint8_t> Cluster(std::uint32_t cluster) {
    if (!valid_ || cluster < first_ || cluster >= first_ + perBlock_) {
      first_ = cluster;
      valid_ = true;
      // ReadClusters zero-fills what lies outside the volume or failed.
      const auto sectors = static_cast<std::uint16_t>(perBlock_ * engine_.SectorsPerCluster());
      if (!engine_.ReadClusters(cluster, 0, block_.data(), sectors)) {
        // Clusters past the volume's end are zeros; a failed read in the
        // middle is read again cluster by cluster so one bad sector costs
        // only its cluster.
        for (std::uint32_t k = 0; k < perBlock_; ++k) {
          engine_.ReadClusters(cluster + k, 0, block_.data() + k * clusterBytes_,
                               static_cast<std::uint16_t>(engine_.SectorsPerCluster()));
        }
      }
    }
    return {block_.data() + (cluster - first_) * clusterBytes_, clusterBytes_};
  }

 private:
  FatEngine& engine_;
  std::uint32_t perBlock_;
  std::size_t clusterBytes_;
  std::vector<std::uint8_t> block_;
  std::uint32_t first_ = 0;
  bool valid_ = false;
};

}  // namespace

namespace {

// Counts entries from the first: an entry with first byte 0 ends the count
// (an end marker when its first four bytes are 0), so does one the entry
// check rejects; "skip" entries are passed over; a valid entry counts when
// its size is 0 or at least 10 bytes.
template <typename Validate>
EntryCount CountDirEntries(std::span<const std::uint8_t> data, bool dotEnds, std::size_t earlyLimit,
                           const Validate& validate) {
  EntryCount n;
  if (data.empty() || (dotEnds && data[0] == '.')) return n;
  for (std::size_t at = 0; at + 32 <= data.size(); at += 32) {
    const std::uint8_t* e = data.data() + at;
    if (e[0] == 0) {
      n.endMarker = e[1] == 0 && e[2] == 0 && e[3] == 0;
      break;
    }
    const std::uint8_t verdict = validate(e);
    if (verdict == kDirEntryInvalid) {
      n.rejectedEarly = at < earlyLimit;
      break;
    }
    if (verdict == kDirEntrySkip) continue;
    const std::uint32_t size = GetLE32(e + 28);
    if (size != 0 && size < kMinCountedSize) continue;
    ++n.counted;
    n.offsets.push_back(static_cast<std::uint32_t>(at));
  }
  return n;
}

// A rejected entry before the cluster's last sector rejects the cluster.
std::size_t EarlyLimit(std::uint32_t sectorsPerCluster) {
  return std::size_t{sectorsPerCluster > 0 ? sectorsPerCluster - 1u : 0u} * kSectorSize;
}

}  // namespace

void FatEngine::RecoverOrphanFolders() {
  m_host.AppendLog(LoadString(kIdsAddingRootFiles), false);
  if (m_nFatKind == kFat32) {
    ScanOrphanRootClusters();
  } else {
    AddRootDirFiles();
  }
  if (Aborted()) {
    m_host.AppendLog(LoadString(kIdsProcessAborted), false);
    return;
  }
  m_host.AppendLog(LoadString(kIdsAddingBrokenFiles), false);
  ScanBrokenClusters();
  if (Aborted()) m_host.AppendLog(LoadString(kIdsProcessAborted), false);
}

void FatEngine::AddRootDirFiles() {
  ForEachRootEntry(
      [this](const FoundItemInfo& record, const std::u16string& name, std::uint32_t) {
        if (record.IsFolder()) {
          AddFolderNameNode(name, record.location);
          return;
        }
        // The tree walk may have listed the root already: a file is listed once.
        if (m_rootFileClusters.count(record.location) == 0) Post(record, name);
      },
      false);
}

void FatEngine::ScanOrphanRootClusters() {
  if (m_clusterMap.empty()) {
    ListRootCluster(2, true);
    return;
  }
  const std::uint32_t highest = m_nHighestCluster;
  const bool contiguous = m_nFatSource == kFatSourceContiguous || m_fat.empty();
  const std::string of = " " + LoadString(kIdsOf) + " ";
  ClusterBlocks blocks(*this);
  for (std::uint32_t c = 2; c < highest; ++c) {
    if (c % kStatusEvery == 0) {
      Progress().SetSectorText(LoadString(kIdsReadingCluster) + std::to_string(c) + of + std::to_string(highest));
    }
    if (Aborted() || c >= m_clusterMap.size()) break;
    if (m_clusterMap[c] != kClusterAllocated) continue;
    if (contiguous && SweptWithoutEntries(c)) {
      MarkClusterFound(c);  // as ListOrphanCluster would, without reading it again
    } else if (contiguous) {
      ListOrphanCluster(c, blocks.Cluster(c), highest, false, true);
    } else {
      const auto entry = FatEntry(c);
      const bool deleted = entry && *entry == 0;
      MarkItemClusters(c, nullptr, false);
      ListRootCluster(c, deleted);
    }
  }
}

bool FatEngine::IsOrphanDirCandidate(std::uint32_t cluster) {
  std::vector<std::uint8_t> data(std::size_t{m_nSectorsPerCluster} * kSectorSize);
  if (!ReadClusters(cluster, 0, data.data(), m_nSectorsPerCluster)) return false;
  const EntryCount n = CountDirEntries(data, true, 0, [this](const std::uint8_t* e) {
    return ValidateDirEntry(e, m_nHighestCluster, nullptr);
  });
  return n.counted >= 2 || (n.counted == 1 && n.endMarker);
}

void FatEngine::ListRootCluster(std::uint32_t cluster, bool deleted) {
  if (!IsOrphanDirCandidate(cluster)) return;
  const std::vector<std::uint32_t> chain = FollowFatChain(cluster);
  std::vector<std::uint8_t> data(std::size_t{m_nSectorsPerCluster} * kSectorSize);
  std::optional<std::uint32_t> folderId;
  std::uint32_t previous = kNoCluster;
  for (std::size_t i = 0; i < chain.size() && !Aborted(); ++i) {
    const std::uint32_t c = chain[i];
    if (!ReadClusters(c, 0, data.data(), m_nSectorsPerCluster)) ReportReadFailure("cluster", c);
    if (data[0] == '.') break;  // a folder's own first cluster: not a root
    bool listedFile = false;
    bool end = false;
    for (std::uint32_t at = 0; at + 32 <= data.size() && !Aborted(); at += 32) {
      const std::uint8_t* e = data.data() + at;
      if (e[0] == 0) {
        end = true;
        break;
      }
      if (ValidateDirEntry(e, m_nHighestCluster, nullptr) != kDirEntryValid) continue;
      FoundItemInfo record;
      record.parentId = kFatRootId;
      std::u16string name;
      if (!DecodeDirEntry(at, name, data, record, previous, 0, false)) continue;
      if (deleted) record.flags |= kItemDeleted;
      NormaliseItemAttribute(record);
      if (record.IsFolder()) {
        if (record.location > 2) AddFolderNameNode(name, record.location);
        continue;
      }
      MarkItemClusters(record.Location32(), &record, false);
      if (cluster != 2) {
        if (!folderId) {
          folderId = FoundFolderId(cluster);
          if (!folderId) {
            FoundItemInfo folder;
            folder.attribute = kItemFolder;
            folder.location = cluster;
            folder.itemId = m_poster.TakeId();
            folder.parentId = kFatRootId;
            PostNamedByCluster(folder, SyntheticName("$Root", cluster));
            AddFoundFolder(cluster, folder.itemId);
            folderId = folder.itemId;
          }
        }
        record.parentId = *folderId;
      } else if (m_rootFileClusters.count(record.location) != 0) {
        continue;  // the root walk listed it already
      }
      Post(record, name);
      listedFile = true;
    }
    if (end) break;
    // Without the deleted-file pass a chain whose first cluster lists no
    // file is not read on.
    if (m_nPass == 0 && i == 0 && !listedFile) break;
    previous = c;
  }
}

std::uint8_t FatEngine::OrphanEntryVerdict(const std::uint8_t* e, std::uint32_t highest, bool checkFolders) const {
  const std::uint8_t verdict = ClassifyDirEntry(e, m_nHighestCluster, false, nullptr, checkFolders);
  if (verdict != kDirEntryValid) return verdict;
  const std::uint16_t low = GetLE16(e + 26);
  return (low != 0 && low <= highest) ? kDirEntryValid : kDirEntryInvalid;
}

void FatEngine::NoteSweptClusters(std::uint32_t first, std::uint32_t count, std::span<const std::uint8_t> data) {
  const std::size_t clusterBytes = std::size_t{m_nSectorsPerCluster} * kSectorSize;
  for (std::uint32_t k = 0; k < count && first + k < m_sweptClusters.size(); ++k) {
    // Counted as the broken-cluster pass counts, less its two checks that
    // only ever turn a cluster down (a "." first entry, and a folder entry
    // whose folder does not begin with dot entries): a cluster this turns
    // down, that pass turns down too, and so does the contiguous root pass.
    const EntryCount n = CountDirEntries(data.subspan(k * clusterBytes, clusterBytes), false,
                                         EarlyLimit(m_nSectorsPerCluster), [this](const std::uint8_t* e) {
                                           return OrphanEntryVerdict(e, m_nHighestCluster, false);
                                         });
    m_sweptClusters[first + k] = true;
    m_entryClusters[first + k] = !n.rejectedEarly && n.counted > 0;
  }
}

bool FatEngine::SweptWithoutEntries(std::uint32_t cluster) const {
  return !IsDeepFind() && cluster < m_sweptClusters.size() && m_sweptClusters[cluster] && !m_entryClusters[cluster];
}

bool FatEngine::ListOrphanCluster(std::uint32_t cluster, std::span<const std::uint8_t> data, std::uint32_t highest,
                                  bool broken, bool deleted) {
  MarkClusterFound(cluster);
  const EntryCount n = CountDirEntries(data, broken, EarlyLimit(m_nSectorsPerCluster),
                                       [&](const std::uint8_t* e) { return OrphanEntryVerdict(e, highest, true); });
  if (n.rejectedEarly || n.counted == 0) return false;
  if (n.counted <= 2) {
    if (n.counted == 1 && !n.endMarker) return false;
    // The decode test takes no item id for good.
    const std::uint32_t ids = m_poster.NextId();
    for (const std::uint32_t at : n.offsets) {
      FoundItemInfo probe;
      std::u16string name;
      const bool decodes = DecodeDirEntry(at, name, data, probe, kNoCluster, 0, false);
      m_poster.SetNextId(ids);
      if (!decodes) return false;
    }
  }

  FoundItemInfo folder;
  folder.attribute = kItemFolder;
  folder.location = cluster;
  folder.itemId = m_poster.TakeId();
  folder.parentId = kFatRootId;
  if (deleted) folder.flags = kItemDeleted;
  PostNamedByCluster(folder, SyntheticName(broken ? "$Broken" : "$Root", cluster));
  AddFoundFolder(cluster, folder.itemId);

  for (std::uint32_t at = 0; at + 32 <= data.size() && !Aborted(); at += 32) {
    if (data[at] == 0) break;
    if (ValidateDirEntry(data.data() + at, m_nHighestCluster, nullptr) != kDirEntryValid) continue;
    FoundItemInfo record;
    record.parentId = folder.itemId;
    if (deleted) record.flags = kItemDeleted;
    std::u16string name;
    if (!DecodeDirEntry(at, name, data, record, kNoCluster, 0, false)) continue;
    if (deleted) record.flags |= kItemDeleted;
    NormaliseItemAttribute(record);
    if (record.IsFolder()) {
      if (!broken && record.location > 2) AddFolderNameNode(name, record.location);
      continue;
    }
    MarkClusterFound(record.location);
    Post(record, name);
  }
  return true;
}

void FatEngine::ScanBrokenClusters() {
  if (m_clusterMap.empty()) return;
  const std::uint32_t highest = m_nHighestCluster;
  ProgressSink& progress = Progress();
  progress.SetSecondPos(0);
  progress.SetSecondRange(0, highest);
  const bool contiguous = m_nFatSource == kFatSourceContiguous || m_fat.empty();
  ClusterBlocks blocks(*this);
  for (std::uint32_t c = 2; c < highest; ++c) {
    if (c % kStatusEvery == 0) {
      progress.SetSecondPos(c);
      progress.SetSectorText(LoadString(kIdsReadingCluster) + " " + std::to_string(c) + " " + LoadString(kIdsOf) +
                             " " + std::to_string(highest) + " ");
    }
    if (Aborted() || c >= m_clusterMap.size()) break;
    if (m_clusterMap[c] != kClusterFree) continue;
    if (SweptWithoutEntries(c)) {
      MarkClusterFound(c);  // as ListOrphanCluster would, without reading it again
      continue;
    }
    const auto entry = FatEntry(c);
    const bool deleted = contiguous || (entry && *entry == 0);
    const std::span<const std::uint8_t> data = blocks.Cluster(c);
    if (ListOrphanCluster(c, data, highest, true, deleted) || !deleted || !IsDeepFind()) continue;
    // On a volume a deep search found, a free cluster that is no folder may
    // begin a file of a selected type.
    std::uint32_t skipTo = c;
    CarveOrphanCluster(c, data.data(), highest, skipTo);
    if (skipTo > c + 1) c = skipTo - 1;
  }
}

void FatEngine::AddFolderNameNode(std::u16string_view name, std::uint64_t cluster) {
  m_folderNames.push_back({cluster, std::u16string(name), false});
}

void FatEngine::ApplyFolderNames() {
  for (FolderNameNode& node : m_folderNames) {
    if (node.applied) continue;
    const auto it = m_namedByCluster.find(node.cluster);
    if (it == m_namedByCluster.end()) continue;
    Console().UpdateFoundItemName(it->second, node.name);
    node.applied = true;
  }
}

}  // namespace corvan
