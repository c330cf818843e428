// Any bytes as an exFAT volume: the boot-sector geometry and its check, the
// entry-set parser and the directory-cluster test over every offset of the
// input, and, when the boot sector describes a volume no larger than the
// input, Quick and Advance Recovery with the data of every item they list.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include "core/HeadlessHost.h"
#include "console/FoundItemStore.h"
#include "engines/exfat/ExFatEngine.h"
#include "engines/exfat/ExFatFormat.h"
#include "sources/SectorSource.h"
#include "sources/SourceRecords.h"
#include "sources/Volume.h"

namespace {

// The engine's work files go to a folder of the fuzzer's own, removed when
// the run ends.
struct OwnCacheFolder {
  std::filesystem::path folder;
  OwnCacheFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "corvan-fuzz-exfat-XXXXXX").string();
    if (::mkdtemp(pattern.data())) folder = pattern;
    if (!folder.empty()) ::setenv("XDG_CACHE_HOME", folder.c_str(), 1);
  }
  ~OwnCacheFolder() {
    std::error_code ec;
    if (!folder.empty()) std::filesystem::remove_all(folder, ec);
  }
};

void UseOwnCacheFolder() { static OwnCacheFolder own; }

void CheckSets(std::span<const std::uint8_t> buffer, std::size_t start, std::size_t limit) {
  std::size_t end = 0;
  for (const auto& set : corvan::exfat::ScanDirectoryBuffer(buffer, start, limit, &end)) {
    if (set.name.size() > corvan::exfat::kMaxNameUnits) __builtin_trap();
    if (set.next <= set.offset) __builtin_trap();
    if (set.usable && set.name.empty()) __builtin_trap();
  }
  if (end < std::min(limit, buffer.size())) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvan;
  if (size < kSectorSize || size > (1u << 20)) return 0;
  const std::span<const std::uint8_t> input(data, size);

  // The boot check on the first sector.
  exfat::Geometry g;
  const bool parsed = exfat::DeriveGeometry(exfat::ReadBootFields(input.first<512>()), g);
  const bool usable = parsed && exfat::IsGeometryUsable(g);
  if (usable) {
    if (g.heapStart >= g.volumeLength) __builtin_trap();
    if (std::uint64_t{g.fatOffset} + g.fatLength > g.volumeLength) __builtin_trap();
    if (g.sectorsPerCluster == 0 || g.sectorsPerCluster > exfat::kMaxSectorsPerCluster) __builtin_trap();
  }

  // The parser over the whole input and over windows of it, and every
  // 32-byte slot as the start of a set.
  CheckSets(input, 0, size);
  CheckSets(input, size / 3, size / 2);
  for (std::uint32_t at = 0; at + exfat::kEntrySize <= size; at += exfat::kEntrySize) {
    const exfat::EntrySet set = exfat::ParseEntrySet(input, at);
    if (set.name.size() > exfat::kMaxNameUnits) __builtin_trap();
  }
  for (std::size_t at = 0; at < size; at += 4096) (void)exfat::IsDirectoryCluster(input.subspan(at));

  // The input as a whole volume.
  if (!usable || g.volumeLength > size / kSectorSize) return 0;
  std::vector<std::uint8_t> bytes(data, data + size);
  bytes.resize((size + kSectorSize - 1) / kSectorSize * kSectorSize, 0);
  UseOwnCacheFolder();
  auto disk = std::make_shared<MemorySectorSource>(bytes);
  FoundItemStore store;
  HeadlessHost host(&store, nullptr);
  SourceRecord source;
  source.kind = kSourceVolume;
  source.partition = std::make_unique<PartitionRecord>();
  source.partition->sectorCount = bytes.size() / kSectorSize;
  source.partition->endSector = source.partition->sectorCount;
  source.partition->fileSystemKind = kFsExFat;
  for (int pass = 0; pass < 2; ++pass) {
    ExFatEngine engine(host);
    engine.Prepare(MakeVolume(source, disk, false));
    if (pass == 0) engine.ScanVolume(0);
    else engine.DeepScan(0);
    for (std::size_t i = 1; i < store.Count(); ++i) {
      const StoredItem item = store.Item(static_cast<FoundItemHandle>(i));
      if (item.record.size > (64u << 20)) continue;
      engine.ReadFoundItem(item.record, [](const DataBlock& block) { return block.bytes.size() <= kMaxDataBlock; });
    }
    engine.FreeLists();
  }
  return 0;
}
