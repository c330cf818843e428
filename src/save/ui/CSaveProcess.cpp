#include "save/ui/CSaveProcess.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "app/CORVANApp.h"
#include "app/StringTable.h"
#include "console/FoundItemStore.h"
#include "console/SaveSpaceCheck.h"
#include "console/ui/ConsoleArt.h"
#include "save/CheckedItemsWalk.h"
#include "save/ui/QtSaveDecisions.h"
#include "ui/CDragTitle.h"
#include "ui/CXBitmapButton.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"
#include "ui/SkinnedDialog.h"

namespace corvan {

namespace {

constexpr unsigned kIdsProductTitle = 102, kIdsMinimize = 213, kIdsHelp = 104, kIdsSavingFile = 349,
                   kIdsAbortQuestion = 284;
constexpr int kIdPreviewFrame = 1069;
constexpr int kBarScale = 10000;
constexpr int kDefaultWidth = 640;
constexpr int kDefaultWorkTop = 92;
constexpr std::uint32_t kBandEdgeColour = 0x646F71;

std::function<void(CSaveProcess&)>& BeforeEndHook() {
  static std::function<void(CSaveProcess&)> hook;
  return hook;
}

int Scaled(std::int64_t low, std::int64_t high, std::int64_t pos) {
  if (high <= low || pos <= low) return 0;
  if (pos >= high) return kBarScale;
  return static_cast<int>(static_cast<long double>(pos - low) / static_cast<long double>(high - low) * kBarScale);
}

}  // namespace

void CSaveProcess::SetBeforeEndHook(std::function<void(CSaveProcess&)> hook) { BeforeEndHook() = std::move(hook); }

CSaveProcess::CSaveProcess(QWidget* owner, FoundItemStore& store, int view)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint),
      m_pOwner(owner),
      m_store(store),
      m_nView(view),
      m_decisions(std::make_unique<QtSaveDecisions>(this)) {
  InitSharedLook();
  PlainDialogCtlColor(this);
  setStyleSheet(DialogButtonStyleSheet());
  setFont(ArialFont(14));
  setWindowTitle(ToQString(LoadString(kIdsSavingFile) + " - " + LoadString(kIdsProductTitle)));
  setModal(true);

  m_pTitle = new CDragTitle(this, ProductCaption());
  m_pFrame = new QLabel(this);
  SetDlgCtrlId(m_pFrame, kIdFrame);
  m_pFrame->setStyleSheet(QStringLiteral("QLabel { border: 1px solid #9fb893; }"));
  m_pHeading = new QLabel(QStringLiteral("Saving Data"), this);
  SetDlgCtrlId(m_pHeading, kIdGroup);
  m_pHeading->setFont(SharedFontAt(kFontArial16Bold));
  m_pHeading->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  m_pMainBar = new QProgressBar(this);
  SetDlgCtrlId(m_pMainBar, kIdMainBar);
  m_pFileBar = new QProgressBar(this);
  SetDlgCtrlId(m_pFileBar, kIdFileBar);
  for (QProgressBar* bar : {m_pMainBar, m_pFileBar}) {
    bar->setRange(0, kBarScale);
    bar->setValue(0);
    bar->setTextVisible(false);
  }
  const auto text = [this](int id) {
    auto* l = new QLabel(this);
    SetDlgCtrlId(l, id);
    l->setFont(ArialFont(14));
    return l;
  };
  m_pCount = text(kIdCountText);
  m_pFolder = text(kIdFolderText);
  m_pFile = text(kIdFileText);

  const auto bitmapButton = [this](int id, const QString& caption, int w, int h) {
    auto* b = new CXBitmapButton(this);
    SetDlgCtrlId(b, id);
    b->SetStrip(ButtonStrip(ButtonLook::Small, w, h, caption), w, h, 0, 0);
    return b;
  };
  m_pMin = bitmapButton(kIdMin, QStringLiteral("_"), 25, 18);
  m_pMin->SetTooltipText(ToQString(LoadString(kIdsMinimize)));
  m_pStop = bitmapButton(kIdStop, QStringLiteral("Stop"), 32, 32);
  m_pHelp = bitmapButton(kIdHelp, QStringLiteral("?"), 28, 23);
  m_pHelp->SetTooltipText(ToQString(LoadString(kIdsHelp)));
  connect(m_pMin, &QAbstractButton::clicked, this, &CSaveProcess::OnMinimize);
  connect(m_pStop, &QAbstractButton::clicked, this, &CSaveProcess::OnStop);
  connect(m_pHelp, &QAbstractButton::clicked, this, &CSaveProcess::OnHelp);

  // OK and Cancel are drawn disabled; their commands do nothing.
  for (auto [id, caption] : {std::pair{kIdOk, "OK"}, std::pair{kIdCancel, "Cancel"}}) {
    auto* b = new QPushButton(QString::fromLatin1(caption), this);
    SetDlgCtrlId(b, id);
    b->setEnabled(false);
    b->setFont(ArialFont(11));
    b->setFocusPolicy(Qt::NoFocus);
    (id == kIdOk ? m_pOk : m_pCancel) = b;
  }

  m_pTimer = new QTimer(this);
  m_pTimer->setInterval(50);
  connect(m_pTimer, &QTimer::timeout, this, &CSaveProcess::ShowProgress);
  PlaceControls();
}

CSaveProcess::~CSaveProcess() {
  // The worker reports into this object: it must have ended first.
  m_worker.Join();
  CORVANApp& app = App();
  if (app.m_pSaveProgressDlg == this) app.m_pSaveProgressDlg = nullptr;
}

void CSaveProcess::PlaceControls() {
  // Over the owner's preview area: its left edge and width, the owner's top.
  const WorkArea& wa = App().m_rcWorkArea;
  int width = kDefaultWidth;
  int top = kDefaultWorkTop;
  int bottom = top + 250;
  QPoint at(0, 0);
  if (m_pOwner) {
    if (QWidget* frame = GetDlgItem(m_pOwner, kIdPreviewFrame)) {
      width = frame->width() + 1;
      at = m_pOwner->mapToGlobal(QPoint(frame->x(), 0));
    } else {
      at = m_pOwner->mapToGlobal(QPoint(0, 0));
    }
    if (wa.bottom > wa.top) {
      top = wa.top;
      bottom = wa.bottom;
    }
  }
  const int height = top + 260;
  setFixedSize(width, height);
  move(at);
  m_nLineAnchor = top - 13;
  const int L = 0, R = width, Bc = height;

  m_pTitle->setGeometry(0, 0, width, kCaptionBandRows);
  m_pMin->move(R - 92, 8);
  m_pOk->setGeometry(R - 67, 8, 25, 18);
  m_pCancel->setGeometry(R - 42, 8, 42, 18);
  m_pHelp->move(R - 36, top + 7);
  m_pFrame->setGeometry(L, top, R - L - 1, bottom - top);
  m_pHeading->setGeometry(L + 7, top + 25, (R - 8) - (L + 7), 24);
  m_pCount->setGeometry(L + 21, top + 60, (R - 10) - (L + 21), 20);
  m_pMainBar->setGeometry(L + 21, top + 94, (R - 58) - (L + 21), 20);
  m_pStop->move(R - 47, top + 93);
  m_pFolder->setGeometry(L + 21, top + 140, (R - 10) - (L + 21), 20);
  m_pFileBar->setGeometry(L + 21, top + 168, (R - 58) - (L + 21), 14);
  m_pFile->setGeometry(L + 21, top + 200, (R - 10) - (L + 21), std::max(20, (Bc - 28) - (top + 200)));
}

void CSaveProcess::Start() {
  if (m_bStarted) return;
  m_bStarted = true;
  PlaceControls();
  CORVANApp& app = App();
  app.m_pSaveProgressDlg = this;
  m_pMainBar->setValue(0);
  m_pTimer->start();
  m_worker.Start([this] {
    SaveWorker();
    QMetaObject::invokeMethod(this, &CSaveProcess::OnWorkerEnded, Qt::QueuedConnection);
  });
}

void CSaveProcess::SaveWorker() {
  CORVANApp& app = App();
  if (!app.m_bSaveReady) return;
  const bool whole = app.m_bSaveFullOptions != 0;
  const std::uint8_t which = whole ? app.m_nDeletedMode : 0;
  const ReceivedTotals totals = m_store.Totals();
  const bool ftp = app.m_nDestKind != 0;

  // Free space first: a save that cannot fit is not started.
  const std::uint64_t required = RequiredSaveBytes(m_store, m_nView, whole, which, totals.bytes);
  const auto refusal =
      CheckSaveSpace(required, ftp ? std::nullopt : AvailableBytesAt(app.m_szSaveDest), ftp);
  if (refusal) {
    app.GetPrompt().MessageBox(*refusal, kPicError, kMbOk);
    app.m_bAbort = 1;
    m_bSpaceRefused = true;
    return;
  }

  CheckedItemsWalk walk(m_store, m_nView, whole);
  CThreadForSavingFiles saver(app, walk, *m_decisions);
  saver.TakeSaveOptions();
  if (!whole) {
    saver.m_nFileCount = m_store.CountRecoverableFiles(m_nView);
  } else {
    const std::uint32_t deleted = m_store.CountDeletedFiles(m_nView);
    saver.m_nFileCount = which == 1 ? totals.files : which == 2 ? deleted : totals.files - std::min(deleted, totals.files);
  }
  saver.Run();
  m_result = saver.Result();
}

// ---------------------------------------------------------------- progress

void CSaveProcess::SetRange(std::int64_t low, std::int64_t high) {
  m_nLow = low;
  m_nHigh = high;
}
void CSaveProcess::SetStep(std::int64_t step) { m_nStep = step; }
void CSaveProcess::SetPos(std::int64_t pos) { m_nPos = pos; }
void CSaveProcess::StepIt() {
  const std::int64_t next = m_nPos.fetch_add(m_nStep) + m_nStep;
  if (next > m_nHigh) m_nPos = m_nLow.load();
}
void CSaveProcess::SetSecondRange(std::int64_t low, std::int64_t high) {
  m_nSecondLow = low;
  m_nSecondHigh = high;
}
void CSaveProcess::SetSecondPos(std::int64_t pos) { m_nSecondPos = pos; }
void CSaveProcess::SetCounterText(const std::string& text) {
  std::lock_guard lock(m_textMutex);
  m_strCount = text;
}
void CSaveProcess::SetStatusText(const std::string& text) {
  std::lock_guard lock(m_textMutex);
  m_strFolder = text;
}
void CSaveProcess::SetSectorText(const std::string& text) {
  std::lock_guard lock(m_textMutex);
  m_strFile = text;
}

void CSaveProcess::ShowProgress() {
  m_pMainBar->setValue(Scaled(m_nLow, m_nHigh, m_nPos));
  m_pFileBar->setValue(Scaled(m_nSecondLow, m_nSecondHigh, m_nSecondPos));
  QString count, folder, file;
  {
    std::lock_guard lock(m_textMutex);
    count = ToQString(m_strCount);
    folder = ToQString(m_strFolder);
    file = ToQString(m_strFile);
  }
  if (m_pCount->text() != count) m_pCount->setText(count);
  if (m_pFolder->text() != folder) m_pFolder->setText(folder);
  if (m_pFile->text() != file) m_pFile->setText(file);
  const bool stop = !m_bEnded;
  if (m_pStop->isEnabled() != stop) {
    m_pStop->setEnabled(stop);
    m_pStop->SetState(stop ? 0 : 3);
  }
}

// ---------------------------------------------------------------- commands

bool CSaveProcess::AskStop() {
  CORVANApp& app = App();
  if (app.GetPrompt().MessageBoxId(kIdsAbortQuestion, kPicQuestion, kMbYesNo) != kIdYes) return false;
  app.m_bAbort = 1;
  app.m_bBusy = 0;
  return true;
}

void CSaveProcess::OnStop() {
  if (m_bEnded || m_bAsking) return;
  m_bAsking = true;
  AskStop();
  m_bAsking = false;
  if (m_bEndPending) Finish();
}

void CSaveProcess::reject() {
  if (m_bEnded || m_bAsking) return;
  if (m_worker.IsRunning() || App().m_bBusy) {
    // The job stops when it sees the flag and then closes the dialog.
    m_bAsking = true;
    AskStop();
    m_bAsking = false;
    if (m_bEndPending) Finish();
    return;
  }
  if (m_bStarted) return;  // the worker's end closes it
  m_bEnded = true;
  if (m_pOwner) m_pOwner->showNormal();
  done(kIdCancel);
}

void CSaveProcess::OnMinimize() {
  showMinimized();
  if (m_pOwner) m_pOwner->hide();
}

void CSaveProcess::OnHelp() { ShowHelpContext(kHelpContext); }

void CSaveProcess::changeEvent(QEvent* e) {
  QDialog::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange && !(windowState() & Qt::WindowMinimized) && m_pOwner &&
      !m_pOwner->isVisible())
    m_pOwner->showNormal();
}

void CSaveProcess::keyPressEvent(QKeyEvent* e) {
  // Escape does nothing here.
  if (e->key() == Qt::Key_Escape || e->key() == Qt::Key_Space) return e->accept();
  QDialog::keyPressEvent(e);
}

void CSaveProcess::closeEvent(QCloseEvent* e) {
  if (m_bEnded) return QDialog::closeEvent(e);
  e->ignore();
  reject();
}

void CSaveProcess::OnWorkerEnded() {
  m_worker.Join();
  ShowProgress();
  if (m_bAsking) {
    m_bEndPending = true;
    return;
  }
  Finish();
}

void CSaveProcess::Finish() {
  if (m_bEnded) return;
  m_bEnded = true;
  m_bEndPending = false;
  m_pTimer->stop();
  ShowProgress();
  emit WorkerEnded();
  if (BeforeEndHook()) BeforeEndHook()(*this);
  CORVANApp& app = App();
  if (app.m_pSaveProgressDlg == this) app.m_pSaveProgressDlg = nullptr;
  if (m_pOwner && !m_pOwner->isVisible()) m_pOwner->showNormal();
  done(1);
}

// ---------------------------------------------------------------- painting

void CSaveProcess::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect client = rect();
  FillDialogBackground(p, client);
  for (int k = 0; k < kCaptionBandRows; ++k) p.fillRect(QRect(0, k, client.width(), 1), CaptionBandColour(k));
  p.fillRect(QRect(0, 0, client.width(), 1), FromColorRef(kBandEdgeColour));
  p.fillRect(QRect(0, 35, client.width(), 1), FromColorRef(kBandEdgeColour));
  p.fillRect(QRect(0, 36, client.width(), 1), FromColorRef(kBandRuleLight));
  if (m_nLineAnchor > 36 && m_nLineAnchor < client.height())
    p.fillRect(QRect(0, m_nLineAnchor, client.width(), 1), FromColorRef(kLineColour));
}

}  // namespace corvan
