// The saved-scan index: its 589-byte records, the path offset that applies
// inside the index only, and which entries a read keeps.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "core/AppServices.h"
#include "scan/ScanInfoIndex.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes EncodeRecord(const ScanImageRecord& r, ScanPathForm form) {
  Bytes b(kScanImageRecordSize);
  r.Encode(std::span(b).first<kScanImageRecordSize>(), form);
  return b;
}

std::uint16_t Unit(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)); }

TEST(ScanImageRecord, FieldsAtTheirOffsetsInBothForms) {
  const ScanImageRecord r{u"05-Mar-2024", u"/s/a.img", 13, 0};
  Bytes expected(589, 0);
  const std::u16string date = u"05-Mar-2024", path = u"/s/a.img";
  for (std::size_t i = 0; i < date.size(); ++i) expected[2 * i] = static_cast<std::uint8_t>(date[i]);
  for (std::size_t i = 0; i < path.size(); ++i) expected[64 + 2 * i] = static_cast<std::uint8_t>(path[i]);
  expected[584] = 13;
  EXPECT_EQ(EncodeRecord(r, ScanPathForm::Plain), expected);
  for (std::size_t i = 0; i < path.size(); ++i) expected[64 + 2 * i] = static_cast<std::uint8_t>(path[i] + 15);
  const Bytes index = EncodeRecord(r, ScanPathForm::Index);
  EXPECT_EQ(index, expected) << "every path unit +15, the date and kind plain, the terminator zero";
  EXPECT_EQ(ScanImageRecord::Decode(std::span<const std::uint8_t>(index).first<589>(), ScanPathForm::Index), r);

  // Units near the top wrap; U+FFF1 would become the terminator.
  const ScanImageRecord high{u"d", u"/\xFFF2\xFFFF", 14, 7};
  const Bytes h = EncodeRecord(high, ScanPathForm::Index);
  EXPECT_EQ(Unit(h, 66), 0x0001);
  EXPECT_EQ(Unit(h, 68), 0x000E);
  EXPECT_EQ(h[585], 7);
  EXPECT_EQ(ScanImageRecord::Decode(std::span<const std::uint8_t>(h).first<589>(), ScanPathForm::Index), high);
  EXPECT_FALSE(ScanPathFitsRecord(u"/a\xFFF1", ScanPathForm::Index));
  EXPECT_TRUE(ScanPathFitsRecord(u"/a\xFFF1", ScanPathForm::Plain));
  EXPECT_FALSE(ScanPathFitsRecord(std::u16string(260, u'a'), ScanPathForm::Plain));
  EXPECT_TRUE(ScanPathFitsRecord(std::u16string(259, u'a'), ScanPathForm::Plain));
}

// A stand-in scan file: 2048 bytes whose trailer says `kind`.
fs::path ScanFile(const fs::path& p, std::uint8_t kind, std::size_t size = 2048) {
  std::string bytes(size, '\0');
  if (size >= 1024) bytes[size - 1024 + 584] = static_cast<char>(kind);
  test::WriteWholeFile(p, bytes);
  return p;
}

ScanImageRecord Entry(const fs::path& p, std::uint8_t kind) { return {u"05-Mar-2024", ScanRecordPathOf(p), kind, 0}; }

TEST(ScanIndex, ValidityByTheTrailersKind) {
  test::TempDir dir;
  const fs::path scan = ScanFile(dir / "scan.img", 13);
  const auto v = IsScanImageValid(ScanRecordPathOf(scan), 13);
  EXPECT_TRUE(v.valid);
  EXPECT_EQ(v.sizeText, FormatSize(2048));
  EXPECT_FALSE(IsScanImageValid(ScanRecordPathOf(scan), 14).valid);
  const auto shortFile = IsScanImageValid(ScanRecordPathOf(ScanFile(dir / "short.img", 13, 600)), 0);
  EXPECT_FALSE(shortFile.valid) << "no trailer to read";
  EXPECT_EQ(shortFile.sizeText, FormatSize(600));
  const auto missing = IsScanImageValid(ScanRecordPathOf(dir / "gone.img"), 13);
  EXPECT_FALSE(missing.valid);
  EXPECT_TRUE(missing.sizeText.empty());
}

TEST(ScanIndex, ReadKeepsValidEntriesInOrder) {
  test::TempDir dir;
  const fs::path index = dir / "vhInfo";
  EXPECT_TRUE(ReadScanIndex(index).empty()) << "no index yet";
  std::vector<ScanImageRecord> list;
  const fs::path a = ScanFile(dir / "a.img", 13), b = ScanFile(dir / "b Drives.img", 14);
  ASSERT_TRUE(AppendScanIndexRecord(Entry(a, 13), &list, index));
  EXPECT_EQ(fs::file_size(index), 589u) << "created by the first append";
  ASSERT_TRUE(AppendScanIndexRecord(Entry(b, 13), &list, index));  // says 13, the file says 14
  ASSERT_TRUE(AppendScanIndexRecord(Entry(dir / "gone.img", 13), &list, index));
  ASSERT_TRUE(AppendScanIndexRecord(Entry(b, 14), &list, index));
  ASSERT_TRUE(AppendScanIndexRecord(Entry(a, 13), &list, index));  // the same path twice
  EXPECT_EQ(list.size(), 5u);
  EXPECT_EQ(ReadScanIndex(index), (std::vector{Entry(a, 13), Entry(b, 14), Entry(a, 13)}));

  // Refused appends change neither the file nor the list.
  EXPECT_FALSE(AppendScanIndexRecord({u"d", u"/x\xFFF1y", 13, 0}, &list, index));
  EXPECT_FALSE(AppendScanIndexRecord(Entry(a, 13), &list, "/proc/self/vhInfo"));
  EXPECT_EQ(list.size(), 5u);
  EXPECT_EQ(fs::file_size(index), 5 * 589u);

  // A device that fills up halfway through a record: the index is cut back.
  const pid_t child = ::fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{6 * 589 - 100, 6 * 589 - 100};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::_exit(AppendScanIndexRecord(Entry(a, 13), &list, index) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(fs::file_size(index), 5 * 589u);
}

TEST(ScanIndex, InvalidAndPartialEntries) {
  test::TempDir dir;
  const fs::path index = dir / "vhInfo";
  std::vector<ScanImageRecord> list;
  ASSERT_TRUE(AppendScanIndexRecord(Entry(dir / "gone.img", 13), &list, index));
  const std::string before = test::ReadWholeFile(index);
  EXPECT_TRUE(ReadScanIndex(index).empty());
  EXPECT_EQ(test::ReadWholeFile(index), before) << "reading never rewrites";

  // A partial record reads as if its missing bytes were zero.
  std::string bytes = before + std::string("5\0-\0", 4);
  test::WriteWholeFile(index, bytes);
  const Bytes raw(bytes.begin(), bytes.end());
  const auto all = DecodeScanIndex(raw);
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0], Entry(dir / "gone.img", 13));
  EXPECT_EQ(all[1], (ScanImageRecord{u"5-", u"", 0, 0}));
  // The next append starts on a record boundary, behind the partial one.
  const fs::path a = ScanFile(dir / "a.img", 13);
  ASSERT_TRUE(AppendScanIndexRecord(Entry(a, 13), &list, index));
  EXPECT_EQ(fs::file_size(index), 3 * 589u);
  EXPECT_EQ(ReadScanIndex(index), std::vector{Entry(a, 13)});
}

TEST(ScanIndex, RewriteReplacesWholeOrNotAtAll) {
  test::TempDir dir;
  const fs::path index = dir / "vhInfo";
  const fs::path a = ScanFile(dir / "a.img", 13), b = ScanFile(dir / "b.img", 13);
  ASSERT_TRUE(WriteScanIndex({Entry(b, 13), Entry(a, 13)}, index));
  EXPECT_EQ(ReadScanIndex(index), (std::vector{Entry(b, 13), Entry(a, 13)}));
  const std::string before = test::ReadWholeFile(index);
  EXPECT_FALSE(WriteScanIndex({Entry(a, 13), {u"d", u"/x\xFFF1", 13, 0}}, index));
  EXPECT_EQ(test::ReadWholeFile(index), before);
  EXPECT_FALSE(WriteScanIndex({Entry(a, 13)}, "/proc/self/vhInfo"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3) << "no temporary left";
}

TEST(ScanIndex, LivesInTheUserDataFolder) {
  test::TempDir dir;
  test::UserFolders folders(dir.path());
  EXPECT_EQ(ScanIndexPath(), dir / "data" / "corvan" / "vhInfo");
  std::vector<ScanImageRecord> list;
  ASSERT_TRUE(AppendScanIndexRecord(Entry(ScanFile(dir / "a.img", 13), 13), &list));
  EXPECT_EQ(ReadScanIndex(), list);
}

}  // namespace
}  // namespace corvan
