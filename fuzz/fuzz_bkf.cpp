// Any bytes as a tape-format backup: the walk stays inside the input, lists
// at most one file per 1024-byte block and keeps every name within bounds.
#include <cstdint>
#include <cstdlib>

#include "preview/BackupList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvan;
  MemoryByteSource source({data, size});
  const BackupListing listing = ListBackup(source, u"f.bkf");
  if (listing.entries.size() > size / 1024 + 1) std::abort();
  for (const auto& e : listing.entries) {
    if (e.name.size() > 260) std::abort();
    if (FormatBackupSize(e.size).empty() || FormatMtfDateTime(e.modified).empty()) std::abort();
  }
  return 0;
}
