#include "core/Carver.h"

#include <algorithm>
#include <cstring>

#include "core/EngineHost.h"
#include "core/NameSanitiser.h"
#include "platform/TextConv.h"

namespace corvan {

namespace {

// Sectors read at once by generic carving's walk: the units it steps to are
// mostly consecutive, and one sector per read would make a long walk slow.
// A walk's first read is short (most end at the next unit, where the next
// file begins) and each one after doubles, up to the largest.
constexpr std::uint64_t kWalkFirstReadSectors = 1;
constexpr std::uint64_t kWalkReadSectors = 128;

// Reads the first sector of the units generic carving steps to, through a
// read-ahead window. The buffer grows with the reads: most walks end after
// the first one.
class WalkReader {
 public:
  explicit WalkReader(CarveReader& reader) : reader_(reader) {}

  const std::uint8_t* Sector(std::uint64_t sector) {
    if (!valid_ || sector < first_ || sector >= first_ + count_) {
      first_ = sector;
      count_ = ahead_;
      ahead_ = std::min(ahead_ * 2, kWalkReadSectors);
      if (buffer_.size() < count_ * 512) buffer_.resize(count_ * 512);
      valid_ = reader_.Read(sector, buffer_.data(), count_ * 512);
      if (!valid_) {
        // Near the volume's end a whole window cannot be read; the sector
        // itself may still be. One that cannot be read begins nothing.
        count_ = 1;
        std::memset(buffer_.data(), 0, buffer_.size());
        valid_ = true;
        reader_.Read(sector, buffer_.data(), 512);
      }
    }
    return buffer_.data() + (sector - first_) * 512;
  }

 private:
  CarveReader& reader_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t first_ = 0;
  std::uint64_t count_ = 0;
  std::uint64_t ahead_ = kWalkFirstReadSectors;
  bool valid_ = false;
};

// The reader the analysers are given: what they read counts against the
// pass's bound (bytes past the volume's end as one sector a read), and once
// that is reached every read fails. It keeps the furthest byte read, by
// which a walk that ran long is remembered.
class AnalysisReader final : public CarveReader {
 public:
  AnalysisReader(CarveVolume& volume, CarveTally& tally, std::uint64_t limit)
      : volume_(volume), tally_(tally), limit_(limit) {}
  bool Read(std::uint64_t sector, void* buffer, std::size_t bytes) override {
    const std::uint64_t end = volume_.EndSector();
    const std::uint64_t counted = sector < end ? std::min<std::uint64_t>(bytes, (end - sector) * 512) : 512;
    if (counted > limit_ - std::min(limit_, tally_.analysed)) {
      std::memset(buffer, 0, bytes);
      tally_.analysed = limit_;
      return false;
    }
    tally_.analysed += counted;
    furthest = std::max(furthest, sector * 512 + bytes);
    return volume_.Read(sector, buffer, bytes);
  }
  bool Aborted() const override { return volume_.Aborted(); }
  CarveWalks* Walks() override { return &tally_.walks; }

  std::uint64_t furthest = 0;  // one past the furthest byte read

 private:
  CarveVolume& volume_;
  CarveTally& tally_;
  std::uint64_t limit_;
};

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
    case 14: case 15: case 16: case 17: case 18: case 19: case 48: case 52: case 57: case 73: case 139: case 140:
    case 141: case 143: case 165:
      return true;
    default:
      return IsOfficeType(id);
  }
}

// A suffix read from the file itself becomes part of a file name: it is made
// safe here, once, for every engine.
std::u16string SafeSuffix(const std::u16string& suffix) {
  if (suffix.empty()) return {};
  return Utf8ToUtf16(SanitiseName(suffix).name);
}

}  // namespace

Carver::Carver(const std::vector<FileTypeRecord>& types, CarveVolume& volume, CarveTally* tally)
    : types_(types), volume_(volume), tally_(tally ? tally : &ownTally_) {
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

bool Carver::Probe(const std::uint8_t* data, std::size_t bytes) const {
  if (!MayMatch(data, bytes)) return false;
  return std::any_of(types_.begin(), types_.end(), [&](const FileTypeRecord& t) { return Matches(t, data, bytes); });
}

std::uint64_t Carver::MeasureToNextSignature(std::uint64_t startUnit, std::uint64_t maxSize) {
  return Measure(startUnit, maxSize, false);
}

std::uint64_t Carver::Measure(std::uint64_t startUnit, std::uint64_t maxSize, bool toFile) {
  const std::uint64_t unitBytes = volume_.UnitBytes();
  std::uint64_t size = unitBytes;
  if (unitBytes == 0) return 0;
  WalkReader walk(volume_);
  std::uint64_t unit = startUnit;
  while (size < maxSize && !volume_.Aborted()) {
    if (!volume_.NextUnit(unit)) break;
    const std::uint64_t sector = volume_.UnitSector(unit);
    const std::uint8_t* data = walk.Sector(sector);
    if (Probe(data, 512) && (!toFile || FileAt(data, sector))) break;
    size += unitBytes;
  }
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

bool Carver::ReadsSpent() const { return tally_->analysed >= ReadLimit(); }

std::uint64_t Carver::BytesToEnd(std::uint64_t startSector) const {
  const std::uint64_t end = volume_.EndSector();
  return startSector < end ? (end - startSector) * 512 : 0;
}

std::uint64_t Carver::BoundGuess(std::uint64_t size, std::uint64_t startSector) {
  size = std::min(size, BytesToEnd(startSector));
  const std::uint64_t limit = ListLimit();
  const std::uint64_t left = tally_->listed < limit ? limit - tally_->listed : 0;
  if (size <= left) return size;
  ++tally_->cutByTotal;
  // The first unit holds the signature: the file is listed all the same.
  return std::max(left, std::min<std::uint64_t>(size, volume_.UnitBytes()));
}

void Carver::MeasureAgain(CarveHit& hit, std::uint64_t startUnit) {
  if (hit.type == nullptr) return;
  tally_->listed -= std::min(tally_->listed, hit.file.size);
  hit.file.size = BoundGuess(MeasureToNextSignature(startUnit, hit.type->maxSize), volume_.UnitSector(startUnit));
  tally_->listed += hit.file.size;
}

struct Carver::Analysis {
  AnalysedFile file;
  bool generic = false;
  bool found = false;  // the type's analyser found its format there
  const char16_t* officeName = nullptr;
};

bool Carver::Analyse(const FileTypeRecord& type, std::uint64_t startSector, Analysis& a) {
  AnalysedFile& file = a.file;
  const bool tiff = type.typeId == 15 || type.typeId == 16;
  if (!HasAnalyser(type.typeId)) {
    // Carved up to the next signature by the caller.
    file.unknownSize = a.generic = true;
    return true;
  }
  if (ReadsSpent()) {
    ++tally_->unanalysed;
    file.unknownSize = a.generic = true;
    return true;
  }
  // A TIFF inside one whose walk ran long was walked with it.
  const std::uint64_t at = startSector * 512;
  if (tiff && tally_->walks.tiff.Inside(at)) return false;
  const std::uint64_t before = tally_->analysed;
  AnalysisReader reader(volume_, *tally_, ReadLimit());
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
    case 73:
      // A WAVE file whose header gives no length is carved as a type
      // without analyser is.
      a.found = GetWaveFileSize(reader, startSector, type.maxSize, file);
      if (!a.found) file.unknownSize = true;
      a.generic = true;
      break;
    default: {
      OfficeAnalysis office;
      AnalyseOfficeFile(reader, startSector, office);
      file.size = office.size;
      file.unknownSize = office.size == 0;
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
  if (tiff && tally_->analysed - before >= kLongWalkBytes) tally_->walks.tiff.Add(at, reader.furthest);
  if (type.typeId != 73 && !IsOfficeType(type.typeId)) a.found = ok;
  return ok;
}

bool Carver::FileAt(const std::uint8_t* data, std::uint64_t startSector) {
  // Once the reads are spent no analysis finds a file: none is tried, and
  // the signature is not counted as a hit carved unanalysed.
  if (ReadsSpent()) return false;
  for (const FileTypeRecord& type : types_) {
    if (!Matches(type, data, 512)) continue;
    Analysis a;
    if (Analyse(type, startSector, a) && a.found) return true;
  }
  return false;
}

bool Carver::CarveAt(const std::uint8_t* data, std::size_t bytes, std::uint64_t startSector, std::uint64_t startUnit,
                     CarveHit& hit) {
  if (!MayMatch(data, bytes)) return false;
  hit = CarveHit{};
  for (const FileTypeRecord& type : types_) {
    if (!Matches(type, data, bytes)) continue;
    Analysis a;
    // A failed analysis leaves the candidate to the types after this one.
    if (!Analyse(type, startSector, a)) continue;
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
    if (file.unknownSize) {
      file.size = MeasureToNextSignature(startUnit, type.maxSize);
      measured = true;
      // What follows a PDF's end marker up to the next signature is not
      // the document's.
      if (type.typeId == 66) file.size = PdfEndWithin(volume_, startSector, file.size);
    }
    if (measured) {
      file.size = BoundGuess(file.size, startSector);
    } else {
      if (file.size > type.maxSize) {
        file.size = type.maxSize;
        ++tally_->cutToTypeMax;
      }
      // Once the pass has listed its bound, a size the header gives ends
      // where the next file begins: overlapping headers cannot list the
      // volume over and over, and the files after them are still listed.
      // A signature inside the file whose own analysis finds no file there
      // (a picture's pixels that happen to spell one) does not end it.
      if (tally_->listed + file.size > ListLimit()) {
        const std::uint64_t toNext = Measure(startUnit, file.size, true);
        if (toNext < file.size) {
          file.size = toNext;
          ++tally_->cutByTotal;
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
    hit.file = std::move(file);
    hit.file.suffix = SafeSuffix(hit.file.suffix);
    return true;
  }
  return false;
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
  add(tally.unanalysed, "hit(s) carved to the next signature unanalysed after the analysers had read eight times the volume's bytes");
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
      const std::uint64_t covered = std::max<std::uint64_t>(1, (hit.file.size + unitBytes - 1) / unitBytes);
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
