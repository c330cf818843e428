// Drive services over a fake machine: disks backed by files, and a
// /sys/block + /dev tree laid out in a temporary folder for the Linux side.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/FileHandle.h"
#include "sources/DriveAccess.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;

void MakeFile(const fs::path& path, std::uint64_t bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary).close();
  fs::resize_file(path, bytes);
}

void WriteText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << text;
}

// Puts the real drives back whatever a test did.
class DriveServices : public ::testing::Test {
 protected:
  void TearDown() override { SetDriveAccess(nullptr); }
  test::TempDir dir_;
};

TEST_F(DriveServices, CountsOnlyDisksThatOpenByMedia) {
  auto fake = std::make_shared<FakeDriveAccess>();
  MakeFile(dir_ / "d0", 1 << 20);
  MakeFile(dir_ / "d1", 4096);
  MakeFile(dir_ / "d3", 8192);
  MakeFile(dir_ / "d5", 512);
  fake->SetDisk(0, DriveMedia::Fixed, dir_ / "d0");
  fake->SetDisk(1, DriveMedia::Removable, dir_ / "d1");
  fake->SetDisk(3, DriveMedia::Fixed, dir_ / "d3");
  fake->SetDisk(5, DriveMedia::Other, dir_ / "d5");
  fake->SetDisk(7, DriveMedia::Fixed, dir_ / "no-such-file");
  fake->SetDisk(127, DriveMedia::Removable, dir_ / "d1");
  SetDriveAccess(fake);

  std::uint8_t fixed = 99, removable = 99;
  EXPECT_TRUE(CountFixedAndRemovableDisks(fixed, removable));
  EXPECT_EQ(fixed, 2);
  EXPECT_EQ(removable, 2);
  const DiskTable fixedTable = FixedDiskTable();
  const DiskTable removableTable = RemovableDiskTable();
  for (unsigned n = 0; n < kMaxPhysicalDrives; ++n) {
    EXPECT_EQ(fixedTable[n], (n == 0 || n == 3) ? 1 : 0) << n;
    EXPECT_EQ(removableTable[n], (n == 1 || n == 127) ? 1 : 0) << n;
  }

  // A second count starts from clear tables.
  auto onlyRemovable = std::make_shared<FakeDriveAccess>();
  onlyRemovable->SetDisk(2, DriveMedia::Removable, dir_ / "d1");
  SetDriveAccess(onlyRemovable);
  EXPECT_FALSE(CountFixedAndRemovableDisks(fixed, removable));
  EXPECT_EQ(fixed, 0);
  EXPECT_EQ(removable, 1);
  EXPECT_EQ(FixedDiskTable()[0], 0);
  EXPECT_EQ(RemovableDiskTable()[1], 0);
  EXPECT_EQ(RemovableDiskTable()[2], 1);
}

TEST_F(DriveServices, IndexNamesPhysicalDrivesFrom128) {
  auto fake = std::make_shared<FakeDriveAccess>();
  MakeFile(dir_ / "d0", 1 << 20);
  MakeFile(dir_ / "d1", 3 * 512 + 100);
  fake->SetDisk(0, DriveMedia::Fixed, dir_ / "d0");
  fake->SetDisk(1, DriveMedia::Fixed, dir_ / "d1");
  SetDriveAccess(fake);

  std::uint64_t sectors = 77;
  EXPECT_TRUE(GetDiskSectorCount(128, sectors));
  EXPECT_EQ(sectors, 2048u);
  EXPECT_TRUE(GetDiskSectorCount(129, sectors));
  EXPECT_EQ(sectors, 3u);
  EXPECT_FALSE(GetDiskSectorCount(130, sectors));
  EXPECT_EQ(sectors, 0u);
  // Drive letters do not exist here: indices below 128 never open.
  sectors = 77;
  EXPECT_FALSE(GetDiskSectorCount(0, sectors));
  EXPECT_EQ(sectors, 0u);
  EXPECT_FALSE(OpenDriveHandle(127).IsOpen());
  EXPECT_FALSE(OpenDriveHandle(0).IsOpen());

  FileHandle drive = OpenDriveHandle(128);
  ASSERT_TRUE(drive.IsOpen());
  const std::uint8_t byte = 1;
  EXPECT_FALSE(drive.WriteAt(&byte, 1, 0)) << "drives must open read-only";
}

TEST_F(DriveServices, LinuxDisksComeFromSysBlockInNameOrder) {
  const fs::path sys = dir_ / "sys" / "block";
  const fs::path dev = dir_ / "dev";
  // Whole disks have a "device" link; loop devices do not; sr0 is optical.
  for (const char* name : {"sdb", "sda", "sdaa", "nvme0n1", "sr0"}) {
    fs::create_directories(sys / name / "device");
    WriteText(sys / name / "removable", "0\n");
  }
  WriteText(sys / "sdb" / "removable", "1\n");
  fs::create_directories(sys / "loop0");
  MakeFile(dev / "nvme0n1", 10 * 512);
  MakeFile(dev / "sda", 20 * 512);
  MakeFile(dev / "sdb", 30 * 512);
  MakeFile(dev / "loop0", 512);
  // sdaa has no device node: it is listed but does not open.

  auto machine = std::make_shared<LinuxDriveAccess>(sys, dev);
  EXPECT_EQ(machine->DiskNames(), (std::vector<std::string>{"nvme0n1", "sda", "sdb", "sdaa"}));
  EXPECT_EQ(machine->PhysicalDriveMedia(0), DriveMedia::Fixed);
  EXPECT_EQ(machine->PhysicalDriveMedia(2), DriveMedia::Removable);
  EXPECT_EQ(machine->PhysicalDriveMedia(4), DriveMedia::Absent);
  SetDriveAccess(machine);

  std::uint64_t sectors = 0;
  EXPECT_TRUE(GetDiskSectorCount(128 + 1, sectors));
  EXPECT_EQ(sectors, 20u);
  std::uint8_t fixed = 0, removable = 0;
  EXPECT_TRUE(CountFixedAndRemovableDisks(fixed, removable));
  EXPECT_EQ(fixed, 2);  // nvme0n1, sda (sdaa does not open)
  EXPECT_EQ(removable, 1);
  EXPECT_EQ(RemovableDiskTable()[2], 1);
}

}  // namespace
}  // namespace corvan
