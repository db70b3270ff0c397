#include "copyengine/jobrunner.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <utility>
#include <vector>

#include "copyengine/copywindow.h"
#include "copyengine/filecopy.h"
#include "copyengine/ntfsrights.h"
#include "copyengine/oldstamp.h"
#include "copyengine/pairfinder.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/msgloop.h"
#include "platform/paths.h"
#include "platform/time.h"
#include "shared/oldstamp.h"
#include "shared/ptkitem.h"
#include "shared/synccodes.h"
#include "shared/syncitem.h"

namespace kv {
namespace {

using platform::GetLastError;
using platform::SysErrorMessage;

constexpr std::string_view kMsgFolderNotFound = "Der / die Ordner wurde/n nicht gefunden!";
constexpr std::string_view kMsgFilesChanged = "Die Datei/en haben sich seit dem Setzen der Strategie verändert!";
constexpr std::string_view kMsgFilesDeleted = "Die Datei/en wurde/n gelöscht.";
constexpr std::string_view kMsgFoldersCreated = "Der / die Ordner wurden erstellt.";
constexpr std::string_view kMsgFoldersNotCreated = "Der / die Ordner konnten nicht erstellt werden!";
constexpr std::string_view kMsgFoldersDeleted = "Der / die Ordner wurden gelöscht.";
constexpr std::string_view kMsgFoldersNotDeleted = "Der / die Ordner konnten nicht gelöscht werden!";
constexpr std::string_view kMsgFtpPairsUnsupported = "FTP-Ordnerpaare werden von dieser Version nicht unterstützt.";
constexpr std::string_view kMsgNoFolderPair =
    "Zu diesem Ordner gibt es im Profil kein Ordnerpaar; der Ordner wurde übergangen!";
constexpr std::string_view kMsgInvalidItem = "Der Eintrag der Auftragsdatei ist ungültig und wurde übergangen!";
constexpr std::string_view kMsgInvalidItemTime = "Die Zeitangabe der Auftragsdatei ist ungültig; die Datei wurde nicht kopiert!";
constexpr std::string_view kMsgOldStampsFailed = "Die alten Zeitstempel konnten nicht geschrieben werden: ";
constexpr std::string_view kMsgRunFailed = "Der Abgleich wurde wegen eines Fehlers abgebrochen: ";

constexpr size_t kItemSize = TSyncItem::kSize;
constexpr size_t kMaxPathChars = 255;

// --- Items ---------------------------------------------------------------------------------

constexpr size_t kOffSourceSize = 512;
constexpr size_t kOffDestinationSize = 520;
constexpr size_t kOffAction = 549;
constexpr size_t kOffStateCode = 550;
constexpr size_t kOffDirection = 551;

bool IsFileStateCode(uint8_t code) { return (code >= 1 && code <= 7) || (code >= 13 && code <= 15); }
bool IsFileItem(const TSyncItem& item) { return IsFileStateCode(item.stateCode); }
bool IsFolderItem(const TSyncItem& item) { return IsFolderStateCode(item.stateCode); }
bool HasAction(uint8_t action) { return action >= kActionCopy && action <= kActionCreateFolderIfCopy; }

// The bytes a copy of the item moves: the side it comes from; nothing for an
// item without a direction.
int64_t CopySizeOf(uint8_t direction, int64_t sourceSize, int64_t destinationSize) {
  if (direction == kJobDirectionSourceToDestination) return sourceSize;
  if (direction == kJobDirectionDestinationToSource) return destinationSize;
  return 0;
}
int64_t CopySizeOf(const TSyncItem& item) {
  return CopySizeOf(item.direction, item.sourceSize, item.destinationSize);
}

int64_t Int64At(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return static_cast<int64_t>(v);
}

size_t CharCount(std::string_view text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

bool TooLong(std::string_view path) { return CharCount(path) > kMaxPathChars; }

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

// What a file of the job looks like now, against what the job was built from.
// A file whose time moved by exactly two seconds (a copy through a file
// system that keeps even seconds) is still the same file, but only when its
// size is the same too: a file of another size has changed.
bool SideUnchanged(const std::string& path, platform::DosDateTime jobTime, int64_t jobSize, bool missingAcceptable) {
  std::optional<int64_t> size = platform::GetFileSize(path);
  if (!size) {
    const int err = GetLastError();
    const bool missing = err == ENOENT || err == ENOTDIR;
    return missing && missingAcceptable && platform::GetFileAttributes(path) == platform::kInvalidAttributes;
  }
  std::optional<platform::FileTime> written = platform::GetLastWriteTime(path);
  if (!written) return false;
  if (*size != jobSize) return false;
  const platform::DosDateTime now = platform::DosFromFileTime(*written);
  return now == jobTime || IsTwoSecondsApart(now, jobTime);
}

struct Outcome {
  uint8_t status = kPtkDone;
  std::string message;
};

// Two outcomes of one item as one: the second one's when it did not succeed.
Outcome Combined(Outcome first, Outcome second) { return second.status == kPtkDone ? first : second; }

// --- Old timestamps -------------------------------------------------------------------------

// Cuts this run's stamp file back to its whole blocks, so that a write that
// failed half-way does not make the merge throw the earlier stamps away.
void CutStampFileToWholeBlocks(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!platform::ReadWholeFile(path, bytes)) return;
  TOldStampReader reader(bytes, path);
  std::vector<TOldStampBlock> whole;
  try {
    TOldStampBlock block;
    while (reader.Next(block)) whole.push_back(std::move(block));
    return;
  } catch (const EOldStampFile&) {
  }
  const std::vector<uint8_t> kept = EncodeOldStampBlocks(whole);
  platform::WriteFileAtomic(path, kept.data(), kept.size());
}

void CloseStampStream(CopyJobFiles& files) {
  if (files.oldStamps) {
    files.oldStamps->close();
    files.oldStamps.reset();
  }
}

// The previous stamps merged into this run's, or back in place when this run
// stamped nothing. Failures are swallowed: the stamps only sharpen the next
// comparison.
void MergeOldStamps(CopyJobFiles& files, bool hidden, bool minimized) {
  CloseStampStream(files);
  if (!files.oldStampsMoved) return;
  files.oldStampsMoved = false;
  try {
    UpdateOldStamps(files.oldStampPath, hidden, minimized);
  } catch (const std::exception&) {
  }
}

// --- The run ----------------------------------------------------------------------------------

class TCopyJob {
 public:
  TCopyJob(CopyJobFiles& files, const CopyJobSettings& settings, TFileDeleter& deleter)
      : files_(files), settings_(settings), deleter_(deleter) {}
  ~TCopyJob() {
    deleter_.pump = nullptr;
    deleter_.abortRequested = nullptr;
  }

  void Run() {
    std::exception_ptr failure;
    try {
      Start();
      ItemLoop();
      EndOfRun();
    } catch (...) {
      failure = std::current_exception();
      RecordFailure(failure);
    }
    CleanUp(failure != nullptr);
    if (failure) std::rethrow_exception(failure);
  }

 private:
  // --- Start ---
  void Start() {
    startTick_ = platform::TickCount64();
    window_.emplace(CopyWindowOptions{settings_.hidden, settings_.minimized, {}, {}});
    deleter_.pump = [this] { window_->ProcessMessages(); };
    deleter_.abortRequested = [] { return AbortRequested(); };
    if (!files_.job.IsOpen()) throw std::runtime_error("Es wurde keine Auftragsdatei (SrcFile) angegeben.");
    if (!files_.pairs.IsOpen()) throw std::runtime_error("Es wurde keine Datei der Ordnerpaare (MainFile) angegeben.");
    uint64_t jobSize = 0;
    if (!files_.job.Size(jobSize)) ThrowJobError("kann nicht gelesen werden");
    itemCount_ = static_cast<int64_t>(jobSize / kItemSize);
    if (jobSize % kItemSize != 0) ReportTornJobFile(jobSize % kItemSize);
    finder_.emplace(LoadPairs());

    bytesToCopy_ = GetCopySize();
    overallDivisor_ = ProgressDivisor(bytesToCopy_);
    window_->SetBarMax(CopyBar::pgAll, static_cast<int32_t>(bytesToCopy_ / overallDivisor_));
    window_->SetBarPosition(CopyBar::pgAll, 0);
    const CopyBarState& all = window_->bar(CopyBar::pgAll);
    SetSizeLabel(*window_, CopyLabel::tlFullSize, all.left + all.width, bytesToCopy_);
  }

  [[noreturn]] void ThrowJobError(std::string_view what) const {
    throw JobFileError("Die Auftragsdatei \"" + files_.jobPath + "\" " + std::string(what) + ": " +
                       SysErrorMessage(GetLastError()));
  }

  void ReportTornJobFile(uint64_t tailBytes) {
    WriteRecord(TPtkItem::SchedulerRecord(files_.jobPath, "", kPtkError,
                                          "Die Auftragsdatei endet mit einem unvollständigen Eintrag (" +
                                              std::to_string(tailBytes) + " Bytes); er wurde übergangen!"));
  }

  std::vector<TFolderPair> LoadPairs() {
    std::vector<TFolderPair> pairs;
    uint64_t size = 0;
    if (!files_.pairs.Size(size)) return pairs;
    std::vector<uint8_t> record(TFolderPair::kSize);
    files_.pairs.Seek(0);
    for (uint64_t left = size; left >= TFolderPair::kSize; left -= TFolderPair::kSize) {
      if (!files_.pairs.ReadExact(record.data(), record.size())) break;
      pairs.push_back(TFolderPair::Decode(record));
    }
    return pairs;
  }

  // The only pass over the whole job before the loop: the bytes all copies
  // will move.
  int64_t GetCopySize() {
    constexpr size_t kChunkItems = 1024;
    std::vector<uint8_t> chunk(kChunkItems * kItemSize);
    int64_t total = 0;
    files_.job.Seek(0);
    for (int64_t done = 0; done < itemCount_;) {
      const size_t items = static_cast<size_t>(std::min<int64_t>(itemCount_ - done, kChunkItems));
      if (!files_.job.ReadExact(chunk.data(), items * kItemSize)) ThrowJobError("kann nicht gelesen werden");
      for (size_t i = 0; i < items; ++i) {
        const uint8_t* item = chunk.data() + i * kItemSize;
        if (!IsFileStateCode(item[kOffStateCode]) || item[kOffAction] != kActionCopy) continue;
        total += CopySizeOf(item[kOffDirection], Int64At(item + kOffSourceSize), Int64At(item + kOffDestinationSize));
      }
      done += static_cast<int64_t>(items);
    }
    return total;
  }

  // --- Reading and writing ---
  TSyncItem ReadItem(int64_t index) {
    std::array<uint8_t, kItemSize> bytes;
    files_.job.Seek(static_cast<uint64_t>(index - 1) * kItemSize);
    if (!files_.job.ReadExact(bytes.data(), bytes.size())) ThrowJobError("kann nicht gelesen werden");
    return TSyncItem::Decode(bytes);
  }

  // Appends the record; its position for a later rewrite, none without a
  // protocol.
  std::optional<uint64_t> WriteRecord(const TPtkItem& record) {
    if (!files_.protocol) return std::nullopt;
    return files_.protocol->Append(record);
  }

  void RewriteRecord(std::optional<uint64_t> position, const Outcome& outcome) {
    if (files_.protocol && position) files_.protocol->Rewrite(*position, outcome.status, outcome.message);
  }

  static void SetOutcome(TPtkItem& record, Outcome outcome) {
    record.status = outcome.status;
    record.message = std::move(outcome.message);
  }

  void WriteFailure(TPtkItem& record, std::string_view message) {
    SetOutcome(record, {kPtkError, std::string(message)});
    WriteRecord(record);
  }

  // --- Window ---
  void ShowPaths(std::string_view side1, std::string_view side2) {
    ShortenPathLabel(*window_, CopyLabel::tlSrc, side1);
    ShortenPathLabel(*window_, CopyLabel::tlDest, side2);
  }

  void AddBytesDone(int64_t bytes) {
    bytesDone_ += bytes;
    window_->SetBarPosition(CopyBar::pgAll, static_cast<int32_t>(bytesDone_ / overallDivisor_));
  }

  // --- Item loop ---
  void ItemLoop() {
    for (index_ = 1; index_ <= itemCount_; ++index_) {
      TSyncItem item = ReadItem(index_);
      if (AbortRequested()) {
        aborted_ = true;
        return;
      }
      if (IsFolderItem(item) && !EnterFolder(item)) continue;
      if (!HasAction(item.action)) continue;
      HandleItem(std::move(item));
      if (aborted_) return;
    }
  }

  // Makes the folder item's folders the current ones. False when its block
  // was handled as a whole (a pair with an FTP side, or no pair at all).
  bool EnterFolder(const TSyncItem& item) {
    // Set for every folder item, also one without an action: the file items
    // that follow must never be taken for files of an earlier folder.
    SetCurrentFolders(item.source, item.destination);
    const TFolderPair* pair = finder_->Find(item.source, item.destination);
    if (!pair) {
      HandleBlockWithoutPair(item);
      return false;
    }
    if (pair->HasFtpSide()) {
      SyncFtpFolder(item);
      return false;
    }
    return true;
  }

  void SetCurrentFolders(const std::string& side1, const std::string& side2) {
    current1_ = side1;
    current2_ = side2;
    ensured1_ = ensured2_ = false;
  }

  // A folder that no pair of the profile holds: it is not carried out, and
  // the protocol says so when the job wanted anything done there.
  void HandleBlockWithoutPair(const TSyncItem& item) {
    if (HasAction(item.action) || BlockHasAction()) {
      TPtkItem record(item);
      WriteFailure(record, kMsgNoFolderPair);
    }
    SkipFolderContent();
  }

  // Pairs with a side on an FTP server are not carried out by this version:
  // every item of the block that asks for something gets an error record, and
  // its copies count as done for the overall progress.
  void SyncFtpFolder(const TSyncItem& folder) {
    if (HasAction(folder.action)) {
      TPtkItem record(folder);
      WriteFailure(record, kMsgFtpPairsUnsupported);
    }
    while (index_ < itemCount_) {
      TSyncItem next = ReadItem(index_ + 1);
      if (IsFolderItem(next)) break;
      ++index_;
      if (!HasAction(next.action)) continue;
      if (next.action == kActionCopy) AddBytesDone(CopySizeOf(next));
      TPtkItem record(std::move(next));
      WriteFailure(record, kMsgFtpPairsUnsupported);
    }
    window_->ProcessMessages();
  }

  void HandleItem(TSyncItem item) {
    TPtkItem record(std::move(item));
    if (IsFolderItem(record.item)) {
      HandleFolder(record);
    } else if (!IsFileItem(record.item)) {
      WriteFailure(record, kMsgInvalidItem);
    } else if (record.item.action == kActionCopy) {
      CopyItem(record);
    } else if (record.item.action == kActionDelete) {
      DeleteItem(record);
    }
    // Actions 3 and 4 mean nothing for a file.
  }

  // --- File copy ---
  bool EnsureFolder(const std::string& folder, bool& ensured) {
    if (ensured) return true;
    if (folder.empty()) return false;
    ensured = platform::DirectoryExists(folder) || platform::ForceDirectories(folder);
    return ensured;
  }

  // Both full paths of the copied name fit; the side copied from is tested
  // first.
  std::optional<std::string_view> PathLengthFailure(const TSyncItem& item) const {
    const std::string_view sourceTooLong = CopyMessage(kMsgSourcePathTooLong);
    const std::string_view targetTooLong = CopyMessage(kMsgTargetPathTooLong);
    if (item.direction == kJobDirectionSourceToDestination) {
      if (TooLong(current1_ + item.source)) return sourceTooLong;
      if (TooLong(current2_ + item.source)) return targetTooLong;
    } else if (item.direction == kJobDirectionDestinationToSource) {
      if (TooLong(current2_ + item.destination)) return targetTooLong;
      if (TooLong(current1_ + item.destination)) return sourceTooLong;
    }
    return std::nullopt;
  }

  // A side without a name had no file when the list was built. It is looked
  // up under the other side's name, the name a copy would write there: a
  // file that appeared there since must not be overwritten unseen.
  bool FilesUnchanged(const TSyncItem& item) const {
    const std::string& name1 = item.source.empty() ? item.destination : item.source;
    const std::string& name2 = item.destination.empty() ? item.source : item.destination;
    return SideUnchanged(current1_ + name1, item.sourceTime, item.sourceSize,
                         item.stateCode == JobStateCode(kStateOnlyInDestination) && item.source.empty()) &&
           SideUnchanged(current2_ + name2, item.destinationTime, item.destinationSize,
                         item.stateCode == JobStateCode(kStateOnlyInSource) && item.destination.empty());
  }

  void CopyItem(TPtkItem& record) {
    const TSyncItem& item = record.item;
    ShowPaths(current1_, current2_);
    if (!EnsureFolder(current1_, ensured1_) || !EnsureFolder(current2_, ensured2_)) {
      return WriteFailure(record, kMsgFolderNotFound);
    }
    if (std::optional<std::string_view> failure = PathLengthFailure(item)) return WriteFailure(record, *failure);
    if (!FilesUnchanged(item)) return WriteFailure(record, kMsgFilesChanged);

    const bool backwards = item.direction == kJobDirectionDestinationToSource;
    const std::string name = backwards ? item.destination : item.source;
    if (name.empty()) return WriteFailure(record, kMsgInvalidItem);
    const std::optional<platform::FileTime> lastWrite =
        platform::FileTimeFromDos(backwards ? item.destinationTime : item.sourceTime);
    if (!lastWrite) return WriteFailure(record, kMsgInvalidItemTime);

    CopyFileRequest request;
    request.source = (backwards ? current2_ : current1_) + name;
    request.target = (backwards ? current1_ : current2_) + name;
    request.copyRights = settings_.ntfsAccess;
    request.lastWrite = *lastWrite;
    request.size = backwards ? item.destinationSize : item.sourceSize;
    request.securityRename = settings_.securityRename;
    CopyFileResult result = CopyFileWithProgress(request, *window_);

    AddBytesDone(CopySizeOf(item));
    if (result.status == kCopyDone) {
      record.item.source = name;
      record.item.destination = name;
    }
    if (result.aborted || AbortRequested()) {
      aborted_ = true;
      return;
    }
    SetOutcome(record, {static_cast<uint8_t>(result.status), std::move(result.message)});
    WriteRecord(record);
    WriteStamp(*lastWrite, name);
  }

  void WriteStamp(platform::FileTime lastWrite, const std::string& name) {
    if (!files_.oldStamps) return;
    try {
      WriteOldStamp(*files_.oldStamps, current1_, current2_, lastWrite, name);
    } catch (const std::exception& e) {
      // The run goes on without stamps; the end cuts the file back to its
      // whole blocks and merges it with the previous stamps.
      CloseStampStream(files_);
      stampsBroken_ = true;
      WriteRecord(TPtkItem::SchedulerRecord(files_.oldStampPath, "", kPtkError,
                                            std::string(kMsgOldStampsFailed) + e.what()));
    }
  }

  // --- File deletion ---
  Outcome DeleteFileItem(const std::string& path) {
    ShortenPathLabel(*window_, CopyLabel::tlSrc, path);
    window_->ProcessMessages();
    Outcome outcome{kPtkDone, std::string(kMsgFilesDeleted)};
    if (!platform::FileExists(path)) return outcome;
    platform::SetFileAttributes(path, 0);
    try {
      deleter_.Delete(path);
    } catch (const std::exception& e) {
      outcome = {kPtkError, e.what()};
    }
    return outcome;
  }

  void DeleteItem(TPtkItem& record) {
    const TSyncItem& item = record.item;
    // An empty name on a side names the folder, never a file: nothing there.
    auto deleteSide = [this](const std::string& folder, const std::string& name) {
      return name.empty() ? Outcome{kPtkDone, std::string(kMsgFilesDeleted)} : DeleteFileItem(folder + name);
    };
    Outcome outcome;
    if (item.stateCode == JobStateCode(kStateOnlyInDestination)) {
      outcome = deleteSide(current2_, item.destination);
    } else if (item.stateCode == JobStateCode(kStateOnlyInSource)) {
      outcome = deleteSide(current1_, item.source);
    } else {
      Outcome first = deleteSide(current1_, item.source);
      Outcome second = deleteSide(current2_, item.destination);
      outcome = second.status > first.status ? std::move(second) : std::move(first);
    }
    SetOutcome(record, std::move(outcome));
    WriteRecord(record);
  }

  // --- Folders ---
  void HandleFolder(TPtkItem& record) {
    record.item.rowKind = 1;
    ShowPaths(current1_, current2_);
    const uint8_t code = record.item.stateCode;
    if (code == kCodeFolderOnBothSides) {
      SetOutcome(record, {kPtkNothingDone, {}});
      if (record.item.action == kActionDelete) return DeleteFolderOnBothSides(record);
      WriteRecord(record);
      return;
    }
    // The target is the side the folder is missing on; the other side holds it.
    const bool onlyOnSide2 = code == kCodeFolderOnlyInDestination;
    const std::string& target = onlyOnSide2 ? current1_ : current2_;
    const std::string& existing = onlyOnSide2 ? current2_ : current1_;
    if (platform::DirectoryExists(existing) || record.item.action == kActionDelete) {
      return HandleFolderItem(record, target, existing);
    }
    WriteFailure(record, kMsgFolderNotFound);
    SkipFolderContent();
  }

  void HandleFolderItem(TPtkItem& record, const std::string& target, const std::string& existing) {
    switch (record.item.action) {
      case kActionCopy:
      case kActionCreateFolder: {
        const int err = CreateFolderTree(target, existing);
        if (err == 0) {
          SetOutcome(record, {kPtkDone, std::string(kMsgFoldersCreated)});
          WriteRecord(record);
        } else {
          WriteFailure(record, std::string(kMsgFoldersNotCreated) + " " + SysErrorMessage(err));
          SkipFolderContent();
        }
        return;
      }
      case kActionCreateFolderIfCopy: {
        if (!BlockHasCopy()) {
          SetOutcome(record, {kPtkNothingDone, {}});
        } else if (const int err = CreateFolderTree(target, existing); err == 0) {
          SetOutcome(record, {kPtkDone, std::string(CopyMessage(kMsgFolderCreated))});
        } else {
          SetOutcome(record, {kPtkError, std::string(kMsgFoldersNotCreated) + " " + SysErrorMessage(err)});
        }
        WriteRecord(record);
        return;
      }
      case kActionDelete:
        return DeleteFolderTree(record, existing);
      default:
        return;
    }
  }

  // 0 when the folder stands (with its parents); else the system's error.
  int CreateFolderTree(const std::string& target, const std::string& existing) {
    if (target.empty()) return 0;
    if (!platform::ForceDirectories(target)) {
      const int err = GetLastError();
      return err != 0 ? err : EIO;
    }
    if (settings_.ntfsAccess) CopyNTFSRights(existing, target);
    return 0;
  }

  // The folder's own record first (a success until the folder's removal
  // says otherwise), then one record per file of the folder.
  void DeleteFolderTree(TPtkItem& record, const std::string& folder) {
    SetOutcome(record, {kPtkDone, std::string(kMsgFoldersDeleted)});
    const std::optional<uint64_t> position = WriteRecord(record);
    while (std::optional<TSyncItem> next = NextItemOfFolder()) {
      const std::string& name = next->source.empty() ? next->destination : next->source;
      Outcome outcome = name.empty() ? Outcome{kPtkDone, std::string(kMsgFilesDeleted)} : DeleteFileItem(folder + name);
      TPtkItem fileRecord(std::move(*next));
      SetOutcome(fileRecord, std::move(outcome));
      WriteRecord(fileRecord);
    }
    Outcome removed = DeleteFolder(folder);
    if (removed.status != kPtkDone) RewriteRecord(position, removed);
  }

  void DeleteFolderOnBothSides(TPtkItem& record) {
    const std::optional<uint64_t> position = WriteRecord(record);
    const Outcome deleted{kPtkDone, std::string(kMsgFilesDeleted)};
    while (std::optional<TSyncItem> next = NextItemOfFolder()) {
      Outcome side1 = next->source.empty() ? deleted : DeleteFileItem(current1_ + next->source);
      Outcome side2 = next->destination.empty() ? deleted : DeleteFileItem(current2_ + next->destination);
      TPtkItem fileRecord(std::move(*next));
      SetOutcome(fileRecord, Combined(std::move(side1), std::move(side2)));
      WriteRecord(fileRecord);
    }
    RewriteRecord(position, Combined(DeleteFolder(current1_), DeleteFolder(current2_)));
  }

  // The folder must be empty. No current folder is changed for it: the
  // current folder belongs to the whole process.
  Outcome DeleteFolder(const std::string& path) {
    Outcome outcome{kPtkDone, std::string(kMsgFoldersDeleted)};
    platform::SetFileAttributes(path, 0);
    if (platform::DirectoryExists(path) && !platform::RemoveDir(path)) {
      outcome = {kPtkError, std::string(kMsgFoldersNotDeleted) + " " + SysErrorMessage(GetLastError())};
    }
    return outcome;
  }

  // The next item when it still belongs to the current folder (anything up
  // to the next folder item); the index moves onto it.
  std::optional<TSyncItem> NextItemOfFolder() {
    if (index_ >= itemCount_) return std::nullopt;
    TSyncItem next = ReadItem(index_ + 1);
    if (IsFolderItem(next)) return std::nullopt;
    ++index_;
    return next;
  }

  // Whether a file of the current folder is to be copied; the index stays.
  bool BlockHasCopy() { return ScanBlock([](const TSyncItem& i) { return IsFileItem(i) && i.action == kActionCopy; }); }
  bool BlockHasAction() { return ScanBlock([](const TSyncItem& i) { return HasAction(i.action); }); }

  template <typename Pred>
  bool ScanBlock(Pred pred) {
    for (int64_t i = index_ + 1; i <= itemCount_; ++i) {
      const TSyncItem next = ReadItem(i);
      if (IsFolderItem(next)) return false;
      if (pred(next)) return true;
    }
    return false;
  }

  // Passes over the files of a folder that is missing or could not be made:
  // no records, but their copies count as done for the overall progress.
  void SkipFolderContent() {
    const CopyBarState& fileBar = window_->bar(CopyBar::pgFile);
    const int sizeRight = fileBar.left + fileBar.width;
    while (std::optional<TSyncItem> next = NextItemOfFolder()) {
      ShowPaths(current1_ + next->source, current2_ + next->destination);
      window_->SetBarPosition(CopyBar::pgFile, 0);
      if (next->action == kActionCopy && IsFileItem(*next)) {
        const int64_t size = CopySizeOf(*next);
        SetSizeLabel(*window_, CopyLabel::tlFileSize, sizeRight, size);
        AddBytesDone(size);
      }
      window_->ProcessMessages();
    }
  }

  // --- End of the run ---
  void EndOfRun() {
    if (aborted_) window_->ShowAborting();
    window_->StopTimer();
    PauseForTheWindow();
    CloseStampStream(files_);
    (void)files_.job.Close();
    if (!files_.protocol) return;
    CheckDelFolders(*files_.protocol);
    const TPtkTrailer trailer = MakeTrailer();
    if (files_.protocol->RecordCount() == 1 && OnlyRecordReportsNothing()) {
      // Nothing happened that the protocol would tell.
      files_.protocol->CloseAndDelete();
      files_.protocol.reset();
      return;
    }
    const std::string path = CloseWithTrailer(trailer);
    if (!settings_.manual && !settings_.mailAddress.empty()) MailErrorReport(path, settings_.mailAddress);
    WriteLastProcessDate(files_.lastRunFolder, path);
    if (settings_.externalLog.set) WriteExternalLog(path, settings_.externalLog);
  }

  // A single record is dropped with its protocol only when it reports that
  // nothing was carried out; an error or a done action stays on record.
  bool OnlyRecordReportsNothing() {
    const TPtkItem only = files_.protocol->ReadAt(0);
    return only.status == kPtkNothingDone;
  }

  TPtkTrailer MakeTrailer() {
    TPtkTrailer trailer;
    if (window_) {
      trailer.elapsedText = window_->label(CopyLabel::tlTime).text;
      trailer.sizeText = window_->label(CopyLabel::tlFullSize).text;
    }
    trailer.analyseTime = settings_.analyseTime;
    trailer.copyTime = MSecToTimeStr(static_cast<uint32_t>(platform::TickCount64() - startTick_));
    if (!settings_.manual && files_.protocol->HasErrorRecord()) trailer.errorFlag = 1;
    return trailer;
  }

  std::string CloseWithTrailer(const TPtkTrailer& trailer) {
    std::string path = files_.protocol->path();
    files_.protocol->AppendTrailer(trailer);
    files_.protocol->Close();
    files_.protocol.reset();
    return path;
  }

  void PauseForTheWindow() {
    if (!window_->HasView()) return;
    const uint64_t end = platform::TickCount64() + kEndOfRunPauseMs;
    for (uint64_t now = platform::TickCount64(); now < end; now = platform::TickCount64()) {
      platform::MessageLoop::Current().WaitMessage(static_cast<int>(end - now));
      window_->ProcessMessages();
    }
  }

  // The run failed: the protocol tells why and is closed as far as it still
  // can be; whatever fails here gives way to the first failure.
  void RecordFailure(const std::exception_ptr& failure) {
    if (window_) window_->StopTimer();
    if (!files_.protocol) return;
    try {
      std::string why = "unbekannter Fehler";
      try {
        std::rethrow_exception(failure);
      } catch (const std::exception& e) {
        why = e.what();
      } catch (...) {
      }
      files_.protocol->Append(TPtkItem::SchedulerRecord(files_.jobPath, "", kPtkError, std::string(kMsgRunFailed) + why));
      CloseWithTrailer(MakeTrailer());
    } catch (...) {
    }
    if (files_.protocol) {
      try {
        files_.protocol->Close();
      } catch (...) {
      }
      files_.protocol.reset();
    }
  }

  void CleanUp(bool failed) {
    (void)files_.job.Close();
    window_.reset();
    (void)files_.pairs.Close();
    if (!files_.pairCopyPath.empty()) platform::DeleteFile(files_.pairCopyPath);
    CloseStampStream(files_);
    if ((failed || stampsBroken_) && !files_.oldStampPath.empty()) CutStampFileToWholeBlocks(files_.oldStampPath);
    MergeOldStamps(files_, settings_.hidden, settings_.minimized);
    if (!files_.jobPath.empty()) platform::DeleteFile(files_.jobPath);
  }

  CopyJobFiles& files_;
  const CopyJobSettings& settings_;
  TFileDeleter& deleter_;
  std::optional<TtfCopy> window_;
  std::optional<TFolderPairFinder> finder_;
  uint64_t startTick_ = 0;
  int64_t itemCount_ = 0;
  int64_t index_ = 0;
  int64_t bytesToCopy_ = 0;
  int64_t bytesDone_ = 0;
  int64_t overallDivisor_ = 1;
  std::string current1_, current2_;
  bool ensured1_ = false, ensured2_ = false;
  bool aborted_ = false;
  bool stampsBroken_ = false;
};

}  // namespace

void CopyJobFiles::Abandon() noexcept {
  try {
    (void)job.Close();
    (void)pairs.Close();
    if (!pairCopyPath.empty()) platform::DeleteFile(pairCopyPath);
    pairCopyPath.clear();
    if (protocol) {
      protocol->Close();
      protocol.reset();
    }
    MergeOldStamps(*this, true, false);
  } catch (...) {
  }
}

void RunCopyJob(CopyJobFiles& files, const CopyJobSettings& settings, TFileDeleter& deleter) {
  TCopyJob(files, settings, deleter).Run();
}

std::string MSecToTimeStr(uint32_t milliseconds) {
  char text[16];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", milliseconds / 3600000u % 24u, milliseconds / 60000u % 60u,
                milliseconds / 1000u % 60u);
  return text;
}

}  // namespace kv
