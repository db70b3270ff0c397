#pragma once
// The schedule list: one entry per scheduled profile, loaded from
// "Timer.dat" by the main window and walked by the schedule checker on every
// pass. It is a column store: every field of an entry is kept as text in a
// column of its own, one row per entry, so storing an entry and reading it
// back keeps only the day of StartDate and the time of day, in whole
// seconds, of the times. The list also carries the user options, through
// which the checker and the runs reach the profile folder.
//
// The list has no lock of its own: the checker's lock guards it (see
// TthCheckStarts::LockList).
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/time.h"
#include "shared/useroptions.h"

namespace kv {

using platform::DateTime;

enum : uint8_t {
  kKindNone = 0,
  kKindOnce = 1,
  kKindInterval = 2,
  kKindDaily = 3,
  kKindWeekly = 4,
  kKindMonthly = 5,
  kKindHotplug = 6,
  kKindShutdown = 7,
  kKindHotplugShutdown = 8,
};

// The kind's text in the grid; "-" for 0 and every unknown kind.
std::string KindName(int kind);

struct TWeekSlot {
  DateTime dayTime = 0;
  bool dayActive = false;
  bool dayDone = false;
  friend bool operator==(const TWeekSlot&, const TWeekSlot&) = default;
};

struct TTimerItem {
  std::string name;
  std::string profileNo;
  std::string mail;
  DateTime startDate = 0;
  DateTime startTime = 0;
  int32_t monthDay = 0;
  DateTime monthTime = 0;
  DateTime lastStart = 0;
  uint8_t kind = kKindNone;
  bool started = false;
  std::array<TWeekSlot, 7> week{};  // Monday first
  friend bool operator==(const TTimerItem&, const TTimerItem&) = default;
};

class TTimerList {
 public:
  static constexpr int kColumnCount = 31;

  int Count() const { return static_cast<int>(rows_.size()); }
  void Add(const TTimerItem& item);
  // std::out_of_range for an index outside the list.
  void Delete(int index);
  // The row whose profile number equals the number exactly; -1 when none.
  int IndexOf(std::string_view profileNo) const;
  // The entry as its row reads back.
  TTimerItem Get(int index) const;
  const TTimerItem& At(int index) const;  // the same, without a copy
  void Put(int index, const TTimerItem& item);

  TUserOptions userOptions;

 private:
  struct Row {
    std::array<std::string, kColumnCount> columns;
    TTimerItem readBack;  // what the columns read back as
  };
  static Row MakeRow(const TTimerItem& item);
  const Row& RowAt(int index) const;

  std::vector<Row> rows_;
};

}  // namespace kv
