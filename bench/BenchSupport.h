#pragma once
// What the scan benchmarks share: a volume image file as the disk, a sink
// that counts the items a pass posts and folds them into a digest (so runs
// before and after a change can be told apart only by their times), the
// reference tools timed beside them, and the pass's peak memory.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/FoundItemInfo.h"
#include "core/FoundItemSink.h"
#include "sources/SectorSource.h"

namespace corvan::bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The image a benchmark runs over: the file $`variable` names, else `name`
// in the corpus folder ($CORVAN_CORPUS_DIR, else build/corpus).
inline fs::path BenchImage(const char* variable, const char* name) {
  if (const char* p = std::getenv(variable); p && *p) return p;
  if (const char* dir = std::getenv("CORVAN_CORPUS_DIR"); dir && *dir) return fs::path(dir) / name;
  return fs::path(__FILE__).parent_path().parent_path() / "build" / "corpus" / name;
}

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The image file as the mounted disk, read with one pread a request; it
// counts the bytes asked of it.
class ImageFile final : public SectorSource {
 public:
  explicit ImageFile(const fs::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ >= 0) size_ = static_cast<std::uint64_t>(::lseek(fd_, 0, SEEK_END));
  }
  ~ImageFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    bytesRead += bytes;
    const ssize_t got = ::pread(fd_, buffer, bytes, static_cast<off_t>(sector * kSectorSize));
    const std::size_t have = got > 0 ? static_cast<std::size_t>(got) : 0;
    if (have < bytes) std::memset(static_cast<char*>(buffer) + have, 0, bytes - have);
    return have == bytes;
  }
  std::uint64_t SectorCount() const override { return size_ / kSectorSize; }
  std::atomic<std::uint64_t> bytesRead{0};

 private:
  int fd_;
  std::uint64_t size_ = 0;
};

// Counts the posted items and folds each (its 73 stored bytes and its name,
// and every later size or name change) into a 64-bit FNV-1a digest.
class DigestSink final : public FoundItemSink {
 public:
  void OnInsertRootItem(std::uint32_t id) override { Fold(&id, sizeof id); }
  FoundItemHandle OnAddFoundItem(const FoundItemInfo& record, std::u16string_view name) override {
    std::array<std::uint8_t, kFoundItemInfoSize> bytes{};
    record.Encode(bytes);
    Fold(bytes.data(), bytes.size());
    Fold(name.data(), name.size() * sizeof(char16_t));
    return count++;
  }
  void UpdateFoundItemSize(FoundItemHandle h, std::uint64_t size) override {
    Fold(&h, sizeof h);
    Fold(&size, sizeof size);
  }
  void UpdateFoundItemName(FoundItemHandle h, std::u16string_view name) override {
    Fold(&h, sizeof h);
    Fold(name.data(), name.size() * sizeof(char16_t));
  }
  void UpdateStatusText(int) override {}

  std::string DigestText() const {
    char text[32];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(digest_));
    return text;
  }
  std::uint32_t count = 0;

 private:
  void Fold(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    for (std::size_t i = 0; i < n; ++i) digest_ = (digest_ ^ p[i]) * 0x100000001B3ull;
  }
  std::uint64_t digest_ = 0xCBF29CE484222325ull;
};

// Runs a tool with its output thrown away; seconds, or a negative number
// when it cannot be run or fails.
inline double TimeTool(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return SecondsSince(start);
}

// The best of three runs of a reference; negative when it cannot run.
inline double BestOfThree(const std::function<double()>& run) {
  double best = -1;
  for (int i = 0; i < 3; ++i) {
    const double t = run();
    if (t < 0) break;
    best = best < 0 ? t : std::min(best, t);
  }
  return best;
}

// A "Vm...:" line of /proc/self/status, in KiB.
inline std::uint64_t StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::size_t n = std::strlen(field);
  while (std::getline(status, line))
    if (line.compare(0, n, field) == 0) return std::strtoull(line.c_str() + n, nullptr, 10);
  return 0;
}

// How much the process's resident memory rose above where it stood when
// the watch began, at its highest (Linux: the peak is reset at the start).
class PeakMemory {
 public:
  PeakMemory() {
    std::ofstream("/proc/self/clear_refs") << "5";
    base_ = StatusKiB("VmRSS:");
  }
  double RiseKiB() const {
    const std::uint64_t peak = StatusKiB("VmHWM:");
    return peak > base_ ? static_cast<double>(peak - base_) : 0.0;
  }

 private:
  std::uint64_t base_ = 0;
};

}  // namespace corvan::bench
