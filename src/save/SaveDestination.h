#pragma once
// Where a saving job writes: a local folder, a zip archive per file, one
// zip archive for the whole job, or a folder on an FTP server. The saving
// thread walks the items, chooses the names, asks the questions and keeps
// the log; a destination makes the folders, says what stands at a name, and
// opens, writes and finishes each file. MakeSaveDestination chooses one
// from the job's request, once.
//
// A new destination is a class of its own and one line in
// MakeSaveDestination.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/FoundItemInfo.h"
#include "save/LocalFolder.h"
#include "save/SaveJob.h"

namespace corvan {

class EngineHost;

// The job's failures, as the thread and its destination both report them:
// the log lines, the counts and what ended the job.
class SaveJobLog {
 public:
  explicit SaveJobLog(EngineHost& host) : host_(host) {}

  void Reset();
  EngineHost& Host() const { return host_; }
  SaveJobResult& Result() { return result_; }
  const SaveJobResult& Result() const { return result_; }
  void Line(const std::string& text);
  // A file or folder that could not be saved; the job goes on. The first
  // one is named again when the job ends.
  void NoteFailure(const std::string& message);
  void FolderFailed() { ++foldersFailed_; }
  // Nothing more can be saved: logged and shown once, and the walk ends.
  void EndJob(const std::string& message);
  // The job fails: `shown` in the message box and as the failure, `logged`
  // in the log; the walk ends.
  void Fail(const std::string& shown, const std::string& logged);
  bool Stopped() const { return stop_; }
  bool AbortRequested() const;
  std::uint32_t FoldersFailed() const { return foldersFailed_; }
  const std::string& FirstFailure() const { return firstFailure_; }

 private:
  EngineHost& host_;
  SaveJobResult result_;
  bool stop_ = false;
  std::string firstFailure_;  // the first file or folder that could not be saved
  std::uint32_t foldersFailed_ = 0;
};

// How copying a file's data ended.
enum class CopyEnd { Done, WriteFailed, AbortedNow };

// A file about to be written, with the name its clash was resolved to.
struct SaveTarget {
  const FoundItemInfo& record;  // size, attribute and times of the found file
  std::string name;             // its sanitised name
  std::string wanted;           // the name it is saved under unless taken (Destination::FileName)
  std::string chosen;           // the name the clash left it
  bool replace = false;         // overwrite what stands at `chosen`
  // A transfer that waits calls this; true ends the wait (Stop answered
  // "Abort Immediately").
  std::function<bool()> interrupt;
};

class SaveDestination {
 public:
  // What stands at a name.
  using Entry = LocalFolder::Entry;
  enum class Opened { Yes, Taken, Failed, Interrupted };
  enum class Finished { Saved, Cut, Failed };

  explicit SaveDestination(SaveJobLog& log) : log_(log) {}
  virtual ~SaveDestination() = default;
  SaveDestination(const SaveDestination&) = delete;
  SaveDestination& operator=(const SaveDestination&) = delete;

  // ---- the job ----
  // Before the job's start is logged: false when it cannot start.
  virtual bool Connect() { return true; }
  // After: the destination's root; false (reported) when nothing can go there.
  virtual bool Open() { return true; }
  // A destination that writes the whole job into one file: its name, which
  // the thread resolves like a file's before the walk; empty for the others.
  virtual std::string JobFileName() const { return {}; }
  virtual bool BeginJobFile(const std::string& name, bool replace) { return true; }
  // The walk is over.
  virtual void End() {}
  virtual void Disconnect() {}
  // The destination can no longer be reached: what is left of the walk is
  // only logged, at UnsavedPath (`relative` below the destination).
  virtual bool Lost() const { return false; }
  virtual std::string UnsavedPath(const std::string& relative) const { return relative; }

  // ---- folders ----
  // Makes and enters a folder below the current one (`name` sanitised); the
  // walk's first folder stands for the destination itself. False (reported)
  // when it cannot be made.
  virtual bool EnterFolder(const std::string& name) = 0;
  virtual void LeaveFolder() = 0;
  // The current folder, for the log and the progress text.
  virtual std::string FolderText() const = 0;

  // ---- files ----
  virtual std::string FileName(const std::string& name) const { return name; }
  // The name-clash probe in the current folder.
  virtual Entry Probe(const std::string& name) = 0;
  // How far "Copy%d_" names are tried.
  virtual std::uint32_t CopyIndexLimit() const = 0;
  // `name` in the current folder, for a message.
  virtual std::string Shown(const std::string& name) const = 0;
  // Taken: the name was taken meanwhile, resolve it again.
  virtual Opened OpenFile(const SaveTarget& target) = 0;
  // Writes a block of the open file; false with `error` (errno) set when
  // the destination gives one.
  virtual bool Write(const std::uint8_t* data, std::size_t size, std::uint64_t offset, int& error) = 0;
  // Closes the file; a failed one is removed and reported. Cut: kept, but
  // not whole.
  virtual Finished FinishFile(const SaveTarget& target, CopyEnd end, int writeError) = 0;

  // The first free "Copy%d_" name in the current folder, empty when every
  // one up to CopyIndexLimit() is taken.
  std::string FirstFreeCopyName(const std::string& name);

 protected:
  SaveJobLog& log_;
};

// The destination the request names: FTP, a local folder, or zip archives
// in one.
std::unique_ptr<SaveDestination> MakeSaveDestination(const SaveJob& job, SaveJobLog& log);

}  // namespace corvan
