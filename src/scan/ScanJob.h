#pragma once
// One scan: what it was asked to do, the disk it reads, the session its
// engine goes into and the host it reports to. A headless run hands its own.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "scan/ScanSession.h"

namespace corvan {

class EngineHost;
class SectorSource;
struct SourceRecord;

struct ScanJob {
  EngineHost& host;
  std::shared_ptr<ScanSession> session;       // the previous engine is released, the new one held
  std::atomic<std::uint32_t>& scanResumed;    // a saved scan was resumed
  // What was asked.
  const SourceRecord* source = nullptr;       // the selected disk or volume
  std::shared_ptr<SectorSource> disk;         // the mounted disk it lies on
  std::uint32_t mode = 0;                     // 502 Raw ... 506 Advance, 511 saved scan
  std::uint8_t advanceChoice = 0;             // 1 FAT, 2 NTFS, 3 exFAT
  bool quickVolumeSearch = false;             // the volume came from a quick lost-volume search
  std::uint64_t mediaFirstSector = 0;
  std::uint64_t mediaLastSector = 0;
  // Clears busy and stop and notes whether results are present.
  std::function<void()> resetScanState;
  // Mode 511: resumes the saved scan the program chose, restoring its
  // engine, sources and items; false (the user told why) when it cannot.
  std::function<bool()> resumeSavedScan;
};

}  // namespace corvan
