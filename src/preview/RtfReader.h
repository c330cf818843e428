#pragma once
// Reads the common part of Rich Text Format into paragraphs of formatted
// runs: fonts and colours, bold, italic, underline, strike-through, sizes,
// super- and subscript, alignment and indents, Unicode and code-page text,
// tabs, line breaks, table cells (as tabs) and field results. Pictures,
// objects, headers, footers and every destination it does not know are
// skipped. The bytes are untrusted: nesting, numbers and \bin lengths are
// bounded and nothing is read past the end.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace corvan {

struct RtfCharFormat {
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool strike = false;
  std::int8_t vertical = 0;        // 1 superscript, -1 subscript
  std::uint16_t halfPoints = 24;   // \fs: size in half points
  int font = -1;                   // index into RtfDocument::fonts, -1 none
  int colour = 0;                  // \cf: index into colours, 0 automatic
  int background = 0;              // \highlight or \cb, 0 none

  bool operator==(const RtfCharFormat&) const = default;
};

enum class RtfAlign : std::uint8_t { Left, Centre, Right, Justify };

struct RtfParaFormat {
  RtfAlign align = RtfAlign::Left;
  std::int32_t leftIndent = 0;   // twips
  std::int32_t rightIndent = 0;
  std::int32_t firstIndent = 0;
  std::int32_t spaceBefore = 0;
  std::int32_t spaceAfter = 0;

  bool operator==(const RtfParaFormat&) const = default;
};

struct RtfRun {
  std::u16string text;
  RtfCharFormat format;
};

struct RtfParagraph {
  std::vector<RtfRun> runs;
  RtfParaFormat format;
};

struct RtfFont {
  int number = 0;  // \fN
  std::string name;
  int charset = 0;
};

struct RtfColour {
  std::uint8_t red = 0, green = 0, blue = 0;
  bool automatic = true;  // an entry without components
};

struct RtfDocument {
  std::vector<RtfFont> fonts;
  std::vector<RtfColour> colours;
  std::vector<RtfParagraph> paragraphs;

  // The text, paragraphs separated by '\n'.
  std::u16string PlainText() const;
  // No character of text at all.
  bool Empty() const;
};

// False when `data` is not RTF (it must begin with "{\rtf", after white
// space); otherwise whatever could be read, even of a damaged file.
bool ParseRtf(std::span<const std::uint8_t> data, RtfDocument& out);

}  // namespace corvan
