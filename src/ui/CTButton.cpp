#include "ui/CTButton.h"

#include <QMouseEvent>
#include <QPainter>

#include "ui/SharedLook.h"

namespace corvan {

CTButton::CTButton(QWidget* parent) : QAbstractButton(parent) {
  setCursor(Qt::PointingHandCursor);
  // Keys never press these buttons: they act on the mouse only.
  setFocusPolicy(Qt::NoFocus);
}

void CTButton::LoadBitmaps(unsigned bitmapId, int width, int height, int x, int y, const QString& text1,
                           const QString& text2) {
  m_strText1 = text1;
  m_strText2 = text2;
  m_nBitmapId = bitmapId;
  SetStrip(LoadBitmapResource(bitmapId), width, height, x, y);
}

void CTButton::SetStrip(const QPixmap& strip, int width, int height, int x, int y) {
  m_nWidth = width;
  m_nHeight = height;
  m_nX = x;
  m_nY = y;
  m_nState = 0;
  m_Bitmap = strip;
  setGeometry(x, y, width, height);
  update();
}

void CTButton::SetState(int state) {
  if (state >= 0 && state <= 3) m_nState = state;
  update();
}

void CTButton::SetTooltipText(const QString& text, bool activate) {
  if (text.isEmpty()) return;
  setToolTip(activate ? text : QString());
}

QRect CTButton::StateRect(int n) const { return {m_nSrcX + n * m_nWidth, m_nSrcY, m_nWidth, m_nHeight}; }

void CTButton::paintEvent(QPaintEvent*) {
  if (m_nState < 0 || m_nState > 3 || m_Bitmap.isNull()) return;
  QPainter p(this);
  p.drawPixmap(QRect(0, 0, width(), height()), m_Bitmap, StateRect(m_nState));
}

void CTButton::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && m_nState == 0) m_nState = 1;
  QAbstractButton::mousePressEvent(e);
}

}  // namespace corvan
