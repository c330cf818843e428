#pragma once
// "Add File Filter": the file-name masks that limit a Recover command,
// picked from five preset groups or typed one at a time, closed with
// Include (save only matching files) or Exclude (save all others). The
// masks live in the application object (m_saveMasks, m_bSaveMaskExclude);
// Cancel takes back what this run added.

#include <QString>
#include <array>
#include <vector>

#include "ui/SkinnedDialog.h"

class QListWidget;
class QPushButton;

namespace corvan {

class XTipComboBox;

// The preset groups: the combo text's string id and the masks they add.
struct SaveFilterPreset {
  unsigned textId;
  std::vector<const char16_t*> masks;
};
const std::array<SaveFilterPreset, 5>& SaveFilterPresets();

class CAddFileFilter : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdList = 1265, kIdCombo = 1185, kIdRemove = 1067, kIdCancel = 2, kIdAdd = 1059,
                       kIdInclude = 1131, kIdExclude = 1167, kIdHelp = 1073, kIdHiddenOk = 1, kIdGroup = 1036;
  static constexpr int kHelpContext = 178;
  static constexpr int kResultOther = 5;

  explicit CAddFileFilter(QWidget* parent = nullptr);

  void OnAdd();
  void OnRemove();
  void OnInclude();
  void OnExclude();
  void reject() override;  // Cancel and Esc

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  void AddMask(const std::u16string& mask);
  void SetModeButtons(bool on);

  QListWidget* m_pList;
  XTipComboBox* m_pCombo;
  QPushButton* m_pRemove;
  QPushButton* m_pAdd;
  QPushButton* m_pInclude;
  QPushButton* m_pExclude;
  bool m_bFocusSet = false;
  std::size_t m_nCountAtOpen = 0;
};

}  // namespace corvan
