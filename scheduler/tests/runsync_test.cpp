// Whole runs with the registered KestroCom.dll: commands, the run's own
// records, rotation, runs without a copy step, the report mail, and runs that
// meet at the locks.
#include <algorithm>
#include <filesystem>
#include <mutex>

#include "platform/mail.h"
#include "scheduler/tests/run_fixture.h"
#include "testsupport/mailsink.h"

namespace kv {
namespace {

using test::MirrorPair;

constexpr const char* kDriveUnavailable = "Mindestens ein Laufwerk ist nicht verfügbar!";
constexpr const char* kMoved = "Die Datei wurde verschoben";

class RunSync : public test::RunFixture {
 protected:
  void Same(const std::string& a, const std::string& b, const std::string& content) {
    for (const std::string& rel : {a, b}) {
      tree.Write(rel, content);
      tree.SetMTime(rel, 1700000000);
    }
  }
  // A file moved on the destination side: the list builder moves it back.
  void MovedInDestination() {
    Same("src/A/keep.txt", "dst/A/keep.txt", "k");
    Same("src/B/moved.txt", "dst/A/moved.txt", "m");
    tree.Mkdir("dst/B");
  }
};

TEST_F(RunSync, ARunGoesFromItsPreCommandToItsPostCommandWithItsOwnRecordsFirst) {
  test::SmtpSink sink;
  if (!sink.running()) GTEST_SKIP() << "no SMTP server: /usr/bin/python3 with aiosmtpd is needed";
  test::ScopedEnv sendmail{platform::kSendmailVariable, sink.SendmailCommand().c_str()};
  const std::string pre = RecordingScript("bin dir/pre.sh", "pre.out");
  const std::string post = RecordingScript("bin dir/post.sh", "post.out");
  test::ProfileSpec spec = Profile("0000001", {MirrorPair(tree.WinFolder("src"), tree.WinFolder("dst")),
                                               MirrorPair("Q:\\nirgends\\", tree.WinFolder("dst"))});
  spec.commandBefore = "'" + pre + "' 'a b' \"c d\" e\\ f /x:y";
  spec.commandAfter = "\"" + post + "\" C:\\\\t\\\\a.exe /log";
  spec.findMovedFiles = 1;
  test::WriteUserOptions(tree.Posix("W/UsrOpt.kst"), {.maxPtk = 3});
  for (const char* name : {"00000", "00001", "00002"}) tree.Write(ProfileRel(spec) + "AUTOptk/" + name + ".ptk", "");
  tree.Write(ProfileRel(spec) + "AUTOptk/last.vrl", "[PTKs]\r\n00000=\r\n00001=\r\n00002=\r\n");
  MovedInDestination();
  tree.Write("src/new.txt", "neu");
  std::filesystem::create_directory_symlink(tree.Posix("dst"), tree.Posix("src/link"));

  ASSERT_EQ(Run(spec, "admin@example.org"), TRunOutcome::Ended);

  const std::string scripts = tree.Posix("bin dir");
  EXPECT_EQ(test::LinesOnceWritten(tree.Posix("pre.out")),
            (std::vector<std::string>{scripts, "a b", "c d", "e f", "/x:y"}));
  EXPECT_EQ(test::LinesOnceWritten(tree.Posix("post.out")),
            (std::vector<std::string>{scripts, "C:\\t\\a.exe", "/log"}));
  EXPECT_EQ(ProtocolNames(spec), (std::vector<std::string>{"00001", "00002", "00003"}));
  EXPECT_FALSE(tree.Exists(ProfileRel(spec) + "AUTOptk/00000.ptk"));
  EXPECT_EQ(tree.Read("dst/new.txt"), "neu");
  EXPECT_EQ(tree.Read("dst/B/moved.txt"), "m");

  const test::DecodedPtk ptk = Protocol(spec, "00003");
  ASSERT_GE(ptk.records.size(), 4u);
  EXPECT_EQ(ptk.records[0].first + "|" + ptk.records[0].second, "Q:\\nirgends\\|" + tree.WinFolder("dst"));
  EXPECT_EQ(ptk.records[0].message, kDriveUnavailable);
  EXPECT_EQ(ptk.records[1].first + "|" + ptk.records[1].second,
            tree.Win("dst/A/moved.txt") + "|" + tree.Win("dst/B/moved.txt"));
  EXPECT_EQ(ptk.records[1].message, kMoved);
  EXPECT_EQ(ptk.records[2].message, "Verknüpfung auf einen Ordner, übergangen: " + tree.WinFolder("src/link"));
  for (int i : {0, 1, 2}) EXPECT_EQ(ptk.records[i].status, i == 1 ? 1 : 2) << i;
  ASSERT_TRUE(ptk.trailer);
  EXPECT_EQ(ptk.trailer->errorFlag, 1);
  // The engine mailed the report of the closed protocol.
  const std::vector<test::ReceivedMail> mails = sink.Mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_NE(mails[0].attachment.find("* Fehlerprotokoll für das Profil 0000001"), std::string::npos);
  EXPECT_NE(mails[0].attachment.find(kDriveUnavailable), std::string::npos);
  EXPECT_EQ(beeps.count, 0);
}

// Runs that copy nothing close the protocol themselves: an empty one goes,
// moved files alone are no failure and mail nothing, an exceeded critical
// share is a failure that is mailed.
TEST_F(RunSync, ARunWithoutCopyStepClosesItsOwnProtocol) {
  test::SmtpSink sink;
  if (!sink.running()) GTEST_SKIP() << "no SMTP server: /usr/bin/python3 with aiosmtpd is needed";
  test::ScopedEnv sendmail{platform::kSendmailVariable, sink.SendmailCommand().c_str()};
  test::ProfileSpec spec = Profile("0000001", {MirrorPair(tree.WinFolder("src"), tree.WinFolder("dst"))});
  Same("src/same.txt", "dst/same.txt", "s");
  ASSERT_EQ(Run(spec, "admin@example.org"), TRunOutcome::Ended);
  EXPECT_FALSE(tree.Exists(ProfileRel(spec) + "AUTOptk/00000.ptk"));
  EXPECT_EQ(ProtocolNames(spec), std::vector<std::string>{"00000"});

  spec.findMovedFiles = 1;
  MovedInDestination();
  ASSERT_EQ(Run(spec, "admin@example.org"), TRunOutcome::Ended);
  const test::DecodedPtk moved = Protocol(spec, "00001");
  ASSERT_EQ(moved.records.size(), 1u);
  EXPECT_EQ(moved.records[0].message, kMoved);
  ASSERT_TRUE(moved.trailer);
  EXPECT_EQ(moved.trailer->elapsed + "|" + moved.trailer->size, "0|0");
  EXPECT_EQ(moved.trailer->errorFlag, 0);
  EXPECT_TRUE(sink.Calls().empty());

  for (const char* name : {"x1", "x2", "x3", "x4"}) tree.Write(std::string("dst/") + name, "weg");
  ASSERT_EQ(Run(spec, "admin@example.org", 20), TRunOutcome::Ended);
  const std::string critical =
      "Die kritische Löschmenge von 20 % wurde überschritten! Der Abgleich wurde abgebrochen!";
  const test::DecodedPtk stopped = Protocol(spec, "00002");
  ASSERT_EQ(stopped.records.size(), 1u);
  EXPECT_EQ(stopped.records[0].first, critical);
  EXPECT_EQ(stopped.records[0].message, critical);
  EXPECT_EQ(stopped.records[0].status, 2);
  ASSERT_TRUE(stopped.trailer);
  EXPECT_EQ(stopped.trailer->errorFlag, 1);
  EXPECT_TRUE(tree.Exists("dst/x1"));
  const std::vector<test::ReceivedMail> mails = sink.Mails();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_NE(mails[0].attachment.find("* 1        | " + critical.substr(0, 40)), std::string::npos);
  EXPECT_NE(mails[0].attachment.find("* Dauer: 0 Kopiermenge: 0"), std::string::npos);
}

// A pre-command that cannot start stops the run (no protocol, no
// post-command) only when the profile says so; otherwise the run goes on
// and says so in its protocol and on standard error.
TEST_F(RunSync, APreCommandThatCannotStartStopsTheRunOnlyWhenTheProfileSaysSo) {
  const struct {
    std::string before;
    uint8_t stop;
    TRunOutcome outcome;
  } cases[] = {
      {tree.Posix("fehlt/pre.sh"), 1, TRunOutcome::Stopped},
      {"'" + tree.Posix("src") + "/unclosed", 1, TRunOutcome::Stopped},
      {tree.Posix("fehlt/pre.sh"), 0, TRunOutcome::Ended},
      {"/bin/false", 1, TRunOutcome::Ended},  // it started: its exit status is nobody's business
  };
  int number = 0;
  testing::internal::CaptureStderr();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before);
    test::ProfileSpec spec =
        Profile("000000" + std::to_string(++number), {MirrorPair(tree.WinFolder("src"), tree.WinFolder("dst"))});
    spec.commandBefore = c.before;
    spec.stopOnCommandError = c.stop;
    const std::string out = "post" + spec.profileNo + ".out";
    spec.commandAfter = RecordingScript("post" + spec.profileNo + ".sh", out);
    tree.Write("src/" + spec.profileNo, "x");
    ASSERT_EQ(Run(spec), c.outcome);
    if (c.outcome != TRunOutcome::Ended) {
      EXPECT_TRUE(ProtocolNames(spec).empty());
      EXPECT_FALSE(tree.Exists(out));
      continue;
    }
    EXPECT_FALSE(test::LinesOnceWritten(tree.Posix(out)).empty());
    // A run without its pre-command says so first, and counts as failed.
    const test::DecodedPtk ptk = Protocol(spec, "00000");
    ASSERT_FALSE(ptk.records.empty());
    EXPECT_EQ(ptk.records[0].message.rfind("Der Befehl", 0) == 0, c.stop == 0) << ptk.records[0].message;
    ASSERT_TRUE(ptk.trailer);
    EXPECT_EQ(ptk.trailer->errorFlag, c.stop == 0 ? 1 : 0);
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Profil 0000003 \"Profil 0000003\": Abgleich geht ohne Vorbefehl weiter: Der Befehl"),
            std::string::npos)
      << err;
  EXPECT_EQ(err.find("ohne Vorbefehl"), err.rfind("ohne Vorbefehl")) << err;
  EXPECT_EQ(beeps.count, 0);
}

// Two profiles at once: the second builds its list only after the first has
// built its own, and builds it while the first copies. A profile started
// again while it runs is refused.
TEST_F(RunSync, RunsMeetAtTheLocksAndOneProfileNeverRunsTwice) {
  test::ProfileSpec a = Profile("0000001", {MirrorPair(tree.WinFolder("src"), tree.WinFolder("dst"))});
  test::ProfileSpec b = Profile("0000002", {MirrorPair(tree.WinFolder("src"), tree.WinFolder("dst2"))});
  tree.Write("src/f.txt", "f");
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<std::string, TRunEvent>> events;
  const auto at = [&](const std::string& who, TRunEvent event) {
    return std::find(events.begin(), events.end(), std::make_pair(who, event)) - events.begin();
  };
  const auto seen = [&](const std::string& who, TRunEvent event) { return at(who, event) < std::ssize(events); };
  SetRunHook([&](TRunEvent event, const TProfItem& profile) {
    std::unique_lock lock(mutex);
    events.emplace_back(profile.profileNo, event);
    changed.notify_all();
    // A holds CopyLock until B has built its list.
    if (profile.profileNo == a.profileNo && event == TRunEvent::CopyStarting) {
      changed.wait_for(lock, test::kRunDeadline, [&] { return seen(b.profileNo, TRunEvent::BuildEnded); });
    }
  });
  test::WriteProfileList(tree.Posix("W/Profile/Pro.kst"), {a, b});
  const TUserOptions options = LoadUserOptions(tree.Win("W/Profile/Timer.dat"));
  const auto start = [&](const test::ProfileSpec& spec) {
    return TthRunSync::Create(false, true, *FindProfile(tree.Win("W/Profile/Pro.kst"), spec.profileNo).profile,
                              options, "", 101, true);
  };
  const TRunHandle runA = start(a);
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(
        changed.wait_for(lock, test::kRunDeadline, [&] { return seen(a.profileNo, TRunEvent::BuildStarting); }));
  }
  const TRunHandle twice = start(a);
  const TRunHandle runB = start(b);
  for (const TRunHandle* run : {&runA, &twice, &runB}) ASSERT_TRUE(run->WaitFor(test::kRunDeadline));
  SetRunHook({});

  EXPECT_EQ(twice.Outcome(), TRunOutcome::Refused);
  EXPECT_EQ(runA.Outcome(), TRunOutcome::Ended);
  EXPECT_EQ(runB.Outcome(), TRunOutcome::Ended);
  EXPECT_LT(at(a.profileNo, TRunEvent::BuildEnded), at(b.profileNo, TRunEvent::BuildStarting));
  EXPECT_LT(at(b.profileNo, TRunEvent::BuildEnded), at(a.profileNo, TRunEvent::CopyEnded));
  EXPECT_EQ(events.size(), 8u);
  EXPECT_EQ(ProtocolNames(a), std::vector<std::string>{"00000"});
  EXPECT_EQ(tree.Read("dst/f.txt") + tree.Read("dst2/f.txt"), "ff");
}

}  // namespace
}  // namespace kv
