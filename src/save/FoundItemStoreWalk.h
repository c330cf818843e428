#pragma once
// Everything the found-item store holds under one folder, as the saving
// thread walks it: the folder, its files in arrival order, then each
// subfolder the same way. Each folder is entered once (the first stored
// folder of an id, as the tree shows it), so ids that name each other or a
// folder listed as its own child cannot loop the walk.

#include <cstdint>
#include <vector>

#include "console/FoundItemStore.h"
#include "save/StoreFolderWalk.h"

namespace corvan {

class FoundItemStoreWalk final : public StoreFolderWalk {
 public:
  // `folder` kNoFoundItem: the store's root.
  explicit FoundItemStoreWalk(const FoundItemStore& store, FoundItemHandle folder = kNoFoundItem);

 private:
  bool MayEnter(FoundItemHandle folder, std::uint32_t id, std::uint32_t depth) override;
  std::vector<FoundItemHandle> Children(std::uint32_t id) const override;
  bool IsFolder(const StoredItem& item) const override;
  bool TakeFile(FoundItemHandle folder, FoundItemHandle child, const StoredItem& item) override;

  const FoundItemStore& store_;
};

}  // namespace corvan
