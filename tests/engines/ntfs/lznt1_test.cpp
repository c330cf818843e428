// The LZNT1 decoder against chunks written out from the format's
// description, and against a compressor that follows it.

#include <gtest/gtest.h>

#include <random>

#include "engines/ntfs/Lznt1.h"
#include "support/NtfsImageBuilder.h"

namespace corvan {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A compressed chunk header for `dataBytes` bytes after the header.
Bytes Header(std::size_t dataBytes, bool compressed = true) {
  const std::uint16_t h = static_cast<std::uint16_t>((compressed ? 0xB000 : 0x3000) | (dataBytes + 2 - 3));
  return {static_cast<std::uint8_t>(h), static_cast<std::uint8_t>(h >> 8)};
}

Bytes Decode(const Bytes& in, std::uint32_t capacity, bool* ok, std::uint32_t* length = nullptr) {
  Bytes out(capacity, 0xEE);
  std::uint32_t len = capacity;
  *ok = DecompressLznt1(in.data(), static_cast<std::uint32_t>(in.size()), out.data(), len);
  if (length) *length = len;
  return out;
}

TEST(Lznt1, LiteralsAndAnOverlappingBackReference) {
  // flags 0x02: literal 'a', then token offset 1 length 10 (p = 1: 4 offset
  // bits, 12 length bits): 'a' repeated ten more times.
  Bytes in = Header(4);
  const Bytes body = {0x02, 'a', 0x07, 0x00};
  in.insert(in.end(), body.begin(), body.end());
  bool ok;
  std::uint32_t len;
  Bytes out = Decode(in, 4096, &ok, &len);
  EXPECT_TRUE(ok);
  EXPECT_EQ(len, 11u);
  EXPECT_EQ(std::string(out.begin(), out.begin() + 11), std::string(11, 'a'));
  EXPECT_EQ(out[11], 0) << "the rest of the chunk is zero-filled";
  EXPECT_EQ(out[4095], 0);
}

TEST(Lznt1, StoredChunkMustHoldExactly4096Bytes) {
  Bytes in = Header(4096, false);
  for (int i = 0; i < 4096; ++i) in.push_back(static_cast<std::uint8_t>(i * 7));
  bool ok;
  std::uint32_t len;
  Bytes out = Decode(in, 4096, &ok, &len);
  EXPECT_TRUE(ok);
  EXPECT_EQ(len, 4096u);
  EXPECT_EQ(out[100], static_cast<std::uint8_t>(700));

  Bytes shorter(102, 1);
  const Bytes header = Header(100, false);
  std::copy(header.begin(), header.end(), shorter.begin());
  Decode(shorter, 4096, &ok, &len);
  EXPECT_FALSE(ok);
  EXPECT_EQ(len, 0u);
}

TEST(Lznt1, ZeroHeaderEndsTheInputNormally) {
  Bytes in = Header(2);
  in.push_back(0x00);
  in.push_back('x');
  in.push_back(0);
  in.push_back(0);
  in.push_back(0xAB);  // bytes after the zero header are not read
  bool ok;
  std::uint32_t len;
  Decode(in, 8192, &ok, &len);
  EXPECT_TRUE(ok);
  EXPECT_EQ(len, 1u);
}

TEST(Lznt1, MalformedChunksKeepWhatWasDecodedBeforeThem) {
  bool ok;
  std::uint32_t len;
  // Back-reference as the first token.
  Bytes first = Header(3);
  first.insert(first.end(), {0x01, 0x00, 0x00});
  Decode(first, 4096, &ok, &len);
  EXPECT_FALSE(ok);

  // Offset reaching before the chunk: p = 1, offset 2.
  Bytes before = Header(4);
  before.insert(before.end(), {0x02, 'a', 0x00, 0x10});
  Decode(before, 4096, &ok, &len);
  EXPECT_FALSE(ok);
  EXPECT_EQ(len, 1u);

  // A chunk whose size runs past the input.
  Bytes past = Header(200);
  past.insert(past.end(), {0x00, 'a', 'b'});
  Decode(past, 4096, &ok, &len);
  EXPECT_FALSE(ok);
  EXPECT_EQ(len, 0u);

  // Output not a multiple of 4096: the chunk that would cross it is refused,
  // even though it decodes to one byte.
  Bytes one = Header(2);
  one.insert(one.end(), {0x00, 'z'});
  Bytes two = one;
  two.insert(two.end(), one.begin(), one.end());
  Decode(two, 6000, &ok, &len);
  EXPECT_FALSE(ok);
  EXPECT_EQ(len, 1u);
}

TEST(Lznt1, ShortLastChunkAtTheVeryEndOfTheInputIsKept) {
  // Header, one flag byte and one literal: the smallest chunk there is.
  Bytes in = Header(2);
  in.insert(in.end(), {0x00, 'q'});
  bool ok;
  std::uint32_t len;
  Bytes out = Decode(in, 4096, &ok, &len);
  EXPECT_TRUE(ok);
  EXPECT_EQ(len, 1u);
  EXPECT_EQ(out[0], 'q');
}

TEST(Lznt1, RoundTripsWhatTheFormatsCompressorWrites) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 6; ++trial) {
    Bytes data(16384);
    for (std::size_t i = 0; i < data.size(); ++i) {
      // Runs of text-like repetition between random stretches.
      data[i] = (i / 300) % 2 ? static_cast<std::uint8_t>("the quick brown fox "[i % 20])
                              : static_cast<std::uint8_t>(rng() % (trial + 2) * 40);
    }
    const Bytes packed = test::ntfsimg::Lznt1Compress(data);
    EXPECT_LT(packed.size(), data.size());
    bool ok;
    std::uint32_t len;
    Bytes out = Decode(packed, 16384, &ok, &len);
    EXPECT_TRUE(ok);
    EXPECT_EQ(len, 16384u);
    EXPECT_EQ(out, data);
  }
}

}  // namespace
}  // namespace corvan
