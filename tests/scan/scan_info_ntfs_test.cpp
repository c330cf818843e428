// A saved scan of an NTFS volume: what the header and the engine tables
// keep, byte for byte, and a fresh engine restored from the file read back:
// every saved file must read the same bytes as through the engine that
// found it (and, for the corpus's live files, the bytes that were written),
// and a file the engine cannot use is refused with a message.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "console/FoundItemStore.h"
#include "core/HeadlessHost.h"
#include "core/RecoveryMode.h"
#include "engines/ntfs/NtfsEngine.h"
#include "engines/ntfs/ntfs_test_records.h"
#include "platform/ByteCodec.h"
#include "platform/TextConv.h"
#include "scan/EngineRegistry.h"
#include "scan/ScanInfoEngines.h"
#include "scan/ScanInfoJobs.h"
#include "scan/ScanInfoFile.h"
#include "sources/DriveAccess.h"
#include "sources/DriveIdentity.h"
#include "sources/PartitionWalk.h"
#include "sources/SectorSource.h"
#include "sources/VirtualDiskImage.h"
#include "support/FileSectorSource.h"
#include "support/HeadlessScan.h"
#include "support/Md5.h"
#include "support/NtfsJournalBuilder.h"
#include "support/RecordingSinks.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

namespace img = test::ntfsimg;
using Bytes = std::vector<std::uint8_t>;
using test::FileRecord;
using test::Key;

constexpr char kDriveNotFound[] =
    "Source hard drive not found.\nAttach source hard drive before loading scan information.";

// ---- the scan, the file and the restored engine -----------------------------

SourceRecord VolumeSource(std::uint64_t first, std::uint64_t count, std::uint8_t disk = 0xFF) {
  SourceRecord s;
  s.kind = kSourceVolume;
  s.index = 1;
  s.partition = std::make_unique<PartitionRecord>();
  s.partition->startSector = first;
  s.partition->sectorCount = count;
  s.partition->endSector = first + count;
  s.partition->fileSystemKind = kFsNtfs;
  s.partition->fileSystemText = u"NTFS";
  s.partition->diskNumber = disk;
  return s;
}


// What a save keeps of the results: the stored items in the store's order,
// the root first.
std::vector<ScanInfoItem> SavedItems(const FoundItemStore& store) {
  std::vector<ScanInfoItem> out;
  for (FoundItemHandle h = 0; h < store.Count(); ++h) {
    const StoredItem s = store.Item(h);
    if (IsStoredFoundItem(s.record)) out.push_back({s.record, s.name});
  }
  return out;
}

struct Scan {
  test::VolumeScan run;
  SourceRecord source;
  std::shared_ptr<SectorSource> disk;

  Scan(SourceRecord src, std::shared_ptr<SectorSource> d, std::uint32_t mode) : source(std::move(src)), disk(d) {
    run.Run(source, disk, mode, mode == kModeAdvance ? kAdvanceNtfs : 0);
  }
  NtfsEngine& Engine() const { return static_cast<NtfsEngine&>(*run.Engine()); }
};

// A file's content as a save gathers it: the engine's header fields and
// tables, and of `scan` the selected source and the stored items.
VolumeScanInfo Captured(const NtfsEngine& engine, const Scan* scan = nullptr) {
  VolumeScanInfo info;
  info.header = ScanImageFileHeader::ForVolumeScan();
  info.header.form = 1;
  CaptureEngineScan(EngineKind::Ntfs, engine, info.header, info.tables);
  if (scan) {
    info.selected = CopySourceRecord(scan->source);
    info.items = SavedItems(scan->run.store);
  }
  return info;
}

Bytes Encoded(const VolumeScanInfo& info) {
  Bytes out;
  const ScanInfoWriteResult w =
      EncodeVolumeScan(info, ItemSourceOf(info.items), {u"01-Feb-2025", u"/saved/ntfs.img", kScanKindVolume, 0}, out);
  EXPECT_TRUE(w) << w.detail;
  return out;
}

// Captured, written and read back.
VolumeScanInfo SavedAndRead(const Scan& scan) {
  VolumeScanInfo read;
  const ScanInfoStatus s = ParseVolumeScan(Encoded(Captured(scan.Engine(), &scan)), read);
  EXPECT_TRUE(s) << s.detail;
  return read;
}

// A fresh engine on a host of its own, restored from `saved` on `disk`.
struct Restored {
  FoundItemStore store;
  HeadlessHost host{&store, nullptr};
  test::RecordingPrompt prompt;
  std::unique_ptr<NtfsEngine> engine;
  ScanRestoreResult result;

  Restored(const VolumeScanInfo& saved, std::shared_ptr<SectorSource> disk) {
    host.SetPrompt(&prompt);
    engine = std::make_unique<NtfsEngine>(host);
    result =
        RestoreEngineScan(EngineKind::Ntfs, *engine, host, saved, MakeVolume(saved.selected, std::move(disk), false));
  }
};

struct ReadBack {
  std::string md5;
  WalkResult walk;
};
ReadBack Read(ScanEngine& engine, const FoundItemInfo& item) {
  test::Md5 md5;
  ReadBack r;
  r.walk = engine.ReadItemData(item, [&](const DataBlock& b) {
    md5.Update(b.bytes);
    return true;
  });
  r.md5 = md5.HexDigest();
  return r;
}

// Every saved file reads through `restored` as through `original`: the same
// bytes, the same count and the same failed reads. Returns how many.
int ExpectSameData(ScanEngine& original, ScanEngine& restored, const std::vector<ScanInfoItem>& items) {
  int files = 0;
  for (const ScanInfoItem& item : items) {
    if (item.info.IsFolder()) continue;
    SCOPED_TRACE(Utf16ToUtf8(item.name) + " (id " + std::to_string(item.info.itemId) + ")");
    const ReadBack a = Read(original, item.info), b = Read(restored, item.info);
    EXPECT_EQ(b.md5, a.md5);
    EXPECT_EQ(b.walk.bytes, a.walk.bytes);
    EXPECT_EQ(b.walk.failedReads, a.walk.failedReads);
    EXPECT_EQ(b.walk.failedUnits, a.walk.failedUnits);
    ++files;
  }
  return files;
}

// Every live file of the corpus truth reads its written bytes through `engine`.
int ExpectTruth(const FoundItemStore& store, ScanEngine& engine, const std::string& truthName) {
  std::map<std::string, FoundItemInfo> byPath;
  for (FoundItemHandle h = 1; h < store.Count(); ++h) byPath.emplace(Utf16ToUtf8(store.PathOf(h)), store.Record(h));
  int files = 0;
  for (const test::TruthRow& row : test::ReadTruth(test::CorpusDir() / (truthName + ".truth.tsv"))) {
    if (row.state != "live" || row.type != "file") continue;
    const auto it = byPath.find(row.path);
    if (it == byPath.end()) {
      ADD_FAILURE() << row.path << " is not listed";
      continue;
    }
    EXPECT_EQ(Read(engine, it->second).md5, row.md5) << row.path;
    ++files;
  }
  return files;
}

int LiveFiles(const std::string& truthName) {
  int n = 0;
  for (const test::TruthRow& row : test::ReadTruth(test::CorpusDir() / (truthName + ".truth.tsv")))
    n += row.state == "live" && row.type == "file";
  return n;
}

// The restored engine holds the tables the scan's engine read by.
void ExpectSameTables(const NtfsEngine& a, const NtfsEngine& b) {
  EXPECT_EQ(b.SectorsPerCluster(), a.SectorsPerCluster());
  EXPECT_EQ(b.VolumeFirstSector(), a.VolumeFirstSector());
  EXPECT_EQ(b.VolumeSectorCount(), a.VolumeSectorCount());
  EXPECT_EQ(b.MftSector(), a.MftSector());
  EXPECT_EQ(b.ItemsByRecordSector(), a.ItemsByRecordSector() && !a.FoundRecords().empty());
  ASSERT_EQ(b.FoundRecords().size(), a.FoundRecords().size());
  for (std::size_t i = 0; i < a.FoundRecords().size(); ++i) {
    const AdvanceRecordEntry &x = a.FoundRecords()[i], &y = b.FoundRecords()[i];
    SCOPED_TRACE("found record " + std::to_string(i));
    EXPECT_EQ(std::tuple(y.sector, y.secondHalf, y.itemId, y.parentRecord, y.recordNumber),
              std::tuple(x.sector, x.secondHalf, x.itemId, x.parentRecord, x.recordNumber));
    EXPECT_EQ(std::tuple(y.numberKnown, y.isFile, y.done), std::tuple(x.numberKnown, x.isFile, x.done));
  }
  ASSERT_EQ(b.KeptRuns().size(), a.KeptRuns().size());
  for (std::size_t i = 0; i < a.KeptRuns().size(); ++i) {
    const KeptRunNode &x = a.KeptRuns()[i], &y = b.KeptRuns()[i];
    EXPECT_EQ(std::tuple(y.recordNumber, y.blockInCluster, y.dataAttributeOffset, y.pairsOffset, y.compressed),
              std::tuple(x.recordNumber, x.blockInCluster, x.dataAttributeOffset, x.pairsOffset, x.compressed));
    EXPECT_EQ(y.runsValid, x.runsValid);
    if (x.runsValid) {
      EXPECT_EQ(y.runs, x.runs);
    }
  }
}

Bytes HeaderBytes(const ScanImageFileHeader& h) {
  Bytes b(kScanImageFileHeaderSize);
  h.Encode(std::span<std::uint8_t, kScanImageFileHeaderSize>(b.data(), kScanImageFileHeaderSize));
  return b;
}

Bytes FileBytes(const std::filesystem::path& p, std::uint64_t offset, std::size_t n) {
  Bytes b(n);
  std::ifstream f(p, std::ios::binary);
  f.seekg(static_cast<std::streamoff>(offset));
  f.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(n));
  return b;
}

// A 14-byte run entry as the format lays it out.
Bytes RunEntry(std::uint32_t length, std::uint32_t offset, std::uint8_t size, char mark) {
  Bytes e(14, 0);
  PutLE32(e.data() + 4, length);
  PutLE32(e.data() + 8, offset);
  e[12] = size;
  e[13] = static_cast<std::uint8_t>(mark);
  return e;
}
Bytes Joined(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::shared_ptr<MemorySectorSource> Memory(Bytes b) { return std::make_shared<MemorySectorSource>(std::move(b)); }

// The inode numbers The Sleuth Kit lists for the corpus volume, by path.
std::map<std::string, std::uint32_t> FlsInodes() {
  std::map<std::string, std::uint32_t> out;
  std::ifstream in(test::CorpusDir() / "ntfs.fls.txt");
  for (std::string line; std::getline(in, line);) {
    const std::size_t tab = line.find('\t');
    const std::size_t space = line.find(' ');
    if (tab == std::string::npos || space == std::string::npos || line.find(" * ") != std::string::npos) continue;
    const std::size_t tab2 = line.find('\t', tab + 1);
    out.emplace(line.substr(tab + 1, tab2 - tab - 1), static_cast<std::uint32_t>(std::stoul(line.substr(space + 1))));
  }
  return out;
}

// ---- the corpus volume, in each mode --------------------------------------

class NtfsScanInfoCorpus : public ::testing::TestWithParam<std::uint32_t> {};

TEST_P(NtfsScanInfoCorpus, EverySavedFileReadsBackTheSameThroughARestoredEngine) {
  const auto image = test::CorpusDir() / "ntfs.img";
  ASSERT_TRUE(std::filesystem::exists(image)) << image;
  auto disk = std::make_shared<test::FileSectorSource>(image);
  const Scan scan(VolumeSource(0, disk->SectorCount()), disk, GetParam());
  ASSERT_TRUE(scan.run.problem.empty()) << scan.run.problem;
  ASSERT_EQ(scan.run.session->Kind(), EngineKind::Ntfs);

  const VolumeScanInfo saved = SavedAndRead(scan);
  ASSERT_GT(saved.items.size(), 1u);
  // A fresh disk object: nothing of the scan's reads is shared.
  Restored restored(saved, std::make_shared<test::FileSectorSource>(image));
  ASSERT_TRUE(restored.result.ok) << restored.result.message;
  EXPECT_TRUE(restored.prompt.texts.empty());
  EXPECT_EQ(restored.host.VolumeOpenedFlag().load(), 1);

  EXPECT_GT(ExpectSameData(scan.Engine(), *restored.engine, saved.items), 20);
  ExpectSameTables(scan.Engine(), *restored.engine);
  if (GetParam() != kModeDeleted) {
    EXPECT_EQ(ExpectTruth(scan.run.store, *restored.engine, "ntfs"), LiveFiles("ntfs"));
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, NtfsScanInfoCorpus, ::testing::Values(kModeQuick, kModeDeleted, kModeAdvance),
                         [](const auto& info) {
                           return info.param == kModeQuick     ? std::string("Quick")
                                  : info.param == kModeDeleted ? std::string("Deleted")
                                                               : std::string("Advance");
                         });

TEST(NtfsScanInfoHeader, TheNtfsColumnHoldsTheVolumeAsItsBootSectorGivesIt) {
  const auto image = test::CorpusDir() / "ntfs.img";
  ASSERT_TRUE(std::filesystem::exists(image)) << image;
  auto disk = std::make_shared<test::FileSectorSource>(image);
  const Bytes boot = FileBytes(image, 0, 512);
  const std::uint64_t spc = boot[0x0D];
  const std::uint64_t sectors = disk->SectorCount();
  const Scan scan(VolumeSource(0, sectors, 0xFF), disk, kModeQuick);
  ASSERT_TRUE(scan.run.problem.empty()) << scan.run.problem;

  const VolumeScanInfo info = Captured(scan.Engine(), &scan);
  const Bytes h = HeaderBytes(info.header);
  EXPECT_EQ(h[1], 0xFF) << "the partition record's drive byte";
  for (std::size_t at : {2, 3, 7, 11, 16, 18, 19, 23}) EXPECT_EQ(h[at], 0) << "FAT field at " << at;
  EXPECT_EQ(h[17], 7);
  EXPECT_EQ(GetLE64(h.data() + 27), GetLE64(boot.data() + 0x30) * spc);
  EXPECT_EQ(GetLE64(h.data() + 35), GetLE64(boot.data() + 0x38) * spc);
  EXPECT_EQ(GetLE32(h.data() + 47), GetLE32(h.data() + 43) * 14);
  EXPECT_EQ(GetLE32(h.data() + 51), 0u) << "Quick Recovery has no Advance records";
  EXPECT_EQ(GetLE32(h.data() + 55), 0u);
  EXPECT_EQ(GetLE16(h.data() + 59), spc);
  EXPECT_EQ(h[61], 1);
  EXPECT_EQ(h[62], 1);
  EXPECT_EQ(GetLE64(h.data() + 63), 0u);
  EXPECT_EQ(GetLE64(h.data() + 71), sectors);
  EXPECT_EQ(GetLE64(h.data() + 79), GetLE64(boot.data() + 0x28) + 1) << "the boot sector's count leaves out its backup at the end";
  EXPECT_EQ(h[953], 7);
  EXPECT_EQ(GetLE32(h.data() + 959), 0u);

  // Items and bytes: what the results window was given.
  std::uint64_t bytes = 0;
  for (FoundItemHandle i = 0; i < scan.run.store.Count(); ++i) bytes += scan.run.store.Record(i).size;
  EXPECT_EQ(GetLE32(h.data() + 95), scan.run.store.Count());
  EXPECT_EQ(GetLE64(h.data() + 87), bytes);

  // The $MFT's first run begins where the boot sector puts the $MFT, and the
  // runs cover its records.
  const Bytes& runs = info.tables.mftRuns;
  ASSERT_EQ(runs.size(), GetLE32(h.data() + 47));
  ASSERT_GE(runs.size(), 14u);
  EXPECT_EQ(GetLE32(runs.data()), 0u);
  EXPECT_EQ(GetLE32(runs.data() + 8), GetLE64(boot.data() + 0x30));
  EXPECT_EQ(runs[12], 1);
  EXPECT_EQ(runs[13], 'S');
  std::uint64_t clusters = 0;
  for (std::size_t at = 0; at < runs.size(); at += 14) {
    clusters += GetLE32(runs.data() + at + 4);
    if (at) {
      EXPECT_EQ(runs[at + 13], 'M');
    }
  }
  const std::map<std::string, std::uint32_t> inodes = FlsInodes();
  ASSERT_FALSE(inodes.empty());
  std::uint32_t highest = 0;
  for (const auto& [path, inode] : inodes) highest = std::max(highest, inode);
  EXPECT_GT(clusters * spc * 512 / 1024, highest);
}

TEST(NtfsScanInfoHeader, AdvanceRecordsTakeThePlaceOfTheMftRunsEntryByEntry) {
  const auto image = test::CorpusDir() / "ntfs.img";
  ASSERT_TRUE(std::filesystem::exists(image)) << image;
  auto disk = std::make_shared<test::FileSectorSource>(image);
  const Scan scan(VolumeSource(0, disk->SectorCount()), disk, kModeAdvance);
  ASSERT_TRUE(scan.run.problem.empty()) << scan.run.problem;
  const std::size_t found = scan.Engine().FoundRecords().size();
  ASSERT_GT(found, 30u);

  const VolumeScanInfo info = Captured(scan.Engine(), &scan);
  EXPECT_EQ(info.header.advanceCount, found);
  EXPECT_EQ(info.tables.advanceRecords.size(), found * 28);
  EXPECT_TRUE(info.tables.mftRuns.empty()) << "one of the two tables only";
  EXPECT_EQ(info.header.hasMftRuns, 1) << "the engine had its $MFT runs all the same";
  EXPECT_EQ(GetLE32(info.tables.advanceRecords.data() + 16), info.header.advanceFirstRecord);
  VolumeScanInfo read;
  ASSERT_TRUE(ParseVolumeScan(Encoded(info), read));
  EXPECT_EQ(read.tables.advanceRecords, info.tables.advanceRecords);
  EXPECT_TRUE(read.tables.mftRuns.empty());

  // The entry of each file in the root folder: its record's sector (the
  // item's place), its id, parent 5, its number as The Sleuth Kit lists it,
  // a file, posted.
  const std::map<std::string, std::uint32_t> inodes = FlsInodes();
  int checked = 0;
  for (const FoundItemHandle h : scan.run.store.ChildrenOf(5)) {
    const StoredItem item = scan.run.store.Item(h);
    const std::string path = Utf16ToUtf8(item.name);
    if (item.record.IsFolder() || !inodes.count(path) || path[0] == '$') continue;
    SCOPED_TRACE(path);
    const Bytes& t = info.tables.advanceRecords;
    std::size_t at = 0;
    while (at < t.size() && GetLE32(t.data() + at + 8) != item.record.itemId) at += 28;
    ASSERT_LT(at, t.size());
    Bytes expected(28, 0);
    PutLE64(expected.data(), item.record.location);
    PutLE32(expected.data() + 8, item.record.itemId);
    PutLE32(expected.data() + 12, 5);
    PutLE32(expected.data() + 16, inodes.at(path));
    PutLE32(expected.data() + 20, 1);
    PutLE32(expected.data() + 24, 1);
    EXPECT_EQ(Bytes(t.begin() + static_cast<std::ptrdiff_t>(at), t.begin() + static_cast<std::ptrdiff_t>(at + 28)),
              expected);
    ++checked;
  }
  EXPECT_GE(checked, 1);
}

// A volume on which no pass found NTFS leaves the engine without a cluster
// size: the file still says 1, so that a resume accepts it, and restores to
// an engine that reads nothing.
TEST(NtfsScanInfoHeader, AnEngineWithoutAClusterSizeStillGivesAResumableFile) {
  auto disk = Memory(Bytes(4096 * 512, 0));
  const Scan scan(VolumeSource(0, disk->SectorCount()), disk, kModeAdvance);
  ASSERT_EQ(scan.Engine().SectorsPerCluster(), 0);
  VolumeScanInfo info = Captured(scan.Engine(), &scan);
  info.header.driveCount = 0;
  EXPECT_EQ(info.header.clusterSectors, 1);
  const Bytes bytes = Encoded(info);
  EXPECT_TRUE(CheckResumeHeader(std::span(bytes).first(kScanInfoBlockSize)));
  VolumeScanInfo read;
  ASSERT_TRUE(ParseVolumeScan(bytes, read));
  Restored restored(read, disk);
  EXPECT_TRUE(restored.result.ok) << restored.result.message;
}

// A volume of the partition tables of a mounted image: the restore places
// it where the header says on the image mounted again.
TEST(NtfsScanInfoImage, AVolumeOfAMountedImageIsPlacedByTheHeader) {
  const auto path = test::CorpusDir() / "disks" / "mbr.vmdk";
  const MountResult mount = MountImageFile(kImageVmware, path);
  ASSERT_TRUE(mount.mounted);
  SourceList list;
  list.m_nDiskSectors = mount.image->SectorCount();
  ScanPartitions(list, *mount.image);
  BuildSourceList(list, kImageVmware, 0);
  const SourceRecord* ntfs = nullptr;
  for (const auto& r : list.m_sources)
    if (r->partition && r->partition->fileSystemKind == kFsNtfs) ntfs = r.get();
  ASSERT_NE(ntfs, nullptr);
  const Scan scan(CopySourceRecord(*ntfs), mount.image, kModeQuick);
  ASSERT_TRUE(scan.run.problem.empty()) << scan.run.problem;

  const VolumeScanInfo saved = SavedAndRead(scan);
  // The MBR's first entry: where the volume starts and how long it is.
  Bytes mbr(512);
  ASSERT_TRUE(mount.image->ReadSectors(0, mbr.data(), 512));
  EXPECT_EQ(saved.header.firstSector, GetLE32(mbr.data() + 0x1BE + 8));
  EXPECT_EQ(saved.header.sectorCount, GetLE32(mbr.data() + 0x1BE + 12));

  const MountResult again = MountImageFile(kImageVmware, path);
  ASSERT_TRUE(again.mounted);
  Restored restored(saved, again.image);
  ASSERT_TRUE(restored.result.ok) << restored.result.message;
  EXPECT_GT(ExpectSameData(scan.Engine(), *restored.engine, saved.items), 20);
  EXPECT_EQ(ExpectTruth(scan.run.store, *restored.engine, "ntfs"), LiveFiles("ntfs"));
}

// ---- volumes built from the format's description --------------------------

constexpr std::uint32_t kCluster = 512;

// The root folder, its index holding `entries`.
void PutRoot(img::NtfsImage& image, const std::vector<Bytes>& entries) {
  img::RecordBuilder root;
  root.number = 5;
  root.flags = test::kDirInUse;
  root.Add(img::Resident(0x10, img::StdInfo(test::kInfoCreated, test::kInfoModified, 0x16), u"", 0))
      .Add(img::Resident(0x30, Key(5, u".", 3, test::kFolderFlags), u"", 1))
      .Add(img::Resident(0x90, img::IndexRoot(entries, 4096, false), u"$I30", 2));
  image.PutRecord(5, root.Build());
}

// Record 0 maps the $MFT as 3 clusters where the boot sector says, then 189
// clusters far away: record 1's halves lie in different runs.
struct TwoRunMft {
  img::NtfsImage image{1, 600, 4, 96};
  std::uint64_t far = 0;
  Bytes a = test::Pattern(1500, 3);

  Bytes Build() {
    far = image.Allocate(189);
    const std::uint64_t mftBytes = 96 * 1024;
    img::RecordBuilder mft;
    mft.Add(img::Resident(0x10, img::StdInfo(0, 0), u"", 0))
        .Add(img::Resident(0x30, Key(5, u"$MFT", 3, 0x06), u"", 1))
        .Add(img::NonResident(0x80, img::Pairs({{image.MftLcn(), 3}, {far, 189}}), 0, 191, mftBytes, mftBytes,
                              mftBytes, 0, 0, u"", 2));
    image.PutRecord(0, mft.Build());
    // $MFTMirr, record 1, with data of its own.
    const std::uint64_t mirror = image.Allocate(3);
    image.WriteClusters(mirror, a);
    image.PutRecord(1, FileRecord(1, 5, u"$MFTMirr",
                                  img::NonResident(0x80, img::Pairs({{mirror, 3}}), 0, 2, 3 * kCluster, a.size(),
                                                   a.size(), 0, 0, u"", 2)));
    image.PutRecord(43, FileRecord(43, 5, u"a.txt", img::Resident(0x80, {'a', 'b'}, u"", 2)));
    PutRoot(image, {test::Entry(43, 5, u"a.txt")});
    Bytes volume = image.Finish();
    const std::size_t from = (image.MftLcn() + 3) * kCluster;
    std::copy(volume.begin() + static_cast<std::ptrdiff_t>(from),
              volume.begin() + static_cast<std::ptrdiff_t>(from + 189 * kCluster),
              volume.begin() + static_cast<std::ptrdiff_t>(far * kCluster));
    std::fill(volume.begin() + static_cast<std::ptrdiff_t>(from),
              volume.begin() + static_cast<std::ptrdiff_t>(from + 189 * kCluster), 0);
    return volume;
  }
};

TEST(NtfsScanInfoTables, MftRunsAreStoredAsTheirEntriesAndReadBack) {
  TwoRunMft v;
  auto disk = Memory(v.Build());
  const Scan scan(VolumeSource(0, disk->SectorCount()), disk, kModeQuick);
  ASSERT_TRUE(scan.run.problem.empty()) << scan.run.problem;

  const VolumeScanInfo info = Captured(scan.Engine(), &scan);
  // 3 clusters at cluster 4, then 189 clusters at `far`: the distance from 4.
  // 192 is negative in one byte: it takes two.
  ASSERT_EQ(v.far, 196u);
  EXPECT_EQ(info.tables.mftRuns, Joined({RunEntry(3, 4, 1, 'S'), RunEntry(189, 192, 2, 'M')}));
  EXPECT_EQ(info.header.mftRunCount, 2u);
  EXPECT_EQ(info.header.mftRunBytes, 28u);
  EXPECT_EQ(info.header.hasMftRuns, 1);

  VolumeScanInfo read;
  ASSERT_TRUE(ParseVolumeScan(Encoded(info), read));
  Restored restored(read, disk);
  ASSERT_TRUE(restored.result.ok) << restored.result.message;
  EXPECT_EQ(restored.engine->MftRuns(), scan.Engine().MftRuns());
  EXPECT_EQ(restored.engine->MftRecordCount(), 96u);
  // a.txt, whose record lies in the second run.
  ASSERT_EQ(ExpectSameData(scan.Engine(), *restored.engine, read.items), 1);
  for (const ScanInfoItem& item : read.items)
    if (item.name == u"a.txt") {
      EXPECT_EQ(Read(*restored.engine, item.info).md5, test::Md5Hex(Bytes{'a', 'b'}));
    }
}

TEST(NtfsScanInfoTables, AnAdvanceRecordSplitOverTwoMftRunsFindsItsSecondHalfAgain) {
  TwoRunMft v;
  auto disk = Memory(v.Build());
  const Scan scan(VolumeSource(0, disk->SectorCount()), disk, kModeAdvance);
  ASSERT_TRUE(scan.run.problem.empty()) << scan.run.problem;
  const auto& found = scan.Engine().FoundRecords();
  const auto split = std::find_if(found.begin(), found.end(), [](const auto& e) { return e.recordNumber == 1; });
  ASSERT_NE(split, found.end());
  ASSERT_EQ(split->secondHalf, v.far) << "the scan joined record 1 across the runs";

  const VolumeScanInfo saved = SavedAndRead(scan);
  Restored restored(saved, disk);
  ASSERT_TRUE(restored.result.ok) << restored.result.message;
  ExpectSameTables(scan.Engine(), *restored.engine);
  EXPECT_GE(ExpectSameData(scan.Engine(), *restored.engine, saved.items), 2);
  bool mirror = false;
  for (const ScanInfoItem& item : saved.items)
    if (item.name == u"$MFTMirr") {
      mirror = true;
      EXPECT_EQ(Read(*restored.engine, item.info).md5, test::Md5Hex(v.a));
    }
  EXPECT_TRUE(mirror);
}

// $MFT runs no entry can hold (a run beyond 2^40 clusters, from a damaged
// record 0) are left out of the file; the restore reads them again where
// the scan read them, and the files still read.
TEST(NtfsScanInfoTables, MftRunsNoEntryCanHoldAreReadAgainFromTheVolume) {
  img::NtfsImage image(8, 200, 4, 64);
  const std::uint64_t mftBytes = 64 * 1024;
  img::RecordBuilder mft;
  mft.Add(img::Resident(0x10, img::StdInfo(0, 0), u"", 0))
      .Add(img::Resident(0x30, Key(5, u"$MFT", 3, 0x06), u"", 1))
      .Add(img::NonResident(0x80, img::Pairs({{4, 16}, {1ull << 41, 4}}), 0, 19, 20 * 4096, mftBytes, mftBytes, 0, 0,
                            u"", 2));
  image.PutRecord(0, mft.Build());
  const Bytes data = test::Pattern(3 * 4096 + 100, 5);
  const std::uint64_t at = image.Allocate(4);
  image.WriteClusters(at, data);
  image.PutRecord(43, FileRecord(43, 5, u"b.bin",
                                 img::NonResident(0x80, img::Pairs({{at, 4}}), 0, 3, 4 * 4096, data.size(),
                                                  data.size(), 0, 0, u"", 2)));
  PutRoot(image, {test::Entry(43, 5, u"b.bin")});
  auto disk = Memory(image.Finish());
  const Scan scan(VolumeSource(0, disk->SectorCount()), disk, kModeQuick);
  ASSERT_TRUE(scan.run.problem.empty()) << scan.run.problem;
  ASSERT_EQ(scan.Engine().MftRuns().size(), 2u);

  const VolumeScanInfo saved = SavedAndRead(scan);
  EXPECT_EQ(saved.header.hasMftRuns, 0);
  EXPECT_EQ(saved.header.mftRunCount, 0u);
  EXPECT_TRUE(saved.tables.mftRuns.empty());
  Restored restored(saved, disk);
  ASSERT_TRUE(restored.result.ok) << restored.result.message;
  EXPECT_EQ(restored.engine->MftRuns(), scan.Engine().MftRuns());
  ASSERT_EQ(ExpectSameData(scan.Engine(), *restored.engine, saved.items), 1);
  EXPECT_EQ(Read(*restored.engine, saved.items.back().info).md5, test::Md5Hex(data));
}

// Records whose update sequence lies at 0x2A keep no number: found outside
// the $MFT, their number is not known, and an extension record is no
// record 0's.
TEST(NtfsScanInfoTables, NumbersTheSearchCouldNotKnowStayUnknown) {
  img::NtfsImage image(1, 600, 4, 64);
  image.PutRecord(43, FileRecord(43, 5, u"in.txt", img::Resident(0x80, {'i'}, u"", 2)));
  PutRoot(image, {test::Entry(43, 5, u"in.txt")});
  Bytes volume = image.Finish();
  // Two copies of records left outside the $MFT: one that keeps its number
  // (0x30), one that cannot (0x2A).
  const Bytes kept = FileRecord(44, 5, u"kept.txt", img::Resident(0x80, {'k', 'k'}, u"", 2));
  const Bytes old = FileRecord(0, 5, u"old.txt", img::Resident(0x80, {'o', 'l', 'd'}, u"", 2), img::kInUse, 1, 0x2A);
  std::copy(kept.begin(), kept.end(), volume.begin() + 400 * 512);
  std::copy(old.begin(), old.end(), volume.begin() + 420 * 512);
  auto disk = Memory(std::move(volume));
  const Scan scan(VolumeSource(0, disk->SectorCount()), disk, kModeAdvance);
  ASSERT_TRUE(scan.run.problem.empty()) << scan.run.problem;
  const auto& found = scan.Engine().FoundRecords();
  const auto at = [&](std::uint64_t sector) {
    return std::find_if(found.begin(), found.end(), [&](const auto& e) { return e.sector == sector; });
  };
  ASSERT_NE(at(400), found.end());
  ASSERT_NE(at(420), found.end());
  ASSERT_TRUE(at(400)->numberKnown);
  ASSERT_FALSE(at(420)->numberKnown);
  ASSERT_TRUE(at(4)->numberKnown) << "record 0 where the $MFT begins";

  const VolumeScanInfo saved = SavedAndRead(scan);
  Restored restored(saved, disk);
  ASSERT_TRUE(restored.result.ok) << restored.result.message;
  ExpectSameTables(scan.Engine(), *restored.engine);
  EXPECT_GE(ExpectSameData(scan.Engine(), *restored.engine, saved.items), 3);
  std::uint64_t sector = 0;
  EXPECT_TRUE(restored.engine->FindFoundRecordSector(44, sector));
  EXPECT_EQ(sector, 400u);
  EXPECT_TRUE(restored.engine->FindFoundRecordSector(0, sector));
  EXPECT_EQ(sector, 4u) << "the record of unknown number is not record 0";
}

// The journal's runs of a deleted file whose record lost them.
struct JournalVolume {
  img::NtfsImage image{1, 600, 4, 96};
  Bytes content = test::Pattern(5 * kCluster - 300, 8);
  std::uint64_t a = 0, b = 0;
  std::uint16_t dataOffset = 0;
  std::vector<img::Run> oldRuns;

  // `far`: the second run lies this many clusters past the first one's
  // place instead, and is this long.
  Bytes Build(std::uint64_t farDistance = 0, std::uint64_t farLength = 0) {
    a = image.Allocate(2);
    b = image.Allocate(3);
    Bytes clusters = content;
    clusters.resize(5 * kCluster, 0);
    image.WriteClusters(a, std::span(clusters).first(2 * kCluster));
    image.WriteClusters(b, std::span(clusters).subspan(2 * kCluster));
    oldRuns = farDistance ? std::vector<img::Run>{{a, 2}, {a + farDistance, farLength}}
                          : std::vector<img::Run>{{a, 2}, {b, 3}};
    dataOffset = test::PutEmptiedLostFile(image);

    img::LogChange pairs;
    pairs.redoOp = pairs.undoOp = 9;
    pairs.undo = img::Pairs(oldRuns);
    pairs.redo = {0x00};
    pairs.recordOffset = dataOffset;
    pairs.attributeOffset = 0x40;
    pairs.blockOffset = 0;
    pairs.targetVcn = 45 * 2;
    pairs.lcn = image.MftLcn() + 90;
    const Bytes journal = img::Journal({img::RecordPage(1000, img::LogRecord(1000, pairs))}, 8);
    const std::uint64_t logClusters = journal.size() / kCluster;
    const std::uint64_t logLcn = image.Allocate(logClusters);
    image.WriteClusters(logLcn, journal);
    image.PutRecord(2, FileRecord(2, 5, u"$LogFile",
                                  img::NonResident(0x80, img::Pairs({{logLcn, logClusters}}), 0, logClusters - 1,
                                                   journal.size(), journal.size(), journal.size(), 0, 0, u"", 2)));
    image.PutRecord(43, FileRecord(43, 5, u"kept.txt", img::Resident(0x80, {'k'}, u"", 2)));
    PutRoot(image, {test::Entry(43, 5, u"kept.txt")});
    return image.Finish();
  }
};

TEST(NtfsScanInfoTables, JournalRunsAreKeptAsRunListNodesAndReadAgain) {
  for (const std::uint32_t mode : {kModeQuick, kModeDeleted}) {
    SCOPED_TRACE(mode == kModeQuick ? "Quick" : "Deleted");
    JournalVolume v;
    auto disk = Memory(v.Build());
    const Scan scan(VolumeSource(0, disk->SectorCount()), disk, mode);
    ASSERT_TRUE(scan.run.problem.empty()) << scan.run.problem;
    ASSERT_EQ(scan.Engine().KeptRuns().size(), 1u);
    ASSERT_TRUE(scan.Engine().KeptRuns()[0].runsValid);

    const VolumeScanInfo info = Captured(scan.Engine(), &scan);
    // The first data cluster after a $MFT of 96 records; 196 is negative in
    // one byte, so it takes two.
    ASSERT_EQ(v.a, 196u);
    EXPECT_EQ(info.header.runListNodes, 1u);
    ASSERT_EQ(info.tables.runListNodes.size(), 1u);
    // The node: record 45 in $MFT cluster 4 + 90 (its VCN 90), block 0, its
    // $DATA and mapping-pairs offsets, 2 runs of 28 bytes, not compressed,
    // 5 clusters allocated.
    std::array<std::uint8_t, 47> node{};
    PutLE32(node.data() + 4, 45);
    PutLE32(node.data() + 8, 4 + 90);
    PutLE32(node.data() + 12, 90);
    PutLE32(node.data() + 16, 2);
    PutLE32(node.data() + 20, 28);
    PutLE16(node.data() + 24, 0);
    PutLE16(node.data() + 26, v.dataOffset);
    PutLE16(node.data() + 28, 0x40);
    node[34] = 0;
    PutLE64(node.data() + 35, 5 * kCluster);
    EXPECT_EQ(info.tables.runListNodes[0].image, node);
    EXPECT_EQ(info.tables.runListNodes[0].runs,
              Joined({RunEntry(2, 196, 2, 'S'), RunEntry(3, static_cast<std::uint32_t>(v.b - v.a), 1, 'M')}));

    VolumeScanInfo read;
    ASSERT_TRUE(ParseVolumeScan(Encoded(info), read));
    Restored restored(read, disk);
    ASSERT_TRUE(restored.result.ok) << restored.result.message;
    ExpectSameTables(scan.Engine(), *restored.engine);
    EXPECT_EQ(ExpectSameData(scan.Engine(), *restored.engine, read.items), mode == kModeQuick ? 2 : 1);
    // The journal knew the runs, not the size: the five clusters as written.
    Bytes clusters = v.content;
    clusters.resize(5 * kCluster, 0);
    bool lost = false;
    for (const ScanInfoItem& item : read.items)
      if (item.name == u"lost.bin") {
        lost = true;
        EXPECT_EQ(Read(*restored.engine, item.info).md5, test::Md5Hex(clusters));
      }
    EXPECT_TRUE(lost);
  }
}

// The lengths of runs contiguous in both numbers put together: how the
// clusters map, whatever pieces the entries took.
std::vector<DataExtent> Merged(const std::vector<DataExtent>& runs) {
  std::vector<DataExtent> out;
  for (const DataExtent& e : runs) {
    if (!out.empty() && out.back().sparse == e.sparse && out.back().vcn + out.back().length == e.vcn &&
        (e.sparse || out.back().lcn + out.back().length == e.lcn)) {
      out.back().length += e.length;
    } else {
      out.push_back(e);
    }
  }
  return out;
}

TEST(NtfsScanInfoTables, RunsBeyondWhatOneEntrySaysAreWrittenInPiecesAndHops) {
  // The second run 4 GiB clusters and 5 past the first, and longer than 2^31
  // clusters: a distance and a length no entry holds.
  constexpr std::uint64_t kDistance = (1ull << 32) + 5;
  constexpr std::uint64_t kLength = 0x80000001;
  JournalVolume v;
  auto disk = Memory(v.Build(kDistance, kLength));
  const Scan scan(VolumeSource(0, disk->SectorCount()), disk, kModeQuick);
  ASSERT_TRUE(scan.run.problem.empty()) << scan.run.problem;
  ASSERT_EQ(scan.Engine().KeptRuns().size(), 1u);
  const std::vector<DataExtent> original = scan.Engine().KeptRuns()[0].runs;
  ASSERT_EQ(original, (std::vector<DataExtent>{{0, v.a, 2, false}, {2, v.a + kDistance, kLength, false}}));

  const VolumeScanInfo info = Captured(scan.Engine(), &scan);
  ASSERT_EQ(info.tables.runListNodes.size(), 1u);
  // Two hops of 2^31 - 1 clusters, the 7 left, then the rest of the run from
  // where its first piece ended.
  EXPECT_EQ(info.tables.runListNodes[0].runs,
            Joined({RunEntry(2, 196, 2, 'S'), RunEntry(0, 0x7FFFFFFF, 4, 'M'),
                    RunEntry(0, 0x7FFFFFFF, 4, 'M'), RunEntry(0x7FFFFFFF, 7, 1, 'M'),
                    RunEntry(2, 0x7FFFFFFF, 4, 'M')}));
  EXPECT_EQ(GetLE32(info.tables.runListNodes[0].image.data() + 16), 5u);

  VolumeScanInfo read;
  ASSERT_TRUE(ParseVolumeScan(Encoded(info), read));
  Restored restored(read, disk);
  ASSERT_TRUE(restored.result.ok) << restored.result.message;
  ASSERT_EQ(restored.engine->KeptRuns().size(), 1u);
  EXPECT_TRUE(restored.engine->KeptRuns()[0].runsValid);
  EXPECT_EQ(Merged(restored.engine->KeptRuns()[0].runs), original);
}

// ---- Raw Recovery: hits read through the free clusters ---------------------

constexpr std::array<std::uint8_t, 8> kSig = {0xC7, 'R', 'V', 'S', 'I', 'N', 0x01, 0xFE};

// A volume whose $Bitmap leaves clusters 100-102 and 110-119 free; a file of
// a made-up type starts at 100 and goes on at 110. `spc` sectors per cluster.
struct RawVolume {
  explicit RawVolume(std::uint32_t sectorsPerCluster) : spc(sectorsPerCluster), image(spc, 160, 4, 64) {}
  std::uint32_t spc;
  img::NtfsImage image;
  Bytes file, allocated;

  std::uint32_t Cb() const { return spc * 512; }
  FileTypeRecord Type() const {
    FileTypeRecord t;
    t.extension = u"rvsin";
    t.headerLength = 8;
    std::copy(kSig.begin(), kSig.end(), t.header.begin());
    t.maxSize = 5 * Cb();
    t.typeId = 250;
    return t;
  }
  Bytes Build() {
    Bytes bitmap(20, 0xFF);
    bitmap[100 / 8] = static_cast<std::uint8_t>(~(0x7u << (100 % 8)));  // 100-102
    bitmap[110 / 8] = static_cast<std::uint8_t>(~(0xFFu << (110 % 8)));  // 110-111
    bitmap[112 / 8] = 0;                                                 // 112-119
    image.PutRecord(6, FileRecord(6, 5, u"$Bitmap", img::Resident(0x80, bitmap, u"", 2)));
    PutRoot(image, {});
    file.resize(5 * Cb());
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 7 + 3);
    std::copy(kSig.begin(), kSig.end(), file.begin());
    allocated.assign(7 * Cb(), 0xAB);
    image.WriteClusters(100, std::span(file).first(3 * Cb()));
    image.WriteClusters(103, allocated);
    image.WriteClusters(110, std::span(file).subspan(3 * Cb()));
    return image.Finish();
  }
  SourceRecord Source() const {
    SourceRecord s = VolumeSource(0, 160 * spc);
    s.partition->ntfsSectorsPerCluster = static_cast<std::uint16_t>(spc);
    return s;
  }
};

// With its bitmap the hit is read through the free clusters, and so it is
// after the restore, which reads the bitmap again. Without the bitmap's
// record every sector is searched and the hit reads its consecutive sectors:
// the restore must not find free clusters the scan did not have.
class NtfsScanInfoRaw : public ::testing::TestWithParam<std::tuple<std::uint32_t, bool>> {};

TEST_P(NtfsScanInfoRaw, AHitReadsThroughTheClustersTheScanReadItThrough) {
  const auto [spc, bitmap] = GetParam();
  RawVolume v(spc);
  Bytes volume = v.Build();
  if (!bitmap) std::fill_n(volume.begin() + 4 * v.Cb() + 6 * 1024, 1024, 0);
  auto disk = Memory(std::move(volume));
  test::VolumeScan run;
  run.host.SelectedTypeList() = {v.Type()};
  run.Run(v.Source(), disk, kModeRaw);
  ASSERT_TRUE(run.problem.empty()) << run.problem;
  ASSERT_EQ(run.session->Kind(), EngineKind::Ntfs);
  const auto& engine = static_cast<NtfsEngine&>(*run.Engine());
  ASSERT_EQ(engine.FreeExtentsValid(), bitmap);
  ASSERT_EQ(engine.SectorsPerCluster(), bitmap ? spc : 1) << "a sector search takes a sector for a cluster";
  EXPECT_TRUE(engine.MftRuns().empty()) << "Raw Recovery lets the $MFT's runs go";

  VolumeScanInfo info;
  info.header = ScanImageFileHeader::ForVolumeScan();
  CaptureEngineScan(EngineKind::Ntfs, engine, info.header, info.tables);
  info.selected = v.Source();
  info.items = SavedItems(run.store);
  EXPECT_EQ(info.header.hasMftRuns, 0);
  VolumeScanInfo read;
  ASSERT_TRUE(ParseVolumeScan(Encoded(info), read));
  Restored restored(read, disk);
  ASSERT_TRUE(restored.result.ok) << restored.result.message;
  EXPECT_EQ(restored.engine->FreeExtentsValid(), bitmap);

  // Clusters 100-102 and 110-111, or 100-104 as they lie.
  Bytes expected = v.file;
  if (!bitmap) std::copy_n(v.allocated.begin(), 2 * v.Cb(), expected.begin() + 3 * v.Cb());
  int hits = 0;
  for (const ScanInfoItem& item : read.items) {
    if (item.info.IsFolder()) continue;
    ++hits;
    EXPECT_EQ(item.info.location, bitmap ? 100u : 100u * spc);
    EXPECT_EQ(Read(*restored.engine, item.info).md5, test::Md5Hex(expected));
  }
  EXPECT_EQ(hits, 1);
  EXPECT_EQ(ExpectSameData(*run.Engine(), *restored.engine, read.items), 1);
}

INSTANTIATE_TEST_SUITE_P(ClusterSizesAndBitmap, NtfsScanInfoRaw,
                         ::testing::Combine(::testing::Values(1u, 8u), ::testing::Bool()));

// ---- what the restore refuses ----------------------------------------------

class NtfsScanInfoRefusal : public ::testing::Test {
 protected:
  void SetUp() override {
    TwoRunMft v;
    disk_ = Memory(v.Build());
    scan_ = std::make_unique<Scan>(VolumeSource(0, disk_->SectorCount()), disk_, kModeQuick);
    ASSERT_TRUE(scan_->run.problem.empty());
    saved_ = SavedAndRead(*scan_);
  }
  VolumeScanInfo Saved() const {
    VolumeScanInfo c;
    c.header = saved_.header;
    c.tables = saved_.tables;
    c.selected = CopySourceRecord(saved_.selected);
    c.items = saved_.items;
    return c;
  }
  // Refused with a message that names `what`.
  void ExpectRefused(const VolumeScanInfo& scan, const std::string& what, bool withDisk = true) {
    SCOPED_TRACE(what);
    Restored r(scan, withDisk ? disk_ : nullptr);
    EXPECT_FALSE(r.result.ok);
    EXPECT_NE(r.result.message.find(what), std::string::npos) << r.result.message;
    EXPECT_TRUE(r.prompt.texts.empty()) << "the loader shows the message, not the restore";
    EXPECT_EQ(r.host.VolumeOpenedFlag().load(), 1);
  }

  std::shared_ptr<MemorySectorSource> disk_;
  std::unique_ptr<Scan> scan_;
  VolumeScanInfo saved_;
};

TEST_F(NtfsScanInfoRefusal, WhatTheEngineCannotUseIsRefusedWithAMessage) {
  const std::uint64_t sectors = disk_->SectorCount();
  // Three Advance records, at sectors 40, 42, 44 with ids 10-12 and numbers
  // 20-22, in place of the $MFT runs: a restore takes them.
  const auto advance = [](VolumeScanInfo& s) {
    s.header.advanceCount = 3;
    s.header.advanceFirstRecord = 20;
    s.tables.mftRuns.clear();
    s.tables.advanceRecords.assign(3 * 28, 0);
    for (int i = 0; i < 3; ++i) {
      PutLE64(s.tables.advanceRecords.data() + i * 28, 40 + 2 * i);
      PutLE32(s.tables.advanceRecords.data() + i * 28 + 8, 10 + i);
      PutLE32(s.tables.advanceRecords.data() + i * 28 + 16, 20 + i);
    }
  };
  {
    VolumeScanInfo s = Saved();
    advance(s);
    Restored ok(s, disk_);
    EXPECT_TRUE(ok.result.ok) << ok.result.message;
    EXPECT_TRUE(ok.engine->ItemsByRecordSector());
  }
  // A run-list node of two runs in 14 bytes.
  const auto node = [](VolumeScanInfo& s) {
    ScanRunListNode n;
    PutLE32(n.image.data() + 4, 45);
    PutLE32(n.image.data() + 16, 2);
    PutLE32(n.image.data() + 20, 14);
    n.runs = RunEntry(3, 4, 1, 'S');
    s.header.runListNodes = 1;
    s.tables.runListNodes = {n};
  };
  using Change = std::function<void(VolumeScanInfo&)>;
  const std::vector<std::pair<Change, std::string>> cases = {
      // geometry and place
      {[](auto& s) { s.header.clusterSectors = 3; }, "cluster size of 3 sectors"},
      {[](auto& s) { s.header.clusterSectors = 1024; }, "cluster size of 1024 sectors"},
      {[](auto& s) { s.header.sectorCount = 0; }, "no sectors"},
      {[](auto& s) { s.header.firstSector = ~0ull - 10; }, "beyond what can be addressed"},
      {[&](auto& s) { s.header.firstSector = sectors; }, "past the end of its disk"},
      {[](auto& s) { s.header.sectorsPerCluster = 8; }, "not that of an NTFS volume"},
      // $MFT run entries
      {[](auto& s) { s.tables.mftRuns[13] = 'X'; }, "no run mark"},
      {[](auto& s) { s.tables.mftRuns[14 + 12] = 5; }, "its offset 5 bytes"},
      {[](auto& s) { s.tables.mftRuns = Joined({RunEntry(3, 4, 1, 'S'), RunEntry(189, 0x1FF, 1, 'M')}); },
       "wider than its size"},
      {[](auto& s) { s.tables.mftRuns = Joined({RunEntry(3, 4, 1, 'S'), RunEntry(189, 0x80, 1, 'M')}); },
       "before the volume"},  // 4 - 128
      {[](auto& s) { s.tables.mftRuns = Joined({RunEntry(3, 4, 1, 'S'), RunEntry(189, 0xFF40, 2, 'M')}); },
       "before the volume"},  // 4 - 192
      {[](auto& s) { s.header.hasMftRuns = 2; }, "mark of the $MFT runs is 2"},
      // Advance records
      {[&](auto& s) { advance(s), PutLE32(s.tables.advanceRecords.data() + 2 * 28 + 8, 11); },
       "Advance record 2 does not follow"},
      {[&](auto& s) { advance(s), PutLE64(s.tables.advanceRecords.data() + 28, sectors - 1); },
       "Advance record 1 lies at sector"},
      {[&](auto& s) { advance(s), s.header.advanceFirstRecord = 7; }, "header says 7"},
      {[&](auto& s) { advance(s), s.tables.advanceRecords.resize(2 * 28); }, "for 3 records"},
      // run-list nodes
      {node, "counts 2 runs in 14 bytes"},
      {[&](auto& s) { node(s), s.tables.runListNodes[0].runs.push_back(0); }, "run bytes are 15"},
      {[&](auto& s) { node(s), s.header.runListNodes = 2; }, "counts 2 run lists and holds 1"},
  };
  for (const auto& [change, what] : cases) {
    VolumeScanInfo s = Saved();
    change(s);
    ExpectRefused(s, what);
  }
  ExpectRefused(Saved(), "not open", false);

  // Run bytes that are not the runs x 14 the header counts never get here:
  // the reader refuses them.
  Bytes b = Encoded(saved_);
  PutLE32(b.data() + 47, 27);
  VolumeScanInfo read;
  EXPECT_EQ(ParseVolumeScan(b, read).error, ScanInfoError::BadCount);
}

// ---- a header that names a host drive --------------------------------------

class NtfsScanInfoDrive : public NtfsScanInfoRefusal {
 protected:
  void TearDown() override {
    SetDriveAccess(nullptr);
    SetDriveIdentityReader(nullptr);
  }
};

TEST_F(NtfsScanInfoDrive, AnAbsentDriveIsNamedAndAPresentOneGivesItsNumber) {
  test::TempDir dir;
  auto access = std::make_shared<FakeDriveAccess>();
  auto reader = std::make_shared<FakeDriveIdentityReader>();
  SetDriveAccess(access);
  SetDriveIdentityReader(reader);

  // Byte 953 not an image kind and byte 958 clear: the drive is looked for.
  VolumeScanInfo s = Saved();
  s.header.placeMode = 0;
  s.header.placeFromHeader = 0;
  s.header.diskSizeLow = 4096;
  ExpectRefused(s, kDriveNotFound);
  {
    Restored r(s, disk_);
    EXPECT_EQ(r.result.message, kDriveNotFound);
  }

  // A removable disk of the saved size, as drive 0x82.
  const auto file = dir / "drive";
  std::ofstream(file, std::ios::binary).close();
  std::filesystem::resize_file(file, 4096 * 512);
  access->SetDisk(2, DriveMedia::Removable, file);
  Restored found(s, disk_);
  ASSERT_TRUE(found.result.ok) << found.result.message;
  EXPECT_EQ(found.engine->DiskNumber(), 0x82);
  EXPECT_EQ(ExpectSameData(scan_->Engine(), *found.engine, s.items), 1);

  // Our own files place the volume from the header and ask no drive.
  Restored own(Saved(), disk_);
  ASSERT_TRUE(own.result.ok);
  EXPECT_EQ(own.engine->DiskNumber(), 0xFF);
  EXPECT_EQ(reader->Calls(), 0u);
}

}  // namespace
}  // namespace corvan
