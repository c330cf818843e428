#include "core/EngineHost.h"

#include "core/StringIds.h"
#include "core/StringTable.h"
#include "platform/TimeFormat.h"

namespace corvan {

void EngineHost::LogProcessStarted() {
  AppendLog(LoadString(kIdsProcessStarted), false);
  AppendLog(LoadString(kIdsStartedOn) + FormatLogTime(Now()), false);
}

void EngineHost::LogProcessEnded(bool aborted) {
  AppendLog(LoadString(aborted ? kIdsProcessAborted : kIdsProcessCompleted), false);
  AppendLog(LoadString(aborted ? kIdsAbortedOn : kIdsCompletedOn) + FormatLogTime(Now()), false);
}

}  // namespace corvan
