#include "save/CThreadForSavingFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/AppServices.h"
#include "core/EngineHost.h"
#include "core/ScanEngine.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "platform/TextConv.h"
#include "platform/TimeFormat.h"
#include "core/NameSanitiser.h"
#include "save/OutputWriter.h"

namespace corvan {

namespace {

constexpr const char* kProcessFailed = "Process failed";
constexpr const char* kFailedOn = "Failed on:";
constexpr const char* kSingleZipName = "Recovered Data.zip";
constexpr std::uint32_t kMaxCopyIndex = 1'000'000;

// A destination that refuses every write.
bool Unwritable(int err) { return err == EROFS; }
// No room for this file; a smaller one may still fit.
bool OutOfRoom(int err) { return err == ENOSPC || err == EDQUOT; }

std::string ErrorText(int err) { return std::strerror(err ? err : EIO); }

NullProgressSink g_noProgress;

}  // namespace

CThreadForSavingFiles::CThreadForSavingFiles(SaveJob job, SaveItemWalk& walk, SaveDecisions& decisions)
    : job_(std::move(job)), host_(job_.host), answers_(job_.answers), walk_(walk), decisions_(decisions) {
  m_nVolumeKind = job_.volumeKind;
}

CThreadForSavingFiles::~CThreadForSavingFiles() { Join(); }

void CThreadForSavingFiles::Start(std::function<void()> onEnd) {
  worker_.Start([this, onEnd = std::move(onEnd)] {
    Run();
    if (onEnd) onEnd();
  });
}

void CThreadForSavingFiles::Join() { worker_.Join(); }

void CThreadForSavingFiles::Run() {
  result_ = SaveJobResult{};
  firstFailure_.clear();
  foldersFailed_ = 0;
  folders_.clear();
  walkNames_.clear();
  skipping_ = false;
  stop_ = false;
  ftpLost_ = false;
  writer_ = m_pWriter ? m_pWriter : &DefaultOutputWriter();
  progress_ = job_.progress ? job_.progress : &g_noProgress;

  host_.FlushLog();
  host_.BusyFlag() = 1;
  host_.AbortFlag() = 0;
  answers_.m_bSkip = answers_.m_bSkipAll = answers_.m_bRename = answers_.m_bRenameAll = answers_.m_bOverwrite =
      answers_.m_bOverwriteAll = 0;

  // The job's engine and its cluster size.
  engine_ = job_.engine;
  clusterBytes_ = engine_ ? engine_->ClusterBytes() : 0;
  if (clusterBytes_ == 0) clusterBytes_ = 4096;

  // A server that cannot be reached: nothing was started.
  if (m_nDestKind != 1 || ConnectFtp()) {
    host_.AppendLog(LoadString(kIdsRecoveringFile), true);
    host_.LogProcessStarted();

    Job();
    if ((result_.failed > 0 || foldersFailed_ > 0) && !result_.failedJob) {
      // Files that could not be written make the job a failure, not a
      // success; one message at the end rather than one per file.
      result_.failedJob = true;
      result_.failure = std::to_string(result_.failed) + " file(s)";
      if (foldersFailed_ > 0) result_.failure += " and " + std::to_string(foldersFailed_) + " folder(s)";
      result_.failure += " could not be saved.";
      if (!firstFailure_.empty()) result_.failure += " The first: " + firstFailure_ + ".";
      host_.GetPrompt().MessageBox(result_.failure, kPicError, kMbOk);
    }
  }
  ftp_.reset();

  if (result_.failedJob) {
    host_.AppendLog(kProcessFailed, false);
    host_.AppendLog(kFailedOn + FormatLogTime(Now()), false);
  } else if (host_.AbortFlag()) {
    result_.aborted = true;
    host_.LogProcessEnded(true);
  } else {
    host_.LogProcessEnded(false);
  }
  host_.BusyFlag() = 0;
  host_.FlushLog();
}

void CThreadForSavingFiles::EndJob(const std::string& message) {
  if (stop_) return;
  stop_ = true;
  result_.failedJob = true;
  result_.failure = message;
  host_.AppendLog("ERROR!  " + message, false);
  host_.GetPrompt().MessageBox(message, kPicError, kMbOk);
}

void CThreadForSavingFiles::NoteFailure(const std::string& message) {
  host_.AppendLog("ERROR!  " + message, false);
  if (firstFailure_.empty()) firstFailure_ = message;
}

void CThreadForSavingFiles::WriteFailure(const std::string& message, int err, const LocalFolder& where) {
  // Called once the failed file is cut back and removed, so its space
  // counts as free again.
  const LocalFolder& folder = where.IsOpen() ? where : destRoot_;
  const bool nothingFits =
      Unwritable(err) || (OutOfRoom(err) && folder.IsOpen() && !writer_->HasRoom(folder.Descriptor()));
  if (nothingFits) {
    EndJob(message + ". Saving stopped.");
  } else {
    NoteFailure(message);
  }
}

void CThreadForSavingFiles::Job() {
  if (m_nDestKind == 1) {
    m_bCreateZip = 0;  // an FTP destination takes plain files only
  } else {
    std::filesystem::path dest = m_szDest;
    if (dest.empty()) {
      EndJob("No destination folder was chosen.");
      return;
    }
    std::error_code ec;
    if (dest.is_relative()) dest = std::filesystem::current_path(ec) / dest;
    int err = 0;
    if (!destRoot_.OpenRoot(dest, err)) {
      EndJob("Cannot open the destination folder " + dest.string() + ": " + ErrorText(err));
      return;
    }
  }
  progress_->SetRange(0, m_nFileCount);
  progress_->SetStep(1);

  const bool singleZip = m_bCreateZip && m_nZipMode == 1;
  if (singleZip && !OpenSingleZip()) return;

  SaveWalkEntry entry;
  bool aborted = false;
  while ((!stop_ || ftpLost_) && walk_.Next(entry)) {
    if (entry.folder) {
      walkNames_.resize(entry.depth);
      walkNames_.push_back(entry.depth == 0 ? std::string() : SanitiseName(entry.name).name);
    }
    if (ftpLost_) {
      // The server is gone: what is left of the walk is only logged.
      if (!entry.folder) LogUnsaved(entry);
      continue;
    }
    if (skipping_) {
      if (entry.depth > skipDepth_) continue;
      skipping_ = false;
    }
    while (!folders_.empty() && folders_.back().entry.depth >= entry.depth) LeaveFolder(false);
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
    if (SaveFile(entry, folders_.back().deleted)) walk_.ItemDone(entry);
  }
  aborted = aborted || host_.AbortFlag() || stop_;
  while (!folders_.empty()) LeaveFolder(aborted);
  if (singleZip) CloseSingleZip();
}

CThreadForSavingFiles::Choice CThreadForSavingFiles::ChoiceFor(const SaveWalkEntry& entry) const {
  if (!MatchFileMasks(entry.name, job_.masks, job_.maskExclude)) return Choice::Leave;
  if (m_nSelectMode != 1) return Choice::Save;
  const bool deleted = entry.record.IsDeleted();
  switch (m_nWhichFiles) {
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

std::string CThreadForSavingFiles::FolderText() const {
  if (m_nDestKind == 1) {
    if (folders_.empty()) return {};
    const std::string& remote = folders_.back().remote;
    return remote == "/" ? remote : remote + "/";
  }
  if (m_bCreateZip && m_nZipMode == 1) {
    std::string text = m_szZipPath + "/";
    for (std::size_t i = 1; i < folders_.size(); ++i) text += folders_[i].component + "/";
    return text;
  }
  if (folders_.empty() || !folders_.back().dir.IsOpen()) return {};
  std::string text = folders_.back().dir.DisplayPath().string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

void CThreadForSavingFiles::LogNameChange(const std::u16string& original, const std::string& saved) {
  host_.AppendLog("Name \"" + LogSafeName(original) + "\" saved as \"" + saved + "\"", false);
}

bool CThreadForSavingFiles::EnterFolder(const SaveWalkEntry& entry) {
  Folder folder;
  folder.entry = entry;
  folder.deleted = entry.record.IsDeleted();
  const bool singleZip = m_bCreateZip && m_nZipMode == 1;
  if (m_nDestKind == 1) {
    const std::string name = folders_.empty() ? std::string() : SanitiseName(entry.name).name;
    if (!folders_.empty() && name != Utf16ToUtf8(entry.name)) LogNameChange(entry.name, name);
    if (!EnterFtpFolder(folder, name)) return false;
  } else if (folders_.empty()) {
    // The walk's first folder stands for the destination itself.
    folder.component.clear();
    if (!singleZip) {
      int err = 0;
      if (!folder.dir.Duplicate(destRoot_, err)) {
        WriteFailure("Cannot open the folder " + destRoot_.DisplayPath().string() + ": " + ErrorText(err), err,
                     destRoot_);
        return false;
      }
    }
  } else {
    const SanitisedName name = SanitiseName(entry.name);
    folder.component = name.name;
    if (name.changed) LogNameChange(entry.name, name.name);
    if (!singleZip) {
      const Folder& parent = folders_.back();
      int err = 0;
      std::string use = name.name;
      const LocalFolder::Entry there = parent.dir.IsOpen() ? parent.dir.Probe(use) : LocalFolder::Entry{};
      if (there.exists && !there.directory) {
        // A file or link holds the name (two names may sanitise alike):
        // the folder takes the first free copy name instead.
        use = FirstFreeCopyName(LocalProbe(parent.dir), use);
        host_.AppendLog("Saved as " + use, false);
      }
      if (!parent.dir.IsOpen() || use.empty() || !folder.dir.OpenSubfolder(parent.dir, use, err)) {
        WriteFailure("Cannot create the folder " + (parent.dir.DisplayPath() / use).string() + ": " +
                         ErrorText(err),
                     err, parent.dir);
        return false;
      }
    }
  }
  folders_.push_back(std::move(folder));
  progress_->SetStatusText(LoadString(kIdsFolder) + ": " + FolderText());
  return true;
}

void CThreadForSavingFiles::LeaveFolder(bool aborted) {
  walk_.FolderDone(folders_.back().entry, aborted);
  folders_.pop_back();
}

CThreadForSavingFiles::NameProbe CThreadForSavingFiles::LocalProbe(const LocalFolder& dir) {
  return [&dir](const std::string& name) { return dir.Probe(name); };
}

std::string CThreadForSavingFiles::FirstFreeCopyName(const NameProbe& probe, const std::string& name) const {
  const std::string copy = LoadString(kIdsCopy);
  for (std::uint32_t n = 1; n < kMaxCopyIndex && !stop_; ++n) {
    const std::string candidate = SanitiseName(std::string_view(copy + std::to_string(n) + "_" + name)).name;
    if (!probe(candidate).exists) return candidate;
  }
  return {};
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

CThreadForSavingFiles::Resolution CThreadForSavingFiles::ResolveExistingName(const NameProbe& probe,
                                                                            const std::string& name,
                                                                            std::uint64_t newSize) {
  Resolution r;
  r.name = name;
  // A Rename answer is checked again like any other name.
  for (int round = 0; round < 1000 && !stop_; ++round) {
    const LocalFolder::Entry existing = probe(r.name);
    if (stop_) break;
    if (!existing.exists) {
      r.save = true;
      return r;
    }
    if (answers_.m_bOverwriteAll) {
      r.save = r.replace = true;
      return r;
    }
    if (answers_.m_bSkipAll) return Resolution{};
    if (answers_.m_bRenameAll) {
      r.name = FirstFreeCopyName(probe, r.name);
      r.save = !r.name.empty() && !stop_;
      return r;
    }
    FileExistQuestion q;
    q.name = Utf8ToUtf16(r.name);
    q.existingSize = existing.size;
    q.newSize = newSize;
    q.proposedName = Utf8ToUtf16(FirstFreeCopyName(probe, r.name));
    if (stop_) break;
    std::u16string renameTo = q.proposedName;
    const FileExistAnswer answer = decisions_.AskFileExists(q, renameTo);
    RecordAnswer(answer);
    switch (answer) {
      case FileExistAnswer::Rename: {
        const SanitisedName chosen = SanitiseName(renameTo);
        if (chosen.changed) LogNameChange(renameTo, chosen.name);
        r.name = chosen.name;
        continue;
      }
      case FileExistAnswer::RenameAll:
        r.name = FirstFreeCopyName(probe, r.name);
        r.save = !r.name.empty() && !stop_;
        return r;
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

CThreadForSavingFiles::CopyEnd CThreadForSavingFiles::CopyData(const FoundItemInfo& readItem,
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
  host_.AppendLog(FolderText() + name.name, false);
  if (name.changed) LogNameChange(entry.name, name.name);
  progress_->SetSectorText(LoadString(kIdsFile) + ": " + name.name);

  // A FAT or exFAT file in a deleted folder has lost its chain with the
  // folder: its data is taken as one run from its first cluster, as for a
  // deleted file.
  FoundItemInfo readItem = entry.record;
  if (folderDeleted && m_nVolumeKind != kSaveVolumeNtfs) readItem.flags |= kItemDeleted;

  CopyState state;
  bool opened = false;
  bool skipped = false;
  if (m_nDestKind == 1) SaveToFtpFile(entry, readItem, name.name, state, opened, skipped);
  else if (!m_bCreateZip) SaveToLocalFile(entry, readItem, name.name, state, opened, skipped);
  else if (m_nZipMode == 0) SaveToOwnZip(entry, readItem, name.name, state, opened, skipped);
  else SaveToSingleZip(entry, readItem, name.name, state, opened);

  if (state.answer == static_cast<int>(AbortAnswer::SaveFileAndAbort)) {
    host_.AbortFlag() = 1;
    host_.BusyFlag() = 0;
  }
  if (opened) {
    if (state.complete) {
      host_.AppendLog(LoadString(kIdsRecovered), false);
      ++result_.recovered;
    } else {
      host_.AppendLog(LoadString(kIdsPartiallyRecovered), false);
      ++result_.partial;
    }
    return true;
  }
  if (skipped && !stop_) {
    host_.AppendLog(LoadString(kIdsSkipped), false);
    ++result_.skipped;
    return true;
  }
  ++result_.failed;
  return false;
}

bool CThreadForSavingFiles::SaveToLocalFile(const SaveWalkEntry& entry, const FoundItemInfo& readItem,
                                            const std::string& name, CopyState& state, bool& opened,
                                            bool& skipped) {
  const LocalFolder& dir = folders_.back().dir;
  int fd = -1;
  std::string target;
  for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
    const Resolution r = ResolveExistingName(LocalProbe(dir), name, entry.record.size);
    if (!r.save) {
      skipped = true;
      return false;
    }
    target = r.name;
    int err = 0;
    fd = r.replace ? dir.ReplaceFile(target, err) : dir.CreateFile(target, err);
    if (fd < 0 && !(err == EEXIST && !r.replace)) {
      WriteFailure("Cannot create " + (dir.DisplayPath() / target).string() + ": " + ErrorText(err), err, dir);
      return false;
    }
  }
  if (fd < 0) return false;
  if (target != name) host_.AppendLog("Saved as " + target, false);

  const std::string shown = (dir.DisplayPath() / target).string();
  const auto write = [&](const std::uint8_t* data, std::size_t size, std::uint64_t offset, CopyState& s) {
    if (writer_->WriteAt(fd, data, size, offset)) return true;
    s.writeError = errno ? errno : EIO;
    return false;
  };
  const CopyEnd end = CopyData(readItem, entry.name, write, state);
  bool ok = end != CopyEnd::WriteFailed;
  int err = state.writeError;
  if (ok && !SetRecoveredFileTimes(fd, entry.record, m_nVolumeKind))
    host_.AppendLog("ERROR!  Cannot set the times of " + shown + ": " + ErrorText(errno), false);
  // What was written of a file that failed goes back to the files after it.
  if (!ok) writer_->Truncate(fd, 0);
  if (!writer_->Close(fd) && ok) {
    ok = false;
    err = errno ? errno : EIO;
  }
  if (!ok) {
    // A short file must not pass for a recovered one.
    dir.Remove(target);
    WriteFailure("Cannot write " + shown + ": " + ErrorText(err), err, dir);
    return false;
  }
  opened = true;
  return true;
}

bool CThreadForSavingFiles::CopyIntoZip(ZipUnzip& zip, const std::string& entryName, const SaveWalkEntry& entry,
                                        const FoundItemInfo& readItem, CopyState& state) {
  ZipEntryInfo info;
  info.size = entry.record.size;
  info.attribute = entry.record.attribute ? entry.record.attribute : kItemFile;
  // The archive's own message names the archive; the log line names the entry.
  const auto failed = [&](const std::string& why, int err) {
    zip.DiscardNewFile();
    WriteFailure("Cannot write " + entryName + " into the zip archive (" + why + ")", err, folders_.back().dir);
    return false;
  };
  try {
    if (!zip.AddNewFile(entryName, info)) {
      NoteFailure("The zip entry " + entryName + " cannot be made");
      return false;
    }
    std::string zipError;
    const auto write = [&](const std::uint8_t* data, std::size_t size, std::uint64_t, CopyState& s) {
      try {
        zip.WriteNewFile(data, size);
        return true;
      } catch (const CZipException& e) {
        s.writeError = e.m_nSystemError ? e.m_nSystemError : EIO;
        zipError = e.what();
        return false;
      }
    };
    const CopyEnd end = CopyData(readItem, entry.name, write, state);
    if (end == CopyEnd::WriteFailed) return failed(zipError.empty() ? ErrorText(state.writeError) : zipError,
                                                   state.writeError);
    zip.CloseNewFile();
    return true;
  } catch (const CZipException& e) {
    return failed(e.what(), e.m_nSystemError ? e.m_nSystemError : EIO);
  }
}

bool CThreadForSavingFiles::SaveToOwnZip(const SaveWalkEntry& entry, const FoundItemInfo& readItem,
                                         const std::string& name, CopyState& state, bool& opened,
                                         bool& skipped) {
  const LocalFolder& dir = folders_.back().dir;
  const std::string archiveName = SanitiseName(std::string_view(name + ".zip")).name;
  const Resolution r = ResolveExistingName(LocalProbe(dir), archiveName, entry.record.size);
  if (!r.save) {
    skipped = true;
    return false;
  }
  int err = 0;
  const int fd = r.replace ? dir.ReplaceFile(r.name, err) : dir.CreateFile(r.name, err);
  const std::string shown = (dir.DisplayPath() / r.name).string();
  if (fd < 0) {
    WriteFailure("Cannot create " + shown + ": " + ErrorText(err), err, dir);
    return false;
  }
  if (r.name != archiveName) host_.AppendLog("Saved as " + r.name, false);
  ZipUnzip zip;
  zip.Create(fd, shown, writer_);
  const bool copied = CopyIntoZip(zip, name, entry, readItem, state);
  try {
    zip.Close();
  } catch (const CZipException& e) {
    dir.Remove(r.name);
    WriteFailure(e.what(), e.m_nSystemError ? e.m_nSystemError : EIO, dir);
    return false;
  }
  if (!copied) {
    dir.Remove(r.name);  // an archive without its file
    return false;
  }
  opened = true;
  return true;
}

bool CThreadForSavingFiles::OpenSingleZip() {
  const Resolution r = ResolveExistingName(LocalProbe(destRoot_), kSingleZipName, 0);
  if (!r.save) {
    host_.AppendLog(std::string(kSingleZipName) + " " + LoadString(kIdsSkipped), false);
    return false;
  }
  int err = 0;
  const int fd = r.replace ? destRoot_.ReplaceFile(r.name, err) : destRoot_.CreateFile(r.name, err);
  m_szZipPath = (destRoot_.DisplayPath() / r.name).string();
  if (fd < 0) {
    EndJob("Cannot create " + m_szZipPath + ": " + ErrorText(err));
    return false;
  }
  m_zip.Create(fd, m_szZipPath, writer_);
  return true;
}

void CThreadForSavingFiles::CloseSingleZip() {
  try {
    m_zip.Close();
  } catch (const CZipException& e) {
    // Without its directory the archive holds nothing a reader can find.
    EndJob(e.what());
  }
}

bool CThreadForSavingFiles::SaveToSingleZip(const SaveWalkEntry& entry, const FoundItemInfo& readItem,
                                            const std::string& name, CopyState& state, bool& opened) {
  if (!m_zip.IsOpen()) return false;
  std::string entryName;
  for (std::size_t i = 1; i < folders_.size(); ++i) entryName += folders_[i].component + "/";
  entryName += name;
  if (!CopyIntoZip(m_zip, entryName, entry, readItem, state)) return false;
  opened = true;
  return true;
}

// ------------------------------------------------------------ FTP server

void CThreadForSavingFiles::StopOnAbortFlag() {
  ftp_->SetInterrupt([this] { return host_.AbortFlag() != 0; });
}

bool CThreadForSavingFiles::ConnectFtp() {
  const FtpServer server{m_ftp.server, ConnectionPort(m_ftp.port), m_ftp.user, m_ftp.password};
  ftp_ = std::make_unique<FtpClient>(server, m_ftpTimeouts);
  StopOnAbortFlag();
  std::string login;
  const FtpReply r = ftp_->Connect(login);
  if (r.ok) {
    ftpRoot_ = RemoteDestination(login, m_szDest.string());
    return true;
  }
  ftp_.reset();
  host_.AppendLog("ERROR!  " + r.Describe(), false);
  if (r.interrupted) return false;  // Stop: the end log says so
  result_.failedJob = true;
  result_.failure = LoadString(kIdsCannotConnect) + "\n" + r.Describe();
  host_.GetPrompt().MessageBox(result_.failure, kPicError, kMbOk);
  return false;
}

void CThreadForSavingFiles::ConnectionLost(const FtpReply& reply) {
  if (ftpLost_) return;
  ftpLost_ = true;
  stop_ = true;
  result_.failedJob = true;
  result_.failure = LoadString(kIdsConnectionTerminated) + "\n" + reply.Describe();
  host_.AppendLog("ERROR!  " + LoadString(kIdsConnectionTerminated) + reply.Describe(), false);
  host_.GetPrompt().MessageBox(result_.failure, kPicError, kMbOk);
}

void CThreadForSavingFiles::FtpFailure(const std::string& what, const FtpReply& reply, const std::string& partial) {
  if (ftpLost_ || reply.interrupted) return;
  StopOnAbortFlag();
  // A refusal comes from a server that still answers; anything else is
  // asked with a NOOP, on a new connection when the old one went.
  if (!reply.Refused()) {
    const FtpReply alive = ftp_->Noop();
    if (!alive.ok) {
      if (!alive.interrupted) ConnectionLost(reply);
      return;
    }
  }
  // A short file must not pass for a saved one.
  if (!partial.empty()) ftp_->Delete(partial);
  NoteFailure(what + " on the server: " + reply.Describe());
}

void CThreadForSavingFiles::LogUnsaved(const SaveWalkEntry& entry) {
  if (ChoiceFor(entry) != Choice::Save) return;
  std::string path = ftpRoot_ == "/" ? std::string() : ftpRoot_;
  for (std::size_t d = 1; d < walkNames_.size() && d < entry.depth; ++d) path += "/" + walkNames_[d];
  path += "/" + SanitiseName(entry.name).name;
  ++result_.failed;
  host_.AppendLog("Not saved: " + path, false);
}

bool CThreadForSavingFiles::EnterFtpFolder(Folder& folder, const std::string& name) {
  StopOnAbortFlag();
  if (folders_.empty()) {
    // The destination itself, made with its parents when missing.
    folder.remote = ftpRoot_;
    FtpReply r = ftp_->EnterDirectory(ftpRoot_);
    if (r.ok || r.interrupted) return r.ok;
    FtpReply made;
    made.ok = true;
    for (std::size_t at = 1; at <= ftpRoot_.size() && r.Refused(); ++at) {
      if (at < ftpRoot_.size() && ftpRoot_[at] != '/') continue;
      made = ftp_->MakeDirectory(ftpRoot_.substr(0, at));
      if (made.interrupted) return false;
      if (!made.ok && !made.Refused()) break;
    }
    if (r.Refused()) r = ftp_->EnterDirectory(ftpRoot_);
    if (r.ok) {
      folder.fresh = made.ok;
      return true;
    }
    if (r.interrupted) return false;
    const FtpReply& why = made.ok ? r : made;
    FtpFailure("Cannot create the folder " + ftpRoot_, why);
    if (!stop_) EndJob("Cannot create the folder " + ftpRoot_ + " on the server: " + why.Describe());
    return false;
  }
  const Folder& parent = folders_.back();
  folder.remote = (parent.remote == "/" ? std::string() : parent.remote) + "/" + name;
  const FtpReply made = ftp_->MakeDirectory(folder.remote);
  if (made.ok) {
    folder.fresh = true;
    return true;
  }
  if (made.interrupted) return false;
  if (made.Refused()) {
    // Refused: it may be there already.
    const FtpReply entered = ftp_->EnterDirectory(folder.remote);
    if (entered.ok || entered.interrupted) return entered.ok;
    if (entered.Refused()) {
      ++foldersFailed_;
      NoteFailure("Cannot create the folder " + folder.remote + " on the server: " + made.Describe());
      return false;
    }
  }
  FtpFailure("Cannot create the folder " + folder.remote, made);
  if (!stop_) ++foldersFailed_;
  return false;
}

CThreadForSavingFiles::NameProbe CThreadForSavingFiles::FtpProbe(Folder& folder) {
  return [this, &folder](const std::string& name) {
    LocalFolder::Entry e;
    if (const auto it = folder.written.find(name); it != folder.written.end()) {
      e.exists = true;
      e.size = it->second;
      return e;
    }
    if (folder.fresh) return e;  // made by this job: holds only what it wrote
    const std::string path = (folder.remote == "/" ? std::string() : folder.remote) + "/" + name;
    std::uint64_t size = 0;
    const FtpReply r = ftp_->FileSize(path, size);
    if (r.ok) {
      e.exists = true;
      e.size = size;
    } else if (!r.Refused()) {
      // Not known: taken as taken, so nothing is overwritten unasked.
      e.exists = true;
      if (!r.interrupted && !ftp_->Noop().ok) ConnectionLost(r);
    }
    return e;
  };
}

bool CThreadForSavingFiles::SaveToFtpFile(const SaveWalkEntry& entry, const FoundItemInfo& readItem,
                                          const std::string& name, CopyState& state, bool& opened, bool& skipped) {
  Folder& folder = folders_.back();
  StopOnAbortFlag();
  const Resolution r = ResolveExistingName(FtpProbe(folder), name, entry.record.size);
  if (stop_) return false;
  if (!r.save) {
    skipped = true;
    return false;
  }
  if (r.name != name) host_.AppendLog("Saved as " + r.name, false);
  const std::string path = (folder.remote == "/" ? std::string() : folder.remote) + "/" + r.name;

  // Stop while the server is waited for asks about this file, as between
  // blocks; "Abort Immediately" ends the transfer there.
  ftp_->SetInterrupt([this, &entry, &state] {
    if (state.answer == static_cast<int>(AbortAnswer::AbortImmediately)) return true;
    return !AskAbortIfRequested(entry.name, state);
  });
  // The predicate refers to this call's state: it goes with it.
  struct Restore {
    CThreadForSavingFiles* thread;
    ~Restore() { thread->StopOnAbortFlag(); }
  } restore{this};
  const FtpReply begin = ftp_->BeginUpload(path);
  if (!begin.ok) {
    if (begin.interrupted) {
      state.complete = false;
      opened = true;
      return true;
    }
    FtpFailure("Cannot create " + path, begin);
    return false;
  }
  folder.written[r.name] = entry.record.size;

  std::uint64_t sent = 0;
  FtpReply failed;
  const auto write = [&](const std::uint8_t* data, std::size_t size, std::uint64_t offset, CopyState&) {
    // The server takes one stream: blocks come in order, none twice.
    if (offset != sent) {
      failed = FtpReply{};
      failed.text = "a block out of order";
      return false;
    }
    failed = ftp_->Write(data, size);
    if (!failed.ok) return false;
    sent += size;
    return true;
  };
  const CopyEnd end = CopyData(readItem, entry.name, write, state);
  if (end == CopyEnd::AbortedNow || (end == CopyEnd::WriteFailed && failed.interrupted)) {
    // What arrived stays, as a local file keeps what was written.
    ftp_->CancelUpload();
    state.complete = false;
    opened = true;
    return true;
  }
  if (end == CopyEnd::WriteFailed) {
    ftp_->CancelUpload();
    folder.written.erase(r.name);
    FtpFailure("Cannot write " + path, failed, path);
    return false;
  }
  const FtpReply done = ftp_->EndUpload();
  if (!done.ok) {
    if (done.interrupted) {
      state.complete = false;
      opened = true;
      return true;
    }
    folder.written.erase(r.name);
    FtpFailure("Cannot write " + path, done, path);
    return false;
  }
  opened = true;
  return true;
}

}  // namespace corvan
