// FTP folder pairs carried out by the copy object beside lftp's mirror, on
// one vsftpd on 127.0.0.1 (the test fixture), in one run and on one disk:
//   small up / down   2,000 files of 1-16 KiB in 20 folders: a pair whose
//                     side 2 is on the server uploads them into new folders
//                     (folder items that create, file items that copy), and
//                     downloads the server's copy into a new local folder;
//                     beside `lftp mirror -R` and `lftp mirror`;
//   big up / down     one file of 1 GiB each way, beside lftp's put and get.
// The job is what the engine carries out for such a pair: per file a fresh
// listing before, the transfer through a temporary name, for an upload a
// listing after and RNFR/RNTO, MDTM for the remote-state record, and at the
// end of every folder "kvftp.log" back to the server.
// Every run is a child process of its own (time and peak memory); the
// tools alternate run by run, every result is checked against its source,
// and the medians and peak memories are reported with the ratios.
//
//   ftpsync_bench [--dir=FOLDER] [--files=N] [--folders=N] [--mib=N] [--rounds=N] [--only=TEXT]
//
// Goals: the 1 GiB file within 1.5x of lftp each way, the small files
// within 4x.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/childrun.h"
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
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&](const char* name) { return arg.substr(std::string(name).size()); };
    if (arg.starts_with("--dir=")) o.dir = value("--dir=");
    else if (arg.starts_with("--files=")) o.files = std::atoi(value("--files=").c_str());
    else if (arg.starts_with("--folders=")) o.folders = std::atoi(value("--folders=").c_str());
    else if (arg.starts_with("--mib=")) o.mib = std::atoll(value("--mib=").c_str());
    else if (arg.starts_with("--rounds=")) o.rounds = std::atoi(value("--rounds=").c_str());
    else if (arg.starts_with("--only=")) o.only = value("--only=");
    else throw std::runtime_error("unknown argument " + arg);
  }
  if (o.files <= 0 || o.folders <= 0 || o.mib <= 0 || o.rounds <= 0) throw std::runtime_error("counts must be positive");
  return o;
}

std::string Win(const fs::path& posix) { return kv::platform::FromPosixPath(posix.string()); }
std::string WinFolder(const fs::path& posix) { return Win(posix) + "\\"; }

std::vector<double> Seconds(const std::vector<ChildRun>& runs) {
  std::vector<double> seconds;
  for (const ChildRun& run : runs) seconds.push_back(run.seconds);
  return seconds;
}

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

// Every file of a below b with the same content, and nothing else in b but
// the remote-state record.
void ExpectSameTree(const fs::path& a, const fs::path& b, const std::string& what) {
  size_t count = 0;
  for (const auto& e : fs::recursive_directory_iterator(a)) {
    if (!e.is_regular_file()) continue;
    const fs::path other = b / fs::relative(e.path(), a);
    if (!fs::exists(other) || kv::test::Sha256OfFile(e.path()) != kv::test::Sha256OfFile(other))
      throw std::runtime_error(what + ": " + other.string() + " is missing or differs");
    ++count;
  }
  size_t theirs = 0;
  for (const auto& e : fs::recursive_directory_iterator(b))
    if (e.is_regular_file() && e.path().filename() != "kvftp.log") ++theirs;
  if (theirs != count) throw std::runtime_error(what + ": " + b.string() + " holds other files too");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = ParseOptions(argc, argv);
    const fs::path work = fs::path(options.dir) / ("kv-ftpsync-bench-" + std::to_string(getpid()));
    const fs::path srv = work / "srv", loc = work / "loc";
    for (const fs::path& p : {srv / "big" / "B", loc / "big" / "B", work / "cache", work / "registry"}) {
      fs::create_directories(p);
    }
    setenv("XDG_CACHE_HOME", (work / "cache").c_str(), 1);
    setenv("KESTROVANE_REGISTRY_DIR", (work / "registry").c_str(), 1);
    const int perFolder = (options.files + options.folders - 1) / options.folders;
    for (int i = 0; i < options.files; ++i) {
      const std::string rel = "F" + std::to_string(i / perFolder) + "/f" + std::to_string(i) + ".dat";
      const int64_t size = 1024 + (static_cast<int64_t>(i) * 7919) % (15 * 1024 + 1);
      for (const fs::path& root : {srv / "tree", loc / "tree"}) {
        fs::create_directories((root / rel).parent_path());
        kv::test::WritePatternFile((root / rel).string(), size);
      }
    }
    kv::test::WritePatternFile((loc / "big" / "B" / "big.bin").string(), options.mib << 20);
    kv::test::WritePatternFile((srv / "big" / "B" / "big.bin").string(), options.mib << 20);
    const std::vector<JobFolder> smallFolders = FoldersOf(loc / "tree");
    const std::vector<JobFolder> bigFolders = FoldersOf(loc / "big");

    kv::test::FtpServer server(kv::test::FtpServerKind::Vsftpd, {.root = srv.string()});
    if (!server.running()) throw std::runtime_error("vsftpd: " + server.skipReason() + server.error());
    const std::string url = "ftp://127.0.0.1:" + std::to_string(server.port());
    const std::string open = "set cmd:fail-exit yes; open -u anonymous,bench@example.org " + url + "; ";

    fs::path target;        // this run's fresh folder (local or under srv)
    std::string remoteOf;   // its server path
    // Each run starts as a first synchronisation of its folders: no record
    // of remote file states from the runs before.
    const auto fresh = [&](const fs::path& parent, int run) {
      fs::remove(srv / "kvftp.log");
      fs::remove_all(work / "FTPLog");
      target = parent / ("run" + std::to_string(run));
      fs::create_directories(target);
      remoteOf = server.RemotePath(fs::relative(target, srv).string());
    };
    struct Job {
      std::string name;
      std::function<void(int run)> prepare;
      std::function<ChildRun()> run;
      std::function<void()> check;
    };
    const auto engine = [&](const fs::path& local, const std::string& remote, const std::vector<JobFolder>& f, bool up) {
      return kv::bench::RunChild([&, local, remote, up](int) {
        EngineRun e(work, server);
        _exit(e.Run(local, remote, f, up));
      });
    };
    const auto lftp = [&](const std::string& command) {
      return kv::bench::RunTool({"lftp", "-c", open + command});
    };
    const std::vector<Job> jobs = {
        {"lftp mirror -R", [&](int r) { fresh(srv / "up", r); },
         [&] { return lftp("mirror -R " + (loc / "tree").string() + " " + remoteOf); },
         [&] { ExpectSameTree(loc / "tree", target, "lftp mirror -R"); }},
        {"engine upload", [&](int r) { fresh(srv / "up", r); },
         [&] { return engine(loc / "tree", remoteOf, smallFolders, true); },
         [&] { ExpectSameTree(loc / "tree", target, "engine upload"); }},
        {"lftp mirror", [&](int r) { fresh(loc / "down", r); },
         [&] { return lftp("mirror " + server.RemotePath("tree") + " " + target.string()); },
         [&] { ExpectSameTree(srv / "tree", target, "lftp mirror"); }},
        {"engine download", [&](int r) { fresh(loc / "down", r); },
         [&] { return engine(target, server.RemotePath("tree"), smallFolders, false); },
         [&] { ExpectSameTree(srv / "tree", target, "engine download"); }},
        {"lftp put big", [&](int r) { fresh(srv / "bigup", r); },
         [&] { return lftp("mirror -R " + (loc / "big").string() + " " + remoteOf); },
         [&] { ExpectSameTree(loc / "big", target, "lftp put"); }},
        {"engine upload big", [&](int r) { fresh(srv / "bigup", r); },
         [&] { return engine(loc / "big", remoteOf, bigFolders, true); },
         [&] { ExpectSameTree(loc / "big", target, "engine upload big"); }},
        {"lftp get big", [&](int r) { fresh(loc / "bigdown", r); },
         [&] { return lftp("mirror " + server.RemotePath("big") + " " + target.string()); },
         [&] { ExpectSameTree(srv / "big", target, "lftp get"); }},
        {"engine download big", [&](int r) { fresh(loc / "bigdown", r); },
         [&] { return engine(target, server.RemotePath("big"), bigFolders, false); },
         [&] { ExpectSameTree(srv / "big", target, "engine download big"); }},
    };

    std::map<std::string, std::vector<ChildRun>> runs;
    int run = 0;
    for (int round = 0; round < options.rounds; ++round) {
      for (size_t pair = 0; pair < jobs.size(); pair += 2) {
        for (size_t k = 0; k < 2; ++k) {
          const Job& job = jobs[pair + (round % 2 == 0 ? k : 1 - k)];
          if (job.name.find(options.only) == std::string::npos) continue;
          job.prepare(++run);
          runs[job.name].push_back(job.run());
          job.check();
          fs::remove_all(target);
        }
      }
    }
    fs::remove_all(work);

    const double smallMib = [&] {
      int64_t bytes = 0;
      for (const JobFolder& f : smallFolders)
        for (const auto& file : f.files) bytes += file.second;
      return static_cast<double>(bytes) / (1 << 20);
    }();
    std::printf("vsftpd on 127.0.0.1: %d files in %d folders (%.1f MiB), one %lld MiB file, %d rounds "
                "(median, throughput, peak RSS)\n",
                options.files, options.folders, smallMib, static_cast<long long>(options.mib), options.rounds);
    // ours / theirs, with the goal (lower is better).
    const auto report = [&](double mib, const char* ours, const char* theirs, double goal) {
      kv::bench::Report r(mib);
      for (const char* name : {theirs, ours})
        if (!runs[name].empty()) r.Line(name, runs[name]);
      if (runs[ours].empty() || runs[theirs].empty()) return;
      const double ratio = kv::bench::Median(Seconds(runs[ours])) / kv::bench::Median(Seconds(runs[theirs]));
      std::printf("  %s / %s: %.2fx (goal %.1fx)%s\n", ours, theirs, ratio, goal, ratio <= goal ? "" : "  ABOVE GOAL");
    };
    report(smallMib, "engine upload", "lftp mirror -R", 4.0);
    report(smallMib, "engine download", "lftp mirror", 4.0);
    report(static_cast<double>(options.mib), "engine upload big", "lftp put big", 1.5);
    report(static_cast<double>(options.mib), "engine download big", "lftp get big", 1.5);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ftpsync_bench: %s\n", e.what());
    return 1;
  }
}
