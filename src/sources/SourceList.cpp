#include "sources/SourceList.h"

namespace corvan {

SourceRecord& SourceList::AppendSource(std::unique_ptr<SourceRecord> record) {
  m_sources.push_back(std::move(record));
  return *m_sources.back();
}

void SourceList::FreeSourceList() {
  m_sources.clear();
  m_pSelectedSource = nullptr;
}

}  // namespace corvan
