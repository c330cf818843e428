#pragma once
// How an engine stores a found item's time stamps in its record; the
// results window decodes them by this.

namespace corvan {

enum class StampKind {
  Fat,    // DOS time word in the low half, DOS date word in the high half
  Ntfs,   // FILETIME (UTC)
  ExFat,  // DOS date-time (date high, time low) in the high half, local time
};

}  // namespace corvan
