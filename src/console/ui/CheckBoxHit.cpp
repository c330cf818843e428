#include "console/ui/CheckBoxHit.h"

#include <QAbstractItemView>
#include <QStyle>

namespace corvan {

bool IsOnCheckBox(const QAbstractItemView* view, QStyleOptionViewItem option, const QModelIndex& index,
                  const QPoint& viewportPos) {
  if (!index.isValid() || !(index.flags() & Qt::ItemIsUserCheckable)) return false;
  option.rect = view->visualRect(index);
  option.index = index;
  option.features |= QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDisplay;
  if (index.data(Qt::DecorationRole).isValid()) option.features |= QStyleOptionViewItem::HasDecoration;
  const QRect box = view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, view);
  return box.contains(viewportPos);
}

bool ClickCheckBoxAt(QAbstractItemView* view, const QStyleOptionViewItem& option, const QPoint& viewportPos) {
  const QModelIndex index = view->indexAt(viewportPos);
  if (!IsOnCheckBox(view, option, index, viewportPos)) return false;
  view->model()->setData(index, QVariant(), Qt::CheckStateRole);
  return true;
}

}  // namespace corvan
