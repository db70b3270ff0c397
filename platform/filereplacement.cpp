#include "platform/filereplacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/time.h"
#include "platform/volumes.h"

namespace kv::platform {

namespace {

bool Fail(int err) {
  SetLastError(err);
  return false;
}

// The replaced file's permission bits and owner go to its successor.
bool TakeOverModeAndOwner(const std::string& temporary, const struct stat& old) {
  if (geteuid() == 0 && (old.st_uid != geteuid() || old.st_gid != getegid()) &&
      chown(temporary.c_str(), old.st_uid, old.st_gid) != 0) {
    return Fail(errno);
  }
  return chmod(temporary.c_str(), old.st_mode & 07777) == 0 || Fail(errno);
}

}  // namespace

bool FileReplacement::Begin(std::string_view target) {
  Discard();
  target_ = std::string(target);
  const std::string folder = ExtractFilePath(target);
  // Created exclusively through the stream, so the new file gets the usual
  // mode (0666 less the umask) like any file the program creates.
  const unsigned start = static_cast<unsigned>(PerformanceCounter() ^ static_cast<uint64_t>(getpid()));
  for (unsigned i = 0; i < 0x10000; ++i) {
    char name[32];
    snprintf(name, sizeof name, ".kvnew-%04X.tmp", (start + i) & 0xFFFF);
    if (stream_.Open(folder + name, OpenMode::CreateNew)) {
      temporary_ = folder + name;
      return true;
    }
    if (GetLastError() != EEXIST) return false;
  }
  return Fail(EEXIST);
}

bool FileReplacement::Commit() {
  if (temporary_.empty()) return Fail(EBADF);
  std::optional<std::string> from = ResolvePath(temporary_);
  std::optional<std::string> to = from ? ResolvePath(target_) : std::nullopt;
  bool ok = to.has_value();
  struct stat old {};
  const bool replacing = ok && stat(to->c_str(), &old) == 0 && S_ISREG(old.st_mode);
  if (ok && replacing) ok = stream_.Sync() && TakeOverModeAndOwner(*from, old);
  if (ok) ok = stream_.Close();
  if (ok && rename(from->c_str(), to->c_str()) != 0) ok = Fail(errno);
  if (!ok) {
    const int err = GetLastError();
    Discard();
    return Fail(err);
  }
  temporary_.clear();
  return true;
}

void FileReplacement::Discard() {
  if (temporary_.empty()) return;
  const int err = GetLastError();
  (void)stream_.Close();
  DeleteFile(temporary_);
  temporary_.clear();
  SetLastError(err);
}

}  // namespace kv::platform
