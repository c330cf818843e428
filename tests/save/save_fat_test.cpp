// Saving what Quick Recovery found on small FAT volumes built for one case
// each: empty files come out as empty files, and a cluster that cannot be
// read is named in the log by its number on the volume.

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "engines/fat/FatImageBuilder.h"
#include "save/SaveTestSupport.h"
#include "support/FatTestVolume.h"

namespace corvan {
namespace {

using fattest::FatImage;
using fattest::Harness;
using fattest::PutDotEntries;
using fattest::PutNamedEntry;
using fattest::PutShortEntry;
using test::CountOf;

// A disk whose listed sectors cannot be read: a read that touches one
// fails, and those sectors read as zeros.
class BadSectorSource final : public SectorSource {
 public:
  BadSectorSource(std::vector<std::uint8_t> bytes, std::set<std::uint64_t> bad)
      : inner_(std::move(bytes)), bad_(std::move(bad)) {}
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    if (!inner_.ReadSectors(sector, buffer, bytes)) return false;
    bool ok = true;
    for (std::uint64_t s = sector; s < sector + bytes / kSectorSize; ++s) {
      if (!bad_.count(s)) continue;
      std::memset(static_cast<std::uint8_t*>(buffer) + (s - sector) * kSectorSize, 0, kSectorSize);
      ok = false;
    }
    return ok;
  }
  std::uint64_t SectorCount() const override { return inner_.SectorCount(); }

 private:
  MemorySectorSource inner_;
  std::set<std::uint64_t> bad_;
};

std::vector<std::uint8_t> Pattern(std::size_t n, std::uint8_t seed) {
  std::vector<std::uint8_t> b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 512);
  return b;
}

// Quick Recovery over `disk`, then everything it listed saved to `dest`.
test::SaveRun ScanAndSave(Harness& h, std::shared_ptr<SectorSource> disk, const std::filesystem::path& dest) {
  h.sectors = disk->SectorCount();
  h.disk = std::move(disk);
  auto engine = h.Engine(kFat16);
  EXPECT_EQ(engine->ScanVolume(0), FatScanResult::Completed);
  h.app.m_pScanSession->Hold(EngineKind::Fat, std::move(engine));
  UnattendedSaveDecisions decisions;
  return test::SaveStore(h.app, h.store, dest, decisions);
}

TEST(SaveFat, EmptyFilesAreSavedEmptyAndTaggedRecovered) {
  Harness h;
  FatImage image = fattest::SmallFat16();
  std::size_t at = 0;
  PutShortEntry(image.Root(), "EMPTY   TXT", 0x20, 0, 0);
  at += 32;
  at += PutNamedEntry(image.Root() + at, u"Nothing in here.log", "NOTHIN~1LOG", 0x20, 0, 0);
  PutShortEntry(image.Root() + at, "DIR        ", 0x10, 10, 0);
  PutDotEntries(image.Cluster(10), 10, 0);
  image.SetFat(10, image.EndOfChain());
  PutShortEntry(image.Cluster(10) + 64, "INNER   DAT", 0x20, 0, 0);
  const auto dest = h.dir / "saved";
  const auto run = ScanAndSave(h, std::make_shared<MemorySectorSource>(image.Bytes()), dest);

  for (const char* path : {"EMPTY.TXT", "Nothing in here.log", "DIR/INNER.DAT"}) {
    ASSERT_TRUE(std::filesystem::is_regular_file(dest / path)) << path;
    EXPECT_EQ(std::filesystem::file_size(dest / path), 0u) << path;
  }
  EXPECT_EQ(run.result.recovered, 3u);
  EXPECT_EQ(CountOf(run.log, "[Recovered]"), 3u);
  EXPECT_FALSE(run.result.failedJob) << run.result.failure;
}

TEST(SaveFat, AnUnreadableClusterIsNamedByItsNumberOnTheVolume) {
  Harness h;
  FatImage image = fattest::SmallFat16();  // one sector per cluster
  // 1300 bytes in clusters 30, 60 and 61; cluster 60 cannot be read.
  const auto data = Pattern(1300, 5);
  PutShortEntry(image.Root(), "FRAG    BIN", 0x20, 30, 1300);
  image.Chain({30, 60, 61});
  std::memcpy(image.Cluster(30), data.data(), 512);
  std::memcpy(image.Cluster(60), data.data() + 512, 512);
  std::memcpy(image.Cluster(61), data.data() + 1024, 1300 - 1024);
  const std::uint64_t badSector = image.DataStart() + (60 - 2);
  const auto dest = h.dir / "saved";
  const auto run = ScanAndSave(h, std::make_shared<BadSectorSource>(image.Bytes(), std::set{badSector}), dest);

  auto expected = data;
  std::fill(expected.begin() + 512, expected.begin() + 1024, 0);
  const std::string saved = test::ReadWholeFile(dest / "FRAG.BIN");
  EXPECT_EQ(saved, std::string(expected.begin(), expected.end()));
  EXPECT_EQ(CountOf(run.log, "Disk read error, file may not be completely recovered"), 1u) << run.log;
  // The second cluster of the file is cluster 60 of the volume.
  EXPECT_EQ(CountOf(run.log, "Error reading cluster: 60\r\n"), 1u) << run.log;
  EXPECT_EQ(CountOf(run.log, "Error reading cluster:"), 1u) << run.log;
  EXPECT_EQ(CountOf(run.log, "[Partially Recovered]"), 1u);
}

}  // namespace
}  // namespace corvan