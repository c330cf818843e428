#include "console/FileMask.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/StringIds.h"
#include "core/StringTable.h"
#include "console/TextMatch.h"

namespace corvan {

namespace {

// Items tested under one hold of the store's lock.
constexpr std::size_t kStretch = 16384;

}  // namespace

bool PassesFileMask(const FoundItemInfo& r, std::u16string_view name, const MaskCriteria& c, StampKind stamps,
                    DayDate today) {
  const bool anyName = std::find(c.m_maskPatterns.begin(), c.m_maskPatterns.end(), u"*.*") != c.m_maskPatterns.end();
  if (!anyName && !MatchesMaskList(name, c.m_maskPatterns, c.m_bMaskMatchCase)) return false;
  if (c.m_bMaskDeleted != c.m_bMaskExisting && r.IsDeleted() != c.m_bMaskDeleted) return false;
  const auto size = static_cast<std::int64_t>(r.size);
  if (c.m_bMaskSizeMin && size < static_cast<std::int64_t>(c.m_nMaskSizeMin)) return false;
  if (c.m_bMaskSizeMax && size > static_cast<std::int64_t>(c.m_nMaskSizeMax)) return false;

  const bool days = c.m_bMaskInLastDays && c.m_nMaskDays > 0;
  const bool months = c.m_bMaskInLastMonths && c.m_nMaskMonths > 0;
  if (!days && !months && !c.m_bMaskBetween) return true;
  std::optional<DayDate> date;
  if (c.m_bMaskByModified) date = StoredItemDate(r.modifiedTime, stamps);
  else if (c.m_bMaskByCreated) date = StoredItemDate(r.creationTime, stamps);
  // A stamp that holds no date fails every date test rather than passing
  // them all.
  if (!date) return false;
  if (days && !IsWithinLastDays(c.m_nMaskDays, date->day, date->month, date->year, today)) return false;
  if (months && !IsWithinLastMonths(c.m_nMaskMonths, date->day, date->month, date->year, today)) return false;
  if (c.m_bMaskBetween) {
    // A range bound of year 0 stands for today.
    const DayDate from = c.m_dtMaskFrom.year == 0 ? today : c.m_dtMaskFrom;
    const DayDate to = c.m_dtMaskTo.year == 0 ? today : c.m_dtMaskTo;
    std::int64_t lo = DateToSeconds(from.year, from.month, from.day);
    std::int64_t hi = DateToSeconds(to.year, to.month, to.day);
    if (lo > hi) std::swap(lo, hi);
    const std::int64_t at = DateToSeconds(date->year, date->month, date->day);
    if (at < lo || at > hi) return false;
  }
  return true;
}

std::vector<std::u16string> SplitMaskPatterns(std::u16string_view text) {
  std::vector<std::u16string> patterns;
  text = text.substr(0, std::min(text.size(), kMaskTextLimit));
  if (text.size() < 2) return patterns;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = at;
    while (end < text.size() && text[end] != u';' && text[end] != u',') ++end;
    patterns.emplace_back(text.substr(at, std::min(end - at, kMaskPatternLimit)));
    at = end + 1;
  }
  return patterns;
}

bool MatchesMaskList(std::u16string_view name, const std::vector<std::u16string>& patterns, bool matchCase) {
  if (patterns.empty()) return true;
  const std::size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos) return false;
  // Compared as "*." + extension, without building that text for every
  // item of the walk.
  const std::u16string_view ext = name.substr(dot + 1);
  return std::any_of(patterns.begin(), patterns.end(), [&](const std::u16string& p) {
    return p.size() == ext.size() + 2 && p[0] == u'*' && p[1] == u'.' &&
           TextsEqual(std::u16string_view(p).substr(2), ext, matchCase);
  });
}

std::int64_t DateToSeconds(int year, int month, int day) {
  using namespace std::chrono;
  const sys_days date{std::chrono::year{year} / std::chrono::month{static_cast<unsigned>(month)} /
                      std::chrono::day{static_cast<unsigned>(day)}};
  constexpr sys_days kOleEpoch{std::chrono::year{1899} / December / 30};
  return static_cast<std::int64_t>((date - kOleEpoch).count()) * 86400;
}

std::string MaskProgressText(const MaskResults& r) {
  return LoadString(kIdsTotal) + std::to_string(r.m_nMaskItems) + " " + LoadString(kIdsEntriesProcessed) +
         LoadString(kIdsIn) + " " + std::to_string(r.m_nMaskFiles) + " " + LoadString(kIdsFiles) + LoadString(kIdsIn) +
         " " + std::to_string(r.m_nMaskFolders) + " " + LoadString(kIdsFolders);
}

MaskResults ApplyFileMask(FoundItemStore& store, const MaskCriteria& criteria, StampKind stamps, DayDate today,
                          const std::atomic<std::uint32_t>& abort,
                          const std::function<void(const MaskResults&)>& progress) {
  MaskResults results;
  store.BeginFilter();
  results.m_nMaskFolders = results.m_nMaskItems = 1;  // the root
  const auto passes = [&](const StoredItem& item) {
    return PassesFileMask(item.record, item.name, criteria, stamps, today);
  };
  const std::size_t count = store.Count();
  // The store's lock is not fair: without a pause between stretches the
  // next one could take it again before a waiting window gets its turn.
  const auto pause = [] { std::this_thread::sleep_for(std::chrono::microseconds(20)); };
  for (std::size_t at = 0; at < count; at += kStretch) {
    store.ClearFilterMarks(at, at + kStretch);
    pause();
  }
  for (std::size_t at = 0; at < count && !abort; at += kStretch) {
    const FilterCounts added = store.FilterItems(at, at + kStretch, passes);
    results.m_nMaskFiles += added.files;
    results.m_nMaskFolders += added.folders;
    results.m_nMaskItems += added.files + added.folders;
    results.m_nMaskBytes += added.bytes;
    if (progress) progress(results);
    pause();
  }
  return results;
}

}  // namespace corvan
