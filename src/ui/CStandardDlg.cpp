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
  m_drag.Press(this, e);
  e->accept();
}

void CStandardDlg::mouseMoveEvent(QMouseEvent* e) {
  m_drag.Move(this, e);
  QWidget::mouseMoveEvent(e);
}

void CStandardDlg::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) m_drag.Release();
  QWidget::mouseReleaseEvent(e);
}

}  // namespace corvan
