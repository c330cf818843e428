// The resume page over scans saved as the program saves them: a Deleted
// Recovery scan of the FAT16 volume of mbr.vmdk, and the drive scan of the
// volumes a quick lost-volume search finds on a copy of the flat MBR disk
// whose MBR was zeroed. Each test has its own saved-scan index.

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <filesystem>
#include <fstream>
#include <span>
#include <vector>

#include "app/CORVANApp.h"
#include "app/Jobs.h"
#include "app/SourceSetup.h"
#include "app/ui/CORVANDlg.h"
#include "app/ui/MainWindows.h"
#include "console/FoundItemStore.h"
#include "console/SavedScanItems.h"
#include "core/AppServices.h"
#include "core/RecoveryMode.h"
#include "scan/CThreadForSearchVolume.h"
#include "scan/ProgramEngines.h"
#include "scan/ScanInfoFile.h"
#include "scan/ScanWorker.h"
#include "scan/ui/CResumeRecovery.h"
#include "scan/ui/CSliderOptionDlg.h"
#include "sources/VirtualDiskImage.h"
#include "support/RecordingSinks.h"
#include "support/TestSupport.h"
#include "ui/CHTMLListCtrl.h"
#include "ui/CXColorListCtrl.h"
#include "ui/DialogLayout.h"
#include "ui/QtText.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;

const char* const kMountFirst =
    "You need to first mount the virtual machine image associated with selected scan information.\nTo mount virtual "
    "machine image, go to 'Data Recovery' tab and then click 'Browse' button to select the image. Click 'Mount "
    "Virtual Disk' and then come to 'Resume Recovery' tab to continue.";

// The volumes of the MBR disks as the corpus lays them out: start sector
// and sector count, in disk order.
std::vector<std::pair<std::uint64_t, std::uint64_t>> ManifestLayout() {
  QFile file(QString::fromStdString((test::CorpusDir() / "manifest.json").string()));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  std::vector<std::pair<std::uint64_t, std::uint64_t>> layout;
  const QJsonArray rows = QJsonDocument::fromJson(file.readAll())["disks"]["mbr"]["layout"].toArray();
  for (const QJsonValue& row : rows)
    layout.emplace_back(row[1].toInteger(), row[2].toInteger());
  return layout;
}

// The scans the tests open, made once as a program run would make them.
struct SavedScans {
  SavedScans() {
    const test::UserFolders folders(dir.path() / "maker");
    {
      CORVANApp app(dir / "settings.ini", dir / "install");
      FoundItemStore store;
      test::RecordingPrompt prompt;
      app.m_pPrompt = &prompt;
      app.m_pConsole = &store;
      EXPECT_TRUE(MountAndListSources(app, kImageVmware, test::CorpusDir() / "disks" / "mbr.vmdk").mounted);
      EXPECT_TRUE(SelectSource(app, 4));  // the FAT16 volume
      app.m_nRecoveryMode = kModeDeleted;
      const auto engines = MakeProgramEngines();
      ScanWorker(MakeScanJob(app, CurrentSelection(app)), *engines).Run();
      volumeScan = dir / "fat16 scan.img";
      EXPECT_TRUE(SaveScanInformation(app, volumeScan, SavedScanItemsOf(store)));
    }
    damagedDisk = dir / "mbr-mflat.vmdk";
    fs::copy_file(test::CorpusDir() / "disks" / "mbr-mflat.vmdk", damagedDisk);
    const fs::path flat = test::CorpusDir() / "disks" / "mbr-mflat-flat.vmdk";
    { std::ofstream create(dir / flat.filename(), std::ios::binary); }
    fs::resize_file(dir / flat.filename(), fs::file_size(flat));
    test::CopyKeepingHoles(flat, dir / flat.filename());
    {
      std::fstream mbr(dir / flat.filename(), std::ios::binary | std::ios::in | std::ios::out);
      const std::vector<char> zeros(512, 0);
      mbr.write(zeros.data(), static_cast<std::streamsize>(zeros.size()));
    }
    {
      CORVANApp app(dir / "settings.ini", dir / "install");
      test::RecordingPrompt prompt;
      app.m_pPrompt = &prompt;
      EXPECT_TRUE(MountAndListSources(app, kImageVmware, damagedDisk).mounted);
      EXPECT_TRUE(SelectSource(app, 0));
      CThreadForSearchVolume(MakeLostVolumeJob(app, CurrentSelection(app), nullptr, false, false)).Run();
      EXPECT_TRUE(app.SaveDriveScanInfo(dir / "disk scan.img"));
      driveScan = dir / "disk scan Drives.img";
    }
  }
  test::TempDir dir;
  fs::path volumeScan, driveScan, damagedDisk;
};

const SavedScans& Scans() {
  static SavedScans scans;
  return scans;
}

ScanImageRecord IndexEntry(const fs::path& path, std::uint8_t kind, std::u16string date) {
  ScanImageRecord r;
  r.date = std::move(date);
  r.path = ScanRecordPathOf(path);
  r.kind = kind;
  return r;
}

std::string SizeTextOf(const fs::path& path) { return FormatSize(fs::file_size(path)); }

QString ExpectedItem(const char* kindText, const char* date, const QString& shownPath, const std::string& size) {
  return QStringLiteral("<font color=#142600><b><br>") + QString::fromLatin1(kindText) +
         QStringLiteral("</b><br></b><sub>Date:<space=57>") + QString::fromLatin1(date) +
         QStringLiteral("<br>Image Path:<space=18>") + shownPath + QStringLiteral("<br><br><space=350>Size:") +
         QString::fromStdString(size) + QStringLiteral("</sub>");
}

class ResumePage : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Scans().volumeScan.empty());
    Unmount();
    CORVANApp& app = App();
    app.m_nRecoveryMode = 0;
    app.m_scanInfoFile.clear();
    app.m_bBusy = app.m_nSourceListState = 0;
    app.m_pPrompt = &prompt;
    SetProgramEndHandler([] {});
  }
  void TearDown() override {
    CStartPage::FileChooser() = nullptr;
    if (QWidget* w = CurrentMainWindow()) w->close();
    test::Settle();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    SetProgramEndHandler(nullptr);
    App().m_pPrompt = nullptr;
    Unmount();
  }
  static void Unmount() {
    CORVANApp& app = App();
    app.m_sourceList.FreeSourceList();
    app.m_pImage.reset();
    app.m_pDisk.reset();
    app.m_bResumeMode = 0;
  }

  // The start window on its resume page, over an index of `entries`.
  void Open(const std::vector<ScanImageRecord>& entries) {
    ASSERT_TRUE(WriteScanIndex(entries));
    ShowStartWindow();
    test::Settle();
    dlg = MainDlg();
    ASSERT_NE(dlg, nullptr);
    dlg->OnResumeRecovery();
    test::Settle();
    page = qobject_cast<CResumeRecovery*>(dlg->ResumeRecoveryPage());
    ASSERT_NE(page, nullptr);
  }
  void ClickItem(int item) {
    CHTMLListCtrl* list = page->SavedScanList();
    const QRect r = list->GetItemRect(item);
    ASSERT_FALSE(r.isEmpty());
    test::Click(list->viewport(), r.center());
    test::Settle();
  }
  void ClickRow(int row) {
    CXColorListCtrl* list = page->VolumeList();
    test::Click(list->viewport(), list->visualItemRect(list->item(row, 0)).center());
    test::Settle();
  }
  QLineEdit* PathBox() const { return GetDlgItemAs<QLineEdit>(page, CResumeRecovery::kIdPath); }
  QString Title() const { return GetDlgItemAs<QLabel>(page, CResumeRecovery::kIdTitle)->text(); }
  CSliderOptionDlg* Panel() const { return qobject_cast<CSliderOptionDlg*>(dlg->OptionsPanel()); }
  void MountDamagedDisk() {
    ASSERT_TRUE(MountAndListSources(App(), kImageVmware, Scans().damagedDisk).mounted);
    prompt.texts.clear();
  }

  test::TempDir dir;
  test::UserFolders folders{dir.path()};
  test::RecordingPrompt prompt;
  CORVANDlg* dlg = nullptr;
  CResumeRecovery* page = nullptr;
};

TEST_F(ResumePage, ListsTheValidSavedScansNewestFirst) {
  const SavedScans& s = Scans();
  Open({IndexEntry(s.volumeScan, kScanKindVolume, u"01-Feb-2024"),
        IndexEntry(dir / "gone.img", kScanKindVolume, u"02-Feb-2024"),
        IndexEntry(s.driveScan, kScanKindDrives, u"03-Feb-2024"),
        // The files are there, but of the other kind.
        IndexEntry(s.volumeScan, kScanKindDrives, u"04-Feb-2024"),
        IndexEntry(s.driveScan, kScanKindVolume, u"05-Feb-2024")});
  EXPECT_EQ(page->PageMode(), 1);
  EXPECT_EQ(Title(), QStringLiteral("Select Scan Information Image to Continue"));
  EXPECT_EQ(GetDlgItemAs<QLabel>(page, CResumeRecovery::kIdHint)->text(),
            QStringLiteral("Click 'Browse' to select saved scan image not listed above"));
  EXPECT_FALSE(page->VolumeList()->isVisible());
  EXPECT_FALSE(GetDlgItem(page, CResumeRecovery::kIdSearchLostVolume)->isVisible());
  EXPECT_EQ(page->SavedScanList()->geometry(), QRect(15, 35, 551, 385));

  CHTMLListCtrl* list = page->SavedScanList();
  ASSERT_EQ(list->GetItemCount(), 2);
  EXPECT_EQ(list->GetItem(0)->strText,
            ExpectedItem("Partition Scan Image", "03-Feb-2024", QString::fromStdString(s.driveScan.string()),
                         SizeTextOf(s.driveScan)));
  EXPECT_EQ(list->GetItem(1)->strText,
            ExpectedItem("File Folder Scan Image", "01-Feb-2024", QString::fromStdString(s.volumeScan.string()),
                         SizeTextOf(s.volumeScan)));
  // Each kind with its own picture.
  EXPECT_EQ(list->GetItem(0)->dwData, 1u);
  EXPECT_EQ(list->GetItem(1)->dwData, 0u);
}

TEST_F(ResumePage, AnEmptyIndexListsNothing) {
  Open({});
  EXPECT_EQ(page->SavedScanList()->GetItemCount(), 0);
  EXPECT_TRUE(page->ShownScans().empty());
}

TEST(ResumePagePaths, LongFoldersAndNamesAreShortened) {
  // Folder of 61 characters: its first 30, the marker, its last 23.
  const QString folder61 = QStringLiteral("/abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWX");
  ASSERT_EQ(folder61.size(), 61);
  EXPECT_EQ(CResumeRecovery::ShortenedScanPath(folder61 + QStringLiteral("/scan.img")),
            QStringLiteral("/abcdefghijklmnopqrstuvwxyz012.../...BCDEFGHIJKLMNOPQRSTUVWX/scan.img"));
  // Name of 46 characters: its first 15, "...", its last 27.
  const QString name46 = QStringLiteral("Saved Scan 2024-02-03 10-11-12 of volume C.img");
  ASSERT_EQ(name46.size(), 46);
  EXPECT_EQ(CResumeRecovery::ShortenedScanPath(QStringLiteral("/home/ann/") + name46),
            QStringLiteral("/home/ann/Saved Scan 2024...03 10-11-12 of volume C.img"));
  // At the limits nothing is cut.
  const QString folder60 = folder61.left(60);
  const QString name45 = name46.mid(1);
  EXPECT_EQ(CResumeRecovery::ShortenedScanPath(folder60 + u'/' + name45), folder60 + u'/' + name45);
}

TEST_F(ResumePage, TheListShowsLongPathsShortened) {
  const fs::path folder = dir / "a folder name long enough to push the folder part past sixty";
  fs::create_directory(folder);
  const fs::path copy = folder / "a saved drive scan with a name of more than forty-five.img";
  fs::copy_file(Scans().driveScan, copy);
  Open({IndexEntry(copy, kScanKindDrives, u"03-Feb-2024")});
  ASSERT_EQ(page->SavedScanList()->GetItemCount(), 1);
  const std::string f = copy.parent_path().string(), n = copy.filename().string();
  ASSERT_GT(f.size(), 60u);
  ASSERT_GT(n.size(), 45u);
  const std::string shown = f.substr(0, 30) + ".../..." + f.substr(f.size() - 23) + "/" + n.substr(0, 15) + "..." +
                            n.substr(n.size() - 27);
  EXPECT_EQ(page->SavedScanList()->GetItem(0)->strText,
            ExpectedItem("Partition Scan Image", "03-Feb-2024", QString::fromStdString(shown), SizeTextOf(copy)));
}

TEST_F(ResumePage, AVolumeScanLeadsToScanNow) {
  Open({IndexEntry(Scans().volumeScan, kScanKindVolume, u"01-Feb-2024")});
  ClickItem(0);
  EXPECT_EQ(PathBox()->text().toStdString(), Scans().volumeScan.string());
  EXPECT_TRUE(PathBox()->isReadOnly());
  CORVANApp& app = App();
  EXPECT_EQ(app.m_nRecoveryMode, kModeScanNow);
  EXPECT_EQ(app.m_scanInfoFile, Scans().volumeScan);
  EXPECT_EQ(page->OpenedKind(), kScanKindVolume);
  EXPECT_EQ(page->PageMode(), 1);
  ASSERT_TRUE(dlg->IsOptionsPanelOpen());
  CSliderOptionDlg* panel = Panel();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(GetDlgItem(panel, CSliderOptionDlg::kIdScanNow)->isVisible());
  EXPECT_FALSE(GetDlgItem(panel, CSliderOptionDlg::kIdQuick)->isVisible());
  EXPECT_EQ(GetDlgItemAs<QLabel>(panel, CSliderOptionDlg::kIdHeading)->text(),
            QStringLiteral("Recovery from Saved Scan"));
}

TEST_F(ResumePage, BrowseTakesACapitalImgPathAndIgnoresOthers) {
  const fs::path capital = dir / "COPY.IMG";
  fs::copy_file(Scans().volumeScan, capital);
  Open({});
  QString filterSeen;
  CStartPage::FileChooser() = [&](QWidget*, const QString& filter) {
    filterSeen = filter;
    return QString::fromStdString(capital.string());
  };
  test::Click(GetDlgItem(page, CResumeRecovery::kIdBrowse), QPoint(5, 5));
  test::Settle();
  EXPECT_EQ(filterSeen, QStringLiteral("*.img *.IMG"));
  EXPECT_EQ(App().m_nRecoveryMode, kModeScanNow);
  EXPECT_EQ(App().m_scanInfoFile, capital);
  EXPECT_TRUE(dlg->IsOptionsPanelOpen());

  // Typed paths open only when absolute and ending in ".img".
  dlg->CloseOptionsPanel();
  App().m_nRecoveryMode = 0;
  App().m_scanInfoFile.clear();
  const fs::path relative = fs::relative(capital, fs::current_path());
  for (const std::string& typed :
       {relative.string(), capital.string() + ".bak", std::string("C:") + capital.string()}) {
    PathBox()->setText(QString::fromStdString(typed));
    EXPECT_EQ(App().m_nRecoveryMode, 0u) << typed;
    EXPECT_TRUE(App().m_scanInfoFile.empty()) << typed;
  }
  EXPECT_FALSE(dlg->IsOptionsPanelOpen());
  EXPECT_TRUE(CResumeRecovery::IsFullScanPath(QStringLiteral("/a/b.ImG")));
  EXPECT_FALSE(CResumeRecovery::IsFullScanPath(QStringLiteral("b.img")));
  EXPECT_FALSE(CResumeRecovery::IsFullScanPath(QStringLiteral("/a/b.img ")));
}

TEST_F(ResumePage, ADriveScanWithoutAMountedImageChangesNothing) {
  Open({IndexEntry(Scans().driveScan, kScanKindDrives, u"03-Feb-2024")});
  ClickItem(0);
  ASSERT_EQ(prompt.texts.size(), 1u);
  EXPECT_EQ(prompt.texts[0], kMountFirst);
  EXPECT_EQ(prompt.pictures[0], kPicError);
  EXPECT_EQ(prompt.types[0], kMbOk);
  EXPECT_EQ(App().m_nRecoveryMode, 0u);
  EXPECT_TRUE(App().m_sourceList.m_sources.empty());
  EXPECT_EQ(page->PageMode(), 1);
  EXPECT_EQ(page->VolumeList()->rowCount(), 0);
  EXPECT_FALSE(dlg->IsOptionsPanelOpen());
}

TEST_F(ResumePage, ADriveScanListsItsVolumesAndOneIsSelected) {
  MountDamagedDisk();
  ASSERT_EQ(App().m_sourceList.m_sources.size(), 1u);  // the disk alone: its MBR is gone
  // A volume this run's own search found, named as the drive scan's second.
  auto earlier = std::make_unique<SourceRecord>();
  earlier->kind = kSourceLostVolume;
  earlier->index = 1;
  earlier->flags = 0x10;
  earlier->partition = std::make_unique<PartitionRecord>();
  earlier->partition->name = FoundVolumeName(2);
  earlier->partition->startSector = 4096;
  earlier->partition->sectorCount = 8;
  App().m_sourceList.AppendSource(std::move(earlier));
  Open({IndexEntry(Scans().driveScan, kScanKindDrives, u"03-Feb-2024")});
  ClickItem(0);
  EXPECT_TRUE(prompt.texts.empty());
  CORVANApp& app = App();
  EXPECT_EQ(app.m_nRecoveryMode, kModeSavedDriveScan);
  EXPECT_EQ(page->PageMode(), 0);
  EXPECT_EQ(Title(), QStringLiteral("Select Volume to Recover Data"));
  EXPECT_TRUE(page->VolumeList()->isVisible());
  EXPECT_EQ(page->SavedScanList()->geometry(), QRect(15, 165, 551, 255));
  EXPECT_EQ(app.m_nSourceListState.load(), 1u);
  EXPECT_EQ(app.m_bHaveFoundVolumes.load(), 1u);

  // The volumes the search found where the corpus put them, in disk order.
  const auto layout = ManifestLayout();
  ASSERT_EQ(layout.size(), 4u);
  CXColorListCtrl* list = page->VolumeList();
  ASSERT_EQ(list->rowCount(), 4);
  ASSERT_EQ(app.m_sourceList.m_sources.size(), 6u);
  const char* systems[] = {"NTFS", "FAT32", "exFAT", "FAT"};
  for (int row = 0; row < 4; ++row) {
    const SourceRecord& r = *app.m_sourceList.m_sources[static_cast<std::size_t>(row) + 2];
    EXPECT_EQ(r.kind, kSourceLostVolume);
    EXPECT_EQ(r.flags, 1);
    ASSERT_TRUE(r.partition);
    EXPECT_EQ(r.partition->startSector, layout[static_cast<std::size_t>(row)].first);
    EXPECT_EQ(list->item(row, 0)->text(), ToQString(r.partition->name));
    EXPECT_EQ(list->item(row, 3)->text(), QString::fromLatin1(systems[row]));
    EXPECT_EQ(list->item(row, 4)->text(), ToQString(r.partition->sizeText));
  }
  QStringList headings;
  for (int c = 0; c < 5; ++c) headings << list->horizontalHeaderItem(c)->text();
  EXPECT_EQ(headings, QStringList({"Volume", "Label", "Type", "File System", "Size"}));

  // The FAT32 volume, not this run's find of the same name: selected, with
  // the bounds of its whole length.
  EXPECT_EQ(list->item(1, 0)->text(), ToQString(FoundVolumeName(2)));
  ClickRow(1);
  const SourceRecord* selected = app.m_sourceList.m_pSelectedSource;
  ASSERT_NE(selected, nullptr);
  EXPECT_EQ(selected, app.m_sourceList.m_sources[3].get());
  EXPECT_EQ(app.m_scanBounds.m_nMediaFirstSector, 0u);
  EXPECT_EQ(app.m_scanBounds.m_nMediaLastSector, layout[1].second);
  EXPECT_EQ(app.m_scanBounds.m_nRegionFirstSector, 0u);
  EXPECT_EQ(app.m_scanBounds.m_nRegionLastSector, layout[1].second);
  EXPECT_EQ(app.m_bResumeMode.load(), 1u);
  ASSERT_TRUE(dlg->IsOptionsPanelOpen());
  EXPECT_TRUE(GetDlgItem(Panel(), CSliderOptionDlg::kIdQuick)->isVisible());
  EXPECT_EQ(GetDlgItemAs<QLabel>(Panel(), CSliderOptionDlg::kIdHeading)->text(), QStringLiteral("Recovery from Image"));

  // While the program is busy a click selects nothing.
  app.m_bBusy = 1;
  ClickRow(3);
  EXPECT_EQ(app.m_sourceList.m_pSelectedSource, selected);
  app.m_bBusy = 0;

  // Opened again, its volumes replace those of the first opening.
  page->OpenSavedScan(kScanKindDrives);
  EXPECT_EQ(app.m_sourceList.m_sources.size(), 6u);
  EXPECT_EQ(list->rowCount(), 4);
  EXPECT_EQ(app.m_sourceList.m_pSelectedSource, nullptr);  // it went with them
  ClickRow(3);
  ASSERT_NE(app.m_sourceList.m_pSelectedSource, nullptr);
  EXPECT_EQ(app.m_sourceList.m_pSelectedSource->partition->startSector, layout[3].first);
}

TEST_F(ResumePage, ADamagedDriveScanLoadsNothing) {
  const std::string bytes = test::ReadWholeFile(Scans().driveScan);
  ASSERT_GT(bytes.size(), 4096u);
  // A volume record cut short, the trailer kept; and the banner changed.
  const fs::path cut = dir / "cut.img", foreign = dir / "foreign.img";
  test::WriteWholeFile(cut, bytes.substr(0, 1024 + 600) + bytes.substr(1024 + 700));
  std::string renamed = bytes;
  renamed[101] ^= 0x20;
  test::WriteWholeFile(foreign, renamed);
  MountDamagedDisk();
  Open({IndexEntry(cut, kScanKindDrives, u"03-Feb-2024"), IndexEntry(foreign, kScanKindDrives, u"04-Feb-2024")});
  ASSERT_EQ(page->SavedScanList()->GetItemCount(), 2);
  for (int item : {0, 1}) {
    ClickItem(item);
    EXPECT_EQ(App().m_sourceList.m_sources.size(), 1u) << item;
    EXPECT_EQ(page->VolumeList()->rowCount(), 0) << item;
    EXPECT_EQ(page->PageMode(), 1) << item;
    EXPECT_EQ(App().m_nRecoveryMode, 0u) << item;
    EXPECT_EQ(App().m_nSourceListState.load(), 0u) << item;
  }
  EXPECT_FALSE(page->LoadScanImage(cut));
  EXPECT_TRUE(prompt.texts.empty());
}

TEST_F(ResumePage, TheLostVolumeSearchAddsImageRows) {
  MountDamagedDisk();
  SelectSource(App(), 0);
  Open({});
  page->OnSearchLostVolume();  // the dialog closes itself when the search ends
  test::Settle();
  const auto layout = ManifestLayout();
  CXColorListCtrl* list = page->VolumeList();
  ASSERT_EQ(list->rowCount(), 4);
  for (int row = 0; row < 4; ++row) {
    const std::uint64_t start = layout[static_cast<std::size_t>(row)].first;
    EXPECT_EQ(list->item(row, 0)->text(), QStringLiteral("IMG_Sector_%1").arg(start));
    EXPECT_EQ(list->item(row, 2)->text(), QStringLiteral("FIXED_IMG_LOST"));
  }
  EXPECT_EQ(App().m_nRecoveryMode, kModeSavedDriveScan);
  EXPECT_EQ(App().m_bQuickVolumeSearch.load(), 1u);
  EXPECT_EQ(page->PageMode(), 0);
  auto* search = GetDlgItem(page, CResumeRecovery::kIdSearchLostVolume);
  EXPECT_TRUE(search->isVisible());
  EXPECT_FALSE(search->isEnabled());
  // A found volume is selected like a loaded one.
  ClickRow(1);
  ASSERT_NE(App().m_sourceList.m_pSelectedSource, nullptr);
  EXPECT_EQ(App().m_sourceList.m_pSelectedSource->kind, kSourceImageLostVolume);
  EXPECT_EQ(App().m_scanBounds.m_nMediaLastSector, layout[1].second);
}

TEST_F(ResumePage, ADiskImageEntryOpensNothingButFeedsTheSearch) {
  // A file whose trailer names a disk image (kind 6), which only the index
  // can hold.
  const fs::path image = dir / "disk image.img";
  std::vector<std::uint8_t> bytes(4096, 0);
  ScanImageRecord trailer = IndexEntry(image, CResumeRecovery::kScanKindDiskImage, u"06-Feb-2024");
  trailer.Encode(std::span(bytes).subspan(bytes.size() - 1024).first<kScanImageRecordSize>(), ScanPathForm::Plain);
  test::WriteWholeFile(image, std::string(bytes.begin(), bytes.end()));
  MountDamagedDisk();
  Open({trailer});
  ASSERT_EQ(page->SavedScanList()->GetItemCount(), 1);
  EXPECT_TRUE(page->SavedScanList()->GetItem(0)->strText.contains(QStringLiteral("<b><br>Hard Disk Image</b>")));
  ClickItem(0);
  EXPECT_EQ(page->OpenedKind(), CResumeRecovery::kScanKindDiskImage);
  EXPECT_EQ(App().m_nRecoveryMode, 0u);
  EXPECT_FALSE(dlg->IsOptionsPanelOpen());
  EXPECT_TRUE(prompt.texts.empty());

  // The search gets a disk record for the file while it runs; none is left.
  page->OnSearchLostVolume();
  test::Settle();
  EXPECT_EQ(page->VolumeList()->rowCount(), 4);
  for (const auto& r : App().m_sourceList.m_sources) EXPECT_NE(r->kind, CResumeRecovery::kScanKindDiskImage);
  EXPECT_EQ(App().m_sourceList.m_pSelectedSource, nullptr);
}

TEST(ResumePageIndex, ClosingThePageKeepsScansSavedMeanwhileAndDropsGoneOnes) {
  test::TempDir dir;
  const test::UserFolders folders(dir.path());
  const ScanImageRecord kept = IndexEntry(Scans().volumeScan, kScanKindVolume, u"01-Feb-2024");
  const ScanImageRecord added = IndexEntry(Scans().driveScan, kScanKindDrives, u"03-Feb-2024");
  ASSERT_TRUE(WriteScanIndex({kept, IndexEntry(dir / "gone.img", kScanKindVolume, u"02-Feb-2024")}));
  {
    CResumeRecovery page;
    EXPECT_EQ(page.ShownScans().size(), 1u);
    // Saved while the page is open.
    ASSERT_TRUE(AppendScanIndexRecord(added, nullptr));
  }
  const std::string bytes = test::ReadWholeFile(ScanIndexPath());
  const std::vector<ScanImageRecord> index =
      DecodeScanIndex(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  EXPECT_EQ(index, (std::vector<ScanImageRecord>{kept, added}));

  // An index with no valid entry is left as it is.
  const std::vector<ScanImageRecord> stale = {IndexEntry(dir / "gone.img", kScanKindVolume, u"02-Feb-2024")};
  ASSERT_TRUE(WriteScanIndex(stale));
  const std::string before = test::ReadWholeFile(ScanIndexPath());
  { CResumeRecovery page; }
  EXPECT_EQ(test::ReadWholeFile(ScanIndexPath()), before);
}

}  // namespace
}  // namespace corvan
