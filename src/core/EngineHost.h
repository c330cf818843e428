#pragma once
// What a recovery engine, a scan and a save see of the program: the windows
// they report to (found items, progress, the message box), the log report,
// the flags they share with the windows (busy, stop asked, critical phase,
// ...) and the few settings and lists their passes read. The application
// object is the host of the running program; runs without windows (tests,
// the headless scan driver) use a HeadlessHost.

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "core/FileTypeRecord.h"
#include "core/FoundItemSink.h"
#include "core/ProgressSink.h"
#include "core/Prompt.h"

namespace corvan {

class EngineHost {
 public:
  virtual ~EngineHost() = default;

  // ---- the windows (either may be null: nothing is shown) ----
  virtual FoundItemSink* ResultsSink() = 0;
  virtual ProgressSink* ScanProgressSink() = 0;
  virtual Prompt& GetPrompt() = 0;

  // ---- the log report ----
  virtual void AppendLog(const std::string& text, bool isHeading) = 0;
  // Writes what the log holds to its file, where it has one.
  virtual void FlushLog() {}
  // "Process started" with "Started on:" and the time; "Process completed"
  // or "Process aborted. User intervention" with their times.
  void LogProcessStarted();
  void LogProcessEnded(bool aborted);
  // A pass's heading and start lines; its end lines, aborted when Stop was asked.
  void LogPhaseStart(const std::string& heading) {
    AppendLog(heading, true);
    LogProcessStarted();
  }
  void LogPhaseEnd() { LogProcessEnded(StopRequested()); }

  // ---- flags shared with the windows ----
  virtual std::atomic<std::uint32_t>& BusyFlag() = 0;           // the worker runs
  virtual std::atomic<std::uint32_t>& AbortFlag() = 0;          // Stop was asked
  virtual std::atomic<std::uint32_t>& CriticalPhaseFlag() = 0;  // Stop and Cancel are refused
  virtual std::atomic<std::uint32_t>& FromScanInfoFlag() = 0;   // a saved scan is being restored
  virtual std::atomic<std::uint8_t>& VolumeOpenedFlag() = 0;
  virtual std::atomic<std::int32_t>& NextSyntheticId() = 0;     // ids of made-up items

  bool StopRequested() { return AbortFlag().load() != 0; }
  void SetCriticalPhase(bool on) { CriticalPhaseFlag() = on ? 1u : 0u; }

  // ---- what the passes read ----
  virtual std::uint32_t RecoveryMode() const = 0;  // 502 Raw ... 506 Advance
  virtual std::uint32_t RawSetting() const = 0;    // the "SetRaw" setting: 0 searches signatures
  virtual std::vector<FileTypeRecord>& SelectedTypeList() = 0;
  // Files Raw Recovery has carved in this scan; names of files with a name
  // suffix are numbered by it.
  virtual std::atomic<std::uint64_t>& RawFileCount() = 0;
};

}  // namespace corvan
