#include "sources/DriveAccess.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <mutex>
#include <tuple>

#include "sources/SectorSource.h"

namespace corvan {

namespace {

namespace fs = std::filesystem;

// Optical and floppy drives are not physical disks; loop, RAM, device-mapper
// and RAID devices have no "device" link and are left out by that.
bool IsWholeDiskName(const std::string& name) {
  return name.rfind("sr", 0) != 0 && name.rfind("fd", 0) != 0;
}

// Name order that puts sdz before sdaa: the kind of disk ("sd", "nvme"),
// then the length, then the name.
auto DiskOrderKey(const std::string& name) {
  std::string kind;
  for (const char* prefix : {"xvd", "sd", "vd", "hd"}) {
    if (name.rfind(prefix, 0) == 0) kind = prefix;
  }
  if (kind.empty()) {
    std::size_t letters = 0;
    while (letters < name.size() && std::isalpha(static_cast<unsigned char>(name[letters]))) ++letters;
    kind = name.substr(0, letters);
  }
  return std::make_tuple(kind, name.size(), name);
}

std::mutex g_accessMutex;
std::shared_ptr<const DriveAccess> g_access;

std::mutex g_tableMutex;
DiskTable g_fixedTable{};
DiskTable g_removableTable{};

}  // namespace

LinuxDriveAccess::LinuxDriveAccess(fs::path sysBlock, fs::path devFolder)
    : sysBlock_(std::move(sysBlock)), devFolder_(std::move(devFolder)) {}

std::vector<std::string> LinuxDriveAccess::DiskNames() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(sysBlock_, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code linkEc;
    if (IsWholeDiskName(name) && fs::exists(it->path() / "device", linkEc)) names.push_back(name);
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return DiskOrderKey(a) < DiskOrderKey(b); });
  return names;
}

FileHandle LinuxDriveAccess::OpenPhysicalDrive(unsigned n) const {
  const auto names = DiskNames();
  if (n >= names.size()) return FileHandle();
  return FileHandle::Open(devFolder_ / names[n], FileHandle::Mode::ReadDrive);
}

DriveMedia LinuxDriveAccess::PhysicalDriveMedia(unsigned n) const {
  const auto names = DiskNames();
  if (n >= names.size()) return DriveMedia::Absent;
  std::ifstream in(sysBlock_ / names[n] / "removable");
  int removable = 0;
  in >> removable;
  return removable == 1 ? DriveMedia::Removable : DriveMedia::Fixed;
}

void FakeDriveAccess::SetDisk(unsigned n, DriveMedia media, fs::path backingFile) {
  disks_[n] = Disk{media, std::move(backingFile)};
}

FileHandle FakeDriveAccess::OpenPhysicalDrive(unsigned n) const {
  const auto it = disks_.find(n);
  if (it == disks_.end()) return FileHandle();
  return FileHandle::Open(it->second.file, FileHandle::Mode::ReadDrive);
}

DriveMedia FakeDriveAccess::PhysicalDriveMedia(unsigned n) const {
  const auto it = disks_.find(n);
  return it == disks_.end() ? DriveMedia::Absent : it->second.media;
}

void SetDriveAccess(std::shared_ptr<const DriveAccess> access) {
  std::lock_guard lock(g_accessMutex);
  g_access = std::move(access);
}

std::shared_ptr<const DriveAccess> CurrentDriveAccess() {
  std::lock_guard lock(g_accessMutex);
  if (!g_access) g_access = std::make_shared<LinuxDriveAccess>();
  return g_access;
}

FileHandle OpenDriveHandle(std::uint8_t index) {
  if (index < kFirstPhysicalDriveIndex) return FileHandle();
  return CurrentDriveAccess()->OpenPhysicalDrive(index - kFirstPhysicalDriveIndex);
}

bool CountFixedAndRemovableDisks(std::uint8_t& fixedCount, std::uint8_t& removableCount) {
  fixedCount = 0;
  removableCount = 0;
  DiskTable fixed{};
  DiskTable removable{};
  const auto access = CurrentDriveAccess();
  for (unsigned n = 0; n < kMaxPhysicalDrives; ++n) {
    if (!access->OpenPhysicalDrive(n)) continue;
    switch (access->PhysicalDriveMedia(n)) {
      case DriveMedia::Fixed:
        ++fixedCount;
        fixed[n] = 1;
        break;
      case DriveMedia::Removable:
        ++removableCount;
        removable[n] = 1;
        break;
      default:
        break;
    }
  }
  std::lock_guard lock(g_tableMutex);
  g_fixedTable = fixed;
  g_removableTable = removable;
  return fixedCount > 0;
}

DiskTable FixedDiskTable() {
  std::lock_guard lock(g_tableMutex);
  return g_fixedTable;
}

DiskTable RemovableDiskTable() {
  std::lock_guard lock(g_tableMutex);
  return g_removableTable;
}

bool GetDiskSectorCount(std::uint8_t index, std::uint64_t& sectorCount) {
  sectorCount = 0;
  const FileHandle drive = OpenDriveHandle(index);
  if (!drive) return false;
  const auto bytes = drive.Size();
  if (!bytes) return false;
  sectorCount = *bytes / kSectorSize;
  return true;
}

}  // namespace corvan
