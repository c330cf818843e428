#include "ui/CDoubleSlider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>

#include "ui/SharedLook.h"

namespace corvan {

CDoubleSlider::CDoubleSlider(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::ClickFocus);
  setMinimumSize(20, 8);
}

void CDoubleSlider::Notify(const std::vector<int>& moved) {
  for (int which : moved) emit SliderChanged(which);
}

void CDoubleSlider::SetRange(double a, double b) {
  Notify(m_range.SetRange(a, b));
  Place();
  update();
}

void CDoubleSlider::SetPositions(double low, double high) {
  Notify(m_range.SetPositions(low, high));
  Place();
  update();
}

void CDoubleSlider::SetHorizontal(bool horizontal) {
  m_bHorizontal = horizontal;
  Place();
  update();
}

void CDoubleSlider::SetMark(double low, double high, bool show) {
  m_dMarkLow = low;
  m_dMarkHigh = high;
  m_bShowMark = show;
  update();
}

QRect CDoubleSlider::Oriented(int along, int across, int alongSize, int acrossSize) const {
  return m_bHorizontal ? QRect(along, across, alongSize, acrossSize) : QRect(across, along, acrossSize, alongSize);
}

void CDoubleSlider::Place() {
  const int cross = m_bHorizontal ? height() : width();
  const int length = m_bHorizontal ? width() : height();
  m_nThumbSize = cross * 3 / 4;
  m_nTrackLength = length - 2 * m_nThumbSize;
  const int lowPx = m_range.PixelOf(m_range.m_dLow, m_nTrackLength);
  const int highPx = m_range.PixelOf(m_range.m_dHigh, m_nTrackLength);
  m_rcLow = Oriented(lowPx, 0, m_nThumbSize, cross);
  m_rcHigh = Oriented(highPx + m_nThumbSize, 0, m_nThumbSize, cross);
}

void CDoubleSlider::resizeEvent(QResizeEvent*) { Place(); }

void CDoubleSlider::paintEvent(QPaintEvent*) {
  Place();
  QPainter p(this);
  const int cross = m_bHorizontal ? height() : width();
  const int t = m_nThumbSize;
  const int lowPx = m_range.PixelOf(m_range.m_dLow, m_nTrackLength);
  const int highPx = m_range.PixelOf(m_range.m_dHigh, m_nTrackLength);

  p.setPen(Qt::black);
  p.setBrush(FromColorRef(kDialogBackground));
  p.drawRect(rect().adjusted(0, 0, -1, -1));

  // The band between the thumbs, then the marked part of it.
  p.fillRect(Oriented(lowPx + t + 1, 1, highPx - lowPx - 1, cross - 1), FromColorRef(kBandColour));
  if (m_bShowMark && m_dMarkLow < m_range.m_dHigh && m_range.m_dLow < m_dMarkHigh) {
    const int from = m_range.PixelOf(std::max(m_dMarkLow, m_range.m_dLow), m_nTrackLength) + t;
    const int to = m_range.PixelOf(std::min(m_dMarkHigh, m_range.m_dHigh), m_nTrackLength) + t;
    p.fillRect(Oriented(from + 1, 1, to - from, cross - 1), FromColorRef(kMarkColour));
  }

  const auto drawThumb = [&](const QRect& r, bool dragged, bool pointsForward) {
    p.setPen(Qt::black);
    p.setBrush(FromColorRef(kThumbColour));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    if (!dragged) {
      const QRect in = r.adjusted(1, 1, -2, -2);
      p.setPen(palette().color(QPalette::Light));
      p.drawLine(in.topLeft(), in.topRight());
      p.drawLine(in.topLeft(), in.bottomLeft());
      p.setPen(palette().color(QPalette::Dark));
      p.drawLine(in.bottomLeft(), in.bottomRight());
      p.drawLine(in.topRight(), in.bottomRight());
    }
    // A white triangle over the middle third, pointing at the other thumb.
    const int a0 = (m_bHorizontal ? r.left() : r.top());
    const int base = pointsForward ? a0 + t / 3 : a0 + 2 * t / 3;
    const int tip = pointsForward ? a0 + 2 * t / 3 : a0 + t / 3;
    const auto pt = [&](int along, int across) { return m_bHorizontal ? QPoint(along, across) : QPoint(across, along); };
    QPolygon tri;
    tri << pt(base, cross / 3) << pt(base, 2 * cross / 3) << pt(tip, cross / 2);
    p.setPen(Qt::white);
    p.setBrush(Qt::white);
    p.drawPolygon(tri);
  };
  drawThumb(m_rcLow, m_bDragging && m_nDragWhat == 0, true);
  drawThumb(m_rcHigh, m_bDragging && m_nDragWhat == 1, false);
}

void CDoubleSlider::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  setFocus(Qt::MouseFocusReason);
  update();
  if (m_bDragging) return;
  Place();
  const QPoint pt = e->position().toPoint();
  QRect band;
  if (m_bHorizontal) band = QRect(QPoint(m_rcLow.right() + 1, 0), QPoint(m_rcHigh.left() - 1, height() - 1));
  else band = QRect(QPoint(0, m_rcLow.bottom() + 1), QPoint(m_rcLow.right(), m_rcHigh.top() - 1));
  const QRect* grabbed = nullptr;
  if (m_rcLow.contains(pt)) {
    m_nDragWhat = 0;
    grabbed = &m_rcLow;
  } else if (m_rcHigh.contains(pt)) {
    m_nDragWhat = 1;
    grabbed = &m_rcHigh;
  } else if (band.isValid() && band.contains(pt)) {
    m_nDragWhat = 2;
    grabbed = &band;
  }
  if (!grabbed) return;
  m_bDragging = true;
  m_nOffset = Along(pt) - Along(grabbed->center());
}

void CDoubleSlider::mouseMoveEvent(QMouseEvent* e) {
  if (!m_bDragging) return;
  const int p = Along(e->position().toPoint()) - m_nOffset;
  if (m_nDragWhat == 0) m_range.DragLower(p, m_nThumbSize, m_nTrackLength);
  else if (m_nDragWhat == 1) m_range.DragUpper(p, m_nThumbSize, m_nTrackLength);
  emit SliderChanged(m_nDragWhat == 1 ? 1 : 0);
  update();
}

void CDoubleSlider::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !m_bDragging) return;
  m_bDragging = false;
  update();
}

void CDoubleSlider::focusInEvent(QFocusEvent* e) {
  QWidget::focusInEvent(e);
  update();
}

void CDoubleSlider::focusOutEvent(QFocusEvent* e) {
  QWidget::focusOutEvent(e);
  update();
}

}  // namespace corvan
