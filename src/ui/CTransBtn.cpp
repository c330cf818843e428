#include "ui/CTransBtn.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/SharedLook.h"

namespace corvan {

CTransBtn::CTransBtn(QWidget* parent) : CTransWnd(parent) {
  m_font = QFont(QStringLiteral("Arial"));
  m_font.setPointSize(12);
  setMouseTracking(true);
}

bool CTransBtn::SetImages(unsigned normal, unsigned disabled, unsigned hover, unsigned pressed, unsigned checked) {
  const std::array<unsigned, kSlotCount> ids = {normal, disabled, hover, pressed, checked};
  std::array<QImage, kSlotCount> images;
  for (std::size_t i = 0; i < ids.size(); ++i)
    if (ids[i] != 0) images[i] = LoadPngImage(ids[i]);
  return SetImageSet(images);
}

bool CTransBtn::SetImageSet(const std::array<QImage, kSlotCount>& images) {
  m_images.clear();
  m_nCurrent = -1;
  if (images[kSlotNormal].isNull()) return false;
  m_images.assign(images.begin(), images.end());
  m_nCurrent = kSlotNormal;
  resize(images[kSlotNormal].size());
  update();
  return true;
}

int CTransBtn::PickSlot(bool hover, bool pressed, bool disabled, bool checked,
                        const std::array<bool, kSlotCount>& present) {
  int slot = kSlotNormal;
  if (hover) slot = pressed ? kSlotPressed : kSlotHover;
  else if (disabled) slot = kSlotDisabled;
  else if (checked) slot = kSlotChecked;
  return present[static_cast<std::size_t>(slot)] ? slot : kSlotNormal;
}

void CTransBtn::RequestRender() {
  if (m_images.empty()) return;
  std::array<bool, kSlotCount> present{};
  for (std::size_t i = 0; i < present.size(); ++i) present[i] = !m_images[i].isNull();
  const int slot = PickSlot(m_bHover, m_bPressed, m_bDisabled, m_bChecked, present);
  if (slot == m_nCurrent) return;
  m_nCurrent = slot;
  update();
  CTransWnd::RequestRender();
}

void CTransBtn::Render(QPainter& painter, const QPoint& topLeft) {
  if (m_nCurrent < 0 || m_nCurrent >= static_cast<int>(m_images.size())) return;
  const QRect target(topLeft, size());
  painter.drawImage(target, m_images[static_cast<std::size_t>(m_nCurrent)]);
  const QString text = windowTitle();
  if (!text.isEmpty()) {
    painter.setFont(m_font);
    painter.setPen(Qt::black);
    painter.drawText(target, Qt::AlignCenter, text);
  }
}

void CTransBtn::enterEvent(QEnterEvent* e) {
  m_bHover = true;
  RequestRender();
  CTransWnd::enterEvent(e);
}

void CTransBtn::leaveEvent(QEvent* e) {
  m_bHover = false;
  RequestRender();
  CTransWnd::leaveEvent(e);
}

void CTransBtn::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  m_bPressed = true;
  RequestRender();
  e->accept();
}

void CTransBtn::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  m_bPressed = false;
  const bool inside = rect().contains(e->position().toPoint());
  if (inside) m_bChecked = m_bCheckable ? !m_bChecked : false;
  else m_bHover = false;
  RequestRender();
  if (inside) emit clicked();
}

}  // namespace corvan
