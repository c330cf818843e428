#pragma once
// The results window's found items as a saved scan stores them: every item
// in the store's order, the root first.

#include "console/FoundItemStore.h"
#include "scan/ScanInfoFile.h"

namespace corvan {

// Hands over the items of `store` one at a time; the store must outlive it.
ScanInfoItemSource SavedScanItemsOf(const FoundItemStore& store);

}  // namespace corvan
