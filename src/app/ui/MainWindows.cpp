#include "app/ui/MainWindows.h"

#include "app/ui/CTransLayerDlg.h"

namespace corvan {

CTransLayerDlg* ShowStartWindow() {
  auto* skin = new CTransLayerDlg();
  skin->Create();
  ShowMainWindow(skin);
  return skin;
}

}  // namespace corvan
