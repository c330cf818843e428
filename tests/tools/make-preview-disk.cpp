// Lays the files of make-preview-samples on a disk of three volumes, as a
// flat VMDK (descriptor and extent) with an MBR: FAT32 (formatted by
// mkfs.fat, filled by mcopy, the deleted copies removed by mdel), NTFS
// (mkntfs and ntfscp; live files only: nothing deletes on NTFS without
// mounting it) and exFAT (written by the exFAT test builder from the
// format's published definition, some files in fragments linked in the FAT).
//
//   make-preview-disk SAMPLES OUTDIR
//
// OUTDIR/preview.vmdk is the disk; OUTDIR/disk.tsv lists every file laid
// down: volume (source-record index), file system, path, state (live or
// deleted) and the sample's name in SAMPLES/preview.tsv.
//
// Exit status: 0 done, 1 a step failed, 77 a tool is missing.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engines/exfat/ExFatImageBuilder.h"
#include "support/RawSamples.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kFatStart = 2048, kFatSectors = 81920;     // 40 MiB
constexpr std::uint64_t kNtfsStart = kFatStart + kFatSectors, kNtfsSectors = 32768;  // 16 MiB
constexpr std::uint64_t kExFatStart = kNtfsStart + kNtfsSectors, kExFatSectors = 16384;  // 8 MiB
constexpr std::uint64_t kDiskSectors = kExFatStart + kExFatSectors + 2048;

using corvan::rawtest::FindTool;
using corvan::rawtest::MakeZeroFile;
using corvan::rawtest::Quote;
using corvan::rawtest::RunShell;

bool Sh(const std::string& command) { return RunShell(command + " >/dev/null 2>&1") == 0; }

std::vector<std::uint8_t> ReadFile(const fs::path& p) {
  const std::string bytes = corvan::test::ReadWholeFile(p);
  return {bytes.begin(), bytes.end()};
}

// Writes `volume` into `disk` at `sector`.
bool Place(const fs::path& volume, const fs::path& disk, std::uint64_t sector) {
  const std::vector<std::uint8_t> bytes = ReadFile(volume);
  if (bytes.empty()) return false;
  corvan::rawtest::WriteAt(disk, sector * 512, bytes.data(), bytes.size());
  return fs::file_size(disk) >= sector * 512 + bytes.size();
}

struct Laid {
  int volume;
  const char* fs;
  std::string path, state, sample;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make-preview-disk SAMPLES OUTDIR\n");
    return 2;
  }
  const fs::path samples = argv[1];
  const fs::path out = argv[2];
  for (const char* t : {"mkfs.fat", "mcopy", "mmd", "mdel", "mkntfs", "ntfscp"}) {
    if (FindTool(t).empty()) {
      std::fprintf(stderr, "make-preview-disk: %s is missing (scripts/setup-deps installs it)\n", t);
      return 77;
    }
  }
  std::vector<std::string> names;
  {
    std::ifstream manifest(samples / "preview.tsv");
    for (std::string line; std::getline(manifest, line);)
      if (!line.empty()) names.push_back(line.substr(0, line.find('\t')));
  }
  if (names.empty()) {
    std::fprintf(stderr, "make-preview-disk: no samples in %s\n", samples.c_str());
    return 1;
  }
  fs::create_directories(out);
  std::vector<Laid> laid;
  const std::string mtools = "MTOOLS_SKIP_CHECK=1 ";

  // FAT32: every sample under /live, and a copy under /gone that is deleted.
  const fs::path fat = out / "fat32.img";
  fs::remove(fat);
  if (!Sh(FindTool("mkfs.fat") + " -C -F 32 -S 512 -s 1 -n PREVIEW " + Quote(fat) + " " + std::to_string(kFatSectors / 2)) ||
      !Sh(mtools + "mmd -i " + Quote(fat) + " ::live ::gone")) {
    std::fprintf(stderr, "make-preview-disk: the FAT32 volume could not be made\n");
    return 1;
  }
  for (const std::string& n : names) {
    const fs::path file = samples / n;
    if (!Sh(mtools + "mcopy -i " + Quote(fat) + " " + Quote(file) + " ::live/" + n) ||
        !Sh(mtools + "mcopy -i " + Quote(fat) + " " + Quote(file) + " ::gone/" + n)) {
      std::fprintf(stderr, "make-preview-disk: %s could not be copied to FAT32\n", n.c_str());
      return 1;
    }
    laid.push_back({1, "fat32", "live/" + n, "live", n});
    laid.push_back({1, "fat32", "gone/" + n, "deleted", n});
  }
  if (!Sh(mtools + "mdel -i " + Quote(fat) + " '::gone/*'")) {
    std::fprintf(stderr, "make-preview-disk: the FAT32 copies could not be deleted\n");
    return 1;
  }

  // NTFS: every sample in the root.
  const fs::path ntfs = out / "ntfs.img";
  MakeZeroFile(ntfs, kNtfsSectors * 512);
  if (!Sh(FindTool("mkntfs") + " -F -Q -q -s 512 -c 4096 -p " + std::to_string(kNtfsStart) + " -L PREVIEW " + Quote(ntfs))) {
    std::fprintf(stderr, "make-preview-disk: the NTFS volume could not be made\n");
    return 1;
  }
  for (const std::string& n : names) {
    if (!Sh(FindTool("ntfscp") + " -f " + Quote(ntfs) + " " + Quote(samples / n) + " " + n)) {
      std::fprintf(stderr, "make-preview-disk: %s could not be copied to NTFS\n", n.c_str());
      return 1;
    }
    laid.push_back({2, "ntfs", n, "live", n});
  }

  // exFAT: /live (every other file in fragments linked in the FAT) and a
  // deleted copy of each under /gone.
  using corvan::exfattest::ExFatImageBuilder;
  using corvan::exfattest::Layout;
  ExFatImageBuilder ex = ExFatImageBuilder::Format(kExFatSectors, 8);
  const auto live = ex.AddFolder(ex.Root(), u"live", false, 2);
  const auto gone = ex.AddFolder(ex.Root(), u"gone", false, 2);
  // Deleted last, so no later file takes their clusters.
  std::vector<corvan::exfattest::SetRef> deleted;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string& n = names[i];
    const std::vector<std::uint8_t> data = ReadFile(samples / n);
    const std::u16string wide(n.begin(), n.end());
    ex.AddFile(live.firstCluster, wide, data, i % 2 ? Layout::Fragmented : Layout::Contiguous);
    deleted.push_back(ex.AddFile(gone.firstCluster, wide, data, Layout::Contiguous));
    laid.push_back({3, "exfat", "live/" + n, "live", n});
    laid.push_back({3, "exfat", "gone/" + n, "deleted", n});
  }
  for (const auto& ref : deleted) ex.Delete(ref);
  const fs::path exfat = out / "exfat.img";
  {
    std::ofstream f(exfat, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(ex.Bytes().data()), static_cast<std::streamsize>(ex.Bytes().size()));
  }

  // The disk: an MBR of the three, then the volumes.
  const fs::path extent = out / "preview-flat.vmdk";
  MakeZeroFile(extent, kDiskSectors * 512);
  corvan::rawtest::WriteMbr(extent, {{0x0C, static_cast<std::uint32_t>(kFatStart), static_cast<std::uint32_t>(kFatSectors)},
                                     {0x07, static_cast<std::uint32_t>(kNtfsStart), static_cast<std::uint32_t>(kNtfsSectors)},
                                     {0x07, static_cast<std::uint32_t>(kExFatStart), static_cast<std::uint32_t>(kExFatSectors)}});
  if (!Place(fat, extent, kFatStart) || !Place(ntfs, extent, kNtfsStart) || !Place(exfat, extent, kExFatStart)) {
    std::fprintf(stderr, "make-preview-disk: the disk could not be written\n");
    return 1;
  }
  for (const fs::path& v : {fat, ntfs, exfat}) fs::remove(v);
  corvan::rawtest::WriteFlatVmdkDescriptor(out / "preview.vmdk", "preview-flat.vmdk", kDiskSectors);
  std::ofstream list(out / "disk.tsv");
  for (const Laid& l : laid) list << l.volume << '\t' << l.fs << '\t' << l.path << '\t' << l.state << '\t' << l.sample << '\n';
  return 0;
}
