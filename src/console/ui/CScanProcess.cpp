#include "console/ui/CScanProcess.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "app/CORVANApp.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "scan/ScanWorker.h"
#include "ui/CXBitmapButton.h"
#include "ui/DialogLayout.h"
#include "ui/QtText.h"

namespace corvan {

namespace {

std::function<void(CScanProcess&)>& BeforeEndHook() {
  static std::function<void(CScanProcess&)> hook;
  return hook;
}

}  // namespace

void CScanProcess::SetBeforeEndHook(std::function<void(CScanProcess&)> hook) { BeforeEndHook() = std::move(hook); }

CScanProcess::CScanProcess(QWidget* owner, EngineBackend& engines, FoundItemSink* console, ScanJob job)
    : ProgressDialogBase(owner, ToQString(LoadString(kIdsProductTitle) + " - " + LoadString(kIdsScanningData)),
                         Controls{.frameId = kIdFrame,
                                  .headingId = kIdHeading,
                                  .heading = ToQString(LoadString(kIdsScanningData)),
                                  .mainBarId = kIdMainBar,
                                  .secondBarId = kIdSecondBar,
                                  .textIds = {kIdCounterText, kIdStatusText, kIdSectorText},
                                  .min = {kIdMin, "Min", 44, 26},
                                  .stop = {kIdStop, "Stop", 52, 30},
                                  .help = {kIdHelp, "?", 30, 26},
                                  .okId = kIdOk,
                                  .cancelId = kIdCancel,
                                  .pushButtonFontSize = 14,
                                  .helpContext = kHelpContext,
                                  .workArea = WorkAreaRect(App().m_rcWorkArea.left, App().m_rcWorkArea.top,
                                                          App().m_rcWorkArea.right, App().m_rcWorkArea.bottom)}),
      m_engines(engines),
      m_pConsole(console),
      m_job(std::move(job)) {
  m_pFrame->setFrameStyle(QFrame::Box | QFrame::Plain);
  PlaceControls();
}

CScanProcess::~CScanProcess() {
  // The worker reports into this object: it must have ended first.
  m_worker.Join();
  CORVANApp& app = App();
  if (app.m_pScanProgressDlg == this) app.m_pScanProgressDlg = nullptr;
}

void CScanProcess::PlaceControls() {
  const auto [width, top, bottom] = PlaceOverOwner(290);
  m_pMin->move(width - 90, 5);
  m_pHelp->move(width - 40, 5);
  m_pFrame->setGeometry(0, top, width - 1, bottom - top);
  m_pHeading->setGeometry(7, top + 25, width - 15, 24);
  m_pTexts[0]->setGeometry(21, top + 60, width - 31, 20);
  m_pMainBar->setGeometry(21, top + 94, width - 79, 20);
  m_pStop->move(width - 55, top + 89);
  m_pTexts[1]->setGeometry(21, top + 142, width - 31, 20);
  m_pSecondBar->setGeometry(21, top + 168, width - 79, 14);
  m_pTexts[2]->setGeometry(21, top + 200, width - 31, 20);
  m_pOk->setGeometry(width - 170, top + 254, 70, 26);
  m_pCancel->setGeometry(width - 90, top + 254, 70, 26);
}

void CScanProcess::OnStarting() {
  CORVANApp& app = App();
  app.m_pConsole = m_pConsole;
  app.m_pScanProgressDlg = this;
}

void CScanProcess::RunWorker() { ScanWorker(m_job, m_engines).Run(); }

void CScanProcess::AskStop() { RequestStop(App()); }

void CScanProcess::reject() {
  if (m_bEnded || m_bAsking) return;
  m_bAsking = true;
  const CancelAnswer answer = RequestCancel(App(), m_worker.IsRunning());
  m_bAsking = false;
  if (m_bEndPending) return Finish();
  if (answer == CancelAnswer::CloseNow) {
    if (m_pOwner) m_pOwner->showNormal();
    m_bEnded = true;
    done(kIdCancel);
  }
}

void CScanProcess::OnEnding() {
  if (BeforeEndHook()) BeforeEndHook()(*this);
  CORVANApp& app = App();
  if (app.m_pScanProgressDlg == this) app.m_pScanProgressDlg = nullptr;
}

}  // namespace corvan
