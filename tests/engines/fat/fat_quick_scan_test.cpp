// Quick Recovery over the corpus FAT volumes, checked against the truth
// files (paths, sizes, MD5 of the data) and The Sleuth Kit's listing (times).

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "platform/ByteCodec.h"
#include "sources/FatBootSector.h"
#include "sources/PartitionWalk.h"
#include "engines/fat/FatCorpusChecks.h"
#include "sources/VirtualDiskImage.h"
#include "support/FatTestVolume.h"

namespace corvan {
namespace {

using fattest::Corpus;
using fattest::EightDigits;
using fattest::ExpectLiveTruth;
using fattest::FolderClusters;
using fattest::Harness;
using fattest::ItemMd5;
using fattest::ReadTruth;

using fattest::CorpusVolume;

// Paths and time texts of the live entries of an fls listing:
// "r/r 26:\tpath\tmtime\tatime\tctime\tcrtime\t...".
std::map<std::string, std::pair<std::string, std::string>> FlsTimes(const std::filesystem::path& file) {
  std::map<std::string, std::pair<std::string, std::string>> times;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string part; std::getline(fields, part, '\t');) f.push_back(part);
    if (f.size() < 6 || f[0].find('*') != std::string::npos) continue;
    times[f[1]] = {f[2].substr(0, 19), f[5].substr(0, 19)};
  }
  return times;
}

// Scans a volume image held in memory (a damaged copy of a corpus volume).
std::unique_ptr<FatEngine> ScanBytes(Harness& h, std::vector<std::uint8_t> bytes, std::uint8_t fsKind,
                                     FatScanResult expected = FatScanResult::Completed) {
  h.MountBytes(std::move(bytes));
  auto engine = h.Engine(fsKind);
  EXPECT_EQ(engine->ScanVolume(0), expected);
  return engine;
}

class QuickScanCorpus : public ::testing::TestWithParam<CorpusVolume> {};

TEST_P(QuickScanCorpus, ListsEveryLiveEntryOnceWithItsData) {
  const CorpusVolume v = GetParam();
  Harness h;
  h.MountFile(Corpus(std::string(v.name) + ".img"));
  auto engine = h.Engine(v.fsKind);
  ASSERT_EQ(engine->ScanVolume(0), FatScanResult::Completed);
  EXPECT_TRUE(h.prompt.shown.empty());
  ASSERT_FALSE(h.progress.positions.empty());
  EXPECT_EQ(h.progress.positions.back(), 100000);
  ExpectLiveTruth(h, *engine, v.name);

  // Nothing twice: no path names two live items, and ids are unique.
  std::map<std::string, int> livePaths;
  std::set<std::uint32_t> ids;
  for (const auto& [path, item] : h.ItemsByPath()) {
    if (!item.record.IsDeleted()) {
      EXPECT_EQ(++livePaths[path], 1) << path;
    }
    EXPECT_TRUE(ids.insert(item.record.itemId).second) << path;
    EXPECT_GE(item.record.itemId, 2u) << path;
  }
  // The root counts once among the entries and the folders.
  EXPECT_EQ(engine->Poster()->Entries(), h.store.Count());
  EXPECT_EQ(engine->Poster()->Folders() + engine->Poster()->Files(), h.store.Count());
  ASSERT_FALSE(h.progress.counterTexts.empty());
  EXPECT_EQ(h.progress.counterTexts.back(), std::to_string(h.store.Count()) + " Entries Found");
}

TEST_P(QuickScanCorpus, RecordCarriesDosTimesAndFirstCluster) {
  const CorpusVolume v = GetParam();
  Harness h;
  h.MountFile(Corpus(std::string(v.name) + ".img"));
  auto engine = h.Engine(v.fsKind);
  ASSERT_EQ(engine->ScanVolume(0), FatScanResult::Completed);
  const auto fls = FlsTimes(Corpus(std::string(v.name) + ".fls.txt"));
  std::size_t compared = 0;
  for (const auto& [path, item] : h.ItemsByPath()) {
    const auto it = fls.find(path);
    if (item.record.IsDeleted() || it == fls.end()) continue;
    ++compared;
    EXPECT_EQ(fattest::DosStampText(item.record.modifiedTime), it->second.first) << path;
    // FAT12 and FAT16 entries repeat the modification stamp as creation.
    const std::string creation =
        v.fsKind == kFat32 ? it->second.second : fattest::DosStampText(item.record.modifiedTime);
    EXPECT_EQ(fattest::DosStampText(item.record.creationTime), creation) << path;
    EXPECT_EQ(item.record.flags, 0) << path;
    EXPECT_EQ(item.record.state & 0x0F, 0x01) << path;  // the store's unchecked state
    EXPECT_GE(item.record.location, 2u) << path;
  }
  EXPECT_GT(compared, 20u);
}

INSTANTIATE_TEST_SUITE_P(Volumes, QuickScanCorpus,
                         fattest::CorpusVolumes(), fattest::CorpusVolumeName);

}  // namespace
}  // namespace corvan

namespace corvan {
namespace {

using fattest::Harness;
using fattest::ReadImage;

// ---- damaged copies of the corpus volumes ----

TEST(QuickScanDamage, ZeroedFat32BootSectorIsReadFromItsBackup) {
  Harness h;
  auto bytes = ReadImage(Corpus("fat32.img"));
  std::fill(bytes.begin(), bytes.begin() + kSectorSize, 0);
  auto engine = ScanBytes(h, bytes, kFat32);
  EXPECT_EQ(engine->Layout().kind, kFat32);
  EXPECT_EQ(engine->Layout().fatSize, 630u);
  ExpectLiveTruth(h, *engine, "fat32");
}

TEST(QuickScanDamage, DestroyedFat1SignatureMakesFat2TheSource) {
  for (const auto& [name, kind, reserved] : {std::tuple{"fat16", kFat16, 4}, std::tuple{"fat32", kFat32, 32}}) {
    Harness h;
    auto bytes = ReadImage(Corpus(std::string(name) + ".img"));
    std::fill_n(bytes.begin() + reserved * kSectorSize, 3, 0);
    auto engine = ScanBytes(h, bytes, kind);
    EXPECT_EQ(engine->FatSource(), kFatSourceFat2) << name;
    ExpectLiveTruth(h, *engine, name);
  }
}

TEST(QuickScanDamage, DivergingCopiesFollowTheSoundOne) {
  // Cutting the chain of README_21.png (325567 bytes) in one copy only must
  // not cost its data.
  const auto clusters = [] {
    Harness h;
    h.MountFile(Corpus("fat32.img"));
    auto engine = h.Engine(kFat32);
    engine->ScanVolume(0);
    for (const auto& [path, item] : h.ItemsByPath()) {
      if (path == "README_21.png") return engine->ItemClusters(item.record);
    }
    return std::vector<std::uint32_t>{};
  }();
  ASSERT_GT(clusters.size(), 600u);
  for (const int damaged : {0, 1}) {
    Harness h;
    auto bytes = ReadImage(Corpus("fat32.img"));
    std::uint8_t* fat = bytes.data() + (32 + damaged * 630) * kSectorSize;
    // Out-of-range links in the middle of the chain.
    for (int i = 100; i < 105; ++i) PutLE32(fat + 4 * clusters[i], 0x00F00000);
    auto engine = ScanBytes(h, bytes, kFat32);
    EXPECT_EQ(engine->FatSource(), damaged == 0 ? kFatSourceFat2 : kFatSourceFat1);
    EXPECT_NE(h.app.LogPendingText().find("Mismatch in FAT copies"), std::string::npos);
    ExpectLiveTruth(h, *engine, "fat32");
  }
}

TEST(QuickScanDamage, FragmentedFileReadsBackWhole) {
  // The corpus files are contiguous: move a hundred clusters of
  // README_21.png to free space, in reverse order, and relink the chain.
  std::vector<std::uint32_t> chain;
  {
    Harness h;
    h.MountFile(Corpus("fat32.img"));
    auto engine = h.Engine(kFat32);
    engine->ScanVolume(0);
    for (const auto& [path, item] : h.ItemsByPath()) {
      if (path == "README_21.png") chain = engine->ItemClusters(item.record);
    }
  }
  ASSERT_GT(chain.size(), 300u);
  auto bytes = ReadImage(Corpus("fat32.img"));
  const std::uint64_t data = 32 + 2 * 630;  // one sector a cluster
  auto fatEntry = [&](int copy, std::uint32_t c) { return bytes.data() + (32 + copy * 630) * kSectorSize + 4 * c; };
  const std::uint32_t target = 70000;  // free on the corpus volume
  for (std::uint32_t i = 0; i < 100; ++i) ASSERT_EQ(GetLE32(fatEntry(0, target + i)), 0u);
  std::vector<std::uint32_t> fresh;
  for (std::uint32_t i = 0; i < 100; ++i) fresh.push_back(target + 99 - i);
  std::vector<std::uint32_t> relinked = chain;
  for (std::size_t i = 0; i < 100; ++i) {
    std::copy_n(bytes.begin() + (data + chain[100 + i] - 2) * kSectorSize, kSectorSize,
                bytes.begin() + (data + fresh[i] - 2) * kSectorSize);
    std::fill_n(bytes.begin() + (data + chain[100 + i] - 2) * kSectorSize, kSectorSize, 0xDD);
    relinked[100 + i] = fresh[i];
  }
  for (int copy = 0; copy < 2; ++copy) {
    for (std::size_t i = 100; i < 200; ++i) PutLE32(fatEntry(copy, chain[i]), 0);
    for (std::size_t i = 99; i < 200; ++i) PutLE32(fatEntry(copy, relinked[i]), relinked[i + 1]);
  }
  Harness h;
  auto engine = ScanBytes(h, bytes, kFat32);
  for (const auto& [path, item] : h.ItemsByPath()) {
    if (path != "README_21.png") continue;
    EXPECT_EQ(engine->ItemClusters(item.record), relinked);
    EXPECT_GT(engine->ItemDataLayout(item.record).extents.size(), 100u);
  }
  ExpectLiveTruth(h, *engine, "fat32");
}

TEST(QuickScanDamage, NoUsableBootSectorEndsWithMessage305) {
  // FAT32 keeps a backup at sector 6; with both gone the layout is rebuilt
  // from the FAT copies in front of the folders' data area. With their first
  // sectors gone too nothing confirms that data area, and folders a sector
  // per cluster apart 1292 sectors in are too far for the vote alone.
  Harness h;
  auto bytes = ReadImage(Corpus("fat32.img"));
  std::fill(bytes.begin(), bytes.begin() + 7 * kSectorSize, 0);
  for (const std::size_t fat : {32, 32 + 630})  // fsstat: FAT 0 at 32, FAT 1 at 662
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(fat * kSectorSize), kSectorSize, 0);
  h.app.m_bBusy = 1;
  auto engine = ScanBytes(h, bytes, kFat32, FatScanResult::InvalidVolume);
  ASSERT_EQ(h.prompt.shown.size(), 1u);
  EXPECT_EQ(h.prompt.shown[0].first, "Not a valid volume, or critical data structure of volume badly corrupt.");
  EXPECT_EQ(h.prompt.shown[0].second, kPicError);
  EXPECT_EQ(h.store.Count(), 0u);
  EXPECT_EQ(h.app.m_bBusy.load(), 1u);  // cleared by the worker when it ends, not here
  EXPECT_TRUE(engine->Fat().empty());
}

TEST(QuickScanDamage, ZeroedFat16BootSectorIsRebuiltFromItsFolders) {
  // FAT16 has no backup boot sector: the layout comes from the vote.
  Harness h;
  auto bytes = ReadImage(Corpus("fat16.img"));
  std::fill(bytes.begin(), bytes.begin() + kSectorSize, 0);
  auto engine = ScanBytes(h, bytes, kFat16);
  EXPECT_TRUE(h.prompt.shown.empty());
  EXPECT_EQ(engine->Layout().reservedSectors, 4u);
  EXPECT_EQ(engine->Layout().fatSize, 48u);
  EXPECT_EQ(engine->SectorsPerCluster(), 4u);
  EXPECT_EQ(engine->FatSource(), kFatSourceFat1);
  ExpectLiveTruth(h, *engine, "fat16");
}

TEST(QuickScanDamage, EmptyRootFallsBackToTheFolderSearch) {
  const auto folders = FolderClusters("fat16", kFat16);
  Harness h;
  auto bytes = ReadImage(Corpus("fat16.img"));
  // The root region: 4 reserved sectors and two FATs of 48 before it, 32 long.
  std::fill_n(bytes.begin() + (4 + 96) * kSectorSize, 32 * kSectorSize, 0);
  auto engine = ScanBytes(h, bytes, kFat16);
  ASSERT_EQ(h.prompt.shown.size(), 1u);
  EXPECT_EQ(h.prompt.shown[0].second, kPicInformation);
  // The root's folders come back named by their first cluster.
  ExpectLiveTruth(
      h, *engine, "fat16",
      [&](const std::string& path) -> std::string {
        const std::string top = path.substr(0, path.find('/'));
        if (top == path && !folders.count(top)) return {};  // a file of the lost root
        return EightDigits(folders.at(top)) + path.substr(top.size());
      },
      15);
}

// ---- a volume a lost-volume search found ----

TEST(RecordedClusters, ListsRecordedFoldersAndTheLostOnes) {
  const auto folders = FolderClusters("fat16", kFat16);
  const std::uint32_t archive = folders.at("Archive0");
  const std::uint32_t sym = folders.at("Music3/sym-\xE2\x98\x85 4");
  Harness h;
  h.MountFile(Corpus("fat16.img"));
  SourceRecord source = fattest::VolumeSource(0, h.sectors, kFat16, 3);
  source.partition->sectorsPerCluster = 4;
  source.partition->fatSize = 48;
  source.partition->reservedSectors = 4;
  source.partition->rootDirSectors = 32;
  // The root-level Archive0, and a subfolder whose parent was not recorded.
  source.partition->clusterArray = {archive, sym};
  FatEngine engine(h.app);
  engine.Prepare(MakeVolume(source, h.disk, false));
  ASSERT_EQ(engine.ScanVolume(0), FatScanResult::Completed);
  // The folders listed by cluster take the names the root directory gives
  // them: Archive0, and Music3 (the missing parent); the subfolder keeps its
  // made-up name, since no listed directory names it.
  const std::string lost = "Lost folder(s)/Music3/Folder " + std::to_string(sym);
  ExpectLiveTruth(
      h, engine, "fat16",
      [&](const std::string& path) -> std::string {
        if (path.rfind("Archive0/", 0) == 0) return path;
        const std::string symPath = "Music3/sym-\xE2\x98\x85 4/";
        if (path.rfind(symPath, 0) == 0) return lost + "/" + path.substr(symPath.size());
        return {};
      },
      20);
  const auto items = h.ItemsByPath();
  ASSERT_EQ(items.count("Lost folder(s)"), 1u);
  EXPECT_EQ(items.find("Lost folder(s)")->second.record.itemId, kFatLostFolderId);
}

TEST(RecordedClusters, FreeClustersThatHoldNoFolderAreCarvedAfterTheTree) {
  // fat16.img: 4 sectors a cluster, 4 reserved, two FATs of 48, a root of 32.
  std::vector<std::uint8_t> bytes = fattest::ReadImage(Corpus("fat16.img"));
  const std::uint64_t dataStart = 4 + 2 * 48 + 32;
  const std::uint32_t lastCluster = static_cast<std::uint32_t>((bytes.size() / kSectorSize - dataStart) / 4 + 1);
  std::uint32_t free = 0;
  for (std::uint32_t c = lastCluster; c >= 2 && free == 0; --c)
    if (GetLE16(bytes.data() + 4 * kSectorSize + 2 * c) == 0) free = c;
  ASSERT_NE(free, 0u);
  // A file of a type of the user's own, one cluster long.
  std::uint8_t* cluster = bytes.data() + (dataStart + (free - 2) * 4) * kSectorSize;
  for (std::size_t i = 0; i < 2048; ++i) cluster[i] = static_cast<std::uint8_t>(i * 13 + 5);
  std::memcpy(cluster, "CORVANRW", 8);
  test::Md5 want;
  want.Update({cluster, 2048});

  Harness h;
  h.MountBytes(std::move(bytes));
  FileTypeRecord type;
  type.typeId = 300;
  type.extension = u"crw";
  type.maxSize = 2048;
  type.headerLength = 8;
  std::memcpy(type.header.data(), "CORVANRW", 8);
  h.app.m_selectedTypeList = {type};
  SourceRecord source = fattest::VolumeSource(0, h.sectors, kFat16, kSourceDeepLostVolume);
  source.partition->sectorsPerCluster = 4;
  source.partition->fatSize = 48;
  source.partition->reservedSectors = 4;
  source.partition->rootDirSectors = 32;
  source.partition->clusterArray = {FolderClusters("fat16", kFat16).at("Archive0")};
  FatEngine engine(h.app);
  engine.Prepare(MakeVolume(source, h.disk, false));
  ASSERT_EQ(engine.ScanVolume(0), FatScanResult::Completed);

  const auto items = h.ItemsByPath();
  const auto it = items.find("Raw Data Folder(s)/crw/" + std::to_string(free) + ".crw");
  ASSERT_NE(it, items.end());
  EXPECT_EQ(it->second.record.size, 2048u);
  EXPECT_EQ(ItemMd5(engine, it->second.record), want.HexDigest());
  // The types served the carving of the orphan pass; they go only after it.
  EXPECT_TRUE(h.app.m_selectedTypeList.empty());
}

TEST(RecordedClusters, UnsoundRecordedLayoutIsRefused) {
  // A volume the deep search rebuilt, on a disk (kind 3) or in an image
  // file (kind 12), is read with the layout it recorded, not its boot sector.
  for (std::uint8_t kind : {kSourceDeepLostVolume, kSourceImageDeepLostVolume}) {
    SCOPED_TRACE(int(kind));
    Harness h;
    h.MountFile(Corpus("fat16.img"));
    SourceRecord source = fattest::VolumeSource(0, h.sectors, kFat16, kind);
    source.partition->sectorsPerCluster = 3;
    source.partition->fatSize = 48;
    source.partition->reservedSectors = 4;
    FatEngine engine(h.app);
    engine.Prepare(MakeVolume(source, h.disk, false));
    EXPECT_EQ(engine.ScanVolume(0), FatScanResult::InvalidVolume);
    EXPECT_EQ(h.store.Count(), 0u);
  }
}

// ---- the volumes inside every disk container ----

struct Container {
  const char* file;
  std::uint32_t type;
  int fatVolumes;
};
void PrintTo(const Container& c, std::ostream* os) { *os << c.file; }

class QuickScanContainer : public ::testing::TestWithParam<Container> {};

TEST_P(QuickScanContainer, FatVolumesMatchTheirTruth) {
  const Container c = GetParam();
  Harness h;
  const MountResult mount = MountImageFile(c.type, test::CorpusDir() / "disks" / c.file);
  ASSERT_TRUE(mount.mounted);
  SourceList list;
  list.m_nDiskSectors = mount.image->SectorCount();
  ScanPartitions(list, *mount.image);
  BuildSourceList(list, c.type, 0);
  int scanned = 0;
  for (const auto& source : list.m_sources) {
    if (!source->partition) continue;
    const std::uint8_t kind = source->partition->fileSystemKind;
    if (kind != kFsFat16 && kind != kFsFat32) continue;
    ++scanned;
    h.store.Clear();
    FatEngine engine(h.app);
    engine.Prepare(MakeVolume(*source, mount.image, false));
    ASSERT_EQ(engine.ScanVolume(0), FatScanResult::Completed);
    ExpectLiveTruth(h, engine, kind == kFsFat32 ? "fat32" : "fat16");
  }
  EXPECT_EQ(scanned, c.fatVolumes);
}

INSTANTIATE_TEST_SUITE_P(
    Disks, QuickScanContainer,
    ::testing::Values(Container{"mbr.vmdk", kImageVmware, 2}, Container{"mbr-mflat.vmdk", kImageVmware, 2},
                      Container{"mbr-split-sparse/mbr.vmdk", kImageVmware, 2},
                      Container{"mbr.vdi", kImageVirtualBox, 2}, Container{"mbr-static.vdi", kImageVirtualBox, 2},
                      Container{"mbr.vhd", kImageVirtualPc, 2}, Container{"mbr-fixed.vhd", kImageVirtualPc, 2},
                      Container{"gpt.vmdk", kImageVmware, 1}, Container{"gpt.vdi", kImageVirtualBox, 1},
                      Container{"gpt.vhd", kImageVirtualPc, 1}),
    [](const auto& info) {
      std::string name = info.param.file;
      for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      }
      return name;
    });

}  // namespace
}  // namespace corvan
