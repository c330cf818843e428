#include "ui/CTransDlg.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

#include "ui/SharedLook.h"

namespace corvan {

CTransDlg::CTransDlg(unsigned backgroundId, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_background(LoadPngImage(backgroundId)) {
  setAttribute(Qt::WA_TranslucentBackground);
  if (!m_background.isNull()) setFixedSize(m_background.size());
}

CTransDlg::~CTransDlg() = default;

void CTransDlg::Create() {
  if (m_bCentre) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen) {
      const QRect work = screen->availableGeometry();
      move(work.left() + (work.width() - width()) / 2, work.top() + (work.height() - height()) / 2);
    }
  }
  m_pContent = CreateContentDialog();
  if (m_pContent) {
    m_pContent->setGeometry(0, 0, width(), height());
    m_pContent->show();
  }
  InitSkin();
  // The skin's buttons stay reachable above the content.
  for (CTransWnd* child : m_children) child->raise();
  Render();
}

void CTransDlg::AddChild(CTransWnd* child) {
  child->SetListener(this);
  m_children.push_back(child);
}

void CTransDlg::Render() {
  ++m_nRenderCount;
  update();
}

void CTransDlg::OnRenderRequest(CTransWnd*) { Render(); }

void CTransDlg::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setCompositionMode(QPainter::CompositionMode_Source);
  p.fillRect(rect(), Qt::transparent);
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  if (!m_background.isNull()) p.drawImage(QPoint(0, 0), m_background);
}

void CTransDlg::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  if (m_pContent) m_pContent->resize(size());
}

void CTransDlg::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && m_bDraggable) m_drag.Press(this, e);
  QWidget::mousePressEvent(e);
}

void CTransDlg::mouseMoveEvent(QMouseEvent* e) {
  m_drag.Move(this, e);
  QWidget::mouseMoveEvent(e);
}

void CTransDlg::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) m_drag.Release();
  QWidget::mouseReleaseEvent(e);
}

}  // namespace corvan
