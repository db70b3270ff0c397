#include "platform/stampedfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/errors.h"
#include "platform/files_p.h"

namespace kv::platform {

namespace {

FileStamp StampOf(const struct stat& st) {
  FileStamp s;
  s.device = st.st_dev;
  s.inode = st.st_ino;
  s.size = st.st_size;
  s.mtimeNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  s.mode = st.st_mode & 07777;
  s.owner = st.st_uid;
  s.group = st.st_gid;
  return s;
}

uint64_t Mix(uint64_t h, uint64_t v) {
  // splitmix64 finaliser over a running value: cheap and spreads every bit.
  h ^= v + 0x9E3779B97F4A7C15ULL + (h << 6) + (h >> 2);
  h ^= h >> 30;
  h *= 0xBF58476D1CE4E5B9ULL;
  h ^= h >> 27;
  h *= 0x94D049BB133111EBULL;
  h ^= h >> 31;
  return h;
}

bool Fail(int err) {
  SetLastError(err);
  return false;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The new file must not carry the stamp of the file it replaces, or a reader
// that cached the old content would keep it: within one clock tick, with the
// old inode number reused, size and time could all be equal.
void MakeNewerThan(int fd, const FileStamp& previous) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return;
  int64_t mtime = StampOf(st).mtimeNs;
  if (mtime > previous.mtimeNs) return;
  int64_t next = previous.mtimeNs + 1;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(next / 1000000000LL);
  times[1].tv_nsec = static_cast<long>(next % 1000000000LL);
  futimens(fd, times);
}


}  // namespace

uint64_t FileStamp::Hash() const {
  if (size < 0) return 0;
  uint64_t h = Mix(0, static_cast<uint64_t>(device));
  h = Mix(h, static_cast<uint64_t>(inode));
  h = Mix(h, static_cast<uint64_t>(size));
  h = Mix(h, static_cast<uint64_t>(mtimeNs));
  return h == 0 ? 1 : h;
}

FileProbe ProbeFile(const std::string& path, FileStamp& stamp) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) {
    int err = errno;
    if (err == ENOENT || err == ENOTDIR) return FileProbe::Missing;
    SetLastError(err);
    return FileProbe::Unusable;
  }
  if (!S_ISREG(st.st_mode)) {
    SetLastError(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    return FileProbe::Unusable;
  }
  stamp = StampOf(st);
  return FileProbe::Present;
}

std::optional<FileStamp> StatFile(const std::string& path) {
  FileStamp stamp;
  if (ProbeFile(path, stamp) == FileProbe::Present) return stamp;
  return std::nullopt;
}

bool ReadStampedFile(const std::string& path, std::string& content, FileStamp& stamp) {
  content.clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Fail(errno);
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int err = S_ISDIR(st.st_mode) ? EISDIR : (errno ? errno : EINVAL);
    close(fd);
    return Fail(err);
  }
  stamp = StampOf(st);
  content.resize(static_cast<size_t>(st.st_size));
  size_t used = 0;
  for (;;) {
    if (used == content.size()) content.resize(content.size() + 4096);  // the file grew meanwhile
    ssize_t n = read(fd, content.data() + used, content.size() - used);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      close(fd);
      content.clear();
      return Fail(err);
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  content.resize(used);
  close(fd);
  return true;
}

bool ReplaceFile(const std::string& path, std::string_view content, const FileStamp* previous, uint32_t newMode,
                 FileSync sync) {
  const std::string folder = FolderOf(path);
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return Fail(errno);
  // A temporary name of the system's own: a run killed before the rename
  // leaves nothing that could be taken for data.
  std::string temp;
  const int fd = detail::CreateSystemTempAt(dir, temp, previous ? 0600 : newMode);
  if (fd < 0) {
    const int err = errno;
    close(dir);
    return Fail(err);
  }
  bool ok = WriteAll(fd, content);
  if (ok && previous) {
    if (geteuid() == 0 && (previous->owner != geteuid() || previous->group != getegid()))
      (void)!fchown(fd, previous->owner, previous->group);
    ok = fchmod(fd, previous->mode) == 0;
    if (ok) MakeNewerThan(fd, *previous);
  }
  if (ok && sync == FileSync::Synced) ok = fsync(fd) == 0;
  int err = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && renameat(dir, temp.c_str(), dir, name.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) unlinkat(dir, temp.c_str(), 0);
  else if (sync == FileSync::Synced) fsync(dir);
  close(dir);
  return ok || Fail(err);
}

std::string CanonicalFilePath(const std::string& path) {
  if (char* real = realpath(path.c_str(), nullptr)) {
    std::string r(real);
    free(real);
    return r;
  }
  // The file does not exist yet (or is a dangling link): resolve its folder.
  size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  char* real = realpath(folder.c_str(), nullptr);
  if (!real) return "";
  std::string r(real);
  free(real);
  if (r.back() != '/') r += '/';
  return r + name;
}

}  // namespace kv::platform
