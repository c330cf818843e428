#include "scan/ScanInfoJobs.h"

#include <algorithm>
#include <limits>

#include "core/FoundItemPoster.h"
#include "core/Prompt.h"
#include "scan/EngineRegistry.h"
#include "scan/ScanInfoEngines.h"
#include "sources/Volume.h"

namespace corvan {

namespace {

std::string ErrorText(const ScanInfoStatus& status) {
  if (status.error == ScanInfoError::CannotOpen) return "Unable to open scan information file to resume recovery";
  return "This is not a usable scan information file" + (status.detail.empty() ? "" : ": " + status.detail) + ".";
}

// The largest file size a saved item of this volume may keep. A FAT or
// exFAT file cannot hold more than its volume (the live scans list no
// entry that claims more), so a larger size is a damaged or edited file:
// it is cut to the volume, and the engine then hands out only what the
// file's clusters hold. An NTFS file may be sparse past its volume's
// length, and the NTFS engine reads no further than its runs.
std::uint64_t ItemSizeLimit(const ScanImageFileHeader& h) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  if (EngineOfHeader(h) == ScanInfoEngine::Ntfs || h.sectorCount > kMax / kScanInfoSectorSize) return kMax;
  return h.sectorCount * kScanInfoSectorSize;
}

}  // namespace

SourceRecord CopySourceRecord(const SourceRecord& r) {
  SourceRecord c;
  c.index = r.index;
  c.flags = r.flags;
  c.kind = r.kind;
  c.path = r.path;
  if (r.disk) c.disk = std::make_unique<DiskRecord>(*r.disk);
  if (r.partition) c.partition = std::make_unique<PartitionRecord>(*r.partition);
  return c;
}

ScanInfoWriteResult SaveVolumeScan(const std::filesystem::path& path, const ScanSaveRequest& request) {
  ScanInfoWriteResult result;
  if (request.engine == nullptr || request.sources == nullptr || request.selected == nullptr) {
    result.error = ScanInfoError::Inconsistent;
    result.detail = "no scan to save";
    return result;
  }
  VolumeScanInfo info;
  info.header = ScanImageFileHeader::ForVolumeScan();
  const EngineRow* row = RowOf(request.engineKind, *request.engine);
  if (!row) {
    result.error = ScanInfoError::Inconsistent;
    result.detail = "no scan to save";
    return result;
  }
  row->captureScan(*request.engine, info.header, info.tables);
  info.header.form = request.driveScanSaved ? 2 : 1;
  std::error_code ec;
  info.header.imagePath = ScanRecordPathOf(std::filesystem::absolute(request.image, ec), ScanPathForm::Plain);
  if (ec || info.header.imagePath.empty()) {
    result.error = ScanInfoError::PathNotStorable;
    result.detail = request.image.string() + ": the image path does not fit the record";
    return result;
  }
  info.header.imageType = request.imageType;
  for (const auto& r : *request.sources)
    if (r) info.sources.push_back(CopySourceRecord(*r));
  info.header.driveCount = static_cast<std::uint16_t>(info.sources.size());
  info.selected = CopySourceRecord(*request.selected);
  ApplySourceFields(info.header, row->savedAs, info.sources, info.selected);
  return WriteVolumeScanFile(path, info, request.items, request.options);
}

namespace {

ScanLoadResult LoadVolumeScanFile(const std::filesystem::path& path, const ScanLoadRequest& request);

}  // namespace

ScanLoadResult LoadVolumeScan(const std::filesystem::path& path, const ScanLoadRequest& request) {
  ScanLoadResult result = LoadVolumeScanFile(path, request);
  if (!result.ok) {
    // Whatever refused the load, the user is told once, and the log keeps it.
    request.host.AppendLog(result.message, false);
    request.host.GetPrompt().MessageBox(result.message, kPicError, kMbOk);
  }
  return result;
}

namespace {

ScanLoadResult LoadVolumeScanFile(const std::filesystem::path& path, const ScanLoadRequest& request) {
  ScanLoadResult result;
  VolumeScanInfo scan;
  if (const ScanInfoStatus status = ReadVolumeScanFile(path, scan); !status) {
    result.message = ErrorText(status);
    return result;
  }
  const std::filesystem::path image = FilePathOfScanRecord(scan.header.imagePath);
  result.disk = request.mount ? request.mount(image, scan.header.imageType) : nullptr;
  if (!result.disk) {
    result.message = "The disk image of this saved scan cannot be opened: " + image.string() +
                     ". Put the image back where it was when the scan was saved, then resume again.";
    return result;
  }

  result.engineKind = EngineOfSavedScan(EngineOfHeader(scan.header));
  const EngineRow* row = FindEngineRow(result.engineKind);
  if (row == nullptr) {
    result.message = "This saved scan was made by an engine this program does not have.";
    return result;
  }
  result.engine = row->create(request.host);
  const Volume volume = MakeVolume(scan.selected, result.disk, false);
  const ScanRestoreResult restored = RestoreEngineScan(result.engineKind, *result.engine, request.host, scan, volume);
  if (!restored.ok) {
    result.message = restored.message;
    return result;
  }

  for (SourceRecord& r : scan.sources) result.sources.push_back(std::make_unique<SourceRecord>(std::move(r)));
  result.selected = std::make_unique<SourceRecord>(std::move(scan.selected));
  if (request.sourcesRead) request.sourcesRead(result);

  // The saved items reach the results window as a scan would hand them
  // over, through the engine's own hand-over so that it counts them.
  FoundItemPoster fallback(0);
  FoundItemPoster* poster = result.engine->Poster();
  if (poster == nullptr) poster = &fallback;
  poster->Attach(request.host.ResultsSink(), request.host.ScanProgressSink());
  poster->ResetCounters();
  poster->ResetBytes();
  const FoundItemPoster::PostStyle style{FoundItemPoster::Counter::EntriesFound};
  bool rootSent = false;
  const std::uint64_t sizeLimit = ItemSizeLimit(scan.header);
  for (ScanInfoItem& item : scan.items) {
    if (request.host.StopRequested()) break;
    if (!rootSent) {
      // The root record opens the tree; it is not posted itself.
      poster->OpenRoot(static_cast<std::int64_t>(scan.header.postedItems));
      rootSent = true;
      continue;
    }
    if (item.info.attribute == 0) continue;  // counted by the scan, never shown
    item.info.size = std::min(item.info.size, sizeLimit);
    poster->Post(item.info, item.name, style);
    ++result.itemsPosted;
  }
  if (!rootSent) poster->OpenRoot(0);
  request.host.FromScanInfoFlag() = 1;
  result.ok = true;
  return result;
}

}  // namespace

}  // namespace corvan
