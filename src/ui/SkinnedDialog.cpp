#include "ui/SkinnedDialog.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "ui/CDragTitle.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/SharedLook.h"

namespace corvan {

QString DialogButtonStyleSheet() {
  return QStringLiteral(
      "QPushButton { color: #1f3600; background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
      " stop:0 #ffffff, stop:1 #d8ecc6); border: 1px solid #5f8a3a; border-radius: 3px; }"
      "QPushButton:hover { background: qlineargradient(x1:0, y1:0, x2:0, y2:1,"
      " stop:0 #ffffff, stop:1 #c4e3a8); }"
      "QPushButton:pressed { background: #b3d78f; }"
      "QPushButton:default { border: 2px solid #3d6b1c; }"
      "QPushButton:disabled { color: #8a9a86; border-color: #a9bfa0; background: #eef3ea; }");
}

CSkinnedDialog::CSkinnedDialog(QWidget* parent, const QSize& size, const QString& caption, int captionId)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
  PlacesItself(this);
  InitSharedLook();
  setFixedSize(size);
  setFont(SharedFontAt(kFontArial16));
  SkinnedDialogCtlColor(this);
  setStyleSheet(DialogButtonStyleSheet());
  m_title = new CDragTitle(this, caption, captionId);
  m_title->setGeometry(0, 0, size.width(), kCaptionBandRows);
}

QPushButton* CSkinnedDialog::AddButton(int id, const QString& text, const QRect& geometry) {
  auto* b = new QPushButton(text, this);
  SetDlgCtrlId(b, id);
  b->setGeometry(geometry);
  b->setFont(ArialFont(14));
  b->setCursor(Qt::PointingHandCursor);
  return b;
}

QLabel* CSkinnedDialog::AddStatic(int id, const QString& text, const QRect& geometry) {
  return AddStaticText(this, id, text, geometry);
}

void CSkinnedDialog::showEvent(QShowEvent* e) {
  PlaceDialog(this, e);
  QDialog::showEvent(e);
}

void CSkinnedDialog::paintEvent(QPaintEvent*) {
  QPainter p(this);
  PaintDialogBackground(p, rect());
  // A borderless dialog keeps a thin edge against whatever lies behind it
  // (the band is its top edge).
  const QColor edge(0x2F, 0x55, 0x1F);
  p.fillRect(QRect(0, 0, 1, height()), edge);
  p.fillRect(QRect(width() - 1, 0, 1, height()), edge);
  p.fillRect(QRect(0, height() - 1, width(), 1), edge);
}

}  // namespace corvan
