#pragma once
// "Within the last n days / months" as find and the file mask judge an
// item's date: a cut-off date is counted back from today with months of 30
// days and years of 365 days, and the item passes when it lies on or after
// the cut-off and not after this year.

#include <cstdint>
#include <optional>

#include "console/ItemTexts.h"

namespace corvan {

struct DayDate {
  int day = 0, month = 0, year = 0;
  bool operator==(const DayDate&) const = default;
};

// The calendar date of an item's time stamp as the volume stores it (an
// NTFS FILETIME in UTC, FAT and exFAT DOS stamps as written, without a
// conversion); nothing when the stamp holds no valid date.
std::optional<DayDate> StoredItemDate(std::uint64_t stamp, StampKind kind);

// Today's date in UTC (from the program's clock).
DayDate TodayUtc();

bool IsWithinLastDays(std::uint32_t n, int day, int month, int year, DayDate today);
bool IsWithinLastMonths(std::uint32_t n, int day, int month, int year, DayDate today);
inline bool IsWithinLastDays(std::uint32_t n, int day, int month, int year) {
  return IsWithinLastDays(n, day, month, year, TodayUtc());
}
inline bool IsWithinLastMonths(std::uint32_t n, int day, int month, int year) {
  return IsWithinLastMonths(n, day, month, year, TodayUtc());
}

}  // namespace corvan
