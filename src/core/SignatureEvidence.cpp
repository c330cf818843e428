#include "core/SignatureEvidence.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cstring>
#include <string_view>

#include "core/TarRecords.h"
#include "platform/ByteCodec.h"

namespace corvan {

namespace {

bool Printable(std::uint8_t c) { return c >= 0x20 && c < 0x7F; }

// An EBML element size at `p`, `room` bytes at hand: false when its length
// marker is missing or it runs past them, or it is all ones (unknown).
bool EbmlSize(const std::uint8_t* p, std::size_t room, std::size_t& length, std::uint64_t& value) {
  if (room == 0 || p[0] == 0) return false;
  length = static_cast<std::size_t>(std::countl_zero(p[0])) + 1;
  if (length > room) return false;
  value = p[0] & (0xFFu >> length);
  bool ones = value == (0xFFu >> length);
  for (std::size_t k = 1; k < length; ++k) {
    value = value << 8 | p[k];
    ones = ones && p[k] == 0xFF;
  }
  return !ones;
}

// The `n` bytes of an EBML header's data: the header's own elements only,
// each inside it, and a DocType among them of printable text (EBML pads
// strings with zeros).
bool EbmlHeaderChildren(const std::uint8_t* p, std::size_t n) {
  static constexpr std::uint8_t kHeaderIds[] = {0x86, 0xF7, 0xF2, 0xF3, 0x82, 0x87, 0x85};
  bool docType = false;
  std::size_t at = 0;
  while (at < n) {
    // Void and CRC-32 have one-byte IDs, the header's own 42 xx.
    const std::size_t id = p[at] == 0xEC || p[at] == 0xBF ? 1 : 2;
    if (id == 2 && (at + 2 > n || p[at] != 0x42 ||
                    std::find(std::begin(kHeaderIds), std::end(kHeaderIds), p[at + 1]) == std::end(kHeaderIds)))
      return false;
    std::size_t length;
    std::uint64_t size;
    if (!EbmlSize(p + at + id, n - at - id, length, size) || size > n - at - id - length) return false;
    const std::uint8_t* data = p + at + id + length;
    if (id == 2 && p[at + 1] == 0x82) {
      const std::uint8_t* text = std::find_if_not(data, data + size, Printable);
      if (text == data || !std::all_of(text, data + size, [](std::uint8_t c) { return c == 0; })) return false;
      docType = true;
    }
    at += id + length + static_cast<std::size_t>(size);
  }
  return docType;
}

// A "From " line: the envelope sender, then the date as asctime writes it
// ("Www Mmm dd hh:mm:ss yyyy", the day maybe space-padded); some writers put
// a time zone before the year, others more fields after it (a zone,
// "remote from ..."), and the line ends inside the sector.
bool MboxFromLine(std::string_view s) {
  if (!s.starts_with("From ")) return false;
  std::size_t i = 5;
  while (i < s.size() && s[i] > ' ' && s[i] < 0x7F) ++i;
  if (i == 5) return false;
  while (i < s.size() && s[i] == ' ') ++i;
  auto skip = [&](char c) {
    if (i >= s.size() || s[i] != c) return false;
    ++i;
    return true;
  };
  auto name = [&](std::string_view names) {
    for (std::size_t k = 0; k < names.size(); k += 3) {
      if (s.substr(i, 3) != names.substr(k, 3)) continue;
      i += 3;
      return true;
    }
    return false;
  };
  auto digit = [&](std::size_t k) { return k < s.size() && s[k] >= '0' && s[k] <= '9'; };
  // `most` digits at most, `least` at least, their value in [low, high].
  auto number = [&](std::size_t least, std::size_t most, int low, int high) {
    int v = 0;
    std::size_t n = 0;
    for (; n < most && digit(i); ++n) v = v * 10 + (s[i++] - '0');
    return n >= least && v >= low && v <= high;
  };
  if (!name("MonTueWedThuFriSatSun") || !skip(' ') || !name("JanFebMarAprMayJunJulAugSepOctNovDec") || !skip(' '))
    return false;
  skip(' ');
  if (!number(1, 2, 1, 31) || !skip(' ') || !number(2, 2, 0, 23) || !skip(':') || !number(2, 2, 0, 59) ||
      !skip(':') || !number(2, 2, 0, 60) || !skip(' '))
    return false;
  for (int zones = 0; zones < 2 && !digit(i); ++zones) {
    // "+0000", or a zone's name ("PST", "CET DST").
    const std::size_t from = i;
    if (!((skip('+') || skip('-')) && number(4, 4, 0, 9999))) {
      i = from;
      while (i < s.size() && s[i] >= 'A' && s[i] <= 'Z' && i - from < 5) ++i;
      if (i == from) return false;
    }
    if (!skip(' ')) return false;
  }
  if (!number(4, 4, 0, 9999)) return false;
  if (skip(' '))
    while (i < s.size() && Printable(static_cast<std::uint8_t>(s[i]))) ++i;
  skip('\r');
  return skip('\n');
}

// An icon or cursor directory as writers make it: a few entries (the
// directory inside this sector), each a picture of its type's fields and of
// a size the type's largest holds, and the first picture right after the
// directory, beginning as a bitmap's header or a PNG.
bool IconDirectory(const std::uint8_t* d, std::uint64_t maxSize) {
  const unsigned kind = GetLE16(d + 2), count = GetLE16(d + 4);
  if (GetLE16(d) != 0 || (kind != 1 && kind != 2) || count == 0 || count > 31) return false;
  const std::uint64_t first = 6 + 16u * count;
  std::uint64_t lowest = UINT64_MAX;
  for (unsigned k = 0; k < count; ++k) {
    const std::uint8_t* e = d + 6 + 16 * k;
    const unsigned width = e[0] == 0 ? 256 : e[0], height = e[1] == 0 ? 256 : e[1];
    const unsigned planes = GetLE16(e + 4), bits = GetLE16(e + 6);
    const std::uint64_t bytes = GetLE32(e + 8), offset = GetLE32(e + 12);
    if (e[3] != 0 || bytes == 0 || offset < first || offset + bytes > maxSize) return false;
    // An icon's planes and bits a pixel (0: the picture says); a cursor's
    // hotspot, in their place, inside its picture.
    const bool depth = bits == 0 || bits == 24 || (std::has_single_bit(bits) && bits <= 32);
    if (kind == 1 ? planes > 1 || !depth : planes >= width || bits >= height)
      return false;
    lowest = std::min(lowest, offset);
  }
  if (lowest != first) return false;
  const std::uint8_t* picture = d + first;
  const std::uint32_t header = GetLE32(picture);
  return std::memcmp(picture, "\x89PNG\r\n\x1A\n", 8) == 0 || header == 12 || header == 40 || header == 108 ||
         header == 124;
}

// A Flash movie's header: a version, and a length that holds the header
// and is no more than the type's largest (four letters of text read as a
// length are hundreds of megabytes, and a space is version 32); an
// uncompressed one's frame size follows, a compressed one's zlib stream,
// which came with version 6.
bool FlashHeader(const std::uint8_t* d, std::uint64_t maxSize) {
  const bool packed = d[0] == 'C';
  if (std::memcmp(d + 1, "WS", 2) != 0 || (d[0] != 'F' && !packed) || d[3] == 0 || d[3] > 64) return false;
  const std::uint32_t length = GetLE32(d + 4);
  if (length > maxSize) return false;
  if (packed)
    return d[3] >= 6 && length >= 8 + 1 + 4 && (d[8] & 0x0F) == 8 && (d[8] >> 4) <= 7 &&
           (d[8] * 256u + d[9]) % 31 == 0;
  // The frame size: a rectangle of four numbers of `bits` bits each, then
  // the frame rate and count.
  const unsigned bits = d[8] >> 3;
  return length >= 8 + (5 + 4 * bits + 7) / 8 + 4;
}

// A Windows program: the DOS header's pointer leads, inside the sector, to
// the PE signature, a file header and the optional header's magic.
bool PortableExecutable(const std::uint8_t* d) {
  if (std::memcmp(d, "MZ", 2) != 0) return false;
  const std::uint32_t pe = GetLE32(d + 0x3C);
  if (pe < 0x40 || pe > 512 - 26) return false;
  const unsigned magic = GetLE16(d + pe + 24);
  return std::memcmp(d + pe, "PE\0\0", 4) == 0 && GetLE16(d + pe + 20) >= 2 && (magic == 0x10B || magic == 0x20B);
}

// A PCX header of version 5, run-length coded: its bits a pixel and planes
// of the format's pictures, a window whose corners are in order, the
// reserved byte 0, and lines long enough for the window's width.
bool PcxHeader(const std::uint8_t* d) {
  const unsigned bits = d[3], planes = d[65];
  const std::uint32_t left = GetLE16(d + 4), top = GetLE16(d + 6), right = GetLE16(d + 8), bottom = GetLE16(d + 10);
  return std::memcmp(d, "\x0A\x05\x01", 3) == 0 && (bits == 1 || bits == 2 || bits == 4 || bits == 8) &&
         right >= left && bottom >= top && d[64] == 0 && planes >= 1 && planes <= 4 &&
         GetLE16(d + 66) >= ((right - left + 1) * bits + 7) / 8;
}

}  // namespace

std::size_t MpegPackHeaderBytes(const std::uint8_t* d) {
  if (std::memcmp(d, "\0\0\1\xBA", 4) != 0) return 0;
  if ((d[4] & 0xC4) == 0x44)
    return (d[6] & 0x04) && (d[8] & 0x04) && (d[9] & 0x01) && (d[12] & 0x03) == 0x03 ? 14 + (d[13] & 0x07) : 0;
  return (d[4] & 0xF1) == 0x21 && (d[6] & 0x01) && (d[8] & 0x01) && (d[9] & 0x80) && (d[11] & 0x01) ? 12 : 0;
}

bool MpegStreamStart(const std::uint8_t* d) {
  // A stream is more than one pack: its header, its marker bits MPEG-2's or
  // MPEG-1's, leads to the next start code (a system header, a packet, a
  // pack, the end code).
  const std::size_t n = MpegPackHeaderBytes(d);
  return n != 0 && d[n] == 0 && d[n + 1] == 0 && d[n + 2] == 1 && d[n + 3] >= 0xB9;
}

Evidence SignatureEvidence(const FileTypeRecord& type, const std::uint8_t* d) {
  auto told = [](bool agrees) { return agrees ? Evidence::Agrees : Evidence::Disagrees; };
  switch (type.typeId) {
    case 111:
      // An ID3v2 tag: "ID3", a major version of 2 to 4, a revision, flags,
      // and a size of four bytes of seven bits each.
      return told(std::memcmp(d, "ID3", 3) == 0 && d[3] >= 2 && d[3] <= 4 && d[4] != 0xFF &&
                  std::all_of(d + 6, d + 10, [](std::uint8_t b) { return b < 0x80; }));
    case 121:
      return told(MpegStreamStart(d));
    case 66:
      // "%PDF-" and a version: a digit, a dot, a digit.
      return told(std::memcmp(d, "%PDF-", 5) == 0 && std::isdigit(d[5]) && d[6] == '.' && std::isdigit(d[7]));
    case 58:
      // A MIDI header chunk is six bytes long.
      return told(std::memcmp(d, "MThd\0\0\0\x06", 8) == 0);
    case 59:
      // FLAC: the first metadata block is the 34-byte stream information.
      return told(std::memcmp(d, "fLaC", 4) == 0 && (d[4] & 0x7F) == 0 && std::memcmp(d + 5, "\0\0\x22", 3) == 0);
    case 62: {
      // An MP4 file type box: a size of whole brands, a brand of four
      // printable characters.
      const std::uint32_t box = GetBE32(d);
      return told(box >= 16 && box <= 512 && box % 4 == 0 && std::memcmp(d + 4, "ftyp", 4) == 0 &&
                  std::all_of(d + 8, d + 12, Printable));
    }
    case 67:
      // A layered image: version 1 or 2, then six reserved zero bytes.
      return told(std::memcmp(d, "8BPS\0", 5) == 0 && (d[5] == 1 || d[5] == 2) &&
                  std::all_of(d + 6, d + 12, [](std::uint8_t c) { return c == 0; }));
    case 61:
      // An AIFF or AIFC form holds its type and at least its first chunk,
      // whose ID is four printable characters; a form written to a stream
      // leaves its size 0, unknown.
      return told(std::memcmp(d, "FORM", 4) == 0 &&
                  (std::memcmp(d + 8, "AIFF", 4) == 0 || std::memcmp(d + 8, "AIFC", 4) == 0) &&
                  (GetBE32(d + 4) == 0 || GetBE32(d + 4) >= 12 + std::uint64_t{GetBE32(d + 16)}) &&
                  std::all_of(d + 12, d + 16, Printable));
    case 64: {
      // Matroska and WebM: an EBML header that fits the sector.
      std::size_t length;
      std::uint64_t size;
      return told(std::memcmp(d, "\x1A\x45\xDF\xA3", 4) == 0 && EbmlSize(d + 4, 508, length, size) &&
                  size <= 508 - length && EbmlHeaderChildren(d + 4 + length, static_cast<std::size_t>(size)));
    }
    case 65:
      // An FLV header: version 1, the flags' reserved bits clear, nine
      // bytes long, and the size of the tag before the first, 0.
      return told(std::memcmp(d, "FLV\1", 4) == 0 && (d[4] & 0xFA) == 0 && GetBE32(d + 5) == 9 && GetBE32(d + 9) == 0);
    case 20:
      return told(IconDirectory(d, type.maxSize));
    case 50:
      // A gzip member: deflate, the reserved flag bits clear, the extra
      // flags of deflate's fastest or best, or none, and an OS code the
      // format defines.
      return told(std::memcmp(d, "\x1F\x8B\x08", 3) == 0 && (d[3] & 0xE0) == 0 &&
                  (d[8] == 0 || d[8] == 2 || d[8] == 4) && (d[9] <= 13 || d[9] == 255));
    case 51:
      // A bzip2 stream: a block size of 1 to 9 hundred kB, then the magic of
      // its first block, or of the stream's end when it holds none.
      return told(std::memcmp(d, "BZh", 3) == 0 && d[3] >= '1' && d[3] <= '9' &&
                  (std::memcmp(d + 4, "\x31\x41\x59\x26\x53\x59", 6) == 0 ||
                   std::memcmp(d + 4, "\x17\x72\x45\x38\x50\x90", 6) == 0));
    case 68:
    case 69:
      return told(FlashHeader(d, type.maxSize));
    case 150:
      return told(PortableExecutable(d));
    case 26:
      return told(PcxHeader(d));
    case 151:
      // ELF identification: 32- or 64-bit, either byte order, version 1.
      return told(std::memcmp(d, "\x7F" "ELF", 4) == 0 && (d[4] == 1 || d[4] == 2) && (d[5] == 1 || d[5] == 2) &&
                  d[6] == 1);
    case 158: {
      // A TrueType table directory: its search fields follow from the
      // number of tables.
      const unsigned tables = GetBE16(d + 4);
      if (std::memcmp(d, "\0\1\0\0", 4) != 0 || tables == 0) return Evidence::Disagrees;
      unsigned power = 1, log2 = 0;
      while (power * 2 <= tables) {
        power *= 2;
        ++log2;
      }
      return told(GetBE16(d + 6) == 16 * power && GetBE16(d + 8) == log2 && GetBE16(d + 10) == 16 * (tables - power));
    }
    case 55: {
      // A ustar header: POSIX's magic and version or GNU's, and its
      // checksum written as octal digits from the field's start, ended by
      // NUL or space.
      if (std::memcmp(d + 257, "ustar\0" "00", 8) != 0 && std::memcmp(d + 257, "ustar  \0", 8) != 0)
        return Evidence::Disagrees;
      const std::uint8_t* end = std::find_if(d + 148, d + 156, [](std::uint8_t c) { return c < '0' || c > '7'; });
      return told(end != d + 148 && end != d + 156 &&
                  std::all_of(end, d + 156, [](std::uint8_t c) { return c == 0 || c == ' '; }) &&
                  tar::ChecksumMatches(d));
    }
    case 84:
      // A mailbox begins with its first message's "From " line.
      return told(MboxFromLine(std::string_view(reinterpret_cast<const char*>(d), 512)));
    default:
      return Evidence::Bare;
  }
}

}  // namespace corvan
