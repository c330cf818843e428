#pragma once
// The preview's own thread: reads of found files, decoding and conversions
// run there one at a time, so a click never waits for the disk. Each task
// belongs to a selection; a newer selection drops the older tasks still
// queued and tells the running one to stop at its next block.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace corvan {

class PreviewWorker;

// What a task asks while it runs: whether its selection is still the
// current one.
class PreviewCancel {
 public:
  PreviewCancel(const PreviewWorker& worker, std::uint64_t selection) : worker_(worker), selection_(selection) {}
  bool Cancelled() const;
  std::uint64_t Selection() const { return selection_; }
  // Held while the task reads through an engine (see PreviewWorker::Quiesce).
  std::mutex& EngineMutex() const;

 private:
  const PreviewWorker& worker_;
  std::uint64_t selection_;
};

class PreviewWorker {
 public:
  using Task = std::function<void(const PreviewCancel&)>;

  PreviewWorker();
  // Stops the running task and joins the thread; queued tasks are dropped.
  ~PreviewWorker();
  PreviewWorker(const PreviewWorker&) = delete;
  PreviewWorker& operator=(const PreviewWorker&) = delete;

  // Starts a new selection and returns its number; everything of the older
  // ones is dropped or stopped.
  std::uint64_t NewSelection();
  std::uint64_t CurrentSelection() const { return selection_.load(); }
  // Queues `task` for `selection`; it is skipped if that selection is no
  // longer the current one when its turn comes.
  void Post(std::uint64_t selection, Task task);
  // Ends the current selection and waits until no task reads through an
  // engine: what reads the engines next (a save) has them to itself. The
  // wait is at most one block of a read.
  void Quiesce();
  // Whether a task runs or waits (for tests and benchmarks).
  bool Busy() const;

 private:
  friend class PreviewCancel;
  void Run();

  std::atomic<std::uint64_t> selection_{0};
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<std::uint64_t, Task>> queue_;
  bool stopping_ = false;
  bool running_ = false;
  mutable std::mutex engineMutex_;
  std::thread thread_;
};

}  // namespace corvan
