// runprofile WORKDIR PROFILENO
// Runs one profile headless, as the scheduler starts it when it falls due:
// the profile from WORKDIR\Profile\Pro.kst, the user options from
// WORKDIR\UsrOpt.kst, the mail address from the profile's section of
// WORKDIR\Profile\Timer.dat, the run options from "Timer.ini" beside the
// program; the copy engine is the registered "KestroCom.dll" (registered
// from beside the program when it is not). WORKDIR may be a Windows path or
// a folder of this machine. Exit status: 0 the run ended, 1 bad command
// line, 2 no such profile, 3 the run failed, 4 refused (the profile is
// running), 5 stopped by its pre-command.
#include <cstdio>
#include <string>

#include "platform/inifile.h"
#include "platform/program.h"
#include "scheduler/runlauncher.h"
#include "scheduler/schedulefile.h"
#include "shared/profitem.h"
#include "shared/useroptions.h"

using namespace kv;

namespace {

int ExitStatusOf(TRunOutcome outcome) {
  switch (outcome) {
    case TRunOutcome::Ended: return 0;
    case TRunOutcome::Refused: return 4;
    case TRunOutcome::Stopped: return 5;
    default: return 3;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "Aufruf: runprofile ARBEITSORDNER PROFILNUMMER\n");
    return 1;
  }
  const std::string profileNo = argv[2];
  const std::string profileFolder = WorkFolderOf(argv[1]) + "Profile\\";
  const std::string scheduleFile = profileFolder + std::string(kScheduleFileName);

  const ProfileLookup lookup = FindProfile(profileFolder + "Pro.kst", profileNo);
  if (!lookup.profile) {
    std::fprintf(stderr, "runprofile: %s\n", lookup.error.c_str());
    return 2;
  }
  const TUserOptions userOptions = LoadUserOptions(scheduleFile);
  const std::string mail = platform::IniFile(scheduleFile).ReadString(profileNo, "Mail", "");
  const TRunHandle run =
      StartRun(ReadRunOptions(platform::ProgramFolder() + "Timer.ini"), *lookup.profile, userOptions, mail);
  run.Wait();
  return ExitStatusOf(run.Outcome());
}
