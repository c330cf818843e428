#include "app/Jobs.h"

#include "app/CORVANApp.h"
#include "save/CThreadForSavingFiles.h"

namespace corvan {

namespace {
EngineSlots Slots(CORVANApp& app) { return EngineSlots{app.m_pFatEngine, app.m_pNtfsEngine, app.m_pExFatEngine}; }
}  // namespace

ScanJob MakeScanJob(CORVANApp& app) {
  return ScanJob{.host = app,
                 .engines = Slots(app),
                 .scanResumed = app.m_bScanResumed,
                 .rawFileCount = app.m_nRawFileCount,
                 .source = app.m_sourceList.m_pSelectedSource,
                 .disk = app.m_pDisk,
                 .mode = app.m_nRecoveryMode,
                 .advanceChoice = app.m_nAdvanceFsChoice,
                 .quickVolumeSearch = app.m_bQuickVolumeSearch != 0,
                 .mediaFirstSector = app.m_nMediaFirstSector,
                 .mediaLastSector = app.m_nMediaLastSector,
                 .resetScanState = [&app] { app.ResetScanState(); }};
}

SaveJob MakeSaveJob(CORVANApp& app) {
  SaveJob job{.host = app,
              .answers = {app.m_bSkip, app.m_bSkipAll, app.m_bRename, app.m_bRenameAll, app.m_bOverwrite,
                          app.m_bOverwriteAll},
              .engine = nullptr,
              .volumeKind = kSaveVolumeFat,
              .progress = app.m_pSaveProgressDlg,
              .masks = app.m_saveMasks,
              .maskExclude = app.m_bSaveMaskExclude};
  job.UseFirstEngine(Slots(app));
  return job;
}

void TakeSaveOptions(const CORVANApp& app, CThreadForSavingFiles& saver) {
  saver.m_bCreateZip = app.m_bCreateZip;
  saver.m_nZipMode = app.m_nZipMode;
  saver.m_nDestKind = app.m_nDestKind;
  saver.m_szDest = app.m_szSaveDest;
  saver.m_nSelectMode = app.m_bSaveFullOptions ? 1 : 0;
  saver.m_nWhichFiles = app.m_bSaveFullOptions ? app.m_nDeletedMode : 0;
}

}  // namespace corvan
