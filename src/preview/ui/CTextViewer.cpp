#include "preview/ui/CTextViewer.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <algorithm>
#include <string>

#include "preview/PreviewKinds.h"
#include "preview/TextDecode.h"
#include "ui/DialogLayout.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

CTextViewer::CTextViewer(QWidget* parent) : QPlainTextEdit(parent) {
  SetDlgCtrlId(this, kId);
  setObjectName(QStringLiteral("CTextViewer"));
  setReadOnly(true);
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setFont(ArialFont(16));
}

QString CTextViewer::TextOf(std::span<const std::uint8_t> bytes, bool cutShort) {
  const std::size_t n = std::min<std::size_t>(bytes.size(), kTextShownBytes);
  std::string kept;
  kept.reserve(n);
  for (std::size_t i = 0; i < n; ++i)
    if (bytes[i] != 0) kept.push_back(static_cast<char>(bytes[i]));
  return ToQString(DecodeUtf8OrCp1252(kept, cutShort || n < bytes.size()));
}

bool CTextViewer::ShowText(std::span<const std::uint8_t> bytes, bool cutShort) {
  const QString text = TextOf(bytes, cutShort);
  // CR LF (and a lone CR) end a line.
  QString lines = text;
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QChar(u'\r'), QChar(u'\n'));
  setPlainText(lines);
  return !text.isEmpty();
}

void CTextViewer::keyPressEvent(QKeyEvent* e) { e->accept(); }

void CTextViewer::contextMenuEvent(QContextMenuEvent* e) { e->accept(); }

}  // namespace corvan
