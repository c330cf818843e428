#pragma once
// Who a physical drive is: its model, serial number and firmware texts from
// the ATA IDENTIFY data, its sizes, and its SMART attributes. A saved scan
// finds its source drive again by these texts.
//
// Reading goes through a `DriveIdentityReader`: the Linux one asks the kernel
// (HDIO_GET_IDENTITY) and the disk itself (ATA pass-through); tests use the
// fake. Nothing here ever writes to a drive or changes its settings.

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sources/AtaPassThrough.h"
#include "sources/DriveAccess.h"

namespace corvan {

// Field widths: the texts with their terminating zero, as saved scans store
// them.
inline constexpr std::size_t kModelTextSize = 41;
inline constexpr std::size_t kSerialTextSize = 21;
inline constexpr std::size_t kFirmwareTextSize = 9;

inline constexpr std::size_t kSmartAttributeSlots = 30;
inline constexpr std::size_t kSmartEntrySize = 12;
inline constexpr std::uint8_t kSmartTemperatureId = 194;

// Status of one attribute against its threshold.
inline constexpr std::uint8_t kSmartNotJudged = 0;        // no threshold was read
inline constexpr std::uint8_t kSmartAboveThreshold = 1;   // threshold below the current value
inline constexpr std::uint8_t kSmartAtThreshold = 2;
inline constexpr std::uint8_t kSmartBelowThreshold = 3;   // threshold above the current value

struct SmartAttributeNode {
  std::uint8_t id = 0;
  unsigned nameId = 0;  // string table entry of the name
  std::string name;
  std::uint8_t current = 0;
  std::uint32_t threshold = 0;
  std::uint8_t worst = 0;
  std::uint8_t status = kSmartNotJudged;
};

struct DriveIdentity {
  // Attributes with a non-zero id, in table order.
  std::vector<SmartAttributeNode> attributes;
  std::array<char, kModelTextSize> model{};        // words 27-46
  std::array<char, kSerialTextSize> serial{};      // words 10-19
  std::array<char, kFirmwareTextSize> firmware{};  // words 23-26
  std::uint32_t temperature = 0;      // first raw byte of attribute 194, else 0
  std::uint16_t listTemperature = 0;  // the same, as met while listing
  std::uint8_t smartEnabled = 0;      // the drive says SMART is enabled
  std::uint8_t smartStatus = 0;       // worst attribute status; 0 none judged
  std::uint16_t cylinders = 0;        // word 1 (not for ATAPI)
  std::uint16_t heads = 0;            // word 3
  std::uint16_t sectorsPerTrack = 0;  // word 6
  std::uint32_t totalSectors = 0;     // words 60-61, 28-bit addressing
  std::uint64_t lba48Sectors = 0;     // words 100-103 when 48-bit addressing is supported
  std::uint32_t logicalSectorBytes = 512;
  bool atapi = false;
  bool smartThresholdsRead = false;

  std::string_view Model() const { return model.data(); }
  std::string_view Serial() const { return serial.data(); }
  std::string_view Firmware() const { return firmware.data(); }
  std::size_t AttributeCount() const { return attributes.size(); }
  // User-addressable logical sectors: the 48-bit count where the drive
  // gives one (words 60-61 stop at 0x0FFFFFFF on larger drives).
  std::uint64_t UserSectors() const { return lba48Sectors ? lba48Sectors : totalSectors; }
  std::uint64_t UserSectors512() const { return UserSectors() * (logicalSectorBytes / 512); }
};

// Swaps the two bytes of each complete 16-bit word; an odd last byte stays.
void SwapAtaStringBytes(std::span<std::uint8_t> text);

// Where the identification texts of an IDENTIFY block come from: the device
// (each word's bytes swapped, ATA's string order) or the kernel's copy
// (already in reading order, numbers in host order).
enum class IdentifyOrigin { Device, Kernel };

// Fills `out` from a 512-byte IDENTIFY DEVICE or IDENTIFY PACKET DEVICE
// block. False, with `out` untouched, when the block is short, blank, marks
// itself incomplete, or fails its integrity checksum.
bool ParseIdentifyData(std::span<const std::uint8_t> block, IdentifyOrigin origin, DriveIdentity& out);

// String table entry naming SMART attribute `id`.
unsigned SmartAttributeStringId(std::uint8_t id);

// Lists the attributes of a 512-byte SMART READ DATA block into `out`
// (attributes, temperatures, overall status). `thresholds` is the SMART READ
// THRESHOLDS block, or empty when it could not be read: attributes then stay
// unjudged. False, with `out` untouched, when the data block is short or its
// checksum is wrong.
bool BuildSmartAttributeList(std::span<const std::uint8_t> data, std::span<const std::uint8_t> thresholds,
                             DriveIdentity& out);

// Reads identity and SMART data through `port` into `out`. True when an
// IDENTIFY block was read and parsed; `out` is left as it was otherwise.
bool ReadAtaIdentify(AtaCommandPort& port, DriveIdentity& out);

class DriveIdentityReader {
 public:
  virtual ~DriveIdentityReader() = default;
  // True when the drive told who it is; `out` is then replaced whole. On
  // false `out` is left as it was.
  virtual bool GetDriveIdentity(const std::filesystem::path& device, DriveIdentity& out) const = 0;
  // The drive by number (0x80 + n, as `DriveAccess` counts them).
  virtual bool GetDriveIdentity(std::uint8_t driveNumber, DriveIdentity& out) const = 0;
};

class LinuxDriveIdentityReader final : public DriveIdentityReader {
 public:
  explicit LinuxDriveIdentityReader(std::filesystem::path sysBlock = "/sys/block",
                                    std::filesystem::path devFolder = "/dev");
  bool GetDriveIdentity(const std::filesystem::path& device, DriveIdentity& out) const override;
  bool GetDriveIdentity(std::uint8_t driveNumber, DriveIdentity& out) const override;

 private:
  LinuxDriveAccess drives_;
  std::filesystem::path devFolder_;
};

// A table of drives for tests; counts the questions it is asked.
class FakeDriveIdentityReader final : public DriveIdentityReader {
 public:
  void Set(std::uint8_t driveNumber, DriveIdentity identity);
  void Set(const std::filesystem::path& device, DriveIdentity identity);
  bool GetDriveIdentity(const std::filesystem::path& device, DriveIdentity& out) const override;
  bool GetDriveIdentity(std::uint8_t driveNumber, DriveIdentity& out) const override;
  unsigned Calls() const { return calls_.load(); }

 private:
  std::map<std::uint8_t, DriveIdentity> byNumber_;
  std::map<std::filesystem::path, DriveIdentity> byPath_;
  mutable std::atomic<unsigned> calls_{0};
};

// Replaces the machine's reader (null puts the Linux one back).
void SetDriveIdentityReader(std::shared_ptr<const DriveIdentityReader> reader);
std::shared_ptr<const DriveIdentityReader> CurrentDriveIdentityReader();

// The identity of drive 0x80 + n through the current reader.
bool GetDriveIdentity(std::uint8_t driveNumber, DriveIdentity& out);

// What a saved scan's header says of its source disk (bytes 878 to 952).
struct SavedSourceDisk {
  std::string model;
  std::string serial;
  std::string firmware;
  std::uint32_t sectorCount = 0;  // low 32 bits of the size in 512-byte sectors
};

inline constexpr std::size_t kSavedDiskOffset = 878;
inline constexpr std::size_t kSavedDiskEnd = 953;

// Nothing when the header is too short to hold the fields. Each text ends at
// its first zero or at its field's end.
std::optional<SavedSourceDisk> ReadSavedSourceDisk(std::span<const std::uint8_t> header);

// Whether a header sends its restore looking for a host drive: its saved
// source kind (byte 953) is not an image kind (5 to 10) and byte 958 does
// not say "no disk to locate".
bool SavedHeaderNamesDrive(std::uint8_t savedSourceKind, std::uint8_t noDiskToLocate);

// Whether a drive's texts are those saved. A saved text cut to one word (as
// older files hold them) matches the drive's first or last word.
bool IdentityTextsMatch(const SavedSourceDisk& saved, const DriveIdentity& identity);

struct DriveCandidate {
  std::uint8_t driveNumber = 0;  // 0x80 + n
  DriveMedia media = DriveMedia::Absent;
  std::uint64_t sectorCount = 0;  // the system's size of the disk, 512-byte sectors
};

// The machine's disks 0 to 23 as the restore searches them: fixed disks
// first, then removable ones, lower numbers first.
std::vector<DriveCandidate> ListSourceDriveCandidates();

// The drive a saved scan came from, or nothing. Only a header that names a
// drive (`headerNamesDrive`) is searched at all, so a scan of an image never
// reads a host drive's identity. A fixed disk matches by its three texts and
// its size; a removable disk by its size alone.
std::optional<std::uint8_t> FindSourceDrive(const SavedSourceDisk& saved, bool headerNamesDrive,
                                            std::span<const DriveCandidate> candidates,
                                            const DriveIdentityReader& reader);

}  // namespace corvan
