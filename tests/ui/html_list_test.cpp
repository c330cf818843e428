#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QScrollBar>
#include <vector>

#include "ui/CHTMLListCtrl.h"
#include "ui/UiTestSupport.h"

namespace corvan {
namespace {

class HtmlList : public ::testing::Test {
 protected:
  void SetUp() override {
    host.resize(400, 300);
    list.Create(QRect(0, 0, 400, 300), &host);
    QObject::connect(&list, &CHTMLListCtrl::Notify, [this](const HTMLLIST_NOTIFY& n) { notes.push_back(n); });
  }
  void Fill(int count, unsigned kind = 5) {
    for (int i = 0; i < count; ++i)
      list.InsertItem(QStringLiteral("<b>Saved scan %1</b><br>Volume 0").arg(i), CHTMLListCtrl::kMarkupText, 0, 0,
                      kind);
    list.UpdateScrollBar();
    test::Render(&host);
  }
  std::vector<int> Codes() const {
    std::vector<int> codes;
    for (const auto& n : notes) codes.push_back(n.code);
    return codes;
  }
  QWidget host;
  CHTMLListCtrl list;
  std::vector<HTMLLIST_NOTIFY> notes;
};

TEST_F(HtmlList, ClickOnACheckBoxTellsPressCheckThenSelection) {
  Fill(3);
  const QRect item = list.GetItemRect(1);
  ASSERT_TRUE(item.isValid());
  test::Click(list.viewport(), QPoint(item.left() + 8, item.center().y()));
  EXPECT_EQ(Codes(), (std::vector<int>{kHtmlListLButtonDown, kHtmlListCheckChanged, kHtmlListSelChanged}));
  EXPECT_EQ(notes[0].nItem, -1);
  EXPECT_EQ(notes[1].nItem, 1);
  EXPECT_TRUE(notes[1].bChecked);
  EXPECT_EQ(notes[2].nItem, 1);
  EXPECT_EQ(notes[2].idFrom, CHTMLListCtrl::kControlId);
  EXPECT_EQ(list.GetSelectedIndex(), 1);
  EXPECT_TRUE(list.GetItem(1)->bChecked);
}

TEST_F(HtmlList, ClickBesideTheBoxSelectsWithoutChecking) {
  Fill(2);
  const QRect item = list.GetItemRect(0);
  test::Click(list.viewport(), QPoint(item.left() + 100, item.center().y()));
  EXPECT_EQ(Codes(), (std::vector<int>{kHtmlListLButtonDown, kHtmlListSelChanged}));
  EXPECT_FALSE(list.GetItem(0)->bChecked);
  notes.clear();
  // Below the last item: selection changes to none.
  test::Click(list.viewport(), QPoint(100, 290));
  EXPECT_EQ(Codes(), (std::vector<int>{kHtmlListLButtonDown, kHtmlListSelChanged}));
  EXPECT_EQ(notes[1].nItem, -1);
  EXPECT_EQ(list.GetSelectedIndex(), -1);
}

TEST_F(HtmlList, RightClickAndDoubleClick) {
  Fill(1);
  test::Click(list.viewport(), QPoint(50, 10), Qt::RightButton);
  test::SendMouse(list.viewport(), QEvent::MouseButtonDblClick, QPoint(50, 10));
  EXPECT_EQ(Codes(), (std::vector<int>{kHtmlListRButtonDown, kHtmlListDblClick}));
}

TEST_F(HtmlList, KeysOnAnEmptyListDoNothing) {
  Fill(0);
  test::SendKey(&list, Qt::Key_Space);
  test::SendKey(&list, Qt::Key_Up);
  test::SendKey(&list, Qt::Key_Space);
  test::SendKey(&list, Qt::Key_Down);
  test::SendKey(&list, Qt::Key_Space);
  EXPECT_TRUE(notes.empty());
  EXPECT_EQ(list.GetSelectedIndex(), -1);
}

TEST_F(HtmlList, ArrowsMoveTheSelectionAndSpaceToggles) {
  Fill(10);
  ASSERT_GT(list.TotalHeight(), list.viewport()->height());
  test::SendKey(&list, Qt::Key_Down);  // no selection: the last item
  EXPECT_EQ(list.GetSelectedIndex(), 9);
  EXPECT_EQ(list.verticalScrollBar()->value(), list.verticalScrollBar()->maximum());
  test::SendKey(&list, Qt::Key_Down);
  EXPECT_EQ(list.GetSelectedIndex(), 9);
  for (int i = 0; i < 12; ++i) test::SendKey(&list, Qt::Key_Up);
  EXPECT_EQ(list.GetSelectedIndex(), 0);
  EXPECT_EQ(list.verticalScrollBar()->value(), 0);
  notes.clear();
  test::SendKey(&list, Qt::Key_Space);
  ASSERT_EQ(Codes(), (std::vector<int>{kHtmlListCheckChanged}));
  EXPECT_TRUE(notes[0].bChecked);
  EXPECT_TRUE(list.GetItem(0)->bChecked);
}

TEST_F(HtmlList, WheelScrollsFortyPixels) {
  Fill(10);
  QWheelEvent down(QPointF(50, 50), list.viewport()->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, -120),
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(list.viewport(), &down);
  EXPECT_EQ(list.verticalScrollBar()->value(), 40);
}

TEST_F(HtmlList, ItemColoursAndHeights) {
  list.InsertItem(QStringLiteral("plain"), CHTMLListCtrl::kPlainText, 0, 0, 1);
  list.InsertItem(QStringLiteral("emphasised"), CHTMLListCtrl::kPlainText, 0, 0, 3);
  list.InsertItem(QStringLiteral("given height"), CHTMLListCtrl::kPlainText, 0, 44, 1);
  list.UpdateScrollBar();
  test::Render(&host);
  EXPECT_EQ(list.GetItem(0)->nHeight, QFontMetrics(list.font()).height() + 10);
  EXPECT_EQ(list.GetItem(2)->nHeight, 44);
  EXPECT_EQ(list.TotalHeight(), 2 * (QFontMetrics(list.font()).height() + 10) + 44);
  test::Click(list.viewport(), QPoint(200, list.GetItemRect(2).center().y()));
  const QImage img = list.viewport()->grab().toImage();
  const auto at = [&](int i) { return test::Pixel(img, 380, list.GetItemRect(i).center().y()); };
  EXPECT_EQ(at(0), test::Rgb(0xFA, 0xFA, 0xFA));
  EXPECT_EQ(at(1), test::Rgb(0xFA, 0xFF, 0xEB));  // COLORREF 0xEBFFFA
  EXPECT_EQ(at(2), test::Rgb(0xF0, 0xFF, 0xF0));  // selected
  list.DeleteAllItems();
  EXPECT_EQ(list.GetItemCount(), 0);
  EXPECT_EQ(list.TotalHeight(), 0);
  EXPECT_EQ(list.GetItemRect(0), QRect());
}

}  // namespace
}  // namespace corvan
