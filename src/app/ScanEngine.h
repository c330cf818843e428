#pragma once
// What the application object needs of any recovery engine it owns: the
// count of found items (for the results-present flag) and the release of the
// engine's work lists before it is deleted.

#include <cstdint>

namespace corvan {

class ScanEngine {
 public:
  virtual ~ScanEngine() = default;
  virtual std::uint32_t FoundItemCount() const = 0;
  virtual void FreeLists() = 0;
};

}  // namespace corvan
