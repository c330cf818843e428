#include "ui/CSlider.h"

#include <QPainter>
#include <QThread>

#include "ui/DialogLook.h"
#include "ui/SharedLook.h"

namespace corvan {

CSlider::CSlider(QWidget* owner, int width)
    : QWidget(owner ? owner->window() : nullptr,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus),
      m_pOwner(owner) {
  setAttribute(Qt::WA_ShowWithoutActivating);
  resize(width, owner ? std::max(owner->height() - 116, 1) : 400);
}

QRect CSlider::OwnerRect() const {
  if (!m_pOwner) return {};
  return QRect(m_pOwner->mapToGlobal(QPoint(0, 0)), m_pOwner->size());
}

QRect CSlider::PlaceFor(const QRect& owner, int width, int side) {
  const int right = owner.left() + owner.width();
  const int x = side == 1 ? right - 3 : owner.left() - width + 3;
  return QRect(x, owner.top() + 102, width, owner.height() - 116);
}

std::vector<int> CSlider::SlideSteps(const QRect& owner, int width, int side, bool opening) {
  const int count = width / 5 + 1;
  const int right = owner.left() + owner.width();
  // Behind the owner and fully out, for either side.
  const int hidden = side == 1 ? right - width - 3 : owner.left() + 3;
  const int shown = PlaceFor(owner, width, side).left();
  const int from = opening ? hidden : shown;
  const int to = opening ? shown : hidden;
  const int dir = to >= from ? 5 : -5;
  std::vector<int> xs;
  xs.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const int x = from + dir * i;
    xs.push_back(dir > 0 ? std::min(x, to) : std::max(x, to));
  }
  xs.back() = to;  // the last step lands exactly, whatever the width
  return xs;
}

void CSlider::Step(const std::vector<int>& xs, const QRect& owner, bool hideAtEnd) {
  const QRect place = PlaceFor(owner, width(), m_nSide);
  setFixedHeight(std::max(place.height(), 1));
  if (!isVisible()) show();
  for (int x : xs) {
    if (m_nStepDelay > 0) QThread::msleep(static_cast<unsigned long>(m_nStepDelay));
    move(x, place.top());
  }
  if (hideAtEnd) hide();
  m_rcPanel = geometry();
}

void CSlider::SlideOpen() {
  m_rcOwner = OwnerRect();
  Step(SlideSteps(m_rcOwner, width(), m_nSide, true), m_rcOwner, false);
}

void CSlider::SlideClose() {
  m_rcOwner = OwnerRect();
  Step(SlideSteps(m_rcOwner, width(), m_nSide, false), m_rcOwner, true);
}

void CSlider::PlaceBesideOwner() {
  m_rcOwner = OwnerRect();
  setGeometry(PlaceFor(m_rcOwner, width(), m_nSide));
  show();
}

void CSlider::OnOK() {
  emit PanelClosed();
  hide();
}

void CSlider::OnCancel() {
  emit PanelClosed();
  hide();
}

void CSlider::paintEvent(QPaintEvent*) {
  QPainter p(this);
  FillDialogBackground(p, rect());
  p.setPen(FromColorRef(0x3D6B1C));
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace corvan
