#include "console/DateFilters.h"

#include <ctime>

#include "platform/TimeFormat.h"

namespace corvan {

namespace {

bool OnOrAfter(const DayDate& cut, int day, int month, int year, int thisYear) {
  if (year == cut.year) return month > cut.month || (month == cut.month && day >= cut.day);
  return cut.year < year && year <= thisYear;
}

}  // namespace

std::optional<DayDate> StoredItemDate(std::uint64_t stamp, StampKind kind) {
  std::optional<CivilTime> t;
  if (kind == StampKind::ExFat) {
    const auto high = static_cast<std::uint32_t>(stamp >> 32);
    if (high != 0) t = DecodeDosDateTime(static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high));
  } else {
    t = DecodeItemTime(stamp, kind);
  }
  if (!t) return std::nullopt;
  return DayDate{t->day, t->month, t->year};
}

DayDate TodayUtc() {
  const std::time_t now = Now();
  std::tm tm{};
  gmtime_r(&now, &tm);
  return {tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900};
}

bool IsWithinLastDays(std::uint32_t n, int day, int month, int year, DayDate today) {
  const int D = today.day, M = today.month, Y = today.year;
  DayDate cut{D, M, Y};
  int yearsBack = 0;
  if (n == 365) {
    cut = {D, M, Y - 1};
    return OnOrAfter(cut, day, month, year, Y);
  }
  if (n > 365) {
    yearsBack = static_cast<int>(n / 365);
    n %= 365;
    if (n == 0) {
      cut = {D, M, Y - yearsBack};
      return OnOrAfter(cut, day, month, year, Y);
    }
  }
  const int days = static_cast<int>(n);
  if (days < 30) {
    if (D > days) cut = {D - days, M, Y};
    else if (D < days) cut = M == 1 ? DayDate{D - days + 30, 12, Y - 1} : DayDate{D - days + 30, M - 1, Y};
    else cut = {1, M, Y};
  } else if (days == 30) {
    cut = M == 1 ? DayDate{D, 12, Y - 1} : DayDate{D, M - 1, Y};
  } else {
    const int q = days / 30, r = days % 30;
    int m0;
    if (D >= r) {
      cut.day = D - r == 0 ? 1 : D - r;
      m0 = M;
    } else {
      cut.day = D - r + 30;
      m0 = M == 1 ? 12 : M - 1;
    }
    if (M == 1 || (D < r && M == 2)) {
      cut.month = m0 <= q ? m0 + 12 - q : m0 - q;
      cut.year = Y - 1;
    } else if (m0 > q) {
      cut.month = m0 - q;
      cut.year = Y;
    } else if (m0 < q) {
      cut.month = m0 + 12 - q;
      cut.year = Y - 1;
    } else {
      cut.month = 12;
      cut.year = Y - 1;
    }
  }
  cut.year -= yearsBack;
  return OnOrAfter(cut, day, month, year, Y);
}

bool IsWithinLastMonths(std::uint32_t n, int day, int month, int year, DayDate today) {
  const int D = today.day, M = today.month, Y = today.year;
  DayDate cut{D, M, Y};
  if (n >= 13) {
    const int k = static_cast<int>(n / 12), r = static_cast<int>(n) - 12 * k;
    cut.year = Y - k;
    if (M > r) {
      cut.month = M - r;
    } else if (M < r) {
      cut.month = M - r + 12;
      cut.year -= 1;
    } else {
      cut.month = 12;
      cut.year -= 1;
    }
  } else if (n == 12) {
    cut = {D, M, Y - 1};
  } else {
    const int k = static_cast<int>(n);
    if (M > k) cut = {D, M - k, Y};
    else if (M < k) cut = {D, M - k + 12, Y - 1};
    else cut = {D, 12, Y - 1};
  }
  cut.day = D;
  return OnOrAfter(cut, day, month, year, Y);
}

}  // namespace corvan
