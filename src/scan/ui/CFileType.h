#pragma once
// The choice of the file types Raw Recovery searches for: every type of the
// application's full list with a check box, a filter by file group, Select
// All and Unselect All, Edit (the type's editor) and sizes changed in
// place. OK keeps the choice in the user's signature file and builds the
// list of selected types the scan reads.

#include "scan/ui/CEditList.h"
#include "ui/SkinnedDialog.h"

class QLabel;
class QPushButton;

namespace corvan {

class XTipComboBox;

class CFileType : public CSkinnedDialog, public EditListOwner {
  Q_OBJECT
 public:
  static constexpr int kIdList = 1107, kIdGroupCombo = 1185, kIdFilterLabel = 1280, kIdTitle = 1122, kIdEdit = 1059,
                       kIdSelectAll = 1067, kIdUnselectAll = 1131, kIdHelp = 1167, kIdAppendHeader = 1073,
                       kIdAppendHint = 1186, kIdSettingsHint = 1187;
  static constexpr int kHelpContext = 137;

  explicit CFileType(QWidget* parent = nullptr);

  CEditList* List() const { return m_pList; }
  int RowCount() const { return m_nRowCount; }
  int CheckedCount() const { return m_nCheckedCount; }

  // Every type of the full list (loaded first if need be), the last at the
  // top.
  void FillAllRows();
  // The group filter: entry 0 lists every type, entry g those of group g,
  // in list order.
  void OnGroupChanged(int group);
  // Checks or unchecks `row` and its type.
  void ToggleRow(int row);
  void OnSelectAll();
  void OnUnselectAll();
  void OnEdit();
  void OnOK();
  void accept() override { OnOK(); }

  // From the list: a click in the first column toggles the row when it hit
  // the check box.
  void OnFileTypeItemChanged(int row, const QPoint& viewportPos);
  void EnableEditButton(bool on) override;
  void OnCheckClick(int row, const QPoint& viewportPos) override { OnFileTypeItemChanged(row, viewportPos); }

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void UpdateButtons();
  int SelectedRow() const;

  CEditList* m_pList;
  XTipComboBox* m_pCombo;
  QPushButton* m_pEdit;
  QPushButton* m_pSelectAll;
  QPushButton* m_pUnselectAll;
  int m_nRowCount = 0;
  int m_nCheckedCount = 0;
};

}  // namespace corvan
