// RAR, ARJ, LZH and ALZ content listings. ARJ and LZH archives are made by
// the arj and lha tools and compared with what those tools list; RAR and ALZ
// archives (no free tool writes them) are built byte by byte from the
// published header layouts, and the expected values are the ones put in.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "preview/ArchiveList.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct UtcZone {
  UtcZone() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
};

void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void PutText(Bytes& b, std::string_view s) { b.insert(b.end(), s.begin(), s.end()); }

std::uint32_t Crc32(const std::uint8_t* p, std::size_t n) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

ArchiveListing List(const Bytes& bytes, std::u16string_view name) {
  MemoryByteSource source(bytes);
  return ListArchiveEntries(source, name);
}

std::string Utf8(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::uint64_t SumUnpacked(const ArchiveListing& l) {
  std::uint64_t total = 0;
  for (const auto& e : l.entries) total += e.unpacked;
  return total;
}

// Name and sizes as expected, and "File" exactly when both sizes are non-zero.
void ExpectEntry(const ArchiveEntry& e, const std::string& name, std::uint64_t unpacked, std::uint64_t packed) {
  EXPECT_EQ(Utf8(e.name), name);
  EXPECT_EQ(e.unpacked, unpacked);
  EXPECT_EQ(e.packed, packed);
  EXPECT_EQ(e.isFile, unpacked != 0 && packed != 0);
}

// MS-DOS date and time words of a UTC calendar time.
std::uint16_t DosDate(int year, int month, int day) { return static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day); }
std::uint16_t DosClock(int hour, int minute, int second) {
  return static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

// ---------------------------------------------------------------- RAR ----
// Blocks of the RAR 2.9-4.x format: HEAD_CRC (low 16 bits of the CRC-32 of
// the header from HEAD_TYPE on), HEAD_TYPE, HEAD_FLAGS, HEAD_SIZE, body.

Bytes RarBlock(std::uint8_t type, std::uint16_t flags, const Bytes& body, std::int32_t sizeOverride = -1) {
  Bytes b = {0, 0, type};
  Put16(b, flags);
  Put16(b, sizeOverride >= 0 ? static_cast<std::uint32_t>(sizeOverride) : static_cast<std::uint32_t>(7 + body.size()));
  b.insert(b.end(), body.begin(), body.end());
  const std::uint32_t crc = Crc32(b.data() + 2, b.size() - 2);
  b[0] = static_cast<std::uint8_t>(crc);
  b[1] = static_cast<std::uint8_t>(crc >> 8);
  return b;
}

const Bytes kRarMarkerBlock = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};

Bytes RarMain(const Bytes& extra = {}) {
  Bytes body;
  Put16(body, 0);  // RESERVED1
  Put32(body, 0);  // RESERVED2
  body.insert(body.end(), extra.begin(), extra.end());
  // MHD_COMMENT (0x02) marks the old-style comment carried in this header.
  return RarBlock(0x73, extra.empty() ? 0 : 0x02, body);
}

struct RarFile {
  std::string name;
  std::uint64_t packed = 0;
  std::uint64_t unpacked = 0;
  std::uint8_t host = 2;
  std::uint16_t date = 0;
  std::uint16_t time = 0;
  std::uint16_t flags = 0;
  std::int32_t sizeOverride = -1;
};

Bytes RarFileBlock(const RarFile& f, bool withData = true) {
  const bool large = (f.packed >> 32) != 0 || (f.unpacked >> 32) != 0;
  Bytes body;
  Put32(body, static_cast<std::uint32_t>(f.packed));
  Put32(body, static_cast<std::uint32_t>(f.unpacked));
  body.push_back(f.host);
  Put32(body, 0x12345678);  // FILE_CRC
  Put32(body, (std::uint32_t{f.date} << 16) | f.time);
  body.push_back(29);  // UNP_VER
  body.push_back(0x30);  // METHOD: store
  Put16(body, static_cast<std::uint32_t>(f.name.size()));
  Put32(body, (f.flags & 0xE0) == 0xE0 ? 0x10 : 0x20);  // ATTR
  if (large) {
    Put32(body, static_cast<std::uint32_t>(f.packed >> 32));
    Put32(body, static_cast<std::uint32_t>(f.unpacked >> 32));
  }
  PutText(body, f.name);
  Bytes b = RarBlock(0x74, static_cast<std::uint16_t>(0x8000 | f.flags | (large ? 0x100 : 0)), body, f.sizeOverride);
  if (withData) b.insert(b.end(), static_cast<std::size_t>(f.packed), 0xAB);
  return b;
}

Bytes RarEnd() { return RarBlock(0x7B, 0x4000, {}); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(RarListing, ListsEveryHostDirectoriesAndStepsOverOtherBlocks) {
  UtcZone utc;
  std::vector<RarFile> files;
  for (std::uint8_t host = 0; host <= 5; ++host)
    files.push_back({"dir\\file" + std::to_string(host) + ".txt", 10u + host, 40u + host, host, DosDate(2011, 3, 15),
                     DosClock(14, 30, 10 + host * 2)});
  files.push_back({"dir", 0, 0, 2, DosDate(2010, 1, 2), DosClock(0, 0, 0), 0xE0});
  // An old comment block, a service header with data (flag 0x8000 + ADD_SIZE) and a recovery subblock between files.
  Bytes comment;
  Put16(comment, 5);
  comment.push_back(29);
  comment.push_back(0x30);
  Put16(comment, 0);
  PutText(comment, "hello");
  Bytes service;
  Put32(service, 3);  // ADD_SIZE (packed size of the service data)
  Put32(service, 3);
  service.push_back(2);
  Put32(service, 0);
  Put32(service, 0);
  service.push_back(29);
  service.push_back(0x30);
  Put16(service, 3);
  Put32(service, 0);
  PutText(service, "CMT");
  Bytes archive = Concat({kRarMarkerBlock, RarMain(), RarFileBlock(files[0]), RarBlock(0x75, 0, comment),
                          RarFileBlock(files[1]), RarBlock(0x7A, 0x8000, service), Bytes{'a', 'b', 'c'}});
  for (std::size_t i = 2; i < files.size(); ++i) archive = Concat({archive, RarFileBlock(files[i])});
  // After the end block nothing more is read, even a valid-looking file header.
  archive = Concat({archive, RarEnd(), RarFileBlock({"after-end", 1, 1})});

  const ArchiveListing l = List(archive, u"X.RAR");
  ASSERT_EQ(l.entries.size(), files.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i].name);
    const ArchiveEntry& e = l.entries[i];
    ExpectEntry(e, files[i].name, files[i].unpacked, files[i].packed);
    EXPECT_EQ(e.time, ArchiveTime::Dos(files[i].date, files[i].time));
    EXPECT_EQ(e.ratio, RatioStyle::Real);
  }
  EXPECT_EQ(FormatArchiveTime(l.entries[0].time), u"03/15/2011, 02:30:PM");
  EXPECT_EQ(ArchiveTypeText(l.entries.back()), u"Folder");
  EXPECT_EQ(l.totalSize, 40u + 41 + 42 + 43 + 44 + 45);
}

TEST(RarListing, ArchiveHeaderWithExtraDataStillLists) {
  // The archive header carries an old-style comment, so the first file header is not at byte 20.
  const Bytes archive = Concat({kRarMarkerBlock, RarMain({5, 0, 29, 0x30, 0, 0, 'n', 'o', 't', 'e', '!'}),
                                RarFileBlock({"a.txt", 3, 9, 3, DosDate(2020, 2, 29), DosClock(23, 59, 58)}), RarEnd()});
  const ArchiveListing l = List(archive, u"x.rar");
  ASSERT_EQ(l.entries.size(), 1u);
  EXPECT_EQ(l.entries[0].name, u"a.txt");
  EXPECT_EQ(l.entries[0].unpacked, 9u);
  EXPECT_EQ(FormatArchiveTime(l.entries[0].time), u"02/29/2020, 11:59:PM");
}

TEST(RarListing, HighSizesAndNames) {
  // 64-bit sizes: the HIGH fields come before the name, which moves to byte 40.
  const std::uint64_t big = (std::uint64_t{3} << 32) + 1000;
  RarFile large{"large.bin", 16, big};
  // Unicode-flagged names: 8-bit name, NUL, then the packed Unicode form:
  // high byte 0x04, opcodes 00 01 00 -> 'a', 0x0431, 'c'.
  RarFile packedName{std::string("abc\0\x04\x10" "a\x31" "c", 9), 1, 2, 2, 0, 0, 0x200};
  // A run opcode (3) copies "readme.txt" from the 8-bit name.
  RarFile runName{std::string("readme.txt\0\x00\xC0\x08", 14), 1, 2, 2, 0, 0, 0x200};
  // Unicode flag without a NUL: the whole name is UTF-8.
  RarFile utf8Name{"\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.txt", 1, 2, 2, 0, 0, 0x200};
  RarFile last{"last", 0xFFFFFFFFull << 8, 5, 2};  // its data would lie far past the end: listed, then the walk ends
  const Bytes archive = Concat({kRarMarkerBlock, RarMain(), RarFileBlock(large), RarFileBlock(packedName),
                                RarFileBlock(runName), RarFileBlock(utf8Name), RarFileBlock(last, false)});
  const ArchiveListing l = List(archive, u"x.rar");
  ASSERT_EQ(l.entries.size(), 5u);
  ExpectEntry(l.entries[0], "large.bin", big, 16);
  EXPECT_EQ(l.entries[1].name, u"a\u0431c");
  EXPECT_EQ(l.entries[2].name, u"readme.txt");
  EXPECT_EQ(l.entries[3].name, u"\u0444\u0430\u0439\u043B.txt");
  EXPECT_EQ(l.entries[4].packed, 0xFFFFFFFFull << 8);
  EXPECT_EQ(l.totalSize, SumUnpacked(l));
}

TEST(RarListing, WalksThatCannotAdvanceOrTrustEnd) {
  const RarFile good{"good", 2, 4, 2};
  // A file header whose size is 0 or below the fixed 32 bytes would never move the walk on.
  for (std::int32_t size : {0, 7, 31}) {
    RarFile bad{"bad", 0, 0, 2};
    bad.sizeOverride = size;
    const ArchiveListing l = List(Concat({kRarMarkerBlock, RarMain(), RarFileBlock(good), RarFileBlock(bad),
                                          RarFileBlock(good)}),
                                  u"x.rar");
    ASSERT_EQ(l.entries.size(), 1u) << size;
    EXPECT_EQ(l.entries[0].name, u"good");
  }
  // The technote's other authenticity block (SIGN_HEAD, 0x79) is stepped
  // over like the first (AV_HEAD, 0x76).
  for (std::uint8_t type : {0x76, 0x79}) {
    const ArchiveListing l = List(Concat({kRarMarkerBlock, RarMain(), RarFileBlock(good),
                                          RarBlock(type, 0, {1, 2, 3, 4, 5, 6, 7, 8}), RarFileBlock(good)}),
                                  u"x.rar");
    EXPECT_EQ(l.entries.size(), 2u) << int{type};
  }
  // A skipped block with a zero size, an unknown block type: the walk ends there.
  EXPECT_EQ(List(Concat({kRarMarkerBlock, RarMain(), RarFileBlock(good), RarBlock(0x75, 0, {}, 0), RarFileBlock(good)}),
                 u"x.rar").entries.size(),
            1u);
  EXPECT_EQ(List(Concat({kRarMarkerBlock, RarMain(), RarBlock(0x50, 0, {1, 2, 3}), RarFileBlock(good)}), u"x.rar")
                .entries.size(),
            0u);
  // A truncated last header: the byte-by-byte retry runs out at the file end.
  Bytes cut = Concat({kRarMarkerBlock, RarMain(), RarFileBlock(good), RarFileBlock(good)});
  cut.resize(cut.size() - 12);
  EXPECT_EQ(List(cut, u"x.rar").entries.size(), 1u);
  // Not RAR 1.5-4.x: no marker, or the RAR 5 marker.
  Bytes rar5 = Concat({Bytes{0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00}, RarMain(), RarFileBlock(good)});
  EXPECT_TRUE(List(rar5, u"x.rar").entries.empty());
  Bytes noMarker = Concat({RarMain(), RarMain(), RarFileBlock(good)});
  EXPECT_TRUE(List(noMarker, u"x.rar").entries.empty());
}

// ---------------------------------------------------------------- ARJ ----

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen((command + " 2>&1").c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

Bytes ReadFileBytes(const std::filesystem::path& p) {
  const std::string s = test::ReadWholeFile(p);
  return Bytes(s.begin(), s.end());
}

void SetMtime(const std::filesystem::path& p, std::time_t t) {
  struct timeval tv[2] = {{t, 0}, {t, 0}};
  ASSERT_EQ(::utimes(p.c_str(), tv), 0) << p;
}

// A folder of members every test archive holds; mtimes are even seconds
// (MS-DOS times keep two-second steps).
constexpr std::time_t kStamp = 1623752430;  // 2021-06-15 10:20:30 UTC

void MakeMembers(const std::filesystem::path& root) {
  std::filesystem::create_directories(root / "sub" / "deeper");
  test::WriteWholeFile(root / "a.txt", "hello\n");
  std::string big;
  for (int i = 0; i < 3000; ++i) big += "line " + std::to_string(i % 17) + "\n";
  test::WriteWholeFile(root / "big.txt", big);
  test::WriteWholeFile(root / "empty.bin", "");
  test::WriteWholeFile(root / "sub" / "inner.dat", std::string(700, 'q'));
  test::WriteWholeFile(root / "sub" / "deeper" / "x", "xy");
  test::WriteWholeFile(root / "\xC3\xBCn\xC3\xAF.txt", std::string(300, 'z'));
  std::time_t t = kStamp;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) SetMtime(e.path(), t += 2);
  SetMtime(root / "sub" / "deeper", kStamp);
  SetMtime(root / "sub", kStamp);
}

std::string GmText(std::time_t t, const char* format) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[64];
  std::strftime(buf, sizeof buf, format, &tm);
  return buf;
}

// The entry's time as seconds since 1970 (local time is UTC in these tests).
std::time_t Seconds(const ArchiveTime& t) {
  if (t.kind == ArchiveTime::Kind::Unix) return t.value;
  std::tm tm{};
  const std::uint32_t date = t.value >> 16, clock = t.value & 0xFFFF;
  tm.tm_year = static_cast<int>(date >> 9) + 80;
  tm.tm_mon = static_cast<int>((date >> 5) & 15) - 1;
  tm.tm_mday = static_cast<int>(date & 31);
  tm.tm_hour = static_cast<int>(clock >> 11);
  tm.tm_min = static_cast<int>((clock >> 5) & 63);
  tm.tm_sec = static_cast<int>(clock & 31) * 2;
  return timegm(&tm);
}

struct ToolRow {
  std::string name;
  std::uint64_t unpacked = 0;
  std::uint64_t packed = 0;
  std::string stamp;
  bool folder = false;
};

// `arj v`: "NNN) path" then "rev host original compressed ratio yy-mm-dd hh:mm:ss attributes ...".
std::vector<ToolRow> ParseArjVerbose(const std::string& text) {
  std::vector<ToolRow> rows;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 6 || line[3] != ')' || line[4] != ' ' || !std::isdigit(static_cast<unsigned char>(line[0])))
      continue;
    ToolRow row;
    row.name = line.substr(5);
    std::string details;
    if (!std::getline(in, details)) break;
    std::istringstream d(details);
    std::string rev, host, ratio, day, clock, attributes;
    d >> rev >> host >> row.unpacked >> row.packed >> ratio >> day >> clock >> attributes;
    row.stamp = day + " " + clock;
    row.folder = !attributes.empty() && attributes[0] == 'd';
    rows.push_back(row);
  }
  return rows;
}

// The listing holds what the tool listed, in its order, with the stamps the
// members were given (MakeMembers: 6 files and 2 folders).
void ExpectToolListing(const ArchiveListing& l, const std::vector<ToolRow>& rows, const char* stampFormat) {
  ASSERT_EQ(rows.size(), 8u);
  ASSERT_EQ(l.entries.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].name);
    const ArchiveEntry& e = l.entries[i];
    ExpectEntry(e, rows[i].name, rows[i].unpacked, rows[i].packed);
    EXPECT_EQ(GmText(Seconds(e.time), stampFormat), rows[i].stamp);
    EXPECT_GE(Seconds(e.time), kStamp);
    EXPECT_LE(Seconds(e.time), kStamp + 40);
  }
  EXPECT_EQ(l.totalSize, SumUnpacked(l));
}

bool HaveTool(const char* name) { return Shell(std::string("command -v ") + name).find(name) != std::string::npos; }

TEST(ArjListing, MatchesArjToolListing) {
  if (!HaveTool("arj")) GTEST_SKIP() << "arj is not installed (scripts/setup-deps)";
  UtcZone utc;
  test::TempDir dir;
  MakeMembers(dir / "m");
  for (const std::string method : {"-m1", "-m0"}) {
    SCOPED_TRACE(method);
    const auto archive = dir / ("t" + method + ".arj");
    Shell("cd '" + (dir / "m").string() + "' && arj a '" + archive.string() + "' -r -a1 " + method + " '*'");
    const auto rows = ParseArjVerbose(Shell("arj v '" + archive.string() + "'"));
    const ArchiveListing l = List(ReadFileBytes(archive), u"t.arj");
    ExpectToolListing(l, rows, "%y-%m-%d %H:%M:%S");
    for (std::size_t i = 0; i < rows.size() && i < l.entries.size(); ++i) {
      if (rows[i].folder) {
        EXPECT_EQ(ArchiveTypeText(l.entries[i]), u"Folder") << rows[i].name;
      }
    }
  }
}

// ARJ local header as published: id 60 EA, basic header size, basic header
// (first-header size, versions, host OS, flags, method, file type, reserved,
// date-time, sizes, CRC, ... then name and comment), CRC-32 of the basic
// header, extended headers (size, bytes, CRC) ended by a zero size.
Bytes ArjHeader(std::uint8_t firstSize, std::uint8_t host, std::uint8_t fileType, std::uint32_t stamp,
                std::uint32_t packed, std::uint32_t unpacked, std::string_view name, std::string_view comment,
                const std::vector<Bytes>& extended = {}) {
  Bytes basic = {firstSize, 11, 1, host, 0, 0, fileType, 0};
  Put32(basic, stamp);
  Put32(basic, packed);
  Put32(basic, unpacked);
  Put32(basic, 0);  // file CRC
  Put16(basic, 0);  // filespec position
  Put16(basic, 0x20);  // access mode
  basic.resize(firstSize, 0);
  PutText(basic, name);
  basic.push_back(0);
  PutText(basic, comment);
  basic.push_back(0);
  Bytes out = {0x60, 0xEA};
  Put16(out, static_cast<std::uint32_t>(basic.size()));
  out.insert(out.end(), basic.begin(), basic.end());
  Put32(out, Crc32(basic.data(), basic.size()));
  for (const Bytes& ext : extended) {
    Put16(out, static_cast<std::uint32_t>(ext.size()));
    out.insert(out.end(), ext.begin(), ext.end());
    Put32(out, Crc32(ext.data(), ext.size()));
  }
  Put16(out, 0);
  out.insert(out.end(), packed, 0x5A);
  return out;
}

TEST(ArjListing, DosHostsShortFirstHeadersAndExtendedHeaders) {
  UtcZone utc;
  const std::uint32_t dos = (std::uint32_t{DosDate(1999, 12, 31)} << 16) | DosClock(23, 58, 30);
  const Bytes main = ArjHeader(34, 0, 2, dos, 0, 0, "t.arj", "", {Bytes{1, 2, 3}});
  const Bytes end = {0x60, 0xEA, 0, 0};
  const Bytes archive = Concat({main, ArjHeader(30, 0, 0, dos, 5, 11, "DIR\\A.TXT", "a comment", {Bytes(9, 7)}),
                                ArjHeader(46, 11, 3, dos, 0, 0, "DIR", ""), end, ArjHeader(46, 0, 0, dos, 1, 1, "x", "")});
  const ArchiveListing l = List(archive, u"T.ARJ");
  ASSERT_EQ(l.entries.size(), 2u);
  ExpectEntry(l.entries[0], "DIR\\A.TXT", 11, 5);
  EXPECT_EQ(l.entries[0].time, ArchiveTime::Dos(DosDate(1999, 12, 31), DosClock(23, 58, 30)));
  EXPECT_EQ(FormatArchiveTime(l.entries[0].time), u"12/31/1999, 11:58:PM");
  ExpectEntry(l.entries[1], "DIR", 0, 0);

  // Headers that cannot be trusted end the walk, keeping what came before.
  const Bytes good = ArjHeader(46, 0, 0, dos, 1, 1, "good", "");
  Bytes badId = ArjHeader(46, 0, 0, dos, 1, 1, "bad", "");
  badId[1] = 0xEB;
  Bytes oversized = ArjHeader(46, 0, 0, dos, 1, 1, "bad", "");
  oversized[2] = 0x29;  // 2601
  oversized[3] = 0x0A;
  oversized.resize(3000, 0);
  for (const Bytes& bad : {badId, oversized, ArjHeader(29, 0, 0, dos, 1, 1, "bad", "")}) {
    const ArchiveListing b = List(Concat({main, good, bad, good}), u"t.arj");
    ASSERT_EQ(b.entries.size(), 1u);
    EXPECT_EQ(b.entries[0].name, u"good");
  }
}

// ---------------------------------------------------------------- LZH ----

// `lha v`: "[os] packed size ratio method crc Mon dd year name".
std::vector<ToolRow> ParseLhaVerbose(const std::string& text) {
  std::vector<ToolRow> rows;
  std::istringstream in(text);
  std::string line;
  int rules = 0;
  while (std::getline(in, line)) {
    if (line.rfind("----------", 0) == 0) {
      ++rules;
      continue;
    }
    if (rules != 1) continue;
    std::istringstream d(line);
    std::vector<std::string> tokens;
    for (std::string t; d >> t;) tokens.push_back(t);
    std::size_t m = 0;
    while (m < tokens.size() && !(tokens[m].size() == 5 && tokens[m][0] == '-' && tokens[m][4] == '-')) ++m;
    if (m < 3 || m + 5 >= tokens.size()) continue;
    ToolRow row;
    row.packed = std::stoull(tokens[m - 3]);
    row.unpacked = std::stoull(tokens[m - 2]);
    row.stamp = tokens[m + 2] + " " + tokens[m + 3] + " " + tokens[m + 4];
    row.name = tokens.back();
    rows.push_back(row);
  }
  return rows;
}

TEST(LzhListing, MatchesLhaToolListingAtEveryHeaderLevel) {
  if (!HaveTool("lha")) GTEST_SKIP() << "lha is not installed (scripts/setup-deps)";
  UtcZone utc;
  test::TempDir dir;
  MakeMembers(dir / "m");
  // Header levels 0, 1, 2 and the methods -lh0- (z), -lh5- (default), -lh6-, -lh7-.
  for (const std::string options : {"c0", "c1", "c2", "c", "cz", "co6", "c1o7"}) {
    SCOPED_TRACE(options);
    const auto archive = dir / ("t-" + options + ".lzh");
    Shell("cd '" + (dir / "m").string() + "' && LC_ALL=C.UTF-8 lha " + options + " '" + archive.string() +
        "' a.txt big.txt empty.bin sub '\xC3\xBCn\xC3\xAF.txt'");
    const Bytes bytes = ReadFileBytes(archive);
    ASSERT_GT(bytes.size(), 21u);
    const int level = bytes[20];
    const auto rows = ParseLhaVerbose(Shell("LC_ALL=C.UTF-8 lha v '" + archive.string() + "'"));
    const ArchiveListing l = List(bytes, u"t.lzh");
    ExpectToolListing(l, rows, "%b %d %Y");
    // Levels 0 and 1 keep MS-DOS local times, level 2 Unix seconds.
    for (const auto& e : l.entries)
      EXPECT_EQ(e.time.kind, level == 2 ? ArchiveTime::Kind::Unix : ArchiveTime::Kind::Dos);
  }
}

// Level-0 header as published: size, checksum, method, packed, original,
// MS-DOS time, attribute, level, name length, name, CRC-16.
Bytes LzhLevel0(std::string_view method, std::uint32_t packed, std::uint32_t unpacked, std::uint32_t stamp,
                std::string_view name) {
  Bytes h = {0, 0};
  PutText(h, method);
  Put32(h, packed);
  Put32(h, unpacked);
  Put32(h, stamp);
  h.push_back(0x20);
  h.push_back(0);
  h.push_back(static_cast<std::uint8_t>(name.size()));
  PutText(h, name);
  Put16(h, 0);
  h[0] = static_cast<std::uint8_t>(h.size() - 2);
  std::uint8_t sum = 0;
  for (std::size_t i = 2; i < h.size(); ++i) sum = static_cast<std::uint8_t>(sum + h[i]);
  h[1] = sum;
  h.insert(h.end(), packed, 0x11);
  return h;
}

TEST(LzhListing, OtherMethodsAndWhereTheWalkEnds) {
  UtcZone utc;
  const std::uint32_t stamp = (std::uint32_t{DosDate(1995, 7, 4)} << 16) | DosClock(9, 5, 0);
  const Bytes archive = Concat({LzhLevel0("-lzs-", 3, 7, stamp, "OLD\\LARC.TXT"), LzhLevel0("-lz5-", 2, 9, stamp, "B"),
                                LzhLevel0("-lz4-", 4, 4, stamp, "C"), LzhLevel0("-lhd-", 0, 0, stamp, "DIR\\"),
                                Bytes{0}, LzhLevel0("-lh5-", 1, 1, stamp, "AFTER")});
  const ArchiveListing l = List(archive, u"t.LZH");
  ASSERT_EQ(l.entries.size(), 4u);
  ExpectEntry(l.entries[0], "OLD/LARC.TXT", 7, 3);
  EXPECT_EQ(l.entries[0].time, ArchiveTime::Dos(DosDate(1995, 7, 4), DosClock(9, 5, 0)));
  ExpectEntry(l.entries[3], "DIR/", 0, 0);

  // An unknown method, an unknown header level or a header too short for its name ends the walk.
  Bytes level3 = LzhLevel0("-lh5-", 1, 1, stamp, "L3");
  level3[20] = 3;
  Bytes shortHeader = LzhLevel0("-lh5-", 1, 1, stamp, "SHORT");
  shortHeader[0] = 10;
  for (const Bytes& bad : {LzhLevel0("-lh9-", 1, 1, stamp, "X"), LzhLevel0("-pm2-", 1, 1, stamp, "X"), level3,
                           shortHeader}) {
    const ArchiveListing b = List(Concat({LzhLevel0("-lh0-", 1, 1, stamp, "ok"), bad, LzhLevel0("-lh0-", 1, 1, stamp, "ok")}),
                                  u"t.lzh");
    ASSERT_EQ(b.entries.size(), 1u);
    EXPECT_EQ(b.entries[0].name, u"ok");
  }
}

// ---------------------------------------------------------------- ALZ ----
// Local file header as published: "BLZ\1", u16 name length, attribute,
// u32 MS-DOS time, descriptor (bits 4-7 size width, bit 0 encrypted),
// unknown; with a width: method, unknown, u32 CRC-32, compressed and
// original size of that width; then the name and the data.

Bytes AlzEntry(std::uint8_t descriptor, std::uint64_t packed, std::uint64_t unpacked, std::uint32_t stamp,
               std::string_view name, bool withData = true) {
  Bytes h = {'B', 'L', 'Z', 1};
  Put16(h, static_cast<std::uint32_t>(name.size()));
  h.push_back(descriptor == 0 ? 0x10 : 0x20);
  Put32(h, stamp);
  h.push_back(descriptor);
  h.push_back(0);
  const int width = descriptor >> 4;
  if (width) {
    h.push_back(2);  // deflate
    h.push_back(0);
    Put32(h, 0xCAFEF00D);
    for (std::uint64_t v : {packed, unpacked})
      for (int i = 0; i < width; ++i) h.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  PutText(h, name);
  if (descriptor & 1) h.insert(h.end(), 12, 0xEE);  // encryption header
  if (withData) h.insert(h.end(), static_cast<std::size_t>(packed), 0x77);
  return h;
}

const Bytes kAlzHead = {'A', 'L', 'Z', 1, 10, 0, 0, 0};
const Bytes kAlzTail = {'C', 'L', 'Z', 1, 0, 0, 0, 0, 'C', 'L', 'Z', 2, 0, 0, 0, 0};

TEST(AlzListing, SizeWidthsFoldersAndDosTimes) {
  UtcZone utc;
  const std::uint32_t stamp = (std::uint32_t{DosDate(2008, 10, 9)} << 16) | DosClock(16, 45, 20);
  const Bytes archive = Concat({kAlzHead, AlzEntry(0x10, 30, 200, stamp, "small.txt"),
                                AlzEntry(0x00, 0, 0, stamp, "folder\\"), AlzEntry(0x20, 700, 650, stamp, "mid.bin"),
                                AlzEntry(0x40, 70000, 0x12345678, stamp, "big.dat"), kAlzTail,
                                AlzEntry(0x10, 1, 1, stamp, "after-central")});
  const ArchiveListing l = List(archive, u"T.Alz");
  ASSERT_EQ(l.entries.size(), 4u);
  ExpectEntry(l.entries[0], "small.txt", 200, 30);
  EXPECT_EQ(l.entries[0].ratio, RatioStyle::Whole);
  EXPECT_EQ(ArchiveRatioText(l.entries[0]), u"85.00 %");
  EXPECT_EQ(l.entries[0].time, ArchiveTime::Dos(DosDate(2008, 10, 9), DosClock(16, 45, 20)));
  EXPECT_EQ(FormatArchiveTime(l.entries[0].time), u"10/09/2008, 04:45:PM");
  ExpectEntry(l.entries[1], "folder\\", 0, 0);
  ExpectEntry(l.entries[2], "mid.bin", 650, 700);
  EXPECT_EQ(l.entries[2].ratio, RatioStyle::Real);
  EXPECT_EQ(ArchiveRatioText(l.entries[2]), u"-7.69 %");
  ExpectEntry(l.entries[3], "big.dat", 0x12345678u, 70000);
  EXPECT_EQ(l.totalSize, 200u + 0 + 650 + 0x12345678u);
}

TEST(AlzListing, EncryptedWideOrUnsignedEntriesEndTheWalk) {
  const Bytes first = AlzEntry(0x20, 5, 9, 0, "first");
  Bytes unsignedHeader = AlzEntry(0x10, 1, 1, 0, "x");
  unsignedHeader[0] = 'X';
  for (const Bytes& stop : {AlzEntry(0x21, 5, 9, 0, "secret"), AlzEntry(0x80, 5, 9, 0, "wide"), unsignedHeader}) {
    const ArchiveListing l = List(Concat({kAlzHead, first, stop, first, kAlzTail}), u"t.alz");
    ASSERT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(l.entries[0].name, u"first");
  }
  // A size field pointing past the end: the entry is listed, the walk then ends.
  Bytes truncated = Concat({kAlzHead, AlzEntry(0x40, 0xFFFFFFFF, 9, 0, "", false)});
  truncated.resize(kAlzHead.size() + 27);
  EXPECT_EQ(List(truncated, u"t.alz").entries.size(), 1u);
}

}  // namespace
}  // namespace corvan
