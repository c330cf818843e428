// Where windows open: dialogs in the middle of their owner, kept on the
// screen; the results window in the middle of the screen; a new start
// window where the user left the last one. The second half runs under a
// real window manager (tests/tools/run-under-openbox starts Xvfb and
// openbox and runs it from fresh starts): the program's recovery from the
// start window on, every dialog measured where the X server has its frame.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <memory>
#include <optional>

#include "app/AutoUpdater.h"
#include "app/CORVANApp.h"
#include "app/ui/CMessageBox.h"
#include "app/ui/CORVANDlg.h"
#include "app/ui/CTransLayerDlg.h"
#include "app/ui/CUpdateWizard.h"
#include "app/ui/MainWindows.h"
#include "app/ui/ProgramRun.h"
#include "app/ui/QtPrompt.h"
#include "console/ui/CFileFolderTree.h"
#include "console/ui/CRecoveryConsole.h"
#include "console/ui/CScanProcess.h"
#include "console/ui/ConsoleTestSupport.h"
#include "console/ui/ScanInfoCommand.h"
#include "save/ui/CAbortSaving.h"
#include "save/ui/CFTPSettings.h"
#include "save/ui/CFileExistDlg.h"
#include "save/ui/CSaveProcess.h"
#include "save/ui/CSaveRecovery.h"
#include "scan/ui/CSliderOptionDlg.h"
#include "sources/ui/CDataRecovery.h"
#include "support/TestSupport.h"
#include "ui/CXColorListCtrl.h"
#include "ui/DialogLayout.h"
#include "ui/HelpViewer.h"
#include "ui/ProgressDialogBase.h"
#include "ui/SkinnedDialog.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

QRect ScreenArea() { return QGuiApplication::primaryScreen()->availableGeometry(); }

void ExpectNear(QPoint got, QPoint want) {
  EXPECT_LE((got - want).manhattanLength(), 2) << got.x() << "," << got.y() << " want " << want.x() << ","
                                               << want.y();
}

// An owner window near the screen's top-left corner, shown.
void ShowOwner(QWidget& owner) {
  owner.setGeometry(ScreenArea().left() + 40, ScreenArea().top() + 30, 500, 400);
  owner.show();
  test::Settle();
}

TEST(WindowPlaces, ADialogOpensInTheMiddleOfItsOwnerAndStaysOnTheScreen) {
  QWidget owner;
  ShowOwner(owner);
  CSkinnedDialog dlg(&owner, QSize(200, 120));
  dlg.show();
  test::Settle();
  ExpectNear(dlg.frameGeometry().center(), owner.frameGeometry().center());
  dlg.hide();

  // Near the screen's corner the dialog is moved back onto the screen.
  owner.move(ScreenArea().right() - 100, ScreenArea().bottom() - 60);
  test::Settle();
  CSkinnedDialog corner(&owner, QSize(300, 200));
  corner.show();
  test::Settle();
  EXPECT_TRUE(ScreenArea().contains(corner.frameGeometry())) << "off the screen";
  corner.hide();

  // Without an owner: the middle of the screen.
  CSkinnedDialog alone(nullptr, QSize(200, 120));
  alone.show();
  test::Settle();
  ExpectNear(alone.frameGeometry().center(), ScreenArea().center());
}

TEST(WindowPlaces, ADialogOpensInTheMiddleEachTimeItIsShown) {
  QWidget owner;
  ShowOwner(owner);
  CSkinnedDialog dlg(&owner, QSize(200, 120));
  dlg.show();
  test::Settle();
  dlg.move(dlg.pos() + QPoint(70, 50));  // the user drags it aside
  dlg.hide();
  // The owner moves (or is maximised) while the dialog is closed.
  owner.setGeometry(ScreenArea());
  test::Settle();
  dlg.show();
  test::Settle();
  ExpectNear(dlg.frameGeometry().center(), owner.frameGeometry().center());
  dlg.hide();

  // An owner out of sight (minimised, or hidden by a minimised progress
  // dialog) leaves the dialog in the middle of the screen, not over the
  // place the owner had.
  owner.setGeometry(ScreenArea().left() + 10, ScreenArea().top() + 10, 300, 200);
  owner.showMinimized();
  test::Settle();
  dlg.show();
  test::Settle();
  ExpectNear(dlg.frameGeometry().center(), ScreenArea().center());
  dlg.hide();
  owner.hide();
  test::Settle();
  dlg.show();
  test::Settle();
  ExpectNear(dlg.frameGeometry().center(), ScreenArea().center());
}

// A progress dialog with nothing to do, to see where it opens.
class IdleProgress final : public ProgressDialogBase {
 public:
  explicit IdleProgress(QWidget* owner)
      : ProgressDialogBase(owner, QStringLiteral("Scanning"),
                           Controls{.frameId = 1,
                                    .headingId = 2,
                                    .heading = QStringLiteral("Scanning"),
                                    .mainBarId = 3,
                                    .secondBarId = 4,
                                    .textIds = {5, 6, 7},
                                    .min = {8, "Min", 44, 26},
                                    .stop = {9, "Stop", 52, 30},
                                    .help = {10, "?", 30, 26},
                                    .okId = 11,
                                    .cancelId = 12,
                                    .pushButtonFontSize = 14,
                                    .helpContext = 0,
                                    .workArea = QRect(0, 92, 600, 300)}) {
    PlaceControls();
  }

 protected:
  void RunWorker() override {}
  void OnStarting() override {}
  void OnEnding() override {}
  void AskStop() override {}
  void PlaceControls() override { PlaceOverOwner(290); }
};

TEST(WindowPlaces, AProgressDialogOpensInTheMiddleOfAMaximisedOwner) {
  // A results window filling the screen, its preview area on the right.
  QWidget owner;
  auto* preview = new QLabel(&owner);
  SetDlgCtrlId(preview, 1069);
  preview->setGeometry(336, 92, 600, 300);
  owner.setGeometry(ScreenArea());
  owner.show();
  test::Settle();
  IdleProgress progress(&owner);
  progress.show();
  test::Settle();
  // As wide as the preview area, in the middle of the window, never over
  // its caption at the screen's top.
  EXPECT_EQ(progress.width(), 601);
  ExpectNear(progress.frameGeometry().center(), owner.frameGeometry().center());
  EXPECT_TRUE(ScreenArea().contains(progress.frameGeometry()));
  EXPECT_GT(progress.y(), ScreenArea().top());
}

TEST(WindowPlaces, ANewStartWindowOpensWhereTheLastOneWasLeft) {
  SetProgramEndHandler([] {});
  CTransLayerDlg* first = ShowStartWindow();
  test::Settle();
  const QPoint left = ScreenArea().topLeft() + QPoint(23, 17);
  first->move(left);
  test::Settle();
  // Another window in front closes it, as the results window does.
  ShowMainWindow(new QWidget);
  test::Settle();
  CTransLayerDlg* second = ShowStartWindow();
  test::Settle();
  EXPECT_EQ(second->pos(), left);
  CloseMainWindow();
  test::Settle();
  SetProgramEndHandler(nullptr);
}

// ---------------------------------------------------------------- under a window manager

std::string Text(const QRect& r) {
  return "(" + std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
         std::to_string(r.height()) + ")";
}

// The X server's account of a window, not Qt's: the window manager's frame
// around it is the child of the root window that holds it.
class XServer {
 public:
  XServer() {
    if (auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>()) c_ = x11->connection();
  }
  bool Connected() const { return c_ != nullptr; }

  // Whether a window manager has announced itself on the root window.
  bool HasWindowManager() const {
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    const std::string name = "_NET_SUPPORTING_WM_CHECK";
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 1, name.size(), name.data()), nullptr), &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE) return false;
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> prop(
        xcb_get_property_reply(c_, xcb_get_property(c_, 0, root, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr),
        &std::free);
    return prop && xcb_get_property_value_length(prop.get()) == 4;
  }

  // The frame of `w`'s window on the screen once the window manager has
  // framed and mapped it; nothing before.
  std::optional<QRect> Frame(const QWidget* w) const {
    const xcb_window_t client = static_cast<xcb_window_t>(w->winId());
    std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attrs(
        xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, client), nullptr), &std::free);
    if (!attrs || attrs->map_state != XCB_MAP_STATE_VIEWABLE) return std::nullopt;
    xcb_window_t top = client;
    for (;;) {
      std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
          xcb_query_tree_reply(c_, xcb_query_tree(c_, top), nullptr), &std::free);
      if (!tree) return std::nullopt;
      if (tree->parent == tree->root || tree->parent == XCB_WINDOW_NONE) break;
      top = tree->parent;
    }
    if (top == client) return std::nullopt;  // not framed yet
    std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> g(
        xcb_get_geometry_reply(c_, xcb_get_geometry(c_, top), nullptr), &std::free);
    if (!g) return std::nullopt;
    return QRect(g->x, g->y, g->width + 2 * g->border_width, g->height + 2 * g->border_width);
  }

 private:
  xcb_connection_t* c_ = nullptr;
};

// Runs the event loop for `ms` milliseconds.
void Spin(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// The frame of a shown window once the window manager is done with it: it
// has kept its place for a tenth of a second.
QRect SettledFrame(const QWidget* w) {
  XServer x;
  QElapsedTimer t;
  t.start();
  std::optional<QRect> last;
  int same = 0;
  while (t.elapsed() < 5000) {
    Spin(10);
    const std::optional<QRect> now = x.Frame(w);
    same = now && now == last ? same + 1 : 0;
    last = now;
    if (same >= 10) return *now;
  }
  ADD_FAILURE() << w->metaObject()->className() << " was never framed and still";
  return last.value_or(QRect());
}

// `window` wholly on the screen and, with an owner, in the middle of the
// owner's frame, or as near to it as the screen allows (a few pixels
// either way: the frame's edge is not the window's).
void ExpectPlaced(const std::string& name, const QWidget* window, const QWidget* owner) {
  const QRect frame = SettledFrame(window);
  const QRect area = ScreenArea();
  EXPECT_TRUE(area.contains(frame)) << name << " at " << Text(frame) << " is not wholly on the screen " << Text(area);
  if (!owner) return;
  const QRect around = SettledFrame(owner);
  QRect want(QPoint(0, 0), frame.size());
  want.moveCenter(around.center());
  want.moveLeft(std::clamp(want.left(), area.left(), area.right() + 1 - want.width()));
  want.moveTop(std::clamp(want.top(), area.top(), area.bottom() + 1 - want.height()));
  EXPECT_LE(std::abs(frame.x() - want.x()), 3) << name << " at " << Text(frame) << " over its owner at "
                                               << Text(around) << ", not at " << Text(want);
  EXPECT_LE(std::abs(frame.y() - want.y()), 3) << name << " at " << Text(frame) << " over its owner at "
                                               << Text(around) << ", not at " << Text(want);
}

template <typename T>
T* Control(const QWidget* dlg, int id) {
  T* c = GetDlgItemAs<T>(dlg, id);
  EXPECT_NE(c, nullptr) << "control " << id;
  return c;
}

// Moves the real pointer: presses the left button at `from`, travels by
// `by` in two steps and lets go, while the windows go on handling events.
bool DragPointer(QPoint from, QPoint by) {
  QProcess xdotool;
  const auto at = [](QPoint p) { return QStringList{"mousemove", QString::number(p.x()), QString::number(p.y())}; };
  QStringList args = at(from) + QStringList{"sleep", "0.2", "mousedown", "1", "sleep", "0.2"};
  args += at(from + by / 5) + QStringList{"sleep", "0.2"};
  args += at(from + by) + QStringList{"sleep", "0.3", "mouseup", "1", "sleep", "0.2"};
  xdotool.start(QStringLiteral("xdotool"), args);
  if (!xdotool.waitForStarted(5000)) return false;
  QElapsedTimer t;
  t.start();
  while (xdotool.state() != QProcess::NotRunning && t.elapsed() < 10000) Spin(20);
  return xdotool.exitStatus() == QProcess::NormalExit && xdotool.exitCode() == 0;
}

class WindowPlacesUnderOpenbox : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QStringLiteral("xcb") || !XServer().Connected())
      GTEST_SKIP() << "needs an X server with a window manager; tests/tools/run-under-openbox runs it so";
    if (!XServer().HasWindowManager()) GTEST_SKIP() << "no window manager runs on this X server";
    SetProgramEndHandler([] {});
  }
  void TearDown() override {
    ScanInfoSaveChooser() = saved;
    CSaveProcess::SetBeforeEndHook(nullptr);
    CScanProcess::SetBeforeEndHook(nullptr);
    if (HelpViewer* help = HelpViewer::Existing()) help->close();
    test::CloseTestWindows(answers, console);
    SetProgramEndHandler(nullptr);
    App().m_pPrompt = nullptr;
  }

  ScanInfoFileChooser saved = ScanInfoSaveChooser();
  test::AnsweringPrompt answers;  // for leaving at the end
  QPointer<CRecoveryConsole> console;
  test::TempDir dir;
};

// The recipe from a fresh start: the image path typed, Mount Virtual Disk,
// the NTFS volume, Quick Recovery; the first caption drag of the results
// window; the root ticked and Recover, through the folder chooser and the
// FTP settings to the saving, stopped; then Back asks whether to save the
// scan.
TEST_F(WindowPlacesUnderOpenbox, EveryDialogOfARecoveryOpensOnItsOwnerAndOnTheScreen) {
  QtPrompt prompt;
  StartProgram(prompt);
  CORVANDlg* start = MainDlg();
  ASSERT_NE(start, nullptr);
  auto* page = qobject_cast<CDataRecovery*>(start->DataRecoveryPage());
  ASSERT_NE(page, nullptr);
  auto* path = Control<QLineEdit>(page, CDataRecovery::kIdPath);
  path->setFocus();
  QTest::keyClicks(path, QString::fromStdString((test::CorpusDir() / "disks" / "mbr.vmdk").string()));
  Control<QPushButton>(page, CDataRecovery::kIdMount)->click();
  test::Settle();
  CXColorListCtrl* volumes = page->VolumeList();
  int ntfs = -1;
  for (int r = 0; r < volumes->rowCount(); ++r)
    if (volumes->item(r, 3)->text() == QStringLiteral("NTFS")) ntfs = r;
  ASSERT_GE(ntfs, 0) << "the disk did not mount";
  test::Click(volumes->viewport(), volumes->visualItemRect(volumes->item(ntfs, 0)).center());
  auto* panel = qobject_cast<CSliderOptionDlg*>(start->OptionsPanel());
  ASSERT_NE(panel, nullptr);
  QWidget* quick = GetDlgItem(panel, CSliderOptionDlg::kIdQuick);
  ASSERT_NE(quick, nullptr);
  // The scan's progress dialog is measured before it closes.
  bool scanMeasured = false;
  CScanProcess::SetBeforeEndHook([&](CScanProcess& dlg) {
    scanMeasured = true;
    ExpectPlaced("the scan's progress", &dlg, dlg.parentWidget());
  });
  test::Click(quick, quick->rect().center());
  ASSERT_TRUE(test::WaitFor([this] {
    console = qobject_cast<CRecoveryConsole*>(CurrentMainWindow());
    return console && console->ScanFinished();
  }));
  EXPECT_TRUE(scanMeasured);
  CScanProcess::SetBeforeEndHook(nullptr);
  ExpectPlaced("the results window", console, nullptr);

  {
    SCOPED_TRACE("the first caption drag");
    const QRect before = SettledFrame(console);
    QWidget* caption = GetDlgItem(console, CRecoveryConsole::kIdTitleStrip);
    ASSERT_NE(caption, nullptr);
    const QPoint grip = before.topLeft() + caption->mapTo(console, QPoint(caption->width() / 3, caption->height() / 2));
    ASSERT_TRUE(DragPointer(grip, QPoint(50, 30))) << "xdotool could not move the pointer";
    const QRect after = SettledFrame(console);
    EXPECT_LE((after.topLeft() - (before.topLeft() + QPoint(50, 30))).manhattanLength(), 2)
        << "dragged by (50,30) from " << Text(before) << " to " << Text(after);
  }

  CFileFolderTree* classic = console->Tree(0);
  classic->model()->setData(classic->model()->index(0, 0), QVariant(), Qt::CheckStateRole);
  test::Settle();
  const std::filesystem::path out = dir / "out";
  std::filesystem::create_directories(out);
  QAbstractButton* recover = Control<QAbstractButton>(console, CRecoveryConsole::kIdRecover);
  ASSERT_TRUE(recover->isEnabled());

  // The destination already holds the volume's files that have bytes: the
  // first of them holds the saving at the file-exists question, and Stop
  // then leads to Abort Saving while that file's bytes are copied.
  for (const auto& row : test::ReadTruth(test::CorpusDir() / "ntfs.truth.tsv")) {
    if (row.type != "file" || row.state != "live" || row.size == 0) continue;
    std::filesystem::create_directories((out / row.path).parent_path());
    test::WriteWholeFile(out / row.path, "old");
  }
  bool held = false, aborted = false;
  test::WhenModal<CSaveRecovery>([&](CSaveRecovery* dest) {
    ExpectPlaced("Choose Destination", dest, console);
    test::WhenModal<QFileDialog>([&](QFileDialog* chooser) {
      ExpectPlaced("the folder chooser", chooser, dest);
      chooser->reject();
    });
    Control<QPushButton>(dest, CSaveRecovery::kIdBrowse)->click();
    Control<QRadioButton>(dest, CSaveRecovery::kIdFtp)->click();
    test::WhenModal<CFTPSettings>([&](CFTPSettings* ftp) {
      ExpectPlaced("FTP Settings", ftp, dest);
      ftp->reject();
    });
    Control<QPushButton>(dest, CSaveRecovery::kIdFtpOption)->click();
    Control<QRadioButton>(dest, CSaveRecovery::kIdLocal)->click();
    Control<QLineEdit>(dest, CSaveRecovery::kIdLocalPath)->setText(QString::fromStdString(out.string()));
    test::WhenModal<CFileExistDlg>([&](CFileExistDlg* exists) {
      held = true;
      auto* progress = console->findChild<CSaveProcess*>();
      ASSERT_NE(progress, nullptr);
      ExpectPlaced("the saving progress", progress, console);
      ExpectPlaced("the file-exists question", exists, exists->parentWidget());
      test::WhenModal<CMessageBox>([&](CMessageBox* stop) {
        ExpectPlaced("the stop question", stop, stop->parentWidget());
        Control<QPushButton>(stop, kIdYes)->click();
      });
      Control<QAbstractButton>(progress, CSaveProcess::kIdStop)->click();
      test::WhenModal<CAbortSaving>([&](CAbortSaving* abort) {
        aborted = true;
        ExpectPlaced("Abort Saving", abort, abort->parentWidget());
        Control<QPushButton>(abort, CAbortSaving::kIdAbortNow)->click();
      });
      Control<QPushButton>(exists, CFileExistDlg::kIdOverwrite)->click();
    });
    Control<QPushButton>(dest, CSaveRecovery::kIdOk)->click();
    if (dest->isVisible()) {
      ADD_FAILURE() << "the destination was not taken";
      dest->reject();
    }
  });
  recover->click();
  ASSERT_TRUE(test::WaitFor([this] { return console->findChildren<CSaveProcess*>().isEmpty(); }, 60));
  EXPECT_TRUE(held) << "the saving asked nothing about the files standing at the destination";
  EXPECT_TRUE(aborted) << "Stop did not lead to Abort Saving";

  // Back: the save-scan question, then its file dialog (cancelled: the
  // window stays).
  ScanInfoSaveChooser() = ChooseScanInfoFile;
  bool asked = false;
  test::WhenModal<CMessageBox>([&](CMessageBox* question) {
    asked = true;
    ExpectPlaced("the save-scan question", question, console);
    test::WhenModal<QFileDialog>([&](QFileDialog* file) {
      ExpectPlaced("the save-scan file dialog", file, console);
      file->reject();
    });
    Control<QPushButton>(question, kIdYes)->click();
  });
  Control<QAbstractButton>(console, CRecoveryConsole::kIdBack)->click();
  test::Settle();
  EXPECT_TRUE(asked);
  EXPECT_EQ(CurrentMainWindow(), console.data());
  App().m_pPrompt = &answers;
}

// The help window the update wizard opens lies on the screen, over the
// wizard.
TEST_F(WindowPlacesUnderOpenbox, TheUpdateWizardsHelpWindowOpensOnTheScreen) {
  QtPrompt prompt;
  prompt.Install();
  CTransLayerDlg* start = ShowStartWindow();
  ASSERT_NE(start, nullptr);
  CAutoUpdater updater(App());
  bool shown = false;
  test::WhenModal<CUpdateWizard>([&](CUpdateWizard* wizard) {
    ExpectPlaced("the update wizard", wizard, start);
    wizard->button(QWizard::HelpButton)->click();
    HelpViewer* help = HelpViewer::Existing();
    if (help) {
      shown = true;
      ExpectPlaced("the wizard's Help", help, wizard);
      help->close();
    }
    wizard->reject();
  });
  RunUpdateWizard(updater, start);
  EXPECT_TRUE(shown);
  App().m_pPrompt = &answers;
}

}  // namespace
}  // namespace corvan
