// What a saved scan keeps of the FAT engine: the corpus FAT12/16/32 volumes
// are scanned in each recovery mode, the engine is captured, written to a
// scan-information file in memory, read back, and restored into a fresh
// engine over the image opened again; every saved file must then read the
// same through the restored engine as through the one that found it, and
// the live files (and the deleted ones The Sleuth Kit's icat still reads
// whole) as the truth says. The header's FAT fields are checked against the
// layout fsstat reports and the boot sectors; a sector-wise Raw Recovery of
// a whole disk and of a volume without boot sectors comes back reading by
// sector; a layout that is not sound is refused before anything is read.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <set>

#include "app/SourceSetup.h"
#include "core/FileTypeRecord.h"
#include "core/RecoveryMode.h"
#include "engines/fat/FatCorpusChecks.h"
#include "platform/ByteCodec.h"
#include "scan/EngineRegistry.h"
#include "scan/ScanInfoEngines.h"
#include "scan/ScanInfoJobs.h"
#include "scan/ScanInfoFile.h"
#include "sources/DriveAccess.h"
#include "sources/DriveIdentity.h"
#include "sources/FatBootSector.h"
#include "sources/PartitionWalk.h"
#include "sources/VirtualDiskImage.h"
#include "support/FatTestVolume.h"
#include "support/HeadlessScan.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;
using fattest::Corpus;
using fattest::CorpusVolume;
using fattest::Harness;
using fattest::ItemMd5;
using fattest::ReadReferenceRows;
using fattest::ReadTruth;
using fattest::SameDeletedPath;
using Bytes = std::vector<std::uint8_t>;

// ---- saving and restoring --------------------------------------------------


// Every item of the results window, the root first, as a save hands them on.
std::vector<ScanInfoItem> StoredItems(const FoundItemStore& store) {
  std::vector<ScanInfoItem> items;
  for (std::size_t h = 0; h < store.Count(); ++h) {
    const StoredItem item = store.Item(static_cast<FoundItemHandle>(h));
    items.push_back({item.record, item.name});
  }
  return items;
}

// The engine's scan as the program saves it, encoded in memory; the file's
// bytes.
Bytes SaveScan(const FatEngine& engine, const FoundItemStore& store, const SourceRecord& selected) {
  VolumeScanInfo info;
  info.header = ScanImageFileHeader::ForVolumeScan();
  CaptureEngineScan(EngineKind::Fat, engine, info.header, info.tables);
  info.header.imagePath = u"/images/disk.vmdk";
  info.header.imageType = 1;
  ApplySourceFields(info.header, ScanInfoEngine::Fat, {}, selected);
  info.selected = CopySourceRecord(selected);
  info.items = StoredItems(store);
  ScanImageRecord trailer;
  trailer.date = u"07-Dec-2025";
  trailer.path = u"/scans/fat.img";
  trailer.kind = 13;
  Bytes bytes;
  const ScanInfoWriteResult written = EncodeVolumeScan(info, ItemSourceOf(info.items), trailer, bytes);
  EXPECT_TRUE(written) << written.detail;
  return bytes;
}

VolumeScanInfo ReadBack(const Bytes& bytes) {
  VolumeScanInfo back;
  const ScanInfoStatus read = ParseVolumeScan(bytes, back);
  EXPECT_TRUE(read) << read.detail;
  return back;
}

// A fresh engine on its own host, restored from `scan` over `disk`: the
// volume the saved selected source gives, as a loader makes it.
struct Restored {
  Harness h;
  std::unique_ptr<FatEngine> engine = std::make_unique<FatEngine>(h.app);
  ScanRestoreResult result;

  Restored(const VolumeScanInfo& scan, std::shared_ptr<SectorSource> disk) {
    h.disk = std::move(disk);
    result = RestoreEngineScan(EngineKind::Fat, *engine, h.app, scan, MakeVolume(scan.selected, h.disk, false));
  }
};

// Every file of the saved scan reads through `restored` exactly as through
// `original`, whole or short alike. Returns how many files were read.
std::size_t ExpectSameData(const FatEngine& original, const FatEngine& restored, const VolumeScanInfo& scan) {
  std::size_t files = 0;
  for (const ScanInfoItem& item : scan.items) {
    if (item.info.attribute != kItemFile) continue;
    ++files;
    bool wasWhole = false, isWhole = false;
    const std::string want = ItemMd5(original, item.info, &wasWhole);
    EXPECT_EQ(ItemMd5(restored, item.info, &isWhole), want) << Utf16ToUtf8(item.name) << " at " << item.info.location;
    EXPECT_EQ(isWhole, wasWhole) << Utf16ToUtf8(item.name);
  }
  return files;
}

// The engine's own header fields and tables, as a second capture gives them.
std::pair<ScanImageFileHeader, ScanEngineTables> Captured(const FatEngine& engine) {
  std::pair<ScanImageFileHeader, ScanEngineTables> out{ScanImageFileHeader::ForVolumeScan(), {}};
  CaptureEngineScan(EngineKind::Fat, engine, out.first, out.second);
  return out;
}

// A restored engine captures to what was saved, but for the counters, which
// the loader counts again as it feeds the items.
void ExpectCapturesAlike(const FatEngine& original, const FatEngine& restored) {
  auto [a, ta] = Captured(original);
  auto [b, tb] = Captured(restored);
  EXPECT_EQ(b.postedItems, 0u);
  EXPECT_EQ(b.totalBytes, 0u);
  b.postedItems = a.postedItems;
  b.totalBytes = a.totalBytes;
  EXPECT_EQ(b, a);
  EXPECT_TRUE(tb == ta);
}

// ---- corpus volumes in every directory mode ----------------------------------

enum class Pass { Quick, DeletedQuick, Deleted, Advance };
struct PassCase {
  CorpusVolume volume;
  Pass pass;
};
const char* PassName(Pass p) {
  switch (p) {
    case Pass::Quick: return "Quick";
    case Pass::DeletedQuick: return "DeletedQuick";
    case Pass::Deleted: return "Deleted";
    case Pass::Advance: return "Advance";
  }
  return "?";
}
void PrintTo(const PassCase& c, std::ostream* os) { *os << c.volume.name << "_" << PassName(c.pass); }

FatScanResult RunPass(FatEngine& engine, Pass pass) {
  switch (pass) {
    case Pass::Quick: return engine.ScanVolume(0);
    case Pass::DeletedQuick: return engine.ScanVolume(1);
    case Pass::Deleted: return engine.DeepScan(1);
    case Pass::Advance: return engine.DeepScan(0);
  }
  return FatScanResult::NotAvailable;
}

// Deleted files whose data icat -r still returns, with the truth's MD5.
std::map<std::string, std::string> IcatDeleted(const std::string& volume) {
  std::map<std::string, std::string> md5;
  for (const auto& row : ReadReferenceRows(volume + ".deleted-icat.tsv"))
    if (row.size() == 2 && row[0] != "path") md5[row[0]] = row[1];
  return md5;
}

class SavedFatScan : public ::testing::TestWithParam<PassCase> {};

TEST_P(SavedFatScan, EveryFileReadsTheSameThroughTheRestoredEngine) {
  const PassCase c = GetParam();
  const std::string name = c.volume.name;
  Harness h;
  h.MountFile(Corpus(name + ".img"));
  auto engine = h.Engine(c.volume.fsKind);
  ASSERT_EQ(RunPass(*engine, c.pass), FatScanResult::Completed);
  const SourceRecord selected = fattest::VolumeSource(0, h.sectors, c.volume.fsKind);

  const VolumeScanInfo scan = ReadBack(SaveScan(*engine, h.store, selected));
  ASSERT_EQ(scan.items.size(), h.store.Count());
  // The image mounted again: a new reader of the same file.
  Restored r(scan, std::make_shared<test::FileSectorSource>(Corpus(name + ".img")));
  ASSERT_TRUE(r.result.ok) << r.result.message;
  EXPECT_TRUE(r.result.message.empty());
  EXPECT_TRUE(r.h.prompt.shown.empty());
  EXPECT_EQ(r.h.app.m_bVolumeOpened.load(), 1);
  const FatEngine& restored = *r.engine;
  EXPECT_FALSE(restored.SectorItems());
  EXPECT_FALSE(restored.AbsoluteSectors());
  EXPECT_EQ(restored.FoundItemCount(), 0u);
  EXPECT_EQ(r.engine->Poster()->NextId(), 2u);

  EXPECT_GE(ExpectSameData(*engine, restored, scan), 10u);
  ExpectCapturesAlike(*engine, restored);

  // Through the restored engine, the live files read as the truth says and
  // the deleted ones as icat reads them.
  const auto items = h.ItemsByPath();
  const auto icat = IcatDeleted(name);
  std::size_t live = 0, deleted = 0;
  for (const auto& row : ReadTruth(Corpus(name + ".truth.tsv"))) {
    if (row.type != "file") continue;
    for (const auto& [path, item] : items) {
      if (item.record.attribute != kItemFile) continue;
      if (row.state == "live" && path == row.path && !item.record.IsDeleted()) {
        ++live;
        bool whole = false;
        EXPECT_EQ(ItemMd5(restored, item.record, &whole), row.md5) << path;
        EXPECT_TRUE(whole) << path;
      } else if (row.state == "deleted" && item.record.IsDeleted() && SameDeletedPath(row.path, path) &&
                 icat.count(row.path)) {
        ++deleted;
        EXPECT_EQ(ItemMd5(restored, item.record), icat.at(row.path)) << path;
      }
    }
  }
  const bool listsLive = c.pass == Pass::Quick || c.pass == Pass::Advance;
  if (listsLive) {
    EXPECT_GE(live, 20u);
  }
  if (c.pass == Pass::Deleted || c.pass == Pass::DeletedQuick) {
    EXPECT_EQ(deleted, icat.size());
  }
}

std::vector<PassCase> AllPassCases() {
  std::vector<PassCase> cases;
  for (const CorpusVolume v : {CorpusVolume{"fat12", kFat12}, CorpusVolume{"fat16", kFat16},
                               CorpusVolume{"fat32", kFat32}})
    for (Pass p : {Pass::Quick, Pass::DeletedQuick, Pass::Deleted, Pass::Advance}) cases.push_back({v, p});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Corpus, SavedFatScan, ::testing::ValuesIn(AllPassCases()),
                         [](const auto& info) {
                           return std::string(info.param.volume.name) + "_" + PassName(info.param.pass);
                         });

// ---- the header's FAT fields -------------------------------------------------

using fattest::FsstatLayout;

class SavedFatHeader : public ::testing::TestWithParam<CorpusVolume> {};

TEST_P(SavedFatHeader, CarriesTheLayoutFsstatReportsAndTheFatTheBootSectorPlaces) {
  const CorpusVolume v = GetParam();
  Harness h;
  h.MountFile(Corpus(std::string(v.name) + ".img"));
  // Advance Recovery: the layout from the vote (FAT32: the boot sector),
  // and a cluster map.
  auto engine = h.Engine(v.fsKind);
  ASSERT_EQ(engine->DeepScan(0), FatScanResult::Completed);
  auto [header, tables] = Captured(*engine);

  const fattest::ReferenceLayout want = FsstatLayout(v.name);
  const Bytes image = fattest::ReadImage(Corpus(std::string(v.name) + ".img"));
  const std::uint64_t sectors = image.size() / kSectorSize;
  // fsstat's "Total Cluster Range: 2 - last"; the engine's map runs from
  // cluster 0 to one past the last.
  const std::uint64_t lastCluster = (sectors - want.dataStart) / want.spc + 1;
  const std::uint32_t rootCluster = v.fsKind == kFat32 ? GetLE32(image.data() + 44) : 0;
  if (v.fsKind == kFat32) {
    EXPECT_EQ(rootCluster, 2u);
  }

  std::uint64_t fileBytes = 0;
  for (std::size_t i = 0; i < h.store.Count(); ++i) {
    const FoundItemInfo r = h.store.Record(static_cast<FoundItemHandle>(i));
    if (r.attribute == kItemFile) fileBytes += r.size;
  }

  // At their offsets in the stored block.
  const auto block = header.EncodeBlock();
  const auto le = [&](std::size_t at, int width) {
    std::uint64_t x = 0;
    for (int i = 0; i < width; ++i) x |= std::uint64_t{block[at + i]} << (8 * i);
    return x;
  };
  EXPECT_EQ(le(1, 1), kNoDiskNumber) << "the partition record's drive byte";
  EXPECT_EQ(le(2, 1), 0u);
  EXPECT_EQ(le(3, 4), want.fatSize);
  EXPECT_EQ(le(7, 4), rootCluster);
  EXPECT_EQ(le(11, 4), lastCluster + 2);
  EXPECT_EQ(le(16, 1), want.spc);
  EXPECT_EQ(le(17, 1), v.fsKind);
  EXPECT_EQ(le(18, 1), kFatSourceFat1) << "both copies are alike";
  EXPECT_EQ(le(19, 4), want.reserved);
  EXPECT_EQ(le(23, 4), want.rootSectors);
  for (std::size_t at = 27; at < 62; ++at) EXPECT_EQ(block[at], 0) << "NTFS and exFAT bytes, at " << at;
  EXPECT_EQ(le(62, 1), 1u);
  EXPECT_EQ(le(63, 8), 0u);
  EXPECT_EQ(le(71, 8), sectors - 1);
  EXPECT_EQ(le(79, 8), sectors);
  EXPECT_EQ(le(87, 8), fileBytes);
  EXPECT_EQ(le(95, 4), h.store.Count()) << "the root counts among the posted items";
  EXPECT_EQ(le(357, 1), 0u);
  EXPECT_EQ(le(953, 1), kScanPlaceFromHeader);
  EXPECT_EQ(le(954, 4), 0u);
  EXPECT_EQ(le(959, 4), 0u);
  EXPECT_TRUE(CheckResumeHeader(block));
  EXPECT_EQ(EngineOfHeader(header), ScanInfoEngine::Fat);

  // The tables: FAT 1 byte for byte as it lies after the reserved sectors,
  // and the cluster map of the same length the header says.
  ASSERT_EQ(tables.fat.size(), std::size_t{want.fatSize} * kSectorSize);
  EXPECT_TRUE(std::equal(tables.fat.begin(), tables.fat.end(), image.begin() + want.reserved * kSectorSize));
  EXPECT_EQ(tables.clusterMap.size(), header.clusterMapSize);
  EXPECT_EQ(tables.clusterMap, engine->ClusterMap());
  EXPECT_TRUE(tables.advanceRecords.empty() && tables.mftRuns.empty() && tables.runListNodes.empty());
}

TEST_P(SavedFatHeader, QuickScanHoldsNoClusterMapAndStoresNone) {
  const CorpusVolume v = GetParam();
  Harness h;
  h.MountFile(Corpus(std::string(v.name) + ".img"));
  auto engine = h.Engine(v.fsKind);
  ASSERT_EQ(engine->ScanVolume(0), FatScanResult::Completed);
  ASSERT_TRUE(engine->ClusterMap().empty());
  const VolumeScanInfo scan = ReadBack(SaveScan(*engine, h.store, fattest::VolumeSource(0, h.sectors, v.fsKind)));
  EXPECT_EQ(scan.header.clusterMapSize, 0u);
  EXPECT_TRUE(scan.tables.clusterMap.empty());
  EXPECT_EQ(scan.tables.fat.size(), std::size_t{FsstatLayout(v.name).fatSize} * kSectorSize);
  EXPECT_EQ(scan.header.postedItems, h.store.Count());
}

INSTANTIATE_TEST_SUITE_P(Volumes, SavedFatHeader, fattest::CorpusVolumes(), fattest::CorpusVolumeName);

TEST(SavedFatHeader, FatOfAVolumeInsideADiskImageRestoresAtItsPlace) {
  // The MBR disk holds FAT32 at sector 104448 and FAT16 at 256000 (corpus
  // manifest); the restore places them by the header alone.
  const fs::path image = test::CorpusDir() / "disks" / "mbr.vmdk";
  const MountResult mount = MountImageFile(kImageVmware, image);
  ASSERT_TRUE(mount.mounted);
  SourceList list;
  list.m_nDiskSectors = mount.image->SectorCount();
  ScanPartitions(list, *mount.image);
  BuildSourceList(list, kImageVmware, 0);
  int checked = 0;
  for (const auto& source : list.m_sources) {
    if (!source->partition) continue;
    const std::uint8_t kind = source->partition->fileSystemKind;
    if (kind != kFsFat16 && kind != kFsFat32) continue;
    const std::string name = kind == kFsFat32 ? "fat32" : "fat16";
    const std::uint64_t start = kind == kFsFat32 ? 104448 : 256000;
    const std::uint64_t sectors = kind == kFsFat32 ? 81920 : 49152;
    SCOPED_TRACE(name);
    Harness h;
    FatEngine engine(h.app);
    engine.Prepare(MakeVolume(*source, mount.image, false));
    ASSERT_EQ(engine.ScanVolume(0), FatScanResult::Completed);
    const VolumeScanInfo scan = ReadBack(SaveScan(engine, h.store, *source));
    EXPECT_EQ(scan.header.firstSector, start);
    // The source list's end sector is one past the volume (start + count).
    EXPECT_EQ(scan.header.endSector, source->partition->endSector);
    EXPECT_EQ(scan.header.endSector, start + sectors);
    EXPECT_EQ(scan.header.sectorCount, sectors);
    EXPECT_EQ(scan.header.driveByte, source->partition->diskNumber);
    EXPECT_EQ(scan.header.placeFromHeader, 0) << "a volume of the partition tables";

    const MountResult again = MountImageFile(kImageVmware, image);
    ASSERT_TRUE(again.mounted);
    Restored r(scan, again.image);
    ASSERT_TRUE(r.result.ok) << r.result.message;
    EXPECT_EQ(r.engine->VolumeStart(), start);
    EXPECT_EQ(r.engine->VolumeEnd(), start + sectors);
    EXPECT_EQ(r.engine->SavedScan().mediaByte, source->partition->diskNumber);
    EXPECT_GE(ExpectSameData(engine, *r.engine, scan), 20u);
    fattest::ExpectLiveTruth(h, *r.engine, name);
    ++checked;
  }
  EXPECT_EQ(checked, 2);
}

// ---- Raw Recovery --------------------------------------------------------------

// A type of the user's own: "CORVANRW" at the start of a sector, carved to
// the next signature or 2048 bytes.
FileTypeRecord HandMadeType() {
  FileTypeRecord type;
  type.softwareName = u"Hand-made";
  type.typeId = 300;
  type.extension = u"crw";
  type.maxSize = 2048;
  type.headerLength = 8;
  std::memcpy(type.header.data(), "CORVANRW", 8);
  return type;
}

// A hand-made file of 2048 bytes at `at`; its MD5.
std::string PutHandMadeFile(std::uint8_t* at, unsigned seed) {
  for (std::size_t i = 0; i < 2048; ++i) at[i] = static_cast<std::uint8_t>(i * 13 + seed);
  std::memcpy(at, "CORVANRW", 8);
  test::Md5 md5;
  md5.Update({at, 2048});
  return md5.HexDigest();
}

// The preset JPEG, bitmap, GIF, PNG and ZIP types.
std::vector<FileTypeRecord> SomePresetTypes() {
  std::vector<FileTypeRecord> chosen;
  for (const auto& r : ReadFileTypeRecords(fs::path(CORVAN_SOURCE_TESTS) / ".." / "resources" / "HeaderFile.cfg"))
    if (r.typeId == 14 || r.typeId == 17 || r.typeId == 18 || r.typeId == 19 || r.typeId == 52) chosen.push_back(r);
  EXPECT_EQ(chosen.size(), 5u);
  return chosen;
}

// MD5s of every file of the corpus truth files.
std::set<std::string> TruthMd5s() {
  std::set<std::string> md5s;
  for (const char* volume : {"fat12", "fat16", "fat32", "exfat", "ntfs"})
    for (const auto& row : ReadTruth(test::CorpusDir() / (std::string(volume) + ".truth.tsv")))
      if (row.type == "file" && row.size != 0) md5s.insert(row.md5);
  return md5s;
}

TEST(SavedFatRawScan, FreeClustersOfAVolumeComeBackByCluster) {
  // fat16.img: 4 sectors a cluster, data from sector 132. A hand-made file
  // in the last free cluster, beside the deleted pictures the presets find.
  Bytes bytes = fattest::ReadImage(Corpus("fat16.img"));
  const std::uint64_t dataStart = 132;
  const auto lastCluster = static_cast<std::uint32_t>((bytes.size() / kSectorSize - dataStart) / 4 + 1);
  std::uint32_t free = 0;
  for (std::uint32_t c = lastCluster; c >= 2 && free == 0; --c)
    if (GetLE16(bytes.data() + 4 * kSectorSize + 2 * c) == 0) free = c;
  ASSERT_NE(free, 0u);
  const std::string want = PutHandMadeFile(bytes.data() + (dataStart + (free - 2) * 4) * kSectorSize, 5);

  Harness h;
  h.MountBytes(bytes);
  h.app.m_selectedTypeList = SomePresetTypes();
  h.app.m_selectedTypeList.push_back(HandMadeType());
  auto engine = h.Engine(kFat16);
  ASSERT_EQ(engine->RawScan(), FatScanResult::Completed);
  ASSERT_FALSE(engine->SectorItems());
  const SourceRecord selected = fattest::VolumeSource(0, h.sectors, kFat16);
  const VolumeScanInfo scan = ReadBack(SaveScan(*engine, h.store, selected));
  EXPECT_EQ(scan.header.sectorFlag, 0);
  EXPECT_EQ(scan.header.sectorsPerCluster, 4);
  EXPECT_EQ(scan.header.fatSource, kFatSourceFat1);
  EXPECT_EQ(scan.tables.fat.size(), 48u * kSectorSize);
  // The map the raw pass built covers every cluster of the data area.
  EXPECT_EQ(scan.header.clusterMapSize, engine->ClusterMap().size());
  EXPECT_GE(scan.header.clusterMapSize, lastCluster + 1);

  Restored r(scan, std::make_shared<MemorySectorSource>(bytes));
  ASSERT_TRUE(r.result.ok) << r.result.message;
  EXPECT_GE(ExpectSameData(*engine, *r.engine, scan), 4u);
  ExpectCapturesAlike(*engine, *r.engine);

  const auto items = h.ItemsByPath();
  const auto it = items.find("crw/" + std::to_string(free) + ".crw");
  ASSERT_NE(it, items.end());
  EXPECT_EQ(ItemMd5(*r.engine, it->second.record), want);
  // Deleted pictures of the truth come back whole.
  const auto truth = TruthMd5s();
  std::size_t known = 0;
  for (const ScanInfoItem& item : scan.items)
    if (item.info.attribute == kItemFile && truth.count(ItemMd5(*r.engine, item.info))) ++known;
  EXPECT_GE(known, 2u);
}

TEST(SavedFatRawScan, WholeDiskSearchComesBackReadingBySector) {
  // Raw Recovery of the corpus MBR disk as the program starts it: the disk
  // selected, its whole media range searched sector by sector.
  test::TempDir home;
  test::UserFolders folders(home.path());
  CORVANApp app(home / "settings.ini", home.path());
  const fs::path image = test::CorpusDir() / "disks" / "mbr-fixed.vhd";
  ASSERT_TRUE(MountAndListSources(app, kImageVirtualPc, image).mounted);
  const SourceRecord* disk = nullptr;
  for (const auto& s : app.m_sourceList.m_sources)
    if (s->kind == kSourceDisk) disk = s.get();
  ASSERT_NE(disk, nullptr);
  ASSERT_NE(SelectSource(app, disk->index), nullptr);

  test::VolumeScan scan;
  scan.host.SelectedTypeList() = SomePresetTypes();
  scan.Run(*disk, app.m_pDisk, kModeRaw, 0, app.m_scanBounds.m_nMediaFirstSector, app.m_scanBounds.m_nMediaLastSector);
  EXPECT_EQ(scan.problem, "");
  ASSERT_EQ(scan.session->Kind(), EngineKind::Fat);
  auto* engine = static_cast<FatEngine*>(scan.Engine());
  ASSERT_TRUE(engine->SectorItems());
  EXPECT_EQ(engine->SectorsPerCluster(), 0) << "a search of a disk has no cluster size";

  const VolumeScanInfo saved = ReadBack(SaveScan(*engine, scan.store, *disk));
  const ScanImageFileHeader& hd = saved.header;
  EXPECT_EQ(hd.sectorFlag, 1);
  EXPECT_EQ(hd.sectorsPerCluster, 1) << "never 0 in a FAT file";
  EXPECT_EQ(hd.fatSource, kScanFatSourceContiguous);
  EXPECT_EQ(hd.fatSize, 0u);
  EXPECT_EQ(hd.clusterMapSize, 0u);
  EXPECT_TRUE(saved.tables.fat.empty() && saved.tables.clusterMap.empty());
  EXPECT_EQ(hd.firstSector, 0u);
  EXPECT_EQ(hd.sectorCount, app.m_pDisk->SectorCount());
  EXPECT_EQ(hd.endSector, app.m_pDisk->SectorCount() - 1);
  EXPECT_EQ(hd.postedItems, scan.store.Count());
  EXPECT_TRUE(CheckResumeHeader(hd.EncodeBlock()));
  EXPECT_EQ(EngineOfHeader(hd), ScanInfoEngine::Fat);
  EXPECT_EQ(saved.selected.kind, kSourceDisk);

  const MountResult again = MountImageFile(kImageVirtualPc, image);
  ASSERT_TRUE(again.mounted);
  Restored r(saved, again.image);
  ASSERT_TRUE(r.result.ok) << r.result.message;
  EXPECT_TRUE(r.engine->SectorItems());
  EXPECT_TRUE(r.engine->AbsoluteSectors());
  EXPECT_EQ(r.engine->ClusterBytes(), 512u);
  EXPECT_GE(ExpectSameData(*engine, *r.engine, saved), 10u);

  // Pictures and archives of the four volumes, found by sector, read whole.
  const auto truth = TruthMd5s();
  std::size_t known = 0;
  for (const ScanInfoItem& item : saved.items)
    if (item.info.attribute == kItemFile && truth.count(ItemMd5(*r.engine, item.info))) ++known;
  EXPECT_GE(known, 10u);
}

TEST(SavedFatRawScan, VolumeWithoutBootSectorsIsSearchedFromItsStartAndRestoredThere) {
  // A FAT16 partition at sector 2048 of a zeroed disk: no boot sector, no
  // backup, so Raw Recovery searches its sectors and places files by
  // absolute sector. Two hand-made files, one not on a cluster boundary.
  constexpr std::uint64_t kStart = 2048, kSectors = 6144;
  Bytes bytes((kStart + kSectors + 64) * kSectorSize, 0);
  const std::string first = PutHandMadeFile(bytes.data() + (kStart + 101) * kSectorSize, 1);
  const std::string second = PutHandMadeFile(bytes.data() + (kStart + 4000) * kSectorSize, 2);
  // Outside the partition: not searched.
  PutHandMadeFile(bytes.data() + 1000 * kSectorSize, 3);

  Harness h;
  h.MountBytes(bytes);
  h.app.m_selectedTypeList = {HandMadeType()};
  const SourceRecord selected = fattest::VolumeSource(kStart, kSectors, kFat16);
  FatEngine engine(h.app);
  engine.Prepare(MakeVolume(selected, h.disk, false));
  ASSERT_EQ(engine.RawScan(), FatScanResult::Completed);
  ASSERT_TRUE(engine.SectorItems());

  const VolumeScanInfo scan = ReadBack(SaveScan(engine, h.store, selected));
  EXPECT_EQ(scan.header.sectorFlag, 1);
  EXPECT_EQ(scan.header.firstSector, kStart);
  EXPECT_EQ(scan.header.endSector, kStart + kSectors - 1);
  EXPECT_EQ(scan.header.sectorCount, kSectors);
  EXPECT_NE(scan.header.sectorsPerCluster, 0);

  Restored r(scan, std::make_shared<MemorySectorSource>(bytes));
  ASSERT_TRUE(r.result.ok) << r.result.message;
  EXPECT_EQ(ExpectSameData(engine, *r.engine, scan), 2u);
  ExpectCapturesAlike(engine, *r.engine);
  std::map<std::uint64_t, std::string> byPlace;
  for (const ScanInfoItem& item : scan.items)
    if (item.info.attribute == kItemFile) byPlace[item.info.location] = ItemMd5(*r.engine, item.info);
  EXPECT_EQ(byPlace, (std::map<std::uint64_t, std::string>{{kStart + 101, first}, {kStart + 4000, second}}));
}

TEST(SavedFatRawScan, SearchOfARegionKeepsItsRange) {
  // The region dialog's range of a whole disk: sectors 100 to 3000.
  Bytes bytes(4096 * kSectorSize, 0);
  const std::string inside = PutHandMadeFile(bytes.data() + 777 * kSectorSize, 9);
  PutHandMadeFile(bytes.data() + 50 * kSectorSize, 4);
  Harness h;
  h.MountBytes(bytes);
  h.app.m_selectedTypeList = {HandMadeType()};
  SourceRecord disk;
  disk.kind = kSourceDisk;
  disk.disk = std::make_unique<DiskRecord>();
  FatEngine engine(h.app);
  engine.SetVolumeRange(MakeVolume(disk, h.disk, false), 100, 3000);
  ASSERT_EQ(engine.RawScanRegion(), FatScanResult::Completed);

  const VolumeScanInfo scan = ReadBack(SaveScan(engine, h.store, disk));
  EXPECT_EQ(std::tuple(scan.header.firstSector, scan.header.endSector, scan.header.sectorCount),
            std::tuple(100u, 3000u, 2901u));
  Restored r(scan, std::make_shared<MemorySectorSource>(bytes));
  ASSERT_TRUE(r.result.ok) << r.result.message;
  EXPECT_EQ(std::tuple(r.engine->VolumeStart(), r.engine->VolumeEnd(), r.engine->SectorCount()),
            std::tuple(100u, 3000u, 2901u));
  ASSERT_EQ(ExpectSameData(engine, *r.engine, scan), 1u);
  for (const ScanInfoItem& item : scan.items)
    if (item.info.attribute == kItemFile) {
      EXPECT_EQ(item.info.location, 777u);
      EXPECT_EQ(ItemMd5(*r.engine, item.info), inside);
    }
}

// ---- what the restore refuses ------------------------------------------------

// A disk that counts its reads.
class CountingDisk final : public SectorSource {
 public:
  explicit CountingDisk(std::shared_ptr<SectorSource> inner) : inner_(std::move(inner)) {}
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    ++reads;
    return inner_->ReadSectors(sector, buffer, bytes);
  }
  std::uint64_t SectorCount() const override { return inner_->SectorCount(); }
  std::atomic<unsigned> reads{0};

 private:
  std::shared_ptr<SectorSource> inner_;
};

// A saved Quick scan of fat16.img, read back.
struct SavedFat16 {
  Harness h;
  std::unique_ptr<FatEngine> engine;
  Bytes bytes;
  VolumeScanInfo scan;
  SavedFat16() {
    h.MountFile(Corpus("fat16.img"));
    engine = h.Engine(kFat16);
    EXPECT_EQ(engine->ScanVolume(0), FatScanResult::Completed);
    bytes = SaveScan(*engine, h.store, fattest::VolumeSource(0, h.sectors, kFat16));
    scan = ReadBack(bytes);
  }
  // A file of the scan several clusters long.
  FoundItemInfo SomeFile() const {
    for (const ScanInfoItem& item : scan.items)
      if (item.info.attribute == kItemFile && item.info.size > 3 * 2048) return item.info;
    ADD_FAILURE() << "no file of several clusters";
    return {};
  }
};

TEST(SavedFatRestore, ReaderRefusesTablesThatDisagreeWithTheHeader) {
  SavedFat16 s;
  const auto patched = [&](std::size_t at, std::uint32_t value) {
    Bytes b = s.bytes;
    PutLE32(b.data() + at, value);
    return b;
  };
  VolumeScanInfo out;
  for (std::uint32_t fatSize : {47u, 49u, 0x00FFFFFFu}) {
    SCOPED_TRACE(fatSize);
    EXPECT_FALSE(ParseVolumeScan(patched(3, fatSize), out)) << "FAT size";
  }
  for (std::uint32_t mapSize : {s.scan.header.clusterMapSize - 1, s.scan.header.clusterMapSize + 1, 0xFFFFFFFFu}) {
    SCOPED_TRACE(mapSize);
    EXPECT_FALSE(ParseVolumeScan(patched(11, mapSize), out)) << "cluster-map size";
  }
  // Nor does the writer store tables its header does not announce.
  VolumeScanInfo wrong = ReadBack(s.bytes);
  wrong.tables.fat.resize(wrong.tables.fat.size() - 512);
  Bytes none;
  EXPECT_EQ(EncodeVolumeScan(wrong, ItemSourceOf(wrong.items), {}, none).error, ScanInfoError::Inconsistent);
}

TEST(SavedFatRestore, UnsoundLayoutIsRefusedWithAMessageBeforeAnythingIsRead) {
  SavedFat16 s;
  const FoundItemInfo file = s.SomeFile();
  struct Damage {
    const char* what;
    std::function<void(VolumeScanInfo&)> apply;
  };
  const std::vector<Damage> damages = {
      {"cluster size not a power of two", [](VolumeScanInfo& v) { v.header.sectorsPerCluster = 3; }},
      {"cluster size beyond 128", [](VolumeScanInfo& v) { v.header.sectorsPerCluster = 255; }},
      {"no FAT", [](VolumeScanInfo& v) { v.header.fatSize = 0, v.header.fatSource = 2, v.tables.fat.clear(); }},
      {"FAT larger than FAT16 can need",
       [](VolumeScanInfo& v) { v.header.fatSize = 4000, v.tables.fat.assign(4000 * 512, 0); }},
      {"unknown FAT kind", [](VolumeScanInfo& v) { v.header.fatKind = 5; }},
      {"FAT32 with a root region", [](VolumeScanInfo& v) { v.header.fatKind = kFat32; }},
      {"reserved sectors fill the volume", [](VolumeScanInfo& v) { v.header.reservedSectors = 49100; }},
      {"no sectors", [](VolumeScanInfo& v) { v.header.sectorCount = 0; }},
      {"volume past the last sector",
       [](VolumeScanInfo& v) { v.header.firstSector = std::numeric_limits<std::uint64_t>::max() - 100; }},
      {"unknown FAT source", [](VolumeScanInfo& v) { v.header.fatSource = 3; }},
      {"FAT table shorter than the header says", [](VolumeScanInfo& v) { v.tables.fat.resize(512); }},
      {"cluster map longer than the header says", [](VolumeScanInfo& v) { v.tables.clusterMap.push_back(0); }},
      {"not a FAT header", [](VolumeScanInfo& v) { v.header.sectorsPerCluster = 0; }},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    VolumeScanInfo scan = ReadBack(s.bytes);
    d.apply(scan);
    auto disk = std::make_shared<CountingDisk>(std::make_shared<test::FileSectorSource>(Corpus("fat16.img")));
    Restored r(scan, disk);
    EXPECT_FALSE(r.result.ok);
    EXPECT_FALSE(r.result.message.empty());
    EXPECT_TRUE(r.h.prompt.shown.empty()) << "the loader tells the user";
    // Nothing of the layout was taken: the engine reads nothing at all.
    EXPECT_EQ(r.engine->SectorsPerCluster(), 0);
    EXPECT_TRUE(r.engine->Fat().empty());
    EXPECT_EQ(ItemMd5(*r.engine, file), test::Md5().HexDigest()) << "the MD5 of no bytes";
    EXPECT_EQ(disk->reads.load(), 0u);
  }
}

TEST(SavedFatRestore, EngineWithoutALayoutIsSavedAsOneTheRestoreRefuses) {
  // A prepared engine that never scanned: no cluster size, no FAT.
  Harness h;
  h.MountFile(Corpus("fat16.img"));
  auto engine = h.Engine(kFat16);
  const VolumeScanInfo scan = ReadBack(SaveScan(*engine, h.store, fattest::VolumeSource(0, h.sectors, kFat16)));
  EXPECT_EQ(scan.header.sectorsPerCluster, 1) << "byte 16 is never 0 in a FAT file";
  EXPECT_EQ(scan.header.fatSize, 0u);
  EXPECT_EQ(scan.header.fatSource, kScanFatSourceContiguous);
  Restored r(scan, h.disk);
  EXPECT_FALSE(r.result.ok);
  EXPECT_NE(r.result.message.find("FAT layout"), std::string::npos) << r.result.message;
}

// ---- a header that names a drive -------------------------------------------------

struct DriveFakes {
  std::shared_ptr<FakeDriveAccess> access = std::make_shared<FakeDriveAccess>();
  std::shared_ptr<FakeDriveIdentityReader> reader = std::make_shared<FakeDriveIdentityReader>();
  DriveFakes() {
    SetDriveAccess(access);
    SetDriveIdentityReader(reader);
  }
  ~DriveFakes() {
    SetDriveAccess(nullptr);
    SetDriveIdentityReader(nullptr);
  }
};

DriveIdentity Identity(const char* model, const char* serial, const char* firmware, std::uint32_t sectors) {
  DriveIdentity id;
  std::strncpy(id.model.data(), model, kModelTextSize - 1);
  std::strncpy(id.serial.data(), serial, kSerialTextSize - 1);
  std::strncpy(id.firmware.data(), firmware, kFirmwareTextSize - 1);
  id.totalSectors = sectors;
  return id;
}

TEST(SavedFatRestore, OurHeadersLookForNoDrive) {
  SavedFat16 s;
  DriveFakes fakes;
  EXPECT_EQ(s.scan.header.placeMode, kScanPlaceFromHeader);
  Restored r(s.scan, s.h.disk);
  EXPECT_TRUE(r.result.ok);
  EXPECT_EQ(fakes.reader->Calls(), 0u) << "no drive's identity is read";
}

TEST(SavedFatRestore, NamedDriveMustBeAttached) {
  SavedFat16 s;
  const FoundItemInfo file = s.SomeFile();
  const std::string want = ItemMd5(*s.engine, file);
  test::TempDir dir;
  // A header of another writer: source kind 0, a disk to locate.
  VolumeScanInfo scan = ReadBack(s.bytes);
  scan.header.placeMode = 0;
  scan.header.placeFromHeader = 0;
  scan.header.diskIdentity = "CORVAN TEST DISK";
  scan.header.diskIdentity2 = "SN-0042";
  scan.header.diskIdentity3 = "FW1";
  scan.header.diskSizeLow = 49152;

  {
    DriveFakes fakes;  // no drive attached
    Restored r(scan, s.h.disk);
    EXPECT_FALSE(r.result.ok);
    EXPECT_EQ(r.result.message,
              "Source hard drive not found.\nAttach source hard drive before loading scan information.");
    EXPECT_TRUE(r.h.prompt.shown.empty()) << "the loader tells the user";
    EXPECT_EQ(r.h.app.m_bVolumeOpened.load(), 1);
    // The engine keeps the restored layout.
    EXPECT_EQ(r.engine->SectorsPerCluster(), 4);
    EXPECT_EQ(ItemMd5(*r.engine, file), want);
  }
  {
    DriveFakes fakes;  // a fixed disk 1 with the saved texts and size
    const fs::path backing = dir / "disk1";
    std::ofstream(backing, std::ios::binary).close();
    fs::resize_file(backing, 49152 * 512);
    fakes.access->SetDisk(1, DriveMedia::Fixed, backing);
    fakes.reader->Set(0x81, Identity("CORVAN TEST DISK", "SN-0042", "FW1", 49152));
    Restored r(scan, s.h.disk);
    EXPECT_TRUE(r.result.ok) << r.result.message;
    EXPECT_TRUE(r.h.prompt.shown.empty());
    EXPECT_EQ(ItemMd5(*r.engine, file), want);
  }
}

}  // namespace
}  // namespace corvan
