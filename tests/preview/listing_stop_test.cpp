// Hostile files given to every listing: whatever a damaged or crafted file
// makes a parser do, it ends once its selection is over, and a file of
// nothing but resynchronisation work still ends on its own.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "preview/ArchiveList.h"
#include "preview/BackupList.h"
#include "preview/TablePreview.h"

namespace corvan {
namespace {

// Memory whose reader is told to stop after `budget` reads; counts the reads
// made after that.
class StoppingSource final : public ByteSource {
 public:
  StoppingSource(const std::vector<std::uint8_t>& bytes, int budget) : memory_(bytes), budget_(budget) {}
  std::uint64_t Size() const override { return memory_.Size(); }
  bool Read(std::uint64_t offset, std::span<std::uint8_t> out) override {
    ++reads_;
    if (reads_ > budget_) ++afterStop_;
    // An unreadable stretch, as bad sectors give.
    if (offset < badEnd_ && offset + out.size() > badBegin_) {
      std::fill(out.begin(), out.end(), 0);
      return false;
    }
    return memory_.Read(offset, out);
  }
  void SetUnreadable(std::uint64_t begin, std::uint64_t end) {
    badBegin_ = begin;
    badEnd_ = end;
  }
  bool Stopped() const override { return reads_ >= budget_; }
  int AfterStop() const { return afterStop_; }
  int Reads() const { return reads_; }

 private:
  MemoryByteSource memory_;
  int budget_;
  int reads_ = 0;
  int afterStop_ = 0;
  std::uint64_t badBegin_ = 0, badEnd_ = 0;
};

void PutU32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Bytes that keep each parser busy: a zip end record whose central
// directory starts at 100, a RAR marker and archive header, then nothing any
// parser takes for a header.
std::vector<std::uint8_t> BusyFile(std::size_t size) {
  std::vector<std::uint8_t> b(size, 0x41);
  const char rar[] = "Rar!\x1A\x07\x00";
  std::memcpy(b.data(), rar, 7);
  b[9] = 0x73;  // the archive header, 13 bytes
  b[10] = b[11] = 0;
  b[12] = 13;
  b[13] = 0;
  const std::size_t end = b.size() - 22;
  const std::uint8_t eocd[] = {0x50, 0x4B, 0x05, 0x06};
  std::memcpy(b.data() + end, eocd, 4);
  PutU32(b, end + 12, static_cast<std::uint32_t>(end - 100));  // directory size
  PutU32(b, end + 16, 100);                               // directory offset
  b[end + 20] = b[end + 21] = 0;
  return b;
}

TEST(ListingStop, EveryParserEndsSoonAfterItsSelectionIsOver) {
  const std::vector<std::uint8_t> file = BusyFile(32u << 20);
  for (const char16_t* name : {u"a.zip", u"a.rar", u"a.arj", u"a.lzh", u"a.tar", u"a.cab", u"a.alz"}) {
    StoppingSource source(file, 50);
    source.SetUnreadable(20, file.size() - 70000);  // zip and RAR resynchronise across it
    const ArchiveListing listing = ListArchiveEntries(source, name);
    EXPECT_LE(source.AfterStop(), 64) << std::string(name, name + 5).c_str();
  }
  {
    StoppingSource source(file, 50);
    ListBackup(source, u"a.bkf");
    EXPECT_LE(source.AfterStop(), 64);
  }
  {
    StoppingSource source(file, 50);
    TableGrid grid;
    ReadCsvGrid(source, u"a.csv", grid);
    EXPECT_LE(source.AfterStop(), 64);
    std::vector<MdfTable> tables;
    StoppingSource mdf(file, 50);
    ReadMdfTables(mdf, u"a.mdf", tables);
    EXPECT_LE(mdf.AfterStop(), 64);
  }
}

TEST(ListingStop, ResynchronisingOverAWholeDamagedFileEnds) {
  // Zip and RAR move one byte on after a header they cannot read; over a
  // file unreadable from its start to its last bytes, with nothing to stop
  // them, the walk itself must reach the end and return.
  const std::vector<std::uint8_t> file = BusyFile(4u << 20);
  for (const char16_t* name : {u"a.zip", u"a.rar"}) {
    StoppingSource source(file, 1 << 30);
    source.SetUnreadable(20, file.size() - 70000);  // the zip's end record stays readable
    const ArchiveListing listing = ListArchiveEntries(source, name);
    EXPECT_TRUE(listing.entries.empty());
    EXPECT_GT(source.Reads(), 1000);  // it did try to resynchronise
    EXPECT_LT(source.Reads(), 3 * static_cast<int>(file.size()));
  }
}

// A ustar member header from the format's definition: name, octal size and
// mtime, regular-file type, and the checksum over the header with its own
// field taken as spaces.
std::vector<std::uint8_t> TarHeader(const std::string& name, std::uint64_t size) {
  std::vector<std::uint8_t> h(512, 0);
  std::memcpy(h.data(), name.data(), name.size());
  std::snprintf(reinterpret_cast<char*>(&h[100]), 8, "%07o", 0644);
  std::snprintf(reinterpret_cast<char*>(&h[124]), 12, "%011llo", static_cast<unsigned long long>(size));
  std::snprintf(reinterpret_cast<char*>(&h[136]), 12, "%011o", 1234567890u);
  h[156] = '0';
  std::memcpy(&h[257], "ustar\0" "00", 8);
  std::memset(&h[148], ' ', 8);
  unsigned sum = 0;
  for (std::uint8_t b : h) sum += b;
  std::snprintf(reinterpret_cast<char*>(&h[148]), 8, "%06o", sum);
  h[155] = ' ';
  return h;
}

TEST(ListingLimit, AListingEndsAtItsEntryLimitKeepingTheEntriesBefore) {
  std::vector<std::uint8_t> tar;
  for (int i = 0; i < 5; ++i) {
    const auto h = TarHeader("member" + std::to_string(i), 100 + i);
    tar.insert(tar.end(), h.begin(), h.end());
    tar.resize(tar.size() + 512, 'x');  // the member's data, one record
  }
  tar.resize(tar.size() + 1024, 0);  // the two zero records
  MemoryByteSource whole(tar);
  const ArchiveListing all = ListArchiveEntries(whole, u"a.tar");
  ASSERT_EQ(all.entries.size(), 5u);
  EXPECT_FALSE(all.full);
  EXPECT_EQ(all.totalSize, 100u + 101 + 102 + 103 + 104);

  MemoryByteSource capped(tar);
  const ArchiveListing three = ListArchiveEntries(capped, u"a.tar", 3);
  ASSERT_EQ(three.entries.size(), 3u);
  EXPECT_TRUE(three.full);
  EXPECT_FALSE(three.stopped);
  EXPECT_EQ(three.entries[2].name, u"member2");
  EXPECT_EQ(three.totalSize, 100u + 101 + 102);
}

}  // namespace
}  // namespace corvan
