#include "ui/DialogLook.h"

#include <QPainter>
#include <QPalette>
#include <QWidget>

#include "ui/SharedLook.h"

namespace corvan {

QColor CaptionBandColour(int k) {
  const auto channel = [k](int base, int span) { return (base + (-span * k / 35)) & 0xFF; };
  return QColor(channel(0x7D, 89), channel(0xA0, 108), channel(0x50, 60));
}

void FillDialogBackground(QPainter& painter, const QRect& client) {
  painter.fillRect(client, FromColorRef(kDialogBackground));
}

void PaintDialogBackground(QPainter& painter, const QRect& client) {
  FillDialogBackground(painter, client);
  const int left = client.left();
  const int right = client.left() + client.width();
  const int top = client.top();
  for (int k = 0; k < kCaptionBandRows; ++k)
    painter.fillRect(QRect(left, top + k, right - left, 1), CaptionBandColour(k));
  painter.fillRect(QRect(left, top + 35, right - left, 1), FromColorRef(kBandRuleDark));
  painter.fillRect(QRect(left, top + 36, right - left, 1), FromColorRef(kBandRuleLight));
}

QString ProductCaption() { return QStringLiteral("Halvard Vantrel"); }

void DrawCaptionText(QPainter& painter, const QString& text) {
  painter.save();
  QFont font = ArialFont(16, 700);
  font.setPixelSize(16);  // the caption font is given by its em height
  painter.setFont(font);
  painter.setPen(FromColorRef(kCaptionText));
  painter.drawText(QRect(8, 8, 4000, 24), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
  painter.restore();
}

namespace {
void SetBackgroundRoles(QWidget* w, const QColor& colour) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::Window, colour);
  pal.setColor(QPalette::Button, colour);
  w->setPalette(pal);
}
}  // namespace

void SkinnedDialogCtlColor(QWidget* dialog) {
  SetBackgroundRoles(dialog, FromColorRef(kDialogBackground));
}

void PlainDialogCtlColor(QWidget* dialog) {
  QPalette pal = dialog->palette();
  const QColor colour = FromColorRef(kDialogBackground);
  pal.setColor(QPalette::Window, colour);
  pal.setColor(QPalette::Button, colour);
  pal.setColor(QPalette::Base, colour);
  dialog->setPalette(pal);
}

void HighlightControl(QWidget* control) {
  QPalette pal = control->palette();
  pal.setColor(QPalette::Base, FromColorRef(kEditHighlight));
  control->setPalette(pal);
}

}  // namespace corvan
