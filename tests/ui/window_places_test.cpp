// Where windows open: dialogs in the middle of their owner, kept on the
// screen; the results window in the middle of the screen; a new start
// window where the user left the last one.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "app/ui/CTransLayerDlg.h"
#include "app/ui/MainWindows.h"
#include <QLabel>

#include "ui/DialogLayout.h"
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

}  // namespace
}  // namespace corvan
