// A whole synchronisation (list builder, then the copy object carrying out
// the job) against `rsync -a` on the same trees, run by run:
//   small   first sync of 100,000 small files in 1,000 folders into an empty
//           folder, then the run again with nothing to do, then an
//           incremental run after 1,000 files changed;
//   big     first sync of 20,000 small files plus one 1 GiB file.
// Each run gives both tools a fresh destination and alternates which tool
// goes first. After every sync both destinations are compared with the
// source (every file's content and last-write time), so a fast wrong result
// cannot pass. Every sync runs in a child process, whose peak memory is
// measured: the engine's from its own accounting, rsync's as the sum over its
// processes. The engine's figures include everything a scheduler run does
// (scan, compare, job file, copy, protocol, clean-up) except the window.
//
//   sync_bench [--dir=FOLDER] [--runs=N] [--scenario=small|big|all]
//              [--files=N] [--big-mib=N] [--only=engine|rsync]
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/benchtree.h"
#include "bench/mirrorpair.h"
#include "bench/options.h"
#include "copyengine/copyobj.h"
#include "platform/files.h"
#include "platform/volumes.h"
#include "shared/folderpair.h"
#include "shared/profitem.h"
#include "shared/useroptions.h"
#include "synclist/buildsynclist.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace kv::bench;
using Clock = std::chrono::steady_clock;

constexpr time_t kChangedMTime = 1718539200;

struct Options {
  std::string dir = fs::temp_directory_path().string();
  int runs = 5;
  std::string scenario = "all";
  int smallFiles = 100000;
  int bigFiles = 20000;
  int64_t bigMib = 1024;
  std::string only;  // "": both tools
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  ReadOptions(argc, argv,
              {{"--dir=", &o.dir},
               {"--runs=", &o.runs},
               {"--scenario=", &o.scenario},
               {"--files=", &o.smallFiles},
               {"--big-mib=", &o.bigMib},
               {"--only=", &o.only}});
  o.runs = std::max(1, o.runs);
  return o;
}

// --- Trees ---------------------------------------------------------------------------------

void WriteBigFile(const std::string& path, int64_t mib) {
  const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  std::vector<uint64_t> block((1 << 20) / sizeof(uint64_t));
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (int64_t m = 0; m < mib; ++m) {
    for (uint64_t& v : block) v = (x = x * 6364136223846793005ull + 1442695040888963407ull);
    if (write(fd, block.data(), 1 << 20) != (1 << 20)) throw std::runtime_error("cannot write " + path);
  }
  const struct timespec times[2] = {{0, UTIME_OMIT}, {kTreeMTime, 0}};
  futimens(fd, times);
  close(fd);
}

void MakeSource(const std::string& src, int files, int64_t bigMib) {
  MakeSmallFiles(src, files);
  if (bigMib > 0) WriteBigFile(src + "/Abbild.bin", bigMib);
}

// Every 100th file gets new content and a new time.
void ChangeSource(const std::string& src, int files, int round) {
  for (int f = 0; f < files; f += 100) {
    WriteFile(SmallFilePath(src, f), "geändert in Runde " + std::to_string(round), kChangedMTime + 2 * round);
  }
}

// --- Running a tool in a child and measuring it --------------------------------------------

// Peak resident memory of a process tree: every process's high-water mark,
// sampled while they live, summed over the processes.
class TreeMemory {
 public:
  explicit TreeMemory(pid_t root) : root_(root), sampler_([this] { Sample(); }) {}
  ~TreeMemory() { Stop(); }
  void Stop() {
    stop_ = true;
    if (sampler_.joinable()) sampler_.join();
  }
  int64_t PeakKiB(int64_t rootMaxRssKiB) {
    Stop();
    peakByPid_[root_] = std::max(peakByPid_[root_], rootMaxRssKiB);
    int64_t sum = 0;
    for (const auto& [pid, kib] : peakByPid_) sum += kib;
    return sum;
  }

 private:
  static int64_t HighWaterKiB(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
      if (line.rfind("VmHWM:", 0) == 0) return std::atoll(line.c_str() + 6);
    }
    return 0;
  }

  static std::vector<pid_t> ChildrenOf(pid_t pid) {
    std::vector<pid_t> out;
    std::ifstream in("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    for (pid_t child; in >> child;) out.push_back(child);
    return out;
  }

  void Sample() {
    while (!stop_) {
      std::vector<pid_t> pending{root_};
      while (!pending.empty()) {
        const pid_t pid = pending.back();
        pending.pop_back();
        int64_t& peak = peakByPid_[pid];
        peak = std::max(peak, HighWaterKiB(pid));
        for (pid_t child : ChildrenOf(pid)) pending.push_back(child);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  pid_t root_;
  std::atomic<bool> stop_{false};
  std::map<pid_t, int64_t> peakByPid_;
  std::thread sampler_;
};

struct Measured {
  double seconds = 0;
  int64_t peakKiB = 0;
};

Measured RunChild(const std::function<void()>& start, const std::function<pid_t()>& spawn) {
  start();
  const auto begin = Clock::now();
  const pid_t pid = spawn();
  TreeMemory memory(pid);
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("wait4 failed");
  Measured m;
  m.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  m.peakKiB = memory.PeakKiB(usage.ru_maxrss);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("a synchronisation failed");
  return m;
}

void SyncDisks() {
  sync();
}

pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("cannot start " + args[0]);
  }
  return pid;
}

// One profile whose single pair mirrors src into dst.
class Profile {
 public:
  Profile(const std::string& folder, const std::string& src, const std::string& dst) : folder_(folder + "/") {
    fs::create_directories(folder_ + "AUTOptk");
    const std::vector<uint8_t> bytes = kv::bench::MirrorPair(WinFolder(src), WinFolder(dst)).Encode();
    kv::platform::WriteFileAtomic(Win("SrcDest.kst"), bytes.data(), bytes.size());
    profile_.profileNo = "0000001";
    profile_.profilePath = WinFolder(folder_);
  }

  // A whole run as the scheduler makes it, in a child process; the child
  // exits 0 when the run succeeded.
  pid_t SpawnSync() {
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid > 0) return pid;
    try {
      Sync();
      _exit(0);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "sync_bench: %s\n", e.what());
      _exit(1);
    }
  }

 private:
  std::string Win(const std::string& name) const { return WinFolder(folder_) + name; }

  void Sync() {
    std::string job;
    kv::TDriveNameList vanished;
    kv::TMoveList moved;
    int critical = 101;
    kv::BuildSyncList(false, false, true, false, kv::TUserOptions{}, profile_, Win("drives.tmp"), job, vanished,
                      moved, critical, nullptr);
    if (kv::platform::GetFileSize(job).value_or(0) == 0) {
      kv::platform::DeleteFile(job);
      return;
    }
    const std::string ptk = Win("AUTOptk\\00000.ptk");
    kv::platform::WriteFileAtomic(ptk, "", 0);
    auto* obj = new kv::TCopyObj;
    obj->AddRef();
    obj->Set_PtkFile(ptk.c_str());
    obj->Set_AnalyseTime("00:00:00");
    obj->Set_DelSchredder(0);
    obj->Set_Manuell(0);
    obj->Set_SrcFile(job.c_str());
    obj->Set_MainFile(Win("SrcDest.kst").c_str());
    obj->Set_Hidden(-1);
    const kv::platform::HRESULT hr = obj->CopyFiles();
    obj->Release();
    if (hr != 0) throw std::runtime_error("CopyFiles failed");
  }

  std::string folder_;
  kv::TProfItem profile_;
};

// --- Scenarios -----------------------------------------------------------------------------

struct Samples {
  std::vector<double> engine, rsync;
  std::vector<int64_t> engineKiB, rsyncKiB;
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

int64_t MaxOf(const std::vector<int64_t>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

class Bench {
 public:
  Bench(const Options& o, std::string root) : o_(o), root_(std::move(root)) {}

  void Scenario(const std::string& name, int files, int64_t bigMib, bool withFollowUps) {
    const std::string base = root_ + "/" + name;
    const std::string src = base + "/src";
    fs::create_directories(src);
    std::printf("%s: making %d small files%s in %s\n", name.c_str(), files,
                bigMib > 0 ? (" and one " + std::to_string(bigMib) + " MiB file").c_str() : "", src.c_str());
    MakeSource(src, files, bigMib);
    const std::string dstEngine = base + "/dst-engine", dstRsync = base + "/dst-rsync";

    for (int run = 0; run < o_.runs; ++run) {
      // Fresh destinations; the source goes back to its first state.
      fs::remove_all(dstEngine);
      fs::remove_all(dstRsync);
      fs::create_directories(dstEngine);
      fs::create_directories(dstRsync);
      fs::remove_all(base + "/profile");
      Profile profile(base + "/profile", src, dstEngine);
      if (run > 0 && withFollowUps) {
        for (int f = 0; f < files; f += 100) WriteFile(SmallFilePath(src, f), SmallFileContent(f), kTreeMTime);
      }
      const bool engineFirst = run % 2 == 0;
      Step(name + " first sync", profile, src, dstEngine, dstRsync, engineFirst);
      if (!withFollowUps) continue;
      Step(name + " re-run, nothing to do", profile, src, dstEngine, dstRsync, !engineFirst);
      ChangeSource(src, files, run + 1);
      Step(name + " incremental, 1% changed", profile, src, dstEngine, dstRsync, engineFirst);
    }
  }

  void Report() const {
    std::printf("\n%-40s %10s %10s %7s %12s %12s %7s\n", "median of runs", "engine s", "rsync s", "ratio",
                "engine MiB", "rsync MiB", "ratio");
    for (const auto& [what, s] : samples_) {
      const double e = Median(s.engine), r = Median(s.rsync);
      const double eMib = static_cast<double>(MaxOf(s.engineKiB)) / 1024, rMib = static_cast<double>(MaxOf(s.rsyncKiB)) / 1024;
      std::printf("%-40s %10.3f %10.3f %7.2f %12.1f %12.1f %7.2f\n", what.c_str(), e, r, r > 0 ? e / r : 0, eMib,
                  rMib, rMib > 0 ? eMib / rMib : 0);
    }
  }

 private:
  void Step(const std::string& what, Profile& profile, const std::string& src, const std::string& dstEngine,
            const std::string& dstRsync, bool engineFirst) {
    const TreeDigest source = Digest(src);
    Samples& s = samples_[what];
    auto runEngine = [&] {
      if (o_.only == "rsync") return;
      const Measured m = RunChild(SyncDisks, [&] { return profile.SpawnSync(); });
      s.engine.push_back(m.seconds);
      s.engineKiB.push_back(m.peakKiB);
    };
    auto runRsync = [&] {
      if (o_.only == "engine") return;
      const Measured m = RunChild(SyncDisks, [&] { return Spawn({"rsync", "-a", src + "/", dstRsync + "/"}); });
      s.rsync.push_back(m.seconds);
      s.rsyncKiB.push_back(m.peakKiB);
    };
    if (engineFirst) {
      runEngine();
      runRsync();
    } else {
      runRsync();
      runEngine();
    }
    if (o_.only != "rsync") ExpectSameTree(source, dstEngine, "engine");
    if (o_.only != "engine") ExpectSameTree(source, dstRsync, "rsync -a");
  }

  const Options& o_;
  std::string root_;
  std::map<std::string, Samples> samples_;
};

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options o = ParseOptions(argc, argv);
    const std::string root = o.dir + "/kv-sync-bench-" + std::to_string(getpid());
    Bench bench(o, root);
    if (o.scenario == "small" || o.scenario == "all") bench.Scenario("small", o.smallFiles, 0, true);
    if (o.scenario == "big" || o.scenario == "all") bench.Scenario("big", o.bigFiles, o.bigMib, false);
    bench.Report();
    fs::remove_all(root);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sync_bench: %s\n", e.what());
    return 2;
  }
}
