// The layout rebuild by vote: cluster-size estimates, the vote table, the
// layout each winning data-area start gives, and the search of a volume for
// folder-start sectors, checked against layouts The Sleuth Kit reports.

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "engines/fat/FatCorpusChecks.h"
#include "engines/fat/FatImageBuilder.h"
#include "engines/fat/FatRebuild.h"
#include "engines/fat/FatVote.h"
#include "sources/FatBootSector.h"

namespace corvan {
namespace {

using fattest::Corpus;
using fattest::FatImage;
using fattest::Harness;
using fattest::PutDotEntries;
using fattest::ReadReferenceRows;

std::vector<DirectoryClusterRecord> Records(std::initializer_list<std::pair<std::uint32_t, std::uint32_t>> sc) {
  std::vector<DirectoryClusterRecord> r;
  for (const auto& [s, c] : sc) r.push_back({s, c, 0});
  return r;
}

// Folder-start sectors of a volume whose data area starts at `d` with `spc`
// sectors a cluster, for the clusters given.
std::vector<DirectoryClusterRecord> FoldersAt(std::uint32_t d, std::uint32_t spc,
                                              std::initializer_list<std::uint32_t> clusters) {
  std::vector<DirectoryClusterRecord> r;
  for (const std::uint32_t c : clusters) r.push_back({d + (c - 2) * spc, c, 0});
  return r;
}

TEST(FatVoteTable, SpacingGivesTheClusterSizeAndEveryFolderVotesForOneStart) {
  auto records = Records({{1000, 5}, {1008, 6}, {1040, 10}});
  EXPECT_EQ(EstimateClusterSizes(records), 8);
  for (const auto& r : records) EXPECT_EQ(r.estimate, 8);
  const auto votes = CollectVotes(records);
  ASSERT_EQ(votes.size(), 1u);
  EXPECT_EQ(votes[0].start, 976u);
  EXPECT_EQ(votes[0].votes, 3u);
  EXPECT_EQ(votes[0].sectorsPerCluster, 8u);
}

TEST(FatVoteTable, FarStartsVoteOnlyWithLargeClusters) {
  // D = 600 with 4 sectors a cluster is too far to believe; with 8 it votes.
  auto four = FoldersAt(600, 4, {10, 11, 13});
  EXPECT_EQ(EstimateClusterSizes(four), 4);
  EXPECT_TRUE(CollectVotes(four).empty());
  auto eight = FoldersAt(600, 8, {10, 11, 13});
  EXPECT_EQ(EstimateClusterSizes(eight), 8);
  const auto votes = CollectVotes(eight);
  ASSERT_EQ(votes.size(), 1u);
  EXPECT_EQ(votes[0].start, 600u);
  // At 555 any cluster size still votes.
  auto near = FoldersAt(555, 2, {4, 9});
  EstimateClusterSizes(near);
  ASSERT_EQ(CollectVotes(near).size(), 1u);
}

TEST(FatVoteTable, TiesGoToTheLargerClusterSize) {
  std::vector<VoteRecord> table;
  VoteTableAdd(table, 100, 4);
  VoteTableAdd(table, 300, 2);
  VoteTableAdd(table, 200, 8);
  VoteTableAdd(table, 300, 2);
  VoteTableAdd(table, 100, 4);
  VoteTableAdd(table, 200, 8);
  VoteTableAdd(table, 50, 1);
  ASSERT_EQ(table.size(), 4u);
  VoteTableSort(table);
  EXPECT_EQ(table[0].start, 200u);
  EXPECT_EQ(table[1].start, 100u);
  EXPECT_EQ(table[2].start, 300u);
  EXPECT_EQ(table[3].start, 50u);
  EXPECT_EQ(table[3].votes, 1u);
}

TEST(FatVoteTable, PairsThatDisagreeLeaveNoEstimate) {
  // 3 sectors a cluster is no power of two; a lone record has no pair.
  auto odd = Records({{100, 2}, {103, 3}});
  EXPECT_EQ(EstimateClusterSizes(odd), 0);
  EXPECT_EQ(odd[0].estimate, 0);
  auto alone = Records({{100, 2}});
  EXPECT_EQ(EstimateClusterSizes(alone), 0);
  // Ties go to the smaller size: one pair says 1, one says 2, the others
  // nothing.
  auto tie = Records({{100, 10}, {101, 11}, {330, 50}, {332, 51}});
  EXPECT_EQ(EstimateClusterSizes(tie), 1);
}

TEST(FatVoteTable, ClusterNumbersBeyondTheSectorDoNotWrapIntoAVote) {
  // In 32 bits 1000 - 0x80000000 x 2 is 1000 again.
  auto records = Records({{1000, 0x80000002u}, {1002, 0x80000003u}});
  EXPECT_EQ(EstimateClusterSizes(records), 2);
  EXPECT_TRUE(CollectVotes(records).empty());
}

// ---- the layout of the winning start ----

struct LayoutCase {
  const char* what;
  std::vector<DirectoryClusterRecord> records;
  std::set<std::uint64_t> signedSectors;  // sectors that begin with F8 FF FF
  std::uint64_t sectors;
  std::uint8_t kind;
  std::uint32_t reserved, fatSize, rootSectors;
  std::uint8_t spc;
  bool accepted;
};
void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.what; }

class FatVoteLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(FatVoteLayout, WinningStartGivesTheLayout) {
  LayoutCase c = GetParam();
  const VotedLayout v =
      VoteLayout(c.records, c.sectors, [&](std::uint64_t s) { return c.signedSectors.count(s) != 0; });
  EXPECT_EQ(v.kind, c.kind);
  EXPECT_EQ(v.reservedSectors, c.reserved);
  EXPECT_EQ(v.fatSize, c.fatSize);
  EXPECT_EQ(v.rootDirSectors, c.rootSectors);
  EXPECT_EQ(v.sectorsPerCluster, c.spc);
  EXPECT_EQ(v.accepted, c.accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, FatVoteLayout,
    ::testing::Values(
        // The corpus volumes as fsstat gives them.
        LayoutCase{"fat12", FoldersAt(45, 4, {3, 5, 9}), {1, 7}, 8192, kFat12, 1, 6, 32, 4, true},
        LayoutCase{"fat16", FoldersAt(132, 4, {3, 5, 9}), {4, 52}, 49152, kFat16, 4, 48, 32, 4, true},
        // Without FAT1's signature FAT16 keeps 13 reserved sectors (14 with
        // the odd remainder), and the FAT so left is too small for the volume.
        LayoutCase{"fat16 without FAT1", FoldersAt(132, 4, {3, 5, 9}), {52}, 49152, kFat16, 14, 43, 32, 4, false},
        LayoutCase{"odd remainder", FoldersAt(133, 4, {3, 5, 9}), {4, 52}, 49152, kFat16, 5, 48, 32, 4, true},
        LayoutCase{"fat32", FoldersAt(2232, 8, {3, 5, 9}), {32, 1132}, 802232, kFat32, 32, 1100, 0, 8, true},
        LayoutCase{"fat32 from FAT2", FoldersAt(2234, 8, {3, 5, 9}), {1134}, 802234, kFat32, 34, 1100, 0, 8, true},
        // 976 - 1 - 32 halves to 471: between FAT16's and FAT32's sizes, so
        // no kind fits and the FAT size examined stays.
        LayoutCase{"between kinds", FoldersAt(976, 8, {5, 6, 10}), {}, 200000, kFat16, 1, 471, 32, 8, false},
        // D smaller than reserved + root: no FAT at all, not a huge FAT32.
        LayoutCase{"start too small", FoldersAt(20, 1, {3, 4, 7}), {}, 8192, kFat16, 1, 0, 32, 1, false},
        LayoutCase{"no folders", {}, {}, 8192, kFat16, 1, 0, 32, 0, false}),
    [](const auto& info) {
      std::string name = info.param.what;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

TEST(FatVoteLayoutCandidates, EqualVotesAreTriedLargerClusterFirst) {
  // Two starts with two votes each: D = 600 with 8 sectors a cluster (no
  // kind fits: 283 sectors of FAT) is tried first, then D = 45 with 4.
  std::vector<DirectoryClusterRecord> records = FoldersAt(600, 8, {100, 101});
  for (const auto& r : FoldersAt(45, 4, {3000, 3001})) records.push_back(r);
  EstimateClusterSizes(records);
  const auto votes = CollectVotes(records);
  ASSERT_EQ(votes.size(), 2u);
  EXPECT_EQ(votes[0].sectorsPerCluster, 8u);
  const VotedLayout v = VoteLayout(records, 8192, [](std::uint64_t) { return false; });
  EXPECT_TRUE(v.accepted);
  EXPECT_EQ(v.sectorsPerCluster, 4);
  EXPECT_EQ(v.kind, kFat12);
  EXPECT_EQ(v.fatSize, 6u);
}

// ---- the layout from the FAT copies ----

// A disk of zero sectors with a corpus volume laid in at `at`, read as the
// lost-volume search and the engine read a disk.
class RebuildDisk {
 public:
  RebuildDisk(const std::string& volume, std::uint64_t at, std::uint64_t sectors) : bytes_(sectors * kSectorSize) {
    const auto image = fattest::ReadImage(Corpus(volume + ".img"));
    std::copy(image.begin(), image.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at * kSectorSize));
  }
  void Zero(std::uint64_t sector) {
    std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(sector * kSectorSize), kSectorSize, 0);
  }
  void PutLE32(std::uint64_t sector, std::size_t offset, std::uint32_t value) {
    test::SetLE32(bytes_.data() + sector * kSectorSize + offset, value);
  }
  DiskSectorReader Reader() {
    return [this](std::uint64_t sector, std::uint8_t* buffer, std::size_t count) {
      if ((sector + count) * kSectorSize > bytes_.size()) {
        std::memset(buffer, 0, count * kSectorSize);
        return false;
      }
      std::memcpy(buffer, bytes_.data() + sector * kSectorSize, count * kSectorSize);
      return true;
    };
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

TEST(FatRebuild, Fat32StartAndSizeComeFromItsFsInfoSectors) {
  const auto [reserved, fatSize, rootSectors, dataStart, spc] = fattest::FsstatLayout("fat32");
  const std::uint64_t at = 5000, sectors = 81920;  // the manifest's size
  RebuildDisk disk("fat32", at, at + sectors + 4000);
  auto rebuild = [&](std::uint64_t floor = 0) {
    FatRebuildBounds bounds;
    bounds.floor = floor;
    return RebuildFatLayout(disk.Reader(), at + dataStart, static_cast<std::uint8_t>(spc), bounds);
  };
  RebuiltFatLayout r = rebuild();
  ASSERT_TRUE(r.rebuilt);
  EXPECT_TRUE(r.bothCopies);
  EXPECT_EQ(r.start, at);
  EXPECT_EQ(r.startFrom, FatStartEvidence::FsInfo);
  EXPECT_EQ(r.layout.kind, kFat32);
  EXPECT_EQ(r.layout.reservedSectors, reserved);
  EXPECT_EQ(r.layout.fatSize, fatSize);
  EXPECT_EQ(r.layout.rootDirSectors, rootSectors);
  EXPECT_EQ(r.layout.rootCluster, 2u);  // fsstat: "Root Directory: 2"
  // The FSInfo's free count and the FAT's allocated entries: every cluster.
  EXPECT_EQ(r.sizeFrom, FatSizeEvidence::FsInfoCount);
  EXPECT_EQ(r.layout.sectorCount, sectors);

  // The FSInfo gone: its backup in sector 7 places the start, and its free
  // count, as mkfs.fat wrote it (every cluster but the root folder's: the
  // volume was filled later), still gives the size.
  disk.Zero(at + 1);
  r = rebuild();
  ASSERT_TRUE(r.rebuilt);
  EXPECT_EQ(r.start, at);
  EXPECT_EQ(r.startFrom, FatStartEvidence::BackupFsInfo);
  EXPECT_EQ(r.sizeFrom, FatSizeEvidence::FsInfoCount);
  EXPECT_EQ(r.layout.sectorCount, sectors);

  // Both gone: the usual 32 reserved sectors in front of the first FAT,
  // unless what lies before leaves fewer; the size as far as the FAT
  // reaches (630 x 128 entries less the two reserved ones).
  disk.Zero(at + 7);
  r = rebuild();
  ASSERT_TRUE(r.rebuilt);
  EXPECT_EQ(r.startFrom, FatStartEvidence::UsualReserved);
  EXPECT_EQ(r.start, at);
  EXPECT_EQ(r.sizeFrom, FatSizeEvidence::FatLength);
  EXPECT_EQ(r.layout.sectorCount, dataStart + (fatSize * 128ull - 2) * spc);
  r = rebuild(at + 20);
  ASSERT_TRUE(r.rebuilt);
  EXPECT_EQ(r.start, at + 20);
  EXPECT_EQ(r.FirstFat(), at + reserved);
  EXPECT_EQ(r.DataStart(), at + dataStart);
}

TEST(FatRebuild, AStaleFsInfoFreeCountIsNoSize) {
  // The corpus FAT32 volume without boot sectors. Its FSInfo's free count
  // set to 0, as a driver may leave it, would make it 3,416 clusters (its
  // allocated ones) where the FAT's 630 sectors address 80,638: no count.
  const auto [reserved, fatSize, rootSectors, dataStart, spc] = fattest::FsstatLayout("fat32");
  const std::uint64_t at = 5000, sectors = 81920;  // the manifest's size
  RebuildDisk disk("fat32", at, at + sectors + 4000);
  disk.Zero(at);
  disk.Zero(at + 6);
  auto rebuild = [&] {
    return RebuildFatLayout(disk.Reader(), at + dataStart, static_cast<std::uint8_t>(spc), FatRebuildBounds{});
  };
  disk.PutLE32(at + 1, 488, 0);
  RebuiltFatLayout r = rebuild();
  ASSERT_TRUE(r.rebuilt);
  EXPECT_EQ(r.start, at);
  // The backup's count, left as mkfs.fat wrote it, agrees with the FAT.
  EXPECT_EQ(r.sizeFrom, FatSizeEvidence::FsInfoCount);
  EXPECT_EQ(r.layout.sectorCount, sectors);
  // The backup's count unknown as well: as far as the FAT reaches.
  disk.PutLE32(at + 7, 488, 0xFFFFFFFFu);
  r = rebuild();
  ASSERT_TRUE(r.rebuilt);
  EXPECT_EQ(r.sizeFrom, FatSizeEvidence::FatLength);
  EXPECT_EQ(r.layout.sectorCount, dataStart + (fatSize * 128ull - 2) * spc);
  EXPECT_EQ(r.layout.reservedSectors, reserved);
  EXPECT_EQ(r.layout.rootDirSectors, rootSectors);
}

TEST(FatRebuild, RebuildsSharingAnIndexReadEachSectorOnceAndFindWhatTheyFindAlone) {
  // The corpus FAT16 volume at 3000, and 200 data areas tried above it, as
  // folder groups past a volume imply them.
  const auto [reserved, fatSize, rootSectors, dataStart, spc] = fattest::FsstatLayout("fat16");
  const std::uint64_t at = 3000, sectors = 60000;
  RebuildDisk disk("fat16", at, sectors);
  std::uint64_t read = 0;
  const DiskSectorReader counted = [&](std::uint64_t sector, std::uint8_t* buffer, std::size_t count) {
    read += count;
    return disk.Reader()(sector, buffer, count);
  };
  FatSectorIndex index(counted);
  for (std::uint64_t d = 55000; d < 55000 + 200 * 8; d += 8) {
    const RebuiltFatLayout shared = RebuildFatLayout(index, d, 1, FatRebuildBounds{});
    const RebuiltFatLayout alone = RebuildFatLayout(disk.Reader(), d, 1, FatRebuildBounds{});
    EXPECT_EQ(shared.fatSeen, alone.fatSeen) << d;
    EXPECT_EQ(shared.rebuilt, alone.rebuilt) << d;
  }
  // The volume's own data area through the same index.
  const RebuiltFatLayout own = RebuildFatLayout(index, at + dataStart, static_cast<std::uint8_t>(spc), {});
  ASSERT_TRUE(own.rebuilt);
  EXPECT_EQ(own.layout.fatSize, fatSize);
  EXPECT_EQ(own.DataStart(), at + dataStart);
  EXPECT_LE(read, sectors);
  EXPECT_EQ(index.SectorsRead(), read);

  // Asked to stop, it reads nothing more, and a rebuild finds nothing.
  bool stop = false;
  read = 0;
  FatSectorIndex stopping(counted, FatSectorIndex::kNoBudget, [&] { return stop; });
  stop = true;
  const RebuiltFatLayout stopped = RebuildFatLayout(stopping, at + dataStart, static_cast<std::uint8_t>(spc), {});
  EXPECT_FALSE(stopped.rebuilt);
  EXPECT_TRUE(stopping.Stopped());
  EXPECT_EQ(read, 0u);
  // Past its budget, the same.
  FatSectorIndex small(counted, 1000);
  EXPECT_FALSE(RebuildFatLayout(small, 55000, 1, {}).rebuilt);
  EXPECT_TRUE(small.Ended());
  EXPECT_FALSE(small.Stopped());
  EXPECT_LE(small.SectorsRead(), 1000u);
}

TEST(FatRebuild, SmallFatsArePlacedByTheirCopiesAndTheRootBetweenThem) {
  for (const auto& [volume, kind] : {std::pair{"fat12", kFat12}, std::pair{"fat16", kFat16}}) {
    SCOPED_TRACE(volume);
    const auto [reserved, fatSize, rootSectors, dataStart, spc] = fattest::FsstatLayout(volume);
    const std::uint64_t at = 3000;
    RebuildDisk disk(volume, at, at + 60000);
    disk.Zero(at);  // no boot sector
    FatRebuildBounds bounds;
    RebuiltFatLayout r = RebuildFatLayout(disk.Reader(), at + dataStart, static_cast<std::uint8_t>(spc), bounds);
    ASSERT_TRUE(r.rebuilt);
    EXPECT_TRUE(r.bothCopies);
    EXPECT_EQ(r.layout.kind, kind);
    EXPECT_EQ(r.layout.fatSize, fatSize);
    EXPECT_EQ(r.layout.rootDirSectors, rootSectors);
    // Nothing tells how many reserved sectors the lost boot sector gave:
    // the start is taken one sector before the first FAT, which stays where
    // its copy lies.
    EXPECT_EQ(r.startFrom, FatStartEvidence::UsualReserved);
    EXPECT_EQ(r.FirstFat(), at + reserved);
    EXPECT_EQ(r.start, at + reserved - 1);
    EXPECT_EQ(r.DataStart(), at + dataStart);
    // A partition table's start and size are kept.
    bounds.start = at;
    bounds.sectorCount = 20000;
    r = RebuildFatLayout(disk.Reader(), at + dataStart, static_cast<std::uint8_t>(spc), bounds);
    ASSERT_TRUE(r.rebuilt);
    EXPECT_EQ(r.start, at);
    EXPECT_EQ(r.layout.reservedSectors, reserved);
    EXPECT_EQ(r.layout.sectorCount, 20000u);
    EXPECT_EQ(r.sizeFrom, FatSizeEvidence::Given);
  }
}

TEST(FatRebuild, NoCopiesOrCopiesThatFitNoLayoutGiveNone) {
  const auto [reserved, fatSize, rootSectors, dataStart, spc] = fattest::FsstatLayout("fat16");
  RebuildDisk disk("fat16", 0, 60000);
  FatRebuildBounds bounds;
  // A data area whose cluster size is no power of two, or that nothing
  // precedes.
  EXPECT_FALSE(RebuildFatLayout(disk.Reader(), dataStart, 3, bounds).rebuilt);
  EXPECT_FALSE(RebuildFatLayout(disk.Reader(), 0, 4, bounds).rebuilt);
  // Both copies zeroed: nothing in front of the data area looks like a FAT.
  disk.Zero(reserved);
  disk.Zero(reserved + fatSize);
  RebuiltFatLayout r = RebuildFatLayout(disk.Reader(), dataStart, static_cast<std::uint8_t>(spc), bounds);
  EXPECT_FALSE(r.rebuilt);
  EXPECT_FALSE(r.fatSeen);
  // A data area ten sectors into the second copy: the copies leave no room
  // for a FAT and a root folder in front of it.
  RebuildDisk near("fat16", 0, 60000);
  r = RebuildFatLayout(near.Reader(), reserved + fatSize + 10, static_cast<std::uint8_t>(spc), bounds);
  EXPECT_TRUE(r.fatSeen);
  EXPECT_FALSE(r.rebuilt);
}

// ---- the search over a volume ----

TEST(FatLayoutSearch, HealthyCorpusVolumesAreRebuiltAsFsstatReportsThem) {
  for (const auto& row : ReadReferenceRows("layouts.tsv")) {
    ASSERT_EQ(row.size(), 7u);
    const std::string volume = row[0];
    const std::uint8_t kind = row[1] == "FAT12" ? kFat12 : row[1] == "FAT16" ? kFat16 : kFat32;
    Harness h;
    h.MountFile(Corpus(volume + ".img"));
    auto engine = h.Engine(kind);
    // FAT32's folders lie a sector a cluster apart 1292 sectors in, too far
    // for the vote alone: its FAT copies confirm where its data area starts.
    const std::uint32_t spc = engine->SearchDirectoryClusters();
    EXPECT_EQ(spc, std::stoul(row[6])) << volume;
    EXPECT_EQ(engine->Layout().kind, kind) << volume;
    EXPECT_EQ(engine->Layout().reservedSectors, std::stoul(row[2])) << volume;
    EXPECT_EQ(engine->Layout().fatSize, std::stoul(row[3])) << volume;
    EXPECT_EQ(engine->Layout().rootDirSectors, std::stoul(row[4])) << volume;
    EXPECT_EQ(engine->Layout().DataStart(), std::stoul(row[5])) << volume;
    EXPECT_EQ(engine->FatSource(), kFatSourceFat1) << volume;
    EXPECT_FALSE(engine->Fat().empty()) << volume;
    const std::string log = h.app.LogPendingText();
    EXPECT_NE(log.find("Calculating system parameters"), std::string::npos);
    EXPECT_EQ(h.app.CriticalPhaseFlag().load(), 0u);
    ASSERT_FALSE(h.progress.stopStates.empty());
    EXPECT_TRUE(h.progress.stopStates.back());
  }
}

TEST(FatLayoutSearch, DisketteDriveTakesTheDisketteLayoutWithoutVoting) {
  // A partition record of drive byte 0 (the first diskette drive): the
  // layout is the 1.44 MB diskette's, whatever the folders say. A record of
  // an image's volume carries 0xFF and votes.
  Harness h;
  h.MountFile(Corpus("fat16.img"));
  SourceRecord source = fattest::VolumeSource(0, h.sectors, kFat16);
  source.partition->diskNumber = 0;
  FatEngine engine(h.app);
  engine.Prepare(MakeVolume(source, h.disk, false));
  EXPECT_EQ(engine.SearchDirectoryClusters(), 1u);
  EXPECT_EQ(engine.Layout().kind, kFat12);
  EXPECT_EQ(engine.SectorsPerCluster(), 1u);
  EXPECT_EQ(engine.Layout().fatSize, 9u);
  EXPECT_EQ(engine.Layout().reservedSectors, 1u);
  EXPECT_EQ(engine.Layout().rootDirSectors, 14u);
}

TEST(FatLayoutSearch, FoldersPastTheFirstQuarterAreStillFound) {
  // Two folders in the last quarter of a FAT16 volume, none before.
  FatImage image = fattest::SmallFat16();  // reserved 1, FATs of 32, root 32: D = 97
  PutDotEntries(image.Cluster(7000), 7000, 0);
  PutDotEntries(image.Cluster(7004), 7004, 7000);
  std::fill_n(image.Bytes().begin(), kSectorSize, 0);  // no boot sector
  Harness h;
  h.MountBytes(image.Bytes());
  auto engine = h.Engine(kFat16);
  EXPECT_EQ(engine->SearchDirectoryClusters(), 1u);
  EXPECT_EQ(engine->Layout().reservedSectors, 1u);
  EXPECT_EQ(engine->Layout().fatSize, 32u);
  EXPECT_EQ(engine->Layout().DataStart(), 97u);
}

TEST(FatLayoutSearch, NothingFoundLeavesNoLayout) {
  Harness h;
  h.MountBytes(std::vector<std::uint8_t>(4096 * kSectorSize, 0));
  auto engine = h.Engine(kFat16);
  EXPECT_EQ(engine->SearchDirectoryClusters(), 0u);
  EXPECT_EQ(engine->Layout().fatSize, 0u);
  EXPECT_EQ(engine->SectorsPerCluster(), 0u);
  EXPECT_TRUE(engine->Fat().empty());
}

TEST(FatLayoutSearch, ReadsStopAtTheVolumesEnd) {
  // A volume record that claims more than the image holds: the reads past
  // the image fail, leave zeros and are logged; the folders inside vote.
  FatImage image = fattest::SmallFat16();
  PutDotEntries(image.Cluster(3000), 3000, 0);
  PutDotEntries(image.Cluster(3002), 3002, 0);
  Harness h;
  h.MountBytes(image.Bytes());
  FatEngine engine(h.app);
  engine.Prepare(MakeVolume(fattest::VolumeSource(0, 4 * h.sectors, kFat16), h.disk, false));
  // No candidate fits 32768 sectors; the one examined stays.
  EXPECT_EQ(engine.SearchDirectoryClusters(), 1u);
  EXPECT_EQ(engine.Layout().DataStart(), 97u);
  EXPECT_NE(h.app.LogPendingText().find("Error reading sector: 8192"), std::string::npos);
}

}  // namespace
}  // namespace corvan
