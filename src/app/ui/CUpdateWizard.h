#pragma once
// The update wizard: a welcome page, the version check, and the download of
// the package on a worker thread. A downloaded package is kept for the user
// and never run.

#include <QThread>
#include <QWizard>
#include <QWizardPage>

#include "app/AutoUpdater.h"

class QLabel;
class QMovie;
class QProgressBar;
class QTimer;

namespace corvan {

class CUpdateStartPage final : public QWizardPage {
 public:
  CUpdateStartPage();
};

class CUpdateProcessPage final : public QWizardPage {
 public:
  explicit CUpdateProcessPage(CAutoUpdater& updater);
  void initializePage() override;
  bool isComplete() const override { return m_bNext; }
  // The check by its result; public so the check can be driven directly.
  void RunCheck();
  int LastResult() const { return m_nResult; }
  QLabel* StatusText() const { return m_pStatus; }
  QLabel* Notice() const { return m_pNotice; }
  QLabel* Link() const { return m_pLink; }

 private:
  CAutoUpdater& m_updater;
  QLabel* m_pStatus;
  QLabel* m_pNotice;
  QLabel* m_pLink;
  QLabel* m_pAnimation;
  QMovie* m_pMovie = nullptr;
  QTimer* m_pTimer;
  bool m_bNext = false;
  int m_nResult = -1;
};

class CUpdateThread;

class CUpdateFinalPage final : public QWizardPage, public UpdateProgressPage {
 public:
  explicit CUpdateFinalPage(CAutoUpdater& updater);
  ~CUpdateFinalPage() override;
  void initializePage() override;
  bool isComplete() const override { return m_bDone; }
  // Waits for the download's thread; the wizard's cancel has asked it to stop.
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
  explicit CUpdateWizard(CAutoUpdater& updater, QWidget* parent = nullptr);
  // Cancel while the package downloads asks first.
  void reject() override;

  CUpdateStartPage* StartPage() const { return m_pStart; }
  CUpdateProcessPage* ProcessPage() const { return m_pProcess; }
  CUpdateFinalPage* FinalPage() const { return m_pFinal; }

 private:
  CUpdateStartPage* m_pStart;
  CUpdateProcessPage* m_pProcess;
  CUpdateFinalPage* m_pFinal;
};

// Runs the wizard over `updater`; when it ends with a whole download, says
// where the package was kept (it is never run). True in that case.
bool RunUpdateWizard(CAutoUpdater& updater, QWidget* parent = nullptr);

// The start-up check: nothing unless the profile's "CheckUpdate" is set.
// Returns the check's result, or -1 when no check ran.
int LaunchUpdate(QWidget* parent = nullptr);

}  // namespace corvan
