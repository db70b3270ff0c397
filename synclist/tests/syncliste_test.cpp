#include "synclist/syncliste.h"

#include <gtest/gtest.h>

#include <ctime>
#include <stdexcept>

#include "platform/time.h"
#include "synclist/abort.h"
#include "synclist/dirtree.h"
#include "synclist/tests/testrows.h"
#include "testsupport/goldenrecords.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::AddRows;
using test::Both;
using test::Dos;
using test::Folder;
using test::OnlyDestination;
using test::OnlySource;

constexpr int kOlder = kStateDestinationOlder;
constexpr int kNewer = kStateDestinationNewer;
constexpr int kHour = kStateEqualWithinHourTolerance;
constexpr uint32_t kNoon = Dos(2024, 5, 1, 12, 0, 0);

// FILETIME of a UTC calendar instant, computed with the C library alone.
platform::FileTime Utc(int y, int mo, int d, int h, int mi, int s) {
  std::tm tm{.tm_sec = s, .tm_min = mi, .tm_hour = h, .tm_mday = d, .tm_mon = mo - 1, .tm_year = y - 1900};
  return static_cast<platform::FileTime>(timegm(&tm)) * 10000000 + 116444736000000000LL;
}

class SyncListTest : public ::testing::Test {
 protected:
  test::ScopedRegistry registry_;
  test::ScopedEnv tz_{"TZ", "Europe/Berlin"};
};

TEST_F(SyncListTest, DeleteBlockRemovesTheFolderAndItsFilesOnly) {
  TSyncListe list;
  AddRows(list, {Folder("C:\\s\\", "C:\\d\\", kStateFolderOnBothSides), OnlySource("a"),
                 Folder("C:\\s\\x\\", "C:\\d\\x\\", kStateFolderOnlyInSource), OnlySource("b"), OnlySource("c"),
                 Folder("C:\\s\\y\\", "C:\\d\\y\\", kStateFolderOnBothSides)});
  list.DeleteBlock(2);
  EXPECT_EQ(test::RowNames(list), (std::vector<std::string>{"C:\\s\\", "a", "C:\\s\\y\\"}));
  list.DeleteBlock(2);  // the last block runs to the end of the list
  list.DeleteRow(0);
  EXPECT_EQ(test::RowNames(list), std::vector<std::string>{"a"});
  EXPECT_THROW(list.GetRow(1), std::out_of_range);

  // An abort from the progress callback ends a pass and leaves the list whole.
  TSyncListe aborting([](TSyncListe&) { throw EAbort(); });
  AddRows(aborting, {Folder("Q:\\s\\", "Q:\\d\\", kStateFolderOnBothSides), OnlySource("a")});
  TDriveNameList vanished;
  EXPECT_THROW(aborting.CollectDrives(vanished), EAbort);
  aborting.AddRow(OnlySource("b"));
  EXPECT_EQ(aborting.Count(), 3u);
}

// Equal sizes and times a whole number of hours (under a day) apart, or that
// and two seconds either way: state 14, nothing to do.
TEST_F(SyncListTest, HourToleranceNeedsEqualSizesAndWholeHoursUnderADay) {
  struct Case {
    const char* name;
    int state;
    uint32_t dstTime;  // the source has kNoon
    int64_t dstSize;   // the source has 100 bytes
    int expected;
  };
  const Case cases[] = {
      {"one hour", kOlder, Dos(2024, 5, 1, 11, 0, 0), 100, kHour},
      {"one hour, destination newer", kNewer, Dos(2024, 5, 1, 13, 0, 0), 100, kHour},
      {"one hour two seconds", kNewer, Dos(2024, 5, 1, 13, 0, 2), 100, kHour},
      {"59 minutes 58 seconds", kNewer, Dos(2024, 5, 1, 12, 59, 58), 100, kHour},
      {"2:59:58", kOlder, Dos(2024, 5, 1, 9, 0, 2), 100, kHour},
      {"23 hours", kOlder, Dos(2024, 4, 30, 13, 0, 0), 100, kHour},
      {"two seconds: left to the scan", kNewer, Dos(2024, 5, 1, 12, 0, 2), 100, kNewer},
      {"four seconds", kNewer, Dos(2024, 5, 1, 12, 0, 4), 100, kNewer},
      {"one hour four seconds", kNewer, Dos(2024, 5, 1, 13, 0, 4), 100, kNewer},
      {"90 minutes", kNewer, Dos(2024, 5, 1, 13, 30, 0), 100, kNewer},
      {"exactly a day", kNewer, Dos(2024, 5, 2, 12, 0, 0), 100, kNewer},
      {"25 hours", kNewer, Dos(2024, 5, 2, 13, 0, 0), 100, kNewer},
      {"a day and two seconds", kNewer, Dos(2024, 5, 2, 12, 0, 2), 100, kNewer},
      {"one hour, size changed", kNewer, Dos(2024, 5, 1, 13, 0, 0), 101, kNewer},
      {"one hour two seconds, size changed", kOlder, Dos(2024, 5, 1, 10, 59, 58), 99, kOlder},
      {"changed on both sides is left alone", kStateChangedOnBothSides, Dos(2024, 5, 1, 13, 0, 0), 100,
       kStateChangedOnBothSides},
      {"invalid destination date", kNewer, Dos(2024, 13, 1, 13, 0, 0), 100, kNewer},
      {"invalid day 31 April", kNewer, Dos(2024, 4, 31, 11, 0, 0), 100, kNewer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSyncListe list;
    list.AddRow(Folder("C:\\s\\", "C:\\d\\", kStateFolderOnBothSides));
    TSyncListItem row = Both("f.txt", c.state, kNoon, c.dstTime, 100, c.dstSize);
    row.action = kActionCopy;
    row.direction = kFlagDestinationToSource;
    list.AddRow(row);
    list.HourTolerance();
    list.HourTwoSecTolerance();
    const TSyncListItem& out = list.GetRow(1);
    EXPECT_EQ(out.state, c.expected);
    EXPECT_EQ(out.action, c.expected == kHour ? kActionNone : kActionCopy);
    EXPECT_EQ(out.direction, c.expected == kHour ? kFlagSourceToDestination : kFlagDestinationToSource);
    EXPECT_EQ(list.GetRow(0).state, kStateFolderOnBothSides);
  }
}

// A disk that stores local time shows times across the Berlin switches as
// below: the DOS values come from real instants, and the tolerance works on
// the calendar values, not on the instants.
TEST_F(SyncListTest, HourToleranceWorksOnCalendarValuesAcrossTheSwitches) {
  struct Case {
    const char* name;
    platform::FileTime src, dst;
    uint32_t srcDos, dstDos;  // what the conversion must give (checked)
    int expected;
  };
  const Case cases[] = {
      {"October: 01:30 CEST and 02:30 CET, an hour on the calendar", Utc(2024, 10, 26, 23, 30, 0),
       Utc(2024, 10, 27, 1, 30, 0), Dos(2024, 10, 27, 1, 30, 0), Dos(2024, 10, 27, 2, 30, 0), kHour},
      {"October: two calendar seconds, left to the scan", Utc(2024, 10, 26, 23, 59, 58), Utc(2024, 10, 27, 1, 0, 0),
       Dos(2024, 10, 27, 1, 59, 58), Dos(2024, 10, 27, 2, 0, 0), kNewer},
      {"October: a calendar day, never tolerated", Utc(2024, 10, 26, 10, 0, 0), Utc(2024, 10, 27, 11, 0, 0),
       Dos(2024, 10, 26, 12, 0, 0), Dos(2024, 10, 27, 12, 0, 0), kNewer},
      {"March: two real seconds, an hour and two on the calendar", Utc(2024, 3, 31, 0, 59, 58),
       Utc(2024, 3, 31, 1, 0, 0), Dos(2024, 3, 31, 1, 59, 58), Dos(2024, 3, 31, 3, 0, 0), kHour},
      {"March: 23 real hours, a calendar day", Utc(2024, 3, 30, 11, 0, 0), Utc(2024, 3, 31, 10, 0, 0),
       Dos(2024, 3, 30, 12, 0, 0), Dos(2024, 3, 31, 12, 0, 0), kNewer},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(platform::DosFromFileTime(c.src), c.srcDos);
    ASSERT_EQ(platform::DosFromFileTime(c.dst), c.dstDos);
    TSyncListe list;
    AddRows(list, {Folder("C:\\s\\", "C:\\d\\", kStateFolderOnBothSides), Both("f", kNewer, c.srcDos, c.dstDos)});
    list.HourTolerance();
    list.HourTwoSecTolerance();
    EXPECT_EQ(list.GetRow(1).state, c.expected);
  }
}

// --- Old timestamps -----------------------------------------------------------------

class OldStamps : public SyncListTest {
 protected:
  const std::string src_ = "C:\\data\\src\\sub\\";
  const std::string dst_ = "C:\\data\\dst\\sub\\";
  // Stamped 20.10.2024 12:00:00 CEST and 05.11.2024 09:00:00 CET.
  const uint64_t summer_ = Utc(2024, 10, 20, 10, 0, 0);
  const uint64_t winter_ = Utc(2024, 11, 5, 8, 0, 0);
  test::TempTree tree_;
};

TEST_F(OldStamps, MarksFilesChangedOnBothSidesUsingEveryBlockOfThePair) {
  const uint32_t stampedSummer = Dos(2024, 10, 20, 12, 0, 0);
  const uint32_t later = Dos(2024, 10, 23, 12, 0, 0);
  struct Case {
    const char* name;
    std::string file;
    int state;
    uint32_t srcTime, dstTime;
    int expected;
  };
  const std::vector<Case> cases = {
      {"only destination changed", "a.txt", kNewer, stampedSummer, Dos(2024, 10, 30, 9, 0, 0), kNewer},
      {"both changed by days", "b.txt", kOlder, later, Dos(2024, 10, 23, 14, 0, 0), kStateChangedOnBothSides},
      {"two seconds from destination", "c.txt", kOlder, later, Dos(2024, 10, 20, 12, 0, 2), kOlder},
      {"two seconds from source", "d.txt", kNewer, Dos(2024, 10, 20, 11, 59, 58), later, kNewer},
      {"name in other case", "Report.TXT", kNewer, later, Dos(2024, 10, 24, 8, 0, 0), kStateChangedOnBothSides},
      {"stamp in winter, unchanged source", "w.txt", kNewer, Dos(2024, 11, 5, 9, 0, 0), Dos(2024, 11, 9, 8, 0, 0),
       kNewer},
      {"stamp from a later block", "late.txt", kNewer, later, Dos(2024, 10, 24, 8, 0, 0), kStateChangedOnBothSides},
      {"same size, other time", "e.txt", kStateSameTimeDestinationSmaller, later, later, kStateChangedOnBothSides},
      {"tolerated rows stay", "f.txt", kHour, later, Dos(2024, 10, 23, 13, 0, 0), kHour},
      {"not stamped", "g.txt", kNewer, later, Dos(2024, 10, 24, 8, 0, 0), kNewer},
  };
  // A block of the same source with another destination must not hide the
  // pair's stamps; the pair's second block is spelt in other case.
  test::GoldenOldStamps()
      .Block(src_, "C:\\data\\elsewhere\\", 2).Entry("b.txt", Utc(2024, 10, 23, 10, 0, 0)).Entry("late.txt", 0)
      .Block(src_, dst_, 7).Entry("a.txt", summer_).Entry("b.txt", summer_).Entry("c.txt", summer_)
      .Entry("d.txt", summer_).Entry("report.txt", summer_).Entry("w.txt", winter_).Entry("f.txt", summer_)
      .Block("C:\\data\\x\\", "C:\\data\\y\\", 1).Entry("e.txt", summer_)
      .Block("C:\\DATA\\SRC\\SUB\\", "c:\\data\\dst\\SUB\\", 2).Entry("late.txt", summer_).Entry("e.txt", summer_)
      .WriteTo(tree_.Posix("OS.vrl"));

  TSyncListe list;
  list.AddRow(Folder(src_, dst_, kStateFolderOnBothSides));
  for (const Case& c : cases) {
    TSyncListItem row = Both(c.file, c.state, c.srcTime, c.dstTime);
    row.action = kActionCopy;
    list.AddRow(row);
  }
  // A folder without stamps: nothing changes in it.
  AddRows(list, {Folder("C:\\data\\src\\nostamps\\", "C:\\data\\dst\\nostamps\\", kStateFolderOnBothSides),
                 Both("b.txt", kOlder, later, Dos(2024, 10, 23, 14, 0, 0))});

  list.CheckOldStamps(tree_.Win("OS.vrl"));
  EXPECT_EQ(list.oldStampError(), "");
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(list.GetRow(i + 1).state, cases[i].expected);
    EXPECT_EQ(list.GetRow(i + 1).action, kActionCopy);
  }
  EXPECT_EQ(list.GetRow(cases.size() + 2).state, kOlder);
}

TEST_F(OldStamps, AMissingOrBrokenFileChangesNothing) {
  test::GoldenOldStamps().Block(src_, dst_, 3).Entry("b.txt", summer_).WriteTo(tree_.Posix("broken.vrl"));
  tree_.Write("short.vrl", "not a block");
  for (const char* file : {"missing.vrl", "broken.vrl", "short.vrl"}) {
    SCOPED_TRACE(file);
    TSyncListe list;
    AddRows(list, {Folder(src_, dst_, kStateFolderOnBothSides),
                   Both("b.txt", kOlder, Dos(2024, 10, 23, 12, 0, 0), Dos(2024, 10, 23, 14, 0, 0))});
    list.CheckOldStamps(tree_.Win(file));
    EXPECT_EQ(list.GetRow(1).state, kOlder);
    EXPECT_EQ(list.oldStampError().empty(), std::string(file) == "missing.vrl") << list.oldStampError();
  }
}

// --- Strategy and folder marks ----------------------------------------------------------

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
      {Both("unknown", 12, t, t), kActionNone, kFlagSourceToDestination},
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

  // The pair record's bytes: only a direction byte of 2 turns the copy around.
  for (uint8_t byte : {0, 1, 2, 3, 255}) {
    TSyncStrategy raw;
    raw.pairs[5] = {byte, kActionCopy};
    TSyncListe one;
    one.AddRow(Both("f", kOlder, t, t));
    one.ApplyStrategy(raw);
    EXPECT_EQ(one.GetRow(0).direction, byte == 2 ? kFlagDestinationToSource : kFlagSourceToDestination) << int(byte);
    EXPECT_EQ(one.GetRow(0).action, kActionCopy);
  }
}

TEST_F(SyncListTest, MarkFoldersSummarisesTheFileActions) {
  struct Case {
    const char* name;
    int folderState;
    int strategyAction;
    std::vector<int> fileActions;
    int expected;
  };
  const std::vector<Case> cases = {
      {"three copies", kStateFolderOnBothSides, 0, {1, 1, 1}, kActionCopy},
      {"two copies one deletion", kStateFolderOnBothSides, 0, {1, 2, 1}, kActionCreateFolderIfCopy},
      {"only deletions", kStateFolderOnBothSides, 0, {2, 2}, kActionCreateFolderIfCopy},
      {"copy and tolerated", kStateFolderOnBothSides, 0, {1, 0}, kActionCreateFolder},
      {"nothing to do", kStateFolderOnBothSides, 0, {0, 0}, kActionNone},
      {"no files", kStateFolderOnBothSides, 0, {}, kActionCopy},
      {"only in source keeps strategy", kStateFolderOnlyInSource, 0, {1, 1}, kActionNone},
      {"only in destination keeps strategy", kStateFolderOnlyInDestination, 2, {0}, kActionDelete},
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

// limit <= deletions / total in exact percent, without rounding.
TEST_F(SyncListTest, CriticalDeleteShareIsExactPercent) {
  struct Case {
    int limit, deletions, others;
    int64_t total;
    bool critical;
  };
  const Case cases[] = {
      {20, 1, 3, 5, true},      {20, 1, 3, 6, false}, {20, 1, 0, 4, true},    {29, 29, 10, 100, true},
      {30, 29, 10, 100, false}, {100, 7, 2, 7, true}, {101, 7, 0, 7, false}, {1, 0, 5, 1000, false},
      {1, 3, 0, 0, false},      {50, 0, 0, 0, false}, {1, 1, 0, 100, true},  {2, 1, 0, 100, false},
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

// --- Rows from a scanned tree ------------------------------------------------------------

TEST_F(SyncListTest, AddFromTreeSkipsOnlyEmptyFoldersPresentOnBothSides) {
  test::TempTree t;
  test::WriteTree(t, 1718452800, {"src/a/f1.txt=1", "src/emptyboth", "src/srconly", "dst/a", "dst/emptyboth",
                                  "dst/dstonly", "dst/b.txt=22"});
  auto scanned = [&t] {
    TDirTree tree;
    tree.recurse = true;
    tree.SetFolderKind(1);
    tree.ScanSource(t.WinFolder("src"));
    tree.ScanDestination(t.WinFolder("dst"));
    tree.SortFolderList();
    TSyncListe list;
    list.SetRoots(t.Win("src"), t.Win("dst"));  // the missing "\" is added
    list.AddFromTree(tree, {kStateFolderOnBothSides});
    return list;
  };
  TSyncListe list = scanned();
  const std::string s = t.WinFolder("src");
  const std::string d = t.WinFolder("dst");
  const std::vector<std::string> expected = {
      s + "|" + d + "|1|10|0",
      "|b.txt|0|0|0",
      s + "a\\|" + d + "a\\|1|10|0",
      "f1.txt||0|1|0",
      s + "dstonly\\|" + d + "dstonly\\|1|7|0",
      s + "srconly\\|" + d + "srconly\\|1|8|0",
  };
  std::vector<std::string> rows;
  for (size_t i = 0; i < list.Count(); ++i) {
    const TSyncListItem& r = list.GetRow(i);
    rows.push_back(r.source + "|" + r.destination + "|" + std::to_string(r.rowKind) + "|" + std::to_string(r.state) +
                   "|" + std::to_string(r.action));
  }
  EXPECT_EQ(rows, expected);
  EXPECT_EQ(list.GetRow(1).destinationSize, 2);

  // The total list takes the pairs' rows over, one pair after the other.
  TSyncListe total;
  total.AppendFrom(std::move(list));
  TSyncListe second = scanned();
  total.AppendFrom(std::move(second));
  EXPECT_EQ(list.Count() + second.Count(), 0u);
  EXPECT_EQ(total.Count(), 2 * expected.size());
  EXPECT_EQ(total.GetRow(expected.size() + 3).source, "f1.txt");
}

// One folder spelt differently on the two sides: each side's path is the
// spelling found on that side, also for one-sided folders below it.
TEST_F(SyncListTest, FolderPathsKeepEachSidesSpelling) {
  test::TempTree t;
  test::WriteTree(t, 1718452800, {"src/Sub/new.txt=1", "src/Sub/Deep/x=1", "dst/sub/old.txt=2", "dst/sub/junk/y=2"});
  TDirTree tree;
  tree.recurse = true;
  tree.ScanSource(t.WinFolder("src"));
  tree.ScanDestination(t.WinFolder("dst"));
  tree.SortFolderList();
  TSyncListe list;
  list.SetRoots(t.WinFolder("src"), t.WinFolder("dst"));
  list.AddFromTree(tree, {kStateFolderOnBothSides});
  const std::string s = t.WinFolder("src");
  const std::string d = t.WinFolder("dst");
  std::vector<std::string> folders;
  for (size_t i = 0; i < list.Count(); ++i)
    if (list.GetRow(i).IsFolder()) folders.push_back(list.GetRow(i).source + "|" + list.GetRow(i).destination);
  EXPECT_EQ(folders, (std::vector<std::string>{s + "Sub\\|" + d + "sub\\", s + "Sub\\Deep\\|" + d + "sub\\Deep\\",
                                               s + "Sub\\junk\\|" + d + "sub\\junk\\"}));
}

}  // namespace
}  // namespace kv
