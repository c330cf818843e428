// Check states of the found-item store: one per view in every record, the
// spreading of a state to a folder's contents and back up to its ancestors,
// the per-view counts of what is checked, and the walks of the saving thread.
//
// A folder is checked when all its items are checked, unchecked when all are
// unchecked, and mixed otherwise. Contents are reached through the children
// index and ancestors through the tree parents, so a click costs the size of
// the folder it touches, not the size of the store.

#include <unordered_set>

#include "console/FoundItemStore.h"

namespace corvan {

namespace {


bool IsMarked(std::uint8_t state) { return state == kChecked || state == kMixed; }

void WriteState(FoundItemInfo& r, int view, std::uint8_t state) {
  switch (view) {
    case kViewClassic: r.state = static_cast<std::uint8_t>((r.state & 0xF0) | state); break;
    case kViewByType: r.state = static_cast<std::uint8_t>((r.state & 0x0F) | (state << 4)); break;
    default:
      r.extra[kViewByteIndex] = static_cast<std::uint8_t>((r.extra[kViewByteIndex] & 0x8F) | ((state & 7) << 4));
      break;
  }
}

}  // namespace

bool FoundItemStore::InViewLocked(int view, const FoundItemInfo& r) const {
  switch (view) {
    case kViewClassic: return !IsTypeFolder(r);
    case kViewByType: return (r.flags & kItemRoot) || GroupOf(r) != kGroupClassic;
    default: return (ViewByte(r) & kPassedMask) != 0;
  }
}

bool FoundItemStore::CountedLocked(int view, const FoundItemInfo& r, std::uint8_t state) const {
  if (!IsMarked(state) || !InViewLocked(view, r)) return false;
  if (IsFolderRecord(r)) return view == kViewByType ? GroupOf(r) != kGroupClassic : GroupOf(r) == kGroupClassic;
  return r.attribute != 0;
}

void FoundItemStore::SetStateLocked(int view, FoundItemHandle item, std::uint8_t state) {
  FoundItemInfo& r = items_[item].record;
  const std::uint8_t old = CheckStateOf(r, view);
  if (old == state) return;
  SelectionCounts& c = selection_[view];
  const bool folder = IsFolderRecord(r);
  if (CountedLocked(view, r, old)) {
    if (folder) --c.folders;
    else --c.files, c.bytes -= r.size;
  }
  WriteState(r, view, state);
  if (CountedLocked(view, r, state)) {
    if (folder) ++c.folders;
    else ++c.files, c.bytes += r.size;
  }
  ++changes_;
}

std::uint8_t FoundItemStore::CheckState(int view, FoundItemHandle item) const {
  std::lock_guard lock(mutex_);
  return item < items_.size() ? CheckStateOf(items_[item].record, view) : 0;
}

FoundItemHandle FoundItemStore::ParentNodeLocked(int view, FoundItemHandle node) const {
  if (node == 0 || node >= items_.size()) return kNoFoundItem;
  return view == kViewFiltered ? FilteredParentLocked(node) : treeParent_[node];
}

std::uint8_t FoundItemStore::AggregateLocked(int view, FoundItemHandle node) const {
  const FoundItemInfo& folder = items_[node].record;
  const std::vector<FoundItemHandle>* children = ChildrenLocked(view, folder.itemId);
  std::uint8_t result = 0;
  if (children) {
    for (FoundItemHandle c : *children) {
      if (c == node) continue;  // a folder listed as its own item
      const FoundItemInfo& r = items_[c].record;
      if (view == kViewFiltered && !(ViewByte(r) & kPassedMask)) continue;
      const std::uint8_t s = CheckStateOf(r, view);
      if (result == 0) result = s;
      else if (s != result) return kMixed;
    }
  }
  return result == 0 ? CheckStateOf(folder, view) : result;
}

void FoundItemStore::CheckRecursiveLocked(int view, FoundItemHandle node, std::uint8_t state) {
  if (node == 0) {
    // The root: every item of the view.
    for (FoundItemHandle h = 0; h < items_.size(); ++h)
      if (InViewLocked(view, items_[h].record) || h == 0) SetStateLocked(view, h, state);
    return;
  }
  SetStateLocked(view, node, state);
  // Folders are entered once per id, so folders that name each other as
  // parent cannot keep the walk going.
  std::unordered_set<std::uint32_t> entered{items_[node].record.itemId};
  std::vector<std::uint32_t> pending{items_[node].record.itemId};
  while (!pending.empty()) {
    const std::uint32_t id = pending.back();
    pending.pop_back();
    const std::vector<FoundItemHandle>* children = ChildrenLocked(view, id);
    if (!children) continue;
    for (FoundItemHandle c : *children) {
      const FoundItemInfo& r = items_[c].record;
      if (view == kViewFiltered && !(ViewByte(r) & kPassedMask)) continue;
      SetStateLocked(view, c, state);
      if (IsFolderRecord(r) && entered.insert(r.itemId).second) pending.push_back(r.itemId);
    }
  }
}

void FoundItemStore::PropagateUpLocked(int view, FoundItemHandle node) {
  // Tree parents always lie earlier in the store, so the walk ends; the
  // bound only guards against a damaged chain.
  for (std::size_t steps = 0; node != kNoFoundItem && steps <= items_.size(); ++steps) {
    const std::uint8_t state = AggregateLocked(view, node);
    if (state == kMixed) {
      for (std::size_t up = 0; node != kNoFoundItem && up <= items_.size(); ++up) {
        SetStateLocked(view, node, kMixed);
        node = ParentNodeLocked(view, node);
      }
      return;
    }
    SetStateLocked(view, node, state);
    node = ParentNodeLocked(view, node);
  }
}

void FoundItemStore::SetTreeCheck(int view, FoundItemHandle node, bool check) {
  std::lock_guard lock(mutex_);
  if (node >= items_.size()) return;
  CheckRecursiveLocked(view, node, check ? kChecked : kUnchecked);
  if (node != 0) PropagateUpLocked(view, ParentNodeLocked(view, node));
}

void FoundItemStore::ClickTreeCheck(int view, FoundItemHandle node) {
  SetTreeCheck(view, node, CheckState(view, node) == kUnchecked);
}

void FoundItemStore::SetListCheck(int view, FoundItemHandle shown, FoundItemHandle row, bool check) {
  std::lock_guard lock(mutex_);
  if (row >= items_.size() || shown >= items_.size()) return;
  const std::uint8_t state = check ? kChecked : kUnchecked;
  if (IsFolderRecord(items_[row].record)) CheckRecursiveLocked(view, row, state);
  else SetStateLocked(view, row, state);
  PropagateUpLocked(view, shown);
}

void FoundItemStore::ClickListCheck(int view, FoundItemHandle shown, FoundItemHandle row) {
  SetListCheck(view, shown, row, CheckState(view, row) == kUnchecked);
}

SelectionCounts FoundItemStore::Selection(int view) const {
  std::lock_guard lock(mutex_);
  return selection_[view];
}

SelectionCounts FoundItemStore::CountCheckedFiles(int view) const {
  std::lock_guard lock(mutex_);
  SelectionCounts c;
  for (const StoredItem& item : items_) {
    const FoundItemInfo& r = item.record;
    if (!CountedLocked(view, r, CheckStateOf(r, view))) continue;
    if (IsFolderRecord(r)) ++c.folders;
    else ++c.files, c.bytes += r.size;
  }
  return c;
}

std::uint32_t FoundItemStore::CountDeletedFiles(int view) const {
  std::lock_guard lock(mutex_);
  std::uint32_t n = 0;
  for (const StoredItem& item : items_) {
    const FoundItemInfo& r = item.record;
    if (IsFolderRecord(r) || !r.IsDeleted()) continue;
    if (view == kViewFiltered && !(ViewByte(r) & kPassedMask)) continue;
    ++n;
  }
  return n;
}

std::uint32_t FoundItemStore::CountRecoverableFiles(int view) const {
  std::lock_guard lock(mutex_);
  std::uint32_t n = 0;
  for (const StoredItem& item : items_) {
    const FoundItemInfo& r = item.record;
    if (IsFolderRecord(r) || !InViewLocked(view, r) || CheckStateOf(r, view) != kChecked) continue;
    ++n;
  }
  return n;
}

std::uint64_t FoundItemStore::DeletedBytes() const {
  std::lock_guard lock(mutex_);
  std::uint64_t bytes = 0;
  for (const StoredItem& item : items_)
    if (item.record.IsDeleted() && !IsTypeFolder(item.record)) bytes += item.record.size;
  return bytes;
}

std::uint64_t FoundItemStore::CheckedBytes(int view) const {
  std::lock_guard lock(mutex_);
  std::uint64_t bytes = 0;
  for (const StoredItem& item : items_)
    if (InViewLocked(view, item.record) && CheckStateOf(item.record, view) == kChecked) bytes += item.record.size;
  return bytes;
}

std::vector<FoundItemHandle> FoundItemStore::CollectChildren(int view, std::uint64_t folderId,
                                                             bool checkedOnly) const {
  std::lock_guard lock(mutex_);
  std::vector<FoundItemHandle> out;
  if (folderId >> 32) return out;
  const std::vector<FoundItemHandle>* children = ChildrenLocked(view, static_cast<std::uint32_t>(folderId));
  if (!children) return out;
  for (FoundItemHandle c : *children) {
    const FoundItemInfo& r = items_[c].record;
    if (checkedOnly && !IsMarked(CheckStateOf(r, view))) continue;
    const bool file = (r.attribute & kItemFile) && !IsFolderRecord(r);
    switch (view) {
      case kViewClassic:
        if (!(IsFolderRecord(r) && GroupOf(r) == kGroupClassic) && !file) continue;
        break;
      case kViewByType:
        if (!IsTypeFolder(r) && !file) continue;
        break;
      default:
        if (!(ViewByte(r) & kPassedMask)) continue;
        break;
    }
    out.push_back(c);
  }
  return out;
}

void FoundItemStore::CountFolderItems(int view, FoundItemHandle folder, bool keepMarked, bool saveFilterActive) {
  std::lock_guard lock(mutex_);
  if (folder >= items_.size()) return;
  if (saveFilterActive) {
    std::size_t n = 0, k = 0;
    if (const auto* children = ChildrenLocked(view, items_[folder].record.itemId)) {
      for (FoundItemHandle c : *children) {
        const FoundItemInfo& r = items_[c].record;
        if (view == kViewFiltered && !(ViewByte(r) & kPassedMask)) continue;
        ++n;
        if (CheckStateOf(r, view) != kUnchecked) ++k;
      }
    }
    if (k == n) return;
    if (k > 0) {
      SetStateLocked(view, folder, kMixed);
      return;
    }
  }
  const std::uint8_t state = CheckStateOf(items_[folder].record, view);
  if (keepMarked) {
    if (state == kChecked) SetStateLocked(view, folder, kMixed);
  } else if (IsMarked(state)) {
    SetStateLocked(view, folder, kUnchecked);
  }
}

}  // namespace corvan
