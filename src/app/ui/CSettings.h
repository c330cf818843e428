#pragma once
// The settings dialog of the start screen: on " General Settings " the log
// report (saved or not, and where), the update check at start and "Update
// Now", whether the Advance scan skips the signature search, and which FAT
// copy the open FAT volume links its files with; on " Add File Types " the
// choice of Raw Recovery's file types, their editor and the header dialog.
// OK keeps everything; Cancel writes nothing.

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "ui/SkinnedDialog.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace corvan {

class CEditList;
class CXColorTab;
class ScanSession;
class FileTypeChoice;

class CSettings : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdUpdateNow = 1059, kIdBrowse = 1067, kIdEdit = 1073, kIdTab = 1099, kIdCheckUpdate = 1100,
                       kIdSaveLog = 1101, kIdSetRaw = 1102, kIdSelectAll = 1103, kIdUnselectAll = 1104,
                       kIdAppendHeader = 1105, kIdLinkingMode = 1106, kIdList = 1107, kIdAppendHint = 1108,
                       kIdLinkingLabel = 1109, kIdFatOnly = 1110, kIdScanGroup = 1111, kIdLogGroup = 1112,
                       kIdLogPathLabel = 1113, kIdLogPath = 1114, kIdUpdateGroup = 1115, kIdFilterLabel = 1118,
                       kIdGroupCombo = 1117, kIdTitle = 1122;

  // The folder browser of "Browse..." (parent, title); an empty answer
  // leaves the folder as it is. Tests give their own.
  static std::function<QString(QWidget*, const QString&)>& FolderChooser();

  explicit CSettings(QWidget* parent = nullptr);
  ~CSettings() override;

  CXColorTab* Tab() const { return m_pTab; }
  CEditList* List() const { return m_pList; }
  FileTypeChoice& Choice() const { return *m_pChoice; }
  QString LogFolder() const { return m_strLogPath; }

  void OnTabSelChange(int tab);
  void OnSaveLogClicked();
  void OnBrowseLogFolder();
  void OnUpdateNow();
  void OnEditFileType();
  void OnAppendHeaderFile();
  void OnOK();
  void accept() override { OnOK(); }

 protected:
  void keyPressEvent(QKeyEvent* e) override;

 private:
  // The session whose engine's linking the combo may change: one that
  // offers the choice, with an open volume and no worker using it; null
  // otherwise.
  static ScanSession* LinkableSession();
  void UpdateControls();

  // Profile values as the dialog opened, then as the controls say.
  QString m_strLogPath;
  QString m_strDefaultLogPath;  // shown when no log folder is set
  int m_bCheckUpdate = 0;
  int m_bSaveLog = 0;
  int m_nSetRaw = 1;

  int m_nSavedTabStyle;
  CXColorTab* m_pTab;
  QLineEdit* m_pLogPath;
  QPushButton* m_pBrowse;
  QCheckBox* m_pSaveLog;
  QCheckBox* m_pCheckUpdate;
  QCheckBox* m_pSetRaw;
  QComboBox* m_pLinkingMode;
  CEditList* m_pList;
  FileTypeChoice* m_pChoice;
  std::vector<QWidget*> m_tabControls[2];
};

}  // namespace corvan
