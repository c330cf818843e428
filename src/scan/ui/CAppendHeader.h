#pragma once
// "Add New Header": the list of every file type of the signature file, and
// Add, Edit and Remove for the types the user defines. Preset types can
// only have their size changed, and are never removed. Each change is
// written to the user's signature file at once.

#include "ui/SkinnedDialog.h"

class QPushButton;

namespace corvan {

class CXColorListCtrl;

class CAppendHeader : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdList = 1121, kIdAdd = 1067, kIdEdit = 1119, kIdRemove = 1120, kIdClose = 2, kIdHelp = 1059,
                       kIdTitle = 1036;
  static constexpr int kHelpContext = 112;

  explicit CAppendHeader(QWidget* parent = nullptr);

  CXColorListCtrl* List() const { return m_pList; }

  // Loads the full list again from the signature file and shows it, the
  // last type at the top.
  void LoadHeaderList();
  void OnAdd();
  void OnEdit();
  void OnRemove();
  // The selection moved: Edit follows whether a row is selected, Remove
  // whether it is a user-defined type.
  void OnRowSelected();

 private:
  int SelectedRow() const;

  CXColorListCtrl* m_pList;
  QPushButton* m_pEdit;
  QPushButton* m_pRemove;
};

}  // namespace corvan
