#include "copyengine/endofrun.h"

#include "copyengine/externallog.h"
#include "copyengine/report/errorreport.h"
#include "platform/program.h"

namespace kv {

void MailErrorReport(std::string_view protocolPath, std::string_view mailAddress, std::string_view profileName) {
  MailErrorProtocol(protocolPath, mailAddress, profileName);
}

void WriteExternalLog(std::string_view protocolPath, const ExternalLogSettings& settings) {
  // A program that cannot name its own folder writes no trace.
  const std::string folder = platform::ProgramFolder();
  WriteExtLog(protocolPath, settings, folder.empty() ? std::string() : folder + std::string(kExtLogTraceName));
}

}  // namespace kv
