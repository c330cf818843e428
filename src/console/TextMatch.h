#pragma once
// Comparing names as find and the file mask do: exactly, or with the ASCII
// letters A-Z and a-z alike; every other character (all of UTF-16 beyond
// ASCII included) compares exactly.

#include <algorithm>
#include <string_view>

namespace corvan {

inline char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

inline bool CharsEqual(char16_t a, char16_t b, bool matchCase) {
  return matchCase ? a == b : FoldAscii(a) == FoldAscii(b);
}

inline bool TextsEqual(std::u16string_view a, std::u16string_view b, bool matchCase) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [matchCase](char16_t x, char16_t y) { return CharsEqual(x, y, matchCase); });
}

}  // namespace corvan
