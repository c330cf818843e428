// FAT boot-sector classification against the corpus volumes (made by
// mkfs.fat) and against BPBs built from the fields FAT defines.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <fstream>

#include "platform/ByteCodec.h"
#include "sources/FatBootSector.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

using Sector = std::array<std::uint8_t, 512>;

Sector BootSectorOf(const std::string& image) {
  Sector s{};
  std::ifstream in(test::CorpusDir() / image, std::ios::binary);
  in.read(reinterpret_cast<char*>(s.data()), s.size());
  EXPECT_EQ(in.gcount(), 512) << image;
  return s;
}

// A FAT12/16 BPB with 512-byte sectors.
Sector SmallFatBpb(std::uint8_t spc, std::uint16_t reserved, std::uint8_t fats, std::uint16_t rootEntries,
                   std::uint32_t totalSectors, std::uint16_t fatSize) {
  Sector s{};
  PutLE16(s.data() + 11, 512);
  s[13] = spc;
  PutLE16(s.data() + 14, reserved);
  s[16] = fats;
  PutLE16(s.data() + 17, rootEntries);
  if (totalSectors < 0x10000) PutLE16(s.data() + 19, static_cast<std::uint16_t>(totalSectors));
  else PutLE32(s.data() + 32, totalSectors);
  s[21] = 0xF8;
  PutLE16(s.data() + 22, fatSize);
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

Sector Fat32Bpb(std::uint16_t reserved, std::uint32_t fatSize, std::uint32_t rootCluster) {
  Sector s = SmallFatBpb(1, reserved, 2, 0, 0, 0);
  PutLE32(s.data() + 32, 81920);
  PutLE32(s.data() + 36, fatSize);
  PutLE32(s.data() + 44, rootCluster);
  return s;
}

void ExpectInfo(const FatBootInfo& got, const FatBootInfo& want) {
  EXPECT_EQ(got.kind, want.kind);
  EXPECT_EQ(got.sectorsPerCluster, want.sectorsPerCluster);
  EXPECT_EQ(got.reservedSectors, want.reservedSectors);
  EXPECT_EQ(got.rootDirSectors, want.rootDirSectors);
  EXPECT_EQ(got.fatSize, want.fatSize);
  EXPECT_EQ(got.rootCluster, want.rootCluster);
  EXPECT_EQ(got.media, want.media);
  EXPECT_EQ(got.endOfChain, want.endOfChain);
}

TEST(ParseFatBootSector, CorpusVolumesMatchTheirBpb) {
  // Values read from each image's BPB with xxd (mkfs.fat wrote them); the
  // root folders hold 512 entries of 32 bytes, 32 sectors.
  struct Case {
    const char* image;
    FatBootInfo want;
  };
  const Case cases[] = {
      {"fat12.img", {kFat12, 4, 1, 32, 6, 0, 0xF8, 0xFF8}},
      {"fat16.img", {kFat16, 4, 4, 32, 48, 0, 0xF8, 0xFFF8}},
      {"fat32.img", {kFat32, 1, 32, 0, 630, 2, 0xF8, 0x0FFFFFF8}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image);
    FatBootInfo info;
    ASSERT_TRUE(ParseFatBootSector(info, BootSectorOf(c.image).data()));
    ExpectInfo(info, c.want);
  }
}

TEST(ParseFatBootSector, Fat16WithManyReservedSectorsStaysFat16) {
  // The corpus FAT16 volume with 32 reserved sectors: a 16-bit FAT size is
  // what makes a volume FAT12/16, however many sectors are reserved.
  Sector s = BootSectorOf("fat16.img");
  PutLE16(s.data() + 14, 32);
  FatBootInfo info;
  ASSERT_TRUE(ParseFatBootSector(info, s.data()));
  ExpectInfo(info, {kFat16, 4, 32, 32, 48, 0, 0xF8, 0xFFF8});
}

TEST(ParseFatBootSector, Fat12AndFat16SplitAtTheSpecificationsClusterCount) {
  // 1 reserved + 2 FATs of 16 + 32 root sectors, then one sector a cluster.
  const std::uint32_t overhead = 1 + 2 * 16 + 32;
  FatBootInfo info;
  ASSERT_TRUE(ParseFatBootSector(info, SmallFatBpb(1, 1, 2, 512, overhead + 4084, 16).data()));
  EXPECT_EQ(info.kind, kFat12);
  EXPECT_EQ(info.endOfChain, 0xFF8u);
  ASSERT_TRUE(ParseFatBootSector(info, SmallFatBpb(1, 1, 2, 512, overhead + 4085, 16).data()));
  EXPECT_EQ(info.kind, kFat16);
  EXPECT_EQ(info.endOfChain, 0xFFF8u);
  // The 32-bit total is used when the 16-bit one is 0.
  ASSERT_TRUE(ParseFatBootSector(info, SmallFatBpb(4, 4, 2, 512, 0x20000, 128).data()));
  EXPECT_EQ(info.kind, kFat16);
}

TEST(ParseFatBootSector, DamagedCountsFallBackToTheFatSize) {
  // No total sectors: the cluster count is unknown, a FAT of 9 sectors is FAT12.
  FatBootInfo info;
  ASSERT_TRUE(ParseFatBootSector(info, SmallFatBpb(1, 0, 2, 224, 0, 9).data()));
  EXPECT_EQ(info.kind, kFat12);
  EXPECT_EQ(info.endOfChain, 0xFF8u);
  ASSERT_TRUE(ParseFatBootSector(info, SmallFatBpb(1, 0, 0, 512, 20000, 40).data()));
  EXPECT_EQ(info.kind, kFat16);
  // The corpus FAT16 volume with a total of 200: 17 clusters of 4 sectors
  // after its 132 sectors of reserved, FATs and root would make it FAT12,
  // but no formatter gives 17 clusters a FAT of 48 sectors.
  Sector fat16 = BootSectorOf("fat16.img");
  PutLE16(fat16.data() + 19, 200);
  ASSERT_TRUE(ParseFatBootSector(info, fat16.data()));
  ExpectInfo(info, {kFat16, 4, 4, 32, 48, 0, 0xF8, 0xFFF8});
}

TEST(ParseFatBootSector, Fat32Fields) {
  FatBootInfo info;
  ASSERT_TRUE(ParseFatBootSector(info, Fat32Bpb(32, 1000, 2).data()));
  EXPECT_EQ(info.kind, kFat32);
  EXPECT_EQ(info.fatSize, 1000u);
  EXPECT_EQ(info.rootCluster, 2u);
  EXPECT_EQ(info.rootDirSectors, 0);
  // FAT32 with few reserved sectors is still FAT32.
  ASSERT_TRUE(ParseFatBootSector(info, Fat32Bpb(6, 1000, 2).data()));
  EXPECT_EQ(info.kind, kFat32);
}

TEST(ParseFatBootSector, Rejections) {
  FatBootInfo info;
  for (std::uint8_t spc : {0, 3, 6, 129, 255}) {
    Sector s = SmallFatBpb(spc, 1, 2, 512, 8192, 6);
    info = {};
    EXPECT_FALSE(ParseFatBootSector(info, s.data())) << int(spc);
    EXPECT_EQ(info.sectorsPerCluster, spc);
    EXPECT_EQ(info.fatSize, 0u);  // nothing more was filled
  }
  EXPECT_FALSE(ParseFatBootSector(info, Fat32Bpb(32, 266, 2).data()));
  EXPECT_TRUE(ParseFatBootSector(info, Fat32Bpb(32, 267, 2).data()));
  EXPECT_FALSE(ParseFatBootSector(info, Fat32Bpb(32, 1000, 1).data()));
  EXPECT_FALSE(ParseFatBootSector(info, Fat32Bpb(32, 1000, 0).data()));
  EXPECT_FALSE(ParseFatBootSector(info, SmallFatBpb(64, 4, 2, 512, 4000000, 266).data()));
  EXPECT_TRUE(ParseFatBootSector(info, SmallFatBpb(64, 4, 2, 512, 4000000, 265).data()));
  EXPECT_EQ(info.kind, kFat16);
}

TEST(ParseFatBootSector, SixteenBitFieldsAreUnsigned) {
  // Reserved 0x8000 and a FAT of 0x8001 sectors: never negative or sign-extended.
  Sector s = SmallFatBpb(128, 0x8000, 1, 0, 0, 0x8001);
  PutLE32(s.data() + 32, 0x7FFFFFF0);
  FatBootInfo info;
  ParseFatBootSector(info, s.data());
  EXPECT_EQ(info.reservedSectors, 0x8000u);
  EXPECT_EQ(info.fatSize, 0x8001u);
  // Root entries not a multiple of 16 still need their last, partial sector.
  info = {};
  ASSERT_TRUE(ParseFatBootSector(info, SmallFatBpb(4, 1, 2, 17, 8192, 6).data()));
  EXPECT_EQ(info.rootDirSectors, 2);
}

}  // namespace
}  // namespace corvan
