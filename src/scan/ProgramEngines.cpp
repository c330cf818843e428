#include "scan/ProgramEngines.h"

#include "app/CORVANApp.h"

namespace corvan {

namespace {
// Engines join this backend as they are built; until then the worker tells
// the user that the engine is not available.
class ProgramEngines final : public EngineBackend {
 public:
  bool Create(CORVANApp&, EngineKind) override { return false; }
  void Prepare(CORVANApp&, EngineKind, const SourceRecord&, bool) override {}
  void SetVolumeRange(CORVANApp&, bool, std::uint64_t, std::uint64_t) override {}
  Outcome RunPass(CORVANApp&, ScanPass) override { return Outcome::NotBuilt; }
};
}  // namespace

std::unique_ptr<EngineBackend> MakeProgramEngines() { return std::make_unique<ProgramEngines>(); }

}  // namespace corvan
