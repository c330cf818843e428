#include "save/ui/CFTPSettings.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

#include "app/CORVANApp.h"
#include "core/StringIds.h"
#include "save/FtpSettings.h"
#include "save/ui/CServerBrowser.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {

// The port the box holds: 1 to 65535 as typed, or 0, the FTP default port,
// for nothing or zeros; none for anything else.
std::optional<std::uint16_t> PortOfBox(const QString& text) { return PortOrDefaultOfText(ToUtf8(text)); }

// The box shows whatever is typed or pasted up to the five characters of a
// port, so what OK refuses is seen and OK can say why; what it holds other
// than a port is only Intermediate. Dropping a character would leave
// another port in the box than the one the user named.
class PortValidator final : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& text, int&) const override {
    if (text.size() > 5) return Invalid;
    return PortOfBox(text) ? Acceptable : Intermediate;
  }
};

bool HoldsPort(const QLineEdit* box) { return PortOfBox(box->text()).has_value(); }

}  // namespace

CFTPSettings::CFTPSettings(QWidget* parent) : CSkinnedDialog(parent, QSize(420, 330), ProductCaption()) {
  setWindowTitle(QStringLiteral("FTP Settings"));
  QLabel* group = AddStatic(kIdGroup, QStringLiteral("FTP Settings"), QRect(12, 44, 396, 24));
  group->setFont(SharedFontAt(kFontArial16Bold));
  const struct {
    int id;
    const char* label;
    QLineEdit** edit;
    std::int32_t* flag;
  } fields[] = {{kIdServer, "Server:", &m_pServer, &m_bServerFilled},
                {kIdPort, "Port:", &m_pPort, &m_bPortFilled},
                {kIdUser, "User name:", &m_pUser, &m_bUserFilled},
                {kIdPassword, "Password:", &m_pPassword, &m_bPasswordFilled},
                {kIdRemoteFolder, "Remote folder:", &m_pFolder, &m_bFolderFilled}};
  int y = 80;
  for (const auto& f : fields) {
    AddStatic(0, QString::fromLatin1(f.label), QRect(20, y + 3, 110, 20));
    auto* edit = new QLineEdit(this);
    SetDlgCtrlId(edit, f.id);
    edit->setGeometry(134, y, f.id == kIdRemoteFolder ? 164 : 266, 24);
    edit->setMaxLength(259);
    *f.edit = edit;
    std::int32_t* flag = f.flag;
    connect(edit, &QLineEdit::textChanged, this, [this, edit, flag](const QString& text) {
      // The port counts once it is one the box takes.
      *flag = text.isEmpty() || (edit == m_pPort && !HoldsPort(edit)) ? 0 : 1;
      UpdateStates();
    });
    y += 36;
  }
  m_pPort->setValidator(new PortValidator(m_pPort));
  m_pPassword->setEchoMode(QLineEdit::Password);
  m_pBrowse = AddButton(kIdBrowseFtp, QStringLiteral("Browse FTP..."), QRect(306, 223, 96, 26));
  QPushButton* help = AddButton(kIdHelp, QStringLiteral("Help"), QRect(12, 288, 80, 28));
  m_pOk = AddButton(kIdOk, QStringLiteral("OK"), QRect(226, 288, 86, 28));
  QPushButton* cancel = AddButton(kIdCancel, QStringLiteral("Cancel"), QRect(322, 288, 86, 28));
  for (QPushButton* b : {m_pBrowse, help, cancel}) b->setAutoDefault(false);
  m_pOk->setDefault(true);
  UpdateStates();

  connect(m_pOk, &QPushButton::clicked, this, &CFTPSettings::OnOK);
  connect(m_pBrowse, &QPushButton::clicked, this, &CFTPSettings::OnBrowseFtp);
  connect(cancel, &QPushButton::clicked, this, &CFTPSettings::reject);
  connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kHelpContext); });
}

void CFTPSettings::UpdateStates() {
  const bool connection = m_bServerFilled && m_bPortFilled && m_bUserFilled && m_bPasswordFilled;
  m_pBrowse->setEnabled(connection);
  m_pFolder->setEnabled(connection);
  m_pOk->setEnabled(m_bFolderFilled != 0);
}

void CFTPSettings::OnOK() {
  // Only a port as typed is stored: a number past 65535 would reach the
  // port of its low bits, and text with a letter that of its leading digits.
  const std::optional<std::uint16_t> port = PortOfBox(m_pPort->text());
  if (!port) {
    App().GetPrompt().MessageBoxId(kIdsFtpPortRefused, kPicError, kMbOk);
    m_pPort->setFocus();
    m_pPort->selectAll();
    return;
  }
  FtpSettings& s = App().m_saveChoice.m_ftpSettings;
  s.server = ToUtf8(m_pServer->text());
  s.user = ToUtf8(m_pUser->text());
  s.password = ToUtf8(m_pPassword->text());
  s.portText = ToUtf8(m_pPort->text());
  s.port = *port;
  s.remoteFolder = ToUtf8(m_pFolder->text());
  done(kIdOk);
}

void CFTPSettings::OnBrowseFtp() {
  CServerBrowser browser(m_pServer->text(), m_pUser->text(), m_pPassword->text(), m_pPort->text(), this);
  browser.exec();
  // Whatever the browser returned, the remote folder shows what the
  // settings hold now, and OK follows that text: setting the text it
  // already has tells no one.
  m_pFolder->setText(ToQString(App().m_saveChoice.m_ftpSettings.remoteFolder));
  m_bFolderFilled = m_pFolder->text().isEmpty() ? 0 : 1;
  UpdateStates();
}

}  // namespace corvan
