#include "preview/ui/CImagePreview.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

#include "ui/DialogLayout.h"

namespace corvan {

DecodedImage DecodePreviewImage(std::span<const std::uint8_t> bytes, QSize fit) {
  DecodedImage out;
  if (bytes.empty()) return out;
  const QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                                  static_cast<qsizetype>(bytes.size()));
  QBuffer buffer;
  buffer.setData(data);
  if (!buffer.open(QIODevice::ReadOnly)) return out;
  QImageReader reader(&buffer);
  const QSize size = reader.size();
  if (size.isValid() && fit.isValid() && !fit.isEmpty()) {
    const QRect drawn = CImagePreview::FitRect(size, fit);
    // Decoding straight to the drawn size is what makes a large photo quick.
    if (drawn.width() < size.width() || drawn.height() < size.height())
      reader.setScaledSize(QSize(std::max(1, drawn.width()), std::max(1, drawn.height())));
  }
  out.image = reader.read();
  if (out.image.isNull()) return out;
  out.size = size.isValid() ? size : out.image.size();
  out.ok = true;
  return out;
}

CImagePreview::CImagePreview(QWidget* parent) : QWidget(parent) {
  SetDlgCtrlId(this, kId);
  setObjectName(QStringLiteral("CImagePreview"));
}

QRect CImagePreview::FitRect(QSize image, QSize area) {
  const int w = image.width(), h = image.height();
  const int W = area.width(), H = area.height();
  if (w <= 0 || h <= 0 || W <= 0 || H <= 0) return {};
  double scale = 1.0;
  if (w > W || h > H) scale = std::min(static_cast<double>(W) / w, static_cast<double>(H) / h);
  const int dw = static_cast<int>(w * scale);
  const int dh = static_cast<int>(h * scale);
  int x = W - dw, y = H - dh;
  if (x > 1) x /= 2;
  if (y > 1) y /= 2;
  return QRect(x, y, dw, dh);
}

void CImagePreview::SetImage(DecodedImage image) {
  m_image = std::move(image);
  update();
}

QRect CImagePreview::DrawRect() const {
  const QRect area = DrawingArea();
  return FitRect(m_image.size, area.size()).translated(area.topLeft());
}

void CImagePreview::paintEvent(QPaintEvent*) {
  if (!m_image.ok) return;
  QPainter p(this);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  p.drawImage(DrawRect(), m_image.image);
}

void CImagePreview::resizeEvent(QResizeEvent*) {
  if (!m_image.ok) return;
  const QRect drawn = DrawRect();
  if (drawn.width() > m_image.image.width() || drawn.height() > m_image.image.height())
    emit WantsLargerImage(DrawingArea().size());
}

}  // namespace corvan
