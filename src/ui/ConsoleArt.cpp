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

namespace {

// The sign drawn on a file's page, by the kind of file.
enum class FileSign { Plain, Picture, Sound, Movie, Archive, Text, Document, Sheet, Slides, Pdf, Data, Code, Program, Web,
                      Mail, Font, Help, Unknown };

struct FileKind {
  const char* keys;  // icon keys, space separated
  FileSign sign;
  QRgb colour;
};

const FileKind kFileKinds[] = {
    {".bmp .gif .jpg .tif .psd", FileSign::Picture, 0x2e8b57},
    {".au", FileSign::Sound, 0x7b3fa0},
    {".avi .swf", FileSign::Movie, 0x4b2a7b},
    {".zip .rar .bkf", FileSign::Archive, 0x8b5a2b},
    {".txt .ini .cfg .nfo .reg .fnd", FileSign::Text, 0x667788},
    {".doc", FileSign::Document, 0x2a5caa},
    {".xls", FileSign::Sheet, 0x1e7145},
    {".ppt .pps", FileSign::Slides, 0xd2632a},
    {".pdf", FileSign::Pdf, 0xc0282d},
    {".dbf .mdb", FileSign::Data, 0x1f7f86},
    {".asm .asp .bas .c .cpp .cs .h .js .vb .rc .frm .dsp .dsr .sln .bsc .lib", FileSign::Code, 0x44546a},
    {".exe .dll .bat .msi", FileSign::Program, 0x3a4a5a},
    {".htm .xml", FileSign::Web, 0x1c6dd0},
    {".eml .wab", FileSign::Mail, 0xb8860b},
    {".fon .pfm", FileSign::Font, 0x505050},
    {".hlp .chm", FileSign::Help, 0xc79a00},
};

const FileKind* KindOfKey(const QString& key) {
  for (const FileKind& k : kFileKinds)
    if (QString::fromLatin1(k.keys).split(QLatin1Char(' ')).contains(key)) return &k;
  return nullptr;
}

void DrawSign(QPainter& p, FileSign sign, const QColor& c) {
  p.setPen(QPen(c, 1));
  p.setBrush(c);
  switch (sign) {
    case FileSign::Picture: {
      p.drawPolygon(QPolygonF({QPointF(4.5, 13), QPointF(7.5, 8.5), QPointF(9.5, 11), QPointF(10.5, 9.5),
                               QPointF(12.5, 13)}));
      p.setBrush(QColor(0xf2, 0xb1, 0x2c));
      p.setPen(Qt::NoPen);
      p.drawEllipse(QRectF(9.5, 5.5, 2.5, 2.5));
      break;
    }
    case FileSign::Sound:
      p.drawEllipse(QRectF(5, 10.5, 3, 2.5));
      p.drawLine(QPointF(7.6, 11.5), QPointF(7.6, 6));
      p.drawLine(QPointF(7.6, 6), QPointF(11, 7.5));
      break;
    case FileSign::Movie:
      p.drawRect(QRectF(5, 6.5, 7, 6));
      p.setPen(QPen(Qt::white, 1));
      for (double y : {7.5, 9.5, 11.5}) {
        p.drawPoint(QPointF(6, y));
        p.drawPoint(QPointF(11, y));
      }
      break;
    case FileSign::Archive:
      p.setBrush(Qt::NoBrush);
      for (double y = 2.5; y < 12; y += 2) p.drawLine(QPointF(7.5, y), QPointF(9.5, y));
      p.setBrush(c);
      p.drawRect(QRectF(6.5, 11, 4, 3));
      break;
    case FileSign::Document:
    case FileSign::Text:
      for (double y : {6.5, 8.5, 10.5, 12.5}) p.drawLine(QPointF(5.5, y), QPointF(sign == FileSign::Text ? 10.5 : 11.5, y));
      break;
    case FileSign::Sheet:
      p.setBrush(Qt::NoBrush);
      p.drawRect(QRectF(4.5, 6.5, 8, 6));
      p.drawLine(QPointF(4.5, 9.5), QPointF(12.5, 9.5));
      p.drawLine(QPointF(8.5, 6.5), QPointF(8.5, 12.5));
      break;
    case FileSign::Slides:
      p.drawPie(QRectF(5, 6.5, 7, 7), 90 * 16, 270 * 16);
      break;
    case FileSign::Pdf:
      p.drawRect(QRectF(4.5, 8.5, 8, 4));
      p.setPen(QPen(Qt::white, 1));
      p.drawLine(QPointF(6, 10.5), QPointF(11, 10.5));
      break;
    case FileSign::Data:
      p.drawEllipse(QRectF(5, 6, 7, 2.5));
      p.drawRect(QRectF(5, 7.2, 7, 5));
      p.drawEllipse(QRectF(5, 11, 7, 2.5));
      p.setPen(QPen(Qt::white, 0.8));
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRectF(5, 8.6, 7, 2.5), 180 * 16, 180 * 16);
      break;
    case FileSign::Code:
      p.setBrush(Qt::NoBrush);
      p.drawPolyline(QPolygonF({QPointF(7, 7), QPointF(5, 9.5), QPointF(7, 12)}));
      p.drawPolyline(QPolygonF({QPointF(10, 7), QPointF(12, 9.5), QPointF(10, 12)}));
      break;
    case FileSign::Program:
      p.setBrush(Qt::NoBrush);
      p.drawRect(QRectF(4.5, 6.5, 8, 6));
      p.setBrush(c);
      p.drawRect(QRectF(4.5, 6.5, 8, 1.5));
      break;
    case FileSign::Web:
      p.setBrush(Qt::NoBrush);
      p.drawEllipse(QRectF(4.5, 6, 7.5, 7.5));
      p.drawLine(QPointF(4.5, 9.75), QPointF(12, 9.75));
      p.drawEllipse(QRectF(6.8, 6, 3, 7.5));
      break;
    case FileSign::Mail:
      p.setBrush(Qt::NoBrush);
      p.drawRect(QRectF(4.5, 7.5, 8, 5));
      p.drawPolyline(QPolygonF({QPointF(4.5, 7.5), QPointF(8.5, 10.5), QPointF(12.5, 7.5)}));
      break;
    case FileSign::Font:
    case FileSign::Help:
    case FileSign::Unknown: {
      QFont f = ArialFont(9, 700);
      p.setFont(f);
      p.drawText(QRectF(3.5, 5, 10, 10), Qt::AlignCenter,
                 sign == FileSign::Font ? QStringLiteral("A") : QStringLiteral("?"));
      break;
    }
    case FileSign::Plain: break;
  }
}

}  // namespace

QPixmap FileTypeIconPixmap(const QString& key) {
  QPixmap pm = Canvas(16, 16);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  const FileKind* kind = KindOfKey(key);
  const QColor colour = kind ? QColor::fromRgb(kind->colour) : QColor(0x80, 0x80, 0x80);
  p.setPen(QPen(QColor(0x55, 0x66, 0x77), 1));
  p.setBrush(Qt::white);
  p.drawPolygon(QPolygonF({QPointF(2.5, 0.5), QPointF(10.5, 0.5), QPointF(14.5, 4.5), QPointF(14.5, 15.5),
                           QPointF(2.5, 15.5)}));
  // The folded corner carries the kind's colour.
  p.setBrush(colour);
  p.setPen(QPen(colour.darker(130), 1));
  p.drawPolygon(QPolygonF({QPointF(10.5, 0.5), QPointF(10.5, 4.5), QPointF(14.5, 4.5)}));
  DrawSign(p, kind ? kind->sign : FileSign::Unknown, colour);
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
