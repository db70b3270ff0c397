#pragma once
// Files that hold secrets (passwords of network shares) and must be readable
// by their owner only.
#include <string>
#include <string_view>

namespace kv::platform {

// Creates an empty file of mode 0600 under a name no other call gets (prefix,
// six random characters, ".tmp") in the private temporary folder (GetTempPath)
// and returns its Windows path; "" on failure (GetLastError() says why).
std::string CreatePrivateTempFile(std::string_view prefix);

// Sets the file's mode to 0600 (owner read and write, nobody else).
bool RestrictToOwner(std::string_view path);

}  // namespace kv::platform
