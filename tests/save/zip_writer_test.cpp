// The zip writer against the format's definition (PKWARE application note)
// and against four readers that know nothing of it: unzip, 7z, bsdtar and
// Python's zipfile (through tests/tools/check-zips).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "save/SaveTestSupport.h"
#include "save/zip/ZipUnzip.h"

namespace corvan {
namespace {

using test::CommandResult;

std::uint32_t Le32At(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(b[at + i]);
  return v;
}
std::uint16_t Le16At(const std::string& b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[at]) | (static_cast<std::uint8_t>(b[at + 1]) << 8));
}

int NewFile(const std::filesystem::path& p) { return ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); }

const std::string kUnicodeName = "Mus\xC3\xA9" "e/\xE2\x98\x85 report.txt";

// archive-relative entry name -> {size, md5} as Python's zipfile reads it.
struct EntrySeen {
  std::uint64_t size = 0;
  std::string md5;
};
std::multimap<std::string, EntrySeen> ReadBack(const std::vector<std::filesystem::path>& archives, bool md5,
                                               CommandResult* out = nullptr) {
  const CommandResult r = test::CheckZips(archives, md5);
  if (out) *out = r;
  std::multimap<std::string, EntrySeen> seen;
  std::istringstream lines(r.output);
  for (std::string line; std::getline(lines, line);) {
    const std::vector<std::string> f = test::SplitTabs(line);
    if (f.size() != 4) continue;
    seen.emplace(f[1], EntrySeen{std::stoull(f[2]), f[3]});
  }
  return seen;
}

class ZipWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"unzip", "7z", "bsdtar", "python3"})
      if (!test::HaveTool(tool)) GTEST_FAIL() << tool << " is missing (scripts/setup-deps installs it)";
  }
  test::TempDir dir_;
};

TEST_F(ZipWriter, AnEmptyArchiveIsOneEndRecord) {
  const auto path = dir_ / "empty.zip";
  ZipUnzip zip;
  zip.Create(NewFile(path), path.string());
  zip.Close();
  const std::string bytes = test::ReadWholeFile(path);
  ASSERT_EQ(bytes.size(), 22u);
  EXPECT_EQ(Le32At(bytes, 0), 0x06054B50u);
  EXPECT_EQ(bytes.substr(4), std::string(18, '\0'));
  CommandResult r;
  EXPECT_TRUE(ReadBack({path}, true, &r).empty());
  EXPECT_EQ(r.status, 0) << r.output;
}

TEST_F(ZipWriter, EntriesReadBackInEveryReaderWithTheirBytesAndNames) {
  const auto path = dir_ / "a.zip";
  std::vector<std::uint8_t> text(100000);
  for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<std::uint8_t>("recovered data "[i % 15]);
  std::vector<std::uint8_t> noise(70000);
  std::uint32_t x = 12345;
  for (auto& b : noise) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);

  ZipUnzip zip;
  zip.Create(NewFile(path), path.string());
  ASSERT_TRUE(zip.AddNewFile("Folder/text.txt", {text.size(), 0x20}));
  for (std::size_t at = 0; at < text.size(); at += 4096)
    zip.WriteNewFile(text.data() + at, std::min<std::size_t>(4096, text.size() - at));
  ASSERT_TRUE(zip.CloseNewFile());
  ASSERT_TRUE(zip.AddNewFile("Folder/Sub/noise.bin", {noise.size(), 0x20}));
  zip.WriteNewFile(noise.data(), noise.size());
  ASSERT_TRUE(zip.CloseNewFile());
  ASSERT_TRUE(zip.AddNewFile("empty", {0, 0x20}));
  ASSERT_TRUE(zip.CloseNewFile());
  ASSERT_TRUE(zip.AddNewFile(kUnicodeName, {3, 0x20}));
  zip.WriteNewFile("abc", 3);
  ASSERT_TRUE(zip.CloseNewFile());
  // One entry at a time.
  ASSERT_TRUE(zip.AddNewFile("twice", {0, 0x20}));
  EXPECT_FALSE(zip.AddNewFile("refused", {0, 0x20}));
  ASSERT_TRUE(zip.CloseNewFile());
  zip.Close();

  CommandResult r;
  const auto seen = ReadBack({path}, true, &r);
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_EQ(seen.size(), 5u) << r.output;
  EXPECT_EQ(seen.find("Folder/text.txt")->second.md5, test::Md5Hex(text));
  EXPECT_EQ(seen.find("Folder/Sub/noise.bin")->second.md5, test::Md5Hex(noise));
  EXPECT_EQ(seen.find("empty")->second.size, 0u);
  ASSERT_EQ(seen.count(kUnicodeName), 1u) << r.output;
  EXPECT_EQ(seen.find(kUnicodeName)->second.md5, "900150983cd24fb0d6963f7d28e17f72");

  // The empty entry as the format defines it: CRC 0, sizes 0 in the
  // central directory, and its data the two bytes of an empty final block.
  const std::string bytes = test::ReadWholeFile(path);
  const std::size_t local = bytes.find(std::string("empty"));
  ASSERT_NE(local, std::string::npos);
  const std::size_t header = local - 30;
  EXPECT_EQ(Le32At(bytes, header), 0x04034B50u);
  EXPECT_EQ(Le32At(bytes, header + 14), 0u);  // CRC
  EXPECT_EQ(Le32At(bytes, header + 18), 2u);  // compressed: 03 00
  EXPECT_EQ(Le32At(bytes, header + 22), 0u);
  EXPECT_EQ(bytes.substr(local + 5, 2), std::string("\x03\x00", 2));

  // Every central entry is made on Unix (host 3, spec version 2.0), as
  // Linux zip writers make theirs, and keeps the UTF-8 flag on its non-ASCII
  // name; its external attributes are the regular file's mode 0100644 over
  // the DOS attribute.
  std::size_t centrals = 0;
  for (std::size_t at = bytes.find("PK\x01\x02"); at != std::string::npos; at = bytes.find("PK\x01\x02", at + 4)) {
    ++centrals;
    const std::string name = bytes.substr(at + 46, Le16At(bytes, at + 28));
    SCOPED_TRACE(name);
    EXPECT_EQ(Le16At(bytes, at + 4), 0x0314);
    EXPECT_EQ(Le16At(bytes, at + 8) & 0x0800, name == kUnicodeName ? 0x0800 : 0);
    EXPECT_EQ(Le32At(bytes, at + 38), (0100644u << 16) | 0x20u);
  }
  EXPECT_EQ(centrals, 5u);
}

TEST_F(ZipWriter, EntryNamesNeverClimbOutOrStartAtTheRoot) {
  const auto path = dir_ / "names.zip";
  ZipUnzip zip;
  zip.Create(NewFile(path), path.string());
  for (const char* name : {"../../etc/passwd", "/abs/file", "a\\..\\b", "..", "./x/./y", "c\x01" "d"}) {
    ASSERT_TRUE(zip.AddNewFile(name, {1, 0x20})) << name;
    zip.WriteNewFile("z", 1);
    ASSERT_TRUE(zip.CloseNewFile());
  }
  EXPECT_FALSE(zip.AddNewFile("//", {0, 0x20}));  // nothing left of it
  zip.Close();
  CommandResult r;
  const auto seen = ReadBack({path}, false, &r);
  ASSERT_EQ(r.status, 0) << r.output;
  std::set<std::string> names;
  for (const auto& [name, e] : seen) names.insert(name);
  EXPECT_EQ(names, (std::set<std::string>{"__/__/etc/passwd", "abs/file", "a/__/b", "__", "x/y", "c_d"}));
}

TEST_F(ZipWriter, EntriesCarryTheLocalDosTimeTheyWereWrittenAt) {
  // Half an hour off a whole hour from UTC: a time taken in UTC, or a
  // minute field placed wrong, cannot pass.
  test::ScopedTimeZone zone(test::kSaveTestZone);
  const auto path = dir_ / "times.zip";
  const std::time_t before = std::time(nullptr);
  ZipUnzip zip;
  zip.Create(NewFile(path), path.string());
  for (const char* name : {"a.txt", "Folder/b.txt"}) {
    ASSERT_TRUE(zip.AddNewFile(name, {3, 0x20}));
    zip.WriteNewFile("abc", 3);
    ASSERT_TRUE(zip.CloseNewFile());
  }
  zip.Close();
  const std::time_t after = std::time(nullptr);

  const CommandResult r = test::CheckZips({path}, false, true);
  ASSERT_EQ(r.status, 0) << r.output;
  const auto times = test::ZipEntryTimes(r.output);
  ASSERT_EQ(times.size(), 2u) << r.output;
  for (const auto& [name, text] : times) {
    EXPECT_GE(text, test::DosLocalText(before)) << name;
    EXPECT_LE(text, test::DosLocalText(after)) << name;
  }

  // The local header says the same as the central directory that zipfile read.
  const std::string bytes = test::ReadWholeFile(path);
  const std::size_t central = bytes.find(std::string("PK\x01\x02", 4));
  ASSERT_NE(central, std::string::npos);
  EXPECT_EQ(Le16At(bytes, 10), Le16At(bytes, central + 12));
  EXPECT_EQ(Le16At(bytes, 12), Le16At(bytes, central + 14));
}

// Fails one write when the byte count reaches `at`, then works again.
class FailOnceWriter final : public OutputWriter {
 public:
  explicit FailOnceWriter(std::uint64_t at) : at_(at) {}
  bool WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset) override {
    if (!failed_ && written_ + size >= at_) {
      failed_ = true;
      OutputWriter::WriteAt(fd, data, size / 2, offset);  // a torn write
      errno = EIO;
      return false;
    }
    written_ += size;
    return OutputWriter::WriteAt(fd, data, size, offset);
  }

 private:
  std::uint64_t at_, written_ = 0;
  bool failed_ = false;
};

TEST_F(ZipWriter, AFailedEntryIsCutBackAndTheArchiveStillFinishes) {
  const auto path = dir_ / "cut.zip";
  std::vector<std::uint8_t> noise(300000);
  std::uint32_t x = 7;
  for (auto& b : noise) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  FailOnceWriter writer(200000);
  ZipUnzip zip;
  zip.Create(NewFile(path), path.string(), &writer);
  ASSERT_TRUE(zip.AddNewFile("first", {3, 0x20}));
  zip.WriteNewFile("one", 3);
  ASSERT_TRUE(zip.CloseNewFile());
  ASSERT_TRUE(zip.AddNewFile("second", {noise.size(), 0x20}));
  bool threw = false;
  try {
    zip.WriteNewFile(noise.data(), noise.size());
    zip.CloseNewFile();
  } catch (const CZipException& e) {
    threw = true;
    EXPECT_EQ(e.m_nSystemError, EIO);
    zip.DiscardNewFile();
  }
  ASSERT_TRUE(threw);
  ASSERT_TRUE(zip.AddNewFile("third", {5, 0x20}));
  zip.WriteNewFile("three", 5);
  ASSERT_TRUE(zip.CloseNewFile());
  zip.Close();

  CommandResult r;
  const auto seen = ReadBack({path}, true, &r);
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen.find("first")->second.md5, test::Md5Hex(std::vector<std::uint8_t>{'o', 'n', 'e'}));
  EXPECT_EQ(seen.find("third")->second.size, 5u);
  EXPECT_LT(std::filesystem::file_size(path), 1000u);  // nothing of the dropped entry is left
}

TEST_F(ZipWriter, CauseNumbersFollowTheirCodes) {
  EXPECT_EQ(CZipException::CauseFromCode(1), 2);
  EXPECT_EQ(CZipException::CauseFromCode(2), 3);
  EXPECT_EQ(CZipException::CauseFromCode(-1), 4);
  EXPECT_EQ(CZipException::CauseFromCode(-6), 9);
  EXPECT_EQ(CZipException::CauseFromCode(-101), 10);
  EXPECT_EQ(CZipException::CauseFromCode(-109), 18);
  EXPECT_EQ(CZipException::CauseFromCode(-7), 1);
  EXPECT_EQ(CZipException::CauseFromCode(0), 1);
}

// Large archives: zeros deflate to almost nothing, so these stay quick to
// write; the readers still inflate every byte.
TEST_F(ZipWriter, BigAnEntryOver4GiBFromAStreamOfZerosReadsBack) {
  const auto path = dir_ / "big.zip";
  const std::uint64_t size = (4ull << 30) + (1u << 20) + 17;
  const std::vector<std::uint8_t> zeros(1u << 20);
  // The fastest deflate level: what makes the entry need zip64 does not
  // depend on the level.
  CZipArchive zip;
  zip.Open(NewFile(path), path.string());
  ASSERT_TRUE(zip.OpenNewFile("small-before", 2, 0x20, 1));
  zip.WriteNewFile("hi", 2);
  ASSERT_TRUE(zip.CloseNewFile());
  ASSERT_TRUE(zip.OpenNewFile("zeros.bin", size, 0x20, 1));
  for (std::uint64_t left = size; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, zeros.size()));
    zip.WriteNewFile(zeros.data(), n);
    left -= n;
  }
  ASSERT_TRUE(zip.CloseNewFile());
  ASSERT_TRUE(zip.OpenNewFile("small-after", 2, 0x20, 1));
  zip.WriteNewFile("ho", 2);
  ASSERT_TRUE(zip.CloseNewFile());
  zip.Close();

  CommandResult r;
  const auto seen = ReadBack({path}, false, &r);
  ASSERT_EQ(r.status, 0) << r.output;
  ASSERT_EQ(seen.count("zeros.bin"), 1u);
  EXPECT_EQ(seen.find("zeros.bin")->second.size, size);
  EXPECT_EQ(seen.find("small-after")->second.size, 2u);
}

TEST_F(ZipWriter, BigMoreThan65535EntriesAllGetIn) {
  const auto path = dir_ / "many.zip";
  constexpr int kEntries = 70000;
  ZipUnzip zip;
  zip.Create(NewFile(path), path.string());
  for (int i = 0; i < kEntries; ++i) {
    ASSERT_TRUE(zip.AddNewFile("d" + std::to_string(i / 1000) + "/f" + std::to_string(i), {1, 0x20})) << i;
    zip.WriteNewFile("x", 1);
    ASSERT_TRUE(zip.CloseNewFile());
  }
  EXPECT_EQ(zip.EntryCount(), static_cast<std::size_t>(kEntries));
  zip.Close();
  CommandResult r;
  const auto seen = ReadBack({path}, false, &r);
  ASSERT_EQ(r.status, 0) << r.output.substr(0, 2000);
  EXPECT_EQ(seen.size(), static_cast<std::size_t>(kEntries));
  EXPECT_EQ(seen.count("d69/f69999"), 1u);
}

}  // namespace
}  // namespace corvan
