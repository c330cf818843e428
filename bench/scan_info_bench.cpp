// Saving and loading scan information.
//
// MillionItems: a volume scan of 1,000,000 found files written to a file and
// read back whole; counters "save_s" and "load_s" (target: under 2 s each).
//
// VolumeScan: Quick Recovery of an NTFS volume image ($CORVAN_BENCH_NTFS, a
// bench image of about 100,000 files, else the corpus ntfs.img from
// $CORVAN_CORPUS_DIR or build/corpus), then the scan saved and resumed
// (the engine restored and every item posted to a fresh results store);
// counters "scan_s", "save_s", "load_s", "save_ratio" and "load_ratio"
// (save or load time over the scan's; target: under 0.25 each).

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "console/FoundItemStore.h"
#include "console/SavedScanItems.h"
#include "core/HeadlessHost.h"
#include "core/RecoveryMode.h"
#include "platform/TextConv.h"
#include "scan/ProgramEngines.h"
#include "scan/ScanInfoJobs.h"
#include "scan/ScanWorker.h"
#include "sources/FileSectorSource.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace corvan;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

fs::path WorkFolder() {
  const fs::path dir = fs::temp_directory_path() / ("corvan-scan-info-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  return dir;
}

fs::path NtfsImage() {
  if (const char* p = std::getenv("CORVAN_BENCH_NTFS"); p && *p) return p;
  if (const char* dir = std::getenv("CORVAN_CORPUS_DIR"); dir && *dir) return fs::path(dir) / "ntfs.img";
  return fs::path(__FILE__).parent_path().parent_path() / "build" / "corpus" / "ntfs.img";
}

SourceRecord PlainVolume(std::uint64_t sectors, std::uint8_t kind, const char16_t* text) {
  SourceRecord r;
  r.kind = kSourceVolume;
  r.index = 1;
  r.partition = std::make_unique<PartitionRecord>();
  r.partition->sectorCount = sectors;
  r.partition->endSector = sectors ? sectors - 1 : 0;
  r.partition->diskNumber = kNoDiskNumber;
  r.partition->fileSystemKind = kind;
  r.partition->fileSystemText = text;
  return r;
}

void MillionItems(benchmark::State& state) {
  const fs::path dir = WorkFolder();
  const fs::path file = dir / "million.img";
  VolumeScanInfo info;
  info.header = ScanImageFileHeader::ForVolumeScan();
  info.header.sectorsPerCluster = 8;
  info.header.fatKind = 2;
  info.header.fatSource = kScanFatSourceContiguous;
  info.header.sectorCount = 1ull << 32;
  info.header.endSector = info.header.sectorCount - 1;
  info.header.driveCount = 1;
  info.sources.push_back(PlainVolume(info.header.sectorCount, kFsFat32, u"FAT32"));
  info.selected = PlainVolume(info.header.sectorCount, kFsFat32, u"FAT32");
  constexpr std::uint32_t kItems = 1'000'000;
  info.items.reserve(kItems + 1);
  ScanInfoItem root;
  root.info.attribute = kItemFolder;
  info.items.push_back(root);
  for (std::uint32_t i = 0; i < kItems; ++i) {
    ScanInfoItem item;
    item.info.attribute = kItemFile;
    item.info.itemId = i + 2;
    item.info.location = 100 + i;
    item.info.size = 4096 + i;
    item.name = Utf8ToUtf16("document-" + std::to_string(i) + ".txt");
    info.items.push_back(std::move(item));
  }
  info.header.postedItems = kItems + 1;
  double save = 0, load = 0;
  for (auto _ : state) {
    auto t = Clock::now();
    const ScanInfoWriteResult written = WriteVolumeScanFile(file, info, {});
    save = Seconds(t);
    if (!written) state.SkipWithError(("save failed: " + written.detail).c_str());
    VolumeScanInfo back;
    t = Clock::now();
    const ScanInfoStatus read = ReadVolumeScanFile(file, back);
    load = Seconds(t);
    if (!read || back.items.size() != info.items.size()) state.SkipWithError("load failed");
  }
  state.counters["save_s"] = save;
  state.counters["load_s"] = load;
  fs::remove_all(dir);
}
BENCHMARK(MillionItems)->Iterations(1)->Unit(benchmark::kSecond);

void VolumeScan(benchmark::State& state) {
  const fs::path image = NtfsImage();
  auto disk = std::make_shared<FileSectorSource>(image);
  if (!disk->IsOpen()) {
    state.SkipWithError(("no image at " + image.string()).c_str());
    return;
  }
  const fs::path dir = WorkFolder();
  const fs::path file = dir / "volume.img";
  std::vector<std::unique_ptr<SourceRecord>> sources;
  sources.push_back(std::make_unique<SourceRecord>(PlainVolume(disk->SectorCount(), kFsNtfs, u"NTFS")));
  double scan = 0, save = 0, load = 0;
  std::size_t items = 0;
  for (auto _ : state) {
    FoundItemStore store;
    HeadlessHost host(&store, nullptr);
    host.SetRecoveryMode(kModeQuick);
    std::shared_ptr<ScanSession> session = std::make_shared<ScanSession>();
    const auto engines = MakeProgramEngines();
    auto t = Clock::now();
    ScanWorker worker(ScanJob{.host = host,
                              .session = session,
                              .selection = {.source = sources.front().get(), .disk = disk},
                              .mode = kModeQuick,
                              .advanceChoice = 0,
                              .resetScanState = {},
                              .resumeSavedScan = {}},
                      *engines);
    worker.Run();
    scan = Seconds(t);
    items = store.Count();

    ScanSaveRequest request;
    request.engineKind = EngineKind::Ntfs;
    request.engine = session->Engine();
    request.sources = &sources;
    request.selected = sources.front().get();
    request.items = SavedScanItemsOf(store);
    request.image = image;
    t = Clock::now();
    if (!SaveVolumeScan(file, request)) state.SkipWithError("save failed");
    save = Seconds(t);

    FoundItemStore resumedStore;
    HeadlessHost resumedHost(&resumedStore, nullptr);
    ScanLoadRequest load_request{.host = resumedHost,
                                 .mount = [&](const fs::path&, std::uint8_t) -> std::shared_ptr<SectorSource> {
                                   return disk;
                                 }};
    t = Clock::now();
    const ScanLoadResult loaded = LoadVolumeScan(file, load_request);
    load = Seconds(t);
    if (!loaded.ok || resumedStore.Count() != store.Count()) state.SkipWithError("resume failed");
  }
  state.counters["items"] = static_cast<double>(items);
  state.counters["scan_s"] = scan;
  state.counters["save_s"] = save;
  state.counters["load_s"] = load;
  state.counters["save_ratio"] = scan > 0 ? save / scan : 0;
  state.counters["load_ratio"] = scan > 0 ? load / scan : 0;
  fs::remove_all(dir);
}
BENCHMARK(VolumeScan)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
