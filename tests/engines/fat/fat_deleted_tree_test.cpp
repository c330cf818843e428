// The deleted-file pass, the folders found in free space and the trees
// rebuilt from them, and the orphaned directory clusters of Advance
// Recovery, over small volumes built for one case each.

#include <gtest/gtest.h>

#include <set>

#include "engines/fat/FatImageBuilder.h"
#include "support/FatTestVolume.h"
#include "support/SyntheticDisk.h"

namespace corvan {
namespace {

using fattest::FatImage;
using fattest::Harness;
using fattest::PutDotEntries;
using fattest::PutShortEntry;
using fattest::SmallFat16;
using fattest::SmallFat32;

std::unique_ptr<FatEngine> Mounted(Harness& h, FatImage& image, std::uint8_t kind) {
  h.MountBytes(image.Bytes());
  return h.Engine(kind);
}

std::set<std::string> Paths(const Harness& h) {
  std::set<std::string> paths;
  for (const auto& [path, item] : h.ItemsByPath()) paths.insert(path);
  return paths;
}

void ExpectIdsOnce(const Harness& h) {
  std::set<std::uint32_t> ids;
  for (const auto& [path, item] : h.ItemsByPath()) {
    EXPECT_TRUE(ids.insert(item.record.itemId).second) << path << " id " << item.record.itemId;
  }
}

// ---- the deleted-file pass ----

TEST(FatDeletedPass, LiveFoldersArriveOnlyOnTheWayToADeletedItem) {
  FatImage image = SmallFat16();
  PutShortEntry(image.Root(), "A          ", 0x10, 10, 0);
  PutShortEntry(image.Root() + 32, "R       TXT", 0x20, 30, 100);
  PutShortEntry(image.Root() + 64, "\xE5OOTDEL TXT", 0x20, 31, 100);
  PutDotEntries(image.Cluster(10), 10, 0);
  PutShortEntry(image.Cluster(10) + 64, "B          ", 0x10, 11, 0);
  PutShortEntry(image.Cluster(10) + 96, "L       TXT", 0x20, 32, 100);
  PutShortEntry(image.Cluster(10) + 128, "C          ", 0x10, 12, 0);
  PutDotEntries(image.Cluster(11), 11, 10);
  PutShortEntry(image.Cluster(11) + 64, "\xE5ONE1   TXT", 0x20, 40, 100);
  PutShortEntry(image.Cluster(11) + 96, "\xE5ONE2   TXT", 0x20, 41, 100);
  PutDotEntries(image.Cluster(12), 12, 10);
  PutShortEntry(image.Cluster(12) + 64, "KEEP    TXT", 0x20, 33, 100);
  for (const std::uint32_t c : {10u, 11u, 12u, 30u, 32u, 33u}) image.SetFat(c, image.EndOfChain());

  Harness h;
  test::RecordingFoundItemSink console;
  auto engine = Mounted(h, image, kFat16);
  engine->AttachWindows(&console, &h.progress);
  ASSERT_EQ(engine->DeepScan(1), FatScanResult::Completed);

  std::vector<std::u16string> names;
  for (const auto& item : console.items) names.push_back(item.name);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"A", u"B", u"XONE1.TXT", u"XONE2.TXT", u"XOOTDEL.TXT"}));
  ASSERT_EQ(console.roots.size(), 1u);
  ASSERT_FALSE(console.events.empty());
  EXPECT_EQ(console.events.front().kind, test::RecordingFoundItemSink::EventKind::Root);
  ASSERT_EQ(console.items.size(), 5u);
  EXPECT_EQ(console.items[1].record.parentId, console.items[0].record.itemId);
  EXPECT_EQ(console.items[2].record.parentId, console.items[1].record.itemId);
  EXPECT_FALSE(console.items[0].record.IsDeleted());
  EXPECT_TRUE(console.items[2].record.IsDeleted());
  EXPECT_EQ(console.items[4].record.parentId, kFatRootId);
  EXPECT_FALSE(engine->Poster()->HasQueued());
}

TEST(FatDeletedPass, DeletedFolderIsWalkedWithEverythingInItDeleted) {
  FatImage image = SmallFat16();
  PutShortEntry(image.Root(), "\xE5ONE       ", 0x10, 20, 0);
  PutDotEntries(image.Cluster(20), 20, 0);
  PutShortEntry(image.Cluster(20) + 64, "INNER   TXT", 0x20, 21, 700);     // entry not marked
  PutShortEntry(image.Cluster(20) + 96, "DEEPER     ", 0x10, 22, 0);      // a folder inside
  PutDotEntries(image.Cluster(22), 22, 20);
  PutShortEntry(image.Cluster(22) + 64, "LAST    TXT", 0x20, 23, 800);
  Harness h;
  auto engine = Mounted(h, image, kFat16);
  ASSERT_EQ(engine->DeepScan(1), FatScanResult::Completed);
  const auto items = h.ItemsByPath();
  for (const char* path : {"XONE", "XONE/INNER.TXT", "XONE/DEEPER", "XONE/DEEPER/LAST.TXT"}) {
    ASSERT_EQ(items.count(path), 1u) << path;
    EXPECT_TRUE(items.find(path)->second.record.IsDeleted()) << path;
  }
  EXPECT_EQ(items.find("XONE/DEEPER/LAST.TXT")->second.record.size, 800u);
  // Its clusters were marked found: the free-space search does not list it again.
  EXPECT_EQ(items.size(), 4u);
}

// ---- folders found in free space ----

TEST(FatDeletedTree, FoundFoldersGoUnderTheirParentOrLostFolders) {
  FatImage image = SmallFat16();
  // 40 names 41 as its parent and comes first; 41's parent is the root.
  PutDotEntries(image.Cluster(40), 40, 41);
  PutShortEntry(image.Cluster(40) + 64, "INNER   TXT", 0x20, 60, 50);
  PutDotEntries(image.Cluster(41), 41, 0);
  PutShortEntry(image.Cluster(41) + 64, "SUB        ", 0x10, 40, 0);
  PutShortEntry(image.Cluster(41) + 96, "TOP     TXT", 0x20, 61, 70);
  Harness h;
  auto engine = Mounted(h, image, kFat16);
  ASSERT_EQ(engine->DeepScan(1), FatScanResult::Completed);
  const auto items = h.ItemsByPath();
  // Found folders are named by their cluster until a found folder's entry
  // gives the name.
  for (const char* path : {"Lost folder(s)", "Lost folder(s)/Folder 41", "Lost folder(s)/Folder 41/TOP.TXT",
                           "Lost folder(s)/Folder 41/SUB", "Lost folder(s)/Folder 41/SUB/INNER.TXT"}) {
    ASSERT_EQ(items.count(path), 1u) << path;
  }
  const FoundItemInfo& lost = items.find("Lost folder(s)")->second.record;
  EXPECT_EQ(lost.itemId, kFatLostFolderId);
  EXPECT_EQ(lost.parentId, kFatRootId);
  EXPECT_EQ(lost.location, 1u);
  // Ids of found folders start above the highest cluster: 8095 data
  // clusters, so 8098 for the first found (cluster 40).
  EXPECT_EQ(items.find("Lost folder(s)/Folder 41/SUB")->second.record.itemId, 8098u);
  EXPECT_EQ(items.find("Lost folder(s)/Folder 41")->second.record.itemId, 8099u);
  EXPECT_TRUE(items.find("Lost folder(s)/Folder 41/SUB/INNER.TXT")->second.record.IsDeleted());
  EXPECT_EQ(items.size(), 5u);
  EXPECT_FALSE(items.find("Lost folder(s)/Folder 41")->second.record.IsDeleted());
}

TEST(FatDeletedTree, FoldersWhoseParentsRunInACircleAreStillListed) {
  FatImage image = SmallFat16();
  PutDotEntries(image.Cluster(50), 50, 51);
  PutShortEntry(image.Cluster(50) + 64, "F50     TXT", 0x20, 70, 100);
  PutDotEntries(image.Cluster(51), 51, 50);
  PutShortEntry(image.Cluster(51) + 64, "F51     TXT", 0x20, 71, 100);
  PutDotEntries(image.Cluster(52), 52, 52);  // names itself
  PutShortEntry(image.Cluster(52) + 64, "F52     TXT", 0x20, 72, 100);
  Harness h;
  auto engine = Mounted(h, image, kFat16);
  ASSERT_EQ(engine->DeepScan(1), FatScanResult::Completed);
  const auto paths = Paths(h);
  for (const char* path : {"Lost folder(s)/Folder 50/F50.TXT", "Lost folder(s)/Folder 50/Folder 51/F51.TXT",
                           "Lost folder(s)/Folder 52/F52.TXT"}) {
    EXPECT_EQ(paths.count(path), 1u) << path;
  }
  ExpectIdsOnce(h);
}

TEST(FatDeletedTree, IdsGivenByTheRootPassAreNotGivenAgain) {
  // 165 clusters but 300 root entries: the root pass numbers past the
  // highest cluster, where the found folders' numbers would begin.
  FatImage image(kFat16, 200, 1, 1, 1, 512);
  for (int i = 0; i < 300; ++i) {
    char name[12];
    std::snprintf(name, sizeof name, "F%07dTXT", i);
    const bool deleted = i % 10 == 9;
    if (deleted) name[0] = '\xE5';
    PutShortEntry(image.Root() + 32 * i, name, 0x20, deleted ? 4 : 3, 100);
  }
  image.SetFat(3, image.EndOfChain());
  PutDotEntries(image.Cluster(100), 100, 0);
  for (int i = 0; i < 5; ++i) {
    char name[12];
    std::snprintf(name, sizeof name, "IN%06dTXT", i);
    PutShortEntry(image.Cluster(100) + 64 + 32 * i, name, 0x20, 5 + i, 100);
  }
  Harness h;
  auto engine = Mounted(h, image, kFat16);
  ASSERT_EQ(engine->DeepScan(1), FatScanResult::Completed);
  const auto paths = Paths(h);
  EXPECT_EQ(paths.count("Lost folder(s)/Folder 100/IN000004.TXT"), 1u);
  EXPECT_EQ(paths.count("X0000299.TXT"), 1u);
  EXPECT_EQ(h.store.Count(), 1u + 30 + 1 + 1 + 5);  // root, deleted root files, lost, found, its files
  ExpectIdsOnce(h);
}

TEST(FatDeletedTree, VolumeOfThreeThousandSectorsIsSearchedAClusterAtATime) {
  // Up to 3000 sectors each read is the first sector of one cluster, and
  // only that cluster is looked at.
  FatImage image(kFat16, 3000, 4, 1, 3, 512);
  PutDotEntries(image.Cluster(700), 700, 0);
  PutShortEntry(image.Cluster(700) + 64, "FILE    TXT", 0x20, 710, 100);
  PutDotEntries(image.Cluster(739), 739, 0);  // the last cluster
  PutShortEntry(image.Cluster(739) + 64, "END     TXT", 0x20, 720, 100);
  Harness h;
  auto engine = Mounted(h, image, kFat16);
  ASSERT_EQ(engine->DeepScan(1), FatScanResult::Completed);
  const auto paths = Paths(h);
  EXPECT_EQ(paths.count("Lost folder(s)/Folder 700/FILE.TXT"), 1u);
  EXPECT_EQ(paths.count("Lost folder(s)/Folder 739/END.TXT"), 1u);
}

TEST(FatDeletedTree, UnusableVolumeSaysWhyNothingIsListed) {
  Harness h;
  h.MountBytes(std::vector<std::uint8_t>(8192 * kSectorSize, 0));
  auto engine = h.Engine(kFat16);
  EXPECT_EQ(engine->DeepScan(1), FatScanResult::InvalidVolume);
  ASSERT_EQ(h.prompt.shown.size(), 1u);
  EXPECT_EQ(h.prompt.shown[0].first, "Not a valid volume, or critical data structure of volume badly corrupt.");
  EXPECT_EQ(h.store.Count(), 0u);
}

TEST(FatDeletedTree, StopEndsThePassWithoutAMessage) {
  FatImage image = SmallFat16();
  PutShortEntry(image.Root(), "\xE5OOTDEL TXT", 0x20, 31, 100);
  PutDotEntries(image.Cluster(40), 40, 0);
  Harness h;
  auto engine = Mounted(h, image, kFat16);
  h.app.m_bAbort = 1;
  EXPECT_EQ(engine->DeepScan(1), FatScanResult::Aborted);
  EXPECT_TRUE(h.prompt.shown.empty());
  EXPECT_EQ(h.store.Count(), 0u);
  EXPECT_NE(h.app.LogPendingText().find("Process aborted. User intervention"), std::string::npos);
}

TEST(FatDeletedTree, FolderEntryOfClusterZeroIsJudgedWithoutReadingIt) {
  // Clusters 0 and 1 would lie in the last two sectors of the root region
  // (one sector a cluster), which here begin with a "." and a ".." entry.
  FatImage image = SmallFat16();
  PutDotEntries(image.Root() + 30 * kSectorSize, 5, 0);
  PutDotEntries(image.Root() + 31 * kSectorSize, 5, 0);
  std::uint8_t entry[32] = {};
  PutShortEntry(entry, "ZERO       ", 0x10, 0, 0);
  Harness h;
  auto engine = fattest::ReadyEngine(h, image);
  EXPECT_EQ(engine->ValidateDirEntry(entry, engine->HighestCluster(), nullptr), kDirEntryInvalid);
  PutShortEntry(entry, "ONE        ", 0x10, 1, 0);
  EXPECT_EQ(engine->ValidateDirEntry(entry, engine->HighestCluster(), nullptr), kDirEntryInvalid);
}

// ---- orphaned directory clusters (Advance Recovery) ----

TEST(FatOrphans, FreeDirectoryClustersAreListedUnderBrokenNames) {
  FatImage image = SmallFat16();
  PutShortEntry(image.Root(), "A          ", 0x10, 10, 0);
  PutDotEntries(image.Cluster(10), 10, 0);
  PutShortEntry(image.Cluster(10) + 64, "KEPT    TXT", 0x20, 11, 100);
  image.SetFat(10, image.EndOfChain());
  image.SetFat(11, image.EndOfChain());
  // Two files: a directory.
  PutShortEntry(image.Cluster(200), "ONE     TXT", 0x20, 300, 1000);
  PutShortEntry(image.Cluster(200) + 32, "TWO     TXT", 0x20, 301, 2000);
  // One file and the end of the folder: a directory.
  PutShortEntry(image.Cluster(210), "SOLO    TXT", 0x20, 302, 500);
  // One file followed by something that is no entry: not a directory.
  PutShortEntry(image.Cluster(220), "LONE    TXT", 0x20, 303, 500);
  std::fill_n(image.Cluster(220) + 32, 32, 0xFF);
  // Files of 1 to 9 bytes say nothing.
  PutShortEntry(image.Cluster(230), "TINY1   TXT", 0x20, 304, 5);
  PutShortEntry(image.Cluster(230) + 32, "TINY2   TXT", 0x20, 305, 9);
  Harness h;
  auto engine = Mounted(h, image, kFat16);
  ASSERT_EQ(engine->DeepScan(0), FatScanResult::Completed);
  const auto items = h.ItemsByPath();
  for (const char* path : {"A/KEPT.TXT", "$Broken200/ONE.TXT", "$Broken200/TWO.TXT", "$Broken210/SOLO.TXT"}) {
    EXPECT_EQ(items.count(path), 1u) << path;
  }
  ASSERT_EQ(items.count("$Broken200"), 1u);
  EXPECT_TRUE(items.find("$Broken200")->second.record.IsDeleted());  // its FAT entry is 0
  EXPECT_EQ(items.find("$Broken200/TWO.TXT")->second.record.size, 2000u);
  EXPECT_EQ(items.count("$Broken220"), 0u);
  EXPECT_EQ(items.count("$Broken230"), 0u);
  EXPECT_EQ(items.count("A"), 1u);
}

// The folder search reads every cluster once and tells the broken-cluster
// pass which it need not read again; what it could not read whole is read
// again, and a deleted folder whose entries name a folder is still one.
TEST(FatOrphans, FreeDirectoryClustersSurviveAFailedReadOfTheirSearchBlock) {
  FatImage image = SmallFat16();
  PutShortEntry(image.Root(), "A          ", 0x10, 10, 0);
  PutDotEntries(image.Cluster(10), 10, 0);
  image.SetFat(10, image.EndOfChain());
  PutShortEntry(image.Cluster(3000), "ONE     TXT", 0x20, 300, 1000);
  PutShortEntry(image.Cluster(3000) + 32, "TWO     TXT", 0x20, 301, 2000);
  // A deleted folder holding a folder (which begins with its dot entries)
  // and a file.
  PutShortEntry(image.Cluster(3100), "SUB        ", 0x10, 3150, 0);
  PutShortEntry(image.Cluster(3100) + 32, "THREE   TXT", 0x20, 302, 3000);
  PutDotEntries(image.Cluster(3150), 3150, 3100);
  // A sector that the folder search's read of clusters 3000 and 3100 also
  // covers, but their own reads do not.
  const std::uint64_t bad = static_cast<std::uint64_t>(image.Cluster(3005) - image.Bytes().data()) / kSectorSize;
  Harness h;
  h.MountBytes(image.Bytes());
  h.disk = std::make_shared<test::BadSectorSource>(h.disk, bad);
  auto engine = h.Engine(kFat16);
  ASSERT_EQ(engine->DeepScan(0), FatScanResult::Completed);
  const auto items = h.ItemsByPath();
  for (const char* path : {"$Broken3000/ONE.TXT", "$Broken3000/TWO.TXT", "$Broken3100/THREE.TXT"}) {
    EXPECT_EQ(items.count(path), 1u) << path;
  }
  ASSERT_EQ(items.count("$Broken3100/THREE.TXT"), 1u);
  EXPECT_EQ(items.find("$Broken3100/THREE.TXT")->second.record.size, 3000u);
}

TEST(FatOrphans, Fat32RootLikeChainsGetRootFoldersAndNameTheFoldersFoundByCluster) {
  FatImage image = SmallFat32();
  PutShortEntry(image.Cluster(2), "FILE1   TXT", 0x20, 20, 100);
  image.SetFat(20, image.EndOfChain());
  // An allocated chain nothing points to, holding two files and the entry
  // of a top folder whose own entry in the root is gone.
  PutShortEntry(image.Cluster(50), "FILEA   TXT", 0x20, 60, 1000);
  PutShortEntry(image.Cluster(50) + 32, "FILEB   TXT", 0x20, 61, 1000);
  PutShortEntry(image.Cluster(50) + 64, "PICS       ", 0x10, 70, 0);
  for (const std::uint32_t c : {50u, 60u, 61u, 70u}) image.SetFat(c, image.EndOfChain());
  PutDotEntries(image.Cluster(70), 70, 0);
  PutShortEntry(image.Cluster(70) + 64, "INSIDE  TXT", 0x20, 71, 300);
  image.SetFat(71, image.EndOfChain());
  Harness h;
  auto engine = Mounted(h, image, kFat32);
  ASSERT_EQ(engine->DeepScan(0), FatScanResult::Completed);
  const auto paths = Paths(h);
  for (const char* path : {"FILE1.TXT", "$Root50/FILEA.TXT", "$Root50/FILEB.TXT", "PICS/INSIDE.TXT"}) {
    EXPECT_EQ(paths.count(path), 1u) << path;
  }
  EXPECT_EQ(paths.count("$Root2"), 0u);
  EXPECT_EQ(paths.count("00000070"), 0u);
  EXPECT_EQ(h.store.Count(), 1u + 1 + 1 + 2 + 1 + 1);  // root, FILE1, $Root50 and its files, PICS, INSIDE
}

TEST(FatOrphans, AdvanceWithoutAnyLayoutShowsMessage305) {
  Harness h;
  h.MountBytes(std::vector<std::uint8_t>(8192 * kSectorSize, 0));
  auto engine = h.Engine(kFat16);
  EXPECT_EQ(engine->DeepScan(0), FatScanResult::InvalidVolume);
  ASSERT_EQ(h.prompt.shown.size(), 1u);
  EXPECT_EQ(h.prompt.shown[0].second, kPicError);
  EXPECT_EQ(h.store.Count(), 0u);
}

}  // namespace
}  // namespace corvan
