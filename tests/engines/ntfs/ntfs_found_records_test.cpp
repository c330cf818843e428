// What Advance Recovery reads from records it finds on the disk: the
// cluster-size vote of a record's own $DATA sizes, the strict run count it
// rests on, and a found record's number, parent and kind, for records built
// from the format's description.

#include <gtest/gtest.h>

#include "engines/ntfs/NtfsFoundRecords.h"
#include "engines/ntfs/ntfs_test_records.h"

namespace corvan {
namespace {

namespace img = test::ntfsimg;
using img::Bytes;
using test::FileRecord;
using test::FolderRecord;

constexpr std::uint64_t kVolumeSectors = 1u << 24;

// A file whose $DATA has `clusters` clusters in the runs and `allocated`
// bytes allocated.
Bytes DataFile(std::vector<img::Run> runs, std::uint64_t allocated, std::uint16_t compressionUnit = 0,
               std::uint16_t flags = 0, std::uint16_t recordFlags = img::kInUse) {
  std::uint64_t clusters = 0;
  for (const auto& r : runs) clusters += r.length;
  return FileRecord(40, 5, u"f.bin",
                    img::NonResident(0x80, img::Pairs(runs), 0, clusters - 1, allocated, allocated, allocated,
                                     compressionUnit, flags, u"", 2),
                    recordFlags);
}

TEST(NtfsClusterSizeVote, AllocatedSizeOverRunClustersGivesTheClusterSize) {
  EXPECT_EQ(ntfs::ClusterSizeVote(DataFile({{100, 3}}, 3 * 512), kVolumeSectors), 1u);
  EXPECT_EQ(ntfs::ClusterSizeVote(DataFile({{100, 3}, {300, 2}}, 5 * 4096), kVolumeSectors), 8u);
  EXPECT_EQ(ntfs::ClusterSizeVote(DataFile({{7, 1}}, 65536), kVolumeSectors), 128u);
  EXPECT_EQ(ntfs::ClusterSizeVote(DataFile({{7, 2}}, 2 * 262144), kVolumeSectors), 512u);
  // A deleted file votes as well.
  EXPECT_EQ(ntfs::ClusterSizeVote(DataFile({{100, 3}}, 3 * 4096, 0, 0, 0), kVolumeSectors), 8u);
}

TEST(NtfsClusterSizeVote, RecordsThatCannotTellCastNoVote) {
  // Allocation that is no cluster size times the runs.
  EXPECT_EQ(ntfs::ClusterSizeVote(DataFile({{100, 3}}, 3 * 4096 + 512), kVolumeSectors), 0u);
  // A hole, compressed or encrypted data.
  EXPECT_EQ(ntfs::ClusterSizeVote(DataFile({{100, 3}, {0, 2, true}}, 5 * 4096), kVolumeSectors), 0u);
  EXPECT_EQ(ntfs::ClusterSizeVote(DataFile({{100, 16}}, 16 * 4096, 4, 1), kVolumeSectors), 0u);
  EXPECT_EQ(ntfs::ClusterSizeVote(DataFile({{100, 3}}, 3 * 4096, 0, 0x4000), kVolumeSectors), 0u);
  // More than the volume holds.
  EXPECT_EQ(ntfs::ClusterSizeVote(DataFile({{100, 3}}, 3 * 4096), 3 * 8 - 1), 0u);
  // Folders and resident data.
  EXPECT_EQ(ntfs::ClusterSizeVote(DataFile({{100, 3}}, 3 * 4096, 0, 0, test::kDirInUse), kVolumeSectors), 0u);
  EXPECT_EQ(ntfs::ClusterSizeVote(FileRecord(40, 5, u"r", img::Resident(0x80, {1, 2, 3}, u"", 2)), kVolumeSectors), 0u);
  // An attribute list: the runs may go on in other records.
  img::RecordBuilder listed;
  listed.number = 41;
  listed.Add(img::Resident(0x20, img::AttrListEntry(0x80, 0, img::Ref(41), 2), u"", 1))
      .Add(img::NonResident(0x80, img::Pairs({{100, 3}}), 0, 2, 3 * 4096, 3 * 4096, 3 * 4096, 0, 0, u"", 2));
  EXPECT_EQ(ntfs::ClusterSizeVote(listed.Build(), kVolumeSectors), 0u);
  // A torn record (a sector not written with the rest).
  Bytes torn = DataFile({{100, 3}}, 3 * 4096);
  torn[510] ^= 0xFF;
  EXPECT_EQ(ntfs::ClusterSizeVote(torn, kVolumeSectors), 0u);
}

TEST(NtfsClusterSizeVote, LargeAllocationsDoNotWrapIntoAMatch) {
  // 2^23 clusters of 512 bytes: 2^32 bytes, which a 32-bit product would
  // take for 0.
  const std::uint64_t clusters = 1ull << 23;
  EXPECT_EQ(ntfs::ClusterSizeVote(DataFile({{100, clusters}}, clusters * 512), 1ull << 40), 1u);
  EXPECT_EQ(ntfs::ClusterSizeVote(DataFile({{100, clusters}}, 0), 1ull << 40), 0u);
}

TEST(NtfsClusterSizeVote, MostVotesWinAndTiesGoToTheSmallerSize) {
  ntfs::ClusterSizeTally tally;
  EXPECT_EQ(tally.Decide(), 0u);
  tally.Add(8);
  tally.Add(4);
  EXPECT_EQ(tally.Decide(), 4u);
  tally.Add(8);
  EXPECT_EQ(tally.Decide(), 8u);
  tally.Add(3);  // not a cluster size: ignored
  EXPECT_EQ(tally.Votes(), 3u);
}

TEST(NtfsCountDataRunClusters, StrictFormOfTheMappingPairs) {
  std::uint64_t first = 0;
  const Bytes two = img::Pairs({{0x1234, 5}, {0x2000, 7}});
  EXPECT_EQ(ntfs::CountDataRunClusters(two, first), 12u);
  EXPECT_EQ(first, 0x1234u);
  // Offset field of 5 bytes, a hole (no offset field), no closing zero.
  const Bytes wide = {0x51, 3, 1, 2, 3, 4, 5, 0};
  EXPECT_EQ(ntfs::CountDataRunClusters(wide, first), 0u);
  EXPECT_EQ(ntfs::CountDataRunClusters(img::Pairs({{0, 4, true}}), first), 0u);
  Bytes open = two;
  open.pop_back();
  EXPECT_EQ(ntfs::CountDataRunClusters(open, first), 0u);
}

TEST(NtfsExamineFoundRecord, NumberParentAndKind) {
  const Bytes folder = FolderRecord(77, 40, u"dir", {});
  auto found = ntfs::ExamineFoundRecord(folder, std::nullopt);
  ASSERT_TRUE(found);
  EXPECT_TRUE(found->numberKnown);
  EXPECT_EQ(found->recordNumber, 77u);
  EXPECT_EQ(found->parent, 40u);
  EXPECT_FALSE(found->isFile);
  // Its place in the $MFT wins over the stored number.
  found = ntfs::ExamineFoundRecord(folder, 12);
  EXPECT_EQ(found->recordNumber, 12u);

  const Bytes file = FileRecord(78, 77, u"f", img::Resident(0x80, {1}, u"", 2), 0);
  found = ntfs::ExamineFoundRecord(file, std::nullopt);
  ASSERT_TRUE(found);
  EXPECT_TRUE(found->isFile);
  EXPECT_EQ(found->parent, 77u);
}

TEST(NtfsExamineFoundRecord, EarlyRecordsHaveNoNumberOfTheirOwn) {
  // Update sequence at 0x2A: bytes 0x2C-0x2F are its entries, not a number.
  const Bytes early = FileRecord(78, 77, u"f", img::Resident(0x80, {1}, u"", 2), img::kInUse, 1, 0x2A);
  ASSERT_EQ(early[4], 0x2A);
  auto found = ntfs::ExamineFoundRecord(early, std::nullopt);
  ASSERT_TRUE(found);
  EXPECT_FALSE(found->numberKnown);
  EXPECT_EQ(found->parent, 77u);
  found = ntfs::ExamineFoundRecord(early, 78);
  EXPECT_TRUE(found->numberKnown);
  EXPECT_EQ(found->recordNumber, 78u);
}

TEST(NtfsExamineFoundRecord, DamagedOrForeignBytesAreNoRecord) {
  Bytes torn = FolderRecord(77, 40, u"dir", {});
  torn[1022] ^= 0x01;
  EXPECT_FALSE(ntfs::ExamineFoundRecord(torn, std::nullopt));
  Bytes other = FolderRecord(77, 40, u"dir", {});
  other[4] = 0x28;
  EXPECT_FALSE(ntfs::HasRecordSignature(other));
  EXPECT_FALSE(ntfs::ExamineFoundRecord(other, std::nullopt));
  // Too short to hold a record.
  EXPECT_FALSE(ntfs::ExamineFoundRecord(std::span<const std::uint8_t>(torn).first(600), std::nullopt));
}

}  // namespace
}  // namespace corvan
