// Saving what is checked in the results window: a scanned corpus volume,
// folders and files checked in one view, the saving thread walking the
// checks. The saved files must be exactly the checked ones with the
// truth's bytes, and the checks of what was saved must be gone afterwards.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "platform/TextConv.h"
#include "save/CheckedItemsWalk.h"
#include "save/SaveTestSupport.h"

namespace corvan {
namespace {

class CheckedWalk : public ::testing::Test {
 protected:
  void Scan(const char* volumeName, std::uint16_t index) {
    name_ = volumeName;
    volume_.store.SetGroupByType(true);  // as the results window does for every mode but Raw
    const std::string problem = volume_.Scan("disks/mbr.vmdk", index, kModeQuick);
    ASSERT_TRUE(problem.empty()) << problem;
    truth_ = test::ReadTruth(test::CorpusDir() / (name_ + ".truth.tsv"));
  }
  FoundItemHandle ByPath(const std::u16string& path) const {
    for (FoundItemHandle h = 1; h < volume_.store.Count(); ++h)
      if (volume_.store.PathOf(h) == path && !IsTypeFolder(volume_.store.Record(h))) return h;
    ADD_FAILURE() << "no item " << Utf16ToUtf8(path);
    return kNoFoundItem;
  }
  // Saves the view's checked items (select mode 0) into Dest().
  SaveJobResult Save(int view) {
    CheckedItemsWalk walk(volume_.store, view);
    SaveJob job = MakeSaveJob(volume_.app);
    job.request.m_szDest = Dest();
    job.request.m_nSelectMode = 0;
    job.request.m_nWhichFiles = 0;
    job.request.m_nFileCount = volume_.store.CountRecoverableFiles(view);
    CThreadForSavingFiles saver(std::move(job), walk, decisions_);
    saver.Start();
    saver.Join();
    return saver.Result();
  }
  std::filesystem::path Dest() const { return volume_.dir / "saved"; }
  // Every regular file under Dest(), by its path below it.
  std::map<std::string, std::string> SavedFiles() const {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(Dest()))
      if (e.is_regular_file()) out[std::filesystem::relative(e.path(), Dest()).string()] = test::FileMd5(e.path());
    return out;
  }
  // Live files of the truth below `folder` ("" for all), path -> MD5.
  std::map<std::string, std::string> LiveTruth(const std::string& folder) const {
    std::map<std::string, std::string> out;
    for (const auto& row : truth_)
      if (row.type == "file" && row.state == "live" && (folder.empty() || row.path.rfind(folder + "/", 0) == 0))
        out[row.path] = row.md5;
    return out;
  }

  std::string name_;
  test::ScannedVolume volume_;
  std::vector<test::TruthRow> truth_;
  UnattendedSaveDecisions decisions_;
};

TEST_F(CheckedWalk, ACheckedFolderSavesExactlyItsFilesAndIsUncheckedAfterwards) {
  Scan("ntfs", 1);
  if (HasFatalFailure()) return;
  FoundItemStore& store = volume_.store;
  const FoundItemHandle folder = ByPath(u"Compressed");
  ASSERT_NE(folder, kNoFoundItem);
  store.SetTreeCheck(kViewClassic, folder, true);
  const auto expected = LiveTruth("Compressed");
  ASSERT_GT(expected.size(), 1u);
  ASSERT_EQ(store.Selection(kViewClassic).files, expected.size());

  const SaveJobResult result = Save(kViewClassic);
  EXPECT_FALSE(result.failedJob) << result.failure;
  EXPECT_EQ(result.recovered, expected.size());
  EXPECT_EQ(SavedFiles(), expected);

  // Everything saved: no checks, no counts, the folder and the root clear.
  EXPECT_EQ(store.Selection(kViewClassic), SelectionCounts{});
  EXPECT_EQ(store.CheckState(kViewClassic, folder), kUnchecked);
  EXPECT_EQ(store.CheckState(kViewClassic, store.Root()), kUnchecked);
}

TEST_F(CheckedWalk, SingleFilesAndNestedFoldersKeepTheirPlaceInTheTree) {
  Scan("fat32", 2);
  if (HasFatalFailure()) return;
  FoundItemStore& store = volume_.store;
  const FoundItemHandle music = ByPath(u"Backup0/Music2");
  const FoundItemHandle backup = ByPath(u"Backup0");
  const FoundItemHandle report = ByPath(u"Backup0/report_16.txt");
  ASSERT_NE(music, kNoFoundItem);
  ASSERT_NE(report, kNoFoundItem);
  store.SetTreeCheck(kViewClassic, music, true);
  store.SetListCheck(kViewClassic, backup, report, true);
  EXPECT_EQ(store.CheckState(kViewClassic, backup), kMixed);

  // A Quick scan of FAT lists deleted entries too: the checked folder
  // saves every file the store shows in it, the live ones with the
  // truth's bytes, and nothing outside what was checked.
  std::size_t shown = 0;
  for (FoundItemHandle h = 1; h < store.Count(); ++h) {
    const FoundItemInfo r = store.Record(h);
    if (!IsFolderRecord(r) && r.attribute && store.PathOf(h).rfind(u"Backup0/Music2/", 0) == 0) ++shown;
  }
  auto expected = LiveTruth("Backup0/Music2");
  expected["Backup0/report_16.txt"] = LiveTruth("Backup0").at("Backup0/report_16.txt");
  const SaveJobResult result = Save(kViewClassic);
  EXPECT_FALSE(result.failedJob) << result.failure;
  const auto saved = SavedFiles();
  EXPECT_EQ(saved.size(), shown + 1);
  for (const auto& [path, md5] : expected) {
    ASSERT_TRUE(saved.count(path)) << path;
    EXPECT_EQ(saved.at(path), md5) << path;
  }
  for (const auto& [path, md5] : saved)
    EXPECT_TRUE(path.rfind("Backup0/Music2/", 0) == 0 || path == "Backup0/report_16.txt") << path;
  EXPECT_EQ(store.Selection(kViewClassic), SelectionCounts{});
  // The files left unchecked next to the saved one are still there, unchecked.
  EXPECT_EQ(store.CheckState(kViewClassic, ByPath(u"Backup0/report_3.dat")), kUnchecked);
}

TEST_F(CheckedWalk, FilesTheSaveFilterLeftOutKeepTheirChecksAndTheirFolderStaysMarked) {
  Scan("ntfs", 1);
  if (HasFatalFailure()) return;
  FoundItemStore& store = volume_.store;
  const FoundItemHandle folder = ByPath(u"Compressed");
  store.SetTreeCheck(kViewClassic, folder, true);
  const auto all = LiveTruth("Compressed");
  volume_.app.m_saveChoice.m_saveMasks = {u"compressed_0.txt"};
  volume_.app.m_saveChoice.m_bSaveMaskExclude = 0;

  const SaveJobResult result = Save(kViewClassic);
  EXPECT_EQ(result.recovered, 1u);
  const std::map<std::string, std::string> one{{"Compressed/compressed_0.txt", all.at("Compressed/compressed_0.txt")}};
  EXPECT_EQ(SavedFiles(), one);
  EXPECT_EQ(store.Selection(kViewClassic).files, all.size() - 1);
  EXPECT_EQ(store.CheckState(kViewClassic, ByPath(u"Compressed/compressed_0.txt")), kUnchecked);
  EXPECT_EQ(store.CheckState(kViewClassic, ByPath(u"Compressed/compressed_1.txt")), kChecked);
  EXPECT_EQ(store.CheckState(kViewClassic, folder), kMixed);
}

TEST_F(CheckedWalk, TheFileTypeViewSavesInItsOwnFoldersWithTheTruthsBytes) {
  Scan("ntfs", 1);
  if (HasFatalFailure()) return;
  FoundItemStore& store = volume_.store;
  store.SetTreeCheck(kViewByType, store.Root(), true);
  const std::uint32_t checked = store.Selection(kViewByType).files;

  const SaveJobResult result = Save(kViewByType);
  EXPECT_FALSE(result.failedJob) << result.failure;
  const auto saved = SavedFiles();
  // Every checked file, each in its category and extension folder.
  EXPECT_EQ(saved.size(), checked);
  std::set<std::pair<std::string, std::string>> savedByName;  // file name, MD5
  for (const auto& [path, md5] : saved) {
    const std::filesystem::path p(path);
    EXPECT_EQ(std::distance(p.begin(), p.end()), 3) << path;
    savedByName.insert({p.filename().string(), md5});
  }
  // Every live file of the truth is among them with its bytes.
  for (const auto& [path, md5] : LiveTruth(""))
    EXPECT_TRUE(savedByName.count({std::filesystem::path(path).filename().string(), md5})) << path;
  EXPECT_EQ(store.Selection(kViewByType), SelectionCounts{});
  // The classic view's checks are its own.
  EXPECT_EQ(store.Selection(kViewClassic), SelectionCounts{});
}

TEST_F(CheckedWalk, NothingCheckedSavesNothing) {
  Scan("exfat", 3);
  if (HasFatalFailure()) return;
  const SaveJobResult result = Save(kViewClassic);
  EXPECT_EQ(result.recovered, 0u);
  EXPECT_TRUE(SavedFiles().empty());
}

}  // namespace
}  // namespace corvan
