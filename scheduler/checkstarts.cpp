#include "scheduler/checkstarts.h"

#include <cstdio>
#include <utility>

#include "platform/inifile.h"
#include "platform/text.h"
#include "platform/ui/windowthread.h"
#include "scheduler/schedulefile.h"

namespace kv {
namespace {

constexpr auto kPassInterval = std::chrono::milliseconds(10);

// Monday 0 ... Sunday 6; day 0 (30.12.1899) was a Saturday.
size_t WeekdayOf(int64_t day) { return static_cast<size_t>(((day + 5) % 7 + 7) % 7); }

int DayOfMonth(int64_t day) { return platform::CivilFromDateTime(static_cast<DateTime>(day)).day; }

bool Later(const TLocalTime& now, DateTime timeOfDay) { return now.msOfDay > MsOfDay(timeOfDay); }

}  // namespace

TthCheckStarts::TthCheckStarts(TTimerList& list, TTimerGrid* grid, ISchedulerClock& clock, TRunLauncher& launcher,
                               std::string timerLog)
    : list_(list), grid_(grid), clock_(clock), launcher_(launcher), log_(std::move(timerLog)) {}

TthCheckStarts::~TthCheckStarts() { TerminateAndWait(); }

TLocalTime TthCheckStarts::Now() {
  const platform::FileTime utc = clock_.UtcNow();
  constexpr int64_t kTicksPerSecond = 10000000;
  const int64_t second = utc >= 0 ? utc / kTicksPerSecond : (utc - kTicksPerSecond + 1) / kTicksPerSecond;
  std::lock_guard lock(clockMutex_);
  if (second != cachedUtcSecond_) {
    cachedLocalSecond_ = platform::DateTimeFromFileTime(second * kTicksPerSecond);
    cachedUtcSecond_ = second;
  }
  const int64_t ms = (utc - second * kTicksPerSecond) / 10000;
  TLocalTime now = LocalTimeOf(cachedLocalSecond_);
  now.msOfDay += ms;
  now.value += static_cast<DateTime>(ms) / 86400000.0;
  return now;
}

std::string TthCheckStarts::ScheduleFile() const {
  return list_.userOptions.profileFolder + std::string(kScheduleFileName);
}

void TthCheckStarts::Execute() {
  for (int i = 0; i < 11; ++i) {
    if (!Sleep(std::chrono::milliseconds(2))) return;
  }
  while (!Terminated()) {
    if (!paused_) Guarded("Die Prüfung der Zeitpläne", [this] { Pass(); });
    if (!Sleep(kPassInterval)) return;
  }
}

// Only this program writes the run log, so it is cleaned when the day
// changes (and at the first pass) rather than read on every pass.
void TthCheckStarts::Pass() {
  Starts starts;
  bool newDay = false;
  {
    std::lock_guard lock(listMutex_);
    const int64_t today = Now().day;
    newDay = today != cleanedDay_;
    if (newDay) {
      log_.Clean(today);
      cleanedDay_ = today;
    }
    // A once entry that leaves the list lets the next one move into its
    // row, which the next pass examines.
    for (int i = 0; i < list_.Count(); ++i) CheckEntry(i, starts);
  }
  for (const TStart& start : starts) StartProfile(start);
  if (newDay || !starts.empty()) log_.SetActive("");
}

// Most passes change nothing: an entry is read in place and copied, changed
// and stored back only when it falls due or a mark must change.
void TthCheckStarts::CheckEntry(int index, Starts& starts) {
  const TTimerItem& entry = list_.At(index);
  const TLocalTime now = Now();
  auto start = [&](bool markDone) {
    if (markDone && log_.IsDoneToday(entry.profileNo, now.day)) return;
    starts.push_back({entry.profileNo, entry.name, entry.mail, entry.kind, markDone});
  };
  switch (entry.kind) {
    case kKindOnce:
      if (now.day != DayOf(entry.startDate) || !Later(now, entry.startTime)) return;
      start(true);
      list_.Delete(index);
      return;
    case kKindInterval:
      return CheckInterval(index, now, starts);
    case kKindDaily: {
      // A start recorded today (before a restart of the program) counts.
      const bool newDay = now.day != DayOf(entry.startDate);
      const bool due = Later(now, entry.startTime) && (newDay || !entry.started);
      if (!newDay && !due) return;
      if (due) start(true);
      TTimerItem item = entry;
      item.startDate = static_cast<DateTime>(now.day);
      item.started = due || (!newDay && entry.started);
      return list_.Put(index, item);
    }
    case kKindWeekly:
      return CheckWeekDay(index, now, starts);
    case kKindMonthly: {
      const bool thatDay = entry.monthDay == DayOfMonth(now.day);
      const bool due = thatDay && !entry.started && Later(now, entry.monthTime);
      if (!due && (thatDay || !entry.started)) return;
      if (due) start(true);
      TTimerItem item = entry;
      item.started = due;
      return list_.Put(index, item);
    }
    default:
      return;  // network and shutdown kinds start elsewhere
  }
}

void TthCheckStarts::CheckInterval(int index, const TLocalTime& now, Starts& starts) {
  const TTimerItem& entry = list_.At(index);
  if (!Later(now, entry.startTime) || now.day != DayOf(entry.startDate)) return;
  TTimerItem item = entry;
  const platform::IniFile schedule(ScheduleFile());
  if (ReadInterval(schedule, item.profileNo) <= 0) {
    // As written, an interval of nothing started a run on every pass. Such
    // an entry never falls due: yesterday's date does not come again, and a
    // new schedule reaches the list with the editor's change message.
    std::fprintf(stderr, "Horavex: Profil %s \"%s\": Intervall 0 oder unlesbar, wird nicht gestartet\n",
                 platform::OneLine(item.profileNo).c_str(), platform::OneLine(item.name).c_str());
    item.startDate = static_cast<DateTime>(now.day - 1);
  } else {
    starts.push_back({item.profileNo, item.name, item.mail, item.kind, false});
    item.startDate = static_cast<DateTime>(now.day);
    item.startTime = now.value - static_cast<DateTime>(now.day);
    NextInterval(schedule, item);
  }
  list_.Put(index, item);
}

void TthCheckStarts::CheckWeekDay(int index, const TLocalTime& now, Starts& starts) {
  const TTimerItem& entry = list_.At(index);
  const size_t today = WeekdayOf(now.day);
  const TWeekSlot& slot = entry.week[today];
  const bool due = slot.dayActive && !slot.dayDone && Later(now, slot.dayTime);
  bool otherDayDone = false;
  for (size_t d = 0; d < entry.week.size(); ++d) otherDayDone |= d != today && entry.week[d].dayDone;
  if (!due && !otherDayDone) return;
  if (due && !log_.IsDoneToday(entry.profileNo, now.day)) {
    starts.push_back({entry.profileNo, entry.name, entry.mail, entry.kind, true});
  }
  TTimerItem item = entry;
  for (size_t d = 0; d < item.week.size(); ++d) item.week[d].dayDone = d == today && (due || slot.dayDone);
  list_.Put(index, item);
}

// Up: every hotplug entry not yet started starts and is marked; down: the
// marks are cleared, so that the next connection starts them again.
void TthCheckStarts::NetChanged(bool up) {
  Starts starts;
  {
    std::lock_guard lock(listMutex_);
    for (int i = 0; i < list_.Count(); ++i) {
      const TTimerItem& entry = list_.At(i);
      if ((entry.kind != kKindHotplug && entry.kind != kKindHotplugShutdown) || entry.started == up) continue;
      if (up) starts.push_back({entry.profileNo, entry.name, entry.mail, entry.kind, false});
      TTimerItem item = entry;
      item.started = up;
      list_.Put(i, item);
    }
  }
  for (const TStart& start : starts) StartProfile(start);
}

void TthCheckStarts::StartProfile(const TStart& start) {
  std::fprintf(stderr, "Horavex: Start von Profil %s \"%s\" (%s)\n", platform::OneLine(start.profileNo).c_str(),
               platform::OneLine(start.name).c_str(), KindName(start.kind).c_str());
  log_.SetActive(start.profileNo);
  // No record in "Pro.kst": no run, and neither LastStart nor a done mark;
  // the entry counts as started all the same, or it would be tried on every
  // pass. A refused run (the profile still runs) counts as started too.
  if (launcher_.Launch(start.profileNo, start.mail, list_.userOptions)) {
    try {
      platform::ui::WindowThread::Synchronize([&] { AfterStart(start.profileNo, start.markDone); });
    } catch (...) {
    }
  }
  log_.SetActive("");
}

void TthCheckStarts::AfterStart(const std::string& profileNo, bool markDone) {
  try {
    const int row = grid_ != nullptr ? grid_->FindRow(profileNo) : -1;
    if (row < 0) return;
    const TLocalTime now = Now();
    grid_->SetCell(TTimerGrid::kColLastStart, row, DateTimeText(now.value));
    // A profile the editor removed meanwhile stays removed: writing into its
    // missing section would bring the section back.
    platform::IniFile schedule(ScheduleFile());
    if (schedule.SectionExists(profileNo)) schedule.WriteDateTime(profileNo, "LastStart", now.value);
    if (markDone) log_.MarkDone(profileNo, now.day);
  } catch (...) {
    // The grid and the files are the user's view only; the run is going.
  }
}

}  // namespace kv
