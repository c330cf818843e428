// Byte images of the stored source records, checked at the offsets of their
// file format, and the size text.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "sources/SourceRecords.h"
#include "support/SyntheticDisk.h"

namespace corvan {
namespace {

using test::SetLE16;
using test::SetLE32;
using test::SetLE64;

std::u16string Utf16At(const std::uint8_t* p, std::size_t units) {
  std::u16string s;
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t c = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    if (c == 0) break;
    s.push_back(c);
  }
  return s;
}

bool AllZero(const std::uint8_t* p, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i)
    if (p[i] != 0) return false;
  return true;
}

TEST(SourceRecordBytes, SourceRecordLayout) {
  SourceRecord r;
  r.index = 0x0203;
  r.flags = 0x10;
  r.kind = kSourceImageLostVolume;
  r.path = u"/img/d\u00e9.vmdk";
  r.partition = std::make_unique<PartitionRecord>();
  std::array<std::uint8_t, kSourceRecordSize> b;
  b.fill(0xCC);
  r.Encode(b);
  EXPECT_TRUE(AllZero(b.data(), 4)) << "next pointer slot";
  EXPECT_EQ(b[4], 0x03);
  EXPECT_EQ(b[5], 0x02);
  EXPECT_EQ(b[6], 0x10);
  EXPECT_EQ(b[7], 11);
  EXPECT_EQ(Utf16At(b.data() + 8, 260), u"/img/d\u00e9.vmdk");
  EXPECT_EQ(b[8 + 2 * 6], 0xE9);  // UTF-16LE, low byte first
  EXPECT_EQ(b[8 + 2 * 6 + 1], 0x00);
  EXPECT_TRUE(AllZero(b.data() + 8 + 2 * 13, 520 - 26)) << "text zero-filled behind its terminator";
  EXPECT_TRUE(AllZero(b.data() + 528, 4)) << "payload pointer slot";
}

TEST(SourceRecordBytes, SourceRecordDecodeIgnoresPointerSlots) {
  std::array<std::uint8_t, kSourceRecordSize> b{};
  SetLE32(b.data(), 0xDEADBEEF);
  SetLE16(b.data() + 4, 7);
  b[6] = 0x01;
  b[7] = kSourceVolume;
  SetLE16(b.data() + 8, u'C');
  SetLE32(b.data() + 528, 0x12345678);
  const SourceRecord r = SourceRecord::Decode(b);
  EXPECT_EQ(r.index, 7);
  EXPECT_EQ(r.flags, 1);
  EXPECT_EQ(r.kind, kSourceVolume);
  EXPECT_EQ(r.path, u"C");
  EXPECT_FALSE(r.disk);
  EXPECT_FALSE(r.partition);
}

TEST(SourceRecordBytes, DiskRecordLayout) {
  DiskRecord d;
  d.driveNumber = 0x80;
  d.sectorCount = 0x0102030405060708ull;
  d.sizeText = u"180.00 MB";
  d.nameText = u"Virtual Drive";
  std::array<std::uint8_t, kDiskRecordSize> b;
  b.fill(0xCC);
  d.Encode(b);
  EXPECT_EQ(b[0], 0x80);
  const std::array<std::uint8_t, 8> le{8, 7, 6, 5, 4, 3, 2, 1};
  EXPECT_TRUE(std::equal(le.begin(), le.end(), b.begin() + 1));
  EXPECT_EQ(Utf16At(b.data() + 9, 32), u"180.00 MB");
  EXPECT_TRUE(AllZero(b.data() + 9 + 18, 64 - 18));
  EXPECT_EQ(Utf16At(b.data() + 73, 105), u"Virtual Drive");
  EXPECT_TRUE(AllZero(b.data() + 283, 4)) << "identity pointer slot";

  const DiskRecord back = DiskRecord::Decode(b);
  EXPECT_EQ(back.driveNumber, 0x80);
  EXPECT_EQ(back.sectorCount, 0x0102030405060708ull);
  EXPECT_EQ(back.sizeText, u"180.00 MB");
  EXPECT_EQ(back.nameText, u"Virtual Drive");
}

// The payload a stored record carries follows its kind byte: the 287-byte
// disk record for kinds 0, 4, 5, 6, 8 and 9, the partition record for the rest.
TEST(SourceRecordBytes, WholeDiskKindsAreTheOnesWithADiskPayload) {
  for (unsigned kind = 0; kind < 256; ++kind) {
    const bool disk = kind == 0 || kind == 4 || kind == 5 || kind == 6 || kind == 8 || kind == 9;
    EXPECT_EQ(IsWholeDiskKind(static_cast<std::uint8_t>(kind)), disk) << kind;
  }
}

TEST(SourceRecordBytes, PartitionRecordLayout) {
  PartitionRecord p;
  p.reserved = 0;
  p.name = u"VMDK-Vol 1";
  p.label = u"VirtualVol";
  p.typeText = u"FIXED";
  p.sizeInBytes = 81920ull * 512;
  p.fileSystemText = u"FAT32";
  p.diskNumber = 0xFF;
  p.startSector = 104448;
  p.sectorCount = 81920;
  p.endSector = 104448 + 81920;
  p.fileSystemKind = kFsFat32;
  p.fatSize = 0x11223344;
  p.reservedSectors = 32;
  p.rootDirSectors = 0xA1B2;
  p.sectorsPerCluster = 8;
  p.rootCluster = 2;
  p.clusterArray = {5, 6, 7};
  p.clusterArrayCount = 3;
  p.mftSector = 0x0A0B0C0D0E0F1011ull;
  p.mftMirrorSector = 0x1112131415161718ull;
  p.ntfsSectorsPerCluster = 0x0102;
  p.sizeText = u"40.00 MB";
  std::array<std::uint8_t, kPartitionRecordSize> b;
  b.fill(0xCC);
  p.Encode(b);

  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(Utf16At(b.data() + 1, 32), u"VMDK-Vol 1");
  EXPECT_EQ(Utf16At(b.data() + 65, 33), u"VirtualVol");
  EXPECT_EQ(Utf16At(b.data() + 131, 36), u"FIXED");
  EXPECT_EQ(b[203], 0x00);  // 41943040 = 0x02800000
  EXPECT_EQ(b[205], 0x80);
  EXPECT_EQ(b[206], 0x02);
  EXPECT_EQ(Utf16At(b.data() + 211, 32), u"FAT32");
  EXPECT_EQ(b[275], 0) << "spare byte behind the file-system text";
  EXPECT_EQ(b[276], 0xFF);
  EXPECT_EQ(b[277], 0x00);  // 104448 = 0x019800
  EXPECT_EQ(b[278], 0x98);
  EXPECT_EQ(b[279], 0x01);
  EXPECT_EQ(b[285 + 1], 0x40);  // 81920 = 0x014000
  EXPECT_EQ(b[285 + 2], 0x01);
  EXPECT_EQ(b[293 + 1], 0xD8);  // 186368 = 0x02D800
  EXPECT_EQ(b[293 + 2], 0x02);
  EXPECT_EQ(b[301], 2);
  EXPECT_EQ(b[302], 0x44);
  EXPECT_EQ(b[305], 0x11);
  EXPECT_EQ(b[306], 32);
  EXPECT_EQ(b[310], 0xB2);
  EXPECT_EQ(b[311], 0xA1);
  EXPECT_EQ(b[312], 8);
  EXPECT_EQ(b[313], 2);
  EXPECT_TRUE(AllZero(b.data() + 317, 4)) << "cluster-array pointer slot";
  EXPECT_EQ(b[321], 3);
  EXPECT_EQ(b[325], 0x11);
  EXPECT_EQ(b[332], 0x0A);
  EXPECT_EQ(b[333], 0x18);
  EXPECT_EQ(b[340], 0x11);
  EXPECT_EQ(b[341], 0x02);
  EXPECT_EQ(b[342], 0x01);
  EXPECT_EQ(Utf16At(b.data() + 343, 32), u"40.00 MB");
  EXPECT_EQ(b[406], 0);
}

TEST(SourceRecordBytes, PartitionRecordDecodeFromBytes) {
  std::array<std::uint8_t, kPartitionRecordSize> b{};
  const std::u16string name = u"VHD-Vol 0";
  for (std::size_t i = 0; i < name.size(); ++i) SetLE16(b.data() + 1 + 2 * i, name[i]);
  SetLE16(b.data() + 211, u'N');
  SetLE16(b.data() + 213, u'T');
  b[276] = 0x81;
  SetLE64(b.data() + 277, 2048);
  SetLE64(b.data() + 285, 98304);
  SetLE64(b.data() + 293, 100352);
  b[301] = kFsNtfs;
  SetLE32(b.data() + 317, 0xFEEDFACE);  // a pointer of the run that wrote it
  SetLE32(b.data() + 321, 12);
  SetLE64(b.data() + 325, 32);
  SetLE64(b.data() + 333, 16);
  SetLE16(b.data() + 341, 8);
  const PartitionRecord p = PartitionRecord::Decode(b);
  EXPECT_EQ(p.name, name);
  EXPECT_EQ(p.fileSystemText, u"NT");
  EXPECT_EQ(p.diskNumber, 0x81);
  EXPECT_EQ(p.startSector, 2048u);
  EXPECT_EQ(p.sectorCount, 98304u);
  EXPECT_EQ(p.endSector, 100352u);
  EXPECT_EQ(p.fileSystemKind, kFsNtfs);
  EXPECT_TRUE(p.clusterArray.empty()) << "a stored pointer is never followed";
  EXPECT_EQ(p.clusterArrayCount, 12u);
  EXPECT_EQ(p.mftSector, 32u);
  EXPECT_EQ(p.mftMirrorSector, 16u);
  EXPECT_EQ(p.ntfsSectorsPerCluster, 8);
}

TEST(SourceRecordBytes, OverlongTextKeepsItsTerminator) {
  PartitionRecord p;
  p.label = std::u16string(40, u'x');  // field holds 33 units
  std::array<std::uint8_t, kPartitionRecordSize> b{};
  p.Encode(b);
  EXPECT_EQ(Utf16At(b.data() + 65, 33).size(), 32u);
  EXPECT_EQ(b[65 + 64], 0);
  EXPECT_EQ(b[65 + 65], 0);
  EXPECT_TRUE(AllZero(b.data() + 131, 72)) << "the label does not spill into the type text";
}

TEST(FormatSizeText, PowersOf1024) {
  EXPECT_EQ(FormatSizeText(0), u"0.00 KB");
  EXPECT_EQ(FormatSizeText(1), u"0.50 KB");
  EXPECT_EQ(FormatSizeText(2047), u"1023.50 KB");
  EXPECT_EQ(FormatSizeText(2048), u"1.00 MB");
  EXPECT_EQ(FormatSizeText(2097151), u"1024.00 MB");
  EXPECT_EQ(FormatSizeText(2097152), u"1.00 GB");
  EXPECT_EQ(FormatSizeText(368640), u"180.00 MB");
  EXPECT_EQ(FormatSizeText(3ull << 21), u"3.00 GB");
}

TEST(FormatSizeText, HugeCountsDoNotWrap) {
  // 2^55 sectors is 2^64 bytes: a 64-bit byte product would be 0.
  EXPECT_EQ(FormatSizeText(1ull << 55), u"17179869184.00 GB");
  EXPECT_LE(FormatSizeText(UINT64_MAX).size(), 32u);
}

}  // namespace
}  // namespace corvan
