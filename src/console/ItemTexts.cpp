#include "console/ItemTexts.h"

#include <cstdio>
#include <ctime>

#include "core/AppServices.h"
#include "core/StringIds.h"
#include "core/StringTable.h"

namespace corvan {

namespace {

constexpr std::uint32_t kColourCompressed = 0xFF0000;  // blue
constexpr std::uint32_t kColourEncrypted = 0x0D9213;   // green

// Days from 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's
// days_from_civil).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

CivilTime CivilFromDays(std::int64_t z, std::int64_t secondsOfDay) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  CivilTime t;
  t.year = static_cast<int>(y + (m <= 2));
  t.month = static_cast<int>(m);
  t.day = static_cast<int>(d);
  t.hour = static_cast<int>(secondsOfDay / 3600);
  t.minute = static_cast<int>(secondsOfDay / 60 % 60);
  t.second = static_cast<int>(secondsOfDay % 60);
  return t;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// A DOS stamp is local time; the system converts it to UTC for display.
std::optional<CivilTime> LocalToUtc(const CivilTime& local) {
  std::tm tm{};
  tm.tm_year = local.year - 1900;
  tm.tm_mon = local.month - 1;
  tm.tm_mday = local.day;
  tm.tm_hour = local.hour;
  tm.tm_min = local.minute;
  tm.tm_sec = local.second;
  tm.tm_isdst = -1;
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return local;
  std::tm utc{};
  if (!gmtime_r(&t, &utc)) return local;
  return CivilTime{utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec};
}

std::int64_t SortValue(const CivilTime& t) {
  return (DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) + 719468) * 86400 +
         t.hour * 3600 + t.minute * 60 + t.second;
}

}  // namespace

std::optional<CivilTime> DecodeDosDateTime(std::uint16_t date, std::uint16_t time) {
  CivilTime t;
  t.year = 1980 + (date >> 9);
  t.month = (date >> 5) & 0x0F;
  t.day = date & 0x1F;
  t.hour = time >> 11;
  t.minute = (time >> 5) & 0x3F;
  t.second = (time & 0x1F) * 2;
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > DaysInMonth(t.year, t.month) || t.hour > 23 ||
      t.minute > 59 || t.second > 59)
    return std::nullopt;
  return t;
}

std::optional<CivilTime> FileTimeToCivil(std::uint64_t fileTime) {
  if (fileTime > 0x7FFFFFFFFFFFFFFFull) return std::nullopt;
  const auto seconds = static_cast<std::int64_t>(fileTime / 10000000ull);
  constexpr std::int64_t kDays1601To1970 = 134774;
  const std::int64_t days = seconds / 86400 - kDays1601To1970;
  return CivilFromDays(days, seconds % 86400);
}

std::optional<CivilTime> DecodeItemTime(std::uint64_t stamp, StampKind kind) {
  const auto high = static_cast<std::uint32_t>(stamp >> 32);
  if (high == 0) return std::nullopt;
  switch (kind) {
    case StampKind::Fat:
      return DecodeDosDateTime(static_cast<std::uint16_t>(high), static_cast<std::uint16_t>(stamp));
    case StampKind::ExFat: {
      const auto local = DecodeDosDateTime(static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high));
      if (!local) return std::nullopt;
      return LocalToUtc(*local);
    }
    case StampKind::Ntfs:
      return FileTimeToCivil(stamp);
  }
  return std::nullopt;
}

std::string FormatItemTime(std::uint64_t stamp, StampKind kind) {
  const auto t = DecodeItemTime(stamp, kind);
  if (!t) return "--------";
  char text[64];
  std::snprintf(text, sizeof text, "%.2d-%.2d-%d %.2d:%.2d:%.2d", t->month, t->day, t->year, t->hour, t->minute,
                t->second);
  return text;
}

std::int64_t ItemTimeSortValue(std::uint64_t stamp, StampKind kind) {
  const auto t = DecodeItemTime(stamp, kind);
  return t ? SortValue(*t) : 0;
}

std::string ItemTypeText(const FoundItemInfo& record) {
  if (record.IsFolder()) return LoadString(record.IsDeleted() ? kIdsDeletedFolder : kIdsFolder);
  std::string prefix;
  if (record.flags & kItemEncrypted) prefix = LoadString(kIdsEncrypted);
  else if (record.flags & kItemCompressed) prefix = LoadString(kIdsCompressed);
  return prefix + LoadString(record.IsDeleted() ? kIdsDeletedFile : kIdsFile);
}

std::string ItemSizeText(const FoundItemInfo& record) {
  return record.IsFolder() ? std::string("0") : std::to_string(record.size);
}

std::string ItemIdText(std::uint32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "%7lu", static_cast<unsigned long>(id));
  return text;
}

std::optional<std::uint32_t> TypeTextColour(const std::string& typeText) {
  if (typeText.find(LoadString(kIdsCompressed)) != std::string::npos) return kColourCompressed;
  if (typeText.find(LoadString(kIdsEncrypted)) != std::string::npos) return kColourEncrypted;
  return std::nullopt;
}

std::string FormatStatusLine(StatusPrefix prefix, std::uint64_t bytes, std::uint64_t files, std::uint64_t folders) {
  const auto count = [](std::uint64_t n) { return " " + std::to_string(n) + " "; };
  return LoadString(prefix == StatusPrefix::Total ? kIdsTotal : kIdsMarked) + FormatSize(bytes) +
         LoadString(kIdsIn) + count(files) + LoadString(kIdsFiles) + LoadString(kIdsIn) + count(folders) +
         LoadString(kIdsFolders);
}

}  // namespace corvan
