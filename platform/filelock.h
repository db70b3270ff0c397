#pragma once
// A lock that one holder at a time may have, across threads and processes of
// the same user: an flock on a file of the private temporary folder. Taking
// it never waits; a process that dies releases it.
#include <optional>
#include <string>
#include <string_view>

namespace kv::platform {

class ExclusiveLock {
 public:
  // nullopt when another holder has it or the lock file cannot be opened
  // (GetLastError() says which: EWOULDBLOCK for a holder). name is a file
  // name of the private temporary folder, without separators.
  static std::optional<ExclusiveLock> TryAcquire(std::string_view name);

  ExclusiveLock(ExclusiveLock&& other) noexcept;
  ExclusiveLock& operator=(ExclusiveLock&&) = delete;
  ExclusiveLock(const ExclusiveLock&) = delete;
  ~ExclusiveLock();

 private:
  explicit ExclusiveLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace kv::platform
