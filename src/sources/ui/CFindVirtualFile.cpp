#include "sources/ui/CFindVirtualFile.h"

#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>

#include "app/CORVANApp.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "sources/ui/ImageFileSearch.h"
#include "sources/ui/SourceArt.h"
#include "ui/CXColorListCtrl.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

std::function<QString(QWidget*)>& CFindVirtualFile::FolderChooser() {
  static std::function<QString(QWidget*)> chooser = [](QWidget* parent) {
    return QFileDialog::getExistingDirectory(parent, QStringLiteral("Select Folder to search Virtual File"));
  };
  return chooser;
}

CFindVirtualFile::CFindVirtualFile(QWidget* parent) : CSkinnedDialog(parent, QSize(480, 420)) {
  setWindowTitle(QStringLiteral("Search Virtual Image file"));
  auto* group = new QGroupBox(QStringLiteral("Search Virtual Image file"), this);
  SetDlgCtrlId(group, kIdGroup);
  group->setGeometry(12, 42, 456, 118);
  group->setFont(SharedFontAt(kFontArial14Bold));

  const char* labels[] = {"VMware (*.vmdk)", "VirtualBox (*.vdi)", "VirtualPC (*.vhd)"};
  const int ids[] = {kIdVmware, kIdVirtualBox, kIdVirtualPc};
  for (int i = 0; i < 3; ++i) {
    m_radios[i] = new QRadioButton(QString::fromLatin1(labels[i]), this);
    SetDlgCtrlId(m_radios[i], ids[i]);
    m_radios[i]->setGeometry(26 + i * 148, 64, 146, 20);
  }
  const std::uint32_t type = App().m_nImageType;
  m_radios[type == 2 ? 1 : type == 3 ? 2 : 0]->setChecked(true);

  // An editable list of the places to search: the home folder and the
  // mounted file systems.
  m_folder = new QComboBox(this);
  m_folder->setEditable(true);
  SetDlgCtrlId(m_folder, kIdFolder);
  m_folder->setGeometry(26, 92, 280, 24);
  for (const auto& root : SystemImageSearchRoots()) m_folder->addItem(QString::fromStdString(root.string()));
  m_folder->setCurrentIndex(-1);
  m_folder->setEditText(QString());
  // The folder typed is the folder searched: no completion to a listed
  // folder that begins with it, and Enter adds nothing to the list.
  m_folder->setCompleter(nullptr);
  m_folder->setInsertPolicy(QComboBox::NoInsert);
  HighlightControl(m_folder);

  m_btnSelect = AddButton(kIdSelectFolder, QStringLiteral("Select Folder..."), QRect(314, 91, 140, 26));
  m_btnFind = AddButton(kIdFind, QStringLiteral("Find"), QRect(314, 124, 140, 26));
  m_btnStop = AddButton(kIdStop, QStringLiteral("Stop"), QRect(314, 124, 140, 26));
  m_btnStop->hide();

  m_animation = new QProgressBar(this);
  SetDlgCtrlId(m_animation, kIdAnimation);
  m_animation->setGeometry(26, 128, 280, 16);
  m_animation->setRange(0, 0);
  m_animation->setTextVisible(false);
  m_animation->hide();

  AddStatic(0, QStringLiteral("Select file to recover data:"), QRect(12, 168, 300, 18));
  m_list = new CXColorListCtrl;
  CreateReportList(this, kIdList, QRect(12, 188, 456, 180), *m_list);
  m_list->setFont(ArialFont(14));
  m_list->setColumnCount(1);
  m_list->setHorizontalHeaderLabels({ToQString(LoadString(kIdsImageFile))});
  m_list->horizontalHeader()->setStretchLastSection(true);
  m_list->setIconSize(QSize(16, 16));

  m_btnClear = AddButton(kIdClearList, QStringLiteral("Clear List"), QRect(12, 380, 100, 26));
  m_btnOk = AddButton(kIdOk, QStringLiteral("OK"), QRect(280, 380, 90, 26));
  QWidget* cancel = AddButton(kIdCancel, QStringLiteral("Cancel"), QRect(378, 380, 90, 26));
  m_btnClear->setEnabled(false);
  m_btnOk->setEnabled(false);

  const auto on = [this](QWidget* b, void (CFindVirtualFile::*fn)()) {
    connect(static_cast<QPushButton*>(b), &QPushButton::clicked, this, fn);
  };
  on(m_btnSelect, &CFindVirtualFile::OnSelectFolder);
  on(m_btnFind, &CFindVirtualFile::OnFind);
  on(m_btnStop, &CFindVirtualFile::OnStop);
  on(m_btnClear, &CFindVirtualFile::OnClearList);
  on(m_btnOk, &CFindVirtualFile::OnOK);
  on(cancel, &CFindVirtualFile::OnCancel);
  connect(m_list, &QTableWidget::cellDoubleClicked, this, [this] { OnOK(); });
}

CFindVirtualFile::~CFindVirtualFile() {
  // Only reached while searching when the window is torn down from outside
  // (the program ends): the walk sees the flag before its next entry.
  m_bStop = true;
  if (m_worker.joinable()) m_worker.join();
}

void CFindVirtualFile::OnSelectFolder() {
  const QString folder = FolderChooser() ? FolderChooser()(this) : QString();
  if (!folder.isEmpty()) m_folder->setEditText(folder);
}

QString CFindVirtualFile::CheckedExtension() const {
  if (m_radios[1]->isChecked()) return QStringLiteral(".vdi");
  if (m_radios[2]->isChecked()) return QStringLiteral(".vhd");
  return QStringLiteral(".vmdk");
}

void CFindVirtualFile::OnFind() {
  if (m_bSearching) return;
  const QString folder = m_folder->currentText().trimmed();
  if (folder.isEmpty()) {
    App().GetPrompt().MessageBox("Select any folder to find virtual files", kPicInformation, kMbOk);
    return;
  }
  m_btnFind->hide();
  m_btnSelect->setEnabled(false);
  m_btnOk->setEnabled(false);
  m_btnStop->show();
  m_animation->show();
  m_bStop = false;
  m_bSearching = true;
  m_nFoundCount = 0;
  m_list->setRowCount(0);
  m_btnClear->setEnabled(false);

  const std::filesystem::path root = folder.toStdString();
  const std::string ext = CheckedExtension().toStdString();
  if (m_worker.joinable()) m_worker.join();
  QPointer<CFindVirtualFile> self(this);
  m_worker = std::thread([this, self, root, ext] {
    ImageFileSearch search(ImageFileSearch::SystemSkipMounts());
    search.Walk(root, ext, m_bStop, [self](const std::filesystem::path& p) {
      if (!IsImageToList(p)) return;
      const QString path = QString::fromStdString(p.string());
      QMetaObject::invokeMethod(self, [self, path] { if (self) self->OnFileFound(path); }, Qt::QueuedConnection);
    });
    QMetaObject::invokeMethod(self, [self] { if (self) self->OnSearchEnded(); }, Qt::QueuedConnection);
  });
}

void CFindVirtualFile::OnFileFound(const QString& path) {
  // Each new file on top, as found.
  m_list->insertRow(0);
  auto* item = new QTableWidgetItem(path);
  item->setIcon(ImageTypeIcon(static_cast<int>(
      ImageIndexForExtension(std::filesystem::path(path.toStdString()).extension().string()))));
  m_list->setItem(0, 0, item);
  ++m_nFoundCount;
  m_btnClear->setEnabled(true);
  m_btnOk->setEnabled(!m_bSearching);
}

void CFindVirtualFile::OnSearchEnded() {
  // The worker's last act was to post this: joining returns at once.
  if (m_worker.joinable()) m_worker.join();
  m_bSearching = false;
  m_animation->hide();
  m_btnStop->hide();
  m_btnFind->show();
  m_btnSelect->setEnabled(true);
  m_btnOk->setEnabled(m_nFoundCount > 0);
  if (m_nFoundCount == 0) App().GetPrompt().MessageBox("No virtual image file found", kPicInformation, kMbOk);
  emit SearchEnded();
}

void CFindVirtualFile::OnStop() { m_bStop = true; }

void CFindVirtualFile::OnClearList() {
  if (m_list->rowCount() == 0) return;
  m_list->setRowCount(0);
  m_btnClear->setEnabled(false);
  m_btnOk->setEnabled(false);
  m_nFoundCount = 0;
}

void CFindVirtualFile::OnOK() {
  if (m_bSearching) {
    App().GetPrompt().MessageBox("Please wait or stop the searching process to continue", kPicInformation, kMbOk);
    return;
  }
  const int row = m_list->currentRow();
  const bool selected = row >= 0 && m_list->item(row, 0) && m_list->item(row, 0)->isSelected();
  if (!selected) {
    if (m_list->rowCount() == 0) return EndDialog(kIdOk);
    App().GetPrompt().MessageBox("Select any file from list to continue", kPicInformation, kMbOk);
    return;
  }
  const QString path = m_list->item(row, 0)->text();
  const std::filesystem::path p = path.toStdString();
  CORVANApp& app = App();
  if (const std::uint32_t type = ImageIndexForExtension(p.extension().string())) app.m_nImageType = type;
  app.m_strImagePath = p;
  m_bChosen = true;
  EndDialog(kIdOk);
}

void CFindVirtualFile::OnCancel() {
  if (m_bSearching) {
    App().GetPrompt().MessageBox("Please stop the current process to exit", kPicInformation, kMbOk);
    return;
  }
  EndDialog(kIdCancel);
}

}  // namespace corvan
