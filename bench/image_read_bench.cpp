// Reading a whole virtual disk through its sector source in 1 MiB requests,
// for each container of the corpus, against plain pread of the same number
// of bytes of the raw disk (disks/mbr-mflat-flat.vmdk) in the same run.
// Counter "ratio": container speed / raw pread speed (1.0 = as fast as raw).
// The corpus folder: $CORVAN_CORPUS_DIR, else build/corpus of the checkout.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "sources/SectorSource.h"
#include "sources/VirtualDiskImage.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kRequest = 1u << 20;

fs::path CorpusDir() {
  if (const char* dir = std::getenv("CORVAN_CORPUS_DIR"); dir && *dir) return dir;
  return fs::path(__FILE__).parent_path().parent_path() / "build" / "corpus";
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Bytes read through the mounted disk.
double ReadMounted(corvan::SectorSource& disk, std::uint64_t bytes, std::vector<std::uint8_t>& buffer) {
  const auto start = Clock::now();
  for (std::uint64_t done = 0; done < bytes; done += kRequest) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kRequest, bytes - done));
    disk.ReadSectors(done / corvan::kSectorSize, buffer.data(), n);
    benchmark::DoNotOptimize(buffer.data());
  }
  return SecondsSince(start);
}

double ReadRaw(int fd, std::uint64_t bytes, std::vector<std::uint8_t>& buffer) {
  const auto start = Clock::now();
  for (std::uint64_t done = 0; done < bytes; done += kRequest) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(kRequest, bytes - done));
    if (::pread(fd, buffer.data(), n, static_cast<off_t>(done)) < 0) break;
    benchmark::DoNotOptimize(buffer.data());
  }
  return SecondsSince(start);
}

void ReadContainer(benchmark::State& state, const char* file, std::uint32_t type) {
  const fs::path raw = CorpusDir() / "disks" / "mbr-mflat-flat.vmdk";
  const auto mount = corvan::MountImageFile(type, CorpusDir() / "disks" / file);
  const int fd = ::open(raw.c_str(), O_RDONLY | O_CLOEXEC);
  if (!mount.mounted || fd < 0) {
    state.SkipWithError("corpus missing: unpack it or set CORVAN_CORPUS_DIR");
    if (fd >= 0) ::close(fd);
    return;
  }
  const std::uint64_t diskBytes = mount.image->SectorCount() * corvan::kSectorSize;
  const std::uint64_t rawBytes = std::min<std::uint64_t>(diskBytes, fs::file_size(raw));
  std::vector<std::uint8_t> buffer(kRequest);
  ReadMounted(*mount.image, diskBytes, buffer);  // both in page cache before timing
  ReadRaw(fd, rawBytes, buffer);

  double ratioSum = 0;
  for (auto _ : state) {
    const double image = ReadMounted(*mount.image, diskBytes, buffer);
    const double plain = ReadRaw(fd, rawBytes, buffer);
    state.SetIterationTime(image);
    ratioSum += (static_cast<double>(diskBytes) / image) / (static_cast<double>(rawBytes) / plain);
  }
  ::close(fd);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * diskBytes));
  state.counters["ratio"] = ratioSum / static_cast<double>(state.iterations());
}

void RegisterAll() {
  struct Container {
    const char* file;
    std::uint32_t type;
  };
  static const Container containers[] = {
      {"mbr.vmdk", corvan::kImageVmware},
      {"mbr-mflat.vmdk", corvan::kImageVmware},
      {"mbr-split-sparse/mbr.vmdk", corvan::kImageVmware},
      {"mbr.vdi", corvan::kImageVirtualBox},
      {"mbr-static.vdi", corvan::kImageVirtualBox},
      {"mbr.vhd", corvan::kImageVirtualPc},
      {"mbr-fixed.vhd", corvan::kImageVirtualPc},
      {"gpt.vmdk", corvan::kImageVmware},
      {"gpt.vhd", corvan::kImageVirtualPc},
      {"gpt.vdi", corvan::kImageVirtualBox},
  };
  for (const Container& c : containers) {
    benchmark::RegisterBenchmark((std::string("ReadWholeDisk/") + c.file).c_str(), ReadContainer, c.file, c.type)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
