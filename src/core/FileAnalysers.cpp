#include "core/FileAnalysers.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <cstring>
#include <vector>

#include "core/CarveWalks.h"
#include "core/CarveWindow.h"
#include "core/SignatureEvidence.h"
#include "platform/ByteCodec.h"

namespace corvan {

namespace {

using carve::Ascii16;
using carve::Latin1Trimmed;
using carve::Window;

// Bitmaps above this size are taken for damage, not for pictures.
constexpr std::uint64_t kBitmapSizeLimit = 0x3200000;
// The largest chunk length the format allows (2^31 - 1).
constexpr std::uint32_t kPngChunkLimit = 0x7FFFFFFF;
// How far an HTML page is searched for its end tag.
constexpr std::uint64_t kHtmlScanLimit = 0x200000;

}  // namespace

std::u16string DimensionsPiece(std::uint64_t width, std::uint64_t height) {
  if (width == 0 || height == 0 || width >= 10000 || height >= 10000) return {};
  return Ascii16("(" + std::to_string(width) + "x" + std::to_string(height) + ")");
}

namespace {

// Year, month, day, hour, minute and second of a date text, separators
// dropped; false when the text does not hold 14 digits there.
bool ParseCompactDate(std::string_view dateText, int (&v)[6]) {
  std::string compact;
  for (std::size_t i = 0; i < dateText.size() && i < 32; ++i) {
    const char c = dateText[i];
    if (c == ':' || c == ' ' || c == '-') continue;
    compact.push_back(c);
  }
  if (compact.size() < 14) return false;
  for (std::size_t i = 0; i < 14; ++i)
    if (compact[i] < '0' || compact[i] > '9') return false;
  auto num = [&](std::size_t at, std::size_t len) { return std::stoi(compact.substr(at, len)); };
  v[0] = num(0, 4);
  v[1] = num(4, 2);
  v[2] = num(6, 2);
  v[3] = num(8, 2);
  v[4] = num(10, 2);
  v[5] = num(12, 2);
  return true;
}

}  // namespace

std::u16string DatePiece(std::string_view dateText) {
  int v[6];
  if (!ParseCompactDate(dateText, v)) return {};
  int second = v[5];
  if (second % 2 != 0) ++second;  // the two-second steps of the stored file time
  return Ascii16("(" + std::to_string(v[1]) + "-" + std::to_string(v[2]) + "-" + std::to_string(v[0]) + " " +
                 std::to_string(v[3]) + "-" + std::to_string(v[4]) + "-" + std::to_string(second) + ")");
}

void StoreDosDate(std::string_view dateText, AnalysedFile& out) {
  int v[6];
  if (!ParseCompactDate(dateText, v)) return;
  const int year = v[0], month = v[1], day = v[2], hour = v[3], minute = v[4], second = v[5];
  if (year < 1980 || year > 2107 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
      second > 59)
    return;
  out.dosDate = static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day);
  out.dosTime = static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

bool GetBitmapFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out) {
  std::uint8_t b[512] = {};
  if (!reader.Read(startSector, b, sizeof b) || GetLE32(b + 6) != 0) return false;
  const std::uint32_t header = GetLE32(b + 14);
  const std::uint32_t imageSize = GetLE32(b + 34);
  const std::uint64_t pixelOffset = GetLE32(b + 10);
  const std::uint64_t sizeField = GetLE32(b + 2);
  // Sizes are worked out in 64 bits so that a damaged header cannot wrap
  // round to a plausible size; a negative height is a top-down picture.
  auto height32 = [](std::uint32_t v) { return static_cast<std::uint64_t>(std::llabs(static_cast<std::int32_t>(v))); };
  std::uint64_t width, height, size;
  if (header == 12) {
    width = GetLE16(b + 18);
    height = GetLE16(b + 20);
    size = std::max<std::uint64_t>(std::uint64_t{GetLE16(b + 24)} * height * width / 8 + pixelOffset, sizeField);
  } else if (imageSize != 0) {
    width = GetLE32(b + 18);
    height = height32(GetLE32(b + 22));
    size = pixelOffset + imageSize;
  } else {
    width = GetLE32(b + 18);
    std::uint64_t bits;
    if (header >= 40) {
      height = height32(GetLE32(b + 22));
      bits = GetLE16(b + 28);
    } else {
      height = GetLE32(b + 20);
      bits = GetLE16(b + 24);
    }
    size = std::max<std::uint64_t>(width * bits * height / 8 + pixelOffset, sizeField);
  }
  if (size > kBitmapSizeLimit) return false;
  out.size = size;
  out.suffix = DimensionsPiece(width, height);
  return true;
}

bool GetPngFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out) {
  Window win(reader, startSector, 1024);
  const std::uint8_t* head = win.At(0, 8);
  if (head == nullptr || std::memcmp(head, "\x89PNG\r\n\x1A\n", 8) != 0) return false;

  std::uint64_t width = 0, height = 0;
  std::string date;
  std::u16string text;
  // Chunk by chunk: a length, a type of four ASCII letters, the data and a
  // CRC. Each step reads one chunk's head and jumps over its data, so the
  // walk costs what the picture holds; the first thing that is no chunk
  // ends it, and a picture without its end chunk is no file. A chunk an
  // earlier walk of the pass reached leads where that walk went.
  CarveWalks* walks = reader.Walks();
  const std::uint64_t base = startSector * 512;
  if (walks != nullptr) walks->png.Begin();
  std::uint64_t pos = 8, size = 0;
  bool ended = false;  // the walk came to an end of its own, not by Stop
  while (!reader.Aborted()) {
    if (walks != nullptr) {
      if (const auto known = walks->png.Find(base + pos)) {
        if (known->result.end > base) size = known->result.end - base;
        ended = true;
        break;
      }
      walks->png.Pass(base + pos, {});
    }
    const std::uint8_t* c = win.At(pos, 8);
    ended = true;
    if (c == nullptr) break;
    const std::uint32_t length = GetBE32(c);
    if (length > kPngChunkLimit || !std::all_of(c + 4, c + 8, [](std::uint8_t k) {
          return (k >= 'A' && k <= 'Z') || (k >= 'a' && k <= 'z');
        }))
      break;
    const std::uint8_t* type = c + 4;
    if (std::memcmp(type, "IEND", 4) == 0) {
      const std::uint8_t* crc = win.At(pos + 8, 4);
      if (length == 0 && crc != nullptr && std::memcmp(crc, "\xAE\x42\x60\x82", 4) == 0) size = pos + 12;
      break;
    }
    ended = false;
    if (std::memcmp(type, "IHDR", 4) == 0) {
      if (const std::uint8_t* d = win.At(pos + 8, 8)) {
        width = GetBE32(d);
        height = GetBE32(d + 4);
      }
    } else if (std::memcmp(type, "tEXt", 4) == 0 || std::memcmp(type, "zTXt", 4) == 0) {
      // The chunk's length decides how much text there is; one too short for
      // its own keyword, or longer than the window, is passed over.
      const std::uint8_t* data = length >= 7 ? win.At(pos + 8, length) : nullptr;
      if (data != nullptr) {
        if (std::memcmp(data, "Source\0", 7) == 0) text = Latin1Trimmed(data + 7, length - 7);
        if (length >= 13 && std::memcmp(data, "CreationTime\0", 13) == 0)
          date.assign(reinterpret_cast<const char*>(data + 13), length - 13);
      }
    }
    pos += 12 + std::uint64_t{length};
  }
  // A walk cut short by the pass's bound is not where the chain ends.
  if (walks != nullptr && ended && !reader.Refused()) walks->png.End({size != 0 ? base + size : 0});
  if (size == 0) return false;
  out.size = size;
  out.suffix = DatePiece(date) + text + DimensionsPiece(width, height);
  StoreDosDate(date, out);
  return true;
}

bool GetAuFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out) {
  if (reader.Aborted()) return false;
  std::uint8_t b[512] = {};
  if (!reader.Read(startSector, b, sizeof b) || std::memcmp(b, ".snd", 4) != 0) return false;
  const std::uint32_t dataSize = GetBE32(b + 8);
  // All ones means the writer did not know the length (a stream). Offset and
  // length are added in 64 bits: a sum past 32 bits is a file longer than
  // 4 GiB (cut by the carving step), not the few bytes it would wrap to.
  out.unknownSize = dataSize == 0xFFFFFFFFu;
  out.size = out.unknownSize ? 0 : std::uint64_t{GetBE32(b + 4)} + dataSize;
  return true;
}

bool GetWaveFileSize(CarveReader& reader, std::uint64_t startSector, std::uint64_t maxSize, AnalysedFile& out) {
  if (reader.Aborted()) return false;
  std::uint8_t b[512] = {};
  if (!reader.Read(startSector, b, sizeof b) || std::memcmp(b, "RIFF", 4) != 0 || std::memcmp(b + 8, "WAVE", 4) != 0)
    return false;
  // The RIFF length counts the form type and its chunks (with their pad
  // bytes); a writer that did not know it (a stream) leaves 0 or all ones.
  const std::uint64_t form = GetLE32(b + 4);
  if (form < 12 || form == 0xFFFFFFFFu) return false;
  const std::uint64_t size = 8 + form;
  if (size > maxSize) return false;
  out.size = size;
  return true;
}

namespace {

// The 33-bit system clock reference of a pack header of `bytes` bytes
// (`MpegPackHeaderBytes`): MPEG-1 and MPEG-2 lay it out differently.
std::uint64_t PackClock(const std::uint8_t* d, std::size_t bytes) {
  auto at = [&](int i) { return std::uint64_t{d[i]}; };
  if (bytes == 12)
    return (at(4) & 0x0E) << 29 | at(5) << 22 | (at(6) & 0xFE) << 14 | at(7) << 7 | at(8) >> 1;
  return (at(4) & 0x38) << 27 | (at(4) & 0x03) << 28 | at(5) << 20 | (at(6) & 0xF8) << 12 | (at(6) & 0x03) << 13 |
         at(7) << 5 | at(8) >> 3;
}

}  // namespace

bool GetMpegFileSize(CarveReader& reader, std::uint64_t startSector, std::uint64_t maxSize, AnalysedFile& out) {
  Window win(reader, startSector, 64 * 1024);
  const std::uint8_t* head = win.At(0, 25);
  if (head == nullptr || !MpegStreamStart(head)) return false;
  // Each step reads a start code's few bytes and jumps over what its
  // length covers, so the walk costs what the stream holds. A packet's
  // length is confirmed only by the start code it leads to.
  std::uint64_t pos = 0, last = 0, size = 0, own = 0;
  std::uint64_t clock = 0;
  for (;;) {
    const std::uint8_t* p = pos < maxSize && !reader.Aborted() ? win.At(pos, 6) : nullptr;
    std::uint64_t length = 0;
    if (p != nullptr && p[0] == 0 && p[1] == 0 && p[2] == 1) {
      if (p[3] == 0xB9) {
        size = own = pos + 4;
        break;
      }
      if (p[3] == 0xBA) {
        const std::uint8_t* h = win.At(pos, 14);
        length = h != nullptr ? MpegPackHeaderBytes(h) : 0;
        if (length != 0) {
          const std::uint64_t c = PackClock(h, length);
          if (c < clock) {
            size = own = pos;
            break;
          }
          clock = c;
        }
      } else if (p[3] == 0xBB || (p[3] > 0xBB && GetBE16(p + 4) != 0)) {
        // The system header, or a packet: one of unbounded length (0) has
        // no place in a program stream.
        length = 6 + std::uint64_t{GetBE16(p + 4)};
      }
    }
    // The largest size, a Stop, or what is no start code ends the walk.
    if (length == 0) {
      size = pos;
      own = last;
      break;
    }
    last = pos;
    pos += length;
  }
  out.size = std::min(size, maxSize);
  out.ownBytes = std::min(own, out.size);
  return true;
}

std::uint64_t PdfEndWithin(CarveReader& reader, std::uint64_t startSector, std::uint64_t size) {
  // Searched from the end back: a document updated in place has a marker
  // after each update, and the last one ends it.
  static constexpr char kMarker[] = "%%EOF";
  constexpr std::size_t kMarkerBytes = sizeof kMarker - 1;
  constexpr std::uint64_t kChunk = 64 * 1024;
  if (size < kMarkerBytes || size % 512 != 0) return size;
  std::vector<std::uint8_t> buffer(kChunk + 512);
  std::uint64_t end = size;  // bytes from here on were searched
  while (end > 0 && !reader.Aborted()) {
    const std::uint64_t from = end > kChunk ? end - kChunk : 0;
    // The sector after the chunk too, so that a marker across the chunks'
    // border is found.
    const std::uint64_t bytes = std::min(end + 512, size) - from;
    if (!reader.Read(startSector + from / 512, buffer.data(), static_cast<std::size_t>(bytes))) return size;
    for (std::uint64_t k = bytes - kMarkerBytes + 1; k-- > 0;) {
      if (std::memcmp(buffer.data() + k, kMarker, kMarkerBytes) != 0) continue;
      std::uint64_t at = from + k + kMarkerBytes;
      // The line end after the marker belongs to the document.
      const std::uint64_t i = k + kMarkerBytes;
      if (i < bytes && buffer[i] == '\r') ++at;
      if (at - from < bytes && buffer[at - from] == '\n') ++at;
      return at;
    }
    end = from;
  }
  return size;
}

bool GetAviFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out) {
  if (reader.Aborted()) return false;
  Window win(reader, startSector, 1024);
  const std::uint8_t* head = win.At(0, 12);
  if (head == nullptr || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "AVI ", 4) != 0) return false;
  std::uint64_t pos = 12;
  bool passed = false;
  while (!reader.Aborted()) {
    const std::uint8_t* c = win.At(pos, 8);
    if (c == nullptr) break;
    if (std::memcmp(c, "LIST", 4) != 0 && std::memcmp(c, "JUNK", 4) != 0 && std::memcmp(c, "idx1", 4) != 0) break;
    const std::uint64_t size = GetLE32(c + 4);
    // A chunk of odd size is followed by a pad byte.
    pos += 8 + size + (size & 1);
    passed = true;
  }
  if (!passed) return false;
  out.size = pos;
  return true;
}

bool GetHtmlFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out) {
  // Read in pieces rather than one 2 MiB block, so that a page near the end
  // of a small volume is not lost to a read past its end.
  Window win(reader, startSector, 64 * 1024);
  const std::uint8_t* head = win.At(0, 15);
  if (head == nullptr) return false;
  auto starts = [&](const char* s) { return std::memcmp(head, s, std::strlen(s)) == 0; };
  if (!starts("<!DOCTYPE HTML ") && !starts("<!doctype html>") && !starts("<html") && !starts("<HTML")) return false;
  if (reader.Aborted()) {
    out.size = 0;
    return true;
  }
  std::uint64_t i = 0;
  while (i + 7 < kHtmlScanLimit && !reader.Aborted()) {
    const std::uint8_t* p = win.At(i, 8);
    if (p == nullptr) break;
    if (std::memcmp(p, "<TITLE>", 7) == 0 || std::memcmp(p, "<title>", 7) == 0) {
      // An end tag inside the title is not the page's end.
      std::uint64_t j = i + 7;
      for (; j < i + 7 + 64 && j + 8 < kHtmlScanLimit; ++j) {
        const std::uint8_t* t = win.At(j, 8);
        if (t == nullptr || std::memcmp(t, "</TITLE>", 8) == 0 || std::memcmp(t, "</title>", 8) == 0) break;
      }
      i = j;
      continue;
    }
    if (std::memcmp(p, "</html>", 7) == 0 || std::memcmp(p, "</HTML>", 7) == 0) {
      // The tag and the line end after it, as the page was written: CR LF,
      // LF, CR, or none.
      out.size = i + 7;
      if (p[7] == '\r') ++out.size;
      const std::uint8_t* n = win.At(out.size, 1);
      if (n != nullptr && *n == '\n') ++out.size;
      return true;
    }
    ++i;
  }
  out.size = i;
  return true;
}

}  // namespace corvan
