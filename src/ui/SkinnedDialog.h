#pragma once
// Base of the program's borderless modal dialogs: the shared background
// with its caption band, the caption strip that drags the dialog, and
// controls placed at their design geometry with their control ids.
// Results are the dialog command ids (IDOK 1, IDCANCEL 2, IDYES 6, IDNO 7).

#include <QDialog>
#include <QRect>
#include <QString>

#include "core/Prompt.h"

class QLabel;
class QPushButton;

namespace corvan {

class CDragTitle;

class CSkinnedDialog : public QDialog {
  Q_OBJECT
 public:
  // `size` is the client size in 96-DPI pixels.
  CSkinnedDialog(QWidget* parent, const QSize& size, const QString& caption = QString(),
                 int captionId = 1093);

  CDragTitle* CaptionStrip() const { return m_title; }
  void EndDialog(int result) { done(result); }

  QPushButton* AddButton(int id, const QString& text, const QRect& geometry);
  QLabel* AddStatic(int id, const QString& text, const QRect& geometry);

  void accept() override { done(kIdOk); }
  void reject() override { done(kIdCancel); }

 protected:
  void paintEvent(QPaintEvent*) override;
  // Each showing centres the dialog on its owner.
  void showEvent(QShowEvent* e) override;

 private:
  CDragTitle* m_title;
};

// The push-button look of the skinned dialogs.
QString DialogButtonStyleSheet();

}  // namespace corvan
