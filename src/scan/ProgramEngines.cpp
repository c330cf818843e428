#include "scan/ProgramEngines.h"

#include "engines/fat/FatEngine.h"
#include "scan/EngineRegistry.h"

namespace corvan {

namespace {
// The program's engines, looked up in the engine registry.
class ProgramEngines final : public EngineBackend {
 public:
  std::unique_ptr<ScanEngine> Create(EngineHost& host, EngineKind kind) override {
    const EngineRow* row = FindEngineRow(kind);
    return row ? row->create(host) : nullptr;
  }

  void Prepare(ScanEngine& engine, EngineKind kind, const Volume& volume) override {
    if (const EngineRow* row = FindEngineRow(kind)) row->prepare(engine, volume);
  }

  // Only the FAT engine searches a region sector by sector.
  void SetVolumeRange(ScanEngine& engine, const Volume& volume, std::uint64_t first, std::uint64_t last) override {
    if (FatEngine* fat = dynamic_cast<FatEngine*>(&engine)) fat->SetVolumeRange(volume, first, last);
  }

  Outcome RunPass(ScanEngine& engine, ScanPass pass) override {
    for (const EngineRow& row : EngineRows())
      for (const EnginePassRow& p : row.passes)
        if (p.pass == pass) return p.run(engine);
    return Outcome::NotBuilt;
  }
};
}  // namespace

std::unique_ptr<EngineBackend> MakeProgramEngines() { return std::make_unique<ProgramEngines>(); }

}  // namespace corvan
