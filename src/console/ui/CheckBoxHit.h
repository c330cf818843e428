#pragma once
// Where an item view draws an item's check box, so the trees and the list
// can act on a click exactly on it (and on nothing else).

#include <QModelIndex>
#include <QPoint>
#include <QStyleOptionViewItem>

class QAbstractItemView;

namespace corvan {

// `option` comes from the view's initViewItemOption.
bool IsOnCheckBox(const QAbstractItemView* view, QStyleOptionViewItem option, const QModelIndex& index,
                  const QPoint& viewportPos);

// When `viewportPos` lies on a check box of `view`, hands the click to the
// model (setData with Qt::CheckStateRole) and answers true.
bool ClickCheckBoxAt(QAbstractItemView* view, const QStyleOptionViewItem& option, const QPoint& viewportPos);

}  // namespace corvan
