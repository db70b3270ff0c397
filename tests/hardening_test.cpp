// Whole runs under the conditions users meet after years: a run killed at
// any moment, a disk that fills up while the stamps are merged, files named
// like the engine's old temporary names, a file renamed only in case. The
// run is always the scheduler's: the list builder, then the engine from the
// registered KestroCom.dll.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "copyengine/oldstamp.h"
#include "platform/files.h"
#include "shared/oldstamp.h"
#include "tests/endtoend_fixture.h"

namespace kv {
namespace {

using namespace test;
using Clock = std::chrono::steady_clock;

const time_t kThen = LocalEpoch(2024, 3, 4, 10, 0, 0);
const time_t kLater = LocalEpoch(2024, 5, 6, 12, 0, 0);

// Copy what is only or newer on either side to the other.
FolderPairSpec TwoWayPair(const std::string& src, const std::string& dst) {
  FolderPairSpec pair;
  pair.source = src;
  pair.destination = dst;
  pair.Strategy(8, 1, 1).Strategy(7, 1, 1).Strategy(1, 1, 1).Strategy(0, 2, 1);
  pair.Strategy(2, 1, 1).Strategy(3, 2, 1);
  return pair;
}

FolderPairSpec MirrorPair(const std::string& src, const std::string& dst) {
  FolderPairSpec pair;
  pair.source = src;
  pair.destination = dst;
  pair.Strategy(8, 1, 1).Strategy(7, 1, 2).Strategy(1, 1, 1).Strategy(0, 1, 2);
  for (int state : {2, 3, 4, 5, 6}) pair.Strategy(state, 1, 1);
  return pair;
}

// Runs fn in a child process and waits for it; its exit status, or -1 when
// it was killed. killAfter: SIGKILL that long after the start.
int InChild(const std::function<int()>& fn, std::chrono::microseconds killAfter = std::chrono::microseconds::max()) {
  const pid_t pid = fork();
  if (pid == 0) _exit(fn() & 0xFF);
  if (killAfter != std::chrono::microseconds::max()) {
    std::this_thread::sleep_for(killAfter);
    kill(pid, SIGKILL);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Hardening : public EndToEnd {
 protected:
  // A whole scheduler run; 0 when the engine succeeded.
  int Sync(bool oldStamps = false, bool hidden = true) {
    const std::string job = BuildJob();
    return RunEngine(job, oldStamps, hidden) == S_OK ? 0 : 1;
  }
  std::vector<std::string> Temporaries(const std::string& rel) const {
    return platform::ListFolder(tree.WinFolder(rel)).temporaries;
  }
};

// --- Killed in the middle of a copy ----------------------------------------------------------

constexpr int64_t kBigMiB = 400;
constexpr int kKillMoments = 20;

// A big file whose every MiB says which file and which MiB it is: a file cut
// off is shorter, one mixed of two versions has the other version's mark.
void WriteBig(const std::string& posix, char version, time_t mtime) {
  const int fd = open(posix.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  std::vector<char> block(1 << 20);
  for (int64_t m = 0; m < kBigMiB; ++m) {
    std::memset(block.data(), version, block.size());
    std::memcpy(block.data(), &m, sizeof m);
    ASSERT_EQ(write(fd, block.data(), block.size()), static_cast<ssize_t>(block.size()));
  }
  close(fd);
  const struct timespec times[2] = {{0, UTIME_OMIT}, {mtime, 0}};
  utimensat(AT_FDCWD, posix.c_str(), times, 0);
}

// Whole and of one version: the size, and every MiB's mark.
bool IsWhole(const std::string& posix, char version) {
  const int fd = open(posix.c_str(), O_RDONLY);
  if (fd < 0) return false;
  bool whole = lseek(fd, 0, SEEK_END) == kBigMiB << 20;
  for (int64_t m = 0; whole && m < kBigMiB; ++m) {
    char mark[16];
    whole = pread(fd, mark, sizeof mark, m << 20) == static_cast<ssize_t>(sizeof mark) &&
            std::memcmp(mark, &m, sizeof m) == 0 && mark[15] == version;
  }
  close(fd);
  return whole;
}

bool Exists(const std::string& posix) { return access(posix.c_str(), F_OK) == 0; }

class KilledRuns : public Hardening {
 protected:
  void SetUp() override {
    Hardening::SetUp();
    // On a file system in memory where root may mount one: 40 runs of
    // 400 MiB are a lot for a disk.
    if (IsRoot()) {
      disk_.emplace(tree.Posix("data"), "2g");
      tree.Mkdir("data/src");
      tree.Mkdir("data/dst");
    }
    WriteProfile(TwoWayPair(Src(), Dst()), false);
  }

  // Kills the run at kKillMoments moments spread over its whole length
  // (measured first); after each kill, prepare() has put the trees back, and
  // check() looks at what the kill left before the next run completes.
  void KillAtManyMoments(const std::function<void()>& prepare, const std::function<void()>& check) {
    prepare();
    const auto start = Clock::now();
    ASSERT_EQ(InChild([&] { return Sync(); }), 0);
    const auto length = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    for (int moment = 0; moment < kKillMoments; ++moment) {
      SCOPED_TRACE(testing::Message() << "killed after " << moment + 1 << "/" << kKillMoments + 1 << " of the run");
      prepare();
      InChild([&] { return Sync(); }, length * (moment + 1) / (kKillMoments + 1));
      check();
      // The next run completes, and removes what the killed one left.
      ASSERT_EQ(InChild([&] { return Sync(); }), 0);
      EXPECT_EQ(Temporaries("data/dst"), std::vector<std::string>{});
    }
  }

  std::optional<ScopedTmpfs> disk_;
};

TEST_F(KilledRuns, ANewFileIsNeverLeftCutOffUnderItsName) {
  WriteBig(tree.Posix("data/src/new.bin"), 'N', kThen);
  KillAtManyMoments([&] { std::remove(tree.Posix("data/dst/new.bin").c_str()); },
                    [&] {
                      const std::string copy = tree.Posix("data/dst/new.bin");
                      EXPECT_TRUE(!Exists(copy) || IsWhole(copy, 'N'));
                      // Two-way: what the kill left must never come back over the source.
                      ASSERT_EQ(InChild([&] { return Sync(); }), 0);
                      EXPECT_TRUE(IsWhole(tree.Posix("data/src/new.bin"), 'N'));
                      EXPECT_TRUE(IsWhole(copy, 'N'));
                    });
}

TEST_F(KilledRuns, AReplacedFileIsEitherTheOldOneOrTheNewOne) {
  WriteBig(tree.Posix("data/src/big.bin"), 'B', kLater);
  KillAtManyMoments([&] { WriteBig(tree.Posix("data/dst/big.bin"), 'A', kThen); },
                    [&] {
                      const std::string copy = tree.Posix("data/dst/big.bin");
                      EXPECT_TRUE(IsWhole(copy, 'A') || IsWhole(copy, 'B'));
                      ASSERT_EQ(InChild([&] { return Sync(); }), 0);
                      EXPECT_TRUE(IsWhole(tree.Posix("data/src/big.bin"), 'B'));
                      EXPECT_TRUE(IsWhole(copy, 'B'));
                    });
}

// --- The old stamps through kills and a full disk -----------------------------------------------

constexpr int kEarlierStamps = 200;

// Files stamped by earlier runs, equal on both sides; a both-sides edit of
// one of them must be found as such (state 6, code 7) as long as the
// stamps survive.
class StampHistory : public Hardening {
 protected:
  void SetUp() override {
    Hardening::SetUp();
    WriteProfile(TwoWayPair(Src(), Dst()), true);
    GoldenOldStamps history;
    history.Block(Src(), Dst(), kEarlierStamps);
    for (int i = 0; i < kEarlierStamps; ++i) {
      const std::string name = "h" + std::to_string(i) + ".txt";
      File("data/src/" + name, "earlier", kThen);
      File("data/dst/" + name, "earlier", kThen);
      history.Entry(name, static_cast<uint64_t>(FileTimeOfEpoch(kThen)));
    }
    history.WriteTo(tree.Posix(profileRel + "OS.vrl"));
  }

  // Something for the next run to copy, so that it has stamps to merge.
  void NewFiles() {
    ++round_;
    for (int i = 0; i < 3; ++i) File("data/src/n" + std::to_string(round_) + "-" + std::to_string(i), "n", kLater);
  }

  void ExpectEveryEarlierStamp() {
    const TOldStampIndex index = TOldStampIndex::Load(tree.Win(profileRel + "OS.vrl"));
    int found = 0;
    for (int i = 0; i < kEarlierStamps; ++i) {
      found += index.Lookup(Src(), Dst(), "h" + std::to_string(i) + ".txt") == FileTimeOfEpoch(kThen) ? 1 : 0;
    }
    EXPECT_EQ(found, kEarlierStamps);
  }

  // Edits one file on both sides; the list must hold it as changed on both.
  void ExpectBothSidesEditIsAConflict() {
    File("data/src/h7.txt", "edited here", kLater);
    File("data/dst/h7.txt", "and there", kLater + 60);
    const std::string job = BuildJob();
    int code = 0;
    for (const JobRecord& r : DecodeJobFile(JobPosix(job))) code = r.source == "h7.txt" ? r.stateCode : code;
    platform::DeleteFile(job);
    EXPECT_EQ(code, 7);
    File("data/src/h7.txt", "earlier", kThen);
    File("data/dst/h7.txt", "earlier", kThen);
  }

  int round_ = 0;
};

// A merge window that kills its process at one step of the merge.
class KillingMergeView : public IOldStampMergeView {
 public:
  explicit KillingMergeView(int step) : step_(step) {}
  void Begin(bool, bool) override { At(0); }
  void ShowFolders(std::string_view, std::string_view) override { At(1); }
  void End() override { At(2); }

 private:
  void At(int step) const {
    if (step == step_) raise(SIGKILL);
  }
  int step_;
};

TEST_F(StampHistory, KillsDuringTheCopyAndTheMergeLoseNoEarlierStamp) {
  NewFiles();
  const auto start = Clock::now();
  ASSERT_EQ(InChild([&] { return Sync(true); }), 0);
  const auto length = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
  // At moments spread over the run, then at each step of the merge itself.
  for (int moment = 0; moment < 10 + 3; ++moment) {
    SCOPED_TRACE(moment);
    NewFiles();
    if (moment < 10) {
      InChild([&] { return Sync(true); }, length * (moment + 1) / 11);
    } else {
      EXPECT_EQ(InChild([&] {
                  SetOldStampMergeViewFactory([&] { return std::make_unique<KillingMergeView>(moment - 10); });
                  return Sync(true, /*hidden=*/false);
                }),
                -1);
    }
    ExpectEveryEarlierStamp();
    ExpectBothSidesEditIsAConflict();
  }
  // The next run merges what the killed ones left; nothing stays beside it.
  ASSERT_EQ(InChild([&] { return Sync(true); }), 0);
  EXPECT_FALSE(tree.Exists(profileRel + "OS.vrl1"));
  EXPECT_EQ(Temporaries(profileRel), std::vector<std::string>{});
  ExpectEveryEarlierStamp();
}

// A merge window that fills the profile's disk when the merge begins,
// leaving room for the protocol's last records but not for the merged file.
class FillingMergeView : public IOldStampMergeView {
 public:
  explicit FillingMergeView(std::string filler) : filler_(std::move(filler)) {}
  void Begin(bool, bool) override {
    struct statvfs fs {};
    statvfs(filler_.substr(0, filler_.rfind('/')).c_str(), &fs);
    const uint64_t free = static_cast<uint64_t>(fs.f_bavail) * fs.f_bsize;
    constexpr uint64_t kLeft = 16 << 10;
    const int fd = open(filler_.c_str(), O_CREAT | O_WRONLY, 0644);
    std::vector<char> zeros(free > kLeft ? free - kLeft : 0, 'f');
    if (fd >= 0 && write(fd, zeros.data(), zeros.size()) < 0) zeros.clear();
    close(fd);
  }
  void ShowFolders(std::string_view, std::string_view) override {}
  void End() override {}

 private:
  std::string filler_;
};

TEST_F(StampHistory, AFullDiskDuringTheMergeLosesNoEarlierStampAndSaysSo) {
  if (!IsRoot()) GTEST_SKIP() << "mounting a 1 MiB tmpfs for the profile needs root";
  const std::string profile = tree.Posix(profileRel);
  const std::string saved = tree.Posix("W/saved-profile");
  fs::rename(profile, saved);
  ScopedTmpfs disk(profile.substr(0, profile.size() - 1), "1m");
  ASSERT_TRUE(disk.mounted()) << std::strerror(errno);
  for (const auto& e : fs::directory_iterator(saved)) fs::copy(e.path(), profile + e.path().filename().string(),
                                                              fs::copy_options::recursive);
  NewFiles();
  const std::string filler = profile + "filler";
  const OldStampMergeViewFactory previous =
      SetOldStampMergeViewFactory([&] { return std::make_unique<FillingMergeView>(filler); });
  const int result = Sync(true, /*hidden=*/false);
  SetOldStampMergeViewFactory(previous);
  EXPECT_EQ(result, 0);

  std::vector<std::string> failures;
  for (const PtkRecordFields& r : DecodePtk(profile + "AUTOptk/00000.ptk").records) {
    if (r.status == 2) failures.push_back(r.message);
  }
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].find("No space left on device"), std::string::npos) << failures[0];
  EXPECT_TRUE(tree.Exists(profileRel + "OS.vrl1"));
  std::remove(filler.c_str());
  ExpectEveryEarlierStamp();
  ExpectBothSidesEditIsAConflict();
}

// --- Names a user may have ------------------------------------------------------------------

// "x.sync" is a user's file like any other, also beside an "x" that is
// replaced, in a mirror and in both directions.
TEST_F(Hardening, AFileNamedLikeTheOldTemporaryNameIsUserData) {
  for (bool twoWay : {false, true}) {
    SCOPED_TRACE(twoWay);
    WriteProfile(twoWay ? TwoWayPair(Src(), Dst()) : MirrorPair(Src(), Dst()), false);
    File("data/src/x", "new", kLater + (twoWay ? 120 : 0));
    File("data/dst/x", "old", kThen);
    File("data/src/x.sync", "mine", kThen);
    File("data/dst/x.sync", "mine", kThen);
    ASSERT_EQ(Sync(), 0);
    EXPECT_EQ(tree.Read("data/dst/x"), "new");
    EXPECT_EQ(tree.Read("data/src/x.sync") + tree.Read("data/dst/x.sync"), "minemine");
    EXPECT_EQ(fs::file_size(JobPosix(BuildJob())), 0u);
  }
}

// A name changed in case only is the same file: the copy replaces the one
// spelling there, and the next run has nothing left to do.
TEST_F(Hardening, ACaseOnlyRenameConvergesInOneRun) {
  WriteProfile(MirrorPair(Src(), Dst()), false);
  File("data/src/Report.TXT", "edited and renamed", kLater);
  File("data/dst/report.txt", "first version", kThen);
  ASSERT_EQ(Sync(), 0);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(tree.Posix("data/dst"))) names.push_back(e.path().filename());
  EXPECT_EQ(names, std::vector<std::string>{"report.txt"});
  EXPECT_EQ(tree.Read("data/dst/report.txt"), "edited and renamed");
  EXPECT_EQ(fs::file_size(JobPosix(BuildJob())), 0u);
}

}  // namespace
}  // namespace kv
