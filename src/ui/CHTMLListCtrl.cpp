#include "ui/CHTMLListCtrl.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include "ui/DialogLayout.h"
#include "ui/MarkupText.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {
constexpr int kCheckBoxSpace = 16;
constexpr QRgb kPenColour = RgbFromColorRef(0xC8C8C8);
}  // namespace

CHTMLListCtrl::CHTMLListCtrl(QWidget* parent) : QAbstractScrollArea(parent) {
  m_font = QFont(QStringLiteral("Verdana"));
  m_font.setPixelSize(16);
  setFont(m_font);
  setFocusPolicy(Qt::StrongFocus);
  setFrameShape(QFrame::Box);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  verticalScrollBar()->setSingleStep(50);
  m_checkImages[0] = LoadBitmapResource(174);
  m_checkImages[1] = LoadBitmapResource(171);
  SetDlgCtrlId(this, kControlId);
}

CHTMLListCtrl::~CHTMLListCtrl() = default;

bool CHTMLListCtrl::Create(const QRect& rect, QWidget* parent) {
  setParent(parent);
  SetDlgCtrlId(this, kControlId);
  m_nControlId = kControlId;
  setGeometry(rect);
  m_nTotalHeight = 0;
  UpdateScrollRange();
  show();
  return true;
}

const HTMLLIST_ITEM* CHTMLListCtrl::GetItem(int index) const {
  return (index >= 0 && index < GetItemCount()) ? m_items[static_cast<std::size_t>(index)].get() : nullptr;
}

void CHTMLListCtrl::SetItemValue(int index, std::uint32_t value) {
  if (index >= 0 && index < GetItemCount()) m_items[static_cast<std::size_t>(index)]->nValue = value;
}

bool CHTMLListCtrl::HasIcon(const HTMLLIST_ITEM& item) const {
  return (m_nStyle & kStyleIcons) && m_pImageList && item.dwData < static_cast<std::uint32_t>(m_pImageList->size()) &&
         !m_pImageList->at(static_cast<qsizetype>(item.dwData)).isNull();
}

int CHTMLListCtrl::MeasureItem(const HTMLLIST_ITEM& item) const {
  int width = viewport()->width() - (HasCheckBoxes() ? 24 : 5);
  if (HasIcon(item)) width -= m_pImageList->at(static_cast<qsizetype>(item.dwData)).width() + 10;
  width = std::max(width, 1);
  int textHeight = 0;
  if (item.nFormat == kMarkupText) {
    QImage scratch(1, 1, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&scratch);
    p.setFont(m_font);
    QRect r(0, 0, width, 0);
    DrawMarkupText(&p, ToUtf16(item.strText), &r, kDtWordBreak | kDtCalcRect);
    textHeight = r.height();
  } else if (item.nFormat == kPathText) {
    textHeight = QFontMetrics(m_font).height();
  } else {
    textHeight = QFontMetrics(m_font).boundingRect(QRect(0, 0, width, 100000), Qt::TextWordWrap, item.strText).height();
  }
  return textHeight + 10;
}

int CHTMLListCtrl::InsertItem(const QString& text, unsigned format, std::uint32_t data, unsigned height,
                              unsigned kind) {
  auto item = std::make_unique<HTMLLIST_ITEM>();
  item->nIndex = GetItemCount();
  item->nFormat = static_cast<int>(format);
  item->nKind = static_cast<int>(kind);
  item->strText = text;
  item->dwData = data;
  if (kind == 5) m_bHasCheckBoxes = true;
  if (height == 0) {
    item->nHeight = MeasureItem(*item);
  } else {
    item->nHeight = static_cast<int>(height);
    item->bHeightGiven = true;
  }
  m_nTotalHeight += item->nHeight;
  m_items.push_back(std::move(item));
  UpdateScrollRange();
  return GetItemCount() - 1;
}

void CHTMLListCtrl::Relayout() {
  m_nTotalHeight = 0;
  int index = 0;
  for (auto& item : m_items) {
    item->nIndex = index++;
    if (!item->bHeightGiven) item->nHeight = MeasureItem(*item);
    m_nTotalHeight += item->nHeight;
  }
}

void CHTMLListCtrl::UpdateScrollRange() {
  QScrollBar* bar = verticalScrollBar();
  const int page = viewport()->height();
  bar->setPageStep(std::max(page, 1));
  bar->setRange(0, std::max(0, m_nTotalHeight - page));
}

void CHTMLListCtrl::UpdateScrollBar() {
  m_nStyle = kStyleEdges | kStyleIcons;
  Relayout();
  UpdateScrollRange();
  viewport()->update();
}

void CHTMLListCtrl::DeleteAllItems() {
  m_items.clear();
  m_nTotalHeight = 0;
  m_nSelected = -1;
  UpdateScrollRange();
  viewport()->update();
}

QRect CHTMLListCtrl::GetItemRect(int index) const {
  const HTMLLIST_ITEM* item = GetItem(index);
  return item ? item->rcItem : QRect();
}

int CHTMLListCtrl::ScrollPos() const { return verticalScrollBar()->value(); }

QRect CHTMLListCtrl::CheckBoxRect(const QRect& r) const {
  const int middle = r.top() + r.height() / 2;
  return QRect(QPoint(r.left() + 3, middle - 8), QPoint(r.left() + 18, middle + 7));
}

void CHTMLListCtrl::DrawItem(QPainter& p, const QRect& rect, HTMLLIST_ITEM& item, bool selected, bool emphasised) {
  p.fillRect(rect, FromColorRef(selected ? kSelectionColour : emphasised ? kEmphasisColour : kItemColour));
  if (m_nStyle & kStyleEdges) {
    p.setPen(QColor::fromRgb(kPenColour));
    p.drawLine(rect.topLeft(), rect.bottomLeft());
    p.drawLine(rect.topLeft(), rect.topRight());
    p.drawLine(rect.bottomLeft(), rect.bottomRight());
  }
  QRect content = rect;
  if (HasCheckBoxes()) {
    const QPixmap& box = m_checkImages[item.bChecked ? 1 : 0];
    if (!box.isNull()) p.drawPixmap(CheckBoxRect(rect), box);
    content.setLeft(content.left() + kCheckBoxSpace);
  }
  int textLeft = content.left();
  if (HasIcon(item)) {
    const QPixmap& icon = m_pImageList->at(static_cast<qsizetype>(item.dwData));
    p.drawPixmap(content.left() + 5, content.top() + (content.height() - icon.height()) / 2, icon);
    textLeft += icon.width() + 10;
  }
  textLeft = (HasCheckBoxes() ? textLeft - kCheckBoxSpace + 21 : textLeft + 5);
  QRect textRect(textLeft, rect.top() + (item.bHeightGiven ? 0 : 5), rect.right() - textLeft - 4, rect.height());
  p.setFont(m_font);
  p.setPen(palette().color(QPalette::Text));
  if (item.nFormat == kMarkupText) {
    DrawMarkupText(&p, ToUtf16(item.strText), &textRect, kDtWordBreak);
  } else if (item.nFormat == kPathText) {
    const QString shown = QFontMetrics(m_font).elidedText(item.strText, Qt::ElideMiddle, textRect.width());
    p.drawText(QRect(textRect.left(), rect.top(), textRect.width(), rect.height()),
               Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);
  } else {
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, item.strText);
  }
  if (m_bHasFocus && selected) {
    p.setPen(QPen(palette().color(QPalette::Text), 1, Qt::DotLine));
    p.drawRect(rect.adjusted(1, 1, -2, -2));
  }
}

void CHTMLListCtrl::PlaceItems() {
  int y = -ScrollPos();
  const int width = viewport()->width();
  for (auto& item : m_items) {
    item->rcItem = QRect(0, y, width, item->nHeight);
    y += item->nHeight;
  }
}

void CHTMLListCtrl::paintEvent(QPaintEvent*) {
  QPainter p(viewport());
  p.fillRect(viewport()->rect(), FromColorRef(kItemColour));
  PlaceItems();
  for (auto& item : m_items) {
    const QRect r = item->rcItem;
    const bool selected = item->nIndex == m_nSelected;
    const bool emphasised = selected ? item->nKind == 4 : (item->nKind >= 2 && item->nKind <= 4);
    if (r.bottom() >= 0 && r.top() < viewport()->height()) DrawItem(p, r, *item, selected, emphasised);
  }
}

void CHTMLListCtrl::resizeEvent(QResizeEvent* e) {
  QAbstractScrollArea::resizeEvent(e);
  Relayout();
  UpdateScrollRange();
  viewport()->update();
}

void CHTMLListCtrl::SendNotify(int code, int index) {
  HTMLLIST_NOTIFY n;
  n.code = code;
  n.idFrom = m_nControlId;
  if (const HTMLLIST_ITEM* item = GetItem(index)) {
    n.nItem = index;
    n.strText = item->strText;
    n.nValue = item->nValue;
    n.bChecked = item->bChecked;
  }
  emit Notify(n);
}

void CHTMLListCtrl::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::RightButton) {
    SendNotify(kHtmlListRButtonDown, -1);
    return;
  }
  if (e->button() != Qt::LeftButton) return;
  setFocus(Qt::MouseFocusReason);
  SendNotify(kHtmlListLButtonDown, -1);
  m_nSelected = -1;
  PlaceItems();
  const QPoint pt = e->position().toPoint();
  for (auto& item : m_items) {
    if (!item->rcItem.contains(pt)) continue;
    if (HasCheckBoxes() && CheckBoxRect(item->rcItem).contains(pt)) {
      item->bChecked = !item->bChecked;
      SendNotify(kHtmlListCheckChanged, item->nIndex);
    }
    SendNotify(kHtmlListSelChanged, item->nIndex);
    m_nSelected = item->nIndex;
    viewport()->update();
    return;
  }
  SendNotify(kHtmlListSelChanged, -1);
  viewport()->update();
}

void CHTMLListCtrl::mouseDoubleClickEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) SendNotify(kHtmlListDblClick, -1);
}

void CHTMLListCtrl::ScrollIntoView(int index) {
  const HTMLLIST_ITEM* item = GetItem(index);
  if (!item) return;
  int top = 0;
  for (int i = 0; i < index; ++i) top += m_items[static_cast<std::size_t>(i)]->nHeight;
  const int view = viewport()->height();
  QScrollBar* bar = verticalScrollBar();
  if (top < bar->value()) bar->setValue(top);
  else if (top + item->nHeight > bar->value() + view) bar->setValue(top + item->nHeight - view);
}

void CHTMLListCtrl::keyPressEvent(QKeyEvent* e) {
  const int count = GetItemCount();
  switch (e->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
      // An empty list has nothing to select.
      if (count == 0) return;
      if (e->key() == Qt::Key_Up) m_nSelected = (m_nSelected < 0) ? 0 : std::max(0, m_nSelected - 1);
      else m_nSelected = (m_nSelected < 0) ? count - 1 : std::min(count - 1, m_nSelected + 1);
      ScrollIntoView(m_nSelected);
      viewport()->update();
      SendNotify(kHtmlListSelChanged, m_nSelected);
      return;
    case Qt::Key_Space:
      // Only an item that exists can be toggled.
      if (HasCheckBoxes() && m_nSelected >= 0 && m_nSelected < count) {
        HTMLLIST_ITEM& item = *m_items[static_cast<std::size_t>(m_nSelected)];
        item.bChecked = !item.bChecked;
        viewport()->update(item.rcItem);
        SendNotify(kHtmlListCheckChanged, m_nSelected);
      }
      return;
    default: QAbstractScrollArea::keyPressEvent(e);
  }
}

void CHTMLListCtrl::wheelEvent(QWheelEvent* e) {
  QScrollBar* bar = verticalScrollBar();
  const int delta = e->angleDelta().y();
  if (delta > 0) bar->setValue(std::max(0, bar->value() - 40));
  else if (delta < 0) bar->setValue(bar->value() + 40);
  e->accept();
}

void CHTMLListCtrl::focusInEvent(QFocusEvent* e) {
  m_bHasFocus = true;
  viewport()->update();
  QAbstractScrollArea::focusInEvent(e);
}

void CHTMLListCtrl::focusOutEvent(QFocusEvent* e) {
  m_bHasFocus = false;
  viewport()->update();
  QAbstractScrollArea::focusOutEvent(e);
}

void CHTMLListCtrl::scrollContentsBy(int, int) { viewport()->update(); }

}  // namespace corvan
