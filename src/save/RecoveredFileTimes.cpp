#include "save/RecoveredFileTimes.h"

#include <sys/stat.h>

namespace corvan {

FatDateTime DecodeFatDateTime(std::uint16_t date, std::uint16_t time) {
  FatDateTime t;
  t.year = 1980 + (date >> 9);
  t.month = (date >> 5) & 0x0F;
  if (t.month < 1 || t.month > 12) t.month = 12;
  t.day = date & 0x1F;
  t.hour = time >> 11;
  if (t.hour > 23) t.hour = 0;
  t.minute = (time >> 5) & 0x3F;
  if (t.minute > 59) t.minute = 0;
  t.second = (time & 0x1F) * 2;
  if (t.second > 59) t.second = 0;
  return t;
}

std::optional<std::time_t> DosStampToTime(std::uint16_t date, std::uint16_t time) {
  if (date == 0 || (date & 0x1F) == 0) return std::nullopt;
  const FatDateTime d = DecodeFatDateTime(date, time);
  std::tm tm{};
  tm.tm_year = d.year - 1900;
  tm.tm_mon = d.month - 1;
  tm.tm_mday = d.day;
  tm.tm_hour = d.hour;
  tm.tm_min = d.minute;
  tm.tm_sec = d.second;
  tm.tm_isdst = -1;  // whatever the local rules say for that day
  const std::time_t t = std::mktime(&tm);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return t;
}

std::optional<timespec> RecordModifiedTime(const FoundItemInfo& record, int volumeKind) {
  timespec ts{};
  if (volumeKind == kSaveVolumeNtfs) {
    // 100-ns ticks since 1601-01-01 UTC.
    constexpr std::uint64_t kTicks = 10'000'000;
    constexpr std::uint64_t kEpochDiff = 11'644'473'600ull;
    const std::uint64_t ft = record.modifiedTime;
    if (ft == 0) return std::nullopt;
    const std::uint64_t secs = ft / kTicks;
    ts.tv_sec = static_cast<std::time_t>(static_cast<std::int64_t>(secs) - static_cast<std::int64_t>(kEpochDiff));
    ts.tv_nsec = static_cast<long>((ft % kTicks) * 100);
    return ts;
  }
  std::uint16_t date = 0, time = 0;
  if (volumeKind == kSaveVolumeExFat) {
    // One 32-bit DOS stamp in bytes 49-52: date high, time low.
    const auto stamp = static_cast<std::uint32_t>(record.modifiedTime >> 32);
    date = static_cast<std::uint16_t>(stamp >> 16);
    time = static_cast<std::uint16_t>(stamp);
  } else {
    // The time word in bytes 45-48, the date word in bytes 49-52.
    time = static_cast<std::uint16_t>(record.modifiedTime);
    date = static_cast<std::uint16_t>(record.modifiedTime >> 32);
  }
  const auto t = DosStampToTime(date, time);
  if (!t) return std::nullopt;
  ts.tv_sec = *t;
  return ts;
}

bool SetRecoveredFileTimes(int fd, const FoundItemInfo& record, int volumeKind) {
  const auto mtime = RecordModifiedTime(record, volumeKind);
  if (!mtime) return true;
  const timespec times[2] = {*mtime, *mtime};
  return ::futimens(fd, times) == 0;
}

}  // namespace corvan
