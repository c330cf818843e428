// GPT and dynamic-disk tables, on disks built in memory.
//
// No tool on this machine writes a dynamic-disk (LDM) database, so the tests
// build one from the published description of the format: the Linux
// kernel's Documentation/admin-guide/ldm.rst with block/partitions/ldm.h
// (PRIVHEAD at sector 6 of an MBR disk with its big-endian 64-bit
// logical-disk start at 0x11B, configuration start at 0x12B and size at
// 0x133; TOCBLOCKs at configuration start + 1 and + 2; the VMDB at
// configuration start + 17 with 128-byte VBLKs from the next sector; each
// VBLK with "VBLK" at 0, group at 8, record numbers at 0x0C/0x0E, flags at
// 0x12, type at 0x13, data length at 0x14 and the object id from 0x18; the
// field order of the component (0x32), partition (0x33), disk (0x34, 0x44)
// and volume (0x51) records as ldm_parse_cmp3/prt3/dsk3/dsk4/vol5 read
// them). Nothing here is taken from the program's own reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Prompt.h"
#include "sources/LdmReader.h"
#include "sources/PartitionWalk.h"
#include "sources/VirtualDiskImage.h"
#include "support/SyntheticDisk.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

using test::PutGptEntry;
using test::PutGptHeader;
using test::PutMbrEntry;
using test::SetBE16;
using test::SetBE32;
using test::SetBE64;
using test::SyntheticDisk;

class CountingPrompt final : public Prompt {
 public:
  int MessageBox(const std::string& text, unsigned, unsigned) override {
    texts.push_back(text);
    return kIdOk;
  }
  std::vector<std::string> texts;
};

class TablesTest : public ::testing::Test {
 protected:
  // The disk the walks read; an empty one until a test sets it.
  SectorSource& Disk() {
    if (!mounted) mounted = std::make_shared<MemorySectorSource>(std::vector<std::uint8_t>{});
    return *mounted;
  }
  std::shared_ptr<SectorSource> mounted;
  void Walk(SyntheticDisk& d) {
    mounted = d.Source();
    list.m_nDiskSectors = d.Bytes().size() / 512;
    ScanPartitions(list, Disk(), &prompt);
    BuildSourceList(list, kImageVmware, 0);
  }
  std::vector<std::uint64_t> Starts() const { return test::NodeStarts(list); }
  std::vector<std::u16string> FsTexts() const {
    std::vector<std::u16string> s;
    for (std::size_t i = 1; i < list.m_sources.size(); ++i) s.push_back(list.m_sources[i]->partition->fileSystemText);
    return s;
  }
  SourceList list;
  CountingPrompt prompt;
};

// ---------------------------------------------------------------- GPT ----

TEST_F(TablesTest, GptEntryOfAnotherNameDoesNotHideBasicData) {
  SyntheticDisk d(16384);
  test::PutProtectiveMbr(d.Sector(0), 16384);
  PutGptHeader(d.Sector(1), 2, 128, 128);
  auto entry = [&](int i) { return d.Sector(2 + i / 4) + 128 * (i % 4); };
  PutGptEntry(entry(0), 34, 2047, u"EFI system partition");
  test::PutNtfsBoot(d.Sector(34), 8, 2000, 4, 2);  // named otherwise: not listed
  PutGptEntry(entry(1), 2048, 4095, u"Basic data partition");
  test::PutNtfsBoot(d.Sector(2048), 8, 2047, 4, 2);
  PutGptEntry(entry(2), 4096, 8191, u"Basic data partition");
  test::PutFat32Boot(d.Sector(4096), "mkfs.fat", 1, 32, 300, 2, 4096);
  PutGptEntry(entry(3), 8192, 10239, u"Basic data partition");
  test::PutFat32Boot(d.Sector(8192), "MSWIN4.1", 1, 32, 300, 2, 2048);
  PutGptEntry(entry(4), 0, 100, u"Basic data partition");  // StartingLBA 0: unused
  PutGptEntry(entry(5), 10240, 12287, u"Basic data partition");
  test::PutExFatBoot(d.Sector(10240), 2048, 128, 8, 200, 4, 3);
  PutGptEntry(entry(6), 12288, 12799, u"Basic data partition");  // no file system
  PutGptEntry(entry(7), 12800, 13311, u"Basic data partition");
  test::PutFat16Boot(d.Sector(12800), "MSDOS5.0", 4, 1, 64, 512, 60000);
  Walk(d);

  EXPECT_EQ(Starts(), (std::vector<std::uint64_t>{2048, 4096, 8192, 10240, 12800}));
  EXPECT_EQ(list.m_partitions[0].sectorCount, 2048u);
  EXPECT_EQ(list.m_partitions[1].sectorCount, 4096u);
  EXPECT_EQ(FsTexts(), (std::vector<std::u16string>{u"NTFS", u"FAT32", u"FAT32", u"exFAT", u"FAT"}));
  EXPECT_EQ(list.m_sources[5]->partition->fileSystemKind, kFsFat16);
  EXPECT_EQ(list.m_partitions[1].typeCode, 0x0Cu);
  EXPECT_EQ(list.m_bNoPartition, 0u);
}

TEST_F(TablesTest, GptEntrySizesThatCannotBeWalked) {
  for (std::uint32_t size : {0u, 1024u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(size);
    SourceList fresh;
    SyntheticDisk d(4096);
    test::PutProtectiveMbr(d.Sector(0), 4096);
    PutGptHeader(d.Sector(1), 2, 128, size);
    PutGptEntry(d.Sector(2), 2048, 4095, u"Basic data partition");
    test::PutNtfsBoot(d.Sector(2048), 8, 2047, 4, 2);
    mounted = d.Source();
    ScanPartitions(fresh, Disk());
    EXPECT_TRUE(fresh.m_partitions.empty());
    EXPECT_EQ(fresh.m_bNoPartition, 1u);
  }
}

TEST_F(TablesTest, GptWithLargerEntriesAndHugeCount) {
  // 256-byte entries: two per sector; the entry count says four billion but
  // the array cannot run past the disk.
  SyntheticDisk d(1500);
  test::PutProtectiveMbr(d.Sector(0), 1500);
  PutGptHeader(d.Sector(1), 2, 0xFFFFFFFFu, 256);
  PutGptEntry(d.Sector(2) + 256, 1024, 1279, u"Basic data partition");
  test::PutNtfsBoot(d.Sector(1024), 8, 255, 4, 2);
  PutGptEntry(d.Sector(1499), 1280, 1400, u"Basic data partition");  // the disk's last sector
  test::PutNtfsBoot(d.Sector(1280), 8, 120, 4, 2);
  Walk(d);
  EXPECT_EQ(Starts(), (std::vector<std::uint64_t>{1024, 1280}));
}

TEST_F(TablesTest, GptEntryEndingBeforeItStartsIsSkipped) {
  SyntheticDisk d(4096);
  test::PutProtectiveMbr(d.Sector(0), 4096);
  PutGptHeader(d.Sector(1), 2, 4, 128);
  PutGptEntry(d.Sector(2), 2048, 100, u"Basic data partition");
  test::PutNtfsBoot(d.Sector(2048), 8, 1023, 4, 2);
  Walk(d);
  EXPECT_TRUE(list.m_partitions.empty());
}

TEST_F(TablesTest, TruncatedGptGivesNoPartition) {
  // The header promises 128 entries from sector 2, but the disk ends there,
  // and its one entry points beyond the end.
  SyntheticDisk d(3);
  test::PutProtectiveMbr(d.Sector(0), 4096);
  PutGptHeader(d.Sector(1), 2, 128, 128);
  PutGptEntry(d.Sector(2), 2048, 4095, u"Basic data partition");
  Walk(d);
  EXPECT_TRUE(list.m_partitions.empty());
  EXPECT_EQ(list.m_bNoPartition, 1u);
  EXPECT_EQ(list.m_sources.size(), 1u);
}

TEST_F(TablesTest, LdmMetadataEntryEndsItsSector) {
  SyntheticDisk d(8192);
  test::PutProtectiveMbr(d.Sector(0), 8192);
  PutGptHeader(d.Sector(1), 2, 8, 128);
  PutGptEntry(d.Sector(2), 34, 2047, u"LDM metadata partition");
  PutGptEntry(d.Sector(2) + 128, 2048, 4095, u"Basic data partition");  // same sector: not seen
  test::PutNtfsBoot(d.Sector(2048), 8, 2047, 4, 2);
  PutGptEntry(d.Sector(3), 4096, 6143, u"Basic data partition");  // next sector: seen
  test::PutNtfsBoot(d.Sector(4096), 8, 2047, 4, 2);
  Walk(d);
  EXPECT_EQ(Starts(), (std::vector<std::uint64_t>{4096}));
  EXPECT_EQ(list.m_bLdmSeen, 1u);
  EXPECT_EQ(list.m_bNoPartition, 1u) << "no PRIVHEAD behind the LDM metadata partition";
}

// The corpus GPT disk (manifest "gpt": NTFS at 2048 for 98304 sectors and
// the mkfs.fat FAT32 volume at 102400 for 81920, both "Basic data
// partition") read through each of its containers.
TEST_F(TablesTest, CorpusGptDiskThroughEachContainer) {
  const auto disks = test::CorpusDir() / "disks";
  if (!std::filesystem::exists(disks / "gpt.vmdk")) GTEST_SKIP() << "corpus not unpacked";
  const std::pair<std::uint32_t, const char*> containers[] = {
      {kImageVmware, "gpt.vmdk"}, {kImageVirtualPc, "gpt.vhd"}, {kImageVirtualBox, "gpt.vdi"}};
  for (const auto& [type, file] : containers) {
    SCOPED_TRACE(file);
    const MountResult mount = MountImageFile(type, disks / file);
    ASSERT_TRUE(mount.mounted);
    mounted = mount.image;
    SourceList fresh;
    fresh.m_nDiskSectors = mounted->SectorCount();
    ScanPartitions(fresh, Disk());
    BuildSourceList(fresh, type, 0);
    ASSERT_EQ(fresh.m_sources.size(), 3u);
    const PartitionRecord& ntfs = *fresh.m_sources[1]->partition;
    EXPECT_EQ(ntfs.startSector, 2048u);
    EXPECT_EQ(ntfs.sectorCount, 98304u);
    EXPECT_EQ(ntfs.fileSystemText, u"NTFS");
    const PartitionRecord& fat = *fresh.m_sources[2]->partition;
    EXPECT_EQ(fat.startSector, 102400u);
    EXPECT_EQ(fat.sectorCount, 81920u);
    EXPECT_EQ(fat.fileSystemText, u"FAT32") << "formatted by mkfs.fat, not named MSWIN or MSDOS";
    EXPECT_EQ(fat.fileSystemKind, kFsFat32);
    EXPECT_EQ(fat.sectorsPerCluster, 1);
    EXPECT_EQ(fresh.m_bNoPartition, 0u);
  }
}

// ------------------------------------------------------- dynamic disks ----

// Writes one VBLK record field by field.
class Vblk {
 public:
  Vblk(std::uint8_t* record, std::uint32_t sequence, std::uint8_t type) : r_(record) {
    std::memcpy(r_, "VBLK", 4);
    SetBE32(r_ + 0x04, sequence);
    SetBE32(r_ + 0x08, sequence);  // group
    SetBE16(r_ + 0x0C, 0);         // record 0 ...
    SetBE16(r_ + 0x0E, 1);         // ... of 1
    r_[0x13] = type;
    pos_ = 0x18;
  }
  ~Vblk() { SetBE32(r_ + 0x14, static_cast<std::uint32_t>(pos_ - 0x18)); }
  Vblk& Num(std::uint64_t v) {
    std::uint8_t n = 1;
    while (n < 8 && (v >> (8 * n)) != 0) ++n;
    r_[pos_++] = n;
    for (int i = n - 1; i >= 0; --i) r_[pos_++] = static_cast<std::uint8_t>(v >> (8 * i));
    return *this;
  }
  Vblk& Str(std::string_view s) {
    r_[pos_++] = static_cast<std::uint8_t>(s.size());
    std::memcpy(r_ + pos_, s.data(), s.size());
    pos_ += s.size();
    return *this;
  }
  Vblk& Fixed(std::string_view s, std::size_t width) {
    std::memcpy(r_ + pos_, s.data(), std::min(s.size(), width));
    pos_ += width;
    return *this;
  }
  Vblk& Zero(std::size_t n) {
    pos_ += n;
    return *this;
  }
  Vblk& Byte(std::uint8_t b) {
    r_[pos_++] = b;
    return *this;
  }
  Vblk& BE64(std::uint64_t v) {
    SetBE64(r_ + pos_, v);
    pos_ += 8;
    return *this;
  }

 private:
  std::uint8_t* r_;
  std::size_t pos_;
};

struct LdmPart {
  std::uint64_t id, componentId, start, size;  // start relative to the logical-disk start
};
struct LdmVolume {
  std::uint64_t id;
  std::string type;  // "gen", "raid5"
  std::uint64_t componentId;
  std::vector<LdmPart> parts;
};

// A dynamic MBR disk: one 0x42 entry, the PRIVHEAD at sector 6, the 1 MiB
// database at the end of the disk.
class LdmDisk {
 public:
  static constexpr std::uint64_t kLogicalStart = 63;
  static constexpr std::uint64_t kDiskId = 0x0403;

  LdmDisk(std::uint64_t sectors, std::uint8_t diskRecordType = 0x34)
      : disk(sectors), configStart(sectors - 2048), diskRecordType_(diskRecordType) {
    PutMbrEntry(disk.Sector(0), 0, 0x42, static_cast<std::uint32_t>(kLogicalStart),
                static_cast<std::uint32_t>(sectors - kLogicalStart));
    PutPrivHead(disk.Sector(6));
    PutPrivHead(disk.Sector(configStart + 1856));
    PutPrivHead(disk.Sector(configStart + 2047));
    PutTocBlock(disk.Sector(configStart + 1));
    PutTocBlock(disk.Sector(configStart + 2));
  }

  void PutPrivHead(std::uint8_t* s) {
    std::memcpy(s, "PRIVHEAD", 8);
    SetBE16(s + 0x0C, 2);  // version 2.12
    SetBE16(s + 0x0E, 12);
    std::memcpy(s + 0x30, "8e0c8b4d-7d2a-11d2-9f3b-00a0c91efb8b", 36);  // disk GUID text
    SetBE64(s + 0x11B, kLogicalStart);
    SetBE64(s + 0x123, configStart - kLogicalStart);
    SetBE64(s + 0x12B, configStart);
    SetBE64(s + 0x133, 2048);
  }
  static void PutTocBlock(std::uint8_t* s) {
    std::memcpy(s, "TOCBLOCK", 8);
    std::memcpy(s + 0x24, "config", 6);
    SetBE64(s + 0x2E, 17);
    SetBE64(s + 0x36, 1472);
    std::memcpy(s + 0x46, "log", 3);
    SetBE64(s + 0x50, 1489);
    SetBE64(s + 0x58, 224);
  }

  // Writes the VMDB and the VBLKs: a disk group, the disk, then each volume
  // with its component and partitions.
  void WriteDatabase(const std::vector<LdmVolume>& volumes) {
    std::uint8_t* vmdb = disk.Sector(configStart + 17);
    std::memcpy(vmdb, "VMDB", 4);
    SetBE32(vmdb + 0x08, 128);  // VBLK size
    SetBE32(vmdb + 0x0C, 512);  // VBLKs start one sector on
    SetBE16(vmdb + 0x10, 1);    // consistent
    SetBE16(vmdb + 0x12, 4);
    SetBE16(vmdb + 0x14, 10);
    std::memcpy(vmdb + 0x16, "WinDg0", 6);

    std::uint32_t seq = 4;  // the VMDB itself fills the first four slots
    auto next = [&]() { return disk.Sector(configStart + 17) + 128 * seq; };

    Vblk(next(), seq, 0x45).Num(0x0401).Str("WinDg0").Zero(44);  // disk group
    ++seq;
    if (diskRecordType_ == 0x34) {
      Vblk(next(), seq, 0x34).Num(kDiskId).Str("Disk1").Str("8e0c8b4d-7d2a-11d2-9f3b-00a0c91efb8b").Str("").Zero(12);
    } else {
      Vblk(next(), seq, 0x44).Num(kDiskId).Str("Disk1").Zero(16 + 29);
    }
    ++seq;
    int n = 1;
    for (const LdmVolume& v : volumes) {
      const std::string name = "Volume" + std::to_string(n++);
      // Volume: id, name, type, drive-letter hint text, 14-byte state, 7
      // bytes, children count, 16 bytes, size, 4 bytes, partition type, GUID.
      std::uint64_t size = 0;
      for (const auto& p : v.parts) size += p.size;
      Vblk(next(), seq, 0x51)
          .Num(v.id).Str(name).Str(v.type).Str("").Fixed("ACTIVE", 14).Zero(7).Num(1).Zero(16).Num(size)
          .Zero(4).Byte(0x07).Zero(16);
      ++seq;
      // Component: id, name, state text, type byte and 4 bytes, children
      // count, 16 bytes, parent volume id, one byte.
      Vblk(next(), seq, 0x32)
          .Num(v.componentId).Str(name + "-01").Str("ACTIVE").Byte(0x02).Zero(4)
          .Num(v.parts.size()).Zero(16).Num(v.id).Zero(1);
      ++seq;
      std::uint64_t offset = 0;
      for (const auto& p : v.parts) {
        // Partition: id, name, 12 bytes, start (BE64), volume offset
        // (BE64), size, parent component id, disk id.
        Vblk(next(), seq, 0x33)
            .Num(p.id).Str("Disk1-0" + std::to_string(seq)).Zero(12).BE64(p.start).BE64(offset).Num(p.size)
            .Num(p.componentId).Num(kDiskId);
        offset += p.size;
        ++seq;
      }
    }
    // Unused slots to the end of the sector carry the magic and nothing else.
    while (seq % 4 != 0) {
      Vblk(next(), seq, 0);
      ++seq;
    }
    SetBE32(vmdb + 0x04, seq - 1);  // last VBLK sequence number
    lastVblkSector = configStart + 17 + (seq - 1) / 4;
  }

  std::uint64_t Absolute(std::uint64_t relative) const { return kLogicalStart + relative; }

  SyntheticDisk disk;
  std::uint64_t configStart;
  std::uint64_t lastVblkSector = 0;

 private:
  std::uint8_t diskRecordType_;
};

// Volumes used by several tests: a simple NTFS volume at 2048, a FAT32
// volume formatted by mkfs.fat at 6144, a spanned exFAT volume of two
// extents at 8192 and 12288, a RAID-5 volume and a second simple volume that
// starts where the first does.
std::vector<LdmVolume> SampleVolumes(LdmDisk& d) {
  const auto rel = [](std::uint64_t absolute) { return absolute - LdmDisk::kLogicalStart; };
  test::PutNtfsBoot(d.disk.Sector(2048), 8, 4095, 4, 2);
  test::PutFat32Boot(d.disk.Sector(6144), "mkfs.fat", 1, 32, 300, 2, 2048);
  test::PutExFatBoot(d.disk.Sector(8192), 3072, 128, 8, 300, 4, 3);
  test::PutNtfsBoot(d.disk.Sector(10240), 8, 1023, 4, 2);
  return {
      {0x0501, "gen", 0x0601, {{0x0701, 0x0601, rel(2048), 4096}}},
      {0x0502, "gen", 0x0602, {{0x0702, 0x0602, rel(6144), 2048}}},
      {0x0503, "gen", 0x0603, {{0x0703, 0x0603, rel(8192), 2048}, {0x0704, 0x0603, rel(12288), 1024}}},
      {0x0504, "raid5", 0x0604, {{0x0705, 0x0604, rel(10240), 1024}}},
      {0x0505, "gen", 0x0605, {{0x0706, 0x0605, rel(2048), 100}}},
  };
}

TEST_F(TablesTest, DynamicDiskVolumesFromThePublishedLayout) {
  for (std::uint8_t diskRecord : {std::uint8_t{0x34}, std::uint8_t{0x44}}) {
    SCOPED_TRACE(static_cast<int>(diskRecord));
    SourceList fresh;
    LdmDisk d(16384, diskRecord);
    d.WriteDatabase(SampleVolumes(d));
    mounted = d.disk.Source();
    fresh.m_nDiskSectors = 16384;
    ScanPartitions(fresh, Disk(), &prompt);
    BuildSourceList(fresh, kImageVmware, 0);

    ASSERT_EQ(fresh.m_partitions.size(), 3u);
    EXPECT_EQ(fresh.m_partitions[0].startSector, 2048u);
    EXPECT_EQ(fresh.m_partitions[0].sectorCount, 4096u);
    EXPECT_EQ(fresh.m_partitions[1].startSector, 6144u);
    EXPECT_EQ(fresh.m_partitions[1].typeCode, 0x0Cu);
    EXPECT_EQ(fresh.m_partitions[2].startSector, 8192u);
    EXPECT_EQ(fresh.m_partitions[2].sectorCount, 3072u) << "both extents of the spanned volume";
    ASSERT_EQ(fresh.m_sources.size(), 4u);
    EXPECT_EQ(fresh.m_sources[1]->partition->fileSystemText, u"NTFS");
    EXPECT_EQ(fresh.m_sources[2]->partition->fileSystemText, u"FAT32");
    EXPECT_EQ(fresh.m_sources[3]->partition->fileSystemText, u"exFAT");
    EXPECT_EQ(fresh.m_bLdmSeen, 1u);
    EXPECT_EQ(fresh.m_bImageError, 0u);
    EXPECT_EQ(fresh.m_bNoPartition, 0u);
  }
  EXPECT_TRUE(prompt.texts.empty());
}

TEST_F(TablesTest, DynamicDiskFoundFromTheMountedDiskSize) {
  // As in a VirtualBox or Virtual PC image: no extent list, only the size
  // of the mounted disk, which is not a round number here.
  LdmDisk d(20011);
  d.WriteDatabase(SampleVolumes(d));
  Walk(d.disk);
  EXPECT_EQ(Starts(), (std::vector<std::uint64_t>{2048, 6144, 8192}));
}

TEST_F(TablesTest, DynamicDiskReaderRecords) {
  LdmDisk d(16384);
  d.WriteDatabase(SampleVolumes(d));
  mounted = d.disk.Source();
  SourceList target;
  LdmReader reader(target, Disk());
  ASSERT_TRUE(reader.FindPrivHead(6));
  EXPECT_EQ(reader.m_nLogicalDiskStart, LdmDisk::kLogicalStart);
  EXPECT_EQ(reader.m_nConfigStart, d.configStart);
  EXPECT_EQ(reader.m_nConfigSize, 2048u);
  reader.FindVmdb(d.configStart);
  ASSERT_TRUE(reader.VmdbFound());
  EXPECT_EQ(reader.m_nFirstVblkSector, d.configStart + 18);
  reader.ParseVblks();
  ASSERT_EQ(reader.m_disks.size(), 1u);
  EXPECT_EQ(reader.m_disks[0].diskId, LdmDisk::kDiskId);
  EXPECT_EQ(reader.m_disks[0].diskNumber, 1u);
  ASSERT_EQ(reader.m_volumes.size(), 5u);
  EXPECT_EQ(reader.m_volumes[3].volumeType, "raid5");
  EXPECT_EQ(reader.m_volumes[0].name, "Volume1");
  ASSERT_EQ(reader.m_partitions.size(), 6u);
  EXPECT_EQ(reader.m_partitions[3].startSector, 12288u - LdmDisk::kLogicalStart);
  EXPECT_EQ(reader.m_partitions[3].sectorCount, 1024u);
  EXPECT_EQ(reader.m_partitions[3].parentComponentId, 0x0603u);
  ASSERT_EQ(reader.m_components.size(), 5u);
  EXPECT_EQ(reader.m_components[2].parentVolumeId, 0x0503u);
}

TEST_F(TablesTest, PrivHeadFoundBySearchWhenNotAtItsPlace) {
  LdmDisk d(16384);
  d.WriteDatabase(SampleVolumes(d));
  std::memset(d.disk.Sector(6), 0, 512);
  std::memcpy(d.disk.Sector(6), "PRIVHEAX", 8);  // a near miss is not taken
  mounted = d.disk.Source();
  SourceList target;
  LdmReader reader(target, Disk());
  ASSERT_TRUE(reader.FindPrivHead(6));
  EXPECT_EQ(reader.m_nConfigStart, d.configStart) << "the copy inside the database";
}

TEST_F(TablesTest, DynamicDiskWithoutPrivHeadIsAnImageError) {
  SyntheticDisk d(4096);
  PutMbrEntry(d.Sector(0), 0, 0x42, 63, 4000);
  Walk(d);
  EXPECT_EQ(list.m_bImageError, 1u);
  EXPECT_EQ(list.m_bLdmSeen, 0u);
  EXPECT_EQ(list.m_bNoPartition, 1u);
  ASSERT_EQ(prompt.texts.size(), 1u);
  EXPECT_EQ(prompt.texts[0], "Virtual machine image is corrupt. Use 'Raw Recovery' option to recover data.");
}

TEST_F(TablesTest, DatabaseWithoutVmdbEndsTheSearch) {
  LdmDisk d(16384);
  SampleVolumes(d);  // boot sectors only, no VMDB
  Walk(d.disk);
  EXPECT_TRUE(list.m_partitions.empty());
  EXPECT_EQ(list.m_bLdmSeen, 1u);
}

TEST_F(TablesTest, DatabaseCutShortAfterTheVmdb) {
  LdmDisk d(16384);
  d.WriteDatabase(SampleVolumes(d));
  d.disk.Bytes().resize((d.configStart + 18) * 512);  // the disk ends before the VBLKs
  Walk(d.disk);
  EXPECT_TRUE(list.m_partitions.empty());
  EXPECT_EQ(list.m_bNoPartition, 1u);
}

TEST_F(TablesTest, DatabaseCutInsideTheVblks) {
  LdmDisk d(16384);
  d.WriteDatabase(SampleVolumes(d));
  // Keep the first two VBLK sectors: disk group, disk, volumes 1 and 2 with
  // their components and partitions; volume 3 onwards is cut off.
  d.disk.Bytes().resize((d.configStart + 20) * 512);
  Walk(d.disk);
  EXPECT_EQ(Starts(), (std::vector<std::uint64_t>{2048, 6144}));
}

TEST_F(TablesTest, VblkLengthsRunningOffTheRecordDropOnlyThatRecord) {
  LdmDisk d(16384);
  d.WriteDatabase(SampleVolumes(d));
  // Find volume 2's partition record (object id 0x0702) and make its name
  // length claim more than the record holds.
  bool patched = false;
  for (std::uint64_t s = d.configStart + 18; s <= d.lastVblkSector && !patched; ++s) {
    for (int slot = 0; slot < 4; ++slot) {
      std::uint8_t* r = d.disk.Sector(s) + 128 * slot;
      if (r[0x13] == 0x33 && r[0x18] == 2 && r[0x19] == 0x07 && r[0x1A] == 0x02) {
        r[0x1B] = 200;
        patched = true;
        break;
      }
    }
  }
  ASSERT_TRUE(patched);
  Walk(d.disk);
  EXPECT_EQ(Starts(), (std::vector<std::uint64_t>{2048, 8192}));
}

TEST_F(TablesTest, RepeatedIdsDoNotMultiplyExtentsWithoutBound) {
  // Many partitions all claiming the same component: the volume gets a
  // bounded number of extents and one node.
  LdmDisk d(16384);
  test::PutNtfsBoot(d.disk.Sector(2048), 8, 4095, 4, 2);
  LdmVolume v{0x0501, "gen", 0x0601, {}};
  for (int i = 0; i < 400; ++i) v.parts.push_back({0x1000u + i, 0x0601, 2048 - LdmDisk::kLogicalStart, 8});
  d.WriteDatabase({v});
  mounted = d.disk.Source();
  SourceList target;
  LdmReader reader(target, Disk());
  ASSERT_TRUE(reader.FindPrivHead(6));
  reader.FindVmdb(d.configStart);
  reader.ParseVblks();
  reader.BuildVolumes();
  ASSERT_EQ(reader.m_assembled.size(), 1u);
  EXPECT_LE(reader.m_assembled[0].extents.size(), 256u);
  ASSERT_EQ(target.m_partitions.size(), 1u);
  EXPECT_EQ(target.m_partitions[0].startSector, 2048u);
}

TEST(BootSectorTypeCode, FromTheBootSectorNotTheOemName) {
  std::array<std::uint8_t, 512> s{};
  EXPECT_EQ(BootSectorTypeCode(s.data()), 0u);
  test::PutNtfsBoot(s.data(), 8, 1000, 4, 2);
  EXPECT_EQ(BootSectorTypeCode(s.data()), 7u);
  s = {};
  test::PutExFatBoot(s.data(), 1000, 128, 8, 100, 4, 3);
  EXPECT_EQ(BootSectorTypeCode(s.data()), 7u);
  s = {};
  test::PutFat32Boot(s.data(), "mkfs.fat", 8, 32, 1000, 2, 100000);
  EXPECT_EQ(BootSectorTypeCode(s.data()), 0x0Cu);
  s = {};
  test::PutFat32Boot(s.data(), "MSWIN4.1", 8, 32, 1000, 2, 100000);
  EXPECT_EQ(BootSectorTypeCode(s.data()), 0x0Cu);
  s = {};
  test::PutFat16Boot(s.data(), "MSDOS5.0", 4, 1, 64, 512, 60000);
  EXPECT_EQ(BootSectorTypeCode(s.data()), 0x06u);
  s = {};
  test::PutFat16Boot(s.data(), "mkfs.fat", 1, 1, 3, 224, 1000);
  EXPECT_EQ(BootSectorTypeCode(s.data()), 0x01u);
  s = {};
  std::memcpy(s.data() + 3, "MSWIN4.1", 8);  // the name alone is no FAT boot sector
  EXPECT_EQ(BootSectorTypeCode(s.data()), 0u);
}

}  // namespace
}  // namespace corvan
