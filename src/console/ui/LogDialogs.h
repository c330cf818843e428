#pragma once
// The two dialogs around the log report: the question whether logs are to
// be saved, asked when the results window closes, and the log viewer of the
// results window's Log command.

#include <QString>
#include <functional>
#include <string>

#include "app/CORVANApp.h"
#include "ui/SkinnedDialog.h"

class QPlainTextEdit;

namespace corvan {

class CAskforSaveLog : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdAlways = 1, kIdAskLater = 2, kIdNever = 1059, kIdPicture = 1094, kIdText = 1095;

  explicit CAskforSaveLog(QWidget* parent = nullptr);

  // Runs the dialog; closing it any other way is "Ask Me later".
  SaveLogAnswer Ask();
};

class CLogViewer : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdTitle = 1036, kIdText = 1092, kIdClear = 1059, kIdSave = 1067, kIdClose = 2;

  explicit CLogViewer(QWidget* parent = nullptr);

  // The save-file dialog: parent, filter; returns the chosen path or an
  // empty text. Tests replace it.
  using FileChooser = std::function<QString(QWidget* parent, const QString& filter)>;
  static FileChooser& SaveChooser();

  QPlainTextEdit* TextBox() const { return m_pText; }
  void OnSaveLog();
  void OnClearLog();

 private:
  void ShowLogText();

  QPlainTextEdit* m_pText;
  // The text as the log holds it: the box shows it, Save writes these bytes.
  std::string m_strLogView;
};

}  // namespace corvan
