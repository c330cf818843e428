#pragma once
// A disk in memory for the format analysers: a file placed at a sector with
// garbage around it, read as a volume would be; and headers crafted to claim
// more than any test volume holds.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/FileAnalysers.h"

namespace corvan::test {

using Bytes = std::vector<std::uint8_t>;

// Reads past the end fail and leave zeros; `abortAfter` reads in, Stop is
// asked. `bytesRead` counts what the analysers asked for: the measure of
// their work.
class MemoryReader final : public CarveReader {
 public:
  explicit MemoryReader(Bytes bytes, bool aborted = false) : bytes_(std::move(bytes)), aborted_(aborted) {}
  bool Read(std::uint64_t sector, void* buffer, std::size_t n) override {
    ++reads;
    bytesRead += n;
    largestRead = std::max(largestRead, n);
    std::memset(buffer, 0, n);
    if (sector >= bytes_.size() / 512 + 1) return false;
    const std::uint64_t at = sector * 512;
    if (at >= bytes_.size()) return false;
    const std::size_t have = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes_.size() - at));
    std::memcpy(buffer, bytes_.data() + at, have);
    return have == n;
  }
  bool Aborted() const override { return aborted_ || reads > abortAfter; }

  std::size_t largestRead = 0, reads = 0, abortAfter = SIZE_MAX;
  std::uint64_t bytesRead = 0;

 private:
  Bytes bytes_;
  bool aborted_;
};

// An MPEG-2 pack header as the systems layer lays it out: the 33-bit system
// clock reference `scr` in pieces with marker bits between them, no clock
// extension, a mux rate of 25,200, and `stuffing` bytes (at most 7).
inline Bytes MpegPack2(std::uint64_t scr, std::uint8_t stuffing = 0) {
  Bytes b = {0, 0, 1, 0xBA,
             static_cast<std::uint8_t>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03)),
             static_cast<std::uint8_t>(scr >> 20),
             static_cast<std::uint8_t>(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03)),
             static_cast<std::uint8_t>(scr >> 5),
             static_cast<std::uint8_t>(((scr << 3) & 0xF8) | 0x04),
             0x01,
             0x01, 0x89, 0xC3,  // mux rate 25200, two markers
             static_cast<std::uint8_t>(0xF8 | stuffing)};
  b.insert(b.end(), stuffing, 0xFF);
  return b;
}

// The disk ends at the sector boundary after the file.
inline constexpr long kVolumeEnd = -1;

// A disk with the file at `sector` and `tail` bytes after it, garbage around
// it that steps by 7 from byte to byte: it holds no marker a walk stops at.
inline Bytes DiskWith(const Bytes& file, std::uint64_t sector, long tail) {
  if (tail < 0) tail = static_cast<long>((512 - file.size() % 512) % 512);
  Bytes disk(sector * 512 + file.size() + static_cast<std::size_t>(tail));
  for (std::size_t i = 0; i < disk.size(); ++i) disk[i] = static_cast<std::uint8_t>(i * 7 + 3);
  std::copy(file.begin(), file.end(), disk.begin() + static_cast<std::ptrdiff_t>(sector * 512));
  return disk;
}

// Headers as their formats define them whose sizes claim about 4 GiB, far
// more than the volumes of the tests hold.

inline void PutLe(std::string& s, std::size_t at, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
inline void PutBe(std::string& s, std::size_t at, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * (bytes - 1 - i)));
}

// A RAR (1.5 to 4.x) archive: the marker block, the main header (type 0x73,
// 13 bytes), one file header (type 0x74, a long block) naming "a" whose
// packed data, ADD_SIZE, is `packed` bytes long.
inline std::string RarHeader(std::uint32_t packed) {
  std::string r("Rar!\x1A\x07\x00", 7);
  std::string main(13, '\0');
  main[2] = 0x73;
  PutLe(main, 5, 13, 2);
  std::string file(33, '\0');
  file[2] = 0x74;
  PutLe(file, 3, 0x8000, 2);   // ADD_SIZE present
  PutLe(file, 5, 33, 2);       // HEAD_SIZE, the name included
  PutLe(file, 7, packed, 4);   // PACK_SIZE
  PutLe(file, 11, packed, 4);  // UNP_SIZE
  file[15] = 2;                // HOST_OS: Windows
  file[25] = 29;               // UNP_VER
  file[26] = 0x30;             // METHOD: stored
  PutLe(file, 27, 1, 2);       // NAME_SIZE
  file[32] = 'a';
  return r + main + file;
}

// A RIFF AVI whose first chunk, a LIST, says it is `listSize` bytes long.
inline std::string AviHeader(std::uint32_t listSize) {
  std::string a = "RIFF....AVI LIST....hdrlavih";
  PutLe(a, 4, 0xFFFFFFFFu, 4);
  PutLe(a, 16, listSize, 4);
  return a + std::string(56, '\0');
}

// A Sun AU header: ".snd", the data offset and the data size (big-endian),
// 16-bit linear samples, 8000 per second, one channel.
inline std::string AuHeader(std::uint32_t dataOffset, std::uint32_t dataSize) {
  std::string a(24, '\0');
  a.replace(0, 4, ".snd");
  PutBe(a, 4, dataOffset, 4);
  PutBe(a, 8, dataSize, 4);
  PutBe(a, 12, 3, 4);
  PutBe(a, 16, 8000, 4);
  PutBe(a, 20, 1, 4);
  return a;
}

// A ZIP whose first entry, "a.bin", defers its sizes to a data descriptor
// (flag bit 3): where it ends cannot be read from its header.
inline std::string ZipDeferringSizes() {
  std::string z(30, '\0');
  z.replace(0, 4, "PK\x03\x04");
  PutLe(z, 4, 20, 2);
  PutLe(z, 6, 8, 2);
  PutLe(z, 26, 5, 2);
  return z + "a.bin";
}

}  // namespace corvan::test
