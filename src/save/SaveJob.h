#pragma once
// One save: the engine whose found files it writes, and the request the
// windows hand it as a value (where, how and which files). What the user
// answers while it runs comes back in its result; the job holds nothing of
// the application object but the host it reports through.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "save/FtpClient.h"
#include "save/FtpSettings.h"
#include "save/RecoveredFileTimes.h"
#include "scan/EngineRegistry.h"
#include "scan/ScanSession.h"

namespace corvan {

class EngineHost;
class OutputWriter;
class ProgressSink;

// What the destination dialog and the save filter chose.
struct SaveRequest {
  std::int32_t m_bCreateZip = 0;
  // 1: every file of the walk that the which-files choice and the save
  // filter pass; 0: the walk yields the checked items, the filter applies.
  std::int32_t m_nSelectMode = 1;
  std::uint8_t m_nWhichFiles = 1;  // 0 live only, 1 live and deleted, 2 deleted only (select mode 1)
  std::uint8_t m_nDestKind = 0;    // 0 local folder, 1 FTP server (never zipped)
  std::uint8_t m_nZipMode = 0;     // 0 "%s.zip" per file, 1 one "Recovered Data.zip"
  // Destination folder; a relative one is taken from the current folder
  // (on an FTP server: from the login folder, see RemoteDestination).
  std::filesystem::path m_szDest;
  FtpSettings m_ftp;               // the server, port and login of an FTP destination
  FtpTimeouts m_ftpTimeouts;
  std::uint32_t m_nFileCount = 0;  // range of the overall progress bar
  std::vector<std::u16string> masks;  // the save filter's masks, in order
  std::uint8_t maskExclude = 0;       // 0 save matching files, 1 save the others
};

// The answers of the file-exists question: exactly one is set by each
// answer, all are cleared when a job starts.
struct FileExistAnswers {
  std::uint8_t m_bSkip = 0;
  std::uint8_t m_bSkipAll = 0;
  std::uint8_t m_bRename = 0;
  std::uint8_t m_bRenameAll = 0;
  std::uint8_t m_bOverwrite = 0;
  std::uint8_t m_bOverwriteAll = 0;
};

struct SaveJobResult {
  std::uint32_t recovered = 0;  // tagged "[Recovered]"
  std::uint32_t partial = 0;    // tagged "[Partially Recovered]"
  std::uint32_t skipped = 0;    // tagged "[Skipped]"
  std::uint32_t failed = 0;     // could not be written at all
  bool aborted = false;         // the user stopped the job
  bool failedJob = false;       // the job ended with "Process failed"
  std::string failure;          // what ended it
  FileExistAnswers answers;     // as the job's last file-exists answer left them
};

struct SaveJob {
  explicit SaveJob(EngineHost& jobHost) : host(jobHost) {}

  EngineHost& host;                      // log, message box, busy and stop flags
  ScanEngine* engine = nullptr;          // reads the files' data
  std::int32_t volumeKind = kSaveVolumeFat;
  ProgressSink* progress = nullptr;      // the saving progress dialog, if any
  SaveRequest request;
  OutputWriter* writer = nullptr;        // null: the POSIX writer

  // The session's engine saves the files; how its items keep their time
  // stamps is the kind of volume they are saved from.
  void UseEngineOf(const ScanSession& session) {
    engine = session.Engine();
    const StampKind stamps = StampKindOf(session.Kind());
    volumeKind = !engine || stamps == StampKind::ExFat ? kSaveVolumeExFat
                 : stamps == StampKind::Ntfs            ? kSaveVolumeNtfs
                                                        : kSaveVolumeFat;
  }
};

}  // namespace corvan
