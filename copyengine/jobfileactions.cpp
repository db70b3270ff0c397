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

bool IsMissing(int err) { return err == ENOENT || err == ENOTDIR; }

// What a file of the job looks like now, against what the job was built from.
// A file whose time moved by exactly two seconds (a copy through a file
// system that keeps even seconds) is still the same file, but only when its
// size is the same too: a file of another size has changed.
bool Unchanged(const platform::FileStatus& now, platform::DosDateTime jobTime, int64_t jobSize) {
  if (!now.isFile || now.size != jobSize) return false;
  const platform::DosDateTime dos = platform::DosFromFileTime(now.lastWrite);
  return dos == jobTime || IsTwoSecondsApart(dos, jobTime);
}

bool CopiesBackwards(const TSyncItem& item) { return item.direction == kJobDirectionDestinationToSource; }

// The two sides of a copy: where it reads and where it writes, the names
// there, and the source once it is open.
struct CopySides {
  TSide from = TSide::k1, to = TSide::k2;
  std::string fromName, toName;
  const platform::TreeFolder* fromFolder = nullptr;
  const platform::TreeFolder* toFolder = nullptr;
  platform::FileHandle source;
  platform::FileStatus sourceStatus;
  bool targetExists = false;
  // What the job says about both.
  platform::DosDateTime fromTime = 0, toTime = 0;
  int64_t fromSize = 0, toSize = 0;
  bool toMayBeMissing = false;
};

// A side without a name had no file when the list was built. It is looked
// up under the other side's name, the name a copy would write there: a file
// that appeared there since must not be overwritten unseen. A side whose
// name is spelt otherwise (in case only) is the same file: the copy replaces
// it under its own spelling and never puts a second one beside it.
CopySides SidesOf(const TSyncItem& item) {
  const bool backwards = CopiesBackwards(item);
  CopySides sides;
  sides.from = backwards ? TSide::k2 : TSide::k1;
  sides.to = backwards ? TSide::k1 : TSide::k2;
  sides.fromName = backwards ? item.destination : item.source;
  const std::string& toName = backwards ? item.source : item.destination;
  sides.toName = toName.empty() ? sides.fromName : toName;
  sides.fromTime = backwards ? item.destinationTime : item.sourceTime;
  sides.toTime = backwards ? item.sourceTime : item.destinationTime;
  sides.fromSize = backwards ? item.destinationSize : item.sourceSize;
  sides.toSize = backwards ? item.sourceSize : item.destinationSize;
  const uint8_t onlyOnFromSide = JobStateCode(backwards ? kStateOnlyInDestination : kStateOnlyInSource);
  sides.toMayBeMissing = item.stateCode == onlyOnFromSide && toName.empty();
  return sides;
}

// The source is opened for the check and read by the copy: what was checked
// is what gets copied.
bool FilesUnchanged(CopySides& sides) {
  sides.source = sides.fromFolder->OpenForReading(sides.fromName, &sides.sourceStatus);
  if (!sides.source.IsOpen() || !Unchanged(sides.sourceStatus, sides.fromTime, sides.fromSize)) return false;
  platform::FileStatus to;
  if (!sides.toFolder->Status(sides.toName, to)) return sides.toMayBeMissing && IsMissing(platform::GetLastError());
  sides.targetExists = true;
  return Unchanged(to, sides.toTime, sides.toSize);
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

// Both folders of the item, made when missing. The text when they cannot
// be had; none when they stand.
std::optional<std::string> EnsureFolders(TJobRun& run, CopySides& sides) {
  sides.fromFolder = run.current.Open(run, sides.from, true);
  if (sides.fromFolder) sides.toFolder = run.current.Open(run, sides.to, true);
  if (sides.toFolder) return std::nullopt;
  const int err = platform::GetLastError();
  // Refused (a link where a folder should be): the reason goes with the text.
  if (err == ELOOP || err == EINVAL) return std::string(kMsgFolderNotFound) + " " + platform::SysErrorMessage(err);
  return std::string(kMsgFolderNotFound);
}

// Why the item must not be copied; none when it may.
std::optional<std::string> CheckBeforeCopy(TJobRun& run, CopySides& sides, const TSyncItem& item) {
  if (std::optional<std::string> failure = EnsureFolders(run, sides)) return failure;
  if (std::optional<std::string_view> failure = CheckPathLength(run.current, item)) return std::string(*failure);
  if (!FilesUnchanged(sides)) return std::string(kMsgFilesChanged);
  return std::nullopt;
}

// The target gets the job's time of the file, not the file's own.
CopyFileRequest MakeCopyRequest(const TJobRun& run, CopySides& sides, platform::FileTime lastWrite) {
  CopyFileRequest request;
  request.source = run.current.Path(sides.from) + sides.fromName;
  request.target = run.current.Path(sides.to) + sides.toName;
  request.sourceFolder = sides.fromFolder;
  request.sourceName = sides.fromName;
  request.targetFolder = sides.toFolder;
  request.targetName = sides.toName;
  request.openSource = &sides.source;
  request.openSourceStatus = sides.sourceStatus;
  request.targetExists = sides.targetExists;
  request.copyRights = run.settings.ntfsAccess;
  request.lastWrite = lastWrite;
  request.size = sides.fromSize;
  return request;
}

void WriteStamp(TJobRun& run, platform::FileTime lastWrite, const std::string& name) {
  if (!run.files.oldStamps) return;
  try {
    WriteOldStamp(*run.files.oldStamps, run.current.side1, run.current.side2, lastWrite, name);
  } catch (const std::exception& e) {
    // The run goes on without stamps; the merge at the end takes the whole
    // blocks of the file and the previous stamps.
    run.files.CloseOldStamps();
    run.WriteRecord(TPtkItem::SchedulerRecord(run.files.oldStampPath, "", kPtkError,
                                              std::string(kMsgOldStampsFailed) + e.what()));
  }
}

}  // namespace

void CopyFileItem(TJobRun& run, TPtkItem& record) {
  const TSyncItem& item = record.item;
  run.ShowPaths(run.current.side1, run.current.side2);
  if (!StaysInItsFolder(item.source) || !StaysInItsFolder(item.destination)) {
    return run.WriteFailure(record, kMsgInvalidItem);
  }
  CopySides sides = SidesOf(item);
  if (sides.fromName.empty()) return run.WriteFailure(record, kMsgInvalidItem);
  if (std::optional<std::string> failure = CheckBeforeCopy(run, sides, item)) {
    return run.WriteFailure(record, *failure);
  }
  const std::optional<platform::FileTime> lastWrite = platform::FileTimeFromDos(sides.fromTime);
  if (!lastWrite) return run.WriteFailure(record, kMsgInvalidItemTime);

  CopyFileResult result = CopyFileWithProgress(MakeCopyRequest(run, sides, *lastWrite), *run.window);
  run.AddBytesDone(CopySizeOf(item));
  const std::string& name = sides.fromName;
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

Outcome DeleteNamedFile(TJobRun& run, TSide side, const std::string& name) {
  // An empty name on a side names the folder, never a file: nothing there.
  if (name.empty()) return {kPtkDone, std::string(kMsgFilesDeleted)};
  if (!StaysInItsFolder(name)) return {kPtkError, std::string(kMsgInvalidItem)};
  const std::string path = run.current.Path(side) + name;
  ShortenPathLabel(*run.window, CopyLabel::tlSrc, path);
  run.window->ProcessMessages();
  const Outcome deleted{kPtkDone, std::string(kMsgFilesDeleted)};
  // Only what really is not there counts as deleted; a folder that cannot
  // even be reached (a drive not mounted, a link where a folder was) is an
  // error.
  const platform::TreeFolder* folder = run.current.Open(run, side, false);
  platform::FileStatus st;
  if (!folder || !folder->Status(name, st)) {
    const int err = platform::GetLastError();
    if (IsMissing(err)) return deleted;
    return {kPtkError, FileDeleterMessage(kMsgFileNotDeleted) + " " + platform::SysErrorMessage(err)};
  }
  // The deleter clears the attributes itself; it spares a link's target.
  try {
    run.deleter.Delete(*folder, name, path);
  } catch (const std::exception& e) {
    return {kPtkError, e.what()};
  }
  return deleted;
}

void DeleteFileOfItem(TJobRun& run, TPtkItem& record) {
  const TSyncItem& item = record.item;
  Outcome outcome;
  if (item.stateCode == JobStateCode(kStateOnlyInDestination)) {
    outcome = DeleteNamedFile(run, TSide::k2, item.destination);
  } else if (item.stateCode == JobStateCode(kStateOnlyInSource)) {
    outcome = DeleteNamedFile(run, TSide::k1, item.source);
  } else {
    Outcome first = DeleteNamedFile(run, TSide::k1, item.source);
    Outcome second = DeleteNamedFile(run, TSide::k2, item.destination);
    outcome = second.status > first.status ? std::move(second) : std::move(first);
  }
  run.WriteOutcome(record, std::move(outcome));
}

}  // namespace kv
