// Carved pictures are whatever was on the disk: the GIF, JPEG and TIFF
// analysers must stay inside what they read, end, give a name only with
// success, and keep sizes within their walks' bounds.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/FileAnalysers.h"
#include "FuzzCarveReader.h"

namespace {

// The largest size each walk can reach: a GIF's sub-block chains stop at
// 50 MiB (passes after that add under 1 MiB); a JPEG's marker walk stops at
// 60 MiB, its last step being a segment or a 30 MiB search; a classic TIFF
// addresses 4 GiB.
constexpr std::uint64_t kLargest[] = {0x3200000 + 0x100000, 0x3C00000 + 0x1E00000 + 0x20000, 0xFFFFFFFF};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte chooses the analyser, and its top bit stops the scan at
  // once; the rest is the disk.
  corvan::fuzz::FuzzReader reader(data + 1, size - 1, (data[0] & 0x80) != 0);
  const unsigned which = (data[0] & 0x7F) % 3;
  corvan::AnalysedFile f;
  bool ok = false;
  switch (which) {
    case 0: ok = corvan::GetGifFileSize(reader, 0, f); break;
    case 1: ok = corvan::GetJpegFileSize(reader, 0, f); break;
    case 2: ok = corvan::GetTiffFileSize(reader, 0, f); break;
  }
  if (!ok && (!f.suffix.empty() || f.dosDate != 0 || f.dosTime != 0)) std::abort();
  if (ok && (f.size > kLargest[which] || f.suffix.size() > 4096)) std::abort();
  return 0;
}
