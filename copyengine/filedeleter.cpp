#include "copyengine/filedeleter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <random>
#include <vector>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/time.h"
#include "platform/trash.h"
#include "platform/volumes.h"

namespace kv {
namespace {

using Pattern = TFileDeleter::Pattern;
using Patterns = std::array<Pattern, TFileDeleter::kPassCount>;

bool IsRandomPass(int pass) { return pass <= 3 || pass >= 31; }

// The fixed passes of the 35-pass overwrite schedule; the random ones are
// drawn before every shredding.
Patterns FixedPatterns() {
  Patterns p{};
  p[4] = {0x55, 0x55, 0x55};
  p[5] = {0xAA, 0xAA, 0xAA};
  p[6] = p[25] = {0x92, 0x49, 0x24};
  p[7] = p[26] = {0x49, 0x24, 0x92};
  p[8] = p[27] = {0x24, 0x92, 0x49};
  for (int i = 0; i < 16; ++i) {
    const auto b = static_cast<uint8_t>(0x11 * i);
    p[9 + i] = {b, b, b};
  }
  p[28] = {0x6D, 0xB6, 0xDB};
  p[29] = {0xB6, 0xDB, 0x6D};
  p[30] = {0xDB, 0x6D, 0xB6};
  return p;
}

std::optional<std::string> ResolveQuiet(std::string_view path) { return platform::ResolvePath(path); }

bool IsSymbolicLink(std::string_view path) {
  std::optional<std::string> posix = ResolveQuiet(path);
  struct stat st;
  return posix && lstat(posix->c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// "C:\Daten\" -> "C\Daten\", "\\Server\Freigabe\Ordner\" -> "Server\Freigabe\Ordner\".
std::string BackupRelativeFolder(std::string_view path) {
  std::string rel = platform::ExtractFilePath(path);
  std::erase(rel, ':');
  rel.erase(0, rel.find_first_not_of('\\'));
  return rel;
}

// Now, at the two-second resolution of a DOS date-time.
platform::FileTime DosNow() {
  const platform::FileTime now = platform::FileTimeNow();
  return platform::FileTimeFromDos(platform::DosFromFileTime(now)).value_or(now);
}

// A descriptor closed at the end of the scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

bool WriteAllAt(int fd, const uint8_t* data, size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t n = pwrite(fd, data, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

std::optional<std::vector<uint8_t>> ReadAll(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return std::nullopt;
  std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    done += static_cast<size_t>(n);
  }
  return bytes;
}

// The size a pass covers: whole 3-byte units from offset 0 while below the
// current size, so a size that is not a multiple of 3 grows by one or two.
off_t RoundedUpToUnits(off_t size) { return (size + 2) / 3 * 3; }

enum class PassOutcome { kDone, kFailed, kAborted };

// Overwrites one open file pass by pass, in large buffers, keeping the
// caller's window alive between them.
class Overwriter {
 public:
  Overwriter(int fd, const TFileDeleter& owner) : fd_(fd), owner_(owner), lastPump_(platform::TickCount64()) {}

  PassOutcome Pass(const Pattern& pattern) {
    struct stat st;
    if (fstat(fd_, &st) != 0) return PassOutcome::kFailed;
    const off_t end = RoundedUpToUnits(st.st_size);
    Fill(pattern, static_cast<size_t>(std::min<off_t>(end, TFileDeleter::kShredBufferSize)));
    for (off_t offset = 0; offset < end;) {
      const size_t n = static_cast<size_t>(std::min<off_t>(end - offset, static_cast<off_t>(buffer_.size())));
      if (!WriteAllAt(fd_, buffer_.data(), n, offset)) return PassOutcome::kFailed;
      offset += static_cast<off_t>(n);
      Pump();
      if (owner_.abortRequested && owner_.abortRequested()) return PassOutcome::kAborted;
    }
    // Each pass must reach the device before the next one replaces it in
    // the cache, or only the last pattern would ever be written.
    return fdatasync(fd_) == 0 ? PassOutcome::kDone : PassOutcome::kFailed;
  }

 private:
  void Fill(const Pattern& pattern, size_t size) {
    buffer_.resize(size);
    for (size_t i = 0; i < size; ++i) buffer_[i] = pattern[i % 3];
  }

  void Pump() {
    if (!owner_.pump) return;
    const uint64_t now = platform::TickCount64();
    if (now - lastPump_ < owner_.pumpIntervalMs) return;
    lastPump_ = now;
    owner_.pump();
  }

  int fd_;
  const TFileDeleter& owner_;
  uint64_t lastPump_;
  std::vector<uint8_t> buffer_;
};

}  // namespace

std::string FileDeleterMessage(int messageId) {
  switch (messageId) {
    case kMsgFileNotDeleted: return "Die Datei/en konnte/n nicht gelöscht werden!";
    case kMsgShredFailed: return "Fehler beim überschreiben/löschen der Datei!";
    case kMsgBackupFailed:
      return "Die Datei konnte nicht gelöscht werden, da das Backupfile nicht erstellt werden konnte!";
    case kMsgRenameFailed:
      return "Die Datei konnte nicht gelöscht werden, da das umbenennen nicht durchgeführt werden konnte!";
    default: return {};
  }
}

TFileDeleter::TFileDeleter() : patterns_(FixedPatterns()) { DrawRandomPatterns(); }

void TFileDeleter::Raise(int messageId) {
  errMsg_ = FileDeleterMessage(messageId);
  throw EFileDeleter(messageId, errMsg_);
}

void TFileDeleter::DrawRandomPatterns() {
  std::mt19937_64 fallback(static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()));
  std::random_device device;
  for (int pass = 0; pass < kPassCount; ++pass) {
    if (!IsRandomPass(pass)) continue;
    uint32_t bits = 0;
    try {
      bits = device();
    } catch (const std::exception&) {
      bits = static_cast<uint32_t>(fallback());
    }
    patterns_[pass] = {static_cast<uint8_t>(bits), static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits >> 16)};
  }
}

void TFileDeleter::Delete(std::string_view path) {
  if (!platform::FileExists(path)) return;
  // Read-only files go like any other. A link keeps its target's bits: the
  // link is deleted, never what it points to.
  if (!IsSymbolicLink(path)) platform::SetFileAttributes(path, 0);
  switch (DelStyle) {
    case TDelStyle::delNormal: DeletePlainly(path); break;
    case TDelStyle::delShredder: Shred(path); break;
    case TDelStyle::delBitbucket:
      if (!platform::MoveToTrash(path)) Raise(kMsgFileNotDeleted);
      break;
    case TDelStyle::delBackup: Backup(path); break;
    case TDelStyle::delRename: Rename(path); break;
  }
}

void TFileDeleter::DeletePlainly(std::string_view path) {
  if (!platform::DeleteFile(path)) Raise(kMsgFileNotDeleted);
}

void TFileDeleter::Rename(std::string_view path) {
  if (!platform::MoveFileNoReplace(path, std::string(path) + ".BAK")) Raise(kMsgRenameFailed);
}

void TFileDeleter::Backup(std::string_view path) {
  // Without a root the backup folder would be a relative path: refuse
  // rather than delete a file whose backup went nowhere.
  if (BackupPath.empty()) Raise(kMsgBackupFailed);
  const std::string folder = platform::IncludeTrailingBackslash(BackupPath) + BackupRelativeFolder(path);
  if (!platform::DirectoryExists(folder) && !platform::ForceDirectories(folder)) Raise(kMsgBackupFailed);
  const std::string target = folder + platform::ExtractFileName(path);
  auto stampNow = [&target] {
    // The backup carries the time of its deletion; a link's target is not ours to touch.
    if (!IsSymbolicLink(target)) platform::SetLastWriteTime(target, DosNow());
  };
  if (platform::MoveFileNoReplace(path, target)) {
    stampNow();
    return;
  }
  if (!platform::CopyFile(path, target, false)) Raise(kMsgBackupFailed);
  stampNow();
  if (ArchivSchredder) Shred(path);
  else DeletePlainly(path);
}

void TFileDeleter::Shred(std::string_view path) {
  DrawRandomPatterns();
  // A link is removed as a link; its target is never overwritten.
  if (IsSymbolicLink(path)) return DeletePlainly(path);
  std::optional<std::string> posix = ResolveQuiet(path);
  if (!posix) Raise(kMsgShredFailed);
  {
    Fd fd(open(posix->c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (fd.get() < 0 || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) Raise(kMsgShredFailed);
    // Another name still holds this content: overwriting it would destroy
    // that file, so only this name goes.
    if (st.st_nlink > 1) return DeletePlainly(path);
    Overwriter overwriter(fd.get(), *this);
    for (int pass = 0; pass < kPassCount; ++pass) {
      const PassOutcome outcome = overwriter.Pass(patterns_[pass]);
      if (outcome == PassOutcome::kFailed) Raise(kMsgShredFailed);
      if (outcome == PassOutcome::kAborted) break;
      if (passObserver) {
        std::optional<std::vector<uint8_t>> bytes = ReadAll(fd.get());
        if (!bytes) Raise(kMsgShredFailed);
        passObserver(pass, *bytes);
      }
    }
  }
  DeletePlainly(path);
}

}  // namespace kv
