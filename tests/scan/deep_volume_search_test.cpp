// The deep lost-volume search over disks laid out here: corpus volume
// images copied into sparse files at starts of the test's choosing, with
// their boot sectors zeroed where the case says so. Starts, sizes and files
// are checked against the corpus manifest's layout and the truth files.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <span>
#include <thread>
#include <vector>

#include "app/CORVANApp.h"
#include "app/Jobs.h"
#include "app/SourceSetup.h"
#include "console/FoundItemStore.h"
#include "core/HeadlessHost.h"
#include "core/RecoveryMode.h"
#include "engines/fat/FatImageBuilder.h"
#include "platform/ByteCodec.h"
#include "platform/TextConv.h"
#include "scan/CThreadForSearchVolume.h"
#include "scan/ProgramEngines.h"
#include "scan/ScanWorker.h"
#include "sources/FileSectorSource.h"
#include "sources/SourceList.h"
#include "sources/VirtualDiskImage.h"
#include "support/CorpusTruth.h"
#include "support/FolderStarts.h"
#include "support/HeadlessScan.h"
#include "support/Md5.h"
#include "support/NtfsImageBuilder.h"
#include "support/RawSamples.h"
#include "scan/LostVolumeTestSupport.h"
#include "support/TestSupport.h"
#include "support/SyntheticDisk.h"

namespace corvan {
namespace {

using test::LaidDisk;
using test::RecordingSink;
using test::VolumeSectors;

struct Search {
  explicit Search(std::uint64_t sectors) {
    auto disk = std::make_unique<SourceRecord>();
    disk->kind = kSourceDisk;
    disk->disk = std::make_unique<DiskRecord>();
    disk->disk->driveNumber = kImageDriveNumber;
    disk->disk->sectorCount = sectors;
    list.AppendSource(std::move(disk));
  }
  LostVolumeJob Job(std::shared_ptr<SectorSource> disk) {
    return LostVolumeJob{.host = host,
                         .listed = ListedSourcesOf(list),
                         .appendSource = [this](std::unique_ptr<SourceRecord> record) -> SourceRecord& {
                           return list.AppendSource(std::move(record));
                         },
                         .selection = {.source = list.m_sources.front().get(), .disk = std::move(disk)},
                         .session = session,
                         .deep = true,
                         .imageFlag = false,
                         .path = {},
                         .sink = &sink,
                         .resetScanState = {},
                         .freeResults = {}};
  }
  void Run(std::shared_ptr<SectorSource> disk, bool deep = true) {
    LostVolumeJob job = Job(std::move(disk));
    job.deep = deep;
    CThreadForSearchVolume search(std::move(job));
    search.Run();
    failures = search.ReadFailures();
  }
  std::vector<const SourceRecord*> Found() const {
    std::vector<const SourceRecord*> out;
    for (const auto& r : list.m_sources)
      if (r->partition) out.push_back(r.get());
    return out;
  }
  std::vector<const SourceRecord*> At(std::uint64_t start, std::uint8_t fsKind) const {
    std::vector<const SourceRecord*> out;
    for (const SourceRecord* r : Found())
      if (r->partition->startSector == start && r->partition->fileSystemKind == fsKind) out.push_back(r);
    return out;
  }

  HeadlessHost host;
  SourceList list;
  std::shared_ptr<ScanSession> session = std::make_shared<ScanSession>();
  RecordingSink sink;
  std::uint64_t failures = 0;
};

// The first sector of a FAT volume's data area as a record gives it.
std::uint64_t DataStart(const PartitionRecord& p) {
  return p.startSector + p.reservedSectors + 2ull * p.fatSize + p.rootDirSectors;
}

using test::VolumeScan;

std::string Leaf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

// ---- the corpus disk ----

TEST(DeepVolumeSearch, FindsTheCorpusVolumesOnTheFlatDiskWithoutItsMbr) {
  test::TempDir dir;
  const auto image = test::CopyFlatDiskWithoutMbr(dir.path());
  CORVANApp app(dir / "settings.ini", dir.path());
  MountAndListSources(app, ImageTypeForPath(image), image);
  ASSERT_TRUE(app.m_pDisk);
  ASSERT_EQ(app.m_sourceList.m_sources.size(), 1u);
  ASSERT_TRUE(SelectSource(app, 0));
  CThreadForSearchVolume search(MakeLostVolumeJob(app, CurrentSelection(app), nullptr, true, false));
  search.Run();
  EXPECT_EQ(search.ReadFailures(), 0u);
  // The manifest's layout of the MBR disk.
  const struct {
    std::uint64_t start, count;
    std::uint8_t fsKind;
  } layout[] = {{2048, 98304, kFsNtfs}, {104448, 81920, kFsFat32}, {188416, 65536, kFsExFat}, {256000, 49152, kFsFat16}};
  const auto& sources = app.m_sourceList.m_sources;
  for (const auto& v : layout) {
    const auto it = std::find_if(sources.begin(), sources.end(), [&](const auto& r) {
      return r->partition && r->partition->startSector == v.start && r->partition->fileSystemKind == v.fsKind;
    });
    ASSERT_NE(it, sources.end()) << v.start;
    // Their boot sectors are whole: standard finds, with the volume's own size.
    EXPECT_EQ((*it)->kind, kSourceLostVolume) << v.start;
    EXPECT_EQ((*it)->partition->sectorCount, v.count) << v.start;
    EXPECT_EQ((*it)->partition->name.rfind(u"Std Vol ", 0), 0u) << v.start;
  }
  // Nothing more: not the NTFS volume again from its $MFT, nor a FAT volume
  // again from its folders.
  EXPECT_EQ(std::count_if(sources.begin(), sources.end(), [](const auto& r) { return r->partition != nullptr; }),
            4);
  EXPECT_EQ(app.m_bBusy.load(), 0u);
  EXPECT_NE(app.LogViewText().find("Process completed"), std::string::npos);
}

TEST(DeepVolumeSearch, RebuildsTheFat32VolumeWithoutItsBootSectorsOnTheFlatDiskAtItsStartAndSize) {
  // The MBR and the FAT32 volume's boot sector and backup zeroed.
  test::TempDir dir;
  const auto image = test::CopyFlatDiskWithoutMbr(dir.path(), {{104448, 1}, {104448 + 6, 1}});
  CORVANApp app(dir / "settings.ini", dir.path());
  MountAndListSources(app, ImageTypeForPath(image), image);
  ASSERT_TRUE(app.m_pDisk);
  ASSERT_TRUE(SelectSource(app, 0));
  CThreadForSearchVolume search(MakeLostVolumeJob(app, CurrentSelection(app), nullptr, true, false));
  search.Run();
  // The manifest's layout: three volumes from their boot sectors, the FAT32
  // one from its folders, FAT copies and FSInfo sectors, each once.
  const struct {
    std::uint64_t start, count;
    std::uint8_t fsKind, kind;
  } layout[] = {{2048, 98304, kFsNtfs, kSourceLostVolume},
                {104448, 81920, kFsFat32, kSourceDeepLostVolume},
                {188416, 65536, kFsExFat, kSourceLostVolume},
                {256000, 49152, kFsFat16, kSourceLostVolume}};
  std::vector<const SourceRecord*> found;
  for (const auto& r : app.m_sourceList.m_sources)
    if (r->partition) found.push_back(r.get());
  ASSERT_EQ(found.size(), std::size(layout));
  const SourceRecord* fat32 = nullptr;
  for (const auto& v : layout) {
    const auto it = std::find_if(found.begin(), found.end(), [&](const SourceRecord* r) {
      return r->partition->startSector == v.start && r->partition->fileSystemKind == v.fsKind;
    });
    ASSERT_NE(it, found.end()) << v.start;
    EXPECT_EQ((*it)->kind, v.kind) << v.start;
    EXPECT_EQ((*it)->partition->sectorCount, v.count) << v.start;
    if (v.fsKind == kFsFat32) fat32 = *it;
  }
  // fsstat's layout of the corpus volume.
  const PartitionRecord& p = *fat32->partition;
  EXPECT_EQ(p.name.rfind(u"Adv Vol ", 0), 0u);
  EXPECT_EQ(p.fileSystemText, u"FAT32");
  EXPECT_EQ(p.reservedSectors, 32u);
  EXPECT_EQ(p.fatSize, 630u);
  EXPECT_EQ(p.rootDirSectors, 0u);
  EXPECT_EQ(p.sectorsPerCluster, 1u);
  EXPECT_EQ(p.rootCluster, 2u);
  EXPECT_EQ(p.endSector, 104448u + 81920 - 1);

  VolumeScan scan;
  scan.Run(*fat32, app.m_pDisk, kModeAdvance, kAdvanceFat);
  ASSERT_TRUE(scan.problem.empty()) << scan.problem;
  EXPECT_EQ(scan.ExpectLiveFilesOf("fat32"), 25);
}

TEST(DeepVolumeSearch, FindsTheGptDisksVolumesWithoutItsTablesAndEachScansToItsTruth) {
  const MountResult mount = MountImageFile(kImageVmware, test::CorpusDir() / "disks" / "gpt.vmdk");
  ASSERT_TRUE(mount.mounted);
  // The protective MBR, both GPT headers and both entry arrays gone.
  auto disk = std::make_shared<test::OverlaySource>(mount.image);
  const std::uint64_t last = disk->SectorCount() - 1;
  for (std::uint64_t s = 0; s < 34; ++s) std::memset(disk->Sector(s), 0, kSectorSize);
  for (std::uint64_t s = last - 32; s <= last; ++s) std::memset(disk->Sector(s), 0, kSectorSize);

  Search search(disk->SectorCount());
  search.Run(disk);
  // The manifest's layout of the GPT disk, each scanned to its truth.
  const struct {
    std::uint64_t start, count;
    std::uint8_t fsKind;
    const char* truth;
  } layout[] = {{2048, 98304, kFsNtfs, "ntfs"}, {102400, 81920, kFsFat32, "fat32"}};
  for (const auto& v : layout) {
    SCOPED_TRACE(v.truth);
    const auto found = search.At(v.start, v.fsKind);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.front()->partition->sectorCount, v.count);
    VolumeScan scan;
    scan.Run(*found.front(), disk, kModeQuick);
    ASSERT_TRUE(scan.problem.empty()) << scan.problem;
    EXPECT_GT(scan.ExpectLiveFilesOf(v.truth), 10);
  }
}

// ---- volumes next to damaged ones ----

// Little-endian bytes of `value`.
std::vector<std::uint8_t> Le(std::uint64_t value, std::size_t bytes) {
  std::vector<std::uint8_t> out(bytes);
  for (std::size_t k = 0; k < bytes; ++k) out[k] = static_cast<std::uint8_t>(value >> (8 * k));
  return out;
}

// A disk of corpus volumes laid out without a partition table, some of
// their structures zeroed or overwritten, and the real volumes on it.
struct DamagedDisk {
  struct Placed {
    const char* image;
    std::uint64_t at;
  };
  struct Written {
    std::uint64_t sector;
    std::size_t offset;
    std::vector<std::uint8_t> bytes;
  };
  struct Real {
    const char* truth;        // the corpus volume (one not scanned: what it is)
    std::uint8_t fsKind;      // as listed: one without boot sector or FATs is guessed FAT32
    std::uint64_t start;
    std::uint64_t dataStart;  // a volume nothing left tells the start of: listed with this data area
    std::uint64_t sectors;    // its size when the volume tells it (0: not checked)
    // What a Quick scan of it gives: nothing (its files are not reachable),
    // every live file, or every live file with the root's under folders
    // named after their root clusters (read without its FAT, the volume does
    // not know which clusters are its root folder).
    enum Scan { kNotScanned, kEveryFile, kRootInClusterFolders } scan;
  };
  const char* name;
  std::uint64_t sectors;
  std::vector<Placed> placed;
  std::vector<test::SectorRun> zeroed;
  std::vector<Written> written;
  std::vector<Real> real;
};

using Real = DamagedDisk::Real;
constexpr auto kNotScanned = Real::kNotScanned, kEveryFile = Real::kEveryFile,
               kRootInClusterFolders = Real::kRootInClusterFolders;

// The corpus MBR disk's volumes (the manifest's layout) on its flat extent.
constexpr std::uint64_t kFlatSectors = 368640;
const std::vector<DamagedDisk::Placed> kFlat = {{"disks/mbr-mflat-flat.vmdk", 0}};
const Real kFlatNtfs{"ntfs", kFsNtfs, 2048, 0, 98304, kEveryFile};
const Real kFlatFat32{"fat32", kFsFat32, 104448, 0, 81920, kEveryFile};
const Real kFlatExFat{"exfat", kFsExFat, 188416, 0, 65536, kEveryFile};
// Without its boot sector its start is not known; its FATs and root give the rest.
const Real kFlatFat16ByFats{"fat16", kFsFat16, 256000, 256000 + 4 + 96 + 32, 0, kEveryFile};
const Real kFlatFat16{"fat16", kFsFat16, 256000, 0, 49152, kEveryFile};

// Folder starts (see FolderStartSector) of the clusters `clusters` of a
// volume whose data area begins at `dataArea`, `spc` sectors a cluster.
std::vector<DamagedDisk::Written> FolderStarts(std::uint64_t dataArea, std::uint32_t spc,
                                               std::initializer_list<std::uint32_t> clusters) {
  std::vector<DamagedDisk::Written> out;
  for (const std::uint32_t c : clusters) out.push_back({dataArea + (c - 2ull) * spc, 0, test::FolderStartSector(c)});
  return out;
}

TEST(DeepVolumeSearch, EveryRealVolumeNextToADamagedOneIsListedAndScansToItsTruth) {
  // fsstat's layouts: FAT16 with 4 reserved sectors, FATs of 48, 32 root
  // sectors, 4 sectors a cluster; FAT32 with 32 reserved sectors, FATs of
  // 630, one sector a cluster, 80,628 clusters; NTFS of 98,304 sectors.
  const std::uint64_t fat32Entry = 80629ull * 4;  // the last cluster's FAT entry
  // The corpus NTFS volume's first 16 $MFT records (8 sectors a cluster, $MFT at cluster 4).
  const std::vector<std::uint8_t> ntfsMft = rawtest::ReadAt(test::CorpusDir() / "ntfs.img", 32 * 512, 16 * 1024);
  // Two runs of folders, 8 sectors a cluster, with no boot sector or FAT in
  // front of either: each a FAT32 guess 32 + 2 sectors before its data
  // area. The second's guess begins right after the first's last folder
  // (its cluster 40 at sector 10,034 + 38 x 8 = 10,338): at 10,339.
  const std::uint64_t firstData = 10034, secondData = firstData + 38 * 8 + 1 + 34;
  std::vector<DamagedDisk::Written> sideBySide = FolderStarts(firstData, 8, {3, 9, 21, 40});
  for (DamagedDisk::Written& w : FolderStarts(secondData, 8, {3, 5, 12, 30})) sideBySide.push_back(std::move(w));
  const std::vector<DamagedDisk> disks = {
      {"FAT16 and FAT32 both without boot sectors and FATs",
       137216,
       {{"fat16.img", 2048}, {"fat32.img", 53248}},
       {{2048, 132}, {53248, 1292}},
       {},
       {{"fat16", kFsFat32, 2048, 2048 + 132, 0, kNotScanned},
        {"fat32", kFsFat32, 53248, 53248 + 1292, 0, kRootInClusterFolders}}},
      {"FAT16 whose count says 200, NTFS without boot sectors",
       151552,
       {{"fat16.img", 2048}, {"ntfs.img", 51200}},
       {{51200, 1}, {51200 + 98303, 1}},
       {{2048, 19, Le(200, 2)}},
       {{"fat16", kFsFat16, 2048, 0, 49152, kEveryFile}, {"ntfs", kFsNtfs, 51200, 0, 0, kEveryFile}}},
      {"NTFS without boot sectors where a FAT16 listed whole ends",
       151552,
       {{"fat16.img", 2048}, {"ntfs.img", 51200}},
       {{51200, 1}, {51200 + 98303, 1}},
       {},
       {{"fat16", kFsFat16, 2048, 0, 49152, kEveryFile}, {"ntfs", kFsNtfs, 51200, 0, 0, kEveryFile}}},
      {"exFAT whose length says 70,000",
       kFlatSectors,
       kFlat,
       {{0, 1}, {256000, 1}},
       {{188416, 72, Le(70000, 8)}, {188416 + 12, 72, Le(70000, 8)}},
       {kFlatNtfs, kFlatFat32, kFlatExFat, kFlatFat16ByFats}},
      {"exFAT without its main boot sector, its backup's length 200,000",
       kFlatSectors,
       kFlat,
       {{0, 1}, {188416, 1}, {256000, 1}},
       {{188416 + 12, 72, Le(200000, 8)}},
       {kFlatNtfs, kFlatFat32, {"exfat", kFsExFat, 188416, 0, 65536, kNotScanned}, kFlatFat16ByFats}},
      {"exFAT without its main boot sector, its backup's length 2^64-1",
       kFlatSectors,
       kFlat,
       {{0, 1}, {188416, 1}, {256000, 1}},
       {{188416 + 12, 72, Le(~0ull, 8)}},
       {kFlatNtfs, kFlatFat32, {"exfat", kFsExFat, 188416, 0, 65536, kNotScanned}, kFlatFat16ByFats}},
      {"NTFS whose count says 2^63-1, its backup gone",
       kFlatSectors,
       kFlat,
       {{0, 1}, {2048 + 98303, 1}},
       {{2048, 40, Le(0x7FFFFFFFFFFFFFFFull, 8)}},
       {{"ntfs", kFsNtfs, 2048, 0, 0, kEveryFile}, kFlatFat32, kFlatExFat, kFlatFat16}},
      {"NTFS whose count says 200,000",
       kFlatSectors,
       kFlat,
       {{0, 1}},
       {{2048, 40, Le(200000, 8)}},
       {kFlatNtfs, kFlatFat32, kFlatExFat, kFlatFat16}},
      // A count its $Bitmap cannot agree with (the volume has more clusters):
      // the $Bitmap and the backup boot sector give the size.
      {"NTFS whose count says 60,000, its backup whole",
       kFlatSectors,
       kFlat,
       {{0, 1}},
       {{2048, 40, Le(60000, 8)}},
       {kFlatNtfs, kFlatFat32, kFlatExFat, kFlatFat16}},
      // The last volume of a disk often ends at its last sector: its count
      // is its size, which hides what lies in it (here the start of the $MFT
      // of an NTFS image once kept in the FAT32 volume's free space, at its
      // sector 70,000); a guess would hide nothing and end where that $MFT
      // implies a volume. The exFAT volume's cluster heap ends at its
      // length, 65,536.
      {"FAT32 ending at the disk's last sector",
       2048 + 81920,
       {{"fat32.img", 2048}},
       {},
       {{2048 + 70000, 0, ntfsMft}},
       {{"fat32", kFsFat32, 2048, 0, 81920, kEveryFile}}},
      {"exFAT ending at the disk's last sector",
       2048 + 65536,
       {{"exfat.img", 2048}},
       {},
       {},
       {{"exfat", kFsExFat, 2048, 0, 65536, kEveryFile}}},
      {"FAT32 whose FAT size says 0xFFFFFFFF",
       kFlatSectors,
       kFlat,
       {{0, 1}},
       {{104448, 36, Le(0xFFFFFFFF, 4)}, {104448 + 6, 36, Le(0xFFFFFFFF, 4)}},
       {kFlatNtfs, kFlatFat32, kFlatExFat, kFlatFat16}},
      {"FAT16 whose FAT size says 0",
       kFlatSectors,
       kFlat,
       {{0, 1}},
       {{256000, 22, Le(0, 2)}},
       {kFlatNtfs, kFlatFat32, kFlatExFat, kFlatFat16}},
      {"FAT32 and FAT16 without boot sectors and FATs, exFAT without boot regions",
       kFlatSectors,
       kFlat,
       {{0, 1}, {104448, 1292}, {188416, 24}, {256000, 132}},
       {},
       {kFlatNtfs,
        {"fat32", kFsFat32, 104448, 104448 + 1292, 0, kRootInClusterFolders},
        {"fat16", kFsFat32, 256000, 256132, 0, kNotScanned}}},
      // The first one's $Bitmap gone too (record 6: 8 sectors a cluster, $MFT
      // at cluster 4): nothing tells its size, and the second lies in the guess.
      {"two NTFS volumes formatted alike, back to back, without boot sectors",
       202752,
       {{"ntfs.img", 2048}, {"ntfs.img", 100352}},
       {{2048, 1}, {2048 + 32 + 12, 2}, {2048 + 98303, 1}, {100352, 1}, {100352 + 98303, 1}},
       {},
       {{"ntfs", kFsNtfs, 2048, 0, 0, kEveryFile},
        {"ntfs", kFsNtfs, 100352, 0, 0, kEveryFile}}},
      {"two FAT32 volumes formatted alike, back to back, without boot sectors and FATs",
       167936,
       {{"fat32.img", 2048}, {"fat32.img", 83968}},
       {{2048, 1292}, {83968, 1292}},
       {},
       {{"fat32", kFsFat32, 2048, 2048 + 1292, 0, kRootInClusterFolders},
        {"fat32", kFsFat32, 83968, 83968 + 1292, 0, kRootInClusterFolders}}},
      // Its last cluster (80,629) taken in both FATs, and the FSInfo's free
      // count (77,212) one less, as a driver leaves them.
      {"FAT32 without boot sectors whose last cluster is in use",
       90000,
       {{"fat32.img", 7001}},
       {{7001, 1}, {7001 + 6, 1}},
       {{7001 + 32 + fat32Entry / 512, fat32Entry % 512, Le(0x0FFFFFFF, 4)},
        {7001 + 32 + 630 + fat32Entry / 512, fat32Entry % 512, Le(0x0FFFFFFF, 4)},
        {7001 + 1, 488, Le(77212 - 1, 4)}},
       {{"fat32", kFsFat32, 7001, 0, 81920, kEveryFile}}},
      {"two FAT volumes side by side without boot sectors and FATs, the second's guess after the first's last folder",
       40000,
       {},
       {},
       sideBySide,
       {{"the first run of folders", kFsFat32, firstData - 34, firstData, 0, kNotScanned},
        {"the second run of folders", kFsFat32, secondData - 34, secondData, 0, kNotScanned}}},
  };
  for (const DamagedDisk& d : disks) {
    SCOPED_TRACE(d.name);
    LaidDisk disk(d.sectors);
    for (const auto& v : d.placed) disk.Place(v.image, v.at);
    for (const test::SectorRun& run : d.zeroed) disk.Zero(run.first, run.count);
    for (const auto& w : d.written) disk.Write(w.sector, w.offset, w.bytes);
    Search s(d.sectors);
    s.Run(disk.Source());
    for (const Real& v : d.real) {
      SCOPED_TRACE(std::string(v.truth) + " at " + std::to_string(v.start));
      std::vector<const SourceRecord*> listed;
      for (const SourceRecord* r : s.Found())
        if (v.dataStart != 0 ? r->partition->fileSystemKind != kFsNtfs && DataStart(*r->partition) == v.dataStart
                             : r->partition->startSector == v.start)
          listed.push_back(r);
      EXPECT_EQ(listed.size(), 1u);
      if (listed.size() != 1) continue;
      const SourceRecord& r = *listed.front();
      EXPECT_EQ(r.partition->fileSystemKind, v.fsKind);
      if (v.sectors != 0) EXPECT_EQ(r.partition->sectorCount, v.sectors);
      if (v.scan == kNotScanned) continue;
      VolumeScan scan;
      scan.Run(r, disk.Source(), kModeQuick);
      EXPECT_TRUE(scan.problem.empty()) << scan.problem;
      EXPECT_GT(scan.ExpectLiveFilesOf(v.truth, v.scan == kEveryFile ? VolumeScan::RootFiles::kInRoot
                                                                       : VolumeScan::RootFiles::kInRootClusterFolders),
                10);
    }
    // Neighbours do not overlap: a guessed size ends where the next volume begins.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;
    for (const SourceRecord* r : s.Found()) extents.emplace_back(r->partition->startSector, r->partition->sectorCount);
    std::sort(extents.begin(), extents.end());
    for (std::size_t k = 1; k < extents.size(); ++k)
      EXPECT_LE(extents[k - 1].first + extents[k - 1].second, extents[k].first) << extents[k].first;
  }
}

// ---- NTFS from its $MFT ----

TEST(DeepVolumeSearch, NtfsWithoutBothBootSectorsIsFoundFromItsMftAndRecovered) {
  // An odd start, not one the quick search probes.
  const std::uint64_t at = 5001, sectors = 120000;
  const std::uint64_t volume = VolumeSectors("ntfs.img");
  LaidDisk disk(sectors);
  disk.Place("ntfs.img", at);
  disk.Zero(at);
  disk.Zero(at + volume - 1);
  Search quick(sectors);
  quick.Run(disk.Source(), false);
  EXPECT_TRUE(quick.Found().empty()) << "the quick search cannot find it";

  Search s(sectors);
  s.Run(disk.Source());
  const auto found = s.At(at, kFsNtfs);
  ASSERT_EQ(found.size(), 1u);
  const SourceRecord& r = *found.front();
  EXPECT_EQ(r.kind, kSourceDeepLostVolume);
  const PartitionRecord& p = *r.partition;
  EXPECT_EQ(p.name, u"Adv Vol 1 ");
  EXPECT_EQ(p.fileSystemText, u"NTFS");
  // The corpus volume: 8 sectors a cluster, $MFT at cluster 4.
  EXPECT_EQ(p.ntfsSectorsPerCluster, 8);
  EXPECT_EQ(p.mftSector, 32u);
  // No boot sector says its length: its $Bitmap does, the volume's own.
  EXPECT_EQ(p.sectorCount, volume);
  EXPECT_EQ(p.endSector, at + volume);
  EXPECT_NE(s.host.LogText().find("Found at sector no. " + std::to_string(at) + " "), std::string::npos);

  VolumeScan scan;
  scan.Run(r, disk.Source(), kModeAdvance, kAdvanceNtfs);
  ASSERT_TRUE(scan.problem.empty()) << scan.problem;
  ASSERT_NE(scan.Engine(), nullptr);
  EXPECT_GT(scan.ExpectLiveFilesOf("ntfs"), 10);
}

// A disk whose failing reads hand back the bytes of the read before (as a
// reused buffer would), and say they failed.
class StaleSource final : public SectorSource {
 public:
  StaleSource(std::shared_ptr<SectorSource> inner, std::uint64_t bad) : inner_(std::move(inner)), bad_(bad) {}
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    if (sector == bad_) {
      std::memcpy(buffer, last_.data(), std::min(bytes, last_.size()));
      return false;
    }
    const bool ok = inner_->ReadSectors(sector, buffer, bytes);
    last_.assign(static_cast<const std::uint8_t*>(buffer), static_cast<const std::uint8_t*>(buffer) + bytes);
    return ok;
  }
  std::uint64_t SectorCount() const override { return inner_->SectorCount(); }

 private:
  std::shared_ptr<SectorSource> inner_;
  std::uint64_t bad_;
  std::vector<std::uint8_t> last_;
};

TEST(DeepVolumeSearch, AFailedChunkIsExaminedAsZerosNotAsTheChunkBefore) {
  // The volume's $MFT lies in the chunk at 4096; the next chunk cannot be
  // read. Its stale bytes would show the $MFT again 2048 sectors on.
  const std::uint64_t at = 4100, sectors = 120000;
  LaidDisk disk(sectors);
  disk.Place("ntfs.img", at);
  disk.Zero(at);
  disk.Zero(at + VolumeSectors("ntfs.img") - 1);
  Search s(sectors);
  s.Run(std::make_shared<StaleSource>(disk.Source(), 6144));
  EXPECT_GT(s.failures, 0u);
  std::vector<std::uint64_t> ntfs;
  for (const SourceRecord* r : s.Found())
    if (r->partition->fileSystemKind == kFsNtfs) ntfs.push_back(r->partition->startSector);
  EXPECT_EQ(ntfs, std::vector<std::uint64_t>{at});
  EXPECT_TRUE(s.sink.done);
}

// The disk read through another with copies of one 1024-byte record, one
// every KiB from sector `first` on.
class RecordCopies final : public SectorSource {
 public:
  RecordCopies(std::shared_ptr<SectorSource> inner, std::vector<std::uint8_t> record, std::uint64_t first,
               std::uint64_t copies)
      : inner_(std::move(inner)), record_(std::move(record)), first_(first), copies_(copies) {}
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    const bool ok = inner_->ReadSectors(sector, buffer, bytes);
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::uint64_t k = 0; k < bytes / kSectorSize; ++k) {
      const std::uint64_t s = sector + k;
      if (s >= first_ && s - first_ < 2 * copies_)
        std::memcpy(out + k * kSectorSize, record_.data() + (s - first_) % 2 * kSectorSize, kSectorSize);
    }
    return ok;
  }
  std::uint64_t SectorCount() const override { return inner_->SectorCount(); }

 private:
  std::shared_ptr<SectorSource> inner_;
  std::vector<std::uint8_t> record_;
  std::uint64_t first_, copies_;
};

TEST(DeepVolumeSearch, CopiesOfAnMftRecordAreOneVolumeAndNoIndexRepeats) {
  // 90,000 copies of the corpus NTFS volume's $MFT record 0 (its sectors 32
  // and 33: 8 sectors a cluster, $MFT at cluster 4) over the last 88 MiB of
  // the flat MBR disk, whose volumes the list does not hold yet.
  const MountResult mount = MountImageFile(kImageVmware, test::CorpusDir() / "disks" / "mbr-mflat.vmdk");
  ASSERT_TRUE(mount.mounted);
  const std::vector<std::uint8_t> record = rawtest::ReadAt(test::CorpusDir() / "ntfs.img", 32 * 512, 1024);
  ASSERT_EQ(std::memcmp(record.data(), "FILE", 4), 0);
  const std::uint64_t copies = 90000, first = mount.image->SectorCount() - 2 * copies;
  Search s(mount.image->SectorCount());
  s.Run(std::make_shared<RecordCopies>(mount.image, record, first, copies));
  // The volume at 2048 from its boot sector; the copies imply a volume 32
  // sectors before the first of them, and every later one lies inside it.
  std::vector<std::uint64_t> ntfs;
  for (const SourceRecord* r : s.Found())
    if (r->partition->fileSystemKind == kFsNtfs) ntfs.push_back(r->partition->startSector);
  EXPECT_EQ(ntfs, (std::vector<std::uint64_t>{2048, first - 32}));
  ASSERT_EQ(s.At(2048, kFsNtfs).size(), 1u);
  EXPECT_EQ(s.At(2048, kFsNtfs).front()->partition->sectorCount, 98304u);
  // The FAT32 volume before the copies, from its boot sector, once.
  ASSERT_EQ(s.At(104448, kFsFat32).size(), 1u);
  EXPECT_EQ(s.At(104448, kFsFat32).front()->partition->sectorCount, 81920u);
  std::set<std::uint16_t> indexes;
  for (const auto& r : s.list.m_sources) EXPECT_TRUE(indexes.insert(r->index).second) << r->index;
}

// ---- FAT from its folders ----

TEST(DeepVolumeSearch, Fat32WithoutBothBootSectorsIsRebuiltFromItsFolders) {
  const std::uint64_t at = 7001, sectors = 100000;
  LaidDisk disk(sectors);
  disk.Place("fat32.img", at);
  disk.Zero(at);
  disk.Zero(at + 6);  // the backup boot sector
  Search s(sectors);
  s.Run(disk.Source());
  // The corpus volume where it lies, as long as the manifest says, once.
  ASSERT_EQ(s.Found().size(), 1u);
  const SourceRecord& rebuilt = *s.Found().front();
  const PartitionRecord& p = *rebuilt.partition;
  EXPECT_EQ(rebuilt.kind, kSourceDeepLostVolume);
  EXPECT_EQ(p.fileSystemKind, kFsFat32);
  EXPECT_EQ(p.startSector, at);
  EXPECT_EQ(p.sectorCount, 81920u);
  // 32 reserved sectors and two FATs of 630 before its data area, one
  // sector a cluster (fsstat).
  EXPECT_EQ(DataStart(p), at + 32 + 2 * 630);
  EXPECT_EQ(p.sectorsPerCluster, 1);
  EXPECT_EQ(p.fileSystemText, u"FAT32");
  EXPECT_EQ(p.clusterArrayCount, p.clusterArray.size());
  // Every folder of the truth (live or deleted) begins with "." and "..".
  std::size_t folders = 0;
  for (const test::TruthRow& row : test::ReadTruth(test::CorpusDir() / "fat32.truth.tsv")) folders += row.type == "dir";
  EXPECT_GE(p.clusterArray.size(), folders);

  VolumeScan scan;
  scan.Run(rebuilt, disk.Source(), kModeQuick);
  ASSERT_TRUE(scan.problem.empty()) << scan.problem;
  EXPECT_EQ(scan.ExpectLiveFilesOf("fat32"), 25);
}

// A FAT32 volume of 256,960 sectors made by mkfs.fat (one sector a cluster
// at that size), with folders and files written by mtools, at sector 63 of
// a disk: listed once, from its boot sector, or without it from what the
// volume still holds, at its start and size.
TEST(DeepVolumeSearch, AFat32VolumeAtSector63IsListedOnceWithOrWithoutItsBootSectors) {
  for (const char* tool : {"/sbin/mkfs.fat", "/usr/bin/mmd", "/usr/bin/mcopy"})
    if (!std::filesystem::exists(tool)) GTEST_SKIP() << tool << " missing: run scripts/setup-deps";
  test::TempDir dir;
  const std::uint64_t at = 63, volume = 256960, sectors = at + volume + 1000;
  const std::string img = "'" + (dir / "v.img").string() + "'";
  ASSERT_EQ(std::system(("/sbin/mkfs.fat -C -F 32 " + img + " " + std::to_string(volume / 2) + " >/dev/null").c_str()), 0);
  std::map<std::string, std::string> files;  // path -> MD5
  for (int k = 0; k < 6; ++k) {
    const std::string folder = "Folder " + std::to_string(k), path = folder + "/Sub/data " + std::to_string(k) + ".bin";
    std::string bytes(1000 + 777 * k, '\0');
    for (std::size_t b = 0; b < bytes.size(); ++b) bytes[b] = static_cast<char>(b * 31 + k);
    test::WriteWholeFile(dir / "data.bin", bytes);
    const std::string mtools = "MTOOLS_SKIP_CHECK=1 ";
    ASSERT_EQ(std::system((mtools + "mmd -i " + img + " '::" + folder + "' '::" + folder + "/Sub' && " + mtools +
                           "mcopy -i " + img + " '" + (dir / "data.bin").string() + "' '::" + path + "'")
                              .c_str()),
              0);
    test::Md5 md5;
    md5.Update(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
    files[path] = md5.HexDigest();
  }
  LaidDisk disk(sectors);
  disk.PlaceFile(dir / "v.img", at);
  for (const bool bootSectors : {true, false}) {
    SCOPED_TRACE(bootSectors ? "boot sectors kept" : "boot sectors zeroed");
    if (!bootSectors) {
      disk.Zero(at);
      disk.Zero(at + 6);
    }
    Search s(sectors);
    s.Run(disk.Source());
    ASSERT_EQ(s.Found().size(), 1u);
    const SourceRecord& r = *s.Found().front();
    EXPECT_EQ(r.partition->startSector, at);
    EXPECT_EQ(r.partition->sectorCount, volume);
    EXPECT_EQ(r.partition->fileSystemKind, kFsFat32);
    EXPECT_EQ(r.kind, bootSectors ? kSourceLostVolume : kSourceDeepLostVolume);

    VolumeScan scan;
    scan.Run(r, disk.Source(), kModeQuick);
    ASSERT_TRUE(scan.problem.empty()) << scan.problem;
    std::map<std::string, std::string> listed;
    for (FoundItemHandle h = 1; h < scan.store.Count(); ++h) {
      const StoredItem item = scan.store.Item(h);
      if (!item.record.IsFolder()) listed[Utf16ToUtf8(scan.store.PathOf(h))] = scan.Md5Of(item.record);
    }
    EXPECT_EQ(listed, files);
  }
}

TEST(DeepVolumeSearch, Fat32WithEightSectorClustersIsRebuiltFromItsFolders) {
  // Built here: FAT32, 65,536 sectors, 8 a cluster, 32 reserved, FATs of 64;
  // root at cluster 2 lists five folders (clusters 3..7), each holding one
  // file of three contiguous clusters.
  fattest::FatImage image(kFat32, 65536, 8, 32, 64, 0);
  std::map<std::string, std::string> files;  // name -> MD5 of its data
  for (std::uint32_t k = 0; k < 5; ++k) {
    const std::uint32_t folder = 3 + k, first = 20 + 3 * k;
    char folderName[12], fileName[12];
    std::snprintf(folderName, sizeof folderName, "DIR%u       ", k);
    std::snprintf(fileName, sizeof fileName, "FILE%u   TXT", k);
    fattest::PutShortEntry(image.Cluster(2) + 32 * k, folderName, 0x10, folder, 0);
    fattest::PutDotEntries(image.Cluster(folder), folder, 0);
    const std::uint32_t size = 3 * 4096 - 100 * (k + 1);
    fattest::PutShortEntry(image.Cluster(folder) + 64, fileName, 0x20, first, size);
    image.Chain({folder});
    image.Chain({first, first + 1, first + 2});
    std::uint8_t* data = image.Cluster(first);
    for (std::uint32_t b = 0; b < size; ++b) data[b] = static_cast<std::uint8_t>(b * 7 + k * 13);
    test::Md5 md5;
    md5.Update(std::span<const std::uint8_t>(data, size));
    files["FILE" + std::to_string(k) + ".TXT"] = md5.HexDigest();
  }
  const std::uint64_t at = 9001, sectors = at + 65536 + 1000;
  LaidDisk disk(sectors);
  disk.WriteBytes(at, image.Bytes());
  disk.Zero(at);
  disk.Zero(at + 6);
  Search s(sectors);
  s.Run(disk.Source());
  const std::uint64_t dataArea = at + 32 + 2 * 64;
  const SourceRecord* rebuilt = nullptr;
  for (const SourceRecord* r : s.Found())
    if (r->partition->fileSystemKind == kFsFat32 && DataStart(*r->partition) == dataArea) rebuilt = r;
  ASSERT_NE(rebuilt, nullptr);
  EXPECT_EQ(rebuilt->partition->sectorsPerCluster, 8);
  EXPECT_EQ(rebuilt->kind, kSourceDeepLostVolume);
  EXPECT_EQ(rebuilt->partition->clusterArray, (std::vector<std::uint32_t>{3, 4, 5, 6, 7}));

  VolumeScan scan;
  scan.Run(*rebuilt, disk.Source(), kModeQuick);
  ASSERT_TRUE(scan.problem.empty()) << scan.problem;
  ASSERT_NE(scan.Engine(), nullptr);
  std::map<std::string, std::string> found;
  for (FoundItemHandle h = 1; h < scan.store.Count(); ++h) {
    const StoredItem item = scan.store.Item(h);
    const std::string name = Leaf(Utf16ToUtf8(scan.store.PathOf(h)));
    if (!item.record.IsFolder() && files.count(name)) found[name] = scan.Md5Of(item.record);
  }
  EXPECT_EQ(found, files);
}

TEST(DeepVolumeSearch, AnMftWhoseRunsGoOnInAnExtensionRecordGivesItsStart) {
  // Built here: 4 sectors a cluster, $MFT of 64 records at cluster 16, and
  // 8 clusters more that only extension record 20 maps; the $MFT's
  // allocated size (40 clusters) fits 4 sectors a cluster only with them.
  using namespace test::ntfsimg;
  NtfsImage image(4, 4000, 16, 64);
  const std::uint64_t more = image.Allocate(8);
  const std::uint64_t allocated = 40 * 2048ull;
  RecordBuilder mft;
  mft.number = 0;
  Bytes list;
  for (const Bytes& e : {AttrListEntry(0x10, 0, Ref(0), 0), AttrListEntry(0x20, 0, Ref(0), 1),
                         AttrListEntry(0x30, 0, Ref(0), 2), AttrListEntry(0x80, 0, Ref(0), 3),
                         AttrListEntry(0x80, 32, Ref(20), 0)})
    list.insert(list.end(), e.begin(), e.end());
  mft.Add(Resident(0x10, StdInfo(0, 0), u"", 0))
      .Add(Resident(0x20, list, u"", 1))
      .Add(Resident(0x30, FileName(Ref(5, 5), u"$MFT", 3, 0x06), u"", 2))
      .Add(NonResident(0x80, Pairs({{16, 32}}), 0, 31, allocated, allocated, allocated, 0, 0, u"", 3));
  image.PutRecord(0, mft.Build());
  RecordBuilder extension;
  extension.number = 20;
  extension.baseReference = Ref(0);
  extension.Add(NonResident(0x80, Pairs({{more, 8}}), 32, 39, 0, 0, 0, 0, 0, u"", 0));
  image.PutRecord(20, extension.Build());
  for (std::uint32_t n = 1; n < 12; ++n) {
    if (n == 20) continue;
    RecordBuilder other;
    other.number = n;
    other.Add(Resident(0x10, StdInfo(0, 0), u"", 0));
    image.PutRecord(n, other.Build());
  }
  Bytes bytes = image.Finish();
  const std::uint64_t volume = bytes.size() / 512, at = 5001, sectors = at + volume + 4000;
  LaidDisk disk(sectors);
  disk.WriteBytes(at, bytes);
  disk.Zero(at);
  disk.Zero(at + volume - 1);
  Search s(sectors);
  s.Run(disk.Source());
  const auto found = s.At(at, kFsNtfs);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found.front()->kind, kSourceDeepLostVolume);
  EXPECT_EQ(found.front()->partition->ntfsSectorsPerCluster, 4);
  EXPECT_EQ(found.front()->partition->mftSector, 64u);
  EXPECT_EQ(s.Found().size(), 1u);

  // Without the extension record the cluster count fits no cluster size.
  disk.Zero(at + 64 + 40);
  disk.Zero(at + 64 + 41);
  Search without(sectors);
  without.Run(disk.Source());
  EXPECT_TRUE(without.Found().empty());
}

TEST(DeepVolumeSearch, ThreeFoldersAreNoVolume) {
  // Folder starts of one volume, 8 sectors a cluster: with four a volume is
  // rebuilt, with three nothing is.
  for (const int folders : {3, 4}) {
    SCOPED_TRACE(folders);
    const std::uint64_t sectors = 60000, dataArea = 30000;
    LaidDisk disk(sectors);
    for (int k = 0; k < folders; ++k) {
      const std::uint32_t cluster = 10 + 7 * k;
      disk.Write(dataArea + (cluster - 2) * 8ull, test::FolderStartSector(cluster));
    }
    Search s(sectors);
    s.Run(disk.Source());
    bool atDataArea = false;
    for (const SourceRecord* r : s.Found()) atDataArea |= DataStart(*r->partition) == dataArea;
    EXPECT_EQ(atDataArea, folders == 4);
  }
}


TEST(DeepVolumeSearch, ARebuiltVolumeThatWouldRunPastTheDiskEndsOnIt) {
  // The corpus FAT16 volume (4 reserved sectors, FATs of 48, 32 root
  // sectors, 4 sectors a cluster) without its boot sector, on a disk that
  // ends 652 sectors before the 49,152 its FAT can address.
  const std::uint64_t at = 3000, sectors = at + 3 + 48500;
  LaidDisk disk(sectors);
  disk.Place("fat16.img", at);
  disk.Truncate(sectors);
  disk.Zero(at);
  Search s(sectors);
  s.Run(disk.Source());
  const std::uint64_t dataArea = at + 4 + 96 + 32;
  const SourceRecord* rebuilt = nullptr;
  for (const SourceRecord* r : s.Found())
    if (r->partition->fileSystemKind == kFsFat16 && r->partition->fatSize == 48) rebuilt = r;
  ASSERT_NE(rebuilt, nullptr);
  const PartitionRecord& p = *rebuilt->partition;
  EXPECT_EQ(DataStart(p), dataArea);
  EXPECT_EQ(p.sectorsPerCluster, 4);
  EXPECT_EQ(p.sectorCount, sectors - p.startSector);
  EXPECT_EQ(p.endSector, sectors - 1);
  EXPECT_EQ(p.sizeText, FormatSizeText(sectors - p.startSector));
}

// ---- the cluster-size vote ----

TEST(DeepVolumeSearch, VoteSectorsPerClusterTakesWhatThePairsAgreeOn) {
  using Candidate = CThreadForSearchVolume::DirectoryCandidate;
  // Folders of a volume with 16 sectors a cluster, data area at 1000.
  std::vector<Candidate> group;
  for (std::uint32_t c : {5u, 9u, 30u, 31u, 100u}) group.push_back({1000 + (c - 2) * 16ull, c, 0});
  EXPECT_EQ(CThreadForSearchVolume::VoteSectorsPerCluster(group), 16);
  for (const Candidate& m : group) EXPECT_EQ(m.vote, 16);
  // Spacings that are no power of two vote for nothing.
  std::vector<Candidate> odd;
  for (std::uint32_t c : {5u, 6u, 7u, 8u}) odd.push_back({1000 + (c - 2) * 3ull, c, 0});
  EXPECT_EQ(CThreadForSearchVolume::VoteSectorsPerCluster(odd), 0);
  // A tie goes to the smaller size.
  std::vector<Candidate> tie = {{100, 10, 0}, {102, 11, 0}, {106, 12, 0}};
  // Pairs: (100,102) 2, (102,106) 4, (100,106) 3 -> one vote each for 2 and 4.
  EXPECT_EQ(CThreadForSearchVolume::VoteSectorsPerCluster(tie), 2);
}

// A disk of 2^33 sectors that holds nothing but the two FAT copies' first
// sectors at the places given: large disks are never read whole here.
class SparseFatSource final : public SectorSource {
 public:
  SparseFatSource(std::uint64_t sectors, std::vector<std::uint64_t> fats) : sectors_(sectors), fats_(std::move(fats)) {}
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::memset(out, 0, bytes);
    const std::uint64_t count = bytes / 512;
    if (sector + count > sectors_) return false;
    for (const std::uint64_t f : fats_)
      if (f >= sector && f < sector + count) {
        // Entry 0 (the media byte) and entry 1 (end of chain) of a FAT32 FAT.
        const std::uint8_t media[] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
        std::memcpy(out + (f - sector) * 512, media, sizeof media);
      }
    return true;
  }
  std::uint64_t SectorCount() const override { return sectors_; }

 private:
  std::uint64_t sectors_;
  std::vector<std::uint64_t> fats_;
};

TEST(DeepVolumeSearch, AFat32VolumePastTwoTebibytesIsRebuiltWhereItLies) {
  // FAT32 at 2^32 + 12345: 32 reserved sectors, two FATs of 2048, 8 sectors
  // a cluster. In 32 bits its folders' sectors and the start wrap.
  const std::uint64_t start = (1ull << 32) + 12345, fat = 2048, spc = 8;
  const std::uint64_t dataArea = start + 32 + 2 * fat;
  const std::uint64_t sectors = 1ull << 33;
  Search s(sectors);
  CThreadForSearchVolume search(s.Job(std::make_shared<SparseFatSource>(sectors, std::vector<std::uint64_t>{
                                                                                   start + 32, start + 32 + fat})));
  search.GetSourceSize();
  ASSERT_EQ(search.TotalSectors(), sectors);
  std::vector<CThreadForSearchVolume::DirectoryCandidate> group;
  for (std::uint32_t c : {3u, 40u, 41u, 700u, 70000u}) group.push_back({dataArea + (c - 2) * spc, c, 0});
  const std::uint8_t voted = CThreadForSearchVolume::VoteSectorsPerCluster(group);
  ASSERT_EQ(voted, spc);
  search.DeepSearchFat32(group, voted);
  const auto found = s.At(start, kFsFat32);
  ASSERT_EQ(found.size(), 1u);
  const PartitionRecord& p = *found.front()->partition;
  EXPECT_EQ(found.front()->kind, kSourceDeepLostVolume);
  EXPECT_EQ(p.fatSize, fat);
  EXPECT_EQ(p.reservedSectors, 32u);
  EXPECT_EQ(p.sectorsPerCluster, spc);
  // As far as the FAT reaches: 128 entries a sector, the first two no
  // cluster's.
  const std::uint64_t count = 32 + 2 * fat + (fat * 128 - 2) * spc;
  EXPECT_EQ(p.sectorCount, count);
  EXPECT_EQ(p.endSector, start + count - 1);
  EXPECT_EQ(p.clusterArray, (std::vector<std::uint32_t>{3, 40, 41, 700, 70000}));
  EXPECT_EQ(p.name, u"Adv Vol 1 ");
  // Both FAT copies were found where they lie: no second, FAT-less volume.
  EXPECT_EQ(s.Found().size(), 1u);
}

// Every sector a folder's first, of clusters that all imply data area 0.
class FoldersEverywhere final : public SectorSource {
 public:
  explicit FoldersEverywhere(std::uint64_t sectors) : sectors_(sectors) {}
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::memset(out, 0, bytes);
    for (std::uint64_t k = 0; k < bytes / 512 && sector + k < sectors_; ++k) {
      std::uint8_t* p = out + k * 512;
      std::memcpy(p, ".          ", 11);
      std::memcpy(p + 32, "..         ", 11);
      const std::uint32_t cluster = static_cast<std::uint32_t>(sector + k + 2);
      p[20] = static_cast<std::uint8_t>(cluster >> 16);
      p[21] = static_cast<std::uint8_t>(cluster >> 24);
      p[26] = static_cast<std::uint8_t>(cluster);
      p[27] = static_cast<std::uint8_t>(cluster >> 8);
    }
    return sector + bytes / 512 <= sectors_;
  }
  std::uint64_t SectorCount() const override { return sectors_; }

 private:
  std::uint64_t sectors_;
};

TEST(DeepVolumeSearch, CandidateCapsAreKeptAndLogged) {
  const std::uint64_t sectors = 170000;
  Search s(sectors);
  CThreadForSearchVolume search(s.Job(std::make_shared<FoldersEverywhere>(sectors)));
  search.Run();
  EXPECT_TRUE(search.CandidateCapReached());
  EXPECT_TRUE(search.GroupCapReached());
  const std::string log = s.host.LogText();
  EXPECT_NE(log.find("the limit of 167772 was reached at sector 167772;"), std::string::npos) << log;
  EXPECT_NE(log.find("the limit of 83886 members was reached"), std::string::npos);
  EXPECT_NE(log.find("Process completed"), std::string::npos);
  // Data area 0 leaves no room for a FAT: nothing is appended.
  EXPECT_TRUE(s.Found().empty());
}

// ---- Stop ----

// A disk read through another that counts its reads and the sectors they
// cover and shows each read to the test (its number and first sector)
// before it is served; with a delay each read takes that long, as on a slow
// drive.
class WatchedSource final : public SectorSource {
 public:
  explicit WatchedSource(std::shared_ptr<SectorSource> inner, std::chrono::milliseconds delay = {})
      : inner_(std::move(inner)), delay_(delay) {}
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    const std::uint64_t n = ++reads;
    sectors += bytes / kSectorSize;
    if (onRead) onRead(n, sector);
    if (delay_.count() != 0) std::this_thread::sleep_for(delay_);
    return inner_->ReadSectors(sector, buffer, bytes);
  }
  std::uint64_t SectorCount() const override { return inner_->SectorCount(); }

  std::atomic<std::uint64_t> reads{0}, sectors{0};
  std::function<void(std::uint64_t read, std::uint64_t sector)> onRead;

 private:
  std::shared_ptr<SectorSource> inner_;
  std::chrono::milliseconds delay_;
};

TEST(DeepVolumeSearch, StopEndsTheSearchWithinASecondAndNothingIsAddedAfterwards) {
  // 4,000,000 sectors: about 1950 chunks, ten seconds of reads at 5 ms each.
  const std::uint64_t sectors = 4000000;
  LaidDisk disk(sectors);
  disk.Place("fat16.img", 63);
  disk.Place("ntfs.img", 3000000);
  Search s(sectors);
  std::atomic<bool> stopAsked{false};
  std::chrono::steady_clock::time_point stoppedAt;
  std::thread searching([&] { s.Run(std::make_shared<WatchedSource>(disk.Source(), std::chrono::milliseconds(5))); });
  // Stop once the fat16 volume's folders and boot sector lie behind.
  while (s.sink.steps.load() < 40 && !s.sink.done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  stoppedAt = std::chrono::steady_clock::now();
  s.host.AbortFlag() = 1;
  stopAsked = true;
  searching.join();
  const auto took = std::chrono::steady_clock::now() - stoppedAt;
  EXPECT_LT(took, std::chrono::seconds(1));
  EXPECT_LT(s.sink.steps.load(), 100);
  // The fat16 volume's boot sector was found before Stop; its folders, still
  // evaluated after it, lie in that volume, and the NTFS volume further on
  // is never reached.
  const auto found = s.Found();
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found.front()->partition->startSector, 63u);
  EXPECT_EQ(found.front()->kind, kSourceLostVolume);
  for (const auto& when : s.sink.addedAt) EXPECT_LT(when, stoppedAt);
  const std::string log = s.host.LogText();
  EXPECT_NE(log.find("Process aborted. User intervention"), std::string::npos);
  EXPECT_EQ(log.find("Process completed"), std::string::npos);
  EXPECT_EQ(s.host.AbortFlag().load(), 0u);
  EXPECT_EQ(s.host.BusyFlag().load(), 0u);
  EXPECT_TRUE(s.sink.done);
}

TEST(DeepVolumeSearch, AStopDuringTheBackwardSearchForFatCopiesEndsItBeforeTheNextRead) {
  // One group of folders near the end of a blank disk: nothing in front of
  // it holds a FAT, so its backward search would read about 190 blocks down
  // to the disk's start. Stop is asked during its second read.
  const std::uint64_t sectors = 400000, groupAt = 390000;
  LaidDisk disk(sectors);
  disk.WriteBytes(groupAt, test::FolderGroups(1));
  auto watched = std::make_shared<WatchedSource>(disk.Source());
  Search s(sectors);
  const std::uint64_t sweepReads = (sectors + CThreadForSearchVolume::kChunkSectors - 1) /
                                   CThreadForSearchVolume::kChunkSectors;
  std::uint64_t stoppedDuring = 0;
  watched->onRead = [&](std::uint64_t n, std::uint64_t sector) {
    if (n == sweepReads + 2 && sector < groupAt) {
      s.host.AbortFlag() = 1;
      stoppedDuring = n;
    }
  };
  s.Run(watched);
  ASSERT_NE(stoppedDuring, 0u);
  // The read Stop came during is the search's last.
  EXPECT_EQ(watched->reads.load(), stoppedDuring);
  EXPECT_TRUE(s.Found().empty());
  const std::string log = s.host.LogText();
  EXPECT_NE(log.find("Process aborted. User intervention"), std::string::npos);
  EXPECT_EQ(s.host.AbortFlag().load(), 0u);
  EXPECT_TRUE(s.sink.done);
}

TEST(DeepVolumeSearch, AfterStopTheFoldersGatheredSoFarGiveTheirFatVolumes) {
  // The corpus flat disk without its MBR and without the boot sectors of its
  // FAT32 volume (104448, the backup at 104454) and its FAT16 volume
  // (256000). Stop is asked at the sweep's 160th chunk (sector 325,632 of
  // 368,640), past both volumes.
  test::TempDir dir;
  test::CopyFlatDiskWithoutMbr(dir.path(), {{104448, 1}, {104454, 1}, {256000, 1}});
  auto disk = std::make_shared<FileSectorSource>(dir / "mbr-mflat-flat.vmdk");
  Search s(disk->SectorCount());
  s.sink.onStep = [&](std::int64_t step) {
    if (step == 160) s.host.AbortFlag() = 1;
  };
  s.Run(disk);
  EXPECT_EQ(s.sink.steps.load(), 160);
  // The manifest's FAT32 volume, and the FAT16 volume's layout as fsstat
  // gives it: 4 reserved sectors, FATs of 48, 32 root sectors, 4 sectors a
  // cluster (its start, which only the boot sector said, is not checked).
  const auto fat32 = s.At(104448, kFsFat32);
  ASSERT_EQ(fat32.size(), 1u);
  EXPECT_EQ(fat32.front()->kind, kSourceDeepLostVolume);
  EXPECT_EQ(fat32.front()->partition->sectorCount, 81920u);
  EXPECT_EQ(fat32.front()->partition->fatSize, 630u);
  std::vector<const SourceRecord*> fat16;
  for (const SourceRecord* r : s.Found())
    if (r->partition->fileSystemKind == kFsFat16) fat16.push_back(r);
  ASSERT_EQ(fat16.size(), 1u);
  EXPECT_EQ(fat16.front()->kind, kSourceDeepLostVolume);
  EXPECT_EQ(DataStart(*fat16.front()->partition), 256000u + 4 + 2 * 48 + 32);
  EXPECT_EQ(fat16.front()->partition->fatSize, 48u);
  EXPECT_EQ(fat16.front()->partition->sectorsPerCluster, 4);
  const std::string log = s.host.LogText();
  EXPECT_NE(log.find("Process aborted. User intervention"), std::string::npos);
  EXPECT_EQ(log.find("Process completed"), std::string::npos);
  EXPECT_EQ(s.host.AbortFlag().load(), 0u);
  EXPECT_EQ(s.host.BusyFlag().load(), 0u);

  VolumeScan scan;
  scan.Run(*fat32.front(), disk, kModeQuick);
  ASSERT_TRUE(scan.problem.empty()) << scan.problem;
  EXPECT_EQ(scan.ExpectLiveFilesOf("fat32"), 25);
}

// ---- folder groups ----

TEST(DeepVolumeSearch, FolderGroupsShareTheirBackwardSearchForFatCopies) {
  // The corpus FAT16 volume with its boot sector, then 1,200 groups of four
  // folder starts past it, each implying a data area of its own with no FAT
  // in front of it. The sectors in front of the groups are read once for
  // all of them: the whole search reads the disk at most three times over.
  const std::uint64_t at = 2048, groupsAt = 52000, groups = 1200, sectors = 64000;
  LaidDisk disk(sectors);
  disk.Place("fat16.img", at);
  disk.WriteBytes(groupsAt, test::FolderGroups(groups));
  auto watched = std::make_shared<WatchedSource>(disk.Source());
  Search s(sectors);
  s.Run(watched);
  EXPECT_LE(watched->sectors.load(), 3 * sectors);
  // The FAT16 volume from its boot sector, and one volume without a FAT for
  // the run of groups (from the first one's data area to the disk's end),
  // not one in every other.
  ASSERT_EQ(s.At(at, kFsFat16).size(), 1u);
  std::vector<const SourceRecord*> rebuilt;
  for (const SourceRecord* r : s.Found())
    if (r->kind == kSourceDeepLostVolume) rebuilt.push_back(r);
  ASSERT_EQ(rebuilt.size(), 1u);
  EXPECT_EQ(DataStart(*rebuilt.front()->partition), groupsAt);
  EXPECT_EQ(rebuilt.front()->partition->endSector, sectors - 1);
  EXPECT_NE(s.host.LogText().find("Process completed"), std::string::npos);
}

// ---- the size of an NTFS volume found from its $MFT ----

TEST(DeepVolumeSearch, NtfsFoundFromItsMftIsSizedByItsBitmapAndItsBackupBootSector) {
  {
    // The corpus flat disk without its MBR and without the NTFS volume's
    // boot sector (at 2048) and backup (its last sector): its $Bitmap tells
    // its size, and it ends where the FAT32 volume after it begins.
    test::TempDir dir;
    const auto image = test::CopyFlatDiskWithoutMbr(dir.path(), {{2048, 1}, {2048 + 98304 - 1, 1}});
    CORVANApp app(dir / "settings.ini", dir.path());
    MountAndListSources(app, ImageTypeForPath(image), image);
    ASSERT_TRUE(SelectSource(app, 0));
    CThreadForSearchVolume search(MakeLostVolumeJob(app, CurrentSelection(app), nullptr, true, false));
    search.Run();
    std::vector<const SourceRecord*> ntfs;
    for (const auto& r : app.m_sourceList.m_sources)
      if (r->partition && r->partition->fileSystemKind == kFsNtfs) ntfs.push_back(r.get());
    ASSERT_EQ(ntfs.size(), 1u);
    const PartitionRecord& p = *ntfs.front()->partition;
    EXPECT_EQ(ntfs.front()->kind, kSourceDeepLostVolume);
    EXPECT_EQ(p.startSector, 2048u);
    EXPECT_EQ(p.sectorCount, 98304u);
    EXPECT_EQ(p.endSector, 2048u + 98304u);
    EXPECT_EQ(p.sizeText, FormatSizeText(98304));
  }

  // mkntfs on 50,000 sectors with 4 KiB clusters: 6,249 clusters, whose
  // bitmap of 784 bytes (whole 8-byte words) would cover 6,272.
  const std::string mkntfs = rawtest::FindTool("mkntfs");
  ASSERT_FALSE(mkntfs.empty()) << "mkntfs not found: run scripts/setup-deps";
  test::TempDir dir;
  const auto volume = dir / "ntfs.img";
  rawtest::MakeZeroFile(volume, 50000 * 512ull);
  ASSERT_EQ(rawtest::RunShell(mkntfs + " -F -Q -q -c 4096 " + rawtest::Quote(volume) + " >/dev/null 2>&1"), 0);
  const std::vector<std::uint8_t> boot = rawtest::ReadAt(volume, 0, 512);
  // The boot sector's count leaves out the backup in the last sector.
  const std::uint64_t sectors = GetLE64(boot.data() + 40) + 1;
  ASSERT_EQ(sectors, 50000u);
  const std::uint64_t at = 7001, disk = at + sectors + 3000;
  LaidDisk laid(disk);
  {
    const std::string bytes = test::ReadWholeFile(volume);
    laid.WriteBytes(at, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
  }
  laid.Zero(at);
  // The backup survives: it gives the count exactly.
  Search withBackup(disk);
  withBackup.Run(laid.Source());
  auto found = withBackup.At(at, kFsNtfs);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found.front()->partition->sectorCount, sectors);
  EXPECT_EQ(found.front()->partition->ntfsSectorsPerCluster, 8);
  // Without it the bitmap bounds it: at most 64 clusters (one 8-byte word
  // of bits) more than the volume has, never less.
  laid.Zero(at + sectors - 1);
  Search bitmapOnly(disk);
  bitmapOnly.Run(laid.Source());
  found = bitmapOnly.At(at, kFsNtfs);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_GE(found.front()->partition->sectorCount, sectors);
  EXPECT_LT(found.front()->partition->sectorCount, sectors + 64 * 8);
}

}  // namespace
}  // namespace corvan
