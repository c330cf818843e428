#pragma once
// The up-down control beside a number edit of the mask and find dialogs:
// two small arrows that report a step up or down. What a step does to the
// number (and where it wraps) is the dialog's.

#include <QWidget>

class QToolButton;

namespace corvan {

class CUpDown : public QWidget {
  Q_OBJECT
 public:
  explicit CUpDown(QWidget* parent = nullptr);

  QToolButton* UpButton() const { return m_pUp; }
  QToolButton* DownButton() const { return m_pDown; }

 signals:
  // +1 for the up arrow, -1 for the down arrow.
  void Stepped(int delta);

 private:
  QToolButton* m_pUp;
  QToolButton* m_pDown;
};

// A step of an up-down bound to a number from 1 to `top`: up wraps from
// `top` (or more) to 1, down from 1 (or less, or above `top`) to `top`.
int WrappedStep(int value, int delta, int top);

}  // namespace corvan
