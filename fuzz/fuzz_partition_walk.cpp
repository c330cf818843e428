// Any bytes as a disk: the MBR walk with its extended chain, the GPT walk
// and the dynamic-disk database must end, stay inside their buffers and give
// records whose byte images encode.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "sources/LdmReader.h"
#include "sources/PartitionWalk.h"
#include "sources/SectorSource.h"
#include "sources/VirtualDiskImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvan;
  auto disk = std::make_shared<MemorySectorSource>(std::vector<std::uint8_t>(data, data + size));
  const std::uint64_t sectors = disk->SectorCount();

  SourceList list;
  list.m_nDiskSectors = sectors;
  ScanPartitions(list, *disk);
  BuildSourceList(list, kImageVmware, 0);
  if (list.m_sources.size() != list.m_partitions.size() + 1) std::abort();
  std::array<std::uint8_t, kSourceRecordSize> source;
  std::array<std::uint8_t, kPartitionRecordSize> volume;
  for (const auto& record : list.m_sources) {
    record->Encode(source);
    if (record->partition) {
      record->partition->Encode(volume);
      if (PartitionRecord::Decode(volume).startSector != record->partition->startSector) std::abort();
    }
  }

  // The GPT and LDM readers straight on the input too, whatever the MBR says.
  SourceList direct;
  LdmReader reader(direct, *disk);
  reader.ReadGptPartitions(1);
  if (reader.FindPrivHead(6)) {
    reader.FindVmdb(sectors > 2048 ? sectors - 2048 : 1);
    if (reader.VmdbFound()) {
      reader.ParseVblks();
      reader.BuildVolumes();
    }
  }
  for (const auto& node : direct.m_partitions) {
    if (node.typeCode == 0) std::abort();
  }
  return 0;
}
