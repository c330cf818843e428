#pragma once
// The image pane: a found picture decoded by Qt's image readers (with the
// image-format plugins) and drawn at its natural size, or shrunk to fit,
// in the middle of the pane.

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <span>

namespace corvan {

// A picture decoded for the pane: `image` may be smaller than `size` when it
// was decoded straight to the size it is drawn at.
struct DecodedImage {
  QImage image;
  QSize size;  // the picture's own size in pixels
  bool ok = false;
};

// Decodes `bytes`; a picture larger than `fit` is decoded at the size that
// fits (no larger than needed to draw it there). Safe on any thread.
DecodedImage DecodePreviewImage(std::span<const std::uint8_t> bytes, QSize fit);

class CImagePreview : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kId = 8991;

  explicit CImagePreview(QWidget* parent = nullptr);

  void SetImage(DecodedImage image);
  bool Loaded() const { return m_image.ok; }
  // The picture's own size in pixels.
  QSize ImageSize() const { return m_image.size; }
  // Where the picture is drawn in the pane.
  QRect DrawRect() const;
  // The drawing area: the pane inset by one pixel.
  QRect DrawingArea() const { return rect().adjusted(1, 1, -1, -1); }
  // Where a picture of `image` pixels goes in an area of `area` pixels.
  static QRect FitRect(QSize image, QSize area);

 signals:
  // The pane is bigger than the picture was decoded for.
  void WantsLargerImage(QSize fit);

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;

 private:
  DecodedImage m_image;
};

}  // namespace corvan
