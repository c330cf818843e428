#pragma once
// The online update check and the download of a newer package.
//
// The server named by the product value "UpdateServer" (scheme, host and
// port, e.g. "http://updates.example.org") serves "/upgrade/" + ExeName +
// ".txt", one or two lines that each begin with a version a.b.c.d (seven
// characters), a separator and a note, and the package "/upgrade/" + ExeName
// + kUpdatePackageSuffix. A downloaded package is kept for the user in a
// folder of its own that the download makes, readable by the user only, in
// the temporary folder; nothing here runs it.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace corvan {

class CORVANApp;

// Results of CheckForUpdate.
inline constexpr int kUpdateParseError = 0;    // a version text could not be parsed
inline constexpr int kUpdateMinor = 1;         // a newer build at minor level
inline constexpr int kUpdateMajor = 2;         // a newer major version
inline constexpr int kUpdateMinorFirst = 3;    // line 1 newer at minor level, two lines
inline constexpr int kUpdateNoConnection = 4;  // no server address, or it cannot be reached
inline constexpr int kUpdateNoVersionFile = 5; // the server answered without the version file
// The installed "Version" is empty: the state of updates is unknown, which
// is not the same as up to date.
inline constexpr int kUpdateNoInstalledVersion = 8;
inline constexpr int kUpdateUpToDate = 9;

// Results of DownloadUpdate.
inline constexpr int kDownloadDone = 0;
inline constexpr int kDownloadNoConnection = 4;
inline constexpr int kDownloadNoRequest = 5;
// The transfer failed, was cut short, answered with an HTTP error or was
// cancelled; the partial file is removed and no installer is recorded.
inline constexpr int kDownloadFailed = 7;

inline constexpr std::string_view kUpdatePackageSuffix = ".tar.gz";
inline constexpr std::size_t kVersionTextLimit = 4096;
inline constexpr std::size_t kDownloadReadSize = 4096;

// What the download shows on the wizard page. Called on the download's
// thread; the page hands the texts to its window.
class UpdateProgressPage {
 public:
  virtual ~UpdateProgressPage() = default;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void SetFileLabel(const std::string& text) = 0;
  virtual void SetTimeText(const std::string& text) = 0;
  virtual void SetRateText(const std::string& text) = 0;
  virtual void SetProgressRange(std::uint64_t upper, std::uint32_t step) = 0;
  virtual void SetProgressPos(std::uint64_t pos) = 0;
};

class CAutoUpdater {
 public:
  explicit CAutoUpdater(CORVANApp& app);
  virtual ~CAutoUpdater();
  CAutoUpdater(const CAutoUpdater&) = delete;
  CAutoUpdater& operator=(const CAutoUpdater&) = delete;

  // May run on a worker; StopCheck ends it early (its result is then of no
  // use) and stays in force until ClearStop.
  int CheckForUpdate();
  void StopCheck() { m_bStopCheck = true; }
  void ClearStop() { m_bStopCheck = false; }
  // Reads the app's m_update.m_bUpdateCancel before every read; on success sets
  // m_update.m_strUpdateInstaller.
  int DownloadUpdate(UpdateProgressPage& page);
  // True only when the whole response (as long as its Content-Length says)
  // was written; otherwise `path` does not exist afterwards.
  bool DownloadToFile(const std::string& url, const std::filesystem::path& path,
                      UpdateProgressPage& page);

  std::string ReadInstalledVersion() const;
  static int CompareVersions(std::string_view a, std::string_view b);
  // Applies the version file's lines to the installed version; the result
  // before the final mapping of CheckForUpdate.
  int EvaluateVersionText(std::string_view text, std::string_view installed);

  const std::string& LatestVersion() const { return m_strLatestVersion; }
  const std::string& SecondVersion() const { return m_strSecondVersion; }
  const std::string& Note() const { return m_strNote; }
  std::uint64_t DownloadLength() const { return m_dwDownloadLength; }
  // libcurl's text for the last failed request, for the log.
  const std::string& LastError() const { return m_strLastError; }

  // Where each download makes its private folder; empty: the system's
  // temporary folder.
  std::filesystem::path m_downloadFolder;
  // Bounds a connection attempt and a stalled transfer.
  long m_timeoutSeconds = 20;

 private:
  std::string ServerAddress() const;
  // -1 when the version text was fetched, else the check's result.
  int Fetch(const std::string& url, std::string& body);

  CORVANApp& m_app;
  std::string m_strExeName;
  std::string m_strLatestVersion;
  std::string m_strSecondVersion;
  std::string m_strNote;
  std::uint64_t m_dwDownloadLength = 0;
  void* m_hAgent = nullptr;  // libcurl easy handle holding the shared options
  std::string m_strLastError;
  bool m_bLastNoConnection = false;
  std::atomic<bool> m_bStopCheck{false};
};

}  // namespace corvan
