#pragma once
// Random access to a found file's bytes for the listings (archives, backups,
// tables): the parsers ask for a few bytes at a time at offsets they read
// from the file itself, so every read is checked against the file's size,
// and a parser can ask whether its selection is over.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/FoundItemInfo.h"

namespace corvan {

class PreviewCancel;
class ScanEngine;

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t Size() const = 0;
  // Exactly out.size() bytes at `offset`; false (and `out` zeroed) when any
  // of them lies past the end or could not be read.
  virtual bool Read(std::uint64_t offset, std::span<std::uint8_t> out) = 0;
  // The listing should stop: the user picked something else.
  virtual bool Stopped() const { return false; }
};

// Bytes already in memory (tests, fuzzing).
class MemoryByteSource final : public ByteSource {
 public:
  explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool Read(std::uint64_t offset, std::span<std::uint8_t> out) override;

 private:
  std::span<const std::uint8_t> bytes_;
};

// A found file read through its engine's run walker, a window of 64 KiB
// kept so that the many small header reads cost one walk per window. A
// window with an unreadable cluster is read again cluster by cluster, so
// that only the reads touching a bad cluster fail.
class ItemByteSource final : public ByteSource {
 public:
  static constexpr std::uint64_t kWindowBytes = 64 * 1024;
  // The smallest piece a damaged window is read again in (one sector).
  static constexpr std::uint64_t kPieceMinBytes = 512;
  ItemByteSource(ScanEngine& engine, const FoundItemInfo& item, const PreviewCancel& cancel);
  std::uint64_t Size() const override { return item_.size; }
  bool Read(std::uint64_t offset, std::span<std::uint8_t> out) override;
  bool Stopped() const override;

 private:
  bool Load(std::uint64_t windowStart);
  bool LoadPieces();
  bool PiecesOk(std::size_t from, std::size_t count) const;

  ScanEngine& engine_;
  FoundItemInfo item_;
  const PreviewCancel& cancel_;
  std::uint64_t windowStart_ = 0;
  std::vector<std::uint8_t> window_;
  bool windowOk_ = false;
  bool haveWindow_ = false;
  // Of a damaged window: which pieces of pieceBytes_ could be read; empty
  // when the whole window could.
  std::vector<bool> pieceOk_;
  std::size_t pieceBytes_ = 0;
};

}  // namespace corvan
