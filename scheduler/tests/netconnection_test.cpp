// The network watcher with a probe of the test's, and the machine's own
// probe in a network namespace of its own.
#include <deque>

#include "scheduler/checkstarts.h"
#include "scheduler/netconnection.h"
#include "scheduler/tests/scheduler_fixture.h"
#include "testsupport/commands.h"

namespace kv {
namespace {

using std::chrono::milliseconds;

// Answers with the states queued, then with the last one again.
class ScriptedProbe : public INetworkProbe {
 public:
  platform::NetworkState Probe() override {
    std::lock_guard lock(mutex_);
    ++calls;
    if (states_.empty()) return {};
    const platform::NetworkState next = states_.front();
    if (states_.size() > 1) states_.pop_front();
    return next;
  }
  std::atomic<int> calls{0};

  void Then(std::initializer_list<platform::NetworkState> states) {
    std::lock_guard lock(mutex_);
    states_.insert(states_.end(), states);
  }

 private:
  std::mutex mutex_;
  std::deque<platform::NetworkState> states_;
};

constexpr platform::NetworkState kUp{true, 0};
constexpr platform::NetworkState kDown{false, 0};

class NetConnection : public test::SchedulerFixture {
 protected:
  TTimerList list;
  TTimerGrid grid;
  ScriptedProbe probe;
  std::vector<int> errors;
  std::optional<TRunLauncher> launcher;
  std::optional<TthCheckStarts> checker;
  std::optional<TthCheckNetConnection> watcher;

  void SetUp() override {
    SchedulerFixture::SetUp();
    WriteSchedule("0000006", {{"Kind", "6"}});
    WriteSchedule("0000008", {{"Kind", "8"}});
    WriteSchedule("0000003", {{"Kind", "3"}, {"Daily", "23:59:59"}});
    WriteProfiles({"0000006", "0000008", "0000003"});
    clock.Set("12.01.2026 09:00:00");
    list.userOptions = LoadUserOptions(ScheduleFile());
    for (const char* number : {"0000006", "0000008", "0000003"}) list.Add(Loaded(number));
    launcher.emplace(tree.Win("bin/Timer.ini"), runs.Factory());
    checker.emplace(list, &grid, clock, *launcher, TimerLog());
    watcher.emplace(*checker, probe, [this](int error) { errors.push_back(error); });
  }
};

TEST_F(NetConnection, HotplugProfilesStartOncePerConnection) {
  probe.Then({kUp, kUp, kDown, kDown, kUp, kUp});
  // A network at the start counts at once, without the settling wait.
  EXPECT_EQ(watcher->Step(), milliseconds(10));
  EXPECT_EQ(runs.Started(), (std::vector<std::string>{"0000006", "0000008"}));
  EXPECT_EQ(watcher->Step(), milliseconds(10));
  // Gone: the marks are cleared at once.
  EXPECT_EQ(watcher->Step(), milliseconds(10));
  EXPECT_FALSE(list.Get(0).started);
  EXPECT_FALSE(list.Get(1).started);
  EXPECT_EQ(watcher->Step(), milliseconds(10));
  // Back: 20 seconds to settle, then each starts again, once.
  EXPECT_EQ(watcher->Step(), TthCheckNetConnection::kSettleTime);
  EXPECT_EQ(runs.Count(), 2u);
  EXPECT_EQ(watcher->Step(), milliseconds(10));
  EXPECT_EQ(runs.Count(), 4u);
  EXPECT_EQ(watcher->Step(), milliseconds(10));
  EXPECT_EQ(runs.Count(), 4u);
  // Network starts are not recorded as done today.
  EXPECT_FALSE(platform::IniFile(TimerLog()).SectionExists("12.01.26"));
}

TEST_F(NetConnection, AFailingProbeIsReportedOncePerStreakAndCountsAsNoNetwork) {
  probe.Then({kUp, {false, 10093}, {false, 10093}, kDown, {false, 10050}, kDown});
  for (int i = 0; i < 6; ++i) watcher->Step();
  EXPECT_EQ(errors, (std::vector<int>{10093, 10050}));
  EXPECT_EQ(runs.Count(), 2u);
}

TEST_F(NetConnection, ClosingEndsTheSettlingWait) {
  probe.Then({kDown, kUp});
  watcher->Start();
  // Once the probe has reported the network up, the thread waits 20 seconds.
  ASSERT_TRUE(test::Eventually([&] { return probe.calls >= 2; }));
  const auto asked = std::chrono::steady_clock::now();
  watcher->Terminate();
  ASSERT_TRUE(test::Eventually([&] { return watcher->Finished(); }));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, TthCheckNetConnection::kSettleTime / 2);
  watcher->WaitFor();
  EXPECT_EQ(runs.Count(), 0u);
}

TEST(NetworkPresence, AVethPairWithAnAddressIsANetworkOnlyWhileItsPeerIsUp) {
  int status = 0;
  const std::string out = test::RunCommand("unshare -rn " + test::ShellQuote(KV_NETPROBE) + " 2>&1", &status);
  if (status != 0 && out.find("loopback=") == std::string::npos) {
    GTEST_SKIP() << "no network namespace here (unshare -rn): " << out;
  }
  EXPECT_EQ(out, "loopback=0 veth=1 peerdown=0\n");
}

}  // namespace
}  // namespace kv
