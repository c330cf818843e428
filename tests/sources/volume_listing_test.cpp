// Volumes that the tables describe imperfectly: an exFAT volume whose main
// boot sector is damaged, a GPT entry without a name, and volumes that the
// tables make larger than the disk or place beyond its end.
#include <gtest/gtest.h>

#include <filesystem>

#include "sources/PartitionWalk.h"
#include "sources/VirtualDiskImage.h"
#include "sources/image_test_support.h"
#include "support/FileSectorSource.h"
#include "support/SyntheticDisk.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;
using test::OverlaySource;
using test::PutGptEntry;
using test::PutMbrEntry;
using test::SyntheticDisk;

std::uint32_t LE32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Walks `disk` and builds the list as the source page does.
SourceList ListOf(SectorSource& disk) {
  SourceList list;
  list.m_nDiskSectors = disk.SectorCount();
  ScanPartitions(list, disk);
  BuildSourceList(list, kImageVmware, 0);
  return list;
}

const PartitionRecord& Volume(const SourceList& list, std::size_t n) { return *list.m_sources.at(n)->partition; }

// ---- exFAT with its main boot sector damaged ----

// The corpus exFAT volume at sector 2048 of a disk built around it, its main
// boot sector zeroed. Its backup boot sector (sector 12 of the volume, by the
// exFAT definition) still says what it is; the geometry expected is that of
// the volume image's own boot sector at the published offsets.
TEST(DamagedExFat, TypedFromTheBackupBootSector) {
  const fs::path image = test::CorpusDir() / "exfat.img";
  if (!fs::exists(image)) GTEST_SKIP() << "corpus not unpacked";
  const std::vector<std::uint8_t> volume = test::FileBytes(image, 0, fs::file_size(image));
  const std::uint64_t sectors = volume.size() / 512;
  const std::uint8_t* boot = volume.data();

  for (const bool gpt : {false, true}) {
    SCOPED_TRACE(gpt ? "GPT" : "MBR");
    SyntheticDisk d(2048 + sectors + 64);
    std::copy(volume.begin(), volume.end(), d.Sector(2048));
    std::fill_n(d.Sector(2048), 512, 0);
    if (gpt) {
      test::PutProtectiveMbr(d.Sector(0), static_cast<std::uint32_t>(d.Bytes().size() / 512));
      test::PutGptHeader(d.Sector(1), 2, 4, 128);
      PutGptEntry(d.Sector(2), 2048, 2048 + sectors - 1, u"Basic data partition");
    } else {
      PutMbrEntry(d.Sector(0), 0, 0x07, 2048, static_cast<std::uint32_t>(sectors));
    }
    auto disk = d.Source();
    const SourceList list = ListOf(*disk);
    ASSERT_EQ(list.m_sources.size(), 2u);
    const PartitionRecord& p = Volume(list, 1);
    EXPECT_EQ(p.fileSystemKind, kFsExFat);
    EXPECT_EQ(p.fileSystemText, u"exFAT");
    EXPECT_EQ(p.label, u"VirtualVol");
    EXPECT_EQ(p.startSector, 2048u);
    EXPECT_EQ(p.sectorCount, sectors);
    EXPECT_EQ(p.reservedSectors, LE32(boot + 80));  // FatOffset
    EXPECT_EQ(p.fatSize, LE32(boot + 84));          // FatLength
    EXPECT_EQ(p.rootCluster, LE32(boot + 96));      // FirstClusterOfRootDirectory
    EXPECT_EQ(p.sectorsPerCluster, 1u << boot[109]);
    EXPECT_EQ(p.ntfsSectorsPerCluster, 0u);
  }
}

TEST(DamagedExFat, NoBackupLeavesTheTypeTableAsItIs) {
  // Both copies gone: type 0x07 is NTFS, a FAT type stays FAT, a GPT entry
  // names nothing. An exFAT backup behind a FAT type does not make it exFAT.
  SyntheticDisk d(12288);
  PutMbrEntry(d.Sector(0), 0, 0x07, 2048, 2048);
  PutMbrEntry(d.Sector(0), 1, 0x0C, 4096, 2048);
  test::PutExFatBoot(d.Sector(4096 + 12), 2048, 128, 8, 100, 4, 3);
  PutMbrEntry(d.Sector(0), 2, 0x07, 6144, 2048);
  test::PutExFatBoot(d.Sector(6144 + 12), 2048, 128, 8, 100, 4, 3);
  d.Sector(6144 + 12)[511] = 0;  // a backup without its signature is not trusted
  auto disk = d.Source();
  const SourceList list = ListOf(*disk);
  ASSERT_EQ(list.m_sources.size(), 4u);
  EXPECT_EQ(Volume(list, 1).fileSystemText, u"NTFS");
  EXPECT_EQ(Volume(list, 2).fileSystemText, u"FAT32");
  EXPECT_EQ(Volume(list, 2).fatSize, 0u) << "geometry of a FAT volume never comes from an exFAT sector";
  EXPECT_EQ(Volume(list, 3).fileSystemText, u"NTFS");
}

// ---- GPT entries without a name ----

// The corpus GPT disk (manifest: NTFS at 2048 for 98304 sectors, FAT32 at
// 102400 for 81920, both typed Microsoft basic data) with the name of its
// entries erased: a name is optional in a GPT entry, so the list must not
// change.
TEST(UnnamedGptEntries, ListLikeNamedOnes) {
  const fs::path gpt = test::DisksDir() / "gpt.vmdk";
  if (!fs::exists(gpt)) GTEST_SKIP() << "corpus not unpacked";
  const MountResult mount = MountImageFile(kImageVmware, gpt);
  ASSERT_TRUE(mount.mounted);
  auto disk = std::make_shared<OverlaySource>(mount.image);
  std::uint8_t* entries = disk->Sector(2);
  ASSERT_EQ(std::memcmp(entries, test::kGptBasicDataType, 16), 0);
  for (int i = 0; i < 2; ++i) std::fill_n(entries + 128 * i + 56, 72, 0);

  const SourceList list = ListOf(*disk);
  EXPECT_EQ(list.m_bNoPartition, 0u);
  const auto layout = test::ManifestLayout("gpt");
  ASSERT_EQ(layout.size(), 2u);
  ASSERT_EQ(list.m_sources.size(), 3u);
  for (std::size_t i = 0; i < layout.size(); ++i) {
    EXPECT_EQ(Volume(list, i + 1).startSector, layout[i].startSector);
    EXPECT_EQ(Volume(list, i + 1).sectorCount, layout[i].sectors);
  }
  EXPECT_EQ(Volume(list, 1).fileSystemText, u"NTFS");
  EXPECT_EQ(Volume(list, 2).fileSystemText, u"FAT32");
}

TEST(UnnamedGptEntries, TheTypeSaysWhatAnUnnamedEntryIs) {
  SyntheticDisk d(8192);
  test::PutProtectiveMbr(d.Sector(0), 8192);
  test::PutGptHeader(d.Sector(1), 2, 4, 128);
  PutGptEntry(d.Sector(2), 2048, 4095, u"");
  test::PutGptTypeGuid(d.Sector(2), test::kGptBasicDataType);
  test::PutNtfsBoot(d.Sector(2048), 8, 2047, 4, 2);
  PutGptEntry(d.Sector(2) + 128, 4096, 6143, u"");  // its volumes are the LDM database's
  test::PutGptTypeGuid(d.Sector(2) + 128, test::kGptLdmDataType);
  test::PutNtfsBoot(d.Sector(4096), 8, 2047, 4, 2);
  PutGptEntry(d.Sector(2) + 256, 6144, 8000, u"");  // all-zero type: an unused entry
  std::fill_n(d.Sector(2) + 256, 16, 0);
  test::PutNtfsBoot(d.Sector(6144), 8, 1800, 4, 2);
  auto disk = d.Source();
  const SourceList list = ListOf(*disk);
  EXPECT_EQ(test::NodeStarts(list), (std::vector<std::uint64_t>{2048}));
  EXPECT_EQ(list.m_bNoPartition, 0u);
}

// ---- volumes larger than the disk ----

// The corpus MBR disk with one 4-byte change: the NTFS volume (manifest:
// 2048, 98304 sectors; the MBR's first entry) claims 0xFFFFFFFF sectors,
// 2 TiB on a disk of 368640. It ends where the disk ends; the volumes of
// the extended chain stay as the manifest has them.
TEST(VolumesPastTheDiskEnd, MbrVolumeIsCutAtTheDiskEnd) {
  const fs::path flat = test::DisksDir() / "mbr-mflat-flat.vmdk";
  if (!fs::exists(flat)) GTEST_SKIP() << "corpus not unpacked";
  auto disk = std::make_shared<OverlaySource>(std::make_shared<test::FileSectorSource>(flat));
  ASSERT_EQ(disk->SectorCount(), 368640u);
  ASSERT_EQ(LE32(disk->Sector(0) + 0x1BE + 8), 2048u);
  test::SetLE32(disk->Sector(0) + 0x1BE + 12, 0xFFFFFFFFu);

  const SourceList list = ListOf(*disk);
  const auto layout = test::ManifestLayout("mbr");
  ASSERT_EQ(layout.size(), 4u);
  ASSERT_EQ(list.m_sources.size(), 5u);
  for (std::size_t i = 1; i < 4; ++i) {
    EXPECT_EQ(Volume(list, i + 1).startSector, layout[i].startSector);
    EXPECT_EQ(Volume(list, i + 1).sectorCount, layout[i].sectors);
  }
  const PartitionRecord& p = Volume(list, 1);
  EXPECT_EQ(p.startSector, 2048u);
  EXPECT_EQ(p.sectorCount, 368640u - 2048u);
  EXPECT_EQ(p.endSector, 368640u);
  EXPECT_EQ(p.sizeInBytes, (368640u - 2048u) * 512);
  EXPECT_EQ(p.sizeText, u"179.00 MB");
  EXPECT_EQ(p.fileSystemText, u"NTFS");
}

TEST(VolumesPastTheDiskEnd, GptVolumeIsCutAndOneBeyondIsNotListed) {
  SyntheticDisk d(16384);
  test::PutProtectiveMbr(d.Sector(0), 16384);
  test::PutGptHeader(d.Sector(1), 2, 4, 128);
  PutGptEntry(d.Sector(2), 2048, std::uint64_t{1} << 63, u"Basic data partition");
  test::PutNtfsBoot(d.Sector(2048), 8, 14000, 4, 2);
  auto disk = d.Source();
  const SourceList list = ListOf(*disk);
  ASSERT_EQ(list.m_sources.size(), 2u);
  const PartitionRecord& p = Volume(list, 1);
  EXPECT_EQ(p.startSector, 2048u);
  EXPECT_EQ(p.sectorCount, 16384u - 2048u);
  EXPECT_EQ(p.endSector, 16384u);
  EXPECT_EQ(p.sizeText, u"7.00 MB");
}

// A volume that starts at or beyond the disk's end has no sector on this
// disk: it is left out of the list. When it was the only one, the disk is
// listed alone, as for a disk without volumes.
TEST(VolumesPastTheDiskEnd, VolumeStartingBeyondTheEndIsLeftOut) {
  SyntheticDisk d(8192);
  PutMbrEntry(d.Sector(0), 0, 0x07, 2048, 2048);
  test::PutNtfsBoot(d.Sector(2048), 8, 2047, 4, 2);
  PutMbrEntry(d.Sector(0), 1, 0x07, 8192, 4096);   // starts at the end
  PutMbrEntry(d.Sector(0), 2, 0x0C, 900000, 100);  // far beyond it
  auto disk = d.Source();
  SourceList list = ListOf(*disk);
  ASSERT_EQ(list.m_sources.size(), 2u);
  EXPECT_EQ(Volume(list, 1).startSector, 2048u);
  EXPECT_EQ(Volume(list, 1).sectorCount, 2048u);
  EXPECT_EQ(list.m_bNoPartition, 0u);

  SyntheticDisk lone(4096);
  PutMbrEntry(lone.Sector(0), 0, 0x07, 5000, 2048);
  auto loneDisk = lone.Source();
  list = ListOf(*loneDisk);
  EXPECT_TRUE(list.m_partitions.empty());
  EXPECT_EQ(list.m_bNoPartition, 1u);
  EXPECT_EQ(list.m_sources.size(), 1u);

  // Nodes handed to the builder directly are cut to the disk size it is given.
  SourceList built;
  built.m_nDiskSectors = 3000;
  PartitionNode node;
  node.typeCode = 0x07;
  node.startSector = 1000;
  node.sectorCount = 5000;
  built.m_partitions.push_back(node);
  node.startSector = 3000;
  built.m_partitions.push_back(node);
  BuildSourceList(built, kImageVmware, 0);
  ASSERT_EQ(built.m_sources.size(), 2u);
  EXPECT_EQ(Volume(built, 1).sectorCount, 2000u);
  EXPECT_EQ(Volume(built, 1).endSector, 3000u);
  EXPECT_EQ(Volume(built, 1).sizeText, FormatSizeText(2000));
}

}  // namespace
}  // namespace corvan
