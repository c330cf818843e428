#include "scan/ScanWorker.h"

#include "app/CORVANApp.h"
#include "core/StringTable.h"
#include "scan/RecoveryMode.h"

namespace corvan {

namespace {
constexpr unsigned kIdsAbortQuestion = 284;
constexpr unsigned kIdsCriticalPhase = 360;
}  // namespace

void ScanWorker::Report(std::string text) {
  problem_ = std::move(text);
  app_.AppendLog(problem_, false);
  app_.GetPrompt().MessageBox(problem_, kPicInformation, kMbOk);
}

void ScanWorker::FreeEngines() {
  for (auto* slot : {&app_.m_pFatEngine, &app_.m_pNtfsEngine, &app_.m_pExFatEngine}) {
    if (*slot) {
      (*slot)->FreeLists();
      slot->reset();
    }
  }
}

void ScanWorker::Run() {
  if (ProgressSink* progress = app_.m_pScanProgressDlg) {
    progress->SetPos(0);
    progress->SetSecondPos(0);
  }
  app_.m_nRawFileCount = 0;

  if (app_.m_nRecoveryMode == kModeScanNow) {
    app_.m_bScanResumed = 1;
    Report("Resuming a saved scan is not available in this version.");
    return;
  }

  FreeEngines();
  app_.m_bBusy = 1;
  app_.m_bAbort = 0;
  app_.m_bFromScanInfo = 0;
  app_.m_bScanResumed = 0;

  const SourceRecord* source = app_.m_sourceList.m_pSelectedSource;
  if (!source) {
    Report("No disk or volume is selected.");
    End();
    return;
  }
  const bool readThroughPath = source->path.size() > 1;
  const std::uint8_t fsKind = source->partition ? source->partition->fileSystemKind : 0;
  const std::uint32_t mode = app_.m_nRecoveryMode;

  engine_ = ChooseEngine(source->kind, fsKind, mode, app_.m_nAdvanceFsChoice);
  if (engine_ != EngineKind::None && !engines_.Create(app_, engine_)) {
    Report("The " + std::string(EngineName(engine_)) + " recovery engine is not available in this version.");
    engine_ = EngineKind::None;
  }
  if (engine_ != EngineKind::None) {
    if (UsesVolumeRange(mode, source->kind)) {
      engines_.SetVolumeRange(app_, readThroughPath, app_.m_nMediaFirstSector, app_.m_nMediaLastSector);
    } else {
      engines_.Prepare(app_, engine_, *source, readThroughPath);
    }
    pass_ = ChoosePass(mode, engine_, source->kind, app_.m_bQuickVolumeSearch != 0);
    if (pass_ != ScanPass::None && engines_.RunPass(app_, pass_) == EngineBackend::Outcome::NotBuilt) {
      Report("This recovery mode is not available for " + std::string(EngineName(engine_)) +
             " volumes in this version.");
    }
  }
  End();
}

void ScanWorker::End() {
  app_.ResetScanState();
  if (app_.m_pConsole) app_.m_pConsole->UpdateStatusText(0);
  app_.FlushLog();
}

bool RequestStop(CORVANApp& app) {
  if (app.GetPrompt().MessageBoxId(kIdsAbortQuestion, kPicQuestion, kMbYesNo) != kIdYes) return false;
  app.m_bAbort = 1;
  return true;
}

CancelAnswer RequestCancel(CORVANApp& app, bool workerRunning) {
  if (app.m_bCriticalPhase) {
    app.GetPrompt().MessageBoxId(kIdsCriticalPhase, kPicWarning, kMbOk);
    return CancelAnswer::Refused;
  }
  if (workerRunning) return RequestStop(app) ? CancelAnswer::Stopping : CancelAnswer::KeepRunning;
  return CancelAnswer::CloseNow;
}

}  // namespace corvan
