#pragma once
// The scan worker: frees the previous scan's engine, builds the engine for
// the selected source, prepares it, runs the pass of the recovery mode and
// ends with the shared scan state reset. The progress dialog runs it on a
// worker thread and closes itself only after it has returned.

#include <cstdint>
#include <string>

#include "scan/ScanDispatch.h"

namespace corvan {

class CORVANApp;
struct SourceRecord;

// What the worker asks of the engines. The program's engines stand behind
// the real one; tests give their own.
class EngineBackend {
 public:
  enum class Outcome { Ran, NotBuilt };
  virtual ~EngineBackend() = default;
  // Puts a new engine of `kind` into the application's slot for it; false
  // when this program has no such engine.
  virtual bool Create(CORVANApp& app, EngineKind kind) = 0;
  virtual void Prepare(CORVANApp& app, EngineKind kind, const SourceRecord& source, bool readThroughPath) = 0;
  virtual void SetVolumeRange(CORVANApp& app, bool readThroughPath, std::uint64_t first, std::uint64_t last) = 0;
  virtual Outcome RunPass(CORVANApp& app, ScanPass pass) = 0;
};

class ScanWorker {
 public:
  ScanWorker(CORVANApp& app, EngineBackend& engines) : app_(app), engines_(engines) {}

  void Run();

  // What the scan built and ran (for tests and the headless driver).
  EngineKind Engine() const { return engine_; }
  ScanPass Pass() const { return pass_; }
  // Set when the scan could not do what was asked; the user was told.
  const std::string& Problem() const { return problem_; }

 private:
  void Report(std::string text);
  void FreeEngines();
  void End();

  CORVANApp& app_;
  EngineBackend& engines_;
  EngineKind engine_ = EngineKind::None;
  ScanPass pass_ = ScanPass::None;
  std::string problem_;
};

// Stop: asks whether to abort (284) and on Yes asks the engines to stop.
// The worker stays "busy" until it has really ended.
bool RequestStop(CORVANApp& app);

// Cancel (the window's close): refused with 360 while the engine reads
// critical structures; while the worker runs it is a Stop; otherwise the
// dialog may close.
enum class CancelAnswer { Refused, Stopping, KeepRunning, CloseNow };
CancelAnswer RequestCancel(CORVANApp& app, bool workerRunning);

}  // namespace corvan
