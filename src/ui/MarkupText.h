#pragma once
// Texts with a few inline tags: <b>/<strong>, <i>/<em>, <u>, <sub>, <sup>,
// <font color=#RRGGBB>, <br>, <p> and <space=N>. The tokenizer and the
// layout are plain functions over a measuring interface; DrawMarkupText
// measures with Qt fonts and draws.

#include <QRect>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class QFont;
class QPainter;

namespace corvan {

enum MarkupToken : int {
  kMarkupEnd = -1,
  kMarkupWord = 0,
  kMarkupBold = 1,
  kMarkupBreak = 2,
  kMarkupFont = 3,
  kMarkupItalic = 4,
  kMarkupParagraph = 5,
  kMarkupSubscript = 6,
  kMarkupSuperscript = 7,
  kMarkupUnderline = 8,
  kMarkupSpace = 10,
  kMarkupClosing = 0x100,  // added to a tag's token for its closing form
};

// Style bits of the layout.
enum MarkupStyle : int {
  kStyleBold = 1,
  kStyleItalic = 2,
  kStyleUnderline = 4,
  kStyleSuperscript = 8,
  kStyleSubscript = 16,
};

// Format bits.
inline constexpr unsigned kDtWordBreak = 0x10;
inline constexpr unsigned kDtSingleLine = 0x20;
inline constexpr unsigned kDtCalcRect = 0x400;

// Reads the token at `pos` of `text`. White space before it is skipped
// (and recorded in `*leadingSpace` when that is false on entry); `token`
// receives the token's text and `pos` moves past it. A tag that eats white
// space (br, p) clears `*leadingSpace` and skips the white space after it;
// so does any tag that had white space before it. Returns the token, or
// kMarkupEnd when nothing is left.
int GetMarkupToken(std::u16string_view text, std::size_t& pos, std::u16string_view& token,
                   bool* leadingSpace);

// The colour of a "color=" value: an optional quote and "#", then six hex
// digits RRGGBB, read only as far as `value` goes (missing or invalid
// digits count 0). A COLORREF.
std::uint32_t ParseMarkupColor(std::u16string_view value);

// What the layout needs to know of the fonts.
class MarkupMetrics {
 public:
  virtual ~MarkupMetrics() = default;
  virtual int LineHeight() const = 0;
  virtual int SpaceWidth(int style) const = 0;
  virtual int WordWidth(std::u16string_view word, int style) const = 0;
};

struct PlacedWord {
  std::u16string text;
  int x = 0;  // from the layout's origin
  int y = 0;
  int width = 0;
  int style = 0;
  std::uint32_t colour = 0;  // COLORREF
  int spaceBefore = 0;       // width of an underlined space drawn before the word, 0 for none
};

struct MarkupLayout {
  std::vector<PlacedWord> words;
  int lastLineY = 0;  // vertical offset of the last line
  int widest = 0;     // widest x reached
  int lineHeight = 0;
};

// Lays `text` out in `width` pixels with `format` (wrap, single line).
MarkupLayout LayoutMarkup(std::u16string_view text, int width, unsigned format, const MarkupMetrics& metrics,
                          std::uint32_t baseColour);

// Draws (or with kDtCalcRect only measures) `text` with the painter's font
// and pen colour into `rect` (null: from (0, 0) across the device).
// Measuring sets the rectangle's right and bottom. Returns the vertical
// offset of the last line.
int DrawMarkupText(QPainter* painter, std::u16string_view text, QRect* rect, unsigned format);

// Measures with a base font: bold 700, italic, underline, sub- and
// superscript at 7/10 of the height.
class QtMarkupMetrics final : public MarkupMetrics {
 public:
  explicit QtMarkupMetrics(const QFont& base);
  ~QtMarkupMetrics() override;
  int LineHeight() const override;
  int SpaceWidth(int style) const override;
  int WordWidth(std::u16string_view word, int style) const override;
  const QFont& FontFor(int style) const;

 private:
  struct Impl;
  Impl* impl_;
};

}  // namespace corvan
