#include "ui/ConsoleArt.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "ui/SharedLook.h"

namespace corvan {

namespace {

const QColor kDeep(0x1d, 0x4a, 0x1b);
const QColor kGreen(0x2f, 0x6b, 0x2a);
const QColor kLeaf(0x5f, 0xa8, 0x46);

QPixmap Canvas(int w, int h) {
  QPixmap p(w, h);
  p.fill(Qt::transparent);
  return p;
}

void DrawPicture(QPainter& p, ButtonPicture picture, const QRectF& r, const QColor& ink) {
  p.save();
  p.setPen(QPen(ink, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  const QPointF c = r.center();
  if (picture == ButtonPicture::Recover) {
    // A disk with an arrow coming out of it.
    p.drawEllipse(QRectF(c.x() - 13, c.y() - 4, 26, 14));
    p.drawLine(QPointF(c.x(), c.y() + 2), QPointF(c.x(), c.y() - 16));
    p.drawLine(QPointF(c.x() - 6, c.y() - 10), QPointF(c.x(), c.y() - 16));
    p.drawLine(QPointF(c.x() + 6, c.y() - 10), QPointF(c.x(), c.y() - 16));
  } else if (picture == ButtonPicture::Back) {
    p.drawLine(QPointF(c.x() + 12, c.y()), QPointF(c.x() - 12, c.y()));
    p.drawLine(QPointF(c.x() - 12, c.y()), QPointF(c.x() - 4, c.y() - 8));
    p.drawLine(QPointF(c.x() - 12, c.y()), QPointF(c.x() - 4, c.y() + 8));
  }
  p.restore();
}

}  // namespace

QPixmap ButtonStrip(ButtonLook look, int width, int height, const QString& text, ButtonPicture picture) {
  QPixmap strip = Canvas(width * 4, height);
  QPainter p(&strip);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  for (int state = 0; state < 4; ++state) {
    const QRectF r(state * width + 0.5, 0.5, width - 1.0, height - 1.0);
    QColor top, bottom, ink = Qt::white, edge = kDeep;
    switch (state) {
      case 0: top = kLeaf; bottom = kGreen; break;
      case 1: top = kLeaf.lighter(120); bottom = kLeaf; break;
      case 2: top = kDeep; bottom = kGreen; break;
      default:
        top = QColor(0xd8, 0xdd, 0xd6);
        bottom = QColor(0xb9, 0xc1, 0xb6);
        ink = QColor(0x8a, 0x94, 0x86);
        edge = QColor(0xa0, 0xa9, 0x9c);
        break;
    }
    if (look == ButtonLook::Caption) {
      // Caption buttons sit on the dark band: only a light face when hovered.
      if (state == 1 || state == 2) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, state == 1 ? 60 : 100));
        p.drawRoundedRect(r, 3, 3);
      }
      ink = state == 3 ? QColor(0x7d, 0x8c, 0x79) : QColor(0xf4, 0xff, 0xf1);
    } else {
      QLinearGradient g(r.topLeft(), r.bottomLeft());
      g.setColorAt(0, top);
      g.setColorAt(1, bottom);
      p.setPen(QPen(edge, 1));
      p.setBrush(g);
      p.drawRoundedRect(r, look == ButtonLook::Command ? 6 : 3, look == ButtonLook::Command ? 6 : 3);
    }
    if (picture != ButtonPicture::None) {
      DrawPicture(p, picture, r, ink);
      continue;
    }
    QFont font = ArialFont(look == ButtonLook::Caption ? 15 : 13, 700);
    p.setFont(font);
    p.setPen(ink);
    p.drawText(r, Qt::AlignCenter, text);
  }
  return strip;
}

QPixmap ItemIconPixmap(ItemIcon icon) {
  QPixmap pm = Canvas(16, 16);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  const bool deleted = icon == ItemIcon::DeletedFolder || icon == ItemIcon::DeletedFolderOpen ||
                       icon == ItemIcon::DeletedFile;
  const QColor body = deleted ? QColor(0xc9, 0x8b, 0x7d) : QColor(0xf0, 0xc4, 0x4c);
  const QColor line = deleted ? QColor(0x8a, 0x3b, 0x2e) : QColor(0x9b, 0x6b, 0x12);
  switch (icon) {
    case ItemIcon::Volume:
      p.setPen(QPen(kDeep, 1));
      p.setBrush(QColor(0xd6, 0xe9, 0xc9));
      p.drawRoundedRect(QRectF(1.5, 4.5, 13, 8), 2, 2);
      p.setBrush(kLeaf);
      p.drawEllipse(QRectF(10.5, 7.5, 2.5, 2.5));
      break;
    case ItemIcon::Folder:
    case ItemIcon::DeletedFolder:
    case ItemIcon::FolderOpen:
    case ItemIcon::DeletedFolderOpen: {
      const bool open = icon == ItemIcon::FolderOpen || icon == ItemIcon::DeletedFolderOpen;
      p.setPen(QPen(line, 1));
      p.setBrush(body.darker(110));
      p.drawRect(QRectF(1.5, 3.5, 6, 2));
      p.setBrush(body);
      if (open) {
        QPainterPath path;
        path.moveTo(1.5, 13.5);
        path.lineTo(4.5, 6.5);
        path.lineTo(15.5, 6.5);
        path.lineTo(12.5, 13.5);
        path.closeSubpath();
        p.drawRect(QRectF(1.5, 5.5, 12, 8));
        p.setBrush(body.lighter(115));
        p.drawPath(path);
      } else {
        p.drawRect(QRectF(1.5, 5.5, 13, 8));
      }
      break;
    }
    case ItemIcon::File:
    case ItemIcon::DeletedFile: {
      QPainterPath path;
      path.moveTo(3.5, 1.5);
      path.lineTo(10.5, 1.5);
      path.lineTo(13.5, 4.5);
      path.lineTo(13.5, 14.5);
      path.lineTo(3.5, 14.5);
      path.closeSubpath();
      p.setPen(QPen(deleted ? line : QColor(0x55, 0x66, 0x77), 1));
      p.setBrush(deleted ? QColor(0xf3, 0xd9, 0xd3) : Qt::white);
      p.drawPath(path);
      p.drawLine(QPointF(5.5, 7.5), QPointF(11.5, 7.5));
      p.drawLine(QPointF(5.5, 10.5), QPointF(11.5, 10.5));
      break;
    }
  }
  if (deleted) {
    p.setPen(QPen(QColor(0xc0, 0x20, 0x20), 1.6));
    p.drawLine(QPointF(9, 9), QPointF(14.5, 14.5));
    p.drawLine(QPointF(14.5, 9), QPointF(9, 14.5));
  }
  p.end();
  return pm;
}

QPixmap TitleIcon() {
  QPixmap pm = Canvas(16, 16);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xe8, 0xf6, 0xe0));
  p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
  p.setBrush(kGreen);
  p.drawEllipse(QRectF(5.5, 5.5, 5, 5));
  p.setPen(QPen(kLeaf, 2, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(8, 3), QPointF(13, 3));
  return pm;
}

QPixmap PreviewPlaceholder() {
  QPixmap pm = Canvas(300, 224);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  // A page with a magnifying glass over it.
  p.setPen(QPen(QColor(0x9f, 0xb8, 0x93), 2));
  p.setBrush(QColor(0xfa, 0xfd, 0xf7));
  p.drawRoundedRect(QRectF(70, 22, 130, 170), 6, 6);
  p.setPen(QPen(QColor(0xc8, 0xd8, 0xbf), 4, Qt::SolidLine, Qt::RoundCap));
  for (int y = 52; y <= 160; y += 18) p.drawLine(QPointF(90, y), QPointF(180, y));
  p.setPen(QPen(kGreen, 8, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(210, 150), QPointF(250, 190));
  p.setPen(QPen(kGreen, 6));
  p.setBrush(QColor(255, 255, 255, 150));
  p.drawEllipse(QPointF(185, 125), 36, 36);
  return pm;
}

}  // namespace corvan
