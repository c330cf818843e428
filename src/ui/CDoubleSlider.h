#pragma once
// A slider with two thumbs over a range of doubles. Each change of a thumb,
// by the owner's call or by dragging, is told through SliderChanged
// (0 lower thumb, 1 upper thumb) before the slider repaints.

#include <QRect>
#include <QWidget>

#include "ui/DoubleSliderRange.h"

namespace corvan {

class CDoubleSlider : public QWidget {
  Q_OBJECT
 public:
  explicit CDoubleSlider(QWidget* parent = nullptr);

  void SetRange(double a, double b);
  void SetPositions(double low, double high);
  void SetInverted(bool inverted) { m_range.m_bInverted = inverted; }
  void SetHorizontal(bool horizontal);
  void SetMark(double low, double high, bool show);

  const DoubleSliderRange& Range() const { return m_range; }
  double Low() const { return m_range.Low(); }
  double High() const { return m_range.High(); }
  QRect LowThumbRect() const { return m_rcLow; }
  QRect HighThumbRect() const { return m_rcHigh; }
  int ThumbSize() const { return m_nThumbSize; }
  int TrackLength() const { return m_nTrackLength; }
  bool IsDragging() const { return m_bDragging; }

  static constexpr std::uint32_t kThumbColour = 0x0F4311;
  static constexpr std::uint32_t kBandColour = 0x14CEB7;
  static constexpr std::uint32_t kMarkColour = 0x96FFFF;

 signals:
  void SliderChanged(int which);

 protected:
  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;

 private:
  void Notify(const std::vector<int>& moved);
  // Thumb size, track and thumb rectangles for the current size and values.
  void Place();
  // A rectangle given along and across the track, in widget coordinates.
  QRect Oriented(int along, int across, int alongSize, int acrossSize) const;
  int Along(const QPoint& p) const { return m_bHorizontal ? p.x() : p.y(); }

  DoubleSliderRange m_range;
  double m_dMarkLow = 0.0, m_dMarkHigh = 0.0;
  bool m_bShowMark = false;
  bool m_bHorizontal = true;
  int m_nThumbSize = 10;
  int m_nTrackLength = 0;
  bool m_bDragging = false;
  int m_nDragWhat = 0;  // 0 lower thumb, 1 upper thumb, 2 the band between
  QRect m_rcLow, m_rcHigh;
  int m_nOffset = 0;
};

}  // namespace corvan
