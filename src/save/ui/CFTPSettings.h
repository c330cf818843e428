#pragma once
// "FTP Settings": the server, port, user name, password and remote folder
// a save to an FTP server uses. Browse FTP... (once the four connection
// fields hold text, the port 1 to 65535 or 0 for the FTP default port)
// opens the server browser; OK (once a remote folder is given) stores the
// five texts in the application's FTP settings, an empty port meaning the
// default one, and refuses, saying why, a port box holding anything else
// (it shows up to five characters as typed). The fields start empty each
// time the dialog opens.

#include <cstdint>

#include "ui/SkinnedDialog.h"

class QLineEdit;
class QPushButton;

namespace corvan {

class CFTPSettings : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdOk = 1, kIdCancel = 2, kIdBrowseFtp = 1059, kIdHelp = 1067, kIdServer = 1169,
                       kIdPort = 1189, kIdUser = 1190, kIdPassword = 1191, kIdRemoteFolder = 1034,
                       kIdGroup = 1036;
  static constexpr int kHelpContext = 179;

  explicit CFTPSettings(QWidget* parent = nullptr);

  void OnOK();
  void OnBrowseFtp();

 private:
  // Browse FTP... and the remote folder need the four connection fields,
  // OK the remote folder (untrimmed lengths: a blank counts as text).
  void UpdateStates();

  std::int32_t m_bPortFilled = 0, m_bPasswordFilled = 0, m_bServerFilled = 0, m_bUserFilled = 0,
               m_bFolderFilled = 0;
  QLineEdit* m_pServer;
  QLineEdit* m_pPort;
  QLineEdit* m_pUser;
  QLineEdit* m_pPassword;
  QLineEdit* m_pFolder;
  QPushButton* m_pBrowse;
  QPushButton* m_pOk;
};

}  // namespace corvan
