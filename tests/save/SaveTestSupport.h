#pragma once
// What the saving tests share: a scanned corpus volume in a found-item store,
// a saving job over it, an engine that serves files from memory (with
// clusters that fail to read), a writer that runs out of space, scripted
// answers to the job's questions, and the outside tools that read archives
// back.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/CORVANApp.h"
#include "app/Jobs.h"
#include "console/FoundItemStore.h"
#include "save/CThreadForSavingFiles.h"
#include "save/FoundItemStoreWalk.h"
#include "save/OutputWriter.h"
#include "scan/ProgramEngines.h"
#include "core/RecoveryMode.h"
#include "scan/ScanWorker.h"
#include "app/SourceSetup.h"
#include "support/CorpusTruth.h"
#include "support/Md5.h"
#include "support/RecordingSinks.h"
#include "support/TestSupport.h"

namespace corvan::test {

// Local-time stamps are read in this zone (UTC+5:30) here and by the
// reference values (tests/tools/make-save-reference).
inline constexpr const char* kSaveTestZone = "XYZ-5:30";

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~ScopedTimeZone() {
    if (had_) ::setenv("TZ", old_.c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

inline std::filesystem::path SaveDataDir() {
  return std::filesystem::path(CORVAN_SOURCE_TESTS) / "data" / "save";
}

// Rows of a reference file: tab-separated fields, '#' lines left out.
inline std::vector<std::vector<std::string>> ReadReference(const std::filesystem::path& file) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    rows.push_back(SplitTabs(line));
  }
  return rows;
}

inline std::string FileMd5(const std::filesystem::path& p) {
  const std::string bytes = ReadWholeFile(p);
  return Md5Hex({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

inline bool HaveTool(const std::string& name) { return RunCommand("command -v " + name).status == 0; }

// tests/tools/check-zips over `archives`: every reader's verdict, and one
// line "archive, entry, size, MD5" per entry.
// With `times`, each line ends in the entry's date and time as zipfile
// reads them ("YYYY-MM-DD HH:MM:SS"). With `extractBase`, every reader also
// unpacks the archives, each at its place below that folder, and they must
// agree (see UnpackedTree).
inline CommandResult CheckZips(const std::vector<std::filesystem::path>& archives, bool md5 = true,
                               bool times = false, const std::filesystem::path& extractBase = {}) {
  std::string cmd = std::string(CORVAN_SOURCE_TESTS) + "/tools/check-zips" + (md5 ? "" : " --no-md5") +
                    (times ? " --times" : "") + (extractBase.empty() ? "" : " --extract " + Quote(extractBase));
  for (const auto& a : archives) cmd += " " + Quote(a);
  return RunCommand(cmd);
}

// Path -> MD5 of the files the four readers unpacked alike, from the
// output of CheckZips with an extract base.
inline std::map<std::string, std::string> UnpackedTree(const std::string& output) {
  std::map<std::string, std::string> files;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const std::vector<std::string> f = SplitTabs(line);
    if (f.size() == 3 && f[0] == "extracted") files[f[1]] = f[2];
  }
  return files;
}

// Path -> MD5 of every file below `root`, as saved to a folder.
inline std::map<std::string, std::string> SavedTree(const std::filesystem::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root))
    if (e.is_regular_file()) files[std::filesystem::relative(e.path(), root).string()] = FileMd5(e.path());
  return files;
}

// Entry name -> "YYYY-MM-DD HH:MM:SS" from the lines of CheckZips(..., times).
inline std::map<std::string, std::string> ZipEntryTimes(const std::string& output) {
  std::map<std::string, std::string> times;
  std::istringstream lines(output);
  for (std::string line; std::getline(lines, line);) {
    const std::vector<std::string> f = SplitTabs(line);
    if (f.size() == 5) times[f[1]] = f[4];
  }
  return times;
}

// "YYYY-MM-DD HH:MM:SS" of what the MS-DOS fields hold for the local time
// `t`: the date and time of day, seconds in steps of two.
inline std::string DosLocalText(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec / 2 * 2);
  return text;
}

// The answers of the file-exists and abort questions, in order.
class ScriptedDecisions final : public SaveDecisions {
 public:
  struct Clash {
    FileExistAnswer answer;
    std::u16string renameTo;  // for Rename
  };
  FileExistAnswer AskFileExists(const FileExistQuestion& q, std::u16string& renameTo) override {
    questions.push_back(q);
    if (clashes.empty()) return FileExistAnswer::Cancel;
    const Clash c = clashes.front();
    clashes.erase(clashes.begin());
    if (c.answer == FileExistAnswer::Rename) renameTo = c.renameTo;
    return c.answer;
  }
  AbortAnswer AskAbortSaving(const std::u16string& name) override {
    abortQuestions.push_back(name);
    if (onAbortQuestion) onAbortQuestion();
    return abortAnswer;
  }
  std::vector<Clash> clashes;
  std::vector<FileExistQuestion> questions;
  AbortAnswer abortAnswer = AbortAnswer::AbortImmediately;
  std::vector<std::u16string> abortQuestions;
  std::function<void()> onAbortQuestion;
};

// A disk that holds only `budget` more bytes. A file takes as many bytes
// as its furthest written byte; cutting it back gives them back, as a real
// file system does. Writes fill what is left and then fail with ENOSPC.
class FullDiskWriter final : public OutputWriter {
 public:
  explicit FullDiskWriter(std::uint64_t budget) : budget_(budget) {}
  bool WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset) override {
    std::uint64_t& used = used_[fd];
    const std::uint64_t end = offset + size;
    const std::uint64_t need = end > used ? end - used : 0;
    if (need > budget_) {
      const std::uint64_t limit = used + budget_;  // the file may grow to here
      if (limit > offset) OutputWriter::WriteAt(fd, data, static_cast<std::size_t>(limit - offset), offset);
      used = std::max(used, limit);
      budget_ = 0;
      errno = ENOSPC;
      return false;
    }
    budget_ -= need;
    used += need;
    return OutputWriter::WriteAt(fd, data, size, offset);
  }
  bool Truncate(int fd, std::uint64_t size) override {
    std::uint64_t& used = used_[fd];
    if (size < used) {
      budget_ += used - size;
      used = size;
    }
    return OutputWriter::Truncate(fd, size);
  }
  bool Close(int fd) override {
    used_.erase(fd);  // the number may come back for another file
    return OutputWriter::Close(fd);
  }
  bool HasRoom(int) override { return budget_ > 0; }
  std::uint64_t Left() const { return budget_; }

 private:
  std::uint64_t budget_;
  std::map<int, std::uint64_t> used_;
};

// Serves files from memory as an engine does: each item's bytes (by item
// id) in clusters of `clusterBytes`, kept from volume cluster
// `firstCluster[id]` on (0 when not given), and the volume clusters listed
// in `badClusters` (by item id) fail to read.
class MemoryEngine final : public ScanEngine {
 public:
  explicit MemoryEngine(std::uint32_t clusterBytes = 4096) : clusterBytes_(clusterBytes) {}
  std::uint32_t FoundItemCount() const override { return static_cast<std::uint32_t>(files.size()); }
  void FreeLists() override {}
  WalkResult ReadItemData(const FoundItemInfo& item, const BlockSink& sink, std::uint64_t begin,
                          std::uint64_t end) override {
    readItems.push_back(item);
    const auto it = files.find(item.itemId);
    const std::set<std::uint64_t>& bad = badClusters[item.itemId];
    if (it == files.end()) return {};
    const std::vector<std::uint8_t>& bytes = it->second;
    FileDataLayout layout;
    layout.size = item.size;
    layout.clusterBytes = clusterBytes_;
    // File cluster i sits at volume cluster base + i.
    const std::uint64_t base = firstCluster.count(item.itemId) ? firstCluster.at(item.itemId) : 0;
    layout.extents.push_back({0, base, (bytes.size() + clusterBytes_ - 1) / clusterBytes_, false});
    const auto read = [&](std::uint64_t lcn, std::uint64_t count, std::uint8_t* out) {
      bool ok = true;
      for (std::uint64_t c = 0; c < count; ++c) {
        std::uint8_t* dst = out + c * clusterBytes_;
        const std::uint64_t at = (lcn + c - base) * clusterBytes_;
        std::fill(dst, dst + clusterBytes_, 0);
        if (bad.count(lcn + c)) {
          ok = false;
          continue;
        }
        if (at < bytes.size())
          std::copy(bytes.begin() + at, bytes.begin() + std::min<std::uint64_t>(at + clusterBytes_, bytes.size()), dst);
      }
      return ok;
    };
    return WalkFileData(layout, read, sink, begin, end);
  }

  std::map<std::uint32_t, std::vector<std::uint8_t>> files;
  std::map<std::uint32_t, std::uint64_t> firstCluster;
  std::map<std::uint32_t, std::set<std::uint64_t>> badClusters;
  std::vector<FoundItemInfo> readItems;

 private:
  std::uint32_t clusterBytes_;
};

// A volume of a corpus image scanned into a found-item store as the
// results window would hold it.
class ScannedVolume {
 public:
  ScannedVolume() : app(dir / "settings.ini", dir / "install") {
    app.m_pPrompt = &prompt;
  }
  ~ScannedVolume() {
    app.FreeSourcesAndEngines();
  }

  // Empty when the scan ran; otherwise why not.
  std::string Scan(const std::string& image, std::uint16_t volume, std::uint32_t mode = kModeQuick) {
    const std::filesystem::path path = CorpusDir() / image;
    const MountOutcome mounted = MountAndListSources(app, ImageTypeForPath(path), path);
    if (!mounted.mounted) return "cannot mount " + path.string();
    if (!SelectSource(app, volume)) return "no volume " + std::to_string(volume);
    app.m_nRecoveryMode = mode;
    app.m_pConsole = &store;
    engines = MakeProgramEngines();
    ScanWorker worker(MakeScanJob(app, CurrentSelection(app)), *engines);
    worker.Run();
    app.m_pConsole = nullptr;
    if (!worker.Problem().empty()) return worker.Problem();
    if (store.Count() <= 1) return "the scan found nothing";
    return {};
  }

  TempDir dir;
  UserFolders folders{dir.path()};
  RecordingPrompt prompt;
  CORVANApp app;
  FoundItemStore store;
  std::unique_ptr<EngineBackend> engines;
};

struct SaveRun {
  SaveJobResult result;
  std::string log;
};

struct SaveOptionsForTest {
  std::uint8_t whichFiles = 1;
  std::int32_t createZip = 0;
  std::uint8_t zipMode = 0;
  OutputWriter* writer = nullptr;
  // An FTP destination: `dest` is then its remote folder.
  const FtpSettings* ftp = nullptr;
  FtpTimeouts ftpTimeouts = {};
};

// Saves everything under the store's root to `dest`.
inline SaveRun SaveStore(CORVANApp& app, const FoundItemStore& store, const std::filesystem::path& dest,
                         SaveDecisions& decisions, const SaveOptionsForTest& options = {}) {
  FoundItemStoreWalk walk(store);
  SaveJob job = MakeSaveJob(app);
  SaveRequest& request = job.request;
  request.m_szDest = dest;
  request.m_nSelectMode = 1;
  request.m_nWhichFiles = options.whichFiles;
  request.m_bCreateZip = options.createZip;
  request.m_nZipMode = options.zipMode;
  job.writer = options.writer;
  if (options.ftp) {
    request.m_nDestKind = 1;
    request.m_ftp = *options.ftp;
    request.m_ftpTimeouts = options.ftpTimeouts;
  }
  CThreadForSavingFiles saver(std::move(job), walk, decisions);
  const std::size_t before = app.LogViewText().size();
  saver.Start();
  saver.Join();
  SaveRun run;
  run.result = saver.Result();
  run.log = app.LogViewText().substr(before);
  return run;
}

// Bytes of a made-up pattern, and as text.
inline std::vector<std::uint8_t> Bytes(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  return b;
}
inline std::string AsText(const std::vector<std::uint8_t>& b) { return std::string(b.begin(), b.end()); }

// 2026-12-07 07:59:44 as FAT keeps it (time word low, date word high).
inline constexpr std::uint16_t kDosDate = ((2026 - 1980) << 9) | (12 << 5) | 7;
inline constexpr std::uint16_t kDosTime = (7 << 11) | (59 << 5) | (44 / 2);
inline constexpr std::uint64_t kFatStamp = kDosTime | (std::uint64_t{kDosDate} << 32);

// A FAT volume whose files the MemoryEngine serves, in a found-item store,
// with the application object a save runs on.
class MemoryVolume {
 protected:
  MemoryVolume() : app_(dir_ / "settings.ini", dir_ / "install") {
    app_.m_pPrompt = &prompt_;
    app_.m_pSaveProgressDlg = &progress_;
    auto engine = std::make_unique<MemoryEngine>();
    engine_ = engine.get();
    app_.m_pScanSession->Hold(EngineKind::Fat, std::move(engine));
    store_.OnInsertRootItem(kFatRootId);
  }

  std::uint32_t AddFolder(std::uint32_t parent, std::u16string name, bool deleted = false) {
    FoundItemInfo r;
    r.itemId = nextId_++;
    r.parentId = parent;
    r.attribute = kItemFolder;
    r.flags = deleted ? kItemDeleted : 0;
    store_.OnAddFoundItem(r, name);
    return r.itemId;
  }
  std::uint32_t AddFile(std::uint32_t parent, std::u16string name, std::vector<std::uint8_t> data,
                        bool deleted = false, std::uint64_t stamp = kFatStamp) {
    FoundItemInfo r;
    r.itemId = nextId_++;
    r.parentId = parent;
    r.attribute = kItemFile;
    r.size = data.size();
    r.flags = deleted ? kItemDeleted : 0;
    r.modifiedTime = stamp;
    engine_->files[r.itemId] = std::move(data);
    store_.OnAddFoundItem(r, name);
    return r.itemId;
  }

  TempDir dir_;
  UserFolders folders_{dir_.path()};
  RecordingPrompt prompt_;
  RecordingProgressSink progress_;
  CORVANApp app_;
  MemoryEngine* engine_ = nullptr;
  FoundItemStore store_;
  std::uint32_t nextId_ = 100;
};

inline std::size_t CountOf(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
  return n;
}

}  // namespace corvan::test
