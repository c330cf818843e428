#pragma once
// The file-saving thread: walks the items a job saves (SaveItemWalk),
// rebuilds their folders at the job's destination (SaveDestination: a local
// folder, a zip archive per file, one "Recovered Data.zip", or a folder on
// an FTP server) and writes each file, read through its engine's run
// walker; it chooses the names, resolves name clashes, asks what to do
// when Stop is pressed mid-file, and logs the job and one tag per file.
//
// Every name from the disk is sanitised before it reaches the host. A file
// that cannot be written whole is removed and logged with an "ERROR!" line
// naming it, and the job goes on with the next file; such a job ends with
// one message and "Process failed". Only a destination that can take
// nothing more ends the job at once. A file that could not be read whole is
// zero-filled where it failed and tagged "[Partially Recovered]".

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/WorkerThread.h"
#include "save/SaveDecisions.h"
#include "save/SaveDestination.h"
#include "save/SaveJob.h"
#include "save/SaveWalk.h"

namespace corvan {

class EngineHost;
class ProgressSink;
class ScanEngine;

class CThreadForSavingFiles {
 public:
  // The destination the job's request names is chosen here, once.
  CThreadForSavingFiles(SaveJob job, SaveItemWalk& walk, SaveDecisions& decisions);
  ~CThreadForSavingFiles();
  CThreadForSavingFiles(const CThreadForSavingFiles&) = delete;
  CThreadForSavingFiles& operator=(const CThreadForSavingFiles&) = delete;

  // The job on the calling thread.
  void Run();
  // The job on a thread of its own; `onEnd` runs on that thread once the
  // job is over (the progress dialog closes itself only after Join).
  void Start(std::function<void()> onEnd = {});
  void Join();
  bool IsRunning() const { return worker_.IsRunning(); }
  const SaveJobResult& Result() const { return log_.Result(); }

 private:
  struct CopyState {
    bool complete = true;
    int answer = -1;  // abort question: -1 not asked, else an AbortAnswer
    int writeError = 0;
  };
  using BlockWrite = std::function<bool(const std::uint8_t* data, std::size_t size, std::uint64_t offset,
                                        CopyState& state)>;
  struct Resolution {
    bool save = false;        // false: skipped, or no name was free
    bool replace = false;     // overwrite what stands there
    bool noFreeName = false;  // every copy name tried was taken
    std::string name;
  };
  enum class FileEnd { Saved, Skipped, Failed };

  void Job();
  // A destination that writes the whole job into one file: its name
  // resolved and the file begun. False when the job cannot go on.
  bool BeginJobFile();
  bool EnterFolder(const SaveWalkEntry& entry);
  void LeaveFolder(bool aborted);
  enum class Choice { Save, CountOff, Leave };
  // Whether the masks and the which-files choice save a file, count it off
  // unsaved, or leave it alone.
  Choice ChoiceFor(const SaveWalkEntry& entry) const;
  bool Selected(const SaveWalkEntry& entry);
  bool SaveFile(const SaveWalkEntry& entry, bool folderDeleted);
  // Resolves the file's name at the destination, opens it there, copies its
  // data into it and finishes it.
  FileEnd WriteFile(const SaveWalkEntry& entry, const FoundItemInfo& readItem, const std::string& name,
                    CopyState& state);
  CopyEnd CopyData(const FoundItemInfo& readItem, const std::u16string& displayName, const BlockWrite& write,
                   CopyState& state);
  bool AskAbortIfRequested(const std::u16string& displayName, CopyState& state);
  // What to do with `name` in the destination's current folder when
  // something stands there already.
  Resolution ResolveExistingName(const std::string& name, std::uint64_t newSize);
  Resolution CopyNameResolution(std::string name) const;
  // Logs a file left out because no copy name of `shown` was free.
  void NoFreeName(const std::string& shown);
  // The destination is gone: a file the job would have saved is logged.
  void LogUnsaved(const SaveWalkEntry& entry);
  void RecordAnswer(FileExistAnswer answer);
  void LogNameChange(const std::u16string& original, const std::string& saved);

  SaveJob job_;
  EngineHost& host_;
  SaveItemWalk& walk_;
  SaveDecisions& decisions_;
  SaveJobLog log_;
  std::unique_ptr<SaveDestination> dest_;
  FileExistAnswers answers_;
  ProgressSink* progress_ = nullptr;
  ScanEngine* engine_ = nullptr;
  std::uint32_t clusterBytes_ = 4096;
  std::vector<SaveWalkEntry> folders_;  // the walk's folders the destination holds open
  bool skipping_ = false;  // inside a folder that could not be made
  std::uint32_t skipDepth_ = 0;
  std::vector<std::string> walkNames_;  // sanitised names of the walk's open folders, by depth
  WorkerThread worker_;
};

}  // namespace corvan
