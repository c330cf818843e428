// Dynamic Virtual PC disks with block sizes other than the usual 2 MiB,
// written here from the published VHD format: a 512-byte footer (copied at
// the start of the file), the 1024-byte dynamic disk header at byte 512, the
// block allocation table of big-endian sector numbers (0xFFFFFFFF: no
// block), and each block as its sector bitmap, padded to whole sectors,
// followed by the block's data. With 512 KiB blocks the bitmap is 128 bytes,
// not a whole sector; with 4 MiB blocks it is two sectors.
#include <gtest/gtest.h>

#include <random>

#include "sources/VirtualDiskImage.h"
#include "sources/image_test_support.h"
#include "support/SyntheticDisk.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;
using test::SetBE32;
using test::SetBE64;

// One's complement of the byte sum, the checksum field (4 bytes at `at`)
// counted as zero.
void PutVhdChecksum(std::uint8_t* s, std::size_t length, std::size_t at) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum += (i >= at && i < at + 4) ? 0 : s[i];
  SetBE32(s + at, ~sum);
}

struct BuiltVhd {
  std::vector<std::uint8_t> file;
  std::vector<std::uint8_t> disk;  // what the virtual disk holds
};

// A disk of `diskBytes` (the last block partial) in blocks of `blockBytes`.
// Blocks are stored in the file in reverse order, every third block is
// never written, and each written sector carries random bytes.
BuiltVhd BuildDynamicVhd(std::uint32_t blockBytes, std::uint64_t diskBytes) {
  BuiltVhd vhd;
  vhd.disk.assign(diskBytes, 0);
  const std::uint32_t blocks = static_cast<std::uint32_t>((diskBytes + blockBytes - 1) / blockBytes);
  const std::uint64_t tableOffset = 512 + 1024;
  const std::uint64_t tableBytes = (std::uint64_t{blocks} * 4 + 511) / 512 * 512;
  const std::uint64_t bitmapBytes = (blockBytes / 512 / 8 + 511) / 512 * 512;

  std::uint8_t footer[512] = {};
  std::memcpy(footer, "conectix", 8);
  SetBE32(footer + 8, 2);            // features: reserved bit set
  SetBE32(footer + 12, 0x00010000);  // file format version
  SetBE64(footer + 16, 512);         // data offset: the dynamic header
  std::memcpy(footer + 28, "tst ", 4);
  SetBE32(footer + 36, 0x5769326B);  // "Wi2k"
  SetBE64(footer + 40, diskBytes);   // original size
  SetBE64(footer + 48, diskBytes);   // current size
  SetBE32(footer + 60, 3);           // dynamic
  PutVhdChecksum(footer, 512, 64);

  std::uint8_t header[1024] = {};
  std::memcpy(header, "cxsparse", 8);
  SetBE64(header + 8, UINT64_MAX);
  SetBE64(header + 16, tableOffset);
  SetBE32(header + 24, 0x00010000);
  SetBE32(header + 28, blocks);
  SetBE32(header + 32, blockBytes);
  PutVhdChecksum(header, 1024, 36);

  vhd.file.resize(tableOffset + tableBytes, 0);
  std::memcpy(vhd.file.data(), footer, 512);
  std::memcpy(vhd.file.data() + 512, header, 1024);
  std::fill(vhd.file.begin() + tableOffset, vhd.file.end(), 0xFF);

  std::mt19937 random(blockBytes);
  for (std::uint32_t b = blocks; b-- > 0;) {
    if (b % 3 == 1) continue;  // never written: reads as zeros
    const std::uint64_t at = vhd.file.size();
    SetBE32(vhd.file.data() + tableOffset + 4 * b, static_cast<std::uint32_t>(at / 512));
    vhd.file.resize(at + bitmapBytes + blockBytes, 0);
    std::fill_n(vhd.file.begin() + at, blockBytes / 512 / 8, 0xFF);  // every sector present
    std::uint8_t* data = vhd.file.data() + at + bitmapBytes;
    const std::uint64_t inDisk = std::min<std::uint64_t>(blockBytes, diskBytes - std::uint64_t{b} * blockBytes);
    for (std::uint64_t i = 0; i < inDisk; ++i) data[i] = static_cast<std::uint8_t>(random());
    std::memcpy(vhd.disk.data() + std::uint64_t{b} * blockBytes, data, inDisk);
  }
  vhd.file.insert(vhd.file.end(), footer, footer + 512);
  return vhd;
}

class VhdBlockSizes : public ::testing::TestWithParam<std::uint32_t> {
 protected:
  void TearDown() override { test::OpenedDisk().reset(); }
};

TEST_P(VhdBlockSizes, EverySectorReadsBack) {
  const std::uint32_t blockBytes = GetParam();
  const std::uint64_t diskBytes = 9 * std::uint64_t{blockBytes} + blockBytes / 2;
  const BuiltVhd vhd = BuildDynamicVhd(blockBytes, diskBytes);
  test::TempDir dir;
  test::WriteBytes(dir / "disk.vhd", vhd.file);

  const MountResult mount = test::OpenImage(kImageVirtualPc, dir / "disk.vhd");
  ASSERT_EQ(mount.result, 1);
  ASSERT_TRUE(mount.mounted);
  EXPECT_EQ(mount.image->State().m_nVhdType, kVhdDynamic);
  const std::uint64_t sectors = diskBytes / 512;
  ASSERT_EQ(mount.image->SectorCount(), sectors);

  // The whole disk at once, then in reads of 7 sectors that cross every
  // block boundary at another place.
  std::vector<std::uint8_t> all(diskBytes, 0xCC);
  ASSERT_TRUE(test::ReadOpenedDisk(all.data(), 0, static_cast<std::uint32_t>(diskBytes)));
  ASSERT_TRUE(all == vhd.disk);
  std::vector<std::uint8_t> piece(7 * 512);
  for (std::uint64_t s = 0; s < sectors; s += 7) {
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(7, sectors - s) * 512);
    std::fill(piece.begin(), piece.end(), 0xCC);
    ASSERT_TRUE(test::ReadOpenedDisk(piece.data(), s, n)) << "sector " << s;
    ASSERT_EQ(std::memcmp(piece.data(), vhd.disk.data() + s * 512, n), 0) << "sector " << s;
  }
  // Past the end: zeros and a failed read.
  std::fill(piece.begin(), piece.end(), 0xCC);
  EXPECT_FALSE(test::ReadOpenedDisk(piece.data(), sectors, 512));
  EXPECT_TRUE(std::all_of(piece.begin(), piece.begin() + 512, [](std::uint8_t b) { return b == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Blocks, VhdBlockSizes, ::testing::Values(512u * 1024, 4u * 1024 * 1024),
                         [](const ::testing::TestParamInfo<std::uint32_t>& info) {
                           return std::to_string(info.param / 1024) + "KiB";
                         });

}  // namespace
}  // namespace corvan
