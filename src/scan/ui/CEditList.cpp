#include "scan/ui/CEditList.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>
#include <algorithm>

#include "app/CORVANApp.h"
#include "core/StringTable.h"
#include "scan/ui/CAddHeader.h"
#include "ui/CEditItem.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

QString FileTypeSizeText(const FileTypeRecord& record) { return QString::number(record.maxSize / 1024); }

std::optional<std::uint32_t> ParseSizeInKb(const QString& text) {
  if (text.isEmpty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const QChar c : text) {
    if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c.unicode() - '0');
    // Past what a 32-bit size in bytes holds: no need to read further.
    if (value > 0xFFFFFFFFull / 1024) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

FileTypeRecord* FindFileType(std::vector<FileTypeRecord>& list, const QString& name, const QString& extension) {
  const std::u16string n = ToUtf16(name), e = ToUtf16(extension);
  for (FileTypeRecord& r : list)
    if (r.softwareName == n && r.extension == e) return &r;
  return nullptr;
}

FileTypeRecord* RecordOfRow(const QTableWidget& list, int row) {
  const QTableWidgetItem* name = row >= 0 ? list.item(row, CEditList::kColName) : nullptr;
  const QTableWidgetItem* extension = row >= 0 ? list.item(row, CEditList::kColExtension) : nullptr;
  if (!name || !extension) return nullptr;
  return FindFileType(App().m_fileTypeList, name->text(), extension->text());
}

CEditList::CEditList(QWidget* parent) : CXColorListCtrl(parent) {
  m_crEvenRow = 0xFAF8F6;
  m_crOddRow = 0xCEE9DD;
  setFont(ArialFont(14));
  setMouseTracking(true);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &CEditList::OnHeaderClick);
}

void CEditList::SetUpColumns(int sizeWidth) {
  setColumnCount(3);
  const unsigned headings[] = {254, 255, 256};  // "Software Name", "File Extension", "Size(KB)"
  const int widths[] = {220, 85, sizeWidth};
  for (int c = 0; c < 3; ++c) {
    auto* h = new QTableWidgetItem(ToQString(LoadString(headings[c])));
    h->setTextAlignment((c == kColSize ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    setHorizontalHeaderItem(c, h);
    setColumnWidth(c, widths[c]);
  }
  horizontalHeader()->setSectionsClickable(true);
  horizontalHeader()->setStretchLastSection(false);
}

int CEditList::AddRow(const FileTypeRecord& record, bool atTop) {
  const int row = atTop ? 0 : rowCount();
  insertRow(row);
  for (int c = 0; c < 3; ++c) {
    auto* it = new QTableWidgetItem;
    // Selectable but not checkable by the view itself: the owner decides
    // what a click on the box does.
    it->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (c == kColSize) it->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setItem(row, c, it);
  }
  SetRowTexts(row, record);
  SetRowState(row, record.selected ? kStateChecked : kStateUnchecked);
  return row;
}

void CEditList::SetRowTexts(int row, const FileTypeRecord& record) {
  if (row < 0 || row >= rowCount()) return;
  item(row, kColName)->setText(ToQString(record.softwareName));
  item(row, kColExtension)->setText(ToQString(record.extension));
  item(row, kColSize)->setText(FileTypeSizeText(record));
}

int CEditList::RowState(int row) const {
  const QTableWidgetItem* it = row >= 0 ? item(row, kColName) : nullptr;
  if (!it) return 0;
  return it->data(Qt::CheckStateRole).toInt() == Qt::Checked ? kStateChecked : kStateUnchecked;
}

void CEditList::SetRowState(int row, int state) {
  if (QTableWidgetItem* it = row >= 0 ? item(row, kColName) : nullptr)
    it->setData(Qt::CheckStateRole, state == kStateChecked ? Qt::Checked : Qt::Unchecked);
}

bool CEditList::IsOnCheckBox(int row, const QPoint& viewportPos) const {
  const QModelIndex index = model()->index(row, kColName);
  if (!index.isValid()) return false;
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.rect = visualRect(index);
  option.index = index;
  option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
  return style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this).contains(viewportPos);
}

void CEditList::OnRowClick(int row, int column, const QPoint& viewportPos) {
  if (!hasFocus()) setFocus(Qt::MouseFocusReason);
  m_nLastRow = row;
  if (column == kColSize) {
    EditSubLabel(row, column);
    if (m_pOwner) m_pOwner->EnableEditButton(false);
    return;
  }
  if (m_pOwner) m_pOwner->EnableEditButton(row != -1);
  if (column == kColName && m_pOwner) m_pOwner->OnCheckClick(row, viewportPos);
}

CEditItem* CEditList::EditSubLabel(int row, int column) {
  if (row < 0 || row >= rowCount() || column < 0 || column >= columnCount()) return nullptr;
  if (m_pEditor) m_pEditor->Finish();
  const QModelIndex index = model()->index(row, column);
  scrollTo(index);
  QRect cell = visualRect(index);
  const QRect client = viewport()->rect();
  if (cell.left() < 0 || cell.left() > client.right()) {
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + cell.left());
    cell = visualRect(index);
  }
  cell.setWidth(qMin(columnWidth(column), client.right() + 1 - cell.left()));
  const QTableWidgetItem* it = item(row, column);
  const Qt::Alignment align = it ? Qt::Alignment(it->textAlignment()) & Qt::AlignHorizontal_Mask : Qt::AlignLeft;
  m_pEditor = new CEditItem(this, row, column, it ? it->text() : QString(), cell, align ? align : Qt::AlignLeft);
  connect(m_pEditor, &CEditItem::EndLabelEdit, this, &CEditList::OnEndLabelEdit);
  return m_pEditor;
}

void CEditList::OnEndLabelEdit(int row, int column, const QString& text, bool cancelled) {
  if (row < 0 || cancelled) return;
  const std::optional<std::uint32_t> kb = ParseSizeInKb(text);
  if (!kb) {
    App().GetPrompt().MessageBox("Invalid size. Re-enter value", kPicInformation, kMbOk);
    return;
  }
  if (QTableWidgetItem* it = item(row, column)) it->setText(text);
  FileTypeRecord* record = RecordOfRow(*this, row);
  if (!record) return;
  record->maxSize = *kb * 1024;
  if (m_pOwner) m_pOwner->OnSizeEdited(*record);
}

void CEditList::OnHeaderClick(int column) {
  CORVANApp& app = App();
  if (column == m_nSortColumn) app.m_bSortAscending = app.m_bSortAscending ? 0 : 1;
  else app.m_bSortAscending = 0;
  m_nSortColumn = column;
  SortRows(column, app.m_bSortAscending != 0);
}

void CEditList::SortRows(int column, bool ascending) {
  if (column < 0 || column >= columnCount()) return;
  struct Row {
    std::vector<QTableWidgetItem*> items;
    QString text;
    std::int64_t number = 0;
  };
  std::vector<Row> rows(static_cast<std::size_t>(rowCount()));
  for (int r = 0; r < rowCount(); ++r) {
    Row& row = rows[static_cast<std::size_t>(r)];
    for (int c = 0; c < columnCount(); ++c) row.items.push_back(takeItem(r, c));
    const QString text = row.items[static_cast<std::size_t>(column)] ? row.items[static_cast<std::size_t>(column)]->text()
                                                                     : QString();
    if (column == kColSize) row.number = text.toLongLong();
    else row.text = text.toCaseFolded();
  }
  std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
    const int c = column == kColSize ? (a.number < b.number ? -1 : a.number > b.number ? 1 : 0) : a.text.compare(b.text);
    return ascending ? c < 0 : c > 0;
  });
  for (int r = 0; r < rowCount(); ++r)
    for (int c = 0; c < columnCount(); ++c) setItem(r, c, rows[static_cast<std::size_t>(r)].items[static_cast<std::size_t>(c)]);
}

QString CEditList::ToolTipTextAt(const QPoint& viewportPos) const {
  if (!viewport()->rect().contains(viewportPos) || rowCount() == 0) return {};
  const QModelIndex index = indexAt(viewportPos);
  if (!index.isValid()) return {};
  if (index.column() == kColSize) return QStringLiteral("Click here to change the size of file type");
  // A type kept in the file but never searched for says why on its name.
  if (index.column() != kColName) return {};
  const FileTypeRecord* record = RecordOfRow(*this, index.row());
  return record ? UnmatchedSignatureNote(*record) : QString();
}

void CEditList::mouseReleaseEvent(QMouseEvent* e) {
  CXColorListCtrl::mouseReleaseEvent(e);
  if (e->button() != Qt::LeftButton) return;
  const QPoint pos = e->position().toPoint();
  OnRowClick(rowAt(pos.y()), columnAt(pos.x()), pos);
}

bool CEditList::viewportEvent(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(e);
    const QString text = ToolTipTextAt(help->pos());
    if (text.isEmpty()) QToolTip::hideText();
    else QToolTip::showText(help->globalPos(), text, viewport(), visualRect(indexAt(help->pos())));
    return true;
  }
  return CXColorListCtrl::viewportEvent(e);
}

}  // namespace corvan
