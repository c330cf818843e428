#include "scan/ui/FileTypeChoice.h"

#include <QApplication>
#include <QComboBox>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPushButton>

#include "app/CORVANApp.h"
#include "core/StringTable.h"
#include "scan/ui/CAddHeader.h"
#include "ui/DialogLook.h"
#include "ui/QtText.h"

namespace corvan {

FileTypeChoice::FileTypeChoice(QWidget* dialog, const Controls& controls)
    : QObject(dialog), m_pDialog(dialog), m_c(controls) {
  HighlightControl(m_c.groups);
  for (unsigned id = 266; id <= 274; ++id) m_c.groups->addItem(ToQString(LoadString(id)));
  m_c.groups->setCurrentIndex(0);
  m_c.list->SetUpColumns(102);
  m_c.list->SetOwner(this);
  m_c.edit->setEnabled(false);

  FillAllRows();

  connect(m_c.groups, qOverload<int>(&QComboBox::currentIndexChanged), this, &FileTypeChoice::OnGroupChanged);
  connect(m_c.selectAll, &QPushButton::clicked, this, &FileTypeChoice::OnSelectAll);
  connect(m_c.unselectAll, &QPushButton::clicked, this, &FileTypeChoice::OnUnselectAll);
  m_c.list->installEventFilter(this);
}

void FileTypeChoice::FillAllRows() {
  CORVANApp& app = App();
  app.LoadUserHeaders();
  m_c.list->setRowCount(0);
  m_nRowCount = m_nCheckedCount = 0;
  for (const FileTypeRecord& r : app.m_fileTypeList) {
    m_c.list->AddRow(r, true);
    if (r.selected) ++m_nCheckedCount;
    ++m_nRowCount;
  }
  UpdateButtons();
}

void FileTypeChoice::UpdateButtons() {
  m_c.selectAll->setEnabled(m_nCheckedCount != m_nRowCount);
  m_c.unselectAll->setEnabled(m_nCheckedCount != 0);
}

void FileTypeChoice::OnGroupChanged(int group) {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  m_c.list->setRowCount(0);
  for (const FileTypeRecord& r : App().m_fileTypeList)
    if (group == 0 || r.group == group) m_c.list->AddRow(r, false);
  QApplication::restoreOverrideCursor();
}

void FileTypeChoice::ToggleRow(int row) {
  CEditList* list = m_c.list;
  if (row < 0 || row >= list->rowCount()) return;
  const std::u16string name = ToUtf16(list->item(row, CEditList::kColName)->text());
  const std::u16string extension = ToUtf16(list->item(row, CEditList::kColExtension)->text());
  if (list->RowState(row) == CEditList::kStateUnchecked) {
    list->SetRowState(row, CEditList::kStateChecked);
    ++m_nCheckedCount;
    SetFileTypeChecked(App(), extension, name, 2);
  } else {
    list->SetRowState(row, CEditList::kStateUnchecked);
    --m_nCheckedCount;
    SetFileTypeChecked(App(), extension, name, 1);
  }
  UpdateButtons();
}

void FileTypeChoice::OnSelectAll() {
  // Every type of every group, also while the list shows one group, so the
  // count stays that of the whole list.
  m_nCheckedCount = m_nRowCount;
  for (FileTypeRecord& r : App().m_fileTypeList) r.selected = 1;
  for (int row = 0; row < m_c.list->rowCount(); ++row) m_c.list->SetRowState(row, CEditList::kStateChecked);
  UpdateButtons();
}

void FileTypeChoice::OnUnselectAll() {
  m_nCheckedCount = 0;
  for (FileTypeRecord& r : App().m_fileTypeList) r.selected = 0;
  for (int row = 0; row < m_c.list->rowCount(); ++row) m_c.list->SetRowState(row, CEditList::kStateUnchecked);
  UpdateButtons();
}

int FileTypeChoice::SelectedRow() const {
  const QModelIndexList rows = m_c.list->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

bool FileTypeChoice::OnEdit() {
  const int row = SelectedRow();
  FileTypeRecord* record = RecordOfRow(*m_c.list, row);
  if (!record) return false;
  CAddHeader dlg(m_pDialog, record);
  const bool ok = dlg.exec() == kIdOk;
  m_c.list->SetRowTexts(row, *record);
  return ok;
}

void FileTypeChoice::EnableEditButton(bool on) { m_c.edit->setEnabled(on); }

void FileTypeChoice::OnSizeEdited(FileTypeRecord&) {
  if (m_sizeEdited) m_sizeEdited();
}

void FileTypeChoice::OnCheckClick(int row, const QPoint& viewportPos) {
  if (m_c.list->IsOnCheckBox(row, viewportPos)) ToggleRow(row);
}

bool FileTypeChoice::StoreChoice(CORVANApp& app) {
  // An unchanged choice leaves the installed file the one that is read.
  if (app.m_fileTypeList == ReadFileTypeRecords(app.HeaderFileToRead())) return true;
  return app.SaveUserHeaders();
}

bool FileTypeChoice::eventFilter(QObject* watched, QEvent* e) {
  if (watched == m_c.list && e->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(e)->key() == Qt::Key_Space) {
    ToggleRow(SelectedRow());
    return true;
  }
  return QObject::eventFilter(watched, e);
}

}  // namespace corvan
