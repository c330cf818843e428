#include "ui/MarkupText.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPaintDevice>
#include <QString>
#include <array>
#include <optional>

#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {

struct TagEntry {
  std::u16string_view name;
  int token;
  bool attributes;
  bool eatsWhiteSpace;
};

constexpr std::array<TagEntry, 11> kTags = {{
    {u"b", kMarkupBold, false, false},
    {u"br", kMarkupBreak, false, true},
    {u"em", kMarkupItalic, false, false},
    {u"font", kMarkupFont, true, false},
    {u"i", kMarkupItalic, false, false},
    {u"p", kMarkupParagraph, false, true},
    {u"strong", kMarkupBold, false, false},
    {u"sub", kMarkupSubscript, false, false},
    {u"sup", kMarkupSuperscript, false, false},
    {u"u", kMarkupUnderline, false, false},
    {u"space", kMarkupSpace, false, false},
}};

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f' || c == u'\v'; }

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

// The table entry a tag name stands for. Names match whole; "space" may
// carry its value ("space=12").
const TagEntry* FindTag(std::u16string_view name) {
  for (auto it = kTags.rbegin(); it != kTags.rend(); ++it) {
    if (SameName(name, it->name)) return &*it;
    if (it->token == kMarkupSpace && name.size() > it->name.size() &&
        SameName(name.substr(0, it->name.size()), it->name) && name[it->name.size()] == u'=')
      return &*it;
  }
  return nullptr;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return 0;
}

}  // namespace

int GetMarkupToken(std::u16string_view text, std::size_t& pos, std::u16string_view& token, bool* leadingSpace) {
  const std::size_t n = text.size();
  if (leadingSpace && !*leadingSpace && pos < n && IsSpace(text[pos])) *leadingSpace = true;
  const bool spaceBefore = leadingSpace ? *leadingSpace : false;
  while (pos < n && IsSpace(text[pos])) ++pos;
  if (pos >= n) {
    token = {};
    return kMarkupEnd;
  }
  const std::size_t start = pos;
  const auto wordFrom = [&](std::size_t from) {
    std::size_t end = from;
    while (end < n && !IsSpace(text[end]) && text[end] != u'<') ++end;
    return end;
  };

  int result = kMarkupWord;
  std::size_t end = 0;
  bool eats = false;
  if (text[start] != u'<') {
    end = wordFrom(start);
  } else {
    const bool closing = start + 1 < n && text[start + 1] == u'/';
    const std::size_t nameStart = start + 1 + (closing ? 1 : 0);
    std::size_t nameEnd = nameStart;
    while (nameEnd < n && !IsSpace(text[nameEnd]) && text[nameEnd] != u'<' && text[nameEnd] != u'>') ++nameEnd;
    const TagEntry* tag = FindTag(text.substr(nameStart, nameEnd - nameStart));
    if (tag && tag->attributes && !closing) {
      end = nameEnd;
      while (end < n && text[end] != u'<' && text[end] != u'>') ++end;
      if (end < n && text[end] == u'>') ++end;
      result = tag->token;
    } else if (tag && nameEnd < n && text[nameEnd] == u'>') {
      end = nameEnd + 1;
      result = tag->token + (closing ? kMarkupClosing : 0);
    } else {
      tag = nullptr;
      end = wordFrom(start + 1);
    }
    if (tag && tag->eatsWhiteSpace) {
      eats = true;
      if (leadingSpace) *leadingSpace = false;
    }
  }
  token = text.substr(start, end - start);
  pos = end;
  // White space after a tag that eats it, or after a tag that white space
  // already preceded, adds nothing: skip it. After a word it separates the
  // next word and stays.
  if (result != kMarkupWord && (eats || spaceBefore))
    while (pos < n && IsSpace(text[pos])) ++pos;
  return result;
}

std::uint32_t ParseMarkupColor(std::u16string_view value) {
  std::size_t i = 0;
  if (i < value.size() && (value[i] == u'"' || value[i] == u'\'')) ++i;
  if (i < value.size() && value[i] == u'#') ++i;
  std::array<int, 6> d{};
  for (std::size_t k = 0; k < d.size() && i + k < value.size(); ++k) d[k] = HexDigit(value[i + k]);
  const std::uint32_t r = static_cast<std::uint32_t>(d[0] * 16 + d[1]);
  const std::uint32_t g = static_cast<std::uint32_t>(d[2] * 16 + d[3]);
  const std::uint32_t b = static_cast<std::uint32_t>(d[4] * 16 + d[5]);
  return r | (g << 8) | (b << 16);
}

namespace {

// The value of a tag's attribute text after "name", when it begins with
// `attribute` ("color="); nothing otherwise.
std::optional<std::u16string_view> AttributeValue(std::u16string_view tagText, std::u16string_view tagName,
                                                  std::u16string_view attribute) {
  std::size_t i = 1 + tagName.size();  // past "<" and the name
  while (i < tagText.size() && IsSpace(tagText[i])) ++i;
  std::u16string_view rest = tagText.substr(std::min(i, tagText.size()));
  if (!rest.empty() && rest.back() == u'>') rest.remove_suffix(1);
  if (rest.size() < attribute.size() || !SameName(rest.substr(0, attribute.size()), attribute))
    return std::nullopt;
  return rest.substr(attribute.size());
}

int SpaceTagPixels(std::u16string_view tagText) {
  const std::size_t eq = tagText.find(u'=');
  if (eq == std::u16string_view::npos) return 0;
  int v = 0;
  for (std::size_t i = eq + 1; i < tagText.size() && tagText[i] >= u'0' && tagText[i] <= u'9'; ++i) {
    v = v * 10 + (tagText[i] - u'0');
    if (v > 100000) break;  // no layout is that wide
  }
  return v;
}

void SetBit(int& style, int bit, bool on) { style = on ? (style | bit) : (style & ~bit); }

}  // namespace

MarkupLayout LayoutMarkup(std::u16string_view text, int width, unsigned format, const MarkupMetrics& metrics,
                          std::uint32_t baseColour) {
  MarkupLayout out;
  out.lineHeight = metrics.LineHeight();
  width = std::max(width, 0);
  const bool singleLine = (format & kDtSingleLine) != 0;
  const bool wrap = (format & kDtWordBreak) != 0;

  // Colours pushed by nested font tags; the bottom entry starts as the
  // base colour, so a stray closing tag returns to it.
  std::array<std::uint32_t, 8> stack{};
  stack.fill(baseColour);
  int depth = 0;
  std::uint32_t colour = baseColour;

  int style = 0;
  int x = 0, y = 0;
  bool first = true;
  std::size_t pos = 0;
  std::u16string_view tok;
  bool spaceBefore = false;
  for (;;) {
    const int t = GetMarkupToken(text, pos, tok, &spaceBefore);
    if (t == kMarkupEnd) break;
    const bool closing = (t & kMarkupClosing) != 0;
    switch (t & ~kMarkupClosing) {
      case kMarkupBold: SetBit(style, kStyleBold, !closing); break;
      case kMarkupItalic: SetBit(style, kStyleItalic, !closing); break;
      case kMarkupUnderline: SetBit(style, kStyleUnderline, !closing); break;
      case kMarkupSuperscript: SetBit(style, kStyleSuperscript, !closing); break;
      case kMarkupSubscript: SetBit(style, kStyleSubscript, !closing); break;
      case kMarkupBreak:
        if (!closing && !singleLine) {
          y += out.lineHeight;
          x = 0;
        }
        break;
      case kMarkupParagraph:
        if (!closing && !singleLine) {
          if (!first) y += out.lineHeight * 3 / 2;
          x = 0;
        }
        break;
      case kMarkupFont:
        if (!closing) {
          if (const auto value = AttributeValue(tok, u"font", u"color=")) {
            if (depth < static_cast<int>(stack.size())) stack[static_cast<std::size_t>(depth++)] = colour;
            colour = ParseMarkupColor(*value);
          }
        } else {
          if (depth > 0) --depth;
          colour = stack[static_cast<std::size_t>(depth)];
        }
        break;
      case kMarkupSpace: x += SpaceTagPixels(tok); break;
      case kMarkupWord: {
        const int spaceWidth = metrics.SpaceWidth(style);
        const bool white = spaceBefore;
        spaceBefore = false;
        if (white) x += spaceWidth;
        const int wordWidth = metrics.WordWidth(tok, style);
        if (wrap && white) {
          if (wordWidth > width) width = wordWidth;
          if (x + wordWidth > width) {
            y += out.lineHeight;
            x = 0;
          }
        }
        PlacedWord w;
        w.text = std::u16string(tok);
        w.x = x;
        w.y = y;
        w.width = wordWidth;
        w.style = style;
        w.colour = colour;
        w.spaceBefore = ((style & kStyleUnderline) && white && x > 0) ? spaceWidth : 0;
        out.words.push_back(std::move(w));
        x += wordWidth;
        out.widest = std::max(out.widest, x);
        break;
      }
      default: break;
    }
    first = false;
  }
  out.lastLineY = y;
  return out;
}

// ---- Qt side ----

struct QtMarkupMetrics::Impl {
  QFont base;
  mutable std::array<std::optional<QFont>, 32> fonts;
};

QtMarkupMetrics::QtMarkupMetrics(const QFont& base) : impl_(new Impl{base, {}}) {}
QtMarkupMetrics::~QtMarkupMetrics() { delete impl_; }

const QFont& QtMarkupMetrics::FontFor(int style) const {
  auto& slot = impl_->fonts[static_cast<std::size_t>(style & 31)];
  if (!slot) {
    QFont f = impl_->base;
    if (style != 0) {
      f.setWeight((style & kStyleBold) ? QFont::Bold : QFont::Normal);
      f.setItalic((style & kStyleItalic) != 0);
      f.setUnderline((style & kStyleUnderline) != 0);
      if (style & (kStyleSubscript | kStyleSuperscript)) {
        if (f.pixelSize() > 0) f.setPixelSize(std::max(1, f.pixelSize() * 7 / 10));
        else f.setPointSizeF(f.pointSizeF() * 7 / 10);
      }
    }
    slot = f;
  }
  return *slot;
}

int QtMarkupMetrics::LineHeight() const { return QFontMetrics(impl_->base).height(); }
int QtMarkupMetrics::SpaceWidth(int style) const {
  return QFontMetrics(FontFor(style)).horizontalAdvance(QLatin1Char(' '));
}
int QtMarkupMetrics::WordWidth(std::u16string_view word, int style) const {
  return QFontMetrics(FontFor(style)).horizontalAdvance(ToQString(word));
}

int DrawMarkupText(QPainter* painter, std::u16string_view text, QRect* rect, unsigned format) {
  if (!painter || text.data() == nullptr) return 0;
  QPoint origin(0, 0);
  int width = painter->device() ? painter->device()->width() : 0;
  if (rect) {
    origin = rect->topLeft();
    width = std::max(rect->width(), 0);
  }
  painter->save();
  const QtMarkupMetrics metrics(painter->font());
  const QColor base = painter->pen().color();
  const MarkupLayout layout = LayoutMarkup(text, width, format, metrics, ToColorRef(base));
  if (!(format & kDtCalcRect)) {
    for (const PlacedWord& w : layout.words) {
      painter->setFont(metrics.FontFor(w.style));
      painter->setPen(FromColorRef(w.colour));
      const QRect line(origin.x() + w.x, origin.y() + w.y, w.width + 1, layout.lineHeight);
      const int align = (w.style & kStyleSubscript) ? (Qt::AlignLeft | Qt::AlignBottom)
                                                    : (Qt::AlignLeft | Qt::AlignTop);
      if (w.spaceBefore > 0)
        painter->drawText(line.translated(-w.spaceBefore, 0), align | Qt::TextSingleLine, QStringLiteral(" "));
      painter->drawText(line, align | Qt::TextSingleLine, ToQString(std::u16string_view(w.text)));
    }
  }
  painter->restore();
  if ((format & kDtCalcRect) && rect) {
    rect->setRight(rect->left() + layout.widest - 1);
    if (rect->top() >= 0) rect->setBottom(rect->top() + layout.lastLineY + layout.lineHeight - 1);
    else rect->setBottom(rect->top() - layout.lastLineY - layout.lineHeight - 1);
  }
  return layout.lastLineY;
}

}  // namespace corvan
