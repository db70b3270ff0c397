#include "shared/syncitem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/record.h"
#include "shared/synccodes.h"
#include "testsupport/fixtures.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::DecodeJobFile;
using test::ReadBytes;
using test::TempTree;
using test::WriteBytes;

// 31.03.2024 14:05:06, put together from the DOS bit layout.
constexpr uint32_t kDos20240331 = (44u << 25) | (3u << 21) | (31u << 16) | (14u << 11) | (5u << 5) | 3u;
// 01.01.1980 00:00:00, the smallest valid value.
constexpr uint32_t kDos1980 = (0u << 25) | (1u << 21) | (1u << 16);

// Golden record bytes, field by field from the layout table.
class Golden {
 public:
  Golden() : b_(600, 0) {}
  Golden& Text(size_t at, const std::string& s) {
    b_[at] = static_cast<uint8_t>(s.size());
    for (size_t i = 0; i < s.size(); ++i) b_[at + 1 + i] = static_cast<uint8_t>(s[i]);
    return *this;
  }
  Golden& Le(size_t at, uint64_t v, int width) {
    for (int i = 0; i < width; ++i) b_[at + i] = static_cast<uint8_t>(v >> (8 * i));
    return *this;
  }
  Golden& Byte(size_t at, uint8_t v) { return Le(at, v, 1); }
  const std::vector<uint8_t>& bytes() const { return b_; }

 private:
  std::vector<uint8_t> b_;
};

// A file that exists only in the destination, as the writer stores it.
TSyncItem OnlyInDestinationRow() {
  TSyncItem item;
  item.destination = "Bericht.docx";
  item.destinationSize = 0x123456789A;
  item.rowIndex = 7;
  item.destinationTime = kDos20240331;
  item.action = kActionDelete;
  item.stateCode = JobStateCode(kStateOnlyInDestination);
  item.direction = JobDirection(kFlagDestinationToSource);
  item.destinationTimeText = "14:05:06";
  item.destinationDateText = "31.03.2024";
  return item;
}

TSyncItem FolderRow() {
  TSyncItem item;
  item.source = "C:\\Daten\\Projekte\\";
  item.destination = "\\\\srv\\backup\\Projekte\\";
  item.rowIndex = 0;
  item.rowKind = 2;
  item.action = kActionCreateFolderIfCopy;
  item.stateCode = JobStateCode(kStateFolderOnBothSides);
  item.direction = JobDirection(kFlagNone);
  return item;
}

TEST(SyncCodes, StateCodesFollowTheTable) {
  const std::pair<int, uint8_t> cases[] = {{0, 1},  {1, 2},  {2, 3},  {3, 4},  {4, 5},  {5, 6},   {6, 7},
                                           {7, 8},  {8, 9},  {10, 10}, {14, 15}, {9, 3},  {11, 3},  {13, 3},
                                           {15, 3}, {-1, 3}, {255, 3}};
  for (auto [state, code] : cases) EXPECT_EQ(JobStateCode(state), code) << "state " << state;
  for (int code = 0; code < 256; ++code) {
    EXPECT_EQ(IsFolderStateCode(static_cast<uint8_t>(code)), code >= 8 && code <= 10) << "code " << code;
  }
}

TEST(SyncCodes, DirectionsAndRowKindsAreRemappedForTheJobFile) {
  const std::pair<int, uint8_t> flags[] = {{0, 2}, {1, 1}, {2, 0}, {3, 0}, {-1, 0}, {255, 0}};
  for (auto [flag, job] : flags) EXPECT_EQ(JobDirection(flag), job) << "flag " << flag;
  for (int b = 0; b < 256; ++b) {
    EXPECT_EQ(FlagFromStrategyDirection(static_cast<uint8_t>(b)), b == 2 ? 0 : 1) << "strategy byte " << b;
  }
  const std::pair<int, uint8_t> kinds[] = {{0, 0}, {1, 1}, {2, 2}, {3, 0}, {-1, 0}};
  for (auto [kind, job] : kinds) EXPECT_EQ(JobRowKind(kind), job) << "kind " << kind;
}

TEST(SyncCodes, StrategyPairsServeTheirStates) {
  const int stateOfPair[] = {-1, 8, 7, 1, 0, 2, 3, 4, 5, 6};  // pair 0 serves none
  for (int pair = 1; pair <= 9; ++pair) EXPECT_EQ(StrategyPairForState(stateOfPair[pair]), pair);
  for (int state : {9, 10, 11, 14, -1, 255}) EXPECT_FALSE(StrategyPairForState(state).has_value()) << state;
  for (int pair = 0; pair <= 9; ++pair) EXPECT_EQ(StrategyPairDirectionIsRead(pair), pair >= 5) << pair;
}

TEST(SyncItem, EncodesAndDecodesAtTheLayoutOffsets) {
  TSyncItem extremes;
  extremes.sourceSize = -1;
  extremes.destinationSize = INT64_MAX;
  extremes.rowIndex = -2;
  extremes.sourceTime = 0xFFFFFFFFu;  // years from 2044 on set the top bit
  TSyncItem bothSides;
  bothSides.source = "a.txt";
  bothSides.destination = "A.TXT";
  bothSides.sourceSize = 10;
  bothSides.destinationSize = 12;
  bothSides.sourceTime = kDos20240331;
  bothSides.destinationTime = kDos1980;
  bothSides.rowKind = 0;
  bothSides.action = 1;
  bothSides.stateCode = 6;
  bothSides.direction = 1;
  bothSides.sourceTimeText = "14:05:06";
  bothSides.destinationTimeText = "00:00:00";
  bothSides.sourceDateText = "31.03.2024";
  bothSides.destinationDateText = "01.01.1980";

  struct Case {
    const char* name;
    TSyncItem item;
    Golden golden;
  };
  const Case cases[] = {
      {"only in destination", OnlyInDestinationRow(),
       Golden().Text(256, "Bericht.docx").Le(520, 0x123456789A, 8).Le(528, 7, 4).Le(536, kDos20240331, 4)
           .Byte(549, 2).Byte(550, 1).Byte(551, 2).Text(569, "14:05:06").Text(589, "31.03.2024")},
      {"folder", FolderRow(),
       Golden().Text(0, "C:\\Daten\\Projekte\\").Text(256, "\\\\srv\\backup\\Projekte\\")
           .Byte(548, 2).Byte(549, 4).Byte(550, 10)},
      {"extreme numbers", extremes,
       Golden().Le(512, ~0ull, 8).Le(520, 0x7FFFFFFFFFFFFFFFull, 8).Le(528, 0xFFFFFFFEu, 4)
           .Le(532, 0xFFFFFFFFu, 4)},
      {"both sides", bothSides,
       Golden().Text(0, "a.txt").Text(256, "A.TXT").Le(512, 10, 8).Le(520, 12, 8).Le(532, kDos20240331, 4)
           .Le(536, kDos1980, 4).Byte(549, 1).Byte(550, 6).Byte(551, 1).Text(560, "14:05:06")
           .Text(569, "00:00:00").Text(578, "31.03.2024").Text(589, "01.01.1980")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.item.Encode(), c.golden.bytes()) << c.name;
    EXPECT_EQ(TSyncItem::Decode(c.golden.bytes()), c.item) << c.name;
  }
}

TEST(SyncItem, ClampsLengthBytesToTheirFieldsAndIgnoresReservedBytes) {
  std::vector<uint8_t> bytes(600, 'x');  // every byte garbage, as a foreign writer may leave it
  bytes[0] = 255;
  bytes[256] = 255;
  bytes[560] = 200;  // SS[8] claiming 200 characters
  bytes[569] = 9;
  bytes[578] = 255;
  bytes[589] = 11;
  TSyncItem item = TSyncItem::Decode(bytes);
  EXPECT_EQ(item.source, std::string(255, 'x'));
  EXPECT_EQ(item.destination, std::string(255, 'x'));
  EXPECT_EQ(item.sourceTimeText, std::string(8, 'x'));
  EXPECT_EQ(item.destinationTimeText, std::string(8, 'x'));
  EXPECT_EQ(item.sourceDateText, std::string(10, 'x'));
  EXPECT_EQ(item.destinationDateText, std::string(10, 'x'));
}

TEST(SyncItem, TakesExactRecordsAndEncodesIntoTheHeadOfALargerOne) {
  std::vector<uint8_t> shortRecord(599, 0), longRecord(601, 0), tooSmall(599, 0);
  EXPECT_THROW(TSyncItem::Decode(shortRecord), std::invalid_argument);
  EXPECT_THROW(TSyncItem::Decode(longRecord), std::invalid_argument);
  EXPECT_THROW(FolderRow().EncodeInto(tooSmall), std::invalid_argument);

  std::vector<uint8_t> protocolRecord(864, 0xAB);
  OnlyInDestinationRow().EncodeInto(protocolRecord);
  const std::vector<uint8_t> expected = OnlyInDestinationRow().Encode();
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), protocolRecord.begin()));
  EXPECT_EQ(protocolRecord[600], 0xAB);
}

TEST(SyncItem, RefusesTextsLongerThanTheirFieldNamingTheField) {
  struct Case {
    const char* field;
    void (*set)(TSyncItem&, std::string);
    size_t width;
  };
  const Case cases[] = {
      {"source", [](TSyncItem& i, std::string s) { i.source = std::move(s); }, 255},
      {"destination", [](TSyncItem& i, std::string s) { i.destination = std::move(s); }, 255},
      {"source time text", [](TSyncItem& i, std::string s) { i.sourceTimeText = std::move(s); }, 8},
      {"destination date text", [](TSyncItem& i, std::string s) { i.destinationDateText = std::move(s); }, 10},
  };
  for (const Case& c : cases) {
    TSyncItem fits;
    c.set(fits, std::string(c.width, 'a'));
    EXPECT_EQ(TSyncItem::Decode(fits.Encode()), fits) << c.field;

    TSyncItem tooLong;
    const std::string value(c.width + 1, 'a');
    c.set(tooLong, value);
    try {
      (void)tooLong.Encode();
      ADD_FAILURE() << c.field << ": a text one byte too long was accepted";
    } catch (const platform::FieldTooLong& e) {
      EXPECT_EQ(e.field(), c.field);
      EXPECT_EQ(e.value(), value);
    }
  }
}

TEST(SyncItem, Utf8NamesFillTheFieldButAreNeverSplit) {
  // "ä" is two bytes: 253 ASCII + "ä" = 255 bytes fits exactly.
  TSyncItem fits;
  fits.source = std::string(253, 'n') + "\xC3\xA4";
  EXPECT_EQ(TSyncItem::Decode(fits.Encode()).source, fits.source);

  // 254 ASCII + "ä" = 256 bytes: refused rather than cut inside the character.
  TSyncItem tooLong;
  tooLong.destination = std::string(254, 'n') + "\xC3\xA4";
  EXPECT_THROW((void)tooLong.Encode(), platform::FieldTooLong);

  // A three-byte character at the edge: 252 + "€" = 255 fits.
  TSyncItem euro;
  euro.destination = std::string(252, 'n') + "\xE2\x82\xAC";
  std::vector<uint8_t> bytes = euro.Encode();
  EXPECT_EQ(bytes[256], 255);
  EXPECT_EQ(TSyncItem::Decode(bytes).destination, euro.destination);
}

TEST(SyncItem, FillsTextsFromDosTimesForTheSidesAsked) {
  TSyncItem item;
  item.sourceTime = kDos20240331;
  item.destinationTime = kDos1980;
  item.sourceTimeText = "stale";
  item.FillTexts(true, true);
  EXPECT_EQ(item.sourceTimeText, "14:05:06");
  EXPECT_EQ(item.sourceDateText, "31.03.2024");
  EXPECT_EQ(item.destinationTimeText, "00:00:00");
  EXPECT_EQ(item.destinationDateText, "01.01.1980");
  item.FillTexts(false, true);  // only in the destination
  EXPECT_EQ(item.sourceTimeText + item.sourceDateText, "");
  EXPECT_EQ(item.destinationDateText, "01.01.1980");
  item.FillTexts(false, false);  // folder row
  EXPECT_EQ(item.destinationTimeText + item.destinationDateText, "");
  // The field holds seconds / 2, so 29 is 58 seconds.
  EXPECT_EQ(DosTimeText((44u << 25) | (1u << 21) | (2u << 16) | (23u << 11) | (59u << 5) | 29u), "23:59:58");
}

TEST(SyncItem, AnInvalidDosTimeIsAnErrorAndLeavesTheTextsAlone) {
  TSyncItem item;
  item.sourceTime = kDos20240331;
  item.destinationTime = (44u << 25) | (13u << 21) | (1u << 16);  // month 13
  item.sourceTimeText = "keep";
  EXPECT_THROW(item.FillTexts(true, true), std::invalid_argument);
  EXPECT_EQ(item.sourceTimeText, "keep");
  EXPECT_THROW(DosDateText(0), std::invalid_argument);  // month 0, day 0
}

TEST(JobFile, WritesAndReadsRecordsInOrder) {
  TempTree tree;
  TSyncItem onlyInSource;
  onlyInSource.source = "neu – Übersicht.txt";
  onlyInSource.sourceSize = 5;
  onlyInSource.rowIndex = 1;
  onlyInSource.sourceTime = kDos20240331;
  onlyInSource.action = kActionCopy;
  onlyInSource.stateCode = JobStateCode(kStateOnlyInSource);
  onlyInSource.direction = JobDirection(kFlagSourceToDestination);
  onlyInSource.FillTexts(true, false);
  const std::vector<TSyncItem> items = {FolderRow(), onlyInSource, OnlyInDestinationRow()};

  WriteJobFile(tree.Win("job.tmp"), items);

  EXPECT_EQ(ReadJobFile(tree.Win("job.tmp")), items);
  const std::vector<test::JobRecord> records = DecodeJobFile(tree.Posix("job.tmp"));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[1].source, "neu – Übersicht.txt");
  EXPECT_EQ(records[1].sourceTimeText, "14:05:06");
  EXPECT_EQ(records[2].destination, "Bericht.docx");
  for (const test::JobRecord& r : records) EXPECT_TRUE(r.zeroFilled) << r.source << r.destination;
}

TEST(JobFile, AnEmptyListGivesAnEmptyFile) {
  TempTree tree;
  tree.Write("job.tmp", "old content");
  WriteJobFile(tree.Win("job.tmp"), {});
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
  const std::vector<uint8_t> bytes = ReadBytes(tree.Posix("whole.tmp"));
  for (size_t cut : {1u, 17u, 599u}) {
    WriteBytes(tree.Posix("short.tmp"), std::vector<uint8_t>(bytes.begin(), bytes.end() - cut));
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
