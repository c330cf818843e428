#pragma once
// The engine backend of the program: builds the real recovery engines into
// the application object and runs their passes for the scan worker.

#include <memory>

#include "scan/ScanWorker.h"

namespace corvan {

std::unique_ptr<EngineBackend> MakeProgramEngines();

}  // namespace corvan
