// The journal reader over journals laid out from the format's description:
// it finds the record pages behind the restart area, keeps the images of the
// records that rewrote a target's mapping pairs and rebuilds the runs.

#include <gtest/gtest.h>

#include "engines/ntfs/NtfsLogFile.h"
#include "support/NtfsJournalBuilder.h"

namespace corvan::ntfs {
namespace {

namespace img = test::ntfsimg;
using img::Bytes;

constexpr std::uint32_t kClusterBytes = 4096;

LogTarget Target() {
  LogTarget t;
  t.recordNumber = 81;
  t.recordLcn = 0x2A;
  t.recordVcn = 20;
  t.blockInCluster = 2;
  t.dataAttributeOffset = 0x168;
  t.pairsOffset = 0x40;
  return t;
}

img::LogChange PairsChange(const Bytes& undo, const Bytes& redo, std::uint16_t attributeOffset = 0x40) {
  img::LogChange c;
  c.redoOp = c.undoOp = kLogUpdateMappingPairs;
  c.undo = undo;
  c.redo = redo;
  c.recordOffset = 0x168;
  c.attributeOffset = attributeOffset;
  c.blockOffset = 2;
  c.targetVcn = 20;
  c.lcn = 0x2A;
  return c;
}

// The runs a file had: 4 clusters at 0x1000, 3 at 0x2000.
const Bytes kOldPairs = img::Pairs({{0x1000, 4}, {0x2000, 3}});

std::vector<LogRebuild> Rebuild(const Bytes& journal, std::vector<LogTarget> targets = {Target()},
                            std::size_t* images = nullptr) {
  LogFileReader reader(journal, kClusterBytes);
  reader.Init(std::move(targets));
  if (!reader.FindStartPage() || !reader.CollectImages()) return {};
  if (images) *images = reader.ImageCount();
  return reader.RebuildRuns();
}

TEST(LogFileReader, RecordPagesBehindTheRestartAreaAreRead) {
  // The file's deletion: its pairs before (undo) and after (an empty list).
  const Bytes page = img::RecordPage(100, img::LogRecord(100, PairsChange(kOldPairs, {0x00})));
  const auto results = Rebuild(img::Journal({page}, 16));
  ASSERT_EQ(results.size(), 1u);
  const LogRebuild& r = results[0];
  EXPECT_TRUE(r.valid);
  EXPECT_EQ(r.recordNumber, 81u);
  EXPECT_EQ(r.runs, (std::vector<DataExtent>{{0, 0x1000, 4, false}, {4, 0x2000, 3, false}}));
  EXPECT_EQ(r.totalClusters, 7u);
  EXPECT_EQ(r.allocatedSize, 7u * kClusterBytes);
  EXPECT_EQ(r.realSize, 0u) << "no size change was logged";
}

TEST(LogFileReader, AFileWrittenFromNothingTakesItsRedoImage) {
  // Undo starting with a zero byte: there were no runs before.
  const Bytes page = img::RecordPage(50, img::LogRecord(50, PairsChange({0x00}, kOldPairs)));
  const auto results = Rebuild(img::Journal({page}, 8));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].totalClusters, 7u);
}

TEST(LogFileReader, TwoRewritesAtDifferentOffsetsAreJoined) {
  // First the head of the list was logged, later the rest from its fifth
  // byte on (attribute offset = pairs offset + 4).
  const Bytes head(kOldPairs.begin(), kOldPairs.begin() + 4);
  const Bytes rest(kOldPairs.begin() + 4, kOldPairs.end() - 1);
  Bytes data = img::LogRecord(10, PairsChange(head, {0x00}));
  const Bytes second = img::LogRecord(11, PairsChange(rest, {0x00}, 0x44));
  data.insert(data.end(), second.begin(), second.end());
  const auto results = Rebuild(img::Journal({img::RecordPage(11, data)}, 8));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].runs, (std::vector<DataExtent>{{0, 0x1000, 4, false}, {4, 0x2000, 3, false}}));
}

TEST(LogFileReader, AttributeOffsetOnePastThePairsStillMatches) {
  // The header byte was kept; the change starts at the length field.
  const Bytes tail(kOldPairs.begin() + 1, kOldPairs.end());
  Bytes data = img::LogRecord(20, PairsChange({kOldPairs[0]}, {0x00}));
  const Bytes second = img::LogRecord(21, PairsChange(tail, {0x00}, 0x41));
  data.insert(data.end(), second.begin(), second.end());
  const auto results = Rebuild(img::Journal({img::RecordPage(21, data)}, 8));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].totalClusters, 7u);
}

TEST(LogFileReader, ARecordSpanningThreePagesIsAssembledAndTheNextOneFollows) {
  // Undo image: the pairs, then padding that carries the record over two
  // page boundaries.
  Bytes bigUndo = kOldPairs;
  bigUndo.resize(9000, 0);
  const Bytes big = img::LogRecord(300, PairsChange(bigUndo, {0x00}));
  ASSERT_GT(big.size(), 2u * 4032);
  // A second target's record right after the big one, in the third page.
  LogTarget other = Target();
  other.recordNumber = 82;
  other.blockInCluster = 4;
  img::LogChange c = PairsChange(img::Pairs({{0x3000, 9}}), {0x00});
  c.blockOffset = 4;
  Bytes stream = big;
  const std::size_t fill = (4096 - 0x40) - 0x100;  // the big record starts 0x100 into the first page
  Bytes firstData(0x100, 0);
  // A record the walk must pass over: another file entirely.
  img::LogChange unrelated = PairsChange(img::Pairs({{0x9000, 1}}), {0x00});
  unrelated.lcn = 0x77;
  const Bytes filler = img::LogRecord(299, unrelated);
  ASSERT_LE(filler.size(), 0x100u);
  std::copy(filler.begin(), filler.end(), firstData.begin());
  // Pad the filler record's slot: a record of length 0x100 exactly.
  Bytes page1 = firstData;
  page1.insert(page1.end(), big.begin(), big.begin() + static_cast<std::ptrdiff_t>(fill));
  Bytes page2(big.begin() + static_cast<std::ptrdiff_t>(fill), big.begin() + static_cast<std::ptrdiff_t>(fill + 4032));
  Bytes page3(big.begin() + static_cast<std::ptrdiff_t>(fill + 4032), big.end());
  while (page3.size() % 8) page3.push_back(0);
  const Bytes after = img::LogRecord(301, c);
  page3.insert(page3.end(), after.begin(), after.end());
  // Patch the filler's client length so the next record starts at 0x140.
  const std::uint32_t fillerClient = 0x100 - 0x30;
  for (int i = 0; i < 4; ++i) page1[0x18 + i] = static_cast<std::uint8_t>(fillerClient >> (8 * i));
  const Bytes journal =
      img::Journal({img::RecordPage(299, page1), img::RecordPage(299, page2), img::RecordPage(301, page3)}, 12);
  const auto results = Rebuild(journal, {Target(), other});
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].recordNumber, 81u);
  EXPECT_EQ(results[0].totalClusters, 7u);
  EXPECT_EQ(results[1].recordNumber, 82u);
  EXPECT_EQ(results[1].totalClusters, 9u);
}

TEST(LogFileReader, RecordsOfOtherClustersBlocksOrAttributesAreLeftAlone) {
  std::vector<img::LogChange> changes(4, PairsChange(kOldPairs, {0x00}));
  changes[0].lcn = 0x2B;
  changes[1].blockOffset = 3;
  changes[2].recordOffset = 0x100;
  changes[3].targetVcn = 21;
  Bytes data;
  std::uint64_t lsn = 5;
  for (const auto& c : changes) {
    const Bytes r = img::LogRecord(lsn++, c);
    data.insert(data.end(), r.begin(), r.end());
  }
  std::size_t images = 99;
  EXPECT_TRUE(Rebuild(img::Journal({img::RecordPage(lsn, data)}, 8), {Target()}, &images).empty());
  EXPECT_EQ(images, 0u);
}

TEST(LogFileReader, OlderRecordsLeftInAPageAreNotRead) {
  // A stale record (lower LSN) after a current one: the page ends there.
  Bytes data = img::LogRecord(500, PairsChange({0x00}, img::Pairs({{0x100, 2}})));
  const Bytes stale = img::LogRecord(40, PairsChange(kOldPairs, {0x00}));
  data.insert(data.end(), stale.begin(), stale.end());
  const auto results = Rebuild(img::Journal({img::RecordPage(500, data)}, 8));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].totalClusters, 2u) << "only the current record's redo image";
}

TEST(LogFileReader, SizeChangesGiveTheRealSize) {
  Bytes data = img::LogRecord(70, PairsChange(kOldPairs, {0x00}));
  img::LogChange sizes = PairsChange({}, {});
  sizes.redoOp = sizes.undoOp = kLogSetNewAttributeSizes;
  sizes.attributeOffset = 0x28;
  Bytes before(24, 0), after(24, 0);
  const std::uint64_t allocated = 7 * kClusterBytes, real = 7 * kClusterBytes - 1234;
  for (int i = 0; i < 8; ++i) {
    before[i] = static_cast<std::uint8_t>(allocated >> (8 * i));
    before[8 + i] = static_cast<std::uint8_t>(real >> (8 * i));
    before[16 + i] = static_cast<std::uint8_t>(real >> (8 * i));
  }
  sizes.undo = before;
  sizes.redo = after;
  const Bytes s = img::LogRecord(71, sizes);
  data.insert(data.end(), s.begin(), s.end());
  const auto results = Rebuild(img::Journal({img::RecordPage(71, data)}, 8));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].realSize, real);
}

TEST(LogFileReader, AWrappedJournalStartsAtItsOldestPage) {
  // Pages 4 and 5 hold the newest records, page 6 the oldest: the walk
  // starts at page 6, so the rewrite logged last wins.
  const Bytes newer = img::RecordPage(900, img::LogRecord(900, PairsChange(img::Pairs({{0x5000, 5}}), {0x00})));
  const Bytes newest = img::RecordPage(901, img::LogRecord(901, PairsChange({0x00}, {0x00})));
  const Bytes oldest = img::RecordPage(10, img::LogRecord(10, PairsChange(kOldPairs, {0x00})));
  LogFileReader reader(img::Journal({newer, newest, oldest}, 7), kClusterBytes);
  reader.Init({Target()});
  ASSERT_TRUE(reader.FindStartPage());
  EXPECT_EQ(reader.StartPage(), 6u);
  ASSERT_TRUE(reader.CollectImages());
  const auto results = reader.RebuildRuns();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].totalClusters, 5u);
}

TEST(LogFileReader, AJournalWithoutRecordPagesGivesNothing) {
  LogFileReader reader(img::Journal({}, 16), kClusterBytes);
  reader.Init({Target()});
  EXPECT_FALSE(reader.FindStartPage());
  LogFileReader empty({}, kClusterBytes);
  empty.Init({Target()});
  EXPECT_FALSE(empty.FindStartPage());
  EXPECT_FALSE(empty.CollectImages());
}

}  // namespace
}  // namespace corvan::ntfs
