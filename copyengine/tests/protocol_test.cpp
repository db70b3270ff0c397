#include "copyengine/protocol.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "testsupport/fixtures.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

using test::ReadBytes;
using test::TempTree;
using test::WriteBytes;

constexpr size_t kRec = 864;

// One record from the layout table: name at 0 and 256, state code at 550,
// status at 600, message at 601.
std::vector<uint8_t> GoldenRecord(const std::string& name, uint8_t stateCode, uint8_t status, const std::string& message) {
  std::vector<uint8_t> b(kRec, 0);
  auto text = [&](size_t at, const std::string& s) {
    b[at] = static_cast<uint8_t>(s.size());
    std::copy(s.begin(), s.end(), b.begin() + static_cast<ptrdiff_t>(at + 1));
  };
  text(0, name);
  text(256, name);
  b[550] = stateCode;
  b[600] = status;
  text(601, message);
  return b;
}

TPtkItem Record(const std::string& name, uint8_t stateCode, uint8_t status, const std::string& message) {
  TSyncItem item;
  item.source = name;
  item.destination = name;
  item.stateCode = stateCode;
  return TPtkItem(item, status, message);
}

std::vector<uint8_t> Concat(const std::vector<std::vector<uint8_t>>& parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t index) {
  return std::vector<uint8_t>(bytes.begin() + static_cast<ptrdiff_t>(index * kRec),
                              bytes.begin() + static_cast<ptrdiff_t>((index + 1) * kRec));
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

TEST(PtkNameTest, CountsDigitsThenCapitalLettersWithCarry) {
  struct Case {
    const char* from;
    const char* to;
  };
  for (const Case& c : std::vector<Case>{{"00000", "00001"},
                                         {"00009", "0000A"},
                                         {"0000Z", "00010"},
                                         {"000ZZ", "00100"},
                                         {"0ZZZZ", "10000"},
                                         {"A0Z9Z", "A0ZA0"},
                                         {"ZZZZZ", "00000"}}) {
    EXPECT_EQ(NextPtkName(c.from), c.to) << c.from;
  }
}

TEST(PtkNameTest, FollowsBase36Counting) {
  for (uint32_t n = 0; n < 36 * 36 * 36 + 40; ++n) {
    ASSERT_EQ(NextPtkName(Base36(n)), Base36(n + 1)) << n;
  }
}

TEST(PtkNameTest, RefusesWhatIsNoProtocolName) {
  for (const char* bad : {"", "0000", "000000", "0000a", "0000-", "..\\xx", "ÄÖÜ00"}) {
    EXPECT_FALSE(IsPtkName(bad)) << bad;
    EXPECT_THROW(NextPtkName(bad), std::invalid_argument) << bad;
  }
  EXPECT_TRUE(IsPtkName("0AZ9Z"));
}

// --- Records in the file ------------------------------------------------------------

TEST_F(ProtocolTest, AppendedRecordsAreTheLayoutsBytesInOrder) {
  tree_.Mkdir("AUTOptk");
  ProtocolStream p = ProtocolStream::Create(Ptk());
  EXPECT_EQ(p.Append(Record("a.txt", 3, kPtkDone, "Die Datei wurde kopiert.")), 0u);
  EXPECT_EQ(p.Append(Record("b.txt", 2, kPtkError, "Die Datei/en konnte/n nicht gelöscht werden!")), kRec);
  EXPECT_EQ(p.RecordCount(), 2u);
  p.Close();

  EXPECT_EQ(ReadBytes(tree_.Posix("AUTOptk/00000.ptk")),
            Concat({GoldenRecord("a.txt", 3, 1, "Die Datei wurde kopiert."),
                    GoldenRecord("b.txt", 2, 2, "Die Datei/en konnte/n nicht gelöscht werden!")}));
}

TEST_F(ProtocolTest, OpenForAppendContinuesAtTheEnd) {
  const std::vector<uint8_t> first = GoldenRecord("Laufwerk", 10, 2, "Mindestens ein Laufwerk ist nicht verfügbar!");
  WriteBytes(tree_.Posix("p.ptk"), first);

  ProtocolStream p = ProtocolStream::OpenForAppend(tree_.Win("p.ptk"));
  EXPECT_EQ(p.RecordCount(), 1u);
  EXPECT_EQ(p.Append(Record("c.txt", 1, kPtkDone, "ok")), kRec);
  p.Close();
  EXPECT_EQ(ReadBytes(tree_.Posix("p.ptk")), Concat({first, GoldenRecord("c.txt", 1, 1, "ok")}));
}

TEST_F(ProtocolTest, RewriteKeepsSizeAndPositionAndTheItem) {
  // The folder record carries bytes that no decoder keeps (item padding).
  std::vector<uint8_t> folder = GoldenRecord("C:\\Quelle\\Alt\\", 9, 1, "Der / die Ordner wurden gelöscht.");
  folder[545] = 0x77;
  const std::vector<uint8_t> file = GoldenRecord("x.bin", 2, 1, "Die Datei/en wurde/n gelöscht.");
  WriteBytes(tree_.Posix("p.ptk"), Concat({file, folder, file}));

  ProtocolStream p = ProtocolStream::OpenForAppend(tree_.Win("p.ptk"));
  p.Rewrite(kRec, kPtkError, "Der / die Ordner konnten nicht gelöscht werden! Directory not empty");
  EXPECT_EQ(p.Size(), 3 * kRec);
  EXPECT_EQ(p.Append(Record("y.bin", 2, kPtkDone, "")), 3 * kRec) << "appending continues at the end";
  p.Close();

  const std::vector<uint8_t> after = ReadBytes(tree_.Posix("p.ptk"));
  ASSERT_EQ(after.size(), 4 * kRec);
  std::vector<uint8_t> expectedFolder = GoldenRecord("C:\\Quelle\\Alt\\", 9, 2,
                                                     "Der / die Ordner konnten nicht gelöscht werden! Directory not empty");
  expectedFolder[545] = 0x77;
  EXPECT_EQ(Slice(after, 0), file);
  EXPECT_EQ(Slice(after, 1), expectedFolder);
  EXPECT_EQ(Slice(after, 2), file);
}

TEST_F(ProtocolTest, RewriteOutsideTheRecordsIsRefused) {
  const std::vector<uint8_t> file = GoldenRecord("x.bin", 2, 1, "m");
  WriteBytes(tree_.Posix("p.ptk"), Concat({file, file}));
  ProtocolStream p = ProtocolStream::OpenForAppend(tree_.Win("p.ptk"));
  for (uint64_t position : {uint64_t{1}, uint64_t{kRec + 600}, uint64_t{2 * kRec}, uint64_t{100 * kRec}}) {
    EXPECT_THROW(p.Rewrite(position, kPtkError, "x"), std::out_of_range) << position;
  }
  p.Close();
  EXPECT_EQ(ReadBytes(tree_.Posix("p.ptk")), Concat({file, file}));
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

  const std::vector<uint8_t> bytes = ReadBytes(tree_.Posix("AUTOptk/00000.ptk"));
  ASSERT_EQ(bytes.size(), 3 * kRec);
  const std::vector<uint8_t> last = Slice(bytes, 2);
  EXPECT_EQ(last[600], 255);
  EXPECT_EQ(std::string(last.begin() + 1, last.begin() + 1 + last[0]), "00:00:12");
  EXPECT_EQ(std::string(last.begin() + 257, last.begin() + 257 + last[256]), "2,00 MB");
  EXPECT_EQ(last[528] | last[529] << 8 | last[530] << 16 | last[531] << 24, 0) << "status 3 is no error for the flag";
  EXPECT_EQ(std::string(last.begin() + 561, last.begin() + 561 + last[560]), "00:00:03");
  EXPECT_EQ(std::string(last.begin() + 570, last.begin() + 570 + last[569]), "00:00:09");

  const ProtocolContents contents = ReadProtocolFile(Ptk());
  ASSERT_EQ(contents.records.size(), 2u);
  EXPECT_EQ(contents.records[1].item.source, "b.txt");
  EXPECT_EQ(contents.records[1].status, kPtkCopyErrorPartialTarget);
  EXPECT_EQ(contents.records[1].message, "Teilkopie");
  ASSERT_TRUE(contents.trailer.has_value());
  EXPECT_EQ(*contents.trailer, trailer);
}

TEST_F(ProtocolTest, ErrorFlagCountsStatusTwoOnly) {
  struct Case {
    std::vector<uint8_t> statuses;
    bool error;
  };
  const std::vector<Case> cases = {
      {{}, false},
      {{1, 0, 3}, false},
      {{1, 1, 2}, true},
      {{2}, true},
      {{1, 255}, false},  // a trailer ends the scan
  };
  int n = 0;
  for (const Case& c : cases) {
    std::vector<std::vector<uint8_t>> records;
    for (uint8_t s : c.statuses) records.push_back(GoldenRecord("f", 3, s, ""));
    const std::string rel = "e" + std::to_string(n++) + ".ptk";
    WriteBytes(tree_.Posix(rel), Concat(records));
    ProtocolStream p = ProtocolStream::OpenForReading(tree_.Win(rel));
    EXPECT_EQ(p.HasErrorRecord(), c.error) << rel;
  }
  // More records than one read takes, the error in the last one.
  std::vector<std::vector<uint8_t>> many(300, GoldenRecord("f", 3, 1, ""));
  many.push_back(GoldenRecord("f", 3, 2, ""));
  WriteBytes(tree_.Posix("many.ptk"), Concat(many));
  EXPECT_TRUE(ProtocolStream::OpenForReading(tree_.Win("many.ptk")).HasErrorRecord());
}

TEST_F(ProtocolTest, ShortOrGarbledFilesGiveAClearErrorAndNoRecords) {
  const std::vector<uint8_t> record = GoldenRecord("a", 3, 1, "m");
  const std::vector<uint8_t> trailer = TPtkTrailer::ForRunWithoutCopy().Encode();
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* says;
  };
  std::vector<uint8_t> torn = record;
  torn.resize(kRec + 100, 0x41);
  const std::vector<Case> cases = {
      {"short.ptk", std::vector<uint8_t>(100, 0x41), "kein Vielfaches von 864"},
      {"torn.ptk", torn, "kein Vielfaches von 864"},
      {"early.ptk", Concat({record, trailer, record}), "Abschlusssatz ist Satz 2 von 3"},
  };
  for (const Case& c : cases) {
    WriteBytes(tree_.Posix(c.name), c.bytes);
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

  try {
    ReadProtocolFile(tree_.Win("fehlt.ptk"));
    ADD_FAILURE() << "a missing file was read";
  } catch (const ProtocolError& e) {
    EXPECT_NE(std::string(e.what()).find("fehlt.ptk"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos) << e.what();
  }
}

TEST_F(ProtocolTest, AppendToProtocolFileByPath) {
  WriteBytes(tree_.Posix("p.ptk"), {});
  const std::vector<TPtkItem> moved = {
      TPtkItem::SchedulerRecord("C:\\a\\x.txt", "C:\\b\\x.txt", kPtkDone, "Die Datei wurde verschoben"),
      TPtkItem::SchedulerRecord("C:\\a\\y.txt", "C:\\b\\y.txt", kPtkDone, "Die Datei wurde verschoben"),
  };
  EXPECT_TRUE(AppendToProtocolFile(tree_.Win("p.ptk"), moved));
  EXPECT_FALSE(AppendToProtocolFile(tree_.Win("fehlt.ptk"), moved));
  EXPECT_FALSE(tree_.Exists("fehlt.ptk")) << "a missing protocol is not created";
  EXPECT_EQ(ReadProtocolFile(tree_.Win("p.ptk")).records, moved);
}

TEST_F(ProtocolTest, CloseAndDeleteRemovesAProtocolOfOneRecord) {
  ProtocolStream p = ProtocolStream::Create(tree_.Win("one.ptk"));
  p.Append(Record("a", 10, 0, ""));
  p.CloseAndDelete();
  EXPECT_FALSE(tree_.Exists("one.ptk"));
}

// A full disk while a record is written: the record is refused and the file
// keeps whole records.
TEST_F(ProtocolTest, FailedAppendThrowsAndLeavesWholeRecords) {
  const std::string path = tree_.Win("full.ptk");
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const struct rlimit rl = {2 * kRec + 100, 2 * kRec + 100};
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0) _exit(100);
    try {
      ProtocolStream p = ProtocolStream::Create(path);
      p.Append(Record("a", 3, 1, ""));
      p.Append(Record("b", 3, 1, ""));
      try {
        p.Append(Record("c", 3, 1, ""));
        _exit(1);
      } catch (const ProtocolError& e) {
        if (std::string(e.what()).find("full.ptk") == std::string::npos) _exit(2);
      }
      if (p.Size() != 2 * kRec) _exit(3);
      p.Close();
    } catch (...) {
      _exit(4);
    }
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadBytes(tree_.Posix("full.ptk")),
            Concat({GoldenRecord("a", 3, 1, ""), GoldenRecord("b", 3, 1, "")}));
}

// --- Rotation and last.vrl ------------------------------------------------------------

class RotationTest : public ProtocolTest {
 protected:
  std::string Folder() const { return tree_.WinFolder("AUTOptk"); }
  void WriteIndex(const std::string& text) const { tree_.Write("AUTOptk/last.vrl", text); }
  void WriteProtocol(const std::string& name) const { tree_.Write("AUTOptk/" + name + ".ptk", "alt"); }
};

TEST_F(RotationTest, DropsTheOldestAndCountsOn) {
  WriteIndex("[PTKs]\r\n00000=\r\n00001=\r\n00002=\r\n[LastProcess]\r\nDate=123\r\n");
  for (const char* n : {"00000", "00001", "00002"}) WriteProtocol(n);

  NewProtocol created = CreateNextProtocol(Folder(), 3);
  ASSERT_TRUE(created.stream.has_value()) << created.error;
  EXPECT_EQ(created.path, Folder() + "00003.ptk");
  created.stream->Close();

  EXPECT_FALSE(tree_.Exists("AUTOptk/00000.ptk"));
  EXPECT_TRUE(tree_.Exists("AUTOptk/00001.ptk"));
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

  NewProtocol second = CreateNextProtocol(Folder(), 1000);
  ASSERT_TRUE(second.stream.has_value()) << second.error;
  EXPECT_EQ(second.path, Folder() + "00001.ptk");
  EXPECT_EQ(ReadBytes(tree_.Posix("AUTOptk/00000.ptk")).size(), kRec) << "the first protocol is kept";
  EXPECT_EQ(ReadPtkNames(Folder()), (std::vector<std::string>{"00000", "00001"}));
}

TEST_F(RotationTest, CounterWrapsAndReplacesAStaleFile) {
  WriteIndex("[PTKs]\r\nZZZZZ=\r\n");
  WriteProtocol("00000");  // not listed any more
  NewProtocol created = CreateNextProtocol(Folder(), 10);
  ASSERT_TRUE(created.stream.has_value()) << created.error;
  EXPECT_EQ(created.path, Folder() + "00000.ptk");
  created.stream->Close();
  EXPECT_EQ(tree_.Read("AUTOptk/00000.ptk"), "") << "created afresh";
  EXPECT_EQ(ReadPtkNames(Folder()), (std::vector<std::string>{"ZZZZZ", "00000"}));
}

TEST_F(RotationTest, LimitsBelowOneKeepOnlyTheNewProtocol) {
  for (int32_t maxPtk : {1, 0, -5}) {
    WriteIndex("[PTKs]\r\n00004=\r\n00005=\r\n");
    WriteProtocol("00004");
    WriteProtocol("00005");
    NewProtocol created = CreateNextProtocol(Folder(), maxPtk);
    ASSERT_TRUE(created.stream.has_value()) << created.error;
    created.stream->Close();
    EXPECT_EQ(created.path, Folder() + "00000.ptk") << maxPtk;
    EXPECT_FALSE(tree_.Exists("AUTOptk/00004.ptk")) << maxPtk;
    EXPECT_FALSE(tree_.Exists("AUTOptk/00005.ptk")) << maxPtk;
    EXPECT_EQ(ReadPtkNames(Folder()), (std::vector<std::string>{"00000"})) << maxPtk << ": no stale names";
  }
}

TEST_F(RotationTest, KeysThatNameNoProtocolDeleteNothing) {
  tree_.Write("victim.ptk", "wichtig");
  tree_.Write("AUTOptk/0000a.ptk", "klein");
  WriteIndex("[PTKs]\r\n..\\victim=\r\n0000a=\r\n00007=\r\n");
  WriteProtocol("00007");
  NewProtocol created = CreateNextProtocol(Folder(), 1);
  ASSERT_TRUE(created.stream.has_value()) << created.error;
  created.stream->Close();
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

// DOS date-time of a local calendar time, from the bit layout.
uint32_t DosOf(int year, int month, int day, int hour, int minute, int second) {
  return static_cast<uint32_t>((year - 1980) << 25 | month << 21 | day << 16 | hour << 11 | minute << 5 | second / 2);
}

TEST_F(RotationTest, LastProcessDateRoundTrip) {
  test::ScopedEnv tz("TZ", "Europe/Berlin");
  struct Case {
    time_t utc;         // the protocol's last write
    uint32_t dos;       // its local time in Berlin
    const char* text;   // as the index holds it
  };
  // 15.07.2024 10:20:31 UTC = 12:20:30 summer time (seconds truncated to even);
  // 01.02.2050 00:00:00 UTC = 01:00:00 local: bit 31 set, written signed.
  const uint32_t summer = DosOf(2024, 7, 15, 12, 20, 30);
  const uint32_t late = DosOf(2050, 2, 1, 1, 0, 0);
  const std::string lateText = std::to_string(static_cast<int64_t>(late) - (int64_t{1} << 32));
  const std::vector<Case> cases = {{1721038831, summer, nullptr}, {2527286400, late, lateText.c_str()}};
  for (const Case& c : cases) {
    tree_.Write("AUTOptk/00000.ptk", "");
    tree_.SetMTime("AUTOptk/00000.ptk", c.utc);
    WriteLastProcessDate(Folder(), tree_.Win("AUTOptk/00000.ptk"));
    EXPECT_EQ(ReadLastProcessDate(Folder()), c.dos);
    const std::string expected = "Date=" + (c.text ? std::string(c.text) : std::to_string(c.dos));
    EXPECT_NE(tree_.Read("AUTOptk/last.vrl").find("[LastProcess]"), std::string::npos);
    EXPECT_NE(tree_.Read("AUTOptk/last.vrl").find(expected), std::string::npos) << tree_.Read("AUTOptk/last.vrl");
  }
  EXPECT_THROW(WriteLastProcessDate(Folder(), tree_.Win("AUTOptk/fehlt.ptk")), ProtocolError);
}

TEST_F(RotationTest, UnreadableLastProcessDates) {
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
