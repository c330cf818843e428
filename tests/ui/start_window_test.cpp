#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSysInfo>
#include <QTableWidget>
#include <QTextBrowser>
#include <QThread>
#include <fstream>
#include <string>

#include "app/CORVANApp.h"
#include "app/ui/CAboutDlg.h"
#include "app/ui/CDriveLoad.h"
#include "app/ui/CEula.h"
#include "app/ui/CORVANDlg.h"
#include "ui/CStartPage.h"
#include "app/ui/CTransLayerDlg.h"
#include "app/ui/MainWindows.h"
#include "app/ui/ProgramRun.h"
#include "app/ui/QtPrompt.h"
#include "platform/Folders.h"
#include "support/TestSupport.h"
#include "ui/CSlider.h"
#include "ui/CSliderButton.h"
#include "ui/CTButton.h"
#include "ui/CTransBtn.h"
#include "ui/DialogLayout.h"
#include "ui/HelpViewer.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

void DeletePending() {
  test::Settle();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

class StartWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    App().m_bResumeMode = 0;
    SetProgramEndHandler([this] { ++ended; });
    skin = ShowStartWindow();
    test::Settle();
    dlg = skin->MainDialog();
    ASSERT_NE(dlg, nullptr);
  }
  void TearDown() override {
    if (skin) skin->close();
    if (HelpViewer* help = HelpViewer::Existing()) help->close();
    DeletePending();
    SetProgramEndHandler(nullptr);
  }
  CTButton* Large(int id) const { return GetDlgItemAs<CTButton>(dlg, id); }
  QPointer<CTransLayerDlg> skin;
  CORVANDlg* dlg = nullptr;
  int ended = 0;
};

TEST_F(StartWindow, OpensOnTheNewRecoveryPage) {
  EXPECT_EQ(CurrentMainWindow(), skin.data());
  EXPECT_EQ(MainDlg(), dlg);
  EXPECT_TRUE(skin->isVisible());
  EXPECT_EQ(skin->size(), QSize(640, 700));
  EXPECT_EQ(dlg->geometry(), QRect(0, 0, 640, 700));
  EXPECT_EQ(dlg->Page(), 0);
  EXPECT_TRUE(dlg->DataRecoveryPage()->isVisible());
  EXPECT_FALSE(dlg->ResumeRecoveryPage()->isVisible());
  EXPECT_EQ(dlg->DataRecoveryPage()->geometry(), QRect(0, 0, 582, 528));
  EXPECT_EQ(dlg->PageContainer()->geometry(), CORVANDlg::kPageRect);
  // Large buttons at y 104, 47 high; the third hidden; small ones at y 62.
  EXPECT_EQ(Large(1001)->geometry(), QRect(23, 104, 198, 47));
  EXPECT_EQ(Large(1002)->geometry(), QRect(219, 104, 198, 47));
  EXPECT_FALSE(Large(1003)->isVisible());
  EXPECT_EQ(Large(1001)->State(), 1);
  EXPECT_EQ(Large(1002)->State(), 0);
  EXPECT_EQ(GetDlgItem(dlg, 1008)->geometry(), QRect(544, 62, 22, 23));
  EXPECT_EQ(GetDlgItem(dlg, 1007)->geometry(), QRect(572, 62, 22, 23));
  EXPECT_EQ(GetDlgItem(dlg, 1009)->geometry(), QRect(600, 62, 22, 23));
  EXPECT_EQ(GetDlgItem(dlg, 1009)->toolTip(), QStringLiteral("Help"));
  // The settings dialog is plugged in: its button is enabled.
  EXPECT_TRUE(GetDlgItem(dlg, 1008)->isEnabled());
  // The skin's buttons: minimise, close and help shown.
  for (int id : {1004, 1005, 1009}) EXPECT_TRUE(skin->SkinButton(id)->isVisible()) << id;
}

TEST_F(StartWindow, LargeButtonsSwitchPages) {
  Large(1002)->click();
  EXPECT_EQ(dlg->Page(), 1);
  EXPECT_EQ(App().m_bResumeMode, 1u);
  EXPECT_FALSE(dlg->DataRecoveryPage()->isVisible());
  EXPECT_TRUE(dlg->ResumeRecoveryPage()->isVisible());
  EXPECT_EQ(dlg->ResumeRecoveryPage()->PageMode(), 1);
  EXPECT_EQ(Large(1001)->State(), 0);
  EXPECT_EQ(Large(1002)->State(), 1);
  Large(1001)->click();
  EXPECT_EQ(dlg->Page(), 0);
  EXPECT_EQ(App().m_bResumeMode, 0u);
  EXPECT_TRUE(dlg->DataRecoveryPage()->isVisible());
  EXPECT_EQ(Large(1001)->State(), 1);
}

TEST_F(StartWindow, ResumeModeChoosesThePageOfANewStartWindow) {
  App().m_bResumeMode = 1;
  CTransLayerDlg other;
  other.Create();
  EXPECT_EQ(other.MainDialog()->Page(), 1);
  App().m_bResumeMode = 0;
}

TEST_F(StartWindow, OptionsPanelSlidesOutBesideAndFollows) {
  dlg->ShowOptionsPanel();
  test::Settle();
  CSlider* panel = dlg->OptionsPanel();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(dlg->IsOptionsPanelOpen());
  EXPECT_TRUE(panel->isVisible());
  const QPoint topLeft = dlg->mapToGlobal(QPoint(0, 0));
  EXPECT_EQ(panel->geometry(), QRect(topLeft.x() + 640 - 3, topLeft.y() + 102, panel->width(), 700 - 116));
  EXPECT_EQ(panel->m_nStepDelay, 0);
  dlg->ShowOptionsPanel();  // already open: the same panel
  EXPECT_EQ(dlg->OptionsPanel(), panel);

  skin->move(skin->pos() + QPoint(40, 25));
  test::Settle();
  const QPoint moved = dlg->mapToGlobal(QPoint(0, 0));
  EXPECT_EQ(panel->pos(), QPoint(moved.x() + 637, moved.y() + 102));

  // Every page switch closes the panel.
  QPointer<CSlider> watch(panel);
  Large(1002)->click();
  EXPECT_FALSE(dlg->IsOptionsPanelOpen());
  EXPECT_EQ(dlg->OptionsPanel(), nullptr);
  EXPECT_TRUE(watch.isNull());
}

TEST_F(StartWindow, PanelFromItsSubsystemIsToldWhenClosed) {
  int closed = 0;
  CORVANDlg::Parts().optionsPanel = [&](CORVANDlg& owner) {
    auto* p = new CSlider(&owner, 200);
    QObject::connect(p, &CSlider::PanelClosed, [&] { ++closed; });
    return p;
  };
  dlg->ShowOptionsPanel();
  EXPECT_EQ(dlg->OptionsPanel()->width(), 200);
  skin->SkinButton(1004)->clicked();  // minimise closes it first
  EXPECT_EQ(closed, 1);
  EXPECT_FALSE(dlg->IsOptionsPanelOpen());
  EXPECT_TRUE(skin->isMinimized());
  CORVANDlg::Parts().optionsPanel = nullptr;
}

TEST(SliderSteps, FiveAPixelStepsFromBehindTheOwner) {
  const QRect owner(100, 50, 640, 700);
  const auto open = CSlider::SlideSteps(owner, 230, 1, true);
  ASSERT_EQ(open.size(), 47u);  // 230 / 5 + 1
  EXPECT_EQ(open.front(), 740 - 230 - 3);
  EXPECT_EQ(open[1], open.front() + 5);
  EXPECT_EQ(open.back(), 737);
  const auto close = CSlider::SlideSteps(owner, 230, 1, false);
  EXPECT_EQ(close.front(), 737);
  EXPECT_EQ(close.back(), 507);
  // A width that is no multiple of 5 still lands exactly.
  EXPECT_EQ(CSlider::SlideSteps(owner, 222, 1, true).back(), 737);
  EXPECT_EQ(CSlider::PlaceFor(owner, 230, 0), QRect(100 - 230 + 3, 152, 230, 584));
}

TEST_F(StartWindow, KeysNeverCloseOrPressButSpaceStaysText) {
  auto* edit = new QLineEdit(dlg->DataRecoveryPage());
  auto* button = new QPushButton(QStringLiteral("Browse..."), dlg->DataRecoveryPage());
  edit->show();
  button->show();
  int clicks = 0;
  QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
  for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
    test::SendKey(dlg, key);
    test::SendKey(skin, key);
    test::SendKey(button, key, key == Qt::Key_Space ? QStringLiteral(" ") : QString());
    test::SendKey(Large(1002), key);
  }
  test::Settle();
  EXPECT_TRUE(skin->isVisible());
  EXPECT_EQ(clicks, 0);
  EXPECT_EQ(dlg->Page(), 0);
  test::SendKey(edit, Qt::Key_A, QStringLiteral("a"));
  test::SendKey(edit, Qt::Key_Space, QStringLiteral(" "));
  test::SendKey(edit, Qt::Key_B, QStringLiteral("b"));
  EXPECT_EQ(edit->text(), QStringLiteral("a b"));
  // The mouse still presses the button.
  button->click();
  EXPECT_EQ(clicks, 1);
}

TEST_F(StartWindow, DraggingTheBackgroundMovesTheWindow) {
  const QPoint start = skin->pos();
  test::Press(dlg, QPoint(10, 300));
  const QPointF global(dlg->mapToGlobal(QPoint(60, 330)));
  QMouseEvent move(QEvent::MouseMove, QPointF(60, 330), QPointF(60, 330), global, Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(dlg, &move);
  test::Release(dlg, QPoint(60, 330));
  EXPECT_EQ(skin->pos(), start + QPoint(50, 30));
}

std::string OsReleasePrettyName() {
  std::ifstream in("/etc/os-release");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("PRETTY_NAME=", 0) != 0) continue;
    std::string v = line.substr(12);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'')) v = v.substr(1, v.size() - 2);
    return v;
  }
  return {};
}

TEST_F(StartWindow, AboutShowsVersionAndSystemAndOpensTheLicence) {
  dlg->ShowOptionsPanel();
  QString version, osName, osVersion;
  int eulaRows = -1;
  QString firstRow;
  test::WhenModal([&](QDialog* about) {
    version = GetDlgItemAs<QLabel>(about, CAboutDlg::kIdVersion)->text();
    osName = GetDlgItemAs<QLabel>(about, CAboutDlg::kIdOsName)->text();
    osVersion = GetDlgItemAs<QLabel>(about, CAboutDlg::kIdOsVersion)->text();
    test::WhenModal([&](QDialog* eula) {
      auto* list = GetDlgItemAs<QTableWidget>(eula, CEula::kIdList);
      eulaRows = list->rowCount();
      if (eulaRows > 0) firstRow = list->item(0, 0)->text();
      qobject_cast<QPushButton*>(GetDlgItem(eula, kIdCancel))->click();
    });
    qobject_cast<QPushButton*>(GetDlgItem(about, CAboutDlg::kIdViewLicense))->click();
  });
  GetDlgItemAs<QAbstractButton>(dlg, CORVANDlg::kIdAbout)->click();
  EXPECT_FALSE(dlg->IsOptionsPanelOpen());  // About closes the panel first
  EXPECT_EQ(version, QStringLiteral("v2.0"));
  const std::string pretty = OsReleasePrettyName();
  if (!pretty.empty()) {
    EXPECT_EQ(osName.toStdString(), pretty);
  }
  std::ifstream rel("/proc/sys/kernel/osrelease");
  std::string kernel;
  std::getline(rel, kernel);
  EXPECT_EQ(osVersion.toStdString(), "Linux " + kernel);

  // The licence: one row per line of eula.dat.
  std::ifstream eula(std::string(CORVAN_SOURCE_RESOURCES) + "/eula.dat");
  int lines = 0;
  std::string first;
  for (std::string line; std::getline(eula, line); ++lines)
    if (lines == 0) first = line;
  EXPECT_GT(lines, 10);
  EXPECT_EQ(eulaRows, lines);
  EXPECT_EQ(firstRow.toStdString(), first);
}

TEST(Eula, MissingFileGivesAnEmptyList) {
  test::TempDir dir;
  CEula eula(nullptr, dir / "eula.dat");
  EXPECT_EQ(eula.List()->rowCount(), 0);
  EXPECT_EQ(eula.List()->columnCount(), 1);
}

TEST_F(StartWindow, HelpOpensThePageOfItsContextAndCloses) {
  GetDlgItemAs<QAbstractButton>(dlg, CORVANDlg::kIdHelp)->click();
  test::Settle();
  HelpViewer* help = HelpViewer::Existing();
  ASSERT_NE(help, nullptr);
  EXPECT_TRUE(help->isVisible());
  EXPECT_EQ(help->Context(), 130);
  EXPECT_EQ(help->Browser()->source().fileName(), QStringLiteral("130.html"));
  EXPECT_EQ(help->Browser()->documentTitle(), QStringLiteral("The start screen"));
  qobject_cast<QPushButton*>(GetDlgItem(help, kIdCancel))->click();
  DeletePending();
  EXPECT_EQ(HelpViewer::Existing(), nullptr);
  // The skin's own help button opens the same page.
  skin->SkinButton(1009)->clicked();
  ASSERT_NE(HelpViewer::Existing(), nullptr);
  EXPECT_EQ(HelpViewer::Existing()->Context(), 130);
}

TEST_F(StartWindow, EveryContextOfAShownWindowHasItsPage) {
  for (int id : {CORVANDlg::kHelpContext}) {
    QFile page(QString::fromStdString(HelpPagePath(id).string()));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly)) << id;
    EXPECT_TRUE(page.readAll().contains("<title>")) << id;
  }
  ShowHelpContext(99999);
  EXPECT_TRUE(HelpViewer::Existing()->Browser()->toPlainText().contains(QStringLiteral("99999")));
}

TEST_F(StartWindow, SettingsRunnerEnablesTheSettingButton) {
  QWidget* seen = nullptr;
  CORVANDlg::Parts().runSettings = [&](QWidget* parent) { seen = parent; };
  CTransLayerDlg other;
  other.Create();
  auto* setting = GetDlgItemAs<QAbstractButton>(other.MainDialog(), CORVANDlg::kIdSetting);
  EXPECT_TRUE(setting->isEnabled());
  setting->click();
  EXPECT_EQ(seen, &other);
  CORVANDlg::Parts().runSettings = nullptr;
}

TEST_F(StartWindow, CloseButtonEndsTheProgram) {
  skin->SkinButton(1005)->clicked();
  DeletePending();
  EXPECT_TRUE(skin.isNull());
  EXPECT_EQ(CurrentMainWindow(), nullptr);
  EXPECT_EQ(ended, 1);
}

TEST_F(StartWindow, SwitchingWindowsKeepsOneEventLoop) {
  const int level = QThread::currentThread()->loopLevel();
  for (int round = 0; round < 3; ++round) {
    // To the results window and back, as Back does: no loop is entered.
    QPointer<QWidget> results = new QWidget;
    ShowMainWindow(results);
    DeletePending();
    EXPECT_TRUE(skin.isNull());
    EXPECT_EQ(CurrentMainWindow(), results.data());
    skin = ShowStartWindow();
    DeletePending();
    EXPECT_TRUE(results.isNull());
    EXPECT_EQ(QThread::currentThread()->loopLevel(), level);
  }
  EXPECT_EQ(ended, 0);
  dlg = skin->MainDialog();
  EXPECT_EQ(MainDlg(), dlg);
}

TEST(ProgramStart, PleaseWaitThenLogThenTheStartWindow) {
  App().m_bFirstDriveLoad = 1;
  int ended = 0;
  SetProgramEndHandler([&] { ++ended; });
  QtPrompt prompt;
  QPointer<CTransLayerDlg> skin = StartProgram(prompt);
  ASSERT_FALSE(skin.isNull());
  EXPECT_EQ(CurrentMainWindow(), skin.data());
  EXPECT_TRUE(skin->isVisible());
  EXPECT_EQ(&App().GetPrompt(), &prompt);
  EXPECT_EQ(App().m_nScreenDpi, 96u);
  EXPECT_EQ(App().NextSyntheticId(), -16);
  EXPECT_EQ(App().m_bFirstDriveLoad, 0);  // the please-wait window was shown
  // The log is named and placed (it is written once logging is asked for).
  const auto log = App().LogFilePath();
  EXPECT_EQ(log.parent_path(), UserDataFolder() / "Log");
  EXPECT_NE(log.filename().string().find("_Log_"), std::string::npos) << log;
  skin->close();
  DeletePending();
  EXPECT_EQ(ended, 1);
  SetProgramEndHandler(nullptr);
}

TEST(DriveLoad, ClosesByItselfAndOnlyByItself) {
  App().m_bFirstDriveLoad = 1;
  CDriveLoad first;
  EXPECT_EQ(first.PictureId(), 240u);
  EXPECT_EQ(App().m_bFirstDriveLoad, 0);
  test::WhenModal([](QDialog* dlg) {
    dlg->reject();
    dlg->accept();
    test::SendKey(dlg, Qt::Key_Escape);
    EXPECT_TRUE(dlg->isVisible());
  });
  first.exec();  // returns once its time is up
  EXPECT_TRUE(first.IsDone());
  CDriveLoad later;
  EXPECT_EQ(later.PictureId(), 272u);
  EXPECT_FALSE(GetDlgItem(&later, CDriveLoad::kIdLater)->isHidden());
  EXPECT_TRUE(GetDlgItem(&later, CDriveLoad::kIdFirst)->isHidden());
}

}  // namespace
}  // namespace corvan
