#pragma once
// The source list and the partition list of the mounted disk, with the flags
// the partition walk leaves behind. The application object holds one.

#include <cstdint>
#include <memory>
#include <vector>

#include "sources/SourceRecords.h"

namespace corvan {

struct SourceList {
  // The source list in order, the disk record first (head to tail).
  std::vector<std::unique_ptr<SourceRecord>> m_sources;
  // The record the user selected; points into m_sources, not owned.
  SourceRecord* m_pSelectedSource = nullptr;

  // Partitions found by the last walk, in the order found (head to tail).
  std::vector<PartitionNode> m_partitions;

  std::uint64_t m_nDiskSectors = 0;  // size of the mounted disk, set before the walk
  std::uint32_t m_bNoPartition = 0;  // no volume found, or an LDM partition without its header
  std::uint32_t m_bLdmSeen = 0;      // a dynamic-disk database was met
  std::uint32_t m_bImageError = 0;   // a dynamic disk whose PRIVHEAD is missing

  // Appends at the tail and returns the new record.
  SourceRecord& AppendSource(std::unique_ptr<SourceRecord> record);

  void FreePartitionList() { m_partitions.clear(); }
  // Drops every record with its payload. The selection pointed into the
  // list, so it is cleared too rather than left dangling.
  void FreeSourceList();
};

}  // namespace corvan
