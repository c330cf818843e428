#include "console/ui/FolderListModel.h"

#include <QBrush>
#include <QColor>
#include <algorithm>

#include "core/StringTable.h"
#include "preview/PreviewKinds.h"
#include "ui/ConsoleArt.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {
constexpr unsigned kColumnTitles[] = {247, 128, 139, 314, 315, 316};
}  // namespace

FolderListModel::FolderListModel(FoundItemStore& store, QObject* parent)
    : QAbstractTableModel(parent), m_store(store), m_icons(FileIcons()) {}

std::vector<QPixmap> FolderListModel::FileIcons() {
  std::vector<QPixmap> icons = {ItemIconPixmap(ItemIcon::Folder), ItemIconPixmap(ItemIcon::DeletedFolder),
                                ItemIconPixmap(ItemIcon::File), ItemIconPixmap(ItemIcon::DeletedFile)};
  const auto& keys = IconKeyTable();
  for (std::size_t i = 4; i < keys.size(); ++i) icons.push_back(FileTypeIconPixmap(ToQString(keys[i])));
  return icons;
}

int FolderListModel::IconIndex(int row) const {
  const FoundItemHandle h = HandleAt(row);
  if (h == kNoFoundItem) return -1;
  const FoundItemInfo r = m_store.Record(h);
  return GetFileIconIndex(IconKeyTable(), m_store.NameOf(h), r.attribute, r.IsDeleted());
}

void FolderListModel::ShowFolderContents(int view, FoundItemHandle folder) {
  beginResetModel();
  const StoreStamp stamp = m_store.Stamp();
  m_nGeneration = stamp.generation;
  m_nStructure = stamp.structure;
  m_nView = view;
  m_folder = folder;
  m_rows = folder == kNoFoundItem ? std::vector<FoundItemHandle>{} : m_store.ListOf(view, folder);
  m_nSourceRows = m_rows.size();
  endResetModel();
}

void FolderListModel::Clear() {
  beginResetModel();
  m_folder = kNoFoundItem;
  m_rows.clear();
  m_nSourceRows = 0;
  endResetModel();
}

void FolderListModel::Refresh() {
  if (m_folder == kNoFoundItem) return;
  const StoreStamp stamp = m_store.Stamp();
  if (stamp.generation != m_nGeneration) {
    Clear();
    m_nGeneration = stamp.generation;
    return;
  }
  if (stamp.structure != m_nStructure) {
    ShowFolderContents(m_nView, m_folder);
    return;
  }
  if (m_store.ListCount(m_nView, m_folder) <= m_nSourceRows) return;
  std::vector<FoundItemHandle> all = m_store.ListOf(m_nView, m_folder);
  if (all.size() <= m_nSourceRows) return;
  const int first = static_cast<int>(m_rows.size());
  beginInsertRows(QModelIndex(), first, first + static_cast<int>(all.size() - m_nSourceRows) - 1);
  m_rows.insert(m_rows.end(), all.begin() + static_cast<std::ptrdiff_t>(m_nSourceRows), all.end());
  m_nSourceRows = all.size();
  endInsertRows();
}

FoundItemHandle FolderListModel::HandleAt(int row) const {
  return row >= 0 && row < static_cast<int>(m_rows.size()) ? m_rows[static_cast<std::size_t>(row)] : kNoFoundItem;
}

FoundItemInfo FolderListModel::RecordAt(int row) const {
  const FoundItemHandle h = HandleAt(row);
  return h == kNoFoundItem ? FoundItemInfo{} : m_store.Record(h);
}

int FolderListModel::RowOf(FoundItemHandle item) const {
  const auto it = std::find(m_rows.begin(), m_rows.end(), item);
  return it == m_rows.end() ? -1 : static_cast<int>(it - m_rows.begin());
}

void FolderListModel::SortRows(int column, bool ascending) {
  if (column < 0 || column >= kColumnCount || m_rows.empty()) return;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const QModelIndexList before = persistentIndexList();
  std::vector<FoundItemHandle> moving;
  for (const QModelIndex& i : before) moving.push_back(HandleAt(i.row()));

  const std::vector<StoredItem> items = m_store.Items(m_rows);
  struct Key {
    FoundItemHandle handle;
    QString text;
    std::int64_t number = 0;
  };
  std::vector<Key> keys;
  keys.reserve(items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    const FoundItemInfo& r = items[i].record;
    Key k{m_rows[i], {}, 0};
    switch (column) {
      case kName: k.text = ToQString(items[i].name).toCaseFolded(); break;
      case kType: k.text = ToQString(ItemTypeText(r)).toCaseFolded(); break;
      case kSize: k.number = r.IsFolder() ? 0 : static_cast<std::int64_t>(r.size); break;
      case kModified: k.number = ItemTimeSortValue(r.modifiedTime, m_stampKind); break;
      case kCreated: k.number = ItemTimeSortValue(r.creationTime, m_stampKind); break;
      default: k.number = r.itemId; break;
    }
    keys.push_back(std::move(k));
  }
  const bool byText = column == kName || column == kType;
  std::stable_sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
    const int c = byText ? a.text.compare(b.text) : (a.number < b.number ? -1 : a.number > b.number ? 1 : 0);
    return ascending ? c < 0 : c > 0;
  });
  for (std::size_t i = 0; i < keys.size(); ++i) m_rows[i] = keys[i].handle;

  QModelIndexList after;
  for (std::size_t i = 0; i < moving.size(); ++i) {
    const int row = RowOf(moving[i]);
    after.push_back(row < 0 ? QModelIndex() : index(row, before[static_cast<int>(i)].column()));
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int FolderListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int FolderListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumnCount; }

QString FolderListModel::CellText(int row, int column) const {
  const FoundItemHandle h = HandleAt(row);
  if (h == kNoFoundItem) return {};
  if (column == kName) return ToQString(m_store.NameOf(h));
  const FoundItemInfo r = m_store.Record(h);
  switch (column) {
    case kType: return ToQString(ItemTypeText(r));
    case kSize: return ToQString(ItemSizeText(r));
    case kModified: return ToQString(FormatItemTime(r.modifiedTime, m_stampKind));
    case kCreated: return ToQString(FormatItemTime(r.creationTime, m_stampKind));
    // The File Type List's category and extension folders have made-up ids,
    // no file's.
    case kId: return IsTypeFolder(r) ? QString() : ToQString(ItemIdText(r.itemId));
    default: return {};
  }
}

QVariant FolderListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  const int row = index.row();
  const FoundItemHandle h = HandleAt(row);
  if (h == kNoFoundItem) return {};
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      return CellText(row, index.column());
    case Qt::BackgroundRole:
      return QBrush(FromColorRef(row % 2 == 0 ? kEvenRowColour : kOddRowColour));
    case Qt::ForegroundRole: {
      const auto colour = TypeTextColour(ItemTypeText(m_store.Record(h)));
      return colour ? QVariant(QBrush(FromColorRef(*colour))) : QVariant();
    }
    case Qt::TextAlignmentRole:
      return index.column() >= kSize ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                                     : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    case Qt::DecorationRole: {
      if (index.column() != kName) return {};
      const int icon = IconIndex(index.row());
      return icon >= 0 && icon < static_cast<int>(m_icons.size()) ? m_icons[static_cast<std::size_t>(icon)] : QPixmap();
    }
    case Qt::CheckStateRole: {
      if (index.column() != kName) return {};
      switch (m_store.CheckState(m_nView, h)) {
        case kChecked: return Qt::Checked;
        case kMixed: return Qt::PartiallyChecked;
        default: return Qt::Unchecked;
      }
    }
    case Qt::UserRole:
      return QVariant::fromValue<quint32>(h);
    default:
      return {};
  }
}

QVariant FolderListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) return {};
  if (role == Qt::DisplayRole) return ToQString(LoadString(kColumnTitles[section]));
  if (role == Qt::TextAlignmentRole)
    return section >= kSize ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
  return {};
}

bool FolderListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || index.column() != kName) return false;
  if (role == Qt::EditRole) {
    if (!m_store.Rename(HandleAt(index.row()), ToUtf16(value.toString()))) return false;
    emit dataChanged(index, index);
    return true;
  }
  if (role != Qt::CheckStateRole) return false;
  if (m_busy && m_busy()) return false;
  emit CheckClicked(HandleAt(index.row()));
  return true;
}

Qt::ItemFlags FolderListModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (index.column() == kName) f |= Qt::ItemIsUserCheckable | Qt::ItemIsEditable;
  return f;
}

}  // namespace corvan
