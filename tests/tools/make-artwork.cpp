// Draws the program's images into resources/images/<id>.png:
//   make-artwork OUTDIR
// Run it again after changing a drawing; the PNGs are kept in the tree.

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>
#include <functional>

namespace {

QString g_out;

QFont Face(int pixels, int weight = 400) {
  QFont f(QStringLiteral("Arial"));
  f.setPixelSize(pixels);
  f.setWeight(static_cast<QFont::Weight>(weight));
  f.setStyleStrategy(QFont::PreferAntialias);
  return f;
}

bool Save(unsigned id, const QImage& image) {
  const QString file = QDir(g_out).filePath(QString::number(id) + QStringLiteral(".png"));
  if (!image.save(file)) {
    std::fprintf(stderr, "make-artwork: cannot write %s\n", qPrintable(file));
    return false;
  }
  return true;
}

QImage Canvas(int w, int h) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  return img;
}

void Paint(QImage& img, const std::function<void(QPainter&)>& fn) {
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  fn(p);
}

const QColor kDeep(0x1d, 0x4a, 0x1b);
const QColor kGreen(0x2f, 0x6b, 0x2a);
const QColor kLeaf(0x5f, 0xa8, 0x46);
const QColor kPale(0xf4, 0xff, 0xf1);  // the dialog colour

// ---- the skin ----
QImage Skin() {
  QImage img = Canvas(640, 700);
  Paint(img, [](QPainter& p) {
    QPainterPath outline;
    outline.addRoundedRect(QRectF(0.5, 0.5, 639, 699), 12, 12);
    p.setClipPath(outline);
    // Body frame.
    QLinearGradient body(0, 0, 0, 700);
    body.setColorAt(0, QColor(0xd6, 0xe9, 0xc9));
    body.setColorAt(1, QColor(0xbf, 0xda, 0xae));
    p.fillRect(QRect(0, 0, 640, 700), body);
    // Header.
    QLinearGradient head(0, 0, 0, 96);
    head.setColorAt(0, QColor(0x3c, 0x80, 0x34));
    head.setColorAt(1, kDeep);
    p.fillRect(QRect(0, 0, 640, 96), head);
    QRadialGradient glow(QPointF(120, -40), 260);
    glow.setColorAt(0, QColor(255, 255, 255, 70));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(QRect(0, 0, 640, 96), glow);
    p.fillRect(QRect(0, 95, 640, 1), QColor(0x10, 0x30, 0x10));
    // Emblem: a disk with a green arrow.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xe8, 0xf6, 0xe0));
    p.drawEllipse(QRectF(22, 20, 52, 52));
    p.setBrush(kGreen);
    p.drawEllipse(QRectF(38, 36, 20, 20));
    p.setBrush(QColor(0xe8, 0xf6, 0xe0));
    p.drawEllipse(QRectF(44, 42, 8, 8));
    // Title.
    p.setPen(Qt::white);
    p.setFont(Face(28, 700));
    p.drawText(QRect(90, 18, 440, 34), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Halvard Vantrel"));
    p.setPen(QColor(0xcf, 0xec, 0xc0));
    p.setFont(Face(16));
    p.drawText(QRect(92, 54, 440, 22), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Virtual Machine Data Recovery"));
    // Tab strip under the header.
    QLinearGradient strip(0, 96, 0, 151);
    strip.setColorAt(0, QColor(0xea, 0xf5, 0xe2));
    strip.setColorAt(1, QColor(0xd2, 0xe8, 0xc4));
    p.fillRect(QRect(0, 96, 640, 55), strip);
    // Page area with its frame.
    p.fillRect(QRect(27, 151, 582, 528), kPale);
    p.setPen(QColor(0x7f, 0xa8, 0x6a));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(26.5, 150.5, 583, 529));
    p.setClipping(false);
    p.setPen(QPen(QColor(0x16, 0x36, 0x12), 1));
    p.drawPath(outline);
  });
  return img;
}

// ---- skin buttons: glyphs on a round plate that lights up on hover ----
enum class Glyph { Minimise, Close, Help, Restore, Info, Gear };

void DrawGlyph(QPainter& p, Glyph g, const QRectF& r, const QColor& c) {
  p.setPen(QPen(c, 2, Qt::SolidLine, Qt::RoundCap));
  p.setBrush(Qt::NoBrush);
  const QPointF m = r.center();
  switch (g) {
    case Glyph::Minimise: p.drawLine(QPointF(m.x() - 5, m.y() + 4), QPointF(m.x() + 5, m.y() + 4)); break;
    case Glyph::Close:
      p.drawLine(QPointF(m.x() - 4.5, m.y() - 4.5), QPointF(m.x() + 4.5, m.y() + 4.5));
      p.drawLine(QPointF(m.x() + 4.5, m.y() - 4.5), QPointF(m.x() - 4.5, m.y() + 4.5));
      break;
    case Glyph::Restore: p.drawRect(QRectF(m.x() - 4.5, m.y() - 4, 9, 8)); break;
    case Glyph::Help:
    case Glyph::Info: {
      QFont f = Face(static_cast<int>(r.height() * 0.7), 700);
      p.setFont(f);
      p.setPen(c);
      p.drawText(r, Qt::AlignCenter, g == Glyph::Help ? QStringLiteral("?") : QStringLiteral("i"));
      break;
    }
    case Glyph::Gear: {
      p.setPen(QPen(c, 2));
      p.drawEllipse(m, 3.2, 3.2);
      for (int i = 0; i < 8; ++i) {
        QTransform t;
        t.translate(m.x(), m.y());
        t.rotate(i * 45);
        p.drawLine(t.map(QPointF(0, -5)), t.map(QPointF(0, -7)));
      }
      break;
    }
  }
}

QImage SkinButton(Glyph g, bool hover) {
  QImage img = Canvas(22, 20);
  Paint(img, [&](QPainter& p) {
    const QRectF plate(1, 0.5, 20, 19);
    if (hover) {
      p.setPen(QColor(255, 255, 255, 120));
      p.setBrush(g == Glyph::Close ? QColor(0xc8, 0x3a, 0x2c) : QColor(255, 255, 255, 70));
      p.drawRoundedRect(plate, 4, 4);
    }
    DrawGlyph(p, g, plate, QColor(0xf0, 0xfa, 0xea));
  });
  return img;
}

// ---- strips of four states ----
QImage SmallStrip(Glyph g) {
  QImage img = Canvas(88, 23);
  Paint(img, [&](QPainter& p) {
    for (int s = 0; s < 4; ++s) {
      const QRectF r(s * 22 + 1.5, 1.5, 19, 20);
      QColor face = s == 1 ? QColor(0x7c, 0xc2, 0x62) : s == 2 ? QColor(0x2a, 0x5e, 0x24) : QColor(0x4a, 0x8c, 0x3e);
      if (s == 3) face = QColor(0x70, 0x80, 0x6c);
      QLinearGradient grad(r.topLeft(), r.bottomLeft());
      grad.setColorAt(0, face.lighter(125));
      grad.setColorAt(1, face);
      p.setPen(QColor(0xe6, 0xf4, 0xde, s == 3 ? 90 : 200));
      p.setBrush(grad);
      p.drawRoundedRect(r, 5, 5);
      DrawGlyph(p, g, r, s == 3 ? QColor(0xb8, 0xc2, 0xb4) : Qt::white);
    }
  });
  return img;
}

enum class TabIcon { Disk, Resume, List };

void DrawTabIcon(QPainter& p, TabIcon icon, const QRectF& r, const QColor& c) {
  p.setPen(QPen(c, 2));
  p.setBrush(Qt::NoBrush);
  switch (icon) {
    case TabIcon::Disk:
      p.drawRoundedRect(r.adjusted(1, 4, -1, -4), 3, 3);
      p.drawEllipse(QPointF(r.right() - 6, r.center().y()), 1.5, 1.5);
      break;
    case TabIcon::Resume: {
      p.drawArc(r.adjusted(2, 2, -2, -2), 60 * 16, 300 * 16);
      const QPointF tip(r.center().x() + 4, r.top() + 2);
      p.drawLine(tip, tip + QPointF(-5, -1));
      p.drawLine(tip, tip + QPointF(-2, 4));
      break;
    }
    case TabIcon::List:
      for (int i = 0; i < 3; ++i) p.drawLine(QPointF(r.left() + 2, r.top() + 5 + i * 5), QPointF(r.right() - 2, r.top() + 5 + i * 5));
      break;
  }
}

QImage LargeStrip(int width, const QString& text, TabIcon icon) {
  QImage img = Canvas(width * 4, 47);
  Paint(img, [&](QPainter& p) {
    for (int s = 0; s < 4; ++s) {
      const QRectF r(s * width + 3.5, 6.5, width - 7, 41);
      QPainterPath tab;
      tab.moveTo(r.bottomLeft() + QPointF(0, 1));
      tab.lineTo(r.left(), r.top() + 7);
      tab.quadTo(r.topLeft(), QPointF(r.left() + 7, r.top()));
      tab.lineTo(r.right() - 7, r.top());
      tab.quadTo(r.topRight(), QPointF(r.right(), r.top() + 7));
      tab.lineTo(r.right(), r.bottom() + 1);
      QLinearGradient grad(r.topLeft(), r.bottomLeft());
      QColor text_colour = kDeep;
      switch (s) {
        case 0:
          grad.setColorAt(0, QColor(0xfb, 0xfe, 0xf8));
          grad.setColorAt(1, QColor(0xdc, 0xee, 0xd0));
          break;
        case 1:
          grad.setColorAt(0, kPale);
          grad.setColorAt(1, kPale);
          text_colour = kGreen;
          break;
        case 2:
          grad.setColorAt(0, QColor(0xc6, 0xe2, 0xb4));
          grad.setColorAt(1, QColor(0xb2, 0xd6, 0x9c));
          break;
        default:
          grad.setColorAt(0, QColor(0xee, 0xf0, 0xec));
          grad.setColorAt(1, QColor(0xdc, 0xe0, 0xda));
          text_colour = QColor(0x9a, 0xa4, 0x96);
      }
      p.setPen(QPen(s == 3 ? QColor(0xb0, 0xbc, 0xaa) : QColor(0x7f, 0xa8, 0x6a), 1));
      p.setBrush(grad);
      p.drawPath(tab);
      if (s == 1) {
        // The selected tab opens into the page below it.
        p.fillRect(QRectF(r.left() + 1, r.bottom() - 1, r.width() - 1, 3), kPale);
        p.fillRect(QRectF(r.left() + 6, r.top() + 1, r.width() - 12, 3), kLeaf);
      }
      DrawTabIcon(p, icon, QRectF(r.left() + 16, r.top() + 11, 20, 20), text_colour);
      p.setPen(text_colour);
      p.setFont(Face(16, s == 1 ? 700 : 400));
      p.drawText(QRectF(r.left() + 42, r.top(), r.width() - 48, r.height()), Qt::AlignLeft | Qt::AlignVCenter, text);
    }
  });
  return img;
}

// ---- message pictures ----
QImage Picture(unsigned id) {
  QImage img = Canvas(48, 48);
  Paint(img, [&](QPainter& p) {
    const QRectF r(3, 3, 42, 42);
    QColor base;
    QString mark;
    if (id == 241) {
      QPainterPath tri;
      tri.moveTo(24, 3);
      tri.lineTo(45.5, 43);
      tri.lineTo(2.5, 43);
      tri.closeSubpath();
      QLinearGradient g(0, 3, 0, 43);
      g.setColorAt(0, QColor(0xff, 0xd8, 0x4a));
      g.setColorAt(1, QColor(0xe8, 0xa4, 0x10));
      p.setPen(QPen(QColor(0x9a, 0x66, 0x00), 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      p.setBrush(g);
      p.drawPath(tri);
      p.setPen(QColor(0x3a, 0x2a, 0x00));
      p.setFont(Face(28, 700));
      p.drawText(QRectF(0, 12, 48, 32), Qt::AlignCenter, QStringLiteral("!"));
      return;
    }
    if (id == 223) {
      base = QColor(0xd2, 0x3a, 0x2a);
      mark = QStringLiteral("×");
    } else if (id == 224) {
      base = QColor(0x2f, 0x8a, 0x3a);
      mark = QStringLiteral("?");
    } else {
      base = QColor(0x2a, 0x6c, 0xb8);
      mark = QStringLiteral("i");
    }
    QRadialGradient g(QPointF(18, 16), 30);
    g.setColorAt(0, base.lighter(140));
    g.setColorAt(1, base);
    p.setPen(QPen(base.darker(140), 1.5));
    p.setBrush(g);
    p.drawEllipse(r);
    p.setPen(Qt::white);
    p.setFont(Face(id == 223 ? 36 : 30, 700));
    p.drawText(r.adjusted(0, id == 223 ? -2 : 0, 0, 0), Qt::AlignCenter, mark);
  });
  return img;
}

// ---- please-wait pictures ----
QImage Splash(const QString& line) {
  QImage img(340, 140, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::white);
  Paint(img, [&](QPainter& p) {
    QLinearGradient head(0, 0, 0, 60);
    head.setColorAt(0, QColor(0x3c, 0x80, 0x34));
    head.setColorAt(1, kDeep);
    p.fillRect(QRect(0, 0, 340, 60), head);
    p.setPen(Qt::white);
    p.setFont(Face(22, 700));
    p.drawText(QRect(18, 6, 310, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Halvard Vantrel"));
    p.setPen(QColor(0xcf, 0xec, 0xc0));
    p.setFont(Face(14));
    p.drawText(QRect(19, 34, 310, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Virtual Machine Data Recovery"));
    p.fillRect(QRect(0, 138, 340, 2), kGreen);
    p.setPen(kDeep);
    p.setFont(Face(15));
    p.drawText(QRect(0, 72, 340, 28), Qt::AlignCenter, line);
    p.setPen(QColor(0x7f, 0xa8, 0x6a));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, 339, 139));
  });
  return img;
}

QImage CheckBox(bool checked) {
  QImage img = Canvas(16, 16);
  Paint(img, [&](QPainter& p) {
    p.setPen(QPen(QColor(0x4a, 0x7a, 0x3e), 1));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(1.5, 1.5, 13, 13), 2, 2);
    if (checked) {
      p.setPen(QPen(kGreen, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
      QPainterPath tick;
      tick.moveTo(4, 8.5);
      tick.lineTo(7, 11.5);
      tick.lineTo(12, 4.5);
      p.setBrush(Qt::NoBrush);
      p.drawPath(tick);
    }
  });
  return img;
}

// ---- the resume page's pictures ----
// A disk drawn from the side: its case, a light and, for a drive scan, the
// volumes it holds as bars.
void DrawDrive(QPainter& p, const QRectF& r, bool volumes) {
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  g.setColorAt(0, QColor(0xe4, 0xee, 0xe0));
  g.setColorAt(1, QColor(0xa8, 0xbc, 0xa2));
  p.setPen(QPen(QColor(0x4a, 0x66, 0x44), r.height() > 20 ? 1.5 : 1));
  p.setBrush(g);
  p.drawRoundedRect(r, r.height() / 6, r.height() / 6);
  p.setPen(Qt::NoPen);
  p.setBrush(kLeaf);
  p.drawEllipse(QPointF(r.right() - r.height() / 3, r.center().y()), r.height() / 9, r.height() / 9);
  if (!volumes) return;
  const QColor bars[] = {kGreen, QColor(0x3a, 0x7c, 0xb8), QColor(0xd0, 0x9a, 0x2a)};
  const double w = (r.width() - r.height()) / 3;
  for (int i = 0; i < 3; ++i)
    p.fillRect(QRectF(r.left() + 4 + i * w, r.center().y() - 3, w - 2, 6), bars[i]);
}

QImage SavedScanPicture(bool driveScan) {
  QImage img = Canvas(48, 48);
  Paint(img, [&](QPainter& p) {
    if (driveScan) {
      DrawDrive(p, QRectF(3.5, 14.5, 41, 20), true);
      return;
    }
    // A folder with a sheet of found files in it.
    p.setPen(QPen(QColor(0x8a, 0x6a, 0x10), 1.5));
    p.setBrush(QColor(0xe8, 0xc0, 0x4a));
    p.drawPolygon(QPolygonF({QPointF(4, 40), QPointF(4, 10), QPointF(17, 10), QPointF(21, 14), QPointF(44, 14),
                             QPointF(44, 40)}));
    p.setPen(QPen(QColor(0x9a, 0xa8, 0x94), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(11.5, 8.5, 24, 22));
    p.setPen(QPen(kGreen, 1.5));
    for (int i = 0; i < 3; ++i) p.drawLine(QPointF(15, 14 + i * 5), QPointF(32, 14 + i * 5));
    QLinearGradient front(0, 20, 0, 42);
    front.setColorAt(0, QColor(0xf6, 0xd8, 0x6a));
    front.setColorAt(1, QColor(0xe0, 0xb0, 0x34));
    p.setPen(QPen(QColor(0x8a, 0x6a, 0x10), 1.5));
    p.setBrush(front);
    p.drawRoundedRect(QRectF(4, 20, 40, 22), 2, 2);
  });
  return img;
}

QImage VolumeIcon() {
  QImage img = Canvas(16, 16);
  Paint(img, [](QPainter& p) { DrawDrive(p, QRectF(1.5, 4.5, 13, 7), false); });
  return img;
}

QImage AppIcon() {
  QImage img = Canvas(64, 64);
  Paint(img, [](QPainter& p) {
    QLinearGradient g(0, 0, 0, 64);
    g.setColorAt(0, QColor(0x4a, 0x94, 0x40));
    g.setColorAt(1, kDeep);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
    p.setBrush(QColor(0xe8, 0xf6, 0xe0));
    p.drawEllipse(QRectF(12, 12, 40, 40));
    p.setBrush(kGreen);
    p.drawEllipse(QRectF(24, 24, 16, 16));
    p.setBrush(QColor(0xe8, 0xf6, 0xe0));
    p.drawEllipse(QRectF(29, 29, 6, 6));
  });
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-artwork OUTDIR\n");
    return 2;
  }
  g_out = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(g_out);
  bool ok = true;
  ok &= Save(157, Skin());
  const struct {
    unsigned normal, hover;
    Glyph glyph;
  } skinButtons[] = {{158, 159, Glyph::Minimise}, {153, 154, Glyph::Close},   {151, 152, Glyph::Restore},
                     {160, 161, Glyph::Info},     {149, 150, Glyph::Gear},    {155, 156, Glyph::Help}};
  for (const auto& b : skinButtons) {
    ok &= Save(b.normal, SkinButton(b.glyph, false));
    ok &= Save(b.hover, SkinButton(b.glyph, true));
  }
  ok &= Save(213, SmallStrip(Glyph::Gear));
  ok &= Save(214, SmallStrip(Glyph::Info));
  ok &= Save(215, SmallStrip(Glyph::Help));
  ok &= Save(170, LargeStrip(198, QStringLiteral("New Recovery"), TabIcon::Disk));
  ok &= Save(168, LargeStrip(198, QStringLiteral("Resume Recovery"), TabIcon::Resume));
  ok &= Save(169, LargeStrip(197, QStringLiteral("Scan Results"), TabIcon::List));
  for (unsigned id : {223u, 224u, 225u, 241u}) ok &= Save(id, Picture(id));
  ok &= Save(240, Splash(QStringLiteral("Starting, please wait...")));
  ok &= Save(272, Splash(QStringLiteral("Please wait...")));
  ok &= Save(174, CheckBox(false));
  ok &= Save(171, CheckBox(true));
  ok &= Save(128, AppIcon());
  ok &= Save(172, SavedScanPicture(false));
  ok &= Save(173, SavedScanPicture(true));
  ok &= Save(256, VolumeIcon());
  return ok ? 0 : 1;
}
