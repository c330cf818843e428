#include "save/CThreadForSavingFiles.h"

#include <algorithm>
#include <cstdio>

#include "core/AppServices.h"
#include "core/EngineHost.h"
#include "core/NameSanitiser.h"
#include "core/ScanEngine.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "platform/TextConv.h"
#include "platform/TimeFormat.h"

namespace corvan {

namespace {

constexpr const char* kProcessFailed = "Process failed";
constexpr const char* kFailedOn = "Failed on:";

NullProgressSink g_noProgress;

}  // namespace

CThreadForSavingFiles::CThreadForSavingFiles(SaveJob job, SaveItemWalk& walk, SaveDecisions& decisions)
    : job_(std::move(job)),
      host_(job_.host),
      walk_(walk),
      decisions_(decisions),
      log_(host_),
      dest_(MakeSaveDestination(job_, log_)) {}

CThreadForSavingFiles::~CThreadForSavingFiles() { Join(); }

void CThreadForSavingFiles::Start(std::function<void()> onEnd) {
  worker_.Start([this, onEnd = std::move(onEnd)] {
    Run();
    if (onEnd) onEnd();
  });
}

void CThreadForSavingFiles::Join() { worker_.Join(); }

void CThreadForSavingFiles::Run() {
  log_.Reset();
  folders_.clear();
  walkNames_.clear();
  skipping_ = false;
  progress_ = job_.progress ? job_.progress : &g_noProgress;

  host_.FlushLog();
  host_.BusyFlag() = 1;
  host_.AbortFlag() = 0;
  answers_ = FileExistAnswers{};

  // The job's engine and its cluster size.
  engine_ = job_.engine;
  clusterBytes_ = engine_ ? engine_->ClusterBytes() : 0;
  if (clusterBytes_ == 0) clusterBytes_ = 4096;

  SaveJobResult& result = log_.Result();
  // A server that cannot be reached: nothing was started.
  if (dest_->Connect()) {
    host_.AppendLog(LoadString(kIdsRecoveringFile), true);
    host_.LogProcessStarted();

    Job();
    if ((result.failed > 0 || log_.FoldersFailed() > 0) && !result.failedJob) {
      // Files that could not be written make the job a failure, not a
      // success; one message at the end rather than one per file.
      result.failedJob = true;
      result.failure = std::to_string(result.failed) + " file(s)";
      if (log_.FoldersFailed() > 0) result.failure += " and " + std::to_string(log_.FoldersFailed()) + " folder(s)";
      result.failure += " could not be saved.";
      if (!log_.FirstFailure().empty()) result.failure += " The first: " + log_.FirstFailure() + ".";
      host_.GetPrompt().MessageBox(result.failure, kPicError, kMbOk);
    }
  }
  dest_->Disconnect();

  if (result.failedJob) {
    host_.AppendLog(kProcessFailed, false);
    host_.AppendLog(kFailedOn + FormatLogTime(Now()), false);
  } else if (host_.AbortFlag()) {
    result.aborted = true;
    host_.LogProcessEnded(true);
  } else {
    host_.LogProcessEnded(false);
  }
  result.answers = answers_;
  host_.BusyFlag() = 0;
  host_.FlushLog();
}

void CThreadForSavingFiles::Job() {
  if (!dest_->Open()) return;
  progress_->SetRange(0, job_.request.m_nFileCount);
  progress_->SetStep(1);
  if (!BeginJobFile()) return;

  SaveWalkEntry entry;
  bool aborted = false;
  while ((!log_.Stopped() || dest_->Lost()) && walk_.Next(entry)) {
    if (entry.folder) {
      walkNames_.resize(entry.depth);
      walkNames_.push_back(entry.depth == 0 ? std::string() : SanitiseName(entry.name).name);
    }
    if (dest_->Lost()) {
      // The destination is gone: what is left of the walk is only logged.
      if (!entry.folder) LogUnsaved(entry);
      continue;
    }
    if (skipping_) {
      if (entry.depth > skipDepth_) continue;
      skipping_ = false;
    }
    while (!folders_.empty() && folders_.back().depth >= entry.depth) LeaveFolder(false);
    if (host_.AbortFlag()) {
      aborted = true;
      break;
    }
    if (entry.folder) {
      if (!EnterFolder(entry)) {
        skipping_ = true;
        skipDepth_ = entry.depth;
      }
      continue;
    }
    if (folders_.empty()) continue;  // a walk always opens with its folder
    if (!Selected(entry)) continue;
    if (SaveFile(entry, folders_.back().record.IsDeleted())) walk_.ItemDone(entry);
  }
  aborted = aborted || host_.AbortFlag() || log_.Stopped();
  while (!folders_.empty()) LeaveFolder(aborted);
  dest_->End();
}

bool CThreadForSavingFiles::BeginJobFile() {
  const std::string name = dest_->JobFileName();
  if (name.empty()) return true;
  const Resolution r = ResolveExistingName(name, 0);
  if (r.noFreeName) {
    log_.EndJob("No free name for " + dest_->Shown(name));
    return false;
  }
  if (!r.save) {
    host_.AppendLog(name + " " + LoadString(kIdsSkipped), false);
    return false;
  }
  return dest_->BeginJobFile(r.name, r.replace);
}

CThreadForSavingFiles::Choice CThreadForSavingFiles::ChoiceFor(const SaveWalkEntry& entry) const {
  const SaveRequest& request = job_.request;
  if (!MatchFileMasks(entry.name, request.masks, request.maskExclude)) return Choice::Leave;
  if (request.m_nSelectMode != 1) return Choice::Save;
  const bool deleted = entry.record.IsDeleted();
  switch (request.m_nWhichFiles) {
    case 0: return deleted ? Choice::CountOff : Choice::Save;
    case 1: return Choice::Save;
    case 2: return deleted ? Choice::Save : Choice::CountOff;
    default: return Choice::Leave;
  }
}

bool CThreadForSavingFiles::Selected(const SaveWalkEntry& entry) {
  const Choice choice = ChoiceFor(entry);
  // Left out by the which-files choice: counted off as if saved.
  if (choice == Choice::CountOff) walk_.ItemDone(entry);
  return choice == Choice::Save;
}

void CThreadForSavingFiles::LogNameChange(const std::u16string& original, const std::string& saved) {
  host_.AppendLog("Name \"" + LogSafeName(original) + "\" saved as \"" + saved + "\"", false);
}

bool CThreadForSavingFiles::EnterFolder(const SaveWalkEntry& entry) {
  // The walk's first folder stands for the destination itself.
  std::string name;
  if (!folders_.empty()) {
    const SanitisedName clean = SanitiseName(entry.name);
    if (clean.changed) LogNameChange(entry.name, clean.name);
    name = clean.name;
  }
  if (!dest_->EnterFolder(name)) return false;
  folders_.push_back(entry);
  progress_->SetStatusText(LoadString(kIdsFolder) + ": " + dest_->FolderText());
  return true;
}

void CThreadForSavingFiles::LeaveFolder(bool aborted) {
  walk_.FolderDone(folders_.back(), aborted);
  folders_.pop_back();
  dest_->LeaveFolder();
}

void CThreadForSavingFiles::RecordAnswer(FileExistAnswer answer) {
  if (answer == FileExistAnswer::Cancel) return;  // Esc changes no choice
  answers_.m_bSkip = answer == FileExistAnswer::Skip;
  answers_.m_bSkipAll = answer == FileExistAnswer::SkipAll;
  answers_.m_bRename = answer == FileExistAnswer::Rename;
  answers_.m_bRenameAll = answer == FileExistAnswer::RenameAll;
  answers_.m_bOverwrite = answer == FileExistAnswer::Overwrite;
  answers_.m_bOverwriteAll = answer == FileExistAnswer::OverwriteAll;
}

CThreadForSavingFiles::Resolution CThreadForSavingFiles::ResolveExistingName(const std::string& name,
                                                                            std::uint64_t newSize) {
  Resolution r;
  r.name = name;
  // A Rename answer is checked again like any other name.
  for (int round = 0; round < 1000 && !log_.Stopped(); ++round) {
    const SaveDestination::Entry existing = dest_->Probe(r.name);
    if (log_.Stopped()) break;
    if (!existing.exists) {
      r.save = true;
      return r;
    }
    if (answers_.m_bOverwriteAll) {
      r.save = r.replace = true;
      return r;
    }
    if (answers_.m_bSkipAll) return Resolution{};
    if (answers_.m_bRenameAll) return CopyNameResolution(dest_->FirstFreeCopyName(r.name));
    FileExistQuestion q;
    q.name = Utf8ToUtf16(r.name);
    q.existingSize = existing.size;
    q.newSize = newSize;
    q.proposedName = Utf8ToUtf16(dest_->FirstFreeCopyName(r.name));
    if (log_.Stopped()) break;
    std::u16string renameTo = q.proposedName;
    const FileExistAnswer answer = decisions_.AskFileExists(q, renameTo);
    RecordAnswer(answer);
    switch (answer) {
      case FileExistAnswer::Rename: {
        // Nothing typed over an empty proposal: no free name was found.
        if (renameTo.empty()) return CopyNameResolution({});
        const SanitisedName chosen = SanitiseName(renameTo);
        if (chosen.changed) LogNameChange(renameTo, chosen.name);
        r.name = chosen.name;
        continue;
      }
      case FileExistAnswer::RenameAll: return CopyNameResolution(dest_->FirstFreeCopyName(r.name));
      case FileExistAnswer::Overwrite:
      case FileExistAnswer::OverwriteAll:
        r.save = r.replace = true;
        return r;
      case FileExistAnswer::Skip:
        answers_.m_bSkip = 0;  // one Skip answers one file
        return Resolution{};
      case FileExistAnswer::SkipAll:
      case FileExistAnswer::Cancel: return Resolution{};
    }
  }
  return Resolution{};
}

CThreadForSavingFiles::Resolution CThreadForSavingFiles::CopyNameResolution(std::string name) const {
  Resolution r;
  if (log_.Stopped()) return r;
  r.noFreeName = name.empty();
  r.save = !r.noFreeName;
  r.name = std::move(name);
  return r;
}

void CThreadForSavingFiles::NoFreeName(const std::string& shown) {
  log_.NoteFailure("No free name for " + shown + ": it and " + LoadString(kIdsCopy) + "1_ to " + LoadString(kIdsCopy) +
              std::to_string(dest_->CopyIndexLimit()) + "_ of it are taken");
}

bool CThreadForSavingFiles::AskAbortIfRequested(const std::u16string& displayName, CopyState& state) {
  if (!host_.AbortFlag()) return true;
  const AbortAnswer answer = decisions_.AskAbortSaving(displayName);
  if (answer == AbortAnswer::AbortImmediately) {
    state.answer = static_cast<int>(answer);
    state.complete = false;
    return false;
  }
  if (answer == AbortAnswer::SaveFileAndAbort) state.answer = static_cast<int>(answer);
  host_.AbortFlag() = 0;
  host_.BusyFlag() = 1;
  return true;
}

CopyEnd CThreadForSavingFiles::CopyData(const FoundItemInfo& readItem,
                                                               const std::u16string& displayName,
                                                               const BlockWrite& write, CopyState& state) {
  const std::uint64_t cb = clusterBytes_;
  const std::uint64_t clusters = readItem.size / cb + (readItem.size % cb ? 1 : 0);
  progress_->SetSecondRange(0, static_cast<std::int64_t>(clusters));
  progress_->SetSecondPos(0);
  if (!engine_) {
    state.complete = readItem.size == 0;
    return CopyEnd::Done;
  }

  std::uint64_t next = 0;  // the first byte not yet written
  std::uint64_t loggedCluster = kNoDataCluster;  // the last cluster named in the log
  enum class Stop { None, Damaged, Write, Abort } stop = Stop::None;
  std::uint64_t damagedEnd = 0;
  auto sink = [&](const DataBlock& block) {
    if (!AskAbortIfRequested(displayName, state)) {
      stop = Stop::Abort;
      return false;
    }
    if (block.damaged) {
      stop = Stop::Damaged;
      damagedEnd = block.offset + block.bytes.size();
      return false;
    }
    if (!write(block.bytes.data(), block.bytes.size(), block.offset, state)) {
      stop = Stop::Write;
      return false;
    }
    next = block.offset + block.bytes.size();
    progress_->SetSecondPos(static_cast<std::int64_t>(next / cb));
    return true;
  };

  while (next < readItem.size) {
    stop = Stop::None;
    const WalkResult walked = engine_->ReadItemData(readItem, sink, next);
    if (stop == Stop::Write) return CopyEnd::WriteFailed;
    if (stop == Stop::Abort) return CopyEnd::AbortedNow;
    if (stop == Stop::None) {
      if (!walked.Clean()) state.complete = false;
      break;
    }
    // A block that could not be read whole: read it again a cluster at a
    // time, so one bad sector costs one cluster, not the whole block.
    state.complete = false;
    for (std::uint64_t at = next; at < damagedEnd;) {
      const std::uint64_t pieceEnd = std::min(damagedEnd, (at / cb + 1) * cb);
      if (!AskAbortIfRequested(displayName, state)) return CopyEnd::AbortedNow;
      bool writeFailed = false;
      bool damaged = false;
      std::uint64_t failedCluster = kNoDataCluster;  // on the volume
      std::uint64_t written = at;
      const WalkResult piece = engine_->ReadItemData(
          readItem,
          [&](const DataBlock& block) {
            if (block.damaged && !damaged) failedCluster = block.lcn;
            damaged = damaged || block.damaged;
            if (!write(block.bytes.data(), block.bytes.size(), block.offset, state)) {
              writeFailed = true;
              return false;
            }
            written = block.offset + block.bytes.size();
            return true;
          },
          at, pieceEnd);
      if (writeFailed) return CopyEnd::WriteFailed;
      // A compressed unit fails as a whole: its cluster is named once.
      if ((damaged || !piece.Clean()) && (failedCluster == kNoDataCluster || failedCluster != loggedCluster)) {
        host_.AppendLog(LoadString(kIdsDiskReadError), false);
        std::string line = LoadString(kIdsErrorReadingCluster);
        if (failedCluster != kNoDataCluster) {
          char number[32];
          std::snprintf(number, sizeof number, " %llu", static_cast<unsigned long long>(failedCluster));
          line += number;
        }
        host_.AppendLog(line, false);
        loggedCluster = failedCluster;
      }
      if (written < pieceEnd) break;  // the engine has nothing more to give
      at = pieceEnd;
      next = at;
      progress_->SetSecondPos(static_cast<std::int64_t>(next / cb));
    }
    if (next < damagedEnd) break;
  }
  // Fewer bytes than the item's size could be had: the file is not whole.
  if (next < readItem.size) state.complete = false;
  return CopyEnd::Done;
}

bool CThreadForSavingFiles::SaveFile(const SaveWalkEntry& entry, bool folderDeleted) {
  if (host_.AbortFlag()) return false;
  progress_->StepIt();

  const SanitisedName name = SanitiseName(entry.name);
  host_.AppendLog(dest_->FolderText() + name.name, false);
  if (name.changed) LogNameChange(entry.name, name.name);
  progress_->SetSectorText(LoadString(kIdsFile) + ": " + name.name);

  // A FAT or exFAT file in a deleted folder has lost its chain with the
  // folder: its data is taken as one run from its first cluster, as for a
  // deleted file.
  FoundItemInfo readItem = entry.record;
  if (folderDeleted && job_.volumeKind != kSaveVolumeNtfs) readItem.flags |= kItemDeleted;

  CopyState state;
  const FileEnd end = WriteFile(entry, readItem, name.name, state);

  if (state.answer == static_cast<int>(AbortAnswer::SaveFileAndAbort)) {
    host_.AbortFlag() = 1;
    host_.BusyFlag() = 0;
  }
  SaveJobResult& result = log_.Result();
  if (end == FileEnd::Saved) {
    if (state.complete) {
      host_.AppendLog(LoadString(kIdsRecovered), false);
      ++result.recovered;
    } else {
      host_.AppendLog(LoadString(kIdsPartiallyRecovered), false);
      ++result.partial;
    }
    return true;
  }
  if (end == FileEnd::Skipped && !log_.Stopped()) {
    host_.AppendLog(LoadString(kIdsSkipped), false);
    ++result.skipped;
    return true;
  }
  ++result.failed;
  return false;
}

CThreadForSavingFiles::FileEnd CThreadForSavingFiles::WriteFile(const SaveWalkEntry& entry,
                                                                const FoundItemInfo& readItem,
                                                                const std::string& name, CopyState& state) {
  SaveTarget target{.record = entry.record,
                    .name = name,
                    .wanted = dest_->FileName(name),
                    .chosen = {},
                    .replace = false,
                    .interrupt = [this, &entry, &state] {
                      if (state.answer == static_cast<int>(AbortAnswer::AbortImmediately)) return true;
                      return !AskAbortIfRequested(entry.name, state);
                    }};
  // A name taken between the probe and the open is resolved again.
  SaveDestination::Opened opened = SaveDestination::Opened::Taken;
  for (int attempt = 0; attempt < 3 && opened == SaveDestination::Opened::Taken; ++attempt) {
    const Resolution r = ResolveExistingName(target.wanted, entry.record.size);
    if (log_.Stopped()) return FileEnd::Failed;
    if (r.noFreeName) NoFreeName(dest_->Shown(target.wanted));
    if (!r.save) return r.noFreeName ? FileEnd::Failed : FileEnd::Skipped;
    target.chosen = r.name;
    target.replace = r.replace;
    opened = dest_->OpenFile(target);
  }
  if (opened == SaveDestination::Opened::Interrupted) {
    state.complete = false;
    return FileEnd::Saved;
  }
  if (opened != SaveDestination::Opened::Yes) return FileEnd::Failed;

  const auto write = [this](const std::uint8_t* data, std::size_t size, std::uint64_t offset, CopyState& s) {
    return dest_->Write(data, size, offset, s.writeError);
  };
  const CopyEnd end = CopyData(readItem, entry.name, write, state);
  switch (dest_->FinishFile(target, end, state.writeError)) {
    case SaveDestination::Finished::Saved: return FileEnd::Saved;
    case SaveDestination::Finished::Cut: state.complete = false; return FileEnd::Saved;
    case SaveDestination::Finished::Failed: break;
  }
  return FileEnd::Failed;
}

void CThreadForSavingFiles::LogUnsaved(const SaveWalkEntry& entry) {
  if (ChoiceFor(entry) != Choice::Save) return;
  std::string relative;
  for (std::size_t d = 1; d < walkNames_.size() && d < entry.depth; ++d) relative += walkNames_[d] + "/";
  relative += SanitiseName(entry.name).name;
  ++log_.Result().failed;
  host_.AppendLog("Not saved: " + dest_->UnsavedPath(relative), false);
}

}  // namespace corvan
