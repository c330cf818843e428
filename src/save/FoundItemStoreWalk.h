#pragma once
// Everything the found-item store holds under one folder, as the saving
// thread walks it: the folder, its files in arrival order, then each
// subfolder the same way. Each folder is entered once (the first stored
// folder of an id, as the tree shows it), so ids that name each other or a
// folder listed as its own child cannot loop the walk.

#include <deque>
#include <unordered_set>
#include <vector>

#include "console/FoundItemStore.h"
#include "save/SaveWalk.h"

namespace corvan {

class FoundItemStoreWalk final : public SaveItemWalk {
 public:
  // `folder` kNoFoundItem: the store's root.
  explicit FoundItemStoreWalk(const FoundItemStore& store, FoundItemHandle folder = kNoFoundItem);

  bool Next(SaveWalkEntry& entry) override;

  // Folders nested deeper than this are saved without their contents.
  static constexpr std::uint32_t kMaxDepth = 2048;

 private:
  struct Frame {
    std::vector<FoundItemHandle> folders;
    std::size_t next = 0;
    std::uint32_t depth = 0;
  };
  void Enter(FoundItemHandle folder, std::uint32_t depth);

  const FoundItemStore& store_;
  FoundItemHandle start_;
  bool started_ = false;
  std::vector<Frame> stack_;
  std::deque<SaveWalkEntry> ready_;
  std::unordered_set<FoundItemHandle> entered_;
};

}  // namespace corvan
