#pragma once
// "Save scan information" of the results window, asked when the user leaves
// it: the file dialog, the refusal of a file that is part of the mounted
// image, the found volumes saved beside the scan when they were not yet,
// and the saving progress dialog over the window.

#include <QString>
#include <filesystem>
#include <functional>

class QWidget;

namespace corvan {

class CRecoveryConsole;

// The save-file dialog: parent, suggested file name, filter, title; returns
// the chosen path or an empty text. Tests replace it.
using ScanInfoFileChooser =
    std::function<QString(QWidget* parent, const QString& suggested, const QString& filter, const QString& title)>;
ScanInfoFileChooser& ScanInfoSaveChooser();
// The program's own chooser: a save-file dialog over `parent`.
QString ChooseScanInfoFile(QWidget* parent, const QString& suggested, const QString& filter, const QString& title);

// The name the dialog suggests: "<product> Scan <date_time>.img".
QString SuggestedScanInfoName();

// True when writing `path` would replace the mounted image or one of its
// extent files.
bool IsPartOfMountedImage(const std::filesystem::path& path);

// Whether leaving is confirmed: false when the user cancelled the dialog or
// the file was refused or could not be saved (the user was told why), so
// the results are not lost.
bool SaveScanInformationCommand(CRecoveryConsole& console);

}  // namespace corvan
