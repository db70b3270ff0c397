#include "copyengine/ftpfolderpair.h"

#include <optional>
#include <utility>

#include "copyengine/filecopy.h"
#include "copyengine/jobfileactions.h"
#include "copyengine/jobfolderactions.h"
#include "platform/beep.h"
#include "platform/errors.h"
#include "platform/ui/question.h"
#include "shared/synccodes.h"

namespace kv {
namespace {

// A problem with "kvftp.log" or its mirror goes on record: the file is the
// history later runs compare with.
void RecordStateProblem(TJobRun& run, TCopyFtp& ftp, const std::string& problem) {
  if (problem.empty()) return;
  run.WriteRecord(TPtkItem::SchedulerRecord(ftp.States().CacheFile(), "", kPtkError, problem));
}

// The window shows the server the block is connecting to.
void ShowSite(TJobRun& run, const TFtpSite& site) {
  TtfCopy& window = *run.window;
  for (CopyLabel label : {CopyLabel::tlSrc, CopyLabel::tlDest, CopyLabel::tlFileSize}) window.SetLabelText(label, "");
  window.SetLabelText(CopyLabel::tlSrc, site.host);
  window.ProcessMessages();
}

class TFtpBlockRun {
 public:
  TFtpBlockRun(TJobRun& run, TCopyFtp& ftp, const TSyncItem& folder, const TFolderPair& pair)
      : block_{run, ftp, pair.pairKind == kPairKindFtpSource ? TSide::k1 : TSide::k2,
               pair.pairKind == kPairKindFtpSource ? folder.source : folder.destination},
        run_(run) {}

  void Run(TPtkItem folderRecord) {
    HandleFolder(folderRecord);
    while (std::optional<TSyncItem> next = run_.items.NextItemOfFolder()) {
      if (HasAction(next->action)) HandleFile(TPtkItem(std::move(*next)));
      run_.window->ProcessMessages();
      if (run_.aborted || AbortRequested()) {
        run_.aborted = true;
        break;
      }
    }
    End();
  }

 private:
  void HandleFolder(TPtkItem& record) {
    const uint8_t action = record.item.action;
    const bool oneSided = record.item.stateCode != kCodeFolderOnBothSides;
    if (action == kActionDelete) {
      // The folder itself is left to the check after the run.
      run_.WriteFailure(record, kMsgFoldersNotDeleted);
    } else if (oneSided && (action != kActionCreateFolderIfCopy || run_.items.HasFolderContent())) {
      CreatePairFolder(block_, record);
    } else {
      SetOutcome(record, {kPtkNothingDone, {}});
      pending_ = std::move(record);  // written before the folder's first file record
    }
    (void)block_.ftp.ChangeFtpFolder(block_.ftpFolder);
  }

  void WritePending() {
    if (pending_) run_.WriteRecord(*pending_);
    pending_.reset();
  }

  void HandleFile(TPtkItem record) {
    if (!IsFileItem(record.item)) {
      WritePending();
      return run_.WriteFailure(record, kMsgInvalidItem);
    }
    if (record.item.action == kActionCopy) return Copy(record);
    if (record.item.action == kActionDelete) return Delete(record);
  }

  void Copy(TPtkItem& record) {
    const TSyncItem& item = record.item;
    const TSide from = item.direction == kJobDirectionDestinationToSource ? TSide::k2 : TSide::k1;
    const std::string name = from == TSide::k1 ? item.source : item.destination;
    const int64_t size = CopySizeOf(item);
    run_.ShowPaths(run_.current.Path(TSide::k1) + name, run_.current.Path(TSide::k2) + name);
    run_.window->SetBarPosition(CopyBar::pgFile, 0);
    WritePending();
    FtpOutcome result{{kPtkError, std::string(kMsgFtpNameRefused)}, false};
    if (IsFtpFileName(name)) result = from == block_.ftpSide ? DownloadFile(block_, name, size) : UploadFile(block_, name, size);
    run_.AddBytesDone(size);
    if (result.cancelled) {
      run_.aborted = true;
      return;
    }
    if (result.outcome.status == kPtkDone) record.item.source = record.item.destination = name;
    run_.WriteOutcome(record, std::move(result.outcome));
  }

  Outcome DeleteOn(TSide side, const std::string& name) {
    if (side != block_.ftpSide) return DeleteNamedFile(run_, side, name);
    if (name.empty()) return {kPtkDone, std::string(kMsgFilesDeleted)};
    if (!IsFtpFileName(name)) return {kPtkError, std::string(kMsgFtpNameRefused)};
    return DeleteFtpFile(block_, name);
  }

  // State code 1 deletes on side 2, 2 on side 1, any other on both sides,
  // the server's first; the record takes the worse outcome.
  void Delete(TPtkItem& record) {
    const TSyncItem& item = record.item;
    WritePending();
    Outcome outcome;
    if (item.stateCode == JobStateCode(kStateOnlyInDestination)) {
      outcome = DeleteOn(TSide::k2, item.destination);
    } else if (item.stateCode == JobStateCode(kStateOnlyInSource)) {
      outcome = DeleteOn(TSide::k1, item.source);
    } else {
      const TSide ftpSide = block_.ftpSide;
      Outcome first = DeleteOn(ftpSide, ftpSide == TSide::k1 ? item.source : item.destination);
      Outcome second = DeleteOn(OtherSide(ftpSide), ftpSide == TSide::k1 ? item.destination : item.source);
      outcome = second.status > first.status ? std::move(second) : std::move(first);
    }
    run_.WriteOutcome(record, std::move(outcome));
  }

  // The folder's state records into the mirror, and the mirror back to the
  // server (not after a cancel: every wait would end at once).
  void End() {
    TCopyFtp& ftp = block_.ftp;
    RecordStateProblem(run_, ftp, ftp.SaveStateFolder().message);
    if (run_.aborted || !ftp.LoggedIn()) return;
    if (ftp.SaveFtpLog() != FtpLogUpload::NotArrived) return;
    RecordStateProblem(run_, ftp, std::string(kFtpLogNotUploadedText));
    platform::MessageBeep();
    platform::ui::Ask(platform::ui::Question(std::string(kFtpLogNotUploadedText), platform::ui::QuestionKind::Warning,
                                             platform::ui::QuestionButtons::Ok),
                      run_.settings.hidden);
  }

  TFtpBlock block_;
  TJobRun& run_;
  std::optional<TPtkItem> pending_;
};

}  // namespace

void SyncFtpFolder(TJobRun& run, const TSyncItem& folder, const TFolderPair& pair) {
  TCopyFtp& ftp = run.Ftp();
  run.window->MFtpMessenger1.SetClient(&ftp.Client());
  run.current.Enter(folder.source, folder.destination, pair.sourceRoot, pair.destinationRoot);
  if (!HasAction(folder.action)) return SkipFolderContent(run);
  const TFtpSite& site = *pair.FtpSite();
  ShowSite(run, site);
  TPtkItem record(folder);
  if (!ftp.ConnectFtp(site, true)) {
    if (AbortRequested()) {
      run.aborted = true;
      return;
    }
    run.WriteFailure(record, WithReason(kMsgNoFtpConnection, ftp.lastError()));
    return SkipFolderContent(run);
  }
  RecordStateProblem(run, ftp, ftp.logProblem());
  TFtpBlockRun(run, ftp, folder, pair).Run(std::move(record));
}

void CreatePairFolder(TFtpBlock& block, TPtkItem& record) {
  TJobRun& run = block.run;
  const TSide side = record.item.stateCode == kCodeFolderOnlyInDestination ? TSide::k1 : TSide::k2;
  Outcome outcome{kPtkDone, std::string(CopyMessage(kMsgFolderCreated))};
  if (side == block.ftpSide) {
    outcome = CreateFtpFolder(block.ftp, block.ftpFolder);
  } else if (!run.current.Open(run, side, true)) {
    outcome = {kPtkError, WithReason(kMsgFoldersNotCreated, platform::SysErrorMessage(platform::GetLastError()))};
  }
  run.WriteOutcome(record, std::move(outcome));
}

Outcome CreateFtpFolder(TCopyFtp& ftp, const std::string& ftpPath) {
  // A folder that is there already refuses MKD and is entered all the same.
  const FtpStep made = ftp.CreateDirectory(FtpServerPath(ftpPath));
  const FtpStep entered = ftp.ChangeFtpFolder(ftpPath);
  if (!entered) return {kPtkError, WithReason(kMsgFoldersNotCreated, made ? entered.error : made.error)};
  return {kPtkDone, std::string(CopyMessage(kMsgFolderCreated))};
}

}  // namespace kv
