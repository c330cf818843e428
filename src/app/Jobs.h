#pragma once
// The scan and save jobs of the running program: each is handed the
// application object as its host and the scan session the application shares
// with its windows; a save takes its request as a value. What to scan or
// search is the source selection the window that starts the job hands it
// (CurrentSelection).

#include "scan/CThreadForSearchVolume.h"
#include "scan/ScanInfoFile.h"
#include "scan/ScanJob.h"
#include "save/SaveJob.h"

namespace corvan {

class CORVANApp;

// A scan of `selection` in the chosen recovery mode.
ScanJob MakeScanJob(CORVANApp& app, SourceSelection selection);
// Mode 511: restores the saved scan `app.m_scanInfoFile` names (its image
// mounted again, its engine, sources and selection) and hands its items to
// the results window. False when it cannot; the user was told why.
bool ResumeSavedScan(CORVANApp& app);
// Saves the result of the current scan (the active engine, the sources and
// the items of `items`, the root first) to `path`, logging it, records the
// path and adds the file to the saved-scan index. False (the user told why)
// when nothing could be saved; with no scan, nothing is written.
bool SaveScanInformation(CORVANApp& app, const std::filesystem::path& path, const ScanInfoItemSource& items);
// A lost-volume search of the disk of `selection`, reporting to `sink`.
LostVolumeJob MakeLostVolumeJob(CORVANApp& app, SourceSelection selection, LostVolumeSink* sink, bool deep,
                                bool imageFlag);
// A save of the found items of the scan session's engine.
SaveJob MakeSaveJob(CORVANApp& app);
// The destination and options the destination dialog stored in the
// application object, into a save's request.
void TakeSaveOptions(const CORVANApp& app, SaveRequest& request);
// The file-exists answers a finished save leaves on the application object.
void KeepSaveAnswers(CORVANApp& app, const SaveJobResult& result);

}  // namespace corvan
