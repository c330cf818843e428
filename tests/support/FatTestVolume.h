#pragma once
// What the FAT engine tests share: an application object with recording
// sinks, FAT volumes mounted from the corpus or built in memory, and the
// corpus truth files.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/CORVANApp.h"
#include "core/ProgressSink.h"
#include "core/Prompt.h"
#include "console/FoundItemStore.h"
#include "engines/fat/FatEngine.h"
#include "platform/TextConv.h"
#include "sources/SectorSource.h"
#include "sources/Volume.h"
#include "sources/SourceRecords.h"
#include "support/CorpusTruth.h"
#include "support/FileSectorSource.h"
#include "support/Md5.h"
#include "support/RecordingSinks.h"
#include "support/TestSupport.h"

namespace corvan::fattest {

// The message box: remembers each text and picture and answers OK.
class PromptRecorder final : public Prompt {
 public:
  int MessageBox(const std::string& text, unsigned picture, unsigned) override {
    shown.push_back({text, picture});
    return kIdOk;
  }
  std::vector<std::pair<std::string, unsigned>> shown;
};

using test::ReadTruth;
using test::TruthRow;

inline std::vector<std::uint8_t> ReadImage(const std::filesystem::path& file) {
  const std::string bytes = test::ReadWholeFile(file);
  return {bytes.begin(), bytes.end()};
}

// A volume record as the source list makes it for a partition-table volume.
inline SourceRecord VolumeSource(std::uint64_t start, std::uint64_t sectors, std::uint8_t fsKind,
                                 std::uint8_t kind = kSourceVolume) {
  SourceRecord source;
  source.kind = kind;
  source.partition = std::make_unique<PartitionRecord>();
  source.partition->startSector = start;
  source.partition->sectorCount = sectors;
  source.partition->endSector = start + sectors - 1;
  source.partition->fileSystemKind = fsKind;
  source.partition->diskNumber = kNoDiskNumber;  // not a diskette drive
  return source;
}

// "YYYY-MM-DD HH:MM:SS" of a record's time field (DOS time word in the low
// half, date word in the high half).
inline std::string DosStampText(std::uint64_t stamp) {
  const auto time = static_cast<std::uint32_t>(stamp);
  const auto date = static_cast<std::uint32_t>(stamp >> 32);
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (date >> 9), (date >> 5) & 15,
                date & 31, time >> 11, (time >> 5) & 63, (time & 31) * 2);
  return text;
}

class Harness {
 public:
  Harness() {
    app.m_pPrompt = &prompt;
    app.m_pConsole = &store;
    app.m_pScanProgressDlg = &progress;
  }
  void MountBytes(std::vector<std::uint8_t> bytes) {
    sectors = bytes.size() / kSectorSize;
    disk = std::make_shared<MemorySectorSource>(std::move(bytes));
  }
  void MountFile(const std::filesystem::path& file) {
    auto source = std::make_shared<test::FileSectorSource>(file);
    sectors = source->SectorCount();
    disk = source;
  }

  // A prepared engine over the whole mounted volume.
  std::unique_ptr<FatEngine> Engine(std::uint8_t fsKind, std::uint64_t start = 0) {
    auto engine = std::make_unique<FatEngine>(app);
    engine->Prepare(MakeVolume(VolumeSource(start, sectors - start, fsKind), disk, false));
    return engine;
  }

  // Every stored item (the root left out) by its path from the root.
  std::multimap<std::string, StoredItem> ItemsByPath() const {
    std::multimap<std::string, StoredItem> items;
    for (std::size_t h = 1; h < store.Count(); ++h) {
      const auto handle = static_cast<FoundItemHandle>(h);
      items.emplace(Utf16ToUtf8(store.PathOf(handle)), store.Item(handle));
    }
    return items;
  }

  test::TempDir dir;
  test::UserFolders folders{dir.path()};
  CORVANApp app{dir / "settings.ini", dir / "install"};
  FoundItemStore store;
  test::RecordingProgressSink progress;
  PromptRecorder prompt;
  std::uint64_t sectors = 0;
  std::shared_ptr<SectorSource> disk;
};

// MD5 of an item's data as the engine reads it; empty when a read failed.
inline std::string ItemMd5(const FatEngine& engine, const FoundItemInfo& item, bool* complete = nullptr) {
  test::Md5 md5;
  bool covered = false;
  const WalkResult result = engine.WalkItemData(
      item,
      [&](const DataBlock& block) {
        md5.Update(block.bytes);
        return true;
      },
      &covered);
  if (complete) *complete = covered && result.Clean() && result.bytes == item.size;
  return md5.HexDigest();
}

}  // namespace corvan::fattest
