#include "save/FoundItemStoreWalk.h"

namespace corvan {

FoundItemStoreWalk::FoundItemStoreWalk(const FoundItemStore& store, FoundItemHandle folder)
    : store_(store), start_(folder) {}

void FoundItemStoreWalk::Enter(FoundItemHandle folder, std::uint32_t depth) {
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
  const auto first = store_.FindFolder(id);
  const bool walkable = entered_.insert(folder).second && depth < kMaxDepth &&
                        (folder == store_.Root() || (first && *first == folder));
  if (walkable) {
    for (const FoundItemHandle child : store_.ChildrenOf(id)) {
      if (child == folder || child == store_.Root()) continue;
      StoredItem c = store_.Item(child);
      if (c.record.IsFolder()) {
        if (!entered_.count(child)) frame.folders.push_back(child);
        continue;
      }
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

bool FoundItemStoreWalk::Next(SaveWalkEntry& entry) {
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
