#pragma once
// The page container of the start screen: the pages are its children, one
// shown at a time, all at (0, 0) in its full size.

#include <QWidget>

namespace corvan {

class CSliderButton : public QWidget {
  Q_OBJECT
 public:
  explicit CSliderButton(QWidget* parent = nullptr) : QWidget(parent) {}
};

}  // namespace corvan
