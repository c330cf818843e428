#pragma once
// A content window laid over a skin window: it paints nothing of its own
// background, so the skin shows through, and its OK and Cancel close the
// skin window. Pressing the left button on its bare background drags the
// skin window.

#include <QWidget>
#include <cstdint>

#include "ui/CDragTitle.h"

namespace corvan {

class CStandardDlg : public QWidget {
  Q_OBJECT
 public:
  explicit CStandardDlg(QWidget* parent = nullptr);

  // The colour that stands for "show the skin here" in the designs.
  std::uint32_t m_crKey = 0x00FF00;

  virtual void OnOK();
  virtual void OnCancel();

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  WindowDrag m_drag;
};

}  // namespace corvan
