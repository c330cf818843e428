// What the exFAT engine lists as a file's size and hands out as its data:
// empty files (no cluster at all) are files like any other, and a size field
// that promises more than the volume can hold is cut to what backs it, in the
// listing and in the bytes read.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engines/exfat/ExFatImageBuilder.h"
#include "engines/exfat/ExFatTestRig.h"

namespace corvan {
namespace {

using namespace exfattest;

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t seed) { return PatternBytes(n, seed, 11); }

constexpr std::uint64_t kPebibyte = 1ull << 50;

// Rewrites a set's stream extension: ValidDataLength at 8, DataLength at 24.
void SetLengths(ExFatImageBuilder& b, const SetRef& ref, std::uint64_t valid, std::uint64_t length) {
  Put64(b.Entry(ref, 1) + 8, valid);
  Put64(b.Entry(ref, 1) + 24, length);
  b.Seal(ref);
}

TEST(ExFatEmptyFiles, EmptyFilesAreListedInEveryFolderKind) {
  ExFatImageBuilder b = ExFatImageBuilder::Format(16384, 8);
  const auto chained = b.AddFolder(b.Root(), u"Chained");
  const auto run = b.AddFolder(b.Root(), u"Run", true, 1);
  std::vector<std::string> empties;
  for (const auto& [folder, prefix] : {std::pair{b.Root(), std::string()}, {chained.firstCluster, "Chained/"},
                                       {run.firstCluster, "Run/"}}) {
    // First cluster 0, both lengths 0, the stream marked as chained (a
    // stream of no clusters marked as one run is an error to fsck.exfat).
    b.AddFile(folder, u"empty.txt", {});
    b.AddFile(folder, u"data.txt", Bytes(100, 1));
    b.AddFile(folder, u"empty too.txt", {});
    empties.push_back(prefix + "empty.txt");
    empties.push_back(prefix + "empty too.txt");
  }
  std::string report;
  ASSERT_TRUE(FsckCleanOrAbsent(b.Bytes(), report)) << report;

  ExFatRig rig;
  ASSERT_EQ(rig.Mount(b.Bytes()).ScanVolume(0), ExFatScanResult::Completed);
  for (const std::string& path : empties) {
    const long i = rig.Find(path);
    ASSERT_GE(i, 0) << path;
    const FoundItemInfo& item = rig.items.items[i].record;
    EXPECT_FALSE(item.IsFolder()) << path;
    EXPECT_FALSE(item.IsDeleted()) << path;
    EXPECT_EQ(item.size, 0u) << path;
    WalkResult result;
    EXPECT_TRUE(rig.Data(item, &result).empty()) << path;
    EXPECT_TRUE(result.Clean()) << path;
  }
  EXPECT_EQ(rig.engine->Poster()->Files(), 9u);

  // Advance reaches them through their folders too.
  ASSERT_EQ(rig.Mount(b.Bytes()).DeepScan(0), ExFatScanResult::Completed);
  for (const std::string& path : empties) {
    const long i = rig.Find(path);
    ASSERT_GE(i, 0) << path;
    EXPECT_EQ(rig.items.items[i].record.size, 0u) << path;
  }
}

class ExFatDamagedSizes : public ::testing::Test {
 protected:
  void SetUp() override {
    ok_ = b_.AddFile(b_.Root(), u"ok.bin", okData_);
    // Only ValidDataLength is damaged: DataLength still tells the size.
    valid_ = b_.AddFile(b_.Root(), u"valid.bin", validData_);
    SetLengths(b_, valid_, kPebibyte, validData_.size());
    // Both lengths damaged: what backs the file is the rest of the heap (one
    // run) or its chain.
    run_ = b_.AddFile(b_.Root(), u"run.bin", runData_);
    SetLengths(b_, run_, kPebibyte, kPebibyte);
    chain_ = b_.AddFile(b_.Root(), u"chain.bin", chainData_, Layout::Fragmented);
    SetLengths(b_, chain_, kPebibyte, kPebibyte);
    // No cluster at all: nothing backs any size.
    none_ = b_.AddFile(b_.Root(), u"none.bin", {});
    SetLengths(b_, none_, kPebibyte, kPebibyte);
    // Linked in the FAT, but deleted: read as one run all the same.
    gone_ = b_.AddFile(b_.Root(), u"gone.bin", goneData_, Layout::Chained);
    SetLengths(b_, gone_, kPebibyte, kPebibyte);
    b_.Delete(gone_);
  }

  const FoundItemInfo& Item(const std::string& path) {
    const long i = rig_.Find(path);
    EXPECT_GE(i, 0) << path;
    return rig_.items.items.at(static_cast<std::size_t>(std::max(i, 0L))).record;
  }
  std::uint64_t HeapFrom(std::uint32_t cluster) const {
    return (std::uint64_t{b_.ClusterCount()} + 2 - cluster) * b_.ClusterBytes();
  }
  // Exactly `count` bytes are handed out for `item`, beginning with `data`.
  // (The read is stopped past `count`, so a size that is not cut costs no
  // more than that.)
  void ExpectRead(const FoundItemInfo& item, const std::vector<std::uint8_t>& data, std::uint64_t count,
                  const std::string& what) {
    std::vector<std::uint8_t> read;
    const WalkResult result = rig_.engine->ReadFoundItem(item, [&](const DataBlock& block) {
      read.insert(read.end(), block.bytes.begin(), block.bytes.end());
      return read.size() <= count;
    });
    EXPECT_FALSE(result.stopped) << what << ": more than " << count << " bytes";
    ASSERT_EQ(read.size(), count) << what;
    ASSERT_GE(read.size(), data.size()) << what;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), read.begin())) << what;
  }

  ExFatImageBuilder b_ = ExFatImageBuilder::Format(16384, 8);  // 8 MiB
  std::uint64_t volumeBytes_ = 16384ull * 512;
  std::vector<std::uint8_t> okData_ = Bytes(5000, 1), validData_ = Bytes(6000, 2), runData_ = Bytes(3000, 3),
                            chainData_ = Bytes(9000, 4), goneData_ = Bytes(2000, 5);
  SetRef ok_, valid_, run_, chain_, none_, gone_;
  ExFatRig rig_;
};

TEST_F(ExFatDamagedSizes, QuickListsSizesTheVolumeCanBackAndReadsNoMore) {
  ASSERT_EQ(rig_.Mount(b_.Bytes()).ScanVolume(0), ExFatScanResult::Completed);

  EXPECT_EQ(Item("ok.bin").size, okData_.size());
  ExpectRead(Item("ok.bin"), okData_, okData_.size(), "ok.bin");
  EXPECT_EQ(Item("valid.bin").size, validData_.size());
  ExpectRead(Item("valid.bin"), validData_, validData_.size(), "valid.bin");

  const std::uint64_t runBytes = HeapFrom(run_.firstCluster);
  EXPECT_EQ(Item("run.bin").size, runBytes);
  EXPECT_LT(runBytes, volumeBytes_);
  ExpectRead(Item("run.bin"), runData_, runBytes, "run.bin");

  // A chained file may lie anywhere in the heap; its bytes are its chain's.
  EXPECT_LE(Item("chain.bin").size, std::uint64_t{b_.ClusterCount()} * b_.ClusterBytes());
  ASSERT_EQ(chain_.clusters.size(), 3u);
  ExpectRead(Item("chain.bin"), chainData_, 3ull * b_.ClusterBytes(), "chain.bin");

  EXPECT_EQ(Item("none.bin").size, 0u);
  ExpectRead(Item("none.bin"), {}, 0, "none.bin");

  const FoundItemInfo& gone = Item("gone.bin");
  EXPECT_TRUE(gone.IsDeleted());
  EXPECT_EQ(gone.size, HeapFrom(gone_.firstCluster));
  ExpectRead(gone, goneData_, HeapFrom(gone_.firstCluster), "gone.bin");
  EXPECT_LT(rig_.engine->FoundBytes(), 4 * volumeBytes_);
}

TEST_F(ExFatDamagedSizes, ARecordFromElsewhereIsReadNoFurtherThanItsClusters) {
  // A record that did not come from this scan's walk (a saved scan, say)
  // carries the size it was given.
  ExFatEngine& engine = rig_.Mount(b_.Bytes());
  ASSERT_TRUE(engine.ValidateBootSector());
  FoundItemInfo record;
  record.attribute = kItemFile;
  record.size = kPebibyte;
  record.location = ok_.firstCluster;
  ExpectRead(record, okData_, HeapFrom(ok_.firstCluster), "one run");
  record.location = chain_.firstCluster;
  record.flags = kExFatItemFatChain;
  ExpectRead(record, chainData_, 3ull * b_.ClusterBytes(), "chain");
}

}  // namespace
}  // namespace corvan
