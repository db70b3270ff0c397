#include "platform/filereplacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/paths.h"

namespace kv::platform {

namespace {

bool Fail(int err) {
  SetLastError(err);
  return false;
}

// The replaced file's permission bits and owner go to its successor.
bool TakeOverModeAndOwner(const TreeFolder& folder, const std::string& temporary, const FileStatus& old) {
  if (geteuid() == 0 && (old.owner != geteuid() || old.group != getegid()) &&
      fchownat(folder.fd(), temporary.c_str(), old.owner, old.group, AT_SYMLINK_NOFOLLOW) != 0) {
    return Fail(errno);
  }
  return fchmodat(folder.fd(), temporary.c_str(), old.mode, 0) == 0 || Fail(errno);
}

}  // namespace

bool FileReplacement::Begin(std::string_view target) {
  Discard();
  folder_ = TreeFolder::OpenRoot(ExtractFilePath(target), false);
  if (!folder_.IsOpen()) return false;
  name_ = ExtractFileName(target);
  // The usual mode of a new file (0666 less the umask), like any file the
  // program creates; a replaced file's own is given at the end.
  FileHandle file = folder_.CreateTemporary(temporary_, 0666);
  if (!file.IsOpen()) {
    temporary_.clear();
    return false;
  }
  stream_.Adopt(std::move(file));
  return true;
}

bool FileReplacement::Commit() {
  if (temporary_.empty()) return Fail(EBADF);
  FileStatus old;
  const bool replacing = folder_.Status(name_, old) && old.isFile;
  bool ok = !replacing || (stream_.Sync() && TakeOverModeAndOwner(folder_, temporary_, old));
  if (ok) ok = stream_.Close();
  if (ok) ok = folder_.Rename(temporary_, name_, true);
  if (!ok) {
    const int err = GetLastError();
    Discard();
    return Fail(err);
  }
  temporary_.clear();
  folder_.Reset();
  return true;
}

void FileReplacement::Discard() {
  if (temporary_.empty()) return;
  const int err = GetLastError();
  (void)stream_.Close();
  (void)folder_.Remove(temporary_);
  temporary_.clear();
  folder_.Reset();
  SetLastError(err);
}

}  // namespace kv::platform
