#include "platform/privatefile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/volumes.h"

namespace kv::platform {
namespace {

constexpr mode_t kOwnerReadWrite = S_IRUSR | S_IWUSR;
constexpr std::string_view kSuffix = ".tmp";

}  // namespace

std::string CreatePrivateTempFile(std::string_view prefix) {
  // A separator would lead the file out of the private folder.
  if (prefix.find_first_of(std::string_view("\\/\0", 3)) != std::string_view::npos) {
    SetLastError(EINVAL);
    return {};
  }
  const std::string tempPath = GetTempPath();
  std::optional<std::string> folder = tempPath.empty() ? std::nullopt : ResolvePath(tempPath);
  if (!folder) return {};
  std::string name = *folder;
  if (name.empty() || name.back() != '/') name += '/';
  name.append(prefix).append("XXXXXX").append(kSuffix);
  // mkostemps creates the file exclusively with mode 0600.
  int fd = ::mkostemps(name.data(), static_cast<int>(kSuffix.size()), O_CLOEXEC);
  if (fd < 0) {
    SetLastError(errno);
    return {};
  }
  ::close(fd);
  return FromPosixPath(name);
}

bool RestrictToOwner(std::string_view path) {
  std::optional<std::string> posix = ResolvePath(path);
  if (!posix) return false;
  if (::chmod(posix->c_str(), kOwnerReadWrite) != 0) {
    SetLastError(errno);
    return false;
  }
  return true;
}

}  // namespace kv::platform
