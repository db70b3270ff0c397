#pragma once
// The external log: a plain text file at a path the profile chooses, for
// other programs to read. Each run that kept its protocol adds one header
// line and one line per action carried out or failed, made from the closed
// protocol; every line ends in CR LF. Fields are joined by the profile's
// separator S:
//   file:   status S folder1 name1 S folder2 name2 S direction S
//   folder: status S path1 S path2 S direction S
// A file line takes its folders from the latest folder record before it.
// Lines are written for status 1 (when the profile wants done actions) and
// status 2 (when it wants errors; folder records only then); status 0 and 3
// give none.
//
// Every step is traced into "ExtPtk.log" beside the program, an INI file of
// one section whose keys count 1, 2, 3, ... Its lines are appended one by
// one, so the file is the one an INI writer would leave without being
// rewritten for every line. A trace that cannot be written changes nothing.
#include <string>
#include <string_view>

#include "copyengine/endofrun.h"
#include "platform/time.h"

namespace kv {

inline constexpr std::string_view kExtLogTraceName = "ExtPtk.log";
inline constexpr std::string_view kExtLogTraceSection = "Protokoll des externen Logfiles";

// The external log of the closed protocol, traced into tracePath ("": no
// trace). Old lines are kept when the settings say so. The log is replaced
// only by a complete new file: whatever fails, the old log stays as it was.
// Never throws.
void WriteExtLog(std::string_view protocolPath, const ExternalLogSettings& settings, std::string_view tracePath,
                 platform::DateTime now = platform::Now());

}  // namespace kv
