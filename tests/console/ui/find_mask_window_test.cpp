// The results window's file mask and find: the mask box, "Go" and the
// "Set File Mask" dialog build the Filtered Tree from the corpus truth as
// find(1)'s -iname and -size would select it; the search box, ">" and the
// "Find Files" dialog show the first match, F3 and Shift+F3 walk on in
// found-item order, and the messages when nothing (more) is found.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <algorithm>
#include <set>

#include "console/ui/CEditFind.h"
#include "console/ui/CEditMask.h"
#include "console/ui/CFileFolderTree.h"
#include "console/ui/CFileListCtrl.h"
#include "console/ui/CFileMask.h"
#include "console/ui/CFindDlg.h"
#include "console/ui/CRecoveryConsole.h"
#include "console/ui/CUpDown.h"
#include "console/ui/ConsoleTestSupport.h"
#include "console/ui/FolderListModel.h"
#include "console/ui/FolderTreeModel.h"
#include "core/RecoveryMode.h"
#include "support/TestSupport.h"
#include "ui/CXBitmapButton.h"
#include "ui/CXColorTab.h"
#include "ui/DialogLayout.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}
std::string NameOf(const std::string& path) { return path.substr(path.rfind('/') + 1); }
// find -iname '*.EXT' for any of `exts`.
bool HasExtension(const std::string& path, std::initializer_list<const char*> exts) {
  const std::string name = Lower(NameOf(path));
  return std::any_of(exts.begin(), exts.end(), [&](const char* e) {
    const std::string tail = std::string(".") + e;
    return name.size() >= tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  });
}

class FindMaskWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    ASSERT_TRUE(test::PrepareNtfsVolumeScan(App(), prompt, &why)) << why;
    truth = test::ReadTruth(test::CorpusDir() / "ntfs.truth.tsv");
    // The backend reports folders before their contents, in path order.
    std::sort(truth.begin(), truth.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    console = OpenRecoveryConsole(std::make_unique<test::TruthBackend>(truth));
    ASSERT_TRUE(test::WaitFor([this] { return console && console->ScanFinished(); }));
    ASSERT_TRUE(App().m_bResultsPresent);
  }
  void TearDown() override {
    if (HelpViewer* help = HelpViewer::Existing()) help->close();
    test::CloseTestWindows(prompt, console);
    App().m_pPrompt = nullptr;
  }
  CXBitmapButton* Button(int id) const { return GetDlgItemAs<CXBitmapButton>(console, id); }
  bool WaitForMask() {
    return test::WaitFor([this] { return !console->MaskPending(); }, 60) && App().m_bMaskRunning == 0;
  }
  // Types `text` into a box as the user does (the box empties when it takes
  // the focus) and presses Enter.
  void TypeAndEnter(QLineEdit* box, const QString& text) {
    QFocusEvent in(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(box, &in);
    box->insert(text);
    test::SendKey(box, Qt::Key_Return);
    test::Settle();
  }
  void Key(Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_F3, mods);
    QApplication::sendEvent(console->List(), &press);
    test::Settle();
  }
  // The path of the list row that is selected.
  std::string SelectedPath() const {
    const QModelIndexList rows = console->List()->selectionModel()->selectedRows();
    if (rows.size() != 1) return "(none)";
    return Utf16ToUtf8(console->Store().PathOf(console->List()->Model()->HandleAt(rows[0].row())));
  }
  // The filtered tree as paths, and each folder's listed files.
  std::set<std::string> FilteredFolders() const {
    std::set<std::string> out;
    for (const auto& [path, h] : test::TreePaths(console->Tree(kViewFiltered)->Model())) out.insert(path);
    return out;
  }
  std::set<std::string> FilteredFiles() const {
    std::set<std::string> out;
    CFileFolderTree* tree = console->Tree(kViewFiltered);
    auto folders = test::TreePaths(tree->Model());
    folders[""] = 0;
    for (const auto& [path, h] : folders) {
      tree->SelectFolderRecord(h);
      FolderListModel* list = console->List()->Model();
      for (int r = 0; r < list->rowCount(); ++r)
        if (!list->RecordAt(r).IsFolder()) out.insert(Utf16ToUtf8(console->Store().PathOf(list->HandleAt(r))));
    }
    return out;
  }
  // What find(1) selects from the truth's rows, and the folders on the way.
  std::set<std::string> Want(const std::function<bool(const test::TruthRow&)>& selects,
                             std::set<std::string>* folders = nullptr) const {
    std::set<std::string> out;
    for (const auto& row : truth) {
      if (row.type != "file" || !selects(row)) continue;
      out.insert(row.path);
      for (std::size_t at = row.path.find('/'); folders && at != std::string::npos; at = row.path.find('/', at + 1))
        folders->insert(row.path.substr(0, at));
    }
    return out;
  }

  test::AnsweringPrompt prompt;
  QPointer<CRecoveryConsole> console;
  std::vector<test::TruthRow> truth;
};

TEST_F(FindMaskWindow, TheMaskBoxBuildsTheFilteredTreeAndItsTotal) {
  // The mask controls act once there are results, in the Filtered Tree.
  console->Tab()->setCurrentIndex(kViewFiltered);
  test::Settle();
  EXPECT_TRUE(console->MaskBox()->isVisible());
  EXPECT_TRUE(Button(CRecoveryConsole::kIdFilterOptions)->isEnabled());
  TypeAndEnter(console->MaskBox(), QStringLiteral("*.TXT;*.jpg"));
  ASSERT_TRUE(WaitForMask());
  EXPECT_EQ(console->View(), kViewFiltered);
  // The filtered root "Filtered Files" is selected and listed.
  const QModelIndex root = console->Tree(kViewFiltered)->Model()->index(0, 0);
  EXPECT_EQ(root.data().toString(), QStringLiteral("Filtered Files"));
  EXPECT_EQ(console->Tree(kViewFiltered)->currentIndex(), root);
  EXPECT_EQ(console->List()->Model()->Folder(), console->Store().Root());
  std::set<std::string> folders;
  const auto want = Want([](const auto& r) { return HasExtension(r.path, {"txt", "jpg"}); }, &folders);
  ASSERT_GT(want.size(), 5u);
  EXPECT_EQ(FilteredFolders(), folders);
  EXPECT_EQ(FilteredFiles(), want);
  const std::size_t n = want.size(), d = folders.size() + 1;
  EXPECT_EQ(ToUtf8(console->TotalText()), "Total " + std::to_string(n + d) + " Entries processed in " +
                                              std::to_string(n) + " file(s) in " + std::to_string(d) + " folder(s)");
  for (int id : {CRecoveryConsole::kIdBack, CRecoveryConsole::kIdFind, CRecoveryConsole::kIdClose})
    EXPECT_TRUE(Button(id)->isEnabled()) << id;

  // "Go" applies only a text that begins with "*.".
  console->MaskBox()->setText(QStringLiteral("jpg"));
  Button(CRecoveryConsole::kIdFilterNow)->click();
  EXPECT_EQ(App().m_bMaskRunning, 0u);
  EXPECT_EQ(FilteredFiles(), want);
  console->MaskBox()->setText(QStringLiteral("*.png"));
  Button(CRecoveryConsole::kIdFilterNow)->click();
  ASSERT_TRUE(WaitForMask());
  EXPECT_EQ(FilteredFiles(), Want([](const auto& r) { return HasExtension(r.path, {"png"}); }));
  // Leaving the box empty puts "*.*" back.
  QFocusEvent in(QEvent::FocusIn), out(QEvent::FocusOut);
  QApplication::sendEvent(console->MaskBox(), &in);
  EXPECT_TRUE(console->MaskBox()->text().isEmpty());
  QApplication::sendEvent(console->MaskBox(), &out);
  EXPECT_EQ(console->MaskBox()->text(), QStringLiteral("*.*"));
}

TEST_F(FindMaskWindow, TheMaskDialogChecksItsNumbersAndFiltersBySize) {
  console->Tab()->setCurrentIndex(kViewFiltered);
  test::Settle();
  bool okRules = false, messages = false, wraps = false, onlyMonths = false;
  test::WhenModal([&](QDialog* dlg) {
    auto* d = qobject_cast<CFileMask*>(dlg);
    ASSERT_NE(d, nullptr);
    auto* ok = GetDlgItemAs<QPushButton>(d, kIdOk);
    auto* patterns = GetDlgItemAs<QLineEdit>(d, CFileMask::kIdPatterns);
    auto* deleted = GetDlgItemAs<QCheckBox>(d, CFileMask::kIdDeleted);
    auto* existing = GetDlgItemAs<QCheckBox>(d, CFileMask::kIdExisting);
    const bool startsOn = ok->isEnabled() && patterns->text() == QStringLiteral("*.*");
    deleted->click();
    existing->click();
    const bool neitherOff = !ok->isEnabled();
    existing->click();
    deleted->click();
    patterns->setText(QStringLiteral("jpg"));
    const bool noPrefixOff = !ok->isEnabled();
    patterns->setText(QStringLiteral("*.*"));
    okRules = startsOn && neitherOff && noPrefixOff && ok->isEnabled();

    // Size from 10 KB upto 5 KB is refused.
    auto* sizeFrom = GetDlgItemAs<QCheckBox>(d, CFileMask::kIdSizeFrom);
    auto* upto = GetDlgItemAs<QCheckBox>(d, CFileMask::kIdUpto);
    sizeFrom->click();
    GetDlgItemAs<QLineEdit>(d, CFileMask::kIdSizeFromEdit)->setText(QStringLiteral("10"));
    upto->click();
    GetDlgItemAs<QLineEdit>(d, CFileMask::kIdUptoEdit)->setText(QStringLiteral("5"));
    ok->click();
    const bool sizeRefused = prompt.Asked(370) && d->isVisible();
    upto->click();  // no upper bound
    // Days 366 and months 1000 are refused.
    GetDlgItemAs<QCheckBox>(d, CFileMask::kIdDate)->click();
    auto* months = GetDlgItemAs<QLineEdit>(d, CFileMask::kIdMonthsEdit);
    auto* days = GetDlgItemAs<QLineEdit>(d, CFileMask::kIdDaysEdit);
    const bool monthsFirst = GetDlgItemAs<QRadioButton>(d, CFileMask::kIdMonths)->isChecked() &&
                             months->text() == QStringLiteral("1") && d->Criteria().m_bMaskInLastMonths;
    months->setText(QStringLiteral("1000"));
    ok->click();
    const bool monthsRefused = prompt.Asked(369) && d->isVisible();
    GetDlgItemAs<QRadioButton>(d, CFileMask::kIdDays)->click();
    days->setText(QStringLiteral("366"));
    ok->click();
    messages = sizeRefused && monthsFirst && monthsRefused && prompt.Asked(368) && d->isVisible();
    // The up-downs wrap: days 365 -> 1, 1 -> 365; months 1 -> 999.
    auto* daySpin = GetDlgItemAs<CUpDown>(d, CFileMask::kIdDaysSpin);
    days->setText(QStringLiteral("365"));
    daySpin->UpButton()->click();
    const bool up = days->text() == QStringLiteral("1");
    daySpin->DownButton()->click();
    GetDlgItemAs<QRadioButton>(d, CFileMask::kIdMonths)->click();
    GetDlgItemAs<CUpDown>(d, CFileMask::kIdMonthsSpin)->DownButton()->click();
    wraps = up && months->text() == QStringLiteral("999");
    // "between" with a date picked, then the months radio: months alone.
    GetDlgItemAs<QRadioButton>(d, CFileMask::kIdBetween)->click();
    GetDlgItemAs<QDateEdit>(d, CFileMask::kIdFromPicker)->setDate(QDate(2001, 1, 1));
    GetDlgItemAs<QRadioButton>(d, CFileMask::kIdMonths)->click();
    onlyMonths = d->Criteria().m_bMaskInLastMonths && !d->Criteria().m_bMaskBetween &&
                 !d->Criteria().m_bMaskInLastDays;
    // No date condition, files of 1 KB and more.
    GetDlgItemAs<QCheckBox>(d, CFileMask::kIdDate)->click();
    GetDlgItemAs<QLineEdit>(d, CFileMask::kIdSizeFromEdit)->setText(QStringLiteral("1"));
    ok->click();
  });
  Button(CRecoveryConsole::kIdFilterOptions)->click();
  EXPECT_TRUE(okRules);
  EXPECT_TRUE(messages);
  EXPECT_TRUE(wraps);
  EXPECT_TRUE(onlyMonths);
  ASSERT_TRUE(WaitForMask());
  // find -size +1023c
  EXPECT_EQ(FilteredFiles(), Want([](const auto& r) { return r.size >= 1024; }));
  // A mask-box entry afterwards resets the dialog's bounds: every size.
  TypeAndEnter(console->MaskBox(), QStringLiteral("*.*"));
  ASSERT_TRUE(WaitForMask());
  EXPECT_EQ(FilteredFiles(), Want([](const auto&) { return true; }));
}

TEST_F(FindMaskWindow, TheSearchBoxAndF3WalkTheMatchesInFoundOrder) {
  std::vector<std::string> order;  // find -iname '*.txt', in the order reported
  for (const auto& row : truth)
    if (row.type == "file" && HasExtension(row.path, {"txt"})) order.push_back(row.path);
  ASSERT_GT(order.size(), 3u);
  // F3 before any search does nothing.
  Key();
  EXPECT_TRUE(prompt.asked.empty());

  TypeAndEnter(console->SearchBox(), QStringLiteral("*.txt"));
  EXPECT_EQ(SelectedPath(), order[0]);
  EXPECT_EQ(console->Tree(kViewClassic)->CurrentFolder(),
            console->Store().HolderOf(kViewClassic, console->List()->Model()->HandleAt(
                                                        console->List()->selectionModel()->selectedRows()[0].row())));
  std::vector<std::string> walked{SelectedPath()};
  for (std::size_t i = 1; i < order.size(); ++i) {
    Key();
    walked.push_back(SelectedPath());
  }
  EXPECT_EQ(walked, order);
  Key(Qt::ShiftModifier);
  EXPECT_EQ(SelectedPath(), order[order.size() - 2]);
  Key();
  EXPECT_EQ(SelectedPath(), order.back());
  // Past the last match: the search ends without a word, and no wrap.
  Key();
  EXPECT_TRUE(prompt.asked.empty());
  EXPECT_EQ(SelectedPath(), order.back());
  EXPECT_FALSE(console->FindActive());
  // The next F3 meets a view without an active search.
  Key();
  EXPECT_TRUE(prompt.Asked(317));
  EXPECT_EQ(prompt.asked.size(), 1u);
  // A new search with no match says so once.
  TypeAndEnter(console->SearchBox(), QStringLiteral("no such name"));
  EXPECT_TRUE(prompt.Asked(366));
  EXPECT_EQ(prompt.asked.size(), 2u);
  // F3 after it finds the view without an active search.
  Key();
  ASSERT_EQ(prompt.asked.size(), 3u);
  EXPECT_EQ(prompt.asked.back(), LoadString(317));
  // ">" searches what the box holds.
  console->SearchBox()->setText(QStringLiteral("*.txt"));
  EXPECT_TRUE(Button(CRecoveryConsole::kIdFindNow)->isEnabled());
  Button(CRecoveryConsole::kIdFindNow)->click();
  EXPECT_EQ(SelectedPath(), order[0]);
}

TEST_F(FindMaskWindow, TheFindDialogAndItsCriteriaOutliveIt) {
  std::vector<std::string> bigPngs;
  for (const auto& row : truth)
    if (row.type == "file" && HasExtension(row.path, {"png"}) && row.size >= 1024) bigPngs.push_back(row.path);
  ASSERT_GE(bigPngs.size(), 2u);
  bool opening = false, rules = false, numbers = false, advanced = false;
  test::WhenModal([&](QDialog* dlg) {
    auto* d = qobject_cast<CFindDlg*>(dlg);
    ASSERT_NE(d, nullptr);
    auto* search = GetDlgItemAs<QPushButton>(d, kIdOk);
    auto* patterns = GetDlgItemAs<QLineEdit>(d, CFindDlg::kIdPatterns);
    // The box showed its prompt: the patterns are empty, Search Now off.
    opening = patterns->text().isEmpty() && !search->isEnabled() && !d->IsExpanded() &&
              d->height() == CFindDlg::kCollapsedHeight;
    patterns->setText(QStringLiteral("*.png"));
    auto* deleted = GetDlgItemAs<QCheckBox>(d, CFindDlg::kIdDeleted);
    auto* existing = GetDlgItemAs<QCheckBox>(d, CFindDlg::kIdExisting);
    const bool on = search->isEnabled();
    deleted->click();
    existing->click();
    rules = on && !search->isEnabled();
    existing->click();
    deleted->click();
    GetDlgItemAs<QPushButton>(d, CFindDlg::kIdAdvanced)->click();
    advanced = d->IsExpanded() && d->height() == CFindDlg::kFullHeight &&
               GetDlgItemAs<QPushButton>(d, CFindDlg::kIdAdvanced)->text() == QStringLiteral("Advanced<<");
    GetDlgItemAs<QCheckBox>(d, CFindDlg::kIdSize)->click();
    auto* size = GetDlgItemAs<QLineEdit>(d, CFindDlg::kIdSizeEdit);
    size->setText(QStringLiteral("3000000"));
    const bool cut = size->text() == QStringLiteral("300000");
    size->clear();
    const bool refilled = prompt.Asked(365) && size->text() == QStringLiteral("1");
    // The months up-down wraps both ways.
    GetDlgItemAs<QCheckBox>(d, CFindDlg::kIdDate)->click();
    const bool betweenFirst = GetDlgItemAs<QRadioButton>(d, CFindDlg::kIdBetween)->isChecked();
    GetDlgItemAs<QRadioButton>(d, CFindDlg::kIdMonths)->click();
    auto* months = GetDlgItemAs<QLineEdit>(d, CFindDlg::kIdMonthsEdit);
    auto* spin = GetDlgItemAs<CUpDown>(d, CFindDlg::kIdMonthsSpin);
    spin->DownButton()->click();
    const bool down = months->text() == QStringLiteral("999");
    spin->UpButton()->click();
    numbers = cut && refilled && betweenFirst && down && months->text() == QStringLiteral("1");
    GetDlgItemAs<QCheckBox>(d, CFindDlg::kIdDate)->click();  // no date condition
    search->click();
  });
  Button(CRecoveryConsole::kIdFind)->click();
  EXPECT_TRUE(opening);
  EXPECT_TRUE(rules);
  EXPECT_TRUE(advanced);
  EXPECT_TRUE(numbers);
  EXPECT_EQ(SelectedPath(), bigPngs[0]);
  EXPECT_EQ(console->SearchBox()->text(), QStringLiteral("*.png"));
  // F3 continues with the dialog's criteria after it closed.
  Key();
  EXPECT_EQ(SelectedPath(), bigPngs[1]);

  // Cancel on the dialog of a view with an active search runs that search
  // again from the top; F3 then continues it.
  test::WhenModal([](QDialog* dlg) { dlg->reject(); });
  Button(CRecoveryConsole::kIdFind)->click();
  std::vector<std::string> pngs;
  for (const auto& row : truth)
    if (row.type == "file" && HasExtension(row.path, {"png"})) pngs.push_back(row.path);
  EXPECT_EQ(SelectedPath(), pngs[0]);
  Key();
  EXPECT_EQ(SelectedPath(), pngs[1]);
}

TEST_F(FindMaskWindow, FindWorksInTheFileTypeListAndTheFilteredTree) {
  console->Tab()->setCurrentIndex(kViewByType);
  test::Settle();
  TypeAndEnter(console->SearchBox(), QStringLiteral("*.txt"));
  CFileFolderTree* types = console->Tree(kViewByType);
  ASSERT_NE(types->CurrentFolder(), kNoFoundItem);
  EXPECT_EQ(console->Store().NameOf(types->CurrentFolder()), u"txt");
  EXPECT_TRUE(HasExtension(SelectedPath(), {"txt"}));

  console->Tab()->setCurrentIndex(kViewFiltered);
  test::Settle();
  TypeAndEnter(console->MaskBox(), QStringLiteral("*.dat"));
  ASSERT_TRUE(WaitForMask());
  // In the filtered tree only what passed is found: a plain "_" is in many
  // names, but only the .dat files are there to find.
  std::vector<std::string> dats;
  for (const auto& row : truth)
    if (row.type == "file" && HasExtension(row.path, {"dat"})) dats.push_back(row.path);
  TypeAndEnter(console->SearchBox(), QStringLiteral("_"));
  std::vector<std::string> walked{SelectedPath()};
  for (std::size_t i = 1; i <= dats.size(); ++i) {
    Key();
    walked.push_back(SelectedPath());
  }
  walked.pop_back();  // F3 past the last stays on it
  EXPECT_EQ(walked, dats);
  // Each view keeps its own search: the File Type List's still shows in its box.
  console->Tab()->setCurrentIndex(kViewByType);
  test::Settle();
  EXPECT_EQ(console->SearchBox()->text(), QStringLiteral("*.txt"));
}

TEST(FindMaskHelp, BothDialogsHaveTheirHelpPages) {
  for (int context : {CFindDlg::kHelpContext, CFileMask::kHelpContext}) {
    const auto page = HelpPagePath(context);
    EXPECT_TRUE(std::filesystem::is_regular_file(page)) << context;
    const std::string text = test::ReadWholeFile(page);
    EXPECT_NE(text.find("<h1>"), std::string::npos);
  }
}

}  // namespace
}  // namespace corvan
