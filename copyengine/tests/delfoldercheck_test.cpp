// The second try of failed folder deletions, on protocols written here and
// real folders in a temporary tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "copyengine/delfldrcheck.h"
#include "copyengine/endofrun.h"
#include "copyengine/jobrun.h"
#include "copyengine/tests/engine_fixture.h"
#include "copyengine/tests/ftppair_env.h"
#include "testsupport/fakeftpserver.h"
#include "testsupport/ftpserver.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

constexpr const char* kFailed = "Der / die Ordner konnten nicht gelöscht werden! Directory not empty";
constexpr uint8_t kOnlyDest = 8, kOnlySource = 9, kBoth = 10;

class DelFolderCheckTest : public ::testing::Test {
 protected:
  test::ScopedRegistry registry;
  test::TempTree tree;
  test::ScopedEnv cache{"XDG_CACHE_HOME", tree.Posix("cache").c_str()};
  TFolderPair pair{.sourceRoot = tree.WinFolder("src"), .destinationRoot = tree.WinFolder("dst")};
  int windows = 0;
  DelFldrCheckViewFactory oldFactory = SetDelFldrCheckViewFactory([this](bool) { return ++windows, nullptr; });

  ~DelFolderCheckTest() override { SetDelFldrCheckViewFactory(oldFactory); }

  // A folder record: paths relative to the tree.
  TPtkItem Record(const char* side1, const char* side2, uint8_t code, uint8_t action = 2, uint8_t status = 2) const {
    return TPtkItem(TSyncItem{.source = tree.WinFolder(side1), .destination = tree.WinFolder(side2), .rowKind = 1,
                              .action = action, .stateCode = code},
                    status, status == 2 ? kFailed : "");
  }

  // Runs the check of a hidden run over a protocol of these records.
  test::DecodedPtk Check(const std::vector<TPtkItem>& records) {
    CopyJobFiles files;
    files.ftpLogFolder = tree.WinFolder("ftplog");
    files.protocol = ProtocolStream::Create(tree.Win("p.ptk"));
    for (const TPtkItem& r : records) files.protocol->Append(r);
    const CopyJobSettings settings{.hidden = true};
    TFileDeleter deleter;
    TFTPReadWriter states;
    TJobRun run(files, settings, deleter, states);
    run.pairs.emplace(std::vector<TFolderPair>{pair});
    CheckDelFolders(run);
    files.protocol->Close();
    return test::DecodePtk(tree.Posix("p.ptk"));
  }
};

// Each case: folders made on disk (names of their own; "x.txt" makes a
// file), the records; afterwards their statuses and what is left on disk.
TEST_F(DelFolderCheckTest, RetriesFailedFolderDeletionsOnly) {
  const struct {
    const char* what;
    std::vector<const char*> made;
    std::vector<TPtkItem> records;
    std::vector<int> statuses;
    std::vector<const char*> left;
  } cases[] = {
      {"an empty protocol", {"src/z"}, {}, {}, {"src/z"}},
      {"one record, its folder empty now", {"src/a"}, {Record("src/a", "dst/a", kOnlySource)}, {1}, {}},
      {"one record, its folder still full", {"dst/b/x.txt"}, {Record("src/b", "dst/b", kOnlyDest)}, {2}, {"dst/b/x.txt"}},
      {"a parent before its child: the child goes first",
       {"src/p/c"}, {Record("src/p", "dst/p", kOnlySource), Record("src/p/c", "dst/p/c", kOnlySource)}, {1, 1}, {}},
      {"both sides empty", {"src/d", "dst/d"}, {Record("src/d", "dst/d", kBoth)}, {1}, {}},
      {"both sides, one still full: the other goes, the record stays",
       {"src/e", "dst/e/x.txt"}, {Record("src/e", "dst/e", kBoth)}, {2}, {"dst/e/x.txt"}},
      {"a folder gone already", {}, {Record("src/g", "dst/g", kOnlySource)}, {1}, {}},
      {"no failed folder deletion",
       {"src/h1", "src/h2", "src/h3", "src/h4"},
       {Record("src/h1", "dst/h1", kOnlySource, 2, 1), Record("src/h2", "dst/h2", kOnlySource, 1),
        Record("src/h3", "dst/h3", 2), Record("src/h4", "dst/h4", kBoth, 0)},
       {1, 2, 2, 2},
       {"src/h1", "src/h2", "src/h3", "src/h4"}},
      {"a folder of no pair is never guessed", {"other/x"}, {Record("other/x", "dst/x", kOnlySource)}, {2}, {"other/x"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (const std::string rel : c.made) rel.ends_with(".txt") ? tree.Write(rel, "x") : tree.Mkdir(rel);
    const test::DecodedPtk ptk = Check(c.records);
    ASSERT_EQ(ptk.records.size(), c.statuses.size());
    for (size_t i = 0; i < c.statuses.size(); ++i) {
      EXPECT_EQ(ptk.records[i].status, c.statuses[i]) << i;
      const bool rewritten = c.records[i].status == 2 && c.statuses[i] == 1;
      EXPECT_EQ(ptk.records[i].message, rewritten ? "Der / die Ordner wurden gelöscht." : c.records[i].message) << i;
    }
    for (const char* rel : c.made) {
      EXPECT_EQ(tree.Exists(rel), std::count(c.left.begin(), c.left.end(), std::string_view(rel)) == 1) << rel;
    }
  }
  EXPECT_EQ(windows, static_cast<int>(std::size(cases)));  // hidden runs too
}

// Only a 2xx reply to RMD removes a server's folder: a refusal or a
// connection lost on the way leaves its record failed, though the folder
// cannot be entered afterwards either. Only the pair's FTP side goes to the
// server: the local root typed with "/" stays local.
TEST_F(DelFolderCheckTest, OnlyA2xxReplyToRmdRemovesAServerFolder) {
  test::FakeReplies replies = test::AcceptingReplies();
  replies["CWD"] = "550 No such directory";
  std::string slashed = tree.WinFolder("src");
  std::replace(slashed.begin(), slashed.end(), '\\', '/');
  const TSyncItem local{.source = slashed + "local/", .destination = "ftp://127.0.0.1/pub/local/", .action = 2,
                        .stateCode = kOnlySource};
  const TSyncItem remote{.source = slashed + "gone/", .destination = "ftp://127.0.0.1/pub/gone/", .action = 2,
                         .stateCode = kOnlyDest};
  const struct {
    const char* reply;  // nullptr: the connection drops instead
    int status;
  } cases[] = {{"250 Removed", 1}, {"550 Permission denied", 2}, {nullptr, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply ? c.reply : "dropped");
    tree.Mkdir("src/local");
    test::FakeFtpServer fake([&](test::FakeFtpPeer& peer) {
      peer.Reply("220 fake ready");
      if (!test::ConverseUntil(peer, replies, "RMD")) return;
      if (!c.reply) return peer.Reset();
      peer.Reply(c.reply);
      test::Converse(peer, replies, "");
    });
    pair = {.sourceRoot = slashed, .destinationRoot = "ftp://127.0.0.1/pub/", .pairKind = kPairKindFtpDestination};
    pair.destinationSite = {.host = "127.0.0.1", .port = fake.Port(), .user = "kv", .password = "secret"};
    const test::DecodedPtk ptk = Check({TPtkItem(local, 2, kFailed), TPtkItem(remote, 2, kFailed)});
    EXPECT_EQ(ptk.records.at(0).status, 1);
    EXPECT_FALSE(tree.Exists("src/local"));
    EXPECT_EQ(ptk.records.at(1).status, c.status);
    std::vector<std::string> removals;
    for (const std::vector<std::string>& session : fake.Transcripts()) {
      std::copy_if(session.begin(), session.end(), std::back_inserter(removals),
                   [](const std::string& line) { return line.starts_with("RMD"); });
    }
    EXPECT_EQ(removals, std::vector<std::string>{"RMD /pub/gone"});
  }
}

// Through the copy object: the run leaves a server folder to the check,
// which removes it once the file inside went, after the run left it.
TEST(DelFolderCheckRun, AServerFolderEmptiedDuringTheRunGoesAtItsEnd) {
  test::FtpPairEnv env(kPairKindFtpDestination);
  env.tree.Write("srv/gone/x.txt", "x");
  KV_START_FTP_SERVER(server, test::FtpServerKind::Vsftpd, {.root = env.tree.Posix("srv")});
  env.Use(server);
  EXPECT_EQ(env.Run({env.Folder("gone", kOnlyDest, 2), env.Delete("x.txt", true, false)}), platform::S_OK);
  EXPECT_EQ(env.Statuses(), (std::vector<int>{1, 1}));
  EXPECT_EQ(env.Message(0), "Der / die Ordner wurden gelöscht.");
  EXPECT_FALSE(env.tree.Exists("srv/gone"));
}

}  // namespace
}  // namespace kv
