#include "save/ui/CSaveRecovery.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include "app/CORVANApp.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "console/FoundItemStore.h"
#include "save/ui/CAddFileFilter.h"
#include "save/ui/CFTPSettings.h"
#include "core/RecoveryMode.h"
#include "sources/SourceRecords.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

bool DestinationHasForbiddenCharacter(const std::u16string& dest) {
  for (char16_t c : dest) {
    switch (c) {
      case u'*': case u'?': case u'"': case u'<': case u'>': case u'|': return true;
      default: break;
    }
  }
  return false;
}

bool WholeResultChosen(const FoundItemStore& store, int view, std::uint32_t recoveryMode) {
  if (recoveryMode == kModeDeleted) return false;
  const ReceivedTotals totals = store.Totals();
  const SelectionCounts chosen = store.Selection(view);
  return totals.files > 0 && chosen.bytes == totals.bytes && chosen.files == totals.files;
}

CSaveRecovery::CSaveRecovery(QWidget* parent, const FoundItemStore* store, int view)
    : CSkinnedDialog(parent, QSize(560, 400), ProductCaption()) {
  setWindowTitle(QStringLiteral("Choose Destination"));
  QLabel* group = AddStatic(kIdGroup, QStringLiteral("Choose Destination"), QRect(12, 44, 536, 24));
  group->setFont(SharedFontAt(kFontArial16Bold));

  auto* dest = new QGroupBox(QStringLiteral("Destination Option"), this);
  dest->setGeometry(12, 74, 536, 104);
  m_pLocal = new QRadioButton(QStringLiteral("Recover to local drive"), dest);
  SetDlgCtrlId(m_pLocal, kIdLocal);
  m_pLocal->setGeometry(12, 20, 250, 20);
  m_pLocalPath = new QLineEdit(dest);
  SetDlgCtrlId(m_pLocalPath, kIdLocalPath);
  m_pLocalPath->setGeometry(30, 42, 390, 24);
  m_pLocalPath->setMaxLength(4095);
  auto* browse = m_pBrowse = new QPushButton(QStringLiteral("Browse..."), dest);
  SetDlgCtrlId(browse, kIdBrowse);
  browse->setGeometry(430, 41, 96, 26);
  m_pFtp = new QRadioButton(QStringLiteral("Recover to FTP server"), dest);
  SetDlgCtrlId(m_pFtp, kIdFtp);
  m_pFtp->setGeometry(12, 72, 190, 20);
  m_pFtpPath = new QLineEdit(dest);
  SetDlgCtrlId(m_pFtpPath, kIdFtpPath);
  m_pFtpPath->setGeometry(204, 70, 216, 24);
  m_pFtpPath->setMaxLength(4095);
  m_pFtpPath->setEnabled(false);
  auto* ftpOption = m_pFtpOption = new QPushButton(QStringLiteral("FTP Option"), dest);
  SetDlgCtrlId(ftpOption, kIdFtpOption);
  ftpOption->setGeometry(430, 69, 96, 26);
  ftpOption->setEnabled(false);
  auto* destGroup = new QButtonGroup(this);
  destGroup->addButton(m_pLocal);
  destGroup->addButton(m_pFtp);

  m_pCompression = new QGroupBox(QStringLiteral("Compression Option"), this);
  SetDlgCtrlId(m_pCompression, kIdCompressionGroup);
  m_pCompression->setGeometry(12, 186, 260, 110);
  m_pCreateZip = new QCheckBox(QStringLiteral("Create zip file"), m_pCompression);
  SetDlgCtrlId(m_pCreateZip, kIdCreateZip);
  m_pCreateZip->setGeometry(12, 22, 230, 20);
  m_pZipEach = new QRadioButton(QStringLiteral("Zip each file individually"), m_pCompression);
  SetDlgCtrlId(m_pZipEach, kIdZipEach);
  m_pZipEach->setGeometry(30, 48, 220, 20);
  m_pZipSingle = new QRadioButton(QStringLiteral("Zip to a single file"), m_pCompression);
  SetDlgCtrlId(m_pZipSingle, kIdZipSingle);
  m_pZipSingle->setGeometry(30, 74, 220, 20);
  auto* zipGroup = new QButtonGroup(this);
  zipGroup->addButton(m_pZipEach);
  zipGroup->addButton(m_pZipSingle);
  zipGroup->setExclusive(false);  // both may be unchecked

  m_pRecovery = new QGroupBox(QStringLiteral("Recovery Option"), this);
  SetDlgCtrlId(m_pRecovery, kIdRecoveryGroup);
  m_pRecovery->setGeometry(284, 186, 264, 110);
  const char* whichTexts[3] = {"All files && folders (Exclude deleted)", "All files && folders (Include deleted)",
                               "Only deleted files && folders"};
  const int whichIds[3] = {kIdExcludeDeleted, kIdIncludeDeleted, kIdOnlyDeleted};
  auto* whichGroup = new QButtonGroup(this);
  for (int i = 0; i < 3; ++i) {
    // "&&" is how a button shows one ampersand.
    m_pWhich[i] = new QRadioButton(QString::fromLatin1(whichTexts[i]), m_pRecovery);
    SetDlgCtrlId(m_pWhich[i], whichIds[i]);
    m_pWhich[i]->setGeometry(12, 22 + 26 * i, 245, 20);
    whichGroup->addButton(m_pWhich[i]);
    connect(m_pWhich[i], &QRadioButton::clicked, this, [this, i] {
      m_nDeletedMode = static_cast<std::uint8_t>(i);
      ApplyMarks();
    });
  }

  QPushButton* filter = AddButton(kIdAddFilter, QStringLiteral("Add Filter"), QRect(12, 356, 96, 28));
  QPushButton* help = AddButton(kIdHelp, QStringLiteral("Help"), QRect(118, 356, 80, 28));
  m_pOk = AddButton(kIdOk, QStringLiteral("OK"), QRect(362, 356, 86, 28));
  QPushButton* cancel = AddButton(kIdCancel, QStringLiteral("Cancel"), QRect(458, 356, 90, 28));
  for (QPushButton* b : {filter, help, cancel, browse, ftpOption}) b->setAutoDefault(false);
  m_pOk->setDefault(true);

  // Opening state: local folder, include deleted, no zip, OK disabled.
  m_pOk->setEnabled(false);
  m_pLocal->setChecked(true);
  m_pWhich[1]->setChecked(true);
  m_pZipEach->setEnabled(false);
  m_pZipSingle->setEnabled(false);

  CORVANApp& app = App();
  m_bFullOptions = store && WholeResultChosen(*store, view, app.m_nRecoveryMode);
  app.m_saveChoice.m_bSaveFullOptions = m_bFullOptions ? 1 : 0;
  if (!m_bFullOptions) {
    m_pRecovery->hide();
    QRect r = m_pCompression->geometry();
    r.setWidth(r.width() + kWiderCompression);
    m_pCompression->setGeometry(r);
  }

  connect(m_pOk, &QPushButton::clicked, this, &CSaveRecovery::OnOK);
  connect(cancel, &QPushButton::clicked, this, &CSaveRecovery::reject);
  connect(browse, &QPushButton::clicked, this, &CSaveRecovery::OnBrowse);
  connect(filter, &QPushButton::clicked, this, &CSaveRecovery::OnAddFilter);
  connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kHelpContext); });
  connect(m_pLocal, &QRadioButton::clicked, this, &CSaveRecovery::OnLocalDrive);
  connect(m_pFtp, &QRadioButton::clicked, this, &CSaveRecovery::OnFtpServer);
  connect(ftpOption, &QPushButton::clicked, this, &CSaveRecovery::OnFtpOption);
  connect(m_pCreateZip, &QCheckBox::clicked, this, &CSaveRecovery::OnCreateZip);
  connect(m_pZipEach, &QRadioButton::clicked, this, [this] {
    m_nZipMode = 0;
    ApplyMarks();
  });
  connect(m_pZipSingle, &QRadioButton::clicked, this, [this] {
    m_nZipMode = 1;
    ApplyMarks();
  });
  connect(m_pLocalPath, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (m_nDestKind == 0) m_pOk->setEnabled(!text.trimmed().isEmpty());
  });
  connect(m_pFtpPath, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (m_nDestKind == 1) m_pOk->setEnabled(!text.trimmed().isEmpty());
  });
}

void CSaveRecovery::ApplyMarks() {
  m_pLocal->setChecked(m_nDestKind == 0);
  m_pFtp->setChecked(m_nDestKind != 0);
  if (m_bCreateZip) {
    m_pZipEach->setChecked(m_nZipMode == 0);
    m_pZipSingle->setChecked(m_nZipMode == 1);
  }
  for (int i = 0; i < 3; ++i) m_pWhich[i]->setChecked(m_nDeletedMode == i);
}

void CSaveRecovery::OnLocalDrive() {
  m_nDestKind = 0;
  m_pCreateZip->setEnabled(true);
  if (!m_bCreateZip) {
    m_pZipEach->setChecked(false);
    m_pZipSingle->setChecked(false);
  }
  m_pFtpOption->setEnabled(false);
  m_pBrowse->setEnabled(true);
  m_pFtpPath->setEnabled(false);
  m_pLocalPath->setEnabled(true);
  m_pOk->setEnabled(!m_pLocalPath->text().isEmpty());
  ApplyMarks();
}

void CSaveRecovery::OnFtpServer() {
  m_nDestKind = 1;
  m_bCreateZip = 0;
  m_pCreateZip->setChecked(false);
  m_pCreateZip->setEnabled(false);
  for (QRadioButton* r : {m_pZipEach, m_pZipSingle}) {
    r->setChecked(false);
    r->setEnabled(false);
  }
  m_pFtpOption->setEnabled(true);
  m_pBrowse->setEnabled(false);
  m_pFtpPath->setEnabled(true);
  m_pLocalPath->setEnabled(false);
  m_pOk->setEnabled(!m_pFtpPath->text().isEmpty());
  ApplyMarks();
}

void CSaveRecovery::OnFtpOption() {
  CFTPSettings settings(this);
  if (settings.exec() == CFTPSettings::kIdOk) m_bFtpReady = 1;
  const std::string& folder = App().m_saveChoice.m_ftpSettings.remoteFolder;
  if (!folder.empty()) m_pFtpPath->setText(ToQString(folder));
  m_pOk->setFocus();
}

void CSaveRecovery::OnCreateZip() {
  m_bCreateZip = m_pCreateZip->isChecked() ? 1 : 0;
  m_pZipEach->setEnabled(m_bCreateZip);
  m_pZipSingle->setEnabled(m_bCreateZip);
  if (m_bCreateZip) {
    m_nZipMode = 0;
    m_pZipEach->setChecked(true);
    m_pZipSingle->setChecked(false);
  } else {
    m_pZipEach->setChecked(false);
    m_pZipSingle->setChecked(false);
  }
}

void CSaveRecovery::OnBrowse() {
  const QString folder = QFileDialog::getExistingDirectory(this, ToQString(LoadString(kIdsChooseFolder)),
                                                           m_pLocalPath->text());
  if (!folder.isEmpty()) m_pLocalPath->setText(folder);
}

void CSaveRecovery::OnAddFilter() {
  CAddFileFilter filter(this);
  filter.exec();
}

void CSaveRecovery::OnOK() {
  CORVANApp& app = App();
  const QString text = m_nDestKind == 0 ? m_pLocalPath->text() : m_pFtpPath->text();
  if (text.trimmed().isEmpty()) return;
  // An FTP folder needs the FTP settings confirmed first.
  if (m_nDestKind == 1 && !m_bFtpReady) return;
  const std::u16string dest = ToUtf16(text);

  // Not onto the volume being recovered.
  if (const SourceRecord* source = app.m_sourceList.m_pSelectedSource) {
    if (source->kind == kSourceVolume) {
      if (source->partition && !source->partition->name.empty() && dest.substr(0, 3) == source->partition->name) {
        app.GetPrompt().MessageBoxId(kIdsSameDrive, kPicError, kMbOk);
        return;
      }
    } else if (app.GetPrompt().MessageBoxId(kIdsSourceDriveWarning, kPicQuestion, kMbYesNo) != kIdYes) {
      return;
    }
  }

  m_szDest = text;
  app.m_saveChoice.m_bCreateZip = m_bCreateZip;
  app.m_saveChoice.m_bSaveReady = 1;
  app.m_saveChoice.m_szSaveDest = std::filesystem::path(ToUtf8(text));
  app.m_saveChoice.m_nDeletedMode = m_nDeletedMode;
  app.m_saveChoice.m_nDestKind = m_nDestKind;
  app.m_saveChoice.m_nZipMode = m_nZipMode;

  if (DestinationHasForbiddenCharacter(dest)) {
    app.GetPrompt().MessageBoxId(kIdsForbiddenCharacter, kPicError, kMbOk);
    app.m_saveChoice.m_bSaveReady = 0;
    return;
  }
  done(kIdOk);
}

}  // namespace corvan
