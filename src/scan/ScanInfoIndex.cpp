#include "scan/ScanInfoIndex.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "core/AppServices.h"
#include "platform/ByteCodec.h"
#include "platform/FileHandle.h"
#include "platform/Folders.h"
#include "platform/TextConv.h"

namespace corvan {

namespace {
constexpr std::size_t kDateOffset = 0;
constexpr std::size_t kPathOffset = 64;
constexpr std::size_t kKindOffset = 584;
constexpr std::size_t kReservedOffset = 585;
// The trailer block a record opens at the end of a scan-information file.
constexpr std::uint64_t kTrailerBlock = 1024;
}  // namespace

void ScanImageRecord::Encode(std::span<std::uint8_t, kScanImageRecordSize> out, ScanPathForm form) const {
  std::uint8_t* p = out.data();
  std::memset(p, 0, kScanImageRecordSize);
  PutUtf16Field(p + kDateOffset, kScanImageDateUnits, date);
  PutUtf16Field(p + kPathOffset, kScanImagePathUnits, path);
  if (form == ScanPathForm::Index) {
    for (std::size_t i = 0; i < kScanImagePathUnits; ++i) {
      std::uint8_t* u = p + kPathOffset + 2 * i;
      const std::uint16_t unit = GetLE16(u);
      if (unit == 0) break;  // the terminator and the fill stay zero
      PutLE16(u, static_cast<std::uint16_t>(unit + kScanIndexPathOffset));
    }
  }
  p[kKindOffset] = kind;
  PutLE32(p + kReservedOffset, reserved);
}

ScanImageRecord ScanImageRecord::Decode(std::span<const std::uint8_t, kScanImageRecordSize> in, ScanPathForm form) {
  const std::uint8_t* p = in.data();
  ScanImageRecord r;
  r.date = GetUtf16Field(p + kDateOffset, kScanImageDateUnits);
  r.path = GetUtf16Field(p + kPathOffset, kScanImagePathUnits);
  if (form == ScanPathForm::Index)
    for (char16_t& c : r.path) c = static_cast<char16_t>(c - kScanIndexPathOffset);
  r.kind = p[kKindOffset];
  r.reserved = GetLE32(p + kReservedOffset);
  return r;
}

bool ScanPathFitsRecord(std::u16string_view path, ScanPathForm form) {
  if (path.size() >= kScanImagePathUnits) return false;
  if (path.find(u'\0') != std::u16string_view::npos) return false;
  const char16_t wraps = static_cast<char16_t>(0x10000 - kScanIndexPathOffset);
  return form == ScanPathForm::Plain || path.find(wraps) == std::u16string_view::npos;
}

std::u16string ScanRecordPathOf(const std::filesystem::path& path, ScanPathForm form) {
  std::u16string text = Utf8ToUtf16(path.string());
  if (Utf16ToUtf8(text) != path.string() || !ScanPathFitsRecord(text, form)) return {};
  return text;
}

std::filesystem::path FilePathOfScanRecord(std::u16string_view path) { return std::filesystem::path(Utf16ToUtf8(path)); }

std::filesystem::path ScanIndexPath() { return UserDataFolder() / "vhInfo"; }

std::vector<ScanImageRecord> DecodeScanIndex(std::span<const std::uint8_t> bytes) {
  std::vector<ScanImageRecord> records;
  for (std::size_t at = 0; at < bytes.size(); at += kScanImageRecordSize) {
    std::array<std::uint8_t, kScanImageRecordSize> buffer{};
    const std::size_t n = std::min(kScanImageRecordSize, bytes.size() - at);
    std::memcpy(buffer.data(), bytes.data() + at, n);
    records.push_back(ScanImageRecord::Decode(buffer, ScanPathForm::Index));
  }
  return records;
}

namespace {
struct TrailerLook {
  bool opened = false;
  bool hasTrailer = false;  // long enough for one, and its kind byte read
  std::uint64_t size = 0;
  std::uint8_t kind = 0;
};
TrailerLook LookAtTrailer(std::u16string_view path) {
  TrailerLook look;
  const auto file = FileHandle::Open(FilePathOfScanRecord(path), FileHandle::Mode::ReadOnly);
  if (!file) return look;
  const auto size = file.Size();
  if (!size) return look;
  look.opened = true;
  look.size = *size;
  // A file shorter than its trailer holds no record at all.
  look.hasTrailer =
      *size >= kTrailerBlock && file.ReadExactAt(&look.kind, 1, *size - kTrailerBlock + kKindOffset);
  if (!look.hasTrailer) look.kind = 0;
  return look;
}
}  // namespace

ScanImageValidity IsScanImageValid(std::u16string_view path, std::uint8_t kind) {
  ScanImageValidity result;
  const TrailerLook look = LookAtTrailer(path);
  if (!look.opened) return result;
  result.sizeText = FormatSize(look.size);
  result.valid = look.hasTrailer && look.kind == kind;
  return result;
}

std::optional<std::uint8_t> ReadScanTrailerKind(std::u16string_view path) {
  const TrailerLook look = LookAtTrailer(path);
  if (!look.opened) return std::nullopt;
  return look.kind;
}

std::vector<ScanImageRecord> ReadScanIndex(const std::filesystem::path& index) {
  std::vector<ScanImageRecord> list;
  const auto file = FileHandle::Open(index, FileHandle::Mode::ReadOnly);
  if (!file) return list;
  // Read a record at a time, so a large index never has to fit in memory.
  std::array<std::uint8_t, kScanImageRecordSize> buffer;
  for (std::uint64_t at = 0;; at += kScanImageRecordSize) {
    buffer.fill(0);
    const std::int64_t n = file.ReadAt(buffer.data(), buffer.size(), at);
    if (n <= 0) break;
    ScanImageRecord record = ScanImageRecord::Decode(buffer, ScanPathForm::Index);
    if (IsScanImageValid(record.path, record.kind).valid) list.push_back(std::move(record));
    if (static_cast<std::size_t>(n) < buffer.size()) break;
  }
  return list;
}

bool AppendScanIndexRecord(const ScanImageRecord& record, std::vector<ScanImageRecord>* list,
                           const std::filesystem::path& index) {
  if (!ScanPathFitsRecord(record.path, ScanPathForm::Index)) return false;
  std::array<std::uint8_t, kScanImageRecordSize> bytes;
  record.Encode(bytes, ScanPathForm::Index);
  auto file = FileHandle::Open(index, FileHandle::Mode::OpenOrCreate);
  if (!file) return false;
  const auto size = file.Size();
  if (!size) return false;
  // A partial record left at the end reads as a zero-filled one; the new
  // record starts after it, on a record boundary, or it would be misread.
  const std::uint64_t at = (*size + kScanImageRecordSize - 1) / kScanImageRecordSize * kScanImageRecordSize;
  if (!file.WriteAt(bytes.data(), bytes.size(), at) || !file.Sync()) {
    file.Truncate(*size);
    return false;
  }
  if (list) list->push_back(ScanImageRecord::Decode(bytes, ScanPathForm::Index));
  return true;
}

bool WriteScanIndex(const std::vector<ScanImageRecord>& list, const std::filesystem::path& index) {
  std::vector<std::uint8_t> bytes(list.size() * kScanImageRecordSize);
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (!ScanPathFitsRecord(list[i].path, ScanPathForm::Index)) return false;
    list[i].Encode(std::span(bytes).subspan(i * kScanImageRecordSize).first<kScanImageRecordSize>(),
                   ScanPathForm::Index);
  }
  return WriteFileAtomically(index, bytes.data(), bytes.size());
}

}  // namespace corvan
