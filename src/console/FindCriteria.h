#pragma once
// Find: the criteria of one search (name patterns, deleted and existing
// entries, a size limit, a date condition) and the search itself, a walk in
// store order over the entries the current view displays. F3 continues
// behind the match last shown, Shift+F3 before it; neither wraps around.
//
// Name patterns: a plain text is looked for inside the name; '?' stands for
// one character; '*' for at least one. A pattern without '.' is compared
// with the whole name; with a '.', the parts before and after its last '.'
// are compared with the name's base and extension.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/DateFilters.h"
#include "console/FoundItemStore.h"
#include "console/ItemTexts.h"

namespace corvan {

class Prompt;

// Patterns past the 25th are ignored.
inline constexpr std::size_t kFindPatternSlots = 25;

struct FindCriteria {
  std::u16string m_strNames;                // as typed, ending with ';' once split
  std::vector<std::u16string> m_strPatterns;  // at most kFindPatternSlots
  bool m_bMatchCase = false;
  bool m_bDeleted = true;
  bool m_bExisting = false;
  bool m_bSize = false;
  std::string m_strSizeKind;  // "at least" or "at most"
  std::uint64_t m_nSizeBytes = 0;
  bool m_bDate = false;
  bool m_bCreated = false, m_bModified = false;
  bool m_bLastMonths = false, m_bLastDays = false, m_bBetween = false;
  int m_nMonths = 0, m_nDays = 0;
  int m_nFromYear = 0, m_nFromMonth = 0, m_nFromDay = 0;
  int m_nToYear = 0, m_nToMonth = 0, m_nToDay = 0;

  // Takes `text` (already trimmed) as the pattern list: patterns are
  // separated by ';', every one after the first without its leading
  // blanks; an empty one stays and is tested like any other.
  void SetNames(std::u16string_view text);
};

std::vector<std::u16string> SplitFindPatterns(std::u16string_view text);
bool NameMatchesPattern(std::u16string_view pattern, std::u16string_view name, bool matchCase);

// The entries `view` displays: the classic tree every file and every folder
// of its own, the File Type List its type folders and grouped files, the
// filtered tree what passed the file mask.
bool ViewDisplays(int view, const FoundItemInfo& record);

// Where a search runs and how it shows what it found.
struct FindView {
  const FoundItemStore& store;
  int view = kViewClassic;
  StampKind stamps = StampKind::Ntfs;
  DayDate today{};
  Prompt* prompt = nullptr;  // asked "No matching entry..." (none asked when null)
  bool* active = nullptr;    // the view's flag: a search F3 can continue
  std::function<void(FoundItemHandle)> show;
};

// One view's criteria with the state of their search.
class FindSearch {
 public:
  FindCriteria criteria;
  bool m_bFoundOnce = false;
  bool m_bLastSearchFound = false;
  std::u16string m_strLastFound;
  FoundItemHandle m_pFindCursor = 0;  // the root: a new search starts behind it

  // Whether `record` named `name` meets the criteria (its name by a
  // pattern, its state, size and date).
  bool Matches(const FoundItemInfo& record, std::u16string_view name, StampKind stamps, DayDate today,
               std::uint32_t rootId) const;
  // The next entry in `backward` or forward direction that the view shows
  // and that meets the criteria; nothing at the end of the store.
  std::optional<FoundItemHandle> SearchTree(const FindView& v, bool backward) const;
  // Searches and shows the match; a search that never found anything says
  // so and ends. True when a match was shown.
  bool RunSearch(const FindView& v, bool backward);
  // A new search from the start (Search Now and the search box).
  bool Start(const FindView& v);
  // F3 and Shift+F3: on while the last search found something; running out
  // ends the search without a message.
  bool FindNext(const FindView& v) { return Continue(v, false); }
  bool FindPrevious(const FindView& v) { return Continue(v, true); }

 private:
  bool Continue(const FindView& v, bool backward);
};

}  // namespace corvan
