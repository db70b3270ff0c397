// Transfers, listings and folder commands against the four real server
// fixtures, over passive and active data connections. Files are compared
// by SHA-256 (sha256sum) and listings by what os.stat says of the tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "ftp/ftp.h"
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
  void Expect(const std::function<void()>& start, const std::string& event) {
    ASSERT_TRUE(probe_.Run(start, event)) << event;
    EXPECT_TRUE(probe_.errorTexts.empty()) << event << ": " << probe_.events.front() << " " << probe_.errorTexts.front();
    EXPECT_EQ(probe_.events.back(), event);
  }

  test::TempTree tree_;
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

INSTANTIATE_TEST_SUITE_P(Kinds, ServerTransfer, testing::ValuesIn(AllModes()), ModeName);

}  // namespace
}  // namespace kv
