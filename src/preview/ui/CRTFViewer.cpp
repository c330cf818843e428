#include "preview/ui/CRTFViewer.h"

#include <QKeyEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "preview/RtfReader.h"
#include "ui/DialogLayout.h"
#include "ui/QtText.h"

namespace corvan {

namespace {

// Twips (1/1440 inch) as pixels at 96 per inch.
qreal Px(std::int32_t twips) { return twips / 15.0; }

QColor ColourAt(const RtfDocument& doc, int index) {
  if (index <= 0 || index >= static_cast<int>(doc.colours.size())) return {};
  const RtfColour& c = doc.colours[static_cast<std::size_t>(index)];
  if (c.automatic) return {};
  return QColor(c.red, c.green, c.blue);
}

QTextCharFormat CharFormat(const RtfDocument& doc, const RtfCharFormat& f) {
  QTextCharFormat out;
  if (f.font >= 0 && f.font < static_cast<int>(doc.fonts.size()) && !doc.fonts[static_cast<std::size_t>(f.font)].name.empty())
    out.setFontFamilies({QString::fromLatin1(doc.fonts[static_cast<std::size_t>(f.font)].name.c_str())});
  out.setFontPointSize(f.halfPoints / 2.0);
  out.setFontWeight(f.bold ? QFont::Bold : QFont::Normal);
  out.setFontItalic(f.italic);
  out.setFontUnderline(f.underline);
  out.setFontStrikeOut(f.strike);
  if (f.vertical > 0) out.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
  if (f.vertical < 0) out.setVerticalAlignment(QTextCharFormat::AlignSubScript);
  const QColor fore = ColourAt(doc, f.colour);
  if (fore.isValid()) out.setForeground(fore);
  const QColor back = ColourAt(doc, f.background);
  if (back.isValid()) out.setBackground(back);
  return out;
}

QTextBlockFormat BlockFormat(const RtfParaFormat& f) {
  QTextBlockFormat out;
  switch (f.align) {
    case RtfAlign::Left: out.setAlignment(Qt::AlignLeft); break;
    case RtfAlign::Centre: out.setAlignment(Qt::AlignHCenter); break;
    case RtfAlign::Right: out.setAlignment(Qt::AlignRight); break;
    case RtfAlign::Justify: out.setAlignment(Qt::AlignJustify); break;
  }
  out.setLeftMargin(Px(f.leftIndent));
  out.setRightMargin(Px(f.rightIndent));
  out.setTextIndent(Px(f.firstIndent));
  out.setTopMargin(Px(f.spaceBefore));
  out.setBottomMargin(Px(f.spaceAfter));
  return out;
}

}  // namespace

void BuildTextDocument(const RtfDocument& doc, QTextDocument& out) {
  out.clear();
  QTextCursor cursor(&out);
  bool first = true;
  for (const RtfParagraph& p : doc.paragraphs) {
    if (first) cursor.setBlockFormat(BlockFormat(p.format));
    else cursor.insertBlock(BlockFormat(p.format));
    first = false;
    for (const RtfRun& r : p.runs) {
      cursor.insertText(ToQString(r.text), CharFormat(doc, r.format));
    }
  }
}

CRTFViewer::CRTFViewer(QWidget* parent) : QTextEdit(parent) {
  SetDlgCtrlId(this, kId);
  setObjectName(QStringLiteral("CRTFViewer"));
  setReadOnly(true);
  setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
}

bool CRTFViewer::LoadRtf(const RtfDocument& doc) {
  BuildTextDocument(doc, *document());
  return !doc.Empty();
}

void CRTFViewer::keyPressEvent(QKeyEvent* e) { e->accept(); }

}  // namespace corvan
