// Damaged, partial and unusual images: split disks with a file missing,
// truncated tables, headers with impossible numbers, descriptor text as
// VMware's format writes it, and the VDI/VHD recognition rules.

#include <gtest/gtest.h>

#include "platform/ByteCodec.h"
#include "sources/VirtualDiskImage.h"
#include "sources/image_test_support.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;
using test::DisksDir;

constexpr std::uint64_t kMbrSectors = 368640;
constexpr std::uint64_t kMiB = 1 << 20;

fs::path FlatDisk() { return DisksDir() / "mbr-mflat-flat.vmdk"; }

bool AllZero(const std::vector<std::uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// Reads `bytes` at `sector` of `image` into a buffer first filled with 0xCC.
std::vector<std::uint8_t> Read(CVirtualDiskImage& image, std::uint64_t sector, std::size_t bytes, bool* ok) {
  std::vector<std::uint8_t> buffer(bytes, 0xCC);
  *ok = image.ReadSectors(sector, buffer.data(), bytes);
  return buffer;
}

class ImageFaults : public ::testing::Test {
 protected:
  void TearDown() override { test::OpenedDisk().reset(); }
  test::TempDir dir_;
};

// Four 8 MiB slices of the flat disk as a split image; the third of them is
// where the second volume would be read from.
TEST_F(ImageFaults, SplitDescriptorWithMissingMiddleFileReadsZerosThere) {
  const std::uint64_t slice = 8 * kMiB;
  for (int i = 0; i < 4; ++i) {
    test::CopySlice(FlatDisk(), i * slice, slice, dir_ / ("disk-f00" + std::to_string(i + 1) + ".vmdk"));
  }
  // Descriptor syntax as VMware's Virtual Disk Format 1.1 gives it.
  std::string descriptor =
      "# Disk DescriptorFile\nversion=1\nCID=fffffffe\nparentCID=ffffffff\n"
      "createType=\"twoGbMaxExtentFlat\"\n\n# Extent description\n";
  for (int i = 0; i < 4; ++i) {
    descriptor += "RW 16384 FLAT \"disk-f00" + std::to_string(i + 1) + ".vmdk\" 0\n";
  }
  descriptor += "\n# The Disk Data Base\n#DDB\n\nddb.adapterType = \"ide\"\n";
  test::WriteWholeFile(dir_ / "disk.vmdk", descriptor);
  fs::remove(dir_ / "disk-f002.vmdk");

  const MountResult mount = test::OpenImage(kImageVmware, dir_ / "disk.vmdk");
  ASSERT_EQ(mount.result, 1);
  ASSERT_TRUE(mount.mounted);
  EXPECT_EQ(mount.image->SectorCount(), 4 * 16384u);

  const auto names = mount.image->GetExtentNames();
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0].fileName, u"disk-f001.vmdk");
  EXPECT_EQ(names[1].fileName, u"disk-f002.vmdk (Missing)");
  EXPECT_EQ(names[2].fileName, u"disk-f003.vmdk");
  // Asking twice does not mark twice, and reading still finds the files.
  EXPECT_EQ(mount.image->GetExtentNames()[1].fileName, u"disk-f002.vmdk (Missing)");

  test::ExpectMountedDiskEquals(0, FlatDisk(), 0, slice);
  test::ExpectMountedDiskEquals(2 * 16384, FlatDisk(), 2 * slice, 2 * slice);
  std::vector<std::uint8_t> buffer(slice, 0xCC);
  EXPECT_FALSE(test::ReadOpenedDisk(buffer.data(), 16384, static_cast<std::uint32_t>(slice)));
  EXPECT_TRUE(AllZero(buffer));
  // A read across the gap fails but keeps the data on both sides.
  std::vector<std::uint8_t> across(2 * kMiB, 0xCC);
  EXPECT_FALSE(test::ReadOpenedDisk(across.data(), 16384 - 1024, 2 * kMiB));
  EXPECT_EQ(std::vector<std::uint8_t>(across.begin(), across.begin() + 512 * 1024),
            test::FileBytes(FlatDisk(), (16384 - 1024) * 512, 512 * 1024));
  EXPECT_TRUE(AllZero(std::vector<std::uint8_t>(across.begin() + 512 * 1024, across.end())));
}

TEST_F(ImageFaults, NumberedFlatFilesOpenedDirectlyFillTheGapFromTheirSiblings) {
  // disk-f001 .. disk-f004: three of 8 MiB, a last one of 4 MiB; f002 missing.
  const std::uint64_t slice = 8 * kMiB;
  for (int i = 0; i < 4; ++i) {
    test::CopySlice(FlatDisk(), i * slice, i == 3 ? 4 * kMiB : slice,
                    dir_ / ("disk-f00" + std::to_string(i + 1) + ".vmdk"));
  }
  test::CopySlice(FlatDisk(), 0, 512, dir_ / "disk-f01.vmdk");    // other length: not a sibling
  test::CopySlice(FlatDisk(), 0, 512, dir_ / "other-f002.vmdk");  // other base
  fs::remove(dir_ / "disk-f002.vmdk");

  CVirtualDiskImage image;
  ASSERT_FALSE(image.IsDescriptorFile(dir_ / "disk-f003.vmdk"));
  ASSERT_EQ(image.OpenVmdk(dir_ / "disk-f003.vmdk"), 1);
  const MountState& state = image.State();
  EXPECT_EQ(state.m_strCreateType, "twoGbMaxExtentFlat");
  ASSERT_EQ(state.m_arrExtents.size(), 4u);
  EXPECT_EQ(state.m_arrExtents[1].fileName, u"disk-f002.vmdk");
  EXPECT_EQ(state.m_arrExtents[1].size, 16384u);
  EXPECT_EQ(state.m_arrExtents[3].size, 8192u);
  EXPECT_EQ(image.SectorCount(), 3 * 16384u + 8192u);
  EXPECT_EQ(image.GetExtentNames()[1].fileName, u"disk-f002.vmdk (Missing)");

  bool ok = false;
  auto bytes = Read(image, 3 * 16384 + 100, 4096, &ok);  // in the short last file
  EXPECT_TRUE(ok);
  EXPECT_EQ(bytes, test::FileBytes(FlatDisk(), (3 * 16384 + 100) * 512, 4096));
  bytes = Read(image, 16384 + 5, 4096, &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(AllZero(bytes));
  bytes = Read(image, image.SectorCount() - 1, 1024, &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(image.ImageError());
}

TEST_F(ImageFaults, BigSparseFileNamedLikeASplitOneIsOneFile) {
  // 3 GiB (a hole after the data) with a KDMV header, named -s001.
  const fs::path big = dir_ / "big-s001.vmdk";
  fs::copy_file(DisksDir() / "mbr.vmdk", big);
  fs::resize_file(big, 3ull << 30);
  CVirtualDiskImage image;
  ASSERT_EQ(image.OpenVmdk(big), 1);
  EXPECT_EQ(image.State().m_strCreateType, "monolithicSparse");
  ASSERT_EQ(image.State().m_arrExtents.size(), 1u);
  EXPECT_EQ(image.State().m_arrExtents[0].size, kMbrSectors);
  bool ok = false;
  EXPECT_EQ(Read(image, 104448, 8192, &ok), test::FileBytes(FlatDisk(), 104448 * 512, 8192));
  EXPECT_TRUE(ok);
}

TEST_F(ImageFaults, SparseFileWithoutItsMagicIsReadWithTheUsualGrains) {
  // mbr.vmdk uses 128-sector grains, 512 entries a table and its redundant
  // directory at sector 21: exactly the values a headerless file is read with.
  const fs::path copy = dir_ / "mbr.vmdk";
  fs::copy_file(DisksDir() / "mbr.vmdk", copy);
  test::PatchFile(copy, 0, {0, 0, 0, 0});
  CVirtualDiskImage image;
  EXPECT_FALSE(image.IsDescriptorFile(copy));
  ASSERT_EQ(image.OpenVmdk(copy), 1);  // through the descriptor in sector 1
  EXPECT_TRUE(image.State().m_bVmdkEmbeddedDescriptor);
  EXPECT_EQ(image.SectorCount(), kMbrSectors);
  bool ok = false;
  EXPECT_EQ(Read(image, 2048, 64 * 1024, &ok), test::FileBytes(FlatDisk(), 2048 * 512, 64 * 1024));
  EXPECT_TRUE(ok);
}

TEST_F(ImageFaults, TruncatedSparseFileGivesZerosNotGarbage) {
  const fs::path src = DisksDir() / "mbr.vmdk";
  const fs::path cut = dir_ / "cut.vmdk";
  CVirtualDiskImage image;
  bool ok = false;

  // Cut inside the grain directory (sector 21 on): nothing can be found.
  test::CopySlice(src, 0, 21 * 512 + 6, cut);
  ASSERT_EQ(image.OpenVmdk(cut), 0);
  EXPECT_TRUE(image.ImageError());
  EXPECT_EQ(image.SectorCount(), kMbrSectors);  // the header still tells the size
  auto bytes = Read(image, 0, 4096, &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(AllZero(bytes));
  bytes = Read(image, 300000, 4096, &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(AllZero(bytes));

  // Cut in the middle of the grains: what is left reads right, the rest
  // fails as zeros.
  test::CopySlice(src, 0, fs::file_size(src) / 2, cut);
  ASSERT_EQ(image.OpenVmdk(cut), 1);
  int failed = 0;
  for (std::uint64_t sector = 0; sector < kMbrSectors; sector += test::kChunk / 512) {
    bytes = Read(image, sector, test::kChunk, &ok);
    failed += ok ? 0 : 1;
    const auto flat = test::FileBytes(FlatDisk(), sector * 512, test::kChunk);
    for (std::size_t i = 0; i < bytes.size(); i += 512) {
      const bool same = std::equal(bytes.begin() + i, bytes.begin() + i + 512, flat.begin() + i);
      const bool zero = std::all_of(bytes.begin() + i, bytes.begin() + i + 512, [](std::uint8_t b) { return b == 0; });
      ASSERT_TRUE(same || zero) << "sector " << sector + i / 512;
      ASSERT_TRUE(same || !ok) << "zeros reported as read at sector " << sector + i / 512;
    }
  }
  EXPECT_GT(failed, 0);
}

// The first 2 MiB of mbr.vmdk (header, descriptor, directories, tables and
// the first grains) under another name, one header field made impossible.
// Numbers that cannot describe a sparse file, or a grain directory outside
// the file, leave nothing of the disk to read: the image is refused. The
// other fields are not needed to find a grain (the embedded descriptor
// gives the size, the header's own offsets are not used for data), so the
// disk mounts and its first sectors read like the flat disk.
TEST_F(ImageFaults, ImpossibleSparseHeaderNumbersDoNotCrash) {
  const fs::path src = DisksDir() / "mbr.vmdk";
  const fs::path bad = dir_ / "bad.vmdk";
  struct Patch {
    std::uint64_t offset;
    std::vector<std::uint8_t> bytes;
    bool readable;
  };
  const std::vector<std::uint8_t> ones(8, 0xFF);
  const std::vector<std::uint8_t> zeros(8, 0);
  const Patch patches[] = {
      {20, zeros, false},                     // grain size 0
      {20, ones, false},                      // grain size 2^64-1
      {44, {0, 0, 0, 0}, false},              // no entries a table
      {44, {0xFF, 0xFF, 0xFF, 0xFF}, false},
      {48, ones, false},                      // directories far beyond the file
      {12, ones, true},                       // capacity 2^64-1
      {28, ones, true},                       // descriptor beyond the file
      {36, ones, true},                       // huge descriptor
  };
  const auto flatStart = test::FileBytes(FlatDisk(), 0, 64 * 1024);
  for (const Patch& p : patches) {
    SCOPED_TRACE(p.offset);
    test::CopySlice(src, 0, 2 * kMiB, bad);
    if (p.offset == 48) test::PatchFile(bad, 56, ones);
    test::PatchFile(bad, p.offset, p.bytes);
    const MountResult mount = MountImageFile(kImageVmware, bad);
    CVirtualDiskImage& image = *mount.image;
    EXPECT_EQ(mount.mounted, p.readable);
    bool ok = false;
    auto bytes = Read(image, 0, 64 * 1024, &ok);
    EXPECT_EQ(ok, p.readable);
    if (p.readable) {
      EXPECT_EQ(mount.result, 1);
      EXPECT_EQ(image.SectorCount(), kMbrSectors);
      EXPECT_EQ(bytes, flatStart);
    } else {
      EXPECT_TRUE(AllZero(bytes));
    }
    bytes = Read(image, 1ull << 40, 4096, &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(AllZero(bytes));
    bytes = Read(image, image.SectorCount() > 8 ? image.SectorCount() - 8 : 0, 8192, &ok);
    EXPECT_FALSE(ok) << "past the 2 MiB kept of the file";
    EXPECT_TRUE(AllZero(bytes));
  }
}

TEST_F(ImageFaults, DescriptorWithImpossibleExtents) {
  test::CopySlice(FlatDisk(), 0, kMiB, dir_ / "a.vmdk");
  test::WriteWholeFile(dir_ / "d.vmdk",
                       "# Disk DescriptorFile\r\ncreateType=\"monolithicFlat\"\r\n"
                       "RW 99999999999999999999999 FLAT \"a.vmdk\" 0\r\n"
                       "RW 2048 FLAT \"a.vmdk\" 18446744073709551615\r\n"
                       "RW 2048 VMFSSPARSE \"a.vmdk\"\r\n"
                       "RW 12 FLAT \"unterminated.vmdk\r\n");
  CVirtualDiskImage image;
  ASSERT_EQ(image.Open(kImageVmware, dir_ / "d.vmdk"), 1);
  ASSERT_EQ(image.State().m_arrExtents.size(), 3u);
  bool ok = false;
  auto bytes = Read(image, 0, 1024, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(bytes, test::FileBytes(FlatDisk(), 0, 1024));
  bytes = Read(image, 4096, 4096, &ok);  // the file ends after 2048 sectors
  EXPECT_FALSE(ok);
  EXPECT_TRUE(AllZero(bytes));
  Read(image, image.SectorCount() - 4, 4096, &ok);
  EXPECT_FALSE(ok);
}

TEST(ParseDescriptorText, ReadsVmwareDescriptorLines) {
  const auto contents = ParseDescriptorText(
      "# Disk DescriptorFile\n"
      "version=1\r\n"
      "createType=\"twoGbMaxExtentSparse\"\r\n"
      "# RW 1 FLAT \"commented.vmdk\"\n"
      "RW 4192256 SPARSE \"My Disk-s001.vmdk\"\r\n"
      "RDONLY 100 FLAT \"base-flat.vmdk\" 2048\n"
      "NOACCESS 7 ZERO \"\"\n"
      "RW 5 FLAT\n"
      "RWX 5 FLAT \"x.vmdk\"\n"
      "ddb.createType = \"monolithicFlat\"\n");
  EXPECT_EQ(contents.createType, "twoGbMaxExtentSparse");
  ASSERT_EQ(contents.extents.size(), 3u);
  EXPECT_EQ(contents.extents[0].size, 4192256u);
  EXPECT_EQ(contents.extents[0].type, u"SPARSE");
  EXPECT_EQ(contents.extents[0].fileName, u"My Disk-s001.vmdk");
  EXPECT_EQ(contents.extents[1].fileName, u"base-flat.vmdk");
  EXPECT_EQ(contents.extents[1].offset, 2048u);
  EXPECT_EQ(contents.extents[2].type, u"ZERO");
  // The first line is the title, never a keyword line.
  EXPECT_TRUE(ParseDescriptorText("RW 5 FLAT \"a.vmdk\"\n").extents.empty());
}

TEST_F(ImageFaults, VdiIsKnownBySignatureAndVersionNotBanner) {
  const fs::path vdi = dir_ / "x.vdi";
  fs::copy_file(DisksDir() / "mbr.vdi", vdi);
  const std::string banner = "<<< Oracle VM VirtualBox Disk Image >>>\n";
  test::PatchFile(vdi, 0, std::vector<std::uint8_t>(banner.begin(), banner.end()));
  CVirtualDiskImage image;
  ASSERT_EQ(image.OpenVdi(vdi), 1);
  EXPECT_EQ(image.State().m_nVdiType, kVdiDynamic);

  test::PatchFile(vdi, 0x44, {0x00, 0x00, 0x02, 0x00});  // version 2.0
  EXPECT_EQ(image.OpenVdi(vdi), 0);
  test::PatchFile(vdi, 0x44, {0x01, 0x00, 0x01, 0x00});
  test::PatchFile(vdi, 0x40, {0x7F, 0x10, 0xDA, 0xBF});  // signature off by one
  EXPECT_EQ(image.OpenVdi(vdi), 0);
}

TEST_F(ImageFaults, VdiWithDamagedMapOrBlockSize) {
  const fs::path vdi = dir_ / "x.vdi";
  bool ok = false;
  CVirtualDiskImage image;

  // Block map cut after 10 entries (and no data at all).
  test::CopySlice(DisksDir() / "mbr.vdi", 0, 0x200 + 40, vdi);
  ASSERT_EQ(image.OpenVdi(vdi), 1);
  auto bytes = Read(image, 0, 4096, &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(AllZero(bytes));
  bytes = Read(image, 300000, 4096, &ok);  // block beyond the cut map
  EXPECT_FALSE(ok);
  EXPECT_TRUE(AllZero(bytes));

  // A map that claims 2^32-1 blocks at the end of the file; a block size of 0.
  fs::remove(vdi);
  fs::copy_file(DisksDir() / "mbr.vdi", vdi);
  test::PatchFile(vdi, 0x180, {0xFF, 0xFF, 0xFF, 0xFF});
  test::PatchFile(vdi, 0x154, {0xF0, 0xFF, 0xDF, 0x01});
  ASSERT_EQ(image.OpenVdi(vdi), 1);
  Read(image, 0, 4096, &ok);
  test::PatchFile(vdi, 0x178, {0, 0, 0, 0});
  ASSERT_EQ(image.OpenVdi(vdi), 1);
  bytes = Read(image, 0, 4096, &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(AllZero(bytes));
}

TEST_F(ImageFaults, VhdWithoutFooterOrWithDamagedTable) {
  const fs::path src = DisksDir() / "mbr.vhd";
  const std::uint64_t size = fs::file_size(src);
  const fs::path vhd = dir_ / "x.vhd";
  CVirtualDiskImage image;
  bool ok = false;

  // Footer lost: the copy at the start still describes the dynamic disk.
  test::CopySlice(src, 0, size - 512, vhd);
  ASSERT_EQ(image.OpenVhd(vhd), 1);
  EXPECT_EQ(image.State().m_nVhdType, kVhdDynamic);
  EXPECT_EQ(image.State().m_nDiskBytes, 0x0B430000u);
  EXPECT_EQ(Read(image, 104448, 64 * 1024, &ok), test::FileBytes(FlatDisk(), 104448 * 512, 64 * 1024));
  EXPECT_TRUE(ok);

  // Both footers gone: the dynamic header alone, sized by its table (91 blocks of 2 MiB).
  test::PatchFile(vhd, 0, std::vector<std::uint8_t>(512, 0));
  ASSERT_EQ(image.OpenVhd(vhd), 1);
  EXPECT_EQ(image.State().m_nDiskBytes, 91u * 2 * kMiB);
  EXPECT_EQ(Read(image, 2048, 64 * 1024, &ok), test::FileBytes(FlatDisk(), 2048 * 512, 64 * 1024));
  EXPECT_TRUE(ok);

  // Table cut short (it starts at 0x600 in this file).
  test::CopySlice(src, 0, 0x600 + 8, vhd);
  test::CopySlice(src, size - 512, 512, dir_ / "footer");
  {
    std::ofstream out(vhd, std::ios::binary | std::ios::app);
    out << test::ReadWholeFile(dir_ / "footer");
  }
  ASSERT_EQ(image.OpenVhd(vhd), 1);
  auto bytes = Read(image, 200000, 4096, &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(AllZero(bytes));

  // Block size 0 in the dynamic header.
  test::CopySlice(src, 0, size, vhd);
  test::PatchFile(vhd, 512 + 32, {0, 0, 0, 0});
  ASSERT_EQ(image.OpenVhd(vhd), 1);
  bytes = Read(image, 0, 4096, &ok);
  EXPECT_FALSE(ok);
  EXPECT_TRUE(AllZero(bytes));

  // A raw disk with a boot signature counts as a fixed disk of its own size.
  ASSERT_EQ(image.OpenVhd(test::CorpusDir() / "fat16.img"), 1);
  EXPECT_EQ(image.State().m_nVhdType, kVhdFixed);
  EXPECT_EQ(image.SectorCount(), 49152u);
  EXPECT_EQ(image.OpenVhd(test::CorpusDir() / "fat16.truth.tsv"), 0);
}

TEST_F(ImageFaults, NothingOpensAnEmptyOrMissingFile) {
  test::WriteWholeFile(dir_ / "empty.vmdk", "");
  for (std::uint32_t type : {kImageVmware, kImageVirtualBox, kImageVirtualPc}) {
    for (const char* name : {"empty.vmdk", "missing.vmdk"}) {
      const MountResult mount = test::OpenImage(type, dir_ / name);
      EXPECT_EQ(mount.result, 0) << name;
      EXPECT_FALSE(mount.mounted) << name;
      // Nothing can be read from what was not opened.
      std::uint8_t sector[512];
      EXPECT_FALSE(mount.image->ReadSectors(0, sector, sizeof sector)) << name;
    }
  }
}

TEST_F(ImageFaults, FlatFileWithoutBootSignatureIsStillReadable) {
  const fs::path flat = dir_ / "x-flat.vmdk";
  test::CopySlice(DisksDir() / "mbr-mflat-flat.vmdk", 0, kMiB, flat);
  test::PatchFile(flat, 510, {0, 0});
  const MountResult mount = test::OpenImage(kImageVmware, flat);
  EXPECT_EQ(mount.result, 0);
  EXPECT_TRUE(mount.image->State().m_bImageError);
  ASSERT_TRUE(mount.mounted);  // for Raw Recovery
  std::vector<std::uint8_t> buffer(4096);
  ASSERT_TRUE(test::ReadOpenedDisk(buffer.data(), 8, 4096));
  EXPECT_EQ(buffer, test::FileBytes(FlatDisk(), 8 * 512, 4096));
}

}  // namespace
}  // namespace corvan
