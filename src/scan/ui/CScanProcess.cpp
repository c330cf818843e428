#include "scan/ui/CScanProcess.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "app/CORVANApp.h"
#include "app/StringTable.h"
#include "console/ui/ConsoleArt.h"
#include "scan/ScanWorker.h"
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

constexpr unsigned kIdsProductTitle = 102, kIdsScanningData = 331, kIdsMinimize = 213, kIdsHelp = 104;
constexpr int kIdPreviewFrame = 1069;
constexpr int kBarScale = 10000;  // the bars show 64-bit ranges on this scale
constexpr int kDefaultWidth = 640;
constexpr int kDefaultWorkTop = 92;

std::function<void(CScanProcess&)>& BeforeEndHook() {
  static std::function<void(CScanProcess&)> hook;
  return hook;
}

int Scaled(std::int64_t low, std::int64_t high, std::int64_t pos) {
  if (high <= low) return 0;
  if (pos <= low) return 0;
  if (pos >= high) return kBarScale;
  const long double part = static_cast<long double>(pos - low) / static_cast<long double>(high - low);
  return static_cast<int>(part * kBarScale);
}

}  // namespace

void CScanProcess::SetBeforeEndHook(std::function<void(CScanProcess&)> hook) { BeforeEndHook() = std::move(hook); }

CScanProcess::CScanProcess(QWidget* owner, EngineBackend& engines, FoundItemSink* console)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), m_pOwner(owner), m_engines(engines), m_pConsole(console) {
  InitSharedLook();
  PlainDialogCtlColor(this);
  setStyleSheet(DialogButtonStyleSheet());
  setFont(ArialFont(14));
  setWindowTitle(ToQString(LoadString(kIdsProductTitle) + " - " + LoadString(kIdsScanningData)));
  setModal(true);

  m_pTitle = new CDragTitle(this, ProductCaption());
  m_pFrame = new QLabel(this);
  SetDlgCtrlId(m_pFrame, kIdFrame);
  m_pFrame->setFrameStyle(QFrame::Box | QFrame::Plain);
  m_pFrame->setStyleSheet(QStringLiteral("QLabel { border: 1px solid #9fb893; }"));
  m_pHeading = new QLabel(ToQString(LoadString(kIdsScanningData)), this);
  SetDlgCtrlId(m_pHeading, kIdHeading);
  m_pHeading->setFont(SharedFontAt(kFontArial16Bold));
  m_pHeading->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  m_pMainBar = new QProgressBar(this);
  SetDlgCtrlId(m_pMainBar, kIdMainBar);
  m_pSecondBar = new QProgressBar(this);
  SetDlgCtrlId(m_pSecondBar, kIdSecondBar);
  for (QProgressBar* bar : {m_pMainBar, m_pSecondBar}) {
    bar->setRange(0, kBarScale);
    bar->setValue(0);
    bar->setTextVisible(false);
  }
  const int ids[3] = {kIdCounterText, kIdStatusText, kIdSectorText};
  for (int i = 0; i < 3; ++i) {
    m_pTexts[i] = new QLabel(this);
    SetDlgCtrlId(m_pTexts[i], ids[i]);
    m_pTexts[i]->setFont(ArialFont(14));
  }

  const auto bitmapButton = [this](int id, const QString& text, ButtonLook look, int w, int h) {
    auto* b = new CXBitmapButton(this);
    SetDlgCtrlId(b, id);
    b->SetStrip(ButtonStrip(look, w, h, text), w, h, 0, 0);
    return b;
  };
  m_pMin = bitmapButton(kIdMin, QStringLiteral("Min"), ButtonLook::Small, 44, 26);
  m_pMin->SetTooltipText(ToQString(LoadString(kIdsMinimize)));
  m_pStop = bitmapButton(kIdStop, QStringLiteral("Stop"), ButtonLook::Small, 52, 30);
  m_pHelp = bitmapButton(kIdHelp, QStringLiteral("?"), ButtonLook::Small, 30, 26);
  m_pHelp->SetTooltipText(ToQString(LoadString(kIdsHelp)));
  connect(m_pMin, &QAbstractButton::clicked, this, &CScanProcess::OnMinimize);
  connect(m_pStop, &QAbstractButton::clicked, this, &CScanProcess::OnStop);
  connect(m_pHelp, &QAbstractButton::clicked, this, &CScanProcess::OnHelp);

  m_pOk = MakePushButton(kIdOk, QStringLiteral("OK"));
  m_pCancel = MakePushButton(kIdCancel, QStringLiteral("Cancel"));

  m_pTimer = new QTimer(this);
  m_pTimer->setInterval(50);
  connect(m_pTimer, &QTimer::timeout, this, &CScanProcess::ShowProgress);
  PlaceControls();
}

CScanProcess::~CScanProcess() {
  // The worker reports into this object: it must have ended first.
  m_worker.Join();
  CORVANApp& app = App();
  if (app.m_pScanProgressDlg == this) app.m_pScanProgressDlg = nullptr;
}

QPushButton* CScanProcess::MakePushButton(int id, const QString& text) {
  auto* b = new QPushButton(text, this);
  SetDlgCtrlId(b, id);
  b->setFont(ArialFont(14));
  b->setEnabled(false);  // drawn disabled; the commands do nothing
  b->setFocusPolicy(Qt::NoFocus);
  return b;
}

void CScanProcess::PlaceControls() {
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
  const int height = top + 290;
  setFixedSize(width, height);
  move(at);
  m_nLineAnchor = top - 13;

  m_pTitle->setGeometry(0, 0, width, kCaptionBandRows);
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

void CScanProcess::Start() {
  if (m_bStarted) return;
  m_bStarted = true;
  PlaceControls();
  CORVANApp& app = App();
  app.m_pConsole = m_pConsole;
  app.m_pScanProgressDlg = this;
  m_pTimer->start();
  m_worker.Start([this, &app] {
    ScanWorker(app, m_engines).Run();
    QMetaObject::invokeMethod(this, &CScanProcess::OnWorkerEnded, Qt::QueuedConnection);
  });
}

// ---------------------------------------------------------------- progress

void CScanProcess::SetRange(std::int64_t low, std::int64_t high) {
  m_nLow = low;
  m_nHigh = high;
}
void CScanProcess::SetStep(std::int64_t step) { m_nStep = step; }
void CScanProcess::SetPos(std::int64_t pos) { m_nPos = pos; }
void CScanProcess::StepIt() {
  // A bar that reaches its end starts again, as the progress control does.
  const std::int64_t next = m_nPos.fetch_add(m_nStep) + m_nStep;
  if (next > m_nHigh) m_nPos = m_nLow.load();
}
void CScanProcess::SetSecondRange(std::int64_t low, std::int64_t high) {
  m_nSecondLow = low;
  m_nSecondHigh = high;
}
void CScanProcess::SetSecondPos(std::int64_t pos) { m_nSecondPos = pos; }
void CScanProcess::SetCounterText(const std::string& text) {
  std::lock_guard lock(m_textMutex);
  m_strCounter = text;
}
void CScanProcess::SetStatusText(const std::string& text) {
  std::lock_guard lock(m_textMutex);
  m_strStatus = text;
}
void CScanProcess::SetSectorText(const std::string& text) {
  std::lock_guard lock(m_textMutex);
  m_strSector = text;
}
void CScanProcess::EnableStop(bool enabled) { m_bStopEnabled = enabled; }

void CScanProcess::SetTotalText(const QString& text) {
  {
    std::lock_guard lock(m_textMutex);
    m_strTotal = text;
  }
  ShowProgress();
}

void CScanProcess::ShowProgress() {
  m_pMainBar->setValue(Scaled(m_nLow, m_nHigh, m_nPos));
  m_pSecondBar->setValue(Scaled(m_nSecondLow, m_nSecondHigh, m_nSecondPos));
  QString counter, status, sector;
  {
    std::lock_guard lock(m_textMutex);
    // The running total, once there is one, says more than the bare count.
    counter = m_strTotal.isEmpty() ? ToQString(m_strCounter) : m_strTotal;
    status = ToQString(m_strStatus);
    sector = ToQString(m_strSector);
  }
  if (m_pTexts[0]->text() != counter) m_pTexts[0]->setText(counter);
  if (m_pTexts[1]->text() != status) m_pTexts[1]->setText(status);
  if (m_pTexts[2]->text() != sector) m_pTexts[2]->setText(sector);
  const bool stop = m_bStopEnabled && !m_bEnded;
  if (m_pStop->isEnabled() != stop) {
    m_pStop->setEnabled(stop);
    m_pStop->SetState(stop ? 0 : 3);
  }
}

// ---------------------------------------------------------------- commands

void CScanProcess::OnStop() {
  if (m_bEnded || m_bAsking) return;
  m_bAsking = true;
  RequestStop(App());
  m_bAsking = false;
  if (m_bEndPending) Finish();
}

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

void CScanProcess::OnMinimize() {
  showMinimized();
  if (m_pOwner) m_pOwner->hide();
}

void CScanProcess::OnHelp() { ShowHelpContext(kHelpContext); }

void CScanProcess::changeEvent(QEvent* e) {
  QDialog::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange && !(windowState() & Qt::WindowMinimized) && m_pOwner &&
      !m_pOwner->isVisible())
    m_pOwner->showNormal();
}

void CScanProcess::keyPressEvent(QKeyEvent* e) {
  // Neither Escape nor Space closes the dialog or presses a button.
  if (e->key() == Qt::Key_Escape || e->key() == Qt::Key_Space) return e->accept();
  QDialog::keyPressEvent(e);
}

void CScanProcess::closeEvent(QCloseEvent* e) {
  if (m_bEnded) return QDialog::closeEvent(e);
  e->ignore();
  reject();
}

void CScanProcess::OnWorkerEnded() {
  m_worker.Join();
  ShowProgress();
  if (m_bAsking) {
    // A Stop or Cancel question is open: close once it is answered.
    m_bEndPending = true;
    return;
  }
  Finish();
}

void CScanProcess::Finish() {
  if (m_bEnded) return;
  m_bEnded = true;
  m_bEndPending = false;
  m_pTimer->stop();
  emit WorkerEnded();
  ShowProgress();
  if (BeforeEndHook()) BeforeEndHook()(*this);
  CORVANApp& app = App();
  if (app.m_pScanProgressDlg == this) app.m_pScanProgressDlg = nullptr;
  if (m_pOwner && !m_pOwner->isVisible()) m_pOwner->showNormal();
  done(1);
}

// ---------------------------------------------------------------- painting

void CScanProcess::paintEvent(QPaintEvent*) {
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
