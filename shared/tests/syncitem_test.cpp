#include "shared/syncitem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/record.h"
#include "shared/synccodes.h"
#include "testsupport/fixtures.h"
#include "testsupport/goldenrecords.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::GoldenRecord;
using test::TempTree;

// 31.03.2024 14:05:06 and 01.01.1980 00:00:00, packed from the DOS bit layout.
constexpr uint32_t kDos20240331 = (44u << 25) | (3u << 21) | (31u << 16) | (14u << 11) | (5u << 5) | 3u;
constexpr uint32_t kDos1980 = (1u << 21) | (1u << 16);

GoldenRecord JobRecord() { return GoldenRecord(test::kJobRecordSize); }

// A file that exists only in the destination, as the writer stores it.
TSyncItem OnlyInDestinationRow() {
  return {.destination = "Bericht.docx", .destinationSize = 0x123456789A, .rowIndex = 7,
          .destinationTime = kDos20240331, .action = kActionDelete,
          .stateCode = static_cast<uint8_t>(JobStateCode(kStateOnlyInDestination)),
          .direction = static_cast<uint8_t>(JobDirection(kFlagDestinationToSource)),
          .destinationTimeText = "14:05:06", .destinationDateText = "31.03.2024"};
}

TSyncItem FolderRow() {
  return {.source = "C:\\Daten\\Projekte\\", .destination = "\\\\srv\\backup\\Projekte\\", .rowKind = 2,
          .action = kActionCreateFolderIfCopy, .stateCode = static_cast<uint8_t>(JobStateCode(kStateFolderOnBothSides)),
          .direction = static_cast<uint8_t>(JobDirection(kFlagNone))};
}

// The codes the copy engine reads, from their tables.
TEST(SyncCodes, JobFileCodesFollowTheTables) {
  const std::pair<int, int> states[] = {{0, 1},  {1, 2},  {2, 3},  {3, 4}, {4, 5},  {5, 6},  {6, 7},  {7, 8}, {8, 9},
                                        {10, 10}, {14, 15}, {9, 3}, {11, 3}, {13, 3}, {15, 3}, {-1, 3}, {255, 3}};
  for (auto [state, code] : states) EXPECT_EQ(JobStateCode(state), code) << "state " << state;
  for (int code = 0; code < 256; ++code) EXPECT_EQ(IsFolderStateCode(code), code >= 8 && code <= 10) << code;
  for (auto [flag, job] : {std::pair{0, 2}, {1, 1}, {2, 0}, {3, 0}, {-1, 0}, {255, 0}}) {
    EXPECT_EQ(JobDirection(flag), job) << "flag " << flag;
  }
  for (int b = 0; b < 256; ++b) EXPECT_EQ(FlagFromStrategyDirection(b), b == 2 ? 0 : 1) << "strategy byte " << b;
  for (auto [kind, job] : {std::pair{0, 0}, {1, 1}, {2, 2}, {3, 0}, {-1, 0}}) EXPECT_EQ(JobRowKind(kind), job) << kind;
  const int stateOfPair[] = {-1, 8, 7, 1, 0, 2, 3, 4, 5, 6};  // pair 0 serves none
  for (int pair = 1; pair <= 9; ++pair) EXPECT_EQ(StrategyPairForState(stateOfPair[pair]), pair);
  for (int state : {9, 10, 11, 14, -1, 255}) EXPECT_FALSE(StrategyPairForState(state).has_value()) << state;
  for (int pair = 0; pair <= 9; ++pair) EXPECT_EQ(StrategyPairDirectionIsRead(pair), pair >= 5) << pair;
}

TEST(SyncItem, EncodesAndDecodesAtTheLayoutOffsets) {
  // Years from 2044 on set the top bit of a DOS time.
  const TSyncItem extremes{.sourceSize = -1, .destinationSize = INT64_MAX, .rowIndex = -2, .sourceTime = 0xFFFFFFFFu};
  const TSyncItem both{.source = "a.txt", .destination = "A.TXT", .sourceSize = 10, .destinationSize = 12,
                       .sourceTime = kDos20240331, .destinationTime = kDos1980, .action = 1, .stateCode = 6,
                       .direction = 1, .sourceTimeText = "14:05:06", .destinationTimeText = "00:00:00",
                       .sourceDateText = "31.03.2024", .destinationDateText = "01.01.1980"};

  const std::pair<TSyncItem, GoldenRecord> cases[] = {
      {both, JobRecord().Text(0, "a.txt").Text(256, "A.TXT").Le(512, 10, 8).Le(520, 12, 8).Le(532, kDos20240331, 4)
                 .Le(536, kDos1980, 4).Byte(549, 1).Byte(550, 6).Byte(551, 1).Text(560, "14:05:06")
                 .Text(569, "00:00:00").Text(578, "31.03.2024").Text(589, "01.01.1980")},
      {FolderRow(), JobRecord().Text(0, "C:\\Daten\\Projekte\\").Text(256, "\\\\srv\\backup\\Projekte\\")
                        .Byte(548, 2).Byte(549, 4).Byte(550, 10)},
      {extremes, JobRecord().Le(512, ~0ull, 8).Le(520, 0x7FFFFFFFFFFFFFFFull, 8).Le(528, 0xFFFFFFFEu, 4)
                     .Le(532, 0xFFFFFFFFu, 4)},
  };
  for (const auto& [item, golden] : cases) {
    SCOPED_TRACE(item.source);
    EXPECT_EQ(item.Encode(), golden.bytes());
    EXPECT_EQ(TSyncItem::Decode(golden.bytes()), item);
  }
}

TEST(SyncItem, ForeignRecordsAreClampedAndOtherSizesRefused) {
  // Every byte garbage, as a foreign writer may leave it; length bytes beyond their fields.
  GoldenRecord g(test::kJobRecordSize, 'x');
  g.Byte(0, 255).Byte(256, 255).Byte(560, 200).Byte(569, 9).Byte(578, 255).Byte(589, 11);
  TSyncItem item = TSyncItem::Decode(g.bytes());
  EXPECT_EQ(item.source + item.destination, std::string(510, 'x'));
  EXPECT_EQ(item.sourceTimeText + item.destinationTimeText, std::string(16, 'x'));
  EXPECT_EQ(item.sourceDateText + item.destinationDateText, std::string(20, 'x'));

  std::vector<uint8_t> shortRecord(599, 0), longRecord(601, 0);
  EXPECT_THROW(TSyncItem::Decode(shortRecord), std::invalid_argument);
  EXPECT_THROW(TSyncItem::Decode(longRecord), std::invalid_argument);
  EXPECT_THROW(FolderRow().EncodeInto(shortRecord), std::invalid_argument);

  // A protocol record embeds the item at its head; the rest stays as it was.
  std::vector<uint8_t> protocolRecord(864, 0xAB);
  OnlyInDestinationRow().EncodeInto(protocolRecord);
  const std::vector<uint8_t> expected = OnlyInDestinationRow().Encode();
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), protocolRecord.begin()));
  EXPECT_EQ(protocolRecord[600], 0xAB);
}

// A path is never cut (a cut path names another file), nor split inside a
// UTF-8 character.
TEST(SyncItem, RefusesTextsLongerThanTheirFieldNamingTheField) {
  constexpr auto source = &TSyncItem::source, destination = &TSyncItem::destination;
  constexpr auto sourceTime = &TSyncItem::sourceTimeText, destinationDate = &TSyncItem::destinationDateText;
  const struct {
    const char* field;
    std::string TSyncItem::*member;
    std::string value;
    bool fits;
  } cases[] = {
      {"source", source, std::string(255, 'a'), true},
      {"source", source, std::string(256, 'a'), false},
      {"source", source, std::string(253, 'n') + "ä", true},  // 255 bytes
      {"destination", destination, std::string(254, 'n') + "ä", false},
      {"destination", destination, std::string(252, 'n') + "€", true},
      {"source time text", sourceTime, std::string(8, 'a'), true},
      {"source time text", sourceTime, std::string(9, 'a'), false},
      {"destination date text", destinationDate, std::string(10, 'a'), true},
      {"destination date text", destinationDate, std::string(11, 'a'), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " of " + std::to_string(c.value.size()) + " bytes");
    TSyncItem item;
    item.*c.member = c.value;
    if (c.fits) {
      EXPECT_EQ(TSyncItem::Decode(item.Encode()), item);
      continue;
    }
    try {
      (void)item.Encode();
      ADD_FAILURE() << "a text too long was accepted";
    } catch (const platform::FieldTooLong& e) {
      EXPECT_EQ(e.field(), c.field);
      EXPECT_EQ(e.value(), c.value);
    }
  }
}

TEST(SyncItem, FillsTextsFromDosTimesForTheSidesAsked) {
  TSyncItem item;
  item.sourceTime = kDos20240331;
  item.destinationTime = kDos1980;
  item.sourceTimeText = "stale";
  item.FillTexts(true, true);
  EXPECT_EQ(item.sourceTimeText + " " + item.sourceDateText, "14:05:06 31.03.2024");
  EXPECT_EQ(item.destinationTimeText + " " + item.destinationDateText, "00:00:00 01.01.1980");
  item.FillTexts(false, true);  // only in the destination
  EXPECT_EQ(item.sourceTimeText + item.sourceDateText, "");
  EXPECT_EQ(item.destinationDateText, "01.01.1980");
  item.FillTexts(false, false);  // folder row
  EXPECT_EQ(item.destinationTimeText + item.destinationDateText, "");
  // The field holds seconds / 2, so 29 is 58 seconds.
  EXPECT_EQ(DosTimeText((44u << 25) | (1u << 21) | (2u << 16) | (23u << 11) | (59u << 5) | 29u), "23:59:58");
  EXPECT_EQ(DosDateText((127u << 25) | (12u << 21) | (31u << 16)), "31.12.2107");  // the last year there is

  // An invalid date is an error and leaves the texts alone.
  item.sourceTimeText = "keep";
  item.destinationTime = (44u << 25) | (13u << 21) | (1u << 16);  // month 13
  EXPECT_THROW(item.FillTexts(true, true), std::invalid_argument);
  EXPECT_EQ(item.sourceTimeText, "keep");
  EXPECT_THROW(DosDateText(0), std::invalid_argument);  // month 0, day 0
}

TEST(JobFile, WritesAndReadsRecordsInOrder) {
  TempTree tree;
  TSyncItem onlyInSource{.source = "neu – Übersicht.txt", .sourceSize = 5, .rowIndex = 1, .sourceTime = kDos20240331,
                         .action = kActionCopy, .stateCode = static_cast<uint8_t>(JobStateCode(kStateOnlyInSource)),
                         .direction = static_cast<uint8_t>(JobDirection(kFlagSourceToDestination))};
  onlyInSource.FillTexts(true, false);
  const std::vector<TSyncItem> items = {FolderRow(), onlyInSource, OnlyInDestinationRow()};

  WriteJobFile(tree.Win("job.tmp"), items);

  EXPECT_EQ(ReadJobFile(tree.Win("job.tmp")), items);
  const std::vector<test::JobRecord> records = test::DecodeJobFile(tree.Posix("job.tmp"));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1].source, "neu – Übersicht.txt");
  EXPECT_EQ(records[1].sourceTimeText, "14:05:06");
  EXPECT_EQ(records[2].destination, "Bericht.docx");
  for (const test::JobRecord& r : records) EXPECT_TRUE(r.zeroFilled) << r.source << r.destination;

  WriteJobFile(tree.Win("job.tmp"), {});  // an empty list empties the file
  EXPECT_TRUE(tree.Exists("job.tmp"));
  EXPECT_EQ(tree.Read("job.tmp"), "");
  EXPECT_TRUE(ReadJobFile(tree.Win("job.tmp")).empty());
}

TEST(JobFile, ARefusedRecordLeavesTheFileUntouched) {
  TempTree tree;
  tree.Write("job.tmp", "");
  TSyncItem tooLong = FolderRow();
  tooLong.source = "C:\\" + std::string(300, 'd') + "\\";
  JobFileWriter writer(tree.Win("job.tmp"));
  writer.Add(FolderRow());
  EXPECT_THROW(writer.Add(tooLong), platform::FieldTooLong);
  EXPECT_EQ(writer.Count(), 1u);
  EXPECT_EQ(tree.Read("job.tmp"), "");
  EXPECT_THROW(WriteJobFile(tree.Win("job.tmp"), std::vector<TSyncItem>{FolderRow(), tooLong}),
               platform::FieldTooLong);
  EXPECT_EQ(tree.Read("job.tmp"), "");
}

// The message of a JobFileError thrown by fn, "" when nothing was thrown.
template <typename Fn>
std::string JobFileErrorOf(Fn fn) {
  try {
    fn();
  } catch (const JobFileError& e) {
    return e.what();
  }
  return "";
}

TEST(JobFile, ShortMissingOrUnwritableFilesAreErrorsNamingTheFile) {
  TempTree tree;
  WriteJobFile(tree.Win("whole.tmp"), std::vector<TSyncItem>{FolderRow(), OnlyInDestinationRow()});
  const std::vector<uint8_t> bytes = test::ReadBytes(tree.Posix("whole.tmp"));
  for (size_t cut : {1u, 17u, 599u}) {
    test::WriteBytes(tree.Posix("short.tmp"), std::vector<uint8_t>(bytes.begin(), bytes.end() - cut));
    const std::string error = JobFileErrorOf([&] { (void)ReadJobFile(tree.Win("short.tmp")); });
    EXPECT_NE(error.find(tree.Win("short.tmp")), std::string::npos) << "cut " << cut << ": " << error;
  }
  const std::string missing = JobFileErrorOf([&] { (void)ReadJobFile(tree.Win("missing.tmp")); });
  EXPECT_NE(missing.find(tree.Win("missing.tmp")), std::string::npos) << missing;
  const std::string target = tree.Win("no such folder/job.tmp");
  const std::string unwritable = JobFileErrorOf([&] { WriteJobFile(target, std::vector<TSyncItem>{FolderRow()}); });
  EXPECT_NE(unwritable.find(target), std::string::npos) << unwritable;
}

}  // namespace
}  // namespace kv
