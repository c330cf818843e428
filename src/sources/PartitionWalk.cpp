#include "sources/PartitionWalk.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Prompt.h"
#include "core/StringIds.h"
#include "platform/ByteCodec.h"
#include "sources/FatBootSector.h"
#include "sources/LdmReader.h"
#include "sources/SectorSource.h"
#include "sources/VirtualDiskImage.h"

namespace corvan {

namespace {

// No real disk chains this many extended boot records; a longer chain is
// damage, and the walk stops there with what it found.
constexpr std::size_t kMaxPartitionTables = 4096;
// The dynamic-disk database sits in the last 1 MiB of the disk.
constexpr std::uint64_t kLdmDatabaseSectors = 2048;

bool IsNodeType(std::uint8_t type) {
  switch (type) {
    case 0x01: case 0x04: case 0x06: case 0x07: case 0x0B: case 0x0C: case 0x0E: case 0x86: case 0x87:
      return true;
    default:
      return false;
  }
}

bool IsFatType(std::uint8_t type) {
  switch (type) {
    case 0x01: case 0x04: case 0x06: case 0x0B: case 0x0C: case 0x0E:
      return true;
    default:
      return false;
  }
}

// Tables may claim more than the disk holds, and nothing past its end can be
// read: a volume is cut at the disk's end, and one that starts beyond it is
// not a volume of this disk. False for the latter. A disk of unknown size
// (0) leaves the volume as it is.
bool FitToDisk(PartitionNode& node, std::uint64_t diskSectors) {
  if (diskSectors == 0) return true;
  if (node.startSector >= diskSectors) return false;
  node.sectorCount = std::min(node.sectorCount, diskSectors - node.startSector);
  return true;
}

bool SaysExFat(const PartitionNode& node) { return std::memcmp(node.firstSector.data() + 3, "EXFAT", 5) == 0; }

std::uint8_t FileSystemKindOf(const PartitionNode& node) {
  switch (node.typeCode) {
    case 0x01: return kFsFat12;
    case 0x04: case 0x06: case 0x0E: return kFsFat16;
    case 0x0B: case 0x0C: return kFsFat32;
    case 0x05: case 0x07: case 0x0F: case 0x42: case 0x86: case 0x87:
      return SaysExFat(node) ? kFsExFat : kFsNtfs;
    default:
      return SaysExFat(node) ? kFsExFat : kFsRaw;
  }
}

const char16_t* FileSystemText(std::uint8_t kind) {
  switch (kind) {
    case kFsFat12: case kFsFat16: return u"FAT";
    case kFsFat32: return u"FAT32";
    case kFsExFat: return u"exFAT";
    case kFsNtfs: return u"NTFS";
    default: return u"RAW";
  }
}

// Byte 13 of an NTFS boot sector: sectors per cluster, or above 0x80 the
// negative power of two used for clusters of 128 KiB and more.
std::uint16_t NtfsSectorsPerCluster(std::uint8_t value) {
  if (value <= 0x80) return value;
  const unsigned shift = 256u - value;
  return shift <= 15 ? static_cast<std::uint16_t>(1u << shift) : 0;
}

}  // namespace

void PartitionWalk::ScanPartitions() {
  m_nExtendedBase = 0;
  m_bExtendedBaseSet = false;
  m_walkedTables.clear();
  WalkPartitionTable(0);
  auto& nodes = m_list.m_partitions;
  const std::uint64_t diskSectors = m_disk.SectorCount();
  nodes.erase(std::remove_if(nodes.begin(), nodes.end(),
                             [&](PartitionNode& node) { return !FitToDisk(node, diskSectors); }),
              nodes.end());
  if (nodes.empty()) m_list.m_bNoPartition = 1;
}

void PartitionWalk::WalkPartitionTable(std::uint64_t first) {
  // The chain is followed in a loop, not by recursion, so a long chain
  // cannot exhaust the stack. A level's dynamic volumes are added after
  // every deeper level's volumes, deepest first, as the nesting of the
  // chain implies.
  std::vector<std::unique_ptr<LdmReader>> databases;
  std::optional<std::uint64_t> table = first;
  while (table && m_walkedTables.size() < kMaxPartitionTables && m_walkedTables.insert(*table).second) {
    const std::uint64_t sector = *table;
    table.reset();
    auto reader = std::make_unique<LdmReader>(m_list, m_disk);
    std::array<std::uint8_t, kSectorSize> buffer{};
    m_disk.ReadSectors(sector, buffer.data(), kSectorSize);
    std::optional<std::array<std::uint8_t, 16>> pendingLink;

    if (buffer[510] == 0x55 && buffer[511] == 0xAA) {
      for (std::size_t offset = 0x1BE; offset <= 0x1EE; offset += 16) {
        const std::uint8_t* entry = buffer.data() + offset;
        const std::uint32_t count = GetLE32(entry + 12);
        if (count == 0) continue;
        const std::uint8_t type = entry[4];
        const std::uint32_t lba = GetLE32(entry + 8);
        if (IsNodeType(type)) {
          PartitionNode node;
          node.startSector = sector + lba;
          node.sectorCount = count;
          node.typeCode = type;
          if (IsFatType(type)) {
            m_disk.ReadSectors(node.startSector, node.firstSector.data(), kSectorSize);
          } else {
            // The type byte does not tell NTFS from exFAT; the boot sector
            // does, or its exFAT backup when the main one is damaged.
            ReadVolumeBootSector(m_disk, node.startSector, node.firstSector.data());
          }
          m_list.m_partitions.push_back(node);
        } else if (type == 0x05 || type == 0x0F) {
          pendingLink.emplace();
          std::memcpy(pendingLink->data(), entry, 16);
          if (!m_bExtendedBaseSet) {
            m_nExtendedBase = lba;
            m_bExtendedBaseSet = true;
          }
        } else if (type == 0xEE || type == 0xEF) {
          reader->ReadGptPartitions(lba);
          break;
        } else if (type == 0x42) {
          const std::uint64_t diskSectors = m_disk.SectorCount();
          const std::uint64_t searchStart = diskSectors > kLdmDatabaseSectors ? diskSectors - kLdmDatabaseSectors : 1;
          if (reader->FindPrivHead(6)) {
            m_list.m_bLdmSeen = 1;
            reader->FindVmdb(searchStart);
          } else {
            m_list.m_bImageError = 1;
            if (m_pPrompt) m_pPrompt->MessageBoxId(kIdsImageCorrupt, kPicInformation, kMbOk);
          }
          break;
        }
      }
    }

    if (reader->VmdbFound()) databases.push_back(std::move(reader));
    if (pendingLink) {
      // Links count from the first extended partition; the MBR's own link
      // is that partition.
      table = sector == 0 ? m_nExtendedBase : m_nExtendedBase + GetLE32(pendingLink->data() + 8);
    }
  }

  for (auto it = databases.rbegin(); it != databases.rend(); ++it) {
    (*it)->ParseVblks();
    (*it)->BuildVolumes();
  }
}

PartitionRecord MakeVolumeRecord(const PartitionNode& node, std::uint32_t imageType, std::uint32_t number) {
  PartitionRecord r;
  r.diskNumber = kNoDiskNumber;
  const char* word = imageType == kImageVmware       ? "VMDK"
                     : imageType == kImageVirtualBox ? "VDI"
                     : imageType == kImageVirtualPc  ? "VHD"
                                                     : nullptr;
  if (word) {
    const std::string name = std::string(word) + "-Vol " + std::to_string(number);
    r.name.assign(name.begin(), name.end());
  }
  r.typeText = u"FIXED";
  r.sizeText = FormatSizeText(node.sectorCount);
  r.startSector = node.startSector;
  r.sectorCount = node.sectorCount;
  r.endSector = node.startSector + node.sectorCount;
  r.sizeInBytes = node.sectorCount * kSectorSize;
  r.fileSystemKind = FileSystemKindOf(node);
  r.fileSystemText = FileSystemText(r.fileSystemKind);

  const std::uint8_t* boot = node.firstSector.data();
  switch (r.fileSystemKind) {
    case kFsFat12:
    case kFsFat16:
    case kFsFat32: {
      // The geometry is taken even from a sector the parser rejects: the
      // partition type already says FAT, and the engines judge the rest.
      FatBootInfo info;
      ParseFatBootSector(info, boot);
      r.sectorsPerCluster = info.sectorsPerCluster;
      r.reservedSectors = info.reservedSectors;
      r.fatSize = info.fatSize;
      r.rootDirSectors = info.rootDirSectors;
      r.rootCluster = info.rootCluster;
      break;
    }
    case kFsExFat: {
      r.fatSize = GetLE32(boot + 0x54);
      r.reservedSectors = GetLE32(boot + 0x50);
      r.rootCluster = GetLE32(boot + 0x60);
      // SectorsPerClusterShift; a cluster of more than 128 sectors does not
      // fit the byte and is stored as 0.
      const std::uint8_t shift = boot[0x6D];
      r.sectorsPerCluster = shift <= 7 ? static_cast<std::uint8_t>(1u << shift) : 0;
      break;
    }
    case kFsNtfs: {
      r.ntfsSectorsPerCluster = NtfsSectorsPerCluster(boot[13]);
      r.mftSector = r.ntfsSectorsPerCluster * GetLE64(boot + 0x30);
      r.mftMirrorSector = r.ntfsSectorsPerCluster * GetLE64(boot + 0x38);
      break;
    }
    default:
      break;
  }
  if (r.fileSystemKind != kFsRaw) r.label = u"VirtualVol";
  return r;
}

void BuildSourceList(SourceList& list, std::uint32_t imageType, std::uint8_t diskOnly) {
  list.FreeSourceList();
  auto disk = std::make_unique<SourceRecord>();
  disk->kind = kSourceDisk;
  disk->index = 0;
  disk->disk = std::make_unique<DiskRecord>();
  disk->disk->driveNumber = kImageDriveNumber;
  disk->disk->sectorCount = list.m_nDiskSectors;
  disk->disk->sizeText = FormatSizeText(list.m_nDiskSectors);
  list.AppendSource(std::move(disk));
  if (diskOnly) return;

  std::uint32_t n = 0;
  for (PartitionNode node : list.m_partitions) {
    if (!FitToDisk(node, list.m_nDiskSectors)) continue;
    auto volume = std::make_unique<SourceRecord>();
    volume->kind = kSourceVolume;
    volume->index = static_cast<std::uint16_t>(n + 1);
    volume->partition = std::make_unique<PartitionRecord>(MakeVolumeRecord(node, imageType, n));
    list.AppendSource(std::move(volume));
    ++n;
  }
}

}  // namespace corvan
