#include "sources/LdmReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <optional>

#include "platform/ByteCodec.h"
#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"
#include "sources/SourceList.h"

namespace corvan {

namespace {

// Searches cover at most this many sectors past their start.
constexpr std::uint64_t kPrivHeadSearchLast = 0x40000;
// The LDM database is 1 MiB; its VBLK area cannot run beyond that.
constexpr std::uint64_t kLdmDatabaseSectors = 2048;
// A GPT entry array larger than 1 MiB is no table anyone wrote.
constexpr std::uint64_t kMaxGptEntrySectors = 2048;
// Extents per assembled volume; a database that repeats its ids must not
// multiply them without end.
constexpr std::size_t kMaxExtentsPerVolume = 256;
constexpr std::size_t kVblkSize = 128;
constexpr std::size_t kVblksPerSector = kSectorSize / kVblkSize;

constexpr std::uint8_t kVblkComponent = 0x32;
constexpr std::uint8_t kVblkPartition = 0x33;
constexpr std::uint8_t kVblkDisk = 0x34;
constexpr std::uint8_t kVblkDisk4 = 0x44;  // the later disk record, same leading fields
constexpr std::uint8_t kVblkVolume = 0x51;


// Hands out the sectors [start, end) one at a time, reading them in blocks.
class SectorScanner {
 public:
  SectorScanner(SectorSource& disk, std::uint64_t start, std::uint64_t end)
      : disk_(disk), next_(start), end_(std::max(start, end)) {}

  const std::uint8_t* Next(std::uint64_t& sector) {
    if (next_ >= end_) return nullptr;
    if (next_ >= blockStart_ + blockCount_ || blockCount_ == 0) {
      blockStart_ = next_;
      blockCount_ = std::min<std::uint64_t>(kBlockSectors, end_ - next_);
      disk_.ReadSectors(blockStart_, block_.data(), static_cast<std::size_t>(blockCount_ * kSectorSize));
    }
    sector = next_++;
    return block_.data() + (sector - blockStart_) * kSectorSize;
  }

 private:
  static constexpr std::uint64_t kBlockSectors = 128;
  SectorSource& disk_;
  std::vector<std::uint8_t> block_ = std::vector<std::uint8_t>(kBlockSectors * kSectorSize);
  std::uint64_t next_;
  std::uint64_t end_;
  std::uint64_t blockStart_ = 0;
  std::uint64_t blockCount_ = 0;
};

// Reads the fields of one VBLK record: variable-length numbers and texts,
// each a length byte and that many bytes. Any field that would run past the
// record marks the cursor as failed instead of reading beyond it.
class VblkCursor {
 public:
  VblkCursor(std::span<const std::uint8_t> record, std::size_t pos) : rec_(record), pos_(pos) {}

  bool ok() const { return ok_; }
  std::size_t pos() const { return pos_; }
  void Skip(std::size_t n) { pos_ += n; }

  std::uint64_t Number() {
    const auto bytes = Field();
    if (!bytes || bytes->size() > 8) {
      ok_ = false;
      return 0;
    }
    // Big-endian on disk: reversed into the low bytes of a little-endian u64.
    std::uint8_t little[8] = {};
    LdmReader::ReverseBytes(bytes->data(), little, bytes->size());
    return GetLE64(little);
  }

  std::string Text() {
    const auto bytes = Field();
    if (!bytes) return {};
    return std::string(bytes->begin(), bytes->end());
  }

  std::optional<std::uint64_t> BE64At(std::size_t at) const {
    if (at + 8 > rec_.size()) return std::nullopt;
    return GetBE64(rec_.data() + at);
  }
  std::uint8_t ByteAt(std::size_t at) const { return at < rec_.size() ? rec_[at] : 0; }

 private:
  std::optional<std::span<const std::uint8_t>> Field() {
    if (!ok_ || pos_ >= rec_.size() || pos_ + 1 + rec_[pos_] > rec_.size()) {
      ok_ = false;
      return std::nullopt;
    }
    const std::size_t length = rec_[pos_];
    const auto bytes = rec_.subspan(pos_ + 1, length);
    pos_ += 1 + length;
    return bytes;
  }

  std::span<const std::uint8_t> rec_;
  std::size_t pos_;
  bool ok_ = true;
};

// The number at the start of `text` as _wtoi reads it: optional blanks and
// sign, then decimal digits.
std::uint32_t LeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = value * 10 + (text[i] - '0');
  return negative ? 0u - value : value;
}

// Partition type GUIDs as a GPT entry stores them (the first three fields
// little-endian).
constexpr std::array<std::uint8_t, 16> kLdmMetadataType = {0xAA, 0xC8, 0x08, 0x58, 0x8F, 0x7E, 0xE0, 0x42,
                                                           0x85, 0xD2, 0xE1, 0xE9, 0x04, 0x34, 0xCF, 0xB3};
constexpr std::array<std::uint8_t, 16> kUnusedType = {};
constexpr std::array<std::uint8_t, 16> kLdmDataType = {0xA0, 0x60, 0x9B, 0xAF, 0x31, 0x14, 0x62, 0x4F,
                                                       0xBC, 0x68, 0x33, 0x11, 0x71, 0x4A, 0x69, 0xAD};

bool HasTypeGuid(std::span<const std::uint8_t, kGptEntrySize> entry, const std::array<std::uint8_t, 16>& guid) {
  return std::memcmp(entry.data(), guid.data(), guid.size()) == 0;
}

constexpr std::uint64_t kExFatBackupBootSector = 12;

std::u16string GptEntryName(std::span<const std::uint8_t, kGptEntrySize> entry) {
  return GetUtf16Field(entry.data() + 56, (kGptEntrySize - 56) / 2);
}

}  // namespace

std::uint32_t BootSectorTypeCode(const std::uint8_t* sector) {
  if (std::memcmp(sector + 3, "NTFS    ", 8) == 0) return 0x07;
  if (std::memcmp(sector + 3, "EXFAT   ", 8) == 0) return 0x07;
  FatBootInfo info;
  if (ParseFatBootSector(info, sector)) {
    switch (info.kind) {
      case kFat12: return 0x01;
      case kFat16: return 0x06;
      case kFat32: return 0x0C;
      default: break;
    }
  }
  return 0;
}

void ReadVolumeBootSector(SectorSource& disk, std::uint64_t start, std::uint8_t* sector) {
  disk.ReadSectors(start, sector, kSectorSize);
  if (BootSectorTypeCode(sector) != 0 || start > UINT64_MAX - kExFatBackupBootSector) return;
  std::uint8_t backup[kSectorSize];
  if (!disk.ReadSectors(start + kExFatBackupBootSector, backup, kSectorSize)) return;
  if (std::memcmp(backup + 3, "EXFAT   ", 8) != 0 || backup[510] != 0x55 || backup[511] != 0xAA) return;
  std::memcpy(sector, backup, kSectorSize);
}

void LdmReader::ReverseBytes(const std::uint8_t* source, std::uint8_t* destination, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) destination[i] = source[length - 1 - i];
}

bool LdmReader::IsKnownStart(std::uint64_t sector) const {
  return std::find(m_knownStarts.begin(), m_knownStarts.end(), sector) != m_knownStarts.end();
}

void LdmReader::ReadGptPartitions(std::uint64_t headerSector) {
  std::uint8_t header[kSectorSize];
  m_disk.ReadSectors(headerSector, header, kSectorSize);
  const std::uint64_t entryLba = GetLE64(header + 72);
  const std::uint32_t entryCount = GetLE32(header + 80);
  const std::uint32_t entrySize = GetLE32(header + 84);
  // An entry size of 0 or beyond one sector cannot be walked sector by sector.
  if (entrySize == 0 || entrySize > kSectorSize) return;
  const std::uint32_t perSector = kSectorSize / entrySize;
  std::uint64_t sectors = std::min<std::uint64_t>(entryCount / perSector, kMaxGptEntrySectors);
  const std::uint64_t end = m_disk.SectorCount();
  sectors = entryLba < end ? std::min(sectors, end - entryLba) : 0;

  SectorScanner scanner(m_disk, entryLba, entryLba + sectors);
  std::uint64_t sector;
  while (const std::uint8_t* data = scanner.Next(sector)) {
    for (std::size_t offset = 0; offset < kSectorSize; offset += entrySize) {
      std::array<std::uint8_t, kGptEntrySize> entry{};
      const std::size_t take = std::min<std::size_t>({kGptEntrySize, entrySize, kSectorSize - offset});
      std::memcpy(entry.data(), data + offset, take);
      const std::uint64_t start = GetLE64(entry.data() + 32);
      if (start == 0) continue;
      const std::u16string name = GptEntryName(entry);
      // A name is optional: without one, the type GUID says what the entry
      // is, and any other partition is listed when its boot sector names a
      // file system. An LDM data partition's volumes come from the database.
      const bool unnamed = name.empty();
      const bool ldmMetadata =
          name == u"LDM metadata partition" || (unnamed && HasTypeGuid(entry, kLdmMetadataType));
      const bool unnamedVolume = unnamed && !ldmMetadata && !HasTypeGuid(entry, kLdmDataType) &&
                                 !HasTypeGuid(entry, kUnusedType);
      if (name == u"Basic data partition" || unnamedVolume) {
        SniffGptPartition(entry);
      } else if (ldmMetadata) {
        m_list.m_bLdmSeen = 1;
        if (FindPrivHead(1890)) {
          FindVmdb(start);
        } else {
          m_list.m_bNoPartition = 1;
        }
        break;  // the rest of this sector is not looked at
      }
    }
  }
}

void LdmReader::SniffGptPartition(std::span<const std::uint8_t, kGptEntrySize> entry) {
  const std::uint64_t start = GetLE64(entry.data() + 32);
  const std::uint64_t last = GetLE64(entry.data() + 40);
  if (last < start) return;  // no size can be derived from it
  PartitionNode node;
  ReadVolumeBootSector(m_disk, start, node.firstSector.data());
  node.typeCode = BootSectorTypeCode(node.firstSector.data());
  if (node.typeCode == 0) return;
  node.startSector = start;
  node.sectorCount = last - start + 1;
  m_list.m_partitions.push_back(node);
}

bool LdmReader::FindPrivHead(std::uint64_t startSector) {
  m_nLogicalDiskStart = m_nConfigStart = m_nConfigSize = m_nConfigStartBytes = 0;
  const auto isPrivHead = [](const std::uint8_t* s) { return std::memcmp(s, "PRIVHEAD", 8) == 0; };

  std::uint8_t first[kSectorSize];
  m_disk.ReadSectors(startSector, first, kSectorSize);
  const std::uint8_t* found = isPrivHead(first) ? first : nullptr;

  SectorScanner scanner(m_disk, 0, std::min(kPrivHeadSearchLast + 1, m_disk.SectorCount()));
  std::uint64_t sector;
  while (!found) {
    const std::uint8_t* data = scanner.Next(sector);
    if (!data) return false;
    if (isPrivHead(data)) found = data;
  }
  // Big-endian 64-bit fields of the published PRIVHEAD layout.
  m_nLogicalDiskStart = GetBE64(found + 0x11B);
  m_nConfigStart = GetBE64(found + 0x12B);
  m_nConfigSize = GetBE64(found + 0x133);
  m_nConfigStartBytes = m_nConfigStart * kSectorSize;
  return true;
}

void LdmReader::FindVmdb(std::uint64_t startSector, std::uint64_t endSector) {
  m_bVmdbFound = 0;
  if (startSector == 0) return;
  SectorScanner scanner(m_disk, startSector, std::min(endSector, m_disk.SectorCount()));
  std::uint64_t sector;
  while (const std::uint8_t* data = scanner.Next(sector)) {
    if (std::memcmp(data, "VMDB", 4) == 0) {
      m_bVmdbFound = 1;
      m_nFirstVblkSector = sector + 1;
      return;
    }
  }
}

void LdmReader::ParseVblks() {
  m_disks.clear();
  m_partitions.clear();
  m_components.clear();
  m_volumes.clear();
  if (!m_bVmdbFound) return;
  const std::uint64_t end = std::min(m_disk.SectorCount(), m_nFirstVblkSector + kLdmDatabaseSectors);
  SectorScanner scanner(m_disk, m_nFirstVblkSector, end);
  std::uint64_t sector;
  while (const std::uint8_t* data = scanner.Next(sector)) {
    for (std::size_t slot = 0; slot < kVblksPerSector; ++slot) {
      const std::span<const std::uint8_t> record(data + slot * kVblkSize, kVblkSize);
      if (std::memcmp(record.data(), "VBLK", 4) != 0) return;
      ParseVblkRecord(record);
    }
  }
}

void LdmReader::ParseVblkRecord(std::span<const std::uint8_t> record) {
  const std::uint8_t type = record[0x13];
  VblkCursor c(record, 0x18);
  const std::uint64_t objectId = c.Number();
  const std::string name = c.Text();
  const std::size_t nameEnd = c.pos();
  if (!c.ok()) return;

  switch (type) {
    case kVblkComponent: {
      ComponentRec r;
      r.recordType = type;
      r.componentId = objectId;
      c.Text();  // volume state
      c.Skip(5);
      c.Number();  // children count
      c.Skip(16);
      r.parentVolumeId = c.Number();
      if (!c.ok()) return;
      r.further = c.Number();
      m_components.push_back(r);
      break;
    }
    case kVblkPartition: {
      PartitionRec r;
      r.recordType = type;
      r.partitionId = objectId;
      const auto start = c.BE64At(nameEnd + 12);
      if (!start) return;
      r.startSector = *start;
      VblkCursor f(record, nameEnd + 28);
      r.sectorCount = f.Number();
      r.parentComponentId = f.Number();
      r.diskId = f.Number();
      if (!f.ok()) return;
      r.further = f.Number();
      m_partitions.push_back(r);
      break;
    }
    case kVblkDisk:
    case kVblkDisk4: {
      DiskRec r;
      r.recordType = type;
      r.diskId = objectId;
      r.diskNumber = name.size() > 4 ? LeadingNumber(std::string_view(name).substr(4)) : 0;
      m_disks.push_back(r);
      break;
    }
    case kVblkVolume: {
      VolumeRec r;
      r.recordType = type;
      r.volumeId = objectId;
      r.name = name;
      r.volumeType = c.Text();
      if (!c.ok()) return;
      r.keptByte = c.ByteAt(c.pos() + 48);
      m_volumes.push_back(r);
      break;
    }
    default:
      break;
  }
}

void LdmReader::BuildVolumes() {
  m_assembled.clear();
  // Indexes keep list order among equal keys, so the extents come out in
  // the order the nested walk over the lists would give.
  std::multimap<std::uint64_t, const ComponentRec*> componentsByVolume;
  for (const auto& c : m_components) componentsByVolume.emplace(c.parentVolumeId, &c);
  std::multimap<std::uint64_t, const PartitionRec*> partitionsByComponent;
  for (const auto& p : m_partitions) partitionsByComponent.emplace(p.parentComponentId, &p);
  std::multimap<std::uint64_t, const DiskRec*> disksById;
  for (const auto& d : m_disks) disksById.emplace(d.diskId, &d);

  for (const auto& volume : m_volumes) {
    std::string type = volume.volumeType;
    std::transform(type.begin(), type.end(), type.begin(),
                   [](char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch; });
    if (type != "gen") continue;
    AssembledVolume assembled;
    assembled.volumeId = volume.volumeId;
    auto [c0, c1] = componentsByVolume.equal_range(volume.volumeId);
    for (auto c = c0; c != c1 && assembled.extents.size() < kMaxExtentsPerVolume; ++c) {
      auto [p0, p1] = partitionsByComponent.equal_range(c->second->componentId);
      for (auto p = p0; p != p1 && assembled.extents.size() < kMaxExtentsPerVolume; ++p) {
        const PartitionRec& part = *p->second;
        auto [d0, d1] = disksById.equal_range(part.diskId);
        for (auto d = d0; d != d1 && assembled.extents.size() < kMaxExtentsPerVolume; ++d) {
          assembled.extents.push_back(
              {part.diskId, part.startSector, part.sectorCount, part.sectorCount * kSectorSize});
        }
      }
    }
    m_assembled.push_back(std::move(assembled));
  }
  AddLdmVolumes();
}

void LdmReader::AddLdmVolumes() {
  for (const auto& volume : m_assembled) {
    if (volume.extents.empty()) continue;
    const Extent& first = volume.extents.front();
    const std::uint64_t start = m_nLogicalDiskStart + first.startSector;
    if (start < m_nLogicalDiskStart) continue;  // wrapped: no such sector
    PartitionNode node;
    ReadVolumeBootSector(m_disk, start, node.firstSector.data());
    node.typeCode = BootSectorTypeCode(node.firstSector.data());
    if (node.typeCode == 0 || IsKnownStart(start)) continue;
    node.startSector = start;
    node.sectorCount = first.sectorCount;
    m_knownStarts.push_back(start);
    for (std::size_t i = 1; i < volume.extents.size(); ++i) {
      const Extent& later = volume.extents[i];
      if (later.diskId != first.diskId) continue;
      m_knownStarts.push_back(m_nLogicalDiskStart + later.startSector);
      node.sectorCount += std::min(later.sectorCount, UINT64_MAX - node.sectorCount);
    }
    m_list.m_partitions.push_back(node);
  }
}

}  // namespace corvan
