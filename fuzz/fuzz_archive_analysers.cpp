// Carved data is whatever was on the disk: the archive and document
// analysers must stay inside what they read, end their walks, and never
// read more than a bounded window at a time.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/FileAnalysers.h"
#include "FuzzCarveReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte chooses the analyser; the rest is the disk.
  corvan::fuzz::FuzzReader reader(data + 1, size - 1, false, 512000);
  corvan::AnalysedFile f;
  const bool zipData = size >= 5 && std::memcmp(data + 1, "PK\3\4", 4) == 0;
  switch (data[0] % 3) {
    case 0:
      // A RAR is at least its marker block and main header.
      if (corvan::GetRarFileSize(reader, 0, f) && f.size < 20) std::abort();
      break;
    case 1:
      // At least one local header, or a size left to the carving step.
      if (corvan::GetZipFileSize(reader, 0, f) && !f.unknownSize && f.size < 30) std::abort();
      break;
    case 2: {
      corvan::OfficeAnalysis o;
      corvan::AnalyseOfficeFile(reader, 0, o);
      // A compound document of no known kind is no result at all.
      const bool none = o.kind == corvan::OfficeKind::None;
      if (!zipData && none && (o.size != 0 || o.validity != corvan::OfficeValidity::Damaged)) std::abort();
      break;
    }
  }
  if (!f.suffix.empty()) std::abort();
  return 0;
}
