#include "console/ui/CUpDown.h"

#include <QToolButton>
#include <QVBoxLayout>

namespace corvan {

CUpDown::CUpDown(QWidget* parent) : QWidget(parent), m_pUp(new QToolButton(this)), m_pDown(new QToolButton(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  m_pUp->setArrowType(Qt::UpArrow);
  m_pDown->setArrowType(Qt::DownArrow);
  for (QToolButton* b : {m_pUp, m_pDown}) {
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    layout->addWidget(b);
  }
  connect(m_pUp, &QToolButton::clicked, this, [this] { emit Stepped(1); });
  connect(m_pDown, &QToolButton::clicked, this, [this] { emit Stepped(-1); });
}

int WrappedStep(int value, int delta, int top) {
  if (delta > 0) return value >= top ? 1 : value + 1;
  return value <= 1 || value > top ? top : value - 1;
}

}  // namespace corvan
