#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

#include "app/AutoUpdater.h"
#include "app/CORVANApp.h"
#include "app/UpdateTestSupport.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

using namespace std::chrono_literals;

using test::PythonServer;
using test::RandomBytes;

// Announces argv[2] bytes, sends the first argv[3] of a version text and
// closes the connection; "stall" as argv[3] answers nothing.
const std::string kShortServer = test::SocketServerScript(R"(
while True:
    c, _ = s.accept()
    c.recv(65536)
    if sys.argv[3] == 'stall':
        time.sleep(60)
    body = (b'1.0.0.4 x\n' + b'x' * 200000)[:int(sys.argv[3])]
    c.sendall(b'HTTP/1.1 200 OK\r\nContent-Length: ' + sys.argv[2].encode() + b'\r\nConnection: close\r\n\r\n' + body)
    c.close()
)");

struct RecordingPage : UpdateProgressPage {
  std::vector<std::string> statuses;
  std::string label, time, rate;
  std::uint64_t upper = 0, lastPos = 0;
  std::vector<std::uint64_t> positions;
  std::function<void(std::uint64_t)> onPos;
  void SetStatusText(const std::string& t) override { statuses.push_back(t); }
  void SetFileLabel(const std::string& t) override { label = t; }
  void SetTimeText(const std::string& t) override { time = t; }
  void SetRateText(const std::string& t) override { rate = t; }
  void SetProgressRange(std::uint64_t u, std::uint32_t) override { upper = u; }
  void SetProgressPos(std::uint64_t p) override {
    positions.push_back(p);
    lastPos = p;
    if (onPos) onPos(p);
  }
};

class AutoUpdaterTest : public test::UpdateServerTest {
 protected:
  test::UserFolders folders{dir.path()};
  std::unique_ptr<CORVANApp> app;

  void SetUp() override {
    UpdateServerTest::SetUp();
    std::filesystem::create_directories(dir / "install");
  }
  void TearDown() override { updater.reset(); }  // before the app it reads
  CORVANApp& ProductApp(const std::string& installed, const std::string& address) override {
    test::WriteWholeFile(dir / "install" / "product.ini",
                         "[Product]\nExeName=corvan\nVersion=" + installed + "\nUpdateServer=" + address + "\n");
    app = std::make_unique<CORVANApp>(dir / "settings.ini", dir / "install");
    return *app;
  }
  int CheckWith(const std::string& versionText) {
    Serve("corvan.txt", versionText);
    return updater->CheckForUpdate();
  }
};

TEST(CompareVersions, FieldsAndErrors) {
  EXPECT_EQ(CAutoUpdater::CompareVersions("1.0.0.4", "1.0.0.3"), 1);
  EXPECT_EQ(CAutoUpdater::CompareVersions("1.2.0.0", "1.1.9.9"), 1);
  EXPECT_EQ(CAutoUpdater::CompareVersions("2.0.0.0", "1.9.9.9"), 2);
  EXPECT_EQ(CAutoUpdater::CompareVersions("1.0.0.3", "1.0.0.3"), 0);
  EXPECT_EQ(CAutoUpdater::CompareVersions("2.0", "2.0.0.0"), 0);
  EXPECT_EQ(CAutoUpdater::CompareVersions("1.0.0.2", "1.0.0.3"), -1);
  EXPECT_EQ(CAutoUpdater::CompareVersions("1.9.9.9", "2.0.0.0"), -1);
  EXPECT_EQ(CAutoUpdater::CompareVersions("1.0.a.0", "1.0.0.3"), -21);
  EXPECT_EQ(CAutoUpdater::CompareVersions("1.0.0.0.1", "1.0.0.3"), -21);
  EXPECT_EQ(CAutoUpdater::CompareVersions("", "1.0.0.3"), -21);
  EXPECT_EQ(CAutoUpdater::CompareVersions("1.0.0.3", "1..0"), -22);
  EXPECT_EQ(CAutoUpdater::CompareVersions("1.0.0.3", "1.0."), -22);
}

TEST_F(AutoUpdaterTest, CheckAgainstTheServer) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer("1.0.0.3"));
  // Nothing may be written where the program runs.
  std::filesystem::path cwd = dir / "cwd";
  std::filesystem::create_directories(cwd);
  std::filesystem::path oldCwd = std::filesystem::current_path();
  std::filesystem::current_path(cwd);

  EXPECT_EQ(CheckWith("1.0.0.4 Faster scans\n"), 1);
  EXPECT_EQ(updater->LatestVersion(), "1.0.0.4");
  EXPECT_EQ(updater->Note(), "Faster scans");
  EXPECT_EQ(CheckWith("2.0.0.0 New major\r\n"), 2);
  EXPECT_EQ(CheckWith("1.0.0.3 Same\n"), 9);
  EXPECT_EQ(CheckWith("1.0.0.2 Older\n"), 9);
  EXPECT_EQ(CheckWith(""), 9);
  EXPECT_EQ(CheckWith("1.0.0.4 Minor\n2.0.0.0 Major\n"), 3);
  EXPECT_EQ(CheckWith("1.0.0.4 Minor\n1.0.a.0 Broken\n"), 3);
  EXPECT_EQ(CheckWith("1.0.0.2 Old\n1.0.0.5 Second\n"), 1);
  EXPECT_EQ(updater->LatestVersion(), "1.0.0.5");
  EXPECT_EQ(updater->Note(), "Second");
  EXPECT_EQ(CheckWith("1.0.a.0 Broken\n"), 0);
  // Only the first 4096 bytes are read: a second line beyond them is unseen.
  EXPECT_EQ(CheckWith("1.0.0.2 " + std::string(4200, 'n') + "\n2.0.0.0 Major\n"), 9);

  EXPECT_TRUE(std::filesystem::is_empty(cwd));
  std::filesystem::current_path(oldCwd);

  std::filesystem::remove(web / "upgrade" / "corvan.txt");
  EXPECT_EQ(updater->CheckForUpdate(), 5);
}

TEST_F(AutoUpdaterTest, EmptyInstalledVersionIsNotUpToDate) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer(""));
  EXPECT_EQ(CheckWith("1.0.0.4 x\n"), 8);
}

TEST_F(AutoUpdaterTest, NoServerGivesNoConnectionWithinTheTimeOut) {
  Start("1.0.0.3", "http://127.0.0.1:" + std::to_string(test::ClosedPort()));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(updater->CheckForUpdate(), 4);
  RecordingPage page;
  app->m_update.m_bUpdateCancel = 0;
  EXPECT_EQ(updater->DownloadUpdate(page), 4);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(updater->m_timeoutSeconds));
  EXPECT_FALSE(updater->LastError().empty());
  EXPECT_TRUE(std::filesystem::is_empty(downloads));

  Start("1.0.0.3", "");
  EXPECT_EQ(updater->CheckForUpdate(), 4);
  EXPECT_EQ(updater->DownloadUpdate(page), 4);
}


TEST_F(AutoUpdaterTest, DownloadKeepsTheServedBytes) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer());
  const std::string package = RandomBytes(50'000);
  Serve("corvan.tar.gz", package);
  RecordingPage page;
  app->m_update.m_bUpdateCancel = 0;
  ASSERT_EQ(updater->DownloadUpdate(page), 0);
  // In a folder of its own that only the user can enter.
  const auto path = app->m_update.m_strUpdateInstaller;
  EXPECT_EQ(path.filename(), "corvan.tar.gz");
  EXPECT_EQ(path.parent_path().parent_path(), downloads);
  EXPECT_EQ(std::filesystem::status(path.parent_path()).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  EXPECT_EQ(test::ReadWholeFile(path), package);
  EXPECT_EQ(updater->DownloadLength(), 50'000u);
  EXPECT_EQ(page.upper, 50'000u);
  EXPECT_EQ(page.lastPos, 50'000u);
  ASSERT_FALSE(page.statuses.empty());
  EXPECT_EQ(page.statuses.front(), "Getting Internet Session");
  EXPECT_EQ(page.statuses.back(), "Download completed");
  EXPECT_EQ(page.label, "corvan.tar.gz from 127.0.0.1");
  EXPECT_NE(page.time.find("sec("), std::string::npos);
  EXPECT_NE(page.time.find(" copied)"), std::string::npos);
  EXPECT_NE(page.rate.find("/sec"), std::string::npos);
  for (std::size_t i = 1; i < page.positions.size(); ++i)
    EXPECT_LE(page.positions[i] - page.positions[i - 1], kDownloadReadSize);
}

TEST_F(AutoUpdaterTest, ALinkPlacedInTheDownloadFolderIsNotFollowed) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer());
  const std::string package = RandomBytes(20'000);
  Serve("corvan.tar.gz", package);
  // Another user's link where a fixed name would be written.
  const auto victim = dir / "victim";
  test::WriteWholeFile(victim, "keep me");
  std::filesystem::create_symlink(victim, downloads / "corvan.tar.gz");
  RecordingPage page;
  app->m_update.m_bUpdateCancel = 0;
  ASSERT_EQ(updater->DownloadUpdate(page), 0);
  EXPECT_EQ(test::ReadWholeFile(victim), "keep me");
  EXPECT_NE(app->m_update.m_strUpdateInstaller, downloads / "corvan.tar.gz");
  EXPECT_FALSE(std::filesystem::is_symlink(app->m_update.m_strUpdateInstaller));
  EXPECT_EQ(test::ReadWholeFile(app->m_update.m_strUpdateInstaller), package);
  // Two downloads never share a folder.
  const auto first = app->m_update.m_strUpdateInstaller;
  ASSERT_EQ(updater->DownloadUpdate(page), 0);
  EXPECT_NE(app->m_update.m_strUpdateInstaller.parent_path(), first.parent_path());
}

TEST_F(AutoUpdaterTest, CancelStopsWithinOneReadAndLeavesNothing) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer());
  Serve("corvan.tar.gz", RandomBytes(400'000));
  RecordingPage page;
  int reads = 0;
  page.onPos = [&](std::uint64_t) {
    ++reads;
    app->m_update.m_bUpdateCancel = 1;
  };
  app->m_update.m_bUpdateCancel = 0;
  EXPECT_NE(updater->DownloadUpdate(page), 0);
  EXPECT_EQ(reads, 1);
  EXPECT_LE(page.lastPos, kDownloadReadSize);
  EXPECT_TRUE(std::filesystem::is_empty(downloads));
  EXPECT_TRUE(app->m_update.m_strUpdateInstaller.empty());
  EXPECT_NE(page.statuses.back(), "Download completed");

  // Cancelled before it starts: nothing is fetched.
  RecordingPage idle;
  app->m_update.m_bUpdateCancel = 1;
  EXPECT_NE(updater->DownloadUpdate(idle), 0);
  EXPECT_TRUE(idle.positions.empty());
  EXPECT_TRUE(app->m_update.m_strUpdateInstaller.empty());
}

TEST_F(AutoUpdaterTest, MissingPackageIsAFailedDownload) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer());
  RecordingPage page;
  app->m_update.m_bUpdateCancel = 0;
  EXPECT_EQ(updater->DownloadUpdate(page), 7);
  EXPECT_TRUE(std::filesystem::is_empty(downloads));
  EXPECT_TRUE(app->m_update.m_strUpdateInstaller.empty());
}

TEST_F(AutoUpdaterTest, TruncatedDownloadIsCaughtAndRemoved) {
  PythonServer shortServer({"-c", kShortServer, "PORT", "100000", "30000"});
  ASSERT_TRUE(shortServer.Running());
  Start("1.0.0.3", shortServer.Address());
  RecordingPage page;
  app->m_update.m_bUpdateCancel = 0;
  EXPECT_EQ(updater->DownloadUpdate(page), 7);
  EXPECT_TRUE(std::filesystem::is_empty(downloads));
  EXPECT_TRUE(app->m_update.m_strUpdateInstaller.empty());
  EXPECT_EQ(page.upper, 100'000u);
  EXPECT_NE(page.statuses.back(), "Download completed");
}

TEST_F(AutoUpdaterTest, TruncatedVersionFileIsNotRead) {
  PythonServer shortServer({"-c", kShortServer, "PORT", "1000", "10"});
  ASSERT_TRUE(shortServer.Running());
  Start("1.0.0.3", shortServer.Address());
  EXPECT_EQ(updater->CheckForUpdate(), 5);
}

TEST_F(AutoUpdaterTest, SilentServerEndsWithinTheTimeOut) {
  PythonServer silent({"-c", kShortServer, "PORT", "0", "stall"});
  ASSERT_TRUE(silent.Running());
  Start("1.0.0.3", silent.Address());
  updater->m_timeoutSeconds = 1;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(updater->CheckForUpdate(), 4);
  RecordingPage page;
  app->m_update.m_bUpdateCancel = 0;
  EXPECT_EQ(updater->DownloadUpdate(page), 4);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
  EXPECT_TRUE(std::filesystem::is_empty(downloads));
}

}  // namespace
}  // namespace corvan
