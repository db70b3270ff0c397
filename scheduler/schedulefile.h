#pragma once
// The schedule file "Timer.dat": an INI file in the profile folder with one
// section per scheduled profile, named by its seven-digit number. The
// profile editor writes it; the scheduler reads the schedules and writes
// only LastStart after each start.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/inifile.h"
#include "scheduler/clock.h"
#include "scheduler/timerlist.h"

namespace kv {

inline constexpr std::string_view kScheduleFileName = "Timer.dat";
// The user's key of the registry: WorkDir, ServiceAdress.
inline constexpr std::string_view kUserKey = "Software\\Vorlem\\Kestrovane";

// The working folder a WorkDir value names, ending in "\"; a folder of this
// machine ("/home/ann/kv") is taken as well as a Windows path.
std::string WorkFolderOf(std::string_view value);

// A profile number as the sections name it: decimal, "0" in front up to
// seven characters (42 -> "0000042").
std::string ProfileNumberText(int64_t number);

// Fills the fields of the entry's kind from its section (Name, ProfileNo,
// Mail, Kind and LastStart are set by the caller). Interval and monthly
// entries count from the clock's now.
void ReadSchedule(const platform::IniFile& schedule, std::string_view section, TTimerItem& item,
                  ISchedulerClock& clock);
// The section's entry as the main window loads it: its number, Name, Kind,
// Mail and LastStart, then the fields of its kind (ReadSchedule).
TTimerItem ReadEntry(const platform::IniFile& schedule, std::string_view section, ISchedulerClock& clock);
// The section's interval as a time of day; 0 when missing or unreadable.
DateTime ReadInterval(const platform::IniFile& schedule, std::string_view section);
// Moves an interval entry one interval on from its StartDate (the day) and
// StartTime (the time of day): both get the whole new date-time.
void NextInterval(const platform::IniFile& schedule, TTimerItem& item);
// KindName of the profile's Kind in folder + "Timer.dat"; "-" when the file
// does not exist.
std::string TimerKindText(const std::string& folder, std::string_view profileNo);

}  // namespace kv
