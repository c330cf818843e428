#pragma once
// The strip button that follows the mouse: state 1 while the pointer is
// over it, 2 while pressed, 0 otherwise.

#include "ui/CTButton.h"

namespace corvan {

class CXBitmapButton : public CTButton {
  Q_OBJECT
 public:
  explicit CXBitmapButton(QWidget* parent = nullptr);

 protected:
  void enterEvent(QEnterEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
};

}  // namespace corvan
