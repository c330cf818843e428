// What Quick, Deleted and Advance Recovery list for the same records, over
// small volumes built from the format's description: the dates each takes
// from the attribute it reads them from, the sizes a file's runs back
// (sparse files larger than their volume, size fields no run backs), the
// compressed and encrypted flags, and what a volume without NTFS says.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/CORVANApp.h"
#include "engines/ntfs/NtfsEngine.h"
#include "engines/ntfs/ntfs_test_records.h"
#include "platform/TextConv.h"
#include "sources/SectorSource.h"
#include "support/NtfsImageBuilder.h"
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

constexpr std::uint32_t kCluster = 512;
constexpr char kInvalidVolume[] = "Not a valid volume, or critical data structure of volume badly corrupt.";

enum class Mode { Quick, Deleted, Advance };

class NtfsModes : public ::testing::Test {
 protected:
  NtfsModes() : app_(dir_ / "settings.ini", dir_.path()), image_(1, 600, 4, 96) { app_.m_pPrompt = &prompt_; }

  // Runs `mode` over `volume` with fresh sinks.
  void Run(Mode mode, const Bytes& volume) {
    items_ = {};
    prompt_ = {};
    engine_ = test::EngineOverDisk(app_, std::make_shared<MemorySectorSource>(volume), &items_, &progress_);
    if (mode == Mode::Advance) engine_->DeepScan();
    else engine_->ScanVolume(mode == Mode::Deleted);
  }
  void PutRoot(const std::vector<Bytes>& entries) {
    img::RecordBuilder r;
    r.number = 5;
    r.flags = test::kDirInUse;
    r.Add(img::Resident(0x10, img::StdInfo(test::kInfoCreated, test::kInfoModified, 0x16), u"", 0))
        .Add(img::Resident(0x30, Key(5, u".", 3, test::kFolderFlags), u"", 1))
        .Add(img::Resident(0x90, img::IndexRoot(entries, 4096, false), u"$I30", 2));
    image_.PutRecord(5, r.Build());
  }
  const test::RecordedItem* Named(const std::u16string& name) const {
    const test::RecordedItem* found = nullptr;
    for (const auto& item : items_.items) {
      if (item.name != name) continue;
      EXPECT_EQ(found, nullptr) << Utf16ToUtf8(name) << " listed twice";
      found = &item;
    }
    return found;
  }
  // The item's bytes; a walk that goes on past `limit` bytes is stopped.
  Bytes Data(const test::RecordedItem& item, WalkResult& result, std::size_t limit = 8u << 20) {
    Bytes out;
    result = engine_->ReadFoundItem(item.record, [&](const DataBlock& b) {
      out.insert(out.end(), b.bytes.begin(), b.bytes.end());
      return out.size() <= limit;
    });
    return out;
  }

  test::TempDir dir_;
  test::RecordingPrompt prompt_;
  CORVANApp app_;
  img::NtfsImage image_;
  std::unique_ptr<NtfsEngine> engine_;
  test::RecordingFoundItemSink items_;
  test::RecordingProgressSink progress_;
};

const char* ModeName(Mode m) { return m == Mode::Quick ? "Quick" : m == Mode::Deleted ? "Deleted" : "Advance"; }

TEST_F(NtfsModes, DatesComeFromTheIndexKeyOrFromStandardInformation) {
  image_.PutRecord(20, FileRecord(20, 5, u"live.txt", img::Resident(0x80, {'l'}, u"", 2)));
  image_.PutRecord(21, FileRecord(21, 5, u"gone.txt", img::Resident(0x80, {'g'}, u"", 2), 0));
  PutRoot({Entry(20, 5, u"live.txt")});
  const Bytes volume = image_.Finish();

  // The builder keeps all eight times of a record apart.
  const img::Times info = img::TimesOf(test::kInfoCreated, test::kInfoModified);
  const img::Times name = img::TimesOf(test::kCreated, test::kModified);
  const std::set<std::uint64_t> all{info.creation, info.modification, info.changed, info.accessed,
                                    name.creation, name.modification, name.changed, name.accessed};
  ASSERT_EQ(all.size(), 8u);

  // An item listed from a folder's index has the index entry's times (a
  // copy of $FILE_NAME's); one built from its record has those of
  // $STANDARD_INFORMATION.
  Run(Mode::Quick, volume);
  ASSERT_NE(Named(u"live.txt"), nullptr);
  EXPECT_EQ(Named(u"live.txt")->record.creationTime, name.creation);
  EXPECT_EQ(Named(u"live.txt")->record.modifiedTime, name.modification);
  ASSERT_NE(Named(u"gone.txt"), nullptr);
  EXPECT_EQ(Named(u"gone.txt")->record.creationTime, info.creation);
  EXPECT_EQ(Named(u"gone.txt")->record.modifiedTime, info.modification);

  Run(Mode::Deleted, volume);
  ASSERT_NE(Named(u"gone.txt"), nullptr);
  EXPECT_EQ(Named(u"gone.txt")->record.creationTime, info.creation);
  EXPECT_EQ(Named(u"gone.txt")->record.modifiedTime, info.modification);

  Run(Mode::Advance, volume);
  for (const char16_t* n : {u"live.txt", u"gone.txt"}) {
    ASSERT_NE(Named(n), nullptr);
    EXPECT_EQ(Named(n)->record.creationTime, info.creation);
    EXPECT_EQ(Named(n)->record.modifiedTime, info.modification);
  }
}

TEST_F(NtfsModes, ASparseFileLargerThanItsVolumeIsListedWithItsSizeAndReadsAsItsRunsAndZeros) {
  // Two clusters at the start, a hole of 2000 clusters, two at the end: the
  // file maps 2004 clusters, more than three times the volume's 600.
  constexpr std::uint64_t kMapped = 2004;
  const std::uint64_t size = kMapped * kCluster - 100;
  ASSERT_GT(size, std::uint64_t{600} * kCluster);
  auto sparse = [&](std::uint32_t number, const std::u16string& fileName, std::uint16_t flags, int seed) {
    const Bytes head = test::Pattern(2 * kCluster, seed), tail = test::Pattern(2 * kCluster, seed + 1);
    const std::uint64_t a = image_.Allocate(2), b = image_.Allocate(2);
    image_.WriteClusters(a, head);
    image_.WriteClusters(b, tail);
    const Bytes pairs = img::Pairs({{a, 2}, {0, kMapped - 4, true}, {b, 2}});
    image_.PutRecord(number, FileRecord(number, 5, fileName,
                                        img::NonResident(0x80, pairs, 0, kMapped - 1, kMapped * kCluster, size,
                                                         size, 0, 0x8000, u"", 2),
                                        flags));
    Bytes expected = head;
    expected.resize((kMapped - 2) * kCluster, 0);
    expected.insert(expected.end(), tail.begin(), tail.end());
    expected.resize(size);
    return expected;
  };
  const Bytes live = sparse(30, u"sparse.bin", img::kInUse, 1);
  const Bytes gone = sparse(31, u"sparse-gone.bin", 0, 3);
  PutRoot({Entry(30, 5, u"sparse.bin", 1, 0x220, size)});
  const Bytes volume = image_.Finish();

  for (Mode mode : {Mode::Quick, Mode::Deleted, Mode::Advance}) {
    SCOPED_TRACE(ModeName(mode));
    Run(mode, volume);
    std::map<std::u16string, const Bytes*> expected{{u"sparse-gone.bin", &gone}};
    if (mode != Mode::Deleted) expected[u"sparse.bin"] = &live;
    for (const auto& [fileName, bytes] : expected) {
      const test::RecordedItem* item = Named(fileName);
      ASSERT_NE(item, nullptr) << Utf16ToUtf8(fileName);
      EXPECT_EQ(item->record.size, size);
      EXPECT_EQ(item->record.IsDeleted(), fileName == u"sparse-gone.bin");
      WalkResult r;
      EXPECT_EQ(Data(*item, r), *bytes);
      EXPECT_TRUE(r.Clean());
    }
  }
}

TEST_F(NtfsModes, SizesNoRunBacksAreBoundedInTheListAndInTheReads) {
  // A deleted record whose real size reads 9 PB over three clusters.
  const Bytes three = test::Pattern(3 * kCluster, 5);
  const std::uint64_t a = image_.Allocate(3);
  image_.WriteClusters(a, three);
  image_.PutRecord(40, FileRecord(40, 5, u"huge.bin",
                                  img::NonResident(0x80, img::Pairs({{a, 3}}), 0, 2, 3 * kCluster,
                                                   9000000000000000ull, 3 * kCluster, 0, 0, u"", 2),
                                  0));
  // The same size in a live file's record, named in the root's index with
  // a size that looks plausible.
  image_.PutRecord(43, FileRecord(43, 5, u"huge-live.bin",
                                  img::NonResident(0x80, img::Pairs({{a, 3}}), 0, 2, 3 * kCluster,
                                                   9000000000000000ull, 3 * kCluster, 0, 0, u"", 2)));
  // A real size the volume could hold, over one cluster.
  const Bytes one = test::Pattern(kCluster, 6);
  const std::uint64_t b = image_.Allocate(1);
  image_.WriteClusters(b, one);
  image_.PutRecord(41, FileRecord(41, 5, u"tall.bin",
                                  img::NonResident(0x80, img::Pairs({{b, 1}}), 0, 0, kCluster,
                                                   600 * kCluster - 1000, kCluster, 0, 0, u"", 2),
                                  0));
  // A hole of 2^44 clusters and a size to match, but an allocated size that
  // says one cluster: the fields disagree, so no sparse file stands here.
  const Bytes lone = test::Pattern(kCluster, 7);
  const std::uint64_t c = image_.Allocate(1);
  image_.WriteClusters(c, lone);
  constexpr std::uint64_t kHole = std::uint64_t{1} << 44;
  image_.PutRecord(42, FileRecord(42, 5, u"holey.bin",
                                  img::NonResident(0x80, img::Pairs({{c, 1}, {0, kHole, true}}), 0, kHole,
                                                   kCluster, kHole * kCluster, kCluster, 0, 0x8000, u"", 2),
                                  0));
  PutRoot({Entry(43, 5, u"huge-live.bin", 1, 0x20, 3 * kCluster)});
  const Bytes volume = image_.Finish();

  for (Mode mode : {Mode::Quick, Mode::Deleted, Mode::Advance}) {
    SCOPED_TRACE(ModeName(mode));
    Run(mode, volume);
    EXPECT_EQ(Named(u"huge-live.bin"), nullptr);
    // The record passes drop a file whose size the volume cannot hold and
    // nothing backs; Deleted Recovery lists it with what its runs hold.
    std::map<std::u16string, const Bytes*> expected{{u"tall.bin", &one}};
    if (mode == Mode::Deleted) {
      expected[u"huge.bin"] = &three;
      expected[u"holey.bin"] = &lone;
    } else {
      EXPECT_EQ(Named(u"huge.bin"), nullptr);
      EXPECT_EQ(Named(u"holey.bin"), nullptr);
    }
    for (const auto& [fileName, bytes] : expected) {
      const test::RecordedItem* item = Named(fileName);
      ASSERT_NE(item, nullptr) << Utf16ToUtf8(fileName);
      EXPECT_EQ(item->record.size, bytes->size()) << Utf16ToUtf8(fileName);
      WalkResult r;
      EXPECT_EQ(Data(*item, r), *bytes) << Utf16ToUtf8(fileName);
      EXPECT_TRUE(r.Clean()) << "the read went past the runs";
    }
  }
}

TEST_F(NtfsModes, CompressedAndEncryptedFlagsFollowTheirAttributeBits) {
  // File attribute bits: 0x0800 compressed, 0x4000 encrypted, 0x2000 not
  // content indexed, 0x0200 sparse, 0x0001 read-only. A file is never both
  // compressed and encrypted: the pair is shown as neither.
  const std::vector<std::pair<std::uint32_t, std::uint8_t>> cases{
      {0x0800, kItemCompressed}, {0x0801, kItemCompressed}, {0x2800, kItemCompressed},
      {0x0A00, kItemCompressed}, {0x4000, kItemEncrypted},  {0x6000, kItemEncrypted},
      {0x4800, 0},               {0x2020, 0}};
  std::vector<Bytes> entries, inFolder;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto number = static_cast<std::uint32_t>(20 + i);
    const std::u16string fileName = u"f" + Utf8ToUtf16(std::to_string(i));
    // The live file's index entry carries the bits; the deleted twin's
    // $STANDARD_INFORMATION does, over data that is neither.
    // Half of them in a folder: a resident index holds only a few entries.
    const std::uint32_t parent = i < 4 ? 5 : 60;
    image_.PutRecord(number, FileRecord(number, parent, fileName, img::Resident(0x80, {'x'}, u"", 2)));
    (i < 4 ? entries : inFolder).push_back(Entry(number, parent, fileName, 1, cases[i].first, 1));
    img::RecordBuilder gone;
    gone.number = number + 20;
    gone.flags = 0;
    gone.Add(img::Resident(0x10, img::StdInfo(test::kInfoCreated, test::kInfoModified, cases[i].first), u"", 0))
        .Add(img::Resident(0x30, Key(5, u"gone-" + fileName, 1, 0x20), u"", 1))
        .Add(img::Resident(0x80, {'y'}, u"", 2));
    image_.PutRecord(number + 20, gone.Build());
  }
  image_.PutRecord(60, FolderRecord(60, 5, u"sub", inFolder));
  entries.push_back(Entry(60, 5, u"sub", 1, test::kFolderFlags));
  PutRoot(entries);
  const Bytes volume = image_.Finish();

  for (Mode mode : {Mode::Quick, Mode::Deleted, Mode::Advance}) {
    SCOPED_TRACE(ModeName(mode));
    Run(mode, volume);
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const std::u16string fileName = u"f" + Utf8ToUtf16(std::to_string(i));
      const test::RecordedItem* deleted = Named(u"gone-" + fileName);
      ASSERT_NE(deleted, nullptr);
      EXPECT_EQ(deleted->record.flags & (kItemCompressed | kItemEncrypted), cases[i].second)
          << std::hex << cases[i].first;
      if (mode != Mode::Quick) continue;
      const test::RecordedItem* live = Named(fileName);
      ASSERT_NE(live, nullptr);
      EXPECT_EQ(live->record.flags & (kItemCompressed | kItemEncrypted), cases[i].second)
          << std::hex << cases[i].first;
    }
  }
}

TEST_F(NtfsModes, AVolumeWithoutNtfsSaysSoOnceInEveryMode) {
  const Bytes noise = test::Pattern(2u << 20, 11);
  for (Mode mode : {Mode::Quick, Mode::Deleted, Mode::Advance}) {
    SCOPED_TRACE(ModeName(mode));
    Run(mode, noise);
    EXPECT_EQ(prompt_.texts, std::vector<std::string>{kInvalidVolume});
    EXPECT_EQ(prompt_.pictures, std::vector<unsigned>{kPicError});
    EXPECT_EQ(prompt_.types, std::vector<unsigned>{kMbOk});
    EXPECT_TRUE(items_.items.empty());
  }
  EXPECT_NE(app_.LogViewText().find("No NTFS file records were found on this volume."), std::string::npos);

  // A volume whose boot sectors are gone but whose records are there is
  // NTFS: Deleted Recovery, which needs the $MFT, lists nothing and asks
  // nothing, and the log says why.
  image_.PutRecord(20, FileRecord(20, 5, u"a.txt", img::Resident(0x80, {'a'}, u"", 2), 0));
  PutRoot({});
  Bytes damaged = image_.Finish();
  std::fill(damaged.begin(), damaged.begin() + 512, 0);
  std::fill(damaged.end() - 512, damaged.end(), 0);
  Run(Mode::Deleted, damaged);
  EXPECT_TRUE(prompt_.texts.empty());
  EXPECT_NE(app_.LogViewText().find("The $MFT of this volume could not be read"), std::string::npos);

  // Stopped before anything was found: nothing is called invalid.
  app_.m_bAbort = 1;
  Run(Mode::Deleted, noise);
  EXPECT_TRUE(prompt_.texts.empty());
  app_.m_bAbort = 0;
}

}  // namespace
}  // namespace corvan
