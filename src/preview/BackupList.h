#pragma once
// The files a tape-format backup (".bkf") holds, read from its descriptor
// blocks: data sets, volumes, directories and files, each block at a
// 1024-byte boundary. Nothing is restored; the listing gives each file's
// name, size and three dates.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "preview/ByteSource.h"

namespace corvan {

// The format's packed five-byte date and time.
struct MtfDateTime {
  std::array<std::uint8_t, 5> bytes{};
  bool operator==(const MtfDateTime&) const = default;
};

struct BackupEntry {
  std::u16string name;
  std::uint64_t size = 0;
  MtfDateTime modified;
  MtfDateTime created;
  MtfDateTime accessed;
};

struct BackupListing {
  bool shown = false;  // false: not a backup (or unreadable), show hex instead
  std::vector<BackupEntry> entries;  // in the order found
  bool stopped = false;
};

// Lists the backup named `name` (it must end in ".bkf", any case).
BackupListing ListBackup(ByteSource& source, std::u16string_view name);

// Column texts: "%d Bytes", "%.2f KB", "%.2f MB" or "%.2f GB".
std::u16string FormatBackupSize(std::uint64_t size);
// "h:m:s  M/D/Y" with no leading zeros.
std::u16string FormatMtfDateTime(const MtfDateTime& date);

}  // namespace corvan
