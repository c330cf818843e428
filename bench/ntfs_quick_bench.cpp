// Quick and Deleted Recovery over an NTFS volume image, timed in the same
// run as The Sleuth Kit on the same image: `icat IMAGE 0` (reading the $MFT
// once, the floor of a pass over every record) and `fls -r -p` (listing the
// tree). The image: $CORVAN_BENCH_NTFS (bench/make_bench_volumes.py, or
// make_corpus.py --set bench), else the corpus ntfs.img ($CORVAN_CORPUS_DIR
// or build/corpus).
// Counters: "items" posted, "<pass>_s", "icat_s" and
// "fls_s" (best of the runs), "icat_ratio" = pass / icat, "fls_ratio" =
// pass / fls, "peak_B_per_item": how far the process's resident memory
// rose during the pass, per item posted, and "reads_of_mft": the bytes the
// pass read over the size of the $MFT. The label carries a digest of
// every item posted (its stored bytes and name), to show two builds found
// the same.
//
// Advance Recovery over the whole of the same image (every sector searched
// for records, then the tree), timed against reading the image once from
// start to end in 1 MiB blocks: "advance_s", "read_s" and "ratio" =
// advance_s / read_s (the search's cost over the read it cannot avoid).

#include <cstdlib>
#include <memory>

#include "BenchSupport.h"
#include "app/CORVANApp.h"
#include "engines/ntfs/NtfsEngine.h"

namespace {

namespace fs = std::filesystem;
using corvan::bench::Clock;

fs::path VolumeImage() { return corvan::bench::BenchImage("CORVAN_BENCH_NTFS", "ntfs.img"); }

struct PassRun {
  double best = 1e300;
  std::uint32_t items = 0;
  double peakKiB = 0;
  std::string digest;
  double readsOfMft = 0;  // bytes read / bytes of the $MFT, in the last run
};

// Runs `pass` over the image once per iteration: the best time, the items
// it posted, the highest memory rise and the digest. False (the state told
// why) when it could not run.
bool TimePass(benchmark::State& state, const fs::path& image, const std::function<bool(corvan::NtfsEngine&)>& pass,
              const char* failure, PassRun& run) {
  auto source = std::make_shared<corvan::bench::ImageFile>(image);
  if (!source->ok()) {
    state.SkipWithError(("cannot open " + image.string()).c_str());
    return false;
  }
  const fs::path home = fs::temp_directory_path() / "corvan-ntfs-bench";
  fs::create_directories(home);
  corvan::CORVANApp app(home / "settings.ini", home);
  app.m_nSetRaw = 1;  // records only: no signature matcher in Advance's way

  for (auto _ : state) {
    corvan::bench::DigestSink sink;
    corvan::NullProgressSink progress;
    const corvan::bench::PeakMemory memory;
    {
      corvan::NtfsEngine engine(app);
      engine.SetSinks(&sink, &progress);
      corvan::NtfsVolumeBinding b;
      b.sectorCount = source->SectorCount();
      b.endSector = b.sectorCount;
      b.disk = source;
      const auto start = Clock::now();
      source->bytesRead = 0;
      engine.Prepare(b);
      if (!pass(engine)) {
        state.SkipWithError(failure);
        return false;
      }
      run.best = std::min(run.best, corvan::bench::SecondsSince(start));
      const double mftBytes = static_cast<double>(engine.MftRecordCount()) * corvan::ntfs::kMftRecordSize;
      run.readsOfMft = mftBytes > 0 ? static_cast<double>(source->bytesRead) / mftBytes : 0.0;
    }
    run.peakKiB = std::max(run.peakKiB, memory.RiseKiB());
    run.items = sink.count;
    run.digest = sink.DigestText();
  }
  return true;
}

// A pass over every record of the $MFT against reading the $MFT once and
// against listing the tree.
void TimeRecordPass(benchmark::State& state, const std::function<bool(corvan::NtfsEngine&)>& pass, const char* name) {
  const fs::path image = VolumeImage();
  PassRun run;
  if (!TimePass(state, image, pass, "not a usable NTFS volume", run)) return;
  const double icat = corvan::bench::BestOfThree(
      [&] { return corvan::bench::TimeTool({"sh", "-c", "icat \"$0\" 0 >/dev/null", image.string()}); });
  const double fls = corvan::bench::BestOfThree(
      [&] { return corvan::bench::TimeTool({"fls", "-r", "-p", image.string()}); });
  state.counters["items"] = run.items;
  state.counters[std::string(name) + "_s"] = run.best;
  state.counters["peak_B_per_item"] = run.items ? run.peakKiB * 1024.0 / run.items : 0.0;
  state.counters["reads_of_mft"] = run.readsOfMft;
  std::string label = "digest " + run.digest;
  if (icat > 0) {
    state.counters["icat_s"] = icat;
    state.counters["icat_ratio"] = run.best / icat;
  } else {
    label += ", icat not found";
  }
  if (fls > 0) {
    state.counters["fls_s"] = fls;
    state.counters["fls_ratio"] = run.best / fls;
  } else {
    label += ", fls not found";
  }
  state.SetLabel(label);
}

void BM_NtfsQuick(benchmark::State& state) {
  TimeRecordPass(state, [](corvan::NtfsEngine& e) { return e.ScanVolume(false); }, "quick");
}
BENCHMARK(BM_NtfsQuick)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_NtfsDeleted(benchmark::State& state) {
  TimeRecordPass(state, [](corvan::NtfsEngine& e) { return e.ScanVolume(true); }, "deleted");
}
BENCHMARK(BM_NtfsDeleted)->Unit(benchmark::kMillisecond)->Iterations(5);

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
  return corvan::bench::SecondsSince(start);
}

void BM_NtfsAdvance(benchmark::State& state) {
  const fs::path image = VolumeImage();
  PassRun run;
  if (!TimePass(state, image, [](corvan::NtfsEngine& e) { return e.DeepScan(); }, "no NTFS records found", run))
    return;
  const double read = corvan::bench::BestOfThree([&] { return TimeWholeRead(image); });
  state.counters["items"] = run.items;
  state.counters["advance_s"] = run.best;
  state.SetLabel("digest " + run.digest);
  if (read > 0) {
    state.counters["read_s"] = read;
    state.counters["ratio"] = run.best / read;
  }
}
BENCHMARK(BM_NtfsAdvance)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
