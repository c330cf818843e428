#include "save/ui/CSaveProcess.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

#include "app/CORVANApp.h"
#include "app/Jobs.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "console/FoundItemStore.h"
#include "console/SaveSpaceCheck.h"
#include "console/SavedScanItems.h"
#include "save/CheckedItemsWalk.h"
#include "save/ui/QtSaveDecisions.h"
#include "ui/CXBitmapButton.h"
#include "ui/DialogLayout.h"
#include "ui/QtText.h"

namespace corvan {

namespace {

std::function<void(CSaveProcess&)>& BeforeEndHook() {
  static std::function<void(CSaveProcess&)> hook;
  return hook;
}

}  // namespace

void CSaveProcess::SetBeforeEndHook(std::function<void(CSaveProcess&)> hook) { BeforeEndHook() = std::move(hook); }

namespace {
ProgressDialogBase::Controls SavingControls() {
  const CORVANApp& app = App();
  return {.frameId = CSaveProcess::kIdFrame,
          .headingId = CSaveProcess::kIdGroup,
          .heading = QStringLiteral("Saving Data"),
          .mainBarId = CSaveProcess::kIdMainBar,
          .secondBarId = CSaveProcess::kIdFileBar,
          .textIds = {CSaveProcess::kIdCountText, CSaveProcess::kIdFolderText, CSaveProcess::kIdFileText},
          .min = {CSaveProcess::kIdMin, "_", 25, 18},
          .stop = {CSaveProcess::kIdStop, "Stop", 32, 32},
          .help = {CSaveProcess::kIdHelp, "?", 28, 23},
          // No OK or Cancel: Stop and the caption's buttons are the way out.
          .okId = 0,
          .cancelId = 0,
          .pushButtonFontSize = 11,
          .helpContext = CSaveProcess::kHelpContext,
          .workArea = WorkAreaRect(app.m_rcWorkArea.left, app.m_rcWorkArea.top, app.m_rcWorkArea.right,
                                   app.m_rcWorkArea.bottom)};
}
}  // namespace

CSaveProcess::CSaveProcess(QWidget* owner, FoundItemStore& store, int view)
    : ProgressDialogBase(owner, ToQString(LoadString(kIdsSavingFile) + " - " + LoadString(kIdsProductTitle)),
                         SavingControls()),
      m_store(store),
      m_nView(view),
      m_decisions(std::make_unique<QtSaveDecisions>(this)) {
  PlaceControls();
}

CSaveProcess::CSaveProcess(QWidget* owner, FoundItemStore& store, std::filesystem::path scanInfoFile)
    : CSaveProcess(owner, store, 0) {
  m_scanInfoFile = std::move(scanInfoFile);
  ProgressDialogBase::EnableStop(false);
  m_pSecondBar->hide();
  ShowProgress();
}

CSaveProcess::~CSaveProcess() {
  // The worker reports into this object: it must have ended first.
  m_worker.Join();
  CORVANApp& app = App();
  if (app.m_pSaveProgressDlg == this) app.m_pSaveProgressDlg = nullptr;
}

void CSaveProcess::PlaceControls() {
  const auto [width, top, bottom] = PlaceOverOwner(260);
  const int L = 0, R = width, Bc = height();

  m_pMin->move(R - 92, 8);
  m_pHelp->move(R - 36, top + 7);
  m_pFrame->setGeometry(L, top, R - L - 1, bottom - top);
  m_pHeading->setGeometry(L + 7, top + 25, (R - 8) - (L + 7), 24);
  m_pTexts[0]->setGeometry(L + 21, top + 60, (R - 10) - (L + 21), 20);
  m_pMainBar->setGeometry(L + 21, top + 94, (R - 58) - (L + 21), 20);
  m_pStop->move(R - 47, top + 93);
  m_pTexts[1]->setGeometry(L + 21, top + 140, (R - 10) - (L + 21), 20);
  m_pSecondBar->setGeometry(L + 21, top + 168, (R - 58) - (L + 21), 14);
  m_pTexts[2]->setGeometry(L + 21, top + 200, (R - 10) - (L + 21), std::max(20, (Bc - 28) - (top + 200)));
}

void CSaveProcess::OnStarting() {
  App().m_pSaveProgressDlg = this;
  m_pMainBar->setValue(0);
}

void CSaveProcess::RunWorker() {
  if (SavesScanInformation()) return RunScanInfoSave();
  CORVANApp& app = App();
  if (!app.m_saveChoice.m_bSaveReady) return;
  const bool whole = app.m_saveChoice.m_bSaveFullOptions != 0;
  const std::uint8_t which = whole ? app.m_saveChoice.m_nDeletedMode : 0;
  const ReceivedTotals totals = m_store.Totals();
  const bool ftp = app.m_saveChoice.m_nDestKind != 0;

  // A destination that cannot be written, then one without room: a save
  // that cannot succeed is not started.
  const std::uint64_t required = RequiredSaveBytes(m_store, m_nView, whole, which, totals.bytes);
  std::optional<std::string> refusal = ftp ? std::nullopt : CheckDestinationWritable(app.m_saveChoice.m_szSaveDest);
  if (!refusal) refusal = CheckSaveSpace(required, ftp ? std::nullopt : AvailableBytesAt(app.m_saveChoice.m_szSaveDest), ftp);
  if (refusal) {
    app.GetPrompt().MessageBox(*refusal, kPicError, kMbOk);
    app.m_bAbort = 1;
    m_bSpaceRefused = true;
    return;
  }

  CheckedItemsWalk walk(m_store, m_nView, whole);
  SaveJob job = MakeSaveJob(app);
  TakeSaveOptions(app, job.request);
  if (!whole) {
    job.request.m_nFileCount = m_store.CountRecoverableFiles(m_nView);
  } else {
    const std::uint32_t deleted = m_store.CountDeletedFiles(m_nView);
    job.request.m_nFileCount =
        which == 1 ? totals.files : which == 2 ? deleted : totals.files - std::min(deleted, totals.files);
  }
  CThreadForSavingFiles saver(std::move(job), walk, *m_decisions);
  saver.Run();
  m_result = saver.Result();
  KeepSaveAnswers(app, m_result);
}

void CSaveProcess::RunScanInfoSave() {
  CORVANApp& app = App();
  SetRange(0, static_cast<std::int64_t>(m_store.Count()));
  SetStep(1);
  const ScanInfoItemSource items = SavedScanItemsOf(m_store);
  m_bScanInfoSaved = SaveScanInformation(app, m_scanInfoFile, [this, &items](ScanInfoItem& item) {
    if (!items(item)) return false;
    StepIt();
    return true;
  });
}

// ---------------------------------------------------------------- commands

void CSaveProcess::AskStop() {
  CORVANApp& app = App();
  if (app.GetPrompt().MessageBoxId(kIdsAbortQuestion, kPicQuestion, kMbYesNo) != kIdYes) return;
  app.m_bAbort = 1;
  app.m_bBusy = 0;
}

void CSaveProcess::reject() {
  if (m_bEnded || m_bAsking) return;
  // Saving the scan information has no stop: it ends on its own, quickly.
  if (SavesScanInformation() && m_bStarted) return;
  if (m_worker.IsRunning() || App().m_bBusy) {
    // The job stops when it sees the flag and then closes the dialog.
    RunStopQuestion();
    return;
  }
  if (m_bStarted) return;  // the worker's end closes it
  m_bEnded = true;
  if (m_pOwner) m_pOwner->showNormal();
  done(kIdCancel);
}

void CSaveProcess::OnEnding() {
  if (BeforeEndHook()) BeforeEndHook()(*this);
  CORVANApp& app = App();
  if (app.m_pSaveProgressDlg == this) app.m_pSaveProgressDlg = nullptr;
}

}  // namespace corvan
