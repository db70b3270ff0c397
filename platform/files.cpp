#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>

#include "platform/errors.h"
#include "platform/files_p.h"
#include "platform/handle.h"
#include "platform/paths.h"
#include "platform/stampedfile.h"
#include "platform/treefolder.h"
#include "platform/volumes.h"

namespace kv::platform {

namespace {

// --- Small helpers -------------------------------------------------------------

using detail::AttributesOf;
using detail::Fail;
using detail::FailErrno;
using Fd = Handle;

// Files held for the rest of a run (see GetHeldTempFileName): POSIX path ->
// the descriptor that keeps the lock. Once per process.
struct HeldFiles {
  std::mutex mutex;
  std::map<std::string, int> byPath;
};

HeldFiles& Held() {
  static HeldFiles* held = new HeldFiles;  // used until exit
  return *held;
}

void Release(const std::string& posixPath) {
  HeldFiles& held = Held();
  std::lock_guard lock(held.mutex);
  auto it = held.byPath.find(posixPath);
  if (it == held.byPath.end()) return;
  close(it->second);
  held.byPath.erase(it);
}

// "/a/b/" -> "/a/b" (a trailing slash would make lstat follow a link).
std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ParentFolder(const std::string& posix) {
  const std::string p = WithoutTrailingSlash(posix);
  size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : p.substr(0, slash);
}

std::string NameOfWinPath(std::string_view path) { return ExtractFileName(ExcludeTrailingBackslash(path)); }

bool StatPath(std::string_view winPath, struct stat& st) {
  std::optional<std::string> posix = ResolvePath(winPath);
  if (!posix) return false;
  if (stat(posix->c_str(), &st) != 0) return FailErrno();
  return true;
}

// --- Listing -------------------------------------------------------------------

enum class EntryOutcome { kListed, kSkipped, kBrokenLink, kFailed };

// Fills e from the entry's status, relative to the folder's descriptor.
EntryOutcome ExamineEntry(int dirFd, const struct dirent* de, DirEntry& e, int& error) {
  bool isLink = de->d_type == DT_LNK;
  struct stat st;
  if (de->d_type == DT_UNKNOWN) {
    if (fstatat(dirFd, de->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) return EntryOutcome::kSkipped;  // gone meanwhile
      error = errno;
      return EntryOutcome::kFailed;
    }
    isLink = S_ISLNK(st.st_mode);
  }
  if ((isLink || de->d_type != DT_UNKNOWN) && fstatat(dirFd, de->d_name, &st, 0) != 0) {
    // A link whose target is missing (or that loops) is listed apart; an
    // entry gone meanwhile is not part of the tree; any other failure would
    // make an entry look deleted and so fails the listing.
    if (isLink && (errno == ENOENT || errno == ELOOP || errno == ENOTDIR)) return EntryOutcome::kBrokenLink;
    if (errno == ENOENT) return EntryOutcome::kSkipped;
    error = errno;
    return EntryOutcome::kFailed;
  }
  e.isFolder = S_ISDIR(st.st_mode);
  e.isLink = isLink && e.isFolder;
  e.size = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : 0;
  e.lastWrite = FileTimeFromTimespec(st.st_mtim);
  e.attributes = AttributesOf(st, de->d_name);
  return EntryOutcome::kListed;
}

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool ReadListing(DIR* dir, FolderListing& out) {
  const int dirFd = dirfd(dir);
  for (;;) {
    errno = 0;
    const struct dirent* de = readdir(dir);
    if (!de) {
      out.error = errno;
      return errno == 0;
    }
    if (IsDotOrDotDot(de->d_name)) continue;
    if (strchr(de->d_name, '\\')) {
      out.unnamable.emplace_back(de->d_name);
      continue;
    }
    if (IsSystemTempName(de->d_name)) {
      out.temporaries.emplace_back(de->d_name);
      continue;
    }
    DirEntry& e = out.entries.emplace_back();
    switch (ExamineEntry(dirFd, de, e, out.error)) {
      case EntryOutcome::kListed:
        e.name = de->d_name;
        break;
      case EntryOutcome::kSkipped:
        out.entries.pop_back();
        break;
      case EntryOutcome::kBrokenLink:
        out.entries.pop_back();
        out.brokenLinks.emplace_back(de->d_name);
        break;
      case EntryOutcome::kFailed:
        return false;
    }
  }
}

// --- Moving and copying --------------------------------------------------------

// For file systems without RENAME_NOREPLACE: a hard link cannot replace
// anything; where there are no hard links either, an empty placeholder that
// we created ourselves is the only thing the rename may replace.
// Returns 0 or the errno of the failed step.
int MoveByLink(const std::string& from, const std::string& to) {
  if (link(from.c_str(), to.c_str()) != 0) return errno;
  if (unlink(from.c_str()) == 0) return 0;
  const int err = errno;
  unlink(to.c_str());
  return err;
}

bool HasNoHardLinks(int err) { return err == EPERM || err == EOPNOTSUPP || err == ENOSYS || err == EMLINK; }

bool MoveOverPlaceholder(const std::string& from, const std::string& to, bool isFolder) {
  if (isFolder) {
    if (mkdir(to.c_str(), 0700) != 0) return FailErrno();
  } else {
    int fd = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return FailErrno();
    close(fd);
  }
  if (rename(from.c_str(), to.c_str()) == 0) return true;
  const int err = errno;
  if (isFolder) rmdir(to.c_str());  // only while still empty
  else unlink(to.c_str());
  return Fail(err);
}

}  // namespace

bool detail::MoveNoReplaceFallback(const std::string& from, const std::string& to) {
  struct stat st, existing;
  if (lstat(WithoutTrailingSlash(from).c_str(), &st) != 0) return FailErrno();
  if (lstat(WithoutTrailingSlash(to).c_str(), &existing) == 0) return Fail(EEXIST);
  const bool isFolder = S_ISDIR(st.st_mode);
  if (!isFolder) {
    const int err = MoveByLink(from, to);
    if (err == 0) return true;
    if (!HasNoHardLinks(err)) return Fail(err);
  }
  return MoveOverPlaceholder(from, to, isFolder);
}

namespace {

bool MovePosixNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL) return FailErrno();
  return detail::MoveNoReplaceFallback(from, to);
}

// Opens a regular file for reading without ever blocking on a fifo.
int OpenRegularForReading(const std::string& posix, struct stat& st) {
  Fd fd(open(posix.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.IsOpen()) return -1;
  if (fstat(fd.fd(), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  fcntl(fd.fd(), F_SETFL, fcntl(fd.fd(), F_GETFL) & ~O_NONBLOCK);
  return fd.Release();
}

bool WriteCopy(const FileHandle& in, const struct stat& src, FileHandle& out, bool durable) {
  constexpr size_t kBlock = size_t{1} << 30;
  if (CopyFileData(in, detail::StatusOf(src, {}), out, kBlock, {}) != DataCopyOutcome::kDone) return false;
  if (!out.SetMode(src.st_mode & 0777)) return false;
  if (!out.SetLastWriteTime(FileTimeFromTimespec(src.st_mtim))) return false;
  return !durable || out.Sync();
}

// --- Temporary names -------------------------------------------------------------

uint16_t RandomUnique() {
  uint16_t v = 0;
  if (getrandom(&v, sizeof v, GRND_NONBLOCK) != sizeof v) v = static_cast<uint16_t>(getpid() ^ time(nullptr));
  return v;
}

std::string Hex4(unsigned v) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s(4, '0');
  for (int i = 3; i >= 0; --i, v >>= 4) s[static_cast<size_t>(i)] = kDigits[v & 0xF];
  return s;
}

// Creates path as a folder only we can enter, or accepts it when it already is
// one of ours (a wider mode is narrowed); refuses anything else.
bool EnsurePrivateFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return FailErrno();
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return FailErrno();
  if (!S_ISDIR(st.st_mode) || st.st_uid != geteuid()) return Fail(EACCES);
  if ((st.st_mode & 07777) != 0700 && chmod(path.c_str(), 0700) != 0) return FailErrno();
  return true;
}

std::vector<std::string> TempFolderCandidates() {
  std::vector<std::string> candidates;
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime && runtime[0] == '/') candidates.push_back(WithoutTrailingSlash(runtime) + "/kestrovane");
  candidates.push_back("/tmp/kestrovane-" + std::to_string(geteuid()));
  return candidates;
}

}  // namespace

// --- Listing -------------------------------------------------------------------

FolderListing ListFolder(std::string_view folder) {
  FolderListing out;
  std::optional<std::string> posix = ResolvePath(folder);
  if (!posix) {
    out.error = GetLastError();
    return out;
  }
  Fd fd(open(posix->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* dir = fd.IsOpen() ? fdopendir(fd.fd()) : nullptr;
  if (!dir) {
    out.error = errno;
    SetLastError(out.error);
    return out;
  }
  fd.Release();  // owned by dir now
  out.ok = ReadListing(dir, out);
  closedir(dir);
  if (!out.ok) {
    out.entries.clear();
    out.unnamable.clear();
    out.brokenLinks.clear();
    out.temporaries.clear();
    SetLastError(out.error);
  }
  return out;
}

bool IsFolderLink(std::string_view path) {
  std::optional<std::string> posix = ResolvePath(path);
  if (!posix) return false;
  const std::string p = WithoutTrailingSlash(*posix);
  struct stat st;
  if (lstat(p.c_str(), &st) != 0) return FailErrno();
  if (!S_ISLNK(st.st_mode)) return false;
  return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// --- Existence and folders -------------------------------------------------------

bool FileExists(std::string_view path) {
  struct stat st;
  return StatPath(path, st) && S_ISREG(st.st_mode);
}

bool DirectoryExists(std::string_view path) {
  struct stat st;
  return StatPath(path, st) && S_ISDIR(st.st_mode);
}

namespace {
bool MakeFolders(const std::string& posix) {
  if (mkdir(posix.c_str(), 0777) == 0) return true;
  if (errno == EEXIST) {
    struct stat st;
    return stat(posix.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? true : Fail(EEXIST);
  }
  if (errno != ENOENT) return FailErrno();
  const std::string parent = ParentFolder(posix);
  if (parent == posix || !MakeFolders(parent)) return false;
  if (mkdir(posix.c_str(), 0777) == 0 || errno == EEXIST) return true;  // EEXIST: made meanwhile
  return FailErrno();
}
}  // namespace

bool ForceDirectories(std::string_view path) {
  std::optional<std::string> posix = ResolvePath(path);
  return posix && MakeFolders(WithoutTrailingSlash(*posix));
}

bool ForcePrivateDirectories(std::string_view path) {
  std::optional<std::string> posix = ResolvePath(path);
  if (!posix) return false;
  const std::string folder = WithoutTrailingSlash(*posix);
  const std::string parent = ParentFolder(folder);
  return (parent == folder || MakeFolders(parent)) && EnsurePrivateFolder(folder);
}

bool CreateDir(std::string_view path) {
  std::optional<std::string> posix = ResolvePath(path);
  if (!posix) return false;
  return mkdir(posix->c_str(), 0777) == 0 ? true : FailErrno();
}

bool RemoveDir(std::string_view path) {
  std::optional<std::string> posix = ResolvePath(path);
  if (!posix) return false;
  return rmdir(posix->c_str()) == 0 ? true : FailErrno();
}

bool DeleteFile(std::string_view path) {
  std::optional<std::string> posix = ResolvePath(path);
  if (!posix) return false;
  const std::string file = WithoutTrailingSlash(*posix);
  if (unlink(file.c_str()) != 0) return FailErrno();
  Release(file);
  return true;
}

// --- Moving and copying --------------------------------------------------------

bool MoveFileNoReplace(std::string_view from, std::string_view to) {
  std::optional<std::string> src = ResolvePath(from);
  if (!src) return false;
  std::optional<std::string> dst = ResolvePath(to);
  if (!dst) return false;
  return MovePosixNoReplace(*src, *dst);
}

namespace {

// The copy of an open file written to dst (a POSIX path) through a temporary
// name beside it.
bool CopyInto(const FileHandle& in, const struct stat& srcStat, const std::string& dst, bool failIfExists) {
  struct stat old;
  const bool replacing = lstat(dst.c_str(), &old) == 0;
  if (replacing && failIfExists) return Fail(EEXIST);
  if (replacing && S_ISDIR(old.st_mode)) return Fail(EISDIR);

  const std::string folder = ParentFolder(dst);
  Fd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.IsOpen()) return FailErrno();
  std::string tmp;
  FileHandle out(detail::CreateSystemTempAt(dir.fd(), tmp, 0600));
  if (!out.IsOpen()) return FailErrno();
  // The target is replaced only by a complete copy; whatever fails below
  // leaves it as it was.
  const std::string name = dst.substr(dst.rfind('/') + 1);
  bool ok = WriteCopy(in, srcStat, out, replacing) && out.Close();
  if (ok) {
    ok = failIfExists ? MovePosixNoReplace((folder == "/" ? "" : folder) + "/" + tmp, dst)
                      : renameat(dir.fd(), tmp.c_str(), dir.fd(), name.c_str()) == 0 || FailErrno();
  }
  if (!ok) {
    const int err = GetLastError();
    out.Reset();
    unlinkat(dir.fd(), tmp.c_str(), 0);
    SetLastError(err);
  }
  return ok;
}

}  // namespace

bool CopyFile(std::string_view from, std::string_view to, bool failIfExists) {
  std::optional<std::string> src = ResolvePath(from);
  if (!src) return false;
  std::optional<std::string> dst = ResolvePath(to);
  if (!dst) return false;
  struct stat srcStat;
  FileHandle in(OpenRegularForReading(*src, srcStat));
  if (!in.IsOpen()) return FailErrno();
  return CopyInto(in, srcStat, *dst, failIfExists);
}

bool CopyOpenFile(const FileHandle& from, std::string_view to) {
  std::optional<std::string> dst = ResolvePath(to);
  if (!dst) return false;
  struct stat srcStat;
  if (fstat(from.fd(), &srcStat) != 0) return FailErrno();
  return CopyInto(from, srcStat, *dst, false);
}

bool IsSymbolicLink(std::string_view path) {
  std::optional<std::string> posix = ResolvePath(path);
  struct stat st;
  return posix && lstat(WithoutTrailingSlash(*posix).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// --- Attributes, times, sizes ----------------------------------------------------

uint32_t GetFileAttributes(std::string_view path) {
  struct stat st;
  if (!StatPath(path, st)) return kInvalidAttributes;
  return AttributesOf(st, NameOfWinPath(path));
}

bool SetFileAttributes(std::string_view path, uint32_t attributes) {
  std::optional<std::string> posix = ResolvePath(path);
  if (!posix) return false;
  struct stat st;
  if (stat(posix->c_str(), &st) != 0) return FailErrno();
  mode_t mode = st.st_mode & 07777;
  if (!(attributes & kAttrReadOnly)) mode |= S_IWUSR;
  else if (!S_ISDIR(st.st_mode)) mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  // Hidden, system and archive have no counterpart that could be changed
  // here; a read-only folder stays writable, as it does on the original platform.
  if (mode == (st.st_mode & 07777)) return true;
  return chmod(posix->c_str(), mode) == 0 ? true : FailErrno();
}

std::optional<FileTime> GetLastWriteTime(std::string_view path) {
  struct stat st;
  if (!StatPath(path, st)) return std::nullopt;
  return FileTimeFromTimespec(st.st_mtim);
}

bool SetLastWriteTime(std::string_view path, FileTime ft) {
  std::optional<std::string> posix = ResolvePath(path);
  if (!posix) return false;
  const struct timespec times[2] = {{0, UTIME_OMIT}, TimespecFromFileTime(ft)};
  return utimensat(AT_FDCWD, posix->c_str(), times, 0) == 0 ? true : FailErrno();
}

std::optional<int64_t> GetFileSize(std::string_view path) {
  struct stat st;
  if (!StatPath(path, st)) return std::nullopt;
  if (!S_ISREG(st.st_mode)) {
    Fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    return std::nullopt;
  }
  return static_cast<int64_t>(st.st_size);
}

std::optional<FileIdentity> GetFileIdentity(std::string_view path) {
  struct stat st;
  if (!StatPath(path, st)) return std::nullopt;
  return FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

// --- Temporary files -------------------------------------------------------------

namespace {

bool IsTempFileName(std::string_view name, std::string_view prefix) {
  if (name.size() != prefix.size() + 8 || !name.starts_with(prefix) || !name.ends_with(".tmp")) return false;
  for (char c : name.substr(prefix.size(), 4)) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

std::string MakeTempFile(std::string_view folder, std::string_view prefix, bool hold) {
  if (prefix.find_first_of(std::string_view("\\/\0", 3)) != std::string_view::npos) {
    SetLastError(EINVAL);
    return {};
  }
  std::optional<std::string> posix = ResolvePath(folder);
  if (!posix) return {};
  const std::string dir = WithoutTrailingSlash(*posix);
  const std::string winFolder = IncludeTrailingBackslash(folder);
  const unsigned start = RandomUnique();
  for (unsigned i = 0; i < 0x10000; ++i) {
    const std::string name = std::string(prefix) + Hex4((start + i) & 0xFFFF) + ".tmp";
    const std::string full = (dir == "/" ? "" : dir) + "/" + name;
    const int fd = open(full.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      if (hold && flock(fd, LOCK_EX | LOCK_NB) == 0) {
        HeldFiles& held = Held();
        std::lock_guard lock(held.mutex);
        held.byPath[full] = fd;
      } else {
        close(fd);
      }
      return winFolder + name;
    }
    if (errno != EEXIST) {
      SetLastError(errno);
      return {};
    }
  }
  SetLastError(EEXIST);
  return {};
}

}  // namespace

std::string GetTempFileName(std::string_view folder, std::string_view prefix) {
  return MakeTempFile(folder, prefix, false);
}

std::string GetHeldTempFileName(std::string_view folder, std::string_view prefix) {
  return MakeTempFile(folder, prefix, true);
}

void ReleaseHeldFile(std::string_view path) {
  if (std::optional<std::string> posix = ResolvePath(path)) Release(WithoutTrailingSlash(*posix));
}

int RemoveLeftoverTempFiles(std::string_view folder, std::string_view prefix) {
  std::optional<std::string> posix = ResolvePath(folder);
  if (!posix) return 0;
  Fd dirFd(open(posix->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  DIR* dir = dirFd.IsOpen() ? fdopendir(dirFd.fd()) : nullptr;
  if (!dir) return 0;
  std::vector<std::string> leftovers;
  while (const struct dirent* de = readdir(dir)) {
    if (IsTempFileName(de->d_name, prefix) || IsSystemTempName(de->d_name)) leftovers.emplace_back(de->d_name);
  }
  int removed = 0;
  for (const std::string& name : leftovers) removed += detail::RemoveUnheldAt(dirfd(dir), name) ? 1 : 0;
  closedir(dir);
  dirFd.Release();  // closed with dir
  return removed;
}

std::string GetTempPath() {
  for (const std::string& candidate : TempFolderCandidates()) {
    if (!EnsurePrivateFolder(candidate)) continue;
    std::string win = FromPosixPath(candidate);
    if (win.empty()) {
      SetLastError(ENOENT);
      continue;
    }
    return IncludeTrailingBackslash(win);
  }
  return {};
}

// --- Whole files -----------------------------------------------------------------

bool ReadWholeFile(std::string_view path, std::vector<uint8_t>& out) {
  out.clear();
  std::optional<std::string> posix = ResolvePath(path);
  if (!posix) return false;
  struct stat st;
  Fd fd(OpenRegularForReading(*posix, st));
  if (!fd.IsOpen()) return FailErrno();
  // One byte more than the size, so that the read which sees the end needs no
  // new buffer.
  out.resize(static_cast<size_t>(st.st_size) + 1);
  size_t used = 0;
  for (;;) {
    if (used == out.size()) out.resize(out.size() * 2);  // the file grew meanwhile
    ssize_t n = read(fd.fd(), out.data() + used, out.size() - used);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      out.clear();
      return Fail(err);
    }
    used += static_cast<size_t>(n);
  }
  out.resize(used);
  return true;
}

bool WriteFileAtomic(std::string_view path, const void* data, size_t size, FileSync sync) {
  std::optional<std::string> posix = ResolvePath(path);
  if (!posix) return false;
  const std::optional<FileStamp> previous = StatFile(*posix);
  const std::string_view content(static_cast<const char*>(data), size);
  return ReplaceFile(*posix, content, previous ? &*previous : nullptr, 0666, sync);
}

}  // namespace kv::platform
