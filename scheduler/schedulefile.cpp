#include "scheduler/schedulefile.h"

#include <cmath>
#include <cstdint>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/volumes.h"

namespace kv {
namespace {

std::string WeekKey(size_t day) { return "Week" + std::to_string(day); }

// A kind outside the byte it is kept in is no schedule: cut to the byte,
// 259 would start a profile every day.
uint8_t ReadKind(const platform::IniFile& schedule, std::string_view section) {
  const int32_t kind = schedule.ReadInteger(section, "Kind", kKindNone);
  return kind >= 0 && kind <= UINT8_MAX ? static_cast<uint8_t>(kind) : uint8_t{kKindNone};
}

}  // namespace

std::string WorkFolderOf(std::string_view value) {
  const std::string win = !value.empty() && value.front() == '/' ? platform::FromPosixPath(value) : std::string(value);
  return platform::IncludeTrailingBackslash(win);
}

std::string ProfileNumberText(int64_t number) {
  std::string text = platform::IntToStr(number);
  if (text.size() < 7) text.insert(0, 7 - text.size(), '0');
  return text;
}

void ReadSchedule(const platform::IniFile& schedule, std::string_view section, TTimerItem& item,
                  ISchedulerClock& clock) {
  const TLocalTime now = LocalNow(clock);
  const DateTime today = static_cast<DateTime>(now.day);
  const DateTime timeOfDay = now.value - today;
  switch (item.kind) {
    case kKindOnce:
      item.startDate = schedule.ReadDate(section, "OnceDate", 0);
      item.startTime = schedule.ReadTime(section, "OnceTime", 0);
      break;
    case kKindInterval:
      item.startDate = today;
      item.startTime = timeOfDay;
      NextInterval(schedule, item);
      break;
    case kKindDaily:
      item.startDate = today;
      item.startTime = schedule.ReadTime(section, "Daily", 0);
      break;
    case kKindWeekly:
      for (size_t d = 0; d < item.week.size(); ++d) {
        item.week[d].dayActive = schedule.ReadBool(section, WeekKey(d) + "Active", false);
        item.week[d].dayTime = schedule.ReadTime(section, WeekKey(d), 0);
        item.week[d].dayDone = false;
      }
      break;
    case kKindMonthly:
      item.startDate = today;
      item.startTime = timeOfDay;
      item.monthDay = schedule.ReadInteger(section, "MonthDay", 0);
      item.monthTime = schedule.ReadTime(section, "MonthTime", 0);
      break;
    default:
      break;
  }
}

TTimerItem ReadEntry(const platform::IniFile& schedule, std::string_view section, ISchedulerClock& clock) {
  TTimerItem item;
  item.profileNo = std::string(section);
  item.name = schedule.ReadString(section, "Name", "");
  item.kind = ReadKind(schedule, section);
  item.mail = schedule.ReadString(section, "Mail", "");
  item.lastStart = schedule.ReadDateTime(section, "LastStart", 0);
  ReadSchedule(schedule, section, item, clock);
  return item;
}

DateTime ReadInterval(const platform::IniFile& schedule, std::string_view section) {
  return schedule.ReadTime(section, "Intervall", 0);
}

void NextInterval(const platform::IniFile& schedule, TTimerItem& item) {
  const DateTime next = std::floor(item.startDate) + (item.startTime - std::floor(item.startTime)) +
                        ReadInterval(schedule, item.profileNo);
  item.startDate = next;
  item.startTime = next;
}

std::string TimerKindText(const std::string& folder, std::string_view profileNo) {
  const std::string path = folder + std::string(kScheduleFileName);
  if (!platform::FileExists(path)) return "-";
  return KindName(ReadKind(platform::IniFile(path), profileNo));
}

}  // namespace kv
