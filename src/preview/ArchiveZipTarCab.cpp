// The zip, tar and cabinet parsers: each reads only the archive's directory
// (zip's central directory, tar's header records, the cabinet's file
// entries) and never the members' data.

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/TarRecords.h"
#include "core/ZipRecords.h"
#include "platform/ByteCodec.h"
#include "preview/ArchiveList.h"
#include "preview/TextDecode.h"

namespace corvan {

namespace {

// ---------------------------------------------------------------- zip

constexpr std::uint32_t kZipEndSig = 0x06054B50;
constexpr std::uint32_t kZip64EndSig = 0x06064B50;
constexpr std::uint32_t kZip64LocatorSig = 0x07064B50;
constexpr std::uint32_t kZipCentralSig = 0x02014B50;
constexpr std::size_t kZipEndBytes = 22;
constexpr std::size_t kZipCentralBytes = 46;
constexpr std::uint16_t kZipUtf8Flag = 1u << 11;
using zip::kZip32Max;
using zip::ReadZip64Sizes;

// The end record after an archive comment: the last one in the file whose
// comment fits in what follows it.
bool FindZipEnd(ByteSource& source, std::uint64_t& endAt) {
  const std::uint64_t size = source.Size();
  const std::uint64_t tailBytes = std::min<std::uint64_t>(size, 0xFFFF + kZipEndBytes);
  const std::uint64_t tailStart = size - tailBytes;
  std::vector<std::uint8_t> tail(static_cast<std::size_t>(tailBytes));
  if (!source.Read(tailStart, tail)) return false;
  for (std::size_t i = tail.size() - kZipEndBytes + 1; i-- > 0;) {
    if (GetLE32(&tail[i]) != kZipEndSig) continue;
    if (GetLE16(&tail[i + 20]) > tail.size() - i - kZipEndBytes) continue;
    endAt = tailStart + i;
    return true;
  }
  return false;
}

// Where the central directory starts, from the end record.
std::optional<std::uint64_t> ZipCentralStart(ByteSource& source) {
  const std::uint64_t size = source.Size();
  if (size < kZipEndBytes) return std::nullopt;
  std::uint64_t endAt = size - kZipEndBytes;
  std::array<std::uint8_t, kZipEndBytes> rec{};
  // Most archives have no comment: their end record closes the file, read
  // on its own so that damage elsewhere in the tail does not hide it.
  if (!source.Read(endAt, rec) || GetLE32(rec.data()) != kZipEndSig || GetLE16(&rec[20]) != 0) {
    if (!FindZipEnd(source, endAt) || !source.Read(endAt, rec)) return std::nullopt;
  }
  std::uint64_t start = GetLE32(&rec[16]);
  // A zip64 archive keeps the real offset in its own end record, found
  // through the locator just before the classic one.
  if (start == kZip32Max && endAt >= 20) {
    std::array<std::uint8_t, 20> loc{};
    std::array<std::uint8_t, 56> end64{};
    if (source.Read(endAt - 20, loc) && GetLE32(loc.data()) == kZip64LocatorSig) {
      const std::uint64_t end64At = GetLE64(loc.data() + 8);
      if (end64At < endAt && source.Read(end64At, end64) && GetLE32(end64.data()) == kZip64EndSig)
        start = GetLE64(end64.data() + 48);
    }
  }
  return start;
}

std::u16string CutName(std::string_view bytes, bool utf8) {
  if (bytes.size() > kArchiveNameMaxBytes) bytes = bytes.substr(0, kArchiveNameMaxBytes);
  if (!utf8) return ArchiveName(bytes);
  if (const auto nul = bytes.find('\0'); nul != std::string_view::npos) bytes = bytes.substr(0, nul);
  return DecodeText(bytes, "utf-8");
}

// ---------------------------------------------------------------- tar

constexpr std::size_t kTarBlock = tar::kBlock;
// Extended headers are a few records long; more is not a header.
constexpr std::uint64_t kTarPaxMaxBytes = 1 << 20;

std::string_view TarField(const std::array<std::uint8_t, kTarBlock>& h, std::size_t at, std::size_t width) {
  std::string_view s(reinterpret_cast<const char*>(&h[at]), width);
  if (const auto nul = s.find('\0'); nul != std::string_view::npos) s = s.substr(0, nul);
  return s;
}

// The "path" and "size" records of a pax extended header
// ("<length> <key>=<value>\n" each).
void ReadPaxRecords(std::string_view data, std::optional<std::string>& path, bool& haveSize, std::uint64_t& size) {
  std::size_t at = 0;
  while (at < data.size()) {
    std::size_t len = 0;
    std::size_t i = at;
    while (i < data.size() && data[i] >= '0' && data[i] <= '9' && len < data.size()) len = len * 10 + (data[i++] - '0');
    if (i >= data.size() || data[i] != ' ' || len <= i - at || len > data.size() - at) return;
    std::string_view rec = data.substr(i + 1, at + len - i - 1);
    if (!rec.empty() && rec.back() == '\n') rec.remove_suffix(1);
    if (const auto eq = rec.find('='); eq != std::string_view::npos) {
      const std::string_view key = rec.substr(0, eq);
      const std::string_view value = rec.substr(eq + 1);
      if (key == "path") {
        path = std::string(value.substr(0, kArchiveNameMaxBytes));
      } else if (key == "size") {
        std::uint64_t v = 0;
        bool ok = !value.empty() && value.size() <= 19;
        for (char c : value) ok = ok && c >= '0' && c <= '9', v = v * 10 + static_cast<std::uint64_t>(c - '0');
        if (ok) {
          haveSize = true;
          size = v;
        }
      }
    }
    at += len;
  }
}

// ---------------------------------------------------------------- cabinet

constexpr std::size_t kCabHeaderBytes = 36;
constexpr std::size_t kCabFileBytes = 16;
constexpr std::size_t kCabNameMaxBytes = 260;
constexpr std::uint16_t kCabPrevCabinet = 0x0001;
constexpr std::uint16_t kCabNextCabinet = 0x0002;
constexpr std::uint16_t kCabReservePresent = 0x0004;
constexpr std::uint16_t kCabNameIsUtf8 = 0x80;

// The NUL-terminated string at `at` (at most kCabNameMaxBytes with its
// NUL; a read near the end takes what is left): its bytes, or nothing when
// no NUL comes in time.
std::optional<std::string> ReadCabString(ByteSource& source, std::uint64_t at) {
  const std::uint64_t size = source.Size();
  if (at >= size) return std::nullopt;
  std::array<std::uint8_t, kCabNameMaxBytes> buf{};
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), size - at));
  if (!source.Read(at, std::span(buf.data(), n))) return std::nullopt;
  const auto nul = std::find(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n), 0);
  if (nul == buf.begin() + static_cast<std::ptrdiff_t>(n)) return std::nullopt;
  return std::string(buf.begin(), nul);
}

}  // namespace

void ListZipEntries(ByteSource& source, ArchiveListing& listing) {
  const auto start = ZipCentralStart(source);
  if (!start) return;
  const std::uint64_t size = source.Size();
  std::uint64_t position = *start;
  std::array<std::uint8_t, kZipCentralBytes> h{};
  std::vector<std::uint8_t> var;
  while (position <= size && size - position >= kZipCentralBytes && !source.Stopped()) {
    // An unreadable header is passed byte by byte, as far as the file goes.
    if (!source.Read(position, h)) {
      ++position;
      continue;
    }
    if (GetLE32(h.data()) != kZipCentralSig) break;
    const std::uint64_t nameBytes = GetLE16(&h[28]);
    const std::uint64_t extraBytes = GetLE16(&h[30]);
    const std::uint64_t commentBytes = GetLE16(&h[32]);
    const std::uint64_t recordBytes = kZipCentralBytes + nameBytes + extraBytes + commentBytes;
    if (recordBytes > size - position) break;
    var.resize(static_cast<std::size_t>(nameBytes + extraBytes));
    if (!source.Read(position + kZipCentralBytes, var)) break;
    ArchiveEntry e;
    e.packed = GetLE32(&h[20]);
    e.unpacked = GetLE32(&h[24]);
    ReadZip64Sizes(std::span<const std::uint8_t>(var).subspan(static_cast<std::size_t>(nameBytes)), e.unpacked,
                   e.packed);
    e.name = CutName(std::string_view(reinterpret_cast<const char*>(var.data()), static_cast<std::size_t>(nameBytes)),
                     (GetLE16(&h[8]) & kZipUtf8Flag) != 0);
    e.isFile = e.unpacked != 0 && e.packed != 0;
    e.ratio = RatioStyle::Real;
    e.time = ArchiveTime::Dos(GetLE16(&h[14]), GetLE16(&h[12]));
    listing.Add(std::move(e));
    position += recordBytes;
  }
}

void ListTarEntries(ByteSource& source, ArchiveListing& listing) {
  const std::uint64_t size = source.Size();
  std::uint64_t position = 0;
  std::array<std::uint8_t, kTarBlock> h{};
  // What the internal records (GNU long name, pax extended header) say of
  // the member that follows them.
  std::optional<std::string> longName;
  std::optional<std::string> paxPath;
  bool havePaxSize = false;
  std::uint64_t paxSize = 0;
  while (size - position >= kTarBlock && !source.Stopped()) {
    if (!source.Read(position, h) || !tar::ChecksumMatches(h.data())) break;
    const auto headerSize = tar::ParseNumber(&h[124], 12);
    if (!headerSize) break;
    const char type = static_cast<char>(h[156]);
    const bool internal = type == 'L' || type == 'K' || type == 'x' || type == 'g';
    const std::uint64_t dataSize = !internal && havePaxSize ? paxSize : *headerSize;
    const std::uint64_t dataAt = position + kTarBlock;
    if (type == 'L' || type == 'x') {
      const std::uint64_t cap = type == 'L' ? kArchiveNameMaxBytes : kTarPaxMaxBytes;
      const std::uint64_t n = std::min({dataSize, cap, size - dataAt});
      std::string data(static_cast<std::size_t>(n), '\0');
      if (!source.Read(dataAt, std::span(reinterpret_cast<std::uint8_t*>(data.data()), data.size()))) break;
      if (type == 'L') {
        longName = data.substr(0, data.find('\0'));
      } else {
        ReadPaxRecords(data, paxPath, havePaxSize, paxSize);
      }
    } else if (!internal) {
      std::string name;
      if (paxPath) {
        name = *paxPath;
      } else if (longName) {
        name = *longName;
      } else {
        name = std::string(TarField(h, 0, 100));
        // POSIX ustar keeps the front of a long path in its prefix field.
        const std::string_view prefix = TarField(h, 345, 155);
        if (TarField(h, 257, 6) == "ustar" && !prefix.empty()) name = std::string(prefix) + "/" + name;
      }
      if (!name.empty()) {
        ArchiveEntry e;
        e.name = CutName(name, false);
        e.unpacked = e.packed = dataSize;
        e.isFile = dataSize != 0;
        e.ratio = RatioStyle::None;
        const auto mtime = tar::ParseNumber(&h[136], 12);
        if (mtime && *mtime <= 0xFFFFFFFF) e.time = ArchiveTime::Unix(static_cast<std::uint32_t>(*mtime));
        listing.Add(std::move(e));
      }
      longName.reset();
      paxPath.reset();
      havePaxSize = false;
    }
    // The member's data, in whole records; one that runs past the end
    // ends the walk.
    const std::uint64_t left = size - dataAt;
    if (dataSize > left) break;
    const std::uint64_t dataRecords = (dataSize + kTarBlock - 1) / kTarBlock * kTarBlock;
    if (dataRecords > left) break;
    position = dataAt + dataRecords;
  }
}

void ListCabEntries(ByteSource& source, ArchiveListing& listing) {
  const std::uint64_t size = source.Size();
  std::array<std::uint8_t, kCabHeaderBytes> h{};
  if (!source.Read(0, h) || GetLE32(h.data()) != 0x4643534D) return;  // "MSCF"
  const std::uint16_t flags = GetLE16(&h[30]);
  // The first folder entry follows the header, its reserved area and the
  // names of the neighbouring cabinets when the flags say they are there.
  std::uint64_t folderAt = kCabHeaderBytes;
  if (flags & kCabReservePresent) {
    std::array<std::uint8_t, 4> reserve{};
    if (!source.Read(folderAt, reserve)) return;
    folderAt += 4 + GetLE16(reserve.data());
  }
  const int names = ((flags & kCabPrevCabinet) ? 2 : 0) + ((flags & kCabNextCabinet) ? 2 : 0);
  for (int i = 0; i < names; ++i) {
    const auto s = ReadCabString(source, folderAt);
    if (!s) return;
    folderAt += s->size() + 1;
  }
  std::array<std::uint8_t, 4> folderData{};
  if (!source.Read(folderAt, folderData)) return;
  // The file entries run from their offset in the header to the first
  // folder's data.
  std::uint64_t position = GetLE32(&h[16]);
  if (position < kCabHeaderBytes) return;
  const std::uint64_t end = std::min<std::uint64_t>(GetLE32(folderData.data()), size);
  std::array<std::uint8_t, kCabFileBytes> f{};
  while (position < end && !source.Stopped()) {
    if (!source.Read(position, f)) break;
    const auto name = ReadCabString(source, position + kCabFileBytes);
    if (!name) break;
    ArchiveEntry e;
    e.name = CutName(*name, (GetLE16(&f[14]) & kCabNameIsUtf8) != 0);
    e.unpacked = e.packed = GetLE32(f.data());
    e.isFile = e.unpacked != 0;
    e.ratio = RatioStyle::None;
    e.time = ArchiveTime::Dos(GetLE16(&f[10]), GetLE16(&f[12]));
    listing.Add(std::move(e));
    position += kCabFileBytes + name->size() + 1;
  }
}

}  // namespace corvan
