#include "console/ui/CFileListCtrl.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include "app/CORVANApp.h"
#include "console/ui/CheckBoxHit.h"
#include "console/ui/FolderListModel.h"
#include "ui/DialogLayout.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {
constexpr int kIdList = 1036;
constexpr int kIdRename = 32771, kIdRecover = 32772, kIdShowAsHex = 32773;
constexpr int kColumnWidths[] = {180, 70, 100, 120, 120, 100};
}  // namespace

CFileListCtrl::CFileListCtrl(FoundItemStore& store, QWidget* parent)
    : QTableView(parent), m_pModel(new FolderListModel(store, this)) {
  SetDlgCtrlId(this, kIdList);
  setModel(m_pModel);
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  setFont(ArialFont(12));
  verticalHeader()->setVisible(false);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(20);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->setSectionsClickable(true);
  for (int c = 0; c < FolderListModel::kColumnCount; ++c) setColumnWidth(c, kColumnWidths[c]);
  connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &CFileListCtrl::OnHeaderClick);
  // Rows of another folder, or rows that arrive, are in the store's order:
  // the arrow goes, and the next click on any column sorts descending.
  connect(m_pModel, &QAbstractItemModel::modelReset, this, &CFileListCtrl::ForgetSort);
  connect(m_pModel, &QAbstractItemModel::rowsInserted, this, &CFileListCtrl::ForgetSort);
}

void CFileListCtrl::ForgetSort() {
  m_nSortColumn = -1;
  horizontalHeader()->setSortIndicatorShown(false);
}

void CFileListCtrl::SetBusyTest(std::function<bool()> busy) {
  m_busy = busy;
  m_pModel->SetBusyTest(std::move(busy));
}

bool CFileListCtrl::IsFolderRow(int row) const {
  return m_pModel->HandleAt(row) != kNoFoundItem && IsFolderRecord(m_pModel->RecordAt(row));
}

void CFileListCtrl::OnHeaderClick(int column) {
  if (column < 0 || column >= FolderListModel::kColumnCount) return;
  CORVANApp& app = App();
  // The first click on a column sorts descending, the next one ascending.
  if (column == m_nSortColumn) app.m_bSortAscending = app.m_bSortAscending ? 0 : 1;
  else app.m_bSortAscending = 0;
  m_nSortColumn = column;
  const bool ascending = app.m_bSortAscending != 0;
  if (!m_results || m_results()) {
    horizontalHeader()->setSortIndicatorShown(true);
    horizontalHeader()->setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
  } else {
    horizontalHeader()->setSortIndicatorShown(false);
  }
  m_pModel->SortRows(column, ascending);
}

bool CFileListCtrl::ClickCheckBox(const QPoint& pos) {
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  return ClickCheckBoxAt(this, option, pos);
}

void CFileListCtrl::mousePressEvent(QMouseEvent* e) {
  // While a worker runs, a check-box click does nothing; a click elsewhere
  // still selects.
  if (e->button() == Qt::LeftButton && !Busy() && ClickCheckBox(e->position().toPoint())) {
    m_bSwallowRelease = true;
    return e->accept();
  }
  QTableView::mousePressEvent(e);
}

void CFileListCtrl::mouseReleaseEvent(QMouseEvent* e) {
  if (m_bSwallowRelease) {
    m_bSwallowRelease = false;
    return e->accept();
  }
  QTableView::mouseReleaseEvent(e);
}

void CFileListCtrl::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && !Busy() && ClickCheckBox(e->position().toPoint())) {
    m_bSwallowRelease = true;
    return e->accept();
  }
  const QModelIndex index = indexAt(e->position().toPoint());
  if (index.isValid() && IsFolderRow(index.row())) {
    emit OpenFolder(m_pModel->HandleAt(index.row()));
    return e->accept();
  }
  QTableView::mouseDoubleClickEvent(e);
}

void CFileListCtrl::keyPressEvent(QKeyEvent* e) {
  if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && currentIndex().isValid() &&
      IsFolderRow(currentIndex().row())) {
    emit OpenFolder(m_pModel->HandleAt(currentIndex().row()));
    return e->accept();
  }
  QTableView::keyPressEvent(e);
}

QMenu* CFileListCtrl::ContextMenuFor(int row) {
  delete m_menu;
  m_menu = new QMenu(this);
  const FoundItemHandle item = m_pModel->HandleAt(row);
  QAction* rename = m_menu->addAction(QStringLiteral("  Rename"));
  rename->setData(kIdRename);
  connect(rename, &QAction::triggered, this, [this, item] {
    const int at = m_pModel->RowOf(item);
    if (at >= 0) edit(m_pModel->index(at, FolderListModel::kName));
  });
  QAction* recover = m_menu->addAction(QStringLiteral("  Recover"));
  recover->setData(kIdRecover);
  recover->setEnabled(!Busy());
  connect(recover, &QAction::triggered, this, [this, item] { emit RecoverItem(item); });
  QAction* hex = m_menu->addAction(QStringLiteral("  Show As Hex"));
  hex->setData(kIdShowAsHex);
  hex->setEnabled(!Busy());
  connect(hex, &QAction::triggered, this, [this, item] { emit ShowAsHex(item); });
  return m_menu;
}

void CFileListCtrl::contextMenuEvent(QContextMenuEvent* e) {
  const QModelIndex index = indexAt(e->pos());
  if (!index.isValid()) return;
  ContextMenuFor(index.row())->popup(e->globalPos());
}

void CFileListCtrl::paintEvent(QPaintEvent* e) {
  {
    // Below the rows the list goes on in bands of the row colours.
    QPainter p(viewport());
    const QRect client = viewport()->rect();
    p.fillRect(client, FromColorRef(FolderListModel::kOddRowColour));
    const int band = verticalHeader()->defaultSectionSize();
    const int rows = m_pModel->rowCount();
    const int first = rows > 0 ? qMax(0, rowAt(0)) : 0;
    int y = rows > 0 ? rowViewportPosition(first) : 0;
    for (int i = first; y < client.height() && band > 0; ++i) {
      p.fillRect(QRect(0, y, client.width(), band),
                 FromColorRef(i % 2 == 0 ? FolderListModel::kEvenRowColour : FolderListModel::kOddRowColour));
      y += band;
    }
  }
  QTableView::paintEvent(e);
}

}  // namespace corvan
