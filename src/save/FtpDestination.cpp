#include "save/FtpDestination.h"

#include "core/StringIds.h"
#include "core/StringTable.h"

namespace corvan {

namespace {

// On a server each copy name tried is a round trip, and a server may say
// that every name exists: past this many taken names the file is left out
// with a message.
constexpr std::uint32_t kMaxFtpCopyIndex = 32;
// Transfers in a row that time out before the server is taken as gone: each
// one costs a whole time-out, and the next would too.
constexpr std::uint32_t kFtpTimeoutsLost = 2;

}  // namespace

FtpDestination::FtpDestination(SaveJobLog& log, FtpSettings settings, FtpTimeouts timeouts, std::string dest)
    : SaveDestination(log), settings_(std::move(settings)), timeouts_(timeouts), dest_(std::move(dest)) {}

FtpDestination::~FtpDestination() = default;

void FtpDestination::StopOnAbortFlag() {
  ftp_->SetInterrupt([this] { return log_.AbortRequested(); });
}

bool FtpDestination::Connect() {
  lost_ = false;
  timeoutsInARow_ = 0;
  const FtpServer server{settings_.server, ConnectionPort(settings_.port), settings_.user, settings_.password};
  ftp_ = std::make_unique<FtpClient>(server, timeouts_);
  StopOnAbortFlag();
  std::string login;
  const FtpReply r = ftp_->Connect(login);
  if (r.ok) {
    root_ = RemoteDestination(login, dest_);
    return true;
  }
  ftp_.reset();
  if (r.interrupted) {
    log_.Line("ERROR!  " + r.Describe());  // Stop: the end log says so
    return false;
  }
  log_.Fail(LoadString(kIdsCannotConnect) + "\n" + r.Describe(), r.Describe());
  return false;
}

void FtpDestination::Disconnect() { ftp_.reset(); }

std::string FtpDestination::UnsavedPath(const std::string& relative) const {
  return (root_ == "/" ? std::string() : root_) + "/" + relative;
}

void FtpDestination::ConnectionLost(const FtpReply& reply) {
  if (lost_) return;
  lost_ = true;
  log_.Fail(LoadString(kIdsConnectionTerminated) + "\n" + reply.Describe(),
            LoadString(kIdsConnectionTerminated) + reply.Describe());
}

void FtpDestination::Failure(const std::string& what, const FtpReply& reply, const std::string& partial) {
  if (lost_ || reply.interrupted) return;
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
  log_.NoteFailure(what + " on the server: " + reply.Describe());
}

void FtpDestination::TransferFailure(const std::string& path, const std::string& what, const FtpReply& reply,
                                     bool partial) {
  if (!reply.TimedOut()) {
    timeoutsInARow_ = 0;
  } else if (++timeoutsInARow_ >= kFtpTimeoutsLost) {
    FtpReply lost = reply;
    lost.text = std::to_string(timeoutsInARow_) + " transfers in a row timed out (" + reply.Describe() + ")";
    ConnectionLost(lost);
  }
  Failure(what, reply, partial ? path : std::string());
  if (lost_) log_.Line("Not saved: " + path);
}

bool FtpDestination::EnterFolder(const std::string& name) {
  Folder folder;
  if (!MakeFolder(folder, name)) return false;
  folders_.push_back(std::move(folder));
  return true;
}

bool FtpDestination::MakeFolder(Folder& folder, const std::string& name) {
  StopOnAbortFlag();
  if (folders_.empty()) {
    // The destination itself, made with its parents when missing.
    folder.remote = root_;
    FtpReply r = ftp_->EnterDirectory(root_);
    if (r.ok || r.interrupted) return r.ok;
    FtpReply made;
    made.ok = true;
    for (std::size_t at = 1; at <= root_.size() && r.Refused(); ++at) {
      if (at < root_.size() && root_[at] != '/') continue;
      made = ftp_->MakeDirectory(root_.substr(0, at));
      if (made.interrupted) return false;
      if (!made.ok && !made.Refused()) break;
    }
    if (r.Refused()) r = ftp_->EnterDirectory(root_);
    if (r.ok) {
      folder.fresh = made.ok;
      return true;
    }
    if (r.interrupted) return false;
    const FtpReply& why = made.ok ? r : made;
    Failure("Cannot create the folder " + root_, why);
    log_.EndJob("Cannot create the folder " + root_ + " on the server: " + why.Describe());
    return false;
  }
  folder.remote = FolderPath() + "/" + name;
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
      log_.FolderFailed();
      log_.NoteFailure("Cannot create the folder " + folder.remote + " on the server: " + made.Describe());
      return false;
    }
  }
  Failure("Cannot create the folder " + folder.remote, made);
  if (!log_.Stopped()) log_.FolderFailed();
  return false;
}

void FtpDestination::LeaveFolder() { folders_.pop_back(); }

std::string FtpDestination::FolderPath() const {
  const std::string& remote = folders_.back().remote;
  return remote == "/" ? std::string() : remote;
}

std::string FtpDestination::FolderText() const {
  if (folders_.empty()) return {};
  return FolderPath() + "/";
}

SaveDestination::Entry FtpDestination::Probe(const std::string& name) {
  Folder& folder = folders_.back();
  Entry e;
  if (const auto it = folder.written.find(name); it != folder.written.end()) {
    e.exists = true;
    e.size = it->second;
    return e;
  }
  if (folder.fresh) return e;  // made by this job: holds only what it wrote
  std::uint64_t size = 0;
  const FtpReply r = ftp_->FileSize(FolderPath() + "/" + name, size);
  if (r.ok) {
    e.exists = true;
    e.size = size;
  } else if (!r.Refused()) {
    // Not known: taken as taken, so nothing is overwritten unasked.
    e.exists = true;
    if (!r.interrupted && !ftp_->Noop().ok) ConnectionLost(r);
  }
  return e;
}

std::uint32_t FtpDestination::CopyIndexLimit() const { return kMaxFtpCopyIndex; }

std::string FtpDestination::Shown(const std::string& name) const {
  return FolderPath() + "/" + name + " on the server";
}

SaveDestination::Opened FtpDestination::OpenFile(const SaveTarget& target) {
  if (target.chosen != target.wanted) log_.Line("Saved as " + target.chosen);
  path_ = FolderPath() + "/" + target.chosen;
  // Stop while the server is waited for asks about this file, as between
  // blocks; "Abort Immediately" ends the transfer there. The predicate
  // refers to the thread's state for this file: FinishFile puts the abort
  // flag back.
  ftp_->SetInterrupt(target.interrupt);
  const FtpReply begin = ftp_->BeginUpload(path_);
  if (!begin.ok) {
    if (!begin.interrupted) TransferFailure(path_, "Cannot create " + path_, begin, false);
    StopOnAbortFlag();
    return begin.interrupted ? Opened::Interrupted : Opened::Failed;
  }
  folders_.back().written[target.chosen] = target.record.size;
  sent_ = 0;
  failed_ = FtpReply{};
  return Opened::Yes;
}

bool FtpDestination::Write(const std::uint8_t* data, std::size_t size, std::uint64_t offset, int&) {
  // The server takes one stream: blocks come in order, none twice.
  if (offset != sent_) {
    failed_ = FtpReply{};
    failed_.text = "a block out of order";
    return false;
  }
  failed_ = ftp_->Write(data, size);
  if (!failed_.ok) return false;
  sent_ += size;
  return true;
}

SaveDestination::Finished FtpDestination::FinishFile(const SaveTarget& target, CopyEnd end, int) {
  struct Restore {
    FtpDestination* destination;
    ~Restore() { destination->StopOnAbortFlag(); }
  } restore{this};
  Folder& folder = folders_.back();
  if (end == CopyEnd::AbortedNow || (end == CopyEnd::WriteFailed && failed_.interrupted)) {
    // What arrived stays, as a local file keeps what was written.
    ftp_->CancelUpload();
    return Finished::Cut;
  }
  if (end == CopyEnd::WriteFailed) {
    ftp_->CancelUpload();
    folder.written.erase(target.chosen);
    TransferFailure(path_, "Cannot write " + path_, failed_, true);
    return Finished::Failed;
  }
  const FtpReply done = ftp_->EndUpload();
  if (!done.ok) {
    if (done.interrupted) return Finished::Cut;
    folder.written.erase(target.chosen);
    TransferFailure(path_, "Cannot write " + path_, done, true);
    return Finished::Failed;
  }
  timeoutsInARow_ = 0;
  return Finished::Saved;
}

}  // namespace corvan
