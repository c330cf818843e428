#pragma once
// Little- and big-endian field access over byte buffers, and fixed-size
// UTF-16LE text fields. Every stored record is encoded and decoded through
// these, so no struct is ever copied to or from disk as it lies in memory.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace corvan {

inline std::uint16_t GetLE16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetLE32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t GetLE64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(GetLE32(p)) | (static_cast<std::uint64_t>(GetLE32(p + 4)) << 32);
}
inline std::uint16_t GetBE16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t GetBE32(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline std::uint64_t GetBE64(const std::uint8_t* p) {
  return (static_cast<std::uint64_t>(GetBE32(p)) << 32) | GetBE32(p + 4);
}

inline void PutLE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutLE64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutBE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * (3 - i)));
}

// Reads a UTF-16LE text field of `units` code units; the text ends at the
// first NUL or at the end of the field, whichever comes first.
std::u16string GetUtf16Field(const std::uint8_t* p, std::size_t units);

// Writes `text` into a UTF-16LE field of `units` code units, zero-filled.
// At most units-1 units are kept so the field always ends with a NUL.
void PutUtf16Field(std::uint8_t* p, std::size_t units, std::u16string_view text);

// Reads a NUL-terminated single-byte text field of `bytes` bytes.
std::string GetAsciiField(const std::uint8_t* p, std::size_t bytes);
// Writes a single-byte text field, zero-filled, always NUL-terminated.
void PutAsciiField(std::uint8_t* p, std::size_t bytes, std::string_view text);

}  // namespace corvan
