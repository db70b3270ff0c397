#pragma once
// Starting the run of a scheduled profile, as the checker, the network
// handlers and the end of the session do it: the profile record is looked
// up afresh in "Pro.kst", the run options are read afresh from "Timer.ini",
// and the run starts on a thread of its own. The launcher keeps the handles
// of the runs it started, so the program can wait for them when the
// session or the program ends.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "scheduler/runsync.h"
#include "shared/profitem.h"
#include "shared/useroptions.h"

namespace kv {

// The section "Options" of "Timer.ini"; missing keys give these defaults.
struct TRunOptions {
  bool showProcess = true;
  bool minimized = false;
  int32_t criticDel = 20;
  bool checkDeleteAgain = true;
};
TRunOptions ReadRunOptions(const std::string& timerIni);
// The profile's run with these options, as TthRunSync::Create starts it.
TRunHandle StartRun(const TRunOptions& options, const TProfItem& profile, const TUserOptions& userOptions,
                    const std::string& mail);

class TRunLauncher {
 public:
  // Starts one run (tests replace it); the default is StartRun.
  using RunFactory = std::function<TRunHandle(const TRunOptions&, const TProfItem&, const TUserOptions&,
                                              const std::string& mail)>;

  TRunLauncher(std::string timerIni, RunFactory factory = {});

  // Starts the profile's run. nullopt when no run starts: the profile has no
  // record in "Pro.kst" (no run may go with another profile's record or an
  // undefined one), the program is ending, or the thread could not be made;
  // each of these says so on standard error.
  std::optional<TRunHandle> Launch(const std::string& profileNo, const std::string& mail,
                                   const TUserOptions& userOptions);
  // True while a run this launcher started has not ended.
  bool AnyRunning();

 private:
  std::string timerIni_;
  RunFactory factory_;
  std::mutex mutex_;
  std::vector<TRunHandle> runs_;
  int starting_ = 0;  // launches between their start and their place in runs_
};

}  // namespace kv
