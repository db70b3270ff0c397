#include "platform/trash.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <functional>
#include <optional>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/userfolders.h"
#include "platform/volumes.h"

namespace kv::platform {
namespace {

constexpr size_t kMaxNameBytes = 255;
constexpr std::string_view kInfoSuffix = ".trashinfo";
constexpr int kMaxNameTries = 10000;

bool Fail(int err) {
  SetLastError(err);
  return false;
}

bool FailErrno() { return Fail(errno); }

// --- Paths -------------------------------------------------------------------------

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Join(const std::string& folder, std::string_view name) {
  return folder == "/" ? "/" + std::string(name) : folder + "/" + std::string(name);
}

// The device of path, or of its nearest existing ancestor.
std::optional<dev_t> DeviceOfNearest(std::string path) {
  for (;;) {
    struct stat st;
    if (stat(path.c_str(), &st) == 0) return st.st_dev;
    if (path == "/" || path == ".") return std::nullopt;
    path = ParentOf(path);
  }
}

// The top folder of the mount that holds folder (a real path on device dev).
std::string MountTop(std::string folder, dev_t dev) {
  while (folder != "/") {
    const std::string parent = ParentOf(folder);
    struct stat st;
    if (stat(parent.c_str(), &st) != 0 || st.st_dev != dev) break;
    folder = parent;
  }
  return folder;
}

// --- Trash folders -----------------------------------------------------------------

// Creates path (mode 0700) unless it exists; either way it must be a real
// folder of ours, never a link someone planted.
bool EnsureOwnFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return FailErrno();
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return FailErrno();
  if (!S_ISDIR(st.st_mode)) return Fail(ENOTDIR);
  if (st.st_uid != geteuid()) return Fail(EACCES);
  return true;
}

bool MakeParents(const std::string& folder) {
  struct stat st;
  if (stat(folder.c_str(), &st) == 0) return S_ISDIR(st.st_mode) || Fail(ENOTDIR);
  if (folder != "/" && !MakeParents(ParentOf(folder))) return false;
  return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST || FailErrno();
}

// $topdir/.Trash is shared only when an administrator made it a real folder
// with the sticky bit; anything else is ignored.
bool IsSharedTrashUsable(const std::string& sharedTrash) {
  struct stat st;
  return lstat(sharedTrash.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX);
}

struct TrashCandidate {
  std::string folder;
  std::string top;  // "" for the home trash: its Path values are absolute
};

bool PrepareTrash(const TrashCandidate& trash, dev_t dev) {
  if (trash.top.empty() && !MakeParents(ParentOf(trash.folder))) return false;
  if (!EnsureOwnFolder(trash.folder) || !EnsureOwnFolder(trash.folder + "/files") ||
      !EnsureOwnFolder(trash.folder + "/info"))
    return false;
  struct stat st;
  if (stat((trash.folder + "/files").c_str(), &st) != 0) return FailErrno();
  return st.st_dev == dev || Fail(EXDEV);
}

std::vector<TrashCandidate> TrashesFor(const std::string& realFolder, dev_t dev) {
  const std::string home = HomeTrashFolder();
  if (!home.empty()) {
    std::optional<dev_t> homeDev = DeviceOfNearest(home);
    if (homeDev && *homeDev == dev) return {{home, ""}};
  }
  const std::string top = MountTop(realFolder, dev);
  const std::string uid = std::to_string(geteuid());
  std::vector<TrashCandidate> out;
  if (IsSharedTrashUsable(Join(top, ".Trash"))) out.push_back({Join(top, ".Trash") + "/" + uid, top});
  out.push_back({Join(top, ".Trash-" + uid), top});
  return out;
}

// --- The info file -----------------------------------------------------------------

std::string PercentEncode(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (unsigned char c : path) {
    const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.' || c == '~' || c == '/';
    if (keep) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

std::string LocalDeletionDate() {
  const time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

// Path as the trash records it: relative to the top of the mount for a
// mount's trash, absolute for the home trash.
std::string RecordedPath(const std::string& original, const TrashCandidate& trash) {
  if (trash.top.empty()) return original;
  if (trash.top == "/") return original.substr(1);
  return original.substr(trash.top.size() + 1);
}

std::string InfoText(const std::string& original, const TrashCandidate& trash) {
  return "[Trash Info]\nPath=" + PercentEncode(RecordedPath(original, trash)) +
         "\nDeletionDate=" + LocalDeletionDate() + "\n";
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return FailErrno();
    }
    text.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// --- Names -------------------------------------------------------------------------

// The try-th name for a file: "a.txt", "a.2.txt", "a.3.txt", ...; short
// enough that the info file's name still fits.
std::string CandidateName(std::string_view name, int attempt) {
  size_t dot = name.rfind('.');
  if (dot == 0 || dot == std::string_view::npos || name.size() - dot > 32) dot = name.size();
  const std::string_view stem = name.substr(0, dot), ext = name.substr(dot);
  const std::string counter = attempt > 1 ? "." + std::to_string(attempt) : "";
  const size_t budget = kMaxNameBytes - kInfoSuffix.size() - counter.size() - ext.size();
  return std::string(stem.substr(0, Utf8PrefixLength(stem, budget))) + counter + std::string(ext);
}

// 0 or the errno of a move that must not replace anything.
int MoveNoReplace(const std::string& from, const std::string& to) {
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  return detail::MoveNoReplaceFallback(from, to) ? 0 : GetLastError();
}

// Moves the file to a path in the trash without replacing anything; 0 or
// the errno of the failure.
using TrashMove = std::function<int(const std::string& target)>;

// Claims a name by creating its info file, then moves the file in.
bool PutIntoTrash(const TrashCandidate& trash, const std::string& file, std::string_view name,
                  const TrashMove& move, TrashedFile* where) {
  const std::string info = InfoText(file, trash);
  for (int attempt = 1; attempt <= kMaxNameTries; ++attempt) {
    const std::string candidate = CandidateName(name, attempt);
    const std::string infoPath = trash.folder + "/info/" + candidate + std::string(kInfoSuffix);
    const int fd = open(infoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return FailErrno();
    }
    bool written = WriteAll(fd, info) && (fsync(fd) == 0 || FailErrno());
    if (close(fd) != 0 && written) written = FailErrno();
    const int err = written ? move(trash.folder + "/files/" + candidate) : GetLastError();
    if (err == 0) {
      if (where) *where = {trash.folder, candidate};
      return true;
    }
    unlink(infoPath.c_str());
    if (err != EEXIST) return Fail(err);  // a file without its info holds this name
  }
  return Fail(EEXIST);
}

}  // namespace

std::string HomeTrashFolder() {
  const std::string data = XdgBaseFolder("XDG_DATA_HOME", ".local/share");
  return data.empty() ? "" : Join(data, "Trash");
}

namespace {

// file (in the real folder, on device dev) into the first trash that takes it.
bool MoveIntoATrash(const std::string& folder, const std::string& name, dev_t dev, const TrashMove& move,
                    TrashedFile* where) {
  const std::string file = Join(folder, name);
  int lastError = ENOENT;
  for (const TrashCandidate& trash : TrashesFor(folder, dev)) {
    if (PrepareTrash(trash, dev) && PutIntoTrash(trash, file, name, move, where)) return true;
    lastError = GetLastError();
  }
  return Fail(lastError);
}

}  // namespace

bool MoveToTrashPosix(const std::string& posixPath, TrashedFile* where) {
  const std::string path = WithoutTrailingSlashes(posixPath);
  const size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || name == "." || name == ".." || name == "/") return Fail(EINVAL);

  char* real = realpath(ParentOf(path).c_str(), nullptr);
  if (!real) return FailErrno();
  const std::string folder = real;
  free(real);
  const std::string file = Join(folder, name);
  struct stat st;
  if (lstat(file.c_str(), &st) != 0) return FailErrno();
  if (S_ISDIR(st.st_mode)) return Fail(EISDIR);
  return MoveIntoATrash(folder, name, st.st_dev, [&file](const std::string& target) { return MoveNoReplace(file, target); },
                        where);
}

bool MoveToTrash(const TreeFolder& folder, std::string_view name, TrashedFile* where) {
  const std::string n(name);
  if (n.empty() || n == "." || n == ".." || n.find('/') != std::string::npos) return Fail(EINVAL);
  struct stat st;
  if (fstatat(folder.fd(), n.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return FailErrno();
  if (S_ISDIR(st.st_mode)) return Fail(EISDIR);
  const std::string real = folder.PosixPath();
  if (real.empty()) return Fail(ENOENT);
  return MoveIntoATrash(real, n, st.st_dev, [&](const std::string& target) {
    return folder.MoveOut(n, target) ? 0 : GetLastError();
  }, where);
}

bool MoveToTrash(std::string_view winPath, TrashedFile* where) {
  std::optional<std::string> posix = ResolvePath(winPath);
  if (!posix) return false;
  return MoveToTrashPosix(*posix, where);
}

}  // namespace kv::platform
