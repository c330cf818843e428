// Tape-format backups (".bkf") laid out from the published descriptor block
// layout: each block at a 1024-byte boundary, a 4-character tag, the common
// block header and the fixed part of its kind, the name right after it.
// Dates are packed by the format's bit layout from chosen values.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "preview/BackupList.h"

namespace corvan {
namespace {

struct Date {
  int year, month, day, hour, minute, second;
};

// 14 bits year, 4 month, 5 day, 5 hour, 6 minute, 6 second, most
// significant first.
MtfDateTime Pack(const Date& d) {
  const std::uint64_t v = (std::uint64_t(d.year) << 26) | (std::uint64_t(d.month) << 22) |
                          (std::uint64_t(d.day) << 17) | (std::uint64_t(d.hour) << 12) |
                          (std::uint64_t(d.minute) << 6) | std::uint64_t(d.second);
  MtfDateTime m;
  for (int i = 0; i < 5; ++i) m.bytes[i] = static_cast<std::uint8_t>(v >> (8 * (4 - i)));
  return m;
}

std::u16string Text(const Date& d) {
  const std::string s = std::to_string(d.hour) + ":" + std::to_string(d.minute) + ":" + std::to_string(d.second) +
                        "  " + std::to_string(d.month) + "/" + std::to_string(d.day) + "/" + std::to_string(d.year);
  return std::u16string(s.begin(), s.end());
}

class BackupBuilder {
 public:
  std::vector<std::uint8_t> bytes;

  void Set(std::uint16_t number, std::u16string_view name = u"Set") { Block("SSET", 98, 64, name).Put16(62, number); }
  void Volume(std::u16string_view device = u"C:") { Block("VOLB", 73, 56, device); }
  void Directory(std::u16string_view dir = u"Docs\\") { Block("DIRB", 84, 80, dir); }
  void File(std::uint32_t id, std::u16string_view name, std::uint64_t size, const Date& modified, const Date& created,
            const Date& accessed, std::uint32_t dirId = 1) {
    Block("FILE", 88, 84, name);
    Put64(12, size);
    PutDate(56, Pack(modified));
    PutDate(61, Pack(created));
    PutDate(66, Pack({2024, 1, 1, 0, 0, 0}));  // backup date, not listed
    PutDate(71, Pack(accessed));
    Put32(76, dirId);
    Put32(80, id);
  }
  // A block of file data (no tag).
  void Data(char fill = 'd') {
    bytes.resize(bytes.size() + 1024, static_cast<std::uint8_t>(fill));
    at_ = bytes.size() - 1024;
  }

  BackupBuilder& Put16(std::size_t off, std::uint16_t v) {
    bytes[at_ + off] = static_cast<std::uint8_t>(v);
    bytes[at_ + off + 1] = static_cast<std::uint8_t>(v >> 8);
    return *this;
  }
  void Put32(std::size_t off, std::uint32_t v) {
    Put16(off, static_cast<std::uint16_t>(v));
    Put16(off + 2, static_cast<std::uint16_t>(v >> 16));
  }
  void Put64(std::size_t off, std::uint64_t v) {
    Put32(off, static_cast<std::uint32_t>(v));
    Put32(off + 4, static_cast<std::uint32_t>(v >> 32));
  }
  void PutDate(std::size_t off, const MtfDateTime& d) { std::memcpy(&bytes[at_ + off], d.bytes.data(), 5); }

 private:
  BackupBuilder& Block(const char* tag, std::size_t fixed, std::size_t nameSizeAt, std::u16string_view name) {
    const std::size_t blocks = (fixed + 2 * name.size() + 1023) / 1024;
    at_ = bytes.size();
    bytes.resize(at_ + 1024 * blocks, 0);
    std::memcpy(&bytes[at_], tag, 4);
    Put16(nameSizeAt, static_cast<std::uint16_t>(2 * name.size()));
    for (std::size_t i = 0; i < name.size(); ++i) Put16(fixed + 2 * i, name[i]);
    return *this;
  }
  std::size_t at_ = 0;
};

const Date kModified{2021, 3, 9, 14, 7, 5};
const Date kCreated{1999, 12, 31, 23, 59, 59};
const Date kAccessed{2024, 2, 29, 0, 0, 0};

BackupListing List(const std::vector<std::uint8_t>& bytes, std::u16string_view name = u"weekly.bkf") {
  MemoryByteSource source(bytes);
  return ListBackup(source, name);
}

std::vector<std::u16string> Names(const BackupListing& l) {
  std::vector<std::u16string> out;
  for (const auto& e : l.entries) out.push_back(e.name);
  return out;
}

TEST(BackupList, FilesOfOneSetWithSizesAndDates) {
  BackupBuilder b;
  b.Set(1, u"Nightly");
  b.Volume();
  b.Directory();
  b.File(1, u"report.doc", 1536, kModified, kCreated, kAccessed);
  b.Data();
  b.Data();
  b.File(2, u"notes.txt", 20, kCreated, kModified, kAccessed);
  b.Directory(u"Docs\\Old\\");
  b.File(3, u"\u00e9t\u00e9.xls", 3ull << 30, kAccessed, kAccessed, kModified);
  const BackupListing l = List(b.bytes);
  EXPECT_TRUE(l.shown);
  EXPECT_FALSE(l.stopped);
  ASSERT_EQ(Names(l), (std::vector<std::u16string>{u"report.doc", u"notes.txt", u"\u00e9t\u00e9.xls"}));
  EXPECT_EQ(l.entries[0].size, 1536u);
  EXPECT_EQ(l.entries[2].size, 3ull << 30);
  EXPECT_EQ(l.entries[0].modified, Pack(kModified));
  EXPECT_EQ(l.entries[0].created, Pack(kCreated));
  EXPECT_EQ(l.entries[0].accessed, Pack(kAccessed));
  EXPECT_EQ(l.entries[1].created, Pack(kModified));
  EXPECT_EQ(FormatMtfDateTime(l.entries[0].modified), Text(kModified));
  EXPECT_EQ(FormatMtfDateTime(l.entries[0].created), Text(kCreated));
  EXPECT_EQ(FormatMtfDateTime(l.entries[0].accessed), u"0:0:0  2/29/2024");
  EXPECT_EQ(FormatMtfDateTime(Pack({16383, 15, 31, 31, 63, 63})), u"31:63:63  15/31/16383");
  // Any case of the suffix.
  EXPECT_EQ(List(b.bytes, u"WEEKLY.BKF").entries.size(), 3u);
}

// Each name's size is followed by its offset in the block; a writer may put
// other data between the fixed part and the name.
TEST(BackupList, NamesAreReadWhereTheirOffsetPuts) {
  BackupBuilder b;
  b.Set(1);
  b.Volume();
  b.Directory();
  b.File(1, u"first.doc", 10, kModified, kCreated, kAccessed);
  b.File(2, u"here.txt", 20, kModified, kCreated, kAccessed);
  // Move the second file's name to offset 160 and fill its old place.
  const std::size_t block = b.bytes.size() - 1024;
  const std::u16string moved = u"moved.txt";
  std::memset(&b.bytes[block + 88], 'z', 60);
  for (std::size_t i = 0; i < moved.size(); ++i) {
    b.bytes[block + 160 + 2 * i] = static_cast<std::uint8_t>(moved[i]);
    b.bytes[block + 161 + 2 * i] = 0;
  }
  b.Put16(84, static_cast<std::uint16_t>(2 * moved.size())).Put16(86, 160);
  const BackupListing l = List(b.bytes);
  EXPECT_EQ(Names(l), (std::vector<std::u16string>{u"first.doc", u"moved.txt"}));
  // An offset inside the fixed part is not trusted: the name after it is read.
  b.Put16(86, 40);
  std::memcpy(&b.bytes[block + 88], "h\0e\0r\0e\0.\0t\0x\0t\0z\0", 18);
  b.Put16(84, 16);
  EXPECT_EQ(Names(List(b.bytes)), (std::vector<std::u16string>{u"first.doc", u"here.txt"}));
}

TEST(BackupList, FileIdsRunPerSetAndStrayOnesArePassedOver) {
  BackupBuilder b;
  b.Set(1);
  b.Volume();
  b.File(1, u"a1", 1, kModified, kCreated, kAccessed);
  b.File(7, u"stray", 2, kModified, kCreated, kAccessed);  // out of sequence
  b.Data();                                                // its data
  b.File(2, u"a2", 3, kModified, kCreated, kAccessed);
  b.Set(2);
  b.File(1, u"b1", 4, kModified, kCreated, kAccessed);  // ids start again
  b.File(2, u"b2", 5, kModified, kCreated, kAccessed);
  b.Set(4);  // not the set expected next: passed over
  b.Data();
  b.File(3, u"b3", 6, kModified, kCreated, kAccessed);  // still the second set's run
  const BackupListing l = List(b.bytes);
  EXPECT_TRUE(l.shown);
  EXPECT_EQ(Names(l), (std::vector<std::u16string>{u"a1", u"a2", u"b1", u"b2", u"b3"}));
  EXPECT_EQ(l.entries[4].size, 6u);

  // A stray file right before the next descriptor blocks: each listed file
  // keeps its own name, size and dates, and the list is shown.
  BackupBuilder tight;
  tight.Set(1);
  tight.File(1, u"one", 10, kModified, kCreated, kAccessed);
  tight.File(9, u"stray", 99, kAccessed, kAccessed, kAccessed);
  tight.File(2, u"two", 20, kCreated, kCreated, kCreated);
  tight.File(3, u"three", 30, kModified, kModified, kModified);
  const BackupListing t = List(tight.bytes);
  EXPECT_TRUE(t.shown);
  ASSERT_EQ(Names(t), (std::vector<std::u16string>{u"one", u"two", u"three"}));
  EXPECT_EQ(t.entries[1].size, 20u);
  EXPECT_EQ(t.entries[1].modified, Pack(kCreated));
  EXPECT_EQ(t.entries[2].size, 30u);
}

TEST(BackupList, BlocksOnlyAtBoundariesAndNamesWithinTheFile) {
  BackupBuilder b;
  b.Set(1);
  b.File(1, u"seen", 1, kModified, kCreated, kAccessed);
  b.Data();
  // A FILE tag inside a block, not at its start, is not a block.
  std::memcpy(&b.bytes[b.bytes.size() - 1024 + 512], "FILE", 4);
  b.File(2, u"also seen", 2, kModified, kCreated, kAccessed);
  EXPECT_EQ(Names(List(b.bytes)), (std::vector<std::u16string>{u"seen", u"also seen"}));

  // A name as long as the format allows is cut.
  BackupBuilder longName;
  longName.Set(1);
  longName.File(1, std::u16string(600, u'n'), 1, kModified, kCreated, kAccessed);
  const BackupListing cut = List(longName.bytes);
  ASSERT_EQ(cut.entries.size(), 1u);
  EXPECT_EQ(cut.entries[0].name, std::u16string(260, u'n'));

  // A name size that runs past the file's end: the files before it are kept,
  // and the listing is not shown.
  BackupBuilder past;
  past.Set(1);
  past.File(1, u"first", 1, kModified, kCreated, kAccessed);
  past.File(2, u"second", 1, kModified, kCreated, kAccessed);
  past.Put16(84, 0xFFFE);
  const BackupListing broken = List(past.bytes);
  EXPECT_FALSE(broken.shown);
  EXPECT_EQ(Names(broken), std::vector<std::u16string>{u"first"});
}

TEST(BackupList, NotABackup) {
  BackupBuilder b;
  b.Set(1);
  b.File(1, u"x", 1, kModified, kCreated, kAccessed);
  for (const char16_t* name : {u"weekly.bak", u"bkf", u"weekly.bkf.zip"}) {
    const BackupListing l = List(b.bytes, name);
    EXPECT_FALSE(l.shown);
    EXPECT_TRUE(l.entries.empty());
  }
  // No descriptor block at all.
  EXPECT_FALSE(List(std::vector<std::uint8_t>(4096, 0x20)).shown);
  EXPECT_FALSE(List({}).shown);
}

TEST(BackupList, SizeTexts) {
  EXPECT_EQ(FormatBackupSize(0), u"0 Bytes");
  EXPECT_EQ(FormatBackupSize(1023), u"1023 Bytes");
  EXPECT_EQ(FormatBackupSize(1024), u"1.00 KB");
  EXPECT_EQ(FormatBackupSize(1536), u"1.50 KB");
  EXPECT_EQ(FormatBackupSize((1u << 20) - 1), u"1024.00 KB");
  EXPECT_EQ(FormatBackupSize(5u << 20 | 1u << 19), u"5.50 MB");
  EXPECT_EQ(FormatBackupSize(3ull << 30), u"3.00 GB");
  EXPECT_EQ(FormatBackupSize(5ull << 40), u"5120.00 GB");
}

// Asks to stop after a number of reads.
struct StopAfterReads final : ByteSource {
  StopAfterReads(std::span<const std::uint8_t> bytes, int n) : inner(bytes), reads(n) {}
  MemoryByteSource inner;
  int reads;
  std::uint64_t Size() const override { return inner.Size(); }
  bool Read(std::uint64_t at, std::span<std::uint8_t> out) override { return --reads, inner.Read(at, out); }
  bool Stopped() const override { return reads <= 0; }
};

TEST(BackupList, StopsWhenAsked) {
  BackupBuilder b;
  b.Set(1);
  for (std::uint32_t i = 1; i <= 40; ++i) b.File(i, u"f", 1, kModified, kCreated, kAccessed);
  StopAfterReads source(b.bytes, 100);
  const BackupListing l = ListBackup(source, u"a.bkf");
  EXPECT_TRUE(l.stopped);
  EXPECT_FALSE(l.shown);
  EXPECT_LT(l.entries.size(), 40u);
}

}  // namespace
}  // namespace corvan
