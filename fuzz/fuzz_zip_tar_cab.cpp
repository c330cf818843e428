// Any bytes as a zip, a tar and a cabinet: every walk ends, no entry is made
// out of nothing, and the total is the sum of the listed sizes.
#include <cstdint>
#include <cstdlib>

#include "preview/ArchiveList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  corvan::MemoryByteSource source({data, size});
  for (const char16_t* name : {u"a.zip", u"a.tar", u"a.cab"}) {
    const corvan::ArchiveListing listing = corvan::ListArchiveEntries(source, name);
    // Each entry takes at least one header of its own (a cabinet's file
    // entry, 17 bytes, is the smallest).
    if (listing.entries.size() > size / 17) std::abort();
    std::uint64_t total = 0;
    for (const auto& e : listing.entries) {
      total += e.unpacked;
      if (e.name.size() > corvan::kArchiveNameMaxBytes) std::abort();
      if (e.isFile && e.unpacked == 0) std::abort();
    }
    if (total != listing.totalSize || listing.stopped) std::abort();
  }
  return 0;
}
