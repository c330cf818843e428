#pragma once
// What the file-saving thread walks: the folders and files to save, in the
// order they are saved. A folder comes first, then its files, then its
// subfolders, each with its own contents; `depth` says where an entry sits
// (the root folder is 0, its children 1, ...), so a folder's contents are
// the entries after it that are deeper than it.
//
// The results window's walk (checked items of a view) and the walk of a
// whole folder of the found-item store both yield this sequence; the
// thread reports back through ItemDone and FolderDone, where the window
// unchecks what was saved.

#include <cstdint>
#include <string>

#include "core/FoundItemInfo.h"

namespace corvan {

struct SaveWalkEntry {
  bool folder = false;
  std::uint32_t depth = 0;
  FoundItemInfo record;
  std::u16string name;
  std::uint64_t key = 0;  // the walk's own reference to the item (a store handle)
};

class SaveItemWalk {
 public:
  virtual ~SaveItemWalk() = default;
  // The next entry in walk order; false at the end.
  virtual bool Next(SaveWalkEntry& entry) = 0;
  // A file was saved (or deliberately left out by the which-files choice):
  // the window unchecks it and lowers its counts.
  virtual void ItemDone(const SaveWalkEntry& entry) {}
  // A folder's contents were walked; `aborted` when the job stopped inside.
  virtual void FolderDone(const SaveWalkEntry& entry, bool aborted) {}
};

}  // namespace corvan
