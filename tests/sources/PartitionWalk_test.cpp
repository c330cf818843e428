// The MBR walk and the source list: the corpus disk against its manifest,
// and built disks for the chain's edge cases.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/Prompt.h"
#include "sources/PartitionWalk.h"
#include "sources/VirtualDiskImage.h"
#include "support/FileSectorSource.h"
#include "support/SyntheticDisk.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

using test::PutMbrEntry;
using test::SyntheticDisk;

class RecordingPrompt final : public Prompt {
 public:
  int MessageBox(const std::string& text, unsigned picture, unsigned type) override {
    texts.push_back(text);
    pictures.push_back(picture);
    return kIdOk;
  }
  std::vector<std::string> texts;
  std::vector<unsigned> pictures;
};

class PartitionWalkTest : public ::testing::Test {
 protected:
  // The disk the walks read; an empty one until a test sets it.
  SectorSource& Disk() {
    if (!mounted) mounted = std::make_shared<MemorySectorSource>(std::vector<std::uint8_t>{});
    return *mounted;
  }
  std::shared_ptr<SectorSource> mounted;

  // Walks the mounted disk and builds the list as the source page does.
  void WalkAndBuild(std::uint32_t imageType = kImageVmware) {
    list.m_nDiskSectors = mounted ? mounted->SectorCount() : 0;
    ScanPartitions(list, Disk(), &prompt);
    BuildSourceList(list, imageType, 0);
  }
  std::vector<std::uint64_t> Starts() const { return test::NodeStarts(list); }

  SourceList list;
  RecordingPrompt prompt;
};

// ---- the corpus MBR disk ----

struct ManifestVolume {
  std::string image;
  std::uint64_t start;
  std::uint64_t count;
  std::uint32_t type;
};

// The "mbr" layout of manifest.json: [image, start, count, type] rows.
std::vector<ManifestVolume> ReadMbrLayout(const std::filesystem::path& manifest) {
  const std::string text = test::ReadWholeFile(manifest);
  std::vector<ManifestVolume> rows;
  std::size_t pos = text.find("\"layout\"", text.find("\"mbr\""));
  const std::size_t end = text.find("\"containers\"", pos);
  while ((pos = text.find('"', text.find('[', pos + 1))) < end) {
    const std::size_t q = text.find('"', pos + 1);
    ManifestVolume v;
    v.image = text.substr(pos + 1, q - pos - 1);
    const char* p = text.c_str() + q + 1;
    char* next;
    v.start = std::strtoull(p + 1, &next, 10);
    v.count = std::strtoull(next + 1, &next, 10);
    v.type = static_cast<std::uint32_t>(std::strtoul(next + 1, &next, 10));
    rows.push_back(v);
    pos = static_cast<std::size_t>(next - text.c_str());
  }
  return rows;
}

std::array<std::uint8_t, 512> BootSectorOf(const std::filesystem::path& image) {
  std::array<std::uint8_t, 512> s{};
  std::ifstream in(image, std::ios::binary);
  in.read(reinterpret_cast<char*>(s.data()), s.size());
  return s;
}

std::uint16_t LE16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t LE32(const std::uint8_t* p) { return LE16(p) | (static_cast<std::uint32_t>(LE16(p + 2)) << 16); }
std::uint64_t LE64(const std::uint8_t* p) { return LE32(p) | (static_cast<std::uint64_t>(LE32(p + 4)) << 32); }

TEST_F(PartitionWalkTest, CorpusMbrDiskMatchesManifest) {
  const auto corpus = test::CorpusDir();
  const auto raw = corpus / "disks" / "mbr-mflat-flat.vmdk";
  if (!std::filesystem::exists(raw)) GTEST_SKIP() << "corpus not unpacked: " << raw;
  const auto layout = ReadMbrLayout(corpus / "manifest.json");
  ASSERT_EQ(layout.size(), 4u);

  auto source = std::make_shared<test::FileSectorSource>(raw);
  ASSERT_TRUE(source->IsOpen());
  mounted = source;
  WalkAndBuild(kImageVmware);

  EXPECT_EQ(list.m_bNoPartition, 0u);
  EXPECT_TRUE(prompt.texts.empty());
  ASSERT_EQ(list.m_sources.size(), layout.size() + 1);

  const SourceRecord& disk = *list.m_sources[0];
  EXPECT_EQ(disk.kind, kSourceDisk);
  EXPECT_EQ(disk.index, 0);
  ASSERT_TRUE(disk.disk);
  EXPECT_EQ(disk.disk->driveNumber, 0x80);
  EXPECT_EQ(disk.disk->sectorCount, 188743680u / 512);
  EXPECT_EQ(disk.disk->sizeText, u"180.00 MB");  // the README's 180 MiB disk

  for (std::size_t i = 0; i < layout.size(); ++i) {
    SCOPED_TRACE(layout[i].image);
    const ManifestVolume& v = layout[i];
    const SourceRecord& s = *list.m_sources[i + 1];
    EXPECT_EQ(s.kind, kSourceVolume);
    EXPECT_EQ(s.index, i + 1);
    ASSERT_TRUE(s.partition);
    const PartitionRecord& p = *s.partition;
    EXPECT_EQ(list.m_partitions[i].typeCode, v.type);
    EXPECT_EQ(p.startSector, v.start);
    EXPECT_EQ(p.sectorCount, v.count);
    EXPECT_EQ(p.endSector, v.start + v.count);
    EXPECT_EQ(p.sizeInBytes, v.count * 512);
    EXPECT_EQ(p.name, u"VMDK-Vol " + std::u16string(1, static_cast<char16_t>(u'0' + i)));
    EXPECT_EQ(p.label, u"VirtualVol");
    EXPECT_EQ(p.typeText, u"FIXED");
    EXPECT_EQ(p.diskNumber, 0xFF);
    EXPECT_EQ(p.sizeText, FormatSizeText(v.count));

    // Geometry as the volume image's own boot sector gives it (offsets of the
    // published BPB, exFAT and NTFS boot-sector layouts).
    const auto boot = BootSectorOf(corpus / v.image);
    if (v.image == "ntfs.img") {
      EXPECT_EQ(p.fileSystemKind, kFsNtfs);
      EXPECT_EQ(p.fileSystemText, u"NTFS");
      EXPECT_EQ(p.ntfsSectorsPerCluster, 8) << "4 KiB clusters";
      EXPECT_EQ(p.mftSector, 8 * LE64(boot.data() + 48));
      EXPECT_EQ(p.mftMirrorSector, 8 * LE64(boot.data() + 56));
      EXPECT_EQ(p.fatSize | p.reservedSectors | p.rootDirSectors | p.sectorsPerCluster | p.rootCluster, 0u);
    } else if (v.image == "fat32.img") {
      EXPECT_EQ(p.fileSystemKind, kFsFat32);
      EXPECT_EQ(p.fileSystemText, u"FAT32");
      EXPECT_EQ(p.sectorsPerCluster, 1) << "1 sector per cluster";
      EXPECT_EQ(p.reservedSectors, LE16(boot.data() + 14));
      EXPECT_EQ(p.fatSize, LE32(boot.data() + 36));
      EXPECT_EQ(p.rootCluster, LE32(boot.data() + 44));
      EXPECT_EQ(p.rootDirSectors, 0);
    } else if (v.image == "fat16.img") {
      EXPECT_EQ(p.fileSystemKind, kFsFat16);
      EXPECT_EQ(p.fileSystemText, u"FAT");
      EXPECT_EQ(p.sectorsPerCluster, boot[13]);
      EXPECT_EQ(p.reservedSectors, LE16(boot.data() + 14));
      EXPECT_EQ(p.fatSize, LE16(boot.data() + 22));
      ASSERT_EQ(LE16(boot.data() + 17) % 16, 0);
      EXPECT_EQ(p.rootDirSectors, LE16(boot.data() + 17) / 16);
      EXPECT_EQ(p.rootCluster, 0u);
    } else if (v.image == "exfat.img") {
      EXPECT_EQ(v.type, 0x07u) << "the manifest lists exFAT under type 7";
      EXPECT_EQ(p.fileSystemKind, kFsExFat);
      EXPECT_EQ(p.fileSystemText, u"exFAT");
      EXPECT_EQ(p.reservedSectors, LE32(boot.data() + 80));  // FatOffset
      EXPECT_EQ(p.fatSize, LE32(boot.data() + 84));          // FatLength
      EXPECT_EQ(p.rootCluster, LE32(boot.data() + 96));
      EXPECT_EQ(p.sectorsPerCluster, 1u << boot[109]);
      EXPECT_EQ(p.mftSector | p.mftMirrorSector | p.ntfsSectorsPerCluster, 0u);
    } else {
      ADD_FAILURE() << "volume not in the test's list";
    }
    if (p.fileSystemKind != kFsNtfs) {
      EXPECT_EQ(p.mftSector | p.mftMirrorSector | p.ntfsSectorsPerCluster, 0u);
    }
  }
}

TEST_F(PartitionWalkTest, DiskOnlyListHoldsTheDiskRecord) {
  SyntheticDisk d(4096);
  PutMbrEntry(d.Sector(0), 0, 0x07, 2048, 2048);
  test::PutNtfsBoot(d.Sector(2048), 8, 2047, 4, 2);
  mounted = d.Source();
  list.m_nDiskSectors = 4096;
  ScanPartitions(list, Disk());
  BuildSourceList(list, kImageVirtualPc, 1);
  ASSERT_EQ(list.m_sources.size(), 1u);
  EXPECT_EQ(list.m_sources[0]->kind, kSourceDisk);
  EXPECT_EQ(list.m_sources[0]->disk->sizeText, u"2.00 MB");
}

TEST_F(PartitionWalkTest, RebuildDropsTheOldListAndSelection) {
  SyntheticDisk d(4096);
  PutMbrEntry(d.Sector(0), 0, 0x07, 2048, 2048);
  mounted = d.Source();
  WalkAndBuild(kImageVirtualBox);
  ASSERT_EQ(list.m_sources.size(), 2u);
  EXPECT_EQ(list.m_sources[1]->partition->name, u"VDI-Vol 0");
  list.m_pSelectedSource = list.m_sources[1].get();
  BuildSourceList(list, kImageVirtualBox, 0);
  EXPECT_EQ(list.m_sources.size(), 2u);
  EXPECT_EQ(list.m_pSelectedSource, nullptr);
}

// ---- built MBR disks ----

// The chain of the published example: NTFS at 2048, an extended partition at
// E whose EBR holds FAT32 at E+63 and links to E+L, whose own entry is
// relative to E+L.
TEST_F(PartitionWalkTest, ExtendedChainLocatesLogicalVolumes) {
  constexpr std::uint32_t E = 8192, L = 4096;
  SyntheticDisk d(16384);
  PutMbrEntry(d.Sector(0), 0, 0x07, 2048, 4096);
  PutMbrEntry(d.Sector(0), 1, 0x83, 6144, 1024);  // not a type this program reads
  PutMbrEntry(d.Sector(0), 2, 0x0F, E, 8192);
  test::PutNtfsBoot(d.Sector(2048), 8, 4095, 4, 2);
  PutMbrEntry(d.Sector(E), 0, 0x0C, 63, 1000);
  PutMbrEntry(d.Sector(E), 1, 0x05, L, 2000);
  test::PutFat32Boot(d.Sector(E + 63), "MSWIN4.1", 1, 32, 300, 2, 1000);
  PutMbrEntry(d.Sector(E + L), 0, 0x06, 63, 500);
  test::PutFat16Boot(d.Sector(E + L + 63), "MSWIN4.1", 4, 1, 2, 512, 500);
  mounted = d.Source();
  WalkAndBuild(kImageVirtualPc);

  EXPECT_EQ(Starts(), (std::vector<std::uint64_t>{2048, E + 63, E + L + 63}));
  ASSERT_EQ(list.m_sources.size(), 4u);
  EXPECT_EQ(list.m_sources[1]->partition->name, u"VHD-Vol 0");
  EXPECT_EQ(list.m_sources[1]->index, 1);
  EXPECT_EQ(list.m_sources[2]->partition->fileSystemText, u"FAT32");
  EXPECT_EQ(list.m_sources[2]->partition->sectorCount, 1000u);
  EXPECT_EQ(list.m_sources[2]->partition->fatSize, 300u);
  EXPECT_EQ(list.m_sources[3]->partition->fileSystemText, u"FAT");
  EXPECT_EQ(list.m_sources[3]->partition->fileSystemKind, kFsFat16);
  EXPECT_EQ(list.m_sources[3]->partition->rootDirSectors, 32);
  EXPECT_EQ(list.m_sources[3]->partition->rootCluster, 0u);
  EXPECT_EQ(list.m_sources[3]->partition->name, u"VHD-Vol 2");
}

TEST_F(PartitionWalkTest, ChainLinkingToItselfEnds) {
  constexpr std::uint32_t E = 4096;
  SyntheticDisk d(8192);
  PutMbrEntry(d.Sector(0), 0, 0x07, 2048, 1024);
  PutMbrEntry(d.Sector(0), 1, 0x0F, E, 4000);
  PutMbrEntry(d.Sector(E), 0, 0x0B, 63, 100);
  PutMbrEntry(d.Sector(E), 1, 0x05, 0, 4000);  // the link names the EBR itself
  mounted = d.Source();
  WalkAndBuild();
  EXPECT_EQ(Starts(), (std::vector<std::uint64_t>{2048, E + 63}));
  EXPECT_EQ(list.m_sources.size(), 3u);
}

TEST_F(PartitionWalkTest, ChainLoopOfTwoEnds) {
  constexpr std::uint32_t E = 4096;
  SyntheticDisk d(8192);
  PutMbrEntry(d.Sector(0), 0, 0x0F, E, 4000);
  PutMbrEntry(d.Sector(E), 0, 0x07, 63, 100);
  PutMbrEntry(d.Sector(E), 1, 0x05, 1000, 100);  // to E+1000
  PutMbrEntry(d.Sector(E + 1000), 0, 0x07, 63, 100);
  PutMbrEntry(d.Sector(E + 1000), 1, 0x05, 0, 100);  // back to E
  mounted = d.Source();
  WalkAndBuild();
  EXPECT_EQ(Starts(), (std::vector<std::uint64_t>{E + 63, E + 1063}));
}

TEST_F(PartitionWalkTest, VeryLongChainStopsWithoutExhaustingTheStack) {
  // 20000 EBRs, each linking to the next sector: far more than any disk has.
  constexpr std::uint32_t base = 64, n = 20000;
  SyntheticDisk d(base + n + 1);
  PutMbrEntry(d.Sector(0), 0, 0x05, base, n);
  for (std::uint32_t i = 0; i < n; ++i) {
    PutMbrEntry(d.Sector(base + i), 0, 0x07, 0, 1);
    PutMbrEntry(d.Sector(base + i), 1, 0x05, i + 1, 1);
  }
  mounted = d.Source();
  WalkAndBuild();
  EXPECT_GT(list.m_partitions.size(), 100u);
  EXPECT_LT(list.m_partitions.size(), n);
  EXPECT_EQ(list.m_partitions.front().startSector, base);
}

TEST_F(PartitionWalkTest, UnknownTypesAndEmptyEntriesAreNotListed) {
  SyntheticDisk d(4096);
  PutMbrEntry(d.Sector(0), 0, 0x83, 2048, 1024);
  PutMbrEntry(d.Sector(0), 1, 0x07, 3072, 0);  // sector count 0
  mounted = d.Source();
  WalkAndBuild();
  EXPECT_TRUE(list.m_partitions.empty());
  EXPECT_EQ(list.m_bNoPartition, 1u);
  ASSERT_EQ(list.m_sources.size(), 1u);
  EXPECT_EQ(list.m_sources[0]->kind, kSourceDisk);
}

TEST_F(PartitionWalkTest, FileSystemFromTypeAndBootSector) {
  SyntheticDisk d(8192);
  PutMbrEntry(d.Sector(0), 0, 0x07, 1024, 1024);  // exFAT under type 7
  PutMbrEntry(d.Sector(0), 1, 0x01, 2048, 1024);  // FAT12
  PutMbrEntry(d.Sector(0), 2, 0x87, 3072, 1024);  // NTFS set member, no boot sector
  PutMbrEntry(d.Sector(0), 3, 0x0E, 4096, 1024);  // FAT16 LBA
  test::PutExFatBoot(d.Sector(1024), 1024, 128, 8, 100, 4, 3);
  test::PutFat16Boot(d.Sector(2048), "mkfs.fat", 1, 1, 3, 224, 1024);
  mounted = d.Source();
  WalkAndBuild();
  ASSERT_EQ(list.m_sources.size(), 5u);
  const PartitionRecord& ex = *list.m_sources[1]->partition;
  EXPECT_EQ(ex.fileSystemText, u"exFAT");
  EXPECT_EQ(ex.fileSystemKind, kFsExFat);
  EXPECT_EQ(ex.sectorsPerCluster, 8);
  EXPECT_EQ(ex.reservedSectors, 128u);
  EXPECT_EQ(ex.fatSize, 8u);
  EXPECT_EQ(ex.rootCluster, 4u);
  EXPECT_EQ(list.m_sources[2]->partition->fileSystemKind, kFsFat12);
  EXPECT_EQ(list.m_sources[2]->partition->fileSystemText, u"FAT");
  EXPECT_EQ(list.m_sources[2]->partition->rootDirSectors, 14);
  EXPECT_EQ(list.m_sources[3]->partition->fileSystemKind, kFsNtfs);
  EXPECT_EQ(list.m_sources[3]->partition->label, u"VirtualVol");
  EXPECT_EQ(list.m_sources[4]->partition->fileSystemKind, kFsFat16);
}

TEST_F(PartitionWalkTest, ExFatClusterSizeFromItsShift) {
  SyntheticDisk d(4096);
  PutMbrEntry(d.Sector(0), 0, 0x07, 1024, 1024);
  PutMbrEntry(d.Sector(0), 1, 0x07, 2048, 1024);
  PutMbrEntry(d.Sector(0), 2, 0x07, 3072, 1024);
  test::PutExFatBoot(d.Sector(1024), 1024, 128, 8, 0, 4, 3);     // ClusterCount 0
  test::PutExFatBoot(d.Sector(2048), 1024, 128, 8, 2, 4, 9);     // 256 sectors: no fit
  test::PutExFatBoot(d.Sector(3072), 1024, 128, 8, 100, 4, 7);   // 128 sectors
  mounted = d.Source();
  WalkAndBuild();
  ASSERT_EQ(list.m_sources.size(), 4u);
  EXPECT_EQ(list.m_sources[1]->partition->sectorsPerCluster, 8);
  EXPECT_EQ(list.m_sources[2]->partition->sectorsPerCluster, 0);
  EXPECT_EQ(list.m_sources[3]->partition->sectorsPerCluster, 128);
}

TEST_F(PartitionWalkTest, NtfsFieldsAndRawVolumes) {
  SyntheticDisk d(8192);
  PutMbrEntry(d.Sector(0), 0, 0x07, 2048, 2048);
  PutMbrEntry(d.Sector(0), 1, 0x07, 4096, 2048);
  test::PutNtfsBoot(d.Sector(2048), 8, 2047, 0x1234, 2);
  test::PutNtfsBoot(d.Sector(4096), 0xF4, 2047, 3, 1);  // 2 MiB clusters: 2^12 sectors
  mounted = d.Source();
  WalkAndBuild();
  ASSERT_EQ(list.m_sources.size(), 3u);
  const PartitionRecord& n = *list.m_sources[1]->partition;
  EXPECT_EQ(n.ntfsSectorsPerCluster, 8);
  EXPECT_EQ(n.mftSector, 8u * 0x1234);
  EXPECT_EQ(n.mftMirrorSector, 16u);
  const PartitionRecord& big = *list.m_sources[2]->partition;
  EXPECT_EQ(big.ntfsSectorsPerCluster, 4096);
  EXPECT_EQ(big.mftSector, 3u * 4096);

  // A node of a type outside the table whose boot sector is not exFAT:
  // "RAW" with no label.
  PartitionNode node;
  node.typeCode = 0x83;
  node.startSector = 10;
  node.sectorCount = 20;
  const PartitionRecord r = MakeVolumeRecord(node, 0, 0);
  EXPECT_EQ(r.fileSystemKind, kFsRaw);
  EXPECT_EQ(r.fileSystemText, u"RAW");
  EXPECT_TRUE(r.label.empty());
  EXPECT_TRUE(r.name.empty()) << "no image type, no name";
  EXPECT_EQ(r.endSector, 30u);
}

// ---- truncated and missing tables ----

TEST_F(PartitionWalkTest, TruncatedDisksGiveNoPartition) {
  for (std::size_t size : {std::size_t{0}, std::size_t{300}, std::size_t{511}}) {
    SCOPED_TRACE(size);
    SourceList fresh;
    std::vector<std::uint8_t> bytes(size, 0);
    if (size > 0x1BE + 16) {
      bytes[0x1BE + 4] = 0x07;
      bytes[0x1BE + 12] = 1;
    }
    mounted = std::make_shared<MemorySectorSource>(bytes);
    ScanPartitions(fresh, Disk());
    EXPECT_TRUE(fresh.m_partitions.empty());
    EXPECT_EQ(fresh.m_bNoPartition, 1u);
  }
  mounted.reset();
  SourceList none;
  ScanPartitions(none, Disk());
  EXPECT_EQ(none.m_bNoPartition, 1u);
}

TEST_F(PartitionWalkTest, ChainRunningOffTheDiskKeepsWhatWasFound) {
  SyntheticDisk d(2100);
  PutMbrEntry(d.Sector(0), 0, 0x07, 2048, 40);
  PutMbrEntry(d.Sector(0), 1, 0x0F, 2090, 100000);
  PutMbrEntry(d.Sector(2090), 0, 0x07, 5, 100);      // starts inside, runs off the end
  PutMbrEntry(d.Sector(2090), 1, 0x05, 900000, 10);  // EBR beyond the end
  mounted = d.Source();
  WalkAndBuild();
  EXPECT_EQ(Starts(), (std::vector<std::uint64_t>{2048, 2095}));
  EXPECT_EQ(list.m_bNoPartition, 0u);
}

}  // namespace
}  // namespace corvan
