#pragma once
// TthCheckStarts: the scheduler's clock. About every 10 ms it walks the
// schedule list, decides for each entry whether it is due, starts the due
// profiles without waiting for their runs, and keeps the run log
// "Timer.log", which says which profiles have started today. It also
// carries the handlers the network watcher calls when the network comes up
// or goes away.
//
// One lock serialises the checker's passes, the network handlers and the
// window thread's changes of the list. A pass or handler decides its starts
// under the lock and makes them after releasing it, so a start's
// synchronised call into the window thread never waits while the window
// thread waits for the lock.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "scheduler/clock.h"
#include "scheduler/runlauncher.h"
#include "scheduler/timergrid.h"
#include "scheduler/timerlist.h"
#include "scheduler/timerlog.h"
#include "scheduler/workerthread.h"

namespace kv {

class TthCheckStarts : public TWorkerThread {
 public:
  // grid: the main window's grid, touched only on the window thread (may be
  // null); timerLog: the path of "Timer.log" beside the program. The thread
  // is started with Start().
  TthCheckStarts(TTimerList& list, TTimerGrid* grid, ISchedulerClock& clock, TRunLauncher& launcher,
                 std::string timerLog);
  ~TthCheckStarts() override;

  // Held by every change of the list from outside the checker.
  std::unique_lock<std::mutex> LockList() { return std::unique_lock(listMutex_); }
  // While paused the checker makes no passes (the end of the session pauses
  // it, so that its runs are not held up by new ones).
  void PauseChecks() { paused_ = true; }
  void ResumeChecks() { paused_ = false; }

  // One pass: yesterday's log sections go, every entry is checked, then the
  // due profiles start. What Execute repeats; tests call it directly.
  void Pass();
  // From the network watcher's thread.
  void NetChanged(bool up);
  // Window thread: after a start, the grid row's last start, LastStart in
  // "Timer.dat" and, with markDone, today's mark in "Timer.log". Number and
  // mark are the start's own: the checker and the watcher start concurrently.
  void AfterStart(const std::string& profileNo, bool markDone);

  TTimerLog& timerLog() { return log_; }

 protected:
  void Execute() override;

 private:
  struct TStart {
    std::string profileNo;
    std::string name;
    std::string mail;
    uint8_t kind = 0;
    bool markDone = false;
  };
  using Starts = std::vector<TStart>;

  std::string ScheduleFile() const;
  TLocalTime Now();
  void CheckEntry(int index, Starts& starts);
  void CheckWeekDay(int index, const TLocalTime& now, Starts& starts);
  void CheckInterval(int index, const TLocalTime& now, Starts& starts);
  void StartProfile(const TStart& start);

  TTimerList& list_;
  TTimerGrid* grid_;
  ISchedulerClock& clock_;
  TRunLauncher& launcher_;
  TTimerLog log_;
  std::mutex listMutex_;
  std::atomic<bool> paused_{false};
  int64_t cleanedDay_ = INT64_MIN;  // the day the run log was last cleaned for
  // The local time of the last whole UTC second the clock gave: the zone's
  // offset changes only at whole seconds, so one conversion a second serves
  // every entry of every pass within it.
  int64_t cachedUtcSecond_ = INT64_MIN;
  DateTime cachedLocalSecond_ = 0;
  std::mutex clockMutex_;
};

}  // namespace kv
