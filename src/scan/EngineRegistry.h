#pragma once
// The file systems the program reads, one row each: everything the rest of
// the program needs that differs from one engine to the next. The scan looks
// its engine and pass up here and nothing outside this file and the engine's
// own folder names a concrete engine; adding a file system is one engine
// folder and one row.

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "core/ScanEngine.h"
#include "core/StampKind.h"
#include "scan/ScanDispatch.h"
#include "scan/ScanInfoEngines.h"

namespace corvan {

class EngineHost;
struct Volume;

// How a pass ended, for the scan worker. Refused: the engine found no valid
// volume there and has said so to the user.
enum class PassOutcome { Ran, NotBuilt, Refused };

struct EnginePassRow {
  ScanPass pass;
  PassOutcome (*run)(ScanEngine& engine);
};

struct EngineRow {
  EngineKind kind;
  std::string_view name;  // "FAT", "NTFS", "exFAT"
  bool (*readsFileSystem)(std::uint8_t fileSystemKind);
  // The engine of the whole disk, of every sector-wise search and of any
  // file-system kind no row reads (one row has it).
  bool readsAnyDisk = false;
  // The options panel's Advance choice that picks this engine; with
  // `advanceOnItsKindOnly`, only on a volume of a kind it reads.
  std::uint8_t advanceChoice = 0;
  bool advanceOnItsKindOnly = false;
  // The pass a recovery mode runs (ScanPass::None for a mode without one).
  ScanPass (*choosePass)(std::uint32_t mode, std::uint8_t sourceKind, bool quickVolumeSearch);
  std::unique_ptr<ScanEngine> (*create)(EngineHost& host);
  // Whether `engine` is one this row's factory builds (the engine's folder
  // tells); every other function of the row is only ever given such a one.
  bool (*owns)(const ScanEngine& engine);
  void (*prepare)(ScanEngine& engine, const Volume& volume);
  // Binds the engine to absolute sectors [first, last] of `disk` for a
  // sector-wise search; null for an engine that has none.
  void (*setVolumeRange)(ScanEngine& engine, const Volume& disk, std::uint64_t first, std::uint64_t last) = nullptr;
  std::span<const EnginePassRow> passes;
  StampKind stamps = StampKind::Ntfs;
  // The linking mode the settings dialog shows and changes (which FAT copy,
  // or none, files are linked through); null for an engine without one.
  std::uint8_t (*linkingMode)(const ScanEngine& engine) = nullptr;
  bool (*setLinkingMode)(ScanEngine& engine, std::uint8_t mode) = nullptr;
  // A saved scan: the engine its header names, the engine's part of the
  // header and tables written from its saved state, and a fresh engine
  // restored from them (`host` is the one it was built on).
  ScanInfoEngine savedAs;
  void (*captureScan)(const ScanEngine& engine, ScanImageFileHeader& header, ScanEngineTables& tables);
  ScanRestoreResult (*restoreScan)(ScanEngine& engine, EngineHost& host, const VolumeScanInfo& scan,
                                   const Volume& volume);
};

std::span<const EngineRow> EngineRows();
// The row of `kind`; null for EngineKind::None.
const EngineRow* FindEngineRow(EngineKind kind);
// The row of `kind` when it built `engine`; null otherwise (an engine no
// row built, or another row's). Whoever hands an engine to a row's
// functions looks the row up here.
const EngineRow* RowOf(EngineKind kind, const ScanEngine& engine);
// The first engine whose row reads `fileSystemKind`; None when none does.
EngineKind EngineForFileSystem(std::uint8_t fileSystemKind);
// The engine of the whole disk and of sector-wise searches.
EngineKind AnyDiskEngine();
// Runs `pass` on `engine`; NotBuilt when the row of `kind` did not build it
// or has no such pass (a pass is never run on another engine's object).
PassOutcome RunEnginePass(ScanEngine& engine, EngineKind kind, ScanPass pass);

// How the items of `kind`'s engine keep their time stamps (NTFS for no
// engine).
StampKind StampKindOf(EngineKind kind);

// The engine a saved scan's header names; None when no row has it.
EngineKind EngineOfSavedScan(ScanInfoEngine saved);
// Fills the engine's part of a saved scan from `engine`; false, and nothing
// written, when the row of `kind` did not build it.
bool CaptureEngineScan(EngineKind kind, const ScanEngine& engine, ScanImageFileHeader& header,
                       ScanEngineTables& tables);
// Restores `engine`, freshly built by the row of `kind` on `host`, from a
// saved scan read whole; refused when that row did not build it.
ScanRestoreResult RestoreEngineScan(EngineKind kind, ScanEngine& engine, EngineHost& host, const VolumeScanInfo& scan,
                                    const Volume& volume);

}  // namespace corvan
