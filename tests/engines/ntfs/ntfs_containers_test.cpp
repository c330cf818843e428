// Quick Recovery of the NTFS volume inside every disk container of the
// corpus (VMware, VirtualBox and Virtual PC images of the MBR and the GPT
// disk), read through the image readers: the same tree and the same data as
// the truth file says.

#include <gtest/gtest.h>

#include "engines/ntfs/ntfs_corpus_support.h"
#include "sources/VirtualDiskImage.h"
#include "sources/image_test_support.h"

namespace corvan {
namespace {

struct NtfsContainer {
  const char* file;
  std::uint32_t type;
  const char* disk;  // its layout in manifest.json
};

void PrintTo(const NtfsContainer& c, std::ostream* os) { *os << c.file; }

class NtfsInContainer : public ::testing::TestWithParam<NtfsContainer> {};

TEST_P(NtfsInContainer, QuickFindsEveryLiveFileWithItsData) {
  const NtfsContainer& c = GetParam();
  const auto mount = MountImageFile(c.type, test::DisksDir() / c.file);
  ASSERT_TRUE(mount.mounted) << c.file;
  test::ManifestVolume ntfs;
  for (const auto& v : test::ManifestLayout(c.disk))
    if (v.image == "ntfs.img") ntfs = v;
  ASSERT_NE(ntfs.sectors, 0u);

  test::QuickRun run(mount.image, ntfs.startSector, ntfs.sectors);
  ASSERT_TRUE(run.scanned);
  int files = 0;
  for (const test::TruthRow& row : test::ReadTruth(test::CorpusDir() / "ntfs.truth.tsv")) {
    if (row.state != "live") continue;
    const test::RecordedItem* item = run.ByPath(row.path);
    ASSERT_NE(item, nullptr) << row.path;
    if (row.type != "file") continue;
    ++files;
    EXPECT_EQ(item->record.size, row.size) << row.path;
    WalkResult result;
    EXPECT_EQ(run.Md5Of(item->record, nullptr, &result), row.md5) << row.path;
    EXPECT_TRUE(result.Clean()) << row.path;
  }
  EXPECT_GT(files, 10);
}

INSTANTIATE_TEST_SUITE_P(Corpus, NtfsInContainer,
                         ::testing::Values(NtfsContainer{"mbr.vmdk", kImageVmware, "mbr"},
                                           NtfsContainer{"mbr-mflat.vmdk", kImageVmware, "mbr"},
                                           NtfsContainer{"mbr-split-sparse/mbr.vmdk", kImageVmware, "mbr"},
                                           NtfsContainer{"mbr.vdi", kImageVirtualBox, "mbr"},
                                           NtfsContainer{"mbr-static.vdi", kImageVirtualBox, "mbr"},
                                           NtfsContainer{"mbr.vhd", kImageVirtualPc, "mbr"},
                                           NtfsContainer{"mbr-fixed.vhd", kImageVirtualPc, "mbr"},
                                           NtfsContainer{"gpt.vmdk", kImageVmware, "gpt"},
                                           NtfsContainer{"gpt.vhd", kImageVirtualPc, "gpt"},
                                           NtfsContainer{"gpt.vdi", kImageVirtualBox, "gpt"}),
                         [](const ::testing::TestParamInfo<NtfsContainer>& info) {
                           std::string name = info.param.file;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

}  // namespace
}  // namespace corvan
