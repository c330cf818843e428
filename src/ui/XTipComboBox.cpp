#include "ui/XTipComboBox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QStyle>
#include <QToolTip>

namespace corvan {

bool ComboTextNeedsTip(int textWidth, int areaWidth) { return textWidth > areaWidth - 6; }
bool ListTextNeedsTip(int textWidth, int itemWidth) { return textWidth > itemWidth - 3; }

XTipComboBox::XTipComboBox(QWidget* parent) : QComboBox(parent) {
  setMouseTracking(true);
  m_timer.setInterval(80);
  connect(&m_timer, &QTimer::timeout, this, &XTipComboBox::OnTimer);
}

QRect XTipComboBox::TextArea() const {
  const int button = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this) + 2;
  QRect r = rect();
  r.setRight(r.right() - button);
  return r;
}

void XTipComboBox::showPopup() {
  if (view() && view()->viewport()) {
    view()->viewport()->setMouseTracking(true);
    view()->viewport()->installEventFilter(this);
  }
  HideTip();
  QComboBox::showPopup();
}

void XTipComboBox::mouseMoveEvent(QMouseEvent* e) {
  const QRect area = TextArea();
  if (area.contains(e->position().toPoint())) {
    const int width = fontMetrics().horizontalAdvance(currentText());
    if (ComboTextNeedsTip(width, area.width())) {
      const QPoint topLeft = mapToGlobal(area.topLeft()) + QPoint(1, 3);
      ShowTip(currentText(), topLeft, QRect(mapToGlobal(area.topLeft()), area.size()));
    } else {
      HideTip();
    }
  } else {
    HideTip();
  }
  QComboBox::mouseMoveEvent(e);
}

void XTipComboBox::leaveEvent(QEvent* e) {
  HideTip();
  QComboBox::leaveEvent(e);
}

bool XTipComboBox::eventFilter(QObject* watched, QEvent* e) {
  if (view() && watched == view()->viewport() && e->type() == QEvent::MouseMove) {
    auto* me = static_cast<QMouseEvent*>(e);
    const QModelIndex index = view()->indexAt(me->position().toPoint());
    if (index.isValid()) {
      const QRect item = view()->visualRect(index);
      const QString text = index.data().toString();
      if (ListTextNeedsTip(view()->fontMetrics().horizontalAdvance(text), item.width())) {
        const QPoint topLeft = view()->viewport()->mapToGlobal(item.topLeft());
        ShowTip(text, topLeft, QRect(topLeft, item.size()));
      } else {
        HideTip();
      }
    }
  }
  return QComboBox::eventFilter(watched, e);
}

void XTipComboBox::ShowTip(const QString& text, const QPoint& globalTopLeft, const QRect& trackArea) {
  m_tipText = text;
  m_trackArea = trackArea;
  m_bTipShown = true;
  QToolTip::showText(globalTopLeft, text, this);
  m_timer.start();
}

void XTipComboBox::HideTip() {
  if (!m_bTipShown) return;
  m_bTipShown = false;
  m_tipText.clear();
  m_timer.stop();
  QToolTip::hideText();
}

void XTipComboBox::OnTimer() {
  const bool listGone = view() && !view()->isVisible() && !m_trackArea.intersects(QRect(mapToGlobal(QPoint()), size()));
  if (!m_trackArea.contains(QCursor::pos()) || listGone) HideTip();
}

}  // namespace corvan
