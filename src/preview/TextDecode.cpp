#include "preview/TextDecode.h"

#include <iconv.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <vector>

#include "platform/TextConv.h"
#include "preview/PreviewKinds.h"

namespace corvan {

namespace {

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Windows-1252's 0x80-0x9F; the rest of the page is Latin-1.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

void AppendCp1252(std::u16string& out, std::string_view bytes) {
  for (unsigned char b : bytes) out.push_back(b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : char16_t{b});
}

void AppendLatin1(std::u16string& out, std::string_view bytes) {
  for (unsigned char b : bytes) out.push_back(char16_t{b});
}

}  // namespace

namespace {

void Convert(iconv_t cd, std::u16string& out, std::string_view bytes) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  std::string in(bytes);
  char* inp = in.data();
  std::size_t inLeft = in.size();
  std::vector<char> buffer(std::min<std::size_t>(in.size() * 4 + 8, 1u << 20));
  while (inLeft > 0) {
    char* outp = buffer.data();
    std::size_t outLeft = buffer.size();
    const std::size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    const std::size_t produced = buffer.size() - outLeft;
    for (std::size_t i = 0; i + 1 < produced; i += 2)
      out.push_back(static_cast<char16_t>(static_cast<unsigned char>(buffer[i]) |
                                          static_cast<unsigned char>(buffer[i + 1]) << 8));
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;  // the buffer was full: go on
      if (inLeft == 0) break;
      // A byte the charset does not map, or a cut-off sequence: one mark.
      out.push_back(0xFFFD);
      ++inp;
      --inLeft;
    }
  }
}

}  // namespace

int CodePageOfCharset(int charset) {
  switch (charset) {
    case 0: return 1252;
    case 77: return 10000;
    case 128: return 932;
    case 129: return 949;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    default: return 0;
  }
}

CodePageDecoder::~CodePageDecoder() {
  for (auto& [name, cd] : converters_)
    if (cd != kNoConverter) iconv_close(static_cast<iconv_t>(cd));
}

void* CodePageDecoder::Converter(const std::string& name) {
  const auto it = converters_.find(name);
  if (it != converters_.end()) return it->second;
  iconv_t cd = iconv_open("UTF-16LE", name.c_str());
  converters_[name] = cd;
  return cd;
}

void CodePageDecoder::Append(std::u16string& out, std::string_view bytes, int codePage) {
  if (bytes.empty()) return;
  if (codePage == 1252) return AppendCp1252(out, bytes);
  if (codePage == 28591) return AppendLatin1(out, bytes);
  if (codePage == 65001) {
    AppendUtf8(out, bytes);
    return;
  }
  void* cd = Converter(codePage == 10000 ? "MACINTOSH" : "CP" + std::to_string(codePage));
  if (cd == kNoConverter) return AppendLatin1(out, bytes);
  Convert(static_cast<iconv_t>(cd), out, bytes);
}

void CodePageDecoder::Append(std::u16string& out, std::string_view bytes, std::string_view charset) {
  const std::string name = AsciiLower(charset);
  if (name.empty() || name == "utf-8" || name == "utf8" || name == "us-ascii" || name == "ascii") {
    AppendUtf8(out, bytes);
    return;
  }
  if (name == "windows-1252" || name == "cp1252") return AppendCp1252(out, bytes);
  // Web pages that say Latin-1 mean Windows-1252.
  if (name == "iso-8859-1" || name == "latin1" || name == "iso8859-1") return AppendCp1252(out, bytes);
  void* cd = Converter(name);
  if (cd == kNoConverter) {
    AppendUtf8(out, bytes);
    return;
  }
  Convert(static_cast<iconv_t>(cd), out, bytes);
}

std::u16string DecodeText(std::string_view bytes, std::string_view charset) {
  std::u16string out;
  CodePageDecoder decoder;
  decoder.Append(out, bytes, charset);
  return out;
}

std::u16string DecodeUtf8OrCp1252(std::string_view bytes, bool cutShort) {
  const std::string_view whole = bytes;
  if (cutShort) {
    // Back over continuation bytes to the last lead byte; drop it and them
    // when the sequence it starts needs more than is left.
    std::size_t lead = bytes.size();
    while (lead > 0 && bytes.size() - lead < 3 && (static_cast<unsigned char>(bytes[lead - 1]) & 0xC0) == 0x80) --lead;
    if (lead > 0) {
      const auto b = static_cast<unsigned char>(bytes[lead - 1]);
      const std::size_t need = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
      if (need > bytes.size() - lead + 1) bytes = bytes.substr(0, lead - 1);
    }
  }
  std::u16string out;
  if (AppendUtf8(out, bytes)) return out;
  out.clear();
  AppendCp1252(out, whole);
  return out;
}

std::string HtmlCharset(std::span<const std::uint8_t> page) {
  if (page.size() >= 3 && page[0] == 0xEF && page[1] == 0xBB && page[2] == 0xBF) return "utf-8";
  if (page.size() >= 2 && page[0] == 0xFF && page[1] == 0xFE) return "utf-16le";
  if (page.size() >= 2 && page[0] == 0xFE && page[1] == 0xFF) return "utf-16be";
  const std::string head = AsciiLower(std::string_view(reinterpret_cast<const char*>(page.data()),
                                                  std::min<std::size_t>(page.size(), 4096)));
  for (std::size_t at = head.find("<meta"); at != std::string::npos; at = head.find("<meta", at + 5)) {
    const std::size_t end = head.find('>', at);
    const std::string tag = head.substr(at, end == std::string::npos ? std::string::npos : end - at);
    const std::size_t cs = tag.find("charset");
    if (cs == std::string::npos) continue;
    std::size_t v = cs + 7;
    while (v < tag.size() && (tag[v] == ' ' || tag[v] == '=' || tag[v] == '"' || tag[v] == '\'')) ++v;
    std::size_t e = v;
    while (e < tag.size() && (std::isalnum(static_cast<unsigned char>(tag[e])) || tag[e] == '-' || tag[e] == '_' ||
                              tag[e] == ':' || tag[e] == '.'))
      ++e;
    if (e > v) return tag.substr(v, e - v);
  }
  return {};
}

}  // namespace corvan
