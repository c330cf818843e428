// Volumes formatted by mkfs.exfat (exfatprogs) with 512-byte, 4 KiB, 32 KiB
// and 128 KiB clusters, filled with files whose entry sets are written from
// the published exFAT format (this machine cannot mount exFAT), and checked by
// fsck.exfat before the engine reads them. The cluster size the engine
// works with must be the formatter's, and every file must read back whole.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>

#include "engines/exfat/ExFatImageBuilder.h"
#include "engines/exfat/ExFatTestRig.h"

namespace corvan {
namespace {

using exfattest::ExFatImageBuilder;
using exfattest::ExFatRig;
using exfattest::Layout;

std::vector<std::uint8_t> Pattern(std::size_t size, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<std::uint8_t> data(size);
  for (auto& b : data) b = static_cast<std::uint8_t>(gen());
  return data;
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::filesystem::path& p, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

struct ClusterSize {
  const char* option;
  std::uint32_t bytes;
};
void PrintTo(const ClusterSize& c, std::ostream* os) { *os << c.option; }

class MkfsVolume : public ::testing::TestWithParam<ClusterSize> {};

TEST_P(MkfsVolume, ReadsWithTheFormattersClusterSize) {
  const std::string mkfs = exfattest::ExFatTool("mkfs.exfat");
  if (mkfs.empty()) GTEST_SKIP() << "mkfs.exfat (exfatprogs) is not installed";
  ExFatRig rig;
  const std::filesystem::path image = rig.Dir() / "volume.img";
  {
    std::ofstream(image, std::ios::binary).close();
    std::filesystem::resize_file(image, 32u << 20);
  }
  const std::string command = mkfs + " -c " + GetParam().option + " " + image.string() + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  ExFatImageBuilder b(ReadFile(image));
  ASSERT_EQ(b.ClusterBytes(), GetParam().bytes) << "the formatter's SectorsPerClusterShift";
  const std::uint32_t cb = b.ClusterBytes();
  struct Expect {
    std::string path;
    std::vector<std::uint8_t> data;
    bool deleted = false;
  };
  std::vector<Expect> files;
  auto add = [&](std::uint32_t folder, const std::string& prefix, const std::u16string& name, std::size_t size,
                 Layout layout, unsigned seed) {
    files.push_back({prefix + Utf16ToUtf8(name), Pattern(size, seed)});
    return b.AddFile(folder, name, files.back().data, layout);
  };
  add(b.Root(), "", u"contiguous.bin", cb * 2 + cb / 2, Layout::Contiguous, 1);
  add(b.Root(), "", u"fragmented.bin", cb * 3 + 100, Layout::Fragmented, 2);
  add(b.Root(), "", u"one cluster exactly.dat", cb, Layout::Chained, 3);
  add(b.Root(), "", u"empty.txt", 0, Layout::Contiguous, 4);
  const auto docs = b.AddFolder(b.Root(), u"Docs");
  const auto deep = b.AddFolder(docs.firstCluster, u"A folder name of forty characters long!!");
  add(deep.firstCluster, "Docs/A folder name of forty characters long!!/", u"Übersicht ★.txt", 700, Layout::Contiguous, 5);
  const auto gone = add(docs.firstCluster, "Docs/", u"removed.bin", cb + 1, Layout::Contiguous, 6);
  b.Delete(gone);
  files.back().deleted = true;
  WriteFile(image, b.Bytes());

  if (const std::string fsck = exfattest::ExFatTool("fsck.exfat"); !fsck.empty()) {
    std::string report;
    ASSERT_TRUE(exfattest::FsckClean(fsck, image, report)) << "the sets written for this test break the format:\n"
                                                           << report;
  }

  ExFatEngine& engine = rig.Mount(b.Bytes());
  ASSERT_EQ(engine.ScanVolume(0), ExFatScanResult::Completed);
  EXPECT_EQ(engine.ClusterBytes(), GetParam().bytes);
  for (const Expect& f : files) {
    const long i = rig.Find(f.path);
    ASSERT_GE(i, 0) << f.path;
    const FoundItemInfo& item = rig.items.items[i].record;
    EXPECT_EQ(item.IsDeleted(), f.deleted) << f.path;
    EXPECT_EQ(item.size, f.data.size()) << f.path;
    EXPECT_EQ(rig.Data(item), f.data) << f.path;
  }
  EXPECT_GE(rig.Find("Docs/A folder name of forty characters long!!"), 0);
}

INSTANTIATE_TEST_SUITE_P(Clusters, MkfsVolume,
                         ::testing::Values(ClusterSize{"512", 512}, ClusterSize{"4K", 4096},
                                           ClusterSize{"32K", 32768}, ClusterSize{"128K", 131072}));

}  // namespace
}  // namespace corvan
