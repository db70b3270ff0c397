#include "scheduler/clock.h"

#include <cmath>

namespace kv {

int64_t DayOf(platform::DateTime value) { return static_cast<int64_t>(std::floor(value)); }

int64_t MsOfDay(platform::DateTime value) {
  const int64_t ms = std::llround((value - std::floor(value)) * 86400000.0);
  return ms >= 86400000 ? 86399999 : ms;
}

TLocalTime LocalTimeOf(platform::DateTime value) { return TLocalTime{DayOf(value), MsOfDay(value), value}; }

std::string DateTimeText(platform::DateTime value) {
  const platform::CivilTime day = platform::CivilFromDateTime(std::floor(value));
  return platform::FormatDateShort(day) + " " + platform::FormatTime(platform::CivilFromDateTime(value));
}

TLocalTime LocalNow(ISchedulerClock& clock) { return LocalTimeOf(platform::DateTimeFromFileTime(clock.UtcNow())); }

}  // namespace kv
