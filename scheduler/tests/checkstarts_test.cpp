// The schedule checker with a clock of the test's: when each kind of entry
// starts, the run log, and the starts that must not happen.
#include <sys/stat.h>

#include <filesystem>
#include <future>
#include <optional>

#include "scheduler/checkstarts.h"
#include "scheduler/tests/scheduler_fixture.h"

namespace kv {
namespace {

using Keys = std::vector<std::pair<std::string, std::string>>;

// A pass at `when` (local time, or UTC with the suffix "Z"), after which
// `starts` runs have started in all; "restart" loads the list anew.
struct Step {
  const char* when;
  size_t starts;
};

struct Case {
  const char* name;
  Keys keys;
  const char* loadedAt;
  std::vector<Step> steps;
  bool recorded = true;  // the starts enter "Timer.log"
};

class CheckStarts : public test::SchedulerFixture {
 protected:
  TTimerList list;
  TTimerGrid grid;
  std::optional<TRunLauncher> launcher;
  std::optional<TthCheckStarts> checker;

  void SetUp() override {
    SchedulerFixture::SetUp();
    launcher.emplace(tree.Win("bin/Timer.ini"), runs.Factory());
    list.userOptions = LoadUserOptions(ScheduleFile());
    checker.emplace(list, &grid, clock, *launcher, TimerLog());
  }
  // Entries with grid rows, as loaded at `when`.
  void Load(const char* when, const std::vector<std::string>& numbers) {
    clock.Set(when);
    for (const std::string& number : numbers) {
      if (const int i = list.IndexOf(number); i >= 0) list.Delete(i);
      list.Add(Loaded(number));
      if (grid.FindRow(number) >= 0) continue;
      if (!grid.Cell(TTimerGrid::kColId, grid.RowCount() - 1).empty()) grid.SetRowCount(grid.RowCount() + 1);
      grid.SetCell(TTimerGrid::kColId, grid.RowCount() - 1, number);
    }
  }
  bool DoneToday(const std::string& number) { return checker->timerLog().IsDoneToday(number, LocalNow(clock).day); }
};

TEST_F(CheckStarts, EachKindStartsWhenDueAndOnlyThen) {
  const std::vector<Case> cases = {
      {"once, at and after its time", {{"Kind", "1"}, {"OnceDate", "12.01.26"}, {"OnceTime", "12:00:00"}},
       "12.01.2026 08:00:00",
       {{"12.01.2026 11:59:59", 0}, {"12.01.2026 12:00:00", 0}, {"12.01.2026 12:00:00.010", 1},
        {"12.01.2026 12:00:01", 1}, {"restart", 1}, {"12.01.2026 13:00:00", 1}}},
      {"once, yesterday", {{"Kind", "1"}, {"OnceDate", "11.01.26"}, {"OnceTime", "12:00:00"}},
       "12.01.2026 08:00:00", {{"12.01.2026 13:00:00", 0}, {"13.01.2026 13:00:00", 0}}},
      {"interval, from the moment of loading", {{"Kind", "2"}, {"Intervall", "01:00:00"}}, "12.01.2026 10:00:00",
       {{"12.01.2026 10:59:59", 0}, {"12.01.2026 11:00:01", 1}, {"12.01.2026 11:30:00", 1},
        {"12.01.2026 12:00:02", 2}, {"restart", 2}, {"12.01.2026 12:30:00", 2}, {"12.01.2026 13:30:01", 3}},
       false},
      {"interval, over midnight", {{"Kind", "2"}, {"Intervall", "01:00:00"}}, "07.12.2026 23:30:00.700",
       {{"08.12.2026 00:30:00", 0}, {"08.12.2026 00:30:01", 1}}, false},
      {"interval, no catch-up after a night asleep", {{"Kind", "2"}, {"Intervall", "01:00:00"}},
       "07.12.2026 23:30:00", {{"09.12.2026 07:00:00", 0}, {"10.12.2026 00:31:00", 0}}, false},
      {"interval 0 or unreadable, never", {{"Kind", "2"}, {"Intervall", "0:00:00"}}, "12.01.2026 10:00:00",
       {{"12.01.2026 10:00:01", 0}, {"12.01.2026 10:00:02", 0}, {"12.01.2026 18:00:00", 0}}, false},
      {"interval missing, never", {{"Kind", "2"}}, "12.01.2026 10:00:00", {{"12.01.2026 10:00:01", 0}}, false},
      {"daily, started late at once, not again after a restart",
       {{"Kind", "3"}, {"Daily", "08:00:00"}},
       "12.01.2026 09:00:00",
       {{"12.01.2026 09:00:00", 1}, {"12.01.2026 09:00:01", 1}, {"restart", 1}, {"12.01.2026 10:00:00", 1},
        {"13.01.2026 07:59:59", 1}, {"13.01.2026 08:00:01", 2}}},
      {"weekly on Monday and Wednesday",
       {{"Kind", "4"}, {"Week0Active", "1"}, {"Week0", "08:00:00"}, {"Week2Active", "1"}, {"Week2", "08:00:00"}},
       "12.01.2026 07:00:00",
       {{"12.01.2026 08:00:01", 1}, {"12.01.2026 09:00:00", 1}, {"13.01.2026 09:00:00", 1},
        {"14.01.2026 07:59:00", 1}, {"14.01.2026 08:00:01", 2}, {"19.01.2026 08:00:01", 3}}},
      {"weekly without a chosen day", {{"Kind", "4"}, {"Week0", "08:00:00"}}, "12.01.2026 07:00:00",
       {{"12.01.2026 09:00:00", 0}}},
      {"monthly on the 31st: never in April", {{"Kind", "5"}, {"MonthDay", "31"}, {"MonthTime", "10:00:00"}},
       "01.04.2026 00:00:00", {{"30.04.2026 10:00:01", 0}, {"01.05.2026 10:00:01", 0}, {"31.05.2026 10:00:01", 1}}},
      {"monthly on the 29th in a leap year", {{"Kind", "5"}, {"MonthDay", "29"}, {"MonthTime", "10:00:00"}},
       "28.02.2028 12:00:00", {{"29.02.2028 09:59:59", 0}, {"29.02.2028 10:00:01", 1}, {"29.02.2028 11:00:00", 1}}},
      // 02:30 does not exist on 29.03.2026: the clock jumps from 02:00 to 03:00.
      {"daily 02:30 on the spring switch", {{"Kind", "3"}, {"Daily", "02:30:00"}}, "29.03.2026 00:00:00",
       {{"29.03.2026 00:59:59Z", 0}, {"29.03.2026 01:00:01Z", 1}, {"29.03.2026 02:00:00Z", 1}}},
      // 02:30 happens twice on 25.10.2026: at 00:30 and at 01:30 UTC.
      {"daily 02:30 on the autumn switch", {{"Kind", "3"}, {"Daily", "02:30:00"}}, "25.10.2026 00:00:00",
       {{"25.10.2026 00:29:59Z", 0}, {"25.10.2026 00:30:01Z", 1}, {"25.10.2026 01:30:01Z", 1},
        {"25.10.2026 03:00:00Z", 1}}},
      {"network and shutdown kinds never start from the clock", {{"Kind", "8"}}, "12.01.2026 00:00:00",
       {{"12.01.2026 10:00:00", 0}}},
      {"a kind beyond a byte is none", {{"Kind", "259"}, {"Daily", "08:00:00"}}, "12.01.2026 09:00:00",
       {{"12.01.2026 09:00:01", 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(tree.Posix("bin/Timer.log"));
    test::WriteFileText(tree.Posix("W/Profile/Timer.dat"), "");
    while (list.Count() > 0) list.Delete(0);
    WriteSchedule("0000001", c.keys);
    WriteProfiles({"0000001"});
    const size_t before = runs.Count();
    Load(c.loadedAt, {"0000001"});
    bool restart = false;
    for (const Step& step : c.steps) {
      if (std::string(step.when) == "restart") {
        restart = true;
        continue;
      }
      if (std::exchange(restart, false)) Load(step.when, {"0000001"});
      clock.Set(step.when);
      checker->Pass();
      EXPECT_EQ(runs.Count() - before, step.starts) << "after the pass at " << step.when;
    }
    const bool logged = platform::IniFile(TimerLog()).SectionExists(TTimerLog::SectionOf(LocalNow(clock).day));
    EXPECT_EQ(logged, c.recorded && runs.Count() > before);
  }
}

// A start: LastStart in the grid and "Timer.dat", today's done mark, and
// yesterday's section gone. Then passes with nothing to do rewrite neither
// "Timer.log" nor "Timer.dat".
TEST_F(CheckStarts, AStartIsRecordedAndPassesWithNothingToDoLeaveTheFilesAlone) {
  WriteSchedule("0000001", {{"Kind", "3"}, {"Daily", "08:00:00"}, {"Mail", "ops@example.org"}});
  WriteSchedule("0000002", {{"Kind", "4"}, {"Week1Active", "1"}, {"Week1", "23:00:00"}});
  WriteProfiles({"0000001", "0000002"});
  platform::IniFile(TimerLog()).WriteString("11.01.26", "0000009", "Done");
  Load("12.01.2026 09:15:00", {"0000001", "0000002"});
  checker->Pass();
  EXPECT_EQ(runs.Started(), std::vector<std::string>{"0000001 ops@example.org"});
  EXPECT_EQ(grid.Cell(TTimerGrid::kColLastStart, 1), "12.01.26 09:15:00");
  EXPECT_EQ(Schedule().ReadString("0000001", "LastStart", ""), "12.01.26 09:15:00");
  EXPECT_EQ(platform::IniFile(TimerLog()).ReadSections(), (std::vector<std::string>{"State", "12.01.26"}));
  EXPECT_TRUE(DoneToday("0000001"));
  EXPECT_EQ(platform::IniFile(TimerLog()).ReadString("State", "Active", "x"), "");

  const auto stamps = [&] {
    std::vector<std::pair<ino_t, int64_t>> out;
    for (const char* file : {"bin/Timer.log", "W/Profile/Timer.dat"}) {
      struct stat st {};
      EXPECT_EQ(stat(tree.Posix(file).c_str(), &st), 0) << file;
      out.emplace_back(st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec);
    }
    return out;
  };
  const auto before = stamps();
  for (int i = 0; i < 50; ++i) checker->Pass();
  EXPECT_EQ(stamps(), before);
  EXPECT_EQ(runs.Count(), 1u);
}

// No record in "Pro.kst": no run, no LastStart, no done mark, and no second
// try on the next passes. A refused run counts as started too.
TEST_F(CheckStarts, AStartWithoutARecordOrARefusedRunCountsAsStarted) {
  WriteSchedule("0000001", {{"Kind", "3"}, {"Daily", "08:00:00"}});
  WriteSchedule("0000002", {{"Kind", "3"}, {"Daily", "08:00:00"}});
  WriteProfiles({"0000002"});
  runs.outcome = TRunOutcome::Refused;
  Load("12.01.2026 09:00:00", {"0000001", "0000002"});
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) checker->Pass();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(runs.Started(), std::vector<std::string>{"0000002"});
  EXPECT_NE(err.find("Profil 0000001 nicht gestartet"), std::string::npos) << err;
  EXPECT_EQ(err.find("nicht gestartet"), err.rfind("nicht gestartet")) << err;
  EXPECT_EQ(Schedule().ReadString("0000001", "LastStart", ""), "");
  EXPECT_FALSE(DoneToday("0000001"));
  EXPECT_TRUE(DoneToday("0000002"));
  EXPECT_TRUE(list.Get(list.IndexOf("0000001")).started);
}

// The editor removes the profile while its run starts: LastStart does not
// bring its section back.
TEST_F(CheckStarts, AStartLeavesTheSectionOfARemovedProfileAway) {
  WriteSchedule("0000001", {{"Kind", "3"}, {"Daily", "08:00:00"}});
  WriteProfiles({"0000001"});
  Load("12.01.2026 09:00:00", {"0000001"});
  runs.starting = [&](const TProfItem&) { Schedule().EraseSection("0000001"); };
  checker->Pass();
  EXPECT_EQ(runs.Count(), 1u);
  EXPECT_FALSE(Schedule().SectionExists("0000001"));
}

// A network start (unrecorded) while a pass makes a recorded one: each
// start's AfterStart gets its own number and mark, and neither starts
// while the list is locked.
TEST_F(CheckStarts, ConcurrentStartsRecordOnlyTheirOwnProfile) {
  WriteSchedule("0000001", {{"Kind", "3"}, {"Daily", "08:00:00"}});
  WriteSchedule("0000006", {{"Kind", "6"}});
  WriteProfiles({"0000001", "0000006"});
  Load("12.01.2026 09:00:00", {"0000001", "0000006"});
  std::promise<void> dailyDone;
  std::atomic<bool> listFree{true};
  runs.starting = [&](const TProfItem& profile) {
    auto lockable = std::async(std::launch::async, [&] { (void)checker->LockList(); });
    if (lockable.wait_for(std::chrono::seconds(10)) != std::future_status::ready) listFree = false;
    if (profile.profileNo == "0000006") dailyDone.get_future().wait();
  };
  std::thread watcher([&] { checker->NetChanged(true); });
  ASSERT_TRUE(test::Eventually([&] {
    auto lock = checker->LockList();
    return list.Get(list.IndexOf("0000006")).started;
  }));
  checker->Pass();
  dailyDone.set_value();
  watcher.join();
  EXPECT_TRUE(listFree);
  EXPECT_TRUE(DoneToday("0000001"));
  EXPECT_FALSE(DoneToday("0000006"));
  EXPECT_NE(Schedule().ReadString("0000006", "LastStart", ""), "");
}

// A run is going from the moment its start begins, before the launcher
// has it in its list: the end of the session must not start one beside it.
TEST_F(CheckStarts, ARunCountsAsGoingWhileItStarts) {
  WriteProfiles({"0000001"});
  std::promise<void> starting, release;
  runs.starting = [&](const TProfItem&) {
    starting.set_value();
    release.get_future().wait();
  };
  std::thread starter([&] { launcher->Launch("0000001", "", list.userOptions); });
  starting.get_future().wait();
  EXPECT_TRUE(launcher->AnyRunning());
  release.set_value();
  starter.join();
  EXPECT_FALSE(launcher->AnyRunning());
}

TEST_F(CheckStarts, AFailingPassIsReportedOnceAndTheCheckerGoesOn) {
  WriteSchedule("0000001", {{"Kind", "3"}, {"Daily", "08:00:00"}});
  WriteProfiles({"0000001"});
  Load("12.01.2026 09:00:00", {"0000001"});
  clock.failures = 5;
  testing::internal::CaptureStderr();
  checker->Start();
  const bool started = test::Eventually([&] { return runs.Count() == 1; });
  checker->TerminateAndWait();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(started);
  EXPECT_NE(err.find("Die Prüfung der Zeitpläne fehlgeschlagen: Uhr nicht lesbar"), std::string::npos) << err;
  EXPECT_EQ(err.find("fehlgeschlagen"), err.rfind("fehlgeschlagen")) << err;
}

}  // namespace
}  // namespace kv
