#include "scan/EngineRegistry.h"

#include "core/EngineHost.h"
#include "core/RecoveryMode.h"
#include "engines/exfat/ExFatEngine.h"
#include "engines/fat/FatEngine.h"
#include "engines/ntfs/NtfsEngine.h"
#include "sources/SourceRecords.h"
#include "sources/Volume.h"

namespace corvan {

namespace {

// Each row's functions get only engines its own factory built (RowOf
// checks), so the As... below never see another kind.

// ---- FAT12/16/32 ----
FatEngine& AsFat(ScanEngine& e) { return *FatEngine::Of(&e); }
const FatEngine& AsFat(const ScanEngine& e) { return *FatEngine::Of(&e); }
PassOutcome FromFat(FatScanResult r) {
  if (r == FatScanResult::NotAvailable) return PassOutcome::NotBuilt;
  return r == FatScanResult::InvalidVolume ? PassOutcome::Refused : PassOutcome::Ran;
}
constexpr EnginePassRow kFatPasses[] = {
    {ScanPass::FatQuick, [](ScanEngine& e) { return FromFat(AsFat(e).ScanVolume(0)); }},
    {ScanPass::FatDeletedQuick, [](ScanEngine& e) { return FromFat(AsFat(e).ScanVolume(1)); }},
    {ScanPass::FatDeletedDeep, [](ScanEngine& e) { return FromFat(AsFat(e).DeepScan(1)); }},
    {ScanPass::FatAdvance, [](ScanEngine& e) { return FromFat(AsFat(e).DeepScan(0)); }},
    {ScanPass::FatRaw, [](ScanEngine& e) { return FromFat(AsFat(e).RawScan()); }},
    {ScanPass::FatRawRegion, [](ScanEngine& e) { return FromFat(AsFat(e).RawScanRegion()); }},
};
ScanPass FatPass(std::uint32_t mode, std::uint8_t sourceKind, bool quickVolumeSearch) {
  switch (mode) {
    case kModeRaw: return IsSectorWiseSource(sourceKind) ? ScanPass::FatRawRegion : ScanPass::FatRaw;
    case kModeQuick: return ScanPass::FatQuick;
    case kModeDeleted: return quickVolumeSearch ? ScanPass::FatDeletedQuick : ScanPass::FatDeletedDeep;
    case kModeAdvance: return ScanPass::FatAdvance;
    default: return ScanPass::None;
  }
}

void CaptureFat(const ScanEngine& e, ScanImageFileHeader& h, ScanEngineTables& t) {
  CaptureScanInfo(e, AsFat(e).SavedScan(), h, t);
}
ScanRestoreResult RestoreFat(ScanEngine& e, EngineHost& host, const VolumeScanInfo& scan, const Volume& volume) {
  host.VolumeOpenedFlag() = 1;  // whatever the outcome, as after a scan
  FatSavedScan saved;
  if (ScanRestoreResult refused = SavedScanOf(scan, saved); !refused.ok) return refused;
  AsFat(e).RestoreSavedScan(saved, volume);
  return CheckSavedDrive(scan.header);
}

// ---- NTFS ----
NtfsEngine& AsNtfs(ScanEngine& e) { return *NtfsEngine::Of(&e); }
const NtfsEngine& AsNtfs(const ScanEngine& e) { return *NtfsEngine::Of(&e); }
PassOutcome FromNtfs(ScanEngine& e) { return AsNtfs(e).TakeVolumeRefused() ? PassOutcome::Refused : PassOutcome::Ran; }
constexpr EnginePassRow kNtfsPasses[] = {
    {ScanPass::NtfsQuick, [](ScanEngine& e) { AsNtfs(e).ScanVolume(false); return FromNtfs(e); }},
    {ScanPass::NtfsDeleted, [](ScanEngine& e) { AsNtfs(e).ScanVolume(true); return FromNtfs(e); }},
    {ScanPass::NtfsAdvance, [](ScanEngine& e) { AsNtfs(e).DeepScan(); return FromNtfs(e); }},
    {ScanPass::NtfsRaw, [](ScanEngine& e) { AsNtfs(e).RawScan(); return FromNtfs(e); }},
};
ScanPass NtfsPass(std::uint32_t mode, std::uint8_t, bool) {
  switch (mode) {
    case kModeRaw: return ScanPass::NtfsRaw;
    case kModeQuick: return ScanPass::NtfsQuick;
    case kModeDeleted: return ScanPass::NtfsDeleted;
    case kModeAdvance: return ScanPass::NtfsAdvance;
    default: return ScanPass::None;
  }
}

void CaptureNtfs(const ScanEngine& e, ScanImageFileHeader& h, ScanEngineTables& t) {
  CaptureScanInfo(e, AsNtfs(e).SavedScan(), h, t);
}
ScanRestoreResult RestoreNtfs(ScanEngine& e, EngineHost& host, const VolumeScanInfo& scan, const Volume& volume) {
  host.VolumeOpenedFlag() = 1;  // whatever the outcome, as after a scan
  NtfsSavedScan saved;
  ScanRestoreResult result = SavedScanOf(scan, volume, saved);
  if (result.ok) AsNtfs(e).RestoreSavedScan(saved);
  return result;
}

// ---- exFAT ----
ExFatEngine& AsExFat(ScanEngine& e) { return *ExFatEngine::Of(&e); }
const ExFatEngine& AsExFat(const ScanEngine& e) { return *ExFatEngine::Of(&e); }
PassOutcome FromExFat(ExFatScanResult r) {
  return r == ExFatScanResult::InvalidVolume ? PassOutcome::Refused : PassOutcome::Ran;
}
constexpr EnginePassRow kExFatPasses[] = {
    {ScanPass::ExFatQuick, [](ScanEngine& e) { return FromExFat(AsExFat(e).ScanVolume(0)); }},
    {ScanPass::ExFatDeletedQuick, [](ScanEngine& e) { return FromExFat(AsExFat(e).ScanVolume(1)); }},
    {ScanPass::ExFatLostFolders, [](ScanEngine& e) { return FromExFat(AsExFat(e).DeepScan(1)); }},
    {ScanPass::ExFatAdvance, [](ScanEngine& e) { return FromExFat(AsExFat(e).DeepScan(0)); }},
    {ScanPass::ExFatRaw, [](ScanEngine& e) { return FromExFat(AsExFat(e).RawScan()); }},
};
ScanPass ExFatPass(std::uint32_t mode, std::uint8_t, bool quickVolumeSearch) {
  switch (mode) {
    case kModeRaw: return ScanPass::ExFatRaw;
    case kModeQuick: return ScanPass::ExFatQuick;
    case kModeDeleted: return quickVolumeSearch ? ScanPass::ExFatDeletedQuick : ScanPass::ExFatLostFolders;
    case kModeAdvance: return ScanPass::ExFatAdvance;
    default: return ScanPass::None;
  }
}

void CaptureExFat(const ScanEngine& e, ScanImageFileHeader& h, ScanEngineTables& t) {
  CaptureScanInfo(e, AsExFat(e).SavedScan(), h, t);
}
ScanRestoreResult RestoreExFat(ScanEngine& e, EngineHost& host, const VolumeScanInfo& scan, const Volume& volume) {
  ExFatSavedScan saved;
  ScanRestoreResult result = SavedScanOf(scan, saved);
  if (!result.ok) return result;
  if (std::string why = AsExFat(e).RestoreSavedScan(saved, volume); !why.empty()) return {false, std::move(why)};
  host.VolumeOpenedFlag() = 1;  // only once the volume is opened again
  return result;
}

const EngineRow kRows[] = {
    {.kind = EngineKind::Fat,
     .name = "FAT",
     .readsFileSystem = [](std::uint8_t k) { return k == kFsFat12 || k == kFsFat16 || k == kFsFat32; },
     .readsAnyDisk = true,
     .advanceChoice = 1,
     .choosePass = FatPass,
     .create = [](EngineHost& host) -> std::unique_ptr<ScanEngine> { return std::make_unique<FatEngine>(host); },
     .owns = [](const ScanEngine& e) { return FatEngine::Of(&e) != nullptr; },
     .prepare = [](ScanEngine& e, const Volume& v) { AsFat(e).Prepare(v); },
     .setVolumeRange = [](ScanEngine& e, const Volume& disk, std::uint64_t first,
                          std::uint64_t last) { AsFat(e).SetVolumeRange(disk, first, last); },
     .passes = kFatPasses,
     .stamps = StampKind::Fat,
     .linkingMode = [](const ScanEngine& e) { return AsFat(e).FatSource(); },
     .setLinkingMode = [](ScanEngine& e, std::uint8_t mode) { return AsFat(e).ChangeFatSource(mode); },
     .savedAs = ScanInfoEngine::Fat,
     .captureScan = CaptureFat,
     .restoreScan = RestoreFat},
    {.kind = EngineKind::Ntfs,
     .name = "NTFS",
     .readsFileSystem = IsNtfsKind,
     .advanceChoice = 2,
     .choosePass = NtfsPass,
     .create = [](EngineHost& host) -> std::unique_ptr<ScanEngine> { return std::make_unique<NtfsEngine>(host); },
     .owns = [](const ScanEngine& e) { return NtfsEngine::Of(&e) != nullptr; },
     .prepare = [](ScanEngine& e, const Volume& v) { AsNtfs(e).Prepare(v); },
     .passes = kNtfsPasses,
     .stamps = StampKind::Ntfs,
     .savedAs = ScanInfoEngine::Ntfs,
     .captureScan = CaptureNtfs,
     .restoreScan = RestoreNtfs},
    {.kind = EngineKind::ExFat,
     .name = "exFAT",
     .readsFileSystem = [](std::uint8_t k) { return k == kFsExFat; },
     .advanceChoice = 3,
     .advanceOnItsKindOnly = true,
     .choosePass = ExFatPass,
     .create = [](EngineHost& host) -> std::unique_ptr<ScanEngine> { return std::make_unique<ExFatEngine>(host); },
     .owns = [](const ScanEngine& e) { return ExFatEngine::Of(&e) != nullptr; },
     .prepare = [](ScanEngine& e, const Volume& v) { AsExFat(e).Prepare(v); },
     .passes = kExFatPasses,
     .stamps = StampKind::ExFat,
     .savedAs = ScanInfoEngine::ExFat,
     .captureScan = CaptureExFat,
     .restoreScan = RestoreExFat},
};

}  // namespace

std::span<const EngineRow> EngineRows() { return kRows; }

const EngineRow* FindEngineRow(EngineKind kind) {
  for (const EngineRow& row : kRows)
    if (row.kind == kind) return &row;
  return nullptr;
}

EngineKind EngineForFileSystem(std::uint8_t fileSystemKind) {
  for (const EngineRow& row : kRows)
    if (row.readsFileSystem(fileSystemKind)) return row.kind;
  return EngineKind::None;
}

EngineKind AnyDiskEngine() {
  for (const EngineRow& row : kRows)
    if (row.readsAnyDisk) return row.kind;
  return EngineKind::None;
}

const EngineRow* RowOf(EngineKind kind, const ScanEngine& engine) {
  const EngineRow* row = FindEngineRow(kind);
  return row && row->owns(engine) ? row : nullptr;
}

PassOutcome RunEnginePass(ScanEngine& engine, EngineKind kind, ScanPass pass) {
  if (const EngineRow* row = RowOf(kind, engine))
    for (const EnginePassRow& p : row->passes)
      if (p.pass == pass) return p.run(engine);
  return PassOutcome::NotBuilt;
}

StampKind StampKindOf(EngineKind kind) {
  const EngineRow* row = FindEngineRow(kind);
  return row ? row->stamps : StampKind::Ntfs;
}

EngineKind EngineOfSavedScan(ScanInfoEngine saved) {
  for (const EngineRow& row : kRows)
    if (row.savedAs == saved) return row.kind;
  return EngineKind::None;
}

bool CaptureEngineScan(EngineKind kind, const ScanEngine& engine, ScanImageFileHeader& header,
                       ScanEngineTables& tables) {
  const EngineRow* row = RowOf(kind, engine);
  if (!row) return false;
  row->captureScan(engine, header, tables);
  return true;
}

ScanRestoreResult RestoreEngineScan(EngineKind kind, ScanEngine& engine, EngineHost& host, const VolumeScanInfo& scan,
                                    const Volume& volume) {
  const EngineRow* row = RowOf(kind, engine);
  if (!row) return {false, "This saved scan was made by an engine this program does not have."};
  return row->restoreScan(engine, host, scan, volume);
}

}  // namespace corvan
