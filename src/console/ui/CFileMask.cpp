#include "console/ui/CFileMask.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QTimeZone>

#include "app/CORVANApp.h"
#include "console/ui/CUpDown.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {

// KB values of up to 15 digits stay within 64 bits once multiplied by 1024.
constexpr int kSizeDigits = 15;

std::uint64_t NumberOf(const QLineEdit* edit) { return edit->text().toULongLong(); }

}  // namespace

QDate TodayUtcDate() { return QDateTime::currentDateTimeUtc().date(); }

QLineEdit* MakeEdit(QWidget* parent, int id, const QRect& geometry, int maxLength, bool digits) {
  auto* edit = new QLineEdit(parent);
  SetDlgCtrlId(edit, id);
  edit->setGeometry(geometry);
  edit->setMaxLength(maxLength);
  if (digits) edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
  QPalette pal = edit->palette();
  pal.setColor(QPalette::Base, SharedBrushColour(kBrushEdit));
  edit->setPalette(pal);
  return edit;
}

QCheckBox* MakeCheck(QWidget* parent, int id, const QString& text, const QRect& geometry) {
  auto* box = new QCheckBox(text, parent);
  SetDlgCtrlId(box, id);
  box->setGeometry(geometry);
  return box;
}

QRadioButton* MakeRadio(QWidget* parent, int id, const QString& text, const QRect& geometry) {
  auto* radio = new QRadioButton(text, parent);
  SetDlgCtrlId(radio, id);
  radio->setGeometry(geometry);
  return radio;
}

QDateEdit* MakeDatePicker(QWidget* parent, int id, const QRect& geometry) {
  auto* picker = new QDateEdit(TodayUtcDate(), parent);
  SetDlgCtrlId(picker, id);
  picker->setGeometry(geometry);
  picker->setDisplayFormat(QStringLiteral("dd-MMM-yyyy"));
  picker->setCalendarPopup(true);
  return picker;
}

CUpDown* MakeUpDown(QWidget* parent, int id, QLineEdit* buddy, int top) {
  auto* spin = new CUpDown(parent);
  SetDlgCtrlId(spin, id);
  const QRect r = buddy->geometry();
  spin->setGeometry(r.right() + 1, r.top(), 16, r.height());
  QObject::connect(spin, &CUpDown::Stepped, buddy, [buddy, top](int delta) {
    buddy->setText(QString::number(WrappedStep(buddy->text().toInt(), delta, top)));
  });
  return spin;
}

void DateControls::UncheckRadios() {
  radios->setExclusive(false);
  for (QRadioButton* r : {months, days, between}) r->setChecked(false);
  radios->setExclusive(true);
}

DateControls MakeDateControls(CSkinnedDialog* dialog, const DateControlIds& ids, const QRect& kindAt, int top,
                              int step, int monthsTop, int daysTop) {
  DateControls c;
  c.kind = new QComboBox(dialog);
  SetDlgCtrlId(c.kind, ids.kind);
  c.kind->setGeometry(kindAt);
  c.kind->addItem(ToQString(LoadString(kIdsCreatedDate)));
  c.kind->addItem(ToQString(LoadString(kIdsModifiedDate)));
  const auto row = [&](int n, int dy) { return top + n * step + dy; };
  c.months = MakeRadio(dialog, ids.months, QStringLiteral("in the last"), QRect(36, row(0, 2), 92, 20));
  c.monthsEdit = MakeEdit(dialog, ids.monthsEdit, QRect(132, row(0, 0), 60, 24), 9);
  c.monthsSpin = MakeUpDown(dialog, ids.monthsSpin, c.monthsEdit, monthsTop);
  dialog->AddStatic(0, QStringLiteral("Month(s)"), QRect(214, row(0, 2), 80, 20));
  c.days = MakeRadio(dialog, ids.days, QStringLiteral("in the last"), QRect(36, row(1, 2), 92, 20));
  c.daysEdit = MakeEdit(dialog, ids.daysEdit, QRect(132, row(1, 0), 60, 24), 9);
  c.daysSpin = MakeUpDown(dialog, ids.daysSpin, c.daysEdit, daysTop);
  dialog->AddStatic(0, QStringLiteral("Day(s)"), QRect(214, row(1, 2), 80, 20));
  c.between = MakeRadio(dialog, ids.between, QStringLiteral("between"), QRect(36, row(2, 2), 80, 20));
  c.from = MakeDatePicker(dialog, ids.from, QRect(118, row(2, 0), 114, 24));
  dialog->AddStatic(0, QStringLiteral("and"), QRect(238, row(2, 2), 26, 20));
  c.to = MakeDatePicker(dialog, ids.to, QRect(266, row(2, 0), 114, 24));
  c.radios = new QButtonGroup(dialog);
  for (QRadioButton* r : {c.months, c.days, c.between}) c.radios->addButton(r);
  return c;
}

CFileMask::CFileMask(std::function<bool(MaskCriteria)> start, QWidget* parent)
    : CSkinnedDialog(parent, QSize(390, 372), ProductCaption()), m_start(std::move(start)) {
  setWindowTitle(QStringLiteral("Set File Mask"));
  QLabel* group = AddStatic(kIdGroup, QStringLiteral("Set File Mask"), QRect(12, 44, 366, 24));
  group->setFont(SharedFontAt(kFontArial16Bold));
  QLabel* hint = AddStatic(0, QStringLiteral("Enter multiple file types separated by semi-colon (*.jpg;*.txt)"),
                           QRect(20, 72, 350, 18));
  hint->setFont(ArialFont(12));

  m_pPatterns = MakeEdit(this, kIdPatterns, QRect(20, 92, 350, 24), 125, false);
  m_pPatterns->setText(QStringLiteral("*.*"));
  m_pDeleted = MakeCheck(this, kIdDeleted, QStringLiteral("Deleted File"), QRect(20, 126, 150, 20));
  m_pExisting = MakeCheck(this, kIdExisting, QStringLiteral("Existing Files"), QRect(190, 126, 150, 20));
  m_pDeleted->setChecked(true);
  m_pExisting->setChecked(true);

  m_pSizeFrom = MakeCheck(this, kIdSizeFrom, QStringLiteral("Size from (KB)"), QRect(20, 158, 122, 20));
  m_pSizeFromEdit = MakeEdit(this, kIdSizeFromEdit, QRect(144, 156, 76, 24), kSizeDigits);
  m_pUpto = MakeCheck(this, kIdUpto, QStringLiteral("Upto"), QRect(230, 158, 56, 20));
  m_pUptoEdit = MakeEdit(this, kIdUptoEdit, QRect(288, 156, 82, 24), kSizeDigits);

  m_pDate = MakeCheck(this, kIdDate, QStringLiteral("Date"), QRect(20, 192, 70, 20));
  m_date = MakeDateControls(this,
                            {kIdDateKind, kIdMonths, kIdMonthsEdit, kIdMonthsSpin, kIdDays, kIdDaysEdit, kIdDaysSpin,
                             kIdBetween, kIdFromPicker, kIdToPicker},
                            QRect(100, 190, 170, 24), 222, 30, kMaxMonths, kMaxDays);

  QPushButton* help = AddButton(kIdHelp, QStringLiteral("Help"), QRect(20, 332, 80, 26));
  m_pOk = AddButton(kIdOk, QStringLiteral("OK"), QRect(200, 332, 80, 26));
  QPushButton* cancel = AddButton(kIdCancel, QStringLiteral("Cancel"), QRect(290, 332, 80, 26));
  for (QPushButton* b : {help, m_pOk, cancel}) b->setAutoDefault(false);

  // Unchecked "Size from" and "Date" leave their controls off.
  OnSizeFrom(false);
  OnDate(false);
  UpdateOk();

  connect(m_pPatterns, &QLineEdit::textChanged, this, &CFileMask::UpdateOk);
  connect(m_pDeleted, &QCheckBox::toggled, this, [this](bool on) {
    m_criteria.m_bMaskDeleted = on;
    UpdateOk();
  });
  connect(m_pExisting, &QCheckBox::toggled, this, [this](bool on) {
    m_criteria.m_bMaskExisting = on;
    UpdateOk();
  });
  connect(m_pSizeFrom, &QCheckBox::toggled, this, &CFileMask::OnSizeFrom);
  connect(m_pSizeFromEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
    m_criteria.m_bMaskSizeMin = !text.isEmpty();
    m_criteria.m_nMaskSizeMin = NumberOf(m_pSizeFromEdit) * 1024;
    m_pUpto->setEnabled(!text.isEmpty());
  });
  connect(m_pUpto, &QCheckBox::toggled, this, &CFileMask::OnUpto);
  connect(m_pUptoEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
    m_criteria.m_bMaskSizeMax = !text.isEmpty();
    m_criteria.m_nMaskSizeMax = NumberOf(m_pUptoEdit) * 1024;
  });
  connect(m_pDate, &QCheckBox::toggled, this, &CFileMask::OnDate);
  connect(m_date.kind, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int index) {
    m_criteria.m_bMaskByCreated = index == 0;
    m_criteria.m_bMaskByModified = index == 1;
  });
  connect(m_date.months, &QRadioButton::clicked, this, &CFileMask::OnMonths);
  connect(m_date.days, &QRadioButton::clicked, this, &CFileMask::OnDays);
  connect(m_date.between, &QRadioButton::clicked, this, &CFileMask::OnBetween);
  connect(m_date.monthsEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
    m_criteria.m_nMaskMonths = static_cast<std::uint32_t>(std::min<std::uint64_t>(NumberOf(m_date.monthsEdit), UINT32_MAX));
    if (text.isEmpty()) m_criteria.m_bMaskInLastMonths = false;
  });
  connect(m_date.daysEdit, &QLineEdit::textChanged, this, [this](const QString& text) {
    m_criteria.m_nMaskDays = static_cast<std::uint32_t>(std::min<std::uint64_t>(NumberOf(m_date.daysEdit), UINT32_MAX));
    if (text.isEmpty()) m_criteria.m_bMaskInLastDays = false;
  });
  connect(m_date.from, &QDateEdit::dateChanged, this, [this](const QDate& d) { OnPicked(true, d); });
  connect(m_date.to, &QDateEdit::dateChanged, this, [this](const QDate& d) { OnPicked(false, d); });
  connect(m_pOk, &QPushButton::clicked, this, &CFileMask::OnOK);
  connect(cancel, &QPushButton::clicked, this, &CFileMask::reject);
  connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kHelpContext); });
}

void CFileMask::UpdateOk() {
  m_pOk->setEnabled(m_pPatterns->text().trimmed().startsWith(QStringLiteral("*.")) &&
                    (m_pDeleted->isChecked() || m_pExisting->isChecked()));
}

void CFileMask::OnSizeFrom(bool on) {
  if (on) {
    m_pSizeFromEdit->setEnabled(true);
    return;
  }
  m_pSizeFromEdit->clear();
  m_pUptoEdit->clear();
  m_pSizeFromEdit->setEnabled(false);
  m_pUptoEdit->setEnabled(false);
  m_pUpto->setChecked(false);
  m_pUpto->setEnabled(false);
}

void CFileMask::OnUpto(bool on) {
  m_pUptoEdit->setEnabled(on);
  if (!on) m_pUptoEdit->clear();
}

void CFileMask::SetRadiosEnabled(bool on) {
  for (QRadioButton* r : {m_date.months, m_date.days, m_date.between}) r->setEnabled(on);
}

void CFileMask::OnDate(bool on) {
  if (on) {
    SetRadiosEnabled(true);
    m_date.kind->setEnabled(true);
    m_date.kind->setCurrentIndex(0);
    m_criteria.m_bMaskByCreated = true;
    m_criteria.m_bMaskByModified = false;
    m_date.months->setChecked(true);
    OnMonths();
    return;
  }
  m_date.UncheckRadios();
  SetRadiosEnabled(false);
  for (QWidget* w : std::initializer_list<QWidget*>{m_date.kind, m_date.monthsEdit, m_date.monthsSpin, m_date.daysEdit, m_date.daysSpin,
                                                    m_date.from, m_date.to})
    w->setEnabled(false);
  m_criteria.m_bMaskInLastDays = m_criteria.m_bMaskInLastMonths = m_criteria.m_bMaskBetween = false;
}

void CFileMask::OnMonths() { OnLastN(true); }
void CFileMask::OnDays() { OnLastN(false); }

void CFileMask::OnLastN(bool months) {
  // The chosen row's number starts at 1; the other row and the range go off.
  QLineEdit* on = months ? m_date.monthsEdit : m_date.daysEdit;
  QLineEdit* off = months ? m_date.daysEdit : m_date.monthsEdit;
  on->setEnabled(true);
  (months ? m_date.monthsSpin : m_date.daysSpin)->setEnabled(true);
  on->setText(QStringLiteral("1"));
  off->clear();
  off->setEnabled(false);
  (months ? m_date.daysSpin : m_date.monthsSpin)->setEnabled(false);
  m_date.from->setEnabled(false);
  m_date.to->setEnabled(false);
  m_criteria.m_bMaskInLastMonths = months;
  m_criteria.m_bMaskInLastDays = !months;
  (months ? m_criteria.m_nMaskMonths : m_criteria.m_nMaskDays) = 1;
  m_criteria.m_bMaskBetween = false;
}

void CFileMask::OnBetween() {
  m_date.monthsEdit->clear();
  m_date.daysEdit->clear();
  for (QWidget* w : std::initializer_list<QWidget*>{m_date.monthsEdit, m_date.monthsSpin, m_date.daysEdit, m_date.daysSpin})
    w->setEnabled(false);
  m_criteria.m_bMaskInLastDays = m_criteria.m_bMaskInLastMonths = false;
  m_criteria.m_nMaskDays = m_criteria.m_nMaskMonths = 0;
  m_date.from->setEnabled(true);
  m_date.to->setEnabled(true);
}

void CFileMask::OnPicked(bool from, const QDate& date) {
  (from ? m_criteria.m_dtMaskFrom : m_criteria.m_dtMaskTo) = DayDate{date.day(), date.month(), date.year()};
  if (date != TodayUtcDate()) m_criteria.m_bMaskBetween = true;
}

void CFileMask::OnOK() {
  Prompt& prompt = App().GetPrompt();
  if (m_criteria.m_nMaskDays != 0 && NumberOf(m_date.daysEdit) > kMaxDays) {
    prompt.MessageBoxId(kIdsTooManyDays, kPicWarning, kMbOk);
    m_date.daysEdit->setFocus();
    return;
  }
  if (m_criteria.m_nMaskMonths != 0 && NumberOf(m_date.monthsEdit) > kMaxMonths) {
    prompt.MessageBoxId(kIdsTooManyMonths, kPicWarning, kMbOk);
    m_date.monthsEdit->setFocus();
    return;
  }
  if (m_criteria.m_bMaskSizeMin && m_criteria.m_bMaskSizeMax && m_criteria.m_nMaskSizeMax < m_criteria.m_nMaskSizeMin) {
    prompt.MessageBoxId(kIdsBadSizeRange, kPicWarning, kMbOk);
    m_pUptoEdit->setFocus();
    return;
  }
  m_criteria.m_maskPatterns = SplitMaskPatterns(ToUtf16(m_pPatterns->text()));
  if (m_start && m_start(m_criteria)) accept();
}

}  // namespace corvan
