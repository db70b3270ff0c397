#pragma once
// The running program's own file: what "beside the program" means (options,
// run log, the component library and its registration tool live there).
#include <string>

namespace kv::platform {

// Windows path of the running executable; "" when it cannot be named.
std::string ProgramFileName();
// Its folder, ending in "\".
std::string ProgramFolder();

}  // namespace kv::platform
