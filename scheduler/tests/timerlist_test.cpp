// The schedule list's column store.
#include <gtest/gtest.h>

#include "scheduler/clock.h"
#include "scheduler/timerlist.h"

namespace kv {
namespace {

TEST(TimerList, StoresEveryFieldAsTextAndReadsItBackToTheSecond) {
  TTimerItem item;
  item.name = "Sicherung";
  item.profileNo = "0000007";
  item.mail = "ops@example.org";
  item.startDate = 46034.75;                        // 12.01.2026 18:00
  item.startTime = 46034 + (14 * 3600 + 30 * 60 + 15.7) / 86400;  // 14:30:15.7
  item.monthDay = 31;
  item.monthTime = 0.5;
  item.lastStart = 46033 + (23 * 3600 + 59 * 60 + 59) / 86400.0;
  item.kind = kKindWeekly;
  item.started = true;
  item.week[2] = {(8 * 3600) / 86400.0, true, true};
  TTimerList list;
  list.Add(TTimerItem{});
  list.Add(item);
  const std::vector<std::string> expected = {
      "Sicherung", "0000007", "12.01.26", "14:30:15", "11.01.26 23:59:59", "4", "1",
      "00:00:00", "0", "0", "00:00:00", "0", "0", "08:00:00", "1", "1", "00:00:00", "0", "0",
      "00:00:00", "0", "0", "00:00:00", "0", "0", "00:00:00", "0", "0", "31", "12:00:00", "ops@example.org"};
  ASSERT_EQ(expected.size(), static_cast<size_t>(TTimerList::kColumnCount));
  for (int c = 0; c < TTimerList::kColumnCount; ++c) EXPECT_EQ(list.Cell(c, 1), expected[c]) << "column " << c;

  const TTimerItem back = list.Get(1);
  EXPECT_EQ(back.startDate, 46034);
  EXPECT_EQ(MsOfDay(back.startTime), (14 * 3600 + 30 * 60 + 15) * 1000);
  EXPECT_EQ(back.week[2], item.week[2]);
  EXPECT_EQ(list.IndexOf("0000007"), 1);
  EXPECT_EQ(list.IndexOf("7"), -1);
  list.Delete(0);
  EXPECT_EQ(list.IndexOf("0000007"), 0);
  EXPECT_THROW(list.Get(1), std::out_of_range);
}

}  // namespace
}  // namespace kv
