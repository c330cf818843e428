// Any bytes as a FAT volume: the boot-sector checks, Quick Recovery with its
// FAT choice, folder walks, lost folders and folder search, the data of every
// item it lists, and the directory-entry decoder and validator on every
// 32-byte slot of the input.
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/HeadlessHost.h"
#include "console/FoundItemStore.h"
#include "engines/fat/FatEngine.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"
#include "sources/SourceRecords.h"
#include "sources/Volume.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvan;
  if (size < kSectorSize || size > (1u << 20)) return 0;

  // The boot-sector checks on the first sector.
  FatBootInfo info;
  ParseFatBootSector(info, data);
  FatLayout layout;
  layout.kind = info.kind;
  layout.sectorsPerCluster = info.sectorsPerCluster;
  layout.reservedSectors = info.reservedSectors;
  layout.rootDirSectors = info.rootDirSectors;
  layout.fatSize = info.fatSize;
  layout.rootCluster = info.rootCluster;
  layout.sectorCount = size / kSectorSize;
  const bool sound = IsFatLayoutSound(layout);
  (void)IsBootGeometrySuspect(layout);
  if (sound && layout.DataStart() >= layout.sectorCount) __builtin_trap();

  // The input as a whole volume.
  std::vector<std::uint8_t> bytes(data, data + size);
  bytes.resize((size + kSectorSize - 1) / kSectorSize * kSectorSize, 0);
  const std::uint64_t sectors = bytes.size() / kSectorSize;
  auto disk = std::make_shared<MemorySectorSource>(bytes);

  FoundItemStore store;

  HeadlessHost host(&store, nullptr);
  SourceRecord source;
  source.kind = kSourceVolume;
  source.partition = std::make_unique<PartitionRecord>();
  source.partition->sectorCount = sectors;
  source.partition->endSector = sectors - 1;
  source.partition->fileSystemKind = info.kind;
  {
    FatEngine engine(host);
    engine.Prepare(MakeVolume(source, disk, false));
    engine.ScanVolume(0);

    for (std::size_t i = 1; i < store.Count(); ++i) {
      const StoredItem item = store.Item(static_cast<FoundItemHandle>(i));
      engine.WalkItemData(item.record, [](const DataBlock& block) { return block.bytes.size() <= kMaxDataBlock; });
    }

    std::uint32_t highest = engine.HighestCluster();
    if (highest == 0) {
      // No usable layout: decode against a plain one-sector-a-cluster layout.
      FatSavedScan plain = engine.SavedScan();
      plain.layout.sectorsPerCluster = 1;
      plain.layout.reservedSectors = 1;
      plain.layout.fatSize = 1;
      plain.layout.rootDirSectors = 0;
      engine.RestoreSavedScan(plain, MakeVolume(source, disk, false));
      highest = static_cast<std::uint32_t>(sectors);
    }
    // Every slot of the input through the decoder and the validator, with
    // and without a previous cluster and as entries of a deleted folder.
    for (std::uint32_t at = 0; at + 32 <= bytes.size(); at += 32) {
      FoundItemInfo record;
      record.flags = (at & 64) ? kItemDeleted : 0;
      std::u16string name;
      engine.DecodeDirEntry(at, name, bytes, record, (at & 32) ? 2 : kNoCluster, at & 0xFFFF, (at & 128) != 0);
      if (name.size() > 255) __builtin_trap();
      std::uint32_t found = 0;
      engine.ValidateDirEntry(bytes.data() + at, highest, &found);
    }
    engine.FreeLists();
  }
  return 0;
}
