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
constexpr std::uint64_t kWalkReadSectors = 128;

// Reads the first sector of the units generic carving steps to, through a
// read-ahead window.
class WalkReader {
 public:
  explicit WalkReader(CarveReader& reader) : reader_(reader), buffer_(kWalkReadSectors * 512) {}

  const std::uint8_t* Sector(std::uint64_t sector) {
    if (!valid_ || sector < first_ || sector >= first_ + count_) {
      first_ = sector;
      count_ = kWalkReadSectors;
      valid_ = reader_.Read(sector, buffer_.data(), buffer_.size());
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
  bool valid_ = false;
};

bool IsOfficeType(std::uint16_t id) {
  switch (id) {
    case 113: case 114: case 115: case 128: case 132: case 135: case 136: case 137: case 176: case 177:
      return true;
    default:
      return false;
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
  const std::uint64_t unitBytes = volume_.UnitBytes();
  std::uint64_t size = unitBytes;
  if (unitBytes == 0) return 0;
  WalkReader walk(volume_);
  std::uint64_t unit = startUnit;
  while (size < maxSize && !volume_.Aborted()) {
    if (!volume_.NextUnit(unit)) break;
    if (Probe(walk.Sector(volume_.UnitSector(unit)), 512)) break;
    size += unitBytes;
  }
  return size;
}

std::uint64_t Carver::ListLimit() const {
  const std::uint64_t first = volume_.FirstSector(), end = volume_.EndSector();
  return end > first ? (end - first) * 512 * CarveTally::kListedVolumes : 0;
}

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

bool Carver::CarveAt(const std::uint8_t* data, std::size_t bytes, std::uint64_t startSector, std::uint64_t startUnit,
                     CarveHit& hit) {
  if (!MayMatch(data, bytes)) return false;
  hit = CarveHit{};
  for (const FileTypeRecord& type : types_) {
    if (!Matches(type, data, bytes)) continue;
    AnalysedFile file;
    bool ok = true;
    bool generic = false;
    // Sizes measured to the next signature are whole units up to the first
    // to reach the type's largest size; those read from the file are cut at it.
    bool measured = false;
    const char16_t* officeName = nullptr;
    switch (type.typeId) {
      case 14: ok = generic = GetJpegFileSize(volume_, startSector, file); break;
      case 15: case 16: ok = GetTiffFileSize(volume_, startSector, file); break;
      case 17: ok = GetBitmapFileSize(volume_, startSector, file); break;
      case 18: ok = GetGifFileSize(volume_, startSector, file); break;
      case 19: ok = GetPngFileSize(volume_, startSector, file); break;
      case 48: ok = GetRarFileSize(volume_, startSector, file); break;
      case 52: ok = GetZipFileSize(volume_, startSector, file); break;
      case 57: ok = GetAuFileSize(volume_, startSector, file); break;
      case 139: case 140: case 141: case 143: ok = GetHtmlFileSize(volume_, startSector, file); break;
      case 165: ok = GetAviFileSize(volume_, startSector, file); break;
      case 73:
        // A WAVE file whose header gives no length is carved as a type
        // without analyser is.
        if (!GetWaveFileSize(volume_, startSector, type.maxSize, file)) file.unknownSize = true;
        generic = true;
        break;
      default:
        if (IsOfficeType(type.typeId)) {
          OfficeAnalysis office;
          AnalyseOfficeFile(volume_, startSector, office);
          file.size = office.size;
          file.unknownSize = office.size == 0;
          if (office.validity != OfficeValidity::Damaged) {
            switch (office.kind) {
              case OfficeKind::Word: officeName = u"DOC"; break;
              case OfficeKind::Excel: officeName = u"XLS"; break;
              case OfficeKind::PowerPoint: officeName = u"PPT"; break;
              default: break;
            }
          }
        } else {
          file.size = MeasureToNextSignature(startUnit, type.maxSize);
          measured = true;
          // What follows a PDF's end marker up to the next signature is
          // not the document's.
          if (type.typeId == 66) file.size = PdfEndWithin(volume_, startSector, file.size);
          generic = true;
        }
        break;
    }
    // A failed analysis leaves the candidate to the types after this one.
    if (!ok) continue;
    // A size read from the file that runs past the volume's end proves its
    // header wrong: carved that far it would hide every file after it, so
    // it is measured to the next signature, as a file whose header gives no
    // size is.
    if (!file.unknownSize && !measured && file.size > BytesToEnd(startSector)) {
      file.unknownSize = true;
      ++tally_->pastVolumeEnd;
    }
    if (file.unknownSize) {
      file.size = MeasureToNextSignature(startUnit, type.maxSize);
      measured = true;
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
      if (tally_->listed + file.size > ListLimit()) {
        const std::uint64_t toNext = MeasureToNextSignature(startUnit, file.size);
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
    hit.typeName = officeName ? std::u16string(officeName) : type.extension;
    hit.officeNamed = officeName != nullptr;
    hit.generic = generic;
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
