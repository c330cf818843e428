// The store's side of the filtered view and of find: the filtered tree the
// file mask builds (files that passed, under copies of the folders that
// lead to them), the folder that shows an item in each view, and the walk
// in store order that find steps along.

#include <algorithm>

#include "console/FoundItemStore.h"

namespace corvan {

namespace {

// View byte of an item in the filtered view: passed, unchecked there, its
// file-type group kept.
std::uint8_t PassedViewByte(std::uint8_t viewByte) {
  return static_cast<std::uint8_t>((viewByte & 0x0F) | kPassedMask | (kUnchecked << 4));
}

}  // namespace

FoundItemHandle FoundItemStore::FilteredParentLocked(FoundItemHandle folder) const {
  const auto it = filteredParent_.find(folder);
  return it == filteredParent_.end() ? kNoFoundItem : it->second;
}

void FoundItemStore::BeginFilter() {
  std::lock_guard lock(mutex_);
  filteredParent_.clear();
  treeJoins_[kViewFiltered].clear();
  selection_[kViewFiltered] = {};
  if (!items_.empty()) {
    items_[0].record.extra[kViewByteIndex] = PassedViewByte(items_[0].record.extra[kViewByteIndex]);
    treeJoins_[kViewFiltered].push_back(0);
  }
  ++filter_;
  ++changes_;
}

void FoundItemStore::ClearFilterMarks(std::size_t from, std::size_t to) {
  std::lock_guard lock(mutex_);
  to = std::min(to, items_.size());
  for (std::size_t h = std::max<std::size_t>(from, 1); h < to; ++h) items_[h].record.extra[kViewByteIndex] &= 0x0F;
}

bool FoundItemStore::FilterBuilt() const {
  std::lock_guard lock(mutex_);
  return !treeJoins_[kViewFiltered].empty();
}

FilterCounts FoundItemStore::FilterItems(std::size_t from, std::size_t to,
                                         const std::function<bool(const StoredItem&)>& passes) {
  std::lock_guard lock(mutex_);
  FilterCounts added;
  if (items_.empty() || treeJoins_[kViewFiltered].empty()) return added;
  to = std::min(to, items_.size());
  std::vector<FoundItemHandle> chain;
  for (std::size_t h = std::max<std::size_t>(from, 1); h < to; ++h) {
    StoredItem& item = items_[h];
    FoundItemInfo& r = item.record;
    if (IsFolderRecord(r) || !passes(item)) continue;
    r.extra[kViewByteIndex] = PassedViewByte(r.extra[kViewByteIndex]);
    ++added.files;
    added.bytes += r.size;
    if (r.parentId == rootId_) continue;
    const auto parent = folderById_.find(r.parentId);
    if (parent == folderById_.end()) continue;
    // The folders up to the first one already in the filtered tree (or the
    // root), innermost first. A folder is marked as it is taken, so a chain
    // that came back to a folder taken before is cut there instead of
    // circling; the tree parents of a damaged store could name each other.
    chain.clear();
    FoundItemHandle at = parent->second;
    while (at != 0 && at != kNoFoundItem && !(ViewByte(items_[at].record) & kPassedMask)) {
      chain.push_back(at);
      items_[at].record.extra[kViewByteIndex] = PassedViewByte(items_[at].record.extra[kViewByteIndex]);
      at = treeParent_[at];
    }
    // Above the outermost: a folder already in the filtered tree, or the root.
    FoundItemHandle above = (at != kNoFoundItem && filteredParent_.count(at)) ? at : 0;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      filteredParent_[*it] = above;
      treeJoins_[kViewFiltered].push_back(*it);
      ++added.folders;
      above = *it;
    }
  }
  if (added.files) ++changes_;
  return added;
}

FoundItemHandle FoundItemStore::HolderOf(int view, FoundItemHandle item) const {
  std::lock_guard lock(mutex_);
  if (item == 0 || item >= items_.size()) return kNoFoundItem;
  const FoundItemInfo& r = items_[item].record;
  if (view == kViewByType) {
    const std::uint32_t key = TypeParentId(r) != 0 ? TypeParentId(r) : r.parentId;
    if (key == rootId_) return 0;
    const auto it = typeFolderById_.find(key);
    return it == typeFolderById_.end() ? kNoFoundItem : it->second;
  }
  const auto it = folderById_.find(r.parentId);
  if (it == folderById_.end()) return kNoFoundItem;
  if (view == kViewFiltered && it->second != 0 && !filteredParent_.count(it->second)) return kNoFoundItem;
  return it->second;
}

FoundItemHandle FoundItemStore::Walk(FoundItemHandle from, bool backward,
                                     const std::function<bool(FoundItemHandle, const StoredItem&)>& stop) const {
  std::lock_guard lock(mutex_);
  const std::size_t n = items_.size();
  if (from >= n) return kNoFoundItem;
  if (backward) {
    for (FoundItemHandle h = from; h > 1;) {
      --h;
      if (stop(h, items_[h])) return h;
    }
  } else {
    for (std::size_t h = from + 1; h < n; ++h) {
      if (stop(static_cast<FoundItemHandle>(h), items_[h])) return static_cast<FoundItemHandle>(h);
    }
  }
  return kNoFoundItem;
}

}  // namespace corvan
