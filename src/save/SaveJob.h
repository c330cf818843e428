#pragma once
// One save: the engine whose found files it writes and the application
// state it is handed. The answers of the file-exists question stay on the
// program's application object; the job holds references to them.

#include <cstdint>
#include <string>
#include <vector>

#include "save/RecoveredFileTimes.h"
#include "scan/ScanJob.h"

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

  // The first engine the slots hold saves the files: FAT, NTFS, exFAT.
  void UseFirstEngine(const EngineSlots& held) {
    engine = held.First();
    volumeKind = held.fat ? kSaveVolumeFat : held.ntfs ? kSaveVolumeNtfs : kSaveVolumeExFat;
  }
};

}  // namespace corvan
