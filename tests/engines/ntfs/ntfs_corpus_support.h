#pragma once
// What the corpus tests of the NTFS engine share: a Quick, Deleted or
// Advance Recovery run over a volume of the mounted disk, with its items by
// path.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/CORVANApp.h"
#include "engines/ntfs/NtfsEngine.h"
#include "platform/TextConv.h"
#include "support/CorpusTruth.h"
#include "support/Md5.h"
#include "support/RecordingSinks.h"
#include "support/TestSupport.h"

namespace corvan::test {

enum class NtfsPass { Quick, Deleted, Advance };

// One pass over the volume at `firstSector` of `disk`.
class PassRun {
 public:
  PassRun(std::shared_ptr<SectorSource> disk, std::uint64_t firstSector, std::uint64_t sectorCount,
          NtfsPass pass = NtfsPass::Quick)
      : app_(dir_ / "settings.ini", dir_.path()), engine_(app_) {
    engine_.SetSinks(&items, &progress);
    NtfsVolumeBinding b;
    b.firstSector = firstSector;
    b.sectorCount = sectorCount;
    b.endSector = firstSector + sectorCount;
    b.partitionType = 7;
    b.disk = std::move(disk);
    engine_.Prepare(b);
    scanned = pass == NtfsPass::Advance ? engine_.DeepScan() : engine_.ScanVolume(pass == NtfsPass::Deleted);
    for (std::size_t i = 0; i < items.items.size(); ++i)
      if (auto p = items.PathOf(i, NtfsEngine::kRootRecord)) byPath.emplace(Utf16ToUtf8(*p), i);
  }

  const RecordedItem* ByPath(const std::string& path) const {
    const auto it = byPath.find(path);
    return it == byPath.end() ? nullptr : &items.items[it->second];
  }

  // The item's data through the run walker, as an MD5.
  std::string Md5Of(const FoundItemInfo& item, std::set<DataBlockKind>* kinds, WalkResult* result) {
    Md5 md5;
    *result = engine_.ReadFoundItem(item, [&](const DataBlock& b) {
      md5.Update(b.bytes);
      if (kinds) kinds->insert(b.kind);
      return true;
    });
    return md5.HexDigest();
  }

  NtfsEngine& Engine() { return engine_; }
  CORVANApp& App() { return app_; }

  RecordingFoundItemSink items;
  RecordingProgressSink progress;
  std::map<std::string, std::size_t> byPath;
  bool scanned = false;

 private:
  TempDir dir_;
  CORVANApp app_;
  NtfsEngine engine_;
};
using QuickRun = PassRun;

// The deleted files whose data The Sleuth Kit's icat still reads whole from
// the corpus volume, with their MD5s (tests/data, made by
// tests/tools/make-deleted-md5-list).
inline std::map<std::string, std::string> DeletedFilesIcatReads() {
  std::map<std::string, std::string> out;
  std::ifstream in(std::filesystem::path(CORVAN_SOURCE_TESTS) / "data" / "ntfs.deleted-icat.tsv");
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos) out.emplace(line.substr(0, tab), line.substr(tab + 1));
  }
  return out;
}

}  // namespace corvan::test
