#include "synclist/syncliste.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <stdexcept>

#include "platform/time.h"
#include "synclist/abort.h"
#include "synclist/dirtree.h"
#include "synclist/tests/testrows.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::Both;
using test::Dos;
using test::Folder;
using test::OnlyDestination;
using test::OnlySource;

// FILETIME of a UTC calendar instant, computed with the C library alone.
platform::FileTime Utc(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{};
  tm.tm_year = y - 1900;
  tm.tm_mon = mo - 1;
  tm.tm_mday = d;
  tm.tm_hour = h;
  tm.tm_min = mi;
  tm.tm_sec = s;
  return static_cast<platform::FileTime>(timegm(&tm)) * 10000000 + 116444736000000000LL;
}

class SyncListTest : public ::testing::Test {
 protected:
  test::ScopedRegistry registry_;
  test::ScopedEnv tz_{"TZ", "Europe/Berlin"};
};

// --- Rows ------------------------------------------------------------------------

TEST_F(SyncListTest, DeleteBlockRemovesTheFolderAndItsFilesOnly) {
  TSyncListe list;
  list.AddRow(Folder("C:\\s\\", "C:\\d\\", kStateFolderOnBothSides));
  list.AddRow(OnlySource("a"));
  list.AddRow(Folder("C:\\s\\x\\", "C:\\d\\x\\", kStateFolderOnlyInSource));
  list.AddRow(OnlySource("b"));
  list.AddRow(OnlySource("c"));
  list.AddRow(Folder("C:\\s\\y\\", "C:\\d\\y\\", kStateFolderOnBothSides));
  list.DeleteBlock(2);
  ASSERT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.GetRow(1).source, "a");
  EXPECT_EQ(list.GetRow(2).source, "C:\\s\\y\\");
  list.DeleteBlock(2);  // the last block runs to the end of the list
  EXPECT_EQ(list.Count(), 2u);
  list.DeleteRow(0);
  EXPECT_EQ(list.GetRow(0).source, "a");
  EXPECT_THROW(list.GetRow(1), std::out_of_range);
}

TEST_F(SyncListTest, AnAbortFromTheProgressCallbackEndsThePassAndLeavesTheListWhole) {
  TSyncListe list([](TSyncListe&) { throw EAbort(); });
  list.AddRow(Folder("Q:\\s\\", "Q:\\d\\", kStateFolderOnBothSides));
  list.AddRow(OnlySource("a"));
  TDriveNameList vanished;
  EXPECT_THROW(list.CollectDrives(vanished), EAbort);
  EXPECT_EQ(list.Count(), 2u);
  list.AddRow(OnlySource("b"));
  EXPECT_EQ(list.Count(), 3u);
}

// --- The hour tolerances --------------------------------------------------------------

struct HourCase {
  const char* name;
  int state;
  uint32_t srcTime;
  uint32_t dstTime;
  int64_t dstSize;  // the source has 100 bytes
  int expectedState;
};

void PrintTo(const HourCase& c, std::ostream* os) { *os << c.name; }

class HourTolerance : public SyncListTest, public ::testing::WithParamInterface<HourCase> {};

TEST_P(HourTolerance, ClassifiesTheTimeDifference) {
  const HourCase& c = GetParam();
  TSyncListe list;
  list.AddRow(Folder("C:\\s\\", "C:\\d\\", kStateFolderOnBothSides));
  TSyncListItem row = Both("f.txt", c.state, c.srcTime, c.dstTime, 100, c.dstSize);
  row.action = kActionCopy;
  row.direction = kFlagDestinationToSource;
  list.AddRow(row);
  list.HourTolerance();
  list.HourTwoSecTolerance();
  const TSyncListItem& out = list.GetRow(1);
  EXPECT_EQ(out.state, c.expectedState);
  if (c.expectedState == kStateEqualWithinHourTolerance) {
    EXPECT_EQ(out.action, kActionNone);
    EXPECT_EQ(out.direction, kFlagSourceToDestination);
  } else {
    EXPECT_EQ(out.action, kActionCopy);
    EXPECT_EQ(out.direction, kFlagDestinationToSource);
  }
  EXPECT_EQ(list.GetRow(0).state, kStateFolderOnBothSides);
}

constexpr int kOlder = kStateDestinationOlder;
constexpr int kNewer = kStateDestinationNewer;
constexpr int kHour = kStateEqualWithinHourTolerance;
constexpr uint32_t kNoon = Dos(2024, 5, 1, 12, 0, 0);

INSTANTIATE_TEST_SUITE_P(
    Cases, HourTolerance,
    ::testing::Values(
        HourCase{"one_hour", kOlder, kNoon, Dos(2024, 5, 1, 11, 0, 0), 100, kHour},
        HourCase{"one_hour_destination_newer", kNewer, kNoon, Dos(2024, 5, 1, 13, 0, 0), 100, kHour},
        HourCase{"one_hour_two_seconds", kNewer, kNoon, Dos(2024, 5, 1, 13, 0, 2), 100, kHour},
        HourCase{"fifty_nine_minutes_58_seconds", kNewer, kNoon, Dos(2024, 5, 1, 12, 59, 58), 100, kHour},
        HourCase{"two_hours_59_minutes_58_seconds", kOlder, kNoon, Dos(2024, 5, 1, 9, 0, 2), 100, kHour},
        HourCase{"twenty_three_hours", kOlder, kNoon, Dos(2024, 4, 30, 13, 0, 0), 100, kHour},
        HourCase{"two_seconds_left_to_the_scan", kNewer, kNoon, Dos(2024, 5, 1, 12, 0, 2), 100, kNewer},
        HourCase{"four_seconds", kNewer, kNoon, Dos(2024, 5, 1, 12, 0, 4), 100, kNewer},
        HourCase{"one_hour_four_seconds", kNewer, kNoon, Dos(2024, 5, 1, 13, 0, 4), 100, kNewer},
        HourCase{"ninety_minutes", kNewer, kNoon, Dos(2024, 5, 1, 13, 30, 0), 100, kNewer},
        HourCase{"exactly_a_day", kNewer, kNoon, Dos(2024, 5, 2, 12, 0, 0), 100, kNewer},
        HourCase{"twenty_five_hours", kNewer, kNoon, Dos(2024, 5, 2, 13, 0, 0), 100, kNewer},
        HourCase{"a_day_and_two_seconds", kNewer, kNoon, Dos(2024, 5, 2, 12, 0, 2), 100, kNewer},
        HourCase{"one_hour_but_size_changed", kNewer, kNoon, Dos(2024, 5, 1, 13, 0, 0), 101, kNewer},
        HourCase{"one_hour_two_seconds_size_changed", kOlder, kNoon, Dos(2024, 5, 1, 10, 59, 58), 99, kOlder},
        HourCase{"changed_on_both_sides_is_left_alone", kStateChangedOnBothSides, kNoon,
                 Dos(2024, 5, 1, 13, 0, 0), 100, kStateChangedOnBothSides},
        HourCase{"invalid_destination_date", kNewer, kNoon, Dos(2024, 13, 1, 13, 0, 0), 100, kNewer},
        HourCase{"invalid_day_31_april", kNewer, kNoon, Dos(2024, 4, 31, 11, 0, 0), 100, kNewer}));

// Times as a disk that stores local time shows them across the switches:
// DOS values come from real instants converted in Europe/Berlin, and the
// tolerance works on the calendar values, not on the instants.
struct SwitchCase {
  const char* name;
  platform::FileTime src;
  platform::FileTime dst;
  uint32_t srcDos;  // what the conversion must give (checked)
  uint32_t dstDos;
  int expectedState;
};

void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.name; }

class HourToleranceAcrossSwitches : public SyncListTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(HourToleranceAcrossSwitches, WorksOnCalendarValues) {
  const SwitchCase& c = GetParam();
  ASSERT_EQ(platform::DosFromFileTime(c.src), c.srcDos);
  ASSERT_EQ(platform::DosFromFileTime(c.dst), c.dstDos);
  TSyncListe list;
  list.AddRow(Folder("C:\\s\\", "C:\\d\\", kStateFolderOnBothSides));
  list.AddRow(Both("f", kNewer, c.srcDos, c.dstDos));
  list.HourTolerance();
  list.HourTwoSecTolerance();
  EXPECT_EQ(list.GetRow(1).state, c.expectedState);
}

INSTANTIATE_TEST_SUITE_P(
    Berlin, HourToleranceAcrossSwitches,
    ::testing::Values(
        // 01:30 CEST and 02:30 CET: an hour on the calendar (two in real time).
        SwitchCase{"october_one_hour", Utc(2024, 10, 26, 23, 30, 0), Utc(2024, 10, 27, 1, 30, 0),
                   Dos(2024, 10, 27, 1, 30, 0), Dos(2024, 10, 27, 2, 30, 0), kHour},
        // 01:59:58 CEST and 02:00:00 CET: two seconds on the calendar, left to the scan.
        SwitchCase{"october_two_calendar_seconds", Utc(2024, 10, 26, 23, 59, 58), Utc(2024, 10, 27, 1, 0, 0),
                   Dos(2024, 10, 27, 1, 59, 58), Dos(2024, 10, 27, 2, 0, 0), kNewer},
        // Noon CEST and noon CET the next day: 24 calendar hours, never tolerated.
        SwitchCase{"october_a_calendar_day", Utc(2024, 10, 26, 10, 0, 0), Utc(2024, 10, 27, 11, 0, 0),
                   Dos(2024, 10, 26, 12, 0, 0), Dos(2024, 10, 27, 12, 0, 0), kNewer},
        // 01:59:58 CET and 03:00:00 CEST: two seconds apart, an hour and two seconds on the calendar.
        SwitchCase{"march_hour_and_two_seconds", Utc(2024, 3, 31, 0, 59, 58), Utc(2024, 3, 31, 1, 0, 0),
                   Dos(2024, 3, 31, 1, 59, 58), Dos(2024, 3, 31, 3, 0, 0), kHour},
        // Noon CET and noon CEST the next day: 23 real hours, but a calendar day.
        SwitchCase{"march_a_calendar_day", Utc(2024, 3, 30, 11, 0, 0), Utc(2024, 3, 31, 10, 0, 0),
                   Dos(2024, 3, 30, 12, 0, 0), Dos(2024, 3, 31, 12, 0, 0), kNewer}));

// --- Old timestamps -----------------------------------------------------------------

// OS.vrl bytes written from the layout: 516-byte header, 264-byte entries.
class OldStampBytes {
 public:
  OldStampBytes& Block(const std::string& src, const std::string& dst, int32_t count) {
    const size_t at = bytes_.size();
    bytes_.resize(at + 516, 0);
    Text(at, src);
    Text(at + 256, dst);
    Int(at + 512, static_cast<uint32_t>(count), 4);
    return *this;
  }
  OldStampBytes& Entry(const std::string& name, platform::FileTime ft) {
    const size_t at = bytes_.size();
    bytes_.resize(at + 264, 0);
    Text(at, name);
    Int(at + 256, static_cast<uint64_t>(ft), 8);
    return *this;
  }
  void WriteTo(const std::string& posixPath) const {
    std::ofstream f(posixPath, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
  }

 private:
  void Text(size_t at, const std::string& s) {
    bytes_[at] = static_cast<uint8_t>(s.size());
    std::copy(s.begin(), s.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(at + 1));
  }
  void Int(size_t at, uint64_t v, int width) {
    for (int i = 0; i < width; ++i) bytes_[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  std::vector<uint8_t> bytes_;
};

struct StampCase {
  const char* name;
  std::string file;
  int state;
  uint32_t srcTime;
  uint32_t dstTime;
  int expectedState;
};

class OldStamps : public SyncListTest {
 protected:
  const std::string src_ = "C:\\data\\src\\sub\\";
  const std::string dst_ = "C:\\data\\dst\\sub\\";
  // Stamped 20.10.2024 12:00:00 CEST and 05.11.2024 09:00:00 CET.
  const platform::FileTime summer_ = Utc(2024, 10, 20, 10, 0, 0);
  const platform::FileTime winter_ = Utc(2024, 11, 5, 8, 0, 0);
  test::TempTree tree_;
};

TEST_F(OldStamps, MarksFilesChangedOnBothSidesUsingEveryBlockOfThePair) {
  const uint32_t stampedSummer = Dos(2024, 10, 20, 12, 0, 0);
  const uint32_t stampedWinter = Dos(2024, 11, 5, 9, 0, 0);
  const uint32_t later = Dos(2024, 10, 23, 12, 0, 0);
  const std::vector<StampCase> cases = {
      {"only_destination_changed", "a.txt", kNewer, stampedSummer, Dos(2024, 10, 30, 9, 0, 0), kNewer},
      {"both_changed_by_days", "b.txt", kOlder, later, Dos(2024, 10, 23, 14, 0, 0), kStateChangedOnBothSides},
      {"two_seconds_from_destination", "c.txt", kOlder, later, Dos(2024, 10, 20, 12, 0, 2), kOlder},
      {"two_seconds_from_source", "d.txt", kNewer, Dos(2024, 10, 20, 11, 59, 58), later, kNewer},
      {"name_in_other_case", "Report.TXT", kNewer, later, Dos(2024, 10, 24, 8, 0, 0), kStateChangedOnBothSides},
      {"stamp_in_winter_unchanged_source", "w.txt", kNewer, stampedWinter, Dos(2024, 11, 9, 8, 0, 0), kNewer},
      {"stamp_from_a_later_block", "late.txt", kNewer, later, Dos(2024, 10, 24, 8, 0, 0), kStateChangedOnBothSides},
      {"same_size_other_time", "e.txt", kStateSameTimeDestinationSmaller, later, later, kStateChangedOnBothSides},
      {"tolerated_rows_stay", "f.txt", kHour, later, Dos(2024, 10, 23, 13, 0, 0), kHour},
      {"not_stamped", "g.txt", kNewer, later, Dos(2024, 10, 24, 8, 0, 0), kNewer},
  };
  OldStampBytes file;
  // A block of the same source with another destination must not hide the pair's stamps.
  file.Block(src_, "C:\\data\\elsewhere\\", 2).Entry("b.txt", Utc(2024, 10, 23, 10, 0, 0)).Entry("late.txt", 0);
  file.Block(src_, dst_, 7)
      .Entry("a.txt", summer_)
      .Entry("b.txt", summer_)
      .Entry("c.txt", summer_)
      .Entry("d.txt", summer_)
      .Entry("report.txt", summer_)
      .Entry("w.txt", winter_)
      .Entry("f.txt", summer_);
  file.Block("C:\\data\\x\\", "C:\\data\\y\\", 1).Entry("e.txt", summer_);
  file.Block("C:\\DATA\\SRC\\SUB\\", "c:\\data\\dst\\SUB\\", 2).Entry("late.txt", summer_).Entry("e.txt", summer_);
  file.WriteTo(tree_.Posix("OS.vrl"));

  TSyncListe list;
  list.AddRow(Folder(src_, dst_, kStateFolderOnBothSides));
  for (const StampCase& c : cases) {
    TSyncListItem row = Both(c.file, c.state, c.srcTime, c.dstTime);
    row.action = kActionCopy;
    list.AddRow(row);
  }
  // A folder without stamps: nothing changes in it.
  list.AddRow(Folder("C:\\data\\src\\nostamps\\", "C:\\data\\dst\\nostamps\\", kStateFolderOnBothSides));
  list.AddRow(Both("b.txt", kOlder, later, Dos(2024, 10, 23, 14, 0, 0)));

  list.CheckOldStamps(tree_.Win("OS.vrl"));
  EXPECT_EQ(list.oldStampError(), "");
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(list.GetRow(i + 1).state, cases[i].expectedState);
    EXPECT_EQ(list.GetRow(i + 1).action, kActionCopy);
  }
  EXPECT_EQ(list.GetRow(cases.size() + 2).state, kOlder);
}

TEST_F(OldStamps, AMissingOrBrokenFileChangesNothing) {
  OldStampBytes broken;
  broken.Block(src_, dst_, 3).Entry("b.txt", summer_);  // two entries short
  broken.WriteTo(tree_.Posix("broken.vrl"));
  std::ofstream(tree_.Posix("short.vrl")) << "not a block";
  struct {
    const char* file;
    bool reported;
  } const files[] = {{"missing.vrl", false}, {"broken.vrl", true}, {"short.vrl", true}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.file);
    TSyncListe list;
    list.AddRow(Folder(src_, dst_, kStateFolderOnBothSides));
    list.AddRow(Both("b.txt", kOlder, Dos(2024, 10, 23, 12, 0, 0), Dos(2024, 10, 23, 14, 0, 0)));
    list.CheckOldStamps(tree_.Win(f.file));
    EXPECT_EQ(list.GetRow(1).state, kOlder);
    EXPECT_EQ(!list.oldStampError().empty(), f.reported) << list.oldStampError();
  }
}

// --- Strategy --------------------------------------------------------------------------

TEST_F(SyncListTest, ApplyStrategyTakesEachStatesPair) {
  TUnpackedStrategy s{};
  s[1] = {kFlagDestinationToSource, kActionCopy};    // folder only in source
  s[2] = {kFlagSourceToDestination, kActionDelete};  // folder only in destination
  s[3] = {kFlagDestinationToSource, kActionCopy};    // direction not read
  s[4] = {kFlagSourceToDestination, kActionDelete};  // direction not read
  s[5] = {kFlagDestinationToSource, kActionCopy};
  s[6] = {kFlagSourceToDestination, kActionCopy};
  s[7] = {kFlagDestinationToSource, kActionNone};
  s[8] = {kFlagSourceToDestination, kActionDelete};
  s[9] = {kFlagDestinationToSource, kActionCopy};
  struct Expect {
    TSyncListItem row;
    int action;
    int direction;
  };
  const uint32_t t = kNoon;
  TSyncListItem unknown = Both("u", 12, t, t);
  const std::vector<Expect> rows = {
      {Folder("C:\\s\\", "C:\\d\\", kStateFolderOnBothSides), kActionNone, kFlagNone},
      {OnlySource("s"), kActionCopy, kFlagSourceToDestination},
      {OnlyDestination("d"), kActionDelete, kFlagDestinationToSource},
      {Both("older", kOlder, t, t), kActionCopy, kFlagDestinationToSource},
      {Both("newer", kNewer, t, t), kActionCopy, kFlagSourceToDestination},
      {Both("smaller", kStateSameTimeDestinationSmaller, t, t), kActionNone, kFlagDestinationToSource},
      {Both("larger", kStateSameTimeDestinationLarger, t, t), kActionDelete, kFlagSourceToDestination},
      {Both("both", kStateChangedOnBothSides, t, t), kActionCopy, kFlagDestinationToSource},
      {Both("hour", kHour, t, t), kActionNone, kFlagSourceToDestination},
      {unknown, kActionNone, kFlagSourceToDestination},
      {Folder("C:\\s\\new\\", "C:\\d\\new\\", kStateFolderOnlyInSource), kActionCopy, kFlagNone},
      {OnlySource("n1"), kActionCopy, kFlagSourceToDestination},
      {OnlySource("n2"), kActionCopy, kFlagSourceToDestination},
      {Folder("C:\\s\\old\\", "C:\\d\\old\\", kStateFolderOnlyInDestination), kActionDelete, kFlagNone},
      {OnlyDestination("o1"), kActionDelete, kFlagDestinationToSource},
  };
  TSyncListe list;
  for (const Expect& e : rows) list.AddRow(e.row);
  list.ApplyStrategy(s);
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].row.source + rows[i].row.destination);
    EXPECT_EQ(list.GetRow(i).action, rows[i].action);
    EXPECT_EQ(list.GetRow(i).direction, rows[i].direction);
    EXPECT_EQ(list.GetRow(i).state, rows[i].row.state);
  }
}

TEST_F(SyncListTest, OnlyAStrategyDirectionByteOfTwoTurnsTheCopyAround) {
  for (uint8_t byte : {0, 1, 2, 3, 255}) {
    TSyncStrategy s;
    s.pairs[5] = {byte, kActionCopy};
    TSyncListe list;
    list.AddRow(Folder("C:\\s\\", "C:\\d\\", kStateFolderOnBothSides));
    list.AddRow(Both("f", kOlder, kNoon, kNoon));
    list.ApplyStrategy(s);
    EXPECT_EQ(list.GetRow(1).direction, byte == 2 ? kFlagDestinationToSource : kFlagSourceToDestination)
        << int(byte);
    EXPECT_EQ(list.GetRow(1).action, kActionCopy);
  }
}

// --- Folder marks -------------------------------------------------------------------------

TEST_F(SyncListTest, MarkFoldersSummarisesTheFileActions) {
  struct Case {
    const char* name;
    int folderState;
    int strategyAction;
    std::vector<int> fileActions;
    int expected;
  };
  const std::vector<Case> cases = {
      {"three_copies", kStateFolderOnBothSides, 0, {1, 1, 1}, kActionCopy},
      {"two_copies_one_deletion", kStateFolderOnBothSides, 0, {1, 2, 1}, kActionCreateFolderIfCopy},
      {"only_deletions", kStateFolderOnBothSides, 0, {2, 2}, kActionCreateFolderIfCopy},
      {"copy_and_tolerated", kStateFolderOnBothSides, 0, {1, 0}, kActionCreateFolder},
      {"nothing_to_do", kStateFolderOnBothSides, 0, {0, 0}, kActionNone},
      {"no_files", kStateFolderOnBothSides, 0, {}, kActionCopy},
      {"only_in_source_keeps_strategy", kStateFolderOnlyInSource, 0, {1, 1}, kActionNone},
      {"only_in_destination_keeps_strategy", kStateFolderOnlyInDestination, 2, {0}, kActionDelete},
  };
  TSyncListe list;
  std::vector<size_t> folderRows;
  for (const Case& c : cases) {
    folderRows.push_back(list.Count());
    TSyncListItem folder = Folder(std::string("C:\\s\\") + c.name + "\\", "C:\\d\\", c.folderState);
    folder.action = c.strategyAction;
    list.AddRow(folder);
    for (int a : c.fileActions) list.AddRow(OnlySource("f", a));
  }
  list.MarkFolders();
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(list.GetRow(folderRows[i]).action, cases[i].expected) << cases[i].name;
}

// --- Critical delete share -------------------------------------------------------------

TEST_F(SyncListTest, CriticalDeleteShareIsExactPercent) {
  struct Case {
    int limit;
    int deletions;
    int others;
    int64_t total;
    bool critical;
  };
  const Case cases[] = {
      {20, 1, 3, 5, true},   {20, 1, 3, 6, false}, {20, 1, 0, 4, true},     {29, 29, 10, 100, true},
      {30, 29, 10, 100, false}, {100, 7, 2, 7, true}, {101, 7, 0, 7, false}, {1, 0, 5, 1000, false},
      {1, 3, 0, 0, false},   {50, 0, 0, 0, false},  {1, 1, 0, 100, true},   {2, 1, 0, 100, false},
  };
  for (const Case& c : cases) {
    TSyncListe list;
    TSyncListItem folder = Folder("C:\\s\\", "C:\\d\\", kStateFolderOnlyInDestination);
    folder.action = kActionDelete;  // folder rows are not counted
    list.AddRow(folder);
    for (int i = 0; i < c.deletions; ++i) list.AddRow(OnlyDestination("d", kActionDelete));
    for (int i = 0; i < c.others; ++i) list.AddRow(OnlySource("s", kActionCopy));
    EXPECT_EQ(list.CriticalDeleteShare(c.limit, c.total), c.critical)
        << c.limit << "% with " << c.deletions << " of " << c.total;
  }
}

// --- Display texts -------------------------------------------------------------------

TEST_F(SyncListTest, FormatTextsFillsTheSidesThatHoldTheFile) {
  TSyncListe list;
  list.AddRow(Folder("C:\\s\\", "C:\\d\\", kStateFolderOnBothSides));
  list.AddRow(OnlyDestination("d", 0, 1, Dos(2023, 12, 31, 23, 59, 58)));
  list.AddRow(OnlySource("s", 0, 1, Dos(1980, 1, 1, 0, 0, 0)));
  list.AddRow(Both("b", kNewer, Dos(2107, 12, 31, 7, 5, 4), Dos(2024, 2, 29, 10, 20, 30)));
  list.FormatTexts();
  const TSyncListItem& folder = list.GetRow(0);
  EXPECT_EQ(folder.sourceTimeText + folder.sourceDateText + folder.destinationTimeText + folder.destinationDateText, "");
  EXPECT_EQ(list.GetRow(1).sourceTimeText, "");
  EXPECT_EQ(list.GetRow(1).destinationTimeText, "23:59:58");
  EXPECT_EQ(list.GetRow(1).destinationDateText, "31.12.2023");
  EXPECT_EQ(list.GetRow(2).sourceDateText, "01.01.1980");
  EXPECT_EQ(list.GetRow(2).sourceTimeText, "00:00:00");
  EXPECT_EQ(list.GetRow(2).destinationDateText, "");
  EXPECT_EQ(list.GetRow(3).sourceDateText, "31.12.2107");
  EXPECT_EQ(list.GetRow(3).sourceTimeText, "07:05:04");
  EXPECT_EQ(list.GetRow(3).destinationDateText, "29.02.2024");
  EXPECT_EQ(list.GetRow(3).destinationTimeText, "10:20:30");

  TSyncListe bad;
  bad.AddRow(Both("x", kNewer, kNoon, Dos(2023, 2, 29, 1, 0, 0)));
  EXPECT_THROW(bad.FormatTexts(), std::invalid_argument);
}

// --- Rows from a scanned tree ------------------------------------------------------------

TEST_F(SyncListTest, AddFromTreeSkipsOnlyEmptyFoldersPresentOnBothSides) {
  test::TempTree t;
  t.Write("src/a/f1.txt", "1");
  t.Mkdir("src/emptyboth");
  t.Mkdir("src/srconly");
  t.Mkdir("dst/a");
  t.Mkdir("dst/emptyboth");
  t.Mkdir("dst/dstonly");
  t.Write("dst/b.txt", "22");
  TDirTree tree;
  tree.recurse = true;
  tree.SetFolderKind(1);
  tree.ScanSource(t.WinFolder("src"));
  tree.ScanDestination(t.WinFolder("dst"));
  tree.SortFolderList();
  TSyncListe list;
  list.SetRoots(t.Win("src"), t.Win("dst"));  // the missing "\" is added
  list.AddFromTree(tree, {kStateFolderOnBothSides});
  struct Row {
    std::string source;
    std::string destination;
    int kind;
    int state;
  };
  const std::string s = t.WinFolder("src");
  const std::string d = t.WinFolder("dst");
  const std::vector<Row> expected = {
      {s, d, 1, kStateFolderOnBothSides},
      {"", "b.txt", 0, kStateOnlyInDestination},
      {s + "a\\", d + "a\\", 1, kStateFolderOnBothSides},
      {"f1.txt", "", 0, kStateOnlyInSource},
      {s + "dstonly\\", d + "dstonly\\", 1, kStateFolderOnlyInDestination},
      {s + "srconly\\", d + "srconly\\", 1, kStateFolderOnlyInSource},
  };
  ASSERT_EQ(list.Count(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(list.GetRow(i).source, expected[i].source);
    EXPECT_EQ(list.GetRow(i).destination, expected[i].destination);
    EXPECT_EQ(list.GetRow(i).rowKind, expected[i].kind);
    EXPECT_EQ(list.GetRow(i).state, expected[i].state);
    EXPECT_EQ(list.GetRow(i).action, kActionNone);
  }
  EXPECT_EQ(list.GetRow(1).destinationSize, 2);

  TSyncListe total;
  total.AppendFrom(list);
  total.AppendFrom(list);
  EXPECT_EQ(total.Count(), 2 * expected.size());
  EXPECT_EQ(total.GetRow(expected.size() + 3).source, "f1.txt");
}

}  // namespace
}  // namespace kv
