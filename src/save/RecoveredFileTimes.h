#pragma once
// The times a saved file gets from its found item: FAT and exFAT keep DOS
// stamps in local time, NTFS keeps FILETIMEs in UTC. Linux has no settable
// creation time, so the modification time goes to both the modification
// and the access time.

#include <ctime>
#include <cstdint>
#include <optional>

#include "core/FoundItemInfo.h"

namespace corvan {

// Volume kinds of the saving thread.
inline constexpr int kSaveVolumeFat = 0;
inline constexpr int kSaveVolumeNtfs = 1;
inline constexpr int kSaveVolumeExFat = 2;

struct FatDateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Year 1980 + bits 9-15; month bits 5-8 (12 when not 1 to 12); day bits
// 0-4; hour bits 11-15, minute bits 5-10, seconds twice bits 0-4, each 0
// when out of range.
FatDateTime DecodeFatDateTime(std::uint16_t date, std::uint16_t time);

// Seconds since the epoch of a DOS stamp read as local time; nothing for a
// stamp that holds no date (date word 0 or day 0).
std::optional<std::time_t> DosStampToTime(std::uint16_t date, std::uint16_t time);

// The item's modification time, or nothing when it carries none.
std::optional<timespec> RecordModifiedTime(const FoundItemInfo& record, int volumeKind);

// Sets the modification and access times of the open file `fd`; true when
// there was nothing to set or they were set.
bool SetRecoveredFileTimes(int fd, const FoundItemInfo& record, int volumeKind);

}  // namespace corvan
