// Found items handed to the results window, with the counters and the
// progress that go with each, and the queue of folders whose sending waits
// until something beneath them is worth showing.

#include "core/ProgressSink.h"
#include "core/StringTable.h"
#include "core/FoundItemSink.h"
#include "engines/fat/FatEngine.h"

namespace corvan {

namespace {

constexpr unsigned kIdsEntriesFound = 116;
constexpr std::int64_t kProgressRange = 100000;

}  // namespace

void FatEngine::OpenResultsTree() {
  ProgressSink& progress = Progress();
  progress.SetRange(0, kProgressRange);
  progress.SetStep(1);
  ++m_nEntriesFound;
  ++m_nFoldersFound;
  Console().OnInsertRootItem(kFatRootId);
  Console().UpdateStatusText(0);
}

FoundItemHandle FatEngine::SendFoundItem(const FoundItemInfo& record, std::u16string_view name,
                                         bool entriesText) {
  const bool folder = (record.attribute & kItemFolder) != 0;
  ++m_nEntriesFound;
  if (folder) {
    ++m_nFoldersFound;
    // The deleted-file pass counts the size a deleted folder's entry gave.
    if (m_nPass != 0 && record.IsDeleted()) m_nBytesFound += record.size;
  } else {
    ++m_nFilesFound;
    m_nBytesFound += record.size;
    if (record.parentId == kFatRootId) m_rootFileClusters.insert(record.location);
  }
  const FoundItemHandle handle = Console().OnAddFoundItem(record, name);
  if (folder && m_nPass != 0 && record.IsDeleted() && m_bMarkFlag) MarkClusterFound(record.location);
  Console().UpdateStatusText(0);
  ProgressSink& progress = Progress();
  progress.SetCounterText(entriesText ? std::to_string(m_nEntriesFound) + " " + LoadString(kIdsEntriesFound)
                                      : std::to_string(m_nEntriesFound) + " ");
  progress.StepIt();
  return handle;
}

FoundItemHandle FatEngine::Post(const FoundItemInfo& record, std::u16string_view name, bool entriesText) {
  if (m_nEntriesFound == 0) OpenResultsTree();
  return SendFoundItem(record, name, entriesText);
}

void FatEngine::PostNamedByCluster(const FoundItemInfo& record, std::u16string_view name) {
  const FoundItemHandle handle = Post(record, name);
  if (handle != kNoFoundItem) m_namedByCluster.emplace(record.location, handle);
}

void FatEngine::QueueItem(const FoundItemInfo& record, std::u16string_view name) {
  // The queued copy keeps the identifying fields only.
  PendingItemNode node;
  node.record = record.IdentifyingCopy();
  node.name = std::u16string(name);
  m_pendingItems.push_back(std::move(node));
}

void FatEngine::DropLastQueuedItem() {
  if (!m_pendingItems.empty()) m_pendingItems.pop_back();
}

void FatEngine::FlushPendingItems() {
  ProgressSink& progress = Progress();
  for (const PendingItemNode& node : m_pendingItems) {
    // Queued items are always folders.
    ++m_nEntriesFound;
    ++m_nFoldersFound;
    Console().OnAddFoundItem(node.record, node.name);
    progress.StepIt();
    if (m_bMarkFlag) MarkClusterFound(node.record.location);
    Console().UpdateStatusText(0);
    progress.SetCounterText(std::to_string(m_nEntriesFound) + " " + LoadString(kIdsEntriesFound));
  }
  m_pendingItems.clear();
}

}  // namespace corvan
