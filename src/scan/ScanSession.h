#pragma once
// The engine a scan built and its kind. The program keeps one session for
// its windows (preview, saving, the saved-scan file, the settings' linking
// mode); the scan, resume and lost-volume jobs it starts share it, so what a
// job builds is what the windows read afterwards, and no job reaches into
// the application object for it.

#include <cstdint>
#include <memory>
#include <optional>

#include "core/ScanEngine.h"
#include "scan/ScanDispatch.h"

namespace corvan {

class ScanSession {
 public:
  EngineKind Kind() const { return kind_; }
  ScanEngine* Engine() const { return engine_.get(); }

  // Takes `engine`, which the registry row of `kind` built, in place of the
  // one held. An engine no row built is held as EngineKind::None: nothing
  // of a row is ever asked of it.
  void Hold(EngineKind kind, std::unique_ptr<ScanEngine> engine);
  // Frees the engine's work lists, then the engine.
  void Release();

  // Which FAT copy (or none) the engine links files through, for an engine
  // that offers the choice; nothing for any other or none.
  std::optional<std::uint8_t> LinkingMode() const;
  // Links files through `mode` from now on; false, and nothing changed,
  // for the mode in use or an engine without the choice.
  bool SetLinkingMode(std::uint8_t mode);

 private:
  EngineKind kind_ = EngineKind::None;
  std::unique_ptr<ScanEngine> engine_;
};

}  // namespace corvan
