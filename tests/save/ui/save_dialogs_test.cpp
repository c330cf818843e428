// Recover from the results window through the saving dialogs: a real scan
// of the corpus NTFS volume, a folder checked, the destination chosen in
// the dialog, the saving progress dialog running the job; the saved files
// are compared with the corpus truth. Then the dialogs one by one: the
// destination's checks, the file filter's list, the file-exists answers.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/wait.h>

#include "core/StringTable.h"
#include "app/ui/MainWindows.h"
#include "console/ui/CRecoveryConsole.h"
#include "console/ui/ConsoleTestSupport.h"
#include "platform/TextConv.h"
#include "support/Md5.h"
#include "save/ui/CAbortSaving.h"
#include "save/FtpTestServer.h"
#include "save/ui/CAddFileFilter.h"
#include "save/ui/CFTPSettings.h"
#include "save/ui/CFileExistDlg.h"
#include "save/ui/CSaveProcess.h"
#include "save/ui/CSaveRecovery.h"
#include "scan/ProgramEngines.h"
#include "core/RecoveryMode.h"
#include "support/TestSupport.h"
#include "ui/CXBitmapButton.h"
#include "ui/DialogLayout.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

// The corpus truth with each file's MD5: type, state, size, MD5, path.
struct TruthFile {
  std::string type, state, md5, path;
};
std::vector<TruthFile> ReadTruthMd5(const std::filesystem::path& file) {
  std::vector<TruthFile> rows;
  std::ifstream in(file);
  std::string line, size;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::istringstream s(line);
    TruthFile r;
    std::getline(s, r.type, '\t');
    std::getline(s, r.state, '\t');
    std::getline(s, size, '\t');
    std::getline(s, r.md5, '\t');
    std::getline(s, r.path);
    rows.push_back(r);
  }
  return rows;
}

std::string FileMd5(const std::filesystem::path& p) {
  const std::string bytes = test::ReadWholeFile(p);
  return test::Md5Hex({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

std::string Quote(const std::filesystem::path& p) {
  std::string q = "'";
  for (char c : p.string()) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs `command` through the shell; its status and output.
std::pair<int, std::string> RunCommand(const std::string& command) {
  std::string output;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) return {-1, output};
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) output.append(buf, n);
  const int st = ::pclose(p);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, output};
}

template <typename T>
T* Control(QWidget* dlg, int id) {
  T* c = GetDlgItemAs<T>(dlg, id);
  EXPECT_NE(c, nullptr) << "control " << id;
  return c;
}

class RecoverDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    CORVANApp& app = App();
    for (auto* flag : {&app.m_bBusy, &app.m_bAbort, &app.m_bResultsPresent, &app.m_bMaskRunning,
                       &app.CriticalPhaseFlag(), &app.m_bFromScanInfo})
      *flag = 0;
    app.m_pScanSession->Release();
    app.m_saveChoice.m_saveMasks.clear();
    app.m_pPrompt = &prompt;
    app.m_nRecoveryMode = kModeQuick;
    SetProgramEndHandler([] {});
    std::string why;
    ASSERT_TRUE(test::SelectImageVolume(app, test::CorpusDir() / "disks" / "mbr.vmdk", 0, &why)) << why;
    const auto ntfs = test::VolumeOfKind(app, kFsNtfs);
    ASSERT_TRUE(ntfs);
    ASSERT_TRUE(SelectSource(app, *ntfs));
    truth = ReadTruthMd5(test::CorpusDir() / "ntfs.truth.tsv");
  }
  void TearDown() override {
    if (HelpViewer* help = HelpViewer::Existing()) help->close();
    test::CloseTestWindows(prompt, console);
    SetProgramEndHandler(nullptr);
    App().m_pPrompt = nullptr;
    App().m_saveChoice.m_saveMasks.clear();
  }

  void OpenScanned() {
    console = OpenRecoveryConsole(MakeProgramEngines());
    ASSERT_TRUE(test::WaitFor([this] { return console && console->ScanFinished(); }));
    ASSERT_TRUE(App().m_bResultsPresent);
  }
  // The scan's whole result checked in the Classic tree.
  void OpenScannedAllChecked() {
    OpenScanned();
    if (!HasFatalFailure()) console->Store().SetTreeCheck(kViewClassic, console->Store().Root(), true);
  }
  FoundItemHandle ByPath(const std::u16string& path) const {
    FoundItemStore& store = console->Store();
    for (FoundItemHandle h = 1; h < store.Count(); ++h)
      if (store.PathOf(h) == path && !IsTypeFolder(store.Record(h))) return h;
    return kNoFoundItem;
  }
  void CheckFolder(const std::u16string& path) {
    const FoundItemHandle folder = ByPath(path);
    ASSERT_NE(folder, kNoFoundItem);
    console->Store().SetTreeCheck(kViewClassic, folder, true);
    console->UpdateStatusText(1);
    ASSERT_TRUE(GetDlgItemAs<CXBitmapButton>(console, CRecoveryConsole::kIdRecover)->isEnabled());
  }
  // Clicks Recover; `fill` sets up the destination dialog before OK.
  void Recover(const std::function<void(CSaveRecovery*)>& fill) {
    test::WhenModal([fill](QDialog* dlg) {
      auto* destination = qobject_cast<CSaveRecovery*>(dlg);
      ASSERT_NE(destination, nullptr);
      fill(destination);
      if (destination->isVisible()) Control<QPushButton>(destination, CSaveRecovery::kIdOk)->click();
      if (destination->isVisible()) destination->reject();
    });
    GetDlgItemAs<CXBitmapButton>(console, CRecoveryConsole::kIdRecover)->click();
    // The progress dialog closes itself once the job has ended.
    ASSERT_TRUE(test::WaitFor([this] { return console->findChildren<CSaveProcess*>().isEmpty(); }, 120));
    test::Settle();
  }
  static void SetDestination(CSaveRecovery* dlg, const std::filesystem::path& dest) {
    Control<QLineEdit>(dlg, CSaveRecovery::kIdLocalPath)->setText(ToQString(dest.string()));
  }
  std::map<std::string, std::string> LiveTruth(const std::string& folder) const {
    std::map<std::string, std::string> out;
    for (const auto& row : truth)
      if (row.type == "file" && row.state == "live" && row.path.rfind(folder + "/", 0) == 0) out[row.path] = row.md5;
    return out;
  }

  test::AnsweringPrompt prompt;
  QPointer<CRecoveryConsole> console;
  std::vector<TruthFile> truth;
  test::TempDir dir;
};

TEST_F(RecoverDialogs, RecoverSavesTheCheckedFolderWithTheTruthsBytesAndUnchecksIt) {
  OpenScanned();
  if (HasFatalFailure()) return;
  CheckFolder(u"Compressed");
  bool fullOffered = true;
  Recover([&](CSaveRecovery* dlg) {
    // Only one folder is checked: no which-files choice.
    fullOffered = dlg->FullOptionsOffered();
    EXPECT_FALSE(Control<QGroupBox>(dlg, CSaveRecovery::kIdRecoveryGroup)->isVisibleTo(dlg));
    SetDestination(dlg, dir / "out");
  });
  EXPECT_FALSE(fullOffered);
  const auto expected = LiveTruth("Compressed");
  ASSERT_GT(expected.size(), 1u);
  for (const auto& [path, md5] : expected) {
    ASSERT_TRUE(std::filesystem::is_regular_file(dir / "out" / path)) << path;
    EXPECT_EQ(FileMd5(dir / "out" / path), md5) << path;
  }
  EXPECT_EQ(console->Store().Selection(kViewClassic), SelectionCounts{});
  EXPECT_FALSE(GetDlgItemAs<CXBitmapButton>(console, CRecoveryConsole::kIdRecover)->isEnabled());
  EXPECT_NE(App().LogViewText().find("[Recovered]"), std::string::npos);
}

TEST_F(RecoverDialogs, RecoverToAnFtpServerSavesTheCheckedFolderThere) {
  const std::filesystem::path served = dir / "served";
  std::filesystem::create_directories(served);
  test::PyFtpServer server(served);
  ASSERT_TRUE(server.Running());
  OpenScanned();
  if (HasFatalFailure()) return;
  CheckFolder(u"Compressed");
  const FtpSettings settings = server.Settings("incoming/scan");
  Recover([&](CSaveRecovery* dlg) {
    Control<QRadioButton>(dlg, CSaveRecovery::kIdFtp)->click();
    test::WhenModal([&settings](QDialog* settingsDlg) {
      GetDlgItemAs<QLineEdit>(settingsDlg, CFTPSettings::kIdServer)->setText(ToQString(settings.server));
      GetDlgItemAs<QLineEdit>(settingsDlg, CFTPSettings::kIdPort)->setText(ToQString(settings.portText));
      GetDlgItemAs<QLineEdit>(settingsDlg, CFTPSettings::kIdUser)->setText(ToQString(settings.user));
      GetDlgItemAs<QLineEdit>(settingsDlg, CFTPSettings::kIdPassword)->setText(ToQString(settings.password));
      GetDlgItemAs<QLineEdit>(settingsDlg, CFTPSettings::kIdRemoteFolder)->setText(ToQString(settings.remoteFolder));
      GetDlgItemAs<QPushButton>(settingsDlg, CFTPSettings::kIdOk)->click();
    });
    Control<QPushButton>(dlg, CSaveRecovery::kIdFtpOption)->click();
    EXPECT_EQ(Control<QLineEdit>(dlg, CSaveRecovery::kIdFtpPath)->text(), "incoming/scan");
  });
  // No local free-space or write check stood in the way of the server.
  EXPECT_TRUE(prompt.asked.empty()) << prompt.asked.front();
  const auto expected = LiveTruth("Compressed");
  ASSERT_GT(expected.size(), 1u);
  for (const auto& [path, md5] : expected) EXPECT_EQ(FileMd5(served / "incoming" / "scan" / path), md5) << path;
  EXPECT_EQ(console->Store().Selection(kViewClassic), SelectionCounts{});
}

TEST_F(RecoverDialogs, ASingleZipHoldsTheCheckedFilesForPythonsZipfile) {
  if (RunCommand("command -v python3").first != 0) GTEST_SKIP() << "python3 is not installed";
  OpenScanned();
  if (HasFatalFailure()) return;
  CheckFolder(u"Compressed");
  Recover([&](CSaveRecovery* dlg) {
    SetDestination(dlg, dir / "zipped");
    Control<QCheckBox>(dlg, CSaveRecovery::kIdCreateZip)->click();
    EXPECT_TRUE(Control<QRadioButton>(dlg, CSaveRecovery::kIdZipEach)->isChecked());
    Control<QRadioButton>(dlg, CSaveRecovery::kIdZipSingle)->click();
  });
  const auto archive = dir / "zipped" / "Recovered Data.zip";
  ASSERT_TRUE(std::filesystem::is_regular_file(archive));
  const auto [status, output] = RunCommand(
      "python3 -c 'import sys,zipfile,hashlib\nz=zipfile.ZipFile(sys.argv[1])\nassert z.testzip() is None\n"
      "for i in z.infolist():\n  print(i.filename+\"\\t\"+hashlib.md5(z.read(i)).hexdigest())' " + Quote(archive));
  ASSERT_EQ(status, 0) << output;
  for (const auto& [path, md5] : LiveTruth("Compressed"))
    EXPECT_NE(output.find(path + "\t" + md5), std::string::npos) << path << "\n" << output;
}

// Answers file-exists questions in order and notes the names asked about.
struct ExistAnswers {
  struct Answer {
    int button;
    QString renameTo;
  };
  std::vector<Answer> answers;
  QStringList asked;
  QStringList messages;
  QTimer timer;
  void Start() {
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [this] {
      auto* dlg = qobject_cast<CFileExistDlg*>(QApplication::activeModalWidget());
      if (!dlg || !dlg->isVisible() || answers.empty()) return;
      asked << Control<QLabel>(dlg, CFileExistDlg::kIdFileName)->text();
      messages << dlg->MessageText();
      const Answer a = answers.front();
      answers.erase(answers.begin());
      if (!a.renameTo.isEmpty()) Control<QLineEdit>(dlg, CFileExistDlg::kIdRenameTo)->setText(a.renameTo);
      Control<QPushButton>(dlg, a.button)->click();
    });
    timer.start();
  }
};

TEST_F(RecoverDialogs, FileExistsAnswersRenameRecheckedSkipOneOverwriteAll) {
  OpenScanned();
  if (HasFatalFailure()) return;
  const auto expected = LiveTruth("Compressed");
  ASSERT_GE(expected.size(), 3u);
  // What stands at the destination already: other bytes under the same names.
  const auto out = dir / "again";
  for (const auto& [path, md5] : expected) {
    std::filesystem::create_directories((out / path).parent_path());
    test::WriteWholeFile(out / path, "old");
  }
  // The walk saves the folder's files in the order the scan listed them.
  std::vector<std::string> order;
  for (FoundItemHandle h : console->Store().ChildrenOf(console->Store().Record(ByPath(u"Compressed")).itemId)) {
    const std::string path = Utf16ToUtf8(console->Store().PathOf(h));
    if (expected.count(path)) order.push_back(path);
  }
  ASSERT_EQ(order.size(), expected.size());
  const QString second = ToQString(std::filesystem::path(order[1]).filename().string());

  CheckFolder(u"Compressed");
  ExistAnswers answers;
  answers.answers = {{CFileExistDlg::kIdRename, second},          // a name that is taken: asked again
                     {CFileExistDlg::kIdRename, QStringLiteral("fresh.txt")},
                     {CFileExistDlg::kIdSkip, {}},                // the second file only
                     {CFileExistDlg::kIdOverwriteAll, {}}};       // the third and every later one
  answers.Start();
  Recover([&](CSaveRecovery* dlg) { SetDestination(dlg, out); });

  ASSERT_GE(answers.asked.size(), 4);
  EXPECT_EQ(answers.asked[0], ToQString(std::filesystem::path(order[0]).filename().string()));
  EXPECT_EQ(answers.asked[1], second);
  EXPECT_EQ(answers.asked[2], second);
  EXPECT_EQ(answers.asked.size(), 4) << "Overwrite All asks no more";
  EXPECT_TRUE(answers.messages[0].startsWith(ToQString(LoadString(416))));
  EXPECT_TRUE(answers.messages[0].contains(QStringLiteral("3 Bytes") + ToQString(LoadString(417))));

  EXPECT_EQ(FileMd5(out / "Compressed" / "fresh.txt"), expected.at(order[0]));
  EXPECT_EQ(test::ReadWholeFile(out / order[0]), "old");
  EXPECT_EQ(test::ReadWholeFile(out / order[1]), "old");  // skipped
  for (std::size_t i = 2; i < order.size(); ++i) EXPECT_EQ(FileMd5(out / order[i]), expected.at(order[i])) << order[i];
  // A file passed over by the user's answer counts as dealt with.
  EXPECT_EQ(console->Store().Selection(kViewClassic).files, 0u);
  EXPECT_NE(App().LogViewText().find("[Skipped]"), std::string::npos);
  // The last answer stays on the application object after the job.
  EXPECT_EQ(App().m_fileExistAnswers.m_bOverwriteAll, 1);
  EXPECT_EQ(App().m_fileExistAnswers.m_bSkip + App().m_fileExistAnswers.m_bSkipAll + App().m_fileExistAnswers.m_bRename + App().m_fileExistAnswers.m_bRenameAll + App().m_fileExistAnswers.m_bOverwrite, 0);
}

TEST_F(RecoverDialogs, TheDestinationDialogsStatesAndRefusals) {
  OpenScannedAllChecked();
  if (HasFatalFailure()) return;
  FoundItemStore& store = console->Store();
  {
    // Everything checked after a Quick scan: the which-files choice, with
    // "Include deleted" preselected.
    CSaveRecovery dlg(console, &store, kViewClassic);
    EXPECT_TRUE(dlg.FullOptionsOffered());
    EXPECT_EQ(App().m_saveChoice.m_bSaveFullOptions, 1);
    EXPECT_TRUE(Control<QRadioButton>(&dlg, CSaveRecovery::kIdIncludeDeleted)->isChecked());
    EXPECT_TRUE(Control<QRadioButton>(&dlg, CSaveRecovery::kIdLocal)->isChecked());
    EXPECT_FALSE(Control<QPushButton>(&dlg, CSaveRecovery::kIdOk)->isEnabled());
    // FTP may be chosen; its settings only once it is.
    EXPECT_TRUE(Control<QRadioButton>(&dlg, CSaveRecovery::kIdFtp)->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&dlg, CSaveRecovery::kIdFtpOption)->isEnabled());
    EXPECT_FALSE(Control<QRadioButton>(&dlg, CSaveRecovery::kIdZipEach)->isEnabled());
    auto* path = Control<QLineEdit>(&dlg, CSaveRecovery::kIdLocalPath);
    path->setText(QStringLiteral("   "));
    EXPECT_FALSE(Control<QPushButton>(&dlg, CSaveRecovery::kIdOk)->isEnabled());
    path->setText(ToQString((dir / "a|b").string()));
    EXPECT_TRUE(Control<QPushButton>(&dlg, CSaveRecovery::kIdOk)->isEnabled());
    Control<QRadioButton>(&dlg, CSaveRecovery::kIdOnlyDeleted)->click();
    dlg.OnOK();
    EXPECT_TRUE(prompt.Asked(329));
    EXPECT_EQ(App().m_saveChoice.m_bSaveReady, 0);
    EXPECT_EQ(dlg.result(), 0) << "the dialog stays open";
    path->setText(ToQString((dir / "ok").string()));
    dlg.OnOK();
    EXPECT_EQ(dlg.result(), kIdOk);
    EXPECT_EQ(App().m_saveChoice.m_bSaveReady, 1);
    EXPECT_EQ(App().m_saveChoice.m_nDeletedMode, 2);
    EXPECT_EQ(App().m_saveChoice.m_szSaveDest, dir / "ok");
  }
  store.SetTreeCheck(kViewClassic, ByPath(u"Compressed"), false);
  {
    CSaveRecovery dlg(console, &store, kViewClassic);
    EXPECT_FALSE(dlg.FullOptionsOffered());
    EXPECT_EQ(App().m_saveChoice.m_bSaveFullOptions, 0);
    EXPECT_EQ(Control<QGroupBox>(&dlg, CSaveRecovery::kIdCompressionGroup)->width(),
              260 + CSaveRecovery::kWiderCompression);
  }
}

// On exFAT too, where folders have a size: everything checked is the whole
// result, and the which-files choice is offered.
TEST_F(RecoverDialogs, EverythingCheckedOnAnExfatVolumeOffersTheWhichFilesChoice) {
  const auto exfat = test::VolumeOfKind(App(), kFsExFat);
  ASSERT_TRUE(exfat && SelectSource(App(), *exfat));
  OpenScannedAllChecked();
  if (HasFatalFailure()) return;
  CSaveRecovery dlg(console, &console->Store(), kViewClassic);
  EXPECT_TRUE(Control<QGroupBox>(&dlg, CSaveRecovery::kIdRecoveryGroup)->isVisibleTo(&dlg));
  EXPECT_EQ(App().m_saveChoice.m_bSaveFullOptions, 1);
}

TEST_F(RecoverDialogs, TheFileFilterAddsPresetsOnceAndCancelTakesBackThisRunsMasks) {
  CORVANApp& app = App();
  {
    CAddFileFilter dlg;
    auto* combo = Control<QComboBox>(&dlg, CAddFileFilter::kIdCombo);
    ASSERT_EQ(combo->count(), 5);
    EXPECT_EQ(combo->itemText(1), ToQString(LoadString(250)));
    EXPECT_FALSE(Control<QPushButton>(&dlg, CAddFileFilter::kIdInclude)->isEnabled());
    for (int twice = 0; twice < 2; ++twice) {
      combo->setCurrentIndex(0);
      dlg.OnAdd();
    }
    EXPECT_EQ(app.m_saveChoice.m_saveMasks.size(), 10u);
    EXPECT_EQ(app.m_saveChoice.m_saveMasks.front(), u"*.doc");
    combo->setEditText(QStringLiteral("*.DOC"));
    dlg.OnAdd();
    combo->setEditText(QStringLiteral("   "));
    dlg.OnAdd();
    EXPECT_EQ(app.m_saveChoice.m_saveMasks.size(), 11u);
    EXPECT_EQ(Control<QListWidget>(&dlg, CAddFileFilter::kIdList)->count(), 11);
    EXPECT_TRUE(Control<QPushButton>(&dlg, CAddFileFilter::kIdInclude)->isEnabled());
    dlg.OnExclude();
    EXPECT_EQ(app.m_saveChoice.m_bSaveMaskExclude, 1);
  }
  {
    // Reopened: the masks are listed; additions are cancelled, a removal stays.
    CAddFileFilter dlg;
    auto* list = Control<QListWidget>(&dlg, CAddFileFilter::kIdList);
    EXPECT_EQ(list->count(), 11);
    list->setCurrentRow(0);
    dlg.OnRemove();
    auto* combo = Control<QComboBox>(&dlg, CAddFileFilter::kIdCombo);
    combo->setCurrentIndex(4);
    dlg.OnAdd();
    EXPECT_EQ(app.m_saveChoice.m_saveMasks.size(), 17u);
    dlg.reject();
    EXPECT_EQ(app.m_saveChoice.m_saveMasks.size(), 11u) << "cut back to the count at opening";
    EXPECT_EQ(app.m_saveChoice.m_saveMasks.front(), u"*.dot");
    EXPECT_EQ(app.m_saveChoice.m_bSaveMaskExclude, 1);
  }
}

TEST_F(RecoverDialogs, FileExistsAndAbortDialogsTextsAndAnswers) {
  FileExistQuestion q{u"a.txt", 10, 20, u"Copy2_a.txt"};
  {
    CFileExistDlg dlg(q);
    EXPECT_EQ(Control<QLineEdit>(&dlg, CFileExistDlg::kIdRenameTo)->text(), QStringLiteral("Copy2_a.txt"));
    EXPECT_EQ(dlg.MessageText(), ToQString(LoadString(416) + "10 Bytes" + LoadString(417) + "20 Bytes"));
    Control<QLineEdit>(&dlg, CFileExistDlg::kIdRenameTo)->setText(QStringLiteral("  "));
    EXPECT_FALSE(Control<QPushButton>(&dlg, CFileExistDlg::kIdRename)->isEnabled());
    EXPECT_FALSE(Control<QPushButton>(&dlg, CFileExistDlg::kIdRenameAll)->isEnabled());
    Control<QLineEdit>(&dlg, CFileExistDlg::kIdRenameTo)->setText(QStringLiteral("edited.txt"));
    Control<QPushButton>(&dlg, CFileExistDlg::kIdRenameAll)->click();
    EXPECT_EQ(dlg.Answer(), FileExistAnswer::RenameAll);
    EXPECT_EQ(dlg.NewName(), u"Copy2_a.txt") << "Rename All keeps the proposal";
    EXPECT_EQ(dlg.result(), CFileExistDlg::kResultOther);
  }
  {
    CFileExistDlg dlg(q);
    dlg.reject();
    EXPECT_EQ(dlg.Answer(), FileExistAnswer::Cancel);
    EXPECT_EQ(dlg.result(), kIdCancel);
  }
  {
    CAbortSaving dlg(u"big.bin");
    EXPECT_EQ(dlg.MessageText(), QStringLiteral("big.bin  is not saved completely. Click appropriate button to proceed."));
    Control<QPushButton>(&dlg, CAbortSaving::kIdSaveAndAbort)->click();
    EXPECT_EQ(dlg.Answer(), AbortAnswer::SaveFileAndAbort);
    EXPECT_EQ(dlg.result(), CAbortSaving::kResultOther);
  }
  {
    CAbortSaving dlg(u"big.bin");
    test::SendKey(&dlg, Qt::Key_Escape);
    EXPECT_EQ(dlg.Answer(), AbortAnswer::AbortImmediately);
  }
}

TEST_F(RecoverDialogs, ADestinationThatCannotBeWrittenEndsTheProgressDialogWithTheMessage) {
  OpenScanned();
  if (HasFatalFailure()) return;
  CheckFolder(u"Compressed");
  // A pseudo file system: it takes no files, and says it has no room. The
  // user is told it cannot be written, not that it is full.
  App().m_saveChoice.m_szSaveDest = "/proc/nonexistent-folder";
  App().m_saveChoice.m_bSaveReady = 1;
  App().m_saveChoice.m_bSaveFullOptions = 0;
  CSaveProcess dlg(console, console->Store(), kViewClassic);
  // Its caption carries the minimise button alone: no OK, no Cancel.
  for (const QAbstractButton* b : dlg.findChildren<QAbstractButton*>())
    EXPECT_TRUE(b->text() != QStringLiteral("OK") && b->text() != QStringLiteral("Cancel")) << b->text().toStdString();
  EXPECT_EQ(GetDlgItem(&dlg, CSaveProcess::kIdCancel), nullptr);
  dlg.open();
  dlg.Start();
  ASSERT_TRUE(test::WaitFor([&] { return !dlg.isVisible() && !dlg.WorkerRunning(); }, 60));
  EXPECT_TRUE(dlg.SpaceRefused());
  EXPECT_EQ(App().m_bAbort, 1u);
  bool shown = false, spaceShown = false;
  for (const std::string& text : prompt.asked) {
    shown = shown || text.rfind("The destination cannot be written:\n/proc/nonexistent-folder", 0) == 0;
    spaceShown = spaceShown || text.rfind(LoadString(324), 0) == 0;
  }
  EXPECT_TRUE(shown);
  EXPECT_FALSE(spaceShown);
}

}  // namespace
}  // namespace corvan
