#pragma once
// LZNT1, the compression of NTFS compressed files: a sequence of chunks,
// each with a 16-bit header, each decoding to at most 4096 bytes. One decoder
// serves every reader of compressed data.

#include <cstdint>

namespace corvan {

// Decodes `input` into `output`. On entry `length` holds the output capacity,
// on return the bytes decoded (the zeros that pad a short compressed chunk to
// 4096 bytes are written but not counted). True when the input ended
// normally, at a zero chunk header or with the output full; false when it is
// malformed, with the bytes decoded before the fault kept and counted. Never
// writes outside [output, output + capacity).
bool DecompressLznt1(const std::uint8_t* input, std::uint32_t inputLength, std::uint8_t* output,
                     std::uint32_t& length);

}  // namespace corvan
