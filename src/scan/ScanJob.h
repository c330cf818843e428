#pragma once
// One scan: what it was asked to do (the source selection, the mode), the
// disk it reads and the application state it is handed. The flags and engine
// slots the program keeps on its application object stay there; the job
// holds references to them, so the windows see what the running scan sets.
// A headless run hands its own.

#include <cstdint>
#include <functional>
#include <memory>

#include "core/ScanEngine.h"
#include "scan/ScanDispatch.h"
#include "sources/SourceSelection.h"

namespace corvan {

class EngineHost;

// The application's three engine slots; at most one holds an engine.
struct EngineSlots {
  std::unique_ptr<ScanEngine>& fat;
  std::unique_ptr<ScanEngine>& ntfs;
  std::unique_ptr<ScanEngine>& exFat;

  std::unique_ptr<ScanEngine>& For(EngineKind kind) {
    return kind == EngineKind::Fat ? fat : kind == EngineKind::Ntfs ? ntfs : exFat;
  }
  // The engine a save or a preview reads through: the first one there is,
  // FAT, NTFS, exFAT.
  ScanEngine* First() const { return fat ? fat.get() : ntfs ? ntfs.get() : exFat.get(); }
  void FreeAll();
};

struct ScanJob {
  EngineHost& host;
  EngineSlots engines;
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
