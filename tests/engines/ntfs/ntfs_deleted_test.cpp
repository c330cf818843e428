// Deleted Recovery: over the corpus NTFS volume, every deleted row of the
// truth under its own path with its size, and the data The Sleuth Kit still
// reads for it; over small volumes built from the format's description, the
// folder chains, "Lost Folder(s)" and its made-up folders, and loops among
// deleted folders.

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "engines/ntfs/ntfs_corpus_support.h"
#include "engines/ntfs/ntfs_test_records.h"
#include "sources/SectorSource.h"
#include "support/FileSectorSource.h"

namespace corvan {
namespace {

namespace img = test::ntfsimg;
using img::Bytes;
using test::Entry;
using test::FileRecord;
using test::FolderRecord;
using test::kDirInUse;
using test::kFolderFlags;

constexpr std::uint32_t kLostId = 0x0FFFFFFF;

TEST(NtfsDeletedCorpus, EveryDeletedRowStandsWhereItWasWithItsSizeAndData) {
  auto source = std::make_shared<test::FileSectorSource>(test::CorpusDir() / "ntfs.img");
  ASSERT_TRUE(source->IsOpen());
  test::PassRun run(source, 0, source->SectorCount(), test::NtfsPass::Deleted);
  ASSERT_TRUE(run.scanned);
  const auto icat = test::DeletedFilesIcatReads();
  ASSERT_GE(icat.size(), 20u);

  int deleted = 0, md5s = 0;
  std::set<std::string> deletedPaths;
  for (const test::TruthRow& row : test::ReadTruth(test::CorpusDir() / "ntfs.truth.tsv")) {
    if (row.state == "live") {
      // Live files are not this pass's business; live folders show only on
      // the way to a deleted file.
      const test::RecordedItem* item = run.ByPath(row.path);
      if (row.type == "file") {
        EXPECT_EQ(item, nullptr) << row.path;
      } else if (item) {
        EXPECT_FALSE(item->record.IsDeleted()) << row.path;
      }
      continue;
    }
    ++deleted;
    deletedPaths.insert(row.path);
    const test::RecordedItem* item = run.ByPath(row.path);
    ASSERT_NE(item, nullptr) << row.path;
    EXPECT_TRUE(item->record.IsDeleted()) << row.path;
    EXPECT_EQ(item->record.attribute, row.type == "dir" ? kItemFolder : kItemFile) << row.path;
    if (row.type != "file") continue;
    EXPECT_EQ(item->record.size, row.size) << row.path;
    if (const auto it = icat.find(row.path); it != icat.end()) {
      WalkResult result;
      EXPECT_EQ(run.Md5Of(item->record, nullptr, &result), it->second) << row.path;
      EXPECT_TRUE(result.Clean()) << row.path;
      ++md5s;
    }
  }
  EXPECT_EQ(deleted, 36);
  EXPECT_EQ(md5s, static_cast<int>(icat.size()));

  // The root first; nothing twice; nothing lost on this healthy volume.
  EXPECT_EQ(run.items.roots, std::vector<std::uint32_t>{NtfsEngine::kRootRecord});
  std::set<std::uint32_t> ids;
  for (const auto& item : run.items.items) {
    EXPECT_TRUE(ids.insert(item.record.itemId).second);
    EXPECT_NE(item.record.itemId, kLostId);
  }
  EXPECT_EQ(run.byPath.size(), run.items.items.size());
}

// Small volumes of 512-byte clusters with the $MFT at cluster 4.
class NtfsDeletedSynthetic : public ::testing::Test {
 protected:
  NtfsDeletedSynthetic() : app_(dir_ / "settings.ini", dir_.path()), image_(1, 600, 4, 96) {
    app_.m_pPrompt = &prompt_;
    image_.PutRecord(5, FolderRecord(5, 5, u".", {}));
  }

  bool Scan(Bytes volume) {
    engine_ = test::EngineOverDisk(app_, std::make_shared<MemorySectorSource>(std::move(volume)), &items_, &progress_);
    return engine_->ScanVolume(true);
  }
  bool Scan() { return Scan(image_.Finish()); }

  void Folder(std::uint32_t n, std::uint32_t parent, const std::u16string& name, bool deleted = true) {
    image_.PutRecord(n, FolderRecord(n, parent, name, {}, deleted ? img::kDirectory : kDirInUse));
  }
  void File(std::uint32_t n, std::uint32_t parent, const std::u16string& name, bool deleted = true) {
    image_.PutRecord(n, FileRecord(n, parent, name, img::Resident(0x80, {'x', 'y'}, u"", 2),
                                   deleted ? 0 : img::kInUse));
  }
  std::vector<std::size_t> WithId(std::uint32_t id) const {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < items_.items.size(); ++i)
      if (items_.items[i].record.itemId == id) out.push_back(i);
    return out;
  }
  std::string PathOf(std::uint32_t id) const {
    const auto found = WithId(id);
    if (found.size() != 1) return "?" + std::to_string(found.size());
    const auto p = items_.PathOf(found[0], NtfsEngine::kRootRecord);
    return p ? Utf16ToUtf8(*p) : "?";
  }
  const test::RecordedItem& Item(std::uint32_t id) const { return items_.items.at(WithId(id).at(0)); }

  test::TempDir dir_;
  CORVANApp app_;
  test::RecordingPrompt prompt_;
  test::RecordingFoundItemSink items_;
  test::RecordingProgressSink progress_;
  img::NtfsImage image_;
  std::unique_ptr<NtfsEngine> engine_;
};

TEST_F(NtfsDeletedSynthetic, ADeletedFileComesWithTheFoldersLeadingToIt) {
  Folder(20, 5, u"live", false);
  Folder(21, 20, u"gone");
  File(22, 21, u"old.txt");
  File(23, 20, u"kept.txt", false);   // in use: not shown
  Folder(24, 5, u"empty-gone");        // no deleted file below: not shown
  File(25, 5, u"top.txt");
  ASSERT_TRUE(Scan());
  EXPECT_EQ(PathOf(22), "live/gone/old.txt");
  EXPECT_FALSE(Item(20).record.IsDeleted());
  EXPECT_TRUE(Item(21).record.IsDeleted());
  EXPECT_TRUE(Item(22).record.IsDeleted());
  EXPECT_EQ(Item(22).record.size, 2u);
  EXPECT_EQ(PathOf(25), "top.txt");
  EXPECT_TRUE(WithId(23).empty());
  EXPECT_TRUE(WithId(24).empty());
  // Folders before what they hold.
  EXPECT_LT(WithId(20)[0], WithId(21)[0]);
  EXPECT_LT(WithId(21)[0], WithId(22)[0]);
  EXPECT_TRUE(prompt_.texts.empty());
}

TEST_F(NtfsDeletedSynthetic, OrphansAndLoopsGoUnderOneLostFolder) {
  File(30, 70, u"a.txt");  // two files of one missing parent
  File(31, 70, u"b.txt");
  Folder(32, 71, u"orphan");
  File(33, 32, u"c.txt");
  Folder(40, 41, u"x");  // folders that name each other
  Folder(41, 40, u"y");
  File(42, 40, u"in-x.txt");
  Folder(43, 43, u"self");
  File(44, 43, u"in-self.txt");
  File(50, 5, u"first.txt");  // a parent id that a file has
  File(51, 50, u"child-of-a-file.txt");
  ASSERT_TRUE(Scan());
  ASSERT_EQ(WithId(kLostId).size(), 1u);
  EXPECT_EQ(Item(kLostId).name, u"Lost Folder(s)");
  EXPECT_EQ(Item(kLostId).record.parentId, 5u);
  EXPECT_EQ(Item(kLostId).record.location, kLostId);
  EXPECT_EQ(Item(70).name, u"Folder 70");
  EXPECT_EQ(PathOf(30), "Lost Folder(s)/Folder 70/a.txt");
  EXPECT_EQ(PathOf(31), "Lost Folder(s)/Folder 70/b.txt");
  EXPECT_EQ(PathOf(33), "Lost Folder(s)/Folder 71/orphan/c.txt");
  EXPECT_EQ(PathOf(42), "Lost Folder(s)/y/x/in-x.txt");
  EXPECT_EQ(PathOf(44), "Lost Folder(s)/self/in-self.txt");
  EXPECT_EQ(PathOf(50), "first.txt");
  EXPECT_EQ(PathOf(51), "Lost Folder(s)/child-of-a-file.txt");
}

TEST_F(NtfsDeletedSynthetic, OnlyFilesInUseGiveTheRootAlone) {
  File(20, 5, u"a.txt", false);
  Folder(21, 5, u"dir", false);
  File(22, 21, u"b.txt", false);
  // A deleted record without a name is passed over.
  img::RecordBuilder nameless;
  nameless.number = 23;
  nameless.flags = 0;
  nameless.Add(img::Resident(0x10, img::StdInfo(1, 2), u"", 0)).Add(img::Resident(0x80, {1}, u"", 1));
  image_.PutRecord(23, nameless.Build());
  ASSERT_TRUE(Scan());
  EXPECT_EQ(items_.roots, std::vector<std::uint32_t>{NtfsEngine::kRootRecord});
  EXPECT_TRUE(items_.items.empty());
}

TEST_F(NtfsDeletedSynthetic, ARecordThatLostItsSizeIsGivenWhatItsRunsCover) {
  const Bytes data = test::Pattern(3 * 512, 9);
  const std::uint64_t lcn = image_.Allocate(3);
  image_.WriteClusters(lcn, data);
  image_.PutRecord(60, FileRecord(60, 5, u"cleared.bin",
                                  img::NonResident(0x80, img::Pairs({{lcn, 3}}), 0, 2, 3 * 512, 0, 0, 0, 0, u"", 2), 0));
  ASSERT_TRUE(Scan());
  ASSERT_EQ(Item(60).record.size, 3u * 512);
  Bytes read;
  const WalkResult r = engine_->ReadFoundItem(Item(60).record, [&](const DataBlock& b) {
    read.insert(read.end(), b.bytes.begin(), b.bytes.end());
    return true;
  });
  EXPECT_TRUE(r.Clean());
  EXPECT_EQ(read, data);
}

TEST_F(NtfsDeletedSynthetic, WithoutAnMftNothingIsShownAndNothingAsked) {
  File(20, 5, u"a.txt");
  Bytes volume = image_.Finish();
  std::memset(volume.data(), 0, 512);
  std::memset(volume.data() + volume.size() - 512, 0, 512);
  EXPECT_FALSE(Scan(std::move(volume)));
  EXPECT_TRUE(items_.items.empty());
  EXPECT_TRUE(items_.roots.empty());
  EXPECT_TRUE(prompt_.texts.empty());
}

TEST_F(NtfsDeletedSynthetic, AStopEndsTheRecordScanAndIsLogged) {
  for (std::uint32_t n = 20; n < 60; ++n) File(n, 5, u"f" + Utf8ToUtf16(std::to_string(n)));
  app_.m_bAbort = 1;
  ASSERT_TRUE(Scan());
  EXPECT_TRUE(items_.items.empty());
  EXPECT_NE(app_.LogViewText().find("Process aborted. User intervention"), std::string::npos);
  EXPECT_EQ(app_.CriticalPhaseFlag().load(), 0u);
}

}  // namespace
}  // namespace corvan
