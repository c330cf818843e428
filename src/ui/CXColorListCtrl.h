#pragma once
// A report list with alternating row colours; rows whose third column reads
// "FIXED_LOST" or "FIXED_IMG_LOST" take the lost-text colour. Also paints
// the empty part of the list in row bands.

#include <QRect>
#include <QTableWidget>
#include <cstdint>

namespace corvan {

class CXColorListCtrl : public QTableWidget {
  Q_OBJECT
 public:
  explicit CXColorListCtrl(QWidget* parent = nullptr);

  // Set by the owner before use (COLORREF values).
  std::uint32_t m_crEvenRow = 0xCEE9DD;
  std::uint32_t m_crOddRow = 0xFAF8F6;
  std::uint32_t m_crThird = 0x91C4B1;
  std::uint32_t m_crLostText = 0x966400;

  // Background and text colour of a row (text colour invalid: default).
  QColor RowBackground(int row) const;
  QColor RowTextColour(int row) const;
  static bool IsLostMarker(const QString& columnTwoText);

  // Adds a row with `texts` in its columns; returns its index.
  int AppendRow(const QStringList& texts);

 protected:
  void paintEvent(QPaintEvent* e) override;
};

// Makes `list` a report list of `parent`: control id, geometry, grid lines,
// full-row single selection, no row header.
void CreateReportList(QWidget* parent, int id, const QRect& rect, CXColorListCtrl& list);

}  // namespace corvan
