#include "scan/ProgramEngines.h"

#include "app/CORVANApp.h"
#include "engines/fat/ExFatEngine.h"
#include "engines/fat/FatEngine.h"
#include "engines/ntfs/NtfsEngine.h"

namespace corvan {

namespace {
EngineBackend::Outcome FromFat(FatScanResult r) {
  return r == FatScanResult::NotAvailable ? EngineBackend::Outcome::NotBuilt : EngineBackend::Outcome::Ran;
}

// Engines join this backend as they are built; until then the worker tells
// the user that the engine is not available.
class ProgramEngines final : public EngineBackend {
 public:
  bool Create(CORVANApp& app, EngineKind kind) override {
    switch (kind) {
      case EngineKind::Fat: app.m_pFatEngine = std::make_unique<FatEngine>(app); return true;
      case EngineKind::Ntfs: app.m_pNtfsEngine = std::make_unique<NtfsEngine>(app); return true;
      case EngineKind::ExFat: app.m_pExFatEngine = std::make_unique<ExFatEngine>(app); return true;
      default: return false;
    }
  }

  void Prepare(CORVANApp& app, EngineKind kind, const SourceRecord& source, bool readThroughPath) override {
    if (kind == EngineKind::Fat) Fat(app).Prepare(source, readThroughPath ? 1 : 0);
    if (kind == EngineKind::Ntfs) Ntfs(app).Prepare(source, readThroughPath);
    if (kind == EngineKind::ExFat) ExFat(app).Prepare(source, readThroughPath ? 1 : 0);
  }

  // The sector-wise signature search is not built yet; its pass reports so.
  void SetVolumeRange(CORVANApp&, bool, std::uint64_t, std::uint64_t) override {}

  Outcome RunPass(CORVANApp& app, ScanPass pass) override {
    switch (pass) {
      case ScanPass::FatQuick: return FromFat(Fat(app).ScanVolume(0));
      case ScanPass::FatDeletedQuick: return FromFat(Fat(app).ScanVolume(1));
      case ScanPass::FatDeletedDeep: return FromFat(Fat(app).DeepScan(1));
      case ScanPass::FatAdvance: return FromFat(Fat(app).DeepScan(0));
      case ScanPass::NtfsQuick: Ntfs(app).ScanVolume(false); return Outcome::Ran;
      case ScanPass::NtfsDeleted: Ntfs(app).ScanVolume(true); return Outcome::Ran;
      case ScanPass::NtfsAdvance: Ntfs(app).DeepScan(); return Outcome::Ran;
      case ScanPass::ExFatQuick: ExFat(app).ScanVolume(0); return Outcome::Ran;
      case ScanPass::ExFatDeletedQuick: ExFat(app).ScanVolume(1); return Outcome::Ran;
      case ScanPass::ExFatLostFolders:
        ExFat(app).m_nPass = 1;
        ExFat(app).m_bMarkFlag = 1;
        ExFat(app).SearchLostFolders();
        return Outcome::Ran;
      case ScanPass::ExFatAdvance: ExFat(app).DeepScan(0); return Outcome::Ran;
      default: return Outcome::NotBuilt;
    }
  }

 private:
  static FatEngine& Fat(CORVANApp& app) { return static_cast<FatEngine&>(*app.m_pFatEngine); }
  static NtfsEngine& Ntfs(CORVANApp& app) { return static_cast<NtfsEngine&>(*app.m_pNtfsEngine); }
  static ExFatEngine& ExFat(CORVANApp& app) { return static_cast<ExFatEngine&>(*app.m_pExFatEngine); }
};
}  // namespace

std::unique_ptr<EngineBackend> MakeProgramEngines() { return std::make_unique<ProgramEngines>(); }

}  // namespace corvan
