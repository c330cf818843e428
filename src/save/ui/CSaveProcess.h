#pragma once
// "Saving Data": the progress dialog of Recover. Its worker checks the
// destination's free space and runs the saving job over the items the
// results window has checked; the job fills the two bars and the folder
// and file lines. Stop asks before it stops the job (the job then asks
// about the file in hand); Min hides the results window with it. The dialog
// closes only after the worker has ended.

#include <QDialog>
#include <QPointer>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/ProgressSink.h"
#include "platform/WorkerThread.h"
#include "save/CThreadForSavingFiles.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace corvan {

class CDragTitle;
class CXBitmapButton;
class FoundItemStore;
class QtSaveDecisions;

class CSaveProcess : public QDialog, public ProgressSink {
  Q_OBJECT
 public:
  static constexpr int kIdMainBar = 1229, kIdFileBar = 1230, kIdMin = 1059, kIdStop = 1233, kIdHelp = 1234,
                       kIdCountText = 1228, kIdFolderText = 1231, kIdFileText = 1232, kIdOk = 1, kIdCancel = 1292,
                       kIdGroup = 1036, kIdFrame = 1281;
  static constexpr int kHelpContext = 146;
  static constexpr std::uint32_t kLineColour = 0xBFD0D0;

  // `owner`: the results window the dialog lies over; `store` and `view`:
  // what it shows, whose checked items are saved.
  CSaveProcess(QWidget* owner, FoundItemStore& store, int view);
  ~CSaveProcess() override;

  // Places the dialog and starts the worker (once).
  void Start();
  bool WorkerRunning() const { return m_worker.IsRunning(); }
  // What the job did; valid once the dialog has ended.
  const SaveJobResult& Result() const { return m_result; }
  bool SpaceRefused() const { return m_bSpaceRefused; }
  int LineAnchor() const { return m_nLineAnchor; }
  void ShowProgress();

  // Runs on the UI thread after the worker has ended, before the dialog
  // closes (the window renderer grabs the filled dialog there).
  static void SetBeforeEndHook(std::function<void(CSaveProcess&)> hook);

  // ---- ProgressSink (any thread) ----
  void SetRange(std::int64_t low, std::int64_t high) override;
  void SetStep(std::int64_t step) override;
  void SetPos(std::int64_t pos) override;
  void StepIt() override;
  void SetSecondRange(std::int64_t low, std::int64_t high) override;
  void SetSecondPos(std::int64_t pos) override;
  void SetCounterText(const std::string& text) override;
  void SetStatusText(const std::string& text) override;
  void SetSectorText(const std::string& text) override;
  void EnableStop(bool) override {}

  void OnStop();
  void OnMinimize();
  void OnHelp();
  void reject() override;
  void accept() override {}

 signals:
  void WorkerEnded();

 protected:
  void paintEvent(QPaintEvent*) override;
  void keyPressEvent(QKeyEvent* e) override;
  void changeEvent(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void SaveWorker();
  bool AskStop();
  void OnWorkerEnded();
  void Finish();
  void PlaceControls();

  QPointer<QWidget> m_pOwner;
  FoundItemStore& m_store;
  int m_nView;
  std::unique_ptr<QtSaveDecisions> m_decisions;
  WorkerThread m_worker;
  SaveJobResult m_result;
  bool m_bSpaceRefused = false;
  bool m_bStarted = false;
  bool m_bAsking = false;
  bool m_bEndPending = false;
  bool m_bEnded = false;
  int m_nLineAnchor = 0;

  CDragTitle* m_pTitle;
  QLabel* m_pFrame;
  QLabel* m_pHeading;
  QProgressBar* m_pMainBar;
  QProgressBar* m_pFileBar;
  QLabel* m_pCount;
  QLabel* m_pFolder;
  QLabel* m_pFile;
  CXBitmapButton* m_pMin;
  CXBitmapButton* m_pStop;
  CXBitmapButton* m_pHelp;
  QPushButton* m_pOk;
  QPushButton* m_pCancel;
  QTimer* m_pTimer;

  std::atomic<std::int64_t> m_nLow{0}, m_nHigh{100}, m_nStep{1}, m_nPos{0};
  std::atomic<std::int64_t> m_nSecondLow{0}, m_nSecondHigh{100}, m_nSecondPos{0};
  std::mutex m_textMutex;
  std::string m_strCount, m_strFolder, m_strFile;
};

}  // namespace corvan
