#pragma once
// The steps at the end of a run that belong to units of their own: the second
// try of failed folder deletions, the mailed error report and the external
// log. Each is a named step that the end of the run calls in its place and
// order.
#include <string>
#include <string_view>

namespace kv {

// The external-log options the client set (ExtLog, ExtAppend, ExtErr,
// ExtDone, ExtTrenn).
struct ExternalLogSettings {
  bool set = false;  // ExtLog was given
  std::string path;
  bool append = true;
  bool errors = true;
  bool done = true;
  std::string separator = "\t";
};

struct TJobRun;

// After the item loop, before the trailer: tries every folder deletion that
// failed during the run once more and turns the records of those that
// succeed into successes (copyengine/delfoldercheck.cpp). The run has a
// protocol.
void CheckDelFolders(TJobRun& run);

// After an automatic run with a mail address: the error report of the closed
// protocol, titled with the profile's name (copyengine/report). Never throws.
void MailErrorReport(std::string_view protocolPath, std::string_view mailAddress, std::string_view profileName);

// When ExtLog was given: the external log of the closed protocol, traced
// into "ExtPtk.log" beside the program (copyengine/externallog). Never throws.
void WriteExternalLog(std::string_view protocolPath, const ExternalLogSettings& settings);

}  // namespace kv
