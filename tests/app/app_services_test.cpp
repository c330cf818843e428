#include <gtest/gtest.h>

#include <array>

#include "core/AppServices.h"
#include "app/CORVANApp.h"
#include "core/StringTable.h"
#include "preview/PreviewKinds.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

TEST(FormatSize, PowersOf1024WithTwoDecimals) {
  EXPECT_EQ(FormatSize(0), "0.00 bytes");
  EXPECT_EQ(FormatSize(1023), "1023.00 bytes");
  EXPECT_EQ(FormatSize(1024), "1.00 KB");
  EXPECT_EQ(FormatSize(1536), "1.50 KB");
  EXPECT_EQ(FormatSize((1ULL << 20) - 1), "1024.00 KB");  // rounds, stays in KB
  EXPECT_EQ(FormatSize(1ULL << 20), "1.00 MB");
  EXPECT_EQ(FormatSize(1ULL << 30), "1.00 GB");
  EXPECT_EQ(FormatSize(3ULL << 40), "3072.00 GB");
}

TEST(MatchFileMasks, EmptyListSavesEverythingInBothModes) {
  EXPECT_TRUE(MatchFileMasks(u"a.txt", {}, 0));
  EXPECT_TRUE(MatchFileMasks(u"a.txt", {}, 1));
}

TEST(MatchFileMasks, IncludeAndExcludeModes) {
  const std::vector<std::u16string> masks{u"*.doc", u"report.txt"};
  EXPECT_TRUE(MatchFileMasks(u"letter.DOC", masks, 0));
  EXPECT_FALSE(MatchFileMasks(u"letter.DOC", masks, 1));
  EXPECT_FALSE(MatchFileMasks(u"photo.jpg", masks, 0));
  EXPECT_TRUE(MatchFileMasks(u"photo.jpg", masks, 1));
}

TEST(MatchFileMask, StarPartsAcceptAnyTextIncludingNone) {
  EXPECT_TRUE(MatchFileMask(u"a.txt", u"*.*"));
  EXPECT_TRUE(MatchFileMask(u"README", u"*.*"));
  EXPECT_TRUE(MatchFileMask(u"archive.tar.gz", u"*.*"));
  EXPECT_TRUE(MatchFileMask(u"name.anything", u"name.*"));
  EXPECT_TRUE(MatchFileMask(u"name", u"name.*"));
  EXPECT_FALSE(MatchFileMask(u"other.txt", u"name.*"));
  EXPECT_TRUE(MatchFileMask(u"anything", u"*"));
  // Whatever follows a "*" in its part is dropped.
  EXPECT_TRUE(MatchFileMask(u"x.txt", u"*abc.txt"));
  // "*.txt" needs an extension that begins with txt.
  EXPECT_TRUE(MatchFileMask(u"notes.TXT", u"*.txt"));
  EXPECT_FALSE(MatchFileMask(u"notes", u"*.txt"));
  EXPECT_FALSE(MatchFileMask(u"notes.tx", u"*.txt"));
}

TEST(MatchFileMask, PrefixRuleAndQuestionMarks) {
  // Characters beyond the pattern are not examined.
  EXPECT_TRUE(MatchFileMask(u"abcd.txt", u"abc.txt"));
  EXPECT_TRUE(MatchFileMask(u"abc.txt1", u"abc.txt"));
  EXPECT_FALSE(MatchFileMask(u"ab.txt", u"abc.txt"));
  // The name part is compared with the whole name from its first character.
  EXPECT_TRUE(MatchFileMask(u"abc.txt", u"abc"));
  EXPECT_TRUE(MatchFileMask(u"a1c.txt", u"a?c.txt"));
  // "?" also accepts a position beyond the end of the name.
  EXPECT_TRUE(MatchFileMask(u"ab", u"ab??"));
  EXPECT_FALSE(MatchFileMask(u"abc.t", u"abc.t?t"));
  EXPECT_FALSE(MatchFileMask(u"abc", u"abc.txt"));
  EXPECT_FALSE(MatchFileMask(u"abc.txt", u""));
}

TEST(MatchFileMask, UnicodeWithoutCase) {
  EXPECT_TRUE(MatchFileMask(u"\u00C4RGER.txt", u"\u00E4rger.TXT"));
  EXPECT_TRUE(MatchFileMask(u"\u65E5\u672C.doc", u"\u65E5?.doc"));
  EXPECT_FALSE(MatchFileMask(u"\u65E5\u672C.doc", u"\u672C*.doc"));
}

TEST(ReadSectorFromFile, ReadsTheNtfsBootSectorOfTheCorpus) {
  std::array<std::uint8_t, 512> sector{};
  ASSERT_TRUE(ReadSectorFromFile(0, sector, test::CorpusDir() / "ntfs.img"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(sector.data()) + 3, 8), "NTFS    ");
  EXPECT_EQ(sector[510], 0x55);
  EXPECT_EQ(sector[511], 0xAA);
  EXPECT_EQ(sector[11] | (sector[12] << 8), 512);  // bytes per sector
}

TEST(ReadSectorFromFile, MissingFileLeavesTheBufferAndPastTheEndIsZeroedAndFails) {
  test::TempDir dir;
  std::array<std::uint8_t, 512> sector;
  sector.fill(0xCC);
  EXPECT_FALSE(ReadSectorFromFile(0, sector, dir / "missing.vmdk"));
  EXPECT_EQ(sector[0], 0xCC);
  EXPECT_EQ(sector[511], 0xCC);

  test::WriteWholeFile(dir / "short.img", std::string(600, 'x'));
  EXPECT_FALSE(ReadSectorFromFile(1, sector, dir / "short.img"));
  EXPECT_EQ(sector[87], 'x');
  EXPECT_EQ(sector[88], 0);
  EXPECT_EQ(sector[511], 0);
  EXPECT_FALSE(ReadSectorFromFile(5, sector, dir / "short.img"));
  EXPECT_EQ(sector[0], 0);
}

TEST(StringTable, HoldsTheProgramsTexts) {
  EXPECT_EQ(LoadString(102), "Halvard Vantrel Virtual Machine Data Recovery");
  EXPECT_EQ(LoadString(116), "Entries Found");
  EXPECT_EQ(LoadString(360), "Can't exit while searching critical information.\nPlease wait...");
  EXPECT_EQ(LoadString(1), "");
  EXPECT_FALSE(HasString(1));
}

TEST(IconKeys, SixtyKeysInTheirPlaces) {
  const auto& keys = IconKeyTable();
  EXPECT_EQ(keys[0], u"Fol");
  EXPECT_EQ(keys[3], u"DelFile");
  EXPECT_EQ(keys[4], u".asm");
  EXPECT_EQ(keys[13], u".c");
  EXPECT_EQ(keys[55], u".zip");
  EXPECT_EQ(keys[56], u"unknown");
  EXPECT_EQ(keys[59], u"reserve4");
}

}  // namespace
}  // namespace corvan
