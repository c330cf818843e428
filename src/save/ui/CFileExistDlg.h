#pragma once
// "File Already Exists": what to do with a file whose name is taken at the
// target. Shows the name, both sizes and a free "Copy%d_" name, and answers
// Rename (with the edited name), Rename All, Overwrite, Overwrite All, Skip
// or Skip All; Esc answers Cancel (this file is left out, no choice kept).

#include <QString>
#include <cstdint>

#include "save/SaveDecisions.h"
#include "ui/SkinnedDialog.h"

class QLineEdit;
class QLabel;

namespace corvan {

class CFileExistDlg : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdRename = 1, kIdRenameAll = 1059, kIdOverwrite = 1131, kIdOverwriteAll = 1067,
                       kIdSkip = 1073, kIdSkipAll = 1132;
  static constexpr int kIdRenameTo = 1133, kIdFileName = 1134, kIdMessage = 1291, kIdBand = 1290, kIdGroup = 1036;
  static constexpr int kResultOther = 5;

  CFileExistDlg(const FileExistQuestion& question, QWidget* parent = nullptr);

  FileExistAnswer Answer() const { return m_answer; }
  // The name Rename hands back; the proposal for every other answer.
  std::u16string NewName() const { return m_newName; }
  QString MessageText() const;

 protected:
  bool event(QEvent* e) override;

 private:
  void Finish(FileExistAnswer answer, int result);
  void UpdateRenameButtons();

  FileExistAnswer m_answer = FileExistAnswer::Cancel;
  std::u16string m_newName;
  QLineEdit* m_pRenameTo;
  QLabel* m_pMessage;
};

}  // namespace corvan
