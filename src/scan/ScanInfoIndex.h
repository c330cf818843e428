#pragma once
// The saved-scan index "vhInfo": one ScanImageRecord per scan-information
// file the program wrote, back to back, no header and no count. The same
// record, with its path stored plain, is the trailer of the file it names,
// which is how an entry is checked against its file.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvan {

inline constexpr std::size_t kScanImageRecordSize = 589;
inline constexpr std::size_t kScanImageDateUnits = 32;
inline constexpr std::size_t kScanImagePathUnits = 260;
// Added to every path unit before its terminator inside the index file only.
inline constexpr std::uint16_t kScanIndexPathOffset = 15;

// Trailer and index kinds.
inline constexpr std::uint8_t kScanKindVolume = 13;
inline constexpr std::uint8_t kScanKindDrives = 14;

enum class ScanPathForm { Plain, Index };

struct ScanImageRecord {
  std::u16string date;        // 0: 32 units, "%d-%b-%Y"
  std::u16string path;        // 64: 260 units, the scan-information file
  std::uint8_t kind = 0;      // 584
  std::uint32_t reserved = 0; // 585

  void Encode(std::span<std::uint8_t, kScanImageRecordSize> out, ScanPathForm form) const;
  static ScanImageRecord Decode(std::span<const std::uint8_t, kScanImageRecordSize> in, ScanPathForm form);

  bool operator==(const ScanImageRecord&) const = default;
};

// True when `path` survives the 260-unit field and, in the index, the
// per-unit offset: at most 259 units, no NUL, and no U+FFF1, which the offset
// would turn into a terminator.
bool ScanPathFitsRecord(std::u16string_view path, ScanPathForm form);

// A file-system path as the records hold it, and back. Empty when the path
// does not come back unchanged (not UTF-8) or does not fit the record.
std::u16string ScanRecordPathOf(const std::filesystem::path& path, ScanPathForm form = ScanPathForm::Index);
std::filesystem::path FilePathOfScanRecord(std::u16string_view path);

// The index in the per-user data folder, for the readers and writers alike.
std::filesystem::path ScanIndexPath();

// Every record of an index image, a trailing partial record read as if its
// missing bytes were zero. No validity test.
std::vector<ScanImageRecord> DecodeScanIndex(std::span<const std::uint8_t> bytes);

struct ScanImageValidity {
  bool valid = false;
  std::string sizeText;  // FormatSize of the file, empty when it cannot be opened
};
// Valid when the file opens and the kind byte of the record in its last
// 1024 bytes equals `kind`.
ScanImageValidity IsScanImageValid(std::u16string_view path, std::uint8_t kind);
// The kind byte of the record in the last 1024 bytes of the file; 0 when the
// file is shorter than that, nothing when it cannot be opened.
std::optional<std::uint8_t> ReadScanTrailerKind(std::u16string_view path);

// The saved-scan list: the index's valid entries in file order. A missing or
// unreadable index reads as empty.
std::vector<ScanImageRecord> ReadScanIndex(const std::filesystem::path& index = ScanIndexPath());

// Appends a finished record (plain path) to the index, then to `list` when
// given. Refused, with neither changed, when the path cannot be stored or
// the write fails; a failed write leaves the index as it was.
bool AppendScanIndexRecord(const ScanImageRecord& record, std::vector<ScanImageRecord>* list,
                           const std::filesystem::path& index = ScanIndexPath());

// Replaces the index with `list` through a temporary file, so a failed
// rewrite leaves the old index. Refused when a path cannot be stored.
bool WriteScanIndex(const std::vector<ScanImageRecord>& list, const std::filesystem::path& index = ScanIndexPath());

}  // namespace corvan
