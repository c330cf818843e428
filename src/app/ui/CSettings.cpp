#include "app/ui/CSettings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <map>
#include <utility>

#include "app/AutoUpdater.h"
#include "app/CORVANApp.h"
#include "app/ui/CUpdateWizard.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "engines/fat/FatSavedScan.h"
#include "scan/ui/CAppendHeader.h"
#include "scan/ui/CEditList.h"
#include "scan/ui/FileTypeChoice.h"
#include "ui/CXColorTab.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"
#include "ui/XTipComboBox.h"

namespace corvan {

namespace {
constexpr std::uint32_t kTabColour = 0xF1FFF4;

// The combo's entries in the order of the FAT engine's sources.
const char* const kLinkingModes[] = {"FAT1", "FAT2", "Contiguous"};
static_assert(kFatSourceFat1 == 0 && kFatSourceFat2 == 1 && kFatSourceContiguous == 2);
}  // namespace

std::function<QString(QWidget*, const QString&)>& CSettings::FolderChooser() {
  static std::function<QString(QWidget*, const QString&)> chooser = [](QWidget* parent, const QString& title) {
    return QFileDialog::getExistingDirectory(parent, title);
  };
  return chooser;
}

CSettings::CSettings(QWidget* parent) : CSkinnedDialog(parent, QSize(500, 470), ProductCaption()) {
  setWindowTitle(QStringLiteral("Settings"));
  Profile& profile = App().GetProfile();
  m_bSaveLog = profile.GetInt("LOG", "SaveLog", 0);
  m_strLogPath = QString::fromStdString(profile.GetString("LOG", "LogPath", ""));
  const bool noLogFolder = m_strLogPath.isEmpty();
  m_bCheckUpdate = profile.GetInt("Update", "CheckUpdate", 0);
  m_nSetRaw = profile.GetInt("Raw", "SetRaw", 1);
  // No folder set: the one the logs really go to is shown, and kept as
  // "none set" unless the user changes it.
  m_strDefaultLogPath = ToQString(CORVANApp::LogFolder("").string());
  if (noLogFolder) m_strLogPath = m_strDefaultLogPath;

  QLabel* title = AddStatic(kIdTitle, QStringLiteral("Settings"), QRect(12, 44, 476, 24));
  title->setFont(SharedFontAt(kFontArial16Bold));

  // The tab style is the process's: set while the dialog stands.
  m_nSavedTabStyle = TabStyleFlags();
  TabStyleFlags() = 0x0E;
  m_pTab = new CXColorTab(this);
  SetDlgCtrlId(m_pTab, kIdTab);
  m_pTab->m_crTab = kTabColour;
  m_pTab->m_bOwnerDraw = true;
  m_pTab->setFont(SharedFontAt(kFontArial14Bold));
  m_pTab->setDrawBase(false);
  m_pTab->setExpanding(false);
  m_pTab->addTab(ToQString(LoadString(kIdsGeneralSettings)));
  m_pTab->addTab(ToQString(LoadString(kIdsAddFileTypes)));
  m_pTab->setGeometry(12, 76, 476, 26);

  const auto group = [this](int id, const QString& text, const QRect& rect) {
    auto* box = new QGroupBox(text, this);
    SetDlgCtrlId(box, id);
    box->setGeometry(rect);
    box->setFont(ArialFont(14, 700));
    return box;
  };
  const auto label = [this](int id, const QString& text, const QRect& rect) {
    QLabel* l = AddStatic(id, text, rect);
    l->setFont(ArialFont(14));
    return l;
  };
  const auto combo = [this](int id, const QRect& rect) {
    auto* box = new XTipComboBox(this);
    SetDlgCtrlId(box, id);
    box->setGeometry(rect);
    return box;
  };
  const auto check = [this](int id, const QString& text, const QRect& rect) {
    auto* box = new QCheckBox(text, this);
    SetDlgCtrlId(box, id);
    box->setGeometry(rect);
    box->setFont(ArialFont(14));
    return box;
  };

  // " General Settings ".
  QGroupBox* logGroup = group(kIdLogGroup, QStringLiteral("Log settings"), QRect(12, 110, 476, 112));
  m_pSaveLog = check(kIdSaveLog, QStringLiteral("Save log before closing application"), QRect(24, 132, 440, 22));
  QLabel* logLabel = label(kIdLogPathLabel, QStringLiteral("Set path to save log report:"), QRect(24, 160, 440, 20));
  m_pLogPath = new QLineEdit(this);
  SetDlgCtrlId(m_pLogPath, kIdLogPath);
  m_pLogPath->setGeometry(24, 184, 360, 26);
  m_pLogPath->setFont(ArialFont(14));
  HighlightControl(m_pLogPath);
  m_pBrowse = AddButton(kIdBrowse, QStringLiteral("Browse..."), QRect(392, 184, 84, 26));

  QGroupBox* updateGroup = group(kIdUpdateGroup, QString(), QRect(12, 228, 476, 46));
  m_pCheckUpdate = check(kIdCheckUpdate, QStringLiteral("Check for 'Latest Updates' at startup"), QRect(24, 242, 330, 22));
  QPushButton* updateNow = AddButton(kIdUpdateNow, QStringLiteral("Update Now"), QRect(376, 240, 100, 26));

  QGroupBox* scanGroup = group(kIdScanGroup, QStringLiteral("Scan settings"), QRect(12, 280, 476, 100));
  m_pSetRaw = check(kIdSetRaw, QStringLiteral("Do not perform signature search in Advance Scan"), QRect(24, 302, 440, 22));
  QLabel* linkingLabel = label(kIdLinkingLabel, QStringLiteral("Linking mode:"), QRect(24, 340, 110, 22));
  m_pLinkingMode = combo(kIdLinkingMode, QRect(140, 338, 130, 24));
  for (const char* mode : kLinkingModes) m_pLinkingMode->addItem(QString::fromLatin1(mode));
  QLabel* fatOnly = label(kIdFatOnly, QStringLiteral("for FAT only"), QRect(282, 340, 180, 22));

  // The combo speaks for the open FAT volume only, and never while a
  // worker reads through its FAT.
  if (ScanSession* session = LinkableSession()) {
    m_pLinkingMode->setCurrentIndex(*session->LinkingMode());
  } else {
    m_pLinkingMode->setCurrentIndex(-1);
    m_pLinkingMode->setEnabled(false);
  }

  m_tabControls[0] = {logGroup,      m_pSaveLog, logLabel,  m_pLogPath,     m_pBrowse,      updateGroup,
                      m_pCheckUpdate, updateNow,  scanGroup, m_pSetRaw, linkingLabel, m_pLinkingMode, fatOnly};

  // " Add File Types ".
  QLabel* filterLabel = label(kIdFilterLabel, QStringLiteral("Filter by file group:"), QRect(12, 114, 150, 22));
  XTipComboBox* groups = combo(kIdGroupCombo, QRect(170, 112, 318, 24));
  m_pList = new CEditList;
  CreateReportList(this, kIdList, QRect(12, 142, 476, 206), *m_pList);
  QPushButton* selectAll = AddButton(kIdSelectAll, QStringLiteral("Select All"), QRect(12, 356, 100, 26));
  QPushButton* unselectAll = AddButton(kIdUnselectAll, QStringLiteral("Unselect All"), QRect(120, 356, 100, 26));
  QPushButton* edit = AddButton(kIdEdit, QStringLiteral("Edit"), QRect(228, 356, 80, 26));
  QPushButton* append = AddButton(kIdAppendHeader, QStringLiteral("Append Header File"), QRect(338, 356, 150, 26));
  QLabel* hint = AddStatic(
      kIdAppendHint, QStringLiteral("Please click 'Append Header File' button to add/remove user defined file types."),
      QRect(12, 388, 476, 34));
  hint->setWordWrap(true);
  hint->setFont(ArialFont(13));
  m_tabControls[1] = {filterLabel, groups, m_pList, selectAll, unselectAll, edit, append, hint};

  m_pChoice = new FileTypeChoice(this, {m_pList, groups, edit, selectAll, unselectAll});
  // A size edited in the list is kept at once, as an edited type is.
  m_pChoice->SetSizeEditedHook([] { App().SaveUserHeaders(); });

  QPushButton* ok = AddButton(kIdOk, QStringLiteral("OK"), QRect(312, 432, 84, 26));
  QPushButton* cancel = AddButton(kIdCancel, QStringLiteral("Cancel"), QRect(404, 432, 84, 26));
  for (QPushButton* b : {m_pBrowse, updateNow, selectAll, unselectAll, edit, append, cancel}) b->setAutoDefault(false);
  ok->setDefault(true);

  UpdateControls();
  OnTabSelChange(0);

  connect(m_pTab, &QTabBar::currentChanged, this, &CSettings::OnTabSelChange);
  connect(m_pSaveLog, &QCheckBox::clicked, this, &CSettings::OnSaveLogClicked);
  connect(m_pBrowse, &QPushButton::clicked, this, &CSettings::OnBrowseLogFolder);
  connect(updateNow, &QPushButton::clicked, this, &CSettings::OnUpdateNow);
  connect(edit, &QPushButton::clicked, this, &CSettings::OnEditFileType);
  connect(append, &QPushButton::clicked, this, &CSettings::OnAppendHeaderFile);
  connect(ok, &QPushButton::clicked, this, &CSettings::OnOK);
  connect(cancel, &QPushButton::clicked, this, &CSettings::reject);
}

CSettings::~CSettings() { TabStyleFlags() = m_nSavedTabStyle; }

ScanSession* CSettings::LinkableSession() {
  CORVANApp& app = App();
  if (app.m_bVolumeOpened == 0 || app.m_bBusy != 0) return nullptr;
  return app.m_pScanSession->LinkingMode() ? app.m_pScanSession.get() : nullptr;
}

void CSettings::UpdateControls() {
  m_pSaveLog->setChecked(m_bSaveLog != 0);
  m_pCheckUpdate->setChecked(m_bCheckUpdate != 0);
  m_pSetRaw->setChecked(m_nSetRaw != 0);
  m_pLogPath->setText(m_strLogPath);
  m_pLogPath->setEnabled(m_bSaveLog != 0);
  m_pBrowse->setEnabled(m_bSaveLog != 0);
}

void CSettings::OnTabSelChange(int tab) {
  if (tab < 0 || tab > 1) return;
  for (QWidget* w : m_tabControls[1 - tab]) w->hide();
  for (QWidget* w : m_tabControls[tab]) w->show();
}

void CSettings::OnSaveLogClicked() {
  m_bSaveLog = m_pSaveLog->isChecked() ? 1 : 0;
  m_pLogPath->setEnabled(m_bSaveLog != 0);
  m_pBrowse->setEnabled(m_bSaveLog != 0);
}

void CSettings::OnBrowseLogFolder() {
  const QString folder = FolderChooser() ? FolderChooser()(this, ToQString(LoadString(kIdsSelectLogFolder))) : QString();
  if (folder.isEmpty()) return;
  m_strLogPath = folder;
  m_pLogPath->setText(folder);
}

void CSettings::OnUpdateNow() {
  QWidget* owner = parentWidget();
  done(kIdCancel);
  CAutoUpdater updater(App());
  RunUpdateWizard(updater, owner);
}

void CSettings::OnEditFileType() {
  // An edited type is kept at once, with the list as it stands.
  if (m_pChoice->OnEdit()) App().SaveUserHeaders();
}

void CSettings::OnAppendHeaderFile() {
  CORVANApp& app = App();
  // The header dialog reads the list again from the file: the choices made
  // here and not yet kept are carried over to it.
  std::map<std::pair<std::u16string, std::u16string>, std::uint8_t> chosen;
  for (const FileTypeRecord& r : app.m_fileTypeList) chosen.emplace(std::pair{r.softwareName, r.extension}, r.selected);
  {
    CAppendHeader dlg(this);
    dlg.exec();
  }
  for (FileTypeRecord& r : app.m_fileTypeList)
    if (const auto it = chosen.find({r.softwareName, r.extension}); it != chosen.end()) r.selected = it->second;
  // Added and removed types show at once.
  m_pChoice->FillAllRows();
  auto* groups = GetDlgItemAs<QComboBox>(this, kIdGroupCombo);
  if (groups->currentIndex() > 0) m_pChoice->OnGroupChanged(groups->currentIndex());
}

void CSettings::OnOK() {
  CORVANApp& app = App();
  m_bSaveLog = m_pSaveLog->isChecked() ? 1 : 0;
  m_bCheckUpdate = m_pCheckUpdate->isChecked() ? 1 : 0;
  m_nSetRaw = m_pSetRaw->isChecked() ? 1 : 0;
  m_strLogPath = m_pLogPath->text();
  done(kIdOk);

  Profile& profile = app.GetProfile();
  if (profile.GetString("LOG", "LogPath", "").empty() && m_strLogPath == m_strDefaultLogPath) m_strLogPath.clear();
  const bool logChanged = profile.GetInt("LOG", "SaveLog", 0) != m_bSaveLog ||
                          QString::fromStdString(profile.GetString("LOG", "LogPath", "")) != m_strLogPath;
  profile.WriteInt("LOG", "SaveLog", m_bSaveLog);
  profile.WriteString("LOG", "LogPath", m_strLogPath.toStdString());
  profile.WriteInt("Update", "CheckUpdate", m_bCheckUpdate);
  profile.WriteInt("Raw", "SetRaw", m_nSetRaw);
  app.m_log.m_bSaveLog = static_cast<std::uint32_t>(m_bSaveLog);
  app.m_bCheckUpdate = static_cast<std::uint32_t>(m_bCheckUpdate);
  app.m_nSetRaw = static_cast<std::uint32_t>(m_nSetRaw);
  // The log file is opened again, where and as now set, at the next flush;
  // not under a worker, which flushes it.
  if (logChanged && app.m_bBusy == 0) app.m_log.m_bLogReady = 0;

  // Asked again now: a worker may have started since the dialog opened.
  if (m_pLinkingMode->isEnabled() && m_pLinkingMode->currentIndex() >= 0)
    if (ScanSession* session = LinkableSession())
      session->SetLinkingMode(static_cast<std::uint8_t>(m_pLinkingMode->currentIndex()));

  // The list is read again from the file when next needed; kept in memory
  // when the file could not be written.
  if (FileTypeChoice::StoreChoice(app)) app.m_fileTypeList.clear();
}

void CSettings::keyPressEvent(QKeyEvent* e) {
  // Escape never closes the settings.
  if (e->key() == Qt::Key_Escape) return e->accept();
  CSkinnedDialog::keyPressEvent(e);
}

}  // namespace corvan
