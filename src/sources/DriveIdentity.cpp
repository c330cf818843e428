#include "sources/DriveIdentity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "core/StringTable.h"

namespace corvan {

namespace {

// IDENTIFY word numbers.
constexpr unsigned kWordConfig = 0;
constexpr unsigned kWordCylinders = 1;
constexpr unsigned kWordHeads = 3;
constexpr unsigned kWordSectorsPerTrack = 6;
constexpr unsigned kWordSerial = 10;
constexpr unsigned kSerialWords = 10;
constexpr unsigned kWordFirmware = 23;
constexpr unsigned kFirmwareWords = 4;
constexpr unsigned kWordModel = 27;
constexpr unsigned kModelWords = 20;
constexpr unsigned kWordSectors28 = 60;
constexpr unsigned kWordCommandSets2 = 83;
constexpr unsigned kWordFeaturesEnabled1 = 85;
constexpr unsigned kWordFeaturesEnabled3 = 87;
constexpr unsigned kWordSectors48 = 100;
constexpr unsigned kWordSectorSizes = 106;
constexpr unsigned kWordLogicalSectorSize = 117;
constexpr unsigned kWordIntegrity = 255;

constexpr std::uint16_t kConfigIncomplete = 0x0004;
constexpr std::uint16_t kConfigNotAta = 0x8000;
// CompactFlash cards set the "not ATA" bit yet speak ATA.
constexpr std::uint16_t kConfigCompactFlash = 0x848A;

constexpr unsigned kScsiGenericMajor = 21;
constexpr unsigned kLastSearchedDisk = 23;

std::uint8_t ByteSum(std::span<const std::uint8_t> bytes) {
  unsigned sum = 0;
  for (const std::uint8_t b : bytes) sum += b;
  return static_cast<std::uint8_t>(sum);
}

// Words 83, 87 and 106 say in their top two bits (01b) whether the words
// they speak for hold anything.
bool WordValid(std::uint16_t word) { return (word & 0xC000) == 0x4000; }

// One identification text: reading order, cut at a zero, spaces trimmed
// from both ends (ATA pads with them), anything unprintable made '?'.
template <std::size_t N>
void TakeText(std::span<const std::uint8_t> block, unsigned firstWord, unsigned words, bool swap,
              std::array<char, N>& out) {
  std::array<std::uint8_t, kModelWords * 2> raw{};
  const std::span<std::uint8_t> field(raw.data(), words * 2u);
  std::copy_n(block.begin() + firstWord * 2, field.size(), field.begin());
  if (swap) SwapAtaStringBytes(field);
  std::size_t end = std::find(field.begin(), field.end(), 0) - field.begin();
  std::size_t begin = 0;
  while (begin < end && field[begin] == ' ') ++begin;
  while (end > begin && field[end - 1] == ' ') --end;
  out.fill(0);
  const std::size_t count = std::min(end - begin, N - 1);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t c = field[begin + i];
    out[i] = (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  }
}

const std::uint8_t* FindThreshold(std::span<const std::uint8_t> thresholds, std::size_t slot, std::uint8_t id) {
  const std::uint8_t* same = thresholds.data() + 2 + slot * kSmartEntrySize;
  if (same[0] == id) return same;
  // Drives keep both tables in the same order, but nothing promises it.
  for (std::size_t i = 0; i < kSmartAttributeSlots; ++i) {
    const std::uint8_t* entry = thresholds.data() + 2 + i * kSmartEntrySize;
    if (entry[0] == id) return entry;
  }
  return nullptr;
}

// Closes on every way out.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

bool IsDriveNode(const struct stat& st) {
  return S_ISBLK(st.st_mode) || (S_ISCHR(st.st_mode) && major(st.st_rdev) == kScsiGenericMajor);
}

// Read-only and without blocking: identification must never change the
// drive, and must not hang on a node that waits for something. Only block
// devices and SCSI generic nodes are opened: a tape opened and closed
// would rewind.
int OpenSmartDevice(const std::filesystem::path& device) {
  struct stat before {};
  if (::stat(device.c_str(), &before) != 0 || !IsDriveNode(before)) return -1;
  int fd;
  do {
    fd = ::open(device.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct stat after {};
  if (::fstat(fd, &after) != 0 || !IsDriveNode(after) || after.st_rdev != before.st_rdev) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool TextMatches(std::string_view saved, std::string_view ours) {
  while (!saved.empty() && saved.front() == ' ') saved.remove_prefix(1);
  while (!saved.empty() && saved.back() == ' ') saved.remove_suffix(1);
  if (saved == ours) return true;
  if (saved.empty() || saved.find(' ') != std::string_view::npos) return false;
  const auto firstWord = ours.substr(0, ours.find(' '));
  const auto lastSpace = ours.rfind(' ');
  const auto lastWord = lastSpace == std::string_view::npos ? ours : ours.substr(lastSpace + 1);
  return saved == firstWord || saved == lastWord;
}

// The saved size is the low half of the system's count; older files stored
// the drive's own count instead. A size of 0 is no size and matches nothing.
bool SizeMatches(std::uint32_t saved, const DriveCandidate& drive, const DriveIdentity& identity) {
  if (saved == 0) return false;
  return saved == static_cast<std::uint32_t>(drive.sectorCount) ||
         saved == static_cast<std::uint32_t>(identity.UserSectors512()) || saved == identity.totalSectors;
}

std::mutex g_readerMutex;
std::shared_ptr<const DriveIdentityReader> g_reader;

}  // namespace

void SwapAtaStringBytes(std::span<std::uint8_t> text) {
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) std::swap(text[i], text[i + 1]);
}

bool ParseIdentifyData(std::span<const std::uint8_t> block, IdentifyOrigin origin, DriveIdentity& out) {
  if (block.size() < kAtaBlockSize) return false;
  block = block.first(kAtaBlockSize);
  const bool fromDevice = origin == IdentifyOrigin::Device;
  const auto word = [&](unsigned i) -> std::uint16_t {
    if (fromDevice) return static_cast<std::uint16_t>(block[2 * i] | block[2 * i + 1] << 8);
    std::uint16_t w;
    std::memcpy(&w, &block[2 * i], sizeof w);
    return w;
  };
  // A missing device reads as all zeros or a floating all-ones bus.
  const auto isBlank = [&](std::uint8_t fill) {
    return std::all_of(block.begin(), block.end(), [fill](std::uint8_t b) { return b == fill; });
  };
  if (isBlank(0x00) || isBlank(0xFF)) return false;
  const std::uint16_t config = word(kWordConfig);
  if (config & kConfigIncomplete) return false;
  // The kernel may have rewritten the texts, so only the device's own block
  // is held to its checksum.
  if (fromDevice && (word(kWordIntegrity) & 0xFF) == 0xA5 && ByteSum(block) != 0) return false;

  DriveIdentity id;
  id.atapi = (config & kConfigNotAta) != 0 && config != kConfigCompactFlash;
  TakeText(block, kWordModel, kModelWords, fromDevice, id.model);
  TakeText(block, kWordSerial, kSerialWords, fromDevice, id.serial);
  TakeText(block, kWordFirmware, kFirmwareWords, fromDevice, id.firmware);
  if (!id.atapi) {
    // The packet device's words 1 to 103 hold no geometry or sizes.
    id.cylinders = word(kWordCylinders);
    id.heads = word(kWordHeads);
    id.sectorsPerTrack = word(kWordSectorsPerTrack);
    id.totalSectors = word(kWordSectors28) | static_cast<std::uint32_t>(word(kWordSectors28 + 1)) << 16;
    const std::uint16_t commandSets2 = word(kWordCommandSets2);
    if (WordValid(commandSets2) && (commandSets2 & 0x0400)) {
      for (unsigned i = 0; i < 4; ++i) {
        id.lba48Sectors |= static_cast<std::uint64_t>(word(kWordSectors48 + i)) << (16 * i);
      }
    }
    const std::uint16_t sectorSizes = word(kWordSectorSizes);
    if (WordValid(sectorSizes) && (sectorSizes & 0x1000)) {
      const std::uint32_t words = word(kWordLogicalSectorSize) |
                                  static_cast<std::uint32_t>(word(kWordLogicalSectorSize + 1)) << 16;
      const std::uint64_t bytes = std::uint64_t{words} * 2;
      if (bytes >= 512 && bytes <= 65536 && bytes % 512 == 0) {
        id.logicalSectorBytes = static_cast<std::uint32_t>(bytes);
      }
    }
    const bool smartOn = WordValid(word(kWordFeaturesEnabled3)) && (word(kWordFeaturesEnabled1) & 0x0001);
    id.smartEnabled = smartOn ? 1 : 0;
  }
  out = std::move(id);
  return true;
}

unsigned SmartAttributeStringId(std::uint8_t id) {
  if (id >= 1 && id <= 12) return id + 155u;
  if (id >= 191 && id <= 209) return id - 23u;
  return 187;
}

bool BuildSmartAttributeList(std::span<const std::uint8_t> data, std::span<const std::uint8_t> thresholds,
                             DriveIdentity& out) {
  if (data.size() < kAtaBlockSize || ByteSum(data.first(kAtaBlockSize)) != 0) return false;
  const bool judged = thresholds.size() >= kAtaBlockSize && ByteSum(thresholds.first(kAtaBlockSize)) == 0;

  std::vector<SmartAttributeNode> nodes;
  std::uint32_t temperature = 0;
  bool temperatureFound = false;
  std::uint16_t listTemperature = 0;
  std::uint8_t worstStatus = kSmartNotJudged;
  for (std::size_t slot = 0; slot < kSmartAttributeSlots; ++slot) {
    const std::uint8_t* entry = data.data() + 2 + slot * kSmartEntrySize;
    if (entry[0] == 0) continue;
    SmartAttributeNode node;
    node.id = entry[0];
    node.nameId = SmartAttributeStringId(node.id);
    node.name = LoadString(node.nameId);
    node.current = entry[3];
    node.worst = entry[4];
    if (const std::uint8_t* limit = judged ? FindThreshold(thresholds, slot, node.id) : nullptr) {
      node.threshold = limit[1];
      node.status = node.threshold < node.current    ? kSmartAboveThreshold
                    : node.threshold == node.current ? kSmartAtThreshold
                                                     : kSmartBelowThreshold;
    }
    if (node.id == kSmartTemperatureId) {
      if (!temperatureFound) temperature = entry[5];
      temperatureFound = true;
      listTemperature = entry[5];
    }
    // The statuses rank as their numbers: below before at before above.
    worstStatus = std::max(worstStatus, node.status);
    nodes.push_back(std::move(node));
  }
  out.attributes = std::move(nodes);
  out.temperature = temperature;
  out.listTemperature = listTemperature;
  out.smartStatus = worstStatus;
  out.smartThresholdsRead = judged;
  return true;
}

bool ReadAtaIdentify(AtaCommandPort& port, DriveIdentity& out) {
  DriveIdentity id;
  AtaBlock block{};
  bool identified = port.HdioIdentity(block) && ParseIdentifyData(block, IdentifyOrigin::Kernel, id);
  // ATA commands go only to what calls itself a disk or an optical drive;
  // anything else may read the pass-through code as something of its own.
  std::optional<int> type;
  if (!identified || id.smartEnabled) type = port.PeripheralType();
  const bool passThrough = type && (*type == kScsiDirectAccess || *type == kScsiMultimedia);
  if (!identified && passThrough) {
    const AtaCommand& identify = *type == kScsiMultimedia ? kAtaIdentifyPacketDevice : kAtaIdentifyDevice;
    identified = port.AtaDataIn(identify, block) && ParseIdentifyData(block, IdentifyOrigin::Device, id);
  }
  if (!identified) return false;
  if (passThrough && !id.atapi && id.smartEnabled) {
    AtaBlock data{};
    AtaBlock thresholds{};
    if (port.AtaDataIn(kAtaSmartReadData, data)) {
      const bool haveThresholds = port.AtaDataIn(kAtaSmartReadThresholds, thresholds);
      BuildSmartAttributeList(data, haveThresholds ? std::span<const std::uint8_t>(thresholds)
                                                   : std::span<const std::uint8_t>(),
                              id);
    }
  }
  out = std::move(id);
  return true;
}

LinuxDriveIdentityReader::LinuxDriveIdentityReader(std::filesystem::path sysBlock, std::filesystem::path devFolder)
    : drives_(std::move(sysBlock), devFolder), devFolder_(std::move(devFolder)) {}

bool LinuxDriveIdentityReader::GetDriveIdentity(const std::filesystem::path& device, DriveIdentity& out) const {
  Descriptor drive{OpenSmartDevice(device)};
  if (drive.fd < 0) return false;
  LinuxAtaPort port(drive.fd);
  return ReadAtaIdentify(port, out);
}

bool LinuxDriveIdentityReader::GetDriveIdentity(std::uint8_t driveNumber, DriveIdentity& out) const {
  if (driveNumber < kFirstPhysicalDriveIndex) return false;
  const auto names = drives_.DiskNames();
  const unsigned n = driveNumber - kFirstPhysicalDriveIndex;
  if (n >= names.size()) return false;
  return GetDriveIdentity(devFolder_ / names[n], out);
}

void FakeDriveIdentityReader::Set(std::uint8_t driveNumber, DriveIdentity identity) {
  byNumber_[driveNumber] = std::move(identity);
}

void FakeDriveIdentityReader::Set(const std::filesystem::path& device, DriveIdentity identity) {
  byPath_[device] = std::move(identity);
}

bool FakeDriveIdentityReader::GetDriveIdentity(const std::filesystem::path& device, DriveIdentity& out) const {
  ++calls_;
  const auto it = byPath_.find(device);
  if (it == byPath_.end()) return false;
  out = it->second;
  return true;
}

bool FakeDriveIdentityReader::GetDriveIdentity(std::uint8_t driveNumber, DriveIdentity& out) const {
  ++calls_;
  const auto it = byNumber_.find(driveNumber);
  if (it == byNumber_.end()) return false;
  out = it->second;
  return true;
}

void SetDriveIdentityReader(std::shared_ptr<const DriveIdentityReader> reader) {
  std::lock_guard lock(g_readerMutex);
  g_reader = std::move(reader);
}

std::shared_ptr<const DriveIdentityReader> CurrentDriveIdentityReader() {
  std::lock_guard lock(g_readerMutex);
  if (!g_reader) g_reader = std::make_shared<LinuxDriveIdentityReader>();
  return g_reader;
}

bool GetDriveIdentity(std::uint8_t driveNumber, DriveIdentity& out) {
  return CurrentDriveIdentityReader()->GetDriveIdentity(driveNumber, out);
}

std::optional<SavedSourceDisk> ReadSavedSourceDisk(std::span<const std::uint8_t> header) {
  if (header.size() < kSavedDiskEnd) return std::nullopt;
  // A field without its zero ends at its width, not in the next field.
  const auto text = [&](std::size_t offset, std::size_t width) {
    const auto field = header.subspan(offset, width);
    const auto end = std::find(field.begin(), field.end(), 0);
    return std::string(field.begin(), end);
  };
  SavedSourceDisk saved;
  saved.model = text(kSavedDiskOffset, kModelTextSize);
  saved.serial = text(kSavedDiskOffset + kModelTextSize, kSerialTextSize);
  saved.firmware = text(kSavedDiskOffset + kModelTextSize + kSerialTextSize, kFirmwareTextSize);
  const std::size_t size = kSavedDiskOffset + kModelTextSize + kSerialTextSize + kFirmwareTextSize;
  saved.sectorCount = header[size] | header[size + 1] << 8 | header[size + 2] << 16 |
                      static_cast<std::uint32_t>(header[size + 3]) << 24;
  return saved;
}

bool SavedHeaderNamesDrive(std::uint8_t savedSourceKind, std::uint8_t noDiskToLocate) {
  const bool imageKind = savedSourceKind >= 5 && savedSourceKind <= 10;
  return !imageKind && noDiskToLocate == 0;
}

bool IdentityTextsMatch(const SavedSourceDisk& saved, const DriveIdentity& identity) {
  // A header whose texts were left empty names no drive by identity.
  if (saved.model.empty() && saved.serial.empty() && saved.firmware.empty()) return false;
  return TextMatches(saved.model, identity.Model()) && TextMatches(saved.serial, identity.Serial()) &&
         TextMatches(saved.firmware, identity.Firmware());
}

std::vector<DriveCandidate> ListSourceDriveCandidates() {
  std::uint8_t fixedCount = 0;
  std::uint8_t removableCount = 0;
  CountFixedAndRemovableDisks(fixedCount, removableCount);
  std::vector<DriveCandidate> candidates;
  const auto add = [&](const DiskTable& table, DriveMedia media) {
    for (unsigned n = 0; n <= kLastSearchedDisk; ++n) {
      if (!table[n]) continue;
      DriveCandidate drive;
      drive.driveNumber = static_cast<std::uint8_t>(kFirstPhysicalDriveIndex + n);
      drive.media = media;
      GetDiskSectorCount(drive.driveNumber, drive.sectorCount);
      candidates.push_back(drive);
    }
  };
  add(FixedDiskTable(), DriveMedia::Fixed);
  add(RemovableDiskTable(), DriveMedia::Removable);
  return candidates;
}

std::optional<std::uint8_t> FindSourceDrive(const SavedSourceDisk& saved, bool headerNamesDrive,
                                            std::span<const DriveCandidate> candidates,
                                            const DriveIdentityReader& reader) {
  if (!headerNamesDrive) return std::nullopt;
  for (const DriveCandidate& drive : candidates) {
    if (drive.media == DriveMedia::Fixed) {
      DriveIdentity identity;
      if (reader.GetDriveIdentity(drive.driveNumber, identity) && IdentityTextsMatch(saved, identity) &&
          SizeMatches(saved.sectorCount, drive, identity)) {
        return drive.driveNumber;
      }
    } else if (drive.media == DriveMedia::Removable) {
      // An empty card reader reports no size; it is no saved disk.
      if (drive.sectorCount != 0 && static_cast<std::uint32_t>(drive.sectorCount) == saved.sectorCount) {
        return drive.driveNumber;
      }
    }
  }
  return std::nullopt;
}

}  // namespace corvan
