#pragma once
// One save: the engine whose found files it writes and the application
// state it is handed. The answers of the file-exists question stay on the
// program's application object; the job holds references to them.

#include <cstdint>
#include <string>
#include <vector>

#include "save/RecoveredFileTimes.h"
#include "scan/EngineRegistry.h"
#include "scan/ScanSession.h"

namespace corvan {

class EngineHost;
class ProgressSink;

struct FileExistAnswers {
  std::uint8_t& m_bSkip;
  std::uint8_t& m_bSkipAll;
  std::uint8_t& m_bRename;
  std::uint8_t& m_bRenameAll;
  std::uint8_t& m_bOverwrite;
  std::uint8_t& m_bOverwriteAll;
};

struct SaveJob {
  EngineHost& host;                      // log, message box, busy and stop flags
  FileExistAnswers answers;
  ScanEngine* engine = nullptr;          // reads the files' data
  std::int32_t volumeKind = kSaveVolumeFat;
  ProgressSink* progress = nullptr;      // the saving progress dialog, if any
  std::vector<std::u16string> masks;     // the save filter's masks, in order
  std::uint8_t maskExclude = 0;          // 0 save matching files, 1 save the others

  // The session's engine saves the files; how its items keep their time
  // stamps is the kind of volume they are saved from.
  void UseEngineOf(const ScanSession& session) {
    engine = session.Engine();
    const StampKind stamps = StampKindOf(session.Kind());
    volumeKind = !engine || stamps == StampKind::ExFat ? kSaveVolumeExFat
                 : stamps == StampKind::Ntfs            ? kSaveVolumeNtfs
                                                        : kSaveVolumeFat;
  }
};

}  // namespace corvan
