// The external log from protocols written byte by byte from the record
// layout, its text built here from the log's rules, and its trace read back
// as an INI file.
#include "copyengine/externallog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/inifile.h"
#include "platform/time.h"
#include "testsupport/fixtures.h"
#include "testsupport/goldenrecords.h"
#include "testsupport/temptree.h"

namespace kv {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;
using test::TempTree;

constexpr const char* kSection = "Protokoll des externen Logfiles";

struct Rec {
  std::string first, second;  // texts at 0 and 256
  uint8_t stateCode = 0, direction = 0, status = 0;
};

std::vector<uint8_t> RecordBytes(const Rec& r) {
  return test::GoldenRecord(test::kProtocolRecordSize)
      .Text(0, r.first)
      .Text(256, r.second)
      .Byte(549, 1)
      .Byte(550, r.stateCode)
      .Byte(551, r.direction)
      .Byte(600, r.status)
      .Text(601, "Meldung")
      .bytes();
}

// The records, then a trailer.
void WriteProtocol(const std::string& posixPath, const std::vector<Rec>& records) {
  std::vector<uint8_t> all;
  for (const Rec& r : records) {
    const std::vector<uint8_t> one = RecordBytes(r);
    all.insert(all.end(), one.begin(), one.end());
  }
  const std::vector<uint8_t> trailer = test::GoldenRecord(test::kProtocolRecordSize).Text(0, "00:00:01").Byte(600, 255).bytes();
  all.insert(all.end(), trailer.begin(), trailer.end());
  test::WriteBytes(posixPath, all);
}

// 7 March 2025, 09:05:59 local time.
const platform::DateTime kNow = platform::DateTimeFromCivil({2025, 3, 7, 9, 5, 59, 0});
constexpr const char* kHeader = "[07.03.2025 09:05]\r\n";

// A protocol with every kind of record the log tells apart.
const std::vector<Rec> kRecords = {
    {"vorher.txt", "vorher.txt", 2, 1, 1},          // before any folder: no folder columns
    {"C:\\Q\\", "Laufwerk fehlt", 10, 0, 2},        // a scheduler record: a folder line
    {"C:\\Q\\", "D:\\Z\\", 10, 0, 0},               // a folder that needed nothing
    {"a.txt", "a-ziel.txt", 3, 1, 1},               // done: each side's own name
    {"b.txt", "b-ziel.txt", 4, 2, 2},               // failed copy from side 2: side 2's name twice
    {"c.txt", "c-ziel.txt", 2, 1, 2},               // failed copy from side 1: side 1's name twice
    {"d.txt", "d.txt", 2, 1, 3},                    // partial target: no line
    {"e.txt", "e.txt", 2, 1, 0},                    // nothing done: no line
    {"C:\\Q\\neu\\", "D:\\Z\\neu\\", 8, 2, 1},      // a folder made: no line, but the new folder
    {"f.txt", "f.txt", 1, 2, 1},
    {"C:\\Q\\alt\\", "D:\\Z\\alt\\", 9, 1, 2},      // a folder that could not go
};

struct LogCase {
  const char* what;
  bool errors, done;
  const char* separator;
  std::vector<std::string> lines;  // "|" stands for the separator
};

std::string WithSeparator(const std::string& line, const std::string& separator) {
  std::string out;
  for (char c : line) out += c == '|' ? separator : std::string(1, c);
  return out;
}

class ExternalLogTest : public ::testing::Test {
 protected:
  TempTree tree;
  test::ScopedEnv tz{"TZ", "Europe/Berlin"};

  std::string Ptk() const { return tree.Posix("AUTOptk/00000.ptk"); }
  ExternalLogSettings Settings(const std::string& rel = "logs/deep/ext.log") const {
    ExternalLogSettings s;
    s.set = true;
    s.path = tree.Win(rel);
    return s;
  }
  void Write(const ExternalLogSettings& settings, const std::string& traceRel = "ExtPtk.log") const {
    WriteExtLog(tree.Win("AUTOptk/00000.ptk"), settings, tree.Win(traceRel), kNow);
  }
  // The trace's values in key order; the keys must count 1..n.
  std::vector<std::string> Trace(const std::string& rel = "ExtPtk.log") const {
    platform::IniFile ini(tree.Win(rel));
    std::vector<std::string> values;
    const std::vector<std::string> keys = ini.ReadSection(kSection);
    for (size_t i = 0; i < keys.size(); ++i) {
      EXPECT_EQ(keys[i], std::to_string(i + 1));
      values.push_back(ini.ReadString(kSection, keys[i], ""));
    }
    return values;
  }
};

TEST_F(ExternalLogTest, LinesFollowStatusOptionsAndSeparator) {
  const LogCase cases[] = {
      {"errors and done actions, TAB", true, true, "\t",
       {"1|vorher.txt|vorher.txt|1|", "2|C:\\Q\\|Laufwerk fehlt|0|", "1|C:\\Q\\a.txt|D:\\Z\\a-ziel.txt|1|",
        "2|C:\\Q\\b-ziel.txt|D:\\Z\\b-ziel.txt|2|", "2|C:\\Q\\c.txt|D:\\Z\\c.txt|1|",
        "1|C:\\Q\\neu\\f.txt|D:\\Z\\neu\\f.txt|2|", "2|C:\\Q\\alt\\|D:\\Z\\alt\\|1|"}},
      {"only done actions, \";\"", false, true, ";",
       {"1|vorher.txt|vorher.txt|1|", "1|C:\\Q\\a.txt|D:\\Z\\a-ziel.txt|1|",
        "1|C:\\Q\\neu\\f.txt|D:\\Z\\neu\\f.txt|2|"}},
      {"only errors, a longer separator", true, false, " ; ",
       {"2|C:\\Q\\|Laufwerk fehlt|0|", "2|C:\\Q\\b-ziel.txt|D:\\Z\\b-ziel.txt|2|", "2|C:\\Q\\c.txt|D:\\Z\\c.txt|1|",
        "2|C:\\Q\\alt\\|D:\\Z\\alt\\|1|"}},
      {"neither: the header alone", false, false, "\t", {}},
  };
  for (const LogCase& c : cases) {
    SCOPED_TRACE(c.what);
    WriteProtocol(Ptk(), kRecords);
    ExternalLogSettings settings = Settings();
    settings.errors = c.errors;
    settings.done = c.done;
    settings.separator = c.separator;
    settings.append = false;
    Write(settings);
    std::string expected = kHeader;
    for (const std::string& line : c.lines) expected += WithSeparator(line, c.separator) + "\r\n";
    EXPECT_EQ(ReadFileText(tree.Posix("logs/deep/ext.log")), expected);
  }
}

TEST_F(ExternalLogTest, AppendKeepsTheOldLinesAndOverwriteReplacesThem) {
  const std::vector<Rec> one = {{"x.txt", "x.txt", 2, 1, 1}};
  WriteProtocol(Ptk(), one);
  const std::string line = "1\tx.txt\tx.txt\t1\t\r\n";
  struct {
    const char* what;
    const char* old;  // nullptr: no log yet
    bool append;
    std::string expected;
  } cases[] = {
      {"appended after the old lines", "alt 1\r\nalt 2\r\n", true, std::string("alt 1\r\nalt 2\r\n") + kHeader + line},
      {"an old last line without its end gets one", "alt\nohne Ende", true,
       std::string("alt\nohne Ende\r\n") + kHeader + line},
      {"no log yet", nullptr, true, std::string(kHeader) + line},
      {"overwritten", "alt 1\r\n", false, std::string(kHeader) + line},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(tree.Posix("logs"));
    if (c.old) tree.Write("logs/deep/ext.log", c.old);
    ExternalLogSettings settings = Settings();
    settings.append = c.append;
    Write(settings);
    EXPECT_EQ(ReadFileText(tree.Posix("logs/deep/ext.log")), c.expected);
    // Nothing is left beside the log.
    EXPECT_EQ(std::distance(fs::directory_iterator(tree.Posix("logs/deep")), fs::directory_iterator()), 1);
  }
}

// The trace is the file an INI writer makes for the same lines, keys 1..n.
TEST_F(ExternalLogTest, TraceIsTheIniFileOfEveryStep) {
  WriteProtocol(Ptk(), {{"C:\\Q\\", "D:\\Z\\", 10, 0, 0}, {"a.txt", "a.txt", 2, 1, 1}, {"b.txt", "b.txt", 2, 1, 2}});
  tree.Write("logs/deep/ext.log", "alt\r\n");
  Write(Settings());
  const std::string ptk = tree.Win("AUTOptk/00000.ptk");
  const std::vector<std::string> expected = {
      "Prozezur aufgerufen",
      "PARAMETER Protokolldatei: " + ptk,
      "PARAMETER Externe Logdatei: " + tree.Win("logs/deep/ext.log"),
      "PARAMETER FeldTrenner: \"\t\"",
      "PARAMETER LogFile schreiben: JA",
      "PARAMETER LogFile überschreiben: NEIN",
      "PARAMETER Fehler schreiben: JA",
      "PARAMETER Ok schreiben: JA",
      "Protokolldatei geöffnet: " + ptk,
      "Alte Einträge wurden gelesen.",
      "Header geschrieben",
      "Ok geschrieben",
      "Fehler geschrieben",
      "Das Protokoll wurde in das externe Protokoll gewandelt. Dieses wir jetzt gespeichert...",
      "Das Ext. Ptk wurde erfolgreich gespeichert und somit geschrieben",
  };
  EXPECT_EQ(Trace(), expected);

  platform::IniFile oracle(tree.Win("oracle.ini"));
  for (size_t i = 0; i < expected.size(); ++i) ASSERT_TRUE(oracle.WriteString(kSection, std::to_string(i + 1), expected[i]));
  EXPECT_EQ(ReadFileText(tree.Posix("ExtPtk.log")), ReadFileText(tree.Posix("oracle.ini")));
}

// Each failure ends the work with its trace line; the old log stays.
TEST_F(ExternalLogTest, FailuresAreTracedAndKeepTheOldLog) {
  struct {
    const char* what;
    std::function<void(TempTree&, ExternalLogSettings&)> prepare;
    std::string lastTrace;  // the start of the trace's last line
  } cases[] = {
      {"no protocol", [](TempTree& t, ExternalLogSettings&) { fs::remove(t.Posix("AUTOptk/00000.ptk")); },
       "Protokolldatei konnte NICHT geöffnet werden: "},
      {"a torn protocol",
       [](TempTree& t, ExternalLogSettings&) { t.Write("AUTOptk/00000.ptk", std::string(1000, 'x')); },
       "Protokolldatei konnte NICHT geöffnet werden: "},
      {"old lines that cannot be read",
       [](TempTree& t, ExternalLogSettings& s) {
         t.Mkdir("logs/folder.log");
         s.path = t.Win("logs/folder.log");
       },
       "Alte Einträge wurden NICHT gelesen."},
      {"a log whose folder cannot be made",
       [](TempTree& t, ExternalLogSettings& s) {
         t.Write("logs/blocker", "a file");
         s.path = t.Win("logs/blocker/ext.log");
         s.append = false;
       },
       "Die StringListe des Ext. Ptk´s konnte nicht gespeichert werden. Fehler: "},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(tree.Posix("logs"));
    tree.Write("logs/deep/ext.log", "alt\r\n");
    WriteProtocol(Ptk(), {{"a.txt", "a.txt", 2, 1, 1}});
    ExternalLogSettings settings = Settings();
    c.prepare(tree, settings);
    Write(settings);
    const std::vector<std::string> trace = Trace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back().rfind(c.lastTrace, 0), 0u) << trace.back();
    EXPECT_EQ(ReadFileText(tree.Posix("logs/deep/ext.log")), "alt\r\n");
  }
}

TEST_F(ExternalLogTest, ATraceThatCannotBeWrittenChangesNothingElse) {
  WriteProtocol(Ptk(), {{"a.txt", "a.txt", 2, 1, 1}});
  Write(Settings(), "missing/folder/ExtPtk.log");
  EXPECT_FALSE(tree.Exists("missing"));
  EXPECT_EQ(ReadFileText(tree.Posix("logs/deep/ext.log")), std::string(kHeader) + "1\ta.txt\ta.txt\t1\t\r\n");
}

// The disk fills up while the new log is written: the old one stays byte
// for byte and nothing is left beside it.
TEST_F(ExternalLogTest, AFullDiskKeepsTheOldLog) {
  std::string old;
  for (int i = 0; i < 4000; ++i) old += "alte Zeile " + std::to_string(i) + "\r\n";
  tree.Write("logs/deep/ext.log", old);
  std::vector<Rec> many(2000, Rec{"eine-recht-lange-datei.txt", "eine-recht-lange-datei.txt", 2, 1, 1});
  WriteProtocol(Ptk(), many);
  const ExternalLogSettings settings = Settings();
  // Room for the protocol and the trace, not for old and new lines together.
  const rlim_t limit = old.size() + 20000;
  const int rc = test::RunWithFileSizeLimit(limit, [&] {
    Write(settings);
    return 0;
  });
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(ReadFileText(tree.Posix("logs/deep/ext.log")), old);
  EXPECT_EQ(std::distance(fs::directory_iterator(tree.Posix("logs/deep")), fs::directory_iterator()), 1);
  const std::vector<std::string> trace = Trace();
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace.back(), "Die StringListe des Ext. Ptk´s konnte nicht gespeichert werden. Fehler: File too large");
}

}  // namespace
}  // namespace kv
