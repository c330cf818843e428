#pragma once
// The texts the results window shows for a found item: the list's cells
// (type, size, dates, id), the colour of its type text, and the total and
// marked status lines.

#include <cstdint>
#include <optional>
#include <string>

#include "core/FoundItemInfo.h"
#include "core/StampKind.h"
#include "scan/EngineRegistry.h"  // StampKindOf

namespace corvan {

struct CivilTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool operator==(const CivilTime&) const = default;
};

// A stamp as a date, or nothing when it holds no valid date: its high half
// is zero, a DOS field is out of range, or a FILETIME is beyond the range
// the system's conversion accepts.
std::optional<CivilTime> DecodeItemTime(std::uint64_t stamp, StampKind kind);
// "%.2d-%.2d-%d %.2d:%.2d:%.2d" (month, day, year, ...) or "--------".
std::string FormatItemTime(std::uint64_t stamp, StampKind kind);
// Seconds on one scale for sorting; 0 for a stamp without a valid date.
std::int64_t ItemTimeSortValue(std::uint64_t stamp, StampKind kind);

// DOS date and time words as a date; nothing when a field is out of range.
std::optional<CivilTime> DecodeDosDateTime(std::uint16_t date, std::uint16_t time);
// 100-ns intervals since 1601-01-01 (UTC) as a date; nothing above 2^63 - 1.
std::optional<CivilTime> FileTimeToCivil(std::uint64_t fileTime);

// "Folder", "Deleted Folder", or an optional "Compressed " / "Encrypted "
// (encrypted wins) before "File" or "Deleted File".
std::string ItemTypeText(const FoundItemInfo& record);
// "0" for folders, else the size in decimal.
std::string ItemSizeText(const FoundItemInfo& record);
// The id right-aligned in seven places ("%7lu").
std::string ItemIdText(std::uint32_t id);
// The list's text colour for a type text (COLORREF): blue for compressed,
// green for encrypted, nothing for the rest.
std::optional<std::uint32_t> TypeTextColour(const std::string& typeText);

// prefix + size + " in" + " %ld " + "file(s)" + " in" + " %ld " + "folder(s)".
enum class StatusPrefix { Total, Marked };
std::string FormatStatusLine(StatusPrefix prefix, std::uint64_t bytes, std::uint64_t files, std::uint64_t folders);

}  // namespace corvan
