#pragma once
// Time texts in the C locale, from one clock that tests can replace.

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

namespace corvan {

using ClockFunction = std::function<std::time_t()>;

// Replaces the clock (tests); an empty function restores the system clock.
void SetClock(ClockFunction clock);
std::time_t Now();

// strftime in the C locale on the local time of `t`.
std::string FormatTime(std::string_view format, std::time_t t);
inline std::string FormatNow(std::string_view format) { return FormatTime(format, Now()); }

// The time stamp that every long operation writes after "Started on:" and the like.
inline std::string FormatLogTime(std::time_t t) { return FormatTime(" %b %d %Y , %I:%M %p", t); }

}  // namespace corvan
