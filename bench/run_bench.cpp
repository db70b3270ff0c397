// Whole scheduler runs through `runprofile` (a process per run: profile,
// drive check, list build, the registered KestroCom.dll, protocol, clean-up)
// against `rsync -a` on the same trees:
//   1. first sync of 20,000 small files in 200 folders into an empty folder;
//   2. the run again with nothing to do.
// The tools alternate run by run; every result is compared with the source
// (files, folders, contents, times). Reported: the median time of each and
// the peak memory (maximum resident set of the process and the children it
// waited for).
//
//   run_bench [--dir=FOLDER] [--files=N] [--rounds=N]
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/benchtree.h"
#include "bench/childrun.h"
#include "bench/mirrorpair.h"
#include "bench/options.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/program.h"
#include "platform/volumes.h"
#include "shared/profitem.h"

namespace {

namespace fs = std::filesystem;
using namespace kv::bench;

struct Options {
  std::string dir = fs::temp_directory_path().string();
  int files = 20000;
  int rounds = 5;
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  ReadOptions(argc, argv, {{"--dir=", &o.dir}, {"--files=", &o.files}, {"--rounds=", &o.rounds}});
  o.rounds = std::max(1, o.rounds);
  return o;
}

void WriteBytes(const std::string& posix, const std::vector<uint8_t>& bytes) {
  if (!kv::platform::WriteFileAtomic(kv::platform::FromPosixPath(posix), bytes.data(), bytes.size())) {
    throw std::runtime_error("cannot write " + posix);
  }
}

// Work folder W with profile 0000001 mirroring src into dst.
void WriteProfile(const std::string& work, const std::string& src, const std::string& dst) {
  const std::string folder = work + "/Profile/1/";
  fs::create_directories(folder);
  WriteBytes(folder + "SrcDest.kst", MirrorPair(WinFolder(src), WinFolder(dst)).Encode());
  kv::TProfItem profile;
  profile.profileNo = "0000001";
  profile.profileName = "Bench";
  profile.profilePath = WinFolder(folder);
  WriteBytes(work + "/Profile/Pro.kst", profile.Encode());
}

struct Tool {
  std::string name;
  std::string destination;
  std::vector<std::string> command;
  std::vector<double> first, again;
  long maxRssKiB = 0;
};

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options o = ParseOptions(argc, argv);
    const std::string root = o.dir + "/kv-run-bench-" + std::to_string(getpid());
    const std::string src = root + "/src", work = root + "/W";
    fs::create_directories(root + "/registry");
    setenv("KESTROVANE_REGISTRY_DIR", (root + "/registry").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", root.c_str(), 1);
    std::printf("making %d small files in %s\n", o.files, src.c_str());
    MakeSmallFiles(src, o.files);
    const TreeDigest source = Digest(src);

    const std::string bin = *kv::platform::ToPosixPath(kv::platform::ProgramFolder());
    RunTool({bin + "regsvr32", "/s", bin + "KestroCom.dll"});
    std::vector<Tool> tools = {
        {"runprofile", root + "/dst-kv", {bin + "runprofile", work, "0000001"}, {}, {}, 0},
        {"rsync -a", root + "/dst-rsync", {"rsync", "-a", src + "/", root + "/dst-rsync/"}, {}, {}, 0},
    };
    WriteProfile(work, src, tools[0].destination);

    for (int round = 0; round < o.rounds; ++round) {
      for (const bool firstSync : {true, false}) {
        for (size_t k = 0; k < tools.size(); ++k) {
          Tool& tool = tools[(k + static_cast<size_t>(round)) % tools.size()];
          if (firstSync) {
            fs::remove_all(tool.destination);
            fs::create_directories(tool.destination);
          }
          sync();
          const ChildRun run = RunTool(tool.command);
          (firstSync ? tool.first : tool.again).push_back(run.seconds);
          tool.maxRssKiB = std::max(tool.maxRssKiB, run.peakKiB);
          ExpectSameTree(source, tool.destination, tool.name);
        }
      }
    }
    for (const Tool& tool : tools) {
      std::printf("%-10s first sync %7.3f s   re-run %7.3f s   peak memory %6ld KiB\n", tool.name.c_str(),
                  Median(tool.first), Median(tool.again), tool.maxRssKiB);
    }
    std::printf("ratio runprofile / rsync -a: first sync %.2f (target 1.1), re-run %.2f (target 1.0)\n",
                Median(tools[0].first) / Median(tools[1].first), Median(tools[0].again) / Median(tools[1].again));
    fs::remove_all(root);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "run_bench: %s\n", e.what());
    return 2;
  }
}
