// The RTF reader: text, formatting and the destinations it skips, on the
// sample letter and on hand-made documents, and bytes that are no fair RTF.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "preview/RtfReader.h"
#include "support/PreviewSamples.h"
#include "support/TestSupport.h"

namespace corvan {
namespace {

std::span<const std::uint8_t> Bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

RtfDocument Parse(std::string_view s) {
  RtfDocument doc;
  EXPECT_TRUE(ParseRtf(Bytes(s), doc));
  return doc;
}

TEST(RtfReader, TheSampleLetterReadsAsWritten) {
  std::string why;
  const auto dir = test::PreviewSamplesDir(&why);
  if (dir.empty()) GTEST_SKIP() << why;
  const std::string letter = test::ReadWholeFile(dir / "files" / "letter.rtf");
  const RtfDocument doc = Parse(letter);
  // Its text as make-preview-samples wrote it: the generator's group and the
  // picture are skipped, \'e9 is Windows-1252, \u8364 stands for its "?".
  EXPECT_EQ(doc.PlainText(), u"Recovered letter\nDear reader, this is italic, underlined and red text.\n"
                             u"Caf\u00e9 \u20ac and a tab:\tend.\nLast line.");
  ASSERT_EQ(doc.fonts.size(), 2u);
  EXPECT_EQ(doc.fonts[0].name, "Arial");
  EXPECT_EQ(doc.fonts[1].name, "Times New Roman");
  ASSERT_EQ(doc.colours.size(), 3u);
  EXPECT_TRUE(doc.colours[0].automatic);
  EXPECT_EQ(doc.colours[1].red, 255);
  ASSERT_EQ(doc.paragraphs.size(), 4u);
  // The title: centred, bold, 16 points.
  const RtfParagraph& title = doc.paragraphs[0];
  EXPECT_EQ(title.format.align, RtfAlign::Centre);
  ASSERT_FALSE(title.runs.empty());
  EXPECT_TRUE(title.runs[0].format.bold);
  EXPECT_EQ(title.runs[0].format.halfPoints, 32);
  // The body: its runs carry italic, underline and the red colour.
  bool italic = false, underline = false, red = false;
  for (const RtfRun& r : doc.paragraphs[1].runs) {
    italic |= r.format.italic && r.text == u"italic";
    underline |= r.format.underline && r.text == u"underlined";
    red |= r.format.colour == 1 && r.text == u"red";
    EXPECT_FALSE(r.format.bold);
  }
  EXPECT_TRUE(italic && underline && red);
  EXPECT_EQ(doc.paragraphs[2].runs[0].format.font, 1);
}

TEST(RtfReader, UnicodeCodePagesAndSpecialCharacters) {
  // \uc2 skips two fallback characters; a negative \u is a code unit above 0x7FFF.
  EXPECT_EQ(Parse(R"({\rtf1\uc2 A\u1071??B{\uc1\u-4064?}C})").PlainText(), u"A\u042FB\uF020C");
  // A font's charset picks its code page: 204 is Cyrillic (Windows-1251).
  EXPECT_EQ(Parse(R"({\rtf1{\fonttbl{\f0\fcharset204 Arial Cyr;}}\f0 \'c0\'e1})").PlainText(), u"\u0410\u0431");
  // \ansicpg sets the document's page; Windows-1250 0x8A is Š.
  EXPECT_EQ(Parse(R"({\rtf1\ansi\ansicpg1250 \'8a})").PlainText(), u"\u0160");
  // Escaped braces and backslash, non-breaking space, dashes, quotes, a line break.
  EXPECT_EQ(Parse(R"({\rtf1 \{x\}\\\~\emdash\endash\lquote\rdblquote\line y})").PlainText(),
            u"{x}\\\u00a0\u2014\u2013\u2018\u201d\u2028y");
  // Table cells become tabs, rows paragraphs.
  EXPECT_EQ(Parse(R"({\rtf1\trowd a\cell b\cell\row c})").PlainText(), u"a\tb\t\nc");
  // A field shows its result, not its instruction; hidden text is not shown.
  EXPECT_EQ(Parse(R"({\rtf1{\field{\*\fldinst HYPERLINK "x"}{\fldrslt link}} {\v secret}shown})").PlainText(),
            u"link shown");
}

TEST(RtfReader, RefusesWhatIsNotRtfAndSurvivesHostileBytes) {
  RtfDocument doc;
  EXPECT_FALSE(ParseRtf(Bytes("plain text"), doc));
  EXPECT_FALSE(ParseRtf(Bytes(""), doc));
  EXPECT_FALSE(ParseRtf(Bytes("{\\rt"), doc));
  EXPECT_TRUE(ParseRtf(Bytes("\r\n  {\\rtf1 ok}"), doc));
  EXPECT_EQ(doc.PlainText(), u"ok");
  // An empty document has no text: the pane falls back to hex.
  EXPECT_TRUE(Parse("{\\rtf1\\par\\par}").Empty());

  // Nesting far deeper than the reader keeps: read, and the text kept.
  std::string deep = "{\\rtf1 ";
  deep += std::string(200000, '{') + "deep" + std::string(200000, '}') + " after}";
  EXPECT_EQ(Parse(deep).PlainText(), u"deep after");
  // Unbalanced closing braces, a \bin longer than the data, cut-off escapes
  // and numbers: nothing is read past the end.
  EXPECT_EQ(Parse("{\\rtf1 a}}}}} b").PlainText(), u"a b");
  EXPECT_EQ(Parse("{\\rtf1 x\\bin99999999999 yyy").PlainText(), u"x");
  EXPECT_EQ(Parse("{\\rtf1 x\\'4").PlainText(), u"x");
  EXPECT_EQ(Parse("{\\rtf1 x\\fs99999999999999999999 y}").paragraphs[0].runs.back().format.halfPoints, 3276);
  EXPECT_EQ(Parse("{\\rtf1 x\\").PlainText(), u"x");
  EXPECT_EQ(Parse("{\\rtf1 \\u").PlainText(), u"");
}

}  // namespace
}  // namespace corvan
