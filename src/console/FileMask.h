#pragma once
// The file mask: which found files the Filtered Tree shows. A file passes by
// its extension (patterns "*.ext", compared whole), its deleted state, its
// size and the date of one of its time stamps; the walk marks what passed
// in the store and builds the filtered tree from copies of the folders that
// lead there, a stretch of the store at a time.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "console/DateFilters.h"
#include "console/FoundItemStore.h"
#include "console/ItemTexts.h"

namespace corvan {

// The longest text that is split into patterns, and the longest pattern.
inline constexpr std::size_t kMaskTextLimit = 1023;
inline constexpr std::size_t kMaskPatternLimit = 255;

struct MaskCriteria {
  std::vector<std::u16string> m_maskPatterns;  // empty: every name passes
  bool m_bMaskDeleted = true;                  // deleted files pass
  bool m_bMaskExisting = true;                 // existing files pass
  bool m_bMaskSizeMin = false;
  std::uint64_t m_nMaskSizeMin = 0;            // bytes
  bool m_bMaskSizeMax = false;
  std::uint64_t m_nMaskSizeMax = 0;            // bytes
  bool m_bMaskByCreated = false;               // the date tests read the created time
  bool m_bMaskByModified = false;              // ... or the modified time (it wins when both)
  bool m_bMaskInLastDays = false;
  std::uint32_t m_nMaskDays = 0;
  bool m_bMaskInLastMonths = false;
  std::uint32_t m_nMaskMonths = 0;
  bool m_bMaskBetween = false;
  DayDate m_dtMaskFrom{}, m_dtMaskTo{};        // year 0: today
  bool m_bMaskMatchCase = false;               // nothing sets it
};

struct MaskResults {
  std::uint32_t m_nMaskFiles = 0;
  std::uint32_t m_nMaskFolders = 0;  // the root included
  std::uint32_t m_nMaskItems = 0;
  std::uint64_t m_nMaskBytes = 0;
};

// The patterns of a mask text: separated by ';' or ','; blanks stay part of
// the patterns, two separators in a row give an empty one; a text shorter
// than 2 characters gives none.
std::vector<std::u16string> SplitMaskPatterns(std::u16string_view text);
// "*." and the text after the name's last '.', compared whole with each
// pattern; a name without '.' matches none. An empty list matches all.
bool MatchesMaskList(std::u16string_view name, const std::vector<std::u16string>& patterns, bool matchCase);
// Midnight of a calendar date in seconds on the OLE automation date's
// scale (days since 30 December 1899).
std::int64_t DateToSeconds(int year, int month, int day);
// Whether a found file meets the criteria; `today` stands for a range
// bound of year 0. A date test never passes a stamp without a valid date.
bool PassesFileMask(const FoundItemInfo& record, std::u16string_view name, const MaskCriteria& criteria,
                    StampKind stamps, DayDate today);
// "Total 12 Entries processed in 10 file(s) in 2 folder(s)".
std::string MaskProgressText(const MaskResults& results);

// Marks the files of `store` that pass and builds the filtered tree; stops
// early when `abort` is set (what was built stays). `progress` hears the
// running results after each stretch of the store.
MaskResults ApplyFileMask(FoundItemStore& store, const MaskCriteria& criteria, StampKind stamps, DayDate today,
                          const std::atomic<std::uint32_t>& abort,
                          const std::function<void(const MaskResults&)>& progress = {});

}  // namespace corvan
