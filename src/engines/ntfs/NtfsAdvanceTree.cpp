// Advance Recovery, second half: the tree from the records the searches
// found. Down from the root through parent record numbers, each folder's
// files before its subfolders, depth first in the order found; then every
// folder and file whose parent was never placed goes under "Lost folder(s)",
// in one made-up "Folder N" per missing parent N. Folders are marked before
// they are posted and the walk keeps its own stack, so records that name
// each other as parents neither loop nor recurse without bound.

#include <algorithm>
#include <cstring>
#include <memory>
#include <unordered_set>

#include "core/EngineHost.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/ntfs/NtfsEngine.h"
#include "platform/TextConv.h"

namespace corvan {

namespace {

constexpr std::uint32_t kAdvanceLostFolderId = 0x00FFFFFF;

// Records are read a megabyte at a time and a few such blocks are kept: the
// records of one folder mostly lie together.
constexpr std::uint64_t kBlockSectors = 2048;
constexpr std::size_t kMaxBlocks = 32;

}  // namespace

bool NtfsEngine::ReadRecordAtSector(std::uint64_t sector, std::uint64_t secondHalf,
                                    std::span<std::uint8_t, ntfs::kMftRecordSize> out) {
  if (secondHalf != 0) {
    // Both halves are read whatever the first read gave.
    const bool first = ReadVolumeSectors(out.data(), 512, sector);
    const bool second = ReadVolumeSectors(out.data() + 512, 512, secondHalf);
    return first && second;
  }
  const std::uint64_t count = m_nVolumeSectorCount;
  const std::uint64_t block = sector / kBlockSectors;
  const std::uint64_t first = block * kBlockSectors;
  if (sector + 2 > count || sector + 2 > first + kBlockSectors)
    return ReadVolumeSectors(out.data(), ntfs::kMftRecordSize, sector);
  {
    std::lock_guard lock(m_mftMutex);
    auto it = m_sectorBlocks.find(block);
    if (it == m_sectorBlocks.end()) {
      const auto size = static_cast<std::size_t>(std::min(kBlockSectors, count - first) * 512);
      auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(size);
      if (ReadVolumeSectors(bytes.get(), static_cast<std::uint32_t>(size), first)) {
        if (m_sectorBlockOrder.size() >= kMaxBlocks) {
          m_sectorBlocks.erase(m_sectorBlockOrder.front());
          m_sectorBlockOrder.erase(m_sectorBlockOrder.begin());
        }
        m_sectorBlockOrder.push_back(block);
        it = m_sectorBlocks.emplace(block, std::move(bytes)).first;
      }
    }
    if (it != m_sectorBlocks.end()) {
      std::memcpy(out.data(), it->second.get() + (sector - first) * 512, ntfs::kMftRecordSize);
      return true;
    }
  }
  // The block did not read whole: this record alone may still.
  return ReadVolumeSectors(out.data(), ntfs::kMftRecordSize, sector);
}

bool NtfsEngine::LoadFoundFileView(std::uint64_t sector, std::uint64_t secondHalf, std::uint32_t recordNumber,
                                   bool numberKnown, ntfs::FileView& out) {
  std::array<std::uint8_t, ntfs::kMftRecordSize> bytes;
  if (!ReadRecordAtSector(sector, secondHalf, bytes) || ntfs::ApplyRecordFixup(bytes) != ntfs::FixupStatus::Ok)
    return false;
  ntfs::MftRecord base;
  if (!base.Parse(bytes)) return false;
  // Extension records are found by their number among the found records; a
  // record whose number is not known can name none.
  const std::uint64_t number = numberKnown ? recordNumber : ~0ull;
  auto fetch = [this](std::uint64_t n, ntfs::MftRecord& record) {
    if (n > 0xFFFFFFFFull) return false;
    const auto it = m_foundByNumber.find(static_cast<std::uint32_t>(n));
    if (it == m_foundByNumber.end()) return false;
    const AdvanceRecordEntry& e = m_foundRecords[it->second];
    std::array<std::uint8_t, ntfs::kMftRecordSize> ext;
    return ReadRecordAtSector(e.sector, e.secondHalf, ext) && ntfs::ApplyRecordFixup(ext) == ntfs::FixupStatus::Ok &&
           record.Parse(ext);
  };
  out = ntfs::BuildFileView(number, base, fetch,
                            [this](const ntfs::AttributeData& d, std::uint64_t limit) { return ReadAttributeData(d, limit); });
  return true;
}

bool NtfsEngine::PostFoundEntry(std::size_t index, std::uint32_t parentId) {
  const AdvanceRecordEntry e = m_foundRecords[index];
  ntfs::FileView view;
  if (!LoadFoundFileView(e.sector, e.secondHalf, e.recordNumber, e.numberKnown, view)) return false;
  FoundItemInfo item;
  item.parentId = parentId;
  item.itemId = e.itemId;
  item.location = e.sector;
  return PostRecordItem(view, item, nullptr);
}

void NtfsEngine::BuildTreeFromRecords() {
  m_host.LogPhaseStart(LoadString(kIdsCreatingTree));
  m_bLostFolderMade = 0;
  m_advanceKnown.clear();
  m_filesByParent.clear();
  m_dirsByParent.clear();
  for (std::size_t i = 0; i < m_foundRecords.size(); ++i)
    if (m_foundRecords[i].isFile && !m_foundRecords[i].done)
      m_filesByParent[m_foundRecords[i].parentRecord].push_back(i);
  for (std::size_t d = 0; d < m_foundDirs.size(); ++d)
    m_dirsByParent[m_foundRecords[m_foundDirs[d].entry].parentRecord].push_back(d);

  // The folders at the top, each with everything below it. They show even
  // when the root's own record was never found.
  if (const auto top = m_dirsByParent.find(kRootRecord); top != m_dirsByParent.end()) {
    for (const std::size_t d : top->second) {
      if (Aborted()) break;
      FoundDirNode& node = m_foundDirs[d];
      if (node.visited) continue;
      node.visited = true;
      const AdvanceRecordEntry& e = m_foundRecords[node.entry];
      if (!PostFoundEntry(node.entry, kRootRecord) || !e.numberKnown) continue;
      m_advanceKnown.emplace(e.recordNumber, e.itemId);
      AddChildrenOf(e.recordNumber, e.itemId);
    }
  }
  if (!Aborted() && !m_foundRecords.empty()) PlaceLostFolders();
  if (!Aborted() && !m_foundRecords.empty()) PlaceLostFiles();
  if (FreeSpaceHitCollector* collector = ActiveHitCollector(); collector && !Aborted()) collector->PostCollected();
  m_filesByParent.clear();
  m_dirsByParent.clear();
  m_host.LogPhaseEnd();
}

void NtfsEngine::AddChildrenOf(std::uint32_t parentRecord, std::uint32_t parentId) {
  auto postFiles = [this](std::uint32_t record, std::uint32_t id) {
    const auto it = m_filesByParent.find(record);
    if (it == m_filesByParent.end()) return;
    for (const std::size_t i : it->second) {
      if (Aborted()) return;
      if (m_foundRecords[i].done) continue;
      PostFoundEntry(i, id);
      m_foundRecords[i].done = true;
    }
  };
  struct Frame {
    std::uint32_t record;
    std::uint32_t id;
    std::size_t next;
  };
  postFiles(parentRecord, parentId);
  std::vector<Frame> stack{{parentRecord, parentId, 0}};
  while (!stack.empty() && !Aborted()) {
    Frame& frame = stack.back();
    const auto dirs = m_dirsByParent.find(frame.record);
    if (dirs == m_dirsByParent.end() || frame.next >= dirs->second.size()) {
      stack.pop_back();
      continue;
    }
    FoundDirNode& node = m_foundDirs[dirs->second[frame.next++]];
    if (node.visited) continue;
    node.visited = true;
    const AdvanceRecordEntry& e = m_foundRecords[node.entry];
    if (!PostFoundEntry(node.entry, frame.id) || !e.numberKnown) continue;
    m_advanceKnown.emplace(e.recordNumber, e.itemId);
    postFiles(e.recordNumber, e.itemId);
    stack.push_back({e.recordNumber, e.itemId, 0});
  }
}

void NtfsEngine::EnsureAdvanceLostFolder() {
  if (m_bLostFolderMade) return;
  PostPlaceholderFolder(kAdvanceLostFolderId, kRootRecord, Utf8ToUtf16(LoadString(kIdsLostFolders)));
  m_advanceKnown.emplace(kAdvanceLostFolderId, kAdvanceLostFolderId);
  m_bLostFolderMade = 1;
}

std::uint32_t NtfsEngine::AdvanceLostParentFor(std::uint32_t missingParent) {
  EnsureAdvanceLostFolder();
  if (const auto k = m_advanceKnown.find(missingParent); k != m_advanceKnown.end() && k->second != 0) return k->second;
  const std::uint32_t id = TakeRunningId();
  PostPlaceholderFolder(id, kAdvanceLostFolderId,
                        Utf8ToUtf16(LoadString(kIdsFolder) + " " + std::to_string(missingParent)));
  // Later orphans of the same parent land in the same folder.
  m_advanceKnown.emplace(missingParent, id);
  return id;
}

void NtfsEngine::PlaceLostFolders() {
  auto place = [this](std::size_t d, std::uint32_t parentId) {
    FoundDirNode& node = m_foundDirs[d];
    node.visited = true;
    const AdvanceRecordEntry& e = m_foundRecords[node.entry];
    if (!PostFoundEntry(node.entry, parentId) || !e.numberKnown) return;
    m_advanceKnown.emplace(e.recordNumber, e.itemId);
    AddChildrenOf(e.recordNumber, e.itemId);
  };
  auto knownId = [this](std::uint32_t record) -> std::uint32_t {
    const auto k = m_advanceKnown.find(record);
    return k == m_advanceKnown.end() ? 0 : k->second;
  };

  for (std::size_t d = 0; d < m_foundDirs.size(); ++d) {
    if (m_foundDirs[d].visited) continue;
    if (Aborted()) return;
    const AdvanceRecordEntry& e = m_foundRecords[m_foundDirs[d].entry];
    const std::uint32_t parent = e.parentRecord;
    if (parent == kRootRecord) {
      place(d, kRootRecord);
    } else if (const std::uint32_t id = knownId(parent)) {
      place(d, id);
    } else if (e.numberKnown && parent == e.recordNumber) {
      // Its own parent.
      EnsureAdvanceLostFolder();
      place(d, kAdvanceLostFolderId);
    } else if (!m_dirByNumber.count(parent)) {
      place(d, AdvanceLostParentFor(parent));
    }
    // Otherwise its parent folder was found: it follows when that one is placed.
  }

  // Folders still waiting: their parent folder was found but did not post,
  // or their parents name each other in a loop. Up through the waiting
  // folders to where the chain ends, and that folder is placed first.
  for (std::size_t d = 0; d < m_foundDirs.size();) {
    if (m_foundDirs[d].visited) {
      ++d;
      continue;
    }
    if (Aborted()) return;
    std::size_t top = d;
    std::unordered_set<std::size_t> seen{d};
    std::uint32_t parentId = 0;
    while (true) {
      const std::uint32_t parent = m_foundRecords[m_foundDirs[top].entry].parentRecord;
      if (parent == kRootRecord) {
        parentId = kRootRecord;
        break;
      }
      if ((parentId = knownId(parent)) != 0) break;
      const auto above = m_dirByNumber.find(parent);
      if (above == m_dirByNumber.end() || m_foundDirs[above->second].visited) {
        parentId = AdvanceLostParentFor(parent);
        break;
      }
      if (!seen.insert(above->second).second) {
        EnsureAdvanceLostFolder();
        parentId = kAdvanceLostFolderId;
        break;
      }
      top = above->second;
    }
    place(top, parentId);
  }
}

void NtfsEngine::PlaceLostFiles() {
  for (AdvanceRecordEntry& e : m_foundRecords) {
    if (!e.isFile || e.done) continue;
    if (Aborted()) return;
    e.done = true;
    ntfs::FileView view;
    if (!LoadFoundFileView(e.sector, e.secondHalf, e.recordNumber, e.numberKnown, view)) continue;
    const ntfs::FileNameInfo* name = ntfs::ChooseFileName(view.names);
    // Made-up folders only for records that will show.
    if (!name || name->name == u".") continue;
    std::uint32_t parentId = kRootRecord;
    if (e.parentRecord != kRootRecord) {
      const auto k = m_advanceKnown.find(e.parentRecord);
      parentId = k != m_advanceKnown.end() && k->second != 0 ? k->second : AdvanceLostParentFor(e.parentRecord);
    }
    FoundItemInfo item;
    item.parentId = parentId;
    item.itemId = e.itemId;
    item.location = e.sector;
    PostRecordItem(view, item, nullptr);
  }
}

}  // namespace corvan
