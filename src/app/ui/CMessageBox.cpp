#include "app/ui/CMessageBox.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include "app/ui/MainWindows.h"
#include "core/Prompt.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {
bool IsMessagePicture(unsigned id) {
  return id == kPicError || id == kPicQuestion || id == kPicInformation || id == kPicWarning;
}

// The window a message without an owner opens over: the one the user works
// in. Under a window manager there can be no active window for a moment
// (a dialog has just closed and the manager has not yet given the focus
// back), or only the closed one: the dialog in front, else the program's
// window in front, stands in then.
QWidget* MessageOwner() {
  if (QWidget* active = QApplication::activeWindow(); active && active->isVisible()) return active;
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return CurrentMainWindow();
}
}  // namespace

CMessageBox::CMessageBox(const QString& text, unsigned bitmapId, unsigned type, QWidget* parent)
    : CSkinnedDialog(parent ? parent : MessageOwner(), QSize(kWidth, kHeight)),
      m_strText(text),
      m_nType(type),
      m_nBitmapId(bitmapId) {
  setWindowTitle(QStringLiteral("Halvard Vantrel"));
  if (IsMessagePicture(bitmapId)) m_bmpIcon = LoadBitmapResource(bitmapId);

  m_stPicture = AddStatic(kIdPicture, QString(), QRect(22, 62, 48, 48));
  m_stPicture->setPixmap(m_bmpIcon);
  m_stText = AddStatic(kIdText, m_strText, QRect(86, 48, 278, 112));
  m_stText->setTextFormat(Qt::PlainText);
  m_stText->setWordWrap(true);
  m_stText->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  m_stText->setFont(ArialFont(16));

  // The template's places; the sets move or hide them.
  m_pOk = AddButton(kIdOk, QStringLiteral("OK"), QRect(100, 170, 80, 25));
  m_pCancel = AddButton(kIdCancel, QStringLiteral("Cancel"), QRect(200, 170, 80, 25));
  m_pYes = AddButton(kIdYes, QStringLiteral("Yes"), QRect(50, 170, 80, 25));
  m_pNo = AddButton(kIdNo, QStringLiteral("No"), QRect(150, 170, 80, 25));
  connect(m_pOk, &QPushButton::clicked, this, [this] { EndDialog(kIdOk); });
  connect(m_pCancel, &QPushButton::clicked, this, [this] { EndDialog(kIdCancel); });
  connect(m_pYes, &QPushButton::clicked, this, [this] { EndDialog(kIdYes); });
  connect(m_pNo, &QPushButton::clicked, this, [this] { EndDialog(kIdNo); });

  QPushButton* first = m_pOk;
  switch (type) {
    case kMbOk:
      m_pOk->move(150, 170);
      m_pCancel->hide();
      m_pYes->hide();
      m_pNo->hide();
      break;
    case kMbOkCancel:
      m_pYes->hide();
      m_pNo->hide();
      break;
    case kMbYesNo:
      m_pYes->move(100, 170);
      m_pNo->move(200, 170);
      m_pOk->hide();
      m_pCancel->hide();
      first = m_pNo;  // Enter must not say yes to a question such as "abort?"
      break;
    case kMbYesNoCancel:
    default:
      m_pCancel->move(250, 170);
      m_pOk->hide();
      first = m_pNo;
      break;
  }
  first->setDefault(true);
  first->setFocus();
}

int ShowMessageBox(const QString& text, unsigned picture, unsigned type, QWidget* parent) {
  CMessageBox box(text, picture, type, parent);
  return box.DoModal();
}

}  // namespace corvan
