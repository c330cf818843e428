// What a source may be: an image's file is a regular file, a drive a block
// device. Anything else is refused at open, at once, without waiting for a
// FIFO's writer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileHandle.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;

// The FIFO itself, opened as image or extent, is tested with the images
// (tests/sources/image_files_test.cpp), under a deadline.
TEST(FileHandleSources, FoldersAndCharacterDevicesAreRefused) {
  test::TempDir dir;
  fs::create_directory(dir / "folder.vmdk");
  for (const auto mode : {FileHandle::Mode::ReadOnly, FileHandle::Mode::ReadDrive}) {
    std::error_code ec;
    EXPECT_FALSE(FileHandle::Open(dir / "folder.vmdk", mode, ec));
    EXPECT_EQ(ec, std::errc::is_a_directory);
    if (fs::is_character_file("/dev/zero")) {
      EXPECT_FALSE(FileHandle::Open("/dev/zero", mode, ec));
      EXPECT_TRUE(ec);
    }
  }
  EXPECT_FALSE(FileSizeOf(dir / "folder.vmdk")) << "a folder has no size as a disk";
}

// A block device is a drive: opened as one, never as an image's file.
TEST(FileHandleSources, BlockDevicesOpenOnlyAsDrives) {
  std::error_code ec;
  for (fs::directory_iterator it("/dev", ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeEc;
    if (!it->is_block_file(typeEc)) continue;
    const int fd = ::open(it->path().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    ::close(fd);
    SCOPED_TRACE(it->path());
    EXPECT_TRUE(FileHandle::Open(it->path(), FileHandle::Mode::ReadDrive));
    EXPECT_FALSE(FileHandle::Open(it->path(), FileHandle::Mode::ReadOnly));
    return;
  }
  GTEST_SKIP() << "no block device this process may open";
}

TEST(FileHandleSources, ARegularFileReadsAsBeforeAndBlocksNormally) {
  test::TempDir dir;
  test::WriteWholeFile(dir / "disk.img", std::string(4096, 'x') + "end");
  std::error_code ec;
  FileHandle f = FileHandle::Open(dir / "disk.img", FileHandle::Mode::ReadOnly, ec);
  ASSERT_TRUE(f);
  EXPECT_FALSE(ec);
  // The non-blocking open is not left on the descriptor.
  EXPECT_EQ(::fcntl(f.Descriptor(), F_GETFL) & O_NONBLOCK, 0);
  char tail[3];
  EXPECT_TRUE(f.ReadExactAt(tail, 3, 4096));
  EXPECT_EQ(std::string(tail, 3), "end");
  EXPECT_EQ(f.Size(), 4099u);
  // A file stands in for a drive in tests and for disk dumps.
  EXPECT_TRUE(FileHandle::Open(dir / "disk.img", FileHandle::Mode::ReadDrive));
  // Writable modes keep opening what they opened before.
  EXPECT_TRUE(FileHandle::Open(dir / "new.txt", FileHandle::Mode::CreateNew));
}

}  // namespace
}  // namespace corvan
