#include "scan/ProgramEngines.h"

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
    if (const EngineRow* row = RowOf(kind, engine)) row->prepare(engine, volume);
  }

  // An engine without a sector-wise search keeps the binding it has.
  void SetVolumeRange(ScanEngine& engine, EngineKind kind, const Volume& volume, std::uint64_t first,
                      std::uint64_t last) override {
    const EngineRow* row = RowOf(kind, engine);
    if (row && row->setVolumeRange) row->setVolumeRange(engine, volume, first, last);
  }

  Outcome RunPass(ScanEngine& engine, EngineKind kind, ScanPass pass) override {
    return RunEnginePass(engine, kind, pass);
  }
};
}  // namespace

std::unique_ptr<EngineBackend> MakeProgramEngines() { return std::make_unique<ProgramEngines>(); }

}  // namespace corvan
