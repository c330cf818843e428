// The settings dialog: the options it keeps in settings.ini and in the
// application object, the FAT copy it makes the open FAT volume link its
// files with, the choice of Raw Recovery's file types, and its place on the
// start screen.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "app/CORVANApp.h"
#include "app/ui/CORVANDlg.h"
#include "app/ui/CSettings.h"
#include "platform/Folders.h"
#include "app/ui/CTransLayerDlg.h"
#include "app/ui/CUpdateWizard.h"
#include "engines/fat/FatEngine.h"
#include "scan/ui/CAddHeader.h"
#include "scan/ui/CEditList.h"
#include "scan/ui/FileTypeChoice.h"
#include "sources/FatBootSector.h"
#include "sources/FileSectorSource.h"
#include "sources/SourceRecords.h"
#include "sources/Volume.h"
#include "support/FatTestVolume.h"
#include "support/RecordingSinks.h"
#include "support/TestSupport.h"
#include "ui/CEditItem.h"
#include "ui/CXColorTab.h"
#include "ui/DialogLayout.h"
#include "ui/QtText.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;

// The value of `key` in `[section]` of an ini text, as the file holds it;
// nothing when the key is not there.
std::optional<std::string> IniValue(const std::string& text, const std::string& section, const std::string& key) {
  std::istringstream in(text);
  std::string line, current;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      current = line.substr(1, line.size() - 2);
    } else if (current == section && line.rfind(key + "=", 0) == 0) {
      return line.substr(key.size() + 1);
    }
  }
  return std::nullopt;
}

std::string ProfileText() { return test::ReadWholeFile(App().GetProfile().File()); }

template <typename T>
T* Item(const QWidget* dlg, int id) {
  T* w = GetDlgItemAs<T>(dlg, id);
  EXPECT_NE(w, nullptr) << id;
  return w;
}

class SettingsDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    App().m_pPrompt = &prompt;
    Forget();
  }
  void TearDown() override {
    App().m_pScanSession->Release();
    App().m_bVolumeOpened = 0;
    App().m_bBusy = 0;
    App().m_pPrompt = nullptr;
    CSettings::FolderChooser() = nullptr;
    Forget();
  }
  static void Forget() {
    std::error_code ec;
    fs::remove_all(App().HeaderFileToWrite(), ec);
    App().m_fileTypeList.clear();
    App().m_selectedTypeList.clear();
  }
  test::TempDir home;
  test::AnsweringPrompt prompt;
};

TEST_F(SettingsDialog, OptionsGoToTheProfileAndTheApplicationAndComeBack) {
  CORVANApp& app = App();
  Profile& profile = app.GetProfile();
  profile.WriteInt("LOG", "SaveLog", 0);
  profile.WriteString("LOG", "LogPath", "");
  profile.WriteInt("Update", "CheckUpdate", 0);
  profile.WriteInt("Raw", "SetRaw", 1);
  const fs::path logs = home.path() / "logs";
  fs::create_directories(logs);
  {
    CSettings dlg;
    dlg.show();
    test::Settle();
    auto* saveLog = Item<QCheckBox>(&dlg, CSettings::kIdSaveLog);
    auto* path = Item<QLineEdit>(&dlg, CSettings::kIdLogPath);
    auto* browse = Item<QPushButton>(&dlg, CSettings::kIdBrowse);
    // No folder set: the one the logs are written to is shown, not the
    // program's nor the data folder above it.
    EXPECT_EQ(path->text().toStdString(), (UserDataFolder() / "Log").string());
    EXPECT_NE(path->text(), QCoreApplication::applicationDirPath());
    EXPECT_FALSE(saveLog->isChecked());
    EXPECT_FALSE(path->isEnabled());
    EXPECT_FALSE(browse->isEnabled());
    EXPECT_FALSE(Item<QCheckBox>(&dlg, CSettings::kIdCheckUpdate)->isChecked());
    EXPECT_TRUE(Item<QCheckBox>(&dlg, CSettings::kIdSetRaw)->isChecked());

    saveLog->click();
    EXPECT_TRUE(path->isEnabled());
    EXPECT_TRUE(browse->isEnabled());
    QString title;
    CSettings::FolderChooser() = [&](QWidget*, const QString& t) {
      title = t;
      return QString::fromStdString(logs.string());
    };
    browse->click();
    EXPECT_EQ(title, QStringLiteral("Select a folder to save log:"));
    EXPECT_EQ(path->text(), QString::fromStdString(logs.string()));
    Item<QCheckBox>(&dlg, CSettings::kIdCheckUpdate)->click();
    Item<QCheckBox>(&dlg, CSettings::kIdSetRaw)->click();
    Item<QPushButton>(&dlg, kIdOk)->click();
    EXPECT_EQ(dlg.result(), kIdOk);
  }
  const std::string ini = ProfileText();
  EXPECT_EQ(IniValue(ini, "LOG", "SaveLog"), "1");
  EXPECT_EQ(IniValue(ini, "LOG", "LogPath"), logs.string());
  EXPECT_EQ(IniValue(ini, "Update", "CheckUpdate"), "1");
  EXPECT_EQ(IniValue(ini, "Raw", "SetRaw"), "0");
  EXPECT_EQ(app.m_log.m_bSaveLog, 1u);
  EXPECT_EQ(app.m_bCheckUpdate, 1u);
  EXPECT_EQ(app.m_nSetRaw, 0u);
  // The log report now goes to the chosen folder.
  app.MakeLogFileName();
  app.AppendLog("settings test entry", false);
  app.FlushLog();
  ASSERT_TRUE(fs::is_directory(logs / "Log"));
  std::string written;
  for (const auto& e : fs::directory_iterator(logs / "Log")) written += test::ReadWholeFile(e.path());
  EXPECT_NE(written.find("settings test entry"), std::string::npos);

  // Opened again, the dialog shows what was kept; unchecking "Save log"
  // turns the folder off again.
  CSettings again;
  EXPECT_TRUE(Item<QCheckBox>(&again, CSettings::kIdSaveLog)->isChecked());
  EXPECT_EQ(Item<QLineEdit>(&again, CSettings::kIdLogPath)->text(), QString::fromStdString(logs.string()));
  EXPECT_TRUE(Item<QCheckBox>(&again, CSettings::kIdCheckUpdate)->isChecked());
  EXPECT_FALSE(Item<QCheckBox>(&again, CSettings::kIdSetRaw)->isChecked());
  Item<QCheckBox>(&again, CSettings::kIdSaveLog)->click();
  EXPECT_FALSE(Item<QLineEdit>(&again, CSettings::kIdLogPath)->isEnabled());
  EXPECT_FALSE(Item<QPushButton>(&again, CSettings::kIdBrowse)->isEnabled());
}

TEST_F(SettingsDialog, WithNoLogFolderSetOkKeepsTheLogsWhereTheyGo) {
  CORVANApp& app = App();
  Profile& profile = app.GetProfile();
  profile.WriteInt("LOG", "SaveLog", 0);
  profile.WriteString("LOG", "LogPath", "");
  QString shown;
  {
    CSettings dlg;
    dlg.show();
    test::Settle();
    Item<QCheckBox>(&dlg, CSettings::kIdSaveLog)->click();
    shown = Item<QLineEdit>(&dlg, CSettings::kIdLogPath)->text();
    Item<QPushButton>(&dlg, kIdOk)->click();
  }
  EXPECT_EQ(IniValue(ProfileText(), "LOG", "SaveLog"), "1");
  // The log is written in the folder the dialog showed.
  app.MakeLogFileName();
  app.AppendLog("default folder entry", false);
  app.FlushLog();
  const fs::path file = app.LogFilePath();
  ASSERT_TRUE(fs::exists(file)) << file;
  EXPECT_EQ(file.parent_path(), fs::path(shown.toStdString()));
  EXPECT_NE(test::ReadWholeFile(file).find("default folder entry"), std::string::npos);
  // Still none set: the program's folder is not stored in its place.
  EXPECT_EQ(IniValue(ProfileText(), "LOG", "LogPath").value_or(""), "");
  fs::remove(file);
  profile.WriteInt("LOG", "SaveLog", 0);
}

TEST_F(SettingsDialog, CancelAndEscapeWriteNothing) {
  CORVANApp& app = App();
  app.GetProfile().WriteInt("Raw", "SetRaw", 1);
  const std::string before = ProfileText();
  const std::uint32_t setRaw = app.m_nSetRaw;
  CSettings dlg;
  dlg.show();
  test::Settle();
  Item<QCheckBox>(&dlg, CSettings::kIdSaveLog)->click();
  Item<QCheckBox>(&dlg, CSettings::kIdCheckUpdate)->click();
  Item<QCheckBox>(&dlg, CSettings::kIdSetRaw)->click();
  Item<QLineEdit>(&dlg, CSettings::kIdLogPath)->setText(QString::fromStdString(home.path().string()));
  dlg.Choice().OnSelectAll();
  // Escape, wherever it is pressed, leaves the dialog open.
  test::SendKey(dlg.List(), Qt::Key_Escape);
  test::SendKey(&dlg, Qt::Key_Escape);
  EXPECT_TRUE(dlg.isVisible());
  EXPECT_EQ(dlg.result(), 0);
  Item<QPushButton>(&dlg, kIdCancel)->click();
  EXPECT_EQ(dlg.result(), kIdCancel);
  EXPECT_EQ(ProfileText(), before);
  EXPECT_EQ(app.m_nSetRaw, setRaw);
  EXPECT_FALSE(fs::exists(app.HeaderFileToWrite()));
}

TEST_F(SettingsDialog, TabsShowTheirOwnControls) {
  CSettings dlg;
  dlg.show();
  test::Settle();
  ASSERT_EQ(dlg.Tab()->count(), 2);
  EXPECT_EQ(dlg.Tab()->tabText(0), QStringLiteral(" General Settings "));
  EXPECT_EQ(dlg.Tab()->tabText(1), QStringLiteral(" Add File Types "));
  const int general[] = {CSettings::kIdSaveLog, CSettings::kIdLogPath, CSettings::kIdBrowse, CSettings::kIdCheckUpdate,
                         CSettings::kIdUpdateNow, CSettings::kIdSetRaw, CSettings::kIdLinkingMode};
  const int types[] = {CSettings::kIdGroupCombo, CSettings::kIdList, CSettings::kIdSelectAll, CSettings::kIdUnselectAll,
                       CSettings::kIdEdit, CSettings::kIdAppendHeader, CSettings::kIdAppendHint};
  for (int id : general) EXPECT_TRUE(GetDlgItem(&dlg, id)->isVisible()) << id;
  for (int id : types) EXPECT_FALSE(GetDlgItem(&dlg, id)->isVisible()) << id;
  dlg.Tab()->setCurrentIndex(1);
  for (int id : general) EXPECT_FALSE(GetDlgItem(&dlg, id)->isVisible()) << id;
  for (int id : types) EXPECT_TRUE(GetDlgItem(&dlg, id)->isVisible()) << id;
  dlg.Tab()->setCurrentIndex(0);
  EXPECT_TRUE(GetDlgItem(&dlg, CSettings::kIdSaveLog)->isVisible());
  EXPECT_FALSE(GetDlgItem(&dlg, CSettings::kIdList)->isVisible());
}

// ---- the FAT linking mode ----

// A FAT16 volume made by mkfs.fat holding one file written by mcopy, whose
// chain in the first FAT is then wiped (its entries zeroed) while the second
// FAT keeps it.
class LinkingMode : public SettingsDialog {
 protected:
  void SetUp() override {
    SettingsDialog::SetUp();
    for (const char* tool : {"/sbin/mkfs.fat", "/usr/bin/mcopy"})
      if (!fs::exists(tool)) GTEST_SKIP() << tool << " missing: run scripts/setup-deps";
    content.resize(40000);
    std::mt19937 random(1135);
    for (char& c : content) c = static_cast<char>(random());
    const fs::path file = home.path() / "a.bin";
    test::WriteWholeFile(file, content);
    image = home.path() / "fat16.img";
    const std::string img = "'" + image.string() + "'";
    ASSERT_EQ(std::system(("/sbin/mkfs.fat -C -F 16 -s 4 -S 512 " + img + " 16384 >/dev/null").c_str()), 0);
    ASSERT_EQ(std::system(("MTOOLS_SKIP_CHECK=1 mcopy -i " + img + " '" + file.string() + "' ::A.BIN").c_str()), 0);

    // The layout and the file's entry, by the FAT definition.
    bytes = test::ReadWholeFile(image);
    const auto u16 = [&](std::size_t at) { return std::uint32_t(std::uint8_t(bytes[at])) | std::uint32_t(std::uint8_t(bytes[at + 1])) << 8; };
    const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
    const std::size_t reserved = u16(14), fatSectors = u16(22), rootEntries = u16(17);
    fat1 = reserved * 512;
    fat2 = fat1 + fatSectors * 512;
    const std::size_t root = fat2 + fatSectors * 512;
    for (std::size_t e = 0; e < rootEntries; ++e) {
      const std::size_t at = root + e * 32;
      if (std::memcmp(bytes.data() + at, "A       BIN", 11) != 0) continue;
      item.location = u16(at + 26);
      item.size = u32(at + 28);
    }
    ASSERT_EQ(item.size, content.size());
    item.attribute = kItemFile;
    // The chain as the FAT holds it: 40000 bytes in 2048-byte clusters.
    for (std::uint32_t c = item.Location32(); c >= 2 && c < 0xFFF8; c = u16(fat1 + 2 * c)) chain.push_back(c);
    ASSERT_EQ(chain.size(), 20u);
    WipeChain(fat1);

    // The engine the program keeps for the open volume, made while a scan
    // dialog was open that has gone since.
    App().m_pScanProgressDlg = &closedScanDialog;
    auto disk = std::make_shared<FileSectorSource>(image);
    ASSERT_TRUE(disk->IsOpen());
    const SourceRecord source = fattest::VolumeSource(0, disk->SectorCount(), kFsFat16);
    FatBootInfo info;
    ASSERT_TRUE(ParseFatBootSector(info, reinterpret_cast<const std::uint8_t*>(bytes.data())));
    auto engine = std::make_unique<FatEngine>(App());
    engine->Prepare(MakeVolume(source, disk, false));
    engine->SetGeometry(info);
    engine->SelectFatCopy();
    engine->BuildClusterMap();
    // Linking starts from the damaged first FAT.
    if (!engine->ChangeFatSource(kFatSourceFat1)) engine->LoadFatTable();
    fat = engine.get();
    App().m_pScanSession->Hold(EngineKind::Fat, std::move(engine));
    App().m_pScanProgressDlg = nullptr;
    ASSERT_EQ(App().m_bVolumeOpened, 1);
  }
  void WipeChain(std::size_t fatAt) {
    std::fstream f(image, std::ios::binary | std::ios::in | std::ios::out);
    for (std::uint32_t c : chain) {
      f.seekp(static_cast<std::streamoff>(fatAt + 2 * c));
      f.write("\0\0", 2);
    }
  }
  std::string ReadFile() const {
    std::string out;
    fat->ReadItemData(item, [&](const DataBlock& block) {
      out.append(reinterpret_cast<const char*>(block.bytes.data()), block.bytes.size());
      return true;
    });
    return out;
  }
  // Whether the engine reads the file as written (compared here, so a
  // failure does not print 40000 bytes).
  bool Whole() const { return ReadFile() == content; }
  // Opens the dialog, chooses `mode` in the linking combo and presses OK.
  static void ApplyMode(const QString& mode) {
    CSettings dlg;
    auto* combo = Item<QComboBox>(&dlg, CSettings::kIdLinkingMode);
    ASSERT_TRUE(combo->isEnabled());
    combo->setCurrentText(mode);
    ASSERT_EQ(combo->currentText(), mode);
    Item<QPushButton>(&dlg, kIdOk)->click();
  }

  std::string content, bytes;
  fs::path image;
  std::size_t fat1 = 0, fat2 = 0;
  std::vector<std::uint32_t> chain;
  FoundItemInfo item;
  FatEngine* fat = nullptr;
  test::RecordingProgressSink closedScanDialog;
};

TEST_F(LinkingMode, TheChosenCopyIsLoadedAndTheFileReadThroughIt) {
  EXPECT_FALSE(Whole());
  {
    CSettings dlg;
    auto* combo = Item<QComboBox>(&dlg, CSettings::kIdLinkingMode);
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("FAT1"));
    EXPECT_EQ(combo->itemText(1), QStringLiteral("FAT2"));
    EXPECT_EQ(combo->itemText(2), QStringLiteral("Contiguous"));
    EXPECT_EQ(combo->currentText(), QStringLiteral("FAT1"));
  }
  const std::size_t reported = closedScanDialog.statusTexts.size() + closedScanDialog.stopStates.size() +
                               closedScanDialog.stepIts;
  ApplyMode(QStringLiteral("FAT2"));
  EXPECT_EQ(fat->FatSource(), kFatSourceFat2);
  EXPECT_TRUE(Whole());
  // The reload reported to no window: the scan dialog the engine was made
  // with is closed.
  EXPECT_EQ(closedScanDialog.statusTexts.size() + closedScanDialog.stopStates.size() + closedScanDialog.stepIts,
            reported);
  {
    CSettings dlg;
    EXPECT_EQ(Item<QComboBox>(&dlg, CSettings::kIdLinkingMode)->currentText(), QStringLiteral("FAT2"));
  }
  ApplyMode(QStringLiteral("FAT1"));
  EXPECT_EQ(fat->FatSource(), kFatSourceFat1);
  EXPECT_FALSE(Whole());

  // The copy in use chosen again is not loaded again: with the second FAT
  // now wiped on the disk too, the file still reads as loaded before.
  ApplyMode(QStringLiteral("FAT2"));
  ASSERT_TRUE(Whole());
  WipeChain(fat2);
  ApplyMode(QStringLiteral("FAT2"));
  EXPECT_TRUE(Whole());
}

TEST_F(LinkingMode, NoOpenVolumeOrARunningWorkerLeavesTheEngineAlone) {
  CORVANApp& app = App();
  app.m_bVolumeOpened = 0;
  {
    CSettings dlg;
    auto* combo = Item<QComboBox>(&dlg, CSettings::kIdLinkingMode);
    EXPECT_FALSE(combo->isEnabled());
    combo->setCurrentIndex(1);
    Item<QPushButton>(&dlg, kIdOk)->click();
  }
  EXPECT_EQ(fat->FatSource(), kFatSourceFat1);
  app.m_bVolumeOpened = 1;

  app.m_bBusy = 1;
  {
    CSettings dlg;
    EXPECT_FALSE(Item<QComboBox>(&dlg, CSettings::kIdLinkingMode)->isEnabled());
  }
  app.m_bBusy = 0;
  // A worker that starts while the dialog is open keeps the FAT it reads.
  {
    CSettings dlg;
    auto* combo = Item<QComboBox>(&dlg, CSettings::kIdLinkingMode);
    ASSERT_TRUE(combo->isEnabled());
    combo->setCurrentText(QStringLiteral("FAT2"));
    app.m_bBusy = 1;
    Item<QPushButton>(&dlg, kIdOk)->click();
  }
  app.m_bBusy = 0;
  EXPECT_EQ(fat->FatSource(), kFatSourceFat1);
  EXPECT_FALSE(Whole());

  // No FAT engine at all.
  app.m_pScanSession->Release();
  CSettings dlg;
  EXPECT_FALSE(Item<QComboBox>(&dlg, CSettings::kIdLinkingMode)->isEnabled());
}

// ---- the file types ----

class FileTypes : public SettingsDialog {
 protected:
  void SetUp() override {
    SettingsDialog::SetUp();
    installed = ReadFileTypeRecords(App().m_strInstallPath / "HeaderFile.cfg");
    ASSERT_GE(installed.size(), 2u);
  }
  static int RowNamed(const CEditList* list, const QString& name) {
    for (int r = 0; r < list->rowCount(); ++r)
      if (list->item(r, 0)->text() == name) return r;
    return -1;
  }
  // Types `size` into the size cell of `row` in place and ends with Return.
  static void TypeSizeInPlace(CEditList* list, int row, const QString& size) {
    list->scrollToItem(list->item(row, 0));
    test::Click(list->viewport(), list->visualRect(list->model()->index(row, 2)).center());
    CEditItem* box = list->ActiveEditor();
    ASSERT_TRUE(box);
    box->selectAll();
    QTest::keyClicks(box, size);
    test::SendKey(box, Qt::Key_Return);
  }
  static QPoint CheckBoxOf(CEditList* list, int row) {
    const QRect cell = list->visualRect(list->model()->index(row, 0));
    return QPoint(cell.left() + 9, cell.center().y());
  }
  std::vector<FileTypeRecord> installed;
};

TEST_F(FileTypes, SelectAllAndUnselectAllFollowTheChecks) {
  CSettings dlg;
  dlg.show();
  dlg.Tab()->setCurrentIndex(1);
  test::Settle();
  CEditList* list = dlg.List();
  auto* selectAll = Item<QPushButton>(&dlg, CSettings::kIdSelectAll);
  auto* unselectAll = Item<QPushButton>(&dlg, CSettings::kIdUnselectAll);
  const int total = static_cast<int>(installed.size());
  const int chosen = static_cast<int>(std::count_if(installed.begin(), installed.end(), [](auto& r) { return r.selected; }));
  ASSERT_EQ(list->rowCount(), total);
  EXPECT_EQ(list->horizontalHeaderItem(0)->text(), QStringLiteral("Software Name"));
  EXPECT_EQ(list->horizontalHeaderItem(1)->text(), QStringLiteral("File Extension"));
  EXPECT_EQ(list->horizontalHeaderItem(2)->text(), QStringLiteral("Size(KB)"));
  ASSERT_GT(chosen, 0);
  ASSERT_LT(chosen, total);
  EXPECT_EQ(dlg.Choice().CheckedCount(), chosen);
  EXPECT_TRUE(selectAll->isEnabled());
  EXPECT_TRUE(unselectAll->isEnabled());
  // Each row: its type's name, extension and size in KB, checked as stored.
  const int jpeg = RowNamed(list, QStringLiteral("JPEG Image"));
  ASSERT_GE(jpeg, 0);
  EXPECT_EQ(list->item(jpeg, 1)->text(), QStringLiteral("jpg"));
  EXPECT_EQ(list->item(jpeg, 2)->text(), QString::number(installed.front().maxSize / 1024));

  unselectAll->click();
  EXPECT_FALSE(unselectAll->isEnabled());
  EXPECT_TRUE(selectAll->isEnabled());
  EXPECT_TRUE(std::none_of(App().m_fileTypeList.begin(), App().m_fileTypeList.end(), [](auto& r) { return r.selected; }));
  // Checking every row but one leaves Select All on; the last, by a click
  // on its box, turns it off.
  for (int r = 0; r + 1 < total; ++r) dlg.Choice().ToggleRow(r);
  EXPECT_TRUE(selectAll->isEnabled());
  EXPECT_TRUE(unselectAll->isEnabled());
  list->scrollToBottom();
  test::Settle();
  test::Click(list->viewport(), CheckBoxOf(list, total - 1));
  EXPECT_EQ(list->RowState(total - 1), CEditList::kStateChecked);
  EXPECT_FALSE(selectAll->isEnabled());
  EXPECT_TRUE(unselectAll->isEnabled());
  EXPECT_TRUE(std::all_of(App().m_fileTypeList.begin(), App().m_fileTypeList.end(), [](auto& r) { return r.selected; }));
  // Space unchecks the selected row.
  list->selectRow(0);
  test::SendKey(list, Qt::Key_Space, QStringLiteral(" "));
  EXPECT_EQ(list->RowState(0), CEditList::kStateUnchecked);
  EXPECT_TRUE(selectAll->isEnabled());
  selectAll->click();
  EXPECT_FALSE(selectAll->isEnabled());
  EXPECT_EQ(dlg.Choice().CheckedCount(), total);
}

TEST_F(FileTypes, TheGroupFilterListsOneGroupInFileOrder) {
  CSettings dlg;
  auto* groups = Item<QComboBox>(&dlg, CSettings::kIdGroupCombo);
  ASSERT_EQ(groups->count(), 9);
  const char* names[] = {"All", "Graphics, Pictures & Raster Images", "Archive", "Audio, Video & Animation", "Mails",
                         "Database", "Office Documents", "Internet", "Miscellaneous"};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(groups->itemText(i), QString::fromLatin1(names[i])) << i;
  EXPECT_EQ(groups->currentIndex(), 0);
  for (int g = 1; g <= 8; ++g) {
    groups->setCurrentIndex(g);
    QStringList shown, expected;
    for (int r = 0; r < dlg.List()->rowCount(); ++r) shown << dlg.List()->item(r, 0)->text();
    for (const auto& t : installed)
      if (t.group == g) expected << ToQString(t.softwareName);
    EXPECT_EQ(shown, expected) << g;
  }
  groups->setCurrentIndex(0);
  EXPECT_EQ(dlg.List()->rowCount(), static_cast<int>(installed.size()));
}

TEST_F(FileTypes, TheChoiceIsWrittenToTheSignatureFileOnOkAndReadBack) {
  CORVANApp& app = App();
  const QString flipped = ToQString(installed[1].softwareName);
  {
    CSettings dlg;
    dlg.show();
    dlg.Tab()->setCurrentIndex(1);
    test::Settle();
    dlg.Choice().ToggleRow(RowNamed(dlg.List(), flipped));
    Item<QPushButton>(&dlg, kIdOk)->click();
  }
  // The whole list, in file order, with the one choice changed.
  std::vector<FileTypeRecord> expected = installed;
  expected[1].selected = installed[1].selected ? 0 : 1;
  EXPECT_EQ(ReadFileTypeRecords(app.HeaderFileToWrite()), expected);
  // The list is read again from the file when next needed.
  EXPECT_TRUE(app.m_fileTypeList.empty());
  CSettings again;
  const int row = RowNamed(again.List(), flipped);
  EXPECT_EQ(again.List()->RowState(row), expected[1].selected ? CEditList::kStateChecked : CEditList::kStateUnchecked);
}

TEST_F(FileTypes, AnEditedTypeIsWrittenAtOnce) {
  CORVANApp& app = App();
  CSettings dlg;
  dlg.show();
  dlg.Tab()->setCurrentIndex(1);
  test::Settle();
  auto* edit = Item<QPushButton>(&dlg, CSettings::kIdEdit);
  EXPECT_FALSE(edit->isEnabled());
  const int row = RowNamed(dlg.List(), QStringLiteral("JPEG Image"));
  const QRect name = dlg.List()->visualRect(dlg.List()->model()->index(row, 0));
  test::Click(dlg.List()->viewport(), QPoint(name.right() - 10, name.center().y()));
  dlg.List()->selectRow(row);
  ASSERT_TRUE(edit->isEnabled());
  std::uint32_t unit = 0;
  test::WhenModal([&unit](QDialog* d) {
    auto* editor = qobject_cast<CAddHeader*>(d);
    ASSERT_TRUE(editor);
    unit = editor->UnitBox()->text() == QStringLiteral("MB") ? 1048576 : 1024;
    editor->SizeBox()->setText(QStringLiteral("16"));
    editor->OnOK();
  });
  edit->click();
  ASSERT_NE(unit, 0u);
  const std::vector<FileTypeRecord> stored = ReadFileTypeRecords(app.HeaderFileToWrite());
  ASSERT_EQ(stored.size(), installed.size());
  EXPECT_EQ(stored.front().softwareName, u"JPEG Image");
  EXPECT_EQ(stored.front().maxSize, 16 * unit);
  EXPECT_EQ(dlg.List()->item(row, 2)->text(), QString::number(16 * unit / 1024));
}

TEST_F(FileTypes, ASizeEditedInTheListIsWrittenAtOnce) {
  CORVANApp& app = App();
  CSettings dlg;
  dlg.show();
  dlg.Tab()->setCurrentIndex(1);
  test::Settle();
  CEditList* list = dlg.List();
  const QString name = ToQString(installed[1].softwareName);
  const int row = RowNamed(list, name);
  ASSERT_GE(row, 0);
  ASSERT_NO_FATAL_FAILURE(TypeSizeInPlace(list, row, QStringLiteral("64")));
  EXPECT_EQ(list->item(row, 2)->text(), QStringLiteral("64"));
  // The whole list in file order with this one size changed, before OK:
  // Cancel keeps it too.
  std::vector<FileTypeRecord> expected = installed;
  expected[1].maxSize = 64 * 1024;
  EXPECT_EQ(ReadFileTypeRecords(app.HeaderFileToWrite()), expected);
  dlg.reject();
  EXPECT_EQ(ReadFileTypeRecords(app.HeaderFileToWrite()), expected);
}

// A type of the user's own whose two-byte signature at 511 runs past the
// first sector is never searched for, but it is the user's: it stays in the
// file, byte for byte, through an edit of another type, a size edited in
// place and OK, and both the list and the editor say why it is never found.
TEST_F(FileTypes, ATypeWhoseSignatureRunsPastTheFirstSectorStaysInTheFile) {
  CORVANApp& app = App();
  FileTypeRecord tail;
  tail.softwareName = u"Tail Sample";
  tail.extension = u"tsp";
  tail.headerOffset = 511;
  tail.headerLength = 2;
  tail.header = {0xCA, 0xFE, 0, 0, 0, 0, 0, 0};
  tail.maxSize = 1048576;
  tail.group = 8;
  std::vector<FileTypeRecord> file = installed;
  file.insert(file.begin() + 1, tail);
  ASSERT_TRUE(WriteFileTypeRecords(app.HeaderFileToWrite(), file));
  const std::string tailBytes = test::ReadWholeFile(app.HeaderFileToWrite()).substr(kFileTypeRecordSize,
                                                                                      kFileTypeRecordSize);
  const QString why = QStringLiteral(
      "Raw Recovery never finds this type: its header ends past the first 512 bytes, where it is not looked for.");
  {
    CSettings dlg;
    dlg.show();
    dlg.Tab()->setCurrentIndex(1);
    test::Settle();
    CEditList* list = dlg.List();
    ASSERT_EQ(list->rowCount(), static_cast<int>(file.size()));
    const int tailRow = RowNamed(list, QStringLiteral("Tail Sample"));
    const int jpegRow = RowNamed(list, QStringLiteral("JPEG Image"));
    ASSERT_GE(tailRow, 0);
    ASSERT_GE(jpegRow, 0);
    list->scrollToItem(list->item(tailRow, 0));
    EXPECT_EQ(list->ToolTipTextAt(list->visualRect(list->model()->index(tailRow, 0)).center()), why);
    list->scrollToItem(list->item(jpegRow, 0));
    EXPECT_TRUE(list->ToolTipTextAt(list->visualRect(list->model()->index(jpegRow, 0)).center()).isEmpty());

    // Edit on the type itself: the editor says why, and OK refuses it as it
    // stands, as for a new type.
    auto* edit = Item<QPushButton>(&dlg, CSettings::kIdEdit);
    list->selectRow(tailRow);
    dlg.Choice().EnableEditButton(true);
    test::WhenModal([&](QDialog* d) {
      auto* editor = qobject_cast<CAddHeader*>(d);
      ASSERT_TRUE(editor);
      EXPECT_EQ(editor->OffsetBox()->text(), QStringLiteral("511"));
      EXPECT_TRUE(editor->NoteLabel()->isVisible());
      EXPECT_EQ(editor->NoteLabel()->text(), why);
      prompt.asked.clear();
      editor->OnOK();
      EXPECT_EQ(prompt.asked, std::vector<std::string>{
                                  "Invalid offset, the header must end within the first 512 bytes. Re-enter value"});
      EXPECT_EQ(editor->result(), 0);
      // At 510 the signature ends in the sector and the note goes.
      editor->OffsetBox()->setText(QStringLiteral("510"));
      EXPECT_FALSE(editor->NoteLabel()->isVisible());
      editor->reject();
    });
    edit->click();

    // Another type edited: the file is written at once.
    list->selectRow(jpegRow);
    dlg.Choice().EnableEditButton(true);
    test::WhenModal([](QDialog* d) {
      auto* editor = qobject_cast<CAddHeader*>(d);
      ASSERT_TRUE(editor);
      EXPECT_FALSE(editor->NoteLabel()->isVisible());
      editor->UnitBox()->setText(QStringLiteral("MB"));
      editor->SizeBox()->setText(QStringLiteral("16"));
      editor->OnOK();
    });
    edit->click();
    // A size edited in place: written at once too.
    const int other = RowNamed(list, ToQString(installed[1].softwareName));
    ASSERT_NO_FATAL_FAILURE(TypeSizeInPlace(list, other, QStringLiteral("64")));
    Item<QPushButton>(&dlg, kIdOk)->click();
  }
  std::vector<FileTypeRecord> expected = file;
  expected[0].maxSize = 16 * 1048576;
  expected[0].sizeUnit = 0;
  expected[2].maxSize = 64 * 1024;
  EXPECT_EQ(ReadFileTypeRecords(app.HeaderFileToWrite()), expected);
  EXPECT_EQ(test::ReadWholeFile(app.HeaderFileToWrite()).substr(kFileTypeRecordSize, kFileTypeRecordSize), tailBytes);
}

// ---- on the start screen ----

TEST_F(SettingsDialog, TheStartScreenButtonOpensTheDialog) {
  CTransLayerDlg skin;
  skin.Create();
  skin.show();
  test::Settle();
  auto* button = GetDlgItemAs<QAbstractButton>(skin.MainDialog(), CORVANDlg::kIdSetting);
  ASSERT_NE(button, nullptr);
  EXPECT_TRUE(button->isEnabled());
  bool opened = false;
  test::WhenModal([&](QDialog* d) {
    opened = qobject_cast<CSettings*>(d) != nullptr;
    d->reject();
  });
  button->click();
  EXPECT_TRUE(opened);
}

TEST_F(SettingsDialog, UpdateNowClosesTheDialogAndRunsTheWizard) {
  const std::string before = ProfileText();
  CSettings dlg;
  dlg.show();
  test::Settle();
  bool wizard = false;
  bool settingsOpen = true;
  test::WhenModal([&](QDialog* d) {
    wizard = dynamic_cast<CUpdateWizard*>(d) != nullptr;
    settingsOpen = dlg.isVisible();
    d->reject();
  });
  Item<QPushButton>(&dlg, CSettings::kIdUpdateNow)->click();
  EXPECT_TRUE(wizard);
  EXPECT_FALSE(settingsOpen);
  EXPECT_EQ(dlg.result(), kIdCancel);
  EXPECT_EQ(ProfileText(), before);
}

}  // namespace
}  // namespace corvan
