#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <thread>

#include "app/CORVANApp.h"
#include "platform/Folders.h"
#include "platform/TimeFormat.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

using test::ReadWholeFile;

const std::string kTitle = "Halvard Vantrel Virtual Machine Data Recovery";
const std::string kEq48(48, '='), kEq72(72, '='), kDash48(48, '-'), kDash72(72, '-');

class LogReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    SetClock([] { return std::time_t{1796632016}; });  // 07-Dec-2026 08:26:56 AM
  }
  void TearDown() override { SetClock({}); }

  std::unique_ptr<CORVANApp> MakeApp() {
    auto app = std::make_unique<CORVANApp>(dir.path() / "settings.ini", dir.path() / "install");
    app->InitState();
    return app;
  }
  Profile& profile(CORVANApp& app) { return app.GetProfile(); }

  test::TempDir dir;
  test::UserFolders folders{dir.path()};
};

TEST_F(LogReportTest, BannersAndEntriesAreByteExact) {
  EXPECT_EQ(LogViewerBanner(), kEq48 + "\r\n" + kEq48 + "\r\n\tLog Report - " + kTitle + " v2.0\r\n" + kEq48 +
                                   "\r\n" + kEq48 + "\r\n");
  EXPECT_EQ(LogFileBanner(), "\t" + kEq72 + "\r\n\t" + kEq72 + "\r\n\r\n\t\tLog Report - " + kTitle +
                                 " v2.0\r\n\r\n\t" + kEq72 + "\r\n\t" + kEq72 + "\r\n\r\n");
  EXPECT_EQ(LogViewerEntry("Scan", true), "\r\n\r\n" + kDash48 + "\r\nScan\r\n" + kDash48 + "\r\n");
  EXPECT_EQ(LogFileEntry("Scan", true), "\r\n\r\n\t" + kDash72 + "\r\n\tScan\r\n\t" + kDash72 + "\r\n");
  EXPECT_EQ(LogViewerEntry("Process started", false), "\r\n- Process started");
  EXPECT_EQ(LogFileEntry("Process started", false), "\r\n\t- Process started");
}

TEST_F(LogReportTest, NamesTheFileAndTitleFromTheStartTime) {
  auto app = MakeApp();
  app->MakeLogFileName();
  EXPECT_EQ(app->LogTitle(), "Last disk check performed on 07-Dec-2026 at 08:26:56 AM");
  EXPECT_EQ(app->LogFileName(), kTitle + "_Log_07-Dec-2026_08 26 56 AM.txt");
}

TEST_F(LogReportTest, WithoutSaveLogOnlyTheFolderIsMadeAndTheViewerKeepsEntries) {
  profile(*MakeApp()).WriteString("LOG", "LogPath", (dir / "logs").string());
  auto app = MakeApp();
  app->MakeLogFileName();
  app->OpenLog();
  EXPECT_EQ(app->m_log.m_bLogReady, 0u);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "logs" / "Log"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "logs" / "Log"));
  app->AppendLog("Scan", true);
  app->FlushLog();
  EXPECT_TRUE(std::filesystem::is_empty(dir / "logs" / "Log"));
  EXPECT_EQ(app->LogViewText(), LogViewerBanner() + LogViewerEntry("Scan", true));
  // Clearing the viewer keeps the banner and leaves what the file still owes.
  app->ClearLogView();
  EXPECT_EQ(app->LogViewText(), LogViewerBanner());
  EXPECT_EQ(app->LogPendingText(), LogFileEntry("Scan", true));
}

TEST_F(LogReportTest, WritesBannerThenAppendsEachFlushAsUtf8) {
  auto app = MakeApp();
  profile(*app).WriteInt("LOG", "SaveLog", 1);
  profile(*app).WriteString("LOG", "LogPath", (dir / "logs").string());
  app->MakeLogFileName();
  app->OpenLog();
  ASSERT_EQ(app->m_log.m_bLogReady, 1u);
  const auto file = dir / "logs" / "Log" / (kTitle + "_Log_07-Dec-2026_08 26 56 AM.txt");
  EXPECT_EQ(app->LogFilePath(), file);
  EXPECT_EQ(ReadWholeFile(file), LogFileBanner());

  app->AppendLog("Creating directory tree", true);
  app->AppendLog("Dat\xC3\xA9i", false);
  app->FlushLog();
  // The last line ends as every other does.
  EXPECT_EQ(ReadWholeFile(file), LogFileBanner() + LogFileEntry("Creating directory tree", true) +
                                     "\r\n\t- Dat\xC3\xA9i\r\n");
  EXPECT_EQ(app->LogPendingText(), "");
  app->AppendLog("more", false);
  app->FlushLog();
  const std::string written = ReadWholeFile(file);
  EXPECT_EQ(written, LogFileBanner() + LogFileEntry("Creating directory tree", true) +
                         "\r\n\t- Dat\xC3\xA9i\r\n\t- more\r\n");
  app->AppendLog("Saving", true);
  app->FlushLog();
  EXPECT_EQ(ReadWholeFile(file), written + LogFileEntry("Saving", true).substr(2) + "\r\n");
  // One kind of line end, CR LF, from the banner to the last entry.
  for (std::size_t at = written.find('\n'); at != std::string::npos; at = written.find('\n', at + 1)) {
    ASSERT_GT(at, 0u);
    EXPECT_EQ(written[at - 1], '\r') << at;
    if (at > 1) EXPECT_NE(written[at - 2], '\r') << at;
  }
}

TEST_F(LogReportTest, DeletedFileIsRecreatedWithANewBannerAtTheNextFlush) {
  auto app = MakeApp();
  profile(*app).WriteInt("LOG", "SaveLog", 1);
  profile(*app).WriteString("LOG", "LogPath", (dir / "logs").string());
  app->MakeLogFileName();
  app->OpenLog();
  const auto file = app->LogFilePath();
  std::filesystem::remove(file);
  app->AppendLog("after", false);
  app->FlushLog();
  EXPECT_EQ(ReadWholeFile(file), LogFileBanner() + "\r\n\t- after\r\n");
}

TEST_F(LogReportTest, SecondStartInTheSameSecondGetsItsOwnFile) {
  auto first = MakeApp();
  profile(*first).WriteInt("LOG", "SaveLog", 1);
  first->MakeLogFileName();
  first->OpenLog();
  auto second = MakeApp();
  second->MakeLogFileName();
  second->OpenLog();
  ASSERT_EQ(second->m_log.m_bLogReady, 1u);
  // Empty LogPath: the user's data folder.
  const auto folder = UserDataFolder() / "Log";
  EXPECT_EQ(first->LogFilePath(), folder / (kTitle + "_Log_07-Dec-2026_08 26 56 AM.txt"));
  EXPECT_EQ(second->LogFilePath(), folder / (kTitle + "_Log_07-Dec-2026_08 26 56 AM_2.txt"));
  first->AppendLog("one", false);
  second->AppendLog("two", false);
  first->FlushLog();
  second->FlushLog();
  EXPECT_EQ(ReadWholeFile(first->LogFilePath()), LogFileBanner() + "\r\n\t- one\r\n");
  EXPECT_EQ(ReadWholeFile(second->LogFilePath()), LogFileBanner() + "\r\n\t- two\r\n");
}

TEST_F(LogReportTest, UnusableLogFolderFallsBackToTheUserDataFolder) {
  test::WriteWholeFile(dir / "blocker", "a file, not a folder");
  auto app = MakeApp();
  profile(*app).WriteInt("LOG", "SaveLog", 1);
  profile(*app).WriteString("LOG", "LogPath", (dir / "blocker").string());
  app->MakeLogFileName();
  app->OpenLog();
  ASSERT_EQ(app->m_log.m_bLogReady, 1u);
  EXPECT_EQ(app->LogFilePath().parent_path(), UserDataFolder() / "Log");
}

TEST_F(LogReportTest, SaveLogTurnedOnLaterTakesEffectAtTheNextFlush) {
  auto app = MakeApp();
  app->MakeLogFileName();
  app->OpenLog();
  app->AppendLog("kept", false);
  app->FlushLog();
  EXPECT_EQ(app->LogPendingText(), "\r\n\t- kept");
  profile(*app).WriteInt("LOG", "SaveLog", 1);
  app->FlushLog();
  EXPECT_EQ(ReadWholeFile(app->LogFilePath()), LogFileBanner() + "\r\n\t- kept\r\n");
}

TEST_F(LogReportTest, EntriesFromSeveralThreadsAreNeitherLostNorTorn) {
  auto app = MakeApp();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 500; ++i) app->AppendLog("t" + std::to_string(t), false);
    });
  for (auto& th : threads) th.join();
  const std::string view = app->LogViewText();
  std::size_t count = 0;
  for (std::size_t at = view.find("\r\n- t"); at != std::string::npos; at = view.find("\r\n- t", at + 1)) ++count;
  EXPECT_EQ(count, 2000u);
}

// The answers of the save-log question, each followed by a restart: which
// profile values it leaves and whether the next close asks again.
TEST_F(LogReportTest, SaveLogAnswersFollowTheirTableAcrossARestart) {
  struct Case {
    SaveLogAnswer answer;
    int saveLog, showDlg;
    bool askedAgain;
  };
  const Case cases[] = {{SaveLogAnswer::Always, 1, 1, false},
                        {SaveLogAnswer::AskMeLater, 0, 0, true},
                        {SaveLogAnswer::Never, 0, 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    std::filesystem::remove(dir / "settings.ini");
    int asked = 0;
    MakeApp()->AskToSaveLog([&] {
      ++asked;
      return c.answer;
    });
    EXPECT_EQ(asked, 1);
    auto restarted = MakeApp();
    EXPECT_EQ(profile(*restarted).GetInt("LOG", "SaveLog", -1), c.saveLog);
    EXPECT_EQ(profile(*restarted).GetInt("LOG", "ShowDlg", -1), c.showDlg);
    restarted->AskToSaveLog([&] {
      ++asked;
      return SaveLogAnswer::AskMeLater;
    });
    EXPECT_EQ(asked, c.askedAgain ? 2 : 1);
  }
  // A question stopped for good comes back once "ShowDlg" is reset.
  profile(*MakeApp()).WriteInt("LOG", "ShowDlg", 0);
  int asked = 0;
  MakeApp()->AskToSaveLog([&] {
    ++asked;
    return SaveLogAnswer::Never;
  });
  EXPECT_EQ(asked, 1);
}

// "Always" at the close writes this run's log at exit, although no file
// was made at start.
TEST_F(LogReportTest, AlwaysWritesThisRunsLogAtExit) {
  auto app = MakeApp();
  app->MakeLogFileName();
  app->OpenLog();
  ASSERT_EQ(app->m_log.m_bLogReady, 0u);
  app->AppendLog("Scan", true);
  app->AskToSaveLog([] { return SaveLogAnswer::Always; });
  app->FlushLog();
  ASSERT_EQ(app->m_log.m_bLogReady, 1u);
  EXPECT_EQ(ReadWholeFile(app->LogFilePath()), LogFileBanner() + LogFileEntry("Scan", true) + "\r\n");
}

}  // namespace
}  // namespace corvan
