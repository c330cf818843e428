#include "console/FindCriteria.h"

#include <algorithm>

#include "core/Prompt.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "console/TextMatch.h"

namespace corvan {

namespace {

bool CharMatches(char16_t patternChar, char16_t c, bool matchCase) {
  return patternChar == u'?' || CharsEqual(patternChar, c, matchCase);
}

// `segment` ('?' for any one character) against `text` at `at`.
bool MatchesAt(std::u16string_view segment, std::u16string_view text, std::size_t at, bool matchCase) {
  if (at + segment.size() > text.size()) return false;
  for (std::size_t i = 0; i < segment.size(); ++i)
    if (!CharMatches(segment[i], text[at + i], matchCase)) return false;
  return true;
}

bool PlainBaseMatches(std::u16string_view base, std::u16string_view nameBase, bool matchCase) {
  if (base.empty()) return true;
  const auto equal = [matchCase](char16_t a, char16_t b) { return CharsEqual(a, b, matchCase); };
  return std::search(nameBase.begin(), nameBase.end(), base.begin(), base.end(), equal) != nameBase.end();
}

bool QuestionBaseMatches(std::u16string_view base, std::u16string_view nameBase, bool matchCase) {
  return base.size() == nameBase.size() && MatchesAt(base, nameBase, 0, matchCase);
}

// '*' stands for at least one character: the name base is at least as long
// as the pattern, each '*' counted once.
bool StarBaseMatches(std::u16string_view pattern, std::u16string_view nameBase, bool matchCase) {
  if (nameBase.size() < pattern.size()) return false;
  const auto literals = static_cast<std::size_t>(std::count_if(pattern.begin(), pattern.end(),
                                                               [](char16_t c) { return c != u'*'; }));
  if (literals == 0) return true;
  if (literals == 1) {
    const std::size_t at = pattern.find_first_not_of(u'*');
    const char16_t c = pattern[at];
    if (at == 0 && c != u'?') return CharsEqual(nameBase.front(), c, matchCase);
    if (pattern.back() != u'*' && pattern.back() != u'?') return CharsEqual(nameBase.back(), pattern.back(), matchCase);
    for (std::size_t i = at; i < nameBase.size(); ++i)
      if (CharMatches(c, nameBase[i], matchCase)) return true;
    return false;
  }
  const std::size_t first = pattern.find(u'*'), last = pattern.rfind(u'*');
  const std::u16string_view head = pattern.substr(0, first), tail = pattern.substr(last + 1);
  if (!MatchesAt(head, nameBase, 0, matchCase)) return false;
  const std::size_t tailAt = nameBase.size() - tail.size();
  if (!MatchesAt(tail, nameBase, tailAt, matchCase)) return false;
  // The runs of characters between the stars, each at its first place
  // after the run before it and in front of the tail.
  std::size_t at = head.size();
  for (std::size_t i = first + 1; i < last;) {
    const std::size_t end = std::min(pattern.find(u'*', i), last);
    const std::u16string_view run = pattern.substr(i, end - i);
    i = end + 1;
    if (run.empty()) continue;
    while (at + run.size() <= tailAt && !MatchesAt(run, nameBase, at, matchCase)) ++at;
    if (at + run.size() > tailAt) return false;
    at += run.size();
  }
  return true;
}

bool ExtensionMatchesNoCase(std::u16string_view ext, std::u16string_view pattern) {
  return pattern.empty() || (ext.size() == pattern.size() && MatchesAt(pattern, ext, 0, false));
}

bool ExtensionMatchesCase(std::u16string_view ext, std::u16string_view pattern) {
  if (!pattern.empty() && pattern.front() == u'*') return true;
  return ext.size() == pattern.size() && MatchesAt(pattern, ext, 0, true);
}

bool DateBetween(const FindCriteria& c, const DayDate& d) {
  const auto key = [](int y, int m, int day) { return (static_cast<long long>(y) * 13 + m) * 32 + day; };
  long long lo = key(c.m_nFromYear, c.m_nFromMonth, c.m_nFromDay);
  long long hi = key(c.m_nToYear, c.m_nToMonth, c.m_nToDay);
  if (lo > hi) std::swap(lo, hi);
  const long long at = key(d.year, d.month, d.day);
  return lo <= at && at <= hi;
}

}  // namespace

std::vector<std::u16string> SplitFindPatterns(std::u16string_view text) {
  std::vector<std::u16string> patterns;
  if (text.empty()) return patterns;
  std::u16string all(text);
  if (all.back() != u';') all += u';';
  for (std::size_t at = 0; at < all.size();) {
    const std::size_t end = all.find(u';', at);
    std::size_t from = at;
    if (!patterns.empty())
      while (from < end && (all[from] == u' ' || all[from] == u'\t')) ++from;
    if (patterns.size() < kFindPatternSlots) patterns.push_back(all.substr(from, end - from));
    at = end + 1;
  }
  return patterns;
}

void FindCriteria::SetNames(std::u16string_view text) {
  m_strNames = text;
  m_strPatterns = SplitFindPatterns(text);
  if (!m_strNames.empty() && m_strNames.back() != u';') m_strNames += u';';
}

bool NameMatchesPattern(std::u16string_view pattern, std::u16string_view name, bool matchCase) {
  std::u16string_view base = pattern, ext, nameBase = name, nameExt;
  bool testExtension = false;
  // A pattern with more than one '.' is taken at its last one.
  if (const std::size_t dot = pattern.rfind(u'.'); dot != std::u16string_view::npos) {
    base = pattern.substr(0, dot);
    ext = pattern.substr(dot + 1);
    testExtension = !(ext == u"*" || ext.find(u'*', 1) != std::u16string_view::npos);
    if (const std::size_t nameDot = name.rfind(u'.'); nameDot != std::u16string_view::npos) {
      nameBase = name.substr(0, nameDot);
      nameExt = name.substr(nameDot + 1);
    }
  }
  bool baseMatches;
  if (base.find(u'*') != std::u16string_view::npos) baseMatches = StarBaseMatches(base, nameBase, matchCase);
  else if (base.find(u'?') != std::u16string_view::npos) baseMatches = QuestionBaseMatches(base, nameBase, matchCase);
  else baseMatches = PlainBaseMatches(base, nameBase, matchCase);
  if (!baseMatches || !testExtension) return baseMatches;
  return matchCase ? ExtensionMatchesCase(nameExt, ext) : ExtensionMatchesNoCase(nameExt, ext);
}

bool ViewDisplays(int view, const FoundItemInfo& r) {
  if (r.flags & kItemRoot) return false;
  switch (view) {
    case kViewClassic: return !IsFolderRecord(r) || GroupOf(r) == kGroupClassic;
    case kViewByType: return GroupOf(r) != kGroupClassic;
    default: return (ViewByte(r) & kPassedMask) != 0;
  }
}

bool FindSearch::Matches(const FoundItemInfo& r, std::u16string_view name, StampKind stamps, DayDate today,
                         std::uint32_t rootId) const {
  const FindCriteria& c = criteria;
  if (c.m_bDeleted != c.m_bExisting && r.IsDeleted() != c.m_bDeleted) return false;
  if (std::none_of(c.m_strPatterns.begin(), c.m_strPatterns.end(),
                   [&](const std::u16string& p) { return NameMatchesPattern(p, name, c.m_bMatchCase); }))
    return false;
  // The root entries never pass a size or date test.
  if (c.m_bSize) {
    if (r.itemId == rootId) return false;
    // Looked up once: this runs for every entry a search walks past.
    static const std::string& atLeast = LoadString(kIdsAtLeast);
    static const std::string& atMost = LoadString(kIdsAtMost);
    if (c.m_strSizeKind == atLeast && r.size < c.m_nSizeBytes) return false;
    if (c.m_strSizeKind == atMost && r.size > c.m_nSizeBytes) return false;
  }
  if (c.m_bDate) {
    if (r.itemId == rootId) return false;
    const std::optional<DayDate> d = StoredItemDate(c.m_bCreated ? r.creationTime : r.modifiedTime, stamps);
    if (!d || d->day == 0 || d->month == 0) return false;
    if (c.m_bLastDays && !IsWithinLastDays(static_cast<std::uint32_t>(c.m_nDays), d->day, d->month, d->year, today))
      return false;
    if (c.m_bBetween && !DateBetween(c, *d)) return false;
    if (c.m_bLastMonths &&
        !IsWithinLastMonths(static_cast<std::uint32_t>(c.m_nMonths), d->day, d->month, d->year, today))
      return false;
  }
  return true;
}

std::optional<FoundItemHandle> FindSearch::SearchTree(const FindView& v, bool backward) const {
  FoundItemHandle from = m_pFindCursor;
  if (m_bFoundOnce) {
    // Back to the match shown last, from the cursor on; a last match no
    // longer reachable ends the search.
    const auto isLast = [&](FoundItemHandle, const StoredItem& item) {
      return ViewDisplays(v.view, item.record) && item.name == m_strLastFound;
    };
    const StoredItem at = v.store.Item(from);
    if (!isLast(from, at)) from = v.store.Walk(from, backward, isLast);
    if (from == kNoFoundItem) return std::nullopt;
  }
  const std::uint32_t rootId = v.store.RootId();
  const FoundItemHandle found = v.store.Walk(from, backward, [&](FoundItemHandle, const StoredItem& item) {
    return ViewDisplays(v.view, item.record) && Matches(item.record, item.name, v.stamps, v.today, rootId);
  });
  if (found == kNoFoundItem) return std::nullopt;
  return found;
}

bool FindSearch::RunSearch(const FindView& v, bool backward) {
  if (const auto match = SearchTree(v, backward)) {
    m_pFindCursor = *match;
    m_strLastFound = v.store.NameOf(*match);
    if (v.show) v.show(*match);
    m_bFoundOnce = true;
    return true;
  }
  if (m_bFoundOnce) return false;
  if (v.prompt) v.prompt->MessageBoxId(kIdsNoMatch, kPicInformation, kMbOk);
  if (v.active) *v.active = false;
  return false;
}

bool FindSearch::Start(const FindView& v) {
  m_bFoundOnce = false;
  m_bLastSearchFound = false;
  m_strLastFound.clear();
  m_pFindCursor = 0;
  if (v.active) *v.active = false;
  if (criteria.m_strNames.empty()) return false;
  m_bLastSearchFound = RunSearch(v, false);
  if (v.active) *v.active = m_bLastSearchFound;
  return m_bLastSearchFound;
}

bool FindSearch::Continue(const FindView& v, bool backward) {
  if (m_bLastSearchFound && RunSearch(v, backward)) return true;
  m_strLastFound.clear();
  if (v.active) *v.active = false;
  return false;
}

}  // namespace corvan
