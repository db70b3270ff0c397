#pragma once
// Small helpers of the FTP client's listing side: the entry date text, day
// numbers, server paths, cache file names, the Windows folder.
//
// The entry date text of a remote entry is "DD/MM/YYYY hh:mm" (day, month,
// four-digit year, 24-hour time), "DD/MM/???? hh:mm" when the listing gave a
// time instead of the year, and kUnknownFtpDate when it gave nothing
// readable. The copy engine reads it field by field in exactly this order.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kv {

inline constexpr std::string_view kUnknownFtpDate = "01/01/80 12:00";

// An ASCII digit, whatever the locale says (servers write ASCII).
inline bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// The date text of a calendar date and time, checked: kUnknownFtpDate for a
// date that does not exist (31/04), a year outside 1..9999, or a time outside
// 00:00..23:59. year 0 stands for a year the listing did not give ("????").
std::string FormatFtpDate(int year, int month, int day, int hour, int minute);

// Decimal Unix seconds (no time-zone correction) as a date text. Text that is
// not a plain decimal number, a negative value and one past the year 9999
// give kUnknownFtpDate.
std::string UnixTimeToFtpDate(std::string_view seconds);

// A working folder that a server reports as a drive path, as a slash path:
// "/C:/pub" -> "/pub", "C:\pub\new" -> "/pub/new". Only these drive forms are
// changed; any other text ("/pub") comes back as it is.
std::string DrivePathToFtpPath(std::string_view path);

// "/" and "\" become "-"; the double quote, "*", ":" and "?" become
// replacement; everything else stays ("<", ">" and "|" included).
std::string MakeSafeFileName(std::string_view text, char replacement);

// Day numbers count days from 30.12.1899 (day 0), on the Gregorian calendar
// (proleptic before 1582), as the class library's date values do.
// nullopt for a date that does not exist or lies outside 01.01.0001 ..
// 31.12.9999.
std::optional<int32_t> EncodeDayNumber(int year, int month, int day);
// false, and nothing changed, for a day number outside that range.
bool DecodeDayNumber(int32_t dayNumber, int& year, int& month, int& day);
// Today's local date.
int32_t TodayDayNumber();

// Frees the object a reference owns and empties the reference first, so that
// nothing can reach the object while it goes.
template <typename T>
void FreeAndClear(T*& object) {
  T* old = object;
  object = nullptr;
  delete old;
}
template <typename T>
void FreeAndClear(std::unique_ptr<T>& object) {
  object.reset();
}

// The Windows folder (see platform::GetWindowsDirectory); the listing cache
// lives below it.
std::string WindowsFolder();

}  // namespace kv
