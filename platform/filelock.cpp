#include "platform/filelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/volumes.h"

namespace kv::platform {

std::optional<ExclusiveLock> ExclusiveLock::TryAcquire(std::string_view name) {
  if (name.empty() || name.find_first_of(std::string_view("\\/\0", 3)) != std::string_view::npos) {
    SetLastError(EINVAL);
    return std::nullopt;
  }
  const std::string folder = GetTempPath();
  const std::optional<std::string> posix = folder.empty() ? std::nullopt : ResolvePath(folder + std::string(name));
  if (!posix) return std::nullopt;
  // Every holder opens the file for itself: flock then also keeps two
  // threads of this process apart.
  const int fd = ::open(posix->c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    SetLastError(errno);
    return std::nullopt;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    SetLastError(errno);
    ::close(fd);
    return std::nullopt;
  }
  return ExclusiveLock(fd);
}

ExclusiveLock::ExclusiveLock(ExclusiveLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

ExclusiveLock::~ExclusiveLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace kv::platform
