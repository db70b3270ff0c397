#include "platform/handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/files_p.h"

namespace kv::platform {

using detail::Fail;
using detail::FailErrno;

namespace detail {

bool Fail(int err) {
  SetLastError(err);
  return false;
}

bool FailErrno() { return Fail(errno); }

uint32_t AttributesOf(const struct stat& st, std::string_view name) {
  uint32_t attr = 0;
  if (S_ISDIR(st.st_mode)) attr |= kAttrDirectory;
  else if (S_ISREG(st.st_mode)) attr |= kAttrArchive;
  else attr |= kAttrSystem;
  if (!(st.st_mode & S_IWUSR)) attr |= kAttrReadOnly;
  if (!name.empty() && name[0] == '.') attr |= kAttrHidden;
  return attr;
}

FileStatus StatusOf(const struct stat& st, std::string_view name) {
  FileStatus s;
  s.isFile = S_ISREG(st.st_mode);
  s.isFolder = S_ISDIR(st.st_mode);
  s.isLink = S_ISLNK(st.st_mode);
  s.size = s.isFile ? static_cast<int64_t>(st.st_size) : 0;
  s.lastWrite = FileTimeFromTimespec(st.st_mtim);
  s.attributes = AttributesOf(st, name);
  s.mode = st.st_mode & 07777;
  s.owner = st.st_uid;
  s.group = st.st_gid;
  s.links = st.st_nlink;
  s.sparse = s.isFile && static_cast<int64_t>(st.st_blocks) * 512 < static_cast<int64_t>(st.st_size);
  return s;
}

}  // namespace detail

// --- Handle ------------------------------------------------------------------------

Handle::~Handle() { Reset(); }

Handle::Handle(Handle&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Handle& Handle::operator=(Handle&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void Handle::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int Handle::Release() { return std::exchange(fd_, -1); }

bool Handle::Close() {
  const int fd = std::exchange(fd_, -1);
  return fd < 0 || ::close(fd) == 0 || FailErrno();
}

bool Handle::Status(FileStatus& out) const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return FailErrno();
  out = detail::StatusOf(st, {});
  return true;
}

// --- FileHandle ----------------------------------------------------------------------

bool FileHandle::SetMode(uint32_t mode) { return ::fchmod(fd_, mode & 07777) == 0 || FailErrno(); }

bool FileHandle::ApplyReadOnly(bool readOnly) {
  FileStatus st;
  if (!Status(st)) return false;
  uint32_t mode = st.mode;
  if (readOnly) mode &= ~static_cast<uint32_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  else mode |= S_IWUSR;
  return mode == st.mode || SetMode(mode);
}

bool FileHandle::SetLastWriteTime(FileTime ft) {
  const struct timespec times[2] = {{0, UTIME_OMIT}, TimespecFromFileTime(ft)};
  return ::futimens(fd_, times) == 0 || FailErrno();
}

bool FileHandle::Sync() { return ::fsync(fd_) == 0 || FailErrno(); }

bool FileHandle::DataSync() { return ::fdatasync(fd_) == 0 || FailErrno(); }

bool FileHandle::WriteAt(const void* data, size_t size, int64_t offset) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return FailErrno();
    }
    if (n == 0) return Fail(ENOSPC);
    p += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

bool FileHandle::ReadAt(void* data, size_t size, int64_t offset) const {
  auto* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::pread(fd_, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return FailErrno();
    }
    if (n == 0) return Fail(ENODATA);
    p += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

// --- Copying data --------------------------------------------------------------------

namespace {

// Errors of copy_file_range that mean "not between these two files": the
// same range is then moved through a buffer.
bool KernelCopyRefused(int err) {
  return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == EBADF || err == ETXTBSY ||
         err == EPERM;
}

// Moves byte ranges from one file to the same offsets of another.
class RangeMover {
 public:
  RangeMover(int in, int out, size_t blockSize) : in_(in), out_(out), blockSize_(blockSize) {}

  // Up to length bytes at offset: the bytes moved (0: the source ends
  // there) or -1 with errno set.
  ssize_t Move(off_t offset, size_t length) {
    while (kernelCopy_) {
      loff_t inOffset = offset, outOffset = offset;
      const ssize_t n = ::copy_file_range(in_, &inOffset, out_, &outOffset, length, 0);
      if (n >= 0) return n;
      if (errno == EINTR) continue;
      if (!KernelCopyRefused(errno)) return -1;
      kernelCopy_ = false;
    }
    return MoveThroughBuffer(offset, length);
  }

 private:
  ssize_t MoveThroughBuffer(off_t offset, size_t length) {
    if (buffer_.empty()) buffer_.resize(blockSize_);
    length = std::min(length, buffer_.size());
    ssize_t got;
    do {
      got = ::pread(in_, buffer_.data(), length, offset);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) return got;
    for (ssize_t done = 0; done < got;) {
      const ssize_t w = ::pwrite(out_, buffer_.data() + done, static_cast<size_t>(got - done), offset + done);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return -1;
      if (w == 0) {  // fewer bytes written than read
        errno = ENOSPC;
        return -1;
      }
      done += w;
    }
    return got;
  }

  int in_, out_;
  size_t blockSize_;
  bool kernelCopy_ = true;
  std::vector<char> buffer_;
};

// Where the next data of a file lies from offset on: [start, end). None when
// only a hole (or nothing) follows. A file system that cannot tell holes
// gives all of it as data; the mover then stops at the real end.
struct DataRange {
  off_t start, end;
};
std::optional<DataRange> NextDataRange(int fd, off_t offset) {
  const off_t start = ::lseek(fd, offset, SEEK_DATA);
  if (start < 0) {
    if (errno == ENXIO) return std::nullopt;
    return DataRange{offset, std::numeric_limits<off_t>::max()};
  }
  off_t end = ::lseek(fd, start, SEEK_HOLE);
  if (end < 0) end = std::numeric_limits<off_t>::max();
  return DataRange{start, end};
}

class DataCopy {
 public:
  DataCopy(const FileHandle& in, const FileHandle& out, size_t blockSize,
           const std::function<bool(int64_t)>& step)
      : in_(in), out_(out), mover_(in.fd(), out.fd(), blockSize), blockSize_(blockSize), step_(step) {}

  DataCopyOutcome Run(const FileStatus& inStatus) {
    const off_t size = static_cast<off_t>(inStatus.size);
    // A file without holes is one range to its end: no search for holes.
    if (!inStatus.sparse) return Range(0, size) ? EndOfSource(position_) : outcome_;
    while (std::optional<DataRange> range = NextDataRange(in_.fd(), position_)) {
      if (range->start >= size) break;
      if (range->start > position_) {
        position_ = range->start;
        if (!Step()) return outcome_;
      }
      if (!Range(range->start, std::min(range->end, size))) return outcome_;
      if (ended_) return EndOfSource(position_);
    }
    return EndOfSource(std::max<off_t>(position_, size));
  }

 private:
  // Moves [position, end); false when the copy ended (failed or stopped).
  bool Range(off_t, off_t end) {
    while (position_ < end) {
      const size_t want = static_cast<size_t>(std::min<off_t>(end - position_, static_cast<off_t>(blockSize_)));
      const ssize_t moved = mover_.Move(position_, want);
      if (moved < 0) return Failed(errno);
      if (moved == 0) {
        ended_ = true;
        return true;
      }
      position_ += moved;
      writtenEnd_ = position_;
      if (!Step()) return false;
    }
    return true;
  }

  // The source ends at size: a hole at its end still belongs to the copy.
  DataCopyOutcome EndOfSource(off_t size) {
    if (size != writtenEnd_ && ::ftruncate(out_.fd(), size) != 0) {
      Failed(errno);
      return outcome_;
    }
    return DataCopyOutcome::kDone;
  }

  bool Step() {
    if (step_ && !step_(position_)) {
      outcome_ = DataCopyOutcome::kStopped;
      return false;
    }
    return true;
  }

  bool Failed(int err) {
    SetLastError(err);
    outcome_ = DataCopyOutcome::kFailed;
    return false;
  }

  const FileHandle& in_;
  const FileHandle& out_;
  RangeMover mover_;
  size_t blockSize_;
  const std::function<bool(int64_t)>& step_;
  off_t position_ = 0;
  off_t writtenEnd_ = 0;  // out holds data up to here
  bool ended_ = false;
  DataCopyOutcome outcome_ = DataCopyOutcome::kFailed;
};

}  // namespace

DataCopyOutcome CopyFileData(const FileHandle& in, const FileStatus& inStatus, const FileHandle& out,
                             size_t blockSize, const std::function<bool(int64_t bytesDone)>& step) {
  return DataCopy(in, out, std::max<size_t>(blockSize, 1), step).Run(inStatus);
}

}  // namespace kv::platform
