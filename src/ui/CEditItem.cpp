#include "ui/CEditItem.h"

#include <QAbstractScrollArea>
#include <QFontMetrics>
#include <QKeyEvent>

#include "ui/DialogLayout.h"

namespace corvan {

CEditItem::CEditItem(QWidget* list, int row, int column, const QString& text, const QRect& bounds,
                     Qt::Alignment alignment)
    : QLineEdit(text, qobject_cast<QAbstractScrollArea*>(list) ? qobject_cast<QAbstractScrollArea*>(list)->viewport()
                                                               : list),
      m_pList(list),
      m_nRow(row),
      m_nColumn(column),
      m_initial(text) {
  SetDlgCtrlId(this, kId);
  setFont(list->font());
  setAlignment(alignment | Qt::AlignVCenter);
  setGeometry(bounds);
  setCursorPosition(0);
  deselect();
  show();
  setFocus(Qt::OtherFocusReason);
  connect(this, &QLineEdit::textEdited, this, &CEditItem::FitText);
}

bool CEditItem::event(QEvent* e) {
  // Enter, Delete, Escape and Ctrl shortcuts belong to the box, not to the
  // dialog around the list.
  if (e->type() == QEvent::ShortcutOverride) {
    auto* key = static_cast<QKeyEvent*>(e);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_Escape ||
        key->key() == Qt::Key_Delete || (key->modifiers() & Qt::ControlModifier)) {
      e->accept();
      return true;
    }
  }
  return QLineEdit::event(e);
}

void CEditItem::keyPressEvent(QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Escape:
      e->accept();
      Cancel();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      e->accept();
      Commit();
      return;
    default:
      QLineEdit::keyPressEvent(e);
      e->accept();
  }
}

void CEditItem::focusOutEvent(QFocusEvent* e) {
  QLineEdit::focusOutEvent(e);
  Finish();
}

void CEditItem::Commit() {
  if (text().trimmed().isEmpty()) setText(m_initial);
  else setText(text().trimmed());
  Finish();
}

void CEditItem::Cancel() {
  m_bCancelled = true;
  Finish();
}

void CEditItem::Finish() {
  if (m_bEnded) return;
  m_bEnded = true;
  // The list takes the focus back before it hears of the end, so the box
  // losing it then does not end the edit a second time.
  if (m_pList) m_pList->setFocus(Qt::OtherFocusReason);
  emit EndLabelEdit(m_nRow, m_nColumn, m_bCancelled ? QString() : text(), m_bCancelled);
  hide();
  deleteLater();
}

void CEditItem::FitText() {
  const int wanted = QFontMetrics(font()).horizontalAdvance(text()) + 5;
  if (wanted <= width()) return;
  const int limit = parentWidget() ? parentWidget()->width() - x() : wanted;
  resize(qMin(wanted, limit), height());
}

}  // namespace corvan
