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
  if (sourceKind == kSourceDisk) return EngineKind::Fat;
  // The sector-wise signature search always runs on the FAT engine, whatever
  // the kind byte a saved disk-like source carries.
  if (mode == kModeRaw && IsSectorWiseSource(sourceKind)) return EngineKind::Fat;
  if (mode != kModeAdvance) {
    // Any kind no engine claims is read as FAT.
    const EngineKind reader = EngineForFileSystem(fsKind);
    return reader == EngineKind::None ? EngineKind::Fat : reader;
  }
  switch (advanceChoice) {
    case 1: return EngineKind::Fat;
    case 2: return EngineKind::Ntfs;
    case 3: return fsKind == 3 ? EngineKind::ExFat : EngineKind::None;
    default: return EngineKind::None;
  }
}

ScanPass ChoosePass(std::uint32_t mode, EngineKind engine, std::uint8_t sourceKind, bool quickVolumeSearch) {
  if (engine == EngineKind::None) return ScanPass::None;
  switch (mode) {
    case kModeRaw:
      switch (engine) {
        case EngineKind::Fat: return IsSectorWiseSource(sourceKind) ? ScanPass::FatRawRegion : ScanPass::FatRaw;
        case EngineKind::Ntfs: return ScanPass::NtfsRaw;
        default: return ScanPass::ExFatRaw;
      }
    case kModeQuick:
      switch (engine) {
        case EngineKind::Fat: return ScanPass::FatQuick;
        case EngineKind::Ntfs: return ScanPass::NtfsQuick;
        default: return ScanPass::ExFatQuick;
      }
    case kModeDeleted:
      switch (engine) {
        case EngineKind::Fat: return quickVolumeSearch ? ScanPass::FatDeletedQuick : ScanPass::FatDeletedDeep;
        case EngineKind::Ntfs: return ScanPass::NtfsDeleted;
        default: return quickVolumeSearch ? ScanPass::ExFatDeletedQuick : ScanPass::ExFatLostFolders;
      }
    case kModeAdvance:
      switch (engine) {
        case EngineKind::Fat: return ScanPass::FatAdvance;
        case EngineKind::Ntfs: return ScanPass::NtfsAdvance;
        default: return ScanPass::ExFatAdvance;
      }
    default: return ScanPass::None;
  }
}

bool UsesVolumeRange(std::uint32_t mode, std::uint8_t sourceKind) {
  return mode == kModeRaw && IsSectorWiseSource(sourceKind);
}

std::string_view EngineName(EngineKind engine) {
  const EngineRow* row = FindEngineRow(engine);
  return row ? row->name : "none";
}

}  // namespace corvan
