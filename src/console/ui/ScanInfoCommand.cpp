#include "console/ui/ScanInfoCommand.h"

#include <QFileDialog>
#include <system_error>

#include "app/CORVANApp.h"
#include "console/ui/CRecoveryConsole.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "platform/TimeFormat.h"
#include "save/ui/CSaveProcess.h"
#include "sources/VirtualDiskImage.h"
#include "ui/QtText.h"

namespace corvan {

namespace {

bool SameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code ec;
  if (std::filesystem::equivalent(a, b, ec)) return true;
  // A file that does not exist yet is equivalent to nothing; compare names.
  // A name that cannot be resolved names no file (two failures would
  // otherwise compare as two equal empty paths).
  const std::filesystem::path ca = std::filesystem::weakly_canonical(a, ec);
  if (ec) return false;
  const std::filesystem::path cb = std::filesystem::weakly_canonical(b, ec);
  return !ec && ca == cb;
}
}  // namespace

QString ChooseScanInfoFile(QWidget* parent, const QString& suggested, const QString& filter, const QString& title) {
  QFileDialog dialog(parent, title, QString(), filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("img"));
  dialog.selectFile(suggested);
  return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().front()
                                                                                 : QString();
}

ScanInfoFileChooser& ScanInfoSaveChooser() {
  static ScanInfoFileChooser chooser = ChooseScanInfoFile;
  return chooser;
}

QString SuggestedScanInfoName() {
  return ToQString(LoadString(kIdsProductName) + LoadString(kIdsScanSuffix) + FormatNow(" %d-%b-%Y_%I %M %S %p") +
                   ".img");
}

bool IsPartOfMountedImage(const std::filesystem::path& path) {
  const CORVANApp& app = App();
  std::vector<std::filesystem::path> parts;
  if (!app.m_strImagePath.empty()) parts.push_back(app.m_strImagePath);
  if (app.m_pImage) {
    const MountState& state = app.m_pImage->State();
    if (!state.m_strImagePath.empty()) parts.push_back(state.m_strImagePath);
    for (const DISK_DESCRIPTOR_EXTENT& extent : state.m_arrExtents)
      parts.push_back(state.m_strImagePath.parent_path() / std::filesystem::path(extent.fileName));
  }
  for (const auto& part : parts)
    if (SameFile(path, part)) return true;
  return false;
}

bool SaveScanInformationCommand(CRecoveryConsole& console) {
  CORVANApp& app = App();
  console.ClearPreview();
  // Loaded from a saved scan, or saved already: there is nothing new to keep.
  if (app.m_bFromScanInfo) return true;

  const QString chosen =
      ScanInfoSaveChooser()(&console, SuggestedScanInfoName(),
                            ToQString(LoadString(kIdsImageFile)) + QStringLiteral(" (*.img *.IMG)"),
                            ToQString(LoadString(kIdsSaveScanInfoTitle)));
  if (chosen.isEmpty()) return false;
  const std::filesystem::path path(chosen.toStdString());

  // The scan information must never be written over the disk it describes.
  if (IsPartOfMountedImage(path)) {
    app.GetPrompt().MessageBoxId(kIdsSameDrive, kPicError, kMbOk);
    return false;
  }
  if (!app.m_bHaveFoundVolumes) app.SaveDriveScanInfo(path);
  if (!app.m_bResultsPresent) return true;

  console.EnableLeaveCommands(false);
  CSaveProcess progress(&console, console.Store(), path);
  progress.open();
  progress.Start();
  progress.exec();
  console.EnableLeaveCommands(true);
  return progress.ScanInfoSaved();
}

}  // namespace corvan
