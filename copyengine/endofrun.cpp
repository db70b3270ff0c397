#include "copyengine/endofrun.h"

#include "copyengine/report/errorreport.h"

namespace kv {

void CheckDelFolders(ProtocolStream&) {}

void MailErrorReport(std::string_view protocolPath, std::string_view mailAddress, std::string_view profileName) {
  MailErrorProtocol(protocolPath, mailAddress, profileName);
}

void WriteExternalLog(std::string_view, const ExternalLogSettings&) {}

}  // namespace kv
