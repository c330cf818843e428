// Signature files edited by hand or cut short: any bytes must decode to every
// whole record they hold (one past the first sector too, which the carving
// step never matches but a rewrite must keep), and a record written back
// must read back the same.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "core/FileTypeRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto records = corvan::DecodeFileTypeRecords(std::span(data, size));
  if (records.size() != size / corvan::kFileTypeRecordSize) std::abort();
  for (const auto& r : records) {
    // Texts are cut at their first NUL and never run past their 260 units.
    if (r.softwareName.size() > corvan::kFileTypeTextUnits || r.extension.size() > corvan::kFileTypeTextUnits)
      std::abort();
    // A text that fills all its units loses its last one on writing (room
    // for the terminator); after that a record is stable.
    std::vector<std::uint8_t> b(corvan::kFileTypeRecordSize);
    r.Encode(std::span(b).first<corvan::kFileTypeRecordSize>());
    const auto once = corvan::FileTypeRecord::Decode(std::span<const std::uint8_t>(b).first<corvan::kFileTypeRecordSize>());
    once.Encode(std::span(b).first<corvan::kFileTypeRecordSize>());
    const auto twice = corvan::FileTypeRecord::Decode(std::span<const std::uint8_t>(b).first<corvan::kFileTypeRecordSize>());
    if (!(once == twice)) std::abort();
  }
  return 0;
}
