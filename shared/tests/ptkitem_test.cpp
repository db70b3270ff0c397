#include "shared/ptkitem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/record.h"
#include "testsupport/goldenrecords.h"

namespace kv {
namespace {

using test::GoldenRecord;
using test::kProtocolRecordSize;

GoldenRecord Protocol() { return GoldenRecord(kProtocolRecordSize); }

// A file copied from source to destination, as the engine records it.
TPtkItem CopiedFileRecord() {
  const TSyncItem item{.source = "Bericht.docx", .destination = "Bericht.docx", .sourceSize = 0x0102030405LL,
                       .rowIndex = 42, .sourceTime = 0x58A37000u, .action = 1, .stateCode = 2, .direction = 1,
                       .sourceTimeText = "14:00:00", .sourceDateText = "03.05.2024"};
  return TPtkItem(item, kPtkDone, "Die Datei wurde kopiert.");
}

GoldenRecord CopiedFileGolden() {
  GoldenRecord g = Protocol();
  g.Text(0, "Bericht.docx").Text(256, "Bericht.docx").Le(512, 0x0102030405LL, 8).Le(528, 42, 4)
      .Le(532, 0x58A37000u, 4).Byte(549, 1).Byte(550, 2).Byte(551, 1).Text(560, "14:00:00")
      .Text(578, "03.05.2024").Byte(600, 1).Text(601, "Die Datei wurde kopiert.");
  return g;
}

TEST(PtkItemTest, EncodesAtTheLayoutOffsetsAndDecodesBack) {
  EXPECT_EQ(CopiedFileRecord().Encode(), CopiedFileGolden().bytes());
  // The reserved bytes hold whatever a record buffer held: never read.
  EXPECT_EQ(TPtkItem::Decode(CopiedFileGolden().Fill(857, 864, 0xEE).bytes()), CopiedFileRecord());
  const TPtkItem scheduler = TPtkItem::SchedulerRecord("C:\\Daten\\", "\\\\srv\\backup\\", kPtkError,
                                                       "Mindestens ein Laufwerk ist nicht verfügbar!");
  EXPECT_EQ(scheduler.Encode(), Protocol().Text(0, "C:\\Daten\\").Text(256, "\\\\srv\\backup\\").Byte(550, 10)
                                    .Byte(600, 2).Text(601, "Mindestens ein Laufwerk ist nicht verfügbar!").bytes());
  for (size_t size : {0u, 600u, 863u, 865u}) {
    EXPECT_THROW(TPtkItem::Decode(std::vector<uint8_t>(size, 0)), std::invalid_argument) << size;
  }
}

TEST(PtkItemTest, MessageIsCutAtAWholeCharacterButPathsAreRefused) {
  const std::string a254(254, 'a');
  const std::pair<std::string, std::string> cases[] = {
      {std::string(255, 'x'), std::string(255, 'x')},
      {std::string(300, 'x'), std::string(255, 'x')},
      {a254 + "ä", a254},  // "ä" is two bytes: 256 would not fit
      {a254 + "b" + "ä", a254 + "b"},
      {std::string(252, 'a') + "€", std::string(252, 'a') + "€"},  // exactly 255 bytes
  };
  for (const auto& [message, stored] : cases) {
    TPtkItem record;
    record.message = message;
    EXPECT_EQ(record.Encode(), Protocol().Text(601, stored).bytes()) << message.size();
  }

  TPtkItem longPath;
  longPath.item.destination = "C:\\" + std::string(253, 'p');  // 256 bytes
  EXPECT_THROW(longPath.Encode(), platform::FieldTooLong);
  std::vector<uint8_t> untouched(864, 0x55);
  EXPECT_THROW(longPath.EncodeInto(untouched), platform::FieldTooLong);
  EXPECT_EQ(untouched, std::vector<uint8_t>(864, 0x55)) << "a refused record leaves the buffer alone";

  // A record of the system's own about a path never fails for its length:
  // the path is cut at a whole character and marked.
  const std::string folder = "C:\\" + std::string(247, 'f') + "\\";  // 251 bytes: "ä" would end at 253
  const TPtkItem own = TPtkItem::SchedulerRecord(folder + "äOS.vrl", folder, kPtkError, "failed");
  EXPECT_EQ(own.Encode(), Protocol()
                              .Text(0, folder + "...")
                              .Text(256, folder)
                              .Byte(550, 10)
                              .Byte(600, kPtkError)
                              .Text(601, "failed")
                              .bytes());
}

TEST(PtkItemTest, SetStatusAndMessageChangesOnlyThoseFields) {
  // A long message before; bytes a foreign writer left undefined in the
  // item's padding and the reserved range.
  GoldenRecord g = CopiedFileGolden();
  g.Text(601, std::string(200, 'L')).Fill(540, 548, 0xA5).Fill(857, 864, 0x5A);
  std::vector<uint8_t> record = g.bytes();

  SetStatusAndMessage(record, kPtkError, "Der / die Ordner konnten nicht gelöscht werden!");

  EXPECT_EQ(record, g.Fill(601, 857, 0).Byte(600, 2).Text(601, "Der / die Ordner konnten nicht gelöscht werden!").bytes());
  EXPECT_EQ(RecordStatus(record), kPtkError);
  std::vector<uint8_t> shortRecord(600, 0);
  EXPECT_THROW(SetStatusAndMessage(shortRecord, 1, "x"), std::invalid_argument);
  EXPECT_THROW(RecordStatus(shortRecord), std::invalid_argument);
}

TEST(PtkTrailerTest, EncodesItsFieldsOverTheItemLayout) {
  const TPtkTrailer totals{.elapsedText = "00:01:05", .sizeText = "1,13 KB", .errorFlag = 1,
                           .analyseTime = "00:00:07", .copyTime = "00:01:02"};
  const std::vector<uint8_t> golden = Protocol().Text(0, "00:01:05").Text(256, "1,13 KB").Le(528, 1, 4)
                                          .Text(560, "00:00:07").Text(569, "00:01:02").Byte(600, 255).bytes();
  EXPECT_EQ(totals.Encode(), golden);
  EXPECT_EQ(TPtkTrailer::Decode(golden), totals);
  EXPECT_TRUE(TPtkItem::Decode(golden).IsTrailer());  // readers that take every record as an item
  EXPECT_EQ(TPtkTrailer::ForRunWithoutCopy().Encode(),
            Protocol().Text(0, "0").Text(256, "0").Le(528, 1, 4).Byte(600, 255).bytes());

  EXPECT_THROW(TPtkTrailer::Decode(CopiedFileGolden().bytes()), std::invalid_argument);
  EXPECT_THROW(TPtkTrailer::Decode(std::vector<uint8_t>(600, 0)), std::invalid_argument);
}

TEST(PtkTrailerTest, DurationsKeepTheirFirstEightBytesAtAWholeCharacter) {
  const std::pair<std::string, std::string> cases[] = {
      {"123:45:67", "123:45:6"}, {"00:00:07", "00:00:07"}, {"0000000ä", "0000000"}, {"", ""}};
  for (const auto& [given, kept] : cases) {
    TPtkTrailer trailer;
    trailer.analyseTime = trailer.copyTime = given;
    const TPtkTrailer back = TPtkTrailer::Decode(trailer.Encode());
    EXPECT_EQ(back.analyseTime, kept) << given;
    EXPECT_EQ(back.copyTime, kept) << given;
  }
}

TEST(PtkStatusTest, OnlyPlainErrorsSetTheTrailerFlag) {
  for (int status : {0, 1, 2, 3, 255}) EXPECT_EQ(SetsTrailerErrorFlag(status), status == 2) << status;
}

}  // namespace
}  // namespace kv
