#pragma once
// Talking ATA to a disk through Linux: the kernel's cached IDENTIFY data
// (HDIO_GET_IDENTITY) and single ATA commands tunnelled through SCSI
// (SG_IO with an ATA PASS-THROUGH(16) command block). Only commands that
// read from the device are ever built here.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace corvan {

inline constexpr std::size_t kAtaBlockSize = 512;
using AtaBlock = std::array<std::uint8_t, kAtaBlockSize>;

// The ATA commands this program sends: each returns one 512-byte block.
struct AtaCommand {
  std::uint8_t command = 0;
  std::uint8_t features = 0;
  std::uint8_t lbaMid = 0;
  std::uint8_t lbaHigh = 0;
};

inline constexpr AtaCommand kAtaIdentifyDevice{0xEC, 0, 0, 0};
inline constexpr AtaCommand kAtaIdentifyPacketDevice{0xA1, 0, 0, 0};
inline constexpr AtaCommand kAtaSmartReadData{0xB0, 0xD0, 0x4F, 0xC2};
inline constexpr AtaCommand kAtaSmartReadThresholds{0xB0, 0xD1, 0x4F, 0xC2};

// SCSI peripheral device types from INQUIRY.
inline constexpr int kScsiDirectAccess = 0x00;
inline constexpr int kScsiMultimedia = 0x05;

// What the identification code needs of a device; the Linux one goes through
// ioctls, tests script the answers.
class AtaCommandPort {
 public:
  virtual ~AtaCommandPort() = default;
  // The kernel's IDENTIFY data: numbers in host order, but the three texts
  // already in reading order (the kernel un-swaps them).
  virtual bool HdioIdentity(AtaBlock& out) = 0;
  // The SCSI peripheral device type, or nothing when INQUIRY fails.
  virtual std::optional<int> PeripheralType() = 0;
  // One PIO data-in command of one block; true only when the device
  // reported no error and all 512 bytes arrived.
  virtual bool AtaDataIn(const AtaCommand& command, AtaBlock& out) = 0;
};

// The ATA PASS-THROUGH(16) command block for a PIO data-in command of one
// 512-byte block, with CK_COND set so that the device's status comes back.
std::array<std::uint8_t, 16> BuildAtaPassThrough16(const AtaCommand& command);

// The ATA status register from sense data that carries it (descriptor
// format with an ATA Status Return descriptor, or fixed format with
// "ATA pass-through information available"); nothing otherwise.
std::optional<std::uint8_t> AtaStatusFromSense(std::span<const std::uint8_t> sense);

// Judges a finished pass-through: SCSI status and the sense bytes written.
// GOOD without sense means a translator that ignores CK_COND.
bool PassThroughSucceeded(std::uint8_t scsiStatus, std::span<const std::uint8_t> sense);

// A port over an open descriptor of a block device or SCSI generic node.
class LinuxAtaPort final : public AtaCommandPort {
 public:
  explicit LinuxAtaPort(int fd) : fd_(fd) {}
  bool HdioIdentity(AtaBlock& out) override;
  std::optional<int> PeripheralType() override;
  bool AtaDataIn(const AtaCommand& command, AtaBlock& out) override;

 private:
  int fd_;
};

}  // namespace corvan
