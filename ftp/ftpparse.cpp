#include "ftp/ftpparse.h"

#include <array>

#include "ftp/ftpmisc.h"
#include "platform/text.h"

namespace kv {
namespace {

using platform::Trim;
constexpr size_t npos = std::string_view::npos;

// Field n as runs of blanks split the line: where it lies, and whether a
// blank follows it. Linear in the position of the field.
struct FieldSpan {
  bool found = false;
  bool blankFollows = false;
  std::string_view text;
};

FieldSpan FindField(std::string_view s, int n) {
  size_t pos = 0;
  for (int i = 0;; ++i) {
    const size_t blank = s.find(' ', pos);
    if (i == n) return {true, blank != npos, s.substr(pos, (blank == npos ? s.size() : blank) - pos)};
    if (blank == npos) return {};
    pos = s.find_first_not_of(' ', blank);
    if (pos == npos) pos = s.size();
  }
}

// The field even when it ends the line (ListField leaves that one empty).
std::string_view FieldText(std::string_view s, int n) { return FindField(s, n).text; }

bool IsLinkLine(std::string_view line) { return !line.empty() && line[0] == 'l'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

char LetterAt(std::string_view s, size_t i) { return i < s.size() ? Lower(s[i]) : '\0'; }

// A number of minDigits..maxDigits decimal digits and nothing else; -1 otherwise.
int Digits(std::string_view s, size_t minDigits, size_t maxDigits) {
  if (s.size() < minDigits || s.size() > maxDigits) return -1;
  int value = 0;
  for (char c : s) {
    if (!IsAsciiDigit(c)) return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The month of a UNIX listing date by its first letters, as the listing
// styles abbreviate it; in any case. 0 when it names none.
int MonthFromLetters(std::string_view s) {
  switch (LetterAt(s, 0)) {
    case 'a': return LetterAt(s, 1) == 'p' ? 4 : 8;
    case 'd': return 12;
    case 'f': return 2;
    case 'j': return LetterAt(s, 1) == 'a' ? 1 : (LetterAt(s, 2) == 'n' ? 6 : 7);
    case 'm': return LetterAt(s, 2) == 'r' ? 3 : 5;
    case 'n': return 11;
    case 'o': return 10;
    case 's': return 9;
    default: return 0;
  }
}

// "JAN" .. "DEC" in any case; 0 for anything else.
int MonthFromName(std::string_view s) {
  static constexpr std::array<std::string_view, 12> kNames = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                              "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  for (size_t i = 0; i < kNames.size(); ++i)
    if (platform::SameTextAscii(s, kNames[i])) return static_cast<int>(i + 1);
  return 0;
}

// "h:mm" or "hh:mm" at the start of s; what follows must be empty or start
// with one of the characters in tail.
bool ReadClock(std::string_view s, std::string_view tail, int& hour, int& minute) {
  const size_t colon = s.find(':');
  if (colon == npos || s.size() < colon + 3) return false;
  hour = Digits(s.substr(0, colon), 1, 2);
  minute = Digits(s.substr(colon + 1, 2), 2, 2);
  const std::string_view rest = s.substr(colon + 3);
  return hour >= 0 && minute >= 0 && (rest.empty() || tail.find(rest[0]) != npos);
}

// The length of a UNIX attribute text, where a mark for an access list or a
// security context after the ten mode characters ("-rw-r--r--+") does not
// count: such a line still has its link count in field 1.
size_t AttributeLength(std::string_view attributes) {
  if (attributes.size() == 11 && std::string_view("+.@").find(attributes[10]) != npos) return 10;
  return attributes.size();
}

bool ApplyLink(std::string_view line, FtpListEntry& entry) {
  entry.link = LinkPart(line);
  if (!entry.link.empty()) entry.isDirectory = LinkIsDirectory(platform::LowerCase(entry.link));
  return true;
}

bool ParseVmsLine(std::string_view line, FtpListEntry& entry, std::string& pending) {
  std::string joined;
  const bool continued = !pending.empty();
  if (continued) {
    joined = pending + " " + std::string(line);
    pending.clear();
    line = joined;
  }
  if (line.find(';') == npos) return false;
  std::string field0 = ListField(line, 0);
  if (field0.empty()) {
    // A long name alone on its line: its details follow on the next one. An
    // entry never spans more than two lines.
    if (!continued) pending = std::string(line);
    return false;
  }
  std::string name = field0.substr(0, field0.find(';'));
  if (const size_t dir = name.find(".DIR"); dir != npos) {
    entry.isDirectory = true;
    name.erase(dir);
  }
  if (name.empty()) return false;
  entry.name = std::move(name);
  entry.size = ListField(line, 1);
  entry.date = VmsDateToFtpDate(FieldText(line, 2), FieldText(line, 3));
  return ApplyLink(line, entry);
}

bool ParseVmLine(std::string_view line, FtpListEntry& entry) {
  const std::string first = ListField(line, 0);
  if (first.empty()) return false;
  entry.name = first + "." + ListField(line, 1);
  entry.size = ListField(line, 3);
  entry.date = ListDateFromFields(line, 6, true);
  return ApplyLink(line, entry);
}

bool ParseVmVpsLine(std::string_view line, FtpListEntry& entry) {
  for (std::string_view noise : {"=", "totals:", " rf trks", "track limit"})
    if (line.find(noise) != npos) return false;
  const std::string second = ListField(line, 1);
  if (second.empty()) return false;
  entry.name = "." + second;
  entry.size = ListField(line, 2);
  entry.date = ListDateToFtpDate(ListField(line, 7) + " " + ListField(line, 6));
  return ApplyLink(line, entry);
}

bool ParseDosLine(std::string_view line, FtpListEntry& entry) {
  const std::string date = ListField(line, 0);
  entry.size = ListField(line, 2);
  if (entry.size == "<DIR>") {
    entry.isDirectory = true;
    entry.size = "0";
  }
  entry.date = DosDateToFtpDate(date, ListField(line, 1));
  // The name stands in column 40, two columns later after a four-digit year.
  const size_t column = date.size() == 10 ? 42 : 40;
  if (line.size() < column || Trim(line.substr(column - 1)).empty()) return false;
  entry.name = std::string(line.substr(column - 1));
  return true;
}

int UnixSizeField(TMFtpServerType style, std::string_view line, const FtpListEntry& entry) {
  switch (style) {
    case ftpstNetTerm: return 2;
    case ftpstNetware: return 3;
    case ftpstNetPresenz: return entry.isDirectory ? 2 : 3;
    default: break;
  }
  const std::string field1 = ListField(line, 1);
  if (field1.empty()) return -1;
  return field1[0] == '[' || AttributeLength(entry.attributes) > 10 ? 3 : 4;
}

bool ParseUnixLine(TMFtpServerType style, std::string_view line, FtpListEntry& entry) {
  entry.isDirectory = line[0] == 'd' || line[0] == 'l';  // a link's target decides below
  entry.attributes = ListField(line, 0);
  entry.owner = ListField(line, 2);
  entry.group = ListField(line, 3);
  const int s = UnixSizeField(style, line, entry);
  if (s < 0) return false;
  entry.size = ListField(line, s);
  entry.date = ListDateFromFields(line, s + 1, false);
  entry.name = NameAfterFields(line, s + 3);
  if (entry.name.empty()) return false;
  return ApplyLink(line, entry);
}

}  // namespace

std::string ListField(std::string_view text, int n) {
  const FieldSpan f = FindField(text, n);
  return f.found && f.blankFollows ? std::string(f.text) : std::string();
}

std::string NameAfterFields(std::string_view text, int n) {
  if (IsLinkLine(text)) text = text.substr(0, text.find("->"));
  size_t pos = 0;
  for (int i = 0; i < n; ++i) {
    const size_t blank = text.find(' ', pos);
    if (blank == npos) return {};
    pos = text.find_first_not_of(' ', blank);
    if (pos == npos) return {};
  }
  const size_t blank = text.find(' ', pos);  // after field n comes the name
  return blank == npos ? std::string() : Trim(text.substr(blank));
}

std::string ListDateFromFields(std::string_view text, int n, bool twoFields) {
  std::string date = ListField(text, n) + " " + ListField(text, n + 1);
  if (!twoFields) date += " " + ListField(text, n + 2);
  return ListDateToFtpDate(date);
}

std::string LinkPart(std::string_view line) {
  if (!IsLinkLine(line)) return {};
  const size_t arrow = line.find("->");
  return arrow == npos ? std::string() : std::string(line.substr(arrow));
}

bool LinkIsDirectory(std::string_view lowerCaseLink) {
  for (std::string_view word : {".gz", ".exe", ".txt", ".tar", "copying", "readme", ".diff"})
    if (lowerCaseLink.find(word) != npos) return false;
  return true;
}

std::string ListDateToFtpDate(std::string_view text) {
  const std::string unknown(kUnknownFtpDate);
  const int month = MonthFromLetters(text);
  const size_t blank = text.find(' ');
  if (month == 0 || blank == npos) return unknown;
  std::string_view rest = text.substr(blank);
  rest.remove_prefix(std::min(rest.find_first_not_of(' '), rest.size()));
  const int day = Digits(Trim(rest.substr(0, 2)), 1, 2);
  rest.remove_prefix(std::min<size_t>(rest.size() > 2 && rest[2] == ' ' ? 3 : 2, rest.size()));
  const std::string yearOrTime = Trim(rest);
  int year = 0, hour = 12, minute = 0;
  if (yearOrTime.find(':') != npos) {
    if (!ReadClock(yearOrTime, "", hour, minute)) return unknown;
  } else if (!yearOrTime.empty()) {  // an empty one stays open ("????")
    year = Digits(yearOrTime, 4, 4);
    if (year <= 0) return unknown;
  }
  return day < 0 ? unknown : FormatFtpDate(year, month, day, hour, minute);
}

std::string DosDateToFtpDate(std::string_view date, std::string_view time) {
  const std::string unknown(kUnknownFtpDate);
  if ((date.size() != 8 && date.size() != 10) || date[2] != '-' || date[5] != '-') return unknown;
  const int month = Digits(date.substr(0, 2), 2, 2);
  const int day = Digits(date.substr(3, 2), 2, 2);
  int year = Digits(date.substr(6), 2, 4);
  if (month < 0 || day < 0 || year < 0) return unknown;
  if (date.size() == 8) year += year >= 70 ? 1900 : 2000;
  int hour = 0, minute = 0;
  if (!ReadClock(time, "AaPp", hour, minute)) return unknown;
  const std::string_view half = time.substr(time.find(':') + 3);
  if (!half.empty()) {
    if (half.size() != 2 || Lower(half[1]) != 'm' || hour < 1 || hour > 12) return unknown;
    hour = hour % 12 + (Lower(half[0]) == 'p' ? 12 : 0);  // 12:xxAM is 00:xx
  }
  return FormatFtpDate(year, month, day, hour, minute);
}

std::string VmsDateToFtpDate(std::string_view date, std::string_view time) {
  const std::string unknown(kUnknownFtpDate);
  const size_t first = date.find('-');
  const size_t second = first == npos ? npos : date.find('-', first + 1);
  if (second == npos) return unknown;
  const int day = Digits(date.substr(0, first), 1, 2);
  const int month = MonthFromName(date.substr(first + 1, second - first - 1));
  const int year = Digits(date.substr(second + 1), 4, 4);
  int hour = 0, minute = 0;
  if (day < 0 || month == 0 || year < 0 || !ReadClock(time, ":", hour, minute)) return unknown;
  return FormatFtpDate(year, month, day, hour, minute);
}

bool ParseEPLFLine(std::string_view line, FtpListEntry& entry) {
  entry = FtpListEntry{};
  entry.size = "0";
  entry.date = std::string(kUnknownFtpDate);
  std::string_view rest = line.substr(line.empty() || line[0] != '+' ? 0 : 1);
  const size_t tab = rest.find('\t');
  std::string_view facts = rest.substr(0, tab);
  if (tab != npos) {
    // Everything after the first TAB is the name, commas included.
    entry.name = std::string(rest.substr(tab + 1));
  } else {
    const size_t lastComma = facts.rfind(',');
    entry.name = Trim(lastComma == npos ? facts : facts.substr(lastComma + 1));
  }
  for (size_t comma; (comma = facts.find(',')) != npos; facts.remove_prefix(comma + 1)) {
    const std::string_view fact = facts.substr(0, comma);
    if (fact.empty()) continue;
    const std::string_view value = fact.substr(1);
    switch (fact[0]) {
      case '/': entry.isDirectory = true; break;
      case 'r': entry.isDirectory = false; break;
      case 's': entry.size = std::string(value); break;
      case 'm': entry.date = UnixTimeToFtpDate(value); break;
      case 'i': entry.link = std::string(value); break;
      default: break;
    }
  }
  return !entry.name.empty();
}

bool ParseListLine(TMFtpServerType style, std::string_view line, FtpListEntry& entry, FtpListingState& listing) {
  entry = FtpListEntry{};
  if (line.empty()) return false;
  if (line[0] == '+') return ParseEPLFLine(line, entry);
  switch (style) {
    case ftpstVmsMultinet:
    case ftpstVmsUcx: return ParseVmsLine(line, entry, listing.pendingVmsLine_);
    case ftpstVM: return ParseVmLine(line, entry);
    case ftpstVMVPS: return ParseVmVpsLine(line, entry);
    default: break;
  }
  const char kind = line[0];
  if (kind == '-' || kind == 'f' || kind == 'd' || kind == 'l') return ParseUnixLine(style, line, entry);
  if (IsAsciiDigit(kind)) return ParseDosLine(line, entry);
  return false;
}

}  // namespace kv
