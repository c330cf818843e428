#include "core/EngineHost.h"

#include "core/StringTable.h"
#include "platform/TimeFormat.h"

namespace corvan {

namespace {
constexpr unsigned kIdsProcessStarted = 222;
constexpr unsigned kIdsStartedOn = 223;
constexpr unsigned kIdsProcessCompleted = 231;
constexpr unsigned kIdsCompletedOn = 232;
constexpr unsigned kIdsProcessAborted = 235;
constexpr unsigned kIdsAbortedOn = 236;
}  // namespace

void EngineHost::LogProcessStarted() {
  AppendLog(LoadString(kIdsProcessStarted), false);
  AppendLog(LoadString(kIdsStartedOn) + FormatLogTime(Now()), false);
}

void EngineHost::LogProcessEnded(bool aborted) {
  AppendLog(LoadString(aborted ? kIdsProcessAborted : kIdsProcessCompleted), false);
  AppendLog(LoadString(aborted ? kIdsAbortedOn : kIdsCompletedOn) + FormatLogTime(Now()), false);
}

}  // namespace corvan
