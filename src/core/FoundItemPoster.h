#pragma once
// The hand-over of found items to the results window, shared by every
// engine: the root item that opens a pass's tree, the ids of the items an
// engine makes up, the counters the status line and the scan dialog show,
// the counter text, and the queue of folders whose sending waits until
// something beneath them is worth showing. Each engine keeps its own root
// id, id rules, bar range and counter wording; the poster keeps the order in
// which the windows are told.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/FoundItemInfo.h"
#include "core/FoundItemSink.h"
#include "core/ProgressSink.h"

namespace corvan {

class FoundItemPoster {
 public:
  // How the scan dialog's counter line reads: "12 " or "12 Entries Found".
  enum class Counter { Number, EntriesFound };

  struct PostStyle {
    Counter counter = Counter::Number;
    bool step = true;          // step the main bar once for the item
    bool folderBytes = false;  // a folder's size counts towards the bytes found
  };

  // How an engine's ids are handed out: never below `lowest`, and never the
  // id `reserved` stands for (a folder of the engine's own).
  struct IdRules {
    std::uint32_t lowest = 0;
    std::uint32_t reserved = 0;
    bool hasReserved = false;
  };

  explicit FoundItemPoster(std::uint32_t rootId) : rootId_(rootId) {}
  FoundItemPoster(std::uint32_t rootId, IdRules ids) : rootId_(rootId), idRules_(ids) {}

  // The results window and the scan dialog; null stands for no window.
  void Attach(FoundItemSink* results, ProgressSink* progress);
  FoundItemSink& Results() const;
  ProgressSink& Progress() const;

  std::uint32_t RootId() const { return rootId_; }
  // The root went out: the tree of this pass is open.
  bool Opened() const { return entries_ != 0; }
  // Sets the main bar to 0 .. `range` in steps of one and sends the root.
  void OpenRoot(std::int64_t range);
  // Sends one item, counts it and shows the count.
  FoundItemHandle Post(const FoundItemInfo& record, std::u16string_view name, const PostStyle& style);

  // ---- ids of the items the engine makes up ----
  // The next id, by the engine's rules; the highest one handed out is kept.
  std::uint32_t TakeId();
  std::uint32_t NextId() const { return nextId_; }
  void SetNextId(std::uint32_t id) { nextId_ = id; }
  std::uint32_t HighestId() const { return highestId_; }

  // ---- folders waiting for something beneath them ----
  // The queued copy keeps the record's identifying fields only.
  void Queue(const FoundItemInfo& record, std::u16string_view name);
  void DropLastQueued();
  bool HasQueued() const { return !queue_.empty(); }
  // Sends the queued folders in order, each stepping the bar; `sent` runs
  // after each has been handed over, before the count is shown.
  void FlushQueue(Counter counter, const std::function<void(const FoundItemInfo&)>& sent = {});
  void ClearQueue() { queue_.clear(); }

  // ---- counters (the root counts as a folder) ----
  std::uint32_t Entries() const { return entries_; }
  std::uint32_t Folders() const { return folders_; }
  std::uint32_t Files() const { return files_; }
  std::uint64_t Bytes() const { return bytes_; }
  // Each change of the bytes found is told to the results window.
  void AddBytes(std::uint64_t bytes);
  void ResetBytes();
  // A new tree: nothing counted, the root not yet sent.
  void ResetCounters();

 private:
  struct Queued {
    FoundItemInfo record;
    std::u16string name;
  };
  void ShowCount(Counter counter);
  void TellBytes() const;

  std::uint32_t rootId_;
  IdRules idRules_;
  std::uint32_t nextId_ = 0;
  std::uint32_t highestId_ = 0;
  FoundItemSink* results_ = nullptr;
  ProgressSink* progress_ = nullptr;
  std::uint32_t entries_ = 0;
  std::uint32_t folders_ = 0;
  std::uint32_t files_ = 0;
  std::uint64_t bytes_ = 0;
  std::vector<Queued> queue_;
};

}  // namespace corvan
