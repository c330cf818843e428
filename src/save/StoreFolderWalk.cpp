#include "save/StoreFolderWalk.h"

namespace corvan {

StoreFolderWalk::StoreFolderWalk(const FoundItemStore& store, FoundItemHandle start)
    : store_(store), start_(start) {}

void StoreFolderWalk::Enter(FoundItemHandle folder, std::uint32_t depth) {
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
  if (entered_.insert(folder).second && MayEnter(folder, id, depth)) {
    for (const FoundItemHandle child : Children(id)) {
      if (child == folder || child == store_.Root()) continue;
      StoredItem c = store_.Item(child);
      if (IsFolder(c)) {
        if (!entered_.count(child)) frame.folders.push_back(child);
        continue;
      }
      if (!TakeFile(folder, child, c)) continue;
      SaveWalkEntry file;
      file.depth = depth + 1;
      file.record = c.record;
      file.name = std::move(c.name);
      file.key = child;
      ready_.push_back(std::move(file));
    }
  }
  stack_.push_back(std::move(frame));
}

bool StoreFolderWalk::Next(SaveWalkEntry& entry) {
  while (ready_.empty()) {
    if (!started_) {
      started_ = true;
      const FoundItemHandle root = start_ == kNoFoundItem ? store_.Root() : start_;
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
    const std::uint32_t depth = top.depth + 1;
    if (entered_.count(folder)) continue;
    Enter(folder, depth);
  }
  entry = std::move(ready_.front());
  ready_.pop_front();
  return true;
}

}  // namespace corvan
