#include "copyengine/jobfileactions.h"

#include <cerrno>
#include <exception>
#include <utility>

#include "copyengine/filecopy.h"
#include "copyengine/oldstamp.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/time.h"
#include "shared/synccodes.h"

namespace kv {
namespace {

constexpr std::string_view kMsgFilesChanged = "Die Datei/en haben sich seit dem Setzen der Strategie verändert!";
constexpr std::string_view kMsgInvalidItemTime =
    "Die Zeitangabe der Auftragsdatei ist ungültig; die Datei wurde nicht kopiert!";
constexpr std::string_view kMsgOldStampsFailed = "Die alten Zeitstempel konnten nicht geschrieben werden: ";

constexpr size_t kMaxPathChars = 255;

size_t CharCount(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

bool TooLong(std::string_view path) { return CharCount(path) > kMaxPathChars; }

// A file item names a file of its folder, never one elsewhere: no separator,
// no "." or "..". An empty name (no file on that side) passes.
bool StaysInItsFolder(std::string_view name) {
  return name.find_first_of("\\/") == std::string_view::npos && name != "." && name != "..";
}

// Whole seconds between two DOS date-times read as plain calendar values.
std::optional<int64_t> SecondsApart(platform::DosDateTime a, platform::DosDateTime b) {
  std::optional<platform::DateTime> da = platform::DateTimeFromDos(a);
  std::optional<platform::DateTime> db = platform::DateTimeFromDos(b);
  if (!da || !db) return std::nullopt;
  const double seconds = (*da - *db) * 86400.0;
  return static_cast<int64_t>(seconds < 0 ? seconds - 0.5 : seconds + 0.5);
}

bool IsTwoSecondsApart(platform::DosDateTime a, platform::DosDateTime b) {
  std::optional<int64_t> d = SecondsApart(a, b);
  return d && (*d == 2 || *d == -2);
}

bool IsMissing(const std::string& path) {
  const int err = platform::GetLastError();
  return (err == ENOENT || err == ENOTDIR) && platform::GetFileAttributes(path) == platform::kInvalidAttributes;
}

// What a file of the job looks like now, against what the job was built from.
// A file whose time moved by exactly two seconds (a copy through a file
// system that keeps even seconds) is still the same file, but only when its
// size is the same too: a file of another size has changed.
bool SideUnchanged(const std::string& path, platform::DosDateTime jobTime, int64_t jobSize, bool missingAcceptable) {
  std::optional<int64_t> size = platform::GetFileSize(path);
  if (!size) return missingAcceptable && IsMissing(path);
  std::optional<platform::FileTime> written = platform::GetLastWriteTime(path);
  if (!written) return false;
  if (*size != jobSize) return false;
  const platform::DosDateTime now = platform::DosFromFileTime(*written);
  return now == jobTime || IsTwoSecondsApart(now, jobTime);
}

// A side without a name had no file when the list was built. It is looked
// up under the other side's name, the name a copy would write there: a
// file that appeared there since must not be overwritten unseen.
bool FilesUnchanged(const TCurrentFolders& current, const TSyncItem& item) {
  const std::string& name1 = item.source.empty() ? item.destination : item.source;
  const std::string& name2 = item.destination.empty() ? item.source : item.destination;
  return SideUnchanged(current.side1 + name1, item.sourceTime, item.sourceSize,
                       item.stateCode == JobStateCode(kStateOnlyInDestination) && item.source.empty()) &&
         SideUnchanged(current.side2 + name2, item.destinationTime, item.destinationSize,
                       item.stateCode == JobStateCode(kStateOnlyInSource) && item.destination.empty());
}

// Both full paths of the copied name fit; the side copied from is tested
// first. The failure's text, none when they fit.
std::optional<std::string_view> CheckPathLength(const TCurrentFolders& current, const TSyncItem& item) {
  const std::string_view sourceTooLong = CopyMessage(kMsgSourcePathTooLong);
  const std::string_view targetTooLong = CopyMessage(kMsgTargetPathTooLong);
  if (item.direction == kJobDirectionSourceToDestination) {
    if (TooLong(current.side1 + item.source)) return sourceTooLong;
    if (TooLong(current.side2 + item.source)) return targetTooLong;
  } else if (item.direction == kJobDirectionDestinationToSource) {
    if (TooLong(current.side2 + item.destination)) return targetTooLong;
    if (TooLong(current.side1 + item.destination)) return sourceTooLong;
  }
  return std::nullopt;
}

bool EnsureFolder(const std::string& folder, bool& ensured) {
  if (ensured) return true;
  if (folder.empty()) return false;
  ensured = platform::DirectoryExists(folder) || platform::ForceDirectories(folder);
  return ensured;
}

bool EnsureFolders(TCurrentFolders& current) {
  return EnsureFolder(current.side1, current.ensured1) && EnsureFolder(current.side2, current.ensured2);
}

// Why the item must not be copied; none when it may.
std::optional<std::string_view> CheckBeforeCopy(TCurrentFolders& current, const TSyncItem& item) {
  if (!EnsureFolders(current)) return kMsgFolderNotFound;
  if (std::optional<std::string_view> failure = CheckPathLength(current, item)) return failure;
  if (!FilesUnchanged(current, item)) return kMsgFilesChanged;
  return std::nullopt;
}

bool CopiesBackwards(const TSyncItem& item) { return item.direction == kJobDirectionDestinationToSource; }

// The target gets the job's time of the file, not the file's own.
CopyFileRequest MakeCopyRequest(const TJobRun& run, const TSyncItem& item, const std::string& name,
                                platform::FileTime lastWrite) {
  const bool backwards = CopiesBackwards(item);
  CopyFileRequest request;
  request.source = (backwards ? run.current.side2 : run.current.side1) + name;
  request.target = (backwards ? run.current.side1 : run.current.side2) + name;
  request.copyRights = run.settings.ntfsAccess;
  request.lastWrite = lastWrite;
  request.size = backwards ? item.destinationSize : item.sourceSize;
  request.securityRename = run.settings.securityRename;
  return request;
}

void WriteStamp(TJobRun& run, platform::FileTime lastWrite, const std::string& name) {
  if (!run.files.oldStamps) return;
  try {
    WriteOldStamp(*run.files.oldStamps, run.current.side1, run.current.side2, lastWrite, name);
  } catch (const std::exception& e) {
    // The run goes on without stamps; the end cuts the file back to its
    // whole blocks and merges it with the previous stamps.
    run.files.CloseOldStamps();
    run.stampsBroken = true;
    run.WriteRecord(TPtkItem::SchedulerRecord(run.files.oldStampPath, "", kPtkError,
                                              std::string(kMsgOldStampsFailed) + e.what()));
  }
}

// A file that could not even be looked at (a drive that is not mounted, a
// folder that may not be read) has not been deleted.
Outcome NotDeletable(const std::string& path) {
  const int err = platform::GetLastError();
  if (IsMissing(path) || platform::GetFileAttributes(path) != platform::kInvalidAttributes) {
    return {kPtkDone, std::string(kMsgFilesDeleted)};
  }
  return {kPtkError, FileDeleterMessage(kMsgFileNotDeleted) + " " + platform::SysErrorMessage(err)};
}

}  // namespace

void CopyFileItem(TJobRun& run, TPtkItem& record) {
  const TSyncItem& item = record.item;
  run.ShowPaths(run.current.side1, run.current.side2);
  if (!StaysInItsFolder(item.source) || !StaysInItsFolder(item.destination)) {
    return run.WriteFailure(record, kMsgInvalidItem);
  }
  if (std::optional<std::string_view> failure = CheckBeforeCopy(run.current, item)) {
    return run.WriteFailure(record, *failure);
  }
  const std::string name = CopiesBackwards(item) ? item.destination : item.source;
  if (name.empty()) return run.WriteFailure(record, kMsgInvalidItem);
  const std::optional<platform::FileTime> lastWrite =
      platform::FileTimeFromDos(CopiesBackwards(item) ? item.destinationTime : item.sourceTime);
  if (!lastWrite) return run.WriteFailure(record, kMsgInvalidItemTime);

  CopyFileResult result = CopyFileWithProgress(MakeCopyRequest(run, item, name, *lastWrite), *run.window);
  run.AddBytesDone(CopySizeOf(item));
  if (result.status == kCopyDone) {
    record.item.source = name;
    record.item.destination = name;
  }
  const Outcome outcome{static_cast<uint8_t>(result.status), std::move(result.message)};
  if (result.aborted || AbortRequested()) {
    run.aborted = true;
    // Only a copy that left nothing wrong behind goes unrecorded.
    if (outcome.status != kPtkDone) run.WriteOutcome(record, outcome);
    return;
  }
  run.WriteOutcome(record, outcome);
  WriteStamp(run, *lastWrite, name);
}

Outcome DeleteFileItem(TJobRun& run, const std::string& path) {
  ShortenPathLabel(*run.window, CopyLabel::tlSrc, path);
  run.window->ProcessMessages();
  Outcome outcome{kPtkDone, std::string(kMsgFilesDeleted)};
  if (!platform::FileExists(path)) return NotDeletable(path);
  // The deleter clears the attributes itself; it spares a link's target.
  try {
    run.deleter.Delete(path);
  } catch (const std::exception& e) {
    outcome = {kPtkError, e.what()};
  }
  return outcome;
}

Outcome DeleteNamedFile(TJobRun& run, const std::string& folder, const std::string& name) {
  // An empty name on a side names the folder, never a file: nothing there.
  if (name.empty()) return {kPtkDone, std::string(kMsgFilesDeleted)};
  if (!StaysInItsFolder(name)) return {kPtkError, std::string(kMsgInvalidItem)};
  return DeleteFileItem(run, folder + name);
}

void DeleteFileOfItem(TJobRun& run, TPtkItem& record) {
  const TSyncItem& item = record.item;
  Outcome outcome;
  if (item.stateCode == JobStateCode(kStateOnlyInDestination)) {
    outcome = DeleteNamedFile(run, run.current.side2, item.destination);
  } else if (item.stateCode == JobStateCode(kStateOnlyInSource)) {
    outcome = DeleteNamedFile(run, run.current.side1, item.source);
  } else {
    Outcome first = DeleteNamedFile(run, run.current.side1, item.source);
    Outcome second = DeleteNamedFile(run, run.current.side2, item.destination);
    outcome = second.status > first.status ? std::move(second) : std::move(first);
  }
  run.WriteOutcome(record, std::move(outcome));
}

}  // namespace kv
