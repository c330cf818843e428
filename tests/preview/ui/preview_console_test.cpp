// Previews in the results window: a click on a file row shows it in place
// of the placeholders, "Show As Hex" shows any file as hex, a folder row and
// every view change bring the placeholders back, and the placeholders' link
// opens the previews' help.

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QMenu>

#include "console/ui/CFileFolderTree.h"
#include "console/ui/CFileListCtrl.h"
#include "console/ui/CRecoveryConsole.h"
#include "console/ui/ConsoleTestSupport.h"
#include "console/ui/FolderListModel.h"
#include "core/RecoveryMode.h"
#include "preview/ui/CHexViewer.h"
#include "preview/ui/CImagePreview.h"
#include "preview/ui/CPreviewArea.h"
#include "scan/ProgramEngines.h"
#include "support/PreviewSamples.h"
#include "ui/CXColorTab.h"
#include "ui/DialogLayout.h"
#include "ui/HelpViewer.h"

namespace corvan {
namespace {

class PreviewInConsole : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    dir_ = test::PreviewSamplesDir(&why);
    if (dir_.empty()) GTEST_SKIP() << why;
    CORVANApp& app = App();
    for (auto* flag : {&app.m_bBusy, &app.m_bAbort, &app.m_bResultsPresent, &app.m_bMaskRunning}) *flag = 0;
    app.m_pScanSession->Release();
    app.m_pPrompt = &prompt_;
    app.m_nRecoveryMode = kModeQuick;
    ASSERT_TRUE(test::SelectImageVolume(app, dir_ / "preview.vmdk", 1, &why)) << why;
    console_ = OpenRecoveryConsole(MakeProgramEngines());
    ASSERT_TRUE(test::WaitFor([this] { return console_ && console_->ScanFinished(); }));
  }
  void TearDown() override {
    if (HelpViewer* help = HelpViewer::Existing()) help->close();
    test::CloseTestWindows(prompt_, console_);
    App().m_pPrompt = nullptr;
  }
  void OpenFolder(const std::string& path) {
    const auto folders = test::TreePaths(console_->Tree(kViewClassic)->Model());
    ASSERT_TRUE(folders.count(path)) << path;
    ASSERT_TRUE(console_->Tree(kViewClassic)->SelectFolderRecord(folders.at(path)));
    test::Settle();
  }
  int RowOf(const std::string& name) {
    FolderListModel* list = console_->List()->Model();
    for (int r = 0; r < list->rowCount(); ++r)
      if (list->CellText(r, FolderListModel::kName) == QString::fromStdString(name)) return r;
    return -1;
  }
  // A click on the row's type cell, away from its check box.
  void ClickRow(int row) {
    CFileListCtrl* list = console_->List();
    const QRect cell = list->visualRect(list->Model()->index(row, FolderListModel::kType));
    test::Click(list->viewport(), cell.center());
    test::Settle();
  }
  bool PlaceholdersShown() {
    return GetDlgItemAs<QLabel>(console_, CRecoveryConsole::kIdPlaceholderText)->isVisible();
  }

  std::filesystem::path dir_;
  test::AnsweringPrompt prompt_;
  QPointer<CRecoveryConsole> console_;
};

TEST_F(PreviewInConsole, AClickedFileShowsInPlaceOfThePlaceholders) {
  EXPECT_TRUE(PlaceholdersShown());
  OpenFolder("live");
  const int row = RowOf("photo.jpg");
  ASSERT_GE(row, 0);
  ClickRow(row);
  CPreviewArea* area = console_->PreviewArea();
  ASSERT_TRUE(test::WaitFor([&] { return area->Ready(); }, 30));
  EXPECT_EQ(area->Shown(), PreviewPane::Image);
  EXPECT_EQ(area->PaneAs<CImagePreview>()->ImageSize(), QSize(200, 150));
  EXPECT_TRUE(console_->PreviewShown());
  EXPECT_TRUE(area->isVisible());
  EXPECT_FALSE(PlaceholdersShown());
  // The pane lies in the preview frame the window publishes.
  const WorkArea& work = App().m_rcWorkArea;
  EXPECT_EQ(area->geometry(), QRect(work.left, work.top, work.right - work.left, work.bottom - work.top));

  // "Show As Hex" of the context menu.
  QMenu* menu = console_->List()->ContextMenuFor(row);
  QAction* hex = nullptr;
  for (QAction* a : menu->actions())
    if (a->data().toInt() == 32773) hex = a;
  ASSERT_NE(hex, nullptr);
  EXPECT_TRUE(hex->isEnabled());
  hex->trigger();
  ASSERT_TRUE(test::WaitFor([&] { return area->Ready(); }, 30));
  EXPECT_EQ(area->Shown(), PreviewPane::Hex);
  EXPECT_EQ(area->PaneAs<CHexViewer>()->HexText(0, 0), QStringLiteral("FF"));  // a JPEG begins FF D8

  // Another view: the placeholders again.
  console_->Tab()->setCurrentIndex(1);
  test::Settle();
  EXPECT_FALSE(area->isVisible());
  EXPECT_TRUE(PlaceholdersShown());
  EXPECT_EQ(area->Pane(), nullptr);
}

TEST_F(PreviewInConsole, AFolderRowShowsThePlaceholdersAndTheLinkOpensHelp) {
  OpenFolder("live");
  ClickRow(RowOf("notes.txt"));
  ASSERT_TRUE(test::WaitFor([&] { return console_->PreviewArea()->Ready(); }, 30));
  EXPECT_EQ(console_->PreviewArea()->Shown(), PreviewPane::Text);
  // The root's list: a folder row previews nothing.
  const auto folders = test::TreePaths(console_->Tree(kViewClassic)->Model());
  console_->Tree(kViewClassic)->SelectFolderRecord(console_->Tree(kViewClassic)->Model()->HandleOf(
      console_->Tree(kViewClassic)->Model()->index(0, 0)));
  test::Settle();
  const int live = RowOf("live");
  ASSERT_GE(live, 0);
  ClickRow(live);
  EXPECT_FALSE(console_->PreviewShown());
  EXPECT_TRUE(PlaceholdersShown());

  auto* link = GetDlgItemAs<QLabel>(console_, CRecoveryConsole::kIdPlaceholderLink);
  ASSERT_TRUE(link->isEnabled());
  test::Click(link, link->rect().center());
  test::Settle();
  ASSERT_NE(HelpViewer::Existing(), nullptr);
  EXPECT_EQ(HelpViewer::Existing()->Context(), CPreviewArea::kHelpContext);
  EXPECT_TRUE(std::filesystem::exists(HelpPagePath(CPreviewArea::kHelpContext)));
}

}  // namespace
}  // namespace corvan
