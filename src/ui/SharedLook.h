#pragma once
// The fonts and colours every window shares, and the program's images.
//
// Colours are given as COLORREF values (0x00BBGGRR), the form the dialog
// designs use; FromColorRef turns them into Qt colours.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPixmap>
#include <cstdint>

namespace corvan {

constexpr QRgb RgbFromColorRef(std::uint32_t c) {
  return qRgb(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
              static_cast<int>((c >> 16) & 0xFF));
}
inline QColor FromColorRef(std::uint32_t c) { return QColor::fromRgb(RgbFromColorRef(c)); }
inline std::uint32_t ToColorRef(const QColor& c) {
  return static_cast<std::uint32_t>(c.red()) | (static_cast<std::uint32_t>(c.green()) << 8) |
         (static_cast<std::uint32_t>(c.blue()) << 16);
}

// The look every dialog shares.
inline constexpr std::uint32_t kDialogBackground = 0xF1FFF4;  // dialog and control background
inline constexpr std::uint32_t kEditHighlight = 0xCCF7FF;     // highlighted edit boxes, lists
inline constexpr std::uint32_t kListEvenRow = 0xCEE9DD;
inline constexpr std::uint32_t kListOddRow = 0xFAF8F6;
inline constexpr std::uint32_t kListThirdColour = 0x91C4B1;
inline constexpr std::uint32_t kListLostText = 0x966400;

// The eight shared fonts, in field order.
enum SharedFont : int {
  kFontArial14Bold = 0,
  kFontArial16Italic,
  kFontArial16Bold,
  kFontArial16,
  kFontArial14Underline,
  kFontArial20Bold,
  kFontArial22Bold,
  kFontArial32Bold,
  kSharedFontCount
};

// The six shared solid colours, in field order.
enum SharedBrush : int {
  kBrushBackground = 0,  // 0xF1FFF4
  kBrushEdit,            // 0xCCF7FF
  kBrushPale,            // 0xDFFFF4
  kBrushGrey,            // 0xEFF4F5
  kBrushDark,            // 0x00361F
  kBrushWhite,           // 0xFFFFFF
  kSharedBrushCount
};

// Makes the shared fonts and colours; Arial where the system has it, else a
// metric-compatible face. Safe to call more than once.
void InitSharedLook();
const QFont& SharedFontAt(SharedFont which);
QColor SharedBrushColour(SharedBrush which);
std::uint32_t SharedBrushColorRef(SharedBrush which);

// An Arial font of `pixelHeight` pixels (the character cell height).
QFont ArialFont(int pixelHeight, int weight = 400, bool italic = false, bool underline = false);

// Image `id` of the program (resources/images/<id>.png); a null image when
// it is missing.
QImage LoadPngImage(unsigned id);
QPixmap LoadBitmapResource(unsigned id);

}  // namespace corvan
