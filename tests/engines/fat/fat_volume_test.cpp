// Volume access, the layout checks, the choice and loading of a FAT copy,
// the cluster map and cluster chains.

#include <gtest/gtest.h>

#include "engines/fat/FatImageBuilder.h"
#include "sources/FatBootSector.h"
#include "support/FatTestVolume.h"

namespace corvan {
namespace {

using fattest::FatImage;
using fattest::Harness;
using fattest::ReadyEngine;
using fattest::SmallFat16;
using fattest::SmallFat32;

// FAT12: 2048 sectors, 4 per cluster, 1 reserved, FATs of 2, 224 root entries.
FatImage SmallFat12() { return FatImage(kFat12, 2048, 4, 1, 2, 224); }


FatLayout GoodLayout() {
  FatLayout l;
  l.kind = kFat16;
  l.sectorsPerCluster = 4;
  l.reservedSectors = 4;
  l.rootDirSectors = 32;
  l.fatSize = 48;
  l.sectorCount = 49152;
  return l;
}

TEST(FatLayoutCheck, RefusesValuesNoBufferMayBeSizedFrom) {
  EXPECT_TRUE(IsFatLayoutSound(GoodLayout()));
  for (const std::uint8_t spc : {0, 3, 6, 255}) {
    FatLayout l = GoodLayout();
    l.sectorsPerCluster = spc;
    EXPECT_FALSE(IsFatLayoutSound(l)) << int(spc);
  }
  FatLayout l = GoodLayout();
  l.fatSize = 0;
  EXPECT_FALSE(IsFatLayoutSound(l));
  l = GoodLayout();
  l.fatSize = 300;  // more than a FAT16 can address
  EXPECT_FALSE(IsFatLayoutSound(l));
  l = GoodLayout();
  l.kind = kFat32;
  l.rootDirSectors = 0;
  l.fatSize = 0x7FFFFFFF;  // 2 x FAT size would wrap in 32 bits
  l.sectorCount = 0xFFFFFFFF;
  EXPECT_FALSE(IsFatLayoutSound(l));
  l = GoodLayout();
  l.reservedSectors = 0xFFFFFFFF;
  EXPECT_FALSE(IsFatLayoutSound(l));
  l = GoodLayout();
  l.sectorCount = l.DataStart();  // no room for a single cluster
  EXPECT_FALSE(IsFatLayoutSound(l));
  l.sectorCount += 4;
  EXPECT_TRUE(IsFatLayoutSound(l));
}

TEST(FatLayoutCheck, BootSectorSuspicionRules) {
  FatLayout l = GoodLayout();
  EXPECT_FALSE(IsBootGeometrySuspect(l));
  l.fatSize = 266;
  EXPECT_TRUE(IsBootGeometrySuspect(l));
  l.fatSize = 265;
  EXPECT_FALSE(IsBootGeometrySuspect(l));
  l.fatSize = l.sectorCount / 10;
  EXPECT_TRUE(IsBootGeometrySuspect(l));

  FatLayout f32 = GoodLayout();
  f32.kind = kFat32;
  f32.rootDirSectors = 0;
  f32.rootCluster = 2;
  f32.fatSize = 266;
  f32.sectorCount = 81920;
  EXPECT_TRUE(IsBootGeometrySuspect(f32));
  f32.fatSize = 267;
  EXPECT_FALSE(IsBootGeometrySuspect(f32));
  f32.rootCluster = 1;
  EXPECT_TRUE(IsBootGeometrySuspect(f32));
}

TEST(FatVolumeAccess, ClusterTwoFollowsTheRootOrTheSecondFat) {
  for (bool fat32 : {false, true}) {
    Harness h;
    FatImage image = fat32 ? SmallFat32() : SmallFat16();
    image.Cluster(2)[0] = 0xC2;
    image.Cluster(3)[kSectorSize] = 0xC3;  // (FAT16/32 here: one sector a cluster)
    auto engine = ReadyEngine(h, image);
    std::uint8_t sector[kSectorSize];
    ASSERT_TRUE(engine->ReadClusters(2, 0, sector, 1));
    EXPECT_EQ(sector[0], 0xC2);
    // Sector offsets run on past the cluster.
    ASSERT_TRUE(engine->ReadClusters(3, 1, sector, 1));
    EXPECT_EQ(sector[0], 0xC3);
    // Clusters 0 and 1 hold no data.
    sector[0] = 0x55;
    EXPECT_FALSE(engine->ReadClusters(1, 0, sector, 1));
    EXPECT_EQ(sector[0], 0);
  }
}

TEST(FatVolumeAccess, ReadsNeverLeaveTheVolume) {
  Harness h;
  FatImage image = SmallFat16();
  std::vector<std::uint8_t> disk = image.Bytes();
  disk.resize(disk.size() + 4 * kSectorSize, 0xEE);  // another volume behind it
  h.MountBytes(disk);
  auto engine = std::make_unique<FatEngine>(h.app);
  engine->Prepare(MakeVolume(fattest::VolumeSource(0, 8192, kFat16), h.disk, false));
  FatBootInfo info;
  ParseFatBootSector(info, image.Bytes().data());
  engine->SetGeometry(info);
  const std::uint32_t last = static_cast<std::uint32_t>(engine->Layout().DataClusters() + 1);
  std::vector<std::uint8_t> buffer(2 * kSectorSize, 0x11);
  EXPECT_FALSE(engine->ReadClusters(last, 0, buffer.data(), 2));
  EXPECT_EQ(buffer[kSectorSize], 0) << "the sector past the volume is not read";
}

TEST(FatVolumeAccess, PlainImageFileIsReadFromItsFirstSector) {
  Harness h;
  FatImage image = SmallFat16();
  image.Bytes()[8191 * kSectorSize + 10] = 0x99;
  const auto file = h.dir / "volume.img";
  test::WriteWholeFile(file, std::string(image.Bytes().begin(), image.Bytes().end() - 100));
  SourceRecord source = fattest::VolumeSource(500, 8192, kFat16, 7);
  source.path = Utf8ToUtf16(file.string());
  FatEngine engine(h.app);
  engine.Prepare(MakeVolume(source, h.disk, true));
  EXPECT_EQ(engine.VolumeStart(), 0u);
  EXPECT_EQ(engine.Poster()->NextId(), 2u);
  EXPECT_EQ(h.app.m_bVolumeOpened.load(), 1);
  std::uint8_t sector[kSectorSize];
  ASSERT_TRUE(engine.ReadSourceOrImage(0, sector, 1));
  EXPECT_EQ(sector[0], 0xEB);
  // The file ends 100 bytes short of its last sector: zeros and a failure.
  std::memset(sector, 0x77, sizeof sector);
  EXPECT_FALSE(engine.ReadSourceOrImage(8191, sector, 1));
  EXPECT_EQ(sector[10], 0x99);
  EXPECT_EQ(sector[412], 0);
  EXPECT_EQ(sector[kSectorSize - 1], 0);

  FatEngine missing(h.app);
  SourceRecord gone = fattest::VolumeSource(0, 8192, kFat16, 7);
  gone.path = Utf8ToUtf16((h.dir / "missing.img").string());
  missing.Prepare(MakeVolume(gone, h.disk, true));
  std::memset(sector, 0x77, sizeof sector);
  EXPECT_FALSE(missing.ReadSourceOrImage(0, sector, 1));
  EXPECT_EQ(sector[0], 0) << "a file that cannot be opened reads as zeros";
}

// ---- FAT copies ----

TEST(FatCopies, IdenticalSignedCopiesKeepTheFirst) {
  Harness h;
  FatImage image = SmallFat16();
  image.Chain({2, 3, 4});
  auto engine = ReadyEngine(h, image);
  EXPECT_EQ(engine->FatSource(), kFatSourceFat1);
  const std::string log = h.app.LogPendingText();
  EXPECT_NE(log.find("Identical copies"), std::string::npos);
  EXPECT_EQ(log.find("Verifying"), std::string::npos);
  EXPECT_EQ(engine->FollowFatChain(2), (std::vector<std::uint32_t>{2, 3, 4}));
  EXPECT_EQ(h.app.CriticalPhaseFlag().load(), 0u);
  ASSERT_FALSE(h.progress.stopStates.empty());
  EXPECT_TRUE(h.progress.stopStates.back());
}

TEST(FatCopies, UnsignedFirstCopyGivesWayToTheSecond) {
  Harness h;
  FatImage image = SmallFat16();
  image.Chain({2, 3});
  image.Fat(0)[0] = 0x00;  // FAT1's media signature destroyed
  image.SetFatCopy(0, 2, 0);
  auto engine = ReadyEngine(h, image);
  EXPECT_EQ(engine->CheckFatSignatures(), 1);
  EXPECT_EQ(engine->FatSource(), kFatSourceFat2);
  EXPECT_EQ(engine->FollowFatChain(2), (std::vector<std::uint32_t>{2, 3}));
  EXPECT_NE(h.app.LogPendingText().find("Loading FAT 2"), std::string::npos);
}

TEST(FatCopies, DivergingCopiesTrustTheOneWithFewerErrors) {
  Harness h;
  FatImage image = SmallFat16();
  image.Chain({2, 3});
  // FAT1 points three clusters past the data area (8192 - 97 data sectors).
  image.SetFatCopy(0, 100, 9000);
  image.SetFatCopy(0, 101, 9001);
  image.SetFatCopy(0, 102, 9002);
  image.SetFatCopy(1, 103, 9003);
  auto engine = ReadyEngine(h, image);
  EXPECT_EQ(engine->FatSource(), kFatSourceFat2);
  const std::string log = h.app.LogPendingText();
  EXPECT_NE(log.find("Mismatch in FAT copies"), std::string::npos);
  EXPECT_NE(log.find("FAT 1 verified"), std::string::npos);
  EXPECT_NE(log.find("3 Error found"), std::string::npos);
  EXPECT_NE(log.find("FAT 2 verified"), std::string::npos);
  EXPECT_NE(log.find("1 Error found"), std::string::npos);
  EXPECT_EQ(engine->FatEntry(100), 0u);

  Harness tie;
  FatImage even = SmallFat16();
  even.SetFatCopy(0, 100, 9000);
  even.SetFatCopy(1, 101, 9001);
  EXPECT_EQ(ReadyEngine(tie, even)->FatSource(), kFatSourceFat1);
}

TEST(FatCopies, VerifierCountsAnEndMarkBelowTheThresholdAsAnError) {
  Harness h;
  FatImage image = SmallFat32();
  auto engine = ReadyEngine(h, image);
  FatImage marked = SmallFat32();
  marked.SetFatCopy(1, 200, 0x0FFFFFF8);
  // The disk the engine is bound to now holds the marked copy.
  static_cast<MemorySectorSource&>(*h.disk).Bytes() = marked.Bytes();
  // Sector 1 of each copy holds entries 128-255; entry 0's F8 FF FF 0F is
  // such a mark too, but lies in sector 0.
  EXPECT_EQ(engine->VerifyFatCopy(1, 0), 0u);
  EXPECT_EQ(engine->VerifyFatCopy(1, 1), 1u);
}

TEST(FatCopies, NeitherSignedMeansContiguous) {
  Harness h;
  FatImage image = SmallFat16();
  image.Fat(0)[0] = 0;
  image.Fat(1)[0] = 0;
  auto engine = ReadyEngine(h, image);
  EXPECT_EQ(engine->FatSource(), kFatSourceContiguous);
  EXPECT_FALSE(engine->LoadFatTable());
  EXPECT_TRUE(engine->Fat().empty());
  // Every cluster of the data area counts as allocated.
  const std::uint64_t highest = engine->Layout().DataClusters() + 2;
  EXPECT_EQ(engine->HighestCluster(), highest);
  ASSERT_EQ(engine->ClusterMap().size(), highest + 1);
  EXPECT_TRUE(std::all_of(engine->ClusterMap().begin(), engine->ClusterMap().end(),
                          [](std::uint8_t b) { return b == kClusterAllocated; }));
}

TEST(FatCopies, EmptyOrUnreadableSectorIsTakenFromTheOtherCopy) {
  Harness h;
  FatImage image = SmallFat16();
  image.Chain({300, 301, 302});  // entries in FAT sector 1
  std::memset(image.Fat(0) + kSectorSize, 0, kSectorSize);
  // FAT1 still signed, so the copies differ and FAT1 has no more errors.
  auto engine = ReadyEngine(h, image);
  EXPECT_EQ(engine->FatSource(), kFatSourceFat1);
  EXPECT_EQ(engine->FollowFatChain(300), (std::vector<std::uint32_t>{300, 301, 302}));
}

TEST(FatClusterMap, MarksAllocatedClustersUpToTheDataArea) {
  Harness h;
  FatImage image = SmallFat16();
  image.Chain({5, 6});
  image.SetFat(7, 0xFFF7);  // bad cluster
  auto engine = ReadyEngine(h, image);
  // The FAT holds 32 x 256 entries, the data area 8095 clusters.
  EXPECT_EQ(engine->HighestCluster(), 8095u + 2);
  EXPECT_EQ(engine->ClusterMap().size(), 8095u + 3);
  EXPECT_EQ(engine->ClusterMap()[5], kClusterAllocated);
  EXPECT_EQ(engine->ClusterMap()[6], kClusterAllocated);
  EXPECT_EQ(engine->ClusterMap()[7], kClusterFree);
  EXPECT_EQ(engine->ClusterMap()[8], kClusterFree);
}

TEST(FatEntries, Fat12EntryAtTheTablesLastByteIsNotReadPastIt) {
  Harness h;
  FatImage image = SmallFat12();
  image.SetFat(3, 0xABC);
  auto engine = ReadyEngine(h, image);
  ASSERT_EQ(engine->Fat().size(), 1024u);
  EXPECT_EQ(engine->FatEntry(3), 0xABCu);
  // Entry 682 begins at byte 1023, the table's last: its second byte would
  // lie beyond the FAT.
  EXPECT_FALSE(engine->FatEntry(682).has_value());
  EXPECT_TRUE(engine->FatEntry(681).has_value());
}

// ---- chains ----

TEST(FatChains, ChainsEndAtMarksLoopsAndTheDataArea) {
  Harness h;
  FatImage image = SmallFat32();
  image.SetFat(5, 6);
  image.SetFat(6, 5);  // a loop
  image.Chain({10, 11, 12});
  image.SetFat(12, 0x0FFFFFF8);
  image.SetFat(20, 21);
  image.SetFat(21, 7000);  // within the FAT, past the data area (7560 + 1 is the last)
  image.SetFat(7000, 0);
  image.SetFat(30, 31);
  image.SetFat(31, 9000);  // past the data area
  auto engine = ReadyEngine(h, image);
  EXPECT_EQ(engine->FollowFatChain(5), (std::vector<std::uint32_t>{5, 6}));
  EXPECT_EQ(engine->FollowFatChain(10), (std::vector<std::uint32_t>{10, 11, 12}));
  EXPECT_EQ(engine->FollowFatChain(20), (std::vector<std::uint32_t>{20, 21, 7000}));
  EXPECT_EQ(engine->FollowFatChain(30), (std::vector<std::uint32_t>{30, 31}));
  EXPECT_TRUE(engine->FollowFatChain(0).empty());
  EXPECT_TRUE(engine->FollowFatChain(1).empty());
  EXPECT_TRUE(engine->GetClusterChain(1, 5000, false).empty());
}

TEST(FatChains, LongLoopIsCutAtTheFirstRepeat) {
  Harness h;
  FatImage image = SmallFat32();
  std::vector<std::uint32_t> clusters;
  for (std::uint32_t c = 100; c < 7000; ++c) clusters.push_back(c);
  image.Chain(clusters);
  image.SetFat(6999, 3000);  // back into the middle
  auto engine = ReadyEngine(h, image);
  EXPECT_EQ(engine->FollowFatChain(100), clusters);
}

TEST(FatChains, DeletedFilesAreContiguousRunsBySize) {
  Harness h;
  FatImage image = SmallFat12();  // 4 sectors a cluster
  auto engine = ReadyEngine(h, image);
  EXPECT_EQ(engine->GetClusterChain(10, 1000, true), (std::vector<std::uint32_t>{10}));
  EXPECT_EQ(engine->GetClusterChain(10, 2049, true), (std::vector<std::uint32_t>{10, 11}));
  EXPECT_TRUE(engine->GetClusterChain(10, 0, true).empty());
  // A run is cut at the end of the data area.
  const auto last = static_cast<std::uint32_t>(engine->Layout().DataClusters() + 1);
  EXPECT_EQ(engine->GetClusterChain(last - 1, 1u << 30, true), (std::vector<std::uint32_t>{last - 1, last}));

  Harness one;
  FatImage small = SmallFat16();  // 1 sector a cluster
  auto e16 = ReadyEngine(one, small);
  EXPECT_EQ(e16->GetClusterChain(40, 2049, true).size(), 5u);
}

TEST(FatChains, ContiguousSourceFollowsNoFat) {
  Harness h;
  FatImage image = SmallFat16();
  image.Chain({5, 9});
  image.Fat(0)[0] = 0;
  image.Fat(1)[0] = 0;
  auto engine = ReadyEngine(h, image);
  ASSERT_EQ(engine->FatSource(), kFatSourceContiguous);
  EXPECT_EQ(engine->FollowFatChain(5), (std::vector<std::uint32_t>{5}));
  EXPECT_EQ(engine->GetClusterChain(5, 1536, false), (std::vector<std::uint32_t>{5, 6, 7}));
}

}  // namespace
}  // namespace corvan
