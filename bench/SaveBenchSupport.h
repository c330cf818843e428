#pragma once
// What the saving benchmarks share: an NTFS volume image scanned into the
// found-item store a save walks, on the application object it runs on.

#include <filesystem>
#include <memory>

#include "app/CORVANApp.h"
#include "console/FoundItemStore.h"
#include "engines/ntfs/NtfsEngine.h"
#include "sources/FileSectorSource.h"

namespace corvan::bench {

// Scans `image` as one NTFS volume (Quick) into `store`; the engine goes to
// `app`. False when the file cannot be opened or holds no usable volume.
inline bool ScanNtfsImage(CORVANApp& app, FoundItemStore& store, ProgressSink& progress,
                          const std::filesystem::path& image) {
  auto source = std::make_shared<FileSectorSource>(image);
  if (!source->IsOpen()) return false;
  auto engine = std::make_unique<NtfsEngine>(app);
  engine->SetSinks(&store, &progress);
  NtfsVolumeBinding b;
  b.sectorCount = source->SectorCount();
  b.endSector = b.sectorCount;
  b.disk = source;
  engine->Prepare(b);
  if (!engine->ScanVolume(false)) return false;
  app.m_pScanSession->Hold(EngineKind::Ntfs, std::move(engine));
  return true;
}

}  // namespace corvan::bench
