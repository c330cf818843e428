// The FAT layout vote over any inputs: the folder-start records (sector and
// cluster pairs), the volume's sector count and which sectors carry the FAT
// signature; then the same bytes as a whole volume through the engine's
// search, vote and FAT loading. Whatever the vote leaves, the engine may
// only go on with a layout that fits the volume.
//
// Input: u32 sector count, u8 record count, that many (u32 S, u32 C) pairs,
// then one bit per sector for the signature probe.
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/HeadlessHost.h"
#include "console/FoundItemStore.h"
#include "engines/fat/FatEngine.h"
#include "engines/fat/FatVote.h"
#include "platform/ByteCodec.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"
#include "sources/SourceRecords.h"
#include "sources/Volume.h"

namespace {

void VoteOnRecords(const std::uint8_t* data, std::size_t size) {
  using namespace corvan;
  if (size < 5) return;
  const std::uint64_t sectors = GetLE32(data);
  const std::size_t count = std::min<std::size_t>(data[4], kMaxDirectoryRecords);
  std::size_t at = 5;
  std::vector<DirectoryClusterRecord> records;
  for (std::size_t i = 0; i < count && at + 8 <= size; ++i, at += 8) {
    records.push_back({GetLE32(data + at), GetLE32(data + at + 4), 0});
  }
  const std::uint8_t* bits = data + at;
  const std::size_t bitBytes = size - at;
  std::uint64_t probes = 0;
  const VotedLayout v = VoteLayout(records, sectors, [&](std::uint64_t sector) {
    ++probes;
    return sector / 8 < bitBytes && (bits[sector / 8] >> (sector % 8)) & 1;
  });
  // Each candidate probes only in front of its data start, below 100000.
  if (probes > (records.size() + 1) * 100100) __builtin_trap();
  if (v.accepted) {
    if (v.fatSize == 0 || v.kind > kFat32 || v.sectorsPerCluster == 0) __builtin_trap();
    const std::uint64_t front = std::uint64_t{v.reservedSectors} + 2ull * v.fatSize + v.rootDirSectors;
    // An accepted layout keeps its data area inside a start below 100000
    // (one more reserved sector at most for an odd remainder).
    if (front > 100001) __builtin_trap();
  }
}

void SearchVolume(const std::uint8_t* data, std::size_t size) {
  using namespace corvan;
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
  source.partition->fileSystemKind = kFat16;
  source.partition->diskNumber = kNoDiskNumber;
  {
    FatEngine engine(host);
    engine.Prepare(MakeVolume(source, disk, false));
    if (engine.SearchDirectoryClusters() != 0) {
      if (!engine.LayoutIsSound()) __builtin_trap();
      if (engine.Fat().size() > std::size_t{engine.Layout().fatSize} * kSectorSize) __builtin_trap();
    }
    engine.FreeLists();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  VoteOnRecords(data, size);
  if (size >= corvan::kSectorSize) SearchVolume(data, size);
  return 0;
}
