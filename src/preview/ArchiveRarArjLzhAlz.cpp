// Header walkers for RAR (1.5-4.x block format), ARJ, LZH and ALZ. Each one
// reads only headers, checks every length against the file before using it
// and moves strictly forward, so a damaged or hostile archive ends the walk
// early instead of looping or reading garbage as entries.

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "platform/ByteCodec.h"
#include "preview/ArchiveList.h"

namespace corvan {

namespace {

std::optional<std::vector<std::uint8_t>> ReadBytes(ByteSource& source, std::uint64_t offset, std::size_t count) {
  std::vector<std::uint8_t> out(count);
  if (!source.Read(offset, out)) return std::nullopt;
  return out;
}

// Names longer than kArchiveNameMaxBytes are cut; the walk still steps over
// the whole field.
std::optional<std::string> ReadName(ByteSource& source, std::uint64_t offset, std::size_t count) {
  auto bytes = ReadBytes(source, offset, std::min(count, kArchiveNameMaxBytes));
  if (!bytes) return std::nullopt;
  return std::string(bytes->begin(), bytes->end());
}

// a + b + c, or nothing when the sum leaves 64 bits.
std::optional<std::uint64_t> Sum(std::uint64_t a, std::uint64_t b, std::uint64_t c = 0) {
  if (b > UINT64_MAX - a) return std::nullopt;
  a += b;
  if (c > UINT64_MAX - a) return std::nullopt;
  return a + c;
}

ArchiveTime DosTime(std::uint32_t dateTime) {
  return ArchiveTime::Dos(static_cast<std::uint16_t>(dateTime >> 16), static_cast<std::uint16_t>(dateTime));
}

ArchiveEntry MakeEntry(std::u16string name, std::uint64_t unpacked, std::uint64_t packed, ArchiveTime time,
                       RatioStyle ratio = RatioStyle::Real) {
  ArchiveEntry e;
  e.name = std::move(name);
  e.unpacked = unpacked;
  e.packed = packed;
  e.isFile = unpacked != 0 && packed != 0;
  e.ratio = ratio;
  e.time = time;
  return e;
}

// --- RAR --------------------------------------------------------------------

constexpr std::array<std::uint8_t, 7> kRarMarker = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
constexpr std::uint8_t kRarMain = 0x73;
constexpr std::uint8_t kRarFile = 0x74;
constexpr std::uint16_t kRarLongBlock = 0x8000;  // ADD_SIZE follows HEAD_SIZE
constexpr std::uint16_t kRarLarge = 0x100;       // HIGH_PACK_SIZE / HIGH_UNP_SIZE present
constexpr std::uint16_t kRarUnicode = 0x200;     // name holds an encoded Unicode part
constexpr std::size_t kRarFileHeader = 32;

// Blocks that may stand between file headers and are stepped over: old
// comment, authenticity (both kinds), subblock, recovery record, service
// header.
bool RarSkippableBlock(std::uint8_t type) {
  return type == 0x75 || type == 0x76 || type == 0x77 || type == 0x78 || type == 0x79 || type == 0x7A;
}

// A unicode-flagged name: the 8-bit name, a NUL, then the Unicode name
// packed against the 8-bit one (a high byte, then 2-bit opcodes per char).
std::u16string RarName(std::string_view field, bool unicode) {
  const auto nul = field.find('\0');
  if (!unicode || nul == std::string_view::npos || nul + 1 >= field.size()) return ArchiveName(field);
  const std::string_view plain = field.substr(0, nul);
  const std::string_view enc = field.substr(nul + 1);
  std::u16string out;
  std::size_t pos = 0;
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(enc[i]); };
  const std::uint16_t high = static_cast<std::uint16_t>(byte(pos++) << 8);
  unsigned flags = 0;
  int flagBits = 0;
  while (pos < enc.size() && out.size() < kArchiveNameMaxBytes) {
    if (flagBits == 0) {
      flags = byte(pos++);
      flagBits = 8;
      if (pos >= enc.size()) break;
    }
    switch ((flags >> 6) & 3) {
      case 0: out.push_back(byte(pos++)); break;
      case 1: out.push_back(static_cast<char16_t>(high | byte(pos++))); break;
      case 2:
        if (pos + 1 >= enc.size()) return out;
        out.push_back(static_cast<char16_t>(byte(pos) | (byte(pos + 1) << 8)));
        pos += 2;
        break;
      case 3: {
        // A run copied from the 8-bit name, optionally shifted into the high page.
        std::size_t length = byte(pos++);
        const bool corrected = (length & 0x80) != 0;
        std::uint8_t correction = 0;
        if (corrected) {
          if (pos >= enc.size()) return out;
          correction = byte(pos++);
        }
        length = (length & 0x7F) + 2;
        for (; length > 0 && out.size() < plain.size(); --length) {
          const auto c = static_cast<std::uint8_t>(plain[out.size()]);
          out.push_back(corrected ? static_cast<char16_t>(high | static_cast<std::uint8_t>(c + correction))
                                  : static_cast<char16_t>(c));
        }
        break;
      }
    }
    flags <<= 2;
    flagBits -= 2;
  }
  return out;
}

}  // namespace

void ListRarEntries(ByteSource& source, ArchiveListing& listing) {
  const std::uint64_t size = source.Size();
  const auto lead = ReadBytes(source, 0, kRarMarker.size() + 7);
  if (!lead || !std::equal(kRarMarker.begin(), kRarMarker.end(), lead->begin())) return;
  const std::uint8_t* main = lead->data() + kRarMarker.size();
  const std::uint16_t mainSize = GetLE16(main + 5);
  if (main[2] != kRarMain || mainSize < 7) return;
  // The archive header may carry extra data (an old-style comment): its own size says where it ends.
  std::uint64_t pos = kRarMarker.size() + mainSize;

  while (pos < size && !source.Stopped()) {
    std::array<std::uint8_t, kRarFileHeader> h{};
    // An unreadable block: try again one byte on, as far as the file goes.
    if (!source.Read(pos, std::span(h).first(7))) {
      ++pos;
      continue;
    }
    const std::uint8_t type = h[2];
    const std::uint16_t flags = GetLE16(&h[3]);
    const std::uint16_t headSize = GetLE16(&h[5]);
    std::optional<std::uint64_t> next;
    if (type == kRarFile) {
      if (!source.Read(pos, h)) {
        ++pos;
        continue;
      }
      if (headSize < kRarFileHeader) break;
      std::uint64_t packed = GetLE32(&h[7]);
      std::uint64_t unpacked = GetLE32(&h[11]);
      std::uint64_t nameAt = kRarFileHeader;
      if (flags & kRarLarge) {
        const auto highs = ReadBytes(source, pos + kRarFileHeader, 8);
        if (!highs) break;
        packed |= std::uint64_t{GetLE32(highs->data())} << 32;
        unpacked |= std::uint64_t{GetLE32(highs->data() + 4)} << 32;
        nameAt += 8;
      }
      const auto name = ReadName(source, pos + nameAt, GetLE16(&h[26]));
      if (!name) break;
      listing.Add(MakeEntry(RarName(*name, flags & kRarUnicode), unpacked, packed, DosTime(GetLE32(&h[20]))));
      next = Sum(pos, headSize, packed);
    } else if (RarSkippableBlock(type)) {
      if (headSize < 7) break;
      std::uint64_t added = 0;
      if (flags & kRarLongBlock) {
        const auto add = ReadBytes(source, pos + 7, 4);
        if (!add || headSize < 11) break;
        added = GetLE32(add->data());
      }
      next = Sum(pos, headSize, added);
    } else {
      break;  // end of archive (0x7B) or a block we cannot trust
    }
    if (!next || *next <= pos) break;
    pos = *next;
  }
}

// --- ARJ --------------------------------------------------------------------

namespace {

constexpr std::uint8_t kArjId0 = 0x60;
constexpr std::uint8_t kArjId1 = 0xEA;
constexpr std::uint16_t kArjMaxBasicHeader = 2600;
constexpr std::uint8_t kArjMinFirstHeader = 30;
constexpr std::uint8_t kArjHostUnix = 2;
constexpr std::uint8_t kArjHostNext = 8;

// Where the data after the header at `at` (basic size `basic`) begins: past
// the basic header, its CRC and any extended headers with their CRCs.
std::optional<std::uint64_t> ArjAfterHeader(ByteSource& source, std::uint64_t at, std::uint16_t basic) {
  std::uint64_t pos = at + 4 + basic + 4;
  while (!source.Stopped()) {
    const auto ext = ReadBytes(source, pos, 2);
    if (!ext) return std::nullopt;
    const std::uint16_t extSize = GetLE16(ext->data());
    pos += 2;
    if (extSize == 0) return pos;
    pos += std::uint64_t{extSize} + 4;
    if (pos > source.Size()) return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

void ListArjEntries(ByteSource& source, ArchiveListing& listing) {
  const auto mainHead = ReadBytes(source, 0, 4);
  if (!mainHead) return;
  const std::uint16_t mainBasic = GetLE16(mainHead->data() + 2);
  if (mainBasic > kArjMaxBasicHeader) return;
  auto pos = ArjAfterHeader(source, 0, mainBasic);

  while (pos && *pos < source.Size() && !source.Stopped()) {
    const auto id = ReadBytes(source, *pos, 4);
    if (!id || (*id)[0] != kArjId0 || (*id)[1] != kArjId1) break;
    const std::uint16_t basic = GetLE16(id->data() + 2);
    if (basic == 0 || basic > kArjMaxBasicHeader) break;  // 0 marks the archive's end
    const auto h = ReadBytes(source, *pos + 4, basic);
    if (!h) break;
    const std::uint8_t first = (*h)[0];
    if (first < kArjMinFirstHeader || first > basic) break;
    const std::uint8_t host = (*h)[3];
    const std::uint32_t stamp = GetLE32(h->data() + 8);
    const std::uint32_t packed = GetLE32(h->data() + 12);
    const std::uint32_t unpacked = GetLE32(h->data() + 16);
    const std::string_view name(reinterpret_cast<const char*>(h->data()) + first, basic - first);
    // Archives made on Unix hosts keep Unix seconds in the stamp field.
    const ArchiveTime time =
        host == kArjHostUnix || host == kArjHostNext ? ArchiveTime::Unix(stamp) : DosTime(stamp);
    listing.Add(MakeEntry(ArchiveName(name), unpacked, packed, time));
    const auto data = ArjAfterHeader(source, *pos, basic);
    if (!data) break;
    pos = Sum(*data, packed);
  }
}

// --- LZH --------------------------------------------------------------------

namespace {

constexpr std::size_t kLzhBase = 22;  // up to the level-0/1 name length byte
constexpr std::size_t kLzhLevel2Base = 26;

bool LzhKnownMethod(const std::uint8_t* m) {
  if (m[0] != '-' || m[4] != '-' || m[1] != 'l') return false;
  if (m[2] == 'h') return (m[3] >= '0' && m[3] <= '7') || m[3] == 'd';
  if (m[2] == 'z') return m[3] == 's' || m[3] == '4' || m[3] == '5';
  return false;
}

// Path separators as the format writes them (0xFF, or '\' from DOS hosts).
std::string LzhPath(std::string bytes) {
  for (char& c : bytes)
    if (c == '\\' || static_cast<std::uint8_t>(c) == 0xFF) c = '/';
  return bytes;
}

// Reads the chain of extended headers starting at `at` with the first
// size `size`; picks up the file and directory names and adds their bytes to
// `total`. False when a header is short or unreadable.
bool LzhExtendedHeaders(ByteSource& source, std::uint64_t at, std::uint16_t size, std::optional<std::string>& file,
                        std::string& dir, std::uint64_t* total = nullptr) {
  while (size != 0 && !source.Stopped()) {
    if (total) *total += size;
    if (size < 3) return false;
    const auto ext = ReadBytes(source, at, size);
    if (!ext) return false;
    const std::string data(ext->begin() + 1, ext->end() - 2);
    if ((*ext)[0] == 0x01) file = data.substr(0, kArchiveNameMaxBytes);
    if ((*ext)[0] == 0x02) dir = data.substr(0, kArchiveNameMaxBytes);
    at += size;
    size = GetLE16(ext->data() + size - 2);
  }
  return !source.Stopped();
}

}  // namespace

void ListLzhEntries(ByteSource& source, ArchiveListing& listing) {
  std::uint64_t pos = 0;
  while (pos < source.Size() && !source.Stopped()) {
    const auto h = ReadBytes(source, pos, kLzhBase);
    if (!h || (*h)[0] == 0) break;  // a 0 byte ends the archive
    const std::uint8_t* b = h->data();
    if (!LzhKnownMethod(b + 2)) break;
    std::uint64_t packed = GetLE32(b + 7);
    const std::uint32_t unpacked = GetLE32(b + 11);
    const std::uint32_t stamp = GetLE32(b + 15);
    const std::uint8_t level = b[20];
    std::string dir;
    std::optional<std::string> file;
    ArchiveTime time;
    std::optional<std::uint64_t> next;
    if (level == 0 || level == 1) {
      const std::uint8_t headerSize = b[0];
      const std::uint8_t nameLength = b[21];
      // Level 1 ends its base header with the first extended header's size.
      const std::size_t tail = level == 1 ? 2 : 0;
      if (std::size_t{headerSize} + 2 < kLzhBase + nameLength + tail) break;
      const auto name = ReadName(source, pos + kLzhBase, nameLength);
      if (!name) break;
      file = *name;
      const std::uint64_t skip = packed;
      if (level == 1) {
        // Level 1's packed size counts the extended headers too; the entry's is the data alone.
        std::uint64_t extended = 0;
        const auto firstExt = ReadBytes(source, pos + headerSize, 2);
        if (!firstExt ||
            !LzhExtendedHeaders(source, pos + 2 + headerSize, GetLE16(firstExt->data()), file, dir, &extended) ||
            extended > packed)
          break;
        packed -= extended;
      }
      time = DosTime(stamp);
      next = Sum(pos, 2 + std::uint64_t{headerSize}, skip);
    } else if (level == 2) {
      const std::uint16_t total = GetLE16(b);
      const auto rest = ReadBytes(source, pos, kLzhLevel2Base);
      if (!rest || total < kLzhLevel2Base) break;
      if (!LzhExtendedHeaders(source, pos + kLzhLevel2Base, GetLE16(rest->data() + 24), file, dir)) break;
      time = ArchiveTime::Unix(stamp);
      next = Sum(pos, total, packed);
    } else {
      break;
    }
    std::string path = LzhPath(dir);
    if (!path.empty() && path.back() != '/') path.push_back('/');
    path += LzhPath(file.value_or(std::string()));
    listing.Add(MakeEntry(ArchiveName(path), unpacked, packed, time));
    if (!next || *next <= pos) break;
    pos = *next;
  }
}

// --- ALZ --------------------------------------------------------------------

namespace {

constexpr std::size_t kAlzArchiveHeader = 8;
constexpr std::size_t kAlzFixedHeader = 13;  // up to the optional method/CRC/size fields
constexpr std::size_t kAlzSizesAt = 19;

}  // namespace

void ListAlzEntries(ByteSource& source, ArchiveListing& listing) {
  std::uint64_t pos = kAlzArchiveHeader;
  while (pos < source.Size() && !source.Stopped()) {
    const auto fixed = ReadBytes(source, pos, kAlzFixedHeader);
    // Only local file headers are listed; the central directory ("CLZ\x01") ends the walk.
    if (!fixed || (*fixed)[0] != 'B' || (*fixed)[1] != 'L' || (*fixed)[2] != 'Z' || (*fixed)[3] != 0x01) break;
    const std::uint8_t descriptor = (*fixed)[11];
    // The high nibble is the width of each size field; 0 means no size fields
    // (folders). Encrypted entries and 64-bit sizes end the walk.
    std::size_t width = 0;
    switch (descriptor) {
      case 0x00: width = 0; break;
      case 0x10: width = 1; break;
      case 0x20: width = 2; break;
      case 0x40: width = 4; break;
      default: return;
    }
    const std::size_t headerLength = width == 0 ? kAlzFixedHeader : kAlzSizesAt + 2 * width;
    const auto h = ReadBytes(source, pos, headerLength);
    if (!h) break;
    const auto field = [&](std::size_t at) -> std::uint64_t {
      switch (width) {
        case 1: return (*h)[at];
        case 2: return GetLE16(h->data() + at);
        case 4: return GetLE32(h->data() + at);
        default: return 0;
      }
    };
    const std::uint64_t packed = field(kAlzSizesAt);
    const std::uint64_t unpacked = field(kAlzSizesAt + width);
    const std::uint16_t nameLength = GetLE16(h->data() + 4);
    const auto name = ReadName(source, pos + headerLength, nameLength);
    if (!name) break;
    listing.Add(MakeEntry(ArchiveName(*name), unpacked, packed, DosTime(GetLE32(h->data() + 7)),
                          width == 1 ? RatioStyle::Whole : RatioStyle::Real));
    const auto next = Sum(pos, headerLength + nameLength, packed);
    if (!next || *next <= pos) break;
    pos = *next;
  }
}

}  // namespace corvan
