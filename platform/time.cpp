#include "platform/time.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace kv::platform {
namespace {

constexpr int64_t kTicksPerSecond = 10'000'000;
constexpr int64_t kTicksPerMillisecond = 10'000;
constexpr int64_t kSecondsFrom1601To1970 = 11'644'473'600;
constexpr int64_t kSecondsPerDay = 86'400;
constexpr int64_t kMillisecondsPerDay = 86'400'000;

// The date-time doubles cover 01.01.0001 .. 31.12.9999, as the class library's.
constexpr double kMinDateTime = -693593.0;
constexpr double kMaxDateTime = 2958465.99999999;

constexpr int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

constexpr int64_t FloorMod(int64_t a, int64_t b) { return a - FloorDiv(a, b) * b; }

// Days since 1970-01-01 of a proleptic Gregorian date, month 1..12.
constexpr int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = FloorDiv(year, 400);
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, CivilTime& c) {
  days += 719468;
  const int64_t era = FloorDiv(days, 146097);
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  c.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  c.year = static_cast<int>(yearOfEra + era * 400 + (c.month <= 2));
}

constexpr int64_t kDaysFrom1970ToDateTimeZero = DaysFromCivil(1899, 12, 30);

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool IsValidDate(int year, int month, int day) {
  return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

bool IsValidTime(int hour, int minute, int second) {
  return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

// Seconds since 1970 of the calendar fields read as if they were UTC. Fields
// out of their range carry over (month 13 is January of the next year).
constexpr int64_t NaiveSeconds(const CivilTime& c) {
  const int64_t year = c.year + FloorDiv(int64_t{c.month} - 1, 12);
  const int64_t month = FloorMod(int64_t{c.month} - 1, 12) + 1;
  const int64_t days = DaysFromCivil(year, month, 1) + (int64_t{c.day} - 1);
  return days * kSecondsPerDay + int64_t{c.hour} * 3600 + int64_t{c.minute} * 60 + c.second;
}

CivilTime CivilFromNaiveSeconds(int64_t seconds) {
  CivilTime c;
  CivilFromDays(FloorDiv(seconds, kSecondsPerDay), c);
  const int64_t secondOfDay = FloorMod(seconds, kSecondsPerDay);
  c.hour = static_cast<int>(secondOfDay / 3600);
  c.minute = static_cast<int>(secondOfDay / 60 % 60);
  c.second = static_cast<int>(secondOfDay % 60);
  return c;
}

// Local calendar fields of a Unix time; nullopt when the C library cannot
// represent it (years beyond an int).
std::optional<CivilTime> LocalCivil(int64_t unixSeconds) {
  const time_t t = static_cast<time_t>(unixSeconds);
  struct tm tm {};
  if (!localtime_r(&t, &tm)) return std::nullopt;
  CivilTime c;
  c.year = tm.tm_year + 1900;
  c.month = tm.tm_mon + 1;
  c.day = tm.tm_mday;
  c.hour = tm.tm_hour;
  c.minute = tm.tm_min;
  c.second = std::min(tm.tm_sec, 59);  // a leap second stays in its minute
  return c;
}

int64_t UtcOffsetAt(int64_t unixSeconds) {
  const time_t t = static_cast<time_t>(unixSeconds);
  struct tm tm {};
  return localtime_r(&t, &tm) ? tm.tm_gmtoff : 0;
}

// The Unix time at which the local clock shows c (milliseconds ignored).
//
// mktime with tm_isdst = -1 settles the hour that the autumn switch repeats by
// a guess left over from its previous call, in any thread, so the same DOS
// value would give different file times depending on what was converted
// before. Here the rule is fixed: a local time that occurs twice means the
// first occurrence (still summer time); a local time that the spring switch
// skips is read with the offset in force before the switch (02:30 becomes
// 03:30 summer time), which is also what mktime gives for it.
int64_t UnixFromLocal(const CivilTime& c) {
  const int64_t naive = NaiveSeconds(c);
  const int64_t offsetBefore = UtcOffsetAt(naive - kSecondsPerDay);
  const int64_t offsetAfter = UtcOffsetAt(naive + kSecondsPerDay);
  const int64_t withBefore = naive - offsetBefore;
  if (offsetBefore == offsetAfter) return withBefore;
  const int64_t withAfter = naive - offsetAfter;
  const bool beforeFits = UtcOffsetAt(withBefore) == offsetBefore;
  const bool afterFits = UtcOffsetAt(withAfter) == offsetAfter;
  if (beforeFits && afterFits) return std::min(withBefore, withAfter);
  if (afterFits) return withAfter;
  return withBefore;
}

FileTime FileTimeFromUnix(int64_t unixSeconds, int64_t subSecondTicks) {
  return (unixSeconds + kSecondsFrom1601To1970) * kTicksPerSecond + subSecondTicks;
}

int64_t UnixSecondsOf(FileTime ft) {
  return FloorDiv(ft, kTicksPerSecond) - kSecondsFrom1601To1970;
}

constexpr DosDateTime EncodeDos(int year, int month, int day, int hour, int minute, int second) {
  const uint32_t date = uint32_t(year - 1980) << 9 | uint32_t(month) << 5 | uint32_t(day);
  const uint32_t time = uint32_t(hour) << 11 | uint32_t(minute) << 5 | uint32_t(second / 2);
  return date << 16 | time;
}

constexpr DosDateTime kDosMin = EncodeDos(1980, 1, 1, 0, 0, 0);
constexpr DosDateTime kDosMax = EncodeDos(2107, 12, 31, 23, 59, 58);

int CurrentYear() {
  const time_t now = time(nullptr);
  struct tm tm {};
  return localtime_r(&now, &tm) ? tm.tm_year + 1900 : 2000;
}

int ExpandTwoDigitYear(int twoDigits, const TwoDigitYearRule& rule) {
  const int reference = rule.referenceYear != 0 ? rule.referenceYear : CurrentYear();
  if (rule.window <= 0) return reference / 100 * 100 + twoDigits;
  const int windowStart = reference - rule.window;
  const int year = windowStart / 100 * 100 + twoDigits;
  return year < windowStart ? year + 100 : year;
}

std::string TwoDigits(int v) {
  v = static_cast<int>(FloorMod(v, 100));
  return {static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10)};
}

// A small cursor over a date or time text; digits only, no signs.
class TextScanner {
 public:
  explicit TextScanner(std::string_view text) : text_(text) {}

  bool AtEnd() const { return pos_ == text_.size(); }

  bool Skip(char c) {
    if (AtEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  bool SkipBlanks() {
    const size_t start = pos_;
    while (!AtEnd() && text_[pos_] == ' ') ++pos_;
    return pos_ > start;
  }

  // A run of minDigits..maxDigits decimal digits; its length in *count.
  std::optional<int> Number(size_t minDigits, size_t maxDigits, size_t* count = nullptr) {
    size_t n = 0;
    int value = 0;
    while (!AtEnd() && n < maxDigits && text_[pos_] >= '0' && text_[pos_] <= '9') {
      value = value * 10 + (text_[pos_] - '0');
      ++pos_;
      ++n;
    }
    if (n < minDigits) return std::nullopt;
    if (!AtEnd() && text_[pos_] >= '0' && text_[pos_] <= '9') return std::nullopt;
    if (count) *count = n;
    return value;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20) s.remove_suffix(1);
  return s;
}

// "DD.MM.YY" or "DD.MM.YYYY"; day and month may have one digit.
std::optional<CivilTime> ScanDate(TextScanner& in, const TwoDigitYearRule& rule) {
  CivilTime c;
  size_t yearDigits = 0;
  const auto day = in.Number(1, 2);
  if (!day || !in.Skip('.')) return std::nullopt;
  const auto month = in.Number(1, 2);
  if (!month || !in.Skip('.')) return std::nullopt;
  const auto year = in.Number(2, 4, &yearDigits);
  if (!year || yearDigits == 3) return std::nullopt;
  c.year = yearDigits == 2 ? ExpandTwoDigitYear(*year, rule) : *year;
  c.month = *month;
  c.day = *day;
  if (c.year < 1 || !IsValidDate(c.year, c.month, c.day)) return std::nullopt;
  return c;
}

// "HH:NN:SS" or "HH:NN"; any field may have one digit.
bool ScanTime(TextScanner& in, CivilTime& c) {
  const auto hour = in.Number(1, 2);
  if (!hour || !in.Skip(':')) return false;
  const auto minute = in.Number(1, 2);
  if (!minute) return false;
  std::optional<int> second = 0;
  if (in.Skip(':')) second = in.Number(1, 2);
  if (!second || !IsValidTime(*hour, *minute, *second)) return false;
  c.hour = *hour;
  c.minute = *minute;
  c.second = *second;
  return true;
}

}  // namespace

FileTime FileTimeFromTimespec(const struct timespec& ts) {
  FileTime ticks = 0;
  const int64_t seconds = static_cast<int64_t>(ts.tv_sec);
  if (__builtin_add_overflow(seconds, kSecondsFrom1601To1970, &ticks) ||
      __builtin_mul_overflow(ticks, kTicksPerSecond, &ticks) ||
      __builtin_add_overflow(ticks, static_cast<int64_t>(ts.tv_nsec) / 100, &ticks)) {
    return seconds < 0 ? std::numeric_limits<FileTime>::min()
                       : std::numeric_limits<FileTime>::max();
  }
  return ticks;
}

struct timespec TimespecFromFileTime(FileTime ft) {
  struct timespec ts {};
  ts.tv_sec = static_cast<time_t>(UnixSecondsOf(ft));
  ts.tv_nsec = static_cast<long>(FloorMod(ft, kTicksPerSecond) * 100);
  return ts;
}

FileTime FileTimeNow() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  return FileTimeFromTimespec(ts);
}

DosDateTime DosFromFileTime(FileTime ft) {
  const int64_t seconds = UnixSecondsOf(ft);
  const auto local = LocalCivil(seconds);
  if (!local) return seconds < 0 ? kDosMin : kDosMax;
  return DosFromCivil(*local);
}

std::optional<CivilTime> CivilFromDos(DosDateTime dos) {
  CivilTime c;
  c.year = static_cast<int>(dos >> 25) + 1980;
  c.month = static_cast<int>(dos >> 21 & 0x0F);
  c.day = static_cast<int>(dos >> 16 & 0x1F);
  c.hour = static_cast<int>(dos >> 11 & 0x1F);
  c.minute = static_cast<int>(dos >> 5 & 0x3F);
  c.second = static_cast<int>(dos & 0x1F) * 2;
  if (!IsValidDate(c.year, c.month, c.day) || !IsValidTime(c.hour, c.minute, c.second)) {
    return std::nullopt;
  }
  return c;
}

std::optional<FileTime> FileTimeFromDos(DosDateTime dos) {
  const auto civil = CivilFromDos(dos);
  if (!civil) return std::nullopt;
  return FileTimeFromUnix(UnixFromLocal(*civil), 0);
}

DosDateTime DosFromCivil(const CivilTime& c) {
  constexpr int64_t kFirst = NaiveSeconds({1980, 1, 1, 0, 0, 0, 0});
  constexpr int64_t kLast = NaiveSeconds({2107, 12, 31, 23, 59, 59, 0});
  const int64_t seconds = NaiveSeconds(c);
  if (seconds < kFirst) return kDosMin;
  if (seconds > kLast) return kDosMax;
  const CivilTime n = CivilFromNaiveSeconds(seconds);
  return EncodeDos(n.year, n.month, n.day, n.hour, n.minute, n.second);
}

std::optional<DateTime> DateTimeFromDos(DosDateTime dos) {
  const auto civil = CivilFromDos(dos);
  if (!civil) return std::nullopt;
  return DateTimeFromCivil(*civil);
}

// The whole days count from 30.12.1899; the time of day is added to them, and
// before that day subtracted (-1.25 is 29.12.1899 06:00), as the class
// library's date-time values are laid out.
DateTime DateTimeFromCivil(const CivilTime& c) {
  const int64_t milliseconds =
      (NaiveSeconds(c) - kDaysFrom1970ToDateTimeZero * kSecondsPerDay) * 1000 + c.millisecond;
  const int64_t days = FloorDiv(milliseconds, kMillisecondsPerDay);
  const double fraction =
      static_cast<double>(FloorMod(milliseconds, kMillisecondsPerDay)) / kMillisecondsPerDay;
  return days >= 0 ? static_cast<double>(days) + fraction : static_cast<double>(days) - fraction;
}

CivilTime CivilFromDateTime(DateTime dt) {
  if (!std::isfinite(dt)) dt = 0;
  dt = std::clamp(dt, kMinDateTime, kMaxDateTime);
  const double wholeDays = std::trunc(dt);
  int64_t days = static_cast<int64_t>(wholeDays);
  int64_t milliseconds = std::llround(std::fabs(dt - wholeDays) * kMillisecondsPerDay);
  if (milliseconds >= kMillisecondsPerDay) {  // 23:59:59.9996 rounds into the next day
    milliseconds -= kMillisecondsPerDay;
    ++days;
  }
  CivilTime c = CivilFromNaiveSeconds((days + kDaysFrom1970ToDateTimeZero) * kSecondsPerDay +
                                      milliseconds / 1000);
  c.millisecond = static_cast<int>(milliseconds % 1000);
  return c;
}

DateTime DateTimeFromFileTime(FileTime ft) {
  const int64_t seconds = UnixSecondsOf(ft);
  auto local = LocalCivil(seconds);
  if (!local) return seconds < 0 ? kMinDateTime : kMaxDateTime;
  local->millisecond = static_cast<int>(FloorMod(ft, kTicksPerSecond) / kTicksPerMillisecond);
  return DateTimeFromCivil(*local);
}

FileTime FileTimeFromDateTime(DateTime dt) {
  const CivilTime c = CivilFromDateTime(dt);
  return FileTimeFromUnix(UnixFromLocal(c), int64_t{c.millisecond} * kTicksPerMillisecond);
}

DateTime Now() { return DateTimeFromFileTime(FileTimeNow()); }

std::string FormatDateLong(const CivilTime& c) {
  char text[40];
  std::snprintf(text, sizeof text, "%02d.%02d.%04d", c.day, c.month, c.year);
  return text;
}

std::string FormatDateShort(const CivilTime& c) {
  return TwoDigits(c.day) + "." + TwoDigits(c.month) + "." + TwoDigits(c.year);
}

std::string FormatTime(const CivilTime& c) {
  return TwoDigits(c.hour) + ":" + TwoDigits(c.minute) + ":" + TwoDigits(c.second);
}

std::optional<DateTime> ParseDate(std::string_view text, TwoDigitYearRule rule) {
  TextScanner in(TrimBlanks(text));
  const auto date = ScanDate(in, rule);
  if (!date || !in.AtEnd()) return std::nullopt;
  return DateTimeFromCivil(*date);
}

std::optional<DateTime> ParseTime(std::string_view text) {
  TextScanner in(TrimBlanks(text));
  CivilTime c{1899, 12, 30};
  if (!ScanTime(in, c) || !in.AtEnd()) return std::nullopt;
  return DateTimeFromCivil(c);
}

std::optional<DateTime> ParseDateTime(const std::string& text) {
  return ParseDateTime(std::string_view(text), TwoDigitYearRule{});
}

std::optional<DateTime> ParseDateTime(std::string_view text, TwoDigitYearRule rule) {
  TextScanner in(TrimBlanks(text));
  auto date = ScanDate(in, rule);
  if (!date) return std::nullopt;
  if (in.AtEnd()) return DateTimeFromCivil(*date);
  if (!in.SkipBlanks() || !ScanTime(in, *date) || !in.AtEnd()) return std::nullopt;
  return DateTimeFromCivil(*date);
}

uint64_t TickCount64() {
  struct timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1'000'000;
}

uint64_t PerformanceCounter() {
  struct timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000 + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace kv::platform
