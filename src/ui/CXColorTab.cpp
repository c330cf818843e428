#include "ui/CXColorTab.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "ui/SharedLook.h"

namespace corvan {

int& TabStyleFlags() {
  static int flags = 0;
  return flags;
}

namespace {
std::uint32_t MapChannels(std::uint32_t c, float f, bool cap) {
  const auto ch = [&](int shift) {
    const float v = static_cast<float>((c >> shift) & 0xFF) * f;
    const int i = static_cast<int>(v);
    return static_cast<std::uint32_t>(cap ? std::min(i, 255) : i) << shift;
  };
  return ch(0) | ch(8) | ch(16);
}

QColor Mix(const QColor& a, const QColor& b, double t) {
  return QColor(a.red() + static_cast<int>((b.red() - a.red()) * t),
                a.green() + static_cast<int>((b.green() - a.green()) * t),
                a.blue() + static_cast<int>((b.blue() - a.blue()) * t));
}
}  // namespace

std::uint32_t ScaleColor(std::uint32_t colour, float factor) {
  return MapChannels(colour, std::clamp(factor, 0.0f, 1.0f), false);
}

std::uint32_t LightenColor(std::uint32_t colour, float factor) {
  return MapChannels(colour, std::max(factor, 1.0f), true);
}

QSize FitTextWidth(const QFontMetrics& metrics, QString& text, int width) {
  text = metrics.elidedText(text, Qt::ElideRight, std::max(width, 0));
  return {metrics.horizontalAdvance(text), metrics.height()};
}

// ---- CXTabCtrl ----

CXTabCtrl::CXTabCtrl(QWidget* parent) : QTabBar(parent) {}

std::uint32_t CXTabCtrl::ButtonFace() const { return ToColorRef(palette().color(QPalette::Button)); }
std::uint32_t CXTabCtrl::WindowText() const { return ToColorRef(palette().color(QPalette::WindowText)); }

void CXTabCtrl::DrawItem(QPainter&, int, QRect, bool) {}
void CXTabCtrl::DrawMainBorder(QPainter&, QRect) {}
void CXTabCtrl::DrawItemBorder(QPainter&, int, QRect, bool) {}
std::uint32_t CXTabCtrl::GetTabColor(bool) const { return ButtonFace(); }
std::uint32_t CXTabCtrl::GetTabTextColor(bool) const { return WindowText(); }

void CXTabCtrl::paintEvent(QPaintEvent* e) {
  if (!IsOwnerDrawn()) return QTabBar::paintEvent(e);
  QPainter p(this);
  p.fillRect(rect(), FromColorRef(0xF1FFF4));
  p.setFont(font());
  QRect main = rect();
  main.setTop(main.bottom() - 2);
  DrawMainBorder(p, main);
  const int selected = currentIndex();
  for (int i = count() - 1; i >= 0; --i) {
    if (i == selected) continue;
    QRect r = tabRect(i);
    r.setBottom(r.bottom() - 2);
    DrawItem(p, i, r, false);
    DrawItemBorder(p, i, r, false);
  }
  if (selected >= 0) {
    QRect r = tabRect(selected);
    r.setBottom(r.bottom() + 2);
    r.setLeft(r.left() - 2);
    DrawItem(p, selected, r, true);
    DrawItemBorder(p, selected, r, true);
  }
}

// ---- CXColorTab ----

CXColorTab::CXColorTab(QWidget* parent) : CXTabCtrl(parent) { setDrawBase(false); }

std::uint32_t CXColorTab::ShadeBase() const {
  return ((TabStyleFlags() & 0x02) && m_crTab != kNoTabColour) ? m_crTab : ButtonFace();
}

std::uint32_t CXColorTab::GetTabColor(bool selected) const {
  const int flags = TabStyleFlags();
  if (selected) return (flags & 0x04) ? LightenColor(ShadeBase(), 1.1f) : ButtonFace();
  if ((flags & 0x01) && !(flags & 0x10)) return m_crTab != kNoTabColour ? m_crTab : ButtonFace();
  return ScaleColor(ShadeBase(), 0.9f);
}

std::uint32_t CXColorTab::GetTabTextColor(bool selected) const {
  if (selected) return WindowText();
  const int flags = TabStyleFlags();
  const std::uint32_t x = ((flags & 0x03) && m_crTab != kNoTabColour) ? m_crTab : ButtonFace();
  return ScaleColor(x, 0.1f);
}

void CXColorTab::DrawItem(QPainter& p, int index, QRect r, bool selected) {
  r.setTop(r.top() + (selected ? -1 : 2));
  const QColor c = FromColorRef(GetTabColor(selected));
  if (TabStyleFlags() & 0x08) {
    const QColor end = FromColorRef(selected ? ButtonFace() : ScaleColor(ShadeBase(), 0.7f));
    const int h = std::max(r.height(), 1);
    for (int y = 0; y < r.height(); y += 2)
      p.fillRect(QRect(r.left(), r.top() + y, r.width(), std::min(2, r.height() - y)),
                 Mix(c, end, static_cast<double>(y) / h));
  } else {
    p.fillRect(r, c);
  }
  r.adjust(3, 3, -3, 0);
  const QIcon icon = tabIcon(index);
  if (!icon.isNull()) {
    icon.paint(&p, QRect(r.left(), r.top(), 16, 16));
    r.setLeft(r.left() + 19);
  }
  QString text = tabText(index).left(99);
  FitTextWidth(p.fontMetrics(), text, r.width());
  p.setPen(FromColorRef(GetTabTextColor(selected)));
  p.drawText(r, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, text);
}

void CXColorTab::DrawItemBorder(QPainter& p, int, QRect r, bool selected) {
  const std::uint32_t c = GetTabColor(selected);
  const QColor light = FromColorRef(LightenColor(c, 1.5f));
  const QColor dark = FromColorRef(ScaleColor(c, 0.75f));
  if (!selected && !(TabStyleFlags() & 0x10)) {
    p.fillRect(QRect(r.left(), r.top(), 1, r.height()), dark);
    p.fillRect(QRect(r.right(), r.top(), 1, r.height()), dark);
    return;
  }
  p.fillRect(QRect(r.left(), r.top(), 1, r.height() + (selected ? 1 : 0)), light);
  p.fillRect(QRect(r.left(), r.top(), r.width(), 1), light);
  p.fillRect(QRect(r.right(), r.top(), 1, r.height()), dark);
}

void CXColorTab::DrawMainBorder(QPainter& p, QRect r) {
  const std::uint32_t c = GetTabColor(false);
  p.fillRect(QRect(r.left(), r.top(), r.width(), 1), FromColorRef(LightenColor(c, 1.5f)));
  p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), FromColorRef(ScaleColor(c, 0.75f)));
}

CXTabWidget::CXTabWidget(QWidget* parent) : QTabWidget(parent), m_tab(new CXColorTab(this)) {
  setTabBar(m_tab);
}

}  // namespace corvan
