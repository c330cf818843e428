#pragma once
// "Choose Destination": where and how Recover saves the checked items — a
// local folder or a folder on an FTP server (set in the FTP settings
// dialog, never zipped), plain files or zip archives (one per file or one
// for all), which files when the whole scan result is chosen, and the file
// filter. OK checks the destination and stores the choices in the
// application object's save options.

#include <QString>
#include <cstdint>
#include <string>

#include "ui/SkinnedDialog.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace corvan {

class FoundItemStore;

// The characters a destination may not hold: * ? " < > | ('/' separates a
// local path's folders and ':' and '\' are plain characters here).
bool DestinationHasForbiddenCharacter(const std::u16string& dest);
// Whether the which-files choice is offered: every file of the scan result
// is checked in `view` and the scan was not a Deleted Recovery pass.
bool WholeResultChosen(const FoundItemStore& store, int view, std::uint32_t recoveryMode);

class CSaveRecovery : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdOk = 1, kIdCancel = 2, kIdHelp = 1059, kIdAddFilter = 1067, kIdBrowse = 1131,
                       kIdFtpOption = 1167, kIdCreateZip = 1217, kIdZipEach = 1219, kIdZipSingle = 1220,
                       kIdExcludeDeleted = 1221, kIdIncludeDeleted = 1222, kIdOnlyDeleted = 1223,
                       kIdCompressionGroup = 1224, kIdRecoveryGroup = 1225, kIdLocal = 1226, kIdFtp = 1227,
                       kIdLocalPath = 1034, kIdFtpPath = 1169, kIdGroup = 1036;
  static constexpr int kHelpContext = 179;
  static constexpr int kWiderCompression = 252;

  // `store` and `view`: what the results window shows (the which-files test).
  CSaveRecovery(QWidget* parent, const FoundItemStore* store, int view);

  void OnOK();
  void OnBrowse();
  void OnAddFilter();
  void OnFtpOption();

  bool FullOptionsOffered() const { return m_bFullOptions; }

 private:
  void OnLocalDrive();
  void OnFtpServer();
  void OnCreateZip();
  void ApplyMarks();

  QString m_szDest;
  std::uint8_t m_bCreateZip = 0, m_nDestKind = 0, m_nZipMode = 0, m_nDeletedMode = 1;
  bool m_bFullOptions = false;
  std::int32_t m_bFtpReady = 0;  // the FTP settings were confirmed while this dialog is open

  QRadioButton* m_pLocal;
  QRadioButton* m_pFtp;
  QLineEdit* m_pLocalPath;
  QLineEdit* m_pFtpPath;
  QPushButton* m_pBrowse;
  QPushButton* m_pFtpOption;
  QPushButton* m_pOk;
  QCheckBox* m_pCreateZip;
  QRadioButton* m_pZipEach;
  QRadioButton* m_pZipSingle;
  QRadioButton* m_pWhich[3];
  QGroupBox* m_pCompression;
  QGroupBox* m_pRecovery;
};

}  // namespace corvan
