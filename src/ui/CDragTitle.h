#pragma once
// The caption strip of a borderless dialog (control 1093): shows the
// caption text in the band and moves its window while the left button is
// held down on it.

#include <QPoint>
#include <QString>
#include <QWidget>

namespace corvan {

inline constexpr int kIdCaptionStrip = 1093;

// Moves a top-level window with the mouse: the window system's own move
// where it offers one, else by following the pointer.
class WindowDrag {
 public:
  void Press(QWidget* window, const QPoint& globalPos);
  void Move(QWidget* window, const QPoint& globalPos);
  void Release() { m_bDown = m_bSystemMove = false; }
  bool IsDown() const { return m_bDown; }

 private:
  bool m_bDown = false;
  bool m_bSystemMove = false;
  QPoint m_pressGlobal;
  QPoint m_windowStart;
};

class CDragTitle : public QWidget {
  Q_OBJECT
 public:
  explicit CDragTitle(QWidget* parent, const QString& text = QString(), int id = kIdCaptionStrip);

  void SetCaption(const QString& text);
  QString Caption() const { return m_text; }
  bool IsDragging() const { return m_drag.IsDown(); }

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  QString m_text;
  WindowDrag m_drag;
};

}  // namespace corvan
