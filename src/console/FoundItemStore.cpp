#include "console/FoundItemStore.h"

#include <algorithm>
#include <unordered_set>

#include "core/StringIds.h"
#include "core/StringTable.h"
#include "console/FileTypeCategory.h"
#include "platform/TextConv.h"

namespace corvan {

namespace {

constexpr std::uint8_t kInClassicTree = 0x01;
constexpr std::uint8_t kInTypeTree = 0x02;

}  // namespace

std::uint8_t ViewByte(const FoundItemInfo& r) { return r.extra[kViewByteIndex]; }
std::uint8_t GroupOf(const FoundItemInfo& r) { return r.extra[kViewByteIndex] & 0x0F; }
std::uint32_t TypeParentId(const FoundItemInfo& r) {
  return r.extra[0] | (std::uint32_t{r.extra[1]} << 8) | (std::uint32_t{r.extra[2]} << 16) |
         (std::uint32_t{r.extra[3]} << 24);
}
void SetTypeParentId(FoundItemInfo& r, std::uint32_t id) {
  for (int i = 0; i < 4; ++i) r.extra[i] = static_cast<std::uint8_t>(id >> (8 * i));
}
bool IsFolderRecord(const FoundItemInfo& r) { return (r.attribute & kItemFolder) != 0; }
bool IsTypeFolder(const FoundItemInfo& r) {
  const std::uint8_t g = GroupOf(r);
  return IsFolderRecord(r) && g != kGroupClassic && g != kGroupTypedFile;
}
std::uint8_t CheckStateOf(const FoundItemInfo& r, int view) {
  switch (view) {
    case kViewClassic: return r.state & 0x0F;
    case kViewByType: return r.state >> 4;
    default: return (ViewByte(r) >> 4) & 0x07;
  }
}

FoundItemStore::FoundItemStore() = default;

void FoundItemStore::SetRootLabel(std::function<std::u16string()> label) {
  std::lock_guard lock(mutex_);
  rootLabel_ = std::move(label);
}

void FoundItemStore::SetGroupByType(bool group) {
  std::lock_guard lock(mutex_);
  groupByType_ = group;
}

void FoundItemStore::SetSyntheticIds(std::atomic<std::int32_t>* next) {
  std::lock_guard lock(mutex_);
  syntheticIds_ = next ? next : &ownSyntheticIds_;
}

std::int32_t FoundItemStore::NextSyntheticId() {
  // Ids from -1 to -11 name the category folders and ids from 0 up are the
  // disk's: a counter that has not been moved below them yet is moved now.
  std::int32_t current = syntheticIds_->load();
  for (;;) {
    const std::int32_t id = std::min<std::int32_t>(current, -12);
    if (syntheticIds_->compare_exchange_weak(current, id - 1)) return id;
  }
}

void FoundItemStore::ResetLocked() {
  items_.clear();
  treeParent_.clear();
  inTree_.clear();
  folderById_.clear();
  childrenByParent_.clear();
  typeChildren_.clear();
  typeFolderById_.clear();
  waiting_.clear();
  extensionFolders_.clear();
  categoryFolders_.clear();
  treeFolderCount_ = 0;
  for (auto& s : selection_) s = {};
  totals_ = {};
  for (auto& f : treeJoins_) f.clear();
  filteredParent_.clear();
  renames_.clear();
  ++generation_;
}

void FoundItemStore::Clear() {
  std::lock_guard lock(mutex_);
  ResetLocked();
}

void FoundItemStore::InsertRootLocked(std::uint32_t rootId) {
  ResetLocked();
  rootId_ = rootId;
  treeFolderCount_ = 1;
  StoredItem root;
  root.record.itemId = rootId;
  root.record.parentId = kNoParent;
  root.record.attribute = kItemFolder;
  root.record.state = kUncheckedBoth;
  root.record.extra[kViewByteIndex] = 0x10;  // filtered state 1
  root.record.flags = kItemRoot;
  root.name = rootLabel_ ? rootLabel_() : u"Root";
  AppendLocked(std::move(root));
}

void FoundItemStore::OnInsertRootItem(std::uint32_t rootId) {
  std::lock_guard lock(mutex_);
  InsertRootLocked(rootId);
}

void FoundItemStore::JoinTreeLocked(FoundItemHandle folder, FoundItemHandle parent) {
  // Joining releases the folders that waited for this one, and theirs in
  // turn; a stack keeps deep chains off the call stack.
  std::vector<std::pair<FoundItemHandle, FoundItemHandle>> pending{{folder, parent}};
  while (!pending.empty()) {
    const auto [f, p] = pending.back();
    pending.pop_back();
    if (inTree_[f] & kInClassicTree) continue;
    treeParent_[f] = p;
    inTree_[f] |= kInClassicTree;
    treeJoins_[0].push_back(f);
    const std::uint32_t id = items_[f].record.itemId;
    const auto first = folderById_.find(id);
    if (first == folderById_.end() || first->second != f) continue;
    const auto waiters = waiting_.find(id);
    if (waiters == waiting_.end()) continue;
    for (FoundItemHandle w : waiters->second) pending.emplace_back(w, f);
    waiting_.erase(waiters);
  }
}

FoundItemHandle FoundItemStore::AppendLocked(StoredItem item) {
  const auto handle = static_cast<FoundItemHandle>(items_.size());
  const FoundItemInfo rec = item.record;
  items_.push_back(std::move(item));
  treeParent_.push_back(kNoFoundItem);
  inTree_.push_back(0);

  if (handle == 0) {  // the root heads both trees
    folderById_.emplace(rec.itemId, 0);
    inTree_[0] = kInClassicTree | kInTypeTree;
    treeJoins_[0].push_back(0);
    treeJoins_[1].push_back(0);
    totals_.folders = 1;
    return handle;
  }

  if (IsTypeFolder(rec)) {
    const std::uint32_t key = TypeParentId(rec) != 0 ? TypeParentId(rec) : rec.parentId;
    typeChildren_[key].push_back(handle);
    typeFolderById_.emplace(rec.itemId, handle);
    const auto parent = typeFolderById_.find(key);
    treeParent_[handle] = (key == rootId_ || parent == typeFolderById_.end()) ? 0 : parent->second;
    inTree_[handle] = kInTypeTree;
    treeJoins_[1].push_back(handle);
    return handle;
  }

  childrenByParent_[rec.parentId].push_back(handle);
  if (GroupOf(rec) == kGroupTypedFile) typeChildren_[TypeParentId(rec)].push_back(handle);
  if (!IsFolderRecord(rec)) {
    ++totals_.files;
    return handle;
  }
  ++totals_.folders;
  folderById_.emplace(rec.itemId, handle);  // keeps the first
  const auto parent = folderById_.find(rec.parentId);
  if (parent != folderById_.end() && parent->second != handle && (inTree_[parent->second] & kInClassicTree)) {
    JoinTreeLocked(handle, parent->second);
  } else {
    waiting_[rec.parentId].push_back(handle);
  }
  return handle;
}

FoundItemHandle FoundItemStore::MakeTypeFolderLocked(std::int32_t id, std::uint32_t parentId,
                                                     std::uint32_t typeParent, int category,
                                                     std::u16string name) {
  StoredItem folder;
  folder.record.itemId = static_cast<std::uint32_t>(id);
  folder.record.parentId = parentId;
  SetTypeParentId(folder.record, typeParent);
  folder.record.attribute = kItemFolder;
  folder.record.state = kUncheckedBoth;
  folder.record.extra[kViewByteIndex] = static_cast<std::uint8_t>(0x10 | category);
  folder.name = std::move(name);
  ++treeFolderCount_;
  return AppendLocked(std::move(folder));
}

void FoundItemStore::GroupLocked(StoredItem& item) {
  std::u16string extension = ExtensionKey(item.name);
  int category = GetFileTypeCategory(extension);
  if (category < kCategoryGraphics || category > kCategoryInternet) category = kCategoryMiscellaneous;
  const CategoryFolder& cat = CategoryFolderOf(category);
  const auto categoryId = static_cast<std::uint32_t>(cat.id);
  if (!categoryFolders_.count(category))
    categoryFolders_[category] = MakeTypeFolderLocked(cat.id, rootId_, 0, category, cat.name);

  std::u16string key = std::u16string(1, static_cast<char16_t>(category)) + extension;
  auto ext = extensionFolders_.find(key);
  if (ext == extensionFolders_.end()) {
    const std::int32_t id = NextSyntheticId();
    const FoundItemHandle h = MakeTypeFolderLocked(id, categoryId, categoryId, category, std::move(extension));
    ext = extensionFolders_.emplace(std::move(key), h).first;
  }
  item.record.extra[kViewByteIndex] = static_cast<std::uint8_t>((item.record.extra[kViewByteIndex] & 0xF0) | kGroupTypedFile);
  SetTypeParentId(item.record, items_[ext->second].record.itemId);
}

FoundItemHandle FoundItemStore::OnAddFoundItem(const FoundItemInfo& record, std::u16string_view name) {
  StoredItem item{record, std::u16string(name)};
  FoundItemInfo& r = item.record;
  // The check states and the type parent are the store's: unchecked
  // everywhere, in no type folder yet. Of the view byte the filtered state
  // starts at 1; the group and the mask bit the record brings are kept (a
  // record restored from a saved scan brings its own).
  r.state = kUncheckedBoth;
  SetTypeParentId(r, 0);
  r.extra[kViewByteIndex] = static_cast<std::uint8_t>((r.extra[kViewByteIndex] & 0x9F) | 0x10);
  std::lock_guard lock(mutex_);
  if (items_.empty()) InsertRootLocked(0);
  if (groupByType_ && (r.attribute & kItemFile) && !IsFolderRecord(r)) GroupLocked(item);
  return AppendLocked(std::move(item));
}

void FoundItemStore::UpdateFoundItemSize(FoundItemHandle item, std::uint64_t size) {
  std::lock_guard lock(mutex_);
  if (item == 0 || item >= items_.size()) return;
  FoundItemInfo& r = items_[item].record;
  for (int v = 0; v < kViewCount; ++v) {
    if (!IsFolderRecord(r) && CountedLocked(v, r, CheckStateOf(r, v)))
      selection_[v].bytes = selection_[v].bytes - r.size + size;
  }
  r.size = size;
  ++changes_;
}

void FoundItemStore::UpdateFoundItemName(FoundItemHandle item, std::u16string_view name) {
  std::lock_guard lock(mutex_);
  if (item >= items_.size()) return;
  items_[item].name = std::u16string(name);
  renames_.push_back(item);
  ++changes_;
}

void FoundItemStore::OnBytesFound(std::uint64_t bytes) {
  std::lock_guard lock(mutex_);
  totals_.bytes = bytes;
}

void FoundItemStore::UpdateStatusText(int marked) {
  if (marked == 0) statusDue_ = true;
}

bool FoundItemStore::TakeStatusDue() { return statusDue_.exchange(false); }

void FoundItemStore::MoveToLostLocked(const std::vector<FoundItemHandle>& moving) {
  if (moving.empty()) return;
  StoredItem lost;
  lost.record.itemId = static_cast<std::uint32_t>(NextSyntheticId());
  lost.record.parentId = rootId_;
  lost.record.attribute = kItemFolder;
  lost.record.state = kUncheckedBoth;
  lost.record.extra[kViewByteIndex] = 0x10;
  lost.name = Utf8ToUtf16(LoadString(kIdsLostFolders));
  const std::uint32_t lostId = lost.record.itemId;
  const FoundItemHandle lostHandle = AppendLocked(std::move(lost));
  --totals_.folders;  // the store's own folder, not one the engine found

  std::unordered_set<FoundItemHandle> movingSet(moving.begin(), moving.end());
  std::unordered_set<std::uint32_t> oldParents;
  for (FoundItemHandle h : moving) oldParents.insert(items_[h].record.parentId);
  for (std::uint32_t p : oldParents) {
    auto it = childrenByParent_.find(p);
    if (it == childrenByParent_.end()) continue;
    std::erase_if(it->second, [&](FoundItemHandle h) { return movingSet.count(h) != 0; });
    if (it->second.empty()) childrenByParent_.erase(it);
  }
  auto& lostChildren = childrenByParent_[lostId];
  for (FoundItemHandle h : moving) {
    items_[h].record.parentId = lostId;
    lostChildren.push_back(h);
  }
  for (FoundItemHandle h : moving)
    if (IsFolderRecord(items_[h].record) && !(inTree_[h] & kInClassicTree)) JoinTreeLocked(h, lostHandle);
  ++structure_;
  ++changes_;
}

void FoundItemStore::FinishPass() {
  std::lock_guard lock(mutex_);
  if (items_.empty()) return;
  // Folders still waiting: only the first of each chain that loops, or
  // whose top parent never came, moves; the rest follow it into the tree.
  std::vector<FoundItemHandle> waiting;
  for (const auto& [parent, list] : waiting_) waiting.insert(waiting.end(), list.begin(), list.end());
  std::sort(waiting.begin(), waiting.end());
  std::vector<FoundItemHandle> moving;
  for (FoundItemHandle h : waiting) {
    if (inTree_[h] & kInClassicTree) continue;
    // Does the parent chain of h end in the tree? Then it is not lost.
    bool reachesTree = false;
    std::unordered_set<FoundItemHandle> seen;
    for (FoundItemHandle at = h; seen.insert(at).second;) {
      const auto p = folderById_.find(items_[at].record.parentId);
      if (p == folderById_.end()) break;
      if (inTree_[p->second] & kInClassicTree) {
        reachesTree = true;
        break;
      }
      at = p->second;
    }
    if (!reachesTree) {
      moving.push_back(h);
      // Everything that waits on h now has a way into the tree through it.
      inTree_[h] |= kInClassicTree;
    }
  }
  for (FoundItemHandle h : moving) inTree_[h] &= static_cast<std::uint8_t>(~kInClassicTree);
  // Files whose folder never came.
  for (const auto& [parent, list] : childrenByParent_) {
    if (parent == rootId_ || folderById_.count(parent)) continue;
    for (FoundItemHandle h : list)
      if (!IsFolderRecord(items_[h].record)) moving.push_back(h);
  }
  std::sort(moving.begin(), moving.end());
  // The moved folders' own waiters come along by their parent ids.
  for (auto& [parent, list] : waiting_) std::erase_if(list, [&](FoundItemHandle h) {
    return std::binary_search(moving.begin(), moving.end(), h);
  });
  MoveToLostLocked(moving);
  std::erase_if(waiting_, [](const auto& entry) { return entry.second.empty(); });
}

// ---------------------------------------------------------------- reading

std::size_t FoundItemStore::Count() const {
  std::lock_guard lock(mutex_);
  return items_.size();
}

StoredItem FoundItemStore::Item(FoundItemHandle item) const {
  std::lock_guard lock(mutex_);
  return item < items_.size() ? items_[item] : StoredItem{};
}

FoundItemInfo FoundItemStore::Record(FoundItemHandle item) const {
  std::lock_guard lock(mutex_);
  return item < items_.size() ? items_[item].record : FoundItemInfo{};
}

std::u16string FoundItemStore::NameOf(FoundItemHandle item) const {
  std::lock_guard lock(mutex_);
  return item < items_.size() ? items_[item].name : std::u16string();
}

std::vector<StoredItem> FoundItemStore::Items(const std::vector<FoundItemHandle>& handles) const {
  std::lock_guard lock(mutex_);
  std::vector<StoredItem> out;
  out.reserve(handles.size());
  for (FoundItemHandle h : handles) out.push_back(h < items_.size() ? items_[h] : StoredItem{});
  return out;
}

FoundItemHandle FoundItemStore::Root() const {
  std::lock_guard lock(mutex_);
  return items_.empty() ? kNoFoundItem : 0;
}

std::uint32_t FoundItemStore::RootId() const {
  std::lock_guard lock(mutex_);
  return rootId_;
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

ReceivedTotals FoundItemStore::Totals() const {
  std::lock_guard lock(mutex_);
  return totals_;
}

std::uint32_t FoundItemStore::TreeFolderCount() const {
  std::lock_guard lock(mutex_);
  return treeFolderCount_;
}

StoreStamp FoundItemStore::Stamp() const {
  std::lock_guard lock(mutex_);
  StoreStamp s;
  s.generation = generation_;
  s.structure = structure_;
  s.changes = changes_;
  s.count = items_.size();
  for (int t = 0; t < 3; ++t) s.treeJoins[t] = treeJoins_[t].size();
  s.filter = filter_;
  s.renames = renames_.size();
  return s;
}

FoundItemHandle FoundItemStore::TreeParent(FoundItemHandle folder) const {
  std::lock_guard lock(mutex_);
  return folder < treeParent_.size() ? treeParent_[folder] : kNoFoundItem;
}

bool FoundItemStore::InTree(FoundItemHandle folder) const {
  std::lock_guard lock(mutex_);
  return folder < inTree_.size() && inTree_[folder] != 0;
}

std::vector<FoundItemHandle> FoundItemStore::TreeJoins(int tree, std::size_t from) const {
  std::lock_guard lock(mutex_);
  const auto& feed = treeJoins_[std::clamp(tree, 0, 2)];
  if (from >= feed.size()) return {};
  return {feed.begin() + static_cast<std::ptrdiff_t>(from), feed.end()};
}

std::vector<TreeEntry> FoundItemStore::TreeEntries(int tree, std::size_t from) const {
  std::lock_guard lock(mutex_);
  const int t = std::clamp(tree, 0, 2);
  const auto& feed = treeJoins_[t];
  std::vector<TreeEntry> out;
  for (std::size_t i = from; i < feed.size(); ++i) {
    const FoundItemHandle h = feed[i];
    const FoundItemHandle parent = t == kViewFiltered ? FilteredParentLocked(h) : treeParent_[h];
    out.push_back({h, parent, items_[h].name, items_[h].record.IsDeleted()});
  }
  return out;
}

std::vector<FoundItemHandle> FoundItemStore::Renames(std::size_t from) const {
  std::lock_guard lock(mutex_);
  if (from >= renames_.size()) return {};
  return {renames_.begin() + static_cast<std::ptrdiff_t>(from), renames_.end()};
}

std::vector<FoundItemHandle> FoundItemStore::ListOf(int view, FoundItemHandle folder) const {
  std::lock_guard lock(mutex_);
  if (folder >= items_.size()) return {};
  const std::vector<FoundItemHandle>* rows = ChildrenLocked(view, items_[folder].record.itemId);
  if (!rows) return {};
  if (view != kViewFiltered) return *rows;
  std::vector<FoundItemHandle> passed;
  for (FoundItemHandle h : *rows)
    if (ViewByte(items_[h].record) & kPassedMask) passed.push_back(h);
  return passed;
}

std::size_t FoundItemStore::ListCount(int view, FoundItemHandle folder) const {
  if (view == kViewFiltered) return ListOf(view, folder).size();
  std::lock_guard lock(mutex_);
  if (folder >= items_.size()) return 0;
  const std::vector<FoundItemHandle>* rows = ChildrenLocked(view, items_[folder].record.itemId);
  return rows ? rows->size() : 0;
}

const std::vector<FoundItemHandle>* FoundItemStore::ChildrenLocked(int view, std::uint32_t folderId) const {
  const auto& index = view == kViewByType ? typeChildren_ : childrenByParent_;
  const auto it = index.find(folderId);
  return it == index.end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------- renaming

bool FoundItemStore::IsAcceptableName(std::u16string_view name) {
  if (name.empty() || name.size() > 255 || name == u"." || name == u"..") return false;
  for (char16_t c : name) {
    if (c < 0x20 || c == 0x7F) return false;
    switch (c) {
      case u'\\': case u'/': case u':': case u'*': case u'?': case u'"': case u'<': case u'>': case u'|':
        return false;
      default: break;
    }
  }
  return true;
}

bool FoundItemStore::Rename(FoundItemHandle item, std::u16string_view name) {
  if (!IsAcceptableName(name)) return false;
  UpdateFoundItemName(item, name);
  return true;
}

}  // namespace corvan
