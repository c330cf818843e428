// Drive identification: IDENTIFY and SMART blocks laid out by hand as the
// ATA standard defines them, the pass-through block and sense data as SAT
// defines them, a scripted device, the fake reader, and the search for a
// saved scan's source drive. No test opens a real drive.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string_view>
#include <tuple>
#include <vector>

#include "sources/AtaPassThrough.h"
#include "sources/DriveAccess.h"
#include "sources/DriveIdentity.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

namespace fs = std::filesystem;
using Bytes = std::span<const std::uint8_t>;
using Sent = std::vector<std::pair<int, int>>;

// Byte 511 makes all 512 bytes sum to zero (IDENTIFY and SMART alike).
AtaBlock Sealed(AtaBlock b) {
  unsigned sum = 0;
  for (int i = 0; i < 511; ++i) sum += b[i];
  b[511] = static_cast<std::uint8_t>(-sum);
  return b;
}

// IDENTIFY: little-endian words; each word of a text holds its first
// character in the high byte.
struct Identify {
  AtaBlock b{};
  Identify& W(unsigned i, std::uint16_t v) {
    b[2 * i] = v & 0xFF;
    b[2 * i + 1] = v >> 8;
    return *this;
  }
  Identify& Text(unsigned first, unsigned words, std::string s) {
    s.resize(words * 2, ' ');
    for (unsigned k = 0; k < words; ++k) W(first + k, static_cast<std::uint8_t>(s[2 * k]) << 8 | static_cast<std::uint8_t>(s[2 * k + 1]));
    return *this;
  }
  AtaBlock Seal() {  // integrity signature A5h, then the checksum
    b[510] = 0xA5;
    return Sealed(b);
  }
};

// A 1 TB disk: right-justified serial, 48-bit count, SMART enabled.
Identify Golden() {
  Identify id;
  id.W(0, 0x0040).W(1, 16383).W(3, 16).W(6, 63).W(60, 0xFFFF).W(61, 0x0FFF);
  id.Text(10, 10, "     WD-WCC3F1234567").Text(23, 4, "01.01A01").Text(27, 20, "WDC WD10EZEX-00BN5A0");
  id.W(82, 0x0001).W(83, 0x4400).W(85, 0x0001).W(87, 0x4000).W(100, 0x6DB0).W(101, 0x7470);
  return id;
}

// SMART data or thresholds: 30 entries of 12 bytes from offset 2. `value`
// goes to byte 1 (a threshold) and byte 3 (a current value).
struct Smart {
  AtaBlock b{};
  Smart& Entry(unsigned slot, std::uint8_t id, std::uint8_t value, std::uint8_t worst = 0, std::uint8_t raw0 = 0) {
    std::uint8_t* e = b.data() + 2 + slot * 12;
    e[0] = id, e[1] = value, e[3] = value, e[4] = worst, e[5] = raw0;
    return *this;
  }
};

TEST(DriveIdentityParse, GoldenIdentifyBlock) {
  const AtaBlock golden = Golden().Seal();
  EXPECT_EQ(golden[55], 'W');  // word 27, high byte
  DriveIdentity id;
  ASSERT_TRUE(ParseIdentifyData(golden, IdentifyOrigin::Device, id));
  EXPECT_EQ(id.Model(), "WDC WD10EZEX-00BN5A0");
  EXPECT_EQ(id.Serial(), "WD-WCC3F1234567");
  EXPECT_EQ(id.Firmware(), "01.01A01");
  EXPECT_EQ(std::tuple(id.cylinders, id.heads, id.sectorsPerTrack), std::tuple(16383, 16, 63));
  EXPECT_EQ(id.totalSectors, 0x0FFFFFFFu);
  EXPECT_EQ(id.UserSectors512(), 1953525168u);
  EXPECT_EQ(id.smartEnabled, 1);
  EXPECT_FALSE(id.atapi);

  // 4096-byte logical sectors (word 106, words 117-118 in words).
  ASSERT_TRUE(ParseIdentifyData(Golden().W(100, 1000).W(101, 0).W(106, 0x5000).W(117, 2048).Seal(),
                                IdentifyOrigin::Device, id));
  EXPECT_EQ(id.UserSectors512(), 8000u);
}

TEST(DriveIdentityParse, TextsAtFullWidthCutOrUnprintable) {
  Identify odd;
  odd.W(0, 0x0040).Text(27, 20, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd").Text(23, 4, "FW12345X");
  odd.Text(10, 10, std::string("  AB\x01" "C\0TAIL", 11));
  DriveIdentity id;
  ASSERT_TRUE(ParseIdentifyData(odd.b, IdentifyOrigin::Device, id));
  EXPECT_EQ(id.Model(), "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd");
  EXPECT_EQ(id.model[40], '\0');
  EXPECT_EQ(id.Firmware(), "FW12345X");
  EXPECT_EQ(id.Serial(), "AB?C");

  char text[] = "ABCDEZ";  // an odd count swaps complete pairs only
  SwapAtaStringBytes(std::span(reinterpret_cast<std::uint8_t*>(text), 5));
  EXPECT_STREQ(text, "BADCEZ");
}

TEST(DriveIdentityParse, RefusesShortBlankIncompleteAndCorruptBlocks) {
  DriveIdentity id;
  id.model[0] = 'K';
  const AtaBlock golden = Golden().Seal();
  EXPECT_FALSE(ParseIdentifyData(Bytes(golden).first(511), IdentifyOrigin::Device, id));
  EXPECT_FALSE(ParseIdentifyData(AtaBlock{}, IdentifyOrigin::Device, id));
  AtaBlock ones;
  ones.fill(0xFF);
  EXPECT_FALSE(ParseIdentifyData(ones, IdentifyOrigin::Device, id));
  EXPECT_FALSE(ParseIdentifyData(Golden().W(0, 0x0044).Seal(), IdentifyOrigin::Device, id));
  AtaBlock corrupt = golden;
  corrupt[100] ^= 0x10;
  EXPECT_FALSE(ParseIdentifyData(corrupt, IdentifyOrigin::Device, id));
  EXPECT_EQ(id.Model(), "K");

  corrupt[510] = 0;  // no signature, no checksum to hold it to
  EXPECT_TRUE(ParseIdentifyData(corrupt, IdentifyOrigin::Device, id));
  std::vector<std::uint8_t> longer(golden.begin(), golden.end());
  longer.resize(600, 0x55);
  EXPECT_TRUE(ParseIdentifyData(longer, IdentifyOrigin::Device, id));
}

TEST(DriveIdentitySmart, ListsAttributesJudgedAgainstThresholds) {
  Smart data;
  data.Entry(0, 1, 100, 99).Entry(1, 194, 36, 50, 36).Entry(3, 190, 64, 60).Entry(4, 5, 100, 100);
  data.Entry(29, 9, 97, 97);
  data.b[362] = 7;  // past the 30th entry
  Smart limits;  // attribute 9's threshold is in another slot: found by id
  limits.Entry(0, 1, 51).Entry(1, 194, 0).Entry(3, 190, 64).Entry(4, 5, 140).Entry(28, 9, 0);

  DriveIdentity id;
  ASSERT_TRUE(BuildSmartAttributeList(Sealed(data.b), Sealed(limits.b), id));
  ASSERT_EQ(id.AttributeCount(), 5u);
  const std::uint8_t ids[] = {1, 194, 190, 5, 9};
  const std::uint8_t status[] = {1, 1, 2, 3, 1};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(id.attributes[i].id, ids[i]);
    EXPECT_EQ(id.attributes[i].status, status[i]) << i;
  }
  EXPECT_EQ(std::tuple(id.attributes[0].current, id.attributes[0].worst, id.attributes[3].threshold),
            std::tuple(100, 99, 140u));
  EXPECT_EQ(id.attributes[0].name, "Raw Read Error Rate");
  EXPECT_EQ(id.attributes[1].name, "Temperature");
  EXPECT_EQ(id.attributes[2].name, "(Unknown Attribute)");
  EXPECT_EQ(id.temperature, 36u);
  EXPECT_EQ(id.smartStatus, kSmartBelowThreshold);
  EXPECT_EQ(SmartAttributeStringId(12), 167u);
  EXPECT_EQ(SmartAttributeStringId(209), 186u);
  EXPECT_EQ(SmartAttributeStringId(210), 187u);
}

TEST(DriveIdentitySmart, UnreadThresholdsLeaveAttributesUnjudgedAndBadDataIsRefused) {
  const AtaBlock data = Sealed(Smart().Entry(0, 1, 100, 99).Entry(1, 5, 100, 100).b);
  AtaBlock badLimits = Sealed(Smart().Entry(0, 1, 51).Entry(1, 5, 140).b);
  badLimits[511] ^= 1;
  for (const Bytes limits : {Bytes(), Bytes(badLimits)}) {
    DriveIdentity id;
    ASSERT_TRUE(BuildSmartAttributeList(data, limits, id));
    ASSERT_EQ(id.AttributeCount(), 2u);
    EXPECT_EQ(id.attributes[1].status, kSmartNotJudged);
    EXPECT_EQ(id.smartStatus, 0);
    EXPECT_FALSE(id.smartThresholdsRead);
  }
  DriveIdentity kept;
  kept.temperature = 40;
  AtaBlock corrupt = data;
  corrupt[20] ^= 4;
  EXPECT_FALSE(BuildSmartAttributeList(corrupt, {}, kept));
  EXPECT_FALSE(BuildSmartAttributeList(Bytes(data).first(300), {}, kept));
  EXPECT_EQ(kept.temperature, 40u);
}

TEST(AtaPassThrough, CommandBlockAndSenseFollowSat) {
  const std::array<std::uint8_t, 16> smartRead = {0x85, 0x08, 0x2E, 0, 0xD0, 0, 1, 0, 0, 0, 0x4F, 0, 0xC2, 0, 0xB0, 0};
  EXPECT_EQ(BuildAtaPassThrough16(kAtaSmartReadData), smartRead);

  // Descriptor format, ATA Status Return descriptor (09h, 0Ch): status last.
  std::vector<std::uint8_t> desc = {0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14, 0x09, 0x0C};
  desc.resize(22, 0);
  desc[21] = 0x50;
  EXPECT_EQ(AtaStatusFromSense(desc), 0x50);
  EXPECT_TRUE(PassThroughSucceeded(0x02, desc));
  desc[21] = 0x51;  // ERR
  EXPECT_FALSE(PassThroughSucceeded(0x02, desc));
  EXPECT_EQ(AtaStatusFromSense(Bytes(desc).first(18)), std::nullopt);  // descriptor cut short

  std::vector<std::uint8_t> fixed(18, 0);
  fixed[0] = 0x70, fixed[2] = 0x01, fixed[4] = 0x50, fixed[13] = 0x1D;
  EXPECT_EQ(AtaStatusFromSense(fixed), 0x50);
  fixed[2] = 0x05, fixed[12] = 0x20, fixed[13] = 0x00;  // ILLEGAL REQUEST: no pass-through
  EXPECT_FALSE(PassThroughSucceeded(0x02, fixed));
  EXPECT_TRUE(PassThroughSucceeded(0x00, {}));
  EXPECT_FALSE(PassThroughSucceeded(0x02, {}));
}

// A device answering from a script; notes the (command, features) it gets.
struct ScriptedPort : AtaCommandPort {
  std::optional<AtaBlock> hdio;
  std::optional<int> type = kScsiDirectAccess;
  std::map<std::pair<int, int>, AtaBlock> answers = {
      {{0xEC, 0}, Golden().Seal()},
      {{0xB0, 0xD0}, Sealed(Smart().Entry(0, 194, 30, 30, 30).b)},
      {{0xB0, 0xD1}, Sealed(Smart().Entry(0, 194, 0).b)}};
  Sent sent;
  bool HdioIdentity(AtaBlock& out) override {
    if (hdio) out = *hdio;
    return hdio.has_value();
  }
  std::optional<int> PeripheralType() override { return type; }
  bool AtaDataIn(const AtaCommand& c, AtaBlock& out) override {
    sent.emplace_back(c.command, c.features);
    const auto it = answers.find({c.command, c.features});
    if (it != answers.end()) out = it->second;
    return it != answers.end();
  }
};

TEST(DriveIdentityRead, KernelFirstThenPassThroughThenSmart) {
  ScriptedPort port;
  DriveIdentity id;
  ASSERT_TRUE(ReadAtaIdentify(port, id));
  EXPECT_EQ(port.sent, (Sent{{0xEC, 0}, {0xB0, 0xD0}, {0xB0, 0xD1}}));
  EXPECT_EQ(id.Serial(), "WD-WCC3F1234567");
  EXPECT_EQ(id.temperature, 30u);
  EXPECT_EQ(id.smartStatus, kSmartAboveThreshold);

  ScriptedPort kernel;
  kernel.hdio = Golden().Seal();
  for (const auto& [offset, length] : {std::pair{20, 20}, std::pair{46, 8}, std::pair{54, 40}}) {
    SwapAtaStringBytes(std::span(*kernel.hdio).subspan(offset, length));
  }
  ASSERT_TRUE(ReadAtaIdentify(kernel, id));
  EXPECT_EQ(kernel.sent, (Sent{{0xB0, 0xD0}, {0xB0, 0xD1}}));
  EXPECT_EQ(id.Model(), "WDC WD10EZEX-00BN5A0");

  ScriptedPort smartOff;
  smartOff.answers[{0xEC, 0}] = Golden().W(85, 0).Seal();
  ASSERT_TRUE(ReadAtaIdentify(smartOff, id));
  EXPECT_EQ(smartOff.sent, (Sent{{0xEC, 0}}));
  EXPECT_EQ(id.AttributeCount(), 0u);

  ScriptedPort optical;
  optical.type = kScsiMultimedia;
  optical.answers[{0xA1, 0}] = Golden().W(0, 0x85C0).Seal();
  ASSERT_TRUE(ReadAtaIdentify(optical, id));
  EXPECT_EQ(optical.sent, (Sent{{0xA1, 0}}));
  EXPECT_TRUE(id.atapi);  // texts, but no geometry or size
  EXPECT_EQ(id.Model(), "WDC WD10EZEX-00BN5A0");
  EXPECT_EQ(id.cylinders + id.UserSectors(), 0u);
}

TEST(DriveIdentityRead, FailuresLeaveTheRecordAsItWas) {
  DriveIdentity id;
  id.model[0] = 'K';
  ScriptedPort notScsi, tape, bridge;
  notScsi.type = std::nullopt;
  tape.type = 0x01;
  bridge.answers.clear();  // takes no pass-through
  for (ScriptedPort* port : {&notScsi, &tape, &bridge}) EXPECT_FALSE(ReadAtaIdentify(*port, id));
  EXPECT_TRUE(notScsi.sent.empty());
  EXPECT_TRUE(tape.sent.empty());
  EXPECT_EQ(id.Model(), "K");
}

DriveIdentity Named(std::string_view model, std::string_view serial, std::string_view firmware, std::uint32_t sectors) {
  DriveIdentity id;
  std::copy(model.begin(), model.end(), id.model.begin());
  std::copy(serial.begin(), serial.end(), id.serial.begin());
  std::copy(firmware.begin(), firmware.end(), id.firmware.begin());
  id.totalSectors = sectors;
  return id;
}

TEST(DriveIdentityReaders, LinuxReaderRefusesWhatIsNoDriveAndFakeAnswersFromItsTable) {
  test::TempDir dir;
  std::ofstream(dir / "disk.img", std::ios::binary) << std::string(4096, 'x');
  fs::create_directories(dir / "sys/sda/device");
  fs::create_directories(dir / "dev");
  std::ofstream(dir / "dev/sda") << "not a device";
  const LinuxDriveIdentityReader reader(dir / "sys", dir / "dev");
  DriveIdentity id;
  id.model[0] = 'K';
  EXPECT_FALSE(reader.GetDriveIdentity(dir / "disk.img", id));
  EXPECT_FALSE(reader.GetDriveIdentity(dir / "no-such-device", id));
  EXPECT_FALSE(reader.GetDriveIdentity(fs::path("/dev/null"), id));
  EXPECT_FALSE(reader.GetDriveIdentity(std::uint8_t{0x80}, id));  // dev/sda is a plain file
  EXPECT_FALSE(reader.GetDriveIdentity(std::uint8_t{0x02}, id));
  EXPECT_EQ(id.Model(), "K");

  FakeDriveIdentityReader fake;
  fake.Set(std::uint8_t{0x81}, Named("M1", "S1", "F1", 100));
  fake.Set(fs::path("/dev/sdq"), Named("M2", "S2", "F2", 200));
  ASSERT_TRUE(fake.GetDriveIdentity(fs::path("/dev/sdq"), id));
  EXPECT_FALSE(fake.GetDriveIdentity(std::uint8_t{0x80}, id));
  EXPECT_EQ(id.Serial(), "S2");
  EXPECT_EQ(fake.Calls(), 2u);
}

TEST(SourceDriveSearch, HeaderFieldsAreReadWithinTheirWidths) {
  std::vector<std::uint8_t> header(1024, 0);
  std::memset(&header[878], 'M', 41);  // no terminating zero
  std::memcpy(&header[919], "SER9", 4);
  std::memcpy(&header[940], "FW1", 3);
  std::memcpy(&header[949], "\x78\x56\x34\x12", 4);
  const auto saved = ReadSavedSourceDisk(header);
  ASSERT_TRUE(saved);
  EXPECT_EQ(std::tie(saved->model, saved->serial, saved->firmware),
            std::tuple(std::string(41, 'M'), "SER9", "FW1"));
  EXPECT_EQ(saved->sectorCount, 0x12345678u);
  EXPECT_FALSE(ReadSavedSourceDisk(Bytes(header).first(952)));

  EXPECT_TRUE(SavedHeaderNamesDrive(0, 0) && SavedHeaderNamesDrive(11, 0));
  EXPECT_FALSE(SavedHeaderNamesDrive(0, 1) || SavedHeaderNamesDrive(5, 0) || SavedHeaderNamesDrive(10, 0));
}

TEST(SourceDriveSearch, FixedDisksByTextsAndSizeRemovableBySize) {
  FakeDriveIdentityReader fake;
  fake.Set(std::uint8_t{0x80}, Named("ST2000 DM", "Z1", "CC26", 5000));
  fake.Set(std::uint8_t{0x81}, Named("ST2000 DM", "Z2", "CC26", 5000));
  fake.Set(std::uint8_t{0x82}, Named("ST2000 DM", "Z2", "CC26", 5000));
  const std::vector<DriveCandidate> drives = {{0x80, DriveMedia::Fixed, 5000}, {0x81, DriveMedia::Fixed, 5000},
                                              {0x82, DriveMedia::Fixed, 5000}, {0x83, DriveMedia::Removable, 0},
                                              {0x84, DriveMedia::Removable, 0x100000777}};
  SavedSourceDisk saved{"ST2000 DM", "Z2", "CC26", 5000};
  EXPECT_EQ(FindSourceDrive(saved, true, drives, fake), 0x81);  // serial decides, first wins
  saved.model = "ST2000";  // an older file's one-word text
  EXPECT_EQ(FindSourceDrive(saved, true, drives, fake), 0x81);
  saved.sectorCount = 4999;
  EXPECT_EQ(FindSourceDrive(saved, true, drives, fake), std::nullopt);
  // Removable: the low half of the size; an empty card reader never matches 0.
  EXPECT_EQ(FindSourceDrive({"", "", "", 0x777}, true, drives, fake), 0x84);
  EXPECT_EQ(FindSourceDrive({"", "", "", 0}, true, drives, fake), std::nullopt);
  // Empty texts name no fixed disk, even one whose identity is blank.
  fake.Set(std::uint8_t{0x85}, Named("", "", "", 42));
  const DriveCandidate blank[] = {{0x85, DriveMedia::Fixed, 42}};
  EXPECT_EQ(FindSourceDrive({"", "", "", 42}, true, blank, fake), std::nullopt);
}

TEST(SourceDriveSearch, AnImageHeaderNeverAsksForAHostDrive) {
  FakeDriveIdentityReader fake;
  fake.Set(std::uint8_t{0x80}, Named("M", "S", "F", 64));
  const DriveCandidate drives[] = {{0x80, DriveMedia::Fixed, 64}};
  const SavedSourceDisk saved{"M", "S", "F", 64};
  EXPECT_EQ(FindSourceDrive(saved, SavedHeaderNamesDrive(7, 0), drives, fake), std::nullopt);
  EXPECT_EQ(fake.Calls(), 0u);
  EXPECT_EQ(FindSourceDrive(saved, true, drives, fake), 0x80);
  EXPECT_EQ(fake.Calls(), 1u);
}

TEST(SourceDriveSearch, CandidatesAreDisksUpTo23FixedFirst) {
  test::TempDir dir;
  auto access = std::make_shared<FakeDriveAccess>();
  for (const auto& [n, media, sectors] : {std::tuple{0u, DriveMedia::Removable, 1}, std::tuple{2u, DriveMedia::Fixed, 2},
                                          std::tuple{24u, DriveMedia::Fixed, 3}}) {
    const fs::path file = dir / std::to_string(n);
    std::ofstream(file, std::ios::binary).close();
    fs::resize_file(file, 512 * sectors);
    access->SetDisk(n, media, file);
  }
  SetDriveAccess(access);
  const auto drives = ListSourceDriveCandidates();
  SetDriveAccess(nullptr);
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(std::tuple(drives[0].driveNumber, drives[0].media, drives[0].sectorCount),
            std::tuple(0x82, DriveMedia::Fixed, 2u));
  EXPECT_EQ(std::tuple(drives[1].driveNumber, drives[1].media, drives[1].sectorCount),
            std::tuple(0x80, DriveMedia::Removable, 1u));
}

}  // namespace
}  // namespace corvan
