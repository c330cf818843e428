#include "platform/ByteCodec.h"

#include <algorithm>
#include <cstring>

namespace corvan {

std::u16string GetUtf16Field(const std::uint8_t* p, std::size_t units) {
  std::u16string out;
  for (std::size_t i = 0; i < units; ++i) {
    const char16_t c = static_cast<char16_t>(GetLE16(p + 2 * i));
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

void PutUtf16Field(std::uint8_t* p, std::size_t units, std::u16string_view text) {
  std::memset(p, 0, units * 2);
  if (units == 0) return;
  const std::size_t n = std::min(text.size(), units - 1);
  for (std::size_t i = 0; i < n; ++i) PutLE16(p + 2 * i, static_cast<std::uint16_t>(text[i]));
}

std::string GetAsciiField(const std::uint8_t* p, std::size_t bytes) {
  std::size_t n = 0;
  while (n < bytes && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

void PutAsciiField(std::uint8_t* p, std::size_t bytes, std::string_view text) {
  std::memset(p, 0, bytes);
  if (bytes == 0) return;
  const std::size_t n = std::min(text.size(), bytes - 1);
  std::memcpy(p, text.data(), n);
}

}  // namespace corvan
