// The copy engine's driver against a CopyObj server that records every call:
// what a run sends, in which order, and how a run ends when a call fails.
#include <fstream>

#include "platform/com/comrt.h"
#include "platform/registry.h"
#include "scheduler/tests/run_fixture.h"

namespace kv {
namespace {

class CopyDriver : public test::RunFixture {
 protected:
  test::ScopedEnv log{"KV_RECORDING_COPY_LOG", tree.Posix("calls.txt").c_str()};

  void SetUp() override {
    RunFixture::SetUp();
    ASSERT_TRUE(platform::Registry(platform::Hive::ClassesRoot)
                    .WriteString(platform::InprocServerKey(CLSID_CopyObj), "", KV_RECORDING_COPY));
  }

  std::vector<std::string> Calls() {
    std::vector<std::string> calls;
    std::ifstream in(tree.Posix("calls.txt"));
    for (std::string line; std::getline(in, line);) calls.push_back(line);
    std::filesystem::remove(tree.Posix("calls.txt"));
    return calls;
  }
};

TEST_F(CopyDriver, SendsTheRunsPropertiesInTheEnginesOrder) {
  TProfItem plain;
  plain.profilePath = "C:\\P\\";
  plain.extLogPath = "C:\\log.txt";  // not sent: the external log is off
  plain.extLogDone = true;
  TProfItem full = plain;
  full.extLogOn = true;
  full.extLogAppend = 2;  // only 1 appends
  full.extLogErrors = true;
  full.extLogSeparator = ";";
  full.deleteMode = kDeleteModeBackup;
  full.keepOldStamps = true;
  full.safeRename = true;
  TProfItem shredder = plain;
  shredder.deleteMode = kDeleteModeShredder;
  TProfItem noMode = plain;
  noMode.deleteMode = 5;
  TUserOptions options;
  options.options[TUserOptions::kOffArchiveShredder] = 1;
  options.options[TUserOptions::kOffCopyNTFSRights] = 1;

  const std::vector<std::string> head = {"PtkFile=C:\\P\\AUTOptk\\00000.ptk", "AnalyseTime=01:02:03"};
  const std::vector<std::string> files = {"Manuell=0", "SrcFile=C:\\P\\$0001.tmp", "MainFile=C:\\P\\SrcDest.kst"};
  const std::vector<std::string> tail = {"Binary=0", "Minimized=0", "Hidden=-1", "NTFSAccess=-1"};
  const auto join = [](std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  struct Case {
    const TProfItem& profile;
    std::string mail;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases = {
      {plain, "", join({head, {"DelSchredder=0"}, files, tail, {"SecurityRename=0", "CopyFiles="}})},
      {full, "admin@example.org",
       join({head,
             {"ExtLog=C:\\log.txt", "ExtAppend=0", "ExtErr=-1", "ExtDone=-1", "ExtTrenn=;",
              "MailAdress=admin@example.org", "DelSchredder=2", "ArchivSchredder=-1"},
             files, {"OSFile=C:\\P\\OS.vrl"}, tail, {"SecurityRename=-1", "CopyFiles="}})},
      {shredder, "", join({head, {"DelSchredder=4"}, files, tail, {"SecurityRename=0", "CopyFiles="}})},
      {noMode, "", join({head, files, tail, {"SecurityRename=0", "CopyFiles="}})},
  };
  for (const Case& c : cases) {
    TthRunSync::RunCopyEngine("C:\\P\\AUTOptk\\00000.ptk", "C:\\P\\$0001.tmp", c.mail, true, true, false, c.profile,
                              options, (3600 + 2 * 60 + 3) * 1000);
    EXPECT_EQ(Calls(), c.calls) << "DeleteMode " << int{c.profile.deleteMode};
  }
}

// However the run fails (a property the engine refuses, a post-command that
// cannot start), it ends cleaned up: the protocol closed with the reason, the
// job file gone, CopyLock free, one beep.
TEST_F(CopyDriver, ARunThatFailsEndsCleanedUp) {
  struct Case {
    const char* failingCall;
    bool postStarts;
  };
  int number = 0;
  for (const Case& c : {Case{"DelSchredder", true}, Case{"", false}}) {
    test::ScopedEnv fail{"KV_RECORDING_COPY_FAIL", c.failingCall};
    test::ProfileSpec spec =
        Profile("000000" + std::to_string(++number), {test::MirrorPair(tree.WinFolder("src"), tree.WinFolder("dst"))});
    const std::string out = "post" + spec.profileNo + ".out";
    spec.commandAfter = c.postStarts ? RecordingScript("post.sh", out) : tree.Posix("fehlt.sh");
    tree.Write("src/a.txt", "a");
    beeps.count = 0;

    ASSERT_EQ(Run(spec), TRunOutcome::Failed) << c.failingCall;
    EXPECT_EQ(beeps.count, 1);
    EXPECT_TRUE(CopyLock().try_lock());
    CopyLock().unlock();
    const std::vector<std::string> calls = Calls();
    ASSERT_FALSE(calls.empty());
    if (!c.postStarts) {
      EXPECT_EQ(calls.back(), "CopyFiles=");
      continue;
    }
    EXPECT_EQ(calls.back(), "DelSchredder=0");
    EXPECT_FALSE(test::LinesOnceWritten(tree.Posix(out)).empty());
    const test::DecodedPtk ptk = Protocol(spec, "00000");
    ASSERT_EQ(ptk.records.size(), 1u);
    EXPECT_EQ(ptk.records[0].status, 2);
    EXPECT_EQ(ptk.records[0].message, "Der Abgleich wurde wegen eines Fehlers abgebrochen: DelSchredder schlägt fehl");
    ASSERT_TRUE(ptk.trailer);
    EXPECT_EQ(ptk.trailer->errorFlag, 1);
  }
}

}  // namespace
}  // namespace kv
