// The log report: a flat text for the viewer and an indented text that is
// appended to the log file at each flush.

#include <fcntl.h>

#include "app/CORVANApp.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "platform/FileHandle.h"
#include "platform/Folders.h"
#include "platform/TimeFormat.h"

namespace corvan {

namespace {

std::string Rule(char c, int n) { return std::string(static_cast<std::size_t>(n), c); }

std::string ReportTitle() { return LoadString(kIdsLogReport) + LoadString(kIdsProductTitle) + " v2.0"; }
}  // namespace

std::string LogViewerBanner() {
  const std::string eq = Rule('=', 48);
  return eq + "\r\n" + eq + "\r\n\t" + ReportTitle() + "\r\n" + eq + "\r\n" + eq + "\r\n";
}

// The file's lines end in CR LF throughout, as the entries' do.
std::string LogFileBanner() {
  const std::string eq = Rule('=', 72);
  return "\t" + eq + "\r\n\t" + eq + "\r\n\r\n\t\t" + ReportTitle() + "\r\n\r\n\t" + eq + "\r\n\t" + eq +
         "\r\n\r\n";
}

std::string LogViewerEntry(const std::string& text, bool isHeading) {
  if (!isHeading) return "\r\n- " + text;
  const std::string dash = Rule('-', 48);
  return "\r\n\r\n" + dash + "\r\n" + text + "\r\n" + dash + "\r\n";
}

std::string LogFileEntry(const std::string& text, bool isHeading) {
  if (!isHeading) return "\r\n\t- " + text;
  const std::string dash = Rule('-', 72);
  return "\r\n\r\n\t" + dash + "\r\n\t" + text + "\r\n\t" + dash + "\r\n";
}

void CORVANApp::AppendLog(const std::string& text, bool isHeading) {
  std::lock_guard lock(m_logMutex);
  m_strLogView += LogViewerEntry(text, isHeading);
  m_strLogPending += LogFileEntry(text, isHeading);
}

std::string CORVANApp::LogViewText() const {
  std::lock_guard lock(m_logMutex);
  return m_strLogView;
}

void CORVANApp::ClearLogView() {
  std::lock_guard lock(m_logMutex);
  m_strLogView = m_strLogBanner;
}

std::string CORVANApp::LogPendingText() const {
  std::lock_guard lock(m_logMutex);
  return m_strLogPending;
}

std::filesystem::path CORVANApp::LogFilePath() const {
  std::lock_guard lock(m_logMutex);
  return m_strLogPath;
}

void CORVANApp::MakeLogFileName() {
  const std::time_t now = Now();
  std::lock_guard lock(m_logMutex);
  m_strLogTitle = LoadString(kIdsLastCheck) + FormatTime(" %d-%b-%Y at %I:%M:%S %p", now);
  m_strLogFileName = LoadString(kIdsProductTitle) + FormatTime("_Log_%d-%b-%Y_%I %M %S %p.txt", now);
}

// Creates the log file in `folder` with its banner. A file of the same name
// (another start in the same second) is never overwritten: "_2", "_3", ...
// go before ".txt" instead.
bool CORVANApp::CreateLogFile(const std::filesystem::path& folder) {
  std::string stem = m_strLogFileName;
  std::string ext;
  if (const auto dot = stem.rfind('.'); dot != std::string::npos) {
    ext = stem.substr(dot);
    stem.resize(dot);
  }
  const std::string banner = LogFileBanner();
  for (int n = 1; n < 1000; ++n) {
    const std::string name = n == 1 ? stem + ext : stem + "_" + std::to_string(n) + ext;
    std::error_code ec;
    auto f = FileHandle::Open(folder / name, FileHandle::Mode::CreateNew, ec);
    if (ec == std::errc::file_exists) continue;
    if (!f) return false;
    if (!f.WriteAt(banner.data(), banner.size(), 0)) return false;
    m_strLogFileName = name;
    m_strLogPath = folder / name;
    m_log.m_bLineClosed = false;
    return true;
  }
  return false;
}

std::filesystem::path CORVANApp::LogFolder(const std::string& setting) {
  return (setting.empty() ? UserDataFolder() : std::filesystem::path(setting)) / "Log";
}

void CORVANApp::OpenLog() {
  m_log.m_bSaveLog = static_cast<std::uint32_t>(m_profile.GetInt("LOG", "SaveLog", 0));
  const std::string logPath = m_profile.GetString("LOG", "LogPath", "");
  m_profile.WriteString("LOG", "LogPath", logPath);

  // An empty setting, or a folder that cannot be made, means the user's data folder.
  std::filesystem::path folder = LogFolder(logPath);
  if (!EnsureFolder(folder)) {
    folder = LogFolder("");
    EnsureFolder(folder);
  }

  std::lock_guard lock(m_logMutex);
  m_strLogPath = folder / m_strLogFileName;
  if (m_log.m_bSaveLog == 0) {
    m_log.m_bLogReady = 0;
    return;
  }
  m_log.m_bLogReady = CreateLogFile(folder) ? 1 : 0;
  if (!m_log.m_bLogReady) m_profile.WriteString("LOG", "LogPath", "");
}

void CORVANApp::FlushLog() {
  bool ready;
  {
    std::lock_guard lock(m_logMutex);
    ready = m_log.m_bLogReady == 1;
  }
  if (!ready) {
    OpenLog();
    std::lock_guard lock(m_logMutex);
    if (m_log.m_bLogReady != 1) return;  // the entries stay in the viewer only
  }

  std::filesystem::path path;
  {
    std::lock_guard lock(m_logMutex);
    path = m_strLogPath;
  }
  auto f = FileHandle::Open(path, FileHandle::Mode::ReadWrite);
  if (!f) {
    // The file went away while the program ran: start a new one.
    OpenLog();
    std::lock_guard lock(m_logMutex);
    if (m_log.m_bLogReady != 1) return;
    path = m_strLogPath;
    f = FileHandle::Open(path, FileHandle::Mode::ReadWrite);
    if (!f) return;
  }
  std::lock_guard lock(m_logMutex);
  if (m_strLogPending.empty()) return;
  // Every line of the file ends in CR LF, the last one too.
  const std::optional<std::uint64_t> size = f.Size();
  if (!size) return;
  const std::uint64_t at = m_log.m_bLineClosed && *size >= 2 ? *size - 2 : *size;
  const std::string text = m_strLogPending + "\r\n";
  if (!f.WriteAt(text.data(), text.size(), at)) return;
  m_strLogPending.clear();
  m_log.m_bLineClosed = true;
}

void CORVANApp::AskToSaveLog(const std::function<SaveLogAnswer()>& ask) {
  if (m_profile.GetInt("LOG", "ShowDlg", 0) != 0 || !ask) return;
  AnswerSaveLog(ask());
}

void CORVANApp::AnswerSaveLog(SaveLogAnswer answer) {
  // "SaveLog" makes the files from now on (this run's at exit); "ShowDlg"
  // stops the question for good.
  m_profile.WriteInt("LOG", "SaveLog", answer == SaveLogAnswer::Always ? 1 : 0);
  m_profile.WriteInt("LOG", "ShowDlg", answer == SaveLogAnswer::AskMeLater ? 0 : 1);
}

}  // namespace corvan
