#pragma once
// TthRunSync: one automatic run of one profile, on a thread of its own, from
// the profile's pre-command to its post-command. The run creates its
// protocol, checks the drives of the folder pairs, lets the list builder
// write the job file under ListLock, adds its own records, and then drives
// the copy engine under CopyLock or, with nothing to copy, closes the
// protocol itself and mails the error report. Several runs may go at once;
// the two locks serialise the parts that use process-wide state, so one
// profile may build its list while another copies. One profile never runs
// twice at once.
//
// However a run ends, its job file and drive table (which holds passwords)
// are deleted, and a protocol it began is closed with a trailer. Each run
// writes one line to standard error when it starts and one when it ends,
// fails or is refused.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "copyengine/icopy.h"
#include "copyengine/protocol.h"
#include "platform/com/comptr.h"
#include "platform/process.h"
#include "shared/profitem.h"
#include "shared/useroptions.h"
#include "synclist/movelist.h"
#include "synclist/syncliste.h"

namespace kv {

// The process-wide locks: ListLock is held exactly around the list build,
// CopyLock exactly around the copy engine's run. A run never holds both.
std::mutex& ListLock();
std::mutex& CopyLock();

enum class TRunOutcome {
  Running,
  Ended,    // the run went through (with or without something to copy)
  Stopped,  // the pre-command could not start and the profile stops then
  Failed,   // a step failed or the user cancelled; the run was cleaned up
  Refused,  // a run of the same profile folder was going on
};

// What the creator of a run keeps: it may wait for the run's end, also
// after the thread and its object have gone.
class TRunHandle {
 public:
  TRunHandle();
  // Waits at most `limit`; true when the run has ended.
  bool WaitFor(std::chrono::milliseconds limit) const;
  void Wait() const;
  TRunOutcome Outcome() const;
  // The run's side: records how it ended and wakes the waiters.
  void Finish(TRunOutcome outcome) const;

 private:

  struct State {
    std::mutex mutex;
    std::condition_variable ended;
    TRunOutcome outcome = TRunOutcome::Running;
  };
  std::shared_ptr<State> state_;
};

// Points of a run where a test may watch, or hold the run up.
enum class TRunEvent { BuildStarting, BuildEnded, CopyStarting, CopyEnded };
using TRunHook = std::function<void(TRunEvent, const TProfItem&)>;
// Replaces the process-wide hook; an empty one switches it off.
void SetRunHook(TRunHook hook);

class TthRunSync {
 public:
  // Starts the run on a new thread and returns at once; the thread frees
  // everything of the run when it ends. Arguments as the fields below.
  static TRunHandle Create(bool minimized, bool hideProcess, const TProfItem& profile, const TUserOptions& userOptions,
                           std::string mail, int32_t criticDel, bool checkDeleteAgain);

  // --- The steps, each usable on its own ---

  // Starts a pre- or post-command without waiting for it. The line is split
  // into words as a POSIX shell splits it; a program named with a path runs
  // in its own folder. Throws std::runtime_error with the system's text
  // when it cannot be started; an empty line does nothing.
  static void RunCommand(const std::string& commandLine);
  // The run's new protocol in folder, after the rotation of "last.vrl".
  // (Its names count up with copyengine/protocol's NextPtkName.)
  static kv::NewProtocol NewProtocol(int32_t maxPtk, const std::string& folder);
  // The drive table of the pairs of a "SrcDest.kst", saved to a private
  // temporary file; its path.
  static std::string BuildDriveTable(const std::string& pairFile);
  // The drive table of the profile's pairs; one record into the stream (when
  // there is one) per pair with a drive that is not available.
  static std::string CheckPairDrives(ProtocolStream* stream, const TProfItem& profile);
  // Each appends its records to the protocol at ptkPath, when it can be
  // opened; a write error throws.
  static void WriteCriticalDelete(const std::string& ptkPath, int32_t percent);
  static void WriteMissingDrives(const std::string& ptkPath, const TDriveNameList& drives);
  static void WriteMovedFiles(const std::string& ptkPath, const TMoveList& moves);
  static void WriteUnstableDrives(const std::string& ptkPath, const TInStableDriveList& drives);
  // The list builder's report lines, as failed records.
  static void WriteBuildReport(const std::string& ptkPath, const std::vector<std::string>& lines);
  // Closes a protocol the engine did not close: nothing for a missing or
  // already closed protocol, an empty one is deleted, any other gets the
  // run's trailer and the error report is mailed. failure, when given, is
  // recorded first. Never throws.
  static void CloseProtocol(const std::string& ptkPath, const std::string& mail, const std::string& profileName,
                            const std::optional<std::string>& failure = std::nullopt);
  static void MailErrorProtocol(const std::string& ptkPath, const std::string& mail, const std::string& profileName);

  // The copy engine's run: creates CopyObj (registering the server once when
  // that fails), sets its properties in the engine's order and calls
  // CopyFiles. A failing call throws platform::ComError at once.
  static void RunCopyEngine(const std::string& ptkPath, const std::string& jobFile, const std::string& mail,
                            bool automatic, bool hideProcess, bool minimized, const TProfItem& profile,
                            const TUserOptions& userOptions, uint32_t elapsedMs);
  // Starts "regsvr32" (beside the program, else from PATH) on the
  // "KestroCom.dll" beside the program; nullopt when there is no such
  // library or the tool did not start.
  static std::optional<platform::StartedProcess> RegisterCopyServer();

 private:
  TthRunSync(bool minimized, bool hideProcess, const TProfItem& profile, const TUserOptions& userOptions,
             std::string mail, int32_t criticDel, bool checkDeleteAgain);
  TRunOutcome Execute();
  struct RunFiles;
  // preCommandFailure: why the pre-command could not start, when the run
  // goes on without it.
  void BuildAndCopy(RunFiles& files, uint64_t startTick, const std::optional<std::string>& preCommandFailure);
  void Log(std::string_view what) const;

  bool minimized_;
  bool hideProcess_;
  TProfItem profile_;
  TUserOptions userOptions_;
  std::string mail_;
  int32_t criticDel_;
  bool checkDeleteAgain_;
};

bool FileNotEmpty(const std::string& path);

// The type-library glue: a new CopyObj of the registered server as ICopy.
// Throws platform::ComError when the object cannot be made or does not
// offer ICopy.
struct CoCopyObj {
  static platform::ComPtr<ICopy> Create();
};

// The engine's DelSchredder code of a profile's DeleteMode; nullopt sends
// none.
std::optional<int32_t> DelSchredderOf(uint8_t deleteMode);

}  // namespace kv
