#include "console/ui/FolderTreeModel.h"

#include <QFont>
#include <QIcon>
#include <algorithm>
#include <map>

#include "ui/ConsoleArt.h"
#include "ui/QtText.h"

namespace corvan {

namespace {
QVariant ToCheckState(std::uint8_t state) {
  switch (state) {
    case kChecked: return Qt::Checked;
    case kMixed: return Qt::PartiallyChecked;
    default: return Qt::Unchecked;
  }
}
}  // namespace

FolderTreeModel::FolderTreeModel(FoundItemStore& store, int view, QObject* parent)
    : QAbstractItemModel(parent), m_store(store), m_nView(view), m_bSorted(view != kViewByType) {
  m_icons[0] = ItemIconPixmap(ItemIcon::Volume);
  m_icons[1] = ItemIconPixmap(ItemIcon::Folder);
  m_icons[2] = ItemIconPixmap(ItemIcon::FolderOpen);
  m_icons[3] = ItemIconPixmap(ItemIcon::DeletedFolder);
  m_icons[4] = ItemIconPixmap(ItemIcon::DeletedFolderOpen);
}

bool FolderTreeModel::Before(FoundItemHandle a, FoundItemHandle b) const {
  if (m_bSorted) {
    const int c = m_nodes.at(a).key.compare(m_nodes.at(b).key);
    if (c != 0) return c < 0;
  }
  return a < b;
}

int FolderTreeModel::RowOf(FoundItemHandle item) const {
  const Node& node = m_nodes.at(item);
  if (node.parent == kNoFoundItem) return 0;
  const auto& siblings = m_nodes.at(node.parent).children;
  const auto it = std::lower_bound(siblings.begin(), siblings.end(), item,
                                   [this](FoundItemHandle x, FoundItemHandle y) { return Before(x, y); });
  return (it != siblings.end() && *it == item) ? static_cast<int>(it - siblings.begin()) : -1;
}

QModelIndex FolderTreeModel::IndexOf(FoundItemHandle folder) const {
  if (!m_nodes.count(folder)) return {};
  const int row = RowOf(folder);
  return row < 0 ? QModelIndex() : createIndex(row, 0, static_cast<quintptr>(folder));
}

FoundItemHandle FolderTreeModel::HandleOf(const QModelIndex& index) const {
  return index.isValid() ? static_cast<FoundItemHandle>(index.internalId()) : kNoFoundItem;
}

void FolderTreeModel::AddEntries(std::vector<TreeEntry> entries, bool signal) {
  // New folders by parent, so each parent's rows are merged in one go and
  // announced as runs of consecutive rows. Parents join before their
  // children, so handling the groups in the order their parents joined
  // (folders known before this batch first) puts every parent in place
  // before its own rows are announced.
  std::unordered_map<FoundItemHandle, std::size_t> joinedAt;
  std::vector<FoundItemHandle> parents;  // in the order of their first new child
  std::unordered_map<FoundItemHandle, std::vector<FoundItemHandle>> byParent;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    TreeEntry& e = entries[i];
    if (m_nodes.count(e.item)) continue;
    if (e.parent != kNoFoundItem && !m_nodes.count(e.parent)) continue;  // parents always join first
    Node node;
    node.parent = e.parent;
    node.text = ToQString(e.name);
    node.key = node.text.toCaseFolded();
    node.deleted = e.deleted;
    if (e.parent == kNoFoundItem) {
      if (signal) beginInsertRows(QModelIndex(), 0, 0);
      m_nodes[e.item] = std::move(node);
      if (signal) endInsertRows();
      continue;
    }
    m_nodes[e.item] = std::move(node);
    joinedAt[e.item] = i + 1;
    auto& group = byParent[e.parent];
    if (group.empty()) parents.push_back(e.parent);
    group.push_back(e.item);
  }
  std::stable_sort(parents.begin(), parents.end(), [&](FoundItemHandle x, FoundItemHandle y) {
    const auto ax = joinedAt.find(x), ay = joinedAt.find(y);
    return (ax == joinedAt.end() ? 0 : ax->second) < (ay == joinedAt.end() ? 0 : ay->second);
  });
  const auto less = [this](FoundItemHandle x, FoundItemHandle y) { return Before(x, y); };
  for (FoundItemHandle parent : parents) {
    auto& added = byParent[parent];
    std::sort(added.begin(), added.end(), less);
    auto& kids = m_nodes[parent].children;
    std::vector<FoundItemHandle> merged;
    merged.reserve(kids.size() + added.size());
    std::merge(kids.begin(), kids.end(), added.begin(), added.end(), std::back_inserter(merged), less);
    if (!signal) {
      kids = std::move(merged);
      continue;
    }
    const QModelIndex parentIndex = IndexOf(parent);
    std::size_t a = 0;
    for (std::size_t i = 0; i < merged.size();) {
      if (a < added.size() && merged[i] == added[a]) {
        std::size_t j = i;
        while (j < merged.size() && a < added.size() && merged[j] == added[a]) ++j, ++a;
        beginInsertRows(parentIndex, static_cast<int>(i), static_cast<int>(j - 1));
        kids.insert(kids.begin() + static_cast<std::ptrdiff_t>(i), merged.begin() + static_cast<std::ptrdiff_t>(i),
                    merged.begin() + static_cast<std::ptrdiff_t>(j));
        endInsertRows();
        i = j;
      } else {
        ++i;
      }
    }
  }
}

void FolderTreeModel::ApplyRename(FoundItemHandle item) {
  auto it = m_nodes.find(item);
  if (it == m_nodes.end()) return;
  const QString text = ToQString(m_store.NameOf(item));
  Node& node = it->second;
  if (node.parent == kNoFoundItem || !m_bSorted) {
    node.text = text;
    node.key = text.toCaseFolded();
    const QModelIndex idx = IndexOf(item);
    emit dataChanged(idx, idx);
    return;
  }
  // A new name may take the folder to another row among its siblings.
  auto& kids = m_nodes[node.parent].children;
  const int from = RowOf(item);
  const QModelIndex parentIndex = IndexOf(node.parent);
  kids.erase(kids.begin() + from);
  node.text = text;
  node.key = text.toCaseFolded();
  const auto less = [this](FoundItemHandle x, FoundItemHandle y) { return Before(x, y); };
  const auto to = static_cast<int>(std::lower_bound(kids.begin(), kids.end(), item, less) - kids.begin());
  kids.insert(kids.begin() + from, item);  // back in place while the move is announced
  if (to != from && beginMoveRows(parentIndex, from, from, parentIndex, to > from ? to + 1 : to)) {
    kids.erase(kids.begin() + from);
    kids.insert(kids.begin() + to, item);
    endMoveRows();
  }
  const QModelIndex idx = IndexOf(item);
  emit dataChanged(idx, idx);
}

void FolderTreeModel::Refresh() {
  const StoreStamp stamp = m_store.Stamp();
  const int tree = m_nView;
  // The filtered tree starts over with each file mask.
  const std::uint64_t filter = m_nView == kViewFiltered ? stamp.filter : 0;
  if (stamp.generation != m_nGeneration || filter != m_nFilter) {
    beginResetModel();
    m_nodes.clear();
    m_nGeneration = stamp.generation;
    m_nFilter = filter;
    m_nRenamesSeen = stamp.renames;
    std::vector<TreeEntry> entries = m_store.TreeEntries(tree, 0);
    m_nJoinsSeen = entries.size();
    AddEntries(std::move(entries), false);
    endResetModel();
    return;
  }
  if (stamp.treeJoins[tree] > m_nJoinsSeen) {
    std::vector<TreeEntry> entries = m_store.TreeEntries(tree, m_nJoinsSeen);
    m_nJoinsSeen += entries.size();
    AddEntries(std::move(entries), true);
  }
  if (stamp.renames > m_nRenamesSeen) {
    for (FoundItemHandle h : m_store.Renames(m_nRenamesSeen)) ApplyRename(h);
    m_nRenamesSeen = stamp.renames;
  }
}

QModelIndex FolderTreeModel::index(int row, int column, const QModelIndex& parent) const {
  if (row < 0 || column != 0) return {};
  if (!parent.isValid()) {
    if (row != 0 || !m_nodes.count(0)) return {};
    return createIndex(0, 0, quintptr{0});
  }
  const auto it = m_nodes.find(HandleOf(parent));
  if (it == m_nodes.end() || row >= static_cast<int>(it->second.children.size())) return {};
  return createIndex(row, 0, static_cast<quintptr>(it->second.children[static_cast<std::size_t>(row)]));
}

QModelIndex FolderTreeModel::parent(const QModelIndex& child) const {
  if (!child.isValid()) return {};
  const auto it = m_nodes.find(HandleOf(child));
  if (it == m_nodes.end() || it->second.parent == kNoFoundItem) return {};
  return IndexOf(it->second.parent);
}

int FolderTreeModel::rowCount(const QModelIndex& parent) const {
  if (!parent.isValid()) return m_nodes.count(0) ? 1 : 0;
  if (parent.column() != 0) return 0;
  const auto it = m_nodes.find(HandleOf(parent));
  return it == m_nodes.end() ? 0 : static_cast<int>(it->second.children.size());
}

int FolderTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant FolderTreeModel::data(const QModelIndex& index, int role) const {
  const auto it = m_nodes.find(HandleOf(index));
  if (it == m_nodes.end()) return {};
  const FoundItemHandle h = it->first;
  const Node& node = it->second;
  const bool root = node.parent == kNoFoundItem;
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
      return root && !m_strRootText.isEmpty() ? m_strRootText : node.text;
    case Qt::DecorationRole: {
      if (root) return QIcon(m_icons[0]);
      QIcon icon(m_icons[node.deleted ? 3 : 1]);
      icon.addPixmap(m_icons[node.deleted ? 4 : 2], QIcon::Selected);
      return icon;
    }
    case Qt::CheckStateRole:
      return ToCheckState(m_store.CheckState(m_nView, h));
    case Qt::FontRole:
      // Top-level items with a nonzero id are drawn bold.
      if (root && m_store.RootId() != 0) {
        QFont f;
        f.setBold(true);
        return f;
      }
      return {};
    case Qt::UserRole:
      return QVariant::fromValue<quint32>(h);
    default:
      return {};
  }
}

bool FolderTreeModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid()) return false;
  if (role == Qt::EditRole) {
    // The new name reaches this tree (and its place among its siblings)
    // through the store's rename feed on the next Refresh.
    if (!m_store.Rename(HandleOf(index), ToUtf16(value.toString()))) return false;
    emit dataChanged(index, index);
    return true;
  }
  if (role != Qt::CheckStateRole) return false;
  if (m_busy && m_busy()) return false;
  emit CheckClicked(HandleOf(index));
  return true;
}

Qt::ItemFlags FolderTreeModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsEditable;
}

}  // namespace corvan
