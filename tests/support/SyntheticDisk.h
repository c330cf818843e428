#pragma once
// Small disks built in memory for the partition-table tests. Every offset
// here is taken from the published definitions of the structures (the MBR
// partition entry, the UEFI GPT header and entry, the FAT BPB, the exFAT
// main boot sector, the NTFS boot sector), not from the program's readers.

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "sources/SectorSource.h"
#include "sources/SourceList.h"

namespace corvan::test {

inline void SetLE16(std::uint8_t* p, std::uint16_t v) {
  for (int i = 0; i < 2; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void SetLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void SetLE64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void SetBE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
inline void SetBE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}
inline void SetBE64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * (7 - i)));
}

class SyntheticDisk {
 public:
  explicit SyntheticDisk(std::uint64_t sectors) : bytes_(sectors * kSectorSize) {}
  std::uint8_t* Sector(std::uint64_t s) { return bytes_.data() + s * kSectorSize; }
  std::vector<std::uint8_t>& Bytes() { return bytes_; }
  // A copy of the disk as a source to read.
  std::shared_ptr<SectorSource> Source() const { return std::make_shared<MemorySectorSource>(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
};

// MBR/EBR partition entry `slot` (0..3): type at +4, first LBA at +8,
// sector count at +12; the table's 0x55 0xAA signature at 510.
inline void PutMbrEntry(std::uint8_t* table, int slot, std::uint8_t type, std::uint32_t lba,
                        std::uint32_t count) {
  std::uint8_t* e = table + 0x1BE + 16 * slot;
  e[4] = type;
  SetLE32(e + 8, lba);
  SetLE32(e + 12, count);
  table[510] = 0x55;
  table[511] = 0xAA;
}

inline void PutBootJumpAndOem(std::uint8_t* s, const char* oem8) {
  s[0] = 0xEB;
  s[1] = 0x58;
  s[2] = 0x90;
  std::memcpy(s + 3, oem8, 8);  // BS_OEMName
  SetLE16(s + 11, 512);         // BPB_BytsPerSec
  s[510] = 0x55;
  s[511] = 0xAA;
}

// FAT32 BPB: SecPerClus 13, RsvdSecCnt 14, NumFATs 16, RootEntCnt 17 (0),
// TotSec16 19 (0), Media 21, FATSz16 22 (0), TotSec32 32, FATSz32 36,
// RootClus 44.
inline void PutFat32Boot(std::uint8_t* s, const char* oem8, std::uint8_t spc, std::uint16_t reserved,
                         std::uint32_t fatSize, std::uint32_t rootCluster, std::uint32_t totalSectors) {
  PutBootJumpAndOem(s, oem8);
  s[13] = spc;
  SetLE16(s + 14, reserved);
  s[16] = 2;
  s[21] = 0xF8;
  SetLE32(s + 32, totalSectors);
  SetLE32(s + 36, fatSize);
  SetLE32(s + 44, rootCluster);
  std::memcpy(s + 82, "FAT32   ", 8);  // BS_FilSysType
}

// FAT12/16 BPB: RootEntCnt 17, TotSec16 19, FATSz16 22.
inline void PutFat16Boot(std::uint8_t* s, const char* oem8, std::uint8_t spc, std::uint16_t reserved,
                         std::uint16_t fatSize, std::uint16_t rootEntries, std::uint32_t totalSectors) {
  PutBootJumpAndOem(s, oem8);
  s[13] = spc;
  SetLE16(s + 14, reserved);
  s[16] = 2;
  SetLE16(s + 17, rootEntries);
  if (totalSectors < 0x10000) SetLE16(s + 19, static_cast<std::uint16_t>(totalSectors));
  else SetLE32(s + 32, totalSectors);
  s[21] = 0xF8;
  SetLE16(s + 22, fatSize);
  std::memcpy(s + 54, "FAT16   ", 8);
}

// exFAT main boot sector: FileSystemName 3, VolumeLength 72, FatOffset 80,
// FatLength 84, ClusterHeapOffset 88, ClusterCount 92,
// FirstClusterOfRootDirectory 96, BytesPerSectorShift 108,
// SectorsPerClusterShift 109, NumberOfFats 110.
inline void PutExFatBoot(std::uint8_t* s, std::uint64_t volumeLength, std::uint32_t fatOffset,
                         std::uint32_t fatLength, std::uint32_t clusterCount, std::uint32_t rootCluster,
                         std::uint8_t spcShift) {
  s[0] = 0xEB;
  s[1] = 0x76;
  s[2] = 0x90;
  std::memcpy(s + 3, "EXFAT   ", 8);
  SetLE64(s + 72, volumeLength);
  SetLE32(s + 80, fatOffset);
  SetLE32(s + 84, fatLength);
  SetLE32(s + 88, fatOffset + fatLength);
  SetLE32(s + 92, clusterCount);
  SetLE32(s + 96, rootCluster);
  s[108] = 9;
  s[109] = spcShift;
  s[110] = 1;
  s[510] = 0x55;
  s[511] = 0xAA;
}

// NTFS boot sector: OEM "NTFS    " 3, BytesPerSector 11, SectorsPerCluster
// 13, TotalSectors 40, MFT LCN 48, MFTMirr LCN 56.
inline void PutNtfsBoot(std::uint8_t* s, std::uint8_t spc, std::uint64_t totalSectors, std::uint64_t mftLcn,
                        std::uint64_t mirrLcn) {
  PutBootJumpAndOem(s, "NTFS    ");
  s[13] = spc;
  s[21] = 0xF8;
  SetLE64(s + 40, totalSectors);
  SetLE64(s + 48, mftLcn);
  SetLE64(s + 56, mirrLcn);
}

// GPT header: Signature "EFI PART" 0, Revision 8, HeaderSize 12, MyLBA 24,
// PartitionEntryLBA 72, NumberOfPartitionEntries 80, SizeOfPartitionEntry 84.
inline void PutGptHeader(std::uint8_t* s, std::uint64_t entryLba, std::uint32_t count, std::uint32_t size) {
  std::memcpy(s, "EFI PART", 8);
  SetLE32(s + 8, 0x00010000);
  SetLE32(s + 12, 92);
  SetLE64(s + 24, 1);
  SetLE64(s + 72, entryLba);
  SetLE32(s + 80, count);
  SetLE32(s + 84, size);
}

// GPT entry: PartitionTypeGUID 0, UniquePartitionGUID 16, StartingLBA 32,
// EndingLBA 40 (inclusive), Attributes 48, PartitionName 56 (UTF-16LE).
inline void PutGptEntry(std::uint8_t* e, std::uint64_t first, std::uint64_t last, std::u16string_view name) {
  e[0] = 0xA2;  // any non-zero type GUID marks the entry used
  SetLE64(e + 32, first);
  SetLE64(e + 40, last);
  for (std::size_t i = 0; i < name.size() && i < 36; ++i) SetLE16(e + 56 + 2 * i, name[i]);
}

// Partition type GUIDs that UEFI defines, in the byte order a GPT
// entry stores them (first three fields little-endian).
// EBD0A0A2-B9E5-4433-87C0-68B6B72699C7, Microsoft basic data.
inline constexpr std::uint8_t kGptBasicDataType[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                                        0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
// AF9B60A0-1431-4F62-BC68-3311714A69AD, LDM data.
inline constexpr std::uint8_t kGptLdmDataType[16] = {0xA0, 0x60, 0x9B, 0xAF, 0x31, 0x14, 0x62, 0x4F,
                                                      0xBC, 0x68, 0x33, 0x11, 0x71, 0x4A, 0x69, 0xAD};

inline void PutGptTypeGuid(std::uint8_t* e, const std::uint8_t* guid) { std::memcpy(e, guid, 16); }

// A disk read through another, with some sectors replaced: a damaged copy of
// a corpus disk without copying it.
class OverlaySource final : public SectorSource {
 public:
  explicit OverlaySource(std::shared_ptr<SectorSource> base) : base_(std::move(base)) {}
  std::uint8_t* Sector(std::uint64_t s) {
    auto& bytes = patches_[s];
    if (bytes.empty()) {
      bytes.resize(kSectorSize);
      base_->ReadSectors(s, bytes.data(), kSectorSize);
    }
    return bytes.data();
  }
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    const bool ok = base_->ReadSectors(sector, buffer, bytes);
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (const auto& [s, patch] : patches_) {
      if (s >= sector && s - sector < bytes / kSectorSize) {
        std::memcpy(out + (s - sector) * kSectorSize, patch.data(), kSectorSize);
      }
    }
    return ok;
  }
  std::uint64_t SectorCount() const override { return base_->SectorCount(); }

 private:
  std::shared_ptr<SectorSource> base_;
  std::map<std::uint64_t, std::vector<std::uint8_t>> patches_;
};

// A disk read through another with one sector that cannot be read: any
// request that covers it fails whole, zeros and all, as a drive's read
// that hits a bad sector does.
class BadSectorSource final : public SectorSource {
 public:
  BadSectorSource(std::shared_ptr<SectorSource> base, std::uint64_t bad) : base_(std::move(base)), bad_(bad) {}
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    if (bad_ >= sector && bad_ - sector < bytes / kSectorSize) {
      std::memset(buffer, 0, bytes);
      return false;
    }
    return base_->ReadSectors(sector, buffer, bytes);
  }
  std::uint64_t SectorCount() const override { return base_->SectorCount(); }

 private:
  std::shared_ptr<SectorSource> base_;
  std::uint64_t bad_;
};

// A protective MBR whose single 0xEE entry starts at LBA 1.
inline void PutProtectiveMbr(std::uint8_t* s, std::uint32_t diskSectors) {
  PutMbrEntry(s, 0, 0xEE, 1, diskSectors - 1);
}

// Start sectors of the partition list, in order.
inline std::vector<std::uint64_t> NodeStarts(const SourceList& list) {
  std::vector<std::uint64_t> starts;
  for (const auto& node : list.m_partitions) starts.push_back(node.startSector);
  return starts;
}

}  // namespace corvan::test
