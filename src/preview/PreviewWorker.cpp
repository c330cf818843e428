#include "preview/PreviewWorker.h"

namespace corvan {

bool PreviewCancel::Cancelled() const { return worker_.selection_.load() != selection_; }

std::mutex& PreviewCancel::EngineMutex() const { return worker_.engineMutex_; }

PreviewWorker::PreviewWorker() : thread_([this] { Run(); }) {}

PreviewWorker::~PreviewWorker() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    queue_.clear();
    ++selection_;
  }
  wake_.notify_all();
  thread_.join();
}

std::uint64_t PreviewWorker::NewSelection() {
  std::lock_guard lock(mutex_);
  queue_.clear();
  return ++selection_;
}

void PreviewWorker::Post(std::uint64_t selection, Task task) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || selection != selection_.load()) return;
    queue_.emplace_back(selection, std::move(task));
  }
  wake_.notify_one();
}

void PreviewWorker::Quiesce() {
  NewSelection();
  std::lock_guard wait(engineMutex_);
}

bool PreviewWorker::Busy() const {
  std::lock_guard lock(mutex_);
  return running_ || !queue_.empty();
}

void PreviewWorker::Run() {
  for (;;) {
    std::pair<std::uint64_t, Task> next;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      next = std::move(queue_.front());
      queue_.pop_front();
      if (next.first != selection_.load()) continue;
      running_ = true;
    }
    next.second(PreviewCancel(*this, next.first));
    std::lock_guard lock(mutex_);
    running_ = false;
  }
}

}  // namespace corvan
