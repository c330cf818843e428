// Which files an image may open: only regular files (a FIFO or a folder is
// refused at once, as image or as extent), only files in the image's own
// folder (a descriptor cannot name any file on the machine), and a
// monolithic sparse file holds its own data whatever it is called now.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/TextConv.h"
#include "sources/VirtualDiskImage.h"
#include "sources/image_test_support.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::DisksDir;

constexpr std::uint64_t kMiB = 1 << 20;
constexpr std::uint64_t kMbrSectors = 368640;

fs::path FlatDisk() { return DisksDir() / "mbr-mflat-flat.vmdk"; }

// Runs `work` on a worker thread and tells whether it ended within the
// deadline. Should it block opening one of `fifos`, the FIFO is opened for
// writing until it lets go, so a regression fails the test rather than
// hanging it.
template <class Work>
bool EndsPromptly(Work&& work, const std::vector<fs::path>& fifos) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
  });
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!done && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
  const bool prompt = done;
  while (!done) {
    for (const fs::path& fifo : fifos) {
      const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) ::close(fd);
    }
    std::this_thread::sleep_for(5ms);
  }
  worker.join();
  return prompt;
}

bool AllZero(const std::vector<std::uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

// Files the process holds open, as the kernel names them.
std::vector<fs::path> OpenFiles() {
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code linkEc;
    const fs::path target = fs::read_symlink(it->path(), linkEc);
    if (!linkEc) files.push_back(target);
  }
  return files;
}

class ImageFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(FlatDisk())) GTEST_SKIP() << "corpus not unpacked";
  }
  void TearDown() override { test::OpenedDisk().reset(); }
  test::TempDir dir_;
};

TEST_F(ImageFiles, FifoOrFolderAsTheImageIsRefusedAtOnce) {
  const fs::path fifo = dir_ / "pipe.vmdk";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_directory(dir_ / "folder.vmdk");
  for (std::uint32_t type : {kImageVmware, kImageVirtualBox, kImageVirtualPc}) {
    for (const fs::path& path : {fifo, dir_ / "folder.vmdk"}) {
      SCOPED_TRACE(path.filename().string() + " as type " + std::to_string(type));
      MountResult mount;
      EXPECT_TRUE(EndsPromptly([&] { mount = MountImageFile(type, path); }, {fifo}));
      EXPECT_FALSE(mount.mounted) << "a folder used to open as an 8-sector disk";
      EXPECT_EQ(mount.result, 0);
    }
  }
}

// A split flat disk (three 8 MiB files of the corpus flat disk, numbered as
// VMware numbers them) whose second file is a FIFO or a folder: the disk
// mounts at once, the second extent is missing and reads fail as zeros
// there, the other files read like the flat disk.
TEST_F(ImageFiles, FifoOrFolderAsAnExtentIsAMissingExtent) {
  const std::uint64_t slice = 8 * kMiB;
  for (const bool asFifo : {true, false}) {
    SCOPED_TRACE(asFifo ? "FIFO" : "folder");
    test::TempDir dir;
    test::CopySlice(FlatDisk(), 0, slice, dir / "disk-f001.vmdk");
    test::CopySlice(FlatDisk(), 2 * slice, slice, dir / "disk-f003.vmdk");
    const fs::path second = dir / "disk-f002.vmdk";
    if (asFifo) {
      ASSERT_EQ(::mkfifo(second.c_str(), 0600), 0);
    } else {
      fs::create_directory(second);
    }
    // The same middle extent named by a descriptor, too.
    test::WriteWholeFile(dir / "disk.vmdk",
                         "# Disk DescriptorFile\ncreateType=\"twoGbMaxExtentFlat\"\n"
                         "RW 16384 FLAT \"disk-f001.vmdk\" 0\nRW 16384 FLAT \"disk-f002.vmdk\" 0\n"
                         "RW 16384 FLAT \"disk-f003.vmdk\" 0\n");
    for (const char* opened : {"disk-f001.vmdk", "disk.vmdk"}) {
      SCOPED_TRACE(opened);
      std::vector<DISK_DESCRIPTOR_EXTENT> names;
      MountResult mount;
      EXPECT_TRUE(EndsPromptly(
          [&] {
            mount = test::OpenImage(kImageVmware, dir / opened);
            if (mount.mounted) names = mount.image->GetExtentNames();
          },
          {second}));
      ASSERT_TRUE(mount.mounted);
      EXPECT_EQ(mount.image->SectorCount(), 3 * 16384u);
      ASSERT_EQ(names.size(), 3u);
      EXPECT_EQ(names[0].fileName, u"disk-f001.vmdk");
      EXPECT_EQ(names[1].fileName, u"disk-f002.vmdk (Missing)");
      EXPECT_EQ(names[2].fileName, u"disk-f003.vmdk");
      test::ExpectMountedDiskEquals(0, FlatDisk(), 0, slice);
      test::ExpectMountedDiskEquals(2 * 16384, FlatDisk(), 2 * slice, slice);
      std::vector<std::uint8_t> buffer(64 * 1024, 0xCC);
      EXPECT_FALSE(test::ReadOpenedDisk(buffer.data(), 16384 + 8, 64 * 1024));
      EXPECT_TRUE(AllZero(buffer));
      test::OpenedDisk().reset();
    }
  }
}

// A descriptor in img/ names its extents with an absolute path, with "../",
// through a subfolder back out, and as a device. Each is refused as a
// missing extent would be: the disk keeps its shape, the extents that lie in
// the folder (the first, and one in a subfolder) read, the refused ones read
// as zeros and fail, and no file outside the folder is ever opened. A
// descriptor that names only such files has nothing to read and is refused.
TEST_F(ImageFiles, ExtentNamesThatLeaveTheImageFolderAreRefused) {
  const fs::path img = dir_ / "img";
  const fs::path outside = dir_ / "outside";
  fs::create_directories(img / "sub");
  fs::create_directories(outside);
  const fs::path secret = outside / "secret-flat.vmdk";
  test::WriteBytes(secret, std::vector<std::uint8_t>(kMiB, 0xAB));
  test::CopySlice(FlatDisk(), 0, kMiB, img / "a-flat.vmdk");
  test::CopySlice(FlatDisk(), 5 * kMiB, kMiB, img / "sub" / "inner-flat.vmdk");
  const std::string refused[] = {secret.string(), "../outside/secret-flat.vmdk",
                                 "sub/../../outside/secret-flat.vmdk", "/dev/zero"};
  std::string descriptor = "# Disk DescriptorFile\ncreateType=\"monolithicFlat\"\nRW 2048 FLAT \"a-flat.vmdk\" 0\n";
  for (const std::string& name : refused) descriptor += "RW 2048 FLAT \"" + name + "\" 0\n";
  descriptor += "RW 2048 FLAT \"sub/inner-flat.vmdk\" 0\n";
  test::WriteWholeFile(img / "disk.vmdk", descriptor);

  const MountResult mount = test::OpenImage(kImageVmware, img / "disk.vmdk");
  ASSERT_TRUE(mount.mounted);
  ASSERT_EQ(mount.image->SectorCount(), 6 * 2048u);
  for (const fs::path& open : OpenFiles()) {
    EXPECT_NE(open, fs::canonical(secret));
    EXPECT_NE(open, fs::path("/dev/zero"));
  }
  const auto names = mount.image->GetExtentNames();
  ASSERT_EQ(names.size(), 6u);
  EXPECT_EQ(names[0].fileName, u"a-flat.vmdk");
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(names[i].fileName, Utf8ToUtf16(refused[i - 1]) + u" (Missing)");
  }
  EXPECT_EQ(names[5].fileName, u"sub/inner-flat.vmdk");

  test::ExpectMountedDiskEquals(0, FlatDisk(), 0, kMiB);
  test::ExpectMountedDiskEquals(5 * 2048, FlatDisk(), 5 * kMiB, kMiB);
  for (int i = 1; i <= 4; ++i) {
    SCOPED_TRACE(refused[i - 1]);
    std::vector<std::uint8_t> buffer(kMiB, 0xCC);
    EXPECT_FALSE(test::ReadOpenedDisk(buffer.data(), i * 2048u, kMiB));
    EXPECT_TRUE(AllZero(buffer));
  }
  test::OpenedDisk().reset();

  test::WriteWholeFile(img / "only.vmdk", "# Disk DescriptorFile\ncreateType=\"monolithicFlat\"\n"
                                          "RW 2048 FLAT \"../outside/secret-flat.vmdk\" 0\n");
  const MountResult only = MountImageFile(kImageVmware, img / "only.vmdk");
  EXPECT_FALSE(only.mounted);
}

// The corpus monolithic sparse disk under another name, beside a file that
// carries the name its embedded descriptor gives (the corpus GPT disk): the
// disk is the renamed file's own data, byte for byte the flat disk.
TEST_F(ImageFiles, RenamedMonolithicSparseDiskReadsItsOwnData) {
  fs::copy_file(DisksDir() / "mbr.vmdk", dir_ / "renamed copy.vmdk");
  fs::copy_file(DisksDir() / "gpt.vmdk", dir_ / "mbr.vmdk");
  const MountResult mount = test::OpenImage(kImageVmware, dir_ / "renamed copy.vmdk");
  ASSERT_EQ(mount.result, 1);
  ASSERT_TRUE(mount.mounted);
  EXPECT_FALSE(mount.image->ImageError());
  EXPECT_EQ(mount.image->State().m_strCreateType, "monolithicSparse");
  ASSERT_EQ(mount.image->State().m_arrExtents.size(), 1u);
  EXPECT_EQ(mount.image->State().m_arrExtents[0].fileName, u"renamed copy.vmdk");
  ASSERT_EQ(mount.image->SectorCount(), kMbrSectors);
  test::ExpectMountedDiskEquals(0, FlatDisk(), 0, kMbrSectors * 512);

  // Alone in its folder, too.
  fs::remove(dir_ / "mbr.vmdk");
  ASSERT_TRUE(test::OpenImage(kImageVmware, dir_ / "renamed copy.vmdk").mounted);
  test::ExpectMountedDiskEquals(0, FlatDisk(), 0, 4 * kMiB);
}

}  // namespace
}  // namespace corvan
