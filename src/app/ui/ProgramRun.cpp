#include "app/ui/ProgramRun.h"

#include <QApplication>
#include <QIcon>

#include "app/CORVANApp.h"
#include "app/ui/CDriveLoad.h"
#include "app/ui/CTransLayerDlg.h"
#include "app/ui/CUpdateWizard.h"
#include "app/ui/MainWindows.h"
#include "app/ui/QtPrompt.h"
#include "ui/DialogLayout.h"
#include "ui/HelpViewer.h"
#include "ui/SharedLook.h"

namespace corvan {

CTransLayerDlg* StartProgram(QtPrompt& prompt) {
  CORVANApp& app = App();
  InitSharedLook();
  PlaceTopLevelWindows();
  app.InitState();
  SetHelpFolder(app.m_strInstallPath / "help");
  // Back from the results window puts a new start window in front.
  SetStartWindowOpener([] { ShowStartWindow(); });
  // Qt lays every window out in 96-DPI pixels on any screen, so the
  // designs never need re-laying out.
  app.m_nScreenDpi = 96;
  prompt.Install();
  {
    CDriveLoad wait;
    wait.exec();
  }
  app.MakeLogFileName();
  app.OpenLog();
  CTransLayerDlg* start = ShowStartWindow();
  // The window comes first; the update check answers over it when it can.
  LaunchUpdate(start);
  return start;
}

int RunProgram(int argc, char** argv) {
  QApplication qtApp(argc, argv);
  QApplication::setApplicationName(QStringLiteral("corvan"));
  // The program ends when its window in front closes (MainWindows), not
  // when some window happens to be the last one shown.
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setWindowIcon(QIcon(LoadBitmapResource(128)));
  QtPrompt prompt;
  StartProgram(prompt);
  const int rc = QApplication::exec();
  App().FlushLog();
  return rc;
}

}  // namespace corvan
