#include "app/ui/QtPrompt.h"

#include <QApplication>
#include <QThread>

#include "app/CORVANApp.h"
#include "app/ui/CMessageBox.h"
#include "ui/QtText.h"

namespace corvan {

QtPrompt::QtPrompt() = default;

QtPrompt::~QtPrompt() {
  if (m_bInstalled && App().m_pPrompt == this) App().m_pPrompt = nullptr;
}

void QtPrompt::Install() {
  App().m_pPrompt = this;
  m_bInstalled = true;
}

int QtPrompt::MessageBox(const std::string& text, unsigned picture, unsigned type) {
  auto* app = QCoreApplication::instance();
  if (!app || QCoreApplication::closingDown()) return m_unattended.MessageBox(text, picture, type);
  const QString message = ToQString(text);
  if (QThread::currentThread() == thread()) return ShowMessageBox(message, picture, type);
  int answer = kIdCancel;
  const bool delivered = QMetaObject::invokeMethod(
      this, [&] { answer = ShowMessageBox(message, picture, type); }, Qt::BlockingQueuedConnection);
  return delivered ? answer : m_unattended.MessageBox(text, picture, type);
}

}  // namespace corvan
