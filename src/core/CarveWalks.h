#pragma once
// What the format walks of one Raw Recovery pass have found, kept by their
// place on the volume. Headers chained one after another (a signature at
// every sector whose structure runs over the next ones) would each walk to
// the chain's end again: the pass would cost the square of the volume. A
// walk that reaches a place an earlier walk of the same kind went through
// follows the same path from there, so it takes the answer found then.

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <unordered_map>
#include <vector>

namespace corvan {

// The walks of one kind whose path is a chain of places (PNG chunks, ZIP
// records): each place a walk passed, with what the walk had counted when
// it got there (`Step`), and where each walk ended (`Result`). A walk that
// was not ended (Stop) is never taken as known.
template <class Step, class Result>
class ChainWalks {
 public:
  struct Known {
    Step step;      // what the earlier walk had counted at the place
    Result result;  // where it ended
  };

  // A new walk; once `kPlaces` places are kept, walks are no longer kept.
  void Begin() {
    current_ = kNone;
    if (steps_.size() >= kPlaces) return;
    current_ = static_cast<std::uint32_t>(results_.size());
    results_.emplace_back();
  }
  // A place the current walk reached.
  void Pass(std::uint64_t at, const Step& step) {
    if (current_ != kNone && steps_.size() < kPlaces) steps_[at] = {current_, step};
  }
  void End(const Result& result) {
    if (current_ != kNone) results_[current_] = {true, result};
  }
  // What an ended earlier walk knew at `at`.
  std::optional<Known> Find(std::uint64_t at) const {
    const auto it = steps_.find(at);
    if (it == steps_.end() || it->second.walk == current_ || !results_[it->second.walk].ended) return std::nullopt;
    return Known{it->second.step, results_[it->second.walk].result};
  }

 private:
  // A few tens of megabytes at most.
  static constexpr std::size_t kPlaces = std::size_t{1} << 19;
  static constexpr std::uint32_t kNone = UINT32_MAX;
  struct Placed {
    std::uint32_t walk = 0;
    Step step{};
  };
  struct Ended {
    bool ended = false;
    Result result{};
  };
  std::unordered_map<std::uint64_t, Placed> steps_;
  std::vector<Ended> results_;
  std::uint32_t current_ = kNone;
};

// The counts a ZIP walk keeps, and the names that tell an Office document.
struct ZipCounts {
  std::uint64_t locals = 0, centrals = 0, deferred = 0;
  std::uint64_t word = 0, xl = 0, ppt = 0;  // names beginning "word", "xl", "ppt"
  std::uint64_t contentTypes = 0;           // "[Content_Types].xml"
  std::uint8_t mainPart = 0;                // the kind the last main part's name gives, 0 for none
  std::uint64_t mainAt = 0;                 // the count of local headers when it was named
};

// What an archive's end record says of its central directory, against
// what the walk passed.
struct ZipDirectory {
  std::uint64_t first = UINT64_MAX;  // absolute byte of the first central header the walk passed
  std::uint64_t saidOffset = 0;      // where the end record says it begins, from the archive's start
  bool agrees = false;               // the walk passed a central header, and its size and entries are the record's
};

struct ZipEnd {
  std::uint64_t end = 0;  // absolute byte where the walk ended
  bool endRecord = false;
  bool lost = false;
  ZipCounts counts;
  ZipDirectory directory;
};

// Spans of places a walk went through, each kept by where it begins, at
// most `kept` of them.
class Spans {
 public:
  Spans() = default;
  explicit Spans(std::size_t kept) : kept_(kept) {}
  // The end of the span that begins last at or before `at`, when `at` lies
  // inside it; `at` otherwise.
  std::uint64_t After(std::uint64_t at) const {
    auto it = spans_.upper_bound(at);
    if (it == spans_.begin()) return at;
    --it;
    return at < it->second ? it->second : at;
  }
  // Whether `at` lies inside a span that begins before it: the walk that
  // begins at a span's start is the one that made it.
  bool Inside(std::uint64_t at) const { return at != 0 && After(at - 1) > at; }
  void Add(std::uint64_t first, std::uint64_t end) {
    if (end <= first || spans_.size() >= kept_) return;
    auto& e = spans_[first];
    e = std::max(e, end);
  }

 private:
  std::size_t kept_ = SIZE_MAX;
  std::map<std::uint64_t, std::uint64_t> spans_;
};

// Compound-document directory regions: runs of sectors known to hold
// directory entries naming no Office stream, and the sectors where a walk
// through such a run ended and why (the kind named there, or none).
class DirectoryWalks {
 public:
  // The absolute sector after the known run holding `sector`, or `sector`.
  std::uint64_t After(std::uint64_t sector) const { return runs_.After(sector); }
  // Runs never overlap: a walk that met a known run jumped over it.
  void Run(std::uint64_t first, std::uint64_t end) { runs_.Add(first, end); }
  std::optional<std::uint8_t> EndAt(std::uint64_t sector) const {
    const auto it = ends_.find(sector);
    return it == ends_.end() ? std::nullopt : std::optional<std::uint8_t>(it->second);
  }
  void Ended(std::uint64_t sector, std::uint8_t kind) {
    if (ends_.size() < kKept) ends_[sector] = kind;
  }

 private:
  static constexpr std::size_t kKept = std::size_t{1} << 19;
  Spans runs_{kKept};
  std::unordered_map<std::uint64_t, std::uint8_t> ends_;
};

// Walks whose reads ran long (a TIFF's directories and arrays lie anywhere
// in the file, `kLongWalkBytes` or more read): the bytes from the hit to the
// furthest one read. A later hit of the same kind inside them reads nothing
// past its own room: what the long walk read is not read again for it.
inline constexpr std::uint64_t kLongWalkBytes = std::uint64_t{2} << 20;

struct PngEnd {
  std::uint64_t end = 0;  // absolute byte after the end chunk; 0: the chain held none
};
struct PngStep {};

// Everything one pass keeps.
struct CarveWalks {
  ChainWalks<PngStep, PngEnd> png;
  ChainWalks<ZipCounts, ZipEnd> zip;
  DirectoryWalks directories;
  Spans tiff;  // long walks
};

}  // namespace corvan
