#pragma once
// What the tests of the checker, the watcher and the main window share: a
// clock the test sets (in UTC; the schedules see it through TZ, which is
// Europe/Berlin here), runs that are recorded instead of made, and a work
// folder whose "Timer.dat", "Pro.kst" and "UsrOpt.kst" the test writes.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/inifile.h"
#include "platform/time.h"
#include "platform/ui/question.h"
#include "platform/ui/windowthread.h"
#include "scheduler/clock.h"
#include "scheduler/runlauncher.h"
#include "scheduler/schedulefile.h"
#include "testsupport/profiles.h"
#include "testsupport/temptree.h"

namespace kv::test {

class FakeClock : public ISchedulerClock {
 public:
  platform::FileTime UtcNow() override { return now_.load(); }
  // "DD.MM.YYYY HH:NN:SS" with an optional ".mmm": local time (a time that
  // the autumn switch repeats means its first occurrence); with the suffix
  // "Z" the same in UTC.
  void Set(const std::string& text) {
    int d = 0, mo = 0, y = 0, h = 0, mi = 0, sec = 0, ms = 0;
    std::sscanf(text.c_str(), "%d.%d.%d %d:%d:%d.%d", &d, &mo, &y, &h, &mi, &sec, &ms);
    if (text.back() != 'Z') {
      const platform::DateTime local = platform::DateTimeFromCivil({y, mo, d, h, mi, sec, 0});
      now_ = platform::FileTimeFromDateTime(local) + ms * 10000LL;
      return;
    }
    std::tm tm{.tm_sec = sec, .tm_min = mi, .tm_hour = h, .tm_mday = d, .tm_mon = mo - 1, .tm_year = y - 1900};
    now_ = platform::kFileTimeOfUnixEpoch + timegm(&tm) * 10000000LL + ms * 10000LL;
  }

 private:
  std::atomic<platform::FileTime> now_{platform::kFileTimeOfUnixEpoch};
};

// Runs that are recorded instead of made. By default each ends at once;
// with hold set, each stays running until Release.
class RecordedRuns {
 public:
  TRunLauncher::RunFactory Factory() {
    return [this](const TRunOptions&, const TProfItem& profile, const TUserOptions&, const std::string& mail) {
      TRunHandle handle;
      std::lock_guard lock(mutex_);
      // A run that starts while another is going breaks "one at a time".
      if (!started_.empty() && held_.size() > 0) overlapped_ = true;
      started_.push_back(profile.profileNo + (mail.empty() ? "" : " " + mail));
      if (hold) {
        held_.push_back(handle);
      } else {
        handle.Finish(outcome);
      }
      return handle;
    };
  }
  std::vector<std::string> Started() const {
    std::lock_guard lock(mutex_);
    return started_;
  }
  size_t Count() const { return Started().size(); }
  // Ends the oldest held run; false when none is held.
  bool ReleaseOne() {
    std::lock_guard lock(mutex_);
    if (held_.empty()) return false;
    held_.front().Finish(TRunOutcome::Ended);
    held_.erase(held_.begin());
    return true;
  }
  bool overlapped() const { return overlapped_; }

  std::atomic<bool> hold{false};
  TRunOutcome outcome = TRunOutcome::Ended;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> started_;
  std::vector<TRunHandle> held_;
  std::atomic<bool> overlapped_{false};
};

class SchedulerFixture : public ::testing::Test {
 protected:
  TempTree tree;
  ScopedRegistry registry;
  ScopedEnv tz{"TZ", "Europe/Berlin"};
  ScopedEnv runtime{"XDG_RUNTIME_DIR", tree.Posix().c_str()};
  FakeClock clock;
  RecordedRuns runs;

  void SetUp() override {
    tree.Mkdir("W/Profile");
    tree.Mkdir("bin");
    WriteUserOptions(tree.Posix("W/UsrOpt.kst"), UserOptionsSpec{});
  }

  std::string ScheduleFile() const { return tree.Win("W/Profile/Timer.dat"); }
  std::string TimerLog() const { return tree.Win("bin/Timer.log"); }
  platform::IniFile Schedule() const { return platform::IniFile(ScheduleFile()); }

  // One section of "Timer.dat" ("Name" is "Profil " + number unless given).
  void WriteSchedule(const std::string& number, const std::vector<std::pair<std::string, std::string>>& keys) {
    platform::IniFile schedule = Schedule();
    schedule.WriteString(number, "Name", "Profil " + number);
    for (const auto& [key, value] : keys) schedule.WriteString(number, key, value);
  }
  // "Pro.kst" with a record for each number.
  void WriteProfiles(const std::vector<std::string>& numbers) {
    std::vector<ProfileSpec> specs;
    for (const std::string& number : numbers) {
      ProfileSpec spec;
      spec.profileNo = number;
      spec.profileName = "Profil " + number;
      spec.profilePath = tree.WinFolder("W/Profile/" + number);
      specs.push_back(spec);
    }
    WriteProfileList(tree.Posix("W/Profile/Pro.kst"), specs);
  }
  // The entry as the main window loads it from "Timer.dat" now.
  TTimerItem Loaded(const std::string& number) {
    const platform::IniFile schedule = Schedule();
    TTimerItem item;
    item.profileNo = number;
    item.name = schedule.ReadString(number, "Name", "");
    item.kind = static_cast<uint8_t>(schedule.ReadInteger(number, "Kind", 0));
    item.mail = schedule.ReadString(number, "Mail", "");
    ReadSchedule(schedule, number, item, clock);
    return item;
  }
};

// The test's own thread as the window thread: calls posted to it run while
// the test serves them, as a nested loop of the toolkit does. Boxes are
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
  // Runs posted calls until done() holds; false when it did not within a
  // bound that only a hang reaches.
  bool ServeUntil(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::function<void()> call;
      {
        std::lock_guard lock(mutex_);
        if (!queue_.empty()) {
          call = std::move(queue_.front());
          queue_.pop_front();
        }
      }
      if (call) {
        call();
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    return true;
  }
  std::vector<std::string> Boxes() {
    std::lock_guard lock(mutex_);
    return boxes_;
  }

 private:
  const std::thread::id id_ = std::this_thread::get_id();
  platform::ui::WindowBackend* previous_;
  std::atomic<bool> running_{true};
  std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
  std::vector<std::string> boxes_;
};

// Waits for a condition of another thread; false only when something hangs.
inline bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace kv::test
