// Quick Recovery and file reading over small volumes built from the format's
// description, for what the corpus volume does not show: attribute lists,
// compressed units split over runs, preallocated space, DOS and POSIX names,
// damaged records, loops among folders and volumes Quick cannot use.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <set>

#include "app/CORVANApp.h"
#include "core/Prompt.h"
#include "engines/ntfs/NtfsEngine.h"
#include "platform/TextConv.h"
#include "sources/SectorSource.h"
#include "engines/ntfs/ntfs_test_records.h"
#include "support/NtfsImageBuilder.h"
#include "support/NtfsJournalBuilder.h"
#include "support/RecordingSinks.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

namespace img = test::ntfsimg;
using img::Bytes;
using test::Entry;
using test::FileRecord;
using test::FolderRecord;
using test::Key;
using test::kCreated;
using test::kDirInUse;
using test::kFolderFlags;
using test::kModified;
using test::Pattern;

constexpr std::uint32_t kCluster = 512;

class NtfsSynthetic : public ::testing::Test {
 protected:
  NtfsSynthetic() : app_(dir_ / "settings.ini", dir_.path()), image_(1, 600, 4, 96) {
    app_.m_pPrompt = &prompt_;
  }

  bool Scan() { return ScanBytes(image_.Finish()); }
  // Quick over `volume`; the partition record may count fewer sectors than
  // the disk holds.
  bool ScanBytes(Bytes volume, std::uint64_t sectorsLeftOut = 0) {
    source_ = std::make_shared<MemorySectorSource>(std::move(volume));
    engine_ = test::EngineOverDisk(app_, source_, &items_, &progress_, source_->SectorCount() - sectorsLeftOut);
    return engine_->ScanVolume(false);
  }
  std::vector<std::size_t> ItemsWithId(std::uint32_t id) const {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < items_.items.size(); ++i)
      if (items_.items[i].record.itemId == id) out.push_back(i);
    return out;
  }
  const test::RecordedItem& One(std::uint32_t id) const {
    const auto found = ItemsWithId(id);
    EXPECT_EQ(found.size(), 1u) << "item " << id;
    static test::RecordedItem none;
    return found.empty() ? none : items_.items[found[0]];
  }
  std::string PathOf(std::uint32_t id) const {
    const auto found = ItemsWithId(id);
    if (found.size() != 1) return "?";
    const auto p = items_.PathOf(found[0], NtfsEngine::kRootRecord);
    return p ? Utf16ToUtf8(*p) : "?";
  }
  Bytes Data(std::uint32_t id, WalkResult* result = nullptr) {
    Bytes out;
    const WalkResult r = engine_->ReadFoundItem(One(id).record, [&](const DataBlock& b) {
      out.insert(out.end(), b.bytes.begin(), b.bytes.end());
      return true;
    });
    if (result) *result = r;
    return out;
  }
  void PutRoot(const std::vector<Bytes>& entries) {
    img::RecordBuilder r;
    r.number = 5;
    r.flags = kDirInUse;
    r.Add(img::Resident(0x10, img::StdInfo(test::kInfoCreated, test::kInfoModified, 0x16), u"", 0))
        .Add(img::Resident(0x30, Key(5, u".", 3, kFolderFlags), u"", 1))
        .Add(img::Resident(0x90, img::IndexRoot(entries, 4096, false), u"$I30", 2));
    image_.PutRecord(5, r.Build());
  }

  test::TempDir dir_;
  test::RecordingPrompt prompt_;
  CORVANApp app_;
  img::NtfsImage image_;
  std::shared_ptr<MemorySectorSource> source_;
  std::unique_ptr<NtfsEngine> engine_;
  test::RecordingFoundItemSink items_;
  test::RecordingProgressSink progress_;
};

TEST_F(NtfsSynthetic, AttributeListFileIsReadThroughItsExtensionRecords) {
  const Bytes content = Pattern(2300, 1);
  Bytes clusters = content;
  clusters.resize(5 * kCluster, 0);
  const std::uint64_t a = image_.Allocate(2), b = image_.Allocate(3);
  image_.WriteClusters(a, std::span(clusters).first(2 * kCluster));
  image_.WriteClusters(b, std::span(clusters).subspan(2 * kCluster));

  // The base record keeps its times, its DOS name and the list; the long
  // name and both extents of the data lie in extension records, listed here
  // with the later extent's record first.
  Bytes list;
  for (const Bytes& e : {img::AttrListEntry(0x10, 0, img::Ref(30), 0), img::AttrListEntry(0x30, 0, img::Ref(30), 1),
                         img::AttrListEntry(0x30, 0, img::Ref(31), 0), img::AttrListEntry(0x80, 0, img::Ref(32), 0),
                         img::AttrListEntry(0x80, 2, img::Ref(31), 1),
                         img::AttrListEntry(0x80, 0, img::Ref(33), 0, u"ads")})
    list.insert(list.end(), e.begin(), e.end());
  img::RecordBuilder base;
  base.number = 30;
  base.Add(img::Resident(0x10, img::StdInfo(test::kInfoCreated, test::kInfoModified, 0x20), u"", 0))
      .Add(img::Resident(0x30, Key(5, u"LONGFI~1.BIN", 2, 0x20), u"", 1))
      .Add(img::Resident(0x20, list, u"", 2));
  image_.PutRecord(30, base.Build());
  img::RecordBuilder ext31;
  ext31.number = 31;
  ext31.baseReference = img::Ref(30);
  ext31.Add(img::Resident(0x30, Key(5, u"long file name.bin", 1, 0x20), u"", 0))
      .Add(img::NonResident(0x80, img::Pairs({{b, 3}}), 2, 4, 0, 0, 0, 0, 0, u"", 1));
  image_.PutRecord(31, ext31.Build());
  img::RecordBuilder ext32;
  ext32.number = 32;
  ext32.baseReference = img::Ref(30);
  ext32.Add(img::NonResident(0x80, img::Pairs({{a, 2}}), 0, 1, 5 * kCluster, 2300, 2300, 0, 0, u"", 0));
  image_.PutRecord(32, ext32.Build());
  img::RecordBuilder ext33;
  ext33.number = 33;
  ext33.baseReference = img::Ref(30);
  ext33.Add(img::Resident(0x80, {'s', 'e', 'c', 'r', 'e', 't'}, u"ads", 0));
  image_.PutRecord(33, ext33.Build());
  // The index names the file by both its names; its size copy is stale.
  PutRoot({Entry(30, 5, u"LONGFI~1.BIN", 2, 0x20, 1234), Entry(30, 5, u"long file name.bin", 1, 0x20, 1234)});

  ASSERT_TRUE(Scan());
  const auto& item = One(30);
  EXPECT_EQ(item.name, u"long file name.bin");
  EXPECT_EQ(item.record.size, 2300u);
  EXPECT_EQ(item.record.attribute, kItemFile);
  WalkResult r;
  EXPECT_EQ(Data(30, &r), content);
  EXPECT_TRUE(r.Clean());
  for (std::uint32_t extension : {31u, 32u, 33u}) EXPECT_TRUE(ItemsWithId(extension).empty()) << extension;
  EXPECT_EQ(items_.items.size(), 1u);
}

TEST_F(NtfsSynthetic, CompressedUnitOverTwoRunsPlainUnitAndEmptyUnit) {
  Bytes unit0 = Pattern(5000, 2);
  unit0.resize(16 * kCluster, 'z');
  const Bytes packed = img::Lznt1Compress(unit0);
  const std::uint64_t n = (packed.size() + kCluster - 1) / kCluster;
  ASSERT_GT(n, 7u);
  ASSERT_LT(n, 16u);
  Bytes padded = packed;
  padded.resize(n * kCluster, 0);
  const Bytes unit1 = Pattern(16 * kCluster, 3);
  const std::uint64_t first = image_.Allocate(7), gap = image_.Allocate(3), second = image_.Allocate(n - 7),
                      plain = image_.Allocate(16);
  (void)gap;
  image_.WriteClusters(first, std::span(padded).first(7 * kCluster));
  image_.WriteClusters(second, std::span(padded).subspan(7 * kCluster));
  image_.WriteClusters(plain, unit1);
  const std::uint64_t size = 48 * kCluster - 1000;
  const Bytes pairs =
      img::Pairs({{first, 7}, {second, n - 7}, {0, 16 - n, true}, {plain, 16}, {0, 16, true}});
  image_.PutRecord(40, FileRecord(40, 5, u"packed.txt",
                                  img::NonResident(0x80, pairs, 0, 47, 48 * kCluster, size, size, 4, 0x0001, u"", 2)));
  PutRoot({Entry(40, 5, u"packed.txt", 1, 0x820, size)});

  ASSERT_TRUE(Scan());
  Bytes expected = unit0;
  expected.insert(expected.end(), unit1.begin(), unit1.end());
  expected.resize(size, 0);
  WalkResult r;
  EXPECT_EQ(Data(40, &r), expected);
  EXPECT_TRUE(r.Clean());
  EXPECT_EQ(One(40).record.flags & kItemCompressed, kItemCompressed);

  // A preview or a resumed copy reads a window of the file: one that starts
  // inside the compressed unit and ends inside the plain one decompresses
  // only what it needs and gives the same bytes.
  const std::uint64_t begin = 5000 - 123, end = 16 * kCluster + 777;
  Bytes window;
  const WalkResult w = static_cast<ScanEngine&>(*engine_).ReadItemData(One(40).record, [&](const DataBlock& b) {
    window.insert(window.end(), b.bytes.begin(), b.bytes.end());
    return true;
  }, begin, end);
  EXPECT_TRUE(w.Clean());
  EXPECT_EQ(window, Bytes(expected.begin() + begin, expected.begin() + end));
}

TEST_F(NtfsSynthetic, SparseAndPreallocatedFilesKeepTheirSizeAndOffsets) {
  const Bytes head = Pattern(2 * kCluster, 4), tail = Pattern(2 * kCluster, 5);
  const std::uint64_t x = image_.Allocate(2), y = image_.Allocate(2);
  image_.WriteClusters(x, head);
  image_.WriteClusters(y, tail);
  // Sparse, not compressed: the compression unit is set, as writers do for
  // sparse files, but no compression flag.
  image_.PutRecord(41, FileRecord(41, 5, u"sparse.bin",
                                  img::NonResident(0x80, img::Pairs({{x, 2}, {0, 3, true}, {y, 2}}), 0, 6,
                                                   7 * kCluster, 7 * kCluster, 7 * kCluster, 4, 0x8000, u"", 2)));
  // Preallocated: 8 clusters reserved, 3.5 KiB written, the size set past it.
  const Bytes written = Pattern(8 * kCluster, 6);
  const std::uint64_t z = image_.Allocate(8);
  image_.WriteClusters(z, written);
  const std::uint64_t real = 8 * kCluster - 100, init = 3 * kCluster + 7;
  image_.PutRecord(42, FileRecord(42, 5, u"prealloc.bin",
                                  img::NonResident(0x80, img::Pairs({{z, 8}}), 0, 7, 8 * kCluster, real, init, 0, 0, u"", 2)));
  PutRoot({Entry(41, 5, u"sparse.bin", 1, 0x220, 7 * kCluster), Entry(42, 5, u"prealloc.bin", 1, 0x20, real)});

  ASSERT_TRUE(Scan());
  Bytes sparse = head;
  sparse.insert(sparse.end(), 3 * kCluster, 0);
  sparse.insert(sparse.end(), tail.begin(), tail.end());
  EXPECT_EQ(Data(41), sparse);
  EXPECT_EQ(One(41).record.flags & kItemCompressed, 0);

  EXPECT_EQ(One(42).record.size, real);
  Bytes pre(written.begin(), written.begin() + static_cast<std::ptrdiff_t>(init));
  pre.resize(real, 0);
  EXPECT_EQ(Data(42), pre);
}

TEST_F(NtfsSynthetic, NamesAndFolderFlags) {
  image_.PutRecord(43, FileRecord(43, 5, u"posix name", img::Resident(0x80, {'p'}, u"", 2), img::kInUse, 0));
  image_.PutRecord(44, FileRecord(44, 5, u"Long name.txt", img::Resident(0x80, {'w'}, u"", 2)));
  image_.PutRecord(45, FileRecord(45, 5, u"link", img::Resident(0x80, {}, u"", 2)));
  image_.PutRecord(46, FolderRecord(46, 5, u"dir", {}));
  Bytes reparse = Key(5, u"link", 1, 0x400 | 0x20);
  reparse[0x3C] = 0x03;  // reparse tag in the extended-attribute field
  PutRoot({Entry(43, 5, u"posix name", 0), Entry(44, 5, u"LONGNA~1.TXT", 2), Entry(44, 5, u"Long name.txt", 1),
           img::IndexEntry(img::Ref(45), reparse), Entry(46, 5, u"dir", 1, kFolderFlags)});

  ASSERT_TRUE(Scan());
  EXPECT_EQ(One(43).name, u"posix name");
  EXPECT_EQ(One(44).name, u"Long name.txt");
  EXPECT_EQ(One(45).record.attribute, kItemFile);
  EXPECT_EQ(One(46).record.attribute, kItemFolder);
  EXPECT_EQ(items_.items.size(), 4u);
  // Times of an index entry are its key's.
  EXPECT_EQ(One(43).record.creationTime, kCreated);
  EXPECT_EQ(One(43).record.modifiedTime, kModified);
}

TEST_F(NtfsSynthetic, DamagedRecordsAreNotParsed) {
  // Listed in the root, but the record's second sector was torn.
  Bytes torn = FileRecord(47, 5, u"torn.txt", img::Resident(0x80, {'t'}, u"", 2));
  torn[1023] ^= 0x55;
  image_.PutRecord(47, torn);
  // Not listed anywhere, deleted, and torn: nothing to post.
  Bytes tornDeleted = FileRecord(48, 5, u"gone.txt", img::Resident(0x80, {'g'}, u"", 2), 0);
  tornDeleted[511] ^= 0x55;
  image_.PutRecord(48, tornDeleted);
  // An attribute length below a header's size in a deleted record.
  Bytes shortAttr = FileRecord(49, 5, u"short.txt", img::Resident(0x80, {'s'}, u"", 2), 0);
  shortAttr[0x38 + 4] = 0x08;
  shortAttr[0x38 + 5] = 0;
  image_.PutRecord(49, shortAttr);
  PutRoot({Entry(47, 5, u"torn.txt", 1, 0x20, 1)});

  ASSERT_TRUE(Scan());
  EXPECT_EQ(One(47).record.size, 1u) << "the index entry still names the file";
  WalkResult r;
  EXPECT_TRUE(Data(47, &r).empty()) << "but its record cannot say where its data is";
  EXPECT_TRUE(ItemsWithId(48).empty());
  EXPECT_TRUE(ItemsWithId(49).empty()) << "no name could be read before the bad attribute";
}

TEST_F(NtfsSynthetic, UnreachedFoldersThatNameEachOtherArePostedOnce) {
  image_.PutRecord(50, FolderRecord(50, 51, u"a", {}, img::kDirectory));
  image_.PutRecord(51, FolderRecord(51, 50, u"b", {}, img::kDirectory));
  image_.PutRecord(52, FolderRecord(52, 52, u"self", {}, img::kDirectory));
  image_.PutRecord(53, FileRecord(53, 50, u"in a.txt", img::Resident(0x80, {'1'}, u"", 2), 0));
  // Two deleted files whose folder record was never written share one
  // made-up folder.
  image_.PutRecord(54, FileRecord(54, 60, u"x.txt", img::Resident(0x80, {'x'}, u"", 2), 0));
  image_.PutRecord(55, FileRecord(55, 60, u"y.txt", img::Resident(0x80, {'y'}, u"", 2), 0));
  PutRoot({});

  ASSERT_TRUE(Scan());
  std::set<std::uint32_t> ids;
  for (const auto& item : items_.items) EXPECT_TRUE(ids.insert(item.record.itemId).second) << item.record.itemId;
  const auto& lost = One(NtfsEngine::kLostFolderId);
  EXPECT_EQ(lost.name, u"Lost folder(s)");
  EXPECT_EQ(lost.record.parentId, NtfsEngine::kRootRecord);
  EXPECT_EQ(PathOf(50), "Lost folder(s)/a");
  EXPECT_EQ(PathOf(51), "Lost folder(s)/a/b");
  EXPECT_EQ(PathOf(52), "Lost folder(s)/self");
  EXPECT_EQ(PathOf(53), "Lost folder(s)/a/in a.txt");
  EXPECT_EQ(PathOf(54), "Lost folder(s)/Folder 60/x.txt");
  EXPECT_EQ(PathOf(55), "Lost folder(s)/Folder 60/y.txt");
  EXPECT_TRUE(One(53).record.IsDeleted());
  EXPECT_TRUE(One(50).record.IsDeleted());
}

TEST_F(NtfsSynthetic, AnIndexThatNamesItsOwnFolderOrTheRootIsListedOnce) {
  image_.PutRecord(56, FolderRecord(56, 5, u"loop", {Entry(56, 56, u"me again", 1, kFolderFlags),
                                                     Entry(5, 56, u"root again", 1, kFolderFlags),
                                                     Entry(57, 56, u"f.txt")}));
  image_.PutRecord(57, FileRecord(57, 56, u"f.txt", img::Resident(0x80, {'f'}, u"", 2)));
  PutRoot({Entry(56, 5, u"loop", 1, kFolderFlags)});
  ASSERT_TRUE(Scan());
  EXPECT_EQ(PathOf(56), "loop");
  EXPECT_EQ(PathOf(57), "loop/f.txt");
  EXPECT_EQ(items_.items.size(), 2u);
}

TEST_F(NtfsSynthetic, IndexBlocksTheIndexNoLongerUsesAreNotListed) {
  // Two INDX blocks; the index's bitmap marks only the first in use. The
  // second still holds an entry of a file deleted since.
  image_.PutRecord(58, FileRecord(58, 70, u"live.txt", img::Resident(0x80, {'l'}, u"", 2)));
  image_.PutRecord(59, FileRecord(59, 70, u"deleted.txt", img::Resident(0x80, {'d'}, u"", 2), 0));
  const std::uint64_t blocks = image_.Allocate(16);
  image_.WriteClusters(blocks, img::IndexBlock({Entry(58, 70, u"live.txt")}, 0, 4096));
  image_.WriteClusters(blocks + 8, img::IndexBlock({Entry(59, 70, u"deleted.txt")}, 8, 4096));
  img::RecordBuilder dir;
  dir.number = 70;
  dir.flags = kDirInUse;
  dir.Add(img::Resident(0x10, img::StdInfo(test::kInfoCreated, test::kInfoModified, 0x10), u"", 0))
      .Add(img::Resident(0x30, Key(5, u"big", 1, kFolderFlags), u"", 1))
      .Add(img::Resident(0x90, img::IndexRoot({}, 4096, true), u"$I30", 2))
      .Add(img::NonResident(0xA0, img::Pairs({{blocks, 16}}), 0, 15, 8192, 8192, 8192, 0, 0, u"$I30", 3))
      .Add(img::Resident(0xB0, {0x01, 0, 0, 0, 0, 0, 0, 0}, u"$I30", 4));
  image_.PutRecord(70, dir.Build());
  PutRoot({Entry(70, 5, u"big", 1, kFolderFlags)});

  ASSERT_TRUE(Scan());
  EXPECT_EQ(PathOf(58), "big/live.txt");
  EXPECT_FALSE(One(58).record.IsDeleted());
  // The deleted file is still found, by the pass over unreached records.
  EXPECT_EQ(PathOf(59), "big/deleted.txt");
  EXPECT_TRUE(One(59).record.IsDeleted());
}

TEST_F(NtfsSynthetic, QuickOnAVolumeWithoutUsableBootSectorContinuesAsAdvance) {
  // Its data in a cluster of its own: the record votes for the cluster size.
  const std::uint64_t lcn = image_.Allocate(1);
  image_.WriteClusters(lcn, Bytes(kCluster, 'a'));
  image_.PutRecord(43, FileRecord(43, 5, u"a.txt",
                                  img::NonResident(0x80, img::Pairs({{lcn, 1}}), 0, 0, kCluster, 100, 100, 0, 0, u"", 2)));
  PutRoot({Entry(43, 5, u"a.txt")});
  Bytes volume = image_.Finish();
  std::memset(volume.data(), 0, 512);
  std::memset(volume.data() + volume.size() - 512, 0, 512);
  EXPECT_TRUE(ScanBytes(std::move(volume)));
  EXPECT_TRUE(prompt_.texts.empty());
  // The record search found it under the root; its location is the
  // record's sector.
  ASSERT_EQ(items_.items.size(), 1u);
  EXPECT_EQ(items_.items[0].name, u"a.txt");
  EXPECT_EQ(items_.items[0].record.parentId, 5u);
  EXPECT_EQ(items_.items[0].record.location, 4u + 43u * 2u);
  EXPECT_EQ(engine_->SectorsPerCluster(), 1u);
}

TEST_F(NtfsSynthetic, AnMftRecordThatMapsTheMftElsewhereIsNotTrusted) {
  // Record 0 says the $MFT starts 10 clusters away from where the boot
  // sector puts it: Quick cannot use it and searches the volume instead.
  img::RecordBuilder mft;
  mft.Add(img::Resident(0x10, img::StdInfo(0, 0), u"", 0))
      .Add(img::Resident(0x30, Key(5, u"$MFT", 3, 0x06), u"", 1))
      .Add(img::NonResident(0x80, img::Pairs({{image_.MftLcn() + 10, 192}}), 0, 191, 96 * 1024, 96 * 1024,
                            96 * 1024, 0, 0, u"", 2));
  image_.PutRecord(0, mft.Build());
  image_.PutRecord(43, FileRecord(43, 5, u"a.txt", img::Resident(0x80, {'a'}, u"", 2)));
  PutRoot({Entry(43, 5, u"a.txt")});
  EXPECT_TRUE(Scan());
  EXPECT_TRUE(prompt_.texts.empty());
  EXPECT_TRUE(engine_->MftRuns().empty());
  bool found = false;
  for (const auto& item : items_.items) found = found || (item.name == u"a.txt" && item.record.location == 4u + 43u * 2u);
  EXPECT_TRUE(found);
}

TEST_F(NtfsSynthetic, BackupBootSectorIsUsedWhenTheFirstIsGone) {
  image_.PutRecord(43, FileRecord(43, 5, u"a.txt", img::Resident(0x80, {'a'}, u"", 2)));
  PutRoot({Entry(43, 5, u"a.txt")});
  Bytes volume = image_.Finish();
  std::memset(volume.data(), 0, 512);
  // The partition record counts the backup as one past the volume's end.
  ASSERT_TRUE(ScanBytes(std::move(volume), 1));
  EXPECT_EQ(PathOf(43), "a.txt");
  EXPECT_TRUE(prompt_.texts.empty());
}

TEST_F(NtfsSynthetic, AbortEndsThePassAndLogsIt) {
  for (std::uint32_t n = 20; n < 40; ++n)
    image_.PutRecord(n, FileRecord(n, 5, u"f" + Utf8ToUtf16(std::to_string(n)), img::Resident(0x80, {'x'}, u"", 2), 0));
  PutRoot({});
  app_.m_bAbort = 1;
  ASSERT_TRUE(Scan());
  EXPECT_TRUE(items_.items.empty());
  EXPECT_EQ(items_.roots.size(), 1u) << "the root stands even when nothing follows";
  EXPECT_NE(app_.LogViewText().find("Process aborted. User intervention"), std::string::npos);
  EXPECT_NE(app_.LogViewText().find("Aborted on: "), std::string::npos);
}


TEST_F(NtfsSynthetic, TheJournalGivesBackTheRunsOfADeletedFile) {
  // The file's data, where its runs said it lay before it was deleted.
  const Bytes content = Pattern(5 * kCluster - 300, 8);
  const std::uint64_t a = image_.Allocate(2), b = image_.Allocate(3);
  Bytes clusters = content;
  clusters.resize(5 * kCluster, 0);
  image_.WriteClusters(a, std::span(clusters).first(2 * kCluster));
  image_.WriteClusters(b, std::span(clusters).subspan(2 * kCluster));
  const Bytes oldPairs = img::Pairs({{a, 2}, {b, 3}});

  // The deleted record: its $DATA emptied to a bare list end.
  const std::uint16_t dataOffset = test::PutEmptiedLostFile(image_);

  // The journal: the mapping pairs before the deletion, then the sizes.
  img::LogChange pairs;
  pairs.redoOp = pairs.undoOp = 9;
  pairs.undo = oldPairs;
  pairs.redo = {0x00};
  pairs.recordOffset = dataOffset;
  pairs.attributeOffset = 0x40;
  pairs.blockOffset = 0;            // 512-byte clusters: the record starts its own
  pairs.targetVcn = 45 * 2;         // cluster 90 of the $MFT
  pairs.lcn = image_.MftLcn() + 90;
  img::LogChange sizes = pairs;
  sizes.redoOp = sizes.undoOp = 11;
  sizes.attributeOffset = 0x28;
  Bytes before(24, 0);
  for (int i = 0; i < 8; ++i) {
    before[i] = static_cast<std::uint8_t>((std::uint64_t{5} * kCluster) >> (8 * i));
    before[8 + i] = before[16 + i] = static_cast<std::uint8_t>(std::uint64_t{content.size()} >> (8 * i));
  }
  sizes.undo = before;
  sizes.redo = Bytes(24, 0);
  Bytes records = img::LogRecord(1000, pairs);
  const Bytes second = img::LogRecord(1001, sizes);
  records.insert(records.end(), second.begin(), second.end());
  const Bytes journal = img::Journal({img::RecordPage(1001, records)}, 8);
  const std::uint64_t logClusters = journal.size() / kCluster;
  const std::uint64_t logLcn = image_.Allocate(logClusters);
  image_.WriteClusters(logLcn, journal);
  image_.PutRecord(2, FileRecord(2, 5, u"$LogFile",
                                 img::NonResident(0x80, img::Pairs({{logLcn, logClusters}}), 0, logClusters - 1,
                                                  journal.size(), journal.size(), journal.size(), 0, 0, u"", 2)));
  image_.PutRecord(43, FileRecord(43, 5, u"kept.txt", img::Resident(0x80, {'k'}, u"", 2)));
  PutRoot({Entry(43, 5, u"kept.txt")});

  ASSERT_TRUE(Scan());
  const auto found = ItemsWithId(45);
  ASSERT_EQ(found.size(), 1u);
  const auto& item = items_.items[found[0]];
  EXPECT_TRUE(item.record.IsDeleted());
  EXPECT_EQ(item.sizeUpdates, 1u);
  EXPECT_EQ(item.record.size, content.size());
  EXPECT_EQ(Data(45), content);
  EXPECT_EQ(progress_.statusTexts, (std::vector<std::string>{"Updating large files list...", ""}));
  EXPECT_EQ(progress_.stopStates, (std::vector<bool>{false, true}));
  EXPECT_EQ(app_.CriticalPhaseFlag().load(), 0u);

  // Deleted Recovery asks the journal before it posts: the item comes with
  // its size and marked as having its runs kept.
  items_ = {};
  engine_ = test::EngineOverDisk(app_, source_, &items_, &progress_);
  ASSERT_TRUE(engine_->ScanVolume(true));
  EXPECT_EQ(One(45).record.size, content.size());
  EXPECT_EQ(One(45).record.runFlags & kItemRunsKept, kItemRunsKept);
  EXPECT_EQ(One(45).sizeUpdates, 0u);
  EXPECT_EQ(Data(45), content);
  EXPECT_EQ(app_.CriticalPhaseFlag().load(), 0u);
}

TEST_F(NtfsSynthetic, FreeClusterExtentsAndRawHitsThroughThem) {
  // $Bitmap: clusters 1-3 and 8-11 free, then all allocated up to the last
  // cluster, which is free; the bits past the volume's end are slack.
  Bytes bitmap((601 + 7) / 8, 0xFF);
  bitmap[0] = 0xF1;
  bitmap[1] = 0xF0;
  bitmap.back() = 0x00;
  image_ = img::NtfsImage(1, 601, 4, 96);
  image_.PutRecord(6, FileRecord(6, 5, u"$Bitmap", img::Resident(0x80, bitmap, u"", 2)));
  PutRoot({});
  ASSERT_TRUE(Scan());

  FileDataLayout before = engine_->GetContiguousClusters(2, 5 * kCluster);
  EXPECT_EQ(before.extents, (std::vector<DataExtent>{{0, 2, 5, false}})) << "no bitmap yet: one piece";

  engine_->LoadVolumeBitmap();
  ASSERT_TRUE(engine_->FreeExtentsValid());
  ASSERT_EQ(engine_->FreeExtents().size(), 3u);
  EXPECT_EQ(engine_->FreeExtents()[0].first, 1u);
  EXPECT_EQ(engine_->FreeExtents()[0].count, 3u);
  EXPECT_EQ(engine_->FreeExtents()[1].first, 8u);
  EXPECT_EQ(engine_->FreeExtents()[1].count, 4u);
  EXPECT_EQ(engine_->FreeExtents()[2].first, 600u);
  EXPECT_EQ(engine_->FreeExtents()[2].count, 1u);
  EXPECT_EQ(progress_.stopStates, (std::vector<bool>{false, true}));
  EXPECT_NE(app_.LogViewText().find("Creating free cluster list"), std::string::npos);

  FileDataLayout hit = engine_->GetContiguousClusters(2, 5 * kCluster);
  EXPECT_EQ(hit.extents, (std::vector<DataExtent>{{0, 2, 2, false}, {2, 8, 3, false}}));
  EXPECT_EQ(hit.size, 5u * kCluster);
  FileDataLayout nearEnd = engine_->GetContiguousClusters(599, 3 * kCluster);
  EXPECT_EQ(nearEnd.extents, (std::vector<DataExtent>{{0, 600, 1, false}}));
  EXPECT_EQ(nearEnd.size, kCluster) << "fewer free clusters left than asked for";
}

TEST_F(NtfsSynthetic, AnMftInTwoRunsIsReadThroughBoth) {
  // Record 0 maps the $MFT as 3 clusters where the boot sector says, then
  // the rest elsewhere: record 1 has its halves in different runs.
  const std::uint64_t far = image_.Allocate(189);
  const std::uint64_t mftBytes = 96 * 1024;
  img::RecordBuilder mft;
  mft.Add(img::Resident(0x10, img::StdInfo(0, 0), u"", 0))
      .Add(img::Resident(0x30, Key(5, u"$MFT", 3, 0x06), u"", 1))
      .Add(img::NonResident(0x80, img::Pairs({{image_.MftLcn(), 3}, {far, 189}}), 0, 191, mftBytes, mftBytes,
                            mftBytes, 0, 0, u"", 2));
  image_.PutRecord(0, mft.Build());
  image_.PutRecord(43, FileRecord(43, 5, u"a.txt", img::Resident(0x80, {'a'}, u"", 2)));
  PutRoot({Entry(43, 5, u"a.txt")});
  Bytes volume = image_.Finish();
  const std::size_t from = (image_.MftLcn() + 3) * kCluster;
  std::copy(volume.begin() + static_cast<std::ptrdiff_t>(from),
            volume.begin() + static_cast<std::ptrdiff_t>(from + 189 * kCluster),
            volume.begin() + static_cast<std::ptrdiff_t>(far * kCluster));
  std::fill(volume.begin() + static_cast<std::ptrdiff_t>(from),
            volume.begin() + static_cast<std::ptrdiff_t>(from + 189 * kCluster), 0);
  ASSERT_TRUE(ScanBytes(std::move(volume)));
  EXPECT_EQ(PathOf(43), "a.txt");
  std::uint64_t second = 0;
  EXPECT_EQ(engine_->MftRecordToSector(1, &second), image_.MftLcn() + 2);
  EXPECT_EQ(second, far);
  EXPECT_EQ(engine_->MftRecordToSector(43, &second), far + 43 * 2 - 3);
  EXPECT_EQ(second, 0u);
  EXPECT_EQ(engine_->MftRecordCount(), 96u);
}

TEST_F(NtfsSynthetic, RunsThatPointPastTheVolumeReadAsDamagedZeros) {
  image_.PutRecord(44, FileRecord(44, 5, u"bad.bin",
                                  img::NonResident(0x80, img::Pairs({{5000, 2}}), 0, 1, 1024, 1024, 1024, 0, 0, u"", 2)));
  PutRoot({Entry(44, 5, u"bad.bin", 1, 0x20, 1024)});
  ASSERT_TRUE(Scan());
  WalkResult r;
  EXPECT_EQ(Data(44, &r), Bytes(1024, 0));
  EXPECT_GT(r.failedReads, 0u);
}

}  // namespace
}  // namespace corvan
