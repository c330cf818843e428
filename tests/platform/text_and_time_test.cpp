#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/ByteCodec.h"
#include "platform/TextConv.h"
#include "platform/TimeFormat.h"

namespace corvan {
namespace {

TEST(TextConv, ConvertsByTheUnicodeEncodings) {
  // U+00E9 is C3 A9 in UTF-8; U+1F600 is F0 9F 98 80 and the pair D83D DE00.
  EXPECT_EQ(Utf8ToUtf16("\xC3\xA9"), std::u16string(1, char16_t(0x00E9)));
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), (std::u16string{char16_t(0xD83D), char16_t(0xDE00)}));
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xD83D), char16_t(0xDE00)}), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(u"\u65E5\u672C"), "\xE6\x97\xA5\xE6\x9C\xAC");
}

TEST(TextConv, BadInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong "/"
  EXPECT_EQ(Utf8ToUtf16("\xE6\x97"), u"\uFFFD");         // cut short
  // A sequence broken off by an ordinary character keeps that character.
  EXPECT_EQ(Utf8ToUtf16("\xE0" "A"), u"\uFFFDA");
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F" "ab"), u"\uFFFDab");
  EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xDC00), u'x'}), "\xEF\xBF\xBDx");
}

// Whether bytes are well-formed UTF-8 (RFC 3629): what an 8-bit archive name
// is taken as before it falls back to Windows-1252.
TEST(TextConv, Utf8TellsWhetherItWasWellFormed) {
  std::u16string out;
  EXPECT_TRUE(AppendUtf8(out, "\xF0\x9F\x98\x80 \xE2\x82\xAC"));
  EXPECT_EQ(out, u"\U0001F600 \u20AC");
  // Overlong, a surrogate, past U+10FFFF, cut off, a lone continuation, a 5-byte form.
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80", "\xF8\x88\x80\x80\x80"}) {
    out.clear();
    EXPECT_FALSE(AppendUtf8(out, bad)) << bad;
    EXPECT_NE(out.find(u'\uFFFD'), std::u16string::npos);
  }
  // A well-formed U+FFFD of its own is not a fault.
  out.clear();
  EXPECT_TRUE(AppendUtf8(out, "\xEF\xBF\xBD"));
}

TEST(TextConv, FoldsCaseBeyondAscii) {
  EXPECT_EQ(FoldCase(u'A'), u'a');
  EXPECT_EQ(FoldCase(char16_t(0x00C4)), char16_t(0x00E4));  // Ä -> ä
  EXPECT_EQ(FoldCase(char16_t(0x0416)), char16_t(0x0436));  // Cyrillic Zhe
  EXPECT_EQ(FoldCase(u'7'), u'7');
}

TEST(ByteCodec, FixedUtf16FieldsStopAtNulAndKeepOne) {
  std::uint8_t field[8];
  PutUtf16Field(field, 4, u"abcdef");
  // Three units kept, the fourth is the terminating NUL.
  const std::uint8_t expect[8] = {'a', 0, 'b', 0, 'c', 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(field, expect, 8));
  EXPECT_EQ(GetUtf16Field(field, 4), u"abc");
  const std::uint8_t full[4] = {'x', 0, 'y', 0};  // no NUL: the field's end ends it
  EXPECT_EQ(GetUtf16Field(full, 2), u"xy");
}

class TimeFormatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    SetClock([] { return std::time_t{1796632016}; });  // 2026-12-07 08:26:56 UTC
  }
  void TearDown() override { SetClock({}); }
};

TEST_F(TimeFormatTest, UsesTheInjectedClockAndTheCLocale) {
  EXPECT_EQ(Now(), 1796632016);
  EXPECT_EQ(FormatLogTime(Now()), " Dec 07 2026 , 08:26 AM");
  EXPECT_EQ(FormatNow("%d-%b-%Y"), "07-Dec-2026");
  EXPECT_EQ(FormatNow("_Log_%d-%b-%Y_%I %M %S %p.txt"), "_Log_07-Dec-2026_08 26 56 AM.txt");
}

TEST_F(TimeFormatTest, AfternoonIsPm) {
  EXPECT_EQ(FormatTime("%I:%M %p", 1796632016 + 6 * 3600), "02:26 PM");
}

}  // namespace
}  // namespace corvan
