#include "console/CThreadForMask.h"

namespace corvan {

bool CThreadForMask::Start() {
  // The flag goes up here, before the thread exists, so that a second
  // request in the meantime is refused too.
  std::uint32_t idle = 0;
  if (!m_job.maskRunning.compare_exchange_strong(idle, 1)) return false;
  m_thread.Start([this] { Run(); });
  return true;
}

void CThreadForMask::Run() {
  m_job.maskRunning = 1;
  m_job.busy = 1;
  m_job.abort = 0;
  if (m_job.sink) m_job.sink->OnMaskStarted();
  m_results = {};
  if (m_job.sink) m_job.sink->OnMaskProgress({});
  m_results = ApplyFileMask(m_job.store, m_job.criteria, m_job.stamps, m_job.today(), m_job.abort,
                            [this](const MaskResults& r) {
                              if (m_job.sink) m_job.sink->OnMaskProgress(MaskProgressText(r));
                            });
  if (m_job.resetScanState) {
    m_job.resetScanState();
  } else {
    m_job.busy = 0;
    m_job.abort = 0;
    m_job.maskRunning = 0;
  }
  if (m_job.sink) m_job.sink->OnMaskEnded(m_results);
}

}  // namespace corvan
