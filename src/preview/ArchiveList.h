#pragma once
// What an archive found on the volume holds, read from its own directory:
// one entry per member with its sizes and date, nothing decompressed. One
// small parser per format (zip, RAR, ARJ, LZH, tar, cabinet, ALZ) walks the
// headers; every length and offset taken from the archive is checked
// against the file before use, and every walk moves forward or ends.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "preview/ByteSource.h"

namespace corvan {

// An entry's time as the archive keeps it.
struct ArchiveTime {
  enum class Kind : std::uint8_t {
    None,
    Dos,   // MS-DOS local date in the high 16 bits, time in the low 16 bits
    Unix,  // seconds since 1970-01-01 UTC
  };
  Kind kind = Kind::None;
  std::uint32_t value = 0;

  static ArchiveTime Dos(std::uint16_t date, std::uint16_t time) {
    return {Kind::Dos, (std::uint32_t{date} << 16) | time};
  }
  static ArchiveTime Unix(std::uint32_t seconds) { return {Kind::Unix, seconds}; }
  bool operator==(const ArchiveTime&) const = default;
};

// How the "Ratio" column is written for an entry.
enum class RatioStyle : std::uint8_t {
  None,   // no ratio column text (tar, cabinet)
  Real,   // "%.2f %%" of the saving
  Whole,  // integer percentage shown with ".00" (ALZ entries with 8-bit sizes)
};

struct ArchiveEntry {
  std::u16string name;
  std::uint64_t unpacked = 0;
  std::uint64_t packed = 0;
  bool isFile = false;  // "File", else "Folder": the format's own rule
  RatioStyle ratio = RatioStyle::Real;
  ArchiveTime time;
};

struct ArchiveListing {
  std::vector<ArchiveEntry> entries;  // in the order the walk found them
  std::uint64_t totalSize = 0;        // sum of the unpacked sizes
  bool stopped = false;               // the source asked to stop part-way
  bool full = false;                  // the walk ended at the entry limit

  // Adds an entry and its size to the total.
  void Add(ArchiveEntry entry);
};

// The archive formats the listing knows, by the name's last four characters
// (".zip", ".rar", ".arj", ".lzh", ".tar", ".cab", ".alz", any case).
enum class ArchiveFormat : std::uint8_t { None, Zip, Rar, Arj, Lzh, Tar, Cab, Alz };
ArchiveFormat ArchiveFormatOfName(std::u16string_view name);

// The most entries one listing holds: a crafted archive of tiny headers
// would otherwise hold tens of millions (memory, not the file, is the bound).
inline constexpr std::size_t kArchiveEntryLimit = 1000000;

// Lists the archive named `name` read from `source`: the parser of its
// format, or nothing for a name outside the seven; the walk ends at `limit`
// entries.
ArchiveListing ListArchiveEntries(ByteSource& source, std::u16string_view name,
                                  std::size_t limit = kArchiveEntryLimit);

// The parsers; each adds what it can read and stops at the first header it
// cannot trust, keeping the entries before it.
void ListZipEntries(ByteSource& source, ArchiveListing& listing);
void ListRarEntries(ByteSource& source, ArchiveListing& listing);
void ListArjEntries(ByteSource& source, ArchiveListing& listing);
void ListLzhEntries(ByteSource& source, ArchiveListing& listing);
void ListTarEntries(ByteSource& source, ArchiveListing& listing);
void ListCabEntries(ByteSource& source, ArchiveListing& listing);
void ListAlzEntries(ByteSource& source, ArchiveListing& listing);

// Names longer than this many bytes are cut: more than any real path, and
// no hostile length makes the listing hold megabytes per row.
inline constexpr std::size_t kArchiveNameMaxBytes = 32 * 1024;

// An 8-bit name as stored, cut at its first NUL: UTF-8 when it is valid
// UTF-8 (what Linux tools write), else Windows-1252.
std::u16string ArchiveName(std::string_view bytes);

// Column texts.
// "File" or "Folder".
std::u16string ArchiveTypeText(const ArchiveEntry& entry);
// "%.2f %%" of (unpacked - packed) * 100 / unpacked, negative when the packed
// size is larger, "0.00 %" when either size is 0; empty for RatioStyle::None.
std::u16string ArchiveRatioText(const ArchiveEntry& entry);
// Local time as "%m/%d/%Y, %I:%M:%p"; empty for no time.
std::u16string FormatArchiveTime(const ArchiveTime& time);

}  // namespace corvan
