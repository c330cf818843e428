#pragma once
// Small FAT volumes built in memory from the published FAT layout (BPB
// fields, 32-byte short entries, 13-unit long-name parts with the short
// name's checksum), for the cases the corpus does not hold.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sources/FatBootSector.h"
#include "sources/SectorSource.h"
#include "support/FatTestVolume.h"
#include "support/SyntheticDisk.h"

namespace corvan::fattest {

using test::SetLE16;
using test::SetLE32;

// 2026-12-07 07:59:44, as DOS writes it.
inline constexpr std::uint16_t kDate = ((2026 - 1980) << 9) | (12 << 5) | 7;
inline constexpr std::uint16_t kTime = (7 << 11) | (59 << 5) | (44 / 2);

class FatImage {
 public:
  // kind kFat12/16/32; rootEntries 0 for FAT32.
  FatImage(std::uint8_t kind, std::uint32_t sectors, std::uint8_t spc, std::uint16_t reserved,
           std::uint32_t fatSize, std::uint16_t rootEntries)
      : kind_(kind), spc_(spc), reserved_(reserved), fatSize_(fatSize), rootEntries_(rootEntries),
        bytes_(std::size_t{sectors} * kSectorSize) {
    std::uint8_t* b = bytes_.data();
    b[0] = 0xEB;
    b[1] = 0x3C;
    b[2] = 0x90;
    std::memcpy(b + 3, "TESTFAT ", 8);
    SetLE16(b + 11, 512);
    b[13] = spc;
    SetLE16(b + 14, reserved);
    b[16] = 2;
    SetLE16(b + 17, rootEntries);
    if (sectors < 65536) SetLE16(b + 19, static_cast<std::uint16_t>(sectors));
    else SetLE32(b + 32, sectors);
    b[21] = 0xF8;
    if (kind == kFat32) {
      SetLE32(b + 32, sectors);
      SetLE16(b + 19, 0);
      SetLE32(b + 36, fatSize);
      SetLE32(b + 44, 2);  // root cluster
      SetLE16(b + 50, 6);  // backup boot sector
    } else {
      SetLE16(b + 22, static_cast<std::uint16_t>(fatSize));
    }
    b[510] = 0x55;
    b[511] = 0xAA;
    for (int copy = 0; copy < 2; ++copy) {
      std::uint8_t* fat = Fat(copy);
      fat[0] = 0xF8;
      fat[1] = 0xFF;
      fat[2] = 0xFF;
      if (kind != kFat12) fat[3] = kind == kFat32 ? 0x0F : 0xFF;
      if (kind == kFat32) SetLE32(fat + 4, 0x0FFFFFFF);
    }
    if (kind == kFat32) SetFat(2, 0x0FFFFFFF);  // the root's one cluster
  }

  std::vector<std::uint8_t>& Bytes() { return bytes_; }
  std::uint8_t* Fat(int copy) { return bytes_.data() + (reserved_ + std::size_t(copy) * fatSize_) * kSectorSize; }
  std::uint32_t RootSectors() const { return (rootEntries_ * 32u + 511u) / 512u; }
  std::uint64_t DataStart() const { return reserved_ + 2ull * fatSize_ + RootSectors(); }
  std::uint8_t* Root() { return bytes_.data() + (reserved_ + 2ull * fatSize_) * kSectorSize; }
  std::uint8_t* Cluster(std::uint32_t c) { return bytes_.data() + (DataStart() + (c - 2ull) * spc_) * kSectorSize; }
  std::size_t ClusterBytes() const { return std::size_t{spc_} * kSectorSize; }

  void SetFatCopy(int copy, std::uint32_t n, std::uint32_t v) {
    std::uint8_t* fat = Fat(copy);
    if (kind_ == kFat32) {
      SetLE32(fat + 4 * n, v);
    } else if (kind_ == kFat16) {
      SetLE16(fat + 2 * n, static_cast<std::uint16_t>(v));
    } else {
      std::uint8_t* p = fat + n + n / 2;
      const std::uint16_t old = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
      const std::uint16_t word = (n & 1) ? static_cast<std::uint16_t>((old & 0x000F) | (v << 4))
                                         : static_cast<std::uint16_t>((old & 0xF000) | (v & 0xFFF));
      SetLE16(p, word);
    }
  }
  void SetFat(std::uint32_t n, std::uint32_t v) {
    SetFatCopy(0, n, v);
    SetFatCopy(1, n, v);
  }
  std::uint32_t EndOfChain() const { return kind_ == kFat32 ? 0x0FFFFFFF : kind_ == kFat16 ? 0xFFFF : 0xFFF; }
  // Links the clusters in order and ends the chain.
  void Chain(const std::vector<std::uint32_t>& clusters) {
    for (std::size_t i = 0; i < clusters.size(); ++i) {
      SetFat(clusters[i], i + 1 < clusters.size() ? clusters[i + 1] : EndOfChain());
    }
  }

 private:
  std::uint8_t kind_, spc_;
  std::uint16_t reserved_;
  std::uint32_t fatSize_;
  std::uint16_t rootEntries_;
  std::vector<std::uint8_t> bytes_;
};

// One 32-byte short entry. `name11` is the 8+3 field as stored.
inline void PutShortEntry(std::uint8_t* e, const char* name11, std::uint8_t attr, std::uint32_t cluster,
                          std::uint32_t size, std::uint8_t caseBits = 0) {
  std::memcpy(e, name11, 11);
  e[11] = attr;
  e[12] = caseBits;
  SetLE16(e + 14, kTime);
  SetLE16(e + 16, kDate);
  SetLE16(e + 18, kDate);
  SetLE16(e + 20, static_cast<std::uint16_t>(cluster >> 16));
  SetLE16(e + 22, kTime);
  SetLE16(e + 24, kDate);
  SetLE16(e + 26, static_cast<std::uint16_t>(cluster));
  SetLE32(e + 28, size);
}

// "." and ".." at the start of a folder's first cluster.
inline void PutDotEntries(std::uint8_t* cluster, std::uint32_t self, std::uint32_t parent) {
  PutShortEntry(cluster, ".          ", 0x10, self, 0);
  PutShortEntry(cluster + 32, "..         ", 0x10, parent, 0);
}

inline std::uint8_t LfnChecksum(const char* name11) {
  std::uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) ? 0x80 : 0) + (sum >> 1) + std::uint8_t(name11[i]));
  return sum;
}

// The long-name parts of `name` for the short name `name11`, last part
// first, as they stand in front of the short entry. Returns the entry count.
inline std::size_t LongNameParts(std::vector<std::uint8_t>& out, const std::u16string& name, const char* name11) {
  static constexpr int kOffsets[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  std::u16string padded = name;
  if (padded.size() % 13 != 0) {
    padded.push_back(u'\0');
    while (padded.size() % 13 != 0) padded.push_back(u'\xFFFF');
  }
  const std::size_t parts = padded.size() / 13;
  for (std::size_t k = parts; k-- > 0;) {
    std::uint8_t e[32] = {};
    e[0] = static_cast<std::uint8_t>((k + 1) | (k + 1 == parts ? 0x40 : 0));
    e[11] = 0x0F;
    e[13] = LfnChecksum(name11);
    for (int i = 0; i < 13; ++i) SetLE16(e + kOffsets[i], padded[k * 13 + i]);
    out.insert(out.end(), e, e + 32);
  }
  return parts;
}

// Long-name parts and the short entry, written at `at`; returns the bytes used.
inline std::size_t PutNamedEntry(std::uint8_t* at, const std::u16string& longName, const char* name11,
                                 std::uint8_t attr, std::uint32_t cluster, std::uint32_t size) {
  std::vector<std::uint8_t> entries;
  if (!longName.empty()) LongNameParts(entries, longName, name11);
  std::uint8_t e[32] = {};
  PutShortEntry(e, name11, attr, cluster, size);
  entries.insert(entries.end(), e, e + 32);
  std::memcpy(at, entries.data(), entries.size());
  return entries.size();
}

// FAT16: 8192 sectors, 1 per cluster, 1 reserved, FATs of 32, 512 root entries.
inline FatImage SmallFat16() { return FatImage(kFat16, 8192, 1, 1, 32, 512); }
// FAT32: 8192 sectors, 1 per cluster, 32 reserved, FATs of 300.
inline FatImage SmallFat32() { return FatImage(kFat32, 8192, 1, 32, 300, 0); }

// An engine over the mounted image with its boot sector's geometry, its FAT
// chosen and loaded and its cluster map built.
inline std::unique_ptr<FatEngine> ReadyEngine(Harness& h, FatImage& image) {
  FatBootInfo info;
  ParseFatBootSector(info, image.Bytes().data());
  h.MountBytes(image.Bytes());
  auto engine = h.Engine(info.kind);
  engine->SetGeometry(info);
  engine->SelectFatCopy();
  engine->BuildClusterMap();
  return engine;
}

}  // namespace corvan::fattest
