#pragma once
// What Recover saves: the items of one view of the results window, walked
// by their check states. A folder that is checked or partly checked is
// entered; a file is saved when it is checked. With `everything` (the whole
// scan result was chosen) every item of the view is walked and the saving
// thread's which-files choice decides.
//
// The walk follows the view's own tree: the classic view by parent ids, the
// File Type List by its category and extension folders, the filtered view
// by the items that passed the file mask. As the saving thread reports
// back, saved files are unchecked (the view's counts drop with them) and a
// folder whose contents were all saved is unchecked too; a folder that
// keeps items the job left out (the save filter, a file that could not be
// written) stays checked or partly checked, so nothing unsaved looks done.

#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "console/FoundItemStore.h"
#include "save/StoreFolderWalk.h"

namespace corvan {

class CheckedItemsWalk final : public StoreFolderWalk {
 public:
  CheckedItemsWalk(FoundItemStore& store, int view, bool everything = false);

  void ItemDone(const SaveWalkEntry& entry) override;
  void FolderDone(const SaveWalkEntry& entry, bool aborted) override;

 private:
  bool MayEnter(FoundItemHandle folder, std::uint32_t id, std::uint32_t depth) override;
  std::vector<FoundItemHandle> Children(std::uint32_t id) const override;
  bool IsFolder(const StoredItem& item) const override;
  bool TakeFile(FoundItemHandle folder, FoundItemHandle child, const StoredItem& item) override;

  FoundItemStore& store_;
  int view_;
  bool everything_;
  std::unordered_set<std::uint32_t> enteredIds_;
  std::unordered_map<FoundItemHandle, FoundItemHandle> parentOf_;  // file -> the folder it was listed in
};

}  // namespace corvan
