// Leaving the results window with "Save scan information": the scan of a
// corpus volume is saved to the file the user names, through the saving
// progress dialog, and a results window opened afresh on that file shows
// the same items without scanning again.

#include <gtest/gtest.h>

#include <QProgressBar>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "app/ui/CTransLayerDlg.h"
#include "app/ui/MainWindows.h"
#include "console/ui/CFileFolderTree.h"
#include "console/ui/CRecoveryConsole.h"
#include "console/ui/ConsoleTestSupport.h"
#include "console/ui/ScanInfoCommand.h"
#include "console/ui/CFileListCtrl.h"
#include "console/ui/FolderListModel.h"
#include "core/RecoveryMode.h"
#include "save/SaveTestSupport.h"
#include "save/ui/CSaveProcess.h"
#include "scan/ProgramEngines.h"
#include "scan/ScanInfoFile.h"
#include "scan/ScanInfoIndex.h"
#include "sources/VirtualDiskImage.h"
#include "support/TestSupport.h"
#include "ui/CXBitmapButton.h"
#include "ui/DialogLayout.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t kFat16Volume = 4;

struct SavedItem {
  std::u16string path;
  std::uint32_t id;
  std::uint64_t size;
  std::uint8_t flags;
  bool operator==(const SavedItem&) const = default;
};

// The classic tree's items below the root (the File Type List's folders are
// the window's own), in arrival order.
std::vector<SavedItem> ItemsOf(const FoundItemStore& store) {
  std::vector<SavedItem> out;
  std::vector<std::uint32_t> folders{store.RootId()};
  std::set<std::uint32_t> seen;
  while (!folders.empty()) {
    const std::uint32_t folder = folders.back();
    folders.pop_back();
    if (!seen.insert(folder).second) continue;
    for (FoundItemHandle h : store.ChildrenOf(folder)) {
      const StoredItem item = store.Item(h);
      out.push_back({store.PathOf(h), item.record.itemId, item.record.size, item.record.flags});
      if (item.record.IsFolder()) folders.push_back(item.record.itemId);
    }
  }
  return out;
}

// The Modified and Created texts of every row the list shows, folder by
// folder of the classic tree, by the row's path and id ("path #id").
using ShownDates = std::map<std::string, std::pair<std::string, std::string>>;

ShownDates DatesShown(CRecoveryConsole& console) {
  FolderListModel* list = console.List()->Model();
  ShownDates out;
  for (FoundItemHandle folder : console.Store().TreeJoins(kViewClassic, 0)) {
    list->ShowFolderContents(kViewClassic, folder);
    for (int r = 0; r < list->rowCount(); ++r) {
      const std::string key =
          Utf16ToUtf8(console.Store().PathOf(list->HandleAt(r))) + " #" + std::to_string(list->RecordAt(r).itemId);
      out[key] = {ToUtf8(list->CellText(r, FolderListModel::kModified)),
                  ToUtf8(list->CellText(r, FolderListModel::kCreated))};
    }
  }
  return out;
}

// A modification time of the reference files as the list writes it: FAT
// keeps local time and shows it as it is; NTFS and exFAT are shown in UTC.
std::string ListTimeText(std::time_t t, bool localStamps) {
  std::tm tm{};
  if (localStamps) localtime_r(&t, &tm);
  else gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%m-%d-%Y %H:%M:%S", &tm);
  return text;
}

class SaveScanCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    CORVANApp& app = App();
    for (auto* flag : {&app.m_bBusy, &app.m_bAbort, &app.m_bResultsPresent, &app.m_bMaskRunning,
                       &app.CriticalPhaseFlag(), &app.m_bFromScanInfo, &app.m_bResumeMode})
      *flag = 0;
    app.m_bHaveFoundVolumes = 1;
    app.m_bScanInfoLoadOk = 1;
    app.m_scanInfoFile.clear();
    app.m_pPrompt = &prompt;
    SetProgramEndHandler([this] { ++ended; });
    SetStartWindowOpener([] { ShowStartWindow(); });
    savedChooser = ScanInfoSaveChooser();
    ScanInfoSaveChooser() = [this](QWidget*, const QString& suggested, const QString&, const QString& title) {
      suggestedName = suggested;
      dialogTitle = title;
      ++dialogs;
      return chosen.empty() ? QString() : QString::fromStdString(chosen.string());
    };
    indexBefore = ReadScanIndex().size();
  }
  void TearDown() override {
    test::CloseTestWindows(prompt, console);
    ScanInfoSaveChooser() = savedChooser;
    CSaveProcess::SetBeforeEndHook(nullptr);
    SetProgramEndHandler(nullptr);
    SetStartWindowOpener(nullptr);
    App().m_pPrompt = nullptr;
  }

  // A Deleted Recovery scan of the corpus FAT16 volume of `image`.
  void ScanFat16(const fs::path& image) {
    CORVANApp& app = App();
    std::string why;
    ASSERT_TRUE(test::SelectImageVolume(app, image, kFat16Volume, &why)) << why;
    app.m_nRecoveryMode = kModeDeleted;
    OpenAndWait();
  }
  void OpenAndWait() {
    console = OpenRecoveryConsole(MakeProgramEngines());
    ASSERT_TRUE(test::WaitFor([this] { return !console || console->ScanFinished(); }));
  }
  // A new start with the saved scan chosen on the resume page: nothing of
  // the scan is left in the program but the file, then the window opens.
  void ResumeAfreshAndWait() {
    CORVANApp& app = App();
    app.m_pScanSession->Release();
    app.m_sourceList.m_sources.clear();
    app.m_sourceList.m_pSelectedSource = nullptr;
    app.m_bResultsPresent = 0;
    ResumeAndWait();
  }
  // The saved scan chosen on the resume page, whatever the program holds.
  void ResumeAndWait() {
    App().m_scanInfoFile = chosen;
    App().m_nRecoveryMode = kModeScanNow;
    OpenAndWait();
  }
  std::string RootShown() const { return ToUtf8(console->Tree(kViewClassic)->Model()->index(0, 0).data().toString()); }
  void Leave(int id) {
    GetDlgItemAs<CXBitmapButton>(console, id)->click();
    test::Settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  test::AnsweringPrompt prompt;
  test::TempDir dir;
  QPointer<CRecoveryConsole> console;
  ScanInfoFileChooser savedChooser;
  fs::path chosen;
  QString suggestedName, dialogTitle;
  int dialogs = 0, ended = 0;
  std::size_t indexBefore = 0;
};

TEST_F(SaveScanCommand, CloseSavesTheScanAndAWindowOpenedAfreshShowsItAgain) {
  ScanFat16(test::CorpusDir() / "disks" / "mbr.vmdk");
  ASSERT_TRUE(App().m_bResultsPresent);
  const std::vector<SavedItem> scanned = ItemsOf(console->Store());
  ASSERT_GT(scanned.size(), 10u);

  // What the progress dialog shows as the save ends.
  struct {
    bool seen = false, stopEnabled = true, fileBarShown = true;
    int value = -1, maximum = -1;
  } progress;
  CSaveProcess::SetBeforeEndHook([&progress](CSaveProcess& dlg) {
    progress.seen = true;
    progress.stopEnabled = GetDlgItemAs<CXBitmapButton>(&dlg, CSaveProcess::kIdStop)->isEnabled();
    progress.fileBarShown = !GetDlgItemAs<QProgressBar>(&dlg, CSaveProcess::kIdFileBar)->isHidden();
    progress.value = GetDlgItemAs<QProgressBar>(&dlg, CSaveProcess::kIdMainBar)->value();
    progress.maximum = GetDlgItemAs<QProgressBar>(&dlg, CSaveProcess::kIdMainBar)->maximum();
  });

  chosen = dir.path() / "fat16 scan.img";
  prompt.answer = kIdYes;
  Leave(CRecoveryConsole::kIdClose);
  EXPECT_TRUE(prompt.Asked(310));
  EXPECT_EQ(dialogs, 1);
  EXPECT_EQ(dialogTitle, QStringLiteral("Save scan information"));
  EXPECT_TRUE(suggestedName.startsWith(QStringLiteral("KESTRA Scan "))) << suggestedName.toStdString();
  EXPECT_TRUE(suggestedName.endsWith(QStringLiteral(".img")));
  EXPECT_TRUE(console.isNull());
  EXPECT_EQ(ended, 1);

  // Saving the scan information cannot be stopped and has no per-file bar;
  // the bar went once through every found item.
  ASSERT_TRUE(progress.seen);
  EXPECT_FALSE(progress.stopEnabled);
  EXPECT_FALSE(progress.fileBarShown);
  EXPECT_EQ(progress.value, progress.maximum);

  ASSERT_TRUE(fs::exists(chosen));
  EXPECT_TRUE(CheckResumeHeader(chosen));
  const std::vector<ScanImageRecord> index = ReadScanIndex();
  ASSERT_EQ(index.size(), indexBefore + 1);
  EXPECT_EQ(FilePathOfScanRecord(index.back().path), chosen);
  EXPECT_EQ(index.back().kind, kScanKindVolume);
  // Only the volume scan: the found volumes had nothing new to save.
  EXPECT_FALSE(fs::exists(DriveScanFileName(chosen)));

  // A new start.
  prompt.asked.clear();
  ResumeAfreshAndWait();
  CORVANApp& app = App();
  ASSERT_TRUE(console);
  EXPECT_TRUE(prompt.asked.empty()) << prompt.asked.front();
  EXPECT_EQ(ItemsOf(console->Store()), scanned);
  EXPECT_TRUE(app.m_bResultsPresent);
  EXPECT_TRUE(app.m_bFromScanInfo);
  ASSERT_TRUE(app.m_sourceList.m_pSelectedSource);
  EXPECT_EQ(app.m_sourceList.m_pSelectedSource->index, kFat16Volume);

  // Results that came from a saved scan are not offered for saving again.
  prompt.answer = kIdNo;
  Leave(CRecoveryConsole::kIdClose);
  EXPECT_TRUE(prompt.Asked(238));
  EXPECT_FALSE(prompt.Asked(310));
  EXPECT_EQ(dialogs, 1);
}

TEST_F(SaveScanCommand, AResumedScanShowsTheDatesTheScanShowed) {
  const test::ScopedTimeZone zone(test::kSaveTestZone);
  struct Case {
    const char* name;  // reference files of tests/data/save
    std::uint8_t fsKind;
    bool localStamps;
  };
  std::map<std::string, std::string> roots;  // each volume's root as its scan named it
  for (const Case& c : {Case{"ntfs", kFsNtfs, false}, Case{"fat16", kFsFat16, true}, Case{"exfat", kFsExFat, false}}) {
    SCOPED_TRACE(c.name);
    CORVANApp& app = App();
    std::string why;
    ASSERT_TRUE(test::SelectImageVolume(app, test::CorpusDir() / "disks" / "mbr.vdi", 0, &why)) << why;
    const auto volume = test::VolumeOfKind(app, c.fsKind);
    ASSERT_TRUE(volume && SelectSource(app, *volume));
    app.m_scanInfoFile.clear();
    app.m_nRecoveryMode = kModeQuick;
    OpenAndWait();
    ASSERT_TRUE(console);
    const ShownDates scanned = DatesShown(*console);
    roots[c.name] = RootShown();

    // The live files show the times The Sleuth Kit reads from the volume.
    std::size_t checked = 0;
    for (const auto& row : test::ReadReference(test::SaveDataDir() / (std::string(c.name) + ".mtime.tsv"))) {
      if (row[1] != "live") continue;
      const std::string key = row[0] + " #";
      const auto shown = std::find_if(scanned.begin(), scanned.end(), [&](const auto& e) { return e.first.starts_with(key); });
      ASSERT_NE(shown, scanned.end()) << row[0];
      EXPECT_EQ(shown->second.first, ListTimeText(std::stoll(row[2]), c.localStamps)) << row[0];
      ++checked;
    }
    EXPECT_GT(checked, 10u);

    chosen = dir.path() / (std::string(c.name) + " scan.img");
    prompt.answer = kIdYes;
    Leave(CRecoveryConsole::kIdClose);
    ASSERT_TRUE(console.isNull());

    ResumeAfreshAndWait();
    ASSERT_TRUE(console);
    ASSERT_TRUE(app.m_bFromScanInfo);
    EXPECT_EQ(RootShown(), roots[c.name]);
    const ShownDates resumed = DatesShown(*console);
    EXPECT_EQ(resumed.size(), scanned.size());
    int differing = 0;
    for (const auto& [row, dates] : scanned) {
      const auto again = resumed.find(row);
      if (again != resumed.end() && again->second == dates) continue;
      if (++differing <= 5)
        ADD_FAILURE() << row << ": the scan showed " << dates.first << " / " << dates.second << ", the resume "
                      << (again == resumed.end() ? "no row" : again->second.first + " / " + again->second.second);
    }
    EXPECT_EQ(differing, 0);
    test::CloseTestWindows(prompt, console);
    prompt.answers.clear();
    app.m_bFromScanInfo = 0;
  }
  // Resumes in a row: each root names its own volume, not the one resumed
  // before it.
  ASSERT_EQ(roots.size(), 3u);
  EXPECT_NE(roots["ntfs"], roots["fat16"]);
  for (const char* name : {"ntfs", "fat16"}) {
    SCOPED_TRACE(name);
    chosen = dir.path() / (std::string(name) + " scan.img");
    ResumeAndWait();
    ASSERT_TRUE(console);
    EXPECT_EQ(RootShown(), roots[name]);
    test::CloseTestWindows(prompt, console);
    prompt.answers.clear();
    App().m_bFromScanInfo = 0;
  }
}

TEST_F(SaveScanCommand, CancellingTheFileDialogKeepsTheWindowAndItsResults) {
  ScanFat16(test::CorpusDir() / "disks" / "mbr.vmdk");
  prompt.answer = kIdYes;
  Leave(CRecoveryConsole::kIdBack);  // chosen is empty: the dialog is cancelled
  EXPECT_EQ(dialogs, 1);
  ASSERT_TRUE(console);
  EXPECT_TRUE(console->isVisible());
  EXPECT_GT(console->Store().Count(), 1u);
  EXPECT_TRUE(App().m_bResultsPresent);
  EXPECT_EQ(ReadScanIndex().size(), indexBefore);
  EXPECT_EQ(ended, 0);
}

TEST_F(SaveScanCommand, TheScanIsNeverWrittenOverTheDiskItDescribes) {
  // The image is read through a descriptor whose flat extent is a link to
  // the corpus file: a save that went wrong replaces the link, not the data.
  const fs::path corpus = test::CorpusDir() / "disks";
  fs::copy_file(corpus / "mbr-mflat.vmdk", dir.path() / "mbr-mflat.vmdk");
  fs::create_symlink(corpus / "mbr-mflat-flat.vmdk", dir.path() / "mbr-mflat-flat.vmdk");
  ScanFat16(dir.path() / "mbr-mflat.vmdk");
  const std::uintmax_t descriptorSize = fs::file_size(dir.path() / "mbr-mflat.vmdk");

  prompt.answer = kIdYes;
  for (const char* name : {"mbr-mflat.vmdk", "mbr-mflat-flat.vmdk"}) {
    SCOPED_TRACE(name);
    prompt.asked.clear();
    chosen = dir.path() / name;
    Leave(CRecoveryConsole::kIdBack);
    EXPECT_TRUE(prompt.Asked(318));
    ASSERT_TRUE(console);
    EXPECT_TRUE(console->isVisible());
  }
  EXPECT_EQ(fs::file_size(dir.path() / "mbr-mflat.vmdk"), descriptorSize);
  EXPECT_TRUE(fs::is_symlink(dir.path() / "mbr-mflat-flat.vmdk"));
  EXPECT_EQ(ReadScanIndex().size(), indexBefore);
}

TEST_F(SaveScanCommand, FoundVolumesNotYetSavedAreSavedBesideTheScan) {
  ScanFat16(test::CorpusDir() / "disks" / "mbr.vmdk");
  App().m_bHaveFoundVolumes = 0;  // as after a lost-volume search
  chosen = dir.path() / "scan.img";
  prompt.answer = kIdYes;
  Leave(CRecoveryConsole::kIdBack);
  EXPECT_TRUE(prompt.Asked(311));
  EXPECT_TRUE(console.isNull());
  const fs::path drives = dir.path() / "scan Drives.img";
  DriveScanInfo saved;
  EXPECT_TRUE(ReadDriveScanFile(drives, saved));
  EXPECT_TRUE(CheckResumeHeader(chosen));
  const std::vector<ScanImageRecord> index = ReadScanIndex();
  ASSERT_EQ(index.size(), indexBefore + 2);
  EXPECT_EQ(FilePathOfScanRecord(index[indexBefore].path), drives);
  EXPECT_EQ(index[indexBefore].kind, kScanKindDrives);
  EXPECT_EQ(FilePathOfScanRecord(index[indexBefore + 1].path), chosen);
  EXPECT_EQ(index[indexBefore + 1].kind, kScanKindVolume);
  EXPECT_EQ(App().m_bHaveFoundVolumes.load(), 1u);
}

TEST_F(SaveScanCommand, AScanThatCannotBeLoadedGoesBackToTheSavedScans) {
  const fs::path broken = dir.path() / "broken.img";
  std::ofstream(broken) << std::string(4096, 'x');
  CORVANApp& app = App();
  app.m_scanInfoFile = broken;
  app.m_nRecoveryMode = kModeScanNow;
  OpenAndWait();
  test::Settle();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(prompt.asked.size(), 1u);
  EXPECT_TRUE(console.isNull());
  EXPECT_NE(qobject_cast<CTransLayerDlg*>(CurrentMainWindow()), nullptr);
  EXPECT_EQ(app.m_bResumeMode.load(), 1u);
  EXPECT_EQ(app.m_bScanInfoLoadOk.load(), 1u);
  EXPECT_EQ(ended, 0);
}

}  // namespace
}  // namespace corvan
