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
  // Any segment may follow the start of image (a file stripped of its
  // metadata begins with its tables); a scan, a restart or an end marker
  // may not.
  for (std::uint8_t m : {0xDB, 0xC4, 0xEA, 0xEB, 0xEF, 0xFE}) {
    j[3] = m;
    EXPECT_EQ(Analyse(GetJpegFileSize, DiskWith(j, 4, 2048), 4).size, j.size()) << int{m};
  }
  for (std::uint8_t m : {0xDA, 0xD0, 0xD9, 0x00}) {
    j[3] = m;
    Analyse(GetJpegFileSize, DiskWith(j, 0, 1024), 0, false);
  }
}

// ---------------------------------------------------------------- TIFF ----

// Little- or big-endian fields of a TIFF, as its first two bytes say.
struct Tiff {
  const Bytes& t;
  std::uint32_t U16(std::size_t at) const { return t[0] == 'M' ? GetBE16(&t[at]) : GetLE16(&t[at]); }
  std::uint32_t U32(std::size_t at) const { return t[0] == 'M' ? GetBE32(&t[at]) : GetLE32(&t[at]); }
  std::size_t NextField(std::size_t ifd) const { return ifd + 2 + 12 * U16(ifd); }
  std::size_t Pages() const {
    std::size_t n = 0;
    for (std::size_t ifd = U32(4); ifd != 0 && n < 16; ifd = U32(NextField(ifd))) ++n;
    return n;
  }
  // Whether the first IFD holds `tag`.
  bool Has(std::uint32_t tag) const {
    for (std::size_t e = U32(4) + 2; e < NextField(U32(4)); e += 12)
      if (U16(e) == tag) return true;
    return false;
  }
  // Where the data of the first IFD's last entry ends.
  std::uint64_t LastEntryDataEnd() const {
    const std::size_t last = NextField(U32(4)) - 12;
    const std::uint32_t type = U16(last + 2);
    return U32(last + 8) + std::uint64_t{U32(last + 4)} * (type == 3 ? 2 : type == 4 ? 4 : type == 5 ? 8 : 1);
  }
};

// A TIFF ends with the furthest of its IFDs, entry values and strips or
// tiles, in whatever order its writer put them: ImageMagick writes the
// white point after the primaries, behind everything else; exiftool and
// tiffcp write the IFD in front of the strips.
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
  // Compressed strips, tiles, and pages written by ImageMagick itself.
  Run("convert -size 64x48 -seed 2 plasma: -compress LZW -define tiff:rows-per-strip=5 lzw.tif");
  Run("convert -size 64x48 -seed 3 plasma: -compress Zip -define tiff:endian=msb zip-be.tif");
  Run("convert -size 64x48 -seed 4 plasma: -compress JPEG jpeg.tif");
  Run("convert -size 64x48 gradient:red-blue -define tiff:tile-geometry=16x16 tiles.tif");
  Run("convert -size 64x48 -define tiff:tile-geometry=16x16 -define tiff:endian=msb gradient:red-blue tiles-be.tif");
  Run("convert -size 64x48 xc:red -size 30x20 -seed 5 plasma: -size 16x16 gradient:green-yellow three.tif");
  Run("convert -size 64x48 xc:red -size 30x20 -seed 5 plasma: -define tiff:endian=msb three-be.tif");
  const struct {
    const char* name;
    const char16_t* suffix;
  } cases[] = {
      {"little.tif", u"(64x48)"},
      {"big.tif", u"(64x48)"},
      {"tagged.tif", u"(3-12-2010 15-30-46)TestCam(64x48)"},
      // Without a date, a "NEW" document name cut before ".tiff".
      {"new.tif", u"NEWscan 7TestCam(64x48)"},
      {"old.tif", u"TestCam(64x48)"},
      {"short.tif", u"TestCam(64x48)"},
      // Names come from the first page; the last page's data ends the file.
      {"pages.tif", u"(3-12-2010 15-30-46)TestCam(64x48)"},
      {"bigpages.tif", u"(3-12-2010 15-30-46)TestCam(64x48)"},
      // A model of two letters is held in its entry.
      {"strips.tif", u"Ab(64x48)"},
      {"lzw.tif", u"(64x48)"},
      {"zip-be.tif", u"(64x48)"},
      {"jpeg.tif", u"(64x48)"},
      {"tiles.tif", u"(64x48)"},
      {"tiles-be.tif", u"(64x48)"},
      {"three.tif", u"(64x48)"},
      {"three-be.tif", u"(64x48)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes tiff = Read(c.name);
    ASSERT_GT(tiff.size(), 1000u);
    // Followed by other data, by zeros, or by the volume's end.
    const AnalysedFile f = Analyse(GetTiffFileSize, DiskWith(tiff, 6, 4096), 6);
    EXPECT_EQ(f.size, tiff.size());
    EXPECT_EQ(f.suffix, c.suffix);
    const bool dated = f.suffix.starts_with(u"(3-12");
    EXPECT_EQ(f.dosDate, dated ? kDosDate : 0);
    EXPECT_EQ(f.dosTime, dated ? kDosTime : 0);
    Bytes zeros = DiskWith(tiff, 1, 4096);
    std::fill(zeros.begin() + 512 + static_cast<std::ptrdiff_t>(tiff.size()), zeros.end(), 0);
    EXPECT_EQ(Analyse(GetTiffFileSize, zeros, 1).size, tiff.size());
    EXPECT_EQ(Analyse(GetTiffFileSize, DiskWith(tiff, 2, kVolumeEnd), 2).size, tiff.size());
  }
  // The writers' layouts these cases stand for: ImageMagick's strip before
  // its IFD and data after the last entry's, exiftool's IFD in front, tiles,
  // pages.
  const Bytes little = Read("little.tif");
  EXPECT_GT(Tiff{little}.U32(4), 8u);
  EXPECT_LT(Tiff{little}.LastEntryDataEnd(), little.size());
  EXPECT_EQ(Tiff{Read("tagged.tif")}.U32(4), 8u);
  EXPECT_TRUE(Tiff{Read("tiles-be.tif")}.Has(0x0145));
  EXPECT_EQ(Tiff{Read("three.tif")}.Pages(), 3u);
  EXPECT_EQ(Tiff{Read("three-be.tif")}.Pages(), 2u);
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
  // The second page points back to the first, or to itself; a single page
  // points to itself: the walk ends, and the file with the furthest data of
  // the IFDs it walked.
  Bytes back = pages, self = pages, selfSingle = single;
  PutLE32(&back[p.NextField(second)], static_cast<std::uint32_t>(first));
  PutLE32(&self[p.NextField(second)], static_cast<std::uint32_t>(second));
  const std::size_t only = GetLE32(&single[4]);
  PutLE32(&selfSingle[Tiff{single}.NextField(only)], static_cast<std::uint32_t>(only));
  EXPECT_EQ(Analyse(GetTiffFileSize, DiskWith(back, 2, 2048), 2).size, pages.size());
  EXPECT_EQ(Analyse(GetTiffFileSize, DiskWith(self, 2, 2048), 2).size, pages.size());
  EXPECT_EQ(Analyse(GetTiffFileSize, DiskWith(selfSingle, 2, 2048), 2).size, single.size());

  // The IFD in the volume's last sector is read; cut before its IFD, the
  // picture cannot be told from damage.
  ASSERT_GE(only, single.size() / 512 * 512);
  const AnalysedFile f = Analyse(GetTiffFileSize, DiskWith(single, 9, kVolumeEnd), 9);
  EXPECT_EQ(f.size, single.size());
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

TEST(ImageAnalysers, ATiffWhoseDirectoriesShareTheirBytesCostsWhatTheFileHolds) {
  // A little-endian TIFF whose first IFD's Exif tag lists 16,384 IFDs one
  // byte apart, each claiming 771 entries (the count 0x0303 of the bytes it
  // lies in): about 90 KB, listing 12.6 million entries.
  constexpr std::uint32_t kIfds = 16384, kEntries = 0x0303;
  constexpr std::uint32_t kList = 64, kFirst = kList + 4 * kIfds;
  constexpr std::uint32_t kEnd = kFirst + (kIfds - 1) + 2 + 12 * kEntries + 4;
  Bytes bomb(kEnd, 0x03);
  const std::uint8_t header[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 3, 0};
  std::copy(std::begin(header), std::end(header), bomb.begin());
  const std::uint32_t entries[3][4] = {{0x0100, 3, 1, 10}, {0x0101, 3, 1, 10}, {0x8769, 4, kIfds, kList}};
  for (int k = 0; k < 3; ++k) {
    std::uint8_t* e = &bomb[10 + 12 * k];
    PutLE16(e, static_cast<std::uint16_t>(entries[k][0]));
    PutLE16(e + 2, static_cast<std::uint16_t>(entries[k][1]));
    PutLE32(e + 4, entries[k][2]);
    PutLE32(e + 8, entries[k][3]);
  }
  PutLE32(&bomb[10 + 36], 0);
  for (std::uint32_t i = 0; i < kIfds; ++i) PutLE32(&bomb[kList + 4 * i], kFirst + i);
  ASSERT_GT(bomb.size(), 80000u);
  ASSERT_LT(bomb.size(), 92000u);
  MemoryReader reader(DiskWith(bomb, 2, 4096));
  AnalysedFile f;
  ASSERT_TRUE(GetTiffFileSize(reader, 2, f));
  // The last IFD listed reaches furthest, and is the file's end.
  EXPECT_EQ(f.size, bomb.size());
  // Each byte read a few times at most, not once for every IFD that
  // claims it.
  EXPECT_LE(reader.bytesRead, 8 * bomb.size());
}

// A TIFF written field by field as the format defines it, in either byte
// order: IFDs and arrays where the test puts them, 0x5A everywhere else.
class TiffWriter {
 public:
  TiffWriter(bool big, std::size_t size) : big_(big), bytes(size, 0x5A) {
    std::memcpy(bytes.data(), big ? "MM\0*" : "II*\0", 4);
    U32(4, 8);
  }
  // An IFD at `at`: its entries (tag, type, count, value; a single SHORT is
  // put in the first half of the value field) and the next IFD's offset.
  void Ifd(std::size_t at, const std::vector<std::array<std::uint32_t, 4>>& entries, std::uint32_t next) {
    U16(at, static_cast<std::uint32_t>(entries.size()));
    for (const auto& [tag, type, count, value] : entries) {
      U16(at + 2, tag);
      U16(at + 4, type);
      U32(at + 6, count);
      if (type == 3 && count == 1) {
        U16(at + 10, value);
        U16(at + 12, 0);
      } else {
        U32(at + 10, value);
      }
      at += 12;
    }
    U32(at + 2, next);
  }
  void U16(std::size_t at, std::uint32_t v) {
    bytes[at + (big_ ? 1 : 0)] = static_cast<std::uint8_t>(v);
    bytes[at + (big_ ? 0 : 1)] = static_cast<std::uint8_t>(v >> 8);
  }
  void U32(std::size_t at, std::uint32_t v) { big_ ? PutBE32(&bytes[at], v) : PutLE32(&bytes[at], v); }

 private:
  bool big_;

 public:
  Bytes bytes;
};

TEST(ImageAnalysers, TiffSizeIsTheFurthestByteOfItsIfdsValuesStripsAndTiles) {
  for (const bool big : {false, true}) {
    SCOPED_TRACE(big ? "big-endian" : "little-endian");
    // The first IFD (8..98): a 16 x 16 strip at 100..200, SubIFDs at 300 and
    // IPTC data (so it is no camera raw file), and an Exif IFD at 340. The
    // sub-IFD's strip lies at `subStrip` (50 bytes), the Exif IFD's comment
    // at `comment` (40 bytes); the first IFD's next IFD is `next`.
    auto make = [&](std::uint32_t subStrip, std::uint32_t comment, std::uint32_t next) {
      TiffWriter w(big, 1024);
      w.Ifd(8, {{0x0100, 3, 1, 16}, {0x0101, 3, 1, 16}, {0x0111, 4, 1, 100}, {0x0117, 4, 1, 100},
                {0x014A, 4, 1, 300}, {0x83BB, 4, 2, 260}, {0x8769, 4, 1, 340}}, next);
      w.Ifd(300, {{0x0111, 4, 1, subStrip}, {0x0117, 4, 1, 50}}, 0);
      w.Ifd(340, {{0x9286, 7, 40, comment}}, 0);
      return w;
    };
    // The Exif IFD's value, then the sub-IFD's strip, is the furthest byte.
    EXPECT_EQ(Analyse(GetTiffFileSize, DiskWith(make(400, 500, 0).bytes, 2, 2048), 2).size, 540u);
    EXPECT_EQ(Analyse(GetTiffFileSize, DiskWith(make(600, 500, 0).bytes, 2, 2048), 2).size, 650u);
    // A second page at 700 with two strips held in its entries (SHORTs at
    // 720 and 760, 10 and 30 bytes), or three tiles given by arrays of LONGs
    // (offsets at 800, byte counts at 812: tiles at 850, 870, 900 of 10, 10
    // and 20 bytes).
    TiffWriter strips = make(400, 500, 700);
    strips.Ifd(700, {{0x0111, 3, 2, 0}, {0x0117, 3, 2, 0}}, 0);
    strips.U16(700 + 2 + 8, 720);
    strips.U16(700 + 2 + 10, 760);
    strips.U16(700 + 14 + 8, 10);
    strips.U16(700 + 14 + 10, 30);
    EXPECT_EQ(Analyse(GetTiffFileSize, DiskWith(strips.bytes, 1, 2048), 1).size, 790u);
    TiffWriter tiles = make(400, 500, 700);
    tiles.Ifd(700, {{0x0144, 4, 3, 800}, {0x0145, 4, 3, 812}}, 0);
    for (std::uint32_t k = 0, offsets[] = {850, 870, 900}, counts[] = {10, 10, 20}; k < 3; ++k) {
      tiles.U32(800 + 4 * k, offsets[k]);
      tiles.U32(812 + 4 * k, counts[k]);
    }
    const AnalysedFile f = Analyse(GetTiffFileSize, DiskWith(tiles.bytes, 1, 2048), 1);
    EXPECT_EQ(f.size, 920u);
    EXPECT_EQ(f.suffix, u"(16x16)");
    // A second page whose IFD begins right after the first one's link to
    // it, at 98, shares no byte with it: it is read, and its strip (950,
    // 30 bytes) ends the file.
    TiffWriter adjacent = make(400, 500, 98);
    adjacent.Ifd(98, {{0x0111, 4, 1, 950}, {0x0117, 4, 1, 30}}, 0);
    EXPECT_EQ(Analyse(GetTiffFileSize, DiskWith(adjacent.bytes, 1, 2048), 1).size, 980u);
  }
}

TEST(ImageAnalysers, ATiffWalkReadsNoMoreThanItsBudgetHoweverManyListsItsEntriesHold) {
  // An IFD whose Exif, GPS and interoperability entries each list
  // 0x3FFFFFFF IFDs (zeros: none to visit), on a disk of 20 MiB: the first
  // list spends the walk's whole budget (2^22 elements), and the others
  // are not read.
  TiffWriter w(false, 64);
  w.Ifd(8, {{0x8769, 4, 0x3FFFFFFF, 64}, {0x8825, 4, 0x3FFFFFFF, 64}, {0xA005, 4, 0x3FFFFFFF, 64}}, 0);
  Bytes disk(20 << 20, 0);
  std::copy(w.bytes.begin(), w.bytes.end(), disk.begin());
  MemoryReader reader(disk);
  AnalysedFile f;
  ASSERT_TRUE(GetTiffFileSize(reader, 0, f));
  // 16 MiB of elements, read through a window of two sectors that moves on
  // a sector at a time.
  EXPECT_LE(reader.bytesRead, 40u << 20);
}

// ----------------------------------------------------------------- GIF ----

TEST_F(ImageAnalysersTools, GifsEndAtTheirTrailer) {
  REQUIRE_TOOLS("convert", "gifsicle");
  Run("convert -size 100x80 -seed 1 plasma: still.gif");
  Run("convert -size 60x40 -seed 2 plasma: GIF87:old.gif");
  Run("convert -size 64x48 -seed 3 plasma: -interlace GIF interlaced.gif");
  Run("for c in red blue green; do convert -size 30x20 xc:$c $c.gif; done");
  // gifsicle writes the loop as an application extension, the delays as
  // graphic control extensions and the comment as a comment extension.
  Run("gifsicle --loopcount=0 --delay 10 --comment 'three frames' red.gif blue.gif green.gif -o moving.gif");
  // Frames of other colours than the first keep local colour tables.
  Run("convert -size 20x20 xc:red xc:blue -size 20x20 gradient:green-yellow local.gif");
  const struct {
    const char* name;
    const char* version;
    const char16_t* suffix;
  } cases[] = {{"still.gif", "GIF89a", u"(100x80)"}, {"old.gif", "GIF87a", u"(60x40)"},
               {"interlaced.gif", "GIF89a", u"(64x48)"}, {"moving.gif", "GIF89a", u"(30x20)"},
               {"local.gif", "GIF89a", u"(20x20)"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes gif = Read(c.name);
    ASSERT_GT(gif.size(), 100u);
    ASSERT_EQ(std::string(gif.begin(), gif.begin() + 6), c.version);
    ASSERT_EQ(gif.back(), 0x3B);
    // Followed by other data, by zeros, or by the volume's end, the file
    // ends with its trailer.
    const AnalysedFile f = Analyse(GetGifFileSize, DiskWith(gif, 5, 3000), 5);
    EXPECT_EQ(f.size, gif.size());
    EXPECT_EQ(f.suffix, c.suffix);
    EXPECT_EQ(Analyse(GetGifFileSize, DiskWith(gif, 2, kVolumeEnd), 2).size, gif.size());
    Bytes zeros = DiskWith(gif, 5, 3000);
    std::fill(zeros.begin() + 5 * 512 + static_cast<std::ptrdiff_t>(gif.size()), zeros.end(), 0);
    EXPECT_EQ(Analyse(GetGifFileSize, zeros, 5).size, gif.size());
  }
  // What the cases stand for: the extensions gifsicle wrote, and the local
  // colour table of local.gif's second frame (its descriptor's flags).
  const Bytes moving = Read("moving.gif");
  const std::string movingText(moving.begin(), moving.end());
  for (const char* ext : {"\x21\xFF\x0BNETSCAPE2.0", "\x21\xFE", "\x21\xF9\x04"})
    EXPECT_NE(movingText.find(ext), std::string::npos) << ext;
  const Bytes local = Read("local.gif");
  std::size_t frames = 0, localTables = 0;
  for (std::size_t k = 0; k + 10 < local.size(); ++k) {
    if (local[k] != 0x2C || GetLE16(&local[k + 5]) != 20 || GetLE16(&local[k + 7]) != 20) continue;
    ++frames;
    localTables += (local[k + 9] & 0x80) != 0;
  }
  EXPECT_EQ(frames, 3u);
  EXPECT_GE(localTables, 1u);

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
  // A zero byte after the trailer is not the picture's.
  Bytes zero = DiskWith(gif, 1, 1024);
  zero[512 + gif.size()] = 0;
  EXPECT_EQ(Analyse(GetGifFileSize, zero, 1).size, gif.size());
  // The blocks are walked by their lengths: a comment extension whose text
  // holds the trailer, image separator and extension bytes, and image data
  // that does, end nothing.
  Bytes walked(gif.begin(), gif.begin() + 13);
  const std::uint8_t comment[] = {0x21, 0xFE, 6, 0x3B, 0x2C, 0, 0x21, 0x3B, 0, 3, 0x00, 0x3B, 0x2C, 0};
  walked.insert(walked.end(), std::begin(comment), std::end(comment));
  walked.insert(walked.end(), gif.begin() + 13, gif.begin() + 35);  // the image descriptor and its table
  // The code size, one sub-block of five bytes, its terminator, the trailer.
  const std::uint8_t data[] = {2, 5, 0x3B, 0, 0x21, 0xF9, 0x2C, 0, 0x3B};
  walked.insert(walked.end(), std::begin(data), std::end(data));
  EXPECT_EQ(Analyse(GetGifFileSize, DiskWith(walked, 0, 1024), 0).size, walked.size());
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
