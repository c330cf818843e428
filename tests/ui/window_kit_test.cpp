#include <gtest/gtest.h>

#include <QComboBox>
#include <QHeaderView>
#include <QPainter>

#include "app/ui/CMessageBox.h"
#include "ui/CDragTitle.h"
#include "ui/CTButton.h"
#include "ui/CTransBtn.h"
#include "ui/CTransDlg.h"
#include "ui/CXBitmapButton.h"
#include "ui/CXColorListCtrl.h"
#include "ui/CXColorTab.h"
#include "ui/DialogLook.h"
#include "ui/SharedLook.h"
#include "ui/UiTestSupport.h"
#include "ui/XTipComboBox.h"

namespace corvan {
namespace {

using test::Pixel;
using test::Rgb;

TEST(DialogColours, ColorRefValuesAreBlueGreenRed) {
  EXPECT_EQ(RgbFromColorRef(0xF1FFF4) & 0xFFFFFF, Rgb(244, 255, 241));
  EXPECT_EQ(RgbFromColorRef(0xCEE9DD) & 0xFFFFFF, Rgb(0xDD, 0xE9, 0xCE));
  EXPECT_EQ(ToColorRef(QColor(0x12, 0x34, 0x56)), 0x563412u);
}

TEST(DialogColours, CaptionBandRowsDarkenDownwards) {
  EXPECT_EQ(CaptionBandColour(0).rgb() & 0xFFFFFF, Rgb(0x7D, 0xA0, 0x50));
  // -89/35, -108/35 and -60/35 truncated toward zero: -2, -3, -1.
  EXPECT_EQ(CaptionBandColour(1).rgb() & 0xFFFFFF, Rgb(123, 157, 79));
  // Row 34: -86, -104, -58.
  EXPECT_EQ(CaptionBandColour(34).rgb() & 0xFFFFFF, Rgb(39, 56, 22));
}

// The painted background of a skinned dialog, checked on a message box.
TEST(DialogColours, SkinnedDialogBackgroundBandAndRules) {
  CMessageBox box(QStringLiteral("Text"), kPicInformation, kMbOk);
  const QImage img = test::Render(&box);
  ASSERT_EQ(img.width(), CMessageBox::kWidth);
  for (int k = 0; k < 35; ++k) {
    const int r = 0x7D + (-89 * k / 35), g = 0xA0 + (-108 * k / 35), b = 0x50 + (-60 * k / 35);
    EXPECT_EQ(Pixel(img, 370, k), Rgb(r & 0xFF, g & 0xFF, b & 0xFF)) << "row " << k;
  }
  EXPECT_EQ(Pixel(img, 370, 35), Rgb(0xA8, 0xC3, 0x00));  // COLORREF 0x00C3A8
  EXPECT_EQ(Pixel(img, 370, 36), Rgb(0xDC, 0xF0, 0xC8));  // COLORREF 0xC8F0DC
  EXPECT_EQ(Pixel(img, 5, 37), Rgb(244, 255, 241));
  EXPECT_EQ(Pixel(img, 5, 205), Rgb(244, 255, 241));
  // The product name in the caption colour, from (8, 8).
  int caption = 0, leftOfText = 0;
  for (int y = 8; y < 30; ++y)
    for (int x = 0; x < 200; ++x) {
      if (Pixel(img, x, y) != Rgb(244, 255, 241)) continue;
      ++caption;
      if (x < 8) ++leftOfText;
    }
  EXPECT_GT(caption, 30);
  EXPECT_EQ(leftOfText, 0);
}

TEST(DragTitle, DraggingTheCaptionMovesTheDialog) {
  CMessageBox box(QStringLiteral("Text"), kPicInformation, kMbOk);
  box.move(100, 100);
  test::Render(&box);
  CDragTitle* title = box.CaptionStrip();
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->geometry(), QRect(0, 0, CMessageBox::kWidth, 35));
  const QPoint start = box.pos();
  test::Press(title, QPoint(50, 10));
  EXPECT_TRUE(title->IsDragging());
  // Events carry global positions; move the pointer 30 right, 20 down.
  const QPointF global(title->mapToGlobal(QPoint(80, 30)));
  QMouseEvent move(QEvent::MouseMove, QPointF(80, 30), QPointF(80, 30), global, Qt::NoButton, Qt::LeftButton,
                   Qt::NoModifier);
  QApplication::sendEvent(title, &move);
  test::Release(title, QPoint(80, 30));
  EXPECT_FALSE(title->IsDragging());
  EXPECT_EQ(box.pos(), start + QPoint(30, 20));
}

// Sends a mouse event to `w` whose global position is `origin` + `at`, as
// the window system reports it whether or not the window has moved since.
void SendAt(QWidget* w, QEvent::Type type, QPoint origin, QPoint at, Qt::MouseButton button, Qt::MouseButtons held) {
  const QPointF global(origin + at);
  const QPointF local(w->mapFromGlobal(global.toPoint()));
  QMouseEvent e(type, local, local, global, button, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

TEST(DragTitle, TheMoveBeginsWhenThePointerTravelsAndEndsWithoutTheButton) {
  auto saved = WindowDrag::SystemMove();
  int asked = 0;
  WindowDrag::SystemMove() = [&](QWindow*) {
    ++asked;
    return false;  // no move of the window system's: the window follows the pointer
  };
  CMessageBox box(QStringLiteral("Text"), kPicInformation, kMbOk);
  box.move(100, 100);
  test::Render(&box);
  CDragTitle* title = box.CaptionStrip();
  const QPoint origin = title->mapToGlobal(QPoint(0, 0));
  const QPoint start = box.pos();
  auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons held) {
    SendAt(title, type, origin, at, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held);
  };

  // A click, and a press that trembles less than the drag distance, move
  // nothing and ask the window system for nothing.
  send(QEvent::MouseButtonPress, QPoint(50, 10), Qt::LeftButton);
  send(QEvent::MouseButtonRelease, QPoint(50, 10), Qt::NoButton);
  send(QEvent::MouseButtonPress, QPoint(50, 10), Qt::LeftButton);
  send(QEvent::MouseMove, QPoint(51, 11), Qt::LeftButton);
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(box.pos(), start);

  // Past it, with the button held, the move begins once.
  send(QEvent::MouseMove, QPoint(80, 30), Qt::LeftButton);
  send(QEvent::MouseMove, QPoint(90, 40), Qt::LeftButton);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(box.pos(), start + QPoint(40, 30));

  // The release went to another window: the first move without the button
  // ends the drag where it is, and the window no longer follows.
  send(QEvent::MouseMove, QPoint(200, 150), Qt::NoButton);
  EXPECT_FALSE(title->IsDragging());
  send(QEvent::MouseMove, QPoint(260, 190), Qt::LeftButton);
  EXPECT_EQ(box.pos(), start + QPoint(40, 30));
  WindowDrag::SystemMove() = saved;
}

QPixmap FourStateStrip(int w, int h) {
  QPixmap strip(4 * w, h);
  QPainter p(&strip);
  const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::yellow};
  for (int i = 0; i < 4; ++i) p.fillRect(QRect(i * w, 0, w, h), colours[i]);
  return strip;
}

TEST(StripButtons, EachStateShowsItsSliceOfTheStrip) {
  QWidget host;
  host.resize(100, 60);
  CTButton button(&host);
  button.SetStrip(FourStateStrip(20, 10), 20, 10, 5, 7);
  EXPECT_EQ(button.geometry(), QRect(5, 7, 20, 10));
  EXPECT_EQ(button.StateRect(2), QRect(40, 0, 20, 10));
  button.SetState(2);
  EXPECT_EQ(Pixel(test::Render(&button), 10, 5), Rgb(0, 0, 255));
  button.SetState(7);  // not a state: unchanged
  EXPECT_EQ(button.State(), 2);
  button.SetState(0);
  EXPECT_EQ(Pixel(test::Render(&button), 10, 5), Rgb(255, 0, 0));
  // A press moves the normal state to the selected one.
  test::Press(&button, QPoint(3, 3));
  EXPECT_EQ(button.State(), 1);
  test::Release(&button, QPoint(3, 3));
}

TEST(StripButtons, BitmapButtonFollowsThePointer) {
  CXBitmapButton button;
  button.SetStrip(FourStateStrip(20, 10), 20, 10, 0, 0);
  button.show();
  test::Enter(&button);
  EXPECT_EQ(button.State(), 1);
  test::Press(&button, QPoint(3, 3));
  EXPECT_EQ(button.State(), 2);
  test::Release(&button, QPoint(3, 3));
  test::Leave(&button);
  EXPECT_EQ(button.State(), 0);
  // Tooltips: an empty text changes nothing.
  button.SetTooltipText(QStringLiteral("About"), true);
  button.SetTooltipText(QString(), true);
  EXPECT_EQ(button.toolTip(), QStringLiteral("About"));
}

TEST(ColourList, RowsAlternateAndLostRowsTakeTheLostColour) {
  QWidget host;
  host.resize(420, 200);
  CXColorListCtrl list;
  CreateReportList(&host, 1041, QRect(0, 0, 420, 200), list);
  list.setColumnCount(3);
  list.AppendRow({"VMDK-Vol 0", "x", "FIXED"});
  list.AppendRow({"VMDK-Vol 1", "x", "FIXED_IMG_LOST"});
  list.AppendRow({"VMDK-Vol 2", "x", "FIXED_LOST"});
  list.clearSelection();
  list.setCurrentIndex(QModelIndex());
  EXPECT_FALSE(list.RowTextColour(0).isValid());
  EXPECT_EQ(list.RowTextColour(1), FromColorRef(0x966400));
  EXPECT_EQ(list.RowTextColour(2), FromColorRef(0x966400));

  const QImage img = test::Render(&host);
  const QPoint origin = list.viewport()->mapTo(&host, QPoint(0, 0));
  const auto rowPixel = [&](int row) {
    const int y = list.rowViewportPosition(row) + list.rowHeight(row) / 2;
    return Pixel(img, origin.x() + list.columnViewportPosition(1) + 30, origin.y() + y);
  };
  EXPECT_EQ(rowPixel(0), Rgb(0xDD, 0xE9, 0xCE));  // even rows 0xCEE9DD
  EXPECT_EQ(rowPixel(1), Rgb(0xF6, 0xF8, 0xFA));  // odd rows 0xFAF8F6
  EXPECT_EQ(rowPixel(2), Rgb(0xDD, 0xE9, 0xCE));
  // Below the last row the bands go on.
  const int below = list.rowViewportPosition(2) + list.rowHeight(2);
  const int h = list.verticalHeader()->defaultSectionSize();
  EXPECT_EQ(Pixel(img, origin.x() + 300, origin.y() + below + h / 2), Rgb(0xF6, 0xF8, 0xFA));
  EXPECT_EQ(Pixel(img, origin.x() + 300, origin.y() + below + h + h / 2), Rgb(0xDD, 0xE9, 0xCE));
  // The lost row's text is drawn in the lost colour.
  bool lostText = false;
  for (int x = 0; x < list.columnWidth(0); ++x)
    for (int y = list.rowViewportPosition(2); y < below; ++y)
      lostText |= Pixel(img, origin.x() + x, origin.y() + y) == Rgb(0x00, 0x64, 0x96);
  EXPECT_TRUE(lostText);
}

TEST(TabColours, ScaleAndLighten) {
  EXPECT_EQ(ScaleColor(0x808080, 0.5f), 0x404040u);
  EXPECT_EQ(ScaleColor(0x102030, 1.5f), 0x102030u);  // factor at most 1
  EXPECT_EQ(ScaleColor(0x102030, -1.0f), 0x000000u);
  // Red 240 x 1.1 capped at 255, green 200 -> 220, blue 100 -> 110.
  EXPECT_EQ(LightenColor(0x64C8F0, 1.1f), 0x6EDCFFu);
  EXPECT_EQ(LightenColor(0x102030, 0.5f), 0x102030u);  // factor at least 1
}

TEST(TabColours, StyleFlagsOfTheColouredTabs) {
  const int saved = TabStyleFlags();
  CXColorTab tab;
  tab.m_crTab = 0x646464;
  TabStyleFlags() = 0x0E;
  EXPECT_EQ(tab.GetTabColor(true), 0x6E6E6Eu);   // 10 % lighter
  EXPECT_EQ(tab.GetTabColor(false), 0x5A5A5Au);  // 10 % darker
  EXPECT_EQ(tab.GetTabTextColor(false), 0x0A0A0Au);
  TabStyleFlags() = 0x01;
  EXPECT_EQ(tab.GetTabColor(false), 0x646464u);
  EXPECT_EQ(tab.GetTabColor(true), tab.ButtonFace());
  TabStyleFlags() = saved;
}

TEST(TipCombo, TipOnlyForTextWiderThanItsArea) {
  EXPECT_FALSE(ComboTextNeedsTip(94, 100));
  EXPECT_TRUE(ComboTextNeedsTip(95, 100));
  EXPECT_FALSE(ListTextNeedsTip(97, 100));
  EXPECT_TRUE(ListTextNeedsTip(98, 100));

  XTipComboBox combo;
  combo.resize(120, 24);
  combo.addItem(QStringLiteral("short"));
  combo.addItem(QStringLiteral("a rather long item text that cannot fit in the box"));
  test::Render(&combo);
  const QPoint inside = combo.TextArea().center();
  test::SendMouse(&combo, QEvent::MouseMove, inside, Qt::NoButton, Qt::NoButton);
  EXPECT_FALSE(combo.IsTipShown());
  combo.setCurrentIndex(1);
  test::SendMouse(&combo, QEvent::MouseMove, inside, Qt::NoButton, Qt::NoButton);
  EXPECT_TRUE(combo.IsTipShown());
  EXPECT_EQ(combo.TipText(), combo.itemText(1));
  test::Leave(&combo);
  EXPECT_FALSE(combo.IsTipShown());
}

// A skin with two image buttons, counting its renders.
class TestSkin : public CTransDlg {
 public:
  TestSkin() : CTransDlg(157) {}
  CTransBtn* button = nullptr;
  CTransBtn* plain = nullptr;

 protected:
  void InitSkin() override {
    button = new CTransBtn(this);
    plain = new CTransBtn(this);
    QImage normal(20, 20, QImage::Format_ARGB32_Premultiplied), hover = normal, disabled = normal;
    normal.fill(Qt::red);
    hover.fill(Qt::green);
    disabled.fill(Qt::gray);
    button->SetImageSet({normal, disabled, hover, QImage(), QImage()});
    plain->SetImageSet({normal, QImage(), QImage(), QImage(), QImage()});
    button->move(10, 10);
    plain->move(40, 10);
    AddChild(button);
    AddChild(plain);
  }
};

TEST(SkinButtons, SlotChoice) {
  const std::array<bool, kSlotCount> all{true, true, true, true, true};
  const std::array<bool, kSlotCount> normalOnly{true, false, false, false, false};
  EXPECT_EQ(CTransBtn::PickSlot(false, false, false, false, all), kSlotNormal);
  EXPECT_EQ(CTransBtn::PickSlot(true, false, false, false, all), kSlotHover);
  EXPECT_EQ(CTransBtn::PickSlot(true, true, false, false, all), kSlotPressed);
  EXPECT_EQ(CTransBtn::PickSlot(false, true, false, false, all), kSlotNormal);  // pressed counts within hover
  EXPECT_EQ(CTransBtn::PickSlot(false, false, true, true, all), kSlotDisabled);
  EXPECT_EQ(CTransBtn::PickSlot(true, false, true, false, all), kSlotHover);
  EXPECT_EQ(CTransBtn::PickSlot(false, false, false, true, all), kSlotChecked);
  EXPECT_EQ(CTransBtn::PickSlot(true, true, true, true, normalOnly), kSlotNormal);
}

TEST(SkinButtons, EachChangeOfLookRendersOnce) {
  TestSkin skin;
  skin.Create();
  test::Render(&skin);
  EXPECT_EQ(skin.size(), QSize(640, 700));  // the background's size
  const int start = skin.RenderCount();
  test::Enter(skin.button);
  EXPECT_EQ(skin.button->CurrentSlot(), kSlotHover);
  EXPECT_EQ(skin.RenderCount(), start + 1);
  test::Enter(skin.button);  // the same look again
  EXPECT_EQ(skin.RenderCount(), start + 1);
  test::Leave(skin.button);
  EXPECT_EQ(skin.button->CurrentSlot(), kSlotNormal);
  EXPECT_EQ(skin.RenderCount(), start + 2);
  skin.button->setEnabled(false);
  EXPECT_EQ(skin.button->CurrentSlot(), kSlotDisabled);
  skin.button->setEnabled(true);
  EXPECT_EQ(skin.RenderCount(), start + 4);
  // Without a disabled image the look does not change: no render.
  skin.plain->setEnabled(false);
  EXPECT_EQ(skin.plain->CurrentSlot(), kSlotNormal);
  EXPECT_EQ(skin.RenderCount(), start + 4);
  // The button's pixels show its look over the skin.
  test::Enter(skin.button);
  EXPECT_EQ(Pixel(test::Render(&skin), 20, 20), Rgb(0, 255, 0));
}

TEST(SkinButtons, ReleasingOutsideDoesNotClickAndClearsHover) {
  TestSkin skin;
  skin.Create();
  test::Render(&skin);
  int clicks = 0;
  QObject::connect(skin.button, &CTransBtn::clicked, [&] { ++clicks; });
  test::Enter(skin.button);
  test::Press(skin.button, QPoint(5, 5));
  EXPECT_TRUE(skin.button->IsPressed());
  test::Release(skin.button, QPoint(50, 50));
  EXPECT_EQ(clicks, 0);
  EXPECT_FALSE(skin.button->IsHover());
  test::Enter(skin.button);
  test::Click(skin.button, QPoint(5, 5));
  EXPECT_EQ(clicks, 1);
}

TEST(SkinButtons, MissingNormalImageIsRefused) {
  CTransBtn b;
  EXPECT_FALSE(b.SetImages(0));
  EXPECT_FALSE(b.SetImages(99999));
  EXPECT_EQ(b.CurrentSlot(), -1);
  EXPECT_TRUE(b.SetImages(158, 0, 159));
  EXPECT_EQ(b.size(), LoadPngImage(158).size());
}

}  // namespace
}  // namespace corvan
