#include "console/FoundItemStore.h"

#include <unordered_set>

namespace corvan {

void FoundItemStore::SetRootLabel(std::u16string label) {
  std::lock_guard lock(mutex_);
  rootLabel_ = std::move(label);
}

void FoundItemStore::Clear() {
  std::lock_guard lock(mutex_);
  items_.clear();
  folderById_.clear();
  childrenByParent_.clear();
}

void FoundItemStore::AppendLocked(StoredItem item) {
  const auto handle = static_cast<FoundItemHandle>(items_.size());
  if (item.record.IsFolder()) folderById_.emplace(item.record.itemId, handle);  // keeps the first
  if (handle != 0) childrenByParent_[item.record.parentId].push_back(handle);
  items_.push_back(std::move(item));
}

void FoundItemStore::OnInsertRootItem(std::uint32_t rootId) {
  std::lock_guard lock(mutex_);
  items_.clear();
  folderById_.clear();
  childrenByParent_.clear();
  StoredItem root;
  root.record.itemId = rootId;
  root.record.parentId = kNoParent;
  root.record.attribute = kItemFolder;
  root.record.state = kUncheckedBoth;
  root.record.extra[4] = 0x10;  // view byte: filtered state 1
  root.record.flags = kItemRoot;
  root.name = rootLabel_;
  AppendLocked(std::move(root));
}

FoundItemHandle FoundItemStore::OnAddFoundItem(const FoundItemInfo& record, std::u16string_view name) {
  StoredItem item{record, std::u16string(name)};
  item.record.state = kUncheckedBoth;
  item.record.extra[4] = static_cast<std::uint8_t>((item.record.extra[4] & 0x9F) | 0x10);
  std::lock_guard lock(mutex_);
  const auto handle = static_cast<FoundItemHandle>(items_.size());
  AppendLocked(std::move(item));
  return handle;
}

void FoundItemStore::UpdateFoundItemSize(FoundItemHandle item, std::uint64_t size) {
  std::lock_guard lock(mutex_);
  if (item < items_.size()) items_[item].record.size = size;
}

void FoundItemStore::UpdateFoundItemName(FoundItemHandle item, std::u16string_view name) {
  std::lock_guard lock(mutex_);
  if (item < items_.size()) items_[item].name = std::u16string(name);
}

std::size_t FoundItemStore::Count() const {
  std::lock_guard lock(mutex_);
  return items_.size();
}

StoredItem FoundItemStore::Item(FoundItemHandle item) const {
  std::lock_guard lock(mutex_);
  return item < items_.size() ? items_[item] : StoredItem{};
}

FoundItemHandle FoundItemStore::Root() const {
  std::lock_guard lock(mutex_);
  return items_.empty() ? kNoFoundItem : 0;
}

std::optional<FoundItemHandle> FoundItemStore::FindFolder(std::uint32_t id) const {
  std::lock_guard lock(mutex_);
  const auto it = folderById_.find(id);
  if (it == folderById_.end()) return std::nullopt;
  return it->second;
}

std::vector<FoundItemHandle> FoundItemStore::ChildrenOf(std::uint32_t parentId) const {
  std::lock_guard lock(mutex_);
  const auto it = childrenByParent_.find(parentId);
  return it == childrenByParent_.end() ? std::vector<FoundItemHandle>{} : it->second;
}

std::u16string FoundItemStore::PathOf(FoundItemHandle item) const {
  std::lock_guard lock(mutex_);
  if (item == 0 || item >= items_.size()) return {};
  std::vector<FoundItemHandle> chain;
  std::unordered_set<FoundItemHandle> seen;
  for (FoundItemHandle at = item; at != 0 && seen.insert(at).second;) {
    chain.push_back(at);
    const auto parent = folderById_.find(items_[at].record.parentId);
    if (parent == folderById_.end()) break;
    at = parent->second;
  }
  std::u16string path;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!path.empty()) path += u'/';
    path += items_[*it].name;
  }
  return path;
}

}  // namespace corvan
