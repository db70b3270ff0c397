// The network watcher with a network of the test's (closing during the
// settling wait: TimerMain.ClosingStopsTheWatcherTheCheckerAndTheRuns).
#include "scheduler/checkstarts.h"
#include "scheduler/netconnection.h"
#include "scheduler/tests/scheduler_fixture.h"

namespace kv {
namespace {

using std::chrono::milliseconds;
using test::kNetDown;
using test::kNetUp;

using NetConnection = test::SchedulerFixture;

TEST_F(NetConnection, HotplugProfilesStartOncePerConnectionAndAFailingProbeIsNoNetwork) {
  WriteSchedule("0000006", {{"Kind", "6"}});
  WriteSchedule("0000008", {{"Kind", "8"}});
  WriteSchedule("0000003", {{"Kind", "3"}, {"Daily", "23:59:59"}});
  WriteProfiles({"0000006", "0000008", "0000003"});
  clock.Set("12.01.2026 09:00:00");
  TTimerList list;
  list.userOptions = LoadUserOptions(ScheduleFile());
  for (const char* number : {"0000006", "0000008", "0000003"}) list.Add(Loaded(number));
  TRunLauncher launcher(tree.Win("bin/Timer.ini"), runs.Factory());
  TthCheckStarts checker(list, nullptr, clock, launcher, TimerLog());
  test::FakeNetwork network;
  std::vector<int> errors;
  TthCheckNetConnection watcher(checker, network, [&](int error) { errors.push_back(error); });

  // Up at the start: at once. Gone: the marks clear at once. Back: 20
  // seconds to settle, then each starts again, once. A failing probe counts
  // as no network, its error reported once per streak.
  network.Then({kNetUp, kNetUp, kNetDown, {false, 10093}, {false, 10093}, kNetUp, kNetUp, {false, 10050}, kNetDown});
  const struct {
    milliseconds wait;
    size_t runs;
    bool started;  // the hotplug entries' marks
  } steps[] = {{milliseconds(10), 2, true},  {milliseconds(10), 2, true},
               {milliseconds(10), 2, false}, {milliseconds(10), 2, false},
               {milliseconds(10), 2, false}, {TthCheckNetConnection::kSettleTime, 2, false},
               {milliseconds(10), 4, true},  {milliseconds(10), 4, true},
               {milliseconds(10), 4, false}, {milliseconds(10), 4, false}};
  for (size_t i = 0; i < std::size(steps); ++i) {
    SCOPED_TRACE(testing::Message() << "step " << i);
    EXPECT_EQ(watcher.Step(), steps[i].wait);
    EXPECT_EQ(runs.Count(), steps[i].runs);
    EXPECT_EQ(list.Get(0).started && list.Get(1).started, steps[i].started);
    EXPECT_FALSE(list.Get(2).started);
  }
  EXPECT_EQ(runs.Started(), (std::vector<std::string>{"0000006", "0000008", "0000006", "0000008"}));
  EXPECT_EQ(errors, (std::vector<int>{10093, 10050}));
  // Network starts are not recorded as done today.
  EXPECT_FALSE(platform::IniFile(TimerLog()).SectionExists("12.01.26"));
}

}  // namespace
}  // namespace kv
