#include "scheduler/timerlist.h"

#include <cmath>
#include <stdexcept>

#include "platform/text.h"
#include "scheduler/clock.h"

namespace kv {
namespace {

using platform::CivilFromDateTime;

enum Column {
  kColName = 0,
  kColProfileNo = 1,
  kColStartDate = 2,
  kColStartTime = 3,
  kColLastStart = 4,
  kColKind = 5,
  kColStarted = 6,
  kColFirstWeekday = 7,  // 7 + 3 * d: time, active, done
  kColMonthDay = 28,
  kColMonthTime = 29,
  kColMail = 30,
};

std::string DateText(DateTime value) { return platform::FormatDateShort(CivilFromDateTime(std::floor(value))); }
std::string TimeText(DateTime value) { return platform::FormatTime(CivilFromDateTime(value)); }
std::string BoolText(bool value) { return value ? "1" : "0"; }

DateTime DateOf(const std::string& text) { return platform::ParseDate(text).value_or(0); }
DateTime TimeOf(const std::string& text) { return platform::ParseTime(text).value_or(0); }
DateTime DateTimeOf(const std::string& text) { return platform::ParseDateTime(text).value_or(0); }

TTimerItem ReadRow(const std::array<std::string, TTimerList::kColumnCount>& c) {
  TTimerItem item;
  item.name = c[kColName];
  item.profileNo = c[kColProfileNo];
  item.startDate = DateOf(c[kColStartDate]);
  item.startTime = TimeOf(c[kColStartTime]);
  item.lastStart = DateTimeOf(c[kColLastStart]);
  item.kind = static_cast<uint8_t>(platform::StrToIntDef(c[kColKind], 0));
  item.started = c[kColStarted] == "1";
  for (size_t d = 0; d < item.week.size(); ++d) {
    const size_t at = kColFirstWeekday + 3 * d;
    item.week[d] = TWeekSlot{TimeOf(c[at]), c[at + 1] == "1", c[at + 2] == "1"};
  }
  item.monthDay = platform::StrToIntDef(c[kColMonthDay], 0);
  item.monthTime = TimeOf(c[kColMonthTime]);
  item.mail = c[kColMail];
  return item;
}

}  // namespace

std::string KindName(int kind) {
  switch (kind) {
    case kKindOnce: return "Einmalig";
    case kKindInterval: return "Intervall";
    case kKindDaily: return "Täglich";
    case kKindWeekly: return "Wöchentlich";
    case kKindMonthly: return "Monatlich";
    case kKindHotplug: return "Hotplug";
    case kKindShutdown: return "Shutdown";
    case kKindHotplugShutdown: return "Hotplug + Shutdown";
    default: return "-";
  }
}

TTimerList::Row TTimerList::MakeRow(const TTimerItem& item) {
  Row row;
  auto& c = row.columns;
  c[kColName] = item.name;
  c[kColProfileNo] = item.profileNo;
  c[kColStartDate] = DateText(item.startDate);
  c[kColStartTime] = TimeText(item.startTime);
  c[kColLastStart] = DateTimeText(item.lastStart);
  c[kColKind] = platform::IntToStr(item.kind);
  c[kColStarted] = BoolText(item.started);
  for (size_t d = 0; d < item.week.size(); ++d) {
    const size_t at = kColFirstWeekday + 3 * d;
    c[at] = TimeText(item.week[d].dayTime);
    c[at + 1] = BoolText(item.week[d].dayActive);
    c[at + 2] = BoolText(item.week[d].dayDone);
  }
  c[kColMonthDay] = platform::IntToStr(item.monthDay);
  c[kColMonthTime] = TimeText(item.monthTime);
  c[kColMail] = item.mail;
  // Reading the texts back once here spares every pass of the checker the
  // parsing of eleven dates and times per entry.
  row.readBack = ReadRow(c);
  return row;
}

const TTimerList::Row& TTimerList::RowAt(int index) const {
  if (index < 0 || index >= Count()) throw std::out_of_range("Zeitplanliste: Zeile " + std::to_string(index));
  return rows_[static_cast<size_t>(index)];
}

void TTimerList::Add(const TTimerItem& item) { rows_.push_back(MakeRow(item)); }

void TTimerList::Delete(int index) {
  RowAt(index);
  rows_.erase(rows_.begin() + index);
}

int TTimerList::IndexOf(std::string_view profileNo) const {
  for (int i = 0; i < Count(); ++i) {
    if (rows_[static_cast<size_t>(i)].columns[kColProfileNo] == profileNo) return i;
  }
  return -1;
}

TTimerItem TTimerList::Get(int index) const { return RowAt(index).readBack; }

const TTimerItem& TTimerList::At(int index) const { return RowAt(index).readBack; }

void TTimerList::Put(int index, const TTimerItem& item) {
  RowAt(index);
  rows_[static_cast<size_t>(index)] = MakeRow(item);
}

}  // namespace kv
