// Saved scans and the saved-scan index from any bytes: the readers refuse or
// accept, and what they accept writes back to bytes that read back to the
// same bytes again. Bytes in memory go through the same window and cursor
// as a saved file does.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "scan/ScanInfoFile.h"
#include "scan/ScanInfoIndex.h"

using namespace corvan;

namespace {

void VolumeScan(std::span<const std::uint8_t> in) {
  VolumeScanInfo v;
  if (!ParseVolumeScan(in, v)) return;
  // The reader checked every block against the bytes there were.
  if (v.sources.size() != v.header.driveCount) std::abort();
  std::vector<std::uint8_t> once;
  if (!EncodeVolumeScan(v, ItemSourceOf(v.items), v.trailer, once)) return;  // a path without its NUL
  VolumeScanInfo again;
  if (!ParseVolumeScan(once, again)) std::abort();
  std::vector<std::uint8_t> twice;
  if (!EncodeVolumeScan(again, ItemSourceOf(again.items), again.trailer, twice) || twice != once) std::abort();
}

void DriveScan(std::span<const std::uint8_t> in) {
  DriveScanInfo d;
  if (!ParseDriveScan(in, d)) return;
  std::vector<std::uint8_t> once;
  if (!EncodeDriveScan(d.volumes, d.trailer, once)) return;
  DriveScanInfo again;
  if (!ParseDriveScan(once, again)) std::abort();
  for (const auto& r : again.volumes)
    if (!IsDriveScanVolume(r.kind) || !r.partition) std::abort();
  std::vector<std::uint8_t> twice;
  if (!EncodeDriveScan(again.volumes, again.trailer, twice) || twice != once) std::abort();
}

void Index(std::span<const std::uint8_t> in) {
  const auto records = DecodeScanIndex(in);
  if (records.size() != (in.size() + kScanImageRecordSize - 1) / kScanImageRecordSize) std::abort();
  for (const auto& r : records) {
    if (!ScanPathFitsRecord(r.path, ScanPathForm::Index)) continue;
    std::vector<std::uint8_t> b(kScanImageRecordSize);
    r.Encode(std::span(b).first<kScanImageRecordSize>(), ScanPathForm::Index);
    const auto back = ScanImageRecord::Decode(std::span<const std::uint8_t>(b).first<kScanImageRecordSize>(),
                                              ScanPathForm::Index);
    // The date may lose a last unit that filled its field.
    if (back.path != r.path || back.kind != r.kind || back.reserved != r.reserved) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> in(data, size);
  VolumeScan(in);
  DriveScan(in);
  Index(in);
  return 0;
}
