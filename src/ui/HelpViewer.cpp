#include "ui/HelpViewer.h"

#include <QApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

#include "platform/Folders.h"
#include "core/StringTable.h"
#include "ui/DialogLayout.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"
#include "ui/SkinnedDialog.h"

namespace corvan {

namespace {
QPointer<HelpViewer>& TheViewer() {
  static QPointer<HelpViewer> viewer;
  return viewer;
}
QString PathText(const std::filesystem::path& p) { return QString::fromStdString(p.string()); }

std::filesystem::path& HelpFolderSetting() {
  static std::filesystem::path folder;
  return folder;
}
}  // namespace

void SetHelpFolder(std::filesystem::path folder) { HelpFolderSetting() = std::move(folder); }

std::filesystem::path HelpFolder() {
  const std::filesystem::path& set = HelpFolderSetting();
  return set.empty() ? InstallFolder() / "help" : set;
}

std::filesystem::path HelpPagePath(int contextId) {
  return HelpFolder() / (std::to_string(contextId) + ".html");
}

HelpViewer* HelpViewer::Existing() { return TheViewer(); }

HelpViewer* HelpViewer::Instance() {
  if (!TheViewer()) TheViewer() = new HelpViewer();
  return TheViewer();
}

HelpViewer::HelpViewer() : QWidget(nullptr, Qt::Window) {
  PlacesItself(this);
  InitSharedLook();
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(ToQString(LoadString(104)) + QStringLiteral(" - ") + ToQString(LoadString(102)));
  resize(720, 540);
  setStyleSheet(DialogButtonStyleSheet());
  QPalette pal = palette();
  pal.setColor(QPalette::Window, FromColorRef(kDialogBackground));
  setPalette(pal);

  m_browser = new QTextBrowser(this);
  m_browser->setOpenExternalLinks(true);
  m_browser->setSearchPaths({PathText(HelpFolder())});
  m_browser->setFont(ArialFont(16));

  auto* back = new QPushButton(QStringLiteral("Back"), this);
  auto* contents = new QPushButton(QStringLiteral("Contents"), this);
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  SetDlgCtrlId(close, kIdCancel);
  for (QPushButton* b : {back, contents, close}) b->setFixedSize(90, 25);
  connect(back, &QPushButton::clicked, m_browser, &QTextBrowser::backward);
  connect(m_browser, &QTextBrowser::backwardAvailable, back, &QPushButton::setEnabled);
  back->setEnabled(false);
  connect(contents, &QPushButton::clicked, this, [this] {
    m_browser->setSource(QUrl::fromLocalFile(PathText(HelpFolder() / "index.html")));
  });
  connect(close, &QPushButton::clicked, this, &QWidget::close);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(back);
  buttons->addWidget(contents);
  buttons->addStretch(1);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_browser, 1);
  layout->addLayout(buttons);
}

void HelpViewer::showEvent(QShowEvent* e) {
  PlaceDialog(this, e);
  QWidget::showEvent(e);
}

void HelpViewer::ShowContext(int contextId) {
  m_nContext = contextId;
  const auto page = HelpPagePath(contextId);
  std::error_code ec;
  if (std::filesystem::is_regular_file(page, ec)) {
    m_browser->setSource(QUrl::fromLocalFile(PathText(page)));
  } else {
    m_browser->setHtml(QStringLiteral("<h2>Help</h2><p>There is no help page for this window (context %1).</p>")
                           .arg(contextId));
  }
}

void ShowHelpContext(int contextId) {
  HelpViewer* viewer = HelpViewer::Instance();
  // A modal dialog blocks every window but its own. The help window joins
  // the dialog it was asked from while that is open, and is a window of its
  // own again once the dialog has finished.
  QWidget* modal = QApplication::activeModalWidget();
  if (modal && modal != viewer && viewer->parentWidget() != modal) {
    viewer->setParent(modal, Qt::Window);
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      QObject::connect(dialog, &QDialog::finished, viewer, [viewer, dialog] {
        if (viewer->parentWidget() != dialog) return;
        const bool shown = viewer->isVisible();
        viewer->setParent(nullptr, Qt::Window);
        if (shown) viewer->show();
      });
    }
  }
  viewer->ShowContext(contextId);
  viewer->show();
  viewer->raise();
  viewer->activateWindow();
}

}  // namespace corvan
