// The deep lost-volume search over a whole disk against reading that disk
// once, in the same run, and the time from a stop request to the search's
// end. The disk: $CORVAN_BENCH_DISK (a raw disk file), else the corpus's
// flat MBR disk (disks/mbr-mflat-flat.vmdk).
// Counters: "ratio" = search time / plain read time (target: within 1.5);
// "stop_s" = seconds from the stop request to the end (target: under 1).
//
// BM_DeepSearchFolderGroups: the search over disks in memory holding groups
// of four folder starts (clusters 2 to 5, one group every 8 sectors), each
// implying a data area of its own, against the same disk without them:
// 1,000 groups past the last volume of the corpus flat disk (its MBR and
// boot sectors zeroed), and 32,768 filling a blank 128 MiB disk. Counters:
// "groups_s" and "clean_s" (seconds), "volumes" (listed with the groups).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <vector>

#include "core/HeadlessHost.h"
#include "scan/CThreadForSearchVolume.h"
#include "sources/FileSectorSource.h"
#include "sources/SourceList.h"
#include "sources/SourceRecords.h"
#include "support/FolderStarts.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path BenchDisk() {
  if (const char* p = std::getenv("CORVAN_BENCH_DISK"); p && *p) return p;
  if (const char* dir = std::getenv("CORVAN_CORPUS_DIR"); dir && *dir)
    return fs::path(dir) / "disks" / "mbr-mflat-flat.vmdk";
  return fs::path(__FILE__).parent_path().parent_path() / "build" / "corpus" / "disks" / "mbr-mflat-flat.vmdk";
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

double ReadOnce(const fs::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  std::vector<char> buffer(1 << 20);
  const auto start = Clock::now();
  while (::read(fd, buffer.data(), buffer.size()) > 0) benchmark::DoNotOptimize(buffer.data());
  ::close(fd);
  return Seconds(start);
}

// One deep search over `disk`, stopped after `stopAfter` seconds when given;
// returns the seconds from the stop request (or from the start) to the end,
// and how many volumes it listed in `volumes`.
double DeepSearch(const std::shared_ptr<corvan::SectorSource>& disk, double stopAfter = -1,
                  std::size_t* volumes = nullptr) {
  using namespace corvan;
  HeadlessHost host;
  SourceList list;
  auto record = std::make_unique<SourceRecord>();
  record->kind = kSourceDisk;
  record->disk = std::make_unique<DiskRecord>();
  record->disk->driveNumber = kImageDriveNumber;
  record->disk->sectorCount = disk->SectorCount();
  list.AppendSource(std::move(record));
  std::shared_ptr<ScanSession> session = std::make_shared<ScanSession>();
  CThreadForSearchVolume search(LostVolumeJob{.host = host,
                                              .listed = ListedSourcesOf(list),
                                              .appendSource = [&list](std::unique_ptr<SourceRecord> record) -> SourceRecord& {
                                                return list.AppendSource(std::move(record));
                                              },
                                              .selection = {.source = list.m_sources.front().get(), .disk = disk},
                                              .session = session,
                                              .deep = true,
                                              .imageFlag = false,
                                              .path = {},
                                              .sink = nullptr,
                                              .resetScanState = {},
                                              .freeResults = {}});
  const auto start = Clock::now();
  std::atomic<bool> ended{false};
  std::thread worker([&] {
    search.Run();
    ended = true;
  });
  Clock::time_point asked = start;
  if (stopAfter >= 0) {
    while (!ended && Seconds(start) < stopAfter) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    asked = Clock::now();
    host.AbortFlag() = 1;
  }
  worker.join();
  if (volumes) *volumes = list.m_sources.size() - 1;
  return Seconds(asked);
}

void BM_DeepSearch(benchmark::State& state) {
  const fs::path file = BenchDisk();
  auto disk = std::make_shared<corvan::FileSectorSource>(file);
  if (!disk->IsOpen()) {
    state.SkipWithError(("cannot open " + file.string()).c_str());
    return;
  }
  ReadOnce(file);  // both in the page cache before timing
  double best = 1e300, read = 1e300;
  for (auto _ : state) {
    best = std::min(best, DeepSearch(disk));
    read = std::min(read, ReadOnce(file));
  }
  state.counters["search_s"] = best;
  state.counters["read_s"] = read;
  state.counters["ratio"] = best / read;
  // A stop a fifth of the way into the search.
  state.counters["stop_s"] = DeepSearch(disk, best / 5);
}
BENCHMARK(BM_DeepSearch)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_DeepSearchFolderGroups(benchmark::State& state) {
  const bool blank = state.range(0) != 0;
  std::vector<std::uint8_t> clean;
  std::uint64_t groupsAt = 0, groups = 0;
  if (blank) {
    clean.assign(std::size_t{128} << 20, 0);
    groups = 32768;
  } else {
    std::ifstream in(BenchDisk(), std::ios::binary);
    clean.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    // The MBR, and the boot sectors of the NTFS, FAT32 (and its backup),
    // exFAT and FAT16 volumes; the groups past the FAT16 volume's end.
    for (const std::uint64_t sector : {0, 2048, 104448, 104454, 188416, 256000})
      if ((sector + 1) * 512 <= clean.size()) std::memset(clean.data() + sector * 512, 0, 512);
    groupsAt = 256000 + 49152 + 1024;
    groups = 1000;
  }
  const std::vector<std::uint8_t> folders = corvan::test::FolderGroups(groups);
  if (clean.size() < groupsAt * 512 + folders.size()) {
    state.SkipWithError("the disk is too small for the groups");
    return;
  }
  std::vector<std::uint8_t> withGroups = clean;
  std::memcpy(withGroups.data() + groupsAt * 512, folders.data(), folders.size());
  auto cleanDisk = std::make_shared<corvan::MemorySectorSource>(std::move(clean));
  auto groupsDisk = std::make_shared<corvan::MemorySectorSource>(std::move(withGroups));
  double best = 1e300, bestClean = 1e300;
  std::size_t volumes = 0;
  for (auto _ : state) {
    best = std::min(best, DeepSearch(groupsDisk, -1, &volumes));
    bestClean = std::min(bestClean, DeepSearch(cleanDisk));
  }
  state.counters["groups_s"] = best;
  state.counters["clean_s"] = bestClean;
  state.counters["volumes"] = static_cast<double>(volumes);
}
BENCHMARK(BM_DeepSearchFolderGroups)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
