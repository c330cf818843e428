#pragma once
// A folder on an FTP server (through FtpClient). A file counts as saved
// only once the server confirmed it whole (226). A file the server refuses
// (a full disk's 552, a refused name) is logged and the job goes on; when
// the server cannot be reached any more, or two transfers in a row time
// out, the job ends with one message and every file left unsaved is
// logged. A name clash on the server tries a bounded number of copy names
// (each is a round trip, and a server may claim every name exists). Stop
// reaches a transfer that waits on the server as it reaches the copy
// between blocks.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "save/FtpClient.h"
#include "save/FtpSettings.h"
#include "save/SaveDestination.h"

namespace corvan {

class FtpDestination final : public SaveDestination {
 public:
  // `dest` is taken from the login folder unless it starts with "/".
  FtpDestination(SaveJobLog& log, FtpSettings settings, FtpTimeouts timeouts, std::string dest);
  ~FtpDestination() override;

  // Logs in; false (reported) when it cannot.
  bool Connect() override;
  void Disconnect() override;
  bool Lost() const override { return lost_; }
  std::string UnsavedPath(const std::string& relative) const override;

  bool EnterFolder(const std::string& name) override;
  void LeaveFolder() override;
  std::string FolderText() const override;

  Entry Probe(const std::string& name) override;
  std::uint32_t CopyIndexLimit() const override;
  std::string Shown(const std::string& name) const override;
  Opened OpenFile(const SaveTarget& target) override;
  bool Write(const std::uint8_t* data, std::size_t size, std::uint64_t offset, int& error) override;
  Finished FinishFile(const SaveTarget& target, CopyEnd end, int writeError) override;

 private:
  struct Folder {
    std::string remote;  // the folder's absolute path on the server
    // Whether this job made it: then the names it holds are the ones
    // written into it.
    bool fresh = false;
    std::unordered_map<std::string, std::uint64_t> written;  // name: bytes
  };
  bool MakeFolder(Folder& folder, const std::string& name);
  // The current folder's path as a prefix of "/name": empty for the root.
  std::string FolderPath() const;
  void StopOnAbortFlag();
  // A call that failed: the server's refusal is logged for `what`; when the
  // server no longer answers, the job ends (ConnectionLost). `partial` is
  // a file to remove from the server.
  void Failure(const std::string& what, const FtpReply& reply, const std::string& partial = {});
  void ConnectionLost(const FtpReply& reply);
  // A transfer to `path` that failed: as Failure (`partial`: what arrived
  // is removed), and the server is taken as gone once transfers time out
  // in a row; the file is then logged unsaved.
  void TransferFailure(const std::string& path, const std::string& what, const FtpReply& reply, bool partial);

  FtpSettings settings_;
  FtpTimeouts timeouts_;
  std::string dest_;
  std::unique_ptr<FtpClient> ftp_;
  std::string root_;  // the destination's absolute path on the server
  std::vector<Folder> folders_;
  bool lost_ = false;                  // the server stopped answering: the rest is only logged
  std::uint32_t timeoutsInARow_ = 0;   // transfers that timed out since the last that did not
  std::string path_;                   // the file being written
  std::uint64_t sent_ = 0;             // its bytes the server took
  FtpReply failed_;                    // why its last write failed
};

}  // namespace corvan
