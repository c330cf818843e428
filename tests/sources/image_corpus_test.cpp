// Every container of the corpus, opened as the source page mounts it and
// read through ReadSourceSectors, against the raw bytes of the same disk:
// mbr-mflat-flat.vmdk for the MBR disk, the volume images (at the offsets
// manifest.json gives) for both disks. The sizes the openers report are
// checked against the containers' own headers, read with xxd:
//   VMDK capacity / descriptor extent  368640 and 204800 sectors
//   VDI disk size at 0x170             0x0B400000 and 0x06400000 bytes
//   VHD footer current size            0x0B430000 and 0x06402000 bytes
// (qemu-img rounds a VHD up to whole CHS cylinders).

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <thread>

#include "sources/VirtualDiskImage.h"
#include "sources/image_test_support.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;
using test::DisksDir;

constexpr std::uint64_t kMbrSectors = 368640;
constexpr std::uint64_t kGptSectors = 204800;
constexpr std::uint64_t kMbrVhdSectors = 0x0B430000 / 512;
constexpr std::uint64_t kGptVhdSectors = 0x06402000 / 512;

struct Container {
  const char* file;
  std::uint32_t type;
  std::uint64_t sectors;
  const char* createType;  // VMware only
  std::uint32_t subtype;   // VDI or VHD type from the header
};

void PrintTo(const Container& c, std::ostream* os) { *os << c.file; }

class MbrContainer : public ::testing::TestWithParam<Container> {
 protected:
  void TearDown() override { test::OpenedDisk().reset(); }
};

TEST_P(MbrContainer, ReadsByteForByteLikeTheFlatDisk) {
  const Container& c = GetParam();
  const MountResult mount = test::OpenImage(c.type, DisksDir() / c.file);
  ASSERT_EQ(mount.result, 1);
  ASSERT_TRUE(mount.mounted);
  const MountState& state = mount.image->State();
  EXPECT_EQ(state.m_nImageType, c.type);
  EXPECT_FALSE(state.m_bImageError);
  EXPECT_EQ(mount.image->SectorCount(), c.sectors);
  if (c.type == kImageVmware) {
    EXPECT_EQ(state.m_strCreateType, c.createType);
    std::uint64_t sum = 0;
    for (const auto& e : state.m_arrExtents) sum += e.size;
    EXPECT_EQ(sum, c.sectors) << "extent sizes are sectors";
  } else if (c.type == kImageVirtualBox) {
    EXPECT_EQ(state.m_nVdiType, c.subtype);
  } else {
    EXPECT_EQ(state.m_nVhdType, c.subtype);
  }

  const fs::path flat = DisksDir() / "mbr-mflat-flat.vmdk";
  const std::uint64_t flatBytes = fs::file_size(flat);
  ASSERT_EQ(flatBytes, kMbrSectors * 512);
  test::ExpectMountedDiskEquals(0, flat, 0, flatBytes);
  test::ExpectMountedZeros(kMbrSectors, c.sectors);

  // The last volume of the manifest ends inside the disk.
  const auto layout = test::ManifestLayout("mbr");
  ASSERT_EQ(layout.size(), 4u);
  for (const auto& v : layout) EXPECT_LE(v.startSector + v.sectors, c.sectors) << v.image;
}

TEST_P(MbrContainer, ReadsPastTheEndGiveZerosAndFail) {
  const Container& c = GetParam();
  const MountResult mount = test::OpenImage(c.type, DisksDir() / c.file);
  ASSERT_TRUE(mount.mounted);
  std::vector<std::uint8_t> buffer(2048, 0xCC);
  // The last sector and three beyond it.
  EXPECT_FALSE(test::ReadOpenedDisk(buffer.data(), c.sectors - 1, 2048));
  const auto expected = c.sectors == kMbrSectors
                            ? test::FileBytes(DisksDir() / "mbr-mflat-flat.vmdk", (c.sectors - 1) * 512, 512)
                            : std::vector<std::uint8_t>(512, 0);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer.begin()));
  EXPECT_TRUE(std::all_of(buffer.begin() + 512, buffer.end(), [](std::uint8_t b) { return b == 0; }));
  std::fill(buffer.begin(), buffer.end(), 0xCC);
  EXPECT_FALSE(test::ReadOpenedDisk(buffer.data(), UINT64_MAX / 256, 1024));
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + 1024, [](std::uint8_t b) { return b == 0; }));
  if (c.type == kImageVmware) {
    EXPECT_TRUE(mount.image->ImageError());
  }
}

TEST_P(MbrContainer, ByteCountsThatAreNotWholeSectors) {
  const Container& c = GetParam();
  ASSERT_TRUE(test::OpenImage(c.type, DisksDir() / c.file).mounted);
  const fs::path flat = DisksDir() / "mbr-mflat-flat.vmdk";
  std::vector<std::uint8_t> buffer(1024, 0xCC);
  ASSERT_TRUE(test::ReadOpenedDisk(buffer.data(), 0, 700));
  EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + 700), test::FileBytes(flat, 0, 700));
  EXPECT_EQ(buffer[700], 0xCC) << "wrote past the byte count";
  ASSERT_TRUE(test::ReadOpenedDisk(buffer.data(), 2048 + 100, 1024));
  EXPECT_EQ(buffer, test::FileBytes(flat, (2048 + 100) * 512, 1024));
  EXPECT_FALSE(test::OpenedDisk()->ReadSectors(0, buffer.data(), 0));
}

INSTANTIATE_TEST_SUITE_P(
    Corpus, MbrContainer,
    ::testing::Values(Container{"mbr.vmdk", kImageVmware, kMbrSectors, "monolithicSparse", 0},
                      Container{"mbr-mflat.vmdk", kImageVmware, kMbrSectors, "monolithicFlat", 0},
                      Container{"mbr-mflat-flat.vmdk", kImageVmware, kMbrSectors, "monolithicFlat", 0},
                      Container{"mbr-split-sparse/mbr.vmdk", kImageVmware, kMbrSectors, "twoGbMaxExtentSparse", 0},
                      Container{"mbr-split-sparse/mbr-s001.vmdk", kImageVmware, kMbrSectors,
                                "twoGbMaxExtentSparse", 0},
                      Container{"mbr.vdi", kImageVirtualBox, kMbrSectors, "", kVdiDynamic},
                      Container{"mbr-static.vdi", kImageVirtualBox, kMbrSectors, "", kVdiStatic},
                      Container{"mbr.vhd", kImageVirtualPc, kMbrVhdSectors, "", kVhdDynamic},
                      Container{"mbr-fixed.vhd", kImageVirtualPc, kMbrVhdSectors, "", kVhdFixed}),
    [](const ::testing::TestParamInfo<Container>& info) {
      std::string name = fs::path(info.param.file).filename().string();
      for (char& ch : name) if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return name + (std::string(info.param.file).find('/') != std::string::npos ? "_split" : "");
    });

TEST(CorpusContainers, GptDiskReadsTheSameInEveryContainer) {
  struct Gpt {
    const char* file;
    std::uint32_t type;
    std::uint64_t sectors;
  };
  const Gpt containers[] = {{"gpt.vmdk", kImageVmware, kGptSectors},
                            {"gpt.vhd", kImageVirtualPc, kGptVhdSectors},
                            {"gpt.vdi", kImageVirtualBox, kGptSectors}};
  const auto layout = test::ManifestLayout("gpt");
  ASSERT_EQ(layout.size(), 2u);
  std::vector<std::shared_ptr<CVirtualDiskImage>> images;
  for (const Gpt& g : containers) {
    SCOPED_TRACE(g.file);
    const MountResult mount = test::OpenImage(g.type, DisksDir() / g.file);
    ASSERT_EQ(mount.result, 1);
    EXPECT_EQ(mount.image->SectorCount(), g.sectors);
    std::vector<std::uint8_t> header(512);
    ASSERT_TRUE(test::ReadOpenedDisk(header.data(), 1, 512));
    EXPECT_EQ(std::string(header.begin(), header.begin() + 8), "EFI PART");
    for (const auto& v : layout) {
      test::ExpectMountedDiskEquals(v.startSector, test::CorpusDir() / v.image, 0, v.sectors * 512);
    }
    test::ExpectMountedZeros(kGptSectors, g.sectors);
    images.push_back(mount.image);
  }
  test::OpenedDisk().reset();

  // Outside the volumes too (tables, gaps, backup GPT) the three agree.
  std::vector<std::vector<std::uint8_t>> chunks(3, std::vector<std::uint8_t>(test::kChunk));
  for (std::uint64_t sector = 0; sector < kGptSectors; sector += test::kChunk / 512) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(test::kChunk, (kGptSectors - sector) * 512));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(images[i]->ReadSectors(sector, chunks[i].data(), n));
    ASSERT_TRUE(std::equal(chunks[0].begin(), chunks[0].begin() + n, chunks[1].begin())) << sector;
    ASSERT_TRUE(std::equal(chunks[0].begin(), chunks[0].begin() + n, chunks[2].begin())) << sector;
  }
}

TEST(CorpusContainers, OpenersReportWhatTheHeadersSay) {
  CVirtualDiskImage image;
  EXPECT_TRUE(image.IsDescriptorFile(DisksDir() / "mbr.vmdk"));        // embedded
  EXPECT_TRUE(image.IsDescriptorFile(DisksDir() / "mbr-mflat.vmdk"));  // text
  EXPECT_TRUE(image.IsDescriptorFile(DisksDir() / "mbr-split-sparse/mbr.vmdk"));
  EXPECT_FALSE(image.IsDescriptorFile(DisksDir() / "mbr-split-sparse/mbr-s001.vmdk"));
  EXPECT_FALSE(image.IsDescriptorFile(DisksDir() / "mbr-mflat-flat.vmdk"));

  ASSERT_EQ(image.ParseDescriptor(DisksDir() / "mbr.vmdk"), 1);
  EXPECT_TRUE(image.State().m_bVmdkEmbeddedDescriptor);
  ASSERT_EQ(image.State().m_arrExtents.size(), 1u);
  EXPECT_EQ(image.State().m_arrExtents[0].fileName, u"mbr.vmdk");
  EXPECT_EQ(image.State().m_arrExtents[0].type, u"SPARSE");

  ASSERT_EQ(image.ParseDescriptor(DisksDir() / "mbr-mflat.vmdk"), 1);
  EXPECT_EQ(image.State().m_strCreateType, "monolithicFlat");
  ASSERT_EQ(image.State().m_arrExtents.size(), 1u);
  EXPECT_EQ(image.State().m_arrExtents[0].fileName, u"mbr-mflat-flat.vmdk");
  EXPECT_EQ(image.State().m_arrExtents[0].size, kMbrSectors);

  // A one-file sparse disk opened without its descriptor: its size is the
  // header's capacity, not the size of the file.
  ASSERT_EQ(image.OpenVmdk(DisksDir() / "mbr.vmdk"), 1);
  EXPECT_EQ(image.State().m_strCreateType, "monolithicSparse");
  ASSERT_EQ(image.State().m_arrExtents.size(), 1u);
  EXPECT_EQ(image.State().m_arrExtents[0].size, kMbrSectors);
  EXPECT_NE(image.State().m_arrExtents[0].size, fs::file_size(DisksDir() / "mbr.vmdk"));

  // The numbered extent alone: one SPARSE extent of the header's capacity.
  ASSERT_EQ(image.OpenVmdk(DisksDir() / "mbr-split-sparse/mbr-s001.vmdk"), 1);
  ASSERT_EQ(image.State().m_arrExtents.size(), 1u);
  EXPECT_EQ(image.State().m_arrExtents[0].size, kMbrSectors);
  EXPECT_EQ(image.State().m_arrExtents[0].fileName, u"mbr-s001.vmdk");

  // The VDI files say "<<< QEMU VM Virtual Disk Image >>>": still VDI.
  EXPECT_EQ(test::FileBytes(DisksDir() / "mbr.vdi", 0, 7), (std::vector<std::uint8_t>{'<', '<', '<', ' ', 'Q', 'E', 'M'}));
  EXPECT_EQ(image.OpenVdi(DisksDir() / "mbr.vdi"), 1);
  EXPECT_EQ(image.State().m_nDiskBytes, 0x0B400000u);
  EXPECT_EQ(image.OpenVdi(DisksDir() / "mbr.vhd"), 0);
  EXPECT_EQ(image.OpenVhd(DisksDir() / "gpt.vhd"), 1);
  EXPECT_EQ(image.State().m_nDiskBytes, 0x06402000u);
  EXPECT_EQ(image.OpenVhd(DisksDir() / "mbr-mflat.vmdk"), 0);
}

TEST(CorpusContainers, ManyThreadsReadOneImageAtOnce) {
  const MountResult mount = test::OpenImage(kImageVmware, DisksDir() / "mbr.vmdk");
  ASSERT_TRUE(mount.mounted);
  const std::string flat = test::ReadWholeFile(DisksDir() / "mbr-mflat-flat.vmdk");
  ASSERT_EQ(flat.size(), kMbrSectors * 512);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937_64 random(t);
      std::vector<std::uint8_t> buffer(256 * 1024);
      for (int i = 0; i < 200; ++i) {
        const std::uint64_t sectors = 1 + random() % 512;
        const std::uint64_t sector = random() % (kMbrSectors - sectors);
        const auto bytes = static_cast<std::uint32_t>(sectors * 512);
        if (!test::ReadOpenedDisk(buffer.data(), sector, bytes) ||
            std::memcmp(buffer.data(), flat.data() + sector * 512, bytes) != 0) {
          ++mismatches;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches, 0);
  test::OpenedDisk().reset();
}

}  // namespace
}  // namespace corvan
