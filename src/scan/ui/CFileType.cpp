#include "scan/ui/CFileType.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

#include "app/CORVANApp.h"
#include "core/StringTable.h"
#include "scan/ui/CAddHeader.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"
#include "ui/XTipComboBox.h"

namespace corvan {

CFileType::CFileType(QWidget* parent) : CSkinnedDialog(parent, QSize(480, 478), ProductCaption()) {
  setWindowTitle(QStringLiteral("File List"));
  QLabel* title = AddStatic(kIdTitle, QStringLiteral("File List"), QRect(12, 44, 456, 24));
  title->setFont(SharedFontAt(kFontArial16Bold));
  AddStatic(kIdFilterLabel, QStringLiteral("Filter by file group"), QRect(12, 78, 140, 22));
  m_pCombo = new XTipComboBox(this);
  SetDlgCtrlId(m_pCombo, kIdGroupCombo);
  m_pCombo->setGeometry(160, 76, 308, 24);
  HighlightControl(m_pCombo);
  for (unsigned id = 266; id <= 274; ++id) m_pCombo->addItem(ToQString(LoadString(id)));
  m_pCombo->setCurrentIndex(0);

  m_pList = new CEditList;
  CreateReportList(this, kIdList, QRect(12, 108, 456, 252), *m_pList);
  m_pList->SetUpColumns(102);
  m_pList->SetOwner(this);

  // User-defined types are added and removed from the settings; the button
  // and its hint that would do it here stay hidden.
  QPushButton* append = AddButton(kIdAppendHeader, QStringLiteral("Append Header File"), QRect(12, 366, 150, 26));
  append->hide();
  QLabel* appendHint = AddStatic(
      kIdAppendHint, QStringLiteral("Please click 'Append Header File' button to add/remove user defined file types."),
      QRect(12, 366, 456, 34));
  appendHint->hide();
  QLabel* settingsHint = AddStatic(kIdSettingsHint,
                                   QStringLiteral("Please select 'Append Header File' option in 'Settings' dialog to "
                                                  "add/remove user defined file types."),
                                   QRect(12, 366, 456, 34));
  settingsHint->setWordWrap(true);
  settingsHint->setFont(ArialFont(13));

  m_pEdit = AddButton(kIdEdit, QStringLiteral("Edit"), QRect(12, 404, 80, 26));
  m_pSelectAll = AddButton(kIdSelectAll, QStringLiteral("Select All"), QRect(100, 404, 100, 26));
  m_pUnselectAll = AddButton(kIdUnselectAll, QStringLiteral("Unselect All"), QRect(208, 404, 100, 26));
  QPushButton* help = AddButton(kIdHelp, QStringLiteral("Help"), QRect(12, 440, 80, 26));
  QPushButton* ok = AddButton(kIdOk, QStringLiteral("OK"), QRect(388, 440, 80, 26));
  for (QPushButton* b : {m_pEdit, m_pSelectAll, m_pUnselectAll, help}) b->setAutoDefault(false);
  ok->setDefault(true);
  m_pEdit->setEnabled(false);
  m_pSelectAll->setEnabled(false);

  FillAllRows();

  connect(m_pCombo, qOverload<int>(&QComboBox::currentIndexChanged), this, &CFileType::OnGroupChanged);
  connect(m_pEdit, &QPushButton::clicked, this, &CFileType::OnEdit);
  connect(m_pSelectAll, &QPushButton::clicked, this, &CFileType::OnSelectAll);
  connect(m_pUnselectAll, &QPushButton::clicked, this, &CFileType::OnUnselectAll);
  connect(ok, &QPushButton::clicked, this, &CFileType::OnOK);
  connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kHelpContext); });
  m_pList->installEventFilter(this);
}

void CFileType::FillAllRows() {
  CORVANApp& app = App();
  app.LoadUserHeaders();
  m_pList->setRowCount(0);
  m_nRowCount = m_nCheckedCount = 0;
  for (const FileTypeRecord& r : app.m_fileTypeList) {
    m_pList->AddRow(r, true);
    if (r.selected) ++m_nCheckedCount;
    ++m_nRowCount;
  }
  UpdateButtons();
}

void CFileType::UpdateButtons() {
  if (m_nCheckedCount == m_nRowCount) {
    m_pSelectAll->setEnabled(false);
    m_pUnselectAll->setEnabled(true);
  } else {
    m_pSelectAll->setEnabled(true);
    m_pUnselectAll->setEnabled(m_nCheckedCount != 0);
  }
}

void CFileType::OnGroupChanged(int group) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  m_pList->setRowCount(0);
  for (const FileTypeRecord& r : App().m_fileTypeList)
    if (group == 0 || r.group == group) m_pList->AddRow(r, false);
  QApplication::restoreOverrideCursor();
}

void CFileType::ToggleRow(int row) {
  if (row < 0 || row >= m_pList->rowCount()) return;
  const std::u16string name = ToUtf16(m_pList->item(row, CEditList::kColName)->text());
  const std::u16string extension = ToUtf16(m_pList->item(row, CEditList::kColExtension)->text());
  if (m_pList->RowState(row) == CEditList::kStateUnchecked) {
    m_pList->SetRowState(row, CEditList::kStateChecked);
    ++m_nCheckedCount;
    SetFileTypeChecked(App(), extension, name, 2);
  } else {
    m_pList->SetRowState(row, CEditList::kStateUnchecked);
    --m_nCheckedCount;
    SetFileTypeChecked(App(), extension, name, 1);
  }
  UpdateButtons();
}

void CFileType::OnSelectAll() {
  // Every type of every group, also while the list shows one group.
  m_nCheckedCount = m_nRowCount;
  for (FileTypeRecord& r : App().m_fileTypeList) r.selected = 1;
  for (int row = 0; row < m_pList->rowCount(); ++row) m_pList->SetRowState(row, CEditList::kStateChecked);
  m_pSelectAll->setEnabled(false);
  m_pUnselectAll->setEnabled(true);
}

void CFileType::OnUnselectAll() {
  m_nCheckedCount = 0;
  for (FileTypeRecord& r : App().m_fileTypeList) r.selected = 0;
  for (int row = 0; row < m_pList->rowCount(); ++row) m_pList->SetRowState(row, CEditList::kStateUnchecked);
  m_pSelectAll->setEnabled(true);
  m_pUnselectAll->setEnabled(false);
}

int CFileType::SelectedRow() const {
  const QModelIndexList rows = m_pList->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void CFileType::OnEdit() {
  const int row = SelectedRow();
  FileTypeRecord* record = RecordOfRow(*m_pList, row);
  if (!record) return;
  CAddHeader dlg(this, record);
  dlg.exec();
  m_pList->SetRowTexts(row, *record);
}

void CFileType::OnOK() {
  CORVANApp& app = App();
  // The choice, and any edits, are kept in the user's signature file, so
  // the next opening (after Raw Recovery has let go of the full list, or
  // after a restart) shows them again. Written before the selected list is
  // built, which may empty the full list.
  if (app.m_fileTypeList != ReadFileTypeRecords(app.HeaderFileToRead())) app.SaveUserHeaders();
  app.BuildSelectedTypeList();
  done(kIdOk);
}

void CFileType::OnFileTypeItemChanged(int row, const QPoint& viewportPos) {
  if (m_pList->IsOnCheckBox(row, viewportPos)) ToggleRow(row);
}

void CFileType::EnableEditButton(bool on) { m_pEdit->setEnabled(on); }

void CFileType::keyPressEvent(QKeyEvent* e) {
  // Escape never closes the choice.
  if (e->key() == Qt::Key_Escape) return e->accept();
  CSkinnedDialog::keyPressEvent(e);
}

bool CFileType::eventFilter(QObject* watched, QEvent* e) {
  if (watched == m_pList && e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Space) {
    ToggleRow(SelectedRow());
    return true;
  }
  return CSkinnedDialog::eventFilter(watched, e);
}

}  // namespace corvan
