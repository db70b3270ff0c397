#include "scheduler/runlauncher.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <utility>

#include "platform/inifile.h"
#include "platform/text.h"
#include "platform/ui/jobstop.h"

namespace kv {
namespace {

void Skipped(const std::string& profileNo, const std::string& why) {
  std::fprintf(stderr, "Horavex: Profil %s nicht gestartet: %s\n", platform::OneLine(profileNo).c_str(),
               platform::OneLine(why).c_str());
}

}  // namespace

TRunHandle StartRun(const TRunOptions& options, const TProfItem& profile, const TUserOptions& userOptions,
                    const std::string& mail) {
  return TthRunSync::Create(options.minimized, !options.showProcess, profile, userOptions, mail, options.criticDel,
                            options.checkDeleteAgain);
}

TRunOptions ReadRunOptions(const std::string& timerIni) {
  const platform::IniFile ini(timerIni);
  const TRunOptions defaults;
  return TRunOptions{ini.ReadBool("Options", "ShowProcess", defaults.showProcess),
                     ini.ReadBool("Options", "Minimized", defaults.minimized),
                     ini.ReadInteger("Options", "CriticDel", defaults.criticDel),
                     ini.ReadBool("Options", "CheckDeleteAgain", defaults.checkDeleteAgain)};
}

TRunLauncher::TRunLauncher(std::string timerIni, RunFactory factory)
    : timerIni_(std::move(timerIni)), factory_(factory ? std::move(factory) : RunFactory(StartRun)) {}

std::optional<TRunHandle> TRunLauncher::Launch(const std::string& profileNo, const std::string& mail,
                                               const TUserOptions& userOptions) {
  if (platform::ui::AllJobsStopping()) {
    Skipped(profileNo, "das Programm wird beendet");
    return std::nullopt;
  }
  const ProfileLookup lookup = FindProfile(userOptions.profileFolder + "Pro.kst", profileNo);
  if (!lookup.profile) {
    Skipped(profileNo, lookup.error);
    return std::nullopt;
  }
  // A run counts as going from before its thread starts until it is in the
  // list, so the end of the session never starts one beside it. Launches
  // may overlap: the factory runs outside the lock.
  class Starting {
   public:
    explicit Starting(TRunLauncher& launcher) : launcher_(launcher) {
      std::lock_guard lock(launcher_.mutex_);
      ++launcher_.starting_;
    }
    ~Starting() {
      std::lock_guard lock(launcher_.mutex_);
      --launcher_.starting_;
    }

   private:
    TRunLauncher& launcher_;
  };
  const Starting starting(*this);
  try {
    TRunHandle run = factory_(ReadRunOptions(timerIni_), *lookup.profile, userOptions, mail);
    std::lock_guard lock(mutex_);
    std::erase_if(runs_, [](const TRunHandle& r) { return r.Outcome() != TRunOutcome::Running; });
    runs_.push_back(run);
    return run;
  } catch (const std::exception& e) {
    Skipped(profileNo, e.what());
    return std::nullopt;
  }
}

bool TRunLauncher::AnyRunning() {
  std::lock_guard lock(mutex_);
  std::erase_if(runs_, [](const TRunHandle& r) { return r.Outcome() != TRunOutcome::Running; });
  return starting_ > 0 || !runs_.empty();
}

}  // namespace kv
