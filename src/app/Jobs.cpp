#include "app/Jobs.h"

#include "app/CORVANApp.h"
#include "app/SourceSetup.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "platform/TimeFormat.h"
#include "scan/ScanInfoJobs.h"
#include "platform/TextConv.h"

namespace corvan {

ScanJob MakeScanJob(CORVANApp& app, SourceSelection selection) {
  return ScanJob{.host = app,
                 .session = app.m_pScanSession,
                 .selection = std::move(selection),
                 .mode = app.m_nRecoveryMode,
                 .advanceChoice = app.m_nAdvanceFsChoice,
                 .resetScanState = [&app] { app.ResetScanState(); },
                 // Until the resume page chooses a saved scan there is none to resume.
                 .resumeSavedScan = app.m_scanInfoFile.empty() ? std::function<bool()>{}
                                                                : [&app] { return ResumeSavedScan(app); }};
}

bool CORVANApp::SaveDriveScanInfo(const std::filesystem::path& chosen) {
  const std::filesystem::path path = DriveScanFileName(chosen);
  ScanInfoWriteOptions options;
  options.savedDate = Utf8ToUtf16(FormatNow("%d-%b-%Y"));
  options.indexFile = ScanIndexPath();
  std::vector<SourceRecord> sources;
  for (const auto& r : m_sourceList.m_sources)
    if (r) sources.push_back(CopySourceRecord(*r));
  const ScanInfoWriteResult written = WriteDriveScanFile(path, sources, options);
  if (!written) {
    GetPrompt().MessageBox(LoadString(kIdsCantOpenFile) + path.string(), kPicError, kMbOk);
    return false;
  }
  m_profile.WriteString(kProductSection, "ScanPath", path.string());
  m_bDriveScanSaved = 1;
  m_bHaveFoundVolumes = 1;
  return true;
}

bool SaveScanInformation(CORVANApp& app, const std::filesystem::path& path, const ScanInfoItemSource& items) {
  app.FlushLog();
  app.m_bBusy = 1;
  app.m_bAbort = 0;
  app.AppendLog("Saving scan information of volume to a file", true);
  app.AppendLog(path.string(), false);
  app.AppendLog(LoadString(kIdsProcessStarted), false);
  app.FlushLog();
  bool saved = false;
  const ScanSession& session = *app.m_pScanSession;
  if (session.Kind() != EngineKind::None && app.m_sourceList.m_pSelectedSource) {
    ScanSaveRequest request;
    request.engineKind = session.Kind();
    request.engine = session.Engine();
    request.sources = &app.m_sourceList.m_sources;
    request.selected = app.m_sourceList.m_pSelectedSource;
    request.items = items;
    // The image as it was mounted for the scan.
    const std::filesystem::path image = app.m_pImage ? app.m_pImage->State().m_strImagePath : app.m_strImagePath;
    request.image = image;
    request.imageType =
        static_cast<std::uint8_t>(app.m_pImage ? app.m_pImage->State().m_nImageType : app.m_nImageType);
    request.driveScanSaved = app.DriveScanSaved();
    request.options.savedDate = Utf8ToUtf16(FormatNow("%d-%b-%Y"));
    request.options.indexFile = ScanIndexPath();
    const ScanInfoWriteResult written = SaveVolumeScan(path, request);
    saved = static_cast<bool>(written);
    app.m_bFromScanInfo = saved ? 1 : 0;
    if (saved) {
      app.GetProfile().WriteString(kProductSection, "ScanPath", path.string());
    } else {
      // The old file, if any, is as it was: the save went to a temporary file.
      app.GetPrompt().MessageBox(LoadString(kIdsCantOpenFile) + path.string(), kPicError, kMbOk);
      app.AppendLog(written.detail, false);
    }
  }
  app.AppendLog(LoadString(kIdsProcessCompleted), false);
  app.ResetScanState();
  app.FlushLog();
  return saved;
}

bool ResumeSavedScan(CORVANApp& app) {
  ScanLoadRequest request{.host = app,
                          .mount = [&app](const std::filesystem::path& image,
                                          std::uint8_t type) -> std::shared_ptr<SectorSource> {
                            const MountOutcome mounted = MountAndListSources(app, type, image);
                            if (!mounted.mounted) return nullptr;
                            app.m_nImageType = type;
                            app.m_strImagePath = image;
                            return app.m_pDisk;
                          },
                          // The saved list replaces the one the image's tables
                          // give, before the root is named after the selection:
                          // the saved record that matches the saved selection,
                          // or that record.
                          .sourcesRead = [&app](ScanLoadResult& loaded) {
                            app.m_sourceList.m_sources = std::move(loaded.sources);
                            app.m_sourceList.m_pSelectedSource = nullptr;
                            for (const auto& r : app.m_sourceList.m_sources) {
                              if (r->kind == loaded.selected->kind && r->index == loaded.selected->index) {
                                app.m_sourceList.m_pSelectedSource = r.get();
                                break;
                              }
                            }
                            if (!app.m_sourceList.m_pSelectedSource)
                              app.m_sourceList.m_pSelectedSource =
                                  &app.m_sourceList.AppendSource(std::move(loaded.selected));
                          }};
  ScanLoadResult loaded = LoadVolumeScan(app.m_scanInfoFile, request);
  app.m_bScanInfoLoadOk = loaded.ok ? 1 : 0;
  if (!loaded.ok) return false;
  app.m_pScanSession->Hold(loaded.engineKind, std::move(loaded.engine));
  app.m_bResultsPresent = 1;
  return true;
}

LostVolumeJob MakeLostVolumeJob(CORVANApp& app, SourceSelection selection, LostVolumeSink* sink, bool deep,
                                bool imageFlag) {
  std::u16string path = Utf8ToUtf16(app.m_strSourcePath.string());
  return LostVolumeJob{.host = app,
                       .listed = ListedSourcesOf(app.m_sourceList),
                       .appendSource = [&app](std::unique_ptr<SourceRecord> record) -> SourceRecord& {
                         return app.m_sourceList.AppendSource(std::move(record));
                       },
                       .selection = std::move(selection),
                       .session = app.m_pScanSession,
                       .volumesFoundBefore = app.m_nFoundVolumeCount,
                       .deep = deep,
                       .imageFlag = imageFlag,
                       .path = std::move(path),
                       .sink = sink,
                       .resetScanState = [&app] { app.ResetScanState(); },
                       .freeResults =
                           [&app] {
                             app.m_fileExistAnswers = FileExistAnswers{};
                             app.FreeResultLists();
                             app.m_bResultsPresent = 0;
                           },
                       // Leaving the results window then offers to save the found volumes too.
                       .volumeFound =
                           [&app](std::uint32_t total) {
                             app.m_nFoundVolumeCount = total;
                             app.m_bHaveFoundVolumes = 0;
                           }};
}

SaveJob MakeSaveJob(CORVANApp& app) {
  SaveJob job(app);
  job.progress = app.m_pSaveProgressDlg;
  job.request.masks = app.m_saveChoice.m_saveMasks;
  job.request.maskExclude = app.m_saveChoice.m_bSaveMaskExclude;
  job.UseEngineOf(*app.m_pScanSession);
  return job;
}

void TakeSaveOptions(const CORVANApp& app, SaveRequest& request) {
  request.m_bCreateZip = app.m_saveChoice.m_bCreateZip;
  request.m_nZipMode = app.m_saveChoice.m_nZipMode;
  request.m_nDestKind = app.m_saveChoice.m_nDestKind;
  request.m_szDest = app.m_saveChoice.m_szSaveDest;
  request.m_ftp = app.m_saveChoice.m_ftpSettings;
  request.m_nSelectMode = app.m_saveChoice.m_bSaveFullOptions ? 1 : 0;
  request.m_nWhichFiles = app.m_saveChoice.m_bSaveFullOptions ? app.m_saveChoice.m_nDeletedMode : 0;
}

void KeepSaveAnswers(CORVANApp& app, const SaveJobResult& result) {
  app.m_fileExistAnswers = result.answers;
}

}  // namespace corvan
