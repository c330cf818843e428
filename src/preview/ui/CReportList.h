#pragma once
// The report lists of the preview area: an archive's entries, a backup's
// files, a table's cells. Rows live in a model, so a listing of a million
// entries costs memory, not a million widgets; grid lines, one selected row
// at a time, the whole row selected.

#include <QAbstractTableModel>
#include <QStringList>
#include <QTableView>
#include <vector>

namespace corvan {

struct ReportColumn {
  QString heading;
  int width = 100;
  bool rightAligned = false;
};

class ReportListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  using QAbstractTableModel::QAbstractTableModel;
  void SetColumns(std::vector<ReportColumn> columns);
  // Replaces every row; a row may have fewer cells than there are columns.
  void SetRows(std::vector<QStringList> rows);
  const std::vector<ReportColumn>& Columns() const { return m_columns; }
  const std::vector<QStringList>& Rows() const { return m_rows; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  std::vector<ReportColumn> m_columns;
  std::vector<QStringList> m_rows;
};

class CReportList : public QTableView {
  Q_OBJECT
 public:
  // The archive list, the table grid and the backup list.
  static constexpr int kIdArchiveList = 8990, kIdTableGrid = 8995, kIdBackupList = 8997;

  explicit CReportList(int id, QWidget* parent = nullptr);
  int Id() const { return m_id; }
  void SetColumns(std::vector<ReportColumn> columns);
  void SetRows(std::vector<QStringList> rows);
  ReportListModel& Model() { return m_model; }
  const ReportListModel& Model() const { return m_model; }
  int RowCount() const { return m_model.rowCount(); }
  QString Cell(int row, int column) const;

 private:
  int m_id;
  ReportListModel m_model;
};

}  // namespace corvan
