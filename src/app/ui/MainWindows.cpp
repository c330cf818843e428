#include "app/ui/MainWindows.h"

#include <QEvent>
#include <QPoint>
#include <optional>

#include "app/ui/CTransLayerDlg.h"

namespace corvan {

namespace {
// Where the user left the last start window: a new one (after Back from the
// results window) opens there rather than in the middle again.
std::optional<QPoint>& LastStartWindowPlace() {
  static std::optional<QPoint> place;
  return place;
}

class RememberPlace final : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::Hide || e->type() == QEvent::Move)
      LastStartWindowPlace() = static_cast<QWidget*>(watched)->pos();
    return false;
  }
};
}  // namespace

CTransLayerDlg* ShowStartWindow() {
  auto* skin = new CTransLayerDlg();
  skin->Create();
  if (const auto& place = LastStartWindowPlace()) skin->move(*place);
  skin->installEventFilter(new RememberPlace(skin));
  ShowMainWindow(skin);
  return skin;
}

}  // namespace corvan
