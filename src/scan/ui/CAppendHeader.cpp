#include "scan/ui/CAppendHeader.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "app/CORVANApp.h"
#include "core/StringTable.h"
#include "scan/ui/CAddHeader.h"
#include "scan/ui/CEditList.h"
#include "ui/CXColorListCtrl.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

CAppendHeader::CAppendHeader(QWidget* parent) : CSkinnedDialog(parent, QSize(470, 414), ProductCaption()) {
  setWindowTitle(QStringLiteral("Add New Header"));
  QLabel* title = AddStatic(kIdTitle, QStringLiteral("Add New Header"), QRect(12, 44, 446, 24));
  title->setFont(SharedFontAt(kFontArial16Bold));
  QLabel* text = AddStatic(0,
                           QStringLiteral("User defined header information can be added, edited/removed by clicking "
                                          "respective buttons. Preset file headers cannot be modified/deleted. Size "
                                          "of preset file types can only be modified as per requirement."),
                           QRect(12, 70, 446, 54));
  text->setWordWrap(true);
  text->setFont(ArialFont(13));

  m_pList = new CXColorListCtrl;
  CreateReportList(this, kIdList, QRect(12, 128, 446, 232), *m_pList);
  m_pList->m_crEvenRow = 0xFAF8F6;
  m_pList->m_crOddRow = 0xCEE9DD;
  m_pList->setFont(ArialFont(14));
  m_pList->setColumnCount(3);
  const unsigned headings[] = {254, 255, 256};
  const int widths[] = {220, 85, 100};
  for (int c = 0; c < 3; ++c) {
    auto* h = new QTableWidgetItem(ToQString(LoadString(headings[c])));
    h->setTextAlignment((c == CEditList::kColSize ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    m_pList->setHorizontalHeaderItem(c, h);
    m_pList->setColumnWidth(c, widths[c]);
  }

  QPushButton* add = AddButton(kIdAdd, QStringLiteral("Add"), QRect(12, 374, 80, 26));
  m_pEdit = AddButton(kIdEdit, QStringLiteral("Edit"), QRect(100, 374, 80, 26));
  m_pRemove = AddButton(kIdRemove, QStringLiteral("Remove"), QRect(188, 374, 80, 26));
  QPushButton* help = AddButton(kIdHelp, QStringLiteral("Help"), QRect(290, 374, 80, 26));
  QPushButton* close = AddButton(kIdClose, QStringLiteral("Close"), QRect(378, 374, 80, 26));
  for (QPushButton* b : {add, m_pEdit, m_pRemove, help}) b->setAutoDefault(false);
  // Enter closes the dialog as Close does.
  close->setDefault(true);
  m_pEdit->setEnabled(false);
  m_pRemove->setEnabled(false);

  LoadHeaderList();

  connect(add, &QPushButton::clicked, this, &CAppendHeader::OnAdd);
  connect(m_pEdit, &QPushButton::clicked, this, &CAppendHeader::OnEdit);
  connect(m_pRemove, &QPushButton::clicked, this, &CAppendHeader::OnRemove);
  connect(close, &QPushButton::clicked, this, &CAppendHeader::reject);
  connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kHelpContext); });
  connect(m_pList, &QTableWidget::itemSelectionChanged, this, &CAppendHeader::OnRowSelected);
}

void CAppendHeader::LoadHeaderList() {
  CORVANApp& app = App();
  // The file as it stands, each type with its remembered choice.
  app.m_fileTypeList.clear();
  app.LoadUserHeaders();
  m_pList->setRowCount(0);
  for (const FileTypeRecord& r : app.m_fileTypeList) {
    m_pList->insertRow(0);
    const QString texts[] = {ToQString(r.softwareName), ToQString(r.extension), FileTypeSizeText(r)};
    for (int c = 0; c < 3; ++c) {
      auto* it = new QTableWidgetItem(texts[c]);
      it->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
      if (c == CEditList::kColSize) it->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      m_pList->setItem(0, c, it);
    }
    m_pList->item(0, 0)->setData(Qt::CheckStateRole, r.selected ? Qt::Checked : Qt::Unchecked);
  }
  OnRowSelected();
}

int CAppendHeader::SelectedRow() const {
  const QModelIndexList rows = m_pList->selectionModel()->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void CAppendHeader::OnRowSelected() {
  const int row = SelectedRow();
  m_pEdit->setEnabled(row >= 0);
  const FileTypeRecord* record = RecordOfRow(*m_pList, row);
  m_pRemove->setEnabled(record && !record->preset);
}

void CAppendHeader::OnAdd() {
  {
    CAddHeader dlg(this, nullptr);
    dlg.exec();
  }
  LoadHeaderList();
}

void CAppendHeader::OnEdit() {
  FileTypeRecord* record = RecordOfRow(*m_pList, SelectedRow());
  if (!record) return;
  CAddHeader dlg(this, record);
  if (dlg.exec() != kIdOk) return;
  App().SaveUserHeaders();
  LoadHeaderList();
}

void CAppendHeader::OnRemove() {
  CORVANApp& app = App();
  const FileTypeRecord* record = RecordOfRow(*m_pList, SelectedRow());
  if (!record || record->preset) return;
  app.m_fileTypeList.erase(app.m_fileTypeList.begin() + (record - app.m_fileTypeList.data()));
  app.SaveUserHeaders();
  LoadHeaderList();
  m_pRemove->setEnabled(false);
}

}  // namespace corvan
