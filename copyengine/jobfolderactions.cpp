#include "copyengine/jobfolderactions.h"

#include <cerrno>
#include <utility>

#include "copyengine/filecopy.h"
#include "copyengine/jobfileactions.h"
#include "copyengine/ntfsrights.h"
#include "platform/errors.h"
#include "shared/synccodes.h"

namespace kv {
namespace {

using platform::GetLastError;
using platform::SysErrorMessage;

constexpr std::string_view kMsgFoldersCreated = "Der / die Ordner wurden erstellt.";

Outcome NotCreated(int err) { return {kPtkError, std::string(kMsgFoldersNotCreated) + " " + SysErrorMessage(err)}; }

TSide Other(TSide side) { return side == TSide::k1 ? TSide::k2 : TSide::k1; }

// 0 when the folder stands (with its parents); else the system's error. A
// new folder takes the rights of the folder it mirrors when asked.
int CreateFolderTree(TJobRun& run, TSide target) {
  if (run.current.Path(target).empty()) return 0;
  const platform::TreeFolder* made = run.current.Open(run, target, true);
  if (!made) {
    const int err = GetLastError();
    return err != 0 ? err : EIO;
  }
  if (run.settings.ntfsAccess) {
    if (const platform::TreeFolder* existing = run.current.Open(run, Other(target), false)) {
      CopyNTFSRights(*existing, *made);
    }
  }
  return 0;
}

// Actions 1 and 3. A folder that cannot be made takes its files with it.
void CreateFolderOfItem(TJobRun& run, TPtkItem& record, TSide target) {
  if (const int err = CreateFolderTree(run, target); err != 0) {
    run.WriteOutcome(record, NotCreated(err));
    return SkipFolderContent(run);
  }
  run.WriteOutcome(record, {kPtkDone, std::string(kMsgFoldersCreated)});
}

// Action 4: the folder is made only for a copy into it.
void CreateFolderIfCopyFollows(TJobRun& run, TPtkItem& record, TSide target) {
  if (!run.items.HasFolderContent()) return run.WriteOutcome(record, {kPtkNothingDone, {}});
  if (const int err = CreateFolderTree(run, target); err != 0) return run.WriteOutcome(record, NotCreated(err));
  run.WriteOutcome(record, {kPtkDone, std::string(CopyMessage(kMsgFolderCreated))});
}

void WriteFileOutcome(TJobRun& run, TSyncItem&& item, Outcome outcome) {
  TPtkItem fileRecord(std::move(item));
  run.WriteOutcome(fileRecord, std::move(outcome));
}

// Action 2 on a folder that only one side holds. The folder's own record
// comes first (a success until the folder's removal says otherwise), then
// one record per file of the folder.
void DeleteFolderTree(TJobRun& run, TPtkItem& record, TSide existing) {
  SetOutcome(record, {kPtkDone, std::string(kMsgFoldersDeleted)});
  const std::optional<uint64_t> position = run.WriteRecord(record);
  while (std::optional<TSyncItem> next = run.items.NextItemOfFolder()) {
    const std::string& name = next->source.empty() ? next->destination : next->source;
    Outcome outcome = DeleteNamedFile(run, existing, name);
    WriteFileOutcome(run, std::move(*next), std::move(outcome));
  }
  Outcome removed = run.current.RemoveFolder(run, existing);
  if (removed.status != kPtkDone) run.RewriteRecord(position, removed);
}

// Action 2 on a folder of both sides: each file on both sides, then both
// folders; the folder's record is rewritten with how that went.
void DeleteFolderOnBothSides(TJobRun& run, TPtkItem& record) {
  const std::optional<uint64_t> position = run.WriteRecord(record);
  while (std::optional<TSyncItem> next = run.items.NextItemOfFolder()) {
    Outcome side1 = DeleteNamedFile(run, TSide::k1, next->source);
    Outcome side2 = DeleteNamedFile(run, TSide::k2, next->destination);
    WriteFileOutcome(run, std::move(*next), Combined(std::move(side1), std::move(side2)));
  }
  Outcome first = run.current.RemoveFolder(run, TSide::k1);
  run.RewriteRecord(position, Combined(std::move(first), run.current.RemoveFolder(run, TSide::k2)));
}

// target: the side the folder is missing on; the other side holds it.
void HandleFolderItem(TJobRun& run, TPtkItem& record, TSide target) {
  switch (record.item.action) {
    case kActionCopy:
    case kActionCreateFolder:
      return CreateFolderOfItem(run, record, target);
    case kActionCreateFolderIfCopy:
      return CreateFolderIfCopyFollows(run, record, target);
    case kActionDelete:
      return DeleteFolderTree(run, record, Other(target));
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
  const TSide target = code == kCodeFolderOnlyInDestination ? TSide::k1 : TSide::k2;
  if (record.item.action == kActionDelete || run.current.Open(run, Other(target), false)) {
    return HandleFolderItem(run, record, target);
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
