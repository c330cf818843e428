#pragma once
// Pieces of the tar format that both the carving step's check of a tar
// header and the archive listing of the previews read.

#include <cstddef>
#include <cstdint>
#include <optional>

namespace corvan::tar {

inline constexpr std::size_t kBlock = 512;

// An octal field: leading spaces, then digits up to the first other byte.
// A field whose first byte has its high bit set holds a big-endian binary
// number instead (sizes and times too large for the digits); a negative
// one (first byte 0xFF) or one past 64 bits has no value.
inline std::optional<std::uint64_t> ParseNumber(const std::uint8_t* field, std::size_t width) {
  if (field[0] & 0x80) {
    if (field[0] == 0xFF) return std::nullopt;
    std::uint64_t v = field[0] & 0x7F;
    for (std::size_t i = 1; i < width; ++i) {
      if (v >> 56) return std::nullopt;
      v = (v << 8) | field[i];
    }
    return v;
  }
  std::size_t i = 0;
  while (i < width && field[i] == ' ') ++i;
  std::uint64_t v = 0;
  for (; i < width && field[i] >= '0' && field[i] <= '7'; ++i) v = v * 8 + (field[i] - '0');
  return v;
}

// Whether the header block `h` (`kBlock` bytes) holds its own checksum: the
// sum of its bytes, the checksum field counted as spaces.
inline bool ChecksumMatches(const std::uint8_t* h) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < kBlock; ++i) sum += (i >= 148 && i < 156) ? ' ' : h[i];
  const auto stored = ParseNumber(h + 148, 8);
  return stored && *stored == sum;
}

}  // namespace corvan::tar
