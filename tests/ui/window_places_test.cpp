// Where windows open: dialogs in the middle of their owner, kept on the
// screen; the results window in the middle of the screen; a new start
// window where the user left the last one.

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>

#include "app/ui/CTransLayerDlg.h"
#include "app/ui/MainWindows.h"
#include "ui/DialogLayout.h"
#include "ui/SkinnedDialog.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

QRect ScreenArea() { return QGuiApplication::primaryScreen()->availableGeometry(); }

void ExpectNear(QPoint got, QPoint want) {
  EXPECT_LE((got - want).manhattanLength(), 2) << got.x() << "," << got.y() << " want " << want.x() << ","
                                               << want.y();
}

TEST(WindowPlaces, ADialogOpensInTheMiddleOfItsOwnerAndStaysOnTheScreen) {
  QWidget owner;
  owner.setGeometry(ScreenArea().left() + 40, ScreenArea().top() + 30, 500, 400);
  owner.show();
  test::Settle();
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
