#pragma once
// What the bytes after a signature say of a file beginning there, for the
// types whose format their first bytes tell (the table in
// docs/ARCHITECTURE.md, "Where a file begins"): a signature turns up by
// chance in data, and the bytes after it tell a real file's start from a
// chance one. `Agrees` begins a file with no analysis; `Disagrees` begins
// none (inside a run the pass steps over, the hit is the run's own); `Bare`
// leaves it to the type's analyser, or to the signature's length
// (`Carver::SignatureBegins`: 4 bytes, 6 inside a file whose header counts
// its bytes).

#include <cstddef>
#include <cstdint>

#include "core/FileTypeRecord.h"

namespace corvan {

enum class Evidence { Agrees, Disagrees, Bare };

// `d` is the first sector (512 bytes) of the unit where `type`'s signature
// stands. `Bare` when the type's format cannot be told from its first bytes.
Evidence SignatureEvidence(const FileTypeRecord& type, const std::uint8_t* d);

// The length of the MPEG pack header at `d` (14 bytes at hand), its stuffing
// included: 12 for MPEG-1's, 14 or more for MPEG-2's; 0 when no pack start
// code with its marker bits stands there.
std::size_t MpegPackHeaderBytes(const std::uint8_t* d);
// Whether an MPEG program stream begins at `d` (25 bytes at hand): a pack
// header and the start code after it.
bool MpegStreamStart(const std::uint8_t* d);

}  // namespace corvan
