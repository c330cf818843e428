#pragma once
// Our small FTP layer over libcurl, for the saving thread and the server
// browser. One control connection is kept and reused from call to call (it
// is made again, with a new login, when the server closed it). Paths are
// always absolute on the server and sent as UTF-8, percent-encoded in the
// URLs libcurl is given; data connections are active (PORT/EPRT).
//
// No call can block for long: connecting, each reply and a stalled data
// transfer have bounded time-outs, and every call polls the interrupt
// predicate (through libcurl's progress callback and between waits), so a
// Stop ends it within a fraction of a second.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>

namespace corvan {

struct FtpServer {
  std::string host;
  std::uint16_t port = 21;
  std::string user;
  std::string password;
};

struct FtpTimeouts {
  long connectMs = 30000;     // TCP connect and login
  long replyMs = 60000;       // each reply of the server, and its connect back for data
  long stallSeconds = 60;     // a data transfer with no byte moving for this long
};

struct FtpReply {
  bool ok = false;
  bool interrupted = false;  // the interrupt predicate ended the call
  int curlCode = 0;          // CURLcode
  long code = 0;             // the server's last reply code, 0 when none came
  std::string text;          // the server's last reply line, or what went wrong

  // The server answered with a refusal (4xx or 5xx); the connection itself
  // may still be fine.
  bool Refused() const { return code >= 400 && code < 600; }
  // A time-out ended the call: a reply, the data connection or a stalled
  // transfer was waited for in vain.
  bool TimedOut() const;
  // What went wrong, for a message or a log line.
  std::string Describe() const;
};

class FtpClient {
 public:
  explicit FtpClient(FtpServer server, FtpTimeouts timeouts = {});
  ~FtpClient();
  FtpClient(const FtpClient&) = delete;
  FtpClient& operator=(const FtpClient&) = delete;

  // Polled while any call waits; true ends the call (reply.interrupted).
  void SetInterrupt(std::function<bool()> interrupt);

  // Logs in; `loginFolder` receives the folder the server put the user in.
  FtpReply Connect(std::string& loginFolder);
  FtpReply MakeDirectory(const std::string& path);
  // Whether the folder exists and may be entered (CWD).
  FtpReply EnterDirectory(const std::string& path);
  // The server's LIST lines for `folder`, appended to `text`.
  FtpReply List(const std::string& folder, std::string& text);
  // The size of the file at `path` (SIZE); refused (550) when there is none.
  FtpReply FileSize(const std::string& path, std::uint64_t& size);
  FtpReply Delete(const std::string& path);
  // Whether the server still answers (a connection is made again if needed).
  FtpReply Noop();

  // A file is written in three steps: Begin (STOR accepted, data connection
  // open), any number of Writes, then End, which is ok only when the server
  // confirmed the whole file with 226 (or 250). Cancel drops the transfer.
  FtpReply BeginUpload(const std::string& path);
  FtpReply Write(const void* data, std::size_t size);
  FtpReply EndUpload();
  void CancelUpload();
  bool Uploading() const;

  // The percent-encoded URL path of an absolute path.
  static std::string EncodePath(const std::string& absolutePath);

 private:
  // Commands sent one after the other on the control connection alone.
  FtpReply Commands(std::initializer_list<std::string> commands);

  struct State;
  std::unique_ptr<State> s_;
};

// The host text is a name or an address, nothing that could change the URL.
bool PlausibleFtpHost(const std::string& host);

}  // namespace corvan
