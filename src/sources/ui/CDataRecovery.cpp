#include "sources/ui/CDataRecovery.h"

#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>

#include "core/AppServices.h"
#include "app/CORVANApp.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "scan/ui/CSliderOptionDlg.h"
#include "app/SourceSetup.h"
#include "sources/ui/CFileSplittedExtent.h"
#include "sources/ui/CFindVirtualFile.h"
#include "sources/ui/SourceArt.h"
#include "ui/CTButton.h"
#include "ui/CXColorListCtrl.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {

QString Str(unsigned id) { return ToQString(LoadString(id)); }

QWidget* MakeFrame(QWidget* parent, int id) {
  auto* f = new QFrame(parent);
  SetDlgCtrlId(f, id);
  f->setFrameShape(QFrame::Box);
  f->setStyleSheet(QStringLiteral("QFrame { border: 1px solid #91C4B1; }"));
  return f;
}

void SetTextColour(QWidget* w, std::uint32_t colorRef) {
  QPalette pal = w->palette();
  pal.setColor(QPalette::WindowText, FromColorRef(colorRef));
  w->setPalette(pal);
}

void SetupList(QWidget* page, int id, CXColorListCtrl& list, const QStringList& headings) {
  CreateReportList(page, id, QRect(21, 288, 545, 160), list);
  list.setFont(ArialFont(14));
  list.setColumnCount(5);
  list.setHorizontalHeaderLabels(headings);
  list.setIconSize(QSize(16, 16));
  list.horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  list.verticalHeader()->setDefaultSectionSize(20);
}

}  // namespace

CDataRecovery::CDataRecovery(QWidget* parent) : CStartPage(parent) {
  setObjectName(QStringLiteral("CDataRecovery"));
  resize(kSize);
  const QFont& bold = SharedFontAt(kFontArial14Bold);
  const QFont plain = ArialFont(14);

  auto* typeGroup = new QGroupBox(QStringLiteral("Select Virtual Machine Image Type"), this);
  SetDlgCtrlId(typeGroup, kIdTypeGroup);
  typeGroup->setGeometry(14, 4, 560, 124);
  typeGroup->setFont(bold);
  const char* labels[] = {"VMware (*.vmdk)", "VirtualBox (*.vdi)", "VirtualPC (*.vhd)"};
  const int ids[] = {kIdVmware, kIdVirtualBox, kIdVirtualPc};
  for (int i = 0; i < 3; ++i) {
    m_radios[i] = new QRadioButton(QString::fromLatin1(labels[i]), this);
    SetDlgCtrlId(m_radios[i], ids[i]);
    m_radios[i]->setGeometry(30 + i * 180, 28, 170, 20);
    m_radios[i]->setFont(plain);
  }
  m_path = new QLineEdit(this);
  SetDlgCtrlId(m_path, kIdPath);
  m_path->setGeometry(30, 56, 330, 24);
  m_path->setFont(plain);
  HighlightControl(m_path);
  auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
  SetDlgCtrlId(browse, kIdBrowse);
  browse->setGeometry(370, 55, 92, 26);
  auto* find = new QPushButton(QStringLiteral("Find..."), this);
  SetDlgCtrlId(find, kIdFind);
  find->setGeometry(468, 55, 92, 26);
  auto* hint = AddStaticText(this, kIdHint,
                             QStringLiteral("Click 'Browse' to select Virtual Machine (VM) image. Use 'Find' button to "
                                            "search for image file."),
                             QRect(30, 88, 530, 34), plain);
  hint->setWordWrap(true);
  m_btnMount = new QPushButton(QStringLiteral(" Mount Virtual Disk"), this);
  SetDlgCtrlId(m_btnMount, kIdMount);
  m_btnMount->setGeometry(200, 134, 180, 28);
  m_btnMount->setFont(bold);

  auto* details = new QGroupBox(QStringLiteral("Selected Virtual Machine Details"), this);
  SetDlgCtrlId(details, kIdDetailsGroup);
  details->setGeometry(14, 166, 560, 86);
  details->setFont(bold);
  AddStaticText(this, kIdNameLabel, QStringLiteral("VM Image Name:"), QRect(30, 186, 110, 20), plain);
  AddStaticText(this, kIdKindLabel, QStringLiteral("VM File Type:"), QRect(30, 208, 110, 20), plain);
  AddStaticText(this, kIdSizeLabel, QStringLiteral("VM Disk Size:"), QRect(30, 230, 110, 20), plain);
  m_name = new QLineEdit(this);
  SetDlgCtrlId(m_name, kIdName);
  m_name->setGeometry(145, 185, 415, 22);
  m_name->setReadOnly(true);
  m_name->setFrame(false);
  m_name->setFont(plain);
  m_kind = AddStaticText(this, kIdKind, QString(), QRect(145, 208, 415, 20), plain);
  m_size = AddStaticText(this, kIdSize, QString(), QRect(145, 230, 150, 20), SharedFontAt(kFontArial14Underline));
  SetTextColour(m_size, 0xFF0000);
  m_size->setCursor(Qt::PointingHandCursor);
  m_size->setToolTip(QStringLiteral("Click to see the files of the image"));
  m_sizeHint = AddStaticText(this, kIdSizeHint, QStringLiteral("(click the size to list the image files)"),
                             QRect(300, 230, 260, 20), ArialFont(13, 400, true));

  m_volumeCaption = AddStaticText(this, kIdVolumeCaption, QStringLiteral("Select Volume to Recover Data"),
                                  QRect(21, 256, 400, 18), bold);
  m_volumeFrame = MakeFrame(this, kIdVolumeFrame);
  m_diskFrame = MakeFrame(this, kIdDiskFrame);
  m_volumeList = new CXColorListCtrl;
  SetupList(this, kIdVolumeList, *m_volumeList, {Str(kIdsVolumeHeading), Str(kIdsLabelHeading), Str(kIdsTypeHeading), Str(kIdsFileSystemHeading), Str(kIdsSizeHeading)});
  m_diskList = new CXColorListCtrl;
  SetupList(this, kIdDiskList, *m_diskList, {Str(kIdsPhysicalDrive), Str(kIdsDiskMake), Str(kIdsTypeHeading), Str(kIdsDiskNo), Str(kIdsSizeHeading)});
  m_lostLink = AddStaticText(this, kIdLostLink, Str(kIdsSearchLostVolumesLink), QRect(20, 480, 324, 20), SharedFontAt(kFontArial14Underline));
  m_lostLink->setCursor(Qt::PointingHandCursor);
  m_arrow = new CTButton(this);
  SetDlgCtrlId(m_arrow, kIdArrow);
  m_arrow->SetStrip(ArrowStrip(), 12, 12, 8, 485);

  for (QWidget* w : {static_cast<QWidget*>(m_lostLink), static_cast<QWidget*>(m_size)}) w->installEventFilter(this);
  for (CXColorListCtrl* l : {m_volumeList, m_diskList}) {
    l->installEventFilter(this);
    l->viewport()->installEventFilter(this);
  }
  connect(browse, &QPushButton::clicked, this, &CDataRecovery::OnBrowse);
  connect(find, &QPushButton::clicked, this, &CDataRecovery::OnFind);
  connect(m_btnMount, &QPushButton::clicked, this, &CDataRecovery::OnMount);
  connect(m_arrow, &QAbstractButton::clicked, this, &CDataRecovery::OnToggleDiskList);
  connect(m_path, &QLineEdit::textChanged, this, &CDataRecovery::UpdateMountButton);

  // A page built again on the return from the results window shows what
  // the application object still holds.
  CORVANApp& app = App();
  if (app.m_bSavedScanOpened) {
    app.m_sourceList.FreeSourceList();
    app.m_bSavedScanOpened = 0;
  }
  RefreshLists();
  if (!app.m_sourceList.m_sources.empty()) {
    SetListLayout(0);
    RestoreTypeRadio(app.m_nImageType);
    const std::filesystem::path shown = app.m_pImage ? app.m_pImage->State().m_strImagePath : app.m_strImagePath;
    m_path->setText(QString::fromStdString(shown.string()));
    m_name->setText(QString::fromStdString(shown.filename().string()));
    m_kind->setText(QString::fromStdString(Remembered().m_strImageKindText));
    m_size->setText(QString::fromStdString(Remembered().m_strImageSizeText));
    SetDetailsVisible(true);
  } else {
    SetListLayout(2);
    m_radios[0]->setChecked(true);
    SetDetailsVisible(false);
  }
  Remembered().m_bVolumeSelected = 0;
  UpdateMountButton();
}

CDataRecovery::~CDataRecovery() = default;

bool CDataRecovery::PathFitsRecords(const std::filesystem::path& path) {
  const QString text = QString::fromStdString(path.string());
  if (static_cast<std::size_t>(text.size()) <= kMaxPathUnits) return true;
  App().GetPrompt().MessageBox("The path of the image is too long: at most " + std::to_string(kMaxPathUnits) +
                                   " characters can be kept. Move the image to a folder with a shorter path.",
                               kPicError, kMbOk);
  return false;
}

void CDataRecovery::ApplyImageTypeFilter() {
  CORVANApp& app = App();
  if (m_radios[0]->isChecked()) {
    m_strFilter = QStringLiteral("VMware (*.vmdk *.VMDK);;All files (*)");
    m_strDefExt = QStringLiteral(".vmdk");
    app.m_nImageType = kImageVmware;
  } else if (m_radios[1]->isChecked()) {
    m_strFilter = QStringLiteral("VirtualBox (*.vdi *.VDI);;All files (*)");
    m_strDefExt = QStringLiteral(".vdi");
    app.m_nImageType = kImageVirtualBox;
  } else if (m_radios[2]->isChecked()) {
    m_strFilter = QStringLiteral("VirtualPC (*.vhd *.VHD);;All files (*)");
    m_strDefExt = QStringLiteral(".vhd");
    app.m_nImageType = kImageVirtualPc;
  } else {
    m_strFilter.clear();
    m_strDefExt.clear();
  }
}

void CDataRecovery::RestoreTypeRadio(std::uint32_t type) {
  for (QRadioButton* r : m_radios) r->setAutoExclusive(false), r->setChecked(false), r->setAutoExclusive(true);
  if (type >= 1 && type <= 3) m_radios[type - 1]->setChecked(true);
  ApplyImageTypeFilter();
}

void CDataRecovery::SetDetailsVisible(bool on) {
  m_size->setVisible(on);
  m_sizeHint->setVisible(on);
  m_kind->setVisible(on);
  m_name->setVisible(on);
}

void CDataRecovery::ClearDetails() {
  m_name->clear();
  m_path->clear();
  m_size->clear();
  m_kind->clear();
  m_sizeHint->hide();
  m_name->show();
}

void CDataRecovery::UpdateMountButton() { m_btnMount->setEnabled(m_path->text().size() > 1); }

bool CDataRecovery::TakeChosenImage(const QString& path, std::uint32_t rememberedType) {
  CORVANApp& app = App();
  if (!app.m_sourceList.m_sources.empty() &&
      app.GetPrompt().MessageBoxId(kIdsReplaceImage, kPicQuestion, kMbYesNo) != kIdYes) {
    RestoreTypeRadio(rememberedType);
    if (app.m_pImage) app.m_strImagePath = app.m_pImage->State().m_strImagePath;
    return false;
  }
  if (!PathFitsRecords(path.toStdString())) return false;
  app.m_sourceList.FreeSourceList();
  app.m_sourceList.FreePartitionList();
  app.m_sourceList.m_pSelectedSource = nullptr;
  RefreshLists();
  SetListLayout(2);
  ClearDetails();
  m_path->setText(path);
  m_name->setText(QString::fromStdString(std::filesystem::path(path.toStdString()).filename().string()));
  CFileSplittedExtent::ExtentListOpenCount() = 0;
  return true;
}

void CDataRecovery::OnBrowse() {
  ClosePanel();
  CORVANApp& app = App();
  const std::uint32_t remembered = app.m_sourceList.m_sources.empty() ? 0 : app.m_nImageType;
  ApplyImageTypeFilter();
  const QString path = FileChooser() ? FileChooser()(this, m_strFilter) : QString();
  if (!path.isEmpty()) TakeChosenImage(path, remembered);
  else if (!app.m_sourceList.m_sources.empty()) RestoreTypeRadio(remembered);
}

void CDataRecovery::OnFind() {
  ClosePanel();
  CORVANApp& app = App();
  const std::uint32_t remembered = app.m_sourceList.m_sources.empty() ? 0 : app.m_nImageType;
  for (int i = 0; i < 3; ++i)
    if (m_radios[i]->isChecked()) app.m_nImageType = static_cast<std::uint32_t>(i + 1);
  // A file chosen here is taken as Browse takes one, the image already
  // mounted included: the same question, the same reset.
  CFindVirtualFile dlg(window());
  if (dlg.exec() == kIdOk && dlg.Chosen() && !app.m_strImagePath.empty()) {
    RestoreTypeRadio(app.m_nImageType);
    TakeChosenImage(QString::fromStdString(app.m_strImagePath.string()), remembered);
  } else if (!app.m_sourceList.m_sources.empty()) {
    RestoreTypeRadio(remembered);
  }
}

void CDataRecovery::OnMount() {
  CORVANApp& app = App();
  if (m_path->text().size() <= 1) return;
  app.m_bHaveFoundVolumes = 1;
  ClosePanel();
  // The checked radio says what the file is, whether it was browsed for or
  // typed.
  ApplyImageTypeFilter();
  const std::filesystem::path path = m_path->text().toStdString();
  if (!PathFitsRecords(path)) return;
  m_name->setText(QString::fromStdString(path.filename().string()));
  const MountOutcome outcome = MountAndListSources(app, app.m_nImageType, path);
  if (!outcome.mounted) {
    // The core dropped the old lists: the page shows none either.
    RefreshLists();
    SetListLayout(2);
    SetDetailsVisible(false);
    app.GetPrompt().MessageBoxId(kIdsImageNotUsable, app.m_nImageType == kImageVmware ? kPicError : kPicInformation,
                                 kMbOk);
    return;
  }
  app.m_strImagePath = path;
  ShowImageDetails();
  CFileSplittedExtent::ExtentListOpenCount() = 0;
  if (outcome.messageId == kIdsImageCorrupt) app.GetPrompt().MessageBoxId(kIdsImageCorrupt, kPicInformation, kMbOk);
  RefreshLists();
  SetListLayout(0);
}

CDataRecovery::Memory& CDataRecovery::Remembered() {
  static Memory memory;
  return memory;
}

std::string CDataRecovery::ImageKindText(const CORVANApp& app) {
  if (!app.m_pImage) return {};
  const MountState& s = app.m_pImage->State();
  switch (s.m_nImageType) {
    case kImageVmware:
      return s.m_strCreateType;
    case kImageVirtualBox:
      return s.m_nVdiType == kVdiDynamic ? "Dynamic" : s.m_nVdiType == kVdiStatic ? "Static" : "Invalid File";
    case kImageVirtualPc:
      return s.m_nVhdType == kVhdFixed ? "Fixed" : s.m_nVhdType == kVhdDynamic ? "Dynamic" : "Invalid File";
    default:
      return {};
  }
}

void CDataRecovery::ShowImageDetails() {
  CORVANApp& app = App();
  if (!app.m_pImage) return;
  // The disk's size as the open worked it out from the image's own
  // header, footer or extents, for every kind of image.
  const std::uint64_t bytes = app.m_pImage->State().m_nDiskBytes;
  app.m_sourceList.m_nDiskSectors = bytes >> 9;
  Remembered().m_strImageSizeText = FormatSize(bytes);
  Remembered().m_strImageKindText = ImageKindText(app);
  m_size->setText(QString::fromStdString(Remembered().m_strImageSizeText));
  m_kind->setText(QString::fromStdString(Remembered().m_strImageKindText));
  SetDetailsVisible(true);
}

void CDataRecovery::RefreshLists() {
  m_volumeList->setRowCount(0);
  m_diskList->setRowCount(0);
  AddSourceRows();
}

void CDataRecovery::AddSourceRows() {
  CORVANApp& app = App();
  const std::uint32_t type = app.m_pImage ? app.m_pImage->State().m_nImageType : app.m_nImageType;
  const QString makes[] = {QString(), QStringLiteral("VMware"), QStringLiteral("VirtualBox"),
                           QStringLiteral("VirtualPC")};
  const QIcon icon = ImageTypeIcon(static_cast<int>(type));
  int volumeRow = 0;
  for (const auto& record : app.m_sourceList.m_sources) {
    if (record->kind == kSourceDisk && record->disk) {
      const DiskRecord& d = *record->disk;
      const int row = m_diskList->AppendRow({type <= 3 ? makes[type] : QString(), QStringLiteral("Virtual Drive"),
                                             Str(kIdsPhysicalDrive), QString::number(static_cast<int>(d.driveNumber) - 0x80),
                                             ToQString(d.sizeText)});
      m_diskList->item(row, 0)->setIcon(icon);
    } else if (record->kind == kSourceVolume && record->partition && record->partition->typeText == u"FIXED") {
      const PartitionRecord& p = *record->partition;
      const int row = m_volumeList->AppendRow({ToQString(p.name), ToQString(p.label), ToQString(p.typeText),
                                               ToQString(p.fileSystemText), ToQString(p.sizeText)});
      m_volumeList->item(row, 0)->setIcon(icon);
      ++volumeRow;
    }
  }
  if (app.m_bLostVolOnDisk) {
    AddLostVolumeRow(volumeRow);
    if (volumeRow > 0) {
      m_volumeList->selectRow(volumeRow - 1);
      m_volumeList->scrollToItem(m_volumeList->item(volumeRow - 1, 0));
    }
  }
}

void CDataRecovery::AddLostVolumeRow(int& row) {
  CORVANApp& app = App();
  for (const auto& record : app.m_sourceList.m_sources) {
    if ((record->kind != kSourceLostVolume && record->kind != kSourceDeepLostVolume) || !record->partition ||
        (record->flags & 0x0F) != 0)
      continue;
    PartitionRecord& p = *record->partition;
    const std::string label = "Disk_" + std::to_string(static_cast<int>(p.diskNumber) - 128) + "_Sec_" +
                              std::to_string(static_cast<std::uint32_t>(p.startSector));
    p.label = ToUtf16(QString::fromStdString(label));
    p.typeText = u"FIXED_LOST";
    const int r = m_volumeList->AppendRow({ToQString(p.name), ToQString(p.label), ToQString(p.typeText),
                                           ToQString(p.fileSystemText), ToQString(p.sizeText)});
    m_volumeList->item(r, 0)->setIcon(ImageTypeIcon(static_cast<int>(App().m_nImageType)));
    ++row;
  }
}

void CDataRecovery::SetListLayout(int state) {
  m_nLayoutState = state;
  const bool lists = state != 2;
  for (QWidget* w : {static_cast<QWidget*>(m_volumeList), m_volumeFrame, static_cast<QWidget*>(m_volumeCaption),
                     static_cast<QWidget*>(m_lostLink), static_cast<QWidget*>(m_arrow)})
    w->setVisible(lists);
  m_diskList->setVisible(state == 1);
  m_diskFrame->setVisible(state == 1);
  if (state == 0) {
    m_volumeList->setGeometry(21, 288, 545, 160);
    m_volumeFrame->setGeometry(14, 275, 560, 182);
    m_lostLink->setGeometry(20, 480, 324, 20);
    m_arrow->setGeometry(8, 485, 12, 12);
    m_lostLink->setText(Str(kIdsSearchLostVolumesLink));
    SetTextColour(m_lostLink, 0xFA342E);
    m_arrow->SetState(0);
  } else if (state == 1) {
    m_volumeList->setGeometry(21, 288, 545, 104);
    m_volumeFrame->setGeometry(14, 275, 560, 126);
    m_diskList->setGeometry(21, 438, 545, 70);
    m_diskFrame->setGeometry(14, 425, 560, 92);
    m_lostLink->setGeometry(20, 415, 334, 20);
    m_arrow->setGeometry(8, 418, 12, 12);
    m_lostLink->setText(Str(kIdsSelectDriveToSearch));
    SetTextColour(m_lostLink, 0);
    m_arrow->SetState(1);
  }
  m_volumeFrame->lower();
  m_diskFrame->lower();
}

void CDataRecovery::OnToggleDiskList() {
  if (m_nLayoutState == 2) return;
  SetListLayout(m_nLayoutState == 0 ? 1 : 0);
}

void CDataRecovery::OnClickVolumeList(int row) {
  CORVANApp& app = App();
  app.m_scanBounds.m_nMediaFirstSector = 0;
  app.m_scanBounds.m_nMediaLastSector = 0;
  m_bVolumeValid = false;
  if (row >= 0 && row < m_volumeList->rowCount()) {
    const QString fs = m_volumeList->item(row, 3)->text();
    const std::u16string name = ToUtf16(m_volumeList->item(row, 0)->text());
    Remembered().m_strSelectedFsText = ToUtf16(fs);
    for (const auto& record : app.m_sourceList.m_sources) {
      if (!record->partition || record->partition->name != name) continue;
      const std::u16string& t = record->partition->typeText;
      if (t != u"FIXED" && t != u"REMOVABLE" && t != u"FIXED_LOST" && record->kind != kSourceLostVolume &&
          record->kind != kSourceDeepLostVolume)
        continue;
      app.m_sourceList.m_pSelectedSource = record.get();
      app.m_scanBounds.m_nMediaLastSector = record->partition->sectorCount;
      m_bVolumeValid = !fs.isEmpty() && fs != Str(kIdsSizeHeading);
      break;
    }
  }
  app.m_scanBounds.m_nRegionFirstSector = app.m_scanBounds.m_nMediaFirstSector;
  app.m_scanBounds.m_nRegionLastSector = app.m_scanBounds.m_nMediaLastSector;
  if (!m_bVolumeValid) return;
  Remembered().m_bVolumeSelected = 1;
  if (OptionsPanelHost* dlg = PanelHost()) {
    dlg->ShowOptionsPanel();
    if (auto* panel = qobject_cast<CSliderOptionDlg*>(dlg->OptionsPanel())) panel->UpdateForSelectedMedia(0, 0, 0);
  }
}

void CDataRecovery::OnClickDiskList(int row) {
  CORVANApp& app = App();
  app.m_scanBounds.m_nMediaFirstSector = 0;
  app.m_scanBounds.m_nMediaLastSector = 0;
  m_bDiskValid = false;
  if (row >= 0 && row < m_diskList->rowCount()) {
    const QString size = m_diskList->item(row, 4)->text();
    const std::u16string name = ToUtf16(m_diskList->item(row, 0)->text());
    const QString number = m_diskList->item(row, 3)->text().trimmed();
    for (const auto& record : app.m_sourceList.m_sources) {
      if (!record->disk) continue;
      const bool match =
          (record->kind == kSourceDisk && QString::number(static_cast<int>(record->disk->driveNumber) - 0x80) == number) ||
          (record->kind == kSourceNamedDisk && record->disk->nameText == name);
      if (!match) continue;
      // Only a matching record becomes the selection.
      app.m_sourceList.m_pSelectedSource = record.get();
      app.m_scanBounds.m_nMediaLastSector = record->disk->sectorCount;
      m_bDiskValid = !size.isEmpty() && size != Str(kIdsSizeHeading);
      break;
    }
  }
  app.m_scanBounds.m_nRegionFirstSector = app.m_scanBounds.m_nMediaFirstSector;
  app.m_scanBounds.m_nRegionLastSector = app.m_scanBounds.m_nMediaLastSector;
  if (!m_bDiskValid) return;
  if (OptionsPanelHost* dlg = PanelHost()) {
    dlg->ShowOptionsPanel();
    if (auto* panel = qobject_cast<CSliderOptionDlg*>(dlg->OptionsPanel())) {
      panel->UpdateForSelectedMedia(0, 1, 0);
      // A lost-volume search hides the page and comes back to its volumes.
      QPointer<CDataRecovery> page = this;
      panel->SetSourcePageHooks({[page] { if (page) page->hide(); },
                                 [page] {
                                   if (!page) return;
                                   page->show();
                                   page->SetListLayout(0);
                                   page->RefreshLists();
                                 }});
    }
  }
}

void CDataRecovery::OnShowExtents() {
  ClosePanel();
  CFileSplittedExtent dlg(window());
  ++CFileSplittedExtent::ExtentListOpenCount();
  dlg.exec();
}

bool CDataRecovery::eventFilter(QObject* watched, QEvent* e) {
  // A link is a control: its press is its own and never the start of a
  // window move, so the dialog its release opens leaves no drag behind.
  if (e->type() == QEvent::MouseButtonPress && (watched == m_lostLink || watched == m_size) &&
      static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton)
    return true;
  if (e->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
    const QPoint pos = static_cast<QMouseEvent*>(e)->position().toPoint();
    if (watched == m_lostLink) OnToggleDiskList();
    else if (watched == m_size) OnShowExtents();
    else if (watched == m_volumeList->viewport()) OnClickVolumeList(m_volumeList->indexAt(pos).row());
    else if (watched == m_diskList->viewport()) OnClickDiskList(m_diskList->indexAt(pos).row());
  }
  // The keyboard chooses a row as a click does.
  if (e->type() == QEvent::KeyPress && (watched == m_volumeList || watched == m_diskList)) {
    const int key = static_cast<QKeyEvent*>(e)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
      if (watched == m_volumeList) OnClickVolumeList(m_volumeList->currentRow());
      else OnClickDiskList(m_diskList->currentRow());
      return true;
    }
  }
  return CStartPage::eventFilter(watched, e);
}

}  // namespace corvan
