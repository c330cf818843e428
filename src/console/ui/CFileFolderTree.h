#pragma once
// One of the results window's three trees: the folders of its view with
// three-state check boxes. A click on a check box checks or unchecks the
// folder with everything in it (and nothing else happens: no selection); a
// click elsewhere selects the folder, whose contents the list then shows.

#include <QPointer>
#include <QTreeView>
#include <functional>

#include "console/FoundItemStore.h"

class QMenu;

namespace corvan {

class FolderTreeModel;

class CFileFolderTree : public QTreeView {
  Q_OBJECT
 public:
  CFileFolderTree(FoundItemStore& store, int view, int id, QWidget* parent = nullptr);

  FolderTreeModel* Model() const { return m_pModel; }
  int View() const;
  // While it answers true, clicks are ignored.
  void SetBusyTest(std::function<bool()> busy);

  FoundItemHandle CurrentFolder() const;
  // Expands the way to `folder` and selects it; false when it is not in
  // this tree.
  bool SelectFolderRecord(FoundItemHandle folder);
  // A folder row opened in the list: the folder is expanded and selected.
  bool OpenChildFolder(FoundItemHandle folder);
  // After a pass: every child of the root collapsed, the root expanded and
  // selected.
  void CollapseAllAndSelectCurrent();
  // The context menu as it would open on `folder` (for tests and render).
  QMenu* ContextMenuFor(FoundItemHandle folder);

 signals:
  // The selected folder changed: the list shows its contents.
  void FolderSelected(FoundItemHandle folder);

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

 private:
  bool Busy() const { return m_busy && m_busy(); }
  bool ClickCheckBox(const QPoint& pos);

  FolderTreeModel* m_pModel;
  std::function<bool()> m_busy;
  bool m_bSwallowRelease = false;
  QPointer<QMenu> m_menu;
};

}  // namespace corvan
