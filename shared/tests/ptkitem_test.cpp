#include "shared/ptkitem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/record.h"

namespace kv {
namespace {

// Golden protocol bytes, put together from the offset table on their own.
class Golden {
 public:
  Golden() : b_(864, 0) {}
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
  std::vector<uint8_t>& mutable_bytes() { return b_; }

 private:
  std::vector<uint8_t> b_;
};

// A file copied from source to destination, as the engine records it.
TPtkItem CopiedFileRecord() {
  TSyncItem item;
  item.source = "Bericht.docx";
  item.destination = "Bericht.docx";
  item.sourceSize = 0x0102030405LL;
  item.rowIndex = 42;
  item.sourceTime = 0x58A37000u;
  item.action = 1;
  item.stateCode = 2;
  item.direction = 1;
  item.sourceTimeText = "14:00:00";
  item.sourceDateText = "03.05.2024";
  return TPtkItem(item, kPtkDone, "Die Datei wurde kopiert.");
}

Golden CopiedFileGolden() {
  Golden g;
  g.Text(0, "Bericht.docx")
      .Text(256, "Bericht.docx")
      .Le(512, 0x0102030405LL, 8)
      .Le(528, 42, 4)
      .Le(532, 0x58A37000u, 4)
      .Byte(549, 1)
      .Byte(550, 2)
      .Byte(551, 1)
      .Text(560, "14:00:00")
      .Text(578, "03.05.2024")
      .Byte(600, 1)
      .Text(601, "Die Datei wurde kopiert.");
  return g;
}

TEST(PtkItemTest, EncodesAtTheLayoutOffsetsAndDecodesBack) {
  const TPtkItem record = CopiedFileRecord();
  EXPECT_EQ(record.Encode(), CopiedFileGolden().bytes());
  EXPECT_EQ(TPtkItem::Decode(CopiedFileGolden().bytes()), record);
}

TEST(PtkItemTest, DecodeIgnoresReservedBytesAndRefusesOtherSizes) {
  Golden g = CopiedFileGolden();
  for (size_t i = 857; i < 864; ++i) g.Byte(i, 0xEE);  // whatever a record buffer held
  EXPECT_EQ(TPtkItem::Decode(g.bytes()), CopiedFileRecord());

  for (size_t size : {0u, 600u, 863u, 865u}) {
    std::vector<uint8_t> bytes(size, 0);
    EXPECT_THROW(TPtkItem::Decode(bytes), std::invalid_argument) << size;
  }
}

TEST(PtkItemTest, SchedulerRecordIsZeroExceptTextsStateCodeStatusAndMessage) {
  const TPtkItem record =
      TPtkItem::SchedulerRecord("C:\\Daten\\", "\\\\srv\\backup\\", kPtkError, "Mindestens ein Laufwerk ist nicht verfügbar!");
  Golden g;
  g.Text(0, "C:\\Daten\\")
      .Text(256, "\\\\srv\\backup\\")
      .Byte(550, 10)
      .Byte(600, 2)
      .Text(601, "Mindestens ein Laufwerk ist nicht verfügbar!");
  EXPECT_EQ(record.Encode(), g.bytes());
}

TEST(PtkItemTest, MessageIsCutAtAWholeCharacterButPathsAreRefused) {
  struct Case {
    std::string message;
    std::string stored;
  };
  const std::string a254(254, 'a');
  const std::vector<Case> cases = {
      {std::string(255, 'x'), std::string(255, 'x')},
      {std::string(300, 'x'), std::string(255, 'x')},
      {a254 + "ä", a254},          // "ä" is two bytes: 256 would not fit
      {a254 + "b" + "ä", a254 + "b"},
      {std::string(252, 'a') + "€", std::string(252, 'a') + "€"},  // exactly 255 bytes
  };
  for (const Case& c : cases) {
    TPtkItem record;
    record.message = c.message;
    const std::vector<uint8_t> bytes = record.Encode();
    ASSERT_EQ(bytes[601], c.stored.size());
    EXPECT_EQ(std::string(bytes.begin() + 602, bytes.begin() + 602 + bytes[601]), c.stored);
    for (size_t i = 602 + c.stored.size(); i < 864; ++i) ASSERT_EQ(bytes[i], 0) << i;
  }

  TPtkItem longPath;
  longPath.item.destination = "C:\\" + std::string(253, 'p');  // 256 bytes
  EXPECT_THROW(longPath.Encode(), platform::FieldTooLong);
  std::vector<uint8_t> untouched(864, 0x55);
  EXPECT_THROW(longPath.EncodeInto(untouched), platform::FieldTooLong);
  EXPECT_EQ(untouched, std::vector<uint8_t>(864, 0x55)) << "a refused record leaves the buffer alone";
}

TEST(PtkItemTest, SetStatusAndMessageChangesOnlyThoseFields) {
  Golden g = CopiedFileGolden();
  g.Text(601, std::string(200, 'L'));  // a long message before
  // Bytes a foreign writer left undefined: item padding and reserved bytes.
  for (size_t i = 540; i < 548; ++i) g.Byte(i, 0xA5);
  for (size_t i = 857; i < 864; ++i) g.Byte(i, 0x5A);
  std::vector<uint8_t> record = g.bytes();

  SetStatusAndMessage(record, kPtkError, "Der / die Ordner konnten nicht gelöscht werden!");

  Golden expected = g;
  std::vector<uint8_t>& e = expected.mutable_bytes();
  std::fill(e.begin() + 601, e.begin() + 857, 0);
  expected.Byte(600, 2).Text(601, "Der / die Ordner konnten nicht gelöscht werden!");
  EXPECT_EQ(record, expected.bytes());
  EXPECT_EQ(RecordStatus(record), kPtkError);

  std::vector<uint8_t> shortRecord(600, 0);
  EXPECT_THROW(SetStatusAndMessage(shortRecord, 1, "x"), std::invalid_argument);
  EXPECT_THROW(RecordStatus(shortRecord), std::invalid_argument);
}

TEST(PtkTrailerTest, EncodesItsFieldsOverTheItemLayout) {
  TPtkTrailer trailer;
  trailer.elapsedText = "00:01:05";
  trailer.sizeText = "1,13 KB";
  trailer.errorFlag = 1;
  trailer.analyseTime = "00:00:07";
  trailer.copyTime = "00:01:02";
  Golden g;
  g.Text(0, "00:01:05").Text(256, "1,13 KB").Le(528, 1, 4).Text(560, "00:00:07").Text(569, "00:01:02").Byte(600, 255);
  EXPECT_EQ(trailer.Encode(), g.bytes());
  EXPECT_EQ(TPtkTrailer::Decode(g.bytes()), trailer);

  // Readers that decode every record as an item see the totals in the item's
  // fields of the same offsets.
  const TPtkItem asItem = TPtkItem::Decode(g.bytes());
  EXPECT_TRUE(asItem.IsTrailer());
  EXPECT_EQ(asItem.item.source, "00:01:05");
  EXPECT_EQ(asItem.item.destination, "1,13 KB");
  EXPECT_EQ(asItem.item.rowIndex, 1);
  EXPECT_EQ(asItem.item.sourceTimeText, "00:00:07");
  EXPECT_EQ(asItem.item.destinationTimeText, "00:01:02");
  EXPECT_EQ(asItem.message, "");
}

TEST(PtkTrailerTest, AnalysisTimeKeepsItsFirstEightCharacters) {
  struct Case {
    std::string given;
    std::string kept;
  };
  for (const Case& c : std::vector<Case>{{"123:45:67", "123:45:6"},
                                         {"00:00:07", "00:00:07"},
                                         {"0000000ä", "0000000"},  // no half character
                                         {"", ""}}) {
    TPtkTrailer trailer;
    trailer.analyseTime = c.given;
    trailer.copyTime = c.given;
    const TPtkTrailer back = TPtkTrailer::Decode(trailer.Encode());
    EXPECT_EQ(back.analyseTime, c.kept) << c.given;
    EXPECT_EQ(back.copyTime, c.kept) << c.given;
  }
}

TEST(PtkTrailerTest, TrailerOfARunWithoutCopy) {
  Golden g;
  g.Text(0, "0").Text(256, "0").Le(528, 1, 4).Byte(600, 255);
  EXPECT_EQ(TPtkTrailer::ForRunWithoutCopy().Encode(), g.bytes());
}

TEST(PtkTrailerTest, DecodeRefusesOrdinaryRecordsAndWrongSizes) {
  EXPECT_THROW(TPtkTrailer::Decode(CopiedFileGolden().bytes()), std::invalid_argument);
  std::vector<uint8_t> shortTrailer(600, 0);
  EXPECT_THROW(TPtkTrailer::Decode(shortTrailer), std::invalid_argument);
}

TEST(PtkStatusTest, OnlyPlainErrorsSetTheTrailerFlag) {
  struct Case {
    uint8_t status;
    bool flag;
  };
  for (const Case& c : std::vector<Case>{{0, false}, {1, false}, {2, true}, {3, false}, {255, false}}) {
    EXPECT_EQ(SetsTrailerErrorFlag(c.status), c.flag) << int(c.status);
  }
}

}  // namespace
}  // namespace kv
