#include "scheduler/runsync.h"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

#include "platform/beep.h"
#include "platform/errors.h"
#include "platform/filelock.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "platform/time.h"
#include "platform/ui/jobstop.h"
#include "synclist/abort.h"
#include "synclist/buildsynclist.h"

namespace kv {
namespace {

std::mutex g_hookMutex;
TRunHook g_hook;

void Notify(TRunEvent event, const TProfItem& profile) {
  TRunHook hook;
  {
    std::lock_guard lock(g_hookMutex);
    hook = g_hook;
  }
  if (hook) hook(event, profile);
}

// One lock per profile folder, however its name is spelt in case: two runs
// of one profile would take the same protocol name and each see the other's
// half-done copies.
std::string ProfileLockName(const std::string& profilePath) {
  const uint64_t hash = platform::TextHash(platform::IncludeTrailingBackslash(profilePath));
  char name[40];
  std::snprintf(name, sizeof name, "run-%016llx.lock", static_cast<unsigned long long>(hash));
  return name;
}

}  // namespace

std::mutex& ListLock() {
  static std::mutex lock;
  return lock;
}

std::mutex& CopyLock() {
  static std::mutex lock;
  return lock;
}

void SetRunHook(TRunHook hook) {
  std::lock_guard lock(g_hookMutex);
  g_hook = std::move(hook);
}

// --- TRunHandle ---------------------------------------------------------------------------

TRunHandle::TRunHandle() : state_(std::make_shared<State>()) {}

bool TRunHandle::WaitFor(std::chrono::milliseconds limit) const {
  std::unique_lock lock(state_->mutex);
  return state_->ended.wait_for(lock, limit, [&] { return state_->outcome != TRunOutcome::Running; });
}

void TRunHandle::Wait() const {
  std::unique_lock lock(state_->mutex);
  state_->ended.wait(lock, [&] { return state_->outcome != TRunOutcome::Running; });
}

TRunOutcome TRunHandle::Outcome() const {
  std::lock_guard lock(state_->mutex);
  return state_->outcome;
}

void TRunHandle::Finish(TRunOutcome outcome) const {
  std::lock_guard lock(state_->mutex);
  state_->outcome = outcome;
  state_->ended.notify_all();
}

// --- The run --------------------------------------------------------------------------------

// The files of one run, deleted (job file, drive table) or closed
// (protocol) however the run ends.
struct TthRunSync::RunFiles {
  std::string protocolPath;  // "" when the run has no protocol
  std::string protocolError;
  std::string driveTable;
  std::string jobFile;
};

TthRunSync::TthRunSync(bool minimized, bool hideProcess, const TProfItem& profile, const TUserOptions& userOptions,
                       std::string mail, int32_t criticDel, bool checkDeleteAgain)
    : minimized_(minimized),
      hideProcess_(hideProcess),
      profile_(profile),
      userOptions_(userOptions),
      mail_(std::move(mail)),
      criticDel_(criticDel),
      checkDeleteAgain_(checkDeleteAgain) {}

TRunHandle TthRunSync::Create(bool minimized, bool hideProcess, const TProfItem& profile,
                              const TUserOptions& userOptions, std::string mail, int32_t criticDel,
                              bool checkDeleteAgain) {
  std::unique_ptr<TthRunSync> run(
      new TthRunSync(minimized, hideProcess, profile, userOptions, std::move(mail), criticDel, checkDeleteAgain));
  TRunHandle handle;
  std::thread([run = std::move(run), handle]() mutable {
    TRunOutcome outcome = TRunOutcome::Failed;
    try {
      outcome = run->Execute();
    } catch (...) {
    }
    // Everything of the run is gone before its creator hears of the end.
    run.reset();
    handle.Finish(outcome);
  }).detach();
  return handle;
}

void TthRunSync::Log(std::string_view what) const {
  std::fprintf(stderr, "Kestrovane: Profil %s \"%s\": Abgleich %s\n", platform::OneLine(profile_.profileNo).c_str(),
               platform::OneLine(profile_.profileName).c_str(), platform::OneLine(what).c_str());
}

TRunOutcome TthRunSync::Execute() {
  const uint64_t startTick = platform::TickCount64();
  const std::optional<platform::ExclusiveLock> profileLock =
      platform::ExclusiveLock::TryAcquire(ProfileLockName(profile_.profilePath));
  if (!profileLock) {
    const int err = platform::GetLastError();
    Log("abgelehnt: " + (err == EWOULDBLOCK ? "für den Profilordner " + platform::Quoted(profile_.profilePath) +
                                                  " läuft bereits ein Abgleich"
                                            : "keine Sperre für den Profilordner: " + platform::SysErrorMessage(err)));
    return TRunOutcome::Refused;
  }
  Log("gestartet");
  std::optional<std::string> preCommandFailure;
  try {
    RunCommand(profile_.commandBefore);
  } catch (const std::exception& e) {
    if (profile_.stopOnCommandError) {
      Log(std::string("fehlgeschlagen: ") + e.what());
      return TRunOutcome::Stopped;
    }
    // The run goes on, but the user must be able to see why the command
    // had no effect.
    Log(std::string("geht ohne Vorbefehl weiter: ") + e.what());
    preCommandFailure = e.what();
  }

  RunFiles files;
  bool failed = false;
  std::optional<std::string> failure;
  try {
    BuildAndCopy(files, startTick, preCommandFailure);
  } catch (const EAbort&) {
    failed = true;
  } catch (const std::exception& e) {
    failed = true;
    failure = e.what();
  } catch (...) {
    failed = true;
    failure = "unbekannter Fehler";
  }
  // A protocol the engine did not close is closed before the post-command,
  // which may well want to read it.
  if (failed) CloseProtocol(files.protocolPath, mail_, profile_.profileName, failure);
  std::optional<std::string> postFailure;
  try {
    RunCommand(profile_.commandAfter);
  } catch (const std::exception& e) {
    postFailure = e.what();
  }
  if (!files.jobFile.empty()) platform::DeleteFile(files.jobFile);
  if (!files.driveTable.empty()) platform::DeleteFile(files.driveTable);

  if (failed || postFailure) {
    platform::MessageBeep();
    Log("fehlgeschlagen: " + (failed ? failure.value_or("Abbruch durch den Anwender") : *postFailure));
    return TRunOutcome::Failed;
  }
  if (files.protocolPath.empty()) Log("beendet, ohne Protokoll: " + files.protocolError);
  else if (platform::FileExists(files.protocolPath)) Log("beendet, Protokoll " + files.protocolPath);
  else Log("beendet, nichts zu tun");
  return TRunOutcome::Ended;
}

void TthRunSync::BuildAndCopy(RunFiles& files, uint64_t startTick,
                              const std::optional<std::string>& preCommandFailure) {
  kv::NewProtocol protocol = NewProtocol(userOptions_.MaxPtk(), ProtocolFolder(profile_.profilePath, false));
  // Without a file of its own the run writes no protocol at all: the name
  // may belong to a file of another run.
  if (protocol.stream) files.protocolPath = protocol.path;
  files.protocolError = protocol.error;
  // A run that went on without its pre-command is a failed one for the
  // user, who reads the protocol and not the program's standard error.
  if (protocol.stream && preCommandFailure) {
    protocol.stream->Append(TPtkItem::SchedulerRecord(profile_.commandBefore, "", kPtkError, *preCommandFailure));
  }
  files.driveTable = CheckPairDrives(protocol.stream ? &*protocol.stream : nullptr, profile_);
  if (protocol.stream) protocol.stream->Close();

  TDriveNameList vanished;
  TMoveList moved;
  std::optional<TInStableDriveList> unstable;
  if (checkDeleteAgain_) unstable.emplace();
  const int32_t percent = criticDel_;
  int critical = criticDel_;
  std::vector<std::string> report;
  {
    std::lock_guard lock(ListLock());
    // A run that waited for the lock while the program began to close goes
    // no further.
    if (platform::ui::AllJobsStopping()) throw EAbort();
    Notify(TRunEvent::BuildStarting, profile_);
    BuildSyncList(true, false, hideProcess_, minimized_, userOptions_, profile_, files.driveTable, files.jobFile,
                  vanished, moved, critical, unstable ? &*unstable : nullptr, &report);
    Notify(TRunEvent::BuildEnded, profile_);
  }
  if (critical == -1) WriteCriticalDelete(files.protocolPath, percent);
  WriteMissingDrives(files.protocolPath, vanished);
  WriteMovedFiles(files.protocolPath, moved);
  if (unstable) WriteUnstableDrives(files.protocolPath, *unstable);
  WriteBuildReport(files.protocolPath, report);

  if (!FileNotEmpty(files.jobFile)) {
    CloseProtocol(files.protocolPath, mail_, profile_.profileName);
    return;
  }
  const auto elapsed = static_cast<uint32_t>(platform::TickCount64() - startTick);
  std::lock_guard lock(CopyLock());
  if (platform::ui::AllJobsStopping()) throw EAbort();
  Notify(TRunEvent::CopyStarting, profile_);
  RunCopyEngine(files.protocolPath, files.jobFile, mail_, true, hideProcess_, minimized_, profile_, userOptions_,
                elapsed);
  Notify(TRunEvent::CopyEnded, profile_);
}

}  // namespace kv
