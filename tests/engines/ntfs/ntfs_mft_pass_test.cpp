// The one front-to-back read of the $MFT that Quick and Deleted Recovery
// make, and the record-by-record reads beside it, over a $MFT in several
// runs with a hole: every record comes out as the runs place it, across run
// boundaries, across the pass's own reads and at the $MFT's end, and a
// failed read costs only the record it hits.

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "app/CORVANApp.h"
#include "engines/ntfs/NtfsEngine.h"
#include "support/NtfsImageBuilder.h"
#include "support/SyntheticDisk.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

using namespace test::ntfsimg;

// 512-byte clusters, so a record spans two clusters and can straddle runs.
// 4200 records: more than one 4 MiB read of the pass.
constexpr std::uint64_t kRecords = 4200;
constexpr std::uint64_t kMftClusters = kRecords * 2;
constexpr std::uint64_t kVolumeClusters = 12000;
// The $MFT's runs: 5 clusters, a 2-cluster hole (records 2 and 3 each have
// one half in it), then two runs that meet inside record 2003.
const std::vector<Run> kMftRuns = {{16, 5}, {0, 2, true}, {2000, 4000}, {7000, kMftClusters - 4007}};

// Where the runs put cluster `vcn` of the $MFT; nullopt inside the hole.
std::optional<std::uint64_t> LcnOf(std::uint64_t vcn) {
  std::uint64_t start = 0;
  for (const Run& r : kMftRuns) {
    if (vcn < start + r.length) return r.sparse ? std::nullopt : std::optional<std::uint64_t>(r.lcn + vcn - start);
    start += r.length;
  }
  return std::nullopt;
}

// Each record's bytes tell its number and where in it they lie.
Bytes RecordPattern(std::uint64_t r) {
  Bytes b(1024);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(r * 7 + i / 3);
  b[0] = static_cast<std::uint8_t>(r);
  b[1] = static_cast<std::uint8_t>(r >> 8);
  return b;
}

class MftPass : public ::testing::Test {
 protected:
  MftPass() : app_(dir_ / "settings.ini", dir_.path()) {
    NtfsImage image(1, kVolumeClusters, kMftRuns.front().lcn, static_cast<std::uint32_t>(kRecords));
    RecordBuilder mft;
    mft.number = 0;
    const std::uint64_t bytes = kMftClusters * 512;
    mft.Add(Resident(0x10, StdInfo(0, 0), u"", 0))
        .Add(Resident(0x30, FileName(Ref(5, 5), u"$MFT", 3, 0x06), u"", 1))
        .Add(NonResident(0x80, Pairs(kMftRuns), 0, kMftClusters - 1, bytes, bytes, bytes, 0, 0, u"", 2));
    expected_.push_back(mft.Build());
    image.PutRecord(0, expected_[0]);
    for (std::uint64_t r = 1; r < kRecords; ++r) expected_.push_back(RecordPattern(r));
    // Each half lands where the runs put it; a half in the hole reads as zeros.
    for (std::uint64_t r = 0; r < kRecords; ++r) {
      for (std::uint64_t half = 0; half < 2; ++half) {
        const auto lcn = LcnOf(r * 2 + half);
        const std::span<const std::uint8_t> part(expected_[r].data() + half * 512, 512);
        if (lcn) image.WriteClusters(*lcn, part);
        else std::fill_n(expected_[r].begin() + static_cast<std::ptrdiff_t>(half * 512), 512, 0);
      }
    }
    volume_ = image.Finish();
  }

  // An engine bound to the volume as read through `disk`, its $MFT runs loaded.
  std::unique_ptr<NtfsEngine> Engine(std::shared_ptr<SectorSource> disk) {
    auto engine = std::make_unique<NtfsEngine>(app_);
    NtfsVolumeBinding b;
    b.disk = std::move(disk);
    b.sectorCount = kVolumeClusters;
    b.endSector = kVolumeClusters;
    engine->Prepare(b);
    EXPECT_TRUE(engine->ValidateBootSector());
    EXPECT_TRUE(engine->LoadMftRuns());
    return engine;
  }
  std::shared_ptr<SectorSource> Disk() { return std::make_shared<MemorySectorSource>(volume_); }

  // Every record the pass hands out, in the order it hands them.
  static std::vector<std::pair<std::uint64_t, Bytes>> Pass(NtfsEngine& engine) {
    std::vector<std::pair<std::uint64_t, Bytes>> seen;
    engine.ForEachMftRecord(0, [&](std::uint64_t r, std::span<std::uint8_t, ntfs::kMftRecordSize> bytes) {
      seen.emplace_back(r, Bytes(bytes.begin(), bytes.end()));
      return true;
    });
    return seen;
  }

  test::TempDir dir_;
  CORVANApp app_;
  std::vector<Bytes> expected_;
  Bytes volume_;
};

TEST_F(MftPass, EveryRecordOnceInOrderAsTheRunsPlaceIt) {
  auto engine = Engine(Disk());
  ASSERT_EQ(engine->MftRecordCount(), kRecords);
  const auto seen = Pass(*engine);
  ASSERT_EQ(seen.size(), kRecords);
  for (std::uint64_t r = 0; r < kRecords; ++r) {
    ASSERT_EQ(seen[r].first, r);
    // 2 and 3 lie half in the hole, 2003 across two runs, 4095 and 4096
    // on either side of the pass's first read, 4199 at the end.
    ASSERT_EQ(seen[r].second, expected_[r]) << "record " << r;
  }
}

TEST_F(MftPass, RecordsReadOneByOneMatchThePass) {
  auto engine = Engine(Disk());
  for (const std::uint64_t r : {4199u, 2u, 3u, 2003u, 4095u, 4096u, 1u, 1023u, 1024u}) {
    std::array<std::uint8_t, ntfs::kMftRecordSize> bytes;
    ASSERT_TRUE(engine->ReadMftRecord(r, bytes));
    EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), expected_[r]) << "record " << r;
  }
  std::array<std::uint8_t, ntfs::kMftRecordSize> bytes;
  EXPECT_FALSE(engine->ReadMftRecord(kRecords, bytes)) << "past the $MFT's end";
}

TEST_F(MftPass, AFailedReadCostsOnlyTheRecordItHits) {
  // The second half of record 3000 cannot be read; its neighbours share
  // the pass's read with it and must come out whole.
  const std::uint64_t bad = *LcnOf(3000 * 2 + 1);
  auto engine = Engine(std::make_shared<test::BadSectorSource>(Disk(), bad));
  const auto seen = Pass(*engine);
  ASSERT_EQ(seen.size(), kRecords);
  EXPECT_EQ(seen[3000].second, Bytes(1024, 0));
  for (std::uint64_t r = 0; r < kRecords; ++r) {
    if (r != 3000) ASSERT_EQ(seen[r].second, expected_[r]) << "record " << r;
  }
  std::array<std::uint8_t, ntfs::kMftRecordSize> bytes;
  ASSERT_TRUE(engine->ReadMftRecord(2999, bytes));
  EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), expected_[2999]);
  ASSERT_TRUE(engine->ReadMftRecord(3000, bytes));
  EXPECT_EQ(Bytes(bytes.begin(), bytes.end()), Bytes(1024, 0));
}

TEST_F(MftPass, APassStartsWhereAskedAndStopsWhenTheVisitorSays) {
  auto engine = Engine(Disk());
  std::vector<std::uint64_t> numbers;
  EXPECT_FALSE(engine->ForEachMftRecord(4090, [&](std::uint64_t r, std::span<std::uint8_t, ntfs::kMftRecordSize>) {
    numbers.push_back(r);
    return r < 4100;
  }));
  ASSERT_EQ(numbers.size(), 11u);
  EXPECT_EQ(numbers.front(), 4090u);
  EXPECT_EQ(numbers.back(), 4100u);
}

}  // namespace
}  // namespace corvan
