#pragma once
// What the tests of the checker, the watcher and the main window share: a
// clock and a network of the test's (the clock in UTC; the schedules see it
// through TZ, which is Europe/Berlin here), runs that are recorded instead
// of made, the test's thread as the window thread, and a work folder whose
// "Timer.dat", "Pro.kst" and "UsrOpt.kst" the test writes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/beep.h"
#include "platform/inifile.h"
#include "platform/time.h"
#include "platform/ui/question.h"
#include "platform/ui/windowthread.h"
#include "scheduler/netconnection.h"
#include "scheduler/runlauncher.h"
#include "scheduler/schedulefile.h"
#include "testsupport/profiles.h"
#include "testsupport/temptree.h"

namespace kv::test {

// Waits for a condition of another thread; false only when something hangs.
inline bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class FakeClock : public ISchedulerClock {
 public:
  // The next `failures` readings fail.
  platform::FileTime UtcNow() override {
    if (failures > 0 && failures-- > 0) throw std::runtime_error("Uhr nicht lesbar");
    return now_.load();
  }
  // "DD.MM.YYYY HH:NN:SS" with an optional ".mmm": local time (a time that
  // the autumn switch repeats means its first occurrence); with the suffix
  // "Z" the same in UTC.
  void Set(const std::string& text) {
    int d = 0, mo = 0, y = 0, h = 0, mi = 0, sec = 0, ms = 0;
    std::sscanf(text.c_str(), "%d.%d.%d %d:%d:%d.%d", &d, &mo, &y, &h, &mi, &sec, &ms);
    std::tm tm{.tm_sec = sec, .tm_min = mi, .tm_hour = h, .tm_mday = d, .tm_mon = mo - 1, .tm_year = y - 1900};
    const platform::FileTime whole =
        text.back() == 'Z' ? platform::kFileTimeOfUnixEpoch + timegm(&tm) * 10000000LL
                           : platform::FileTimeFromDateTime(platform::DateTimeFromCivil({y, mo, d, h, mi, sec, 0}));
    now_ = whole + ms * 10000LL;
  }
  std::atomic<int> failures{0};

 private:
  std::atomic<platform::FileTime> now_{platform::kFileTimeOfUnixEpoch};
};

// Answers with the states queued, then with the last one again; nothing
// queued: no network.
class FakeNetwork : public INetworkProbe {
 public:
  platform::NetworkState Probe() override {
    std::lock_guard lock(mutex_);
    ++probes;
    if (states_.empty()) return {};
    const platform::NetworkState next = states_.front();
    if (states_.size() > 1) states_.pop_front();
    return next;
  }
  void Then(std::initializer_list<platform::NetworkState> states) {
    std::lock_guard lock(mutex_);
    states_.insert(states_.end(), states);
  }
  std::atomic<int> probes{0};

 private:
  std::mutex mutex_;
  std::deque<platform::NetworkState> states_;
};

// Counts the beeps while it lives.
struct BeepCount {
  int count = 0;
  platform::BeepSink previous = platform::SetBeepSink([this] { ++count; });
  ~BeepCount() { platform::SetBeepSink(previous); }
};

inline constexpr platform::NetworkState kNetUp{true, 0};
inline constexpr platform::NetworkState kNetDown{false, 0};

// Runs that are recorded ("number" or "number mail") instead of made. Each
// ends at once, or, with hold set, stays running until released. Before a
// run is recorded, `starting` (when set) gets its profile.
class RecordedRuns {
 public:
  TRunLauncher::RunFactory Factory() {
    return [this](const TRunOptions&, const TProfItem& profile, const TUserOptions&, const std::string& mail) {
      if (starting) starting(profile);
      TRunHandle handle;
      std::lock_guard lock(mutex_);
      overlapped_ = overlapped_ || !held_.empty();  // "one at a time" broken
      started_.push_back(profile.profileNo + (mail.empty() ? "" : " " + mail));
      if (hold) held_.push_back(handle);
      else handle.Finish(outcome);
      return handle;
    };
  }
  std::vector<std::string> Started() const {
    std::lock_guard lock(mutex_);
    return started_;
  }
  size_t Count() const { return Started().size(); }
  // Ends the oldest held run.
  void ReleaseOne() {
    std::lock_guard lock(mutex_);
    if (held_.empty()) return;
    held_.front().Finish(TRunOutcome::Ended);
    held_.pop_front();
  }
  bool overlapped() const { return overlapped_; }

  std::atomic<bool> hold{false};
  TRunOutcome outcome = TRunOutcome::Ended;
  std::function<void(const TProfItem&)> starting;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> started_;
  std::deque<TRunHandle> held_;
  std::atomic<bool> overlapped_{false};
};

// The test's own thread as the window thread: calls posted to it run while
// the test serves them, as in a nested loop of the toolkit. Boxes are
// answered safely and their texts kept.
class TestWindowThread final : public platform::ui::WindowBackend {
 public:
  TestWindowThread() : previous_(platform::ui::InstallWindowBackend(this)) {}
  ~TestWindowThread() {
    platform::ui::InstallWindowBackend(previous_);
    running_ = false;
    std::lock_guard lock(mutex_);
    queue_.clear();  // unrun, as the toolkit drops them
  }
  bool IsRunning() override { return running_; }
  bool IsWindowThread() override { return std::this_thread::get_id() == id_; }
  bool Post(std::function<void()> fn) override {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(fn));
    return true;
  }
  platform::ui::Answer AskHere(const platform::ui::Question& question) override {
    std::lock_guard lock(mutex_);
    boxes_.push_back(question.text);
    return platform::ui::SafeAnswer(question.buttons);
  }
  void Open(const platform::ui::Question& question, std::function<void(platform::ui::Answer)> answered) override {
    answered(AskHere(question));
  }
  // Runs posted calls until done() holds; false only when something hangs.
  bool ServeUntil(const std::function<bool()>& done) {
    return Eventually([&] {
      for (std::function<void()> call = Next(); call; call = Next()) call();
      return done();
    });
  }
  std::vector<std::string> Boxes() {
    std::lock_guard lock(mutex_);
    return boxes_;
  }

 private:
  std::function<void()> Next() {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return {};
    std::function<void()> call = std::move(queue_.front());
    queue_.pop_front();
    return call;
  }

  const std::thread::id id_ = std::this_thread::get_id();
  platform::ui::WindowBackend* previous_;
  std::atomic<bool> running_{true};
  std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
  std::vector<std::string> boxes_;
};

class SchedulerFixture : public ::testing::Test {
 protected:
  TempTree tree;
  ScopedRegistry registry;
  ScopedEnv tz{"TZ", "Europe/Berlin"};
  ScopedEnv runtime{"XDG_RUNTIME_DIR", tree.Posix().c_str()};
  FakeClock clock;
  RecordedRuns runs;
  BeepCount beeps;

  void SetUp() override {
    tree.Mkdir("W/Profile");
    tree.Mkdir("bin");
    WriteUserOptions(tree.Posix("W/UsrOpt.kst"), UserOptionsSpec{});
  }

  std::string ScheduleFile() const { return tree.Win("W/Profile/Timer.dat"); }
  std::string TimerLog() const { return tree.Win("bin/Timer.log"); }
  platform::IniFile Schedule() const { return platform::IniFile(ScheduleFile()); }

  // One section of "Timer.dat", named "Profil " + number.
  void WriteSchedule(const std::string& number, const std::vector<std::pair<std::string, std::string>>& keys) {
    platform::IniFile schedule = Schedule();
    schedule.WriteString(number, "Name", "Profil " + number);
    for (const auto& [key, value] : keys) schedule.WriteString(number, key, value);
  }
  // "Pro.kst" with a record for each number.
  void WriteProfiles(const std::vector<std::string>& numbers) {
    std::vector<ProfileSpec> specs;
    for (const std::string& number : numbers) {
      specs.push_back({.profileNo = number,
                       .profileName = "Profil " + number,
                       .profilePath = tree.WinFolder("W/Profile/" + number)});
    }
    WriteProfileList(tree.Posix("W/Profile/Pro.kst"), specs);
  }
  TTimerItem Loaded(const std::string& number) { return ReadEntry(Schedule(), number, clock); }
};

}  // namespace kv::test
