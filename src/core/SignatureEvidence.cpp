#include "core/SignatureEvidence.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "platform/ByteCodec.h"

namespace corvan {

Evidence SignatureEvidence(const FileTypeRecord& type, const std::uint8_t* d) {
  auto told = [](bool agrees) { return agrees ? Evidence::Agrees : Evidence::Disagrees; };
  switch (type.typeId) {
    case 111:
      // An ID3v2 tag: "ID3", a major version of 2 to 4, a revision, flags,
      // and a size of four bytes of seven bits each.
      return told(std::memcmp(d, "ID3", 3) == 0 && d[3] >= 2 && d[3] <= 4 && d[4] != 0xFF &&
                  std::all_of(d + 6, d + 10, [](std::uint8_t b) { return b < 0x80; }));
    case 121:
      // An MPEG pack header: its marker bits, MPEG-2's or MPEG-1's.
      if (std::memcmp(d, "\0\0\1\xBA", 4) != 0) return Evidence::Disagrees;
      if ((d[4] & 0xC4) == 0x44)
        return told((d[6] & 0x04) && (d[8] & 0x04) && (d[9] & 0x01) && (d[12] & 0x03) == 0x03);
      return told((d[4] & 0xF1) == 0x21 && (d[6] & 0x01) && (d[8] & 0x01) && (d[9] & 0x80) && (d[11] & 0x01));
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
                  std::all_of(d + 8, d + 12, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; }));
    }
    case 67:
      // A layered image: version 1 or 2, then six reserved zero bytes.
      return told(std::memcmp(d, "8BPS\0", 5) == 0 && (d[5] == 1 || d[5] == 2) &&
                  std::all_of(d + 6, d + 12, [](std::uint8_t c) { return c == 0; }));
    default:
      return Evidence::Bare;
  }
}

}  // namespace corvan
