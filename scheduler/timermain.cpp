#include "scheduler/timermain.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

#include "platform/beep.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/inifile.h"
#include "platform/paths.h"
#include "platform/program.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/ui/jobstop.h"
#include "platform/ui/question.h"
#include "platform/ui/windowthread.h"
#include "scheduler/schedulefile.h"

namespace kv {
namespace {

namespace ui = platform::ui;

constexpr const char* kHeadings[TTimerGrid::kColumnCount] = {"ID", "Name", "Timer", "Letzter Start"};

std::string Folder(const std::string& programFolder) {
  return programFolder.empty() ? platform::ProgramFolder() : platform::IncludeTrailingBackslash(programFolder);
}

std::string SessionText(bool logOff) { return logOff ? "Abmelden" : "Herunterfahren"; }

std::string CommandText(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

}  // namespace

TtfTimerMain::TtfTimerMain(ITimerMainView& view, TTimerMainSetup setup)
    : view_(view),
      programFolder_(Folder(setup.programFolder)),
      ownClock_(setup.clock != nullptr ? nullptr : std::make_unique<TSystemClock>()),
      clock_(setup.clock != nullptr ? *setup.clock : *ownClock_),
      network_(setup.network),
      exitSession_(setup.exitSession ? std::move(setup.exitSession) : platform::ExitSession),
      launcher_(TimerIniFile(), std::move(setup.runFactory)) {}

// Without FormClose (a start that ended early, a test) the threads stop
// here; the watcher first, since it calls the checker.
TtfTimerMain::~TtfTimerMain() {
  watcher_.reset();
  checker_.reset();
}

void TtfTimerMain::Log(const std::string& line) const { std::fprintf(stderr, "Horavex: %s\n", line.c_str()); }

std::string TtfTimerMain::ScheduleFolder() const { return platform::ExtractFilePath(scheduleFile_); }

std::optional<int> TtfTimerMain::FormCreate() {
  const std::optional<std::string> workDir =
      platform::Registry(platform::Hive::CurrentUser).ReadString(kUserKey, "WorkDir");
  // An empty value is as good as none: it would make "Profile\Timer.dat" a
  // path relative to wherever the program was started.
  if (!workDir || platform::Trim(*workDir).empty()) {
    platform::MessageBeep();
    ui::Ask(ui::Question(std::string(kMissingWorkDirText), ui::QuestionKind::Error, ui::QuestionButtons::Ok));
    return 1;
  }
  scheduleFile_ = WorkFolderOf(platform::Trim(*workDir)) + "Profile\\" + std::string(kScheduleFileName);
  for (int column = 0; column < TTimerGrid::kColumnCount; ++column) grid_.SetCell(column, 0, kHeadings[column]);
  if (view_.AddTrayIcon(kTrayTipLoading)) view_.SetTrayTip(kTimerMainCaption);
  if (std::optional<int> exitStatus = LoadTimers()) return exitStatus;
  const std::string timerIni = TimerIniFile();
  if (!platform::FileExists(timerIni)) {
    platform::IniFile options(timerIni);
    options.WriteBool("Options", "ShowProcess", true);
    options.WriteBool("Options", "Minimized", false);
  }
  return std::nullopt;
}

std::optional<int> TtfTimerMain::LoadTimers() {
  if (!platform::FileExists(scheduleFile_)) {
    grid_.SetRowCount(2);
    grid_.ClearRow(1);
    view_.RemoveTrayIcon();
    Log("Keine Zeitplandatei " + scheduleFile_ + ", Ende");
    return 1;
  }
  const platform::IniFile schedule(scheduleFile_);
  grid_.ClearRow(1);
  int row = 1;
  for (const std::string& section : schedule.ReadSections()) {
    const TTimerItem item = ReadEntry(schedule, section, clock_);
    if (item.kind == 0) continue;
    if (row >= grid_.RowCount()) grid_.SetRowCount(row + 1);
    grid_.SetCell(TTimerGrid::kColId, row, section);
    grid_.SetCell(TTimerGrid::kColName, row, item.name);
    grid_.SetCell(TTimerGrid::kColTimer, row, KindName(item.kind));
    if (schedule.ValueExists(section, "LastStart")) {
      grid_.SetCell(TTimerGrid::kColLastStart, row, DateTimeText(item.lastStart));
    }
    list_.Add(item);
    ++row;
  }
  grid_.SetRowCount(std::max(row, 2));
  if (grid_.RowCount() == 2 && grid_.Cell(TTimerGrid::kColId, 1).empty()) {
    view_.RemoveTrayIcon();
    Log("Kein Zeitplan in " + scheduleFile_ + ", Ende");
    return 0;
  }
  list_.userOptions = LoadUserOptions(scheduleFile_);
  StartThreads();
  return std::nullopt;
}

void TtfTimerMain::StartThreads() {
  checker_ = std::make_unique<TthCheckStarts>(list_, &grid_, clock_, launcher_, programFolder_ + "Timer.log");
  checker_->Start();
  if (network_ == nullptr) {
    ownNetwork_ = std::make_unique<TSystemNetworkProbe>();
    network_ = ownNetwork_.get();
  }
  watcher_ = std::make_unique<TthCheckNetConnection>(*checker_, *network_,
                                                     [this](int error) { ShowProbeError(error); });
  watcher_->Start();
}

// From the watcher's thread; the box opens on the window thread, so the
// watcher goes on polling meanwhile.
void TtfTimerMain::ShowProbeError(int error) {
  auto ask = [error] {
    ui::Ask(ui::Question("WinSock Error " + std::to_string(error), ui::QuestionKind::Error, ui::QuestionButtons::Ok));
  };
  if (!ui::WindowThread::Post(ask)) ask();
}

void TtfTimerMain::Timer1Timer() { view_.HideWindow(); }

void TtfTimerMain::WMTimerChanged(int64_t wParam) {
  std::unique_lock lock = checker_ ? checker_->LockList() : std::unique_lock<std::mutex>();
  const std::string what = "WM_TIMERCHANGED " + std::to_string(wParam) + ": ";
  if (wParam == -1) {
    RefreshNames();
    Log(what + "Namen neu gelesen");
    return;
  }
  const std::string number = ProfileNumberText(wParam);
  const std::string kindText = TimerKindText(ScheduleFolder(), number);
  if (kindText == "-") {
    Log(what + "Profil " + number + " hat keinen Zeitplan, nichts geändert");
    return;
  }
  int row = grid_.FindRow(number);
  const int index = list_.IndexOf(number);
  // Without its number a new entry would never be found, started or removed.
  TTimerItem item = ReadEntry(platform::IniFile(scheduleFile_), number, clock_);
  if (row < 0) {
    row = grid_.Cell(TTimerGrid::kColId, 1).empty() ? 1 : grid_.RowCount();
    if (row >= grid_.RowCount()) grid_.SetRowCount(row + 1);
  } else if (index >= 0) {
    item.started = list_.At(index).started;  // a changed entry that has started today stays started
  }
  grid_.SetCell(TTimerGrid::kColId, row, number);
  grid_.SetCell(TTimerGrid::kColName, row, item.name);
  grid_.SetCell(TTimerGrid::kColTimer, row, kindText);
  grid_.SetCell(TTimerGrid::kColLastStart, row, DateTimeText(item.lastStart));
  if (index >= 0) {
    list_.Put(index, item);
  } else {
    list_.Add(item);
  }
  Log(what + "Profil " + number + (index >= 0 ? " geändert (" : " aufgenommen (") + kindText + ")");
}

void TtfTimerMain::WMTimerRemoved(int64_t wParam) { RemoveTimer(ProfileNumberText(wParam)); }

void TtfTimerMain::RemoveTimer(const std::string& profileNo) {
  std::unique_lock lock = checker_ ? checker_->LockList() : std::unique_lock<std::mutex>();
  const std::string what = "WM_TIMERREMOVED " + profileNo + ": ";
  const int found = grid_.FindRow(profileNo);
  if (found < 0) {
    Log(what + "nicht im Raster, nichts geändert");
    return;
  }
  const int index = list_.IndexOf(profileNo);
  if (index >= 0) list_.Delete(index);
  grid_.MoveRowsUp(found);
  if (grid_.RowCount() != 2) grid_.SetRowCount(grid_.RowCount() - 1);
  Log(what + (index >= 0 ? "Eintrag und Zeile entfernt" : "Zeile entfernt"));
}

void TtfTimerMain::RefreshNames() {
  const platform::IniFile schedule(scheduleFile_);
  for (int row = 1; row < grid_.RowCount(); ++row) {
    const std::string number = grid_.Cell(TTimerGrid::kColId, row);
    if (number.empty()) break;
    grid_.SetCell(TTimerGrid::kColName, row, schedule.ReadString(number, "Name", ""));
  }
}

bool TtfTimerMain::WMQueryEndSession(bool logOff) {
  if (shutInterval_ == 0) {
    Log("Sitzungsende (" + SessionText(logOff) + ") erlaubt");
    return true;
  }
  logOff_ = logOff;
  view_.StartShutTimer(shutInterval_);
  Log("Sitzungsende (" + SessionText(logOff) + ") angefragt: zuerst laufen die Shutdown-Profile");
  return false;
}

void TtfTimerMain::WaitForRuns() {
  view_.WaitUntil([this] { return !launcher_.AnyRunning(); });
}

void TtfTimerMain::TimerShutTimer() {
  shutInterval_ = 0;
  if (closing_) return;
  // New scheduled runs would hold the end of the session up.
  if (checker_) checker_->PauseChecks();
  std::vector<std::pair<std::string, std::string>> profiles;
  {
    std::unique_lock lock = checker_ ? checker_->LockList() : std::unique_lock<std::mutex>();
    for (int i = 0; i < list_.Count(); ++i) {
      const TTimerItem& item = list_.At(i);
      if (item.kind != kKindShutdown && item.kind != kKindHotplugShutdown) continue;
      profiles.emplace_back(item.profileNo, item.mail);
    }
  }
  // One after the other, each alone: no other run is going when one starts.
  for (const auto& [profileNo, mail] : profiles) {
    WaitForRuns();
    if (closing_) return;
    Log("Sitzungsende: Shutdown-Profil " + profileNo);
    if (std::optional<TRunHandle> run = launcher_.Launch(profileNo, mail, list_.userOptions)) {
      view_.WaitUntil([&run] { return run->Outcome() != TRunOutcome::Running; });
    }
  }
  WaitForRuns();
  if (closing_) return;
  ShutdownWindows();
  if (checker_) checker_->ResumeChecks();
}

bool TtfTimerMain::ShutdownWindows() {
  const platform::SessionExit kind = logOff_ ? platform::SessionExit::LogOff : platform::SessionExit::PowerOff;
  const std::string command = CommandText(platform::SessionExitCommand(kind));
  const bool started = exitSession_(kind);
  Log("Sitzungsende: " + SessionText(logOff_) + " mit \"" + command + "\"" +
      (started ? " gestartet" : " nicht möglich: " + platform::SysErrorMessage(platform::GetLastError())));
  return started;
}

void TtfTimerMain::FormClose() {
  if (closing_) return;
  closing_ = true;
  if (checker_) Log("wird beendet");
  if (watcher_) {
    watcher_->Terminate();
    view_.WaitUntil([this] { return watcher_->Finished(); });
    watcher_->WaitFor();
  }
  if (checker_) {
    checker_->Terminate();
    view_.WaitUntil([this] { return checker_->Finished(); });
    checker_->WaitFor();
  }
  ui::SetAllJobsStopping(true);
  WaitForRuns();
  view_.RemoveTrayIcon();
}

}  // namespace kv
