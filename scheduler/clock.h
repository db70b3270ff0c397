#pragma once
// The scheduler's clock. It reads the time in UTC; the date and the time of
// day that the schedules compare with are that time in the local zone (TZ),
// so a test that sets the clock and TZ sees what a user in that zone sees,
// summer and winter time included.
#include <cstdint>
#include <string>

#include "platform/time.h"

namespace kv {

class ISchedulerClock {
 public:
  virtual ~ISchedulerClock() = default;
  virtual platform::FileTime UtcNow() = 0;
};

class TSystemClock final : public ISchedulerClock {
 public:
  platform::FileTime UtcNow() override { return platform::FileTimeNow(); }
};

// A local date-time split as the schedules compare it: whole days since
// 30.12.1899 and milliseconds since midnight.
struct TLocalTime {
  int64_t day = 0;
  int64_t msOfDay = 0;
  platform::DateTime value = 0;  // the two together
};

TLocalTime LocalTimeOf(platform::DateTime value);
TLocalTime LocalNow(ISchedulerClock& clock);

// "DD.MM.YY HH:NN:SS", as the grid shows a last start.
std::string DateTimeText(platform::DateTime value);

// Whole days and milliseconds of the time of day of a date-time value.
int64_t DayOf(platform::DateTime value);
int64_t MsOfDay(platform::DateTime value);

}  // namespace kv
