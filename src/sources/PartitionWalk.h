#pragma once
// Finds the volumes of a disk and turns them into the source list:
// the MBR and its chain of extended boot records, handing a protective MBR
// to the GPT walk and a dynamic disk to the LDM reader, then one source
// record for the disk and one per volume.

#include <cstdint>
#include <unordered_set>

#include "sources/SectorSource.h"
#include "sources/SourceList.h"

namespace corvan {

class Prompt;

class PartitionWalk {
 public:
  // Reads `disk`; `prompt` shows the broken-dynamic-disk message; null runs
  // silently.
  PartitionWalk(SourceList& list, SectorSource& disk, Prompt* prompt = nullptr)
      : m_list(list), m_disk(disk), m_pPrompt(prompt) {}

  // Walks from sector 0; sets m_bNoPartition when nothing was found.
  void ScanPartitions();
  // Walks one MBR or EBR and the extended chain behind it. A table already
  // walked is not walked again, so a chain that links back ends there.
  void WalkPartitionTable(std::uint64_t sector);

 private:
  SourceList& m_list;
  SectorSource& m_disk;
  Prompt* m_pPrompt;
  std::uint64_t m_nExtendedBase = 0;
  bool m_bExtendedBaseSet = false;
  std::unordered_set<std::uint64_t> m_walkedTables;
};

inline void ScanPartitions(SourceList& list, SectorSource& disk, Prompt* prompt = nullptr) {
  PartitionWalk(list, disk, prompt).ScanPartitions();
}

// Rebuilds the source list from the partition list: the disk record, then,
// unless `diskOnly` is set, one volume record per node. `imageType` (1 VMDK,
// 2 VDI, 3 VHD) gives the word of the volume names.
void BuildSourceList(SourceList& list, std::uint32_t imageType, std::uint8_t diskOnly);

// The volume record of one partition node; `number` counts volumes from 0.
PartitionRecord MakeVolumeRecord(const PartitionNode& node, std::uint32_t imageType, std::uint32_t number);

}  // namespace corvan
