// Any bytes as an RTF document: the reader stays inside them, whatever the
// nesting, numbers, escapes and \bin lengths, and hands out only text it read.
#include <cstdint>
#include <cstdlib>

#include "preview/RtfReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  corvan::RtfDocument doc;
  if (!corvan::ParseRtf({data, size}, doc)) return 0;
  // No character is made out of nothing: at most one per byte read.
  if (doc.PlainText().size() > size + doc.paragraphs.size()) std::abort();
  for (const auto& p : doc.paragraphs)
    for (const auto& r : p.runs)
      if (r.format.halfPoints == 0 || r.format.halfPoints > 3276) std::abort();
  return 0;
}
