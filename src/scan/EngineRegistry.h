#pragma once
// The file systems the program reads, one row each: the file-system kinds
// its engine reads, the passes it runs and how it is built and bound to a
// volume. The scan looks its engine and pass up here; adding a file system
// is one engine folder and one row.

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "core/ScanEngine.h"
#include "scan/ScanDispatch.h"

namespace corvan {

class EngineHost;
struct Volume;

// How a pass ended, for the scan worker.
enum class PassOutcome { Ran, NotBuilt };

struct EnginePassRow {
  ScanPass pass;
  PassOutcome (*run)(ScanEngine& engine);
};

struct EngineRow {
  EngineKind kind;
  std::string_view name;  // "FAT", "NTFS", "exFAT"
  bool (*readsFileSystem)(std::uint8_t fileSystemKind);
  std::unique_ptr<ScanEngine> (*create)(EngineHost& host);
  void (*prepare)(ScanEngine& engine, const Volume& volume);
  std::span<const EnginePassRow> passes;
};

std::span<const EngineRow> EngineRows();
// The row of `kind`; null for EngineKind::None.
const EngineRow* FindEngineRow(EngineKind kind);
// The first engine whose row reads `fileSystemKind`; None when none does.
EngineKind EngineForFileSystem(std::uint8_t fileSystemKind);

}  // namespace corvan
