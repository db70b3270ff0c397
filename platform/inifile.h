#pragma once
// INI files with the behaviour of Windows private profile files as the class
// library reads them: section and key names case-insensitive, first match
// wins, values trimmed with one pair of surrounding quotes removed, bad
// numbers give the default. Every call sees the file as it is on disk now
// (re-read when it changed); writes replace the file atomically and are
// skipped when nothing changes. One lock per file path serialises writers of
// this process. The file name is a Windows path (one that starts with "/" is
// taken as a POSIX path as it is).
//
// Details that callers rely on:
// - a section that occurs twice is read as one: keys are looked up through
//   its occurrences in file order; a key that occurs twice: the first counts,
//   and lists name it once; lines without "=" and ";" comments are skipped;
// - WriteString replaces the first matching key in place, else appends the key
//   after the section's last entry; a new section goes to the end of the file;
//   DeleteKey removes every line of that key, EraseSection every occurrence;
// - names are trimmed; a section name with a line break, or a key that is
//   empty, holds "=" or a line break or starts with ";" or "[", and a value
//   with a line break are refused (EINVAL): they could not be read back;
// - a new file is written with CRLF line ends; an existing file keeps the line
//   end it uses (and a UTF-8 byte order mark).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/time.h"

namespace kv::platform {

class IniFile {
 public:
  explicit IniFile(std::string fileName);
  const std::string& fileName() const { return fileName_; }

  std::string ReadString(std::string_view section, std::string_view key, std::string_view def) const;
  int32_t ReadInteger(std::string_view section, std::string_view key, int32_t def) const;
  bool ReadBool(std::string_view section, std::string_view key, bool def) const;  // integer != 0
  // "DD.MM.YY[YY] HH:NN:SS" as written by WriteDateTime; bad text gives def.
  // A time alone ("HH:NN[:SS]") is read as well.
  DateTime ReadDateTime(std::string_view section, std::string_view key, DateTime def) const;
  DateTime ReadDate(std::string_view section, std::string_view key, DateTime def) const;  // "DD.MM.YY[YY]"
  DateTime ReadTime(std::string_view section, std::string_view key, DateTime def) const;  // "HH:NN[:SS]"

  // Return false when the file cannot be written (GetLastError() says why).
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);
  bool WriteInteger(std::string_view section, std::string_view key, int32_t value);
  bool WriteBool(std::string_view section, std::string_view key, bool value);  // "1" / "0"
  // "DD.MM.YY HH:NN:SS"; the time is left out at midnight exactly.
  bool WriteDateTime(std::string_view section, std::string_view key, DateTime value);
  bool WriteDate(std::string_view section, std::string_view key, DateTime value);  // "DD.MM.YY"
  bool WriteTime(std::string_view section, std::string_view key, DateTime value);  // "HH:NN:SS"
  bool EraseSection(std::string_view section);
  bool DeleteKey(std::string_view section, std::string_view key);

  // False (GetLastError() says why) when the file is there but cannot be
  // read: every read then gives the defaults, which must not be taken for
  // what the file says. A file that does not exist is readable (and empty).
  bool IsReadable() const;
  // As the class library answers it: the section holds at least one key.
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  std::vector<std::string> ReadSections() const;  // file order, empty sections too
  std::vector<std::string> ReadSection(std::string_view section) const;  // key names, file order
  // "key=value" lines of a section, file order.
  std::vector<std::string> ReadSectionValues(std::string_view section) const;

 private:
  std::string fileName_;
};

}  // namespace kv::platform
