// The file-saving thread over files served from memory: name clashes and
// their answers, links planted in the destination, hostile names, read
// errors, a full destination, Stop in the middle of a file, the
// which-files choice and file times.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <numeric>

#include "platform/TextConv.h"
#include "core/NameSanitiser.h"
#include "save/SaveTestSupport.h"

namespace corvan {
namespace {

using test::CountOf;
using test::ScriptedDecisions;

using test::AsText;
using test::Bytes;
using test::kDosDate;
using test::kDosTime;
using test::kFatStamp;

class SaveThread : public ::testing::Test, protected test::MemoryVolume {
 protected:
  SaveThread() {
    dest_ = dir_ / "out" / "dest";
    std::filesystem::create_directories(dest_);
  }

  test::SaveRun Save(const test::SaveOptionsForTest& options = {}) {
    return test::SaveStore(app_, store_, dest_, decisions_, options);
  }
  std::string Saved(const std::string& rel) const { return test::ReadWholeFile(dest_ / rel); }

  ScriptedDecisions decisions_;
  std::filesystem::path dest_;
};

TEST_F(SaveThread, FoldersAndFilesKeepTheirStructureAndBytes) {
  const auto a = Bytes(10000, 1), b = Bytes(0, 2), c = Bytes(70000, 3);
  AddFile(0, u"top.bin", a);
  const auto sub = AddFolder(0, u"Sub");
  AddFile(sub, u"empty.txt", b);
  const auto deeper = AddFolder(sub, u"Deeper");
  AddFile(deeper, u"c.dat", c);
  AddFolder(0, u"Nothing here");

  const auto run = Save();
  EXPECT_EQ(Saved("top.bin"), AsText(a));
  EXPECT_TRUE(std::filesystem::is_regular_file(dest_ / "Sub/empty.txt"));
  EXPECT_EQ(Saved("Sub/Deeper/c.dat"), AsText(c));
  EXPECT_TRUE(std::filesystem::is_directory(dest_ / "Nothing here"));
  EXPECT_EQ(run.result.recovered, 3u);
  EXPECT_EQ(CountOf(run.log, "[Recovered]"), 3u);
  EXPECT_NE(run.log.find("Process completed"), std::string::npos);
  EXPECT_NE(run.log.find((dest_ / "Sub/Deeper/c.dat").string()), std::string::npos);
  EXPECT_EQ(progress_.stepIts, 3u);
}

TEST_F(SaveThread, ARenameAnswerIsCheckedAgainAndSkipAnswersOneFile) {
  test::WriteWholeFile(dest_ / "a.txt", "old a");
  test::WriteWholeFile(dest_ / "b.txt", "old b");
  test::WriteWholeFile(dest_ / "x.txt", "old x");
  test::WriteWholeFile(dest_ / "y.txt", "old y");
  AddFile(0, u"a.txt", Bytes(100, 1));
  AddFile(0, u"x.txt", Bytes(100, 2));
  AddFile(0, u"y.txt", Bytes(100, 3));
  AddFile(0, u"z.txt", Bytes(100, 4));
  decisions_.clashes = {{FileExistAnswer::Rename, u"b.txt"},  // taken too: asked again
                        {FileExistAnswer::Rename, u"c/d.txt"},
                        {FileExistAnswer::Skip, u""},
                        {FileExistAnswer::Overwrite, u""}};
  const auto run = Save();

  EXPECT_EQ(Saved("a.txt"), "old a");
  EXPECT_EQ(Saved("b.txt"), "old b");
  EXPECT_EQ(Saved("c_d.txt"), AsText(Bytes(100, 1)));  // the typed name, sanitised
  EXPECT_EQ(Saved("x.txt"), "old x");                   // skipped
  EXPECT_EQ(Saved("y.txt"), AsText(Bytes(100, 3)));     // the Skip before did not carry over
  EXPECT_EQ(Saved("z.txt"), AsText(Bytes(100, 4)));
  ASSERT_EQ(decisions_.questions.size(), 4u);
  EXPECT_EQ(decisions_.questions[0].proposedName, u"Copy1_a.txt");
  EXPECT_EQ(decisions_.questions[0].existingSize, 5u);
  EXPECT_EQ(decisions_.questions[0].newSize, 100u);
  EXPECT_EQ(decisions_.questions[1].name, u"b.txt");
  EXPECT_EQ(CountOf(run.log, "[Skipped]"), 1u);
  EXPECT_EQ(run.result.recovered, 3u);
}

TEST_F(SaveThread, RenameAllTakesTheFirstFreeCopyNameWithoutAskingAgain) {
  test::WriteWholeFile(dest_ / "a.txt", "old");
  test::WriteWholeFile(dest_ / "Copy1_a.txt", "old copy");
  test::WriteWholeFile(dest_ / "b.txt", "old b");
  AddFile(0, u"a.txt", Bytes(10, 1));
  AddFile(0, u"b.txt", Bytes(10, 2));
  decisions_.clashes = {{FileExistAnswer::RenameAll, u""}};
  Save();
  EXPECT_EQ(decisions_.questions.size(), 1u);
  EXPECT_EQ(decisions_.questions[0].proposedName, u"Copy2_a.txt");
  EXPECT_EQ(Saved("Copy2_a.txt"), AsText(Bytes(10, 1)));
  EXPECT_EQ(Saved("Copy1_b.txt"), AsText(Bytes(10, 2)));
  EXPECT_EQ(Saved("a.txt"), "old");
}

TEST_F(SaveThread, EscLeavesTheFileAloneAndAsksAgainNextTime) {
  test::WriteWholeFile(dest_ / "a.txt", "old a");
  test::WriteWholeFile(dest_ / "b.txt", "old b");
  AddFile(0, u"a.txt", Bytes(10, 1));
  AddFile(0, u"b.txt", Bytes(10, 2));
  decisions_.clashes = {{FileExistAnswer::Cancel, u""}, {FileExistAnswer::OverwriteAll, u""}};
  Save();
  EXPECT_EQ(Saved("a.txt"), "old a");
  EXPECT_EQ(Saved("b.txt"), AsText(Bytes(10, 2)));
  EXPECT_EQ(decisions_.questions.size(), 2u);
}

// The six answer bytes as {skip, skipAll, rename, renameAll, overwrite, overwriteAll}.
std::vector<int> AnswerBytes(const FileExistAnswers& a) {
  return {a.m_bSkip, a.m_bSkipAll, a.m_bRename, a.m_bRenameAll, a.m_bOverwrite, a.m_bOverwriteAll};
}

TEST_F(SaveThread, TheLastClashAnswerComesBackInTheResultAndEachJobStartsWithoutIt) {
  test::WriteWholeFile(dest_ / "a.txt", "old a");
  test::WriteWholeFile(dest_ / "b.txt", "old b");
  AddFile(0, u"a.txt", Bytes(10, 1));
  AddFile(0, u"b.txt", Bytes(10, 2));
  decisions_.clashes = {{FileExistAnswer::Rename, u"new.txt"}, {FileExistAnswer::SkipAll, u""}};
  auto run = Save();
  EXPECT_EQ(AnswerBytes(run.result.answers), (std::vector<int>{0, 1, 0, 0, 0, 0}));
  EXPECT_EQ(Saved("new.txt"), AsText(Bytes(10, 1)));

  // A new job asks again; one Skip answers one file and is not kept.
  std::filesystem::remove(dest_ / "new.txt");
  decisions_.questions.clear();
  decisions_.clashes = {{FileExistAnswer::OverwriteAll, u""}};
  run = Save();
  EXPECT_EQ(decisions_.questions.size(), 1u);
  EXPECT_EQ(AnswerBytes(run.result.answers), (std::vector<int>{0, 0, 0, 0, 0, 1}));
  decisions_.clashes = {{FileExistAnswer::Skip, u""}, {FileExistAnswer::Skip, u""}};
  run = Save();
  EXPECT_EQ(AnswerBytes(run.result.answers), (std::vector<int>{0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(CountOf(run.log, "[Skipped]"), 2u);
}

TEST_F(SaveThread, LinksPlantedInTheDestinationAreNeverFollowed) {
  const auto outside = dir_ / "outside";
  std::filesystem::create_directories(outside);
  test::WriteWholeFile(outside / "victim.txt", "keep me");
  test::WriteWholeFile(outside / "hard.txt", "keep me too");
  std::filesystem::create_symlink(outside / "victim.txt", dest_ / "a.txt");
  std::filesystem::create_symlink(outside, dest_ / "Folder");
  std::filesystem::create_hard_link(outside / "hard.txt", dest_ / "h.txt");
  std::filesystem::create_symlink(outside / "new.txt", dest_ / "dangling.txt");
  AddFile(0, u"a.txt", Bytes(50, 1));
  AddFile(0, u"h.txt", Bytes(50, 2));
  AddFile(0, u"dangling.txt", Bytes(50, 3));
  const auto folder = AddFolder(0, u"Folder");
  AddFile(folder, u"inside.txt", Bytes(50, 4));
  decisions_.clashes = {{FileExistAnswer::OverwriteAll, u""}};

  const auto run = Save();
  EXPECT_EQ(test::ReadWholeFile(outside / "victim.txt"), "keep me");
  EXPECT_EQ(test::ReadWholeFile(outside / "hard.txt"), "keep me too");
  EXPECT_FALSE(std::filesystem::exists(outside / "new.txt"));
  EXPECT_FALSE(std::filesystem::exists(outside / "inside.txt"));
  EXPECT_FALSE(std::filesystem::is_symlink(dest_ / "a.txt"));
  EXPECT_EQ(Saved("a.txt"), AsText(Bytes(50, 1)));
  EXPECT_EQ(Saved("h.txt"), AsText(Bytes(50, 2)));
  EXPECT_EQ(Saved("dangling.txt"), AsText(Bytes(50, 3)));
  // The folder behind the link is not entered: the folder takes a free name.
  EXPECT_TRUE(std::filesystem::is_symlink(dest_ / "Folder"));
  EXPECT_EQ(Saved("Copy1_Folder/inside.txt"), AsText(Bytes(50, 4)));
  EXPECT_NE(run.log.find("Saved as Copy1_Folder"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outside), {}), 2);
}

TEST_F(SaveThread, HostileNamesStayInsideTheDestinationWithALogLineEach) {
  const std::u16string longName = std::u16string(150, u'\u00E9') + u".txt";  // 300 bytes of UTF-8
  const auto up = AddFolder(0, u"..");
  AddFile(up, u"..", Bytes(10, 1));
  AddFile(0, u"a/b", Bytes(10, 2));
  AddFile(0, u"ctl\x01\x1F\x7F", Bytes(10, 3));
  AddFile(0, longName, Bytes(10, 4));
  AddFile(0, u".", Bytes(10, 5));
  AddFile(0, u"", Bytes(10, 6));
  AddFile(0, u"/etc/passwd", Bytes(10, 7));
  decisions_.clashes = {{FileExistAnswer::RenameAll, u""}};  // "" and "." both become "_"
  const auto beside = [&] {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dest_.parent_path())) names.insert(e.path().filename());
    return names;
  };
  const auto before = beside();

  const auto run = Save();
  std::set<std::string> found;
  for (const auto& e : std::filesystem::recursive_directory_iterator(dest_))
    found.insert(std::filesystem::relative(e.path(), dest_).string());
  const std::string cut = SanitiseName(std::u16string_view(longName)).name;
  EXPECT_EQ(found, (std::set<std::string>{"__", "__/__", "a_b", "ctl___", cut, "_", "Copy1__", "_etc_passwd"}));
  EXPECT_LE(cut.size(), 255u);
  EXPECT_EQ(beside(), before);  // nothing beside the destination
  EXPECT_FALSE(std::filesystem::exists(dir_ / "etc"));
  EXPECT_EQ(CountOf(run.log, "saved as"), 8u);  // one per changed name, the folder's too
  EXPECT_NE(run.log.find("\"ctl\\x01\\x1F\\x7F\" saved as \"ctl___\""), std::string::npos);
  EXPECT_EQ(run.result.recovered, 7u);
}

TEST_F(SaveThread, AnUnreadableClusterCostsOnlyThatCluster) {
  const auto data = Bytes(10 * 4096, 9);
  AddFile(0, u"ten.bin", data);
  engine_->badClusters[100] = {3};
  const auto run = Save();

  auto expected = data;
  std::fill(expected.begin() + 3 * 4096, expected.begin() + 4 * 4096, 0);
  EXPECT_EQ(Saved("ten.bin"), AsText(expected));
  EXPECT_EQ(CountOf(run.log, "Disk read error, file may not be completely recovered"), 1u);
  EXPECT_EQ(CountOf(run.log, "Error reading cluster: 3"), 1u);
  EXPECT_EQ(CountOf(run.log, "[Partially Recovered]"), 1u);
  EXPECT_EQ(CountOf(run.log, "[Recovered]"), 0u);
  EXPECT_EQ(run.result.partial, 1u);
}

TEST_F(SaveThread, DataTheEngineCannotGiveIsNotReportedAsRecovered) {
  FoundItemInfo r;
  r.itemId = 7;
  r.parentId = 0;
  r.attribute = kItemFile;
  r.size = 5000;  // no bytes behind it
  store_.OnAddFoundItem(r, u"lost.bin");
  const auto run = Save();
  EXPECT_EQ(CountOf(run.log, "[Partially Recovered]"), 1u);
  EXPECT_EQ(CountOf(run.log, "[Recovered]"), 0u);
}

TEST_F(SaveThread, AFullDestinationEndsTheJobWithAMessage) {
  AddFile(0, u"first.bin", Bytes(8000, 1));
  AddFile(0, u"second.bin", Bytes(8000, 2));
  AddFile(0, u"third.bin", Bytes(8000, 3));
  test::FullDiskWriter full(10000);
  const auto run = Save({1, 0, 0, &full});

  EXPECT_EQ(Saved("first.bin"), AsText(Bytes(8000, 1)));
  EXPECT_FALSE(std::filesystem::exists(dest_ / "second.bin"));  // no short file passes for a saved one
  EXPECT_FALSE(std::filesystem::exists(dest_ / "third.bin"));
  EXPECT_EQ(CountOf(run.log, "[Recovered]"), 1u);
  EXPECT_TRUE(run.result.failedJob);
  EXPECT_NE(run.log.find("Process failed"), std::string::npos);
  EXPECT_EQ(run.log.find("Process completed"), std::string::npos);
  ASSERT_EQ(prompt_.texts.size(), 1u);
  EXPECT_NE(prompt_.texts[0].find("No space left on device"), std::string::npos);
  EXPECT_NE(prompt_.texts[0].find("second.bin"), std::string::npos);
  EXPECT_EQ(prompt_.pictures[0], static_cast<unsigned>(kPicError));
}

TEST_F(SaveThread, AFullDestinationInTheSingleArchiveEndsTheJobToo) {
  AddFile(0, u"first.bin", Bytes(8000, 1));
  AddFile(0, u"second.bin", Bytes(80000, 2));
  test::FullDiskWriter full(40000);
  const auto run = Save({1, 1, 1, &full});
  EXPECT_LE(CountOf(run.log, "[Recovered]"), 1u);
  EXPECT_EQ(run.log.find("second.bin\r\n- [Recovered]"), std::string::npos);
  EXPECT_TRUE(run.result.failedJob);
  EXPECT_NE(run.log.find("Process failed"), std::string::npos);
}

// Names beyond ASCII (a star, umlauts, Cyrillic) come out of both zip modes
// under every reader as they come out of a save to a folder, with the same
// bytes: the entries say they were made on Unix, so no reader takes their
// UTF-8 names for a DOS code page.
TEST_F(SaveThread, EveryZipReaderUnpacksTheNamesAndBytesOfAFolderSave) {
  const auto star = AddFolder(0, u"sym-\u2605 4");
  AddFile(star, u"\u00DCberpr\u00FCfung.txt", Bytes(5000, 1));
  const auto cyrillic = AddFolder(star, u"\u0414\u043E\u043A\u0443\u043C\u0435\u043D\u0442\u044B");
  AddFile(cyrillic, u"\u043E\u0442\u0447\u0451\u0442 \u2605.bin", Bytes(70000, 2));
  AddFile(0, u"plain.txt", Bytes(10, 3));

  Save();
  const auto folder = test::SavedTree(dest_);
  ASSERT_EQ(folder.size(), 3u);
  ASSERT_TRUE(folder.count("sym-\u2605 4/\u00DCberpr\u00FCfung.txt"));

  std::filesystem::remove_all(dest_);
  Save({1, 1, 1});
  const auto single = test::CheckZips({dest_ / "Recovered Data.zip"}, true, false, dest_);
  ASSERT_EQ(single.status, 0) << single.output;
  EXPECT_EQ(test::UnpackedTree(single.output), folder) << single.output;

  std::filesystem::remove_all(dest_);
  Save({1, 1, 0});
  std::vector<std::filesystem::path> archives;
  for (const auto& [path, md5] : folder) archives.push_back(dest_ / (path + ".zip"));
  const auto each = test::CheckZips(archives, true, false, dest_);
  ASSERT_EQ(each.status, 0) << each.output;
  EXPECT_EQ(test::UnpackedTree(each.output), folder) << each.output;
}

TEST_F(SaveThread, AFileTooBigForTheSpaceLeftIsLeftOutAndTheOthersAreStillSaved) {
  const auto a = Bytes(8000, 1), huge = Bytes(300000, 2), b = Bytes(8000, 3), c = Bytes(8000, 4);
  AddFile(0, u"a.bin", a);
  AddFile(0, u"huge.bin", huge);
  AddFile(0, u"b.bin", b);
  const auto sub = AddFolder(0, u"Sub");
  AddFile(sub, u"c.bin", c);
  struct Mode {
    std::int32_t zip;
    std::uint8_t zipMode;
  };
  for (const Mode mode : {Mode{0, 0}, Mode{1, 0}, Mode{1, 1}}) {
    SCOPED_TRACE(mode.zip ? (mode.zipMode ? "one archive" : "archive per file") : "folder");
    std::filesystem::remove_all(dest_);
    prompt_.texts.clear();
    prompt_.pictures.clear();
    test::FullDiskWriter full(100000);
    const auto run = Save({1, mode.zip, mode.zipMode, &full});

    if (!mode.zip) {
      EXPECT_EQ(Saved("a.bin"), AsText(a));
      EXPECT_EQ(Saved("b.bin"), AsText(b));
      EXPECT_EQ(Saved("Sub/c.bin"), AsText(c));
      EXPECT_FALSE(std::filesystem::exists(dest_ / "huge.bin"));
      // What the failed file had taken was given back.
      EXPECT_EQ(full.Left(), 100000u - 3 * 8000u);
    } else if (mode.zipMode == 0) {
      const auto each = test::CheckZips({dest_ / "a.bin.zip", dest_ / "b.bin.zip", dest_ / "Sub/c.bin.zip"});
      ASSERT_EQ(each.status, 0) << each.output;
      EXPECT_NE(each.output.find("\ta.bin\t8000\t" + test::Md5Hex(a)), std::string::npos) << each.output;
      EXPECT_NE(each.output.find("\tb.bin\t8000\t" + test::Md5Hex(b)), std::string::npos) << each.output;
      EXPECT_NE(each.output.find("\tc.bin\t8000\t" + test::Md5Hex(c)), std::string::npos) << each.output;
      EXPECT_FALSE(std::filesystem::exists(dest_ / "huge.bin.zip"));
    } else {
      const auto listing = test::CheckZips({dest_ / "Recovered Data.zip"});
      ASSERT_EQ(listing.status, 0) << listing.output;
      EXPECT_NE(listing.output.find("\ta.bin\t8000\t" + test::Md5Hex(a)), std::string::npos) << listing.output;
      EXPECT_NE(listing.output.find("\tb.bin\t8000\t" + test::Md5Hex(b)), std::string::npos) << listing.output;
      EXPECT_NE(listing.output.find("\tSub/c.bin\t8000\t" + test::Md5Hex(c)), std::string::npos) << listing.output;
      EXPECT_EQ(listing.output.find("huge.bin"), std::string::npos) << listing.output;
    }
    // The log names the file that failed, right after its own line, and
    // gives it no tag.
    const std::size_t line = run.log.find("huge.bin\r\n");
    ASSERT_NE(line, std::string::npos) << run.log;
    const std::size_t next = run.log.find("\r\n", line) + 2;
    EXPECT_EQ(run.log.compare(next, 16, "- ERROR!  Cannot"), 0) << run.log.substr(next, 200);
    EXPECT_NE(run.log.find("huge.bin", next), std::string::npos);
    EXPECT_NE(run.log.substr(next, run.log.find("\r\n", next) - next).find("No space left on device"),
              std::string::npos);
    EXPECT_EQ(CountOf(run.log, "[Recovered]"), 3u);
    EXPECT_EQ(run.result.recovered, 3u);
    EXPECT_EQ(run.result.failed, 1u);
    // A job that lost a file is not a success; one message says which.
    EXPECT_TRUE(run.result.failedJob);
    EXPECT_NE(run.log.find("Process failed"), std::string::npos);
    ASSERT_EQ(prompt_.texts.size(), 1u);
    EXPECT_NE(prompt_.texts[0].find("huge.bin"), std::string::npos) << prompt_.texts[0];
  }
}

TEST_F(SaveThread, OnlyADestinationThatTakesNothingMoreEndsTheJob) {
  AddFile(0, u"first.bin", Bytes(8000, 1));
  AddFile(0, u"second.bin", Bytes(100, 2));
  const auto third = AddFile(0, u"third.bin", Bytes(100, 3));

  // Full to the last byte: the second file fails and nothing else can fit.
  test::FullDiskWriter full(8000);
  auto run = Save({1, 0, 0, &full});
  EXPECT_EQ(Saved("first.bin"), AsText(Bytes(8000, 1)));
  EXPECT_FALSE(std::filesystem::exists(dest_ / "second.bin"));
  EXPECT_FALSE(std::filesystem::exists(dest_ / "third.bin"));
  for (const auto& r : engine_->readItems) EXPECT_NE(r.itemId, third) << "third.bin was read";
  EXPECT_TRUE(run.result.failedJob);
  ASSERT_EQ(prompt_.texts.size(), 1u);
  EXPECT_NE(prompt_.texts[0].find("second.bin"), std::string::npos);
  EXPECT_NE(prompt_.texts[0].find("Saving stopped"), std::string::npos);

  // A write error on one file costs that file; a read-only destination ends it all.
  class FailingWriter final : public OutputWriter {
   public:
    explicit FailingWriter(int err) : err_(err) {}
    bool WriteAt(int, const void*, std::size_t, std::uint64_t) override {
      errno = err_;
      return false;
    }

   private:
    int err_;
  };
  for (const int err : {EIO, EFBIG, EROFS}) {
    SCOPED_TRACE(std::strerror(err));
    std::filesystem::remove_all(dest_);
    engine_->readItems.clear();
    prompt_.texts.clear();
    FailingWriter failing(err);
    run = Save({1, 0, 0, &failing});
    const bool goesOn = err != EROFS;
    EXPECT_EQ(engine_->readItems.size(), goesOn ? 3u : 1u);
    EXPECT_EQ(run.result.failed, goesOn ? 3u : 1u);
    EXPECT_EQ(CountOf(run.log, "ERROR!  Cannot write"), goesOn ? 3u : 1u);
    EXPECT_FALSE(std::filesystem::exists(dest_ / "first.bin"));
    EXPECT_TRUE(run.result.failedJob);
    EXPECT_EQ(prompt_.texts.size(), 1u);
  }
}

TEST_F(SaveThread, StopMidFileAsksAndEachAnswerDoesWhatItSays) {
  struct Case {
    AbortAnswer answer;
    bool bigSaved, laterSaved;
    const char* endLine;
  };
  const Case cases[] = {
      {AbortAnswer::ContinueSaving, true, true, "Process completed"},
      {AbortAnswer::SaveFileAndAbort, true, false, "Process aborted. User intervention"},
      {AbortAnswer::AbortImmediately, false, false, "Process aborted. User intervention"},
  };
  const auto big = Bytes(3u << 20, 5);
  AddFile(0, u"big.bin", big);
  AddFile(0, u"later.bin", Bytes(100, 6));
  for (const Case& c : cases) {
    std::filesystem::remove_all(dest_);
    ScriptedDecisions decisions;
    decisions.abortAnswer = c.answer;
    // Stop is pressed once the first block of big.bin is written.
    struct PressStop final : public ProgressSink {
      CORVANApp* app;
      bool pressed = false;
      void SetRange(std::int64_t, std::int64_t) override {}
      void SetStep(std::int64_t) override {}
      void SetPos(std::int64_t) override {}
      void StepIt() override {}
      void SetSecondRange(std::int64_t, std::int64_t) override {}
      void SetSecondPos(std::int64_t pos) override {
        if (pos > 0 && !pressed) {
          pressed = true;
          app->m_bAbort = 1;
        }
      }
      void SetCounterText(const std::string&) override {}
      void SetStatusText(const std::string&) override {}
      void SetSectorText(const std::string&) override {}
      void EnableStop(bool) override {}
    } press;
    press.app = &app_;
    app_.m_pSaveProgressDlg = &press;
    const auto run = test::SaveStore(app_, store_, dest_, decisions);
    ASSERT_EQ(decisions.abortQuestions.size(), 1u);
    EXPECT_EQ(decisions.abortQuestions[0], u"big.bin");
    const std::string saved = Saved("big.bin");
    if (c.bigSaved) {
      EXPECT_EQ(saved, AsText(big));
    } else {
      EXPECT_LT(saved.size(), big.size());  // what was written stays
      EXPECT_EQ(saved, AsText(big).substr(0, saved.size()));
      EXPECT_NE(run.log.find("[Partially Recovered]"), std::string::npos);
    }
    EXPECT_EQ(std::filesystem::exists(dest_ / "later.bin"), c.laterSaved);
    EXPECT_NE(run.log.find(c.endLine), std::string::npos) << run.log;
    EXPECT_EQ(app_.m_bBusy, 0u);
  }
}

// Counts what the walk is told back.
class CountingWalk final : public SaveItemWalk {
 public:
  explicit CountingWalk(const FoundItemStore& store) : inner_(store) {}
  bool Next(SaveWalkEntry& e) override { return inner_.Next(e); }
  void ItemDone(const SaveWalkEntry& e) override { done.push_back(Utf16ToUtf8(e.name)); }
  void FolderDone(const SaveWalkEntry& e, bool aborted) override { folders.push_back(Utf16ToUtf8(e.name)); }
  std::vector<std::string> done, folders;

 private:
  FoundItemStoreWalk inner_;
};

TEST_F(SaveThread, WhichFilesChoosesLiveOrDeletedAndCountsOffTheOthers) {
  AddFile(0, u"live.txt", Bytes(10, 1));
  AddFile(0, u"gone.txt", Bytes(10, 2), true);
  const auto deletedFolder = AddFolder(0, u"Old", true);
  AddFile(deletedFolder, u"in-old.txt", Bytes(10, 3));
  for (std::uint8_t which : {0, 1, 2}) {
    std::filesystem::remove_all(dest_);
    CountingWalk walk(store_);
    SaveJob job = MakeSaveJob(app_);
    job.request.m_szDest = dest_;
    job.request.m_nWhichFiles = which;
    CThreadForSavingFiles saver(std::move(job), walk, decisions_);
    saver.Run();
    EXPECT_EQ(std::filesystem::exists(dest_ / "live.txt"), which != 2) << int(which);
    EXPECT_EQ(std::filesystem::exists(dest_ / "gone.txt"), which != 0) << int(which);
    EXPECT_EQ(std::filesystem::exists(dest_ / "Old/in-old.txt"), which != 2) << int(which);
    // Left out or saved, every file is counted off.
    EXPECT_EQ(walk.done.size(), 3u);
    EXPECT_EQ(walk.folders, (std::vector<std::string>{"Old", "Root"}));
  }
  // A file in a deleted folder is read as one run from its first cluster.
  bool sawDeletedFlag = false;
  for (const auto& r : engine_->readItems) sawDeletedFlag |= r.itemId == 103 && r.IsDeleted();
  EXPECT_TRUE(sawDeletedFlag);
}

TEST_F(SaveThread, TheSaveFilterKeepsOnlyMatchingNames) {
  AddFile(0, u"a.txt", Bytes(10, 1));
  AddFile(0, u"b.jpg", Bytes(10, 2));
  app_.m_saveChoice.m_saveMasks = {u"*.txt"};
  app_.m_saveChoice.m_bSaveMaskExclude = 0;
  Save();
  EXPECT_TRUE(std::filesystem::exists(dest_ / "a.txt"));
  EXPECT_FALSE(std::filesystem::exists(dest_ / "b.jpg"));
}

TEST_F(SaveThread, FileTimesFollowTheVolumeKind) {
  test::ScopedTimeZone zone(test::kSaveTestZone);
  AddFile(0, u"dos.txt", Bytes(10, 1));
  AddFile(0, u"nodate.txt", Bytes(10, 2), false, 0);
  Save();
  struct stat st {};
  ASSERT_EQ(::stat((dest_ / "dos.txt").c_str(), &st), 0);
  // 2026-12-07 07:59:44 at UTC+5:30 is 02:29:44 UTC.
  EXPECT_EQ(st.st_mtim.tv_sec, 1796610584);
  EXPECT_EQ(st.st_atim.tv_sec, 1796610584);
  ASSERT_EQ(::stat((dest_ / "nodate.txt").c_str(), &st), 0);
  EXPECT_GT(st.st_mtim.tv_sec, 1700000000);  // left at the time of writing

  // exFAT: one DOS stamp in the high half; NTFS: a FILETIME in UTC.
  FoundItemInfo exfat;
  exfat.modifiedTime = std::uint64_t{(std::uint32_t{kDosDate} << 16) | kDosTime} << 32;
  ASSERT_TRUE(RecordModifiedTime(exfat, kSaveVolumeExFat));
  EXPECT_EQ(RecordModifiedTime(exfat, kSaveVolumeExFat)->tv_sec, 1796610584);
  FoundItemInfo ntfs;
  ntfs.modifiedTime = 116444736000000000ull + 17966305840000000ull + 1234567;  // + 0.1234567 s
  const auto t = RecordModifiedTime(ntfs, kSaveVolumeNtfs);
  ASSERT_TRUE(t);
  EXPECT_EQ(t->tv_sec, 1796630584);
  EXPECT_EQ(t->tv_nsec, 123456700);
}

TEST_F(SaveThread, DosDatesDecodeAsTheFormatSays) {
  const FatDateTime t = DecodeFatDateTime(kDosDate, kDosTime);
  EXPECT_EQ(t.year, 2026);
  EXPECT_EQ(t.month, 12);
  EXPECT_EQ(t.day, 7);
  EXPECT_EQ(t.hour, 7);
  EXPECT_EQ(t.minute, 59);
  EXPECT_EQ(t.second, 44);
  // Out-of-range fields: month 12, time fields 0.
  const FatDateTime bad = DecodeFatDateTime((3u << 9) | (15u << 5) | 31u, (31u << 11) | (63u << 5) | 31u);
  EXPECT_EQ(bad.year, 1983);
  EXPECT_EQ(bad.month, 12);
  EXPECT_EQ(bad.day, 31);
  EXPECT_EQ(bad.hour, 0);
  EXPECT_EQ(bad.minute, 0);
  EXPECT_EQ(bad.second, 0);
  EXPECT_FALSE(DosStampToTime(0, kDosTime));
}

TEST_F(SaveThread, StoreWalkVisitsEachFolderOnceEvenWhenIdsLoop) {
  const auto a = AddFolder(0, u"A");
  AddFile(a, u"a1", Bytes(1, 1));
  const auto b = AddFolder(a, u"B");
  AddFile(b, u"b1", Bytes(1, 2));
  AddFile(0, u"r1", Bytes(1, 3));
  // A folder listed as its own child, and one naming an ancestor's id.
  FoundItemInfo self;
  self.itemId = 500;
  self.parentId = 500;
  self.attribute = kItemFolder;
  store_.OnAddFoundItem(self, u"Self");
  FoundItemInfo back;
  back.itemId = a;
  back.parentId = b;
  back.attribute = kItemFolder;
  store_.OnAddFoundItem(back, u"A again");

  FoundItemStoreWalk walk(store_);
  std::vector<std::string> seen;
  for (SaveWalkEntry e; walk.Next(e);)
    seen.push_back(std::string(e.folder ? "d" : "f") + std::to_string(e.depth) + ":" + Utf16ToUtf8(e.name));
  EXPECT_EQ(seen, (std::vector<std::string>{"d0:Root", "f1:r1", "d1:A", "f2:a1", "d2:B", "f3:b1", "d3:A again"}));
}

TEST_F(SaveThread, ZipModesHoldTheSameFilesAsTheFolder) {
  const auto a = Bytes(5000, 1), b = Bytes(9000, 2);
  AddFile(0, u"a.bin", a);
  const auto sub = AddFolder(0, u"Sub/x");
  AddFile(sub, u"b.bin", b);
  AddFile(sub, u"b.bin", b);  // the same name twice in one folder: two entries
  engine_->badClusters[100] = {1};
  const auto single = Save({1, 1, 1});
  EXPECT_EQ(CountOf(single.log, "[Recovered]"), 2u);
  EXPECT_EQ(CountOf(single.log, "[Partially Recovered]"), 1u);
  auto aRead = a;
  std::fill(aRead.begin() + 4096, aRead.end(), 0);
  const auto listing = test::CheckZips({dest_ / "Recovered Data.zip"});
  ASSERT_EQ(listing.status, 0) << listing.output;
  EXPECT_NE(listing.output.find("\ta.bin\t5000\t" + test::Md5Hex(aRead)), std::string::npos) << listing.output;
  EXPECT_EQ(CountOf(listing.output, "\tSub_x/b.bin\t9000\t"), 2u) << listing.output;

  engine_->badClusters.clear();
  std::filesystem::remove_all(dest_);
  decisions_.clashes = {{FileExistAnswer::RenameAll, u""}};
  const auto own = Save({1, 1, 0});
  EXPECT_EQ(CountOf(own.log, "[Recovered]"), 3u);
  const auto each = test::CheckZips({dest_ / "a.bin.zip", dest_ / "Sub_x/b.bin.zip", dest_ / "Sub_x/Copy1_b.bin.zip"});
  ASSERT_EQ(each.status, 0) << each.output;
  EXPECT_NE(each.output.find("\ta.bin\t5000\t" + test::Md5Hex(a)), std::string::npos);
  EXPECT_EQ(CountOf(each.output, "\tb.bin\t9000\t" + test::Md5Hex(b)), 2u);
}

}  // namespace
}  // namespace corvan
