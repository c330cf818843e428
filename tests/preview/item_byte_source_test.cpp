// The listings' reads of a found file on a damaged volume: a bad cluster
// fails only the reads that touch it, not the rest of the 64 KiB window it
// lies in, and a listing goes on past it.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "preview/ArchiveList.h"
#include "preview/ByteSource.h"
#include "preview/PreviewWorker.h"
#include "preview/TablePreview.h"
#include "save/SaveTestSupport.h"

namespace corvan {
namespace {

constexpr std::uint32_t kCluster = 4096;
constexpr std::uint32_t kId = 7;

FoundItemInfo ItemOf(const std::vector<std::uint8_t>& bytes) {
  FoundItemInfo item;
  item.itemId = kId;
  item.size = bytes.size();
  return item;
}

TEST(ItemByteSource, ABadClusterFailsOnlyTheReadsThatTouchIt) {
  std::vector<std::uint8_t> file(200000);
  for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 7 + (i >> 9));
  test::MemoryEngine engine(kCluster);
  engine.files[kId] = file;
  engine.badClusters[kId] = {20};  // bytes 81920..86015, in the second window
  PreviewWorker worker;
  const PreviewCancel cancel(worker, worker.NewSelection());
  ItemByteSource source(engine, ItemOf(file), cancel);

  const auto readsAs = [&](std::uint64_t at, std::size_t n) {
    std::vector<std::uint8_t> got(n, 0xAA);
    const bool ok = source.Read(at, got);
    if (ok) return std::equal(got.begin(), got.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
    EXPECT_EQ(std::count(got.begin(), got.end(), 0), static_cast<std::ptrdiff_t>(n)) << at;
    return false;
  };
  // The same window as the bad cluster, before and after it.
  EXPECT_TRUE(readsAs(65536 + 100, 46));
  EXPECT_TRUE(readsAs(81920 - 46, 46));
  EXPECT_TRUE(readsAs(86016, 512));
  EXPECT_TRUE(readsAs(131072 - 10, 20));  // on into the third window
  // Whatever touches it fails, zeroed.
  EXPECT_FALSE(readsAs(81920 - 10, 20));
  EXPECT_FALSE(readsAs(84000, 4));
  EXPECT_FALSE(readsAs(86016 - 1, 2));
  EXPECT_FALSE(readsAs(65536, 65536));

  // Once sorted out, the window serves byte-by-byte retries without going
  // back to the volume.
  const std::size_t walks = engine.readItems.size();
  std::uint8_t one[46];
  for (std::uint64_t at = 80000; at < 88000; ++at) source.Read(at, one);
  EXPECT_EQ(engine.readItems.size(), walks);
}

// A ustar header record (POSIX.1-1988 layout): name, octal mode, ids, size
// and mtime, the checksum over the record with its own field as spaces, type.
void PutTarHeader(std::vector<std::uint8_t>& tar, const std::string& name, std::uint64_t size) {
  std::uint8_t h[512] = {};
  std::memcpy(h, name.data(), name.size());
  std::snprintf(reinterpret_cast<char*>(h + 100), 8, "%07o", 0644);
  std::snprintf(reinterpret_cast<char*>(h + 108), 8, "%07o", 0);
  std::snprintf(reinterpret_cast<char*>(h + 116), 8, "%07o", 0);
  std::snprintf(reinterpret_cast<char*>(h + 124), 12, "%011llo", static_cast<unsigned long long>(size));
  std::snprintf(reinterpret_cast<char*>(h + 136), 12, "%011o", 1600000000u);
  h[156] = '0';
  std::memcpy(h + 257, "ustar\0" "00", 8);
  std::memset(h + 148, ' ', 8);
  unsigned sum = 0;
  for (std::uint8_t b : h) sum += b;
  std::snprintf(reinterpret_cast<char*>(h + 148), 8, "%06o", sum);
  tar.insert(tar.end(), h, h + 512);
  tar.resize(tar.size() + (size + 511) / 512 * 512, 'x');
}

TEST(ItemByteSource, AListingGoesOnPastABadClusterInAMembersData) {
  std::vector<std::uint8_t> tar;
  PutTarHeader(tar, "a.bin", 70000);   // header at 0
  PutTarHeader(tar, "b.txt", 40000);   // header at 70656, data 71168..111168
  PutTarHeader(tar, "c.txt", 10);      // header at 111616
  tar.resize(tar.size() + 1024, 0);    // the two zero records
  test::MemoryEngine engine(kCluster);
  engine.files[kId] = tar;
  engine.badClusters[kId] = {25};  // bytes 102400..106495: inside b.txt's data
  PreviewWorker worker;
  const PreviewCancel cancel(worker, worker.NewSelection());
  ItemByteSource source(engine, ItemOf(tar), cancel);
  const ArchiveListing listing = ListArchiveEntries(source, u"damaged.tar");
  ASSERT_EQ(listing.entries.size(), 3u);
  EXPECT_EQ(listing.entries[1].name, u"b.txt");
  EXPECT_EQ(listing.entries[1].unpacked, 40000u);
  EXPECT_EQ(listing.entries[2].name, u"c.txt");
  EXPECT_EQ(listing.entries[2].unpacked, 10u);
}

TEST(ItemByteSource, ACsvKeepsTheLinesAroundABadCluster) {
  // Lines "rNNNNN,abc" CR LF, 12 bytes each: line k starts at 12 k.
  std::string csv;
  for (int k = 0; k < 20000; ++k) {
    char line[16];
    std::snprintf(line, sizeof line, "r%05d,abc\r\n", k);
    csv += line;
  }
  const std::vector<std::uint8_t> bytes(csv.begin(), csv.end());
  test::MemoryEngine engine(kCluster);
  engine.files[kId] = bytes;
  // Bytes 81920..86015 read as zeros: from the "bc" of line 6826 to the end
  // of line 7167, so line 6826's second cell runs on into line 7168.
  engine.badClusters[kId] = {20};
  PreviewWorker worker;
  const PreviewCancel cancel(worker, worker.NewSelection());
  ItemByteSource source(engine, ItemOf(bytes), cancel);
  TableGrid grid;
  ASSERT_TRUE(ReadCsvGrid(source, u"damaged.csv", grid));
  ASSERT_EQ(grid.rows.size(), 20000u - (7168 - 6826));
  EXPECT_EQ(grid.rows[6825], (std::vector<std::u16string>{u"r06825", u"abc"}));
  ASSERT_EQ(grid.rows[6826].size(), 3u);
  EXPECT_EQ(grid.rows[6826][1], u"a" + std::u16string(4096, u'\0') + u"r07168");
  EXPECT_EQ(grid.rows[6827], (std::vector<std::u16string>{u"r07169", u"abc"}));
  EXPECT_EQ(grid.rows.back(), (std::vector<std::u16string>{u"r19999", u"abc"}));
}

}  // namespace
}  // namespace corvan
