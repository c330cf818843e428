#include "save/LocalDestinations.h"

#include <cerrno>
#include <cstring>

#include "core/NameSanitiser.h"
#include "save/OutputWriter.h"
#include "save/RecoveredFileTimes.h"

namespace corvan {

namespace {

constexpr const char* kSingleZipName = "Recovered Data.zip";
constexpr std::uint32_t kMaxCopyIndex = 1'000'000;

// A destination that refuses every write.
bool Unwritable(int err) { return err == EROFS; }
// No room for this file; a smaller one may still fit.
bool OutOfRoom(int err) { return err == ENOSPC || err == EDQUOT; }

std::string ErrorText(int err) { return std::strerror(err ? err : EIO); }
int SystemError(const CZipException& e) { return e.m_nSystemError ? e.m_nSystemError : EIO; }

}  // namespace

// ------------------------------------------------------------ on a local disk

LocalDestination::LocalDestination(SaveJobLog& log, std::filesystem::path dest, OutputWriter& writer)
    : SaveDestination(log), dest_(std::move(dest)), writer_(writer) {}

bool LocalDestination::Open() {
  std::filesystem::path dest = dest_;
  if (dest.empty()) {
    log_.EndJob("No destination folder was chosen.");
    return false;
  }
  std::error_code ec;
  if (dest.is_relative()) dest = std::filesystem::current_path(ec) / dest;
  int err = 0;
  if (!root_.OpenRoot(dest, err)) {
    log_.EndJob("Cannot open the destination folder " + dest.string() + ": " + ErrorText(err));
    return false;
  }
  return true;
}

std::uint32_t LocalDestination::CopyIndexLimit() const { return kMaxCopyIndex; }

void LocalDestination::WriteFailure(const std::string& message, int err, const LocalFolder& where) {
  // Called once the failed file is cut back and removed, so its space
  // counts as free again.
  const LocalFolder& folder = where.IsOpen() ? where : root_;
  const bool nothingFits =
      Unwritable(err) || (OutOfRoom(err) && folder.IsOpen() && !writer_.HasRoom(folder.Descriptor()));
  if (nothingFits) {
    log_.EndJob(message + ". Saving stopped.");
  } else {
    log_.NoteFailure(message);
  }
}

bool LocalDestination::AddZipEntry(ZipUnzip& zip, const std::string& entryName, const FoundItemInfo& record,
                                   const LocalFolder& where) {
  zipError_.clear();
  ZipEntryInfo info;
  info.size = record.size;
  info.attribute = record.attribute ? record.attribute : kItemFile;
  try {
    if (!zip.AddNewFile(entryName, info)) {
      log_.NoteFailure("The zip entry " + entryName + " cannot be made");
      return false;
    }
    return true;
  } catch (const CZipException& e) {
    return ZipEntryFailed(zip, entryName, e.what(), SystemError(e), where);
  }
}

bool LocalDestination::WriteZipEntry(ZipUnzip& zip, const std::uint8_t* data, std::size_t size, int& error) {
  try {
    zip.WriteNewFile(data, size);
    return true;
  } catch (const CZipException& e) {
    error = SystemError(e);
    zipError_ = e.what();
    return false;
  }
}

bool LocalDestination::CloseZipEntry(ZipUnzip& zip, const std::string& entryName, CopyEnd end, int writeError,
                                     const LocalFolder& where) {
  if (end == CopyEnd::WriteFailed)
    return ZipEntryFailed(zip, entryName, zipError_.empty() ? ErrorText(writeError) : zipError_, writeError, where);
  try {
    zip.CloseNewFile();
    return true;
  } catch (const CZipException& e) {
    return ZipEntryFailed(zip, entryName, e.what(), SystemError(e), where);
  }
}

bool LocalDestination::ZipEntryFailed(ZipUnzip& zip, const std::string& entryName, const std::string& why, int err,
                                      const LocalFolder& where) {
  zip.DiscardNewFile();
  WriteFailure("Cannot write " + entryName + " into the zip archive (" + why + ")", err, where);
  return false;
}

// ------------------------------------------------------------ plain files

FolderDestination::FolderDestination(SaveJobLog& log, std::filesystem::path dest, OutputWriter& writer,
                                     int volumeKind)
    : LocalDestination(log, std::move(dest), writer), volumeKind_(volumeKind) {}

bool FolderDestination::EnterFolder(const std::string& name) {
  LocalFolder dir;
  int err = 0;
  if (folders_.empty()) {
    // The walk's first folder stands for the destination itself.
    if (!dir.Duplicate(root_, err)) {
      WriteFailure("Cannot open the folder " + root_.DisplayPath().string() + ": " + ErrorText(err), err, root_);
      return false;
    }
  } else {
    const LocalFolder& parent = folders_.back();
    std::string use = name;
    const Entry there = parent.IsOpen() ? parent.Probe(use) : Entry{};
    if (there.exists && !there.directory) {
      // A file or link holds the name (two names may sanitise alike):
      // the folder takes the first free copy name instead.
      use = FirstFreeCopyName(use);
      log_.Line("Saved as " + use);
    }
    if (!parent.IsOpen() || use.empty() || !dir.OpenSubfolder(parent, use, err)) {
      WriteFailure("Cannot create the folder " + (parent.DisplayPath() / use).string() + ": " + ErrorText(err), err,
                   parent);
      return false;
    }
  }
  folders_.push_back(std::move(dir));
  return true;
}

void FolderDestination::LeaveFolder() { folders_.pop_back(); }

std::string FolderDestination::FolderText() const {
  if (folders_.empty() || !folders_.back().IsOpen()) return {};
  std::string text = folders_.back().DisplayPath().string();
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

SaveDestination::Entry FolderDestination::Probe(const std::string& name) { return Current().Probe(name); }

std::string FolderDestination::Shown(const std::string& name) const {
  return (Current().DisplayPath() / name).string();
}

SaveDestination::Opened FolderDestination::OpenFile(const SaveTarget& target) {
  const LocalFolder& dir = Current();
  int err = 0;
  fd_ = target.replace ? dir.ReplaceFile(target.chosen, err) : dir.CreateFile(target.chosen, err);
  if (fd_ < 0) {
    if (err == EEXIST && !target.replace) return Opened::Taken;
    WriteFailure("Cannot create " + Shown(target.chosen) + ": " + ErrorText(err), err, dir);
    return Opened::Failed;
  }
  if (target.chosen != target.wanted) log_.Line("Saved as " + target.chosen);
  return Opened::Yes;
}

bool FolderDestination::Write(const std::uint8_t* data, std::size_t size, std::uint64_t offset, int& error) {
  if (writer_.WriteAt(fd_, data, size, offset)) return true;
  error = errno ? errno : EIO;
  return false;
}

SaveDestination::Finished FolderDestination::FinishFile(const SaveTarget& target, CopyEnd end, int writeError) {
  const LocalFolder& dir = Current();
  const std::string shown = Shown(target.chosen);
  bool ok = end != CopyEnd::WriteFailed;
  int err = writeError;
  if (ok && !SetRecoveredFileTimes(fd_, target.record, volumeKind_))
    log_.Line("ERROR!  Cannot set the times of " + shown + ": " + ErrorText(errno));
  // What was written of a file that failed goes back to the files after it.
  if (!ok) writer_.Truncate(fd_, 0);
  if (!writer_.Close(fd_) && ok) {
    ok = false;
    err = errno ? errno : EIO;
  }
  fd_ = -1;
  if (!ok) {
    // A short file must not pass for a recovered one.
    dir.Remove(target.chosen);
    WriteFailure("Cannot write " + shown + ": " + ErrorText(err), err, dir);
    return Finished::Failed;
  }
  return Finished::Saved;
}

// ------------------------------------------------------------ a zip archive per file

OwnZipDestination::OwnZipDestination(SaveJobLog& log, std::filesystem::path dest, OutputWriter& writer)
    : FolderDestination(log, std::move(dest), writer, kSaveVolumeFat) {}

std::string OwnZipDestination::FileName(const std::string& name) const {
  return SanitiseName(std::string_view(name + ".zip")).name;
}

SaveDestination::Opened OwnZipDestination::OpenFile(const SaveTarget& target) {
  const LocalFolder& dir = Current();
  int err = 0;
  const int fd = target.replace ? dir.ReplaceFile(target.chosen, err) : dir.CreateFile(target.chosen, err);
  const std::string shown = Shown(target.chosen);
  if (fd < 0) {
    WriteFailure("Cannot create " + shown + ": " + ErrorText(err), err, dir);
    return Opened::Failed;
  }
  if (target.chosen != target.wanted) log_.Line("Saved as " + target.chosen);
  zip_.Create(fd, shown, &writer_);
  if (AddZipEntry(zip_, target.name, target.record, dir)) return Opened::Yes;
  CloseArchive(target.chosen, false);
  return Opened::Failed;
}

bool OwnZipDestination::Write(const std::uint8_t* data, std::size_t size, std::uint64_t, int& error) {
  return WriteZipEntry(zip_, data, size, error);
}

SaveDestination::Finished OwnZipDestination::FinishFile(const SaveTarget& target, CopyEnd end, int writeError) {
  const bool copied = CloseZipEntry(zip_, target.name, end, writeError, Current());
  return CloseArchive(target.chosen, copied) ? Finished::Saved : Finished::Failed;
}

bool OwnZipDestination::CloseArchive(const std::string& name, bool copied) {
  const LocalFolder& dir = Current();
  try {
    zip_.Close();
  } catch (const CZipException& e) {
    dir.Remove(name);
    WriteFailure(e.what(), SystemError(e), dir);
    return false;
  }
  if (!copied) {
    dir.Remove(name);  // an archive without its file
    return false;
  }
  return true;
}

// ------------------------------------------------------------ one archive for the job

SingleZipDestination::SingleZipDestination(SaveJobLog& log, std::filesystem::path dest, OutputWriter& writer)
    : LocalDestination(log, std::move(dest), writer) {}

std::string SingleZipDestination::JobFileName() const { return kSingleZipName; }

bool SingleZipDestination::BeginJobFile(const std::string& name, bool replace) {
  int err = 0;
  const int fd = replace ? root_.ReplaceFile(name, err) : root_.CreateFile(name, err);
  zipPath_ = (root_.DisplayPath() / name).string();
  if (fd < 0) {
    log_.EndJob("Cannot create " + zipPath_ + ": " + ErrorText(err));
    return false;
  }
  zip_.Create(fd, zipPath_, &writer_);
  return true;
}

void SingleZipDestination::End() {
  try {
    zip_.Close();
  } catch (const CZipException& e) {
    // Without its directory the archive holds nothing a reader can find.
    log_.EndJob(e.what());
  }
}

bool SingleZipDestination::EnterFolder(const std::string& name) {
  components_.push_back(components_.empty() ? std::string() : name);
  return true;
}

void SingleZipDestination::LeaveFolder() { components_.pop_back(); }

std::string SingleZipDestination::FolderText() const {
  std::string text = zipPath_ + "/";
  for (std::size_t i = 1; i < components_.size(); ++i) text += components_[i] + "/";
  return text;
}

SaveDestination::Entry SingleZipDestination::Probe(const std::string& name) {
  // Only the archive's own name can clash.
  return zip_.IsOpen() ? Entry{} : root_.Probe(name);
}

std::string SingleZipDestination::Shown(const std::string& name) const {
  return (root_.DisplayPath() / name).string();
}

SaveDestination::Opened SingleZipDestination::OpenFile(const SaveTarget& target) {
  if (!zip_.IsOpen()) return Opened::Failed;
  entryName_.clear();
  for (std::size_t i = 1; i < components_.size(); ++i) entryName_ += components_[i] + "/";
  entryName_ += target.name;
  return AddZipEntry(zip_, entryName_, target.record, root_) ? Opened::Yes : Opened::Failed;
}

bool SingleZipDestination::Write(const std::uint8_t* data, std::size_t size, std::uint64_t, int& error) {
  return WriteZipEntry(zip_, data, size, error);
}

SaveDestination::Finished SingleZipDestination::FinishFile(const SaveTarget&, CopyEnd end, int writeError) {
  return CloseZipEntry(zip_, entryName_, end, writeError, root_) ? Finished::Saved : Finished::Failed;
}

}  // namespace corvan
