#include "core/FoundItemPoster.h"

#include "core/StringTable.h"

namespace corvan {

namespace {
constexpr unsigned kIdsEntriesFound = 116;

NullFoundItemSink g_noResults;
NullProgressSink g_noProgress;
}  // namespace

void FoundItemPoster::Attach(FoundItemSink* results, ProgressSink* progress) {
  m_pResults = results;
  m_pProgress = progress;
}

FoundItemSink& FoundItemPoster::Results() const { return m_pResults ? *m_pResults : g_noResults; }
ProgressSink& FoundItemPoster::Progress() const { return m_pProgress ? *m_pProgress : g_noProgress; }

void FoundItemPoster::ResetCounters() {
  m_nEntries = m_nFolders = m_nFiles = 0;
  m_nBytes = 0;
}

void FoundItemPoster::OpenRoot(std::int64_t range) {
  ProgressSink& progress = Progress();
  progress.SetRange(0, range);
  progress.SetStep(1);
  ++m_nEntries;
  ++m_nFolders;
  Results().OnInsertRootItem(m_nRootId);
  Results().UpdateStatusText(0);
}

void FoundItemPoster::ShowCount(Counter counter) {
  Progress().SetCounterText(counter == Counter::EntriesFound
                                ? std::to_string(m_nEntries) + " " + LoadString(kIdsEntriesFound)
                                : std::to_string(m_nEntries) + " ");
}

FoundItemHandle FoundItemPoster::Post(const FoundItemInfo& record, std::u16string_view name, const PostStyle& style) {
  ++m_nEntries;
  if (record.IsFolder()) {
    ++m_nFolders;
    if (style.folderBytes) m_nBytes += record.size;
  } else {
    ++m_nFiles;
    m_nBytes += record.size;
  }
  const FoundItemHandle handle = Results().OnAddFoundItem(record, name);
  if (style.step) Progress().StepIt();
  Results().UpdateStatusText(0);
  ShowCount(style.counter);
  return handle;
}

void FoundItemPoster::Queue(const FoundItemInfo& record, std::u16string_view name) {
  m_queue.push_back(Queued{record.IdentifyingCopy(), std::u16string(name)});
}

void FoundItemPoster::DropLastQueued() {
  if (!m_queue.empty()) m_queue.pop_back();
}

void FoundItemPoster::FlushQueue(Counter counter, const std::function<void(const FoundItemInfo&)>& sent) {
  // Queued items are always folders.
  for (const Queued& item : m_queue) {
    ++m_nEntries;
    ++m_nFolders;
    Results().OnAddFoundItem(item.record, item.name);
    Progress().StepIt();
    if (sent) sent(item.record);
    Results().UpdateStatusText(0);
    ShowCount(counter);
  }
  m_queue.clear();
}

}  // namespace corvan
