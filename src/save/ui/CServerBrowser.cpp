#include "save/ui/CServerBrowser.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>

#include "app/CORVANApp.h"
#include "save/FtpSettings.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {
constexpr int kRequestRole = Qt::UserRole + 1;  // the listing an item waits for
constexpr int kFolderRole = Qt::UserRole + 2;   // a listed folder, not a placeholder
}  // namespace

CServerBrowser::CServerBrowser(const QString& server, const QString& user, const QString& password,
                               const QString& portText, QWidget* parent)
    : CSkinnedDialog(parent, QSize(420, 430), ProductCaption()),
      m_strServer(server),
      m_strUser(user),
      m_strPassword(password),
      m_strPortText(portText) {
  setWindowTitle(QStringLiteral("Select folder on FTP server to save data"));
  QLabel* group =
      AddStatic(kIdGroup, QStringLiteral("Select folder on FTP server to save data"), QRect(12, 44, 396, 24));
  group->setFont(SharedFontAt(kFontArial16Bold));
  m_pTree = new QTreeWidget(this);
  SetDlgCtrlId(m_pTree, kIdTree);
  m_pTree->setGeometry(12, 74, 396, 300);
  m_pTree->setHeaderHidden(true);
  m_pTree->setRootIsDecorated(true);
  m_pTree->setStyleSheet(QStringLiteral("QTreeWidget { background: #FFF7CC; }"));
  QPushButton* help = AddButton(kIdHelp, QStringLiteral("Help"), QRect(12, 388, 80, 28));
  QPushButton* ok = AddButton(kIdOk, QStringLiteral("OK"), QRect(226, 388, 86, 28));
  QPushButton* cancel = AddButton(kIdCancel, QStringLiteral("Cancel"), QRect(322, 388, 86, 28));
  help->setAutoDefault(false);
  cancel->setAutoDefault(false);
  ok->setDefault(true);

  auto* root = new QTreeWidgetItem(m_pTree, QStringList{QStringLiteral("/")});
  root->setIcon(0, style()->standardIcon(QStyle::SP_DriveNetIcon));
  root->setData(0, kFolderRole, true);
  AddPlaceholder(root);
  m_pTree->setCurrentItem(root);
  m_hCurItem = root;
  m_strPath = root->text(0);
  // Port 0 is the FTP default port.
  m_nPort = PortFromText(ToUtf8(m_strPortText));

  connect(m_pTree, &QTreeWidget::itemExpanded, this, &CServerBrowser::OnItemExpanding);
  connect(m_pTree, &QTreeWidget::itemCollapsed, this, &CServerBrowser::OnItemCollapsed);
  connect(m_pTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    m_hCurItem = item;
    m_strPath = item ? item->text(0) : QString();
  });
  connect(ok, &QPushButton::clicked, this, &CServerBrowser::OnOK);
  connect(cancel, &QPushButton::clicked, this, &CServerBrowser::reject);
  connect(help, &QPushButton::clicked, this, [] { ShowHelpContext(kHelpContext); });
}

CServerBrowser::~CServerBrowser() {
  // Running listings stop at their next poll; none reports back after this.
  m_closing = true;
  for (auto& [request, t] : m_workers)
    if (t.joinable()) t.join();
}

QString CServerBrowser::PathOf(const QTreeWidgetItem* item) {
  if (!item) return {};
  QString path = item->text(0);
  if (!item->parent()) return QStringLiteral("/");
  for (const QTreeWidgetItem* up = item->parent(); up; up = up->parent())
    path = up->parent() ? up->text(0) + QLatin1Char('/') + path : QLatin1Char('/') + path;
  return path;
}

void CServerBrowser::AddPlaceholder(QTreeWidgetItem* item) {
  auto* placeholder = new QTreeWidgetItem(item, QStringList{kPlaceholder});
  placeholder->setIcon(0, style()->standardIcon(QStyle::SP_DriveNetIcon));
  placeholder->setFlags(Qt::NoItemFlags);  // not a folder to choose
}

void CServerBrowser::RemovePlaceholder(QTreeWidgetItem* item) {
  if (item->childCount() > 0 && !item->child(0)->data(0, kFolderRole).toBool()) delete item->takeChild(0);
}

void CServerBrowser::Forget(QTreeWidgetItem* item) {
  const QVariant request = item->data(0, kRequestRole);
  if (request.isValid()) m_pending.remove(request.toInt());
  item->setData(0, kRequestRole, QVariant());
  for (int i = 0; i < item->childCount(); ++i) Forget(item->child(i));
}

void CServerBrowser::OnItemExpanding(QTreeWidgetItem* item) {
  if (item->childCount() == 0 || item->child(0)->data(0, kFolderRole).toBool()) return;  // listed already
  if (item->data(0, kRequestRole).isValid()) return;  // being listed
  const int request = m_nextRequest++;
  item->setData(0, kRequestRole, request);
  m_pending.insert(request, item);
  const FtpServer server{ToUtf8(m_strServer), ConnectionPort(m_nPort), ToUtf8(m_strUser), ToUtf8(m_strPassword)};
  const std::string path = ToUtf8(PathOf(item));
  const FtpTimeouts timeouts = m_timeouts;
  QPointer<CServerBrowser> self(this);
  m_workers.emplace(request, std::thread([this, self, server, path, timeouts, request] {
    FtpReply r;
    std::string text;
    {
      // The connection ends here, so the join that follows the report does
      // not wait for the server.
      FtpClient ftp(server, timeouts);
      ftp.SetInterrupt([this] { return m_closing.load(); });
      std::string login;
      r = ftp.Connect(login);
      if (r.ok) r = ftp.List(path, text);
    }
    if (m_closing) return;
    const std::vector<FtpListEntry> entries = r.ok ? ParseFtpListing(text) : std::vector<FtpListEntry>{};
    const QString error = ToQString(r.Describe());
    const bool ok = r.ok;
    QMetaObject::invokeMethod(
        self, [self, request, ok, error, entries] {
          if (self) self->WorkerDone(request, ok, error, entries);
        },
        Qt::QueuedConnection);
  }));
}

void CServerBrowser::WorkerDone(int request, bool ok, const QString& error, const std::vector<FtpListEntry>& entries) {
  if (auto it = m_workers.find(request); it != m_workers.end()) {
    if (it->second.joinable()) it->second.join();
    m_workers.erase(it);
  }
  ListingDone(request, ok, error, entries);
}

void CServerBrowser::ListingDone(int request, bool ok, const QString& error, const std::vector<FtpListEntry>& entries) {
  QTreeWidgetItem* item = m_pending.take(request);
  if (!item) return;  // collapsed meanwhile
  item->setData(0, kRequestRole, QVariant());
  if (!ok) {
    // As the server gave no folders: the item shows none; the reason goes
    // to standard output only.
    std::printf("ERROR!  %s\n", ToUtf8(error).c_str());
    std::fflush(stdout);
  }
  ShowListing(item, entries);
}

void CServerBrowser::ShowListing(QTreeWidgetItem* item, const std::vector<FtpListEntry>& entries) {
  std::vector<QString> names;
  for (const FtpListEntry& e : entries)
    if (e.directory) names.push_back(ToQString(e.name));
  std::sort(names.begin(), names.end());
  RemovePlaceholder(item);
  for (const QString& name : names) {
    auto* folder = new QTreeWidgetItem(item, QStringList{name});
    folder->setIcon(0, style()->standardIcon(QStyle::SP_DirIcon));
    folder->setData(0, kFolderRole, true);
    AddPlaceholder(folder);
  }
}

void CServerBrowser::OnItemCollapsed(QTreeWidgetItem* item) {
  // The next expansion lists the folder afresh.
  Forget(item);
  while (item->childCount() > 0) delete item->takeChild(0);
  AddPlaceholder(item);
}

void CServerBrowser::OnOK() {
  App().m_saveChoice.m_ftpSettings.remoteFolder = m_hCurItem ? ToUtf8(PathOf(m_hCurItem)) : std::string();
  done(kIdOk);
}

}  // namespace corvan
