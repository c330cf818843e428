#pragma once
// Pieces the format analysers share: a window over the file being analysed
// that is read again wherever a position falls outside it, and the text
// helpers that turn tags read from a file into name pieces. The window reads
// ahead (`CarveReader::Fetch`) but tells the reader only the sectors of the
// bytes the analysis asked for (`CarveReader::Looked`), as it goes into
// each: what an analysis looked at, not what was read ahead, is what the
// pass's read bound weighs (docs/ARCHITECTURE.md, "The bounds").

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "core/FileAnalysers.h"

namespace corvan::carve {

// A window over the file being analysed: bytes are asked for by their
// position from the signature's sector, and the window is read again at the
// sector holding a position that lies outside it. The buffer is only made
// when first needed: most analyses end after a sector or two.
class Window {
 public:
  Window(CarveReader& reader, std::uint64_t startSector, std::size_t bytes)
      : reader_(reader), start_(startSector), bytes_(bytes) {}

  // Pointer to `n` bytes at `pos`, or null when they cannot be read or do
  // not fit in one window.
  const std::uint8_t* At(std::uint64_t pos, std::size_t n) {
    const std::uint8_t* p = Fill(pos, n);
    // What the analysis looks at, not what the window read ahead, is what a
    // later analysis would read again: the bytes asked for, told once. A
    // walk asks for bytes on from those it asked for last, mostly, and the
    // reader is told only of the sectors it goes on into.
    if (p != nullptr && (pos < lookedFrom_ || pos + n > lookedTo_)) {
      // Bytes apart from those told before begin a run of their own.
      if (pos < lookedFrom_ || pos > lookedTo_) lookedFrom_ = lookedTo_ = pos - pos % 512;
      reader_.Looked(start_ + lookedTo_ / 512, pos + n - lookedTo_);
      lookedTo_ = (pos + n + 511) / 512 * 512;
    }
    return p;
  }
  bool ReadFailed() const { return failed_; }
  // Whether `n` bytes at `pos` are in the window as it stands.
  bool Holds(std::uint64_t pos, std::size_t n) const {
    return valid_ && pos >= base_ && pos - base_ <= length_ && n <= length_ - (pos - base_);
  }

 private:
  const std::uint8_t* Fill(std::uint64_t pos, std::size_t n) {
    if (Holds(pos, n)) return buffer_.data() + (pos - base_);
    const std::uint64_t inSector = pos % 512;
    if (n > bytes_ - inSector) return nullptr;
    buffer_.resize(bytes_);
    // A whole read fills the window; only a failed one is cleared below.
    base_ = pos - inSector;
    length_ = buffer_.size();
    valid_ = reader_.Fetch(start_ + pos / 512, buffer_.data(), length_);
    // Near the end of the volume a whole window cannot be read: as much of
    // it as can be is, halving down to the sectors holding the bytes asked
    // for, so that a walk up to the end does not try a whole window again
    // at every sector.
    const std::size_t needed = (inSector + n + 511) / 512 * 512;
    while (!valid_ && length_ > needed) {
      length_ = std::max(needed, length_ / 1024 * 512);
      std::memset(buffer_.data(), 0, buffer_.size());
      valid_ = reader_.Fetch(start_ + pos / 512, buffer_.data(), length_);
    }
    failed_ = !valid_;
    return valid_ ? buffer_.data() + inSector : nullptr;
  }

  CarveReader& reader_;
  std::uint64_t start_;
  std::size_t bytes_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t base_ = 0;
  std::size_t length_ = 0;  // bytes of the buffer that were read
  bool valid_ = false;
  bool failed_ = false;
  // The sectors told as looked at, as byte positions.
  std::uint64_t lookedFrom_ = 0;
  std::uint64_t lookedTo_ = 0;
};

inline std::u16string Latin1Trimmed(const std::uint8_t* p, std::size_t n) {
  std::size_t b = 0, e = n;
  auto space = [](std::uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == 0; };
  while (b < e && space(p[b])) ++b;
  while (e > b && space(p[e - 1])) --e;
  std::u16string out;
  for (std::size_t i = b; i < e; ++i) out.push_back(p[i] == 0 ? u' ' : static_cast<char16_t>(p[i]));
  return out;
}

inline std::u16string Ascii16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

}  // namespace corvan::carve
