#include "app/ui/CUpdateWizard.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QShowEvent>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <utility>

#include "app/CORVANApp.h"
#include "core/Prompt.h"
#include "ui/DialogLayout.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"

namespace corvan {
namespace {

const char* const kConnectionFailed = "Connection to server could not be established. Please try later.";
const char* const kChecking = "Checking for updates...";
const char* const kChecked = "Update check complete";
const char* const kUnknownVersion =
    "The installed version is unknown, so the state of updates could not be checked.";

QLabel* AddLabel(QVBoxLayout* layout, const QString& text) {
  auto* label = new QLabel(text);
  label->setWordWrap(true);
  layout->addWidget(label);
  return label;
}

}  // namespace

UpdateCheckRun::UpdateCheckRun(CAutoUpdater& updater, QObject* parent) : QObject(parent), m_updater(updater) {}

void UpdateCheckRun::Start(std::function<void(int)> answered) {
  Stop();
  // Cleared here, before the worker exists, so a Stop asked right after
  // this call is never undone by the worker.
  m_updater.ClearStop();
  m_answered = std::move(answered);
  const unsigned run = ++m_nRun;
  m_worker.Start([this, run] {
    const int result = m_updater.CheckForUpdate();
    QMetaObject::invokeMethod(
        this,
        [this, run, result] {
          if (run != m_nRun) return;
          m_worker.Join();
          if (auto answered = std::exchange(m_answered, nullptr)) answered(result);
        },
        Qt::QueuedConnection);
  });
}

void UpdateCheckRun::Stop() {
  ++m_nRun;
  m_answered = nullptr;
  if (!m_worker.IsStarted()) return;
  m_updater.StopCheck();
  m_worker.Join();
}

CUpdateStartPage::CUpdateStartPage() {
  setTitle(QStringLiteral("Update Wizard"));
  auto* layout = new QVBoxLayout(this);
  AddLabel(layout, QStringLiteral("This wizard checks online for a newer version of the program and "
                                  "downloads it. Click Next to proceed further."));
  layout->addStretch();
}

CUpdateProcessPage::CUpdateProcessPage(CAutoUpdater& updater) : m_check(updater) {
  setTitle(QString::fromUtf8(kChecking));
  auto* layout = new QVBoxLayout(this);
  m_pStatus = AddLabel(layout, QString());
  m_pNotice = AddLabel(layout, QStringLiteral("A new major release is available."));
  m_pLink = AddLabel(layout, QStringLiteral("<a href=\"upgrade\">Visit the upgrade page</a>"));
  m_pLink->setCursor(Qt::PointingHandCursor);
  connect(m_pLink, &QLabel::linkActivated, this, [] {
    const std::string page = App().GetProductKey().Read("UpgradePage");
    if (!page.empty()) QDesktopServices::openUrl(QUrl(ToQString(page)));
  });
  m_pAnimation = new QLabel;
  auto* busy = new QProgressBar(m_pAnimation);
  busy->setRange(0, 0);  // moves for as long as the check runs
  busy->setTextVisible(false);
  busy->resize(200, 16);
  m_pAnimation->setMinimumHeight(18);
  layout->addWidget(m_pAnimation);
  layout->addStretch();
  m_pTimer = new QTimer(this);
  m_pTimer->setInterval(1000);
  m_pTimer->setSingleShot(true);
  connect(m_pTimer, &QTimer::timeout, this, &CUpdateProcessPage::RunCheck);
}

void CUpdateProcessPage::initializePage() {
  setTitle(QString::fromUtf8(kChecking));
  m_pStatus->setText(QStringLiteral(
      "Halvard Vantrel Update Wizard is searching for latest updates available online."));
  m_bNext = false;
  m_nResult = -1;
  emit completeChanged();
  m_pNotice->hide();
  m_pLink->hide();
  m_pAnimation->hide();
  // The wizard sets its buttons after this call; Back waits for the check.
  QTimer::singleShot(0, this, [this] {
    if (m_nResult < 0 && wizard()) wizard()->button(QWizard::BackButton)->setEnabled(false);
  });
  m_pTimer->start();
}

void CUpdateProcessPage::cleanupPage() {
  m_pTimer->stop();
  m_check.Stop();
  m_pAnimation->hide();
  QWizardPage::cleanupPage();
}

void CUpdateProcessPage::RunCheck() {
  m_pTimer->stop();
  m_pAnimation->show();
  m_check.Start([this](int result) { ShowResult(result); });
}

void CUpdateProcessPage::ShowResult(int result) {
  m_nResult = result;
  setTitle(QString::fromUtf8(kChecked));
  bool notice = false;
  switch (m_nResult) {
    case kUpdateMinorFirst:
      m_pStatus->setText(QStringLiteral("A new update  is available. Click Next to proceed further."));
      notice = true;
      m_bNext = true;
      break;
    case kUpdateMinor:
      m_pStatus->setText(QStringLiteral("A new update  is available. Click Next to proceed further."));
      m_bNext = true;
      break;
    case kUpdateMajor:
      m_pStatus->setText(
          QStringLiteral("Application has all latest updates. Click cancel to close the window."));
      notice = true;
      break;
    case kUpdateUpToDate:
      m_pStatus->setText(QStringLiteral("This application is updated. "));
      break;
    case kUpdateNoConnection:
    case kUpdateNoVersionFile:
      m_pStatus->setText(QString::fromUtf8(kConnectionFailed));
      break;
    case kUpdateNoInstalledVersion:
      // Unknown is not up to date.
      m_pStatus->setText(QString::fromUtf8(kUnknownVersion));
      break;
    default:
      break;
  }
  m_pNotice->setVisible(notice);
  m_pLink->setVisible(notice);
  m_pAnimation->hide();
  emit completeChanged();
  if (wizard()) wizard()->button(QWizard::BackButton)->setEnabled(true);
}

CUpdateFinalPage::CUpdateFinalPage(CAutoUpdater& updater) : m_updater(updater) {
  setTitle(QStringLiteral("Downloading files..."));
  auto* layout = new QVBoxLayout(this);
  m_pStatus = AddLabel(layout, QString());
  AddLabel(layout, QStringLiteral("Saving file:"));
  m_pFileLabel = AddLabel(layout, QString());
  m_pProgress = new QProgressBar;
  m_pProgress->setTextVisible(false);
  layout->addWidget(m_pProgress);
  m_pTime = AddLabel(layout, QString());
  m_pRate = AddLabel(layout, QString());
  layout->addStretch();
  m_pTimer = new QTimer(this);
  m_pTimer->setInterval(1000);
  m_pTimer->setSingleShot(true);
  connect(m_pTimer, &QTimer::timeout, this, &CUpdateFinalPage::StartDownload);
}

CUpdateFinalPage::~CUpdateFinalPage() { StopDownload(); }

void CUpdateFinalPage::initializePage() {
  m_bDone = false;
  m_nResult = -1;
  m_pProgress->setRange(0, 100);
  m_pProgress->setValue(0);
  emit completeChanged();
  m_pTimer->start();
}

void CUpdateFinalPage::StartDownload() {
  if (m_pThread) return;
  // Set before the thread runs, so a cancel that comes first holds.
  CORVANApp& app = App();
  app.m_update.m_bUpdateCancel = 0;
  app.m_update.m_bUpdateDownloading = 1;
  m_pThread = new CUpdateThread(m_updater, *this);
  m_pThread->start();
}

void CUpdateFinalPage::StopDownload() {
  m_pTimer->stop();
  if (!m_pThread) return;
  // A download that has ended is the user's: only a running one is cancelled.
  if (App().m_update.m_bUpdateDownloading != 0) App().m_update.m_bUpdateCancel = 1;
  // The thread may be waiting on this thread for a message box.
  while (!m_pThread->wait(20)) QCoreApplication::processEvents();
  delete m_pThread;
  m_pThread = nullptr;
}

void CUpdateFinalPage::DownloadFinished(int result) {
  m_nResult = result;
  m_bDone = true;
  emit completeChanged();
}

void CUpdateFinalPage::SetLabel(QLabel* label, const std::string& text) {
  const QString t = ToQString(text);
  QMetaObject::invokeMethod(this, [label, t] { label->setText(t); }, Qt::QueuedConnection);
}
void CUpdateFinalPage::SetStatusText(const std::string& text) { SetLabel(m_pStatus, text); }
void CUpdateFinalPage::SetFileLabel(const std::string& text) { SetLabel(m_pFileLabel, text); }
void CUpdateFinalPage::SetTimeText(const std::string& text) { SetLabel(m_pTime, text); }
void CUpdateFinalPage::SetRateText(const std::string& text) { SetLabel(m_pRate, text); }
void CUpdateFinalPage::SetProgressRange(std::uint64_t upper, std::uint32_t) {
  int shift = 0;
  while ((upper >> shift) > 0x7FFFFFFFu) shift += 10;
  QMetaObject::invokeMethod(
      this,
      [this, upper, shift] {
        m_nShift = shift;
        m_pProgress->setRange(0, static_cast<int>(upper >> shift));
      },
      Qt::QueuedConnection);
}
void CUpdateFinalPage::SetProgressPos(std::uint64_t pos) {
  QMetaObject::invokeMethod(
      this, [this, pos] { m_pProgress->setValue(static_cast<int>(pos >> m_nShift)); },
      Qt::QueuedConnection);
}

CUpdateThread::CUpdateThread(CAutoUpdater& updater, CUpdateFinalPage& page)
    : m_updater(updater), m_page(page) {}

void CUpdateThread::run() {
  CORVANApp& app = App();
  // A package of an earlier run is no proof of this one.
  app.m_update.m_strUpdateInstaller.clear();
  const int r = m_updater.DownloadUpdate(m_page);
  if (app.m_update.m_bUpdateCancel != 0) return;
  app.m_update.m_bUpdateDownloading = 0;
  if (r != kDownloadDone) {
    app.GetPrompt().MessageBox(kConnectionFailed, kPicInformation, kMbOk);
  }
  CUpdateFinalPage* page = &m_page;
  QMetaObject::invokeMethod(page, [page, r] { page->DownloadFinished(r); }, Qt::QueuedConnection);
}

CUpdateWizard::CUpdateWizard(CAutoUpdater& updater, QWidget* parent) : QWizard(parent) {
  PlacesItself(this);
  setWindowTitle(QStringLiteral("Update Wizard"));
  setWizardStyle(QWizard::ClassicStyle);
  setOption(QWizard::NoBackButtonOnLastPage, true);
  setOption(QWizard::HaveHelpButton, true);
  connect(this, &QWizard::helpRequested, this, [] { ShowHelpContext(kHelpContext); });
  m_pStart = new CUpdateStartPage;
  m_pProcess = new CUpdateProcessPage(updater);
  m_pFinal = new CUpdateFinalPage(updater);
  setPage(kStartPage, m_pStart);
  setPage(kProcessPage, m_pProcess);
  setPage(kFinalPage, m_pFinal);
  setStartId(kStartPage);
}

void CUpdateWizard::reject() {
  CORVANApp& app = App();
  if (currentId() == kFinalPage && app.m_update.m_bUpdateDownloading != 0) {
    const int answer = app.GetPrompt().MessageBox(
        "This process can't be resumed from current stage.\n\n Do you want to abort process?", kPicQuestion,
        kMbYesNo);
    if (answer != kIdYes) return;
    app.m_update.m_bUpdateDownloading = 0;
  }
  app.m_update.m_bUpdateCancel = 1;
  m_pProcess->StopCheck();
  m_pFinal->StopDownload();
  QWizard::reject();
}

void CUpdateWizard::showEvent(QShowEvent* e) {
  PlaceDialog(this, e);
  QWizard::showEvent(e);
}

bool RunUpdateWizard(CAutoUpdater& updater, QWidget* parent) {
  CORVANApp& app = App();
  app.m_update.m_bUpdateCancel = 1;
  bool finished = false;
  {
    CUpdateWizard wizard(updater, parent);
    finished = wizard.exec() == QDialog::Accepted;
  }
  // Only a whole download names a package; it is kept, not run.
  if (!finished || app.m_update.m_bUpdateCancel != 0 || app.m_update.m_strUpdateInstaller.empty()) return false;
  app.GetPrompt().MessageBox("The update was downloaded to:\n" + app.m_update.m_strUpdateInstaller.string(), kPicInformation,
                             kMbOk);
  return true;
}

bool LaunchUpdate(QWidget* parent, std::function<void(int)> answered) {
  CORVANApp& app = App();
  if (app.GetProfile().GetInt("Update", "CheckUpdate", 0) == 0) return false;
  // The updater and its check live until the answer has been dealt with;
  // the application takes them down with it when it ends first.
  struct Launch final : QObject {
    Launch(CORVANApp& a, QObject* owner) : QObject(owner), updater(a), check(updater) {}
    CAutoUpdater updater;
    UpdateCheckRun check;
  };
  auto* launch = new Launch(app, QCoreApplication::instance());
  QPointer<QWidget> owner(parent);
  launch->check.Start([launch, owner, answered = std::move(answered)](int result) {
    Prompt& prompt = App().GetPrompt();
    switch (result) {
      case kUpdateMinor:
      case kUpdateMajor:
      case kUpdateMinorFirst:
        if (prompt.MessageBox("Update is available.\nDo you want to update software?", kPicQuestion, kMbYesNo) ==
            kIdYes)
          RunUpdateWizard(launch->updater, owner);
        break;
      case kUpdateNoConnection:
      case kUpdateNoVersionFile:
        prompt.MessageBox(kConnectionFailed, kPicInformation, kMbOk);
        break;
      case kUpdateNoInstalledVersion:
        prompt.MessageBox(kUnknownVersion, kPicInformation, kMbOk);
        break;
      default:
        break;
    }
    if (answered) answered(result);
    launch->deleteLater();
  });
  return true;
}

}  // namespace corvan
