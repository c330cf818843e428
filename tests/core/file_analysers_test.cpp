// The analysers size files made by the usual tools exactly, wherever on the
// disk they lie, and stay inside the data when headers are damaged.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "core/FileAnalysers.h"
#include "core/SignatureEvidence.h"
#include "core/TarRecords.h"
#include "support/CarveTestDisk.h"
#include "platform/ByteCodec.h"

namespace corvan {
namespace {

using test::Bytes;
using test::DiskWith;
using test::MemoryReader;
using test::MpegPack2;

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

// The first sector of a unit: `head`, then zeros.
Bytes Sector(std::initializer_list<std::uint8_t> head) {
  Bytes s(512, 0);
  std::copy(head.begin(), head.end(), s.begin());
  return s;
}
Bytes TextSector(std::string_view head) {
  Bytes s(512, 0);
  std::copy_n(head.begin(), std::min<std::size_t>(head.size(), 512), s.begin());
  return s;
}
Bytes Patched(Bytes s, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
  std::copy(bytes.begin(), bytes.end(), s.begin() + static_cast<std::ptrdiff_t>(at));
  return s;
}
Bytes WithText(Bytes s, std::size_t at, std::string_view text) {
  std::copy(text.begin(), text.end(), s.begin() + static_cast<std::ptrdiff_t>(at));
  return s;
}

// The preset types' largest size of an icon: 1,024 KiB.
Evidence EvidenceFor(std::uint16_t typeId, const Bytes& sector, std::uint32_t maxSize = 1 << 20) {
  FileTypeRecord type;
  type.typeId = typeId;
  type.maxSize = maxSize;
  return SignatureEvidence(type, sector.data());
}

// A ustar header as the format lays it out, its checksum field left as
// spaces; `SumOf` it then is the checksum.
Bytes TarHeader(std::string_view magic) {
  Bytes h(512, 0);
  auto put = [&](std::size_t at, std::string_view v) { std::copy(v.begin(), v.end(), h.begin() + at); };
  put(0, "hello.txt");
  put(100, "0000644");
  put(108, "0001750");
  put(116, "0001750");
  put(124, "00000000006");
  put(136, "14712345670");
  put(148, "        ");
  put(156, "0");
  put(257, magic);
  put(265, "user");
  put(297, "user");
  return h;
}
unsigned SumOf(const Bytes& b) {
  unsigned sum = 0;
  for (std::uint8_t c : b) sum += c;
  return sum;
}
// `v` in `digits` octal digits, then `tail`.
std::string Octal(unsigned v, int digits, std::string_view tail) {
  char text[24];
  std::snprintf(text, sizeof text, "%0*o", digits, v);
  return text + std::string(tail);
}

TEST(SignatureEvidence, TheBytesAfterASignatureAgreeWithItsFormatOrNot) {
  using namespace std::string_view_literals;
  struct Case {
    std::uint16_t type;
    std::string what;
    Bytes sector;
    bool agrees;
  };
  std::vector<Case> cases;
  auto agrees = [&](std::uint16_t type, std::string what, Bytes s) {
    cases.push_back({type, what, std::move(s), true});
  };
  auto differs = [&](std::uint16_t type, std::string what, Bytes s) {
    cases.push_back({type, what, std::move(s), false});
  };

  // ID3v2 as ffmpeg writes it: version 2.4, and a size of seven-bit bytes.
  const Bytes id3 = Sector({'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0x30});
  agrees(111, "ID3v2.4", id3);
  agrees(111, "ID3v2.2", Patched(id3, 3, {2}));
  differs(111, "ID3v2.5", Patched(id3, 3, {5}));
  differs(111, "ID3v2.1", Patched(id3, 3, {1}));
  differs(111, "revision FF", Patched(id3, 4, {0xFF}));
  differs(111, "first size byte of eight bits", Patched(id3, 6, {0x80}));
  differs(111, "fourth size byte of eight bits", Patched(id3, 9, {0x80}));

  // Pack headers as ffmpeg begins an MPEG-2 (vob) and an MPEG-1 stream,
  // each before its system header's start code.
  const Bytes mpeg2 = Sector({0, 0, 1, 0xBA, 0x44, 0, 0x04, 0, 0x04, 0x01, 0x43, 0x43, 0x5B, 0xF8, 0, 0, 1, 0xBB});
  agrees(121, "MPEG-2 pack", mpeg2);
  differs(121, "MPEG-2, marker after SCR bit 30", Patched(mpeg2, 4, {0x40}));
  differs(121, "MPEG-2, marker after SCR bit 15", Patched(mpeg2, 6, {0x00}));
  differs(121, "MPEG-2, marker after SCR bit 0", Patched(mpeg2, 8, {0x00}));
  differs(121, "MPEG-2, marker after the extension", Patched(mpeg2, 9, {0x00}));
  differs(121, "MPEG-2, first marker after the mux rate", Patched(mpeg2, 12, {0x5A}));
  differs(121, "MPEG-2, second marker after the mux rate", Patched(mpeg2, 12, {0x59}));
  // A stream is more than one pack: what follows the header (after its
  // stuffing) is a start code of the stream's.
  differs(121, "MPEG-2, a lone pack header", Patched(mpeg2, 14, {0, 0, 0, 0}));
  differs(121, "MPEG-2, a video start code after it", Patched(mpeg2, 17, {0xB3}));
  agrees(121, "MPEG-2, its end code after it", Patched(mpeg2, 17, {0xB9}));
  agrees(121, "MPEG-2, a packet after three stuffing bytes",
         Patched(mpeg2, 13, {0xFB, 0xFF, 0xFF, 0xFF, 0, 0, 1, 0xE0}));
  differs(121, "MPEG-2, the start code inside the stuffing", Patched(mpeg2, 13, {0xFB, 0, 0, 1, 0xE0}));
  const Bytes mpeg1 = Sector({0, 0, 1, 0xBA, 0x21, 0, 0x01, 0, 0x01, 0xA1, 0xA1, 0xAD, 0, 0, 1, 0xBB});
  agrees(121, "MPEG-1 pack", mpeg1);
  differs(121, "MPEG-1, '0011' for '0010'", Patched(mpeg1, 4, {0x31}));
  differs(121, "MPEG-1, marker after SCR bit 30", Patched(mpeg1, 4, {0x20}));
  differs(121, "MPEG-1, marker after SCR bit 15", Patched(mpeg1, 6, {0x00}));
  differs(121, "MPEG-1, marker after SCR bit 0", Patched(mpeg1, 8, {0x00}));
  differs(121, "MPEG-1, marker before the mux rate", Patched(mpeg1, 9, {0x21}));
  differs(121, "MPEG-1, marker after the mux rate", Patched(mpeg1, 11, {0xAC}));
  differs(121, "MPEG-1, a lone pack header", Patched(mpeg1, 14, {0}));
  agrees(121, "MPEG-1, a packet after it", Patched(mpeg1, 15, {0xC0}));

  const Bytes pdf = TextSector("%PDF-1.7\n%\xE2\xE3\xCF\xD3\n");
  agrees(66, "PDF 1.7", pdf);
  differs(66, "PDF 1.x", WithText(pdf, 7, "x"));
  differs(66, "PDF x.7", WithText(pdf, 5, "x"));
  differs(66, "PDF 1,7", WithText(pdf, 6, ","));

  // Header chunk: length 6, format 1, two tracks, 480 ticks a quarter note.
  const Bytes midi = Sector({'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, 2, 0x01, 0xE0});
  agrees(58, "MIDI header", midi);
  differs(58, "MIDI header of length 7", Patched(midi, 7, {7}));
  differs(58, "MIDI header of length 0x106", Patched(midi, 6, {1}));

  // ffmpeg's stream information block, more blocks after it; with the
  // last-block flag, a stream that holds no other metadata.
  const Bytes flac = Sector({'f', 'L', 'a', 'C', 0, 0, 0, 0x22, 0x12, 0, 0x12, 0, 0, 0x04, 0xB2});
  agrees(59, "FLAC, STREAMINFO then more blocks", flac);
  agrees(59, "FLAC, STREAMINFO the last block", Patched(flac, 4, {0x80}));
  differs(59, "FLAC, padding first", Patched(flac, 4, {0x01}));
  differs(59, "FLAC, padding first and last", Patched(flac, 4, {0x81}));
  differs(59, "FLAC, STREAMINFO of 33 bytes", Patched(flac, 7, {0x21}));
  differs(59, "FLAC, STREAMINFO of 0x10022 bytes", Patched(flac, 5, {0x01}));

  // ffmpeg's file type box: 32 bytes, "isom" and four compatible brands.
  const Bytes mp4 = TextSector("\0\0\0\x20" "ftypisom\0\0\x02\0isomiso2avc1mp41"sv);
  agrees(62, "MP4 ftyp box", mp4);
  agrees(62, "MP4 ftyp box of 512 bytes", Patched(mp4, 2, {0x02, 0x00}));
  differs(62, "MP4 ftyp box of 516 bytes", Patched(mp4, 2, {0x02, 0x04}));
  differs(62, "MP4 ftyp box of 12 bytes", Patched(mp4, 3, {12}));
  differs(62, "MP4 ftyp box of 34 bytes", Patched(mp4, 3, {34}));
  differs(62, "MP4 brand not printable", Patched(mp4, 9, {0x01}));

  const Bytes psd = Sector({'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3});
  agrees(67, "PSD, version 1", psd);
  agrees(67, "PSB, version 2", Patched(psd, 5, {2}));
  differs(67, "version 3", Patched(psd, 5, {3}));
  differs(67, "version 0", Patched(psd, 5, {0}));
  differs(67, "reserved byte set", Patched(psd, 11, {1}));

  // ffmpeg's AIFF: a form of 0x66E bytes whose first chunk, COMM, holds 18;
  // sox's AIFC begins with its format version chunk.
  const Bytes aiff = TextSector("FORM\0\0\x06\x6E" "AIFFCOMM\0\0\0\x12\0\x01"sv);
  agrees(61, "AIFF", aiff);
  agrees(61, "AIFC", TextSector("FORM\0\0\x0C\xCE" "AIFCFVER\0\0\0\x04\xA2\x80\x51\x40"sv));
  agrees(61, "AIFF holding just its first chunk", Patched(aiff, 6, {0, 30}));
  differs(61, "a form too short for its first chunk", Patched(aiff, 6, {0, 29}));
  differs(61, "a form of 4 bytes", Patched(aiff, 6, {0, 4}));
  agrees(61, "a form written to a stream, its size 0", Patched(aiff, 4, {0, 0, 0, 0}));
  differs(61, "FORX", WithText(aiff, 0, "FORX"));
  differs(61, "form type AIFX", WithText(aiff, 8, "AIFX"));
  differs(61, "first chunk ID not printable", Patched(aiff, 14, {0x01}));
  differs(61, "first chunk ID's last byte not printable", Patched(aiff, 15, {0x01}));
  // 12 and a chunk size of 2^32 - 8 wrap, in 32 bits, to 4.
  differs(61, "a first chunk of 4 GiB in a small form", Patched(aiff, 16, {0xFF, 0xFF, 0xFF, 0xF8}));

  // ffmpeg's EBML headers, Matroska's and WebM's.
  const Bytes mkv = Sector({0x1A, 0x45, 0xDF, 0xA3, 0xA3, 0x42, 0x86, 0x81, 0x01, 0x42, 0xF7, 0x81, 0x01, 0x42,
                            0xF2, 0x81, 0x04, 0x42, 0xF3, 0x81, 0x08, 0x42, 0x82, 0x88, 'm', 'a', 't', 'r',
                            'o', 's', 'k', 'a', 0x42, 0x87, 0x81, 0x04, 0x42, 0x85, 0x81, 0x02, 0x18, 0x53});
  agrees(64, "Matroska", mkv);
  agrees(64, "WebM", Sector({0x1A, 0x45, 0xDF, 0xA3, 0x9F, 0x42, 0x86, 0x81, 0x01, 0x42, 0xF7, 0x81, 0x01, 0x42,
                             0xF2, 0x81, 0x04, 0x42, 0xF3, 0x81, 0x08, 0x42, 0x82, 0x84, 'w', 'e', 'b', 'm',
                             0x42, 0x87, 0x81, 0x02, 0x42, 0x85, 0x81, 0x02}));
  // The same header with a two-byte size, a CRC-32 and a Void element, and
  // a DocType padded with zeros.
  agrees(64, "Matroska with CRC-32, Void, padding",
         Sector({0x1A, 0x45, 0xDF, 0xA3, 0x40, 0x1A, 0xBF, 0x84, 1, 2, 3, 4, 0xEC, 0x81, 0, 0x42, 0x82,
                 0x86, 'w', 'e', 'b', 'm', 0, 0, 0x42, 0x87, 0x81, 0x02, 0x42, 0x85, 0x81, 0x02}));
  // The same children under a header size written as `size`, then, when
  // `voidSize` is given, a Void element of that size holding `voidData`
  // zero bytes.
  const Bytes children(mkv.begin() + 5, mkv.begin() + 40);
  auto header = [&](std::initializer_list<std::uint8_t> size, std::initializer_list<std::uint8_t> voidSize,
                    std::size_t voidData) {
    Bytes h = {0x1A, 0x45, 0xDF, 0xA3};
    h.insert(h.end(), size);
    h.insert(h.end(), children.begin(), children.end());
    if (voidSize.size() != 0) {
      h.push_back(0xEC);
      h.insert(h.end(), voidSize);
      h.insert(h.end(), voidData, 0);
    }
    h.resize(std::max<std::size_t>(h.size(), 512), 0);
    return h;
  };
  agrees(64, "header size in eight bytes", header({1, 0, 0, 0, 0, 0, 0, 35}, {}, 0));
  differs(64, "header size in nine bytes", header({0, 0, 0, 0, 0, 0, 0, 0, 35}, {}, 0));
  differs(64, "header size without a length marker", Patched(mkv, 4, {0x00}));
  // The children and a Void fill 126 bytes, or 127: a one-byte size of all
  // ones, which says the size is unknown.
  agrees(64, "header of 0x7E bytes", header({0xFE}, {0xD9}, 89));
  differs(64, "header of unknown size", header({0xFF}, {0xDA}, 90));
  // The header reaches the sector's last byte, or one past it.
  agrees(64, "header up to the sector's end", header({0x41, 0xFA}, {0x41, 0xD4}, 468));
  differs(64, "header past the sector", header({0x41, 0xFB}, {0x41, 0xD5}, 469));
  differs(64, "a Segment inside the header", Patched(mkv, 5, {0x18, 0x53}));
  differs(64, "an element the header does not hold", Patched(mkv, 5, {0x42, 0x99}));
  differs(64, "an element 43 86", Patched(mkv, 5, {0x43}));
  differs(64, "an ID cut by the header's end", Patched(header({0xA4}, {}, 0), 40, {0x42, 0x86, 0x81, 0x01}));
  differs(64, "a child size without a length marker", Patched(mkv, 7, {0x00}));
  differs(64, "a child of unknown size", Patched(mkv, 7, {0xFF}));
  // A Void of no bytes last: its size field ends the header.
  agrees(64, "a Void of no bytes ending the header", header({0xA5}, {0x80}, 0));
  agrees(64, "a Void of 127 bytes", header({0x40, 0xA5}, {0x40, 0x7F}, 127));
  differs(64, "a Void of unknown size", header({0x40, 0xA4}, {0xFF}, 127));
  differs(64, "the last child past the header", Patched(mkv, 38, {0x82}));
  differs(64, "a DocType not printable", Patched(mkv, 27, {0x01}));
  differs(64, "an empty DocType", Patched(mkv, 21, {0x42, 0x82, 0x80, 0xEC, 0x86}));
  differs(64, "no DocType", Patched(mkv, 22, {0x87}));

  // ffmpeg's FLV header: audio and video, nine bytes, no tag before.
  const Bytes flv = Sector({'F', 'L', 'V', 1, 0x05, 0, 0, 0, 9, 0, 0, 0, 0, 0x12});
  agrees(65, "FLV", flv);
  agrees(65, "FLV, video only", Patched(flv, 4, {0x01}));
  differs(65, "FLV version 2", Patched(flv, 3, {2}));
  differs(65, "FLV reserved flag bit 1", Patched(flv, 4, {0x07}));
  differs(65, "FLV reserved flag bit 3", Patched(flv, 4, {0x0D}));
  differs(65, "FLV header of 10 bytes", Patched(flv, 8, {10}));
  differs(65, "FLV tag size before the first", Patched(flv, 12, {1}));

  // ImageMagick's icon of four sizes, the 256-pixel one a PNG, each entry
  // 32 bits a pixel; and its icon of one 32x32 bitmap. What the pictures
  // hold begins right after the directory.
  const Bytes ico = Sector({0, 0, 1, 0, 4, 0,
                            0, 0, 0, 0, 1, 0, 0x20, 0, 0xC8, 0x05, 0, 0, 0x46, 0, 0, 0,
                            0x30, 0x30, 0, 0, 1, 0, 0x20, 0, 0xA8, 0x25, 0, 0, 0x0E, 0x06, 0, 0,
                            0x20, 0x20, 0, 0, 1, 0, 0x20, 0, 0xA8, 0x10, 0, 0, 0xB6, 0x2B, 0, 0,
                            0x10, 0x10, 0, 0, 1, 0, 0x20, 0, 0x68, 0x04, 0, 0, 0x5E, 0x3C, 0, 0,
                            0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'});
  agrees(20, "icon of four sizes", ico);
  const Bytes one = Sector({0, 0, 1, 0, 1, 0, 0x20, 0x20, 0, 0, 1, 0, 0x20, 0, 0xA8, 0x10, 0, 0, 0x16, 0, 0, 0,
                            0x28, 0, 0, 0, 0x20, 0, 0, 0, 0x40, 0, 0, 0});
  agrees(20, "icon of one bitmap", one);
  agrees(20, "planes and bits left to the picture", Patched(one, 10, {0, 0, 0, 0}));
  differs(20, "no pictures", Patched(ico, 4, {0}));
  differs(20, "the third entry's reserved byte set", Patched(ico, 6 + 32 + 3, {1}));
  differs(20, "the second entry of two planes", Patched(ico, 6 + 16 + 4, {2}));
  differs(20, "the fourth entry of 3 bits a pixel", Patched(ico, 6 + 48 + 6, {3}));
  differs(20, "an empty fourth picture", Patched(ico, 6 + 48 + 8, {0, 0}));
  differs(20, "a picture past the type's largest size", Patched(one, 16, {0x10}));
  agrees(20, "a picture up to the type's largest size", Patched(one, 14, {0xEA, 0xFF, 0x0F, 0}));
  differs(20, "the first picture a byte after the directory", Patched(one, 18, {0x17}));
  differs(20, "the first picture inside the directory", Patched(ico, 18, {0x45}));
  differs(20, "a picture that is no bitmap", Patched(one, 22, {0x29}));
  // A cursor's hotspot stands where an icon's planes and bits do.
  const Bytes cursor = Patched(one, 2, {2});
  agrees(20, "a cursor, its hotspot at 31,0", Patched(cursor, 10, {31, 0, 0, 0}));
  differs(20, "a cursor, its hotspot at 32,0", Patched(cursor, 10, {32, 0, 0, 0}));
  differs(20, "a cursor, its hotspot at 0,32", Patched(cursor, 10, {0, 0, 32, 0}));
  differs(20, "type 3", Patched(one, 2, {3}));
  // 31 entries of 16x16 bitmaps, the directory up to byte 502.
  Bytes many = Sector({0, 0, 1, 0, 31, 0});
  for (std::size_t k = 0; k < 31; ++k)
    many = Patched(many, 6 + 16 * k, {0x10, 0x10, 0, 0, 1, 0, 0x20, 0, 0x68, 0x04, 0, 0,
                                      static_cast<std::uint8_t>((502 + 0x468 * k) & 0xFF),
                                      static_cast<std::uint8_t>((502 + 0x468 * k) >> 8),
                                      static_cast<std::uint8_t>((502 + 0x468 * k) >> 16), 0});
  agrees(20, "31 pictures", Patched(many, 502, {0x28}));
  differs(20, "32 pictures", Patched(Patched(many, 4, {32}), 502, {0x28}));
  // What silence with dither and a JFIF header's tail spell: 00 00 01 00,
  // a count of 1, and bytes that make no picture's entry.
  differs(20, "dithered silence",
          Sector({0, 0, 1, 0, 1, 0, 0, 0, 0xFF, 0xFF, 1, 0, 0, 0, 1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 1, 0}));
  differs(20, "a JFIF header's density and tables",
          Sector({0, 0, 1, 0, 1, 0, 0, 0xFF, 0xDB, 0, 0x43, 0, 8, 6, 6, 7, 6, 5, 8, 7, 7, 7, 9, 9, 8, 0x0A}));

  // gzip as gzip -9 writes a named file, and as -n does.
  const Bytes gz = Sector({0x1F, 0x8B, 8, 8, 0x9A, 0x1E, 0x93, 0x60, 2, 3, 'n', 'o', 't', 'e', 's', 0});
  agrees(50, "gzip of a named file", gz);
  agrees(50, "gzip, no name, fast", Patched(gz, 3, {0, 0, 0, 0, 0, 4, 3}));
  agrees(50, "gzip from an unknown system", Patched(gz, 9, {0xFF}));
  differs(50, "gzip, a reserved flag bit", Patched(gz, 3, {0x28}));
  differs(50, "gzip, extra flags 1", Patched(gz, 8, {1}));
  differs(50, "gzip, system 14", Patched(gz, 9, {14}));
  differs(50, "gzip, system 254", Patched(gz, 9, {254}));

  const Bytes bz2 = TextSector("BZh91AY&SY");
  agrees(51, "bzip2, a block", bz2);
  agrees(51, "bzip2 of nothing, level 1", Patched(bz2, 3, {'1', 0x17, 0x72, 0x45, 0x38, 0x50, 0x90}));
  differs(51, "bzip2 level 0", Patched(bz2, 3, {'0'}));
  differs(51, "bzip2 level ':'", Patched(bz2, 3, {':'}));
  differs(51, "bzip2, a block's magic one off", Patched(bz2, 9, {'X'}));

  // ffmpeg's Flash movie: version 9, 320x240 (15-bit numbers); the same
  // compressed, a zlib stream after the length.
  const Bytes swf = Sector({'F', 'W', 'S', 9, 0x52, 0x34, 0x02, 0, 0x78, 0, 0x05, 0x5F, 0, 0, 0x0F, 0xA0, 0});
  agrees(68, "Flash", swf);
  agrees(68, "Flash, its length just its header", Patched(swf, 4, {8 + 9 + 4, 0, 0, 0}));
  differs(68, "Flash, its length short of its header", Patched(swf, 4, {8 + 9 + 3, 0, 0, 0}));
  differs(68, "Flash version 0", Patched(swf, 3, {0}));
  differs(68, "Flash version 65", Patched(swf, 3, {65}));
  const Bytes cws = Patched(swf, 0, {'C', 'W', 'S', 9, 0x52, 0x34, 0x02, 0, 0x78, 0x9C});
  agrees(69, "compressed Flash", cws);
  agrees(69, "compressed Flash, best", Patched(cws, 9, {0xDA}));
  differs(69, "compressed Flash, a zlib header's check off", Patched(cws, 9, {0x9D}));
  differs(69, "compressed Flash, not deflate", Patched(cws, 8, {0x79, 0x9C}));
  agrees(69, "compressed Flash, version 6", Patched(cws, 3, {6}));
  differs(69, "compressed Flash, version 5 (no compression before 6)", Patched(cws, 3, {5}));
  // A length past the type's largest size (1 MiB here), as text read as
  // one is: a space is version 32, and the rest of a line its length.
  agrees(68, "Flash, its length the largest size", Patched(swf, 4, {0, 0, 0x10, 0}));
  differs(68, "Flash, its length past the largest size", Patched(swf, 4, {1, 0, 0x10, 0}));
  differs(69, "compressed Flash, its length past the largest size", Patched(cws, 4, {1, 0, 0x10, 0}));
  differs(68, "a line of text beginning \"FWS \"", TextSector("FWS files are uncompressed Flash movies"));
  // "x^" a zlib header, the rest of the line as the format would have it.
  differs(69, "a line of text beginning \"CWS (\"", TextSector("CWS (abcx^ are compressed ones"));

  // A PE32+ program (its header at 0x80) and a PE32 one.
  Bytes exe = Patched(Sector({'M', 'Z', 0x90, 0}), 0x3C, {0x80});
  exe = Patched(exe, 0x80, {'P', 'E', 0, 0, 0x64, 0x86, 3, 0});
  exe = Patched(exe, 0x80 + 20, {0xF0, 0, 0x22, 0, 0x0B, 0x02});
  agrees(150, "PE32+", exe);
  agrees(150, "PE32", Patched(Patched(exe, 0x80 + 4, {0x4C, 0x01}), 0x80 + 20, {0xE0, 0, 0x02, 0x01, 0x0B, 0x01}));
  differs(150, "a ROM image's magic", Patched(exe, 0x80 + 24, {0x07, 0x01}));
  differs(150, "no optional header", Patched(exe, 0x80 + 20, {0}));
  differs(150, "PE\\0\\1", Patched(exe, 0x83, {1}));
  differs(150, "a DOS program, its pointer 0", Patched(exe, 0x3C, {0}));
  differs(150, "the PE header past the sector", Patched(exe, 0x3C, {0xF0, 0x01}));
  agrees(150, "the PE header up to the sector's end", [&] {
    Bytes b = Patched(Sector({'M', 'Z', 0x90, 0}), 0x3C, {0xE6, 0x01});
    b = Patched(b, 0x1E6, {'P', 'E', 0, 0, 0x64, 0x86, 3, 0});
    return Patched(b, 0x1E6 + 20, {0xF0, 0, 0x22, 0, 0x0B, 0x02});
  }());

  // ImageMagick's PCX of a 64x64 picture, three planes of 8 bits.
  const Bytes pcx = Patched(Sector({0x0A, 5, 1, 8, 0, 0, 0, 0, 63, 0, 63, 0, 72, 0, 72, 0}), 64, {0, 3, 64, 0, 1, 0});
  agrees(26, "PCX", pcx);
  agrees(26, "PCX of one pixel", Patched(pcx, 8, {0, 0, 0, 0}));
  differs(26, "PCX of 3 bits a pixel", Patched(pcx, 3, {3}));
  differs(26, "PCX of 5 planes", Patched(pcx, 65, {5}));
  differs(26, "PCX of no planes", Patched(pcx, 65, {0}));
  differs(26, "PCX window right of its end", Patched(pcx, 4, {64}));
  differs(26, "PCX window below its end", Patched(pcx, 6, {64}));
  differs(26, "PCX reserved byte set", Patched(pcx, 64, {1}));
  agrees(26, "PCX lines of odd length", Patched(Patched(pcx, 8, {62}), 66, {63}));
  differs(26, "PCX lines shorter than the window", Patched(pcx, 66, {63}));
  differs(26, "PCX of one bit, lines shorter than the window", Patched(Patched(pcx, 3, {1}), 66, {7}));
  agrees(26, "PCX of one bit", Patched(Patched(pcx, 3, {1}), 66, {8}));

  // /bin/true begins 64-bit, little-endian, version 1.
  const Bytes elf = Sector({0x7F, 'E', 'L', 'F', 2, 1, 1, 0});
  agrees(151, "ELF64 LE", elf);
  agrees(151, "ELF32 BE", Patched(elf, 4, {1, 2}));
  for (std::uint8_t bad : {0, 3}) {
    differs(151, "ELF class " + std::to_string(bad), Patched(elf, 4, {bad}));
    differs(151, "ELF data " + std::to_string(bad), Patched(elf, 5, {bad}));
  }
  differs(151, "ELF version 0", Patched(elf, 6, {0}));
  differs(151, "ELF version 2", Patched(elf, 6, {2}));

  // The Liberation fonts' directories: 16 and 19 tables.
  const Bytes ttf = Sector({0, 1, 0, 0, 0, 0x13, 0x01, 0x00, 0, 4, 0, 0x30});
  agrees(158, "TrueType, 19 tables", ttf);
  agrees(158, "TrueType, 16 tables", Sector({0, 1, 0, 0, 0, 0x10, 0x01, 0x00, 0, 4, 0, 0}));
  agrees(158, "TrueType, 1 table", Sector({0, 1, 0, 0, 0, 1, 0, 0x10, 0, 0, 0, 0}));
  differs(158, "TrueType, no tables", Sector({0, 1, 0, 0, 0, 0, 0, 0x10, 0, 0, 0, 0}));
  differs(158, "searchRange", Patched(ttf, 6, {0x01, 0x30}));
  differs(158, "entrySelector", Patched(ttf, 9, {5}));
  differs(158, "rangeShift", Patched(ttf, 11, {0x20}));

  const Bytes posix = TarHeader("ustar\0" "00"sv), gnu = TarHeader("ustar  \0"sv);
  const unsigned sum = SumOf(posix);
  agrees(55, "ustar, checksum as Python and tar write it", WithText(posix, 148, Octal(sum, 6, "\0 "sv)));
  agrees(55, "ustar, seven digits and NUL", WithText(posix, 148, Octal(sum, 7, "\0"sv)));
  agrees(55, "ustar, six digits, space, NUL", WithText(posix, 148, Octal(sum, 6, " \0"sv)));
  agrees(55, "GNU", WithText(gnu, 148, Octal(SumOf(gnu), 6, "\0 "sv)));
  differs(55, "checksum one off", WithText(posix, 148, Octal(sum + 1, 6, "\0 "sv)));
  differs(55, "checksum counting its field as zeros", WithText(posix, 148, Octal(sum - 8 * ' ', 6, "\0 "sv)));
  differs(55, "checksum of eight digits", WithText(posix, 148, Octal(sum, 8, "")));
  // A sum of ...10 (octal) written ...08: right if 8 were a digit.
  Bytes even = posix;
  even[500] = static_cast<std::uint8_t>((8 - sum % 8) % 8);
  differs(55, "checksum with a digit 8", WithText(even, 148, Octal(SumOf(even) / 8 - 1, 5, "8\0 "sv)));
  differs(55, "checksum of spaces", posix);
  differs(55, "checksum ended by an x", WithText(posix, 148, Octal(sum, 6, "\0x"sv)));
  const Bytes v01 = TarHeader("ustar\0" "01"sv), gnuSpace = TarHeader("ustar   "sv);
  differs(55, "ustar version 01", WithText(v01, 148, Octal(SumOf(v01), 6, "\0 "sv)));
  differs(55, "GNU magic ended by a space", WithText(gnuSpace, 148, Octal(SumOf(gnuSpace), 6, "\0 "sv)));

  // Python's mailbox writes the first two; other writers a zero-padded day
  // and CR LF, a zone before the year (a mail service's export) or after
  // it, a zone's name, a UUCP relay.
  for (const char* line : {"From MAILER-DAEMON Tue Dec  8 22:41:55 2026\n",
                           "From someone@example.com Thu Jan  1 00:00:00 1970\nFrom: a\n",
                           "From - Sat Jan 01 00:00:00 2000\r\n",
                           "From 1682329427436937823@xxx Mon Nov 07 12:00:24 +0000 2022\n",
                           "From a@b.example Fri Jun 23 02:56:55 2000 +0200\n",
                           "From a@b.example Fri Jun 23 02:56:55 PST 2000\n",
                           "From a@b.example Fri Jun 23 02:56:55 CET DST 2000\n",
                           "From bob Fri Jun 23 02:56:55 2000 remote from relay\n",
                           "From a@b.example Sat Dec 31 23:59:60 2016\n",
                           "From a@b.example Fri Jun 23 02:56:55 CEST 2000\n"})
    agrees(84, line, TextSector(line));
  for (const char* line : {"From here on, the letter says\n", "From  Tue Dec  8 22:41:55 2026\n",
                           "From a@b Tux Dec  8 22:41:55 2026\n", "From a@b Tue Dex  8 22:41:55 2026\n",
                           "From a@b Tue Dec 32 22:41:55 2026\n", "From a@b Tue Dec  0 22:41:55 2026\n",
                           "From a@b Tue Dec  8 24:41:55 2026\n", "From a@b Tue Dec  8 22:60:55 2026\n",
                           "From a@b Tue Dec  8 22:41:61 2026\n", "From a@b Tue Dec  8 22:41 2026\n",
                           "From a@b Tue Dec  8 22:41:55 226\n", "From a@b Tue Dec  8 22:41:55 2026x\n",
                           "From a@b Tue Dec  8 22:41:55 2026 \x01\n", "From a@b Tue Dec  8 22:41:55 pst 2026\n",
                           "From a@b Tue Dec  8 22:41:55 2026", "From a\x01" "b Tue Dec  8 22:41:55 2026\n"})
    differs(84, line, TextSector(line));
  differs(84, "no line end in the sector", TextSector("From a@b Tue Dec  8 22:41:55 2026 " + std::string(500, 'x')));

  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + ": " + c.what);
    EXPECT_EQ(EvidenceFor(c.type, c.sector), c.agrees ? Evidence::Agrees : Evidence::Disagrees);
  }
  // A tar number in binary: 64 bits at most; more has no value.
  const std::uint8_t most[12] = {0x80, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(tar::ParseNumber(most, 12), UINT64_MAX);
  for (std::size_t k = 1; k < 4; ++k) {
    std::uint8_t more[12] = {0x80, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    more[k] = 1;
    EXPECT_FALSE(tar::ParseNumber(more, 12).has_value()) << k;
  }
  const std::uint8_t high[12] = {0x81, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(tar::ParseNumber(high, 12).has_value());

  // Types whose first bytes tell nothing.
  EXPECT_EQ(EvidenceFor(14, Sector({0xFF, 0xD8, 0xFF})), Evidence::Bare);
}

TEST_F(MadeByTools, FilesTheToolsWriteAgreeWithTheirTypes) {
  const std::string in = "-f lavfi -i testsrc=size=32x32:duration=0.2 -f lavfi -i sine=duration=0.2:sample_rate=8000";
  const struct {
    std::uint16_t type;
    const char* name;
    std::string make;  // writes the file given as $1
  } cases[] = {
      {111, "ffmpeg.mp3", "ffmpeg -v error -f lavfi -i sine=duration=0.1 -metadata title=t \"$1\""},
      {121, "ffmpeg1.mpg", "ffmpeg -v error " + in + " -c:v mpeg1video -c:a mp2 -f mpeg \"$1\""},
      {121, "ffmpeg2.vob", "ffmpeg -v error " + in + " -c:v mpeg2video -c:a mp2 -f vob \"$1\""},
      {59, "ffmpeg.flac", "ffmpeg -v error -f lavfi -i sine=duration=0.1 \"$1\""},
      {59, "sox.flac", "sox -n -r 8000 \"$1\" synth 0.1 sine 440"},
      {62, "ffmpeg.mp4", "ffmpeg -v error -f lavfi -i testsrc=size=32x32:duration=0.1 \"$1\""},
      {67, "im.psd", convert_ + " -size 8x8 xc:red \"$1\""},
      {67, "im.psb", convert_ + " -size 8x8 xc:red \"PSB:$1\""},
      {61, "sox.aiff", "sox -n -r 8000 -c 1 \"$1\" synth 0.1 sine 440"},
      {61, "sox.aifc", "sox -n -r 8000 -c 1 \"$1\" synth 0.1 sine 440"},
      // Three 8-bit samples: sox leaves the pad byte out of the form's size.
      {61, "sox8.aiff", "sox -n -r 8000 -c 1 -b 8 \"$1\" synth 0.000375 sine 440"},
      {61, "ffmpeg.aiff", "ffmpeg -v error -f lavfi -i sine=duration=0.1:sample_rate=8000 \"$1\""},
      {61, "sox-pipe.aiff", "sox -n -r 8000 -c 1 -t aiff - synth 0.1 sine 440 | cat > \"$1\""},
      {64, "ffmpeg.mkv", "ffmpeg -v error " + in + " -c:v mpeg4 -c:a mp2 \"$1\""},
      {64, "ffmpeg.webm", "ffmpeg -v error -f lavfi -i testsrc=size=32x32:duration=0.1 -c:v libvpx \"$1\""},
      {65, "ffmpeg.flv",
       "ffmpeg -v error -f lavfi -i testsrc=size=32x32:duration=0.2 -f lavfi -i sine=duration=0.2 -c:v flv1 -c:a mp3 "
       "\"$1\""},
      {20, "im.ico", convert_ + " -size 16x16 xc:red -define icon:auto-resize=16,32,48 \"$1\""},
      {20, "im-256.ico", convert_ + " -size 256x256 gradient:red-blue -define icon:auto-resize=256,48,32,16 \"$1\""},
      {50, "gzip.gz", "gzip -9 -c /etc/services > \"$1\""},
      {50, "gzip-n.gz", "gzip -1 -n -c < /etc/services > \"$1\""},
      {51, "bzip2.bz2", "bzip2 -c /etc/services > \"$1\""},
      {51, "empty.bz2", "bzip2 -1 -c < /dev/null > \"$1\""},
      {68, "ffmpeg.swf", "ffmpeg -v error -f lavfi -i testsrc=size=64x48:duration=0.2 -f swf \"$1\""},
      // Written to a file, not a pipe, which ffmpeg cannot go back in to
      // write the movie's length.
      {69, "compressed.swf", "ffmpeg -v error -f lavfi -i testsrc=size=64x48:duration=0.2 -f swf \"$1.fws\" && "
                             "python3 -c 'import sys, zlib; d = sys.stdin.buffer.read(); "
                             "sys.stdout.buffer.write(b\"CWS\" + d[3:8] + zlib.compress(d[8:]))' < \"$1.fws\" "
                             "> \"$1\""},
      {150, "objcopy.efi", "printf \"int main(void) { return 0; }\\n\" | gcc -x c -o \"$1.elf\" - && "
                           "objcopy -O efi-app-x86_64 \"$1.elf\" \"$1\""},
      {26, "im.pcx", convert_ + " -size 64x64 gradient:red-blue \"$1\""},
      {26, "im-mono.pcx", convert_ + " -size 33x7 pattern:checkerboard -monochrome \"$1\""},
      {55, "python-ustar.tar", "python3 -c 'import sys, tarfile; t = tarfile.open(sys.argv[1], \"w\", "
                               "format=tarfile.USTAR_FORMAT); t.add(\"/bin/true\", \"a\"); t.close()' \"$1\""},
      {55, "python-gnu.tar", "python3 -c 'import sys, tarfile; t = tarfile.open(sys.argv[1], \"w\", "
                             "format=tarfile.GNU_FORMAT); t.add(\"/bin/true\", \"a\"); t.close()' \"$1\""},
      {55, "tar-posix.tar", "tar --format=posix -cf \"$1\" -C /bin true"},
      {55, "tar-gnu.tar", "tar --format=gnu -cf \"$1\" -C /bin true"},
      {84, "python.mbox", "python3 -c 'import sys, mailbox, email.message; m = email.message.EmailMessage(); "
                          "m[\"Subject\"] = \"s\"; m.set_content(\"From here\"); b = mailbox.mbox(sys.argv[1]); "
                          "b.add(m); b.close()' \"$1\""},
      {151, "true", "cp /bin/true \"$1\""},
      {158, "LiberationSans-Regular.ttf", "cp /usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf \"$1\""},
      {158, "LiberationMono-Bold.ttf", "cp /usr/share/fonts/truetype/liberation/LiberationMono-Bold.ttf \"$1\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir_ / c.name;
    const std::string cmd = "set -- '" + path.string() + "'; { " + c.make + "; } 2>/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(path, std::ios::binary);
    Bytes sector(512, 0);
    in.read(reinterpret_cast<char*>(sector.data()), 512);
    ASSERT_GT(in.gcount(), 12);
    EXPECT_EQ(EvidenceFor(c.type, sector), Evidence::Agrees);
  }
}

// MPEG program streams as the MPEG-2 (`MpegPack2`) and MPEG-1 systems
// layers lay them out: an MPEG-1 pack header holds the 33-bit system clock
// reference (SCR) in pieces with marker bits between them, then the mux
// rate.
Bytes Pack1(std::uint64_t scr) {
  return {0, 0, 1, 0xBA,
          static_cast<std::uint8_t>(0x21 | ((scr >> 29) & 0x0E)),
          static_cast<std::uint8_t>(scr >> 22),
          static_cast<std::uint8_t>(((scr >> 14) & 0xFE) | 0x01),
          static_cast<std::uint8_t>(scr >> 7),
          static_cast<std::uint8_t>(((scr << 1) & 0xFE) | 0x01),
          0x80, 0x12, 0x61};  // markers round mux rate 2352
}
// ffmpeg's system header.
const Bytes kSystemHeader = {0,    0,    1,    0xBB, 0,    0x0C, 0xA1, 0xA1, 0xAD,
                             0x04, 0x21, 0xFF, 0xE0, 0xE0, 0xE6, 0xC0, 0xC0, 0x20};
const Bytes kEndCode = {0, 0, 1, 0xB9};
// A packet of `stream` with `payload` bytes; the payload holds an end code
// and a pack header, which are data, not the stream's.
Bytes Packet(std::uint8_t stream, std::size_t payload) {
  Bytes b = {0, 0, 1, stream, static_cast<std::uint8_t>(payload >> 8), static_cast<std::uint8_t>(payload)};
  b.resize(6 + payload, 0x5A);
  if (payload >= 40) {
    std::copy(kEndCode.begin(), kEndCode.end(), b.begin() + 10);
    const Bytes pack = MpegPack2(0, 0);
    std::copy(pack.begin(), pack.end(), b.begin() + 20);
  }
  return b;
}
// The stream's bytes and where each piece begins.
struct Stream {
  Bytes bytes;
  std::vector<std::uint64_t> starts;
  Stream& operator<<(const Bytes& piece) {
    starts.push_back(bytes.size());
    bytes.insert(bytes.end(), piece.begin(), piece.end());
    return *this;
  }
  std::uint64_t Last() const { return starts.back(); }
};

// Two packs, `from` the first's SCR.
Stream TwoPacks(std::uint64_t from, bool endCode) {
  Stream s;
  s << MpegPack2(from, 0) << kSystemHeader << Packet(0xE0, 700) << MpegPack2(from + 3600, 2) << Packet(0xC0, 200);
  if (endCode) s << kEndCode;
  return s;
}

TEST(MpegAnalyser, StreamsAreWalkedToTheirEndCode) {
  Stream two;
  two << MpegPack2(0, 3) << kSystemHeader << Packet(0xBC, 30) << Packet(0xE0, 1000) << Packet(0xC0, 300) << MpegPack2(3600, 0)
      << Packet(0xE0, 2000) << Packet(0xBE, 50) << MpegPack2(7200, 7) << Packet(0xC0, 100) << kEndCode;
  Stream one;
  one << Pack1(0) << kSystemHeader << Packet(0xE0, 500) << Packet(0xC0, 200) << Pack1(3003) << Packet(0xE0, 700)
      << kEndCode;
  for (const Stream* s : {&two, &one}) {
    SCOPED_TRACE(s == &two ? "MPEG-2" : "MPEG-1");
    MemoryReader disk(DiskWith(s->bytes, 3, 4096));
    AnalysedFile f;
    ASSERT_TRUE(GetMpegFileSize(disk, 3, 1u << 30, f));
    EXPECT_EQ(f.size, s->bytes.size());
    EXPECT_EQ(f.ownBytes, s->bytes.size());
    EXPECT_FALSE(f.unknownSize);
    EXPECT_EQ(f.suffix, u"");
  }

  // A pack header and its end code is a stream; one and what is no start
  // code after it is none.
  {
    Stream ended;
    ended << MpegPack2(0, 2) << kEndCode;
    MemoryReader disk(DiskWith(ended.bytes, 0, 4096));
    AnalysedFile f;
    ASSERT_TRUE(GetMpegFileSize(disk, 0, 1u << 30, f));
    EXPECT_EQ(f.size, ended.bytes.size());
  }
  for (const Bytes& after : {Bytes{0, 0, 0, 0}, Bytes{0, 0, 1, 0xB3}, Bytes{0x5A, 0, 0, 1, 0xBB}}) {
    Bytes lone = MpegPack2(0, 0);
    lone.insert(lone.end(), after.begin(), after.end());
    lone.insert(lone.end(), two.bytes.begin(), two.bytes.end());
    MemoryReader disk(DiskWith(lone, 0, 4096));
    AnalysedFile f;
    EXPECT_FALSE(GetMpegFileSize(disk, 0, 1u << 30, f));
  }

  // No pack header with its marker bits at the start: no stream.
  for (const Bytes& start : {Packet(0xE0, 100), Patched(MpegPack2(0, 0), 12, {0xC0}), Patched(Pack1(0), 8, {0})}) {
    auto bytes = start;
    bytes.insert(bytes.end(), two.bytes.begin(), two.bytes.end());
    MemoryReader disk(DiskWith(bytes, 0, 4096));
    AnalysedFile f;
    EXPECT_FALSE(GetMpegFileSize(disk, 0, 1u << 30, f));
  }
}

TEST(MpegAnalyser, AStreamEndsWhereTheNextOneBegins) {
  auto joined = [](const Stream& a, const Stream& b) {
    Bytes j = a.bytes;
    j.insert(j.end(), b.bytes.begin(), b.bytes.end());
    return j;
  };
  const struct {
    const char* what;
    Stream first, second;
    bool one;  // the two walk as one stream
  } cases[] = {
      {"end code, clock going back", TwoPacks(90000, true), TwoPacks(0, true), false},
      {"end code, clock going on", TwoPacks(0, true), TwoPacks(90000, true), false},
      {"no end code, clock going back", TwoPacks(90000, false), TwoPacks(0, true), false},
      {"no end code, clock going on", TwoPacks(0, false), TwoPacks(90000, true), true},
      {"no end code, clock standing", TwoPacks(0, false), TwoPacks(3600, true), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes both = joined(c.first, c.second);
    MemoryReader disk(DiskWith(both, 1, 4096));
    AnalysedFile f;
    ASSERT_TRUE(GetMpegFileSize(disk, 1, 1u << 30, f));
    const std::uint64_t size = c.one ? both.size() : c.first.bytes.size();
    EXPECT_EQ(f.size, size);
    EXPECT_EQ(f.ownBytes, size);
  }
}

TEST(MpegAnalyser, EveryBitOfTheClockIsReadInItsPlace) {
  // For each of the 33 bits: 2^k then 2^k - 1 is a clock going back, 2^k - 1
  // then 2^k one going on; a bit lost or moved turns one of them round.
  for (const bool mpeg1 : {false, true}) {
    for (int k = 0; k <= 32; ++k) {
      for (const bool back : {true, false}) {
        SCOPED_TRACE(std::string(mpeg1 ? "MPEG-1" : "MPEG-2") + " bit " + std::to_string(k) + (back ? " back" : " on"));
        const std::uint64_t high = std::uint64_t{1} << k, low = high - 1;
        auto pack = [&](std::uint64_t scr) { return mpeg1 ? Pack1(scr) : MpegPack2(scr, 0); };
        Stream s;
        s << pack(back ? high : low) << Packet(0xE0, 50);
        const std::uint64_t second = s.bytes.size();
        s << pack(back ? low : high) << Packet(0xE0, 50) << kEndCode;
        MemoryReader disk(DiskWith(s.bytes, 0, 1024));
        AnalysedFile f;
        ASSERT_TRUE(GetMpegFileSize(disk, 0, 1u << 30, f));
        EXPECT_EQ(f.size, back ? second : s.bytes.size());
      }
    }
  }
}

TEST(MpegAnalyser, WhatIsNoStartCodeEndsTheWalkBeforeTheLastPacket) {
  // The last packet's length led to bytes that begin nothing: its own
  // bytes are not confirmed.
  const Stream cut = TwoPacks(0, false);
  {
    MemoryReader disk(DiskWith(cut.bytes, 2, 4096));
    AnalysedFile f;
    ASSERT_TRUE(GetMpegFileSize(disk, 2, 1u << 30, f));
    EXPECT_EQ(f.size, cut.bytes.size());
    EXPECT_EQ(f.ownBytes, cut.Last());
  }
  // Where the walk is broken: a length that leads into the next packet, a
  // pack header whose marker bit is cleared, a packet of unbounded length
  // (0), a video start code.
  Stream s;
  s << MpegPack2(0, 0) << kSystemHeader << Packet(0xE0, 700);
  const std::uint64_t packet = s.Last(), broken = s.bytes.size();
  const struct {
    const char* what;
    Bytes walked, next;  // the stream up to the break, and what stands there
    std::uint64_t size;
  } cases[] = {
      {"length 5 too long", Patched(s.bytes, packet + 4, {0x02, 0xC1}), {}, broken + 5},
      {"pack marker", s.bytes, Patched(MpegPack2(3600, 0), 8, {0x00}), broken},
      {"unbounded packet", s.bytes, Packet(0xE0, 0), broken},
      {"sequence header", s.bytes, {0, 0, 1, 0xB3, 0x04, 0x00, 0x30, 0x13}, broken},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bytes = c.walked;
    bytes.insert(bytes.end(), c.next.begin(), c.next.end());
    const Stream rest = TwoPacks(3600, true);
    bytes.insert(bytes.end(), rest.bytes.begin(), rest.bytes.end());
    MemoryReader disk(DiskWith(bytes, 0, 4096));
    AnalysedFile f;
    ASSERT_TRUE(GetMpegFileSize(disk, 0, 1u << 30, f));
    EXPECT_EQ(f.size, c.size);
    EXPECT_EQ(f.ownBytes, packet);
  }
}

TEST(MpegAnalyser, LongStreamsCostWhatTheyHoldAndEndAtTheLargestSize) {
  // 64 packs of one long packet each, 4 MiB: every packet reaches past the
  // 64 KiB window.
  Stream s;
  for (std::uint64_t i = 0; i < 64; ++i) s << MpegPack2(i * 3600, 0) << Packet(0xE0, 65000);
  s << kEndCode;
  {
    MemoryReader disk(DiskWith(s.bytes, 5, 4096));
    AnalysedFile f;
    ASSERT_TRUE(GetMpegFileSize(disk, 5, 2048u << 20, f));
    EXPECT_EQ(f.size, s.bytes.size());
    EXPECT_EQ(f.ownBytes, s.bytes.size());
    EXPECT_LE(disk.bytesRead, 2 * s.bytes.size());
  }
  // The largest size falls inside a packet: the file ends there, its own
  // bytes at that packet's start.
  {
    MemoryReader disk(DiskWith(s.bytes, 5, 4096));
    AnalysedFile f;
    ASSERT_TRUE(GetMpegFileSize(disk, 5, 1000000, f));
    EXPECT_EQ(f.size, 1000000u);
    const auto inside = std::upper_bound(s.starts.begin(), s.starts.end(), 1000000u) - 1;
    EXPECT_EQ(f.ownBytes, *inside);
    EXPECT_LT(f.ownBytes, 1000000u - 14);  // a packet, not a pack header
  }
  // A start code standing exactly at the largest size is not walked: the
  // file's own bytes end at the packet before it.
  {
    const std::size_t k = 41;
    MemoryReader disk(DiskWith(s.bytes, 5, 4096));
    AnalysedFile f;
    ASSERT_TRUE(GetMpegFileSize(disk, 5, s.starts[k], f));
    EXPECT_EQ(f.size, s.starts[k]);
    EXPECT_EQ(f.ownBytes, s.starts[k - 1]);
  }
  // Stop keeps what the walk reached.
  {
    MemoryReader disk(DiskWith(s.bytes, 5, 4096));
    disk.abortAfter = 3;
    AnalysedFile f;
    ASSERT_TRUE(GetMpegFileSize(disk, 5, 2048u << 20, f));
    EXPECT_GT(f.size, 3u * 60000);
    EXPECT_LT(f.size, s.bytes.size());
    EXPECT_LT(f.ownBytes, f.size);
    EXPECT_TRUE(std::binary_search(s.starts.begin(), s.starts.end(), f.ownBytes));
    EXPECT_LE(disk.reads, 4u);
  }
}

TEST_F(MadeByTools, MpegStreamsFromFfmpegAreWalkedToTheirEnd) {
  const std::string in = "-f lavfi -i testsrc=size=64x48:duration=0.5 -f lavfi -i sine=duration=0.5";
  const struct {
    const char* name;
    std::string args;
  } cases[] = {
      {"mpeg1.mpg", "-c:v mpeg1video -c:a mp2 -f mpeg"},
      {"mpeg2.vob", "-c:v mpeg2video -c:a mp2 -f vob"},
      {"mpeg2.mpg", "-c:v mpeg2video -c:a mp2 -f dvd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto path = dir_ / c.name;
    const std::string cmd = "ffmpeg -v error -y " + in + " " + c.args + " '" + path.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream file(path, std::ios::binary);
    const Bytes mpg{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    ASSERT_GT(mpg.size(), 8192u);
    // ffmpeg writes no end code: the walk ends at the garbage after the
    // file, the last packet, in the last 2048-byte pack, not confirmed.
    MemoryReader disk(DiskWith(mpg, 2, 4096));
    AnalysedFile f;
    ASSERT_TRUE(GetMpegFileSize(disk, 2, 2048u << 20, f));
    EXPECT_EQ(f.size, mpg.size());
    EXPECT_LT(f.ownBytes, f.size);
    EXPECT_GT(f.ownBytes, f.size - 2048);
    // Written twice back to back, its clock going back to 0 ends the first.
    Bytes twice = mpg;
    twice.insert(twice.end(), mpg.begin(), mpg.end());
    MemoryReader disk2(DiskWith(twice, 0, 4096));
    AnalysedFile g;
    ASSERT_TRUE(GetMpegFileSize(disk2, 0, 2048u << 20, g));
    EXPECT_EQ(g.size, mpg.size());
    EXPECT_EQ(g.ownBytes, mpg.size());
  }
}

}  // namespace
}  // namespace corvan
