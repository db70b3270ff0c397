// A whole synchronisation (list builder, then the copy object carrying out
// the job) against `rsync -a` on the same trees in the same run:
//   1. first sync of 20,000 small files in 200 folders plus one 1 GiB file
//      into an empty folder;
//   2. the run again with nothing to do.
// Both tools read the same source (already in the page cache, as it was
// just written); each writes its own destination. The engine's figures
// include everything a scheduler run does (scan, compare, job file, copy,
// protocol, clean-up) except the window.
//
//   sync_bench [--dir=FOLDER] [--files=N] [--big-mib=N]
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

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
using Clock = std::chrono::steady_clock;

struct Options {
  std::string dir = fs::temp_directory_path().string();
  int files = 20000;
  int64_t bigMib = 1024;
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--dir=", 0) == 0) o.dir = arg.substr(6);
    else if (arg.rfind("--files=", 0) == 0) o.files = std::atoi(arg.c_str() + 8);
    else if (arg.rfind("--big-mib=", 0) == 0) o.bigMib = std::atoll(arg.c_str() + 10);
    else throw std::runtime_error("unknown argument " + arg);
  }
  return o;
}

void WriteFile(const std::string& path, const std::string& content, time_t mtime) {
  int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  if (write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
    close(fd);
    throw std::runtime_error("cannot write " + path);
  }
  struct timespec times[2] = {{0, UTIME_OMIT}, {mtime, 0}};
  futimens(fd, times);
  close(fd);
}

void WriteBigFile(const std::string& path, int64_t mib, time_t mtime) {
  int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  std::vector<uint64_t> block((1 << 20) / sizeof(uint64_t));
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (int64_t m = 0; m < mib; ++m) {
    for (uint64_t& v : block) v = (x = x * 6364136223846793005ull + 1442695040888963407ull);
    if (write(fd, block.data(), 1 << 20) != (1 << 20)) throw std::runtime_error("cannot write " + path);
  }
  struct timespec times[2] = {{0, UTIME_OMIT}, {mtime, 0}};
  futimens(fd, times);
  close(fd);
}

void MakeSource(const std::string& src, const Options& o) {
  constexpr time_t kMTime = 1718452800;
  const int folders = std::max(1, o.files / 100);
  for (int d = 0; d < folders; ++d) {
    const std::string folder = src + "/Projekt " + std::to_string(d / 20) + "/Ordner_" + std::to_string(d);
    fs::create_directories(folder);
    for (int f = d * 100; f < std::min(o.files, (d + 1) * 100); ++f) {
      WriteFile(folder + "/Dokument-" + std::to_string(f) + ".txt", std::string(static_cast<size_t>(f % 4096), 'k'),
                kMTime);
    }
  }
  WriteBigFile(src + "/Abbild.bin", o.bigMib, kMTime);
}

std::string WinFolder(const std::string& posix) {
  std::string win = kv::platform::FromPosixPath(posix);
  if (win.empty() || win.back() != '\\') win += '\\';
  return win;
}

void Sh(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("cannot start " + args[0]);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(args[0] + " failed");
}

double Seconds(const std::function<void()>& fn) {
  Sh({"sync"});
  const auto start = Clock::now();
  fn();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// One profile whose single pair mirrors src into dst.
class Profile {
 public:
  Profile(const std::string& root, const std::string& src, const std::string& dst) : folder_(root + "/profile/") {
    fs::create_directories(folder_ + "AUTOptk");
    kv::TFolderPair pair;
    pair.sourceRoot = WinFolder(src);
    pair.destinationRoot = WinFolder(dst);
    pair.active = 1;
    pair.subfolders = 1;
    pair.strategy.pairs[1].action = 1;  // folder only in the source: create
    pair.strategy.pairs[2].action = 2;  // folder only in the destination: delete
    pair.strategy.pairs[3].action = 1;  // file only in the source: copy
    pair.strategy.pairs[4].action = 2;  // file only in the destination: delete
    for (int p = 5; p <= 9; ++p) pair.strategy.pairs[static_cast<size_t>(p)] = {1, 1};
    const std::vector<uint8_t> bytes = pair.Encode();
    kv::platform::WriteFileAtomic(Win("SrcDest.kst"), bytes.data(), bytes.size());
    profile_.profileNo = "0000001";
    profile_.profilePath = WinFolder(folder_);
  }

  std::string Win(const std::string& name) const { return WinFolder(folder_) + name; }

  // The list builder; returns the job file and its item count.
  std::string BuildJob(int64_t& items) {
    std::string job;
    kv::TDriveNameList vanished;
    kv::TMoveList moved;
    int critical = 101;
    kv::BuildSyncList(false, false, true, false, kv::TUserOptions{}, profile_, Win("drives.tmp"), job, vanished,
                      moved, critical, nullptr);
    items = static_cast<int64_t>(kv::platform::GetFileSize(job).value_or(0) / 600);
    return job;
  }

  // The copy engine, with the properties the scheduler sends.
  void RunEngine(const std::string& job) {
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

  // A whole run as the scheduler makes it: no engine for an empty job.
  int64_t Sync() {
    int64_t items = 0;
    const std::string job = BuildJob(items);
    if (items > 0) RunEngine(job);
    else kv::platform::DeleteFile(job);
    return items;
  }

 private:
  std::string folder_;
  kv::TProfItem profile_;
};

void Report(const char* what, double engine, double rsync) {
  std::printf("%-34s engine %8.3f s   rsync -a %8.3f s   ratio %5.2f\n", what, engine, rsync, engine / rsync);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options o = ParseOptions(argc, argv);
    const std::string root = o.dir + "/kv-sync-bench-" + std::to_string(getpid());
    const std::string src = root + "/src", dstEngine = root + "/dst-engine", dstRsync = root + "/dst-rsync";
    fs::create_directories(src);
    fs::create_directories(dstEngine);
    fs::create_directories(dstRsync);
    std::printf("making %d small files and one %lld MiB file in %s\n", o.files, static_cast<long long>(o.bigMib),
                src.c_str());
    MakeSource(src, o);

    Profile profile(root, src, dstEngine);
    int64_t items = 0;
    const double firstEngine = Seconds([&] { items = profile.Sync(); });
    const double firstRsync = Seconds([&] { Sh({"rsync", "-a", src + "/", dstRsync + "/"}); });
    std::printf("first sync: %lld job items\n", static_cast<long long>(items));
    int64_t again = 0;
    const double rerunEngine = Seconds([&] { again = profile.Sync(); });
    const double rerunRsync = Seconds([&] { Sh({"rsync", "-a", src + "/", dstRsync + "/"}); });
    std::printf("re-run: %lld job items\n", static_cast<long long>(again));

    Report("first sync into an empty folder", firstEngine, firstRsync);
    Report("re-run with nothing to do", rerunEngine, rerunRsync);
    fs::remove_all(root);
    return again == 0 ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "sync_bench: %s\n", e.what());
    return 2;
  }
}
