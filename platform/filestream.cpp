#include "platform/filestream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <optional>
#include <utility>

#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/volumes.h"

namespace kv::platform {

namespace {

bool Fail(int err) {
  SetLastError(err);
  return false;
}

bool FailErrno() { return Fail(errno); }

bool CloseAndFail(int fd, int err) {
  ::close(fd);
  return Fail(err);
}

int OpenFlags(OpenMode mode) {
  // O_NONBLOCK only for the open itself: a fifo must not hang us.
  constexpr int kBase = O_CLOEXEC | O_NONBLOCK;
  switch (mode) {
    case OpenMode::Read:
      return kBase | O_RDONLY;
    case OpenMode::ReadWrite:
      return kBase | O_RDWR;
    case OpenMode::OpenOrCreate:
      return kBase | O_RDWR | O_CREAT;
    case OpenMode::Create:
      return kBase | O_RDWR | O_CREAT | O_TRUNC;
    case OpenMode::CreateNew:
      return kBase | O_RDWR | O_CREAT | O_EXCL;
  }
  return kBase | O_RDONLY;
}

// Positions beyond off_t cannot be reached by any system call.
bool ToOffset(uint64_t position, off_t& out) {
  if (position > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return false;
  out = static_cast<off_t>(position);
  return true;
}

}  // namespace

FileStream::~FileStream() {
  if (fd_ >= 0) ::close(fd_);
}

FileStream::FileStream(FileStream&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), position_(std::exchange(other.position_, 0)) {}

FileStream& FileStream::operator=(FileStream&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    position_ = std::exchange(other.position_, 0);
  }
  return *this;
}

bool FileStream::Open(std::string_view winPath, OpenMode mode) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  position_ = 0;
  std::optional<std::string> posix = ResolvePath(winPath);
  if (!posix) return false;  // ResolvePath set the reason
  int fd = ::open(posix->c_str(), OpenFlags(mode), 0666);
  if (fd < 0) return FailErrno();
  struct stat st {};
  if (::fstat(fd, &st) != 0) return CloseAndFail(fd, errno);
  if (!S_ISREG(st.st_mode)) return CloseAndFail(fd, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
  if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) return CloseAndFail(fd, errno);
  fd_ = fd;
  return true;
}

void FileStream::Adopt(FileHandle file) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = file.Release();
  position_ = 0;
}

bool FileStream::Read(void* buffer, size_t count, size_t& got) {
  got = 0;
  if (fd_ < 0) return Fail(EBADF);
  auto* out = static_cast<uint8_t*>(buffer);
  while (got < count) {
    off_t at;
    if (!ToOffset(position_ + got, at)) return Fail(EOVERFLOW);
    const ssize_t n = ::pread(fd_, out + got, count - got, at);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      position_ += got;
      return Fail(err);
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  position_ += got;
  return true;
}

bool FileStream::ReadExact(void* buffer, size_t count) {
  const uint64_t start = position_;
  size_t got = 0;
  if (!Read(buffer, count, got)) {
    position_ = start;
    return false;
  }
  if (got == count) return true;
  position_ = start;
  return Fail(ENODATA);
}

bool FileStream::Write(const void* data, size_t count) {
  if (fd_ < 0) return Fail(EBADF);
  const auto* in = static_cast<const uint8_t*>(data);
  size_t done = 0;
  while (done < count) {
    off_t at;
    if (!ToOffset(position_ + done, at)) return Fail(EOVERFLOW);
    const ssize_t n = ::pwrite(fd_, in + done, count - done, at);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      position_ += done;
      return Fail(err);
    }
    done += static_cast<size_t>(n);
  }
  position_ += done;
  return true;
}

bool FileStream::SeekToEnd() {
  uint64_t size = 0;
  if (!Size(size)) return false;
  position_ = size;
  return true;
}

bool FileStream::Size(uint64_t& size) const {
  if (fd_ < 0) return Fail(EBADF);
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return FailErrno();
  size = static_cast<uint64_t>(st.st_size);
  return true;
}

bool FileStream::Truncate(uint64_t size) {
  if (fd_ < 0) return Fail(EBADF);
  off_t length;
  if (!ToOffset(size, length)) return Fail(EFBIG);
  while (::ftruncate(fd_, length) != 0) {
    if (errno != EINTR) return FailErrno();
  }
  return true;
}

bool FileStream::Sync() {
  if (fd_ < 0) return Fail(EBADF);
  if (::fsync(fd_) != 0) return FailErrno();
  return true;
}

bool FileStream::Close() {
  if (fd_ < 0) return true;
  const int fd = std::exchange(fd_, -1);
  position_ = 0;
  // The descriptor is gone after close() whatever it returns (also on
  // EINTR), so it is never retried; its error is reported.
  if (::close(fd) != 0) return FailErrno();
  return true;
}

}  // namespace kv::platform
