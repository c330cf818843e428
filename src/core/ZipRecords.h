#pragma once
// Pieces of the ZIP format that both the carving step's archive analysis and
// the archive listing of the previews read.

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/ByteCodec.h"

namespace corvan::zip {

// A 32-bit size field that is all ones has its value in the zip64 extra field.
inline constexpr std::uint32_t kZip32Max = 0xFFFFFFFF;

// The zip64 extra field (id 1) holds, in this order, each of the
// uncompressed and compressed sizes whose 32-bit field is all ones.
inline void ReadZip64Sizes(std::span<const std::uint8_t> extra, std::uint64_t& unpacked, std::uint64_t& packed) {
  std::size_t at = 0;
  while (extra.size() - at >= 4) {
    const std::uint16_t id = GetLE16(&extra[at]);
    const std::size_t len = GetLE16(&extra[at + 2]);
    at += 4;
    if (len > extra.size() - at) return;
    if (id == 1) {
      std::size_t field = at;
      const std::size_t fieldEnd = at + len;
      if (unpacked == kZip32Max && fieldEnd - field >= 8) {
        unpacked = GetLE64(&extra[field]);
        field += 8;
      }
      if (packed == kZip32Max && fieldEnd - field >= 8) packed = GetLE64(&extra[field]);
      return;
    }
    at += len;
  }
}

}  // namespace corvan::zip
