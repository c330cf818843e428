#include "scan/ScanDispatch.h"

#include "core/RecoveryMode.h"
#include "scan/EngineRegistry.h"
#include "sources/SourceRecords.h"

namespace corvan {

bool IsNtfsKind(std::uint8_t k) { return k == 7 || k == 0x86 || k == 0x87 || k == 0x42; }

bool IsSectorWiseSource(std::uint8_t kind) {
  return kind == kSourceDisk || kind == kSourceNamedDisk || kind == kSourceDiskImage || kind == kSourceRemovableImage;
}

EngineKind ChooseEngine(std::uint8_t sourceKind, std::uint8_t fsKind, std::uint32_t mode,
                        std::uint8_t advanceChoice) {
  if (sourceKind == kSourceDisk) return AnyDiskEngine();
  // The sector-wise signature search always runs on the same engine,
  // whatever the kind byte a saved disk-like source carries.
  if (mode == kModeRaw && IsSectorWiseSource(sourceKind)) return AnyDiskEngine();
  if (mode != kModeAdvance) {
    const EngineKind reader = EngineForFileSystem(fsKind);
    return reader == EngineKind::None ? AnyDiskEngine() : reader;
  }
  // Advance Recovery follows the panel's choice, not the volume.
  for (const EngineRow& row : EngineRows()) {
    if (advanceChoice == 0 || row.advanceChoice != advanceChoice) continue;
    return !row.advanceOnItsKindOnly || row.readsFileSystem(fsKind) ? row.kind : EngineKind::None;
  }
  return EngineKind::None;
}

ScanPass ChoosePass(std::uint32_t mode, EngineKind engine, std::uint8_t sourceKind, bool quickVolumeSearch) {
  const EngineRow* row = FindEngineRow(engine);
  return row ? row->choosePass(mode, sourceKind, quickVolumeSearch) : ScanPass::None;
}

bool UsesVolumeRange(std::uint32_t mode, std::uint8_t sourceKind) {
  return mode == kModeRaw && IsSectorWiseSource(sourceKind);
}

std::string_view EngineName(EngineKind engine) {
  const EngineRow* row = FindEngineRow(engine);
  return row ? row->name : "none";
}

}  // namespace corvan
