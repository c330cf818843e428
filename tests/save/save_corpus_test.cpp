// Saving from the corpus volumes inside a disk container, as the results
// window would after a scan: every live file with the truth's MD5 and the
// modification time The Sleuth Kit reads from the same volume
// (tests/data/save, made by tests/tools/make-save-reference); deleted files
// wherever tsk_recover gets them back; both zip modes read back by four
// outside readers, with the time of saving in each entry's MS-DOS fields.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "save/SaveTestSupport.h"

namespace corvan {
namespace {

using test::CountOf;

struct VolumeCase {
  const char* name;  // corpus volume: truth and reference files
  std::uint16_t index;  // volume of disks/mbr.vmdk
};

std::ostream& operator<<(std::ostream& os, const VolumeCase& c) { return os << c.name; }

class SaveCorpus : public ::testing::TestWithParam<VolumeCase> {
 protected:
  void ScanOrSkip(std::uint32_t mode) {
    const std::string problem = volume_.Scan("disks/mbr.vmdk", GetParam().index, mode);
    if (!problem.empty()) FAIL() << problem;
  }
  std::vector<test::TruthRow> Truth() const {
    return test::ReadTruth(test::CorpusDir() / (std::string(GetParam().name) + ".truth.tsv"));
  }
  std::filesystem::path Dest() const { return volume_.dir / "saved"; }

  test::ScopedTimeZone zone_{test::kSaveTestZone};
  test::ScannedVolume volume_;
  UnattendedSaveDecisions decisions_;
};

TEST_P(SaveCorpus, LiveFilesHaveTheTruthsBytesAndTheVolumesTimes) {
  ScanOrSkip(kModeQuick);
  if (HasFatalFailure()) return;
  const auto run = test::SaveStore(volume_.app, volume_.store, Dest(), decisions_, {0});
  EXPECT_FALSE(run.result.failedJob) << run.result.failure;
  EXPECT_EQ(CountOf(run.log, "[Partially Recovered]"), 0u);

  std::map<std::string, std::int64_t> mtimes;
  for (const auto& row : test::ReadReference(test::SaveDataDir() / (std::string(GetParam().name) + ".mtime.tsv")))
    if (row[1] == "live") mtimes[row[0]] = std::stoll(row[2]);
  std::size_t files = 0;
  for (const test::TruthRow& row : Truth()) {
    if (row.type != "file" || row.state != "live") continue;
    ++files;
    const auto path = Dest() / row.path;
    ASSERT_TRUE(std::filesystem::is_regular_file(path)) << row.path;
    EXPECT_EQ(test::FileMd5(path), row.md5) << row.path;
    ASSERT_TRUE(mtimes.count(row.path)) << row.path;
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, mtimes[row.path]) << row.path;
  }
  EXPECT_GT(files, 10u);
  EXPECT_GE(run.result.recovered, files);
  EXPECT_EQ(CountOf(run.log, "[Recovered]"), run.result.recovered);
}

TEST_P(SaveCorpus, DeletedFilesMatchWhereverTheReferenceToolRecoversThem) {
  ScanOrSkip(kModeDeleted);
  if (HasFatalFailure()) return;
  const auto run = test::SaveStore(volume_.app, volume_.store, Dest(), decisions_, {2});
  EXPECT_FALSE(run.result.failedJob) << run.result.failure;
  const auto rows = test::ReadReference(test::SaveDataDir() / (std::string(GetParam().name) + ".tsk-deleted.tsv"));
  ASSERT_FALSE(rows.empty());
  // Every file the reference tool gets back is among the files saved.
  EXPECT_GE(run.result.recovered + run.result.partial, rows.size()) << run.log.substr(0, 4000);
  for (const auto& row : rows) {
    const auto path = Dest() / row[0];
    ASSERT_TRUE(std::filesystem::is_regular_file(path)) << row[0];
    EXPECT_EQ(test::FileMd5(path), row[1]) << row[0];
  }
  // Only deleted files were asked for.
  for (const test::TruthRow& row : Truth())
    if (row.type == "file" && row.state == "live") EXPECT_FALSE(std::filesystem::exists(Dest() / row.path)) << row.path;
}

TEST_P(SaveCorpus, BothZipModesReadBackWithTheTruthsBytes) {
  ScanOrSkip(kModeQuick);
  if (HasFatalFailure()) return;
  std::map<std::string, std::string> truth;  // live files: path -> MD5
  for (const test::TruthRow& row : Truth())
    if (row.type == "file" && row.state == "live") truth[row.path] = row.md5;

  // One archive for the job: entries carry the folder path, and the local
  // time they were written at in their MS-DOS fields.
  const std::time_t before = std::time(nullptr);
  const auto single = test::SaveStore(volume_.app, volume_.store, Dest(), decisions_, {0, 1, 1});
  const std::time_t after = std::time(nullptr);
  EXPECT_FALSE(single.result.failedJob) << single.result.failure;
  const auto listing = test::CheckZips({Dest() / "Recovered Data.zip"}, true, true);
  ASSERT_EQ(listing.status, 0) << listing.output.substr(0, 4000);
  const auto times = test::ZipEntryTimes(listing.output);
  EXPECT_GE(times.size(), truth.size());
  for (const auto& [name, text] : times) {
    EXPECT_GE(text, test::DosLocalText(before)) << name;
    EXPECT_LE(text, test::DosLocalText(after)) << name;
  }
  for (const auto& [path, md5] : truth)
    EXPECT_NE(listing.output.find("\t" + path + "\t"), std::string::npos) << path;
  for (const auto& [path, md5] : truth) {
    const std::size_t at = listing.output.find("\t" + path + "\t");
    if (at == std::string::npos) continue;
    const std::size_t eol = listing.output.find('\n', at);
    EXPECT_EQ(listing.output.substr(eol - 20 - 32, 32), md5) << path;
  }

  // One archive per file, in the folder tree.
  std::filesystem::remove_all(Dest());
  const auto own = test::SaveStore(volume_.app, volume_.store, Dest(), decisions_, {0, 1, 0});
  EXPECT_FALSE(own.result.failedJob) << own.result.failure;
  std::vector<std::filesystem::path> archives;
  for (const auto& [path, md5] : truth) archives.push_back(Dest() / (path + ".zip"));
  const auto each = test::CheckZips(archives);
  ASSERT_EQ(each.status, 0) << each.output.substr(0, 4000);
  for (const auto& [path, md5] : truth) {
    const std::string name = std::filesystem::path(path).filename().string();
    EXPECT_NE(each.output.find("\t" + name + "\t"), std::string::npos) << path;
    EXPECT_NE(each.output.find(md5), std::string::npos) << path;
  }
}

INSTANTIATE_TEST_SUITE_P(MbrDisk, SaveCorpus,
                         ::testing::Values(VolumeCase{"ntfs", 1}, VolumeCase{"fat32", 2},
                                           VolumeCase{"exfat", 3}, VolumeCase{"fat16", 4}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace corvan
