// Directory entries: validation, decoding into records and names (short
// names in the OEM code page, long names across clusters), the first-cluster
// probe of deleted entries, and the hand-over queue.

#include <gtest/gtest.h>

#include "engines/fat/FatImageBuilder.h"
#include "engines/fat/FatShortName.h"
#include "platform/ByteCodec.h"
#include "sources/FatBootSector.h"
#include "support/FatTestVolume.h"

namespace corvan {
namespace {

using fattest::FatImage;
using fattest::Harness;
using fattest::ReadyEngine;
using fattest::SmallFat16;
using fattest::SmallFat32;
using fattest::PutDotEntries;
using fattest::PutNamedEntry;
using fattest::PutShortEntry;


// Large enough that a cluster number may have bits 16-23 set: 140000
// clusters of one sector.
FatImage BigFat32() { return FatImage(kFat32, 142000, 1, 32, 1100, 0); }

std::array<std::uint8_t, 32> Entry(const char* name11, std::uint8_t attr, std::uint32_t cluster,
                                   std::uint32_t size = 100) {
  std::array<std::uint8_t, 32> e{};
  PutShortEntry(e.data(), name11, attr, cluster, size);
  return e;
}

// ---- short names and checksums ----

TEST(FatShortNames, OemBytesAndCaseBits) {
  EXPECT_EQ(OemToUnicode(0x9A, OemCodePage::Cp437), u'\u00DC');  // Ü in both
  EXPECT_EQ(OemToUnicode(0x9A, OemCodePage::Cp850), u'\u00DC');
  EXPECT_EQ(OemToUnicode(0x9B, OemCodePage::Cp437), u'\u00A2');  // ¢
  EXPECT_EQ(OemToUnicode(0x9B, OemCodePage::Cp850), u'\u00F8');  // ø
  EXPECT_EQ(OemToUnicode(0xE1, OemCodePage::Cp437), u'\u00DF');  // ß
  EXPECT_EQ(OemToUnicode(0xFF, OemCodePage::Cp437), u'\u00A0');
  EXPECT_EQ(OemToUnicode('A', OemCodePage::Cp850), u'A');

  auto name = [](const char* name11, std::uint8_t caseBits) {
    std::uint8_t e[32] = {};
    PutShortEntry(e, name11, 0x20, 5, 1, caseBits);
    return DecodeShortName(e, OemCodePage::Cp437);
  };
  EXPECT_EQ(name("REPORT  DOC", 0), u"REPORT.DOC");
  EXPECT_EQ(name("X_0     TXT", 0x18), u"x_0.txt");
  EXPECT_EQ(name("README_4JPG", 0x10), u"README_4.jpg");
  EXPECT_EQ(name("TMP8       ", 0x08), u"tmp8");
  EXPECT_EQ(name("\x9A" "BERPR~1TXT", 0), u"\u00DC" u"BERPR~1.TXT");
  EXPECT_EQ(name("\xE5" "EPORT  DOC", 0), u"XEPORT.DOC");
  EXPECT_EQ(name("\x05" "ABC    TXT", 0), u"\u03C3" u"ABC.TXT");  // 0x05 stands for 0xE5
}

TEST(FatShortNames, ChecksumAsLongNamePartsCarryIt) {
  // Values from the corpus FAT32 root, written by the Linux vfat driver.
  EXPECT_EQ(ShortNameChecksum(reinterpret_cast<const std::uint8_t*>("FILEWI~1AU ")), 0x3D);
  EXPECT_EQ(ShortNameChecksum(reinterpret_cast<const std::uint8_t*>("README~1PNG")), 0x58);
}

// ---- validation ----

TEST(FatEntryValidation, Fat16Rules) {
  Harness h;
  FatImage image = SmallFat16();
  PutDotEntries(image.Cluster(40), 40, 0);
  auto engine = ReadyEngine(h, image);
  const std::uint32_t hi = engine->HighestCluster();

  std::array<std::uint8_t, 32> lfn{};
  std::memset(lfn.data(), 0xA7, 32);
  lfn[11] = 0x0F;
  EXPECT_EQ(engine->ValidateDirEntry(lfn.data(), hi, nullptr), kDirEntrySkip);

  EXPECT_EQ(engine->ValidateDirEntry(Entry("PLAIN   TXT", 0x00, 5).data(), hi, nullptr), kDirEntryInvalid);
  EXPECT_EQ(engine->ValidateDirEntry(Entry("PLAIN   TXT", 0x01, 5).data(), hi, nullptr), kDirEntryInvalid);
  EXPECT_EQ(engine->ValidateDirEntry(Entry("PLAIN   TXT", 0x20, 5).data(), hi, nullptr), kDirEntryValid);
  EXPECT_EQ(engine->ValidateDirEntry(Entry("A:B     TXT", 0x20, 5).data(), hi, nullptr), kDirEntryInvalid);
  EXPECT_EQ(engine->ValidateDirEntry(Entry("AB      T:T", 0x20, 5).data(), hi, nullptr), kDirEntryValid);
  EXPECT_EQ(engine->ValidateDirEntry(Entry("PLAIN   TXT", 0x40, 5).data(), hi, nullptr), kDirEntryInvalid);
  EXPECT_EQ(engine->ValidateDirEntry(Entry("PLAIN   TXT", 0x20, hi + 1).data(), hi, nullptr), kDirEntryInvalid);
  EXPECT_EQ(engine->ValidateDirEntry(Entry("PLAIN   TXT", 0x20, 5, 0xFFFFFFFF).data(), hi, nullptr),
            kDirEntryInvalid);
  EXPECT_EQ(engine->ValidateDirEntry(Entry("PLAIN   TXT", 0x20, 1).data(), hi, nullptr), kDirEntrySkip);

  auto month13 = Entry("DIR        ", 0x10, 40);
  fattest::SetLE16(month13.data() + 24, (46 << 9) | (13 << 5) | 7);
  EXPECT_EQ(engine->ValidateDirEntry(month13.data(), hi, nullptr), kDirEntryInvalid);
  auto day0 = Entry("PLAIN   TXT", 0x20, 5);
  fattest::SetLE16(day0.data() + 24, (46 << 9) | (12 << 5));
  EXPECT_EQ(engine->ValidateDirEntry(day0.data(), hi, nullptr), kDirEntryInvalid);

  EXPECT_EQ(engine->ValidateDirEntry(Entry("DIR        ", 0x10, 40).data(), hi, nullptr), kDirEntryValid);
  EXPECT_EQ(engine->ValidateDirEntry(Entry("DIR        ", 0x10, 41).data(), hi, nullptr), kDirEntryInvalid);
  // Deleted folders are probed on FAT32 only.
  EXPECT_EQ(engine->ValidateDirEntry(Entry("\xE5IR        ", 0x10, 41).data(), hi, nullptr), kDirEntryInvalid);

  EXPECT_EQ(engine->ValidateDirEntry(Entry("LABEL      ", 0x08, 0).data(), hi, nullptr), kDirEntrySkip);
  EXPECT_EQ(engine->ValidateDirEntry(Entry("LABEL      ", 0x28, 0).data(), hi, nullptr), kDirEntrySkip);
}

TEST(FatEntryValidation, TheLastDataClusterIsTheLastOneAnyCheckAccepts) {
  for (const std::uint8_t kind : {kFat16, kFat32}) {
    SCOPED_TRACE(kind == kFat16 ? "FAT16" : "FAT32");
    Harness h;
    FatImage image = kind == kFat16 ? SmallFat16() : SmallFat32();
    // Clusters 2 .. N + 1 hold data, N = data sectors / sectors per cluster
    // (one sector per cluster here).
    const auto last = static_cast<std::uint32_t>(8192 - image.DataStart() + 1);
    PutDotEntries(image.Cluster(last), last, 0);
    auto engine = ReadyEngine(h, image);
    ASSERT_EQ(engine->LastDataCluster(), last);
    const std::uint32_t hi = engine->HighestCluster();

    for (const std::uint8_t attr : {std::uint8_t{0x20}, std::uint8_t{0x10}}) {
      const auto inside = Entry(attr == 0x20 ? "LAST    BIN" : "LASTDIR    ", attr, last);
      const auto beyond = Entry(attr == 0x20 ? "PAST    BIN" : "PASTDIR    ", attr, last + 1);
      EXPECT_EQ(engine->ValidateDirEntry(inside.data(), hi, nullptr), kDirEntryValid) << int(attr);
      EXPECT_EQ(engine->ValidateDirEntryStrict(inside.data(), hi), kDirEntryValid) << int(attr);
      EXPECT_EQ(engine->ValidateDirEntry(beyond.data(), hi, nullptr), kDirEntryInvalid) << int(attr);
      EXPECT_EQ(engine->ValidateDirEntryStrict(beyond.data(), hi), kDirEntryInvalid) << int(attr);
      FoundItemInfo record;
      std::u16string name;
      EXPECT_TRUE(engine->DecodeDirEntry(0, name, inside, record, kNoCluster, 0, false)) << int(attr);
      EXPECT_FALSE(engine->DecodeDirEntry(0, name, beyond, record, kNoCluster, 0, false)) << int(attr);
    }
  }
}

TEST(FatEntryValidation, DeletedFat32FolderRecoversTheHighHalfOfItsCluster) {
  Harness h;
  FatImage image = BigFat32();
  const std::uint32_t real = 0x20000 | 0x0123;
  PutDotEntries(image.Cluster(real), real, 0);
  auto engine = ReadyEngine(h, image);
  const std::uint32_t hi = engine->HighestCluster();
  ASSERT_GT(hi, real);

  const auto deleted = Entry("\xE5OLDER     ", 0x10, 0x0123);
  std::uint32_t found = 99;
  EXPECT_EQ(engine->ValidateDirEntry(deleted.data(), hi, &found), kDirEntryValid);
  EXPECT_EQ(found, real);
  EXPECT_EQ(engine->ValidateDirEntryStrict(deleted.data(), hi), kDirEntryInvalid);

  const auto nowhere = Entry("\xE5OLDER     ", 0x10, 0x0456);
  EXPECT_EQ(engine->ValidateDirEntry(nowhere.data(), hi, &found), kDirEntryValid);
  EXPECT_EQ(found, 0u);
  EXPECT_EQ(engine->ValidateDirEntry(Entry("\xE5OLDER     ", 0x10, 1).data(), hi, &found), kDirEntrySkip);
  // A live folder is never probed.
  EXPECT_EQ(engine->ValidateDirEntry(Entry("FOLDER     ", 0x10, 0x0123).data(), hi, &found), kDirEntryInvalid);
}

// ---- decoding ----

class FatDecode : public ::testing::Test {
 protected:
  // Decodes entries written at the start of cluster 100's buffer.
  bool Decode(FatEngine& engine, const std::vector<std::uint8_t>& entries, std::uint32_t offset,
              FoundItemInfo& record, std::u16string& name, std::uint32_t previous = kNoCluster) {
    return engine.DecodeDirEntry(offset, name, entries, record, previous, 0, false);
  }
};

TEST_F(FatDecode, LiveFileRecordFields) {
  Harness h;
  FatImage image = BigFat32();
  auto engine = ReadyEngine(h, image);
  std::vector<std::uint8_t> dir(512);
  PutShortEntry(dir.data(), "DATA    BIN", 0x21, 0x12345, 4000);
  fattest::SetLE16(dir.data() + 14, 0x1111);  // creation time
  fattest::SetLE16(dir.data() + 16, 0x2222);  // creation date
  FoundItemInfo record;
  record.extra[0] = 0xAA;
  std::u16string name;
  const std::uint32_t id = engine->Poster()->NextId();
  ASSERT_TRUE(Decode(*engine, dir, 0, record, name));
  EXPECT_EQ(name, u"DATA.BIN");
  EXPECT_EQ(record.itemId, id);
  EXPECT_EQ(engine->Poster()->NextId(), id + 1);
  EXPECT_EQ(record.location, 0x12345u);
  EXPECT_EQ(record.size, 4000u);
  EXPECT_EQ(record.attribute, 0x21);
  EXPECT_EQ(record.flags, 0);
  EXPECT_EQ(record.modifiedTime, fattest::kTime | (std::uint64_t{fattest::kDate} << 32));
  EXPECT_EQ(record.creationTime, 0x1111u | (std::uint64_t{0x2222} << 32));
  EXPECT_EQ(record.extra[0], 0);

  // The 73-byte image: DOS time word, then date word, each widened to 32 bits.
  std::array<std::uint8_t, kFoundItemInfoSize> bytes{};
  record.Encode(bytes);
  EXPECT_EQ(GetLE32(bytes.data() + 45), fattest::kTime);
  EXPECT_EQ(GetLE32(bytes.data() + 49), fattest::kDate);
  EXPECT_EQ(GetLE32(bytes.data() + 53), 0x1111u);
  EXPECT_EQ(GetLE32(bytes.data() + 57), 0x2222u);

  // Folders have no size; "." entries, labels and long-name parts are no items.
  PutShortEntry(dir.data() + 32, "SUB        ", 0x10, 0x200, 77);
  ASSERT_TRUE(Decode(*engine, dir, 32, record, name));
  EXPECT_EQ(record.size, 0u);
  PutShortEntry(dir.data() + 64, ".          ", 0x10, 0x200, 0);
  PutShortEntry(dir.data() + 96, "LABEL      ", 0x08, 0, 0);
  PutShortEntry(dir.data() + 128, "EMPTY   TXT", 0x20, 0, 0);
  for (std::uint32_t at : {64u, 96u, 128u}) EXPECT_FALSE(Decode(*engine, dir, at, record, name)) << at;
}

TEST_F(FatDecode, LongNamesCapsAndChecksums) {
  Harness h;
  FatImage image = SmallFat16();
  auto engine = ReadyEngine(h, image);

  std::vector<std::uint8_t> dir(4096);
  std::size_t at = PutNamedEntry(dir.data(), u"sym-\u2605 4 with a long name.txt", "SYM-_4~1TXT", 0x20, 50, 10);
  FoundItemInfo record;
  std::u16string name;
  ASSERT_TRUE(Decode(*engine, dir, static_cast<std::uint32_t>(at - 32), record, name));
  EXPECT_EQ(name, u"sym-\u2605 4 with a long name.txt");

  // Twenty parts fill 260 units: the name keeps 255.
  std::fill(dir.begin(), dir.end(), 0);
  at = PutNamedEntry(dir.data(), std::u16string(260, u'n'), "NNNNNN~1   ", 0x20, 50, 10);
  ASSERT_TRUE(Decode(*engine, dir, static_cast<std::uint32_t>(at - 32), record, name));
  EXPECT_EQ(name, std::u16string(255, u'n'));

  // Twenty-one parts are more than a name can have.
  std::fill(dir.begin(), dir.end(), 0);
  at = PutNamedEntry(dir.data(), std::u16string(273, u'n'), "NNNNNN~1   ", 0x20, 50, 10);
  EXPECT_FALSE(Decode(*engine, dir, static_cast<std::uint32_t>(at - 32), record, name));

  // Parts left from an older name in front of a reused live entry are not its name.
  std::fill(dir.begin(), dir.end(), 0);
  at = PutNamedEntry(dir.data(), u"old long name.txt", "OLDLON~1TXT", 0x20, 50, 10);
  PutShortEntry(dir.data() + at - 32, "NEW     TXT", 0x20, 60, 10);
  record = {};
  ASSERT_TRUE(Decode(*engine, dir, static_cast<std::uint32_t>(at - 32), record, name));
  EXPECT_EQ(name, u"NEW.TXT");
}

TEST_F(FatDecode, LongNameBeginsInThePreviousCluster) {
  Harness h;
  FatImage image = FatImage(kFat16, 16384, 2, 1, 64, 512);  // two sectors a cluster
  std::vector<std::uint8_t> parts;
  const std::u16string longName = u"A name that starts in one cluster and ends in the next.txt";
  const std::size_t count = fattest::LongNameParts(parts, longName, "ANAMET~1TXT");
  ASSERT_EQ(count, 5u);
  // Three parts end cluster 10, two more and the short entry open cluster 11.
  std::uint8_t* end10 = image.Cluster(10) + image.ClusterBytes() - 3 * 32;
  std::memcpy(end10, parts.data(), 3 * 32);
  std::vector<std::uint8_t> next(image.ClusterBytes());
  std::memcpy(next.data(), parts.data() + 3 * 32, 2 * 32);
  PutShortEntry(next.data() + 64, "ANAMET~1TXT", 0x20, 50, 10);
  auto engine = ReadyEngine(h, image);
  FoundItemInfo record;
  std::u16string name;
  ASSERT_TRUE(Decode(*engine, next, 64, record, name, 10));
  EXPECT_EQ(name, longName);
  // Without the previous cluster only the parts at hand are there.
  ASSERT_TRUE(Decode(*engine, next, 64, record, name, kNoCluster));
  EXPECT_NE(name, longName);
}

TEST_F(FatDecode, DeletedEntriesProbeForTheirFirstCluster) {
  Harness h;
  FatImage image = BigFat32();
  const std::uint8_t ole[] = {0xD0, 0xCF, 0x11, 0xE0};
  const std::uint8_t zip[] = {0x50, 0x4B, 0x03, 0x04};
  std::memcpy(image.Cluster(0x10000 | 300), ole, 4);   // candidate 2 for low half 300
  std::memcpy(image.Cluster(0x20000 | 400), "\xFF\xD8\xFF\xE0", 4);  // candidate 3 for 400
  std::memcpy(image.Cluster(0x10000 | 500), ole, 4);
  std::memcpy(image.Cluster(0x20000 | 500), zip, 4);
  std::memcpy(image.Cluster(0x10000 | 600), ole, 4);
  PutDotEntries(image.Cluster(0x20000 | 700), 0x20000 | 700, 0);
  auto engine = ReadyEngine(h, image);

  std::vector<std::uint8_t> dir(1024);
  FoundItemInfo record;
  std::u16string name;
  PutShortEntry(dir.data(), "\xE5" "EPORT  DOC", 0x20, 300, 1000);
  ASSERT_TRUE(Decode(*engine, dir, 0, record, name));
  EXPECT_EQ(name, u"XEPORT.DOC");
  EXPECT_TRUE(record.IsDeleted());
  EXPECT_EQ(record.location, 0x10000u | 300);

  // The long name's extension decides; "JPG" matches "jpg" whatever its case.
  std::fill(dir.begin(), dir.end(), 0);
  std::size_t at = PutNamedEntry(dir.data(), u"photo.JPG", "PHOTO   JPG", 0x20, 400, 1000);
  for (std::size_t i = 0; i < at; i += 32) dir[i] = 0xE5;
  record = {};
  ASSERT_TRUE(Decode(*engine, dir, static_cast<std::uint32_t>(at - 32), record, name));
  EXPECT_EQ(name, u"photo.JPG");
  EXPECT_EQ(record.location, 0x20000u | 400);

  // "docx" is the second row of the table (PK 03 04), not the first.
  std::fill(dir.begin(), dir.end(), 0);
  at = PutNamedEntry(dir.data(), u"letter.docx", "LETTER~1DOC", 0x20, 500, 1000);
  for (std::size_t i = 0; i < at; i += 32) dir[i] = 0xE5;
  record = {};
  ASSERT_TRUE(Decode(*engine, dir, static_cast<std::uint32_t>(at - 32), record, name));
  EXPECT_EQ(record.location, 0x20000u | 500);

  // "do" is the beginning of "doc".
  std::fill(dir.begin(), dir.end(), 0);
  PutShortEntry(dir.data(), "\xE5" "ETTER  DO ", 0x20, 600, 1000);
  record = {};
  ASSERT_TRUE(Decode(*engine, dir, 0, record, name));
  EXPECT_EQ(record.location, 0x10000u | 600);

  // An extension outside the table is not probed.
  PutShortEntry(dir.data(), "\xE5" "ETTER  TXT", 0x20, 600, 1000);
  record = {};
  ASSERT_TRUE(Decode(*engine, dir, 0, record, name));
  EXPECT_EQ(record.location, 600u);

  // Inside a deleted folder every entry is deleted, first byte or not; a
  // folder is confirmed by its "." and ".." entries.
  PutShortEntry(dir.data(), "INNER      ", 0x10, 700, 0);
  record = {};
  record.flags = kItemDeleted;
  ASSERT_TRUE(Decode(*engine, dir, 0, record, name));
  EXPECT_EQ(record.location, 0x20000u | 700);
  EXPECT_EQ(record.attribute, kItemFolder);
  PutShortEntry(dir.data(), "\xE5NNER      ", 0x10, 800, 0);
  record = {};
  EXPECT_TRUE(engine->DecodeDirEntry(0, name, dir, record, kNoCluster, 0, false));
  EXPECT_EQ(record.location, 800u);
  record = {};
  EXPECT_FALSE(engine->DecodeDirEntry(0, name, dir, record, kNoCluster, 0, true));
}

// ---- hand-over ----

TEST(FatHandOver, QueuedFoldersArriveOutermostFirstWithTheirFieldsOnly) {
  Harness h;
  test::RecordingFoundItemSink console;
  FatEngine engine(h.app);
  engine.AttachWindows(&console, &h.progress);
  engine.DropLastQueuedItem();  // nothing queued: nothing happens
  for (std::uint32_t id : {2u, 3u, 4u}) {
    FoundItemInfo folder;
    folder.attribute = kItemFolder;
    folder.itemId = id;
    folder.parentId = id - 1;
    folder.location = 100 + id;
    folder.extra = {9, 9, 9, 9, 9, 9, 9, 9, 9};
    folder.state = 7;
    std::u16string name = u"F";
    name.push_back(static_cast<char16_t>(u'0' + id));
    engine.QueueItem(folder, name);
  }
  engine.DropLastQueuedItem();
  engine.FlushPendingItems();
  ASSERT_EQ(console.items.size(), 2u);
  EXPECT_EQ(console.items[0].name, u"F2");
  EXPECT_EQ(console.items[1].name, u"F3");
  EXPECT_EQ(console.items[1].record.location, 103u);
  EXPECT_EQ(console.items[1].record.parentId, 2u);
  EXPECT_EQ(console.items[1].record.state, 0);
  EXPECT_EQ(console.items[1].record.extra, (std::array<std::uint8_t, 9>{}));
  EXPECT_FALSE(engine.Poster()->HasQueued());
  EXPECT_EQ(engine.Poster()->Folders(), 2u);
  engine.FlushPendingItems();
  EXPECT_EQ(console.items.size(), 2u);
}

}  // namespace
}  // namespace corvan
