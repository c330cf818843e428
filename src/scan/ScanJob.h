#pragma once
// One scan: what it was asked to do (the source selection, the mode), the
// disk it reads, the session its engine goes into and the host it reports to.
// A headless run hands its own.

#include <cstdint>
#include <functional>
#include <memory>

#include "scan/ScanSession.h"
#include "sources/SourceSelection.h"

namespace corvan {

class EngineHost;

struct ScanJob {
  EngineHost& host;
  std::shared_ptr<ScanSession> session;       // the previous engine is released, the new one held
  // What was asked.
  SourceSelection selection;
  std::uint32_t mode = 0;                     // 502 Raw ... 506 Advance, 511 saved scan
  std::uint8_t advanceChoice = 0;             // 1 FAT, 2 NTFS, 3 exFAT
  // Clears busy and stop and notes whether results are present.
  std::function<void()> resetScanState;
  // Mode 511: resumes the saved scan the program chose, restoring its
  // engine, sources and items; false (the user told why) when it cannot.
  std::function<bool()> resumeSavedScan;
};

}  // namespace corvan
