#pragma once
// TtfTimerMain: the scheduler's main window as a model on the window thread.
// It owns the schedule list and the grid, starts the schedule checker and
// the network watcher, follows the profile editor's change messages, makes
// the runs of the end of the session and, when the program closes, stops
// the watcher, the checker and every run before anything goes away. What
// the window shows and how it waits is the view's (scheduler/windows); tests
// drive the model with a view of their own.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/session.h"
#include "scheduler/checkstarts.h"
#include "scheduler/clock.h"
#include "scheduler/netconnection.h"
#include "scheduler/schedulefile.h"
#include "scheduler/runlauncher.h"
#include "scheduler/timergrid.h"
#include "scheduler/timerlist.h"

namespace kv {

inline constexpr std::string_view kTimerMainClass = "TtfTimerMain";
inline constexpr std::string_view kTimerMainCaption = "Kestrovane Timer";
inline constexpr std::string_view kTrayTipLoading = "Initialisierung des Timers läuft.....";
inline constexpr std::string_view kMissingWorkDirText =
    "Der Schlüssel \"HKEY_CURRENT_USER\\Software\\Vorlem\\Kestrovane\\WorkDir\" konnte nicht gelesen werden.\r"
    "Dieser muss den Pfad des Arbeits-Ordners für den momentanen Benutzer enthalten.";

// Messages of the window (WM_USER = 1024).
inline constexpr uint32_t WM_TIMERTRAY = 1025;
inline constexpr uint32_t WM_TIMERCHANGED = 1043;
inline constexpr uint32_t WM_TIMERREMOVED = 1044;
// The mouse messages of the tray icon's callback.
inline constexpr int64_t WM_LBUTTONDBLCLK = 515;
inline constexpr int64_t WM_RBUTTONDOWN = 516;

class ITimerMainView {
 public:
  virtual ~ITimerMainView() = default;
  // False when there is no notification area.
  virtual bool AddTrayIcon(std::string_view tip) = 0;
  virtual void SetTrayTip(std::string_view tip) = 0;
  virtual void RemoveTrayIcon() = 0;
  virtual void ShowWindow() = 0;
  // Hides the window, or minimises it where it would be out of reach.
  virtual void HideWindow() = 0;
  virtual void StartShutTimer(int milliseconds) = 0;
  // Serves the window thread's events (a nested loop) until done() holds.
  virtual void WaitUntil(const std::function<bool()>& done) = 0;
};

struct TTimerMainSetup {
  std::string programFolder;         // "Timer.ini", "Timer.log"; "": beside the program
  ISchedulerClock* clock = nullptr;  // nullptr: the system's
  INetworkProbe* network = nullptr;  // nullptr: the machine's own
  TRunLauncher::RunFactory runFactory;                       // empty: TthRunSync
  std::function<bool(platform::SessionExit)> exitSession;  // empty: platform::ExitSession
};

class TtfTimerMain {
 public:
  TtfTimerMain(ITimerMainView& view, TTimerMainSetup setup = {});
  ~TtfTimerMain();

  // Start-up; the exit status when the program must end at once: 1 for a
  // missing WorkDir or "Timer.dat", 0 for a file without any schedule.
  std::optional<int> FormCreate();
  // 1 ms after the start: the window goes to the notification area.
  void Timer1Timer();
  void WMTimerChanged(int64_t wParam);
  void WMTimerRemoved(int64_t wParam);
  void RemoveTimer(const std::string& profileNo);
  void RefreshNames();
  // The session manager asks to end the session: the first request is
  // refused (the shutdown runs follow a second later), the next granted.
  bool WMQueryEndSession(bool logOff);
  void TimerShutTimer();
  // The program ends: the watcher stops (ending its settling wait), then the
  // checker, each awaited while their synchronised calls are served; the
  // runs going are stopped as their cancel buttons stop them and awaited.
  void FormClose();
  bool Closing() const { return closing_; }

  const std::string& scheduleFile() const { return scheduleFile_; }
  // The folder of "Timer.dat", which the options window works in.
  std::string ScheduleFolder() const;
  // The "Timer.ini" that the runs read and the options window writes.
  std::string TimerIniFile() const { return programFolder_ + "Timer.ini"; }
  TTimerGrid& grid() { return grid_; }
  TTimerList& list() { return list_; }
  TRunLauncher& launcher() { return launcher_; }

 private:
  std::optional<int> LoadTimers();
  void StartThreads();
  void ShowProbeError(int error);
  void WaitForRuns();
  bool ShutdownWindows();
  void Log(const std::string& line) const;

  ITimerMainView& view_;
  std::string programFolder_;
  std::unique_ptr<ISchedulerClock> ownClock_;
  ISchedulerClock& clock_;
  std::unique_ptr<INetworkProbe> ownNetwork_;
  INetworkProbe* network_;
  std::function<bool(platform::SessionExit)> exitSession_;
  TRunLauncher launcher_;
  TTimerGrid grid_;
  TTimerList list_;
  std::string scheduleFile_;
  std::unique_ptr<TthCheckStarts> checker_;
  std::unique_ptr<TthCheckNetConnection> watcher_;
  int shutInterval_ = 1000;
  bool logOff_ = false;
  bool closing_ = false;
};

}  // namespace kv
