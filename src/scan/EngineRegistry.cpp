#include "scan/EngineRegistry.h"

#include "engines/exfat/ExFatEngine.h"
#include "engines/fat/FatEngine.h"
#include "engines/ntfs/NtfsEngine.h"
#include "sources/SourceRecords.h"
#include "sources/Volume.h"

namespace corvan {

namespace {

// ---- FAT12/16/32 ----
FatEngine& AsFat(ScanEngine& e) { return static_cast<FatEngine&>(e); }
PassOutcome FromFat(FatScanResult r) { return r == FatScanResult::NotAvailable ? PassOutcome::NotBuilt : PassOutcome::Ran; }
constexpr EnginePassRow kFatPasses[] = {
    {ScanPass::FatQuick, [](ScanEngine& e) { return FromFat(AsFat(e).ScanVolume(0)); }},
    {ScanPass::FatDeletedQuick, [](ScanEngine& e) { return FromFat(AsFat(e).ScanVolume(1)); }},
    {ScanPass::FatDeletedDeep, [](ScanEngine& e) { return FromFat(AsFat(e).DeepScan(1)); }},
    {ScanPass::FatAdvance, [](ScanEngine& e) { return FromFat(AsFat(e).DeepScan(0)); }},
    {ScanPass::FatRaw, [](ScanEngine& e) { return FromFat(AsFat(e).RawScan()); }},
    {ScanPass::FatRawRegion, [](ScanEngine& e) { return FromFat(AsFat(e).RawScanRegion()); }},
};

// ---- NTFS ----
NtfsEngine& AsNtfs(ScanEngine& e) { return static_cast<NtfsEngine&>(e); }
constexpr EnginePassRow kNtfsPasses[] = {
    {ScanPass::NtfsQuick, [](ScanEngine& e) { AsNtfs(e).ScanVolume(false); return PassOutcome::Ran; }},
    {ScanPass::NtfsDeleted, [](ScanEngine& e) { AsNtfs(e).ScanVolume(true); return PassOutcome::Ran; }},
    {ScanPass::NtfsAdvance, [](ScanEngine& e) { AsNtfs(e).DeepScan(); return PassOutcome::Ran; }},
    {ScanPass::NtfsRaw, [](ScanEngine& e) { AsNtfs(e).RawScan(); return PassOutcome::Ran; }},
};

// ---- exFAT ----
ExFatEngine& AsExFat(ScanEngine& e) { return static_cast<ExFatEngine&>(e); }
constexpr EnginePassRow kExFatPasses[] = {
    {ScanPass::ExFatQuick, [](ScanEngine& e) { AsExFat(e).ScanVolume(0); return PassOutcome::Ran; }},
    {ScanPass::ExFatDeletedQuick, [](ScanEngine& e) { AsExFat(e).ScanVolume(1); return PassOutcome::Ran; }},
    {ScanPass::ExFatLostFolders,
     [](ScanEngine& e) {
       ExFatEngine& x = AsExFat(e);
       x.m_nPass = 1;
       x.m_bMarkFlag = 1;
       x.SearchLostFolders();
       return PassOutcome::Ran;
     }},
    {ScanPass::ExFatAdvance, [](ScanEngine& e) { AsExFat(e).DeepScan(0); return PassOutcome::Ran; }},
    {ScanPass::ExFatRaw, [](ScanEngine& e) { AsExFat(e).RawScan(); return PassOutcome::Ran; }},
};

const EngineRow kRows[] = {
    {EngineKind::Fat, "FAT",
     [](std::uint8_t k) { return k == kFsFat12 || k == kFsFat16 || k == kFsFat32; },
     [](EngineHost& host) -> std::unique_ptr<ScanEngine> { return std::make_unique<FatEngine>(host); },
     [](ScanEngine& e, const Volume& v) { AsFat(e).Prepare(v); }, kFatPasses},
    {EngineKind::Ntfs, "NTFS", IsNtfsKind,
     [](EngineHost& host) -> std::unique_ptr<ScanEngine> { return std::make_unique<NtfsEngine>(host); },
     [](ScanEngine& e, const Volume& v) { AsNtfs(e).Prepare(v); }, kNtfsPasses},
    {EngineKind::ExFat, "exFAT", [](std::uint8_t k) { return k == kFsExFat; },
     [](EngineHost& host) -> std::unique_ptr<ScanEngine> { return std::make_unique<ExFatEngine>(host); },
     [](ScanEngine& e, const Volume& v) { AsExFat(e).Prepare(v); }, kExFatPasses},
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

}  // namespace corvan
