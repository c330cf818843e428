#pragma once
// MD5 (RFC 1321) for comparing recovered data with the corpus truth files.

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace corvan::test {

class Md5 {
 public:
  Md5();
  void Update(std::span<const std::uint8_t> data);
  // The digest as 32 lower-case hex digits; the object is spent afterwards.
  std::string HexDigest();

 private:
  void Block(const std::uint8_t* p);
  std::array<std::uint32_t, 4> state_;
  std::array<std::uint8_t, 64> buffer_{};
  std::uint64_t length_ = 0;
};

std::string Md5Hex(std::span<const std::uint8_t> data);

}  // namespace corvan::test
