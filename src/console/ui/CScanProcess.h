#pragma once
// "Scanning Data": the progress dialog of a scan. It runs the scan worker
// on a worker thread, shows the engines' progress (two bars and three
// texts), offers Min, Stop and Help, refuses Cancel while the engine reads
// critical structures, and closes only after the worker has ended.

#include <QString>
#include <cstdint>
#include <functional>

#include "scan/ScanJob.h"
#include "ui/ProgressDialogBase.h"

namespace corvan {

class EngineBackend;
class FoundItemSink;

class CScanProcess : public ProgressDialogBase {
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

  // `owner` is the results window the dialog lies over; `console` the sink
  // the engines report found items to; `job` the scan the owner asks for,
  // which the worker runs as it was handed.
  CScanProcess(QWidget* owner, EngineBackend& engines, FoundItemSink* console, ScanJob job);
  ~CScanProcess() override;

  // The running total line that the results window puts on the dialog.
  void SetTotalText(const QString& text) { SetCounterOverride(text); }

  // Runs on the UI thread after the worker has ended, before the dialog
  // closes (the window renderer grabs the filled dialog there).
  static void SetBeforeEndHook(std::function<void(CScanProcess&)> hook);

  // The window's close and Escape-free cancel: refused while critical work
  // runs, a stop request while the worker runs, else the dialog closes.
  void reject() override;

 protected:
  void RunWorker() override;
  void OnStarting() override;
  void OnEnding() override;
  void AskStop() override;
  void PlaceControls() override;

 private:
  EngineBackend& m_engines;
  FoundItemSink* m_pConsole;
  ScanJob m_job;
};

}  // namespace corvan
