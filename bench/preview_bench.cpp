// Previews of large found files on a FAT32 volume (4 KiB clusters) of a flat
// VMDK disk: the time from the click (the preview area asked to show the
// file) to the first hex page of a 1 GiB file (target < 200 ms), and to the
// first drawn picture of a JPEG just under the image pane's 20 MiB limit
// (target < 500 ms). Beside them, as the reference: reading the same bytes
// straight from the disk file (the first 64 KiB window; the whole JPEG).
//
// The disk is made once by mkfs.fat and mcopy (the JPEG by ImageMagick) in
// /tmp/corvan-preview-bench and kept for later runs.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchMain.h"

#ifdef CORVAN_BENCH_GUI
#include <QApplication>
#include <QElapsedTimer>

#include "app/CORVANApp.h"
#include "app/Jobs.h"
#include "app/SourceSetup.h"
#include "console/FoundItemStore.h"
#include "core/RecoveryMode.h"
#include "platform/TextConv.h"
#include "preview/ui/CPreviewArea.h"
#include "scan/ProgramEngines.h"
#include "scan/ScanWorker.h"
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kBigFile = 1ull << 30;
constexpr std::uint64_t kVolumeStart = 2048;
constexpr std::uint64_t kVolumeSectors = 2400000;  // about 1.15 GiB

bool Sh(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// The disk, made on first use; empty when the tools are missing.
fs::path BenchDisk(std::string& why) {
  const fs::path dir = "/tmp/corvan-preview-bench";
  const fs::path flat = dir / "bench-flat.vmdk", vmdk = dir / "bench.vmdk";
  if (fs::exists(dir / "done")) return vmdk;
  fs::remove_all(dir);
  fs::create_directories(dir);
  // A JPEG of noise as large as fits under the limit.
  if (!Sh("convert -size 6000x4000 xc:gray +noise Random -define jpeg:extent=19800KB '" + (dir / "photo.jpg").string() + "'")) {
    why = "ImageMagick's convert is missing: run scripts/setup-deps";
    return {};
  }
  {
    std::ofstream big(dir / "big.bin", std::ios::binary);
    std::vector<char> block(1 << 20);
    for (std::uint64_t i = 0; i < kBigFile / block.size(); ++i) {
      for (std::size_t k = 0; k < block.size(); k += 4096) block[k] = static_cast<char>(i + k);
      big.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
  }
  {
    std::ofstream(flat, std::ios::binary | std::ios::trunc);
    fs::resize_file(flat, (kVolumeStart + kVolumeSectors + 2048) * 512);
  }
  std::uint8_t mbr[512] = {};
  std::uint8_t* e = mbr + 446;
  e[4] = 0x0C;
  for (int i = 0; i < 4; ++i) {
    e[8 + i] = static_cast<std::uint8_t>(kVolumeStart >> (8 * i));
    e[12 + i] = static_cast<std::uint8_t>(kVolumeSectors >> (8 * i));
  }
  mbr[510] = 0x55;
  mbr[511] = 0xAA;
  {
    std::fstream disk(flat, std::ios::binary | std::ios::in | std::ios::out);
    disk.write(reinterpret_cast<const char*>(mbr), sizeof mbr);
  }
  const std::string image = "'" + flat.string() + "@@" + std::to_string(kVolumeStart * 512) + "'";
  if (!Sh("/sbin/mkfs.fat -F 32 -s 8 -S 512 --offset " + std::to_string(kVolumeStart) + " '" + flat.string() + "' " +
          std::to_string(kVolumeSectors / 2)) ||
      !Sh("MTOOLS_SKIP_CHECK=1 mcopy -i " + image + " '" + (dir / "photo.jpg").string() + "' ::photo.jpg") ||
      !Sh("MTOOLS_SKIP_CHECK=1 mcopy -i " + image + " '" + (dir / "big.bin").string() + "' ::big.bin")) {
    why = "mkfs.fat or mcopy failed (scripts/setup-deps installs them)";
    return {};
  }
  fs::remove(dir / "big.bin");
  std::ofstream(vmdk) << "# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\n"
                         "createType=\"monolithicFlat\"\n\n# Extent description\nRW "
                      << kVolumeStart + kVolumeSectors + 2048 << " FLAT \"bench-flat.vmdk\" 0\n";
  std::ofstream(dir / "done") << "made\n";
  return vmdk;
}

// Reading `bytes` straight from the disk file at the volume's first data.
double RawReadSeconds(const fs::path& flat, std::uint64_t bytes) {
  const int fd = ::open(flat.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  std::vector<char> buffer(bytes);
  const auto start = Clock::now();
  const ssize_t got = ::pread(fd, buffer.data(), buffer.size(), static_cast<off_t>(kVolumeStart * 512 + (64u << 20)));
  const double s = std::chrono::duration<double>(Clock::now() - start).count();
  ::close(fd);
  return got < 0 ? -1 : s;
}

#ifdef CORVAN_BENCH_GUI
void BM_PreviewFirstView(benchmark::State& state) {
  std::string why;
  const fs::path disk = BenchDisk(why);
  if (disk.empty()) {
    state.SkipWithError(why.c_str());
    return;
  }
  corvan::CORVANApp& app = corvan::App();
  app.m_nRecoveryMode = corvan::kModeQuick;
  const corvan::MountOutcome mounted = corvan::MountAndListSources(app, corvan::ImageTypeForPath(disk), disk);
  if (!mounted.mounted || !corvan::SelectSource(app, 1)) {
    state.SkipWithError("the bench disk does not mount");
    return;
  }
  corvan::FoundItemStore store;
  app.m_pConsole = &store;
  auto engines = corvan::MakeProgramEngines();
  corvan::ScanWorker worker(corvan::MakeScanJob(app, corvan::CurrentSelection(app)), *engines);
  worker.Run();
  app.m_pConsole = nullptr;
  corvan::FoundItemInfo big, photo;
  for (corvan::FoundItemHandle h = 1; h < store.Count(); ++h) {
    const corvan::StoredItem item = store.Item(h);
    if (item.name == u"big.bin") big = item.record;
    if (item.name == u"photo.jpg") photo = item.record;
  }
  if (big.size != kBigFile || photo.size == 0 || photo.size >= corvan::kImageSizeLimit || !app.m_pScanSession->Engine()) {
    state.SkipWithError("the bench files were not found");
    return;
  }
  corvan::CPreviewArea area;
  area.resize(628, 250);
  area.show();
  const auto timeShow = [&](const corvan::FoundItemInfo& item, const char16_t* name) {
    area.Clear();
    QApplication::processEvents();
    QElapsedTimer t;
    t.start();
    area.ShowItem(app.m_pScanSession->Engine(), item, name);
    while (!area.Ready() && t.elapsed() < 60000) QApplication::processEvents(QEventLoop::AllEvents, 1);
    return t.nsecsElapsed() / 1e6;
  };
  double hexMs = 1e300, imageMs = 1e300;
  for (auto _ : state) {
    const double h = timeShow(big, u"big.bin");
    const double i = timeShow(photo, u"photo.jpg");
    if (area.Shown() != corvan::PreviewPane::Image) {
      state.SkipWithError("the JPEG did not show as a picture");
      return;
    }
    hexMs = std::min(hexMs, h);
    imageMs = std::min(imageMs, i);
    state.SetIterationTime((h + i) / 1000);
  }
  const fs::path flat = disk.parent_path() / "bench-flat.vmdk";
  state.counters["hex_first_page_ms"] = hexMs;
  state.counters["jpeg_first_image_ms"] = imageMs;
  state.counters["jpeg_bytes"] = static_cast<double>(photo.size);
  state.counters["raw_window_ms"] = RawReadSeconds(flat, 64 * 1024) * 1000;
  state.counters["raw_jpeg_read_ms"] = RawReadSeconds(flat, photo.size) * 1000;
  state.SetLabel(std::string(hexMs < 200 ? "hex within 200 ms" : "hex OVER 200 ms") + ", " +
                 (imageMs < 500 ? "image within 500 ms" : "image OVER 500 ms"));
  app.FreeSourcesAndEngines();
}
BENCHMARK(BM_PreviewFirstView)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) { return corvan::bench::RunBenchmarks(argc, argv); }
