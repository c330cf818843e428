#pragma once
// The choice of the file types Raw Recovery searches for: every type of the
// application's full list with a check box, a filter by file group, Select
// All and Unselect All, Edit (the type's editor) and sizes changed in
// place. OK keeps the choice in the user's signature file and builds the
// list of selected types the scan reads.

#include "scan/ui/CEditList.h"
#include "scan/ui/FileTypeChoice.h"
#include "ui/SkinnedDialog.h"

class QLabel;
class QPushButton;

namespace corvan {

class XTipComboBox;

class CFileType : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdList = 1107, kIdGroupCombo = 1185, kIdFilterLabel = 1280, kIdTitle = 1122, kIdEdit = 1059,
                       kIdSelectAll = 1067, kIdUnselectAll = 1131, kIdHelp = 1167, kIdAppendHeader = 1073,
                       kIdAppendHint = 1186, kIdSettingsHint = 1187;
  static constexpr int kHelpContext = 137;

  explicit CFileType(QWidget* parent = nullptr);

  CEditList* List() const { return m_pList; }
  FileTypeChoice& Choice() const { return *m_pChoice; }
  int RowCount() const { return m_pChoice->RowCount(); }
  int CheckedCount() const { return m_pChoice->CheckedCount(); }

  // Checks or unchecks `row` and its type.
  void ToggleRow(int row) { m_pChoice->ToggleRow(row); }
  void EnableEditButton(bool on) { m_pChoice->EnableEditButton(on); }
  void OnOK();
  void accept() override { OnOK(); }

 protected:
  void keyPressEvent(QKeyEvent* e) override;

 private:
  CEditList* m_pList;
  FileTypeChoice* m_pChoice;
};

}  // namespace corvan
