#include <QApplication>
#include <QMainWindow>

#include "app/CORVANApp.h"
#include "app/StringTable.h"
#include "ui/QtText.h"

int main(int argc, char** argv) {
  QApplication qtApp(argc, argv);
  corvan::CORVANApp& app = corvan::App();
  app.InitState();
  app.MakeLogFileName();
  app.OpenLog();

  QMainWindow window;
  window.setWindowTitle(corvan::ToQString(corvan::LoadString(102)));
  window.resize(800, 600);
  window.show();
  const int rc = qtApp.exec();
  app.FlushLog();
  return rc;
}
