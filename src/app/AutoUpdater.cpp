#include "app/AutoUpdater.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <system_error>

#include "app/CORVANApp.h"
#include "core/AppServices.h"
#include "platform/Folders.h"

namespace corvan {
namespace {

CURL* Agent(void* h) { return static_cast<CURL*>(h); }

bool IsNoConnection(CURLcode rc) {
  return rc == CURLE_COULDNT_RESOLVE_PROXY || rc == CURLE_COULDNT_RESOLVE_HOST ||
         rc == CURLE_COULDNT_CONNECT || rc == CURLE_OPERATION_TIMEDOUT;
}

// At most four non-empty decimal fields; missing trailing ones are 0.
bool SplitVersion(std::string_view text, std::array<std::uint64_t, 4>& fields) {
  fields = {0, 0, 0, 0};
  std::size_t count = 0, pos = 0;
  for (;;) {
    std::size_t dot = text.find('.', pos);
    std::string_view part = text.substr(pos, dot == std::string_view::npos ? std::string_view::npos : dot - pos);
    if (part.empty() || count == 4) return false;
    if (!std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    std::uint64_t value = 0;
    auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), value);
    if (ec != std::errc() || end != part.data() + part.size()) return false;
    fields[count++] = value;
    if (dot == std::string_view::npos) return true;
    pos = dot + 1;
  }
}

std::string HostOf(const std::string& url) {
  std::size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  std::size_t end = url.find_first_of(":/", start);
  return url.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string Printf(const char* format, auto... args) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

// Options every request shares; the agent handle is duplicated per request
// so a check and a download never share a transfer's state.
struct Request {
  CURL* h = nullptr;
  curl_slist* headers = nullptr;
  char error[CURL_ERROR_SIZE] = {};
  Request(void* agent, const std::string& url, long timeoutSeconds) {
    h = curl_easy_duphandle(Agent(agent));
    if (!h) return;
    // Always the server's copy, never a cache's.
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, timeoutSeconds);
    // A server that stops sending is as good as gone.
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, timeoutSeconds);
  }
  ~Request() {
    if (h) curl_easy_cleanup(h);
    curl_slist_free_all(headers);
  }
  long Status() const {
    long code = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &code);
    return code;
  }
  std::string ErrorText(CURLcode rc) const { return error[0] ? error : curl_easy_strerror(rc); }
};

}  // namespace

CAutoUpdater::CAutoUpdater(CORVANApp& app) : m_app(app) {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
  CURL* h = curl_easy_init();
  if (h) {
    curl_easy_setopt(h, CURLOPT_USERAGENT, "AutoUpdateAgent");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  }
  m_hAgent = h;
}

CAutoUpdater::~CAutoUpdater() {
  if (m_hAgent) curl_easy_cleanup(Agent(m_hAgent));
}

std::string CAutoUpdater::ReadInstalledVersion() const {
  return m_app.GetProductKey().Read("Version");
}

std::string CAutoUpdater::ServerAddress() const {
  std::string server = m_app.GetProductKey().Read("UpdateServer");
  while (!server.empty() && server.back() == '/') server.pop_back();
  return server;
}

int CAutoUpdater::CompareVersions(std::string_view a, std::string_view b) {
  std::array<std::uint64_t, 4> fa, fb;
  if (!SplitVersion(a, fa)) return -21;
  if (!SplitVersion(b, fb)) return -22;
  if (fa[0] != fb[0]) return fa[0] > fb[0] ? 2 : -1;
  for (int i = 1; i < 4; ++i)
    if (fa[i] != fb[i]) return fa[i] > fb[i] ? 1 : -1;
  return 0;
}

int CAutoUpdater::EvaluateVersionText(std::string_view text, std::string_view installed) {
  text = text.substr(0, std::min(text.size(), kVersionTextLimit));
  // The first two lines that hold anything; a blank line an editor left
  // behind is not a version.
  std::array<std::string_view, 2> lines;
  std::size_t count = 0, pos = 0;
  while (count < 2 && pos < text.size()) {
    std::size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() : nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) lines[count++] = line;
  }
  auto noteOf = [](std::string_view line) { return std::string(line.size() > 8 ? line.substr(8) : ""); };
  int result = -1;
  int r1 = -1;
  if (count >= 1) {
    m_strLatestVersion = std::string(lines[0].substr(0, 7));
    m_strNote = noteOf(lines[0]);
    r1 = CompareVersions(m_strLatestVersion, installed);
    result = r1;
  }
  if (count >= 2) {
    m_strSecondVersion = std::string(lines[1].substr(0, 7));
    int r2 = CompareVersions(m_strSecondVersion, installed);
    result = r1 == 1 ? 3 : r2;
    if (r2 == 1 || r2 == -1) {
      m_strLatestVersion = m_strSecondVersion;
      m_strNote = noteOf(lines[1]);
    }
  }
  return result;
}

int CAutoUpdater::Fetch(const std::string& url, std::string& body) {
  Request req(m_hAgent, url, m_timeoutSeconds);
  if (!req.h) return kUpdateNoConnection;
  struct Sink {
    std::string* body;
    bool full = false;
  } sink{&body};
  auto write = +[](char* data, std::size_t, std::size_t n, void* user) -> std::size_t {
    auto* s = static_cast<Sink*>(user);
    std::size_t room = kVersionTextLimit - s->body->size();
    s->body->append(data, std::min(n, room));
    if (n >= room) {
      // Only the first 4096 bytes count; the rest is not fetched.
      s->full = true;
      return 0;
    }
    return n;
  };
  curl_easy_setopt(req.h, CURLOPT_WRITEFUNCTION, write);
  curl_easy_setopt(req.h, CURLOPT_WRITEDATA, &sink);
  curl_easy_setopt(req.h, CURLOPT_TIMEOUT, m_timeoutSeconds);
  // libcurl looks here about once a second even while the server is silent.
  auto stopAsked = +[](void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) -> int {
    return static_cast<std::atomic<bool>*>(user)->load() ? 1 : 0;
  };
  curl_easy_setopt(req.h, CURLOPT_XFERINFOFUNCTION, stopAsked);
  curl_easy_setopt(req.h, CURLOPT_XFERINFODATA, &m_bStopCheck);
  curl_easy_setopt(req.h, CURLOPT_NOPROGRESS, 0L);
  if (m_bStopCheck) return kUpdateNoConnection;
  CURLcode rc = curl_easy_perform(req.h);
  if (rc == CURLE_WRITE_ERROR && sink.full) rc = CURLE_OK;
  if (rc != CURLE_OK) {
    m_strLastError = req.ErrorText(rc);
    return IsNoConnection(rc) ? kUpdateNoConnection : kUpdateNoVersionFile;
  }
  if (long status = req.Status(); status != 200) {
    m_strLastError = "HTTP " + std::to_string(status);
    return kUpdateNoVersionFile;
  }
  return -1;
}

int CAutoUpdater::CheckForUpdate() {
  m_strLastError.clear();
  if (!m_hAgent) return kUpdateNoConnection;
  std::string server = ServerAddress();
  if (server.empty()) {
    m_strLastError = "no update server configured";
    return kUpdateNoConnection;
  }
  std::string installed = ReadInstalledVersion();
  if (installed.empty()) return kUpdateNoInstalledVersion;
  m_strExeName = m_app.GetProductKey().Read("ExeName");
  m_strLatestVersion.clear();
  m_strSecondVersion.clear();
  m_strNote.clear();
  // The text stays in memory: nothing is written where the program runs.
  std::string body;
  if (int rc = Fetch(server + "/upgrade/" + m_strExeName + ".txt", body); rc >= 0) return rc;
  int result = EvaluateVersionText(body, installed);
  if (result == 0 || result == -1) return kUpdateUpToDate;
  if (result >= 1 && result <= 3) return result;
  return kUpdateParseError;
}

bool CAutoUpdater::DownloadToFile(const std::string& url, const std::filesystem::path& path,
                                  UpdateProgressPage& page) {
  if (m_app.m_update.m_bUpdateCancel) return false;
  // A new file only: never one, or a link, that was there before.
  std::FILE* file = std::fopen(path.c_str(), "wbx");
  if (!file) {
    m_strLastError = "cannot create " + path.string();
    return false;
  }
  Request req(m_hAgent, url, m_timeoutSeconds);
  struct Transfer {
    CAutoUpdater* self;
    UpdateProgressPage* page;
    CURL* h;
    std::FILE* file;
    std::uint64_t done = 0;
    bool started = false, cancelled = false, refused = false, writeFailed = false;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  } t{this, &page, req.h, file};
  auto write = +[](char* data, std::size_t, std::size_t n, void* user) -> std::size_t {
    auto* t = static_cast<Transfer*>(user);
    if (t->self->m_app.m_update.m_bUpdateCancel) {
      t->cancelled = true;
      return 0;
    }
    if (!t->started) {
      t->started = true;
      long status = 0;
      curl_easy_getinfo(t->h, CURLINFO_RESPONSE_CODE, &status);
      // An error page is not the package.
      if (status != 200) {
        t->refused = true;
        return 0;
      }
      curl_off_t length = -1;
      curl_easy_getinfo(t->h, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
      t->self->m_dwDownloadLength = length > 0 ? static_cast<std::uint64_t>(length) : 0;
      t->page->SetProgressRange(t->self->m_dwDownloadLength, kDownloadReadSize);
    }
    if (std::fwrite(data, 1, n, t->file) != n) {
      t->writeFailed = true;
      return 0;
    }
    t->done += n;
    auto secs = static_cast<int>(std::chrono::duration_cast<std::chrono::seconds>(
                                     std::chrono::steady_clock::now() - t->start).count());
    std::uint64_t total = t->self->m_dwDownloadLength;
    if (total)
      t->page->SetTimeText(Printf("%d sec(%s of %s copied)", secs, FormatSize(t->done).c_str(),
                                  FormatSize(total).c_str()));
    else
      t->page->SetTimeText(Printf("%d KB in %d sec", static_cast<int>(t->done / 1024), secs));
    // Within the first second the rate is what arrived so far.
    t->page->SetRateText(Printf("%s/sec", FormatSize(t->done / std::max(secs, 1)).c_str()));
    t->page->SetProgressPos(t->done);
    return n;
  };
  m_dwDownloadLength = 0;
  CURLcode rc = CURLE_FAILED_INIT;
  if (req.h) {
    // One read of 4096 bytes between looks at the cancel flag.
    curl_easy_setopt(req.h, CURLOPT_BUFFERSIZE, static_cast<long>(kDownloadReadSize));
    curl_easy_setopt(req.h, CURLOPT_WRITEFUNCTION, write);
    curl_easy_setopt(req.h, CURLOPT_WRITEDATA, &t);
    rc = curl_easy_perform(req.h);
  }
  bool ok = std::fclose(file) == 0 && rc == CURLE_OK && !t.cancelled && req.Status() == 200;
  // A connection closed early leaves fewer bytes than the server announced.
  if (ok && m_dwDownloadLength && t.done != m_dwDownloadLength) ok = false;
  if (!ok) {
    m_bLastNoConnection = IsNoConnection(rc);
    if (t.cancelled) m_strLastError = "cancelled";
    else if (t.refused || (rc == CURLE_OK && req.Status() != 200)) m_strLastError = "HTTP " + std::to_string(req.Status());
    else if (rc != CURLE_OK) m_strLastError = req.ErrorText(rc);
    else m_strLastError = "incomplete download";
    std::error_code ec;
    std::filesystem::remove(path, ec);
  }
  return ok;
}

int CAutoUpdater::DownloadUpdate(UpdateProgressPage& page) {
  m_strLastError.clear();
  m_bLastNoConnection = false;
  if (!m_hAgent) return kDownloadNoConnection;
  std::string server = ServerAddress();
  if (server.empty()) {
    m_strLastError = "no update server configured";
    return kDownloadNoConnection;
  }
  std::error_code ec;
  m_strExeName = m_app.GetProductKey().Read("ExeName");
  m_app.m_update.m_strUpdateInstaller.clear();
  page.SetStatusText("Getting Internet Session");
  if (m_strExeName.empty()) return kDownloadNoRequest;
  std::string name = m_strExeName + std::string(kUpdatePackageSuffix);
  std::string url = server + "/upgrade/" + name;
  if (m_app.m_update.m_bUpdateCancel) return kDownloadFailed;
  // The shared temporary folder is anyone's: a fixed name there could be
  // a link another user placed. The package goes into a folder of its own.
  const std::filesystem::path folder = MakePrivateFolder(m_downloadFolder, "corvan-update-");
  if (folder.empty()) {
    m_strLastError = "cannot make a folder for the download";
    return kDownloadNoRequest;
  }
  page.SetStatusText("Downloading files ...");
  page.SetFileLabel(name + " from " + HostOf(server));
  std::filesystem::path path = folder / name;
  const bool whole = DownloadToFile(url, path, page);
  if (!whole || m_app.m_update.m_bUpdateCancel) {
    // Failed, or cancelled after the last read: nothing is left behind.
    std::filesystem::remove_all(folder, ec);
    if (!whole) return m_bLastNoConnection ? kDownloadNoConnection : kDownloadFailed;
    return kDownloadFailed;
  }
  page.SetProgressPos(m_dwDownloadLength);
  page.SetStatusText("Download completed");
  m_app.m_update.m_strUpdateInstaller = path;
  return kDownloadDone;
}

}  // namespace corvan
