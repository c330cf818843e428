// Saved scans: the header's fields at their offsets, the blocks of both
// forms in their order, and readers that refuse whatever does not add up.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "scan/ScanInfoFile.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// Expected bytes, set by offset and width.
struct Golden {
  Bytes b;
  explicit Golden(std::size_t n) : b(n, 0) {}
  Golden& Le(std::size_t at, std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    return *this;
  }
  Golden& Text(std::size_t at, std::string_view s) {
    std::memcpy(b.data() + at, s.data(), s.size());
    return *this;
  }
  Golden& Wide(std::size_t at, std::u16string_view s) {
    for (std::size_t i = 0; i < s.size(); ++i) Le(at + 2 * i, s[i], 2);
    return *this;
  }
};

std::uint64_t Le(const Bytes& b, std::size_t at, int width) {
  std::uint64_t v = 0;
  for (int i = 0; i < width; ++i) v |= std::uint64_t{b[at + i]} << (8 * i);
  return v;
}

Golden Banners() {
  return std::move(Golden(1024).Text(101, "CORVAN scan information").Text(229, "CORVAN saved scan, version 1"));
}

Bytes EncodeHeader(const ScanImageFileHeader& h) {
  const auto block = h.EncodeBlock();
  return Bytes(block.begin(), block.end());
}

void ExpectHeader(const ScanImageFileHeader& h, const Golden& g) {
  EXPECT_EQ(EncodeHeader(h), g.b);
  EXPECT_EQ(ScanImageFileHeader::Decode(std::span<const std::uint8_t>(g.b).first<973>()), h);
}

TEST(ScanInfoHeader, FatFieldsAtTheirOffsets) {
  auto h = ScanImageFileHeader::ForVolumeScan();
  h.form = 2, h.driveByte = 0x80, h.engineByte = 0x5A, h.fatSize = 0x0102, h.rootCluster = 2;
  h.clusterMapSize = 0x12345, h.sectorsPerCluster = 8, h.fatKind = 2, h.fatSource = 1, h.reservedSectors = 32;
  h.rootDirSectors = 0x20, h.firstSector = 0x800, h.endSector = 0x1007FF, h.sectorCount = 0x100000;
  h.totalBytes = 0x123456789A, h.postedItems = 77, h.driveCount = 3, h.sectorFlag = 1;
  h.imagePath = u"/img/disk.vmdk", h.diskSizeLow = 0x200000, h.placeFromHeader = 1, h.imageType = 1;
  h.diskIdentity = "ID-ONE", h.diskIdentity2 = "ID-TWO", h.diskIdentity3 = "ID3";
  Golden g = Banners();
  g.Le(0, 2, 1).Le(1, 0x80, 1).Le(2, 0x5A, 1).Le(3, 0x0102, 4).Le(7, 2, 4).Le(11, 0x12345, 4).Le(16, 8, 1);
  g.Le(17, 2, 1).Le(18, 1, 1).Le(19, 32, 4).Le(23, 0x20, 4).Le(62, 1, 1).Le(63, 0x800, 8).Le(71, 0x1007FF, 8);
  g.Le(79, 0x100000, 8).Le(87, 0x123456789A, 8).Le(95, 77, 4).Le(99, 3, 2).Le(357, 1, 1);
  g.Wide(358, u"/img/disk.vmdk").Text(878, "ID-ONE").Text(919, "ID-TWO").Text(940, "ID3");
  g.Le(949, 0x200000, 4).Le(953, 7, 1).Le(958, 1, 1).Le(963, 1, 1);
  ExpectHeader(h, g);
  EXPECT_EQ(EngineOfHeader(h), ScanInfoEngine::Fat);
}

TEST(ScanInfoHeader, NtfsFieldsAtTheirOffsets) {
  auto h = ScanImageFileHeader::ForVolumeScan();
  h.driveByte = 0x80, h.fatKind = 7, h.mftSector = 0x0000000C00000010, h.mftMirrorSector = 0x7FFFF0;
  h.mftRunCount = 3, h.mftRunBytes = 42, h.advanceCount = 0x0A0B0C0D, h.advanceFirstRecord = 0x10;
  h.clusterSectors = 0x0108, h.hasMftRuns = 1, h.firstSector = 63, h.endSector = 0xFFFFFFFFFF;
  h.sectorCount = 0x100000000 - 63, h.runListNodes = 0x01020304, h.imageType = 3, h.driveCount = 0x0201;
  Golden g = Banners();
  g.Le(0, 1, 1).Le(1, 0x80, 1).Le(17, 7, 1).Le(27, 0x0000000C00000010, 8).Le(35, 0x7FFFF0, 8).Le(43, 3, 4);
  g.Le(47, 42, 4).Le(51, 0x0A0B0C0D, 4).Le(55, 0x10, 4).Le(59, 0x0108, 2).Le(61, 1, 1).Le(62, 1, 1);
  g.Le(63, 63, 8).Le(71, 0xFFFFFFFFFF, 8).Le(79, h.sectorCount, 8).Le(99, 0x0201, 2).Le(953, 7, 1);
  g.Le(959, 0x01020304, 4).Le(963, 3, 1);
  ExpectHeader(h, g);
  EXPECT_EQ(EngineOfHeader(h), ScanInfoEngine::Ntfs);
}

TEST(ScanInfoHeader, ExFatFieldsAtTheirOffsets) {
  auto h = ScanImageFileHeader::ForVolumeScan();
  h.driveByte = 0x11, h.engineByte = 0x22, h.fatKind = 0x33, h.fatSize = 64, h.rootCluster = 5;
  h.clusterMapSize = 1000, h.fatSource = 2, h.reservedSectors = 2048, h.clusterSectors = 64;
  h.sectorCount = 0x40000, h.sectorFlag = 1, h.clusterCount = 0xABCDE, h.imageType = 2;
  Golden g = Banners();
  g.Le(0, 1, 1).Le(1, 0x11, 1).Le(2, 0x22, 1).Le(3, 64, 4).Le(7, 5, 4).Le(11, 1000, 4).Le(17, 0x33, 1);
  g.Le(18, 2, 1).Le(19, 2048, 4).Le(59, 64, 2).Le(62, 1, 1).Le(79, 0x40000, 8).Le(357, 1, 1);
  g.Le(953, 7, 1).Le(954, 0xABCDE, 4).Le(963, 2, 1);
  ExpectHeader(h, g);
  EXPECT_EQ(EngineOfHeader(h), ScanInfoEngine::ExFat);
}

TEST(ScanInfoHeader, EngineRuleAndAcceptance) {
  ScanImageFileHeader h;
  h.sectorsPerCluster = 4, h.mftSector = 9;
  EXPECT_EQ(EngineOfHeader(h), ScanInfoEngine::Fat) << "byte 16 decides first";
  h = {}, h.fatKind = 7;
  EXPECT_EQ(EngineOfHeader(h), ScanInfoEngine::Ntfs);
  h = {}, h.advanceCount = 1;
  EXPECT_EQ(EngineOfHeader(h), ScanInfoEngine::Ntfs) << "Advance records without an $MFT";
  h = {}, h.fatKind = 2;
  EXPECT_EQ(EngineOfHeader(h), ScanInfoEngine::ExFat);

  Golden g = Banners();
  EXPECT_TRUE(CheckDriveScanHeader(g.b));
  EXPECT_FALSE(CheckResumeHeader(g.b)) << "banners right, both cluster sizes zero";
  EXPECT_TRUE(CheckResumeHeader(Golden(g).Le(16, 1, 1).b));
  EXPECT_TRUE(CheckResumeHeader(Golden(g).Le(60, 1, 1).b)) << "the high byte of the u16 at 59";
  EXPECT_FALSE(CheckDriveScanHeader(Golden(g).Text(101, "corvan").b));
  EXPECT_FALSE(CheckDriveScanHeader(Golden(g).Text(229 + 28, "2").b)) << "the NUL is compared too";
  EXPECT_FALSE(CheckDriveScanHeader(std::span(g.b).first(356)));
}

TEST(ScanInfoHeader, DriveSizeAndPlaceFromTheSourceList) {
  std::vector<SourceRecord> sources(2);
  for (auto& [r, kind, drive] : {std::tuple{&sources[0], 4, 0x81}, std::tuple{&sources[1], 0, 0x80}}) {
    r->kind = static_cast<std::uint8_t>(kind), r->disk = std::make_unique<DiskRecord>();
    r->disk->driveNumber = static_cast<std::uint8_t>(drive), r->disk->sectorCount = 0x1'2345'6789;
  }
  SourceRecord sel;
  sel.kind = 1, sel.partition = std::make_unique<PartitionRecord>();
  sel.partition->reserved = 3, sel.partition->diskNumber = 3, sel.partition->sectorCount = 500;
  ScanImageFileHeader h;
  const auto apply = [&](std::uint8_t drive, ScanInfoEngine e) {
    h.driveByte = drive;
    ApplySourceFields(h, e, sources, sel);
    return std::pair{h.diskSizeLow, h.placeFromHeader};
  };
  EXPECT_EQ(apply(0x81, ScanInfoEngine::Fat), std::pair(0x23456789u, std::uint8_t{1}));
  EXPECT_EQ(apply(0x80, ScanInfoEngine::Ntfs), std::pair(0u, std::uint8_t{1})) << "kind 0 never matches";
  EXPECT_EQ(apply(0x80, ScanInfoEngine::ExFat), std::pair(500u, std::uint8_t{1})) << "exFAT's fallback";
  sel.partition->diskNumber = 0xFF;
  EXPECT_EQ(apply(0x80, ScanInfoEngine::ExFat), std::pair(0u, std::uint8_t{0}));
  sel.kind = 11;
  EXPECT_EQ(apply(0x80, ScanInfoEngine::Fat).second, 1);
}

// ---- whole files -----------------------------------------------------------

SourceRecord Source(std::uint8_t kind, std::vector<std::uint32_t> clusters = {}) {
  SourceRecord r;
  r.kind = kind, r.index = kind, r.path = u"/img/x.vmdk";
  if (ScanInfoStoresDiskRecord(kind)) {
    r.disk = std::make_unique<DiskRecord>();
    r.disk->driveNumber = 0x80, r.disk->sectorCount = 1000 + kind;
  } else {
    r.partition = std::make_unique<PartitionRecord>();
    r.partition->startSector = 63 + kind, r.partition->name = u"Vol";
    r.partition->clusterArray = clusters;
    r.partition->clusterArrayCount = static_cast<std::uint32_t>(clusters.size());
  }
  return r;
}

ScanInfoItem Item(std::uint8_t attribute, std::u16string name, std::uint8_t byte67 = 0) {
  ScanInfoItem i;
  i.info.attribute = attribute, i.info.itemId = static_cast<std::uint32_t>(name.size()) + 100;
  i.info.size = 4096, i.info.extra[4] = byte67;
  i.name = std::move(name);
  return i;
}

ScanImageRecord Trailer(std::uint8_t kind = kScanKindVolume) { return {u"05-Mar-2024", u"/saved/scan.img", kind, 0}; }

VolumeScanInfo FatScan() {
  VolumeScanInfo v;
  auto& h = v.header = ScanImageFileHeader::ForVolumeScan();
  h.sectorsPerCluster = 4, h.fatSize = 1, h.clusterMapSize = 5, h.driveCount = 4;
  v.tables.fat.assign(512, 0xFA);
  v.tables.clusterMap = {1, 2, 3, 4, 5};
  v.sources.push_back(Source(0));
  v.sources.push_back(Source(1));
  v.sources.push_back(Source(3, {7, 0x01020304, 11}));
  v.sources.push_back(Source(6));
  v.selected = Source(1);
  v.items = {Item(kItemFolder, u""), Item(kItemFile, u"a.txt"), Item(kItemFolder, u"sub", 0xF0)};
  return v;
}

Bytes Encode(const VolumeScanInfo& v, const ScanImageRecord& t = Trailer()) {
  Bytes out;
  EXPECT_TRUE(EncodeVolumeScan(v, ItemSourceOf(v.items), t, out));
  return out;
}

TEST(VolumeScanFile, BlocksInTheirOrderAndWidths) {
  VolumeScanInfo v = FatScan();
  v.items.push_back(Item(kItemFolder, u"skipped", 0x01));  // low bits of byte 67 set
  v.items.push_back(Item(kItemFolder, u"skipped", 0x08));
  v.items.push_back(Item(0, u"nothing"));
  const Bytes b = Encode(v);
  std::size_t at = 1024;
  EXPECT_EQ(b[at], 0xFA);
  at += 512;  // FAT table
  EXPECT_EQ(Bytes(b.begin() + at, b.begin() + at + 5), (Bytes{1, 2, 3, 4, 5}));
  at += 5;
  EXPECT_EQ(b[at + 7], 0) << "disk";
  EXPECT_EQ(b[at + 532], 0x80) << "DiskRecord byte 0";
  EXPECT_EQ(Le(b, at + 533, 8), 1000u);
  at += 532 + 287;
  EXPECT_EQ(b[at + 7], 1);
  at += 532 + 407;
  EXPECT_EQ(b[at + 7], 3);
  EXPECT_EQ(Le(b, at + 532 + 321, 4), 3u) << "cluster count";
  at += 532 + 407;
  EXPECT_EQ(Le(b, at, 4), 7u);
  EXPECT_EQ(Le(b, at + 4, 4), 0x01020304u);
  at += 12;
  EXPECT_EQ(b[at + 7], 6);
  EXPECT_EQ(Le(b, at + 533, 8), 1006u) << "kind 6 stores a DiskRecord";
  at += 532 + 287;
  EXPECT_EQ(b[at + 7], 1) << "selected";
  EXPECT_EQ(Le(b, at + 532 + 277, 8), 64u);
  at += 532 + 407;
  EXPECT_EQ(b[at], 0) << "root: empty name";
  EXPECT_EQ(b[at + 1 + 44], kItemFolder);
  at += 74;
  EXPECT_EQ(b[at], 5);
  EXPECT_EQ(b[at + 1 + 44], kItemFile);
  EXPECT_EQ(Le(b, at + 74, 2), u'a');
  EXPECT_EQ(Le(b, at + 74 + 8, 2), u't');
  at += 74 + 10;
  EXPECT_EQ(b[at], 3) << "a folder with high bits of byte 67 is stored";
  at += 74 + 6;
  ASSERT_EQ(b.size(), at + 1024) << "the excluded items are left out";
  EXPECT_EQ(Le(b, at, 2), u'0');
  EXPECT_EQ(Le(b, at + 64, 2), u'/') << "the trailer's path is plain";
  EXPECT_EQ(b[at + 584], 13);
  EXPECT_TRUE(std::all_of(b.begin() + at + 589, b.end(), [](auto c) { return c == 0; }));

  VolumeScanInfo r;
  ASSERT_TRUE(ParseVolumeScan(b, r));
  EXPECT_EQ(r.header, v.header);
  EXPECT_EQ(r.tables, v.tables);
  ASSERT_EQ(r.sources.size(), 4u);
  EXPECT_EQ(r.sources[2].partition->clusterArray, (std::vector<std::uint32_t>{7, 0x01020304, 11}));
  EXPECT_EQ(r.sources[3].disk->sectorCount, 1006u);
  EXPECT_EQ(r.selected.partition->startSector, 64u);
  EXPECT_EQ(r.items, std::vector<ScanInfoItem>(v.items.begin(), v.items.begin() + 3));
  EXPECT_EQ(r.trailer, Trailer());
}

TEST(VolumeScanFile, EngineTableEdgeCases) {
  {  // Contiguous FAT: the cluster map follows the header.
    VolumeScanInfo v = FatScan();
    v.header.fatSource = 2, v.header.fatSize = 99;
    const Bytes b = Encode(v);
    EXPECT_EQ(Bytes(b.begin() + 1024, b.begin() + 1029), (Bytes{1, 2, 3, 4, 5}));
    VolumeScanInfo r;
    ASSERT_TRUE(ParseVolumeScan(b, r));
    EXPECT_TRUE(r.tables.fat.empty());
  }
  {  // NTFS: the Advance records stand in for the $MFT runs; run lists follow;
     // the root alone ends at the trailer.
    VolumeScanInfo v;
    auto& h = v.header = ScanImageFileHeader::ForVolumeScan();
    h.fatKind = 7, h.clusterSectors = 8, h.advanceCount = 2, h.hasMftRuns = 1, h.mftRunCount = 1, h.mftRunBytes = 14;
    h.runListNodes = 2;
    v.tables.advanceRecords.assign(56, 0xAD);
    v.tables.mftRuns.assign(14, 0x33);
    v.tables.runListNodes.resize(2);
    v.tables.runListNodes[0].image.fill(0x44);  // pointer slots included
    v.tables.runListNodes[0].runs = {9, 8, 7, 6, 5};
    v.items = {Item(kItemFolder, u"")};
    const Bytes b = Encode(v);
    EXPECT_EQ(b[1024 + 55], 0xAD);
    const std::size_t node = 1024 + 56;
    EXPECT_EQ(Le(b, node, 4) + Le(b, node + 30, 4), 0u) << "pointer slots";
    EXPECT_EQ(Le(b, node + 20, 4), 5u);
    EXPECT_EQ(b[node + 47], 9);
    EXPECT_EQ(Le(b, node + 52 + 20, 4), 0u);
    EXPECT_EQ(b.size(), node + 52 + 47 + 532 + 74 + 1024);
    VolumeScanInfo r;
    ASSERT_TRUE(ParseVolumeScan(b, r));
    EXPECT_TRUE(r.tables.mftRuns.empty());
    EXPECT_EQ(r.tables.advanceRecords, v.tables.advanceRecords);
    EXPECT_EQ(r.tables.runListNodes[0].runs, v.tables.runListNodes[0].runs);
    EXPECT_EQ(r.tables.runListNodes[0].image[29] + r.tables.runListNodes[0].image[0], 0x44);
    // Without Advance records the runs are stored.
    h.advanceCount = 0, h.runListNodes = 0, v.tables.runListNodes.clear();
    const Bytes c = Encode(v);
    EXPECT_EQ(c.size(), 1024 + 14 + 532 + 74 + 1024u);
    EXPECT_EQ(c[1024], 0x33);
  }
  {  // exFAT: the cluster map in whole sectors, the rest zero.
    VolumeScanInfo v;
    auto& h = v.header = ScanImageFileHeader::ForVolumeScan();
    h.clusterSectors = 8, h.fatSize = 1, h.clusterMapSize = 700;
    v.tables.clusterMap.assign(700, 0xCC);
    v.items = {Item(kItemFolder, u"")};
    const Bytes b = Encode(v);
    EXPECT_EQ(b.size(), 1024 + 512 + 1024 + 532 + 74 + 1024u) << "empty FAT copy written as zeros";
    EXPECT_EQ(b[1024], 0);
    EXPECT_EQ(b[1536 + 699], 0xCC);
    EXPECT_EQ(b[1536 + 700], 0);
  }
}

// A run-list node that announces no run bytes reads as a node without runs,
// from a file as from memory, and the blocks after it where they are: an
// empty block copies nothing (the sanitised build stops on a copy to or
// from nowhere).
TEST(VolumeScanFile, EmptyRunListNodesReadFromAFileAsFromMemory) {
  VolumeScanInfo v;
  auto& h = v.header = ScanImageFileHeader::ForVolumeScan();
  h.fatKind = 7, h.clusterSectors = 8, h.runListNodes = 3, h.driveCount = 1;
  v.tables.runListNodes.resize(3);
  v.tables.runListNodes[1].runs = {0x21, 0x04, 0x10, 0x00};
  v.sources.push_back(Source(3, {5, 6}));
  v.selected = Source(1);
  v.items = {Item(kItemFolder, u""), Item(kItemFile, u"after.txt")};
  const Bytes b = Encode(v);
  test::TempDir dir;
  test::WriteWholeFile(dir / "scan.img", std::string(b.begin(), b.end()));
  VolumeScanInfo fromFile, fromMemory;
  const ScanInfoStatus s = ReadVolumeScanFile(dir / "scan.img", fromFile);
  ASSERT_TRUE(s) << s.detail;
  ASSERT_TRUE(ParseVolumeScan(b, fromMemory));
  for (const VolumeScanInfo* r : {&fromFile, &fromMemory}) {
    ASSERT_EQ(r->tables.runListNodes.size(), 3u);
    EXPECT_TRUE(r->tables.runListNodes[0].runs.empty());
    EXPECT_EQ(r->tables.runListNodes[1].runs, v.tables.runListNodes[1].runs);
    EXPECT_TRUE(r->tables.runListNodes[2].runs.empty());
    EXPECT_EQ(r->sources[0].partition->clusterArray, (std::vector<std::uint32_t>{5, 6}));
    EXPECT_EQ(r->items, v.items);
  }
}

// Cut anywhere before the end of the items and given its trailer back, a
// file reads only when the cut falls between two items.
TEST(VolumeScanFile, RefusesTruncationAtEveryPoint) {
  const Bytes b = Encode(FatScan());
  const std::size_t trailer = b.size() - 1024;
  const std::size_t items = trailer - (74 + 84 + 80);
  for (std::size_t cut = 0; cut < trailer; ++cut) {
    Bytes t(b.begin(), b.begin() + cut);
    t.insert(t.end(), b.begin() + trailer, b.end());
    VolumeScanInfo r;
    const bool between = cut == items || cut == items + 74 || cut == items + 74 + 84;
    EXPECT_EQ(bool(ParseVolumeScan(t, r)), between) << cut;
  }
  for (std::size_t cut = 0; cut < b.size(); cut += 7) {
    VolumeScanInfo r;
    EXPECT_FALSE(ParseVolumeScan(std::span(b).first(cut), r)) << cut;
  }
}

// A file is its 1024-byte header block, what the header announces, and its
// 1024-byte trailer. The header block alone, even one whose byte at the
// trailer's kind offset names the form asked for, holds no trailer: it is
// refused for its size, before anything the header announces is looked for.
TEST(VolumeScanFile, AHeaderBlockWithNothingAfterItIsTooShort) {
  std::vector<SourceRecord> list;
  list.push_back(Source(0));
  list.push_back(Source(3, {7}));
  Bytes drives;
  ASSERT_TRUE(EncodeDriveScan(list, Trailer(kScanKindDrives), drives));
  const struct {
    Bytes file;
    std::uint8_t kind;
  } forms[] = {{Encode(FatScan()), kScanKindVolume}, {drives, kScanKindDrives}};
  test::TempDir dir;
  for (const auto& form : forms) {
    SCOPED_TRACE(static_cast<int>(form.kind));
    ASSERT_GE(form.file.size(), 2048u);
    Bytes header(form.file.begin(), form.file.begin() + 1024);
    header[584] = form.kind;
    const fs::path path = dir.path() / "header-only.img";
    for (const std::size_t size : {std::size_t{1024}, std::size_t{2047}}) {
      Bytes cut = header;
      cut.insert(cut.end(), form.file.end() - 1024, form.file.end() - 1024 + static_cast<std::ptrdiff_t>(size - 1024));
      ASSERT_EQ(cut.size(), size);
      test::WriteWholeFile(path, std::string(cut.begin(), cut.end()));
      VolumeScanInfo v;
      DriveScanInfo d;
      const ScanInfoStatus parsed = form.kind == kScanKindVolume ? ParseVolumeScan(cut, v) : ParseDriveScan(cut, d);
      const ScanInfoStatus read =
          form.kind == kScanKindVolume ? ReadVolumeScanFile(path, v) : ReadDriveScanFile(path, d);
      EXPECT_EQ(parsed.error, ScanInfoError::TooShort) << size << ": " << parsed.detail;
      EXPECT_EQ(read.error, ScanInfoError::TooShort) << size << ": " << read.detail;
    }
  }
}

TEST(VolumeScanFile, RefusesCountsBeyondTheFile) {
  const Bytes fat = Encode(FatScan());
  VolumeScanInfo ntfs;
  ntfs.header = ScanImageFileHeader::ForVolumeScan();
  ntfs.header.fatKind = 7, ntfs.header.clusterSectors = 8, ntfs.header.runListNodes = 1;
  ntfs.tables.runListNodes.resize(1);
  ntfs.sources.push_back(Source(3, {1, 2}));
  ntfs.header.driveCount = 1;
  ntfs.items = {Item(kItemFolder, u"")};
  const Bytes nt = Encode(ntfs);
  const auto refused = [](Bytes b, std::size_t at, std::uint64_t v, int width, ScanInfoError e) {
    for (int i = 0; i < width; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    VolumeScanInfo r;
    const auto s = ParseVolumeScan(b, r);
    EXPECT_EQ(s.error, e) << "offset " << at << ": " << s.detail;
    EXPECT_FALSE(s.detail.empty());
  };
  refused(fat, 3, 0xFFFFFFFF, 4, ScanInfoError::Truncated);    // FAT size
  refused(fat, 11, 0xFFFFFFFF, 4, ScanInfoError::Truncated);   // cluster map
  refused(fat, 99, 0xFFFF, 2, ScanInfoError::Truncated);       // source records
  refused(fat, fat.size() - 1024 - 80, 255, 1, ScanInfoError::Truncated);  // name length
  refused(fat, 16, 0, 1, ScanInfoError::NoClusterSize);
  refused(fat, fat.size() - 1024 + 584, 14, 1, ScanInfoError::WrongKind);
  refused(nt, 959, 0xFFFFFFFF, 4, ScanInfoError::Truncated);   // run-list nodes
  refused(nt, 1024 + 20, 0xFFFFFFF0, 4, ScanInfoError::Truncated);  // run bytes of a node
  refused(nt, 1024 + 47 + 532 + 321, 0x40000000, 4, ScanInfoError::Truncated);  // cluster array
  refused(nt, 51, 0x10000000, 4, ScanInfoError::Truncated);    // Advance records
  Bytes runs = nt;
  runs[61] = 1;
  refused(runs, 43, 2, 4, ScanInfoError::BadCount);            // 2 runs, 0 bytes
}

// Whatever a flipped bit makes of a file, it is refused with a reason or
// read as a file whose blocks add up, which writes and reads back alike.
TEST(VolumeScanFile, BitFlipsAreRefusedOrConsistent) {
  const Bytes b = Encode(FatScan());
  int refused = 0;
  for (std::size_t bit = 0; bit < b.size() * 8; ++bit) {
    Bytes f = b;
    f[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
    VolumeScanInfo r;
    const auto s = ParseVolumeScan(f, r);
    if (!s) {
      ++refused;
      EXPECT_FALSE(s.detail.empty());
      continue;
    }
    Bytes again;
    const auto w = EncodeVolumeScan(r, ItemSourceOf(r.items), r.trailer, again);
    if (!w) continue;  // a path that lost its NUL
    VolumeScanInfo r2;
    EXPECT_TRUE(ParseVolumeScan(again, r2)) << bit;
  }
  EXPECT_GE(refused, 8 * (24 + 29)) << "every flip in the banners at least";
}

TEST(DriveScanFile, NoVolumesIsHeaderAndTrailer) {
  std::vector<SourceRecord> list;
  list.push_back(Source(0));
  list.push_back(Source(1));
  Bytes b;
  ASSERT_TRUE(EncodeDriveScan(list, Trailer(14), b));
  Golden g = Banners();
  g.Wide(358, u"/saved/scan.img");
  ASSERT_EQ(b.size(), 2048u);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 1024), g.b);
  EXPECT_EQ(b[1024 + 584], 14);
  DriveScanInfo r;
  ASSERT_TRUE(ParseDriveScan(b, r));
  EXPECT_TRUE(r.volumes.empty());
  VolumeScanInfo v;
  EXPECT_EQ(ParseVolumeScan(b, v).error, ScanInfoError::WrongKind);
}

TEST(DriveScanFile, KeepsTheFoundVolumesOnly) {
  std::vector<SourceRecord> list;
  for (std::uint8_t k : {0, 2, 1, 3, 11, 12}) list.push_back(Source(k, k == 3 ? std::vector<std::uint32_t>{5, 6} : std::vector<std::uint32_t>{}));
  list[5].partition->clusterArrayCount = 9;  // a count without its array
  Bytes b;
  ASSERT_TRUE(EncodeDriveScan(list, Trailer(14), b));
  EXPECT_EQ(Le(b, 99, 2), 4u);
  const std::size_t at = 1024, deep = at + 939, image = deep + 939 + 8, imageDeep = image + 939;
  EXPECT_EQ(std::tuple(b[at + 7], b[deep + 7], b[image + 7], b[imageDeep + 7]), std::tuple(2, 3, 11, 12));
  EXPECT_EQ(Le(b, deep + 532 + 321, 4), 2u);
  EXPECT_EQ(Le(b, deep + 939 + 4, 4), 6u);
  EXPECT_EQ(Le(b, imageDeep + 532 + 321, 4), 0u) << "the count says what follows";
  EXPECT_EQ(b.size(), imageDeep + 939 + 1024);
  DriveScanInfo r;
  ASSERT_TRUE(ParseDriveScan(b, r));
  ASSERT_EQ(r.volumes.size(), 4u);
  EXPECT_EQ(r.volumes[1].partition->clusterArray, (std::vector<std::uint32_t>{5, 6}));

  Bytes extra = b, many = b;
  extra.insert(extra.end() - 1024, 3, 0);
  many[99] = 0xFF;
  EXPECT_EQ(ParseDriveScan(extra, r).error, ScanInfoError::Truncated);
  EXPECT_EQ(ParseDriveScan(many, r).error, ScanInfoError::Truncated);
  EXPECT_EQ(DriveScanFileName("/a/b/scan.img"), fs::path("/a/b/scan Drives.img"));
}

// ---- the writers on disk ---------------------------------------------------

std::vector<fs::path> Listing(const fs::path& dir) {
  std::vector<fs::path> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ScanInfoWriter, SavesReadsAndIndexes) {
  test::TempDir dir;
  std::vector<ScanImageRecord> list;
  const ScanInfoWriteOptions options{u"05-Mar-2024 and more", dir / "vhInfo", &list};
  VolumeScanInfo v = FatScan();
  const auto w = WriteVolumeScanFile(dir / "scan.img", v, options);
  ASSERT_TRUE(w) << w.detail;
  EXPECT_EQ(w.itemsWritten, 3u);
  EXPECT_TRUE(w.indexed);
  VolumeScanInfo r;
  ASSERT_TRUE(ReadVolumeScanFile(dir / "scan.img", r));
  EXPECT_EQ(r.trailer.path, ScanRecordPathOf(dir / "scan.img"));
  EXPECT_EQ(r.trailer.date, u"05-Mar-2024 and ") << "the first 16 units";
  EXPECT_EQ(r.items, v.items);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0], r.trailer);
  EXPECT_EQ(ReadScanIndex(dir / "vhInfo"), list);
  EXPECT_EQ(Listing(dir.path()), (std::vector<fs::path>{"scan.img", "vhInfo"})) << "no temporary left";

  // A name longer than a byte can count keeps 255 units, never half a pair.
  std::u16string name(254, u'n');
  name += u"\xD83D\xDE00";
  v.items = {Item(kItemFolder, u""), Item(kItemFile, name), Item(kItemFile, std::u16string(300, u'x'))};
  ASSERT_TRUE(WriteVolumeScanFile(dir / "scan.img", v, {}));
  ASSERT_TRUE(ReadVolumeScanFile(dir / "scan.img", r));
  EXPECT_EQ(r.items[1].name, std::u16string(254, u'n'));
  EXPECT_EQ(r.items[2].name.size(), 255u);
  EXPECT_EQ(list.size(), 1u) << "no index asked for";
}

TEST(ScanInfoWriter, FailuresLeaveTheOldFileAndTheIndex) {
  test::TempDir dir;
  test::WriteWholeFile(dir / "scan.img", "the old scan");
  std::vector<ScanImageRecord> list;
  const ScanInfoWriteOptions options{u"05-Mar-2024", dir / "vhInfo", &list};
  const auto big = [] {
    VolumeScanInfo v = FatScan();
    v.header.fatSize = 256, v.tables.fat.assign(256 * 512, 0xFA);
    return v;
  };
  const VolumeScanInfo v = big();

  // A device that fills up: writes beyond 64 KiB fail.
  const pid_t child = ::fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{65536, 65536};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const auto w = WriteVolumeScanFile(dir / "scan.img", v, options);
    ::_exit(w.error == ScanInfoError::WriteFailed ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  EXPECT_EQ(WriteVolumeScanFile("/proc/self/scan.img", v, options).error, ScanInfoError::CannotCreate);
  fs::create_directory(dir / "busy.img");
  test::WriteWholeFile(dir / "busy.img" / "inside", "x");
  EXPECT_EQ(WriteVolumeScanFile(dir / "busy.img", v, options).error, ScanInfoError::CannotReplace);
  VolumeScanInfo bad = big();
  bad.header.driveCount = 2;
  EXPECT_EQ(WriteVolumeScanFile(dir / "scan.img", bad, options).error, ScanInfoError::Inconsistent);
  bad = big(), bad.tables.fat.resize(100);
  EXPECT_EQ(WriteVolumeScanFile(dir / "scan.img", bad, options).error, ScanInfoError::Inconsistent);
  bad = big(), bad.header.imagePath.assign(260, u'p');
  EXPECT_EQ(WriteVolumeScanFile(dir / "scan.img", bad, options).error, ScanInfoError::PathNotStorable);
  const fs::path deep = dir / std::string(200, 'd') / std::string(100, 'e');
  fs::create_directories(deep.parent_path());
  EXPECT_EQ(WriteVolumeScanFile(deep, v, options).error, ScanInfoError::PathNotStorable);

  EXPECT_EQ(test::ReadWholeFile(dir / "scan.img"), "the old scan");
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(fs::exists(dir / "vhInfo"));
  EXPECT_EQ(Listing(dir.path()), (std::vector<fs::path>{"busy.img", std::string(200, 'd'), "scan.img"}));
  EXPECT_EQ(Listing(dir / "busy.img"), (std::vector<fs::path>{"inside"}));

  ASSERT_TRUE(WriteDriveScanFile(dir / "scan Drives.img", {}, options));
  DriveScanInfo d;
  ASSERT_TRUE(ReadDriveScanFile(dir / "scan Drives.img", d));
  EXPECT_EQ(d.header.imagePath, ScanRecordPathOf(dir / "scan Drives.img"));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].kind, 14);
  VolumeScanInfo none;
  EXPECT_EQ(ReadVolumeScanFile(dir / "missing.img", none).error, ScanInfoError::CannotOpen);
}

}  // namespace
}  // namespace corvan
