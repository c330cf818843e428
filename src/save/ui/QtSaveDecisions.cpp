#include "save/ui/QtSaveDecisions.h"

#include <QCoreApplication>
#include <QThread>
#include <QWidget>

#include "save/ui/CAbortSaving.h"
#include "save/ui/CFileExistDlg.h"

namespace corvan {

QtSaveDecisions::QtSaveDecisions(QWidget* owner) : m_pOwner(owner) {}

FileExistAnswer QtSaveDecisions::ShowFileExists(const FileExistQuestion& question, std::u16string& renameTo) {
  CFileExistDlg dlg(question, m_pOwner);
  dlg.exec();
  renameTo = dlg.NewName();
  return dlg.Answer();
}

AbortAnswer QtSaveDecisions::ShowAbortSaving(const std::u16string& fileName) {
  CAbortSaving dlg(fileName, m_pOwner);
  dlg.exec();
  return dlg.Answer();
}

FileExistAnswer QtSaveDecisions::AskFileExists(const FileExistQuestion& question, std::u16string& renameTo) {
  if (!QCoreApplication::instance() || QCoreApplication::closingDown())
    return m_unattended.AskFileExists(question, renameTo);
  if (QThread::currentThread() == thread()) return ShowFileExists(question, renameTo);
  FileExistAnswer answer = FileExistAnswer::Cancel;
  std::u16string name = renameTo;
  const bool delivered = QMetaObject::invokeMethod(
      this, [&] { answer = ShowFileExists(question, name); }, Qt::BlockingQueuedConnection);
  if (!delivered) return m_unattended.AskFileExists(question, renameTo);
  renameTo = name;
  return answer;
}

AbortAnswer QtSaveDecisions::AskAbortSaving(const std::u16string& fileName) {
  if (!QCoreApplication::instance() || QCoreApplication::closingDown()) return m_unattended.AskAbortSaving(fileName);
  if (QThread::currentThread() == thread()) return ShowAbortSaving(fileName);
  AbortAnswer answer = AbortAnswer::AbortImmediately;
  const bool delivered =
      QMetaObject::invokeMethod(this, [&] { answer = ShowAbortSaving(fileName); }, Qt::BlockingQueuedConnection);
  return delivered ? answer : m_unattended.AskAbortSaving(fileName);
}

}  // namespace corvan
