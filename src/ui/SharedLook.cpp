#include "ui/SharedLook.h"

#include <QFontDatabase>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <array>

#include "platform/Folders.h"

namespace corvan {

namespace {

constexpr std::array<std::uint32_t, kSharedBrushCount> kBrushColours = {
    0xF1FFF4, 0xCCF7FF, 0xDFFFF4, 0xEFF4F5, 0x00361F, 0xFFFFFF};

struct FontSpec {
  int height;
  int weight;
  bool italic;
  bool underline;
};
constexpr std::array<FontSpec, kSharedFontCount> kFontSpecs = {{
    {14, 700, false, false},
    {16, 400, true, false},
    {16, 700, false, false},
    {16, 400, false, false},
    {14, 400, false, true},
    {20, 700, false, false},
    {22, 700, false, false},
    {32, 700, false, false},
}};

std::array<QFont, kSharedFontCount>& Fonts() {
  static std::array<QFont, kSharedFontCount> fonts;
  return fonts;
}

bool& Initialised() {
  static bool done = false;
  return done;
}

QString ArialFamily() {
  // fontconfig maps Arial to a metric-compatible face when Arial itself is
  // missing; say so to Qt too, for platforms without fontconfig rules.
  static const QString family = [] {
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("DejaVu Sans")});
    return QStringLiteral("Arial");
  }();
  return family;
}

}  // namespace

QFont ArialFont(int pixelHeight, int weight, bool italic, bool underline) {
  QFont f(ArialFamily());
  // The designs give the character cell height (ascent + descent); Arial's
  // em is 2048 of its 2288 cell units.
  f.setPixelSize(qMax(1, qRound(pixelHeight * 2048.0 / 2288.0)));
  f.setWeight(static_cast<QFont::Weight>(weight));
  f.setItalic(italic);
  f.setUnderline(underline);
  f.setStyleStrategy(QFont::PreferAntialias);
  return f;
}

void InitSharedLook() {
  if (Initialised()) return;
  for (int i = 0; i < kSharedFontCount; ++i) {
    const FontSpec& s = kFontSpecs[static_cast<std::size_t>(i)];
    Fonts()[static_cast<std::size_t>(i)] = ArialFont(s.height, s.weight, s.italic, s.underline);
  }
  Initialised() = true;
}

const QFont& SharedFontAt(SharedFont which) {
  InitSharedLook();
  return Fonts()[static_cast<std::size_t>(which)];
}

std::uint32_t SharedBrushColorRef(SharedBrush which) {
  return kBrushColours[static_cast<std::size_t>(which)];
}

QColor SharedBrushColour(SharedBrush which) { return FromColorRef(SharedBrushColorRef(which)); }

QImage LoadPngImage(unsigned id) {
  static QMutex mutex;
  static QHash<unsigned, QImage> cache;
  QMutexLocker lock(&mutex);
  if (auto it = cache.constFind(id); it != cache.constEnd()) return *it;
  const auto file = InstallFolder() / "images" / (std::to_string(id) + ".png");
  QImage image(QString::fromStdString(file.string()));
  if (!image.isNull()) image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  cache.insert(id, image);
  return image;
}

QPixmap LoadBitmapResource(unsigned id) {
  const QImage image = LoadPngImage(id);
  return image.isNull() ? QPixmap() : QPixmap::fromImage(image);
}

}  // namespace corvan
