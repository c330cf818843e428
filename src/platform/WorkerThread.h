#pragma once
// A worker that is made first, given its fields, and only then started, so
// it never sees a half-set object. Joined before it is destroyed.

#include <atomic>
#include <functional>
#include <thread>

namespace corvan {

class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread() { Join(); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts `body` on a new thread; a worker that is still running is joined first.
  void Start(std::function<void()> body) {
    Join();
    running_ = true;
    thread_ = std::thread([this, body = std::move(body)] {
      body();
      running_ = false;
    });
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  bool IsRunning() const { return running_; }
  bool IsStarted() const { return thread_.joinable(); }

 private:
  std::thread thread_;
  std::atomic<bool> running_{false};
};

}  // namespace corvan
