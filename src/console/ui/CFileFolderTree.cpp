#include "console/ui/CFileFolderTree.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>

#include "console/ui/CheckBoxHit.h"
#include "console/ui/FolderTreeModel.h"
#include "ui/DialogLayout.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {
constexpr int kIdRename = 32771, kIdRecover = 32772, kIdShowAsHex = 32773;
}  // namespace

CFileFolderTree::CFileFolderTree(FoundItemStore& store, int view, int id, QWidget* parent)
    : QTreeView(parent), m_pModel(new FolderTreeModel(store, view, this)) {
  SetDlgCtrlId(this, id);
  setModel(m_pModel);
  setHeaderHidden(true);
  setUniformRowHeights(true);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setExpandsOnDoubleClick(true);
  setFont(ArialFont(14));
  QPalette pal = palette();
  pal.setColor(QPalette::Base, SharedBrushColour(kBrushEdit));
  setPalette(pal);
  // Rows that join a folder during a scan are announced in batches; the
  // tree takes them without scrolling away from what the user looks at.
  setAutoScroll(false);
}

int CFileFolderTree::View() const { return m_pModel->View(); }

void CFileFolderTree::SetBusyTest(std::function<bool()> busy) {
  m_busy = busy;
  m_pModel->SetBusyTest(std::move(busy));
}

FoundItemHandle CFileFolderTree::CurrentFolder() const { return m_pModel->HandleOf(currentIndex()); }

bool CFileFolderTree::ClickCheckBox(const QPoint& pos) {
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  return ClickCheckBoxAt(this, option, pos);
}

void CFileFolderTree::mousePressEvent(QMouseEvent* e) {
  if (Busy()) return e->accept();
  if (e->button() == Qt::LeftButton && ClickCheckBox(e->position().toPoint())) {
    // A check-box click gets no selection and no expansion.
    m_bSwallowRelease = true;
    return e->accept();
  }
  const QModelIndex index = indexAt(e->position().toPoint());
  if (e->button() == Qt::LeftButton && index.isValid()) {
    for (int r = 0; r < m_pModel->rowCount(index); ++r) collapse(m_pModel->index(r, 0, index));
  }
  QTreeView::mousePressEvent(e);
}

void CFileFolderTree::mouseReleaseEvent(QMouseEvent* e) {
  if (m_bSwallowRelease || Busy()) {
    m_bSwallowRelease = false;
    return e->accept();
  }
  QTreeView::mouseReleaseEvent(e);
}

void CFileFolderTree::mouseDoubleClickEvent(QMouseEvent* e) {
  if (Busy()) return e->accept();
  if (e->button() == Qt::LeftButton && ClickCheckBox(e->position().toPoint())) {
    m_bSwallowRelease = true;
    return e->accept();
  }
  QTreeView::mouseDoubleClickEvent(e);
}

void CFileFolderTree::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
  QTreeView::currentChanged(current, previous);
  if (current.isValid()) emit FolderSelected(m_pModel->HandleOf(current));
}

bool CFileFolderTree::SelectFolderRecord(FoundItemHandle folder) {
  const QModelIndex index = m_pModel->IndexOf(folder);
  if (!index.isValid()) return false;
  for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) expand(up);
  expand(index);
  setCurrentIndex(index);
  scrollTo(index);
  return true;
}

bool CFileFolderTree::OpenChildFolder(FoundItemHandle folder) {
  const QModelIndex index = m_pModel->IndexOf(folder);
  if (!index.isValid()) return false;
  for (int r = 0; r < m_pModel->rowCount(index); ++r) collapse(m_pModel->index(r, 0, index));
  return SelectFolderRecord(folder);
}

void CFileFolderTree::CollapseAllAndSelectCurrent() {
  const QModelIndex root = m_pModel->index(0, 0);
  if (!root.isValid()) return;
  for (int r = 0; r < m_pModel->rowCount(root); ++r) collapse(m_pModel->index(r, 0, root));
  collapse(root);
  expand(root);
  if (currentIndex() == root) emit FolderSelected(m_pModel->HandleOf(root));
  else setCurrentIndex(root);
}

QMenu* CFileFolderTree::ContextMenuFor(FoundItemHandle folder) {
  delete m_menu;
  m_menu = new QMenu(this);
  const QModelIndex index = m_pModel->IndexOf(folder);
  QAction* rename = m_menu->addAction(QStringLiteral("  Rename"));
  rename->setData(kIdRename);
  // Roots are not renamed: their text names the volume or the view.
  rename->setEnabled(index.isValid() && index.parent().isValid() && !Busy());
  connect(rename, &QAction::triggered, this, [this, folder] {
    const QModelIndex at = m_pModel->IndexOf(folder);
    if (at.isValid()) edit(at);
  });
  QAction* recover = m_menu->addAction(QStringLiteral("  Recover"));
  recover->setData(kIdRecover);
  recover->setEnabled(false);
  QAction* hex = m_menu->addAction(QStringLiteral("  Show As Hex"));
  hex->setData(kIdShowAsHex);
  hex->setEnabled(false);
  return m_menu;
}

void CFileFolderTree::contextMenuEvent(QContextMenuEvent* e) {
  const QModelIndex index = indexAt(e->pos());
  if (!index.isValid()) return;
  ContextMenuFor(m_pModel->HandleOf(index))->popup(e->globalPos());
}

}  // namespace corvan
