// Saving every file of an NTFS volume image to a local FTP server (the
// pyftpdlib server of the tests) through the saving thread, timed in the
// same run as `lftp mirror -R` of the same files, extracted beforehand, to
// the same server, both with active data connections. The image:
// $CORVAN_BENCH_NTFS (the 100,000-file bench volume of make_corpus.py
// --set bench), else the corpus ntfs.img. The scan and the extraction run
// once, untimed.
// Counters of BM_SaveVolumeToFtp: "files" saved, "ftp_s" and "lftp_s" (best
// of the runs), "throughput" = lftp_s / ftp_s (the target is 0.8 or more).
// BM_StopStalledServer: "stop_ms", the time from Stop to the job's end
// while the server has stopped reading a file.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "BenchSupport.h"
#include "SaveBenchSupport.h"
#include "app/CORVANApp.h"
#include "app/Jobs.h"
#include "save/CThreadForSavingFiles.h"
#include "save/FoundItemStoreWalk.h"
#include "save/FtpTestServer.h"

namespace {

namespace fs = std::filesystem;
using corvan::bench::Clock;

fs::path VolumeImage() { return corvan::bench::BenchImage("CORVAN_BENCH_NTFS", "ntfs.img"); }

// The scanned volume, its store and the application object a save runs on,
// in a fresh folder `name` of the temporary folder (removed afterwards)
// whose "served" is the FTP server's root.
struct Volume {
  explicit Volume(const char* name) : home(Fresh(fs::temp_directory_path() / name)), app(home / "settings.ini", home) {}
  ~Volume() {
    app.FreeSourcesAndEngines();
    fs::remove_all(home);
  }
  static fs::path Fresh(const fs::path& home) {
    fs::remove_all(home);
    fs::create_directories(home / "served");
    return home;
  }
  bool Scan() { return corvan::bench::ScanNtfsImage(app, store, progress, VolumeImage()); }
  // Saves every file; FTP when `ftp` is given, else to the folder `dest`.
  corvan::SaveJobResult Save(const fs::path& dest, const corvan::FtpSettings* ftp) {
    corvan::FoundItemStoreWalk walk(store);
    corvan::UnattendedSaveDecisions decisions;
    corvan::SaveJob job = corvan::MakeSaveJob(app);
    job.request.m_szDest = dest;
    job.request.m_nWhichFiles = 1;
    if (ftp) {
      job.request.m_nDestKind = 1;
      job.request.m_ftp = *ftp;
    }
    corvan::CThreadForSavingFiles saver(std::move(job), walk, decisions);
    saver.Run();
    return saver.Result();
  }

  fs::path home;
  corvan::CORVANApp app;
  corvan::FoundItemStore store;
  corvan::NullProgressSink progress;
};

// `lftp mirror -R local remote` against the server; seconds, or negative.
double TimeLftpMirror(const fs::path& local, const std::string& remote, std::uint16_t port) {
  const std::string script = "set ftp:passive-mode off; set net:max-retries 1; mirror -R --no-perms '" +
                             local.string() + "' '" + remote + "'; quit";
  return corvan::bench::TimeTool({"lftp", "-u", "saver,secret", "-e", script,
                                  "ftp://127.0.0.1:" + std::to_string(port)});
}

std::size_t CountFiles(const fs::path& root) {
  std::size_t n = 0;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) ++n;
  return n;
}

void BM_SaveVolumeToFtp(benchmark::State& state) {
  Volume volume("corvan-ftp-bench");
  const fs::path& home = volume.home;
  if (!volume.Scan()) {
    state.SkipWithError(("cannot scan " + VolumeImage().string()).c_str());
    return;
  }
  {
    corvan::test::PyFtpServer server(home / "served");
    if (!server.Running()) {
      state.SkipWithError("pyftpdlib did not start");
      return;
    }
    // The reference mirrors the very files the save writes.
    volume.Save(home / "extracted", nullptr);
    const corvan::FtpSettings settings = server.Settings("/ours");
    double best = 1e300, lftp = -1;
    std::uint32_t files = 0;
    int run = 0;
    for (auto _ : state) {
      state.PauseTiming();
      fs::remove_all(home / "served" / "ours");
      fs::remove_all(home / "served" / "lftp");
      state.ResumeTiming();
      const auto start = Clock::now();
      const corvan::SaveJobResult r = volume.Save("/ours", &settings);
      best = std::min(best, corvan::bench::SecondsSince(start));
      files = r.recovered + r.partial;
      state.PauseTiming();
      if (r.failedJob) state.SkipWithError(r.failure.c_str());
      const double t = TimeLftpMirror(home / "extracted", "/lftp-" + std::to_string(run++), server.Port());
      if (t > 0) lftp = lftp < 0 ? t : std::min(lftp, t);
      fs::remove_all(home / "served" / ("lftp-" + std::to_string(run - 1)));
      state.ResumeTiming();
    }
    state.counters["files"] = files;
    state.counters["on_server"] = static_cast<double>(CountFiles(home / "served" / "ours"));
    state.counters["ftp_s"] = best;
    if (lftp > 0) {
      state.counters["lftp_s"] = lftp;
      state.counters["throughput"] = lftp / best;
    } else {
      state.SetLabel("lftp could not run: no ratio");
    }
  }
}
BENCHMARK(BM_SaveVolumeToFtp)->Unit(benchmark::kSecond)->Iterations(1);

void BM_StopStalledServer(benchmark::State& state) {
  Volume volume("corvan-ftp-stop-bench");
  if (!volume.Scan()) {
    state.SkipWithError(("cannot scan " + VolumeImage().string()).c_str());
    return;
  }
  {
    corvan::test::PyFtpServer server(volume.home / "served", {"--stall-after", "0"});
    const corvan::FtpSettings settings = server.Settings("/stalled");
    double worst = 0;
    for (auto _ : state) {
      volume.app.m_bAbort = 0;
      std::atomic<bool> ended{false};
      Clock::time_point stopAt;
      std::thread stopper([&] {
        // The first file's transfer waits on the server by then.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        stopAt = Clock::now();
        volume.app.m_bAbort = 1;
      });
      volume.Save("/stalled", &settings);
      const auto end = Clock::now();
      stopper.join();
      worst = std::max(worst, std::chrono::duration<double, std::milli>(end - stopAt).count());
    }
    state.counters["stop_ms"] = worst;
  }
}
BENCHMARK(BM_StopStalledServer)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
