// Saving every file of an NTFS volume image through the saving thread, timed
// in the same run as The Sleuth Kit's `tsk_recover -e` writing the files of
// the same image (when `tsk_recover` is on PATH). The image:
// $CORVAN_BENCH_NTFS (a bench image of make_corpus.py --set bench), else the
// corpus ntfs.img ($CORVAN_CORPUS_DIR or build/corpus). The scan that finds
// the files runs once, untimed.
// Counters: "files" saved, "save_s" and "tsk_s" (best of the runs) and
// "ratio" = save_s / tsk_s (below 1.0: faster than tsk_recover).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "BenchSupport.h"
#include "SaveBenchSupport.h"
#include "app/CORVANApp.h"
#include "app/Jobs.h"
#include "console/FoundItemStore.h"
#include "engines/ntfs/NtfsEngine.h"
#include "save/CThreadForSavingFiles.h"
#include "save/FoundItemStoreWalk.h"
#include "sources/FileSectorSource.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path VolumeImage() {
  if (const char* p = std::getenv("CORVAN_BENCH_NTFS"); p && *p) return p;
  if (const char* dir = std::getenv("CORVAN_CORPUS_DIR"); dir && *dir) return fs::path(dir) / "ntfs.img";
  return fs::path(__FILE__).parent_path().parent_path() / "build" / "corpus" / "ntfs.img";
}

// Runs `tsk_recover -e image out`; seconds, or a negative number when it cannot be run.
double TimeTskRecover(const fs::path& image, const fs::path& out) {
  fs::remove_all(out);
  fs::create_directories(out);
  return corvan::bench::TimeTool({"tsk_recover", "-e", image.string(), out.string()});
}

void BM_SaveNtfsVolume(benchmark::State& state) {
  const fs::path image = VolumeImage();
  const fs::path home = fs::temp_directory_path() / "corvan-save-bench";
  fs::create_directories(home);
  corvan::CORVANApp app(home / "settings.ini", home);
  corvan::FoundItemStore store;
  corvan::NullProgressSink progress;
  if (!corvan::bench::ScanNtfsImage(app, store, progress, image)) {
    state.SkipWithError(("cannot scan an NTFS volume in " + image.string()).c_str());
    return;
  }

  const fs::path out = home / "saved";
  double best = 1e300;
  std::uint32_t files = 0;
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(out);
    state.ResumeTiming();
    corvan::FoundItemStoreWalk walk(store);
    corvan::UnattendedSaveDecisions decisions;
    corvan::SaveJob job = corvan::MakeSaveJob(app);
    job.request.m_szDest = out;
    job.request.m_nWhichFiles = 1;
    corvan::CThreadForSavingFiles saver(std::move(job), walk, decisions);
    const auto start = Clock::now();
    saver.Run();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    files = saver.Result().recovered + saver.Result().partial;
  }
  app.FreeSourcesAndEngines();

  double tsk = -1;
  for (int i = 0; i < 3; ++i) {
    const double t = TimeTskRecover(image, home / "tsk");
    if (t < 0) break;
    tsk = tsk < 0 ? t : std::min(tsk, t);
  }
  fs::remove_all(home);
  state.counters["files"] = files;
  state.counters["save_s"] = best;
  if (tsk > 0) {
    state.counters["tsk_s"] = tsk;
    state.counters["ratio"] = best / tsk;
  } else {
    state.SetLabel("tsk_recover not found: no ratio");
  }
}
BENCHMARK(BM_SaveNtfsVolume)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
