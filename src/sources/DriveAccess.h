#pragma once
// The machine's drives as the scan-information restore asks for them: a
// drive by its one-byte index, the count of fixed and removable disks and a
// disk's size. Drives are only ever opened read-only.
//
// Index 128 + n names physical disk n: on Linux the n-th whole disk under
// /sys/block in name order (sda before sdb before sdaa). Indices below 128
// name drive letters, which Linux does not have: they never open.

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/FileHandle.h"

namespace corvan {

enum class DriveMedia { Absent, Fixed, Removable, Other };

// What the drive services need of the machine; tests put a fake in its place.
class DriveAccess {
 public:
  virtual ~DriveAccess() = default;
  // Physical disk `n` opened read-only; not open when it is absent or denied.
  virtual FileHandle OpenPhysicalDrive(unsigned n) const = 0;
  virtual DriveMedia PhysicalDriveMedia(unsigned n) const = 0;
};

class LinuxDriveAccess final : public DriveAccess {
 public:
  // The folders are parameters so that a test can lay out its own tree.
  explicit LinuxDriveAccess(std::filesystem::path sysBlock = "/sys/block",
                            std::filesystem::path devFolder = "/dev");
  FileHandle OpenPhysicalDrive(unsigned n) const override;
  DriveMedia PhysicalDriveMedia(unsigned n) const override;
  // Names of the whole disks in physical-drive order ("sda", "nvme0n1", ...).
  std::vector<std::string> DiskNames() const;

 private:
  std::filesystem::path sysBlock_;
  std::filesystem::path devFolder_;
};

// Disks backed by ordinary files, for tests.
class FakeDriveAccess final : public DriveAccess {
 public:
  void SetDisk(unsigned n, DriveMedia media, std::filesystem::path backingFile);
  FileHandle OpenPhysicalDrive(unsigned n) const override;
  DriveMedia PhysicalDriveMedia(unsigned n) const override;

 private:
  struct Disk {
    DriveMedia media;
    std::filesystem::path file;
  };
  std::map<unsigned, Disk> disks_;
};

// Replaces the machine's drives (null puts the real ones back).
void SetDriveAccess(std::shared_ptr<const DriveAccess> access);
std::shared_ptr<const DriveAccess> CurrentDriveAccess();

inline constexpr unsigned kMaxPhysicalDrives = 128;
inline constexpr std::uint8_t kFirstPhysicalDriveIndex = 128;
using DiskTable = std::array<std::uint8_t, kMaxPhysicalDrives>;

// Opens the drive named by `index` read-only; not open on failure.
FileHandle OpenDriveHandle(std::uint8_t index);

// Counts the physical disks that open, by media; fills the two tables (1 at
// each disk number found). True when at least one fixed disk was found.
bool CountFixedAndRemovableDisks(std::uint8_t& fixedCount, std::uint8_t& removableCount);
// The tables of the last count.
DiskTable FixedDiskTable();
DiskTable RemovableDiskTable();

// Size of the drive in 512-byte sectors; 0 when it does not open. True when
// the size was read.
bool GetDiskSectorCount(std::uint8_t index, std::uint64_t& sectorCount);

}  // namespace corvan
