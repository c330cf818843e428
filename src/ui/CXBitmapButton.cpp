#include "ui/CXBitmapButton.h"

#include <QMouseEvent>

namespace corvan {

CXBitmapButton::CXBitmapButton(QWidget* parent) : CTButton(parent) { setMouseTracking(true); }

void CXBitmapButton::enterEvent(QEnterEvent* e) {
  if (isEnabled() && m_nState != 3) SetState(1);
  CTButton::enterEvent(e);
}

void CXBitmapButton::leaveEvent(QEvent* e) {
  if (m_nState != 3) SetState(0);
  CTButton::leaveEvent(e);
}

void CXBitmapButton::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) SetState(2);
  QAbstractButton::mousePressEvent(e);
}

void CXBitmapButton::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) SetState(rect().contains(e->position().toPoint()) ? 1 : 0);
  QAbstractButton::mouseReleaseEvent(e);
}

}  // namespace corvan
