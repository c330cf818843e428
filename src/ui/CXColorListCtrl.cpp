#include "ui/CXColorListCtrl.h"

#include <QHeaderView>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>

#include "ui/DialogLayout.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {

class RowColourDelegate : public QStyledItemDelegate {
 public:
  explicit RowColourDelegate(CXColorListCtrl* list) : QStyledItemDelegate(list), list_(list) {}

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    if (!(opt.state & QStyle::State_Selected)) {
      painter->fillRect(opt.rect, list_->RowBackground(index.row()));
      const QColor text = list_->RowTextColour(index.row());
      if (text.isValid()) opt.palette.setColor(QPalette::Text, text);
    }
    opt.backgroundBrush = Qt::NoBrush;
    const QWidget* w = opt.widget;
    QStyle* style = w ? w->style() : nullptr;
    if (style) style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, w);
  }

 private:
  CXColorListCtrl* list_;
};

}  // namespace

CXColorListCtrl::CXColorListCtrl(QWidget* parent) : QTableWidget(parent) {
  setItemDelegate(new RowColourDelegate(this));
}

bool CXColorListCtrl::IsLostMarker(const QString& text) {
  return text == QLatin1String("FIXED_LOST") || text == QLatin1String("FIXED_IMG_LOST");
}

QColor CXColorListCtrl::RowBackground(int row) const {
  return FromColorRef((row % 2 == 0) ? m_crEvenRow : m_crOddRow);
}

QColor CXColorListCtrl::RowTextColour(int row) const {
  const QTableWidgetItem* marker = (row >= 0 && row < rowCount()) ? item(row, 2) : nullptr;
  return (marker && IsLostMarker(marker->text())) ? FromColorRef(m_crLostText) : QColor();
}

int CXColorListCtrl::AppendRow(const QStringList& texts) {
  const int row = rowCount();
  insertRow(row);
  for (int c = 0; c < texts.size() && c < columnCount(); ++c) {
    auto* it = new QTableWidgetItem(texts[c]);
    it->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    setItem(row, c, it);
  }
  return row;
}

void CXColorListCtrl::paintEvent(QPaintEvent* e) {
  {
    // The rows and, below them, the empty part in bands of the row height.
    QPainter p(viewport());
    const QRect client = viewport()->rect();
    p.fillRect(client, FromColorRef(m_crOddRow));
    const int bandHeight = verticalHeader()->defaultSectionSize();
    const int first = rowCount() > 0 ? qMax(0, rowAt(0)) : 0;
    int y = rowCount() > 0 ? rowViewportPosition(first) : 0;
    for (int i = first; y < client.height() && bandHeight > 0; ++i) {
      const int h = (i < rowCount()) ? rowHeight(i) : bandHeight;
      p.fillRect(QRect(0, y, client.width(), h), FromColorRef(i % 2 == 0 ? m_crEvenRow : m_crOddRow));
      y += h;
    }
  }
  QTableWidget::paintEvent(e);
}

void CreateReportList(QWidget* parent, int id, const QRect& rect, CXColorListCtrl& list) {
  list.setParent(parent);
  SetDlgCtrlId(&list, id);
  list.setGeometry(rect);
  list.setShowGrid(true);
  list.setSelectionBehavior(QAbstractItemView::SelectRows);
  list.setSelectionMode(QAbstractItemView::SingleSelection);
  list.setEditTriggers(QAbstractItemView::NoEditTriggers);
  list.verticalHeader()->setVisible(false);
  list.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  list.horizontalHeader()->setHighlightSections(false);
  list.setWordWrap(false);
  list.show();
}

}  // namespace corvan
