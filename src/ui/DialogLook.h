#pragma once
// The painting and colouring that the program's dialogs share.

#include <QColor>
#include <QRect>
#include <QString>
#include <cstdint>

class QPainter;
class QWidget;

namespace corvan {

// Height of the darkening band at the top of a skinned dialog, and the two
// rule lines drawn under it.
inline constexpr int kCaptionBandRows = 35;
inline constexpr std::uint32_t kBandRuleDark = 0x00C3A8;   // row 35
inline constexpr std::uint32_t kBandRuleLight = 0xC8F0DC;  // row 36
inline constexpr std::uint32_t kCaptionText = 0xF1FFF4;

// Colour of band row k (0..34): RGB(0x7D + (-89k / 35), 0xA0 + (-108k / 35),
// 0x50 + (-60k / 35)), quotients truncated toward zero, components mod 256.
QColor CaptionBandColour(int k);

// Background of most dialogs: the whole area in the dialog colour, the
// band, and the two rule lines under it.
void PaintDialogBackground(QPainter& painter, const QRect& client);

// Background of the pages and a few dialogs: the dialog colour only.
void FillDialogBackground(QPainter& painter, const QRect& client);

// The caption text of a band, in the caption colour at (8, 8).
void DrawCaptionText(QPainter& painter, const QString& text);
QString ProductCaption();  // "Halvard Vantrel"

// Control colours: every control of `dialog` draws on the dialog colour.
// The caption strip draws its own text (CDragTitle).
void SkinnedDialogCtlColor(QWidget* dialog);
// As SkinnedDialogCtlColor, for the dialogs whose controls all take the
// dialog colour (progress dialogs, lost-volume dialog).
void PlainDialogCtlColor(QWidget* dialog);
// Highlighted edit boxes and lists.
void HighlightControl(QWidget* control);

}  // namespace corvan
