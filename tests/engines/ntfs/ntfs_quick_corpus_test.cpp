// Quick Recovery over the corpus NTFS volume (made by mkntfs and filled
// through ntfs-3g), checked against what was written (ntfs.truth.tsv) and
// against The Sleuth Kit's listing of the same volume (ntfs.fls.txt).

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "engines/ntfs/ntfs_corpus_support.h"
#include "sources/SectorSource.h"
#include "support/FileSectorSource.h"

namespace corvan {
namespace {

using test::RecordingFoundItemSink;

// One line of `fls -r -p -l`: inode, deleted mark, path and two of its times.
struct FlsRow {
  std::uint32_t inode = 0;
  bool deleted = false;
  std::string path;
  std::time_t modified = 0, created = 0;
};

std::time_t ParseUtc(const std::string& text) {
  std::tm tm{};
  std::istringstream(text) >> std::get_time(&tm, "%Y-%m-%d %H:%M:%S");
  return timegm(&tm);
}

std::vector<FlsRow> ReadFls(const std::filesystem::path& file) {
  std::vector<FlsRow> rows;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> cols;
    std::istringstream s(line);
    for (std::string c; std::getline(s, c, '\t');) cols.push_back(c);
    if (cols.size() < 6) continue;
    const std::string head = cols[0];  // "r/r * 100-128-2:"
    FlsRow r;
    r.deleted = head.find(" * ") != std::string::npos;
    const std::size_t num = head.find_last_of(' ') + 1;
    r.inode = static_cast<std::uint32_t>(std::stoul(head.substr(num)));
    r.path = cols[1];
    r.modified = ParseUtc(cols[2]);
    r.created = ParseUtc(cols[5]);
    rows.push_back(r);
  }
  return rows;
}

std::time_t FromFileTime(std::uint64_t ft) {
  return static_cast<std::time_t>(ft / 10000000ull) - 11644473600LL;
}

class NtfsCorpus : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto image = test::CorpusDir() / "ntfs.img";
    ASSERT_TRUE(std::filesystem::exists(image)) << image;
    source_ = std::make_shared<test::FileSectorSource>(image);
    run_ = std::make_unique<test::QuickRun>(source_, 0, source_->SectorCount());
    ASSERT_TRUE(run_->scanned);
    truth_ = test::ReadTruth(test::CorpusDir() / "ntfs.truth.tsv");
  }

  const test::RecordedItem* ByPath(const std::string& path) const { return run_->ByPath(path); }
  std::string Md5Of(const FoundItemInfo& item, std::set<DataBlockKind>* kinds, WalkResult* result) {
    return run_->Md5Of(item, kinds, result);
  }

  std::shared_ptr<test::FileSectorSource> source_;
  std::unique_ptr<test::QuickRun> run_;
  std::vector<test::TruthRow> truth_;
};

TEST_F(NtfsCorpus, EveryLiveRowStandsUnderItsOwnFolderWithItsSize) {
  int live = 0;
  for (const test::TruthRow& row : truth_) {
    if (row.state != "live") continue;
    ++live;
    const test::RecordedItem* item = ByPath(row.path);
    ASSERT_NE(item, nullptr) << row.path;
    EXPECT_EQ(item->record.attribute, row.type == "dir" ? kItemFolder : kItemFile) << row.path;
    EXPECT_FALSE(item->record.IsDeleted()) << row.path;
    if (row.type == "file") {
      EXPECT_EQ(item->record.size, row.size) << row.path;
    }
  }
  EXPECT_GE(live, 20);
}

TEST_F(NtfsCorpus, NothingIsReportedTwice) {
  std::set<std::uint32_t> ids;
  for (const auto& item : run_->items.items) EXPECT_TRUE(ids.insert(item.record.itemId).second) << item.record.itemId;
  EXPECT_EQ(run_->byPath.size(), run_->items.items.size()) << "an item is unplaced or two share a path";
}

TEST_F(NtfsCorpus, RootComesFirstAndEachFolderBeforeItsContent) {
  ASSERT_FALSE(run_->items.events.empty());
  EXPECT_EQ(run_->items.events.front().kind, RecordingFoundItemSink::EventKind::Root);
  EXPECT_EQ(run_->items.roots, std::vector<std::uint32_t>{NtfsEngine::kRootRecord});
  std::set<std::uint32_t> folders{NtfsEngine::kRootRecord};
  for (const auto& item : run_->items.items) {
    EXPECT_TRUE(folders.count(item.record.parentId)) << Utf16ToUtf8(item.name);
    if (item.record.IsFolder()) folders.insert(item.record.itemId);
  }
}

TEST_F(NtfsCorpus, LiveFileDataHasTheTruthsMd5) {
  std::map<std::string, std::set<DataBlockKind>> kindsByPath;
  for (const test::TruthRow& row : truth_) {
    if (row.state != "live" || row.type != "file") continue;
    const test::RecordedItem* item = ByPath(row.path);
    ASSERT_NE(item, nullptr) << row.path;
    std::set<DataBlockKind> kinds;
    WalkResult result;
    EXPECT_EQ(Md5Of(item->record, &kinds, &result), row.md5) << row.path;
    EXPECT_TRUE(result.Clean()) << row.path;
    EXPECT_EQ(result.bytes, row.size) << row.path;
    kindsByPath[row.path] = kinds;
  }
  // The kinds of data the corpus was made to hold.
  EXPECT_TRUE(kindsByPath["sparse_file.bin"].count(DataBlockKind::Sparse));
  EXPECT_TRUE(kindsByPath["Compressed/compressed_0.txt"].count(DataBlockKind::Decoded));
  EXPECT_TRUE(kindsByPath["Photos0/sym-★ 4/notes_30.txt"].count(DataBlockKind::Resident));
  EXPECT_TRUE(kindsByPath["fragmented_a.bin"].count(DataBlockKind::Normal));
}

TEST_F(NtfsCorpus, DeletedRowsStandUnderTheirFoldersMarkedDeleted) {
  int deleted = 0, sameData = 0;
  for (const test::TruthRow& row : truth_) {
    if (row.state != "deleted") continue;
    ++deleted;
    const test::RecordedItem* item = ByPath(row.path);
    ASSERT_NE(item, nullptr) << row.path;
    EXPECT_TRUE(item->record.IsDeleted()) << row.path;
    EXPECT_EQ(item->record.attribute, row.type == "dir" ? kItemFolder : kItemFile) << row.path;
    if (row.type != "file") continue;
    EXPECT_EQ(item->record.size, row.size) << row.path;
    WalkResult result;
    if (Md5Of(item->record, nullptr, &result) == row.md5) ++sameData;
  }
  EXPECT_GT(deleted, 20);
  // Nothing was written after the deletions, so the clusters still hold
  // what the files held.
  EXPECT_EQ(sameData, std::count_if(truth_.begin(), truth_.end(), [](const test::TruthRow& r) {
              return r.state == "deleted" && r.type == "file";
            }));
}

TEST_F(NtfsCorpus, AgreesWithTheSleuthKitOnRecordsDeletionAndTimes) {
  int compared = 0;
  for (const FlsRow& row : ReadFls(test::CorpusDir() / "ntfs.fls.txt")) {
    // File-system files, named streams and the listing's own orphan folder
    // are not items of a tree.
    if (row.path.empty() || row.path[0] == '$' || row.path.find(':') != std::string::npos) continue;
    const test::RecordedItem* item = ByPath(row.path);
    ASSERT_NE(item, nullptr) << row.path;
    EXPECT_EQ(item->record.itemId, row.inode) << row.path;
    EXPECT_EQ(item->record.Location32(), row.inode) << row.path;
    EXPECT_EQ(item->record.IsDeleted(), row.deleted) << row.path;
    EXPECT_EQ(FromFileTime(item->record.modifiedTime), row.modified) << row.path;
    EXPECT_EQ(FromFileTime(item->record.creationTime), row.created) << row.path;
    ++compared;
  }
  EXPECT_GE(compared, 50);
}

TEST_F(NtfsCorpus, StoredRecordOfACompressedFile) {
  const test::RecordedItem* item = ByPath("Compressed/compressed_0.txt");
  ASSERT_NE(item, nullptr);
  const auto& b = item->bytes;
  auto u32 = [&](std::size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24; };
  for (std::size_t i = 0; i < 16; ++i) EXPECT_EQ(b[i], 0) << i;
  EXPECT_EQ(u32(16), 150000u);
  EXPECT_EQ(u32(20), 0u);
  EXPECT_EQ(u32(24), 115u);  // MFT record, as the listing numbers it
  EXPECT_EQ(u32(28), 0u);
  EXPECT_EQ(u32(32), 64u);   // the folder "Compressed"
  EXPECT_EQ(u32(36), 115u);
  EXPECT_EQ(u32(40), 0u);
  EXPECT_EQ(b[44], 0x20);
  EXPECT_EQ(b[61], kItemCompressed);
  for (std::size_t i = 62; i < 73; ++i) EXPECT_EQ(b[i], 0) << i;
}

TEST_F(NtfsCorpus, CountersProgressAndLog) {
  const auto n = static_cast<std::uint32_t>(run_->items.items.size());
  EXPECT_EQ(run_->Engine().FoundItemCount(), n + 1);  // the root counts
  EXPECT_EQ(run_->Engine().FoldersPosted() + run_->Engine().FilesPosted(), n + 1);
  ASSERT_FALSE(run_->progress.counterTexts.empty());
  EXPECT_EQ(run_->progress.counterTexts.back(), std::to_string(n + 1) + " ");
  EXPECT_EQ(run_->progress.counterTexts.front(), "2 ");
  ASSERT_FALSE(run_->progress.ranges.empty());
  EXPECT_EQ(run_->progress.ranges.front().second, static_cast<std::int64_t>(run_->Engine().MftRecordCount()));
  EXPECT_EQ(run_->progress.stepIts, n);
  EXPECT_EQ(run_->items.statusUpdates, n + 1);
  std::uint64_t total = 0;
  for (const auto& item : run_->items.items) total += item.record.size;
  EXPECT_EQ(run_->Engine().TotalBytes(), total);

  const std::string log = run_->App().LogViewText();
  for (const char* text : {"Creating directory tree", "Process started", "Started on: ",
                           "Adding deleted file(s) and folder(s)", "Process completed", "Completed on : "})
    EXPECT_NE(log.find(text), std::string::npos) << text;
}

TEST_F(NtfsCorpus, FreeClustersNeverHoldALiveFile) {
  run_->Engine().LoadVolumeBitmap();
  ASSERT_TRUE(run_->Engine().FreeExtentsValid());
  const auto& free = run_->Engine().FreeExtents();
  ASSERT_FALSE(free.empty());
  const std::uint64_t clusters = run_->Engine().VolumeSectorCount() / run_->Engine().SectorsPerCluster();
  std::uint64_t previousEnd = 0;
  for (const FreeExtentNode& e : free) {
    EXPECT_GT(e.count, 0u);
    EXPECT_GE(e.first, previousEnd);
    EXPECT_LE(e.first + e.count, clusters);
    previousEnd = e.first + e.count + 1;  // an allocated cluster lies between two extents
  }
  auto isFree = [&](std::uint64_t c) {
    for (const FreeExtentNode& e : free)
      if (c >= e.first && c < e.first + e.count) return true;
    return false;
  };
  for (const test::TruthRow& row : truth_) {
    if (row.state != "live" || row.type != "file") continue;
    FileDataLayout layout;
    ASSERT_TRUE(run_->Engine().GetFileLayout(ByPath(row.path)->record, layout));
    for (const DataExtent& e : layout.extents)
      for (std::uint64_t c = 0; !e.sparse && c < e.length; ++c) EXPECT_FALSE(isFree(e.lcn + c)) << row.path;
  }
  for (const DataExtent& e : run_->Engine().MftRuns()) EXPECT_FALSE(isFree(e.lcn));
}

}  // namespace
}  // namespace corvan
