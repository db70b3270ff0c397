// FTP folder pairs carried out by the copy object beside lftp's mirror, on
// one vsftpd on 127.0.0.1 (the test fixture), in one run and on one disk:
//   small up / down   2,000 files of 1-16 KiB in 20 folders: a pair whose
//                     side 2 is on the server uploads them into new folders
//                     (folder items that create, file items that copy), and
//                     downloads the server's copy into a new local folder;
//                     beside `lftp mirror -R` and `lftp mirror`;
//   big up / down     one file of 1 GiB each way, the same way.
// The job is what the engine carries out for such a pair: a download lists
// the folder before its transfer, an upload goes to a temporary name, lists
// the folder after it and renames (RNFR/RNTO); MDTM for the remote-state
// record, and at the end of every folder "kvftp.log" back to the server.
// Every run is a child process of its own (time and peak memory) into a
// fresh folder; lftp and the engine alternate run by run, every result is
// checked against its source, and the medians and peak memories are
// reported with the throughput ratios.
//
//   ftpsync_bench [--dir=FOLDER] [--files=N] [--folders=N] [--mib=N] [--rounds=N] [--only=TEXT]
//
// Goals: the 1 GiB file within 1.5x of lftp's time each way (a ratio of at
// least 0.67), the small files within 4x (0.25).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "bench/childrun.h"
#include "bench/options.h"
#include "copyengine/copyobj.h"
#include "platform/volumes.h"
#include "shared/folderpair.h"
#include "shared/synccodes.h"
#include "shared/syncitem.h"
#include "testsupport/ftpserver.h"
#include "testsupport/patternfile.h"

namespace {

namespace fs = std::filesystem;
using kv::bench::ChildRun;

struct Options {
  std::string dir = fs::temp_directory_path().string();
  int files = 2000;
  int folders = 20;
  int64_t mib = 1024;
  int rounds = 3;
  std::string only;  // runs only the jobs whose names hold this text
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  kv::bench::ReadOptions(argc, argv,
                         {{"--dir=", &o.dir},
                          {"--files=", &o.files},
                          {"--folders=", &o.folders},
                          {"--mib=", &o.mib},
                          {"--rounds=", &o.rounds},
                          {"--only=", &o.only}});
  if (o.files <= 0 || o.folders <= 0 || o.mib <= 0 || o.rounds <= 0) throw std::runtime_error("counts must be positive");
  return o;
}

std::string Win(const fs::path& posix) { return kv::platform::FromPosixPath(posix.string()); }
std::string WinFolder(const fs::path& posix) { return Win(posix) + "\\"; }

// ---- The engine ------------------------------------------------------------------------------

// What one folder of the job holds: its name and its files with sizes.
struct JobFolder {
  std::string name;
  std::vector<std::pair<std::string, int64_t>> files;
};

std::vector<JobFolder> FoldersOf(const fs::path& root) {
  std::vector<JobFolder> folders;
  for (const auto& d : fs::directory_iterator(root)) {
    if (!d.is_directory()) continue;
    JobFolder folder{d.path().filename().string(), {}};
    for (const auto& f : fs::directory_iterator(d.path()))
      folder.files.emplace_back(f.path().filename().string(), static_cast<int64_t>(f.file_size()));
    folders.push_back(std::move(folder));
  }
  return folders;
}

// A profile whose pair has its side 2 on the server: side 1 is local, and
// the job copies every file of `folders` from the side it lies on into a
// folder the other side lacks.
class EngineRun {
 public:
  EngineRun(const fs::path& work, const kv::test::FtpServer& server) : work_(work), server_(server) {}

  // up: local folder `local` (side 1) onto the server's folder `remote`;
  // otherwise from `remote` into `local`.
  int Run(const fs::path& local, const std::string& remote, const std::vector<JobFolder>& folders, bool up) {
    const fs::path profile = work_ / "Profile" / "1";
    fs::create_directories(profile / "AUTOptk");
    const std::string remoteRoot = "ftp://127.0.0.1" + remote + "/";
    WritePairs(profile / "SrcDest.kst", WinFolder(local), remoteRoot);
    WriteJob(profile / "job.tmp", WinFolder(local), remoteRoot, folders, up);
    const std::string ptk = (profile / "AUTOptk" / "00000.ptk").string();
    fs::remove(ptk);
    { std::FILE* f = std::fopen(ptk.c_str(), "wb"); if (f) std::fclose(f); }
    auto* obj = new kv::TCopyObj;
    obj->AddRef();
    kv::platform::HRESULT hr = obj->Set_PtkFile(Win(ptk).c_str());
    if (hr == 0) hr = obj->Set_Hidden(kv::platform::VARIANT_TRUE);
    if (hr == 0) hr = obj->Set_SrcFile(Win(profile / "job.tmp").c_str());
    if (hr == 0) hr = obj->Set_MainFile(Win(profile / "SrcDest.kst").c_str());
    if (hr == 0) hr = obj->CopyFiles();
    obj->Release();
    return hr == 0 ? 0 : 1;
  }

 private:
  void WritePairs(const fs::path& path, const std::string& local, const std::string& remote) const {
    kv::TFolderPair pair;
    pair.sourceRoot = local;
    pair.destinationRoot = remote;
    pair.active = 1;
    pair.subfolders = 1;
    pair.pairKind = kv::kPairKindFtpDestination;
    pair.destinationSite.host = "127.0.0.1";
    pair.destinationSite.port = server_.port();
    pair.destinationSite.user = server_.user();
    pair.destinationSite.password = server_.password();
    const std::vector<uint8_t> bytes = pair.Encode();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) throw std::runtime_error("cannot write pairs");
    std::fclose(f);
  }

  static void WriteJob(const fs::path& path, const std::string& local, const std::string& remote,
                       const std::vector<JobFolder>& folders, bool up) {
    std::vector<kv::TSyncItem> items;
    for (const JobFolder& folder : folders) {
      kv::TSyncItem f;
      f.source = local + folder.name + "\\";
      f.destination = remote + folder.name + "/";
      f.rowKind = 2;
      f.action = kv::kActionCreateFolder;
      f.stateCode = up ? kv::kCodeFolderOnlyInSource : kv::kCodeFolderOnlyInDestination;
      items.push_back(f);
      for (const auto& [name, size] : folder.files) {
        kv::TSyncItem i;
        (up ? i.source : i.destination) = name;
        (up ? i.sourceSize : i.destinationSize) = size;
        i.action = kv::kActionCopy;
        i.stateCode = kv::JobStateCode(up ? kv::kStateOnlyInSource : kv::kStateOnlyInDestination);
        i.direction = up ? 1 : 2;
        items.push_back(i);
      }
    }
    kv::WriteJobFile(Win(path), items);
  }

  fs::path work_;
  const kv::test::FtpServer& server_;
};

// ---- Checks ----------------------------------------------------------------------------------

// Every file below root by its path relative to root, with its SHA-256;
// the remote-state record left out.
std::map<std::string, std::string> TreeDigests(const fs::path& root) {
  std::map<std::string, std::string> digests;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file() && e.path().filename() != "kvftp.log")
      digests[fs::relative(e.path(), root).string()] = kv::test::Sha256OfFile(e.path());
  }
  return digests;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = ParseOptions(argc, argv);
    const fs::path work = fs::path(options.dir) / ("kv-ftpsync-bench-" + std::to_string(getpid()));
    const fs::path srv = work / "srv", loc = work / "loc";
    // 2 GiB of data go also when a run fails.
    struct RemoveAtEnd {
      fs::path path;
      ~RemoveAtEnd() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
      }
    } removeAtEnd{work};
    for (const fs::path& p : {srv / "big" / "B", loc / "big" / "B", work / "cache", work / "registry"}) {
      fs::create_directories(p);
    }
    setenv("XDG_CACHE_HOME", (work / "cache").c_str(), 1);
    setenv("KESTROVANE_REGISTRY_DIR", (work / "registry").c_str(), 1);
    const int perFolder = (options.files + options.folders - 1) / options.folders;
    int64_t smallBytes = 0;
    for (int i = 0; i < options.files; ++i) {
      const std::string rel = "F" + std::to_string(i / perFolder) + "/f" + std::to_string(i) + ".dat";
      const int64_t size = 1024 + (static_cast<int64_t>(i) * 7919) % (15 * 1024 + 1);
      for (const fs::path& root : {srv / "tree", loc / "tree"}) {
        fs::create_directories((root / rel).parent_path());
        kv::test::WritePatternFile((root / rel).string(), size);
      }
      smallBytes += size;
    }
    kv::test::WritePatternFile((loc / "big" / "B" / "big.bin").string(), options.mib << 20);
    kv::test::WritePatternFile((srv / "big" / "B" / "big.bin").string(), options.mib << 20);
    const std::vector<JobFolder> smallFolders = FoldersOf(loc / "tree");
    const std::vector<JobFolder> bigFolders = FoldersOf(loc / "big");
    // Both sides hold the same pattern files.
    const std::map<std::string, std::string> smallDigests = TreeDigests(loc / "tree");
    const std::map<std::string, std::string> bigDigests = TreeDigests(loc / "big");

    kv::test::FtpServer server(kv::test::FtpServerKind::Vsftpd, {.root = srv.string()});
    if (!server.running()) throw std::runtime_error("vsftpd: " + server.skipReason() + server.error());
    const std::string url = "ftp://127.0.0.1:" + std::to_string(server.port());
    const std::string open = "set cmd:fail-exit yes; open -u anonymous,bench@example.org " + url + "; ";

    // A run of one tool: into a fresh folder below parent (local, or on the
    // server), as a first synchronisation (no record of remote file states
    // from the runs before); its result checked and then removed.
    using Digests = std::map<std::string, std::string>;
    using Start = std::function<ChildRun(const fs::path& target, const std::string& remoteTarget)>;
    int runNumber = 0;
    const auto runner = [&](const std::string& name, const fs::path& parent, const Digests* expected, Start start) {
      return kv::bench::Runner{name, "", [&, name, parent, expected, start] {
        fs::remove(srv / "kvftp.log");
        fs::remove_all(work / "FTPLog");
        const fs::path target = parent / ("run" + std::to_string(++runNumber));
        fs::create_directories(target);
        const ChildRun run = start(target, server.RemotePath(fs::relative(target, srv).string()));
        if (TreeDigests(target) != *expected) throw std::runtime_error(name + ": " + target.string() + " differs from its source");
        fs::remove_all(target);
        return kv::bench::Measured{run.seconds, run.peakKiB, {}};
      }, {}};
    };
    const auto engine = [&](const fs::path& local, const std::string& remote, const std::vector<JobFolder>& f, bool up) {
      // The child never unwinds into main: that would stop the server and
      // remove the trees under the parent's feet.
      return kv::bench::RunChild([&](int) {
        try {
          _exit(EngineRun(work, server).Run(local, remote, f, up));
        } catch (...) {
          _exit(2);
        }
      });
    };
    const auto lftp = [&](const std::string& command) { return kv::bench::RunTool({"lftp", "-c", open + command}); };
    // Pairs of lftp and the engine on the same job, alternating run by run:
    // the small files up and down, then the large one.
    std::vector<std::vector<kv::bench::Runner>> pairs;
    for (const bool big : {false, true}) {
      for (const bool up : {true, false}) {
        const std::string tree = big ? "big" : "tree", suffix = big ? " big" : "";
        const fs::path parent = up ? srv / (tree + "-up") : loc / (tree + "-down");
        const Digests* digests = big ? &bigDigests : &smallDigests;
        const std::vector<JobFolder>* folders = big ? &bigFolders : &smallFolders;
        const std::string from = up ? (loc / tree).string() : server.RemotePath(tree);
        pairs.push_back({runner((up ? "lftp mirror -R" : "lftp mirror") + suffix, parent, digests,
                                [&, up, from](const fs::path& to, const std::string& remoteTo) {
                                  return lftp((up ? "mirror -R " : "mirror ") + from + " " + (up ? remoteTo : to.string()));
                                }),
                         runner((up ? "engine upload" : "engine download") + suffix, parent, digests,
                                [&, up, from, folders](const fs::path& to, const std::string& remoteTo) {
                                  return up ? engine(from, remoteTo, *folders, true) : engine(to, from, *folders, false);
                                })});
      }
    }
    for (std::vector<kv::bench::Runner>& pair : pairs) {
      std::erase_if(pair, [&](const kv::bench::Runner& r) { return r.name.find(options.only) == std::string::npos; });
      kv::bench::RunRounds(pair, options.rounds);
    }

    std::printf("vsftpd on 127.0.0.1: %d files in %d folders (%.1f MiB), one %lld MiB file, %d rounds, "
                "each run in a child process (median, throughput, peak RSS)\n",
                options.files, options.folders, static_cast<double>(smallBytes) / (1 << 20),
                static_cast<long long>(options.mib), options.rounds);
    // Throughput ratios: lftp's time over the engine's, at least 1/4 for the
    // small files and 1/1.5 for the large one.
    for (const std::vector<kv::bench::Runner>& pair : pairs) {
      if (pair.empty()) continue;
      const bool big = pair.front().name.ends_with("big");
      kv::bench::Report report(big ? static_cast<double>(options.mib) : static_cast<double>(smallBytes) / (1 << 20));
      for (const kv::bench::Runner& r : pair) report.Line(r.name, r.results);
      if (pair.size() == 2) report.Ratio(pair[1].name, pair[0].name, big ? 1 / 1.5 : 1 / 4.0);
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ftpsync_bench: %s\n", e.what());
    return 1;
  }
}
