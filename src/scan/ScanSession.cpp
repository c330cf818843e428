#include "scan/ScanSession.h"

#include "scan/EngineRegistry.h"

namespace corvan {

void ScanSession::Hold(EngineKind kind, std::unique_ptr<ScanEngine> engine) {
  engine_ = std::move(engine);
  kind_ = engine_ ? kind : EngineKind::None;
}

void ScanSession::Release() {
  if (engine_) engine_->FreeLists();
  engine_.reset();
  kind_ = EngineKind::None;
}

std::optional<std::uint8_t> ScanSession::LinkingMode() const {
  const EngineRow* row = engine_ ? RowOf(kind_, *engine_) : nullptr;
  if (!row || !row->linkingMode) return std::nullopt;
  return row->linkingMode(*engine_);
}

bool ScanSession::SetLinkingMode(std::uint8_t mode) {
  const EngineRow* row = engine_ ? RowOf(kind_, *engine_) : nullptr;
  return row && row->setLinkingMode && row->setLinkingMode(*engine_, mode);
}

}  // namespace corvan
