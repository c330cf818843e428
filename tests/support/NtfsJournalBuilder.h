#pragma once
// $LogFile pages and records laid out as the published description of the
// NTFS journal gives them: restart pages, record pages with their update
// sequence, log records with their client data (operation codes, offsets of
// the changed attribute, target VCN and LCN, redo and undo images).

#include <cstdint>
#include <vector>

#include "support/NtfsImageBuilder.h"

namespace corvan::test::ntfsimg {

struct LogChange {
  std::uint16_t redoOp = 0, undoOp = 0;
  Bytes redo, undo;
  std::uint16_t recordOffset = 0;     // the attribute's offset in the MFT record
  std::uint16_t attributeOffset = 0;  // where in the attribute the change starts
  std::uint16_t blockOffset = 0;      // 512-byte block of the record in its cluster
  std::uint64_t targetVcn = 0;        // the $MFT cluster's VCN
  std::uint64_t lcn = 0;              // and its LCN
};

// One client log record (header and client data), padded to 8 bytes.
Bytes LogRecord(std::uint64_t lsn, const LogChange& change);
// A restart page ("RSTR").
Bytes RestartPage();
// A record page ("RCRD") holding `data` from its data area on.
Bytes RecordPage(std::uint64_t lastLsn, const Bytes& data);
// A journal: two restart pages, two buffer pages, then `pages`; padded with
// empty (all 0xFF) pages to `pageCount`.
Bytes Journal(const std::vector<Bytes>& pages, std::size_t pageCount);

}  // namespace corvan::test::ntfsimg
