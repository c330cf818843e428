#include "ui/CStandardDlg.h"

#include <QMouseEvent>

namespace corvan {

CStandardDlg::CStandardDlg(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  setAutoFillBackground(false);
}

void CStandardDlg::OnOK() { window()->close(); }
void CStandardDlg::OnCancel() { window()->close(); }

void CStandardDlg::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
  m_drag.Press(window(), e->globalPosition().toPoint());
  e->accept();
}

void CStandardDlg::mouseMoveEvent(QMouseEvent* e) {
  if (e->buttons() & Qt::LeftButton) m_drag.Move(window(), e->globalPosition().toPoint());
  QWidget::mouseMoveEvent(e);
}

void CStandardDlg::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) m_drag.Release();
  QWidget::mouseReleaseEvent(e);
}

}  // namespace corvan
