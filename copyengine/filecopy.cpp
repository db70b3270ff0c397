#include "copyengine/filecopy.h"

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

// --- One copy ------------------------------------------------------------------------

// The folder of a file given by path alone.
platform::TreeFolder OpenFolderOf(std::string_view path) {
  return platform::TreeFolder::OpenRoot(platform::ExtractFilePath(path), false);
}

class FileCopier {
 public:
  FileCopier(const CopyFileRequest& request, TtfCopy& window) : request_(request), window_(window) {}

  CopyFileResult Run() {
    result_.message = CopyMessage(kMsgFileCopied);
    ShowStart();
    if (OpenFolders() && PrepareTarget() && OpenSource() && CreateTemporary()) {
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

  bool OpenFolders() {
    sourceFolder_ = request_.sourceFolder;
    targetFolder_ = request_.targetFolder;
    sourceName_ = request_.sourceFolder ? request_.sourceName : platform::ExtractFileName(request_.source);
    targetName_ = request_.targetFolder ? request_.targetName : platform::ExtractFileName(request_.target);
    if (!targetFolder_) {
      ownTarget_ = OpenFolderOf(request_.target);
      if (!ownTarget_.IsOpen()) return FailWith(kMsgOpenTargetFailed, GetLastError());
      targetFolder_ = &ownTarget_;
    }
    if (!sourceFolder_ && !request_.openSource) {
      ownSource_ = OpenFolderOf(request_.source);
      if (!ownSource_.IsOpen()) return FailWith(kMsgOpenSourceFailed, GetLastError());
      sourceFolder_ = &ownSource_;
    }
    return true;
  }

  // Whether a file is replaced; a folder of the target's name is not.
  bool PrepareTarget() {
    if (request_.targetExists) {
      replacing_ = *request_.targetExists;
      return true;
    }
    platform::FileStatus st;
    if (!targetFolder_->Status(targetName_, st)) {
      const int err = GetLastError();
      if (err == ENOENT) return true;
      return FailWith(kMsgOpenTargetFailed, err);
    }
    if (st.isFolder) return FailWith(kMsgOpenTargetFailed, EISDIR);
    replacing_ = true;
    return true;
  }

  bool OpenSource() {
    if (request_.openSource) {
      in_ = std::move(*request_.openSource);
      sourceStatus_ = request_.openSourceStatus;
    } else {
      in_ = sourceFolder_->OpenForReading(sourceName_, &sourceStatus_);
    }
    if (!in_.IsOpen()) return FailWith(kMsgOpenSourceFailed, GetLastError());
    return true;
  }

  bool CreateTemporary() {
    out_ = targetFolder_->CreateTemporary(temporaryName_);
    if (!out_.IsOpen()) {
      const int err = GetLastError();
      in_.Reset();
      return FailWith(kMsgOpenTargetFailed, err);
    }
    return true;
  }

  // False when the copy ended early.
  bool CopyBlocks() {
    const platform::DataCopyOutcome outcome =
        platform::CopyFileData(in_, sourceStatus_, out_, kCopyBlockSize, [this](int64_t done) { return !Step(done); });
    if (outcome == platform::DataCopyOutcome::kFailed) return FailCopy(WriteErrorText(GetLastError()));
    if (outcome == platform::DataCopyOutcome::kStopped) return false;
    // The end of a copy is a step too: the bar is full and a cancel counts.
    return !Step(std::max<int64_t>(sourceStatus_.size, 0));
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
    if (!DiscardTemporary()) result_.message = std::string(kMsgCancelledPartialLeft) + SysErrorMessage(GetLastError());
    result_.aborted = true;
    window_.ShowAborting();
    return true;
  }

  bool FailCopy(std::string message) {
    Fail(std::move(message));
    in_.Reset();
    out_.Reset();
    DiscardTemporary();
    return false;
  }

  // False (last error set) when the temporary file stays behind.
  bool DiscardTemporary() {
    if (temporaryName_.empty()) return true;
    const std::string name = std::exchange(temporaryName_, {});
    if (targetFolder_->Remove(name) || GetLastError() == ENOENT) return true;
    result_.status = kCopyErrorPartialLeft;
    return false;
  }

  // Gives the copy its rights, attributes and time, closes it, and only then
  // puts it in the target's place.
  void Finish() {
    ApplyRightsAndAttributes();
    if (!out_.SetLastWriteTime(request_.lastWrite)) {
      FailCopy(SysErrorMessage(GetLastError()));
      return;
    }
    in_.Reset();
    // The previous target is at stake: its replacement must be on the disk
    // before the rename can make it the only copy.
    if ((replacing_ && !out_.Sync()) || !out_.Close()) {
      FailCopy(WriteErrorText(GetLastError()));
      return;
    }
    // A new target that appeared since the list was built is not replaced.
    if (!targetFolder_->Rename(temporaryName_, targetName_, replacing_)) {
      const int err = GetLastError();
      FailCopy(err == EEXIST ? std::string(CopyMessage(kMsgOpenTargetFailed)) + SysErrorMessage(err)
                             : std::string(CopyMessage(kMsgSecurityRenameRevertFailed)));
      return;
    }
    temporaryName_.clear();
  }

  // Copied rights come from the source. Otherwise a replaced file keeps its
  // own, and a new one gets the source's permission bits; the source's
  // read-only attribute applies either way.
  void ApplyRightsAndAttributes() {
    if (request_.copyRights) {
      (void)out_.SetMode(sourceStatus_.mode & 0777);
      CopyFileNTFSRights(in_, out_);
    } else if (replacing_ && KeepsTargetRights()) {
      if (!out_.ApplyReadOnly((sourceStatus_.attributes & platform::kAttrReadOnly) != 0)) AttributesFailed();
    } else if (!out_.SetMode(sourceStatus_.mode & 0777)) {
      AttributesFailed();
    }
  }

  bool KeepsTargetRights() {
    const platform::Handle replaced = targetFolder_->OpenForRights(targetName_);
    platform::FileStatus st;
    // A link is replaced by a file; what it pointed to is not this file.
    if (!replaced.IsOpen() || !replaced.Status(st) || st.isLink || !st.isFile) return false;
    TakeOverRights(replaced, out_);
    return true;
  }

  void AttributesFailed() { Fail(std::string(CopyMessage(kMsgAttributesFailed)) + SysErrorMessage(GetLastError())); }

  const CopyFileRequest& request_;
  TtfCopy& window_;
  CopyFileResult result_;
  int64_t divisor_ = 1;
  platform::TreeFolder ownSource_, ownTarget_;
  const platform::TreeFolder* sourceFolder_ = nullptr;
  const platform::TreeFolder* targetFolder_ = nullptr;
  std::string sourceName_, targetName_;
  std::string temporaryName_;
  bool replacing_ = false;
  platform::FileStatus sourceStatus_;
  platform::FileHandle in_, out_;
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
  // Nobody will see it: measuring a text for a hidden window only costs time.
  if (window.IsHidden()) return window.SetLabelPath(label, std::string(path), std::string(path));
  const int width = window.label(label).width;
  std::string text = ShortenPathText(path, width, [&](std::string_view t) { return window.MeasureText(t); });
  const bool shortened = text != path;
  window.SetLabelPath(label, std::string(path), std::move(text));
  if (shortened) window.ProcessMessages();
}

}  // namespace kv
