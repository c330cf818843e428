#pragma once
// Every found folder and file of a scan, in arrival order: a copy of each
// record with its name, found by id (folders) and by parent id. It is the
// found-item sink that engines report to; windows read it, never own it.
//
// Besides the classic structure (parent ids) the store groups files by type
// for the File Type List (category and extension folders of its own), keeps
// one check state per view in each record, keeps the per-view counts of
// what is checked, and places every folder in its view's tree. Everything
// is behind one lock: engines append from their worker thread while the
// windows read on the UI thread; the windows learn what changed from the
// feeds (tree joins, renames, stamps) rather than from calls into them.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/FoundItemSink.h"

namespace corvan {

struct StoredItem {
  FoundItemInfo record;
  std::u16string name;
};

// Check byte of a new item: unchecked in the classic and file-type views.
inline constexpr std::uint8_t kUncheckedBoth = 0x11;
// Parent id of the root record.
inline constexpr std::uint32_t kNoParent = 0xFFFFFFFFu;
// Flags bit 2 marks the root record.
inline constexpr std::uint8_t kItemRoot = 0x04;

// The three views of the results window.
inline constexpr int kViewClassic = 0;
inline constexpr int kViewByType = 1;
inline constexpr int kViewFiltered = 2;
inline constexpr int kViewCount = 3;

// Check states.
inline constexpr std::uint8_t kUnchecked = 1;
inline constexpr std::uint8_t kChecked = 2;
inline constexpr std::uint8_t kMixed = 4;

// View byte (record byte 67): bits 0-3 the file-type group, bits 4-6 the
// filtered view's check state, bit 7 set when the item passed the file mask.
inline constexpr std::uint8_t kGroupClassic = 0;
inline constexpr std::uint8_t kGroupTypedFile = 15;
inline constexpr std::uint8_t kPassedMask = 0x80;

// Fields of the record that belong to the store.
// Record byte 67, the view byte, within the engine bytes 63-71.
inline constexpr std::size_t kViewByteIndex = 4;
std::uint8_t ViewByte(const FoundItemInfo& r);
std::uint8_t GroupOf(const FoundItemInfo& r);
std::uint32_t TypeParentId(const FoundItemInfo& r);
void SetTypeParentId(FoundItemInfo& r, std::uint32_t id);
bool IsFolderRecord(const FoundItemInfo& r);
// A category or extension folder of the File Type List.
bool IsTypeFolder(const FoundItemInfo& r);
std::uint8_t CheckStateOf(const FoundItemInfo& r, int view);

// Checked folders, files and bytes of files in one view.
struct SelectionCounts {
  std::uint32_t folders = 0;
  std::uint32_t files = 0;
  std::uint64_t bytes = 0;
  bool operator==(const SelectionCounts&) const = default;
};

// What the engines handed over: files, folders (the root included), and
// the bytes found as the engine counts them.
struct ReceivedTotals {
  std::uint64_t bytes = 0;
  std::uint32_t files = 0;
  std::uint32_t folders = 0;
};

// A folder that joined a tree, with what the tree shows of it.
struct TreeEntry {
  FoundItemHandle item = kNoFoundItem;
  FoundItemHandle parent = kNoFoundItem;  // kNoFoundItem for the root
  std::u16string name;
  bool deleted = false;
};

// Where the windows stand against the store: when a value moved since they
// last looked, they have something to pick up.
struct StoreStamp {
  std::uint64_t generation = 0;  // a new root or Clear: start over
  std::uint64_t structure = 0;   // items moved to another folder (lost folder)
  std::uint64_t changes = 0;     // names, sizes or check states changed
  std::size_t count = 0;
  std::size_t treeJoins[3] = {0, 0, 0};  // classic tree, File Type List tree, filtered tree
  std::size_t renames = 0;
  std::uint64_t filter = 0;  // the filtered tree started over (a new file mask)
};

// What one stretch of the file mask's walk added to the filtered view.
struct FilterCounts {
  std::uint32_t files = 0;
  std::uint32_t folders = 0;
  std::uint64_t bytes = 0;
};

class FoundItemStore : public FoundItemSink {
 public:
  FoundItemStore();

  // ---- set up before a pass ----
  // Gives the label of the root item ("Root", or the volume's label); asked
  // each time a root is inserted, since a resumed scan selects its own
  // volume only once its file has been read.
  void SetRootLabel(std::function<std::u16string()> label);
  // Group files by extension for the File Type List (every mode but Raw,
  // whose engines group raw-found files themselves). Off by default.
  void SetGroupByType(bool group);
  // The counter that gives the ids of the extension folders and the lost
  // folder (decremented per use); the store's own when not set.
  void SetSyntheticIds(std::atomic<std::int32_t>* next);

  // ---- FoundItemSink: the root starts a new store; items are appended ----
  void OnInsertRootItem(std::uint32_t rootId) override;
  FoundItemHandle OnAddFoundItem(const FoundItemInfo& record, std::u16string_view name) override;
  void UpdateFoundItemSize(FoundItemHandle item, std::uint64_t size) override;
  void UpdateFoundItemName(FoundItemHandle item, std::u16string_view name) override;
  // Only marks the total line as due; the window builds it on its thread.
  void UpdateStatusText(int marked) override;
  // The total's bytes are the engine's count, not a sum of what arrived:
  // an exFAT folder's size is no file's bytes.
  void OnBytesFound(std::uint64_t bytes) override;

  void Clear();
  // After a pass: folders that never joined the tree (their parent never
  // came, or their parents name each other) and files of folders that never
  // came move under a lost folder, so nothing found stays out of sight.
  void FinishPass();

  // ---- reading ----
  std::size_t Count() const;
  // A copy, so a reader never holds a reference into a growing store.
  StoredItem Item(FoundItemHandle item) const;
  FoundItemInfo Record(FoundItemHandle item) const;
  std::u16string NameOf(FoundItemHandle item) const;
  std::vector<StoredItem> Items(const std::vector<FoundItemHandle>& items) const;
  // The root record's handle, or kNoFoundItem before the first root.
  FoundItemHandle Root() const;
  std::uint32_t RootId() const;
  // The first stored classic folder with this id.
  std::optional<FoundItemHandle> FindFolder(std::uint32_t id) const;
  // Items whose parent id is `parentId`, in arrival order (the File Type
  // List's folders are not among them).
  std::vector<FoundItemHandle> ChildrenOf(std::uint32_t parentId) const;
  // Names from the root's child down to the item, joined with '/'. The root
  // itself contributes nothing; a chain that breaks (missing parent) or
  // loops ends where it breaks.
  std::u16string PathOf(FoundItemHandle item) const;
  ReceivedTotals Totals() const;
  // The root plus every category and extension folder made so far.
  std::uint32_t TreeFolderCount() const;
  StoreStamp Stamp() const;
  // True once after the engines asked for the total line.
  bool TakeStatusDue();

  // ---- trees and the list ----
  // The tree parent of a folder in its tree (classic folders in the classic
  // tree, category and extension folders in the File Type List); kNoFoundItem
  // for the root and for folders not (yet) in a tree.
  FoundItemHandle TreeParent(FoundItemHandle folder) const;
  bool InTree(FoundItemHandle folder) const;
  // Folders that joined tree `tree` (0 classic, 1 File Type List, 2 the
  // filtered tree), in the order they joined, from position `from` on.
  std::vector<FoundItemHandle> TreeJoins(int tree, std::size_t from) const;
  // The same with parents and names, read under one lock.
  std::vector<TreeEntry> TreeEntries(int tree, std::size_t from) const;
  // Handles renamed since position `from`.
  std::vector<FoundItemHandle> Renames(std::size_t from) const;
  // The rows the folder list shows for `folder` in `view`, in arrival order.
  std::vector<FoundItemHandle> ListOf(int view, FoundItemHandle folder) const;
  std::size_t ListCount(int view, FoundItemHandle folder) const;
  // The folder whose contents show `item` in `view` (the root's handle for
  // items of the root); kNoFoundItem when no folder of the view holds it.
  FoundItemHandle HolderOf(int view, FoundItemHandle item) const;
  // Walks the items from the one after `from` towards the end (or, with
  // `backward`, towards the root), under one lock, and returns the first
  // for which `stop` answers true; kNoFoundItem at the end. The root is
  // never offered.
  FoundItemHandle Walk(FoundItemHandle from, bool backward,
                       const std::function<bool(FoundItemHandle, const StoredItem&)>& stop) const;

  // ---- the filtered view (the file mask) ----
  // Starts the filtered tree over: the root ("Filtered Files") stands
  // alone and nothing is checked in the view. Then ClearFilterMarks over
  // every item (in stretches, as the walk goes) takes back what passed the
  // last mask, before FilterItems tests them again.
  void BeginFilter();
  void ClearFilterMarks(std::size_t from, std::size_t to);
  // Tests the files among items [from, to) with `passes` (under the store's
  // lock: a short test) and puts each file that passes into the filtered
  // view, with copies of the folders that lead to it. A caller walks the
  // store in stretches so that the windows are never kept waiting long.
  FilterCounts FilterItems(std::size_t from, std::size_t to, const std::function<bool(const StoredItem&)>& passes);
  // Whether a mask has built the filtered tree since the store began.
  bool FilterBuilt() const;

  // ---- check states ----
  std::uint8_t CheckState(int view, FoundItemHandle item) const;
  // A click on a tree item's check box: an unchecked item becomes checked,
  // a checked or mixed one unchecked, with its contents and its ancestors.
  void ClickTreeCheck(int view, FoundItemHandle node);
  void SetTreeCheck(int view, FoundItemHandle node, bool check);
  // A click on the check box of list row `row` while the list shows `shown`.
  void ClickListCheck(int view, FoundItemHandle shown, FoundItemHandle row);
  void SetListCheck(int view, FoundItemHandle shown, FoundItemHandle row, bool check);
  // Kept up to date with every change.
  SelectionCounts Selection(int view) const;
  // The same counts by a walk over the store.
  SelectionCounts CountCheckedFiles(int view) const;
  // Files (not folders) with the deleted flag, whatever their check state.
  std::uint32_t CountDeletedFiles(int view) const;
  // Files checked in the view (state exactly 2).
  std::uint32_t CountRecoverableFiles(int view) const;
  // Bytes of every item with the deleted flag.
  std::uint64_t DeletedBytes() const;
  // Bytes of every item checked in the view.
  std::uint64_t CheckedBytes(int view) const;
  // The items of folder `folderId` that the saving thread takes: all of
  // them, or only the checked and mixed ones; in arrival order.
  std::vector<FoundItemHandle> CollectChildren(int view, std::uint64_t folderId, bool checkedOnly) const;
  // A folder after it was saved: mixed when a save filter left some of its
  // items out; otherwise mixed (`keepMarked`) or unchecked.
  void CountFolderItems(int view, FoundItemHandle folder, bool keepMarked, bool saveFilterActive);

  // ---- renaming ----
  // A name that a folder or file may take: 1 to 255 characters, not "." or
  // "..", no control characters and none of \ / : * ? " < > |.
  static bool IsAcceptableName(std::u16string_view name);
  bool Rename(FoundItemHandle item, std::u16string_view name);

 private:
  FoundItemHandle AppendLocked(StoredItem item);
  void InsertRootLocked(std::uint32_t rootId);
  void ResetLocked();
  void GroupLocked(StoredItem& item);
  FoundItemHandle MakeTypeFolderLocked(std::int32_t id, std::uint32_t parentId, std::uint32_t typeParent,
                                       int category, std::u16string name);
  void JoinTreeLocked(FoundItemHandle folder, FoundItemHandle parent);
  std::int32_t NextSyntheticId();
  void MoveToLostLocked(const std::vector<FoundItemHandle>& items);

  bool InViewLocked(int view, const FoundItemInfo& r) const;
  bool CountedLocked(int view, const FoundItemInfo& r, std::uint8_t state) const;
  void SetStateLocked(int view, FoundItemHandle item, std::uint8_t state);
  const std::vector<FoundItemHandle>* ChildrenLocked(int view, std::uint32_t folderId) const;
  FoundItemHandle ParentNodeLocked(int view, FoundItemHandle node) const;
  FoundItemHandle FilteredParentLocked(FoundItemHandle folder) const;
  std::uint8_t AggregateLocked(int view, FoundItemHandle node) const;
  void CheckRecursiveLocked(int view, FoundItemHandle node, std::uint8_t state);
  void PropagateUpLocked(int view, FoundItemHandle node);

  mutable std::mutex mutex_;
  std::function<std::u16string()> rootLabel_;
  bool groupByType_ = false;
  std::atomic<std::int32_t> ownSyntheticIds_{-16};
  std::atomic<std::int32_t>* syntheticIds_ = &ownSyntheticIds_;

  std::vector<StoredItem> items_;
  std::vector<FoundItemHandle> treeParent_;  // per item
  std::vector<std::uint8_t> inTree_;         // per item
  std::uint32_t rootId_ = 0;
  std::unordered_map<std::uint32_t, FoundItemHandle> folderById_;  // classic folders, first wins
  std::unordered_map<std::uint32_t, std::vector<FoundItemHandle>> childrenByParent_;
  std::unordered_map<std::uint32_t, std::vector<FoundItemHandle>> typeChildren_;
  std::unordered_map<std::uint32_t, FoundItemHandle> typeFolderById_;
  std::unordered_map<std::uint32_t, std::vector<FoundItemHandle>> waiting_;  // folders by the parent id they wait for
  // Extension folders by category and extension; category folders by category.
  std::unordered_map<std::u16string, FoundItemHandle> extensionFolders_;
  std::unordered_map<int, FoundItemHandle> categoryFolders_;
  std::uint32_t treeFolderCount_ = 0;

  SelectionCounts selection_[kViewCount];
  ReceivedTotals totals_;
  std::uint64_t generation_ = 0;
  std::uint64_t structure_ = 0;
  std::uint64_t changes_ = 0;
  std::vector<FoundItemHandle> treeJoins_[3];
  std::unordered_map<FoundItemHandle, FoundItemHandle> filteredParent_;  // folders of the filtered tree
  std::uint64_t filter_ = 0;
  std::vector<FoundItemHandle> renames_;
  std::atomic<bool> statusDue_{false};
};

}  // namespace corvan
