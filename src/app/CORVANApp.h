#pragma once
// The application object: state that several subsystems share, the log
// report and the settings. Windows reach workers only through the sinks it
// holds (progress, found items, prompt), never the other way round.

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/EngineHost.h"
#include "core/ProgressSink.h"
#include "core/Prompt.h"
#include "core/ScanEngine.h"
#include "scan/ScanSession.h"
#include "core/FoundItemSink.h"
#include "platform/Settings.h"
#include "save/FtpSettings.h"
#include "save/SaveJob.h"
#include "core/FileTypeRecord.h"
#include "sources/SourceList.h"
#include "sources/VirtualDiskImage.h"

namespace corvan {


struct WorkArea {
  int left = 0, top = 0, right = 0, bottom = 0;
};

// The answers of the question whether logs are to be saved.
enum class SaveLogAnswer { Always, AskMeLater, Never };

// The sectors a scan is bounded to: the media range the slider sets and the
// region the specified-region dialog sets.
struct ScanBounds {
  std::uint64_t m_nMediaFirstSector = 0;
  std::uint64_t m_nMediaLastSector = 0;
  std::uint64_t m_nRegionFirstSector = 0;
  std::uint64_t m_nRegionLastSector = 0;
};

// The log report's switches: whether the user keeps a log file, and whether
// this run's file is open.
struct LogSwitches {
  std::uint32_t m_bSaveLog = 0;
  std::uint32_t m_bLogReady = 0;
  // The last flush ended the file with a line end of its own; entries begin
  // with theirs, so the next flush writes over it.
  bool m_bLineClosed = false;
};

// The online update's download: Cancel (set until a download runs), whether
// one runs, and where the package was kept.
struct UpdateDownload {
  std::atomic<std::uint32_t> m_bUpdateCancel{1};
  std::atomic<std::uint32_t> m_bUpdateDownloading{0};
  std::filesystem::path m_strUpdateInstaller;
};

// What the destination dialog chose last, kept for the next save of the run;
// a save's request is made from it (TakeSaveOptions).
struct SaveChoice {
  std::uint8_t m_bCreateZip = 0, m_bSaveReady = 0, m_bSaveFullOptions = 0;
  std::uint8_t m_nDeletedMode = 0, m_nDestKind = 0, m_nZipMode = 0;
  std::filesystem::path m_szSaveDest;
  std::vector<std::u16string> m_saveMasks;  // the save filter's masks, in order
  std::uint8_t m_bSaveMaskExclude = 0;      // 0 save matching files, 1 save the others
  FtpSettings m_ftpSettings;                // the FTP settings dialog's last OK (kept for the run)
};

class CORVANApp final : public EngineHost {
 public:
  // `profile` and `installFolder` default to the user's settings file and the
  // program's install folder; tests pass their own.
  explicit CORVANApp(std::filesystem::path profileFile = {}, std::filesystem::path installFolder = {});
  ~CORVANApp() override;
  CORVANApp(const CORVANApp&) = delete;
  CORVANApp& operator=(const CORVANApp&) = delete;

  // Start-up steps without windows: log banner, icon keys, profile values,
  // product values. The window kit runs the rest.
  void InitState();

  void ResetScanState();
  void FreeResultLists();
  void FreeSourcesAndEngines();

  // ---- log report ----
  void AppendLog(const std::string& text, bool isHeading) override;
  void FlushLog() override;
  void MakeLogFileName();
  void OpenLog();
  // The folder the log files go to for the "LogPath" setting `setting`:
  // its "Log" folder, under the user's data folder when the setting is empty.
  static std::filesystem::path LogFolder(const std::string& setting);
  std::string LogViewText() const;
  void ClearLogView();
  std::string LogPendingText() const;
  std::filesystem::path LogFilePath() const;
  // The report's heading and file name, as MakeLogFileName made them.
  const std::string& LogTitle() const { return m_strLogTitle; }
  const std::string& LogFileName() const { return m_strLogFileName; }
  // The question when the results window closes: `ask` shows it and returns
  // the answer, unless an earlier answer said not to ask again.
  void AskToSaveLog(const std::function<SaveLogAnswer()>& ask);
  // Records an answer of the question in the profile.
  void AnswerSaveLog(SaveLogAnswer answer);

  // ---- file types ----
  void BuildSelectedTypeList();
  void LoadDefaultRawTypes();
  void LoadUserHeaders();
  std::filesystem::path HeaderFileToRead() const;
  std::filesystem::path HeaderFileToWrite() const;
  // Writes the full list as the user's signature file, each selected byte
  // as 0 or 1. False when the file cannot be written.
  bool SaveUserHeaders();
  // Saves the volumes the lost-volume searches found beside `chosen` (as
  // "<name> Drives<ext>"), records the path, adds the file to the saved-scan
  // index and marks later volume scans of this run as following a drive
  // scan. False (the user told why) when the file cannot be written.
  bool SaveDriveScanInfo(const std::filesystem::path& chosen);
  // Appends `record` to the user's signature file (which starts as a copy
  // of the installed one) and, when the full list is loaded, to that list.
  bool AppendUserHeader(const FileTypeRecord& record);

  // ---- settings ----
  Profile& GetProfile() { return m_profile; }
  ProductKey& GetProductKey() { return m_productKey; }
  Prompt& GetPrompt() override { return m_pPrompt ? *m_pPrompt : m_unattendedPrompt; }

  // ---- the host of the program's engines and jobs ----
  FoundItemSink* ResultsSink() override { return m_pConsole; }
  ProgressSink* ScanProgressSink() override { return m_pScanProgressDlg; }
  std::atomic<std::uint32_t>& BusyFlag() override { return m_bBusy; }
  std::atomic<std::uint32_t>& AbortFlag() override { return m_bAbort; }
  std::atomic<std::uint32_t>& CriticalPhaseFlag() override { return m_bCriticalPhase; }
  std::atomic<std::uint32_t>& FromScanInfoFlag() override { return m_bFromScanInfo; }
  std::atomic<std::uint8_t>& VolumeOpenedFlag() override { return m_bVolumeOpened; }
  std::atomic<std::int32_t>& NextSyntheticId() override { return m_nNextSyntheticId; }
  std::uint32_t RecoveryMode() const override { return m_nRecoveryMode; }
  std::uint32_t RawSetting() const override { return m_nSetRaw; }
  std::vector<FileTypeRecord>& SelectedTypeList() override { return m_selectedTypeList; }
  std::atomic<std::uint64_t>& RawFileCount() override { return m_nRawFileCount; }

  // ---- seams to the windows ----
  FoundItemSink* m_pConsole = nullptr;          // the results window
  ProgressSink* m_pScanProgressDlg = nullptr;   // scanning progress dialog
  ProgressSink* m_pSaveProgressDlg = nullptr;   // saving progress dialog
  Prompt* m_pPrompt = nullptr;                  // the message box (Unattended when null)

  // ---- the engine of the last scan and its kind, shared with the jobs ----
  std::shared_ptr<ScanSession> m_pScanSession = std::make_shared<ScanSession>();

  // ---- the mounted image and its sources ----
  std::shared_ptr<CVirtualDiskImage> m_pImage;  // the mounted image, as the source page shows it
  std::shared_ptr<SectorSource> m_pDisk;        // the disk scans read: the mounted image, or a plain file
  SourceList m_sourceList;                      // disk and volume records, selection, partitions
  // The source page's choice: the image type and file chosen (by Browse or
  // Find); the page itself remembers what it shows after a mount.
  std::uint32_t m_nImageType = 0;               // 1 VMware, 2 VirtualBox, 3 Virtual PC
  std::filesystem::path m_strImagePath;

  // ---- flags shared with workers ----
  std::atomic<std::uint32_t> m_bBusy{0};
  std::atomic<std::uint32_t> m_bAbort{0};
  std::atomic<std::uint32_t> m_bResultsPresent{0};
  std::atomic<std::uint32_t> m_bMaskRunning{0};
  std::atomic<std::uint32_t> m_bFromScanInfo{0};
  std::atomic<std::uint32_t> m_nSourceListState{0};
  std::atomic<std::uint32_t> m_bSortAscending{0};
  // 0 while a lost-volume search has listed volumes that are not saved as
  // a drive scan: leaving the results window then offers to save them too.
  std::atomic<std::uint32_t> m_bHaveFoundVolumes{1};
  std::atomic<std::uint32_t> m_nFoundVolumeCount{0};  // volumes all lost-volume searches found; never reset
  std::atomic<std::uint32_t> m_bResumeMode{0};
  std::atomic<std::uint32_t> m_bLostVolOnDisk{0};
  std::atomic<std::uint32_t> m_bQuickVolumeSearch{0};
  std::atomic<std::uint32_t> m_bSavedScanOpened{0};
  std::atomic<std::uint32_t> m_bScanInfoLoadOk{1};
  std::atomic<std::uint8_t> m_bVolumeOpened{0};

  // ---- scan choice and bounds ----
  std::uint32_t m_nRecoveryMode = 0;   // 502 Raw, 504 Quick, 505 Deleted, 506 Advance, 511 saved scan
  std::uint8_t m_nAdvanceFsChoice = 0;  // 1 FAT, 2 NTFS, 3 exFAT
  ScanBounds m_scanBounds;
  WorkArea m_rcWorkArea;
  std::uint32_t m_nScreenDpi = 0;

  // ---- answers of the file-exists dialog, as the last save left them ----
  FileExistAnswers m_fileExistAnswers;

  // ---- the destination dialog's last choice ----
  SaveChoice m_saveChoice;

  // ---- paths and texts ----
  std::filesystem::path m_strInstallPath;
  std::filesystem::path m_strSourcePath;
  std::filesystem::path m_scanInfoFile;  // the saved scan a resume (mode 511) opens

  // ---- file types ----
  std::vector<FileTypeRecord> m_fileTypeList;      // every known type
  std::vector<FileTypeRecord> m_selectedTypeList;  // copies selected for the signature search

  // ---- settings read at start ----
  std::uint32_t m_nSetRaw = 0;
  std::uint32_t m_bCheckUpdate = 0;
  UpdateDownload m_update;
  std::uint8_t m_bFirstDriveLoad = 1;

  // ---- log report ----
  LogSwitches m_log;

 // ---- saved scans ----
  // A drive scan was saved in this run: later volume scans carry form 2.
  bool DriveScanSaved() const { return m_bDriveScanSaved != 0; }

 private:
  bool CreateLogFile(const std::filesystem::path& folder);

  // Reached through the host's flags; the engines and the results window
  // use them through EngineHost.
  std::atomic<std::uint32_t> m_bCriticalPhase{0};
  std::atomic<std::int32_t> m_nNextSyntheticId{0};
  std::atomic<std::uint64_t> m_nRawFileCount{0};
  std::atomic<std::uint32_t> m_bDriveScanSaved{0};

  Profile m_profile;
  ProductKey m_productKey;
  UnattendedPrompt m_unattendedPrompt;

  std::string m_strLogTitle;
  std::string m_strLogFileName;
  mutable std::mutex m_logMutex;
  std::string m_strLogView;
  std::string m_strLogBanner;
  std::string m_strLogPending;
  std::filesystem::path m_strLogPath;
};

// Chooses or drops the first type of the full list with this extension and
// name (compared exactly): selected when `state` is 2, not selected for any
// other state. False when no type has them.
bool SetFileTypeChecked(CORVANApp& app, const std::u16string& extension, const std::u16string& name, int state);

// The running program's application object.
CORVANApp& App();

// The banners and entry forms of the log report.
std::string LogViewerBanner();
std::string LogFileBanner();
std::string LogViewerEntry(const std::string& text, bool isHeading);
std::string LogFileEntry(const std::string& text, bool isHeading);

}  // namespace corvan
