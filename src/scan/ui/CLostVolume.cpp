#include "scan/ui/CLostVolume.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "app/CORVANApp.h"
#include "app/Jobs.h"
#include "app/SourceSetup.h"
#include "core/Prompt.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "scan/ScanInfoFile.h"
#include "ui/CXBitmapButton.h"
#include "ui/CXColorListCtrl.h"
#include "ui/ConsoleArt.h"
#include "ui/DialogLayout.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {

constexpr int kBarScale = 10000;  // the bar shows 64-bit ranges on this scale

int Scaled(std::int64_t low, std::int64_t high, std::int64_t pos) {
  if (high <= low || pos <= low) return 0;
  if (pos >= high) return kBarScale;
  return static_cast<int>(static_cast<long double>(pos - low) / static_cast<long double>(high - low) * kBarScale);
}

QStringList RowTexts(const SourceRecord& record) {
  const PartitionRecord& p = *record.partition;
  return {ToQString(p.name), ToQString(p.fileSystemText), QString::number(p.startSector), ToQString(p.sizeText)};
}

}  // namespace

CLostVolume::CLostVolume(int imageFlag, std::uint8_t mode, bool deep, QWidget* parent, std::function<void()> onReturn)
    : CSkinnedDialog(parent, QSize(480, 330)),
      m_nImageFlag(imageFlag),
      m_nMode(mode),
      m_bDeep(deep),
      m_onReturn(std::move(onReturn)) {
  setObjectName(QStringLiteral("CLostVolume"));
  setWindowTitle(QStringLiteral("Searching volume - ") + ToQString(LoadString(kIdsProductTitle)));
  setModal(true);

  QLabel* heading = AddStatic(kIdHeading, QStringLiteral("Searched Volume"), QRect(16, 44, 448, 22));
  heading->setFont(SharedFontAt(kFontArial16Bold));

  m_list = new CXColorListCtrl;
  CreateReportList(this, kIdList, QRect(16, 72, 448, 150), *m_list);
  m_list->m_crEvenRow = 0xCEE9DD;
  m_list->m_crOddRow = 0xFAF8F6;
  m_list->m_crThird = 0x91C4B1;
  m_list->m_crLostText = 0x966400;
  m_list->setFont(SharedFontAt(kFontArial14Bold));
  m_list->setColumnCount(4);
  m_list->setHorizontalHeaderLabels({QStringLiteral("Logical Volume"), QStringLiteral("File System"),
                                     QStringLiteral("Starting Sector"), QStringLiteral("Size")});
  const int quarter = m_list->viewport()->width() > 0 ? (448 - 2) / 4 : 111;
  for (int c = 0; c < 4; ++c) {
    m_list->setColumnWidth(c, quarter);
    m_list->horizontalHeaderItem(c)->setTextAlignment((c >= 2 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  }

  m_progress = AddStatic(kIdProgress, QStringLiteral("Searching Volumes"), QRect(16, 230, 448, 18));
  m_progress->setFont(ArialFont(13));
  m_bar = new QProgressBar(this);
  SetDlgCtrlId(m_bar, kIdBar);
  m_bar->setGeometry(16, 252, 348, 16);
  m_bar->setRange(0, kBarScale);
  m_bar->setValue(0);
  m_bar->setTextVisible(false);

  m_btnStop = new CXBitmapButton(this);
  SetDlgCtrlId(m_btnStop, kIdStop);
  m_btnStop->SetStrip(ButtonStrip(ButtonLook::Small, 90, 32, QStringLiteral("Stop")), 90, 32, 374, 244);
  m_btnStop->setAccessibleName(QStringLiteral("Stop"));

  m_btnBack = AddButton(kIdBack, QStringLiteral("Back to orignal list"), QRect(16, 288, 160, 28));
  m_btnMinimize = AddButton(kIdMinimize, QStringLiteral("Minimize to Task Bar"), QRect(186, 288, 170, 28));
  m_btnHelp = AddButton(kIdHelp, QStringLiteral("Help"), QRect(366, 288, 98, 28));
  for (QPushButton* b : {m_btnMinimize, m_btnHelp}) b->setFont(SharedFontAt(kFontArial14Bold));

  connect(m_btnStop, &QAbstractButton::clicked, this, &CLostVolume::OnStop);
  connect(m_btnBack, &QPushButton::clicked, this, &CLostVolume::CloseAndReturn);
  connect(m_btnMinimize, &QPushButton::clicked, this, &CLostVolume::OnMinimize);
  connect(m_btnHelp, &QPushButton::clicked, this, &CLostVolume::OnHelp);

  m_timer = new QTimer(this);
  m_timer->setInterval(50);
  connect(m_timer, &QTimer::timeout, this, &CLostVolume::ShowProgress);
}

CLostVolume::~CLostVolume() {
  // The worker reports into this object: it must have ended first.
  m_worker.Join();
}

void CLostVolume::showEvent(QShowEvent* e) {
  CSkinnedDialog::showEvent(e);
  if (!m_bStarted && m_bStartOnShow) QMetaObject::invokeMethod(this, &CLostVolume::Start, Qt::QueuedConnection);
}

void CLostVolume::Start() {
  if (m_bStarted) return;
  m_bStarted = true;
  m_bDone = 0;
  if (m_nMode == kModeRepeat) ListEarlierFinds();
  if (m_nMode > kModeRepeat) return;
  // Busy from here, so Back cannot close the dialog before the worker runs.
  App().m_bBusy = 1;
  m_timer->start();
  // The job is made here, on the window's thread, from what the window shows.
  LostVolumeJob job = MakeLostVolumeJob(App(), CurrentSelection(App()), this, m_bDeep, m_nImageFlag != 0);
  m_worker.Start([this, job = std::move(job)] {
    CThreadForSearchVolume search(job);
    search.Run();
    QMetaObject::invokeMethod(this, &CLostVolume::OnSearchEnded, Qt::QueuedConnection);
  });
}

void CLostVolume::ListEarlierFinds() {
  CORVANApp& app = App();
  const SourceRecord* selected = app.m_sourceList.m_pSelectedSource;
  if (!selected || !selected->disk) return;
  for (const auto& record : app.m_sourceList.m_sources) {
    if ((record->kind != kSourceLostVolume && record->kind != kSourceDeepLostVolume) || !record->partition) continue;
    if (record->partition->diskNumber != selected->disk->driveNumber || (record->flags & 0x0F) != 0) continue;
    AddFoundVolume(*record);
  }
  ShowProgress();
}

bool CLostVolume::SearchRunning() const { return m_worker.IsRunning() || (m_bStarted && !m_bEnded && m_nMode <= kModeRepeat); }

// ---------------------------------------------------------------- the sink

void CLostVolume::SetProgressText(const std::string& text) {
  std::lock_guard lock(m_mutex);
  m_strProgress = text;
}
void CLostVolume::SetProgressRange(std::int64_t low, std::int64_t high) {
  m_nLow = low;
  m_nHigh = high;
}
void CLostVolume::SetProgressStep(std::int64_t step) { m_nStep = step; }
void CLostVolume::SetProgressPos(std::int64_t pos) { m_nPos = pos; }
void CLostVolume::StepProgress() { m_nPos += m_nStep; }

void CLostVolume::AddFoundVolume(SourceRecord& record) {
  const std::uint8_t kind = record.kind;
  if (!IsDriveScanVolume(kind)) return;
  if (!record.partition) return;
  // Listed here: the source page takes it over when the dialog returns.
  record.flags = static_cast<std::uint8_t>((record.flags & 0x0F) | 0x10);
  {
    std::lock_guard lock(m_mutex);
    m_pendingRows.push_back(RowTexts(record));
    m_pendingRecords.push_back(&record);
  }
  if (kind == kSourceLostVolume || kind == kSourceDeepLostVolume) App().m_bLostVolOnDisk = 1;
}

void CLostVolume::HideProgress() {
  m_bHideProgress = true;
  m_bStopHidden = true;
}
void CLostVolume::RevealProgress() { m_bHideProgress = false; }
void CLostVolume::SearchDone() { m_bDone = 1; }

void CLostVolume::ShowProgress() {
  std::vector<QStringList> rows;
  std::vector<const SourceRecord*> records;
  QString text;
  {
    std::lock_guard lock(m_mutex);
    rows.swap(m_pendingRows);
    records.swap(m_pendingRecords);
    text = ToQString(m_strProgress);
  }
  m_rowRecords.insert(m_rowRecords.end(), records.begin(), records.end());
  for (const QStringList& row : rows) {
    const int r = m_list->AppendRow(row);
    for (int c = 2; c < 4; ++c)
      if (QTableWidgetItem* item = m_list->item(r, c)) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  m_bar->setValue(Scaled(m_nLow, m_nHigh, m_nPos));
  if (!text.isEmpty() && m_progress->text() != text) m_progress->setText(text);
  // Once hidden, Stop stays hidden; the bar and the label come back for the
  // deep search's check of the FAT volumes it found.
  const bool hidden = m_bHideProgress;
  m_bar->setVisible(!hidden);
  m_progress->setVisible(!hidden);
  if (m_bStopHidden) m_btnStop->hide();
}

// ---------------------------------------------------------------- commands

void CLostVolume::OnSearchEnded() {
  m_worker.Join();
  m_bEnded = true;
  m_timer->stop();
  ShowProgress();
  // A guessed size ends where the next volume found begins: the search cut
  // it once it was done, after the row was shown.
  for (int r = 0; r < m_list->rowCount() && r < static_cast<int>(m_rowRecords.size()); ++r)
    if (QTableWidgetItem* size = m_list->item(r, 3)) size->setText(ToQString(m_rowRecords[r]->partition->sizeText));
  MaybeCloseItself();
}

void CLostVolume::MaybeCloseItself() {
  // Closes once the search has ended, unless the Stop question is open.
  if (m_bEnded && Done() && m_bAutoClose && !m_bAsking) CloseAndReturn();
}

void CLostVolume::CloseAndReturn() {
  if (App().m_bBusy || SearchRunning()) return;
  m_worker.Join();
  if (m_onReturn) m_onReturn();
  if (parentWidget() && !parentWidget()->isVisible()) parentWidget()->showNormal();
  done(kIdOk);
}

void CLostVolume::OnStop() {
  CORVANApp& app = App();
  if (!app.m_bBusy || m_bAsking) return;
  m_bAutoClose = false;
  m_bAsking = true;
  if (app.GetPrompt().MessageBoxId(kIdsAbortQuestion, kPicQuestion, kMbYesNo) == kIdYes) {
    m_btnStop->hide();
    app.m_bAbort = 1;
  }
  m_bAsking = false;
  m_bAutoClose = true;
  MaybeCloseItself();
}

void CLostVolume::OnMinimize() {
  showMinimized();
  if (QWidget* owner = parentWidget()) owner->window()->hide();
}

void CLostVolume::OnHelp() { ShowHelpContext(kHelpContext); }

void CLostVolume::changeEvent(QEvent* e) {
  CSkinnedDialog::changeEvent(e);
  if (e->type() == QEvent::WindowStateChange && !(windowState() & Qt::WindowMinimized)) {
    if (QWidget* owner = parentWidget(); owner && !owner->window()->isVisible()) owner->window()->showNormal();
  }
}

void CLostVolume::keyPressEvent(QKeyEvent* e) {
  // Escape never closes the dialog.
  if (e->key() == Qt::Key_Escape) return e->accept();
  CSkinnedDialog::keyPressEvent(e);
}

void CLostVolume::closeEvent(QCloseEvent* e) {
  // Closed only through CloseAndReturn, never under a running search.
  e->ignore();
}

}  // namespace corvan
