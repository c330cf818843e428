#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QPushButton>
#include <QRadioButton>
#include <atomic>
#include <mutex>
#include <set>
#include <unistd.h>

#include "core/AppServices.h"
#include "app/CORVANApp.h"
#include "core/StringTable.h"
#include "app/SourceSetup.h"
#include "sources/ui/CFileSplittedExtent.h"
#include "sources/ui/CFindVirtualFile.h"
#include "sources/ui/ImageFileSearch.h"
#include "support/TestSupport.h"
#include "ui/CXColorListCtrl.h"
#include "ui/DialogLayout.h"
#include "ui/UiTestSupport.h"
#include "console/ui/ConsoleTestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;

struct RecordingPrompt : Prompt {
  int MessageBox(const std::string& text, unsigned, unsigned) override {
    std::lock_guard lock(mutex);
    asked.push_back(text);
    return kIdOk;
  }
  std::mutex mutex;
  std::vector<std::string> asked;
};

class TempTree : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("corvan-dlg-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    App().m_pPrompt = &prompt;
  }
  void TearDown() override {
    App().m_pPrompt = nullptr;
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  void Touch(const fs::path& p) {
    fs::create_directories(p.parent_path());
    test::WriteWholeFile(p, "x");
  }
  fs::path dir;
  RecordingPrompt prompt;
};

// ---- the walk ----

TEST_F(TempTree, WalkMatchesTheLowerCasedExtensionAndSurvivesLinkLoops) {
  Touch(dir / "a" / "DISK.VMDK");
  Touch(dir / "a" / "b" / "c" / "deep.vmdk");
  Touch(dir / "disk.vmdk.bak");
  Touch(dir / "other.vdi");
  fs::create_directory_symlink(dir, dir / "a" / "loop");  // back to the top
  fs::create_directory_symlink("/proc", dir / "proc-link");
  std::atomic<bool> stop{false};
  std::vector<fs::path> found;
  ImageFileSearch search;
  const std::size_t n = search.Walk(dir, ".vmdk", stop, [&](const fs::path& p) { found.push_back(p); });
  EXPECT_EQ(n, 2u);
  std::vector<std::string> names;
  for (const auto& p : found) names.push_back(p.filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"DISK.VMDK", "deep.vmdk"}));
}

TEST_F(TempTree, WalkStopsBeforeTheNextEntry) {
  for (int i = 0; i < 50; ++i) Touch(dir / ("d" + std::to_string(i)) / "x.vhd");
  std::atomic<bool> stop{false};
  std::size_t seen = 0;
  ImageFileSearch search;
  search.Walk(dir, ".vhd", stop, [&](const fs::path&) {
    if (++seen == 3) stop = true;
  });
  EXPECT_EQ(seen, 3u);
}

TEST(ImageSearchRoots, HomeThenRealFileSystemsWithoutSystemFolders) {
  const auto mounts = ParseMounts(
      "proc /proc proc rw 0 0\n"
      "/dev/sda1 / ext4 rw 0 0\n"
      "sysfs /sys sysfs rw 0 0\n"
      "tmpfs /run tmpfs rw 0 0\n"
      "/dev/sdb1 /media/usb\\040stick vfat rw 0 0\n"
      "devpts /dev/pts devpts rw 0 0\n");
  ASSERT_EQ(mounts.size(), 6u);
  EXPECT_EQ(mounts[4].mountPoint, fs::path("/media/usb stick"));
  EXPECT_EQ(ImageSearchRoots(mounts, "/home/u"),
            (std::vector<fs::path>{"/home/u", "/", "/media/usb stick"}));
  EXPECT_TRUE(IsSystemFolder("/proc/1"));
  EXPECT_TRUE(IsSystemFolder("/dev"));
  EXPECT_FALSE(IsSystemFolder("/devices"));
  EXPECT_EQ(ImageIndexForExtension(".VDI"), 2u);
  EXPECT_EQ(ImageIndexForExtension(".bak"), 0u);
}

// ---- the search dialog ----

TEST_F(TempTree, FindDialogListsTheFilesAndOkHandsOverPathAndType) {
  Touch(dir / "one" / "first.vdi");
  Touch(dir / "two" / "SECOND.VDI");
  Touch(dir / "two" / "third.vmdk");
  App().m_nImageType = 2;
  CFindVirtualFile dlg;
  dlg.show();
  EXPECT_TRUE(GetDlgItemAs<QRadioButton>(&dlg, CFindVirtualFile::kIdVirtualBox)->isChecked());
  EXPECT_FALSE(GetDlgItem(&dlg, kIdOk)->isEnabled());
  // An empty folder box is refused.
  GetDlgItemAs<QComboBox>(&dlg, CFindVirtualFile::kIdFolder)->setEditText(QString());
  dlg.OnFind();
  ASSERT_EQ(prompt.asked.size(), 1u);
  EXPECT_EQ(prompt.asked[0], "Select any folder to find virtual files");

  CFindVirtualFile::FolderChooser() = [&](QWidget*) { return QString::fromStdString(dir.string()); };
  test::Click(GetDlgItem(&dlg, CFindVirtualFile::kIdSelectFolder), QPoint(5, 5));
  CFindVirtualFile::FolderChooser() = nullptr;
  test::Click(GetDlgItem(&dlg, CFindVirtualFile::kIdFind), QPoint(5, 5));
  EXPECT_TRUE(dlg.IsSearching());
  // Cancel and OK wait for the search.
  dlg.OnCancel();
  EXPECT_TRUE(dlg.isVisible() || dlg.IsSearching());
  ASSERT_TRUE(test::WaitFor([&] { return !dlg.IsSearching(); }, 20));
  EXPECT_EQ(dlg.FoundCount(), 2);
  EXPECT_TRUE(GetDlgItem(&dlg, kIdOk)->isEnabled());
  EXPECT_TRUE(GetDlgItem(&dlg, CFindVirtualFile::kIdFind)->isVisible());
  EXPECT_FALSE(GetDlgItem(&dlg, CFindVirtualFile::kIdStop)->isVisible());

  // OK without a selection asks for one.
  dlg.List()->clearSelection();
  dlg.List()->setCurrentCell(-1, -1);
  dlg.OnOK();
  EXPECT_EQ(prompt.asked.back(), "Select any file from list to continue");
  int row = -1;
  for (int r = 0; r < dlg.List()->rowCount(); ++r)
    if (dlg.List()->item(r, 0)->text().endsWith(QStringLiteral("SECOND.VDI"))) row = r;
  ASSERT_GE(row, 0);
  dlg.List()->selectRow(row);
  App().m_nImageType = 0;
  dlg.OnOK();
  EXPECT_EQ(dlg.result(), kIdOk);
  EXPECT_EQ(App().m_nImageType, 2u);
  EXPECT_EQ(App().m_strImagePath, dir / "two" / "SECOND.VDI");
}

TEST_F(TempTree, FindDialogSearchesTheTypedFolderAndListsDescriptorsOnly) {
  // A folder F whose subfolder is the home folder the box offers, holding
  // the corpus's VMware disks: a flat one (descriptor and extent), a split
  // sparse one (descriptor and extent) and a sparse one that holds its own
  // descriptor.
  const fs::path f = dir / "F";
  fs::create_directories(f / "home");
  const fs::path disks = test::CorpusDir() / "disks";
  fs::create_symlink(disks / "mbr-mflat.vmdk", f / "mbr-mflat.vmdk");
  fs::create_symlink(disks / "mbr-mflat-flat.vmdk", f / "mbr-mflat-flat.vmdk");
  fs::create_directories(f / "split");
  fs::create_symlink(disks / "mbr-split-sparse" / "mbr.vmdk", f / "split" / "mbr.vmdk");
  fs::create_symlink(disks / "mbr-split-sparse" / "mbr-s001.vmdk", f / "split" / "mbr-s001.vmdk");
  fs::create_symlink(disks / "mbr.vmdk", f / "mbr.vmdk");
  const char* savedHome = std::getenv("HOME");
  const std::string home = savedHome ? savedHome : "";
  ::setenv("HOME", (f / "home").c_str(), 1);
  App().m_nImageType = 1;
  CFindVirtualFile dlg;
  dlg.show();
  if (savedHome) ::setenv("HOME", home.c_str(), 1);
  else ::unsetenv("HOME");
  auto* box = GetDlgItemAs<QComboBox>(&dlg, CFindVirtualFile::kIdFolder);
  ASSERT_EQ(box->itemText(0).toStdString(), (f / "home").string());
  dlg.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
  box->lineEdit()->setFocus();
  QTest::keyClicks(box->lineEdit(), QString::fromStdString(f.string()));
  EXPECT_EQ(box->currentText().toStdString(), f.string());
  test::Click(GetDlgItem(&dlg, CFindVirtualFile::kIdFind), QPoint(5, 5));
  ASSERT_TRUE(test::WaitFor([&] { return !dlg.IsSearching(); }, 20));
  std::set<std::string> listed;
  for (int r = 0; r < dlg.List()->rowCount(); ++r) listed.insert(dlg.List()->item(r, 0)->text().toStdString());
  const std::set<std::string> descriptors = {(f / "mbr-mflat.vmdk").string(), (f / "split" / "mbr.vmdk").string(),
                                             (f / "mbr.vmdk").string()};
  EXPECT_EQ(listed, descriptors);
  EXPECT_EQ(box->currentText().toStdString(), f.string());
  dlg.OnCancel();
}

TEST_F(TempTree, FindDialogStopEndsTheWalkAndNothingFoundIsSaid) {
  for (int i = 0; i < 200; ++i) Touch(dir / ("d" + std::to_string(i)) / "e" / "f" / "x.txt");
  CFindVirtualFile dlg;
  GetDlgItemAs<QComboBox>(&dlg, CFindVirtualFile::kIdFolder)->setEditText(QString::fromStdString(dir.string()));
  dlg.OnFind();
  dlg.OnStop();
  ASSERT_TRUE(test::WaitFor([&] { return !dlg.IsSearching(); }, 20));
  EXPECT_EQ(dlg.FoundCount(), 0);
  EXPECT_EQ(prompt.asked.back(), "No virtual image file found");
  EXPECT_FALSE(GetDlgItem(&dlg, kIdOk)->isEnabled());
  dlg.OnCancel();
  EXPECT_EQ(dlg.result(), kIdCancel);
}

// ---- the extent list ----

TEST_F(TempTree, ExtentListMarksAMissingFileOnceAndListsSizes) {
  const fs::path src = test::CorpusDir() / "disks" / "mbr-split-sparse";
  for (const char* name : {"mbr.vmdk", "mbr-s001.vmdk"}) fs::copy_file(src / name, dir / name);
  CORVANApp& app = App();
  ASSERT_TRUE(MountAndListSources(app, 1, dir / "mbr.vmdk").mounted);
  CFileSplittedExtent::ExtentListOpenCount() = 0;
  {
    CFileSplittedExtent list;
    ASSERT_EQ(list.List()->rowCount(), 1);
    EXPECT_EQ(list.List()->item(0, 0)->text(), QStringLiteral("mbr-s001.vmdk"));
    EXPECT_EQ(list.List()->item(0, 1)->text(), QStringLiteral("VMDK"));
    EXPECT_EQ(list.List()->item(0, 2)->text().toStdString(), FormatSize(fs::file_size(dir / "mbr-s001.vmdk")));
    EXPECT_EQ(list.List()->item(0, 3)->text().toStdString(), (dir / "mbr-s001.vmdk").string());
    ++CFileSplittedExtent::ExtentListOpenCount();
  }
  // The extent file goes away: a new mount's first opening marks it; the
  // second opening does not mark it again.
  fs::remove(dir / "mbr-s001.vmdk");
  CFileSplittedExtent::ExtentListOpenCount() = 0;
  for (int opening = 0; opening < 2; ++opening) {
    CFileSplittedExtent list;
    ++CFileSplittedExtent::ExtentListOpenCount();
    ASSERT_EQ(list.List()->rowCount(), 1);
    EXPECT_EQ(list.List()->item(0, 0)->text(), QStringLiteral("mbr-s001.vmdk (Missing)")) << opening;
    EXPECT_EQ(list.List()->item(0, 2)->text(), QStringLiteral("File Not Exist"));
    EXPECT_EQ(list.List()->item(0, 3)->text().toStdString(), (dir / "mbr-s001.vmdk").string());
  }
  app.m_sourceList.FreeSourceList();
  app.m_pImage.reset();
}

TEST(ExtentList, AVirtualBoxImageIsOneRow) {
  CORVANApp& app = App();
  const fs::path image = test::CorpusDir() / "disks" / "mbr.vdi";
  ASSERT_TRUE(MountAndListSources(app, 2, image).mounted);
  CFileSplittedExtent::ExtentListOpenCount() = 0;
  CFileSplittedExtent list;
  ASSERT_EQ(list.List()->rowCount(), 1);
  EXPECT_EQ(list.List()->item(0, 0)->text(), QStringLiteral("mbr.vdi"));
  EXPECT_EQ(list.List()->item(0, 1)->text(), QStringLiteral("VDI"));
  EXPECT_EQ(list.List()->item(0, 2)->text().toStdString(), FormatSize(fs::file_size(image)));
  EXPECT_EQ(list.List()->horizontalHeaderItem(3)->text(), QStringLiteral("Image Path"));
  app.m_sourceList.FreeSourceList();
  app.m_pImage.reset();
}

}  // namespace
}  // namespace corvan
