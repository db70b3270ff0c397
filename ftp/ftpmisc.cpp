#include "ftp/ftpmisc.h"

#include <cmath>
#include <cstdio>

#include "platform/text.h"
#include "platform/time.h"
#include "platform/userfolders.h"

namespace kv {
namespace {

constexpr int32_t kFirstDayNumber = -693593;  // 01.01.0001
constexpr int32_t kLastDayNumber = 2958465;   // 31.12.9999
constexpr int32_t kDayNumberOf1970 = 25569;
constexpr int64_t kSecondsPerDay = 86400;

bool IsDecimal(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

std::string FormatFtpDate(int year, int month, int day, int hour, int minute) {
  // A listing without the year may name 29 February: checked in a leap year.
  if (!EncodeDayNumber(year == 0 ? 2000 : year, month, day)) return std::string(kUnknownFtpDate);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59) return std::string(kUnknownFtpDate);
  char text[32];
  if (year == 0) std::snprintf(text, sizeof text, "%02d/%02d/???? %02d:%02d", day, month, hour, minute);
  else std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d", day, month, year, hour, minute);
  return text;
}

std::string UnixTimeToFtpDate(std::string_view seconds) {
  if (!IsDecimal(seconds)) return std::string(kUnknownFtpDate);
  const int64_t s = platform::StrToInt64Def(seconds, -1);  // -1: beyond 64 bits
  if (s < 0 || s / kSecondsPerDay > kLastDayNumber - kDayNumberOf1970) return std::string(kUnknownFtpDate);
  int year = 0, month = 0, day = 0;
  DecodeDayNumber(static_cast<int32_t>(s / kSecondsPerDay + kDayNumberOf1970), year, month, day);
  const int64_t secondOfDay = s % kSecondsPerDay;
  return FormatFtpDate(year, month, day, static_cast<int>(secondOfDay / 3600), static_cast<int>(secondOfDay / 60 % 60));
}

std::string DrivePathToFtpPath(std::string_view path) {
  if (path.size() >= 3 && path[0] == '/' && IsDriveLetter(path[1]) && path[2] == ':') {
    const std::string rest(path.substr(3));
    return rest.empty() ? "/" : rest;
  }
  if (path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == ':') {
    std::string rest(path.substr(2));
    for (char& c : rest)
      if (c == '\\') c = '/';
    return rest.empty() ? "/" : rest;
  }
  return std::string(path);
}

std::string MakeSafeFileName(std::string_view text, char replacement) {
  std::string safe(text);
  for (char& c : safe) {
    if (c == '/' || c == '\\') c = '-';
    else if (c == '"' || c == '*' || c == ':' || c == '?') c = replacement;
  }
  return safe;
}

std::optional<int32_t> EncodeDayNumber(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) return std::nullopt;
  const platform::DateTime value = platform::DateTimeFromCivil({year, month, day});
  // Fields out of their range carry over (31.04. is 01.05.): such a date
  // does not exist.
  const platform::CivilTime back = platform::CivilFromDateTime(value);
  if (back.year != year || back.month != month || back.day != day) return std::nullopt;
  return static_cast<int32_t>(value);
}

bool DecodeDayNumber(int32_t dayNumber, int& year, int& month, int& day) {
  if (dayNumber < kFirstDayNumber || dayNumber > kLastDayNumber) return false;
  const platform::CivilTime c = platform::CivilFromDateTime(dayNumber);
  year = c.year;
  month = c.month;
  day = c.day;
  return true;
}

int32_t TodayDayNumber() { return static_cast<int32_t>(std::floor(platform::Now())); }

std::string WindowsFolder() { return platform::GetWindowsDirectory(); }

}  // namespace kv
