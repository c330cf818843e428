// The carving step: types tried in their order, a failed analysis leaving
// the candidate to the next type, generic carving up to the next signature
// or the type's largest size, signatures never matched past what was read
// nor past the first sector, sizes from headers cut at the volume's end and
// the type's largest size, the bound on what one pass lists, type folders
// that overflow into numbered ones, and the walk that skips a carved file's
// units.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "core/Carver.h"
#include "platform/ByteCodec.h"
#include "support/CarveTestDisk.h"

namespace corvan {
namespace {

// A volume in memory whose units are 512-byte sectors, or `unitSectors`
// sectors each from sector `unitOffset` on (a file system's clusters after
// its tables); units listed in `used` are skipped by generic carving as
// allocated clusters are.
class MemoryVolume final : public CarveVolume {
 public:
  explicit MemoryVolume(std::size_t sectors) : bytes(sectors * 512) {}
  bool Read(std::uint64_t sector, void* buffer, std::size_t n) override {
    bytesRead += n;
    std::memset(buffer, 0, n);
    const std::uint64_t at = sector * 512;
    if (at >= bytes.size()) return false;
    // A read that takes in an unreadable sector fails whole, as a disk's does.
    if (bad.lower_bound(sector) != bad.end() && *bad.lower_bound(sector) < sector + (n + 511) / 512) return false;
    const std::size_t have = std::min<std::size_t>(n, bytes.size() - at);
    std::memcpy(buffer, bytes.data() + at, have);
    return have == n;
  }
  bool Aborted() const override { return false; }
  std::uint32_t UnitBytes() const override { return 512 * unitSectors; }
  bool NextUnit(std::uint64_t& unit) override {
    do ++unit;
    while (unit < Units() && used.count(unit) != 0);
    return unit < Units();
  }
  std::uint64_t UnitSector(std::uint64_t unit) const override { return unitOffset + unit * unitSectors; }
  std::uint64_t Units() const { return (Sectors() - unitOffset) / unitSectors; }
  std::uint64_t FirstSector() const override { return 0; }
  std::uint64_t EndSector() const override { return Sectors(); }
  std::uint64_t Sectors() const { return bytes.size() / 512; }
  void Put(std::uint64_t sector, const std::string& s) { std::memcpy(bytes.data() + sector * 512, s.data(), s.size()); }
  const std::uint8_t* At(std::uint64_t sector) const { return bytes.data() + sector * 512; }

  std::vector<std::uint8_t> bytes;
  std::map<std::uint64_t, bool> used;
  std::set<std::uint64_t> bad;  // sectors that cannot be read
  std::uint64_t bytesRead = 0;  // every read: the pass's walk, generic carving and the analysers
  std::uint32_t unitSectors = 1;
  std::uint64_t unitOffset = 0;
};

FileTypeRecord Type(std::uint16_t id, const std::string& signature, std::u16string ext, std::uint32_t maxSize,
                    std::uint32_t offset = 0) {
  FileTypeRecord t;
  t.typeId = id;
  t.extension = std::move(ext);
  t.maxSize = maxSize;
  t.headerOffset = offset;
  t.headerLength = static_cast<std::uint8_t>(signature.size());
  std::memcpy(t.header.data(), signature.data(), signature.size());
  return t;
}

// The little-endian TIFF signature, its NUL included.
const std::string kTiff("II*\0", 4);

// A 62-byte bitmap header that passes the bitmap checks: 4x4 pixels, 24 bits.
std::string Bitmap() {
  std::string b(54, '\0');
  b[0] = 'B';
  b[1] = 'M';
  std::uint8_t* p = reinterpret_cast<std::uint8_t*>(b.data());
  PutLE32(p + 2, 54 + 48);
  PutLE32(p + 10, 54);
  PutLE32(p + 14, 40);
  PutLE32(p + 18, 4);
  PutLE32(p + 22, 4);
  PutLE16(p + 26, 1);
  PutLE16(p + 28, 24);
  return b;
}

TEST(Carver, GenericCarvingRunsToTheNextSignatureOrTheLargestSize) {
  MemoryVolume v(64);
  v.Put(0, "MAGI");
  v.Put(5, "OTHR");
  const std::vector<FileTypeRecord> types = {Type(300, "MAGI", u"mag", 100000), Type(301, "OTHR", u"oth", 1024)};
  Carver carver(types, v);
  CarveHit hit;
  ASSERT_TRUE(carver.CarveAt(v.At(0), 512, 0, 0, hit));
  EXPECT_EQ(hit.typeName, u"mag");
  EXPECT_TRUE(hit.generic);
  EXPECT_EQ(hit.file.size, 5u * 512);  // sectors 0..4: the next file begins in sector 5

  // Allocated units are stepped over and not counted.
  v.used[2] = v.used[3] = true;
  ASSERT_TRUE(carver.CarveAt(v.At(0), 512, 0, 0, hit));
  EXPECT_EQ(hit.file.size, 3u * 512);

  // A type's largest size ends the walk: 1024 bytes are two units.
  ASSERT_TRUE(carver.CarveAt(v.At(5), 512, 5, 5, hit));
  EXPECT_EQ(hit.typeName, u"oth");
  EXPECT_EQ(hit.file.size, 1024u);
}

TEST(Carver, AFailedAnalysisLeavesTheCandidateToTheNextMatchingType) {
  MemoryVolume v(16);
  v.Put(0, "BM not a bitmap, its reserved words are set");
  const std::vector<FileTypeRecord> bmpOnly = {Type(17, "BM", u"bmp", 1 << 20)};
  Carver strict(bmpOnly, v);
  CarveHit hit;
  EXPECT_FALSE(strict.CarveAt(v.At(0), 512, 0, 0, hit));

  const std::vector<FileTypeRecord> both = {Type(17, "BM", u"bmp", 1 << 20), Type(302, "BM", u"raw", 512)};
  Carver lenient(both, v);
  ASSERT_TRUE(lenient.CarveAt(v.At(0), 512, 0, 0, hit));
  EXPECT_EQ(hit.typeName, u"raw");
  EXPECT_EQ(hit.file.size, 512u);

  // An analysis that succeeds with nothing to recover (an AU header whose
  // data offset and size are both 0) leaves the candidate to the next type.
  v.Put(4, std::string(".snd\0\0\0\0\0\0\0\0", 12));
  const std::vector<FileTypeRecord> au = {Type(57, ".snd", u"au", 1 << 20), Type(306, ".snd", u"snd", 512)};
  Carver auCarver(au, v);
  ASSERT_TRUE(auCarver.CarveAt(v.At(4), 512, 4, 4, hit));
  EXPECT_EQ(hit.typeName, u"snd");

  // A sound bitmap is taken by the first type and sized by its header.
  v.Put(8, Bitmap());
  ASSERT_TRUE(lenient.CarveAt(v.At(8), 512, 8, 8, hit));
  EXPECT_EQ(hit.typeName, u"bmp");
  EXPECT_EQ(hit.file.size, 102u);
  EXPECT_FALSE(hit.generic);
  EXPECT_EQ(hit.file.suffix, u"(4x4)");
}

TEST(Carver, SignaturesAreComparedOnlyWithinWhatWasReadAndTheFirstSector) {
  MemoryVolume v(4);
  v.Put(0, std::string(508, 'x') + "SIGN");
  const std::vector<FileTypeRecord> types = {Type(303, "SIGN", u"sig", 512, 508)};
  Carver carver(types, v);
  // The signature ends the sector: with the sector read short of it there is
  // no match, with the whole sector there is.
  EXPECT_FALSE(carver.Probe(v.At(0), 510));
  EXPECT_TRUE(carver.Probe(v.At(0), 512));
  const std::vector<FileTypeRecord> twoBytes = {Type(304, "GN", u"si", 512, 510)};
  Carver edge(twoBytes, v);
  EXPECT_TRUE(edge.Probe(v.At(0), 512));

  // A signature at 511, two bytes long, runs into the next sector: it is
  // never matched, however much was read, as generic carving's walk (which
  // looks at first sectors) could never see such a file begin.
  v.Put(1, std::string(511, 'x') + "SI");
  const std::vector<FileTypeRecord> crossing = {Type(128, "SI", u"docx", 1 << 20, 511)};
  Carver refused(crossing, v);
  EXPECT_FALSE(refused.Probe(v.At(1), 1024));
  CarveHit hit;
  EXPECT_FALSE(refused.CarveAt(v.At(1), 1024, 1, 1, hit));
}

using Hits = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

// The walk of a whole volume, as a pass makes it, over the units
// `candidate` offers; the hits by their unit and size.
Hits ScanAll(
    Carver& carver, MemoryVolume& v,
    const std::function<bool(std::uint64_t)>& candidate = [](std::uint64_t) { return true; },
    std::map<std::uint64_t, std::u16string>* suffixes = nullptr) {
  Hits hits;
  UnitScan scan;
  scan.first = 0;
  scan.end = v.Units();
  scan.unitsPerRead = 8;
  scan.sectorsPerUnit = v.unitSectors;
  scan.beforeRead = [](std::uint64_t) { return true; };
  scan.read = [&](std::uint64_t u, std::uint64_t n, std::uint8_t* b) {
    return v.Read(v.UnitSector(u), b, n * v.UnitBytes());
  };
  scan.candidate = candidate;
  scan.unitSector = [&](std::uint64_t u) { return v.UnitSector(u); };
  scan.found = [&](const CarveHit& h, std::uint64_t u) {
    hits.emplace_back(u, h.file.size);
    if (suffixes != nullptr) (*suffixes)[u] = h.file.suffix;
  };
  scan.aborted = [] { return false; };
  ScanUnits(carver, scan);
  return hits;
}

// The same walk by a carver of `types` of its own.
Hits ScanWith(const std::vector<FileTypeRecord>& types, MemoryVolume& v) {
  Carver carver(types, v);
  return ScanAll(carver, v);
}

// A RIFF WAVE header whose RIFF length is `riffLength`: "RIFF", the length,
// "WAVE", a 16-byte fmt chunk.
std::string WaveHeader(std::uint32_t riffLength) {
  std::string w = "RIFF....WAVEfmt ";
  PutLE32(reinterpret_cast<std::uint8_t*>(w.data()) + 4, riffLength);
  return w + std::string("\x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x80\x3e\0\0\x02\0\x10\0data\xe8\x03\0\0", 28);
}

TEST(Carver, ASizePastTheVolumesEndIsMeasuredToTheNextSignatureAndOneAboveItsTypeIsCut) {
  // Headers that claim about 4 GiB in a volume of 64 sectors, each with
  // another file's signature four sectors on: the header is wrong, and the
  // file is measured to that signature as one without a size is. With
  // nothing after it, that is the volume's end.
  constexpr std::uint64_t kSectors = 64;
  const struct {
    std::uint16_t id;
    std::string signature, bytes;
    std::uint32_t maxSize;
  } cases[] = {
      {48, "Rar!\x1A\x07", test::RarHeader(0xFFFFFFFFu), 0xFFF00000u},
      {165, "AVI ", test::AviHeader(0xFFFFFFF0u), 0xFFF00000u},
      // 24 + 0xFFFFFFE0 fits in 32 bits: 4 GiB less 8 bytes.
      {57, ".snd", test::AuHeader(24, 0xFFFFFFE0u), 0xFFF00000u},
      // 0x100 + 0xFFFFFF80 does not: no 128-byte file of a 256-byte header.
      {57, ".snd", test::AuHeader(0x100, 0xFFFFFF80u), 0xFFF00000u},
      // A stream: its length is not known.
      {57, ".snd", test::AuHeader(24, 0xFFFFFFFFu), 0xFFF00000u},
      // Streamed without the descriptors that would end its entries.
      {52, "PK\x03\x04", test::ZipDeferringSizes(), 0xFFF00000u},
      // A WAVE header whose RIFF length (1 GiB less 8 bytes) is below its
      // type's largest size but far above the volume.
      {73, "WAVEfmt ", WaveHeader(0x3FFFFFF0u), 1u << 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const std::vector<FileTypeRecord> types = {Type(c.id, c.signature, u"x", c.maxSize, c.id == 165 || c.id == 73 ? 8 : 0),
                                               Type(305, "NEXT", u"nxt", 512)};
    for (std::uint64_t at : {10u, 50u}) {
      MemoryVolume v(kSectors);
      v.Put(at, c.bytes);
      if (at == 10) v.Put(at + 4, "NEXT");
      Carver carver(types, v);
      CarveHit hit;
      ASSERT_TRUE(carver.CarveAt(v.At(at), 512, at, at, hit));
      EXPECT_EQ(hit.file.size, at == 10 ? 4u * 512 : (kSectors - at) * 512);
    }
  }
  // The walk goes on after a file measured so: the one behind it is found.
  MemoryVolume v(kSectors);
  v.Put(2, WaveHeader(0x3FFFFFF0u));
  v.Put(9, Bitmap());
  const std::vector<FileTypeRecord> types = {Type(73, "WAVEfmt ", u"wav", 1u << 30, 8), Type(17, "BM", u"bmp", 1 << 20)};
  Carver carver(types, v);
  const Hits expected = {{2, 7 * 512}, {9, 54 + 48}};
  EXPECT_EQ(ScanAll(carver, v), expected);
  EXPECT_EQ(carver.Tally().pastVolumeEnd, 1u);
  EXPECT_NE(CarveBoundsNote(carver.Tally()).find("1 file(s) whose header size ran past the volume's end"),
            std::string::npos);

  // A size within the volume but above its type's largest is cut to it.
  MemoryVolume w(kSectors);
  w.Put(0, test::AuHeader(24, 5000));
  const std::vector<FileTypeRecord> au = {Type(57, ".snd", u"au", 4096)};
  Carver small(au, w);
  CarveHit hit;
  ASSERT_TRUE(small.CarveAt(w.At(0), 512, 0, 0, hit));
  EXPECT_EQ(hit.file.size, 4096u);
  EXPECT_EQ(small.Tally().cutToTypeMax, 1u);
  EXPECT_NE(CarveBoundsNote(small.Tally()).find("cut to the type's largest size"), std::string::npos);
}

TEST(ScanUnits, ThePassTotalShortensSizesButHidesNoFileAfterIt) {
  // AU headers whose sizes (within the volume) each run to a hundred bytes
  // before its end: ten of them would list far more than twice the volume.
  // After them, a stream (its size a guess, measured to the next
  // signature) and a bitmap (its size exact).
  constexpr std::uint64_t kSectors = 64;
  MemoryVolume v(kSectors);
  // The first two (32,668 and 32,156 bytes) fit in the bound of 65,536;
  // each later one ends where the next header begins: one sector on, and
  // for the last, the stream's 11 sectors on. The  // stream is measured to the bitmap, never cut by the total (runs measured
  // so never overlap); the bitmap keeps its size.
  Hits expected;
  for (std::uint64_t s = 0; s < 10; ++s) {
    const std::uint64_t size = (kSectors - s) * 512 - 100;
    v.Put(s, test::AuHeader(24, static_cast<std::uint32_t>(size - 24)));
    expected.emplace_back(s, s < 2 ? size : s < 9 ? 512 : 11 * 512);
  }
  v.Put(20, test::AuHeader(24, 0xFFFFFFFFu));
  v.Put(30, Bitmap());
  expected.emplace_back(20, 10 * 512);
  expected.emplace_back(30, 54 + 48);
  const std::vector<FileTypeRecord> types = {Type(57, ".snd", u"au", 256u << 20), Type(17, "BM", u"bmp", 1 << 20)};
  Carver carver(types, v);
  EXPECT_EQ(ScanAll(carver, v), expected);
  EXPECT_EQ(carver.Tally().cutByTotal, 8u);
  EXPECT_NE(CarveBoundsNote(carver.Tally()).find("8 size(s) shortened"), std::string::npos);

  // Without the bound reached, the stream runs to the bitmap.
  MemoryVolume quiet(kSectors);
  quiet.Put(20, test::AuHeader(24, 0xFFFFFFFFu));
  quiet.Put(30, Bitmap());
  Carver fresh(types, quiet);
  const Hits alone = {{20, 10 * 512}, {30, 54 + 48}};
  EXPECT_EQ(ScanAll(fresh, quiet), alone);
  EXPECT_EQ(CarveBoundsNote(fresh.Tally()), "");

  // A pass that makes a carver per candidate keeps the bound with one tally.
  CarveTally tally;
  Hits hits;
  for (std::uint64_t s = 0; s < kSectors; ++s) {
    Carver perCandidate(types, v, &tally);
    CarveHit hit;
    if (perCandidate.CarveAt(v.At(s), 512, s, s, hit)) hits.emplace_back(s, hit.file.size);
  }
  EXPECT_EQ(hits, expected);
  EXPECT_EQ(tally.cutByTotal, 8u);
}

TEST(Carver, AnOfficeTypeThatIsNoDocumentIsCarvedToTheNextSignatureUnderItsOwnName) {
  MemoryVolume v(32);
  v.Put(0, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1 but no compound document follows");
  v.Put(3, "NEXT");
  const std::vector<FileTypeRecord> types = {Type(113, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", u"doc", 1 << 20),
                                             Type(305, "NEXT", u"nxt", 512)};
  Carver carver(types, v);
  CarveHit hit;
  ASSERT_TRUE(carver.CarveAt(v.At(0), 512, 0, 0, hit));
  EXPECT_EQ(hit.typeName, u"doc");
  EXPECT_FALSE(hit.officeNamed);
  EXPECT_FALSE(hit.generic);
  EXPECT_EQ(hit.file.size, 3u * 512);
}

TEST(Carver, AWaveFileIsSizedByItsHeaderOrElseCarvedToTheNextSignature) {
  // A RIFF header as the format defines it: "RIFF", the length of what
  // follows, "WAVE", a 16-byte fmt chunk, a data chunk of 1000 bytes.
  auto wave = [](std::uint32_t riffLength) {
    std::string w = "RIFF....WAVEfmt ";
    std::uint8_t* p = reinterpret_cast<std::uint8_t*>(w.data());
    PutLE32(p + 4, riffLength);
    w += std::string("\x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x80\x3e\0\0\x02\0\x10\0data\xe8\x03\0\0", 28);
    return w + std::string(1000, '\x11');
  };
  MemoryVolume v(32);
  v.Put(0, wave(4 + 24 + 8 + 1000));
  v.Put(10, wave(0xFFFFFFFFu));  // written to a pipe: the length was not known
  v.Put(20, "NEXT");
  const std::vector<FileTypeRecord> types = {Type(73, "WAVEfmt ", u"wav", 1 << 20, 8), Type(305, "NEXT", u"nxt", 512)};
  Carver carver(types, v);
  CarveHit hit;
  ASSERT_TRUE(carver.CarveAt(v.At(0), 512, 0, 0, hit));
  EXPECT_EQ(hit.file.size, 8u + 4 + 24 + 8 + 1000);
  EXPECT_TRUE(hit.generic);  // its sectors are passed over all the same
  ASSERT_TRUE(carver.CarveAt(v.At(10), 512, 10, 10, hit));
  EXPECT_EQ(hit.typeName, u"wav");
  EXPECT_EQ(hit.file.size, 10u * 512);
}

TEST(Carver, APdfEndsWithTheLineEndAfterItsLastEndMarker) {
  // A PDF as the format lays one out: header, body, cross-reference table,
  // trailer, "startxref", "%%EOF"; then an update appended in place, which
  // ends with a marker of its own.
  const std::string first = "%PDF-1.4\n1 0 obj\n<< /Type /Catalog >>\nendobj\nxref\n0 2\n"
                            "0000000000 65535 f \n0000000009 00000 n \ntrailer\n<< /Size 2 /Root 1 0 R >>\n"
                            "startxref\n49\n%%EOF\n";
  const std::string update = "1 0 obj\n<< /Type /Catalog /Lang (en) >>\nendobj\nxref\n1 1\n"
                             "0000000120 00000 n \ntrailer\n<< /Size 2 /Root 1 0 R /Prev 49 >>\nstartxref\n170\n%%EOF\r\n";
  const std::vector<FileTypeRecord> types = {Type(66, "%PDF-", u"pdf", 1 << 20), Type(305, "NEXT", u"nxt", 512)};
  // The stretch up to the next signature is searched from its end back in
  // pieces of 64 KiB: the last case's marker straddles the first piece's
  // start (the stretch is 200 sectors, 102400 bytes).
  std::string straddling = first.substr(0, first.size() - 6);
  straddling += std::string(102400 - 65536 - 2 - straddling.size(), ' ') + "%%EOF\n";
  for (const std::string& pdf : {first, first + update, first + std::string(700, 'b') + update, straddling}) {
    SCOPED_TRACE(pdf.size());
    MemoryVolume v(256);
    v.Put(0, pdf);
    // What follows up to the next signature, on the same sector and after it.
    const std::string leftover = "leftover bytes of an older file";
    std::memcpy(v.bytes.data() + pdf.size(), leftover.data(), leftover.size());
    v.Put(200, "NEXT");
    Carver carver(types, v);
    CarveHit hit;
    ASSERT_TRUE(carver.CarveAt(v.At(0), 512, 0, 0, hit));
    EXPECT_EQ(hit.typeName, u"pdf");
    EXPECT_EQ(hit.file.size, pdf.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.At(0)), hit.file.size), pdf);
  }
  // Without an end marker before the next signature, the whole stretch.
  MemoryVolume v(32);
  v.Put(0, first.substr(0, first.size() - 6));
  v.Put(6, "NEXT");
  Carver carver(types, v);
  CarveHit hit;
  ASSERT_TRUE(carver.CarveAt(v.At(0), 512, 0, 0, hit));
  EXPECT_EQ(hit.file.size, 6u * 512);
}

// A PNG of 4 x 4 pixels: signature, IHDR, a tEXt "Source" = `source`, one
// byte of image data, IEND with its CRC.
std::string PngFile(const std::string& source) {
  std::string png("\x89PNG\r\n\x1a\n", 8);
  auto chunk = [&](const char* type, const std::string& data) {
    const std::uint32_t n = static_cast<std::uint32_t>(data.size());
    png += std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + type + data;
    png += std::string(type) == "IEND" ? std::string("\xAE\x42\x60\x82", 4) : std::string(4, '\0');
  };
  chunk("IHDR", std::string("\0\0\0\x04\0\0\0\x04\x08\x02\0\0\0", 13));
  chunk("tEXt", std::string("Source\0", 7) + source);
  chunk("IDAT", std::string(1, '\x01'));
  chunk("IEND", "");
  return png;
}

TEST(Carver, NameSuffixesReadFromTheFileCannotLeaveTheFolder) {
  // A PNG whose text chunk names a path.
  const std::string png = PngFile("../../etc/x");
  MemoryVolume v(8);
  v.Put(0, png);
  const std::vector<FileTypeRecord> types = {Type(19, "\x89PNG", u"png", 1 << 20)};
  Carver carver(types, v);
  CarveHit hit;
  ASSERT_TRUE(carver.CarveAt(v.At(0), 512, 0, 0, hit));
  EXPECT_EQ(hit.file.size, png.size());
  EXPECT_NE(hit.file.suffix.find(u"etc"), std::u16string::npos);
  EXPECT_EQ(hit.file.suffix.find(u'/'), std::u16string::npos);
  const std::u16string name = RawItemName(hit.file.suffix, 1, 0, hit.typeName);
  EXPECT_EQ(name.find(u'/'), std::u16string::npos);
  EXPECT_NE(name.substr(0, 3), u"../");
}

// Chains of headers each of whose structure runs over the ones after it.
enum class Chain { Png, ZipStreamed, Compound, TiffBlocks, GifComments, ZipTiny, PngJump, TiffShared, PngZip, JpegJump };

// Where TiffShared's one array lies, and its LONGs: each TIFF's strip
// offsets and byte counts are both that array, read past its own room.
constexpr std::uint64_t kSharedArraySector = 1536;
constexpr std::uint32_t kSharedLongs = 60000;

// The sector `s` of a chain of headers each of whose structure runs over
// the ones after it, as a pass meets them in about a megabyte of a volume.
std::string ChainSector(Chain chain, std::uint64_t s, std::uint64_t sectors) {
  std::string b(512, 'x');
  auto le = [&](std::size_t at, std::uint64_t v, int n) { test::PutLe(b, at, v, n); };
  auto png = [&](std::size_t chunks, std::uint64_t jump) {
    // A PNG signature, `chunks` empty chunks, then one whose data runs
    // `jump` bytes on from the sector's end.
    b.replace(0, 8, "\x89PNG\r\n\x1a\n");
    std::size_t at = 8;
    for (std::size_t k = 0; k < chunks; ++k, at += 12) {
      test::PutBe(b, at, 0, 4);
      b.replace(at + 4, 4, "abcd");
      test::PutBe(b, at + 8, 0, 4);
    }
    test::PutBe(b, at, 512 - at - 12 + jump, 4);
    b.replace(at + 4, 4, "aaaa");
  };
  auto zip = [&](std::size_t at, std::uint32_t name, std::uint32_t data) {
    // A local header with its sizes, `name` bytes of name and `data` of data.
    b.replace(at, 4, "PK\x03\x04");
    le(at + 4, 20, 2);
    std::memset(b.data() + at + 6, 0, 12);
    le(at + 18, data, 4);
    le(at + 22, data, 4);
    le(at + 26, name, 2);
    le(at + 28, 0, 2);
  };
  switch (chain) {
    case Chain::GifComments:
      // A GIF89a header without colour table and a comment whose two
      // 255-byte sub-blocks end past the next sector's header, at the place
      // of its own first sub-block; the last sector ends the comment and
      // the file.
      b.replace(0, 13, std::string("GIF89a\x04\0\x04\0\0\0\0", 13));
      b.replace(13, 2, "\x21\xFE");
      if (s + 1 == sectors) {
        b.replace(15, 2, std::string("\0\x3B", 2));
      } else {
        b[15] = b[271] = '\xFF';
      }
      break;
    case Chain::ZipTiny:
      // A stored entry every 32 bytes: a two-byte name and no data.
      for (std::size_t at = 0; at < 512; at += 32) {
        zip(at, 2, 0);
        b.replace(at + 30, 2, "ab");
      }
      break;
    case Chain::PngJump:
      // 38 empty chunks, then one that jumps over the next signature into
      // the next sector's first chunk.
      png(38, 8);
      break;
    case Chain::JpegJump:
      // A JPEG start whose APP0 segment ends on the next one's APP0 marker.
      b.replace(0, 6, std::string("\xFF\xD8\xFF\xE0\x01\xFE", 6));
      break;
    case Chain::PngZip:
      // PNG and ZIP sectors alternating, each one's structure jumping over
      // the other to the next of its own kind.
      if (s % 2 == 0) {
        png(0, 512 + 8);
      } else {
        zip(0, 1, 512 + 512 - 31);
        b[30] = 'a';
      }
      break;
    case Chain::TiffShared: {
      // A TIFF in each sector whose strip offsets and byte counts are both
      // the one array of LONGs further on; the array's own sectors hold it.
      b.assign(512, '\0');
      if (s >= kSharedArraySector) {
        for (std::size_t k = 0; k < 512; k += 4) le(k, 8, 4);
        break;
      }
      const std::uint64_t array = kSharedArraySector * 512 - s * 512;
      b.replace(0, 4, std::string("II*\0", 4));
      le(4, 8, 4);
      le(8, 4, 2);
      const std::uint32_t entries[4][4] = {{256, 3, 1, 4}, {257, 3, 1, 4}, {273, 4, kSharedLongs, 0}, {279, 4, kSharedLongs, 0}};
      for (std::size_t k = 0; k < 4; ++k) {
        const std::size_t at = 10 + 12 * k;
        le(at, entries[k][0], 2);
        le(at + 2, entries[k][1], 2);
        le(at + 4, entries[k][2], 4);
        le(at + 8, k < 2 ? entries[k][3] : array, 4);
      }
      break;
    }
    case Chain::Png:
      // A PNG signature and a chunk of 500 bytes: its data and CRC end with
      // the next sector's signature, and the next chunk follows that.
      b.replace(0, 16, std::string("\x89PNG\r\n\x1a\n\0\0\x01\xF4" "aaaa", 16));
      break;
    case Chain::ZipStreamed:
      // A streamed ZIP entry and its data descriptor filling the sector;
      // the last sector holds a central header and the end record instead.
      if (s + 1 == sectors) {
        b.assign(46 + 1 + 22, '\0');
        b.replace(0, 4, "PK\x01\x02");
        le(28, 1, 2);
        b[46] = 'a';
        b.replace(47, 4, "PK\x05\x06");
        le(47 + 10, 1, 2);
        break;
      }
      b.replace(0, 4, "PK\x03\x04");
      le(4, 20, 2);
      le(6, 8, 2);
      le(26, 1, 2);
      std::memset(b.data() + 8, 0, 18);
      b[28] = b[29] = 0;
      b[30] = 'a';
      b.replace(496, 4, "PK\x07\x08");
      le(500, 0, 4);
      le(504, 465, 4);
      le(508, 465, 4);
      break;
    case Chain::Compound:
      // Compound-document headers on even sectors, each shaped as a
      // directory sector too; on odd ones their directory's Root Entry.
      b.assign(512, '\0');
      if (s % 2 == 0) {
        b.replace(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
        le(30, 9, 2);
        le(44, 0x8000, 4);  // FAT sectors: the directory may run for 2 GiB
        le(64, 2, 4);       // a name length, as a directory entry reads it
        le(68, 0xFFFFFFFE, 4);
        for (std::size_t k = 76; k < 512; k += 4) le(k, 0xFFFFFFFF, 4);
        for (std::size_t k : {192, 320, 448}) le(k, 2, 4);
      } else {
        const std::u16string root = u"Root Entry";
        for (std::size_t i = 0; i < root.size(); ++i) le(2 * i, root[i], 2);
        le(64, 22, 2);
        b[66] = 5;
        b[67] = 1;
      }
      break;
    case Chain::TiffBlocks: {
      // TIFFs in blocks of eight sectors: one whose IFD claims 0xFFFF
      // entries; one whose one entry, on the first one's grid of entries,
      // lists 0x3FFFFFFF sub-IFDs, the bytes after it. Those bytes are
      // offsets of IFDs near the file's start.
      for (std::size_t k = 0; k < 512; k += 4) le(k, 8 + 12 * (k / 4), 4);
      if (s % 8 != 0) break;
      b.replace(0, 4, "II*\0");
      const bool many = s % 16 == 0;
      le(4, many ? 8 : 16, 4);
      le(many ? 8 : 16, many ? 0xFFFF : 1, 2);
      if (!many) {
        le(18, 0x014A, 2);
        le(20, 4, 2);
        le(22, 0x3FFFFFFF, 4);
        le(26, 34, 4);
      }
      break;
    }
    default:
      break;
  }
  return b;
}

// A JPEG of `scan` bytes of scan data, with its end marker when `whole`.
std::string JpegFile(std::size_t scan, bool whole) {
  std::string jpeg("\xFF\xD8\xFF\xE0\x00\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0\xFF\xDA", 22);
  for (std::size_t k = 0; k < scan; ++k) jpeg += static_cast<char>('A' + k % 26);
  return whole ? jpeg + "\xFF\xD9" : jpeg;
}

// A thumbnail as a camera writes one: its segments lead from marker to
// marker to its scan (a quantisation table, a 16x16 frame of one
// component), then its scan data and end marker.
std::string Thumbnail() {
  std::string t("\xFF\xD8\xFF\xDB\x00\x43\x00", 7);
  t += std::string(64, '\x01');
  t += std::string("\xFF\xC0\x00\x0B\x08\x00\x10\x00\x10\x01\x01\x11\x00", 13);
  t += std::string("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
  return t + std::string(40, 'T') + "\xFF\xD9";
}

// A photo: an Exif APP1 segment (an empty first IFD) ending at `app1End`
// that holds `inside` at its second sector (a thumbnail, a preview), then
// the photo's own table, its 64x48 frame, `scan` bytes of scan data and
// its end marker.
std::string Photo(const std::string& inside = Thumbnail(), std::size_t app1End = 1100, std::size_t scan = 300) {
  std::string p("\xFF\xD8\xFF\xE1\0\0Exif\0\0II*\0\x08\0\0\0\0\0", 22);
  p.resize(512, 'e');
  p += inside;
  p.resize(app1End, 'e');
  test::PutBe(p, 4, app1End - 4, 2);
  p += std::string("\xFF\xDB\x00\x43\x00", 5) + std::string(64, '\x02');
  p += std::string("\xFF\xC0\x00\x0B\x08\x00\x30\x00\x40\x01\x01\x11\x00", 13);
  p += std::string("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
  return p + std::string(scan, 'S') + "\xFF\xD9";
}

TEST(ScanUnits, ChainedHeadersCostAFewTimesTheVolumeAndHideNoFileAfterThem) {
  // A megabyte of each chain, then a bitmap, a PNG and a JPEG: each hit's
  // walk would run to the chain's end, reading the volume about a thousand
  // times. Walks made once are not made again, what an analysis reads past
  // its hit's room is bounded, and the pass reads the volume a few times;
  // the files after the chain keep the sizes their own analysis gives.
  constexpr std::uint64_t kChain = 2048, kSectors = kChain + 24;
  const std::string png = PngFile("after the chain"), jpeg = JpegFile(1500, true);
  const std::vector<FileTypeRecord> types = {
      Type(19, "\x89PNG\r\n\x1a\n", u"png", 1 << 26), Type(52, "PK\x03\x04", u"zip", 1u << 31),
      Type(128, "PK\x03\x04", u"docx", 1 << 28),        Type(113, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", u"doc", 1 << 28),
      Type(15, kTiff, u"tif", 1 << 28),                 Type(17, "BM", u"bmp", 1 << 27),
      Type(18, "GIF8", u"gif", 1 << 25),                  Type(14, "\xFF\xD8\xFF", u"jpg", 1 << 25)};
  for (Chain chain : {Chain::Png, Chain::ZipStreamed, Chain::Compound, Chain::TiffBlocks, Chain::GifComments,
                      Chain::ZipTiny, Chain::PngJump, Chain::TiffShared, Chain::PngZip, Chain::JpegJump}) {
    SCOPED_TRACE(static_cast<int>(chain));
    MemoryVolume v(kSectors);
    for (std::uint64_t s = 0; s < kChain; ++s) v.Put(s, ChainSector(chain, s, kChain));
    v.Put(kChain + 4, Bitmap());
    v.Put(kChain + 6, png);
    v.Put(kChain + 10, jpeg);
    Carver carver(types, v);
    const auto hits = ScanAll(carver, v);
    ASSERT_GE(hits.size(), 3u);
    EXPECT_EQ(hits[hits.size() - 3], std::make_pair(kChain + 4, std::uint64_t{54 + 48}));
    EXPECT_EQ(hits[hits.size() - 2], std::make_pair(kChain + 6, std::uint64_t{png.size()}));
    EXPECT_EQ(hits.back(), std::make_pair(kChain + 10, std::uint64_t{jpeg.size()}));
    EXPECT_LE(v.bytesRead, 10 * kSectors * 512);
  }
}

// RAR archives at the volume's first `chain` sectors, in as many runs as
// there are `looked` sectors: each one's file header leads to the next
// one's, the last one's of a run to its sector of `looked`. No walk is
// remembered for them and each walks to its run's end, so they spend what
// the analysers may read again; a walk looks at a block's head, so each
// `looked` sector has been looked at, and no other sector after the chain
// has.
void PutRarChain(MemoryVolume& v, std::uint64_t chain, const std::vector<std::uint64_t>& looked) {
  for (std::uint64_t s = 0; s < chain; ++s) {
    const std::uint64_t run = s * looked.size() / chain;
    const bool last = (s + 1) * looked.size() / chain != run || s + 1 == chain;
    const std::uint64_t next = last ? looked[run] : s + 1;
    std::string rar = test::RarHeader(static_cast<std::uint32_t>((next - s) * 512 - 33));
    v.Put(s, rar + std::string(512 - rar.size(), 'r'));
  }
}

TEST(ScanUnits, TheAnalysersReadAtMostFourTimesTheVolumePastTheirRoomsAndHideNoFile) {
  // RAR archives at every sector of a megabyte, each one's file header
  // leading to the next one's, the last one's past the files after the
  // chain: no walk is remembered for them, and each would walk to the
  // chain's end. Once the analysers have read again three times the volume
  // past their hits' rooms, no read past a room of what an analysis looked
  // at before is made; every hit is still listed, and the files after them
  // keep their sizes:
  //  - a PNG signature whose chunk runs over the PNG after it to that one's
  //    first chunk: the walk, refused there, did not end there, so the PNG
  //    is still looked at itself;
  //  - a PNG whose first chunk runs past the bitmap after it: refused, it is
  //    carved to the next signature unanalysed;
  //  - a JPEG and a PNG holding "BM" at a sector start, where no bitmap
  //    begins: their rooms go on past it.
  constexpr std::uint64_t kChain = 2048, kSectors = kChain + 32;
  MemoryVolume v(kSectors);
  // The sectors the reads past the rooms below take in.
  PutRarChain(v, kChain, {kChain + 8, kChain + 15, kChain + 17, kChain + 22});
  v.Put(kChain + 7, ChainSector(Chain::Png, 0, 1));
  const std::string png = PngFile("after the signatures");
  v.Put(kChain + 8, png);
  std::string jumping = PngFile("jumps");
  test::PutBe(jumping, 33, 1500, 4);
  v.Put(kChain + 12, jumping);
  v.Put(kChain + 14, Bitmap());
  std::string jpeg = JpegFile(1500, true);
  jpeg.replace(512, 2, "BM");
  v.Put(kChain + 16, jpeg);
  std::string pixels = PngFile(std::string(1200, 't'));
  pixels.replace(512, 2, "BM");
  v.Put(kChain + 20, pixels);
  v.Put(kChain + 24, Bitmap());
  const std::vector<FileTypeRecord> types = {Type(48, "Rar!\x1A\x07", u"rar", 1u << 31),
                                             Type(17, "BM", u"bmp", 1 << 27),
                                             Type(19, "\x89PNG\r\n\x1a\n", u"png", 1 << 26),
                                             Type(14, "\xFF\xD8\xFF", u"jpg", 1 << 25)};
  Carver carver(types, v);
  const auto hits = ScanAll(carver, v);
  ASSERT_GE(hits.size(), kChain + 7);
  const Hits files(hits.end() - 7, hits.end());
  const Hits expected = {
      {kChain + 7, 512},  // refused, unanalysed
      {kChain + 8, png.size()},    {kChain + 12, 1024},          {kChain + 14, 54 + 48},
      {kChain + 16, jpeg.size()}, {kChain + 20, pixels.size()}, {kChain + 24, 54 + 48}};
  EXPECT_EQ(files, expected);
  EXPECT_EQ(std::count_if(hits.begin(), hits.end(), [&](const auto& h) { return h.first < kChain; }), kChain);
  // Read again past the rooms: three times the volume; looked at past them
  // for the first time: the volume once at most.
  EXPECT_LE(carver.Tally().analysed, 4 * kSectors * 512);
  EXPECT_LE(v.bytesRead, 10 * kSectors * 512);
}

// Bitmap headers at the volume's first three sectors, each claiming `size`
// bytes: enough of them push the pass past twice the volume's bytes.
void PutSizeClaims(MemoryVolume& v, std::uint32_t size) {
  for (std::uint64_t s = 0; s < 3; ++s) {
    std::string claim = Bitmap();
    test::PutLe(claim, 2, size, 4);
    v.Put(s, claim);
  }
}

TEST(Carver, OnceThePassHasListedItsBoundAHeaderSizeEndsOnlyAtAFile) {
  // Three bitmap headers that each claim 120,000 bytes of a 256-sector
  // volume push the pass past twice its bytes; a 20,054-byte bitmap after
  // them holds "BM" at a sector start in its pixels, where no bitmap
  // begins (its reserved words are not zero). It is listed whole, and the
  // third header ends where it begins.
  MemoryVolume v(256);
  PutSizeClaims(v, 120000);
  std::string bitmap = Bitmap();
  test::PutLe(bitmap, 2, 20054, 4);
  test::PutLe(bitmap, 18, 100, 4);
  test::PutLe(bitmap, 22, 50, 4);
  test::PutLe(bitmap, 34, 20000, 4);
  bitmap += std::string(20000, '\x55');
  bitmap.replace(4096, 2, "BM");
  v.Put(40, bitmap);
  const std::vector<FileTypeRecord> types = {Type(17, "BM", u"bmp", 1 << 27)};
  const Hits expected = {
      {0, 120000}, {1, 120000}, {2, 38 * 512}, {40, 20054}};
  EXPECT_EQ(ScanWith(types, v), expected);
}

// A TIFF of `strips` one-byte strips whose offset and byte-count arrays lie
// `gap` bytes after its directory; it ends where its byte-count array does.
std::string StripTiff(std::uint32_t kStrips, std::uint32_t gap = 0) {
  const std::uint32_t kOffsets = 768 + gap, kCounts = kOffsets + 4 * kStrips;
  std::string tiff(kCounts + 4 * kStrips, '\0');
  tiff.replace(0, 3, "II*");
  test::PutLe(tiff, 4, 8, 4);
  test::PutLe(tiff, 8, 4, 2);
  const std::uint32_t entries[4][4] = {{256, 3, 1, 4}, {257, 3, 1, 4}, {273, 4, kStrips, kOffsets}, {279, 4, kStrips, kCounts}};
  for (std::size_t k = 0; k < 4; ++k) {
    test::PutLe(tiff, 10 + 12 * k, entries[k][0], 2);
    test::PutLe(tiff, 12 + 12 * k, entries[k][1], 2);
    test::PutLe(tiff, 14 + 12 * k, entries[k][2], 4);
    test::PutLe(tiff, 18 + 12 * k, entries[k][3], 4);
  }
  for (std::uint32_t i = 0; i < kStrips; ++i) {
    test::PutLe(tiff, kOffsets + 4 * i, 8, 4);
    test::PutLe(tiff, kCounts + 4 * i, 1, 4);
  }
  return tiff;
}

// A TIFF whose strip arrays (300,000 offsets and byte counts) make its walk
// read more than 2 MiB; it ends at a sector's end.
std::string LongWalkTiff() { return StripTiff(300000); }

TEST(Carver, ATiffTheWalkToTheNextFileFoundIsListedThoughItsWalkRanLong) {
  // Three bitmap headers that each claim 7,000,000 bytes of an 8 MiB
  // volume push the pass past twice its bytes, so the third ends at the
  // next file: a TIFF at sector 8 whose walk reads more than 2 MiB. That
  // walk, made to find where the third header ends, must not hide the TIFF
  // itself.
  MemoryVolume v(16384);
  PutSizeClaims(v, 7000000);
  const std::string tiff = LongWalkTiff();
  v.Put(8, tiff);
  const std::vector<FileTypeRecord> types = {Type(15, kTiff, u"tif", 1 << 28), Type(17, "BM", u"bmp", 1 << 27)};
  const Hits expected = {
      {0, 7000000}, {1, 7000000}, {2, 6 * 512}, {8, tiff.size()}};
  EXPECT_EQ(ScanWith(types, v), expected);
}

TEST(ScanUnits, AFileThePassPassesOverEndsWhereTheNextFileBegins) {
  // A JPEG cut short (no end marker) and a WAVE whose header claims more
  // than was written, each followed by other files: carved whole, each would
  // hide them. Each ends where the next file begins; a signature no file
  // stands behind (a short one that turns up by chance, a thumbnail inside
  // the JPEG's own segments) does not end it.
  const std::vector<FileTypeRecord> types = {
      Type(14, "\xFF\xD8\xFF", u"jpg", 1 << 25), Type(19, "\x89PNG\r\n\x1a\n", u"png", 1 << 26),
      Type(73, "WAVEfmt ", u"wav", 1 << 30, 8),    Type(150, "MZ", u"exe", 1 << 20),
      Type(66, "%PDF-", u"pdf", 1 << 20),          Type(20, std::string("\0\0\1\0", 4), u"ico", 1024),
      Type(111, "ID3", u"mp3", 1024),              Type(121, std::string("\0\0\1\xBA", 4), u"mpg", 1024),
      Type(59, "fLaC", u"flac", 1024),            Type(17, "BM", u"bmp", 1 << 20)};
  const std::string png = PngFile("next"), whole = JpegFile(700, true);
  MemoryVolume v(96);
  // Sector 0: a JPEG whose Exif segment holds a thumbnail at its second
  // sector, a fill byte before its scan, and its end marker four sectors on.
  std::string exif("\xFF\xD8\xFF\xE1\x03\xFC", 6);
  exif += std::string(512 - 6, 'e') + JpegFile(40, true) + std::string(512 - 64, 'e');
  exif += "\xFF\xFF\xDA" + std::string(3 * 512, 's') + "\xFF\xD9";
  v.Put(0, exif);
  // Sectors 8-17: a cut JPEG with "MZ" at a sector start in its scan; then
  // a PNG, which ends it.
  std::string cut = JpegFile(9 * 512, false);
  cut.replace(3 * 512, 2, "MZ");
  v.Put(8, cut);
  v.Put(18, png);
  // Sectors 20-23: the same cut JPEG, then a whole one.
  v.Put(20, JpegFile(3 * 512, false));
  v.Put(24, whole);
  // Sectors 28-32: a WAVE claiming 100,000 bytes, then a PDF.
  v.Put(28, WaveHeader(100000 - 8));
  v.Put(33, "%PDF-1.4\n%%EOF\n");
  // Sectors 42-47: a WAVE as long as its header says, whose samples of
  // silence and one value spell an MPEG pack start without its marker bits,
  // an icon's four-byte signature and a bitmap's, and a pack header with
  // them but silence after it: no file begins there, and no short bare
  // signature ends a file its header sizes.
  std::string wave = WaveHeader(6 * 512 - 8) + std::string(6 * 512 - 44, '\0');
  wave.replace(2 * 512, 8, std::string("\0\0\1\xBA\0\0\x12\x34", 8));
  wave.replace(3 * 512, 4, std::string("\0\0\1\0", 4));
  // "BM" and silence: a bitmap header of no bytes, nothing to recover.
  wave.replace(4 * 512, 2, "BM");
  const std::string lonePack("\0\0\1\xBA\x44\0\x04\0\x04\x01\x01\x89\xC3\xF8", 14);
  wave.replace(5 * 512, 14, lonePack);
  v.Put(42, wave);
  // Sectors 48-53: a WAVE claiming 100,000 bytes, then an ID3 tag (version
  // 4, a size of seven-bit bytes), which ends it; the same WAVE, then a
  // FLAC stream (its first block the 34-byte stream information).
  v.Put(48, WaveHeader(100000 - 8));
  v.Put(50, std::string("ID3\x04\0\0\0\0\x02\x01", 10));
  v.Put(52, WaveHeader(100000 - 8));
  v.Put(53, std::string("fLaC\x80\0\0\x22", 8));
  // Sectors 54-60: the cut JPEG with a pack start without marker bits at a
  // sector start in its scan, then an MPEG-2 pack header with them and a
  // packet and the end code after it: a stream its walk finds 36 bytes long.
  std::string packs = JpegFile(5 * 512, false);
  packs.replace(2 * 512, 8, std::string("\0\0\1\xBA\0\0\x12\x34", 8));
  v.Put(54, packs);
  const std::string stream = lonePack + std::string("\0\0\1\xE0\0\x0C", 6) + std::string(12, 'v') +
                             std::string("\0\0\1\xB9", 4);
  v.Put(59, stream);
  // Sectors 62-65: a PDF holding a lone pack header at its second sector:
  // no stream begins there, and none is listed.
  std::string pdf = "%PDF-1.4\n" + std::string(3 * 512, ' ') + "%%EOF\n";
  pdf.replace(512, 14, lonePack);
  v.Put(62, pdf);

  const Hits expected = {
      {0, exif.size()}, {8, 10 * 512}, {18, png.size()}, {20, 4 * 512}, {24, whole.size()},
      {28, 5 * 512},    {33, 15},      {42, wave.size()},
      {48, 2 * 512},    {50, 1024},    {52, 512},       {53, 512},     {54, 5 * 512},   {59, stream.size()},
      {62, pdf.size()}};
  EXPECT_EQ(ScanWith(types, v), expected);
}

TEST(Carver, ATiffBeginningWhereALongWalkEndedIsWalkedItself) {
  // A TIFF whose walk reads more than 2 MiB, and one more that begins right
  // at the byte after the furthest it read: the second lies outside the
  // first and is listed with its own size.
  const std::string tiff = LongWalkTiff();
  ASSERT_EQ(tiff.size() % 512, 0u);
  const std::uint64_t second = tiff.size() / 512;
  MemoryVolume v(2 * second + 8);
  v.Put(0, tiff);
  v.Put(second, tiff);
  const std::vector<FileTypeRecord> types = {Type(15, kTiff, u"tif", 1 << 28)};
  const Hits expected = {{0, tiff.size()}, {second, tiff.size()}};
  EXPECT_EQ(ScanWith(types, v), expected);
}

TEST(Carver, WhatATiffsWalkLooksAtPastItsRoomIsTheArraysItsDirectoryGives) {
  // A TIFF whose offset and byte-count arrays (1,000 LONGs each) fill
  // sectors 4 to 19, past a signature at sector 2 that ends its room. Its
  // walk reads the two arrays side by side; every sector of them counts,
  // once, as looked at past the room, and the gap before them does not.
  const std::string tiff = StripTiff(1000, 4 * 512 - 768);
  ASSERT_EQ((tiff.size() + 511) / 512, 20u);
  MemoryVolume v(32);
  v.Put(0, tiff);
  v.Put(2, "MAGI");
  const std::vector<FileTypeRecord> types = {Type(15, kTiff, u"tif", 1 << 28), Type(300, "MAGI", u"mag", 512)};
  Carver carver(types, v);
  const Hits expected = {{0, tiff.size()}, {2, 512}};
  EXPECT_EQ(ScanAll(carver, v), expected);
  EXPECT_EQ(carver.Tally().looked.Seen(2, 4), 0u);
  EXPECT_EQ(carver.Tally().looked.Seen(4, 20), 16u);
  EXPECT_EQ(carver.Tally().looked.Seen(20, 32), 0u);
  EXPECT_EQ(carver.Tally().analysed, 16u * 512);
}

TEST(Carver, ATiffInsideALongWalkIsListedWholeAndItsWalkStaysInItsRoom) {
  // A TIFF whose arrays lie a megabyte past its directory, its walk reading
  // more than 2 MiB; two TIFFs lie between. What the long walk read is not
  // read again for them, but each is listed with the size its own structure
  // gives.
  const std::string far = StripTiff(300000, 1 << 20), small = StripTiff(16);
  MemoryVolume v(far.size() / 512 + 8);
  v.Put(0, far);
  v.Put(256, small);
  v.Put(512, small);
  // A TIFF at 700 whose directory (the small one's, at byte 1032) lies
  // past a four-byte signature at 701: it reads nothing past its room, and
  // is carved to there; that is no bound of the pass's, and the log says
  // nothing of it. A photo at 800, inside the long walk too, is no TIFF: it
  // is listed whole.
  std::string farDirectory = small.substr(0, 1032);
  test::PutLe(farDirectory, 4, 1032, 4);
  std::fill(farDirectory.begin() + 8, farDirectory.begin() + 8 + 54, '\0');
  farDirectory += small.substr(8, 54);
  v.Put(700, farDirectory);
  v.Put(701, "MAGI");
  const std::string photo = Photo();
  v.Put(800, photo);
  // A PNG at 900 holding at its second sector a PNG signature with no chunk
  // behind it, which ends its room: no TIFF, it reads past it to its end.
  std::string png = PngFile(std::string(1200, 't'));
  png.replace(512, 12, "\x89PNG\r\n\x1a\n\xFF\xFF\xFF\xFF");
  v.Put(900, png);
  const std::vector<FileTypeRecord> types = {Type(15, kTiff, u"tif", 1 << 28), Type(300, "MAGI", u"mag", 512),
                                             Type(14, "\xFF\xD8\xFF", u"jpg", 1 << 25),
                                             Type(19, "\x89PNG\r\n\x1a\n", u"png", 1 << 26)};
  const Hits expected = {{0, far.size()}, {256, small.size()}, {512, small.size()},
                         {700, 512},      {701, 512},          {800, photo.size()},
                         {900, png.size()}};
  Carver carver(types, v);
  EXPECT_EQ(ScanAll(carver, v), expected);
  EXPECT_EQ(CarveBoundsNote(carver.Tally()), "");
}

// Makes the sector `header` a ustar header: the magic, its version, and the
// checksum of its 512 bytes, the checksum field counted as spaces.
void SealTarHeader(std::string& header) {
  header.resize(512, '\0');
  header.replace(257, 8, std::string("ustar\0" "00", 8));
  header.replace(148, 8, "        ");
  unsigned sum = 0;
  for (char c : header) sum += static_cast<unsigned char>(c);
  char field[8];
  std::snprintf(field, sizeof field, "%06o", sum);
  header.replace(148, 7, std::string(field, 6) + '\0');
}

TEST(Carver, TheWalkToTheNextFileTakesEachUnitAsTheVolumeHoldsIt) {
  const std::vector<FileTypeRecord> types = {
      Type(14, "\xFF\xD8\xFF", u"jpg", 1 << 25), Type(19, "\x89PNG\r\n\x1a\n", u"png", 1 << 26),
      Type(55, "ustar", u"tar", 1024, 257),        Type(73, "WAVEfmt ", u"wav", 1 << 30, 8)};
  {
    // A JPEG cut short after 400 sectors, then a sector holding a PNG
    // signature whose first chunk lies 300 sectors on, and a TAR header:
    // the PNG's analysis walks its room that far, over both of the walk's
    // read-ahead windows, and fails; the TAR is still seen in that sector,
    // and the JPEG ends there.
    MemoryVolume v(1024);
    v.Put(0, JpegFile(400 * 512, false));
    std::string sector = PngFile("far");
    test::PutBe(sector, 8, 300 * 512, 4);
    SealTarHeader(sector);
    v.Put(401, sector);
    const Hits expected = {{0, 401 * 512}, {401, 1024}};
    EXPECT_EQ(ScanWith(types, v), expected);
  }
  {
    // A JPEG whose Exif segment holds a thumbnail at its second sector, cut
    // before its scan: the segment after its Exif one runs into a PNG
    // written over its fourth sector. It ends at the PNG, its thumbnail its
    // own.
    MemoryVolume v(64);
    std::string exif("\xFF\xD8\xFF\xE1\x03\xFC", 6);
    exif += std::string(512 - 6, 'e') + JpegFile(40, true) + std::string(512 - 64, 'e');
    v.Put(0, exif + std::string("\xFF\xE2\x07\x00", 4) + std::string(2000, 'i'));
    const std::string png = PngFile("over");
    v.Put(4, png);
    const Hits expected = {{0, 4 * 512}, {4, png.size()}};
    EXPECT_EQ(ScanWith(types, v), expected);
  }
  {
    // A cut JPEG, then an icon: a signature of four bytes whose type has no
    // analyser, and a directory that agrees with its format.
    MemoryVolume v(64);
    v.Put(0, JpegFile(2 * 512, false));
    // One 16x16 picture of 8 bits, its 992 bytes right after the
    // directory, beginning with a bitmap's header.
    v.Put(3, std::string("\0\0\1\0\1\0\x10\x10\0\0\1\0\x08\0\xE0\x03\0\0\x16\0\0\0\x28\0\0\0", 26));
    const std::vector<FileTypeRecord> ico = {types[0], Type(20, std::string("\0\0\1\0", 4), u"ico", 1024)};
    const Hits expected = {{0, 3 * 512}, {3, 1024}};
    EXPECT_EQ(ScanWith(ico, v), expected);
  }
  {
    // A WAVE claiming more than was written, then an unreadable sector and
    // a PNG in one read-ahead of the walk: the sectors after the bad one
    // are read on their own, and the WAVE ends at the PNG.
    MemoryVolume v(64);
    v.Put(8, WaveHeader(60 * 512 - 8));
    v.bad.insert(25);
    const std::string png = PngFile("after a bad sector");
    v.Put(32, png);
    const Hits expected = {{8, 24 * 512}, {32, png.size()}};
    EXPECT_EQ(ScanWith(types, v), expected);
  }
  {
    // The analysis of the JPEG the walk found ending a cut one is kept for
    // that JPEG only: another at a later sector is analysed itself.
    MemoryVolume v(32);
    v.Put(0, JpegFile(512, false));
    v.Put(2, JpegFile(100, true));
    const std::string later = JpegFile(900, true);
    v.Put(10, later);
    Carver carver(types, v);
    CarveHit hit;
    ASSERT_TRUE(carver.CarveAt(v.At(0), 512, 0, 0, hit));
    EXPECT_EQ(hit.file.size, 1024u);
    ASSERT_TRUE(carver.CarveAt(v.At(10), 512, 10, 10, hit));
    EXPECT_EQ(hit.file.size, later.size());
  }
}

TEST(ScanUnits, AUnitManyJpegsStepOverIsAskedAboutOnce) {
  // JPEG starts at units 2 up to `big`, each one's APP0 segment stepping
  // over the later ones and over a JPEG at `big` whose scan runs without
  // end marker over the rest of the volume, to land on a marker of its own
  // in the unit after. Whether a file begins at `big` is asked by each of
  // them: it is answered once, not by walking the big room again for each;
  // so too on a volume of 4-sector clusters from sector 3, whose units are
  // not their sectors' numbers.
  const struct {
    std::uint32_t unitSectors;
    std::uint64_t offset, big;
  } geometries[] = {{1, 0, 128}, {4, 3, 30}};
  for (const auto& g : geometries) {
    SCOPED_TRACE(g.unitSectors);
    const std::uint64_t unitBytes = 512 * g.unitSectors;
    const std::uint64_t kSectors = g.offset + (g.big + 2) * g.unitSectors + 8192;
    MemoryVolume v(kSectors);
    v.unitSectors = g.unitSectors;
    v.unitOffset = g.offset;
    std::fill(v.bytes.begin(), v.bytes.end(), 'A');
    for (std::uint64_t i = 2; i < g.big; ++i) {
      std::string h("\xFF\xD8\xFF\xE0\0\0", 6);
      test::PutBe(h, 4, (g.big + 1 - i) * unitBytes + 4 * i - 4, 2);
      v.Put(v.UnitSector(i), h);
    }
    v.Put(v.UnitSector(g.big), JpegFile(100, false));
    std::string markers;
    for (int k = 0; k < 128; ++k) markers += std::string("\xFF\xE0\x00\x02", 4);
    v.Put(v.UnitSector(g.big + 1), markers);
    const std::vector<FileTypeRecord> types = {Type(14, "\xFF\xD8\xFF", u"jpg", 1 << 25)};
    Carver carver(types, v);
    ScanAll(carver, v);
    EXPECT_LE(v.bytesRead, 10 * kSectors * 512);
  }
}

TEST(ScanUnits, PhotosAreListedWholeThoughTheirEndSearchesReadFarPastTheirRooms) {
  // Photos back to back, each one's room ending at its thumbnail: the
  // search for a photo's end marker reads a megabyte at once, over all the
  // photos after it, far more than three times the volume over the pass.
  // Nobody looked at those bytes before (each photo is looked at once, the
  // next one's bytes read ahead by the search before it): every photo is
  // listed whole, and next to nothing is counted against the bound.
  const std::string photo = Photo();
  ASSERT_EQ((photo.size() + 511) / 512, 3u);
  const std::vector<FileTypeRecord> types = {Type(48, "Rar!\x1A\x07", u"rar", 1u << 31),
                                             Type(19, "\x89PNG\r\n\x1a\n", u"png", 1 << 26),
                                             Type(14, "\xFF\xD8\xFF", u"jpg", 1 << 25)};
  {
    constexpr std::uint64_t kPhotos = 100, kSectors = 3 * kPhotos + 8;
    MemoryVolume v(kSectors);
    Hits expected;
    for (std::uint64_t k = 0; k < kPhotos; ++k) {
      v.Put(3 * k, photo);
      expected.emplace_back(3 * k, photo.size());
    }
    Carver carver(types, v);
    EXPECT_EQ(ScanAll(carver, v), expected);
    // What counts is a few sectors a photo of headers read again, never
    // the megabyte its end search reads ahead.
    EXPECT_LE(carver.Tally().analysed, kPhotos * 8 * 512);
    EXPECT_EQ(CarveBoundsNote(carver.Tally()), "");
  }
  {
    // A photo right after one whose end search read over it, that search
    // having read its room and past it: its own analysis is not refused.
    MemoryVolume v(16);
    const std::string whole = JpegFile(700, true);
    v.Put(0, whole);
    v.Put(2, photo);
    Carver carver(types, v);
    const Hits expected = {{0, whole.size()}, {2, photo.size()}};
    EXPECT_EQ(ScanAll(carver, v), expected);
  }
}

TEST(ScanUnits, PhotosAfterAChainThatSpentTheBoundAreListedWhole) {
  // Photos after a hostile chain that spent the bound: they lie past
  // everything the chain looked at, and are listed whole too.
  const std::string photo = Photo();
  const std::vector<FileTypeRecord> types = {Type(48, "Rar!\x1A\x07", u"rar", 1u << 31),
                                             Type(19, "\x89PNG\r\n\x1a\n", u"png", 1 << 26),
                                             Type(14, "\xFF\xD8\xFF", u"jpg", 1 << 25)};
  constexpr std::uint64_t kChain = 2048, kFirst = kChain + 40, kPhotos = 40;
  MemoryVolume v(kFirst + 3 * kPhotos + 2100);
  PutRarChain(v, kChain, {kChain + 30});
  Hits expected;
  for (std::uint64_t k = 0; k < kPhotos; ++k) {
    v.Put(kFirst + 3 * k, photo);
    expected.emplace_back(kFirst + 3 * k, photo.size());
  }
  Carver carver(types, v);
  const Hits hits = ScanAll(carver, v);
  Hits after;
  std::copy_if(hits.begin(), hits.end(), std::back_inserter(after), [&](const auto& h) { return h.first >= kChain; });
  EXPECT_EQ(after, expected);
}

TEST(ScanUnits, ACutJpegEndsInsideTheNextPhotoWhileAPhotoKeepsItsPreviews) {
  const std::vector<FileTypeRecord> types = {Type(19, "\x89PNG\r\n\x1a\n", u"png", 1 << 26),
                                             Type(14, "\xFF\xD8\xFF", u"jpg", 1 << 25)};
  // A JPEG cut before its scan whose APP1 (its Exif block) runs `to` bytes
  // from its start.
  auto cutExif = [](std::size_t to) {
    std::string c("\xFF\xD8\xFF\xE1\0\0", 6);
    test::PutBe(c, 4, to - 4, 2);
    return c + std::string(to - 6, 'c');
  };
  // A JPEG cut before its scan whose APP0 runs `to` bytes from its start.
  auto cutApp0 = [](std::size_t to) {
    std::string c("\xFF\xD8\xFF\xE0\0\0", 6);
    test::PutBe(c, 4, to - 4, 2);
    return c + std::string(to - 6, 'x');
  };
  MemoryVolume v(64);
  // Sectors 0-6: a cut JPEG whose APP1 step lands ten bytes into the APP1
  // of a photo at sector 4, off any marker.
  const std::string photo = Photo();
  v.Put(0, cutExif(4 * 512 + 10));
  v.Put(4, photo);
  // Sectors 8-14: the same, its step landing right on the quantisation
  // table's marker of the photo's thumbnail, inside the photo's APP1.
  v.Put(8, cutExif(4 * 512 + 512 + 2));
  v.Put(12, photo);
  // Sectors 16-18: a photo whose APP1 holds at its second sector a preview
  // whose APP0 runs past the APP1's end into the photo's scan.
  std::string preview("\xFF\xD8\xFF\xE0\0\0", 6);
  test::PutBe(preview, 4, 1300 - 512 - 4, 2);
  const std::string runsOver = Photo(preview + std::string(1100 - 512 - 6, 'p'));
  v.Put(16, runsOver);
  // Sectors 20-23: a photo holding a preview split over its APP1 and an
  // APP2: the preview's quantisation table begins 30 bytes before the
  // APP1's end, so its length steps over the APP2's marker, 4 bytes short
  // of the preview's frame.
  std::string split("\xFF\xD8\xFF\xE0\x00\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0", 20);
  split += std::string("\xFF\xFE\0\0", 4);
  test::PutBe(split, 22, (1100 - 30 - 512) - 22, 2);
  split.resize(1100 - 30 - 512, 'k');
  split += std::string("\xFF\xDB\x00\x43\x00", 5) + std::string(64, '\x01');
  std::string photoSplit = Photo(split.substr(0, 1100 - 512));
  std::string app2("\xFF\xE2\0\0", 4);
  app2 += split.substr(1100 - 512);
  app2 += std::string("\xFF\xC0\x00\x0B\x08\x00\x10\x00\x10\x01\x01\x11\x00", 13);
  app2 += std::string("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10) + std::string(40, 'T') + "\xFF\xD9";
  test::PutBe(app2, 2, app2.size() - 2, 2);
  photoSplit.insert(1100, app2);
  v.Put(20, photoSplit);
  // Sectors 26-31: a cut JPEG whose APP0 step lands 40 bytes into the APP0
  // data of another cut one at sector 28, whose own step lands right on the
  // APP0 marker of a whole JPEG at sector 30. Asked about from inside the
  // first one's analysis, the second is analysed without asking about the
  // third; the pass analyses it itself, and it ends at the third.
  const std::string whole = JpegFile(700, true);
  v.Put(26, cutApp0(2 * 512 + 40));
  v.Put(28, cutApp0(2 * 512 + 2));
  v.Put(30, whole);
  // Sectors 34-40: as at 8, the photo after it with one stray byte between
  // its APP1 and its table, which decoders pass over.
  std::string stray = photo;
  stray.insert(1100, 1, '\0');
  v.Put(34, cutExif(4 * 512 + 512 + 2));
  v.Put(38, stray);
  // Sectors 42-48: a cut JPEG whose step lands on the start of image of
  // the thumbnail inside the APP1 of a photo with two stray bytes after the
  // APP1: its segments do not lead whole to its scan, but the step landed
  // off any marker inside one of them.
  std::string strays = photo;
  strays.insert(1100, 2, '\0');
  v.Put(42, cutExif(4 * 512 + 512));
  v.Put(46, strays);
  // Sectors 50-56: a cut JPEG whose Exif block names its date at a place
  // past its cut, where the photo after it (its APP1 stepped into, off any
  // marker) holds a date: the cut JPEG's name takes none of it.
  std::string dated = cutExif(4 * 512 + 200);
  const std::string ifd("\x01\0\x32\x01\x02\0\x14\0\0\0\0\0\0\0\0\0\0\0", 18);
  dated.replace(6, 14 + 18, std::string("Exif\0\0II*\0\x08\0\0\0", 14) + ifd);
  test::PutLe(dated, 30, 4 * 512 + 100 - 12, 4);  // the date's offset from the TIFF header at 12
  std::string holding = photo;
  holding.replace(100, 20, std::string("2019:01:02 03:04:05\0", 20));
  v.Put(50, dated);
  v.Put(54, holding);

  const Hits expected = {{0, 4 * 512},       {4, photo.size()},       {8, 4 * 512},
                         {12, photo.size()}, {16, runsOver.size()},   {20, photoSplit.size()},
                         {26, 2 * 512},      {28, 2 * 512},           {30, whole.size()},
                         {34, 4 * 512},      {38, stray.size()},      {42, 4 * 512},
                         {46, strays.size()}, {50, 4 * 512},          {54, holding.size()}};
  Carver carver(types, v);
  std::map<std::uint64_t, std::u16string> suffixes;
  EXPECT_EQ(ScanAll(carver, v, [](std::uint64_t) { return true; }, &suffixes), expected);
  EXPECT_EQ(suffixes[50], u"");
}

// An ID3v2.4 tag header (a tag of 246 bytes: its size four bytes of seven
// bits each) and `bytes` of frames in all.
std::string Mp3(std::size_t bytes) {
  std::string m("ID3\x04\0\0\0\0\x01\x76", 10);
  return m + std::string(bytes - m.size(), '\x55');
}

// An MPEG-2 program stream of `packs` packs of 512 bytes, each a pack
// header whose system clock counts on from `clock` and a video PES packet
// filling the rest; the end code after them when `ended`.
std::string MpegStream(std::size_t packs, std::uint64_t clock, bool ended) {
  std::string s;
  for (std::size_t k = 0; k < packs; ++k) {
    const test::Bytes header = test::MpegPack2(clock + 3600 * k);
    const std::string pack(header.begin(), header.end());
    std::string pes("\0\0\1\xE0\0\0", 6);
    test::PutBe(pes, 4, 512 - 14 - 6, 2);
    s += pack + pes + std::string(512 - 14 - 6, '\x21');
  }
  return ended ? s + std::string("\0\0\1\xB9", 4) : s;
}

TEST(ScanUnits, RunsNoStructureSizesEndAtAFileAndStreamsAtTheirWalksEnd) {
  const std::vector<FileTypeRecord> types = {
      Type(111, "ID3", u"mp3", 1 << 20), Type(17, "BM", u"bmp", 1 << 27), Type(19, "\x89PNG\r\n\x1a\n", u"png", 1 << 26),
      Type(300, "RAW", u"raw", 1 << 20),  Type(121, std::string("\0\0\1\xBA", 4), u"mpg", 1 << 20),
      Type(68, "FWS", u"swf", 1 << 20),  Type(20, std::string("\0\0\1\0", 4), u"ico", 1 << 20)};
  const std::string png = PngFile("after the run");
  MemoryVolume v(72);
  // Sectors 0-6: an MP3 whose frames hold "BM" at a sector start, where no
  // bitmap begins; the MP3 runs to the PNG.
  std::string mp3 = Mp3(6 * 512);
  mp3.replace(3 * 512, 2, "BM");
  v.Put(0, mp3);
  v.Put(6, png);
  // Sectors 8-14: the same with "RAW" there and at the next sector, a
  // three-byte signature of a type whose next bytes tell nothing: the MP3
  // runs to the PNG, and the raw hits are listed too, each carved to the
  // next signature.
  mp3 = Mp3(6 * 512);
  mp3.replace(3 * 512, 3, "RAW");
  mp3.replace(4 * 512, 3, "RAW");
  v.Put(8, mp3);
  v.Put(14, png);
  // Sectors 16-22: a stream whose pack headers stand at every sector, and
  // its end code.
  const std::string stream = MpegStream(6, 90000, true);
  v.Put(16, stream);
  // Sectors 24-31: two streams back to back, the second's clock starting
  // over: the first ends where it goes back.
  v.Put(24, MpegStream(4, 180000, false));
  const std::string second = MpegStream(4, 0, true);
  v.Put(28, second);
  // Sectors 40-44: a stream of four packs, a PNG written over its last.
  v.Put(40, MpegStream(4, 0, true));
  v.Put(43, png);
  // Sectors 48-54: an MP3 whose frames hold "FWS" and an icon's signature
  // at sector starts, their next bytes no Flash movie's and no icon
  // directory's: the MP3 runs to the PNG, and neither is listed.
  mp3 = Mp3(6 * 512);
  mp3.replace(3 * 512, 3, "FWS");
  mp3.replace(4 * 512, 6, std::string("\0\0\1\0\1\0", 6));
  v.Put(48, mp3);
  v.Put(54, png);
  // Sectors 56-61: an MP3, then a Flash movie's header (version 6, its
  // length and frame size): a file begins there and ends the MP3.
  v.Put(56, Mp3(6 * 512));
  const std::string swf("FWS\x06\x41\x4F\0\0\x70\0\x0C\x80\0\0\x96\0\0\x0A\x0A\0", 20);
  v.Put(59, swf);
  v.Put(62, png);

  const Hits expected = {{0, 6 * 512},  {6, png.size()},  {8, 6 * 512},  {11, 512}, {12, 2 * 512},
                         {14, png.size()}, {16, stream.size()}, {24, 4 * 512}, {28, second.size()},
                         {40, 3 * 512}, {43, png.size()}, {48, 6 * 512}, {54, png.size()},
                         {56, 3 * 512}, {59, 3 * 512}, {62, png.size()}};
  EXPECT_EQ(ScanWith(types, v), expected);

  // An icon (its directory as writers make it) carved to its largest size,
  // four sectors, over a gzip header at sector 1 whose reserved flag bit
  // tells against the format: that one is the run's bytes. The same header
  // right after the run, at sector 4, stands alone: it is carved to the
  // next signature as a type without analyser is.
  const std::vector<FileTypeRecord> small = {Type(20, std::string("\0\0\1\0", 4), u"ico", 4 * 512),
                                             Type(50, "\x1F\x8B\x08", u"gz", 1 << 20)};
  MemoryVolume w(12);
  std::string icon("\0\0\1\0\1\0\x10\x10\0\0\1\0\x20\0\x68\x04\0\0\x16\0\0\0\x28\0\0\0", 26);
  w.Put(0, icon + std::string(4 * 512 - icon.size(), 'i'));
  const std::string flagged("\x1F\x8B\x08\x28\0\0\0\0\0\x03", 10);
  w.Put(1, flagged);
  w.Put(4, flagged);
  const Hits alone = {{0, 4 * 512}, {4, 8 * 512}};
  EXPECT_EQ(ScanWith(small, w), alone);
}

TEST(ScanUnits, OnceTheBoundIsSpentOnlyThePassesOwnAnalysesGoOnPastAChanceSignature) {
  // After a hostile chain that spent the bound, files whose analyses read
  // again bytes the chain looked at.
  constexpr std::uint64_t kChain = 2048, R = kChain;
  MemoryVolume v(kChain + 256);
  // The sectors the reads past the rooms below take in.
  PutRarChain(v, kChain, {R + 10, R + 23, R + 32, R + 42, R + 52, R + 62});
  // R+4: an MP3 whose frames hold, at R+7, a PNG signature whose chunk runs
  // into the PNG at R+10: refused, its analysis tells nothing, and the MP3
  // runs past it to the PNG; the signature is still listed, unanalysed.
  v.Put(R + 4, Mp3(6 * 512));
  std::string jumping = PngFile("jumps");
  test::PutBe(jumping, 33, 1500, 4);
  v.Put(R + 7, jumping);
  const std::string png = PngFile("after the run");
  v.Put(R + 10, png);
  // R+20: a cut JPEG whose APP0 steps 300 bytes into R+22, where a PNG
  // signature stands whose chunk runs past "BM" at R+23 (no bitmap) to
  // bytes that are no chunk (a length above 2^31). Asked about from inside the JPEG's analysis,
  // the PNG's own analysis asks nothing: its read refused, it is taken as
  // a file, and the JPEG ends there.
  std::string cut("\xFF\xD8\xFF\xE0\0\0", 6);
  test::PutBe(cut, 4, 2 * 512 + 300 - 4, 2);
  v.Put(R + 20, cut + std::string(2 * 512 - 6, 'x'));
  std::string stray = PngFile("").substr(0, 33);
  stray += std::string("\0\0\0\0abcd", 8);
  test::PutBe(stray, 33, 512 + 200 - 33 - 12, 4);
  stray.resize(1024, '\xFF');
  stray.replace(512, 2, "BM");
  v.Put(R + 22, stray);
  // R+30: a PNG whose chunk head straddles R+32 and R+33, each beginning
  // with "BM" where no bitmap begins (its type "BMab", its CRC no bitmap's
  // reserved words): the one read goes on past both.
  std::string straddling = PngFile("").substr(0, 33) + std::string("\0\0\0\0abcd", 8);
  test::PutBe(straddling, 33, 1532 - 33 - 12, 4);
  straddling.resize(1532, 'y');
  straddling.replace(1024, 2, "BM");
  straddling += std::string("\0\0\0\0BMabcccc", 12) + std::string("\0\0\0\0IEND\xAE\x42\x60\x82", 12);
  v.Put(R + 30, straddling);
  // R+40: a PNG holding at R+41 a PNG signature, eight bytes, and no chunk
  // after it: a sure signature ends its room for good, and it is carved to
  // there.
  std::string sure = PngFile(std::string(1200, 't'));
  sure.replace(512, 12, "\x89PNG\r\n\x1a\n\xFF\xFF\xFF\xFF");
  v.Put(R + 40, sure);
  // R+50: a ZIP whose entry's data runs over a ZIP at R+51 to that one's
  // central directory at R+52: its read there refused, it is carved to the
  // next signature, and the ZIP after it, walked itself, is listed whole.
  auto local = [](char name, std::uint32_t packed) {
    std::string z(30, '\0');
    z.replace(0, 4, "PK\x03\x04");
    test::PutLe(z, 4, 20, 2);
    test::PutLe(z, 18, packed, 4);
    test::PutLe(z, 22, packed, 4);
    test::PutLe(z, 26, 1, 2);
    return z + name;
  };
  v.Put(R + 50, local('a', 2 * 512 + 100 - 31) + std::string(512 - 31, 'z'));
  v.Put(R + 51, local('b', 512 + 100 - 31) + std::string(512 + 100 - 31, 'z'));
  std::string directory(46, '\0');
  directory.replace(0, 4, "PK\x01\x02");
  test::PutLe(directory, 28, 1, 2);
  directory += 'b';
  std::string end(22, '\0');
  end.replace(0, 4, "PK\x05\x06");
  test::PutLe(end, 8, 1, 2);
  test::PutLe(end, 10, 1, 2);
  test::PutLe(end, 12, 47, 4);
  test::PutLe(end, 16, 512 + 100, 4);
  std::memcpy(v.bytes.data() + (R + 52) * 512 + 100, (directory + end).data(), 69);
  // R+60: a PNG holding at R+61 an MPEG pack start without its marker bits:
  // four bytes, but its next ones tell against a stream, so its room goes
  // on past it when no file begins there.
  std::string packed = PngFile(std::string(1200, 'p'));
  packed.replace(512, 8, std::string("\0\0\1\xBA\0\0\x12\x34", 8));
  v.Put(R + 60, packed);

  const std::vector<FileTypeRecord> types = {
      Type(48, "Rar!\x1A\x07", u"rar", 1u << 31), Type(17, "BM", u"bmp", 1 << 27),
      Type(19, "\x89PNG\r\n\x1a\n", u"png", 1 << 26), Type(14, "\xFF\xD8\xFF", u"jpg", 1 << 25),
      Type(52, "PK\x03\x04", u"zip", 1u << 31),      Type(111, "ID3", u"mp3", 1 << 20),
      Type(121, std::string("\0\0\1\xBA", 4), u"mpg", 1 << 20)};
  Carver carver(types, v);
  const Hits hits = ScanAll(carver, v);
  Hits after;
  std::copy_if(hits.begin(), hits.end(), std::back_inserter(after), [](const auto& h) { return h.first >= R; });
  const Hits expected = {{R + 4, 6 * 512},      {R + 7, 3 * 512},  {R + 10, png.size()}, {R + 20, 2 * 512},
                         {R + 30, straddling.size()}, {R + 40, 512}, {R + 50, 512},    {R + 51, 512 + 100 + 69},
                         {R + 60, packed.size()}};
  EXPECT_EQ(after, expected);
  EXPECT_GE(carver.Tally().unanalysed, 3u);
}

// A stored ZIP as zip -0 lays one out: its entries, `(name, data, extra
// bytes)` each, then a central header for each and the end record.
std::string StoredZip(const std::vector<std::tuple<std::string, std::string, std::size_t>>& entries) {
  std::string z, central;
  for (const auto& [name, data, extra] : entries) {
    std::string local(30, '\0');
    local.replace(0, 4, "PK\x03\x04");
    test::PutLe(local, 4, 10, 2);
    test::PutLe(local, 18, data.size(), 4);
    test::PutLe(local, 22, data.size(), 4);
    test::PutLe(local, 26, name.size(), 2);
    test::PutLe(local, 28, extra, 2);
    std::string header(46, '\0');
    header.replace(0, 4, "PK\x01\x02");
    test::PutLe(header, 20, data.size(), 4);
    test::PutLe(header, 24, data.size(), 4);
    test::PutLe(header, 28, name.size(), 2);
    test::PutLe(header, 42, z.size(), 4);
    central += header + name;
    z += local + name + std::string(extra, '\0') + data;
  }
  std::string end(22, '\0');
  end.replace(0, 4, "PK\x05\x06");
  test::PutLe(end, 8, entries.size(), 2);
  test::PutLe(end, 10, entries.size(), 2);
  test::PutLe(end, 12, central.size(), 4);
  test::PutLe(end, 16, z.size(), 4);
  return z + central + end;
}

TEST(ScanUnits, ArchivesHoldingAPictureAtASectorStartAreListedWholeAfterAChainThatSpentTheBound) {
  // JPEG starts whose segments jump onto the next ones spend the bound,
  // listing little. Right after them, a stored ZIP whose first entry, a
  // JPEG, begins at its second sector, so its room is one sector; 40 small
  // entries after it, and a directory of two kilobytes that the walk's
  // window is read again for from the sector it stopped in. The archive is
  // listed whole: what its own walk looked at first it reads again as its
  // own.
  constexpr std::uint64_t kChain = 2048, R = kChain;
  MemoryVolume v(R + 64);
  for (std::uint64_t k = 0; k < kChain; ++k) v.Put(k, ChainSector(Chain::JpegJump, k, kChain));
  const std::string picture = JpegFile(700, true);
  std::vector<std::tuple<std::string, std::string, std::size_t>> entries = {{"p.jpg", picture, 512 - 30 - 5}};
  for (int k = 0; k < 40; ++k) entries.emplace_back("a" + std::to_string(10 + k), std::string(10, 'd'), 0);
  const std::string zip = StoredZip(entries);
  ASSERT_EQ(zip.compare(512, 3, "\xFF\xD8\xFF"), 0);
  v.Put(R, zip);
  // Then a JPEG cut before its scan, whose APP0 step lands two bytes into
  // the first sector of an archive whose picture follows its first header,
  // the picture's markers 35 bytes on: the step ran into the archive's
  // header, and the JPEG ends there.
  const std::uint64_t after = R + (zip.size() + 511) / 512 + 2;
  std::string cut("\xFF\xD8\xFF\xE0\0\0", 6);
  test::PutBe(cut, 4, 2 * 512 + 2 - 4, 2);
  v.Put(after, cut + std::string(2 * 512 - 6, 'x'));
  entries[0] = {"p.jpg", picture, 0};
  const std::string packed = StoredZip(entries);
  v.Put(after + 2, packed);

  const std::vector<FileTypeRecord> types = {Type(52, "PK\x03\x04", u"zip", 1u << 31),
                                             Type(14, "\xFF\xD8\xFF", u"jpg", 1 << 25)};
  Carver carver(types, v);
  const Hits hits = ScanAll(carver, v);
  Hits files;
  std::copy_if(hits.begin(), hits.end(), std::back_inserter(files), [&](const auto& h) { return h.first >= R; });
  const Hits expected = {{R, zip.size()}, {R + 1, picture.size()}, {after, 2 * 512}, {after + 2, packed.size()}};
  EXPECT_EQ(files, expected);
  // The chain did spend the bound, and listed under its bound.
  EXPECT_GE(carver.Tally().analysed, CarveTally::kReadVolumes * v.bytes.size());
  EXPECT_EQ(carver.Tally().cutByTotal, 0u);
}

TEST(ScanUnits, AnArchiveWalkedToItsEndRecordKeepsTheFilesItHoldsOnceTheListingBoundIsSpent) {
  // AU headers whose sizes run nearly to the volume's end spend the
  // listing bound (twice the volume) with their first two. After them,
  // stored ZIPs whose JPEG begins at their second sector.
  constexpr std::uint64_t kSectors = 128, R = 16;
  MemoryVolume v(kSectors);
  for (std::uint64_t s = 0; s < 8; ++s)
    v.Put(s, test::AuHeader(24, static_cast<std::uint32_t>((kSectors - s) * 512 - 124)));
  const std::string picture = JpegFile(700, true);
  const std::string zip = StoredZip({{"p.jpg", picture, 512 - 30 - 5}, {"notes", std::string(40, 'n'), 0}});
  ASSERT_EQ(zip.compare(512, 3, "\xFF\xD8\xFF"), 0);
  // R: walked to its end record, which says the directory is where the
  // walk found it: the archive's bytes are its own, and it is listed whole.
  v.Put(R, zip);
  // R+10: its end record cut off, and R+20: its end record one byte off
  // on where the directory begins: neither proves its end, and each ends
  // where its JPEG begins.
  v.Put(R + 10, zip.substr(0, zip.size() - 22));
  std::string off = zip;
  off[off.size() - 6] = static_cast<char>(off[off.size() - 6] + 1);
  v.Put(R + 20, off);
  // R+30: an archive stored in another: the inner one begins inside the
  // outer's own bytes, and is bounded as any other file.
  const std::string outer = StoredZip({{"in.zip", zip, 512 - 30 - 6}});
  ASSERT_EQ(outer.compare(512, 4, "PK\x03\x04"), 0);
  v.Put(R + 30, outer);
  // R+40: a PNG whose chunks lead to its end chunk, the JPEG inside its
  // text at its second sector: a chain of chunks proves nothing (chained
  // headers run one PNG's chunk onto the next one's), and it ends where
  // the JPEG begins.
  const std::string png = PngFile(std::string(512 - 48, 's') + picture);
  ASSERT_EQ(png.compare(512, 3, "\xFF\xD8\xFF"), 0);
  v.Put(R + 40, png);

  const std::vector<FileTypeRecord> types = {
      Type(57, ".snd", u"au", 256u << 20), Type(52, "PK\x03\x04", u"zip", 1u << 31),
      Type(14, "\xFF\xD8\xFF", u"jpg", 1 << 25), Type(19, "\x89PNG\r\n\x1a\n", u"png", 1 << 26)};
  Carver carver(types, v);
  const Hits hits = ScanAll(carver, v);
  Hits files;
  std::copy_if(hits.begin(), hits.end(), std::back_inserter(files), [&](const auto& h) { return h.first >= R; });
  const Hits expected = {{R, zip.size()},      {R + 1, picture.size()},  {R + 10, 512},
                         {R + 11, picture.size()}, {R + 20, 512},        {R + 21, picture.size()},
                         {R + 30, outer.size()},   {R + 31, 512},        {R + 32, picture.size()},
                         {R + 40, 512},            {R + 41, picture.size()}};
  EXPECT_EQ(files, expected);
  EXPECT_GE(carver.Tally().cutByTotal, 3u);
}

TEST(ScanUnits, TheAnswersKeptOfWhetherAFileBeginsStayWithinTheirBound) {
  // Three JPEGs, each 720 APP0 segments of 64 KiB and a scan, over sectors
  // that begin with "MZ" (two bytes data holds by chance): each step asks
  // whether a file begins at the units it passes, 276,480 of them over the
  // pass, more than the 2^18 answers a carver keeps.
  constexpr std::uint64_t kSegments = 720, kSegment = 65537;
  const std::uint64_t jpegBytes = 2 + kSegments * kSegment + 10 + 100 + 2;
  const std::uint64_t jpegSectors = (jpegBytes + 511) / 512;
  MemoryVolume v(3 * jpegSectors + 8);
  for (std::uint64_t s = 0; s < 3 * jpegSectors; ++s) std::memcpy(v.bytes.data() + s * 512, "MZ", 2);
  Hits expected;
  for (std::uint64_t j = 0; j < 3; ++j) {
    std::uint8_t* jpeg = v.bytes.data() + j * jpegSectors * 512;
    std::memcpy(jpeg, "\xFF\xD8", 2);
    for (std::uint64_t k = 0; k < kSegments; ++k) std::memcpy(jpeg + 2 + k * kSegment, "\xFF\xE0\xFF\xFF", 4);
    std::uint8_t* scan = jpeg + 2 + kSegments * kSegment;
    std::memcpy(scan, "\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10);
    std::memset(scan + 10, 'S', 100);
    std::memcpy(scan + 110, "\xFF\xD9", 2);
    expected.emplace_back(j * jpegSectors, jpegBytes);
  }
  const std::vector<FileTypeRecord> types = {Type(14, "\xFF\xD8\xFF", u"jpg", 1 << 30), Type(150, "MZ", u"exe", 1 << 20)};
  Carver carver(types, v);
  EXPECT_EQ(ScanAll(carver, v), expected);
  EXPECT_GT(carver.KeptAnswers(), 0u);
  EXPECT_LE(carver.KeptAnswers(), std::size_t{1} << 18);
}

TEST(SectorRanges, PiecesNotHeldAreToldAndTooManyRangesAreJoinedNeverLost) {
  SectorRanges r;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> fresh;
  auto add = [&](std::uint64_t from, std::uint64_t to) {
    fresh.clear();
    r.Add(from, to, [&](std::uint64_t a, std::uint64_t b) { fresh.emplace_back(a, b); });
    return fresh;
  };
  using Pieces = std::vector<std::pair<std::uint64_t, std::uint64_t>>;
  EXPECT_EQ(add(10, 20), (Pieces{{10, 20}}));
  EXPECT_EQ(add(30, 40), (Pieces{{30, 40}}));
  // Over both and the gaps around them: only the gaps are new.
  EXPECT_EQ(add(5, 45), (Pieces{{5, 10}, {20, 30}, {40, 45}}));
  EXPECT_EQ(r.Ranges(), 1u);
  EXPECT_EQ(add(45, 50), (Pieces{{45, 50}}));  // touching: joined
  EXPECT_EQ(r.Ranges(), 1u);
  EXPECT_EQ(add(60, 61), (Pieces{{60, 61}}));
  EXPECT_EQ(add(7, 9), Pieces{});
  EXPECT_EQ(r.Seen(0, 100), 46u);
  EXPECT_EQ(r.Seen(48, 60), 2u);
  EXPECT_EQ(r.SeenTo(48, 70), 61u);
  EXPECT_EQ(r.SeenTo(51, 60), 51u);
  EXPECT_EQ(r.SeenTo(0, 5), 0u);
  // Over a range from before it, and from inside one over the next: only
  // the gaps are new, and one range holds what met.
  EXPECT_EQ(add(70, 75), (Pieces{{70, 75}}));
  EXPECT_EQ(add(55, 62), (Pieces{{55, 60}, {61, 62}}));
  EXPECT_EQ(add(58, 72), (Pieces{{62, 70}}));
  EXPECT_EQ(r.Ranges(), 2u);
  EXPECT_EQ(r.Seen(50, 80), 20u);
  EXPECT_EQ(add(5, 80), (Pieces{{50, 55}, {75, 80}}));
  EXPECT_EQ(r.Ranges(), 1u);

  // Kept to four ranges: sixteen scattered sectors end in at most four
  // ranges, and every sector added is still held.
  SectorRanges few(4);
  for (std::uint64_t k = 0; k < 16; ++k) few.Add(k * k * 10, k * k * 10 + 1, [](std::uint64_t, std::uint64_t) {});
  EXPECT_LE(few.Ranges(), 4u);
  for (std::uint64_t k = 0; k < 16; ++k) EXPECT_EQ(few.Seen(k * k * 10, k * k * 10 + 1), 1u) << k;
}

TEST(RawTypeFolders, AFullFolderContinuesInNumberedFolders) {
  RawTypeFolders folders(2);
  auto place = [&](std::u16string_view type, std::uint32_t id) {
    RawTypeFolders::Placement p = folders.Place(type);
    if (p.created) folders.SetId(p.index, id);
    return p;
  };
  EXPECT_TRUE(place(u"jpg", 10).created);
  // The folder holds the file that opened it and two more.
  EXPECT_EQ(place(u"jpg", 0).folderId, 10u);
  EXPECT_EQ(place(u"jpg", 0).folderId, 10u);
  const auto overflow = place(u"jpg", 11);
  EXPECT_TRUE(overflow.created);
  EXPECT_EQ(overflow.name, u"jpg1");
  EXPECT_EQ(place(u"png", 12).name, u"png");
  EXPECT_EQ(place(u"jpg", 0).folderId, 11u);
  EXPECT_EQ(place(u"jpg", 0).folderId, 11u);
  EXPECT_EQ(place(u"jpg", 13).name, u"jpg2");
}

TEST(RawItemName, TheCountNamesFilesWithASuffixTheirPlaceTheOthers) {
  EXPECT_EQ(RawItemName(u"(3-12-2010 15-30-46)(640x480)", 12, 81920, u"jpg"), u"12_(3-12-2010 15-30-46)(640x480).jpg");
  EXPECT_EQ(RawItemName(u"", 12, 81920, u"jpg"), u"81920.jpg");
  EXPECT_EQ(CutTypeName(u"averylongextension", 7), u"averylo");
}

TEST(ScanUnits, AFileCarvedToTheNextSignatureIsSkippedEvenAcrossReads) {
  MemoryVolume v(40);
  v.Put(2, "MAGI");   // carved to sector 7, where the next file begins
  v.Put(7, "MAGI");   // carved over the read boundary at 8, up to 12
  v.Put(12, "MAGI");  // ends at the largest size: 6 sectors
  v.Put(30, "MAGI");
  const std::vector<FileTypeRecord> types = {Type(300, "MAGI", u"mag", 6 * 512)};
  Carver carver(types, v);
  const Hits expected = {{2, 5 * 512}, {7, 5 * 512}, {12, 6 * 512}};
  EXPECT_EQ(ScanAll(carver, v, [](std::uint64_t u) { return u != 30; }), expected);
}

}  // namespace
}  // namespace corvan
