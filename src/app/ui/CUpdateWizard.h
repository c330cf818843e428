#pragma once
// The update wizard: a welcome page, the version check, and the download of
// the package on a worker thread. A downloaded package is kept for the user
// and never run.

#include <QObject>
#include <QThread>
#include <QWizard>
#include <QWizardPage>
#include <functional>

#include "app/AutoUpdater.h"
#include "platform/WorkerThread.h"

class QLabel;
class QMovie;
class QProgressBar;
class QTimer;

namespace corvan {

// The version check on a worker, so a server that does not answer never
// holds the window's thread; the answer is handed back to the thread that
// started it.
class UpdateCheckRun final : public QObject {
 public:
  explicit UpdateCheckRun(CAutoUpdater& updater, QObject* parent = nullptr);
  ~UpdateCheckRun() override { Stop(); }
  // Starts a check; `answered` gets its result on this object's thread,
  // unless Stop came first. A check still running is stopped first.
  void Start(std::function<void(int)> answered);
  // Ends the check at libcurl's next look and waits for its worker.
  void Stop();
  bool Running() const { return m_worker.IsRunning(); }

 private:
  CAutoUpdater& m_updater;
  WorkerThread m_worker;
  std::function<void(int)> m_answered;
  unsigned m_nRun = 0;  // answers of stopped runs are dropped
};

class CUpdateStartPage final : public QWizardPage {
 public:
  CUpdateStartPage();
};

class CUpdateProcessPage final : public QWizardPage {
 public:
  explicit CUpdateProcessPage(CAutoUpdater& updater);
  void initializePage() override;
  void cleanupPage() override;
  bool isComplete() const override { return m_bNext; }
  // Starts the check; ShowResult takes its answer.
  void RunCheck();
  void StopCheck() { m_check.Stop(); }
  bool Checking() const { return m_check.Running(); }
  int LastResult() const { return m_nResult; }
  QLabel* StatusText() const { return m_pStatus; }
  QLabel* Notice() const { return m_pNotice; }
  QLabel* Link() const { return m_pLink; }

 private:
  QLabel* m_pStatus;
  QLabel* m_pNotice;
  QLabel* m_pLink;
  QLabel* m_pAnimation;
  QMovie* m_pMovie = nullptr;
  QTimer* m_pTimer;
  UpdateCheckRun m_check;
  bool m_bNext = false;
  int m_nResult = -1;

  void ShowResult(int result);
};

class CUpdateThread;

class CUpdateFinalPage final : public QWizardPage, public UpdateProgressPage {
 public:
  explicit CUpdateFinalPage(CAutoUpdater& updater);
  ~CUpdateFinalPage() override;
  void initializePage() override;
  bool isComplete() const override { return m_bDone; }
  // Stops a download that is still running (a whole one is kept) and
  // waits for its thread.
  void StopDownload();
  bool DownloadEnded() const { return m_bDone; }
  int DownloadResult() const { return m_nResult; }

  // UpdateProgressPage, called on the download's thread: each text is
  // handed to the page's thread.
  void SetStatusText(const std::string& text) override;
  void SetFileLabel(const std::string& text) override;
  void SetTimeText(const std::string& text) override;
  void SetRateText(const std::string& text) override;
  void SetProgressRange(std::uint64_t upper, std::uint32_t step) override;
  void SetProgressPos(std::uint64_t pos) override;

  QLabel* StatusText() const { return m_pStatus; }
  QProgressBar* Progress() const { return m_pProgress; }

 private:
  friend class CUpdateThread;
  void SetLabel(QLabel* label, const std::string& text);
  void StartDownload();
  void DownloadFinished(int result);

  CAutoUpdater& m_updater;
  QLabel* m_pStatus;
  QLabel* m_pFileLabel;
  QLabel* m_pTime;
  QLabel* m_pRate;
  QProgressBar* m_pProgress;
  QTimer* m_pTimer;
  CUpdateThread* m_pThread = nullptr;
  // Progress in bar units: a package past 2 GiB is shown in KiB.
  int m_nShift = 0;
  bool m_bDone = false;
  int m_nResult = -1;
};

class CUpdateThread final : public QThread {
 public:
  CUpdateThread(CAutoUpdater& updater, CUpdateFinalPage& page);

 protected:
  void run() override;

 private:
  CAutoUpdater& m_updater;
  CUpdateFinalPage& m_page;
};

class CUpdateWizard final : public QWizard {
 public:
  enum { kStartPage, kProcessPage, kFinalPage };
  static constexpr int kHelpContext = 147;
  explicit CUpdateWizard(CAutoUpdater& updater, QWidget* parent = nullptr);
  // Cancel while the package downloads asks first; during the check it
  // stops the check.
  void reject() override;

  CUpdateStartPage* StartPage() const { return m_pStart; }
  CUpdateProcessPage* ProcessPage() const { return m_pProcess; }
  CUpdateFinalPage* FinalPage() const { return m_pFinal; }

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  CUpdateStartPage* m_pStart;
  CUpdateProcessPage* m_pProcess;
  CUpdateFinalPage* m_pFinal;
};

// Runs the wizard over `updater`; when it ends with a whole download, says
// where the package was kept (it is never run). True in that case.
bool RunUpdateWizard(CAutoUpdater& updater, QWidget* parent = nullptr);

// The start-up check: nothing unless the profile's "CheckUpdate" is set.
// The check runs on a worker and this returns at once (false when no check
// was started); when the answer comes, on this thread, the user is asked or
// told, and `answered` gets the check's result.
bool LaunchUpdate(QWidget* parent = nullptr, std::function<void(int)> answered = {});

}  // namespace corvan
