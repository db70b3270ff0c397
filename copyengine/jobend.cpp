#include "copyengine/jobend.h"

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "copyengine/endofrun.h"
#include "copyengine/oldstamp.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/msgloop.h"
#include "platform/text.h"
#include "platform/time.h"
#include "shared/oldstamp.h"

namespace kv {
namespace {

// --- Old timestamps -------------------------------------------------------------------

constexpr std::string_view kMsgStampMergeFailed =
    "Die bisherigen Zeitstempel bleiben in dieser Datei, sie konnten nicht zusammengeführt werden: ";
constexpr std::string_view kMsgProtocolNotDeleted = "Das leere Protokoll konnte nicht gelöscht werden: ";

// The previous stamps merged into this run's, or back in place when this run
// stamped nothing. A merge that fails keeps the previous stamps beside this
// run's (the list builder reads both, the next run merges them again); the
// text says so, none when all went well.
std::optional<std::string> MergeOldStamps(CopyJobFiles& files, bool hidden, bool minimized) {
  files.CloseOldStamps();
  if (!files.oldStampsMoved) return std::nullopt;
  files.oldStampsMoved = false;
  std::string error;
  try {
    const std::unique_ptr<IOldStampMergeView> view = CreateOldStampMergeView(hidden);
    const OldStampMergeResult result = UpdateOldStamps(files.oldStampPath, hidden, minimized, view.get());
    if (result.outcome != OldStampMergeOutcome::Failed) return std::nullopt;
    error = result.error;
  } catch (const std::exception& e) {
    error = e.what();
  }
  return std::string(kMsgStampMergeFailed) + error;
}

// The merge comes before the protocol is closed, so that its failure is on
// record.
void MergeOldStampsOnRecord(TJobRun& run) {
  const std::optional<std::string> failure = MergeOldStamps(run.files, run.settings.hidden, run.settings.minimized);
  if (!failure || !run.files.protocol) return;
  run.files.protocol->Append(
      TPtkItem::SchedulerRecord(PreviousOldStampFileName(run.files.oldStampPath), "", kPtkError, *failure));
}

// --- Protocol ---------------------------------------------------------------------------

// A single record is dropped with its protocol only when it reports that
// nothing was carried out; an error or a done action stays on record.
bool OnlyRecordReportsNothing(ProtocolStream& protocol) {
  return protocol.RecordCount() == 1 && protocol.ReadAt(0).status == kPtkNothingDone;
}

TPtkTrailer MakeTrailer(const TJobRun& run) {
  TPtkTrailer trailer;
  if (run.window) {
    trailer.elapsedText = run.window->label(CopyLabel::tlTime).text;
    trailer.sizeText = run.window->label(CopyLabel::tlFullSize).text;
  }
  trailer.analyseTime = run.settings.analyseTime;
  trailer.copyTime = MSecToTimeStr(static_cast<uint32_t>(platform::TickCount64() - run.startTick));
  if (!run.settings.manual && run.files.protocol->HasErrorRecord()) trailer.errorFlag = 1;
  return trailer;
}

// Returns the protocol's path.
std::string CloseWithTrailer(CopyJobFiles& files, const TPtkTrailer& trailer) {
  std::string path = files.protocol->path();
  files.protocol->AppendTrailer(trailer);
  files.protocol->Close();
  files.protocol.reset();
  return path;
}

void ReportRun(const TJobRun& run, const std::string& protocolPath) {
  const CopyJobSettings& settings = run.settings;
  if (!settings.manual && !settings.mailAddress.empty()) {
    MailErrorReport(protocolPath, settings.mailAddress, settings.profileName);
  }
  WriteLastProcessDate(run.files.lastRunFolder, protocolPath);
  if (settings.externalLog.set) WriteExternalLog(protocolPath, settings.externalLog);
}

void DropProtocol(TJobRun& run, const TPtkTrailer& trailer) {
  CopyJobFiles& files = run.files;
  // Deleted while still open: when it cannot go, it is kept, whole and with
  // the reason, instead of failing the run.
  if (platform::DeleteFile(files.protocol->path())) {
    files.protocol->Close();
    files.protocol.reset();
    return;
  }
  const std::string why = platform::SysErrorMessage(platform::GetLastError());
  files.protocol->Append(
      TPtkItem::SchedulerRecord(files.protocol->path(), "", kPtkError, std::string(kMsgProtocolNotDeleted) + why));
  TPtkTrailer flagged = trailer;
  if (!run.settings.manual) flagged.errorFlag = 1;
  ReportRun(run, CloseWithTrailer(files, flagged));
}

void CloseProtocol(TJobRun& run) {
  CheckDelFolders(run);
  const TPtkTrailer trailer = MakeTrailer(run);
  // Nothing happened that the protocol would tell.
  if (OnlyRecordReportsNothing(*run.files.protocol)) return DropProtocol(run, trailer);
  ReportRun(run, CloseWithTrailer(run.files, trailer));
}

// --- Window ------------------------------------------------------------------------------

// The window stays a moment, so that its last state can be read.
void PauseForTheWindow(TtfCopy& window) {
  if (!window.HasView()) return;
  const uint64_t end = platform::TickCount64() + kEndOfRunPauseMs;
  for (uint64_t now = platform::TickCount64(); now < end; now = platform::TickCount64()) {
    platform::MessageLoop::Current().WaitMessage(static_cast<int>(end - now));
    window.ProcessMessages();
  }
}

std::string WhatFailed(const std::exception_ptr& failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
  }
  return "unbekannter Fehler";
}

void CloseQuietly(CopyJobFiles& files) {
  try {
    files.protocol->Close();
  } catch (...) {
  }
  files.protocol.reset();
}

}  // namespace

void EndOfRun(TJobRun& run) {
  if (run.aborted) run.window->ShowAborting();
  run.window->StopTimer();
  PauseForTheWindow(*run.window);
  run.files.CloseOldStamps();
  (void)run.files.job.Close();
  MergeOldStampsOnRecord(run);
  if (run.files.protocol) CloseProtocol(run);
}

void RecordFailure(TJobRun& run, const std::exception_ptr& failure) {
  if (run.window) run.window->StopTimer();
  CopyJobFiles& files = run.files;
  if (!files.protocol) return;
  try {
    files.protocol->Append(
        TPtkItem::SchedulerRecord(files.jobPath, "", kPtkError, std::string(kPtkMsgRunFailed) + WhatFailed(failure)));
    MergeOldStampsOnRecord(run);
    CloseWithTrailer(files, MakeTrailer(run));
  } catch (...) {
  }
  if (files.protocol) CloseQuietly(files);
}

void CleanUp(TJobRun& run) {
  CopyJobFiles& files = run.files;
  (void)files.job.Close();
  run.ftp.reset();  // logs out, not waiting for the server
  run.window.reset();
  (void)files.pairs.Close();
  if (!files.pairCopyPath.empty()) platform::DeleteFile(files.pairCopyPath);
  MergeOldStamps(files, run.settings.hidden, run.settings.minimized);
  if (!files.jobPath.empty()) platform::DeleteFile(files.jobPath);
}

// --- CopyJobFiles --------------------------------------------------------------------------

void CopyJobFiles::CloseOldStamps() {
  if (!oldStamps) return;
  oldStamps->close();
  oldStamps.reset();
}

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

}  // namespace kv
