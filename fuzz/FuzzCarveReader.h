#pragma once
// The fuzz input as a disk for the format analysers: reads past its end
// fail and leave zeros. A read of more than `largestRead` bytes, or of a
// part of a sector, is a fault: analysers read bounded windows only.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/FileAnalysers.h"

namespace corvan::fuzz {

class FuzzReader final : public CarveReader {
 public:
  FuzzReader(const std::uint8_t* data, std::size_t size, bool aborted = false,
             std::size_t largestRead = 4u << 20)
      : data_(data), size_(size), aborted_(aborted), largestRead_(largestRead) {}
  bool Read(std::uint64_t sector, void* buffer, std::size_t n) override {
    if (n > largestRead_ || n % 512 != 0) std::abort();
    bytesRead += n;
    std::memset(buffer, 0, n);
    if (sector >= size_ / 512 + 1) return false;
    const std::uint64_t at = sector * 512;
    if (at >= size_) return false;
    const std::size_t have = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - at));
    std::memcpy(buffer, data_ + at, have);
    return have == n;
  }
  bool Aborted() const override { return aborted_; }
  // Units are sectors, and a file begins at one that holds a JPEG start, so
  // the walks that end a file where another begins are reached too.
  // What the analysers asked for: the measure of their work.
  std::uint64_t bytesRead = 0;

  std::uint64_t NextFileStart(std::uint64_t from, std::uint64_t to) override {
    for (std::uint64_t s = std::max<std::uint64_t>(from, 1); s < to && s * 512 + 3 <= size_; ++s) {
      if (std::memcmp(data_ + s * 512, "\xFF\xD8\xFF", 3) == 0) return s;
    }
    return to;
  }
  // Half of those starts count as files whose header is whole, so both ways
  // a step that lands inside one is judged are reached.
  bool WholeHeaderAt(std::uint64_t sector) override { return sector % 2 == 1; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  bool aborted_;
  std::size_t largestRead_;
};

}  // namespace corvan::fuzz
