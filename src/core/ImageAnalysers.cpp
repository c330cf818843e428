// GIF, JPEG and TIFF analysers of Raw Recovery. Each walks its format from
// the signature to where the file ends and names the picture from its own
// tags. Positions come from the data and are only ever used as places to
// read: every read goes through a window that checks it, every walk has a
// bound, and nothing is allocated from a size read off the disk without a
// cap.

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/CarveWindow.h"
#include "core/FileAnalysers.h"
#include "platform/ByteCodec.h"

namespace corvan {

namespace {

using carve::Latin1Trimmed;
using carve::Window;

std::uint32_t Ordered16(const std::uint8_t* p, bool bigEndian) { return bigEndian ? GetBE16(p) : GetLE16(p); }
std::uint32_t Ordered32(const std::uint8_t* p, bool bigEndian) { return bigEndian ? GetBE32(p) : GetLE32(p); }

// Bytes of one value of a TIFF field type; 0 for types TIFF does not define.
std::uint64_t TiffUnit(std::uint32_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

// The text of a tag value: up to its first NUL.
std::string_view UpToNul(const std::uint8_t* p, std::size_t n) {
  const auto* c = reinterpret_cast<const char*>(p);
  const void* nul = std::memchr(c, 0, n);
  return {c, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - c) : n};
}

std::u16string TrimmedText(std::string_view s) {
  return Latin1Trimmed(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

// ---------------------------------------------------------------- GIF ----

// The walk reads through a window of this many bytes.
constexpr std::size_t kGifWindow = 32768;
// The sub-block chains are followed as long as their lengths lead on; data
// that never holds a zero (erased flash reads all ones) would otherwise lead
// to the volume's end.
constexpr std::uint64_t kGifSizeLimit = 0x3200000;
constexpr std::uint8_t kGifExtension = 0x21, kGifImage = 0x2C, kGifTrailer = 0x3B;

// The blocks of a GIF as the format lays them out: the header and logical
// screen (13 bytes) and the global colour table, then extensions (0x21, a
// label, sub-blocks) and images (0x2C, a 9-byte descriptor, a local colour
// table, the code size byte, sub-blocks) up to the trailer byte, which ends
// the file. Whatever follows the trailer (slack, another file) is not the
// picture's.
class GifWalk {
 public:
  GifWalk(CarveReader& reader, std::uint64_t startSector) : reader_(reader), win_(reader, startSector, kGifWindow) {}

  bool Header(std::uint32_t& width, std::uint32_t& height) {
    const std::uint8_t* h = win_.At(0, 13);
    if (h == nullptr || (std::memcmp(h, "GIF87a", 6) != 0 && std::memcmp(h, "GIF89a", 6) != 0)) return false;
    width = GetLE16(h + 6);
    height = GetLE16(h + 8);
    packed_ = h[10];
    return true;
  }

  // The walk; returns the size: one past the trailer, or where the walk had
  // to stop (data that begins no block, a read past the volume, Stop).
  std::uint64_t Run() {
    std::uint64_t p = 13 + ColourTable(packed_);
    while (p <= kGifSizeLimit && !reader_.Aborted()) {
      const std::uint8_t* b = win_.At(p, 1);
      if (b == nullptr) break;
      if (*b == kGifTrailer) return p + 1;
      if (*b == kGifExtension) {
        p += 2;  // the introducer and the label
      } else if (*b == kGifImage) {
        const std::uint8_t* d = win_.At(p, 10);
        if (d == nullptr) break;
        p += 10 + ColourTable(d[9]) + 1;  // the descriptor, its colour table, the code size
      } else {
        break;
      }
      if (!SkipSubBlocks(p)) break;
    }
    return p;
  }

 private:
  // Bytes of the colour table a packed field announces.
  static std::uint64_t ColourTable(std::uint8_t packed) {
    return (packed & 0x80) ? std::uint64_t{3} << ((packed & 7) + 1) : 0;
  }

  // Moves p past a chain of sub-blocks and its zero-length terminator; false
  // when the chain cannot be followed to its end, p then where it stopped.
  bool SkipSubBlocks(std::uint64_t& p) {
    while (p <= kGifSizeLimit && !reader_.Aborted()) {
      const std::uint8_t* n = win_.At(p, 1);
      if (n == nullptr) return false;
      p += 1 + std::uint64_t{*n};
      if (*n == 0) return true;
    }
    return false;
  }

  CarveReader& reader_;
  Window win_;
  std::uint8_t packed_ = 0;
};

// --------------------------------------------------------------- JPEG ----

// How far past a scan its end marker is looked for, read in windows that
// grow from the third size to the second.
constexpr std::uint64_t kJpegBound = 0x1E00000;
constexpr std::size_t kJpegSearchWindow = 0x100000;
constexpr std::size_t kJpegFirstSearchWindow = 0x10000;
// Where the marker walk gives up: past one search that failed, so that a run
// of marker-like bytes cannot lead it across the volume.
constexpr std::uint64_t kJpegWalkLimit = 2 * kJpegBound;
// Bytes that begin no known segment, in a row, after which the walk stops.
constexpr unsigned kJpegUnrecognisedLimit = 65;
// The collected text tags: values are placed at the running offset of all
// the values looked at, and the text ends at the first gap.
constexpr std::size_t kJpegTextArea = 256;
constexpr std::uint64_t kJpegDateLimit = 128;
// Segments the walk of another JPEG's header takes to where a step landed.
constexpr unsigned kJpegLandingSegments = 256;

// A start of frame: its segment gives the picture's size (C4, C8 and CC are
// no frames).
bool JpegFrame(std::uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Segments the walk steps over by their length: every APPn and the comment,
// the tables, the restart interval, and the frames.
bool JpegSegment(std::uint8_t marker) {
  return (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE || marker == 0xDB || marker == 0xC4 ||
         marker == 0xDD || JpegFrame(marker);
}

// What may follow the start of image: any segment of the walk (metadata
// stripped, a file may begin with its tables).
bool JpegStart(std::uint8_t marker) { return JpegSegment(marker); }

// Where the walk from `pos` meets a marker it goes on from (a segment, or
// the start of scan) within the bytes it steps over one by one (fill bytes,
// a stray byte); `kNoMarker` when it meets none.
constexpr std::uint64_t kNoMarker = UINT64_MAX;
std::uint64_t JpegMarkerFrom(Window& win, std::uint64_t pos) {
  for (std::uint64_t p = pos; p < pos + kJpegUnrecognisedLimit; ++p) {
    const std::uint8_t* b = win.At(p, 2);
    if (b == nullptr) break;
    if (b[0] == 0xFF && (JpegSegment(b[1]) || b[1] == 0xDA)) return p;
  }
  return kNoMarker;
}

// Where the step of the JPEG before it that landed at `to` lies in the
// segments of the JPEG that begins at `at` (walked from marker to marker,
// no stray byte between, up to its scan): whether they lead to `marker`,
// the first marker the step's walk goes on from, and whether one of them
// holds `to` inside it.
struct JpegLanding {
  bool reaches = false;
  bool inside = false;
};
JpegLanding JpegLandingIn(Window& win, std::uint64_t at, std::uint64_t to, std::uint64_t marker) {
  JpegLanding l;
  const std::uint8_t* h = win.At(at, 4);
  if (h == nullptr || h[0] != 0xFF || h[1] != 0xD8 || h[2] != 0xFF || !JpegStart(h[3])) return l;
  std::uint64_t pos = at + 2;
  // More segments than a header holds in the 64 KiB a step spans are no
  // JPEG's: empty ones back to back would make the walk crawl.
  for (unsigned steps = 0; pos <= std::max(to, marker) && steps < kJpegLandingSegments; ++steps) {
    if (pos == marker) l.reaches = true;
    const std::uint8_t* s = win.At(pos, 4);
    if (s == nullptr || s[0] != 0xFF || !JpegSegment(s[1])) break;
    const std::uint64_t next = pos + 2 + std::uint64_t{GetBE16(s + 2)};
    if (pos < to && to < next) l.inside = true;
    pos = next;
  }
  return l;
}

// The first IFD of an Exif block: `data` holds the file's first `end` bytes,
// the APP1 segment's length field is at q.
void ExamineExif(const std::uint8_t* data, std::uint64_t end, std::uint64_t q, std::string& date, std::u16string& text) {
  const std::uint64_t tiff = q + 8;
  if (tiff + 10 > end) return;
  bool big = false;
  if (std::memcmp(data + tiff, "MM\0\x2A\0\0\0\x08", 8) == 0) big = true;
  // Anything else is read as little-endian, "II" or not.
  std::uint8_t area[kJpegTextArea] = {};
  std::uint64_t running = 0;
  const std::uint32_t count = Ordered16(data + tiff + 8, big);
  for (std::uint32_t e = 0; e < count; ++e) {
    const std::uint64_t at = tiff + 10 + 12 * std::uint64_t{e};
    if (at + 12 > end) break;
    const std::uint64_t length = Ordered32(data + at + 4, big) * TiffUnit(Ordered16(data + at + 2, big));
    if (length <= 4) continue;  // held in the entry itself
    const std::uint64_t offset = Ordered32(data + at + 8, big);
    if (offset < 8 || tiff + offset >= end) continue;
    if (tiff + offset + length > end || running + length > kJpegTextArea - 1) break;
    const std::uint8_t* v = data + tiff + offset;
    std::size_t colons = 0, nuls = 0;
    for (std::uint64_t k = 0; k < length; ++k) {
      colons += v[k] == ':';
      nuls += v[k] == 0;
    }
    if (colons >= 4 && nuls <= 1) {
      if (length < kJpegDateLimit) date = std::string(UpToNul(v, length));
    } else if (nuls <= 1) {
      for (std::uint64_t k = 0; k < length; ++k) area[running + k] = v[k] == 0 ? ' ' : v[k];
    }
    running += length;
  }
  text = Latin1Trimmed(area, std::strlen(reinterpret_cast<const char*>(area)));
}

// Reads `bytes` at `sector`, or, where that fails (the end of the volume),
// as many whole sectors from there as can be read; returns the bytes read.
std::size_t ReadWhatExists(CarveReader& reader, std::uint64_t sector, std::vector<std::uint8_t>& buffer) {
  if (reader.Fetch(sector, buffer.data(), buffer.size())) return buffer.size();
  std::size_t got = 0;
  while (got < buffer.size() && reader.Fetch(sector + got / 512, buffer.data() + got, 512)) got += 512;
  return got;
}

// Looks for the end marker from `pos` on. True with `pos` past the marker;
// otherwise `pos` moves on by the windows searched, or to the end of what
// could be read.
bool FindJpegEnd(CarveReader& reader, std::uint64_t startSector, std::uint64_t& pos) {
  std::vector<std::uint8_t> buffer;
  std::uint64_t base = pos - pos % 512;
  std::size_t from = pos % 512;
  int previous = -1;  // a marker may straddle two windows
  // Windows grow from a small one: most pictures end inside it, and what a
  // window holds past the marker is read for nothing.
  std::size_t window = kJpegFirstSearchWindow;
  for (std::uint64_t searched = 0; searched < kJpegBound && !reader.Aborted();
       searched += window, window = std::min(2 * window, kJpegSearchWindow)) {
    window = static_cast<std::size_t>(std::min<std::uint64_t>(window, kJpegBound - searched));
    buffer.resize(window);
    const std::size_t got = ReadWhatExists(reader, startSector + base / 512, buffer);
    for (std::size_t k = from; k < got; ++k) {
      if (previous == 0xFF && buffer[k] == 0xD9) {
        pos = base + k + 1;
        // What the window holds past the marker was read ahead, never
        // looked at: it is the next file's, not read again by its analysis.
        reader.Looked(startSector + base / 512, pos - base);
        return true;
      }
      previous = buffer[k];
    }
    reader.Looked(startSector + base / 512, got);
    if (got < buffer.size()) {
      // The end of what can be read, past the windows read whole.
      pos = searched == 0 ? std::max(pos, base + got) : base + got;
      return false;
    }
    base += window;
    from = 0;
    pos += window;
  }
  return false;
}

// --------------------------------------------------------------- TIFF ----

constexpr std::uint64_t kTiffBlock = 1024;
// IFDs a chain may pass through; more pages than any writer puts in a file.
constexpr std::size_t kTiffIfdLimit = 16384;
// Classic TIFF addresses its data with 32-bit offsets.
constexpr std::uint64_t kTiffSizeLimit = 0xFFFFFFFF;

// Entries and array elements the size walk reads at most: a damaged chain
// cannot make it read more than a few tens of megabytes.
constexpr std::uint64_t kTiffWalkBudget = std::uint64_t{1} << 22;

// The bytes of the directories a walk has read. A directory lies in bytes
// of its own: one that shares any with a directory already read (a list of
// directories one byte apart, each claiming hundreds of entries) is damage,
// and refusing it keeps the entries read within the bytes the file has.
class TiffDirectories {
 public:
  // Takes the directory at `offset` with `entries` entries (its count, the
  // entries and the next-directory link); false when it cannot lie in a
  // classic TIFF or shares bytes with one taken before.
  bool Take(std::uint64_t offset, std::uint64_t entries) {
    const std::uint64_t end = offset + 2 + 12 * entries + 4;
    if (end > kTiffSizeLimit + 1) return false;
    auto after = taken_.lower_bound(end);  // the first taken that starts at or past the end
    if (after != taken_.begin() && std::prev(after)->second > offset) return false;
    taken_.emplace(offset, end);
    return true;
  }

 private:
  std::map<std::uint64_t, std::uint64_t> taken_;  // start -> one past the end
};

constexpr std::uint32_t kTagImageWidth = 0x0100, kTagImageLength = 0x0101, kTagDocumentName = 0x010D,
                        kTagModel = 0x0110, kTagStripOffsets = 0x0111, kTagStripByteCounts = 0x0117,
                        kTagFreeOffsets = 0x0120, kTagFreeByteCounts = 0x0121, kTagDateTime = 0x0132,
                        kTagTileOffsets = 0x0144, kTagTileByteCounts = 0x0145, kTagSubIfds = 0x014A,
                        kTagJpegStream = 0x0201, kTagJpegStreamLength = 0x0202, kTagIptc = 0x83BB,
                        kTagExifIfd = 0x8769, kTagGpsIfd = 0x8825, kTagInteropIfd = 0xA005, kTagDngVersion = 0xC612;
constexpr std::uint32_t kTypeShort = 3, kTypeLong = 4;

struct TiffEntry {
  std::uint32_t tag = 0, type = 0, count = 0, value = 0;
  std::uint8_t inline_[4] = {};  // the value field as stored
  bool big = false;
  std::uint64_t Length() const { return count * TiffUnit(type); }
  // A SHORT held in the entry fills the first two bytes of the value field
  // whatever the byte order, so it is not the low half of `value`.
  std::uint32_t Short() const { return Ordered16(inline_, big); }
  std::uint32_t Dimension() const { return type == kTypeLong ? value : Short(); }

  // The 12 bytes of an entry.
  static TiffEntry Decode(const std::uint8_t* p, bool big) {
    TiffEntry e;
    e.tag = Ordered16(p, big);
    e.type = Ordered16(p + 2, big);
    e.count = Ordered32(p + 4, big);
    e.value = Ordered32(p + 8, big);
    std::memcpy(e.inline_, p + 8, 4);
    e.big = big;
    return e;
  }
};

// The 1024 bytes read at the sector holding an IFD, indexed as the walk does.
class TiffBlock {
 public:
  TiffBlock(Window& win, bool big) : win_(win), big_(big) {}
  void MoveTo(std::uint64_t offset) { base_ = offset - offset % 512; }
  bool U16(std::uint64_t k, std::uint32_t& v) {
    const std::uint8_t* p = At(k, 2);
    if (p) v = Ordered16(p, big_);
    return p != nullptr;
  }
  bool U32(std::uint64_t k, std::uint32_t& v) {
    const std::uint8_t* p = At(k, 4);
    if (p) v = Ordered32(p, big_);
    return p != nullptr;
  }
  bool Entry(std::uint64_t k, TiffEntry& e) {
    const std::uint8_t* p = At(k, 12);
    if (p != nullptr) e = TiffEntry::Decode(p, big_);
    return p != nullptr;
  }

 private:
  const std::uint8_t* At(std::uint64_t k, std::size_t n) {
    if (k > kTiffBlock || n > kTiffBlock - k) return nullptr;
    return win_.At(base_ + k, n);
  }
  Window& win_;
  bool big_;
  std::uint64_t base_ = 0;
};

// A text value: held in the entry when it fits there, else read in the
// 1024 bytes at its offset's sector.
bool TiffText(Window& data, const TiffEntry& e, std::string& out) {
  const std::uint64_t length = e.Length();
  if (length <= 4) {
    out = std::string(UpToNul(e.inline_, length));
    return true;
  }
  if (length >= kTiffBlock) return false;
  const std::uint8_t* v = data.At(e.value, length);
  if (v == nullptr) return false;
  out = std::string(UpToNul(v, length));
  return true;
}

// Where a TIFF ends: the furthest byte its structure refers to. That is
// every IFD of its chain (the next-IFD links, SubIFDs, and the Exif, GPS
// and interoperability IFDs), every entry's value held outside its entry,
// and every block an offset array and its byte-count array give (strips,
// tiles, free blocks, an old-style JPEG stream). Writers put these in any
// order (ImageMagick writes the white point after the primaries, exiftool
// the IFD before the strips), so no one of them can be taken for the last.
class TiffExtent {
 public:
  TiffExtent(CarveReader& reader, std::uint64_t startSector, bool big)
      : entries_(reader, startSector, kTiffBlock),
        offsets_(reader, startSector, kTiffBlock),
        counts_(reader, startSector, kTiffBlock),
        big_(big) {}

  std::uint64_t Measure(std::uint32_t first) {
    std::vector<std::uint32_t> pending{first};
    std::unordered_set<std::uint32_t> visited;
    while (!pending.empty() && visited.size() < kTiffIfdLimit && budget_ > 0) {
      const std::uint32_t ifd = pending.back();
      pending.pop_back();
      if (ifd == 0 || !visited.insert(ifd).second) continue;  // a chain that loops ends
      Directory(ifd, pending);
    }
    return furthest_;
  }

 private:
  // One element of an entry's array: from the entry itself when the array
  // fits there, else through `win`.
  bool Element(Window& win, const TiffEntry& e, std::uint64_t i, std::uint64_t& out) {
    const std::uint64_t unit = TiffUnit(e.type);
    if (unit != 2 && unit != 4) return false;
    const std::uint8_t* p = e.Length() <= 4 ? e.inline_ + i * unit : win.At(e.value + i * unit, unit);
    if (p == nullptr) return false;
    out = unit == 2 ? Ordered16(p, big_) : Ordered32(p, big_);
    return true;
  }

  // One more entry or element read; false once the walk has read its
  // budget. The loops that read elements run inside the one that reads
  // entries, and both spend the same budget: it never goes below zero.
  bool Spend() {
    if (budget_ == 0) return false;
    --budget_;
    return true;
  }

  void Reach(std::uint64_t end) {
    // Classic TIFF addresses 4 GiB: a reference beyond is damage, not data.
    if (end <= kTiffSizeLimit) furthest_ = std::max(furthest_, end);
  }

  void Directory(std::uint32_t ifd, std::vector<std::uint32_t>& pending) {
    const std::uint8_t* c = entries_.At(ifd, 2);
    if (c == nullptr) return;
    const std::uint32_t n = Ordered16(c, big_);
    if (!read_.Take(ifd, n)) return;
    const std::uint64_t next = std::uint64_t{ifd} + 2 + 12 * std::uint64_t{n};
    Reach(next + 4);
    TiffEntry pairs[4][2];  // strips, tiles, free blocks, JPEG stream: offsets, byte counts
    bool have[4][2] = {};
    for (std::uint32_t k = 0; k < n && Spend(); ++k) {
      const std::uint8_t* p = entries_.At(std::uint64_t{ifd} + 2 + 12 * std::uint64_t{k}, 12);
      if (p == nullptr) return;
      const TiffEntry e = TiffEntry::Decode(p, big_);
      if (e.Length() > 4) Reach(std::uint64_t{e.value} + e.Length());
      switch (e.tag) {
        case kTagSubIfds: case kTagExifIfd: case kTagGpsIfd: case kTagInteropIfd:
          for (std::uint64_t i = 0, v = 0; i < e.count && Spend() && Element(offsets_, e, i, v); ++i)
            pending.push_back(static_cast<std::uint32_t>(v));
          break;
        case kTagStripOffsets: case kTagStripByteCounts: case kTagTileOffsets: case kTagTileByteCounts:
        case kTagFreeOffsets: case kTagFreeByteCounts: case kTagJpegStream: case kTagJpegStreamLength: {
          const int pair = e.tag == kTagStripOffsets || e.tag == kTagStripByteCounts ? 0
                           : e.tag == kTagTileOffsets || e.tag == kTagTileByteCounts ? 1
                           : e.tag == kTagFreeOffsets || e.tag == kTagFreeByteCounts ? 2
                                                                                     : 3;
          const int side = e.tag == kTagStripByteCounts || e.tag == kTagTileByteCounts ||
                           e.tag == kTagFreeByteCounts || e.tag == kTagJpegStreamLength;
          pairs[pair][side] = e;
          have[pair][side] = true;
          break;
        }
        default:
          break;
      }
    }
    for (int pair = 0; pair < 4; ++pair) {
      if (!have[pair][0] || !have[pair][1]) continue;
      const TiffEntry& o = pairs[pair][0];
      const TiffEntry& b = pairs[pair][1];
      const std::uint64_t count = std::min(o.count, b.count);
      for (std::uint64_t i = 0, at = 0, bytes = 0; i < count && Spend(); ++i) {
        if (!Element(offsets_, o, i, at) || !Element(counts_, b, i, bytes)) break;
        if (bytes != 0) Reach(at + bytes);
      }
    }
    if (const std::uint8_t* p = entries_.At(next, 4)) pending.push_back(Ordered32(p, big_));
  }

  Window entries_, offsets_, counts_;
  bool big_;
  TiffDirectories read_;
  std::uint64_t furthest_ = 0;
  std::uint64_t budget_ = kTiffWalkBudget;
};

}  // namespace

bool GetGifFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out) {
  GifWalk walk(reader, startSector);
  std::uint32_t width = 0, height = 0;
  if (!walk.Header(width, height)) return false;
  out.size = walk.Run();
  out.suffix = DimensionsPiece(width, height);
  return true;
}

bool GetJpegFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out) {
  Window win(reader, startSector, 1024);
  const std::uint8_t* h = win.At(0, 6);
  if (h == nullptr || h[0] != 0xFF || h[1] != 0xD8 || h[2] != 0xFF || !JpegStart(h[3])) return false;
  const bool app1First = h[3] == 0xE1;
  const std::uint64_t firstLength = GetBE16(h + 4);

  // The Exif block: the first segment's when it is the APP1, else an APP1
  // right after the first segment. q is the APP1's length field.
  std::uint64_t q = 4 + firstLength;
  bool exif = false;
  if (app1First) {
    q = 4;
    exif = true;
  } else if (const std::uint8_t* a = win.At(q, 4)) {
    if (a[0] == 0xFF && a[1] == 0xE1) {
      q += 2;
      exif = true;
    } else if (std::memcmp(a, "\xFF\xD8\xFF\xE1", 4) == 0) {
      q += 4;
      exif = true;
    }
  }
  std::string date;
  std::u16string text;
  std::uint64_t pos = 4 + firstLength;
  std::uint64_t exifEnd = 0;
  if (exif) {
    if (const std::uint8_t* m = win.At(q, 2)) pos = exifEnd = q + GetBE16(m);
  }

  // A JPEG cut short before its scan: the walk over its segments steps into
  // the file written after it. Where a step passes a unit start at which
  // another file begins, the JPEG ends there when the walk goes on at no
  // marker, or lands in that file's first sector off a marker, or at one
  // that file's own segments lead to, or when the step landed inside that
  // file's segments: off any marker (the walk stepped into the other file's
  // data), or on one inside a segment of a file whose segments lead whole
  // to its scan (its thumbnail). A picture inside a
  // segment of the JPEG's own (its Exif thumbnail, a preview cut short or
  // split over segments) is stepped over to a marker of the file's own: the
  // step lands right on it, and the picture's segments do not lead whole to
  // a scan of their own.
  Window other(reader, startSector, 1024);
  std::uint64_t asked = 1;  // sectors from the start asked about for another file
  auto cutAt = [&](std::uint64_t from, std::uint64_t to) -> std::uint64_t {
    while (to / 512 >= asked) {
      const std::uint64_t at = reader.NextFileStart(startSector + std::max(asked, from / 512 + 1),
                                                    startSector + to / 512 + 1);
      if (at > startSector + to / 512) break;
      const std::uint64_t o = (at - startSector) * 512;
      asked = at - startSector + 1;
      const std::uint64_t marker = JpegMarkerFrom(win, to);
      // A step that lands in that file's first sector, off any marker, has
      // run into its header, whatever markers follow in it (a stored
      // picture after an archive's first header).
      if (marker == kNoMarker || (to - o < 512 && marker != to)) return o;
      // The walk's own window when it holds the other file's start (it holds
      // where the step landed, just after): no sector is read twice.
      const JpegLanding landing = JpegLandingIn(win.Holds(o, 4) ? win : other, o, to, marker);
      if (landing.reaches || (landing.inside && (marker != to || reader.WholeHeaderAt(at)))) return o;
    }
    asked = std::max(asked, to / 512 + 1);
    return 0;
  };

  // A segment whose length the walk has read is the file's own, the marker
  // it leads to included: a picture inside it (its thumbnail) ends no room.
  // Whether it runs into another file is what the cut tells.
  auto own = [&](std::uint64_t to) { reader.Own(startSector, to + 4); };

  std::uint32_t width = 0, height = 0;
  unsigned unrecognised = 0;
  // Whether the walk has met a frame before its scan, and how many bytes
  // that begin no segment (fill bytes aside).
  bool framed = false;
  unsigned strays = 0;
  own(pos);
  std::uint64_t cut = cutAt(2, pos);
  if (exifEnd != 0) {
    // The Exif block's tags name the picture: read up to where the file
    // ends when it was cut inside it, not from the file after it. At most
    // two 64 KiB segments: the allocation is bounded by the format.
    const std::uint64_t end = cut != 0 ? std::min(cut, exifEnd) : exifEnd;
    Window block(reader, startSector, static_cast<std::size_t>((end + 511) / 512 * 512));
    if (const std::uint8_t* data = block.At(0, static_cast<std::size_t>(end))) ExamineExif(data, end, q, date, text);
  }
  while (cut == 0 && !reader.Aborted() && unrecognised < kJpegUnrecognisedLimit && pos < kJpegWalkLimit) {
    const std::uint8_t* b = win.At(pos, 2);
    if (b == nullptr) break;
    const std::uint64_t from = pos;
    if (b[0] == 0xFF && JpegSegment(b[1])) {
      const bool frame = JpegFrame(b[1]);
      const std::uint8_t* s = win.At(pos, frame ? 9 : 4);
      if (s == nullptr) break;
      if (frame) {
        height = GetBE16(s + 5);
        width = GetBE16(s + 7);
        framed = true;
      }
      pos += 2 + std::uint64_t{GetBE16(s + 2)};
      unrecognised = 0;
      own(pos);
      cut = cutAt(from, pos);
    } else if (b[0] == 0xFF && b[1] == 0xDA) {
      if (out.ownBytes == 0) {
        out.ownBytes = pos;
        // One stray byte between segments, which decoders pass over, is a
        // writer's slip; the walk of a picture cut short that runs on into
        // another file's data meets many.
        out.wholeHeader = framed && strays <= 1;
      }
      pos += 2;
      if (FindJpegEnd(reader, startSector, pos)) break;
    } else {
      if (b[0] != 0xFF || b[1] != 0xFF) ++strays;
      ++pos;
      ++unrecognised;
      cut = cutAt(from, pos);
    }
  }
  // What the walk stepped over up to the cut is the file's own: a
  // thumbnail there begins no file.
  if (cut != 0) pos = out.ownBytes = cut;
  out.size = pos;
  out.suffix = DatePiece(date) + text + DimensionsPiece(width, height);
  StoreDosDate(date, out);
  return true;
}

bool GetTiffFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out) {
  Window ifds(reader, startSector, kTiffBlock);
  Window data(reader, startSector, kTiffBlock);
  const std::uint8_t* h = ifds.At(0, 8);
  if (h == nullptr) return false;
  bool big;
  if (std::memcmp(h, "II\x2A\0", 4) == 0)
    big = false;
  else if (std::memcmp(h, "MM\0\x2A", 4) == 0)
    big = true;
  else
    return false;
  const std::uint32_t first = Ordered32(h + 4, big);

  TiffBlock block(ifds, big);
  block.MoveTo(first);
  std::uint64_t x = first % 512;
  std::uint32_t entries = 0;
  if (!block.U16(x, entries)) return false;
  std::uint64_t end = x + 12 * std::uint64_t{entries};

  // Camera raw files are TIFF inside; they are left to their own types.
  bool cameraRaw = false;
  // The date is taken here: in an IFD sorted as TIFF requires, DateTime
  // follows StripByteCounts, where the walk below ends.
  bool seenDate = false, haveDate = false;
  std::string date;
  TiffEntry e;
  for (std::uint64_t k = x + 2; k <= end && block.Entry(k, e); k += 12) {
    if (e.tag == kTagSubIfds || e.tag == kTagDngVersion) cameraRaw = true;
    if (e.tag == kTagIptc) cameraRaw = false;
    if (e.tag == kTagDateTime && !seenDate) {
      haveDate = TiffText(data, e, date);
      seenDate = true;
    }
  }
  if (cameraRaw) return false;

  std::uint32_t width = 0, height = 0;
  bool seenWidth = false, seenHeight = false, seenDocument = false, seenModel = false;
  std::string document, model;
  TiffDirectories chain;
  std::size_t chained = 1;
  if (!chain.Take(first, entries)) return false;

  // The names come from the IFDs' tags up to the StripByteCounts of the last
  // IFD; the walk reads on past an IFD's entry count, to the end of its block.
  std::uint64_t k = x + 2;
  while (k + 14 <= kTiffBlock && block.Entry(k, e)) {
    switch (e.tag) {
      case kTagImageWidth:
        if (!seenWidth) width = e.Dimension();
        seenWidth = true;
        break;
      case kTagImageLength:
        if (!seenHeight) height = e.Dimension();
        seenHeight = true;
        break;
      case kTagDocumentName:
        if (!seenDocument) TiffText(data, e, document);
        seenDocument = true;
        break;
      case kTagDateTime:
        if (!seenDate) haveDate = TiffText(data, e, date);
        seenDate = true;
        break;
      case kTagModel:
        if (!seenModel) TiffText(data, e, model);
        seenModel = true;
        break;
      default:
        break;
    }
    if (e.tag != kTagStripByteCounts) {
      k += 12;
      continue;
    }
    std::uint32_t next = 0;
    if (end + 6 > kTiffBlock || !block.U32(end + 2, next) || next == 0) break;
    // A chain that points back, or into an IFD already walked, ends here.
    if (next < first || ++chained > kTiffIfdLimit) break;
    block.MoveTo(next);
    x = next % 512;
    if (!block.U16(x, entries) || !chain.Take(next, entries)) break;
    end = x + 12 * std::uint64_t{entries};
    k = x + 14;  // as before: the new IFD's first entry is passed over
  }

  out.size = TiffExtent(reader, startSector, big).Measure(first);

  std::u16string suffix;
  if (haveDate) {
    suffix = DatePiece(date);
  } else if (document.starts_with("NEW")) {
    const std::size_t cut = document.find(".tiff");
    if (cut != std::string::npos) suffix = TrimmedText(std::string_view(document).substr(0, cut));
  }
  out.suffix = suffix + TrimmedText(model) + DimensionsPiece(width, height);
  StoreDosDate(date, out);
  return true;
}

}  // namespace corvan
