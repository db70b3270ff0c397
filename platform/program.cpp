#include "platform/program.h"

#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/volumes.h"

namespace kv::platform {

std::string ProgramFileName() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) {
    SetLastError(errno);
    return {};
  }
  return FromPosixPath(std::string(path, static_cast<size_t>(n)));
}

std::string ProgramFolder() {
  const std::string file = ProgramFileName();
  return file.empty() ? std::string() : ExtractFilePath(file);
}

}  // namespace kv::platform
