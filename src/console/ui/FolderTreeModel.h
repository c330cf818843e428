#pragma once
// The folders of one view of the results window as a Qt model over the
// found-item store: the classic tree (folders sorted by name, as the tree
// control sorts them), the File Type List (category and extension folders
// in the order they were made) or the filtered tree the file mask builds
// (sorted like the classic tree). The model learns what joined the
// tree by Refresh(), which the window calls from a timer, so a scan hands
// its items over in batches instead of one notification per item.

#include <QAbstractItemModel>
#include <QPixmap>
#include <QString>
#include <functional>
#include <unordered_map>
#include <vector>

#include "console/FoundItemStore.h"

namespace corvan {

class FolderTreeModel : public QAbstractItemModel {
  Q_OBJECT
 public:
  // `view` 0 classic, 1 File Type List, 2 filtered (empty until a mask runs).
  FolderTreeModel(FoundItemStore& store, int view, QObject* parent = nullptr);

  int View() const { return m_nView; }
  // The text of the root item; the store's root label when empty.
  void SetRootText(const QString& text) { m_strRootText = text; }
  // While it answers true, check-box clicks are refused.
  void SetBusyTest(std::function<bool()> busy) { m_busy = std::move(busy); }

  // Takes in the folders that joined the tree and the renames since the
  // last call; starts over when the store did.
  void Refresh();

  QModelIndex IndexOf(FoundItemHandle folder) const;
  FoundItemHandle HandleOf(const QModelIndex& index) const;
  bool Contains(FoundItemHandle folder) const { return m_nodes.count(folder) != 0; }

  QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& child) const override;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

 signals:
  // The check box of `folder` was clicked (the store is not changed yet).
  void CheckClicked(FoundItemHandle folder);

 private:
  struct Node {
    FoundItemHandle parent = kNoFoundItem;
    std::vector<FoundItemHandle> children;  // in display order
    QString text;
    QString key;  // case-folded text: the sort key of the classic tree
    bool deleted = false;
  };
  bool Before(FoundItemHandle a, FoundItemHandle b) const;
  int RowOf(FoundItemHandle item) const;
  void AddEntries(std::vector<TreeEntry> entries, bool signal);
  void ApplyRename(FoundItemHandle item);

  FoundItemStore& m_store;
  int m_nView;
  bool m_bSorted;
  QString m_strRootText;
  std::function<bool()> m_busy;
  std::unordered_map<FoundItemHandle, Node> m_nodes;
  std::uint64_t m_nGeneration = ~0ull;
  std::uint64_t m_nFilter = 0;
  std::size_t m_nJoinsSeen = 0;
  std::size_t m_nRenamesSeen = 0;
  QPixmap m_icons[5];  // volume, folder, open folder, deleted folder, open deleted folder
};

}  // namespace corvan
