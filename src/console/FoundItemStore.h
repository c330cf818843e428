#pragma once
// Every found folder and file of a scan, in arrival order: a copy of each
// record with its name, found by id (folders) and by parent id. It is the
// found-item sink that engines report to; windows read it, never own it.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "console/FoundItemSink.h"

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

class FoundItemStore : public FoundItemSink {
 public:
  // Label of the root item ("Root", or the volume's label).
  void SetRootLabel(std::u16string label);

  // FoundItemSink: the root starts a new store; items are appended.
  void OnInsertRootItem(std::uint32_t rootId) override;
  FoundItemHandle OnAddFoundItem(const FoundItemInfo& record, std::u16string_view name) override;
  void UpdateFoundItemSize(FoundItemHandle item, std::uint64_t size) override;
  void UpdateFoundItemName(FoundItemHandle item, std::u16string_view name) override;
  void UpdateStatusText(int) override {}

  void Clear();

  std::size_t Count() const;
  // A copy, so a reader never holds a reference into a growing store.
  StoredItem Item(FoundItemHandle item) const;
  // The root record's handle, or kNoFoundItem before the first root.
  FoundItemHandle Root() const;
  // The first stored folder with this id.
  std::optional<FoundItemHandle> FindFolder(std::uint32_t id) const;
  // Items whose parent id is `parentId`, in arrival order.
  std::vector<FoundItemHandle> ChildrenOf(std::uint32_t parentId) const;
  // Names from the root's child down to the item, joined with '/'. The root
  // itself contributes nothing; a chain that breaks (missing parent) or
  // loops ends where it breaks.
  std::u16string PathOf(FoundItemHandle item) const;

 private:
  void AppendLocked(StoredItem item);

  mutable std::mutex mutex_;
  std::u16string rootLabel_ = u"Root";
  std::vector<StoredItem> items_;
  std::unordered_map<std::uint32_t, FoundItemHandle> folderById_;
  std::unordered_map<std::uint32_t, std::vector<FoundItemHandle>> childrenByParent_;
};

}  // namespace corvan
