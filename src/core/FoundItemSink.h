#pragma once
// Where engines and the scan-information loader hand found items over. The
// store keeps its own copy of each record and name and answers at once with
// a handle to that copy, through which a pass may later correct the item's
// size or name.

#include <cstdint>
#include <string_view>

#include "core/FoundItemInfo.h"

namespace corvan {

using FoundItemHandle = std::uint32_t;
inline constexpr FoundItemHandle kNoFoundItem = 0xFFFFFFFFu;

class FoundItemSink {
 public:
  virtual ~FoundItemSink() = default;

  // The root folder of a pass: id 5 for NTFS, 0 for FAT and exFAT.
  virtual void OnInsertRootItem(std::uint32_t rootId) = 0;
  virtual FoundItemHandle OnAddFoundItem(const FoundItemInfo& record, std::u16string_view name) = 0;
  virtual void UpdateFoundItemSize(FoundItemHandle item, std::uint64_t size) = 0;
  virtual void UpdateFoundItemName(FoundItemHandle item, std::u16string_view name) = 0;
  // Refreshes the status line from the counters (0 = the classic view).
  virtual void UpdateStatusText(int view) = 0;
  // The bytes the engine has counted as found so far, which the status line
  // totals: its files' sizes, and whatever else its pass counts.
  virtual void OnBytesFound(std::uint64_t) {}
};

// Takes items and keeps nothing: for engine steps run without a window.
class NullFoundItemSink final : public FoundItemSink {
 public:
  void OnInsertRootItem(std::uint32_t) override {}
  FoundItemHandle OnAddFoundItem(const FoundItemInfo&, std::u16string_view) override { return kNoFoundItem; }
  void UpdateFoundItemSize(FoundItemHandle, std::uint64_t) override {}
  void UpdateFoundItemName(FoundItemHandle, std::u16string_view) override {}
  void UpdateStatusText(int) override {}
};

}  // namespace corvan
