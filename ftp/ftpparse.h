#pragma once
// The directory-listing parser: one line of a "LIST" reply, in whatever
// style the server writes (EPLF, UNIX with its variants, DOS/NT, VMS, VM,
// VM/VPS), becomes the fields of one entry. Plain functions on strings; the
// only state is what one listing carries from line to line.
#include <string>
#include <string_view>

#include "ftp/ftptypes.h"

namespace kv {

// The fields of one listing entry. Every text is as the server wrote it but
// the date, which is the entry date text of ftpmisc.h. The size is never
// turned into a number here.
struct FtpListEntry {
  std::string name;
  std::string size;
  std::string date;
  std::string link;  // from "->" on; the identifier for EPLF lines
  std::string attributes;
  std::string owner;
  std::string group;
  bool isDirectory = false;
};

// What one listing carries from line to line: a VMS name too long for its
// line, whose details follow on the next. One per listing: Reset (or a new
// object) when a listing starts.
class FtpListingState {
 public:
  void Reset() { pendingVmsLine_.clear(); }

 private:
  friend bool ParseListLine(TMFtpServerType, std::string_view, FtpListEntry&, FtpListingState&);
  std::string pendingVmsLine_;
};

// True when the line describes an entry (then entry holds its fields, every
// field the style does not fill empty); false for headers, totals, blank
// lines, lines that name nothing and anything unreadable. Only the VMS, VM,
// VM/VPS, NetTerm, Netware and NetPresenz styles change the parsing; every
// other style decides by the line's first character.
bool ParseListLine(TMFtpServerType style, std::string_view line, FtpListEntry& entry, FtpListingState& listing);

// An EPLF line ("+facts<TAB>name"): size, date, identifier (into link) and
// the directory flag from the facts; the name is everything after the first
// TAB. True when a name remains.
bool ParseEPLFLine(std::string_view line, FtpListEntry& entry);

// Field n (from 0) of a line split at runs of blanks (tabs are ordinary
// characters). A line that begins with a blank has an empty field 0, and
// the last field, which no blank follows, always comes out empty.
std::string ListField(std::string_view text, int n);
// The rest of a line after n+1 fields, trimmed, blanks inside kept, without
// the link part of a link line (one that begins with "l"). Empty when the
// line has no more than n+1 fields.
std::string NameAfterFields(std::string_view text, int n);
// Fields n and n+1 (twoFields) or n to n+2, joined by single blanks, as a
// date text (ListDateToFtpDate).
std::string ListDateFromFields(std::string_view text, int n, bool twoFields);
// The link part of a link line (one that begins with "l"): from its first
// "->" to the end ("-> /usr/lib"); empty for every other line.
std::string LinkPart(std::string_view line);
// Whether a link (its text in lower case) points to a folder: false when it
// names one of a few file-like words (".gz", ".exe", ".txt", ".tar",
// "copying", "readme", ".diff"), true otherwise.
bool LinkIsDirectory(std::string_view lowerCaseLink);

// A UNIX listing date: month name, day, then a time ("Jan 15 12:34", the year
// left open) or a year ("Jan 15 2001", the time 12:00).
std::string ListDateToFtpDate(std::string_view text);
// A DOS/NT listing date: "MM-DD-YY" or "MM-DD-YYYY", and "hh:mmAM"/"hh:mmPM"
// or a 24-hour "hh:mm". Two-digit years 70..99 are 19xx, the rest 20xx.
std::string DosDateToFtpDate(std::string_view date, std::string_view time);
// A VMS listing date: "13-JAN-1998" and "12:31:00" or "16:09".
std::string VmsDateToFtpDate(std::string_view date, std::string_view time);

}  // namespace kv
