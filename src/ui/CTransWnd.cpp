#include "ui/CTransWnd.h"

#include <QEvent>
#include <QPainter>

namespace corvan {

CTransWnd::CTransWnd(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  setFocusPolicy(Qt::NoFocus);
}

void CTransWnd::RequestRender() {
  if (m_pListener) m_pListener->OnRenderRequest(this);
}

void CTransWnd::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Render(p, QPoint(0, 0));
}

void CTransWnd::changeEvent(QEvent* e) {
  if (e->type() == QEvent::EnabledChange) {
    const bool disabled = !isEnabled();
    if (disabled != m_bDisabled) {
      m_bDisabled = disabled;
      RequestRender();
    }
  }
  QWidget::changeEvent(e);
}

}  // namespace corvan
