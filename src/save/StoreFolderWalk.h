#pragma once
// The frame both store walks share: a folder, its files in the order the
// store lists them, then each subfolder the same way, depth first. Each
// stored folder is entered at most once, so a folder listed as its own child
// or under one of its subfolders cannot loop the walk. What the children of a
// folder are, which folders may be entered and which files are handed out is
// left to the walk built on it.

#include <cstdint>
#include <deque>
#include <unordered_set>
#include <vector>

#include "console/FoundItemStore.h"
#include "save/SaveWalk.h"

namespace corvan {

class StoreFolderWalk : public SaveItemWalk {
 public:
  bool Next(SaveWalkEntry& entry) override;

  // Folders nested deeper than this are saved without their contents.
  static constexpr std::uint32_t kMaxDepth = 2048;

 protected:
  // `start` kNoFoundItem: the store's root.
  StoreFolderWalk(const FoundItemStore& store, FoundItemHandle start);

  // Whether the contents of `folder` (item id `id`, first time seen) are walked.
  virtual bool MayEnter(FoundItemHandle folder, std::uint32_t id, std::uint32_t depth) = 0;
  // The items listed in the folder with item id `id`.
  virtual std::vector<FoundItemHandle> Children(std::uint32_t id) const = 0;
  virtual bool IsFolder(const StoredItem& item) const = 0;
  // Whether the file `child`, listed in `folder`, is handed out.
  virtual bool TakeFile(FoundItemHandle folder, FoundItemHandle child, const StoredItem& item) = 0;

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
