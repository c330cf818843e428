#pragma once
// The database pane: the grid of a table's cells, and for a SQL Server data
// file the combo of its user tables ("Select MDF Table:"), sorted by name,
// whose choice shows that table's columns.

#include <QWidget>
#include <vector>

#include "preview/TablePreview.h"
#include "preview/ui/CReportList.h"

class QComboBox;
class QLabel;

namespace corvan {

class CTablePane : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kIdComboCaption = 1267, kIdTableCombo = 1268;

  explicit CTablePane(QWidget* parent = nullptr);
  // A dBASE or CSV grid: the combo and its label are hidden.
  void ShowGrid(const TableGrid& grid);
  // A data file's tables: the combo lists them by name, the first is chosen.
  void ShowMdfTables(std::vector<MdfTable> tables);
  // The columns of the combo's entry `entry` (nothing for an entry out of
  // range: the grid is emptied).
  void FillColumns(int entry);

  CReportList* Grid() const { return m_grid; }
  QComboBox* TableCombo() const { return m_combo; }
  QLabel* ComboLabel() const { return m_label; }

 private:
  QLabel* m_label;
  QComboBox* m_combo;
  CReportList* m_grid;
  std::vector<MdfTable> m_tables;
};

// Converts the core's column descriptions and cells for a report list.
std::vector<ReportColumn> ToReportColumns(const std::vector<TableGrid::Column>& columns);
std::vector<QStringList> ToReportRows(const std::vector<std::vector<std::u16string>>& rows);

}  // namespace corvan
