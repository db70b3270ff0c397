#include "copyengine/protocol.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "copyengine/tests/engine_fixture.h"
#include "testsupport/fixtures.h"
#include "testsupport/goldenrecords.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::ReadBytes;
using test::TempTree;
using test::WriteBytes;
using Bytes = std::vector<uint8_t>;

constexpr size_t kRec = test::kProtocolRecordSize;

// One record from the layout table: name at 0 and 256, state code at 550,
// status at 600, message at 601.
Bytes Golden(const std::string& name, uint8_t stateCode, uint8_t status, const std::string& message) {
  return test::GoldenRecord(kRec).Text(0, name).Text(256, name).Byte(550, stateCode).Byte(600, status).Text(601, message).bytes();
}

TPtkItem Record(const std::string& name, uint8_t stateCode, uint8_t status, const std::string& message) {
  TSyncItem item;
  item.source = name;
  item.destination = name;
  item.stateCode = stateCode;
  return TPtkItem(item, status, message);
}

Bytes Concat(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Base-36 text of n with five digits, the counter's names written down on
// their own.
std::string Base36(uint32_t n) {
  static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string s(5, '0');
  for (int i = 4; i >= 0; --i, n /= 36) s[static_cast<size_t>(i)] = kDigits[n % 36];
  return s;
}

class ProtocolTest : public ::testing::Test {
 protected:
  std::string Ptk(const std::string& rel = "AUTOptk/00000.ptk") const { return tree_.Win(rel); }

  test::ScopedRegistry registry_;
  TempTree tree_;
};

// --- The name counter -------------------------------------------------------------

TEST(PtkNameTest, CountsInBase36WithCapitalLettersAndRefusesOtherNames) {
  for (uint32_t n = 0; n < 36 * 36 * 36 + 40; ++n) ASSERT_EQ(NextPtkName(Base36(n)), Base36(n + 1)) << n;
  EXPECT_EQ(NextPtkName("A0Z9Z"), "A0ZA0");
  EXPECT_EQ(NextPtkName("ZZZZZ"), "00000");
  EXPECT_TRUE(IsPtkName("0AZ9Z"));
  for (const char* bad : {"", "0000", "000000", "0000a", "0000-", "..\\xx", "ÄÖÜ00"}) {
    EXPECT_FALSE(IsPtkName(bad)) << bad;
    EXPECT_THROW(NextPtkName(bad), std::invalid_argument) << bad;
  }
}

// --- Records in the file ------------------------------------------------------------

TEST_F(ProtocolTest, AppendedRecordsAreTheLayoutsBytesInOrderAlsoAfterReopening) {
  tree_.Mkdir("AUTOptk");
  ProtocolStream p = ProtocolStream::Create(Ptk());
  EXPECT_EQ(p.Append(Record("a.txt", 3, kPtkDone, "Die Datei wurde kopiert.")), 0u);
  EXPECT_EQ(p.Append(Record("b.txt", 2, kPtkError, "Die Datei/en konnte/n nicht gelöscht werden!")), kRec);
  EXPECT_EQ(p.RecordCount(), 2u);
  p.Close();

  ProtocolStream again = ProtocolStream::OpenForAppend(Ptk());
  EXPECT_EQ(again.RecordCount(), 2u);
  EXPECT_EQ(again.Append(Record("c.txt", 1, kPtkDone, "ok")), 2 * kRec);
  again.Close();
  EXPECT_EQ(ReadBytes(tree_.Posix("AUTOptk/00000.ptk")),
            Concat({Golden("a.txt", 3, 1, "Die Datei wurde kopiert."),
                    Golden("b.txt", 2, 2, "Die Datei/en konnte/n nicht gelöscht werden!"), Golden("c.txt", 1, 1, "ok")}));
}

TEST_F(ProtocolTest, RewriteKeepsSizePositionAndTheItemAndRefusesPlacesOutsideTheRecords) {
  // The folder record carries bytes that no decoder keeps (item padding).
  Bytes folder = Golden("C:\\Quelle\\Alt\\", 9, 1, "Der / die Ordner wurden gelöscht.");
  folder[545] = 0x77;
  const Bytes file = Golden("x.bin", 2, 1, "Die Datei/en wurde/n gelöscht.");
  WriteBytes(tree_.Posix("p.ptk"), Concat({file, folder, file}));

  ProtocolStream p = ProtocolStream::OpenForAppend(tree_.Win("p.ptk"));
  const std::string failed = "Der / die Ordner konnten nicht gelöscht werden! Directory not empty";
  p.Rewrite(kRec, kPtkError, failed);
  for (uint64_t position : {uint64_t{1}, uint64_t{kRec + 600}, uint64_t{3 * kRec}, uint64_t{100 * kRec}}) {
    EXPECT_THROW(p.Rewrite(position, kPtkError, "x"), std::out_of_range) << position;
  }
  EXPECT_EQ(p.Size(), 3 * kRec);
  EXPECT_EQ(p.Append(Record("y.bin", 2, kPtkDone, "")), 3 * kRec) << "appending continues at the end";
  p.Close();

  Bytes expectedFolder = Golden("C:\\Quelle\\Alt\\", 9, 2, failed);
  expectedFolder[545] = 0x77;
  EXPECT_EQ(ReadBytes(tree_.Posix("p.ptk")), Concat({file, expectedFolder, file, Golden("y.bin", 2, 1, "")}));
}

TEST_F(ProtocolTest, TrailerClosesTheFileAndReadsBack) {
  tree_.Mkdir("AUTOptk");
  ProtocolStream p = ProtocolStream::Create(Ptk());
  p.Append(Record("a.txt", 3, kPtkDone, "kopiert"));
  p.Append(Record("b.txt", 3, kPtkCopyErrorPartialTarget, "Teilkopie"));
  TPtkTrailer trailer;
  trailer.elapsedText = "00:00:12";
  trailer.sizeText = "2,00 MB";
  trailer.errorFlag = p.HasErrorRecord() ? 1 : 0;
  trailer.analyseTime = "00:00:03";
  trailer.copyTime = "00:00:09";
  EXPECT_EQ(p.AppendTrailer(trailer), 2 * kRec);
  p.Close();

  const test::DecodedPtk decoded = test::DecodePtk(tree_.Posix("AUTOptk/00000.ptk"));
  EXPECT_TRUE(decoded.wellFormed);
  EXPECT_EQ(decoded.records.size(), 2u);
  ASSERT_TRUE(decoded.trailer);
  const test::PtkTrailerFields& t = *decoded.trailer;
  EXPECT_EQ(t.elapsed + " " + t.size + " " + t.analyseTime + " " + t.copyTime, "00:00:12 2,00 MB 00:00:03 00:00:09");
  EXPECT_EQ(t.errorFlag, 0) << "status 3 is no error for the flag";

  const ProtocolContents contents = ReadProtocolFile(Ptk());
  ASSERT_EQ(contents.records.size(), 2u);
  EXPECT_EQ(contents.records[1], Record("b.txt", 3, kPtkCopyErrorPartialTarget, "Teilkopie"));
  EXPECT_EQ(contents.trailer, trailer);
}

TEST_F(ProtocolTest, ErrorFlagCountsStatusTwoOnly) {
  std::vector<uint8_t> many(300, 1);  // more records than one read takes, the error in the last
  many.push_back(2);
  const std::vector<std::pair<std::vector<uint8_t>, bool>> cases = {
      {{}, false}, {{1, 0, 3}, false}, {{1, 1, 2}, true}, {{2}, true}, {{1, 255}, false} /* a trailer ends the scan */,
      {many, true}};
  for (const auto& [statuses, error] : cases) {
    Bytes records;
    for (uint8_t s : statuses) records = Concat({records, Golden("f", 3, s, "")});
    WriteBytes(tree_.Posix("e.ptk"), records);
    EXPECT_EQ(ProtocolStream::OpenForReading(tree_.Win("e.ptk")).HasErrorRecord(), error) << statuses.size();
  }
}

TEST_F(ProtocolTest, ShortOrGarbledFilesGiveAClearErrorAndNoRecords) {
  const Bytes record = Golden("a", 3, 1, "m");
  Bytes torn = record;
  torn.resize(kRec + 100, 0x41);
  struct Case {
    const char* name;
    Bytes bytes;  // empty: no file
    const char* says;
  };
  const Case cases[] = {
      {"short.ptk", Bytes(100, 0x41), "kein Vielfaches von 864"},
      {"torn.ptk", torn, "kein Vielfaches von 864"},
      {"early.ptk", Concat({record, TPtkTrailer::ForRunWithoutCopy().Encode(), record}), "Abschlusssatz ist Satz 2 von 3"},
      {"fehlt.ptk", {}, "No such file"},
  };
  for (const Case& c : cases) {
    if (!c.bytes.empty()) WriteBytes(tree_.Posix(c.name), c.bytes);
    try {
      ReadProtocolFile(tree_.Win(c.name));
      ADD_FAILURE() << c.name << " was read";
    } catch (const ProtocolError& e) {
      EXPECT_NE(std::string(e.what()).find(c.name), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
  }
  // Nothing is appended behind a torn record, and the file stays as it was.
  EXPECT_THROW(ProtocolStream::OpenForAppend(tree_.Win("torn.ptk")), ProtocolError);
  const TPtkItem one = Record("b", 1, 1, "");
  EXPECT_FALSE(AppendToProtocolFile(tree_.Win("torn.ptk"), std::span<const TPtkItem>(&one, 1)));
  EXPECT_EQ(ReadBytes(tree_.Posix("torn.ptk")), torn);
}

TEST_F(ProtocolTest, AppendToProtocolFileByPathNeverCreatesOne) {
  WriteBytes(tree_.Posix("p.ptk"), {});
  const std::vector<TPtkItem> moved = {
      TPtkItem::SchedulerRecord("C:\\a\\x.txt", "C:\\b\\x.txt", kPtkDone, "Die Datei wurde verschoben"),
      TPtkItem::SchedulerRecord("C:\\a\\y.txt", "C:\\b\\y.txt", kPtkDone, "Die Datei wurde verschoben"),
  };
  EXPECT_TRUE(AppendToProtocolFile(tree_.Win("p.ptk"), moved));
  EXPECT_FALSE(AppendToProtocolFile(tree_.Win("fehlt.ptk"), moved));
  EXPECT_FALSE(tree_.Exists("fehlt.ptk"));
  EXPECT_EQ(ReadProtocolFile(tree_.Win("p.ptk")).records, moved);

  ProtocolStream p = ProtocolStream::Create(tree_.Win("one.ptk"));
  p.Append(Record("a", 10, 0, ""));
  p.CloseAndDelete();
  EXPECT_FALSE(tree_.Exists("one.ptk"));
}

// A full disk while a record is written: the record is refused and the file
// keeps whole records.
TEST_F(ProtocolTest, FailedAppendThrowsAndLeavesWholeRecords) {
  const std::string path = tree_.Win("full.ptk");
  const int rc = test::RunWithFileSizeLimit(2 * kRec + 100, [&] {
    ProtocolStream p = ProtocolStream::Create(path);
    p.Append(Record("a", 3, 1, ""));
    p.Append(Record("b", 3, 1, ""));
    try {
      p.Append(Record("c", 3, 1, ""));
      return 1;
    } catch (const ProtocolError& e) {
      if (std::string(e.what()).find("full.ptk") == std::string::npos) return 2;
    }
    if (p.Size() != 2 * kRec) return 3;
    p.Close();
    return 0;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(ReadBytes(tree_.Posix("full.ptk")), Concat({Golden("a", 3, 1, ""), Golden("b", 3, 1, "")}));
}

// --- Rotation and last.vrl ------------------------------------------------------------

class RotationTest : public ProtocolTest {
 protected:
  std::string Folder() const { return tree_.WinFolder("AUTOptk"); }
  void WriteIndex(const std::string& text) const { tree_.Write("AUTOptk/last.vrl", text); }
  void WriteProtocols(std::initializer_list<const char*> names) const {
    for (const char* name : names) tree_.Write("AUTOptk/" + std::string(name) + ".ptk", "alt");
  }
  // The next protocol's name, its stream closed.
  std::string Next(int32_t maxPtk) const {
    NewProtocol created = CreateNextProtocol(Folder(), maxPtk);
    EXPECT_TRUE(created.stream.has_value()) << created.error;
    if (created.stream) created.stream->Close();
    return created.path.substr(Folder().size());
  }
};

TEST_F(RotationTest, DropsTheOldestAndCountsOn) {
  WriteIndex("[PTKs]\r\n00000=\r\n00001=\r\n00002=\r\n[LastProcess]\r\nDate=123\r\n");
  WriteProtocols({"00000", "00001", "00002"});
  EXPECT_EQ(Next(3), "00003.ptk");
  EXPECT_FALSE(tree_.Exists("AUTOptk/00000.ptk"));
  EXPECT_TRUE(tree_.Exists("AUTOptk/00002.ptk"));
  EXPECT_EQ(tree_.Read("AUTOptk/00003.ptk"), "");
  EXPECT_EQ(ReadPtkNames(Folder()), (std::vector<std::string>{"00001", "00002", "00003"}));
  EXPECT_EQ(ReadLastProcessDate(Folder()), 123u) << "the other section is left alone";
}

TEST_F(RotationTest, FirstRunsOfAProfile) {
  // The folder does not exist yet; the first name is listed all the same, so
  // that the second run does not reuse it.
  NewProtocol first = CreateNextProtocol(Folder(), 1000);
  ASSERT_TRUE(first.stream.has_value()) << first.error;
  EXPECT_EQ(first.path, Folder() + "00000.ptk");
  first.stream->Append(Record("a", 10, 2, "Mindestens ein Laufwerk ist nicht verfügbar!"));
  first.stream->Close();
  EXPECT_EQ(Next(1000), "00001.ptk");
  EXPECT_EQ(ReadBytes(tree_.Posix("AUTOptk/00000.ptk")).size(), kRec) << "the first protocol is kept";
  EXPECT_EQ(ReadPtkNames(Folder()), (std::vector<std::string>{"00000", "00001"}));
}

TEST_F(RotationTest, CounterWrapsAndReplacesAStaleFile) {
  WriteIndex("[PTKs]\r\nZZZZZ=\r\n");
  WriteProtocols({"00000"});  // not listed any more
  EXPECT_EQ(Next(10), "00000.ptk");
  EXPECT_EQ(tree_.Read("AUTOptk/00000.ptk"), "") << "created afresh";
  EXPECT_EQ(ReadPtkNames(Folder()), (std::vector<std::string>{"ZZZZZ", "00000"}));
}

TEST_F(RotationTest, LimitsBelowOneKeepOnlyTheNewProtocolAndKeysOfNoProtocolDeleteNothing) {
  for (int32_t maxPtk : {1, 0, -5}) {
    WriteIndex("[PTKs]\r\n00004=\r\n00005=\r\n");
    WriteProtocols({"00004", "00005"});
    EXPECT_EQ(Next(maxPtk), "00000.ptk") << maxPtk;
    EXPECT_FALSE(tree_.Exists("AUTOptk/00004.ptk")) << maxPtk;
    EXPECT_FALSE(tree_.Exists("AUTOptk/00005.ptk")) << maxPtk;
    EXPECT_EQ(ReadPtkNames(Folder()), (std::vector<std::string>{"00000"})) << maxPtk << ": no stale names";
  }

  tree_.Write("victim.ptk", "wichtig");
  tree_.Write("AUTOptk/0000a.ptk", "klein");
  WriteIndex("[PTKs]\r\n..\\victim=\r\n0000a=\r\n00007=\r\n");
  WriteProtocols({"00007"});
  Next(1);
  EXPECT_EQ(tree_.Read("victim.ptk"), "wichtig");
  EXPECT_EQ(tree_.Read("AUTOptk/0000a.ptk"), "klein");
  EXPECT_FALSE(tree_.Exists("AUTOptk/00007.ptk"));
  EXPECT_EQ(ReadPtkNames(Folder()), (std::vector<std::string>{"00000"}));
}

TEST_F(RotationTest, NoProtocolWhenTheFolderCannotBeMade) {
  tree_.Write("AUTOptk", "eine Datei, kein Ordner");
  NewProtocol created = CreateNextProtocol(Folder(), 10);
  EXPECT_FALSE(created.stream.has_value());
  EXPECT_NE(created.error.find("AUTOptk"), std::string::npos) << created.error;
  EXPECT_EQ(tree_.Read("AUTOptk"), "eine Datei, kein Ordner");
}

TEST_F(RotationTest, LastProcessDateRoundTripAndUnreadableDates) {
  test::ScopedEnv tz("TZ", "Europe/Berlin");
  // 15.07.2024 10:20:31 UTC = 12:20:30 summer time (seconds truncated to even);
  // 01.02.2050 00:00:00 UTC = 01:00:00 local: bit 31 set, written signed.
  const uint32_t summer = test::DosOf(2024, 7, 15, 12, 20, 30);
  const uint32_t late = test::DosOf(2050, 2, 1, 1, 0, 0);
  const std::pair<time_t, uint32_t> cases[] = {{1721038831, summer}, {2527286400, late}};
  for (const auto& [utc, dos] : cases) {
    tree_.Write("AUTOptk/00000.ptk", "");
    tree_.SetMTime("AUTOptk/00000.ptk", utc);
    WriteLastProcessDate(Folder(), tree_.Win("AUTOptk/00000.ptk"));
    EXPECT_EQ(ReadLastProcessDate(Folder()), dos);
    const std::string index = tree_.Read("AUTOptk/last.vrl");
    EXPECT_NE(index.find("[LastProcess]"), std::string::npos) << index;
    EXPECT_NE(index.find("Date=" + std::to_string(static_cast<int32_t>(dos))), std::string::npos) << index;
  }
  EXPECT_THROW(WriteLastProcessDate(Folder(), tree_.Win("AUTOptk/fehlt.ptk")), ProtocolError);

  std::remove(tree_.Posix("AUTOptk/last.vrl").c_str());
  EXPECT_EQ(ReadLastProcessDate(Folder()), std::nullopt) << "no index";
  for (const char* text : {"", "abc", "99999999999", "-2147483649"}) {
    WriteIndex(std::string("[LastProcess]\r\nDate=") + text + "\r\n");
    EXPECT_EQ(ReadLastProcessDate(Folder()), std::nullopt) << text;
  }
  WriteIndex("[LastProcess]\r\nDate=4294967295\r\n");
  EXPECT_EQ(ReadLastProcessDate(Folder()), 0xFFFFFFFFu) << "an unsigned writer is understood";
}

}  // namespace
}  // namespace kv
