#include "preview/ui/CReportList.h"

#include <QHeaderView>

namespace corvan {

void ReportListModel::SetColumns(std::vector<ReportColumn> columns) {
  beginResetModel();
  m_columns = std::move(columns);
  m_rows.clear();
  endResetModel();
}

void ReportListModel::SetRows(std::vector<QStringList> rows) {
  beginResetModel();
  m_rows = std::move(rows);
  endResetModel();
}

int ReportListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ReportListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant ReportListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
  const QStringList& row = m_rows[static_cast<std::size_t>(index.row())];
  switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole: return index.column() < row.size() ? row[index.column()] : QString();
    case Qt::TextAlignmentRole:
      return QVariant::fromValue((m_columns[static_cast<std::size_t>(index.column())].rightAligned ? Qt::AlignRight
                                                                                                    : Qt::AlignLeft) |
                                 Qt::AlignVCenter);
    default: return {};
  }
}

QVariant ReportListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
  const ReportColumn& c = m_columns[static_cast<std::size_t>(section)];
  if (role == Qt::DisplayRole) return c.heading;
  if (role == Qt::TextAlignmentRole)
    return QVariant::fromValue((c.rightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  return {};
}

CReportList::CReportList(int id, QWidget* parent) : QTableView(parent), m_id(id), m_model(this) {
  setModel(&m_model);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setShowGrid(true);
  setWordWrap(false);
  setMouseTracking(true);  // the row under the pointer is followed
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setStretchLastSection(false);
}

void CReportList::SetColumns(std::vector<ReportColumn> columns) {
  std::vector<int> widths;
  for (const auto& c : columns) widths.push_back(c.width);
  m_model.SetColumns(std::move(columns));
  for (std::size_t i = 0; i < widths.size(); ++i) setColumnWidth(static_cast<int>(i), widths[i]);
}

void CReportList::SetRows(std::vector<QStringList> rows) { m_model.SetRows(std::move(rows)); }

QString CReportList::Cell(int row, int column) const {
  return m_model.data(m_model.index(row, column), Qt::DisplayRole).toString();
}

}  // namespace corvan
