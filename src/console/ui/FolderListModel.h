#pragma once
// The contents of one folder of one view as a six-column Qt model over the
// found-item store: name (with its check box and icon), type, size, the two
// dates and the id. Rows that reach the store for the shown folder during a
// scan are appended by Refresh().

#include <QAbstractTableModel>
#include <QPixmap>
#include <functional>
#include <vector>

#include "console/FoundItemStore.h"
#include "console/ItemTexts.h"

namespace corvan {

class FolderListModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column { kName = 0, kType, kSize, kModified, kCreated, kId, kColumnCount };
  // Row backgrounds (COLORREF): even rows (0, 2, ...) and odd rows.
  static constexpr std::uint32_t kEvenRowColour = 0xFAF8F6;
  static constexpr std::uint32_t kOddRowColour = 0xCEE9DD;

  explicit FolderListModel(FoundItemStore& store, QObject* parent = nullptr);

  void SetStampKind(StampKind kind) { m_stampKind = kind; }
  StampKind GetStampKind() const { return m_stampKind; }
  void SetBusyTest(std::function<bool()> busy) { m_busy = std::move(busy); }

  // Fills the list with the items of `folder` in `view`.
  void ShowFolderContents(int view, FoundItemHandle folder);
  void Clear();
  // Appends rows that arrived for the shown folder; refills after the store
  // started over or moved items.
  void Refresh();

  int View() const { return m_nView; }
  FoundItemHandle Folder() const { return m_folder; }
  FoundItemHandle HandleAt(int row) const;
  FoundItemInfo RecordAt(int row) const;
  int RowOf(FoundItemHandle item) const;

  // Sorts by `column`: names and types by text without regard to case,
  // sizes and ids by value, dates by their stored value.
  void SortRows(int column, bool ascending);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // The text of one cell, as shown.
  QString CellText(int row, int column) const;
  // The icon of a row: its position in the application's icon key table
  // (0 folder, 1 deleted folder, 2 a file of no listed kind, 3 deleted file).
  int IconIndex(int row) const;
  // The icons by icon index, in the order of the icon key table.
  static std::vector<QPixmap> FileIcons();

 signals:
  // The check box of row `item` was clicked (the store is not changed yet).
  void CheckClicked(FoundItemHandle item);

 private:
  FoundItemStore& m_store;
  StampKind m_stampKind = StampKind::Ntfs;
  std::function<bool()> m_busy;
  int m_nView = 0;
  FoundItemHandle m_folder = kNoFoundItem;
  std::vector<FoundItemHandle> m_rows;
  std::size_t m_nSourceRows = 0;  // rows of the folder taken from the store so far
  std::uint64_t m_nGeneration = 0;
  std::uint64_t m_nStructure = 0;
  // By icon index: folder, deleted folder, file, deleted file, then one per
  // icon key of the table.
  std::vector<QPixmap> m_icons;
};

}  // namespace corvan
