#include "ui/MainWindows.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>


namespace corvan {

namespace {
QPointer<QWidget>& Current() {
  static QPointer<QWidget> current;
  return current;
}
std::function<void()>& StartWindowOpener() {
  static std::function<void()> open;
  return open;
}
std::function<void()>& EndHandler() {
  static std::function<void()> handler = [] { QCoreApplication::quit(); };
  return handler;
}
}  // namespace

QWidget* CurrentMainWindow() { return Current(); }

void ShowMainWindow(QWidget* window) {
  QPointer<QWidget> previous = Current();
  Current() = window;
  window->setAttribute(Qt::WA_DeleteOnClose);
  // The window in front ends the program when it goes away on its own.
  QObject::connect(window, &QObject::destroyed, qApp, [window] {
    if (Current() == nullptr || Current().data() == window) {
      Current() = nullptr;
      if (EndHandler()) EndHandler()();
    }
  });
  window->show();
  if (previous && previous != window) previous->close();
}

void SetStartWindowOpener(std::function<void()> open) { StartWindowOpener() = std::move(open); }

bool CanReopenStartWindow() { return static_cast<bool>(StartWindowOpener()); }

void ReopenStartWindow() {
  if (StartWindowOpener()) StartWindowOpener()();
}

void SetProgramEndHandler(std::function<void()> handler) { EndHandler() = std::move(handler); }

void CloseMainWindow() {
  if (QWidget* w = Current()) w->close();
}

}  // namespace corvan
