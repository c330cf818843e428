#pragma once
// Image children of a skin window, and the interface through which they
// ask their owner to show their new look.

#include <QImage>
#include <QWidget>
#include <vector>

namespace corvan {

class CTransWnd;

class IRenderListener {
 public:
  virtual ~IRenderListener() = default;
  virtual void OnRenderRequest(CTransWnd* changed) = 0;
};

class CTransWnd : public QWidget {
  Q_OBJECT
 public:
  explicit CTransWnd(QWidget* parent = nullptr);

  void SetListener(IRenderListener* listener) { m_pListener = listener; }
  IRenderListener* Listener() const { return m_pListener; }
  bool IsDisabled() const { return m_bDisabled; }

  // Draws the window's look at `topLeft` of the painter's surface.
  virtual void Render(QPainter& painter, const QPoint& topLeft) = 0;
  // Tells the listener that the look changed.
  virtual void RequestRender();

 protected:
  void paintEvent(QPaintEvent*) override;
  void changeEvent(QEvent* e) override;

  std::vector<QImage> m_images;
  IRenderListener* m_pListener = nullptr;
  bool m_bDisabled = false;
};

}  // namespace corvan
