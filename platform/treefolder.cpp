#include "platform/treefolder.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <ctime>
#include <optional>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/files_p.h"
#include "platform/volumes.h"

namespace kv::platform {

using detail::Fail;
using detail::FailErrno;

namespace {

constexpr std::string_view kTempPrefix = ".kvtmp-";
constexpr size_t kTempRandomLength = 10;
constexpr char kTempAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// Unguessable enough for names that are created exclusively anyway: one
// random seed per process, then a counter through a mixing function (a
// system call per name would cost more than the file it names).
uint64_t NextNameBits() {
  static const uint64_t seed = [] {
    uint64_t s = 0;
    if (getrandom(&s, sizeof s, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof s)) {
      s = static_cast<uint64_t>(getpid()) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(time(nullptr));
    }
    return s;
  }();
  static std::atomic<uint64_t> counter{0};
  uint64_t x = seed + 0x9E3779B97F4A7C15ull * (counter.fetch_add(1) + 1);
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// One name within a folder: no separator, not "." or "..".
bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

bool RefuseName() { return Fail(EINVAL); }

// The names of a relative folder path ("a\b\"), or nullopt (EINVAL) when one
// of them is "." or ".." or holds a NUL.
std::optional<std::vector<std::string>> SplitRelative(std::string_view rel) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= rel.size()) {
    size_t end = rel.find_first_of("\\/", i);
    if (end == std::string_view::npos) end = rel.size();
    const std::string_view part = rel.substr(i, end - i);
    i = end + 1;
    if (part.empty()) continue;
    if (!IsPlainName(part)) {
      SetLastError(EINVAL);
      return std::nullopt;
    }
    parts.emplace_back(part);
  }
  return parts;
}

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

// The whole path in one call where the kernel can refuse links and ".."
// itself; -1 with errno ENOSYS where it cannot.
int OpenBeneath(int dirFd, const std::vector<std::string>& parts) {
  std::string path;
  for (const std::string& p : parts) path += (path.empty() ? "" : "/") + p;
  struct open_how how {};
  how.flags = kFolderFlags;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const long fd = syscall(SYS_openat2, dirFd, path.c_str(), &how, sizeof how);
  if (fd < 0 && (errno == EPERM || errno == E2BIG)) errno = ENOSYS;  // a filter refused the call
  return static_cast<int>(fd);
}

int OpenStepByStep(int dirFd, const std::vector<std::string>& parts, bool create) {
  Handle current(fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
  if (!current.IsOpen()) return -1;
  for (const std::string& part : parts) {
    int next = openat(current.fd(), part.c_str(), kFolderFlags | O_NOFOLLOW);
    if (next < 0 && errno == ENOENT && create) {
      if (mkdirat(current.fd(), part.c_str(), 0777) != 0 && errno != EEXIST) return -1;
      next = openat(current.fd(), part.c_str(), kFolderFlags | O_NOFOLLOW);
    }
    if (next < 0) return -1;
    current = Handle(next);
  }
  return current.Release();
}

// A link where a folder should be: one error for every way the system
// reports it.
int LinkAwareError(int dirFd, const std::vector<std::string>& parts, int err) {
  if (err != ENOTDIR && err != EXDEV) return err;
  struct stat st;
  std::string walked;
  Handle current(fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
  for (const std::string& part : parts) {
    if (fstatat(current.fd(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return err;
    if (S_ISLNK(st.st_mode)) return ELOOP;
    const int next = openat(current.fd(), part.c_str(), kFolderFlags | O_NOFOLLOW);
    if (next < 0) return err;
    current = Handle(next);
  }
  return err;
}

}  // namespace

namespace detail {

int CreateSystemTempAt(int dirFd, std::string& name, unsigned mode) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = NewSystemTempName();
    const int fd = openat(dirFd, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      // Held while it is written: a clean-up never takes it for a leftover.
      flock(fd, LOCK_EX | LOCK_NB);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

bool RemoveUnheldAt(int dirFd, std::string_view name) {
  const std::string n(name);
  Handle file(openat(dirFd, n.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.IsOpen()) return errno == ENOENT;
  if (flock(file.fd(), LOCK_EX | LOCK_NB) != 0) return false;  // a live writer holds it
  struct stat held, named;
  if (fstat(file.fd(), &held) != 0 || !S_ISREG(held.st_mode)) return false;
  if (fstatat(dirFd, n.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (named.st_ino != held.st_ino || named.st_dev != held.st_dev) return false;  // replaced meanwhile
  return unlinkat(dirFd, n.c_str(), 0) == 0 || errno == ENOENT;
}

}  // namespace detail

std::string NewSystemTempName() {
  constexpr uint64_t kLetters = sizeof kTempAlphabet - 1;
  uint64_t bits = NextNameBits();
  std::string name(kTempPrefix);
  for (size_t i = 0; i < kTempRandomLength; ++i, bits /= kLetters) name += kTempAlphabet[bits % kLetters];
  return name;
}

bool IsSystemTempName(std::string_view name) {
  if (name.size() != kTempPrefix.size() + kTempRandomLength || !name.starts_with(kTempPrefix)) return false;
  for (char c : name.substr(kTempPrefix.size())) {
    const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    if (!alnum) return false;
  }
  return true;
}

bool RemoveStaleTemporary(std::string_view winFolder, std::string_view name) {
  if (!IsSystemTempName(name)) return RefuseName();
  std::optional<std::string> posix = ResolvePath(winFolder);
  if (!posix) return false;
  Handle folder(open(posix->c_str(), kFolderFlags));
  if (!folder.IsOpen()) return FailErrno();
  return detail::RemoveUnheldAt(folder.fd(), name);
}

// --- Opening folders --------------------------------------------------------------

TreeFolder TreeFolder::OpenRoot(std::string_view winRoot, bool create) {
  std::optional<std::string> posix = ResolvePath(winRoot);
  if (!posix) return {};
  int fd = open(posix->c_str(), kFolderFlags);
  if (fd < 0 && errno == ENOENT && create && ForceDirectories(winRoot)) fd = open(posix->c_str(), kFolderFlags);
  if (fd < 0) {
    if (errno != 0) SetLastError(errno);
    return {};
  }
  return TreeFolder(fd);
}

TreeFolder TreeFolder::OpenFolder(std::string_view rel, bool create) const {
  std::optional<std::vector<std::string>> parts = SplitRelative(rel);
  if (!parts) return {};
  int fd = -1;
  if (!create && !parts->empty()) fd = OpenBeneath(fd_, *parts);
  if (fd < 0 && (create || parts->empty() || errno == ENOSYS)) fd = OpenStepByStep(fd_, *parts, create);
  if (fd < 0) {
    SetLastError(LinkAwareError(fd_, *parts, errno));
    return {};
  }
  return TreeFolder(fd);
}

// --- Entries ------------------------------------------------------------------------

bool TreeFolder::Status(std::string_view name, FileStatus& out) const {
  if (!IsPlainName(name)) return RefuseName();
  const std::string n(name);
  struct stat st;
  if (fstatat(fd_, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return FailErrno();
  if (S_ISLNK(st.st_mode)) {
    struct stat target;
    if (fstatat(fd_, n.c_str(), &target, 0) == 0 && S_ISREG(target.st_mode)) {
      out = detail::StatusOf(target, name);
      return true;
    }
    out = FileStatus{};
    out.isLink = true;
    return true;
  }
  out = detail::StatusOf(st, name);
  return true;
}

namespace {

// Opened without blocking on a fifo; anything but a regular file is
// refused. (O_NONBLOCK stays: it changes nothing for a regular file.)
FileHandle OpenRegular(int dirFd, std::string_view name, int flags, FileStatus* status) {
  if (!IsPlainName(name)) {
    SetLastError(EINVAL);
    return {};
  }
  FileHandle file(openat(dirFd, std::string(name).c_str(), flags | O_NONBLOCK | O_CLOEXEC));
  if (!file.IsOpen()) {
    SetLastError(errno);
    return {};
  }
  FileStatus st;
  if (!file.Status(st)) return {};
  if (!st.isFile) {
    SetLastError(st.isFolder ? EISDIR : EINVAL);
    return {};
  }
  if (status) *status = st;
  return file;
}

}  // namespace

FileHandle TreeFolder::OpenForReading(std::string_view name, FileStatus* status) const {
  return OpenRegular(fd_, name, O_RDONLY, status);
}

FileHandle TreeFolder::OpenForWriting(std::string_view name, FileStatus* status) const {
  return OpenRegular(fd_, name, O_RDWR | O_NOFOLLOW, status);
}

Handle TreeFolder::OpenForRights(std::string_view name) const {
  if (!IsPlainName(name)) {
    SetLastError(EINVAL);
    return {};
  }
  Handle entry(openat(fd_, std::string(name).c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (!entry.IsOpen()) SetLastError(errno);
  return entry;
}

FileHandle TreeFolder::CreateTemporary(std::string& name, unsigned mode) const {
  FileHandle file(detail::CreateSystemTempAt(fd_, name, mode));
  if (!file.IsOpen()) SetLastError(errno);
  return file;
}

namespace {

// Never replaces anything: where a file system lacks the flag, a hard link
// (which cannot replace either) and the unlink of the old name.
bool MoveNoReplaceAt(int fromDir, const std::string& from, int toDir, const std::string& to) {
  if (renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL) return FailErrno();
  if (linkat(fromDir, from.c_str(), toDir, to.c_str(), 0) != 0) return FailErrno();
  if (unlinkat(fromDir, from.c_str(), 0) == 0) return true;
  const int err = errno;
  unlinkat(toDir, to.c_str(), 0);
  return Fail(err);
}

}  // namespace

bool TreeFolder::Rename(std::string_view from, std::string_view to, bool replace) const {
  if (!IsPlainName(from) || !IsPlainName(to)) return RefuseName();
  const std::string f(from), t(to);
  if (!replace) return MoveNoReplaceAt(fd_, f, fd_, t);
  return renameat(fd_, f.c_str(), fd_, t.c_str()) == 0 || FailErrno();
}

bool TreeFolder::MoveInto(std::string_view name, const TreeFolder& to) const {
  if (!IsPlainName(name)) return RefuseName();
  const std::string n(name);
  return MoveNoReplaceAt(fd_, n, to.fd_, n);
}

bool TreeFolder::MoveOut(std::string_view name, const std::string& posixTarget) const {
  if (!IsPlainName(name)) return RefuseName();
  return MoveNoReplaceAt(fd_, std::string(name), AT_FDCWD, posixTarget);
}

bool TreeFolder::Remove(std::string_view name) const {
  if (!IsPlainName(name)) return RefuseName();
  return unlinkat(fd_, std::string(name).c_str(), 0) == 0 || FailErrno();
}

bool TreeFolder::RemoveFolder(std::string_view name) const {
  if (!IsPlainName(name)) return RefuseName();
  return unlinkat(fd_, std::string(name).c_str(), AT_REMOVEDIR) == 0 || FailErrno();
}

bool TreeFolder::ClearReadOnly(std::string_view name) const {
  if (!IsPlainName(name)) return RefuseName();
  const std::string n(name);
  struct stat st;
  if (fstatat(fd_, n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return FailErrno();
  if (S_ISLNK(st.st_mode) || (st.st_mode & S_IWUSR)) return true;
  const mode_t mode = (st.st_mode & 07777) | S_IWUSR;
  if (fchmodat(fd_, n.c_str(), mode, AT_SYMLINK_NOFOLLOW) == 0) return true;
  if (errno != EOPNOTSUPP && errno != ENOSYS) return FailErrno();
  Handle file(openat(fd_, n.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.IsOpen()) return FailErrno();
  return fchmod(file.fd(), mode) == 0 || FailErrno();
}

bool TreeFolder::ClearOwnReadOnly() {
  struct stat st;
  if (fstat(fd_, &st) != 0) return FailErrno();
  if (st.st_mode & S_IWUSR) return true;
  return fchmod(fd_, (st.st_mode & 07777) | S_IWUSR) == 0 || FailErrno();
}

std::string TreeFolder::PosixPath() const {
  char buffer[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fd_);
  const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
  if (n <= 0 || buffer[0] != '/') return {};
  return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace kv::platform
