#pragma once
// "Scanning Data": the progress dialog of a scan. It runs the scan worker
// on a worker thread, shows the engines' progress (two bars and three
// texts), offers Min, Stop and Help, refuses Cancel while the engine reads
// critical structures, and closes only after the worker has ended.
//
// The engines report through ProgressSink from the worker thread; the
// values are kept here and shown by a timer on the UI thread, so the worker
// never waits for the window and a million steps are not a million events.

#include <QDialog>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "app/ProgressSink.h"
#include "platform/WorkerThread.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace corvan {

class CDragTitle;
class CXBitmapButton;
class EngineBackend;
class FoundItemSink;

class CScanProcess : public QDialog, public ProgressSink {
  Q_OBJECT
 public:
  static constexpr int kIdMainBar = 1207;
  static constexpr int kIdSecondBar = 1213;
  static constexpr int kIdMin = 1059;
  static constexpr int kIdStop = 1067;
  static constexpr int kIdHelp = 1131;
  static constexpr int kIdCounterText = 1214;
  static constexpr int kIdStatusText = 1215;
  static constexpr int kIdSectorText = 1216;
  static constexpr int kIdOk = 1;
  static constexpr int kIdCancel = 1292;
  static constexpr int kIdHeading = 1036;
  static constexpr int kIdFrame = 1281;
  static constexpr int kHelpContext = 135;
  static constexpr std::uint32_t kLineColour = 0xBFD0D0;
  static constexpr std::uint32_t kBandEdgeColour = 0x646F71;

  // `owner` is the results window the dialog lies over; `console` the sink
  // the engines report found items to.
  CScanProcess(QWidget* owner, EngineBackend& engines, FoundItemSink* console);
  ~CScanProcess() override;

  // Places the dialog over the owner's preview area and starts the worker
  // (once).
  void Start();
  bool WorkerRunning() const { return m_worker.IsRunning(); }
  // The running total line that the results window puts on the dialog.
  void SetTotalText(const QString& text);
  // Shows what the worker reported so far (the timer does it on its own).
  void ShowProgress();
  // Y of the separator line (work-area top minus 13).
  int LineAnchor() const { return m_nLineAnchor; }

  // Runs on the UI thread after the worker has ended, before the dialog
  // closes (the window renderer grabs the filled dialog there).
  static void SetBeforeEndHook(std::function<void(CScanProcess&)> hook);

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
  void EnableStop(bool enabled) override;

  void OnStop();
  void OnMinimize();
  void OnHelp();
  // The window's close and Escape-free cancel: refused while critical work
  // runs, a stop request while the worker runs, else the dialog closes.
  void reject() override;
  void accept() override {}

 signals:
  // The worker has ended; the dialog closes right after (direct receivers
  // can still put their last texts on it).
  void WorkerEnded();

 protected:
  void paintEvent(QPaintEvent*) override;
  void keyPressEvent(QKeyEvent* e) override;
  void changeEvent(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

 private:
  void OnWorkerEnded();
  void Finish();
  void PlaceControls();
  QPushButton* MakePushButton(int id, const QString& text);

  QWidget* m_pOwner;
  EngineBackend& m_engines;
  FoundItemSink* m_pConsole;
  WorkerThread m_worker;
  bool m_bStarted = false;
  bool m_bAsking = false;      // a question of Stop or Cancel is open
  bool m_bEndPending = false;  // the worker ended while it was open
  bool m_bEnded = false;
  int m_nLineAnchor = 0;

  CDragTitle* m_pTitle;
  QLabel* m_pHeading;
  QLabel* m_pFrame;
  QProgressBar* m_pMainBar;
  QProgressBar* m_pSecondBar;
  QLabel* m_pTexts[3];
  CXBitmapButton* m_pMin;
  CXBitmapButton* m_pStop;
  CXBitmapButton* m_pHelp;
  QPushButton* m_pOk;
  QPushButton* m_pCancel;
  QTimer* m_pTimer;

  // What the worker reported, shown by the timer.
  std::atomic<std::int64_t> m_nLow{0}, m_nHigh{100}, m_nStep{1}, m_nPos{0};
  std::atomic<std::int64_t> m_nSecondLow{0}, m_nSecondHigh{100}, m_nSecondPos{0};
  std::atomic<bool> m_bStopEnabled{true};
  std::mutex m_textMutex;
  std::string m_strCounter, m_strStatus, m_strSector;
  QString m_strTotal;
};

}  // namespace corvan
