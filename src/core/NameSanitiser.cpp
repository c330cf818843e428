#include "core/NameSanitiser.h"

#include <cstdio>

#include "platform/TextConv.h"

namespace corvan {

namespace {

bool IsForbidden(char32_t c) {
  return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F) || c == U'/' || c == U'\\';
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// Code points of well-formed UTF-8 (the converter's output always is).
std::vector<char32_t> Decode(std::string_view s) {
  std::vector<char32_t> out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    int n = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (i + n > s.size()) n = static_cast<int>(s.size() - i);
    char32_t c = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
    for (int k = 1; k < n; ++k) c = (c << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(c);
    i += static_cast<std::size_t>(n);
  }
  return out;
}

// Longest prefix of `s` of at most `limit` bytes that ends on a character boundary.
std::size_t CutPoint(const std::string& s, std::size_t limit) {
  if (s.size() <= limit) return s.size();
  std::size_t cut = limit;
  while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
  return cut;
}

std::string Clean(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (const char32_t c : Decode(utf8)) AppendUtf8(out, IsForbidden(c) ? U'_' : c);
  if (out.empty()) return "_";
  if (out == ".") return "_";
  if (out == "..") return "__";
  if (out.size() <= kMaxNameBytes) return out;
  // Too long: keep a short extension and cut the stem.
  const std::size_t dot = out.rfind('.');
  if (dot != std::string::npos && dot > 0 && out.size() - dot <= 16) {
    const std::string ext = out.substr(dot);
    const std::string stem = out.substr(0, dot);
    return stem.substr(0, CutPoint(stem, kMaxNameBytes - ext.size())) + ext;
  }
  return out.substr(0, CutPoint(out, kMaxNameBytes));
}

}  // namespace

SanitisedName SanitiseName(std::u16string_view name) {
  SanitisedName result;
  result.name = Clean(Utf16ToUtf8(name));
  result.changed = Utf8ToUtf16(result.name) != name;
  return result;
}

SanitisedName SanitiseName(std::string_view utf8Name) {
  // Through UTF-16 so malformed UTF-8 is repaired the same way.
  return SanitiseName(Utf8ToUtf16(utf8Name));
}

std::string JoinSanitisedPath(const std::vector<std::u16string>& components) {
  std::string path;
  for (const std::u16string& c : components) {
    if (!path.empty()) path += '/';
    path += SanitiseName(c).name;
  }
  return path;
}

std::string LogSafeName(std::u16string_view name) {
  std::string out;
  for (const char32_t c : Decode(Utf16ToUtf8(name))) {
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned>(c));
      out += hex;
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

}  // namespace corvan
