#include "console/SavedScanItems.h"

#include <memory>

namespace corvan {

ScanInfoItemSource SavedScanItemsOf(const FoundItemStore& store) {
  auto next = std::make_shared<FoundItemHandle>(0);
  return [&store, next](ScanInfoItem& item) {
    if (*next >= store.Count()) return false;
    const StoredItem stored = store.Item((*next)++);
    item.info = stored.record;
    item.name = stored.name;
    return true;
  };
}

}  // namespace corvan
