#include "save/ui/CAddFileFilter.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>

#include "app/CORVANApp.h"
#include "core/StringTable.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"
#include "ui/XTipComboBox.h"

namespace corvan {

const std::array<SaveFilterPreset, 5>& SaveFilterPresets() {
  static const std::array<SaveFilterPreset, 5> presets{{
      {249, {u"*.doc", u"*.dot", u"*.xls", u"*.xlw", u"*.ppt", u"*.docx", u"*.xlsx", u"*.xlwx", u"*.pptx", u"*.accdb"}},
      {250, {u"*.html", u"*.htm", u"*.htx", u"*.asp", u"*.stm", u"*.shtml"}},
      {251, {u"*.bmp", u"*.gif", u"*.jpg", u"*.jpeg", u"*.png", u"*.tif", u"*.ico", u"*.cur"}},
      {252, {u"*.zip", u"*.rar", u"*.tar", u"*.lzh", u"*.cab"}},
      {253, {u"*.c", u"*.cpp", u"*.h", u"*.cxx", u"*.rc", u"*.dsw", u"*.dsp"}},
  }};
  return presets;
}

CAddFileFilter::CAddFileFilter(QWidget* parent) : CSkinnedDialog(parent, QSize(430, 330), ProductCaption()) {
  setWindowTitle(QStringLiteral("Add File Filter"));
  QLabel* group = AddStatic(kIdGroup, QStringLiteral("Add File Filter"), QRect(12, 44, 406, 24));
  group->setFont(SharedFontAt(kFontArial16Bold));
  AddStatic(0, QStringLiteral("Enter File Basis:"), QRect(20, 78, 200, 20))->setFont(ArialFont(14));

  m_pCombo = new XTipComboBox(this);
  SetDlgCtrlId(m_pCombo, kIdCombo);
  m_pCombo->setEditable(true);
  m_pCombo->setInsertPolicy(QComboBox::NoInsert);
  m_pCombo->setGeometry(20, 100, 300, 24);
  for (const SaveFilterPreset& p : SaveFilterPresets()) m_pCombo->addItem(ToQString(LoadString(p.textId)));
  m_pCombo->setCurrentIndex(-1);
  m_pCombo->setEditText(QString());
  m_pAdd = AddButton(kIdAdd, QStringLiteral("Add"), QRect(330, 99, 80, 26));

  m_pList = new QListWidget(this);
  SetDlgCtrlId(m_pList, kIdList);
  m_pList->setGeometry(20, 134, 300, 140);
  QPalette pal = m_pList->palette();
  pal.setColor(QPalette::Base, FromColorRef(0xCCF7FF));
  m_pList->setPalette(pal);
  m_pRemove = AddButton(kIdRemove, QStringLiteral("Remove"), QRect(330, 134, 80, 26));
  m_pInclude = AddButton(kIdInclude, QStringLiteral("Include"), QRect(330, 176, 80, 26));
  m_pExclude = AddButton(kIdExclude, QStringLiteral("Exclude"), QRect(330, 208, 80, 26));
  QPushButton* help = AddButton(kIdHelp, QStringLiteral("Help"), QRect(20, 290, 80, 26));
  QPushButton* cancel = AddButton(kIdCancel, QStringLiteral("Cancel"), QRect(330, 290, 80, 26));
  QPushButton* hidden = AddButton(kIdHiddenOk, QStringLiteral("X"), QRect(0, 0, 1, 1));
  hidden->hide();
  for (QPushButton* b : {m_pAdd, m_pRemove, m_pInclude, m_pExclude, help, cancel}) b->setAutoDefault(false);
  m_pAdd->setEnabled(false);
  m_pRemove->setEnabled(false);
  SetModeButtons(false);

  // The masks this Recover command already has.
  const std::vector<std::u16string>& masks = App().m_saveChoice.m_saveMasks;
  for (const std::u16string& m : masks) m_pList->addItem(ToQString(m));
  m_nCountAtOpen = masks.size();
  if (!masks.empty()) SetModeButtons(true);

  connect(m_pAdd, &QPushButton::clicked, this, &CAddFileFilter::OnAdd);
  connect(m_pRemove, &QPushButton::clicked, this, &CAddFileFilter::OnRemove);
  connect(m_pInclude, &QPushButton::clicked, this, &CAddFileFilter::OnInclude);
  connect(m_pExclude, &QPushButton::clicked, this, &CAddFileFilter::OnExclude);
  connect(cancel, &QPushButton::clicked, this, &CAddFileFilter::reject);
  connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kHelpContext); });
  connect(m_pCombo, qOverload<int>(&QComboBox::activated), this, [this] { m_pAdd->setEnabled(true); });
  connect(m_pCombo, &QComboBox::editTextChanged, this, [this](const QString& text) {
    m_pAdd->setEnabled(!text.isEmpty());
  });
  connect(m_pList, &QListWidget::itemSelectionChanged, this, [this] {
    m_pRemove->setEnabled(m_pList->count() > 0 && !m_pList->selectedItems().isEmpty());
  });
  installEventFilter(this);
  m_pCombo->installEventFilter(this);
  if (m_pCombo->lineEdit()) m_pCombo->lineEdit()->installEventFilter(this);
}

void CAddFileFilter::SetModeButtons(bool on) {
  m_pInclude->setEnabled(on);
  m_pExclude->setEnabled(on);
}

void CAddFileFilter::showEvent(QShowEvent* e) {
  CSkinnedDialog::showEvent(e);
  if (!m_bFocusSet) {
    m_bFocusSet = true;
    m_pCombo->setFocus();
  }
}

bool CAddFileFilter::eventFilter(QObject* watched, QEvent* e) {
  // Enter adds what the box holds and never presses a button.
  if (e->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(e);
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
      if (!m_pCombo->currentText().isEmpty()) OnAdd();
      return true;
    }
  }
  return CSkinnedDialog::eventFilter(watched, e);
}

void CAddFileFilter::AddMask(const std::u16string& mask) {
  std::vector<std::u16string>& masks = App().m_saveChoice.m_saveMasks;
  // Compared exactly: "*.DOC" is another mask than "*.doc".
  if (std::find(masks.begin(), masks.end(), mask) != masks.end()) return;
  masks.push_back(mask);
  m_pList->addItem(ToQString(mask));
}

void CAddFileFilter::OnAdd() {
  const QString text = m_pCombo->currentText().left(259);
  if (text.isEmpty()) return;
  // A preset is chosen when the box shows its text exactly.
  const int index = m_pCombo->findText(text, Qt::MatchExactly);
  if (index >= 0 && index < static_cast<int>(SaveFilterPresets().size())) {
    for (const char16_t* mask : SaveFilterPresets()[static_cast<std::size_t>(index)].masks) AddMask(mask);
  } else if (!text.trimmed().isEmpty()) {
    AddMask(ToUtf16(text));  // as typed, blanks included
  }
  m_pCombo->setCurrentIndex(-1);
  m_pCombo->setEditText(QString());
  SetModeButtons(true);
  m_pAdd->setEnabled(false);
}

void CAddFileFilter::OnRemove() {
  QListWidgetItem* item = m_pList->currentItem();
  if (!item || m_pList->selectedItems().isEmpty()) return;
  const std::u16string mask = ToUtf16(item->text());
  delete m_pList->takeItem(m_pList->row(item));
  std::vector<std::u16string>& masks = App().m_saveChoice.m_saveMasks;
  const auto it = std::find(masks.begin(), masks.end(), mask);
  if (it != masks.end()) masks.erase(it);
  m_pList->clearSelection();
  m_pRemove->setEnabled(false);
  if (m_pList->count() == 0) SetModeButtons(false);
}

void CAddFileFilter::OnInclude() {
  App().m_saveChoice.m_bSaveMaskExclude = 0;
  done(kResultOther);
}

void CAddFileFilter::OnExclude() {
  App().m_saveChoice.m_bSaveMaskExclude = 1;
  done(kResultOther);
}

void CAddFileFilter::reject() {
  // Masks added in this run are taken back; removals stay.
  std::vector<std::u16string>& masks = App().m_saveChoice.m_saveMasks;
  if (masks.size() >= m_nCountAtOpen) masks.resize(m_nCountAtOpen);
  done(kIdCancel);
}

}  // namespace corvan
