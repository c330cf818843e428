#pragma once
// The worker that applies a file mask: it marks the busy and mask-running
// flags, rebuilds the filtered view from the criteria a stretch of the
// store at a time (reporting the running total), clears the flags and
// ends. The window that started it joins it when it hears the end; a
// second mask is refused while one runs.

#include <atomic>
#include <functional>
#include <string>

#include "console/FileMask.h"
#include "platform/WorkerThread.h"

namespace corvan {

// What the results window hears from the worker, on the worker's thread.
class MaskSink {
 public:
  virtual ~MaskSink() = default;
  // The flags are up: Back, Find and "X" go off.
  virtual void OnMaskStarted() {}
  // The running total, "Total ... folder(s)".
  virtual void OnMaskProgress(const std::string& text) { (void)text; }
  // The flags are down; the filtered tree is complete.
  virtual void OnMaskEnded(const MaskResults& results) { (void)results; }
};

struct MaskJob {
  FoundItemStore& store;
  MaskCriteria criteria;
  StampKind stamps = StampKind::Ntfs;
  std::atomic<std::uint32_t>& busy;
  std::atomic<std::uint32_t>& abort;
  std::atomic<std::uint32_t>& maskRunning;
  // Clears busy, abort and mask-running (the application's own reset,
  // which also notes that results are present); the flags alone when unset.
  std::function<void()> resetScanState;
  MaskSink* sink = nullptr;
  std::function<DayDate()> today = [] { return TodayUtc(); };
};

class CThreadForMask {
 public:
  explicit CThreadForMask(MaskJob job) : m_job(std::move(job)) {}

  // The body on a new thread; false (and nothing started) while a mask
  // already runs. The flags are up when it returns.
  bool Start();
  // The body on the caller's thread.
  void Run();
  void Join() { m_thread.Join(); }
  bool IsRunning() const { return m_thread.IsRunning(); }
  const MaskResults& Results() const { return m_results; }

 private:
  // Busy up, stop cleared.
  void RaiseFlags();
  // The walk and the reports, with the flags already up.
  void Work();

  MaskJob m_job;
  MaskResults m_results;
  WorkerThread m_thread;
};

}  // namespace corvan
