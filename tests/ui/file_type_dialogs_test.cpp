// The choice of Raw Recovery's file types over the installed signature file:
// the selection dialog, its list with sizes edited in place, the header
// dialog and the header editor, and what the options panel does with them.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/CORVANApp.h"
#include "app/ui/CORVANDlg.h"
#include "app/ui/MainWindows.h"
#include "console/ui/CRecoveryConsole.h"
#include "console/ui/ConsoleTestSupport.h"
#include "core/RecoveryMode.h"
#include "scan/ui/CAddHeader.h"
#include "scan/ui/CAppendHeader.h"
#include "scan/ui/CEditList.h"
#include "scan/ui/CFileType.h"
#include "scan/ui/CSliderOptionDlg.h"
#include "save/CThreadForSavingFiles.h"
#include "sources/FileSectorSource.h"
#include "save/FoundItemStoreWalk.h"
#include "save/SaveDecisions.h"
#include "console/FoundItemStore.h"
#include "support/HeadlessScan.h"
#include "support/TestSupport.h"
#include "ui/CEditItem.h"
#include "ui/CXColorListCtrl.h"
#include "ui/DialogLayout.h"
#include "ui/QtText.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;

// The signature file as installed, and the ids of the types Raw Recovery
// searches for until the user chooses others.
std::vector<FileTypeRecord> InstalledTypes() { return ReadFileTypeRecords(App().m_strInstallPath / "HeaderFile.cfg"); }
constexpr std::uint16_t kDefaultIds[] = {14, 15, 16, 17, 18, 19, 48, 52, 66, 67, 73, 111, 113, 114, 121, 128, 132, 165};

QString Text(const QTableWidget* list, int row, int column) { return list->item(row, column)->text(); }

int RowNamed(const QTableWidget* list, const QString& name) {
  for (int r = 0; r < list->rowCount(); ++r)
    if (Text(list, r, 0) == name) return r;
  return -1;
}

// Whether the rows are in order of `column`: sizes by value, names without
// regard to case.
bool SortedBy(const QTableWidget* list, int column, bool ascending) {
  for (int r = 1; r < list->rowCount(); ++r) {
    const QString a = Text(list, r - 1, column), b = Text(list, r, column);
    const int c = column == 2 ? (a.toLongLong() < b.toLongLong() ? -1 : a.toLongLong() > b.toLongLong() ? 1 : 0)
                              : a.compare(b, Qt::CaseInsensitive);
    if (ascending ? c > 0 : c < 0) return false;
  }
  return true;
}

const FileTypeRecord* Named(const std::vector<FileTypeRecord>& list, std::u16string_view name) {
  const auto it = std::find_if(list.begin(), list.end(), [&](const auto& r) { return r.softwareName == name; });
  return it == list.end() ? nullptr : &*it;
}

class FileTypeDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    CORVANApp& app = App();
    Forget();
    app.GetProfile().WriteInt("Raw", "SetRaw", 1);
    app.m_pPrompt = &prompt;
    installed = InstalledTypes();
    ASSERT_GE(installed.size(), 2u);
    ASSERT_EQ(installed.front().softwareName, u"JPEG Image");
    total = static_cast<int>(installed.size());
    chosen = static_cast<int>(std::count_if(installed.begin(), installed.end(), [](auto& r) { return r.selected; }));
  }
  void TearDown() override {
    Forget();
    App().m_pPrompt = nullptr;
  }
  void Forget() {
    CORVANApp& app = App();
    std::error_code ec;
    fs::remove_all(app.HeaderFileToWrite(), ec);
    app.m_fileTypeList.clear();
    app.m_selectedTypeList.clear();
  }
  // What the user's signature file holds; empty when there is none.
  std::vector<FileTypeRecord> Stored() { return ReadFileTypeRecords(App().HeaderFileToWrite()); }
  // The types a newly started program reads and would search for.
  std::vector<FileTypeRecord> AfterRestart(bool selected) {
    CORVANApp fresh(home.path() / "settings.ini", App().m_strInstallPath);
    fresh.LoadUserHeaders();
    if (!selected) return fresh.m_fileTypeList;
    fresh.BuildSelectedTypeList();
    return fresh.m_selectedTypeList;
  }
  bool Asked(const char* text) {
    return std::find(prompt.asked.begin(), prompt.asked.end(), std::string(text)) != prompt.asked.end();
  }
  static QPoint CheckBoxOf(CEditList* list, int row) {
    const QRect cell = list->visualRect(list->model()->index(row, 0));
    return QPoint(cell.left() + 9, cell.center().y());
  }

  test::TempDir home;
  test::AnsweringPrompt prompt;
  std::vector<FileTypeRecord> installed;
  int total = 0, chosen = 0;  // types installed, and those chosen among them
};

TEST_F(FileTypeDialogs, SelectionDialogShowsEveryTypeAndFiltersByGroup) {
  CFileType dlg;
  dlg.show();
  test::Settle();
  CEditList* list = dlg.List();
  EXPECT_EQ(GetDlgItemAs<QLabel>(&dlg, CFileType::kIdTitle)->text(), QStringLiteral("File List"));
  EXPECT_EQ(GetDlgItemAs<QLabel>(&dlg, CFileType::kIdFilterLabel)->text(), QStringLiteral("Filter by file group"));
  EXPECT_TRUE(GetDlgItem(&dlg, CFileType::kIdSettingsHint)->isVisible());
  EXPECT_FALSE(GetDlgItem(&dlg, CFileType::kIdAppendHint)->isVisible());
  EXPECT_FALSE(GetDlgItem(&dlg, CFileType::kIdAppendHeader)->isVisible());
  auto* combo = GetDlgItemAs<QComboBox>(&dlg, CFileType::kIdGroupCombo);
  ASSERT_EQ(combo->count(), 9);
  EXPECT_EQ(combo->itemText(0), QStringLiteral("All"));
  EXPECT_EQ(combo->itemText(1), QStringLiteral("Graphics, Pictures & Raster Images"));
  EXPECT_EQ(combo->itemText(8), QStringLiteral("Miscellaneous"));
  EXPECT_EQ(list->horizontalHeaderItem(2)->text(), QStringLiteral("Size(KB)"));

  // The file's types, the last at the top; the default set checked.
  ASSERT_EQ(list->rowCount(), total);
  EXPECT_EQ(dlg.RowCount(), total);
  EXPECT_EQ(dlg.CheckedCount(), chosen);
  EXPECT_EQ(chosen, static_cast<int>(std::size(kDefaultIds)));
  EXPECT_EQ(Text(list, 0, 0), ToQString(installed.back().softwareName));
  EXPECT_EQ(Text(list, total - 1, 0), QStringLiteral("JPEG Image"));
  EXPECT_EQ(Text(list, total - 1, 1), QStringLiteral("jpg"));
  EXPECT_EQ(Text(list, total - 1, 2), QStringLiteral("32768"));  // 32 MB in KB
  EXPECT_EQ(list->RowState(total - 1), CEditList::kStateChecked);
  EXPECT_EQ(list->RowState(RowNamed(list, QStringLiteral("7z Archive"))), CEditList::kStateUnchecked);
  EXPECT_TRUE(GetDlgItem(&dlg, CFileType::kIdSelectAll)->isEnabled());
  EXPECT_TRUE(GetDlgItem(&dlg, CFileType::kIdUnselectAll)->isEnabled());

  // "Archive" lists its types in file order; "All" lists every type so.
  combo->setCurrentIndex(2);
  QStringList archive;
  for (int r = 0; r < list->rowCount(); ++r) archive << Text(list, r, 0);
  QStringList archiveTypes;
  for (const auto& r : installed)
    if (r.group == 2) archiveTypes << ToQString(r.softwareName);
  EXPECT_GE(archiveTypes.size(), 2);
  EXPECT_EQ(archive, archiveTypes);
  EXPECT_EQ(dlg.RowCount(), total);
  EXPECT_EQ(dlg.CheckedCount(), chosen);
  combo->setCurrentIndex(0);
  ASSERT_EQ(list->rowCount(), total);
  EXPECT_EQ(Text(list, 0, 0), QStringLiteral("JPEG Image"));

  // Escape does not close the choice.
  test::SendKey(list, Qt::Key_Escape);
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(dlg.result(), 0);
}

TEST_F(FileTypeDialogs, TheChoiceBuildsTheScanListAndIsStored) {
  CORVANApp& app = App();
  {
    CFileType dlg;
    dlg.show();
    test::Settle();
    CEditList* list = dlg.List();
    GetDlgItemAs<QComboBox>(&dlg, CFileType::kIdGroupCombo)->setCurrentIndex(2);
    // A click on the check box of "7z Archive" checks it; one on its name
    // does not.
    const int sevenZip = RowNamed(list, QStringLiteral("7z Archive"));
    const QRect name = list->visualRect(list->model()->index(sevenZip, 0));
    test::Click(list->viewport(), QPoint(name.right() - 10, name.center().y()));
    EXPECT_EQ(list->RowState(sevenZip), CEditList::kStateUnchecked);
    test::Click(list->viewport(), CheckBoxOf(list, sevenZip));
    EXPECT_EQ(list->RowState(sevenZip), CEditList::kStateChecked);
    EXPECT_EQ(dlg.CheckedCount(), chosen + 1);
    // Space on the selected row drops "RAR Archive".
    const int rar = RowNamed(list, QStringLiteral("RAR Archive"));
    list->selectRow(rar);
    test::SendKey(list, Qt::Key_Space, QStringLiteral(" "));
    EXPECT_EQ(list->RowState(rar), CEditList::kStateUnchecked);
    EXPECT_EQ(dlg.CheckedCount(), chosen);
    GetDlgItemAs<QPushButton>(&dlg, kIdOk)->click();
    EXPECT_EQ(dlg.result(), kIdOk);
  }
  std::vector<std::u16string> chosen;
  for (const auto& r : app.m_selectedTypeList) chosen.push_back(r.softwareName);
  EXPECT_EQ(chosen.size(), 18u);
  EXPECT_NE(std::find(chosen.begin(), chosen.end(), u"7z Archive"), chosen.end());
  EXPECT_EQ(std::find(chosen.begin(), chosen.end(), u"RAR Archive"), chosen.end());
  // The file keeps every type with the new choice, and a restart searches
  // for what was chosen.
  const std::vector<FileTypeRecord> stored = Stored();
  ASSERT_EQ(stored.size(), installed.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    FileTypeRecord expected = installed[i];
    if (expected.softwareName == u"7z Archive") expected.selected = 1;
    if (expected.softwareName == u"RAR Archive") expected.selected = 0;
    EXPECT_EQ(stored[i], expected) << i;
  }
  EXPECT_EQ(AfterRestart(true), app.m_selectedTypeList);
}

TEST_F(FileTypeDialogs, SelectAllReachesEveryGroupAndAnEmptyChoiceFallsBackOnlyWhenAsked) {
  CORVANApp& app = App();
  // "SetRaw" 0 asks for the default set when nothing is chosen.
  app.GetProfile().WriteInt("Raw", "SetRaw", 0);
  {
    CFileType dlg;
    dlg.show();
    auto* selectAll = GetDlgItemAs<QPushButton>(&dlg, CFileType::kIdSelectAll);
    auto* unselectAll = GetDlgItemAs<QPushButton>(&dlg, CFileType::kIdUnselectAll);
    GetDlgItemAs<QComboBox>(&dlg, CFileType::kIdGroupCombo)->setCurrentIndex(4);  // Mails
    selectAll->click();
    EXPECT_TRUE(std::all_of(app.m_fileTypeList.begin(), app.m_fileTypeList.end(), [](auto& r) { return r.selected; }));
    EXPECT_FALSE(selectAll->isEnabled());
    EXPECT_TRUE(unselectAll->isEnabled());
    // Unchecking one row and checking it again: Select All goes off again.
    dlg.ToggleRow(0);
    EXPECT_TRUE(selectAll->isEnabled());
    dlg.ToggleRow(0);
    EXPECT_FALSE(selectAll->isEnabled());
    unselectAll->click();
    EXPECT_TRUE(std::none_of(app.m_fileTypeList.begin(), app.m_fileTypeList.end(), [](auto& r) { return r.selected; }));
    EXPECT_FALSE(unselectAll->isEnabled());
    dlg.ToggleRow(0);
    EXPECT_TRUE(unselectAll->isEnabled());
    dlg.ToggleRow(0);
    EXPECT_FALSE(unselectAll->isEnabled());
    dlg.OnOK();
  }
  std::vector<std::uint16_t> ids;
  for (const auto& r : app.m_selectedTypeList) ids.push_back(r.typeId);
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, std::vector<std::uint16_t>(std::begin(kDefaultIds), std::end(kDefaultIds)));
  // The file still holds every type, none of them chosen.
  const std::vector<FileTypeRecord> stored = Stored();
  EXPECT_EQ(stored.size(), installed.size());
  EXPECT_TRUE(std::none_of(stored.begin(), stored.end(), [](auto& r) { return r.selected; }));

  // At its default "SetRaw" leaves nothing to search for.
  app.GetProfile().WriteInt("Raw", "SetRaw", 1);
  {
    CFileType dlg;
    EXPECT_EQ(dlg.CheckedCount(), 0);
    dlg.OnOK();
  }
  EXPECT_TRUE(app.m_selectedTypeList.empty());
  EXPECT_TRUE(AfterRestart(true).empty());
}

TEST_F(FileTypeDialogs, SizesAreEditedInPlaceAndChecked) {
  CORVANApp& app = App();
  CFileType dlg;
  dlg.show();
  test::Settle();
  CEditList* list = dlg.List();
  const int jpeg = RowNamed(list, QStringLiteral("JPEG Image"));
  list->scrollToItem(list->item(jpeg, 0));
  const QRect size = list->visualRect(list->model()->index(jpeg, 2));
  const QRect name = list->visualRect(list->model()->index(jpeg, 0));
  EXPECT_EQ(list->ToolTipTextAt(size.center()), QStringLiteral("Click here to change the size of file type"));
  EXPECT_TRUE(list->ToolTipTextAt(name.center()).isEmpty());
  const auto edit = [&](const QString& typed, int key) {
    test::Click(list->viewport(), size.center());
    CEditItem* box = list->ActiveEditor();
    EXPECT_TRUE(box);
    if (!box) return;
    EXPECT_EQ(DlgCtrlId(box), CEditItem::kId);
    EXPECT_FALSE(GetDlgItem(&dlg, CFileType::kIdEdit)->isEnabled());
    box->selectAll();
    QTest::keyClicks(box, typed);
    test::SendKey(box, key);
  };
  const FileTypeRecord* record = Named(app.m_fileTypeList, u"JPEG Image");
  edit(QStringLiteral("0"), Qt::Key_Return);
  EXPECT_TRUE(Asked("Invalid size. Re-enter value"));
  // 4 GB in KB does not fit the record's size.
  prompt.asked.clear();
  edit(QStringLiteral("4194304"), Qt::Key_Return);
  EXPECT_TRUE(Asked("Invalid size. Re-enter value"));
  edit(QStringLiteral("64"), Qt::Key_Escape);
  EXPECT_EQ(record->maxSize, 32u * 1048576);
  EXPECT_EQ(Text(list, jpeg, 2), QStringLiteral("32768"));
  edit(QStringLiteral("   "), Qt::Key_Return);  // nothing but blanks: the old text stays
  EXPECT_EQ(Text(list, jpeg, 2), QStringLiteral("32768"));
  EXPECT_EQ(record->maxSize, 32u * 1048576);
  edit(QStringLiteral("64"), Qt::Key_Return);
  EXPECT_EQ(Text(list, jpeg, 2), QStringLiteral("64"));
  EXPECT_EQ(record->maxSize, 65536u);
  EXPECT_TRUE(Stored().empty());  // kept in memory until OK

  // Heading clicks: the size column descending, then ascending; another
  // column starts descending again.
  QHeaderView* header = list->horizontalHeader();
  const auto clickHeading = [&](int column) {
    test::Click(header->viewport(), QPoint(header->sectionViewportPosition(column) + 20, header->height() / 2));
  };
  clickHeading(2);
  EXPECT_TRUE(SortedBy(list, 2, false));
  clickHeading(2);
  EXPECT_TRUE(SortedBy(list, 2, true));
  clickHeading(0);
  EXPECT_TRUE(SortedBy(list, 0, false));
  EXPECT_FALSE(SortedBy(list, 0, true));

  dlg.OnOK();
  const std::vector<FileTypeRecord> restarted = AfterRestart(false);
  const FileTypeRecord* stored = Named(restarted, u"JPEG Image");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->maxSize, 65536u);
}

// ---- the header editor ----

TEST(HeaderText, AcceptedFormsAndTheirValues) {
  // One space may end the text; eight bytes is the longest.
  EXPECT_EQ(CheckHeaderText(QStringLiteral("4d 5A ")), HeaderTextFault::None);
  EXPECT_EQ(CheckHeaderText(QStringLiteral("01 ff 0c d1 f4 00 03 05")), HeaderTextFault::None);
  const ParsedHeader h = ParseHeaderText(QStringLiteral("4d 5A "));
  EXPECT_EQ(h.length, 2);
  EXPECT_EQ(h.bytes, (std::array<std::uint8_t, 8>{0x4D, 0x5A, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(ParseHeaderText(QStringLiteral("01 ff 0c d1 f4 00 03 05")).length, 8);
  EXPECT_EQ(MaxSizeFromText(QStringLiteral("2"), false), 2097152u);
  EXPECT_EQ(MaxSizeFromText(QStringLiteral("2"), true), 2048u);
  EXPECT_EQ(MaxSizeFromText(QStringLiteral("4095"), false), 4095u * 1048576);
  EXPECT_FALSE(MaxSizeFromText(QStringLiteral("99999999999999999999"), true));
}

void Fill(CAddHeader& dlg, const char* name, const char* extension, const char* size, int group, const char* header,
          const char* offset) {
  dlg.NameBox()->setText(QString::fromLatin1(name));
  dlg.ExtensionBox()->setText(QString::fromLatin1(extension));
  dlg.SizeBox()->setText(QString::fromLatin1(size));
  dlg.GroupBox()->setCurrentIndex(group);
  dlg.HeaderBox()->setText(QString::fromLatin1(header));
  dlg.OffsetBox()->setText(QString::fromLatin1(offset));
}

TEST_F(FileTypeDialogs, AnAddedTypeIsListedChosenStoredAndReadBackAfterARestart) {
  CORVANApp& app = App();
  CAppendHeader headers;
  ASSERT_EQ(headers.List()->rowCount(), total);
  test::WhenModal([](QDialog* d) {
    auto* editor = qobject_cast<CAddHeader*>(d);
    ASSERT_TRUE(editor);
    EXPECT_FALSE(GetDlgItem(editor, kIdOk)->isEnabled());
    Fill(*editor, "Corvan Sample", "csp", "3", 2, "c0 ff ee 00 de ad be ef", "16");
    EXPECT_TRUE(GetDlgItem(editor, kIdOk)->isEnabled());
    GetDlgItemAs<QPushButton>(editor, kIdOk)->click();
  });
  GetDlgItemAs<QPushButton>(&headers, CAppendHeader::kIdAdd)->click();

  EXPECT_EQ(Text(headers.List(), 0, 0), QStringLiteral("Corvan Sample"));
  EXPECT_EQ(Text(headers.List(), 0, 2), QStringLiteral("3072"));
  ASSERT_EQ(app.m_fileTypeList.size(), installed.size() + 1);
  // Not chosen for the search until the user ticks it; no preset, no
  // analyser.
  FileTypeRecord added;
  added.softwareName = u"Corvan Sample";
  added.extension = u"csp";
  added.headerOffset = 16;
  added.headerLength = 8;
  added.header = {0xC0, 0xFF, 0xEE, 0x00, 0xDE, 0xAD, 0xBE, 0xEF};
  added.selected = 0;
  added.maxSize = 3u * 1048576;
  added.group = 2;
  EXPECT_EQ(app.m_fileTypeList.back(), added);
  // The user's file is the installed one and the new type after it.
  std::vector<FileTypeRecord> expected = installed;
  expected.push_back(added);
  EXPECT_EQ(Stored(), expected);
  EXPECT_EQ(AfterRestart(false), expected);
  EXPECT_FALSE(Named(AfterRestart(true), u"Corvan Sample"));

  // The selection dialog lists it unchecked, under its group; ticked there,
  // it is searched for from then on.
  CFileType choice;
  EXPECT_EQ(Text(choice.List(), 0, 0), QStringLiteral("Corvan Sample"));
  EXPECT_EQ(choice.List()->RowState(0), CEditList::kStateUnchecked);
  GetDlgItemAs<QComboBox>(&choice, CFileType::kIdGroupCombo)->setCurrentIndex(2);
  const int last = choice.List()->rowCount() - 1;
  EXPECT_EQ(Text(choice.List(), last, 0), QStringLiteral("Corvan Sample"));
  choice.ToggleRow(last);
  choice.OnOK();
  EXPECT_TRUE(Named(AfterRestart(true), u"Corvan Sample"));
}

// Adds the sample type in the header dialog and ticks it in the selection
// dialog, as the user does before a search for it.
void AddAndChooseSampleType() {
  {
    CAppendHeader headers;
    test::WhenModal([](QDialog* d) {
      auto* editor = qobject_cast<CAddHeader*>(d);
      ASSERT_TRUE(editor);
      Fill(*editor, "Corvan Sample", "csp", "3", 2, "c0 ff ee 00 de ad be ef", "16");
      GetDlgItemAs<QPushButton>(editor, kIdOk)->click();
    });
    GetDlgItemAs<QPushButton>(&headers, CAppendHeader::kIdAdd)->click();
  }
  CFileType choice;
  ASSERT_EQ(Text(choice.List(), 0, 0), QStringLiteral("Corvan Sample"));
  choice.ToggleRow(0);
  choice.OnOK();
}

// A type the user adds is searched for by Raw Recovery after a restart: two
// deleted files of it on a FAT16 volume made by mkfs.fat and mtools are
// listed, and the first, which the second follows in the next cluster, is
// saved byte for byte.
TEST_F(FileTypeDialogs, AnAddedTypeIsFoundByRawRecoveryAndSavedWhole) {
  for (const char* tool : {"/sbin/mkfs.fat", "/usr/bin/mcopy", "/usr/bin/mdel"})
    if (!fs::exists(tool)) GTEST_SKIP() << tool << " missing: run scripts/setup-deps";
  AddAndChooseSampleType();
  const std::vector<FileTypeRecord> searched = AfterRestart(true);
  ASSERT_TRUE(Named(searched, u"Corvan Sample"));

  // Two files of the new type: the signature 16 bytes in, the rest bytes
  // that begin no known type.
  auto sample = [](std::size_t size, std::uint8_t seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) % 251 + 1);
    const std::uint8_t magic[] = {0xC0, 0xFF, 0xEE, 0x00, 0xDE, 0xAD, 0xBE, 0xEF};
    std::memcpy(bytes.data() + 16, magic, sizeof magic);
    return bytes;
  };
  const std::string first = sample(3 * 2048, 7), second = sample(3000, 11);
  const fs::path volume = home.path() / "fat16.img";
  const fs::path a = home.path() / "a.bin", b = home.path() / "b.bin";
  std::ofstream(a, std::ios::binary) << first;
  std::ofstream(b, std::ios::binary) << second;
  const std::string img = "'" + volume.string() + "'";
  ASSERT_EQ(std::system(("/sbin/mkfs.fat -C -F 16 -s 4 -S 512 " + img + " 16384 >/dev/null").c_str()), 0);
  // mtools gives the files the first free clusters in order: 2-4 and 5-6.
  ASSERT_EQ(std::system(("MTOOLS_SKIP_CHECK=1 mcopy -i " + img + " '" + a.string() + "' ::A.BIN && MTOOLS_SKIP_CHECK=1 mcopy -i " +
                         img + " '" + b.string() + "' ::B.BIN && MTOOLS_SKIP_CHECK=1 mdel -i " + img + " ::A.BIN ::B.BIN")
                            .c_str()),
            0);

  auto disk = std::make_shared<FileSectorSource>(volume);
  ASSERT_TRUE(disk->IsOpen());
  SourceRecord source;
  source.kind = kSourceVolume;
  source.index = 1;
  source.partition = std::make_unique<PartitionRecord>();
  source.partition->sectorCount = disk->SectorCount();
  source.partition->endSector = disk->SectorCount() - 1;
  source.partition->diskNumber = kNoDiskNumber;
  source.partition->fileSystemKind = kFsFat16;
  source.partition->fileSystemText = u"FAT";
  test::VolumeScan scan;
  scan.host.SelectedTypeList() = searched;
  scan.Run(source, disk, kModeRaw);
  ASSERT_TRUE(scan.problem.empty()) << scan.problem;
  FoundItemStore& store = scan.store;

  std::vector<std::u16string> paths;
  for (FoundItemHandle h = 1; h < store.Count(); ++h)
    if (!store.Item(h).record.IsFolder()) paths.push_back(store.PathOf(h));
  EXPECT_EQ(paths, (std::vector<std::u16string>{u"csp/2.csp", u"csp/5.csp"}));

  const fs::path out = home.path() / "saved";
  FoundItemStoreWalk walk(store);
  UnattendedSaveDecisions decisions;
  ASSERT_EQ(scan.session->Kind(), EngineKind::Fat);
  SaveJob job(scan.host);
  job.engine = scan.Engine();
  job.volumeKind = kSaveVolumeFat;
  job.request.m_szDest = out;
  job.request.m_nSelectMode = 1;
  job.request.m_nWhichFiles = 1;
  job.request.m_nFileCount = static_cast<std::uint32_t>(paths.size());
  CThreadForSavingFiles saver(std::move(job), walk, decisions);
  saver.Run();
  EXPECT_EQ(saver.Result().recovered, paths.size());
  std::ifstream in(out / "csp" / "2.csp", std::ios::binary);
  const std::string saved{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_TRUE(saved == first) << "saved " << saved.size() << " bytes";
}

TEST_F(FileTypeDialogs, BadInputIsNamedAndChangesNothing) {
  CORVANApp& app = App();
  app.LoadUserHeaders();
  const struct {
    const char *name, *extension, *size, *header, *offset, *message;
  } cases[] = {
      {"Sample", "", "3", "c0 ff", "16", "Invalid software extension. Re-enter extension."},
      {"Sample", "   ", "3", "c0 ff", "16", "Invalid software extension. Re-enter extension."},
      {"   ", "csp", "3", "c0 ff", "16", "Invalid software name. Re-enter name."},
      {"Sample", "csp", "3", "zz ff", "16", "Invalid header format. Follow instructions given on top of the dialog box."},
      {"Sample", "csp", "3", "c0ff", "16", "Invalid header format. Follow instructions given on top of the dialog box."},
      {"Sample", "csp", "3", "", "16", "Invalid header length. Follow instructions given on top of the dialog box."},
      {"Sample", "csp", "3", "01 02 03 04 05 06 07 08 09", "16",
       "Invalid header length. Follow instructions given on top of the dialog box."},
      {"Sample", "csp", "3", "c0 f", "16", "Invalid header length. Follow instructions given on top of the dialog box."},
      {"Sample", "csp", "3", "c0 ff", "512", "Invalid offset, re-enter value"},
      {"Sample", "csp", "3", "c0 ff", "0512", "Invalid offset, re-enter value"},
      // Within 0..511, but the signature would run past the first sector.
      {"Sample", "csp", "3", "c0 ff", "511", "Invalid offset, the header must end within the first 512 bytes. Re-enter value"},
      {"Sample", "csp", "3", "01 02 03 04 05 06 07 08", "505",
       "Invalid offset, the header must end within the first 512 bytes. Re-enter value"},
      {"Sample", "csp", "0", "c0 ff", "16", "Invalid size. Re-enter value"},
      {"Sample", "csp", "12a", "c0 ff", "16", "Invalid size. Re-enter value"},
      {"Sample", "csp", "4096", "c0 ff", "16", "Invalid size. Re-enter value"},
  };
  for (const auto& c : cases) {
    prompt.asked.clear();
    CAddHeader dlg(nullptr, nullptr);
    Fill(dlg, c.name, c.extension, c.size, 2, c.header, c.offset);
    dlg.OnOK();
    EXPECT_EQ(prompt.asked, std::vector<std::string>{c.message}) << c.message;
    EXPECT_EQ(dlg.result(), 0) << c.message;
    EXPECT_TRUE(Stored().empty()) << c.message;
    EXPECT_EQ(app.m_fileTypeList.size(), installed.size()) << c.message;
  }
  // A blank name is cleared and OK waits for a new one.
  CAddHeader dlg(nullptr, nullptr);
  Fill(dlg, "   ", "csp", "3", 2, "c0 ff", "16");
  dlg.OnOK();
  EXPECT_TRUE(dlg.NameBox()->text().isEmpty());
  EXPECT_FALSE(GetDlgItem(&dlg, kIdOk)->isEnabled());

  // The unit arrows: 3 MB is 3072 KB and back; 1000 KB is 0 MB, which OK
  // refuses.
  dlg.SizeBox()->setText(QStringLiteral("3"));
  dlg.OnUnitToggle();
  EXPECT_EQ(dlg.SizeBox()->text(), QStringLiteral("3072"));
  EXPECT_EQ(dlg.UnitBox()->text(), QStringLiteral("KB"));
  dlg.OnUnitToggle();
  EXPECT_EQ(dlg.SizeBox()->text(), QStringLiteral("3"));
  dlg.OnUnitToggle();
  dlg.SizeBox()->setText(QStringLiteral("1000"));
  dlg.OnUnitToggle();
  EXPECT_EQ(dlg.SizeBox()->text(), QStringLiteral("0"));

  // A file that cannot be written: said, and the list stays as it was.
  fs::create_directories(app.HeaderFileToWrite());
  prompt.asked.clear();
  CAddHeader blocked(nullptr, nullptr);
  Fill(blocked, "Sample", "csp", "3", 2, "c0 ff", "16");
  blocked.OnOK();
  EXPECT_EQ(prompt.asked, std::vector<std::string>{"Unable to append header file"});
  EXPECT_EQ(blocked.result(), kIdOk);
  EXPECT_EQ(app.m_fileTypeList.size(), installed.size());
}

TEST_F(FileTypeDialogs, HeaderDialogEditsAndRemovesUserTypesAndOnlyResizesPresets) {
  CORVANApp& app = App();
  FileTypeRecord user;
  user.softwareName = u"Corvan Sample";
  user.extension = u"csp";
  user.headerLength = 2;
  user.header = {0xC0, 0xFF, 0, 0, 0, 0, 0, 0};
  user.maxSize = 1048576;
  user.group = 8;
  std::vector<FileTypeRecord> file = installed;
  file.push_back(user);
  ASSERT_TRUE(WriteFileTypeRecords(app.HeaderFileToWrite(), file));

  CAppendHeader headers;
  headers.show();
  CXColorListCtrl* list = headers.List();
  auto* edit = GetDlgItemAs<QPushButton>(&headers, CAppendHeader::kIdEdit);
  auto* remove = GetDlgItemAs<QPushButton>(&headers, CAppendHeader::kIdRemove);
  EXPECT_FALSE(edit->isEnabled());
  list->selectRow(RowNamed(list, QStringLiteral("JPEG Image")));
  EXPECT_TRUE(edit->isEnabled());
  EXPECT_FALSE(remove->isEnabled());
  headers.OnRemove();  // a preset stays
  EXPECT_EQ(Stored().size(), installed.size() + 1);
  list->selectRow(RowNamed(list, QStringLiteral("Corvan Sample")));
  EXPECT_TRUE(remove->isEnabled());

  // The user's type: every box open; a new name, signature and a size in KB.
  test::WhenModal([this](QDialog* d) {
    auto* editor = qobject_cast<CAddHeader*>(d);
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->HeaderBox()->text(), QStringLiteral("c0 ff"));
    EXPECT_EQ(editor->SizeBox()->text(), QStringLiteral("1"));
    EXPECT_EQ(editor->UnitBox()->text(), QStringLiteral("MB"));
    EXPECT_TRUE(editor->NameBox()->isEnabled());
    editor->NameBox()->setText(QStringLiteral("Corvan Sample 2"));
    editor->HeaderBox()->setText(QStringLiteral("ca fe"));
    // Two bytes at 511 would run past the first sector: refused, the dialog
    // stays open; at 510 they end it.
    editor->OffsetBox()->setText(QStringLiteral("511"));
    prompt.asked.clear();
    editor->OnOK();
    EXPECT_EQ(prompt.asked, std::vector<std::string>{
                                "Invalid offset, the header must end within the first 512 bytes. Re-enter value"});
    EXPECT_EQ(editor->result(), 0);
    editor->OffsetBox()->setText(QStringLiteral("510"));
    editor->OnUnitToggle();
    editor->SizeBox()->setText(QStringLiteral("1500"));
    editor->OnOK();
  });
  edit->click();
  const std::vector<FileTypeRecord> restarted = AfterRestart(false);
  const FileTypeRecord* changed = Named(restarted, u"Corvan Sample 2");
  ASSERT_TRUE(changed);
  EXPECT_EQ(changed->header, (std::array<std::uint8_t, 8>{0xCA, 0xFE, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(changed->headerOffset, 510u);
  EXPECT_EQ(changed->maxSize, 1500u * 1024);
  EXPECT_EQ(changed->sizeUnit, 1);
  EXPECT_EQ(changed->group, 8);

  // A preset: only its size may change.
  list->selectRow(RowNamed(list, QStringLiteral("JPEG Image")));
  test::WhenModal([](QDialog* d) {
    auto* editor = qobject_cast<CAddHeader*>(d);
    ASSERT_TRUE(editor);
    EXPECT_FALSE(editor->NameBox()->isEnabled());
    EXPECT_FALSE(editor->ExtensionBox()->isEnabled());
    EXPECT_FALSE(editor->HeaderBox()->isEnabled());
    EXPECT_FALSE(editor->OffsetBox()->isEnabled());
    EXPECT_FALSE(editor->GroupBox()->isEnabled());
    EXPECT_TRUE(editor->SizeBox()->isEnabled());
    EXPECT_EQ(editor->SizeBox()->text(), QStringLiteral("32"));
    editor->SizeBox()->setText(QStringLiteral("64"));
    editor->OnOK();
  });
  edit->click();
  FileTypeRecord jpeg = installed.front();
  jpeg.maxSize = 64u * 1048576;
  EXPECT_EQ(AfterRestart(false).front(), jpeg);

  // Removing the user's type writes the file without it.
  list->selectRow(RowNamed(list, QStringLiteral("Corvan Sample 2")));
  remove->click();
  EXPECT_EQ(Stored().size(), installed.size());
  EXPECT_FALSE(Named(Stored(), u"Corvan Sample 2"));
  EXPECT_EQ(RowNamed(list, QStringLiteral("Corvan Sample 2")), -1);
  EXPECT_FALSE(remove->isEnabled());

  // A file of user types only: its first type can be removed too.
  FileTypeRecord other = user;
  other.softwareName = u"Other";
  ASSERT_TRUE(WriteFileTypeRecords(app.HeaderFileToWrite(), {user, other}));
  headers.LoadHeaderList();
  list->selectRow(RowNamed(list, QStringLiteral("Corvan Sample")));
  headers.OnRemove();
  ASSERT_EQ(Stored().size(), 1u);
  EXPECT_EQ(Stored()[0].softwareName, u"Other");
}

// ---- the options panel ----

class RawOnThePanel : public FileTypeDialogs {
 protected:
  void SetUp() override {
    FileTypeDialogs::SetUp();
    App().m_bResumeMode = 0;
    App().m_nRecoveryMode = 0;
    SetProgramEndHandler([] {});
    ShowStartWindow();
    test::Settle();
    dlg = MainDlg();
    ASSERT_NE(dlg, nullptr);
    ASSERT_TRUE(test::SelectImageVolume(App(), test::CorpusDir() / "disks" / "mbr.vmdk", 0));
    const auto index = test::VolumeOfKind(App(), kFsFat32);
    ASSERT_TRUE(index);
    SelectSource(App(), *index);
    dlg->ShowOptionsPanel();
    panel = qobject_cast<CSliderOptionDlg*>(dlg->OptionsPanel());
    ASSERT_NE(panel, nullptr);
    panel->UpdateForSelectedMedia(0, 0, 0);
  }
  void TearDown() override {
    if (QWidget* w = CurrentMainWindow()) w->close();
    test::Settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SetProgramEndHandler(nullptr);
    FileTypeDialogs::TearDown();
  }
  CORVANDlg* dlg = nullptr;
  CSliderOptionDlg* panel = nullptr;
};

TEST_F(RawOnThePanel, RawWithoutAChosenTypeSaysSoAndTheFileTypeLinkLetsTheUserChoose) {
  CORVANApp& app = App();
  std::vector<FileTypeRecord> none = installed;
  for (auto& r : none) r.selected = 0;
  ASSERT_TRUE(WriteFileTypeRecords(app.HeaderFileToWrite(), none));
  QWidget* raw = GetDlgItem(panel, CSliderOptionDlg::kIdRaw);
  QWidget* fileType = GetDlgItem(panel, CSliderOptionDlg::kIdFileType);
  ASSERT_TRUE(raw->isVisible() && raw->isEnabled());
  ASSERT_TRUE(fileType->isVisible() && fileType->isEnabled());

  // "SetRaw" at its default and nothing chosen: no scan that finds nothing.
  const auto toldNoType = [this] {
    return std::count_if(prompt.asked.begin(), prompt.asked.end(),
                         [](const std::string& t) { return t.find("No file type is selected") != std::string::npos; });
  };
  panel->OnRawRecovery();
  test::Settle();
  EXPECT_EQ(toldNoType(), 1);
  EXPECT_TRUE(dlg->IsOptionsPanelOpen());
  EXPECT_EQ(qobject_cast<CRecoveryConsole*>(CurrentMainWindow()), nullptr);
  EXPECT_NE(app.m_nRecoveryMode, kModeRaw);

  // File Type: JPEG is chosen; while the choice is open Raw does nothing.
  bool chosen = false;
  test::WhenModal([this, &chosen](QDialog* d) {
    chosen = true;
    auto* choice = qobject_cast<CFileType*>(d);
    ASSERT_TRUE(choice);
    EXPECT_TRUE(panel->ModalOpen());
    panel->OnRawRecovery();
    EXPECT_EQ(choice->CheckedCount(), 0);
    choice->ToggleRow(RowNamed(choice->List(), QStringLiteral("JPEG Image")));
    choice->OnOK();
  });
  test::Release(fileType, QPoint(5, 5));
  ASSERT_TRUE(test::WaitFor([&] { return chosen && !panel->ModalOpen(); }, 10));
  ASSERT_EQ(app.m_selectedTypeList.size(), 1u);
  EXPECT_EQ(app.m_selectedTypeList[0].softwareName, u"JPEG Image");
  EXPECT_EQ(toldNoType(), 1);

  // Now Raw Recovery runs, over the chosen type.
  panel->OnRawRecovery();
  ASSERT_TRUE(test::WaitFor([] { return qobject_cast<CRecoveryConsole*>(CurrentMainWindow()) != nullptr; }, 10));
  auto* console = qobject_cast<CRecoveryConsole*>(CurrentMainWindow());
  EXPECT_EQ(app.m_nRecoveryMode, kModeRaw);
  ASSERT_TRUE(test::WaitFor([console] { return console->ScanFinished(); }));
  ShowStartWindow();
  test::Settle();
}

}  // namespace
}  // namespace corvan
