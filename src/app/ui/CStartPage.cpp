#include "app/ui/CStartPage.h"

#include <QPainter>

#include "ui/DialogLook.h"

namespace corvan {

CStartPage::CStartPage(QWidget* parent) : QWidget(parent) {}

void CStartPage::paintEvent(QPaintEvent*) {
  QPainter p(this);
  FillDialogBackground(p, rect());
}

}  // namespace corvan
