#pragma once
// What the bytes after a signature say of a file beginning there, for the
// types without analyser whose format can be told from their first bytes:
// a signature turns up by chance in data, and the bytes after it tell a
// real file's start from a chance one.

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
