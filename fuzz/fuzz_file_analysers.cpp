// Carved data is whatever was on the disk: every analyser must stay inside
// what it read, end, and report a size only with success.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/FileAnalysers.h"
#include "core/SignatureEvidence.h"
#include "FuzzCarveReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte chooses the analyser; the rest is the disk.
  corvan::fuzz::FuzzReader reader(data + 1, size - 1);
  corvan::AnalysedFile f;
  bool ok = false;
  // An MPEG stream's largest size, from the choosing byte too: small ones
  // cut the walk short.
  const std::uint64_t mpegMax = data[0] / 6 == 0 ? 2048ull << 20 : data[0] / 6 * 1000ull;
  switch (data[0] % 6) {
    case 0: ok = corvan::GetBitmapFileSize(reader, 0, f); break;
    case 1: ok = corvan::GetPngFileSize(reader, 0, f); break;
    case 2: ok = corvan::GetAuFileSize(reader, 0, f); break;
    case 3: ok = corvan::GetAviFileSize(reader, 0, f); break;
    case 4: ok = corvan::GetHtmlFileSize(reader, 0, f); break;
    case 5:
      ok = corvan::GetMpegFileSize(reader, 0, mpegMax, f);
      // Inside its largest size, its own bytes inside it, and its reads a
      // small multiple of what it walked (a 64 KiB window, halved down at
      // the end of the disk).
      if (ok && (f.size > mpegMax || f.ownBytes > f.size || f.unknownSize || !f.suffix.empty())) std::abort();
      if (reader.bytesRead > 2 * f.size + (256u << 10)) std::abort();
      break;
  }
  if (!ok && !f.suffix.empty()) std::abort();
  // What the disk's first sector says of a file beginning there, for every
  // type whose first bytes tell: read inside the sector alone.
  std::vector<std::uint8_t> sector(data + 1, data + std::min<std::size_t>(size, 513));
  sector.resize(512);
  corvan::FileTypeRecord type;
  type.maxSize = 1u << 20;
  for (const std::uint16_t id : {20, 26, 50, 51, 55, 58, 59, 61, 62, 64, 65, 66, 67, 68, 69, 84, 111, 121, 150, 151, 158}) {
    type.typeId = id;
    (void)corvan::SignatureEvidence(type, sector.data());
  }
  return 0;
}
