// Horavex with nothing to do: 100 schedule entries of every kind, none due,
// offscreen, for a minute. Reported: the CPU time the process used (from
// /proc/PID/stat) as a share of one core, its peak memory, and whether
// "Timer.log" and "Timer.dat" kept their inode and modification time. No
// standard tool does this, so the targets are absolute: under 1 % of a core,
// both files untouched.
//
//   idle_bench [--seconds=N] [--entries=N]     (Horavex beside idle_bench)
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "bench/childrun.h"
#include "bench/options.h"
#include "platform/inifile.h"
#include "platform/program.h"
#include "platform/registry.h"
#include "platform/time.h"
#include "platform/volumes.h"
#include "scheduler/schedulefile.h"
#include "scheduler/timermain.h"

namespace {

namespace fs = std::filesystem;

struct Options {
  int seconds = 60;
  int entries = 100;
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  kv::bench::ReadOptions(argc, argv, {{"--seconds=", &o.seconds}, {"--entries=", &o.entries}});
  o.seconds = std::max(1, o.seconds);
  o.entries = std::max(1, o.entries);
  return o;
}

std::string Text(kv::platform::DateTime value) {
  return kv::platform::FormatDateShort(kv::platform::CivilFromDateTime(value));
}

// Entries of every kind that the clock makes due, none of them due within
// the next minutes; the daily ones have started today already.
void WriteSchedule(const std::string& work, const std::string& program, int entries) {
  using kv::platform::IniFile;
  const kv::platform::DateTime now = kv::platform::Now();
  const int64_t today = static_cast<int64_t>(now);
  const int weekday = static_cast<int>(((today + 5) % 7 + 7) % 7);  // Monday 0
  const int monthDay = kv::platform::CivilFromDateTime(static_cast<double>(today)).day;
  IniFile schedule(work + "Profile\\" + std::string(kv::kScheduleFileName));
  IniFile log(program + "Timer.log");
  log.WriteString("State", "Active", "");
  for (int i = 0; i < entries; ++i) {
    const std::string number = kv::ProfileNumberText(i + 1);
    const int kind = 1 + i % 5;
    schedule.WriteString(number, "Name", "Leerlauf " + number);
    schedule.WriteInteger(number, "Kind", kind);
    switch (kind) {
      case 1:
        schedule.WriteString(number, "OnceDate", Text(now + 365));
        schedule.WriteString(number, "OnceTime", "12:00:00");
        break;
      case 2: schedule.WriteString(number, "Intervall", "23:00:00"); break;
      case 3:
        schedule.WriteString(number, "Daily", "00:00:00");
        log.WriteString(Text(now), number, "Done");
        break;
      case 4:
        schedule.WriteString(number, "Week" + std::to_string((weekday + 3) % 7) + "Active", "1");
        schedule.WriteString(number, "Week" + std::to_string((weekday + 3) % 7), "08:00:00");
        break;
      default:
        schedule.WriteInteger(number, "MonthDay", monthDay == 1 ? 2 : 1);
        schedule.WriteString(number, "MonthTime", "08:00:00");
    }
  }
}

long long CpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoll(field);
    if (i == 15) stime = std::stoll(field);
  }
  return utime + stime;
}

std::string PeakMemory(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return line.substr(6);
  }
  return "?";
}

struct Stamp {
  ino_t inode = 0;
  timespec mtime{};
  bool operator==(const Stamp& o) const {
    return inode == o.inode && mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
  }
};

Stamp StampOf(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) throw std::runtime_error("no file " + path);
  return {st.st_ino, st.st_mtim};
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = ParseOptions(argc, argv);
    char tmpl[] = "/tmp/kv-idle-XXXXXX";
    const fs::path root = mkdtemp(tmpl);
    const fs::path bin = root / "bin";
    fs::create_directories(bin);
    fs::create_directories(root / "work" / "Profile");
    const fs::path built = fs::path(kv::platform::ToPosixPath(kv::platform::ProgramFolder()).value());
    for (const char* file : {"Horavex", "libkv_comrt.so", "KestroCom.dll", "regsvr32"}) {
      fs::copy_file(built / file, bin / file);
    }
    setenv("KESTROVANE_REGISTRY_DIR", (root / "registry").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string work = kv::platform::FromPosixPath((root / "work").string()) + "\\";
    const std::string program = kv::platform::FromPosixPath(bin.string()) + "\\";
    kv::platform::Registry(kv::platform::Hive::CurrentUser).WriteString(kv::kUserKey, "WorkDir", work);
    WriteSchedule(work, program, options.entries);

    const pid_t pid = fork();
    if (pid == 0) {
      freopen((root / "stderr.txt").c_str(), "w", stderr);
      execl((bin / "Horavex").c_str(), "Horavex", nullptr);
      _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::seconds(5));  // start-up and the first passes
    const std::string log = (bin / "Timer.log").string(), schedule = (root / "work/Profile/Timer.dat").string();
    const Stamp logBefore = StampOf(log), scheduleBefore = StampOf(schedule);
    const long long ticksBefore = CpuTicks(pid);
    std::this_thread::sleep_for(std::chrono::seconds(options.seconds));
    const long long ticks = CpuTicks(pid) - ticksBefore;
    const bool logKept = StampOf(log) == logBefore, scheduleKept = StampOf(schedule) == scheduleBefore;
    const std::string peak = PeakMemory(pid);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    const double ticksPerSecond = static_cast<double>(sysconf(_SC_CLK_TCK));
    const double share = 100.0 * static_cast<double>(ticks) / (ticksPerSecond * options.seconds);
    std::printf("Horavex idle, %d entries, %d s: CPU %.2f %% of a core, peak memory%s\n", options.entries,
                options.seconds, share, peak.c_str());
    std::printf("Timer.log kept: %s, Timer.dat kept: %s, exit status %d\n", logKept ? "yes" : "NO",
                scheduleKept ? "yes" : "NO", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    std::error_code ec;
    fs::remove_all(root, ec);
    return share < 1.0 && logKept && scheduleKept ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "idle_bench: %s\n", e.what());
    return 2;
  }
}
