#pragma once
// Which engine a scan builds and which of its passes it runs, from the
// selected source, the recovery mode and the Advance choice.

#include <cstdint>
#include <string_view>

namespace corvan {

enum class EngineKind { None, Fat, Ntfs, ExFat };

enum class ScanPass {
  None,
  FatRawRegion,      // sector-wise signature search over the media range
  FatRaw,
  FatQuick,          // ScanVolume pass 0
  FatDeletedQuick,   // ScanVolume pass 1 (after a quick lost-volume search)
  FatDeletedDeep,    // DeepScan pass 1
  FatAdvance,        // DeepScan pass 0
  NtfsRaw,
  NtfsQuick,         // ScanVolume, deleted = 0
  NtfsDeleted,       // ScanVolume, deleted = 1
  NtfsAdvance,       // DeepScan
  ExFatRaw,
  ExFatQuick,        // ScanVolume pass 0
  ExFatDeletedQuick, // ScanVolume pass 1
  ExFatLostFolders,  // pass 1 with cluster marking, then SearchLostFolders
  ExFatAdvance,      // DeepScan pass 0
};

// True for file-system kind bytes of NTFS volumes.
bool IsNtfsKind(std::uint8_t fileSystemKind);

// Sources scanned sector by sector in Raw Recovery (the whole disk and the
// disk-like kinds of saved scans).
bool IsSectorWiseSource(std::uint8_t sourceKind);

EngineKind ChooseEngine(std::uint8_t sourceKind, std::uint8_t fileSystemKind, std::uint32_t mode,
                        std::uint8_t advanceChoice);

ScanPass ChoosePass(std::uint32_t mode, EngineKind engine, std::uint8_t sourceKind, bool quickVolumeSearch);

// Raw Recovery over a sector-wise source sets the engine's volume range
// instead of preparing it from the volume.
bool UsesVolumeRange(std::uint32_t mode, std::uint8_t sourceKind);

std::string_view EngineName(EngineKind engine);

}  // namespace corvan
