#include "ui/CStartPage.h"

#include <QPainter>

#include "ui/DialogLook.h"

namespace corvan {

OptionsPanelHost*& OptionsPanelHost::Current() {
  static OptionsPanelHost* current = nullptr;
  return current;
}

CStartPage::CStartPage(QWidget* parent) : QWidget(parent) {}

OptionsPanelHost* CStartPage::PanelHost() const {
  for (QWidget* w = parentWidget(); w; w = w->parentWidget())
    if (auto* host = dynamic_cast<OptionsPanelHost*>(w)) return host;
  return OptionsPanelHost::Current();
}

void CStartPage::paintEvent(QPaintEvent*) {
  QPainter p(this);
  FillDialogBackground(p, rect());
}

}  // namespace corvan
