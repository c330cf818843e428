// Any bytes as a RAR, ARJ, LZH and ALZ archive: every walk ends, stays inside
// the bytes, makes no more entries than it read headers, and the total is
// the sum of what it listed.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "preview/ArchiveList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  for (const char16_t* name : {u"a.rar", u"a.arj", u"a.lzh", u"a.alz"}) {
    corvan::MemoryByteSource source(std::span<const std::uint8_t>(data, size));
    const corvan::ArchiveListing listing = corvan::ListArchiveEntries(source, name);
    // Every entry stands on a header of at least a few bytes of its own.
    if (listing.entries.size() > size) std::abort();
    std::uint64_t total = 0;
    for (const auto& e : listing.entries) {
      total += e.unpacked;
      if (e.name.size() > size) std::abort();
      if (e.isFile != (e.unpacked != 0 && e.packed != 0)) std::abort();
    }
    if (total != listing.totalSize) std::abort();
  }
  return 0;
}
