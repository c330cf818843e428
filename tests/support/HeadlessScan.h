#pragma once
// A scan of one volume on a headless host, with everything it owns, and the
// corpus flat disk with its MBR zeroed: shared by the scan and search tests.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/FoundItemStore.h"
#include "core/HeadlessHost.h"
#include "platform/TextConv.h"
#include "scan/ProgramEngines.h"
#include "scan/ScanWorker.h"
#include "support/CorpusTruth.h"
#include "support/Md5.h"
#include "support/TestSupport.h"

namespace corvan::test {

struct VolumeScan {
  FoundItemStore store;
  HeadlessHost host{&store, nullptr};
  std::shared_ptr<ScanSession> session = std::make_shared<ScanSession>();
  std::string problem;

  // `mediaFirst` .. `mediaLast`: the sectors a search of a whole disk covers.
  void Run(const SourceRecord& source, std::shared_ptr<SectorSource> disk, std::uint32_t mode,
           std::uint8_t advanceChoice = 0, std::uint64_t mediaFirst = 0, std::uint64_t mediaLast = 0) {
    host.SetRecoveryMode(mode);
    ScanJob job{.host = host,
                .session = session,
                .selection = {.source = &source,
                              .disk = std::move(disk),
                              .mediaFirstSector = mediaFirst,
                              .mediaLastSector = mediaLast,
                              .quickVolumeSearch = false},
                .mode = mode,
                .advanceChoice = advanceChoice,
                .resetScanState = {},
                .resumeSavedScan = {}};
    const auto engines = MakeProgramEngines();
    ScanWorker worker(std::move(job), *engines);
    worker.Run();
    problem = worker.Problem();
  }
  ScanEngine* Engine() const { return session->Engine(); }
  std::string Md5Of(const FoundItemInfo& record) const {
    Md5 md5;
    Engine()->ReadItemData(record, [&](const DataBlock& block) {
      md5.Update(block.bytes);
      return true;
    });
    return md5.HexDigest();
  }
  // The bytes of a found file, as reading (and so saving) hands them out.
  std::string BytesOf(const FoundItemInfo& record) const {
    std::string bytes;
    Engine()->ReadItemData(record, [&](const DataBlock& block) {
      bytes.append(reinterpret_cast<const char*>(block.bytes.data()), block.bytes.size());
      return true;
    });
    return bytes;
  }
  // How many bytes of a found file reading (and so saving) hands out.
  std::uint64_t BytesReadOf(const FoundItemInfo& record) const {
    std::uint64_t bytes = 0;
    Engine()->ReadItemData(record, [&](const DataBlock& block) {
      bytes += block.bytes.size();
      return true;
    });
    return bytes;
  }
  // Where a volume's root files are listed: in its root, or, on a FAT volume
  // read without its FAT, in folders named "$Root" and the number of the
  // root cluster holding them (no "." entry tells those clusters' folder).
  enum class RootFiles { kInRoot, kInRootClusterFolders };

  // Every live file of the corpus truth `truthName` must be listed at its
  // path with its size and data. Returns how many were checked.
  int ExpectLiveFilesOf(const std::string& truthName, RootFiles root = RootFiles::kInRoot) const {
    std::map<std::string, FoundItemHandle> byPath;
    for (FoundItemHandle h = 1; h < store.Count(); ++h) {
      std::string path = Utf16ToUtf8(store.PathOf(h));
      const std::size_t slash = path.find('/');
      if (root == RootFiles::kInRootClusterFolders && path.starts_with("$Root") && slash != std::string::npos &&
          slash > 5 && path.find('/', slash + 1) == std::string::npos &&
          std::all_of(path.begin() + 5, path.begin() + static_cast<std::ptrdiff_t>(slash),
                      [](char c) { return c >= '0' && c <= '9'; }))
        path.erase(0, slash + 1);
      byPath.emplace(std::move(path), h);
    }
    int files = 0;
    for (const TruthRow& row : ReadTruth(CorpusDir() / (truthName + ".truth.tsv"))) {
      if (row.state != "live" || row.type != "file") continue;
      const auto it = byPath.find(row.path);
      if (it == byPath.end()) {
        ADD_FAILURE() << row.path << " is not listed";
        continue;
      }
      const StoredItem item = store.Item(it->second);
      EXPECT_EQ(item.record.size, row.size) << row.path;
      EXPECT_EQ(Md5Of(item.record), row.md5) << row.path;
      ++files;
    }
    return files;
  }
};

// A run of sectors: the first and how many.
struct SectorRun {
  std::uint64_t first = 0, count = 0;
};

// Copies the corpus flat MBR disk (descriptor and extent) into `dir` with
// the sector runs `zeroed` zeroed; returns the descriptor's path.
inline std::filesystem::path CopyFlatDisk(const std::filesystem::path& dir, const std::vector<SectorRun>& zeroed) {
  const std::filesystem::path disks = CorpusDir() / "disks";
  std::filesystem::copy_file(disks / "mbr-mflat.vmdk", dir / "mbr-mflat.vmdk");
  std::filesystem::copy_file(disks / "mbr-mflat-flat.vmdk", dir / "mbr-mflat-flat.vmdk");
  std::fstream flat(dir / "mbr-mflat-flat.vmdk", std::ios::binary | std::ios::in | std::ios::out);
  const std::string zeros(512, '\0');
  for (const SectorRun& run : zeroed) {
    flat.seekp(static_cast<std::streamoff>(run.first * 512));
    for (std::uint64_t k = 0; k < run.count; ++k) flat.write(zeros.data(), 512);
  }
  return dir / "mbr-mflat.vmdk";
}

// The same with its MBR zeroed too.
inline std::filesystem::path CopyFlatDiskWithoutMbr(const std::filesystem::path& dir,
                                                    std::vector<SectorRun> zeroed = {}) {
  zeroed.push_back({0, 1});
  return CopyFlatDisk(dir, zeroed);
}

}  // namespace corvan::test
