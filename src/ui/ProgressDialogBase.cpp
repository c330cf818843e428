#include "ui/ProgressDialogBase.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "core/StringIds.h"
#include "core/StringTable.h"
#include "ui/CDragTitle.h"
#include "ui/ConsoleArt.h"
#include "ui/CXBitmapButton.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"
#include "ui/SkinnedDialog.h"

namespace corvan {

namespace {

constexpr int kBarScale = 10000;  // the bars show 64-bit ranges on this scale
constexpr int kDefaultWidth = 640;
constexpr int kDefaultWorkTop = 92;

int Scaled(std::int64_t low, std::int64_t high, std::int64_t pos) {
  if (high <= low || pos <= low) return 0;
  if (pos >= high) return kBarScale;
  return static_cast<int>(static_cast<long double>(pos - low) / static_cast<long double>(high - low) * kBarScale);
}

// The owner's preview frame, which the dialog lies over.
constexpr int kIdOwnerPreviewFrame = 1069;

}  // namespace

ProgressDialogBase::ProgressDialogBase(QWidget* owner, const QString& title, const Controls& c)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), m_pOwner(owner), m_controls(c), m_nHelpContext(c.helpContext) {
  PlacesItself(this);
  InitSharedLook();
  PlainDialogCtlColor(this);
  setStyleSheet(DialogButtonStyleSheet());
  setFont(ArialFont(14));
  setWindowTitle(title);
  setModal(true);

  m_pTitle = new CDragTitle(this, ProductCaption());
  m_pFrame = new QLabel(this);
  SetDlgCtrlId(m_pFrame, c.frameId);
  m_pFrame->setStyleSheet(QStringLiteral("QLabel { border: 1px solid #9fb893; }"));
  m_pHeading = new QLabel(c.heading, this);
  SetDlgCtrlId(m_pHeading, c.headingId);
  m_pHeading->setFont(SharedFontAt(kFontArial16Bold));
  m_pHeading->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  m_pMainBar = new QProgressBar(this);
  SetDlgCtrlId(m_pMainBar, c.mainBarId);
  m_pSecondBar = new QProgressBar(this);
  SetDlgCtrlId(m_pSecondBar, c.secondBarId);
  for (QProgressBar* bar : {m_pMainBar, m_pSecondBar}) {
    bar->setRange(0, kBarScale);
    bar->setValue(0);
    bar->setTextVisible(false);
  }
  for (int i = 0; i < 3; ++i) {
    m_pTexts[i] = new QLabel(this);
    SetDlgCtrlId(m_pTexts[i], c.textIds[i]);
    m_pTexts[i]->setFont(ArialFont(14));
  }

  const auto bitmapButton = [this](const ButtonSpec& spec) {
    auto* b = new CXBitmapButton(this);
    SetDlgCtrlId(b, spec.id);
    b->SetStrip(ButtonStrip(ButtonLook::Small, spec.width, spec.height, QString::fromLatin1(spec.caption)),
                spec.width, spec.height, 0, 0);
    return b;
  };
  m_pMin = bitmapButton(c.min);
  m_pMin->SetTooltipText(ToQString(LoadString(kIdsMinimize)));
  m_pStop = bitmapButton(c.stop);
  m_pHelp = bitmapButton(c.help);
  m_pHelp->SetTooltipText(ToQString(LoadString(kIdsHelp)));
  connect(m_pMin, &QAbstractButton::clicked, this, &ProgressDialogBase::OnMinimize);
  connect(m_pStop, &QAbstractButton::clicked, this, &ProgressDialogBase::OnStop);
  connect(m_pHelp, &QAbstractButton::clicked, this, &ProgressDialogBase::OnHelp);

  // OK and Cancel are drawn disabled; their commands do nothing.
  const auto pushButton = [this, &c](int id, const char* caption) {
    auto* b = new QPushButton(QString::fromLatin1(caption), this);
    SetDlgCtrlId(b, id);
    b->setFont(ArialFont(c.pushButtonFontSize));
    b->setEnabled(false);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
  };
  m_pOk = c.okId ? pushButton(c.okId, "OK") : nullptr;
  m_pCancel = c.cancelId ? pushButton(c.cancelId, "Cancel") : nullptr;

  m_pTimer = new QTimer(this);
  m_pTimer->setInterval(50);
  connect(m_pTimer, &QTimer::timeout, this, &ProgressDialogBase::ShowProgress);
}

ProgressDialogBase::~ProgressDialogBase() {
  // The worker reports into this object: it must have ended first. (The
  // dialogs join in their own destructors too, as the worker runs their code.)
  m_worker.Join();
}

ProgressDialogBase::Placement ProgressDialogBase::PlaceOverOwner(int belowTop) {
  // Over the owner's preview area: its left edge and width, the owner's top.
  const QRect& area = m_controls.workArea;
  struct {
    int top, bottom;
  } wa{area.isEmpty() ? 0 : area.top(), area.isEmpty() ? 0 : area.top() + area.height()};
  int width = kDefaultWidth;
  int top = kDefaultWorkTop;
  int bottom = top + 250;
  if (m_pOwner) {
    if (QWidget* frame = GetDlgItem(m_pOwner, kIdOwnerPreviewFrame)) width = frame->width() + 1;
    if (wa.bottom > wa.top) {
      top = wa.top;
      bottom = wa.bottom;
    }
  }
  // As wide as the preview area; placed, as every dialog, when shown.
  setFixedSize(width, top + belowTop);
  m_nLineAnchor = top - 13;
  m_pTitle->setGeometry(0, 0, width, kCaptionBandRows);
  return {width, top, bottom};
}

void ProgressDialogBase::Start() {
  if (m_bStarted) return;
  m_bStarted = true;
  PlaceControls();
  OnStarting();
  m_pTimer->start();
  m_worker.Start([this] {
    RunWorker();
    QMetaObject::invokeMethod(this, &ProgressDialogBase::OnWorkerEnded, Qt::QueuedConnection);
  });
}

// ---------------------------------------------------------------- progress

void ProgressDialogBase::SetRange(std::int64_t low, std::int64_t high) {
  m_nLow = low;
  m_nHigh = high;
}
void ProgressDialogBase::SetStep(std::int64_t step) { m_nStep = step; }
void ProgressDialogBase::SetPos(std::int64_t pos) { m_nPos = pos; }
void ProgressDialogBase::StepIt() {
  // A bar that reaches its end starts again, as the progress control does.
  const std::int64_t next = m_nPos.fetch_add(m_nStep) + m_nStep;
  if (next > m_nHigh) m_nPos = m_nLow.load();
}
void ProgressDialogBase::SetSecondRange(std::int64_t low, std::int64_t high) {
  m_nSecondLow = low;
  m_nSecondHigh = high;
}
void ProgressDialogBase::SetSecondPos(std::int64_t pos) { m_nSecondPos = pos; }
void ProgressDialogBase::SetCounterText(const std::string& text) {
  std::lock_guard lock(m_textMutex);
  m_strTexts[0] = text;
}
void ProgressDialogBase::SetStatusText(const std::string& text) {
  std::lock_guard lock(m_textMutex);
  m_strTexts[1] = text;
}
void ProgressDialogBase::SetSectorText(const std::string& text) {
  std::lock_guard lock(m_textMutex);
  m_strTexts[2] = text;
}
void ProgressDialogBase::EnableStop(bool enabled) { m_bStopEnabled = enabled; }

void ProgressDialogBase::SetCounterOverride(const QString& text) {
  {
    std::lock_guard lock(m_textMutex);
    m_strCounterOverride = text;
  }
  ShowProgress();
}

void ProgressDialogBase::ShowProgress() {
  m_pMainBar->setValue(Scaled(m_nLow, m_nHigh, m_nPos));
  m_pSecondBar->setValue(Scaled(m_nSecondLow, m_nSecondHigh, m_nSecondPos));
  QString texts[3];
  {
    std::lock_guard lock(m_textMutex);
    texts[0] = m_strCounterOverride.isEmpty() ? ToQString(m_strTexts[0]) : m_strCounterOverride;
    texts[1] = ToQString(m_strTexts[1]);
    texts[2] = ToQString(m_strTexts[2]);
  }
  for (int i = 0; i < 3; ++i)
    if (m_pTexts[i]->text() != texts[i]) m_pTexts[i]->setText(texts[i]);
  const bool stop = m_bStopEnabled && !m_bEnded;
  if (m_pStop->isEnabled() != stop) {
    m_pStop->setEnabled(stop);
    m_pStop->SetState(stop ? 0 : 3);
  }
}

// ---------------------------------------------------------------- commands

void ProgressDialogBase::RunStopQuestion() {
  m_bAsking = true;
  AskStop();
  m_bAsking = false;
  if (m_bEndPending) Finish();
}

void ProgressDialogBase::OnStop() {
  if (m_bEnded || m_bAsking) return;
  RunStopQuestion();
}

void ProgressDialogBase::OnMinimize() {
  showMinimized();
  if (m_pOwner) m_pOwner->hide();
}

void ProgressDialogBase::OnHelp() { ShowHelpContext(m_nHelpContext); }

void ProgressDialogBase::showEvent(QShowEvent* e) {
  PlaceDialog(this, e);
  QDialog::showEvent(e);
}

void ProgressDialogBase::changeEvent(QEvent* e) {
  QDialog::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange && !(windowState() & Qt::WindowMinimized) && m_pOwner &&
      !m_pOwner->isVisible())
    m_pOwner->showNormal();
}

void ProgressDialogBase::keyPressEvent(QKeyEvent* e) {
  // Neither Escape nor Space closes the dialog or presses a button.
  if (e->key() == Qt::Key_Escape || e->key() == Qt::Key_Space) return e->accept();
  QDialog::keyPressEvent(e);
}

void ProgressDialogBase::closeEvent(QCloseEvent* e) {
  if (m_bEnded) return QDialog::closeEvent(e);
  e->ignore();
  reject();
}

void ProgressDialogBase::OnWorkerEnded() {
  m_worker.Join();
  ShowProgress();
  if (m_bAsking) {
    // A Stop or Cancel question is open: close once it is answered.
    m_bEndPending = true;
    return;
  }
  Finish();
}

void ProgressDialogBase::Finish() {
  if (m_bEnded) return;
  m_bEnded = true;
  m_bEndPending = false;
  m_pTimer->stop();
  emit WorkerEnded();
  ShowProgress();
  OnEnding();
  if (m_pOwner && !m_pOwner->isVisible()) m_pOwner->showNormal();
  done(1);
}

// ---------------------------------------------------------------- painting

void ProgressDialogBase::paintEvent(QPaintEvent*) {
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
