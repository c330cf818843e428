#include "save/FoundItemStoreWalk.h"

namespace corvan {

FoundItemStoreWalk::FoundItemStoreWalk(const FoundItemStore& store, FoundItemHandle folder)
    : StoreFolderWalk(store, folder), store_(store) {}

bool FoundItemStoreWalk::MayEnter(FoundItemHandle folder, std::uint32_t id, std::uint32_t depth) {
  // Only the first stored folder of an id is walked, as the tree shows it.
  const auto first = store_.FindFolder(id);
  return depth < kMaxDepth && (folder == store_.Root() || (first && *first == folder));
}

std::vector<FoundItemHandle> FoundItemStoreWalk::Children(std::uint32_t id) const { return store_.ChildrenOf(id); }

bool FoundItemStoreWalk::IsFolder(const StoredItem& item) const { return item.record.IsFolder(); }

bool FoundItemStoreWalk::TakeFile(FoundItemHandle, FoundItemHandle, const StoredItem&) { return true; }

}  // namespace corvan
