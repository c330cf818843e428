#include "ui/CDragTitle.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"

namespace corvan {

CDragTitle::CDragTitle(QWidget* parent, const QString& text, int id)
    : QWidget(parent), m_text(text.isNull() ? ProductCaption() : text) {
  SetDlgCtrlId(this, id);
  setAttribute(Qt::WA_TranslucentBackground);
}

void CDragTitle::SetCaption(const QString& text) {
  m_text = text;
  update();
}

void CDragTitle::paintEvent(QPaintEvent*) {
  QPainter p(this);
  DrawCaptionText(p, m_text);
}

void WindowDrag::Press(QWidget* window, const QPoint& globalPos) {
  m_bDown = true;
  m_pressGlobal = globalPos;
  m_windowStart = window->pos();
  QWindow* handle = window->windowHandle();
  m_bSystemMove = handle && handle->startSystemMove();
}

void WindowDrag::Move(QWidget* window, const QPoint& globalPos) {
  if (m_bDown && !m_bSystemMove) window->move(m_windowStart + (globalPos - m_pressGlobal));
}

void CDragTitle::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
  m_drag.Press(window(), e->globalPosition().toPoint());
  e->accept();
}

void CDragTitle::mouseMoveEvent(QMouseEvent* e) {
  if (!(e->buttons() & Qt::LeftButton)) return QWidget::mouseMoveEvent(e);
  m_drag.Move(window(), e->globalPosition().toPoint());
  e->accept();
}

void CDragTitle::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) m_drag.Release();
  QWidget::mouseReleaseEvent(e);
}

}  // namespace corvan
