// Names from the disk as host path components.

#include <gtest/gtest.h>

#include "platform/TextConv.h"
#include "core/NameSanitiser.h"

namespace corvan {
namespace {

TEST(NameSanitiser, SafeNamesPassUnchanged) {
  for (const char16_t* name : {u"report.doc", u"A very long file name for testing_1.txt", u"file.with.dots_12.html",
                               u"sym-\u2605 4", u"...", u".hidden", u"a b", u"Mus\u00E9e"}) {
    const SanitisedName s = SanitiseName(std::u16string_view(name));
    EXPECT_FALSE(s.changed) << Utf16ToUtf8(name);
    EXPECT_EQ(s.name, Utf16ToUtf8(name));
  }
}

TEST(NameSanitiser, NamesThatWouldLeaveOrBreakTheFolderAreReplaced) {
  struct Case {
    std::u16string in;
    std::string out;
  };
  const Case cases[] = {
      {u"", "_"},          {u".", "_"},           {u"..", "__"},         {u"a/b", "a_b"},
      {u"../x", ".._x"},   {u"a\\b", "a_b"},      {std::u16string(u"n\0l", 3), "n_l"},
      {u"tab\there", "tab_here"}, {u"bell\x07", "bell_"}, {u"del\x7F", "del_"}, {u"c1\u0085x", "c1_x"},
  };
  for (const Case& c : cases) {
    const SanitisedName s = SanitiseName(std::u16string_view(c.in));
    EXPECT_EQ(s.name, c.out) << Utf16ToUtf8(c.in);
    EXPECT_TRUE(s.changed);
  }
  // A lone surrogate cannot be written as UTF-8: it becomes U+FFFD.
  const std::u16string broken{u'a', char16_t(0xD800), u'b'};
  EXPECT_EQ(SanitiseName(std::u16string_view(broken)).name, "a\xEF\xBF\xBD" "b");
  EXPECT_TRUE(SanitiseName(std::u16string_view(broken)).changed);
}

TEST(NameSanitiser, LongNamesAreCutAtACharacterBoundaryKeepingTheExtension) {
  // 300 bytes of two-byte characters, then an extension.
  std::u16string name(150, u'\u00E9');
  name += u".txt";
  const SanitisedName s = SanitiseName(std::u16string_view(name));
  EXPECT_TRUE(s.changed);
  EXPECT_LE(s.name.size(), kMaxNameBytes);
  EXPECT_GE(s.name.size(), kMaxNameBytes - 1);
  EXPECT_EQ(s.name.substr(s.name.size() - 4), ".txt");
  EXPECT_EQ(Utf8ToUtf16(s.name).substr(0, 10), name.substr(0, 10));  // still whole characters
  // Without a short extension the name is simply cut.
  const std::u16string plain(400, u'x');
  EXPECT_EQ(SanitiseName(std::u16string_view(plain)).name, std::string(kMaxNameBytes, 'x'));
  // Exactly 255 bytes is left alone.
  EXPECT_FALSE(SanitiseName(std::u16string_view(std::u16string(255, u'y'))).changed);
}

TEST(NameSanitiser, TheCutAt255BytesNeverSplitsACharacter) {
  // A character whose UTF-8 bytes would cross byte 255 is left out whole.
  struct Case {
    std::u16string name;
    std::string out;
  };
  const std::string e2 = "\xC3\xA9";              // U+00E9, 2 bytes
  const std::string e3 = "\xE2\x82\xAC";          // U+20AC, 3 bytes
  const std::string e4 = "\xF0\x9F\x98\x80";      // U+1F600, 4 bytes (a surrogate pair in UTF-16)
  const std::u16string c2 = u"\u00E9", c3 = u"\u20AC", c4 = u"\U0001F600";
  const Case cases[] = {
      // Bytes 255 and 256 hold the character: the name ends at 254.
      {std::u16string(254, u'a') + c2 + u"zz", std::string(254, 'a')},
      // A character that ends exactly at byte 255 stays.
      {std::u16string(253, u'a') + c2 + u"zz", std::string(253, 'a') + e2},
      {std::u16string(253, u'a') + c3 + u"z", std::string(253, 'a')},
      {std::u16string(254, u'a') + c3, std::string(254, 'a')},
      {std::u16string(252, u'a') + c3 + u"z", std::string(252, 'a') + e3},
      {std::u16string(252, u'a') + c4 + u"z", std::string(252, 'a')},
      {std::u16string(254, u'a') + c4, std::string(254, 'a')},
      {std::u16string(251, u'a') + c4 + u"z", std::string(251, 'a') + e4},
      // With an extension the stem is cut at 255 - 4 bytes.
      {std::u16string(250, u'a') + c2 + u"bb.txt", std::string(250, 'a') + ".txt"},
      {std::u16string(249, u'a') + c3 + u"bb.txt", std::string(249, 'a') + ".txt"},
      {std::u16string(247, u'a') + c4 + u"bb.txt", std::string(247, 'a') + e4 + ".txt"},
      {std::u16string(248, u'a') + c4 + u"bb.txt", std::string(248, 'a') + ".txt"},
  };
  for (const Case& c : cases) {
    const SanitisedName s = SanitiseName(std::u16string_view(c.name));
    EXPECT_EQ(s.name, c.out) << c.out.size();
    EXPECT_TRUE(s.changed);
    EXPECT_LE(s.name.size(), kMaxNameBytes);
  }
  // 255 bytes that end in a 4-byte character are left alone.
  const std::u16string exact = std::u16string(251, u'a') + c4;
  EXPECT_EQ(SanitiseName(std::u16string_view(exact)).name, std::string(251, 'a') + e4);
  EXPECT_FALSE(SanitiseName(std::u16string_view(exact)).changed);
}

TEST(NameSanitiser, SanitisingTwiceChangesNothingMore) {
  for (const std::u16string& name : {std::u16string(u".."), std::u16string(u"a/b\x01"), std::u16string(300, u'\u20AC'),
                                     std::u16string(u"ok.txt")}) {
    const std::string once = SanitiseName(std::u16string_view(name)).name;
    const SanitisedName twice = SanitiseName(std::string_view(once));
    EXPECT_EQ(twice.name, once);
    EXPECT_FALSE(twice.changed);
  }
}

TEST(NameSanitiser, PathsAndLogLines) {
  EXPECT_EQ(JoinSanitisedPath({u"..", u"a/b", u"f.txt"}), "__/a_b/f.txt");
  EXPECT_EQ(JoinSanitisedPath({}), "");
  EXPECT_EQ(LogSafeName(u"a\nb\x1B[31m"), "a\\x0Ab\\x1B[31m");
  EXPECT_EQ(LogSafeName(u"a/b"), "a/b");
}

}  // namespace
}  // namespace corvan
