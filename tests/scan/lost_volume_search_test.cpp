// The quick lost-volume search over disks laid out here: corpus volume
// images copied to the starts the search probes in sparse files with no
// partition table. Sizes and starts are checked against the corpus
// manifest (the volume images' sizes) and the places the test chose.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/CORVANApp.h"
#include "app/Jobs.h"
#include "app/SourceSetup.h"
#include "core/HeadlessHost.h"
#include "platform/ByteCodec.h"
#include "scan/CThreadForSearchVolume.h"
#include "sources/FileSectorSource.h"
#include "sources/SourceList.h"
#include "scan/LostVolumeTestSupport.h"
#include "support/HeadlessScan.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

constexpr std::uint64_t kCyl = 16065;

using test::LaidDisk;
using test::RecordingSink;
using test::VolumeSectors;

// A source list holding the disk record, as the source page has it.
struct Search {
  explicit Search(std::uint64_t sectors, std::atomic<std::uint32_t>* sharedCount = nullptr)
      : count(sharedCount ? *sharedCount : ownCount) {
    auto disk = std::make_unique<SourceRecord>();
    disk->kind = kSourceDisk;
    disk->disk = std::make_unique<DiskRecord>();
    disk->disk->driveNumber = kImageDriveNumber;
    disk->disk->sectorCount = sectors;
    list.AppendSource(std::move(disk));
  }
  void Run(std::shared_ptr<SectorSource> disk, bool deep = false) {
    CThreadForSearchVolume search(LostVolumeJob{.host = host,
                                          .listed = ListedSourcesOf(list),
                                          .appendSource = [this](std::unique_ptr<SourceRecord> record) -> SourceRecord& {
                                            return list.AppendSource(std::move(record));
                                          },
                                          .selection = {.source = list.m_sources.front().get(), .disk = std::move(disk)},
                                          .session = session,
                                          .volumesFoundBefore = count,
                                          .deep = deep,
                                          .imageFlag = false,
                                          .path = {},
                                          .sink = &sink,
                                          .resetScanState = {},
                                          .freeResults = [this] { results = 0; },
                                          .volumeFound =
                                              [this](std::uint32_t total) {
                                                count = total;
                                                have = 0;
                                              }});
    search.Run();
    failures = search.ReadFailures();
  }
  // The found volume at `start`, or null.
  const PartitionRecord* At(std::uint64_t start) const {
    for (const auto& r : list.m_sources)
      if (r->kind == kSourceLostVolume && r->partition && r->partition->startSector == start) return r->partition.get();
    return nullptr;
  }
  std::size_t Found() const { return list.m_sources.size() - 1; }
  // An NTFS volume the list holds before the search: `kind` kSourceVolume
  // for the partition tables', kSourceLostVolume for an earlier search's
  // on disk `diskNumber`.
  void List(std::uint8_t kind, std::uint16_t index, std::uint64_t start, std::uint64_t sectors,
            std::uint8_t diskNumber = 0) {
    auto record = std::make_unique<SourceRecord>();
    record->kind = kind;
    record->index = index;
    record->partition = std::make_unique<PartitionRecord>();
    record->partition->diskNumber = diskNumber;
    record->partition->fileSystemKind = kFsNtfs;
    record->partition->startSector = start;
    record->partition->sectorCount = sectors;
    list.AppendSource(std::move(record));
  }

  HeadlessHost host;
  SourceList list;
  std::shared_ptr<ScanSession> session = std::make_shared<ScanSession>();
  std::atomic<std::uint32_t> ownCount{0};
  std::atomic<std::uint32_t>& count;
  std::atomic<std::uint32_t> have{1}, results{1};
  RecordingSink sink;
  std::uint64_t failures = 0;
};

void ExpectVolume(const Search& s, std::uint64_t start, std::uint64_t sectors, std::uint8_t fsKind,
                  const char16_t* fsText) {
  const PartitionRecord* p = s.At(start);
  ASSERT_NE(p, nullptr) << "nothing found at " << start;
  EXPECT_EQ(p->sectorCount, sectors) << start;
  EXPECT_EQ(p->fileSystemKind, fsKind) << start;
  EXPECT_EQ(p->fileSystemText, fsText) << start;
  EXPECT_EQ(p->diskNumber, kImageDriveNumber) << start;
  EXPECT_EQ(p->sizeText, FormatSizeText(sectors)) << start;
}

TEST(CThreadForSearchVolume, FindsVolumesAtTrackCylinderAndMebibyteStarts) {
  const std::uint64_t fat16At = 63, ntfsAt = 4 * kCyl, fat32At = 11 * kCyl + 63, exFatAt = 128 * 2048;
  const std::uint64_t sectors = 21 * kCyl;
  LaidDisk disk(sectors);
  disk.Place("fat16.img", fat16At);
  disk.Place("ntfs.img", ntfsAt);
  disk.Place("fat32.img", fat32At);
  disk.Place("exfat.img", exFatAt);
  // The volume at 63 has lost its boot signature; it is tested all the same.
  disk.Write(fat16At, 510, {0, 0});
  Search s(sectors);
  s.Run(disk.Source());
  EXPECT_EQ(s.Found(), 4u);
  ExpectVolume(s, fat16At, VolumeSectors("fat16.img"), kFsFat16, u"FAT");
  ExpectVolume(s, ntfsAt, VolumeSectors("ntfs.img"), kFsNtfs, u"NTFS");
  ExpectVolume(s, fat32At, VolumeSectors("fat32.img"), kFsFat32, u"FAT32");
  ExpectVolume(s, exFatAt, VolumeSectors("exfat.img"), kFsExFat, u"exFAT");
  // The corpus FAT32 volume's FAT reaches 80,640 of its 81,920 sectors;
  // the record ends where the volume does (last sector, FAT convention).
  EXPECT_EQ(s.At(fat32At)->endSector, fat32At + 81920 - 1);
  EXPECT_EQ(s.At(ntfsAt)->endSector, ntfsAt + VolumeSectors("ntfs.img"));
  // FAT32 geometry from the boot sector: 32 reserved sectors, 630 per FAT, root cluster 2.
  EXPECT_EQ(s.At(fat32At)->reservedSectors, 32u);
  EXPECT_EQ(s.At(fat32At)->fatSize, 630u);
  EXPECT_EQ(s.At(fat32At)->rootCluster, 2u);
  // exFAT: FAT at 2048, 8-sector clusters (shift 3).
  EXPECT_EQ(s.At(exFatAt)->reservedSectors, 2048u);
  EXPECT_EQ(s.At(exFatAt)->sectorsPerCluster, 8);
  // NTFS: 8 sectors a cluster, $MFT at cluster 4.
  EXPECT_EQ(s.At(ntfsAt)->ntfsSectorsPerCluster, 8);
  EXPECT_EQ(s.At(ntfsAt)->mftSector, 32u);

  // Names count up in the order found, the log says where.
  EXPECT_EQ(s.count.load(), 4u);
  EXPECT_EQ(s.At(fat16At)->name, u"Std Vol 1 ");
  const std::string log = s.host.LogText();
  EXPECT_NE(log.find("Searching volume"), std::string::npos);
  EXPECT_NE(log.find("Found at sector no. 63 "), std::string::npos);
  EXPECT_NE(log.find("Process completed"), std::string::npos);
  EXPECT_EQ(s.have.load(), 0u);
  EXPECT_EQ(s.results.load(), 0u);  // the previous results were let go first
  EXPECT_TRUE(s.sink.done);
  EXPECT_TRUE(s.sink.hidden);
  EXPECT_EQ(s.host.BusyFlag().load(), 0u);
  EXPECT_EQ(s.sink.added.size(), 4u);
  // Pass 1 (255), pass 2 (20), pass 4 (total/2048 - 1); pass 3 does not run
  // as pass 2 found something.
  EXPECT_EQ(s.sink.steps, static_cast<std::int64_t>(255 + 20 + (sectors - 1) / 2048 - 1));
  EXPECT_EQ(s.sink.lastText, "Reading sector " + std::to_string((sectors - 1) / 2048 * 2048) + " of " +
                                 std::to_string(sectors));
}

TEST(CThreadForSearchVolume, FindsVolumesAtSmallCylindersWhenNoLargeOneHoldsAny) {
  const std::uint64_t ntfsAt = 2048, fat32At = 1008 * 120, exFatAt = 1008 * 210 + 63;
  const std::uint64_t sectors = 280000;
  LaidDisk disk(sectors);
  disk.Place("ntfs.img", ntfsAt);
  disk.Place("fat32.img", fat32At);
  disk.Place("exfat.img", exFatAt);
  Search s(sectors);
  s.Run(disk.Source());
  EXPECT_EQ(s.Found(), 3u);
  ExpectVolume(s, ntfsAt, VolumeSectors("ntfs.img"), kFsNtfs, u"NTFS");
  ExpectVolume(s, fat32At, VolumeSectors("fat32.img"), kFsFat32, u"FAT32");
  ExpectVolume(s, exFatAt, VolumeSectors("exfat.img"), kFsExFat, u"exFAT");
}

TEST(CThreadForSearchVolume, FindsVolumesWhoseBootSectorIsGoneByTheirBackups) {
  // NTFS: the backup in the volume's last sector lies just before a
  // cylinder boundary. exFAT: the backup (sector 12) lies 63 sectors past one.
  const std::uint64_t ntfsSectors = VolumeSectors("ntfs.img");
  const std::uint64_t ntfsAt = 8 * kCyl - ntfsSectors, exFatAt = 9 * kCyl + 63 - 12;
  const std::uint64_t sectors = 14 * kCyl;
  LaidDisk disk(sectors);
  disk.Place("ntfs.img", ntfsAt);
  disk.Place("exfat.img", exFatAt);
  disk.Zero(ntfsAt);
  disk.Zero(exFatAt);
  Search s(sectors);
  s.Run(disk.Source());
  EXPECT_EQ(s.Found(), 2u);
  ExpectVolume(s, ntfsAt, ntfsSectors, kFsNtfs, u"NTFS");
  ExpectVolume(s, exFatAt, VolumeSectors("exfat.img"), kFsExFat, u"exFAT");
}

TEST(CThreadForSearchVolume, AddsAVolumeOnceAndNumbersOnAcrossSearches) {
  const std::uint64_t sectors = 200000;
  LaidDisk disk(sectors);
  disk.Place("ntfs.img", 2048);
  disk.Place("fat32.img", 104448);
  std::atomic<std::uint32_t> counter{0};
  Search first(sectors, &counter);
  first.Run(disk.Source());
  ASSERT_EQ(first.Found(), 2u);
  // Records number on after the disk record (index 0), in the order found.
  EXPECT_EQ(first.list.m_sources[1]->index, 1u);
  EXPECT_EQ(first.list.m_sources[2]->index, 2u);
  // The same list searched again: nothing new.
  first.Run(disk.Source());
  EXPECT_EQ(first.Found(), 2u);
  EXPECT_EQ(counter.load(), 2u);
  // Another disk: the numbers go on from where they were.
  Search second(sectors, &counter);
  second.Run(disk.Source());
  ASSERT_EQ(second.Found(), 2u);
  EXPECT_EQ(second.At(2048)->name, u"Std Vol 3 ");
  EXPECT_EQ(second.At(104448)->name, u"Std Vol 4 ");
  EXPECT_EQ(counter.load(), 4u);
}

TEST(CThreadForSearchVolume, WhenIndexesRunOutNothingMoreIsListedAndNoIndexRepeats) {
  // The list already holds a volume of another disk with index 65534: the
  // first of the two volumes here gets the last index, 65535; the second
  // none (the disk record holds 0), and the log says why.
  const std::uint64_t sectors = 200000;
  LaidDisk disk(sectors);
  disk.Place("ntfs.img", 2048);
  disk.Place("fat32.img", 104448);
  Search s(sectors);
  s.List(kSourceLostVolume, 65534, 2048, 1000, 0x81);
  s.Run(disk.Source());
  ASSERT_EQ(s.list.m_sources.size(), 3u);
  EXPECT_EQ(s.list.m_sources[2]->index, 65535u);
  EXPECT_EQ(s.list.m_sources[2]->partition->startSector, 2048u);
  EXPECT_EQ(s.count.load(), 1u);
  EXPECT_EQ(s.sink.added, std::vector<std::uint64_t>{2048});
  const std::string log = s.host.LogText();
  EXPECT_EQ(log.find("Found at sector no. 104448 "), std::string::npos);
  const std::string ranOut = "every source index up to 65535 is taken; later finds are not listed.";
  ASSERT_NE(log.find(ranOut), std::string::npos);
  EXPECT_EQ(log.find(ranOut, log.find(ranOut) + 1), std::string::npos) << "logged once";
  EXPECT_NE(log.find("Process completed"), std::string::npos);
}

TEST(CThreadForSearchVolume, ABootSectorCountThatIsNoSizeGivesWayToWhatTheVolumeHolds) {
  // NTFS counts that wrap with the backup boot sector (2^64-1) or hold not
  // even the $MFT (0, 1): the volume's $Bitmap and its backup boot sector
  // give its size, or without that backup the $Bitmap alone (at most 64
  // clusters of 8 sectors over). FAT counts below the reserved sectors and
  // FATs (1, 200): as far as the FAT reaches, 4 reserved + 2 x 48 FAT + 32
  // root + (48 x 256 - 2) x 4 sectors for the corpus FAT16 volume, up to the
  // next volume listed.
  const std::uint64_t fat16At = 63, ntfsAt = 4 * kCyl, sectors = 12 * kCyl;
  const std::uint64_t ntfsSectors = VolumeSectors("ntfs.img"), fatReach = 4 + 96 + 32 + (48 * 256 - 2) * 4;
  for (const std::uint64_t total : {~0ull, 0ull, 1ull}) {
    for (const bool backup : {true, false}) {
      SCOPED_TRACE(std::to_string(total) + (backup ? " with its backup" : " without its backup"));
      LaidDisk disk(sectors);
      disk.Place("ntfs.img", ntfsAt);
      std::vector<std::uint8_t> field(8);
      PutLE64(field.data(), total);
      disk.Write(ntfsAt, 40, field);
      if (!backup) disk.Zero(ntfsAt + ntfsSectors - 1);
      Search s(sectors);
      s.Run(disk.Source());
      ASSERT_NE(s.At(ntfsAt), nullptr);
      if (backup) {
        ExpectVolume(s, ntfsAt, ntfsSectors, kFsNtfs, u"NTFS");
      } else {
        EXPECT_GE(s.At(ntfsAt)->sectorCount, ntfsSectors);
        EXPECT_LT(s.At(ntfsAt)->sectorCount, ntfsSectors + 64 * 8);
      }
      EXPECT_EQ(s.At(ntfsAt)->endSector, ntfsAt + s.At(ntfsAt)->sectorCount);
    }
  }
  for (const std::uint16_t total : {1, 200}) {
    SCOPED_TRACE(total);
    LaidDisk disk(sectors);
    disk.Place("fat16.img", fat16At);
    disk.Write(fat16At, 19, {static_cast<std::uint8_t>(total), 0});
    Search s(sectors);
    s.Run(disk.Source());
    ExpectVolume(s, fat16At, fatReach, kFsFat16, u"FAT");
    EXPECT_EQ(s.At(fat16At)->endSector, fat16At + fatReach - 1);
    // A volume of the partition tables inside that reach ends it.
    Search bounded(sectors);
    bounded.List(kSourceVolume, 1, 30000, 1000);
    bounded.Run(disk.Source());
    ExpectVolume(bounded, fat16At, 30000 - fat16At, kFsFat16, u"FAT");
  }
}

TEST(CThreadForSearchVolume, AVolumeThePartitionTablesListIsNotLost) {
  test::TempDir dir;
  CORVANApp app(dir / "settings.ini", dir.path());
  ASSERT_TRUE(MountAndListSources(app, ImageTypeForPath("x.vmdk"), test::CorpusDir() / "disks" / "mbr.vmdk").mounted);
  ASSERT_TRUE(SelectSource(app, 0));
  const std::size_t before = app.m_sourceList.m_sources.size();
  CThreadForSearchVolume search(MakeLostVolumeJob(app, CurrentSelection(app), nullptr, false, false));
  search.Run();
  EXPECT_EQ(app.m_sourceList.m_sources.size(), before);
  EXPECT_EQ(app.m_nFoundVolumeCount.load(), 0u);
}

TEST(CThreadForSearchVolume, FindsTheCorpusVolumesOnTheFlatDiskWithoutItsMbr) {
  // The descriptor and its flat extent, the MBR zeroed; the manifest's
  // layout of the MBR disk gives the starts and sizes. Then the same with
  // the exFAT volume's main boot region (its sectors 0 to 11) zeroed too:
  // its backup region, from sector 12 on, tells the same.
  for (const bool exFatMainGone : {false, true}) {
    SCOPED_TRACE(exFatMainGone);
    test::TempDir dir;
    const auto image = exFatMainGone ? test::CopyFlatDiskWithoutMbr(dir.path(), {{188416, 12}})
                                     : test::CopyFlatDiskWithoutMbr(dir.path());
    CORVANApp app(dir / "settings.ini", dir.path());
    MountAndListSources(app, ImageTypeForPath(image), image);
    ASSERT_TRUE(app.m_pDisk);
    ASSERT_EQ(app.m_sourceList.m_sources.size(), 1u);  // the disk alone
    ASSERT_TRUE(SelectSource(app, 0));
    CThreadForSearchVolume search(MakeLostVolumeJob(app, CurrentSelection(app), nullptr, false, false));
    search.Run();
    EXPECT_EQ(search.ReadFailures(), 0u);
    const struct {
      std::uint64_t start, count;
      std::uint8_t fsKind;
    } layout[] = {
        {2048, 98304, kFsNtfs}, {104448, 81920, kFsFat32}, {188416, 65536, kFsExFat}, {256000, 49152, kFsFat16}};
    const auto& sources = app.m_sourceList.m_sources;
    ASSERT_EQ(sources.size(), 5u);
    for (std::size_t i = 0; i < 4; ++i) {
      const SourceRecord& r = *sources[i + 1];
      EXPECT_EQ(r.kind, kSourceLostVolume);
      EXPECT_EQ(r.index, i + 1);
      ASSERT_TRUE(r.partition);
      EXPECT_EQ(r.partition->startSector, layout[i].start) << i;
      EXPECT_EQ(r.partition->sectorCount, layout[i].count) << i;
      EXPECT_EQ(r.partition->fileSystemKind, layout[i].fsKind) << i;
      EXPECT_EQ(r.partition->diskNumber, kImageDriveNumber) << i;
      EXPECT_LE(r.partition->startSector + r.partition->sectorCount, app.m_sourceList.m_nDiskSectors);
    }
    // exFAT: FAT at 2048, 8 sectors a cluster, root at cluster 5.
    const PartitionRecord& exFat = *sources[3]->partition;
    EXPECT_EQ(exFat.reservedSectors, 2048u);
    EXPECT_EQ(exFat.sectorsPerCluster, 8);
    EXPECT_EQ(exFat.rootCluster, 5u);
    EXPECT_EQ(app.m_nFoundVolumeCount.load(), 4u);
    EXPECT_EQ(app.m_bBusy.load(), 0u);
    EXPECT_NE(app.LogViewText().find("Process completed"), std::string::npos);
  }
}

TEST(CThreadForSearchVolume, StopEndsTheSearchAndNothingIsAddedAfterwards) {
  const std::uint64_t sectors = 21 * kCyl;
  LaidDisk disk(sectors);
  disk.Place("fat16.img", 63);
  disk.Place("ntfs.img", 4 * kCyl);
  Search s(sectors);
  // Stop is asked at the first position after the first cylinder.
  s.sink.onStep = [&s](std::int64_t step) {
    if (step == 256) s.host.AbortFlag() = 1;
  };
  s.Run(disk.Source());
  EXPECT_EQ(s.Found(), 1u);
  EXPECT_NE(s.At(63), nullptr);
  EXPECT_EQ(s.sink.steps, 256);
  for (std::int64_t at : s.sink.addedAtStep) EXPECT_LE(at, 255);
  const std::string log = s.host.LogText();
  EXPECT_NE(log.find("Process aborted. User intervention"), std::string::npos);
  EXPECT_EQ(log.find("Process completed"), std::string::npos);
  EXPECT_EQ(s.host.AbortFlag().load(), 0u);
  EXPECT_EQ(s.host.BusyFlag().load(), 0u);
  EXPECT_TRUE(s.sink.done);
}

// A disk whose failing read leaves bytes in the buffer that look like the
// start of a FAT (as a stale buffer of an earlier FAT read would).
class StaleSource final : public SectorSource {
 public:
  StaleSource(std::shared_ptr<SectorSource> inner, std::uint64_t bad) : inner_(std::move(inner)), bad_(bad) {}
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    if (sector == bad_) {
      const std::uint8_t fat[] = {0xF8, 0xFF, 0xFF, 0x0F};
      std::memcpy(buffer, fat, sizeof fat);
      return false;
    }
    return inner_->ReadSectors(sector, buffer, bytes);
  }
  std::uint64_t SectorCount() const override { return inner_->SectorCount(); }

 private:
  std::shared_ptr<SectorSource> inner_;
  std::uint64_t bad_;
};

TEST(CThreadForSearchVolume, AFailedReadIsTestedAsNothingRead) {
  // A FAT32 volume at 63 whose first FAT sector (63 + 32 reserved) cannot
  // be read: without its FAT it is no volume; the search goes on.
  const std::uint64_t sectors = 20000;
  LaidDisk disk(sectors);
  disk.Place("fat32.img", 63);
  Search control(sectors);
  control.Run(disk.Source());
  ASSERT_NE(control.At(63), nullptr);
  Search s(sectors);
  s.Run(std::make_shared<StaleSource>(disk.Source(), 63 + 32));
  EXPECT_EQ(s.At(63), nullptr);
  EXPECT_GT(s.failures, 0u);
  EXPECT_TRUE(s.sink.done);
}

TEST(CThreadForSearchVolume, LargeFatGeometryDoesNotWrapAndEndsOnTheDisk) {
  // A FAT32 boot sector claiming 128 sectors a cluster and 2^21 sectors a
  // FAT: 128 x 2^21 x 128 = 2^35 sectors, which 32 bits wrap to 0. No total
  // in the boot sector, so the record is cut at the disk's end.
  const std::uint64_t sectors = 120000, at = 63;
  LaidDisk disk(sectors);
  disk.Place("fat32.img", at);
  disk.Write(at, 13, {128});
  disk.Write(at, 32, {0, 0, 0, 0, 0x00, 0x00, 0x20, 0x00});
  Search s(sectors);
  s.Run(disk.Source());
  const PartitionRecord* p = s.At(at);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->sectorCount, sectors - at);
  EXPECT_EQ(p->endSector, sectors - 1);
  EXPECT_EQ(p->sectorsPerCluster, 128);
}

TEST(CThreadForSearchVolume, AnEmptyOrSmallDiskEndsCompleted) {
  // Smaller than a cylinder: pass 1 only; nothing on it.
  LaidDisk disk(10000);
  Search s(10000);
  s.Run(disk.Source());
  EXPECT_EQ(s.Found(), 0u);
  EXPECT_EQ(s.sink.steps, 255 + (10000 - 1) / 2048 - 1);
  EXPECT_NE(s.host.LogText().find("Process completed"), std::string::npos);
  // No disk at all: every read fails, the search still ends.
  Search none(0);
  none.Run(nullptr);
  EXPECT_EQ(none.Found(), 0u);
  EXPECT_TRUE(none.sink.done);
  EXPECT_GE(none.failures, 255u);
}

TEST(CThreadForSearchVolume, TheDeepSearchAlsoFindsBootSectorsAnywhere) {
  // A start no quick-search pass probes: only the deep search reads it.
  const std::uint64_t sectors = 60000, at = 5003;
  LaidDisk disk(sectors);
  disk.Place("fat16.img", at);
  Search quick(sectors);
  quick.Run(disk.Source());
  EXPECT_EQ(quick.Found(), 0u);
  Search s(sectors);
  s.Run(disk.Source(), true);
  ExpectVolume(s, at, VolumeSectors("fat16.img"), kFsFat16, u"FAT");
  EXPECT_EQ(s.At(at)->name, u"Std Vol 1 ");
  // One step a 2048-sector chunk, the last part-chunk included.
  EXPECT_EQ(s.sink.steps, static_cast<std::int64_t>((sectors + 2047) / 2048));
  EXPECT_NE(s.host.LogText().find("Found at sector no. " + std::to_string(at) + " "), std::string::npos);
  EXPECT_NE(s.host.LogText().find("Process completed"), std::string::npos);
  EXPECT_TRUE(s.sink.done);
  EXPECT_EQ(s.host.BusyFlag().load(), 0u);
}

}  // namespace
}  // namespace corvan
