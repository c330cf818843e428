#include "console/ui/CFindDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/CORVANApp.h"
#include "console/ui/CFileMask.h"
#include "console/ui/CRecoveryConsole.h"
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

QString Text(unsigned id) { return ToQString(LoadString(id)); }

// A number above `top` loses its last digit.
void CutToTop(QLineEdit* edit, std::uint64_t top) {
  const std::uint64_t value = edit->text().toULongLong();
  if (value > top) edit->setText(QString::number(value / 10));
}

}  // namespace

CFindDlg::CFindDlg(CRecoveryConsole& console, FindSearch& search, const QString& boxText, QWidget* parent)
    : CSkinnedDialog(parent, QSize(kWidth, kFullHeight), ProductCaption()), m_console(console), m_search(search) {
  setWindowTitle(QStringLiteral("Find Files"));
  m_pFrame = new QFrame(this);
  SetDlgCtrlId(m_pFrame, kIdFrame);
  m_pFrame->setFrameStyle(QFrame::Box | QFrame::Plain);
  m_pFrame->setGeometry(2, 38, kWidth - 4, kCollapsedHeight - 40);
  auto* group = new QLabel(QStringLiteral("Find Files"), this);
  SetDlgCtrlId(group, kIdGroup);
  group->setFont(SharedFontAt(kFontArial16Bold));
  group->setGeometry(6, 44, kWidth - 12, 24);
  m_pOutline = new QFrame(this);
  SetDlgCtrlId(m_pOutline, kIdOutline);
  m_pOutline->setGeometry(0, 0, kWidth, kCollapsedHeight);
  m_pOutline->hide();

  AddStatic(0, QStringLiteral("Enter file type(s) delimited by semi-colons"), QRect(20, 76, 300, 18));
  m_pPatterns = MakeEdit(this, kIdPatterns, QRect(20, 96, 300, 24), 250, false);
  m_pMatchCase = MakeCheck(this, kIdMatchCase, QStringLiteral("Match Case"), QRect(20, 132, 100, 20));
  m_pDeleted = MakeCheck(this, kIdDeleted, QStringLiteral("Deleted File"), QRect(124, 132, 100, 20));
  m_pExisting = MakeCheck(this, kIdExisting, QStringLiteral("Existing Files"), QRect(228, 132, 110, 20));
  m_pSearchNow = AddButton(kIdOk, QStringLiteral("Search Now"), QRect(346, 72, 108, 26));
  QPushButton* cancel = AddButton(kIdCancel, QStringLiteral("Cancel"), QRect(346, 104, 108, 26));
  QPushButton* help = AddButton(kIdHelp, QStringLiteral("Help"), QRect(346, 136, 108, 26));
  m_pAdvanced = AddButton(kIdAdvanced, QStringLiteral("Advanced >>"), QRect(346, 168, 108, 26));
  for (QPushButton* b : {m_pSearchNow, cancel, help, m_pAdvanced}) b->setAutoDefault(false);

  // The advanced part.
  m_pSize = MakeCheck(this, kIdSize, QStringLiteral("Size"), QRect(20, 222, 64, 20));
  m_pSizeKind = new QComboBox(this);
  SetDlgCtrlId(m_pSizeKind, kIdSizeKind);
  m_pSizeKind->setEditable(true);
  m_pSizeKind->setInsertPolicy(QComboBox::NoInsert);
  m_pSizeKind->setGeometry(90, 220, 116, 24);
  m_pSizeKind->addItem(Text(kIdsAtLeast));
  m_pSizeKind->addItem(Text(kIdsAtMost));
  m_pSizeEdit = MakeEdit(this, kIdSizeEdit, QRect(214, 220, 90, 24), 10);
  AddStatic(0, QStringLiteral("KB"), QRect(310, 222, 30, 20));
  m_pDate = MakeCheck(this, kIdDate, QStringLiteral("Date"), QRect(20, 254, 64, 20));
  m_date = MakeDateControls(this,
                            {kIdDateKind, kIdMonths, kIdMonthsEdit, kIdMonthsSpin, kIdDays, kIdDaysEdit, kIdDaysSpin,
                             kIdBetween, kIdFromPicker, kIdToPicker},
                            QRect(90, 252, 170, 24), 282, 28, kNumberTop, kNumberTop);

  // The dialog opens collapsed, with both kinds of entries wanted.
  setFixedSize(kWidth, kCollapsedHeight);
  m_pSearchNow->setEnabled(false);
  m_pDeleted->setChecked(true);
  m_pExisting->setChecked(true);
  m_search.criteria.m_bDeleted = m_search.criteria.m_bExisting = true;
  for (QLineEdit* e : {m_pSizeEdit, m_date.monthsEdit, m_date.daysEdit}) e->setText(QStringLiteral("1"));
  m_search.criteria.m_nSizeBytes = 1024;
  OnSize(false);
  OnDate(false);
  const QString trimmed = boxText.trimmed();
  if (!trimmed.isEmpty() && trimmed != Text(kIdsSearchFile)) m_pPatterns->setText(trimmed);
  UpdateSearchNow();

  connect(m_pPatterns, &QLineEdit::textChanged, this, &CFindDlg::UpdateSearchNow);
  connect(m_pDeleted, &QCheckBox::clicked, this, &CFindDlg::UpdateSearchNow);
  connect(m_pExisting, &QCheckBox::clicked, this, &CFindDlg::UpdateSearchNow);
  connect(m_pMatchCase, &QCheckBox::clicked, this, [this](bool on) { m_search.criteria.m_bMatchCase = on; });
  connect(m_pSize, &QCheckBox::toggled, this, &CFindDlg::OnSize);
  connect(m_pDate, &QCheckBox::toggled, this, &CFindDlg::OnDate);
  connect(m_pSizeEdit, &QLineEdit::textChanged, this, &CFindDlg::OnSizeEdited);
  connect(m_date.monthsEdit, &QLineEdit::textChanged, this, [this] { CutToTop(m_date.monthsEdit, kNumberTop); });
  connect(m_date.daysEdit, &QLineEdit::textChanged, this, [this] { CutToTop(m_date.daysEdit, kNumberTop); });
  connect(m_pSizeKind, &QComboBox::editTextChanged, this, [this](const QString& text) {
    // Typed text gives way to "at least".
    if (m_pSizeKind->findText(text, Qt::MatchExactly) < 0) m_pSizeKind->setEditText(Text(kIdsAtLeast));
  });
  for (QRadioButton* r : {m_date.months, m_date.days, m_date.between})
    connect(r, &QRadioButton::clicked, this, [this, r] { OnRadio(r); });
  connect(m_pSearchNow, &QPushButton::clicked, this, &CFindDlg::OnSearchNow);
  connect(cancel, &QPushButton::clicked, this, &CFindDlg::reject);
  connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kHelpContext); });
  connect(m_pAdvanced, &QPushButton::clicked, this, &CFindDlg::OnAdvanced);
}

void CFindDlg::UpdateSearchNow() {
  m_pSearchNow->setEnabled(!m_pPatterns->text().trimmed().isEmpty() &&
                           (m_pDeleted->isChecked() || m_pExisting->isChecked()));
}

void CFindDlg::OnSize(bool on) {
  m_pSizeKind->setEnabled(on);
  m_pSizeEdit->setEnabled(on);
  if (on) m_search.criteria.m_nSizeBytes = m_pSizeEdit->text().toULongLong() * 1024;
}

void CFindDlg::OnDate(bool on) {
  for (QWidget* w : std::initializer_list<QWidget*>{m_date.kind, m_date.from, m_date.to, m_date.months, m_date.days, m_date.between})
    w->setEnabled(on);
  if (on) {
    m_date.between->setChecked(true);
    OnRadio(m_date.between);
    return;
  }
  for (QWidget* w : std::initializer_list<QWidget*>{m_date.monthsEdit, m_date.monthsSpin, m_date.daysEdit, m_date.daysSpin})
    w->setEnabled(false);
  m_date.UncheckRadios();
}

void CFindDlg::OnRadio(QRadioButton* which) {
  m_date.monthsEdit->setEnabled(which == m_date.months);
  m_date.monthsSpin->setEnabled(which == m_date.months);
  m_date.daysEdit->setEnabled(which == m_date.days);
  m_date.daysSpin->setEnabled(which == m_date.days);
  m_date.from->setEnabled(which == m_date.between);
  m_date.to->setEnabled(which == m_date.between);
}

void CFindDlg::OnSizeEdited(const QString& text) {
  if (text.isEmpty()) {
    App().GetPrompt().MessageBoxId(kIdsEnterSizeLimit, kPicInformation, kMbOk);
    m_pSizeEdit->setText(QStringLiteral("1"));
    return;
  }
  CutToTop(m_pSizeEdit, kSizeTop);
  m_search.criteria.m_nSizeBytes = m_pSizeEdit->text().toULongLong() * 1024;
}

void CFindDlg::OnAdvanced() {
  for (QWidget* w : std::initializer_list<QWidget*>{m_date.months, m_date.days, m_date.between, m_date.monthsEdit, m_date.monthsSpin,
                                                    m_date.daysEdit, m_date.daysSpin, m_date.from, m_date.to, m_pSizeKind,
                                                    m_date.kind, m_pSizeEdit})
    w->setEnabled(false);
  m_date.to->setDate(TodayUtcDate());
  if (!m_bExpanded) {
    setFixedSize(kWidth, kFullHeight);
    m_pAdvanced->setText(Text(kIdsAdvanced) + QStringLiteral("<<"));
    m_pOutline->hide();
  } else {
    setFixedSize(kWidth, kCollapsedHeight);
    m_pAdvanced->setText(Text(kIdsAdvanced) + QStringLiteral(">>"));
    m_pOutline->show();
    m_pSize->setChecked(false);
    m_pDate->setChecked(false);
  }
  m_bExpanded = !m_bExpanded;
}

void CFindDlg::OnSearchNow() {
  FindCriteria& c = m_search.criteria;
  m_console.SetFindActive(false);
  c.m_bDeleted = m_pDeleted->isChecked();
  c.m_bExisting = m_pExisting->isChecked();
  c.m_bMatchCase = m_pMatchCase->isChecked();
  const QString names = m_pPatterns->text().left(256).trimmed();
  m_console.SetSearchBoxText(names);
  const QDate from = m_date.from->date(), to = m_date.to->date();
  c.m_nFromYear = from.year(), c.m_nFromMonth = from.month(), c.m_nFromDay = from.day();
  c.m_nToYear = to.year(), c.m_nToMonth = to.month(), c.m_nToDay = to.day();
  c.m_nMonths = m_date.monthsEdit->text().toInt();
  c.m_nDays = m_date.daysEdit->text().toInt();
  c.m_bDate = c.m_bCreated = c.m_bModified = c.m_bBetween = c.m_bLastMonths = c.m_bLastDays = false;
  if (m_pDate->isChecked()) {
    const QString kind = m_date.kind->currentText();
    c.m_bCreated = kind == Text(kIdsCreatedDate);
    c.m_bModified = kind == Text(kIdsModifiedDate);
    c.m_bDate = c.m_bCreated || c.m_bModified;
    c.m_bBetween = m_date.between->isChecked();
    c.m_bLastMonths = m_date.months->isChecked();
    c.m_bLastDays = m_date.days->isChecked();
  }
  c.SetNames(ToUtf16(names));
  c.m_strSizeKind = ToUtf8(m_pSizeKind->currentText());
  c.m_bSize = m_pSize->isChecked() && (m_pSizeKind->currentText() == Text(kIdsAtLeast) ||
                                       m_pSizeKind->currentText() == Text(kIdsAtMost));
  if (!names.isEmpty()) m_console.RunFind(m_search);
  m_console.FocusList();
  done(kIdOk);
}

void CFindDlg::reject() {
  // With a search the view can continue, Cancel runs it again from the top.
  if (m_console.FindActive()) {
    std::u16string names = ToUtf16(ToQString(m_search.criteria.m_strNames).trimmed());
    if (names.empty()) names = m_console.SavedFindNames();
    if (!names.empty() && names.back() == u';') names.pop_back();
    m_pPatterns->setText(ToQString(names));
    OnSearchNow();
    return;
  }
  done(kIdCancel);
}

}  // namespace corvan
