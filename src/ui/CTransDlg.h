#pragma once
// A borderless window whose whole look is one background image with image
// buttons on it, and a content window laid over it at the same place and
// size. Pixels the content leaves unpainted show the skin.

#include <QImage>
#include <QPointer>
#include <QWidget>
#include <vector>

#include "ui/CDragTitle.h"
#include "ui/CTransWnd.h"

namespace corvan {

class CTransDlg : public QWidget, public IRenderListener {
  Q_OBJECT
 public:
  explicit CTransDlg(unsigned backgroundId, QWidget* parent = nullptr);
  ~CTransDlg() override;

  // Creation: size from the background, centred in the available screen
  // area when asked, content created over the window, skin prepared, first
  // render. Call once, after construction.
  void Create();

  QWidget* Content() const { return m_pContent; }
  const QImage& Background() const { return m_background; }
  int RenderCount() const { return m_nRenderCount; }
  // Re-draws the whole window.
  void Render();
  void OnRenderRequest(CTransWnd* changed) override;

  bool m_bDraggable = true;
  bool m_bCentre = true;

 protected:
  virtual QWidget* CreateContentDialog() { return nullptr; }
  virtual void InitSkin() = 0;
  void AddChild(CTransWnd* child);

  void paintEvent(QPaintEvent*) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

  std::vector<CTransWnd*> m_children;  // not owned (children of this window)

 private:
  QImage m_background;
  QPointer<QWidget> m_pContent;
  int m_nRenderCount = 0;
  WindowDrag m_drag;
};

}  // namespace corvan
