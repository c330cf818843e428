#pragma once
// The one gate between names read from a disk and the host: every folder,
// file, zip entry and log line that carries a found item's name goes
// through here, so a name like "..", "a/b" or one with control characters
// can never steer a save out of its destination or garble a log.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvan {

// Longest component most Linux file systems take, in bytes of UTF-8.
inline constexpr std::size_t kMaxNameBytes = 255;

struct SanitisedName {
  std::string name;      // UTF-8, one safe path component
  bool changed = false;  // differs from the name as read from the disk
};

// One path component: never empty, never "." or "..", no '/', '\\', NUL or
// control character (C0, DEL, C1), valid UTF-8 (broken UTF-16 becomes
// U+FFFD), at most kMaxNameBytes bytes (cut at a character boundary, keeping
// a short extension). Safe names come back unchanged; sanitising twice
// gives the same result as once.
SanitisedName SanitiseName(std::u16string_view name);
SanitisedName SanitiseName(std::string_view utf8Name);

// Sanitised components joined with '/': a relative path that never climbs
// out of where it is used (zip entry names, remote paths).
std::string JoinSanitisedPath(const std::vector<std::u16string>& components);

// A name for a log line or a message: control characters shown as \xNN,
// broken UTF-16 as U+FFFD; nothing else changes.
std::string LogSafeName(std::u16string_view name);

}  // namespace corvan
