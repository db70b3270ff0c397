#include "copyengine/jobend.h"

#include <memory>
#include <utility>
#include <vector>

#include "copyengine/endofrun.h"
#include "copyengine/oldstamp.h"
#include "platform/files.h"
#include "platform/msgloop.h"
#include "platform/time.h"
#include "shared/oldstamp.h"

namespace kv {
namespace {

// --- Old timestamps -------------------------------------------------------------------

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

// The previous stamps merged into this run's, or back in place when this run
// stamped nothing. Failures are swallowed: the stamps only sharpen the next
// comparison.
void MergeOldStamps(CopyJobFiles& files, bool hidden, bool minimized) {
  files.CloseOldStamps();
  if (!files.oldStampsMoved) return;
  files.oldStampsMoved = false;
  try {
    const std::unique_ptr<IOldStampMergeView> view = CreateOldStampMergeView(hidden);
    UpdateOldStamps(files.oldStampPath, hidden, minimized, view.get());
  } catch (const std::exception&) {
  }
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

void DropProtocol(CopyJobFiles& files) {
  files.protocol->CloseAndDelete();
  files.protocol.reset();
}

void ReportRun(const TJobRun& run, const std::string& protocolPath) {
  const CopyJobSettings& settings = run.settings;
  if (!settings.manual && !settings.mailAddress.empty()) {
    MailErrorReport(protocolPath, settings.mailAddress, settings.profileName);
  }
  WriteLastProcessDate(run.files.lastRunFolder, protocolPath);
  if (settings.externalLog.set) WriteExternalLog(protocolPath, settings.externalLog);
}

void CloseProtocol(TJobRun& run) {
  CheckDelFolders(*run.files.protocol);
  const TPtkTrailer trailer = MakeTrailer(run);
  // Nothing happened that the protocol would tell.
  if (OnlyRecordReportsNothing(*run.files.protocol)) return DropProtocol(run.files);
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
  if (run.files.protocol) CloseProtocol(run);
}

void RecordFailure(TJobRun& run, const std::exception_ptr& failure) {
  if (run.window) run.window->StopTimer();
  CopyJobFiles& files = run.files;
  if (!files.protocol) return;
  try {
    files.protocol->Append(
        TPtkItem::SchedulerRecord(files.jobPath, "", kPtkError, std::string(kPtkMsgRunFailed) + WhatFailed(failure)));
    CloseWithTrailer(files, MakeTrailer(run));
  } catch (...) {
  }
  if (files.protocol) CloseQuietly(files);
}

void CleanUp(TJobRun& run, bool failed) {
  CopyJobFiles& files = run.files;
  (void)files.job.Close();
  run.window.reset();
  (void)files.pairs.Close();
  if (!files.pairCopyPath.empty()) platform::DeleteFile(files.pairCopyPath);
  files.CloseOldStamps();
  if ((failed || run.stampsBroken) && !files.oldStampPath.empty()) CutStampFileToWholeBlocks(files.oldStampPath);
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
