#include <gtest/gtest.h>

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyleOptionViewItem>
#include <algorithm>
#include <mutex>
#include <set>

#include "core/AppServices.h"
#include "core/StringTable.h"
#include "app/ui/CTransLayerDlg.h"
#include "app/ui/MainWindows.h"
#include "console/ui/CFileFolderTree.h"
#include "console/ui/CFileListCtrl.h"
#include "console/ui/CRecoveryConsole.h"
#include "console/ui/CheckBoxHit.h"
#include "console/ui/FolderListModel.h"
#include "console/ui/FolderTreeModel.h"
#include "console/ui/LogDialogs.h"
#include "console/ui/ConsoleTestSupport.h"
#include "scan/ProgramEngines.h"
#include "core/RecoveryMode.h"
#include "console/ui/CScanProcess.h"
#include "support/TestSupport.h"
#include "ui/CXBitmapButton.h"
#include "ui/CXColorTab.h"
#include "ui/DialogLayout.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

// Answers every question as told and remembers what was asked.
std::vector<test::TruthRow> NtfsTruth() {
  auto rows = test::ReadTruth(test::CorpusDir() / "ntfs.truth.tsv");
  // Folders before their contents.
  std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  return rows;
}

using test::TreePaths;

std::set<std::string> ListNames(FolderListModel* list) {
  std::set<std::string> names;
  for (int r = 0; r < list->rowCount(); ++r) names.insert(ToUtf8(list->CellText(r, FolderListModel::kName)));
  return names;
}

// A click exactly on the check box of `index`.
void ClickCheckBox(QAbstractItemView* view, const QModelIndex& index, Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QStyleOptionViewItem option;
  option.initFrom(view);
  const QRect r = view->visualRect(index);
  for (int x = r.left(); x < r.right(); ++x) {
    const QPoint p(x, r.center().y());
    if (!IsOnCheckBox(view, option, index, p)) continue;
    for (QEvent::Type t : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QMouseEvent e(t, QPointF(p), QPointF(view->viewport()->mapToGlobal(p)), Qt::LeftButton,
                    t == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, mods);
      QApplication::sendEvent(view->viewport(), &e);
    }
    return;
  }
  ADD_FAILURE() << "no check box found";
}

class ConsoleWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramEndHandler([this] { ++ended; });
    SetStartWindowOpener([] { ShowStartWindow(); });  // as the program sets it at start
    std::string why;
    ASSERT_TRUE(test::PrepareNtfsVolumeScan(App(), prompt, &why)) << why;
    truth = NtfsTruth();
  }
  void TearDown() override {
    if (HelpViewer* help = HelpViewer::Existing()) help->close();
    test::CloseTestWindows(prompt, console);
    SetProgramEndHandler(nullptr);
    SetStartWindowOpener(nullptr);
    App().m_pPrompt = nullptr;
  }

  // Opens the results window as the mode buttons do and waits for its scan.
  void Open(std::unique_ptr<EngineBackend> engines, bool wait = true) {
    console = OpenRecoveryConsole(std::move(engines));
    if (wait) {
      ASSERT_TRUE(test::WaitFor([this] { return console && console->ScanFinished(); }));
    }
  }
  CXBitmapButton* Button(int id) const { return GetDlgItemAs<CXBitmapButton>(console, id); }
  // Opens the window on a scan that reports half the truth and then waits
  // (in the critical phase when asked) until it is stopped or released.
  CScanProcess* OpenHeldScan(bool critical = false) {
    auto backend = std::make_unique<test::TruthBackend>(truth);
    backend->holdUntilStopped = true;
    backend->critical = critical;
    held = backend.get();
    Open(std::move(backend), false);
    if (!test::WaitFor([this] { return held->holding.load(); }, 10)) return nullptr;
    test::WaitFor([this] { return console && console->ScanDialog() && console->ScanDialog()->isVisible(); }, 10);
    return console ? console->ScanDialog() : nullptr;
  }

  // What the Must-show asks of a scan of the corpus NTFS volume; `liveOnly`
  // for a real Quick scan, which need not show deleted folders.
  void CheckViewsAgainstTruth(bool liveOnly);

  test::AnsweringPrompt prompt;
  QPointer<CRecoveryConsole> console;
  std::vector<test::TruthRow> truth;
  test::TruthBackend* held = nullptr;
  int ended = 0;
};

void ConsoleWindow::CheckViewsAgainstTruth(bool liveOnly) {
  CORVANApp& app = App();
  ASSERT_TRUE(app.m_bResultsPresent);
  CFileFolderTree* classic = console->Tree(kViewClassic);
  FolderTreeModel* model = classic->Model();
  const PartitionRecord& volume = *app.m_sourceList.m_pSelectedSource->partition;
  EXPECT_EQ(ToUtf16(model->index(0, 0).data().toString()), volume.label + u"(" + volume.name + u")");

  // The classic tree holds the truth's folders.
  const auto paths = TreePaths(model);
  for (const auto& row : truth) {
    if (row.type == "dir" && (!liveOnly || row.state == "live")) {
      EXPECT_TRUE(paths.count(row.path)) << row.path;
    }
  }

  // The list of a folder shows its files with their cell texts.
  ASSERT_TRUE(paths.count("Compressed"));
  ASSERT_TRUE(classic->SelectFolderRecord(paths.at("Compressed")));
  FolderListModel* list = console->List()->Model();
  std::set<std::string> expected;
  std::uint64_t compressedBytes = 0;
  for (const auto& row : truth) {
    if (row.path.rfind("Compressed/", 0) != 0 || (liveOnly && row.state != "live")) continue;
    expected.insert(row.path.substr(11));
    compressedBytes += row.size;
  }
  EXPECT_EQ(ListNames(list), expected);
  const QRegularExpression date(QStringLiteral("^(\\d\\d-\\d\\d-\\d{4} \\d\\d:\\d\\d:\\d\\d|--------)$"));
  for (int r = 0; r < list->rowCount(); ++r) {
    const std::string name = ToUtf8(list->CellText(r, FolderListModel::kName));
    const auto row = std::find_if(truth.begin(), truth.end(), [&](const auto& t) { return t.path == "Compressed/" + name; });
    ASSERT_NE(row, truth.end());
    EXPECT_EQ(list->CellText(r, FolderListModel::kType), QStringLiteral("Compressed File")) << name;
    EXPECT_EQ(list->CellText(r, FolderListModel::kSize), QString::number(row->size)) << name;
    EXPECT_TRUE(date.match(list->CellText(r, FolderListModel::kModified)).hasMatch());
    EXPECT_TRUE(date.match(list->CellText(r, FolderListModel::kCreated)).hasMatch());
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^ *\\d{7,}$|^ {0,6}\\d+$"))
                    .match(list->CellText(r, FolderListModel::kId)).hasMatch());
    EXPECT_GE(list->CellText(r, FolderListModel::kId).size(), 7);
  }

  // The status line totals what was found.
  EXPECT_TRUE(QRegularExpression(QStringLiteral("^Total \\d+\\.\\d\\d (bytes|KB|MB|GB) in \\d+ file\\(s\\) in \\d+ folder\\(s\\)$"))
                  .match(console->TotalText()).hasMatch())
      << ToUtf8(console->TotalText());

  // The File Type List groups the files by category and extension.
  console->Tab()->setCurrentIndex(kViewByType);
  ASSERT_EQ(console->View(), kViewByType);
  FolderTreeModel* byType = console->Tree(kViewByType)->Model();
  EXPECT_EQ(byType->index(0, 0).data().toString(), QStringLiteral("File Type(s)"));
  const auto groups = TreePaths(byType);
  // The corpus's extensions and where the file-type table puts them.
  const std::map<std::string, std::string> category{
      {"au", "Audio"},      {"wav", "Audio"},   {"bin", "Application"},       {"bmp", "Graphics & Photos"},
      {"gif", "Graphics & Photos"}, {"jpg", "Graphics & Photos"}, {"png", "Graphics & Photos"},
      {"tif", "Graphics & Photos"}, {"dat", "Miscellaneous"},     {"html", "Mails & Internet"},
      {"pdf", "Documents"}, {"txt", "Text"},    {"zip", "Archive"}};
  std::set<std::string> expectedGroups;
  for (const auto& row : truth) {
    if (row.type != "file" || (liveOnly && row.state != "live")) continue;
    const std::string ext = row.path.substr(row.path.rfind('.') + 1);
    ASSERT_TRUE(category.count(ext)) << row.path;
    expectedGroups.insert(category.at(ext));
    expectedGroups.insert(category.at(ext) + "/" + ext);
  }
  EXPECT_GE(expectedGroups.size(), 12u);
  for (const auto& path : expectedGroups) EXPECT_TRUE(groups.count(path)) << path;
  std::set<std::string> txt;
  for (const auto& row : truth) {
    const std::string name = row.path.substr(row.path.rfind('/') + 1);
    if (row.type == "file" && name.size() > 4 && name.substr(name.size() - 4) == ".txt" &&
        (!liveOnly || row.state == "live"))
      txt.insert(name);
  }
  ASSERT_TRUE(console->Tree(kViewByType)->SelectFolderRecord(groups.at("Text/txt")));
  const std::set<std::string> listed = ListNames(list);
  EXPECT_TRUE(std::includes(listed.begin(), listed.end(), txt.begin(), txt.end()));
  for (int r = 0; r < list->rowCount(); ++r) EXPECT_FALSE(list->CellText(r, FolderListModel::kId).trimmed().isEmpty());
  // The category and extension folders are the list's own, with no File ID
  // of the volume to show.
  ASSERT_TRUE(console->Tree(kViewByType)->SelectFolderRecord(groups.at("Text")));
  ASSERT_EQ(ListNames(list), std::set<std::string>{"txt"});
  EXPECT_EQ(list->CellText(0, FolderListModel::kType), QStringLiteral("Folder"));
  EXPECT_EQ(list->CellText(0, FolderListModel::kId), QString());

  // Checking a folder checks its content, counts it and enables Recover.
  console->Tab()->setCurrentIndex(kViewClassic);
  ASSERT_TRUE(classic->SelectFolderRecord(paths.at("Compressed")));
  EXPECT_FALSE(Button(CRecoveryConsole::kIdRecover)->isEnabled());
  ClickCheckBox(classic, model->IndexOf(paths.at("Compressed")));
  for (int r = 0; r < list->rowCount(); ++r)
    EXPECT_EQ(list->index(r, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
  EXPECT_EQ(model->index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
  EXPECT_EQ(ToUtf8(console->MarkedText()), "Marked " + FormatSize(compressedBytes) + " in " +
                                               std::to_string(expected.size()) + " file(s) in 2 folder(s)");
  EXPECT_TRUE(Button(CRecoveryConsole::kIdRecover)->isEnabled());
  EXPECT_EQ(Button(CRecoveryConsole::kIdRecover)->State(), 0);
  ClickCheckBox(classic, model->IndexOf(paths.at("Compressed")));
  EXPECT_EQ(ToUtf8(console->MarkedText()), "Marked 0.00 bytes in 0 file(s) in 0 folder(s)");
  EXPECT_FALSE(Button(CRecoveryConsole::kIdRecover)->isEnabled());
}

TEST_F(ConsoleWindow, AScanFillsTheTreesTheListAndTheStatusLines) {
  auto backend = std::make_unique<test::TruthBackend>(truth);
  Open(std::move(backend));
  CheckViewsAgainstTruth(false);
  // Everything the backend handed over is totalled.
  std::uint64_t bytes = 0, files = 0, folders = 1;
  for (const auto& row : truth) (row.type == "dir" ? folders : files) += 1, bytes += row.size;
  EXPECT_EQ(ToUtf8(console->TotalText()), "Total " + FormatSize(bytes) + " in " + std::to_string(files) +
                                              " file(s) in " + std::to_string(folders) + " folder(s)");
}

TEST_F(ConsoleWindow, AScanThatFindsNothingTotalsNothingInTheStatusLine) {
  auto backend = std::make_unique<test::TruthBackend>(std::vector<test::TruthRow>{});
  backend->rootWithFirstItem = true;
  Open(std::move(backend));
  EXPECT_EQ(console->TotalText(), QStringLiteral("Total 0.00 bytes in 0 file(s) in 0 folder(s)"));
  EXPECT_FALSE(App().m_bResultsPresent);
}

// Waits for the engines: the program's backend builds no engine until the
// NTFS engine is joined to it.
TEST_F(ConsoleWindow, TheProgramsEnginesScanTheCorpusNtfsVolume) {
  Open(MakeProgramEngines());
  CheckViewsAgainstTruth(true);
}

// The total is the bytes of the files found: an exFAT folder's size (its
// directory clusters) is no file's bytes. A Quick scan of exFAT finds the
// deleted entries too: every row of the truth.
TEST_F(ConsoleWindow, TheTotalOfAnExfatVolumeIsItsFilesBytes) {
  CORVANApp& app = App();
  const auto exfat = test::VolumeOfKind(app, kFsExFat);
  ASSERT_TRUE(exfat && SelectSource(app, *exfat));
  Open(MakeProgramEngines());
  std::uint64_t bytes = 0, files = 0, folders = 1;
  for (const auto& row : test::ReadTruth(test::CorpusDir() / "exfat.truth.tsv"))
    (row.type == "dir" ? folders : files) += 1, bytes += row.size;
  EXPECT_EQ(ToUtf8(console->TotalText()), "Total " + FormatSize(bytes) + " in " + std::to_string(files) +
                                              " file(s) in " + std::to_string(folders) + " folder(s)");
}

// Each row's icon is the position of its kind in the icon key table:
// folders 0 and 1, deleted files 3, live files by their extension's key.
TEST_F(ConsoleWindow, ListIconsFollowTheIconKeyTable) {
  Open(std::make_unique<test::TruthBackend>(truth));
  // The keys' positions in the table, and the extensions of the corpus
  // volume that stand in each key's group.
  const std::map<std::string, int> byExtension = {
      {"txt", 50}, {"dat", 50}, {"png", 28}, {"gif", 28}, {"jpg", 33}, {"bmp", 11}, {"bin", 24},
      {"zip", 55}, {"wav", 6},  {"au", 6},   {"tif", 49}, {"pdf", 39}, {"html", 31}};
  CFileFolderTree* classic = console->Tree(kViewClassic);
  FolderListModel* list = console->List()->Model();
  std::map<int, int> seen;
  for (const auto& [path, id] : TreePaths(classic->Model())) {
    ASSERT_TRUE(classic->SelectFolderRecord(id)) << path;
    for (int r = 0; r < list->rowCount(); ++r) {
      const std::string name = ToUtf8(list->CellText(r, FolderListModel::kName));
      const std::string full = path.empty() ? name : path + "/" + name;
      const auto row = std::find_if(truth.begin(), truth.end(), [&](const auto& t) { return t.path == full; });
      ASSERT_NE(row, truth.end()) << full;
      int want;
      if (row->type == "dir") {
        want = row->state == "live" ? 0 : 1;
      } else if (row->state != "live") {
        want = 3;
      } else {
        const auto dot = name.rfind('.');
        ASSERT_NE(dot, std::string::npos) << full;
        std::string ext = name.substr(dot + 1);
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        ASSERT_TRUE(byExtension.count(ext)) << full;
        want = byExtension.at(ext);
      }
      EXPECT_EQ(list->IconIndex(r), want) << full;
      ++seen[want];
      // The list draws the icon of that position.
      const QPixmap shown = list->index(r, FolderListModel::kName).data(Qt::DecorationRole).value<QPixmap>();
      EXPECT_EQ(shown.size(), QSize(16, 16)) << full;
    }
  }
  EXPECT_GE(seen.size(), 8u);
}

TEST_F(ConsoleWindow, ButtonsAndTextsBeforeAndAfterTheScan) {
  ASSERT_NE(OpenHeldScan(), nullptr);
  // While the scan runs only the window's own buttons act.
  for (int id : {CRecoveryConsole::kIdRecover, CRecoveryConsole::kIdBack, CRecoveryConsole::kIdHelp,
                 CRecoveryConsole::kIdFind, CRecoveryConsole::kIdFilterOptions, CRecoveryConsole::kIdLog})
    EXPECT_FALSE(Button(id)->isEnabled()) << id;
  EXPECT_EQ(console->windowTitle(), QStringLiteral("Data Recovery - Halvard Vantrel Virtual Machine Data Recovery"));
  const auto* tab = console->Tab();
  ASSERT_EQ(tab->count(), 3);
  EXPECT_EQ(tab->tabText(0), QStringLiteral("Classic Tree"));
  EXPECT_EQ(tab->tabText(1), QStringLiteral("File Type List"));
  EXPECT_EQ(tab->tabText(2), QStringLiteral("Filtered Tree"));
  auto* search = GetDlgItemAs<QLineEdit>(console, CRecoveryConsole::kIdSearch);
  EXPECT_EQ(search->text(), QStringLiteral("Search File…"));
  EXPECT_EQ(search->maxLength(), 250);
  EXPECT_EQ(GetDlgItemAs<QLineEdit>(console, CRecoveryConsole::kIdMask)->text(), QStringLiteral("*.*"));
  EXPECT_EQ(GetDlgItemAs<QLineEdit>(console, CRecoveryConsole::kIdMask)->maxLength(), 125);
  EXPECT_EQ(Button(CRecoveryConsole::kIdLog)->toolTip(), QStringLiteral("View Log"));
  EXPECT_EQ(Button(CRecoveryConsole::kIdFind)->toolTip(), QStringLiteral("Advance Find Option"));
  // The view cannot change before results exist.
  console->Tab()->setCurrentIndex(kViewByType);
  EXPECT_EQ(console->Tab()->currentIndex(), 0);

  // The running total reaches the scan dialog.
  CScanProcess* dlg = console->ScanDialog();
  ASSERT_TRUE(test::WaitFor([&] {
    return GetDlgItemAs<QLabel>(dlg, CScanProcess::kIdCounterText)->text().startsWith(QStringLiteral("Total "));
  }, 10));
  held->release = true;
  ASSERT_TRUE(test::WaitFor([this] { return console->ScanFinished(); }));
  for (int id : {CRecoveryConsole::kIdBack, CRecoveryConsole::kIdHelp, CRecoveryConsole::kIdMinimise})
    EXPECT_TRUE(Button(id)->isEnabled()) << id;
  // Find, "+", Log and the search box act once the scan has ended.
  for (int id : {CRecoveryConsole::kIdFind, CRecoveryConsole::kIdFilterOptions, CRecoveryConsole::kIdLog})
    EXPECT_TRUE(Button(id)->isEnabled()) << id;
  EXPECT_TRUE(search->isEnabled());
}

TEST_F(ConsoleWindow, StopAsksAndEndsTheScanWithWhatWasFound) {
  CScanProcess* dlg = OpenHeldScan();
  ASSERT_NE(dlg, nullptr);
  prompt.answer = kIdNo;
  GetDlgItemAs<CXBitmapButton>(dlg, CScanProcess::kIdStop)->click();
  EXPECT_TRUE(prompt.Asked(284));
  test::Settle();
  EXPECT_TRUE(dlg->WorkerRunning());  // No: the scan goes on
  prompt.answer = kIdYes;
  GetDlgItemAs<CXBitmapButton>(dlg, CScanProcess::kIdStop)->click();
  ASSERT_TRUE(test::WaitFor([this] { return console->ScanFinished(); }));
  // What came before the stop is there; the rest is not.
  const ReceivedTotals t = console->Store().Totals();
  EXPECT_EQ(t.files + t.folders, 1 + truth.size() / 2);
  EXPECT_TRUE(App().m_bResultsPresent);
  EXPECT_FALSE(App().m_bBusy);
}

TEST_F(ConsoleWindow, CancelIsRefusedWhileCriticalInformationIsRead) {
  CScanProcess* dlg = OpenHeldScan(true);
  ASSERT_NE(dlg, nullptr);
  dlg->reject();
  EXPECT_TRUE(prompt.Asked(360));
  EXPECT_FALSE(prompt.Asked(284));
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_TRUE(dlg->WorkerRunning());
  // Escape and Space do nothing either.
  test::SendKey(dlg, Qt::Key_Escape);
  test::SendKey(dlg, Qt::Key_Space);
  EXPECT_TRUE(dlg->isVisible());
  held->release = true;
  ASSERT_TRUE(test::WaitFor([this] { return console->ScanFinished(); }));
  EXPECT_EQ(console->Store().Totals().files + console->Store().Totals().folders, 1 + truth.size());
}

TEST_F(ConsoleWindow, TheStartTimerRunsOneScan) {
  struct CountingBackend : test::TruthBackend {
    using TruthBackend::TruthBackend;
    std::unique_ptr<ScanEngine> Create(EngineHost& host, EngineKind kind) override {
      ++creates;
      return TruthBackend::Create(host, kind);
    }
    int creates = 0;
  };
  auto backend = std::make_unique<CountingBackend>(truth);
  auto* b = backend.get();
  Open(std::move(backend));
  console->OnTimer();
  console->OnTimer();
  test::Settle();
  EXPECT_EQ(b->creates, 1);
  EXPECT_EQ(console->ScanDialog(), nullptr);
}

TEST_F(ConsoleWindow, EscapeNeverClosesItAndNothingReachesItWhileCtrlIsHeld) {
  Open(std::make_unique<test::TruthBackend>(truth));
  test::SendKey(console->List(), Qt::Key_Escape);
  test::SendKey(console, Qt::Key_Escape);
  test::Settle();
  ASSERT_TRUE(console);
  EXPECT_TRUE(console->isVisible());
  CFileFolderTree* classic = console->Tree(kViewClassic);
  const QModelIndex root = classic->Model()->index(0, 0);
  ClickCheckBox(classic, root, Qt::ControlModifier);
  EXPECT_EQ(root.data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
  ClickCheckBox(classic, root);
  EXPECT_EQ(root.data(Qt::CheckStateRole).toInt(), Qt::Checked);
  // A click on the list's check box of a row.
  FolderListModel* list = console->List()->Model();
  ASSERT_GT(list->rowCount(), 0);
  ClickCheckBox(console->List(), list->index(0, 0));
  EXPECT_EQ(list->index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
  EXPECT_EQ(root.data(Qt::CheckStateRole).toInt(), Qt::PartiallyChecked);
}

TEST_F(ConsoleWindow, ListSortsDescendingFirstAndDatesByValue) {
  Open(std::make_unique<test::TruthBackend>(truth));
  const auto paths = TreePaths(console->Tree(kViewClassic)->Model());
  ASSERT_TRUE(console->Tree(kViewClassic)->SelectFolderRecord(paths.at("Photos0")));
  FolderListModel* list = console->List()->Model();
  ASSERT_GT(list->rowCount(), 2);
  const auto sizes = [&] {
    std::vector<std::uint64_t> v;
    for (int r = 0; r < list->rowCount(); ++r) v.push_back(list->CellText(r, FolderListModel::kSize).toULongLong());
    return v;
  };
  console->List()->OnHeaderClick(FolderListModel::kSize);
  auto v = sizes();
  EXPECT_TRUE(std::is_sorted(v.rbegin(), v.rend()));
  console->List()->OnHeaderClick(FolderListModel::kSize);
  v = sizes();
  EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));
  QHeaderView* header = console->List()->horizontalHeader();
  EXPECT_TRUE(header->isSortIndicatorShown());
  EXPECT_EQ(header->sortIndicatorSection(), FolderListModel::kSize);
  // Another folder comes in the store's order: no arrow claims otherwise,
  // and the next click sorts it largest first.
  ASSERT_TRUE(console->Tree(kViewClassic)->SelectFolderRecord(paths.at("Compressed")));
  ASSERT_GT(list->rowCount(), 2);
  EXPECT_FALSE(header->isSortIndicatorShown());
  console->List()->OnHeaderClick(FolderListModel::kSize);
  v = sizes();
  EXPECT_TRUE(std::is_sorted(v.rbegin(), v.rend()));
  EXPECT_TRUE(header->isSortIndicatorShown());
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
  console->List()->OnHeaderClick(FolderListModel::kName);
  EXPECT_FALSE(App().m_bSortAscending);
}

TEST_F(ConsoleWindow, RenamesAreCheckedAndReachTreeAndList) {
  Open(std::make_unique<test::TruthBackend>(truth));
  CFileFolderTree* classic = console->Tree(kViewClassic);
  const auto paths = TreePaths(classic->Model());
  const FoundItemHandle photos = paths.at("Photos0");
  const QModelIndex index = classic->Model()->IndexOf(photos);
  EXPECT_FALSE(classic->Model()->setData(index, QStringLiteral("a:b"), Qt::EditRole));
  EXPECT_TRUE(classic->Model()->setData(index, QStringLiteral("Älbum"), Qt::EditRole));
  console->RefreshResults();
  EXPECT_EQ(classic->Model()->IndexOf(photos).data().toString(), QStringLiteral("Älbum"));
  EXPECT_EQ(console->Store().NameOf(photos), u"Älbum");
  // The root's list shows the new name too.
  classic->SelectFolderRecord(0);
  EXPECT_TRUE(ListNames(console->List()->Model()).count("Älbum"));
}

TEST_F(ConsoleWindow, BackPutsANewStartWindowInFront) {
  Open(std::make_unique<test::TruthBackend>(truth));
  // Back offers to save the scan first; No leaves without it.
  prompt.answer = kIdNo;
  Button(CRecoveryConsole::kIdBack)->click();
  EXPECT_TRUE(prompt.Asked(310));
  test::Settle();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(console.isNull());
  EXPECT_NE(qobject_cast<CTransLayerDlg*>(CurrentMainWindow()), nullptr);
  EXPECT_EQ(ended, 0);
  EXPECT_EQ(App().m_pConsole, nullptr);
  EXPECT_FALSE(App().m_bResultsPresent);
}

TEST_F(ConsoleWindow, CloseOffersToSaveTheScanFirst) {
  Open(std::make_unique<test::TruthBackend>(truth));
  ASSERT_TRUE(App().m_bResultsPresent);
  prompt.answer = kIdCancel;
  Button(CRecoveryConsole::kIdClose)->click();
  EXPECT_TRUE(prompt.Asked(310));
  EXPECT_FALSE(prompt.Asked(238));
  test::Settle();
  ASSERT_TRUE(console);
  EXPECT_TRUE(console->isVisible());
  // Closing by the window system asks the same.
  prompt.asked.clear();
  console->close();
  EXPECT_TRUE(prompt.Asked(310));
  test::Settle();
  ASSERT_TRUE(console);
  EXPECT_TRUE(console->isVisible());
  // No: the scan is not kept, and the program ends.
  prompt.answer = kIdNo;
  Button(CRecoveryConsole::kIdClose)->click();
  test::Settle();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(console.isNull());
  EXPECT_EQ(ended, 1);
}

TEST_F(ConsoleWindow, CloseAsksWhetherToExitWhenTheScanIsSavedAlready) {
  Open(std::make_unique<test::TruthBackend>(truth));
  App().m_bFromScanInfo = 1;
  prompt.answer = kIdNo;
  Button(CRecoveryConsole::kIdClose)->click();
  EXPECT_TRUE(prompt.Asked(238));
  EXPECT_FALSE(prompt.Asked(310));
  test::Settle();
  ASSERT_TRUE(console);
  EXPECT_TRUE(console->isVisible());
  prompt.answer = kIdYes;
  Button(CRecoveryConsole::kIdClose)->click();
  test::Settle();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(console.isNull());
  EXPECT_EQ(ended, 1);
}

TEST_F(ConsoleWindow, MaximiseAndRestoreKeepTheAnchors) {
  Open(std::make_unique<test::TruthBackend>(truth));
  const QRect initial = console->geometry();
  console->OnMaximizeRestore();
  EXPECT_FALSE(console->IsRestored());
  // The window fills the screen's work area.
  const QSize big = console->size();
  EXPECT_EQ(console->geometry(), console->screen()->availableGeometry());
  // Recover sits 66 from the right and 72 from the bottom, 65 x 54.
  EXPECT_EQ(Button(CRecoveryConsole::kIdRecover)->geometry(), QRect(big.width() - 66, big.height() - 72, 65, 54));
  EXPECT_EQ(console->List()->geometry().right(), big.width() - 1 - (CRecoveryConsole::kWidth - 964));
  const WorkArea wa = App().m_rcWorkArea;
  EXPECT_EQ(wa.right - wa.left, big.width() - (CRecoveryConsole::kWidth - 628));
  console->OnMaximizeRestore();
  EXPECT_TRUE(console->IsRestored());
  EXPECT_EQ(console->geometry(), initial);
  EXPECT_EQ(Button(CRecoveryConsole::kIdRecover)->geometry(), QRect(914, 568, 65, 54));
}

TEST_F(ConsoleWindow, PaintedBandAndListRowColours) {
  CScanProcess* dlg = OpenHeldScan();
  ASSERT_NE(dlg, nullptr);
  const QImage scan = dlg->grab().toImage().convertToFormat(QImage::Format_RGB32);
  // The scan dialog: band rows, edge rows in 0x646F71, the rule and the separator line.
  EXPECT_EQ(test::Pixel(scan, 3, 0), test::Rgb(0x71, 0x6F, 0x64));
  EXPECT_EQ(test::Pixel(scan, 3, 17), test::Rgb(125 - 89 * 17 / 35, 160 - 108 * 17 / 35, 80 - 60 * 17 / 35));
  EXPECT_EQ(test::Pixel(scan, 3, 35), test::Rgb(0x71, 0x6F, 0x64));
  EXPECT_EQ(test::Pixel(scan, 3, 36), test::Rgb(0xDC, 0xF0, 0xC8));
  EXPECT_EQ(test::Pixel(scan, 3, dlg->LineAnchor()), test::Rgb(0xD0, 0xD0, 0xBF));
  EXPECT_EQ(dlg->LineAnchor(), App().m_rcWorkArea.top - 13);
  EXPECT_EQ(test::Pixel(scan, 3, dlg->LineAnchor() + 3), test::Rgb(0xF4, 0xFF, 0xF1));
  held->release = true;
  ASSERT_TRUE(test::WaitFor([this] { return console->ScanFinished(); }));

  const QImage img = console->grab().toImage().convertToFormat(QImage::Format_RGB32);
  // The console: band from RGB(125,160,80) down, then the two rules.
  EXPECT_EQ(test::Pixel(img, 500, 1), test::Rgb(125 - 89 / 35, 160 - 108 / 35, 80 - 60 / 35));
  EXPECT_EQ(test::Pixel(img, 500, 34), test::Rgb(125 - 89 * 34 / 35, 160 - 108 * 34 / 35, 80 - 60 * 34 / 35));
  EXPECT_EQ(test::Pixel(img, 500, 35), test::Rgb(0xA8, 0xC3, 0x00));
  EXPECT_EQ(test::Pixel(img, 500, 36), test::Rgb(0xDC, 0xF0, 0xC8));
  // List rows: even rows 0xFAF8F6, odd rows 0xCEE9DD, and the bands go on
  // below the last row.
  CFileListCtrl* list = console->List();
  ASSERT_GE(list->Model()->rowCount(), 2);
  const QImage rows = list->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const int cx = list->columnViewportPosition(FolderListModel::kModified) + 10;
  const int y0 = list->rowViewportPosition(0) + list->rowHeight(0) / 2;
  const int y1 = list->rowViewportPosition(1) + list->rowHeight(1) / 2;
  EXPECT_EQ(test::Pixel(rows, cx, y0 - list->rowHeight(0) / 2 + 2), test::Rgb(0xF6, 0xF8, 0xFA));
  EXPECT_EQ(test::Pixel(rows, cx, y1 - list->rowHeight(1) / 2 + 2), test::Rgb(0xDD, 0xE9, 0xCE));
}

// ---------------------------------------------------------------- the log

TEST_F(ConsoleWindow, LogShowsTheViewerThatSavesAndClearsTheLog) {
  Open(std::make_unique<test::TruthBackend>(truth));
  App().AppendLog("Viewer test entry", false);
  const std::string logText = App().LogViewText();
  ASSERT_EQ(logText.rfind(LogViewerBanner(), 0), 0u);
  ASSERT_NE(logText.find("\r\n- Viewer test entry"), std::string::npos);

  const auto unattended = CLogViewer::SaveChooser();
  test::TempDir dir;
  const std::filesystem::path saved = dir / "log.txt";
  test::WriteWholeFile(saved, std::string(100000, 'x'));  // replaced whole, not overwritten in part
  QString filter;
  CLogViewer::SaveChooser() = [&](QWidget*, const QString& f) {
    filter = f;
    return QString::fromStdString(saved.string());
  };
  bool shown = false;
  test::WhenModal([&](QDialog* dlg) {
    shown = true;
    auto* viewer = qobject_cast<CLogViewer*>(dlg);
    if (!viewer) return dlg->reject();
    EXPECT_EQ(GetDlgItemAs<QLabel>(viewer, CLogViewer::kIdTitle)->text(), QStringLiteral("Log Viewer"));
    auto* box = GetDlgItemAs<QPlainTextEdit>(viewer, CLogViewer::kIdText);
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->toPlainText().contains(QStringLiteral("- Viewer test entry")));
    // Save writes what the viewer shows, banner included, byte for byte,
    // and ends the last entry's line with CR LF as the log file does.
    GetDlgItemAs<QPushButton>(viewer, CLogViewer::kIdSave)->click();
    EXPECT_TRUE(filter.startsWith(QStringLiteral("Text File")));
    EXPECT_EQ(test::ReadWholeFile(saved), logText + "\r\n");

    // Clear asks first; No keeps every entry.
    prompt.AnswerTo(283, kIdNo);
    GetDlgItemAs<QPushButton>(viewer, CLogViewer::kIdClear)->click();
    EXPECT_TRUE(prompt.Asked(283));
    EXPECT_EQ(App().LogViewText(), logText);
    prompt.AnswerTo(283, kIdYes);
    GetDlgItemAs<QPushButton>(viewer, CLogViewer::kIdClear)->click();
    EXPECT_EQ(App().LogViewText(), LogViewerBanner());
    EXPECT_FALSE(box->toPlainText().contains(QStringLiteral("Viewer test entry")));
    // The entries still owed to the log file are kept.
    EXPECT_NE(App().LogPendingText().find("- Viewer test entry"), std::string::npos);
    GetDlgItemAs<QPushButton>(viewer, CLogViewer::kIdSave)->click();
    EXPECT_EQ(test::ReadWholeFile(saved), LogViewerBanner());

    // Enter does not close the viewer; Close does.
    test::SendKey(box, Qt::Key_Return, QStringLiteral("\r"));
    test::Settle();
    EXPECT_TRUE(viewer->isVisible());
    GetDlgItemAs<QPushButton>(viewer, CLogViewer::kIdClose)->click();
  });
  Button(CRecoveryConsole::kIdLog)->click();
  EXPECT_TRUE(shown);
  CLogViewer::SaveChooser() = unattended;
}

TEST_F(ConsoleWindow, SavingTheLogToAFolderThatIsNotThereSaysSo) {
  const auto unattended = CLogViewer::SaveChooser();
  test::TempDir dir;
  CLogViewer::SaveChooser() = [&](QWidget*, const QString&) {
    return QString::fromStdString((dir / "missing" / "log.txt").string());
  };
  {
    CLogViewer viewer;
    GetDlgItemAs<QPushButton>(&viewer, CLogViewer::kIdSave)->click();
  }
  // "Can't open file " and the path.
  EXPECT_TRUE(std::any_of(prompt.asked.begin(), prompt.asked.end(), [&](const std::string& t) {
    return t == LoadString(124) + (dir / "missing" / "log.txt").string();
  }));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
  CLogViewer::SaveChooser() = unattended;
}

// The question of the closing window, through the dialog itself: each
// button leaves its profile values, and only Close asks, never Back.
TEST_F(ConsoleWindow, CloseAsksWhetherToSaveLogsAndEachAnswerIsKept) {
  auto& parts = CRecoveryConsole::Parts();
  const auto unattended = parts.askforSaveLog;
  parts.askforSaveLog = [](CRecoveryConsole& c) { return CAskforSaveLog(&c).Ask(); };
  Profile& profile = App().GetProfile();
  struct Case {
    int button, saveLog, showDlg;
  };
  for (const Case c : {Case{CAskforSaveLog::kIdNever, 0, 1}, Case{CAskforSaveLog::kIdAlways, 1, 1},
                       Case{CAskforSaveLog::kIdAskLater, 0, 0}}) {
    SCOPED_TRACE(c.button);
    profile.WriteInt("LOG", "ShowDlg", 0);
    profile.WriteInt("LOG", "SaveLog", 7);
    ended = 0;
    Open(std::make_unique<test::TruthBackend>(truth));
    bool shown = false;
    test::WhenModal([&](QDialog* dlg) {
      auto* ask = qobject_cast<CAskforSaveLog*>(dlg);
      if (!ask) return dlg->reject();
      shown = true;
      EXPECT_EQ(GetDlgItemAs<QLabel>(ask, CAskforSaveLog::kIdText)->text(),
                QStringLiteral("Do you want to save log before closing application?"));
      EXPECT_EQ(GetDlgItemAs<QPushButton>(ask, CAskforSaveLog::kIdAlways)->text(), QStringLiteral("Always"));
      EXPECT_EQ(GetDlgItemAs<QPushButton>(ask, CAskforSaveLog::kIdAskLater)->text(), QStringLiteral("Ask Me later"));
      EXPECT_EQ(GetDlgItemAs<QPushButton>(ask, CAskforSaveLog::kIdNever)->text(), QStringLiteral("Never"));
      GetDlgItemAs<QPushButton>(ask, c.button)->click();
    });
    prompt.answer = kIdNo;
    Button(CRecoveryConsole::kIdClose)->click();
    test::Settle();
    EXPECT_TRUE(shown);
    EXPECT_EQ(profile.GetInt("LOG", "SaveLog", -1), c.saveLog);
    EXPECT_EQ(profile.GetInt("LOG", "ShowDlg", -1), c.showDlg);
    EXPECT_EQ(ended, 1);
    test::CloseTestWindows(prompt, console);
    std::string why;
    ASSERT_TRUE(test::PrepareNtfsVolumeScan(App(), prompt, &why)) << why;
  }

  // With "ShowDlg" set the question is not asked; Back never asks.
  int asked = 0;
  parts.askforSaveLog = [&](CRecoveryConsole&) {
    ++asked;
    return SaveLogAnswer::AskMeLater;
  };
  for (const auto& [showDlg, command] : {std::pair{1, CRecoveryConsole::kIdClose}, std::pair{0, CRecoveryConsole::kIdBack}}) {
    profile.WriteInt("LOG", "ShowDlg", showDlg);
    Open(std::make_unique<test::TruthBackend>(truth));
    prompt.answer = kIdNo;
    Button(command)->click();
    test::Settle();
    EXPECT_EQ(asked, 0) << command;
    test::CloseTestWindows(prompt, console);
    ASSERT_TRUE(test::PrepareNtfsVolumeScan(App(), prompt, nullptr));
  }
  parts.askforSaveLog = unattended;
  profile.WriteInt("LOG", "SaveLog", 0);
}

}  // namespace
}  // namespace corvan
