#include "preview/RtfReader.h"

#include "preview/TextDecode.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <string_view>

namespace corvan {

namespace {

// Deeper groups are read as part of the deepest one kept.
constexpr std::size_t kMaxDepth = 256;
constexpr int kDefaultCodePage = 1252;

enum class Destination : std::uint8_t { Text, Skip, FontTable, ColourTable };

struct GroupState {
  RtfCharFormat chr;
  RtfParaFormat para;
  Destination dest = Destination::Text;
  int uc = 1;          // bytes that follow a \u as its fallback
  bool hidden = false; // \v: text not shown
  int fontNumber = -1; // \f of this group (the font table's entry being read, or the text's font)
};

bool IsSkippedDestination(std::string_view word) {
  static constexpr std::string_view kSkipped[] = {
      "stylesheet", "info",      "pict",       "object",     "header",    "headerl",   "headerr",   "headerf",
      "footer",     "footerl",   "footerr",    "footerf",    "footnote",  "listtable", "listoverridetable",
      "rsidtbl",    "generator", "xmlnstbl",   "themedata",  "colorschememapping", "latentstyles", "datastore",
      "filetbl",    "revtbl",    "pgdsctbl",   "fldinst",    "nonshppict", "shppict",  "template",  "userprops",
      "docvar",     "xe",        "tc",         "txe",        "pn",        "bkmkstart", "bkmkend",   "ftnsep",
      "ftnsepc",    "aftnsep",   "aftnsepc",   "mmathPr",    "atnid",     "atnauthor", "annotation", "comment",
      "operator",   "author",    "title",      "subject",    "keywords",  "doccomm",   "company",   "category"};
  return std::find(std::begin(kSkipped), std::end(kSkipped), word) != std::end(kSkipped);
}

class Parser {
 public:
  Parser(std::span<const std::uint8_t> data, RtfDocument& doc) : data_(data), doc_(doc) {}

  void Run() {
    stack_.push_back(GroupState{});
    doc_.paragraphs.emplace_back();
    while (pos_ < data_.size()) {
      const std::uint8_t c = data_[pos_++];
      switch (c) {
        case '{': Push(); break;
        case '}': Pop(); break;
        case '\\': ControlWord(); break;
        case '\r':
        case '\n': break;  // line ends in the file are not text
        default: Byte(c); break;
      }
    }
    Flush();
    // A last paragraph left empty by a closing \par is no paragraph.
    if (doc_.paragraphs.size() > 1 && doc_.paragraphs.back().runs.empty()) doc_.paragraphs.pop_back();
  }

 private:
  GroupState& Top() { return stack_.back(); }

  void Push() {
    Flush();
    if (stack_.size() >= kMaxDepth) {
      ++excessDepth_;
      return;
    }
    stack_.push_back(Top());
  }

  void Pop() {
    Flush();
    if (excessDepth_ > 0) {
      --excessDepth_;
      return;
    }
    if (stack_.size() > 1) {
      const Destination closed = Top().dest;
      stack_.pop_back();
      if (closed == Destination::FontTable && Top().dest != Destination::FontTable) {
        EndFontEntry();
        // Text before any \f is in the document's default font.
        for (GroupState& g : stack_)
          if (g.chr.font < 0) g.chr.font = FontIndex(defaultFont_);
      }
    }
    skipBytes_ = 0;
  }

  int CodePage() {
    const GroupState& s = Top();
    if (s.chr.font >= 0 && s.chr.font < static_cast<int>(doc_.fonts.size())) {
      const int page = CodePageOfCharset(doc_.fonts[static_cast<std::size_t>(s.chr.font)].charset);
      if (page != 0) return page;
    }
    return codePage_;
  }

  void Byte(std::uint8_t c) {
    if (skipBytes_ > 0) {
      --skipBytes_;
      return;
    }
    switch (Top().dest) {
      case Destination::Skip: return;
      case Destination::FontTable:
        if (c == ';') {
          EndFontEntry();
        } else if (fontEntry_ >= 0 && fontName_.size() < 256) {
          fontName_.push_back(static_cast<char>(c));
        }
        return;
      case Destination::ColourTable:
        if (c == ';') {
          doc_.colours.push_back(colour_);
          colour_ = RtfColour{};
        }
        return;
      case Destination::Text:
        if (c == 0 || Top().hidden) return;
        if (pendingPage_ != CodePage()) Flush();
        pendingPage_ = CodePage();
        pending_.push_back(static_cast<char>(c));
        return;
    }
  }

  // Decodes the bytes waiting for their code page into the current run.
  void Flush() {
    if (pending_.empty()) return;
    std::u16string text;
    decoder_.Append(text, pending_, pendingPage_);
    pending_.clear();
    Text(text);
  }

  void Text(std::u16string_view text) {
    if (text.empty() || Top().dest != Destination::Text || Top().hidden) return;
    RtfParagraph& p = doc_.paragraphs.back();
    if (p.runs.empty()) p.format = Top().para;
    if (p.runs.empty() || !(p.runs.back().format == Top().chr)) p.runs.push_back(RtfRun{{}, Top().chr});
    p.runs.back().text.append(text);
  }

  void Char(char16_t c) {
    Flush();
    Text(std::u16string_view(&c, 1));
  }

  void Paragraph() {
    Flush();
    if (Top().dest != Destination::Text) return;
    // The properties in force at its end are the paragraph's.
    doc_.paragraphs.back().format = Top().para;
    doc_.paragraphs.emplace_back();
  }

  void EndFontEntry() {
    if (fontEntry_ < 0) return;
    RtfFont f;
    f.number = fontEntry_;
    f.name = fontName_;
    while (!f.name.empty() && f.name.back() == ' ') f.name.pop_back();
    while (!f.name.empty() && f.name.front() == ' ') f.name.erase(f.name.begin());
    f.charset = fontCharset_;
    doc_.fonts.push_back(std::move(f));
    fontEntry_ = -1;
    fontName_.clear();
    fontCharset_ = 0;
  }

  int FontIndex(int number) const {
    for (std::size_t i = 0; i < doc_.fonts.size(); ++i)
      if (doc_.fonts[i].number == number) return static_cast<int>(i);
    return -1;
  }

  void ControlWord() {
    if (pos_ >= data_.size()) return;
    const std::uint8_t c = data_[pos_];
    if (!IsAlpha(c)) {
      ++pos_;
      ControlSymbol(c);
      return;
    }
    const std::size_t start = pos_;
    while (pos_ < data_.size() && pos_ - start < 32 && IsAlpha(data_[pos_])) ++pos_;
    const std::string_view word(reinterpret_cast<const char*>(data_.data()) + start, pos_ - start);
    bool hasParam = false;
    bool negative = false;
    std::int64_t param = 0;
    if (pos_ < data_.size() && data_[pos_] == '-' && pos_ + 1 < data_.size() && IsDigit(data_[pos_ + 1])) {
      negative = true;
      ++pos_;
    }
    const std::size_t digits = pos_;
    while (pos_ < data_.size() && IsDigit(data_[pos_])) {
      if (pos_ - digits < 10) param = param * 10 + (data_[pos_] - '0');
      ++pos_;
      hasParam = true;
    }
    if (pos_ < data_.size() && data_[pos_] == ' ') ++pos_;  // the delimiter
    param = std::clamp<std::int64_t>(negative ? -param : param, INT32_MIN, INT32_MAX);
    const bool starred = starred_;
    starred_ = false;
    Word(word, hasParam, static_cast<std::int32_t>(param), starred);
  }

  void ControlSymbol(std::uint8_t c) {
    // "\*": the destination that follows is skipped unless it is known.
    starred_ = c == '*';
    switch (c) {
      case '\'': {
        if (pos_ + 2 > data_.size()) {
          pos_ = data_.size();
          return;
        }
        const int hi = HexValue(data_[pos_]);
        const int lo = HexValue(data_[pos_ + 1]);
        pos_ += 2;
        if (hi < 0 || lo < 0) return;
        Byte(static_cast<std::uint8_t>(hi * 16 + lo));
        return;
      }
      case '\\':
      case '{':
      case '}': Byte(c); return;
      case '~': Char(0x00A0); return;
      case '_': Char(0x2011); return;
      case '-': return;  // optional hyphen
      case '\r':
      case '\n': Paragraph(); return;  // "\" at a line end is \par
      case '\t': Char(u'\t'); return;
      default: return;
    }
  }

  static bool IsAlpha(std::uint8_t c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
  static bool IsDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }

  static int HexValue(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  void Word(std::string_view w, bool hasParam, std::int32_t p, bool starred) {
    GroupState& s = Top();
    const bool on = !hasParam || p != 0;
    // Destinations.
    if (w == "fonttbl") {
      Flush();
      s.dest = Destination::FontTable;
      return;
    }
    if (w == "colortbl") {
      Flush();
      s.dest = Destination::ColourTable;
      colour_ = RtfColour{};
      return;
    }
    if (IsSkippedDestination(w) || (starred && w != "fldrslt")) {
      Flush();
      s.dest = Destination::Skip;
      return;
    }
    if (w == "bin") {
      // Binary data of a picture or object: never text.
      const std::uint64_t n = hasParam && p > 0 ? static_cast<std::uint64_t>(p) : 0;
      pos_ += static_cast<std::size_t>(std::min<std::uint64_t>(n, data_.size() - pos_));
      return;
    }
    if (s.dest == Destination::FontTable) {
      if (w == "f" && hasParam) {
        EndFontEntry();
        fontEntry_ = p;
      } else if (w == "fcharset" && hasParam) {
        fontCharset_ = p;
      }
      return;
    }
    if (s.dest == Destination::ColourTable) {
      const auto level = static_cast<std::uint8_t>(std::clamp(p, 0, 255));
      if (w == "red") colour_.red = level, colour_.automatic = false;
      else if (w == "green") colour_.green = level, colour_.automatic = false;
      else if (w == "blue") colour_.blue = level, colour_.automatic = false;
      return;
    }
    if (s.dest == Destination::Skip) return;

    if (w == "u" && hasParam) {
      Char(static_cast<char16_t>(static_cast<std::uint16_t>(p)));
      skipBytes_ = s.uc;
      return;
    }
    Flush();
    if (w == "par" || w == "sect" || w == "page" || w == "row") return Paragraph();
    if (w == "line") return Char(0x2028);
    if (w == "tab" || w == "cell") return Char(u'\t');
    if (w == "emdash") return Char(0x2014);
    if (w == "endash") return Char(0x2013);
    if (w == "bullet") return Char(0x2022);
    if (w == "lquote") return Char(0x2018);
    if (w == "rquote") return Char(0x2019);
    if (w == "ldblquote") return Char(0x201C);
    if (w == "rdblquote") return Char(0x201D);
    if (w == "emspace") return Char(0x2003);
    if (w == "enspace") return Char(0x2002);
    if (w == "qmspace") return Char(0x2005);
    if (w == "zwj") return Char(0x200D);
    if (w == "zwnj") return Char(0x200C);
    if (w == "uc") {
      s.uc = std::clamp(p, 0, 16);
    } else if (w == "ansicpg" && hasParam && p > 0) {
      codePage_ = p;
    } else if (w == "mac") {
      codePage_ = 10000;
    } else if (w == "pc") {
      codePage_ = 437;
    } else if (w == "pca") {
      codePage_ = 850;
    } else if (w == "deff" && hasParam) {
      defaultFont_ = p;
    } else if (w == "plain") {
      s.chr = RtfCharFormat{};
      s.chr.font = FontIndex(defaultFont_);
    } else if (w == "pard") {
      s.para = RtfParaFormat{};
    } else if (w == "f" && hasParam) {
      s.chr.font = FontIndex(p);
    } else if (w == "fs" && hasParam) {
      s.chr.halfPoints = static_cast<std::uint16_t>(std::clamp(p, 1, 3276));
    } else if (w == "b") {
      s.chr.bold = on;
    } else if (w == "i") {
      s.chr.italic = on;
    } else if (w == "ulnone") {
      s.chr.underline = false;
    } else if (w.substr(0, 2) == "ul" && w != "ulc") {
      s.chr.underline = on;
    } else if (w == "strike" || w == "striked") {
      s.chr.strike = on;
    } else if (w == "super") {
      s.chr.vertical = 1;
    } else if (w == "sub") {
      s.chr.vertical = -1;
    } else if (w == "nosupersub") {
      s.chr.vertical = 0;
    } else if (w == "cf" && hasParam) {
      s.chr.colour = std::max(0, p);
    } else if ((w == "highlight" || w == "cb" || w == "chcbpat") && hasParam) {
      s.chr.background = std::max(0, p);
    } else if (w == "ql") {
      s.para.align = RtfAlign::Left;
    } else if (w == "qc") {
      s.para.align = RtfAlign::Centre;
    } else if (w == "qr") {
      s.para.align = RtfAlign::Right;
    } else if (w == "qj") {
      s.para.align = RtfAlign::Justify;
    } else if (w == "li") {
      s.para.leftIndent = p;
    } else if (w == "ri") {
      s.para.rightIndent = p;
    } else if (w == "fi") {
      s.para.firstIndent = p;
    } else if (w == "sb") {
      s.para.spaceBefore = p;
    } else if (w == "sa") {
      s.para.spaceAfter = p;
    } else if (w == "v") {
      s.hidden = on;
    }
  }

  std::span<const std::uint8_t> data_;
  RtfDocument& doc_;
  std::size_t pos_ = 0;
  std::vector<GroupState> stack_;
  std::size_t excessDepth_ = 0;
  bool starred_ = false;
  int skipBytes_ = 0;
  int codePage_ = kDefaultCodePage;
  int defaultFont_ = 0;
  std::string pending_;
  int pendingPage_ = kDefaultCodePage;
  CodePageDecoder decoder_;
  int fontEntry_ = -1;
  std::string fontName_;
  int fontCharset_ = 0;
  RtfColour colour_;
};

}  // namespace

std::u16string RtfDocument::PlainText() const {
  std::u16string out;
  for (std::size_t i = 0; i < paragraphs.size(); ++i) {
    if (i) out.push_back(u'\n');
    for (const RtfRun& r : paragraphs[i].runs) out += r.text;
  }
  return out;
}

bool RtfDocument::Empty() const {
  for (const RtfParagraph& p : paragraphs)
    for (const RtfRun& r : p.runs)
      if (!r.text.empty()) return false;
  return true;
}

bool ParseRtf(std::span<const std::uint8_t> data, RtfDocument& out) {
  out = RtfDocument{};
  std::size_t start = 0;
  while (start < data.size() && (data[start] == ' ' || data[start] == '\t' || data[start] == '\r' ||
                                 data[start] == '\n'))
    ++start;
  static constexpr char kMagic[] = "{\\rtf";
  if (data.size() - start < 5 || std::memcmp(data.data() + start, kMagic, 5) != 0) return false;
  Parser(data.subspan(start), out).Run();
  return true;
}

}  // namespace corvan
