// Any bytes as a saved web page archive: headers, nested multiparts and the
// two transfer decodings stay inside the bytes, and the parts are bounded.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "preview/MimeReader.h"
#include "preview/TextDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  corvan::MhtDocument doc;
  if (!corvan::ReadMht({data, size}, doc)) return 0;
  if (doc.parts.size() > 4096 || !doc.Root()) std::abort();
  std::size_t total = 0;
  for (const auto& part : doc.parts) total += part.body.size();
  // Decoding only ever shrinks what it decodes.
  if (total > size) std::abort();
  const corvan::MimePart& page = *doc.Root();
  corvan::DecodeText(std::string_view(reinterpret_cast<const char*>(page.body.data()), page.body.size()), page.charset);
  if (!doc.parts.empty() && !doc.parts[0].location.empty()) doc.Find(doc.parts[0].location);
  doc.Find("cid:x");
  doc.Find("a/b.png");
  return 0;
}
