// Deleted Recovery: every record of the $MFT is read once, in order; the
// deleted files are then posted, each under the chain of folders that leads
// to it from the root or from a folder already shown, and a file whose chain
// breaks off goes under "Lost Folder(s)". Only folders on the way to a
// deleted file are shown.

#include <algorithm>

#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/ntfs/NtfsEngine.h"
#include "engines/ntfs/NtfsFoundRecords.h"
#include "platform/TextConv.h"

namespace corvan {

namespace {

constexpr std::uint64_t kPieceSectors = 2048;

// Deleted Recovery keeps its lost folder apart from the one of Quick and
// Advance Recovery, under its own id and name.
constexpr std::uint32_t kDeletedLostFolderId = 0x0FFFFFFF;
constexpr std::u16string_view kDeletedLostFolderName = u"Lost Folder(s)";

}  // namespace

void NtfsEngine::ScanAllRecords() {
  m_deletedFolders.clear();
  m_deletedFiles.clear();
  m_host.LogPhaseStart(LoadString(kIdsCalculatingParameters));
  m_pScanDlg->SetStatusText(LoadString(kIdsSearchingCritical));
  m_pScanDlg->SetRange(0, static_cast<std::int64_t>(m_nMftRecords));
  m_pScanDlg->SetStep(1);
  m_host.SetCriticalPhase(true);

  const std::uint64_t volumeBytes = VolumeBytes();
  std::unordered_map<std::uint32_t, std::size_t> fileByRecord;
  ntfs::MftRecord record;
  ForEachMftRecord(0, [&](std::uint64_t r, std::span<std::uint8_t, ntfs::kMftRecordSize> bytes) {
    if (Aborted()) return false;
    m_pScanDlg->StepIt();
    if (r == 0 || r == 1 || r == kRootRecord) return true;
    if (ntfs::ApplyRecordFixup(bytes) != ntfs::FixupStatus::Ok || !record.ParseInPlace(bytes)) return true;
    // Deleted files and folders, and folders in use (a deleted file's way
    // to the root may pass through them); files in use are not wanted.
    const std::uint16_t flags = record.Flags();
    if (flags != 0 && flags != ntfs::kRecordDirectory && flags != (ntfs::kRecordDirectory | ntfs::kRecordInUse))
      return true;
    if (ntfs::ReferenceRecord(record.BaseReference()) != 0) return true;  // holds attributes of another file
    const ntfs::FileView view = ViewOf(r, record);
    const ntfs::FileNameInfo* name = ntfs::ChooseFileName(view.names);
    if (!name || name->ParentRecord() == 0) return true;
    const auto number = static_cast<std::uint32_t>(r);
    const std::uint64_t modified = view.standardInfo ? view.standardInfo->modificationTime : 0;
    const std::uint64_t created = view.standardInfo ? view.standardInfo->creationTime : 0;

    if (flags & ntfs::kRecordDirectory) {
      m_deletedFolders.push_back({name->ParentRecord(), number, name->name, modified, created,
                                  (flags & ntfs::kRecordInUse) != 0});
      return true;
    }
    DeletedFileNode file;
    file.parent = name->ParentRecord();
    file.record = number;
    file.name = name->name;
    file.modifiedTime = modified;
    file.creationTime = created;
    const ntfs::AttributeData& data = view.data;
    file.flags = RecordItemFlags(view);
    // The real size as far as the runs back it; a record whose size fields
    // were cleared, or hold a size the volume cannot (a sparse file's
    // aside), still shows how much its runs cover.
    const bool sizeTrusted = data.present && (data.size <= volumeBytes || SparseBeyondVolume(data));
    file.size = sizeTrusted ? MappedSize(data) : 0;
    if (file.size == 0 && data.present && !data.resident) {
      file.size = HeldBytes(data);
      if (file.size > volumeBytes) file.size = 0;
    }
    if (file.size == 0) QueueForJournal(number, view, kNoFoundItem);
    fileByRecord.emplace(number, m_deletedFiles.size());
    m_deletedFiles.push_back(std::move(file));
    return true;
  });

  if (!m_keptRuns.empty() && !Aborted()) {
    UpdateLargeFilesFromJournal();
    for (const KeptRunNode& node : m_keptRuns) {
      const auto it = fileByRecord.find(node.recordNumber);
      if (!node.runsValid || it == fileByRecord.end()) continue;
      m_deletedFiles[it->second].size = std::min(node.size, volumeBytes);
      m_deletedFiles[it->second].journal = true;
    }
  }
  m_host.SetCriticalPhase(false);
  m_pScanDlg->SetStatusText("");
  m_host.LogPhaseEnd();
}

bool NtfsEngine::VolumeHoldsFileRecords() {
  // Up to the first sound FILE record, a megabyte at a time. A stop leaves
  // the question open: the volume is then not called invalid.
  const std::uint64_t count = m_nVolumeSectorCount;
  m_host.LogPhaseStart(LoadString(kIdsSearchingMetadata));
  m_pScanDlg->SetStatusText(LoadString(kIdsSearchingMetadata));
  m_pScanDlg->SetRange(0, static_cast<std::int64_t>(count));
  m_pScanDlg->SetStep(static_cast<std::int64_t>(kPieceSectors));
  m_pScanDlg->SetPos(0);
  // One sector more than a piece, so that a record starting in its last
  // sector is whole.
  std::vector<std::uint8_t> buffer((kPieceSectors + 1) * 512);
  bool found = false;
  for (std::uint64_t s = 0; s < count && !found && !Aborted(); s += kPieceSectors) {
    const std::uint64_t n = std::min(kPieceSectors, count - s);
    const std::uint64_t readable = std::min(n + 1, count - s);
    m_pScanDlg->StepIt();
    ReadVolumeSectors(buffer.data(), static_cast<std::uint32_t>(readable * 512), s);
    for (std::uint64_t p = 0; p < n && p + 1 < readable; ++p) {
      const std::span<const std::uint8_t> record(buffer.data() + p * 512, ntfs::kMftRecordSize);
      if (ntfs::HasRecordSignature(record) && ntfs::ExamineFoundRecord(record, std::nullopt)) {
        found = true;
        break;
      }
    }
  }
  m_pScanDlg->SetStatusText("");
  m_host.LogPhaseEnd();
  return found || Aborted();
}

void NtfsEngine::BuildDeletedTree() {
  m_host.LogPhaseStart(LoadString(kIdsCreatingTree));
  PostRootIfFirst();
  m_deletedFolderIndex.clear();
  m_deletedFileRecords.clear();
  for (std::size_t i = 0; i < m_deletedFolders.size(); ++i)
    m_deletedFolderIndex.emplace(m_deletedFolders[i].record, i);
  for (const DeletedFileNode& f : m_deletedFiles) m_deletedFileRecords.insert(f.record);

  for (const DeletedFileNode& file : m_deletedFiles) {
    if (Aborted()) break;
    if (m_postedIds.count(file.record)) continue;
    const std::uint32_t parent =
        file.parent == kRootRecord || IsKnownFolder(file.parent) ? file.parent : PlaceUnderAncestors(file.parent);
    FoundItemInfo item;
    item.attribute = kItemFile;
    item.flags = static_cast<std::uint8_t>(file.flags | kItemDeleted);
    item.location = file.record;
    item.itemId = file.record;
    item.parentId = parent;
    item.size = file.size;
    item.modifiedTime = file.modifiedTime;
    item.creationTime = file.creationTime;
    item.runFlags = file.journal ? kItemRunsKept : 0;
    const FoundItemHandle handle = PostFoundItem(item, file.name);
    for (KeptRunNode& node : m_keptRuns)
      if (node.recordNumber == file.record) node.item = handle;
  }

  m_deletedFiles.clear();
  m_deletedFolders.clear();
  m_deletedFolderIndex.clear();
  m_deletedFileRecords.clear();
  m_host.LogPhaseEnd();
}

std::uint32_t NtfsEngine::PlaceUnderAncestors(std::uint32_t parent) {
  // Up through the folders the scan kept, until the root, a folder already
  // shown, a folder the scan did not keep, or a folder met twice (records
  // that name each other as parents: the loop is cut there).
  std::vector<std::size_t> chain;
  std::unordered_set<std::uint32_t> seen;
  std::uint32_t p = parent;
  std::uint32_t top = 0;
  while (true) {
    if (p == kRootRecord || IsKnownFolder(p)) {
      top = p;
      break;
    }
    const auto it = m_deletedFolderIndex.find(p);
    if (it == m_deletedFolderIndex.end()) {
      top = DeletedLostParentFor(p);
      break;
    }
    if (!seen.insert(p).second) {
      EnsureDeletedLostFolder();
      top = kDeletedLostFolderId;
      break;
    }
    chain.push_back(it->second);
    p = m_deletedFolders[it->second].parent;
  }
  if (chain.empty()) return top;

  // From the top down, each folder under the one before it.
  std::uint32_t above = top;
  for (auto i = chain.rbegin(); i != chain.rend(); ++i) {
    const DeletedFolderNode& folder = m_deletedFolders[*i];
    FoundItemInfo item;
    item.attribute = kItemFolder;
    item.flags = folder.inUse ? 0 : kItemDeleted;
    item.location = folder.record;
    item.itemId = folder.record;
    item.parentId = above;
    item.modifiedTime = folder.modifiedTime;
    item.creationTime = folder.creationTime;
    PostFoundItem(item, folder.name);
    above = folder.record;
  }
  return parent;
}

void NtfsEngine::EnsureDeletedLostFolder() {
  if (m_bLostFolderMade) return;
  PostPlaceholderFolder(kDeletedLostFolderId, kRootRecord, kDeletedLostFolderName);
  m_bLostFolderMade = 1;
}

std::uint32_t NtfsEngine::DeletedLostParentFor(std::uint32_t missingParent) {
  EnsureDeletedLostFolder();
  if (IsKnownFolder(missingParent)) return missingParent;
  // An id a file has (or will have) cannot become a folder as well.
  if (m_postedIds.count(missingParent) || m_deletedFileRecords.count(missingParent) ||
      missingParent == kDeletedLostFolderId)
    return kDeletedLostFolderId;
  PostPlaceholderFolder(missingParent, kDeletedLostFolderId,
                        Utf8ToUtf16(LoadString(kIdsFolder) + " " + std::to_string(missingParent)));
  return missingParent;
}

}  // namespace corvan
