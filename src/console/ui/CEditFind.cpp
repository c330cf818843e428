#include "console/ui/CEditFind.h"

#include <QKeyEvent>

#include "core/StringIds.h"
#include "core/StringTable.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

CEditFind::CEditFind(QWidget* parent) : QLineEdit(parent) {
  setMaxLength(kTextLimit);
  ShowPrompt();
}

void CEditFind::ShowPrompt() {
  setText(ToQString(LoadString(kIdsSearchFile)));
  setFont(ArialFont(16));
}

bool CEditFind::HasSearchText() const {
  const QString t = text().trimmed();
  return !t.isEmpty() && t != ToQString(LoadString(kIdsSearchFile));
}

void CEditFind::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    const QString text = this->text().trimmed();
    if (!text.isEmpty() && m_run) m_run(text);
  }
  QLineEdit::keyPressEvent(e);
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) e->accept();
}

void CEditFind::focusInEvent(QFocusEvent* e) {
  QLineEdit::focusInEvent(e);
  clear();
  setFont(SharedFontAt(kFontArial14Bold));
  if (m_focused) m_focused();
}

void CEditFind::focusOutEvent(QFocusEvent* e) {
  QLineEdit::focusOutEvent(e);
  if (text().isEmpty()) ShowPrompt();
}

}  // namespace corvan
