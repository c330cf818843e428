// Found items handed to the results window, with the counters and the
// progress that go with each, and the queue of folders whose sending waits
// until something beneath them is worth showing.

#include "core/FoundItemPoster.h"
#include "engines/fat/FatEngine.h"

namespace corvan {

namespace {

constexpr std::int64_t kProgressRange = 100000;

}  // namespace

void FatEngine::OpenResultsTree() { m_poster.OpenRoot(kProgressRange); }

FoundItemHandle FatEngine::SendFoundItem(const FoundItemInfo& record, std::u16string_view name,
                                         bool entriesText) {
  const bool folder = record.IsFolder();
  if (!folder && record.parentId == kFatRootId) m_rootFileClusters.insert(record.location);
  FoundItemPoster::PostStyle style;
  style.counter = entriesText ? FoundItemPoster::Counter::EntriesFound : FoundItemPoster::Counter::Number;
  // The deleted-file pass counts the size a deleted folder's entry gave.
  style.folderBytes = m_nPass != 0 && record.IsDeleted();
  const FoundItemHandle handle = m_poster.Post(record, name, style);
  if (folder && m_nPass != 0 && record.IsDeleted() && m_bMarkFlag) MarkClusterFound(record.location);
  return handle;
}

FoundItemHandle FatEngine::Post(const FoundItemInfo& record, std::u16string_view name, bool entriesText) {
  if (!m_poster.Opened()) OpenResultsTree();
  return SendFoundItem(record, name, entriesText);
}

void FatEngine::PostNamedByCluster(const FoundItemInfo& record, std::u16string_view name) {
  const FoundItemHandle handle = Post(record, name);
  if (handle != kNoFoundItem) m_namedByCluster.emplace(record.location, handle);
}

void FatEngine::QueueItem(const FoundItemInfo& record, std::u16string_view name) { m_poster.Queue(record, name); }

void FatEngine::DropLastQueuedItem() { m_poster.DropLastQueued(); }

void FatEngine::FlushPendingItems() {
  m_poster.FlushQueue(FoundItemPoster::Counter::EntriesFound, [this](const FoundItemInfo& record) {
    if (m_bMarkFlag) MarkClusterFound(record.location);
  });
}

}  // namespace corvan
