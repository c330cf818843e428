#include "core/FoundItemPoster.h"

#include <algorithm>

#include "core/StringIds.h"
#include "core/StringTable.h"

namespace corvan {

namespace {

NullFoundItemSink g_noResults;
NullProgressSink g_noProgress;
}  // namespace

void FoundItemPoster::Attach(FoundItemSink* results, ProgressSink* progress) {
  results_ = results;
  progress_ = progress;
}

FoundItemSink& FoundItemPoster::Results() const { return results_ ? *results_ : g_noResults; }
ProgressSink& FoundItemPoster::Progress() const { return progress_ ? *progress_ : g_noProgress; }

void FoundItemPoster::ResetCounters() {
  entries_ = folders_ = files_ = 0;
  ResetBytes();
}

void FoundItemPoster::AddBytes(std::uint64_t bytes) {
  bytes_ += bytes;
  TellBytes();
}

void FoundItemPoster::ResetBytes() {
  bytes_ = 0;
  TellBytes();
}

void FoundItemPoster::TellBytes() const { Results().OnBytesFound(bytes_); }

std::uint32_t FoundItemPoster::TakeId() {
  std::uint32_t id = nextId_;
  if (id < idRules_.lowest) id = idRules_.lowest;
  if (idRules_.hasReserved && id == idRules_.reserved) ++id;
  nextId_ = id + 1;
  highestId_ = std::max(highestId_, id);
  return id;
}

void FoundItemPoster::OpenRoot(std::int64_t range) {
  ProgressSink& progress = Progress();
  progress.SetRange(0, range);
  progress.SetStep(1);
  ++entries_;
  ++folders_;
  Results().OnInsertRootItem(rootId_);
  TellBytes();  // the new tree's window starts from what the engine counts
  Results().UpdateStatusText(0);
}

void FoundItemPoster::ShowCount(Counter counter) {
  Progress().SetCounterText(counter == Counter::EntriesFound
                                ? std::to_string(entries_) + " " + LoadString(kIdsEntriesFound)
                                : std::to_string(entries_) + " ");
}

FoundItemHandle FoundItemPoster::Post(const FoundItemInfo& record, std::u16string_view name, const PostStyle& style) {
  ++entries_;
  if (record.IsFolder()) {
    ++folders_;
    if (style.folderBytes) bytes_ += record.size;
  } else {
    ++files_;
    bytes_ += record.size;
  }
  const FoundItemHandle handle = Results().OnAddFoundItem(record, name);
  TellBytes();
  if (style.step) Progress().StepIt();
  Results().UpdateStatusText(0);
  ShowCount(style.counter);
  return handle;
}

void FoundItemPoster::Queue(const FoundItemInfo& record, std::u16string_view name) {
  queue_.push_back(Queued{record.IdentifyingCopy(), std::u16string(name)});
}

void FoundItemPoster::DropLastQueued() {
  if (!queue_.empty()) queue_.pop_back();
}

void FoundItemPoster::FlushQueue(Counter counter, const std::function<void(const FoundItemInfo&)>& sent) {
  // Queued items are always folders.
  for (const Queued& item : queue_) {
    ++entries_;
    ++folders_;
    Results().OnAddFoundItem(item.record, item.name);
    Progress().StepIt();
    if (sent) sent(item.record);
    Results().UpdateStatusText(0);
    ShowCount(counter);
  }
  queue_.clear();
}

}  // namespace corvan
