#pragma once
// The steps at the end of a run that belong to units of their own: the second
// try of failed folder deletions, the mailed error report and the external
// log. Each is a named step that the end of the run calls in its place and
// order; a step whose unit is not available yet does nothing, so a run ends
// exactly as it would with the step switched off.
#include <string>
#include <string_view>

#include "copyengine/protocol.h"

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

// After the item loop, before the trailer: tries every folder deletion that
// failed during the run once more. Not available: the records stay as written.
void CheckDelFolders(ProtocolStream& protocol);

// After an automatic run with a mail address: the error report of the closed
// protocol, titled with the profile's name (copyengine/report). Never throws.
void MailErrorReport(std::string_view protocolPath, std::string_view mailAddress, std::string_view profileName);

// When ExtLog was given: the external log of the closed protocol. Not
// available: no log is written.
void WriteExternalLog(std::string_view protocolPath, const ExternalLogSettings& settings);

}  // namespace kv
