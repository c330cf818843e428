// Saved exFAT scans: what the header and the engine tables keep of a scan,
// and a fresh engine restored from a saved scan read back on the same disk,
// which must read every saved file as the scanning engine did and as it was
// written to the volume.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "console/FoundItemStore.h"
#include "core/FileTypeRecord.h"
#include "core/StringTable.h"
#include "engines/exfat/ExFatImageBuilder.h"
#include "engines/exfat/ExFatTestRig.h"
#include "scan/EngineRegistry.h"
#include "scan/ScanInfoEngines.h"
#include "scan/ScanInfoJobs.h"
#include "sources/DriveIdentity.h"
#include "support/CorpusTruth.h"
#include "support/FileSectorSource.h"
#include "support/Md5.h"

namespace corvan {
namespace {

using exfattest::ExFatImageBuilder;
using exfattest::ExFatRig;
using exfattest::Layout;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kStart = 2048;  // the volume's first sector on its disk

Bytes Pattern(std::size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  Bytes data(size);
  for (auto& b : data) b = static_cast<std::uint8_t>(gen());
  return data;
}

enum class Pass { Quick, Deleted, DeletedLost, Advance, Raw };
const char* NameOf(Pass p) {
  static const char* names[] = {"Quick", "Deleted", "DeletedLost", "Advance", "Raw"};
  return names[static_cast<int>(p)];
}

ExFatScanResult RunPass(ExFatEngine& e, Pass p) {
  switch (p) {
    case Pass::Quick: return e.ScanVolume(0);
    case Pass::Deleted: return e.ScanVolume(1);
    case Pass::DeletedLost: return e.DeepScan(1);
    case Pass::Advance: return e.DeepScan(0);
    case Pass::Raw: return e.RawScan();
  }
  return ExFatScanResult::InvalidVolume;
}

std::string Md5Of(const ExFatEngine& e, const FoundItemInfo& item) {
  test::Md5 md5;
  const WalkResult r = e.ReadFoundItem(item, [&](const DataBlock& b) {
    md5.Update(b.bytes);
    return true;
  });
  EXPECT_TRUE(r.Clean());
  return md5.HexDigest();
}


VolumeScanInfo CopyOfScan(const VolumeScanInfo& v) {
  VolumeScanInfo c;
  c.header = v.header, c.tables = v.tables, c.items = v.items, c.trailer = v.trailer;
  for (const auto& r : v.sources) c.sources.push_back(CopySourceRecord(r));
  c.selected = CopySourceRecord(v.selected);
  return c;
}

// A scan saved as the program saves it (the engine's part, the volume as
// source and selection, every item of the store in order), written to
// memory and read back.
struct Saved {
  VolumeScanInfo written;
  Bytes file;
  VolumeScanInfo read;
};

Saved Save(const ExFatEngine& engine, const FoundItemStore& store, const SourceRecord& selected) {
  Saved s;
  VolumeScanInfo& info = s.written;
  info.header = ScanImageFileHeader::ForVolumeScan();
  CaptureEngineScan(EngineKind::ExFat, engine, info.header, info.tables);
  info.sources.push_back(CopySourceRecord(selected));
  info.header.driveCount = 1;
  info.selected = CopySourceRecord(selected);
  ApplySourceFields(info.header, ScanInfoEngine::ExFat, info.sources, info.selected);
  for (FoundItemHandle h = 0; h < store.Count(); ++h) {
    const StoredItem item = store.Item(h);
    if (IsStoredFoundItem(item.record)) info.items.push_back({item.record, item.name});
  }
  ScanImageRecord trailer;
  trailer.kind = kScanKindVolume;
  trailer.path = u"/saved/exfat.img";
  EXPECT_TRUE(EncodeVolumeScan(info, ItemSourceOf(info.items), trailer, s.file));
  EXPECT_TRUE(ParseVolumeScan(s.file, s.read));
  EXPECT_EQ(EngineOfHeader(s.read.header), ScanInfoEngine::ExFat);
  return s;
}

// A scanned volume: the rig, the store the items went to, the files as written.
struct Scan {
  ExFatRig rig;
  FoundItemStore store;
  ExFatEngine* engine = nullptr;

  void Start(std::shared_ptr<SectorSource> disk, std::uint64_t start, std::uint64_t sectors) {
    rig.disk = std::move(disk);
    engine = &rig.Prepare(start, sectors);
    engine->AttachWindows(&store, &rig.progress);
  }
  // The saved scan restored into a fresh engine on `disk` as the loader does.
  std::unique_ptr<ExFatEngine> Restore(const VolumeScanInfo& s, std::shared_ptr<SectorSource> disk,
                                       ScanRestoreResult& r) {
    auto fresh = std::make_unique<ExFatEngine>(*rig.app);
    r = RestoreEngineScan(EngineKind::ExFat, *fresh, *rig.app, s, MakeVolume(s.selected, std::move(disk), false));
    return fresh;
  }
  std::string PathOf(const FoundItemInfo& record) const {
    for (FoundItemHandle h = 0; h < store.Count(); ++h)
      if (store.Record(h).itemId == record.itemId && store.Record(h).location == record.location)
        return Utf16ToUtf8(store.PathOf(h));
    return {};
  }
};

// Every saved file read through the restored engine as through the scanning
// one (whose work files are gone by then); `md5ByPath` gets what was read.
void ExpectSameData(Scan& scan, const Saved& saved, ExFatEngine& restored, std::map<std::string, std::string>* md5ByPath,
                    std::set<std::string>* md5s = nullptr) {
  std::vector<std::string> before;
  for (const ScanInfoItem& item : saved.read.items)
    before.push_back(item.info.attribute == kItemFile ? Md5Of(*scan.engine, item.info) : "");
  scan.engine->FreeLists();
  for (std::size_t i = 0; i < saved.read.items.size(); ++i) {
    const FoundItemInfo& info = saved.read.items[i].info;
    if (info.attribute != kItemFile) continue;
    const std::string md5 = Md5Of(restored, info);
    EXPECT_EQ(md5, before[i]) << Utf16ToUtf8(saved.read.items[i].name);
    if (md5ByPath) (*md5ByPath)[scan.PathOf(info)] = md5;
    if (md5s) md5s->insert(md5);
  }
}

// What was read of the item at `path`, or below a folder the pass made up
// (Advance finds the root as a lost folder).
std::string Md5At(const std::map<std::string, std::string>& md5, const std::string& path) {
  for (const auto& [p, digest] : md5)
    if (p == path || (p.size() > path.size() && p.ends_with("/" + path))) return digest;
  return "not listed";
}

// ---- volumes ----

struct Expect {
  std::string path;
  Bytes data;
  bool deleted = false;
};

// Files of every layout, a folder with a file, a deleted file.
std::vector<Expect> Fill(ExFatImageBuilder& b, std::vector<std::uint32_t>& fragmented) {
  const std::uint32_t cb = b.ClusterBytes();
  std::vector<Expect> files;
  auto add = [&](std::uint32_t folder, const std::string& prefix, const std::u16string& name, std::size_t size,
                 Layout layout) {
    files.push_back({prefix + Utf16ToUtf8(name), Pattern(size, static_cast<unsigned>(files.size() + 1))});
    return b.AddFile(folder, name, files.back().data, layout);
  };
  add(b.Root(), "", u"contiguous.bin", cb * 2 + cb / 2, Layout::Contiguous);
  fragmented = add(b.Root(), "", u"fragmented.bin", cb * 3 + 100, Layout::Fragmented).clusters;
  add(b.Root(), "", u"chained.dat", cb, Layout::Chained);
  add(b.Root(), "", u"empty.txt", 0, Layout::Contiguous);
  const auto docs = b.AddFolder(b.Root(), u"Docs");
  add(docs.firstCluster, "Docs/", u"inner ★.txt", 700, Layout::Contiguous);
  b.Delete(add(docs.firstCluster, "Docs/", u"removed.bin", cb + 1, Layout::Contiguous));
  files.back().deleted = true;
  return files;
}

// A mkfs.exfat volume of `bytes` bytes, formatted with `cluster`.
std::optional<ExFatImageBuilder> Mkfs(const std::filesystem::path& dir, std::uint64_t bytes, const char* cluster) {
  const std::string mkfs = exfattest::ExFatTool("mkfs.exfat");
  if (mkfs.empty()) return std::nullopt;
  const auto image = dir / "mkfs.img";
  std::ofstream(image, std::ios::binary).close();
  std::filesystem::resize_file(image, bytes);
  const std::string command = mkfs + " -c " + cluster + " " + image.string() + " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return std::nullopt;
  Bytes raw(static_cast<std::size_t>(bytes));
  std::ifstream(image, std::ios::binary).read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(bytes));
  std::filesystem::remove(image);
  return ExFatImageBuilder(std::move(raw));
}

// 32 MiB, 4 KiB clusters, FAT at 128, the heap right behind the FAT: where
// only the boot sector's own ClusterHeapOffset puts it.
ExFatImageBuilder Formatted() { return ExFatImageBuilder::Format(65536, 8, 128, true); }

// The volume at kStart of a disk with room behind it.
std::shared_ptr<SectorSource> DiskOf(const Bytes& volume) {
  Bytes disk(kStart * 512 + volume.size() + 64 * 512, 0xE5);
  std::copy(volume.begin(), volume.end(), disk.begin() + kStart * 512);
  return std::make_shared<MemorySectorSource>(std::move(disk));
}

// ---- the header and the tables ----

TEST(SavedExFatScan, HeaderAndTablesHoldTheScannedLayout) {
  ExFatImageBuilder b = Formatted();
  std::vector<std::uint32_t> fragmented;
  const std::vector<Expect> files = Fill(b, fragmented);
  std::uint64_t fileBytes = 0;
  for (const Expect& f : files) fileBytes += f.data.size();
  Scan scan;
  scan.Start(DiskOf(b.Bytes()), kStart, 65536);
  ASSERT_EQ(RunPass(*scan.engine, Pass::Quick), ExFatScanResult::Completed);
  ScanImageFileHeader h = ScanImageFileHeader::ForVolumeScan();
  ScanEngineTables t;
  CaptureEngineScan(EngineKind::ExFat, *scan.engine, h, t);
  const auto block = h.EncodeBlock();
  const Bytes got(block.begin(), block.end());

  Bytes want(1024, 0);
  auto put = [&](std::size_t at, std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i) want[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  put(0, 1, 1);                  // the form a volume scan starts from
  put(1, kImageDriveNumber, 1);  // the partition record's drive byte
  put(3, b.FatLength(), 4);
  put(7, b.Root(), 4);
  put(17, kFsExFat, 1);
  put(19, 128, 4);
  put(59, 8, 2);
  put(62, 1, 1);
  put(63, kStart, 8);
  put(71, kStart + 65536, 8);
  put(79, 65536, 8);
  put(87, fileBytes, 8);  // Quick lists the deleted file too
  put(95, 1 + 1 + files.size(), 4);  // the root, Docs and the files
  std::memcpy(want.data() + 101, kScanInfoBanner, sizeof kScanInfoBanner);
  std::memcpy(want.data() + 229, kScanInfoSecondBanner, sizeof kScanInfoSecondBanner);
  put(953, kScanPlaceFromHeader, 1);
  put(954, b.ClusterCount(), 4);
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(got[i], want[i]) << "header byte " << i;
  EXPECT_TRUE(CheckResumeHeader(got));

  // The FAT as the volume holds it; Quick builds no cluster map.
  const Bytes& volume = b.Bytes();
  EXPECT_TRUE(t.fat == Bytes(volume.begin() + 128 * 512, volume.begin() + (128 + b.FatLength()) * 512));
  EXPECT_TRUE(t.clusterMap.empty());

  // Advance builds it: one byte per cluster, allocated ones set, in whole sectors.
  ASSERT_EQ(RunPass(*scan.engine, Pass::Advance), ExFatScanResult::Completed);
  CaptureEngineScan(EngineKind::ExFat, *scan.engine, h, t);
  ASSERT_GE(h.clusterMapSize, b.ClusterCount());
  EXPECT_EQ(t.clusterMap.size(), (h.clusterMapSize + 511) / 512 * 512);
  for (std::uint32_t c = 2; c < b.ClusterCount() + 2; ++c) {
    if (b.Allocated(c)) {
      EXPECT_EQ(t.clusterMap[c - 2], 1) << "cluster " << c;
    }
  }
  for (std::size_t i = h.clusterMapSize; i < t.clusterMap.size(); ++i) EXPECT_EQ(t.clusterMap[i], 0);
}

// ---- save, read back, restore ----

class SavedExFatRoundTrip : public ::testing::TestWithParam<Pass> {};

TEST_P(SavedExFatRoundTrip, RestoredEngineReadsEverySavedFileAsWritten) {
  Scan scan;
  auto made = Mkfs(scan.rig.Dir(), 32u << 20, "4K");
  if (!made) GTEST_SKIP() << "mkfs.exfat (exfatprogs) is not installed or cannot make this volume";
  ExFatImageBuilder& b = *made;
  std::vector<std::uint32_t> fragmented;
  std::vector<Expect> files = Fill(b, fragmented);
  // Two files of a type of the user's own in free clusters, for Raw Recovery.
  const std::uint32_t cb = b.ClusterBytes();
  std::map<std::uint32_t, Bytes> carved;
  for (std::uint32_t c = b.ClusterCount() - 20; carved.size() < 2; c += 6) {
    ASSERT_FALSE(b.Allocated(c) || b.Allocated(c + 1) || b.Allocated(c + 2));
    Bytes data = Pattern(3 * cb, c);
    std::memcpy(data.data(), "CORVANRW", 8);
    b.WriteData({c, c + 1, c + 2}, data);
    carved[c] = data;
  }
  FileTypeRecord type;
  type.typeId = 300, type.extension = u"crw", type.maxSize = 3 * cb, type.headerLength = 8;
  std::memcpy(type.header.data(), "CORVANRW", 8);
  scan.rig.app->m_selectedTypeList = {type};

  const std::uint64_t sectors = b.Bytes().size() / 512;
  const auto disk = DiskOf(b.Bytes());
  scan.Start(disk, kStart, sectors);
  ASSERT_EQ(RunPass(*scan.engine, GetParam()), ExFatScanResult::Completed);
  const Saved saved = Save(*scan.engine, scan.store, scan.rig.source);
  EXPECT_EQ(saved.read.items, saved.written.items) << "the same records";
  ASSERT_GT(saved.read.items.size(), 1u);

  ScanRestoreResult r;
  auto restored = scan.Restore(saved.read, disk, r);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(restored->GetDataAreaStart(), b.HeapStart());
  EXPECT_EQ(restored->ClusterBytes(), cb);
  // The FAT copy came back from the tables: fragmented chains still followed.
  EXPECT_EQ(restored->FollowFatChain(fragmented[0]), fragmented);
  for (std::uint32_t c = 2; c < b.ClusterCount() + 2 && restored->MapEntries(); ++c) {
    std::uint8_t byte = 0;
    if (b.Allocated(c)) {
      EXPECT_TRUE(restored->ClusterMapByte(c, byte) && byte == 1) << "cluster " << c;
    }
  }
  // Saved again, a restored engine keeps the same tables.
  ScanImageFileHeader again = ScanImageFileHeader::ForVolumeScan();
  ScanEngineTables tablesAgain;
  CaptureEngineScan(EngineKind::ExFat, *restored, again, tablesAgain);
  EXPECT_EQ(tablesAgain, saved.written.tables);

  std::map<std::string, std::string> md5;
  ExpectSameData(scan, saved, *restored, &md5);
  const bool raw = GetParam() == Pass::Raw;
  const bool deletedPass = GetParam() == Pass::Deleted || GetParam() == Pass::DeletedLost;
  for (const Expect& f : files) {
    if (raw || f.deleted != deletedPass) continue;
    EXPECT_EQ(Md5At(md5, f.path), test::Md5Hex(f.data)) << f.path;
  }
  if (raw) {
    for (const auto& [cluster, data] : carved) {
      const std::string path = "crw/" + std::to_string(cluster) + ".crw";
      EXPECT_EQ(Md5At(md5, path), test::Md5Hex(data)) << path;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Passes, SavedExFatRoundTrip,
                         ::testing::Values(Pass::Quick, Pass::Deleted, Pass::DeletedLost, Pass::Advance, Pass::Raw),
                         [](const auto& info) { return std::string(NameOf(info.param)); });

TEST(SavedExFatScan, CorpusVolumeRestoresEveryFileOfItsTruth) {
  const auto image = test::CorpusDir() / "exfat.img";
  ASSERT_TRUE(std::filesystem::exists(image)) << image;
  const auto truth = test::ReadTruth(test::CorpusDir() / "exfat.truth.tsv");
  for (Pass pass : {Pass::Quick, Pass::Deleted, Pass::Advance}) {
    SCOPED_TRACE(NameOf(pass));
    Scan scan;
    auto disk = std::make_shared<test::FileSectorSource>(image);
    scan.Start(disk, 0, disk->SectorCount());
    ASSERT_EQ(RunPass(*scan.engine, pass), ExFatScanResult::Completed);
    const Saved saved = Save(*scan.engine, scan.store, scan.rig.source);
    ScanRestoreResult r;
    auto restored = scan.Restore(saved.read, disk, r);
    ASSERT_TRUE(r.ok) << r.message;
    std::set<std::string> md5s;
    ExpectSameData(scan, saved, *restored, nullptr, &md5s);
    // Deleted files of this volume were never overwritten: their truth holds too.
    for (const test::TruthRow& row : truth) {
      if (row.type == "file" && (row.state == "deleted") == (pass == Pass::Deleted)) {
        EXPECT_TRUE(md5s.count(row.md5)) << row.path;
      }
    }
  }
}

TEST(SavedExFatScan, ThirtyTwoMiBClustersKeepTheirLayout) {
  Scan scan;
  // 352 MiB: nine clusters of 32 MiB behind a FAT of one cluster (the
  // smallest such volume whose FAT is under a tenth of it); the bitmap, the
  // up-case table and the root take the first three.
  auto made = Mkfs(scan.rig.Dir(), 352u << 20, "32M");
  if (!made) GTEST_SKIP() << "mkfs.exfat (exfatprogs) is not installed or cannot make this volume";
  ExFatImageBuilder& b = *made;
  ASSERT_EQ(b.SectorsPerCluster(), 65536u);
  const Bytes big = Pattern((32u << 20) + 1000, 7), small = Pattern(5000, 8);
  const std::vector<std::uint32_t> chain = b.AddFile(b.Root(), u"big.bin", big, Layout::Fragmented).clusters;
  ASSERT_EQ(chain.size(), 2u);
  ASSERT_NE(chain[1], chain[0] + 1);
  b.AddFile(b.Root(), u"small.txt", small);
  const std::uint64_t heap = b.HeapStart(), sectors = b.Bytes().size() / 512;
  auto disk = std::make_shared<MemorySectorSource>(std::move(b.Bytes()));
  scan.Start(disk, 0, sectors);
  ASSERT_EQ(RunPass(*scan.engine, Pass::Quick), ExFatScanResult::Completed);
  const Saved saved = Save(*scan.engine, scan.store, scan.rig.source);
  // 65536 does not fit the u16: the field holds a value no scan uses, and
  // the file is still taken for a resume.
  EXPECT_EQ(saved.file[59] | saved.file[60] << 8, 0xFFFF);
  EXPECT_EQ(saved.file[16], 0);
  EXPECT_TRUE(CheckResumeHeader(saved.file));

  ScanRestoreResult r;
  auto restored = scan.Restore(saved.read, disk, r);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(restored->SectorsPerCluster(), 65536u);
  EXPECT_EQ(restored->GetDataAreaStart(), heap);
  EXPECT_EQ(restored->FollowFatChain(chain[0]), chain);
  std::map<std::string, std::string> md5;
  ExpectSameData(scan, saved, *restored, &md5);
  EXPECT_EQ(Md5At(md5, "big.bin"), test::Md5Hex(big));
  EXPECT_EQ(Md5At(md5, "small.txt"), test::Md5Hex(small));
}

TEST(SavedExFatScan, WithoutWorkFilesTheVolumesFatIsSavedAndNoMap) {
  ExFatImageBuilder b = Formatted();
  std::vector<std::uint32_t> fragmented;
  const std::vector<Expect> files = Fill(b, fragmented);
  Scan scan;
  const auto disk = DiskOf(b.Bytes());
  scan.Start(disk, kStart, 65536);
  ASSERT_EQ(RunPass(*scan.engine, Pass::Advance), ExFatScanResult::Completed);
  ASSERT_NE(scan.engine->MapEntries(), 0u);
  scan.engine->FreeLists();  // closes and deletes the work files; layout and counters stay
  const Saved saved = Save(*scan.engine, scan.store, scan.rig.source);
  const Bytes& volume = b.Bytes();
  EXPECT_TRUE(saved.read.tables.fat == Bytes(volume.begin() + 128 * 512, volume.begin() + (128 + b.FatLength()) * 512));
  // A map of zeros would call every cluster free: none is announced.
  EXPECT_EQ(saved.read.header.clusterMapSize, 0u);
  EXPECT_TRUE(saved.read.tables.clusterMap.empty());
  ScanRestoreResult r;
  auto restored = scan.Restore(saved.read, disk, r);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_EQ(restored->FollowFatChain(fragmented[0]), fragmented);
  int seen = 0;
  for (const ScanInfoItem& item : saved.read.items) {
    if (item.name != u"fragmented.bin") continue;
    ++seen;
    EXPECT_EQ(Md5Of(*restored, item.info), test::Md5Hex(files[1].data));
  }
  EXPECT_EQ(seen, 1);
}

TEST(SavedExFatScan, VolumeWithoutAUsableFatIsSavedWithoutOne) {
  ExFatImageBuilder b = Formatted();
  const Bytes data = Pattern(3 * 4096 + 9, 1);
  b.AddFile(b.Root(), u"one.bin", data);  // one run
  b.Fat(0, 0);  // no media entry: the engine reads every file as one run
  Scan scan;
  const auto disk = DiskOf(b.Bytes());
  scan.Start(disk, kStart, 65536);
  ASSERT_EQ(RunPass(*scan.engine, Pass::Quick), ExFatScanResult::Completed);
  const Saved saved = Save(*scan.engine, scan.store, scan.rig.source);
  EXPECT_EQ(saved.read.header.fatSource, kExFatSourceContiguous);
  EXPECT_TRUE(saved.read.tables.fat.empty());
  // No FAT table: the source records follow the header block directly.
  std::size_t itemBytes = 0;
  for (const ScanInfoItem& item : saved.written.items) itemBytes += 1 + 73 + 2 * item.name.size();
  EXPECT_EQ(saved.file.size(), 1024 + 2 * (532 + 407) + itemBytes + 1024);
  ScanRestoreResult r;
  auto restored = scan.Restore(saved.read, disk, r);
  ASSERT_TRUE(r.ok) << r.message;
  EXPECT_FALSE(restored->HasFatCopy());
  std::map<std::string, std::string> md5;
  ExpectSameData(scan, saved, *restored, &md5);
  EXPECT_EQ(Md5At(md5, "one.bin"), test::Md5Hex(data));
}

// ---- what a restore refuses ----

TEST(SavedExFatRestore, RefusesAVolumeItCannotFindAsSaved) {
  ExFatImageBuilder b = Formatted();
  std::vector<std::uint32_t> fragmented;
  Fill(b, fragmented);
  Scan scan;
  scan.Start(DiskOf(b.Bytes()), kStart, 65536);
  ASSERT_EQ(RunPass(*scan.engine, Pass::Quick), ExFatScanResult::Completed);
  const Saved saved = Save(*scan.engine, scan.store, scan.rig.source);
  const std::string notFound = LoadString(285);
  ScanRestoreResult r;

  // A header that names a drive this machine does not have; one that places
  // its volume itself asks no drive who it is.
  auto reader = std::make_shared<FakeDriveIdentityReader>();
  SetDriveIdentityReader(reader);
  struct PutBack {
    ~PutBack() { SetDriveIdentityReader(nullptr); }
  } putBack;
  VolumeScanInfo named = CopyOfScan(saved.read);
  named.header.placeMode = 0;
  named.header.placeFromHeader = 0;
  named.header.diskIdentity = "NO SUCH DRIVE MODEL";
  named.header.diskSizeLow = 0x7FFFFFF1;
  scan.Restore(named, DiskOf(b.Bytes()), r);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, notFound);
  const unsigned asked = reader->Calls();
  scan.Restore(saved.read, DiskOf(b.Bytes()), r);
  EXPECT_TRUE(r.ok) << r.message;
  EXPECT_EQ(reader->Calls(), asked);

  // Another volume where the scanned one was: its files would be read from
  // whatever lies there now.
  ExFatImageBuilder other = ExFatImageBuilder::Format(65536, 16, 128);
  scan.Restore(saved.read, DiskOf(other.Bytes()), r);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.message, notFound);
  scan.Restore(saved.read, DiskOf(Bytes(65536 * 512, 0)), r);
  EXPECT_FALSE(r.ok);

  // The main boot sector gone since the scan: its backup still places it.
  Bytes damaged = b.Bytes();
  std::fill_n(damaged.begin(), 512, 0);
  auto restored = scan.Restore(saved.read, DiskOf(damaged), r);
  EXPECT_TRUE(r.ok) << r.message;
  EXPECT_EQ(restored->GetDataAreaStart(), b.HeapStart());

  // Tables shorter than the header announces.
  VolumeScanInfo cut = CopyOfScan(saved.read);
  cut.tables.fat.resize(cut.tables.fat.size() - 512);
  scan.Restore(cut, DiskOf(b.Bytes()), r);
  EXPECT_FALSE(r.ok);
  cut = CopyOfScan(saved.read);
  cut.header.clusterMapSize = 4096;
  scan.Restore(cut, DiskOf(b.Bytes()), r);
  EXPECT_FALSE(r.ok);
}

}  // namespace
}  // namespace corvan
