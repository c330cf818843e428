#pragma once
// GPT and dynamic-disk (LDM) tables of the mounted disk. One reader lives for
// one level of the partition walk: it walks a GPT, finds the LDM database
// (PRIVHEAD, VMDB, VBLK records), joins its records into volumes and
// appends every volume whose boot sector names a file system to the
// partition list. All reads go through the disk it is given.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace corvan {

class SectorSource;
struct SourceList;

inline constexpr std::size_t kGptEntrySize = 128;

// The partition type code that a volume's boot sector earns: 7 for NTFS and
// exFAT, 1, 6 or 12 (0x0C) for a FAT12, FAT16 or FAT32 boot sector, 0 when
// the sector names no file system we read.
std::uint32_t BootSectorTypeCode(const std::uint8_t* sector512);

// Reads the boot sector of the volume that starts at `start`. When it names
// no file system but the exFAT backup boot sector (12 sectors on) is intact,
// the backup stands in for it, as the exFAT scan itself falls back to it: a
// damaged main boot sector must not hide the volume or mistype it.
void ReadVolumeBootSector(SectorSource& disk, std::uint64_t start, std::uint8_t* sector512);

class LdmReader {
 public:
  // Records of the database, as far as the volume building needs them.
  // Identifiers are the database's variable-length numbers.
  struct DiskRec {
    std::uint8_t recordType = 0;
    std::uint64_t diskId = 0;
    std::uint32_t diskNumber = 0;  // from the name: Disk1 gives 1
  };
  struct PartitionRec {
    std::uint8_t recordType = 0;
    std::uint64_t partitionId = 0;
    std::uint64_t parentComponentId = 0;
    std::uint64_t diskId = 0;
    std::uint64_t startSector = 0;  // relative to the logical-disk start
    std::uint64_t sectorCount = 0;
    std::uint64_t further = 0;  // the partition index, when the record has one
  };
  struct ComponentRec {
    std::uint8_t recordType = 0;
    std::uint64_t componentId = 0;
    std::uint64_t parentVolumeId = 0;
    std::uint64_t further = 0;
  };
  struct VolumeRec {
    std::uint8_t recordType = 0;
    std::uint64_t volumeId = 0;
    std::string name;
    std::string volumeType;  // "gen" for simple and spanned volumes
    std::uint8_t keptByte = 0;
  };
  struct Extent {
    std::uint64_t diskId = 0;
    std::uint64_t startSector = 0;
    std::uint64_t sectorCount = 0;
    std::uint64_t sizeInBytes = 0;
  };
  struct AssembledVolume {
    std::uint64_t volumeId = 0;
    std::vector<Extent> extents;
  };

  LdmReader(SourceList& list, SectorSource& disk) : m_list(list), m_disk(disk) {}

  // Walks the GPT whose header is at `headerSector`.
  void ReadGptPartitions(std::uint64_t headerSector);
  // Appends a node for one GPT entry when its boot sector names a file system.
  void SniffGptPartition(std::span<const std::uint8_t, kGptEntrySize> entry);
  // True when a PRIVHEAD was found at `startSector` or in sectors 0 to
  // 0x40000, and its values stored.
  bool FindPrivHead(std::uint64_t startSector);
  // Looks for the VMDB from `startSector` up to `endSector` (exclusive) or
  // the end of the disk, whichever comes first.
  void FindVmdb(std::uint64_t startSector, std::uint64_t endSector = UINT64_MAX);
  void ParseVblks();
  void BuildVolumes();
  void AddLdmVolumes();
  bool IsKnownStart(std::uint64_t sector) const;
  static void ReverseBytes(const std::uint8_t* source, std::uint8_t* destination, std::size_t length);

  bool VmdbFound() const { return m_bVmdbFound != 0; }

  // The database as read.
  std::vector<DiskRec> m_disks;
  std::vector<PartitionRec> m_partitions;
  std::vector<ComponentRec> m_components;
  std::vector<VolumeRec> m_volumes;
  std::vector<AssembledVolume> m_assembled;

  // PRIVHEAD values, in sectors.
  std::uint64_t m_nLogicalDiskStart = 0;
  std::uint64_t m_nConfigStart = 0;
  std::uint64_t m_nConfigSize = 0;
  std::uint64_t m_nConfigStartBytes = 0;

  std::uint64_t m_nFirstVblkSector = 0;
  std::uint32_t m_bVmdbFound = 0;
  std::vector<std::uint64_t> m_knownStarts;

 private:
  void ParseVblkRecord(std::span<const std::uint8_t> record);

  SourceList& m_list;
  SectorSource& m_disk;
};

}  // namespace corvan
