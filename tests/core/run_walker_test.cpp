// The run walker over a volume held in memory: every byte of a file lands
// at its own offset, whatever the runs, holes, compressed units and failed
// reads in between.

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <random>

#include "core/RunWalker.h"
#include "engines/ntfs/Lznt1.h"
#include "support/NtfsImageBuilder.h"

namespace corvan {
namespace {

constexpr std::uint32_t kCluster = 512;

class Volume {
 public:
  explicit Volume(std::uint64_t clusters) : bytes_(clusters * kCluster) {
    for (std::size_t i = 0; i < bytes_.size(); ++i) bytes_[i] = static_cast<std::uint8_t>(i / kCluster * 31 + i);
  }
  ClusterReader Reader() {
    return [this](std::uint64_t lcn, std::uint64_t count, std::uint8_t* out) {
      reads.push_back({lcn, count});
      if (lcn == badCluster) {
        std::memset(out, 0, count * kCluster);
        return false;
      }
      std::memcpy(out, bytes_.data() + lcn * kCluster, count * kCluster);
      return true;
    };
  }
  const std::uint8_t* At(std::uint64_t lcn) const { return bytes_.data() + lcn * kCluster; }
  std::vector<std::uint8_t>& Bytes() { return bytes_; }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> reads;
  std::uint64_t badCluster = ~0ull;

 private:
  std::vector<std::uint8_t> bytes_;
};

std::vector<std::uint8_t> Expect(const Volume& v, std::initializer_list<std::pair<std::int64_t, std::uint64_t>> pieces) {
  // (lcn or -1 for zeros, clusters)
  std::vector<std::uint8_t> out;
  for (auto [lcn, n] : pieces) {
    if (lcn < 0) out.insert(out.end(), n * kCluster, 0);
    else out.insert(out.end(), v.At(lcn), v.At(lcn) + n * kCluster);
  }
  return out;
}

TEST(RunWalker, ExtentsInAnyOrderHolesAndGapsKeepEveryOffset) {
  Volume v(64);
  FileDataLayout f;
  f.clusterBytes = kCluster;
  f.size = 9 * kCluster - 100;
  // Listed out of order, with a hole and a cluster no extent covers (7).
  f.extents = {{5, 40, 2, false}, {0, 10, 3, false}, {3, 0, 2, true}, {8, 20, 4, false}};
  auto expected = Expect(v, {{10, 3}, {-1, 2}, {40, 2}, {-1, 1}, {20, 1}});
  expected.resize(f.size);
  WalkResult r;
  EXPECT_EQ(ReadFileData(f, v.Reader(), 0, ~0ull, &r), expected);
  EXPECT_TRUE(r.Clean());
  EXPECT_EQ(r.bytes, f.size);
}

TEST(RunWalker, NothingPastTheValidSizeIsReadAndItReadsAsZeros) {
  Volume v(64);
  FileDataLayout f;
  f.clusterBytes = kCluster;
  f.size = 6 * kCluster;
  f.validSize = 2 * kCluster + 10;
  f.extents = {{0, 30, 6, false}};
  auto expected = Expect(v, {{30, 6}});
  std::fill(expected.begin() + static_cast<std::ptrdiff_t>(f.validSize), expected.end(), 0);
  EXPECT_EQ(ReadFileData(f, v.Reader()), expected);
  for (auto [lcn, n] : v.reads) EXPECT_LE(lcn + n, 33u);
}

TEST(RunWalker, RangesStartAndEndInsideClusters) {
  Volume v(64);
  FileDataLayout f;
  f.clusterBytes = kCluster;
  f.size = 5 * kCluster;
  f.extents = {{0, 7, 2, false}, {2, 50, 3, false}};
  const auto whole = ReadFileData(f, v.Reader());
  EXPECT_EQ(ReadFileData(f, v.Reader(), 700, 1900),
            std::vector<std::uint8_t>(whole.begin() + 700, whole.begin() + 1900));
  EXPECT_TRUE(ReadFileData(f, v.Reader(), 5000, 6000).empty());
}

TEST(RunWalker, AFailedReadIsReportedAndReadsAsZeros) {
  Volume v(64);
  v.badCluster = 12;
  FileDataLayout f;
  f.clusterBytes = kCluster;
  f.size = 3 * kCluster;
  f.extents = {{0, 11, 1, false}, {1, 12, 1, false}, {2, 13, 1, false}};
  bool sawDamaged = false;
  std::vector<std::uint8_t> got;
  const WalkResult r = WalkFileData(f, v.Reader(), [&](const DataBlock& b) {
    if (b.damaged) sawDamaged = true;
    got.insert(got.end(), b.bytes.begin(), b.bytes.end());
    return true;
  });
  EXPECT_EQ(r.failedReads, 1u);
  EXPECT_TRUE(sawDamaged);
  EXPECT_EQ(got, Expect(v, {{11, 1}, {-1, 1}, {13, 1}}));
}

TEST(RunWalker, EveryBlockNamesTheVolumeClusterItCameFrom) {
  Volume v(64);
  v.badCluster = 21;
  FileDataLayout f;
  f.clusterBytes = kCluster;
  f.size = 9 * kCluster - 100;
  f.extents = {{5, 40, 2, false}, {0, 10, 3, false}, {3, 0, 2, true}, {8, 21, 1, false}};
  std::vector<std::uint64_t> damaged;
  std::uint64_t normalBytes = 0;
  WalkFileData(f, v.Reader(), [&](const DataBlock& b) {
    if (b.kind == DataBlockKind::Sparse) {
      EXPECT_EQ(b.lcn, kNoDataCluster) << b.offset;
    } else if (b.damaged) {
      damaged.push_back(b.lcn);
    } else {
      // The block's bytes are the volume's from that cluster on.
      EXPECT_EQ(std::memcmp(b.bytes.data(), v.At(b.lcn) + b.offset % kCluster, b.bytes.size()), 0) << b.offset;
      normalBytes += b.bytes.size();
    }
    return true;
  });
  EXPECT_EQ(normalBytes, 5u * kCluster);
  EXPECT_EQ(damaged, std::vector<std::uint64_t>{21});

  // A compressed unit whose second stored cluster fails names that cluster.
  FileDataLayout c;
  c.clusterBytes = kCluster;
  c.unitClusters = 4;
  c.decoder = [](const std::uint8_t*, std::uint32_t, std::uint8_t*, std::uint32_t& length) {
    length = 0;
    return true;
  };
  c.size = 4 * kCluster;
  c.extents = {{0, 20, 1, false}, {1, 21, 1, false}, {2, 0, 2, true}};
  std::vector<std::uint64_t> unitLcns;
  WalkFileData(c, v.Reader(), [&](const DataBlock& b) {
    unitLcns.push_back(b.lcn);
    return true;
  });
  EXPECT_EQ(unitLcns, std::vector<std::uint64_t>{21});
}

TEST(RunWalker, ResidentDataAndAStopFromTheSink) {
  FileDataLayout f;
  f.resident = true;
  f.residentData = {'r', 'e', 's'};
  f.size = 3;
  std::vector<DataBlockKind> kinds;
  WalkFileData(f, nullptr, [&](const DataBlock& b) {
    kinds.push_back(b.kind);
    return true;
  });
  EXPECT_EQ(kinds, std::vector<DataBlockKind>{DataBlockKind::Resident});

  Volume v(64);
  FileDataLayout big;
  big.clusterBytes = kCluster;
  big.size = 8 * kCluster;
  big.extents = {{0, 0, 4, false}, {4, 0, 4, true}};
  int calls = 0;
  const WalkResult r = WalkFileData(big, v.Reader(), [&](const DataBlock&) { return ++calls < 1; });
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(calls, 1);
}

// Compressed units of 16 clusters, as NTFS lays them out.
class CompressedFile : public ::testing::Test {
 protected:
  CompressedFile() : v(200) {}
  std::vector<std::uint8_t> UnitData(int seed) {
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> d(16 * kCluster);
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = i < 5000 ? static_cast<std::uint8_t>(rng()) : 'z';
    return d;
  }
  Volume v;
};

TEST_F(CompressedFile, UnitSpanningTwoRunsPlainUnitAndEmptyUnit) {
  const auto unit0 = UnitData(1);
  const auto packed = test::ntfsimg::Lznt1Compress(unit0);
  const std::uint64_t packedClusters = (packed.size() + kCluster - 1) / kCluster;
  ASSERT_GT(packedClusters, 7u);
  ASSERT_LT(packedClusters, 16u);
  // Unit 0: compressed, its clusters split 7 at cluster 100, the rest at 150.
  std::vector<std::uint8_t> padded = packed;
  padded.resize(packedClusters * kCluster, 0);
  std::memcpy(v.Bytes().data() + 100 * kCluster, padded.data(), 7 * kCluster);
  std::memcpy(v.Bytes().data() + 150 * kCluster, padded.data() + 7 * kCluster, (packedClusters - 7) * kCluster);
  FileDataLayout f;
  f.clusterBytes = kCluster;
  f.unitClusters = 16;
  f.decoder = &DecompressLznt1;
  f.size = 3 * 16 * kCluster - 1000;
  f.extents = {{0, 100, 7, false},
               {7, 150, packedClusters - 7, false},
               {packedClusters, 0, 16 - packedClusters, true},
               {16, 20, 16, false},  // unit 1 stored plain
               {32, 0, 16, true}};   // unit 2 all zeros
  std::vector<std::uint8_t> expected = unit0;
  expected.insert(expected.end(), v.At(20), v.At(20) + 16 * kCluster);
  expected.resize(f.size, 0);
  std::vector<DataBlockKind> kinds;
  std::vector<std::uint8_t> got;
  const WalkResult r = WalkFileData(f, v.Reader(), [&](const DataBlock& b) {
    EXPECT_EQ(b.offset, got.size());
    kinds.push_back(b.kind);
    got.insert(got.end(), b.bytes.begin(), b.bytes.end());
    return true;
  });
  EXPECT_TRUE(r.Clean());
  EXPECT_EQ(got, expected);
  EXPECT_EQ(kinds, (std::vector<DataBlockKind>{DataBlockKind::Decoded, DataBlockKind::Normal, DataBlockKind::Sparse}));
}

TEST_F(CompressedFile, ReadingFromTheMiddleDecodesOnlyTheUnitsAsked) {
  const auto unit = UnitData(2);
  const auto packed = test::ntfsimg::Lznt1Compress(unit);
  const std::uint64_t n = (packed.size() + kCluster - 1) / kCluster;
  std::vector<std::uint8_t> padded = packed;
  padded.resize(n * kCluster, 0);
  FileDataLayout f;
  f.clusterBytes = kCluster;
  f.unitClusters = 16;
  f.decoder = &DecompressLznt1;
  f.size = 32 * kCluster;
  // Both units hold the same compressed data.
  std::memcpy(v.Bytes().data() + 40 * kCluster, padded.data(), padded.size());
  std::memcpy(v.Bytes().data() + 80 * kCluster, padded.data(), padded.size());
  f.extents = {{0, 40, n, false}, {n, 0, 16 - n, true}, {16, 80, n, false}, {16 + n, 0, 16 - n, true}};
  const auto got = ReadFileData(f, v.Reader(), 16 * kCluster + 10, 16 * kCluster + 5010);
  ASSERT_EQ(got.size(), 5000u);
  for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], unit[10 + i]) << i;
  for (auto [lcn, count] : v.reads) EXPECT_GE(lcn, 80u);
}

TEST_F(CompressedFile, ADamagedUnitIsReportedAndTheNextStillDecodes) {
  const auto unit = UnitData(3);
  auto packed = test::ntfsimg::Lznt1Compress(unit);
  const std::uint64_t n = (packed.size() + kCluster - 1) / kCluster;
  packed.resize(n * kCluster, 0);
  std::memcpy(v.Bytes().data() + 40 * kCluster, packed.data(), packed.size());
  std::memcpy(v.Bytes().data() + 80 * kCluster, packed.data(), packed.size());
  v.Bytes()[40 * kCluster + 1] ^= 0x0F;  // first chunk's size now runs wrong
  FileDataLayout f;
  f.clusterBytes = kCluster;
  f.unitClusters = 16;
  f.decoder = &DecompressLznt1;
  f.size = 32 * kCluster;
  f.extents = {{0, 40, n, false}, {n, 0, 16 - n, true}, {16, 80, n, false}, {16 + n, 0, 16 - n, true}};
  WalkResult r;
  const auto got = ReadFileData(f, v.Reader(), 0, ~0ull, &r);
  EXPECT_EQ(r.failedUnits, 1u);
  ASSERT_EQ(got.size(), 32u * kCluster);
  EXPECT_EQ(std::vector<std::uint8_t>(got.begin() + 16 * kCluster, got.end()), unit);
}

TEST(NormaliseExtents, OverlapsAreCutAndTheTailFilled) {
  const auto out = NormaliseExtents({{2, 100, 4, false}, {0, 50, 3, false}}, 8);
  EXPECT_EQ(out, (std::vector<DataExtent>{{0, 50, 3, false}, {3, 101, 3, false}, {6, 0, 2, true}}));
}

}  // namespace
}  // namespace corvan
