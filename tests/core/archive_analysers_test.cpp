// Archives and Office documents are sized to the byte their format says they
// end at, wherever they lie on the disk; damaged structures end the walks
// without reading out of bounds, looping or reading huge blocks.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "core/CarveWalks.h"
#include "core/FileAnalysers.h"
#include "support/CarveTestDisk.h"
#include "platform/ByteCodec.h"

namespace corvan {

[[maybe_unused]] static void PrintTo(OfficeKind k, std::ostream* os) { *os << "kind " << static_cast<int>(k); }
[[maybe_unused]] static void PrintTo(OfficeValidity v, std::ostream* os) { *os << "validity " << static_cast<int>(v); }

namespace {

using test::Bytes;
using test::DiskWith;
using test::MemoryReader;
namespace fs = std::filesystem;
template <class A, class B>
using Pairs = std::initializer_list<std::pair<A, B>>;

Bytes ReadFile(const fs::path& f) {
  std::ifstream in(f, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
void WriteFile(const fs::path& f, const Bytes& b) {
  std::ofstream(f, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}
bool Have(const std::string& tool) { return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0; }
std::string Output(const std::string& cmd) {
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    if (::pclose(p) != 0) out.clear();
  }
  return out;
}
fs::path TempDir(const std::string& name) {
  auto dir = fs::temp_directory_path() / ("corvan-" + name + "-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  return dir;
}

// Offsets in a ZIP archive: its end record, the first and second central headers.
std::size_t EndRecord(const Bytes& zip) {
  for (std::size_t i = zip.size() - 22;; --i)
    if (std::memcmp(zip.data() + i, "PK\5\6", 4) == 0) return i;
}
std::size_t CentralStart(const Bytes& zip) { return GetLE32(zip.data() + EndRecord(zip) + 16); }
std::size_t SecondCentral(const Bytes& zip) {
  const std::uint8_t* c = zip.data() + CentralStart(zip);
  return CentralStart(zip) + 46 + GetLE16(c + 28) + GetLE16(c + 30) + GetLE16(c + 32);
}

// ------------------------------------------------------------------ ZIP --

class ArchiveZipTools : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = TempDir("zip");
    if (!Have("zip")) return;
    const std::string d = "cd '" + dir_.string() + "' && ";
    const std::string deep = "long/" + std::string(200, 'a') + "/" + std::string(200, 'b') + "/" +
                             std::string(200, 'c') + "/" + std::string(200, 'd') + "/" + std::string(200, 'e') + "/" +
                             std::string(200, 'f');
    // Stored, deflated, with file and archive comments, with names longer
    // than a sector, written to a pipe (sizes in data descriptors), and one
    // holding a "word/" part.
    std::system((d + "seq 1 2000 > a.txt && head -c 3000 /dev/urandom > r.bin && "
                     "zip -q -X -0 stored.zip a.txt r.bin && zip -q -X defl.zip a.txt r.bin && "
                     "printf 'note one\\nnote two\\n' | zip -q -X -c noted.zip a.txt r.bin && "
                     "echo 'archive note' | zip -q -z noted.zip && "
                     "mkdir -p " + deep + " && cp a.txt " + deep + " && zip -q -X -r deep.zip long && "
                     "seq 1 50 | zip -q - - | cat > piped.zip && "
                     "mkdir -p word && cp a.txt word/document.xml && zip -q -X -r office.zip r.bin word")
                    .c_str());
    for (const char* n : {"stored.zip", "defl.zip", "noted.zip", "deep.zip", "piped.zip", "office.zip"})
      files_[n] = ReadFile(dir_ / n);
    // Stored, with a padding file sized so that the second central header
    // begins a sector.
    for (std::size_t pad = 1000, round = 0; round < 2; ++round) {
      WriteFile(dir_ / "pad.bin", Bytes(pad, 'p'));
      std::system((d + "rm -f aligned.zip && zip -q -X -0 aligned.zip a.txt pad.bin").c_str());
      files_["aligned.zip"] = ReadFile(dir_ / "aligned.zip");
      pad += (512 - SecondCentral(files_["aligned.zip"]) % 512) % 512;
    }
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }
  void SetUp() override {
    if (!Have("zip")) GTEST_SKIP() << "Info-ZIP zip is not installed";
  }

  static inline fs::path dir_;
  static inline std::map<std::string, Bytes> files_;
};

TEST_F(ArchiveZipTools, ArchivesAreSizedToTheEndOfTheirEndRecord) {
  for (const char* n : {"stored.zip", "defl.zip", "noted.zip", "deep.zip"}) {
    SCOPED_TRACE(n);
    const Bytes& zip = files_[n];
    ASSERT_GT(zip.size(), 3000u);
    MemoryReader disk(DiskWith(zip, 3, 5000));
    AnalysedFile f;
    ASSERT_TRUE(GetZipFileSize(disk, 3, f));
    EXPECT_EQ(f.size, zip.size());
    EXPECT_LE(disk.largestRead, 1024u);
    // No Office document: the Office analysis takes it for another archive.
    OfficeAnalysis o;
    AnalyseOfficeFile(disk, 3, o);
    EXPECT_EQ(o.kind, OfficeKind::OtherZip);
    EXPECT_EQ(o.size, zip.size());
    EXPECT_EQ(o.validity, OfficeValidity::Complete);
  }
  // The comments are there: after each central header and after the end record.
  const Bytes& noted = files_["noted.zip"];
  EXPECT_EQ(GetLE16(noted.data() + CentralStart(noted) + 32), 8u);
  EXPECT_EQ(noted.size(), EndRecord(noted) + 22 + 12);
  // A central header's name runs past the first 1 KiB read of it.
  const Bytes& deep = files_["deep.zip"];
  std::size_t longest = 0;
  for (std::size_t c = CentralStart(deep); c < EndRecord(deep);
       c += 46 + GetLE16(&deep[c + 28]) + GetLE16(&deep[c + 30]))
    longest = std::max<std::size_t>(longest, GetLE16(&deep[c + 28]));
  EXPECT_GT(longest, 1024u);

  // Written to a pipe: the sizes follow each entry's data, in its descriptor.
  const Bytes& piped = files_["piped.zip"];
  ASSERT_EQ(piped[6], 8);
  MemoryReader disk(DiskWith(piped, 1, 2048));
  AnalysedFile f;
  ASSERT_TRUE(GetZipFileSize(disk, 1, f));
  EXPECT_EQ(f.size, piped.size());
  EXPECT_FALSE(f.unknownSize);
  // An archive holding a "word/" part is left to the Office types.
  MemoryReader disk2(DiskWith(files_["office.zip"], 2, 2048));
  EXPECT_FALSE(GetZipFileSize(disk2, 2, f));
}

TEST_F(ArchiveZipTools, ArchivesWithoutTheirCentralDirectoryAreNotRecovered) {
  const Bytes& zip = files_["stored.zip"];
  const std::size_t central = CentralStart(zip);
  ASSERT_EQ(std::memcmp(zip.data() + central, "PK\1\2", 4), 0);
  AnalysedFile f;
  // Local entries, then unrelated data; or the disk ends inside the entries.
  MemoryReader disk(DiskWith(Bytes(zip.begin(), zip.begin() + central), 0, 4096));
  EXPECT_FALSE(GetZipFileSize(disk, 0, f));
  MemoryReader shortDisk(Bytes(zip.begin(), zip.begin() + 2048));
  EXPECT_FALSE(GetZipFileSize(shortDisk, 0, f));
  // A stop asked for before the central directory.
  MemoryReader stopped(DiskWith(zip, 0, 0));
  stopped.abortAfter = 0;
  EXPECT_FALSE(GetZipFileSize(stopped, 0, f));

  // The disk ends inside the central directory: the archive is kept up to
  // the central header that could not be read.
  const Bytes& aligned = files_["aligned.zip"];
  const std::size_t second = SecondCentral(aligned);
  ASSERT_EQ(second % 512, 0u);
  MemoryReader truncated(Bytes(aligned.begin(), aligned.begin() + second));
  ASSERT_TRUE(GetZipFileSize(truncated, 0, f));
  EXPECT_EQ(f.size, second);

  // A local header (as the format defines it) claiming 4 GiB of data.
  Bytes huge(512);
  std::memcpy(huge.data(), "PK\3\4", 4);
  PutLE32(huge.data() + 18, 0xFFFFFFF0u);
  PutLE16(huge.data() + 28, 0xFFFF);
  MemoryReader disk3(DiskWith(huge, 0, 1u << 20));
  EXPECT_FALSE(GetZipFileSize(disk3, 0, f));
  EXPECT_LE(disk3.largestRead, 1024u);
}

// A streamed archive as the format defines one: each entry's local header
// defers its sizes (flag bit 3, sizes 0), its data is followed by a data
// descriptor (CRC, compressed and uncompressed size; with or without the
// signature PK\7\8; 64-bit sizes in a Zip64 archive), then the central
// directory and the end record with its comment.
struct StreamedEntry {
  std::string name;
  Bytes data;
};
Bytes StreamedZip(const std::vector<StreamedEntry>& entries, bool descriptorSignature, bool zip64,
                  const std::string& comment) {
  Bytes z, central;
  auto le = [](Bytes& b, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  for (const StreamedEntry& e : entries) {
    const std::uint64_t offset = z.size();
    le(z, 0x04034B50, 4);
    le(z, zip64 ? 45 : 20, 2);
    le(z, 8, 2);                    // sizes deferred
    le(z, 0, 2);                    // stored
    le(z, 0, 4);                    // time, date
    le(z, 0, 4);                    // CRC, deferred
    le(z, zip64 ? 0xFFFFFFFF : 0, 4);
    le(z, zip64 ? 0xFFFFFFFF : 0, 4);
    le(z, e.name.size(), 2);
    le(z, zip64 ? 20 : 0, 2);
    z.insert(z.end(), e.name.begin(), e.name.end());
    if (zip64) {
      le(z, 1, 2);
      le(z, 16, 2);
      le(z, 0, 8);
      le(z, 0, 8);
    }
    z.insert(z.end(), e.data.begin(), e.data.end());
    if (descriptorSignature) le(z, 0x08074B50, 4);
    le(z, 0x12345678, 4);  // the CRC is not what sizes an entry
    le(z, e.data.size(), zip64 ? 8 : 4);
    le(z, e.data.size(), zip64 ? 8 : 4);
    le(central, 0x02014B50, 4);
    le(central, 20, 2);
    le(central, 20, 2);
    le(central, 8, 2);
    le(central, 0, 2);
    le(central, 0, 4);
    le(central, 0x12345678, 4);
    le(central, e.data.size(), 4);
    le(central, e.data.size(), 4);
    le(central, e.name.size(), 2);
    le(central, 0, 2);
    le(central, 0, 2);
    le(central, 0, 2);
    le(central, 0, 2);
    le(central, 0, 4);
    le(central, offset, 4);
    central.insert(central.end(), e.name.begin(), e.name.end());
  }
  const std::uint64_t centralStart = z.size();
  z.insert(z.end(), central.begin(), central.end());
  le(z, 0x06054B50, 4);
  le(z, 0, 4);
  le(z, entries.size(), 2);
  le(z, entries.size(), 2);
  le(z, central.size(), 4);
  le(z, centralStart, 4);
  le(z, comment.size(), 2);
  z.insert(z.end(), comment.begin(), comment.end());
  return z;
}

TEST(ArchiveZip, StreamedArchivesAreWalkedThroughTheirDescriptorsToTheirEndRecord) {
  // The data holds byte patterns a descriptor search could stop at: a
  // descriptor signature whose size does not match, "PK" alone.
  Bytes tricky(3000, 'z');
  std::memcpy(&tricky[100], "PK\x07\x08\0\0\0\0\x05\0\0\0", 12);
  std::memcpy(&tricky[900], "PK", 2);
  const std::vector<StreamedEntry> entries = {{"a.txt", Bytes(700, 'a')}, {"b/tricky.bin", tricky},
                                              {"empty", {}}, {"c.bin", Bytes(5000, 'c')}};
  for (bool signature : {true, false}) {
    for (bool zip64 : {false, true}) {
      SCOPED_TRACE(std::string(signature ? "with" : "without") + " descriptor signatures" + (zip64 ? ", Zip64" : ""));
      const Bytes zip = StreamedZip(entries, signature, zip64, "the archive's comment");
      MemoryReader disk(DiskWith(zip, 3, 70000));
      AnalysedFile f;
      ASSERT_TRUE(GetZipFileSize(disk, 3, f));
      EXPECT_FALSE(f.unknownSize);
      EXPECT_EQ(f.size, zip.size());
      // The walk reads each entry's bytes about once.
      EXPECT_LE(disk.bytesRead, 4 * zip.size() + 16384);
      // The Office analysis walks the same way.
      OfficeAnalysis o;
      AnalyseOfficeFile(disk, 3, o);
      EXPECT_EQ(o.kind, OfficeKind::OtherZip);
      EXPECT_EQ(o.size, zip.size());
      EXPECT_EQ(o.validity, OfficeValidity::Complete);
    }
  }
  // Written by Python's zipfile to a pipe, with and without Zip64 records.
  if (!Have("python3")) GTEST_SKIP() << "python3 is not installed";
  const fs::path dir = TempDir("streamed");
  for (const char* force : {"False", "True"}) {
    SCOPED_TRACE(std::string("force_zip64=") + force);
    const fs::path out = dir / "py.zip";
    const std::string script =
        std::string("import sys, zipfile, random\n"
                    "r = random.Random(5)\n"
                    "with zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED) as z:\n"
                    "    z.comment = b'streamed'\n"
                    "    for i in range(4):\n"
                    "        with z.open('f%d.bin' % i, 'w', force_zip64=") +
        force +
        ") as f:\n"
        "            f.write(bytes(r.getrandbits(8) for _ in range(20000)) + b'PK\\x03\\x04' * 3)\n";
    WriteFile(dir / "w.py", Bytes(script.begin(), script.end()));
    ASSERT_EQ(std::system(("python3 '" + (dir / "w.py").string() + "' | cat > '" + out.string() + "'").c_str()), 0);
    const Bytes zip = ReadFile(out);
    ASSERT_GT(zip.size(), 80000u);
    ASSERT_EQ(zip[6] & 8, 8);
    MemoryReader disk(DiskWith(zip, 1, 4096));
    AnalysedFile f;
    ASSERT_TRUE(GetZipFileSize(disk, 1, f));
    EXPECT_EQ(f.size, zip.size());
  }
  fs::remove_all(dir);
}

TEST(ArchiveZip, SizesThatWrapRoundEndTheWalk) {
  // A local header whose Zip64 extra field gives a compressed size that
  // leads back to the archive's start, and a Zip64 end record whose size
  // does the same: the walk ends instead of going round for ever.
  Bytes local(30 + 1 + 20, 0);
  PutLE32(&local[0], 0x04034B50);
  PutLE32(&local[18], 0xFFFFFFFFu);
  PutLE32(&local[22], 0xFFFFFFFFu);
  PutLE16(&local[26], 1);
  PutLE16(&local[28], 20);
  local[30] = 'a';
  PutLE16(&local[31], 1);
  PutLE16(&local[33], 16);
  PutLE64(&local[35], 5);
  PutLE64(&local[43], 0 - std::uint64_t{local.size()});
  MemoryReader disk(DiskWith(local, 0, 4096));
  AnalysedFile f;
  EXPECT_FALSE(GetZipFileSize(disk, 0, f));
  Bytes end64 = StreamedZip({{"a", Bytes(10, 'a')}}, true, false, "");
  const std::size_t at = end64.size() - 22;
  Bytes record(12, 0);
  PutLE32(&record[0], 0x06064B50);
  PutLE64(&record[4], 0 - std::uint64_t{at} - 12);
  end64.insert(end64.begin() + static_cast<std::ptrdiff_t>(at), record.begin(), record.end());
  MemoryReader disk2(DiskWith(end64, 0, 4096));
  ASSERT_TRUE(GetZipFileSize(disk2, 0, f));
  EXPECT_EQ(f.size, at);  // kept up to the record it could not pass
}

TEST(ArchiveZip, AStreamedArchiveWhoseDescriptorsCannotBeFoundIsLeftToTheCarvingStep) {
  // The first entry's data runs to the next local header, which begins the
  // archive's third sector.
  const std::vector<StreamedEntry> entries = {{"a.txt", Bytes(1024 - 35 - 16, 'a')}, {"b.bin", Bytes(900, 'b')}};
  Bytes zip = StreamedZip(entries, true, false, "");
  const std::size_t descriptor = 1024 - 16;
  ASSERT_EQ(GetLE32(&zip[descriptor]), 0x08074B50u);
  ASSERT_EQ(GetLE32(&zip[1024]), 0x04034B50u);
  MemoryReader intact(DiskWith(zip, 0, 4096));
  AnalysedFile f;
  ASSERT_TRUE(GetZipFileSize(intact, 0, f));
  EXPECT_EQ(f.size, zip.size());
  // Its descriptor's sizes damaged: no descriptor ends the entry.
  PutLE32(&zip[descriptor + 8], 1);
  MemoryReader disk(DiskWith(zip, 0, 1 << 20));
  f = {};
  ASSERT_TRUE(GetZipFileSize(disk, 0, f));
  EXPECT_TRUE(f.unknownSize);
  // The search ended at that header, not a megabyte of data later.
  EXPECT_LE(disk.bytesRead, 32768u);

  // A local header deferring its sizes in each sector of a megabyte, and no
  // descriptor: each search ends at the next one.
  Bytes headers(1 << 20);
  for (std::size_t s = 0; s < headers.size(); s += 512) {
    const std::string h = test::ZipDeferringSizes();
    std::memcpy(&headers[s], h.data(), h.size());
  }
  MemoryReader every(headers);
  for (std::uint64_t s = 0; s < headers.size() / 512; ++s) {
    AnalysedFile g;
    ASSERT_TRUE(GetZipFileSize(every, s, g));
    EXPECT_TRUE(g.unknownSize);
  }
  EXPECT_LE(every.bytesRead, 32 * headers.size());
}

// ------------------------------------------------------------------ RAR --

std::uint32_t Crc32(const Bytes& b) {
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::uint8_t v : b) {
    c ^= v;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

// A RAR 4.x block: CRC (low 16 bits of the CRC32 of the rest of the header),
// type, flags, header size, the block's own fields; then `data`.
Bytes RarBlock(std::uint8_t type, std::uint16_t flags, const Bytes& fields, const Bytes& data = {}) {
  Bytes b(7 + fields.size() + data.size());
  b[2] = type;
  PutLE16(&b[3], flags);
  PutLE16(&b[5], std::uint16_t(7 + fields.size()));
  std::copy(fields.begin(), fields.end(), b.begin() + 7);
  PutLE16(&b[0], std::uint16_t(Crc32(Bytes(b.begin() + 2, b.begin() + 7 + std::ptrdiff_t(fields.size())))));
  std::copy(data.begin(), data.end(), b.end() - std::ptrdiff_t(data.size()));
  return b;
}

// A file header whose data is stored (method 0x30).
Bytes RarFile(const std::string& name, const Bytes& data, std::uint8_t hostOs) {
  Bytes f(25);
  PutLE32(f.data(), std::uint32_t(data.size()));      // packed size
  PutLE32(f.data() + 4, std::uint32_t(data.size()));  // unpacked size
  f[8] = hostOs;
  PutLE32(f.data() + 9, Crc32(data));
  PutLE32(f.data() + 13, (45u << 25) | (3u << 21) | (14u << 16) | (12u << 11));  // DOS date and time
  f[17] = 20;    // version needed
  f[18] = 0x30;  // stored
  PutLE16(f.data() + 19, std::uint16_t(name.size()));
  PutLE32(f.data() + 21, hostOs == 3 ? 0100644u : 0x20u);
  f.insert(f.end(), name.begin(), name.end());
  return RarBlock(0x74, 0x8000, f, data);
}

struct Rar {
  Bytes bytes = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};  // marker block
  std::size_t endBlock = 0;                                  // where the end block starts
  Bytes table;                                               // "table.bin"

  Rar() {
    Bytes text;
    for (int i = 0; i < 80; ++i) text.insert(text.end(), {'r', 'a', 'r', '\n'});
    for (int i = 0; i < 1500; ++i) table.push_back(std::uint8_t(i * 31));
    for (const Bytes& b : {RarBlock(0x73, 0, Bytes(6, 0)), RarFile("notes.txt", text, 3),
                           RarFile("table.bin", table, 2), RarFile("empty", {}, 3)})
      bytes.insert(bytes.end(), b.begin(), b.end());
    endBlock = bytes.size();
    const Bytes end = RarBlock(0x7B, 0x4000, {});
    bytes.insert(bytes.end(), end.begin(), end.end());
  }
};

TEST(ArchiveRar, SizedToItsEndBlockAndTheCarvedFileStillLists) {
  const Rar rar;
  const Bytes disk = DiskWith(rar.bytes, 2, 3000);
  // The garbage byte where a block keeps its host system must not say
  // Windows, or the walk would take the garbage for a block.
  ASSERT_NE(disk[2 * 512 + rar.endBlock + 15], 2);
  MemoryReader reader(disk);
  AnalysedFile f;
  ASSERT_TRUE(GetRarFileSize(reader, 2, f));
  EXPECT_EQ(f.size, rar.endBlock);
  EXPECT_LE(reader.largestRead, 1024u);

  if (!Have("bsdtar")) GTEST_SKIP() << "bsdtar is not installed";
  const fs::path dir = TempDir("rar");
  WriteFile(dir / "whole.rar", rar.bytes);
  WriteFile(dir / "carved.rar", Bytes(disk.begin() + 2 * 512, disk.begin() + 2 * 512 + f.size));
  for (const char* n : {"whole.rar", "carved.rar"}) {
    EXPECT_EQ(Output("bsdtar -tf '" + (dir / n).string() + "'"), "notes.txt\ntable.bin\nempty\n") << n;
    EXPECT_EQ(Output("bsdtar -xOf '" + (dir / n).string() + "' table.bin"),
              std::string(rar.table.begin(), rar.table.end()));
  }
  fs::remove_all(dir);
}

TEST(ArchiveRar, DamagedBlocksEndTheWalk) {
  AnalysedFile f;
  MemoryReader notRar(Bytes(1024, 'x'));
  EXPECT_FALSE(GetRarFileSize(notRar, 0, f));
  const std::size_t first = 20;  // the first file header
  {
    // A block of length 0 would leave the walk where it is.
    Rar rar;
    std::memset(rar.bytes.data() + first + 5, 0, 6);
    MemoryReader disk(DiskWith(rar.bytes, 0, 1024));
    ASSERT_TRUE(GetRarFileSize(disk, 0, f));
    EXPECT_EQ(f.size, first);
  }
  {
    // 4 GiB of packed data: the walk jumps past the disk and keeps the
    // position, without reading 4 GiB.
    Rar rar;
    PutLE32(rar.bytes.data() + first + 7, 0xFFFFFFFFu);
    MemoryReader disk(DiskWith(rar.bytes, 0, 1024));
    ASSERT_TRUE(GetRarFileSize(disk, 0, f));
    EXPECT_EQ(f.size, first + GetLE16(rar.bytes.data() + first + 5) + 0xFFFFFFFFull);
    EXPECT_LE(disk.largestRead, 1024u);
  }
  MemoryReader stopped(DiskWith(Rar().bytes, 0, 1024));
  stopped.abortAfter = 0;
  EXPECT_FALSE(GetRarFileSize(stopped, 0, f));
}

// ------------------------------------------------------------ Compound --

constexpr std::uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatSect = 0xFFFFFFFD, kDifSect = 0xFFFFFFFC;

// A compound file of 512-byte sectors as the format defines it: the header,
// then sector N at (N + 1) x 512. Built with one FAT sector (0), the
// directory (1) holding the root and `stream`, and the stream's sectors from
// 2 on (a stream outside the mini stream is at least 4096 bytes).
struct Compound {
  Bytes header = Bytes(512, 0);
  std::vector<Bytes> sectors;

  explicit Compound(const std::u16string& stream, std::uint32_t streamSectors = 8) {
    const std::uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(header.data(), sig, 8);
    for (auto [at, v] : Pairs<int, std::uint16_t>{{24, 0x3E}, {26, 3}, {28, 0xFFFE}, {30, 9}, {32, 6}})
      PutLE16(header.data() + at, v);
    for (auto [at, v] : Pairs<int, std::uint32_t>{{44, 1}, {48, 1}, {56, 4096}, {60, kEnd}, {68, kEnd}, {76, 0}})
      Set(at, v);
    for (int i = 1; i < 109; ++i) Set(76 + 4 * i, kFree);
    for (std::uint32_t i = 0; i < 128; ++i) Put(0, i, kFree);
    Put(0, 0, kFatSect);
    Put(0, 1, kEnd);
    for (std::uint32_t i = 0; i < streamSectors; ++i) {
      Put(0, 2 + i, i + 1 == streamSectors ? kEnd : 3 + i);
      Sector(2 + i)[0] = std::uint8_t(i);
    }
    Entry(1, 0, u"Root Entry", 5);
    Put(1, 19, 1);  // the root's child: entry 1
    Entry(1, 1, stream, 2);
    Put(1, 32 + 29, streamSectors > 0 ? 2 : kEnd);
    PutLE64(Sector(1) + 128 + 120, streamSectors * 512u);
  }
  void Set(std::size_t at, std::uint32_t v) { PutLE32(header.data() + at, v); }
  std::uint8_t* Sector(std::size_t n) {
    if (sectors.size() <= n) sectors.resize(n + 1, Bytes(512, 0));
    return sectors[n].data();
  }
  void Put(std::size_t sector, std::size_t index, std::uint32_t v) { PutLE32(Sector(sector) + 4 * index, v); }
  void Entry(std::size_t sector, int index, const std::u16string& name, std::uint8_t type) {
    std::uint8_t* e = Sector(sector) + 128 * index;
    for (std::size_t i = 0; i < name.size(); ++i) PutLE16(e + 2 * i, name[i]);
    PutLE16(e + 64, std::uint16_t((name.size() + 1) * 2));
    e[66] = type;
    e[67] = 1;  // black
    for (int at : {68, 72, 76}) PutLE32(e + at, kFree);
    PutLE32(e + 116, kEnd);
  }
  Bytes File() const {
    Bytes b = header;
    for (const auto& s : sectors) b.insert(b.end(), s.begin(), s.end());
    return b;
  }
};

OfficeAnalysis Analyse(const Bytes& file, std::size_t tail = 4096) {
  MemoryReader disk(DiskWith(file, 4, tail));
  OfficeAnalysis o;
  AnalyseOfficeFile(disk, 4, o);
  EXPECT_LE(disk.largestRead, 512000u);
  return o;
}

TEST(ArchiveCompound, KindsComeFromTheMainStreamsWholeNameAndSizesFromTheFat) {
  for (auto [name, kind] : Pairs<const char16_t*, OfficeKind>{{u"WordDocument", OfficeKind::Word},
                                                               {u"Workbook", OfficeKind::Excel},
                                                               {u"PowerPoint Document", OfficeKind::PowerPoint},
                                                               {u"Quill", OfficeKind::Quill}}) {
    const Bytes doc = Compound(name).File();
    ASSERT_EQ(doc.size(), 11u * 512);
    const OfficeAnalysis o = Analyse(doc);
    EXPECT_EQ(o.kind, kind);
    EXPECT_EQ(o.size, doc.size());
    EXPECT_EQ(o.validity, OfficeValidity::Complete);
  }
  // A prefix of a main stream's name is another stream; the directory must
  // begin with the root; other sector sizes are not sized.
  EXPECT_EQ(Analyse(Compound(u"PowerPoint").File()).kind, OfficeKind::None);
  Compound noRoot(u"WordDocument"), bigSectors(u"WordDocument");
  noRoot.Entry(1, 0, u"Root Entri", 5);
  PutLE16(bigSectors.header.data() + 30, 12);
  EXPECT_EQ(Analyse(noRoot.File()).kind, OfficeKind::None);
  EXPECT_EQ(Analyse(bigSectors.File()).size, 0u);

  // A free sector (2) before the last used one is still part of the file.
  Compound holed(u"Workbook", 9);
  holed.Put(0, 2, kFree);
  holed.Put(1, 32 + 29, 3);  // the stream: sectors 3 to 10
  EXPECT_EQ(Analyse(holed.File()).size, 12u * 512);
  // Every sector one FAT sector can describe is used: the chain reaches
  // sector 127, and the file is 129 sectors.
  const OfficeAnalysis full = Analyse(Compound(u"WordDocument", 126).File(), 0);
  EXPECT_EQ(full.size, 129u * 512);
  EXPECT_EQ(full.validity, OfficeValidity::Complete);
  // A chain naming a sector the FAT cannot describe is damage.
  Compound bad(u"WordDocument");
  bad.Put(0, 3, 128);
  EXPECT_EQ(Analyse(bad.File()).validity, OfficeValidity::Damaged);
}

TEST(ArchiveCompound, TheLookForTheMainStreamEndsWithTheDirectory) {
  // A directory of two sectors, the main stream named in the second; then a
  // header whose FAT claims 2 GiB and whose directory names no program,
  // before a megabyte of zeros and one of other data: the look ends where
  // the directory does.
  Compound two(u"1Table", 8);
  two.header[44] = 2;  // two FAT sectors' reach
  two.Put(0, 1, 2);
  two.Entry(2, 0, u"WordDocument", 2);
  EXPECT_EQ(Analyse(two.File()).kind, OfficeKind::Word);
  for (std::uint8_t fill : {0, 0x41}) {
    SCOPED_TRACE(int{fill});
    Compound claims(u"Data", 0);
    claims.Set(44, 0x8000);
    Bytes file = claims.File();
    file.resize(file.size() + (1 << 20), fill);
    MemoryReader disk(DiskWith(file, 0, 0));
    OfficeAnalysis o;
    AnalyseOfficeFile(disk, 0, o);
    EXPECT_EQ(o.kind, OfficeKind::None);
    EXPECT_LE(disk.bytesRead, 2u * 512000);
  }
}

// A disk whose reads of one sector a pass's bound refuses, the walks of
// the pass shared with the analyses made through it.
class RefusingReader final : public CarveReader {
 public:
  RefusingReader(Bytes bytes, CarveWalks& walks, std::uint64_t refused)
      : disk_(std::move(bytes)), walks_(walks), refusedSector_(refused) {}
  bool Read(std::uint64_t sector, void* buffer, std::size_t n) override {
    if (sector <= refusedSector_ && refusedSector_ < sector + (n + 511) / 512) {
      std::memset(buffer, 0, n);
      refused_ = true;
      return false;
    }
    return disk_.Read(sector, buffer, n);
  }
  bool Aborted() const override { return false; }
  CarveWalks* Walks() override { return &walks_; }
  bool Refused() const override { return refused_; }

 private:
  MemoryReader disk_;
  CarveWalks& walks_;
  std::uint64_t refusedSector_;
  bool refused_ = false;
};

TEST(ArchiveCompound, ADirectoryWalkRefusedItsReadsIsNotRemembered) {
  // A directory of two sectors, the main stream named in the second, which
  // the pass's bound keeps from the first look: that look tells nothing of
  // where the directory ends, and a look of the pass that may read it finds
  // the Word stream.
  Compound two(u"1Table", 8);
  two.header[44] = 2;
  two.Put(0, 1, 2);
  two.Entry(2, 0, u"WordDocument", 2);
  const Bytes disk = DiskWith(two.File(), 4, 4096);
  const std::uint64_t second = 4 + 1 + 2;  // the absolute sector of directory sector 2
  CarveWalks walks;
  RefusingReader refusing(disk, walks, second);
  OfficeAnalysis o;
  AnalyseOfficeFile(refusing, 4, o);
  EXPECT_EQ(o.kind, OfficeKind::None);
  EXPECT_FALSE(walks.directories.EndAt(second).has_value());
  RefusingReader whole(disk, walks, UINT64_MAX);
  OfficeAnalysis again;
  AnalyseOfficeFile(whole, 4, again);
  EXPECT_EQ(again.kind, OfficeKind::Word);
}

TEST(ArchiveCompound, DifatChainsAreFollowedAndTheirLoopsEnd) {
  // 110 FAT sectors: 109 named by the header (sectors 0..108), the last
  // (110) by the DIFAT sector 109; the directory is sector 111.
  Compound c(u"Workbook", 0);
  const Bytes directory = c.sectors[1];
  const std::uint32_t difat = 109, lastFat = 110, dir = 111;
  for (auto [at, v] : Pairs<int, std::uint32_t>{{44, 110}, {48, dir}, {68, difat}, {72, 1}}) c.Set(at, v);
  for (std::uint32_t i = 0; i < 109; ++i) c.Set(76 + 4 * i, i);
  for (std::uint32_t s : {difat, lastFat}) {
    for (std::uint32_t i = 0; i < 128; ++i) c.Put(s, i, kFree);
  }
  for (std::uint32_t s = 1; s < 109; ++s) c.sectors[s] = c.sectors[lastFat];
  c.Put(difat, 0, lastFat);
  c.Put(difat, 127, kEnd);
  for (std::uint32_t s = 0; s < 109; ++s) c.Put(0, s, kFatSect);
  for (std::uint32_t s : {difat, lastFat, dir}) c.Put(0, s, s == difat ? kDifSect : s == dir ? kEnd : kFatSect);
  c.Sector(dir);
  c.sectors[dir] = directory;
  const Bytes doc = c.File();
  ASSERT_EQ(doc.size(), 113u * 512);
  OfficeAnalysis o = Analyse(doc);
  EXPECT_EQ(o.kind, OfficeKind::Excel);
  EXPECT_EQ(o.size, doc.size());
  EXPECT_EQ(o.validity, OfficeValidity::Complete);

  // The header counts 2^32 - 1 DIFAT and FAT sectors, and the (wholly used)
  // DIFAT sector names itself as the next: no size, and no endless walk.
  Compound loop = c;
  for (std::uint32_t i = 0; i < 127; ++i) loop.Put(difat, i, lastFat);
  loop.Put(difat, 127, difat);
  loop.Set(72, kFree);
  loop.Set(44, kFree);
  o = Analyse(loop.File());
  EXPECT_EQ(o.kind, OfficeKind::Excel);
  EXPECT_EQ(o.size, 0u);
  // The chain leaves the document.
  loop.Put(difat, 127, 0x7FFFFFFF);
  EXPECT_EQ(Analyse(loop.File()).size, 0u);

  // A directory with no Office stream, the FAT counted as 2^32 - 1 sectors:
  // the walk ends at the disk's end, each sector there costing at most a
  // window and a one-sector read.
  Compound none(u"Contents");
  none.Set(44, kFree);
  MemoryReader disk(none.File());
  AnalyseOfficeFile(disk, 0, o);
  EXPECT_EQ(o.kind, OfficeKind::None);
  EXPECT_LE(disk.reads, 2 * none.sectors.size() + 3);
}

// ------------------------------------------------------------- Office --

class ArchiveOfficeTools : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = TempDir("office");
    const std::string d = "cd '" + dir_.string() + "' && ";
    std::ofstream(dir_ / "a.txt") << "Recovered text.\nSecond line.\n";
    std::ofstream(dir_ / "t.csv") << "1,2,three\n4,5,six\n";
    // Two slides, in the flat (single XML file) form of a presentation.
    const std::string ns = "urn:oasis:names:tc:opendocument:xmlns:";
    std::string slides;
    for (const char* text : {"One", "Two"})
      slides += std::string("<draw:page><draw:frame><draw:text-box><text:p>") + text +
                "</text:p></draw:text-box></draw:frame></draw:page>";
    std::ofstream(dir_ / "p.fodp") << "<?xml version=\"1.0\"?><office:document xmlns:office=\"" << ns
                                   << "office:1.0\" xmlns:draw=\"" << ns << "drawing:1.0\" xmlns:text=\"" << ns
                                   << "text:1.0\" office:version=\"1.2\" office:mimetype=\""
                                   << "application/vnd.oasis.opendocument.presentation\"><office:body>"
                                   << "<office:presentation>" << slides
                                   << "</office:presentation></office:body></office:document>";
    if (Have("soffice")) {
      // Side by side, each with its own profile.
      std::string cmd = d + "(";
      int n = 0;
      for (const char* job : {"doc a.txt", "xls t.csv", "ppt p.fodp", "docx a.txt", "xlsx t.csv", "pptx p.fodp"})
        cmd += "soffice -env:UserInstallation=file://" + dir_.string() + "/profile" + std::to_string(n++) +
               " --headless --convert-to " + job + " >/dev/null 2>&1 & ";
      std::system((cmd + "wait)").c_str());
      for (const char* f : {"a.doc", "t.xls", "p.ppt", "a.docx", "t.xlsx", "p.pptx"}) files_[f] = ReadFile(dir_ / f);
    }
    if (std::system("/usr/bin/python3 -c 'import docx, openpyxl' >/dev/null 2>&1") == 0) {
      std::system((d + "/usr/bin/python3 -c \"import docx, openpyxl\n"
                       "d = docx.Document()\n"
                       "[d.add_paragraph('Paragraph %d.' % i) for i in range(40)]\n"
                       "d.save('py.docx')\n"
                       "w = openpyxl.Workbook()\n"
                       "[w.active.append([i, 'row %d' % i]) for i in range(200)]\n"
                       "w.save('py.xlsx')\"")
                      .c_str());
      for (const char* f : {"py.docx", "py.xlsx"}) files_[f] = ReadFile(dir_ / f);
    }
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  static inline fs::path dir_;
  static inline std::map<std::string, Bytes> files_;
};

TEST_F(ArchiveOfficeTools, CompoundDocumentsAreSizedFromTheirFat) {
  if (!Have("soffice")) GTEST_SKIP() << "LibreOffice is not installed";
  for (auto [file, kind] : Pairs<const char*, OfficeKind>{
           {"a.doc", OfficeKind::Word}, {"t.xls", OfficeKind::Excel}, {"p.ppt", OfficeKind::PowerPoint}}) {
    SCOPED_TRACE(file);
    const Bytes& doc = files_[file];
    ASSERT_GT(doc.size(), 1024u);
    ASSERT_EQ(doc.size() % 512, 0u);  // compound files are whole sectors
    const OfficeAnalysis o = Analyse(doc, 70000);
    EXPECT_EQ(o.kind, kind);
    EXPECT_EQ(o.size, doc.size());
    EXPECT_EQ(o.validity, OfficeValidity::Complete);
  }
}

TEST_F(ArchiveOfficeTools, ZipBasedDocumentsAreSizedToTheirEndRecord) {
  std::vector<std::pair<const char*, OfficeKind>> cases;
  if (Have("soffice"))
    cases.insert(cases.end(),
                 {{"a.docx", OfficeKind::Word}, {"t.xlsx", OfficeKind::Excel}, {"p.pptx", OfficeKind::PowerPoint}});
  if (!files_["py.docx"].empty())
    cases.insert(cases.end(), {{"py.docx", OfficeKind::Word}, {"py.xlsx", OfficeKind::Excel}});
  if (cases.empty()) GTEST_SKIP() << "neither LibreOffice nor python3-docx/openpyxl is installed";
  for (auto [file, kind] : cases) {
    SCOPED_TRACE(file);
    const Bytes& doc = files_[file];
    ASSERT_GT(doc.size(), 1000u);
    ASSERT_EQ(EndRecord(doc) + 22, doc.size());  // no archive comment
    const OfficeAnalysis o = Analyse(doc, 3000);
    EXPECT_EQ(o.kind, kind);
    EXPECT_EQ(o.size, doc.size());
    EXPECT_EQ(o.validity, OfficeValidity::Complete);

    // The ZIP type leaves them to the Office types, whether their sizes
    // stand in their headers or follow their data.
    MemoryReader disk(DiskWith(doc, 0, 0));
    AnalysedFile f;
    EXPECT_FALSE(GetZipFileSize(disk, 0, f));

    // Cut inside the central directory: plausible; before it: damaged.
    const OfficeAnalysis cut = Analyse(Bytes(doc.begin(), doc.begin() + CentralStart(doc) + 60));
    EXPECT_EQ(cut.validity, OfficeValidity::Plausible);
    EXPECT_EQ(cut.size, SecondCentral(doc));
    EXPECT_EQ(Analyse(Bytes(doc.begin(), doc.begin() + CentralStart(doc))).validity, OfficeValidity::Damaged);
  }
  EXPECT_EQ(Analyse(Bytes(1024, 'q')).kind, OfficeKind::None);
}

}  // namespace
}  // namespace corvan
