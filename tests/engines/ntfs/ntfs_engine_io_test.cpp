// The engine's binding and reads: where a volume starts for each kind of
// source, 64-bit sector arithmetic, and reads that fail or come short.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "app/CORVANApp.h"
#include "engines/ntfs/NtfsEngine.h"
#include "sources/FileSectorSource.h"
#include "sources/Volume.h"
#include "sources/SectorSource.h"
#include "sources/SourceRecords.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

// A disk of any size that holds an NTFS boot sector at one place and zeros
// elsewhere, and remembers where it was read.
class SparseDisk final : public SectorSource {
 public:
  SparseDisk(std::uint64_t bootAt, std::uint8_t sectorsPerCluster, std::uint16_t bytesPerSector = 512)
      : bootAt_(bootAt) {
    boot_.fill(0);
    std::memcpy(boot_.data() + 3, "NTFS    ", 8);
    boot_[0x0B] = static_cast<std::uint8_t>(bytesPerSector);
    boot_[0x0C] = static_cast<std::uint8_t>(bytesPerSector >> 8);
    boot_[0x0D] = sectorsPerCluster;
    boot_[0x30] = 4;  // $MFT at cluster 4
    boot_[510] = 0x55;
    boot_[511] = 0xAA;
  }
  bool ReadSectors(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    reads.push_back(sector);
    std::memset(buffer, 0, bytes);
    if (sector == bootAt_) std::memcpy(buffer, boot_.data(), std::min<std::size_t>(bytes, 512));
    return true;
  }
  std::uint64_t SectorCount() const override { return ~0ull / 1024; }
  std::vector<std::uint64_t> reads;

 private:
  std::uint64_t bootAt_;
  std::array<std::uint8_t, 512> boot_;
};

class NtfsEngineIo : public ::testing::Test {
 protected:
  NtfsEngineIo() : app_(dir_ / "settings.ini", dir_.path()), engine_(app_) {}
  test::TempDir dir_;
  CORVANApp app_;
  NtfsEngine engine_;
};

TEST_F(NtfsEngineIo, ClusterSectorsAreSixtyFourBitProducts) {
  auto disk = std::make_shared<SparseDisk>(1000, 8);
  NtfsVolumeBinding b;
  b.disk = disk;
  b.firstSector = 1000;
  b.sectorCount = 1ull << 40;
  b.endSector = b.firstSector + b.sectorCount;
  engine_.Prepare(b);
  ASSERT_TRUE(engine_.ValidateBootSector());
  EXPECT_EQ(engine_.SectorsPerCluster(), 8u);
  EXPECT_EQ(engine_.MftSector(), 32u);
  std::array<std::uint8_t, 512> buf;
  disk->reads.clear();
  // Cluster 2^29 times 8 sectors is 2^32: past what 32 bits hold.
  ASSERT_TRUE(engine_.ReadClusters(buf.data(), 1ull << 29, 1, 3));
  ASSERT_EQ(disk->reads.size(), 1u);
  EXPECT_EQ(disk->reads[0], 1000 + (1ull << 32) + 3);
}

TEST_F(NtfsEngineIo, BootSectorBackupsAndTheBytesPerSectorField) {
  // 4096-byte sectors, 2 per cluster: 16 sectors of 512 bytes per cluster.
  auto disk = std::make_shared<SparseDisk>(5000 + 799, 2, 4096);
  NtfsVolumeBinding b;
  b.disk = disk;
  b.firstSector = 5000;
  b.sectorCount = 800;
  b.endSector = 5800;
  engine_.Prepare(b);
  // Only the copy in the volume's last sector is sound: found on the third try.
  ASSERT_TRUE(engine_.ValidateBootSector());
  EXPECT_EQ(disk->reads, (std::vector<std::uint64_t>{5000, 5800, 5799}));
  EXPECT_EQ(engine_.SectorsPerCluster(), 16u);
  EXPECT_EQ(engine_.MftSector(), 4u * 16u);
}

TEST_F(NtfsEngineIo, ShortAndFailedReadsAreZeroFilledAndCounted) {
  auto disk = std::make_shared<MemorySectorSource>(std::vector<std::uint8_t>(4 * 512, 0x11));
  NtfsVolumeBinding b;
  b.disk = disk;
  b.sectorCount = 8;
  b.endSector = 8;
  engine_.Prepare(b);
  std::vector<std::uint8_t> buf(4 * 512, 0xAA);
  EXPECT_FALSE(engine_.ReadVolumeSectors(buf.data(), 4 * 512, 2));
  EXPECT_EQ(buf[0], 0x11);
  EXPECT_EQ(buf[1024], 0x00) << "nothing of the earlier contents is left where the read came short";
  EXPECT_EQ(engine_.ReadFailures(), 1u);
  b.disk = nullptr;  // bound to no disk: nothing can be read
  engine_.Prepare(b);
  std::fill(buf.begin(), buf.end(), 0xAA);
  EXPECT_FALSE(engine_.ReadVolumeSectors(buf.data(), 512, 0));
  EXPECT_EQ(buf[0], 0x00);
}

TEST_F(NtfsEngineIo, ImageFileReads) {
  std::string bytes(3 * 512, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i / 512 + 1);
  test::WriteWholeFile(dir_ / "volume.img", bytes);
  NtfsVolumeBinding b;
  b.firstSector = 1;
  b.sectorCount = 2;
  b.disk = std::make_shared<FileSectorSource>(dir_ / "volume.img");
  engine_.Prepare(b);
  std::vector<std::uint8_t> buf(1024, 0xAA);
  EXPECT_TRUE(engine_.ReadVolumeSectors(buf.data(), 512, 0));
  EXPECT_EQ(buf[0], 2) << "relative to the volume's first sector";
  EXPECT_FALSE(engine_.ReadVolumeSectors(buf.data(), 1024, 1)) << "the file ends after one sector";
  EXPECT_EQ(buf[0], 3);
  EXPECT_EQ(buf[512], 0);

  b.disk = std::make_shared<FileSectorSource>(dir_ / "missing.img");
  engine_.Prepare(b);
  std::fill(buf.begin(), buf.end(), 0xAA);
  EXPECT_FALSE(engine_.ReadVolumeSectors(buf.data(), 512, 0));
  EXPECT_EQ(buf[0], 0);
}

TEST_F(NtfsEngineIo, PrepareFromSourceRecords) {
  SourceRecord volume;
  volume.kind = 1;
  volume.partition = std::make_unique<PartitionRecord>();
  volume.partition->startSector = 2048;
  volume.partition->sectorCount = 98304;
  volume.partition->endSector = 2048 + 98304;
  volume.partition->ntfsSectorsPerCluster = 8;
  volume.partition->mftSector = 32;
  engine_.Prepare(MakeVolume(volume, nullptr, false));
  EXPECT_EQ(engine_.VolumeFirstSector(), 2048u);
  EXPECT_EQ(engine_.VolumeSectorCount(), 98304u);
  EXPECT_EQ(engine_.VolumeEndSector(), 2048u + 98304u);

  // A whole image file: read from its first sector, whatever the record says.
  volume.kind = 7;
  volume.path = u"/images/volume.img";
  engine_.Prepare(MakeVolume(volume, nullptr, true));
  EXPECT_EQ(engine_.VolumeFirstSector(), 0u);

  // A disk carries no volume: the engine keeps what it had.
  SourceRecord disk;
  disk.kind = 0;
  disk.disk = std::make_unique<DiskRecord>();
  NtfsEngine fresh(app_);
  fresh.Prepare(MakeVolume(disk, nullptr, false));
  EXPECT_EQ(fresh.VolumeSectorCount(), 0u);
  EXPECT_FALSE(fresh.ScanVolume(true));
}

TEST_F(NtfsEngineIo, FreeListsOnAFreshEngineLeavesItEmpty) {
  NtfsEngine fresh(app_);
  fresh.FreeLists();
  EXPECT_EQ(fresh.FoundItemCount(), 0u);
  EXPECT_TRUE(fresh.MftRuns().empty());
  EXPECT_TRUE(fresh.FreeExtents().empty());
  EXPECT_TRUE(fresh.KeptRuns().empty());
  EXPECT_EQ(fresh.MftRecordToSector(5), 0u);
  std::array<std::uint8_t, 1024> rec;
  EXPECT_FALSE(fresh.ReadMftRecord(0, rec));
}

}  // namespace
}  // namespace corvan
