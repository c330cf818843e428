#pragma once
// What the rest of the program needs of any recovery engine the application
// object owns: the count of found items (for the results-present flag), the
// release of the engine's work lists before it is deleted, and the data of a
// found file for preview and saving.

#include <cstdint>
#include <limits>

#include "core/RunWalker.h"

namespace corvan {

struct FoundItemInfo;
class FoundItemPoster;

class ScanEngine {
 public:
  virtual ~ScanEngine() = default;
  virtual std::uint32_t FoundItemCount() const = 0;
  // Bytes of the found files the engine has posted (a saved scan keeps it).
  virtual std::uint64_t FoundBytes() const { return 0; }
  // The hand-over the engine posts its items through (a resumed scan posts
  // the saved items through it, so the engine counts them as its own).
  virtual FoundItemPoster* Poster() { return nullptr; }
  virtual void FreeLists() = 0;
  // Bytes of one cluster of the volume; 0 before the engine knows it.
  virtual std::uint32_t ClusterBytes() const { return 0; }
  // Hands the bytes [begin, end) of a found file to `sink` through the shared
  // run walker. An engine that keeps no file data reads nothing and says so.
  virtual WalkResult ReadItemData(const FoundItemInfo& item, const BlockSink& sink, std::uint64_t begin = 0,
                                  std::uint64_t end = std::numeric_limits<std::uint64_t>::max()) {
    WalkResult none;
    none.failedReads = 1;
    return none;
  }
};

}  // namespace corvan
