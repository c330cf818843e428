#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <string>
#include <vector>

#include "ui/MarkupText.h"
#include "ui/SharedLook.h"

namespace corvan {
namespace {

struct Tok {
  int token;
  std::u16string text;
  bool spaceBefore;
};

std::vector<Tok> Tokens(std::u16string_view text) {
  std::vector<Tok> out;
  std::size_t pos = 0;
  std::u16string_view tok;
  bool space = false;
  for (int t; (t = GetMarkupToken(text, pos, tok, &space)) != kMarkupEnd;) {
    out.push_back({t, std::u16string(tok), space});
    if (t == kMarkupWord) space = false;
  }
  return out;
}

TEST(MarkupTokenizer, TagsWordsAndClosingTags) {
  const auto t = Tokens(u"<b>Hello</b> <FONT color=#FF0000>World</font>");
  ASSERT_EQ(t.size(), 6u);
  EXPECT_EQ(t[0].token, kMarkupBold);
  EXPECT_EQ(t[0].text, u"<b>");
  EXPECT_EQ(t[1].token, kMarkupWord);
  EXPECT_EQ(t[1].text, u"Hello");
  EXPECT_EQ(t[2].token, kMarkupBold | kMarkupClosing);
  EXPECT_EQ(t[3].token, kMarkupFont);
  EXPECT_EQ(t[3].text, u"<FONT color=#FF0000>");
  EXPECT_EQ(t[4].token, kMarkupWord);
  EXPECT_TRUE(t[4].spaceBefore);  // the space before the font tag separates the words
  EXPECT_EQ(t[5].token, kMarkupFont | kMarkupClosing);
}

TEST(MarkupTokenizer, EveryTagOfTheTable) {
  const std::pair<std::u16string, int> tags[] = {
      {u"<b>", kMarkupBold},        {u"<strong>", kMarkupBold},    {u"<i>", kMarkupItalic},
      {u"<em>", kMarkupItalic},     {u"<u>", kMarkupUnderline},    {u"<sub>", kMarkupSubscript},
      {u"<sup>", kMarkupSuperscript}, {u"<br>", kMarkupBreak},     {u"<p>", kMarkupParagraph},
      {u"<space=12>", kMarkupSpace}, {u"</SUP>", kMarkupSuperscript | kMarkupClosing}};
  for (const auto& [text, token] : tags) {
    const auto t = Tokens(text);
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].token, token) << std::string(text.begin(), text.end());
  }
}

TEST(MarkupTokenizer, UnknownTagsAreWords) {
  for (std::u16string_view text : {u"<table>", u"<bogus>", u"<pre>", u"<b", u"<>"}) {
    const auto t = Tokens(text);
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t[0].token, kMarkupWord) << std::string(text.begin(), text.end());
  }
  EXPECT_EQ(Tokens(u"<table>")[0].text, u"<table>");
  // A tag without attributes must end at its name.
  EXPECT_EQ(Tokens(u"<b x>")[0].token, kMarkupWord);
}

TEST(MarkupTokenizer, BreaksEatTheWhiteSpaceAfterThem) {
  const auto t = Tokens(u"one <br>   two");
  ASSERT_EQ(t.size(), 3u);
  EXPECT_EQ(t[1].token, kMarkupBreak);
  EXPECT_FALSE(t[1].spaceBefore);
  EXPECT_FALSE(t[2].spaceBefore);
}

TEST(MarkupColour, SixHexDigitsReadOnlyWithinTheValue) {
  EXPECT_EQ(ParseMarkupColor(u"#FF0000"), 0x0000FFu);  // red, as a COLORREF
  EXPECT_EQ(ParseMarkupColor(u"'#00ff00'"), 0x00FF00u);
  EXPECT_EQ(ParseMarkupColor(u"\"#0000FF\""), 0xFF0000u);
  EXPECT_EQ(ParseMarkupColor(u"123456"), 0x563412u);
  EXPECT_EQ(ParseMarkupColor(u"#G10000"), 0x000001u);  // an invalid digit counts 0
  // Short values: the missing digits count 0 and nothing past the end is read.
  EXPECT_EQ(ParseMarkupColor(std::u16string_view(u"#12FFFF", 3)), 0x000012u);
  EXPECT_EQ(ParseMarkupColor(u"#"), 0u);
  EXPECT_EQ(ParseMarkupColor(u""), 0u);
}

// Every character 10 pixels wide (12 in bold), spaces 5, lines 20 high.
class FixedMetrics final : public MarkupMetrics {
 public:
  int LineHeight() const override { return 20; }
  int SpaceWidth(int) const override { return 5; }
  int WordWidth(std::u16string_view word, int style) const override {
    return static_cast<int>(word.size()) * ((style & kStyleBold) ? 12 : 10);
  }
};

MarkupLayout Layout(std::u16string_view text, int width = 1000, unsigned format = kDtWordBreak) {
  return LayoutMarkup(text, width, format, FixedMetrics(), 0x000000);
}

TEST(MarkupLayout, BoldWordThenRedWordOneSpaceApart) {
  const auto l = Layout(u"<b>Hello</b> <font color=#FF0000>World</font>");
  ASSERT_EQ(l.words.size(), 2u);
  EXPECT_EQ(l.words[0].style, kStyleBold);
  EXPECT_EQ(l.words[0].x, 0);
  EXPECT_EQ(l.words[0].width, 60);
  EXPECT_EQ(l.words[1].style, 0);
  EXPECT_EQ(l.words[1].x, 65);
  EXPECT_EQ(l.words[1].colour, 0x0000FFu);
  EXPECT_EQ(l.words[0].colour, 0x000000u);
  EXPECT_EQ(l.widest, 115);
}

TEST(MarkupLayout, SpaceTagMovesTheNextWord) {
  const auto l = Layout(u"<space=12>word");
  ASSERT_EQ(l.words.size(), 1u);
  EXPECT_EQ(l.words[0].x, 12);
}

TEST(MarkupLayout, ParagraphGapOnlyAfterTheFirstToken) {
  const auto l = Layout(u"<p>first<p>second<br>third");
  ASSERT_EQ(l.words.size(), 3u);
  EXPECT_EQ(l.words[0].y, 0);
  EXPECT_EQ(l.words[1].y, 30);
  EXPECT_EQ(l.words[1].x, 0);
  EXPECT_EQ(l.words[2].y, 50);
  EXPECT_EQ(l.lastLineY, 50);
  // On a single line breaks and paragraphs do nothing.
  const auto single = Layout(u"<p>first<p>second", 1000, kDtSingleLine);
  EXPECT_EQ(single.words[1].y, 0);
}

TEST(MarkupLayout, WordsWrapAndAWideWordStandsAloneUnsplit) {
  const auto l = Layout(u"ab averyveryverylongword cd", 50);
  ASSERT_EQ(l.words.size(), 3u);
  EXPECT_EQ(l.words[0].y, 0);
  EXPECT_EQ(l.words[1].y, 20);
  EXPECT_EQ(l.words[1].x, 0);
  EXPECT_EQ(l.words[1].text, u"averyveryverylongword");
  EXPECT_EQ(l.words[2].y, 40);
  // Without wrapping everything stays on one line.
  EXPECT_EQ(Layout(u"ab averyveryverylongword cd", 50, 0).lastLineY, 0);
  // Words joined by a tag are never separated.
  const auto joined = Layout(u"abcd<b>efgh</b>", 50);
  EXPECT_EQ(joined.words[1].y, 0);
  EXPECT_EQ(joined.words[1].x, 40);
}

TEST(MarkupLayout, ColourStackOfEight) {
  std::u16string text;
  const char16_t* colours[] = {u"000001", u"000002", u"000003", u"000004", u"000005",
                               u"000006", u"000007", u"000008", u"000009"};
  for (const char16_t* c : colours) text += std::u16string(u"<font color=#") + c + u">";
  text += u"nine</font>seven</font>six";
  const auto l = Layout(text);
  ASSERT_EQ(l.words.size(), 3u);
  EXPECT_EQ(l.words[0].colour, 0x090000u);
  // The ninth colour was not stacked: closing it restores the eighth's predecessor.
  EXPECT_EQ(l.words[1].colour, 0x070000u);
  EXPECT_EQ(l.words[2].colour, 0x060000u);
}

TEST(MarkupLayout, StrayClosingFontTagReturnsToTheBaseColour) {
  const auto l = LayoutMarkup(u"</font>a <font color=#00FF00>b</font></font>c", 1000, 0, FixedMetrics(), 0x123456);
  ASSERT_EQ(l.words.size(), 3u);
  EXPECT_EQ(l.words[0].colour, 0x123456u);
  EXPECT_EQ(l.words[1].colour, 0x00FF00u);
  EXPECT_EQ(l.words[2].colour, 0x123456u);
}

TEST(MarkupLayout, FontValueIsReadWithinItsTag) {
  // A short value must not take digits from the text after the tag.
  const auto l = Layout(u"<font color=#12>ABCDEF</font>");
  ASSERT_EQ(l.words.size(), 1u);
  EXPECT_EQ(l.words[0].colour, 0x000012u);
}

TEST(MarkupLayout, UnderlinedSpaceIsDrawnBeforeAnUnderlinedWord) {
  const auto l = Layout(u"<u>a b</u> c");
  ASSERT_EQ(l.words.size(), 3u);
  EXPECT_EQ(l.words[0].spaceBefore, 0);
  EXPECT_EQ(l.words[1].spaceBefore, 5);
  EXPECT_EQ(l.words[2].spaceBefore, 0);
}

TEST(DrawMarkupText, DrawsEachWordInItsColour) {
  QImage img(200, 40, QImage::Format_RGB32);
  img.fill(Qt::white);
  {
    QPainter p(&img);
    p.setFont(ArialFont(20, 700));
    p.setPen(Qt::black);
    QRect r(0, 0, 200, 40);
    DrawMarkupText(&p, u"<font color=#FF0000>WWW</font>", &r, 0);
  }
  int red = 0, black = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) {
      const QRgb c = img.pixel(x, y) & 0xFFFFFF;
      if (c == 0xFF0000) ++red;
      if (c == 0x000000) ++black;
    }
  EXPECT_GT(red, 20);
  EXPECT_EQ(black, 0);
}

TEST(DrawMarkupText, MeasuringSetsTheRectangle) {
  QImage img(10, 10, QImage::Format_RGB32);
  QPainter p(&img);
  p.setFont(ArialFont(16));
  const QtMarkupMetrics metrics(p.font());
  QRect r(5, 7, 300, 0);
  const int y = DrawMarkupText(&p, u"one<br>two three", &r, kDtWordBreak | kDtCalcRect);
  EXPECT_EQ(y, metrics.LineHeight());
  EXPECT_EQ(r.top(), 7);
  EXPECT_EQ(r.height(), 2 * metrics.LineHeight());
  const int twoThree = metrics.WordWidth(u"two", 0) + metrics.SpaceWidth(0) + metrics.WordWidth(u"three", 0);
  EXPECT_EQ(r.width(), std::max(twoThree, metrics.WordWidth(u"one", 0)));
  EXPECT_EQ(DrawMarkupText(nullptr, u"x", &r, 0), 0);
}

}  // namespace
}  // namespace corvan
