// The exFAT engine over small volumes written from the format's definition
// (ExFatImageBuilder): boot-sector fallback and refusal, the work files,
// FAT chains and runs, the cluster map, the walks' order and guards (sets
// that run on into a folder's next cluster elsewhere, against fls), the
// lost-folder searches, and the reads.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>

#include "engines/exfat/ExFatImageBuilder.h"
#include "engines/exfat/ExFatTestRig.h"
#include "support/CorpusTruth.h"

namespace corvan {
namespace {

using namespace exfattest;

constexpr std::uint32_t kEnd = 0xFFFFFFFF;

// 4 MiB, 4 KiB clusters, FAT at sector 128, heap at 256, 992 clusters.
ExFatImageBuilder Small() { return ExFatImageBuilder::Format(8192, 8); }

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t seed) { return PatternBytes(n, seed, 7); }

std::vector<std::string> Names(const ExFatRig& rig) {
  std::vector<std::string> out;
  for (const auto& item : rig.items.items) out.push_back(Utf16ToUtf8(item.name));
  return out;
}

TEST(ExFatTestVolumes, TheTestFormatterWritesVolumesFsckAccepts) {
  const std::string fsck = ExFatTool("fsck.exfat");
  if (fsck.empty()) GTEST_SKIP() << "fsck.exfat (exfatprogs) is not installed";
  for (const std::uint32_t spc : {1u, 8u}) {
    ExFatImageBuilder b = ExFatImageBuilder::Format(spc == 1 ? 2048 : 8192, spc, spc == 1 ? 24 : 128, spc == 1);
    const auto sub = b.AddFolder(b.Root(), u"Sub");
    b.AddFile(sub.firstCluster, u"chained.bin", Bytes(9000, 1), Layout::Fragmented);
    b.AddFile(b.Root(), u"run.bin", Bytes(5000, 2));
    // Enough sets that some cross from one cluster of the root into the next.
    for (int i = 0; i < 40; ++i) b.Delete(b.AddFile(b.Root(), u"gone " + Utf8ToUtf16(std::to_string(i)), {}));
    const auto gone = b.AddFolder(b.Root(), u"Gone");
    b.AddFile(gone.firstCluster, u"in gone.txt", Bytes(10, 1));
    b.Delete(gone);
    test::TempDir dir;
    const auto path = dir / "small.img";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.Bytes().data()),
                                                static_cast<std::streamsize>(b.Bytes().size()));
    std::string report;
    EXPECT_TRUE(FsckClean(fsck, path, report)) << "clusters of " << spc << " sectors:\n" << report;
  }
}

// ---- boot sector ----

TEST(ExFatBoot, AnUnusableMainBootSectorFallsBackToTheBackup) {
  ExFatImageBuilder b = Small();
  b.AddFile(b.Root(), u"kept.txt", Bytes(100, 3));
  Put64(b.Bytes().data() + 72, 0);  // VolumeLength of the main boot sector only
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_EQ(engine.ScanVolume(0), ExFatScanResult::Completed);
  EXPECT_GE(rig.Find("kept.txt"), 0);
  EXPECT_TRUE(rig.prompt.texts.empty());
}

TEST(ExFatBoot, NeitherBootSectorUsableShowsMessage305AndListsNothing) {
  ExFatImageBuilder b = Small();
  b.AddFile(b.Root(), u"a.txt", Bytes(100, 3));
  for (std::uint64_t at : {0ull, 12ull * 512}) Put32(b.Bytes().data() + at + 80, 0);  // FatOffset 0
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  rig.app->m_bBusy = 1;
  rig.app->m_bAbort = 1;
  EXPECT_EQ(engine.ScanVolume(0), ExFatScanResult::InvalidVolume);
  ASSERT_EQ(rig.prompt.texts.size(), 1u);
  EXPECT_EQ(rig.prompt.texts[0], "Not a valid volume, or critical data structure of volume badly corrupt.");
  EXPECT_EQ(rig.prompt.pictures[0], kPicError);
  EXPECT_EQ(rig.prompt.types[0], kMbOk);
  EXPECT_EQ(rig.app->m_bBusy, 1u);  // the scan worker clears it when it ends
  EXPECT_TRUE(rig.items.items.empty());
  EXPECT_TRUE(rig.items.roots.empty());
  EXPECT_EQ(engine.DeepScan(0), ExFatScanResult::InvalidVolume);
}

TEST(ExFatBoot, ClustersAreReadWhereTheBootSectorPutsTheHeap) {
  // The heap right behind the FAT (sector 40), not at the next multiple of
  // FatOffset (48).
  ExFatImageBuilder b = ExFatImageBuilder::Format(2048, 1, 24, true);
  ASSERT_EQ(b.HeapStart(), 24u + b.FatLength());
  ASSERT_NE(b.HeapStart(), 48u);
  const auto data = Bytes(1500, 7);
  b.AddFile(b.Root(), u"file.bin", data, Layout::Fragmented);
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_EQ(engine.ScanVolume(0), ExFatScanResult::Completed);
  EXPECT_EQ(engine.GetDataAreaStart(), b.HeapStart());
  const long i = rig.Find("file.bin");
  ASSERT_GE(i, 0);
  EXPECT_EQ(rig.Data(rig.items.items[i].record), data);
}

TEST(ExFatBoot, ItemIdsStartAboveTheRootCluster) {
  ExFatRig rig;
  std::array<std::uint8_t, 512> sector{};
  std::copy_n(Small().Bytes().begin(), 512, sector.begin());
  for (const auto& [root, first] : {std::pair{0u, 5u}, {4u, 5u}, {10u, 11u}}) {
    ExFatEngine fresh(*rig.app);
    Put32(sector.data() + 96, root);
    ASSERT_TRUE(fresh.ParseBootSector(sector));
    EXPECT_EQ(fresh.Poster()->NextId(), first) << "root " << root;
  }
}

// ---- work files ----

TEST(ExFatWorkFiles, EachEngineKeepsItsOwnFilesAndRemovesThemWhenFreed) {
  ExFatImageBuilder b = Small();
  b.AddFile(b.Root(), u"a.bin", Bytes(9000, 4), Layout::Fragmented);
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_TRUE(engine.ValidateBootSector());
  ASSERT_TRUE(engine.BuildClusterMap());
  ExFatEngine other(*rig.app);
  other.Prepare(MakeVolume(rig.source, rig.disk, false));
  ASSERT_TRUE(other.ValidateBootSector());

  const auto folder = engine.WorkFolder();
  EXPECT_NE(folder, other.WorkFolder());
  EXPECT_EQ(folder.parent_path().parent_path(), rig.Dir() / "cache" / "corvan");
  const std::string fat = test::ReadWholeFile(folder / "exFat.dat");
  ASSERT_EQ(fat.size(), std::size_t{b.FatLength()} * 512);
  EXPECT_TRUE(std::equal(fat.begin(), fat.end(), b.Bytes().begin() + std::size_t{b.FatOffset()} * 512,
                         [](char x, std::uint8_t y) { return static_cast<std::uint8_t>(x) == y; }));
  const std::string map = test::ReadWholeFile(folder / "ClusterMap.dat");
  ASSERT_EQ(map.size() % 4096, 0u);
  EXPECT_EQ(engine.MapEntries(), b.ClusterCount() + 1) << "bits up to the first clear one past the heap";
  for (std::uint32_t c = 2; c <= b.ClusterCount() + 1; ++c)
    ASSERT_EQ(map[c - 2], b.Allocated(c) ? 1 : 0) << "cluster " << c;

  engine.FreeLists();
  EXPECT_FALSE(std::filesystem::exists(folder));
  EXPECT_TRUE(std::filesystem::exists(other.WorkFolder() / "exFat.dat"));
}

TEST(ExFatWorkFiles, AWorkFileThatCannotBeMadeIsReportedAndStopsThePass) {
  ExFatImageBuilder b = Small();
  b.AddFile(b.Root(), u"a.txt", Bytes(100, 3));
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  // The cache folder is a file: nothing can be made beneath it.
  const auto blocker = rig.Dir() / "not-a-folder";
  std::ofstream(blocker).put('x');
  ::setenv("XDG_CACHE_HOME", blocker.c_str(), 1);
  EXPECT_EQ(engine.ScanVolume(0), ExFatScanResult::WorkFileFailed);
  ASSERT_EQ(rig.prompt.texts.size(), 1u);
  EXPECT_EQ(rig.prompt.texts[0].rfind("Can't open file ", 0), 0u) << rig.prompt.texts[0];
  EXPECT_TRUE(rig.items.items.empty());
  EXPECT_EQ(rig.app->CriticalPhaseFlag(), 0u);
}

TEST(ExFatWorkFiles, AFatWithoutItsMediaSignatureIsNotFollowed) {
  ExFatImageBuilder b = Small();
  const auto frag = b.AddFile(b.Root(), u"frag.bin", Bytes(9000, 5), Layout::Fragmented);
  b.Bytes()[std::size_t{b.FatOffset()} * 512] = 0xF0;
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_TRUE(engine.ValidateBootSector());
  EXPECT_EQ(engine.FatSource(), kExFatSourceContiguous);
  EXPECT_EQ(engine.FollowFatChain(frag.firstCluster), std::vector<std::uint32_t>{frag.firstCluster});
  EXPECT_TRUE(std::filesystem::exists(engine.WorkFolder() / "exFat.dat"));
}

TEST(ExFatWorkFiles, VerifyingTheFatCountsEntriesPastTheHeap) {
  ExFatImageBuilder b = Small();
  b.Fat(50, b.ClusterCount() + 100);
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_TRUE(engine.ValidateBootSector());
  const std::string log = rig.app->LogViewText();
  EXPECT_NE(log.find("FAT 1 verified"), std::string::npos);
  EXPECT_NE(log.find("1 Error found"), std::string::npos);
}

// ---- chains ----

TEST(ExFatChains, ChainsEndAtTheirMarkAtARepeatAndPastTheHeap) {
  ExFatImageBuilder b = Small();
  const std::uint32_t last = b.ClusterCount() + 1;
  b.Fat(10, 11);
  b.Fat(11, kEnd);
  b.Fat(20, 21);
  b.Fat(21, 20);
  b.Fat(30, last);
  b.Fat(last, kEnd);
  b.Fat(40, 0xFFFFFFF7);
  b.Fat(50, 51);
  b.Fat(51, 0);
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_TRUE(engine.ValidateBootSector());
  using V = std::vector<std::uint32_t>;
  EXPECT_EQ(engine.FollowFatChain(10), (V{10, 11}));
  EXPECT_EQ(engine.FollowFatChain(20), (V{20, 21}));
  EXPECT_EQ(engine.FollowFatChain(30), (V{30, last})) << "the last cluster of the heap is a cluster";
  EXPECT_EQ(engine.FollowFatChain(40), (V{40}));
  EXPECT_EQ(engine.FollowFatChain(50), (V{50, 51}));
  EXPECT_TRUE(engine.FollowFatChain(0).empty());
  EXPECT_TRUE(engine.FollowFatChain(1).empty());
  EXPECT_TRUE(engine.FollowFatChain(last + 1).empty());
}

TEST(ExFatChains, ContiguousRunsFollowTheSizeButNeverLeaveTheHeap) {
  ExFatRig rig;
  ExFatImageBuilder b = Small();
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_TRUE(engine.ValidateBootSector());
  using V = std::vector<std::uint32_t>;
  EXPECT_EQ(engine.GetClusterChain(7, 1, true), (V{7}));
  EXPECT_EQ(engine.GetClusterChain(7, 4097, true), (V{7, 8}));
  EXPECT_TRUE(engine.GetClusterChain(7, 0, true).empty());
  const std::uint32_t cc = b.ClusterCount();
  EXPECT_EQ(engine.GetClusterChain(cc, ~0ull, true), (V{cc, cc + 1}));
}

// ---- cluster map ----

TEST(ExFatClusterMap, MarkingWritesTheFolderRunAndStaysInsideTheMap) {
  ExFatRig rig;
  ExFatImageBuilder b = Small();
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_TRUE(engine.ValidateBootSector());
  ASSERT_TRUE(engine.BuildClusterMap());
  const std::uint64_t mapSize = std::filesystem::file_size(engine.WorkFolder() / "ClusterMap.dat");
  FoundItemInfo folder;
  folder.attribute = kItemFolder;
  folder.location = 100;
  folder.size = 3 * 4096;
  engine.MarkClustersUsed(folder);
  std::uint8_t v = 0;
  for (std::uint32_t c = 100; c < 103; ++c) EXPECT_TRUE(engine.ClusterMapByte(c, v) && v == 1) << c;
  EXPECT_TRUE(engine.ClusterMapByte(103, v) && v == 0);

  folder.flags = kExFatItemFatChain;  // a chained folder: its first cluster only
  folder.location = 200;
  engine.MarkClustersUsed(folder);
  EXPECT_TRUE(engine.ClusterMapByte(200, v) && v == 1);
  EXPECT_TRUE(engine.ClusterMapByte(201, v) && v == 0);

  folder.flags = 0;  // a folder at cluster 4 (where a lost root is looked for) is left alone
  folder.location = 4;
  folder.size = 3 * 4096;
  engine.MarkClustersUsed(folder);
  EXPECT_TRUE(engine.ClusterMapByte(5, v) && v == 0);

  folder.location = b.ClusterCount();
  folder.size = 1ull << 40;  // a size from a damaged entry
  engine.MarkClustersUsed(folder);
  EXPECT_TRUE(engine.ClusterMapByte(b.ClusterCount() + 1, v) && v == 1);
  EXPECT_EQ(std::filesystem::file_size(engine.WorkFolder() / "ClusterMap.dat"), mapSize);
}

// ---- walks ----

TEST(ExFatWalks, AContiguousFolderIsReadAsFarAsItsSizeReaches) {
  ExFatImageBuilder b = Small();
  const auto big = b.AddFolder(b.Root(), u"Big", true, 2);
  // 42 three-entry sets fill the first cluster but two slots; the 43rd
  // crosses into the second cluster.
  for (int i = 0; i < 50; ++i) b.AddFile(big.firstCluster, u"f" + Utf8ToUtf16(std::to_string(i)), Bytes(10, 1));
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_EQ(engine.ScanVolume(0), ExFatScanResult::Completed);
  for (int i = 0; i < 50; ++i) EXPECT_GE(rig.Find("Big/f" + std::to_string(i)), 0) << i;
}

TEST(ExFatWalks, AFolderThatContainsItselfIsWalkedOnce) {
  ExFatImageBuilder b = Small();
  const auto loop = b.AddFolder(b.Root(), u"Loop");
  b.AddFile(loop.firstCluster, u"inside.txt", Bytes(10, 1));
  for (const auto& [name, target] : {std::pair{u"Self", loop.firstCluster}, {u"Up", b.Root()}}) {
    const auto inner = b.AddFolder(loop.firstCluster, name);
    Put32(b.Entry(inner, 1) + 20, target);
    b.Seal(inner);
  }
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_EQ(engine.ScanVolume(0), ExFatScanResult::Completed);
  EXPECT_GE(rig.Find("Loop/inside.txt"), 0);
  EXPECT_GE(rig.Find("Loop/Self"), 0);
  EXPECT_GE(rig.Find("Loop/Up"), 0);
  EXPECT_EQ(rig.items.items.size(), 4u);
}

TEST(ExFatWalks, QuickSendsDeletedFoldersAfterTheLiveTree) {
  ExFatImageBuilder b = Small();
  const auto old = b.AddFolder(b.Root(), u"Old");
  b.Delete(old);
  const auto reused = b.AddFolder(b.Root(), u"New");  // takes Old's freed cluster
  ASSERT_EQ(reused.firstCluster, old.firstCluster);
  b.AddFile(b.Root(), u"live.txt", Bytes(10, 2));
  const auto gone = b.AddFolder(b.Root(), u"Gone");
  b.AddFile(gone.firstCluster, u"in gone.txt", Bytes(10, 1));
  b.Delete(gone);
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_EQ(engine.ScanVolume(0), ExFatScanResult::Completed);
  EXPECT_EQ(Names(rig), (std::vector<std::string>{"New", "live.txt", "Gone", "in gone.txt"}));
  const long inside = rig.Find("Gone/in gone.txt");
  ASSERT_GE(inside, 0);
  EXPECT_TRUE(rig.items.items[inside].record.IsDeleted());
  EXPECT_LT(rig.Find("Old"), 0) << "its cluster belongs to a live folder now";
}

TEST(ExFatWalks, TheDeletedPassSendsTheLiveFoldersOnTheWayFirst) {
  ExFatImageBuilder b = Small();
  const auto a = b.AddFolder(b.Root(), u"A");
  const auto bb = b.AddFolder(a.firstCluster, u"B");
  const auto c = b.AddFolder(bb.firstCluster, u"C");
  b.Delete(b.AddFile(c.firstCluster, u"one.txt", Bytes(10, 1)));
  b.Delete(b.AddFile(c.firstCluster, u"two.txt", Bytes(10, 2)));
  b.AddFile(c.firstCluster, u"live.txt", Bytes(10, 3));
  const auto quiet = b.AddFolder(b.Root(), u"Quiet");
  b.AddFile(quiet.firstCluster, u"live too.txt", Bytes(10, 4));
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_EQ(engine.ScanVolume(1), ExFatScanResult::Completed);
  EXPECT_EQ(rig.items.roots, std::vector<std::uint32_t>{kFatRootId});
  EXPECT_EQ(Names(rig), (std::vector<std::string>{"A", "B", "C", "one.txt", "two.txt"}));
  EXPECT_GE(rig.Find("A/B/C/two.txt"), 0);
}

TEST(ExFatWalks, ADeletedPassOverNothingDeletedSendsNothingNotEvenTheRoot) {
  ExFatImageBuilder b = Small();
  const auto a = b.AddFolder(b.Root(), u"A");
  b.AddFile(a.firstCluster, u"x.txt", Bytes(10, 1));
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_EQ(engine.ScanVolume(1), ExFatScanResult::Completed);
  EXPECT_TRUE(rig.items.roots.empty());
  EXPECT_TRUE(rig.items.items.empty());
  EXPECT_EQ(engine.FoundItemCount(), 0u);
}

TEST(ExFatWalks, AnAbortedScanSaysSoInTheLog) {
  ExFatImageBuilder b = Small();
  b.AddFile(b.Root(), u"x.txt", Bytes(10, 1));
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  rig.app->m_bAbort = 1;
  EXPECT_EQ(engine.ScanVolume(0), ExFatScanResult::Aborted);
  EXPECT_TRUE(rig.items.items.empty());
  EXPECT_NE(rig.app->LogViewText().find("Process aborted. User intervention"), std::string::npos);
}

// Path and deleted state of every item, or of every fls entry.
using States = std::multiset<std::pair<std::string, bool>>;

States ItemStates(const ExFatRig& rig) {
  States out;
  for (std::size_t i = 0; i < rig.items.items.size(); ++i) {
    const auto path = rig.items.PathOf(i, kFatRootId);
    EXPECT_TRUE(path) << "item " << i << " hangs under no folder that was sent";
    if (!path) continue;
    out.insert({Utf16ToUtf8(*path), rig.items.items[i].record.IsDeleted()});
  }
  return out;
}

TEST(ExFatWalks, ASetRunningOnIntoAFoldersNextClusterElsewhereKeepsItsState) {
  // 512-byte clusters: 16 entries each. In each folder the sets before
  // README_48.txt leave it `slot` entries into the first cluster, so its
  // file entry alone (15), its file and stream entries (14) or those and
  // its first name entry (13) lie there, the rest in the folder's second
  // cluster, which lies past the files' data. The set just before it is
  // deleted.
  ExFatImageBuilder b = ExFatImageBuilder::Format(16384, 1);
  struct Split {
    std::u16string folder;
    std::vector<std::u16string> before;
    std::u16string crossing;
    std::uint32_t slot;
  };
  const std::vector<Split> splits = {
      {u"d15", {u"fil_no_01.txt", u"fil_no_02.txt", u"fil_no_03.txt", u"fil_no_04.txt", u"fil_no_05.txt"},
       u"README_48.txt", 15},
      {u"d14", {u"fil_no_01.txt", u"fil_no_02.txt", u"a_name_of_sixteen.txt", u"b_name_of_sixteen.txt"},
       u"README_48.txt", 14},
      {u"d13", {u"fil_no_01.txt", u"fil_no_02.txt", u"fil_no_03.txt", u"a_name_of_sixteen.txt"},
       u"README_48_long_name.txt", 13},
  };
  for (const Split& s : splits) {
    const auto folder = b.AddFolder(b.Root(), s.folder);
    std::vector<SetRef> sets;
    for (const auto& name : s.before) sets.push_back(b.AddFile(folder.firstCluster, name, Bytes(700, 1)));
    b.AddFile(b.Root(), s.folder + u".bin", Bytes(3000, 2));
    const SetRef crossing = b.AddFile(folder.firstCluster, s.crossing, Bytes(6, 3));
    ASSERT_EQ(crossing.slot, s.slot) << Utf16ToUtf8(s.folder);
    const std::vector<std::uint32_t> chain = b.ChainOf(folder.firstCluster);
    ASSERT_EQ(chain.size(), 2u);
    ASSERT_GT(chain[1], chain[0] + 1);
    b.Delete(sets.back());
  }
  test::TempDir dir;
  const auto image = dir / "split.img";
  test::WriteWholeFile(image, std::string(b.Bytes().begin(), b.Bytes().end()));
  std::string report;
  ASSERT_TRUE(FsckCleanOrAbsent(b.Bytes(), report)) << report;
  std::string error;
  States truth, deletedFiles;
  for (const test::FlsEntry& e : test::ListWithFls(image, "exfat", error)) {
    truth.insert({e.path, e.deleted});
    if (e.deleted && !e.folder) deletedFiles.insert({e.path, true});
  }
  ASSERT_EQ(error, "");
  ASSERT_EQ(truth.size(), 22u);
  ASSERT_EQ(deletedFiles, States({{"d13/a_name_of_sixteen.txt", true},
                                  {"d14/b_name_of_sixteen.txt", true},
                                  {"d15/fil_no_05.txt", true}}));

  ExFatRig rig;
  const auto run = [&](const std::function<ExFatScanResult(ExFatEngine&)>& scan) {
    EXPECT_EQ(scan(rig.Mount(b.Bytes())), ExFatScanResult::Completed);
  };
  run([](ExFatEngine& e) { return e.ScanVolume(0); });
  EXPECT_EQ(ItemStates(rig), truth) << "Quick";
  // Advance lists the root the boot sector names at the root, as Quick does.
  run([](ExFatEngine& e) { return e.DeepScan(0); });
  EXPECT_EQ(ItemStates(rig), truth) << "Advance";
  // Both deleted passes: the deleted files, the live folders on their way.
  const std::vector<std::pair<const char*, std::function<ExFatScanResult(ExFatEngine&)>>> deletedPasses = {
      {"volume", [](ExFatEngine& e) { return e.ScanVolume(1); }},
      {"lost folders", [](ExFatEngine& e) { return e.DeepScan(1); }}};
  for (const auto& [pass, scan] : deletedPasses) {
    run(scan);
    States files;
    for (const auto& item : ItemStates(rig)) {
      EXPECT_EQ(truth.count(item), 1u) << pass << ": " << item.first << (item.second ? " deleted" : " live");
      if (item.first.find('/') != std::string::npos) files.insert(item);
    }
    EXPECT_EQ(files, deletedFiles) << pass;
  }
}

// ---- lost folders ----

TEST(ExFatLostFolders, AdvanceListsEveryDirectoryClusterItHasNotMetInsideAnother) {
  ExFatImageBuilder b = Small();
  const auto a = b.AddFolder(b.Root(), u"A");
  b.AddFile(a.firstCluster, u"a.txt", Bytes(10, 1));
  // B's parent C is overwritten: only B's own cluster still tells of it.
  const auto c = b.AddFolder(b.Root(), u"C");
  const auto orphan = b.AddFolder(c.firstCluster, u"B");
  b.AddFile(orphan.firstCluster, u"b.txt", Bytes(20, 2));
  std::memset(b.Bytes().data() + b.ClusterOffset(c.firstCluster), 'x', b.ClusterBytes());
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_EQ(engine.DeepScan(0), ExFatScanResult::Completed);
  // The root the boot sector names is the root; A was met inside it.
  EXPECT_GE(rig.Find("A/a.txt"), 0);
  EXPECT_GE(rig.Find("C"), 0);
  for (const std::uint32_t met : {b.Root(), a.firstCluster})
    EXPECT_LT(rig.Find("Lost folder(s)/Folder " + std::to_string(met)), 0) << met;
  const std::string lost = "Lost folder(s)/Folder " + std::to_string(orphan.firstCluster);
  EXPECT_GE(rig.Find(lost + "/b.txt"), 0);
  const long top = rig.Find("Lost folder(s)");
  ASSERT_GE(top, 0);
  EXPECT_EQ(rig.items.items[top].record.itemId, kExFatLostFolderId);
  EXPECT_EQ(rig.items.items[top].record.parentId, kFatRootId);
  const long folder = rig.Find(lost);
  ASSERT_GE(folder, 0);
  EXPECT_EQ(rig.items.items[folder].record.parentId, kExFatLostFolderId);
  EXPECT_EQ(rig.items.items[folder].record.location, orphan.firstCluster);
}

TEST(ExFatLostFolders, TheFreeClusterSearchGivesIdsNoOtherItemHas) {
  // More deleted items in the tree than the volume has clusters, and a
  // folder whose entry is gone: the lost folder must not reuse an id.
  ExFatImageBuilder b = Small();
  for (int i = 0; i < 1100; ++i) b.Delete(b.AddFile(b.Root(), u"e" + Utf8ToUtf16(std::to_string(i)), {}));
  const auto orphan = b.AddFolder(b.Root(), u"Orphan");
  b.AddFile(orphan.firstCluster, u"kept.txt", Bytes(10, 1));
  b.Delete(orphan);
  for (std::uint32_t i = 0; i < orphan.entries; ++i) {  // its entry set is overwritten
    std::memset(b.Entry(orphan, i), 0xFF, 32);
    b.Entry(orphan, i)[0] = 0x00;
  }
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_EQ(engine.DeepScan(1), ExFatScanResult::Completed);
  const std::string lost = "Lost folder(s)/Folder " + std::to_string(orphan.firstCluster);
  EXPECT_GE(rig.Find(lost + "/kept.txt"), 0);
  const long kept = rig.Find(lost + "/kept.txt");
  ASSERT_GE(kept, 0);
  EXPECT_TRUE(rig.items.items[kept].record.IsDeleted()) << "everything in a lost folder counts as deleted";
  std::set<std::uint32_t> ids;
  for (const auto& item : rig.items.items) EXPECT_TRUE(ids.insert(item.record.itemId).second) << item.record.itemId;
  EXPECT_EQ(ids.size(), 1100u + 3u);
}

// ---- reads ----

TEST(ExFatReads, ReadsStayInsideTheVolumeAndHonourTheRelativeFlag) {
  ExFatImageBuilder b = Small();
  const std::uint64_t heap = b.HeapStart();
  std::vector<std::uint8_t> disk(100 * 512, 0);
  disk.insert(disk.end(), b.Bytes().begin(), b.Bytes().end());
  disk[(100 + heap) * 512] = 'V';  // cluster 2 of the volume at sector 100
  disk[heap * 512] = 'R';          // the same sector counted from the disk's start
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(disk, 100, 8192);
  ASSERT_TRUE(engine.ValidateBootSector());
  std::vector<std::uint8_t> buf(4096);
  ASSERT_TRUE(engine.ReadClusters(8, 2, 0, buf.data()));
  EXPECT_EQ(buf[0], 'V');
  // A saved scan that read its volume's sectors relative to the disk.
  ExFatSavedScan saved = engine.SavedScan();
  saved.relative = true;
  ASSERT_EQ(engine.RestoreSavedScan(saved, MakeVolume(rig.source, rig.disk, false)), "");
  ASSERT_TRUE(engine.ReadClusters(8, 2, 0, buf.data()));
  EXPECT_EQ(buf[0], 'R');
  saved.relative = false;
  ASSERT_EQ(engine.RestoreSavedScan(saved, MakeVolume(rig.source, rig.disk, false)), "");
  EXPECT_FALSE(engine.ReadClusters(8, b.ClusterCount() + 2, 0, buf.data()));
  EXPECT_FALSE(engine.ReadClusters(8, 1, 0, buf.data()));
}

TEST(ExFatReads, AShortImageFileReadFailsAndLeavesZeros) {
  ExFatRig rig;
  const auto file = rig.Dir() / "short.img";
  std::ofstream(file, std::ios::binary) << std::string(700, 'x');
  // A source read through its path: the image file itself.
  SourceRecord record;
  record.kind = kSourcePlainImage;
  record.path = Utf8ToUtf16(file.string());
  record.partition = std::make_unique<PartitionRecord>();
  ExFatEngine engine(*rig.app);
  engine.Prepare(MakeVolume(record, nullptr, true));
  std::vector<std::uint8_t> buf(1024, 0xAA);
  EXPECT_FALSE(engine.ReadSourceOrImage(0, 2, buf.data()));
  EXPECT_EQ(buf[699], 'x');
  EXPECT_EQ(buf[700], 0);
  EXPECT_EQ(buf[1023], 0);
  record.path = u"/nonexistent/image";
  engine.FreeLists();
  engine.Prepare(MakeVolume(record, nullptr, true));
  EXPECT_FALSE(engine.ReadSourceOrImage(0, 1, buf.data()));
}

TEST(ExFatReads, FileDataStopsAtItsSizeAndFollowsItsChain) {
  ExFatImageBuilder b = Small();
  const auto data = Bytes(3 * 4096 + 5, 9);
  b.AddFile(b.Root(), u"frag.bin", data, Layout::Fragmented);
  b.AddFile(b.Root(), u"run.bin", Bytes(4097, 3));
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_EQ(engine.ScanVolume(0), ExFatScanResult::Completed);
  const long frag = rig.Find("frag.bin");
  ASSERT_GE(frag, 0);
  EXPECT_EQ(rig.Data(rig.items.items[frag].record), data);
  const long run = rig.Find("run.bin");
  ASSERT_GE(run, 0);
  EXPECT_EQ(rig.Data(rig.items.items[run].record), Bytes(4097, 3));
  const auto layout = engine.ItemDataLayout(rig.items.items[frag].record);
  EXPECT_EQ(layout.extents.size(), 4u) << "four pieces with gaps between them";
}

TEST(ExFatReads, OnlyALiveFileLinkedInTheFatIsReadThroughIt) {
  ExFatImageBuilder b = Small();
  const auto data = Bytes(3 * 4096 + 5, 9);
  b.AddFile(b.Root(), u"frag.bin", data, Layout::Fragmented);
  // Its pieces fall into frag.bin's gaps; deleted as Windows deletes, its
  // FAT entries still link them.
  b.Delete(b.AddFile(b.Root(), u"gone.bin", Bytes(data.size(), 4), Layout::Fragmented));
  ExFatRig rig;
  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_EQ(engine.ScanVolume(0), ExFatScanResult::Completed);
  // What the volume holds from a file's first cluster on, for its size.
  const auto run = [&](const FoundItemInfo& item) {
    const auto at = b.Bytes().begin() + static_cast<std::ptrdiff_t>(b.ClusterOffset(item.Location32()));
    return std::vector<std::uint8_t>(at, at + static_cast<std::ptrdiff_t>(item.size));
  };
  const long gone = rig.Find("gone.bin");
  const long frag = rig.Find("frag.bin");
  ASSERT_GE(gone, 0);
  ASSERT_GE(frag, 0);
  const FoundItemInfo& deleted = rig.items.items[gone].record;
  ASSERT_TRUE(deleted.IsDeleted());
  ASSERT_NE(run(deleted), Bytes(data.size(), 4));
  EXPECT_EQ(rig.Data(deleted), run(deleted)) << "a deleted file gets whatever follows its first cluster";
  // A file of a deleted folder is saved marked deleted: read as a run too.
  FoundItemInfo live = rig.items.items[frag].record;
  EXPECT_EQ(rig.Data(live), data);
  live.flags |= kItemDeleted;
  EXPECT_EQ(rig.Data(live), run(live));

  // Without a FAT to follow, a live fragmented file is the run from its
  // first cluster as well: a saved scan whose FAT source is "contiguous",
  // and a volume whose FAT lost its media signature.
  live = rig.items.items[frag].record;
  ASSERT_NE(run(live), data);
  ExFatSavedScan saved = engine.SavedScan();
  saved.fatSource = kExFatSourceContiguous;
  saved.fat.clear();
  ASSERT_EQ(engine.RestoreSavedScan(saved, MakeVolume(rig.source, rig.disk, false)), "");
  EXPECT_EQ(rig.Data(live), run(live)) << "saved scan read without its FAT";
  std::vector<std::uint8_t> unsignedFat = b.Bytes();
  unsignedFat[std::size_t{b.FatOffset()} * 512] = 0xF0;
  ExFatRig noFat;
  ExFatEngine& without = noFat.Mount(unsignedFat);
  ASSERT_EQ(without.ScanVolume(0), ExFatScanResult::Completed);
  ASSERT_EQ(without.FatSource(), kExFatSourceContiguous);
  const long listed = noFat.Find("frag.bin");
  ASSERT_GE(listed, 0);
  EXPECT_EQ(noFat.Data(noFat.items.items[listed].record), run(noFat.items.items[listed].record))
      << "FAT without its media signature";
}

}  // namespace
}  // namespace corvan
