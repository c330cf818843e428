// Deleted and Advance Recovery over the corpus FAT volumes and over copies
// damaged by the tests, checked against the truth files, the deleted files
// The Sleuth Kit's icat still reads whole, and the layouts fsstat reports.

#include <gtest/gtest.h>

#include <set>

#include "engines/fat/FatCorpusChecks.h"
#include "platform/ByteCodec.h"
#include "sources/FatBootSector.h"
#include "sources/PartitionWalk.h"
#include "sources/VirtualDiskImage.h"
#include "support/FatTestVolume.h"
#include "support/HeadlessScan.h"

namespace corvan {
namespace {

using fattest::Corpus;
using fattest::EightDigits;
using fattest::ExpectLiveTruth;
using fattest::FolderClusters;
using fattest::Harness;
using fattest::ItemMd5;
using fattest::ReadImage;
using fattest::ReadReferenceRows;
using fattest::ReadTruth;
using fattest::SameDeletedPath;

using fattest::CorpusVolume;

using fattest::FsstatLayout;
using fattest::ReferenceLayout;

void ExpectFsstatLayout(const FatEngine& engine, const std::string& volume) {
  const ReferenceLayout want = FsstatLayout(volume);
  EXPECT_EQ(engine.Layout().reservedSectors, want.reserved) << volume;
  EXPECT_EQ(engine.Layout().fatSize, want.fatSize) << volume;
  EXPECT_EQ(engine.Layout().rootDirSectors, want.rootSectors) << volume;
  EXPECT_EQ(engine.Layout().DataStart(), want.dataStart) << volume;
  EXPECT_EQ(engine.SectorsPerCluster(), want.spc) << volume;
}

// Deleted files whose data icat -r still returns with the truth's MD5.
std::map<std::string, std::string> IcatDeleted(const std::string& volume) {
  std::map<std::string, std::string> md5;
  for (const auto& row : ReadReferenceRows(volume + ".deleted-icat.tsv")) {
    if (row.size() == 2 && row[0] != "path") md5[row[0]] = row[1];
  }
  return md5;
}

// No path names two items, and no id is given twice.
void ExpectNothingTwice(const Harness& h) {
  std::map<std::string, int> paths;
  std::set<std::uint32_t> ids;
  for (const auto& [path, item] : h.ItemsByPath()) {
    EXPECT_EQ(++paths[path], 1) << path;
    EXPECT_TRUE(ids.insert(item.record.itemId).second) << path << " id " << item.record.itemId;
  }
}

// ---- Deleted Recovery ----

class DeletedScanCorpus : public ::testing::TestWithParam<CorpusVolume> {};

TEST_P(DeletedScanCorpus, EveryDeletedRowUnderItsPathWithItsData) {
  const CorpusVolume v = GetParam();
  Harness h;
  h.MountFile(Corpus(std::string(v.name) + ".img"));
  auto engine = h.Engine(v.fsKind);
  ASSERT_EQ(engine->DeepScan(1), FatScanResult::Completed);
  EXPECT_TRUE(h.prompt.shown.empty());
  EXPECT_EQ(h.app.NextSyntheticId().load(), -16);

  const auto items = h.ItemsByPath();
  const auto icat = IcatDeleted(v.name);
  ASSERT_GE(icat.size(), 13u);
  std::size_t deleted = 0, md5Checked = 0;
  for (const auto& row : ReadTruth(Corpus(std::string(v.name) + ".truth.tsv"))) {
    if (row.state != "deleted") continue;
    ++deleted;
    std::vector<FoundItemInfo> matches;
    for (const auto& [path, item] : items) {
      if (SameDeletedPath(row.path, path)) matches.push_back(item.record);
    }
    ASSERT_EQ(matches.size(), 1u) << v.name << ": " << row.path;
    const FoundItemInfo& r = matches[0];
    EXPECT_TRUE(r.IsDeleted()) << row.path;
    EXPECT_EQ(r.attribute, row.type == "dir" ? kItemFolder : kItemFile) << row.path;
    if (row.type == "dir") continue;
    EXPECT_EQ(r.size, row.size) << row.path;
    const auto known = icat.find(row.path);
    if (known == icat.end()) continue;
    ++md5Checked;
    bool complete = false;
    EXPECT_EQ(ItemMd5(*engine, r, &complete), known->second) << row.path;
    EXPECT_TRUE(complete) << row.path;
  }
  EXPECT_GE(deleted, 14u);
  EXPECT_EQ(md5Checked, icat.size());

  // Only deleted files; live folders only on the way to a deleted item.
  for (const auto& [path, item] : items) {
    if (!item.record.IsFolder()) {
      EXPECT_TRUE(item.record.IsDeleted()) << path;
      continue;
    }
    if (item.record.IsDeleted()) continue;
    const bool leadsToDeleted = std::any_of(items.begin(), items.end(), [&](const auto& other) {
      return other.second.record.IsDeleted() && other.first.rfind(path + "/", 0) == 0;
    });
    EXPECT_TRUE(leadsToDeleted) << path;
  }
  ExpectNothingTwice(h);
  EXPECT_NE(h.app.LogPendingText().find("Adding lost file(s) and folder(s)"), std::string::npos);
}

TEST_P(DeletedScanCorpus, AfterAQuickVolumeSearchTheTreePassListsTheSameRows) {
  // Deleted Recovery right after a quick lost-volume search walks the tree
  // in its deleted-file pass and searches no free cluster; every deleted
  // row of the corpus hangs off the live tree, so each is there too.
  const CorpusVolume v = GetParam();
  Harness h;
  h.MountFile(Corpus(std::string(v.name) + ".img"));
  auto engine = h.Engine(v.fsKind);
  ASSERT_EQ(engine->ScanVolume(1), FatScanResult::Completed);
  const auto items = h.ItemsByPath();
  for (const auto& row : ReadTruth(Corpus(std::string(v.name) + ".truth.tsv"))) {
    if (row.state != "deleted") continue;
    const auto n = std::count_if(items.begin(), items.end(), [&](const auto& item) {
      return SameDeletedPath(row.path, item.first) && item.second.record.IsDeleted() &&
             (row.type == "dir" || item.second.record.size == row.size);
    });
    EXPECT_EQ(n, 1) << v.name << ": " << row.path;
  }
  for (const auto& [path, item] : items) {
    if (!item.record.IsFolder()) {
      EXPECT_TRUE(item.record.IsDeleted()) << path;
    }
  }
  ExpectNothingTwice(h);
  EXPECT_EQ(h.app.LogPendingText().find("Adding lost file(s) and folder(s)"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Volumes, DeletedScanCorpus,
                         fattest::CorpusVolumes(), fattest::CorpusVolumeName);

// ---- Advance Recovery ----

class AdvanceScanCorpus : public ::testing::TestWithParam<CorpusVolume> {};

TEST_P(AdvanceScanCorpus, HealthyVolumeListsEveryLiveFileWithItsData) {
  const CorpusVolume v = GetParam();
  Harness h;
  h.MountFile(Corpus(std::string(v.name) + ".img"));
  auto engine = h.Engine(v.fsKind);
  ASSERT_EQ(engine->DeepScan(0), FatScanResult::Completed);
  EXPECT_TRUE(h.prompt.shown.empty());
  // The vote (FAT12, FAT16) or the boot sector (FAT32, where the vote
  // abstains) gives the layout fsstat reports.
  ExpectFsstatLayout(*engine, v.name);
  ExpectLiveTruth(h, *engine, v.name);
  ExpectNothingTwice(h);
  // Nothing healthy is orphaned.
  for (const auto& [path, item] : h.ItemsByPath()) {
    EXPECT_EQ(path.find('$'), std::string::npos) << path;
    EXPECT_EQ(path.rfind("Lost folder(s)", 0), std::string::npos) << path;
  }
  const std::string log = h.app.LogPendingText();
  EXPECT_NE(log.find("Adding root directory file(s)"), std::string::npos);
  EXPECT_NE(log.find("Adding broken file(s) and folder(s)"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Volumes, AdvanceScanCorpus,
                         fattest::CorpusVolumes(), fattest::CorpusVolumeName);

// ---- Advance Recovery over damaged copies ----

std::unique_ptr<FatEngine> AdvanceOverBytes(Harness& h, std::vector<std::uint8_t> bytes, std::uint8_t fsKind,
                                            FatScanResult expected = FatScanResult::Completed) {
  h.MountBytes(std::move(bytes));
  auto engine = h.Engine(fsKind);
  EXPECT_EQ(engine->DeepScan(0), expected);
  return engine;
}

void ZeroSectors(std::vector<std::uint8_t>& bytes, std::uint64_t first, std::uint64_t count) {
  std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(first * kSectorSize),
              static_cast<std::ptrdiff_t>(count * kSectorSize), 0);
}

TEST(AdvanceScanDamage, BootSectorAndBackupZeroedAreRebuiltFromTheFatCopies) {
  // FAT32 too, whose folders lie a sector a cluster apart 1292 sectors in:
  // its FAT copies, not a vote, place its FATs and data area.
  for (const CorpusVolume& v : {CorpusVolume{"fat12", kFat12}, CorpusVolume{"fat16", kFat16},
                                CorpusVolume{"fat32", kFat32}}) {
    SCOPED_TRACE(v.name);
    Harness h;
    auto bytes = ReadImage(Corpus(std::string(v.name) + ".img"));
    ZeroSectors(bytes, 0, 1);
    ZeroSectors(bytes, 6, 1);
    auto engine = AdvanceOverBytes(h, bytes, v.fsKind);
    EXPECT_TRUE(h.prompt.shown.empty());
    EXPECT_EQ(engine->Layout().kind, v.fsKind);
    ExpectFsstatLayout(*engine, v.name);
    EXPECT_EQ(engine->FatSource(), kFatSourceFat1);
    ExpectLiveTruth(h, *engine, v.name);
  }
}

// The corpus flat disk with its MBR kept, so the partition table gives the
// FAT32 volume's start and size, and that volume's boot sector and backup
// zeroed.
class ListedFat32WithoutBootSectors : public ::testing::Test {
 protected:
  virtual std::vector<test::SectorRun> Zeroed() const { return {{kStart, 1}, {kStart + 6, 1}}; }
  void SetUp() override {
    const std::filesystem::path image = test::CopyFlatDisk(dir.path(), Zeroed());
    const MountResult mount = MountImageFile(kImageVmware, image);
    ASSERT_TRUE(mount.mounted);
    disk = mount.image;
    list.m_nDiskSectors = disk->SectorCount();
    ScanPartitions(list, *disk);
    BuildSourceList(list, kImageVmware, 0);
    for (const auto& r : list.m_sources)
      if (r->partition && r->partition->startSector == kStart) source = r.get();
    ASSERT_NE(source, nullptr);
    // The manifest's layout.
    ASSERT_EQ(source->partition->sectorCount, 81920u);
  }
  std::unique_ptr<FatEngine> Engine() {
    auto engine = std::make_unique<FatEngine>(h.app);
    engine->Prepare(MakeVolume(*source, disk, false));
    return engine;
  }

  static constexpr std::uint64_t kStart = 104448;
  test::TempDir dir;
  std::shared_ptr<SectorSource> disk;
  SourceList list;
  const SourceRecord* source = nullptr;
  Harness h;
};

TEST_F(ListedFat32WithoutBootSectors, AdvanceListsEveryLiveFileWithItsData) {
  auto engine = Engine();
  ASSERT_EQ(engine->DeepScan(0), FatScanResult::Completed);
  EXPECT_TRUE(h.prompt.shown.empty());
  ExpectFsstatLayout(*engine, "fat32");
  EXPECT_EQ(engine->SectorCount(), 81920u);
  EXPECT_EQ(engine->FatSource(), kFatSourceFat1);
  ExpectLiveTruth(h, *engine, "fat32");
  ExpectNothingTwice(h);
}

TEST_F(ListedFat32WithoutBootSectors, QuickWalksTheTreeFromTheRootCluster) {
  auto engine = Engine();
  ASSERT_EQ(engine->ScanVolume(0), FatScanResult::Completed);
  ExpectFsstatLayout(*engine, "fat32");
  EXPECT_EQ(engine->Layout().rootCluster, 2u);
  ExpectLiveTruth(h, *engine, "fat32");
  ExpectNothingTwice(h);
}

// The same volume without its first FAT as well (the 630 sectors after its
// 32 reserved ones, fsstat): the second copy alone gives the FAT's entries.
class ListedFat32WithoutBootSectorsOrFirstFat : public ListedFat32WithoutBootSectors {
 protected:
  std::vector<test::SectorRun> Zeroed() const override {
    std::vector<test::SectorRun> runs = ListedFat32WithoutBootSectors::Zeroed();
    runs.push_back({kStart + 32, 630});
    return runs;
  }
};

TEST_F(ListedFat32WithoutBootSectorsOrFirstFat, QuickWalksTheTreeFromTheRootClusterTheSecondCopyGives) {
  auto engine = Engine();
  ASSERT_EQ(engine->ScanVolume(0), FatScanResult::Completed);
  ExpectFsstatLayout(*engine, "fat32");
  EXPECT_EQ(engine->SectorCount(), 81920u);
  EXPECT_EQ(engine->Layout().rootCluster, 2u);
  EXPECT_EQ(engine->FatSource(), kFatSourceFat2);
  ExpectLiveTruth(h, *engine, "fat32");
  ExpectNothingTwice(h);
}

TEST(AdvanceScanDamage, ZeroedRootListsTheTopFoldersByTheirClusters) {
  for (const auto& [name, kind] :
       {std::pair{"fat12", kFat12}, std::pair{"fat16", kFat16}, std::pair{"fat32", kFat32}}) {
    const auto folders = FolderClusters(name, kind);
    const ReferenceLayout layout = FsstatLayout(name);
    auto bytes = ReadImage(Corpus(std::string(name) + ".img"));
    if (kind == kFat32) {
      // The root's clusters, from the intact FAT.
      for (std::uint32_t c = 2; c >= 2 && c < 0x0FFFFFF8u;) {
        ZeroSectors(bytes, layout.dataStart + (c - 2) * layout.spc, layout.spc);
        c = GetLE32(bytes.data() + layout.reserved * kSectorSize + 4 * c) & 0x0FFFFFFFu;
      }
    } else {
      ZeroSectors(bytes, layout.reserved + 2ull * layout.fatSize, layout.rootSectors);
    }
    Harness h;
    auto engine = AdvanceOverBytes(h, bytes, kind);
    ExpectFsstatLayout(*engine, name);
    // Each top folder is named by its first cluster; the root's own files
    // are gone with it.
    ExpectLiveTruth(
        h, *engine, name,
        [&](const std::string& path) -> std::string {
          const std::string top = path.substr(0, path.find('/'));
          if (top == path && !folders.count(top)) return {};
          return EightDigits(folders.at(top)) + path.substr(top.size());
        },
        15);
    ExpectNothingTwice(h);
  }
}

TEST(AdvanceScanDamage, ZeroedFirstFat) {
  // The second copy alone places the FATs: FAT32's ends at the data area,
  // FAT12/16's at the root folder (taken to be the usual 32 sectors).
  for (const auto& [name, kind] :
       {std::pair{"fat12", kFat12}, std::pair{"fat16", kFat16}, std::pair{"fat32", kFat32}}) {
    SCOPED_TRACE(name);
    const ReferenceLayout layout = FsstatLayout(name);
    auto bytes = ReadImage(Corpus(std::string(name) + ".img"));
    ZeroSectors(bytes, layout.reserved, layout.fatSize);
    Harness h;
    auto engine = AdvanceOverBytes(h, bytes, kind);
    ExpectFsstatLayout(*engine, name);
    EXPECT_EQ(engine->FatSource(), kFatSourceFat2) << name;
    ExpectLiveTruth(h, *engine, name);
    ExpectNothingTwice(h);
  }
}

}  // namespace
}  // namespace corvan
