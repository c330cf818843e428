// The exFAT engine over the corpus volume (exfat.img, and the same volume
// inside every MBR container), judged by what was written to it
// (exfat.truth.tsv). The Sleuth Kit's icat returns the truth's MD5 for every
// deleted file of this volume (their clusters were not reused), so deleted
// files are held to the truth's MD5 as well.

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include "engines/exfat/ExFatTestRig.h"
#include "platform/ByteCodec.h"
#include "app/SourceSetup.h"
#include "sources/VirtualDiskImage.h"
#include "sources/image_test_support.h"
#include "support/CorpusTruth.h"
#include "support/FileSectorSource.h"
#include "support/Md5.h"

namespace corvan {
namespace {

using exfattest::ExFatRig;

using test::TruthRow;

bool Live(const TruthRow& r) { return r.state == "live"; }
bool IsFile(const TruthRow& r) { return r.type == "file"; }

std::vector<TruthRow> ReadTruth() { return test::ReadTruth(test::CorpusDir() / "exfat.truth.tsv"); }

std::string Md5Of(ExFatRig& rig, const FoundItemInfo& item) {
  WalkResult result;
  const std::vector<std::uint8_t> data = rig.Data(item, &result);
  EXPECT_TRUE(result.Clean());
  EXPECT_EQ(data.size(), item.size);
  return test::Md5Hex(data);
}

// Every path the pass reported, with its item.
std::map<std::string, const test::RecordedItem*> Paths(const ExFatRig& rig) {
  std::map<std::string, const test::RecordedItem*> out;
  for (std::size_t i = 0; i < rig.items.items.size(); ++i) {
    const auto p = rig.items.PathOf(i, kFatRootId);
    EXPECT_TRUE(p) << "item " << i << " hangs under no folder that was sent";
    if (p) {
      EXPECT_TRUE(out.emplace(Utf16ToUtf8(*p), &rig.items.items[i]).second) << Utf16ToUtf8(*p) << " twice";
    }
  }
  return out;
}

class ExFatCorpus : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = test::CorpusDir() / "exfat.img";
    ASSERT_TRUE(std::filesystem::exists(image_)) << image_;
    truth_ = ReadTruth();
    ASSERT_EQ(truth_.size(), 51u);
  }
  ExFatEngine& MountImage(const std::filesystem::path& image) {
    auto source = std::make_shared<test::FileSectorSource>(image);
    rig_.disk = source;
    return rig_.Prepare(0, source->SectorCount());
  }
  // Every row of the truth at its path, a folder or a file, live or
  // deleted as written, each file with its size and data.
  void ExpectEveryRowAtItsPath(const std::map<std::string, const test::RecordedItem*>& paths) {
    for (const TruthRow& row : truth_) {
      const auto it = paths.find(row.path);
      ASSERT_NE(it, paths.end()) << row.path;
      const FoundItemInfo& item = it->second->record;
      EXPECT_EQ(item.IsFolder(), !IsFile(row)) << row.path;
      EXPECT_EQ(item.IsDeleted(), !Live(row)) << row.path;
      if (!IsFile(row)) continue;
      EXPECT_EQ(item.size, row.size) << row.path;
      EXPECT_EQ(Md5Of(rig_, item), row.md5) << row.path;
    }
  }

  std::filesystem::path image_;
  std::vector<TruthRow> truth_;
  ExFatRig rig_;
};

TEST_F(ExFatCorpus, QuickListsEveryLiveItemWithItsSizeAndData) {
  ExFatEngine& engine = MountImage(image_);
  ASSERT_EQ(engine.ScanVolume(0), ExFatScanResult::Completed);
  EXPECT_EQ(engine.SectorsPerCluster(), 8u) << "4 KiB clusters (SectorsPerClusterShift 3)";
  ASSERT_EQ(rig_.items.roots, std::vector<std::uint32_t>{kFatRootId});
  const auto paths = Paths(rig_);
  ExpectEveryRowAtItsPath(paths);
  // The fragmented files follow their FAT chains; the others are one run.
  EXPECT_NE(paths.at("fragmented_a.bin")->record.flags & kExFatItemFatChain, 0);
  EXPECT_EQ(paths.at("photo_0.txt")->record.flags & kExFatItemFatChain, 0);
  EXPECT_EQ(paths.size(), truth_.size()) << "nothing beyond the truth (bitmap, up-case table, label)";
  // Root and every folder counted once.
  std::uint32_t folders = 1, files = 0;
  std::uint64_t bytes = 0;
  for (const TruthRow& row : truth_) {
    IsFile(row) ? ++files : ++folders;
    if (IsFile(row)) bytes += row.size;
  }
  EXPECT_EQ(engine.Poster()->Folders(), folders);
  EXPECT_EQ(engine.Poster()->Files(), files);
  EXPECT_EQ(engine.FoundBytes(), bytes);
  EXPECT_EQ(engine.FoundItemCount(), folders + files);
  EXPECT_EQ(rig_.progress.counterTexts.back(), std::to_string(folders + files) + " Entries Found");
}

TEST_F(ExFatCorpus, QuickKeepsTheEntriesTimeStampsUnconverted) {
  ExFatEngine& engine = MountImage(image_);
  ASSERT_EQ(engine.ScanVolume(0), ExFatScanResult::Completed);
  const auto paths = Paths(rig_);
  // fls: modified 2026-12-07 07:59:50, created 07:59:50 (whole seconds).
  const std::uint32_t stamp = (50u / 2) | (59u << 5) | (7u << 11) | (7u << 16) | (12u << 21) | (46u << 25);
  const test::RecordedItem* item = paths.at("photo_0.txt");
  EXPECT_EQ(item->bytes[45] | item->bytes[46] | item->bytes[47] | item->bytes[48], 0);
  EXPECT_EQ(GetLE32(item->bytes.data() + 49), stamp);
  EXPECT_EQ(GetLE32(item->bytes.data() + 57), stamp);
}

TEST_F(ExFatCorpus, DeletedAfterAQuickVolumeSearchListsEveryDeletedItem) {
  ExFatEngine& engine = MountImage(image_);
  ASSERT_EQ(engine.ScanVolume(1), ExFatScanResult::Completed);
  const auto paths = Paths(rig_);
  std::set<std::string> ancestors;
  for (const TruthRow& row : truth_) {
    if (Live(row)) continue;
    const auto it = paths.find(row.path);
    ASSERT_NE(it, paths.end()) << row.path;
    EXPECT_TRUE(it->second->record.IsDeleted()) << row.path;
    if (IsFile(row)) {
      EXPECT_EQ(it->second->record.size, row.size) << row.path;
      EXPECT_EQ(Md5Of(rig_, it->second->record), row.md5) << row.path;
    }
    for (std::size_t at = row.path.find('/'); at != std::string::npos; at = row.path.find('/', at + 1))
      ancestors.insert(row.path.substr(0, at));
  }
  // Live items appear only as the folders that lead to deleted ones.
  for (const auto& [path, item] : paths) {
    if (item->record.IsDeleted()) continue;
    EXPECT_TRUE(item->record.IsFolder()) << path;
    EXPECT_TRUE(ancestors.count(path)) << path << " leads to nothing deleted";
  }
  EXPECT_FALSE(paths.count("tmp0/tmp5"));
}

TEST_F(ExFatCorpus, DeletedWithTheLostFolderSearchListsEveryDeletedItemOnce) {
  ExFatEngine& engine = MountImage(image_);
  ASSERT_EQ(engine.DeepScan(1), ExFatScanResult::Completed);
  const auto paths = Paths(rig_);
  for (const TruthRow& row : truth_) {
    if (Live(row)) continue;
    const auto it = paths.find(row.path);
    ASSERT_NE(it, paths.end()) << row.path;
    if (IsFile(row)) {
      EXPECT_EQ(Md5Of(rig_, it->second->record), row.md5) << row.path;
    }
  }
  // The deleted folder was sent by the tree walk and marked, so the search
  // of the free clusters does not offer it again as a lost folder.
  for (const auto& [path, item] : paths) EXPECT_EQ(path.find("Lost folder(s)"), std::string::npos) << path;
}

TEST_F(ExFatCorpus, AdvanceListsTheRootTheBootSectorOrItsBackupNames) {
  // The volume as written, then copies whose main boot sector, or whole
  // main boot region (sectors 0 to 11), is zeroed: the backup names the root.
  for (const std::uint32_t zeroed : {0u, 1u, 12u}) {
    SCOPED_TRACE(zeroed);
    const std::filesystem::path copy = rig_.Dir() / ("exfat-" + std::to_string(zeroed) + ".img");
    std::filesystem::copy_file(image_, copy);
    test::PatchFile(copy, 0, std::vector<std::uint8_t>(zeroed * 512, 0));
    ExFatEngine& engine = MountImage(copy);
    ASSERT_EQ(engine.DeepScan(0), ExFatScanResult::Completed);
    EXPECT_EQ(engine.RootCluster(), 5u);
    ExpectEveryRowAtItsPath(Paths(rig_));
  }
}

TEST_F(ExFatCorpus, AdvanceWithoutTheRootListsTheFoldersWithTheirFiles) {
  // A copy whose root directory cluster (FirstClusterOfRootDirectory 5,
  // heap at sector 4096, 8 sectors a cluster) is zeroed.
  const std::filesystem::path copy = rig_.Dir() / "exfat-noroot.img";
  std::filesystem::copy_file(image_, copy);
  test::PatchFile(copy, (4096 + (5 - 2) * 8) * 512ull, std::vector<std::uint8_t>(4096, 0));
  ExFatEngine& engine = MountImage(copy);
  ASSERT_EQ(engine.DeepScan(0), ExFatScanResult::Completed);
  const auto paths = Paths(rig_);

  // Every item below a top folder of the root reappears under
  // "Lost folder(s)/Folder N", the same N for all of one top folder.
  const std::regex lost(R"(Lost folder\(s\)/(Folder \d+)/(.*))");
  std::map<std::string, std::string> lostFolderOf;  // top folder -> "Folder N"
  for (const TruthRow& row : truth_) {
    const std::size_t slash = row.path.find('/');
    if (slash == std::string::npos) continue;  // its entry was in the root
    const std::string top = row.path.substr(0, slash), rest = row.path.substr(slash + 1);
    const test::RecordedItem* found = nullptr;
    for (const auto& [path, item] : paths) {
      std::smatch m;
      if (!std::regex_match(path, m, lost) || m[2] != rest) continue;
      if (lostFolderOf.count(top) && lostFolderOf[top] != m[1]) continue;
      lostFolderOf[top] = m[1];
      found = item;
      break;
    }
    ASSERT_NE(found, nullptr) << row.path;
    EXPECT_EQ(found->record.IsDeleted(), !Live(row)) << row.path;
    if (IsFile(row)) {
      EXPECT_EQ(Md5Of(rig_, found->record), row.md5) << row.path;
    }
  }
  EXPECT_EQ(lostFolderOf.size(), 2u);  // tmp0 and Photos6
  EXPECT_NE(lostFolderOf["tmp0"], lostFolderOf["Photos6"]);
  const long top = rig_.Find("Lost folder(s)");
  ASSERT_GE(top, 0);
  EXPECT_EQ(rig_.items.items[top].record.itemId, kExFatLostFolderId);
  EXPECT_EQ(rig_.items.items[top].record.location, 1u);
}

// The same volume as the MBR disk's third partition, in every container.
struct Container {
  const char* file;
  std::uint32_t type;
};
void PrintTo(const Container& c, std::ostream* os) { *os << c.file; }

class ExFatInContainer : public ::testing::TestWithParam<Container> {};

TEST_P(ExFatInContainer, QuickListsEveryLiveFileWithItsData) {
  ExFatRig rig;
  const MountOutcome mounted = MountAndListSources(*rig.app, GetParam().type, test::DisksDir() / GetParam().file);
  ASSERT_TRUE(mounted.mounted);
  const SourceRecord* volume = nullptr;
  for (const auto& s : rig.app->m_sourceList.m_sources)
    if (s->partition && s->partition->fileSystemKind == kFsExFat) volume = s.get();
  ASSERT_NE(volume, nullptr);
  EXPECT_EQ(volume->partition->startSector, 188416u);
  ExFatEngine engine(*rig.app);
  engine.AttachWindows(&rig.items, &rig.progress);
  engine.Prepare(MakeVolume(*volume, rig.app->m_pDisk, volume->path.size() > 1));
  ASSERT_EQ(engine.ScanVolume(0), ExFatScanResult::Completed);
  std::map<std::string, const test::RecordedItem*> paths;
  for (std::size_t i = 0; i < rig.items.items.size(); ++i)
    if (auto p = rig.items.PathOf(i, kFatRootId)) paths.emplace(Utf16ToUtf8(*p), &rig.items.items[i]);
  for (const TruthRow& row : ReadTruth()) {
    if (!Live(row) || !IsFile(row)) continue;
    const auto it = paths.find(row.path);
    ASSERT_NE(it, paths.end()) << row.path;
    EXPECT_EQ(it->second->record.size, row.size);
    std::vector<std::uint8_t> data;
    engine.ReadFoundItem(it->second->record, [&](const DataBlock& b) {
      data.insert(data.end(), b.bytes.begin(), b.bytes.end());
      return true;
    });
    EXPECT_EQ(test::Md5Hex(data), row.md5) << row.path;
  }
  engine.FreeLists();
  rig.app->m_sourceList.FreeSourceList();
}

INSTANTIATE_TEST_SUITE_P(Mbr, ExFatInContainer,
                         ::testing::Values(Container{"mbr.vmdk", kImageVmware},
                                           Container{"mbr-mflat.vmdk", kImageVmware},
                                           Container{"mbr-split-sparse/mbr.vmdk", kImageVmware},
                                           Container{"mbr.vdi", kImageVirtualBox},
                                           Container{"mbr-static.vdi", kImageVirtualBox},
                                           Container{"mbr.vhd", kImageVirtualPc},
                                           Container{"mbr-fixed.vhd", kImageVirtualPc}));

}  // namespace
}  // namespace corvan
