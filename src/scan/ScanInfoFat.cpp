// What a saved scan keeps of the FAT12/16/32 engine (FatSavedScan), as the
// header's FAT columns and the engine tables, and back.
//
// The header's FAT columns are copies of the engine's fields; the tables are
// the FAT the engine loaded and its cluster map. Two kinds of engine are
// saved:
//
//   - a volume read by its layout (Quick, Deleted, Advance, and Raw Recovery
//     over a volume's free clusters): its items are placed by cluster, so the
//     layout, the FAT and the volume's place are what reading them needs;
//   - a sector-wise search (Raw Recovery over a whole disk, a region, or a
//     volume whose boot sectors are gone): its items are placed by absolute
//     sector of the disk, and nothing of a layout is read.
//
// The header has no field of its own for the second kind. The engine sets
// its absolute-sector flag only when it turns to a sector-wise search
// (its volume range sets both together), so byte 357 tells the two
// apart: set, the restored engine reads its items by sector. Such a header
// carries no FAT and no cluster map (byte 18 = 2, size 0), and byte 16 holds
// the engine's cluster size, or 1 where the search had none, so that a FAT
// file never has a 0 there (the resume check and the loader's choice of
// engine both read it).

#include <algorithm>
#include <limits>
#include <optional>
#include <string>

#include "core/EngineHost.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/fat/FatSavedScan.h"
#include "scan/ScanInfoEngines.h"
#include "sources/FatBootSector.h"

namespace corvan {

namespace {

std::string LayoutText(const FatLayout& l) {
  return "FAT kind " + std::to_string(l.kind) + ", " + std::to_string(l.sectorsPerCluster) +
         " sectors per cluster, " + std::to_string(l.reservedSectors) + " reserved, FAT of " +
         std::to_string(l.fatSize) + " sectors, root folder of " + std::to_string(l.rootDirSectors) +
         " sectors, a volume of " + std::to_string(l.sectorCount) + " sectors";
}

FatLayout HeaderLayout(const ScanImageFileHeader& h) {
  FatLayout l;
  l.kind = h.fatKind;
  l.sectorsPerCluster = h.sectorsPerCluster;
  l.reservedSectors = h.reservedSectors;
  l.rootDirSectors = h.rootDirSectors;
  l.fatSize = h.fatSize;
  l.rootCluster = h.rootCluster;
  l.sectorCount = h.sectorCount;
  return l;
}

// Why the engine cannot be restored from `scan`; empty when it can. Nothing
// is read from the disk or sized from the header before this passes.
std::string RefusalOf(const VolumeScanInfo& scan, bool sectorItems) {
  const ScanImageFileHeader& h = scan.header;
  if (EngineOfHeader(h) != ScanInfoEngine::Fat)
    return "The saved scan information is not that of a FAT volume (its sectors per cluster are 0).";
  // A sector-wise search reads its items by absolute sector of the disk:
  // no layout, FAT or cluster map is read, and none is restored.
  if (sectorItems) return {};

  const FatLayout layout = HeaderLayout(h);
  const std::string damaged = "The saved scan information is damaged: ";
  const std::string again = ".\nScan the volume again.";
  if (!IsFatLayoutSound(layout))
    return damaged + "its FAT layout (" + LayoutText(layout) + ") cannot be read" + again;
  if (h.fatSource > kFatSourceContiguous)
    return damaged + "it names FAT source " + std::to_string(h.fatSource) + again;
  // Every cluster read adds the volume's first sector to a sector inside it.
  if (h.firstSector > std::numeric_limits<std::uint64_t>::max() - h.sectorCount)
    return damaged + "the volume starts at sector " + std::to_string(h.firstSector) +
           ", beyond what can be addressed" + again;
  // The reader hands tables of exactly the announced lengths; a scan built
  // any other way must agree with its header too.
  if (h.fatSource != kFatSourceContiguous &&
      scan.tables.fat.size() != std::uint64_t{h.fatSize} * kScanInfoSectorSize)
    return damaged + "its FAT table holds " + std::to_string(scan.tables.fat.size()) + " bytes for a FAT of " +
           std::to_string(h.fatSize) + " sectors" + again;
  if (scan.tables.clusterMap.size() != h.clusterMapSize)
    return damaged + "its cluster map holds " + std::to_string(scan.tables.clusterMap.size()) +
           " bytes, the header says " + std::to_string(h.clusterMapSize) + again;
  return {};
}

// The loader tells the user the message (it has texts of its own for a file
// or an image it cannot open), so the restore shows nothing itself.
ScanRestoreResult Refuse(std::string message) { return {false, std::move(message)}; }

}  // namespace

void CaptureScanInfo(const ScanEngine& engine, const FatSavedScan& saved, ScanImageFileHeader& header,
                     ScanEngineTables& tables) {
  tables = {};
  SetCommonScanFields(header, engine, saved.volumeStart, saved.volumeEnd, saved.layout.sectorCount);
  // The partition record's drive byte (0x80 + n, or a diskette drive); the
  // engine has no byte of its own after it.
  header.driveByte = saved.mediaByte;
  header.fatKind = saved.layout.kind;
  header.reservedSectors = saved.layout.reservedSectors;
  header.rootDirSectors = saved.layout.rootDirSectors;
  header.fatSize = saved.layout.fatSize;
  header.rootCluster = saved.layout.rootCluster;
  // Never 0 in a FAT file: a search that had no cluster size stores 1.
  header.sectorsPerCluster = saved.layout.sectorsPerCluster != 0 ? saved.layout.sectorsPerCluster : 1;

  header.sectorFlag = saved.sectorItems ? 1 : 0;
  header.fatSource = saved.fatSource;
  header.clusterMapSize = 0;
  if (saved.sectorItems) {
    // Items by absolute sector: no table is read for them.
    header.fatSource = kFatSourceContiguous;
    return;
  }
  // A layout nothing may be sized from would announce a FAT of any length;
  // its restore is refused whatever the tables hold, so none is stored.
  if (header.fatSource > kFatSourceContiguous || !IsFatLayoutSound(saved.layout))
    header.fatSource = kFatSourceContiguous;
  // An engine without a cluster size reads nothing by cluster. Its byte 16
  // says 1 all the same, so the FAT size goes to 0: a layout the restore
  // refuses, as it must.
  if (saved.layout.sectorsPerCluster == 0) header.fatSize = 0;

  if (header.fatSource != kFatSourceContiguous) {
    // The FAT as the engine loaded it: FAT size x 512 bytes, zeros where the
    // engine holds less.
    const std::size_t bytes = static_cast<std::size_t>(header.fatSize) * kScanInfoSectorSize;
    tables.fat.assign(saved.fat.begin(),
                      saved.fat.begin() + static_cast<std::ptrdiff_t>(std::min(bytes, saved.fat.size())));
    tables.fat.resize(bytes, 0);
  }
  // One byte per cluster; the engine never holds more than 2^28 of them.
  if (saved.clusterMap.size() <= std::numeric_limits<std::uint32_t>::max()) {
    header.clusterMapSize = static_cast<std::uint32_t>(saved.clusterMap.size());
    tables.clusterMap = saved.clusterMap;
  }
}

ScanRestoreResult SavedScanOf(const VolumeScanInfo& scan, FatSavedScan& saved) {
  const ScanImageFileHeader& h = scan.header;
  const bool sectorItems = h.sectorFlag != 0;
  if (std::string why = RefusalOf(scan, sectorItems); !why.empty()) return Refuse(std::move(why));

  saved.volumeStart = h.firstSector;
  saved.volumeEnd = h.endSector;
  saved.mediaByte = h.driveByte;
  saved.layout = HeaderLayout(h);
  saved.sectorItems = sectorItems;
  saved.fatSource = h.fatSource;
  if (!sectorItems) {
    if (h.fatSource != kFatSourceContiguous) saved.fat = scan.tables.fat;
    saved.clusterMap = scan.tables.clusterMap;
  }
  return {true, {}};
}

}  // namespace corvan
