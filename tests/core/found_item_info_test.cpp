#include <gtest/gtest.h>

#include <array>

#include "core/FoundItemInfo.h"

namespace corvan {
namespace {

TEST(FoundItemInfo, SeventyThreeBytesAtTheirOffsets) {
  FoundItemInfo r;
  r.size = 0x1122334455667788ULL;
  r.location = 0x00000001AABBCCDDULL;  // an Advance sector over bytes 24-31
  r.parentId = 5;
  r.itemId = 0x00FFFFFF;
  r.attribute = kItemFile;
  r.modifiedTime = 0x01D0000000000001ULL;
  r.creationTime = 0x01C0000000000002ULL;
  r.flags = kItemDeleted | kItemCompressed;
  r.runFlags = kItemRunsKept;
  std::array<std::uint8_t, kFoundItemInfoSize> b;
  b.fill(0xEE);
  r.Encode(b);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(b[i], 0) << i;
  EXPECT_EQ(b[16], 0x88);
  EXPECT_EQ(b[23], 0x11);
  EXPECT_EQ(b[24], 0xDD);
  EXPECT_EQ(b[28], 0x01);
  EXPECT_EQ(b[32], 5);
  EXPECT_EQ(b[36], 0xFF);
  EXPECT_EQ(b[38], 0xFF);
  EXPECT_EQ(b[39], 0x00);
  for (int i = 40; i < 44; ++i) EXPECT_EQ(b[i], 0) << i;  // name reference slot
  EXPECT_EQ(b[44], 0x20);
  EXPECT_EQ(b[45], 0x01);
  EXPECT_EQ(b[52], 0x01);
  EXPECT_EQ(b[53], 0x02);
  EXPECT_EQ(b[60], 0x01);
  EXPECT_EQ(b[61], 0x03);
  EXPECT_EQ(b[62], 0);
  EXPECT_EQ(b[72], 0x80);
  EXPECT_EQ(FoundItemInfo::Decode(b), r);
}

TEST(FoundItemInfo, PointerSlotsAreIgnoredOnReading) {
  std::array<std::uint8_t, kFoundItemInfoSize> b{};
  for (int i = 0; i < 8; ++i) b[i] = 0xAB;
  for (int i = 40; i < 44; ++i) b[i] = 0xCD;
  b[36] = 7;
  const FoundItemInfo r = FoundItemInfo::Decode(b);
  EXPECT_EQ(r.itemId, 7u);
  std::array<std::uint8_t, kFoundItemInfoSize> again;
  r.Encode(again);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(again[i], 0);
  for (int i = 40; i < 44; ++i) EXPECT_EQ(again[i], 0);
}

}  // namespace
}  // namespace corvan
