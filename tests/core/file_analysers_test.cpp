// The analysers size files made by the usual tools exactly, wherever on the
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
#include "support/CarveTestDisk.h"
#include "platform/ByteCodec.h"

namespace corvan {
namespace {

using test::DiskWith;
using test::MemoryReader;

class MadeByTools : public testing::Test {
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

TEST_F(MadeByTools, PngIsSizedToItsEndChunkWithDateSourceAndDimensions) {
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

TEST_F(MadeByTools, BitmapsOfEveryHeaderAreSizedExactly) {
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

// A PNG's signature, and a chunk as the format lays it out: length, type,
// data, CRC (left 0: the analyser does not check it).
constexpr std::uint8_t kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
void AppendPngChunk(std::vector<std::uint8_t>& p, const char* type, const std::vector<std::uint8_t>& data) {
  std::uint8_t l[4];
  PutBE32(l, static_cast<std::uint32_t>(data.size()));
  p.insert(p.end(), l, l + 4);
  p.insert(p.end(), type, type + 4);
  p.insert(p.end(), data.begin(), data.end());
  p.insert(p.end(), {0, 0, 0, 0});
}

TEST(PngAnalyser, TextChunksShorterThanTheirKeywordAreSkipped) {
  std::vector<std::uint8_t> p(std::begin(kPngSignature), std::end(kPngSignature));
  auto chunk = [&](const char* type, const std::vector<std::uint8_t>& data) { AppendPngChunk(p, type, data); };
  chunk("tEXt", {'S', 'o', 'u'});  // length 3: below "Source\0"
  chunk("IDAT", std::vector<std::uint8_t>(20, 1));
  p.insert(p.end(), {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});
  MemoryReader disk(DiskWith(p, 0, 2048));
  AnalysedFile f;
  ASSERT_TRUE(GetPngFileSize(disk, 0, f));
  EXPECT_EQ(f.size, p.size());
  EXPECT_EQ(f.suffix, u"");
}

TEST(PngAnalyser, ThePictureIsWalkedChunkByChunkToItsEndChunk) {
  std::vector<std::uint8_t> p(std::begin(kPngSignature), std::end(kPngSignature));
  auto chunk = [&](const char* type, const std::vector<std::uint8_t>& data) { AppendPngChunk(p, type, data); };
  std::vector<std::uint8_t> ihdr(13, 0);
  PutBE32(ihdr.data(), 40);
  PutBE32(ihdr.data() + 4, 30);
  chunk("IHDR", ihdr);
  // Image data that holds what an end chunk looks like: it is data, not
  // the end.
  std::vector<std::uint8_t> data(5000, 7);
  const std::uint8_t fakeEnd[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
  std::copy(std::begin(fakeEnd), std::end(fakeEnd), data.begin() + 100);
  chunk("IDAT", data);
  chunk("IDAT", std::vector<std::uint8_t>(3000, 9));
  p.insert(p.end(), std::begin(fakeEnd), std::end(fakeEnd));
  MemoryReader disk(DiskWith(p, 2, 4096));
  AnalysedFile f;
  ASSERT_TRUE(GetPngFileSize(disk, 2, f));
  EXPECT_EQ(f.size, p.size());
  EXPECT_EQ(f.suffix, u"(40x30)");
  // Only the chunks' heads are read, not every byte of their data.
  EXPECT_LE(disk.bytesRead, 8192u);

  // What is no chunk ends the walk: a type that is not four letters.
  std::vector<std::uint8_t> broken(p.begin(), p.begin() + 8 + 25);
  broken.insert(broken.end(), {0, 0, 0, 4, 'I', 'D', '@', 'T', 1, 2, 3, 4, 0, 0, 0, 0});
  broken.insert(broken.end(), std::begin(fakeEnd), std::end(fakeEnd));
  MemoryReader disk2(DiskWith(broken, 0, 4096));
  EXPECT_FALSE(GetPngFileSize(disk2, 0, f));
}

TEST(PngAnalyser, SignaturesWithoutChunksCostASectorEach) {
  // A PNG signature at the start of every sector of two megabytes, nothing
  // after it: no picture, and each one read no further than its first
  // chunk's head.
  constexpr std::size_t kBytes = 2 << 20;
  std::vector<std::uint8_t> disk(kBytes, 0);
  for (std::size_t s = 0; s < kBytes; s += 512) std::copy(std::begin(kPngSignature), std::end(kPngSignature), &disk[s]);
  MemoryReader reader(disk);
  for (std::uint64_t s = 0; s < kBytes / 512; ++s) {
    AnalysedFile f;
    EXPECT_FALSE(GetPngFileSize(reader, s, f));
  }
  EXPECT_LE(reader.bytesRead, 4 * kBytes);
}

TEST(NamePieces, DateAndDimensions) {
  EXPECT_EQ(DatePiece("2010:03:12 15:30:45"), u"(3-12-2010 15-30-46)");
  EXPECT_EQ(DatePiece("2010-03-12 15:30:44"), u"(3-12-2010 15-30-44)");
  EXPECT_EQ(DatePiece("Fri, 12 Mar 2010"), u"");
  EXPECT_EQ(DimensionsPiece(9999, 1), u"(9999x1)");
  EXPECT_EQ(DimensionsPiece(10000, 10), u"");
  EXPECT_EQ(DimensionsPiece(0, 10), u"");
}

TEST_F(MadeByTools, AuFromSoxIsSizedByItsHeaderAndAStreamLeftUnsized) {
  const auto wav = dir_ / "s.wav";
  const auto au = dir_ / "s.au";
  const auto stream = dir_ / "stream.au";
  const std::string make = "sox -n -r 8000 -c 1 '" + wav.string() + "' synth 0.3 sine 440 2>/dev/null && sox '" +
                           wav.string() + "' '" + au.string() + "' && sox '" + wav.string() + "' -t raw - | sox -t raw -r 8000 -e signed -b 16 -c 1 - -t au - 2>/dev/null | cat > '" +
                           stream.string() + "'";
  ASSERT_EQ(std::system(make.c_str()), 0);
  auto read = [](const std::filesystem::path& f) {
    std::ifstream in(f, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  const auto file = read(au);
  MemoryReader disk(DiskWith(file, 3, 512));
  AnalysedFile f;
  ASSERT_TRUE(GetAuFileSize(disk, 3, f));
  EXPECT_EQ(f.size, file.size());

  // Read from a pipe and written to one, sox does not know the length.
  const auto piped = read(stream);
  ASSERT_EQ(GetBE32(piped.data() + 8), 0xFFFFFFFFu);
  MemoryReader disk2(DiskWith(piped, 0, 512));
  AnalysedFile g;
  ASSERT_TRUE(GetAuFileSize(disk2, 0, g));
  EXPECT_TRUE(g.unknownSize);  // measured to the next signature by the carving step
}

TEST_F(MadeByTools, WaveFilesAreAsLongAsTheirRiffHeaderSays) {
  const struct {
    const char* name;
    std::string make;  // writes the file given as $1
    bool sized;        // whether the header gives the file's length
  } cases[] = {
      {"sox16.wav", "sox -n -r 8000 -c 1 -b 16 \"$1\" synth 0.3 sine 440", true},
      // Three 8-bit samples: the data chunk's pad byte is the file's last.
      {"sox8.wav", "sox -n -r 8000 -c 1 -b 8 \"$1\" synth 0.000375 sine 440", true},
      // A LIST chunk before the data.
      {"ffmpeg.wav", "ffmpeg -v error -y -f lavfi -i sine=duration=0.2:sample_rate=8000 \"$1\"", true},
      // Written to a pipe, the length is not known: all ones, or (sox) a
      // length near 2 GiB, above the type's largest size.
      {"ffmpeg-pipe.wav", "ffmpeg -v error -f lavfi -i sine=duration=0.2:sample_rate=8000 -f wav - | cat > \"$1\"",
       false},
      {"sox-pipe.wav", "sox -n -r 8000 -c 1 -b 16 -t wav - synth 0.2 sine 440 | cat > \"$1\"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir_ / c.name;
    const std::string cmd = "sh -c '" + c.make + "' sh '" + path.string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> wav{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GT(wav.size(), 44u);
    MemoryReader disk(DiskWith(wav, 3, 1024));
    AnalysedFile f;
    EXPECT_EQ(GetWaveFileSize(disk, 3, 1u << 30, f), c.sized);
    if (c.sized) EXPECT_EQ(f.size, wav.size());
  }
}

// RIFF chunks as the format defines them: id, little-endian size, data, and
// a pad byte after data of odd size.
std::vector<std::uint8_t> Chunk(const char* id, std::vector<std::uint8_t> data) {
  std::vector<std::uint8_t> c(8 + data.size() + data.size() % 2);
  std::memcpy(c.data(), id, 4);
  PutLE32(c.data() + 4, static_cast<std::uint32_t>(data.size()));
  std::copy(data.begin(), data.end(), c.begin() + 8);
  return c;
}

TEST(AviAnalyser, ChunksOfOddSizeCountTheirPadByte) {
  std::vector<std::uint8_t> body = {'A', 'V', 'I', ' '};
  for (auto c : {Chunk("LIST", std::vector<std::uint8_t>(333, 'h')), Chunk("JUNK", std::vector<std::uint8_t>(1001, 0)),
                 Chunk("LIST", std::vector<std::uint8_t>(4097, 'm')), Chunk("idx1", std::vector<std::uint8_t>(48, 'i'))})
    body.insert(body.end(), c.begin(), c.end());
  auto avi = Chunk("RIFF", body);
  MemoryReader disk(DiskWith(avi, 4, 2048));
  AnalysedFile f;
  ASSERT_TRUE(GetAviFileSize(disk, 4, f));
  EXPECT_EQ(f.size, avi.size());

  // A RIFF that is not an AVI, and an AVI with no chunk after its header.
  auto wave = avi;
  std::memcpy(wave.data() + 8, "WAVE", 4);
  MemoryReader disk2(DiskWith(wave, 0, 2048));
  EXPECT_FALSE(GetAviFileSize(disk2, 0, f));
  std::vector<std::uint8_t> bare = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '};
  MemoryReader disk3(DiskWith(bare, 0, 2048));
  EXPECT_FALSE(GetAviFileSize(disk3, 0, f));
}

TEST(HtmlAnalyser, PagesEndAfterTheirEndTagAndItsLineEnd) {
  auto bytes = [](const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
  // The end tag inside the title does not end the page.
  const auto page = bytes("<html><head><title></html> in a title</title></head><body>text</body></html>\r\n");
  MemoryReader disk(DiskWith(page, 2, 3000));
  AnalysedFile f;
  ASSERT_TRUE(GetHtmlFileSize(disk, 2, f));
  EXPECT_EQ(f.size, page.size());

  // A page in the last sectors of a small volume is found all the same.
  const auto upper = bytes("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">\r\n<HTML><BODY>x</BODY></HTML>\r\n");
  // (Volumes hold whole sectors: the page ends in the second-last one.)
  MemoryReader small(DiskWith(upper, 1, 1024 - upper.size()));
  AnalysedFile g;
  ASSERT_TRUE(GetHtmlFileSize(small, 1, g));
  EXPECT_EQ(g.size, upper.size());

  // The line end is the page's as it was written: LF, CR, or none.
  for (const char* end : {"\n", "\r", ""}) {
    SCOPED_TRACE(std::string("line end ") + (*end == '\n' ? "LF" : *end == '\r' ? "CR" : "none"));
    const auto written = bytes(std::string("<html><body>page</body></html>") + end);
    auto followed = DiskWith(written, 1, 1024);
    followed[512 + written.size()] = '\n' + 1;  // what follows begins no line end
    MemoryReader d(followed);
    AnalysedFile e;
    ASSERT_TRUE(GetHtmlFileSize(d, 1, e));
    EXPECT_EQ(e.size, written.size());
  }

  // Without an end tag the page runs to the end of the search.
  auto open = bytes("<html><body>");
  open.resize(3u << 20, 'a');
  MemoryReader disk3(DiskWith(open, 0, 0));
  AnalysedFile h;
  ASSERT_TRUE(GetHtmlFileSize(disk3, 0, h));
  EXPECT_EQ(h.size, 0x1FFFF9u);
  // Text that is not a page.
  MemoryReader disk4(DiskWith(bytes("<head></head>"), 0, 1024));
  EXPECT_FALSE(GetHtmlFileSize(disk4, 0, h));
}

}  // namespace
}  // namespace corvan
