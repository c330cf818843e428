#include "scan/ui/CResumeRecovery.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <optional>
#include <set>

#include "app/CORVANApp.h"
#include "app/SourceSetup.h"
#include "core/Prompt.h"
#include "core/RecoveryMode.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "platform/TextConv.h"
#include "scan/ScanInfoFile.h"
#include "scan/ui/CLostVolume.h"
#include "scan/ui/CSliderOptionDlg.h"
#include "ui/CHTMLListCtrl.h"
#include "ui/CXColorListCtrl.h"
#include "ui/DialogLayout.h"
#include "ui/DialogLook.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {

namespace {

constexpr std::uint8_t kMediaResumePage = 7;
constexpr std::uint8_t kSelectionVolume = 0, kSelectionSavedScan = 2;
// The low four bits of a record's flags mark a volume loaded from a drive scan.
constexpr std::uint8_t kLoadedVolumeBits = 0x0F;

const QString kTitleScans = QStringLiteral("Select Scan Information Image to Continue");
const QString kTitleVolumes = QStringLiteral("Select Volume to Recover Data");
const char* const kMountFirst =
    "You need to first mount the virtual machine image associated with selected scan information.\nTo mount virtual "
    "machine image, go to 'Data Recovery' tab and then click 'Browse' button to select the image. Click 'Mount "
    "Virtual Disk' and then come to 'Resume Recovery' tab to continue.";

// Where the saved-scan list lies in each page mode.
constexpr QRect kSavedListScans(15, 35, 551, 385);
constexpr QRect kSavedListVolumes(15, 165, 551, 255);

// What a volume row remembers of its record: the record itself (names and
// indexes may repeat between a drive scan and this run's searches) and its
// start, so a row left over from a list that was freed matches nothing.
constexpr int kRecordRole = Qt::UserRole;
constexpr int kStartRole = Qt::UserRole + 1;

QString Str(unsigned id) { return ToQString(LoadString(id)); }

// The trailer kind the page acts on (a volume scan, a drive scan, a disk
// image), 0 for any other; nothing when the file cannot be opened.
std::optional<std::uint8_t> TrailerKindOf(const std::u16string& path) {
  const std::optional<std::uint8_t> kind = ReadScanTrailerKind(path);
  if (!kind) return std::nullopt;
  const bool known =
      *kind == kScanKindVolume || *kind == kScanKindDrives || *kind == CResumeRecovery::kScanKindDiskImage;
  return known ? *kind : std::uint8_t{0};
}

}  // namespace

CResumeRecovery::CResumeRecovery(QWidget* parent) : CStartPage(parent) {
  setObjectName(QStringLiteral("CResumeRecovery"));
  resize(kSize);
  // Every control on the page colour; the path box stands out.
  PlainDialogCtlColor(this);
  const QFont plain = ArialFont(14);

  m_title = AddStaticText(this, kIdTitle, kTitleScans, QRect(15, 8, 551, 22), SharedFontAt(kFontArial16Bold));

  m_volumeList = new CXColorListCtrl;
  CreateReportList(this, kIdVolumeList, QRect(15, 35, 551, 122), *m_volumeList);
  m_volumeList->setFont(plain);
  m_volumeList->setColumnCount(5);
  m_volumeList->setHorizontalHeaderLabels({Str(kIdsVolumeHeading), Str(kIdsLabelHeading), Str(kIdsTypeHeading), Str(kIdsFileSystemHeading), Str(kIdsSizeHeading)});
  m_volumeList->setIconSize(QSize(16, 16));
  // Five equal columns across the list.
  m_volumeList->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  m_volumeList->verticalHeader()->setDefaultSectionSize(20);
  m_volumeIcon = LoadBitmapResource(256);

  m_savedList = new CHTMLListCtrl;
  m_savedList->Create(kSavedListScans, this);
  m_scanIcons = {LoadBitmapResource(172), LoadBitmapResource(173)};
  m_savedList->SetImageList(&m_scanIcons);

  m_path = new QLineEdit(this);
  SetDlgCtrlId(m_path, kIdPath);
  m_path->setGeometry(15, 432, 451, 24);
  m_path->setFont(plain);
  HighlightControl(m_path);
  m_btnBrowse = new QPushButton(QStringLiteral("Browse..."), this);
  SetDlgCtrlId(m_btnBrowse, kIdBrowse);
  m_btnBrowse->setGeometry(476, 431, 90, 26);
  m_hint = AddStaticText(this, kIdHint, QStringLiteral("Click 'Browse' to select saved scan image not listed above"),
                     QRect(15, 462, 551, 20), plain);
  m_btnSearch = new QPushButton(QStringLiteral("Search Lost Volume"), this);
  SetDlgCtrlId(m_btnSearch, kIdSearchLostVolume);
  m_btnSearch->setGeometry(15, 490, 180, 28);
  m_btnSearch->setFont(SharedFontAt(kFontArial14Bold));

  connect(m_savedList, &CHTMLListCtrl::Notify, this, &CResumeRecovery::OnSavedListNotify);
  connect(m_path, &QLineEdit::textChanged, this, &CResumeRecovery::OnPathChanged);
  connect(m_btnBrowse, &QPushButton::clicked, this, &CResumeRecovery::OnBrowse);
  connect(m_btnSearch, &QPushButton::clicked, this, &CResumeRecovery::OnSearchLostVolume);
  connect(m_volumeList, &QTableWidget::cellClicked, this, [this](int row, int) { OnClickVolumeList(row); });
  connect(m_volumeList, &QTableWidget::currentCellChanged, this, [this](int row, int, int previous, int) {
    if (!m_bFillingVolumes && row >= 0 && row != previous) OnClickVolumeList(row);
  });

  FillSavedScanList();
  SetPageMode(1);
}

CResumeRecovery::~CResumeRecovery() {
  // The index as it is now, not as it was read: a scan saved meanwhile (by
  // this program or another) stays listed.
  const std::vector<ScanImageRecord> valid = ReadScanIndex();
  if (!valid.empty()) WriteScanIndex(valid);
}

// ---------------------------------------------------------------- saved scans

QString CResumeRecovery::ScanKindText(std::uint8_t kind) {
  switch (kind) {
    case 6: return QStringLiteral("Hard Disk Image");
    case 7: return QStringLiteral("Logical Volume Image");
    case 8: return QStringLiteral("Optical Media Image");
    case 9: return QStringLiteral("Removable Media Image");
    case kScanKindVolume: return QStringLiteral("File Folder Scan Image");
    case kScanKindDrives: return QStringLiteral("Partition Scan Image");
    default: return QString();
  }
}

QString CResumeRecovery::ShortenedScanPath(const QString& path) {
  const qsizetype cut = path.lastIndexOf(u'/');
  QString folder = cut >= 0 ? path.left(cut) : QString();
  QString name = cut >= 0 ? path.mid(cut + 1) : path;
  if (folder.size() > 60) folder = folder.left(30) + QStringLiteral(".../...") + folder.right(23);
  if (name.size() > 45) name = name.left(15) + QStringLiteral("...") + name.right(27);
  return cut >= 0 ? folder + u'/' + name : name;
}

QString CResumeRecovery::SavedScanItemText(const ScanImageRecord& record, const std::string& sizeText) {
  return QStringLiteral("<font color=#142600><b><br>") + ScanKindText(record.kind) +
         QStringLiteral("</b><br></b><sub>Date:<space=57>") + ToQString(record.date) +
         QStringLiteral("<br>Image Path:<space=18>") + ShortenedScanPath(ToQString(record.path)) +
         QStringLiteral("<br><br><space=350>Size:") + QString::fromStdString(sizeText) + QStringLiteral("</sub>");
}

void CResumeRecovery::FillSavedScanList() {
  m_savedList->DeleteAllItems();
  m_shown.clear();
  const std::vector<ScanImageRecord> index = ReadScanIndex();
  // Newest first; the test is made again for the size text, and a file
  // that fails it now is not shown.
  for (auto it = index.rbegin(); it != index.rend(); ++it) {
    const ScanImageValidity v = IsScanImageValid(it->path, it->kind);
    if (!v.valid) continue;
    const std::uint32_t picture = it->kind == kScanKindDrives ? 1 : 0;
    m_savedList->InsertItem(SavedScanItemText(*it, v.sizeText), CHTMLListCtrl::kMarkupText, picture, 0, 0);
    m_shown.push_back(*it);
  }
  m_savedList->UpdateScrollBar();
}

void CResumeRecovery::OnSavedListNotify(const HTMLLIST_NOTIFY& notify) {
  if (notify.code == kHtmlListSelChanged && notify.nItem >= 0) OnSelectSavedScan(notify.nItem);
}

void CResumeRecovery::OnSelectSavedScan(int item) {
  // Items and records are kept side by side, so an item always opens the
  // scan it shows.
  if (item < 0 || static_cast<std::size_t>(item) >= m_shown.size()) return;
  const QString path = ToQString(m_shown[static_cast<std::size_t>(item)].path);
  m_path->clear();
  m_path->setReadOnly(true);
  m_path->setText(path);
}

void CResumeRecovery::OnBrowse() {
  ClosePanel();
  const QString path = FileChooser() ? FileChooser()(this, QStringLiteral("*.img *.IMG")) : QString();
  if (path.isEmpty()) return;
  // Choosing the file shown already opens it again.
  m_path->clear();
  m_path->setText(path);
}

bool CResumeRecovery::IsFullScanPath(const QString& text) {
  return text.startsWith(u'/') && text.endsWith(QStringLiteral(".img"), Qt::CaseInsensitive);
}

void CResumeRecovery::OnPathChanged() {
  const QString text = m_path->text();
  if (!IsFullScanPath(text)) return;
  ClosePanel();
  CORVANApp& app = App();
  app.m_scanInfoFile = FilePathOfScanRecord(ToUtf16(text));
  const std::optional<std::uint8_t> kind = TrailerKindOf(ToUtf16(text));
  if (kind) OpenSavedScan(*kind);
}

void CResumeRecovery::OpenSavedScan(std::uint8_t kind) {
  m_nOpenedKind = kind;
  m_btnSearch->hide();
  CORVANApp& app = App();
  if (kind == kScanKindDrives) {
    if (app.m_sourceList.m_sources.empty()) {
      app.GetPrompt().MessageBox(kMountFirst, kPicError, kMbOk);
      return;
    }
    LoadScanImage(app.m_scanInfoFile);
  } else if (kind == kScanKindVolume) {
    m_volumeList->setRowCount(0);
    SetPageMode(1);
    app.m_nRecoveryMode = kModeScanNow;
    // The results window loads the file when Scan Now starts it.
    ShowOptionsPanelFor(kSelectionSavedScan);
  }
}

void CResumeRecovery::ShowOptionsPanelFor(std::uint8_t selection) {
  OptionsPanelHost* host = PanelHost();
  if (!host) return;
  host->ShowOptionsPanel();
  if (auto* panel = qobject_cast<CSliderOptionDlg*>(host->OptionsPanel()))
    panel->UpdateForSelectedMedia(kMediaResumePage, selection, 1);
}

// ---------------------------------------------------------------- drive scans

bool CResumeRecovery::LoadScanImage(const std::filesystem::path& path) {
  // The whole file is read and checked first: a file that is not a
  // complete drive scan changes nothing.
  DriveScanInfo info;
  if (!ReadDriveScanFile(path, info)) return false;
  CORVANApp& app = App();
  m_bFillingVolumes = true;
  m_volumeList->setRowCount(0);
  SetPageMode(0);
  app.m_nRecoveryMode = kModeSavedDriveScan;

  // The volumes of a drive scan loaded before give way to this one's.
  SourceList& list = app.m_sourceList;
  if (list.m_pSelectedSource && (list.m_pSelectedSource->flags & kLoadedVolumeBits) != 0)
    list.m_pSelectedSource = nullptr;
  std::erase_if(list.m_sources, [](const auto& r) { return (r->flags & kLoadedVolumeBits) != 0; });
  app.m_nSourceListState = 1;

  for (SourceRecord& saved : info.volumes) {
    // Other kinds carry no volume: nothing to list or recover from.
    if (!IsDriveScanVolume(saved.kind) || !saved.partition) continue;
    auto record = std::make_unique<SourceRecord>();
    record->kind = saved.kind;
    record->index = saved.index;
    if (saved.kind == kSourceImageLostVolume || saved.kind == kSourceImageDeepLostVolume) record->path = saved.path;
    record->partition = std::move(saved.partition);
    record->flags = 1;  // loaded from a drive scan
    SourceRecord& added = list.AppendSource(std::move(record));
    const PartitionRecord& p = *added.partition;
    AppendVolumeRow({ToQString(p.name), ToQString(p.label), ToQString(p.typeText), ToQString(p.fileSystemText),
                     ToQString(p.sizeText)},
                    added);
  }
  app.m_bHaveFoundVolumes = 1;
  m_bFillingVolumes = false;
  return true;
}

int CResumeRecovery::AppendVolumeRow(const QStringList& texts, const SourceRecord& record) {
  const int row = m_volumeList->AppendRow(texts);
  QTableWidgetItem* first = m_volumeList->item(row, 0);
  first->setIcon(m_volumeIcon);
  first->setData(kRecordRole, QVariant::fromValue(reinterpret_cast<quintptr>(&record)));
  first->setData(kStartRole, QVariant::fromValue(static_cast<qulonglong>(record.partition->startSector)));
  return row;
}

SourceRecord* CResumeRecovery::RecordOfRow(int row) const {
  const QTableWidgetItem* first = row >= 0 && row < m_volumeList->rowCount() ? m_volumeList->item(row, 0) : nullptr;
  if (!first) return nullptr;
  const auto wanted = first->data(kRecordRole).value<quintptr>();
  const auto start = first->data(kStartRole).value<qulonglong>();
  for (const auto& record : App().m_sourceList.m_sources) {
    if (reinterpret_cast<quintptr>(record.get()) != wanted) continue;
    if (!IsDriveScanVolume(record->kind) || !record->partition || record->partition->startSector != start)
      return nullptr;
    return record.get();
  }
  return nullptr;
}

void CResumeRecovery::OnClickVolumeList(int row) {
  CORVANApp& app = App();
  if (app.m_bBusy) return;
  SourceRecord* record = RecordOfRow(row);
  if (!record) return;
  SelectSourceRecord(app, *record);
  const QTableWidgetItem* size = m_volumeList->item(row, 4);
  const QString sizeText = size ? size->text() : QString();
  if (sizeText.isEmpty() || sizeText == Str(kIdsSizeHeading)) return;
  app.m_bResumeMode = 1;
  ShowOptionsPanelFor(kSelectionVolume);
}

void CResumeRecovery::AddLostVolumesToList(SourceRecord& record) {
  if (!record.partition) return;
  const PartitionRecord& p = *record.partition;
  AppendVolumeRow({QStringLiteral("IMG_Sector_%1").arg(static_cast<qulonglong>(p.startSector)), ToQString(p.label),
                   QStringLiteral("FIXED_IMG_LOST"), ToQString(p.fileSystemText), ToQString(p.sizeText)},
                  record);
}

void CResumeRecovery::OnSearchLostVolume() {
  CORVANApp& app = App();
  if (app.m_bBusy) return;
  app.m_bResumeMode = 1;
  app.m_nRecoveryMode = kModeSavedDriveScan;
  app.m_bQuickVolumeSearch = 1;
  ClosePanel();
  SourceList& list = app.m_sourceList;
  if (m_nOpenedKind == kScanKindDiskImage) {
    // The disk image the index listed is offered to the search as a disk.
    std::error_code ec;
    const std::uintmax_t bytes = std::filesystem::file_size(app.m_scanInfoFile, ec);
    auto record = std::make_unique<SourceRecord>();
    record->kind = kScanKindDiskImage;
    record->index = list.m_sources.empty() ? 0 : static_cast<std::uint16_t>(list.m_sources.back()->index + 1);
    record->path = Utf8ToUtf16(app.m_scanInfoFile.string());
    record->disk = std::make_unique<DiskRecord>();
    record->disk->sectorCount = ec ? 0 : bytes / 512;
    SelectSourceRecord(app, list.AppendSource(std::move(record)));
  }

  std::set<const SourceRecord*> before;
  for (const auto& r : list.m_sources) before.insert(r.get());
  for (QWidget* w : {static_cast<QWidget*>(m_savedList), static_cast<QWidget*>(m_volumeList),
                     static_cast<QWidget*>(m_btnSearch), static_cast<QWidget*>(m_title)})
    w->hide();
  // The volumes the search found come back as rows of this page.
  QPointer<CResumeRecovery> page = this;
  CLostVolume dlg(1, CLostVolume::kModeResume, false, window(), [page, before] {
    if (!page) return;
    for (const auto& r : App().m_sourceList.m_sources)
      if (!before.count(r.get()) && IsDriveScanVolume(r->kind)) page->AddLostVolumesToList(*r);
  });
  if (dlg.exec() == kIdOk) {
    SetPageMode(0);
    m_savedList->show();
    m_btnSearch->show();
    m_btnSearch->setEnabled(false);
  }
  if (list.m_pSelectedSource && list.m_pSelectedSource->kind == kScanKindDiskImage) list.m_pSelectedSource = nullptr;
  std::erase_if(list.m_sources, [](const auto& r) { return r->kind == kScanKindDiskImage; });
}

// ---------------------------------------------------------------- page modes

void CResumeRecovery::SetPageMode(int mode) {
  CStartPage::SetPageMode(mode);
  if (mode == 0) {
    m_title->setText(kTitleVolumes);
    m_volumeList->show();
    m_savedList->setGeometry(kSavedListVolumes);
  } else if (mode == 1) {
    m_title->setText(kTitleScans);
    m_volumeList->hide();
    m_btnSearch->hide();
    m_savedList->setGeometry(kSavedListScans);
  }
  m_title->show();
  m_savedList->show();
}

}  // namespace corvan
