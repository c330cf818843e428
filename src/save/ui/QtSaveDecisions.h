#pragma once
// The saving job's questions answered by the file-exists and abort-saving
// dialogs. The job asks from its own thread; the dialog runs on the UI
// thread while the job waits for the answer. The UI thread never waits for
// the job, so this cannot deadlock as long as the progress dialog joins the
// job only after it has said it ended.

#include <QObject>
#include <QPointer>

#include "save/SaveDecisions.h"

class QWidget;

namespace corvan {

class QtSaveDecisions final : public QObject, public SaveDecisions {
  Q_OBJECT
 public:
  // Lives on the thread that makes it, which must be the UI thread;
  // `owner` is the window the dialogs lie over.
  explicit QtSaveDecisions(QWidget* owner = nullptr);

  FileExistAnswer AskFileExists(const FileExistQuestion& question, std::u16string& renameTo) override;
  AbortAnswer AskAbortSaving(const std::u16string& fileName) override;

 private:
  FileExistAnswer ShowFileExists(const FileExistQuestion& question, std::u16string& renameTo);
  AbortAnswer ShowAbortSaving(const std::u16string& fileName);

  QPointer<QWidget> m_pOwner;
  UnattendedSaveDecisions m_unattended;
};

}  // namespace corvan
