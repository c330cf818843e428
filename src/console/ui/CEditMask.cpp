#include "console/ui/CEditMask.h"

#include <QKeyEvent>

#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

CEditMask::CEditMask(QWidget* parent) : QLineEdit(QStringLiteral("*.*"), parent) {
  setMaxLength(kTextLimit);
  setFont(ArialFont(16));
}

bool CEditMask::IsMaskText(const QString& trimmed) {
  return !trimmed.isEmpty() && trimmed.startsWith(QStringLiteral("*."));
}

bool CEditMask::ApplyMask(const QString& text) {
  MaskCriteria criteria;
  criteria.m_maskPatterns = SplitMaskPatterns(ToUtf16(text));
  return m_start && m_start(std::move(criteria));
}

void CEditMask::keyPressEvent(QKeyEvent* e) {
  if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    const QString text = this->text().trimmed();
    if (IsMaskText(text)) ApplyMask(text);
    // Enter stays in the box: no default button of the window takes it.
    QLineEdit::keyPressEvent(e);
    e->accept();
    return;
  }
  QLineEdit::keyPressEvent(e);
}

void CEditMask::focusInEvent(QFocusEvent* e) {
  QLineEdit::focusInEvent(e);
  clear();
  setFont(SharedFontAt(kFontArial14Bold));
}

void CEditMask::focusOutEvent(QFocusEvent* e) {
  QLineEdit::focusOutEvent(e);
  if (text().isEmpty()) {
    setText(QStringLiteral("*.*"));
    setFont(ArialFont(16));
  }
}

}  // namespace corvan
