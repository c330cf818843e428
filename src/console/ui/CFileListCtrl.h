#pragma once
// The folder-contents list of the results window: one row per item of the
// folder selected in the current view, with a check box, in alternating
// row colours; compressed files in blue, encrypted ones in green. A header
// click sorts (the first click on a column sorts descending), Enter or a
// double click opens a folder row, and the context menu renames a row or
// recovers it.

#include <QPointer>
#include <QTableView>
#include <functional>

#include "console/FoundItemStore.h"

class QMenu;

namespace corvan {

class FolderListModel;

class CFileListCtrl : public QTableView {
  Q_OBJECT
 public:
  CFileListCtrl(FoundItemStore& store, QWidget* parent = nullptr);

  FolderListModel* Model() const { return m_pModel; }
  void SetBusyTest(std::function<bool()> busy);
  // Whether results exist (the sort arrow is shown only then).
  void SetResultsTest(std::function<bool()> results) { m_results = std::move(results); }

  int SortColumn() const { return m_nSortColumn; }
  // A header click on `column` (left button).
  void OnHeaderClick(int column);
  QMenu* ContextMenuFor(int row);

 signals:
  // Enter or a double click on a folder row.
  void OpenFolder(FoundItemHandle folder);
  // "Recover" of the context menu on `item`.
  void RecoverItem(FoundItemHandle item);
  // "Show As Hex" of the context menu on `item`.
  void ShowAsHex(FoundItemHandle item);

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void paintEvent(QPaintEvent* e) override;

 private:
  void ForgetSort();
  bool Busy() const { return m_busy && m_busy(); }
  bool ClickCheckBox(const QPoint& pos);
  bool IsFolderRow(int row) const;

  FolderListModel* m_pModel;
  std::function<bool()> m_busy;
  std::function<bool()> m_results;
  int m_nSortColumn = -1;
  bool m_bSwallowRelease = false;
  QPointer<QMenu> m_menu;
};

}  // namespace corvan
