// Archive and document analysers of Raw Recovery: RAR and ZIP archives, and
// Office documents, both the compound (OLE) kind and the ZIP-based kind.
// Sizes come from the on-disk structures only as positions to walk to: every
// read goes through a bounded window that is read again where a position
// falls outside it, so a damaged size can make a walk end early but never
// make it allocate or read out of bounds.

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "core/CarveWalks.h"
#include "core/CarveWindow.h"
#include "core/FileAnalysers.h"
#include "core/ZipRecords.h"
#include "platform/ByteCodec.h"

namespace corvan {

namespace {

using carve::Window;

constexpr std::uint8_t kZipLocal[4] = {'P', 'K', 3, 4};
constexpr std::uint8_t kZipCentral[4] = {'P', 'K', 1, 2};
constexpr std::uint8_t kZipEnd[4] = {'P', 'K', 5, 6};
constexpr std::uint8_t kZipDescriptor[4] = {'P', 'K', 7, 8};
constexpr std::uint8_t kZip64End[4] = {'P', 'K', 6, 6};
constexpr std::uint8_t kZip64Locator[4] = {'P', 'K', 6, 7};

bool Is(const std::uint8_t* p, const std::uint8_t (&sig)[4]) { return std::memcmp(p, sig, 4) == 0; }

// Fixed parts of the ZIP records, without their variable-length fields.
constexpr std::uint64_t kLocalHeader = 30;
constexpr std::uint64_t kCentralHeader = 46;
constexpr std::uint64_t kEndRecord = 22;
constexpr std::uint64_t kZip64LocatorBytes = 20;

// Bytes of a ZIP central header and the name, extra field and comment after it.
std::uint64_t CentralEntryLength(const std::uint8_t* h) {
  return kCentralHeader + GetLE16(h + 28) + GetLE16(h + 30) + GetLE16(h + 32);
}

}  // namespace

// ---------------------------------------------------------------- RAR ----

bool GetRarFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out) {
  if (reader.Aborted()) return false;
  Window win(reader, startSector, 1024);
  const std::uint8_t* head = win.At(0, 4);
  if (head == nullptr || std::memcmp(head, "Rar!", 4) != 0) return false;

  // The marker block (7 bytes) and the main archive header (13) come first.
  std::uint64_t pos = 20;
  if (reader.Aborted()) return false;
  for (;;) {
    const std::uint8_t* b = win.At(pos, 16);
    // What cannot be read is beyond the archive as far as carving can tell.
    if (b == nullptr) break;
    // File headers, and blocks written by a Windows host (byte 15), are the
    // archive's body; anything else (the end block included) ends it.
    if (b[2] != 0x74 && b[15] != 2) break;
    const std::uint16_t headerSize = GetLE16(b + 5);
    // No block is shorter than its 7 common bytes; a shorter one would make
    // the walk crawl or stand still.
    if (headerSize < 7) break;
    pos += headerSize + std::uint64_t{GetLE32(b + 7)};
    if (reader.Aborted()) return false;
  }
  out.size = pos;
  return true;
}

// ---------------------------------------------------------------- ZIP ----

namespace {

// Parts only an OOXML document holds, as its writers put them first.
bool IsOoxmlPartName(const std::uint8_t* name, std::size_t length) {
  for (std::string_view prefix : {"[Content_Types].xml", "_rels/", "docProps/", "word/", "xl/", "ppt/"})
    if (length >= prefix.size() && std::memcmp(name, prefix.data(), prefix.size()) == 0) return true;
  return false;
}

// How far the data of an entry whose sizes were deferred is searched for the
// descriptor that ends it, in blocks of the second size.
constexpr std::uint64_t kDescriptorSearchLimit = 64u << 20;
constexpr std::size_t kSearchBlock = 4096;
// Bytes the search looks at before and after a position: a descriptor
// without its signature lies before the header that follows it, and a
// descriptor with one is followed by a header.
constexpr std::size_t kSearchBehind = 20, kSearchAhead = 28;

bool IsHeader(const std::uint8_t* p) { return Is(p, kZipLocal) || Is(p, kZipCentral); }

// The position after the data descriptor that ends the data starting at
// `dataStart`. The descriptor is the first one whose compressed size (32-bit,
// or 64-bit in a Zip64 archive) is the length of the data before it: with
// its signature "PK\7\8" anywhere, or without, right before the next local
// or central header. The search ends at the first such header that begins a
// sector: an entry's data that runs into it without its descriptor is
// damaged, and a search that went on would walk over every file after it.
bool FindDescriptorEnd(carve::Window& win, CarveReader& reader, std::uint64_t dataStart, std::uint64_t& next) {
  std::uint64_t q = dataStart;
  std::size_t span = kSearchBlock;
  while (q - dataStart <= kDescriptorSearchLimit) {
    if (reader.Aborted()) return false;
    const std::uint64_t behind = std::min<std::uint64_t>(kSearchBehind, q - dataStart);
    const std::uint8_t* b = span > 1 ? win.At(q - behind, behind + span + kSearchAhead) : nullptr;
    if (b == nullptr) {
      // Near the end of the volume the search goes on a byte at a time.
      span = 1;
      b = win.At(q - behind, behind + span + kSearchAhead);
      if (b == nullptr) return false;
    }
    b += behind;
    for (std::size_t i = 0; i < span; ++i) {
      const std::uint8_t* d = b + i;
      if (d[0] != 'P' || d[1] != 'K') continue;
      const std::uint64_t length = q + i - dataStart;
      if (Is(d, kZipDescriptor)) {
        // A Zip64 descriptor of a small entry matches as a 32-bit one too;
        // the header after it tells them apart.
        const bool small = GetLE32(d + 8) == length, large = GetLE64(d + 8) == length;
        if (small && (!large || IsHeader(d + 16))) {
          next = q + i + 16;
          return true;
        }
        if (large) {
          next = q + i + 24;
          return true;
        }
        continue;
      }
      if (!IsHeader(d)) continue;
      if (length >= 12 && GetLE32(d - 8) == length - 12) {
        next = q + i;
        return true;
      }
      if (length >= 20 && GetLE64(d - 16) == length - 20) {
        next = q + i;
        return true;
      }
      // A header inside the data (a stored archive) is passed over; one
      // that begins a sector begins a file the carving step looks at on
      // its own, and the search stops there.
      if ((q + i) % 512 == 0) return false;
    }
    q += span;
  }
  return false;
}

constexpr std::size_t kZipNameLooked = 64;

bool NameIsIgnoringCase(const std::uint8_t* p, std::size_t n, std::string_view name) {
  if (n != name.size()) return false;
  for (std::size_t i = 0; i < n; ++i) {
    char c = static_cast<char>(p[i]);
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    char w = name[i];
    if (w >= 'A' && w <= 'Z') w = static_cast<char>(w - 'A' + 'a');
    if (c != w) return false;
  }
  return true;
}

bool NameIs(const std::uint8_t* p, std::size_t n, std::string_view name) {
  return n == name.size() && std::memcmp(p, name.data(), n) == 0;
}

// What a local header's name tells of an Office document: the parts a
// ZIP-based document's folders begin with, its content-type part (wherever
// it lies: writers put it first, last or in between) and its main part.
void NoteName(const std::uint8_t* name, std::size_t length, ZipCounts& c) {
  auto begins = [&](std::string_view prefix) {
    return length >= prefix.size() && std::memcmp(name, prefix.data(), prefix.size()) == 0;
  };
  c.word += begins("word");
  c.xl += begins("xl");
  c.ppt += begins("ppt");
  if (NameIsIgnoringCase(name, length, "[Content_Types].xml")) {
    ++c.contentTypes;
    return;
  }
  OfficeKind main = OfficeKind::None;
  if (NameIs(name, length, "word/document.xml"))
    main = OfficeKind::Word;
  else if (NameIs(name, length, "ppt/presentation.xml"))
    main = OfficeKind::PowerPoint;
  else if (NameIs(name, length, "xl/workbook.xml"))
    main = OfficeKind::Excel;
  if (main != OfficeKind::None) {
    c.mainPart = static_cast<std::uint8_t>(main);
    c.mainAt = c.locals;
  }
}

// What a walk of a ZIP archive's records, from its first local header on,
// found.
struct ZipWalk {
  std::uint64_t end = 0;  // where the walk ended: after the end record, or at the record it could not pass
  bool endRecord = false;  // the walk passed the end record (and its comment)
  bool lost = false;       // a record could not be read, or a deferred entry's descriptor was not found
  ZipCounts counts;
  ZipDirectory directory;
  // The walk went from the archive's first local header through every
  // entry to the end record, which says the directory is where, and what,
  // the walk found: the archive ends there by its own structure.
  bool Proven(std::uint64_t base) const {
    return endRecord && !lost && counts.locals != 0 && counts.locals == counts.centrals && directory.agrees &&
           directory.first - base == directory.saidOffset;
  }
};

// What the end record at `e` (and the Zip64 end record at `e64`, when the
// walk passed one) says of the directory, against where the walk found its
// first central header (`first`, from the archive's start), its end
// (`directoryEnd`) and the central headers counted.
ZipDirectory EndRecordSays(const std::uint8_t* e, const std::uint8_t* e64, std::uint64_t base, std::uint64_t first,
                           std::uint64_t directoryEnd, std::uint64_t centrals) {
  ZipDirectory d;
  std::uint64_t entries = GetLE16(e + 10), size = GetLE32(e + 12), offset = GetLE32(e + 16);
  if (e64 != nullptr && (entries == 0xFFFF || size == zip::kZip32Max || offset == zip::kZip32Max)) {
    entries = GetLE64(e64 + 32);
    size = GetLE64(e64 + 40);
    offset = GetLE64(e64 + 48);
  }
  if (first == UINT64_MAX) return d;
  d.first = base + first;
  d.saidOffset = offset;
  d.agrees = entries == centrals && directoryEnd >= first && size == directoryEnd - first;
  return d;
}

// A walk that reaches a record an earlier walk of the pass went through ends
// as that one did, with what it counted from there on.
void FollowKnown(ZipWalk& w, std::uint64_t base, const ChainWalks<ZipCounts, ZipEnd>::Known& known) {
  const ZipCounts& at = known.step;
  const ZipCounts& last = known.result.counts;
  ZipCounts& c = w.counts;
  if (last.mainPart != 0 && last.mainAt > at.locals) {
    c.mainPart = last.mainPart;
    c.mainAt = c.locals + (last.mainAt - at.locals);
  }
  c.locals += last.locals - at.locals;
  c.centrals += last.centrals - at.centrals;
  c.deferred += last.deferred - at.deferred;
  c.word += last.word - at.word;
  c.xl += last.xl - at.xl;
  c.ppt += last.ppt - at.ppt;
  c.contentTypes += last.contentTypes - at.contentTypes;
  w.end = known.result.end - base;
  w.endRecord = known.result.endRecord;
  w.lost = known.result.lost;
  w.directory = known.result.directory;
}

// The walk the carving step sizes a ZIP archive by, and the Office analysis
// a ZIP-based document: local headers (each with its data, through its data
// descriptor when the sizes were deferred), central headers, the Zip64 end
// record and its locator, and the end record with its comment. The first
// `kZipNameLooked` bytes of each local header's name are looked at: what
// they are compared with is shorter. Records are read through `headers`;
// the descriptor search has a window of its own.
ZipWalk WalkZip(CarveReader& reader, std::uint64_t startSector, carve::Window& headers) {
  carve::Window search(reader, startSector, 2 * kSearchBlock);
  ZipWalk w;
  std::uint64_t& p = w.end;
  ZipCounts& counts = w.counts;
  CarveWalks* walks = reader.Walks();
  const std::uint64_t base = startSector * 512;
  // The first central header passed and where the directory ended, from
  // the archive's start; the Zip64 end record, kept while the walk reads on.
  std::uint64_t first = UINT64_MAX, directoryEnd = 0;
  std::uint8_t zip64End[56];
  bool zip64 = false;
  if (walks != nullptr) walks->zip.Begin();
  while (!reader.Aborted()) {
    if (walks != nullptr) {
      if (const auto known = walks->zip.Find(base + p)) {
        FollowKnown(w, base, *known);
        break;
      }
      walks->zip.Pass(base + p, counts);
    }
    const std::uint8_t* h = headers.At(p, 4);
    if (h == nullptr) {
      w.lost = true;
      break;
    }
    if (Is(h, kZipLocal)) {
      h = headers.At(p, kLocalHeader);
      if (h == nullptr) {
        w.lost = true;
        break;
      }
      ++counts.locals;
      const std::uint16_t nameLength = GetLE16(h + 26), extraLength = GetLE16(h + 28);
      const bool deferred = (GetLE16(h + 6) & 8) != 0;
      std::uint64_t packed = GetLE32(h + 18), unpacked = GetLE32(h + 22);
      const std::uint8_t* n = headers.At(p + kLocalHeader, std::min<std::size_t>(nameLength, kZipNameLooked));
      if (n == nullptr) {
        w.lost = true;
        break;
      }
      NoteName(n, nameLength, counts);
      const std::uint64_t dataStart = p + kLocalHeader + nameLength + extraLength;
      if (deferred) {
        // Sizes deferred to a descriptor after the data, as streaming
        // writers do: the descriptor says where the entry ends.
        ++counts.deferred;
        if (!FindDescriptorEnd(search, reader, dataStart, p)) {
          w.lost = true;
          break;
        }
        continue;
      }
      if (packed == zip::kZip32Max) {
        const std::uint8_t* extra = headers.At(p + kLocalHeader + nameLength, extraLength);
        if (extra != nullptr) zip::ReadZip64Sizes({extra, extraLength}, unpacked, packed);
      }
      // A 64-bit size may wrap round: the walk only ever moves on.
      if (packed > ~dataStart) {
        w.lost = true;
        break;
      }
      p = dataStart + packed;
    } else if (Is(h, kZipCentral)) {
      h = headers.At(p, kCentralHeader);
      if (h == nullptr) {
        w.lost = true;
        break;
      }
      ++counts.centrals;
      if (first == UINT64_MAX) first = p;
      p += CentralEntryLength(h);
      directoryEnd = p;
    } else if (Is(h, kZip64End)) {
      const std::uint8_t* e = headers.At(p, 12);
      if (e == nullptr) {
        w.lost = true;
        break;
      }
      const std::uint64_t record = GetLE64(e + 4);
      if (const std::uint8_t* full = record >= sizeof zip64End - 12 ? headers.At(p, sizeof zip64End) : nullptr) {
        std::memcpy(zip64End, full, sizeof zip64End);
        zip64 = true;
      }
      if (record > ~p - 12) {
        w.lost = true;
        break;
      }
      p += 12 + record;
    } else if (Is(h, kZip64Locator)) {
      p += kZip64LocatorBytes;
    } else if (Is(h, kZipEnd)) {
      const std::uint8_t* e = headers.At(p, kEndRecord);
      if (e == nullptr) {
        w.lost = true;
        break;
      }
      w.directory = EndRecordSays(e, zip64 ? zip64End : nullptr, base, first, directoryEnd, counts.centrals);
      p += kEndRecord + GetLE16(e + 20);
      w.endRecord = true;
      break;
    } else {
      break;
    }
  }
  // A walk cut short by Stop or by the pass's bound is not where the chain ends.
  if (walks != nullptr && !reader.Aborted() && !reader.Refused()) walks->zip.End({base + w.end, w.endRecord, w.lost, counts, w.directory});
  return w;
}

}  // namespace

bool GetZipFileSize(CarveReader& reader, std::uint64_t startSector, AnalysedFile& out) {
  if (reader.Aborted()) return false;
  carve::Window win(reader, startSector, 1024);
  const std::uint8_t* h = win.At(0, kLocalHeader + 4);
  if (h == nullptr || !Is(h, kZipLocal)) return false;
  // Office writers store whole documents with their sizes deferred; one that
  // begins with a document's own parts is left to the Office types, which
  // size it, before anything is walked.
  if (GetLE16(h + 6) & 8) {
    const std::uint16_t nameLength = GetLE16(h + 26);
    const std::uint8_t* name = win.At(kLocalHeader, nameLength);
    if (name != nullptr && IsOoxmlPartName(name, nameLength)) return false;
  }
  const ZipWalk w = WalkZip(reader, startSector, win);
  if (reader.Aborted()) return false;
  // A ZIP-based Office document is left to the Office types.
  if (w.counts.word + w.counts.xl + w.counts.ppt != 0) return false;
  if (w.counts.deferred != 0 && w.counts.centrals == 0) {
    // A streamed archive whose entries cannot be walked to its directory:
    // its headers say nothing of where it ends.
    out.unknownSize = true;
    return true;
  }
  // A walk that stops before any central header leaves nothing that says
  // this is an archive; after one, the archive is kept as far as it was read.
  if (w.counts.centrals == 0) return false;
  out.size = w.end;
  out.endProven = w.Proven(startSector * 512);
  return true;
}

// ------------------------------------------------------------- Office ----

namespace {

constexpr std::uint8_t kCompoundSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr std::uint32_t kDifatSector = 0xFFFFFFFC;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFF;
bool IsSpecialSectorId(std::uint32_t id) { return id >= kDifatSector; }

// A document of 512-byte sectors is at most 2 GiB; headers that count more
// FAT sectors than that are damaged, and are not allowed to make the walks
// below run over the whole volume.
constexpr std::uint64_t kMaxCompoundSectors = std::uint64_t{1} << 22;
// Sectors read at a time.
constexpr std::size_t kCompoundChunk = 1000 * 512;

// The state of one compound-document analysis.
class Compound {
 public:
  Compound(CarveReader& reader, std::uint64_t startSector, std::uint32_t fatSectorCount)
      : reader_(reader),
        start_(startSector),
        win_(reader, startSector, kCompoundChunk),
        sectorLimit_(std::min<std::uint64_t>(std::uint64_t{fatSectorCount} * 128, kMaxCompoundSectors)) {}

  // Sectors the FAT can describe: every sector number must lie below it.
  bool InRange(std::uint32_t sector) const { return sector < sectorLimit_; }

  // The 512 bytes of compound sector `n` (which follows the header);
  // zeros where it cannot be read.
  const std::uint8_t* Sector(std::uint64_t n) {
    const std::uint8_t* p = win_.At((n + 1) * 512, 512);
    return p != nullptr ? p : zeros_;
  }

  OfficeKind ReadDirectory(std::uint32_t firstDirectorySector);
  bool ListHeaderFatSectors(const std::uint8_t* header);
  bool ReadDifat(std::uint32_t firstDifatSector, std::uint32_t difatSectorCount);
  bool SizeFromFat(std::uint64_t& size);

 private:
  // No valid document lists more FAT sectors than its header counts.
  bool Append(std::uint32_t fatSector) {
    if (fatSectors_.size() >= sectorLimit_ / 128) return false;
    fatSectors_.push_back(fatSector);
    return true;
  }

  CarveReader& reader_;
  std::uint64_t start_;
  Window win_;
  std::uint64_t sectorLimit_;
  std::vector<std::uint32_t> fatSectors_;
  std::uint8_t zeros_[512] = {};
};

// Compares a directory entry's name (UTF-16, its length in bytes with the
// terminating NUL at byte 64) with `name`, whole and case-sensitively.
bool EntryNameIs(const std::uint8_t* entry, std::u16string_view name) {
  if (GetLE16(entry + 64) != (name.size() + 1) * 2) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (GetLE16(entry + 2 * i) != name[i]) return false;
  return true;
}

// Whether a sector is shaped as directory sectors are: each of its four
// entries has a name length of at most 64 bytes, even, and an object type
// and colour the format defines; at least one has a name.
bool HoldsDirectoryEntries(const std::uint8_t* sector) {
  bool named = false;
  for (int k = 0; k < 4; ++k) {
    const std::uint8_t* entry = sector + 128 * k;
    const std::uint16_t nameBytes = GetLE16(entry + 64);
    if (nameBytes > 64 || nameBytes % 2 != 0 || entry[66] > 5 || entry[67] > 1) return false;
    named = named || nameBytes != 0;
  }
  return named;
}

OfficeKind Compound::ReadDirectory(std::uint32_t firstDirectorySector) {
  // The first sector is read on its own: a directory an earlier walk of the
  // pass went through is not read again.
  std::uint8_t first[512];
  if (!InRange(firstDirectorySector) || !reader_.Read(start_ + firstDirectorySector + 1, first, sizeof first) ||
      !EntryNameIs(first, u"Root Entry"))
    return OfficeKind::None;
  // The directory region is taken as running from its first sector on, up
  // to the end of what the FAT can describe or the first sector that holds
  // no named directory entry (data, or zeros): a header whose FAT claims
  // gigabytes makes the look cost what the directory holds, not the
  // volume. The first stream naming an Office program decides. Sectors an
  // earlier walk found naming none are passed over, and where that walk
  // ended it is known how.
  DirectoryWalks* known = reader_.Walks() != nullptr ? &reader_.Walks()->directories : nullptr;
  const std::uint64_t base = start_ + 1;  // the absolute sector of compound sector 0
  std::uint64_t run = firstDirectorySector;
  auto ended = [&](std::uint64_t s, OfficeKind kind) {
    if (known != nullptr && !reader_.Refused()) {
      known->Run(base + run, base + s);
      known->Ended(base + s, static_cast<std::uint8_t>(kind));
    }
    return kind;
  };
  for (std::uint64_t s = firstDirectorySector; s < sectorLimit_; ++s) {
    if (reader_.Aborted()) return OfficeKind::None;
    if (known != nullptr) {
      if (const std::uint64_t after = known->After(base + s) - base; after != s) {
        known->Run(base + run, base + s);
        s = run = after;
        if (s >= sectorLimit_) return OfficeKind::None;
        if (const auto kind = known->EndAt(base + s)) return static_cast<OfficeKind>(*kind);
      }
    }
    // A sector that cannot be read at all lies past the volume's end, and
    // so does everything after it.
    const std::uint8_t* sector = win_.At((s + 1) * 512, 512);
    if (sector == nullptr || !HoldsDirectoryEntries(sector)) return ended(s, OfficeKind::None);
    for (int k = 0; k < 4; ++k) {
      const std::uint8_t* entry = sector + 128 * k;
      if (EntryNameIs(entry, u"WordDocument")) return ended(s, OfficeKind::Word);
      if (EntryNameIs(entry, u"Workbook")) return ended(s, OfficeKind::Excel);
      if (EntryNameIs(entry, u"PowerPoint Document")) return ended(s, OfficeKind::PowerPoint);
      if (EntryNameIs(entry, u"Quill")) return ended(s, OfficeKind::Quill);
      // Word's table stream ends the look at its sector.
      if (EntryNameIs(entry, u"1Table")) break;
    }
  }
  if (known != nullptr) known->Run(base + run, base + sectorLimit_);
  return OfficeKind::None;
}

// The FAT sectors named by the 109 entries of the header.
bool Compound::ListHeaderFatSectors(const std::uint8_t* header) {
  fatSectors_.clear();
  for (int i = 0; i < 109; ++i) {
    const std::uint32_t v = GetLE32(header + 76 + 4 * i);
    if (v == kFreeSector) continue;
    if (IsSpecialSectorId(v) || !InRange(v)) return false;
    fatSectors_.push_back(v);
  }
  return true;
}

// The FAT sectors named by the DIFAT sector chain, 127 a sector, the 128th
// entry naming the next DIFAT sector.
bool Compound::ReadDifat(std::uint32_t firstDifatSector, std::uint32_t difatSectorCount) {
  if (sectorLimit_ == 0) return false;
  auto damaged = [&] {
    fatSectors_.clear();
    return false;
  };
  std::unordered_set<std::uint32_t> visited;
  std::uint32_t sector = firstDifatSector;
  for (std::uint32_t i = 0; i < difatSectorCount; ++i) {
    // A chain that leaves the document or comes back on itself is damaged.
    if (reader_.Aborted() || IsSpecialSectorId(sector) || !InRange(sector) || !visited.insert(sector).second)
      return damaged();
    const std::uint8_t* d = Sector(sector);
    const bool last = i + 1 == difatSectorCount;
    for (int j = 0; j < 127; ++j) {
      const std::uint32_t v = GetLE32(d + 4 * j);
      if (IsSpecialSectorId(v)) {
        // Only the last DIFAT sector may be partly used.
        if (!last) return damaged();
        break;
      }
      if (!InRange(v) || !Append(v)) return damaged();
    }
    sector = GetLE32(d + 508);
  }
  return true;
}

// The document ends after the last sector its FAT uses (free sectors before
// it are still part of the file: writers leave holes); false when the FAT
// names a sector it cannot describe.
bool Compound::SizeFromFat(std::uint64_t& size) {
  bool ok = true;
  std::uint64_t index = 0, used = 0;
  for (std::size_t i = 0; i < fatSectors_.size() && ok; ++i) {
    if (reader_.Aborted()) {
      ok = false;
      break;
    }
    const std::uint8_t* f = Sector(fatSectors_[i]);
    for (int j = 0; j < 128; ++j, ++index) {
      const std::uint32_t v = GetLE32(f + 4 * j);
      if (!IsSpecialSectorId(v) && !InRange(v)) {
        ok = false;
        break;
      }
      if (v != kFreeSector) used = index + 1;
    }
  }
  fatSectors_.clear();
  if (used > 0) size = (used + 1) * 512;
  return ok;
}

// The window the ZIP-based document is read through.
constexpr std::size_t kOoxmlWindow = 512000;

OfficeValidity AnalyseOoxmlFile(OfficeAnalysis& result, CarveReader& reader, std::uint64_t startSector) {
  result = {};
  carve::Window win(reader, startSector, kOoxmlWindow);
  const ZipWalk w = WalkZip(reader, startSector, win);
  result.kind = w.counts.contentTypes != 0 ? static_cast<OfficeKind>(w.counts.mainPart) : OfficeKind::OtherZip;
  result.size = w.end;
  result.endProven = w.Proven(startSector * 512);
  const std::uint64_t locals = w.counts.locals, centrals = w.counts.centrals;
  if (locals == centrals)
    result.validity = w.endRecord ? OfficeValidity::Complete : OfficeValidity::Plausible;
  else if (locals > centrals && centrals > 0)
    result.validity = OfficeValidity::Plausible;
  else
    result.validity = OfficeValidity::Damaged;
  return result.validity;
}

}  // namespace

void AnalyseOfficeFile(CarveReader& reader, std::uint64_t startSector, OfficeAnalysis& out) {
  out = {};
  std::uint8_t h[512] = {};
  if (!reader.Read(startSector, h, sizeof h)) return;
  if (Is(h, kZipLocal)) {
    AnalyseOoxmlFile(out, reader, startSector);
    return;
  }
  if (std::memcmp(h, kCompoundSignature, sizeof kCompoundSignature) != 0) return;
  // Only documents of 512-byte sectors are sized.
  if (GetLE16(h + 30) != 9) return;

  Compound doc(reader, startSector, GetLE32(h + 44));
  const OfficeKind kind = doc.ReadDirectory(GetLE32(h + 48));
  if (kind == OfficeKind::None) return;
  out.kind = kind;
  out.validity = OfficeValidity::Complete;

  bool ok = doc.ListHeaderFatSectors(h);
  const std::uint32_t firstDifat = GetLE32(h + 68);
  if (firstDifat != kEndOfChain) {
    if (!ok) return;
    ok = doc.ReadDifat(firstDifat, GetLE32(h + 72));
    // Size 0: the carving step sizes the file itself.
    if (!ok) return;
  }
  out.validity = doc.SizeFromFat(out.size) ? OfficeValidity::Complete : OfficeValidity::Damaged;
}

}  // namespace corvan
