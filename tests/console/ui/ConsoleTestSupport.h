#pragma once
// Helpers of the results-window tests and the window renderer: mounting a
// corpus image and selecting one of its volumes as the source page would,
// the corpus truth, and an engine backend that reports a truth listing as
// found items through the application's sinks.

#include <QApplication>
#include <QElapsedTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/CORVANApp.h"
#include "app/ui/MainWindows.h"
#include "console/ui/FolderTreeModel.h"
#include "ui/QtText.h"
#include "core/ProgressSink.h"
#include "core/FoundItemSink.h"
#include "platform/TextConv.h"
#include "scan/ScanWorker.h"
#include "support/CorpusTruth.h"
#include "app/SourceSetup.h"
#include "core/RecoveryMode.h"
#include "support/TestSupport.h"
#include "ui/UiTestSupport.h"

namespace corvan::test {

// Mounts `image` as the source page does and selects the source record
// with index `volume` (0 the disk, volumes from 1). False when the image
// does not mount or has no such record.
inline bool SelectImageVolume(CORVANApp& app, const std::filesystem::path& image, std::uint16_t volume,
                              std::string* why = nullptr) {
  const MountOutcome mount = MountAndListSources(app, ImageTypeForPath(image), image);
  if (!mount.mounted) {
    if (why) *why = "the image does not mount";
    return false;
  }
  if (!SelectSource(app, volume)) {
    if (why) *why = "the image has no source record " + std::to_string(volume);
    return false;
  }
  return true;
}

// The index of the first volume record with file-system kind `fsKind`.
inline std::optional<std::uint16_t> VolumeOfKind(const CORVANApp& app, std::uint8_t fsKind) {
  for (const auto& source : app.m_sourceList.m_sources)
    if (source->partition && source->kind == kSourceVolume && source->partition->fileSystemKind == fsKind)
      return source->index;
  return std::nullopt;
}

// The application as a results-window test wants it: no flag up, no
// engine, `prompt` answering, Quick Recovery of the NTFS volume of the
// corpus MBR disk selected. False (with why) when the disk does not mount.
inline bool PrepareNtfsVolumeScan(CORVANApp& app, Prompt& prompt, std::string* why) {
  for (auto* flag : {&app.m_bBusy, &app.m_bAbort, &app.m_bResultsPresent, &app.m_bMaskRunning, &app.CriticalPhaseFlag(),
                     &app.m_bFromScanInfo})
    *flag = 0;
  app.m_pScanSession->Release();
  app.m_pPrompt = &prompt;
  app.m_nRecoveryMode = kModeQuick;
  if (!SelectImageVolume(app, CorpusDir() / "disks" / "mbr.vmdk", 0, why)) return false;
  const auto ntfs = VolumeOfKind(app, kFsNtfs);
  if (!ntfs || !SelectSource(app, *ntfs)) {
    if (why) *why = "the disk has no NTFS volume";
    return false;
  }
  return true;
}

// Closes the results window and whatever window is in front, answering the
// questions of leaving so that nothing is saved, and lets them go.
inline void CloseTestWindows(AnsweringPrompt& prompt, QWidget* console) {
  prompt.answer = kIdYes;
  prompt.AnswerTo(310, kIdNo);
  prompt.AnswerTo(311, kIdNo);
  if (console) console->close();
  if (QWidget* w = CurrentMainWindow()) w->close();
  Settle();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Processes events until `done` holds or `seconds` have passed.
inline bool WaitFor(const std::function<bool()>& done, int seconds = 60) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > seconds * 1000) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

// An engine that only counts what the backend reported for it.
struct ListedEngine : ScanEngine {
  std::uint32_t FoundItemCount() const override { return found; }
  void FreeLists() override {}
  std::uint32_t found = 0;
};

// Reports the rows of a truth listing as an NTFS Quick pass would: the
// root, then every folder before its contents. With `holdUntilStopped` it
// reports the first half, then waits for Stop; `critical` keeps the
// critical-phase flag up while it waits.
class TruthBackend : public EngineBackend {
 public:
  explicit TruthBackend(std::vector<TruthRow> rows) : rows_(std::move(rows)) {}

  bool holdUntilStopped = false;
  bool critical = false;
  // The root comes with the first item, as Raw Recovery posts it: a pass
  // that finds nothing posts nothing.
  bool rootWithFirstItem = false;
  std::atomic<bool> holding{false};
  std::atomic<bool> release{false};

  std::unique_ptr<ScanEngine> Create(EngineHost& host, EngineKind) override {
    auto engine = std::make_unique<ListedEngine>();
    engine_ = engine.get();
    host_ = &host;
    return engine;
  }
  void Prepare(ScanEngine&, EngineKind, const Volume&) override {}
  void SetVolumeRange(ScanEngine&, EngineKind, const Volume&, std::uint64_t, std::uint64_t) override {}
  Outcome RunPass(ScanEngine&, EngineKind, ScanPass) override {
    EngineHost& app = *host_;
    FoundItemSink& console = *app.ResultsSink();
    ProgressSink* progress = app.ScanProgressSink();
    if (progress) progress->SetRange(0, static_cast<std::int64_t>(rows_.size()));
    const auto postRoot = [&] {
      console.OnInsertRootItem(5);
      ++engine_->found;
    };
    if (!rootWithFirstItem) postRoot();
    std::map<std::string, std::uint32_t> folderIds{{"", 5}};
    std::uint32_t next = 64;
    std::uint64_t bytes = 0;  // the engine's count: files only
    const std::size_t half = holdUntilStopped ? rows_.size() / 2 : rows_.size();
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      if (i == half) {
        if (critical) app.SetCriticalPhase(true);
        holding = true;
        while (!app.StopRequested() && !release) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        app.SetCriticalPhase(false);
        if (app.StopRequested()) break;
      }
      const TruthRow& row = rows_[i];
      const std::size_t slash = row.path.rfind('/');
      const std::string parent = slash == std::string::npos ? "" : row.path.substr(0, slash);
      const std::string name = slash == std::string::npos ? row.path : row.path.substr(slash + 1);
      FoundItemInfo r;
      r.itemId = next++;
      r.location = r.itemId;
      r.parentId = folderIds.count(parent) ? folderIds[parent] : 5;
      r.attribute = row.type == "dir" ? kItemFolder : kItemFile;
      r.size = row.type == "dir" ? 0 : row.size;
      r.flags = row.state == "deleted" ? kItemDeleted : 0;
      if (row.type != "dir" && row.path.rfind("Compressed/", 0) == 0) r.flags |= kItemCompressed;
      r.modifiedTime = 131722848000000000ull;  // 2018-06-01 00:00:00
      r.creationTime = 0;
      if (row.type == "dir") folderIds[row.path] = r.itemId;
      if (rootWithFirstItem && i == 0) postRoot();
      console.OnAddFoundItem(r, Utf8ToUtf16(name));
      if (row.type != "dir") console.OnBytesFound(bytes += r.size);
      ++engine_->found;
      console.UpdateStatusText(0);
      if (progress) progress->StepIt();
    }
    return Outcome::Ran;
  }

 private:
  std::vector<TruthRow> rows_;
  ListedEngine* engine_ = nullptr;
  EngineHost* host_ = nullptr;
};

// The folders of a tree by their path below the root ("a/b").
inline std::map<std::string, FoundItemHandle> TreePaths(FolderTreeModel* model) {
  std::map<std::string, FoundItemHandle> out;
  std::vector<std::pair<QModelIndex, std::string>> pending{{model->index(0, 0), ""}};
  while (!pending.empty()) {
    auto [index, path] = pending.back();
    pending.pop_back();
    for (int r = 0; r < model->rowCount(index); ++r) {
      const QModelIndex child = model->index(r, 0, index);
      const std::string name = ToUtf8(child.data().toString());
      const std::string full = path.empty() ? name : path + "/" + name;
      out[full] = model->HandleOf(child);
      pending.emplace_back(child, full);
    }
  }
  return out;
}

}  // namespace corvan::test
