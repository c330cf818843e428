#include "scan/ScanWorker.h"

#include "core/EngineHost.h"
#include "core/RecoveryMode.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "sources/SourceRecords.h"
#include "sources/Volume.h"

namespace corvan {

void ScanWorker::Report(std::string text) {
  problem_ = std::move(text);
  job_.host.AppendLog(problem_, false);
  job_.host.GetPrompt().MessageBox(problem_, kPicInformation, kMbOk);
}

void ScanWorker::Run() {
  EngineHost& host = job_.host;
  if (ProgressSink* progress = host.ScanProgressSink()) {
    progress->SetPos(0);
    progress->SetSecondPos(0);
  }
  host.RawFileCount() = 0;

  if (job_.mode == kModeScanNow) {
    if (!job_.resumeSavedScan) {
      Report("No saved scan was given to resume.");
      return;
    }
    job_.session->Release();
    host.BusyFlag() = 1;
    host.AbortFlag() = 0;
    host.LogPhaseStart("Opening volume using saved scan information");
    job_.resumeSavedScan();
    host.LogPhaseEnd();
    End();
    return;
  }

  job_.session->Release();
  host.BusyFlag() = 1;
  host.AbortFlag() = 0;
  host.FromScanInfoFlag() = 0;

  const SourceSelection& selection = job_.selection;
  const SourceRecord* source = selection.source;
  if (!source) {
    Report("No disk or volume is selected.");
    End();
    return;
  }
  if (job_.mode == kModeRaw && host.SelectedTypeList().empty()) {
    // A signature search without signatures would read the whole volume and
    // find nothing.
    Report("No file type is selected for Raw Recovery. Choose the file types to search for, then start again.");
    End();
    return;
  }
  // A volume the lost-volume search found in an image names the image, but
  // lies on the virtual disk the search read: it is read through that disk.
  const bool foundInImage = source->kind == kSourceImageLostVolume || source->kind == kSourceImageDeepLostVolume;
  const bool readThroughPath = source->path.size() > 1 && !foundInImage;
  const std::uint8_t fsKind = source->partition ? source->partition->fileSystemKind : 0;
  const std::uint32_t mode = job_.mode;

  engine_ = ChooseEngine(source->kind, fsKind, mode, job_.advanceChoice);
  ScanEngine* engine = nullptr;
  if (engine_ != EngineKind::None) {
    std::unique_ptr<ScanEngine> built = engines_.Create(host, engine_);
    engine = built.get();
    if (engine) {
      job_.session->Hold(engine_, std::move(built));
    } else {
      Report("The " + std::string(EngineName(engine_)) + " recovery engine is not available in this version.");
      engine_ = EngineKind::None;
    }
  }
  if (engine) {
    const Volume volume = MakeVolume(*source, selection.disk, readThroughPath);
    if (UsesVolumeRange(mode, source->kind)) {
      engines_.SetVolumeRange(*engine, engine_, volume, selection.mediaFirstSector, selection.mediaLastSector);
    } else {
      engines_.Prepare(*engine, engine_, volume);
    }
    pass_ = ChoosePass(mode, engine_, source->kind, selection.quickVolumeSearch);
    const PassOutcome outcome = pass_ == ScanPass::None ? PassOutcome::Ran : engines_.RunPass(*engine, engine_, pass_);
    if (outcome == PassOutcome::NotBuilt) {
      Report("This recovery mode is not available for " + std::string(EngineName(engine_)) +
             " volumes in this version.");
    } else if (outcome == PassOutcome::Refused) {
      problem_ = LoadString(kIdsInvalidVolume);  // the engine has shown it already
    }
  }
  End();
}

void ScanWorker::End() {
  // The worker is no longer busy and a stop asked is answered, whoever
  // hosts the job; the program's host also notes whether results are there.
  job_.host.BusyFlag() = 0;
  job_.host.AbortFlag() = 0;
  if (job_.resetScanState) job_.resetScanState();
  if (FoundItemSink* results = job_.host.ResultsSink()) results->UpdateStatusText(0);
  job_.host.FlushLog();
}

bool RequestStop(EngineHost& host) {
  if (host.GetPrompt().MessageBoxId(kIdsAbortQuestion, kPicQuestion, kMbYesNo) != kIdYes) return false;
  host.AbortFlag() = 1;
  return true;
}

CancelAnswer RequestCancel(EngineHost& host, bool workerRunning) {
  if (host.CriticalPhaseFlag()) {
    host.GetPrompt().MessageBoxId(kIdsCriticalPhase, kPicWarning, kMbOk);
    return CancelAnswer::Refused;
  }
  if (workerRunning) return RequestStop(host) ? CancelAnswer::Stopping : CancelAnswer::KeepRunning;
  return CancelAnswer::CloseNow;
}

}  // namespace corvan
