#pragma once
// The scan worker: frees the previous scan's engine, builds the engine for
// the selected source, prepares it, runs the pass of the recovery mode and
// ends with the shared scan state reset. The progress dialog runs it on a
// worker thread and closes itself only after it has returned.

#include <cstdint>
#include <string>

#include "scan/EngineRegistry.h"
#include "scan/ScanDispatch.h"
#include "scan/ScanJob.h"

namespace corvan {

class EngineHost;
struct Volume;

// What the worker asks of the engines. The program's engines (the engine
// registry) stand behind the real one; tests give their own.
class EngineBackend {
 public:
  using Outcome = PassOutcome;
  virtual ~EngineBackend() = default;
  // A new engine of `kind` reporting to `host`; null when this program has
  // no such engine.
  virtual std::unique_ptr<ScanEngine> Create(EngineHost& host, EngineKind kind) = 0;
  virtual void Prepare(ScanEngine& engine, EngineKind kind, const Volume& volume) = 0;
  // `engine` is always one this backend built as `kind`.
  virtual void SetVolumeRange(ScanEngine& engine, EngineKind kind, const Volume& disk, std::uint64_t first,
                              std::uint64_t last) = 0;
  virtual Outcome RunPass(ScanEngine& engine, EngineKind kind, ScanPass pass) = 0;
};

class ScanWorker {
 public:
  ScanWorker(ScanJob job, EngineBackend& engines) : job_(std::move(job)), engines_(engines) {}

  void Run();

  // What the scan built and ran (for tests and the headless driver).
  EngineKind Engine() const { return engine_; }
  ScanPass Pass() const { return pass_; }
  // Set when the scan could not do what was asked; the user was told.
  const std::string& Problem() const { return problem_; }

 private:
  void Report(std::string text);
  void End();

  ScanJob job_;
  EngineBackend& engines_;
  EngineKind engine_ = EngineKind::None;
  ScanPass pass_ = ScanPass::None;
  std::string problem_;
};

// Stop: asks whether to abort (284) and on Yes asks the engines to stop.
// The worker stays "busy" until it has really ended.
bool RequestStop(EngineHost& host);

// Cancel (the window's close): refused with 360 while the engine reads
// critical structures; while the worker runs it is a Stop; otherwise the
// dialog may close.
enum class CancelAnswer { Refused, Stopping, KeepRunning, CloseNow };
CancelAnswer RequestCancel(EngineHost& host, bool workerRunning);

}  // namespace corvan
