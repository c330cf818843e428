#include "preview/ui/CHtmlPreview.h"

#include <QContextMenuEvent>
#include <QKeyEvent>

#include "preview/MimeReader.h"
#include "ui/DialogLayout.h"

namespace corvan {

CHtmlPreview::CHtmlPreview(QWidget* parent) : QTextBrowser(parent) {
  SetDlgCtrlId(this, kId);
  setObjectName(QStringLiteral("CHtmlPreview"));
  setOpenLinks(false);
  setOpenExternalLinks(false);
  setReadOnly(true);
  // Only pointer interaction with the text itself; no link following.
  setTextInteractionFlags(Qt::TextSelectableByMouse);
  setFrameStyle(QFrame::Box | QFrame::Plain);
}

CHtmlPreview::~CHtmlPreview() = default;

void CHtmlPreview::ShowPage(const QString& html) {
  m_archive.reset();
  setHtml(html);
}

void CHtmlPreview::ShowArchive(const QString& html, std::shared_ptr<const MhtDocument> archive) {
  m_archive = std::move(archive);
  setHtml(html);
}

QVariant CHtmlPreview::loadResource(int type, const QUrl& name) {
  ++m_asked;
  // Never the base class: it would read files of this computer by the names
  // the page gives.
  if (!m_archive) return {};
  const MimePart* part = m_archive->Find(name.toString(QUrl::FullyEncoded).toStdString());
  if (!part) part = m_archive->Find(name.toString().toStdString());
  if (!part) return {};
  ++m_given;
  const QByteArray bytes(reinterpret_cast<const char*>(part->body.data()), static_cast<qsizetype>(part->body.size()));
  if (type == QTextDocument::StyleSheetResource) return QString::fromUtf8(bytes);
  return bytes;
}

void CHtmlPreview::keyPressEvent(QKeyEvent* e) {
  // Scrolling keys only: nothing edits, copies or opens.
  switch (e->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
      if (!(e->modifiers() & Qt::ControlModifier)) return QTextBrowser::keyPressEvent(e);
      break;
    default:
      break;
  }
  e->accept();
}

void CHtmlPreview::contextMenuEvent(QContextMenuEvent* e) { e->accept(); }

}  // namespace corvan
