#include "save/SaveDestination.h"

#include "core/AppServices.h"
#include "core/EngineHost.h"
#include "core/NameSanitiser.h"
#include "core/StringIds.h"
#include "core/StringTable.h"
#include "save/FtpDestination.h"
#include "save/LocalDestinations.h"
#include "save/OutputWriter.h"

namespace corvan {

void SaveJobLog::Reset() {
  result_ = SaveJobResult{};
  stop_ = false;
  firstFailure_.clear();
  foldersFailed_ = 0;
}

void SaveJobLog::Line(const std::string& text) { host_.AppendLog(text, false); }

void SaveJobLog::NoteFailure(const std::string& message) {
  Line("ERROR!  " + message);
  if (firstFailure_.empty()) firstFailure_ = message;
}

void SaveJobLog::EndJob(const std::string& message) {
  if (stop_) return;
  Fail(message, message);
}

void SaveJobLog::Fail(const std::string& shown, const std::string& logged) {
  stop_ = true;
  result_.failedJob = true;
  result_.failure = shown;
  Line("ERROR!  " + logged);
  host_.GetPrompt().MessageBox(shown, kPicError, kMbOk);
}

bool SaveJobLog::AbortRequested() const { return host_.AbortFlag() != 0; }

std::string SaveDestination::FirstFreeCopyName(const std::string& name) {
  const std::string copy = LoadString(kIdsCopy);
  for (std::uint32_t n = 1; n <= CopyIndexLimit() && !log_.Stopped(); ++n) {
    const std::string candidate = SanitiseName(std::string_view(copy + std::to_string(n) + "_" + name)).name;
    if (!Probe(candidate).exists) return candidate;
  }
  return {};
}

std::unique_ptr<SaveDestination> MakeSaveDestination(const SaveJob& job, SaveJobLog& log) {
  const SaveRequest& request = job.request;
  // An FTP destination takes plain files only.
  if (request.m_nDestKind == 1)
    return std::make_unique<FtpDestination>(log, request.m_ftp, request.m_ftpTimeouts, request.m_szDest.string());
  OutputWriter& writer = job.writer ? *job.writer : DefaultOutputWriter();
  if (!request.m_bCreateZip) return std::make_unique<FolderDestination>(log, request.m_szDest, writer, job.volumeKind);
  if (request.m_nZipMode == 1) return std::make_unique<SingleZipDestination>(log, request.m_szDest, writer);
  return std::make_unique<OwnZipDestination>(log, request.m_szDest, writer);
}

}  // namespace corvan
