#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <functional>

#include "app/AutoUpdater.h"
#include "app/CORVANApp.h"
#include "app/ui/CUpdateWizard.h"
#include "app/UpdateTestSupport.h"
#include "console/ui/ConsoleTestSupport.h"
#include "support/TestSupport.h"
#include "ui/HelpViewer.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

using test::PythonServer;
using test::RandomBytes;

// Announces a large package and sends it slowly, so a cancel meets it midway.
const std::string kSlowServer = test::SocketServerScript(R"(
def serve(c):
    try:
        c.recv(65536)
        c.sendall(b'HTTP/1.1 200 OK\r\nContent-Length: 10000000\r\nConnection: close\r\n\r\n')
        for i in range(2000):
            c.sendall(b'x' * 4096)
            time.sleep(0.05)
    except Exception:
        pass
    c.close()
while True:
    c, _ = s.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
)");

// Takes a request and never answers it.
const std::string kSilentServer = test::SocketServerScript(R"(
while True:
    c, _ = s.accept()
    c.recv(65536)
    time.sleep(120)
)");

// Processes events until `done` holds, for 15 seconds at the most.
bool WaitFor(const std::function<bool()>& done) { return test::WaitFor(done, 15); }

class UpdateWizardTest : public test::UpdateServerTest {
 protected:
  test::AnsweringPrompt prompt;

  void SetUp() override {
    UpdateServerTest::SetUp();
    App().m_pPrompt = &prompt;
  }
  void TearDown() override {
    App().m_pPrompt = nullptr;
    App().GetProfile().WriteInt("Update", "CheckUpdate", 0);
  }
  CORVANApp& ProductApp(const std::string& installed, const std::string& address) override {
    ProductKey& key = App().GetProductKey();
    key.Write("ExeName", "corvan");
    key.Write("Version", installed);
    key.Write("UpdateServer", address);
    return App();
  }
  // Next from the welcome page; the check runs a second later.
  static void ToCheckedProcessPage(CUpdateWizard& wizard) {
    wizard.show();
    ASSERT_EQ(wizard.currentId(), CUpdateWizard::kStartPage);
    wizard.next();
    ASSERT_EQ(wizard.currentId(), CUpdateWizard::kProcessPage);
    EXPECT_FALSE(wizard.button(QWizard::NextButton)->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return wizard.ProcessPage()->LastResult() >= 0; }));
  }
  static QString Status(CUpdateWizard& wizard) { return wizard.ProcessPage()->StatusText()->text(); }
};

TEST_F(UpdateWizardTest, NewerMinorVersionLeadsToTheDownload) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer("1.0.0.3"));
  Serve("corvan.txt", "1.0.0.4 Faster scans\n");
  CUpdateWizard wizard(*updater);
  ASSERT_NO_FATAL_FAILURE(ToCheckedProcessPage(wizard));
  EXPECT_EQ(wizard.ProcessPage()->LastResult(), 1);
  EXPECT_EQ(Status(wizard), "A new update  is available. Click Next to proceed further.");
  EXPECT_FALSE(wizard.ProcessPage()->Notice()->isVisible());
  EXPECT_FALSE(wizard.ProcessPage()->Link()->isVisible());
  EXPECT_TRUE(wizard.button(QWizard::NextButton)->isEnabled());
  EXPECT_TRUE(wizard.button(QWizard::BackButton)->isEnabled());
}

TEST_F(UpdateWizardTest, EqualVersionSaysUpdatedAndStops) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer("1.0.0.3"));
  Serve("corvan.txt", "1.0.0.3 Same\n");
  CUpdateWizard wizard(*updater);
  ASSERT_NO_FATAL_FAILURE(ToCheckedProcessPage(wizard));
  EXPECT_EQ(Status(wizard), "This application is updated. ");
  EXPECT_FALSE(wizard.button(QWizard::NextButton)->isEnabled());
  EXPECT_TRUE(wizard.button(QWizard::BackButton)->isEnabled());
  // Back, then Next runs the check again.
  Serve("corvan.txt", "1.0.0.4 x\n1.0.0.2 y\n");
  wizard.back();
  wizard.next();
  ASSERT_TRUE(WaitFor([&] { return wizard.ProcessPage()->LastResult() >= 0; }));
  EXPECT_EQ(wizard.ProcessPage()->LastResult(), 3);
  EXPECT_TRUE(wizard.ProcessPage()->Notice()->isVisible());
  EXPECT_TRUE(wizard.ProcessPage()->Link()->isVisible());
  EXPECT_TRUE(wizard.button(QWizard::NextButton)->isEnabled());
}

TEST_F(UpdateWizardTest, NewerMajorShowsTheNoticeWithoutNext) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer("1.0.0.3"));
  Serve("corvan.txt", "2.0.0.0 Major\n");
  CUpdateWizard wizard(*updater);
  ASSERT_NO_FATAL_FAILURE(ToCheckedProcessPage(wizard));
  EXPECT_EQ(Status(wizard), "Application has all latest updates. Click cancel to close the window.");
  EXPECT_TRUE(wizard.ProcessPage()->Notice()->isVisible());
  EXPECT_TRUE(wizard.ProcessPage()->Link()->isVisible());
  EXPECT_FALSE(wizard.button(QWizard::NextButton)->isEnabled());
}

TEST_F(UpdateWizardTest, UnknownInstalledVersionIsNotReportedAsUpToDate) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer("1.0.0.3"));
  Serve("corvan.txt", "1.0.0.4 x\n");
  // An installation whose product values name no version.
  std::filesystem::create_directories(dir / "install");
  test::WriteWholeFile(dir / "install" / "product.ini",
                       "[Product]\nExeName=corvan\nUpdateServer=" + server->Address() + "/\n");
  CORVANApp unknown(dir / "unknown.ini", dir / "install");
  CAutoUpdater checker(unknown);
  CUpdateWizard wizard(checker);
  ASSERT_NO_FATAL_FAILURE(ToCheckedProcessPage(wizard));
  EXPECT_EQ(wizard.ProcessPage()->LastResult(), 8);
  EXPECT_FALSE(Status(wizard).contains("latest updates"));
  EXPECT_FALSE(Status(wizard).contains("is updated"));
  EXPECT_FALSE(Status(wizard).contains("searching"));
  EXPECT_FALSE(wizard.button(QWizard::NextButton)->isEnabled());
}

TEST_F(UpdateWizardTest, NoServerSaysConnectionFailed) {
  // A server that is not there, and none configured at all.
  for (const std::string& address : {"http://127.0.0.1:" + std::to_string(test::ClosedPort()), std::string()}) {
    Start("1.0.0.3", address);
    CUpdateWizard wizard(*updater);
    ASSERT_NO_FATAL_FAILURE(ToCheckedProcessPage(wizard));
    EXPECT_EQ(Status(wizard), "Connection to server could not be established. Please try later.") << address;
    // The heading no longer says the check is going on.
    EXPECT_EQ(wizard.ProcessPage()->title(), "Update check complete") << address;
    EXPECT_FALSE(wizard.button(QWizard::NextButton)->isEnabled());
  }
}

TEST_F(UpdateWizardTest, TheCheckLeavesTheWindowFreeAndCancelEndsIt) {
  PythonServer silent({"-c", kSilentServer, "PORT"});
  ASSERT_TRUE(silent.Running());
  Start("1.0.0.3", silent.Address());
  updater->m_timeoutSeconds = 60;  // longer than the wait below
  CUpdateWizard wizard(*updater);
  wizard.show();
  wizard.next();
  // The window's thread goes on while the server keeps silent.
  ASSERT_TRUE(WaitFor([&] { return wizard.ProcessPage()->Checking(); }));
  test::Settle();
  EXPECT_EQ(wizard.ProcessPage()->LastResult(), -1);
  EXPECT_EQ(wizard.ProcessPage()->title(), "Checking for updates...");
  QAbstractButton* cancel = wizard.button(QWizard::CancelButton);
  ASSERT_TRUE(cancel->isEnabled());
  cancel->click();
  EXPECT_FALSE(wizard.isVisible());
  EXPECT_FALSE(wizard.ProcessPage()->Checking());
  // The stopped check's answer never comes.
  test::Settle();
  EXPECT_EQ(wizard.ProcessPage()->LastResult(), -1);
  EXPECT_TRUE(prompt.asked.empty());
}

TEST_F(UpdateWizardTest, HelpOpensTheWizardsPage) {
  Start("1.0.0.3", "");
  CUpdateWizard wizard(*updater);
  wizard.show();
  QAbstractButton* help = wizard.button(QWizard::HelpButton);
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  help->click();
  HelpViewer* viewer = HelpViewer::Existing();
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->Context(), CUpdateWizard::kHelpContext);
  EXPECT_TRUE(std::filesystem::exists(HelpFolder() / "147.html"));
  viewer->close();
}

TEST_F(UpdateWizardTest, DownloadKeepsTheServedBytes) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer("1.0.0.3"));
  Serve("corvan.txt", "1.0.0.4 x\n");
  const std::string package = RandomBytes(300'000);
  Serve(std::string("corvan") + std::string(kUpdatePackageSuffix), package);
  CUpdateWizard wizard(*updater);
  ASSERT_NO_FATAL_FAILURE(ToCheckedProcessPage(wizard));
  wizard.next();
  ASSERT_EQ(wizard.currentId(), CUpdateWizard::kFinalPage);
  EXPECT_FALSE(wizard.button(QWizard::FinishButton)->isEnabled());
  ASSERT_TRUE(WaitFor([&] { return wizard.FinalPage()->DownloadEnded(); }));
  QApplication::processEvents();
  EXPECT_EQ(wizard.FinalPage()->DownloadResult(), kDownloadDone);
  EXPECT_EQ(wizard.FinalPage()->StatusText()->text(), "Download completed");
  EXPECT_EQ(wizard.FinalPage()->Progress()->value(), wizard.FinalPage()->Progress()->maximum());
  EXPECT_TRUE(wizard.button(QWizard::FinishButton)->isEnabled());
  EXPECT_EQ(App().m_update.m_bUpdateCancel, 0u);
  EXPECT_EQ(App().m_update.m_bUpdateDownloading, 0u);
  const std::filesystem::path kept = App().m_update.m_strUpdateInstaller;
  EXPECT_EQ(kept.filename().string(), std::string("corvan") + std::string(kUpdatePackageSuffix));
  EXPECT_EQ(kept.parent_path().parent_path(), downloads);
  EXPECT_EQ(test::ReadWholeFile(kept), package);
  EXPECT_TRUE(prompt.asked.empty());
}

TEST_F(UpdateWizardTest, FinishAfterAWholeDownloadSaysWhereThePackageIs) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer("1.0.0.3"));
  Serve("corvan.txt", "1.0.0.4 x\n");
  const std::string package = RandomBytes(100'000);
  Serve(std::string("corvan") + std::string(kUpdatePackageSuffix), package);
  bool finished = false;
  test::WhenModal([&](QDialog* dlg) {
    auto* wizard = dynamic_cast<CUpdateWizard*>(dlg);
    ASSERT_NE(wizard, nullptr);
    wizard->next();
    ASSERT_TRUE(WaitFor([&] { return wizard->ProcessPage()->LastResult() >= 0; }));
    wizard->next();
    ASSERT_TRUE(WaitFor([&] { return wizard->FinalPage()->DownloadEnded(); }));
    ASSERT_TRUE(WaitFor([&] { return wizard->button(QWizard::FinishButton)->isEnabled(); }));
    wizard->button(QWizard::FinishButton)->click();
    finished = true;
  });
  EXPECT_TRUE(RunUpdateWizard(*updater));
  EXPECT_TRUE(finished);
  const std::filesystem::path kept = App().m_update.m_strUpdateInstaller;
  EXPECT_EQ(test::ReadWholeFile(kept), package);
  ASSERT_EQ(prompt.asked.size(), 1u);
  EXPECT_EQ(prompt.asked[0], "The update was downloaded to:\n" + kept.string());
}

TEST_F(UpdateWizardTest, MissingPackageIsReportedAsAFailure) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer("1.0.0.3"));
  Serve("corvan.txt", "1.0.0.4 x\n");
  CUpdateWizard wizard(*updater);
  ASSERT_NO_FATAL_FAILURE(ToCheckedProcessPage(wizard));
  wizard.next();
  ASSERT_TRUE(WaitFor([&] { return wizard.FinalPage()->DownloadEnded(); }));
  EXPECT_NE(wizard.FinalPage()->DownloadResult(), kDownloadDone);
  EXPECT_TRUE(App().m_update.m_strUpdateInstaller.empty());
  ASSERT_EQ(prompt.asked.size(), 1u);
  EXPECT_EQ(prompt.asked[0], "Connection to server could not be established. Please try later.");
  EXPECT_TRUE(std::filesystem::is_empty(downloads));
}

TEST_F(UpdateWizardTest, CancelDuringTheDownloadLeavesNoFile) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer("1.0.0.3"));
  Serve("corvan.txt", "1.0.0.4 x\n");
  CUpdateWizard wizard(*updater);
  ASSERT_NO_FATAL_FAILURE(ToCheckedProcessPage(wizard));
  // The package itself comes from a server that sends it slowly.
  PythonServer slow({"-c", kSlowServer, "PORT"});
  ASSERT_TRUE(slow.Running());
  App().GetProductKey().Write("UpdateServer", slow.Address() + "/");
  wizard.next();
  ASSERT_TRUE(WaitFor([&] { return wizard.FinalPage()->Progress()->value() > 0; }));
  EXPECT_EQ(App().m_update.m_bUpdateDownloading, 1u);
  // No keeps the download going.
  prompt.answer = kIdNo;
  wizard.reject();
  EXPECT_TRUE(wizard.isVisible());
  EXPECT_EQ(App().m_update.m_bUpdateCancel, 0u);
  prompt.answer = kIdYes;
  wizard.reject();
  EXPECT_FALSE(wizard.isVisible());
  EXPECT_EQ(App().m_update.m_bUpdateCancel, 1u);
  EXPECT_EQ(App().m_update.m_bUpdateDownloading, 0u);
  ASSERT_EQ(prompt.asked.size(), 2u);
  EXPECT_EQ(prompt.asked[0], "This process can't be resumed from current stage.\n\n Do you want to abort process?");
  EXPECT_TRUE(App().m_update.m_strUpdateInstaller.empty());
  EXPECT_TRUE(std::filesystem::is_empty(downloads));
}

TEST_F(UpdateWizardTest, LaunchUpdateDoesNothingWhenCheckUpdateIsOff) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer("1.0.0.3"));
  Serve("corvan.txt", "1.0.0.4 x\n");
  App().GetProfile().WriteInt("Update", "CheckUpdate", 0);
  EXPECT_FALSE(LaunchUpdate());
  test::Settle();
  EXPECT_TRUE(prompt.asked.empty());
}

TEST_F(UpdateWizardTest, LaunchUpdateAsksWhenAnUpdateExists) {
  ASSERT_NO_FATAL_FAILURE(StartWithWebServer("1.0.0.3"));
  Serve("corvan.txt", "1.0.0.4 x\n");
  App().GetProfile().WriteInt("Update", "CheckUpdate", 1);
  prompt.answer = kIdNo;
  int result = -1;
  ASSERT_TRUE(LaunchUpdate(nullptr, [&](int r) { result = r; }));
  // The check answers later, on this thread: nothing is asked yet.
  EXPECT_TRUE(prompt.asked.empty());
  ASSERT_TRUE(WaitFor([&] { return result >= 0; }));
  EXPECT_EQ(result, 1);
  ASSERT_EQ(prompt.asked.size(), 1u);
  EXPECT_EQ(prompt.asked[0], "Update is available.\nDo you want to update software?");
}

}  // namespace
}  // namespace corvan
