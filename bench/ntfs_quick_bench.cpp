// Quick Recovery over an NTFS volume image, timed in the same run as The
// Sleuth Kit's `fls -r -p` listing the same image (when `fls` is on PATH).
// The image: $CORVAN_BENCH_NTFS (a bench image of make_corpus.py --set
// bench), else the corpus ntfs.img ($CORVAN_CORPUS_DIR or build/corpus).
// Counters: "items" posted, "quick_s" and "fls_s" (best of the runs) and
// "ratio" = quick_s / fls_s (below 1.0: faster than fls).
//
// Advance Recovery over the whole of the same image (every sector searched
// for records, then the tree), timed against reading the image once from
// start to end in 1 MiB blocks: "advance_s", "read_s" and "ratio" =
// advance_s / read_s (the search's cost over the read it cannot avoid).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "app/CORVANApp.h"
#include "engines/ntfs/NtfsEngine.h"
#include "sources/SectorSource.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path VolumeImage() {
  if (const char* p = std::getenv("CORVAN_BENCH_NTFS"); p && *p) return p;
  if (const char* dir = std::getenv("CORVAN_CORPUS_DIR"); dir && *dir) return fs::path(dir) / "ntfs.img";
  return fs::path(__FILE__).parent_path().parent_path() / "build" / "corpus" / "ntfs.img";
}

// The image file as the mounted disk.
class ImageFile final : public corvan::SectorSource {
 public:
  explicit ImageFile(const fs::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ >= 0) size_ = static_cast<std::uint64_t>(::lseek(fd_, 0, SEEK_END));
  }
  ~ImageFile() override {
    if (fd_ >= 0) ::close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    const ssize_t got = ::pread(fd_, buffer, bytes, static_cast<off_t>(sector * corvan::kSectorSize));
    const std::size_t have = got > 0 ? static_cast<std::size_t>(got) : 0;
    if (have < bytes) std::memset(static_cast<char*>(buffer) + have, 0, bytes - have);
    return have == bytes;
  }
  std::uint64_t SectorCount() const override { return size_ / corvan::kSectorSize; }

 private:
  int fd_;
  std::uint64_t size_ = 0;
};

class CountingSink final : public corvan::FoundItemSink {
 public:
  void OnInsertRootItem(std::uint32_t) override {}
  corvan::FoundItemHandle OnAddFoundItem(const corvan::FoundItemInfo&, std::u16string_view name) override {
    benchmark::DoNotOptimize(name.data());
    return count++;
  }
  void UpdateFoundItemSize(corvan::FoundItemHandle, std::uint64_t) override {}
  void UpdateFoundItemName(corvan::FoundItemHandle, std::u16string_view) override {}
  void UpdateStatusText(int) override {}
  std::uint32_t count = 0;
};

// Runs `fls -r -p image` with its output thrown away; seconds, or a
// negative number when fls cannot be run.
double TimeFls(const fs::path& image) {
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    ::execlp("fls", "fls", "-r", "-p", image.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs `pass` over the image once per iteration; the best time and the
// items it posted. False (the state told why) when it could not run.
bool TimePass(benchmark::State& state, const fs::path& image, const std::function<bool(corvan::NtfsEngine&)>& pass,
              const char* failure, double& best, std::uint32_t& items) {
  auto source = std::make_shared<ImageFile>(image);
  if (!source->ok()) {
    state.SkipWithError(("cannot open " + image.string()).c_str());
    return false;
  }
  const fs::path home = fs::temp_directory_path() / "corvan-ntfs-bench";
  fs::create_directories(home);
  corvan::CORVANApp app(home / "settings.ini", home);
  app.m_nSetRaw = 1;  // records only: no signature matcher in Advance's way

  bool ran = true;
  best = 1e300;
  for (auto _ : state) {
    CountingSink sink;
    corvan::NullProgressSink progress;
    corvan::NtfsEngine engine(app);
    engine.SetSinks(&sink, &progress);
    corvan::NtfsVolumeBinding b;
    b.sectorCount = source->SectorCount();
    b.endSector = b.sectorCount;
    b.disk = source;
    const auto start = Clock::now();
    engine.Prepare(b);
    if (!pass(engine)) {
      state.SkipWithError(failure);
      ran = false;
      break;
    }
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    items = sink.count;
  }
  return ran;
}

// The best of three runs of a reference; negative when it cannot run.
double BestOfThree(const std::function<double()>& run) {
  double best = -1;
  for (int i = 0; i < 3; ++i) {
    const double t = run();
    if (t < 0) break;
    best = best < 0 ? t : std::min(best, t);
  }
  return best;
}

void BM_NtfsQuick(benchmark::State& state) {
  const fs::path image = VolumeImage();
  double best = 0;
  std::uint32_t items = 0;
  if (!TimePass(state, image, [](corvan::NtfsEngine& e) { return e.ScanVolume(false); }, "not a usable NTFS volume",
                best, items))
    return;
  const double fls = BestOfThree([&] { return TimeFls(image); });
  state.counters["items"] = items;
  state.counters["quick_s"] = best;
  if (fls > 0) {
    state.counters["fls_s"] = fls;
    state.counters["ratio"] = best / fls;
  } else {
    state.SetLabel("fls not found: no ratio");
  }
}
BENCHMARK(BM_NtfsQuick)->Unit(benchmark::kMillisecond)->Iterations(5);

// Reads the whole image once, in 1 MiB blocks; seconds.
double TimeWholeRead(const fs::path& image) {
  const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  std::vector<char> buffer(1 << 20);
  const auto start = Clock::now();
  std::uint64_t sum = 0;
  for (ssize_t got; (got = ::read(fd, buffer.data(), buffer.size())) > 0;) sum += static_cast<unsigned char>(buffer[0]);
  benchmark::DoNotOptimize(sum);
  ::close(fd);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_NtfsAdvance(benchmark::State& state) {
  const fs::path image = VolumeImage();
  double best = 0;
  std::uint32_t items = 0;
  if (!TimePass(state, image, [](corvan::NtfsEngine& e) { return e.DeepScan(); }, "no NTFS records found", best,
                items))
    return;
  const double read = BestOfThree([&] { return TimeWholeRead(image); });
  state.counters["items"] = items;
  state.counters["advance_s"] = best;
  if (read > 0) {
    state.counters["read_s"] = read;
    state.counters["ratio"] = best / read;
  }
}
BENCHMARK(BM_NtfsAdvance)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
