// The zip, tar and cabinet listings against the tools that made the
// archives: zip/zipinfo, GNU tar and gcab/cabextract list the same names,
// sizes and dates; plus archives built from the published layouts for the
// damaged and hostile cases.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/ByteCodec.h"
#include "platform/TextConv.h"
#include "preview/ArchiveList.h"
#include "save/SaveTestSupport.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// One row as a reference tool lists it.
struct ToolRow {
  std::string name;
  std::uint64_t unpacked = 0;
  std::uint64_t packed = 0;
  std::string date;  // "YYYY-MM-DD hh:mm:ss"
};

Bytes ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& p, const Bytes& b) {
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::string Shell(const std::string& command) {
  const auto r = test::RunCommand(command);
  EXPECT_EQ(r.status, 0) << command << "\n" << r.output;
  return r.output;
}

ArchiveListing List(const Bytes& bytes, const char16_t* name) {
  MemoryByteSource source(bytes);
  return ListArchiveEntries(source, name);
}

// The date fields of an entry's time, from the MS-DOS layout or as UTC.
std::string DateOf(const ArchiveTime& t) {
  char buf[32];
  if (t.kind == ArchiveTime::Kind::Dos) {
    const unsigned date = t.value >> 16, clock = t.value & 0xFFFF;
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", (date >> 9) + 1980, (date >> 5) & 15, date & 31,
                  clock >> 11, (clock >> 5) & 63, (clock & 31) * 2);
    return buf;
  }
  if (t.kind == ArchiveTime::Kind::Unix) {
    const std::time_t s = t.value;
    std::tm tm{};
    gmtime_r(&s, &tm);
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
  }
  return "none";
}

// Compares the listing with the tool's rows in order; `slash` turns the
// cabinet's backslashes into the tool's slashes.
void ExpectSameRows(const ArchiveListing& listing, const std::vector<ToolRow>& rows, bool slash = false) {
  ASSERT_EQ(listing.entries.size(), rows.size());
  std::uint64_t total = 0;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ArchiveEntry& e = listing.entries[i];
    std::string name = Utf16ToUtf8(e.name);
    if (slash) std::replace(name.begin(), name.end(), '\\', '/');
    EXPECT_EQ(name, rows[i].name) << i;
    EXPECT_EQ(e.unpacked, rows[i].unpacked) << rows[i].name;
    EXPECT_EQ(e.packed, rows[i].packed) << rows[i].name;
    EXPECT_EQ(DateOf(e.time), rows[i].date) << rows[i].name;
    total += rows[i].unpacked;
  }
  EXPECT_EQ(listing.totalSize, total);
}

// `zipinfo -T -l`: mode, version, os, size, kind, packed size, method,
// yyyymmdd.hhmmss, name.
std::vector<ToolRow> ZipinfoRows(const fs::path& zip) {
  std::vector<ToolRow> rows;
  std::istringstream in(Shell("zipinfo -T -l " + test::Quote(zip)));
  for (std::string line; std::getline(in, line);) {
    std::istringstream f(line);
    std::string mode, ver, os, kind, method, when;
    ToolRow r;
    if (!(f >> mode >> ver >> os >> r.unpacked >> kind >> r.packed >> method >> when) || when.size() != 15) continue;
    f.get();
    std::getline(f, r.name);
    r.date = when.substr(0, 4) + "-" + when.substr(4, 2) + "-" + when.substr(6, 2) + " " + when.substr(9, 2) + ":" +
             when.substr(11, 2) + ":" + when.substr(13, 2);
    rows.push_back(r);
  }
  return rows;
}

// `tar --list --verbose --full-time`: mode, owner, size, date, time, name.
std::vector<ToolRow> TarRows(const fs::path& tar) {
  std::vector<ToolRow> rows;
  std::istringstream in(Shell("tar --list --verbose --full-time --quoting-style=literal -f " + test::Quote(tar)));
  for (std::string line; std::getline(in, line);) {
    std::istringstream f(line);
    std::string mode, owner, day, clock;
    ToolRow r;
    if (!(f >> mode >> owner >> r.unpacked >> day >> clock)) continue;
    f.get();
    std::getline(f, r.name);
    r.packed = r.unpacked;
    r.date = day + " " + clock;
    rows.push_back(r);
  }
  return rows;
}

// `bsdtar -tvf` (libarchive): mode, links, owner, group, size, month, day,
// time or year, name; name and size are compared.
std::vector<std::pair<std::string, std::uint64_t>> BsdtarRows(const fs::path& tar) {
  std::vector<std::pair<std::string, std::uint64_t>> rows;
  std::istringstream in(Shell("bsdtar -tvf " + test::Quote(tar)));
  for (std::string line; std::getline(in, line);) {
    std::istringstream f(line);
    std::string mode, links, owner, group, month, day, when, name;
    std::uint64_t size = 0;
    if (!(f >> mode >> links >> owner >> group >> size >> month >> day >> when)) continue;
    f.get();
    std::getline(f, name);
    rows.emplace_back(name, size);
  }
  return rows;
}

// `cabextract -l`: size | dd.mm.yyyy hh:mm:ss | name.
std::vector<ToolRow> CabextractRows(const fs::path& cab) {
  std::vector<ToolRow> rows;
  std::istringstream in(Shell("cabextract -l " + test::Quote(cab)));
  for (std::string line; std::getline(in, line);) {
    unsigned long long size = 0;
    int d = 0, mo = 0, y = 0, h = 0, mi = 0, s = 0, used = 0;
    if (std::sscanf(line.c_str(), " %llu | %d.%d.%d %d:%d:%d | %n", &size, &d, &mo, &y, &h, &mi, &s, &used) != 7 ||
        used == 0)
      continue;
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    rows.push_back({line.substr(static_cast<std::size_t>(used)), size, size, date});
  }
  return rows;
}

class ArchiveTools : public ::testing::Test {
 protected:
  void SetUp() override {
    // The tools and the test read MS-DOS local times alike.
    const char* tz = std::getenv("TZ");
    oldTz_ = tz ? std::optional<std::string>(tz) : std::nullopt;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    for (const char* tool : {"zip", "zipinfo", "tar", "bsdtar", "gcab", "cabextract", "python3"})
      if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  void TearDown() override {
    if (oldTz_) ::setenv("TZ", oldTz_->c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }
  // A tree of folders and files with even-second times (MS-DOS keeps
  // two-second steps).
  void MakeTree(const std::vector<std::pair<std::string, std::size_t>>& files) {
    for (const auto& [name, size] : files) {
      const fs::path p = dir_ / name;
      if (name.back() == '/') {
        fs::create_directories(p);
        continue;
      }
      fs::create_directories(p.parent_path());
      Bytes content(size);
      for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<std::uint8_t>(i % 7 == 0 ? 'a' : i * 31 % 251);
      WriteFile(p, content);
    }
    Shell("cd " + test::Quote(dir_.path()) + " && find . -exec touch -d @1614877568 {} +");
  }

  test::TempDir dir_;
  std::optional<std::string> oldTz_;
};

TEST_F(ArchiveTools, ZipListsAsZipinfoDoes) {
  MakeTree({{"d/sub/", 0},
            {"d/empty", 0},
            {"d/stored.txt", 3},
            {"d/zeros", 5000},
            {"d/caf\xC3\xA9 \xC3\xBC.txt", 40},
            {"d/sub/deep.bin", 1024}});
  Bytes text(5000, 'x');
  WriteFile(dir_ / "d/zeros", text);
  Shell("cd " + test::Quote(dir_.path()) + " && touch -d @1614877568 d/zeros");
  const std::string cd = "cd " + test::Quote(dir_.path()) + " && ";
  // -X leaves out the extra time fields, so zipinfo shows the MS-DOS time.
  Shell(cd + "echo 'an archive comment' | zip -q -X -r -z plain.zip d");
  Shell(cd + "zip -q -X -r -fz z64.zip d");
  Shell(cd + "zip -q -X -0 -r stored.zip d");
  for (const char* name : {"plain.zip", "z64.zip", "stored.zip"}) {
    SCOPED_TRACE(name);
    const auto rows = ZipinfoRows(dir_ / name);
    ASSERT_EQ(rows.size(), 7u);
    const ArchiveListing listing = List(ReadFile(dir_ / name), u"found.ZIP");
    ExpectSameRows(listing, rows);
    for (const ArchiveEntry& e : listing.entries) {
      EXPECT_EQ(e.isFile, e.unpacked != 0 && e.packed != 0);
      EXPECT_EQ(e.ratio, RatioStyle::Real);
    }
  }
  // The deflated member is smaller than its text; the stored ones not.
  const auto rows = ZipinfoRows(dir_ / "plain.zip");
  EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const ToolRow& r) { return r.packed < r.unpacked; }));
}

TEST_F(ArchiveTools, TarListsAsGnuTarDoes) {
  const std::string longDir = "t/" + std::string(70, 'x') + "/" + std::string(60, 'y') + "/";
  MakeTree({{"t/", 0},
            {"t/k1024", 1024},
            {"t/empty", 0},
            {"t/\xC3\xA9t\xC3\xA9 \xC3\xBC.txt", 10},
            {"t/odd", 1537},
            {longDir, 0},
            {longDir + "f.txt", 3}});
  const std::string cd = "cd " + test::Quote(dir_.path()) + " && ";
  Shell(cd + "tar --format=ustar -cf ustar.tar t");
  // A last path part past 100 characters cannot be split into the ustar
  // prefix; GNU and pax archives keep it in their own records.
  MakeTree({{"t/" + std::string(150, 'n') + ".txt", 700}});
  Shell(cd + "tar --format=gnu -cf gnu.tar t");
  Shell(cd + "tar --format=pax -cf pax.tar t");
  Shell(cd + "tar --format=oldgnu -cf oldgnu.tar t");
  for (const char* name : {"ustar.tar", "gnu.tar", "pax.tar", "oldgnu.tar"}) {
    SCOPED_TRACE(name);
    const auto rows = TarRows(dir_ / name);
    ASSERT_GE(rows.size(), 7u);
    const ArchiveListing listing = List(ReadFile(dir_ / name), u"x.tar");
    ExpectSameRows(listing, rows);
    // libarchive's lister reads the same names and sizes.
    const auto bsd = BsdtarRows(dir_ / name);
    ASSERT_EQ(bsd.size(), listing.entries.size());
    for (std::size_t i = 0; i < bsd.size(); ++i) {
      EXPECT_EQ(Utf16ToUtf8(listing.entries[i].name), bsd[i].first);
      EXPECT_EQ(listing.entries[i].unpacked, bsd[i].second) << bsd[i].first;
    }
    for (const ArchiveEntry& e : listing.entries) {
      EXPECT_EQ(e.isFile, e.unpacked != 0);
      EXPECT_EQ(e.ratio, RatioStyle::None);
    }
  }
}

TEST_F(ArchiveTools, TarCutShortKeepsTheMembersBeforeTheCut) {
  MakeTree({{"t/a", 3000}, {"t/b", 1024}, {"t/c", 5000}, {"t/d", 10}});
  Shell("cd " + test::Quote(dir_.path()) + " && tar --format=gnu -cf full.tar t/a t/b t/c t/d");
  const auto rows = TarRows(dir_ / "full.tar");
  ASSERT_EQ(rows.size(), 4u);
  // Member offsets from the tar layout as Python's reader sees it: the cut
  // falls inside the data of the third member.
  const std::string offsets = Shell("python3 -c 'import sys,tarfile; print(\" \".join(str(m.offset_data) for m in "
                                  "tarfile.open(sys.argv[1]).getmembers()))' " +
                                  test::Quote(dir_ / "full.tar"));
  std::istringstream in(offsets);
  std::vector<std::uint64_t> dataAt(std::istream_iterator<std::uint64_t>(in), {});
  ASSERT_EQ(dataAt.size(), 4u);
  // A member of exactly 1024 bytes is followed by the next header 1536
  // bytes after its own.
  EXPECT_EQ(dataAt[2] - dataAt[1], 1536u);
  Bytes bytes = ReadFile(dir_ / "full.tar");
  bytes.resize(static_cast<std::size_t>(dataAt[2] + 100));
  ExpectSameRows(List(bytes, u"x.tar"), {rows[0], rows[1], rows[2]});
  // Cut inside the third header: the first two.
  bytes.resize(static_cast<std::size_t>(dataAt[2] - 100));
  ExpectSameRows(List(bytes, u"x.tar"), {rows[0], rows[1]});
}

TEST_F(ArchiveTools, TarBinarySizeField) {
  // A header too large for octal digits: Python writes its size in base 256.
  const fs::path tar = dir_ / "big.tar";
  Shell("python3 -c 'import sys,tarfile; t=tarfile.TarInfo(\"big.bin\"); t.size=10*2**30; t.mtime=1614877568; "
      "open(sys.argv[1],\"wb\").write(t.tobuf(tarfile.GNU_FORMAT))' " +
      test::Quote(tar));
  const Bytes bytes = ReadFile(tar);
  ASSERT_EQ(bytes.size(), 512u);
  ASSERT_EQ(bytes[124], 0x80);
  const ArchiveListing listing = List(bytes, u"x.tar");
  ASSERT_EQ(listing.entries.size(), 1u);
  EXPECT_EQ(Utf16ToUtf8(listing.entries[0].name), "big.bin");
  EXPECT_EQ(listing.entries[0].unpacked, 10ull << 30);
  EXPECT_EQ(DateOf(listing.entries[0].time), "2021-03-04 17:06:08");

  // A pax archive keeps such a size, and a long path, in its extended
  // header; the header record after it has neither.
  const fs::path pax = dir_ / "big-pax.tar";
  Shell("python3 -c 'import sys,tarfile; t=tarfile.TarInfo(\"p/\"+\"q\"*150); t.size=10*2**30; "
        "open(sys.argv[1],\"wb\").write(t.tobuf(tarfile.PAX_FORMAT))' " +
        test::Quote(pax));
  const Bytes paxBytes = ReadFile(pax);
  ASSERT_EQ(paxBytes[156], 'x');
  const ArchiveListing paxListing = List(paxBytes, u"x.tar");
  ASSERT_EQ(paxListing.entries.size(), 1u);
  EXPECT_EQ(Utf16ToUtf8(paxListing.entries[0].name), "p/" + std::string(150, 'q'));
  EXPECT_EQ(paxListing.entries[0].unpacked, 10ull << 30);
}

TEST_F(ArchiveTools, CabinetListsAsCabextractDoes) {
  MakeTree({{"c/x.txt", 4}, {"c/\xC3\xA9t\xC3\xA9.txt", 9}, {"c/empty", 0}, {"c/big.bin", 70000}, {"c/empty2", 0}});
  const std::string cd = "cd " + test::Quote(dir_.path()) + " && ";
  Shell(cd + "gcab -c plain.cab c/x.txt c/\xC3\xA9t\xC3\xA9.txt c/empty c/big.bin");
  Shell(cd + "gcab -c -z packed.cab c/x.txt c/\xC3\xA9t\xC3\xA9.txt c/empty c/big.bin");
  // Only empty files: the last name ends a few bytes before the file does.
  Shell(cd + "gcab -c empties.cab c/empty c/empty2");
  for (const char* name : {"plain.cab", "packed.cab", "empties.cab"}) {
    SCOPED_TRACE(name);
    const auto rows = CabextractRows(dir_ / name);
    ASSERT_FALSE(rows.empty());
    const ArchiveListing listing = List(ReadFile(dir_ / name), u"x.CAB");
    ExpectSameRows(listing, rows, true);
    for (const ArchiveEntry& e : listing.entries) {
      EXPECT_EQ(e.isFile, e.unpacked != 0);
      EXPECT_EQ(e.ratio, RatioStyle::None);
    }
  }
  // The header's reserved area (signed cabinets carry one) moves the first
  // folder entry; cabextract reads the cabinet with it inserted.
  Bytes cab = ReadFile(dir_ / "plain.cab");
  ASSERT_EQ(GetLE16(&cab[30]) & 7, 0);
  constexpr std::uint32_t kReserve = 20;
  const std::uint16_t folders = GetLE16(&cab[26]);
  // Reserved sizes: header kReserve, folder entries and data blocks none.
  Bytes reserve = {kReserve, 0, 0, 0};
  reserve.resize(4 + kReserve, 0xAB);
  Bytes patched = cab;
  patched.insert(patched.begin() + 36, reserve.begin(), reserve.end());
  auto bump = [&](std::size_t at) {
    const std::uint32_t v = GetLE32(&patched[at]) + 4 + kReserve;
    std::memcpy(&patched[at], &v, 4);
  };
  bump(8);   // cabinet size
  bump(16);  // first file entry
  patched[30] |= 4;
  for (std::uint16_t f = 0; f < folders; ++f) bump(36 + 4 + kReserve + 8 * f);
  WriteFile(dir_ / "reserved.cab", patched);
  const auto rows = CabextractRows(dir_ / "reserved.cab");
  ASSERT_EQ(rows.size(), 4u);
  ExpectSameRows(List(patched, u"x.cab"), rows, true);

  // Cut inside the third file entry: the two before it.
  const auto full = CabextractRows(dir_ / "plain.cab");
  const std::uint32_t files = GetLE32(&cab[16]);
  const std::size_t third = files + 2 * 16 + full[0].name.size() + 1 + std::strlen("c/\xC3\xA9t\xC3\xA9.txt") + 1;
  ASSERT_EQ(GetLE32(&cab[third]), full[2].unpacked);
  cab.resize(third + 18);
  ExpectSameRows(List(cab, u"x.cab"), {full[0], full[1]}, true);
}

// ---------------------------------------------------------------- byte-built

// A central header and its name, extra field and comment (APPNOTE 4.3.12).
void PutU16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void PutU32(Bytes& b, std::uint32_t v) {
  PutU16(b, static_cast<std::uint16_t>(v));
  PutU16(b, static_cast<std::uint16_t>(v >> 16));
}
void PutU64(Bytes& b, std::uint64_t v) {
  PutU32(b, static_cast<std::uint32_t>(v));
  PutU32(b, static_cast<std::uint32_t>(v >> 32));
}
void PutText(Bytes& b, std::string_view s) { b.insert(b.end(), s.begin(), s.end()); }

constexpr std::uint16_t kDate = (41 << 9) | (3 << 5) | 4;   // 2021-03-04
constexpr std::uint16_t kTime = (17 << 11) | (6 << 5) | 4;  // 17:06:08

void PutCentral(Bytes& b, std::string_view name, std::uint32_t packed, std::uint32_t unpacked,
                const Bytes& extra = {}, std::uint16_t flags = 0) {
  PutU32(b, 0x02014B50);
  PutU16(b, 0x031E);  // made by Unix, 3.0
  PutU16(b, 20);
  PutU16(b, flags);
  PutU16(b, 8);
  PutU16(b, kTime);
  PutU16(b, kDate);
  PutU32(b, 0);  // crc
  PutU32(b, packed);
  PutU32(b, unpacked);
  PutU16(b, static_cast<std::uint16_t>(name.size()));
  PutU16(b, static_cast<std::uint16_t>(extra.size()));
  PutU16(b, 0);
  PutU16(b, 0);
  PutU16(b, 0);
  PutU32(b, 0x81A40000);
  PutU32(b, 0);  // local header offset
  PutText(b, name);
  b.insert(b.end(), extra.begin(), extra.end());
}

void PutEnd(Bytes& b, std::uint16_t count, std::uint32_t cdStart, std::string_view comment = {}) {
  const std::uint32_t cdBytes = static_cast<std::uint32_t>(b.size()) - cdStart;
  PutU32(b, 0x06054B50);
  PutU32(b, 0);
  PutU16(b, count);
  PutU16(b, count);
  PutU32(b, cdBytes);
  PutU32(b, cdStart);
  PutU16(b, static_cast<std::uint16_t>(comment.size()));
  PutText(b, comment);
}

// Fails every read that touches [from, to), as a bad sector would.
class DamagedSource : public ByteSource {
 public:
  DamagedSource(const Bytes& b, std::uint64_t from, std::uint64_t to) : mem_(b), from_(from), to_(to) {}
  std::uint64_t Size() const override { return mem_.Size(); }
  bool Read(std::uint64_t offset, std::span<std::uint8_t> out) override {
    ++reads;
    if (offset < to_ && offset + out.size() > from_) {
      std::fill(out.begin(), out.end(), 0);
      return false;
    }
    return mem_.Read(offset, out);
  }
  std::size_t reads = 0;

 private:
  MemoryByteSource mem_;
  std::uint64_t from_, to_;
};

TEST(ArchiveZipBytes, DamagedHeaderIsPassedAndSizesAreCheckedAgainstTheFile) {
  // Three members: the second's header lies in an unreadable stretch that
  // ends where the third's begins.
  Bytes zip(100, 0);  // members' data, not read
  const std::uint32_t cd = 100;
  PutCentral(zip, "one.txt", 10, 20);
  const std::size_t second = zip.size();
  PutCentral(zip, "two.txt", 10, 20);
  const std::size_t third = zip.size();
  PutCentral(zip, "three.txt", 300, 200);  // stored bigger than its text
  PutEnd(zip, 3, cd);
  const test::TempDir dir;
  WriteFile(dir / "bytes.zip", zip);

  DamagedSource damaged(zip, second + 4, third);
  ArchiveListing listing;
  ListZipEntries(damaged, listing);
  ASSERT_EQ(listing.entries.size(), 2u);
  EXPECT_EQ(listing.entries[0].name, u"one.txt");
  EXPECT_EQ(listing.entries[1].name, u"three.txt");
  EXPECT_EQ(listing.totalSize, 220u);
  // (200 - 300) * 100 / 200
  EXPECT_EQ(ArchiveRatioText(listing.entries[1]), u"-50.00 %");

  // The undamaged archive lists all three, as zipinfo does.
  if (test::HaveTool("zipinfo")) {
    const auto r = test::RunCommand("zipinfo -1 " + test::Quote(dir / "bytes.zip"));
    EXPECT_EQ(r.output, "one.txt\ntwo.txt\nthree.txt\n");
  }
  EXPECT_EQ(List(zip, u"a.zip").entries.size(), 3u);

  // A name that runs past the end of the file ends the walk after the
  // members before it.
  Bytes cut(zip.begin(), zip.begin() + static_cast<std::ptrdiff_t>(third));
  PutCentral(cut, "", 1, 1);
  cut[cut.size() - 46 + 28] = 0xFF;  // name length 65535
  cut[cut.size() - 46 + 29] = 0xFF;
  PutEnd(cut, 3, cd);
  const ArchiveListing two = List(cut, u"a.zip");
  ASSERT_EQ(two.entries.size(), 2u);
  EXPECT_EQ(two.entries[1].name, u"two.txt");

  // Damage up to the end: the resync stops at the end of the file, one
  // attempt per byte at most.
  DamagedSource toEnd(zip, second, zip.size() - 22);
  ArchiveListing one;
  ListZipEntries(toEnd, one);
  EXPECT_EQ(one.entries.size(), 1u);
  EXPECT_LE(toEnd.reads, zip.size() + 10);
}

TEST(ArchiveZipBytes, Zip64SizesAndUtf8Flag) {
  // Sizes past 4 GiB live in the zip64 extra field (APPNOTE 4.5.3), in the
  // order uncompressed, compressed; the central fields are all ones.
  Bytes extra;
  PutU16(extra, 1);
  PutU16(extra, 16);
  PutU64(extra, 6ull << 30);
  PutU64(extra, 5ull << 30);
  Bytes zip;
  PutCentral(zip, "huge.bin", 0xFFFFFFFF, 0xFFFFFFFF, extra);
  // Flag bit 11: the name is UTF-8 even where it would read as another
  // code page.
  PutCentral(zip, "\xC3\xA9t\xC3\xA9", 1, 1, {}, 1 << 11);
  // Without the flag, bytes that are not UTF-8 are Windows-1252.
  PutCentral(zip, "caf\xE9", 1, 1);
  const Bytes members = zip;
  PutEnd(zip, 3, 0, "an archive comment");
  const ArchiveListing listing = List(zip, u"a.zip");
  ASSERT_EQ(listing.entries.size(), 3u);
  EXPECT_EQ(listing.entries[0].unpacked, 6ull << 30);
  EXPECT_EQ(listing.entries[0].packed, 5ull << 30);
  EXPECT_EQ(listing.entries[1].name, u"\u00E9t\u00E9");
  EXPECT_EQ(listing.entries[2].name, u"caf\u00E9");
  const test::TempDir dir;
  const fs::path p = dir / "zip64.zip";
  WriteFile(p, zip);
  if (test::HaveTool("zipinfo")) {
    const auto r = test::RunCommand("zipinfo -l " + test::Quote(p));
    EXPECT_NE(r.output.find(std::to_string(6ull << 30)), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(std::to_string(5ull << 30)), std::string::npos) << r.output;
  }

  // A comment holding an end record's signature whose own comment length
  // runs past the file: the real end record before it is the one used.
  Bytes fake = members;
  PutEnd(fake, 3, 0, std::string("PK\x05\x06") + std::string(30, 'z'));
  EXPECT_EQ(List(fake, u"a.zip").entries.size(), 3u);
}

TEST(ArchiveHostileBytes, EveryWalkEnds) {
  // A central directory that starts at the end record: no member.
  Bytes zip;
  PutEnd(zip, 1, 0);
  EXPECT_TRUE(List(zip, u"a.zip").entries.empty());
  // An end record whose directory lies past the file.
  Bytes far;
  PutEnd(far, 1, 0);
  far[16] = 0xF0;
  EXPECT_TRUE(List(far, u"a.zip").entries.empty());

  // Tar: a header whose size field is larger than the file ends the walk
  // after its row; a zero record ends it.
  Bytes tar(2048, 0);
  std::memcpy(tar.data(), "name", 4);
  std::memcpy(&tar[124], "77777777777", 11);
  std::memcpy(&tar[257], "ustar", 6);
  std::memset(&tar[148], ' ', 8);
  unsigned sum = 0;
  for (int i = 0; i < 512; ++i) sum += tar[static_cast<std::size_t>(i)];
  std::snprintf(reinterpret_cast<char*>(&tar[148]), 8, "%06o", sum);
  const ArchiveListing t = List(tar, u"a.tar");
  ASSERT_EQ(t.entries.size(), 1u);
  EXPECT_EQ(t.entries[0].unpacked, 077777777777u);
  // A negative binary size is no size.
  Bytes neg = tar;
  std::memset(&neg[124], 0xFF, 12);
  std::memset(&neg[148], ' ', 8);
  sum = 0;
  for (int i = 0; i < 512; ++i) sum += neg[static_cast<std::size_t>(i)];
  std::snprintf(reinterpret_cast<char*>(&neg[148]), 8, "%06o", sum);
  EXPECT_TRUE(List(neg, u"a.tar").entries.empty());

  // Cabinet: file entries said to start inside the header.
  Bytes cab(64, 0);
  std::memcpy(cab.data(), "MSCF", 4);
  cab[16] = 4;
  cab[36] = 64;
  EXPECT_TRUE(List(cab, u"a.cab").entries.empty());
  // A name without its NUL before the file ends.
  Bytes noNul(36 + 8 + 16 + 5, 'n');
  std::memset(noNul.data(), 0, 44);
  std::memcpy(noNul.data(), "MSCF", 4);
  noNul[16] = 44;
  noNul[36] = static_cast<std::uint8_t>(noNul.size());
  EXPECT_TRUE(List(noNul, u"a.cab").entries.empty());
  noNul.back() = 0;
  EXPECT_EQ(List(noNul, u"a.cab").entries.size(), 1u);
}

}  // namespace
}  // namespace corvan
