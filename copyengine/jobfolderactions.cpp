#include "copyengine/jobfolderactions.h"

#include <cerrno>
#include <utility>

#include "copyengine/filecopy.h"
#include "copyengine/jobfileactions.h"
#include "copyengine/ntfsrights.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "shared/synccodes.h"

namespace kv {
namespace {

using platform::GetLastError;
using platform::SysErrorMessage;

constexpr std::string_view kMsgFoldersCreated = "Der / die Ordner wurden erstellt.";
constexpr std::string_view kMsgFoldersNotCreated = "Der / die Ordner konnten nicht erstellt werden!";
constexpr std::string_view kMsgFoldersDeleted = "Der / die Ordner wurden gelöscht.";
constexpr std::string_view kMsgFoldersNotDeleted = "Der / die Ordner konnten nicht gelöscht werden!";

Outcome NotCreated(int err) { return {kPtkError, std::string(kMsgFoldersNotCreated) + " " + SysErrorMessage(err)}; }

// 0 when the folder stands (with its parents); else the system's error. A
// new folder takes the rights of the folder it mirrors when asked.
int CreateFolderTree(const TJobRun& run, const std::string& target, const std::string& existing) {
  if (target.empty()) return 0;
  if (!platform::ForceDirectories(target)) {
    const int err = GetLastError();
    return err != 0 ? err : EIO;
  }
  if (run.settings.ntfsAccess) CopyNTFSRights(existing, target);
  return 0;
}

// Actions 1 and 3. A folder that cannot be made takes its files with it.
void CreateFolderOfItem(TJobRun& run, TPtkItem& record, const std::string& target, const std::string& existing) {
  if (const int err = CreateFolderTree(run, target, existing); err != 0) {
    run.WriteOutcome(record, NotCreated(err));
    return SkipFolderContent(run);
  }
  run.WriteOutcome(record, {kPtkDone, std::string(kMsgFoldersCreated)});
}

// Action 4: the folder is made only for a copy into it.
void CreateFolderIfCopyFollows(TJobRun& run, TPtkItem& record, const std::string& target,
                               const std::string& existing) {
  if (!run.items.HasFolderContent()) return run.WriteOutcome(record, {kPtkNothingDone, {}});
  if (const int err = CreateFolderTree(run, target, existing); err != 0) {
    return run.WriteOutcome(record, NotCreated(err));
  }
  run.WriteOutcome(record, {kPtkDone, std::string(CopyMessage(kMsgFolderCreated))});
}

Outcome NotDeleted(int err) { return {kPtkError, std::string(kMsgFoldersNotDeleted) + " " + SysErrorMessage(err)}; }

// No folder there (nothing, or something else): nothing to remove. A folder
// that cannot even be looked at (a drive that is not mounted) is not removed.
bool NothingToRemove(const std::string& path, int err) {
  return err == ENOENT || err == ENOTDIR || platform::GetFileAttributes(path) != platform::kInvalidAttributes;
}

// The folder must be empty. No current folder is changed for it: the
// current folder belongs to the whole process.
Outcome DeleteFolder(const std::string& path) {
  platform::SetFileAttributes(path, 0);
  if (platform::DirectoryExists(path)) {
    if (!platform::RemoveDir(path)) return NotDeleted(GetLastError());
  } else if (const int err = GetLastError(); !NothingToRemove(path, err)) {
    return NotDeleted(err);
  }
  return {kPtkDone, std::string(kMsgFoldersDeleted)};
}

void WriteFileOutcome(TJobRun& run, TSyncItem&& item, Outcome outcome) {
  TPtkItem fileRecord(std::move(item));
  run.WriteOutcome(fileRecord, std::move(outcome));
}

// Action 2 on a folder that only one side holds. The folder's own record
// comes first (a success until the folder's removal says otherwise), then
// one record per file of the folder.
void DeleteFolderTree(TJobRun& run, TPtkItem& record, const std::string& folder) {
  SetOutcome(record, {kPtkDone, std::string(kMsgFoldersDeleted)});
  const std::optional<uint64_t> position = run.WriteRecord(record);
  while (std::optional<TSyncItem> next = run.items.NextItemOfFolder()) {
    const std::string& name = next->source.empty() ? next->destination : next->source;
    Outcome outcome = DeleteNamedFile(run, folder, name);
    WriteFileOutcome(run, std::move(*next), std::move(outcome));
  }
  Outcome removed = DeleteFolder(folder);
  if (removed.status != kPtkDone) run.RewriteRecord(position, removed);
}

// Action 2 on a folder of both sides: each file on both sides, then both
// folders; the folder's record is rewritten with how that went.
void DeleteFolderOnBothSides(TJobRun& run, TPtkItem& record) {
  const std::optional<uint64_t> position = run.WriteRecord(record);
  while (std::optional<TSyncItem> next = run.items.NextItemOfFolder()) {
    Outcome side1 = DeleteNamedFile(run, run.current.side1, next->source);
    Outcome side2 = DeleteNamedFile(run, run.current.side2, next->destination);
    WriteFileOutcome(run, std::move(*next), Combined(std::move(side1), std::move(side2)));
  }
  run.RewriteRecord(position, Combined(DeleteFolder(run.current.side1), DeleteFolder(run.current.side2)));
}

// target: the side the folder is missing on; existing: the side that holds it.
void HandleFolderItem(TJobRun& run, TPtkItem& record, const std::string& target, const std::string& existing) {
  switch (record.item.action) {
    case kActionCopy:
    case kActionCreateFolder:
      return CreateFolderOfItem(run, record, target, existing);
    case kActionCreateFolderIfCopy:
      return CreateFolderIfCopyFollows(run, record, target, existing);
    case kActionDelete:
      return DeleteFolderTree(run, record, existing);
    default:
      return;
  }
}

void HandleFolderOnBothSides(TJobRun& run, TPtkItem& record) {
  SetOutcome(record, {kPtkNothingDone, {}});
  if (record.item.action == kActionDelete) return DeleteFolderOnBothSides(run, record);
  run.WriteRecord(record);
}

}  // namespace

void HandleFolder(TJobRun& run, TPtkItem& record) {
  record.item.rowKind = 1;
  run.ShowPaths(run.current.side1, run.current.side2);
  const uint8_t code = record.item.stateCode;
  if (code == kCodeFolderOnBothSides) return HandleFolderOnBothSides(run, record);
  const bool onlyOnSide2 = code == kCodeFolderOnlyInDestination;
  const std::string& target = onlyOnSide2 ? run.current.side1 : run.current.side2;
  const std::string& existing = onlyOnSide2 ? run.current.side2 : run.current.side1;
  if (platform::DirectoryExists(existing) || record.item.action == kActionDelete) {
    return HandleFolderItem(run, record, target, existing);
  }
  run.WriteFailure(record, kMsgFolderNotFound);
  SkipFolderContent(run);
}

void SkipFolderContent(TJobRun& run) {
  TtfCopy& window = *run.window;
  const CopyBarState& fileBar = window.bar(CopyBar::pgFile);
  const int sizeRight = fileBar.left + fileBar.width;
  while (std::optional<TSyncItem> next = run.items.NextItemOfFolder()) {
    run.ShowPaths(run.current.side1 + next->source, run.current.side2 + next->destination);
    window.SetBarPosition(CopyBar::pgFile, 0);
    if (next->action == kActionCopy && IsFileItem(*next)) {
      const int64_t size = CopySizeOf(*next);
      SetSizeLabel(window, CopyLabel::tlFileSize, sizeRight, size);
      run.AddBytesDone(size);
    }
    window.ProcessMessages();
  }
}

}  // namespace kv
