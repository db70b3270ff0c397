// Horavex as a process of its own, offscreen: one instance per user, the
// editor's messages from a Python client, the end of the session and the
// signals that end the program.
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "platform/process.h"
#include "platform/registry.h"
#include "platform/windowmessages.h"
#include "scheduler/tests/scheduler_fixture.h"
#include "scheduler/timermain.h"
#include "testsupport/commands.h"
#include "testsupport/fixtures.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

class Horavex : public test::SchedulerFixture {
 protected:
  struct Instance {
    platform::StartedProcess process;
    std::string errFile;
  };

  void SetUp() override {
    SchedulerFixture::SetUp();
    // Its own copy, so that "Timer.ini" and "Timer.log" beside it are this test's.
    const fs::path built = fs::path(KV_HORAVEX).parent_path();
    for (const char* file : {"Horavex", "libkv_comrt.so", "KestroCom.dll", "regsvr32"}) {
      fs::copy_file(built / file, tree.Posix("bin/") + file);
    }
    platform::Registry(platform::Hive::CurrentUser).WriteString(kUserKey, "WorkDir", tree.WinFolder("W"));
  }

  Instance Start() {
    const std::string err = tree.Posix("err-" + std::to_string(started_++) + ".txt");
    std::optional<platform::StartedProcess> p = platform::StartProcess(
        {"/usr/bin/env", "QT_QPA_PLATFORM=offscreen",
         "LSAN_OPTIONS=use_tls=0:print_suppressions=0:suppressions=" KV_SCHEDULER_TESTS_DIR "/lsan_qt.supp",
         "/bin/sh", "-c", "exec \"$0\" 2>\"$1\"", tree.Posix("bin/Horavex"), err},
        "");
    if (!p) throw std::runtime_error("Horavex did not start");
    return {*p, err};
  }

  // Waits until the instance's standard error holds the text.
  bool Says(const Instance& h, const std::string& text) {
    return test::Eventually([&] { return Err(h).find(text) != std::string::npos; });
  }
  std::string Err(const Instance& h) { return fs::exists(h.errFile) ? test::ReadFileText(h.errFile) : ""; }
  static bool Listening() { return platform::FindWindow(kTimerMainClass).has_value(); }
  static int EndWith(const Instance& h, int signal) {
    kill(h.process.Pid(), signal);
    return h.process.WaitForExit(60000) ? h.process.ExitStatus() : -1;
  }
  void Post(const std::string& arguments) {
    test::MustRun("/usr/bin/python3 " KV_SCHEDULER_TESTS_DIR "/post_message.py " + arguments);
  }
  std::string Today() { return platform::FormatDateShort(platform::CivilFromDateTime(platform::Now())); }

 private:
  int started_ = 0;
};

// One instance per user: a second one ends at once; the first follows the
// editor's messages from a Python client. Killed, it leaves its socket
// behind, which a new instance replaces; that one runs the log-off command
// on SIGUSR1 and ends on SIGTERM, taking its socket along.
TEST_F(Horavex, OneInstanceFollowsTheEditorsMessagesAndAKilledOneIsReplaced) {
  WriteProfiles({"0000005", "0000042"});
  WriteSchedule("0000005", {{"Kind", "1"}, {"OnceDate", Today()}, {"OnceTime", "00:00:00"}});
  const Instance first = Start();
  ASSERT_TRUE(Says(first, "Profil 0000005 \"Profil 0000005\": Abgleich beendet"));
  ASSERT_TRUE(test::Eventually(Listening));
  const Instance second = Start();
  ASSERT_TRUE(second.process.WaitForExit(60000));
  EXPECT_EQ(second.process.ExitStatus(), 0);
  EXPECT_EQ(Err(second), "");

  WriteSchedule("0000042", {{"Kind", "1"}, {"OnceDate", Today()}, {"OnceTime", "00:00:00"}});
  Post("1043 42");
  EXPECT_TRUE(Says(first, "Horavex: Nachricht 1043 (42, 0) empfangen"));
  EXPECT_TRUE(Says(first, "Profil 0000042 \"Profil 0000042\": Abgleich beendet"));
  Post("1044 5 0");
  EXPECT_TRUE(Says(first, "WM_TIMERREMOVED 0000005: Zeile entfernt"));
  Post("--raw 'kein Datagramm'");
  EXPECT_TRUE(Says(first, "Datagramm verworfen: keine Nachricht (14 Bytes)"));
  EXPECT_TRUE(test::Eventually([&] {
    return platform::IniFile(tree.Win("bin/Timer.log")).ReadSection(Today()) ==
           std::vector<std::string>{"0000005", "0000042"};
  }));

  EXPECT_EQ(EndWith(first, SIGKILL), -1);
  EXPECT_TRUE(fs::exists(platform::WindowSocketPath(kTimerMainClass)));
  EXPECT_FALSE(Listening());
  const std::string done = tree.Posix("logoff.txt");
  test::ScopedEnv logoff{platform::kLogOffCommandVariable, ("/bin/sh -c 'echo logoff >> " + done + "'").c_str()};
  const Instance third = Start();
  ASSERT_TRUE(test::Eventually(Listening));
  kill(third.process.Pid(), SIGUSR1);
  ASSERT_TRUE(test::Eventually([&] { return fs::exists(done); }));
  EXPECT_EQ(EndWith(third, SIGTERM), 0);
  EXPECT_NE(Err(third).find("Horavex: wird beendet"), std::string::npos) << Err(third);
  EXPECT_FALSE(fs::exists(platform::WindowSocketPath(kTimerMainClass)));
  EXPECT_EQ(test::ReadFileText(done), "logoff\n");
}

// The shutdown profile waits on a share whose connect command waits for a
// gate file; meanwhile a posted message is served, and the session ends
// only after the run.
TEST_F(Horavex, TheSessionEndsAfterTheShutdownProfiles) {
  const std::string order = tree.Posix("order.txt");
  tree.Write("gate.sh", "while [ ! -e '" + tree.Posix("gate") + "' ]; do sleep 0.05; done\nexit 1\n");
  tree.Mkdir("mnt");
  platform::Registry volumes(platform::Hive::LocalMachine);
  volumes.WriteString("System\\Volumes\\//gate/share", "Folder", tree.Posix("mnt"));
  volumes.WriteString("System\\Volumes\\//gate/share", "ConnectCommand", "/bin/sh " + tree.Posix("gate.sh"));
  WriteSchedule("0000007", {{"Kind", "7"}});
  test::FolderPairSpec gated;
  gated.source = "\\\\gate\\share\\data\\";
  gated.destination = tree.WinFolder("dst");
  gated.sourceSite = {.host = "\\\\gate\\share", .user = "u", .password = "p"};
  test::WriteSrcDest(tree.Posix("W/Profile/0000007/SrcDest.kst"), {gated});
  test::WriteProfileList(tree.Posix("W/Profile/Pro.kst"),
                         {{.profileNo = "0000007",
                           .profileName = "0000007",
                           .profilePath = tree.WinFolder("W/Profile/0000007"),
                           .commandAfter = "/bin/sh -c 'echo 0000007 >> " + order + "'"}});
  test::ScopedEnv poweroff{platform::kPowerOffCommandVariable, ("/bin/sh -c 'echo poweroff >> " + order + "'").c_str()};

  const Instance h = Start();
  ASSERT_TRUE(test::Eventually(Listening));
  kill(h.process.Pid(), SIGUSR2);
  ASSERT_TRUE(Says(h, "Profil 0000007 \"0000007\": Abgleich gestartet"));
  Post("1043 1");
  EXPECT_TRUE(Says(h, "WM_TIMERCHANGED 1: Profil 0000001 hat keinen Zeitplan"));
  EXPECT_FALSE(fs::exists(order));
  test::WriteFileText(tree.Posix("gate"), "");
  ASSERT_TRUE(Says(h, "Sitzungsende: Herunterfahren mit \"/bin/sh -c echo poweroff >> " + order + "\" gestartet"));
  const std::string err = Err(h);
  EXPECT_LT(err.find("Profil 0000007 \"0000007\": Abgleich beendet"), err.find("Sitzungsende: Herunterfahren mit"));
  for (const char* line : {"0000007\n", "poweroff\n"}) {
    EXPECT_TRUE(test::Eventually([&] { return test::ReadFileText(order).find(line) != std::string::npos; })) << line;
  }
  // A second request is granted: the program ends; the command ran once.
  EXPECT_EQ(EndWith(h, SIGUSR2), 0);
  const std::string lines = test::ReadFileText(order);
  EXPECT_EQ(lines.find("poweroff"), lines.rfind("poweroff")) << lines;
}

}  // namespace
}  // namespace kv
