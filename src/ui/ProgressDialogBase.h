#pragma once
// What the scan and the saving progress dialogs share: a frameless modal
// dialog over the results window with a caption band, a framed work area,
// two bars, three text lines, Min/Stop/Help and the disabled OK/Cancel,
// and a worker thread that it outlives.
//
// The worker reports through ProgressSink from its own thread; the values
// are kept here and shown by a timer on the UI thread, so the worker never
// waits for the window and a million steps are not a million events.

#include <QDialog>
#include <QPointer>
#include <QRect>
#include <QString>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/ProgressSink.h"
#include "platform/WorkerThread.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace corvan {

class CDragTitle;
class CXBitmapButton;

class ProgressDialogBase : public QDialog, public ProgressSink {
  Q_OBJECT
 public:
  static constexpr std::uint32_t kLineColour = 0xBFD0D0;
  static constexpr std::uint32_t kBandEdgeColour = 0x646F71;

  struct ButtonSpec {
    int id;
    const char* caption;
    int width, height;
  };
  // The controls' ids, captions and sizes, which differ between the dialogs.
  struct Controls {
    int frameId, headingId;
    QString heading;
    int mainBarId, secondBarId;
    int textIds[3];  // counter, status and sector lines
    ButtonSpec min, stop, help;
    int okId, cancelId;  // 0: the dialog has no such button
    int pushButtonFontSize;
    int helpContext;
    // The area the dialog is placed in (empty: the default placement).
    QRect workArea;
  };

  ~ProgressDialogBase() override;

  // Places the dialog and starts the worker (once).
  void Start();
  bool WorkerRunning() const { return m_worker.IsRunning(); }
  // Shows what the worker reported so far (the timer does it on its own).
  void ShowProgress();
  // Y of the separator line (work-area top minus 13).
  int LineAnchor() const { return m_nLineAnchor; }

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
  void accept() override {}

 signals:
  // The worker has ended; the dialog closes right after (direct receivers
  // can still put their last texts on it).
  void WorkerEnded();

 protected:
  ProgressDialogBase(QWidget* owner, const QString& title, const Controls& controls);

  // Runs on the worker thread.
  virtual void RunWorker() = 0;
  // On the UI thread, right before the worker starts.
  virtual void OnStarting() = 0;
  // On the UI thread after the worker has ended and WorkerEnded was sent,
  // right before the dialog closes.
  virtual void OnEnding() = 0;
  // Asks whether to stop; the answer's effects are the dialog's own.
  virtual void AskStop() = 0;
  virtual void PlaceControls() = 0;

  // Sizes the dialog as wide as the owner's preview area, `belowTop` rows
  // below the work-area top, and sets the line anchor. Returns the width,
  // the work-area top and bottom.
  struct Placement {
    int width, top, bottom;
  };
  Placement PlaceOverOwner(int belowTop);

  // A running total that replaces the reported counter line once set.
  void SetCounterOverride(const QString& text);
  // Asks AskStop() as the open question; closes after the answer if the
  // worker ended while it was open.
  void RunStopQuestion();
  void Finish();

  void paintEvent(QPaintEvent*) override;
  void showEvent(QShowEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void changeEvent(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

  QPointer<QWidget> m_pOwner;
  Controls m_controls;
  WorkerThread m_worker;
  bool m_bStarted = false;
  bool m_bAsking = false;      // a question of Stop or Cancel is open
  bool m_bEndPending = false;  // the worker ended while it was open
  bool m_bEnded = false;
  int m_nLineAnchor = 0;

  CDragTitle* m_pTitle;
  QLabel* m_pFrame;
  QLabel* m_pHeading;
  QProgressBar* m_pMainBar;
  QProgressBar* m_pSecondBar;
  QLabel* m_pTexts[3];
  CXBitmapButton* m_pMin;
  CXBitmapButton* m_pStop;
  CXBitmapButton* m_pHelp;
  QPushButton* m_pOk;      // null when the dialog has none
  QPushButton* m_pCancel;  // null when the dialog has none
  QTimer* m_pTimer;

 private:
  void OnWorkerEnded();

  int m_nHelpContext;
  // What the worker reported, shown by the timer.
  std::atomic<std::int64_t> m_nLow{0}, m_nHigh{100}, m_nStep{1}, m_nPos{0};
  std::atomic<std::int64_t> m_nSecondLow{0}, m_nSecondHigh{100}, m_nSecondPos{0};
  std::atomic<bool> m_bStopEnabled{true};
  std::mutex m_textMutex;
  std::string m_strTexts[3];
  QString m_strCounterOverride;
};

}  // namespace corvan
