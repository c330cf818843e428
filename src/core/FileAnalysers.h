#pragma once
// Format analysers of Raw Recovery: given where a file's signature was
// found, they walk the format to find where the file ends, and build a name
// suffix from what the file says about itself (date, text tags, size in
// pixels). Every read goes through the caller's reader, so the engines can
// read their volume however they do.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace corvan {

struct CarveWalks;

class CarveReader {
 public:
  virtual ~CarveReader() = default;
  // Reads `bytes` (a multiple of 512) from `sector` on; false on a failed
  // read. What could not be read is left as zeros. The caller looks at all
  // of it.
  virtual bool Read(std::uint64_t sector, void* buffer, std::size_t bytes) = 0;
  // The same read ahead of what the caller looks at, which it tells with
  // `Looked`: a window read whole for the few bytes asked of it, a search
  // that stops at what it looks for.
  virtual bool Fetch(std::uint64_t sector, void* buffer, std::size_t bytes) { return Read(sector, buffer, bytes); }
  // The caller has looked at the bytes from `sector` up to `bytes` on.
  virtual void Looked(std::uint64_t sector, std::uint64_t bytes) {
    (void)sector;
    (void)bytes;
  }
  // True once the user has asked the scan to stop.
  virtual bool Aborted() const = 0;
  // What earlier walks of the same pass found (core/CarveWalks.h); null
  // when the reader serves no pass.
  virtual CarveWalks* Walks() { return nullptr; }
  // The first sector in [from, to) where a unit of the pass begins (not the
  // hit's own first) at which another file begins; `to` when there is none,
  // or the reader serves no pass.
  virtual std::uint64_t NextFileStart(std::uint64_t from, std::uint64_t to) {
    (void)from;
    return to;
  }
  // Whether a read of this analysis failed for the pass's bound rather than
  // for the volume: what the walk found then is not where it ends.
  virtual bool Refused() const { return false; }
  // The file's own structure runs from the hit's first byte to `bytes` past
  // `sector` (a photo's segments): a signature inside it begins no file
  // that ends the hit's room.
  virtual void Own(std::uint64_t sector, std::uint64_t bytes) {
    (void)sector;
    (void)bytes;
  }
  // Whether the file `NextFileStart` found beginning at `sector` is whole up
  // to its data: a JPEG whose segments lead from marker to marker to its
  // scan.
  virtual bool WholeHeaderAt(std::uint64_t sector) {
    (void)sector;
    return false;
  }
};

struct AnalysedFile {
  std::uint64_t size = 0;  // bytes from the signature's sector
  // The file's own structure does not say where it ends (a stream written
  // with its length unknown): the carving step measures it to the next
  // signature.
  bool unknownSize = false;
  // Bytes from the signature's sector that the file's own structure is known
  // to hold (a JPEG's segments before its scan, where its thumbnail lies):
  // no other file is looked for inside them.
  std::uint64_t ownBytes = 0;
  // A JPEG whose walk led from marker to marker, one stray byte at most, to
  // its scan.
  bool wholeHeader = false;
  // The walk proved where the file ends by its structure (a ZIP's entries
  // walked to the end record, which says its directory is where the walk
  // found it): every byte up to `size` is its own.
  bool endProven = false;
  std::u16string suffix;   // added to the found file's name; may be empty
  // The picture's own date as a DOS date and time word; 0 when it gave none.
  std::uint16_t dosDate = 0;
  std::uint16_t dosTime = 0;
};

// What the Office analysis makes of a document.
enum class OfficeKind : std::uint8_t { None = 0, Word = 1, Excel = 2, PowerPoint = 3, Quill = 4, OtherZip = 5 };
enum class OfficeValidity : std::uint32_t { Damaged = 0, Complete = 1, Plausible = 2 };
struct OfficeAnalysis {
  OfficeKind kind = OfficeKind::None;
  std::uint64_t size = 0;  // 0: the carving step sizes the file itself
  OfficeValidity validity = OfficeValidity::Damaged;
  bool endProven = false;  // as `AnalysedFile::endProven`, for a ZIP-based document
};

// Name pieces, in the order the analysers join them.
std::u16string DimensionsPiece(std::uint64_t width, std::uint64_t height);
// "(month-day-year hour-minute-second)" of a date written year, month, day,
// hour, minute, second with any of ':', ' ', '-' between; an odd second is
// shown one higher. Empty when the text holds no such date.
std::u16string DatePiece(std::string_view dateText);
// Stores the same date in `out`'s DOS date and time; leaves them 0 when the
// text holds no valid date a DOS stamp can carry (1980 to 2107).
void StoreDosDate(std::string_view dateText, AnalysedFile& out);

// Images. A JPEG's end marker is looked for up to 30 MiB past its first
// scan; a JPEG whose end marker is not found keeps the position its walk
// reached.
bool GetJpegFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out);
bool GetTiffFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out);
bool GetGifFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out);
bool GetBitmapFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out);
bool GetPngFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out);
// An AU stream written with its size unknown has `unknownSize` set.
bool GetAuFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out);
bool GetAviFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out);
// A WAVE file as long as its RIFF header says; false when the header gives
// no length or one above `maxSize` (the file is then carved up to the next
// signature).
bool GetWaveFileSize(CarveReader& reader, std::uint64_t startSector, std::uint64_t maxSize, AnalysedFile& out);
// An MPEG program stream walked pack by pack and packet by packet from the
// pack header at its start: it ends after its end code, or where a pack's
// clock goes back (the next stream begins there). Where something else
// stands instead of a start code the file ends, the bytes of the last
// packet before it not its own (`ownBytes` ends at that packet's start);
// so too at `maxSize`. False when no pack header and a start code after it
// begin it (a stream is more than one pack).
bool GetMpegFileSize(CarveReader& reader, std::uint64_t startSector, std::uint64_t maxSize, AnalysedFile& out);
// A PDF carved up to the next signature (`size` bytes, whole sectors) ends
// with the line end after its last "%%EOF" in them; `size` when none is there.
std::uint64_t PdfEndWithin(CarveReader& reader, std::uint64_t startSector, std::uint64_t size);
bool GetHtmlFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out);

// Archives and documents. A ZIP is walked entry by entry (through the data
// descriptors of entries whose sizes were deferred) to the end of its end
// record; a streamed one whose walk cannot reach it has `unknownSize` set.
// A ZIP holding an Office document's parts is left to the Office types
// (false).
bool GetRarFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out);
bool GetZipFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out);
// Compound documents and ZIP-based (OOXML) documents; `out` stays zero when
// the data is neither.
void AnalyseOfficeFile(CarveReader& reader, std::uint64_t startSector, OfficeAnalysis& out);

}  // namespace corvan
