#pragma once
// "Find Files": the criteria of a search of the current view (name
// patterns delimited by semi-colons, Match Case, deleted and existing
// entries, and behind "Advanced" a size limit and a date condition).
// Search Now fills the view's criteria, shows the first match and closes;
// F3 and Shift+F3 continue with those criteria after the dialog is gone.

#include <QDate>

#include "console/FindCriteria.h"
#include "console/ui/CFileMask.h"
#include "ui/SkinnedDialog.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QFrame;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace corvan {

class CRecoveryConsole;
class CUpDown;

class CFindDlg : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdPatterns = 1034, kIdMatchCase = 1237, kIdDeleted = 1238, kIdExisting = 1239,
                       kIdSize = 1240, kIdSizeKind = 1243, kIdSizeEdit = 1126, kIdDate = 1241, kIdDateKind = 1244,
                       kIdMonths = 1250, kIdMonthsEdit = 1189, kIdMonthsSpin = 1246, kIdDays = 1251,
                       kIdDaysEdit = 1245, kIdDaysSpin = 1247, kIdBetween = 1242, kIdFromPicker = 1248,
                       kIdToPicker = 1249, kIdHelp = 1059, kIdAdvanced = 1067, kIdGroup = 1036, kIdFrame = 1279,
                       kIdOutline = 1236;
  static constexpr int kHelpContext = 120;
  static constexpr int kWidth = 470, kFullHeight = 372, kCollapsedHeight = 212;
  static constexpr int kNumberTop = 999;
  static constexpr std::uint64_t kSizeTop = 2999999;

  // `search` is the current view's criteria object, which outlives the
  // dialog; `boxText` the search box's text when the dialog opens.
  CFindDlg(CRecoveryConsole& console, FindSearch& search, const QString& boxText, QWidget* parent = nullptr);

  bool IsExpanded() const { return m_bExpanded; }
  void OnSearchNow();
  void OnAdvanced();
  void reject() override;  // Cancel and Esc

 private:
  void UpdateSearchNow();
  void OnSize(bool on);
  void OnDate(bool on);
  void OnRadio(QRadioButton* which);
  void OnSizeEdited(const QString& text);

  CRecoveryConsole& m_console;
  FindSearch& m_search;
  bool m_bExpanded = false;
  QFrame* m_pFrame;
  QFrame* m_pOutline;
  QLineEdit* m_pPatterns;
  QCheckBox* m_pMatchCase;
  QCheckBox* m_pDeleted;
  QCheckBox* m_pExisting;
  QCheckBox* m_pSize;
  QComboBox* m_pSizeKind;
  QLineEdit* m_pSizeEdit;
  QCheckBox* m_pDate;
  DateControls m_date;
  QPushButton* m_pSearchNow;
  QPushButton* m_pAdvanced;
};

}  // namespace corvan
