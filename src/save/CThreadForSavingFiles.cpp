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
#include "core/StringTable.h"
#include "platform/TextConv.h"
#include "platform/TimeFormat.h"
#include "core/NameSanitiser.h"
#include "save/OutputWriter.h"

namespace corvan {

namespace {

constexpr unsigned kIdsFolder = 105;
constexpr unsigned kIdsFile = 106;
constexpr unsigned kIdsRecoveringFile = 340;
constexpr unsigned kIdsDiskReadError = 341;
constexpr unsigned kIdsErrorReadingCluster = 342;
constexpr unsigned kIdsRecovered = 344;
constexpr unsigned kIdsPartiallyRecovered = 345;
constexpr unsigned kIdsSkipped = 346;
constexpr unsigned kIdsCopy = 347;

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
  folders_.clear();
  skipping_ = false;
  stop_ = false;
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

  host_.AppendLog(LoadString(kIdsRecoveringFile), true);
  host_.LogProcessStarted();

  Job();
  if (result_.failed > 0 && !result_.failedJob) {
    // Files that could not be written make the job a failure, not a success;
    // one message at the end rather than one per file.
    result_.failedJob = true;
    result_.failure = std::to_string(result_.failed) + " file(s) could not be saved.";
    if (!firstFailure_.empty()) result_.failure += " The first: " + firstFailure_ + ".";
    host_.GetPrompt().MessageBox(result_.failure, kPicError, kMbOk);
  }

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
  if (m_nDestKind != 0) {
    EndJob("Saving to an FTP server is not available.");
    return;
  }
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
  progress_->SetRange(0, m_nFileCount);
  progress_->SetStep(1);

  const bool singleZip = m_bCreateZip && m_nZipMode == 1;
  if (singleZip && !OpenSingleZip()) return;

  SaveWalkEntry entry;
  bool aborted = false;
  while (!stop_ && walk_.Next(entry)) {
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

bool CThreadForSavingFiles::Selected(const SaveWalkEntry& entry) {
  if (!MatchFileMasks(entry.name, job_.masks, job_.maskExclude)) return false;
  if (m_nSelectMode != 1) return true;
  const bool deleted = entry.record.IsDeleted();
  switch (m_nWhichFiles) {
    case 0:
      if (!deleted) return true;
      break;
    case 1: return true;
    case 2:
      if (deleted) return true;
      break;
    default: return false;
  }
  // Left out by the which-files choice: counted off as if saved.
  walk_.ItemDone(entry);
  return false;
}

std::string CThreadForSavingFiles::FolderText() const {
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
  if (folders_.empty()) {
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
        use = FirstFreeCopyName(parent.dir, use);
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

std::string CThreadForSavingFiles::FirstFreeCopyName(const LocalFolder& dir, const std::string& name) const {
  const std::string copy = LoadString(kIdsCopy);
  for (std::uint32_t n = 1; n < kMaxCopyIndex; ++n) {
    const std::string candidate = SanitiseName(std::string_view(copy + std::to_string(n) + "_" + name)).name;
    if (!dir.Probe(candidate).exists) return candidate;
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

CThreadForSavingFiles::Resolution CThreadForSavingFiles::ResolveExistingName(const LocalFolder& dir,
                                                                            const std::string& name,
                                                                            std::uint64_t newSize) {
  Resolution r;
  r.name = name;
  // A Rename answer is checked again like any other name.
  for (int round = 0; round < 1000; ++round) {
    const LocalFolder::Entry existing = dir.Probe(r.name);
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
      r.name = FirstFreeCopyName(dir, r.name);
      r.save = !r.name.empty();
      return r;
    }
    FileExistQuestion q;
    q.name = Utf8ToUtf16(r.name);
    q.existingSize = existing.size;
    q.newSize = newSize;
    q.proposedName = Utf8ToUtf16(FirstFreeCopyName(dir, r.name));
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
        r.name = FirstFreeCopyName(dir, r.name);
        r.save = !r.name.empty();
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
  if (!m_bCreateZip) SaveToLocalFile(entry, readItem, name.name, state, opened, skipped);
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
  if (skipped) {
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
    const Resolution r = ResolveExistingName(dir, name, entry.record.size);
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
  const Resolution r = ResolveExistingName(dir, archiveName, entry.record.size);
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
  const Resolution r = ResolveExistingName(destRoot_, kSingleZipName, 0);
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

}  // namespace corvan
