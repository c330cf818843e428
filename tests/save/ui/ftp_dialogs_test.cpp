// The FTP settings dialog and the server browser: the settings' enabled
// states, what the port box shows and what OK stores or refuses; the
// browser against a pyftpdlib server started here, listing the server's
// folders level by level, forgetting a level on collapse, and storing the
// chosen folder's path; the destination dialog's FTP choice.

#include <gtest/gtest.h>

#include <functional>

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "app/CORVANApp.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "console/ui/ConsoleTestSupport.h"
#include "app/Jobs.h"
#include "save/FtpTestServer.h"
#include "save/SaveTestSupport.h"
#include "save/ui/CFTPSettings.h"
#include "save/ui/CSaveRecovery.h"
#include "save/ui/CServerBrowser.h"
#include "support/TestSupport.h"
#include "ui/DialogLayout.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;

QStringList Children(const QTreeWidgetItem* item) {
  QStringList names;
  for (int i = 0; i < item->childCount(); ++i) names << item->child(i)->text(0);
  return names;
}

QTreeWidgetItem* Child(QTreeWidgetItem* item, const QString& name) {
  for (int i = 0; i < item->childCount(); ++i)
    if (item->child(i)->text(0) == name) return item->child(i);
  return nullptr;
}

// Expands `item` and waits until its listing arrived.
void Expand(CServerBrowser& browser, QTreeWidgetItem* item) {
  item->setExpanded(true);
  ASSERT_TRUE(test::WaitFor([&] { return browser.PendingListings() == 0; }, 30));
}

// The server, user name and password of a settings dialog.
void FillLogin(CFTPSettings& dlg) {
  GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdServer)->setText("127.0.0.1");
  GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdUser)->setText("saver");
  GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdPassword)->setText("secret");
}

TEST(FtpSettingsDialog, FieldsStartEmptyAndOkStoresWhatWasTyped) {
  App().m_saveChoice.m_ftpSettings = FtpSettings{"/old", "old.example", "21", "old", "old", 21};
  CFTPSettings dlg;
  auto* server = GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdServer);
  auto* port = GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdPort);
  auto* user = GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdUser);
  auto* password = GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdPassword);
  auto* folder = GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdRemoteFolder);
  auto* browse = GetDlgItemAs<QPushButton>(&dlg, CFTPSettings::kIdBrowseFtp);
  auto* ok = GetDlgItemAs<QPushButton>(&dlg, CFTPSettings::kIdOk);
  for (QLineEdit* e : {server, port, user, password, folder}) EXPECT_TRUE(e->text().isEmpty());
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  EXPECT_FALSE(browse->isEnabled());
  EXPECT_FALSE(folder->isEnabled());
  EXPECT_FALSE(ok->isEnabled());

  server->setText("127.0.0.1");
  user->setText("saver");
  password->setText(" ");  // a blank counts as text
  EXPECT_FALSE(browse->isEnabled());
  // Browse FTP... needs a port the box can connect to: 0 is the default
  // one, a number past 65535 none.
  port->setText("0");
  EXPECT_TRUE(browse->isEnabled());
  port->clear();
  EXPECT_FALSE(browse->isEnabled());
  port->setText("70021");
  EXPECT_FALSE(browse->isEnabled());
  folder->clear();
  port->setText("65535");
  EXPECT_TRUE(browse->isEnabled());
  EXPECT_TRUE(folder->isEnabled());
  EXPECT_FALSE(ok->isEnabled());
  folder->setText("incoming");
  ASSERT_TRUE(ok->isEnabled());
  // Clearing a connection field leaves OK to the folder alone.
  server->clear();
  EXPECT_FALSE(browse->isEnabled());
  EXPECT_TRUE(ok->isEnabled());
  server->setText("127.0.0.1");
  ok->click();
  EXPECT_EQ(dlg.result(), CFTPSettings::kIdOk);
  const FtpSettings& s = App().m_saveChoice.m_ftpSettings;
  EXPECT_EQ(s.server, "127.0.0.1");
  EXPECT_EQ(s.user, "saver");
  EXPECT_EQ(s.password, " ");
  EXPECT_EQ(s.portText, "65535");
  EXPECT_EQ(s.port, 65535);
  EXPECT_EQ(s.remoteFolder, "incoming");
}

// The port box shows what the user typed or pasted, up to the five
// characters of a port. OK takes 1 to 65535 as typed, or nothing or 0 for
// the FTP default port; anything else it refuses with the reason, leaving
// the dialog open on the box and the stored settings as they were.
TEST(FtpSettingsDialog, PortBoxShowsWhatWasTypedAndOkSaysWhyItRefusesIt) {
  const FtpSettings old{"/old", "old.example", "21", "old", "old", 21};
  App().m_saveChoice.m_ftpSettings = old;
  test::RecordingPrompt prompt;
  App().m_pPrompt = &prompt;
  CFTPSettings dlg;
  auto* port = GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdPort);
  auto* browse = GetDlgItemAs<QPushButton>(&dlg, CFTPSettings::kIdBrowseFtp);
  auto* ok = GetDlgItemAs<QPushButton>(&dlg, CFTPSettings::kIdOk);
  FillLogin(dlg);
  GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdRemoteFolder)->setText("incoming");
  const auto type = [port](const char* keys) {
    port->clear();
    QTest::keyClicks(port, keys);
  };
  const auto paste = [port](const char* text) {
    port->clear();
    QGuiApplication::clipboard()->setText(QString::fromLatin1(text));
    QTest::keyClick(port, Qt::Key_V, Qt::ControlModifier);
  };
  const auto clickOk = [ok] { QTest::mouseClick(ok, Qt::LeftButton); };
  const auto pressEnter = [port] { QTest::keyClick(port, Qt::Key_Return); };  // OK is the default button

  struct Refused {
    std::function<void(const char*)> put;
    const char* text;
    const char* shown;
    std::function<void()> confirm;
  } const refused[] = {{type, "70000", "70000", clickOk},  {type, "70000", "70000", pressEnter},
                       {type, "65536", "65536", clickOk},  {type, "655361", "65536", clickOk},
                       {paste, "70000", "70000", clickOk}, {type, "abc", "abc", clickOk},
                       {paste, "12ab", "12ab", clickOk},   {type, "-21", "-21", pressEnter}};
  for (const Refused& r : refused) {
    SCOPED_TRACE(r.text);
    prompt.texts.clear();
    prompt.pictures.clear();
    dlg.setResult(0);
    dlg.show();
    App().m_saveChoice.m_ftpSettings = old;
    r.put(r.text);
    EXPECT_EQ(port->text().toStdString(), r.shown);
    EXPECT_FALSE(browse->isEnabled());
    r.confirm();
    EXPECT_EQ(dlg.result(), 0);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(prompt.texts, std::vector<std::string>{LoadString(kIdsFtpPortRefused)});
    EXPECT_EQ(prompt.pictures, std::vector<unsigned>{kPicError});
    EXPECT_EQ(port->text().toStdString(), r.shown);
    EXPECT_EQ(port->selectedText().toStdString(), r.shown);  // ready to be typed over
    const FtpSettings& s = App().m_saveChoice.m_ftpSettings;
    EXPECT_EQ(s.server, old.server);
    EXPECT_EQ(s.portText, old.portText);
    EXPECT_EQ(s.port, old.port);
  }

  // A port OK takes is stored as typed; nothing or 0 connects to 21.
  prompt.texts.clear();
  const struct {
    std::function<void(const char*)> put;
    const char* text;
    std::int32_t port;
    std::uint16_t connection;
  } taken[] = {{type, "2121", 2121, 2121}, {paste, "2121", 2121, 2121}, {type, "65535", 65535, 65535},
               {type, "", 0, 21},          {type, "0", 0, 21},          {type, "00021", 21, 21}};
  for (const auto& t : taken) {
    SCOPED_TRACE(t.text);
    t.put(t.text);
    EXPECT_EQ(port->text().toStdString(), t.text);
    EXPECT_EQ(browse->isEnabled(), !port->text().isEmpty());
    clickOk();
    EXPECT_EQ(dlg.result(), CFTPSettings::kIdOk);
    EXPECT_FALSE(dlg.isVisible());
    const FtpSettings& s = App().m_saveChoice.m_ftpSettings;
    EXPECT_EQ(s.portText, t.text);
    EXPECT_EQ(s.port, t.port);
    EXPECT_EQ(ConnectionPort(s.port), t.connection);
    EXPECT_EQ(s.server, "127.0.0.1");
    dlg.setResult(0);
    dlg.show();
    App().m_saveChoice.m_ftpSettings = old;
  }
  EXPECT_TRUE(prompt.texts.empty());
  App().m_pPrompt = nullptr;
}

TEST(FtpSettingsDialog, OkFollowsTheRemoteFolderAfterBrowseFtp) {
  CFTPSettings dlg;
  auto* folder = GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdRemoteFolder);
  auto* browse = GetDlgItemAs<QPushButton>(&dlg, CFTPSettings::kIdBrowseFtp);
  auto* ok = GetDlgItemAs<QPushButton>(&dlg, CFTPSettings::kIdOk);
  FillLogin(dlg);
  GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdPort)->setText("21");
  // The browser connects only when a folder is expanded: Cancel at once.
  const auto browseAndCancel = [browse] {
    test::WhenModal([](QDialog* d) {
      auto* browser = qobject_cast<CServerBrowser*>(d);
      ASSERT_NE(browser, nullptr);
      GetDlgItemAs<QPushButton>(browser, CServerBrowser::kIdCancel)->click();
    });
    browse->click();
  };
  // No folder before, none after: OK stays off.
  App().m_saveChoice.m_ftpSettings = {};
  browseAndCancel();
  EXPECT_TRUE(folder->text().isEmpty());
  EXPECT_FALSE(ok->isEnabled());
  // The folder the settings hold comes back into the box, and OK with it.
  App().m_saveChoice.m_ftpSettings.remoteFolder = "/incoming";
  browseAndCancel();
  EXPECT_EQ(folder->text(), "/incoming");
  EXPECT_TRUE(ok->isEnabled());
  // A typed folder is replaced by an empty one: OK goes off again.
  folder->setText("typed");
  App().m_saveChoice.m_ftpSettings.remoteFolder.clear();
  browseAndCancel();
  EXPECT_TRUE(folder->text().isEmpty());
  EXPECT_FALSE(ok->isEnabled());
}

class ServerBrowserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* d : {"Recovered Files", "Archive/2024/Q1", "Archive/2023", "backups", "Photos from Camera"})
      fs::create_directories(root_ / d);
    test::WriteWholeFile(root_ / "readme.txt", "x");
    test::WriteWholeFile(root_ / "Archive" / "notes.txt", "x");
    ASSERT_TRUE(server_.Running());
  }
  test::TempDir dir_;
  fs::path root_ = dir_ / "root";
  bool made_ = fs::create_directories(root_);
  test::PyFtpServer server_{root_};
};

TEST_F(ServerBrowserTest, FoldersAreListedLevelByLevelAndOkStoresThePath) {
  CServerBrowser browser("127.0.0.1", test::PyFtpServer::kUser, test::PyFtpServer::kPassword,
                         QString::number(server_.Port()));
  QTreeWidget* tree = browser.Tree();
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  QTreeWidgetItem* root = tree->topLevelItem(0);
  EXPECT_EQ(root->text(0), "/");
  EXPECT_EQ(Children(root), QStringList{"empty"});
  EXPECT_EQ(browser.PendingListings(), 0);  // nothing is asked before an expansion

  Expand(browser, root);
  // Folders only, sorted, each with its placeholder until it is expanded.
  EXPECT_EQ(Children(root), (QStringList{"Archive", "Photos from Camera", "Recovered Files", "backups"}));
  QTreeWidgetItem* archive = Child(root, "Archive");
  ASSERT_NE(archive, nullptr);
  EXPECT_EQ(Children(archive), QStringList{"empty"});
  Expand(browser, archive);
  EXPECT_EQ(Children(archive), (QStringList{"2023", "2024"}));
  // A folder without folders loses its expand button.
  QTreeWidgetItem* backups = Child(root, "backups");
  Expand(browser, backups);
  EXPECT_EQ(backups->childCount(), 0);

  // Collapsing forgets the level: the next expansion lists it afresh.
  fs::create_directories(root_ / "Archive" / "2025");
  archive->setExpanded(false);
  EXPECT_EQ(Children(archive), QStringList{"empty"});
  Expand(browser, archive);
  EXPECT_EQ(Children(archive), (QStringList{"2023", "2024", "2025"}));
  // Five listings ran; each worker was joined when its listing came back.
  EXPECT_EQ(browser.HeldWorkers(), 0);

  QTreeWidgetItem* y2024 = Child(archive, "2024");
  tree->setCurrentItem(y2024);
  EXPECT_EQ(CServerBrowser::PathOf(y2024), "/Archive/2024");
  GetDlgItemAs<QPushButton>(&browser, CServerBrowser::kIdOk)->click();
  EXPECT_EQ(browser.result(), CServerBrowser::kIdOk);
  EXPECT_EQ(App().m_saveChoice.m_ftpSettings.remoteFolder, "/Archive/2024");

  // The root alone is "/".
  CServerBrowser again("127.0.0.1", test::PyFtpServer::kUser, test::PyFtpServer::kPassword,
                       QString::number(server_.Port()));
  GetDlgItemAs<QPushButton>(&again, CServerBrowser::kIdOk)->click();
  EXPECT_EQ(App().m_saveChoice.m_ftpSettings.remoteFolder, "/");
}

TEST_F(ServerBrowserTest, AServerThatRefusesShowsNoFoldersAndAsksNothing) {
  test::RecordingPrompt prompt;
  App().m_pPrompt = &prompt;
  CServerBrowser browser("127.0.0.1", test::PyFtpServer::kUser, "wrong", QString::number(server_.Port()));
  QTreeWidgetItem* root = browser.Tree()->topLevelItem(0);
  Expand(browser, root);
  EXPECT_EQ(root->childCount(), 0);
  EXPECT_EQ(browser.HeldWorkers(), 0);
  EXPECT_TRUE(prompt.texts.empty());
  App().m_pPrompt = nullptr;
}

TEST_F(ServerBrowserTest, ClosingTheBrowserStopsAListingAtOnce) {
  // A server that takes the connection and never answers.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t n = sizeof a;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::listen(listener, 4), 0);
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &n);
  const auto start = std::chrono::steady_clock::now();
  {
    CServerBrowser browser("127.0.0.1", "u", "p", QString::number(ntohs(a.sin_port)));
    browser.Tree()->topLevelItem(0)->setExpanded(true);
    test::Settle();
    EXPECT_EQ(browser.PendingListings(), 1);
    EXPECT_EQ(browser.HeldWorkers(), 1);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  ::close(listener);
}

TEST_F(ServerBrowserTest, TheDestinationDialogTakesTheFolderChosenInTheBrowser) {
  test::RecordingPrompt prompt;
  App().m_pPrompt = &prompt;
  App().m_sourceList.m_pSelectedSource = nullptr;
  App().m_saveChoice.m_ftpSettings = {};
  CSaveRecovery dlg(nullptr, nullptr, 0);
  auto* ftp = GetDlgItemAs<QRadioButton>(&dlg, CSaveRecovery::kIdFtp);
  auto* ftpPath = GetDlgItemAs<QLineEdit>(&dlg, CSaveRecovery::kIdFtpPath);
  auto* ftpOption = GetDlgItemAs<QPushButton>(&dlg, CSaveRecovery::kIdFtpOption);
  auto* zip = GetDlgItemAs<QCheckBox>(&dlg, CSaveRecovery::kIdCreateZip);
  auto* ok = GetDlgItemAs<QPushButton>(&dlg, CSaveRecovery::kIdOk);
  EXPECT_TRUE(ftp->isEnabled());
  EXPECT_FALSE(ftpOption->isEnabled());
  EXPECT_FALSE(ftpPath->isEnabled());
  zip->click();
  ASSERT_TRUE(zip->isChecked());
  ftp->click();
  // An FTP destination is never zipped.
  EXPECT_FALSE(zip->isChecked());
  EXPECT_FALSE(zip->isEnabled());
  EXPECT_TRUE(ftpOption->isEnabled());
  EXPECT_FALSE(GetDlgItemAs<QPushButton>(&dlg, CSaveRecovery::kIdBrowse)->isEnabled());
  EXPECT_FALSE(ok->isEnabled());

  // A folder typed before the settings were confirmed does nothing on OK.
  ftpPath->setText("typed");
  ASSERT_TRUE(ok->isEnabled());
  ok->click();
  EXPECT_TRUE(dlg.result() != CSaveRecovery::kIdOk);

  const std::uint16_t port = server_.Port();
  test::WhenModal([port](QDialog* settingsDlg) {
    auto* settings = qobject_cast<CFTPSettings*>(settingsDlg);
    ASSERT_NE(settings, nullptr);
    GetDlgItemAs<QLineEdit>(settings, CFTPSettings::kIdServer)->setText("127.0.0.1");
    GetDlgItemAs<QLineEdit>(settings, CFTPSettings::kIdPort)->setText(QString::number(port));
    GetDlgItemAs<QLineEdit>(settings, CFTPSettings::kIdUser)->setText(test::PyFtpServer::kUser);
    GetDlgItemAs<QLineEdit>(settings, CFTPSettings::kIdPassword)->setText(test::PyFtpServer::kPassword);
    test::WhenModal([](QDialog* browserDlg) {
      auto* browser = qobject_cast<CServerBrowser*>(browserDlg);
      ASSERT_NE(browser, nullptr);
      QTreeWidgetItem* root = browser->Tree()->topLevelItem(0);
      Expand(*browser, root);
      QTreeWidgetItem* recovered = Child(root, "Recovered Files");
      ASSERT_NE(recovered, nullptr);
      browser->Tree()->setCurrentItem(recovered);
      GetDlgItemAs<QPushButton>(browser, CServerBrowser::kIdOk)->click();
    });
    GetDlgItemAs<QPushButton>(settings, CFTPSettings::kIdBrowseFtp)->click();
    EXPECT_EQ(GetDlgItemAs<QLineEdit>(settings, CFTPSettings::kIdRemoteFolder)->text(), "/Recovered Files");
    GetDlgItemAs<QPushButton>(settings, CFTPSettings::kIdOk)->click();
  });
  ftpOption->click();
  EXPECT_EQ(ftpPath->text(), "/Recovered Files");
  ok->click();
  EXPECT_EQ(dlg.result(), CSaveRecovery::kIdOk);
  CORVANApp& app = App();
  EXPECT_EQ(app.m_saveChoice.m_nDestKind, 1);
  EXPECT_EQ(app.m_saveChoice.m_bCreateZip, 0);
  EXPECT_EQ(app.m_saveChoice.m_szSaveDest.string(), "/Recovered Files");
  EXPECT_EQ(app.m_saveChoice.m_ftpSettings.port, port);
  EXPECT_TRUE(prompt.texts.empty());

  // The job the program starts from these options puts the files there.
  FoundItemStore store;
  store.OnInsertRootItem(kFatRootId);
  test::MemoryEngine engine;
  FoundItemInfo file;
  file.itemId = 100;
  file.attribute = kItemFile;
  const auto bytes = test::Bytes(100000, 9);
  file.size = bytes.size();
  engine.files[file.itemId] = bytes;
  store.OnAddFoundItem(file, u"saved.bin");
  FoundItemStoreWalk walk(store);
  UnattendedSaveDecisions decisions;
  SaveJob job = MakeSaveJob(app);
  job.engine = &engine;
  job.progress = nullptr;
  TakeSaveOptions(app, job.request);
  job.request.m_nSelectMode = 1;
  job.request.m_nWhichFiles = 1;
  CThreadForSavingFiles saver(std::move(job), walk, decisions);
  saver.Run();
  EXPECT_EQ(saver.Result().recovered, 1u) << saver.Result().failure;
  EXPECT_EQ(test::ReadWholeFile(root_ / "Recovered Files" / "saved.bin"), test::AsText(bytes));
  App().m_pPrompt = nullptr;
}

}  // namespace
}  // namespace corvan
