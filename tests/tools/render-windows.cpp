// Renders every window of the program to OUTDIR/<ClassName>.png (and
// <ClassName>-<state>.png for further states) on the offscreen platform,
// for review.
//
//   render-windows OUTDIR
//   render-windows OUTDIR --image IMAGE --volume N --mode quick|deleted|advance|raw
//
// The second form renders the windows of a scan of volume N (the index that
// scan-report --list prints) of IMAGE in their filled states.

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <QScreen>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/CORVANApp.h"
#include "app/Jobs.h"
#include "core/Prompt.h"
#include "core/StringTable.h"
#include "app/ui/CAboutDlg.h"
#include "app/ui/CDriveLoad.h"
#include "app/ui/CEula.h"
#include "app/ui/CMessageBox.h"
#include "app/ui/CORVANDlg.h"
#include "app/ui/CSettings.h"
#include "console/ui/FolderListModel.h"
#include "ui/ConsoleArt.h"
#include "app/ui/CTransLayerDlg.h"
#include "app/ui/CUpdateWizard.h"
#include "console/ui/CFileFolderTree.h"
#include "console/ui/CEditMask.h"
#include "console/ui/CFileListCtrl.h"
#include "console/ui/CFileMask.h"
#include "console/ui/CFindDlg.h"
#include "console/ui/CRecoveryConsole.h"
#include "console/SavedScanItems.h"
#include "console/ui/FolderTreeModel.h"
#include "scan/ProgramEngines.h"
#include "core/RecoveryMode.h"
#include "save/ui/CAbortSaving.h"
#include "save/ui/CAddFileFilter.h"
#include "save/ui/CFileExistDlg.h"
#include "save/ui/CSaveProcess.h"
#include "save/ui/CSaveRecovery.h"
#include "save/ui/CFTPSettings.h"
#include "console/ui/LogDialogs.h"
#include "save/ui/CServerBrowser.h"
#include "save/FtpListParser.h"
#include "console/ui/CScanProcess.h"
#include "preview/PreviewKinds.h"
#include "preview/ui/CPreviewArea.h"
#include "scan/ui/CSliderOptionDlg.h"
#include "scan/ui/CAddHeader.h"
#include "scan/ui/CAppendHeader.h"
#include "scan/ui/CEditList.h"
#include "scan/ui/CFileType.h"
#include "scan/ui/CLostVolume.h"
#include "scan/ui/CResumeRecovery.h"
#include "scan/ui/CSpecifiedRegion.h"
#include "sources/ui/CDataRecovery.h"
#include "sources/ui/CFileSplittedExtent.h"
#include "sources/ui/CFindVirtualFile.h"
#include "app/SourceSetup.h"
#include "ui/CDoubleSlider.h"
#include "ui/CEditItem.h"
#include "ui/CHTMLListCtrl.h"
#include "ui/CXColorListCtrl.h"
#include "ui/CXColorTab.h"
#include "ui/DialogLayout.h"
#include "ui/HelpViewer.h"
#include "ui/QtText.h"
#include "ui/SharedLook.h"

namespace corvan {
namespace {

struct Options {
  QString outDir;
  std::optional<std::string> image;
  std::optional<long> volume;
  std::optional<std::string> mode;
};

int Usage(const char* why) {
  std::fprintf(stderr,
               "render-windows: %s\n"
               "usage: render-windows OUTDIR [--image IMAGE --volume N --mode quick|deleted|advance|raw]\n",
               why);
  return 2;
}

std::optional<Options> Parse(int argc, char** argv, int& rc) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--image" || a == "--volume" || a == "--mode") {
      const char* v = value();
      if (!v) {
        rc = Usage((a + " needs a value").c_str());
        return std::nullopt;
      }
      if (a == "--image") {
        o.image = v;
      } else if (a == "--volume") {
        char* end = nullptr;
        const long n = std::strtol(v, &end, 10);
        if (!*v || *end || n < 0) {
          rc = Usage("--volume takes a source-record index (0, 1, ...)");
          return std::nullopt;
        }
        o.volume = n;
      } else {
        const std::string m = v;
        if (m != "quick" && m != "deleted" && m != "advance" && m != "raw") {
          rc = Usage("--mode is one of quick, deleted, advance, raw");
          return std::nullopt;
        }
        o.mode = m;
      }
    } else if (!a.empty() && a[0] == '-') {
      rc = Usage(("unknown option " + a).c_str());
      return std::nullopt;
    } else if (o.outDir.isEmpty()) {
      o.outDir = QString::fromLocal8Bit(argv[i]);
    } else {
      rc = Usage("one OUTDIR only");
      return std::nullopt;
    }
  }
  if (o.outDir.isEmpty()) {
    rc = Usage("OUTDIR is missing");
    return std::nullopt;
  }
  const bool any = o.image || o.volume || o.mode;
  if (any && !(o.image && o.volume && o.mode)) {
    rc = Usage("--image, --volume and --mode go together");
    return std::nullopt;
  }
  return o;
}

void Settle() {
  for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

QImage Grab(QWidget* w) {
  w->show();
  Settle();
  return w->grab().toImage();
}

// The start window with the panel beside it, as they stand on the screen.
QImage GrabWithPanel(CTransLayerDlg* skin, QWidget* panel) {
  const QRect a = skin->frameGeometry();
  const QRect b = panel->frameGeometry();
  const QRect all = a.united(b);
  QImage out(all.size(), QImage::Format_ARGB32_Premultiplied);
  out.fill(Qt::transparent);
  QPainter p(&out);
  p.drawImage(b.topLeft() - all.topLeft(), panel->grab().toImage());
  p.drawImage(a.topLeft() - all.topLeft(), skin->grab().toImage());
  return out;
}

// The start window after mounting `image` through its source page, in
// layout state `state`; with `volumeRow` >= 0 that volume (with `diskRow`
// >= 0 that disk of the disk list) is selected and the options panel shown
// beside the window.
QImage GrabMountedPage(const std::filesystem::path& image, int state, int volumeRow, int diskRow = -1) {
  CTransLayerDlg skin;
  skin.Create();
  skin.show();
  Settle();
  auto* page = qobject_cast<CDataRecovery*>(skin.MainDialog()->DataRecoveryPage());
  if (!page) return {};
  const auto saved = CDataRecovery::FileChooser();
  CDataRecovery::FileChooser() = [&](QWidget*, const QString&) { return QString::fromStdString(image.string()); };
  page->OnBrowse();
  CDataRecovery::FileChooser() = saved;
  page->OnMount();
  Settle();
  if (state == 1) page->OnToggleDiskList();
  QImage img;
  const bool disk = diskRow >= 0 && diskRow < page->DiskList()->rowCount();
  if (disk || (volumeRow >= 0 && volumeRow < page->VolumeList()->rowCount())) {
    if (disk) page->OnClickDiskList(diskRow);
    else page->OnClickVolumeList(volumeRow);
    Settle();
    img = GrabWithPanel(&skin, skin.MainDialog()->OptionsPanel());
    skin.MainDialog()->CloseOptionsPanel();
  } else {
    img = Grab(&skin);
  }
  return img;
}

struct Renderer {
  QString name;
  std::function<QImage()> render;
};

std::vector<Renderer> Windows() {
  std::vector<Renderer> list;
  list.push_back({"CORVANDlg", [] {
                    CTransLayerDlg skin;
                    skin.Create();
                    return Grab(&skin);
                  }});
  list.push_back({"CORVANDlg-resume", [] {
                    CTransLayerDlg skin;
                    skin.Create();
                    skin.MainDialog()->OnResumeRecovery();
                    QImage img = Grab(&skin);
                    skin.MainDialog()->OnNewRecovery();
                    return img;
                  }});
  list.push_back({"CORVANDlg-options", [] {
                    CTransLayerDlg skin;
                    skin.Create();
                    skin.show();
                    Settle();
                    skin.MainDialog()->ShowOptionsPanel();
                    Settle();
                    QImage img = GrabWithPanel(&skin, skin.MainDialog()->OptionsPanel());
                    skin.MainDialog()->CloseOptionsPanel();
                    return img;
                  }});
  // The options panel as the resume page sets it up for a saved volume
  // scan (Scan Now), and as the source page does for a whole disk (the
  // lost-volume search; with an image's disk in the --image renderings).
  const struct {
    const char* name;
    std::uint8_t mediaKind, selection, page;
  } panels[] = {{"CSliderOptionDlg-resume", 7, 2, 1}, {"CSliderOptionDlg-disk", 0, 1, 0}};
  for (const auto& panel : panels)
    list.push_back({panel.name, [panel] {
                      CTransLayerDlg skin;
                      skin.Create();
                      skin.show();
                      if (panel.page == 1) skin.MainDialog()->OnResumeRecovery();
                      Settle();
                      skin.MainDialog()->ShowOptionsPanel();
                      auto* options = qobject_cast<CSliderOptionDlg*>(skin.MainDialog()->OptionsPanel());
                      if (!options) return QImage();
                      options->UpdateForSelectedMedia(panel.mediaKind, panel.selection, panel.page);
                      Settle();
                      QImage img = GrabWithPanel(&skin, options);
                      skin.MainDialog()->CloseOptionsPanel();
                      if (panel.page == 1) skin.MainDialog()->OnNewRecovery();
                      return img;
                    }});
  const struct {
    const char* name;
    unsigned picture, type;
    unsigned text;
  } boxes[] = {{"CMessageBox", kPicQuestion, kMbYesNoCancel, 310},
               {"CMessageBox-401", kPicInformation, kMbOk, 338},
               {"CMessageBox-402", kPicWarning, kMbOkCancel, 328},
               {"CMessageBox-403", kPicQuestion, kMbYesNo, 591},
               {"CMessageBox-error", kPicError, kMbOk, 592}};
  for (const auto& b : boxes) {
    list.push_back({b.name, [b] {
                      CMessageBox box(ToQString(LoadString(b.text)), b.picture, b.type);
                      return Grab(&box);
                    }});
  }
  list.push_back({"CAboutDlg", [] {
                    CAboutDlg about;
                    return Grab(&about);
                  }});
  list.push_back({"CEula", [] {
                    CEula eula;
                    return Grab(&eula);
                  }});
  // Each page as it opens; the check and the download start a second later,
  // after the picture is taken.
  for (const auto& [name, id] : {std::pair{"CUpdateWizard-start", int(CUpdateWizard::kStartPage)},
                                 std::pair{"CUpdateWizard-process", int(CUpdateWizard::kProcessPage)},
                                 std::pair{"CUpdateWizard-final", int(CUpdateWizard::kFinalPage)}}) {
    list.push_back({name, [id] {
                      CAutoUpdater updater(App());
                      CUpdateWizard wizard(updater);
                      wizard.setStartId(id);
                      return Grab(&wizard);
                    }});
  }
  // The check's page once it has answered (here: no server can be reached).
  list.push_back({"CUpdateWizard-process-answered", [] {
                    CAutoUpdater updater(App());
                    CUpdateWizard wizard(updater);
                    wizard.setStartId(CUpdateWizard::kProcessPage);
                    wizard.show();
                    wizard.ProcessPage()->RunCheck();
                    for (int i = 0; i < 3000 && wizard.ProcessPage()->LastResult() < 0; ++i) {
                      QApplication::processEvents(QEventLoop::AllEvents, 10);
                    }
                    return Grab(&wizard);
                  }});
  // The settings dialog, on each of its tabs.
  list.push_back({"CSettings", [] {
                    CSettings dlg;
                    return Grab(&dlg);
                  }});
  list.push_back({"CSettings-filetypes", [] {
                    CSettings dlg;
                    dlg.Tab()->setCurrentIndex(1);
                    return Grab(&dlg);
                  }});
  // The list's file icons, in the order of the icon key table, with their keys.
  list.push_back({"ListIcons", [] {
                    const auto& keys = IconKeyTable();
                    QImage sheet(6 * 110, 10 * 22, QImage::Format_ARGB32);
                    sheet.fill(Qt::white);
                    QPainter p(&sheet);
                    p.setFont(ArialFont(12));
                    const std::vector<QPixmap> icons = FolderListModel::FileIcons();
                    for (int i = 0; i < 60; ++i) {
                      const QPoint at((i / 10) * 110 + 4, (i % 10) * 22 + 3);
                      p.drawPixmap(at, icons[static_cast<std::size_t>(i)]);
                      p.setPen(Qt::black);
                      p.drawText(QRect(at.x() + 20, at.y(), 86, 16), Qt::AlignVCenter,
                                 QString::fromStdU16String(keys[static_cast<std::size_t>(i)]));
                    }
                    return sheet;
                  }});
  list.push_back({"CDriveLoad", [] {
                    CDriveLoad wait;
                    return Grab(&wait);
                  }});
  list.push_back({"HelpViewer", [] {
                    HelpViewer* help = HelpViewer::Instance();
                    help->ShowContext(CORVANDlg::kHelpContext);
                    QImage img = Grab(help);
                    help->close();
                    Settle();
                    return img;
                  }});
  // The source page's dialogs and the options panel's region dialog.
  list.push_back({"CFindVirtualFile", [] {
                    CFindVirtualFile find;
                    return Grab(&find);
                  }});
  list.push_back({"CFileSplittedExtent", [] {
                    CFileSplittedExtent extents;
                    return Grab(&extents);
                  }});
  list.push_back({"CSpecifiedRegion", [] {
                    App().m_scanBounds.m_nMediaFirstSector = 0;
                    App().m_scanBounds.m_nMediaLastSector = 81920;
                    CSpecifiedRegion region;
                    region.Slider()->SetPositions(2048, 60000);
                    region.OnSliderChanged(0);
                    QImage img = Grab(&region);
                    region.OnCancel();
                    return img;
                  }});
  // Raw Recovery's file types, over the installed signature file.
  list.push_back({"CFileType", [] {
                    CFileType dlg;
                    return Grab(&dlg);
                  }});
  list.push_back({"CFileType-archive", [] {
                    CFileType dlg;
                    GetDlgItemAs<QComboBox>(&dlg, CFileType::kIdGroupCombo)->setCurrentIndex(2);  // Archive
                    dlg.List()->selectRow(1);
                    dlg.EnableEditButton(true);
                    return Grab(&dlg);
                  }});
  list.push_back({"CFileType-size", [] {
                    CFileType dlg;
                    dlg.show();
                    Settle();
                    CEditList* types = dlg.List();
                    types->scrollToItem(types->item(3, 0));
                    if (CEditItem* editor = types->EditSubLabel(3, CEditList::kColSize)) editor->setText("2048");
                    QImage img = Grab(&dlg);
                    if (CEditItem* editor = types->ActiveEditor()) editor->Cancel();
                    return img;
                  }});
  list.push_back({"CAddHeader", [] {
                    CAddHeader dlg(nullptr, nullptr);
                    return Grab(&dlg);
                  }});
  list.push_back({"CAddHeader-preset", [] {
                    App().LoadUserHeaders();
                    if (App().m_fileTypeList.empty()) return QImage();
                    CAddHeader dlg(nullptr, &App().m_fileTypeList.front());
                    return Grab(&dlg);
                  }});
  list.push_back({"CAppendHeader", [] {
                    CAppendHeader dlg;
                    dlg.List()->selectRow(0);
                    return Grab(&dlg);
                  }});
  // The lost-volume dialog in each of its modes, as its search reports.
  const auto lostVolume = [](std::uint8_t mode, int rows, bool ended) {
    CLostVolume dlg(0, mode, false);
    dlg.SetStartOnShow(false);
    const std::uint64_t starts[] = {2048, 104448, 188416, 256000};
    const char16_t* systems[] = {u"NTFS", u"FAT32", u"exFAT", u"FAT"};
    const std::uint64_t counts[] = {98304, 81920, 65536, 49152};
    for (int i = 0; i < rows; ++i) {
      SourceRecord record;
      record.kind = kSourceLostVolume;
      record.partition = std::make_unique<PartitionRecord>();
      record.partition->name = FoundVolumeName(static_cast<std::uint32_t>(i + 1));
      record.partition->fileSystemText = systems[i];
      record.partition->startSector = starts[i];
      record.partition->sizeText = FormatSizeText(counts[i]);
      dlg.AddFoundVolume(record);
    }
    dlg.SetProgressRange(0, 365 + 22 + 255 + 179);
    dlg.SetProgressPos(ended ? 821 : 300);
    dlg.SetProgressText(ended ? "Reading sector 366592 of 368640" : "Reading sector 104832 of 368640");
    if (ended) dlg.HideProgress();
    dlg.ShowProgress();
    return Grab(&dlg);
  };
  list.push_back({"CLostVolume", [lostVolume] { return lostVolume(CLostVolume::kModeFirst, 2, false); }});
  list.push_back({"CLostVolume-resume", [lostVolume] { return lostVolume(CLostVolume::kModeResume, 1, false); }});
  list.push_back({"CLostVolume-repeat", [lostVolume] { return lostVolume(CLostVolume::kModeRepeat, 4, false); }});
  list.push_back({"CLostVolume-ended", [lostVolume] { return lostVolume(CLostVolume::kModeFirst, 4, true); }});
  // The kit's controls, each in a small host, filled as a dialog would.
  list.push_back({"CXColorListCtrl", [] {
                    QWidget host;
                    host.resize(420, 180);
                    CXColorListCtrl list;
                    CreateReportList(&host, 1041, QRect(10, 10, 400, 160), list);
                    list.setColumnCount(5);
                    list.setHorizontalHeaderLabels({"Volume", "Label", "Type", "File System", "Size"});
                    list.AppendRow({"VMDK-Vol 0", "VirtualVol", "FIXED", "FAT32", "31.97 MB"});
                    list.AppendRow({"VMDK-Vol 1", "VirtualVol", "FIXED", "NTFS", "63.97 MB"});
                    list.AppendRow({"Lost Vol 0", "VirtualVol", "FIXED_LOST", "exFAT", "15.99 MB"});
                    for (int c = 0; c < 5; ++c) list.setColumnWidth(c, 78);
                    return Grab(&host);
                  }});
  list.push_back({"CHTMLListCtrl", [] {
                    QWidget host;
                    host.resize(420, 260);
                    CHTMLListCtrl html;
                    html.Create(QRect(10, 10, 400, 240), &host);
                    html.InsertItem("<b>KESTRA Scan 12-Mar-2024</b><br>Volume scan of <font color=#1F6B2E>disk.vmdk</font>",
                                    CHTMLListCtrl::kMarkupText, 0, 0, 5);
                    html.InsertItem("Plain item text that wraps onto a second line when the list is narrow enough",
                                    CHTMLListCtrl::kPlainText, 0, 0, 2);
                    html.InsertItem("/home/user/machines/a/very/long/path/to/the/image/disk-flat.vmdk",
                                    CHTMLListCtrl::kPathText, 0, 0, 1);
                    html.UpdateScrollBar();
                    return Grab(&host);
                  }});
  list.push_back({"CDoubleSlider", [] {
                    QWidget host;
                    host.resize(420, 60);
                    CDoubleSlider slider(&host);
                    slider.setGeometry(10, 20, 400, 24);
                    slider.SetRange(0, 1000);
                    slider.SetPositions(200, 700);
                    slider.SetMark(400, 900, true);
                    return Grab(&host);
                  }});
  // The results window as it opens (before its scan starts) and its scan
  // dialog before the worker runs.
  list.push_back({"CRecoveryConsole", [] {
                    CRecoveryConsole console(MakeProgramEngines());
                    return Grab(&console);
                  }});
  list.push_back({"CScanProcess", [] {
                    CRecoveryConsole console(MakeProgramEngines());
                    console.show();
                    Settle();
                    auto engines = MakeProgramEngines();
                    CScanProcess dlg(&console, *engines, &console.Store(), MakeScanJob(App(), CurrentSelection(App())));
                    dlg.SetCounterText("0 Entries Found");
                    dlg.SetStatusText(LoadString(290));
                    dlg.ShowProgress();
                    return Grab(&dlg);
                  }});
  // The log dialogs: the question at close, and the viewer with a few entries.
  list.push_back({"CAskforSaveLog", [] {
                    CAskforSaveLog dlg;
                    return Grab(&dlg);
                  }});
  list.push_back({"CLogViewer", [] {
                    App().AppendLog("Scanning volume", true);
                    App().AppendLog("Process started", false);
                    CLogViewer dlg;
                    return Grab(&dlg);
                  }});
  // The file mask and find dialogs of the results window.
  list.push_back({"CFileMask", [] {
                    CFileMask dlg([](MaskCriteria) { return false; });
                    return Grab(&dlg);
                  }});
  for (const bool advanced : {false, true}) {
    list.push_back({advanced ? "CFindDlg-advanced" : "CFindDlg", [advanced] {
                      CRecoveryConsole console(MakeProgramEngines());
                      FindSearch search;
                      CFindDlg dlg(console, search, QStringLiteral("*.jpg;*.png"));
                      if (advanced) dlg.OnAdvanced();
                      return Grab(&dlg);
                    }});
  }
  // The saving dialogs of Recover.
  list.push_back({"CSaveRecovery", [] {
                    CSaveRecovery dlg(nullptr, nullptr, 0);
                    return Grab(&dlg);
                  }});
  // Saving to an FTP server: the destination's FTP choice, the settings and
  // the server browser showing a listing a pyftpdlib server sent
  // (tests/data/save/ftp-list-pyftpdlib.txt).
  list.push_back({"CSaveRecovery-ftp", [] {
                    CSaveRecovery dlg(nullptr, nullptr, 0);
                    GetDlgItemAs<QRadioButton>(&dlg, CSaveRecovery::kIdFtp)->click();
                    GetDlgItemAs<QLineEdit>(&dlg, CSaveRecovery::kIdFtpPath)->setText("/Recovered Files");
                    return Grab(&dlg);
                  }});
  list.push_back({"CFTPSettings", [] {
                    CFTPSettings dlg;
                    GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdServer)->setText("192.0.2.10");
                    GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdPort)->setText("21");
                    GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdUser)->setText("backup");
                    GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdPassword)->setText("secret");
                    GetDlgItemAs<QLineEdit>(&dlg, CFTPSettings::kIdRemoteFolder)->setText("/Recovered Files");
                    return Grab(&dlg);
                  }});
  list.push_back({"CServerBrowser", [] {
                    const auto listing = std::filesystem::path(__FILE__).parent_path().parent_path() / "data" /
                                         "save" / "ftp-list-pyftpdlib.txt";
                    std::ifstream in(listing, std::ios::binary);
                    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                    CServerBrowser dlg("192.0.2.10", "backup", "secret", "21");
                    QTreeWidget* tree = dlg.Tree();
                    QTreeWidgetItem* root = tree->topLevelItem(0);
                    dlg.ShowListing(root, ParseFtpListing(text));
                    // Shown as listed, without asking the (made-up) server again.
                    const QSignalBlocker quiet(tree);
                    root->setExpanded(true);
                    if (root->childCount() > 2) tree->setCurrentItem(root->child(2));
                    return Grab(&dlg);
                  }});
  list.push_back({"CAddFileFilter", [] {
                    App().m_saveChoice.m_saveMasks = {u"*.doc", u"*.jpg"};
                    CAddFileFilter dlg;
                    QImage img = Grab(&dlg);
                    App().m_saveChoice.m_saveMasks.clear();
                    return img;
                  }});
  list.push_back({"CFileExistDlg", [] {
                    CFileExistDlg dlg(FileExistQuestion{u"report.txt", 2048, 4096, u"Copy1_report.txt"});
                    return Grab(&dlg);
                  }});
  list.push_back({"CAbortSaving", [] {
                    CAbortSaving dlg(u"movie.avi");
                    return Grab(&dlg);
                  }});
  list.push_back({"CSaveProcess", [] {
                    CRecoveryConsole console(MakeProgramEngines());
                    console.show();
                    Settle();
                    CSaveProcess dlg(&console, console.Store(), 0);
                    dlg.SetRange(0, 10);
                    dlg.SetPos(4);
                    dlg.SetSecondRange(0, 8);
                    dlg.SetSecondPos(6);
                    dlg.SetStatusText(LoadString(105) + ": /home/user/recovered/Documents/");
                    dlg.SetSectorText(LoadString(106) + ": report.txt");
                    dlg.ShowProgress();
                    return Grab(&dlg);
                  }});
  // Saving the scan information: one bar, Stop off.
  list.push_back({"CSaveProcess-scaninfo", [] {
                    CRecoveryConsole console(MakeProgramEngines());
                    console.show();
                    Settle();
                    CSaveProcess dlg(&console, console.Store(), std::filesystem::path("/tmp/scan.img"));
                    dlg.SetRange(0, 10);
                    dlg.SetPos(7);
                    dlg.ShowProgress();
                    return Grab(&dlg);
                  }});
  list.push_back({"CXColorTab", [] {
                    const int saved = TabStyleFlags();
                    TabStyleFlags() = 0x0E;
                    CXTabWidget tabs;
                    tabs.resize(420, 120);
                    tabs.ColorTab()->m_crTab = 0xB4DCC3;
                    tabs.addTab(new QWidget, ToQString(LoadString(367)));
                    tabs.addTab(new QWidget, ToQString(LoadString(372)));
                    tabs.addTab(new QWidget, ToQString(LoadString(373)));
                    QImage img = Grab(&tabs);
                    TabStyleFlags() = saved;
                    return img;
                  }});
  return list;
}

// The resume page over the scans saved in this run: the volume scan just
// made and a drive scan of the volumes a quick lost-volume search finds on
// the same disk when its partition tables are not consulted. Then the page
// with that drive scan opened, and with the volume scan chosen (the panel
// in its Scan Now set-up).
std::vector<std::pair<QString, QImage>> RenderResumePages(const std::filesystem::path& folder) {
  CORVANApp& app = App();
  std::vector<std::pair<QString, QImage>> images;
  std::erase_if(app.m_sourceList.m_sources, [](const auto& r) { return r->kind == kSourceVolume; });
  if (!SelectSource(app, 0)) return images;
  CThreadForSearchVolume search(MakeLostVolumeJob(app, CurrentSelection(app), nullptr, false, false));
  search.Run();
  if (!app.SaveDriveScanInfo(folder / "render scan.img")) return images;

  CTransLayerDlg skin;
  skin.Create();
  skin.show();
  skin.MainDialog()->OnResumeRecovery();
  Settle();
  auto* page = qobject_cast<CResumeRecovery*>(skin.MainDialog()->ResumeRecoveryPage());
  if (!page) return images;
  images.emplace_back("CResumeRecovery-scans", skin.grab().toImage());
  const auto& shown = page->ShownScans();
  const auto item = [&](std::uint8_t kind) {
    return static_cast<int>(std::find_if(shown.begin(), shown.end(), [kind](const ScanImageRecord& r) {
                              return r.kind == kind;
                            }) - shown.begin());
  };
  page->OnSelectSavedScan(item(kScanKindDrives));
  Settle();
  images.emplace_back("CResumeRecovery-volumes", skin.grab().toImage());
  page->OnSelectSavedScan(item(kScanKindVolume));
  Settle();
  if (CSlider* panel = skin.MainDialog()->OptionsPanel())
    images.emplace_back("CResumeRecovery-scannow", GrabWithPanel(&skin, panel));
  skin.MainDialog()->CloseOptionsPanel();
  return images;
}

// The preview of the first found file of each pane's kind, in the results
// window ("Preview-<pane>"); hex for the first file no other pane shows, or
// else "Show As Hex" of the first file.
void RenderPreviews(CRecoveryConsole* console, std::vector<std::pair<QString, QImage>>& images) {
  const struct {
    PreviewPane pane;
    const char* name;
    const char16_t* extension = nullptr;  // the table and media panes once per kind of file
  } kinds[] = {{PreviewPane::Hex, "hex"},
               {PreviewPane::Text, "text"},
               {PreviewPane::Image, "image"},
               {PreviewPane::Pdf, "pdf"},
               {PreviewPane::Media, "media", u".wav"},
               {PreviewPane::Media, "media-video", u".avi"},
               {PreviewPane::Office, "office"},
               {PreviewPane::Html, "html"},
               {PreviewPane::Rtf, "rtf"},
               {PreviewPane::Archive, "archive"},
               {PreviewPane::Backup, "backup"},
               {PreviewPane::Table, "table-dbf", u".dbf"},
               {PreviewPane::Table, "table-csv", u".csv"},
               {PreviewPane::Table, "table-mdf", u".mdf"}};
  const FoundItemStore& store = console->Store();
  for (const auto& kind : kinds) {
    FoundItemHandle found = kNoFoundItem, anyFile = kNoFoundItem;
    for (FoundItemHandle h = 1; h < store.Count() && found == kNoFoundItem; ++h) {
      const StoredItem item = store.Item(h);
      if (IsFolderRecord(item.record) || item.record.size == 0) continue;
      if (anyFile == kNoFoundItem) anyFile = h;
      if (kind.extension && DottedExtension(item.name) != kind.extension) continue;
      if (ChoosePreview(item.name, item.record.size, false, false) == kind.pane) found = h;
    }
    const bool asHex = found == kNoFoundItem && kind.pane == PreviewPane::Hex;
    if (asHex) found = anyFile;
    if (found == kNoFoundItem) continue;
    console->ShowPreview(found, asHex);
    CPreviewArea* area = console->PreviewArea();
    QElapsedTimer wait;
    wait.start();
    while (!area->Ready() && wait.elapsed() < 180000) QApplication::processEvents(QEventLoop::AllEvents, 20);
    // Pages and video frames are drawn a moment after the pane has them.
    wait.restart();
    while (wait.elapsed() < 700) QApplication::processEvents(QEventLoop::AllEvents, 20);
    if (area->Ready() && area->Shown() == kind.pane)
      images.emplace_back(QStringLiteral("Preview-") + QLatin1String(kind.name), console->grab().toImage());
    else
      std::fprintf(stderr, "render-windows: the %s preview did not show\n", kind.name);
  }
  console->ClearPreview();
}

// The windows of a scan of volume `volume` of `image`: the scan dialog as
// the worker ends, the results window in its three views.
int RenderScan(const Options& o, QDir& out) {
  CORVANApp& app = App();
  const std::filesystem::path image = o.image->c_str();
  // The source page after mounting the image: volume list, hard-disk list,
  // and the selected volume with the options panel.
  {
    app.m_pPrompt = nullptr;
    const struct {
      const char* name;
      int state, row, diskRow;
    } pages[] = {{"CDataRecovery-mounted", 0, -1, -1},
                 {"CDataRecovery-disks", 1, -1, -1},
                 {"CSliderOptionDlg-volume", 0, static_cast<int>(*o.volume) - 1, -1},
                 {"CSliderOptionDlg-disk", 1, -1, 0}};
    for (const auto& p : pages) {
      const QImage img = GrabMountedPage(image, p.state, p.row, p.diskRow);
      const QString file = out.filePath(QString::fromLatin1(p.name) + QStringLiteral(".png"));
      if (!img.isNull() && img.save(file)) std::printf("%s\n", qPrintable(file));
    }
  }
  const MountOutcome mount = MountAndListSources(app, ImageTypeForPath(image), image);
  if (!mount.mounted) {
    std::fprintf(stderr, "render-windows: %s cannot be mounted\n", o.image->c_str());
    return 1;
  }
  if (!SelectSource(app, static_cast<std::uint16_t>(*o.volume))) {
    std::fprintf(stderr, "render-windows: %s has no source record %ld\n", o.image->c_str(), *o.volume);
    return 1;
  }
  app.m_nRecoveryMode = *o.mode == "quick"     ? kModeQuick
                        : *o.mode == "deleted" ? kModeDeleted
                        : *o.mode == "advance" ? kModeAdvance
                                               : kModeRaw;
  // Advance Recovery scans as the volume's own file system.
  const SourceRecord* source = app.m_sourceList.m_pSelectedSource;
  const std::uint8_t fs = source->partition ? source->partition->fileSystemKind : 0;
  app.m_nAdvanceFsChoice = fs == kFsNtfs ? kAdvanceNtfs : fs == kFsExFat ? kAdvanceExFat : kAdvanceFat;

  std::vector<std::pair<QString, QImage>> images;
  CScanProcess::SetBeforeEndHook([&](CScanProcess& dlg) { images.emplace_back("CScanProcess-scan", dlg.grab().toImage()); });
  auto* console = new CRecoveryConsole(MakeProgramEngines());
  console->show();
  QElapsedTimer timer;
  timer.start();
  while (!console->ScanFinished() && timer.elapsed() < 600000) QApplication::processEvents(QEventLoop::AllEvents, 20);
  CScanProcess::SetBeforeEndHook(nullptr);
  if (!console->ScanFinished()) {
    std::fprintf(stderr, "render-windows: the scan did not end\n");
    return 1;
  }
  Settle();
  images.emplace_back("CRecoveryConsole-scan", console->grab().toImage());
  // The classic view with the first folder of the root open, if it has one.
  CFileFolderTree* classic = console->Tree(0);
  const QModelIndex root = classic->Model()->index(0, 0);
  if (classic->Model()->rowCount(root) > 0) {
    classic->SelectFolderRecord(classic->Model()->HandleOf(classic->Model()->index(0, 0, root)));
    Settle();
    images.emplace_back("CRecoveryConsole-scan-folder", console->grab().toImage());
  }
  console->Tab()->setCurrentIndex(1);
  Settle();
  images.emplace_back("CRecoveryConsole-scan-types", console->grab().toImage());
  // The filtered tree of a mask over the scan's pictures and texts, with its
  // first folder open.
  console->Tab()->setCurrentIndex(2);
  Settle();
  console->MaskBox()->setText(QStringLiteral("*.jpg;*.png;*.bmp;*.txt"));
  console->OnFilterNow();
  while (console->MaskPending() && timer.elapsed() < 600000) QApplication::processEvents(QEventLoop::AllEvents, 20);
  CFileFolderTree* filtered = console->Tree(2);
  const QModelIndex filteredRoot = filtered->Model()->index(0, 0);
  if (filtered->Model()->rowCount(filteredRoot) > 0)
    filtered->SelectFolderRecord(filtered->Model()->HandleOf(filtered->Model()->index(0, 0, filteredRoot)));
  Settle();
  images.emplace_back("CRecoveryConsole-scan-filtered", console->grab().toImage());
  RenderPreviews(console, images);
  QTemporaryDir scans;
  const std::filesystem::path scanFolder = scans.path().toStdString();
  const bool saved = SaveScanInformation(app, scanFolder / "render scan.img", SavedScanItemsOf(console->Store()));
  console->Store().Clear();
  delete console;
  int failures = 0;
  std::vector<std::pair<QString, QImage>> resume;
  if (saved) resume = RenderResumePages(scanFolder);
  if (resume.size() != 3) {
    std::fprintf(stderr, "render-windows: the resume page could not be rendered from the saved scans\n");
    ++failures;
  }
  for (auto& page : resume) images.push_back(std::move(page));
  for (const auto& [name, img] : images) {
    const QString file = out.filePath(name + QStringLiteral(".png"));
    if (img.isNull() || !img.save(file)) {
      std::fprintf(stderr, "render-windows: %s could not be rendered\n", qPrintable(name));
      ++failures;
    } else {
      std::printf("%s\n", qPrintable(file));
    }
  }
  return failures ? 1 : 0;
}

}  // namespace
}  // namespace corvan

int main(int argc, char** argv) {
  using namespace corvan;
  int rc = 0;
  const std::optional<Options> options = Parse(argc, argv, rc);
  if (!options) return rc;
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // Settings and logs of this run stay out of the user's folders. The folder
  // outlives the application object, which writes its log as the process
  // ends; Qt's per-session folder goes there too.
  static QTemporaryDir home;
  for (const char* v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
    qputenv(v, QDir(home.path()).filePath(QString::fromLatin1(v)).toLocal8Bit());
  const QString runtime = QDir(home.path()).filePath(QStringLiteral("runtime"));
  QDir().mkpath(runtime);
  QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  qputenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit());
  QApplication app(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  InitSharedLook();
  App().InitState();
  App().m_nScreenDpi = 96;

  QDir out(options->outDir);
  if (!out.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "render-windows: cannot make %s\n", qPrintable(options->outDir));
    return 1;
  }
  if (options->image) return RenderScan(*options, out);
  int failures = 0;
  for (const auto& w : Windows()) {
    const QImage img = w.render();
    const QString file = out.filePath(w.name + QStringLiteral(".png"));
    if (img.isNull() || !img.save(file)) {
      std::fprintf(stderr, "render-windows: %s could not be rendered\n", qPrintable(w.name));
      ++failures;
    } else {
      std::printf("%s\n", qPrintable(file));
    }
  }
  return failures ? 1 : 0;
}
