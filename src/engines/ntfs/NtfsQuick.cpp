// Quick Recovery: the live tree from the folder indexes, from the root down,
// then the records the tree did not reach (deleted or unlinked), placed
// under their parents or under "Lost folder(s)", and the sizes of deleted
// files whose runs only the journal still knows.

#include <algorithm>
#include <unordered_map>

#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/ntfs/NtfsEngine.h"
#include "engines/ntfs/NtfsLogFile.h"
#include "platform/TextConv.h"

namespace corvan {

namespace {

// User records start here; the ones before belong to the file system.
constexpr std::uint64_t kFirstUserRecord = 16;

// An INDX block size the format allows; anything else is damage.
bool ValidIndexBlockSize(std::uint32_t size) {
  return size >= 512 && size <= 65536 && (size & (size - 1)) == 0;
}

// The largest journal read whole into memory.
constexpr std::uint64_t kMaxJournalBytes = 256u << 20;

// QuickRecordFacts::bits.
constexpr std::uint8_t kFactTaken = 0x01;       // filled in the $MFT pass (else the record is read when asked)
constexpr std::uint8_t kFactLoaded = 0x02;      // a sound FILE record
constexpr std::uint8_t kFactInUse = 0x04;
constexpr std::uint8_t kFactDirectory = 0x08;   // the record's own flag
constexpr std::uint8_t kFactData = 0x10;        // it has an unnamed $DATA
constexpr std::uint8_t kFactSparseBeyond = 0x20;
constexpr std::uint8_t kFactIndexKept = 0x40;   // its $I30 index is in m_quickFolders
constexpr std::uint8_t kFactIndexLeft = 0x80;   // it has one that was not kept: read it when listed

// The folder indexes kept from the $MFT pass, at most: beyond, a folder's
// records are read again when it is listed.
constexpr std::size_t kMaxKeptIndexBytes = 64u << 20;
// A $MFT claiming more records than this (a damaged size field, as no
// volume holds so many files) is read record by record as asked, in
// bounded memory, rather than through facts for every record.
constexpr std::uint64_t kMaxFactRecords = 1u << 25;

std::size_t IndexBytes(const ntfs::FileView& view) {
  return view.indexRoot->size() + view.indexBitmap.bytes.size() +
         (view.indexAllocation.extents.size() + view.indexBitmap.extents.size()) * sizeof(DataExtent) + 256;
}

std::u16string WithNumber(std::string_view text, std::uint32_t n) {
  return Utf8ToUtf16(std::string(text) + std::to_string(n));
}

}  // namespace

void NtfsEngine::QuickTree() {
  m_host.LogPhaseStart(LoadString(kIdsCreatingTree));
  MarkVisited(kRootRecord);
  TakeQuickFacts();
  ListTree(kRootRecord);
  if (!Aborted()) {
    if (!m_poster.Opened()) PostRootChildrenByScan();
    if (!Aborted()) AddUnreachedItems();
  }
  ReleaseQuickFacts();
  PostRootIfFirst();  // the root stands even on an empty volume
  m_host.LogPhaseEnd();
}

// The tree walk meets files in the order of their folders' indexes and the
// pass that follows goes through every record: both ask their questions of
// facts taken in one front-to-back read of the $MFT, so no record is read
// twice. A record with an attribute list is left to be read when asked (its
// other records lie anywhere).
void NtfsEngine::TakeQuickFacts() {
  ReleaseQuickFacts();
  if (m_nMftRecords > kMaxFactRecords) return;
  m_quickFacts.assign(static_cast<std::size_t>(m_nMftRecords), QuickRecordFacts{});
  std::size_t keptBytes = 0;
  ntfs::MftRecord record;
  ForEachMftRecord(0, [&](std::uint64_t r, std::span<std::uint8_t, ntfs::kMftRecordSize> bytes) {
    QuickRecordFacts& facts = m_quickFacts[static_cast<std::size_t>(r)];
    if (ntfs::ApplyRecordFixup(bytes) != ntfs::FixupStatus::Ok || !record.ParseInPlace(bytes)) {
      facts.bits = kFactTaken;
      return true;
    }
    ntfs::FileView view = ntfs::BuildFileView(r, record, nullptr, nullptr);
    if (view.hasAttributeList) return true;
    facts = FactsOf(view);
    if (view.indexRoot) {
      const std::size_t bytesKept = IndexBytes(view);
      if (keptBytes + bytesKept <= kMaxKeptIndexBytes) {
        keptBytes += bytesKept;
        m_quickFolders.emplace(static_cast<std::uint32_t>(r),
                               FolderIndex{std::move(*view.indexRoot), std::move(view.indexAllocation),
                                           std::move(view.indexBitmap)});
        facts.bits |= kFactIndexKept;
      } else {
        facts.bits |= kFactIndexLeft;
      }
    }
    return true;
  });
}

void NtfsEngine::ReleaseQuickFacts() {
  m_quickFacts.clear();
  m_quickFacts.shrink_to_fit();
  m_quickFolders.clear();
}

NtfsEngine::QuickRecordFacts NtfsEngine::FactsOf(const ntfs::FileView& view) const {
  QuickRecordFacts facts;
  facts.bits = kFactTaken | kFactLoaded;
  if (view.InUse()) facts.bits |= kFactInUse;
  if (view.IsDirectory()) facts.bits |= kFactDirectory;
  facts.sequence = view.sequence;
  if (view.data.present) {
    facts.bits |= kFactData;
    facts.claimedSize = view.data.size;
    facts.mappedSize = MappedSize(view.data);
    if (SparseBeyondVolume(view.data)) facts.bits |= kFactSparseBeyond;
  }
  // Listed when unreached: a base record with the usual flags and a name.
  const ntfs::FileNameInfo* name = ntfs::ChooseFileName(view.names);
  if (ntfs::ReferenceRecord(view.baseReference) == 0 && view.recordFlags <= 3 && name)
    facts.waitParent = name->ParentRecord();
  return facts;
}

NtfsEngine::QuickRecordFacts NtfsEngine::RecordFacts(std::uint64_t record) {
  if (record < m_quickFacts.size() && (m_quickFacts[static_cast<std::size_t>(record)].bits & kFactTaken))
    return m_quickFacts[static_cast<std::size_t>(record)];
  ntfs::FileView view;
  return LoadFileView(record, view) ? FactsOf(view) : QuickRecordFacts{};
}

bool NtfsEngine::FolderIndexOf(std::uint64_t record, FolderIndex& out) {
  if (record < m_quickFacts.size()) {
    const std::uint8_t bits = m_quickFacts[static_cast<std::size_t>(record)].bits;
    if ((bits & kFactTaken) && !(bits & (kFactIndexKept | kFactIndexLeft))) return false;
    if (bits & kFactIndexKept) {
      const auto it = m_quickFolders.find(static_cast<std::uint32_t>(record));
      if (it != m_quickFolders.end()) {
        out = std::move(it->second);
        m_quickFolders.erase(it);
        return true;
      }
    }
  }
  ntfs::FileView view;
  if (!LoadFileView(record, view) || !view.indexRoot) return false;
  out = FolderIndex{std::move(*view.indexRoot), std::move(view.indexAllocation), std::move(view.indexBitmap)};
  return true;
}

std::vector<ntfs::IndexEntry> NtfsEngine::ListDirectory(std::uint64_t record) {
  std::vector<ntfs::IndexEntry> entries;
  MarkVisited(record);
  FolderIndex folder;
  if (!FolderIndexOf(record, folder)) return entries;
  const auto root = ntfs::ParseIndexRoot(folder.root);
  if (!root) return entries;
  std::vector<ntfs::IndexEntry> rootEntries;
  ntfs::ParseIndexNode(root->node, rootEntries);

  const ntfs::AttributeData& alloc = folder.allocation;
  if (alloc.present && !alloc.resident && !alloc.extents.empty()) {
    const std::uint32_t blockSize = ValidIndexBlockSize(root->blockSize) ? root->blockSize : 4096;
    // Blocks the index no longer uses still say "INDX" and hold stale entries.
    std::vector<std::uint8_t> bitmap;
    if (folder.bitmap.present)
      bitmap = folder.bitmap.resident ? folder.bitmap.bytes : ReadAttributeData(folder.bitmap, 1u << 20);
    FileDataLayout layout = ntfs::LayoutOf(alloc, ClusterBytes());
    if (layout.size == 0) layout.size = alloc.allocatedSize;
    std::vector<std::uint8_t> block;
    block.reserve(blockSize);
    std::uint64_t index = 0;
    WalkFileData(layout, MakeClusterReader(), [&](const DataBlock& b) {
      std::size_t at = 0;
      while (at < b.bytes.size()) {
        const std::size_t take = std::min<std::size_t>(blockSize - block.size(), b.bytes.size() - at);
        block.insert(block.end(), b.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                     b.bytes.begin() + static_cast<std::ptrdiff_t>(at + take));
        at += take;
        if (block.size() < blockSize) continue;
        const bool inUse = !folder.bitmap.present ||
                           (index / 8 < bitmap.size() && (bitmap[static_cast<std::size_t>(index / 8)] >> (index % 8)) & 1);
        if (inUse && ntfs::ApplyFixup(block, "INDX") == ntfs::FixupStatus::Ok)
          ntfs::ParseIndexNode(std::span<const std::uint8_t>(block).subspan(0x18), entries);
        block.clear();
        ++index;
        if (Aborted()) return false;
      }
      return true;
    });
  }
  entries.insert(entries.end(), rootEntries.begin(), rootEntries.end());
  return entries;
}

void NtfsEngine::ListTree(std::uint32_t folder) {
  // Depth first, as the folders are met, with an explicit stack: a deep or
  // looping tree costs memory, never the thread's stack.
  struct Frame {
    std::uint32_t folder;
    std::vector<ntfs::IndexEntry> entries;
    std::size_t next;
  };
  std::vector<Frame> stack;
  stack.push_back({folder, ListDirectory(folder), 0});
  while (!stack.empty() && !Aborted()) {
    Frame& top = stack.back();
    if (top.next >= top.entries.size()) {
      stack.pop_back();
      continue;
    }
    const ntfs::IndexEntry entry = std::move(top.entries[top.next++]);
    if (PostIndexEntry(top.folder, entry) && entry.key.IsDirectory()) {
      const auto record = static_cast<std::uint32_t>(ntfs::ReferenceRecord(entry.reference));
      stack.push_back({record, ListDirectory(record), 0});
    }
  }
}

bool NtfsEngine::PostIndexEntry(std::uint32_t folder, const ntfs::IndexEntry& entry) {
  const ntfs::FileNameInfo& key = entry.key;
  // A DOS short name has a twin entry with the file's real name.
  if (key.nameSpace == ntfs::kNameDos) return false;
  const std::uint64_t reference = ntfs::ReferenceRecord(entry.reference);
  if (reference == 0 || reference == 1 || reference == kRootRecord || reference >= m_nMftRecords) return false;
  const auto record = static_cast<std::uint32_t>(reference);
  std::uint32_t parent = key.ParentRecord();
  if (parent == 0) return false;
  // Posted already: a second link to the file, or an index that loops.
  if (IsVisited(record) || m_postedIds.count(record)) return false;

  FoundItemInfo item;
  item.location = record;
  item.itemId = record;
  item.parentId = parent;
  item.attribute = key.IsDirectory() ? kItemFolder : kItemFile;
  item.modifiedTime = key.modificationTime;
  item.creationTime = key.creationTime;
  item.flags = ItemFlagsFromAttributes(key.flags);
  std::uint64_t claimed = 0;  // what the size field says
  bool sparseBeyondVolume = false;
  if (!item.IsFolder()) {
    item.size = claimed = key.realSize;
    // The index copy of the size may lag behind the file; its record has
    // the size the data really has, as far as its runs back it.
    const QuickRecordFacts facts = RecordFacts(record);
    constexpr std::uint8_t kSizeFromRecord = kFactLoaded | kFactInUse | kFactData;
    if ((facts.bits & kSizeFromRecord) == kSizeFromRecord &&
        (ntfs::ReferenceSequence(entry.reference) == 0 ||
         ntfs::ReferenceSequence(entry.reference) == facts.sequence)) {
      claimed = facts.claimedSize;
      item.size = facts.mappedSize;
      sparseBeyondVolume = (facts.bits & kFactSparseBeyond) != 0;
    }
  }
  // A size the volume cannot hold is a damaged field, unless the file is
  // sparse and its runs vouch for it.
  if (claimed >= VolumeBytes() && !sparseBeyondVolume) return false;

  if (parent != folder && !IsKnownFolder(parent)) {
    if (m_postedIds.count(parent)) {
      parent = folder;  // the id is taken by a file: keep the entry where it was found
      item.parentId = parent;
    } else {
      PostPlaceholderFolder(parent, kRootRecord, WithNumber("REF-", parent));
    }
  }
  PostFoundItem(item, key.name);
  return true;
}

void NtfsEngine::PostRootChildrenByScan() {
  PostRootIfFirst();
  for (std::uint64_t r = kFirstUserRecord; r < m_nMftRecords && !Aborted(); ++r) {
    // Only what is posted here counts as handled: the records passed over
    // are still looked at by the pass over unreached records.
    if (IsVisited(r)) continue;
    ntfs::FileView view;
    if (!LoadFileView(r, view) || ntfs::ReferenceRecord(view.baseReference) != 0) continue;
    const ntfs::FileNameInfo* name = ntfs::ChooseFileName(view.names);
    if (!name || name->ParentRecord() != kRootRecord) continue;
    FoundItemInfo item;
    item.location = r;
    item.itemId = static_cast<std::uint32_t>(r);
    item.parentId = kRootRecord;
    if (PostRecordItem(view, item, nullptr) && item.IsFolder()) ListTree(item.itemId);
  }
}

void NtfsEngine::AddUnreachedItems() {
  m_host.AppendLog(LoadString(kIdsAddingDeleted), true);
  if (m_visited.empty()) return;
  for (std::uint64_t r = kFirstUserRecord; r < m_nMftRecords && !Aborted(); ++r) {
    if (IsVisited(r)) continue;
    MarkVisited(r);
    // Base records with the usual flags and a name that gives a parent.
    const QuickRecordFacts facts = RecordFacts(r);
    if (facts.waitParent == 0) continue;
    const WaitingItem w{static_cast<std::uint32_t>(r), facts.waitParent, false};
    (facts.bits & kFactDirectory ? m_waitingFolders : m_waitingFiles).push_back(w);
  }
  if (!Aborted()) PostUnreachedFolders();
  if (!Aborted()) PostUnreachedFiles();
  if (!m_keptRuns.empty()) UpdateLargeFilesFromJournal();
}

void NtfsEngine::EnsureLostFolder() {
  if (m_bLostFolderMade) return;
  PostPlaceholderFolder(kLostFolderId, kRootRecord, Utf8ToUtf16(LoadString(kIdsLostFolders)));
  m_bLostFolderMade = 1;
}

std::uint32_t NtfsEngine::LostParentFor(std::uint32_t missingParent) {
  EnsureLostFolder();
  if (IsKnownFolder(missingParent)) return missingParent;
  // An id already given to a file cannot become a folder as well.
  if (m_postedIds.count(missingParent) || missingParent == kLostFolderId) return kLostFolderId;
  PostPlaceholderFolder(missingParent, kLostFolderId, WithNumber(LoadString(kIdsFolder) + " ", missingParent));
  return missingParent;
}

void NtfsEngine::PostUnreachedFolders() {
  std::unordered_map<std::uint32_t, std::size_t> waiting;
  for (std::size_t i = 0; i < m_waitingFolders.size(); ++i) waiting.emplace(m_waitingFolders[i].record, i);
  auto parentWaits = [&](const WaitingItem& w) {
    const auto it = waiting.find(w.parent);
    return it != waiting.end() && !m_waitingFolders[it->second].done && w.parent != w.record;
  };
  std::size_t remaining = m_waitingFolders.size();
  while (remaining > 0 && !Aborted()) {
    bool progress = false;
    for (WaitingItem& w : m_waitingFolders) {
      if (w.done || Aborted()) continue;
      std::uint32_t parent = w.parent;
      if (parent != kRootRecord && !IsKnownFolder(parent)) {
        if (parentWaits(w)) continue;  // its parent is posted first
        if (parent == w.record) {
          // Its own parent: straight under the lost folder.
          EnsureLostFolder();
          parent = kLostFolderId;
        } else {
          parent = LostParentFor(parent);
        }
      }
      PostRecordByNumber(w.record, parent, false);
      w.done = true;
      --remaining;
      progress = true;
    }
    if (progress || remaining == 0) continue;
    // The rest name each other as parents: cut the loop at its first folder,
    // which goes under the lost folder; the others follow beneath it.
    for (WaitingItem& w : m_waitingFolders) {
      if (w.done) continue;
      EnsureLostFolder();
      PostRecordByNumber(w.record, kLostFolderId, false);
      w.done = true;
      --remaining;
      break;
    }
  }
}

void NtfsEngine::PostUnreachedFiles() {
  for (WaitingItem& w : m_waitingFiles) {
    if (Aborted()) return;
    const std::uint32_t parent =
        w.parent == kRootRecord || IsKnownFolder(w.parent) ? w.parent : LostParentFor(w.parent);
    PostRecordByNumber(w.record, parent, true);
    w.done = true;
  }
}

bool NtfsEngine::PostRecordByNumber(std::uint32_t record, std::uint32_t parent, bool queueForJournal) {
  ntfs::FileView view;
  if (!LoadFileView(record, view)) return false;
  FoundItemInfo item;
  item.location = record;
  item.itemId = record;
  item.parentId = parent;
  FoundItemHandle handle = kNoFoundItem;
  if (!PostRecordItem(view, item, &handle)) return false;
  if (queueForJournal && item.IsDeleted() && !item.IsFolder() && item.size == 0) QueueForJournal(record, view, handle);
  return true;
}

void NtfsEngine::QueueForJournal(std::uint32_t record, const ntfs::FileView& view, FoundItemHandle handle) {
  // A deleted file whose record lost its runs: the journal may know them.
  if (!view.data.present || view.data.resident || view.dataAttributeOffset == 0 || ClusterBytes() == 0) return;
  const std::uint64_t byte = std::uint64_t{record} * ntfs::kMftRecordSize;
  const std::uint64_t vcn = byte / ClusterBytes();
  for (const DataExtent& e : m_mftRuns) {
    if (e.sparse || vcn < e.vcn || vcn - e.vcn >= e.length) continue;
    KeptRunNode node;
    node.recordNumber = record;
    node.recordVcn = vcn;
    node.recordLcn = e.lcn + (vcn - e.vcn);
    node.blockInCluster = static_cast<std::uint16_t>((byte % ClusterBytes()) / 512);
    node.dataAttributeOffset = static_cast<std::uint16_t>(view.dataAttributeOffset);
    node.pairsOffset = static_cast<std::uint16_t>(view.dataPairsOffset);
    node.compressed = view.data.IsCompressed();
    node.item = handle;
    m_keptRuns.push_back(std::move(node));
    return;
  }
}

bool NtfsEngine::PostRecordItem(const ntfs::FileView& view, FoundItemInfo& item, FoundItemHandle* handle) {
  const ntfs::FileNameInfo* name = ntfs::ChooseFileName(view.names);
  if (!name || name->name == u".") return false;
  if (view.standardInfo) {
    item.modifiedTime = view.standardInfo->modificationTime;
    item.creationTime = view.standardInfo->creationTime;
  }
  item.flags = RecordItemFlags(view);
  if (!view.InUse()) item.flags |= kItemDeleted;
  if (view.IsDirectory()) {
    item.attribute = kItemFolder;
    item.size = 0;
  } else {
    item.attribute = kItemFile;
    // A size the volume cannot hold is a damaged field, unless the file is
    // sparse and its runs vouch for it.
    if (view.data.present && view.data.size > VolumeBytes() && !SparseBeyondVolume(view.data)) return false;
    item.size = MappedSize(view.data);
  }
  const FoundItemHandle h = PostFoundItem(item, name->name);
  if (handle) *handle = h;
  return true;
}

bool NtfsEngine::FindLogFileRuns() {
  if (!m_logFileRuns.empty()) return true;
  if (m_bLogFileSearched) return false;
  m_bLogFileSearched = true;
  ntfs::FileView view;
  constexpr std::uint64_t kLogFileRecord = 2;
  if (!LoadFileView(kLogFileRecord, view) || !view.data.present || view.data.resident || !view.data.runsComplete)
    return false;
  m_logFileRuns = view.data.extents;
  m_nLogFileSize = view.data.size;
  m_bJournal = !m_logFileRuns.empty();
  return m_bJournal;
}

void NtfsEngine::UpdateLargeFilesFromJournal() {
  if (!FindLogFileRuns()) return;
  m_pScanDlg->SetStatusText(LoadString(kIdsUpdatingLargeFiles));
  m_pScanDlg->EnableStop(false);
  m_host.SetCriticalPhase(true);

  FileDataLayout layout;
  layout.clusterBytes = ClusterBytes();
  layout.extents = m_logFileRuns;
  layout.size = std::min(m_nLogFileSize, kMaxJournalBytes);
  const std::vector<std::uint8_t> journal = ReadFileData(layout, MakeClusterReader());
  ntfs::LogFileReader reader(journal, ClusterBytes());
  std::vector<ntfs::LogTarget> targets;
  for (const KeptRunNode& n : m_keptRuns)
    targets.push_back({n.recordNumber, n.recordLcn, n.recordVcn, n.blockInCluster, n.dataAttributeOffset,
                       n.pairsOffset, n.compressed});
  reader.Init(std::move(targets));
  if (reader.FindStartPage() && reader.CollectImages()) {
    for (ntfs::LogRebuild& r : reader.RebuildRuns()) {
      for (KeptRunNode& node : m_keptRuns) {
        if (node.recordNumber != r.recordNumber || node.runsValid) continue;
        node.runs = r.runs;
        node.allocatedSize = r.allocatedSize;
        node.size = r.realSize ? r.realSize : r.allocatedSize;
        node.runsValid = true;
        // Deleted Recovery queues its files before posting them; it takes
        // the sizes from the nodes.
        if (node.item == kNoFoundItem) continue;
        m_pConsole->UpdateFoundItemSize(node.item, node.size);
        m_poster.AddBytes(node.size);
      }
    }
  }
  m_pScanDlg->SetStatusText("");
  m_pScanDlg->EnableStop(true);
  m_host.SetCriticalPhase(false);
}

}  // namespace corvan
