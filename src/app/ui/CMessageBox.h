#pragma once
// The program's message box: a picture, a text and one of four button
// sets (OK; OK, Cancel; Yes, No; Yes, No, Cancel). Runs modally and
// returns IDOK 1, IDCANCEL 2, IDYES 6 or IDNO 7. Escape answers IDCANCEL
// in every set.

#include <QPixmap>
#include <QString>

#include "ui/SkinnedDialog.h"

class QLabel;
class QPushButton;

namespace corvan {

class CMessageBox : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kWidth = 380;
  static constexpr int kHeight = 210;
  static constexpr int kIdText = 1094;
  static constexpr int kIdPicture = 1095;

  // `bitmapId` 223 error, 224 question, 225 information, 241 warning (any
  // other leaves the picture empty); `type` 401 to 404.
  CMessageBox(const QString& text, unsigned bitmapId, unsigned type, QWidget* parent = nullptr);

  int DoModal() { return exec(); }

  QPushButton* m_pOk;
  QPushButton* m_pCancel;
  QPushButton* m_pYes;
  QPushButton* m_pNo;

 private:
  QString m_strText;
  unsigned m_nType;
  unsigned m_nBitmapId;
  QPixmap m_bmpIcon;
  QLabel* m_stText;
  QLabel* m_stPicture;
};

// Shows a message box on the calling (UI) thread and returns its answer.
int ShowMessageBox(const QString& text, unsigned picture, unsigned type, QWidget* parent = nullptr);

}  // namespace corvan
