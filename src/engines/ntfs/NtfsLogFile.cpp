#include "engines/ntfs/NtfsLogFile.h"

#include <algorithm>
#include <map>

#include "engines/ntfs/NtfsRecord.h"
#include "platform/ByteCodec.h"

namespace corvan::ntfs {

namespace {

// Bounds a record's client data may not pass.
constexpr std::uint32_t kMaxClientData = 0x64000;
constexpr std::uint32_t kPageData = kLogPageSize - kLogPageHeader;
constexpr std::uint32_t kRecordTypeClient = 1;

std::uint32_t Align8(std::uint32_t v) { return (v + 7u) & ~7u; }

}  // namespace

LogFileReader::LogFileReader(std::span<const std::uint8_t> journal, std::uint32_t clusterBytes)
    : clusterBytes_(clusterBytes) {
  pageCount_ = static_cast<std::uint32_t>(std::min<std::size_t>(journal.size() / kLogPageSize, 0xFFFFFFFFu));
  pages_.assign(journal.begin(), journal.begin() + std::size_t{pageCount_} * kLogPageSize);
  recordPage_.assign(pageCount_, 0);
  for (std::uint32_t p = 0; p < pageCount_; ++p) {
    std::span<std::uint8_t> page(pages_.data() + std::size_t{p} * kLogPageSize, kLogPageSize);
    recordPage_[p] = ApplyFixup(page, "RCRD") == FixupStatus::Ok ? 1 : 0;
  }
  // Two restart pages, then (journal version 1.1) two buffer pages that hold
  // copies of the newest tail page; the circular area follows.
  circularStart_ = pageCount_ > 4 ? 4 : std::min<std::uint32_t>(2, pageCount_);
}

void LogFileReader::Init(std::vector<LogTarget> targets) { targets_ = std::move(targets); }

bool LogFileReader::IsRecordPage(std::uint32_t page) const { return page < pageCount_ && recordPage_[page]; }

bool LogFileReader::FindStartPage() {
  bool any = false;
  std::uint64_t highest = 0;
  for (std::uint32_t p = circularStart_; p < pageCount_; ++p) {
    if (!IsRecordPage(p)) continue;
    const std::uint64_t last = GetLE64(Page(p) + 0x08);
    if (!any) startPage_ = p;
    if (any && last < highest) {  // the journal wrapped here: this is its oldest page
      startPage_ = p;
      return true;
    }
    any = true;
    highest = std::max(highest, last);
  }
  if (!any) {
    for (std::uint32_t p = 0; p < circularStart_; ++p) {
      if (IsRecordPage(p)) {
        startPage_ = p;
        return true;
      }
    }
  }
  return any;
}

bool LogFileReader::CollectImages() {
  if (pageCount_ == 0 || targets_.empty()) return false;
  // Log order: the circular area from the oldest page round to it, then the
  // buffer pages, whose tail may not have reached the circular area yet.
  std::vector<std::uint32_t> order;
  if (startPage_ >= circularStart_) {
    for (std::uint32_t p = startPage_; p < pageCount_; ++p) order.push_back(p);
    for (std::uint32_t p = circularStart_; p < startPage_; ++p) order.push_back(p);
  }
  for (std::uint32_t p = 0; p < circularStart_; ++p) order.push_back(p);

  std::vector<std::uint8_t> assembled;
  std::size_t resumeIndex = order.size();  // where a record that crossed pages ended
  std::uint32_t resumeOffset = kLogPageHeader;
  for (std::size_t i = 0; i < order.size();) {
    const std::uint32_t page = order[i];
    std::uint32_t off = (i == resumeIndex) ? resumeOffset : kLogPageHeader;
    std::size_t next = i + 1;
    if (!IsRecordPage(page)) {
      i = next;
      continue;
    }
    const std::uint8_t* data = Page(page);
    std::uint64_t previousLsn = 0;
    while (off + kLogRecordHeader <= kLogPageSize) {
      const std::uint8_t* rec = data + off;
      const std::uint64_t lsn = GetLE64(rec);
      const std::uint32_t clientLength = GetLE32(rec + 0x18);
      // Zero, older or oversized records are what is left of earlier passes.
      if (lsn == 0 || lsn < previousLsn || clientLength > kMaxClientData) break;
      previousLsn = lsn;
      const std::uint32_t total = kLogRecordHeader + clientLength;
      if (total <= kLogPageSize - off) {
        ProcessRecord({rec, total});
        off = Align8(off + total);
        continue;
      }
      // The record goes on in the data areas of the following pages.
      assembled.assign(rec, data + kLogPageSize);
      std::uint32_t need = total - (kLogPageSize - off);
      std::size_t j = i + 1;
      std::uint32_t endOffset = 0;
      while (need > 0 && j < order.size() && IsRecordPage(order[j])) {
        const std::uint32_t take = std::min(need, kPageData);
        const std::uint8_t* p = Page(order[j]) + kLogPageHeader;
        assembled.insert(assembled.end(), p, p + take);
        need -= take;
        endOffset = kLogPageHeader + take;
        if (need > 0) ++j;
      }
      if (need == 0) {
        ProcessRecord(assembled);
        resumeIndex = j;
        resumeOffset = Align8(endOffset);
        next = j;
      }
      break;
    }
    i = next;
  }
  return true;
}

void LogFileReader::ProcessRecord(std::span<const std::uint8_t> record) {
  if (record.size() < kLogRecordHeader + 0x28) return;
  if (GetLE32(record.data() + 0x20) != kRecordTypeClient) return;
  const std::uint64_t lsn = GetLE64(record.data());
  const std::uint8_t* cd = record.data() + kLogRecordHeader;
  const std::uint32_t clientLength = static_cast<std::uint32_t>(record.size() - kLogRecordHeader);
  const std::uint16_t redoOp = GetLE16(cd);
  const std::uint16_t undoOp = GetLE16(cd + 2);
  if (redoOp != undoOp || (redoOp != kLogUpdateMappingPairs && redoOp != kLogSetNewAttributeSizes)) return;
  const std::uint32_t redoOffset = GetLE16(cd + 4), redoLength = GetLE16(cd + 6);
  const std::uint32_t undoOffset = GetLE16(cd + 8), undoLength = GetLE16(cd + 0x0A);
  const std::uint16_t lcnsToFollow = GetLE16(cd + 0x0E);
  const std::uint16_t recordOffset = GetLE16(cd + 0x10);
  const std::uint16_t attributeOffset = GetLE16(cd + 0x12);
  const std::uint16_t blockOffset = GetLE16(cd + 0x14);
  const std::uint64_t targetVcn = GetLE64(cd + 0x18);
  const std::uint64_t firstLcn = GetLE64(cd + 0x20);
  if (lcnsToFollow == 0) return;
  if (redoOffset + redoLength > clientLength || undoOffset + undoLength > clientLength) return;
  const std::span<const std::uint8_t> redo(cd + redoOffset, redoLength);
  const std::span<const std::uint8_t> undo(cd + undoOffset, undoLength);

  for (std::size_t t = 0; t < targets_.size(); ++t) {
    const LogTarget& target = targets_[t];
    if (recordOffset != target.dataAttributeOffset || targetVcn != target.recordVcn ||
        firstLcn != target.recordLcn || blockOffset != target.blockInCluster)
      continue;
    if (redoOp == kLogUpdateMappingPairs) {
      // Pairs rewritten from `attributeOffset` on; the change may start past
      // the first pair when runs were added or cut at the end.
      if (attributeOffset < target.pairsOffset || attributeOffset - target.pairsOffset >= 0x10000) continue;
      const std::uint32_t position = attributeOffset - target.pairsOffset;
      // An undo image that starts with a zero byte: nothing stood there
      // before, so the runs are in the redo image.
      const bool useUndo = !undo.empty() && undo[0] != 0;
      const auto& image = useUndo ? undo : redo;
      if (image.empty()) continue;
      pairImages_.push_back({lsn, t, useUndo, position, {image.begin(), image.end()}});
    } else {
      for (const auto& image : {undo, redo}) {
        if (image.size() < 24) continue;
        sizeImages_.push_back({lsn, t, GetLE64(image.data()), GetLE64(image.data() + 8)});
      }
    }
  }
}

std::vector<LogRebuild> LogFileReader::RebuildRuns() const {
  std::vector<LogRebuild> results;
  for (std::size_t t = 0; t < targets_.size(); ++t) {
    // Images before a change win over images after one: they hold the runs
    // the file had before its record was cleared.
    bool haveUndo = false;
    for (const PairImage& im : pairImages_)
      if (im.target == t && im.fromUndo) haveUndo = true;
    std::map<std::uint64_t, const PairImage*> byLsn;  // newest last; one image per record
    for (const PairImage& im : pairImages_)
      if (im.target == t && im.fromUndo == haveUndo) byLsn.emplace(im.lsn, &im);
    if (byLsn.empty()) continue;
    std::vector<std::uint8_t> pairs;
    for (const auto& [lsn, im] : byLsn) {
      if (pairs.size() < im->position + im->bytes.size()) pairs.resize(im->position + im->bytes.size(), 0);
      std::copy(im->bytes.begin(), im->bytes.end(), pairs.begin() + im->position);
    }
    pairs.push_back(0);  // an image need not carry the list's closing zero
    LogRebuild r;
    r.recordNumber = targets_[t].recordNumber;
    r.compressed = targets_[t].compressed;
    if (!DecodeMappingPairs(pairs, 0, r.runs) || r.runs.empty()) continue;
    for (const DataExtent& e : r.runs) r.totalClusters += e.length;
    r.allocatedSize = r.totalClusters * clusterBytes_;
    std::uint64_t newest = 0;
    for (const SizeImage& s : sizeImages_) {
      if (s.target != t || s.real == 0 || s.real > r.allocatedSize || s.lsn < newest) continue;
      newest = s.lsn;
      r.realSize = s.real;
    }
    r.valid = true;
    results.push_back(std::move(r));
  }
  return results;
}

}  // namespace corvan::ntfs
