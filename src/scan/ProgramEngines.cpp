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
    if (const EngineRow* row = FindEngineRow(kind)) row->prepare(engine, volume);
  }

  // The sector-wise signature search is not built yet; its pass reports so.
  void SetVolumeRange(ScanEngine&, const Volume&, std::uint64_t, std::uint64_t) override {}

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
