// The main window's model with a view of the test's, the test's thread as
// the window thread, recorded runs and a clock of the test's: start-up,
// the editor's messages, the end of the session and closing.
#include <filesystem>
#include <optional>

#include "copyengine/copywindow.h"
#include "platform/registry.h"
#include "platform/ui/jobstop.h"
#include "scheduler/tests/run_fixture.h"
#include "scheduler/tests/scheduler_fixture.h"
#include "scheduler/timermain.h"

namespace kv {
namespace {

class TestView : public ITimerMainView {
 public:
  explicit TestView(test::TestWindowThread& window) : window_(window) {}
  bool AddTrayIcon(std::string_view tip) override {
    tips.emplace_back(tip);
    return trayShown = true;
  }
  void SetTrayTip(std::string_view tip) override { tips.emplace_back(tip); }
  void RemoveTrayIcon() override { trayShown = false; }
  void ShowWindow() override { hidden = false; }
  void HideWindow() override { hidden = true; }
  void StartShutTimer(int milliseconds) override { shutTimer = milliseconds; }
  void WaitUntil(const std::function<bool()>& done) override { EXPECT_TRUE(window_.ServeUntil(done)); }

  std::vector<std::string> tips;
  bool trayShown = false;
  bool hidden = false;
  int shutTimer = 0;

 private:
  test::TestWindowThread& window_;
};

class TimerMain : public test::SchedulerFixture {
 protected:
  test::TestWindowThread window;
  TestView view{window};
  test::FakeNetwork network;
  std::vector<platform::SessionExit> exits;
  std::optional<TtfTimerMain> model;

  void SetUp() override {
    SchedulerFixture::SetUp();
    SetWorkDir(tree.Win("W"));  // without the final "\"
    WriteProfiles({"0000001", "0000003", "0000007", "0000008", "0000042"});
    clock.Set("12.01.2026 09:00:00");
  }
  void TearDown() override {
    if (model) model->FormClose();
    model.reset();
    platform::ui::SetAllJobsStopping(false);
  }
  void SetWorkDir(const std::string& value) {
    platform::Registry(platform::Hive::CurrentUser).WriteString(kUserKey, "WorkDir", value);
  }
  std::optional<int> Create(TRunLauncher::RunFactory factory = {}) {
    model.emplace(view, TTimerMainSetup{tree.WinFolder("bin"), &clock, &network,
                                        factory ? std::move(factory) : runs.Factory(),
                                        [this](platform::SessionExit kind) {
                                          exits.push_back(kind);
                                          return true;
                                        }});
    return model->FormCreate();
  }
  std::vector<std::string> Rows() {
    std::vector<std::string> rows;
    for (int row = 0; row < model->grid().RowCount(); ++row) {
      std::string line;
      for (int c = 0; c < TTimerGrid::kColumnCount; ++c) line += (c ? "|" : "") + model->grid().Cell(c, row);
      rows.push_back(line);
    }
    return rows;
  }
  bool Serve(const std::function<bool()>& done) { return window.ServeUntil(done); }
  std::string LastStart(int row) { return model->grid().Cell(TTimerGrid::kColLastStart, row); }
};

TEST_F(TimerMain, StartUpEndsWithoutWorkDirOrWithoutSchedule) {
  struct Case {
    const char* name;
    std::optional<std::string> workDir;
    std::optional<std::string> schedule;
    int exitStatus;
    bool box;
  };
  const std::vector<Case> cases = {
      {"no WorkDir", std::nullopt, "[0000001]\r\nKind=3\r\n", 1, true},
      {"empty WorkDir", "  ", "[0000001]\r\nKind=3\r\n", 1, true},
      {"no Timer.dat", tree.Win("W"), std::nullopt, 1, false},
      {"no schedule in it", tree.Win("W"), "[0000001]\r\nKind=0\r\nName=a\r\n[0000002]\r\nName=b\r\n", 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::Registry(platform::Hive::CurrentUser).DeleteKey(kUserKey);
    if (c.workDir) SetWorkDir(*c.workDir);
    std::filesystem::remove(tree.Posix("W/Profile/Timer.dat"));
    if (c.schedule) tree.Write("W/Profile/Timer.dat", *c.schedule);
    const std::vector<std::string> boxes = window.Boxes();
    beeps.count = 0;
    EXPECT_EQ(Create(), c.exitStatus);
    EXPECT_EQ(window.Boxes().size() - boxes.size(), c.box ? 1u : 0u);
    if (c.box) {
      EXPECT_EQ(window.Boxes().back(), std::string(kMissingWorkDirText));
    }
    EXPECT_EQ(beeps.count, c.box ? 1 : 0);
    EXPECT_FALSE(view.trayShown);
    model.reset();
  }
}

TEST_F(TimerMain, StartUpFillsTheGridAndTheEditorsMessagesChangeIt) {
  WriteSchedule("0000003", {{"Kind", "3"}, {"Daily", "08:00:00"}});
  WriteSchedule("0000002", {{"Kind", "0"}});
  WriteSchedule("0000001", {{"Kind", "1"}, {"OnceDate", "01.02.26"}, {"OnceTime", "12:00:00"}});
  WriteSchedule("0000009", {{"Kind", "9"}, {"Mail", "a@example.org"}, {"LastStart", "11.01.26 23:00:05"}});
  network.Then({{false, 10050}});
  ASSERT_EQ(Create(), std::nullopt);
  // The watcher's box opens on the window thread; the daily entry is due.
  ASSERT_TRUE(Serve([&] { return !window.Boxes().empty() && !LastStart(1).empty(); }));
  EXPECT_EQ(window.Boxes(), std::vector<std::string>{"WinSock Error 10050"});
  EXPECT_EQ(Rows(), (std::vector<std::string>{"ID|Name|Timer|Letzter Start",
                                              "0000003|Profil 0000003|Täglich|12.01.26 09:00:00",
                                              "0000001|Profil 0000001|Einmalig|",
                                              "0000009|Profil 0000009|-|11.01.26 23:00:05"}));
  EXPECT_EQ(model->list().Get(2).mail, "a@example.org");
  EXPECT_EQ(view.tips, (std::vector<std::string>{std::string(kTrayTipLoading), "Kestrovane Timer"}));
  EXPECT_EQ(test::ReadFileText(tree.Posix("bin/Timer.ini")), "[Options]\r\nShowProcess=1\r\nMinimized=0\r\n");
  model->Timer1Timer();
  EXPECT_TRUE(view.hidden);

  // A new entry gets its number, so it starts.
  WriteSchedule("0000042", {{"Kind", "1"}, {"OnceDate", "12.01.26"}, {"OnceTime", "08:59:00"}});
  model->WMTimerChanged(42);
  EXPECT_EQ(model->grid().Cell(TTimerGrid::kColId, 4), "0000042");
  EXPECT_EQ(LastStart(4), "30.12.99 00:00:00");
  ASSERT_TRUE(Serve([&] { return LastStart(4) == "12.01.26 09:00:00"; }));
  EXPECT_EQ(runs.Started(), (std::vector<std::string>{"0000003", "0000042"}));
  // No schedule: nothing changes. A changed entry keeps its started state.
  WriteSchedule("0000043", {{"Kind", "0"}});
  std::vector<std::string> before = Rows();
  model->WMTimerChanged(43);
  EXPECT_EQ(Rows(), before);
  Schedule().WriteString("0000003", "Mail", "neu@example.org");
  model->WMTimerChanged(3);
  EXPECT_TRUE(model->list().Get(model->list().IndexOf("0000003")).started);
  EXPECT_EQ(model->list().Get(model->list().IndexOf("0000003")).mail, "neu@example.org");
  // -1: only the names are read again.
  Schedule().WriteString("0000003", "Name", "Umbenannt");
  model->WMTimerChanged(-1);
  EXPECT_EQ(model->grid().Cell(TTimerGrid::kColName, 1), "Umbenannt");
  EXPECT_EQ(runs.Count(), 2u);

  // The started once entry has left the list: only its row goes.
  before = Rows();
  model->WMTimerRemoved(5);
  EXPECT_EQ(Rows(), before);
  model->WMTimerRemoved(42);
  EXPECT_EQ(Rows().size(), 4u);
  EXPECT_EQ(model->list().Count(), 3);
  for (int number : {1, 9}) model->WMTimerRemoved(number);
  EXPECT_EQ(Rows(),
            (std::vector<std::string>{"ID|Name|Timer|Letzter Start", "0000003|Umbenannt|Täglich|12.01.26 09:00:00"}));
  model->WMTimerRemoved(3);
  EXPECT_EQ(Rows(), (std::vector<std::string>{"ID|Name|Timer|Letzter Start", "|||"}));
  EXPECT_EQ(model->list().Count(), 0);
}

// The first request is refused; a second later the shutdown profiles run
// one after the other, each alone (the daily run still going is awaited),
// unrecorded, and then the session ends.
TEST_F(TimerMain, TheEndOfTheSessionRunsTheShutdownProfilesOneByOne) {
  WriteSchedule("0000003", {{"Kind", "3"}, {"Daily", "08:00:00"}});
  WriteSchedule("0000007", {{"Kind", "7"}, {"Mail", "a@example.org"}});
  WriteSchedule("0000008", {{"Kind", "8"}});
  runs.hold = true;
  ASSERT_EQ(Create(), std::nullopt);
  ASSERT_TRUE(Serve([&] { return runs.Count() == 1; }));
  std::atomic<bool> done{false};
  std::thread releaser([&] {
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      runs.ReleaseOne();
    }
  });
  EXPECT_FALSE(model->WMQueryEndSession(true));
  EXPECT_EQ(view.shutTimer, 1000);
  model->TimerShutTimer();
  done = true;
  releaser.join();
  EXPECT_EQ(runs.Started(), (std::vector<std::string>{"0000003", "0000007 a@example.org", "0000008"}));
  EXPECT_FALSE(runs.overlapped());
  EXPECT_EQ(exits, std::vector<platform::SessionExit>{platform::SessionExit::LogOff});
  EXPECT_EQ(Schedule().ReadString("0000007", "LastStart", ""), "");
  EXPECT_FALSE(platform::IniFile(TimerLog()).ValueExists("12.01.26", "0000007"));
  EXPECT_TRUE(model->WMQueryEndSession(false));
}

// Closing while the checker waits in its synchronised call, the watcher in
// its settling wait and a run is going: all three end, nothing starts.
TEST_F(TimerMain, ClosingStopsTheWatcherTheCheckerAndTheRuns) {
  WriteSchedule("0000003", {{"Kind", "3"}, {"Daily", "08:00:00"}});
  WriteSchedule("0000006", {{"Kind", "6"}});
  WriteProfiles({"0000003", "0000006"});
  runs.hold = true;
  ASSERT_EQ(Create(), std::nullopt);
  // The network comes up after the start: the watcher waits 20 seconds.
  ASSERT_TRUE(test::Eventually([&] { return network.probes > 0; }));
  network.Then({test::kNetUp});
  const int seen = network.probes;
  ASSERT_TRUE(test::Eventually([&] { return network.probes > seen && runs.Count() == 1; }));
  std::thread stopper([&] {
    test::Eventually([] { return platform::ui::AllJobsStopping(); });
    runs.ReleaseOne();
  });
  const auto asked = std::chrono::steady_clock::now();
  model->FormClose();
  stopper.join();
  EXPECT_LT(std::chrono::steady_clock::now() - asked, TthCheckNetConnection::kSettleTime / 2);
  EXPECT_EQ(runs.Started(), std::vector<std::string>{"0000003"});
  EXPECT_FALSE(view.trayShown);
  EXPECT_FALSE(model->launcher().Launch("0000003", "", model->list().userOptions));
}

// A copy window that holds the copy of "z.bin" until the program closes.
class HoldingCopyView : public ICopyWindowView {
 public:
  explicit HoldingCopyView(std::atomic<bool>& copying) : copying_(copying) {}
  void Publish(const CopyWindowSnapshot& snapshot) override {
    if (snapshot.label(CopyLabel::tlSrc).text.find("z.bin") == std::string::npos) return;
    copying_ = true;
    test::Eventually([] { return platform::ui::AllJobsStopping(); });
  }
  bool AskAbort(std::string_view) override { return false; }

 private:
  std::atomic<bool>& copying_;
};

// "Timer beenden" in the middle of a real copy: the run is stopped as its
// cancel button stops it and awaited, so its protocol ends with a trailer
// and "OS.vrl" stays whole.
TEST_F(TimerMain, ClosingDuringACopyEndsTheRunCleanly) {
  test::ScopedEnv data{"XDG_DATA_HOME", tree.Posix().c_str()};
  test::ScopedEnv cache{"XDG_CACHE_HOME", tree.Posix().c_str()};
  test::WriteProfileList(tree.Posix("W/Profile/Pro.kst"),
                         {{.profileNo = "0000003", .keepOldStamps = 1, .profilePath = tree.WinFolder("W/Profile/3")}});
  test::WriteSrcDest(tree.Posix("W/Profile/3/SrcDest.kst"),
                     {test::MirrorPair(tree.WinFolder("src"), tree.WinFolder("dst"))});
  tree.Write("src/a.txt", "klein");
  tree.Write("src/z.bin", std::string(64 << 20, 'z'));
  tree.Mkdir("dst");
  WriteSchedule("0000003", {{"Kind", "3"}, {"Daily", "08:00:00"}});
  std::atomic<bool> copying{false};
  const CopyWindowViewFactory previous =
      SetCopyWindowViewFactory([&](const CopyWindowLink&) -> std::unique_ptr<ICopyWindowView> {
        return std::make_unique<HoldingCopyView>(copying);
      });
  ASSERT_EQ(Create(StartRun), std::nullopt);
  ASSERT_TRUE(Serve([&] { return copying.load(); }));
  model->FormClose();
  SetCopyWindowViewFactory(previous);

  const test::DecodedPtk ptk = test::DecodePtk(tree.Posix("W/Profile/3/AUTOptk/00000.ptk"));
  EXPECT_TRUE(ptk.wellFormed);
  EXPECT_TRUE(ptk.trailer);
  EXPECT_EQ(test::StampNames(tree.Posix("W/Profile/3/OS.vrl")), std::vector<std::string>{"a.txt"});
  EXPECT_EQ(tree.Read("dst/a.txt"), "klein");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tree.Posix("dst")), {}), 1);
}

}  // namespace
}  // namespace kv
