#include "platform/TimeFormat.h"

#include <locale.h>
#include <time.h>

#include <mutex>

namespace corvan {

namespace {
std::mutex g_clockMutex;
ClockFunction g_clock;

locale_t CLocale() {
  static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return loc;
}
}  // namespace

void SetClock(ClockFunction clock) {
  std::lock_guard lock(g_clockMutex);
  g_clock = std::move(clock);
}

std::time_t Now() {
  {
    std::lock_guard lock(g_clockMutex);
    if (g_clock) return g_clock();
  }
  return std::time(nullptr);
}

std::string FormatTime(std::string_view format, std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  const std::string fmt(format);
  char buffer[512];
  const std::size_t n = strftime_l(buffer, sizeof buffer, fmt.c_str(), &tm, CLocale());
  return std::string(buffer, n);
}

}  // namespace corvan
