#include "copyengine/ftptransfer.h"

#include <cerrno>
#include <optional>
#include <utility>

#include "copyengine/filecopy.h"
#include "copyengine/jobfileactions.h"
#include "platform/errors.h"

namespace kv {
namespace {

constexpr std::string_view kMsgFtpNotDeleted = "Die Datei/en konnte/n nicht gelöscht werden!";
constexpr std::string_view kTextNotOnServer = "Die Datei steht nicht im Verzeichnis des Servers.";

// A step failed: an error of the item, unless the failure was the user's
// cancel, which leaves the item without a record.
FtpOutcome Failed(std::string_view text, const std::string& reason) {
  return {{kPtkError, WithReason(text, reason)}, AbortRequested()};
}

// The file bar counts the item's bytes, as a local copy does.
int64_t ShowFileSize(TJobRun& run, int64_t size) {
  TtfCopy& window = *run.window;
  const CopyBarState& bar = window.bar(CopyBar::pgFile);
  SetSizeLabel(window, CopyLabel::tlFileSize, bar.left + bar.width, size);
  const int64_t divisor = ProgressDivisor(size);
  window.SetBarPosition(CopyBar::pgFile, 0);
  window.SetBarMax(CopyBar::pgFile, static_cast<int32_t>(size / divisor));
  return divisor;
}

// Into the block's server folder and its state records, with a fresh
// listing when asked, and the local folder (never made here: a missing one
// is an error, as the item's folder record would have made it). An outcome
// when the item ends here.
std::optional<FtpOutcome> EnterFolders(TFtpBlock& block, bool listing, const platform::TreeFolder*& local) {
  if (FtpStep step = block.ftp.ChangeFtpFolder(block.ftpFolder); !step) return Failed(kMsgFtpFolderNotFound, step.error);
  if (listing) {
    if (FtpStep step = block.ftp.RefreshListing(); !step) return Failed(kMsgFtpNotCopied, step.error);
  }
  block.ftp.SelectStateFolder();
  local = block.run.current.Open(block.run, block.LocalSide(), false);
  if (local) return std::nullopt;
  const int err = platform::GetLastError();
  return Failed(kMsgFolderNotFound, err == ENOENT ? std::string() : platform::SysErrorMessage(err));
}

std::string LocalPath(const TFtpBlock& block, const std::string& name) {
  return block.run.current.Path(block.LocalSide()) + name;
}

FtpOutcome Copied() { return {{kPtkDone, std::string(CopyMessage(kMsgFileCopied))}, false}; }

// The outcome of an upload that stopped, and what the state record keeps.
FtpOutcome UploadFailed(TFtpBlock& block, const std::string& name, const FtpUpload& upload) {
  switch (upload.failure) {
    case FtpUploadFailure::Aborted:
      return {{}, true};
    case FtpUploadFailure::Transfer:
      return Failed(kMsgFtpNotCopied, upload.error);
    case FtpUploadFailure::Rename:
      if (!block.ftp.Listed(name)) ForgetFtpFile(block, name);
      return Failed(CopyMessage(kMsgSecurityRenameFailed), upload.error);
    case FtpUploadFailure::RenameBack:
    default:
      // The old file stands under the temporary name the message gives.
      ForgetFtpFile(block, name);
      return Failed(CopyMessage(kMsgSecurityRenameRevertFailed), upload.error + " (" + upload.asideName + ")");
  }
}

}  // namespace

std::string WithReason(std::string_view text, const std::string& reason) {
  return reason.empty() ? std::string(text) : std::string(text) + " " + reason;
}

FtpOutcome UploadFile(TFtpBlock& block, const std::string& name, int64_t size) {
  TJobRun& run = block.run;
  const int64_t divisor = ShowFileSize(run, size);
  const platform::TreeFolder* local = nullptr;
  // The upload lists the folder once the file is there; nothing before it
  // depends on a listing.
  if (std::optional<FtpOutcome> stop = EnterFolders(block, false, local)) return *stop;
  platform::FileStatus status;
  if (!local->Status(name, status) || !status.isFile) {
    const int err = status.isFolder ? EISDIR : platform::GetLastError();
    return Failed(kMsgFtpNotCopied, platform::SysErrorMessage(err));
  }
  block.ftp.ShowProgressIn(&*run.window, divisor);
  const FtpUpload upload = block.ftp.UploadReplacing(LocalPath(block, name), name, status.size);
  block.ftp.ShowProgressIn(nullptr, 1);
  if (upload.failure != FtpUploadFailure::None) return UploadFailed(block, name, upload);
  RememberFtpFile(block, *local, name, upload.entry);
  return Copied();
}

FtpOutcome DownloadFile(TFtpBlock& block, const std::string& name, int64_t size) {
  TJobRun& run = block.run;
  const int64_t divisor = ShowFileSize(run, size);
  const platform::TreeFolder* local = nullptr;
  if (std::optional<FtpOutcome> stop = EnterFolders(block, true, local)) return *stop;
  const std::optional<MFtpFileInfo> entry = block.ftp.Listed(name);
  if (!entry) return Failed(kMsgFtpNotCopied, std::string(kTextNotOnServer));
  block.ftp.ShowProgressIn(&*run.window, divisor);
  // Only a transfer without any error counts: a broken one keeps the old file.
  const FtpStep step = block.ftp.GetFile(name, LocalPath(block, name), FtpListedSize(*entry));
  block.ftp.ShowProgressIn(nullptr, 1);
  if (!step) return Failed(kMsgFtpNotCopied, step.error);
  RememberFtpFile(block, *local, name, *entry);
  return Copied();
}

Outcome DeleteFtpFile(TFtpBlock& block, const std::string& name) {
  TtfCopy& window = *block.run.window;
  window.SetBarMax(CopyBar::pgFile, 100);
  window.SetBarPosition(CopyBar::pgFile, 0);
  TCopyFtp& ftp = block.ftp;
  if (FtpStep step = ftp.ChangeFtpFolder(block.ftpFolder); !step) {
    return {kPtkError, WithReason(kMsgFtpFolderNotFound, step.error)};
  }
  // Only a name the server's listing shows is known to be gone.
  FtpStep step = ftp.RefreshListing();
  if (!step) return {kPtkError, WithReason(kMsgFtpNotDeleted, step.error)};
  ftp.SelectStateFolder();
  if (ftp.Listed(name)) {
    step = ftp.DeleteFile(name);
    if (step) step = ftp.RefreshListing();
    if (step && ftp.Listed(name)) step = {false, {}};
    if (!step) return {kPtkError, WithReason(kMsgFtpNotDeleted, step.error)};
    ForgetFtpFile(block, name);
  }
  window.SetBarPosition(CopyBar::pgFile, 100);
  return {kPtkDone, std::string(kMsgFilesDeleted)};
}

void RememberFtpFile(TFtpBlock& block, const platform::TreeFolder& local, const std::string& name,
                     const MFtpFileInfo& entry) {
  TFTPFileRecord record;
  record.name = name;
  record.remoteSize = RemoteSizeField(std::max<int64_t>(FtpListedSize(entry), 0));
  record.remoteTime = block.ftp.GetFtpFileTime(name, entry.date);
  platform::FileStatus status;
  if (local.Status(name, status)) record.localDate = platform::DosFromFileTime(status.lastWrite);
  block.ftp.States().Files().Remember(record);
}

void ForgetFtpFile(TFtpBlock& block, const std::string& name) { block.ftp.States().Files().Forget(name); }

}  // namespace kv
