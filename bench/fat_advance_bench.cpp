// Advance Recovery over a FAT32 volume image (the folder search through
// every cluster, the orphan passes, the tree), timed in the same run as
// `cat IMAGE` into /dev/null: the floor of a pass that must read every
// cluster. The image: $CORVAN_BENCH_FAT32 (bench/make_bench_volumes.py, or
// make_corpus.py --set bench), else the corpus fat32.img ($CORVAN_CORPUS_DIR
// or build/corpus).
// Counters: "items" posted, "advance_s" and "cat_s" (best of the runs),
// "ratio" = advance_s / cat_s and "reads_of_image": the bytes the pass read
// over the image's size. The label carries a digest of every item posted,
// to show two builds found the same.

#include <cstdlib>
#include <memory>

#include "BenchSupport.h"
#include "app/CORVANApp.h"
#include "engines/fat/FatEngine.h"
#include "sources/FatBootSector.h"
#include "sources/Volume.h"

namespace {

namespace fs = std::filesystem;
using corvan::bench::Clock;

fs::path VolumeImage() { return corvan::bench::BenchImage("CORVAN_BENCH_FAT32", "fat32.img"); }

// The whole image as one FAT32 volume of the partition tables.
corvan::Volume WholeVolume(std::shared_ptr<corvan::SectorSource> disk) {
  corvan::SourceRecord source;
  source.kind = corvan::kSourceVolume;
  source.partition = std::make_unique<corvan::PartitionRecord>();
  corvan::PartitionRecord& p = *source.partition;
  p.sectorCount = disk->SectorCount();
  p.endSector = p.sectorCount - 1;
  p.diskNumber = corvan::kNoDiskNumber;
  p.fileSystemKind = corvan::kFsFat32;
  p.fileSystemText = u"FAT32";
  std::uint8_t boot[512];
  corvan::FatBootInfo info{};
  if (disk->ReadSectors(0, boot, sizeof boot) && corvan::ParseFatBootSector(info, boot)) {
    p.fatSize = info.fatSize;
    p.reservedSectors = info.reservedSectors;
    p.rootDirSectors = info.rootDirSectors;
    p.sectorsPerCluster = info.sectorsPerCluster;
    p.rootCluster = info.rootCluster;
  }
  return corvan::MakeVolume(source, std::move(disk), false);
}

void BM_Fat32Advance(benchmark::State& state) {
  const fs::path image = VolumeImage();
  auto disk = std::make_shared<corvan::bench::ImageFile>(image);
  if (!disk->ok()) {
    state.SkipWithError(("cannot open " + image.string()).c_str());
    return;
  }
  const fs::path home = fs::temp_directory_path() / "corvan-fat-bench";
  fs::create_directories(home);
  corvan::CORVANApp app(home / "settings.ini", home);

  double best = 1e300;
  std::uint32_t items = 0;
  std::string digest;
  double readsOfImage = 0;
  for (auto _ : state) {
    disk->bytesRead = 0;
    corvan::bench::DigestSink sink;
    corvan::NullProgressSink progress;
    corvan::FatEngine engine(app);
    engine.AttachWindows(&sink, &progress);
    const auto start = Clock::now();
    engine.Prepare(WholeVolume(disk));
    if (engine.DeepScan(0) != corvan::FatScanResult::Completed) {
      state.SkipWithError("not a usable FAT volume");
      return;
    }
    best = std::min(best, corvan::bench::SecondsSince(start));
    items = sink.count;
    digest = sink.DigestText();
    readsOfImage = static_cast<double>(disk->bytesRead) / static_cast<double>(fs::file_size(image));
  }
  const double cat = corvan::bench::BestOfThree(
      [&] { return corvan::bench::TimeTool({"sh", "-c", "cat \"$0\" >/dev/null", image.string()}); });
  state.counters["items"] = items;
  state.counters["advance_s"] = best;
  state.counters["reads_of_image"] = readsOfImage;
  state.SetLabel("digest " + digest);
  if (cat > 0) {
    state.counters["cat_s"] = cat;
    state.counters["ratio"] = best / cat;
  }
}
BENCHMARK(BM_Fat32Advance)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
