#include "core/HeadlessHost.h"

namespace corvan {

void HeadlessHost::AppendLog(const std::string& text, bool isHeading) {
  std::lock_guard lock(m_logMutex);
  m_log += text;
  m_log += '\n';
}

std::string HeadlessHost::LogText() const {
  std::lock_guard lock(m_logMutex);
  return m_log;
}

}  // namespace corvan
