#include "sources/ui/SourceArt.h"

#include <QPainter>
#include <QPolygon>

#include "ui/SharedLook.h"

namespace corvan {

QIcon ImageTypeIcon(int imageIndex) {
  // A small disk in the colour of its image type, with its initial.
  static const QColor colours[] = {QColor(0x80, 0x80, 0x80), QColor(0x2f, 0x6b, 0x2a), QColor(0x1f, 0x4e, 0x9a),
                                   QColor(0x9a, 0x5a, 0x1f)};
  static const char letters[] = {'?', 'W', 'B', 'P'};
  const int i = imageIndex >= 1 && imageIndex <= 3 ? imageIndex : 0;
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(colours[i].darker(140));
  p.setBrush(colours[i]);
  p.drawRoundedRect(QRectF(1.5, 2.5, 13, 11), 2, 2);
  p.setPen(Qt::white);
  QFont f = ArialFont(10, 700);
  p.setFont(f);
  p.drawText(QRect(1, 2, 14, 12), Qt::AlignCenter, QString(QChar(letters[i])));
  return QIcon(pm);
}

QPixmap ArrowStrip() {
  QPixmap strip(48, 12);
  strip.fill(Qt::transparent);
  QPainter p(&strip);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  for (int s = 0; s < 4; ++s) {
    p.setBrush(FromColorRef(s >= 2 ? 0x2E34FA : 0x1F3600));
    const int x = s * 12;
    const bool down = s % 2 == 1;
    QPolygon tri;
    if (down) tri << QPoint(x + 2, 3) << QPoint(x + 10, 3) << QPoint(x + 6, 9);
    else tri << QPoint(x + 3, 2) << QPoint(x + 9, 6) << QPoint(x + 3, 10);
    p.drawPolygon(tri);
  }
  return strip;
}

}  // namespace corvan
