#include "ui/PumpWaitingMessages.h"

#include <QCoreApplication>
#include <QThread>

namespace corvan {

int PumpWaitingMessages() {
  auto* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread()) return 0;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  return 1;
}

}  // namespace corvan
