// The GIF, JPEG and TIFF analysers size pictures made by the usual tools
// wherever they lie on a disk, name them from their own tags, and end their
// walks on damaged and looping structures.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <array>
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
using test::kVolumeEnd;
using test::MemoryReader;

using test::Bytes;
using Analyser = bool (*)(CarveReader&, std::uint64_t, AnalysedFile&);


AnalysedFile Analyse(Analyser analyser, Bytes disk, std::uint64_t sector, bool taken = true, bool aborted = false) {
  MemoryReader reader(std::move(disk), aborted);
  AnalysedFile f;
  EXPECT_EQ(analyser(reader, sector, f), taken);
  if (!taken) {
    EXPECT_TRUE(f.suffix.empty());
  }
  return f;
}

// DOS stamps as the format defines them.
constexpr std::uint16_t kDosDate = ((2010 - 1980) << 9) | (3 << 5) | 12;  // 12 March 2010
constexpr std::uint16_t kDosTime = (15 << 11) | (30 << 5) | (45 / 2);     // 15:30:45

class ImageAnalysersTools : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("corvan-images-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  static bool Have(const char* tool) {
    return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
  }
  void Run(const std::string& cmd) {
    ASSERT_EQ(std::system(("cd '" + dir_.string() + "' && (" + cmd + ") >/dev/null 2>&1").c_str()), 0) << cmd;
  }
  Bytes Read(const std::string& name) {
    std::ifstream in(dir_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  std::filesystem::path dir_;
};

#define REQUIRE_TOOLS(...)            \
  for (const char* t : {__VA_ARGS__}) { \
    if (!Have(t)) {                     \
      GTEST_SKIP() << t << " is missing"; \
    }                                   \
  }

// ---------------------------------------------------------------- JPEG ----

TEST_F(ImageAnalysersTools, JpegsEndAfterTheirEndMarkerAndAreNamedFromExif) {
  REQUIRE_TOOLS("convert", "exiftool");
  Run("convert -size 640x480 -seed 1 plasma: plain.jpg");
  Run("convert -size 320x200 -seed 1 plasma: -interlace Plane progressive.jpg");
  // ModifyDate is the first IFD's DateTime; DateTimeOriginal lies in the
  // Exif IFD, which the name does not look into.
  Run("cp plain.jpg app0.jpg && exiftool -q -overwrite_original -DateTimeOriginal='2010:03:12 15:30:45' "
      "-ModifyDate='2010:03:12 15:30:45' -Model='TestCam' app0.jpg");
  Run("cp app0.jpg app1.jpg && exiftool -q -overwrite_original -JFIF:all= app1.jpg");
  Run("cp plain.jpg undated.jpg && exiftool -q -overwrite_original -DateTimeOriginal='2010:03:12 15:30:45' "
      "-Make='TestMake' -Model='TestCam' undated.jpg");
  const struct {
    const char* name;
    std::uint8_t firstSegment;
    const char16_t* suffix;
  } cases[] = {
      {"plain.jpg", 0xE0, u"(640x480)"},
      {"progressive.jpg", 0xE0, u"(320x200)"},  // several scans, one end marker
      // The Exif APP1 after the JFIF APP0, and as the first segment.
      {"app0.jpg", 0xE0, u"(3-12-2010 15-30-46)TestCam(640x480)"},
      {"app1.jpg", 0xE1, u"(3-12-2010 15-30-46)TestCam(640x480)"},
      // Make and Model lie next to each other and are joined.
      {"undated.jpg", 0xE0, u"TestMake TestCam(640x480)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes jpeg = Read(c.name);
    ASSERT_GT(jpeg.size(), 2000u);
    ASSERT_EQ(jpeg[3], c.firstSegment);
    ASSERT_EQ(GetBE16(&jpeg[jpeg.size() - 2]), 0xFFD9);
    const AnalysedFile f = Analyse(GetJpegFileSize, DiskWith(jpeg, 7, 5000), 7);
    EXPECT_EQ(f.size, jpeg.size());
    EXPECT_EQ(f.suffix, c.suffix);
    const bool dated = f.suffix.starts_with(u"(3-12");
    EXPECT_EQ(f.dosDate, dated ? kDosDate : 0);
    EXPECT_EQ(f.dosTime, dated ? kDosTime : 0);
    // In the last sectors of a volume, with less than a search window left.
    EXPECT_EQ(Analyse(GetJpegFileSize, DiskWith(jpeg, 3, kVolumeEnd), 3).size, jpeg.size());
  }
}

TEST_F(ImageAnalysersTools, JpegsWithoutTheirEndKeepThePositionReached) {
  REQUIRE_TOOLS("convert");
  Run("convert -size 640x480 -seed 1 plasma: p.jpg");
  const Bytes jpeg = Read("p.jpg");
  std::size_t scan = 2;  // the first scan: the segments before it are walked by their lengths
  while (scan + 4 <= jpeg.size() && GetBE16(&jpeg[scan]) != 0xFFDA) scan += 2 + GetBE16(&jpeg[scan + 2]);
  ASSERT_LT(scan, jpeg.size());

  // Cut by the end of the volume: everything up to it is the file.
  const Bytes cut(jpeg.begin(), jpeg.begin() + 64 * 1024);
  const AnalysedFile f = Analyse(GetJpegFileSize, DiskWith(cut, 5, 0), 5);
  EXPECT_EQ(f.size, cut.size());
  EXPECT_EQ(f.suffix, u"(640x480)");
  // No end marker within the search bound past the first scan: the search
  // moves on by the bound, then 65 bytes that begin no segment end the walk.
  const Bytes open(jpeg.begin(), jpeg.end() - 2);
  EXPECT_EQ(Analyse(GetJpegFileSize, DiskWith(open, 1, 0x1F00000), 1).size, scan + 2 + 0x1E00000 + 65);
  // A stopped scan keeps where the walk stood: after the first segment.
  EXPECT_EQ(Analyse(GetJpegFileSize, DiskWith(jpeg, 0, 512), 0, true, true).size, 4u + GetBE16(&jpeg[4]));
}

TEST(ImageAnalysers, JpegEndMarkerAcrossSearchWindowsAndRejectedStarts) {
  // A 64 x 48 baseline JPEG's headers as the format defines them, then scan
  // data up to an end marker that straddles the first two 1 MiB windows.
  const std::uint8_t headers[] = {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0,
                                  0xFF, 0xC0, 0, 11, 8, 0, 48, 0, 64, 1, 1, 0x11, 0,  // frame: 48 rows of 64
                                  0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0};              // scan
  Bytes j(0x100000 + 1, 0x11);
  std::copy(std::begin(headers), std::end(headers), j.begin());
  j[0x100000 - 1] = 0xFF;
  j[0x100000] = 0xD9;
  const AnalysedFile f = Analyse(GetJpegFileSize, DiskWith(j, 4, 2048), 4);
  EXPECT_EQ(f.size, j.size());
  EXPECT_EQ(f.suffix, u"(64x48)");
  // A start of image followed by a quantisation table is not taken.
  j[3] = 0xDB;
  Analyse(GetJpegFileSize, DiskWith(j, 0, 1024), 0, false);
}

// ---------------------------------------------------------------- TIFF ----

// Little- or big-endian fields of a TIFF, as its first two bytes say.
struct Tiff {
  const Bytes& t;
  std::uint32_t U16(std::size_t at) const { return t[0] == 'M' ? GetBE16(&t[at]) : GetLE16(&t[at]); }
  std::uint32_t U32(std::size_t at) const { return t[0] == 'M' ? GetBE32(&t[at]) : GetLE32(&t[at]); }
  std::size_t NextField(std::size_t ifd) const { return ifd + 2 + 12 * U16(ifd); }
  // Where the data of the first IFD's last entry ends: the size given to a
  // file whose IFD follows its strip. It is the file's end when the entries'
  // data follows in tag order (as tiffcp writes it); ImageMagick writes the
  // white point after the primaries, and that tail is not counted.
  std::uint64_t LastEntryDataEnd() const {
    const std::size_t last = NextField(U32(4)) - 12;
    const std::uint32_t type = U16(last + 2);
    return U32(last + 8) + std::uint64_t{U32(last + 4)} * (type == 3 ? 2 : type == 4 ? 4 : type == 5 ? 8 : 1);
  }
};

TEST_F(ImageAnalysersTools, TiffsFromConvertExiftoolAndTiffcp) {
  REQUIRE_TOOLS("convert", "exiftool", "tiffcp");
  Run("convert -size 64x48 gradient:red-blue little.tif && convert -size 40x30 -seed 1 plasma: second.tif");
  Run("convert -size 64x48 gradient:red-blue -define tiff:endian=msb big.tif");
  // exiftool writes the IFD first and the strips after it.
  const std::string tag = "exiftool -q -overwrite_original ";
  Run("cp little.tif tagged.tif && " + tag + "-ModifyDate='2010:03:12 15:30:45' -Model=' TestCam ' "
      "-DocumentName='NEWscan.tiff' tagged.tif");
  Run("cp little.tif new.tif && " + tag + "-Model=TestCam -DocumentName='NEWscan 7.tiff' new.tif");
  Run("cp little.tif old.tif && " + tag + "-Model=TestCam -DocumentName='scan.tiff' old.tif");
  Run("cp little.tif short.tif && " + tag + "-Model=TestCam -DocumentName='NEWscan.tif' short.tif");
  Run("tiffcp tagged.tif second.tif pages.tif && tiffcp -B tagged.tif second.tif bigpages.tif");
  Run("convert -size 64x48 gradient:red-blue -define tiff:rows-per-strip=8 strips.tif && " + tag +
      "-Model=Ab strips.tif");
  const struct {
    const char* name;
    const char16_t* suffix;
    bool exact;  // else the last entry's data ends it
  } cases[] = {
      {"little.tif", u"(64x48)", false},
      {"big.tif", u"(64x48)", false},
      {"tagged.tif", u"(3-12-2010 15-30-46)TestCam(64x48)", true},
      // Without a date, a "NEW" document name cut before ".tiff".
      {"new.tif", u"NEWscan 7TestCam(64x48)", true},
      {"old.tif", u"TestCam(64x48)", true},
      {"short.tif", u"TestCam(64x48)", true},
      // Names come from the first page; the last page's data ends the file.
      {"pages.tif", u"(3-12-2010 15-30-46)TestCam(64x48)", true},
      {"bigpages.tif", u"(3-12-2010 15-30-46)TestCam(64x48)", true},
      // The last of several strips ends the file; a model of two letters is
      // held in its entry.
      {"strips.tif", u"Ab(64x48)", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes tiff = Read(c.name);
    ASSERT_GT(tiff.size(), 1000u);
    const AnalysedFile f = Analyse(GetTiffFileSize, DiskWith(tiff, 6, 4096), 6);
    EXPECT_EQ(f.size, c.exact ? tiff.size() : Tiff{tiff}.LastEntryDataEnd());
    EXPECT_EQ(f.suffix, c.suffix);
    const bool dated = f.suffix.starts_with(u"(3-12");
    EXPECT_EQ(f.dosDate, dated ? kDosDate : 0);
    EXPECT_EQ(f.dosTime, dated ? kDosTime : 0);
  }
}

TEST_F(ImageAnalysersTools, TiffChainsThatLoopAndTiffsAtTheVolumeEnd) {
  REQUIRE_TOOLS("convert", "tiffcp");
  Run("convert -size 64x48 gradient:red-blue one.tif && convert -size 40x30 -seed 1 plasma: two.tif");
  Run("tiffcp one.tif two.tif pages.tif");
  const Bytes single = Read("one.tif"), pages = Read("pages.tif");
  const Tiff p{pages};
  const std::size_t first = p.U32(4), second = p.U32(p.NextField(first));
  ASSERT_NE(second, 0u);
  ASSERT_EQ(p.U32(p.NextField(second)), 0u);
  // The second page points back to the first, or to itself: the walk ends
  // with the second page's data, the file's end. A single page pointing to
  // itself ends with its own last entry's data.
  Bytes back = pages, self = pages, selfSingle = single;
  PutLE32(&back[p.NextField(second)], static_cast<std::uint32_t>(first));
  PutLE32(&self[p.NextField(second)], static_cast<std::uint32_t>(second));
  const std::size_t only = GetLE32(&single[4]);
  PutLE32(&selfSingle[Tiff{single}.NextField(only)], static_cast<std::uint32_t>(only));
  EXPECT_EQ(Analyse(GetTiffFileSize, DiskWith(back, 2, 2048), 2).size, pages.size());
  EXPECT_EQ(Analyse(GetTiffFileSize, DiskWith(self, 2, 2048), 2).size, pages.size());
  EXPECT_EQ(Analyse(GetTiffFileSize, DiskWith(selfSingle, 2, 2048), 2).size, Tiff{single}.LastEntryDataEnd());

  // The IFD in the volume's last sector is read; cut before its IFD, the
  // picture cannot be told from damage.
  ASSERT_GE(only, single.size() / 512 * 512);
  const AnalysedFile f = Analyse(GetTiffFileSize, DiskWith(single, 9, kVolumeEnd), 9);
  EXPECT_EQ(f.size, Tiff{single}.LastEntryDataEnd());
  EXPECT_EQ(f.suffix, u"(64x48)");
  Analyse(GetTiffFileSize, DiskWith(Bytes(single.begin(), single.begin() + 16384), 1, 0), 1, false);
}

// A big-endian TIFF as the format defines it: one IFD at 8 with the given
// entries (tag, type, count, value), then a strip of `data` bytes.
Bytes HandMadeTiff(std::vector<std::array<std::uint32_t, 4>> entries, std::uint32_t data) {
  const auto stripAt = static_cast<std::uint32_t>(8 + 2 + 12 * (entries.size() + 2) + 4);
  entries.push_back({0x0111, 4, 1, stripAt});
  entries.push_back({0x0117, 4, 1, data});
  std::sort(entries.begin(), entries.end());
  Bytes t(stripAt + data, 0x5A);
  const std::uint8_t header[] = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, static_cast<std::uint8_t>(entries.size())};
  std::copy(std::begin(header), std::end(header), t.begin());
  std::uint8_t* e = &t[10];
  for (const auto& [tag, type, count, value] : entries) {
    PutBE32(e, tag << 16 | type);
    PutBE32(e + 4, count);
    PutBE32(e + 8, type == 3 && count == 1 ? value << 16 : value);  // a SHORT fills the first half
    e += 12;
  }
  PutBE32(e, 0);
  return t;
}

TEST(ImageAnalysers, TiffDimensionsByTypeAndCameraRawFiles) {
  // SHORT and LONG dimensions in big-endian order; the strip ends the file.
  for (std::uint32_t type : {3u, 4u}) {
    const Bytes t = HandMadeTiff({{0x0100, type, 1, 300}, {0x0101, type, 1, 200}}, 100);
    const AnalysedFile f = Analyse(GetTiffFileSize, DiskWith(t, 3, 1024), 3);
    EXPECT_EQ(f.size, t.size());
    EXPECT_EQ(f.suffix, u"(300x200)");
  }
  // SubIFDs or a DNG version make a camera raw file, unless IPTC data
  // follows.
  Analyse(GetTiffFileSize, DiskWith(HandMadeTiff({{0x014A, 4, 1, 0}}, 60), 0, 1024), 0, false);
  Analyse(GetTiffFileSize, DiskWith(HandMadeTiff({{0xC612, 1, 4, 0x01040000}}, 60), 0, 1024), 0, false);
  const Bytes iptc = HandMadeTiff({{0x014A, 4, 1, 0}, {0x83BB, 4, 1, 0}}, 60);
  EXPECT_EQ(Analyse(GetTiffFileSize, DiskWith(iptc, 0, 1024), 0).size, iptc.size());
}

// ----------------------------------------------------------------- GIF ----

TEST_F(ImageAnalysersTools, GifsEndAtTheirTrailer) {
  REQUIRE_TOOLS("convert", "gifsicle");
  Run("convert -size 100x80 -seed 1 plasma: still.gif");
  Run("for c in red blue green; do convert -size 30x20 xc:$c $c.gif; done");
  Run("gifsicle --loopcount=0 --delay 10 --comment 'three frames' red.gif blue.gif green.gif -o moving.gif");
  const struct {
    const char* name;
    const char16_t* suffix;
  } cases[] = {{"still.gif", u"(100x80)"}, {"moving.gif", u"(30x20)"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes gif = Read(c.name);
    ASSERT_GT(gif.size(), 100u);
    ASSERT_EQ(GetBE16(&gif[gif.size() - 2]), 0x003B);  // the last block's terminator, the trailer
    // Followed by other data, or in the volume's last sectors, the file ends
    // with its trailer; followed by a zero byte (00 3B 00) it takes the zero.
    const AnalysedFile f = Analyse(GetGifFileSize, DiskWith(gif, 5, 3000), 5);
    EXPECT_EQ(f.size, gif.size());
    EXPECT_EQ(f.suffix, c.suffix);
    EXPECT_EQ(Analyse(GetGifFileSize, DiskWith(gif, 2, kVolumeEnd), 2).size, gif.size());
    Bytes zero = DiskWith(gif, 5, 3000);
    zero[5 * 512 + gif.size()] = 0;
    EXPECT_EQ(Analyse(GetGifFileSize, zero, 5).size, gif.size() + 1);
  }
  // Cut by the end of the volume, the walk ends at the first sub-block that
  // lies beyond it: within one sub-block (at most 256 bytes) of the end.
  const Bytes still = Read("still.gif");
  ASSERT_GT(still.size(), 4096u);
  const AnalysedFile f = Analyse(GetGifFileSize, DiskWith(Bytes(still.begin(), still.begin() + 4096), 3, 0), 3);
  EXPECT_GE(f.size, 4096u);
  EXPECT_LE(f.size, 4096u + 256);
  EXPECT_EQ(f.suffix, u"(100x80)");
}

TEST(ImageAnalysers, GifWithoutGlobalTableAndDamagedGifs) {
  // A 1 x 1 GIF as the format defines it: packed field 0x11 (no global
  // colour table), an image with a local table of four colours, one
  // sub-block of data, its terminator and the trailer.
  const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x11, 0, 0,
                     0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0x81,
                     0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 255,
                     2, 2, 0x44, 1, 0, 0x3B};
  const AnalysedFile f = Analyse(GetGifFileSize, DiskWith(gif, 1, 1024), 1);
  EXPECT_EQ(f.size, gif.size());
  EXPECT_EQ(f.suffix, u"(1x1)");
  // Ending 00 3B 00: the terminator's position + 3.
  Bytes zero = DiskWith(gif, 1, 1024);
  zero[512 + gif.size()] = 0;
  EXPECT_EQ(Analyse(GetGifFileSize, zero, 1).size, (gif.size() - 2) + 3);
  // Not a GIF version.
  Bytes other = gif;
  other[4] = '8';
  Analyse(GetGifFileSize, DiskWith(other, 0, 1024), 0, false);
  // Image data whose sub-block lengths never lead to a zero (erased flash
  // reads all ones) ends the walk at 50 MiB, not at the volume's end.
  Bytes erased(60u << 20, 0xFF);
  std::copy(gif.begin(), gif.begin() + 36, erased.begin());
  const AnalysedFile e = Analyse(GetGifFileSize, std::move(erased), 0);
  EXPECT_GT(e.size, 0x3200000u);
  EXPECT_LE(e.size, 0x3200000u + 256);
}

}  // namespace
}  // namespace corvan
