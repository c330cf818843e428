#pragma once
// Saving the result of a scan to a scan-information file and resuming from
// one: the save takes the active engine's state, the source list, the
// selected source and the found items; the load rebuilds an engine of the
// kind that made the scan on the image mounted again, restores the source
// list and the selection, and hands every saved folder and file to the
// results window as a scan would.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/EngineHost.h"
#include "core/ScanEngine.h"
#include "scan/ScanDispatch.h"
#include "scan/ScanInfoFile.h"
#include "sources/SectorSource.h"
#include "sources/SourceRecords.h"

namespace corvan {

// A deep copy of a source record with its payload.
SourceRecord CopySourceRecord(const SourceRecord& r);

struct ScanSaveRequest {
  EngineKind engineKind = EngineKind::None;
  const ScanEngine* engine = nullptr;  // the engine that made the scan
  const std::vector<std::unique_ptr<SourceRecord>>* sources = nullptr;
  const SourceRecord* selected = nullptr;
  ScanInfoItemSource items;            // the found items, the root first
  std::filesystem::path image;         // the mounted image, as it was opened
  std::uint8_t imageType = 0;          // 1 VMDK, 2 VDI, 3 VHD
  bool driveScanSaved = false;         // a drive scan was saved earlier in this run
  ScanInfoWriteOptions options;
};

// Refused (PathNotStorable, no file written) when the image's path does not
// fit the record or is not UTF-8: a scan that names no image can never be
// resumed.
ScanInfoWriteResult SaveVolumeScan(const std::filesystem::path& path, const ScanSaveRequest& request);

struct ScanLoadResult {
  bool ok = false;
  std::string message;  // what the user is told when the load fails
  EngineKind engineKind = EngineKind::None;
  std::unique_ptr<ScanEngine> engine;
  std::shared_ptr<SectorSource> disk;
  std::vector<std::unique_ptr<SourceRecord>> sources;
  std::unique_ptr<SourceRecord> selected;
  std::uint64_t itemsPosted = 0;
};

// What a resume needs of the program: the image mounted again from the
// saved path and type (null when it cannot be), and where items go.
struct ScanLoadRequest {
  EngineHost& host;
  std::function<std::shared_ptr<SectorSource>(const std::filesystem::path& image, std::uint8_t imageType)> mount;
  // Runs once the engine is restored and the saved sources are read, before
  // any item is posted: what the root is named after must be in place by
  // then. It may take the result's sources and selection.
  std::function<void(ScanLoadResult&)> sourcesRead;
};

// Reads the file whole, mounts its image, restores the engine and posts the
// items to the host's results window (the root opens the tree; items of
// attribute 0 are counted, not shown). Stop ends the posting after the
// current item.
ScanLoadResult LoadVolumeScan(const std::filesystem::path& path, const ScanLoadRequest& request);

}  // namespace corvan
