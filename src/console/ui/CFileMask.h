#pragma once
// "Set File Mask": the patterns of the mask box with the deleted and
// existing choice, size bounds in KB and a date condition (created or
// modified, in the last N months, in the last N days, or between two
// dates). OK checks the numbers and starts the mask thread with them.

#include <QDate>
#include <functional>

#include "console/FileMask.h"
#include "ui/SkinnedDialog.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace corvan {

class CUpDown;

// The date condition's controls of the two criteria dialogs: which date,
// then "in the last" N months, "in the last" N days, or "between" two
// dates, one row each.
struct DateControls {
  QComboBox* kind = nullptr;  // "Created Date", "Modified Date"
  QButtonGroup* radios = nullptr;
  QRadioButton* months = nullptr;
  QLineEdit* monthsEdit = nullptr;
  CUpDown* monthsSpin = nullptr;
  QRadioButton* days = nullptr;
  QLineEdit* daysEdit = nullptr;
  CUpDown* daysSpin = nullptr;
  QRadioButton* between = nullptr;
  QDateEdit* from = nullptr;
  QDateEdit* to = nullptr;

  void UncheckRadios();
};
struct DateControlIds {
  int kind, months, monthsEdit, monthsSpin, days, daysEdit, daysSpin, between, from, to;
};
// The combo at `kindAt`, the radio rows from `top` down `step` apart; the
// up-downs wrap at `monthsTop` and `daysTop`.
DateControls MakeDateControls(CSkinnedDialog* dialog, const DateControlIds& ids, const QRect& kindAt, int top,
                              int step, int monthsTop, int daysTop);

class CFileMask : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdPatterns = 1034, kIdDeleted = 1252, kIdExisting = 1253, kIdSizeFrom = 1255,
                       kIdSizeFromEdit = 1259, kIdUpto = 1254, kIdUptoEdit = 1260, kIdDate = 1241,
                       kIdDateKind = 1258, kIdMonths = 1017, kIdMonthsEdit = 1169, kIdMonthsSpin = 1246,
                       kIdDays = 1018, kIdDaysEdit = 1189, kIdDaysSpin = 1247, kIdBetween = 1261,
                       kIdFromPicker = 1263, kIdToPicker = 1262, kIdHelp = 1059, kIdGroup = 1036;
  static constexpr int kHelpContext = 159;
  static constexpr int kMaxMonths = 999, kMaxDays = 365;

  // `start` starts the mask thread with the criteria OK took; false when
  // it was refused.
  explicit CFileMask(std::function<bool(MaskCriteria)> start, QWidget* parent = nullptr);

  const MaskCriteria& Criteria() const { return m_criteria; }
  void OnOK();

 private:
  void UpdateOk();
  void OnSizeFrom(bool on);
  void OnUpto(bool on);
  void OnDate(bool on);
  void OnMonths();
  void OnDays();
  void OnLastN(bool months);
  void OnBetween();
  void OnPicked(bool from, const QDate& date);
  void SetRadiosEnabled(bool on);

  std::function<bool(MaskCriteria)> m_start;
  MaskCriteria m_criteria;
  QLineEdit* m_pPatterns;
  QCheckBox* m_pDeleted;
  QCheckBox* m_pExisting;
  QCheckBox* m_pSizeFrom;
  QLineEdit* m_pSizeFromEdit;
  QCheckBox* m_pUpto;
  QLineEdit* m_pUptoEdit;
  QCheckBox* m_pDate;
  DateControls m_date;
  QPushButton* m_pOk;
};

// Helpers the two criteria dialogs share.
// An edit on the edit colour; a number edit takes digits only.
QLineEdit* MakeEdit(QWidget* parent, int id, const QRect& geometry, int maxLength, bool digits = true);
QCheckBox* MakeCheck(QWidget* parent, int id, const QString& text, const QRect& geometry);
QRadioButton* MakeRadio(QWidget* parent, int id, const QString& text, const QRect& geometry);
QDateEdit* MakeDatePicker(QWidget* parent, int id, const QRect& geometry);
CUpDown* MakeUpDown(QWidget* parent, int id, QLineEdit* buddy, int top);
// Today's date in UTC, as the pickers compare with it.
QDate TodayUtcDate();

}  // namespace corvan
