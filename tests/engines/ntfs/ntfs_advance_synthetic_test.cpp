// Advance Recovery over small volumes built from the format's description:
// the tree from found records (order, ids, lost folders, loops), stale
// copies of records outside the $MFT, records with their update sequence at
// 0x2A, the bounds of the search, and the free space it offers to the
// signature matcher.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "app/CORVANApp.h"
#include "engines/ntfs/ntfs_test_records.h"
#include "engines/ntfs/NtfsEngine.h"
#include "platform/TextConv.h"
#include "sources/SectorSource.h"
#include "support/RecordingSinks.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

namespace img = test::ntfsimg;
using img::Bytes;
using test::FileRecord;
using test::FolderRecord;
using test::Key;

constexpr std::uint32_t kLostId = 0x00FFFFFF;

// Reads of the mounted disk, written down.
class CountingSource final : public SectorSource {
 public:
  explicit CountingSource(Bytes bytes) : inner_(std::move(bytes)) {}
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    reads.push_back({sector, bytes});
    return inner_.ReadSectors(sector, buffer, bytes);
  }
  std::uint64_t SectorCount() const override { return inner_.SectorCount(); }
  std::vector<std::pair<std::uint64_t, std::size_t>> reads;

 private:
  MemorySectorSource inner_;
};

class NtfsAdvanceSynthetic : public ::testing::Test {
 protected:
  NtfsAdvanceSynthetic() : app_(dir_ / "settings.ini", dir_.path()) { app_.m_pPrompt = &prompt_; }

  // A volume with the $MFT at cluster 4 and a root folder.
  img::NtfsImage& Image(std::uint32_t spc = 1, std::uint64_t clusters = 600, std::uint32_t mftRecords = 96) {
    image_ = std::make_unique<img::NtfsImage>(spc, clusters, 4, mftRecords);
    image_->PutRecord(5, FolderRecord(5, 5, u".", {}));
    return *image_;
  }
  bool Run(Bytes volume, std::uint64_t sectorCount = 0, FreeSpaceHitCollector* collector = nullptr) {
    source_ = std::make_shared<CountingSource>(std::move(volume));
    engine_ = test::EngineOverDisk(app_, source_, &items_, &progress_, sectorCount);
    engine_->SetFreeSpaceHitCollector(collector);
    return engine_->DeepScan();
  }
  bool Run() { return Run(image_->Finish()); }

  void Folder(std::uint32_t n, std::uint32_t parent, const std::u16string& name) {
    image_->PutRecord(n, FolderRecord(n, parent, name, {}));
  }
  void File(std::uint32_t n, std::uint32_t parent, const std::u16string& name) {
    image_->PutRecord(n, FileRecord(n, parent, name, img::Resident(0x80, {'d', 'a', 't', 'a'}, u"", 2)));
  }
  // A record written outside the $MFT, at volume sector `sector`.
  static void PutAt(Bytes& volume, std::uint64_t sector, const Bytes& record) {
    std::copy(record.begin(), record.end(), volume.begin() + static_cast<std::ptrdiff_t>(sector * 512));
  }

  std::vector<std::string> PathsOf(const std::u16string& name) const {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < items_.items.size(); ++i) {
      if (items_.items[i].name != name) continue;
      const auto p = items_.PathOf(i, NtfsEngine::kRootRecord);
      out.push_back(p ? Utf16ToUtf8(*p) : "?");
    }
    return out;
  }
  std::size_t IndexOf(const std::u16string& name) const {
    for (std::size_t i = 0; i < items_.items.size(); ++i)
      if (items_.items[i].name == name) return i;
    ADD_FAILURE() << Utf16ToUtf8(name);
    return 0;
  }
  const FoundItemInfo& Record(const std::u16string& name) const { return items_.items[IndexOf(name)].record; }
  Bytes Data(const std::u16string& name) {
    Bytes out;
    const WalkResult r = engine_->ReadFoundItem(Record(name), [&](const DataBlock& b) {
      out.insert(out.end(), b.bytes.begin(), b.bytes.end());
      return true;
    });
    EXPECT_TRUE(r.Clean());
    return out;
  }

  test::TempDir dir_;
  CORVANApp app_;
  test::RecordingPrompt prompt_;
  test::RecordingFoundItemSink items_;
  test::RecordingProgressSink progress_;
  std::unique_ptr<img::NtfsImage> image_;
  std::shared_ptr<CountingSource> source_;
  std::unique_ptr<NtfsEngine> engine_;
};

TEST_F(NtfsAdvanceSynthetic, TheTreeGoesDownFromTheRootFilesBeforeSubfolders) {
  Image();
  Folder(20, 5, u"A");
  Folder(21, 20, u"B");
  File(22, 20, u"a1");
  File(23, 21, u"b1");
  File(24, 5, u"top");
  ASSERT_TRUE(Run());
  EXPECT_EQ(PathsOf(u"A"), std::vector<std::string>{"A"});
  EXPECT_EQ(PathsOf(u"B"), std::vector<std::string>{"A/B"});
  EXPECT_EQ(PathsOf(u"a1"), std::vector<std::string>{"A/a1"});
  EXPECT_EQ(PathsOf(u"b1"), std::vector<std::string>{"A/B/b1"});
  EXPECT_EQ(PathsOf(u"top"), std::vector<std::string>{"top"});
  EXPECT_LT(IndexOf(u"A"), IndexOf(u"a1"));
  EXPECT_LT(IndexOf(u"a1"), IndexOf(u"B"));
  EXPECT_LT(IndexOf(u"B"), IndexOf(u"b1"));
  // Ids in the order the records were found ($MFT record 0 first, the root
  // never), locations the records' sectors.
  EXPECT_EQ(Record(u"$MFT").itemId, 10u);
  EXPECT_EQ(Record(u"A").itemId, 11u);
  EXPECT_EQ(Record(u"b1").itemId, 14u);
  EXPECT_EQ(Record(u"top").itemId, 15u);
  EXPECT_EQ(Record(u"A").location, 4u + 20 * 2);
  EXPECT_EQ(Record(u"a1").parentId, Record(u"A").itemId);
  for (const AdvanceRecordEntry& e : engine_->FoundRecords()) EXPECT_NE(e.recordNumber, 5u);
  EXPECT_EQ(Data(u"a1"), (Bytes{'d', 'a', 't', 'a'}));
  std::uint64_t sector = 0;
  ASSERT_TRUE(engine_->FindFoundRecordSector(23, sector));
  EXPECT_EQ(sector, 4u + 23 * 2);
  EXPECT_FALSE(engine_->FindFoundRecordSector(5, sector));
}

TEST_F(NtfsAdvanceSynthetic, OrphansAndLoopsGoUnderOneLostFolder) {
  Image();
  Folder(30, 31, u"x");  // folders that name each other
  Folder(31, 30, u"y");
  Folder(32, 32, u"self");
  File(33, 30, u"in-x");
  File(34, 32, u"in-self");
  Folder(40, 70, u"d1");  // orphans of one missing parent
  Folder(41, 70, u"d2");
  File(42, 70, u"f");
  File(43, 71, u"g");
  File(44, 41, u"in-d2");
  Folder(50, 5, u".");  // found, but a folder named "." is never shown
  File(51, 50, u"file");
  Folder(52, 50, u"sub");
  ASSERT_TRUE(Run());
  EXPECT_EQ(PathsOf(u"in-self"), std::vector<std::string>{"Lost folder(s)/self/in-self"});
  EXPECT_EQ(PathsOf(u"in-x"), std::vector<std::string>{"Lost folder(s)/y/x/in-x"});
  EXPECT_EQ(PathsOf(u"Lost folder(s)").size(), 1u);
  EXPECT_EQ(Record(u"Lost folder(s)").itemId, kLostId);
  EXPECT_EQ(Record(u"Lost folder(s)").location, kLostId);
  EXPECT_EQ(PathsOf(u"d1"), std::vector<std::string>{"Lost folder(s)/Folder 70/d1"});
  EXPECT_EQ(PathsOf(u"d2"), std::vector<std::string>{"Lost folder(s)/Folder 70/d2"});
  EXPECT_EQ(PathsOf(u"f"), std::vector<std::string>{"Lost folder(s)/Folder 70/f"});
  EXPECT_EQ(PathsOf(u"g"), std::vector<std::string>{"Lost folder(s)/Folder 71/g"});
  EXPECT_EQ(PathsOf(u"in-d2"), std::vector<std::string>{"Lost folder(s)/Folder 70/d2/in-d2"});
  EXPECT_EQ(PathsOf(u"Folder 70").size(), 1u);
  EXPECT_EQ(PathsOf(u"file"), std::vector<std::string>{"Lost folder(s)/Folder 50/file"});
  EXPECT_EQ(PathsOf(u"sub"), std::vector<std::string>{"Lost folder(s)/Folder 50/sub"});
  // Made-up folders take the running ids after the found records.
  std::uint32_t last = 0;
  for (const AdvanceRecordEntry& e : engine_->FoundRecords()) last = std::max(last, e.itemId);
  EXPECT_GT(Record(u"Folder 70").itemId, last);
  EXPECT_EQ(Record(u"Folder 70").location, Record(u"Folder 70").itemId);
}

TEST_F(NtfsAdvanceSynthetic, StaleCopiesOutsideTheMftAreShownOnce) {
  img::NtfsImage& image = Image();
  Folder(60, 5, u"docs");
  File(61, 60, u"a.txt");
  const std::uint64_t spare = image.Allocate(10);
  Bytes volume = image.Finish();
  PutAt(volume, spare, FolderRecord(60, 5, u"docs", {}));
  PutAt(volume, spare + 2, FileRecord(61, 60, u"a.txt", img::Resident(0x80, {'o', 'l', 'd'}, u"", 2)));
  PutAt(volume, spare + 4, FolderRecord(5, 5, u".", {}));
  // The same record number in an earlier incarnation is another file.
  img::RecordBuilder earlier;
  earlier.number = 61;
  earlier.sequence = 7;
  earlier.flags = 0;
  earlier.Add(img::Resident(0x30, Key(60, u"a-before.txt", 1, 0x20), u"", 1));
  PutAt(volume, spare + 6, earlier.Build());
  ASSERT_TRUE(Run(std::move(volume)));
  EXPECT_EQ(PathsOf(u"docs"), std::vector<std::string>{"docs"});
  EXPECT_EQ(PathsOf(u"a.txt"), std::vector<std::string>{"docs/a.txt"});
  EXPECT_EQ(PathsOf(u"a-before.txt"), std::vector<std::string>{"docs/a-before.txt"});
  EXPECT_TRUE(Record(u"a-before.txt").IsDeleted());
  EXPECT_EQ(Data(u"a.txt"), (Bytes{'d', 'a', 't', 'a'}));  // the $MFT's copy
}

TEST_F(NtfsAdvanceSynthetic, ARecordWithoutParentIsShownOnlyWhenFoundOutsideTheMft) {
  img::NtfsImage& image = Image();
  image.PutRecord(62, FileRecord(62, 0, u"zero.txt", img::Resident(0x80, {'z'}, u"", 2)));
  ASSERT_TRUE(Run());
  EXPECT_TRUE(PathsOf(u"zero.txt").empty());

  img::NtfsImage& again = Image();
  again.PutRecord(62, FileRecord(62, 0, u"zero.txt", img::Resident(0x80, {'z'}, u"", 2)));
  const std::uint64_t spare = again.Allocate(2);
  Bytes volume = again.Finish();
  PutAt(volume, spare, FileRecord(62, 0, u"zero.txt", img::Resident(0x80, {'z'}, u"", 2)));
  items_ = {};
  ASSERT_TRUE(Run(std::move(volume)));
  EXPECT_EQ(PathsOf(u"zero.txt"), std::vector<std::string>{"Lost folder(s)/Folder 0/zero.txt"});
}

TEST_F(NtfsAdvanceSynthetic, EarlyRecordsInTheMftAreNumberedByTheirPlace) {
  img::NtfsImage& image = Image();
  const Bytes data = test::Pattern(1400, 3);
  const std::uint64_t lcn = image.Allocate(3);
  image.WriteClusters(lcn, data);
  // The base record keeps its $DATA in record 71; neither has a number of
  // its own.
  Bytes list = img::AttrListEntry(0x10, 0, img::Ref(70), 0);
  for (const Bytes& e : {img::AttrListEntry(0x30, 0, img::Ref(70), 1), img::AttrListEntry(0x80, 0, img::Ref(71), 0)})
    list.insert(list.end(), e.begin(), e.end());
  img::RecordBuilder base;
  base.number = 70;
  base.usaOffset = 0x2A;
  base.Add(img::Resident(0x10, img::StdInfo(test::kInfoCreated, test::kInfoModified), u"", 0))
      .Add(img::Resident(0x20, list, u"", 3))
      .Add(img::Resident(0x30, Key(5, u"big.bin", 1, 0x20), u"", 1));
  img::RecordBuilder ext;
  ext.number = 71;
  ext.usaOffset = 0x2A;
  ext.baseReference = img::Ref(70);
  ext.Add(img::NonResident(0x80, img::Pairs({{lcn, 3}}), 0, 2, 3 * 512, 1400, 1400, 0, 0, u"", 0));
  image.PutRecord(70, base.Build());
  image.PutRecord(71, ext.Build());
  ASSERT_TRUE(Run());
  EXPECT_EQ(PathsOf(u"big.bin"), std::vector<std::string>{"big.bin"});
  EXPECT_EQ(Record(u"big.bin").size, 1400u);
  EXPECT_EQ(Data(u"big.bin"), data);
  std::uint64_t sector = 0;
  ASSERT_TRUE(engine_->FindFoundRecordSector(71, sector));
  EXPECT_EQ(sector, 4u + 71 * 2);
}

TEST_F(NtfsAdvanceSynthetic, AFileOverSeveralRecordsIsListedOnceWithItsSizeAndData) {
  img::NtfsImage& image = Image();
  // `count` extension records after `base`, each holding two clusters of
  // the data (laid out on the volume in reverse order); the first four also
  // hold a hard link's name. The base keeps its own name when `named`.
  auto spread = [&](std::uint32_t base, std::uint32_t count, const std::u16string& name, bool named, int seed) {
    const std::uint64_t size = std::uint64_t{count} * 2 * 512 - 77;
    const Bytes data = test::Pattern(size, seed);
    Bytes padded = data;
    padded.resize(std::uint64_t{count} * 2 * 512, 0);
    std::vector<std::uint64_t> lcns(count);
    for (std::uint32_t i = count; i-- > 0;) {
      lcns[i] = image.Allocate(2);
      image.WriteClusters(lcns[i], std::span(padded).subspan(i * 1024, 1024));
    }
    Bytes list = img::AttrListEntry(0x10, 0, img::Ref(base), 0);
    auto add = [&list](const Bytes& e) { list.insert(list.end(), e.begin(), e.end()); };
    if (named) add(img::AttrListEntry(0x30, 0, img::Ref(base), 1));
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t n = base + 1 + i;
      img::RecordBuilder ext;
      ext.number = n;
      ext.baseReference = img::Ref(base);
      if (i < 4) {
        add(img::AttrListEntry(0x30, 0, img::Ref(n), 0));
        const std::u16string link = !named && i == 0 ? name : name + u" link " + Utf8ToUtf16(std::to_string(i));
        ext.Add(img::Resident(0x30, Key(5, link, 1, 0x20), u"", 0));
      }
      add(img::AttrListEntry(0x80, i * 2, img::Ref(n), 1));
      const std::uint64_t alloc = i == 0 ? std::uint64_t{count} * 2 * 512 : 0, real = i == 0 ? size : 0;
      ext.Add(img::NonResident(0x80, img::Pairs({{lcns[i], 2}}), i * 2, i * 2 + 1, alloc, real, real, 0, 0, u"", 1));
      image.PutRecord(n, ext.Build());
    }
    img::RecordBuilder b;
    b.number = base;
    b.Add(img::Resident(0x10, img::StdInfo(test::kInfoCreated, test::kInfoModified, 0x20), u"", 0));
    if (named) b.Add(img::Resident(0x30, Key(5, name, 1, 0x20), u"", 1));
    b.Add(img::Resident(0x20, list, u"", 2));
    image.PutRecord(base, b.Build());
    return data;
  };
  // Twelve records for one file, and a file whose names all lie in its
  // extension records.
  const Bytes a = spread(30, 11, u"a.bin", true, 21);
  const Bytes b = spread(50, 5, u"b.bin", false, 22);
  ASSERT_TRUE(Run());
  std::set<std::u16string> names;
  for (const auto& item : items_.items) EXPECT_TRUE(names.insert(item.name).second) << Utf16ToUtf8(item.name);
  EXPECT_EQ(names, (std::set<std::u16string>{u"$MFT", u"a.bin", u"b.bin"}));
  EXPECT_EQ(PathsOf(u"a.bin"), std::vector<std::string>{"a.bin"});
  EXPECT_EQ(Record(u"a.bin").size, a.size());
  EXPECT_EQ(Data(u"a.bin"), a);
  EXPECT_EQ(PathsOf(u"b.bin"), std::vector<std::string>{"b.bin"});
  EXPECT_EQ(Record(u"b.bin").size, b.size());
  EXPECT_EQ(Data(u"b.bin"), b);
}

TEST_F(NtfsAdvanceSynthetic, TheSearchStaysInsideTheVolumeAndCountsWhatItRead) {
  img::NtfsImage& image = Image();
  Bytes volume = image.Finish();
  // The partition ends 10 sectors before the disk does.
  const std::uint64_t count = volume.size() / 512 - 10;
  PutAt(volume, count - 2, FileRecord(200, 5, u"end.txt", img::Resident(0x80, {'e'}, u"", 2)));
  PutAt(volume, count + 2, FileRecord(201, 5, u"past.txt", img::Resident(0x80, {'p'}, u"", 2)));
  ASSERT_TRUE(Run(std::move(volume), count));
  EXPECT_EQ(PathsOf(u"end.txt"), std::vector<std::string>{"end.txt"});
  EXPECT_TRUE(PathsOf(u"past.txt").empty());
  // Only the boot sector's backup is looked for past the end.
  for (const auto& [sector, bytes] : source_->reads) {
    if (bytes > 512) {
      EXPECT_LE(sector + bytes / 512, count);
    }
  }
  // The $MFT (96 records at sector 4) and the rest after it, once each.
  EXPECT_EQ(engine_->AdvanceCounter(), 96u * 2 + (count - (4 + 96 * 2)));
}

TEST_F(NtfsAdvanceSynthetic, AnMftOfExactlyTwoPiecesIsReadWhole) {
  img::NtfsImage& image = Image(1, 5000, 2048);
  image.PutRecord(1024, FileRecord(1024, 5, u"second-piece", img::Resident(0x80, {'2'}, u"", 2)));
  image.PutRecord(2047, FileRecord(2047, 5, u"last", img::Resident(0x80, {'l'}, u"", 2)));
  ASSERT_TRUE(Run());
  EXPECT_EQ(PathsOf(u"second-piece"), std::vector<std::string>{"second-piece"});
  EXPECT_EQ(PathsOf(u"last"), std::vector<std::string>{"last"});
  EXPECT_EQ(Record(u"last").location, 4u + 2047 * 2);
}

// Records what the search offers; one hit of three sectors.
class FakeCollector final : public FreeSpaceHitCollector {
 public:
  std::uint64_t Collect(std::span<const std::uint8_t> data, std::uint64_t cluster, bool& skip) override {
    EXPECT_GE(data.size(), 512u);
    offered.push_back(cluster);
    skip = cluster == 250;
    return skip ? 1500 : 0;
  }
  void PostCollected() override { ++posts; }
  std::vector<std::uint64_t> offered;
  int posts = 0;
};

TEST_F(NtfsAdvanceSynthetic, FreeClustersAreOfferedToTheSignatureMatcher) {
  // Clusters of two sectors; clusters 200-399 free but for 300-309.
  img::NtfsImage& image = Image(2, 400, 96);
  Bytes bitmap(50, 0);
  for (unsigned c = 0; c < 400; ++c)
    if (c < 200 || (c >= 300 && c < 310)) bitmap[c / 8] |= static_cast<std::uint8_t>(1u << (c % 8));
  const std::uint64_t lcn = image.Allocate(1);
  image.WriteClusters(lcn, bitmap);
  image.PutRecord(6, FileRecord(6, 5, u"$Bitmap", img::NonResident(0x80, img::Pairs({{lcn, 1}}), 0, 0, 1024, 50, 50)));
  FakeCollector collector;
  const Bytes volume = image.Finish();

  app_.m_nSetRaw = 0;
  ASSERT_TRUE(Run(volume, 0, &collector));
  std::vector<std::uint64_t> expected;
  for (std::uint64_t c = 200; c < 400; ++c)
    if ((c < 300 || c >= 310) && c != 251) expected.push_back(c);  // 251 lies inside the hit at 250
  EXPECT_EQ(collector.offered, expected);
  EXPECT_EQ(collector.posts, 1);

  // "SetRaw" set: nothing is offered.
  app_.m_nSetRaw = 1;
  FakeCollector unused;
  ASSERT_TRUE(Run(volume, 0, &unused));
  EXPECT_TRUE(unused.offered.empty());
}

}  // namespace
}  // namespace corvan
