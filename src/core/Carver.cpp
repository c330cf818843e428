#include "core/Carver.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "core/EngineHost.h"
#include "core/NameSanitiser.h"
#include "core/SignatureEvidence.h"
#include "platform/ByteCodec.h"
#include "platform/TextConv.h"

namespace corvan {

namespace {

// Ranges an analysis keeps of what it looked at itself.
constexpr std::size_t kMineKept = 1024;

// Sectors read at once by generic carving's walk: the units it steps to are
// mostly consecutive, and one sector per read would make a long walk slow.
// A walk's first read is short (most end at the next unit, where the next
// file begins) and each one that goes on from the last doubles, up to the
// largest.
constexpr std::uint64_t kWalkFirstReadSectors = 1;
constexpr std::uint64_t kWalkReadSectors = 128;

}  // namespace

// Reads the first sector of the units generic carving steps to, through
// read-ahead windows. One serves every walk of a carver: the walk to a file's
// end and the walks of the rooms of the files it meets go over the same
// sectors, one a little behind the other, so two windows are kept. The
// buffers grow with the reads: most walks end after the first.
class Carver::WalkReader {
 public:
  explicit WalkReader(CarveVolume& volume) : volume_(volume) {}

  const std::uint8_t* Sector(std::uint64_t sector) {
    for (Window* w : {&windows_[current_], &windows_[1 - current_]}) {
      if (w->Holds(sector)) return w->At(sector);
    }
    // A walk that goes on past a window reads further ahead; one that
    // begins elsewhere starts short again. The window read over is the
    // other one.
    std::uint64_t ahead = kWalkFirstReadSectors;
    for (const Window& w : windows_) {
      if (w.count != 0 && sector >= w.first + w.count && sector < w.first + w.count + kWalkReadSectors)
        ahead = std::max(ahead, std::min(w.ahead * 2, kWalkReadSectors));
    }
    current_ = 1 - current_;
    Window& w = windows_[current_];
    w.ahead = ahead;
    w.first = sector;
    // No read-ahead runs past the volume's end.
    const std::uint64_t end = volume_.EndSector();
    w.count = sector < end ? std::min(ahead, end - sector) : 1;
    if (w.buffer.size() < w.count * 512) w.buffer.resize(w.count * 512);
    if (!volume_.Read(sector, w.buffer.data(), w.count * 512)) {
      // A window that cannot be read whole may still hold sectors that
      // can. One that cannot be read begins nothing.
      w.count = 1;
      std::memset(w.buffer.data(), 0, w.buffer.size());
      volume_.Read(sector, w.buffer.data(), 512);
    }
    return w.At(sector);
  }

 private:
  struct Window {
    std::vector<std::uint8_t> buffer;
    std::uint64_t first = 0;
    std::uint64_t count = 0;  // 0: nothing read yet
    std::uint64_t ahead = kWalkFirstReadSectors;
    bool Holds(std::uint64_t sector) const { return sector >= first && sector - first < count; }
    const std::uint8_t* At(std::uint64_t sector) const { return buffer.data() + (sector - first) * 512; }
  };
  CarveVolume& volume_;
  std::array<Window, 2> windows_;
  std::size_t current_ = 0;
};

// A hit's room: its sectors up to the unit where the next signature stands
// (or the volume's end). It is walked as generic carving walks, only as far
// as the analysis reads: most read a sector or two. A signature may stand
// there by chance (two bytes of a picture's pixels): when a read past the
// room is refused, the room goes on past a signature behind which no file
// begins, so a real file keeps the size its own analysis gives.
class Carver::Room {
 public:
  Room(Carver& carver, std::uint64_t startUnit, std::uint64_t startSector)
      : carver_(carver), volume_(carver.volume_), unit_(startUnit), start_(startSector),
        end_(startSector + UnitSectors()), nextUnit_(startUnit), next_(startSector), top_(carver.depth_ == 1) {}

  // The room's end, walked up to `sector` at least when no signature ends it
  // before.
  std::uint64_t Reach(std::uint64_t sector) {
    while (!closed_ && end_ < sector) {
      if (volume_.Aborted()) {
        closed_ = true;
      } else if (!volume_.NextUnit(unit_)) {
        closed_ = true;
        end_ = std::max(end_, volume_.EndSector());
      } else {
        const std::uint64_t at = volume_.UnitSector(unit_);
        const std::uint8_t* data = carver_.walk_->Sector(at);
        if (carver_.Probe(data, 512)) {
          closed_ = atSignature_ = true;
          sure_ = carver_.SureSignature(data);
          end_ = at;
        } else {
          end_ = at + UnitSectors();
        }
      }
    }
    return end_;
  }

  // Goes on past the signature that ended the room when it is a short one
  // (two or three bytes, which data holds by chance) or one whose next bytes
  // tell against its format, and no file begins there; false when one does,
  // or the room did not end at such a one.
  bool PassSignature() {
    if (!top_ || settled_ || !closed_ || !atSignature_ || sure_) return false;
    if (carver_.FileBegins(end_, unit_)) {
      settled_ = true;  // the room ends there for good
      return false;
    }
    closed_ = atSignature_ = false;
    end_ += UnitSectors();
    return true;
  }

  // The file's own structure runs at least to `sector`: a signature before
  // it (a thumbnail inside a photo's segment) does not end the room. Only
  // the pass's own analysis, whose file the pass then steps over, has it.
  void Own(std::uint64_t sector) {
    if (!top_ || sector <= end_) return;
    end_ = sector;
    closed_ = atSignature_ = sure_ = settled_ = false;
    // The walk goes on from the unit holding the room's last sector.
    std::uint64_t unit = unit_;
    while (volume_.NextUnit(unit) && volume_.UnitSector(unit) < end_) unit_ = unit;
  }

  // The first unit start in [from, to) past the hit's first unit where a
  // file begins; `to` when none does.
  std::uint64_t NextFile(std::uint64_t from, std::uint64_t to) {
    if (!top_) return to;
    while (next_ < to && !volume_.Aborted()) {
      if (next_ >= from && next_ != start_ && carver_.FileBegins(next_, nextUnit_)) return next_;
      if (!volume_.NextUnit(nextUnit_)) {
        next_ = UINT64_MAX;
        break;
      }
      next_ = volume_.UnitSector(nextUnit_);
    }
    return to;
  }

 private:
  std::uint64_t UnitSectors() const { return std::max<std::uint64_t>(1, volume_.UnitBytes() / 512); }

  Carver& carver_;
  CarveVolume& volume_;
  std::uint64_t unit_;
  std::uint64_t start_;
  std::uint64_t end_;
  bool closed_ = false;
  bool atSignature_ = false;  // closed where a signature stands
  bool sure_ = false;         // one of four bytes or more
  // The walk for `NextFile`: the unit it stands at, and that unit's sector.
  std::uint64_t nextUnit_;
  std::uint64_t next_;
  // Only an analysis the pass made itself asks whether a file begins: the
  // one that answers it asks nothing.
  const bool top_;
  bool settled_ = false;  // a file begins where the room ended
};

// The reader the analysers are given. What a read takes past the hit's
// room counts against the pass's bound (bytes past the volume's end as one
// sector a read). Reading a file's own bytes once is no waste, and neither
// is what a window reads ahead and no one looks at: such a read is never
// refused, and its bytes are at most the volume's. Reading again what an
// analysis of the pass has already looked at is what headers chained over
// one another do, each over the files after it: once the bound is spent,
// such a read fails, and so does any read past the room of a `confined`
// analysis. Only what is looked at counts as looked at: a check of one
// sector is that sector, a far read the bytes it read. The reader keeps
// the furthest byte read and the bytes read, by which a walk that ran long
// is remembered.
// What is looked at is told to the pass in runs: a walk looks at a few
// bytes at a time, and adding each to the pass's ranges was most of the
// time of a hostile volume. A run is told when a look apart from it needs
// its place, and everything held is told before anything that weighs it:
// a read the bound may refuse, the room changing, an analysis of another
// file, the analysis's end.
class Carver::AnalysisReader final : public CarveReader {
 public:
  AnalysisReader(Carver& carver, CarveTally& tally, std::uint64_t limit, Room& room, bool confined)
      : carver_(carver), volume_(carver.volume_), tally_(tally), limit_(limit), room_(room), confined_(confined),
        top_(carver.depth_ == 1) {}
  ~AnalysisReader() override { Tell(); }
  AnalysisReader(const AnalysisReader&) = delete;
  AnalysisReader& operator=(const AnalysisReader&) = delete;
  bool Read(std::uint64_t sector, void* buffer, std::size_t bytes) override { return Take(sector, buffer, bytes, true); }
  bool Fetch(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    return Take(sector, buffer, bytes, false);
  }
  void Looked(std::uint64_t sector, std::uint64_t bytes) override {
    const std::uint64_t to = sector + (bytes + 511) / 512;
    if (to <= sector) return;
    // A look that meets a run held joins it: a walk's windows each go on
    // from where they looked last.
    Run* oldest = &runs_[0];
    for (Run& r : runs_) {
      if (r.to != 0 && sector <= r.to && to >= r.from) {
        r.from = std::min(r.from, sector);
        r.to = std::max(r.to, to);
        r.used = ++uses_;
        return;
      }
      if (r.used < oldest->used) oldest = &r;
    }
    if (oldest->to != 0) Tell(*oldest);
    *oldest = {sector, to, ++uses_};
  }
  // Tells the pass every run held.
  void Tell() {
    for (Run& r : runs_) {
      if (r.to != 0) Tell(r);
    }
  }
  bool Aborted() const override { return volume_.Aborted(); }
  CarveWalks* Walks() override { return &tally_.walks; }
  // Only the pass's own analysis asks another file's analysis here, or
  // moves its room; the runs are told against the room as it stood.
  std::uint64_t NextFileStart(std::uint64_t from, std::uint64_t to) override {
    if (top_) Tell();
    return room_.NextFile(from, to);
  }
  bool Refused() const override { return refused; }
  bool WholeHeaderAt(std::uint64_t sector) override { return carver_.WholeHeaderAt(sector); }
  void Own(std::uint64_t sector, std::uint64_t bytes) override {
    if (top_) Tell();
    room_.Own(sector + (bytes + 511) / 512);
  }

  std::uint64_t furthest = 0;  // one past the furthest byte read
  std::uint64_t read = 0;      // bytes read, inside the room or not
  bool refused = false;        // a read past the room went past the bound
  // The sectors this analysis looked at first: it reads them again as its
  // own.
  SectorRanges mine{kMineKept};

 private:
  struct Run {
    std::uint64_t from = 0;
    std::uint64_t to = 0;  // 0: none held
    std::uint64_t used = 0;
  };
  // Sectors past the room looked at for the first time count when looked
  // at, not when a window or a search read them ahead.
  void Tell(Run& run) {
    const std::uint64_t to = run.to;
    std::uint64_t roomEnd = UINT64_MAX;
    tally_.looked.Add(run.from, to, [&](std::uint64_t a, std::uint64_t b) {
      mine.Add(a, b, [](std::uint64_t, std::uint64_t) {});
      if (roomEnd == UINT64_MAX) roomEnd = room_.Reach(to);
      if (b > roomEnd) tally_.analysed += (b - std::max(a, roomEnd)) * 512;
    });
    run = Run{};
  }

  bool Take(std::uint64_t sector, void* buffer, std::size_t bytes, bool looked) {
    const std::uint64_t last = sector + (bytes + 511) / 512;
    std::uint64_t again = Again(sector, last);
    // What this analysis looked at and has not told yet it reads as its
    // own either way: only the bound, and the room a refusal may move on,
    // need it told.
    if (again != 0 || confined_) Tell();
    while (Refuses(sector, last, again) && room_.PassSignature()) again = Again(sector, last);
    if (Refuses(sector, last, again)) {
      std::memset(buffer, 0, bytes);
      refused = true;
      return false;
    }
    tally_.analysed += again;
    read += bytes;
    furthest = std::max(furthest, sector * 512 + bytes);
    if (looked) Looked(sector, bytes);
    return volume_.Read(sector, buffer, bytes);
  }
  // The bytes of the sectors of [sector, last) past the room that another
  // analysis of the pass looked at before: this one reading again what it
  // looked at itself (a window read again from the sector it stopped in)
  // reads its own file. The room is walked only as far as the last of them.
  std::uint64_t Again(std::uint64_t sector, std::uint64_t last) {
    const std::uint64_t end = volume_.EndSector();
    if (sector >= end) return 512;
    const std::uint64_t seenTo = tally_.looked.SeenTo(sector, std::min(last, end));
    if (seenTo == sector) return 0;
    const std::uint64_t past = std::max(sector, room_.Reach(seenTo));
    if (past >= seenTo) return 0;
    const std::uint64_t seen = tally_.looked.Seen(past, seenTo);
    return (seen - std::min(seen, mine.Seen(past, seenTo))) * 512;
  }
  // The bytes of sectors [sector, last) that lie past the room.
  std::uint64_t PastRoom(std::uint64_t sector, std::uint64_t last) {
    const std::uint64_t end = volume_.EndSector();
    if (sector >= end) return 512;
    const std::uint64_t stop = std::min(last, end);
    if (stop <= sector) return 0;
    const std::uint64_t from = std::max(sector, room_.Reach(stop));
    return from < stop ? (stop - from) * 512 : 0;
  }
  // `again`: the bytes of the read past the room that were looked at before.
  bool Refuses(std::uint64_t sector, std::uint64_t last, std::uint64_t again) {
    if (confined_) return again != 0 || PastRoom(sector, last) != 0;
    return again != 0 && again > limit_ - std::min(limit_, tally_.analysed);
  }

  Carver& carver_;
  CarveVolume& volume_;
  CarveTally& tally_;
  std::uint64_t limit_;
  Room& room_;
  bool confined_;
  const bool top_;  // the pass's own analysis, not one asked from inside another
  // Runs of sectors looked at, not yet told; a TIFF's walk keeps three
  // windows going at once.
  std::array<Run, 4> runs_{};
  std::uint64_t uses_ = 0;
};

namespace {

bool IsOfficeType(std::uint16_t id) {
  switch (id) {
    case 113: case 114: case 115: case 128: case 132: case 135: case 136: case 137: case 176: case 177:
      return true;
    default:
      return false;
  }
}

// The types the switch of `Carver::Analyse` hands to an analyser.
bool HasAnalyser(std::uint16_t id) {
  switch (id) {
    case 14: case 15: case 16: case 17: case 18: case 19: case 48: case 52: case 57: case 73: case 121: case 139:
    case 140: case 141: case 143: case 165:
      return true;
    default:
      return IsOfficeType(id);
  }
}

// A type without analyser is taken as found where its signature stands only
// when the signature is this long: a shorter one turns up by chance in a
// few units of every gigabyte of compressed data.
constexpr std::size_t kSureSignatureBytes = 4;
// Inside a file whose header counts its bytes, where sound or pixels of few
// values spell four-byte signatures (digital silence and one sample make an
// icon's or a pack start's), only a longer one is taken bare.
constexpr std::size_t kCertainSignatureBytes = 6;

// A suffix read from the file itself becomes part of a file name: it is made
// safe here, once, for every engine.
std::u16string SafeSuffix(const std::u16string& suffix) {
  if (suffix.empty()) return {};
  return Utf8ToUtf16(SanitiseName(suffix).name);
}

}  // namespace

Carver::~Carver() = default;

Carver::Carver(const std::vector<FileTypeRecord>& types, CarveVolume& volume, CarveTally* tally)
    : types_(types), volume_(volume), tally_(tally ? tally : &ownTally_), walk_(std::make_unique<WalkReader>(volume)) {
  for (const FileTypeRecord& t : types_) {
    if (t.headerLength == 0 || t.headerLength > t.header.size() || !SignatureInFirstSector(t)) continue;
    if (t.headerOffset == 0) {
      firstAtZero_[t.header[0]] = true;
    } else {
      elsewhere_.push_back(&t);
    }
  }
}

bool Carver::MayMatch(const std::uint8_t* data, std::size_t bytes) const {
  if (bytes != 0 && firstAtZero_[data[0]]) return true;
  return std::any_of(elsewhere_.begin(), elsewhere_.end(), [&](const FileTypeRecord* t) {
    return std::uint64_t{t->headerOffset} < bytes && data[t->headerOffset] == t->header[0];
  });
}

bool Carver::Matches(const FileTypeRecord& type, const std::uint8_t* data, std::size_t bytes) {
  const std::size_t length = type.headerLength;
  // A signature past the first sector would match where generic carving's
  // walk never sees a file begin: every such hit would run over the next.
  if (length == 0 || length > type.header.size() || !SignatureInFirstSector(type)) return false;
  // Only what was read is compared: a signature reaching past it is no match.
  if (std::uint64_t{type.headerOffset} + length > bytes) return false;
  return std::memcmp(data + type.headerOffset, type.header.data(), length) == 0;
}

bool Carver::SureSignature(const std::uint8_t* data) const {
  return std::any_of(types_.begin(), types_.end(), [&](const FileTypeRecord& t) {
    // An analysed type's next bytes tell nothing here (`Bare`), but for a
    // stream whose pack header does tell.
    return t.headerLength >= kSureSignatureBytes && Matches(t, data, 512) &&
           SignatureEvidence(t, data) != Evidence::Disagrees;
  });
}

bool Carver::Probe(const std::uint8_t* data, std::size_t bytes) const {
  if (!MayMatch(data, bytes)) return false;
  return std::any_of(types_.begin(), types_.end(), [&](const FileTypeRecord& t) { return Matches(t, data, bytes); });
}

std::uint64_t Carver::MeasureToNextSignature(std::uint64_t startUnit, std::uint64_t maxSize) {
  return Measure(startUnit, maxSize, false);
}

std::uint64_t Carver::Measure(std::uint64_t startUnit, std::uint64_t maxSize, bool toFile, std::uint64_t ownBytes,
                              bool inCounted, std::uint64_t* passed) {
  const std::uint64_t unitBytes = volume_.UnitBytes();
  std::uint64_t size = unitBytes;
  if (unitBytes == 0) return 0;
  WalkReader& walk = *walk_;
  std::uint64_t unit = startUnit;
  std::uint64_t firstPassed = 0;
  while (size < maxSize && !volume_.Aborted()) {
    if (!volume_.NextUnit(unit)) break;
    if (size >= ownBytes) {
      const std::uint64_t sector = volume_.UnitSector(unit);
      const std::uint8_t* data = walk.Sector(sector);
      if (Probe(data, 512)) {
        if (!toFile || FileAt(data, sector, unit, inCounted)) break;
        if (firstPassed == 0) firstPassed = size;
      }
    }
    size += unitBytes;
  }
  if (passed != nullptr) *passed = firstPassed != 0 ? firstPassed : size;
  return size;
}

std::uint64_t Carver::ListLimit() const {
  const std::uint64_t first = volume_.FirstSector(), end = volume_.EndSector();
  return end > first ? (end - first) * 512 * CarveTally::kListedVolumes : 0;
}

std::uint64_t Carver::ReadLimit() const {
  const std::uint64_t first = volume_.FirstSector(), end = volume_.EndSector();
  return end > first ? (end - first) * 512 * CarveTally::kReadVolumes : 0;
}

std::uint64_t Carver::BytesToEnd(std::uint64_t startSector) const {
  const std::uint64_t end = volume_.EndSector();
  return startSector < end ? (end - startSector) * 512 : 0;
}

void Carver::MeasureAgain(CarveHit& hit, std::uint64_t startUnit) {
  if (hit.type == nullptr) return;
  tally_->listed -= std::min(tally_->listed, hit.file.size);
  // Runs measured so never overlap: the size is not bounded by the total.
  hit.file.size = std::min(MeasureToNextSignature(startUnit, hit.type->maxSize), BytesToEnd(volume_.UnitSector(startUnit)));
  tally_->listed += hit.file.size;
}

bool Carver::Analyse(const FileTypeRecord& type, std::uint64_t startSector, std::uint64_t startUnit, Analysis& a) {
  AnalysedFile& file = a.file;
  const bool tiff = type.typeId == 15 || type.typeId == 16;
  if (!HasAnalyser(type.typeId)) {
    // Carved up to the next signature by the caller.
    file.unknownSize = a.generic = true;
    return true;
  }
  // A TIFF inside one whose walk ran long reads nothing past its room: the
  // arrays that walk read are not read again for every header it passed.
  const std::uint64_t at = startSector * 512;
  const bool confined = tiff && tally_->walks.tiff.Inside(at);
  ++depth_;
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{depth_};
  Room room(*this, startUnit, startSector);
  AnalysisReader reader(*this, *tally_, ReadLimit(), room, confined);
  // What a check of this file, asked from inside another analysis, looked
  // at first, the file's own analysis reads again as its own.
  const auto earlier =
      std::find_if(earlier_.begin(), earlier_.end(), [&](const auto& e) { return e.first == startSector; });
  if (earlier != earlier_.end()) {
    if (depth_ == 1) reader.mine = std::move(earlier->second);
    earlier_.erase(earlier);
  }
  bool ok = true;
  switch (type.typeId) {
    case 14: ok = a.generic = GetJpegFileSize(reader, startSector, file); break;
    case 15: case 16: ok = GetTiffFileSize(reader, startSector, file); break;
    case 17: ok = GetBitmapFileSize(reader, startSector, file); break;
    case 18: ok = GetGifFileSize(reader, startSector, file); break;
    case 19: ok = GetPngFileSize(reader, startSector, file); break;
    case 48: ok = GetRarFileSize(reader, startSector, file); break;
    case 52: ok = GetZipFileSize(reader, startSector, file); break;
    case 57: ok = GetAuFileSize(reader, startSector, file); break;
    case 139: case 140: case 141: case 143: ok = GetHtmlFileSize(reader, startSector, file); break;
    case 165: ok = GetAviFileSize(reader, startSector, file); break;
    // A stream's own pack headers stand at every cluster: the pass passes
    // over it, up to where its walk ends or the next file begins.
    case 121: ok = a.generic = GetMpegFileSize(reader, startSector, type.maxSize, file); break;
    case 73:
      // A WAVE file whose header gives no length is carved as a type
      // without analyser is.
      a.found = a.headerSized = GetWaveFileSize(reader, startSector, type.maxSize, file);
      if (!a.found) file.unknownSize = true;
      a.generic = true;
      break;
    default: {
      OfficeAnalysis office;
      AnalyseOfficeFile(reader, startSector, office);
      file.size = office.size;
      file.unknownSize = office.size == 0;
      file.endProven = office.endProven;
      a.found = office.kind != OfficeKind::None;
      if (office.validity != OfficeValidity::Damaged) {
        switch (office.kind) {
          case OfficeKind::Word: a.officeName = u"DOC"; break;
          case OfficeKind::Excel: a.officeName = u"XLS"; break;
          case OfficeKind::PowerPoint: a.officeName = u"PPT"; break;
          default: break;
        }
      }
      break;
    }
  }
  // All it looked at is the pass's before its own sectors are kept.
  reader.Tell();
  if (tiff && reader.read >= kLongWalkBytes) tally_->walks.tiff.Add(at, reader.furthest);
  if (depth_ > 1) {
    if (earlier_.size() >= kEarlierKept) earlier_.erase(earlier_.begin());
    earlier_.emplace_back(startSector, std::move(reader.mine));
  }
  if (type.typeId != 73 && !IsOfficeType(type.typeId)) a.found = ok;
  if (reader.refused && !a.found) {
    // The analysis failed for want of what the bound kept from it: the hit
    // is carved to the next signature as a type without analyser is.
    a = Analysis{};
    a.file.unknownSize = a.generic = a.unanalysed = true;
    a.confined = confined;
    return true;
  }
  return ok;
}

bool Carver::SignatureBegins(const FileTypeRecord& type, Evidence e, bool inCounted) {
  const std::size_t bare = inCounted ? kCertainSignatureBytes : kSureSignatureBytes;
  return e == Evidence::Agrees || (e == Evidence::Bare && type.headerLength >= bare);
}

bool Carver::FileAt(const std::uint8_t* sector, std::uint64_t startSector, std::uint64_t unit, bool inCounted,
                    bool* whole) {
  // The sector comes from the walk's windows, which an analysis below may
  // read over: the types after a failed one are matched against a copy.
  std::array<std::uint8_t, 512> data;
  std::memcpy(data.data(), sector, data.size());
  for (const FileTypeRecord& type : types_) {
    if (!Matches(type, data.data(), data.size())) continue;
    // A format its first bytes tell needs no analysis to say so: an MPEG
    // stream's walk would go to the stream's end.
    if (const Evidence e = SignatureEvidence(type, data.data()); !HasAnalyser(type.typeId) || e != Evidence::Bare) {
      if (SignatureBegins(type, e, inCounted)) return true;
      continue;
    }
    Analysis a;
    if (!Analyse(type, startSector, unit, a)) continue;
    // Asked from inside another analysis, one refused its reads cannot tell
    // and is taken as a file: a chain of headers is not walked through.
    if (depth_ != 0 && a.unanalysed) return true;
    // An analysis that finds nothing to recover (a bitmap header of no
    // bytes: "BM" and zeros, as silence spells after one sample) is no file,
    // as the pass lists none there.
    if (!a.found || (a.file.size == 0 && !a.file.unknownSize)) continue;
    if (whole != nullptr) *whole = a.file.wholeHeader;
    // Only an analysis the pass would make itself is kept for it.
    if (depth_ == 0) lastFound_ = {startSector, &type, std::move(a)};
    return true;
  }
  return false;
}

bool Carver::FileBegins(std::uint64_t sector, std::uint64_t unit) {
  const std::uint8_t* data = walk_->Sector(sector);
  if (!Probe(data, 512)) return false;
  if (const auto it = asked_.find(sector); it != asked_.end()) return it->second.begins;
  Begun begun;
  begun.begins = FileAt(data, sector, unit, false, &begun.whole);
  if (asked_.size() >= kAskedKept) asked_.clear();
  asked_.emplace(sector, begun);
  return begun.begins;
}

bool Carver::WholeHeaderAt(std::uint64_t sector) const {
  const auto it = asked_.find(sector);
  return it != asked_.end() && it->second.begins && it->second.whole;
}

bool Carver::CarveAt(const std::uint8_t* data, std::size_t bytes, std::uint64_t startSector, std::uint64_t startUnit,
                     CarveHit& hit) {
  if (!MayMatch(data, bytes)) return false;
  hit = CarveHit{};
  // Inside a run the pass passes over only up to its first signature, one
  // whose next bytes tell against its format (a JFIF header's density
  // spelling an icon) is the run's own bytes, no file of its own.
  const bool inRun = startSector >= runFrom_ && startSector < runEnd_;
  for (const FileTypeRecord& type : types_) {
    if (!Matches(type, data, bytes)) continue;
    // What the next bytes say, for a type without analyser: all there is.
    const bool analysed = HasAnalyser(type.typeId);
    const Evidence evidence = analysed ? Evidence::Bare : SignatureEvidence(type, data);
    if (inRun && evidence == Evidence::Disagrees) continue;
    Analysis a;
    if (lastFound_.type == &type && lastFound_.sector == startSector) {
      a = std::move(lastFound_.analysis);
      lastFound_.type = nullptr;
    } else if (!Analyse(type, startSector, startUnit, a)) {
      // A failed analysis leaves the candidate to the types after this one.
      continue;
    }
    // Only the pass's allowance is told of in the log: a TIFF inside a long
    // walk reads nothing past its room, allowance or not.
    if (a.unanalysed && !a.confined) ++tally_->unanalysed;
    AnalysedFile& file = a.file;
    // Sizes measured to the next signature are whole units up to the first
    // to reach the type's largest size; those read from the file are cut at it.
    bool measured = false;
    // A size read from the file that runs past the volume's end proves its
    // header wrong: carved that far it would hide every file after it, so
    // it is measured to the next signature, as a file whose header gives no
    // size is.
    if (!file.unknownSize && file.size > BytesToEnd(startSector)) {
      file.unknownSize = true;
      ++tally_->pastVolumeEnd;
    }
    // The bytes the pass steps over: the file's, but for a run carved to
    // the next file, only up to the first signature it passed.
    std::uint64_t stepOver = UINT64_MAX;
    if (file.unknownSize) {
      // A file no structure sizes ends where the next file begins: a chance
      // signature behind which none does (a "BM" in an MP3's frames) does
      // not end it. A hit that is no file found (its signature stands there
      // by chance, its analysis found nothing of its format, or was refused
      // its reads) is carved to the next signature as before: such runs
      // never overlap, and a chain of them is not walked over again and
      // again.
      const bool chance = analysed ? !a.found || a.unanalysed : !SignatureBegins(type, evidence, false);
      file.size = chance ? MeasureToNextSignature(startUnit, type.maxSize)
                         : Measure(startUnit, type.maxSize, true, 0, false, &stepOver);
      measured = true;
      // What follows a PDF's end marker up to the next signature is not
      // the document's.
      if (type.typeId == 66) file.size = PdfEndWithin(volume_, startSector, file.size);
    }
    if (measured) {
      // Runs to the next signature never overlap: their total is at most
      // the volume, and the total never cuts them.
      file.size = std::min(file.size, BytesToEnd(startSector));
    } else {
      if (file.size > type.maxSize) {
        file.size = type.maxSize;
        file.endProven = false;
        ++tally_->cutToTypeMax;
      }
      // A file the pass passes over (a JPEG whose end marker was searched
      // for, a WAVE sized by its header) ends where the next file begins: cut
      // short, it would hide the files after it. So, once the pass has
      // listed its bound, does any size the header gives: overlapping
      // headers cannot list the volume over and over. A signature inside the
      // file whose own analysis finds no file there (a picture's pixels that
      // happen to spell one) does not end it.
      const bool overTotal = tally_->listed + file.size > ListLimit();
      // A file whose walk proved its end (an archive's entries walked to
      // its end record) holds its own bytes: a file that begins inside it (a
      // stored photo) is listed, but does not end it. One that begins
      // inside another such file (archives chained or stored one in
      // another) is bounded as any other, so they cannot list the volume
      // over and over.
      if (file.endProven && startSector >= tally_->ownedTo) {
        file.ownBytes = file.size;
        tally_->ownedTo = startSector + (file.size + 511) / 512;
      }
      if (a.generic || overTotal) {
        // A file whose bytes its header counts is ended by no short bare
        // signature: only by one whose format agrees, or one too long to
        // stand there by chance.
        const std::uint64_t toNext = Measure(startUnit, file.size, true, file.ownBytes, a.headerSized);
        if (toNext < file.size) {
          file.size = toNext;
          if (!a.generic) ++tally_->cutByTotal;
        }
      }
    }
    // An analysis that found nothing to recover leaves it to them too.
    if (file.size == 0) continue;
    tally_->listed += file.size;
    hit.type = &type;
    hit.typeName = a.officeName ? std::u16string(a.officeName) : type.extension;
    hit.officeNamed = a.officeName != nullptr;
    hit.generic = a.generic;
    hit.stepOver = std::min(stepOver, file.size);
    if (hit.stepOver < file.size) {
      runFrom_ = startSector;
      runEnd_ = startSector + (file.size + 511) / 512;
    }
    hit.file = std::move(file);
    hit.file.suffix = SafeSuffix(hit.file.suffix);
    return true;
  }
  return false;
}

std::uint64_t SectorRanges::Seen(std::uint64_t from, std::uint64_t to) const {
  std::uint64_t seen = 0;
  auto it = ranges_.upper_bound(from);
  if (it != ranges_.begin()) --it;
  for (; it != ranges_.end() && it->first < to; ++it) {
    const std::uint64_t a = std::max(from, it->first), b = std::min(to, it->second);
    if (a < b) seen += b - a;
  }
  return seen;
}

std::uint64_t SectorRanges::SeenTo(std::uint64_t from, std::uint64_t to) const {
  auto it = ranges_.lower_bound(to);
  if (it == ranges_.begin()) return from;
  --it;
  return it->second > from ? std::min(to, it->second) : from;
}

void SectorRanges::Coarsen() {
  // Joins the ranges over the gaps no longer than the median one: about
  // half of them go at once, so joining is rare.
  std::vector<std::uint64_t> gaps;
  gaps.reserve(ranges_.size());
  for (auto it = ranges_.begin(), next = std::next(it); next != ranges_.end(); ++it, ++next)
    gaps.push_back(next->first - it->second);
  if (gaps.empty()) return;
  std::nth_element(gaps.begin(), gaps.begin() + static_cast<std::ptrdiff_t>(gaps.size() / 2), gaps.end());
  const std::uint64_t joined = gaps[gaps.size() / 2];
  for (auto it = ranges_.begin(); it != ranges_.end();) {
    auto next = std::next(it);
    if (next != ranges_.end() && next->first - it->second <= joined) {
      it->second = next->second;
      ranges_.erase(next);
    } else {
      it = next;
    }
  }
}

std::string CarveBoundsNote(const CarveTally& tally) {
  std::string note;
  auto add = [&](std::uint64_t count, const char* what) {
    if (count == 0) return;
    note += note.empty() ? "Raw Recovery bounds: " : "; ";
    note += std::to_string(count) + " " + what;
  };
  add(tally.pastVolumeEnd, "file(s) whose header size ran past the volume's end measured to the next signature");
  add(tally.cutToTypeMax, "header size(s) cut to the type's largest size");
  add(tally.cutByTotal, "size(s) shortened after the pass had listed twice the volume's bytes");
  add(tally.unanalysed, "hit(s) carved to the next signature unanalysed after the analysers had read again three times the volume's bytes past their files' rooms");
  if (!note.empty()) note += ".";
  return note;
}

void LogCarveBounds(EngineHost& host, const CarveTally& tally) {
  if (const std::string note = CarveBoundsNote(tally); !note.empty()) host.AppendLog(note, false);
}

RawTypeFolders::Placement RawTypeFolders::Place(std::u16string_view typeName) {
  std::u16string name(typeName);
  std::uint32_t overflow = 0;
  for (std::size_t i = 0; i < folders_.size(); ++i) {
    Folder& f = folders_[i];
    if (f.name != name) continue;
    if (f.count < capacity_) {
      ++f.count;
      return {f.name, f.id, false, i};
    }
    ++overflow;
    name = std::u16string(typeName) + Utf8ToUtf16(std::to_string(overflow));
  }
  folders_.push_back({name, 0, 0});
  return {name, 0, true, folders_.size() - 1};
}

FoundItemInfo RawFolderRecord(std::uint32_t id, std::uint32_t parentId) {
  FoundItemInfo r;
  r.attribute = kItemFolder;
  r.flags = kItemContiguous;
  r.location = id;
  r.itemId = id;
  r.parentId = parentId;
  return r;
}

FoundItemInfo RawFileRecord(std::uint64_t size, std::uint64_t location, std::uint32_t parentId, std::uint32_t id) {
  FoundItemInfo r;
  r.attribute = kItemFile;
  r.flags = kItemContiguous;
  r.size = size;
  r.location = location;
  r.parentId = parentId;
  r.itemId = id;
  return r;
}

std::uint32_t PlaceInTypeFolder(RawTypeFolders& folders, FoundItemPoster& poster, std::u16string_view typeName,
                                std::uint32_t parentId, const std::function<std::uint32_t()>& takeId,
                                const std::function<void()>& open) {
  const RawTypeFolders::Placement place = folders.Place(typeName);
  if (!place.created) return place.folderId;
  const std::uint32_t id = takeId();
  folders.SetId(place.index, id);
  open();
  poster.Post(RawFolderRecord(id, parentId), place.name, {FoundItemPoster::Counter::EntriesFound});
  return id;
}

std::u16string RawItemName(std::u16string_view suffix, std::uint64_t rawFileCount, std::uint64_t position,
                           std::u16string_view typeName) {
  std::u16string name;
  if (!suffix.empty()) {
    name = Utf8ToUtf16(std::to_string(rawFileCount));
    name += u'_';
    name += suffix;
  } else {
    name = Utf8ToUtf16(std::to_string(position));
  }
  name += u'.';
  name += typeName;
  return name;
}

std::u16string CutTypeName(std::u16string_view name, std::size_t units) {
  return std::u16string(name.substr(0, std::min(units, name.size())));
}

void ScanUnits(Carver& carver, const UnitScan& scan) {
  if (scan.unitsPerRead == 0 || scan.sectorsPerUnit == 0) return;
  const std::size_t unitBytes = std::size_t{scan.sectorsPerUnit} * 512;
  std::vector<std::uint8_t> buffer(unitBytes * scan.unitsPerRead);
  std::uint64_t u = scan.first;
  while (u < scan.end) {
    if (scan.aborted() || !scan.beforeRead(u)) break;
    const std::uint64_t n = std::min<std::uint64_t>(scan.unitsPerRead, scan.end - u);
    // A failed read leaves zeros, in which no file begins.
    scan.read(u, n, buffer.data());
    std::uint64_t next = u + n;
    for (std::uint64_t k = 0; k < n && !scan.aborted(); ++k) {
      const std::uint64_t unit = u + k;
      const std::size_t at = static_cast<std::size_t>(k) * unitBytes;
      const std::size_t bytes = static_cast<std::size_t>(n) * unitBytes - at;
      if (!carver.MayMatch(buffer.data() + at, bytes) || !scan.candidate(unit)) continue;
      CarveHit hit;
      if (!carver.CarveAt(buffer.data() + at, bytes, scan.unitSector(unit), unit, hit)) continue;
      scan.found(hit, unit);
      if (!hit.generic) continue;
      // The file's units hold nothing else: the walk goes on right after them.
      const std::uint64_t covered = std::max<std::uint64_t>(1, (hit.stepOver + unitBytes - 1) / unitBytes);
      if (k + covered < n) {
        k += covered - 1;
      } else {
        next = unit + covered;
        break;
      }
    }
    u = next;
  }
}

}  // namespace corvan
