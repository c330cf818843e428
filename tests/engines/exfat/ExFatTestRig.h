#pragma once
// What every exFAT engine test sets up: the per-user folders in a temporary
// folder (the work files go there), an application object whose message box
// records what it was asked, recording sinks, a disk mounted from bytes or a
// file, and an engine prepared for one volume of it.

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/CORVANApp.h"
#include "engines/exfat/ExFatEngine.h"
#include "sources/Volume.h"
#include "platform/TextConv.h"
#include "sources/SectorSource.h"
#include "sources/SourceRecords.h"
#include "support/RecordingSinks.h"
#include "support/TestSupport.h"

namespace corvan::exfattest {

// Distinct bytes for a file's data: `step` apart from `seed` on, so a read
// from the wrong place shows.
inline std::vector<std::uint8_t> PatternBytes(std::size_t n, std::uint8_t seed, std::uint8_t step) {
  std::vector<std::uint8_t> v(n);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::uint8_t>(seed + i * step);
  return v;
}

// A tool of exfatprogs, or empty when it is not installed.
inline std::string ExFatTool(const char* name) { return test::FindTool(name); }

// Whether fsck.exfat finds the volume in `image` clean; `report` gets what
// it said. (With -n it answers every question with no and may still end
// with status 0, so its words are checked too.)
inline bool FsckClean(const std::string& fsck, const std::filesystem::path& image, std::string& report) {
  const std::filesystem::path out = image.string() + ".fsck";
  const std::string command = fsck + " -n " + image.string() + " >" + out.string() + " 2>&1";
  const int status = std::system(command.c_str());
  report = test::ReadWholeFile(out);
  return status == 0 && report.find("ERROR") == std::string::npos && report.find(": clean.") != std::string::npos;
}

// Whether fsck.exfat finds the volume `bytes` clean; true when it is not
// installed.
inline bool FsckCleanOrAbsent(const std::vector<std::uint8_t>& bytes, std::string& report) {
  const std::string fsck = ExFatTool("fsck.exfat");
  if (fsck.empty()) return true;
  test::TempDir dir;
  const auto path = dir / "volume.img";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return FsckClean(fsck, path, report);
}

class ExFatRig {
  // First, so the folders outlive everything that writes into them.
  test::TempDir dir_;
  test::UserFolders folders_;

 public:
  ExFatRig() : folders_(dir_.path()) {
    app = std::make_unique<CORVANApp>(dir_ / "settings.ini", dir_.path());
    app->m_pPrompt = &prompt;
  }
  ~ExFatRig() { engine.reset(); }

  // Mounts `disk` and prepares a fresh engine for the volume at `start`.
  ExFatEngine& Mount(std::vector<std::uint8_t> disk, std::uint64_t start = 0, std::uint64_t sectors = 0) {
    const std::uint64_t count = sectors ? sectors : disk.size() / 512 - start;
    this->disk = std::make_shared<MemorySectorSource>(std::move(disk));
    return Prepare(start, count);
  }

  ExFatEngine& Prepare(std::uint64_t start, std::uint64_t sectors, std::uint8_t kind = kSourceVolume) {
    source = SourceRecord{};
    source.kind = kind;
    source.partition = std::make_unique<PartitionRecord>();
    source.partition->startSector = start;
    source.partition->sectorCount = sectors;
    source.partition->endSector = start + sectors;
    source.partition->fileSystemKind = kFsExFat;
    source.partition->diskNumber = kImageDriveNumber;
    engine.reset();
    items = test::RecordingFoundItemSink{};
    progress = test::RecordingProgressSink{};
    engine = std::make_unique<ExFatEngine>(*app);
    engine->AttachWindows(&items, &progress);
    engine->Prepare(MakeVolume(source, disk, false));
    return *engine;
  }

  // Index of the item at `path` ("a/b"), or -1.
  long Find(const std::string& path) const {
    for (std::size_t i = 0; i < items.items.size(); ++i)
      if (auto p = items.PathOf(i, kFatRootId); p && Utf16ToUtf8(*p) == path) return static_cast<long>(i);
    return -1;
  }

  std::vector<std::uint8_t> Data(const FoundItemInfo& item, WalkResult* result = nullptr) {
    std::vector<std::uint8_t> out;
    const WalkResult r = engine->ReadFoundItem(item, [&](const DataBlock& b) {
      out.insert(out.end(), b.bytes.begin(), b.bytes.end());
      return true;
    });
    if (result) *result = r;
    return out;
  }

  const std::filesystem::path& Dir() const { return dir_.path(); }

  std::unique_ptr<CORVANApp> app;
  test::RecordingPrompt prompt;
  test::RecordingFoundItemSink items;
  test::RecordingProgressSink progress;
  SourceRecord source;
  std::shared_ptr<SectorSource> disk;  // what the engines read
  std::unique_ptr<ExFatEngine> engine;
};

}  // namespace corvan::exfattest
