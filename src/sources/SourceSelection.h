#pragma once
// What the user chose to recover from, as a value: the windows make it from
// what the source page and the options panel show and hand it to the job,
// which keeps its own copy and reads nothing back from the application.

#include <cstdint>
#include <memory>

namespace corvan {

class SectorSource;
struct SourceRecord;

struct SourceSelection {
  const SourceRecord* source = nullptr;  // the selected disk or volume (a record of the source list)
  std::shared_ptr<SectorSource> disk;    // the mounted disk it lies on; every read goes through it
  // The sectors a search of a whole disk covers (the options panel's region).
  std::uint64_t mediaFirstSector = 0;
  std::uint64_t mediaLastSector = 0;
  bool quickVolumeSearch = false;  // the volume came from a quick lost-volume search
};

}  // namespace corvan
