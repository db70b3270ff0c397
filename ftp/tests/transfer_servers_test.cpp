// Transfers, listings and folder commands against the four real server
// fixtures, over passive and active data connections. Files are compared
// by SHA-256 (sha256sum) and listings by what os.stat says of the tree.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "ftp/ftp.h"
#include "ftp/ftpcache.h"
#include "ftp/tests/ftpprobe.h"
#include "ftp/tests/servertree.h"
#include "testsupport/ftpserver.h"
#include "testsupport/patternfile.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::FtpServerKind;

constexpr int64_t kFiveGB = 5'000'000'000;

struct Mode {
  FtpServerKind kind;
  bool passive;
};

std::string ModeName(const testing::TestParamInfo<Mode>& info) {
  return std::string(test::FtpServerKindName(info.param.kind)) + (info.param.passive ? "_passive" : "_active");
}

std::vector<Mode> AllModes() {
  std::vector<Mode> modes;
  for (const FtpServerKind kind : test::kFtpServerKinds) {
    modes.push_back({kind, true});
    modes.push_back({kind, false});
  }
  return modes;
}

// A logged-in component for one server fixture and data-connection mode.
class ServerSession : public testing::TestWithParam<Mode> {
 protected:
  // Folders exist before the server starts (pure-ftpd's user owns them).
  void StartServer() {
    tree_.Mkdir("srv/sub");
    tree_.Mkdir("local");
    server_ = std::make_unique<test::FtpServer>(GetParam().kind, test::FtpServerOptions{.root = tree_.Posix("srv")});
  }
  bool LogIn() {
    AimAt(ftp_, *server_);
    ftp_.Passive = GetParam().passive;
    ftp_.Cache = false;
    return probe_.Run([&] { ftp_.Login(); }, "loggedin") && probe_.errorTexts.empty();
  }
  std::string Remote(std::string_view relative) const { return server_->RemotePath(relative); }
  // Runs one operation to its end and expects it to end without an error.
  // The deadline only catches a hang: 5 GB take long on a busy machine.
  void Expect(const std::function<void()>& start, const std::string& event) {
    ASSERT_TRUE(probe_.Run(start, event, std::chrono::minutes(10))) << event;
    EXPECT_TRUE(probe_.errorTexts.empty()) << event << ": " << probe_.events.front() << " " << probe_.errorTexts.front();
    EXPECT_EQ(probe_.events.back(), event);
  }

  test::TempTree tree_;
  test::ScopedEnv cache_{"XDG_CACHE_HOME", tree_.Posix("cache").c_str()};
  std::unique_ptr<test::FtpServer> server_;
  TMFtp ftp_;
  FtpProbe probe_{ftp_};
};

#define KV_LOG_IN()                                                  \
  StartServer();                                                     \
  if (server_->skipped()) GTEST_SKIP() << server_->skipReason();     \
  ASSERT_TRUE(server_->running()) << server_->error();               \
  ASSERT_TRUE(LogIn()) << (probe_.events.empty() ? "" : probe_.events.front())

// ---- Files both ways ---------------------------------------------------------------

class ServerTransfer : public ServerSession {};

TEST_P(ServerTransfer, FilesOfEverySizeArriveUnchangedBothWays) {
  KV_LOG_IN();
  std::vector<int64_t> sizes = {0, 1, 4096, 4097, (8 << 20) + 17};
  // The 5 GB file goes once per server, in the mode that alternates between
  // the kinds, so that both modes carry it.
  const bool big = GetParam().passive == (static_cast<int>(GetParam().kind) % 2 == 0);
  if (big) sizes.push_back(kFiveGB);
  for (const int64_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string name = "f" + std::to_string(size);
    if (size == kFiveGB)
      test::WriteSparsePatternFile(tree_.Posix("local/" + name), size);
    else
      test::WritePatternFile(tree_.Posix("local/" + name), size);
    const std::string expected = test::Sha256OfFile(tree_.Posix("local/" + name));

    Expect([&] { ftp_.PutFile(tree_.Win("local/" + name), Remote(name)); }, "stored");
    EXPECT_EQ(ftp_.BytesTransferred(), size);
    EXPECT_EQ(probe_.sizes, std::vector<std::string>{std::to_string(size)});
    EXPECT_EQ(test::Sha256OfFile(tree_.Posix("srv/" + name)), expected);

    Expect([&] { ftp_.GetFile(Remote(name), tree_.Win("local/back-" + name)); }, "received");
    EXPECT_EQ(ftp_.BytesTransferred(), size);
    EXPECT_EQ(test::Sha256OfFile(tree_.Posix("local/back-" + name)), expected);
    if (size == kFiveGB) {
      struct stat st {};
      ASSERT_EQ(stat(tree_.Posix("local/back-" + name).c_str(), &st), 0);
      EXPECT_LT(st.st_blocks * 512, 64 << 20) << "the holes were written out";
    }
    fs::remove(tree_.Posix("srv/" + name));
    fs::remove(tree_.Posix("local/" + name));
    fs::remove(tree_.Posix("local/back-" + name));
  }
  // The login's resume probe sent TYPE I; nothing asked for another since.
  EXPECT_EQ(probe_.Count("> TYPE I"), 1u);
}

// A listing switches to TYPE A; the next download switches back once.
TEST_P(ServerTransfer, TypeIsSentOnlyWhenItChanges) {
  KV_LOG_IN();
  tree_.Write("srv/a.txt", "a");
  Expect([&] { ftp_.GetFile(Remote("a.txt"), tree_.Win("local/a1")); }, "received");
  Expect([&] { ftp_.GetFile(Remote("a.txt"), tree_.Win("local/a2")); }, "received");
  EXPECT_EQ(probe_.Count("> TYPE I"), 1u);  // the login's
  Expect([&] { ftp_.ChangeDirectory(Remote("")); }, "changed");
  Expect([&] { ftp_.List(); }, "listed");
  Expect([&] { ftp_.GetFile(Remote("a.txt"), tree_.Win("local/a3")); }, "received");
  Expect([&] { ftp_.GetFile(Remote("a.txt"), tree_.Win("local/a4")); }, "received");
  EXPECT_EQ(probe_.Count("> TYPE A"), 1u);
  EXPECT_EQ(probe_.Count("> TYPE I"), 2u);
  const auto lastTypeI = std::find(probe_.traffic.rbegin(), probe_.traffic.rend(), "> TYPE I");
  EXPECT_LT(probe_.TrafficIndex("> TYPE A"), static_cast<size_t>(probe_.traffic.rend() - lastTypeI) - 1);
  EXPECT_EQ(tree_.Read("local/a4"), "a");
}

// ---- Listings and folder commands ----------------------------------------------------

TEST_P(ServerTransfer, TheListingAgreesWithTheFileSystem) {
  BuildTree(tree_);
  KV_LOG_IN();
  Expect([&] { ftp_.ChangeDirectory(Remote("")); }, "changed");
  Expect([&] { ftp_.List(); }, "listed");
  const std::map<std::string, OracleEntry> oracle = StatOracle(tree_.Posix("srv"));
  std::set<std::string> listed;
  for (const TMFtpFileInfoList* list : {&ftp_.Files(), &ftp_.Directories()}) {
    for (int32_t i = 0; i < list->Count(); ++i) {
      const MFtpFileInfo& e = list->Item(i);
      SCOPED_TRACE(e.name);
      const auto it = oracle.find(e.name);
      ASSERT_NE(it, oracle.end());
      EXPECT_EQ(list == &ftp_.Directories(), it->second.followed.isDirectory);
      const StatFacts& shown = e.link.empty() ? it->second.followed : it->second.itself;
      if (list == &ftp_.Files()) {
        EXPECT_EQ(e.size, shown.size);
        ExpectSameDate(e.date, shown.date);
      } else {
        EXPECT_EQ(e.date, "");
      }
      listed.insert(e.name);
    }
  }
  std::set<std::string> present;
  for (const auto& [name, facts] : oracle) present.insert(name);
  EXPECT_EQ(listed, present);
  EXPECT_EQ(ftp_.IndexOfFile("notes.txt"), ftp_.Files().IndexOf("notes.txt"));
  EXPECT_GE(ftp_.IndexOfFile("notes.txt"), 0);
  EXPECT_EQ(ftp_.IndexOfFile("sub"), -1);
}

TEST_P(ServerTransfer, FolderCommandsChangeTheServer) {
  tree_.Write("srv/old.txt", "o");
  tree_.Write("srv/gone.txt", "g");
  tree_.Mkdir("srv/empty");
  KV_LOG_IN();
  Expect([&] { ftp_.ChangeDirectory(Remote("sub")); }, "changed");
  EXPECT_EQ(ftp_.Directory(), Remote("sub"));
  Expect([&] { ftp_.ChangeDirectory(Remote("")); }, "changed");
  EXPECT_EQ(ftp_.Directory(), Remote(""));
  Expect([&] { ftp_.CreateDirectory("made"); }, "created");
  Expect([&] { ftp_.RemoveDirectory("empty"); }, "removed");
  Expect([&] { ftp_.DeleteFile("gone.txt"); }, "deleted");
  Expect([&] { ftp_.RenameFile("old.txt", "new.txt"); }, "renamed");
  Expect([&] { ftp_.SendCommand("NOOP"); }, "ready");
  EXPECT_TRUE(fs::is_directory(tree_.Posix("srv/made")));
  EXPECT_FALSE(fs::exists(tree_.Posix("srv/empty")));
  EXPECT_FALSE(fs::exists(tree_.Posix("srv/gone.txt")));
  EXPECT_FALSE(fs::exists(tree_.Posix("srv/old.txt")));
  EXPECT_EQ(tree_.Read("srv/new.txt"), "o");
  EXPECT_LT(probe_.TrafficIndex("> Rnto new.txt"), probe_.traffic.size());
  EXPECT_EQ(ftp_.LastType(), "");  // a command of the caller may have changed it
}

INSTANTIATE_TEST_SUITE_P(Kinds, ServerTransfer, testing::ValuesIn(AllModes()), ModeName);

// ---- The listing cache -------------------------------------------------------------------

class ListingCache : public ServerSession {};

// A folder listed again and again is cached as its last listing showed it,
// however the client leaves it; a folder it removed keeps no cache.
TEST_P(ListingCache, AFolderIsCachedAsItsLastListingShowedIt) {
  StartServer();
  if (server_->skipped()) GTEST_SKIP() << server_->skipReason();
  const auto cached = [&] {  // the names in the cached file list of "a"; "-" without one
    TMFtpFileInfoList files;
    const std::string path = GetCacheFileName(server_->host(), server_->user(), Remote("a"), server_->port(), false);
    std::set<std::string> names;
    if (!LoadCacheFile(path, files, 0)) return std::string("-");
    for (int32_t i = 0; i < files.Count(); ++i) names.insert(files.Item(i).name);
    return testing::PrintToString(names);
  };
  const std::string both = testing::PrintToString(std::set<std::string>{"first.txt", "second.txt"});
  enum Way { kCacheOn, kListsAnotherFolder, kEnds, kRemovesTheFolder };
  for (const Way way : {kCacheOn, kListsAnotherFolder, kEnds, kRemovesTheFolder}) {
    SCOPED_TRACE(way);
    fs::remove_all(tree_.Posix("cache"));
    tree_.Write("srv/a/first.txt", "1");
    {
      TMFtp ftp;
      FtpProbe probe(ftp);
      const auto run = [&](const std::function<void()>& start, const char* event) {
        EXPECT_TRUE(probe.Run(start, event) && probe.errorTexts.empty()) << event;
      };
      AimAt(ftp, *server_);
      ftp.Passive = true;
      ftp.Cache = way == kCacheOn;
      run([&] { ftp.Login(); }, "loggedin");
      run([&] { ftp.ChangeDirectory(Remote("a")); }, "changed");
      run([&] { ftp.List(); }, "listed");
      if (way == kCacheOn) {
        EXPECT_EQ(cached(), testing::PrintToString(std::set<std::string>{"first.txt"}));
      }
      tree_.Write("srv/a/second.txt", "2");
      ftp.Cache = false;
      run([&] { ftp.List(); }, "listed");
      if (way == kListsAnotherFolder || way == kRemovesTheFolder) run([&] { ftp.ChangeDirectory(Remote("")); }, "changed");
      if (way == kListsAnotherFolder) {
        run([&] { ftp.List(); }, "listed");
        EXPECT_EQ(cached(), both);
      }
      if (way == kRemovesTheFolder) {
        fs::remove(tree_.Posix("srv/a/first.txt"));
        fs::remove(tree_.Posix("srv/a/second.txt"));
        run([&] { ftp.RemoveDirectory("a"); }, "removed");
      }
    }
    EXPECT_EQ(cached(), way == kRemovesTheFolder ? "-" : both);
  }
}

INSTANTIATE_TEST_SUITE_P(Pyftpdlib, ListingCache, testing::Values(Mode{FtpServerKind::Pyftpdlib, true}), ModeName);

// ---- Resuming beyond 4 GiB ----------------------------------------------------------------

class ServerResume : public ServerSession {};

// The server's file and the local one are the same pattern file, one of them
// cut at 4.5 GB: resuming either way must give the whole file.
TEST_P(ServerResume, ResumesBothWaysFromBeyond4GiB) {
  constexpr int64_t kCut = 4'500'000'000;
  tree_.Mkdir("srv");
  test::WriteSparsePatternFile(tree_.Posix("srv/big"), kFiveGB);
  test::WriteSparsePatternFile(tree_.Posix("srv/up"), kFiveGB);
  test::ResizeFile(tree_.Posix("srv/up"), kCut);
  tree_.Mkdir("local");
  test::WriteSparsePatternFile(tree_.Posix("local/big"), kFiveGB);
  test::WriteSparsePatternFile(tree_.Posix("local/part"), kFiveGB);
  test::ResizeFile(tree_.Posix("local/part"), kCut);
  const std::string whole = test::Sha256OfFile(tree_.Posix("srv/big"));
  KV_LOG_IN();
  ftp_.OnFtpNeedInfo = [](TMFtp&, TMFtpInfoNeeded need, std::string& answer) {
    if (need == niResume) answer = kAnswerResume;
  };

  Expect([&] { ftp_.GetFile(Remote("big"), tree_.Win("local/part")); }, "received");
  EXPECT_EQ(ftp_.RemoteSize(), kFiveGB);
  EXPECT_EQ(ftp_.ResumeOffset(), kCut);
  EXPECT_EQ(ftp_.BytesTransferred(), kFiveGB - kCut);
  EXPECT_LT(probe_.TrafficIndex("> REST 4500000000"), probe_.traffic.size());
  EXPECT_EQ(test::Sha256OfFile(tree_.Posix("local/part")), whole);

  Expect([&] { ftp_.PutFile(tree_.Win("local/big"), Remote("up")); }, "stored");
  EXPECT_EQ(ftp_.ResumeOffset(), kCut);
  EXPECT_EQ(ftp_.BytesTransferred(), kFiveGB - kCut);
  EXPECT_EQ(probe_.sizes, std::vector<std::string>{"5000000000"});
  EXPECT_EQ(test::Sha256OfFile(tree_.Posix("srv/up")), whole);
}

// pure-ftpd serves its tree as another user, who cannot write the files
// made here; the others resume both ways.
INSTANTIATE_TEST_SUITE_P(Kinds, ServerResume,
                         testing::Values(Mode{FtpServerKind::Pyftpdlib, true}, Mode{FtpServerKind::Vsftpd, false},
                                         Mode{FtpServerKind::Proftpd, true}),
                         ModeName);

}  // namespace
}  // namespace kv
