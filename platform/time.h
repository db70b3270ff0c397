#pragma once
// The one set of time conversions of the system. Every place that turns a
// file's time into a DOS date-time, a FILETIME or a text goes through here, so
// that no two places disagree around a summer/winter-time switch.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace kv::platform {

// 100 ns intervals since 1601-01-01 UTC.
using FileTime = int64_t;
// Date in the high 16 bits (year-1980 <<9 | month <<5 | day), time in the low
// 16 bits (hour <<11 | minute <<5 | second/2). Compared as unsigned.
using DosDateTime = uint32_t;
// Days since 1899-12-30 (local), fraction = time of day.
using DateTime = double;

inline constexpr FileTime kFileTimeOfUnixEpoch = 116444736000000000LL;

struct CivilTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

FileTime FileTimeFromTimespec(const struct timespec& ts);
struct timespec TimespecFromFileTime(FileTime ft);
FileTime FileTimeNow();

// Local time of a file time; seconds truncated to even; clamped to
// 1980-01-01 00:00:00 .. 2107-12-31 23:59:58.
DosDateTime DosFromFileTime(FileTime ft);
// Back through the local calendar (DST decided by the C library's zone data
// for that date). A local time that the autumn switch repeats means its first
// occurrence (summer time); one that the spring switch skips is read with the
// offset before the switch (02:30 becomes 03:30 summer time). An invalid DOS
// value (month 0 or >12, day 0, day past the month's end, hour >23,
// minute >59, seconds >58) gives nullopt.
std::optional<FileTime> FileTimeFromDos(DosDateTime dos);
// The calendar fields a DOS value names, without any conversion.
std::optional<CivilTime> CivilFromDos(DosDateTime dos);
// Clamps like DosFromFileTime; fields out of their range carry over as in
// mktime (31.04. is 01.05.); milliseconds are dropped.
DosDateTime DosFromCivil(const CivilTime& c);

// Naive calendar value of a DOS date-time as a date-time double (no time-zone
// arithmetic); nullopt when invalid.
std::optional<DateTime> DateTimeFromDos(DosDateTime dos);
// Before 30.12.1899 the time of day is subtracted from the (negative) day:
// -1.25 is 29.12.1899 06:00, as the class library lays its values out.
DateTime DateTimeFromCivil(const CivilTime& c);
// Rounded to whole milliseconds; NaN and values outside 01.01.0001 ..
// 31.12.9999 are clamped into that range.
CivilTime CivilFromDateTime(DateTime dt);
// Local time of a file time as a date-time double, and back.
DateTime DateTimeFromFileTime(FileTime ft);
FileTime FileTimeFromDateTime(DateTime dt);
DateTime Now();

// Fixed text formats.
std::string FormatDateLong(const CivilTime& c);   // "DD.MM.YYYY"
std::string FormatDateShort(const CivilTime& c);  // "DD.MM.YY"
std::string FormatTime(const CivilTime& c);       // "HH:NN:SS"

// Where a two-digit year lands. window 0: in the century of the reference
// year (what the schedule texts are read with). window w > 0: in the hundred
// years that start w years before the reference year (the class library's
// sliding window; w = 50 in 2025 gives 1975..2074).
struct TwoDigitYearRule {
  int window = 0;
  int referenceYear = 0;  // 0: this year, local time
};

// Parsing trims blanks around the text; day, month, hour, minute and second
// may have one or two digits, a year two or four; fields are checked
// (31.04. or 24:00 is malformed). nullopt when malformed.
// "DD.MM.YY" / "DD.MM.YYYY" (and an optional " HH:NN:SS" or " HH:NN") back to a
// date-time.
std::optional<DateTime> ParseDateTime(const std::string& text);
std::optional<DateTime> ParseDateTime(std::string_view text, TwoDigitYearRule rule);
// The date alone, and "HH:NN:SS" / "HH:NN" alone as a time of day (0 <= t < 1).
std::optional<DateTime> ParseDate(std::string_view text, TwoDigitYearRule rule = {});
std::optional<DateTime> ParseTime(std::string_view text);

// Milliseconds from a monotonic clock; never jumps with the wall clock.
uint64_t TickCount64();
// Nanoseconds from the same clock: the high-resolution performance counter.
uint64_t PerformanceCounter();

}  // namespace kv::platform
