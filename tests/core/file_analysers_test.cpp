// The analysers size pictures made by ImageMagick exactly, wherever on the
// disk they lie, and stay inside the data when headers are damaged.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/FileAnalysers.h"
#include "platform/ByteCodec.h"

namespace corvan {
namespace {

// A disk in memory; reads past its end fail and leave zeros.
class MemoryReader final : public CarveReader {
 public:
  explicit MemoryReader(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  bool Read(std::uint64_t sector, void* buffer, std::size_t n) override {
    std::memset(buffer, 0, n);
    const std::uint64_t at = sector * 512;
    if (at >= bytes_.size()) return false;
    const std::size_t have = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes_.size() - at));
    std::memcpy(buffer, bytes_.data() + at, have);
    return have == n;
  }
  bool Aborted() const override { return false; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// A disk with the file at `sector`, garbage before it and after it.
std::vector<std::uint8_t> DiskWith(const std::vector<std::uint8_t>& file, std::uint64_t sector, std::size_t tail) {
  std::vector<std::uint8_t> disk(sector * 512 + file.size() + tail);
  for (std::size_t i = 0; i < disk.size(); ++i) disk[i] = static_cast<std::uint8_t>(i * 7 + 3);
  std::copy(file.begin(), file.end(), disk.begin() + sector * 512);
  return disk;
}

class MadeByImageMagick : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("corvan-analysers-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    convert_ = std::filesystem::exists("/usr/bin/convert") ? "/usr/bin/convert" : "convert";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // `format` is ImageMagick's output prefix ("BMP3:"), or empty.
  std::vector<std::uint8_t> Make(const std::string& args, const std::string& name, const std::string& format = "") {
    const auto out = dir_ / name;
    const std::string cmd = convert_ + " " + args + " '" + format + out.string() + "' 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(out, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::filesystem::path dir_;
  std::string convert_;
};

TEST_F(MadeByImageMagick, PngIsSizedToItsEndChunkWithDateSourceAndDimensions) {
  // ImageMagick writes its text chunks after the image data.
  const auto png = Make("-size 300x200 plasma: -set Source ' Test Camera ' -set CreationTime '2010:03:12 15:30:45'",
                        "t.png");
  ASSERT_GT(png.size(), 1000u);
  MemoryReader disk(DiskWith(png, 5, 4096));
  AnalysedFile f;
  ASSERT_TRUE(GetPngFileSize(disk, 5, f));
  EXPECT_EQ(f.size, png.size());
  EXPECT_EQ(f.suffix, u"(3-12-2010 15-30-46)Test Camera(300x200)");

  // Without any text chunk the end follows the last image data.
  const auto plain = Make("-size 64x48 gradient:red-blue -define png:exclude-chunks=date,tIME,text", "p.png");
  MemoryReader disk2(DiskWith(plain, 1, 700));
  AnalysedFile g;
  ASSERT_TRUE(GetPngFileSize(disk2, 1, g));
  EXPECT_EQ(g.size, plain.size());
  EXPECT_EQ(g.suffix, u"(64x48)");

  // Cut before its end chunk, the picture is not a file.
  std::vector<std::uint8_t> cut(png.begin(), png.end() - 40);
  MemoryReader disk3(DiskWith(cut, 0, 0));
  AnalysedFile h;
  EXPECT_FALSE(GetPngFileSize(disk3, 0, h));
}

TEST_F(MadeByImageMagick, BitmapsOfEveryHeaderAreSizedExactly) {
  struct Case {
    const char* args;
    const char* format;
    const char* name;
    const char16_t* suffix;
  } cases[] = {
      {"-size 123x45 gradient:red-blue -type TrueColor", "", "v5.bmp", u"(123x45)"},
      {"-size 123x45 gradient:red-blue -type TrueColor", "BMP3:", "v3.bmp", u"(123x45)"},
      {"-size 10x7 gradient:red-blue -type TrueColor", "BMP2:", "os2.bmp", u"(10x7)"},
      {"-size 10001x2 xc:white -type TrueColor", "BMP3:", "wide.bmp", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto bmp = Make(c.args, c.name, c.format);
    ASSERT_GT(bmp.size(), 54u);
    MemoryReader disk(DiskWith(bmp, 2, 1024));
    AnalysedFile f;
    ASSERT_TRUE(GetBitmapFileSize(disk, 2, f));
    EXPECT_EQ(f.size, bmp.size());
    EXPECT_EQ(f.suffix, c.suffix);
  }
}

// A header as the format defines it: 14-byte file header, 40-byte info header.
std::vector<std::uint8_t> BitmapHeader(std::uint32_t width, std::int32_t height, std::uint16_t bits) {
  std::vector<std::uint8_t> b(512);
  b[0] = 'B';
  b[1] = 'M';
  PutLE32(b.data() + 10, 54);
  PutLE32(b.data() + 14, 40);
  PutLE32(b.data() + 18, width);
  PutLE32(b.data() + 22, static_cast<std::uint32_t>(height));
  PutLE16(b.data() + 26, 1);
  PutLE16(b.data() + 28, bits);
  return b;
}

TEST(BitmapAnalyser, TopDownPicturesAndWrappingSizes) {
  // A top-down picture stores its height negative.
  MemoryReader topDown(BitmapHeader(100, -50, 24));
  AnalysedFile f;
  ASSERT_TRUE(GetBitmapFileSize(topDown, 0, f));
  EXPECT_EQ(f.size, 100u * 24 * 50 / 8 + 54);
  EXPECT_EQ(f.suffix, u"(100x50)");

  // 0x80000000 x 32 bits x 2 rows wraps to 54 bytes in 32 bits: it is far
  // too large, not tiny.
  MemoryReader wraps(BitmapHeader(0x80000000u, 2, 32));
  AnalysedFile g;
  EXPECT_FALSE(GetBitmapFileSize(wraps, 0, g));
  // Non-zero reserved words are no bitmap.
  auto reserved = BitmapHeader(10, 10, 24);
  reserved[6] = 1;
  MemoryReader bad(reserved);
  EXPECT_FALSE(GetBitmapFileSize(bad, 0, g));
}

TEST(PngAnalyser, TextChunksShorterThanTheirKeywordAreSkipped) {
  std::vector<std::uint8_t> p = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto chunk = [&](const char* type, std::vector<std::uint8_t> data) {
    std::uint8_t l[4];
    PutBE32(l, static_cast<std::uint32_t>(data.size()));
    p.insert(p.end(), l, l + 4);
    p.insert(p.end(), type, type + 4);
    p.insert(p.end(), data.begin(), data.end());
    p.insert(p.end(), {0, 0, 0, 0});
  };
  chunk("tEXt", {'S', 'o', 'u'});  // length 3: below "Source\0"
  chunk("IDAT", std::vector<std::uint8_t>(20, 1));
  p.insert(p.end(), {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});
  MemoryReader disk(DiskWith(p, 0, 2048));
  AnalysedFile f;
  ASSERT_TRUE(GetPngFileSize(disk, 0, f));
  EXPECT_EQ(f.size, p.size());
  EXPECT_EQ(f.suffix, u"");
}

TEST(NamePieces, DateAndDimensions) {
  EXPECT_EQ(DatePiece("2010:03:12 15:30:45"), u"(3-12-2010 15-30-46)");
  EXPECT_EQ(DatePiece("2010-03-12 15:30:44"), u"(3-12-2010 15-30-44)");
  EXPECT_EQ(DatePiece("Fri, 12 Mar 2010"), u"");
  EXPECT_EQ(DimensionsPiece(9999, 1), u"(9999x1)");
  EXPECT_EQ(DimensionsPiece(10000, 10), u"");
  EXPECT_EQ(DimensionsPiece(0, 10), u"");
}

}  // namespace
}  // namespace corvan
