#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "shared/syncitem.h"
#include "synclist/syncliste.h"
#include "synclist/tests/testrows.h"
#include "testsupport/fixtures.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::Both;
using test::Dos;
using test::Folder;
using test::OnlyDestination;
using test::OnlySource;

class JobWriter : public ::testing::Test {
 protected:
  test::ScopedRegistry registry_;
  test::TempTree t_;
};

// What the copy engine must read back for one row.
struct Expected {
  uint8_t rowKind;
  uint8_t stateCode;
  uint8_t direction;
  const char* srcTimeText;
  const char* srcDateText;
  const char* dstTimeText;
  const char* dstDateText;
};

TEST_F(JobWriter, WritesEveryRowWithTheCodesTheCopyEngineReads) {
  const uint32_t a = Dos(2024, 10, 27, 2, 30, 4);
  const uint32_t b = Dos(2025, 3, 30, 3, 0, 58);
  std::vector<std::pair<TSyncListItem, Expected>> rows;
  auto add = [&](TSyncListItem row, int action, Expected e) {
    row.action = action;
    rows.emplace_back(std::move(row), e);
  };
  add(Folder("C:\\s\\", "D:\\d\\", kStateFolderOnBothSides, 2), kActionCreateFolderIfCopy, {2, 10, 0, "", "", "", ""});
  add(OnlyDestination("gone.txt", kActionDelete, 7, b), kActionDelete, {0, 1, 2, "", "", "03:00:58", "30.03.2025"});
  add(OnlySource("new.txt", kActionCopy, 5000000000LL, a), kActionCopy, {0, 2, 1, "02:30:04", "27.10.2024", "", ""});
  add(Both("older", kStateDestinationOlder, b, a), kActionCopy, {0, 3, 1, "03:00:58", "30.03.2025", "02:30:04", "27.10.2024"});
  add(Both("newer", kStateDestinationNewer, a, b), kActionCopy, {0, 4, 2, "02:30:04", "27.10.2024", "03:00:58", "30.03.2025"});
  add(Both("small", kStateSameTimeDestinationSmaller, a, a, 9, 8), kActionCopy, {0, 5, 1, "02:30:04", "27.10.2024", "02:30:04", "27.10.2024"});
  add(Both("large", kStateSameTimeDestinationLarger, a, a, 8, 9), kActionNone, {0, 6, 2, "02:30:04", "27.10.2024", "02:30:04", "27.10.2024"});
  add(Both("both", kStateChangedOnBothSides, a, b), kActionNone, {0, 7, 1, "02:30:04", "27.10.2024", "03:00:58", "30.03.2025"});
  add(Folder("C:\\s\\old\\", "D:\\d\\old\\", kStateFolderOnlyInDestination, 1), kActionDelete, {1, 8, 0, "", "", "", ""});
  add(Folder("C:\\s\\new\\", "D:\\d\\new\\", kStateFolderOnlyInSource, 7), kActionCopy, {0, 9, 0, "", "", "", ""});
  TSyncListItem hour = Both("hour", kStateDestinationNewer, a, Dos(2024, 10, 27, 3, 30, 4));
  hour.state = kStateEqualWithinHourTolerance;
  hour.direction = kFlagSourceToDestination;
  add(hour, kActionNone, {0, 15, 1, "02:30:04", "27.10.2024", "03:30:04", "27.10.2024"});
  TSyncListItem odd = Both("odd", 12, a, a);
  odd.direction = 7;
  add(odd, kActionNone, {0, 3, 0, "02:30:04", "27.10.2024", "02:30:04", "27.10.2024"});

  TSyncListe list;
  for (const auto& [row, e] : rows) list.AddRow(row);
  list.FormatTexts();
  list.WriteJobFile(t_.Win("$job.tmp"));

  const auto job = test::DecodeJobFile(t_.Posix("$job.tmp"));
  ASSERT_EQ(job.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto& [row, e] = rows[i];
    const test::JobRecord& r = job[i];
    SCOPED_TRACE(row.source + "|" + row.destination);
    EXPECT_EQ(std::tuple(r.source, r.destination, r.sourceSize, r.destinationSize, r.rowIndex, r.sourceTime,
                         r.destinationTime, int{r.action}),
              std::tuple(row.source, row.destination, row.sourceSize, row.destinationSize, static_cast<int32_t>(i),
                         row.sourceTime, row.destinationTime, row.action));
    EXPECT_EQ(std::tuple(int{r.rowKind}, int{r.stateCode}, int{r.direction}, r.sourceTimeText, r.sourceDateText,
                         r.destinationTimeText, r.destinationDateText, r.zeroFilled),
              std::tuple(int{e.rowKind}, int{e.stateCode}, int{e.direction}, std::string(e.srcTimeText),
                         std::string(e.srcDateText), std::string(e.dstTimeText), std::string(e.dstDateText), true));
  }
  EXPECT_EQ(list.currentFolder(), "C:\\s\\new\\");
}

TEST_F(JobWriter, FailuresAreErrorsThatNameTheFileAndNeverHalfAJob) {
  TSyncListe list;
  list.AddRow(Folder("C:\\s\\", "C:\\d\\", kStateFolderOnBothSides));
  list.AddRow(OnlySource(std::string(256, 'n'), kActionCopy));  // cannot be stored without cutting it
  t_.Write("$job.tmp", "");
  try {
    list.WriteJobFile(t_.Win("$job.tmp"));
    FAIL() << "no error";
  } catch (const JobFileError& e) {
    EXPECT_NE(std::string(e.what()).find("$job.tmp"), std::string::npos) << e.what();
  }
  EXPECT_EQ(t_.Read("$job.tmp"), "");

  // A time to show that names no valid date (29.02.2023) is an error too.
  TSyncListe bad;
  bad.AddRow(Both("x", kStateDestinationNewer, Dos(2024, 5, 1, 12, 0, 0), Dos(2023, 2, 29, 1, 0, 0)));
  EXPECT_THROW(bad.FormatTexts(), std::invalid_argument);
}

}  // namespace
}  // namespace kv
