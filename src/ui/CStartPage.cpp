#include "ui/CStartPage.h"

#include <QFileDialog>
#include <QPainter>

#include "ui/DialogLook.h"

namespace corvan {

OptionsPanelHost*& OptionsPanelHost::Current() {
  static OptionsPanelHost* current = nullptr;
  return current;
}

std::function<QString(QWidget*, const QString&)>& CStartPage::FileChooser() {
  static std::function<QString(QWidget*, const QString&)> chooser = [](QWidget* parent, const QString& filter) {
    return QFileDialog::getOpenFileName(parent, QString(), QString(), filter);
  };
  return chooser;
}

CStartPage::CStartPage(QWidget* parent) : QWidget(parent) {}

OptionsPanelHost* CStartPage::PanelHost() const {
  for (QWidget* w = parentWidget(); w; w = w->parentWidget())
    if (auto* host = dynamic_cast<OptionsPanelHost*>(w)) return host;
  return OptionsPanelHost::Current();
}

void CStartPage::ClosePanel() const {
  if (OptionsPanelHost* host = PanelHost()) host->CloseOptionsPanel();
}

void CStartPage::paintEvent(QPaintEvent*) {
  QPainter p(this);
  FillDialogBackground(p, rect());
}

}  // namespace corvan
