#include "copyengine/filecopy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "copyengine/ntfsrights.h"
#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/volumes.h"

namespace kv {

using platform::GetLastError;
using platform::SysErrorMessage;

namespace {

constexpr int64_t kBarRange = 2147483647;  // 0x7FFFFFFF

constexpr std::string_view kMsgCancelledPartialLeft =
    "Der Kopiervorgang wurde abgebrochen, die unvollständige Zieldatei konnte nicht gelöscht werden: ";

// --- Texts --------------------------------------------------------------------------

// Cuts a message to the caller's capacity without splitting a character.
std::string CutMessage(std::string text, uint8_t maxLength) {
  text.resize(platform::Utf8PrefixLength(text, maxLength));
  return text;
}

bool IsDiskFull(int err) { return err == ENOSPC || err == EDQUOT || err == EFBIG; }

// A failed write: a full medium gets the text a short write gets, anything
// else the system's text.
std::string WriteErrorText(int err) {
  return IsDiskFull(err) ? std::string(CopyMessage(kMsgWriteFailedDiskFull)) : SysErrorMessage(err);
}

// --- Files ---------------------------------------------------------------------------

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = other.Release();
    }
    return *this;
  }
  int get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }
  bool ok() const { return fd_ >= 0; }
  void Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Closes and reports what the system says about it (a network file system
  // or a full disk may report a failed write only here).
  bool Close() {
    const int fd = std::exchange(fd_, -1);
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_ = -1;
};

// Opens a regular file for reading without ever blocking on a fifo.
int OpenSourceFile(const std::string& posix, struct stat& st) {
  Fd fd(::open(posix.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.ok()) return -1;
  if (::fstat(fd.get(), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) {
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return -1;
  }
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  return fd.Release();
}

// Errors of copy_file_range that mean "not between these two files": the
// same range is then moved through a buffer.
bool KernelCopyRefused(int err) {
  return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == EBADF || err == ETXTBSY;
}

// Moves byte ranges from one file to the same offsets of another, letting
// the kernel do it where it can.
class RangeMover {
 public:
  RangeMover(int in, int out) : in_(in), out_(out) {}

  // Moves up to length bytes at offset. Returns the bytes moved (0: the
  // source ends there) or -1 with errno set.
  ssize_t Move(off_t offset, size_t length) {
    if (kernelCopy_) {
      loff_t inOffset = offset, outOffset = offset;
      for (;;) {
        const ssize_t n = ::copy_file_range(in_, &inOffset, out_, &outOffset, length, 0);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (!KernelCopyRefused(errno)) return -1;
        kernelCopy_ = false;
        break;
      }
    }
    return MoveThroughBuffer(offset, length);
  }

 private:
  ssize_t MoveThroughBuffer(off_t offset, size_t length) {
    if (buffer_.empty()) buffer_.resize(kCopyBlockSize);
    if (length > buffer_.size()) length = buffer_.size();
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

off_t CurrentSize(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? st.st_size : 0;
}

// --- One copy ------------------------------------------------------------------------

class FileCopier {
 public:
  FileCopier(const CopyFileRequest& request, TtfCopy& window) : request_(request), window_(window) {}

  CopyFileResult Run() {
    result_.message = CopyMessage(kMsgFileCopied);
    ShowStart();
    sourceAttributes_ = platform::GetFileAttributes(request_.source);
    if (PrepareTarget() && OpenSource() && CreateWritten()) {
      if (CopyBlocks()) Finish();
    }
    result_.message = CutMessage(std::move(result_.message), request_.maxMessageLength);
    return std::move(result_);
  }

 private:
  void ShowStart() {
    ShortenPathLabel(window_, CopyLabel::tlSrc, request_.source);
    ShortenPathLabel(window_, CopyLabel::tlDest, request_.target);
    const CopyBarState& bar = window_.bar(CopyBar::pgFile);
    SetSizeLabel(window_, CopyLabel::tlFileSize, bar.left + bar.width, request_.size);
    window_.SetBarPosition(CopyBar::pgFile, 0);
    divisor_ = ProgressDivisor(request_.size);
    window_.SetBarMax(CopyBar::pgFile, static_cast<int32_t>(request_.size / divisor_));
    window_.ProcessMessages();
  }

  void Fail(std::string message) {
    result_.status = kCopyError;
    result_.message = std::move(message);
  }
  bool FailWith(int messageId, int err) {
    Fail(std::string(CopyMessage(messageId)) + SysErrorMessage(err));
    return false;
  }

  // Decides the name written to. An existing target (or the safety rename)
  // means writing beside it under the ".sync" name; a stale file of that
  // name goes first.
  bool PrepareTarget() {
    std::optional<std::string> posix = platform::ResolvePath(request_.target);
    if (!posix) return FailWith(kMsgOpenTargetFailed, GetLastError());
    targetPosix_ = std::move(*posix);
    struct stat st;
    const bool present = ::lstat(targetPosix_.c_str(), &st) == 0;
    targetIsFolder_ = present && S_ISDIR(st.st_mode);
    replacing_ = present && !targetIsFolder_;
    writtenWin_ = request_.target;
    writtenPosix_ = targetPosix_;
    if (!replacing_ && !request_.securityRename) return true;
    writtenWin_ += kSafetyRenameSuffix;
    writtenPosix_ += kSafetyRenameSuffix;
    if (::lstat(writtenPosix_.c_str(), &st) != 0) return true;
    if (!S_ISDIR(st.st_mode) && ::unlink(writtenPosix_.c_str()) == 0) return true;
    Fail(std::string(CopyMessage(kMsgSecurityRenameFailed)));
    return false;
  }

  bool OpenSource() {
    std::optional<std::string> posix = platform::ResolvePath(request_.source);
    if (!posix) return FailWith(kMsgOpenSourceFailed, GetLastError());
    in_ = Fd(OpenSourceFile(*posix, sourceStat_));
    if (!in_.ok()) return FailWith(kMsgOpenSourceFailed, errno);
    return true;
  }

  bool CreateWritten() {
    if (writtenPosix_ == targetPosix_ && targetIsFolder_) return FailWith(kMsgOpenTargetFailed, EISDIR);
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW;
    out_ = Fd(::open(writtenPosix_.c_str(), kFlags, 0600));
    if (!out_.ok() && errno == ENAMETOOLONG && writtenPosix_ != targetPosix_) CreateShortTemporary();
    if (!out_.ok()) {
      const int err = errno;
      in_.Reset();
      return FailWith(kMsgOpenTargetFailed, err);
    }
    createdWritten_ = true;
    return true;
  }

  // A target name too long for the ".sync" suffix is replaced through a
  // hidden name of its own beside it.
  void CreateShortTemporary() {
    const size_t slash = targetPosix_.rfind('/');
    std::string pattern = targetPosix_.substr(0, slash + 1) + ".kvsync-XXXXXX";
    out_ = Fd(::mkostemp(pattern.data(), O_CLOEXEC));
    if (!out_.ok()) return;
    writtenPosix_ = pattern;
    writtenWin_ = platform::ExtractFilePath(request_.target) + pattern.substr(slash + 1);
  }

  // Copies the data ranges of the source to the same offsets and skips its
  // holes, so a sparse file stays sparse. False when the copy ended early.
  bool CopyBlocks() {
    RangeMover mover(in_.get(), out_.get());
    off_t position = 0;
    while (std::optional<DataRange> range = NextDataRange(in_.get(), position)) {
      if (range->start > position) {
        position = range->start;
        if (Step(position)) return false;
      }
      while (position < range->end) {
        const size_t want = static_cast<size_t>(std::min<off_t>(range->end - position, kCopyBlockSize));
        const ssize_t moved = mover.Move(position, want);
        if (moved < 0) return FailCopy(WriteErrorText(errno));
        if (moved == 0) return EndOfSource(position);
        position += moved;
        if (Step(position)) return false;
      }
    }
    return EndOfSource(std::max(position, CurrentSize(in_.get())));
  }

  // The source ends at size: a hole at its end still belongs to the copy.
  bool EndOfSource(off_t size) {
    if (::ftruncate(out_.get(), size) != 0) return FailCopy(WriteErrorText(errno));
    return !Step(size);
  }

  // After every block: the bar moves, the window is served, the abort flag
  // is tested. True when the copy is cancelled.
  bool Step(int64_t bytesDone) {
    window_.SetBarPosition(CopyBar::pgFile, static_cast<int32_t>(std::min(bytesDone / divisor_, kBarRange)));
    window_.ProcessMessages();
    if (!AbortRequested()) return false;
    in_.Reset();
    out_.Reset();
    // A copy cancelled half-way is no success when its partial file stays.
    if (!DiscardWritten()) result_.message = std::string(kMsgCancelledPartialLeft) + SysErrorMessage(errno);
    result_.aborted = true;
    window_.ShowAborting();
    return true;
  }

  bool FailCopy(std::string message) {
    Fail(std::move(message));
    in_.Reset();
    out_.Reset();
    DiscardWritten();
    return false;
  }

  // False (errno set) when the written file stays behind.
  bool DiscardWritten() {
    if (!createdWritten_) return true;
    createdWritten_ = false;
    if (::unlink(writtenPosix_.c_str()) == 0 || errno == ENOENT) return true;
    result_.status = kCopyErrorPartialLeft;
    return false;
  }

  // Closes the copy, gives it its time, attributes and rights, and only then
  // puts it in the target's place.
  void Finish() {
    ::fchmod(out_.get(), sourceStat_.st_mode & 0777);
    in_.Reset();
    // The previous target is at stake: its replacement must be on the disk
    // before the rename can make it the only copy.
    if (replacing_ && ::fsync(out_.get()) != 0) {
      FailCopy(WriteErrorText(errno));
      return;
    }
    if (!out_.Close()) {
      FailCopy(WriteErrorText(errno));
      return;
    }
    const struct timespec times[2] = {{0, UTIME_OMIT}, platform::TimespecFromFileTime(request_.lastWrite)};
    if (::utimensat(AT_FDCWD, writtenPosix_.c_str(), times, 0) != 0) {
      FailCopy(SysErrorMessage(errno));
      return;
    }
    ApplyAttributesAndRights();
    if (writtenPosix_ != targetPosix_ && ::rename(writtenPosix_.c_str(), targetPosix_.c_str()) != 0) {
      FailCopy(std::string(CopyMessage(kMsgSecurityRenameRevertFailed)));
    }
  }

  void ApplyAttributesAndRights() {
    if (sourceAttributes_ != platform::kInvalidAttributes &&
        !platform::SetFileAttributes(writtenWin_, sourceAttributes_)) {
      Fail(std::string(CopyMessage(kMsgAttributesFailed)) + SysErrorMessage(GetLastError()));
    }
    if (request_.copyRights) CopyFileNTFSRights(request_.source, writtenWin_);
  }

  const CopyFileRequest& request_;
  TtfCopy& window_;
  CopyFileResult result_;
  int64_t divisor_ = 1;
  uint32_t sourceAttributes_ = platform::kInvalidAttributes;
  std::string targetPosix_;
  std::string writtenWin_, writtenPosix_;
  bool targetIsFolder_ = false;
  bool replacing_ = false;
  bool createdWritten_ = false;
  struct stat sourceStat_ {};
  Fd in_, out_;
};

// --- Path shortening --------------------------------------------------------------------

size_t CodePointLength(std::string_view s, size_t at) {
  size_t n = 1;
  while (at + n < s.size() && (static_cast<unsigned char>(s[at + n]) & 0xC0) == 0x80) ++n;
  return n;
}

void DropLeadingCharacters(std::string& s, int count) {
  size_t cut = 0;
  for (int i = 0; i < count && cut < s.size(); ++i) cut += CodePointLength(s, cut);
  s.erase(0, cut);
}

}  // namespace

// --- Public --------------------------------------------------------------------------------

std::string_view CopyMessage(int id) {
  switch (id) {
    case kMsgSecurityRenameFailed:
      return "Sicherheitsumbenennung der Datei schlug fehl, aus diesem Grund konnte die Datei nicht kopiert "
             "werden";
    case kMsgSecurityRenameRevertFailed: return "Das revidieren der Sicherheitsumbenennung schlug fehl";
    case kMsgAttributesFailed: return "Die Dateiattribute konnten nicht gesetzt werden!";
    case kMsgSourcePathTooLong: return "Der Pfad-/Dateiname der Quelle ist länger als 255 Zeichen!";
    case kMsgTargetPathTooLong: return "Der Pfad-/Dateiname des Ziels ist länger als 255 Zeichen!";
    case kMsgFolderCreated: return "Der Ordner \"%s\" wurde erstellt.";
    case kMsgOpenSourceFailed: return "Fehler beim Öffnen der Quelle: ";
    case kMsgOpenTargetFailed: return "Fehler beim Öffnen des Ziels: ";
    case kMsgFileCopied: return "Die Datei wurde kopiert.";
    case kMsgWriteFailedDiskFull: return "Schreibfehler: Bitte prüfen Sie den freien Speicherplatz Ihrer Medien!";
    default: return {};
  }
}

CopyFileResult CopyFileWithProgress(const CopyFileRequest& request, TtfCopy& window) {
  return FileCopier(request, window).Run();
}

int64_t ProgressDivisor(int64_t size) {
  int64_t divisor = 1;
  while (size / divisor > kBarRange) divisor *= 10;
  return divisor;
}

std::string FormatSizeText(int64_t bytes) {
  if (bytes < 1024) return platform::IntToStr(bytes) + " Byte";
  int64_t unit = int64_t{1} << 30;
  const char* suffix = " GB";
  if (bytes < (int64_t{1} << 20)) {
    unit = 1024;
    suffix = " KB";
  } else if (bytes < (int64_t{1} << 30)) {
    unit = int64_t{1} << 20;
    suffix = " MB";
  }
  // Hundredths, halves rounded up (the value is positive here).
  using Wide = unsigned __int128;
  const Wide hundredths = (static_cast<Wide>(bytes) * 200 + static_cast<Wide>(unit)) / (2 * static_cast<Wide>(unit));
  const uint64_t whole = static_cast<uint64_t>(hundredths / 100);
  const unsigned cents = static_cast<unsigned>(hundredths % 100);
  std::string text = std::to_string(whole);
  text += ',';
  text += static_cast<char>('0' + cents / 10);
  text += static_cast<char>('0' + cents % 10);
  text += suffix;
  return text;
}

uint64_t GetSearchRecSize(uint32_t sizeHigh, uint32_t sizeLow) {
  return (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
}

uint64_t GetSearchRecSize(const platform::DirEntry& entry) {
  const uint64_t size = static_cast<uint64_t>(entry.size);
  return GetSearchRecSize(static_cast<uint32_t>(size >> 32), static_cast<uint32_t>(size));
}

void SetSizeLabel(TtfCopy& window, CopyLabel label, int x, int64_t bytes) {
  window.SetLabelText(label, FormatSizeText(bytes));
  window.SetLabelRightEdge(label, x);
  window.ProcessMessages();
}

std::string ShortenPathText(std::string_view path, int width, const std::function<int(std::string_view)>& measure) {
  auto fits = [&](std::string_view text) { return measure(text) < width; };
  if (fits(path)) return std::string(path);

  char separator = '\\';
  std::string prefix;
  std::string rest(path);
  if (path.find('/') != std::string_view::npos) {
    separator = '/';
    prefix = "FTP://../";
  } else if (!path.empty() && path[0] == '\\') {
    rest = platform::Copy(path, 3, INT64_MAX);
    prefix = "\\\\" + platform::ExtractFileDrive(rest) + "\\..\\";
  } else {
    prefix = platform::ExtractFileDrive(path) + "\\..\\";
  }

  const size_t lastSeparator = rest.rfind(separator);
  std::string folder = lastSeparator == std::string::npos ? std::string() : rest.substr(0, lastSeparator + 1);
  std::string name = lastSeparator == std::string::npos ? rest : rest.substr(lastSeparator + 1);
  name.resize(platform::Utf8PrefixLength(name, 260));

  std::string text;
  if (!fits(name)) {
    do {
      DropLeadingCharacters(name, 2);
      text = prefix + ".." + name;
    } while (!fits(text) && !name.empty());
    return text;
  }
  do {
    const size_t first = folder.find(separator);
    if (first != std::string::npos) folder.erase(0, first + 1);
    text = prefix + folder + name;
  } while (!fits(text) && folder.find(separator) != std::string::npos);
  return text;
}

void ShortenPathLabel(TtfCopy& window, CopyLabel label, std::string_view path) {
  const int width = window.label(label).width;
  std::string text = ShortenPathText(path, width, [&](std::string_view t) { return window.MeasureText(t); });
  const bool shortened = text != path;
  window.SetLabelPath(label, std::string(path), std::move(text));
  if (shortened) window.ProcessMessages();
}

}  // namespace kv
