// FTP transfers of TMFtp against curl and lftp, to and from one vsftpd on
// 127.0.0.1 (the test fixture), in one run and on one disk:
//   - one large file: TMFtp.GetFile / PutFile beside curl (get, -T);
//   - many small files of 1-16 KiB: a listing and TMFtp.GetFile / PutFile
//     per file beside lftp's mirror / mirror -R.
// Every run is a child process of its own, so that its peak memory can be
// read; the tools alternate run by run, every result is checked, and the
// medians and peak memories are reported with the ratios.
//
//   ftp_bench [--dir=FOLDER] [--mib=N] [--files=N] [--rounds=N]
//
// Goals: within 1.2x of curl's time each way, within 1.5x of lftp's.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/childrun.h"
#include "bench/options.h"
#include "ftp/ftp.h"
#include "platform/volumes.h"
#include "testsupport/ftpserver.h"
#include "testsupport/patternfile.h"
#include "testsupport/pump.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  std::string dir = fs::temp_directory_path().string();
  int64_t mib = 1024;
  int files = 2000;
  int rounds = 5;
};

Options ParseOptions(int argc, char** argv) {
  Options o;
  kv::bench::ReadOptions(argc, argv,
                         {{"--dir=", &o.dir}, {"--mib=", &o.mib}, {"--files=", &o.files}, {"--rounds=", &o.rounds}});
  if (o.mib <= 0 || o.files <= 0 || o.rounds <= 0) throw std::runtime_error("sizes and rounds must be positive");
  return o;
}

struct Measure {
  double seconds = 0;
  long peakKiB = 0;
};

// Runs fn in a child process; its time (from the fork to its end) and peak
// resident memory. A child that fails fails the benchmark.
Measure InChild(const std::string& what, const std::function<int()>& fn) {
  std::fflush(nullptr);
  const Clock::time_point start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("cannot fork");
  if (pid == 0) _exit(fn());
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) throw std::runtime_error("lost the child of " + what);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(what + " failed (status " + std::to_string(status) + ")");
  return {seconds, usage.ru_maxrss};
}

// A program with its arguments, quietly, as the child's whole work.
int Exec(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const int quiet = open("/dev/null", O_WRONLY);
  dup2(quiet, STDOUT_FILENO);
  execvp(argv[0], argv.data());
  return 127;
}

// ---- TMFtp as the benchmark drives it -------------------------------------------------

class Client {
 public:
  explicit Client(const kv::test::FtpServer& server) {
    ftp_.SetServer(server.host());
    ftp_.Port = static_cast<uint16_t>(server.port());
    ftp_.Username = server.user();
    ftp_.Password = server.password();
    ftp_.Passive = true;
    ftp_.Cache = false;
    ftp_.Retries = 0;
    ftp_.SetNoopInterval(0);
    ftp_.OnFtpError = [this](kv::TMFtp&, kv::FtpError error, const std::string& text) {
      std::fprintf(stderr, "TMFtp error %d: %s\n", error, text.c_str());
      failed_ = true;
    };
    const auto done = [this](kv::TMFtp&) { done_ = true; };
    ftp_.OnLoggedIn = ftp_.OnDirectoryChanged = ftp_.OnListingDone = ftp_.OnFileReceived = ftp_.OnFileStored = done;
  }

  // Starts the operation and serves the loop until it ended; false on an
  // error.
  bool Run(const std::function<void(kv::TMFtp&)>& start) {
    done_ = false;
    start(ftp_);
    return kv::test::PumpUntil([&] { return done_ || failed_; }, std::chrono::minutes(30)) && !failed_;
  }
  kv::TMFtp& ftp() { return ftp_; }

 private:
  kv::TMFtp ftp_;
  bool done_ = false;
  bool failed_ = false;
};

std::string Win(const fs::path& posix) { return kv::platform::FromPosixPath(posix.string()); }

int TMFtpTransfer(const kv::test::FtpServer& server, const std::function<bool(Client&)>& work) {
  Client client(server);
  if (!client.Run([](kv::TMFtp& f) { f.Login(); })) return 1;
  return work(client) ? 0 : 2;
}

// The engine's way with a folder: change into it, list it, then one
// transfer per file.
bool TMFtpGetFolder(Client& client, const std::string& remote, const fs::path& local) {
  if (!client.Run([&](kv::TMFtp& f) { f.ChangeDirectory(remote); })) return false;
  if (!client.Run([](kv::TMFtp& f) { f.List(); })) return false;
  const kv::TMFtpFileInfoList& files = client.ftp().Files();
  std::vector<std::string> names;
  for (int32_t i = 0; i < files.Count(); ++i) names.push_back(files.Item(i).name);
  for (const std::string& name : names)
    if (!client.Run([&](kv::TMFtp& f) { f.GetFile(name, Win(local / name)); })) return false;
  return true;
}

bool TMFtpPutFolder(Client& client, const fs::path& local, const std::string& remote) {
  if (!client.Run([&](kv::TMFtp& f) { f.ChangeDirectory(remote); })) return false;
  if (!client.Run([](kv::TMFtp& f) { f.List(); })) return false;
  for (const auto& entry : fs::directory_iterator(local)) {
    const std::string name = entry.path().filename().string();
    if (!client.Run([&](kv::TMFtp& f) { f.PutFile(Win(entry.path()), name); })) return false;
  }
  return true;
}

// ---- Checks -------------------------------------------------------------------------------

void ExpectSameFile(const fs::path& a, const fs::path& b, const std::string& what) {
  if (kv::test::Sha256OfFile(a.string()) != kv::test::Sha256OfFile(b.string()))
    throw std::runtime_error(what + ": " + b.string() + " differs from " + a.string());
}

void ExpectSameFolder(const fs::path& a, const fs::path& b, const std::string& what) {
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator(a)) {
    const fs::path other = b / entry.path().filename();
    std::string x, y;
    for (auto [path, text] : {std::pair{entry.path(), &x}, std::pair{other, &y}}) {
      FILE* f = std::fopen(path.c_str(), "rb");
      if (!f) throw std::runtime_error(what + ": " + path.string() + " is missing");
      char buffer[16384];
      for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text->append(buffer, n);
      std::fclose(f);
    }
    if (x != y) throw std::runtime_error(what + ": " + other.string() + " differs");
    ++count;
  }
  if (count != static_cast<size_t>(std::distance(fs::directory_iterator(b), fs::directory_iterator())))
    throw std::runtime_error(what + ": the folders hold different files");
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = ParseOptions(argc, argv);
    const fs::path work = fs::path(options.dir) / ("kv-ftp-bench-" + std::to_string(getpid()));
    const fs::path srv = work / "srv", local = work / "local";
    fs::create_directories(srv / "tree");
    fs::create_directories(local / "tree");
    const int64_t bytes = options.mib << 20;
    kv::test::WritePatternFile((srv / "big.bin").string(), bytes);
    kv::test::WritePatternFile((local / "big.bin").string(), bytes);
    for (int i = 0; i < options.files; ++i) {
      const std::string name = "f" + std::to_string(i) + ".dat";
      const int64_t size = 1024 + (static_cast<int64_t>(i) * 7919) % (15 * 1024 + 1);
      kv::test::WritePatternFile((srv / "tree" / name).string(), size);
      kv::test::WritePatternFile((local / "tree" / name).string(), size);
    }

    kv::test::FtpServer server(kv::test::FtpServerKind::Vsftpd, {.root = srv.string()});
    if (!server.running()) throw std::runtime_error("vsftpd: " + server.skipReason() + server.error());
    const std::string url = "ftp://127.0.0.1:" + std::to_string(server.port()) + "/";
    const std::string login = "anonymous,bench@example.org";

    struct Job {
      std::string name;
      std::function<Measure()> run;
      std::function<void()> check;
    };
    // Small files go to a folder of their own in every run and are deleted
    // only at the end: the file system makes new files slowly right after
    // many were deleted, and whichever tool ran next would pay for that.
    const fs::path got = work / "got.bin";
    fs::path gotTree, upTree;
    std::string upName;
    const std::vector<Job> jobs = {
        {"curl get", [&] { return InChild("curl get", [&] { return Exec({"curl", "-s", "-o", got.string(), url + "big.bin"}); }); },
         [&] { ExpectSameFile(srv / "big.bin", got, "curl get"); }},
        {"TMFtp.GetFile",
         [&] {
           return InChild("TMFtp.GetFile", [&] {
             return TMFtpTransfer(server, [&](Client& c) {
               return c.Run([&](kv::TMFtp& f) { f.GetFile("big.bin", Win(got)); });
             });
           });
         },
         [&] { ExpectSameFile(srv / "big.bin", got, "TMFtp.GetFile"); }},
        {"curl -T", [&] { return InChild("curl -T", [&] { return Exec({"curl", "-s", "-T", (local / "big.bin").string(), url + "up.bin"}); }); },
         [&] { ExpectSameFile(local / "big.bin", srv / "up.bin", "curl -T"); }},
        {"TMFtp.PutFile",
         [&] {
           return InChild("TMFtp.PutFile", [&] {
             return TMFtpTransfer(server, [&](Client& c) {
               return c.Run([&](kv::TMFtp& f) { f.PutFile(Win(local / "big.bin"), "up.bin"); });
             });
           });
         },
         [&] { ExpectSameFile(local / "big.bin", srv / "up.bin", "TMFtp.PutFile"); }},
        {"lftp mirror",
         [&] {
           return InChild("lftp mirror", [&] {
             return Exec({"lftp", "-c", "set cmd:fail-exit yes; open -u " + login + " " + url + "; mirror tree " +
                                           gotTree.string()});
           });
         },
         [&] { ExpectSameFolder(srv / "tree", gotTree, "lftp mirror"); }},
        {"TMFtp get files",
         [&] {
           return InChild("TMFtp get files", [&] {
             return TMFtpTransfer(server, [&](Client& c) { return TMFtpGetFolder(c, server.RemotePath("tree"), gotTree); });
           });
         },
         [&] { ExpectSameFolder(srv / "tree", gotTree, "TMFtp get files"); }},
        {"lftp mirror -R",
         [&] {
           return InChild("lftp mirror -R", [&] {
             return Exec({"lftp", "-c", "set cmd:fail-exit yes; open -u " + login + " " + url + "; mirror -R " +
                                           (local / "tree").string() + " " + upName});
           });
         },
         [&] { ExpectSameFolder(local / "tree", upTree, "lftp mirror -R"); }},
        {"TMFtp put files",
         [&] {
           return InChild("TMFtp put files", [&] {
             return TMFtpTransfer(server, [&](Client& c) { return TMFtpPutFolder(c, local / "tree", server.RemotePath(upName)); });
           });
         },
         [&] { ExpectSameFolder(local / "tree", upTree, "TMFtp put files"); }},
    };

    // Pairs of a tool and TMFtp, each pair in alternating order.
    std::map<std::string, std::vector<double>> times;
    std::map<std::string, long> peaks;
    int run = 0;
    for (int round = 0; round < options.rounds; ++round) {
      for (size_t pair = 0; pair < jobs.size(); pair += 2) {
        for (size_t k = 0; k < 2; ++k) {
          const Job& job = jobs[pair + (round % 2 == 0 ? k : 1 - k)];
          fs::remove(got);
          fs::remove(srv / "up.bin");
          gotTree = work / ("got" + std::to_string(++run));
          upName = "up" + std::to_string(run);
          upTree = srv / upName;
          fs::create_directories(gotTree);
          fs::create_directories(upTree);
          const Measure m = job.run();
          job.check();
          times[job.name].push_back(m.seconds);
          peaks[job.name] = std::max(peaks[job.name], m.peakKiB);
        }
      }
    }
    fs::remove_all(work);

    std::printf("vsftpd on 127.0.0.1, %lld MiB file, %d files of 1-16 KiB, %d rounds (median; peak RSS)\n",
                static_cast<long long>(options.mib), options.files, options.rounds);
    for (const Job& job : jobs)
      std::printf("  %-16s %8.3f s  %7ld KiB\n", job.name.c_str(), kv::bench::Median(times[job.name]), peaks[job.name]);
    const auto ratio = [&](const std::string& ours, const std::string& theirs, double goal) {
      const double r = kv::bench::Median(times[ours]) / kv::bench::Median(times[theirs]);
      std::printf("  %-16s / %-16s %5.2fx (goal %.1fx)%s\n", ours.c_str(), theirs.c_str(), r, goal,
                  r <= goal ? "" : "  ABOVE GOAL");
    };
    ratio("TMFtp.GetFile", "curl get", 1.2);
    ratio("TMFtp.PutFile", "curl -T", 1.2);
    ratio("TMFtp get files", "lftp mirror", 1.5);
    ratio("TMFtp put files", "lftp mirror -R", 1.5);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ftp_bench: %s\n", e.what());
    return 1;
  }
}
