#include <gtest/gtest.h>

#include <QLabel>
#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "ui/DialogLayout.h"

namespace corvan {
namespace {

// Dialog templates written the way the resource compiler lays them out.
class TemplateWriter {
 public:
  void Word(std::uint16_t v) {
    bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void Dword(std::uint32_t v) {
    Word(static_cast<std::uint16_t>(v & 0xFFFF));
    Word(static_cast<std::uint16_t>(v >> 16));
  }
  void Byte(std::uint8_t v) { bytes.push_back(v); }
  void String(const std::u16string& s) {
    for (char16_t c : s) Word(c);
    Word(0);
  }
  void Align() {
    while (bytes.size() % 4) bytes.push_back(0);
  }
  std::vector<std::uint8_t> bytes;
};

struct Item {
  std::uint32_t id;
  int x, y, cx, cy;
};

std::vector<std::uint8_t> ExtendedTemplate(std::uint32_t style, std::uint16_t pointSize, const std::vector<Item>& items,
                                           bool menuOrdinal = false) {
  TemplateWriter w;
  w.Word(1);
  w.Word(0xFFFF);
  w.Dword(0);           // help id
  w.Dword(0x00040000);  // extended style
  w.Dword(style);
  w.Word(static_cast<std::uint16_t>(items.size()));
  w.Word(0);
  w.Word(0);
  w.Word(408);
  w.Word(281);
  if (menuOrdinal) {
    w.Word(0xFFFF);
    w.Word(7);
  } else {
    w.Word(0);
  }
  w.Word(0);  // class
  w.String(u"Title");
  if (style & kDsSetFont) {
    w.Word(pointSize);
    w.Word(700);
    w.Byte(1);
    w.Byte(1);
    w.String(u"Arial");
  }
  for (const Item& it : items) {
    w.Align();
    w.Dword(0);  // help id
    w.Dword(0);  // extended style
    w.Dword(0x50010000);
    w.Word(static_cast<std::uint16_t>(it.x));
    w.Word(static_cast<std::uint16_t>(it.y));
    w.Word(static_cast<std::uint16_t>(it.cx));
    w.Word(static_cast<std::uint16_t>(it.cy));
    w.Dword(it.id);
    w.Word(0xFFFF);
    w.Word(0x0080);  // button class
    w.String(u"OK");
    w.Word(0);  // no creation data
  }
  return w.bytes;
}

std::vector<std::uint8_t> PlainTemplate(std::uint32_t style, const std::vector<Item>& items) {
  TemplateWriter w;
  w.Dword(style);
  w.Dword(0);
  w.Word(static_cast<std::uint16_t>(items.size()));
  w.Word(0);
  w.Word(0);
  w.Word(200);
  w.Word(100);
  w.Word(0);
  w.String(u"MyClass");
  w.String(u"Plain");
  if (style & kDsSetFont) {
    w.Word(9);
    w.String(u"Tahoma");
  }
  for (const Item& it : items) {
    w.Align();
    w.Dword(0x50000000);
    w.Dword(0);
    w.Word(static_cast<std::uint16_t>(it.x));
    w.Word(static_cast<std::uint16_t>(it.y));
    w.Word(static_cast<std::uint16_t>(it.cx));
    w.Word(static_cast<std::uint16_t>(it.cy));
    w.Word(static_cast<std::uint16_t>(it.id));
    w.String(u"Static text");  // class as a string
    w.Word(0xFFFF);
    w.Word(42);  // title as an ordinal
    w.Word(2);   // two bytes of creation data
    w.Byte(0xAA);
    w.Byte(0xBB);
  }
  return w.bytes;
}

TEST(DialogLayoutArithmetic, ExamplesOfTheReLayout) {
  // An 8-point template at 96 DPI: trunc(8 x 96 / 72 + 0.5) = 11.
  EXPECT_EQ(DialogFontHeight(8, 96.0), -11);
  EXPECT_EQ(DialogFontHeight(9, 96.0), -12);
  EXPECT_EQ(DialogFontHeight(8, 120.0), -13);
  // x = 10 dialog units with baseX 6: trunc(10 x 6 x 0.25 + 0.5) = 15.
  EXPECT_EQ(DluToPixelsX(10, {6, 13}), 15);
  // y = 10 dialog units with baseY 13: trunc(10 x 13 x 0.125 + 0.5) = 16.
  EXPECT_EQ(DluToPixelsY(10, {6, 13}), 16);
  EXPECT_EQ(DialogUnitsToPixels(QRect(7, 3, 50, 14), {6, 13}), QRect(11, 5, 75, 23));
  // The template of the skin window, 408 x 281 units, with the usual 6 x 13.
  EXPECT_EQ(DluToPixelsX(408, {6, 13}), 612);
  EXPECT_EQ(DluToPixelsY(281, {6, 13}), 457);
}

TEST(DialogLayoutArithmetic, BaseUnitsFromTheAlphabetWidth) {
  // (width / 26 + 1) / 2 in integers, height as measured.
  EXPECT_EQ(BaseUnitsFromMetrics(13, 286).x, 6);
  EXPECT_EQ(BaseUnitsFromMetrics(13, 311).x, 6);
  EXPECT_EQ(BaseUnitsFromMetrics(13, 338).x, 7);
  EXPECT_EQ(BaseUnitsFromMetrics(16, 364).y, 16);
}

TEST(DialogLayoutArithmetic, StoredPointSizesAreTheirMagnitude) {
  EXPECT_EQ(NormalisePointSize(8), 8);
  EXPECT_EQ(NormalisePointSize(0xFFF8), 8);  // -8 as stored
  EXPECT_EQ(NormalisePointSize(-9), 9);
  EXPECT_EQ(NormalisePointSize(32767), 32767);
}

TEST(DialogTemplateReading, ExtendedTemplateWithFontAndItems) {
  const auto bytes = ExtendedTemplate(0x80C800C4 | kDsSetFont, 10, {{1001, 7, 3, 50, 14}, {1093, 0, 0, 408, 23}});
  const auto t = ParseDialogTemplate(bytes);
  ASSERT_TRUE(t);
  EXPECT_TRUE(t->extended);
  EXPECT_EQ(t->exStyle, 0x00040000u);
  EXPECT_EQ(t->cx, 408);
  EXPECT_EQ(t->cy, 281);
  EXPECT_FALSE(t->font.hasMenu);
  EXPECT_EQ(t->font.pointSize, 10);
  EXPECT_EQ(t->font.weight, 700);
  EXPECT_EQ(t->font.italic, 1);
  EXPECT_EQ(t->font.faceName, QStringLiteral("Arial"));
  ASSERT_EQ(t->items.size(), 2u);
  EXPECT_EQ(t->items[0].id, 1001);
  EXPECT_EQ(t->items[0].x, 7);
  EXPECT_EQ(t->items[0].cy, 14);
  EXPECT_EQ(t->items[1].id, 1093);
  EXPECT_EQ(t->items[1].cx, 408);
}

TEST(DialogTemplateReading, WithoutSetFontTheDialogFontIsEightPointShellDlg) {
  const auto t = ParseDialogTemplate(ExtendedTemplate(0x80C800C4 & ~kDsSetFont, 10, {}, true));
  ASSERT_TRUE(t);
  EXPECT_TRUE(t->font.hasMenu);
  EXPECT_EQ(t->font.pointSize, 8);
  EXPECT_EQ(t->font.weight, 400);
  EXPECT_EQ(t->font.faceName, QStringLiteral("MS Shell Dlg"));
}

TEST(DialogTemplateReading, PlainTemplateWithNamedClassAndCreationData) {
  const auto t = ParseDialogTemplate(PlainTemplate(kDsSetFont, {{1094, 5, 6, 70, 8}, {1095, 80, 6, 20, 20}}));
  ASSERT_TRUE(t);
  EXPECT_FALSE(t->extended);
  EXPECT_EQ(t->cx, 200);
  EXPECT_EQ(t->font.pointSize, 9);
  EXPECT_EQ(t->font.weight, 0);
  EXPECT_EQ(t->font.faceName, QStringLiteral("Tahoma"));
  ASSERT_EQ(t->items.size(), 2u);
  EXPECT_EQ(t->items[1].id, 1095);
  EXPECT_EQ(t->items[1].x, 80);
}

TEST(DialogTemplateReading, TruncatedTemplatesAreRefused) {
  auto bytes = ExtendedTemplate(kDsSetFont, 8, {{1001, 1, 2, 3, 4}});
  for (std::size_t cut : {std::size_t{3}, std::size_t{20}, bytes.size() - 30, bytes.size() - 1}) {
    const std::vector<std::uint8_t> part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
    EXPECT_FALSE(ParseDialogTemplate(part)) << "cut at " << cut;
  }
}

TEST(ScaleDialogToDpi, MovesMatchedControlsAndStopsAtTheFirstMissingId) {
  QWidget dialog;
  auto* first = new QLabel(&dialog);
  auto* other = new QLabel(&dialog);  // no id: passed over
  auto* second = new QLabel(&dialog);
  auto* third = new QLabel(&dialog);
  SetDlgCtrlId(first, 1001);
  SetDlgCtrlId(second, 1002);
  SetDlgCtrlId(third, 1004);
  third->setGeometry(1, 2, 3, 4);
  DialogTemplate t;
  t.cx = 200;
  t.cy = 100;
  t.font.faceName = QStringLiteral("Arial");
  t.items = {{1001, 10, 10, 40, 12}, {1002, 60, 10, 40, 12}, {1003, 0, 0, 5, 5}, {1004, 70, 70, 9, 9}};

  DialogScaler scaler;
  const QFont before = dialog.font();
  ScaleDialogToDpi(scaler, &dialog, t, 96.0);
  const DialogBaseUnits base = GetDialogBaseUnits(scaler.font);
  EXPECT_EQ(scaler.font.pixelSize(), 11);
  EXPECT_EQ(dialog.size(), QSize(DluToPixelsX(200, base), DluToPixelsY(100, base)));
  EXPECT_EQ(first->geometry(), DialogUnitsToPixels(QRect(10, 10, 40, 12), base));
  EXPECT_EQ(second->geometry(), DialogUnitsToPixels(QRect(60, 10, 40, 12), base));
  EXPECT_EQ(third->geometry(), QRect(1, 2, 3, 4));  // after the missing 1003
  EXPECT_EQ(other->font(), scaler.font);             // inherited from the dialog

  // A second dialog gives the first its fonts back.
  QWidget next;
  auto* label = new QLabel(&next);
  SetDlgCtrlId(label, 1001);
  ScaleDialogToDpi(scaler, &next, t, 96.0);
  EXPECT_EQ(dialog.font(), before);
  EXPECT_EQ(scaler.dialog, &next);
  RestoreDialogFont(scaler);
  EXPECT_EQ(scaler.dialog, nullptr);
}

TEST(DialogControls, IdsFindTheirControls) {
  QWidget dialog;
  auto* inner = new QWidget(&dialog);
  auto* label = new QLabel(inner);
  SetDlgCtrlId(label, 1093);
  EXPECT_EQ(GetDlgItem(&dialog, 1093), label);
  EXPECT_EQ(GetDlgItemAs<QLabel>(&dialog, 1093), label);
  EXPECT_EQ(GetDlgItem(&dialog, 1094), nullptr);
  EXPECT_EQ(DlgCtrlId(inner), 0);
}

}  // namespace
}  // namespace corvan
