// Copying one large file with CopyFileWithProgress against `cp` on the same
// disk in the same run, as the yardstick of what this machine can do. Each
// round copies with both (in alternating order, after syncing the disk, onto
// a target that does not exist) and the medians are compared.
//
//   copy_bench [--dir=FOLDER] [--mib=N] [--rounds=N]
//
// The goal is at least 90% of cp's throughput.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/childrun.h"
#include "bench/options.h"
#include "copyengine/filecopy.h"
#include "platform/volumes.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  std::string dir = fs::temp_directory_path().string();
  int64_t mib = 1024;
  int rounds = 3;
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  kv::bench::ReadOptions(argc, argv, {{"--dir=", &o.dir}, {"--mib=", &o.mib}, {"--rounds=", &o.rounds}});
  if (o.mib <= 0 || o.rounds <= 0) throw std::runtime_error("--mib and --rounds must be positive");
  return o;
}

// Incompressible content without holes, so that neither side can skip work.
void WriteSource(const std::string& path, int64_t bytes) {
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  std::vector<uint64_t> block((8 << 20) / sizeof(uint64_t));
  uint64_t x = 0x9E3779B97F4A7C15ull;
  for (int64_t done = 0; done < bytes;) {
    for (uint64_t& v : block) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      v = x;
    }
    const size_t n = static_cast<size_t>(std::min<int64_t>(bytes - done, block.size() * sizeof(uint64_t)));
    if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) throw std::runtime_error("cannot write " + path);
    done += static_cast<int64_t>(n);
  }
  ::fsync(fd);
  ::close(fd);
}

void SyncDisk(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    ::syncfs(fd);
    ::close(fd);
  }
}

void RunCp(const std::string& from, const std::string& to) {
  const char* args[] = {"cp", from.c_str(), to.c_str(), nullptr};
  pid_t pid;
  if (posix_spawnp(&pid, "cp", nullptr, nullptr, const_cast<char**>(args), environ) != 0) {
    throw std::runtime_error("cannot start cp");
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("cp failed");
}

void RunCopyEngine(const std::string& from, const std::string& to, int64_t bytes) {
  kv::CopyFileRequest request;
  request.source = kv::platform::FromPosixPath(from);
  request.target = kv::platform::FromPosixPath(to);
  request.size = bytes;
  request.lastWrite = kv::platform::FileTimeNow();
  kv::TtfCopy window;
  const kv::CopyFileResult result = kv::CopyFileWithProgress(request, window);
  if (result.status != kv::kCopyDone) throw std::runtime_error("copy failed: " + result.message);
}

double TimedSeconds(const std::string& dir, const std::string& target, const std::function<void()>& copy) {
  fs::remove(target);
  SyncDisk(dir);
  const Clock::time_point start = Clock::now();
  copy();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  fs::remove(target);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = ParseOptions(argc, argv);
    const fs::path work = fs::path(options.dir) / ("kv-copy-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);
    const std::string source = (work / "source.bin").string();
    const std::string target = (work / "target.bin").string();
    const int64_t bytes = options.mib << 20;
    WriteSource(source, bytes);

    std::vector<double> cpTimes, kvTimes;
    for (int round = 0; round < options.rounds; ++round) {
      auto cp = [&] { cpTimes.push_back(TimedSeconds(work, target, [&] { RunCp(source, target); })); };
      auto kv = [&] { kvTimes.push_back(TimedSeconds(work, target, [&] { RunCopyEngine(source, target, bytes); })); };
      if (round % 2 == 0) {
        cp();
        kv();
      } else {
        kv();
        cp();
      }
    }
    fs::remove_all(work);

    const double mib = static_cast<double>(options.mib);
    const double cpMedian = kv::bench::Median(cpTimes), kvMedian = kv::bench::Median(kvTimes);
    std::printf("file: %lld MiB in %s, %d rounds (median)\n", static_cast<long long>(options.mib), options.dir.c_str(),
                options.rounds);
    std::printf("cp:                   %8.3f s  %8.1f MiB/s\n", cpMedian, mib / cpMedian);
    std::printf("CopyFileWithProgress: %8.3f s  %8.1f MiB/s\n", kvMedian, mib / kvMedian);
    const double ratio = cpMedian / kvMedian;
    std::printf("throughput ratio: %.1f%% of cp (goal: at least 90%%)%s\n", ratio * 100.0,
                ratio >= 0.9 ? "" : "  BELOW GOAL");
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "copy_bench: %s\n", e.what());
    return 1;
  }
}
