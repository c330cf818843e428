// The archive list's shared texts: the format chosen by the name, the
// "File"/"Folder", ratio and date columns, 8-bit names, little-endian fields.

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/ByteCodec.h"
#include "preview/ArchiveList.h"

namespace corvan {
namespace {

TEST(ArchiveList, FormatByTheLastFourCharactersInAnyCase) {
  EXPECT_EQ(ArchiveFormatOfName(u"backup.zip"), ArchiveFormat::Zip);
  EXPECT_EQ(ArchiveFormatOfName(u"BACKUP.ZIP"), ArchiveFormat::Zip);
  EXPECT_EQ(ArchiveFormatOfName(u"x.Rar"), ArchiveFormat::Rar);
  EXPECT_EQ(ArchiveFormatOfName(u"x.arj"), ArchiveFormat::Arj);
  EXPECT_EQ(ArchiveFormatOfName(u"x.LZH"), ArchiveFormat::Lzh);
  EXPECT_EQ(ArchiveFormatOfName(u"x.tar"), ArchiveFormat::Tar);
  EXPECT_EQ(ArchiveFormatOfName(u".cab"), ArchiveFormat::Cab);
  EXPECT_EQ(ArchiveFormatOfName(u"x.alZ"), ArchiveFormat::Alz);
  // Shorter than four characters, another suffix, a suffix not at the end.
  EXPECT_EQ(ArchiveFormatOfName(u"zip"), ArchiveFormat::None);
  EXPECT_EQ(ArchiveFormatOfName(u""), ArchiveFormat::None);
  EXPECT_EQ(ArchiveFormatOfName(u"x.tgz"), ArchiveFormat::None);
  EXPECT_EQ(ArchiveFormatOfName(u"x.zip.txt"), ArchiveFormat::None);
  EXPECT_EQ(ArchiveFormatOfName(u"x_zip"), ArchiveFormat::None);
  // A name outside the seven lists nothing, whatever the bytes.
  const std::uint8_t tar[1024] = {};
  MemoryByteSource source(tar);
  EXPECT_TRUE(ListArchiveEntries(source, u"x.bin").entries.empty());
}

TEST(ArchiveList, TypeAndRatioTexts) {
  ArchiveEntry e;
  e.isFile = true;
  EXPECT_EQ(ArchiveTypeText(e), u"File");
  e.isFile = false;
  EXPECT_EQ(ArchiveTypeText(e), u"Folder");

  auto ratio = [](std::uint64_t unpacked, std::uint64_t packed, RatioStyle style) {
    ArchiveEntry r;
    r.unpacked = unpacked;
    r.packed = packed;
    r.ratio = style;
    return ArchiveRatioText(r);
  };
  // (unpacked - packed) * 100 / unpacked, two decimals.
  EXPECT_EQ(ratio(5000, 22, RatioStyle::Real), u"99.56 %");
  EXPECT_EQ(ratio(3, 1, RatioStyle::Real), u"66.67 %");
  EXPECT_EQ(ratio(100, 100, RatioStyle::Real), u"0.00 %");
  EXPECT_EQ(ratio(200, 300, RatioStyle::Real), u"-50.00 %");
  EXPECT_EQ(ratio(7, 10, RatioStyle::Real), u"-42.86 %");
  EXPECT_EQ(ratio(0, 10, RatioStyle::Real), u"0.00 %");
  EXPECT_EQ(ratio(10, 0, RatioStyle::Real), u"0.00 %");
  // Whole percentages keep integer division.
  EXPECT_EQ(ratio(3, 1, RatioStyle::Whole), u"66.00 %");
  EXPECT_EQ(ratio(7, 10, RatioStyle::Whole), u"-42.00 %");
  EXPECT_EQ(ratio(0, 10, RatioStyle::Whole), u"0.00 %");
  EXPECT_EQ(ratio(5000, 22, RatioStyle::None), u"");
}

class ArchiveTimeText : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* tz = std::getenv("TZ")) old_ = tz;
  }
  void TearDown() override {
    if (old_) ::setenv("TZ", old_->c_str(), 1);
    else ::unsetenv("TZ");
    ::tzset();
  }
  static void Zone(const char* tz) {
    ::setenv("TZ", tz, 1);
    ::tzset();
  }
  std::optional<std::string> old_;
};

TEST_F(ArchiveTimeText, LocalTimeInTwelveHourForm) {
  // 2021-03-04 17:06:08 as MS-DOS fields: years since 1980 in bits 9-15,
  // month 5-8, day 0-4; hour 11-15, minute 5-10, seconds / 2 in 0-4.
  const auto dos = ArchiveTime::Dos((41 << 9) | (3 << 5) | 4, (17 << 11) | (6 << 5) | 4);
  const auto unix = ArchiveTime::Unix(1614877568);  // the same instant in UTC
  Zone("UTC");
  EXPECT_EQ(FormatArchiveTime(dos), u"03/04/2021, 05:06:PM");
  EXPECT_EQ(FormatArchiveTime(unix), u"03/04/2021, 05:06:PM");
  EXPECT_EQ(FormatArchiveTime(ArchiveTime::Unix(0)), u"01/01/1970, 12:00:AM");
  EXPECT_EQ(FormatArchiveTime(ArchiveTime{}), u"");
  // MS-DOS times are already local; seconds since 1970 are shown in the
  // local zone (five hours west here).
  Zone("EST5");
  EXPECT_EQ(FormatArchiveTime(dos), u"03/04/2021, 05:06:PM");
  EXPECT_EQ(FormatArchiveTime(unix), u"03/04/2021, 12:06:PM");
  EXPECT_EQ(FormatArchiveTime(ArchiveTime::Unix(0)), u"12/31/1969, 07:00:PM");
  // Morning hours in the 12-hour form.
  EXPECT_EQ(FormatArchiveTime(ArchiveTime::Dos((20 << 9) | (12 << 5) | 31, (9 << 11) | (59 << 5))),
            u"12/31/2000, 09:59:AM");
}

TEST(ArchiveList, EightBitNames) {
  EXPECT_EQ(ArchiveName("caf\xC3\xA9.txt"), u"caf\u00E9.txt");  // UTF-8
  EXPECT_EQ(ArchiveName("caf\xE9.txt"), u"caf\u00E9.txt");      // Windows-1252
  EXPECT_EQ(ArchiveName("\x80 \x9F"), u"\u20AC \u0178");         // 1252's own letters
  EXPECT_EQ(ArchiveName(std::string_view("ab\0cd", 5)), u"ab");  // cut at the NUL
  // An overlong form is not UTF-8: each byte is a 1252 letter.
  EXPECT_EQ(ArchiveName("\xC0\xAF"), u"\u00C0\u00AF");
  EXPECT_EQ(ArchiveName("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(ArchiveName(""), u"");
}

TEST(ArchiveList, LittleEndianFields) {
  const std::uint8_t b[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0xF8};
  EXPECT_EQ(GetLE16(b), 0x0201u);
  EXPECT_EQ(GetLE32(b), 0x04030201u);
  EXPECT_EQ(GetLE64(b), 0xF807060504030201ull);
}

}  // namespace
}  // namespace corvan
