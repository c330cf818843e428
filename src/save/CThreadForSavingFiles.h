#pragma once
// The file-saving thread: walks the items a job saves (SaveItemWalk),
// rebuilds their folders at the destination, and writes each file, read
// through its engine's run walker, to a local file, to a zip archive of its
// own, into the job's "Recovered Data.zip", or to a folder on an FTP
// server (through FtpClient); it resolves name clashes,
// asks what to do when Stop is pressed mid-file, gives files their times and
// logs the job and one tag per file.
//
// Every name from the disk is sanitised before it reaches the host; every
// write and close is checked. A file that cannot be written whole (no room
// left for it, a write error) is cut back, removed and logged with an
// "ERROR!" line naming it, and the job goes on with the next file, which may
// still fit; such a job ends with one message and "Process failed". Only a
// destination that can take nothing more (read-only, or without a free
// block even after the failed file was removed) ends the job at once. A
// file that could not be read whole is zero-filled where it failed and
// tagged "[Partially Recovered]".
//
// On an FTP server a file counts as saved only once the server confirmed
// it whole (226). A file the server refuses (a full disk's 552, a refused
// name) is logged and the job goes on; when the server cannot be reached
// any more, or two transfers in a row time out, the job ends with one
// message and logs every file left unsaved. A name clash on the server
// tries a bounded number of copy names (each is a round trip, and a server
// may claim every name exists); a file left without a free name is logged
// as not saved. Stop reaches a transfer that waits on the server as it
// reaches the copy between blocks.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <unordered_map>

#include "platform/WorkerThread.h"
#include "save/FtpClient.h"
#include "save/FtpSettings.h"
#include "save/LocalFolder.h"
#include "save/RecoveredFileTimes.h"
#include "save/SaveDecisions.h"
#include "save/SaveJob.h"
#include "save/SaveWalk.h"
#include "save/zip/ZipUnzip.h"

namespace corvan {

class EngineHost;
class OutputWriter;
class ProgressSink;
class ScanEngine;

struct SaveJobResult {
  std::uint32_t recovered = 0;  // tagged "[Recovered]"
  std::uint32_t partial = 0;    // tagged "[Partially Recovered]"
  std::uint32_t skipped = 0;    // tagged "[Skipped]"
  std::uint32_t failed = 0;     // could not be written at all
  bool aborted = false;         // the user stopped the job
  bool failedJob = false;       // the job ended with "Process failed"
  std::string failure;          // what ended it
};

class CThreadForSavingFiles {
 public:
  CThreadForSavingFiles(SaveJob job, SaveItemWalk& walk, SaveDecisions& decisions);
  ~CThreadForSavingFiles();
  CThreadForSavingFiles(const CThreadForSavingFiles&) = delete;
  CThreadForSavingFiles& operator=(const CThreadForSavingFiles&) = delete;

  // ---- fields the starter fills before the job runs ----
  std::int32_t m_nVolumeKind = kSaveVolumeFat;  // the kind of the job's engine
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
  OutputWriter* m_pWriter = nullptr;  // null: the POSIX writer


  // The job on the calling thread.
  void Run();
  // The job on a thread of its own; `onEnd` runs on that thread once the
  // job is over (the progress dialog closes itself only after Join).
  void Start(std::function<void()> onEnd = {});
  void Join();
  bool IsRunning() const { return worker_.IsRunning(); }
  const SaveJobResult& Result() const { return result_; }

 private:
  struct Folder {
    SaveWalkEntry entry;
    LocalFolder dir;        // open when the folder was entered on disk
    std::string component;  // sanitised name (zip entry paths)
    bool deleted = false;
    // FTP: the folder's absolute path on the server; whether this job made
    // it (then the names it holds are the ones written into it).
    std::string remote;
    bool fresh = false;
    std::unordered_map<std::string, std::uint64_t> written;  // name: bytes
  };
  enum class CopyEnd { Done, WriteFailed, AbortedNow };
  struct CopyState {
    bool complete = true;
    int answer = -1;  // abort question: -1 not asked, else an AbortAnswer
    int writeError = 0;
    std::string writeWhat;
  };
  using BlockWrite = std::function<bool(const std::uint8_t* data, std::size_t size, std::uint64_t offset,
                                        CopyState& state)>;
  struct Resolution {
    bool save = false;        // false: skipped, or no name was free
    bool replace = false;     // overwrite what stands there
    bool noFreeName = false;  // every copy name tried was taken
    std::string name;
  };
  // What stands at a name in the folder a file is saved to.
  using NameProbe = std::function<LocalFolder::Entry(const std::string& name)>;

  void Job();
  bool EnterFolder(const SaveWalkEntry& entry);
  void LeaveFolder(bool aborted);
  enum class Choice { Save, CountOff, Leave };
  // Whether the masks and the which-files choice save a file, count it off
  // unsaved, or leave it alone.
  Choice ChoiceFor(const SaveWalkEntry& entry) const;
  bool Selected(const SaveWalkEntry& entry);
  bool SaveFile(const SaveWalkEntry& entry, bool folderDeleted);
  bool SaveToLocalFile(const SaveWalkEntry& entry, const FoundItemInfo& readItem, const std::string& name,
                       CopyState& state, bool& opened, bool& skipped);
  bool SaveToOwnZip(const SaveWalkEntry& entry, const FoundItemInfo& readItem, const std::string& name,
                    CopyState& state, bool& opened, bool& skipped);
  bool SaveToSingleZip(const SaveWalkEntry& entry, const FoundItemInfo& readItem, const std::string& name,
                       CopyState& state, bool& opened);
  bool CopyIntoZip(ZipUnzip& zip, const std::string& entryName, const SaveWalkEntry& entry,
                   const FoundItemInfo& readItem, CopyState& state);
  CopyEnd CopyData(const FoundItemInfo& readItem, const std::u16string& displayName, const BlockWrite& write,
                   CopyState& state);
  bool AskAbortIfRequested(const std::u16string& displayName, CopyState& state);
  Resolution ResolveExistingName(const NameProbe& probe, const std::string& name, std::uint64_t newSize);
  // The first free "Copy%d_" name, empty when every one up to
  // CopyIndexLimit() is taken.
  std::string FirstFreeCopyName(const NameProbe& probe, const std::string& name) const;
  std::uint32_t CopyIndexLimit() const;
  Resolution CopyNameResolution(std::string name) const;
  // Logs a file left out because no copy name of `shown` was free.
  void NoFreeName(const std::string& shown);
  static NameProbe LocalProbe(const LocalFolder& dir);
  // FTP: logs in (before the job's start is logged); false when it cannot.
  bool ConnectFtp();
  bool EnterFtpFolder(Folder& folder, const std::string& name);
  NameProbe FtpProbe(Folder& folder);
  bool SaveToFtpFile(const SaveWalkEntry& entry, const FoundItemInfo& readItem, const std::string& name,
                     CopyState& state, bool& opened, bool& skipped);
  // A call that failed: the server's refusal is logged for `what`; when the
  // server no longer answers, the job ends (ConnectionLost). `partial` is
  // a file to remove from the server.
  void FtpFailure(const std::string& what, const FtpReply& reply, const std::string& partial = {});
  void ConnectionLost(const FtpReply& reply);
  // A transfer to `path` that failed: as FtpFailure (`partial`: what
  // arrived is removed), and the server is taken as gone once transfers
  // time out in a row; the file is then logged unsaved.
  void TransferFailure(const std::string& path, const std::string& what, const FtpReply& reply, bool partial);
  void LogUnsaved(const SaveWalkEntry& entry);
  void StopOnAbortFlag();
  void RecordAnswer(FileExistAnswer answer);
  bool OpenSingleZip();
  void CloseSingleZip();
  void LogNameChange(const std::u16string& original, const std::string& saved);
  // A write, create or close failure (`message` says what and why, `err` is
  // the errno) in the folder `where`: logged; it ends the job only when
  // nothing more can be written there at all.
  void WriteFailure(const std::string& message, int err, const LocalFolder& where);
  // Logs a file that could not be saved; the first one is named again when
  // the job ends.
  void NoteFailure(const std::string& message);
  void EndJob(const std::string& message);
  std::string FolderText() const;

  SaveJob job_;
  EngineHost& host_;
  FileExistAnswers& answers_;
  SaveItemWalk& walk_;
  SaveDecisions& decisions_;
  OutputWriter* writer_ = nullptr;
  ProgressSink* progress_ = nullptr;
  ScanEngine* engine_ = nullptr;
  std::uint32_t clusterBytes_ = 4096;
  std::vector<Folder> folders_;
  bool skipping_ = false;  // inside a folder that could not be made
  std::uint32_t skipDepth_ = 0;
  bool stop_ = false;  // a failure ended the job
  LocalFolder destRoot_;
  std::string firstFailure_;  // the first file or folder that could not be saved
  std::uint32_t foldersFailed_ = 0;
  std::unique_ptr<FtpClient> ftp_;
  std::string ftpRoot_;      // the destination's absolute path on the server
  bool ftpLost_ = false;     // the server stopped answering: the rest is only logged
  std::uint32_t ftpTimeoutsInARow_ = 0;  // transfers that timed out since the last that did not
  std::vector<std::string> walkNames_;  // sanitised names of the walk's open folders, by depth
  ZipUnzip m_zip;
  std::string m_szZipPath;
  SaveJobResult result_;
  WorkerThread worker_;
};

}  // namespace corvan
