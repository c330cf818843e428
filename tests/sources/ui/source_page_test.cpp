#include <gtest/gtest.h>

#include <QComboBox>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <unistd.h>

#include "core/AppServices.h"
#include "core/StringTable.h"
#include "app/ui/CORVANDlg.h"
#include "app/ui/CTransLayerDlg.h"
#include "app/ui/MainWindows.h"
#include "console/ui/CFileFolderTree.h"
#include "console/ui/CFileListCtrl.h"
#include "console/ui/CRecoveryConsole.h"
#include "console/ui/FolderListModel.h"
#include "console/ui/FolderTreeModel.h"
#include "core/RecoveryMode.h"
#include "scan/ui/CSliderOptionDlg.h"
#include "sources/ui/CDataRecovery.h"
#include "sources/ui/CFindVirtualFile.h"
#include "sources/ui/CFileSplittedExtent.h"
#include "support/TestSupport.h"
#include "console/ui/ConsoleTestSupport.h"
#include "ui/CDragTitle.h"
#include "ui/CXBitmapButton.h"
#include "ui/CXColorListCtrl.h"
#include "ui/DialogLayout.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;

using test::TreePaths;

QStringList RowTexts(const CXColorListCtrl* list, int row) {
  QStringList texts;
  for (int c = 0; c < list->columnCount(); ++c) texts << list->item(row, c)->text();
  return texts;
}

void ClickRow(CXColorListCtrl* list, int row) {
  const QRect r = list->visualItemRect(list->item(row, 0));
  test::Click(list->viewport(), r.center());
}

void ClickWidget(QWidget* w) { test::Click(w, w->rect().center()); }

class SourcePage : public ::testing::Test {
 protected:
  void SetUp() override {
    CORVANApp& app = App();
    app.m_sourceList.FreeSourceList();
    app.m_sourceList.FreePartitionList();
    app.m_pImage.reset();
    app.m_nImageType = 0;
    app.m_strImagePath.clear();
    app.m_bResumeMode = 0;
    app.m_pPrompt = &prompt;
    SetProgramEndHandler([this] { ++ended; });
    ShowStartWindow();
    test::Settle();
    dlg = MainDlg();
    ASSERT_NE(dlg, nullptr);
    page = qobject_cast<CDataRecovery*>(dlg->DataRecoveryPage());
    ASSERT_NE(page, nullptr);
  }
  void TearDown() override {
    CDataRecovery::FileChooser() = nullptr;
    if (HelpViewer* help = HelpViewer::Existing()) help->close();
    test::CloseTestWindows(prompt, nullptr);
    SetProgramEndHandler(nullptr);
    App().m_pPrompt = nullptr;
  }

  QRadioButton* Radio(int id) const { return GetDlgItemAs<QRadioButton>(page, id); }
  QPushButton* Button(int id) const { return GetDlgItemAs<QPushButton>(page, id); }

  // Chooses the type, browses to `image` (the file dialog's answer is set)
  // and mounts it, all by mouse.
  void BrowseAndMount(int radioId, const fs::path& image) {
    ClickWidget(Radio(radioId));
    QString filterSeen;
    CDataRecovery::FileChooser() = [&](QWidget*, const QString& filter) {
      filterSeen = filter;
      return QString::fromStdString(image.string());
    };
    ClickWidget(Button(CDataRecovery::kIdBrowse));
    EXPECT_EQ(GetDlgItemAs<QLineEdit>(page, CDataRecovery::kIdPath)->text().toStdString(), image.string());
    EXPECT_EQ(GetDlgItemAs<QLineEdit>(page, CDataRecovery::kIdName)->text().toStdString(), image.filename().string());
    EXPECT_EQ(page->ListLayout(), 2);
    ASSERT_TRUE(Button(CDataRecovery::kIdMount)->isEnabled());
    ClickWidget(Button(CDataRecovery::kIdMount));
    test::Settle();
  }

  int VolumeRow(const QString& fs) const {
    for (int r = 0; r < page->VolumeList()->rowCount(); ++r)
      if (page->VolumeList()->item(r, 3)->text() == fs) return r;
    return -1;
  }

  // Selects the volume of `fs`, starts Quick Recovery from the panel and
  // checks the scan's result against the truth of `truthFile`.
  void RecoverAndCompare(const QString& fsText, const std::string& truthFile) {
    const int row = VolumeRow(fsText);
    ASSERT_GE(row, 0) << fsText.toStdString();
    ClickRow(page->VolumeList(), row);
    auto* panel = qobject_cast<CSliderOptionDlg*>(dlg->OptionsPanel());
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(dlg->IsOptionsPanelOpen());
    const QString media = GetDlgItemAs<QLabel>(panel, CSliderOptionDlg::kIdMediaLine)->text();
    // The first three characters of the volume's name, then its file system.
    const QString name = page->VolumeList()->item(row, 0)->text();
    EXPECT_EQ(media, QStringLiteral("Selected Media: %1 Drive (%2)").arg(name.left(3), fsText));
    EXPECT_EQ(App().m_scanBounds.m_nMediaFirstSector, 0u);
    EXPECT_EQ(App().m_scanBounds.m_nMediaLastSector, App().m_sourceList.m_pSelectedSource->partition->sectorCount);
    EXPECT_EQ(CDataRecovery::Remembered().m_bVolumeSelected, 1);

    ClickWidget(GetDlgItem(panel, CSliderOptionDlg::kIdQuick));
    ASSERT_TRUE(test::WaitFor([] { return qobject_cast<CRecoveryConsole*>(CurrentMainWindow()) != nullptr; }, 10));
    auto* console = qobject_cast<CRecoveryConsole*>(CurrentMainWindow());
    EXPECT_EQ(App().m_nRecoveryMode, kModeQuick);
    ASSERT_TRUE(test::WaitFor([console] { return console->ScanFinished(); }));
    test::Settle();

    const auto truth = test::ReadTruth(test::CorpusDir() / truthFile);
    ASSERT_FALSE(truth.empty());
    CFileFolderTree* classic = console->Tree(0);
    const auto paths = TreePaths(classic->Model());
    std::map<std::string, std::set<std::string>> filesByFolder;
    for (const auto& row : truth) {
      if (row.state != "live") continue;
      if (row.type == "dir") {
        EXPECT_TRUE(paths.count(row.path)) << row.path;
      }
      if (row.type != "file") continue;
      const auto slash = row.path.rfind('/');
      filesByFolder[slash == std::string::npos ? "" : row.path.substr(0, slash)].insert(
          slash == std::string::npos ? row.path : row.path.substr(slash + 1));
    }
    for (const auto& [folder, names] : filesByFolder) {
      if (folder.empty()) continue;  // the root's files are checked through its folders' lists below
      ASSERT_TRUE(paths.count(folder)) << folder;
      ASSERT_TRUE(classic->SelectFolderRecord(paths.at(folder)));
      test::Settle();
      FolderListModel* list = console->List()->Model();
      std::set<std::string> listed;
      for (int r = 0; r < list->rowCount(); ++r) listed.insert(ToUtf8(list->CellText(r, FolderListModel::kName)));
      EXPECT_TRUE(std::includes(listed.begin(), listed.end(), names.begin(), names.end())) << folder;
    }
  }

  test::AnsweringPrompt prompt;
  CORVANDlg* dlg = nullptr;
  CDataRecovery* page = nullptr;
  int ended = 0;
};

TEST_F(SourcePage, OpensWithNothingMountedAndMountNeedsAPath) {
  EXPECT_TRUE(Radio(CDataRecovery::kIdVmware)->isChecked());
  EXPECT_EQ(page->ListLayout(), 2);
  EXPECT_FALSE(page->VolumeList()->isVisible());
  EXPECT_FALSE(Button(CDataRecovery::kIdMount)->isEnabled());
  auto* path = GetDlgItemAs<QLineEdit>(page, CDataRecovery::kIdPath);
  path->setFocus();
  test::SendKey(path, Qt::Key_A, QStringLiteral("a"));
  EXPECT_FALSE(Button(CDataRecovery::kIdMount)->isEnabled());  // one character is not enough
  test::SendKey(path, Qt::Key_B, QStringLiteral("b"));
  EXPECT_TRUE(Button(CDataRecovery::kIdMount)->isEnabled());
}

TEST_F(SourcePage, VmwareImageFromBrowseToTheScannedFat32Volume) {
  BrowseAndMount(CDataRecovery::kIdVmware, test::CorpusDir() / "disks" / "mbr.vmdk");
  EXPECT_TRUE(prompt.asked.empty());
  EXPECT_EQ(page->ListLayout(), 0);
  EXPECT_TRUE(page->VolumeList()->isVisible());
  EXPECT_FALSE(page->DiskList()->isVisible());
  // The image's details.
  EXPECT_EQ(GetDlgItemAs<QLabel>(page, CDataRecovery::kIdKind)->text(), QStringLiteral("monolithicSparse"));
  EXPECT_EQ(GetDlgItemAs<QLabel>(page, CDataRecovery::kIdSize)->text().toStdString(),
            FormatSize(App().m_pImage->State().m_nDiskBytes));

  // The hard-disk row and the four volumes of the manifest, in disk order.
  ASSERT_EQ(page->DiskList()->rowCount(), 1);
  const QStringList disk = RowTexts(page->DiskList(), 0);
  EXPECT_EQ(disk.mid(0, 4), (QStringList{"VMware", "Virtual Drive", "Physical Drive", "0"}));
  EXPECT_EQ(disk[4].toStdString(), ToUtf8(ToQString(FormatSizeText(App().m_pImage->SectorCount()))));
  const struct {
    const char* fs;
    std::uint64_t sectors;
  } volumes[] = {{"NTFS", 98304}, {"FAT32", 81920}, {"exFAT", 65536}, {"FAT", 49152}};
  ASSERT_EQ(page->VolumeList()->rowCount(), 4);
  for (int r = 0; r < 4; ++r) {
    const QStringList row = RowTexts(page->VolumeList(), r);
    EXPECT_EQ(row[0], QStringLiteral("VMDK-Vol %1").arg(r));
    EXPECT_EQ(row[1], QStringLiteral("VirtualVol"));
    EXPECT_EQ(row[2], QStringLiteral("FIXED"));
    EXPECT_EQ(row[3], QString::fromLatin1(volumes[r].fs));
    EXPECT_EQ(row[4], ToQString(FormatSizeText(volumes[r].sectors))) << r;
  }
  RecoverAndCompare(QStringLiteral("FAT32"), "fat32.truth.tsv");
}

TEST_F(SourcePage, VirtualBoxImageToTheScannedNtfsVolume) {
  BrowseAndMount(CDataRecovery::kIdVirtualBox, test::CorpusDir() / "disks" / "mbr.vdi");
  EXPECT_EQ(GetDlgItemAs<QLabel>(page, CDataRecovery::kIdKind)->text(), QStringLiteral("Dynamic"));
  ASSERT_EQ(page->DiskList()->rowCount(), 1);
  EXPECT_EQ(page->DiskList()->item(0, 0)->text(), QStringLiteral("VirtualBox"));
  EXPECT_EQ(page->VolumeList()->rowCount(), 4);
  RecoverAndCompare(QStringLiteral("NTFS"), "ntfs.truth.tsv");
}

TEST_F(SourcePage, VirtualPcImageToTheScannedExFatVolume) {
  BrowseAndMount(CDataRecovery::kIdVirtualPc, test::CorpusDir() / "disks" / "mbr.vhd");
  EXPECT_EQ(GetDlgItemAs<QLabel>(page, CDataRecovery::kIdKind)->text(), QStringLiteral("Dynamic"));
  EXPECT_EQ(page->DiskList()->item(0, 0)->text(), QStringLiteral("VirtualPC"));
  RecoverAndCompare(QStringLiteral("exFAT"), "exfat.truth.tsv");
}

class SourcePageFiles : public SourcePage {
 protected:
  void SetUp() override {
    SourcePage::SetUp();
    dir = fs::temp_directory_path() / ("corvan-page-" + std::to_string(::getpid()));
    fs::create_directories(dir);
  }
  void TearDown() override {
    SourcePage::TearDown();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path Write(const std::string& name, std::string bytes) {
    const fs::path p = dir / name;
    test::WriteWholeFile(p, bytes);
    return p;
  }
  fs::path dir;
};

TEST_F(SourcePageFiles, AFileThatIsNoImage) {
  const fs::path text = Write("notes.vdi", std::string(64 * 1024, 'x'));
  for (int radio : {CDataRecovery::kIdVirtualBox, CDataRecovery::kIdVirtualPc}) {
    prompt.asked.clear();
    BrowseAndMount(radio, text);
    EXPECT_TRUE(prompt.Asked(592)) << radio;
    EXPECT_EQ(page->ListLayout(), 2);
    EXPECT_EQ(page->VolumeList()->rowCount(), 0);
  }
  // Typed VMware, the file is read as a disk for Raw Recovery.
  prompt.asked.clear();
  BrowseAndMount(CDataRecovery::kIdVmware, text);
  EXPECT_TRUE(prompt.Asked(593));
  EXPECT_EQ(page->ListLayout(), 0);
  EXPECT_EQ(page->VolumeList()->rowCount(), 0);
  ASSERT_EQ(page->DiskList()->rowCount(), 1);
  // The link opens the hard-disk list; its row selects the disk for Raw
  // Recovery and the lost-volume search.
  ClickWidget(GetDlgItem(page, CDataRecovery::kIdLostLink));
  EXPECT_EQ(page->ListLayout(), 1);
  EXPECT_TRUE(page->DiskList()->isVisible());
  EXPECT_EQ(GetDlgItemAs<QLabel>(page, CDataRecovery::kIdLostLink)->text(), ToQString(LoadString(135)));
  ClickRow(page->DiskList(), 0);
  auto* panel = qobject_cast<CSliderOptionDlg*>(dlg->OptionsPanel());
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(GetDlgItemAs<QLabel>(panel, CSliderOptionDlg::kIdMediaLine)->text(), QStringLiteral("Selected Media: Disk No 0"));
  EXPECT_TRUE(GetDlgItem(panel, CSliderOptionDlg::kIdRaw)->isVisible());
  EXPECT_FALSE(GetDlgItem(panel, CSliderOptionDlg::kIdQuick)->isVisible());
  EXPECT_TRUE(GetDlgItem(panel, CSliderOptionDlg::kIdLostVolume)->isVisible());
  EXPECT_TRUE(GetDlgItem(panel, CSliderOptionDlg::kIdLostVolume)->isEnabled());
  EXPECT_EQ(App().m_scanBounds.m_nMediaLastSector, 64u * 1024 / 512);
  ClickWidget(GetDlgItem(page, CDataRecovery::kIdArrow));
  EXPECT_EQ(page->ListLayout(), 0);
}

TEST_F(SourcePageFiles, AnImageWithoutPartitionsListsTheDiskAlone) {
  std::string disk(1024 * 1024, '\0');
  disk[510] = 0x55;
  disk[511] = static_cast<char>(0xAA);
  BrowseAndMount(CDataRecovery::kIdVmware, Write("blank.vmdk", disk));
  EXPECT_TRUE(prompt.Asked(593));
  EXPECT_FALSE(prompt.Asked(592));
  EXPECT_EQ(page->VolumeList()->rowCount(), 0);
  EXPECT_EQ(page->DiskList()->rowCount(), 1);
}

TEST_F(SourcePageFiles, APathTheRecordsCannotHoldIsRefused) {
  fs::path deep = dir;
  while (deep.string().size() < 300) deep /= std::string(40, 'd');
  fs::create_directories(deep);
  const fs::path image = deep / "mbr.vmdk";
  fs::copy_file(test::CorpusDir() / "disks" / "mbr.vmdk", image);
  // Browse refuses it with a message rather than cutting it.
  CDataRecovery::FileChooser() = [&](QWidget*, const QString&) { return QString::fromStdString(image.string()); };
  ClickWidget(Button(CDataRecovery::kIdBrowse));
  ASSERT_EQ(prompt.asked.size(), 1u);
  EXPECT_NE(prompt.asked.back().find("too long"), std::string::npos);
  EXPECT_TRUE(GetDlgItemAs<QLineEdit>(page, CDataRecovery::kIdPath)->text().isEmpty());
  // Typed in, Mount refuses it too and mounts nothing.
  GetDlgItemAs<QLineEdit>(page, CDataRecovery::kIdPath)->setText(QString::fromStdString(image.string()));
  ClickWidget(Button(CDataRecovery::kIdMount));
  ASSERT_EQ(prompt.asked.size(), 2u);
  EXPECT_NE(prompt.asked.back().find("too long"), std::string::npos);
  EXPECT_TRUE(App().m_sourceList.m_sources.empty());
  EXPECT_FALSE(App().m_pImage);
  // 259 units still fit.
  EXPECT_TRUE(CDataRecovery::PathFitsRecords("/" + std::string(258, 'a')));
  EXPECT_FALSE(CDataRecovery::PathFitsRecords("/" + std::string(259, 'a')));
}

TEST_F(SourcePage, ReplacingAMountedImageAsksAndCancelKeepsItsType) {
  BrowseAndMount(CDataRecovery::kIdVirtualBox, test::CorpusDir() / "disks" / "mbr.vdi");
  ASSERT_EQ(page->VolumeList()->rowCount(), 4);
  // Cancelled Browse under another type: the radios go back to VirtualBox.
  ClickWidget(Radio(CDataRecovery::kIdVmware));
  CDataRecovery::FileChooser() = [](QWidget*, const QString&) { return QString(); };
  ClickWidget(Button(CDataRecovery::kIdBrowse));
  EXPECT_TRUE(Radio(CDataRecovery::kIdVirtualBox)->isChecked());
  EXPECT_FALSE(Radio(CDataRecovery::kIdVmware)->isChecked());
  // Another file, answered No: the mounted image stays listed.
  prompt.answer = kIdNo;
  CDataRecovery::FileChooser() = [](QWidget*, const QString&) {
    return QString::fromStdString((test::CorpusDir() / "disks" / "gpt.vdi").string());
  };
  ClickWidget(Button(CDataRecovery::kIdBrowse));
  EXPECT_TRUE(prompt.Asked(591));
  EXPECT_EQ(page->VolumeList()->rowCount(), 4);
  EXPECT_EQ(page->ListLayout(), 0);
  // Yes drops the lists until the next mount.
  prompt.answer = kIdYes;
  ClickWidget(Button(CDataRecovery::kIdBrowse));
  EXPECT_EQ(page->ListLayout(), 2);
  EXPECT_TRUE(App().m_sourceList.m_sources.empty());
  ClickWidget(Button(CDataRecovery::kIdMount));
  EXPECT_EQ(page->VolumeList()->rowCount(), 2);  // the GPT disk's two volumes
}

TEST_F(SourcePage, FindingTheMountedImageAgainAsksAsBrowseDoes) {
  const fs::path image = test::CorpusDir() / "disks" / "mbr.vmdk";
  BrowseAndMount(CDataRecovery::kIdVmware, image);
  ASSERT_EQ(page->VolumeList()->rowCount(), 4);
  const auto findAndChoose = [&] {
    test::WhenModal([&](QDialog* dlg) {
      auto* find = qobject_cast<CFindVirtualFile*>(dlg);
      ASSERT_NE(find, nullptr);
      GetDlgItemAs<QComboBox>(find, CFindVirtualFile::kIdFolder)
          ->setEditText(QString::fromStdString(image.parent_path().string()));
      find->OnFind();
      ASSERT_TRUE(test::WaitFor([find] { return !find->IsSearching(); }, 20));
      for (int r = 0; r < find->List()->rowCount(); ++r)
        if (find->List()->item(r, 0)->text() == QString::fromStdString(image.string())) find->List()->selectRow(r);
      find->OnOK();
      if (find->isVisible()) find->OnCancel();
    });
    ClickWidget(Button(CDataRecovery::kIdFind));
  };
  prompt.answer = kIdNo;
  findAndChoose();
  EXPECT_TRUE(prompt.Asked(591));
  EXPECT_EQ(page->VolumeList()->rowCount(), 4);
  prompt.answer = kIdYes;
  findAndChoose();
  EXPECT_EQ(page->ListLayout(), 2);
  EXPECT_TRUE(App().m_sourceList.m_sources.empty());
  ClickWidget(Button(CDataRecovery::kIdMount));
  EXPECT_EQ(page->VolumeList()->rowCount(), 4);
}

TEST_F(SourcePage, KeyboardChoosesAVolumeAndClickOutsideSelectsNothing) {
  BrowseAndMount(CDataRecovery::kIdVmware, test::CorpusDir() / "disks" / "mbr.vmdk");
  CXColorListCtrl* list = page->VolumeList();
  // Below the last row: nothing is selected and no panel opens.
  test::Click(list->viewport(), QPoint(10, list->viewport()->height() - 3));
  EXPECT_FALSE(dlg->IsOptionsPanelOpen());
  EXPECT_EQ(App().m_scanBounds.m_nMediaLastSector, 0u);
  list->setFocus();
  list->setCurrentCell(2, 0);
  test::SendKey(list, Qt::Key_Return);
  ASSERT_TRUE(dlg->IsOptionsPanelOpen());
  EXPECT_EQ(App().m_sourceList.m_pSelectedSource->partition->fileSystemText, u"exFAT");
  EXPECT_EQ(CDataRecovery::Remembered().m_strSelectedFsText, u"exFAT");
  EXPECT_EQ(App().m_scanBounds.m_nRegionLastSector, 65536u);
}

TEST_F(SourcePage, PressingALinkNeverMovesTheWindow) {
  BrowseAndMount(CDataRecovery::kIdVmware, test::CorpusDir() / "disks" / "mbr.vmdk");
  auto saved = WindowDrag::SystemMove();
  int asked = 0;
  WindowDrag::SystemMove() = [&](QWindow*) {
    ++asked;
    return false;
  };
  QWidget* skin = CurrentMainWindow();
  ASSERT_NE(skin, nullptr);
  const QPoint start = skin->pos();
  // A hand that slips while clicking the size link: the list of the
  // image's files opens and the window stays.
  auto* size = GetDlgItemAs<QLabel>(page, CDataRecovery::kIdSize);
  int opened = 0;
  test::WhenModal([&](QDialog* d) {
    ++opened;
    d->reject();
  });
  const QPoint at = size->rect().center();
  test::Press(size, at);
  test::Drag(size, at + QPoint(40, 30));
  test::Release(size, at);
  EXPECT_EQ(opened, 1);
  EXPECT_EQ(skin->pos(), start);
  // The lost-volume link the same way: the lists switch, the window stays.
  QWidget* lost = GetDlgItem(page, CDataRecovery::kIdLostLink);
  test::Press(lost, QPoint(5, 5));
  test::Drag(lost, QPoint(45, 35));
  test::Release(lost, QPoint(5, 5));
  EXPECT_EQ(page->ListLayout(), 1);
  EXPECT_EQ(skin->pos(), start);
  EXPECT_EQ(asked, 0);
  WindowDrag::SystemMove() = saved;
}

TEST_F(SourcePage, ThePageComesBackWithTheMountedImageFromTheResultsWindow) {
  BrowseAndMount(CDataRecovery::kIdVirtualPc, test::CorpusDir() / "disks" / "mbr.vhd");
  ShowStartWindow();  // as the results window's Back does
  test::Settle();
  auto* again = qobject_cast<CDataRecovery*>(MainDlg()->DataRecoveryPage());
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->ListLayout(), 0);
  EXPECT_EQ(again->VolumeList()->rowCount(), 4);
  EXPECT_TRUE(GetDlgItemAs<QRadioButton>(again, CDataRecovery::kIdVirtualPc)->isChecked());
  EXPECT_EQ(GetDlgItemAs<QLabel>(again, CDataRecovery::kIdKind)->text(), QStringLiteral("Dynamic"));
  EXPECT_EQ(GetDlgItemAs<QLineEdit>(again, CDataRecovery::kIdName)->text(), QStringLiteral("mbr.vhd"));
}

}  // namespace
}  // namespace corvan
