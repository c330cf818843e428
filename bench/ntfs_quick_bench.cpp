// Quick Recovery over an NTFS volume image, timed in the same run as The
// Sleuth Kit's `fls -r -p` listing the same image (when `fls` is on PATH).
// The image: $CORVAN_BENCH_NTFS (a bench image of make_corpus.py --set
// bench), else the corpus ntfs.img ($CORVAN_CORPUS_DIR or build/corpus).
// Counters: "items" posted, "quick_s" and "fls_s" (best of the runs) and
// "ratio" = quick_s / fls_s (below 1.0: faster than fls).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

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

void BM_NtfsQuick(benchmark::State& state) {
  const fs::path image = VolumeImage();
  auto source = std::make_shared<ImageFile>(image);
  if (!source->ok()) {
    state.SkipWithError(("cannot open " + image.string()).c_str());
    return;
  }
  corvan::MountSectorSource(source);
  const fs::path home = fs::temp_directory_path() / "corvan-ntfs-bench";
  fs::create_directories(home);
  corvan::CORVANApp app(home / "settings.ini", home);

  double best = 1e300;
  std::uint32_t items = 0;
  for (auto _ : state) {
    CountingSink sink;
    corvan::NullProgressSink progress;
    corvan::NtfsEngine engine(app);
    engine.SetSinks(&sink, &progress);
    corvan::NtfsVolumeBinding b;
    b.sectorCount = source->SectorCount();
    b.endSector = b.sectorCount;
    const auto start = Clock::now();
    engine.Prepare(b);
    if (!engine.ScanVolume(false)) {
      state.SkipWithError("not a usable NTFS volume");
      break;
    }
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    items = sink.count;
  }
  corvan::MountSectorSource(nullptr);

  double fls = -1;
  for (int i = 0; i < 3; ++i) {
    const double t = TimeFls(image);
    if (t < 0) break;
    fls = fls < 0 ? t : std::min(fls, t);
  }
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

}  // namespace

BENCHMARK_MAIN();
