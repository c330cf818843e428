// The boot-sector geometry and the directory entry sets, from bytes laid
// out as the published exFAT format defines them (main boot sector fields at
// 72..110; file entry 0x85, stream extension 0xC0, file name 0xC1).

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "engines/exfat/ExFatImageBuilder.h"
#include "engines/exfat/ExFatFormat.h"

namespace corvan {
namespace {

using namespace exfattest;

struct Boot {
  std::uint64_t volumeLength = 0;
  std::uint32_t fatOffset = 0, fatLength = 0, heapOffset = 0, clusterCount = 0, root = 4;
  std::uint8_t bytesShift = 9, clusterShift = 0;

  exfat::Geometry Derive(bool* ok = nullptr) const {
    std::array<std::uint8_t, 512> s{};
    Put64(s.data() + 72, volumeLength);
    Put32(s.data() + 80, fatOffset);
    Put32(s.data() + 84, fatLength);
    Put32(s.data() + 88, heapOffset);
    Put32(s.data() + 92, clusterCount);
    Put32(s.data() + 96, root);
    s[108] = bytesShift;
    s[109] = clusterShift;
    s[110] = 1;
    exfat::Geometry g;
    const bool parsed = exfat::DeriveGeometry(exfat::ReadBootFields(s), g);
    if (ok) *ok = parsed;
    return g;
  }
};

// 8 MiB, 4 KiB clusters, heap at 2 MiB: VolumeLength / ClusterCount is 10.
constexpr Boot kEightMiB{16384, 2048, 13, 4096, 1536, 4, 9, 3};

TEST(ExFatGeometry, ClusterSizeComesFromTheShiftFieldsWhenTheyAreSane) {
  bool ok = false;
  const exfat::Geometry g = kEightMiB.Derive(&ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(g.sectorsPerCluster, 8u);
  EXPECT_TRUE(g.spcFromShift);
  EXPECT_EQ(g.heapStart, 4096u);
  EXPECT_TRUE(exfat::IsGeometryUsable(g));

  Boot big = kEightMiB;  // 32 MiB clusters, the largest the format allows
  big.volumeLength = (1ull << 21) + 8192;
  big.clusterCount = 31;
  big.clusterShift = 16;
  EXPECT_EQ(big.Derive().sectorsPerCluster, 65536u);

  Boot tooBig = big;  // 64 MiB clusters: neither the shift nor the quotient is a cluster
  tooBig.clusterShift = 17;
  EXPECT_FALSE(tooBig.Derive().spcFromShift);
  EXPECT_EQ(tooBig.Derive().sectorsPerCluster, 0u);

  Boot lying = kEightMiB;  // a heap that cannot fit: the shift is damaged
  lying.clusterShift = 7;
  EXPECT_FALSE(lying.Derive().spcFromShift);
  EXPECT_EQ(lying.Derive().sectorsPerCluster, 10u);

  Boot huge = kEightMiB;  // derived clusters beyond 32 MiB are no clusters
  huge.volumeLength = 1ull << 40;
  huge.clusterCount = 2;
  huge.clusterShift = 40;
  EXPECT_EQ(huge.Derive().sectorsPerCluster, 0u);
  EXPECT_FALSE(exfat::IsGeometryUsable(huge.Derive()));
}

TEST(ExFatGeometry, FourKibSectorsAreCountedInHalfKibSectors) {
  Boot b{2048, 256, 2, 512, 1536, 4, 12, 0};  // 4 KiB sectors, one per cluster
  const exfat::Geometry g = b.Derive();
  EXPECT_EQ(g.volumeLength, 16384u);
  EXPECT_EQ(g.fatOffset, 2048u);
  EXPECT_EQ(g.fatLength, 16u);
  EXPECT_EQ(g.sectorsPerCluster, 8u);
  EXPECT_EQ(g.heapStart, 4096u);
}

TEST(ExFatGeometry, HeapOffsetIsTheBootSectorsWhenItLiesBehindTheFat) {
  Boot b = kEightMiB;
  b.heapOffset = 2064;  // right behind the FAT, not at the next multiple of FatOffset
  EXPECT_EQ(b.Derive().heapStart, 2064u);
  EXPECT_TRUE(b.Derive().heapFromBoot);
  b.heapOffset = 2050;  // inside the FAT
  EXPECT_EQ(b.Derive().heapStart, 4096u);
  b.heapOffset = 8192;  // the heap would leave the volume
  EXPECT_EQ(b.Derive().heapStart, 4096u);
  EXPECT_EQ(exfat::DerivedHeapStart(128, 200), 384u);
}

TEST(ExFatGeometry, TheCheckRejectsFatsThatAreMissingMisplacedOrTooLong) {
  bool ok = true;
  Boot b = kEightMiB;
  b.volumeLength = 0;
  b.Derive(&ok);
  EXPECT_FALSE(ok);
  b = kEightMiB;
  b.clusterCount = 0;
  b.Derive(&ok);
  EXPECT_FALSE(ok);

  b = kEightMiB;
  b.fatOffset = 0;  // would divide by zero when placing the heap
  EXPECT_FALSE(exfat::IsGeometryUsable(b.Derive()));
  b = kEightMiB;
  b.fatOffset = 16380;  // the FAT runs past the volume's end
  EXPECT_FALSE(exfat::IsGeometryUsable(b.Derive()));
  b = kEightMiB;
  b.volumeLength = 4096;  // the heap behind the FAT would begin where the volume ends
  EXPECT_EQ(b.Derive().heapStart, 4096u);
  EXPECT_FALSE(exfat::IsGeometryUsable(b.Derive()));
  b = kEightMiB;
  b.fatLength = 0;
  EXPECT_FALSE(exfat::IsGeometryUsable(b.Derive()));
  b = kEightMiB;
  b.fatLength = 16384 / 10;
  EXPECT_FALSE(exfat::IsGeometryUsable(b.Derive()));
  b.fatLength = 16384 / 10 - 1;
  b.heapOffset = 2048 + b.fatLength;
  EXPECT_TRUE(exfat::IsGeometryUsable(b.Derive()));
}

// ---- entry sets ----

std::array<std::uint8_t, 32> FileEntry(std::uint8_t type, std::uint8_t secondaries, std::uint16_t attributes) {
  std::array<std::uint8_t, 32> e{};
  e[0] = type;
  e[1] = secondaries;
  Put16(e.data() + 4, attributes);
  Put32(e.data() + 8, kCreateStamp);
  Put32(e.data() + 12, kStamp);
  return e;
}
std::array<std::uint8_t, 32> StreamEntry(std::uint8_t type, std::uint8_t flags, std::uint8_t nameLength,
                                         std::uint64_t size, std::uint32_t first) {
  std::array<std::uint8_t, 32> e{};
  e[0] = type;
  e[1] = flags;
  e[3] = nameLength;
  Put64(e.data() + 8, size);
  Put32(e.data() + 20, first);
  Put64(e.data() + 24, size);
  return e;
}
std::array<std::uint8_t, 32> NameEntry(std::uint8_t type, std::u16string_view part) {
  std::array<std::uint8_t, 32> e{};
  e[0] = type;
  for (std::size_t i = 0; i < part.size() && i < 15; ++i) Put16(e.data() + 2 + 2 * i, part[i]);
  return e;
}

class Dir {
 public:
  explicit Dir(std::size_t bytes = 4096) : bytes_(bytes, 0) {}
  Dir& Add(const std::array<std::uint8_t, 32>& e) {
    std::copy(e.begin(), e.end(), bytes_.begin() + static_cast<long>(at_));
    at_ += 32;
    return *this;
  }
  Dir& Set(std::size_t at, const std::array<std::uint8_t, 32>& e) {
    at_ = at;
    return Add(e);
  }
  Dir& Name(std::u16string_view name, std::uint8_t type = 0xC1) {
    for (std::size_t i = 0; i < name.size(); i += 15) Add(NameEntry(type, name.substr(i, 15)));
    return *this;
  }
  std::vector<std::uint8_t> bytes_;
  std::size_t at_ = 0;
};

TEST(ExFatEntrySets, ALongNameSpansItsNameEntriesAndTheChainFlagFollowsTheStream) {
  const std::u16string name = u"A file name of exactly forty characters.";
  ASSERT_EQ(name.size(), 40u);
  Dir d;
  d.Add(FileEntry(0x85, 4, 0x20)).Add(StreamEntry(0xC0, 0x03, 40, 5000, 9)).Name(name);
  d.Add(FileEntry(0x85, 2, 0x10)).Add(StreamEntry(0xC0, 0x01, 3, 4096, 12)).Name(u"Sub");
  const auto sets = exfat::ScanDirectoryBuffer(d.bytes_);
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_TRUE(sets[0].usable);
  EXPECT_EQ(sets[0].name, name);
  EXPECT_EQ(sets[0].validDataLength, 5000u);
  EXPECT_EQ(sets[0].firstCluster, 9u);
  EXPECT_EQ(sets[0].modifiedTime, kStamp);
  EXPECT_EQ(sets[0].createTime, kCreateStamp);
  EXPECT_FALSE(sets[0].UsesFatChain());
  EXPECT_EQ(sets[1].offset, 160u);
  EXPECT_EQ(sets[1].name, u"Sub");
  EXPECT_TRUE(sets[1].IsFolder());
  EXPECT_TRUE(sets[1].UsesFatChain());
}

TEST(ExFatEntrySets, DeletedSetsParseWithTheirDeletedTypes) {
  Dir d;
  d.Add(FileEntry(0x05, 2, 0x20)).Add(StreamEntry(0x40, 0x03, 5, 10, 20)).Name(u"x.txt", 0x41);
  const auto sets = exfat::ScanDirectoryBuffer(d.bytes_);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_TRUE(sets[0].usable);
  EXPECT_TRUE(sets[0].Deleted());
  EXPECT_EQ(sets[0].name, u"x.txt");
}

TEST(ExFatEntrySets, ASetWithoutANameLengthIsAbandonedAndItsNamesYieldNothing) {
  Dir d;
  d.Add(FileEntry(0x85, 2, 0x20)).Add(StreamEntry(0xC0, 0x03, 0, 10, 20)).Name(u"lost.txt");
  d.Add(FileEntry(0x85, 2, 0x20)).Add(StreamEntry(0xC0, 0x03, 4, 10, 21)).Name(u"next");
  const auto sets = exfat::ScanDirectoryBuffer(d.bytes_);
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_FALSE(sets[0].usable);
  EXPECT_EQ(sets[0].next, 32u + 16u);
  EXPECT_TRUE(sets[1].usable);
  EXPECT_EQ(sets[1].name, u"next");
}

TEST(ExFatEntrySets, ASetWithNoNameIsAbandoned) {
  Dir d;
  d.Add(FileEntry(0x85, 2, 0x20)).Add(StreamEntry(0xC0, 0x03, 4, 10, 20));
  const auto sets = exfat::ScanDirectoryBuffer(d.bytes_);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_FALSE(sets[0].usable);
}

TEST(ExFatEntrySets, ASetEndsAtTheBufferNotPastIt) {
  // The file entry sits in the last slot but announces 255 secondaries.
  Dir d(512);
  d.Set(480, FileEntry(0x85, 255, 0x20));
  std::vector<std::uint8_t> exact(d.bytes_.begin(), d.bytes_.end());
  const auto sets = exfat::ScanDirectoryBuffer(exact);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_FALSE(sets[0].usable);

  // A set cut by the end of the buffer keeps what lies inside it.
  Dir e(1024);
  e.Set(416, FileEntry(0x85, 255, 0x20)).Add(StreamEntry(0xC0, 0x03, 20, 1, 9)).Name(u"cut off at the end!!");
  const auto cut = exfat::ScanDirectoryBuffer(std::vector<std::uint8_t>(e.bytes_.begin(), e.bytes_.begin() + 512));
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0].name, u"cut off at the ");
}

TEST(ExFatEntrySets, NoMoreThan255UnitsOfNameAreKept) {
  // SecondaryCount 0 stands for 256 entries; a damaged set with NameLength
  // 255 and 20 name entries still gives at most 255 units.
  Dir d(32 * 32);
  d.Add(FileEntry(0x85, 0, 0x20)).Add(StreamEntry(0xC0, 0x03, 255, 1, 9));
  for (int i = 0; i < 20; ++i) d.Add(NameEntry(0xC1, u"abcdefghijklmno"));
  const auto sets = exfat::ScanDirectoryBuffer(d.bytes_);
  ASSERT_FALSE(sets.empty());
  EXPECT_EQ(sets[0].name.size(), 255u);
  EXPECT_EQ(sets[0].next, 32u * 22);
}

TEST(ExFatEntrySets, BitmapUpcaseAndLabelEntriesArePassedOver) {
  Dir d;
  std::array<std::uint8_t, 32> e{};
  for (std::uint8_t type : {0x83, 0x81, 0x82}) {
    e.fill(0x85);  // whatever their fields hold
    e[0] = type;
    d.Add(e);
  }
  d.Add(FileEntry(0x85, 2, 0x20)).Add(StreamEntry(0xC0, 0x03, 1, 1, 9)).Name(u"a");
  const auto sets = exfat::ScanDirectoryBuffer(d.bytes_);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].offset, 96u);
}

TEST(ExFatDirectoryCluster, OnlyEntrySetsMakeADirectoryCluster) {
  Dir live;
  live.Add(FileEntry(0x85, 2, 0x20)).Add(StreamEntry(0xC0, 0x03, 1, 1, 9)).Name(u"a");
  EXPECT_TRUE(exfat::IsDirectoryCluster(live.bytes_));

  Dir deleted;
  deleted.Add(FileEntry(0x05, 2, 0x20)).Add(StreamEntry(0x40, 0x03, 1, 1, 9)).Name(u"a", 0x41);
  EXPECT_TRUE(exfat::IsDirectoryCluster(deleted.bytes_));

  Dir filesOnly;
  filesOnly.Add(FileEntry(0x85, 2, 0x20)).Add(FileEntry(0x85, 2, 0x20));
  EXPECT_FALSE(exfat::IsDirectoryCluster(filesOnly.bytes_));

  EXPECT_FALSE(exfat::IsDirectoryCluster(Dir().bytes_));

  Dir text = live;
  text.bytes_[96] = 0x20;  // a space at an entry boundary: not a directory
  EXPECT_FALSE(exfat::IsDirectoryCluster(text.bytes_));
}

}  // namespace
}  // namespace corvan
