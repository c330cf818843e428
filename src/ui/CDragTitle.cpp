#include "ui/CDragTitle.h"

#include <QApplication>
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

std::function<bool(QWindow*)>& WindowDrag::SystemMove() {
  static std::function<bool(QWindow*)> move = [](QWindow* handle) { return handle && handle->startSystemMove(); };
  return move;
}

void WindowDrag::Press(QWidget* receiver, const QPoint& globalPos) {
  Release();
  m_bDown = true;
  m_pReceiver = receiver;
  m_bTracked = receiver->hasMouseTracking();
  receiver->setMouseTracking(true);
  m_pressGlobal = globalPos;
  m_windowStart = receiver->window()->pos();
}

void WindowDrag::Move(QWidget* receiver, const QPoint& globalPos, Qt::MouseButtons held) {
  if (!m_bDown) return;
  if (!(held & Qt::LeftButton)) return Release();
  QWidget* window = receiver->window();
  if (!m_bMoving) {
    if ((globalPos - m_pressGlobal).manhattanLength() < QApplication::startDragDistance()) return;
    m_bMoving = true;
    m_bSystemMove = SystemMove()(window->windowHandle());
  }
  if (!m_bSystemMove) window->move(m_windowStart + (globalPos - m_pressGlobal));
}

void WindowDrag::Release() {
  if (m_bDown && m_pReceiver) m_pReceiver->setMouseTracking(m_bTracked);
  m_pReceiver = nullptr;
  m_bDown = m_bMoving = m_bSystemMove = false;
}

void CDragTitle::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
  m_drag.Press(this, e->globalPosition().toPoint());
  e->accept();
}

void CDragTitle::mouseMoveEvent(QMouseEvent* e) {
  m_drag.Move(this, e->globalPosition().toPoint(), e->buttons());
  QWidget::mouseMoveEvent(e);
}

void CDragTitle::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) m_drag.Release();
  QWidget::mouseReleaseEvent(e);
}

}  // namespace corvan
