#include "sources/AtaPassThrough.h"

#include <linux/hdreg.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>

namespace corvan {

namespace {

constexpr std::uint8_t kAtaPassThrough16 = 0x85;
constexpr std::uint8_t kProtocolPioDataIn = 4;
// CK_COND | T_DIR (from the device) | BYT_BLOK (count in blocks) | T_LENGTH
// in the sector count field.
constexpr std::uint8_t kPioInFlags = 0x20 | 0x08 | 0x04 | 0x02;

constexpr std::uint8_t kScsiStatusGood = 0x00;
constexpr std::uint8_t kAtaStatusError = 0x01;
constexpr std::uint8_t kAtaStatusDeviceFault = 0x20;
constexpr std::uint8_t kAtaStatusBusy = 0x80;

constexpr std::uint8_t kAtaStatusReturnDescriptor = 0x09;
constexpr std::uint8_t kAtaStatusReturnLength = 0x0C;

// A spun-down disk answers SMART READ DATA only after it has spun up.
constexpr unsigned kAtaTimeoutMs = 15000;
constexpr unsigned kInquiryTimeoutMs = 5000;
constexpr std::size_t kInquiryLength = 36;
constexpr std::size_t kSenseLength = 32;

// The host and driver bytes of a finished request: anything but "sense
// follows" means the request never reached the device intact.
bool TransportOk(const sg_io_hdr_t& io) {
  constexpr unsigned kDriverSense = 0x08;
  return io.host_status == 0 && (io.driver_status & ~kDriverSense) == 0;
}

int RetryIoctl(int fd, unsigned long request, void* arg) {
  int rc;
  do {
    rc = ::ioctl(fd, request, arg);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

}  // namespace

std::array<std::uint8_t, 16> BuildAtaPassThrough16(const AtaCommand& command) {
  std::array<std::uint8_t, 16> cdb{};
  cdb[0] = kAtaPassThrough16;
  cdb[1] = kProtocolPioDataIn << 1;  // EXTEND 0: a 28-bit command
  cdb[2] = kPioInFlags;
  cdb[4] = command.features;
  cdb[6] = 1;  // one block
  cdb[10] = command.lbaMid;
  cdb[12] = command.lbaHigh;
  cdb[14] = command.command;
  return cdb;
}

std::optional<std::uint8_t> AtaStatusFromSense(std::span<const std::uint8_t> sense) {
  if (sense.empty()) return std::nullopt;
  const std::uint8_t responseCode = sense[0] & 0x7F;
  if (responseCode == 0x72 || responseCode == 0x73) {
    if (sense.size() < 8) return std::nullopt;
    // Descriptors run from byte 8 for the additional length, but never past
    // what the device actually wrote.
    const std::size_t end = std::min<std::size_t>(sense.size(), 8u + sense[7]);
    std::size_t at = 8;
    while (at + 2 <= end) {
      const std::size_t length = sense[at + 1];
      if (at + 2 + length > end) break;
      if (sense[at] == kAtaStatusReturnDescriptor && length >= kAtaStatusReturnLength) {
        return sense[at + 13];
      }
      at += 2 + length;
    }
    return std::nullopt;
  }
  if (responseCode == 0x70 || responseCode == 0x71) {
    // Fixed format carries the registers in INFORMATION only under
    // ASC/ASCQ 00h/1Dh: byte 3 error, byte 4 status.
    if (sense.size() < 14 || sense[12] != 0x00 || sense[13] != 0x1D) return std::nullopt;
    return sense[4];
  }
  return std::nullopt;
}

bool PassThroughSucceeded(std::uint8_t scsiStatus, std::span<const std::uint8_t> sense) {
  if (sense.empty()) return scsiStatus == kScsiStatusGood;
  if (const auto status = AtaStatusFromSense(sense)) {
    return (*status & (kAtaStatusError | kAtaStatusDeviceFault | kAtaStatusBusy)) == 0;
  }
  // Sense without the device's registers: only "no sense" on GOOD passes.
  const std::uint8_t responseCode = sense[0] & 0x7F;
  std::uint8_t senseKey = 0xFF;
  if ((responseCode == 0x72 || responseCode == 0x73) && sense.size() >= 2) senseKey = sense[1] & 0x0F;
  if ((responseCode == 0x70 || responseCode == 0x71) && sense.size() >= 3) senseKey = sense[2] & 0x0F;
  return scsiStatus == kScsiStatusGood && senseKey == 0;
}

bool LinuxAtaPort::HdioIdentity(AtaBlock& out) {
  out.fill(0);
  return RetryIoctl(fd_, HDIO_GET_IDENTITY, out.data()) == 0;
}

std::optional<int> LinuxAtaPort::PeripheralType() {
  std::uint8_t cdb[6] = {0x12, 0, 0, 0, static_cast<std::uint8_t>(kInquiryLength), 0};
  std::uint8_t data[kInquiryLength] = {};
  std::uint8_t sense[kSenseLength] = {};
  sg_io_hdr_t io{};
  io.interface_id = 'S';
  io.dxfer_direction = SG_DXFER_FROM_DEV;
  io.cmd_len = sizeof cdb;
  io.cmdp = cdb;
  io.dxfer_len = sizeof data;
  io.dxferp = data;
  io.mx_sb_len = sizeof sense;
  io.sbp = sense;
  io.timeout = kInquiryTimeoutMs;
  if (RetryIoctl(fd_, SG_IO, &io) != 0 || !TransportOk(io) || io.status != kScsiStatusGood) return std::nullopt;
  if (io.resid < 0 || static_cast<std::size_t>(io.resid) >= sizeof data) return std::nullopt;
  // A qualifier other than 0 says no device is connected at this unit.
  if ((data[0] >> 5) != 0) return std::nullopt;
  return data[0] & 0x1F;
}

bool LinuxAtaPort::AtaDataIn(const AtaCommand& command, AtaBlock& out) {
  out.fill(0);
  auto cdb = BuildAtaPassThrough16(command);
  std::uint8_t sense[kSenseLength] = {};
  sg_io_hdr_t io{};
  io.interface_id = 'S';
  io.dxfer_direction = SG_DXFER_FROM_DEV;
  io.cmd_len = static_cast<unsigned char>(cdb.size());
  io.cmdp = cdb.data();
  io.dxfer_len = static_cast<unsigned>(out.size());
  io.dxferp = out.data();
  io.mx_sb_len = sizeof sense;
  io.sbp = sense;
  io.timeout = kAtaTimeoutMs;
  if (RetryIoctl(fd_, SG_IO, &io) != 0 || !TransportOk(io)) return false;
  // A short transfer leaves zeros that would parse as a real block.
  if (io.resid != 0) return false;
  const std::size_t senseBytes = std::min<std::size_t>(io.sb_len_wr, sizeof sense);
  return PassThroughSucceeded(io.status, std::span<const std::uint8_t>(sense, senseBytes));
}

}  // namespace corvan
