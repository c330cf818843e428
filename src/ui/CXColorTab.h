#pragma once
// Owner-drawn tab bars with per-tab colour shading and gradients.

#include <QTabBar>
#include <QTabWidget>
#include <cstdint>

class QFontMetrics;

namespace corvan {

// Process-wide tab style bits read by CXColorTab: 0x01 the tab colour for
// unselected tabs as is, 0x02 shades from the tab colour (else from the
// button face), 0x04 selected tab lighter, 0x08 gradient fill, 0x10 full
// borders on unselected tabs. The dialogs with coloured tabs set 0x0E.
int& TabStyleFlags();

inline constexpr std::uint32_t kNoTabColour = 0xFFFFFFFF;

// Each of red, green and blue times `factor` (clamped to 0..1), truncated.
std::uint32_t ScaleColor(std::uint32_t colour, float factor);
// Each channel times `factor` (at least 1), capped at 255, truncated.
std::uint32_t LightenColor(std::uint32_t colour, float factor);
// Shortens `text` to fit `width` on one line with an ending ellipsis and
// returns the size of the shortened text.
QSize FitTextWidth(const QFontMetrics& metrics, QString& text, int width);

class CXTabCtrl : public QTabBar {
  Q_OBJECT
 public:
  explicit CXTabCtrl(QWidget* parent = nullptr);

  std::uint32_t m_crTab = kNoTabColour;
  bool m_bOwnerDraw = false;

  virtual void DrawItem(QPainter& p, int index, QRect rect, bool selected);
  virtual void DrawMainBorder(QPainter& p, QRect rect);
  virtual void DrawItemBorder(QPainter& p, int index, QRect rect, bool selected);
  virtual std::uint32_t GetTabColor(bool selected) const;
  virtual std::uint32_t GetTabTextColor(bool selected) const;

  bool IsOwnerDrawn() const { return m_bOwnerDraw || TabStyleFlags() != 0; }
  std::uint32_t ButtonFace() const;
  std::uint32_t WindowText() const;

 protected:
  void paintEvent(QPaintEvent* e) override;
};

class CXColorTab : public CXTabCtrl {
  Q_OBJECT
 public:
  explicit CXColorTab(QWidget* parent = nullptr);

  void DrawItem(QPainter& p, int index, QRect rect, bool selected) override;
  void DrawMainBorder(QPainter& p, QRect rect) override;
  void DrawItemBorder(QPainter& p, int index, QRect rect, bool selected) override;
  std::uint32_t GetTabColor(bool selected) const override;
  std::uint32_t GetTabTextColor(bool selected) const override;

 private:
  // The colour shades derive from: the tab colour when flag 0x02 asks for it
  // and one is set, else the button face.
  std::uint32_t ShadeBase() const;
};

// A tab widget whose bar is a CXColorTab.
class CXTabWidget : public QTabWidget {
  Q_OBJECT
 public:
  explicit CXTabWidget(QWidget* parent = nullptr);
  CXColorTab* ColorTab() const { return m_tab; }

 private:
  CXColorTab* m_tab;
};

}  // namespace corvan
