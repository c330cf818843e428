#pragma once
// The carving step of Raw Recovery, one for every engine and source
// (docs/ARCHITECTURE.md, "Raw Recovery's carving step"). A pass walks its
// units with `ScanUnits` and offers each candidate to `CarveAt`, which
// matches the selected types in their order and hands a match to its
// type's analyser (core/FileAnalysers.h), or measures a type without one as
// a run (`Measure`); `RawTypeFolders` files the hits.
// Where a file ends: at the size its header gives, cut to its type's
// largest size (one past the volume's end proves the header wrong, and the
// file is measured as one of unknown size); with no size, at the next
// signature when no file was found at its own, else where the next file
// begins. A file the pass passes over ends where the next file begins
// (`FileAt`), so a file cut short hides none after it; never inside its own
// bytes (`AnalysedFile::ownBytes`: a JPEG's segments, an archive whose walk
// proved its end).
// The bounds (`CarveTally`): once the files of a pass add up to twice the
// volume's bytes, a size a file's own structure gives ends where the next
// file begins; once the analyses have read three times the volume's bytes
// past their rooms, a read of what another analysis looked at fails; walks
// made are remembered (`CarveWalks`). No bound drops a hit, nor costs a real
// file after a hostile region its whole size.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/CarveWalks.h"
#include "core/FileAnalysers.h"
#include "core/FileTypeRecord.h"
#include "core/FoundItemInfo.h"
#include "core/FoundItemPoster.h"
#include "core/SignatureEvidence.h"

namespace corvan {

class EngineHost;

// What a pass tells the carving step about its volume.
class CarveVolume : public CarveReader {
 public:
  // Bytes of one step of generic carving: a cluster, or one sector.
  virtual std::uint32_t UnitBytes() const = 0;
  // Moves `unit` to the next one generic carving may take (the next free
  // cluster, or the next sector); false past the volume's end.
  virtual bool NextUnit(std::uint64_t& unit) = 0;
  // The absolute sector where a unit's data begins.
  virtual std::uint64_t UnitSector(std::uint64_t unit) const = 0;
  // The absolute sectors the volume spans: its first, and one past its last.
  // Nothing carved reaches past the end.
  virtual std::uint64_t FirstSector() const = 0;
  virtual std::uint64_t EndSector() const = 0;
};

// Sectors of the volume (absolute) as ranges merged where they meet or
// overlap. At most `kept` ranges are kept: past that, the ranges closest
// to one another are joined over the gaps between them, so a pass of many
// scattered reads stays bounded in memory and only ever holds more, never
// less.
class SectorRanges {
 public:
  SectorRanges() = default;
  explicit SectorRanges(std::size_t kept) : kept_(kept) {}
  // Adds [from, to); `fresh(first, end)` is called with each piece of it
  // not held before, in order.
  template <class Fresh>
  void Add(std::uint64_t from, std::uint64_t to, Fresh&& fresh) {
    if (to <= from) return;
    // The range that begins last at or before `from`, if it reaches it,
    // and every one after it up to `to` are joined into one. That one is
    // grown where it stands: most adds go on from a range, or lie in one.
    auto it = ranges_.upper_bound(from);
    const bool grown = it != ranges_.begin() && std::prev(it)->second >= from;
    if (grown && std::prev(it)->second >= to) return;
    std::uint64_t end = to, at = grown ? std::prev(it)->second : from;
    while (it != ranges_.end() && it->first <= to) {
      fresh(at, it->first);  // ranges are apart: each begins past the one before
      at = it->second;
      end = std::max(end, it->second);
      it = ranges_.erase(it);
    }
    if (at < to) fresh(at, to);
    if (grown) {
      std::prev(it)->second = end;
      return;
    }
    ranges_.emplace_hint(it, from, end);
    if (ranges_.size() > kept_) Coarsen();
  }
  // The sectors of [from, to) held.
  std::uint64_t Seen(std::uint64_t from, std::uint64_t to) const;
  // One past the last sector of [from, to) held; `from` when none is.
  std::uint64_t SeenTo(std::uint64_t from, std::uint64_t to) const;
  std::size_t Ranges() const { return ranges_.size(); }

 private:
  void Coarsen();
  std::size_t kept_ = std::size_t{1} << 17;
  std::map<std::uint64_t, std::uint64_t> ranges_;  // first sector -> one past the last; apart, in order
};

// The bytes the files of one pass add up to, what the analysers read for
// them, and what the bounds did. Files may overlap (a picture inside an
// archive, a header's size running over the files after it), but a volume's
// bytes listed over and over are no recovery: once the total reaches
// `kListedVolumes` times the volume's bytes (every file listed once and one
// file spanning all of them), a size the file's own structure gives ends
// where the next file begins: the next signature whose own analysis finds a
// file there. A size measured to the next signature is never cut: such runs
// never overlap. Every hit is still listed: a bound never hides a file that
// starts later, nor shortens one that overlaps none.
// A hit's room is its bytes up to the unit of the next signature. What an
// analysis reads inside its room is its own (rooms never overlap); what it
// reads past it counts, `kReadVolumes` times the volume's bytes at most
// over the pass. Reading over the files after a header again and again is
// what chained headers do; reading a file's own bytes once is not, and
// those reads are at most the volume's bytes: so once the count is spent,
// only a read of sectors an analysis of the pass looked at before
// (`looked`) fails (a room ending at a short signature behind which no
// file begins goes on past it first), and a hit whose analysis fails for
// it is carved to the next signature as a type without analyser is. Walks
// made are remembered (`CarveWalks`) so that a later hit inside one is not
// walked again the same way.
// A pass that makes a carver per candidate keeps one tally across them.
struct CarveTally {
  static constexpr std::uint64_t kListedVolumes = 2;
  static constexpr std::uint64_t kReadVolumes = 3;
  std::uint64_t listed = 0;
  std::uint64_t analysed = 0;       // bytes the analysers read past their hits' rooms
  std::uint64_t pastVolumeEnd = 0;  // header sizes past the volume's end, measured again
  SectorRanges looked;              // the sectors the analyses looked at
  std::uint64_t cutToTypeMax = 0;   // header sizes cut to the type's largest size
  std::uint64_t cutByTotal = 0;     // sizes shortened once the pass had listed its bound
  std::uint64_t unanalysed = 0;     // hits carved unanalysed, a read past their room refused
  // One past the last sector of the last file whose bytes are its own
  // (`AnalysedFile::endProven`); a proven file that begins inside it is
  // bounded as any other.
  std::uint64_t ownedTo = 0;
  CarveWalks walks;
};

// The one log line a pass writes when a bound changed what it listed; empty
// when none did. `LogCarveBounds` writes it to the host's log.
std::string CarveBoundsNote(const CarveTally& tally);
void LogCarveBounds(EngineHost& host, const CarveTally& tally);

struct CarveHit {
  const FileTypeRecord* type = nullptr;  // the selected type that named the hit
  std::u16string typeName;               // "DOC", "XLS", "PPT" or the type's extension
  AnalysedFile file;                     // size, name suffix (safe as a file name), picture date
  bool generic = false;                  // the file's units may be skipped by the pass
  // Bytes from the hit's start the pass may step over: the file's, up to
  // the first unit inside a run carved to the next file where a signature
  // stood that began no file (a hit there is still listed).
  std::uint64_t stepOver = 0;
  bool officeNamed = false;              // named "DOC", "XLS" or "PPT" by the Office analysis
};

class Carver {
 public:
  // `types` must outlive the carver and stay unchanged while it is used;
  // so must `tally`, when given (else the carver keeps its own).
  Carver(const std::vector<FileTypeRecord>& types, CarveVolume& volume, CarveTally* tally = nullptr);
  ~Carver();
  Carver(const Carver&) = delete;
  Carver& operator=(const Carver&) = delete;

  // True when any selected type's signature lies in `data`; a signature that
  // would run past the `bytes` available never matches.
  bool Probe(const std::uint8_t* data, std::size_t bytes) const;
  // Whether the first signature byte of any type stands where it would: most
  // candidates begin no file, and one byte tells so.
  bool MayMatch(const std::uint8_t* data, std::size_t bytes) const;

  // The carving step at a candidate whose data (at least its first sector)
  // is `data`, lying at absolute sector `startSector` and unit `startUnit`.
  bool CarveAt(const std::uint8_t* data, std::size_t bytes, std::uint64_t startSector, std::uint64_t startUnit,
               CarveHit& hit);
  // Sizes a hit CarveAt gave again as generic carving would, up to the next
  // signature from `startUnit`.
  void MeasureAgain(CarveHit& hit, std::uint64_t startUnit);
  const CarveTally& Tally() const { return *tally_; }
  // How many answers to whether a file begins at a unit are kept.
  std::size_t KeptAnswers() const { return asked_.size(); }

  // Generic carving's walk from `startUnit`: one unit, then one more for each
  // following unit the volume offers that does not begin a selected type,
  // while the size stays below `maxSize`.
  std::uint64_t MeasureToNextSignature(std::uint64_t startUnit, std::uint64_t maxSize);

  class WalkReader;
  class Room;
  class AnalysisReader;

 private:
  struct Analysis {
    AnalysedFile file;
    bool generic = false;
    bool found = false;        // the type's analyser found its format there
    bool unanalysed = false;   // a read past the room was refused and the analysis failed for it
    bool confined = false;     // reads past the room were refused whatever the allowance
    bool headerSized = false;  // the size is the one the file's header gives (a WAVE)
    const char16_t* officeName = nullptr;
  };
  static bool Matches(const FileTypeRecord& type, const std::uint8_t* data, std::size_t bytes);
  // Whether a signature of four bytes or more stands in the sector `data`,
  // one whose first bytes do not tell against its format.
  bool SureSignature(const std::uint8_t* data) const;
  // For a type without analyser: whether its signature begins a file, `e`
  // what the bytes after it say (`SignatureEvidence`). They agree with its
  // format where that can be told, else the signature is long enough not to
  // stand there by chance, longer still inside a file whose header counts
  // its bytes (`inCounted`: a WAVE's samples spell short ones).
  static bool SignatureBegins(const FileTypeRecord& type, Evidence e, bool inCounted);
  // The analysis of a matching type at unit `startUnit`; false when it fails.
  bool Analyse(const FileTypeRecord& type, std::uint64_t startSector, std::uint64_t startUnit, Analysis& a);
  // Whether a file begins at unit `unit`, whose first sector is `data`: a
  // matching type whose first bytes tell agree with its format there; else
  // its analyser finds its format there (`whole` then says whether its
  // header was found whole, `AnalysedFile::wholeHeader`); a type without one
  // by `SignatureBegins`.
  bool FileAt(const std::uint8_t* data, std::uint64_t startSector, std::uint64_t unit, bool inCounted,
              bool* whole = nullptr);
  // `FileAt` asked from inside an analysis of the unit at `sector`, which a
  // signature must begin; the answer is kept: the JPEGs whose segments step
  // over one unit ask it once.
  bool FileBegins(std::uint64_t sector, std::uint64_t unit);
  // What `FileBegins` found of the header of the file at `sector`.
  bool WholeHeaderAt(std::uint64_t sector) const;
  // Generic carving's walk; with `toFile`, it ends at the first unit that
  // begins a file (`FileAt`) instead of at any signature, and looks for none
  // in the file's first `ownBytes`. `passed`, when given, gets the bytes up
  // to the first unit where a signature stood that did not end the walk
  // (the size when none did).
  std::uint64_t Measure(std::uint64_t startUnit, std::uint64_t maxSize, bool toFile, std::uint64_t ownBytes = 0,
                        bool inCounted = false, std::uint64_t* passed = nullptr);
  std::uint64_t ListLimit() const;
  std::uint64_t ReadLimit() const;
  std::uint64_t BytesToEnd(std::uint64_t startSector) const;

  const std::vector<FileTypeRecord>& types_;
  CarveVolume& volume_;
  CarveTally ownTally_;
  CarveTally* tally_;
  std::array<bool, 256> firstAtZero_{};          // first signature bytes of the types at offset 0
  std::vector<const FileTypeRecord*> elsewhere_;  // the types whose signature lies further in
  // The last file `FileAt` found, which the pass meets next as a hit: its
  // analysis is not made twice.
  struct FoundFile {
    std::uint64_t sector = 0;
    const FileTypeRecord* type = nullptr;
    Analysis analysis;
  };
  FoundFile lastFound_;
  // The sectors of the last run the pass steps over only up to its first
  // signature, which it then meets again one by one.
  std::uint64_t runFrom_ = 0;
  std::uint64_t runEnd_ = 0;
  // Analyses running, one inside another: an analysis asks whether a file
  // begins where its room ends, which is an analysis of its own; that one
  // asks nothing more.
  int depth_ = 0;
  static constexpr std::size_t kAskedKept = std::size_t{1} << 18;
  struct Begun {
    bool begins = false;
    bool whole = false;  // its header found whole
  };
  std::unordered_map<std::uint64_t, Begun> asked_;  // `FileBegins` answers by sector
  // What the analyses asked from inside others looked at, by the sector of
  // the file they analysed: the pass's own analysis of that file later
  // reads it as its own. The last few are kept.
  static constexpr std::size_t kEarlierKept = 64;
  std::vector<std::pair<std::uint64_t, SectorRanges>> earlier_;
  std::unique_ptr<WalkReader> walk_;
};

// The type folders of one raw pass: a folder per type name holding at most
// `capacity` files besides the one that created it; when full, the next
// file goes to "<name>1", then "<name>2", ...
class RawTypeFolders {
 public:
  explicit RawTypeFolders(std::uint32_t capacity) : capacity_(capacity) {}

  struct Placement {
    std::u16string name;        // the folder's name
    std::uint32_t folderId = 0; // its id, once known
    bool created = false;       // a new folder: the caller posts it and sets its id
    std::size_t index = 0;
  };
  // Where a file of `typeName` goes; a created folder must be given its id
  // with SetId before the next call.
  Placement Place(std::u16string_view typeName);
  void SetId(std::size_t index, std::uint32_t id) { folders_[index].id = id; }
  void Clear() { folders_.clear(); }
  bool Empty() const { return folders_.empty(); }

 private:
  struct Folder {
    std::u16string name;
    std::uint32_t id = 0;
    std::uint32_t count = 0;
  };
  std::uint32_t capacity_;
  std::vector<Folder> folders_;
};

// The records a raw pass posts: a folder it makes up (a type folder, the
// folder of carved files) and a carved file, whose data is one run.
FoundItemInfo RawFolderRecord(std::uint32_t id, std::uint32_t parentId);
FoundItemInfo RawFileRecord(std::uint64_t size, std::uint64_t location, std::uint32_t parentId, std::uint32_t id);

// The type folder a carved file of `typeName` goes into; a new one takes the
// id `takeId` gives and is posted under `parentId`, `open` running first.
std::uint32_t PlaceInTypeFolder(RawTypeFolders& folders, FoundItemPoster& poster, std::u16string_view typeName,
                                std::uint32_t parentId, const std::function<std::uint32_t()>& takeId,
                                const std::function<void()>& open);

// A carved file's name: with a suffix, the raw-file count, "_", the suffix;
// without, the file's position; then "." and the type name.
std::u16string RawItemName(std::u16string_view suffix, std::uint64_t rawFileCount, std::uint64_t position,
                           std::u16string_view typeName);

// The type name a raw item carries: at most `units` characters of it.
std::u16string CutTypeName(std::u16string_view name, std::size_t units);

// The walk every raw pass makes over its volume: units (clusters, or
// sectors) read a group at a time, each candidate unit offered to the
// carving step, and the units of a file carved to the next signature passed
// over in one step.
struct UnitScan {
  std::uint64_t first = 0;          // first unit
  std::uint64_t end = 0;            // one past the last unit
  std::uint32_t unitsPerRead = 1;   // units read at once
  std::uint32_t sectorsPerUnit = 1;
  // Called before each read with its first unit; false ends the walk (Stop,
  // a vanished drive).
  std::function<bool(std::uint64_t unit)> beforeRead;
  // Reads `count` units from `unit`; false (zeros left) on a failed read.
  std::function<bool(std::uint64_t unit, std::uint64_t count, std::uint8_t* buffer)> read;
  // Whether a unit may begin a carved file (free, not yet listed).
  std::function<bool(std::uint64_t unit)> candidate;
  // The absolute sector of a unit's data.
  std::function<std::uint64_t(std::uint64_t unit)> unitSector;
  // A file carved at `unit`.
  std::function<void(const CarveHit& hit, std::uint64_t unit)> found;
  // True once Stop was asked.
  std::function<bool()> aborted;
};
void ScanUnits(Carver& carver, const UnitScan& scan);

}  // namespace corvan
