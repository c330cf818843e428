#include "console/CThreadForMask.h"

namespace corvan {

bool CThreadForMask::Start() {
  // The flags go up here, before the thread exists, so that a second
  // request in the meantime is refused too, and a Stop asked from now on
  // is kept: the thread itself never clears the stop flag.
  std::uint32_t idle = 0;
  if (!m_job.maskRunning.compare_exchange_strong(idle, 1)) return false;
  RaiseFlags();
  m_thread.Start([this] { Work(); });
  return true;
}

void CThreadForMask::Run() {
  m_job.maskRunning = 1;
  RaiseFlags();
  Work();
}

void CThreadForMask::RaiseFlags() {
  m_job.busy = 1;
  m_job.abort = 0;
}

void CThreadForMask::Work() {
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
