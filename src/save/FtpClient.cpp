#include "save/FtpClient.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

namespace corvan {

namespace {

constexpr int kPollMs = 100;

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool IsReplyLine(const char* line, std::size_t n) {
  return n >= 4 && line[0] >= '0' && line[0] <= '9' && line[1] >= '0' && line[1] <= '9' && line[2] >= '0' &&
         line[2] <= '9';
}

// An IPv4-mapped IPv6 address ("::ffff:127.0.0.1") is an IPv4 server:
// connected to over IPv4, the data connections are offered as IPv4 ones
// (EPRT family 1, or PORT), which such a server takes; over IPv6 it would
// be offered family 2, which an IPv4 server refuses.
std::string ConnectionHost(const std::string& host) {
  in6_addr a6{};
  if (inet_pton(AF_INET6, host.c_str(), &a6) != 1 || !IN6_IS_ADDR_V4MAPPED(&a6)) return host;
  char text[INET_ADDRSTRLEN] = {};
  return inet_ntop(AF_INET, &a6.s6_addr[12], text, sizeof text) ? std::string(text) : host;
}

}  // namespace

bool PlausibleFtpHost(const std::string& host) {
  if (host.empty() || host.size() > 253) return false;
  for (char c : host) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '-' || c == '_' || c == ':';
    if (!ok) return false;
  }
  return true;
}

bool FtpReply::TimedOut() const { return !interrupted && curlCode == CURLE_OPERATION_TIMEDOUT; }

std::string FtpReply::Describe() const {
  if (interrupted) return "stopped by the user";
  if (!text.empty()) return text;
  return curl_easy_strerror(static_cast<CURLcode>(curlCode));
}

struct FtpClient::State {
  FtpServer server;
  FtpTimeouts timeouts;
  CURL* easy = nullptr;
  CURLM* multi = nullptr;
  std::function<bool()> interrupt;
  bool interrupted = false;  // latched for the call in hand
  char error[CURL_ERROR_SIZE] = {};
  std::string lastLine;
  std::vector<std::string> replies;  // every reply's last line, in order
  curl_slist* quote = nullptr;
  std::string* listing = nullptr;
  // An IPv6 data connection offered with EPRT: libcurl has no IPv4 PORT to
  // fall back on when the server refuses it, and would then wait for a
  // reply that never comes; the refusal ends the call instead.
  bool eprtFamily2 = false;
  bool portRefused = false;

  // The transfer in hand.
  bool attached = false;
  bool finished = false;
  CURLcode result = CURLE_OK;
  // Upload: the block Write hands over, read by libcurl's read callback.
  bool paused = false;
  bool eof = false;
  bool readAsked = false;
  const char* pending = nullptr;
  std::size_t pendingLeft = 0;

  bool Interrupted() {
    if (!interrupted && interrupt && interrupt()) interrupted = true;
    return interrupted;
  }

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t n, void* p) {
    auto* self = static_cast<State*>(p);
    const std::size_t len = size * n;
    // The last line of a reply ("213 1234"); continuation lines ("230-") are not.
    if (IsReplyLine(data, len) && data[3] == ' ') {
      std::string line(data, len);
      while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
      // The server's words reach messages and the log: no control characters.
      for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
      if (self->eprtFamily2 && (line[0] == '4' || line[0] == '5')) self->portRefused = true;
      self->eprtFamily2 = false;
      self->replies.push_back(line);
      self->lastLine = std::move(line);
    }
    return len;
  }
  // What is sent on the control connection, to know which command a reply
  // answers.
  static int OnDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* p) {
    if (type == CURLINFO_HEADER_OUT)
      static_cast<State*>(p)->eprtFamily2 = std::string_view(data, size).rfind("EPRT |2|", 0) == 0;
    return 0;
  }
  static std::size_t OnData(char* data, std::size_t size, std::size_t n, void* p) {
    auto* self = static_cast<State*>(p);
    if (self->listing) self->listing->append(data, size * n);
    return size * n;
  }
  static std::size_t OnRead(char* buffer, std::size_t size, std::size_t n, void* p) {
    auto* self = static_cast<State*>(p);
    self->readAsked = true;
    if (self->pendingLeft == 0) {
      if (self->eof) return 0;
      self->paused = true;
      return CURL_READFUNC_PAUSE;
    }
    const std::size_t k = std::min(size * n, self->pendingLeft);
    std::memcpy(buffer, self->pending, k);
    self->pending += k;
    self->pendingLeft -= k;
    return k;
  }
  static int OnProgress(void* p, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<State*>(p)->Interrupted() ? 1 : 0;
  }

  std::string Url(const std::string& encodedPath) const {
    std::string host = ConnectionHost(server.host);
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    return "ftp://" + host + ":" + std::to_string(server.port) + "/" + encodedPath;
  }

  // Every option of a call, set afresh: nothing of the previous call's
  // request is carried over (the connection is, in the multi handle).
  void Prepare(const std::string& url) {
    curl_easy_reset(easy);
    if (quote) {
      curl_slist_free_all(quote);
      quote = nullptr;
    }
    listing = nullptr;
    lastLine.clear();
    replies.clear();
    error[0] = 0;
    interrupted = false;
    finished = false;
    result = CURLE_OK;
    paused = eof = readAsked = false;
    eprtFamily2 = portRefused = false;
    pending = nullptr;
    pendingLeft = 0;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(easy, CURLOPT_USERNAME, server.user.c_str());
    curl_easy_setopt(easy, CURLOPT_PASSWORD, server.password.c_str());
    // Active data connections, to the address of the control connection.
    curl_easy_setopt(easy, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(easy, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connectMs);
    curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, std::max(1L, (timeouts.replyMs + 999) / 1000));
    curl_easy_setopt(easy, CURLOPT_ACCEPTTIMEOUT_MS, timeouts.replyMs);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, timeouts.stallSeconds);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &State::OnProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &State::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &State::OnData);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &State::OnDebug);
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);  // calls OnDebug; prints nothing
  }

  void Quote(std::initializer_list<std::string> commands) {
    for (const std::string& c : commands) quote = curl_slist_append(quote, c.c_str());
    curl_easy_setopt(easy, CURLOPT_QUOTE, quote);
  }

  void Attach() {
    curl_multi_add_handle(multi, easy);
    attached = true;
  }
  void Detach() {
    if (!attached) return;
    curl_multi_remove_handle(multi, easy);
    attached = false;
  }

  // Drives the transfer until it ends or `enough` says the caller may go
  // on; an interrupt drops it.
  void Drive(const std::function<bool()>& enough) {
    while (attached && !finished) {
      int running = 0;
      curl_multi_perform(multi, &running);
      int left = 0;
      while (CURLMsg* m = curl_multi_info_read(multi, &left)) {
        if (m->msg == CURLMSG_DONE && m->easy_handle == easy) {
          finished = true;
          result = m->data.result;
        }
      }
      if (finished || (enough && enough())) return;
      if (portRefused) {
        Detach();
        finished = true;
        result = CURLE_FTP_PORT_FAILED;
        return;
      }
      if (Interrupted()) {
        Detach();
        finished = true;
        result = CURLE_ABORTED_BY_CALLBACK;
        return;
      }
      curl_multi_poll(multi, nullptr, 0, kPollMs, nullptr);
    }
  }

  FtpReply Reply() {
    FtpReply r;
    r.curlCode = result;
    r.interrupted = interrupted || result == CURLE_ABORTED_BY_CALLBACK;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &r.code);
    if (portRefused) r.code = std::strtol(lastLine.c_str(), nullptr, 10);
    r.ok = !r.interrupted && result == CURLE_OK;
    if (!r.ok) {
      // The server's own words when it refused; libcurl's otherwise.
      if (r.Refused() && !lastLine.empty()) r.text = lastLine;
      else if (error[0]) r.text = error;
      else r.text = curl_easy_strerror(result);
    } else {
      r.text = lastLine;
    }
    return r;
  }

  FtpReply RunToEnd() {
    Attach();
    Drive({});
    Detach();
    return Reply();
  }
};

FtpClient::FtpClient(FtpServer server, FtpTimeouts timeouts) : s_(std::make_unique<State>()) {
  GlobalInit();
  s_->server = std::move(server);
  s_->timeouts = timeouts;
  s_->easy = curl_easy_init();
  s_->multi = curl_multi_init();
}

FtpClient::~FtpClient() {
  s_->Detach();
  if (s_->quote) curl_slist_free_all(s_->quote);
  if (s_->easy) curl_easy_cleanup(s_->easy);
  if (s_->multi) curl_multi_cleanup(s_->multi);
}

void FtpClient::SetInterrupt(std::function<bool()> interrupt) { s_->interrupt = std::move(interrupt); }

std::string FtpClient::EncodePath(const std::string& absolutePath) {
  // "%2F" first: the path is taken from the server's root, not from the
  // login folder.
  std::string out = "%2F";
  bool first = true;
  std::size_t at = 0;
  while (at <= absolutePath.size()) {
    std::size_t slash = absolutePath.find('/', at);
    if (slash == std::string::npos) slash = absolutePath.size();
    if (slash > at) {
      const std::string part = absolutePath.substr(at, slash - at);
      char* escaped = curl_easy_escape(nullptr, part.data(), static_cast<int>(part.size()));
      if (!first) out += '/';
      out += escaped ? escaped : "";
      curl_free(escaped);
      first = false;
    }
    at = slash + 1;
  }
  return out;
}

namespace {
FtpReply Failure(const std::string& why) {
  FtpReply r;
  r.curlCode = CURLE_URL_MALFORMAT;
  r.text = why;
  return r;
}
// Commands go to the server as one line: a line end would start another,
// a NUL would end it early.
bool OneLine(const std::string& s) { return s.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos; }
}  // namespace

FtpReply FtpClient::Connect(std::string& loginFolder) {
  if (!PlausibleFtpHost(s_->server.host)) return Failure("not a server name or address: " + s_->server.host);
  if (!OneLine(s_->server.user) || !OneLine(s_->server.password)) return Failure("a line break or NUL in the login");
  s_->Prepare(s_->Url(""));
  curl_easy_setopt(s_->easy, CURLOPT_NOBODY, 1L);
  FtpReply r = s_->RunToEnd();
  if (r.ok) {
    const char* entry = nullptr;
    curl_easy_getinfo(s_->easy, CURLINFO_FTP_ENTRY_PATH, &entry);
    loginFolder = entry && *entry ? entry : "/";
  }
  return r;
}

FtpReply FtpClient::Commands(std::initializer_list<std::string> commands) {
  for (const std::string& c : commands)
    if (!OneLine(c)) return Failure("a line break in a command");
  s_->Prepare(s_->Url(""));
  curl_easy_setopt(s_->easy, CURLOPT_NOBODY, 1L);
  s_->Quote(commands);
  return s_->RunToEnd();
}

FtpReply FtpClient::MakeDirectory(const std::string& path) { return Commands({"MKD " + path}); }

FtpReply FtpClient::EnterDirectory(const std::string& path) {
  s_->Prepare(s_->Url(EncodePath(path) + "/"));
  curl_easy_setopt(s_->easy, CURLOPT_NOBODY, 1L);
  return s_->RunToEnd();
}

FtpReply FtpClient::List(const std::string& folder, std::string& text) {
  s_->Prepare(s_->Url(EncodePath(folder) + "/"));
  s_->listing = &text;
  return s_->RunToEnd();
}

FtpReply FtpClient::FileSize(const std::string& path, std::uint64_t& size) {
  // Some servers answer SIZE only in binary mode.
  FtpReply r = Commands({"TYPE I", "SIZE " + path});
  size = 0;
  for (const std::string& line : s_->replies)
    if (line.rfind("213 ", 0) == 0) size = std::strtoull(line.c_str() + 4, nullptr, 10);
  return r;
}

FtpReply FtpClient::Delete(const std::string& path) { return Commands({"DELE " + path}); }

FtpReply FtpClient::Noop() { return Commands({"NOOP"}); }

FtpReply FtpClient::BeginUpload(const std::string& path) {
  s_->Prepare(s_->Url(EncodePath(path)));
  curl_easy_setopt(s_->easy, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(s_->easy, CURLOPT_READFUNCTION, &State::OnRead);
  curl_easy_setopt(s_->easy, CURLOPT_READDATA, s_.get());
  s_->Attach();
  // Until libcurl asks for the first byte: the server took STOR and the
  // data connection is up.
  s_->Drive([this] { return s_->readAsked; });
  if (s_->finished) {
    FtpReply r = s_->Reply();
    s_->Detach();
    if (r.ok) {  // a transfer cannot end before its end was given
      r.ok = false;
      r.text = "the server ended the transfer at once";
    }
    return r;
  }
  FtpReply r;
  r.ok = true;
  return r;
}

FtpReply FtpClient::Write(const void* data, std::size_t size) {
  if (!s_->attached || s_->finished) {
    FtpReply r = s_->Reply();
    r.ok = false;
    if (r.text.empty()) r.text = "no transfer";
    s_->Detach();
    return r;
  }
  s_->pending = static_cast<const char*>(data);
  s_->pendingLeft = size;
  if (s_->paused) {
    s_->paused = false;
    curl_easy_pause(s_->easy, CURLPAUSE_CONT);
  }
  s_->Drive([this] { return s_->pendingLeft == 0; });
  s_->pending = nullptr;
  if (s_->finished || s_->pendingLeft != 0) {
    s_->pendingLeft = 0;
    FtpReply r = s_->Reply();
    s_->Detach();
    r.ok = false;
    if (r.text.empty() || r.text == curl_easy_strerror(CURLE_OK)) r.text = "the server ended the transfer early";
    return r;
  }
  FtpReply r;
  r.ok = true;
  return r;
}

FtpReply FtpClient::EndUpload() {
  if (!s_->attached) {
    FtpReply r = s_->Reply();
    r.ok = false;
    return r;
  }
  s_->eof = true;
  if (s_->paused) {
    s_->paused = false;
    curl_easy_pause(s_->easy, CURLPAUSE_CONT);
  }
  s_->Drive({});
  FtpReply r = s_->Reply();
  s_->Detach();
  // Saved only once the server said the whole file arrived.
  if (r.ok && r.code != 226 && r.code != 250) {
    r.ok = false;
    r.text = s_->lastLine.empty() ? "the server did not confirm the file" : s_->lastLine;
  }
  return r;
}

void FtpClient::CancelUpload() {
  s_->Detach();
  s_->finished = true;
}

bool FtpClient::Uploading() const { return s_->attached; }

}  // namespace corvan
