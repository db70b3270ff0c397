#pragma once
// Network connections, as the system asked Windows for them. A share counts
// as connected while its folder is available (mounted, where the volume table
// says it must be). When it is not, the share's volume may name a connect
// command: it is started with an argument vector (ShellSplit of the command)
// and gets the user name and the password on standard input, one line each,
// or no input at all for an attempt without credentials. Credentials never
// appear on a command line. Success needs the command to end with status 0
// and the share to be available afterwards.
//
// A local name ("X:") maps that letter to the share's folder in the volume
// table and remembers it there, as a connection remembered in the user's
// profile; a letter already standing for something else is refused.
#include <optional>
#include <string>
#include <string_view>

namespace kv::platform {

struct NetCredentials {
  std::string user;
  std::string password;
};

// remoteName: "\\server\share" (no trailing "\"); localName: "X:" or "".
// Returns false and leaves the reason in GetLastError() when it fails.
bool AddNetConnection(std::string_view localName, std::string_view remoteName,
                      const std::optional<NetCredentials>& credentials);

}  // namespace kv::platform
