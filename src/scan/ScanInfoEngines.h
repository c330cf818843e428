#pragma once
// What a saved scan keeps of each engine: the volume fields of the header
// and the engine tables (FAT and cluster map; the NTFS record and run
// tables), written from what the engine that made the scan hands over (its
// typed saved state), and read back into that state for a fresh engine, so
// that found files can be previewed and saved again without a new scan. The
// engine registry joins each engine to its pair (CaptureEngineScan,
// RestoreEngineScan).

#include <memory>
#include <optional>
#include <string>

#include "core/ScanEngine.h"
#include "scan/ScanInfoFile.h"
#include "sources/SectorSource.h"
#include "sources/Volume.h"

namespace corvan {

struct FatSavedScan;
struct NtfsSavedScan;
struct ExFatSavedScan;

// Fill the engine's fields of `header` (its layout, volume place, counters
// of found items and bytes of `engine`) and the tables the header announces
// from the state the engine saved. The caller sets the fields that are not
// the engine's (form, drive count, image path and type, source fields).
void CaptureScanInfo(const ScanEngine& engine, const FatSavedScan& saved, ScanImageFileHeader& header,
                     ScanEngineTables& tables);
void CaptureScanInfo(const ScanEngine& engine, const NtfsSavedScan& saved, ScanImageFileHeader& header,
                     ScanEngineTables& tables);
void CaptureScanInfo(const ScanEngine& engine, const ExFatSavedScan& saved, ScanImageFileHeader& header,
                     ScanEngineTables& tables);

// What every engine's capture starts from: the engine columns of `header`
// zeroed (a file holds one engine's fields only), the volume's place, the
// found items' count and bytes, and the marks of a volume scan. The caller's
// fields (form, banners, drive count, image, source fields) are kept.
void SetCommonScanFields(ScanImageFileHeader& header, const ScanEngine& engine, std::uint64_t firstSector,
                         std::uint64_t endSector, std::uint64_t sectorCount);

// The host drive a saved header names by its identity, for the headers that
// name one (the files this program writes never do): `named` false when the
// volume's place comes from the header alone; else the drive found, or
// nothing when it is not attached.
struct SavedDriveLookup {
  bool named = false;
  std::optional<std::uint8_t> drive;
};
SavedDriveLookup LookUpSavedDrive(const ScanImageFileHeader& header);

// The outcome of a restore; `message` is the text shown to the user when
// the engine cannot be used.
struct ScanRestoreResult {
  bool ok = false;
  std::string message;
};

// Refused (message 285) when the header names a host drive that is not
// attached; the files this program writes store 7 at byte 953 and never do.
ScanRestoreResult CheckSavedDrive(const ScanImageFileHeader& header);

// The state a fresh engine is restored from, read from a saved scan read
// whole: the volume the header places on `volume`'s disk (the image mounted
// again), the layout, and the tables; refused, with nothing read from the
// disk, when the file is not one of this engine or is damaged, or (NTFS and
// exFAT, which place the volume on the drive found) names a host drive that
// is not attached. A FAT engine takes the state first and is checked with
// CheckSavedDrive after, so a refused one keeps the saved layout.
ScanRestoreResult SavedScanOf(const VolumeScanInfo& scan, FatSavedScan& saved);
ScanRestoreResult SavedScanOf(const VolumeScanInfo& scan, const Volume& volume, NtfsSavedScan& saved);
ScanRestoreResult SavedScanOf(const VolumeScanInfo& scan, ExFatSavedScan& saved);

}  // namespace corvan
