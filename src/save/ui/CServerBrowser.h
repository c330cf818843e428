#pragma once
// "Select folder on FTP server to save data": the server's folders as a
// tree, listed one level at a time when a folder is expanded (collapsing
// forgets the level, so the next expansion lists it afresh). Each listing
// runs on a worker of its own with a connection of its own; the window
// never waits for the server, and closing it stops what is still running.
// OK stores the chosen folder's path from the root ("/", "/a/b") as the
// remote folder of the FTP settings.

#include <QHash>
#include <QString>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "save/FtpClient.h"
#include "save/FtpListParser.h"
#include "ui/SkinnedDialog.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace corvan {

class CServerBrowser : public CSkinnedDialog {
  Q_OBJECT
 public:
  static constexpr int kIdOk = 1, kIdCancel = 2, kIdHelp = 1059, kIdTree = 1188, kIdGroup = 1036;
  static constexpr int kHelpContext = 179;
  static inline const QString kPlaceholder = QStringLiteral("empty");

  CServerBrowser(const QString& server, const QString& user, const QString& password, const QString& portText,
                 QWidget* parent = nullptr);
  ~CServerBrowser() override;

  QTreeWidget* Tree() const { return m_pTree; }
  // The path of a tree item from the server's root: "/" for the root.
  static QString PathOf(const QTreeWidgetItem* item);
  // Puts a folder's listing under `item` (sub-folders only, sorted, each
  // with its placeholder); none leaves the item without an expand button.
  void ShowListing(QTreeWidgetItem* item, const std::vector<FtpListEntry>& entries);
  // Listings still running.
  int PendingListings() const { return static_cast<int>(m_pending.size()); }
  // Workers not joined yet: each is joined as soon as its listing is back.
  int HeldWorkers() const { return static_cast<int>(m_workers.size()); }

  // Timeouts of the listings' connections (tests shorten them).
  void SetTimeouts(FtpTimeouts timeouts) { m_timeouts = timeouts; }

  void OnOK();

 private:
  void OnItemExpanding(QTreeWidgetItem* item);
  void OnItemCollapsed(QTreeWidgetItem* item);
  // On the window's thread when a listing's worker has done its work: the
  // worker is joined, then the listing shown.
  void WorkerDone(int request, bool ok, const QString& error, const std::vector<FtpListEntry>& entries);
  void ListingDone(int request, bool ok, const QString& error, const std::vector<FtpListEntry>& entries);
  void AddPlaceholder(QTreeWidgetItem* item);
  void RemovePlaceholder(QTreeWidgetItem* item);
  void Forget(QTreeWidgetItem* item);

  QString m_strServer, m_strUser, m_strPassword, m_strPortText, m_strPath;
  std::int32_t m_nPort = 0;
  QTreeWidgetItem* m_hCurItem = nullptr;
  QTreeWidget* m_pTree;
  FtpTimeouts m_timeouts;
  int m_nextRequest = 1;
  QHash<int, QTreeWidgetItem*> m_pending;
  std::atomic<bool> m_closing{false};
  std::map<int, std::thread> m_workers;  // by request
};

}  // namespace corvan
