// Scan and compare of two identical trees of 100,000 files, against
// `find SRC DST -printf '%s %T@\n'` on the same trees as the yardstick of
// what listing and stat-ing every entry costs on this machine.
//
//   scan_bench [--folders=N] [--files=N] [benchmark flags]
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/benchtree.h"
#include "platform/volumes.h"
#include "synclist/dirtree.h"

namespace {

namespace fs = std::filesystem;

int g_folders = 1000;
int g_filesPerFolder = 100;
std::string g_root;  // POSIX folder holding src/ and dst/

using kv::bench::kTreeMTime;
using kv::bench::WinFolder;

void WriteFile(const std::string& path, int size) {
  int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path);
  std::string content(static_cast<size_t>(size), 'x');
  if (write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) {
    close(fd);
    throw std::runtime_error("cannot write " + path);
  }
  struct timespec times[2] = {{0, UTIME_OMIT}, {kTreeMTime, 0}};
  futimens(fd, times);
  close(fd);
}

// Folder names and file names of realistic length and mixed case.
void MakeSide(const std::string& side) {
  for (int d = 0; d < g_folders; ++d) {
    std::string folder = side + "/Project " + std::to_string(d / 100) + "/Folder_" + std::to_string(d);
    fs::create_directories(folder);
    for (int f = 0; f < g_filesPerFolder; ++f) {
      WriteFile(folder + "/Document-" + std::to_string(f * 7919 % 100000) + ".txt", f % 64);
    }
  }
}

void BM_ScanAndCompare(benchmark::State& state) {
  const std::string src = WinFolder(g_root + "/src");
  const std::string dst = WinFolder(g_root + "/dst");
  for (auto _ : state) {
    kv::TDirTree tree;
    tree.recurse = true;
    tree.ScanSource(src);
    tree.ScanDestination(dst);
    tree.SortFolderList();
    if (tree.fileCount() != 0 || tree.destinationEntriesSeen() != int64_t{g_folders} * g_filesPerFolder) {
      state.SkipWithError("the identical trees did not compare equal");
      return;
    }
    benchmark::DoNotOptimize(tree.folderCount());
  }
  state.counters["files"] = 2.0 * g_folders * g_filesPerFolder;
}

void BM_FindPrintf(benchmark::State& state) {
  const std::string command = "find '" + g_root + "/src' '" + g_root + "/dst' -printf '%s %T@\\n' > /dev/null";
  for (auto _ : state) {
    if (std::system(command.c_str()) != 0) {
      state.SkipWithError("find failed");
      return;
    }
  }
}

BENCHMARK(BM_ScanAndCompare)->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.5)->Repetitions(5);
BENCHMARK(BM_FindPrintf)->Unit(benchmark::kMillisecond)->MinWarmUpTime(0.5)->Repetitions(5);

// Keeps the median real time of every benchmark for the closing ratio.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians;
};

void TakeOwnFlags(int& argc, char** argv) {
  int out = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--folders=", 10) == 0) {
      g_folders = std::atoi(argv[i] + 10);
    } else if (std::strncmp(argv[i], "--files=", 8) == 0) {
      g_filesPerFolder = std::atoi(argv[i] + 8);
    } else {
      argv[out++] = argv[i];
    }
  }
  argc = out;
}

}  // namespace

int main(int argc, char** argv) {
  TakeOwnFlags(argc, argv);
  benchmark::Initialize(&argc, argv);

  char tmpl[] = "/tmp/kvbench-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return 1;
  g_root = tmpl;
  std::printf("Generating 2 x %d folders x %d files in %s ...\n", g_folders, g_filesPerFolder, tmpl);
  MakeSide(g_root + "/src");
  MakeSide(g_root + "/dst");

  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  auto scan = reporter.medians.find("BM_ScanAndCompare");
  auto find = reporter.medians.find("BM_FindPrintf");
  if (scan != reporter.medians.end() && find != reporter.medians.end() && find->second > 0) {
    std::printf("\nScan+compare / find (medians): %.3f ms / %.3f ms = %.2f\n", scan->second, find->second,
                scan->second / find->second);
  }
  std::error_code ec;
  fs::remove_all(g_root, ec);
  return 0;
}
