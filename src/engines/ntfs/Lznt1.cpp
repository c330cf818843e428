#include "engines/ntfs/Lznt1.h"

#include <cstring>

namespace corvan {

namespace {
constexpr std::uint32_t kChunk = 4096;
}

bool DecompressLznt1(const std::uint8_t* input, std::uint32_t inputLength, std::uint8_t* output,
                     std::uint32_t& length) {
  const std::uint32_t capacity = length;
  std::uint32_t decoded = 0;
  std::uint32_t outPos = 0;  // start of the current chunk's window
  std::uint32_t inPos = 0;
  length = 0;
  while (inPos < inputLength) {
    // A lone byte cannot hold a header: the input simply ends.
    if (inputLength - inPos < 2) break;
    const std::uint16_t header = static_cast<std::uint16_t>(input[inPos] | (input[inPos + 1] << 8));
    if (header == 0 || outPos >= capacity) break;
    const std::uint32_t chunkEnd = inPos + (header & 0x0FFFu) + 3;
    if (capacity - outPos < kChunk || chunkEnd > inputLength) {
      length = decoded;
      return false;
    }
    std::uint8_t* window = output + outPos;
    std::uint32_t p = 0;  // bytes written in this chunk
    std::uint32_t in = inPos + 2;
    if ((header & 0x8000u) == 0) {
      // Stored chunk: always a full 4096 bytes.
      if (chunkEnd - in != kChunk) {
        length = decoded;
        return false;
      }
      std::memcpy(window, input + in, kChunk);
      decoded += kChunk;
    } else {
      while (in < chunkEnd) {
        const std::uint8_t flags = input[in++];
        for (int bit = 0; bit < 8 && in < chunkEnd; ++bit) {
          if ((flags & (1u << bit)) == 0) {
            if (p >= kChunk) {
              length = decoded;
              return false;
            }
            window[p++] = input[in++];
            ++decoded;
            continue;
          }
          if (chunkEnd - in < 2 || p == 0) {
            length = decoded;
            return false;
          }
          const std::uint16_t token = static_cast<std::uint16_t>(input[in] | (input[in + 1] << 8));
          in += 2;
          unsigned shift = 0;
          for (std::uint32_t i = p - 1; i >= 16; i >>= 1) ++shift;
          const std::uint32_t copyLength = (token & (0x0FFFu >> shift)) + 3;
          const std::uint32_t offset = (static_cast<std::uint32_t>(token) >> (12 - shift)) + 1;
          if (offset > p || copyLength > kChunk - p) {
            length = decoded;
            return false;
          }
          std::uint8_t* dst = window + p;
          const std::uint8_t* src = dst - offset;
          if (offset >= copyLength) {
            std::memcpy(dst, src, copyLength);
          } else {
            for (std::uint32_t k = 0; k < copyLength; ++k) dst[k] = src[k];  // repeats a short pattern
          }
          p += copyLength;
          decoded += copyLength;
        }
      }
      std::memset(window + p, 0, kChunk - p);
    }
    outPos += kChunk;
    inPos = chunkEnd;
  }
  length = decoded;
  return true;
}

}  // namespace corvan
