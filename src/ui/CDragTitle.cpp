#include "ui/CDragTitle.h"

#include <QApplication>
#include <QGuiApplication>
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
  // Under X11 the program follows the pointer itself: the window manager's
  // move would start from where Qt believes the window is, which for a new
  // window can still be the place it had before the manager framed it, and
  // from the pointer's place once it has travelled, not from the press.
  static std::function<bool(QWindow*)> move = [](QWindow* handle) {
    return handle && QGuiApplication::platformName() != QStringLiteral("xcb") && handle->startSystemMove();
  };
  return move;
}

void WindowDrag::Press(QWidget* receiver, const QMouseEvent* e) {
  Release();
  m_bDown = true;
  m_pReceiver = receiver;
  m_bTracked = receiver->hasMouseTracking();
  receiver->setMouseTracking(true);
  m_pressGlobal = e->globalPosition().toPoint();
  // Where the window is, from the press itself (the window system gives
  // its point both on the screen and in the window), not from what Qt was
  // last told of the window's place.
  QWidget* window = receiver->window();
  const QPoint inWindow = receiver->mapTo(window, e->position().toPoint());
  m_windowStart = m_pressGlobal - inWindow - (window->geometry().topLeft() - window->pos());
}

void WindowDrag::Move(QWidget* receiver, const QMouseEvent* e) {
  if (!m_bDown) return;
  if (!(e->buttons() & Qt::LeftButton)) return Release();
  const QPoint globalPos = e->globalPosition().toPoint();
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
  m_drag.Press(this, e);
  e->accept();
}

void CDragTitle::mouseMoveEvent(QMouseEvent* e) {
  m_drag.Move(this, e);
  QWidget::mouseMoveEvent(e);
}

void CDragTitle::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) m_drag.Release();
  QWidget::mouseReleaseEvent(e);
}

}  // namespace corvan
