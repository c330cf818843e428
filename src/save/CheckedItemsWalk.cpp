#include "save/CheckedItemsWalk.h"

namespace corvan {

CheckedItemsWalk::CheckedItemsWalk(FoundItemStore& store, int view, bool everything)
    : StoreFolderWalk(store, kNoFoundItem), store_(store), view_(view), everything_(everything) {}

bool CheckedItemsWalk::MayEnter(FoundItemHandle, std::uint32_t id, std::uint32_t depth) {
  // Each folder id is entered once too: ids that name each other cannot loop
  // the walk.
  return enteredIds_.insert(id).second && depth < kMaxDepth;
}

std::vector<FoundItemHandle> CheckedItemsWalk::Children(std::uint32_t id) const {
  return store_.CollectChildren(view_, id, !everything_);
}

bool CheckedItemsWalk::IsFolder(const StoredItem& item) const { return IsFolderRecord(item.record); }

bool CheckedItemsWalk::TakeFile(FoundItemHandle folder, FoundItemHandle child, const StoredItem& item) {
  // A partly checked file does not exist; only a checked one is saved.
  if (!everything_ && CheckStateOf(item.record, view_) != kChecked) return false;
  parentOf_[child] = folder;
  return true;
}

void CheckedItemsWalk::ItemDone(const SaveWalkEntry& entry) {
  const auto parent = parentOf_.find(entry.key);
  if (parent == parentOf_.end()) return;
  store_.SetListCheck(view_, parent->second, entry.key, false);
}

void CheckedItemsWalk::FolderDone(const SaveWalkEntry& entry, bool aborted) {
  // A stopped job leaves the folder as it stands: what was not saved stays checked.
  if (aborted) return;
  // Judged by what its items show now, not by whether a filter was set:
  // files that failed to save keep their checks and so keep the folder's.
  store_.CountFolderItems(view_, entry.key, false, true);
}

}  // namespace corvan
