#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/WorkerThread.h"

namespace corvan {
namespace {

TEST(WorkerThread, RunsOnlyAfterStartAndSeesFieldsSetBefore) {
  struct Job {
    int input = 0;
    std::atomic<int> seen{-1};
    WorkerThread thread;
  } job;
  EXPECT_FALSE(job.thread.IsStarted());
  job.input = 42;  // set while "suspended"
  job.thread.Start([&] { job.seen = job.input; });
  job.thread.Join();
  EXPECT_EQ(job.seen, 42);
  EXPECT_FALSE(job.thread.IsRunning());
}

TEST(WorkerThread, DestructionWaitsForTheWorker) {
  std::atomic<bool> done{false};
  {
    WorkerThread t;
    t.Start([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      done = true;
    });
  }
  EXPECT_TRUE(done);
}

}  // namespace
}  // namespace corvan
