#include "app/ui/CAboutDlg.h"

#include <QLabel>
#include <QPushButton>
#include <QSysInfo>

#include "app/CORVANApp.h"
#include "core/StringTable.h"
#include "app/ui/CEula.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {
QLabel* MakeLink(CSkinnedDialog* dlg, int id, const QString& text, const std::string& target, const QRect& r) {
  QLabel* l = dlg->AddStatic(id, QString(), r);
  if (target.empty()) {
    l->hide();  // a link that was not installed is left out
    return l;
  }
  l->setTextFormat(Qt::RichText);
  l->setText(QStringLiteral("<a href=\"%1\" style=\"color:#1a5c99\">%2</a>")
                 .arg(ToQString(target).toHtmlEscaped(), text.toHtmlEscaped()));
  l->setOpenExternalLinks(true);
  l->setCursor(Qt::PointingHandCursor);
  l->setFont(ArialFont(14));
  return l;
}
}  // namespace

QString CAboutDlg::OsName() { return QSysInfo::prettyProductName(); }

QString CAboutDlg::OsVersion() {
  QString type = QSysInfo::kernelType();
  if (!type.isEmpty()) type[0] = type[0].toUpper();
  return type + QLatin1Char(' ') + QSysInfo::kernelVersion();
}

QString CAboutDlg::VersionText() {
  std::string version = App().GetProductKey().Read("Version");
  if (version.empty()) version = CORVAN_VERSION_TEXT;
  return QStringLiteral("v") + ToQString(version);
}

CAboutDlg::CAboutDlg(QWidget* parent) : CSkinnedDialog(parent, QSize(420, 330), ToQString(LoadString(101)), kIdCaption) {
  setWindowTitle(ToQString(LoadString(101)));

  QLabel* product = AddStatic(kIdProductName, ToQString(LoadString(102)), QRect(20, 48, 380, 24));
  product->setFont(SharedFontAt(kFontArial16Bold));

  QLabel* details = AddStatic(kIdProductDetails, QStringLiteral("Product Details"), QRect(20, 86, 200, 20));
  details->setFont(SharedFontAt(kFontArial14Bold));
  AddStatic(0, QStringLiteral("Version:"), QRect(36, 108, 130, 20))->setFont(ArialFont(14));
  AddStatic(kIdVersion, VersionText(), QRect(170, 108, 230, 20))->setFont(ArialFont(14));

  QLabel* system = AddStatic(kIdSystemDetails, QStringLiteral("System Details"), QRect(20, 142, 200, 20));
  system->setFont(SharedFontAt(kFontArial14Bold));
  AddStatic(0, QStringLiteral("Operating system:"), QRect(36, 164, 130, 20))->setFont(ArialFont(14));
  QLabel* osName = AddStatic(kIdOsName, OsName(), QRect(170, 164, 230, 20));
  osName->setFont(ArialFont(14));
  osName->setToolTip(osName->text());
  AddStatic(0, QStringLiteral("Version:"), QRect(36, 186, 130, 20))->setFont(ArialFont(14));
  AddStatic(kIdOsVersion, OsVersion(), QRect(170, 186, 230, 20))->setFont(ArialFont(14));

  ProductKey& key = App().GetProductKey();
  QLabel* supLink = MakeLink(this, kIdSupportLink, QStringLiteral("Support"), key.Read("SupLink"), QRect(20, 222, 180, 22));
  supLink->setFont(SharedFontAt(kFontArial16Bold));
  MakeLink(this, kIdSupport, QStringLiteral("Support"), key.Read("SupportLink"), QRect(20, 246, 180, 20));

  QPushButton* license = AddButton(kIdViewLicense, QStringLiteral("View User License"), QRect(20, 286, 150, 26));
  QPushButton* close = AddButton(kIdOk, QStringLiteral("Close"), QRect(320, 286, 80, 26));
  close->setDefault(true);
  connect(license, &QPushButton::clicked, this, &CAboutDlg::OnViewLicense);
  connect(close, &QPushButton::clicked, this, [this] { EndDialog(kIdOk); });
}

void CAboutDlg::OnViewLicense() {
  EndDialog(kIdOk);
  CEula eula(parentWidget());
  eula.exec();
}

}  // namespace corvan
