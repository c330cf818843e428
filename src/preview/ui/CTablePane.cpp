#include "preview/ui/CTablePane.h"

#include <QComboBox>
#include <algorithm>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/DialogLayout.h"
#include "ui/QtText.h"

namespace corvan {

std::vector<ReportColumn> ToReportColumns(const std::vector<TableGrid::Column>& columns) {
  std::vector<ReportColumn> out;
  out.reserve(columns.size());
  for (const auto& c : columns) out.push_back({ToQString(c.heading), c.width, c.rightAligned});
  return out;
}

std::vector<QStringList> ToReportRows(const std::vector<std::vector<std::u16string>>& rows) {
  std::vector<QStringList> out;
  out.reserve(rows.size());
  for (const auto& r : rows) {
    QStringList cells;
    cells.reserve(static_cast<qsizetype>(r.size()));
    for (const auto& c : r) cells.push_back(ToQString(c));
    out.push_back(std::move(cells));
  }
  return out;
}

CTablePane::CTablePane(QWidget* parent)
    : QWidget(parent),
      m_label(new QLabel(QStringLiteral("Select MDF Table:"), this)),
      m_combo(new QComboBox(this)),
      m_grid(new CReportList(CReportList::kIdTableGrid, this)) {
  SetDlgCtrlId(m_label, kIdComboCaption);
  SetDlgCtrlId(m_combo, kIdTableCombo);
  m_combo->setMinimumWidth(200);
  auto* top = new QHBoxLayout;
  top->setContentsMargins(4, 4, 4, 4);
  top->addWidget(m_label);
  top->addWidget(m_combo);
  top->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addLayout(top);
  layout->addWidget(m_grid, 1);
  m_label->hide();
  m_combo->hide();
  connect(m_combo, &QComboBox::currentIndexChanged, this, &CTablePane::FillColumns);
}

void CTablePane::ShowGrid(const TableGrid& grid) {
  m_label->hide();
  m_combo->hide();
  m_grid->SetColumns(ToReportColumns(grid.columns));
  m_grid->SetRows(ToReportRows(grid.rows));
}

void CTablePane::ShowMdfTables(std::vector<MdfTable> tables) {
  m_tables = std::move(tables);
  m_grid->SetColumns(ToReportColumns(MdfGridColumns()));
  const QSignalBlocker quiet(m_combo);
  m_combo->clear();
  // The combo sorts its entries by name; each remembers its table.
  std::vector<int> order(m_tables.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
    return ToQString(m_tables[static_cast<std::size_t>(a)].name)
               .compare(ToQString(m_tables[static_cast<std::size_t>(b)].name), Qt::CaseInsensitive) < 0;
  });
  for (int i : order) m_combo->addItem(ToQString(m_tables[static_cast<std::size_t>(i)].name), i);
  m_label->show();
  m_combo->show();
  m_combo->setCurrentIndex(m_tables.empty() ? -1 : 0);
  FillColumns(m_combo->currentIndex());
}

void CTablePane::FillColumns(int entry) {
  if (entry < 0 || entry >= m_combo->count()) {
    m_grid->SetRows({});
    return;
  }
  const int table = m_combo->itemData(entry).toInt();
  if (table < 0 || table >= static_cast<int>(m_tables.size())) {
    m_grid->SetRows({});
    return;
  }
  m_grid->SetRows(ToReportRows(MdfColumnsGrid(m_tables[static_cast<std::size_t>(table)]).rows));
}

}  // namespace corvan
