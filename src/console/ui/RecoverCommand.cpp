#include "console/ui/RecoverCommand.h"

#include "app/CORVANApp.h"
#include "console/ui/CRecoveryConsole.h"
#include "save/ui/CSaveProcess.h"
#include "save/ui/CSaveRecovery.h"

namespace corvan {

int RunRecoverDestination(CRecoveryConsole& console) {
  int result = kIdCancel;
  {
    CSaveRecovery destination(&console, &console.Store(), console.View());
    result = destination.exec();
  }
  if (result != kIdOk) return result;
  auto* progress = new CSaveProcess(&console, console.Store(), console.View());
  QPointer<CRecoveryConsole> window(&console);
  QObject::connect(progress, &QDialog::finished, progress, [progress, window] {
    progress->deleteLater();
    if (!window) return;
    // What was saved is unchecked now: the views and counts show it.
    window->RefreshResults();
    window->UpdateStatusText(1);
  });
  progress->open();
  progress->Start();
  return kIdOk;
}

}  // namespace corvan
