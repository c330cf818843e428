#pragma once
// The About box: product and system details and the support links.

#include <QString>

#include "ui/SkinnedDialog.h"

namespace corvan {

class CAboutDlg : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdCaption = 1007;
  static constexpr int kIdProductName = 1036;
  static constexpr int kIdProductDetails = 1010;
  static constexpr int kIdSystemDetails = 1037;
  static constexpr int kIdVersion = 1018;
  static constexpr int kIdOsName = 1020;
  static constexpr int kIdOsVersion = 1021;
  static constexpr int kIdSupport = 1030;
  static constexpr int kIdSupportLink = 1457;
  static constexpr int kIdViewLicense = 1005;

  explicit CAboutDlg(QWidget* parent = nullptr);

  // Closes the About box, then shows the licence agreement.
  void OnViewLicense();

  // The operating system's name ("Debian GNU/Linux 12 (bookworm)") and
  // version (the kernel's, "Linux 6.1.0-18-amd64").
  static QString OsName();
  static QString OsVersion();
  // "v" and the program's version.
  static QString VersionText();
};

}  // namespace corvan
