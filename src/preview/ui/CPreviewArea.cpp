#include "preview/ui/CPreviewArea.h"

#include <QMouseEvent>
#include <QVBoxLayout>
#include <system_error>

#include "app/CORVANApp.h"
#include "core/Prompt.h"
#include "core/ScanEngine.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "preview/ArchiveList.h"
#include "preview/BackupList.h"
#include "preview/ByteSource.h"
#include "preview/MimeReader.h"
#include "preview/OfficeRenderer.h"
#include "preview/PreviewRead.h"
#include "preview/PreviewTempDir.h"
#include "preview/PreviewWorker.h"
#include "preview/RtfReader.h"
#include "preview/TablePreview.h"
#include "preview/TextDecode.h"
#include "preview/ui/CHexViewer.h"
#include "preview/ui/CHtmlPreview.h"
#include "preview/ui/CImagePreview.h"
#include "preview/ui/CMediaViewer.h"
#include "preview/ui/CPdfViewer.h"
#include "preview/ui/CRTFViewer.h"
#include "preview/ui/CReportList.h"
#include "preview/ui/CTablePane.h"
#include "preview/ui/CTextViewer.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"

namespace corvan {

namespace {

QString PathText(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

// The extension a copy is given: the file's own when it is plain letters
// and digits (players and converters go by it), never anything else of
// the name from the disk.
std::string SafeExtension(const std::u16string& name) {
  const std::u16string ext = DottedExtension(name);
  std::string out;
  for (std::size_t i = 1; i < ext.size() && i <= 8; ++i) {
    const char16_t c = ext[i];
    if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9'))) return {};
    out.push_back(static_cast<char>(c));
  }
  return out.empty() ? std::string() : "." + out;
}

struct PageText {
  QString html;
  bool plain = false;  // show as text, not markup
  std::shared_ptr<const MhtDocument> archive;
  bool ok = false;
};

QString Decode(const std::vector<std::uint8_t>& bytes, const std::string& charset) {
  const std::u16string text = DecodeText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                                         charset.empty() ? HtmlCharset(bytes) : charset);
  return ToQString(text);
}

// Opens the previews' help page on a left click of the object it watches.
class HelpLinkClick : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override {
    if (e->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
      ShowHelpContext(CPreviewArea::kHelpContext);
      return true;
    }
    return QObject::eventFilter(watched, e);
  }
};

}  // namespace

void CPreviewArea::ConnectHelpLink(QWidget* link) {
  link->setEnabled(true);
  link->setCursor(Qt::PointingHandCursor);
  link->installEventFilter(new HelpLinkClick(link));
}

CPreviewArea::CPreviewArea(QWidget* parent)
    : QWidget(parent), m_worker(std::make_unique<PreviewWorker>()) {
  setObjectName(QStringLiteral("CPreviewArea"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
}

CPreviewArea::~CPreviewArea() {
  // The worker ends first: nothing it runs outlives what it reports to, and
  // the private folder goes only when nothing writes there any more.
  m_worker.reset();
  delete m_pane.data();
  m_temp.reset();
}

std::filesystem::path CPreviewArea::TempFolder() const { return m_temp ? m_temp->Path() : std::filesystem::path(); }

void CPreviewArea::SetOfficeConverter(std::filesystem::path program) {
  m_officeProgram = std::move(program);
  m_officeProgramKnown = true;
}

template <class Result>
void CPreviewArea::Run(std::function<Result(const PreviewCancel&)> work, std::function<void(Result)> done) {
  const std::uint64_t selection = m_worker->CurrentSelection();
  m_worker->Post(selection, [this, selection, work = std::move(work), done = std::move(done)](const PreviewCancel& cancel) {
    auto result = std::make_shared<Result>(work(cancel));
    if (cancel.Cancelled()) return;
    QMetaObject::invokeMethod(
        this,
        [this, selection, result, done] {
          if (!m_worker || selection != m_worker->CurrentSelection()) return;
          done(std::move(*result));
        },
        Qt::QueuedConnection);
  });
}

void CPreviewArea::Clear() {
  m_worker->NewSelection();
  if (auto* media = PaneAs<CMediaViewer>()) media->Clear();
  delete m_pane.data();
  m_pane = nullptr;
  m_shown = PreviewPane::Placeholders;
  m_ready = false;
  m_imageBytes.reset();
  m_engine = nullptr;
  unsetCursor();
  if (!m_itemFolder.empty()) m_oldFolders.push_back(std::move(m_itemFolder));
  m_itemFolder.clear();
  if (!m_oldFolders.empty()) {
    // Removed on the worker: whatever of the old item still ran there has
    // ended by then.
    std::vector<std::filesystem::path> folders = std::move(m_oldFolders);
    m_oldFolders.clear();
    m_worker->Post(m_worker->CurrentSelection(), [folders](const PreviewCancel&) {
      for (const auto& f : folders) {
        std::error_code ec;
        std::filesystem::remove_all(f, ec);
      }
    });
  }
}

void CPreviewArea::Quiesce() {
  Clear();
  m_worker->Quiesce();
}

std::filesystem::path CPreviewArea::ItemFolder() {
  if (!m_temp) m_temp = PreviewTempDir::Create();
  if (!m_temp) return {};
  if (m_itemFolder.empty()) m_itemFolder = m_temp->NewSubfolder();
  return m_itemFolder;
}

void CPreviewArea::SetPane(QWidget* pane, PreviewPane kind, QMargins margins) {
  if (auto* media = PaneAs<CMediaViewer>()) media->Clear();
  delete m_pane.data();
  m_pane = pane;
  m_shown = kind;
  m_ready = false;
  layout()->setContentsMargins(margins);
  layout()->addWidget(pane);
  pane->show();
  setCursor(Qt::BusyCursor);
}

void CPreviewArea::MarkReady() {
  m_ready = true;
  unsetCursor();
  emit PaneReady(m_shown);
}

PreviewPane CPreviewArea::ShowItem(ScanEngine* engine, const FoundItemInfo& item, const std::u16string& name,
                                   bool forceHex) {
  Clear();
  const PreviewPane choice = ChoosePreview(name, item.size, item.IsFolder(), forceHex);
  if (choice == PreviewPane::Placeholders) return choice;
  m_engine = engine;
  m_item = item;
  m_name = name;
  switch (choice) {
    case PreviewPane::Text: ShowText(); break;
    case PreviewPane::Rtf: ShowRtf(); break;
    case PreviewPane::Image: ShowImage(); break;
    case PreviewPane::Pdf: ShowPdf(); break;
    case PreviewPane::Office: ShowOffice(); break;
    case PreviewPane::Html: ShowHtml(); break;
    case PreviewPane::Media: ShowMedia(); break;
    case PreviewPane::Archive: ShowArchive(); break;
    case PreviewPane::Table: ShowTable(); break;
    case PreviewPane::Backup: ShowBackup(); break;
    default: ShowHex(); break;
  }
  return choice;
}

void CPreviewArea::ShowHex() {
  auto* hex = new CHexViewer(this);
  // The hex pane sits one pixel in from the right and five from the bottom.
  SetPane(hex, PreviewPane::Hex, QMargins(0, 0, 1, 5));
  QPointer<CHexViewer> pane(hex);
  ScanEngine* engine = m_engine;
  const FoundItemInfo item = m_item;
  hex->SetWindowRequest([this, pane, engine, item](std::uint64_t start) {
    Run<PreviewBytes>(
        [engine, item, start](const PreviewCancel& cancel) {
          if (!engine) return PreviewBytes{};
          return ReadPreviewBytes(*engine, item, start, start + CHexViewer::kWindowBytes, cancel);
        },
        [pane, start](PreviewBytes read) {
          if (pane) pane->SetWindow(start, std::move(read.bytes));
        });
  });
  connect(hex, &CHexViewer::PageShown, this, [this] {
    if (!m_ready) MarkReady();
  });
  hex->ShowFile(ToQString(m_name), m_item.size);
}

template <class Result>
void CPreviewArea::RunOnBytes(std::uint64_t end, std::function<Result(PreviewBytes)> work,
                              std::function<void(Result)> done) {
  ScanEngine* engine = m_engine;
  const FoundItemInfo item = m_item;
  Run<Result>(
      [engine, item, end, work = std::move(work)](const PreviewCancel& cancel) {
        if (!engine) return Result{};
        PreviewBytes read = ReadPreviewBytes(*engine, item, 0, end, cancel);
        if (read.cancelled) return Result{};
        return work(std::move(read));
      },
      std::move(done));
}

void CPreviewArea::ReadBytes(std::uint64_t end, std::function<void(PreviewBytes)> done) {
  RunOnBytes<PreviewBytes>(end, [](PreviewBytes read) { return read; }, std::move(done));
}

template <class Result>
void CPreviewArea::RunOnSource(std::function<Result(ByteSource&)> work, std::function<void(Result)> done) {
  ScanEngine* engine = m_engine;
  const FoundItemInfo item = m_item;
  Run<Result>(
      [engine, item, work = std::move(work)](const PreviewCancel& cancel) {
        if (!engine) return Result{};
        ItemByteSource source(*engine, item, cancel);
        return work(source);
      },
      std::move(done));
}

template <class PaneType>
void CPreviewArea::FallBackUnlessLoaded(PaneType* pane) {
  // Queued: the pane may report while it is still loading.
  connect(pane, &PaneType::Loaded, this, [this](bool ok) { ok ? MarkReady() : ShowHex(); }, Qt::QueuedConnection);
}

void CPreviewArea::ShowText() {
  auto* text = new CTextViewer(this);
  SetPane(text, PreviewPane::Text);
  QPointer<CTextViewer> pane(text);
  ReadBytes(kTextShownBytes, [this, pane, size = m_item.size](PreviewBytes read) {
    if (!pane) return;
    if (pane->ShowText(read.bytes, size > read.bytes.size())) MarkReady();
    else ShowHex();
  });
}

void CPreviewArea::ShowRtf() {
  auto* rtf = new CRTFViewer(this);
  SetPane(rtf, PreviewPane::Rtf);
  QPointer<CRTFViewer> pane(rtf);
  using Parsed = std::shared_ptr<RtfDocument>;
  RunOnBytes<Parsed>(
      kPreviewSizeLimit,
      [](PreviewBytes read) -> Parsed {
        auto doc = std::make_shared<RtfDocument>();
        if (!ParseRtf(read.bytes, *doc)) return nullptr;
        return doc;
      },
      [this, pane](Parsed doc) {
        if (!pane) return;
        if (doc && pane->LoadRtf(*doc)) MarkReady();
        else ShowHex();
      });
}

void CPreviewArea::ShowImage() {
  auto* image = new CImagePreview(this);
  SetPane(image, PreviewPane::Image);
  connect(image, &CImagePreview::WantsLargerImage, this, &CPreviewArea::DecodeImage);
  // The pane is laid out before the picture is decoded for its size.
  DecodeImage(QSize());
}

void CPreviewArea::DecodeImage(QSize fit) {
  auto* image = PaneAs<CImagePreview>();
  if (!image) return;
  if (!fit.isValid()) {
    layout()->activate();
    fit = image->DrawingArea().size();
  }
  fit *= image->devicePixelRatioF();
  QPointer<CImagePreview> pane(image);
  ScanEngine* engine = m_engine;
  const FoundItemInfo item = m_item;
  auto kept = m_imageBytes;
  struct Decoded {
    DecodedImage image;
    std::shared_ptr<const std::vector<std::uint8_t>> bytes;
  };
  Run<Decoded>(
      [engine, item, kept, fit](const PreviewCancel& cancel) {
        Decoded out;
        out.bytes = kept;
        if (!out.bytes) {
          // Only files below the image limit are decoded at all.
          if (!engine || item.size >= kImageSizeLimit) return out;
          PreviewBytes read = ReadPreviewBytes(*engine, item, 0, kImageSizeLimit, cancel);
          if (read.cancelled) return out;
          out.bytes = std::make_shared<const std::vector<std::uint8_t>>(std::move(read.bytes));
        }
        out.image = DecodePreviewImage(*out.bytes, fit);
        return out;
      },
      [this, pane](Decoded decoded) {
        if (!pane) return;
        if (!decoded.image.ok) return ShowHex();
        m_imageBytes = decoded.bytes;
        pane->SetImage(std::move(decoded.image));
        if (!m_ready) MarkReady();
      });
}

void CPreviewArea::CopyItem(std::filesystem::path copy, std::uint64_t limit, std::function<void(bool)> done) {
  ScanEngine* engine = m_engine;
  const FoundItemInfo item = m_item;
  Run<bool>(
      [engine, item, copy = std::move(copy), limit](const PreviewCancel& cancel) {
        return engine && CopyPreviewFile(*engine, item, limit, copy, cancel);
      },
      std::move(done));
}

void CPreviewArea::ShowPdf() {
  // Qt PDF is handed a private copy on disk: a PDF may be up to the preview
  // limit, and the copy is the only one.
  const std::filesystem::path folder = ItemFolder();
  if (folder.empty()) return ShowHex();
  auto* pdf = new CPdfViewer(this);
  SetPane(pdf, PreviewPane::Pdf);
  QPointer<CPdfViewer> pane(pdf);
  FallBackUnlessLoaded(pdf);
  const std::filesystem::path copy = folder / "document.pdf";
  CopyItem(copy, kPreviewSizeLimit, [this, pane, copy](bool copied) {
    if (!pane) return;
    if (!copied) return ShowHex();
    pane->LoadPdf(PathText(copy));
  });
}

bool CPreviewArea::RefuseLargeDocument() {
  if (m_item.size <= kDocumentSizeLimit) return false;
  App().GetPrompt().MessageBoxId(kIdsTooLarge, kPicInformation, kMbOk);
  return true;
}

void CPreviewArea::ShowOffice() {
  if (RefuseLargeDocument()) return ShowHex();
  if (!m_officeProgramKnown) SetOfficeConverter(FindOfficeConverter());
  const std::filesystem::path folder = ItemFolder();
  if (m_officeProgram.empty() || folder.empty()) return ShowHex();
  auto* pdf = new CPdfViewer(this);
  SetPane(pdf, PreviewPane::Office);
  QPointer<CPdfViewer> pane(pdf);
  FallBackUnlessLoaded(pdf);
  ScanEngine* engine = m_engine;
  const FoundItemInfo item = m_item;
  const std::filesystem::path program = m_officeProgram;
  const std::filesystem::path profile = m_temp->Path() / "profile";
  const std::string extension = SafeExtension(m_name);
  const auto limit = std::chrono::milliseconds(kOfficeRenderLimit);
  Run<OfficeRender>(
      [=](const PreviewCancel& cancel) {
        OfficeRender out;
        if (!engine || extension.empty()) return out;
        const std::filesystem::path document = folder / ("document" + extension);
        if (!CopyPreviewFile(*engine, item, kDocumentSizeLimit, document, cancel)) return out;
        std::error_code ec;
        std::filesystem::create_directories(folder / "out", ec);
        return RenderOfficeToPdf(program, document, folder / "out", profile, limit,
                                 [&cancel] { return cancel.Cancelled(); });
      },
      [this, pane](OfficeRender render) {
        if (!pane) return;
        if (render.status != OfficeRenderStatus::Rendered) return ShowHex();
        pane->LoadPdf(PathText(render.pdf));
      });
}

void CPreviewArea::ShowHtml() {
  if (RefuseLargeDocument()) return ShowHex();
  auto* html = new CHtmlPreview(this);
  SetPane(html, PreviewPane::Html);
  QPointer<CHtmlPreview> pane(html);
  const std::u16string ext = DottedExtension(m_name);
  const bool archive = ext == u".mht" || ext == u".mhtml";
  RunOnBytes<PageText>(
      kDocumentSizeLimit,
      [archive](PreviewBytes read) {
        PageText out;
        if (read.bytes.empty()) return out;
        if (!archive) {
          out.html = Decode(read.bytes, {});
          out.ok = true;
          return out;
        }
        auto doc = std::make_shared<MhtDocument>();
        if (!ReadMht(read.bytes, *doc) || !doc->Root()) return out;
        const MimePart& page = *doc->Root();
        out.html = Decode(page.body, page.charset);
        out.plain = page.contentType != "text/html";
        out.archive = std::move(doc);
        out.ok = true;
        return out;
      },
      [this, pane](PageText page) {
        if (!pane) return;
        if (!page.ok) return ShowHex();
        if (page.plain) pane->setPlainText(page.html);
        else if (page.archive) pane->ShowArchive(page.html, page.archive);
        else pane->ShowPage(page.html);
        MarkReady();
      });
}

void CPreviewArea::ShowMedia() {
  const std::string extension = SafeExtension(m_name);
  const std::u16string dotted = DottedExtension(m_name);
  const std::filesystem::path folder = ItemFolder();
  if (extension.empty() || folder.empty() || !IsMediaExtension(dotted)) return ShowHex();
  const bool video = IsVideoExtension(dotted);
  auto* media = new CMediaViewer(this);
  SetPane(media, PreviewPane::Media);
  QPointer<CMediaViewer> pane(media);
  FallBackUnlessLoaded(media);
  const std::filesystem::path copy = folder / ("sample" + extension);
  CopyItem(copy, video ? kVideoCopyLimit : kAudioCopyLimit, [this, pane, copy, video](bool copied) {
    if (!pane) return;
    if (!copied) return ShowHex();
    pane->ShowMediaFile(PathText(copy), video);
  });
}

namespace {

QString Text(unsigned id) { return QString::fromStdString(LoadString(id)); }

QString Number(std::uint64_t n) { return QString::number(n); }

}  // namespace

void CPreviewArea::ShowArchive() {
  if (ArchiveFormatOfName(m_name) == ArchiveFormat::None) return ShowHex();
  auto* list = new CReportList(CReportList::kIdArchiveList, this);
  list->SetColumns({{Text(kIdsFileNameHeading), 180, false},
                    {Text(kIdsTypeHeading), 45, false},
                    {Text(kIdsUncompressedSize), 50, true},
                    {Text(kIdsCompressedSize), 50, true},
                    {Text(kIdsRatio), 60, true},
                    {Text(kIdsModifiedDate), 150, false}});
  SetPane(list, PreviewPane::Archive);
  QPointer<CReportList> pane(list);
  RunOnSource<std::vector<QStringList>>(
      [name = m_name](ByteSource& source) {
        const ArchiveListing listing = ListArchiveEntries(source, name);
        std::vector<QStringList> rows;
        rows.reserve(listing.entries.size());
        // Each entry goes in at the top: the list shows the last found first.
        for (auto e = listing.entries.rbegin(); e != listing.entries.rend(); ++e)
          rows.push_back({ToQString(e->name), ToQString(ArchiveTypeText(*e)), Number(e->unpacked), Number(e->packed),
                          ToQString(ArchiveRatioText(*e)), ToQString(FormatArchiveTime(e->time))});
        return rows;
      },
      [this, pane](std::vector<QStringList> rows) {
        if (!pane) return;
        // An archive shows its list even when nothing could be read from it.
        pane->SetRows(std::move(rows));
        MarkReady();
      });
}

void CPreviewArea::ShowBackup() {
  auto* list = new CReportList(CReportList::kIdBackupList, this);
  list->SetColumns({{Text(kIdsFileNameHeading), 160, false},
                    {Text(kIdsSizeHeading), 80, true},
                    {Text(kIdsModifiedDate), 140, false},
                    {Text(kIdsCreatedDate), 140, false},
                    {Text(kIdsLastAccessDate), 140, false}});
  SetPane(list, PreviewPane::Backup);
  QPointer<CReportList> pane(list);
  struct Listed {
    bool shown = false;
    std::vector<QStringList> rows;
  };
  RunOnSource<Listed>(
      [name = m_name](ByteSource& source) {
        Listed out;
        const BackupListing listing = ListBackup(source, name);
        out.shown = listing.shown && !listing.stopped;
        for (auto e = listing.entries.rbegin(); e != listing.entries.rend(); ++e)
          out.rows.push_back({ToQString(e->name), ToQString(FormatBackupSize(e->size)),
                              ToQString(FormatMtfDateTime(e->modified)), ToQString(FormatMtfDateTime(e->created)),
                              ToQString(FormatMtfDateTime(e->accessed))});
        return out;
      },
      [this, pane](Listed listed) {
        if (!pane) return;
        if (!listed.shown) return ShowHex();
        pane->SetRows(std::move(listed.rows));
        MarkReady();
      });
}

void CPreviewArea::ShowTable() {
  const int mode = TableModeOfName(m_name);
  if (mode == 0) return ShowHex();
  auto* table = new CTablePane(this);
  SetPane(table, PreviewPane::Table);
  QPointer<CTablePane> pane(table);
  struct Read {
    bool ok = false;
    TableGrid grid;
    std::vector<MdfTable> tables;
  };
  RunOnSource<Read>(
      [name = m_name, mode](ByteSource& source) {
        Read out;
        switch (mode) {
          case 1: out.ok = ReadDbfTable(source, out.grid); break;
          case 2: out.ok = ReadCsvGrid(source, name, out.grid); break;
          case 3: out.ok = ReadMdfTables(source, name, out.tables); break;
          default: break;
        }
        return out;
      },
      [this, pane, mode](Read read) {
        if (!pane) return;
        if (!read.ok) return ShowHex();
        if (mode == 3) pane->ShowMdfTables(std::move(read.tables));
        else pane->ShowGrid(read.grid);
        MarkReady();
      });
}

}  // namespace corvan
