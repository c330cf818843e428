#include "save/CheckedItemsWalk.h"

namespace corvan {

CheckedItemsWalk::CheckedItemsWalk(FoundItemStore& store, int view, bool everything)
    : store_(store), view_(view), everything_(everything) {}

void CheckedItemsWalk::Enter(FoundItemHandle folder, std::uint32_t depth) {
  StoredItem item = store_.Item(folder);
  SaveWalkEntry entry;
  entry.folder = true;
  entry.depth = depth;
  entry.record = item.record;
  entry.name = std::move(item.name);
  entry.key = folder;
  const std::uint32_t id = entry.record.itemId;
  ready_.push_back(std::move(entry));

  Frame frame;
  frame.depth = depth;
  // Each folder id is entered once: ids that name each other, or a folder
  // listed as its own child, cannot loop the walk.
  const bool walkable = entered_.insert(folder).second && enteredIds_.insert(id).second && depth < kMaxDepth;
  if (walkable) {
    for (const FoundItemHandle child : store_.CollectChildren(view_, id, !everything_)) {
      if (child == folder || child == store_.Root()) continue;
      StoredItem c = store_.Item(child);
      if (IsFolderRecord(c.record)) {
        if (!entered_.count(child)) frame.folders.push_back(child);
        continue;
      }
      // A partly checked file does not exist; only a checked one is saved.
      if (!everything_ && CheckStateOf(c.record, view_) != kChecked) continue;
      SaveWalkEntry file;
      file.depth = depth + 1;
      file.record = c.record;
      file.name = std::move(c.name);
      file.key = child;
      parentOf_[child] = folder;
      ready_.push_back(std::move(file));
    }
  }
  stack_.push_back(std::move(frame));
}

bool CheckedItemsWalk::Next(SaveWalkEntry& entry) {
  while (ready_.empty()) {
    if (!started_) {
      started_ = true;
      const FoundItemHandle root = store_.Root();
      if (root == kNoFoundItem || root >= store_.Count()) return false;
      Enter(root, 0);
      continue;
    }
    if (stack_.empty()) return false;
    Frame& top = stack_.back();
    if (top.next == top.folders.size()) {
      stack_.pop_back();
      continue;
    }
    const FoundItemHandle folder = top.folders[top.next++];
    if (entered_.count(folder)) continue;
    Enter(folder, top.depth + 1);
  }
  entry = std::move(ready_.front());
  ready_.pop_front();
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
