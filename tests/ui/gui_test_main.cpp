// Entry of the window tests: an application object on the offscreen
// platform, with every per-user folder in a temporary folder. The folder
// outlives the application object, which writes its log and settings as
// the process ends, so nothing is left behind.

#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>

#include "console/ui/CRecoveryConsole.h"
#include "console/ui/LogDialogs.h"
#include "console/ui/ScanInfoCommand.h"
#include "support/TestSupport.h"

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static corvan::test::TempDir home;
  static corvan::test::UserFolders folders(home.path());
  // Qt's own per-session folder, which it would otherwise make in /tmp.
  const std::filesystem::path runtime = home / "runtime";
  std::filesystem::create_directory(runtime);
  std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
  qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(runtime.string()));
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  ::testing::InitGoogleTest(&argc, argv);
  // A real file dialog would wait for a user who is not there: a test that
  // saves a scan names its file itself.
  corvan::ScanInfoSaveChooser() = [](QWidget*, const QString&, const QString&, const QString&) {
    ADD_FAILURE() << "the save dialog of the scan information was opened without a file to give it";
    return QString();
  };
  // Nor is anyone there to answer whether logs are to be saved: a closing
  // results window hears "Ask Me later", unless a test asks itself.
  corvan::CRecoveryConsole::Parts().askforSaveLog = [](corvan::CRecoveryConsole&) {
    return corvan::SaveLogAnswer::AskMeLater;
  };
  corvan::CLogViewer::SaveChooser() = [](QWidget*, const QString&) {
    ADD_FAILURE() << "the log viewer's save dialog was opened without a file to give it";
    return QString();
  };
  return RUN_ALL_TESTS();
}
