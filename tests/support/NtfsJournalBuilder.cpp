#include "support/NtfsJournalBuilder.h"

#include <algorithm>
#include <cstring>

namespace corvan::test::ntfsimg {

namespace {
void Put(Bytes& b, std::size_t at, std::uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
std::size_t Align8(std::size_t v) { return (v + 7) & ~std::size_t{7}; }
}  // namespace

Bytes LogRecord(std::uint64_t lsn, const LogChange& c) {
  // Client data: 0x20-byte header, one LCN, then the redo and undo images.
  const std::size_t redoAt = 0x28;
  const std::size_t undoAt = Align8(redoAt + c.redo.size());
  Bytes client(Align8(undoAt + c.undo.size()), 0);
  Put(client, 0x00, c.redoOp, 2);
  Put(client, 0x02, c.undoOp, 2);
  Put(client, 0x04, redoAt, 2);
  Put(client, 0x06, c.redo.size(), 2);
  Put(client, 0x08, undoAt, 2);
  Put(client, 0x0A, c.undo.size(), 2);
  Put(client, 0x0E, 1, 2);  // LCNs to follow
  Put(client, 0x10, c.recordOffset, 2);
  Put(client, 0x12, c.attributeOffset, 2);
  Put(client, 0x14, c.blockOffset, 2);
  Put(client, 0x18, c.targetVcn, 8);
  Put(client, 0x20, c.lcn, 8);
  std::copy(c.redo.begin(), c.redo.end(), client.begin() + static_cast<std::ptrdiff_t>(redoAt));
  std::copy(c.undo.begin(), c.undo.end(), client.begin() + static_cast<std::ptrdiff_t>(undoAt));

  Bytes r(0x30 + client.size(), 0);
  Put(r, 0x00, lsn, 8);
  Put(r, 0x08, lsn > 0 ? lsn - 1 : 0, 8);  // previous LSN of the client
  Put(r, 0x18, client.size(), 4);
  Put(r, 0x20, 1, 4);  // a client record
  std::copy(client.begin(), client.end(), r.begin() + 0x30);
  return r;
}

Bytes RestartPage() {
  Bytes p(4096, 0);
  std::memcpy(p.data(), "RSTR", 4);
  Put(p, 0x04, 0x1E, 2);
  Put(p, 0x06, 9, 2);
  Put(p, 0x10, 4096, 4);  // system page size
  Put(p, 0x14, 4096, 4);  // log page size
  Put(p, 0x18, 0x30, 2);  // restart area offset
  Put(p, 0x1A, 1, 2);     // version 1.1
  Put(p, 0x1C, 1, 2);
  Protect(p, 0x1E, 0x0001);
  return p;
}

Bytes RecordPage(std::uint64_t lastLsn, const Bytes& data) {
  Bytes p(4096, 0);
  std::memcpy(p.data(), "RCRD", 4);
  Put(p, 0x04, 0x28, 2);
  Put(p, 0x06, 9, 2);
  Put(p, 0x08, lastLsn, 8);
  Put(p, 0x14, 1, 2);
  Put(p, 0x18, std::min<std::size_t>(0x40 + data.size(), 4096), 2);
  Put(p, 0x20, lastLsn, 8);
  std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(data.size(), 4096 - 0x40)),
            p.begin() + 0x40);
  Protect(p, 0x28, 0x0002);
  return p;
}

Bytes Journal(const std::vector<Bytes>& pages, std::size_t pageCount) {
  Bytes j;
  for (const Bytes& p : {RestartPage(), RestartPage()}) j.insert(j.end(), p.begin(), p.end());
  j.insert(j.end(), 2 * 4096, 0xFF);  // buffer pages not written yet
  for (const Bytes& p : pages) j.insert(j.end(), p.begin(), p.end());
  if (j.size() < pageCount * 4096) j.resize(pageCount * 4096, 0xFF);
  return j;
}

}  // namespace corvan::test::ntfsimg
