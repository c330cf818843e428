#pragma once
// The caption strip of a borderless dialog (control 1093): shows the
// caption text in the band and moves its window while the left button is
// held down on it.

#include <QPoint>
#include <QString>
#include <QWidget>
#include <functional>

class QMouseEvent;
class QWindow;

namespace corvan {

inline constexpr int kIdCaptionStrip = 1093;

// Moves a top-level window with the mouse: by following the pointer from
// where the press was, or by the window system's own move where the
// program cannot place its windows itself. A press only arms the drag; the
// move begins once the pointer travels with the button held. A window
// system told to move at the press itself may miss the release of a short
// click (one that opens a dialog, say) and keep the window on the pointer
// until the next click.
class WindowDrag {
 public:
  // Hands the move to the window system; false where the program places its
  // windows itself. Tests replace it.
  static std::function<bool(QWindow*)>& SystemMove();

  // `receiver` is the widget that got the press `e`; its window moves.
  // While the button is down the receiver sees moves without a button too.
  void Press(QWidget* receiver, const QMouseEvent* e);
  // Without the left button held the release went elsewhere (to a dialog,
  // or was lost): the drag ends.
  void Move(QWidget* receiver, const QMouseEvent* e);
  void Release();
  bool IsDown() const { return m_bDown; }
  bool IsMoving() const { return m_bMoving; }

 private:
  bool m_bDown = false;
  bool m_bMoving = false;
  bool m_bSystemMove = false;
  bool m_bTracked = false;  // the receiver's own mouse tracking before the press
  QWidget* m_pReceiver = nullptr;
  QPoint m_pressGlobal;
  QPoint m_windowStart;  // the window's place (QWidget::pos) at the press
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
